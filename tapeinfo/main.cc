// tapeinfo: lists what ZX Spectrum tape images hold, block by block.
#include <unistd.h>

#include <cstdio>

#include "host.h"
#include "tapeinfo.h"

namespace {

void print_help() {
  std::printf(
      "Usage: %s [OPTION]... <tape file>...\nLists the blocks of tape images (TAP, TZX, PZX, CSW, WAV and the other formats\nlibspectrum reads): the files they hold, their checksums and playing times.\n\nOptions:\n  -s, --short    One line per block.\n  -l, --list     List each program's lines and variables after its data block.\n  -d, --dump     Dump the bytes of each data block in hex after its paragraph.\n  -x, --extract=DIR  Also copy every file into the folder DIR, which must exist\n                 (with several tapes, into a folder for each inside it).\n  -h, --help     Display this help and exit.\n  -V, --version  Output version information and exit.\n\nExit status: 0 when every tape was listed and every checksum is right, 2 when\nevery tape was listed but some checksum is wrong, a tape is cut short or a\ndamaged file was copied, 1 when a tape could not be read or was refused, or a\nfile could not be copied.\n\n",
      program_name);
  print_help_tail("tapeinfo");
}

}  // namespace

int main(int argc, char** argv) {
  start_tool(argv[0]);
  bool short_form = false;
  ContentShown shown;
  const char* extract_dir = nullptr;
  int status = read_options(argc, argv, "tapeinfo", "sldx:hV",
                            {{"short", no_argument, nullptr, 's'},
                             {"list", no_argument, nullptr, 'l'},
                             {"dump", no_argument, nullptr, 'd'},
                             {"extract", required_argument, nullptr, 'x'}},
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
                                case 'x':
                                  extract_dir = optarg;
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
  ExtractTarget extract{-1, "", false, {}};
  if (extract_dir != nullptr &&
      open_extract_target(extract_dir, argc - optind > 1, &extract) != 0) {
    return TAPEINFO_FAILED | close_standard_output();
  }
  if (library_startup() != 0) {
    return TAPEINFO_FAILED;
  }
  bool failed = false;
  bool bad_checksum = false;
  for (int i = optind; i < argc; ++i) {
    int listed = list_tape(stdout, argv[i], short_form, shown,
                           extract_dir != nullptr ? &extract : nullptr);
    failed = failed || listed == TAPEINFO_FAILED;
    bad_checksum = bad_checksum || listed == TAPEINFO_BAD_CHECKSUM;
  }
  if (extract.dir_fd >= 0) {
    (void)close(extract.dir_fd);  // only read through; nothing to lose
  }
  if (close_standard_output() != 0 || failed) {
    return TAPEINFO_FAILED;
  }
  return bad_checksum ? TAPEINFO_BAD_CHECKSUM : TAPEINFO_LISTED;
}
