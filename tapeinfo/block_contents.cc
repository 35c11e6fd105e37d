// What a block holds, after its paragraph: a program's lines, the bytes.
#include <cstdio>
#include <string>

#include "tapeinfo.h"

namespace {

bool carries_bytes(libspectrum_tape_block* block) {
  switch (libspectrum_tape_block_type(block)) {
    case LIBSPECTRUM_TAPE_BLOCK_ROM:
    case LIBSPECTRUM_TAPE_BLOCK_TURBO:
    case LIBSPECTRUM_TAPE_BLOCK_PURE_DATA:
    case LIBSPECTRUM_TAPE_BLOCK_DATA_BLOCK:
      return true;
    default:
      return false;
  }
}

// The 17 header bytes (type first) of the program whose data is block
// `index`, or null when it is not a program's data.
const unsigned char* program_header(const TapeFacts& facts, size_t index) {
  const BlockVerdict& verdict = facts.files->blocks[index];
  const unsigned char* header = nullptr;
  if (verdict.role == BlockRole::FileData) {
    header = facts.files->files[verdict.file].header;
  } else if (verdict.role == BlockRole::BadDataChecksum && verdict.header_block >= 1 &&
             verdict.header_block <= facts.blocks.size()) {
    libspectrum_tape_block* block = facts.blocks[verdict.header_block - 1];
    if (libspectrum_tape_block_data_length(block) == TAPE_HEADER_SIZE + 2) {
      header = libspectrum_tape_block_data(block) + 1;  // past the flag
    }
  }
  return header != nullptr && header[0] == 0 ? header : nullptr;
}

}  // namespace

void print_block_contents(std::FILE* out, const TapeFacts& facts, size_t index,
                          const ContentShown& shown) {
  libspectrum_tape_block* block = facts.blocks[index];
  if (!carries_bytes(block)) {
    return;
  }
  size_t length = libspectrum_tape_block_data_length(block);
  const unsigned char* data = libspectrum_tape_block_data(block);
  if (length == 0 || data == nullptr) {
    return;
  }
  const unsigned char* header = shown.basic ? program_header(facts, index) : nullptr;
  if (header != nullptr && length >= 2) {
    // Header bytes 15-16: the program's length, without its variables.
    size_t program_length = static_cast<size_t>(header[15] | header[16] << 8);
    std::fputs(basic_listing(data + 1, length - 2, program_length).c_str(), out);
    std::fputs("\n", out);
  }
  if (shown.dump) {
    std::fputs(hex_dump(data, length).c_str(), out);
    std::fputs("\n", out);
  }
}
