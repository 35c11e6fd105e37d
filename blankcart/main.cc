// blankcart: makes a blank formatted ZX Microdrive cartridge image.
#include <cstdio>

#include "blankcart.h"
#include "host.h"

namespace {

void print_help() {
  std::printf(
      "Usage: %s [OPTION]... <microdrive file>\nMakes a blank formatted MDR microdrive file, as a new file.\n\nOptions:\n  -n, --name=NAME      Name the cartridge NAME (1 to 10 printable ASCII\n                       characters; default: the file's name).\n  -b, --blocks=N       Make N sectors, 10 to 254 (default 254).\n  -w, --write-protect  Mark the cartridge write-protected.\n  -h, --help           Display this help and exit.\n  -V, --version        Output version information and exit.\n\nExit status: 0 when the cartridge was made, 1 on failure.\n\n",
      program_name);
  print_help_tail("blankcart");
}

}  // namespace

int main(int argc, char** argv) {
  start_tool(argv[0]);
  NewCartridge request;
  int status = read_options(argc, argv, "blankcart", "n:b:whV",
                            {{"name", required_argument, nullptr, 'n'},
                             {"blocks", required_argument, nullptr, 'b'},
                             {"write-protect", no_argument, nullptr, 'w'}},
                            print_help, [&](int c) {
                              switch (c) {
                                case 'n':
                                  return take_cartridge_name(optarg, &request);
                                case 'b':
                                  return take_sector_count(optarg, &request);
                                case 'w':
                                  request.write_protect = true;
                                  return true;
                                default:
                                  report_bad_option(c);
                                  return false;
                              }
                            });
  if (status == -1 && argc - optind != 1) {
    status = usage_error("[OPTION]... <microdrive file>");
  }
  if (status >= 0) {
    return status | close_standard_output();
  }
  if (library_startup() != 0) {
    return 1;
  }
  status = make_blank_cartridge(argv[optind], request);
  return close_standard_output() != 0 ? 1 : status;
}
