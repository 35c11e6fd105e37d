// Whether an output is the input file itself; see host.h.
#include <sys/stat.h>
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
