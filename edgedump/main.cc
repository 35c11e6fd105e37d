// edgedump: writes the pulses of a ZX Spectrum tape image as text.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

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

  std::FILE* out = stdout;
  if (output[0] != '-') {
    out = std::fopen(output, "w");
    if (out == nullptr) {
      std::fprintf(stderr, "%s: error opening pulse file for writing: %s\n", program_name,
                   std::strerror(errno));
      return 1;
    }
  }

  line_writer_init(&writer, out);
  if (dump_pulses(tape.get(), &writer) != 0) {
    // The lines written so far stay in the file.
    (void)line_writer_flush(&writer);
    (void)std::fclose(out);
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
    std::fprintf(stderr, "%s: error closing pulse file: %s\n", program_name, std::strerror(error));
    return 1;
  }
  return 0;
}
