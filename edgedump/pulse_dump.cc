// The edge walk and the pulse file's lines.
#include "pulse_dump.h"

#include <cerrno>
#include <cstring>

#include "adapter.h"

namespace {

// Writes the decimal digits of `value` ending just before `end`; returns
// where they start.
char* format_decimal(char* end, uint32_t value) {
  do {
    *--end = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  return end;
}

void write_out(LineWriter* writer) {
  if (writer->error == 0 && writer->used > 0 &&
      std::fwrite(writer->buffer, 1, writer->used, writer->out) != writer->used) {
    writer->error = errno != 0 ? errno : EIO;
  }
  writer->used = 0;
}

}  // namespace

void line_writer_init(LineWriter* writer, std::FILE* out) {
  writer->out = out;
  writer->used = 0;
  writer->error = 0;
}

void write_pulse_line(LineWriter* writer, uint32_t duration, int16_t level) {
  if (LineWriter::CAPACITY - writer->used < LineWriter::LONGEST_LINE) {
    write_out(writer);
  }
  char scratch[LineWriter::LONGEST_LINE];
  char* end = scratch + sizeof scratch;
  *--end = '\n';
  uint32_t magnitude = level < 0 ? static_cast<uint32_t>(-static_cast<int32_t>(level))
                                 : static_cast<uint32_t>(level);
  end = format_decimal(end, magnitude);
  if (level < 0) {
    *--end = '-';
  }
  *--end = ' ';
  *--end = ':';
  *--end = ' ';
  end = format_decimal(end, duration);
  size_t length = static_cast<size_t>(scratch + sizeof scratch - end);
  std::memcpy(writer->buffer + writer->used, end, length);
  writer->used += length;
}

int line_writer_flush(LineWriter* writer) {
  write_out(writer);
  return writer->error;
}

int dump_pulses(libspectrum_tape* tape, LineWriter* writer) {
  adapter::EdgeRecord record{};
  uint32_t pending = 0;
  // The record that ends the tape is still counted and, if it is an edge,
  // written; later records of a rewound tape are not asked for.
  while ((record.flags & static_cast<uint32_t>(LIBSPECTRUM_TAPE_FLAGS_TAPE)) == 0) {
    int error = adapter::tape_get_next_edge(&record, tape);
    if (error != 0) {
      return error;
    }
    pending += record.duration;
    if (record.edge == 0) {
      continue;
    }
    write_pulse_line(writer, pending, static_cast<int16_t>(record.level & 0xFFFF));
    pending = 0;
    if (writer->error != 0) {
      return 0;  // the output is lost; no point playing on
    }
  }
  return 0;
}
