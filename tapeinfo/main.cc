// tapeinfo: lists what ZX Spectrum tape images hold, block by block.
#include <cstdio>

#include "host.h"
#include "tapeinfo.h"

namespace {

void print_help() {
  std::printf(
      "Usage: %s [OPTION]... <tape file>...\nLists the blocks of tape images (TAP, TZX, PZX, CSW, WAV and the other formats\nlibspectrum reads): the files they hold, their checksums and playing times.\n\nOptions:\n  -s, --short    One line per block.\n  -l, --list     List each program's lines and variables after its data block.\n  -d, --dump     Dump the bytes of each data block in hex after its paragraph.\n  -h, --help     Display this help and exit.\n  -V, --version  Output version information and exit.\n\nExit status: 0 when every tape was listed and every checksum is right, 2 when\nevery tape was listed but some checksum is wrong, 1 when a tape could not be\nread or was refused.\n\n",
      program_name);
  print_help_tail("tapeinfo");
}

}  // namespace

int main(int argc, char** argv) {
  start_tool(argv[0]);
  bool short_form = false;
  ContentShown shown;
  int status = read_options(argc, argv, "tapeinfo", "sldhV",
                            {{"short", no_argument, nullptr, 's'},
                             {"list", no_argument, nullptr, 'l'},
                             {"dump", no_argument, nullptr, 'd'}},
                            print_help, [&](int c) {
                              switch (c) {
                                case 's':
                                  short_form = true;
                                  return true;
                                case 'l':
                                  shown.basic = true;
                                  return true;
                                case 'd':
                                  shown.dump = true;
                                  return true;
                                default:
                                  report_bad_option(c);
                                  return false;
                              }
                            });
  if (status == -1 && argc - optind < 1) {
    status = usage_error("[OPTION]... <tape file>...");
  }
  if (status >= 0) {
    return status | close_standard_output();
  }
  if (library_startup() != 0) {
    return TAPEINFO_FAILED;
  }
  bool failed = false;
  bool bad_checksum = false;
  for (int i = optind; i < argc; ++i) {
    int listed = list_tape(stdout, argv[i], short_form, shown);
    failed = failed || listed == TAPEINFO_FAILED;
    bad_checksum = bad_checksum || listed == TAPEINFO_BAD_CHECKSUM;
  }
  if (close_standard_output() != 0 || failed) {
    return TAPEINFO_FAILED;
  }
  return bad_checksum ? TAPEINFO_BAD_CHECKSUM : TAPEINFO_LISTED;
}
