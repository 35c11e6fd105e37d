// The Microdrive block reader: one block of a cartridge as a plain value.
#include <cstring>

#include "cartridge.h"
#include "little_endian.h"

namespace adapter {

namespace {

constexpr size_t HEADER_FLAG = 0;
constexpr size_t BLOCK_NUMBER = 1;
constexpr size_t HEADER_UNUSED = 2;
constexpr size_t CARTRIDGE_NAME = 4;
constexpr size_t HEADER_CHECKSUM = 14;
constexpr size_t RECORD_FLAGS = 15;
constexpr size_t RECORD_NUMBER = 16;
constexpr size_t RECORD_LENGTH = 17;
constexpr size_t RECORD_NAME = 19;
constexpr size_t RECORD_CHECKSUM = 29;
constexpr size_t DATA = 30;
constexpr size_t DATA_CHECKSUM = 542;

}  // namespace

uint64_t microdrive_block_count(const libspectrum_microdrive* cartridge) {
  return libspectrum_microdrive_cartridge_len(cartridge);
}

namespace {

// Copies `size` bytes of block `block` from `offset` on; zeros past the block
// count. libspectrum's cartridge holds room for its largest size; never
// index past it.
void copy_bytes(const libspectrum_microdrive* cartridge, uint64_t block, size_t offset,
                unsigned char* out, size_t size) {
  if (block >= microdrive_block_count(cartridge) || block >= LIBSPECTRUM_MICRODRIVE_BLOCK_MAX) {
    std::memset(out, 0, size);
    return;
  }
  size_t base = static_cast<size_t>(block) * MDR_BLOCK_SIZE + offset;
  for (size_t i = 0; i < size; ++i) {
    out[i] = libspectrum_microdrive_data(cartridge, base + i);
  }
}

}  // namespace

MicrodriveBlock microdrive_block_read(const libspectrum_microdrive* cartridge, uint64_t block) {
  // The block without its data: the 30 bytes before it and the checksum after.
  unsigned char raw[DATA];
  copy_bytes(cartridge, block, 0, raw, sizeof raw);
  MicrodriveBlock value{};
  value.header_flag = raw[HEADER_FLAG];
  value.number = raw[BLOCK_NUMBER];
  value.header_unused = read_le16(raw + HEADER_UNUSED);
  std::memcpy(value.cartridge_name, raw + CARTRIDGE_NAME, MDR_NAME_SIZE);
  value.header_checksum = raw[HEADER_CHECKSUM];
  value.record_flags = raw[RECORD_FLAGS];
  value.record_number = raw[RECORD_NUMBER];
  value.record_length = read_le16(raw + RECORD_LENGTH);
  std::memcpy(value.record_name, raw + RECORD_NAME, MDR_NAME_SIZE);
  value.record_checksum = raw[RECORD_CHECKSUM];
  copy_bytes(cartridge, block, DATA_CHECKSUM, &value.data_checksum, 1);
  return value;
}

void microdrive_block_read_data(const libspectrum_microdrive* cartridge, uint64_t block,
                                unsigned char* data) {
  copy_bytes(cartridge, block, DATA, data, MDR_DATA_SIZE);
}

}  // namespace adapter
