// The edge walk and the pulse file's lines.
#ifndef QUILLKIT_EDGEDUMP_PULSE_DUMP_H
#define QUILLKIT_EDGEDUMP_PULSE_DUMP_H

#include <libspectrum.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

// Formats "%llu : %d\n" lines into a bounded buffer that goes out to `out` in
// large writes. The first failed write is remembered in `error` (an errno
// value); nothing more is written after it.
//
// A tape's pulses come in few lengths (pilot, syncs, the two bit lengths),
// so the lines of levels 0 and 1 are kept formatted in a small table by
// duration and level, and most lines are one copy from there.
struct LineWriter {
  static constexpr size_t CAPACITY = size_t{64} * 1024;
  static constexpr size_t LONGEST_LINE = 32;  // "18446744073709551615 : -32768\n" and then some
  static constexpr size_t CACHED_LINES = 512;
  // The two lines of one duration, of level 0 and of level 1; 64 bytes, so
  // that a slot is found with a shift.
  struct CachedLine {
    char text[2][16];   // the lines, padded
    uint32_t duration;  // an empty slot holds one that never falls into it
    uint32_t length;    // of either line
    char padding[24];
  };
  std::FILE* out;
  size_t used;
  int error;
  CachedLine cache[CACHED_LINES];
  char buffer[CAPACITY];
};

static_assert(sizeof(LineWriter::CachedLine) == 64, "a slot is 64 bytes");

void line_writer_init(LineWriter* writer, std::FILE* out);

// Hands what is buffered to the stream. Returns 0, or the remembered errno.
[[nodiscard]] int line_writer_flush(LineWriter* writer);

namespace pulse_dump_detail {
// Hands the buffer to the stream and empties it.
void write_out(LineWriter* writer);
// Formats the two lines of `duration` into `line`. Kept out of the walk's
// loop, which it would otherwise crowd.
__attribute__((noinline, cold)) void format_cached_line(LineWriter::CachedLine* line,
                                                        uint32_t duration);
// Appends a line of any duration and level, formatted in full.
void write_any_line(LineWriter* writer, uint64_t duration, int16_t level);
}  // namespace pulse_dump_detail

// Appends the line of `duration` and `level` (0 or 1) at `out`, which has
// room for LONGEST_LINE bytes; returns the end of the line.
inline char* append_cached_line(LineWriter* writer, char* out, uint32_t duration, unsigned level) {
  // The common lengths (2168, 667, 735, 855, 1710 and their kin) fall into
  // different slots by their low bits alone.
  LineWriter::CachedLine* line = &writer->cache[duration & (LineWriter::CACHED_LINES - 1)];
  if (line->duration != duration) {
    pulse_dump_detail::format_cached_line(line, duration);
  }
  std::memcpy(out, line->text[level], sizeof line->text[level]);
  return out + line->length;
}

// Appends one line: the duration in decimal, " : ", the level as a signed
// 16-bit decimal, a newline.
inline void write_pulse_line(LineWriter* writer, uint64_t duration, int16_t level) {
  if (LineWriter::CAPACITY - writer->used < LineWriter::LONGEST_LINE) {
    pulse_dump_detail::write_out(writer);
  }
  if ((level & ~1) != 0 || duration > UINT32_MAX) {
    pulse_dump_detail::write_any_line(writer, duration, level);
    return;
  }
  char* end = append_cached_line(writer, writer->buffer + writer->used,
                                 static_cast<uint32_t>(duration), static_cast<unsigned>(level));
  writer->used = static_cast<size_t>(end - writer->buffer);
}

// No limit on the records dump_pulses reads.
constexpr uint64_t ALL_RECORDS = UINT64_MAX;

// Walks `tape` from its current position to its end (or for at most
// `max_records` records), writing one line per reported edge with the time
// since the previous line, summed in 64 bits (records that report no edge
// can add up to more than 32 bits hold). Returns 0 when the walk stopped normally or a
// write failed (see writer->error), or libspectrum's error code when the
// walk itself failed.
[[nodiscard]] int dump_pulses(libspectrum_tape* tape, LineWriter* writer,
                              uint64_t max_records = ALL_RECORDS);

#endif
