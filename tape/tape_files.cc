// The ROM files of a tape; see tape_files.h.
#include "tape_files.h"

#include <cstdio>
#include <cstring>

#include "little_endian.h"

namespace {

constexpr unsigned char HEADER_FLAG = 0x00;
constexpr unsigned char DATA_FLAG = 0xFF;
constexpr size_t HEADER_BLOCK_SIZE = TAPE_HEADER_SIZE + 2;  // with flag and checksum
constexpr unsigned char LAST_ROM_TYPE = 3;

// The bytes of a block, flag first and checksum last, and its verdict so
// far: NoBytes, PartBytes, Symbols or Pulses, or OtherFlag for bytes yet
// to be placed.
struct BlockBytes {
  BlockRole role;
  const unsigned char* data;
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
        return {BlockRole::PartBytes, nullptr, libspectrum_tape_block_data_length(block)};
      }
      break;
    case LIBSPECTRUM_TAPE_BLOCK_GENERALISED_DATA:
      return {BlockRole::Symbols, nullptr, 0};
    case LIBSPECTRUM_TAPE_BLOCK_RAW_DATA:
    case LIBSPECTRUM_TAPE_BLOCK_RLE_PULSE:
      return {BlockRole::Pulses, nullptr, 0};
    default:
      return {BlockRole::NoBytes, nullptr, 0};
  }
  size_t length = libspectrum_tape_block_data_length(block);
  const unsigned char* data = libspectrum_tape_block_data(block);
  if (length == 0 || data == nullptr) {
    return {BlockRole::NoBytes, nullptr, 0};
  }
  return {BlockRole::OtherFlag, data, length};
}

bool checksum_right(const BlockBytes& bytes) {
  return rom_checksum_right(bytes.data, bytes.length);
}

// The finding of files, block by block.
class FileFinder {
 public:
  void take(const BlockBytes& bytes);
  TapeFiles finish();

 private:
  bool header_wants(const BlockBytes& bytes) const;
  BlockVerdict& current() { return found_.blocks.back(); }

  TapeFiles found_;
  bool pending_ = false;  // a header waits for its data
  size_t header_number_ = 0;
  unsigned char header_[TAPE_HEADER_SIZE] = {};
};

bool FileFinder::header_wants(const BlockBytes& bytes) const {
  return pending_ && bytes.data[0] == DATA_FLAG &&
         bytes.length == size_t{read_le16(header_ + 11)} + 2;
}

void FileFinder::take(const BlockBytes& bytes) {
  found_.blocks.emplace_back();
  BlockVerdict& verdict = current();
  verdict.role = bytes.role;
  verdict.length = bytes.length;
  size_t number = found_.blocks.size();
  if (bytes.role != BlockRole::OtherFlag) {
    // Pauses, tones and texts may stand between a header and its data;
    // other data may not.
    if (bytes.role != BlockRole::NoBytes) {
      pending_ = false;
    }
    found_.sampled = found_.sampled || bytes.role == BlockRole::Pulses;
    return;
  }
  verdict.flag = bytes.data[0];
  if (header_wants(bytes)) {
    pending_ = false;
    if (!checksum_right(bytes)) {
      found_.bad_checksum = true;
      verdict.role = BlockRole::BadDataChecksum;
      verdict.header_block = header_number_;
      verdict.name = zx_name_text(header_ + 1);
      found_.blocks[header_number_ - 1].role = BlockRole::DamagedFileHeader;
      return;
    }
    TapeFile file{};
    std::memcpy(file.header, header_, sizeof header_);
    file.data.assign(bytes.data + 1, bytes.data + bytes.length - 1);
    file.header_block = header_number_;
    file.data_block = number;
    verdict.role = BlockRole::FileData;
    verdict.file = found_.files.size();
    found_.blocks[header_number_ - 1].role = BlockRole::FileHeader;
    found_.blocks[header_number_ - 1].file = found_.files.size();
    found_.files.push_back(std::move(file));
    return;
  }
  pending_ = false;  // a header waiting for its data stays one without
  if (verdict.flag == HEADER_FLAG && bytes.length == HEADER_BLOCK_SIZE) {
    if (!checksum_right(bytes)) {
      found_.bad_checksum = true;
      verdict.role = BlockRole::BadHeaderChecksum;
    } else if (bytes.data[1] > LAST_ROM_TYPE) {
      verdict.role = BlockRole::UnknownHeaderType;
      verdict.type = bytes.data[1];
    } else {
      pending_ = true;
      header_number_ = number;
      std::memcpy(header_, bytes.data + 1, sizeof header_);
      verdict.role = BlockRole::HeaderWithoutData;
      verdict.name = zx_name_text(header_ + 1);
    }
    return;
  }
  verdict.role = verdict.flag == DATA_FLAG ? BlockRole::Headerless : BlockRole::OtherFlag;
}

TapeFiles FileFinder::finish() {
  return std::move(found_);
}

}  // namespace

bool rom_checksum_right(const unsigned char* bytes, size_t length) {
  unsigned char sum = 0;
  for (size_t i = 0; i < length; ++i) {
    sum ^= bytes[i];
  }
  return sum == 0;
}

TapeFiles find_tape_files(libspectrum_tape* tape) {
  FileFinder finder;
  libspectrum_tape_iterator it = nullptr;
  for (auto* block = libspectrum_tape_iterator_init(&it, tape); block != nullptr;
       block = libspectrum_tape_iterator_next(&it)) {
    finder.take(block_bytes(block));
  }
  return finder.finish();
}

std::string left_out_reason(const BlockVerdict& verdict) {
  std::string bytes = " (" + std::to_string(verdict.length) + " bytes)";
  switch (verdict.role) {
    case BlockRole::NoBytes:
    case BlockRole::FileHeader:
    case BlockRole::FileData:
    case BlockRole::DamagedFileHeader:
      return "";
    case BlockRole::BadHeaderChecksum:
      return "a header whose checksum is wrong";
    case BlockRole::UnknownHeaderType:
      return "a header of type " + std::to_string(verdict.type) + ", which no ROM file has";
    case BlockRole::HeaderWithoutData:
      return "the header of \"" + verdict.name + "\", without its data after it";
    case BlockRole::BadDataChecksum:
      return "the data of \"" + verdict.name + "\" (header in block " +
             std::to_string(verdict.header_block) + "), whose checksum is wrong";
    case BlockRole::Headerless:
      return "data without a header" + bytes;
    case BlockRole::OtherFlag: {
      char flag[8];
      std::snprintf(flag, sizeof flag, "0x%02X", verdict.flag);
      return std::string("a block of flag ") + flag + bytes;
    }
    case BlockRole::PartBytes:
      return std::to_string(verdict.length) + (verdict.length == 1 ? " byte" : " bytes") +
             " whose last is not whole";
    case BlockRole::Symbols:
      return "generalised data, which no ROM loader reads";
    case BlockRole::Pulses:
      return "a sampled recording, which holds pulses, not bytes";
  }
  return "";
}

namespace {

constexpr uint16_t NO_WORD = 0xFFFF;
// Where a program starts with the Interface 1's variables in place.
constexpr uint16_t PROGRAM_START = 23813;

}  // namespace

void microdrive_file_header(const unsigned char* tape_header,
                            unsigned char header[FILE_HEADER_SIZE]) {
  uint16_t param1 = read_le16(tape_header + 13);
  uint16_t param2 = read_le16(tape_header + 15);
  header[0] = tape_header[0];
  write_le16(header + 1, read_le16(tape_header + 11));
  switch (tape_header[0]) {
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
}
