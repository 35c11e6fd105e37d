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
#include "host.h"
#include "tape_check.h"
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
  const TapeCut* cut = nullptr;                 // the block after these, cut short; null: none
  size_t cut_header = 0;  // the header block (1-based) whose data the cut block is; 0: none
};

// The header block (1-based) whose file's data block is the cut one: the
// last block of bytes before it is a header of a right checksum with no data
// yet, and the cut block holds the flag 0xFF and promises the data length
// the header gives. 0 when there is none (or no cut).
size_t cut_file_header(const TapeFacts& facts);

// The lines that describe the cut block (facts.cut) after its first, as
// block_lines: how much of it the image holds, its data, and its file.
std::vector<std::string> cut_block_lines(const TapeFacts& facts);

// The lines that describe block `index` (0-based) after its first, without
// indent or newline: times, bytes, checksum, the file it carries, timings,
// texts, counts.
std::vector<std::string> block_lines(const TapeFacts& facts, size_t index);

// A file's name as zx_name_text gives it (a '\' already "\\") between
// double quotes, a '"' in it written '\"' as in the header's line, and
// every byte that could steer a terminal made '?'.
std::string quoted_name(const std::string& name);

// True when block `index` carries whole bytes whose checksum is wrong.
bool checksum_bad(libspectrum_tape_block* block);

// Exit statuses, as cartinfo's: listed with every checksum right, some
// operand not listed (or, with -x, a file not copied out), every operand
// listed but damaged: a checksum wrong, a tape cut short, or a damaged file
// copied out.
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
// by what `shown` asks for; a TAP, TZX or PZX image cut short is listed up
// to the cut, and the cut block after a message. With an `extract` target,
// also copies its files there (see make_image_folder in host.h, and
// extract_tape_files). Returns one of the statuses above, after a message
// when the tape is not listed.
[[nodiscard]] int list_tape(std::FILE* out, const char* path, bool short_form,
                            const ContentShown& shown = {}, ExtractTarget* extract = nullptr);

// Copies the files of the tape that `facts` describe into the open folder
// `folder_fd` (named `folder` in messages) through extract_file (host.h):
// every ROM file as its data, named after it with an extension by its kind
// (file_extension), and every other block of bytes whole as "block-N.bin".
// A damaged file (its data's checksum wrong, its data missing or cut short)
// and a block whose checksum is wrong or that is cut short are copied after
// a warning. Returns TAPEINFO_LISTED, TAPEINFO_FAILED after a message when a
// file could not be written, else TAPEINFO_BAD_CHECKSUM when a damaged one
// was copied.
[[nodiscard]] int extract_tape_files(const TapeFacts& facts, int folder_fd,
                                     const std::string& folder);

#endif
