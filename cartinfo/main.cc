// cartinfo: lists the contents of ZX Microdrive cartridge images.
#include <cstdio>

#include "cartinfo.h"

namespace {

void print_help() {
  std::printf(
      "Usage: %s [OPTION] <microdrive file>...\nOutputs a description of the contents of MDR microdrive files.\n\nOptions:\n  -b, --blocks   List individual cartridge blocks instead of files.\n  -h, --help     Display this help and exit.\n  -V, --version  Output version information and exit.\n\n",
      program_name);
  print_help_tail("cartinfo");
}

// Reads the options. Returns an exit status, or -1 to go on with the
// operands from `optind`.
int parse_command_line(int argc, char** argv, bool* list_blocks) {
  int status = read_options(argc, argv, "cartinfo", "bhV", {{"blocks", no_argument, nullptr, 'b'}},
                            print_help, [&](int c) {
                              if (c == 'b') {
                                *list_blocks = true;
                                return true;
                              }
                              report_bad_option(c);
                              return false;
                            });
  if (status == -1 && optind == argc) {
    return usage_error("[OPTION] <microdrive files>...");
  }
  return status;
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
