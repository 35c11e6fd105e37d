// The edge walk and the pulse file's lines.
#ifndef QUILLKIT_EDGEDUMP_PULSE_DUMP_H
#define QUILLKIT_EDGEDUMP_PULSE_DUMP_H

#include <libspectrum.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Formats "%u : %d\n" lines into a bounded buffer that goes out to `out` in
// large writes. The first failed write is remembered in `error` (an errno
// value); nothing more is written after it.
struct LineWriter {
  static constexpr size_t CAPACITY = 64 * 1024;
  static constexpr size_t LONGEST_LINE = 24;  // "4294967295 : -32768\n" and then some
  std::FILE* out;
  size_t used;
  int error;
  char buffer[CAPACITY];
};

void line_writer_init(LineWriter* writer, std::FILE* out);

// Appends one line: the duration in decimal, " : ", the level as a signed
// 16-bit decimal, a newline.
void write_pulse_line(LineWriter* writer, uint32_t duration, int16_t level);

// Hands what is buffered to the stream. Returns 0, or the remembered errno.
[[nodiscard]] int line_writer_flush(LineWriter* writer);

// No limit on the records dump_pulses reads.
constexpr uint64_t ALL_RECORDS = UINT64_MAX;

// Walks `tape` from its current position to its end (or for at most
// `max_records` records), writing one line per reported edge with the time
// since the previous line. Returns 0 when the walk stopped normally or a
// write failed (see writer->error), or libspectrum's error code when the
// walk itself failed.
[[nodiscard]] int dump_pulses(libspectrum_tape* tape, LineWriter* writer,
                              uint64_t max_records = ALL_RECORDS);

#endif
