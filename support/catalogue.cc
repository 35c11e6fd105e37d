// The Microdrive file catalogue: joins a cartridge's blocks into files.
#include <cstdlib>
#include <cstring>

#include "support.h"

namespace {

testing_seams::CatalogueCalloc catalogue_calloc = std::calloc;

bool is_valid_length(uint16_t length) {
  return length >= 1 && length <= MAX_RECORD_LENGTH;
}

// The first of `count` entries whose name equals `name`, or null.
CatalogueEntry* find_entry(CatalogueEntry* entries, uint64_t count, const unsigned char* name) {
  for (uint64_t i = 0; i < count; ++i) {
    if (std::memcmp(entries[i].name, name, adapter::MDR_NAME_SIZE) == 0) {
      return &entries[i];
    }
  }
  return nullptr;
}

uint16_t read_le16(const unsigned char* bytes) {
  return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

}  // namespace

namespace testing_seams {
void set_catalogue_calloc(CatalogueCalloc allocate) {
  catalogue_calloc = allocate != nullptr ? allocate : std::calloc;
}
}  // namespace testing_seams

int decode_file_header(FileHeader* header, const unsigned char* bytes, uint64_t size) {
  if (header == nullptr || bytes == nullptr || size < FILE_HEADER_SIZE) {
    return 1;
  }
  header->type = bytes[0];
  header->data_length = read_le16(bytes + 1);
  header->param1 = read_le16(bytes + 3);
  header->param2 = read_le16(bytes + 5);
  header->param3 = read_le16(bytes + 7);
  return 0;
}

int catalogue_cartridge_files(libspectrum_microdrive* cartridge, CatalogueEntry** entries,
                              uint64_t* count) {
  if (entries == nullptr || count == nullptr || cartridge == nullptr) {
    return 1;
  }
  *entries = nullptr;
  *count = 0;

  // One slot per block: the most files a cartridge can hold.
  uint64_t blocks = adapter::microdrive_block_count(cartridge);
  auto* found = static_cast<CatalogueEntry*>(
      catalogue_calloc(static_cast<size_t>(blocks), sizeof(CatalogueEntry)));
  *entries = found;
  if (found == nullptr && blocks > 0) {
    return 1;
  }
  if (blocks == 0) {
    return 0;
  }

  // First pass: find the files and size each one's data.
  uint64_t files = 0;
  for (uint64_t b = 0; b < blocks; ++b) {
    adapter::MicrodriveBlock block = adapter::microdrive_block_read(cartridge, b);
    uint8_t flags = block.record_flags;
    uint16_t length = block.record_length;
    if (!is_valid_length(length)) {
      continue;
    }
    const unsigned char* name = block.record_name;
    CatalogueEntry* entry = find_entry(found, files, name);
    if (entry == nullptr) {
      entry = &found[files++];
      std::memcpy(entry->name, name, adapter::MDR_NAME_SIZE);
      entry->flags = flags;
    }
    entry->block_count += 1;
    entry->length += length;
    if (flags & RECORD_FLAG_EOF) {
      entry->has_eof = 1;
    }
    if (libspectrum_microdrive_checksum(cartridge, static_cast<libspectrum_byte>(b)) != 0) {
      entry->checksum_error = 1;
    }
    uint64_t end = block.record_number * uint64_t{512} + length;
    if (entry->data_size < end) {
      entry->data_size = end;
    }
  }
  *count = files;
  if (files == 0) {
    return 0;
  }

  for (uint64_t i = 0; i < files; ++i) {
    found[i].data =
        static_cast<unsigned char*>(catalogue_calloc(static_cast<size_t>(found[i].data_size), 1));
    if (found[i].data == nullptr) {
      release_catalogue(found, files);
      *entries = nullptr;
      *count = 0;
      return 1;
    }
  }

  // Second pass: copy each record to its place in its file.
  for (uint64_t b = 0; b < blocks; ++b) {
    adapter::MicrodriveBlock block = adapter::microdrive_block_read(cartridge, b);
    if (!is_valid_length(block.record_length)) {
      continue;
    }
    CatalogueEntry* entry = find_entry(found, files, block.record_name);
    uint64_t offset = block.record_number * uint64_t{512};
    unsigned char data[adapter::MDR_DATA_SIZE];
    adapter::microdrive_block_read_data(cartridge, b, data);
    std::memcpy(entry->data + offset, data, block.record_length);
  }
  return 0;
}

void release_catalogue(CatalogueEntry* entries, uint64_t count) {
  if (entries == nullptr) {
    return;
  }
  for (uint64_t i = 0; i < count; ++i) {
    std::free(entries[i].data);
  }
  std::free(entries);
}

std::string zx_name_text(const unsigned char* name) {
  char text[ZX_NAME_TEXT_SIZE];
  if (adapter::zx_string_to_utf8(text, sizeof text, name, adapter::MDR_NAME_SIZE) != 0) {
    return "";
  }
  return text;
}

bool find_cartridge_name(libspectrum_microdrive* cartridge,
                         unsigned char name[adapter::MDR_NAME_SIZE]) {
  uint64_t blocks = adapter::microdrive_block_count(cartridge);
  for (uint64_t b = 0; b < blocks; ++b) {
    adapter::MicrodriveBlock block = adapter::microdrive_block_read(cartridge, b);
    if ((block.header_flag & 0x01) == 0) {
      continue;
    }
    int verdict = libspectrum_microdrive_checksum(cartridge, static_cast<libspectrum_byte>(b));
    if (verdict == -1 || verdict == 1) {
      continue;
    }
    std::memcpy(name, block.cartridge_name, adapter::MDR_NAME_SIZE);
    return true;
  }
  return false;
}
