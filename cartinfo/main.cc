// cartinfo: lists the contents of ZX Microdrive cartridge images.
#include <unistd.h>

#include <cstdio>

#include "cartinfo.h"

namespace {

void print_help() {
  std::printf(
      "Usage: %s [OPTION] <microdrive file>...\nOutputs a description of the contents of MDR microdrive files.\n\nOptions:\n  -b, --blocks   List individual cartridge blocks instead of files.\n  -l, --list     List each program's lines and variables after its paragraph.\n  -d, --dump     Dump the bytes of each file in hex after its paragraph.\n  -x, --extract=DIR  Also copy every file into the folder DIR, which must exist\n                 (with several images, into a folder for each inside it).\n  -h, --help     Display this help and exit.\n  -V, --version  Output version information and exit.\n\n",
      program_name);
  print_help_tail("cartinfo");
}

// Reads the options. Returns an exit status, or -1 to go on with the
// operands from `optind`.
int parse_command_line(int argc, char** argv, bool* list_blocks, const char** extract_dir,
                       ContentShown* shown) {
  int status = read_options(argc, argv, "cartinfo", "bldx:hV",
                            {{"blocks", no_argument, nullptr, 'b'},
                             {"list", no_argument, nullptr, 'l'},
                             {"dump", no_argument, nullptr, 'd'},
                             {"extract", required_argument, nullptr, 'x'}},
                            print_help, [&](int c) {
                              if (c == 'b') {
                                *list_blocks = true;
                                return true;
                              }
                              if (c == 'l' || c == 'd') {
                                (c == 'l' ? shown->basic : shown->dump) = true;
                                return true;
                              }
                              if (c == 'x') {
                                *extract_dir = optarg;
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
  const char* extract_dir = nullptr;
  ContentShown shown;
  int status = parse_command_line(argc, argv, &list_blocks, &extract_dir, &shown);
  if (status >= 0) {
    return status | close_standard_output();
  }
  ExtractTarget extract{-1, "", false, {}};
  if (extract_dir != nullptr &&
      open_extract_target(extract_dir, argc - optind > 1, &extract) != 0) {
    return 1 | close_standard_output();
  }
  if (library_startup() != 0) {
    return 1;
  }
  int run_status = 0;
  for (int i = optind; i < argc; ++i) {
    run_status |= list_cartridge(stdout, argv[i], list_blocks,
                                 extract_dir != nullptr ? &extract : nullptr, shown);
  }
  if (extract.dir_fd >= 0) {
    (void)close(extract.dir_fd);  // only read through; nothing to lose
  }
  // A listing that never reached its reader is a failure too.
  return run_status | close_standard_output();
}
