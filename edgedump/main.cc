// edgedump: writes the pulses of a ZX Spectrum tape image as text.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "load_tape.h"
#include "pulse_dump.h"
#include "support.h"

namespace {

void print_help() {
  std::printf(
      "Usage: %s [OPTION] <infile> <outfile>\nDumps the pulse information from ZX Spectrum tape images to text files.\n\nOptions:\n  -h, --help     Display this help and exit.\n  -V, --version  Output version information and exit.\n\n",
      program_name);
  print_help_tail("edgedump");
}

// Reads the options. Returns an exit status, or -1 to go on with the two
// operands from `optind`.
int parse_command_line(int argc, char** argv) {
  int status = read_options(argc, argv, "edgedump", "hV", {}, print_help, [](int c) {
    report_bad_option(c);
    return false;
  });
  if (status == -1 && argc - optind < 2) {
    return usage_error("<infile> <outfile>");
  }
  return status;
}

LineWriter writer;  // 64 KiB: too large for the stack of every platform

// Where the pulse lines go. A regular file (or a new one) is written under
// a temporary name beside it and renamed into place once complete, so that
// a run that fails leaves an existing file as it was; standard output and
// other files (devices, pipes) are written as they are.
struct Output {
  std::FILE* stream = nullptr;
  std::string target;     // the file renamed over (a symbolic link's target)
  std::string temporary;  // empty: written in place
  bool existed = false;   // a file of the target's name was there before
};

// Opens `name` as Output; on failure returns false with errno set. A file
// with other hard links, or beside which no file can be made, is written in
// place.
bool open_output(const char* name, Output* output) {
  if (name[0] == '-') {
    output->stream = stdout;
    return true;
  }
  struct stat info {};
  bool exists = stat(name, &info) == 0;
  if (exists && (!S_ISREG(info.st_mode) || info.st_nlink > 1)) {
    output->stream = std::fopen(name, "w");
    return output->stream != nullptr;
  }
  output->target = name;
  mode_t mode = 0;
  if (exists) {
    char resolved[PATH_MAX];
    if (realpath(name, resolved) != nullptr) {
      output->target = resolved;
    }
    output->existed = true;
    mode = info.st_mode & 07777;
  } else {
    mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  size_t slash = output->target.rfind('/');
  std::string dir = slash == std::string::npos ? "" : output->target.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? output->target : output->target.substr(slash + 1);
  std::string pattern = dir + "." + base + ".XXXXXX";
  int fd = mkostemp(&pattern[0], O_CLOEXEC);
  if (fd < 0) {
    if (!exists) {
      return false;
    }
    output->target.clear();
    output->stream = std::fopen(name, "w");
    return output->stream != nullptr;
  }
  output->temporary = pattern;
  if (exists && fchown(fd, info.st_uid, info.st_gid) != 0) {
    // Kept by whoever runs the tool, where it may not give the file away.
  }
  if (fchmod(fd, mode) != 0 || (output->stream = fdopen(fd, "w")) == nullptr) {
    int saved = errno;
    close(fd);
    unlink(pattern.c_str());
    errno = saved;
    return false;
  }
  return true;
}

// Puts a complete temporary file into place. Returns 0 or an errno value.
int commit_output(const Output& output) {
  if (!output.temporary.empty() &&
      std::rename(output.temporary.c_str(), output.target.c_str()) != 0) {
    int saved = errno;
    unlink(output.temporary.c_str());
    return saved;
  }
  return 0;
}

// After a failure: an existing file stays as it was, a new one keeps the
// lines written so far.
void abandon_output(const Output& output) {
  if (output.temporary.empty()) {
    return;
  }
  if (output.existed) {
    unlink(output.temporary.c_str());
  } else {
    (void)commit_output(output);
  }
}

}  // namespace

int main(int argc, char** argv) {
  start_tool(argv[0]);
  int status = parse_command_line(argc, argv);
  if (status >= 0) {
    return status | close_standard_output();
  }
  if (library_startup() != 0) {
    return 1;
  }
  const char* input = argv[optind];
  const char* output = argv[optind + 1];

  // The input is read and released before the output is touched, so a bad
  // input leaves an existing output alone, and one file may be both.
  LoadedTape loaded = load_tape(input);
  if (loaded.problem != TapeProblem::None) {
    report_tape_problem(input, loaded);
    return 1;
  }
  TapePtr tape = std::move(loaded.tape);

  Output destination;
  if (!open_output(output, &destination)) {
    std::fprintf(stderr, "%s: error opening pulse file for writing: %s\n", program_name,
                 std::strerror(errno));
    return 1;
  }
  std::FILE* out = destination.stream;

  line_writer_init(&writer, out);
  int walked = 0;
  {
    CurrentFile playing(input);
    walked = dump_pulses(tape.get(), &writer);
  }
  if (walked != 0) {
    int block = -1;
    {
      QuietLibrary asking;
      (void)libspectrum_tape_position(&block, tape.get());
    }
    std::fprintf(stderr, "%s: `%s' is damaged: the walk failed in block %d\n", program_name, input,
                 block + 1);
    (void)line_writer_flush(&writer);
    (void)std::fclose(out);
    abandon_output(destination);
    return 1;
  }

  // A line lost on the way out is a failure even when the close succeeds.
  int error = line_writer_flush(&writer);
  if (error == 0 && std::fflush(out) != 0) {
    error = errno;
  }
  if (error == 0 && std::ferror(out)) {
    error = EIO;
  }
  if (std::fclose(out) != 0 && error == 0) {
    error = errno;
  }
  if (error != 0) {
    abandon_output(destination);
  } else {
    error = commit_output(destination);
  }
  if (error != 0) {
    std::fprintf(stderr, "%s: error closing pulse file: %s\n", program_name, std::strerror(error));
    return 1;
  }
  return 0;
}
