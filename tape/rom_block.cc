// A ROM block made from its bytes; see tape_files.h.
#include "tape_files.h"

libspectrum_tape_block* rom_block(unsigned char flag, const unsigned char* bytes, size_t size) {
  auto* data = static_cast<libspectrum_byte*>(libspectrum_malloc_n(size + 2, 1));
  data[0] = flag;
  unsigned char check = flag;
  for (size_t i = 0; i < size; ++i) {
    data[i + 1] = bytes[i];
    check ^= bytes[i];
  }
  data[size + 1] = check;
  libspectrum_tape_block* block = libspectrum_tape_block_alloc(LIBSPECTRUM_TAPE_BLOCK_ROM);
  (void)libspectrum_tape_block_set_data_length(block, size + 2);
  (void)libspectrum_tape_block_set_data(block, data);
  (void)libspectrum_tape_block_set_pause(block, 1000);  // ms, as the ROM leaves between blocks
  return block;
}
