// Repairs of parsed blocks that libspectrum would play wrongly.
#include "tape_check.h"

#include <cstdint>
#include <cstring>

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

// A generalised-data block with pilot symbols and no data symbols: at the
// end of the pilot the player goes on to the data regardless, reading a
// table and a data stream that are not there. It gets a data table of one
// symbol that lasts 0 T-states and changes no level, and one data byte: a
// record that adds nothing to any line, after which the block ends as it
// should. libspectrum offers no way to build a table, so the table is taken
// from a block parsed for the purpose (its own place then given an empty
// table, which owns nothing); the block's old data table is empty too.
// clang-format off
constexpr libspectrum_byte SILENT_DATA_DONOR[] = {
    'Z', 'X', 'T', 'a', 'p', 'e', '!', 0x1A, 1, 20,  // header
    0x19, 21, 0, 0, 0,                                // generalised data, 21 bytes
    0, 0,                                             // no pause
    0, 0, 0, 0, 0, 0,                                 // no pilot
    1, 0, 0, 0, 1, 2,                                 // 1 data symbol: 1 pulse, 2 in the table
    1, 0, 0, 1, 0, 0,                                 // both: 0 T-states, no edge
    0,                                                // the data: symbol 0
};
// clang-format on

bool plays_missing_data(libspectrum_tape_block* block) {
  return libspectrum_tape_block_type(block) == LIBSPECTRUM_TAPE_BLOCK_GENERALISED_DATA &&
         libspectrum_tape_generalised_data_symbol_table_symbols_in_block(
             libspectrum_tape_block_pilot_table(block)) > 0 &&
         libspectrum_tape_generalised_data_symbol_table_symbols_in_block(
             libspectrum_tape_block_data_table(block)) == 0;
}

int repair_missing_data(libspectrum_tape_block* block) {
  TapePtr donor(libspectrum_tape_alloc());
  libspectrum_error error = libspectrum_tape_read(
      donor.get(), SILENT_DATA_DONOR, sizeof SILENT_DATA_DONOR, LIBSPECTRUM_ID_TAPE_TZX, nullptr);
  if (error != LIBSPECTRUM_ERROR_NONE) {
    return error;
  }
  libspectrum_tape_iterator it = nullptr;
  libspectrum_tape_block* source = libspectrum_tape_iterator_init(&it, donor.get());
  (void)libspectrum_tape_block_set_data_table(block, libspectrum_tape_block_data_table(source));
  (void)libspectrum_tape_block_set_data_table(source, libspectrum_tape_block_pilot_table(source));
  (void)libspectrum_tape_block_set_bits_per_data_symbol(block, 1);
  libspectrum_free(libspectrum_tape_block_data(block));
  auto* data = static_cast<libspectrum_byte*>(libspectrum_malloc_n(1, 1));
  data[0] = 0;
  return libspectrum_tape_block_set_data(block, data);
}

// libspectrum's generalised-data player fetches the next data byte as soon
// as it has played the 8th bit of one, so a stream that ends on a byte's
// last bit is read one byte past its end. The block gets a copy of its
// data with a zero byte after it, which that fetch then reads.
int pad_generalised_data(libspectrum_tape_block* block) {
  if (libspectrum_tape_block_type(block) != LIBSPECTRUM_TAPE_BLOCK_GENERALISED_DATA) {
    return 0;
  }
  uint64_t symbols = libspectrum_tape_generalised_data_symbol_table_symbols_in_block(
      libspectrum_tape_block_data_table(block));
  uint64_t bits = symbols * libspectrum_tape_block_bits_per_data_symbol(block);
  const libspectrum_byte* data = libspectrum_tape_block_data(block);
  if (data == nullptr || bits == 0 || bits % 8 != 0 || bits / 8 >= SIZE_MAX) {
    return 0;
  }
  auto length = static_cast<size_t>(bits / 8);
  auto* padded = static_cast<libspectrum_byte*>(libspectrum_malloc_n(length + 1, 1));
  std::memcpy(padded, data, length);
  padded[length] = 0;
  libspectrum_free(libspectrum_tape_block_data(block));
  return libspectrum_tape_block_set_data(block, padded);
}

}  // namespace

int repair_silent_blocks(libspectrum_tape* tape) {
  libspectrum_tape_iterator it = nullptr;
  size_t position = 0;
  for (libspectrum_tape_block* block = libspectrum_tape_iterator_init(&it, tape); block != nullptr;
       ++position) {
    int repaired = plays_missing_data(block) ? repair_missing_data(block) : 0;
    if (repaired == 0) {
      repaired = pad_generalised_data(block);
    }
    if (repaired != LIBSPECTRUM_ERROR_NONE) {
      return repaired;
    }
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
