// What every tool of the suite shares, with no dependency beyond the C and
// C++ libraries: the program name of the diagnostics, the state of the
// standard streams, the texts around option parsing, and the way a run ends
// when memory runs out.
#ifndef QUILLKIT_COMMON_COMMON_H
#define QUILLKIT_COMMON_COMMON_H

#include <cstdio>
#include <memory>

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

// Writes `text` to `out` with every byte that could steer a terminal made
// visible as '?': C0 controls, DEL, and bytes that are not part of valid
// UTF-8 or that encode a C1 control. Valid UTF-8 text is kept as it is.
void print_visible(std::FILE* out, const char* text);

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
