// Writes the sample images used by the README's demonstration.
#include <cstdio>
#include <exception>
#include <string>

#include "fixtures/mdr_builder.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <directory>\n", argv[0]);
    return 1;
  }
  try {
    fixtures::sample_cartridge().write(std::string(argv[1]) + "/sample.mdr");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", argv[0], e.what());
    return 1;
  }
  return 0;
}
