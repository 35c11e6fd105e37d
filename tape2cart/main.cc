// tape2cart: saves the files of a tape image onto a ZX Microdrive cartridge
// image, as the Interface 1 saves them.
#include <cstdio>
#include <string>

#include "host.h"
#include "tape2cart.h"

namespace {

void print_help() {
  std::printf(
      "Usage: %s [OPTION]... <tape file> <microdrive file>\nSaves the files of a tape image onto an MDR microdrive file, as the Interface 1\nsaves them; a microdrive file that does not exist is made blank first.\n\nOptions:\n  -f, --file=NAME   Save only the file NAME (as cartinfo prints it); may be\n                    repeated.\n  -r, --replace     Replace a file of the same name on the cartridge.\n  -n, --name=NAME   Name a new cartridge NAME (1 to 10 printable ASCII\n                    characters; default: the file's name).\n  -b, --blocks=N    Give a new cartridge N sectors, 10 to 254 (default 254).\n  -h, --help        Display this help and exit.\n  -V, --version     Output version information and exit.\n\nExit status: 0 when every file was saved, 2 when some were left out or\ndamaged, 1 on failure, with nothing written.\n\n",
      program_name);
  print_help_tail("tape2cart");
}

}  // namespace

int main(int argc, char** argv) {
  start_tool(argv[0]);
  Tape2cartRequest request;
  int status = read_options(argc, argv, "tape2cart", "f:rn:b:hV",
                            {{"file", required_argument, nullptr, 'f'},
                             {"replace", no_argument, nullptr, 'r'},
                             {"name", required_argument, nullptr, 'n'},
                             {"blocks", required_argument, nullptr, 'b'}},
                            print_help, [&](int c) {
                              switch (c) {
                                case 'f':
                                  request.wanted.push_back(file_name_argument(optarg));
                                  return true;
                                case 'r':
                                  request.replace = true;
                                  return true;
                                case 'n':
                                  return take_cartridge_name(optarg, &request.blank);
                                case 'b':
                                  return take_sector_count(optarg, &request.blank);
                                default:
                                  report_bad_option(c);
                                  return false;
                              }
                            });
  if (status == -1 && argc - optind != 2) {
    status = usage_error("[OPTION]... <tape file> <microdrive file>");
  }
  if (status >= 0) {
    return status | close_standard_output();
  }
  if (library_startup() != 0) {
    return TAPE2CART_FAILED;
  }
  status = save_tape_files(argv[optind], argv[optind + 1], request);
  return close_standard_output() != 0 ? TAPE2CART_FAILED : status;
}
