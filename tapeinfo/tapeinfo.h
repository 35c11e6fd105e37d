// tapeinfo's own interface: what a tape holds, block by block, with the
// time each block plays.
#ifndef QUILLKIT_TAPEINFO_TAPEINFO_H
#define QUILLKIT_TAPEINFO_TAPEINFO_H

#include <libspectrum.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "content.h"
#include "tape_files.h"

// When and how long one block plays, as the edge walk plays it.
struct BlockTime {
  bool played = false;
  uint64_t start = 0;     // T-states before its first record
  uint64_t duration = 0;  // T-states of all its records, over every play
  uint64_t plays = 0;     // times it played to its end
  uint64_t edges = 0;     // edges it gave
};

struct TapeTimes {
  std::vector<BlockTime> blocks;  // one per block, in block order
  uint64_t total = 0;             // T-states of the whole walk
  int error = 0;                  // libspectrum's, when the walk failed
  size_t failed_block = 0;        // then, the 0-based block it failed in
};

// Walks `tape` from where it stands to its end, as the pulse dumper does,
// and gives every record's T-states to the block it came from: the blocks'
// durations add up to the total, which is the sum of the dumper's pulse
// lengths and the time after its last edge.
TapeTimes time_tape(libspectrum_tape* tape);

// "m:ss.cc" for `tstates` at 3.5 MHz, minutes without bound.
std::string play_time(uint64_t tstates);

// What is known of a tape for describing its blocks.
struct TapeFacts {
  libspectrum_id_t format;  // as identified: TZX, PZX, CSW, WAV...
  const TapeFiles* files;
  const TapeTimes* times;
  std::vector<libspectrum_tape_block*> blocks;  // in block order
};

// The lines that describe block `index` (0-based) after its first, without
// indent or newline: times, bytes, checksum, the file it carries, timings,
// texts, counts.
std::vector<std::string> block_lines(const TapeFacts& facts, size_t index);

// True when block `index` carries whole bytes whose checksum is wrong.
bool checksum_bad(libspectrum_tape_block* block);

// Exit statuses, as cartinfo's: listed with every checksum right, some
// operand not listed, every operand listed but a checksum wrong.
constexpr int TAPEINFO_LISTED = 0;
constexpr int TAPEINFO_FAILED = 1;
constexpr int TAPEINFO_BAD_CHECKSUM = 2;

// Prints on `out` what `shown` asks for of block `index`, after its
// paragraph: the listing of a program's data (a program header's data
// block, its checksum right or not) and the hex dump of every block of
// bytes (flag and checksum included), each followed by a blank line.
void print_block_contents(std::FILE* out, const TapeFacts& facts, size_t index,
                          const ContentShown& shown);

// Lists the tape at `path` on `out`: the heading, the summary and a
// paragraph per block, or with `short_form` a line per block, each followed
// by what `shown` asks for. Returns one of the statuses above, after a
// message when the tape is not listed.
[[nodiscard]] int list_tape(std::FILE* out, const char* path, bool short_form,
                            const ContentShown& shown = {});

#endif
