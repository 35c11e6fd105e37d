// The libspectrum adapter: see adapter.h.
#include "adapter.h"

#include <bzlib.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace adapter {

namespace {

// Reports a failure the way libspectrum reports its own: through the
// library's error function, so the tools' handler formats it.
__attribute__((format(printf, 2, 3))) void report(libspectrum_error error, const char* format,
                                                  ...) {
  va_list ap;
  va_start(ap, format);
  libspectrum_error_function(error, format, ap);
  va_end(ap);
}

constexpr size_t INITIAL_CAPACITY = 64 * 1024;

// Reads all of `fd` into a C-heap buffer that keeps FILE_PADDING zero bytes
// after the data. Returns 0, else the errno of the failure (ENOMEM when the
// buffer cannot grow, EFBIG when there are more than `limit` bytes, of
// which no more than one is read past the limit); on failure nothing is held.
int read_all(int fd, size_t size_hint, size_t limit, unsigned char** bytes, size_t* length) {
  if (size_hint > limit) {
    size_hint = limit;
  }
  size_t capacity = size_hint + 1 + FILE_PADDING;
  if (capacity < INITIAL_CAPACITY) {
    capacity = INITIAL_CAPACITY;
  }
  auto* buffer = static_cast<unsigned char*>(std::malloc(capacity));
  if (buffer == nullptr) {
    return ENOMEM;
  }
  size_t used = 0;
  for (;;) {
    if (capacity - used <= FILE_PADDING) {
      if (capacity > SIZE_MAX / 2) {
        std::free(buffer);
        return ENOMEM;
      }
      auto* grown = static_cast<unsigned char*>(std::realloc(buffer, capacity * 2));
      if (grown == nullptr) {
        std::free(buffer);
        return ENOMEM;
      }
      buffer = grown;
      capacity *= 2;
    }
    size_t room = capacity - used - FILE_PADDING;
    if (room > limit + 1 - used) {
      room = limit + 1 - used;
    }
    ssize_t got = read(fd, buffer + used, room);
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      int saved = errno;
      std::free(buffer);
      return saved;
    }
    if (got == 0) {
      break;
    }
    used += static_cast<size_t>(got);
    if (used > limit) {
      std::free(buffer);
      return EFBIG;
    }
  }
  std::memset(buffer + used, 0, FILE_PADDING);
  *bytes = buffer;
  *length = used;
  return 0;
}

}  // namespace

bool bzip2_cut_short(const unsigned char* bytes, size_t length) {
  if (length < 3 || bytes[0] != 'B' || bytes[1] != 'Z' || bytes[2] != 'h') {
    return false;
  }
  bz_stream stream{};
  if (BZ2_bzDecompressInit(&stream, 0, 0) != BZ_OK) {
    return false;
  }
  // The output is thrown away; only the decoder's word counts.
  static char scratch[64 * 1024];
  stream.next_in = const_cast<char*>(reinterpret_cast<const char*>(bytes));
  stream.avail_in = static_cast<unsigned>(length);
  bool cut_short = false;
  for (;;) {
    stream.next_out = scratch;
    stream.avail_out = sizeof scratch;
    int result = BZ2_bzDecompress(&stream);
    if (result != BZ_OK) {
      break;  // the end of the stream, or damage that libspectrum reports itself
    }
    uint64_t out = (uint64_t{stream.total_out_hi32} << 32) | stream.total_out_lo32;
    bool waiting_for_input = stream.avail_in == 0 && stream.avail_out == sizeof scratch;
    if (waiting_for_input || out > BZIP2_LIMIT) {
      cut_short = true;
      break;
    }
  }
  BZ2_bzDecompressEnd(&stream);
  return cut_short;
}

void file_init(File* file) {
  file->bytes = nullptr;
  file->length = 0;
  file->type = LIBSPECTRUM_ID_UNKNOWN;
  file->name = nullptr;
  file->cut_short = false;
}

int file_open(File* file, const char* path, size_t limit) {
  file_init(file);
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    report(LIBSPECTRUM_ERROR_UNKNOWN, "couldn't open `%s': %s", path, std::strerror(errno));
    return LIBSPECTRUM_ERROR_UNKNOWN;
  }
  struct stat info {};
  size_t size_hint = 0;
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
    size_hint = static_cast<size_t>(info.st_size);
  }
  unsigned char* bytes = nullptr;
  size_t length = 0;
  int failure = read_all(fd, size_hint, limit, &bytes, &length);
  close(fd);
  if (failure == ENOMEM) {
    report(LIBSPECTRUM_ERROR_MEMORY, "out of memory reading `%s'", path);
    return LIBSPECTRUM_ERROR_MEMORY;
  }
  if (failure == EFBIG) {
    report(LIBSPECTRUM_ERROR_UNKNOWN,
           "couldn't read `%s': more than %zu bytes, larger than any image of its kind", path,
           limit);
    return LIBSPECTRUM_ERROR_UNKNOWN;
  }
  if (failure != 0) {
    report(LIBSPECTRUM_ERROR_UNKNOWN, "couldn't read `%s': %s", path, std::strerror(failure));
    return LIBSPECTRUM_ERROR_UNKNOWN;
  }
  // Identifying a compressed file expands it, so look at bzip2 data first.
  bool cut_short = bzip2_cut_short(bytes, length);
  libspectrum_id_t type = LIBSPECTRUM_ID_UNKNOWN;
  if (!cut_short &&
      libspectrum_identify_file(&type, path, bytes, length) != LIBSPECTRUM_ERROR_NONE) {
    type = LIBSPECTRUM_ID_UNKNOWN;
  }
  file->cut_short = cut_short;
  file->bytes = bytes;
  file->length = length;
  file->type = type;
  file->name = path;
  return 0;
}

void file_clear(File* file) {
  std::free(file->bytes);
  file_init(file);
}

// ---------------------------------------------------------------------------

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

uint8_t byte_at(const libspectrum_microdrive* cartridge, uint64_t block, size_t offset) {
  // libspectrum's cartridge holds room for its largest size; never index past it.
  if (block >= LIBSPECTRUM_MICRODRIVE_BLOCK_MAX) {
    return 0;
  }
  return libspectrum_microdrive_data(cartridge,
                                     static_cast<size_t>(block) * MDR_BLOCK_SIZE + offset);
}

uint16_t word_at(const libspectrum_microdrive* cartridge, uint64_t block, size_t offset) {
  return static_cast<uint16_t>(byte_at(cartridge, block, offset) |
                               (byte_at(cartridge, block, offset + 1) << 8));
}

// Copies `size` bytes of a block into `out`; null for a block past the end.
const unsigned char* copy_out(const libspectrum_microdrive* cartridge, uint64_t block,
                              size_t offset, unsigned char* out, size_t size) {
  if (block >= microdrive_block_count(cartridge)) {
    return nullptr;
  }
  for (size_t i = 0; i < size; ++i) {
    out[i] = byte_at(cartridge, block, offset + i);
  }
  return out;
}

unsigned char cartridge_name_copy[MDR_NAME_SIZE];
unsigned char record_name_copy[MDR_NAME_SIZE];
unsigned char data_copy[MDR_DATA_SIZE];

}  // namespace

uint64_t microdrive_block_count(const libspectrum_microdrive* cartridge) {
  return libspectrum_microdrive_cartridge_len(cartridge);
}
uint8_t microdrive_block_header_flag(const libspectrum_microdrive* cartridge, uint64_t block) {
  return byte_at(cartridge, block, HEADER_FLAG);
}
uint8_t microdrive_block_number(const libspectrum_microdrive* cartridge, uint64_t block) {
  return byte_at(cartridge, block, BLOCK_NUMBER);
}
uint16_t microdrive_block_header_unused(const libspectrum_microdrive* cartridge, uint64_t block) {
  return word_at(cartridge, block, HEADER_UNUSED);
}
uint8_t microdrive_block_header_checksum(const libspectrum_microdrive* cartridge, uint64_t block) {
  return byte_at(cartridge, block, HEADER_CHECKSUM);
}
uint8_t microdrive_block_record_flags(const libspectrum_microdrive* cartridge, uint64_t block) {
  return byte_at(cartridge, block, RECORD_FLAGS);
}
uint8_t microdrive_block_record_number(const libspectrum_microdrive* cartridge, uint64_t block) {
  return byte_at(cartridge, block, RECORD_NUMBER);
}
uint16_t microdrive_block_record_length(const libspectrum_microdrive* cartridge, uint64_t block) {
  return word_at(cartridge, block, RECORD_LENGTH);
}
uint8_t microdrive_block_record_checksum(const libspectrum_microdrive* cartridge, uint64_t block) {
  return byte_at(cartridge, block, RECORD_CHECKSUM);
}
uint8_t microdrive_block_data_checksum(const libspectrum_microdrive* cartridge, uint64_t block) {
  return byte_at(cartridge, block, DATA_CHECKSUM);
}

const unsigned char* microdrive_block_cartridge_name(const libspectrum_microdrive* cartridge,
                                                     uint64_t block) {
  return copy_out(cartridge, block, CARTRIDGE_NAME, cartridge_name_copy, MDR_NAME_SIZE);
}
const unsigned char* microdrive_block_record_name(const libspectrum_microdrive* cartridge,
                                                  uint64_t block) {
  return copy_out(cartridge, block, RECORD_NAME, record_name_copy, MDR_NAME_SIZE);
}
const unsigned char* microdrive_block_data(const libspectrum_microdrive* cartridge,
                                           uint64_t block) {
  return copy_out(cartridge, block, DATA, data_copy, MDR_DATA_SIZE);
}

// ---------------------------------------------------------------------------

namespace {

// Keywords of the 48K ROM for codes 0xA5 to 0xFF.
constexpr const char* TOKENS[] = {
    "RND",     "INKEY$", "PI",     "FN",       "POINT",     "SCREEN$", "ATTR",   "AT",
    "TAB",     "VAL$",   "CODE",   "VAL",      "LEN",       "SIN",     "COS",    "TAN",
    "ASN",     "ACS",    "ATN",    "LN",       "EXP",       "INT",     "SQR",    "SGN",
    "ABS",     "PEEK",   "IN",     "USR",      "STR$",      "CHR$",    "NOT",    "BIN",
    "OR",      "AND",    "<=",     ">=",       "<>",        "LINE",    "THEN",   "TO",
    "STEP",    "DEF FN", "CAT",    "FORMAT",   "MOVE",      "ERASE",   "OPEN #", "CLOSE #",
    "MERGE",   "VERIFY", "BEEP",   "CIRCLE",   "INK",       "PAPER",   "FLASH",  "BRIGHT",
    "INVERSE", "OVER",   "OUT",    "LPRINT",   "LLIST",     "STOP",    "READ",   "DATA",
    "RESTORE", "NEW",    "BORDER", "CONTINUE", "DIM",       "REM",     "FOR",    "GO TO",
    "GO SUB",  "INPUT",  "LOAD",   "LIST",     "LET",       "PAUSE",   "NEXT",   "POKE",
    "PRINT",   "PLOT",   "RUN",    "SAVE",     "RANDOMIZE", "IF",      "CLS",    "DRAW",
    "CLEAR",   "RETURN", "COPY",
};
static_assert(sizeof(TOKENS) / sizeof(TOKENS[0]) == 0x100 - 0xA5, "one keyword per token");

// Quarter-square graphics 0x80-0x8F: bit 1 top left, bit 0 top right,
// bit 3 bottom left, bit 2 bottom right.
char graphic_half(unsigned top, unsigned bottom) {
  if (top && bottom) {
    return ':';
  }
  if (top) {
    return '\'';
  }
  return bottom ? '.' : ' ';
}

// Appends `text` to the output; false when it (and a final NUL) won't fit.
bool append(char* output, size_t capacity, size_t* used, const char* text, size_t length) {
  if (length >= capacity - *used) {
    return false;
  }
  std::memcpy(output + *used, text, length);
  *used += length;
  return true;
}

}  // namespace

int zx_string_to_utf8(char* output, size_t capacity, const unsigned char* source,
                      size_t source_length) {
  if (output == nullptr || source == nullptr || capacity == 0) {
    return 1;
  }
  while (source_length > 0 && source[source_length - 1] == 0x20) {
    --source_length;
  }
  size_t used = 0;
  for (size_t i = 0; i < source_length; ++i) {
    unsigned code = source[i];
    char small[4];
    const char* text = small;
    size_t length = 1;
    if (code < 0x20) {
      small[0] = '?';
    } else if (code == 0x5C) {
      text = "\\\\";
      length = 2;
    } else if (code == 0x5E) {
      text = "\xE2\x86\x91";  // U+2191 UPWARDS ARROW
      length = 3;
    } else if (code == 0x60) {
      text = "\xC2\xA3";  // U+00A3 POUND SIGN
      length = 2;
    } else if (code == 0x7F) {
      text = "\xC2\xA9";  // U+00A9 COPYRIGHT SIGN
      length = 2;
    } else if (code < 0x80) {
      small[0] = static_cast<char>(code);
    } else if (code < 0x90) {
      small[0] = '\\';
      small[1] = graphic_half(code & 0x02, code & 0x08);
      small[2] = graphic_half(code & 0x01, code & 0x04);
      length = 3;
    } else if (code < 0xA5) {
      small[0] = '\\';
      small[1] = static_cast<char>('a' + (code - 0x90));
      length = 2;
    } else {
      text = TOKENS[code - 0xA5];
      length = std::strlen(text);
    }
    if (!append(output, capacity, &used, text, length)) {
      return 1;
    }
  }
  output[used] = '\0';
  return 0;
}

// ---------------------------------------------------------------------------

int tape_get_next_edge(EdgeRecord* record, libspectrum_tape* tape) {
  libspectrum_dword tstates = 0;
  int flags = 0;
  libspectrum_error error = libspectrum_tape_get_next_edge(&tstates, &flags, tape);
  if (error != LIBSPECTRUM_ERROR_NONE) {
    return error;
  }
  record->duration = tstates;
  record->flags = static_cast<uint32_t>(flags);
  record->edge = (flags & LIBSPECTRUM_TAPE_FLAGS_NO_EDGE) ? 0 : 1;
  if (record->edge) {
    record->level = record->level ? 0 : 1;
  }
  if (flags & LIBSPECTRUM_TAPE_FLAGS_LEVEL_LOW) {
    record->level = 0;
  }
  if (flags & LIBSPECTRUM_TAPE_FLAGS_LEVEL_HIGH) {
    record->level = 1;
  }
  return 0;
}

}  // namespace adapter
