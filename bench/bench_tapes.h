// Tapes that the benches generate: standard-speed TAPs and TZXs of turbo
// and pure-data blocks, of random data from a fixed seed, so that every run
// measures the same tapes.
#ifndef QUILLKIT_BENCH_TAPES_H
#define QUILLKIT_BENCH_TAPES_H

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace bench_tapes {

using Bytes = std::vector<unsigned char>;

inline uint32_t seed = 12345;
inline unsigned char next_byte() {
  seed = seed * 1103515245u + 12345u;
  return static_cast<unsigned char>(seed >> 16);
}

inline void put16(Bytes& out, uint32_t v) {
  out.push_back(static_cast<unsigned char>(v & 0xFF));
  out.push_back(static_cast<unsigned char>((v >> 8) & 0xFF));
}

inline void put24(Bytes& out, uint32_t v) {
  put16(out, v & 0xFFFF);
  out.push_back(static_cast<unsigned char>(v >> 16));
}

// A flag byte, `size` random bytes and the XOR checksum.
inline Bytes rom_payload(size_t size) {
  Bytes data = {0xFF};
  unsigned char check = 0xFF;
  for (size_t i = 0; i < size; ++i) {
    data.push_back(next_byte());
    check ^= data.back();
  }
  data.push_back(check);
  return data;
}

inline void write_file(const std::string& path, const Bytes& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() ||
      std::fclose(f) != 0) {
    std::perror(path.c_str());
    std::exit(1);
  }
}

// `blocks` standard-speed blocks of `size` bytes (and flag and checksum),
// as the TAP `path`.
inline void write_tap(const std::string& path, int blocks, size_t size) {
  Bytes tape;
  for (int block = 0; block < blocks; ++block) {
    Bytes data = rom_payload(size);
    put16(tape, static_cast<uint32_t>(data.size()));
    tape.insert(tape.end(), data.begin(), data.end());
  }
  write_file(path, tape);
}

// `blocks` blocks of `size` bytes, turbo (0x11) and pure data (0x14) by
// turns, with their own pulse lengths, as the TZX `path`.
inline void write_tzx(const std::string& path, int blocks, size_t size) {
  Bytes tape = {'Z', 'X', 'T', 'a', 'p', 'e', '!', 0x1A, 1, 20};
  for (int block = 0; block < blocks; ++block) {
    Bytes data = rom_payload(size);
    if (block % 2 == 0) {
      tape.push_back(0x11);
      for (uint32_t v : {1800u, 560u, 620u, 600u, 1200u, 4000u}) {
        put16(tape, v);  // pilot, sync 1, sync 2, bit 0, bit 1, pilot pulses
      }
      tape.push_back(8);  // used bits of the last byte
      put16(tape, 100);   // pause in ms
    } else {
      tape.push_back(0x14);
      put16(tape, 520);
      put16(tape, 1040);
      tape.push_back(8);
      put16(tape, 100);
    }
    put24(tape, static_cast<uint32_t>(data.size()));
    tape.insert(tape.end(), data.begin(), data.end());
  }
  write_file(path, tape);
}

}  // namespace bench_tapes

#endif
