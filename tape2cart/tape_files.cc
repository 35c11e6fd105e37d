// The ROM files of a tape and their Microdrive form; see tape2cart.h.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "little_endian.h"
#include "support.h"
#include "tape2cart.h"

namespace {

constexpr unsigned char HEADER_FLAG = 0x00;
constexpr unsigned char DATA_FLAG = 0xFF;
constexpr size_t HEADER_BLOCK_SIZE = TAPE_HEADER_SIZE + 2;  // with flag and checksum
constexpr uint16_t NO_WORD = 0xFFFF;
// Where a program starts with the Interface 1's variables in place.
constexpr uint16_t PROGRAM_START = 23813;

// What a block holds, as far as files go.
enum class Holds { Nothing, Bytes, PartBytes, Symbols, Pulses };

struct BlockBytes {
  Holds holds;
  const unsigned char* data;  // flag first, checksum last
  size_t length;
};

BlockBytes block_bytes(libspectrum_tape_block* block) {
  switch (libspectrum_tape_block_type(block)) {
    case LIBSPECTRUM_TAPE_BLOCK_ROM:
      break;
    case LIBSPECTRUM_TAPE_BLOCK_TURBO:
    case LIBSPECTRUM_TAPE_BLOCK_PURE_DATA:
    case LIBSPECTRUM_TAPE_BLOCK_DATA_BLOCK:
      if (libspectrum_tape_block_data_length(block) > 0 &&
          libspectrum_tape_block_bits_in_last_byte(block) != 8) {
        return {Holds::PartBytes, nullptr, libspectrum_tape_block_data_length(block)};
      }
      break;
    case LIBSPECTRUM_TAPE_BLOCK_GENERALISED_DATA:
      return {Holds::Symbols, nullptr, 0};
    case LIBSPECTRUM_TAPE_BLOCK_RAW_DATA:
    case LIBSPECTRUM_TAPE_BLOCK_RLE_PULSE:
      return {Holds::Pulses, nullptr, 0};
    default:
      return {Holds::Nothing, nullptr, 0};
  }
  size_t length = libspectrum_tape_block_data_length(block);
  const unsigned char* data = libspectrum_tape_block_data(block);
  if (length == 0 || data == nullptr) {
    return {Holds::Nothing, nullptr, 0};
  }
  return {Holds::Bytes, data, length};
}

bool checksum_right(const BlockBytes& bytes) {
  unsigned char sum = 0;
  for (size_t i = 0; i < bytes.length; ++i) {
    sum ^= bytes.data[i];
  }
  return sum == 0;
}

// The finding of files, block by block.
class FileFinder {
 public:
  explicit FileFinder(const char* path) : path_(path) {}

  void take(size_t number, const BlockBytes& bytes);
  TapeFiles finish();

 private:
  void left_out(size_t number, const std::string& why);
  void drop_header();
  bool header_wants(const BlockBytes& bytes) const;

  const char* path_;
  TapeFiles found_;
  bool pending_ = false;  // a header waits for its data
  size_t header_number_ = 0;
  unsigned char header_[TAPE_HEADER_SIZE] = {};
};

void FileFinder::left_out(size_t number, const std::string& why) {
  std::fprintf(stderr, "%s: `%s' block %zu: ", program_name, path_, number);
  print_visible(stderr, why.c_str());
  std::fprintf(stderr, "; left out\n");
}

void FileFinder::drop_header() {
  if (pending_) {
    left_out(header_number_,
             "the header of \"" + zx_name_text(header_ + 1) + "\", without its data after it");
    pending_ = false;
  }
}

bool FileFinder::header_wants(const BlockBytes& bytes) const {
  return pending_ && bytes.data[0] == DATA_FLAG &&
         bytes.length == size_t{read_le16(header_ + 11)} + 2;
}

void FileFinder::take(size_t number, const BlockBytes& bytes) {
  switch (bytes.holds) {
    case Holds::Nothing:
      return;  // pauses, tones, texts: a file's blocks may have them between
    case Holds::Symbols:
      drop_header();
      left_out(number, "generalised data, which no ROM loader reads");
      return;
    case Holds::Pulses:
      drop_header();
      found_.sampled = true;
      left_out(number, "a sampled recording, which holds pulses, not bytes");
      return;
    case Holds::PartBytes:
      drop_header();
      left_out(number, std::to_string(bytes.length) + " bytes whose last is not whole");
      return;
    case Holds::Bytes:
      break;
  }
  if (header_wants(bytes)) {
    pending_ = false;
    std::string name = zx_name_text(header_ + 1);
    if (!checksum_right(bytes)) {
      found_.bad_checksum = true;
      left_out(number, "the data of \"" + name + "\" (header in block " +
                           std::to_string(header_number_) + "), whose checksum is wrong");
      return;
    }
    TapeFile file{};
    std::memcpy(file.header, header_, sizeof header_);
    file.data.assign(bytes.data + 1, bytes.data + bytes.length - 1);
    file.header_block = header_number_;
    found_.files.push_back(std::move(file));
    return;
  }
  drop_header();
  unsigned char flag = bytes.data[0];
  if (flag == HEADER_FLAG && bytes.length == HEADER_BLOCK_SIZE) {
    if (!checksum_right(bytes)) {
      found_.bad_checksum = true;
      left_out(number, "a header whose checksum is wrong");
    } else if (bytes.data[1] > 3) {
      left_out(number, "a header of type " + std::to_string(bytes.data[1]) +
                           ", which no ROM file has");
    } else {
      pending_ = true;
      header_number_ = number;
      std::memcpy(header_, bytes.data + 1, sizeof header_);
    }
    return;
  }
  char flag_text[8];
  std::snprintf(flag_text, sizeof flag_text, "0x%02X", flag);
  std::string what = flag == DATA_FLAG ? "data without a header" : "a block of flag " +
                                                                       std::string(flag_text);
  left_out(number, what + " (" + std::to_string(bytes.length) + " bytes)");
}

TapeFiles FileFinder::finish() {
  drop_header();
  return std::move(found_);
}

}  // namespace

TapeFiles find_tape_files(libspectrum_tape* tape, const char* path) {
  FileFinder finder(path);
  size_t number = 0;
  libspectrum_tape_iterator it = nullptr;
  for (auto* block = libspectrum_tape_iterator_init(&it, tape); block != nullptr;
       block = libspectrum_tape_iterator_next(&it)) {
    finder.take(++number, block_bytes(block));
  }
  return finder.finish();
}

std::vector<unsigned char> cartridge_file_bytes(const TapeFile& file) {
  const unsigned char* tape = file.header;
  uint16_t param1 = read_le16(tape + 13);
  uint16_t param2 = read_le16(tape + 15);
  std::vector<unsigned char> bytes(FILE_HEADER_SIZE + file.data.size());
  unsigned char* header = bytes.data();
  header[0] = tape[0];
  write_le16(header + 1, read_le16(tape + 11));
  switch (tape[0]) {
    case 0:
      write_le16(header + 3, PROGRAM_START);
      write_le16(header + 5, param2);
      write_le16(header + 7, param1);
      break;
    case 1:
    case 2:
      write_le16(header + 3, 0);
      header[5] = static_cast<unsigned char>(param1 >> 8);
      header[6] = 0xFF;
      write_le16(header + 7, NO_WORD);
      break;
    default:
      write_le16(header + 3, param1);
      write_le16(header + 5, NO_WORD);
      write_le16(header + 7, NO_WORD);
      break;
  }
  std::copy(file.data.begin(), file.data.end(), bytes.begin() + FILE_HEADER_SIZE);
  return bytes;
}
