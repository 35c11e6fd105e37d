// cartinfo: lists the contents of ZX Microdrive cartridge images.
#include <getopt.h>

#include <cstdio>

#include "cartinfo.h"
#include "config.h"

namespace {

const struct option long_options[] = {
    {"blocks", no_argument, nullptr, 'b'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

void print_help() {
  std::printf(
      "Usage: %s [OPTION] <microdrive file>...\nOutputs a description of the contents of MDR microdrive files.\n\nOptions:\n  -b, --blocks   List individual cartridge blocks instead of files.\n  -h, --help     Display this help and exit.\n  -V, --version  Output version information and exit.\n\nReport %s bugs to <%s>\n%s home page: <%s>\nFor complete documentation, see the manual page of %s.\n",
      program_name, "cartinfo", QUILLKIT_BUG_ADDRESS, QUILLKIT_PACKAGE, QUILLKIT_HOME_PAGE,
      "cartinfo");
}

void print_version() {
  std::puts("cartinfo (" QUILLKIT_PACKAGE ") " QUILLKIT_VERSION "\n" QUILLKIT_VERSION_TRAILER);
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
        print_version();
        return 0;
      default:
        bad_option = true;
        break;
    }
  }
  if (bad_option) {
    std::fprintf(stderr, "Try `%s --help' for more information.\n", program_name);
    return 1;
  }
  if (optind == argc) {
    std::fprintf(stderr, "%s: usage: %s [OPTION] <microdrive files>...\n", program_name,
                 program_name);
    std::fprintf(stderr, "Try `%s --help' for more information.\n", program_name);
    return 1;
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  program_name = argv[0];
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
