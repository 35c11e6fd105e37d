// The variables saved after a BASIC program, one a line.
#include <cstdio>
#include <string>

#include "content.h"

namespace {

// The variables area, each variable's kind in the top three bits of its
// first byte and its letter (1 = a) in the low five:
//   010  string         letter, length (2), characters
//   011  number         letter, value (5)
//   100  number array   letter, length (2), dimensions (1), each (2),
//                       values (5 each), the last subscript fastest
//   101  number         letter, more characters (the last with bit 7 set),
//                       value (5)
//   110  character      letter, length (2), dimensions (1), each (2),
//        array          characters
//   111  FOR variable   letter, value, limit, step (5 each), line (2),
//                       statement (1)
// Lengths count what follows them. The area ends with 0x80, which SAVE
// leaves out.
constexpr unsigned char END_MARKER = 0x80;
constexpr size_t NUMBER_SIZE = 5;
constexpr size_t FOR_SIZE = 1 + 3 * NUMBER_SIZE + 3;
constexpr size_t MOST_BYTES = 0xFFFF;  // what a 2-byte length holds

size_t word_at(const unsigned char* bytes) {
  return static_cast<size_t>(bytes[0] | bytes[1] << 8);
}

char letter(unsigned char first) {
  return static_cast<char>('a' - 1 + (first & 0x1F));
}

std::string byte_count(size_t count) {
  return std::to_string(count) + (count == 1 ? " byte" : " bytes");
}

// `size` characters as a string literal: between quotes, a quote doubled
// as BASIC writes it.
std::string quoted(const unsigned char* text, size_t size) {
  std::string shown = "\"";
  bool space_before = false;
  int operands = 0;
  for (size_t i = 0; i < size; ++i) {
    if (operands > 0) {
      append_byte_code(&shown, text[i]);
      --operands;
    } else if (text[i] == '"') {
      shown += "\"\"";
      space_before = false;
    } else {
      append_spectrum_char(&shown, text[i], &space_before);
      operands = control_operands(text[i]);
    }
  }
  return shown + "\"";
}

// One array's dimensions and elements, `size` bytes at `body` (after its
// length), as " a(2,3) = 1, 2, ..." without the "DIM" and the name.
// Characters are grouped by the last dimension into strings. Empty with
// `*problem` set when the dimensions do not fit the length.
std::string array_text(const unsigned char* body, size_t size, bool characters,
                       std::string* problem) {
  if (size < 1 || size < 1 + 2 * static_cast<size_t>(body[0])) {
    *problem = "its dimensions run past its length";
    return "";
  }
  size_t count = body[0];
  const unsigned char* values = body + 1 + 2 * count;
  size_t room = size - 1 - 2 * count;
  size_t element = characters ? 1 : NUMBER_SIZE;
  std::string text = "(";
  // Past what any length holds, the product is no longer kept (it may run
  // past any integer): `beyond` says so. A dimension of 0 makes none.
  size_t elements = count == 0 ? 0 : 1;
  bool beyond = false;
  bool none = false;
  for (size_t d = 0; d < count; ++d) {
    size_t dimension = word_at(body + 1 + 2 * d);
    text += (d == 0 ? "" : ",") + std::to_string(dimension);
    none = none || dimension == 0;
    if (!beyond) {
      elements *= dimension;  // at most 65,535 x 65,535
      beyond = elements > MOST_BYTES;
    }
  }
  text += ")";
  if (none) {
    elements = 0;
    beyond = false;
  }
  if (beyond || elements * element != room) {
    *problem = "its dimensions need " + std::string(beyond ? "more than " : "") +
               std::to_string(beyond ? MOST_BYTES : elements) +
               (elements == 1 && !beyond ? " element" : " elements") + ", its length holds " +
               byte_count(room);
    return "";
  }
  if (elements == 0) {
    return text;
  }
  text += " = ";
  if (characters) {
    size_t row = word_at(body + 1 + 2 * (count - 1));
    for (size_t i = 0; i < elements; i += row) {
      text += (i == 0 ? "" : ", ") + quoted(values + i, row);
    }
  } else {
    for (size_t i = 0; i < elements; ++i) {
      text += (i == 0 ? "" : ", ") + number_text(spectrum_number(values + i * NUMBER_SIZE));
    }
  }
  return text;
}

}  // namespace

std::string variables_lines(const unsigned char* bytes, size_t start, size_t size) {
  std::string lines;
  size_t at = start;
  std::string stop;
  while (at < size && bytes[at] != END_MARKER) {
    unsigned char first = bytes[at];
    unsigned kind = first >> 5;
    std::string name(1, letter(first));
    if (kind == 2 || kind == 6) {
      name += "$";
    }
    size_t rest = size - at - 1;  // bytes after the first
    size_t need = 0;              // bytes after the first that it takes
    std::string text;
    std::string problem;
    switch (kind) {
      case 2:  // string
      case 4:  // number array
      case 6:  // character array
        if (rest < 2) {
          need = 2;
          break;
        }
        need = 2 + word_at(bytes + at + 1);
        if (kind == 2) {
          if (need <= rest) {
            text = name + " = " + quoted(bytes + at + 3, need - 2);
          }
        } else {
          if (need <= rest) {
            text = "DIM " + name + array_text(bytes + at + 3, need - 2, kind == 6, &problem);
          }
        }
        break;
      case 3:
        need = NUMBER_SIZE;
        if (need <= rest) {
          text = name + " = " + number_text(spectrum_number(bytes + at + 1));
        }
        break;
      case 5: {
        // The name's further characters, up to one with bit 7 set.
        size_t end = at + 1;
        while (end < size && (bytes[end] & 0x80) == 0) {
          ++end;
        }
        if (end == size) {
          need = rest + 1;
          break;
        }
        for (size_t i = at + 1; i <= end; ++i) {
          bool space_before = false;
          append_spectrum_char(&name, static_cast<unsigned char>(bytes[i] & 0x7F), &space_before);
        }
        need = end - at + NUMBER_SIZE;
        if (need <= rest) {
          text = name + " = " + number_text(spectrum_number(bytes + end + 1));
        }
        break;
      }
      case 7:
        need = FOR_SIZE - 1;
        if (need <= rest) {
          const unsigned char* p = bytes + at + 1;
          text = "FOR " + name + " = " + number_text(spectrum_number(p)) + " TO " +
                 number_text(spectrum_number(p + NUMBER_SIZE)) + " STEP " +
                 number_text(spectrum_number(p + 2 * NUMBER_SIZE)) + ", back to line " +
                 std::to_string(word_at(p + 3 * NUMBER_SIZE)) + " statement " +
                 std::to_string(p[3 * NUMBER_SIZE + 2]);
        }
        break;
      default: {
        char code[8];
        std::snprintf(code, sizeof code, "0x%02X", first);
        stop = std::string(code) + " begins no kind of variable";
        break;
      }
    }
    if (!stop.empty()) {
      break;
    }
    if (need > rest) {
      stop = "the data ends inside " + name + ", " + byte_count(rest + 1) + " of " +
             std::to_string(need + 1);
      break;
    }
    if (!problem.empty()) {
      lines += "    DIM " + name + ": " + problem + "\n";
    } else {
      lines += "    " + text + "\n";
    }
    at += 1 + need;
  }
  if (!stop.empty()) {
    lines += "  Variables stop at byte " + std::to_string(at) + ": " + stop + "\n";
  } else if (at < size && size - at > 1) {
    lines += "  Variables end at byte " + std::to_string(at) + ", " + byte_count(size - at - 1) +
             " after their end marker\n";
  }
  return lines;
}
