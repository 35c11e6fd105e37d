// Bridge between the tools and the installed libspectrum, built on the calls
// that libspectrum 1.5.0 actually offers: whole-file input (input_file.cc),
// the Microdrive block reader (microdrive_block.cc), ZX-name conversion
// (zx_name.cc) and the four-field edge record (inline, below).
//
// Everything lives in namespace `adapter`, so no name here can clash with a
// symbol that some libspectrum release defines.
#ifndef QUILLKIT_SUPPORT_ADAPTER_H
#define QUILLKIT_SUPPORT_ADAPTER_H

#include <libspectrum.h>

#include <cstddef>
#include <cstdint>

namespace adapter {

// ---------------------------------------------------------------------------
// Whole-file input.

// Zero bytes kept after the file's bytes (not counted in `length`), so that a
// reader which runs past its buffer sees zeros in memory we own instead of
// whatever lies beyond. libspectrum 1.5.0's CSW reader reads up to 510 bytes
// too far, and its Warajevo decompressor, which never checks the end of its
// input, up to about 200 KB past the start of a block.
constexpr size_t FILE_PADDING = size_t{256} * 1024;

// One whole input file. `bytes` is owned (C heap) and released by
// file_clear(); `name` points at the caller's path and is not owned.
struct File {
  unsigned char* bytes;
  size_t length;
  libspectrum_id_t type;
  const char* name;
  // True for bzip2 data that bzip2_cut_short refuses; such a file is never
  // handed to libspectrum (its type is left unknown).
  bool cut_short;
};

// The most that bzip2 data may expand to: far beyond any real image, and
// short of what would exhaust memory.
constexpr uint64_t BZIP2_LIMIT = uint64_t{1} << 30;

// True when `bytes` are bzip2 data that end before their stream does, or
// expand beyond BZIP2_LIMIT. libspectrum 1.5.0 waits for more input without
// end on the first, and aborts when memory runs out on the second.
[[nodiscard]] bool bzip2_cut_short(const unsigned char* bytes, size_t length);

// Empties the record; it holds no memory afterwards.
void file_init(File* file);

// The most that an input may hold: an MDR image is at most 254 blocks and
// the write-protection byte; a tape image, whatever its format, stays under
// the 4 GiB that a WAV file's 32-bit RIFF length can describe (real CSW and
// TZX images are a few megabytes).
constexpr size_t MDR_FILE_LIMIT = 254 * 543 + 1;
// Where size_t has 32 bits, the limit is all that a read buffer (the bytes,
// one more and FILE_PADDING) can count; memory runs out before it anyway.
constexpr size_t TAPE_FILE_LIMIT =
    sizeof(size_t) >= 8 ? static_cast<size_t>(uint64_t{4} << 30) : SIZE_MAX - FILE_PADDING - 1;
static_assert(TAPE_FILE_LIMIT > MDR_FILE_LIMIT && TAPE_FILE_LIMIT <= SIZE_MAX - FILE_PADDING - 1,
              "a tape's bytes, the one read past the limit and the padding fit in size_t");

// Reads the whole of `path` (regular file, pipe or device) into `file` and
// identifies its type (see File::cut_short). No more than one byte past
// `limit` is read: a larger input is refused. Returns 0, or
// LIBSPECTRUM_ERROR_MEMORY / LIBSPECTRUM_ERROR_UNKNOWN after reporting the
// reason through libspectrum_error_function; on failure `file` holds no
// memory.
[[nodiscard]] int file_open(File* file, const char* path, size_t limit);

// Releases the bytes and empties the record. Harmless on an empty record.
void file_clear(File* file);

// A File for one scope: empty at first, cleared when it goes.
class ScopedFile {
 public:
  ScopedFile() { file_init(&file_); }
  ~ScopedFile() { file_clear(&file_); }
  ScopedFile(const ScopedFile&) = delete;
  ScopedFile& operator=(const ScopedFile&) = delete;
  File* get() { return &file_; }

 private:
  File file_;
};

// ---------------------------------------------------------------------------
// Microdrive blocks. An MDR image is a run of 543-byte blocks; block `b`
// starts at b * 543 in libspectrum's raw cartridge data:
//
//   offset  size  field
//        0     1  header flag (bit 0: header block)
//        1     1  block number
//        2     2  header unused word, little-endian
//        4    10  cartridge name
//       14     1  header checksum
//       15     1  record flags (bit 1: end of file, bit 2: non-PRINT)
//       16     1  record number
//       17     2  record length, little-endian
//       19    10  record name
//       29     1  record checksum
//       30   512  data
//      542     1  data checksum
constexpr size_t MDR_BLOCK_SIZE = 543;
constexpr size_t MDR_NAME_SIZE = 10;
constexpr size_t MDR_DATA_SIZE = 512;

// One block of a cartridge, decoded but for its 512 data bytes: a plain
// value that owns nothing and stays as it is whatever is read after it.
struct MicrodriveBlock {
  uint8_t header_flag;
  uint8_t number;
  uint16_t header_unused;
  unsigned char cartridge_name[MDR_NAME_SIZE];
  uint8_t header_checksum;
  uint8_t record_flags;
  uint8_t record_number;
  uint16_t record_length;
  unsigned char record_name[MDR_NAME_SIZE];
  uint8_t record_checksum;
  uint8_t data_checksum;
};

uint64_t microdrive_block_count(const libspectrum_microdrive* cartridge);

// Block `block` of the cartridge; a block at or past the block count reads
// as all zeros.
MicrodriveBlock microdrive_block_read(const libspectrum_microdrive* cartridge, uint64_t block);

// Copies the MDR_DATA_SIZE data bytes of block `block` into `data` (zeros
// for a block at or past the block count).
void microdrive_block_read_data(const libspectrum_microdrive* cartridge, uint64_t block,
                                unsigned char* data);

// ---------------------------------------------------------------------------
// ZX names.

// Converts `source_length` bytes of Spectrum text to NUL-terminated UTF-8 in
// `output`. Trailing spaces are dropped, control codes become '?', block
// graphics and UDGs become backslash escapes and tokens their keywords.
// Returns 0 on success; non-zero when `output` or `source` is null or the
// text and its NUL do not fit `capacity` (the output is then unspecified).
[[nodiscard]] int zx_string_to_utf8(char* output, size_t capacity, const unsigned char* source,
                                    size_t source_length);

// ---------------------------------------------------------------------------
// Edges.

// One record of the tape's edge walk.
struct EdgeRecord {
  uint32_t duration;  // T-states covered by this record
  int32_t level;      // signal level after the record: 0 low, 1 high
  uint32_t edge;      // non-zero when the record ends with a real edge
  uint32_t flags;     // libspectrum's LIBSPECTRUM_TAPE_FLAGS_* bits
};

// libspectrum's LIBSPECTRUM_TAPE_FLAGS_* are variables of the library, read
// from memory at each use; a walk takes them once.
struct EdgeFlags {
  int tape_end;
  int no_edge;
  int level_low;
  int level_high;
};
inline EdgeFlags edge_flags() {
  return {LIBSPECTRUM_TAPE_FLAGS_TAPE, LIBSPECTRUM_TAPE_FLAGS_NO_EDGE,
          LIBSPECTRUM_TAPE_FLAGS_LEVEL_LOW, LIBSPECTRUM_TAPE_FLAGS_LEVEL_HIGH};
}

// Fetches the next record of `tape` into `record`. The record must be zeroed
// before the first call: the level is carried over from the previous call.
// Returns libspectrum's error code unchanged, leaving `record` untouched on
// failure. Inline, with the flags taken once: the dumper calls it once an
// edge, tens of millions of times a tape, and the record then lives in
// registers.
[[nodiscard]] inline int tape_get_next_edge(EdgeRecord* record, libspectrum_tape* tape,
                                            const EdgeFlags& known) {
  libspectrum_dword tstates;
  int flags;
  libspectrum_error error = libspectrum_tape_get_next_edge(&tstates, &flags, tape);
  if (error != LIBSPECTRUM_ERROR_NONE) {
    return error;
  }
  record->duration = tstates;
  record->flags = static_cast<uint32_t>(flags);
  if (flags == 0) {  // a plain edge inside a block: by far the most common record
    record->edge = 1;
    record->level ^= 1;
    return 0;
  }
  record->edge = (flags & known.no_edge) ? 0 : 1;
  record->level ^= static_cast<int32_t>(record->edge);
  if (flags & known.level_low) {
    record->level = 0;
  }
  if (flags & known.level_high) {
    record->level = 1;
  }
  return 0;
}

[[nodiscard]] inline int tape_get_next_edge(EdgeRecord* record, libspectrum_tape* tape) {
  return tape_get_next_edge(record, tape, edge_flags());
}

}  // namespace adapter

#endif
