// The checks and repairs that stand between a tape image and its edge walk:
// guards over the raw bytes (raw_guards.cc), repairs of parsed blocks
// (repairs.cc), guards over parsed blocks (block_guards.cc) and the playing
// order (play_order.cc).
#ifndef QUILLKIT_TAPE_TAPE_CHECK_H
#define QUILLKIT_TAPE_TAPE_CHECK_H

#include <libspectrum.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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

// How a TZX block lies in the image, as libspectrum's reader takes it.
struct TzxExtent {
  enum Kind {
    Whole,    // `size` bytes after its ID, all in the image
    Cut,      // the image ends inside it; its fields promise `size` bytes
              // after its ID, or 0 when it ends inside them
    Unknown,  // an ID the reader does not take
  } kind;
  uint64_t size;
};

// The extent of the TZX block of `id` whose bytes after the ID start at
// `body`, with `available` bytes of the image there.
[[nodiscard]] TzxExtent tzx_block_extent(unsigned id, const unsigned char* body,
                                         uint64_t available);

// The block of a TAP, TZX or PZX image that the image ends inside.
struct TapeCut {
  size_t whole_length = 0;   // bytes of the image before it: whole blocks only
  std::string kind;          // its kind in words, as block_type_kind gives them
  uint64_t present = 0;      // its bytes in the image, from its TZX ID, PZX tag or TAP length on
  uint64_t promised = 0;     // the bytes its fields give it, counted alike; 0 when the
                             // image ends inside them
  bool holds_bytes = false;  // a block of bytes: TAP, TZX 0x10, 0x11 and 0x14, PZX data
  std::vector<unsigned char> data;  // then the bytes of its data there, the flag first,
  uint64_t data_promised = 0;       // and how many its length gives (0 when it ends before that)
  size_t block = 0;                 // its number, one past the last whole block as
                                    // libspectrum counts them (see parse_tape_up_to_cut)
};

// Finds the block that the uncompressed TAP, TZX or PZX image in `file`
// ends inside. Returns true with it in `cut` (all but `block`); false when
// every block is whole, the image is of another format, or the walk meets
// what the reader refuses anyway (a TZX block of an ID it does not take, a
// TZX header or a PZX header block that is cut short), which is left to it.
// A TAP, which has no signature, counts as cut only when a whole block
// before the cut passes its checksum, or, with none whole, when the cut one
// starts with the flag 0x00 or 0xFF: other machines' tapes named .tap are
// refused as before.
[[nodiscard]] bool find_tape_cut(const adapter::File& file, TapeCut* cut);

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
