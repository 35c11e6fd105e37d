// Tapes as the tools read them: the owner of a parsed tape, the parse
// itself and the records of its edge walk. Loading with every guard and
// repair is in load_tape.h; the ROM files of a tape in tape_files.h.
#ifndef QUILLKIT_TAPE_TAPE_H
#define QUILLKIT_TAPE_TAPE_H

#include <libspectrum.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "common.h"
#include "host.h"

// The owner of a libspectrum tape.
using TapePtr = Owned<libspectrum_tape, libspectrum_tape_free>;

// The 17 bytes of a ROM tape header (after its flag byte): type, 10-byte
// name, data length, parameter 1, parameter 2; words little-endian.
constexpr size_t TAPE_HEADER_SIZE = 17;

// Parses the tape image in `file` into `tape` with libspectrum_tape_read and
// returns its result. When the parse fails, the tape is left empty (and
// still the caller's to free, even where libspectrum 1.5.0 would have freed
// it), and memory that libspectrum allocated during the call and then lost
// (it drops a block on some error paths) is given back, so nothing leaks.
// `expanded`: the bytes are a compressed image's, expanded; libspectrum is
// not told the file's name, lest its extension have them expanded again.
[[nodiscard]] int read_tape_image(libspectrum_tape* tape, const adapter::File& file,
                                  bool expanded = false);

// A block's kind in words, as tapeinfo lists it: "standard speed data",
// "pure tone", "PZX data"... A block of a tape read from `format` (PZX
// names some kinds its own way).
std::string block_kind(libspectrum_tape_block* block, libspectrum_id_t format);

// The same for a block of `type` known by its type alone: a pause is
// "pause" ("PZX pause"), whatever its length.
std::string block_type_kind(libspectrum_tape_type type, libspectrum_id_t format);

namespace adapter {

// ---------------------------------------------------------------------------
// Edges.

// One record of the tape's edge walk.
struct EdgeRecord {
  uint32_t duration;  // T-states covered by this record
  int32_t level;      // signal level after the record: 0 low, 1 high
  uint32_t edge;      // non-zero when the record ends with a real edge
  uint32_t flags;     // libspectrum's LIBSPECTRUM_TAPE_FLAGS_* bits
};

// libspectrum's LIBSPECTRUM_TAPE_FLAGS_* are variables of the library, read
// from memory at each use; a walk takes them once.
struct EdgeFlags {
  int tape_end;
  int no_edge;
  int level_low;
  int level_high;
};
inline EdgeFlags edge_flags() {
  return {LIBSPECTRUM_TAPE_FLAGS_TAPE, LIBSPECTRUM_TAPE_FLAGS_NO_EDGE,
          LIBSPECTRUM_TAPE_FLAGS_LEVEL_LOW, LIBSPECTRUM_TAPE_FLAGS_LEVEL_HIGH};
}

// Fetches the next record of `tape` into `record`. The record must be zeroed
// before the first call: the level is carried over from the previous call.
// Returns libspectrum's error code unchanged, leaving `record` untouched on
// failure. Inline, with the flags taken once: the dumper calls it once an
// edge, tens of millions of times a tape, and the record then lives in
// registers.
[[nodiscard]] inline int tape_get_next_edge(EdgeRecord* record, libspectrum_tape* tape,
                                            const EdgeFlags& known) {
  libspectrum_dword tstates;
  int flags;
  libspectrum_error error = libspectrum_tape_get_next_edge(&tstates, &flags, tape);
  if (error != LIBSPECTRUM_ERROR_NONE) {
    return error;
  }
  record->duration = tstates;
  record->flags = static_cast<uint32_t>(flags);
  if (flags == 0) {  // a plain edge inside a block: by far the most common record
    record->edge = 1;
    record->level ^= 1;
    return 0;
  }
  record->edge = (flags & known.no_edge) ? 0 : 1;
  record->level ^= static_cast<int32_t>(record->edge);
  if (flags & known.level_low) {
    record->level = 0;
  }
  if (flags & known.level_high) {
    record->level = 1;
  }
  return 0;
}

[[nodiscard]] inline int tape_get_next_edge(EdgeRecord* record, libspectrum_tape* tape) {
  return tape_get_next_edge(record, tape, edge_flags());
}

}  // namespace adapter

#endif
