// The cartridge writer; see cartridge_writer.h.
#include "cartridge_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "cartridge.h"
#include "little_endian.h"

namespace {

// Where the fields of a sector lie (see adapter.h).
constexpr size_t HEADER_FLAG = 0;
constexpr size_t SECTOR_NUMBER = 1;
constexpr size_t CARTRIDGE_NAME = 4;
constexpr size_t HEADER_CHECKSUM = 14;
constexpr size_t RECORD = 15;  // flags, number, length, name, checksum
constexpr size_t RECORD_SIZE = 15;
constexpr size_t DATA = 30;

constexpr uint8_t HEADER_BIT = 0x01;

// The 528 bytes from the record descriptor to the data checksum, as one
// sector holds them.
struct SectorRecord {
  unsigned char bytes[adapter::MDR_BLOCK_SIZE - RECORD];
};

void put_bytes(libspectrum_microdrive* cartridge, size_t sector, size_t offset,
               const unsigned char* bytes, size_t size) {
  size_t base = sector * adapter::MDR_BLOCK_SIZE + offset;
  for (size_t i = 0; i < size; ++i) {
    libspectrum_microdrive_set_data(cartridge, base + i, bytes[i]);
  }
}

// A record descriptor and its data, with both checksums: `flags` 0 and no
// bytes make a free sector's.
SectorRecord make_record(uint8_t flags, uint8_t number, const unsigned char* name,
                         const unsigned char* data, size_t length) {
  SectorRecord record{};
  unsigned char* descriptor = record.bytes;
  if (flags != 0) {
    descriptor[0] = flags;
    descriptor[1] = number;
    write_le16(descriptor + 2, static_cast<uint16_t>(length));
    std::memcpy(descriptor + 4, name, adapter::MDR_NAME_SIZE);
  }
  descriptor[RECORD_SIZE - 1] = interface1_checksum(descriptor, RECORD_SIZE - 1);
  unsigned char* payload = record.bytes + (DATA - RECORD);
  if (length > 0) {
    std::memcpy(payload, data, length);
  }
  payload[adapter::MDR_DATA_SIZE] = interface1_checksum(payload, adapter::MDR_DATA_SIZE);
  return record;
}

void put_record(libspectrum_microdrive* cartridge, size_t sector, const SectorRecord& record) {
  put_bytes(cartridge, sector, RECORD, record.bytes, sizeof record.bytes);
}

bool header_found(const adapter::MicrodriveBlock& block, const libspectrum_microdrive* cartridge,
                  size_t sector) {
  unsigned char header[HEADER_CHECKSUM];
  size_t base = sector * adapter::MDR_BLOCK_SIZE;
  for (size_t i = 0; i < sizeof header; ++i) {
    header[i] = libspectrum_microdrive_data(cartridge, base + i);
  }
  return (block.header_flag & HEADER_BIT) != 0 &&
         block.header_checksum == interface1_checksum(header, sizeof header);
}

}  // namespace

uint8_t interface1_checksum(const unsigned char* bytes, size_t size) {
  uint64_t sum = 0;  // no carry is lost: 255 * size stays far below 2^64
  for (size_t i = 0; i < size; ++i) {
    sum += bytes[i];
  }
  return static_cast<uint8_t>(sum % 255);
}

void name_after_file(const char* path, unsigned char name[adapter::MDR_NAME_SIZE]) {
  std::string file = base_name(path);
  size_t dot = file.rfind('.');
  if (dot != std::string::npos && dot > 0) {
    file.erase(dot);
  }
  std::string text;
  for (size_t i = 0; i < file.size() && text.size() < adapter::MDR_NAME_SIZE; ++i) {
    auto byte = static_cast<unsigned char>(file[i]);
    if (byte >= 0x20 && byte <= 0x7E) {
      text += static_cast<char>(byte);
    } else if ((byte & 0xC0) != 0x80) {
      text += '_';  // one for each character, however many bytes it takes
    }
  }
  (void)pad_name(text, name);
}

bool pad_name(const std::string& text, unsigned char name[adapter::MDR_NAME_SIZE]) {
  if (text.size() > adapter::MDR_NAME_SIZE) {
    return false;
  }
  std::memset(name, ' ', adapter::MDR_NAME_SIZE);
  // NOLINTNEXTLINE(bugprone-not-null-terminated-result): a blank-padded field, not a string
  std::memcpy(name, text.data(), text.size());
  return true;
}

void format_cartridge(libspectrum_microdrive* cartridge,
                      const unsigned char name[adapter::MDR_NAME_SIZE], unsigned sectors,
                      bool write_protect) {
  libspectrum_microdrive_set_cartridge_len(cartridge, static_cast<libspectrum_byte>(sectors));
  libspectrum_microdrive_set_write_protect(cartridge, write_protect ? 1 : 0);
  SectorRecord free_record = make_record(0, 0, nullptr, nullptr, 0);
  for (size_t sector = 0; sector < sectors; ++sector) {
    unsigned char header[RECORD] = {};
    header[HEADER_FLAG] = HEADER_BIT;
    header[SECTOR_NUMBER] = static_cast<unsigned char>(sectors - sector);
    std::memcpy(header + CARTRIDGE_NAME, name, adapter::MDR_NAME_SIZE);
    header[HEADER_CHECKSUM] = interface1_checksum(header, HEADER_CHECKSUM);
    put_bytes(cartridge, sector, 0, header, sizeof header);
    put_record(cartridge, sector, free_record);
  }
}

std::vector<size_t> free_sectors(const libspectrum_microdrive* cartridge) {
  uint64_t count = adapter::microdrive_block_count(cartridge);
  // How many headers that the Interface 1 finds carry each sector number:
  // it knows a sector by its number, so a number it meets twice is no
  // sector to write.
  unsigned numbered[256] = {};
  std::vector<adapter::MicrodriveBlock> blocks;
  std::vector<bool> found;
  for (size_t sector = 0; sector < count; ++sector) {
    blocks.push_back(adapter::microdrive_block_read(cartridge, sector));
    found.push_back(header_found(blocks.back(), cartridge, sector));
    if (found.back()) {
      ++numbered[blocks.back().number];
    }
  }
  std::vector<size_t> sectors;
  for (size_t sector = 0; sector < count; ++sector) {
    const adapter::MicrodriveBlock& block = blocks[sector];
    if (found[sector] && block.number >= 1 && block.number <= MAX_CARTRIDGE_SECTORS &&
        numbered[block.number] == 1 && (block.record_flags & RECORD_FLAG_EOF) == 0 &&
        block.record_length == 0) {
      sectors.push_back(sector);
    }
  }
  return sectors;
}

size_t sectors_for(uint64_t size) {
  uint64_t sectors = (size + MAX_RECORD_LENGTH - 1) / MAX_RECORD_LENGTH;
  return sectors == 0 ? 1 : static_cast<size_t>(sectors);
}

int write_cartridge_file(libspectrum_microdrive* cartridge,
                         const unsigned char name[adapter::MDR_NAME_SIZE],
                         const unsigned char* bytes, uint64_t size,
                         const std::vector<size_t>& sectors) {
  // An empty last record would be a preset bad block; a record that does
  // not fit would leave the file cut short.
  size_t records = sectors_for(size);
  uint64_t count = adapter::microdrive_block_count(cartridge);
  if (size == 0 || sectors.size() < records ||
      std::any_of(sectors.begin(), sectors.begin() + static_cast<std::ptrdiff_t>(records),
                  [count](size_t sector) { return sector >= count; })) {
    return 1;
  }
  for (size_t k = 0; k < records; ++k) {
    bool last = k + 1 == records;
    size_t length = last ? static_cast<size_t>(size - k * MAX_RECORD_LENGTH) : MAX_RECORD_LENGTH;
    uint8_t flags = RECORD_FLAG_NON_PRINT | (last ? RECORD_FLAG_EOF : 0);
    put_record(
        cartridge, sectors[k],
        make_record(flags, static_cast<uint8_t>(k), name, bytes + k * MAX_RECORD_LENGTH, length));
  }
  return 0;
}

bool is_preset_bad_block(const adapter::MicrodriveBlock& block) {
  return (block.record_flags & RECORD_FLAG_EOF) != 0 && block.record_length == 0 &&
         block.record_name[0] == 0;
}

std::vector<size_t> blocks_named(const libspectrum_microdrive* cartridge,
                                 const unsigned char name[adapter::MDR_NAME_SIZE]) {
  std::vector<size_t> named;
  uint64_t count = adapter::microdrive_block_count(cartridge);
  for (size_t sector = 0; sector < count; ++sector) {
    adapter::MicrodriveBlock block = adapter::microdrive_block_read(cartridge, sector);
    bool free = (block.record_flags & RECORD_FLAG_EOF) == 0 && block.record_length == 0;
    if (!free && std::memcmp(block.record_name, name, adapter::MDR_NAME_SIZE) == 0) {
      named.push_back(sector);
    }
  }
  return named;
}

size_t free_cartridge_file(libspectrum_microdrive* cartridge,
                           const unsigned char name[adapter::MDR_NAME_SIZE]) {
  SectorRecord free_record = make_record(0, 0, nullptr, nullptr, 0);
  size_t freed = 0;
  for (size_t sector : blocks_named(cartridge, name)) {
    if (!is_preset_bad_block(adapter::microdrive_block_read(cartridge, sector))) {
      put_record(cartridge, sector, free_record);
      ++freed;
    }
  }
  return freed;
}

int save_cartridge_image(const libspectrum_microdrive* cartridge, int folder, const char* name,
                         const char* path, const struct stat* replaced) {
  libspectrum_byte* bytes = nullptr;
  size_t length = 0;
  libspectrum_microdrive_mdr_write(cartridge, &bytes, &length);
  int failed = replace_output_entry(
      folder, name, path, bytes, length,
      replaced != nullptr ? OutputMode::WholeOnly : OutputMode::NewOnly, replaced);
  libspectrum_free(bytes);
  return failed;
}

int save_new_cartridge_image(const libspectrum_microdrive* cartridge, const char* path) {
  libspectrum_byte* bytes = nullptr;
  size_t length = 0;
  libspectrum_microdrive_mdr_write(cartridge, &bytes, &length);
  int failed = create_output_file(path, bytes, length);
  libspectrum_free(bytes);
  return failed;
}
