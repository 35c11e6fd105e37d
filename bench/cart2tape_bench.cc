// Times cart2tape converting a full cartridge of 254 blocks (three files,
// every block used) to a tape, and tape2cart saving that tape's files onto a
// new cartridge, which they fill to its last sector, against cartinfo
// listing the same cartridge, each run as a whole process, by CPU time
// (user + system), round by round; prints the median and the extremes.
// Usage: cart2tape_bench [ROUNDS [SCRATCH DIRECTORY]]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "process_time.h"

namespace {

using Bytes = std::vector<unsigned char>;

// The Interface 1 checksum: the sum of the bytes modulo 255.
unsigned char if1_checksum(const unsigned char* bytes, size_t count) {
  unsigned sum = 0;
  for (size_t i = 0; i < count; ++i) {
    sum = (sum + bytes[i]) % 255;
  }
  return static_cast<unsigned char>(sum);
}

// One 543-byte block of record `record` of a file, with its checksums.
void put_block(Bytes& image, unsigned number, const char* name, unsigned record, bool last,
               const unsigned char* data, unsigned length) {
  unsigned char block[543] = {};
  block[0] = 0x01;
  block[1] = static_cast<unsigned char>(number);
  std::snprintf(reinterpret_cast<char*>(block + 4), 11, "%-10s", "BENCH");
  block[14] = if1_checksum(block, 14);
  block[15] = static_cast<unsigned char>(0x04 | (last ? 0x02 : 0));
  block[16] = static_cast<unsigned char>(record);
  block[17] = static_cast<unsigned char>(length & 0xFF);
  block[18] = static_cast<unsigned char>(length >> 8);
  char padded[11];
  std::snprintf(padded, sizeof padded, "%-10s", name);
  for (int i = 0; i < 10; ++i) {
    block[19 + i] = static_cast<unsigned char>(padded[i]);
  }
  block[29] = if1_checksum(block + 15, 14);
  for (unsigned i = 0; i < length; ++i) {
    block[30 + i] = data[i];
  }
  block[542] = if1_checksum(block + 30, 512);
  image.insert(image.end(), block, block + sizeof block);
}

// A file of `size` bytes after a code header, in as many blocks as it takes.
void put_file(Bytes& image, unsigned* number, const char* name, unsigned size) {
  Bytes data = {3,
                static_cast<unsigned char>(size & 0xFF),
                static_cast<unsigned char>(size >> 8),
                0x00,
                0x80,
                0xFF,
                0xFF,
                0xFF,
                0xFF};
  uint32_t seed = size;
  for (unsigned i = 0; i < size; ++i) {
    seed = seed * 1103515245u + 12345u;
    data.push_back(static_cast<unsigned char>(seed >> 16));
  }
  for (size_t record = 0; record * 512 < data.size(); ++record) {
    unsigned length = static_cast<unsigned>(std::min<size_t>(512, data.size() - record * 512));
    put_block(image, (*number)--, name, static_cast<unsigned>(record),
              (record + 1) * 512 >= data.size(), data.data() + record * 512, length);
  }
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::atoi(argv[1]) : 21;
  std::string dir = argc > 2 ? argv[2] : "/tmp";
  Bytes image;
  unsigned number = 254;
  put_file(image, &number, "big", 65533);             // 129 blocks, the longest tape block
  put_file(image, &number, "second", 124 * 512 - 9);  // 124 blocks
  put_file(image, &number, "small", 100);             // and one
  std::string mdr = dir + "/bench.mdr";
  std::string tap = dir + "/bench.tap";
  std::string saved = dir + "/bench-saved.mdr";
  std::FILE* f = std::fopen(mdr.c_str(), "wb");
  if (f == nullptr || std::fwrite(image.data(), 1, image.size(), f) != image.size() ||
      std::fclose(f) != 0) {
    std::perror(mdr.c_str());
    return 1;
  }
  std::vector<double> convert, save, list, ratio, save_ratio, start;
  for (int round = 0; round < rounds; ++round) {
    double c = cpu_seconds({CART2TAPE_PATH, mdr, tap}, "/dev/null");
    std::remove(saved.c_str());
    double s = cpu_seconds({TAPE2CART_PATH, tap, saved}, "/dev/null");
    double l = cpu_seconds({CARTINFO_PATH, mdr}, "/dev/null");
    start.push_back(cpu_seconds({TAPE2CART_PATH, "--version"}, "/dev/null") * 1000);
    convert.push_back(c * 1000);
    save.push_back(s * 1000);
    list.push_back(l * 1000);
    ratio.push_back(l > 0 ? c / l : 0);
    save_ratio.push_back(l > 0 ? s / l : 0);
  }
  std::FILE* check = std::fopen(saved.c_str(), "rb");
  bool full = check != nullptr && std::fseek(check, 0, SEEK_END) == 0 &&
              std::ftell(check) == static_cast<long>(image.size() + 1);
  if (check != nullptr) {
    std::fclose(check);
  }
  std::remove(mdr.c_str());
  std::remove(tap.c_str());
  std::remove(saved.c_str());
  if (!full) {
    std::fprintf(stderr, "tape2cart did not save the tape onto a full cartridge\n");
    return 1;
  }
  auto line = [](const char* what, Spread s, const char* unit) {
    std::printf("  %-26s median %7.3f%s  (min %.3f, max %.3f)\n", what, s.median, unit, s.least,
                s.most);
  };
  std::printf("a cartridge of %zu blocks, %d rounds (CPU time of each process):\n",
              image.size() / 543, rounds);
  line("cart2tape to a TAP", spread(convert), " ms");
  line("cartinfo listing it", spread(list), " ms");
  line("cart2tape / cartinfo", spread(ratio), "");
  line("tape2cart of that tape", spread(save), " ms");
  line("tape2cart / cartinfo", spread(save_ratio), "");
  line("start-up alone (--version)", spread(start), " ms");
  return 0;
}
