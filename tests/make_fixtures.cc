// Writes the sample images used by the README's demonstration.
#include <cstdio>
#include <exception>
#include <string>

#include "fixtures/mdr_builder.h"
#include "fixtures/tape_builder.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <directory>\n", argv[0]);
    return 1;
  }
  try {
    std::string dir = argv[1];
    fixtures::sample_cartridge().write(dir + "/sample.mdr");
    // A BASIC header block and its data block, as SAVE "hello" writes them.
    fixtures::Bytes header = {0x00, 'h', 'e',  'l',  'l',  'o',  ' ',  ' ', ' ',
                              ' ',  ' ', 0x05, 0x00, 0x0A, 0x00, 0x05, 0x00};
    fixtures::Bytes program = {0x00, 0x0A, 0x01, 0x00, 0xE7};
    fixtures::Bytes tape = fixtures::tap_block(0x00, header);
    fixtures::Bytes data = fixtures::tap_block(0xFF, program);
    tape.insert(tape.end(), data.begin(), data.end());
    fixtures::write_file(dir + "/sample.tap", tape);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", argv[0], e.what());
    return 1;
  }
  return 0;
}
