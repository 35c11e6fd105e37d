// Microdrive cartridges as the tools read them: the blocks of an MDR
// image, ZX names, the files of a cartridge (its catalogue) and the
// headers of those files. The writer is in cartridge_writer.h.
#ifndef QUILLKIT_CARTRIDGE_CARTRIDGE_H
#define QUILLKIT_CARTRIDGE_CARTRIDGE_H

#include <libspectrum.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "common.h"
#include "host.h"

// The owner of a libspectrum cartridge.
using CartridgePtr = Owned<libspectrum_microdrive, libspectrum_microdrive_free>;

namespace adapter {

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

}  // namespace adapter

// Reads the MDR image at `path` into `cartridge` (see load_input_file);
// the file's bytes are released as soon as the cartridge holds them.
// Returns 0, 1 when the file cannot be read (after "couldn't read"), or
// libspectrum's error code when it rejects the image (after its message).
[[nodiscard]] int read_cartridge_image(const char* path, libspectrum_microdrive* cartridge);

// As read_cartridge_image, for the file open on `fd`, named `path` in
// messages.
[[nodiscard]] int read_cartridge_descriptor(int fd, const char* path,
                                            libspectrum_microdrive* cartridge);

// ---------------------------------------------------------------------------
// Microdrive file catalogue.

constexpr uint8_t RECORD_FLAG_EOF = 0x02;
constexpr uint8_t RECORD_FLAG_NON_PRINT = 0x04;
constexpr uint16_t MAX_RECORD_LENGTH = 512;

// Size of the buffer that every converted ZX name goes through: ten names
// of the longest keyword and the NUL.
constexpr size_t ZX_NAME_TEXT_SIZE = 91;

// The 9-byte header at the start of a non-PRINT file:
//   byte 0 type, bytes 1-2 data length, bytes 3-4 start address,
//   bytes 5-6 program length or array name, bytes 7-8 autostart line;
// words are little-endian.
struct FileHeader {
  uint8_t type;
  uint16_t data_length;
  uint16_t param1;
  uint16_t param2;
  uint16_t param3;
};
constexpr uint64_t FILE_HEADER_SIZE = 9;

// Where a file's record of one number is found: how many blocks carry it and
// which of them is used, the first whose checksums pass (the Interface 1
// loads no other), or the first of all when none passes.
struct CatalogueRecord {
  uint16_t copies;  // blocks carrying this record number; 0 when it is missing
  uint16_t length;  // record length of the copy used
  uint8_t flags;    // record flags of the copy used
  uint8_t good;     // 1 when the copy used passes every checksum
  uint64_t block;   // index of the copy used
};
constexpr uint64_t MAX_RECORDS = 256;  // record numbers are one byte

// One file found on a cartridge, with its records' data joined in record
// order.
struct CatalogueEntry {
  unsigned char name[adapter::MDR_NAME_SIZE];  // as on the cartridge, not terminated
  uint8_t flags;                               // record flags of its first block
  uint64_t block_count;      // every block of the file, each copy of a record counted
  uint64_t length;           // sum of the record lengths of those blocks
  int has_eof;               // 1 when any block is marked end of file
  int checksum_error;        // 1 when any block fails a checksum
  unsigned char* data;       // data_size bytes: each record's copy used, zero where none is
  uint64_t data_size;        // max over the copies used of record number * 512 + length
  CatalogueRecord* records;  // MAX_RECORDS slots, by record number
  uint64_t record_count;     // highest record number found + 1
  // The file's first bytes and size as joining every block in cartridge
  // order gives them (a later copy of record 0 over an earlier one): what
  // the file listing has always decoded the header from, so that it stays
  // as it was.
  unsigned char listed_header[FILE_HEADER_SIZE];
  uint64_t listed_size;
};

// One header decides a screen: bytes (type 3) of 6912 at 16384.
bool is_screen_header(const FileHeader& header);

// The extension of a file copied out under its name, by its header's type:
// ".bas" (program), ".nar" (number array), ".car" (character array), ".scr"
// (a screen, see is_screen_header), else ".bin".
const char* file_extension(const FileHeader& header);

// A file in the words the listings use, after two spaces of indent and
// before its block count: `Program: "name" LINE 10` and a line
// `  Length: 300, includes variable length: 40`; `Bytes: "name" CODE
// 32768, 1500` (or SCREEN$); `Number Array: "name" DATA A()` or
// `Character Array: "name" DATA A$()` and a Length line; `Unknown type N:
// "name"` and a Length line. `name` is the 10-byte ZX name.
// Cartridge words are cartinfo's, as its listing has always had them. Tape
// words are tapeinfo's: a '"' in the name is written '\"' (a '\' is "\\"
// already), so that a script can tell where the name ends, and a program
// whose program length exceeds its length gets `  Length: 10, program
// length 50 exceeds it`, where cartinfo gives the difference as a 32-bit
// variable length.
enum class FileWords { Cartridge, Tape };
std::string file_description(const unsigned char* name, const FileHeader& header,
                             FileWords words = FileWords::Cartridge);

// Fills `header` from the first 9 of `size` bytes. Returns 0, or 1 (header
// untouched) when an argument is null or fewer than 9 bytes are given.
[[nodiscard]] int decode_file_header(FileHeader* header, const unsigned char* bytes, uint64_t size);

// Gathers the files of a parsed cartridge. On success (0) `*entries` is a
// heap array with one slot per block, the first `*count` holding files in
// order of their first block; release it with release_catalogue. On failure
// (1) nothing is held, and `*entries`/`*count` are null/0 unless one of them
// was null. A block with a record length of 1 to 512 belongs to the file of
// its name; an end-of-file block of length 0 bearing the name of such a
// file is that file's last record (a PRINT file may end so), counted in
// `records` only.
[[nodiscard]] int catalogue_cartridge_files(libspectrum_microdrive* cartridge,
                                            CatalogueEntry** entries, uint64_t* count);

// Releases every entry's data and records, and the array. A null array does
// nothing.
void release_catalogue(CatalogueEntry* entries, uint64_t count);

// The owner of one cartridge's catalogue, released when it goes.
class Catalogue {
 public:
  Catalogue() = default;
  Catalogue(const Catalogue&) = delete;
  Catalogue& operator=(const Catalogue&) = delete;
  ~Catalogue() { release_catalogue(entries_, count_); }

  // Catalogues `cartridge` (see catalogue_cartridge_files), giving up what
  // was held before. Returns 0, or 1 with nothing held.
  [[nodiscard]] int build(libspectrum_microdrive* cartridge);
  const CatalogueEntry* entries() const { return entries_; }
  uint64_t count() const { return count_; }
  const CatalogueEntry& operator[](uint64_t i) const { return entries_[i]; }

 private:
  CatalogueEntry* entries_ = nullptr;
  uint64_t count_ = 0;
};

// Prints "couldn't catalogue the files of `path'" on standard error.
void report_uncatalogued(const char* path);

// What is wrong with a file, as "reason, reason", or "" for nothing: no
// end-of-file record, a record whose copy used fails a checksum, records
// missing below the highest, records other than the last holding fewer
// than 512 bytes, records found more than once and, for a non-PRINT file,
// a header shorter than 9 bytes or data of another length than the header
// gives.
std::string describe_damage(const CatalogueEntry& entry);

// A 10-byte ZX name as the tools print it (UTF-8, see
// adapter::zx_string_to_utf8); "" for a null name or one that does not
// convert.
std::string zx_name_text(const unsigned char* name);

// The cartridge's name: that of its first header block whose header
// checksum holds (a bad data checksum does not matter) and that is not a
// preset bad block; only that block is tried. Returns false, `name`
// untouched, when no block qualifies.
bool find_cartridge_name(libspectrum_microdrive* cartridge,
                         unsigned char name[adapter::MDR_NAME_SIZE]);

#endif
