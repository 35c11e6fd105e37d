// cartinfo: lists the contents of ZX Microdrive cartridge images.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cartinfo.h"

namespace {

void print_help() {
  std::printf(
      "Usage: %s [OPTION] <microdrive file>...\nOutputs a description of the contents of MDR microdrive files.\n\nOptions:\n  -b, --blocks   List individual cartridge blocks instead of files.\n  -x, --extract=DIR  Also copy every file into the folder DIR, which must exist\n                 (with several images, into a folder for each inside it).\n  -h, --help     Display this help and exit.\n  -V, --version  Output version information and exit.\n\n",
      program_name);
  print_help_tail("cartinfo");
}

// Reads the options. Returns an exit status, or -1 to go on with the
// operands from `optind`.
int parse_command_line(int argc, char** argv, bool* list_blocks, const char** extract_dir) {
  int status = read_options(
      argc, argv, "cartinfo", "bx:hV",
      {{"blocks", no_argument, nullptr, 'b'}, {"extract", required_argument, nullptr, 'x'}},
      print_help, [&](int c) {
        if (c == 'b') {
          *list_blocks = true;
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

// With several images, each one's files go into a folder of its own inside
// `dir`, named after the image; with one, into `dir` itself. Returns "" (after
// a message) when that folder cannot be had.
std::string extract_folder(const char* dir, const char* image, bool several,
                           std::vector<std::string>* taken) {
  if (!several) {
    return dir;
  }
  std::string folder = std::string(dir) + "/" + safe_file_name(base_name(image), "", taken);
  return prepare_extract_folder(folder) == 0 ? folder : "";
}

}  // namespace

int main(int argc, char** argv) {
  start_tool(argv[0]);
  bool list_blocks = false;
  const char* extract_dir = nullptr;
  int status = parse_command_line(argc, argv, &list_blocks, &extract_dir);
  if (status >= 0) {
    return status | close_standard_output();
  }
  struct stat info {};
  if (extract_dir != nullptr && (stat(extract_dir, &info) != 0 || !S_ISDIR(info.st_mode))) {
    std::fprintf(stderr, "%s: `%s' is not a folder to extract into: %s\n", program_name,
                 extract_dir,
                 std::strerror(errno != 0 && !S_ISREG(info.st_mode) ? errno : ENOTDIR));
    return 1 | close_standard_output();
  }
  if (library_startup() != 0) {
    return 1;
  }
  int run_status = 0;
  std::vector<std::string> folders;
  for (int i = optind; i < argc; ++i) {
    if (extract_dir == nullptr) {
      run_status |= list_cartridge(stdout, argv[i], list_blocks);
      continue;
    }
    std::string folder = extract_folder(extract_dir, argv[i], argc - optind > 1, &folders);
    if (folder.empty()) {
      run_status |= 1 | list_cartridge(stdout, argv[i], list_blocks);
      continue;
    }
    run_status |= list_cartridge(stdout, argv[i], list_blocks, folder.c_str());
  }
  // A listing that never reached its reader is a failure too.
  return run_status | close_standard_output();
}
