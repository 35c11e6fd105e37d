// The checks and repairs that stand between a tape image and its edge walk:
// guards over the raw bytes (raw_guards.cc), repairs of parsed blocks
// (repairs.cc), guards over parsed blocks (block_guards.cc) and the playing
// order (play_order.cc).
#ifndef QUILLKIT_TAPE_TAPE_CHECK_H
#define QUILLKIT_TAPE_TAPE_CHECK_H

#include <libspectrum.h>

#include <cstddef>

#include "tape.h"

// A Warajevo tape is a chain of blocks, each naming the offset of the next;
// libspectrum follows the chain without end when it comes back on itself.
// Returns true when the image in `file` is such a tape. (A compressed image
// is expanded inside libspectrum and cannot be looked at beforehand.)
[[nodiscard]] bool warajevo_chain_loops(const adapter::File& file);

// libspectrum 1.5.0's TZX reader trusts the counts in a generalised-data
// block (0x19) and reads its symbol tables and data past the end of the file
// when they claim more than the file holds. Returns true, with the offset of
// the block's ID byte in `offset`, when an uncompressed TZX image has such a
// block. The walk goes no further than the reader would, but it cannot
// tell whether the reader accepts every block before this one.
[[nodiscard]] bool find_oversized_tzx_block(const adapter::File& file, size_t* offset);

// Puts right the blocks that libspectrum parses but plays wrongly, keeping
// the block count (and so every jump) as it was, then rewinds the tape:
// - a pure tone or pulse list of 0 pulses (played as 2^32 pulses, or read
//   past its end) becomes an empty text block, which plays no edge;
// - a one-byte pure data block whose last byte claims 0 used bits (played
//   forever) uses all 8, as every longer block does;
// - a generalised-data block with a pilot and no data symbols (whose
//   player goes on into the missing data) ends after its pilot and pause;
// - a generalised-data block whose data ends on a whole byte gets a zero
//   byte after it, which the player reads (and plays nothing from).
// Returns 0, or libspectrum's error code.
[[nodiscard]] int repair_silent_blocks(libspectrum_tape* tape);

// Finds a block that libspectrum's player would read outside its data: a
// generalised-data block whose symbols or tables do not hold together, or a
// PZX data block with a bit value that has no pulses. Returns true with its
// 0-based index in `block`.
[[nodiscard]] bool find_unplayable_block(libspectrum_tape* tape, size_t* block);

// How a tape's blocks played in order end.
enum class PlayOrder {
  Ends,          // the last block plays out
  Forever,       // jumps lead back without end
  JumpsOutside,  // a jump on the way leads outside the tape: the walk fails there
};

// Follows the tape's blocks in playing order, with jumps and loops as
// libspectrum plays them. For Forever, `block` gets the 0-based index of a
// backward jump on the endless path; for JumpsOutside, that of the jump.
[[nodiscard]] PlayOrder follow_play_order(libspectrum_tape* tape, size_t* block);

// True when follow_play_order says Forever, with its `block`.
[[nodiscard]] bool tape_plays_forever(libspectrum_tape* tape, size_t* block);

#endif
