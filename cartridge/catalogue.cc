// The Microdrive file catalogue: joins a cartridge's blocks into files.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cartridge.h"
#include "catalogue_seam.h"
#include "little_endian.h"

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

// Releases what a failed catalogue holds; returns its failure.
int give_up(CatalogueEntry** entries, uint64_t* count) {
  release_catalogue(*entries, *count);
  *entries = nullptr;
  *count = 0;
  return 1;
}

// Of a record's copies, the first of the highest rank is used: one with
// data before an empty end-of-file block, which holds nothing of the file,
// and among those one whose checksums pass before one that fails.
int copy_rank(uint8_t good, uint16_t length) {
  return (length > 0 ? 2 : 0) + good;
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

bool is_screen_header(const FileHeader& header) {
  return header.type == 3 && header.data_length == 6912 && header.param1 == 16384;
}

const char* file_extension(const FileHeader& header) {
  switch (header.type) {
    case 0:
      return ".bas";
    case 1:
      return ".nar";
    case 2:
      return ".car";
    case 3:
      return is_screen_header(header) ? ".scr" : ".bin";
    default:
      return ".bin";
  }
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

  // First pass: find the files, count their blocks and size them as every
  // block joined in cartridge order would.
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
    if (entry->listed_size < end) {
      entry->listed_size = end;
    }
  }
  *count = files;
  if (files == 0) {
    return 0;
  }

  for (uint64_t i = 0; i < files; ++i) {
    found[i].records =
        static_cast<CatalogueRecord*>(catalogue_calloc(MAX_RECORDS, sizeof(CatalogueRecord)));
    if (found[i].records == nullptr) {
      return give_up(entries, count);
    }
  }

  // Second pass: every copy of every record, and the copy to use of each.
  unsigned char data[adapter::MDR_DATA_SIZE];
  for (uint64_t b = 0; b < blocks; ++b) {
    adapter::MicrodriveBlock block = adapter::microdrive_block_read(cartridge, b);
    uint16_t length = block.record_length;
    bool empty_end = length == 0 && (block.record_flags & RECORD_FLAG_EOF) != 0;
    CatalogueEntry* entry = is_valid_length(length) || empty_end
                                ? find_entry(found, files, block.record_name)
                                : nullptr;
    if (entry == nullptr) {
      continue;
    }
    // An empty end-of-file block is what libspectrum calls a preset bad
    // block and checks no further; it holds no byte that could be wrong.
    int verdict = libspectrum_microdrive_checksum(cartridge, static_cast<libspectrum_byte>(b));
    uint8_t good = verdict == 0 || empty_end ? 1 : 0;
    CatalogueRecord& record = entry->records[block.record_number];
    if (record.copies == 0 || copy_rank(good, length) > copy_rank(record.good, record.length)) {
      record.length = length;
      record.flags = block.record_flags;
      record.good = good;
      record.block = b;
    }
    record.copies += 1;
    if (entry->record_count <= block.record_number) {
      entry->record_count = block.record_number + uint64_t{1};
    }
    // The listing's header: record 0's copies laid one over another.
    if (block.record_number == 0 && length > 0) {
      adapter::microdrive_block_read_data(cartridge, b, data);
      std::memcpy(entry->listed_header, data,
                  length < FILE_HEADER_SIZE ? length : FILE_HEADER_SIZE);
    }
  }

  // Third pass: each file's data from the copies used.
  for (uint64_t i = 0; i < files; ++i) {
    CatalogueEntry& entry = found[i];
    for (uint64_t r = 0; r < entry.record_count; ++r) {
      uint64_t end = r * 512 + entry.records[r].length;
      if (entry.records[r].copies > 0 && entry.data_size < end) {
        entry.data_size = end;
      }
    }
    // At least one byte, so that an allocator may not answer null for none.
    entry.data = static_cast<unsigned char*>(
        catalogue_calloc(static_cast<size_t>(entry.data_size > 0 ? entry.data_size : 1), 1));
    if (entry.data == nullptr) {
      return give_up(entries, count);
    }
    for (uint64_t r = 0; r < entry.record_count; ++r) {
      const CatalogueRecord& record = entry.records[r];
      if (record.copies > 0 && record.length > 0) {
        adapter::microdrive_block_read_data(cartridge, record.block, data);
        std::memcpy(entry.data + r * 512, data, record.length);
      }
    }
  }
  return 0;
}

void release_catalogue(CatalogueEntry* entries, uint64_t count) {
  if (entries == nullptr) {
    return;
  }
  for (uint64_t i = 0; i < count; ++i) {
    std::free(entries[i].data);
    std::free(entries[i].records);
  }
  std::free(entries);
}

int Catalogue::build(libspectrum_microdrive* cartridge) {
  release_catalogue(entries_, count_);
  entries_ = nullptr;
  count_ = 0;
  return catalogue_cartridge_files(cartridge, &entries_, &count_);
}

void report_uncatalogued(const char* path) {
  std::fprintf(stderr, "%s: couldn't catalogue the files of `%s'\n", program_name,
               visible_text(path).c_str());
}

namespace {

// "record 3" or "records 1, 4-6" for the numbers below `count` that
// `pick` chooses; "" for none.
template <typename Pick>
std::string record_numbers(uint64_t count, Pick pick) {
  std::string list;
  uint64_t listed = 0;
  for (uint64_t r = 0; r < count; ++r) {
    if (!pick(r)) {
      continue;
    }
    uint64_t last = r;
    while (last + 1 < count && pick(last + 1)) {
      ++last;
    }
    list += (list.empty() ? "" : ", ") + std::to_string(r);
    if (last > r) {
      list += "-" + std::to_string(last);
    }
    listed += last - r + 1;
    r = last;
  }
  if (listed == 0) {
    return "";
  }
  return (listed == 1 ? "record " : "records ") + list;
}

}  // namespace

std::string describe_damage(const CatalogueEntry& entry) {
  std::string reasons;
  auto add = [&reasons](const std::string& reason) {
    reasons += (reasons.empty() ? "" : ", ") + reason;
  };
  const CatalogueRecord* records = entry.records;
  uint64_t count = records != nullptr ? entry.record_count : 0;
  bool ends = entry.has_eof != 0;
  bool bad_copy = false;
  for (uint64_t r = 0; r < count; ++r) {
    if (records[r].copies > 0) {
      ends = ends || (records[r].flags & RECORD_FLAG_EOF) != 0;
      bad_copy = bad_copy || records[r].good == 0;
    }
  }
  if (!ends) {
    add("no end-of-file record");
  }
  if (bad_copy || (records == nullptr && entry.checksum_error)) {
    add("a block fails its checksum");
  }
  std::string missing = record_numbers(count, [&](uint64_t r) { return records[r].copies == 0; });
  if (!missing.empty()) {
    add(missing + " missing");
  }
  std::string short_ones = record_numbers(count, [&](uint64_t r) {
    return r + 1 < count && records[r].copies > 0 && records[r].length < MAX_RECORD_LENGTH;
  });
  if (!short_ones.empty()) {
    add(short_ones + " shorter than 512 bytes");
  }
  std::string repeated = record_numbers(count, [&](uint64_t r) { return records[r].copies > 1; });
  if (!repeated.empty()) {
    add("more than one copy of " + repeated);
  }
  if ((entry.flags & RECORD_FLAG_NON_PRINT) == 0) {
    return reasons;
  }
  FileHeader header{};
  if (decode_file_header(&header, entry.data, entry.data_size) != 0) {
    add("a header of " + std::to_string(entry.data_size) + " bytes");
  } else if (entry.data_size - FILE_HEADER_SIZE != header.data_length) {
    add(std::to_string(entry.data_size - FILE_HEADER_SIZE) +
        " bytes of data where its header says " + std::to_string(header.data_length));
  }
  return reasons;
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

namespace {

// An array's name is stored in header byte 5 with its type in the top bits.
char array_letter(const FileHeader& header) {
  return static_cast<char>(0x40 + (header.param2 & 0x3F));
}

// A program's autostart line is stored in header bytes 7-8; 10000 and above
// mean it does not start by itself.
constexpr unsigned NO_AUTOSTART = 10000;

}  // namespace

std::string file_description(const unsigned char* name, const FileHeader& header, FileWords words) {
  std::string quoted = "\"";
  for (char c : zx_name_text(name)) {
    quoted += words == FileWords::Tape && c == '"' ? "\\\"" : std::string(1, c);
  }
  quoted += "\"";
  std::string length = std::to_string(header.data_length);
  switch (header.type) {
    case 0:
      return "Program: " + quoted +
             (header.param3 < NO_AUTOSTART ? " LINE " + std::to_string(header.param3) : "") +
             "\n  Length: " + length +
             (words == FileWords::Tape && header.param2 > header.data_length
                  ? ", program length " + std::to_string(header.param2) + " exceeds it"
                  : ", includes variable length: " +
                        std::to_string(static_cast<uint32_t>(header.data_length) - header.param2));
    case 1:
      return "Number Array: " + quoted + " DATA " + array_letter(header) +
             "()\n  Length: " + length;
    case 2:
      return "Character Array: " + quoted + " DATA " + array_letter(header) +
             "$()\n  Length: " + length;
    case 3:
      return "Bytes: " + quoted + (is_screen_header(header) ? " SCREEN$ " : " CODE ") +
             std::to_string(header.param1) + ", " + length;
    default:
      return "Unknown type " + std::to_string(header.type) + ": " + quoted +
             "\n  Length: " + length;
  }
}
