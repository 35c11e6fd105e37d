// Whole-buffer output to a named file.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "support.h"

int save_output_file(const char* path, const unsigned char* bytes, uint64_t size) {
  std::FILE* out = std::fopen(path, "wb");
  if (out == nullptr) {
    std::fprintf(stderr, "%s: couldn't open `%s': %s\n", program_name, path, std::strerror(errno));
    return 1;
  }
  size_t written = size > 0 ? std::fwrite(bytes, 1, static_cast<size_t>(size), out) : 0;
  if (written != size) {
    std::fprintf(stderr, "%s: wrote only %lu of %lu bytes to `%s'\n", program_name,
                 static_cast<unsigned long>(written), static_cast<unsigned long>(size), path);
    (void)std::fclose(out);
    return 1;
  }
  if (std::fclose(out) != 0) {
    std::fprintf(stderr, "%s: error closing `%s': %s\n", program_name, path, std::strerror(errno));
    return 1;
  }
  return 0;
}
