// What cart2tape should write for an MDR image, worked out from the image's
// bytes alone (block layout and checksums as the Interface 1 has them), with
// none of the code under test: the files the cartridge holds, the ROM
// blocks each becomes, and whether the run counts as damaged.
#ifndef QUILLKIT_TESTS_CART2TAPE_MODEL_H
#define QUILLKIT_TESTS_CART2TAPE_MODEL_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "fixtures/mdr_builder.h"

namespace model {

using fixtures::Bytes;

constexpr size_t BLOCK = 543;
constexpr size_t MAX_DATA = 65533;  // a ROM block's length is a 16-bit word

struct File {
  Bytes name;  // 10 raw bytes
  uint8_t flags = 0;
  Bytes data;  // joined in record order, zeros in the gaps
  bool eof = false;
  bool bad_checksum = false;
  bool duplicated = false;  // some record is on the cartridge more than once
  std::map<unsigned, unsigned> records;  // record number -> length of the copy used
  struct Copy {
    Bytes bytes;
    bool good;
  };
  std::map<unsigned, Copy> copies;  // record number -> the copy used
};

inline bool checksum_holds(const uint8_t* bytes, size_t count, uint8_t stored) {
  return fixtures::if1_checksum(bytes, count) == stored;
}

// The files of the image, in order of their first block.
inline std::vector<File> files_of(const Bytes& image) {
  std::vector<File> files;
  for (size_t at = 0; at + BLOCK <= image.size(); at += BLOCK) {
    const uint8_t* b = &image[at];
    auto length = static_cast<unsigned>(b[17] | (b[18] << 8));
    if (length < 1 || length > 512) {
      continue;
    }
    Bytes name(b + 19, b + 29);
    File* file = nullptr;
    for (File& f : files) {
      if (f.name == name) {
        file = &f;
      }
    }
    if (file == nullptr) {
      files.push_back(File{});
      file = &files.back();
      file->name = name;
      file->flags = b[15];
    }
    file->eof = file->eof || (b[15] & 0x02) != 0;
    bool good = checksum_holds(b, 14, b[14]) && checksum_holds(b + 15, 14, b[29]) &&
                checksum_holds(b + 30, 512, b[542]);
    // Of several copies of a record, the first whose checksums pass is used.
    auto known = file->copies.find(b[16]);
    file->duplicated = file->duplicated || known != file->copies.end();
    if (known == file->copies.end() || (!known->second.good && good)) {
      file->copies[b[16]] = File::Copy{Bytes(b + 30, b + 30 + length), good};
      file->records[b[16]] = length;
    }
  }
  for (File& file : files) {
    for (const auto& [number, copy] : file.copies) {
      file.bad_checksum = file.bad_checksum || !copy.good;
      size_t offset = size_t{number} * 512;
      if (file.data.size() < offset + copy.bytes.size()) {
        file.data.resize(offset + copy.bytes.size(), 0);
      }
      std::copy(copy.bytes.begin(), copy.bytes.end(),
                file.data.begin() + static_cast<long>(offset));
    }
  }
  return files;
}

inline unsigned word(const Bytes& bytes, size_t at) {
  return at + 1 < bytes.size() ? static_cast<unsigned>(bytes[at] | (bytes[at + 1] << 8)) : 0;
}

// The data length that the file's 9-byte header gives (0 when it is shorter).
inline unsigned header_length(const File& file) {
  return file.data.size() >= 9 ? word(file.data, 1) : 0;
}

// How many data bytes the tape carries: all, or, beyond what a block holds,
// the header's length (at most MAX_DATA).
inline size_t tape_length(const File& file) {
  size_t size = file.data.size() > 9 ? file.data.size() - 9 : 0;
  if (size <= MAX_DATA) {
    return size;
  }
  return header_length(file) < MAX_DATA ? header_length(file) : MAX_DATA;
}

inline bool is_cut(const File& file) {
  return file.data.size() > 9 + MAX_DATA;
}

inline bool is_damaged(const File& file) {
  return !file.eof || file.bad_checksum || file.duplicated || file.data.size() < 9 ||
         file.data.size() - 9 != header_length(file) || is_cut(file);
}

// Records 0 to n all there, every one but the last full.
inline bool is_whole(const File& file) {
  unsigned expected = 0;
  for (const auto& [number, length] : file.records) {
    if (number != expected++ || (length != 512 && number != file.records.rbegin()->first)) {
      return false;
    }
  }
  return true;
}

inline Bytes rom(uint8_t flag, const Bytes& payload) {
  Bytes block = {flag};
  uint8_t check = flag;
  for (uint8_t b : payload) {
    block.push_back(b);
    check ^= b;
  }
  block.push_back(check);
  return block;
}

// The ROM header block for `file`: type, name, length and the two
// parameters the ROM saves for the type, from its Microdrive header.
inline Bytes header_block(const File& file) {
  Bytes raw(9, 0);
  std::copy(file.data.begin(),
            file.data.begin() + static_cast<long>(std::min<size_t>(9, file.data.size())),
            raw.begin());
  unsigned p1 = word(raw, 3);
  unsigned p2 = word(raw, 5);
  if (raw[0] == 0) {
    p1 = word(raw, 7);
  } else if (raw[0] == 1 || raw[0] == 2) {
    p1 = static_cast<unsigned>(raw[5] << 8);
    p2 = 0x8000;
  } else if (raw[0] == 3) {
    p2 = 0x8000;
  }
  Bytes header = {raw[0]};
  header.insert(header.end(), file.name.begin(), file.name.end());
  for (unsigned w : {word(raw, 1), p1, p2}) {
    header.push_back(static_cast<uint8_t>(w & 0xFF));
    header.push_back(static_cast<uint8_t>(w >> 8));
  }
  return rom(0x00, header);
}

struct Expected {
  std::vector<Bytes> blocks;  // flag to checksum, in order
  size_t files = 0;           // non-PRINT files written
  size_t cut = 0;             // of them, cut to fit a block
  bool damaged = false;       // some file written is damaged or cut
  bool whole = true;          // every file written has all its records
};

inline Expected expected_tape(const Bytes& image) {
  Expected out;
  for (const File& file : files_of(image)) {
    if ((file.flags & 0x04) == 0) {
      continue;
    }
    ++out.files;
    out.blocks.push_back(header_block(file));
    size_t length = tape_length(file);
    out.blocks.push_back(rom(
        0xFF, length > 0
                  ? Bytes(file.data.begin() + 9, file.data.begin() + 9 + static_cast<long>(length))
                  : Bytes()));
    out.cut += is_cut(file) ? 1u : 0u;
    out.damaged = out.damaged || is_damaged(file);
    out.whole = out.whole && is_whole(file);
  }
  return out;
}

}  // namespace model

#endif
