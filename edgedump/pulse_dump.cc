// The edge walk and the pulse file's lines.
#include "pulse_dump.h"

#include <cerrno>
#include <cstring>

#include "tape.h"

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
    unsigned pair = value * 2;
    p[-2] = DIGIT_PAIRS[pair];
    p[-1] = DIGIT_PAIRS[pair + 1];
  } else {
    p[-1] = static_cast<char>('0' + value);
  }
  return end;
}

// Writes `value` in decimal at `out`; returns the end.
char* put_decimal64(char* out, uint64_t value) {
  if (value <= UINT32_MAX) {
    return put_decimal(out, static_cast<uint32_t>(value));
  }
  char digits[20];
  size_t count = 0;
  while (value > 0) {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  while (count > 0) {
    *out++ = digits[--count];
  }
  return out;
}

}  // namespace

namespace pulse_dump_detail {

void write_out(LineWriter* writer) {
  if (writer->error == 0 && writer->used > 0 &&
      std::fwrite(writer->buffer, 1, writer->used, writer->out) != writer->used) {
    writer->error = errno != 0 ? errno : EIO;
  }
  writer->used = 0;
}

void format_cached_line(LineWriter::CachedLine* line, uint32_t duration) {
  char text[sizeof line->text[0] + 4];
  char* p = put_decimal(text, duration);
  std::memcpy(p, " : 0\n", 5);
  p += 5;
  line->duration = duration;
  line->length = static_cast<uint32_t>(p - text);
  std::memcpy(line->text[0], text, sizeof line->text[0]);
  std::memcpy(line->text[1], text, sizeof line->text[1]);
  line->text[1][line->length - 2] = '1';
}

void write_any_line(LineWriter* writer, uint64_t duration, int16_t level) {
  char* p = put_decimal64(writer->buffer + writer->used, duration);
  std::memcpy(p, " : ", 3);  // NOLINT(bugprone-not-null-terminated-result): a line, not a string
  p += 3;
  if (level < 0) {
    *p++ = '-';
  }
  p = put_decimal(p, level < 0 ? static_cast<uint32_t>(-static_cast<int32_t>(level))
                               : static_cast<uint32_t>(level));
  *p++ = '\n';
  writer->used = static_cast<size_t>(p - writer->buffer);
}

}  // namespace pulse_dump_detail

void line_writer_init(LineWriter* writer, std::FILE* out) {
  writer->out = out;
  writer->used = 0;
  writer->error = 0;
  for (size_t slot = 0; slot < LineWriter::CACHED_LINES; ++slot) {
    writer->cache[slot].duration = static_cast<uint32_t>(slot ^ 1);  // belongs to another slot
  }
}

int line_writer_flush(LineWriter* writer) {
  pulse_dump_detail::write_out(writer);
  return writer->error;
}

namespace {

// The walk, with or without a limit on the records it reads.
template <bool LIMITED>
int walk(libspectrum_tape* tape, LineWriter* writer, uint64_t max_records) {
  const adapter::EdgeFlags flags = adapter::edge_flags();
  adapter::EdgeRecord record{};
  uint64_t pending = 0;
  // Where the next line goes stays in a register; the writer sees it again
  // whenever it writes out, and at the end.
  char* out = writer->buffer + writer->used;
  char* const last = writer->buffer + LineWriter::CAPACITY - LineWriter::LONGEST_LINE;
  int error = 0;
  // The record that ends the tape is still counted and, if it is an edge,
  // written; later records of a rewound tape are not asked for.
  for (uint64_t records = 0; (record.flags & static_cast<uint32_t>(flags.tape_end)) == 0 &&
                             (!LIMITED || records < max_records);
       ++records) {
    error = adapter::tape_get_next_edge(&record, tape, flags);
    if (error != 0) {
      break;
    }
    pending += record.duration;
    if (record.edge == 0) {
      continue;
    }
    if (out > last) {
      writer->used = static_cast<size_t>(out - writer->buffer);
      pulse_dump_detail::write_out(writer);
      out = writer->buffer;
      if (writer->error != 0) {
        return 0;  // the output is lost; no point playing on
      }
    }
    // The level is 0 or 1: the adapter's rule keeps it so.
    if (pending <= UINT32_MAX) {
      out = append_cached_line(writer, out, static_cast<uint32_t>(pending),
                               static_cast<unsigned>(record.level & 1));
    } else {
      writer->used = static_cast<size_t>(out - writer->buffer);
      pulse_dump_detail::write_any_line(writer, pending, static_cast<int16_t>(record.level & 1));
      out = writer->buffer + writer->used;
    }
    pending = 0;
  }
  writer->used = static_cast<size_t>(out - writer->buffer);
  return error;
}

}  // namespace

int dump_pulses(libspectrum_tape* tape, LineWriter* writer, uint64_t max_records) {
  return max_records == ALL_RECORDS ? walk<false>(tape, writer, max_records)
                                    : walk<true>(tape, writer, max_records);
}
