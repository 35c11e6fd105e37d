// Repairs of parsed blocks that libspectrum would play wrongly.
#include "tape_check.h"

namespace {

// libspectrum reads a 1-byte pure data block with 0 used bits without end.
void repair_last_byte(libspectrum_tape_block* block) {
  if (libspectrum_tape_block_type(block) == LIBSPECTRUM_TAPE_BLOCK_PURE_DATA &&
      libspectrum_tape_block_data_length(block) >= 1 &&
      libspectrum_tape_block_bits_in_last_byte(block) == 0) {
    (void)libspectrum_tape_block_set_bits_in_last_byte(block, 8);
  }
}

bool is_silent(libspectrum_tape_block* block) {
  libspectrum_tape_type type = libspectrum_tape_block_type(block);
  return (type == LIBSPECTRUM_TAPE_BLOCK_PURE_TONE || type == LIBSPECTRUM_TAPE_BLOCK_PULSES) &&
         libspectrum_tape_block_count(block) == 0;
}

// An empty text block: plays no edge, has no effect on the level.
libspectrum_tape_block* empty_text_block() {
  libspectrum_tape_block* block = libspectrum_tape_block_alloc(LIBSPECTRUM_TAPE_BLOCK_COMMENT);
  auto* text = static_cast<char*>(libspectrum_malloc_n(1, 1));
  text[0] = '\0';
  (void)libspectrum_tape_block_set_text(block, text);
  return block;
}

}  // namespace

int repair_silent_blocks(libspectrum_tape* tape) {
  libspectrum_tape_iterator it = nullptr;
  size_t position = 0;
  for (libspectrum_tape_block* block = libspectrum_tape_iterator_init(&it, tape); block != nullptr;
       ++position) {
    if (!is_silent(block)) {
      repair_last_byte(block);
      block = libspectrum_tape_iterator_next(&it);
      continue;
    }
    // Put the replacement in front, then drop the original's link.
    libspectrum_tape_iterator doomed = it;
    block = libspectrum_tape_iterator_next(&it);
    int error = libspectrum_tape_insert_block(tape, empty_text_block(), position);
    if (error != LIBSPECTRUM_ERROR_NONE) {
      return error;
    }
    libspectrum_tape_remove_block(tape, doomed);
  }
  // The player may have been pointing at a replaced block, or have set
  // itself up from a repaired one: start it again.
  if (libspectrum_tape_iterator_init(&it, tape) != nullptr) {
    return libspectrum_tape_nth_block(tape, 0);
  }
  return 0;
}
