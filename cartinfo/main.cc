// cartinfo: lists the contents of ZX Microdrive cartridge images.
#include <getopt.h>

#include <cstdio>

#include "cartinfo.h"

namespace {

const struct option long_options[] = {
    {"blocks", no_argument, nullptr, 'b'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

void print_help() {
  std::printf(
      "Usage: %s [OPTION] <microdrive file>...\nOutputs a description of the contents of MDR microdrive files.\n\nOptions:\n  -b, --blocks   List individual cartridge blocks instead of files.\n  -h, --help     Display this help and exit.\n  -V, --version  Output version information and exit.\n\n",
      program_name);
  print_help_tail("cartinfo");
}

// Reads the options. Returns an exit status, or -1 to go on with the
// operands from `optind`.
int parse_command_line(int argc, char** argv, bool* list_blocks) {
  bool bad_option = false;
  int c;
  while ((c = getopt_long(argc, argv, "bhV", long_options, nullptr)) != -1) {
    switch (c) {
      case 'b':
        *list_blocks = true;
        break;
      case 'h':
        print_help();
        return 0;
      case 'V':
        print_version("cartinfo");
        return 0;
      default:
        report_bad_option(c);
        bad_option = true;
        break;
    }
  }
  if (bad_option) {
    print_try_help();
    return 1;
  }
  if (optind == argc) {
    return usage_error("[OPTION] <microdrive files>...");
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  start_tool(argv[0]);
  bool list_blocks = false;
  int status = parse_command_line(argc, argv, &list_blocks);
  if (status >= 0) {
    return status | close_standard_output();
  }
  if (library_startup() != 0) {
    return 1;
  }
  int run_status = 0;
  for (int i = optind; i < argc; ++i) {
    run_status |= list_cartridge(stdout, argv[i], list_blocks);
  }
  // A listing that never reached its reader is a failure too.
  return run_status | close_standard_output();
}
