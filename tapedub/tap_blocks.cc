// The blocks of a tape that a TAP holds; see tapedub.h.
#include <cstdio>
#include <string>

#include "host.h"
#include "tape.h"
#include "tape_files.h"
#include "tapedub.h"

namespace {

// The most bytes a TAP block holds: its length is a 16-bit word.
constexpr size_t MAX_TAP_BLOCK = MAX_TAPE_DATA + 2;

bool carries_bytes(libspectrum_tape_type type) {
  return type == LIBSPECTRUM_TAPE_BLOCK_ROM || type == LIBSPECTRUM_TAPE_BLOCK_TURBO ||
         type == LIBSPECTRUM_TAPE_BLOCK_PURE_DATA || type == LIBSPECTRUM_TAPE_BLOCK_DATA_BLOCK;
}

// A standard-speed block of a copy of the `length` bytes at `bytes`.
libspectrum_tape_block* copied_block(const libspectrum_byte* bytes, size_t length) {
  auto* data = static_cast<libspectrum_byte*>(libspectrum_malloc_n(length, 1));
  for (size_t i = 0; i < length; ++i) {
    data[i] = bytes[i];
  }
  libspectrum_tape_block* block = libspectrum_tape_block_alloc(LIBSPECTRUM_TAPE_BLOCK_ROM);
  (void)libspectrum_tape_block_set_data_length(block, length);
  (void)libspectrum_tape_block_set_data(block, data);
  (void)libspectrum_tape_block_set_pause(block, 1000);
  return block;
}

}  // namespace

libspectrum_tape* tap_blocks(libspectrum_tape* tape, libspectrum_id_t format, bool* partial) {
  libspectrum_tape* copy = libspectrum_tape_alloc();
  *partial = false;
  size_t number = 0;
  libspectrum_tape_iterator it = nullptr;
  for (auto* block = libspectrum_tape_iterator_init(&it, tape); block != nullptr;
       block = libspectrum_tape_iterator_next(&it)) {
    ++number;
    libspectrum_tape_type type = libspectrum_tape_block_type(block);
    std::string kind = block_kind(block, format);
    if (!carries_bytes(type)) {
      std::fprintf(stderr, "%s: block %zu (%s) left out: a TAP holds data blocks only\n",
                   program_name, number, kind.c_str());
      *partial = true;
      continue;
    }
    size_t length = libspectrum_tape_block_data_length(block);
    const libspectrum_byte* data = libspectrum_tape_block_data(block);
    if (length == 0 || data == nullptr) {
      std::fprintf(stderr, "%s: block %zu (%s) left out: it holds no bytes\n", program_name, number,
                   kind.c_str());
      *partial = true;
      continue;
    }
    size_t bits =
        type == LIBSPECTRUM_TAPE_BLOCK_ROM ? 8 : libspectrum_tape_block_bits_in_last_byte(block);
    if (bits != 8) {
      std::fprintf(stderr,
                   "%s: block %zu (%s) left out: its last byte has %zu bits, and a TAP holds "
                   "whole bytes only\n",
                   program_name, number, kind.c_str(), bits);
      *partial = true;
      continue;
    }
    if (length > MAX_TAP_BLOCK) {
      // As cart2tape cuts a file: the flag, as many bytes as fit, and the
      // checksum of what is kept.
      std::fprintf(stderr,
                   "%s: block %zu (%s) cut to %zu bytes: it holds %zu, more than a TAP block "
                   "holds\n",
                   program_name, number, kind.c_str(), MAX_TAP_BLOCK, length);
      *partial = true;
      libspectrum_tape_append_block(copy, rom_block(data[0], data + 1, MAX_TAPE_DATA));
      continue;
    }
    libspectrum_tape_append_block(copy, copied_block(data, length));
  }
  return copy;
}
