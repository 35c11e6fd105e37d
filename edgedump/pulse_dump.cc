// The edge walk and the pulse file's lines.
#include "pulse_dump.h"

#include <cerrno>
#include <cstring>

#include "adapter.h"

namespace {

// "00" to "99", for writing two digits at a time.
constexpr char DIGIT_PAIRS[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

constexpr uint32_t POWERS_OF_TEN[] = {1,      10,      100,      1000,      10000,
                                      100000, 1000000, 10000000, 100000000, 1000000000};

// Number of decimal digits of `v`, without branches: pulse lengths of
// different widths alternate at random, and mispredictions would cost more
// than the arithmetic.
unsigned decimal_length(uint32_t v) {
  v |= 1;  // 0 has one digit, like 1
  unsigned bits = 32 - static_cast<unsigned>(__builtin_clz(v));
  unsigned guess = (bits * 1233) >> 12;  // about bits * log10(2)
  return guess + 1 - (v < POWERS_OF_TEN[guess] ? 1 : 0);
}

// Writes `value` in decimal at `out`, which must have 4 bytes of room past
// the digits; returns the end.
char* put_decimal(char* out, uint32_t value) {
  unsigned length = decimal_length(value);
  if (value < 10000) {
    // Four digits with leading zeros, of which the last `length` are kept.
    char four[4];
    unsigned high = (value / 100) * 2;
    unsigned low = (value % 100) * 2;
    four[0] = DIGIT_PAIRS[high];
    four[1] = DIGIT_PAIRS[high + 1];
    four[2] = DIGIT_PAIRS[low];
    four[3] = DIGIT_PAIRS[low + 1];
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    // Drop the leading zeros by shifting them out of a 32-bit word.
    uint32_t word;
    std::memcpy(&word, four, 4);
    word >>= (4 - length) * 8;
    std::memcpy(out, &word, 4);
#else
    std::memcpy(out, four + 4 - length, length);
#endif
    return out + length;
  }
  char* end = out + length;
  char* p = end;
  while (value >= 100) {
    unsigned pair = (value % 100) * 2;
    value /= 100;
    p -= 2;
    p[0] = DIGIT_PAIRS[pair];
    p[1] = DIGIT_PAIRS[pair + 1];
  }
  if (value >= 10) {
    p[-2] = DIGIT_PAIRS[value * 2];
    p[-1] = DIGIT_PAIRS[value * 2 + 1];
  } else {
    p[-1] = static_cast<char>('0' + value);
  }
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
  char* p = put_decimal(writer->buffer + writer->used, duration);
  // Levels are almost always 0 or 1.
  if (level == 0 || level == 1) {
    std::memcpy(p, level == 0 ? " : 0\n" : " : 1\n", 5);
    p += 5;
  } else {
    std::memcpy(p, " : ", 3);
    p += 3;
    if (level < 0) {
      *p++ = '-';
    }
    p = put_decimal(p, level < 0 ? static_cast<uint32_t>(-static_cast<int32_t>(level))
                                 : static_cast<uint32_t>(level));
    *p++ = '\n';
  }
  writer->used = static_cast<size_t>(p - writer->buffer);
}

int line_writer_flush(LineWriter* writer) {
  write_out(writer);
  return writer->error;
}

int dump_pulses(libspectrum_tape* tape, LineWriter* writer, uint64_t max_records) {
  adapter::EdgeRecord record{};
  uint32_t pending = 0;
  // The record that ends the tape is still counted and, if it is an edge,
  // written; later records of a rewound tape are not asked for.
  for (uint64_t records = 0;
       (record.flags & static_cast<uint32_t>(LIBSPECTRUM_TAPE_FLAGS_TAPE)) == 0 &&
       records < max_records;
       ++records) {
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
