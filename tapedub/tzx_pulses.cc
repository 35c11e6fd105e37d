// Pulses longer than a TZX holds, kept whole; see tapedub.h.
//
// A PZX pulse lasts up to 2^31 T-states, but libspectrum writes each into
// the 16 bits of a TZX pulse length, keeping its length modulo 65,536. A
// long pulse is written instead as pulses of 65,535 T-states joined by
// pulses of no length, which put the level straight back: the level holds
// for the whole length, and the block's edges fall where they fell.
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "host.h"
#include "tape.h"
#include "tapedub.h"

namespace {

// The longest pulse of a TZX pulse block.
constexpr libspectrum_dword MAX_TZX_PULSE = 0xFFFF;

// Pulses a block may grow to once split; beyond, a failure.
constexpr size_t MAX_SPLIT_PULSES = size_t{1} << 20;

// The pulses that stand for one pulse of `length` T-states.
size_t parts_of(libspectrum_dword length) {
  if (length <= MAX_TZX_PULSE) {
    return 1;
  }
  size_t whole = (length - 1) / MAX_TZX_PULSE;  // full pulses before the last part
  return 2 * whole + 1;
}

// A pulse sequence of the same signal as `block`, every pulse at most
// MAX_TZX_PULSE T-states; null when the block has no longer pulse, or
// would grow past MAX_SPLIT_PULSES (then `*too_long` is set).
libspectrum_tape_block* split_block(libspectrum_tape_block* block, bool* too_long) {
  size_t count = libspectrum_tape_block_count(block);
  size_t total = 0;
  bool any = false;
  for (size_t i = 0; i < count; ++i) {
    libspectrum_dword length = libspectrum_tape_block_pulse_lengths(block, i);
    size_t repeats = libspectrum_tape_block_pulse_repeats(block, i);
    if (length <= MAX_TZX_PULSE) {
      ++total;
      continue;
    }
    any = true;
    size_t parts = parts_of(length);
    if (repeats > (MAX_SPLIT_PULSES - total) / parts) {
      *too_long = true;
      return nullptr;
    }
    total += parts * repeats;
  }
  if (!any) {
    return nullptr;
  }
  auto* lengths =
      static_cast<libspectrum_dword*>(libspectrum_malloc_n(total, sizeof(libspectrum_dword)));
  auto* repeats = static_cast<size_t*>(libspectrum_malloc_n(total, sizeof(size_t)));
  size_t at = 0;
  for (size_t i = 0; i < count; ++i) {
    libspectrum_dword length = libspectrum_tape_block_pulse_lengths(block, i);
    size_t times = libspectrum_tape_block_pulse_repeats(block, i);
    if (length <= MAX_TZX_PULSE) {
      lengths[at] = length;
      repeats[at++] = times;
      continue;
    }
    for (size_t n = 0; n < times; ++n) {
      libspectrum_dword left = length;
      while (left > MAX_TZX_PULSE) {
        lengths[at] = MAX_TZX_PULSE;
        repeats[at++] = 1;
        lengths[at] = 0;
        repeats[at++] = 1;
        left -= MAX_TZX_PULSE;
      }
      lengths[at] = left;
      repeats[at++] = 1;
    }
  }
  libspectrum_tape_block* split =
      libspectrum_tape_block_alloc(LIBSPECTRUM_TAPE_BLOCK_PULSE_SEQUENCE);
  (void)libspectrum_tape_block_set_count(split, total);
  (void)libspectrum_tape_block_set_pulse_lengths(split, lengths);
  (void)libspectrum_tape_block_set_pulse_repeats(split, repeats);
  return split;
}

}  // namespace

int keep_long_pulses(libspectrum_tape* tape, libspectrum_id_t format, const char* input) {
  // The new blocks first, put in place after the walk: a block is replaced
  // where it stands, so that jumps and loops still count the same blocks.
  std::vector<std::pair<size_t, libspectrum_tape_block*>> replacements;
  libspectrum_tape_iterator it = nullptr;
  size_t index = 0;
  int status = 0;
  for (auto* block = libspectrum_tape_iterator_init(&it, tape); block != nullptr;
       block = libspectrum_tape_iterator_next(&it), ++index) {
    if (libspectrum_tape_block_type(block) != LIBSPECTRUM_TAPE_BLOCK_PULSE_SEQUENCE) {
      continue;
    }
    bool too_long = false;
    libspectrum_tape_block* split = split_block(block, &too_long);
    if (too_long) {
      std::fprintf(stderr,
                   "%s: `%s': block %zu (%s) holds more long pulses than a TZX holds; nothing "
                   "written\n",
                   program_name, visible_text(input).c_str(), index + 1,
                   block_kind(block, format).c_str());
      status = 1;
      break;
    }
    if (split != nullptr) {
      replacements.emplace_back(index, split);
    }
  }
  for (const auto& [at, split] : replacements) {
    if (status != 0) {
      (void)libspectrum_tape_block_free(split);
      continue;
    }
    (void)libspectrum_tape_iterator_init(&it, tape);
    for (size_t i = 0; i < at; ++i) {
      (void)libspectrum_tape_iterator_next(&it);
    }
    libspectrum_tape_remove_block(tape, it);
    (void)libspectrum_tape_insert_block(tape, split, at);
  }
  if (!replacements.empty() && status == 0) {
    // The tape's place may have been the block taken out.
    (void)libspectrum_tape_nth_block(tape, 0);
  }
  return status;
}
