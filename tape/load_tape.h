// From a tape image to a tape that can be played to its end: reading,
// guards, parse, repairs and checks, in that order, and the one table of
// messages for what stops the way.
#ifndef QUILLKIT_TAPE_LOAD_TAPE_H
#define QUILLKIT_TAPE_LOAD_TAPE_H

#include <cstddef>
#include <optional>
#include <string>

#include "tape.h"
#include "tape_check.h"

enum class TapeProblem {
  None,
  Reported,      // the file could not be read or libspectrum refused it, and said so
  CutShort,      // bzip2 data cut short, or bzip2 or gzip data expanding past its limit
  Unplayable,    // a block that libspectrum would play outside its data
  ChainLoops,    // a Warajevo chain of blocks that comes back on itself
  PlaysForever,  // jumps that lead back without end
  JumpsOutside,  // a jump on the way that leads outside the tape
};

struct LoadedTape {
  TapePtr tape;  // set when problem is None
  TapeProblem problem;
  size_t block;                // 1-based, counted as libspectrum counts blocks
  std::optional<TapeCut> cut;  // parse_tape_up_to_cut: the block left out, cut short
};

// Parses the image in `file` (not released here) and readies it for the
// walk; the input is never handed to libspectrum when a guard over its
// bytes stops it first. `expanded`: the bytes are those of a compressed
// image, expanded, and libspectrum is not told its name, whose extension
// would have it expand them again.
[[nodiscard]] LoadedTape parse_checked_tape(const adapter::File& file, bool expanded = false);

// As parse_checked_tape, but a TAP, TZX or PZX image (compressed or not)
// whose last block is cut short is parsed without that block, which `cut`
// then describes (find_tape_cut); an image in which no block is whole
// gives a tape of no blocks.
[[nodiscard]] LoadedTape parse_tape_up_to_cut(const adapter::File& file);

// Reads `path`, then parse_checked_tape; the input is released before this
// returns.
[[nodiscard]] LoadedTape load_tape(const char* path);

// Reads `path`, then parse_tape_up_to_cut.
[[nodiscard]] LoadedTape load_tape_up_to_cut(const char* path);

// How much of the block `cut` the image holds, in words: "the image holds
// 1002 of its 6916 bytes", or "the image holds 3 of its bytes, and ends
// before its length field does".
std::string cut_words(const TapeCut& cut);

// Writes the message for `loaded.problem` about `path` on standard error
// (nothing for None or Reported).
void report_tape_problem(const char* path, const LoadedTape& loaded);

#endif
