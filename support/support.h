// What the libspectrum tools (cartinfo, edgedump, cart2tape, tape2cart and
// blankcart) share:
// libspectrum start-up, reading image files, the Microdrive file catalogue
// and ZX names, and the creator-record and file-output services.
#ifndef QUILLKIT_SUPPORT_SUPPORT_H
#define QUILLKIT_SUPPORT_SUPPORT_H

#include <libspectrum.h>

#include <cstddef>
#include <cstdio>
#include <cstdint>
#include <string>

#include "adapter.h"
#include "common.h"

// Owners of libspectrum's tape and cartridge objects.
using TapePtr = Owned<libspectrum_tape, libspectrum_tape_free>;
using CartridgePtr = Owned<libspectrum_microdrive, libspectrum_microdrive_free>;

// The oldest libspectrum the tools accept.
constexpr const char REQUIRED_LIBSPECTRUM_VERSION[] = "0.2.0";

// Checks that the linked libspectrum is at least `required`, installs the
// tools' error handler and zeroing allocators, and initialises the library.
// Returns 0 when ready, 1 otherwise (after the version message, if that was
// the reason). library_startup() passes REQUIRED_LIBSPECTRUM_VERSION.
[[nodiscard]] int library_startup_requiring(const char* required);
[[nodiscard]] int library_startup();

// The file that libspectrum is reading or parsing while one of these lives:
// each of the library's messages meanwhile names it ("libspectrum error:
// `<path>': ..."). They nest; the innermost names its file. A null path
// names none.
class CurrentFile {
 public:
  explicit CurrentFile(const char* path);
  ~CurrentFile();
  CurrentFile(const CurrentFile&) = delete;
  CurrentFile& operator=(const CurrentFile&) = delete;

 private:
  const char* outer_;
};

// The library's messages are dropped while one of these lives: for calls
// whose failure is no failure of the run (the caller goes on another way).
// How many of libspectrum's messages have been written: a call that fails
// without adding one gets a message of the caller's.
unsigned long library_report_count();

class QuietLibrary {
 public:
  QuietLibrary();
  ~QuietLibrary();
  QuietLibrary(const QuietLibrary&) = delete;
  QuietLibrary& operator=(const QuietLibrary&) = delete;

 private:
  bool outer_;
};

// ---------------------------------------------------------------------------
// Reading image files.

// Reads the whole of `path` into `file`, refusing more than `limit` bytes
// (see adapter::file_open). Returns 0, or libspectrum's error code after
// printing "couldn't read" on standard error; the buffer then holds
// nothing. On success the caller releases it with adapter::file_clear.
[[nodiscard]] int load_input_file(const char* path, adapter::File* file, size_t limit);

// Reads the MDR image at `path` into `cartridge` (see load_input_file);
// the file's bytes are released as soon as the cartridge holds them.
// Returns 0, 1 when the file cannot be read (after "couldn't read"), or
// libspectrum's error code when it rejects the image (after its message).
[[nodiscard]] int read_cartridge_image(const char* path, libspectrum_microdrive* cartridge);

// Parses the tape image in `file` into `tape` with libspectrum_tape_read and
// returns its result. When the parse fails, the tape is left empty (and
// still the caller's to free, even where libspectrum 1.5.0 would have freed
// it), and memory that libspectrum allocated during the call and then lost
// (it drops a block on some error paths) is given back, so nothing leaks.
[[nodiscard]] int read_tape_image(libspectrum_tape* tape, const adapter::File& file);

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

// The 17 bytes of a ROM tape header (after its flag byte): type, 10-byte
// name, data length, parameter 1, parameter 2; words little-endian.
constexpr size_t TAPE_HEADER_SIZE = 17;

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

// ---------------------------------------------------------------------------
// Creator record, host description and output files.

// Package version packed for a creator record: major = a*256+b,
// minor = c*256+d for the version "a.b.c.d", each part capped at 255.
void pack_creator_version(const char* version, uint16_t* major, uint16_t* minor);

// Builds a creator record naming `program`, with the package version and a
// custom text of the libspectrum version and the host. Returns 0 with the
// record in `*creator` (release it with libspectrum_creator_free), 1 when the
// host cannot be described, else libspectrum's error code; on failure no
// record is left for the caller.
[[nodiscard]] int make_creator_record(libspectrum_creator** creator, const char* program);

// Writes "sysname machine release" into `buffer` (at most `size` bytes with
// the NUL; longer text is cut). Returns 0, or 1 after a message when uname
// fails.
[[nodiscard]] int describe_host_system(char* buffer, size_t size);

// Writes `size` bytes to `path`, creating or replacing it. Returns 0, or 1
// after a message.
[[nodiscard]] int save_output_file(const char* path, const unsigned char* bytes, uint64_t size);

// How a ReplacedFile treats what is there: Replace as described below;
// WholeOnly never writes in place (a file that is not regular, or in a folder
// where no new file can be made, is refused: EINVAL or the reason); NewOnly
// makes only a new file.
enum class OutputMode { Replace, WholeOnly, NewOnly };

// A named output file replaced whole or not at all: it is written under a
// new name beside it (created exclusively), flushed to the disk and only
// then renamed over it, so a run that fails leaves an existing file as it
// was. A symbolic link is followed: the file it points to is replaced, the
// link stays. A new file gets the mode that the umask leaves of 0666; an
// existing one keeps its permission bits, and its owner and group where the
// caller may set them; one with other hard links is parted from them, which
// keep what it held. Written in place, as opening it would, are a file that
// is not regular (a pipe, a device) and an existing one in a folder where
// the caller may not make a file. A SIGHUP, SIGINT or SIGTERM that ends the run while the new
// file exists removes it.
class ReplacedFile {
 public:
  ReplacedFile() = default;
  ~ReplacedFile() { abandon(false); }
  ReplacedFile(const ReplacedFile&) = delete;
  ReplacedFile& operator=(const ReplacedFile&) = delete;

  // Opens `path` for writing. Returns 0, or an errno value with nothing
  // made (a folder gives EISDIR, an empty path ENOENT). With NewOnly, an
  // existing `path` (a dangling link too) gives EEXIST, and so does
  // commit() when one has been made meanwhile.
  [[nodiscard]] int open(const char* path, OutputMode mode = OutputMode::Replace);
  std::FILE* stream() const { return stream_; }
  // Writes `size` bytes straight to the file, past the stream, which must
  // hold nothing. Returns 0 or an errno value.
  [[nodiscard]] int write_all(const unsigned char* bytes, uint64_t size);
  // Flushes the stream and the file to the disk, closes it and puts it into
  // place. Returns 0, or an errno value; the caller then abandons it.
  [[nodiscard]] int commit();
  // Closes the file after a failure: an existing file is left as it was; a
  // new one is removed, or kept with what was written when `keep_new`.
  void abandon(bool keep_new);

 private:
  std::FILE* stream_ = nullptr;
  std::string target_;     // the file renamed over
  std::string temporary_;  // empty: written in place
  bool existed_ = false;
  bool must_be_new_ = false;

  // Gives the new file its name. Returns 0 or an errno value.
  int put_in_place();
};

// Writes `size` bytes to `path` through a ReplacedFile; an existing `path`
// that the caller may not write, or that is a folder, is refused. Returns
// 0, or 1 after "couldn't open `PATH': REASON" (the file could not be made)
// or "couldn't write `PATH': REASON" (writing, flushing or renaming failed).
// With WholeOnly, an existing `path` that cannot be replaced whole is left
// as it was, after "couldn't replace `PATH' whole: REASON; it is left as it
// was".
[[nodiscard]] int replace_output_file(const char* path, const unsigned char* bytes, uint64_t size,
                                      OutputMode mode = OutputMode::Replace);

// As replace_output_file, but only ever makes a new file: an existing
// `path` (or one made while this writes) is refused with "`PATH' exists
// already; not overwritten".
[[nodiscard]] int create_output_file(const char* path, const unsigned char* bytes, uint64_t size);

#endif
