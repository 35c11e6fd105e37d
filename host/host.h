// What the tools share with the host system: libspectrum's start-up and
// messages, input files read whole, creator records that describe this
// program and host, and the output service that replaces a file whole or
// not at all.
#ifndef QUILLKIT_HOST_HOST_H
#define QUILLKIT_HOST_HOST_H

#include <libspectrum.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "common.h"

// The bridge to libspectrum lives in namespace `adapter`, so that no name
// of it can clash with a symbol that some libspectrum release defines.
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
  // True for bzip2 data that bzip2_cut_short refuses, or gzip data that
  // expands past BZIP2_LIMIT; such a file is never handed to libspectrum
  // (its type is left unknown).
  bool cut_short;
};

// The most that bzip2 data may expand to: far beyond any real image, and
// short of what would exhaust memory.
constexpr uint64_t BZIP2_LIMIT = uint64_t{1} << 30;

// True when `bytes` are bzip2 data that end before their stream does, or
// expand beyond BZIP2_LIMIT. libspectrum 1.5.0 waits for more input without
// end on the first, and aborts when memory runs out on the second.
[[nodiscard]] bool bzip2_cut_short(const unsigned char* bytes, size_t length);

// True when `bytes` are gzip data whose first stream expands beyond
// `limit` bytes. libspectrum 1.5.0 expands a gzip image whole, twice (to
// find its type, then to read it), however large: a file of a few
// megabytes takes gigabytes of memory and minutes.
[[nodiscard]] bool gzip_expands_past(const unsigned char* bytes, size_t length, uint64_t limit);

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

// As file_open, but reads the file already open on `fd` (named `path` in
// messages) from where it stands, and leaves it open.
[[nodiscard]] int file_read(File* file, int fd, const char* path, size_t limit);

// Says through libspectrum_error_function that `path` could not be opened,
// for `error`, as file_open says it.
void report_unopened(const char* path, int error);

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

}  // namespace adapter

// ---------------------------------------------------------------------------
// Library start-up and messages.

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
// Reading input files.

// Expands the gzip or bzip2 data of `length` bytes at `bytes` (a whole
// stream, the first of several) into `expanded`, followed by
// adapter::FILE_PADDING zero bytes. Returns false, with `expanded` empty,
// for other data, data that is damaged or cut short, or that expands past
// BZIP2_LIMIT.
[[nodiscard]] bool expand_compressed(const unsigned char* bytes, size_t length,
                                     std::vector<unsigned char>* expanded);

// Reads the whole of `path` into `file`, refusing more than `limit` bytes
// (see adapter::file_open). Returns 0, or libspectrum's error code after
// printing "couldn't read" on standard error; the buffer then holds
// nothing. On success the caller releases it with adapter::file_clear.
[[nodiscard]] int load_input_file(const char* path, adapter::File* file, size_t limit);

// As load_input_file, for the file open on `fd` (see adapter::file_read).
[[nodiscard]] int load_input_descriptor(int fd, const char* path, adapter::File* file,
                                        size_t limit);

// What load_input_file says of a file that cannot be opened, for `error`.
void report_unopened_input(const char* path, int error);

// Says that libspectrum failed with `error` without a word of its own (no
// message since library_report_count() gave `reports_before`), through the
// handler that writes its messages; says nothing when error is 0 or the
// library spoke.
void report_unexplained(int error, unsigned long reports_before);

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

// A name in a folder, looked up once: the folder open, and the name of the
// entry in it, so that what follows (opening, looking again, replacing)
// works on that folder whatever becomes of the path meanwhile.
class FolderEntry {
 public:
  FolderEntry() = default;
  ~FolderEntry();
  FolderEntry(const FolderEntry&) = delete;
  FolderEntry& operator=(const FolderEntry&) = delete;

  // Looks `path` up: a symbolic link that names a file is followed, and the
  // entry is that file's (a link that names nothing stays the entry).
  // Returns 0, or an errno value (the folder cannot be opened; an empty
  // path gives ENOENT).
  [[nodiscard]] int look_up(const char* path);
  int folder() const { return folder_; }
  const char* name() const { return name_.c_str(); }
  // The entry's status, a link not followed. Returns 0 or an errno value.
  [[nodiscard]] int status(struct stat* entry) const;
  // Opens the entry with `flags`, a link not followed (ELOOP). Returns the
  // descriptor, or -1 with errno set.
  int open_file(int flags) const;

 private:
  int folder_ = -1;
  std::string name_;
};

// True when `a` and `b` describe one file.
bool same_file(const struct stat& a, const struct stat& b);

// True when the file `input` and the output (the file `output`, links
// followed, or standard output when `output` is null) are one file, reached
// by whatever name or link; false when either cannot be looked at.
bool output_is_input(const char* input, const char* output);

// Whether a tool may write `output` ("-": standard output), made from the
// `medium` ("tape", "cartridge") `input`: not to a terminal (the message
// asks for `wanted` instead, "a tape file"), and not over the input itself.
// Returns false after the message.
bool output_allowed(const char* input, const char* output, const char* medium, const char* wanted);

// How a ReplacedFile treats what is there: Replace as described below;
// WholeOnly never writes in place (a file that is not regular, or in a folder
// where no new file can be made, is refused: EINVAL or the reason) and
// replaces only the file that was there when it was opened (ESTALE from
// commit() when another has taken its name meanwhile); NewOnly makes only a
// new file.
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
// the caller may not make a file. A SIGHUP, SIGINT or SIGTERM that ends the
// run while the new file exists removes it. Up to MAX_REPLACED_FILES may be
// open at once; one more is refused with EMFILE.
class ReplacedFile {
 public:
  static constexpr int MAX_REPLACED_FILES = 8;

  ReplacedFile() = default;
  ~ReplacedFile();
  ReplacedFile(const ReplacedFile&) = delete;
  ReplacedFile& operator=(const ReplacedFile&) = delete;

  // Opens `path` for writing. Returns 0, or an errno value with nothing
  // made (a folder gives EISDIR, an empty path ENOENT). With NewOnly, an
  // existing `path` (a dangling link too) gives EEXIST, and so does
  // commit() when one has been made meanwhile.
  [[nodiscard]] int open(const char* path, OutputMode mode = OutputMode::Replace);
  // Opens the entry `name` of the open folder `folder` for writing, never
  // in place: `replaced` is the regular file it names now (see WholeOnly),
  // or null for a new file. Returns 0, or an errno value with nothing made.
  [[nodiscard]] int open_in(int folder, const char* name, OutputMode mode,
                            const struct stat* replaced);
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
  int folder_ = -1;        // the folder of the new file; -1: written in place
  std::string target_;     // the entry replaced, in that folder
  std::string temporary_;  // the new file's entry there, while it has that name
  int watch_ = -1;         // its slot among those a signal removes
  bool existed_ = false;
  bool must_be_new_ = false;
  bool check_replaced_ = false;
  struct stat replaced_ {};

  // Creates the new file beside the target. Returns its descriptor, or -1
  // with errno set.
  int create_beside();
  // Gives the new file its name. Returns 0 or an errno value.
  int put_in_place();
  // Forgets the new file's name, and the folder.
  void forget();
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

// As replace_output_file, for the entry `name` of the open folder `folder`
// (`path` in messages), which names `replaced` (a regular file) or, when
// that is null, nothing: with WholeOnly, the file replaced is that one or
// none, after "`PATH' was replaced while this ran; it is left as it was";
// with NewOnly, a file made meanwhile is not overwritten.
[[nodiscard]] int replace_output_entry(int folder, const char* name, const char* path,
                                       const unsigned char* bytes, uint64_t size, OutputMode mode,
                                       const struct stat* replaced);

// ---------------------------------------------------------------------------
// Copying an image's files into a folder (-x).

// Where -x copies files: the folder DIR, open, and with several images a
// fresh folder for each inside it.
// The names given out in one folder, kept in lower case (ASCII letters
// folded, as strcasecmp folds them), so that a name is looked up at once
// however many there are: a tape may hold tens of thousands of blocks, or
// as many files of one name.
struct TakenNames {
  std::unordered_set<std::string> folded;
  // By base name and extension, folded: the number to try next after it.
  std::unordered_map<std::string, unsigned> next_number;
};

struct ExtractTarget {
  int dir_fd;        // DIR, open as a folder
  std::string dir;   // DIR as given, for messages
  bool per_image;    // several images: a folder each
  TakenNames taken;  // names of the folders given out so far
};

// Opens the folder `dir` as `target` (a folder for each image when
// `per_image`). Returns 0 with target->dir_fd open (the caller's to close),
// or 1 after "`DIR' is not a folder to extract into: REASON" when `dir` does
// not exist or is no folder.
[[nodiscard]] int open_extract_target(const char* dir, bool per_image, ExtractTarget* target);

// Opens the folder `name` (relative to the folder `at_fd`, or AT_FDCWD) to
// make files in, following no link as its last name when `no_follow`.
// Returns the descriptor, or -1 with errno set.
int open_folder(int at_fd, const char* name, bool no_follow);

// The folder for the files of `image` under `target`: DIR itself for a
// single image; with several, a new folder inside DIR named after the
// image by safe_file_name, made by this call and never one that was there
// (a link among them). Returns 0 with `*folder_fd` open on it (the
// caller's to close) and `*folder` its name for messages, or 1 after a
// message.
[[nodiscard]] int make_image_folder(ExtractTarget* target, const char* image, int* folder_fd,
                                    std::string* folder);

// A file name for `text` (a ZX name as printed) with `extension`, safe on
// any file system: no '/', '\\', ':', '*', '?', '"', '<', '>', '|' or control
// character (each becomes '_'), no leading '.' or '-', never empty, and
// not among `taken` (in any case; "-2", "-3"... are added), which it joins.
std::string safe_file_name(const std::string& text, const char* extension, TakenNames* taken);

// One image's folder as its files are copied in: open (not owned here),
// its name for messages, and the names given out in it so far.
struct ExtractFolder {
  int fd;
  std::string path;
  TakenNames taken;
};

// Writes the `size` bytes at `bytes` into `folder` as a new file named
// safe_file_name(text, extension), which joins folder->taken, so that a
// file and its companions ("title.scr", "title.png") never meet a name
// given out before. Never replaces anything there nor follows a link, and
// leaves nothing behind when it fails. Returns 0, or 1 after "`PATH' exists
// already; not overwritten", "couldn't create `PATH': REASON" or "couldn't
// write `PATH': REASON". `*written`, when given, gets the file's path
// for messages either way.
[[nodiscard]] int extract_file(ExtractFolder* folder, const std::string& text,
                               const char* extension, const unsigned char* bytes, size_t size,
                               std::string* written = nullptr);

// When `size` is that of a screen (6,912 bytes of bitmap and attributes),
// writes its picture into `folder` as a PNG file named after the file
// `written` (its path, as extract_file gives it) that holds them:
// "title.scr" gets "title.png" beside it. Returns 0 (also for data of any
// other size), or 1 after a message.
[[nodiscard]] int extract_screen_picture(ExtractFolder* folder, const std::string& written,
                                         const unsigned char* data, size_t size);

// "<program>: warning: WHAT is damaged (DAMAGE); copied to `PATH'", where
// `what` is the file as the listing names it ("\"title\"", "block 5").
void report_damaged_copy(const std::string& what, const std::string& damage,
                         const std::string& path);

#endif
