// What every tool of the suite shares, with no dependency beyond the C and
// C++ libraries: the program name of the diagnostics, the state of the
// standard streams, the texts around option parsing, and the way a run ends
// when memory runs out.
#ifndef QUILLKIT_COMMON_COMMON_H
#define QUILLKIT_COMMON_COMMON_H

#include <getopt.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

// argv[0] exactly as received; set first thing in main, never changed.
extern const char* program_name;

// Sets program_name, makes sure descriptors 0, 1 and 2 are open (on
// /dev/null, with the mode that makes any use of them fail, when they were
// closed) so that no file the tool opens can take their place, and installs
// the memory-exhaustion handler for operator new. Call first thing in main.
void start_tool(const char* argv0);

// Flushes and closes standard output. Returns 0, or 1 after
// "<program>: write error: <reason>" on standard error when anything written
// to it was lost (a full disk, a closed descriptor). Call once, last.
[[nodiscard]] int close_standard_output();

// The last component of `path`: what follows its last '/', or all of it.
const char* base_name(const char* path);

// "Try `<program> --help' for more information." on standard error.
void print_try_help();

// "<program>: usage: <program> <synopsis>" and the Try line on standard
// error; returns 1, the status of a wrong command line.
int usage_error(const char* synopsis);

// The lines that end every help text, for `tool`.
void print_help_tail(const char* tool);

// The version text of `tool`.
void print_version(const char* tool);

// An option that getopt_long returned but the tool does not take: getopt's
// own message has been printed for '?'; any other character gets
// "<program>: unknown option `<c>'".
void report_bad_option(int c);

// Reads the options of `tool` with getopt_long. `short_options` are all of
// them, "hV" included; `own` are the tool's long options, to which "help"
// and "version" are added. -h and -V print `help` or the version text and
// end the run with status 0 as soon as they are met, even after a rejected
// option. `take(c)` handles each other option and returns false, having said
// why, to reject it; parsing goes on, and a rejection ends in the Try line.
// Returns -1 to go on with the operands from optind, or the exit status.
template <typename Take>
int read_options(int argc, char** argv, const char* tool, const char* short_options,
                 std::vector<option> own, void (*help)(), Take take) {
  own.push_back({"help", no_argument, nullptr, 'h'});
  own.push_back({"version", no_argument, nullptr, 'V'});
  own.push_back({nullptr, 0, nullptr, 0});
  bool bad_option = false;
  int c;
  while ((c = getopt_long(argc, argv, short_options, own.data(), nullptr)) != -1) {
    if (c == 'h') {
      help();
      return 0;
    }
    if (c == 'V') {
      print_version(tool);
      return 0;
    }
    if (c == '?' || !take(c)) {
      bad_option = true;
    }
  }
  if (bad_option) {
    print_try_help();
    return 1;
  }
  return -1;
}

// Writes `text` to `out` with every byte that could steer a terminal made
// visible as '?': C0 controls, DEL, and bytes that are not part of valid
// UTF-8 or that encode a C1 control. Valid UTF-8 text is kept as it is.
void print_visible(std::FILE* out, const char* text);

// A file name given on the command line (-f) without the blanks at its
// end, which pad a ZX name to 10 characters and are no part of it as the
// tools print it.
std::string file_name_argument(const char* text);

// `text` as print_visible writes it.
std::string visible_text(const char* text);

// The system's write(2), or a stand-in that tests make fail.
using WriteCall = ssize_t (*)(int fd, const void* bytes, size_t count);

// Writes all `size` bytes to `fd`, going on after a short write or an
// interrupted one. Returns 0, or the errno value of the write that failed
// (EIO for one that wrote nothing without a reason); how much of it reached
// the file is then unknown.
[[nodiscard]] int write_whole(int fd, const void* bytes, uint64_t size, WriteCall call = ::write);

// "<program>: memory exhausted" on standard error, then exit status 1.
[[noreturn]] void memory_exhausted();

// A deleter that hands an object back to the function that releases it,
// ignoring its result: Owned<libspectrum_tape, libspectrum_tape_free>.
template <typename T, auto Release>
struct Releaser {
  void operator()(T* object) const { (void)Release(object); }
};
template <typename T, auto Release>
using Owned = std::unique_ptr<T, Releaser<T, Release>>;

#endif
