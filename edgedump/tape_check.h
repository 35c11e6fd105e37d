// Checks made on a parsed tape before any pulse is written: blocks that
// libspectrum would play wrongly, and tapes that would play forever.
#ifndef QUILLKIT_EDGEDUMP_TAPE_CHECK_H
#define QUILLKIT_EDGEDUMP_TAPE_CHECK_H

#include <libspectrum.h>

#include <cstddef>

// Replaces every pure tone and every pulse list of 0 pulses by an empty
// text block, which plays no edge, keeping the block count (and so every
// jump) as it was, then rewinds the tape to its first block. libspectrum
// would otherwise play such a tone as 2^32 pulses and read such a list past
// its end. Returns 0, or libspectrum's error code.
[[nodiscard]] int repair_silent_blocks(libspectrum_tape* tape);

// Follows the tape's blocks in playing order, with jumps and loops as
// libspectrum plays them. Returns true when the tape can never end, with the
// 0-based index of a backward jump on the endless path in `block`.
[[nodiscard]] bool tape_plays_forever(libspectrum_tape* tape, size_t* block);

#endif
