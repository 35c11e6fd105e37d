// blankide: creates a blank IDE hard-disk image in HDF format.
#include <strings.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common.h"
#include "image.h"

namespace {

void print_help() {
  std::printf(
      "Usage: %s [OPTION]... <cylinders> <heads> <sectors> <file>\n"
      "Creates a blank image of an IDE hard disk in .hdf format.\n"
      "\n"
      "Options:\n"
      "  -c             Create .hdf image in compact mode, where only the low byte\n"
      "                   of every word is stored in the image.\n"
      "  -s             Do not create .hdf image as a sparse file, i.e., empty\n"
      "                   space synthesised by the operating system.\n"
      "  -v <version>   Specifies the version of .hdf image to be created (values\n"
      "                   1.0 or 1.1). Defaults to creating version 1.1 files.\n"
      "  -h, --help     Display this help and exit.\n"
      "  -V, --version  Output version information and exit.\n"
      "\n"
      "Non-option arguments:\n"
      "  cylinders      Specifies the number of cylinders in the image.\n"
      "  heads          Specifies the number of heads in the image.\n"
      "  sectors        Specifies the number of sectors in the image.\n"
      "  file           Specifies the file to which the image should be written.\n"
      "\n",
      program_name);
  print_help_tail("blankide");
}

// Reads the options into `request`. Returns an exit status, or -1 to go on
// with the operands from `optind`.
int parse_command_line(int argc, char** argv, ImageRequest* request) {
  int status = read_options(argc, argv, "blankide", "csv:hV", {}, print_help, [&](int c) {
    switch (c) {
      case 'c':
        request->compact = true;
        return true;
      case 's':
        request->sparse = false;
        return true;
      case 'v':
        if (strcasecmp(optarg, "1.0") == 0) {
          request->version = HdfVersion::V1_0;
          return true;
        }
        if (strcasecmp(optarg, "1.1") == 0) {
          request->version = HdfVersion::V1_1;
          return true;
        }
        std::fprintf(stderr, "%s: version not supported\n", program_name);
        return false;
      default:
        report_bad_option(c);
        return false;
    }
  });
  if (status == -1 && argc - optind != 4) {
    return usage_error("[-c] [-s] [-v<version>] <cylinders> <heads> <sectors> <hdf>");
  }
  return status;
}

// Reads a geometry operand as atoi does (leading blanks, a sign, the digits
// that follow; anything after them ignored; no digits at all read as 0), but
// refuses a value outside the range of int, which atoi leaves undefined.
// Returns false after a message naming the operand as typed.
bool read_geometry_operand(const char* what, const char* text, int32_t* value) {
  const char* p = text;
  while (std::isspace(static_cast<unsigned char>(*p))) {
    ++p;
  }
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') {
    ++p;
  }
  int64_t magnitude = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    magnitude = magnitude * 10 + (*p - '0');
    if (magnitude > int64_t{INT32_MAX} + 1) {
      break;
    }
  }
  int64_t result = negative ? -magnitude : magnitude;
  if (result > INT32_MAX || result < INT32_MIN) {
    std::fprintf(stderr, "%s: %s `%s' is out of range\n", program_name, what,
                 visible_text(text).c_str());
    return false;
  }
  *value = static_cast<int32_t>(result);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  start_tool(argv[0]);
  ImageRequest request{HdfVersion::V1_1, false, true, 0, 0, 0, nullptr};
  int status = parse_command_line(argc, argv, &request);
  if (status >= 0) {
    return status | close_standard_output();
  }
  if (!read_geometry_operand("cylinders", argv[optind], &request.cylinders) ||
      !read_geometry_operand("heads", argv[optind + 1], &request.heads) ||
      !read_geometry_operand("sectors", argv[optind + 2], &request.sectors)) {
    return 1;
  }
  request.path = argv[optind + 3];
  return create_image(request);
}
