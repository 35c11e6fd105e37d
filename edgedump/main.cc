// edgedump: writes the pulses of a ZX Spectrum tape image as text.
#include <cstdio>

#include "edgedump.h"
#include "host.h"

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
  return dump_tape_edges(argv[optind], argv[optind + 1]);
}
