// A cartridge's files as ROM-loader blocks; see cart2tape.h.
#include <strings.h>

#include <cstring>

#include "cart2tape.h"
#include "little_endian.h"

namespace {

// A copy of `text` from libspectrum's allocator, cut to MAX_ARCHIVE_TEXT
// bytes before a character that would not fit whole.
char* library_string(const std::string& text) {
  size_t size = text.size();
  if (size > MAX_ARCHIVE_TEXT) {
    size = MAX_ARCHIVE_TEXT;
    while (size > 0 && (static_cast<unsigned char>(text[size]) & 0xC0) == 0x80) {
      --size;  // text[size] continues a character begun before the cut
    }
  }
  auto* copy = static_cast<char*>(libspectrum_malloc_n(size + 1, 1));
  std::memcpy(copy, text.data(), size);
  copy[size] = '\0';
  return copy;
}

}  // namespace

void make_tape_header(const CatalogueEntry& entry, unsigned char header[TAPE_HEADER_SIZE]) {
  unsigned char raw[FILE_HEADER_SIZE] = {};
  std::memcpy(raw, entry.data,
              static_cast<size_t>(entry.data_size < FILE_HEADER_SIZE ? entry.data_size
                                                                     : FILE_HEADER_SIZE));
  FileHeader file{};
  (void)decode_file_header(&file, raw, sizeof raw);
  unsigned param1 = file.param1;
  unsigned param2 = file.param2;
  switch (file.type) {
    case 0:
      param1 = file.param3;
      param2 = file.param2;
      break;
    case 1:
    case 2:
      param1 = static_cast<unsigned>(file.param2 & 0xFF) << 8;
      param2 = 32768;
      break;
    case 3:
      param2 = 32768;
      break;
    default:
      break;
  }
  header[0] = file.type;
  std::memcpy(header + 1, entry.name, adapter::MDR_NAME_SIZE);
  write_le16(header + 11, file.data_length);
  write_le16(header + 13, param1);
  write_le16(header + 15, param2);
}

libspectrum_id_t tape_type_for(const char* path) {
  static constexpr struct {
    const char* extension;
    libspectrum_id_t type;
  } WRITABLE[] = {
      {".tap", LIBSPECTRUM_ID_TAPE_TAP}, {".tzx", LIBSPECTRUM_ID_TAPE_TZX},
      {".spc", LIBSPECTRUM_ID_TAPE_SPC}, {".sta", LIBSPECTRUM_ID_TAPE_STA},
      {".ltp", LIBSPECTRUM_ID_TAPE_LTP},
  };
  const char* dot = std::strrchr(path, '.');
  const char* slash = std::strrchr(path, '/');
  if (dot != nullptr && (slash == nullptr || dot > slash)) {
    for (const auto& format : WRITABLE) {
      if (strcasecmp(dot, format.extension) == 0) {
        return format.type;
      }
    }
  }
  return LIBSPECTRUM_ID_UNKNOWN;
}

size_t tape_data_length(const CatalogueEntry& entry) {
  uint64_t size = entry.data_size > FILE_HEADER_SIZE ? entry.data_size - FILE_HEADER_SIZE : 0;
  if (size <= MAX_TAPE_DATA) {
    return static_cast<size_t>(size);
  }
  FileHeader header{};
  (void)decode_file_header(&header, entry.data, entry.data_size);  // 9 bytes are there
  return header.data_length < MAX_TAPE_DATA ? header.data_length : MAX_TAPE_DATA;
}

void append_file_blocks(libspectrum_tape* tape, const CatalogueEntry& entry) {
  unsigned char header[TAPE_HEADER_SIZE];
  make_tape_header(entry, header);
  const unsigned char* data = entry.data + FILE_HEADER_SIZE;
  size_t size = tape_data_length(entry);
  if (size + FILE_HEADER_SIZE < entry.data_size) {
    // Cut to fit a block: the header gives the length that the ROM will load.
    header[11] = static_cast<unsigned char>(size & 0xFF);
    header[12] = static_cast<unsigned char>(size >> 8);
  }
  libspectrum_tape_append_block(tape, rom_block(0x00, header, sizeof header));
  libspectrum_tape_append_block(tape, rom_block(0xFF, size > 0 ? data : header, size));
}

void append_archive_info(libspectrum_tape* tape, const std::string& title,
                         const std::string& comment) {
  libspectrum_tape_block* block = libspectrum_tape_block_alloc(LIBSPECTRUM_TAPE_BLOCK_ARCHIVE_INFO);
  auto* ids = static_cast<int*>(libspectrum_malloc_n(2, sizeof(int)));
  auto** texts = static_cast<char**>(libspectrum_malloc_n(2, sizeof(char*)));
  ids[0] = 0x00;  // full title
  ids[1] = 0xFF;  // comment
  texts[0] = library_string(title);
  texts[1] = library_string(comment);
  (void)libspectrum_tape_block_set_count(block, 2);
  (void)libspectrum_tape_block_set_ids(block, ids);
  (void)libspectrum_tape_block_set_texts(block, texts);
  libspectrum_tape_append_block(tape, block);
}
