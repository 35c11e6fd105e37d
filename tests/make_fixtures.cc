// Writes the sample images used by the README's demonstration.
#include <cstdio>
#include <exception>
#include <string>

#include "fixtures/basic_builder.h"
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
    // A loader in BASIC, SAVE "loader" LINE 10, on a tape and a cartridge.
    uint16_t program_length = 0;
    fixtures::Bytes loader = fixtures::sample_program(&program_length);
    auto size = static_cast<uint16_t>(loader.size());
    fixtures::Bytes loader_header = {0x00, 'l', 'o', 'a', 'd', 'e', 'r', ' ', ' ', ' ', ' '};
    for (uint16_t word : {size, uint16_t{10}, program_length}) {
      loader_header.push_back(static_cast<uint8_t>(word & 0xFF));
      loader_header.push_back(static_cast<uint8_t>(word >> 8));
    }
    fixtures::write_file(dir + "/basic.tap",
                         fixtures::concatenated({fixtures::tap_block(0x00, loader_header),
                                                 fixtures::tap_block(0xFF, loader)}));
    fixtures::MdrBuilder basic("BASIC");
    fixtures::Bytes file = fixtures::file_header(0, size, 23813, program_length, 10);
    file.insert(file.end(), loader.begin(), loader.end());
    basic.add_file("loader", file);
    basic.add_free_blocks(9);
    basic.write(dir + "/basic.mdr");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", argv[0], e.what());
    return 1;
  }
  return 0;
}
