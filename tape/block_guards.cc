// Guards over parsed blocks that libspectrum's player would read outside
// their data.
#include "tape_check.h"

namespace {

// Bit `index` of `bytes`, most significant bit first.
unsigned bit_at(const libspectrum_byte* bytes, size_t index) {
  return static_cast<unsigned>(bytes[index / 8] >> (7 - index % 8)) & 1u;
}

bool table_holds(const libspectrum_tape_generalised_data_symbol_table* table) {
  return libspectrum_tape_generalised_data_symbol_table_symbols_in_block(table) == 0 ||
         (libspectrum_tape_generalised_data_symbol_table_max_pulses(table) > 0 &&
          libspectrum_tape_generalised_data_symbol_table_symbol(table, 0) != nullptr);
}

bool generalised_data_playable(libspectrum_tape_block* block) {
  const auto* pilot = libspectrum_tape_block_pilot_table(block);
  const auto* data = libspectrum_tape_block_data_table(block);
  if (!table_holds(pilot) || !table_holds(data)) {
    return false;
  }
  // Each pilot run names a symbol of the pilot table and repeats it.
  libspectrum_dword runs = libspectrum_tape_generalised_data_symbol_table_symbols_in_block(pilot);
  libspectrum_word pilot_symbols =
      libspectrum_tape_generalised_data_symbol_table_symbols_in_table(pilot);
  for (size_t run = 0; run < runs; ++run) {
    if (libspectrum_tape_block_pilot_symbols(block, run) >= pilot_symbols ||
        libspectrum_tape_block_pilot_repeats(block, run) == 0) {
      return false;
    }
  }
  // Each data symbol is a group of bits that must name a symbol of the table.
  libspectrum_dword symbols = libspectrum_tape_generalised_data_symbol_table_symbols_in_block(data);
  size_t width = libspectrum_tape_block_bits_per_data_symbol(block);
  libspectrum_word data_symbols =
      libspectrum_tape_generalised_data_symbol_table_symbols_in_table(data);
  const libspectrum_byte* bytes = libspectrum_tape_block_data(block);
  if (symbols > 0 && width > 0) {
    for (size_t s = 0; s < symbols; ++s) {
      unsigned symbol = 0;
      for (size_t b = 0; b < width; ++b) {
        symbol = (symbol << 1) | bit_at(bytes, s * width + b);
      }
      if (symbol >= data_symbols) {
        return false;
      }
    }
  }
  return true;
}

// A PZX data block plays each bit with that bit value's pulses.
bool data_block_playable(libspectrum_tape_block* block) {
  size_t bits = libspectrum_tape_block_count(block);
  const libspectrum_byte* bytes = libspectrum_tape_block_data(block);
  bool has_pulses[2] = {libspectrum_tape_block_bit0_pulse_count(block) > 0,
                        libspectrum_tape_block_bit1_pulse_count(block) > 0};
  for (size_t i = 0; i < bits; ++i) {
    if (!has_pulses[bit_at(bytes, i)]) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool find_unplayable_block(libspectrum_tape* tape, size_t* block) {
  libspectrum_tape_iterator it = nullptr;
  size_t position = 0;
  for (libspectrum_tape_block* b = libspectrum_tape_iterator_init(&it, tape); b != nullptr;
       b = libspectrum_tape_iterator_next(&it), ++position) {
    libspectrum_tape_type type = libspectrum_tape_block_type(b);
    if ((type == LIBSPECTRUM_TAPE_BLOCK_GENERALISED_DATA && !generalised_data_playable(b)) ||
        (type == LIBSPECTRUM_TAPE_BLOCK_DATA_BLOCK && !data_block_playable(b))) {
      *block = position;
      return true;
    }
  }
  return false;
}
