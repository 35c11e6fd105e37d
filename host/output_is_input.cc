// Whether an output is the input file itself; see host.h.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "host.h"

bool output_is_input(const char* input, const char* output) {
  struct stat source {};
  struct stat target {};
  if (stat(input, &source) != 0) {
    return false;  // reading it will say why
  }
  int found = output != nullptr ? stat(output, &target) : fstat(STDOUT_FILENO, &target);
  return found == 0 && same_file(source, target);
}

bool output_allowed(const char* input, const char* output, const char* medium,
                    const char* wanted) {
  bool to_standard_output = std::strcmp(output, "-") == 0;
  if (to_standard_output && isatty(STDOUT_FILENO)) {
    std::fprintf(stderr,
                 "%s: a tape is not written to a terminal; name %s or redirect standard output\n",
                 program_name, wanted);
    return false;
  }
  if (!output_is_input(input, to_standard_output ? nullptr : output)) {
    return true;
  }
  if (to_standard_output) {
    std::fprintf(stderr, "%s: standard output is the %s `%s' itself; nothing written\n",
                 program_name, medium, visible_text(input).c_str());
  } else {
    std::fprintf(stderr, "%s: `%s' is the %s `%s' itself; not replaced\n", program_name,
                 visible_text(output).c_str(), medium, visible_text(input).c_str());
  }
  return false;
}
