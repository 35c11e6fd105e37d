// cart2tape: writes the files of a ZX Microdrive cartridge image onto a tape
// image, as the ROM saves them.
#include <cstdio>
#include <string>
#include <vector>

#include "cart2tape.h"

namespace {

void print_help() {
  std::printf(
      "Usage: %s [OPTION]... <microdrive file> <tape file>\nWrites the files of an MDR microdrive file onto a tape image, as the ROM saves them.\nThe tape's format follows its name: .tap, .tzx, .spc, .sta or .ltp;\n'-' writes a TAP to standard output.\n\nOptions:\n  -f, --file=NAME  Copy only the file NAME (as cartinfo prints it); may be repeated.\n  -h, --help       Display this help and exit.\n  -V, --version    Output version information and exit.\n\nExit status: 0 when every file was written whole, 2 when some were written\ndamaged, 1 on failure.\n\n",
      program_name);
  print_help_tail("cart2tape");
}

}  // namespace

int main(int argc, char** argv) {
  start_tool(argv[0]);
  std::vector<std::string> wanted;
  int status = read_options(argc, argv, "cart2tape", "f:hV",
                            {{"file", required_argument, nullptr, 'f'}}, print_help, [&](int c) {
                              if (c == 'f') {
                                wanted.push_back(file_name_argument(optarg));
                                return true;
                              }
                              report_bad_option(c);
                              return false;
                            });
  if (status == -1 && argc - optind != 2) {
    status = usage_error("[OPTION]... <microdrive file> <tape file>");
  }
  if (status >= 0) {
    return status | close_standard_output();
  }
  if (library_startup() != 0) {
    return CART2TAPE_FAILED;
  }
  status = write_cartridge_tape(argv[optind], argv[optind + 1], wanted);
  return close_standard_output() != 0 ? CART2TAPE_FAILED : status;
}
