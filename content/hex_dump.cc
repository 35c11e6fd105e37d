// Bytes in the layout of `hexdump -C -v`.
#include <string>

#include "content.h"

namespace {

constexpr size_t BYTES_PER_LINE = 16;
// "00000000  " + 16 x "xx " + the gap + " |" + 16 characters + "|\n"
constexpr size_t LINE_SIZE = 10 + 3 * BYTES_PER_LINE + 1 + 2 + BYTES_PER_LINE + 2;

constexpr char HEX_DIGITS[] = "0123456789abcdef";

// `value` as eight lower-case hex digits at `out`.
void put_offset(char* out, size_t value) {
  for (int i = 7; i >= 0; --i) {
    out[i] = HEX_DIGITS[value & 0xF];
    value >>= 4;
  }
}

}  // namespace

std::string hex_dump(const unsigned char* bytes, size_t size) {
  std::string dump;
  if (size == 0) {
    return dump;
  }
  dump.reserve((size / BYTES_PER_LINE + 2) * LINE_SIZE);
  for (size_t offset = 0; offset < size; offset += BYTES_PER_LINE) {
    size_t count = size - offset < BYTES_PER_LINE ? size - offset : BYTES_PER_LINE;
    // A short last line keeps the columns: its missing bytes are blanks,
    // and its characters follow right after its last byte's.
    char line[LINE_SIZE];
    size_t at = 0;
    put_offset(line, offset);
    at = 8;
    line[at++] = ' ';
    for (size_t i = 0; i < BYTES_PER_LINE; ++i) {
      if (i == 8) {
        line[at++] = ' ';
      }
      line[at++] = ' ';
      if (i < count) {
        line[at++] = HEX_DIGITS[bytes[offset + i] >> 4];
        line[at++] = HEX_DIGITS[bytes[offset + i] & 0xF];
      } else {
        line[at++] = ' ';
        line[at++] = ' ';
      }
    }
    line[at++] = ' ';
    line[at++] = ' ';
    line[at++] = '|';
    for (size_t i = 0; i < count; ++i) {
      unsigned char c = bytes[offset + i];
      line[at++] = c >= 0x20 && c <= 0x7E ? static_cast<char>(c) : '.';
    }
    line[at++] = '|';
    line[at++] = '\n';
    dump.append(line, at);
  }
  char end[9];
  put_offset(end, size);
  end[8] = '\n';
  dump.append(end, sizeof end);
  return dump;
}
