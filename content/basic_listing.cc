// A BASIC program's lines as LIST shows them, then its variables.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "content.h"

namespace {

// A program line: its number (big-endian), the length of its text
// (little-endian), then the text, which ends in 0x0D.
constexpr size_t LINE_HEADER_SIZE = 4;
constexpr unsigned LAST_LINE_NUMBER = 16383;  // LIST stops at anything higher
constexpr unsigned char END_OF_LINE = 0x0D;
constexpr unsigned char NUMBER_MARK = 0x0E;
constexpr unsigned char BIN_TOKEN = 0xC4;
constexpr unsigned char DEF_FN_TOKEN = 0xCE;

// The digits typed since the last thing that is no part of a number, as
// the ROM reads them when it makes the hidden form: spaces and colour
// controls among them are passed over; BIN before them makes them binary.
struct TypedNumber {
  static constexpr size_t ROOM = 40;
  char text[ROOM + 1];  // digits, point, exponent, NUL-terminated
  size_t length = 0;
  bool binary = false;
  bool exponent = false;
  bool too_long = false;  // more than ROOM characters: not compared

  void clear(bool after_bin) {
    length = 0;
    binary = after_bin;
    exponent = false;
    too_long = false;
  }

  // True for most of a program's text: a character that is no part of a
  // number (a letter past 'e', a quote, '=', ':') when none is being typed.
  bool passes_over(unsigned char c) const {
    return length == 0 && !binary &&
           ((c >= 'f' && c < 0x7F) || (c >= 'F' && c <= 'Z' && c != 'E') || c == '"' ||
            c == '=' || c == ':');
  }

  void take(unsigned char c) {
    bool digit = (c >= '0' && c <= '9') || c == '.';
    bool starts_exponent = (c == 'e' || c == 'E') && length > 0 && !binary && !exponent;
    bool sign = (c == '+' || c == '-') && length > 0 &&
                (text[length - 1] == 'e' || text[length - 1] == 'E');
    if (digit || starts_exponent || sign) {
      exponent = exponent || starts_exponent;
      if (length < ROOM) {
        text[length++] = static_cast<char>(c);
      } else {
        too_long = true;
      }
    } else if (c != ' ') {
      clear(c == BIN_TOKEN);
    }
  }

  // The value typed, or false when no digits were (or too many).
  bool value(double* typed) {
    if (too_long) {
      return false;
    }
    if (binary) {
      double number = 0;
      for (size_t i = 0; i < length; ++i) {
        if (text[i] != '0' && text[i] != '1') {
          return false;
        }
        number = number * 2 + (text[i] - '0');
      }
      *typed = number;
      return true;  // BIN alone is 0
    }
    // Whole numbers of up to 15 digits, nearly all of them, exactly and
    // fast; the rest as the C library reads them.
    if (length > 0 && length <= 15 && !exponent) {
      double number = 0;
      size_t i = 0;
      while (i < length && text[i] >= '0' && text[i] <= '9') {
        number = number * 10 + (text[i] - '0');
        ++i;
      }
      if (i == length) {
        *typed = number;
        return true;
      }
    }
    text[length] = '\0';
    char* end = nullptr;
    *typed = std::strtod(text, &end);
    return end != text;
  }
};

// True when the typed value and the hidden one are the same number, up to
// the rounding of the ROM's conversion.
bool same_number(double typed, double hidden) {
  if (!std::isfinite(typed)) {
    return false;  // digits past what the Spectrum holds ("1e999")
  }
  return std::fabs(typed - hidden) <= 1e-8 * std::fmax(std::fabs(typed), std::fabs(hidden));
}

// True for the codes that print as themselves: ASCII but for 0x5E (an
// up arrow) and 0x60 (a pound sign).
bool plain_ascii(unsigned char code) {
  return code >= 0x20 && code < 0x7F && code != 0x5E && code != 0x60;
}

// Appends to `*out` one line's text, `length` bytes at `text`, as LIST
// shows it.
void append_line_text(std::string* out, const unsigned char* text, size_t length) {
  std::string& shown = *out;
  bool space_before = false;
  int operands = 0;
  size_t i = 0;
  TypedNumber number;
  number.clear(false);
  bool parameters = false;  // between DEF FN and its ')'

  while (i < length) {
    unsigned char code = text[i];
    if (code == NUMBER_MARK && length - i >= HIDDEN_NUMBER_SIZE) {
      // LIST steps over the marker and the five bytes of the value, even
      // as a control's operand; what runs is that value.
      double hidden = spectrum_number(text + i + 1);
      double typed = 0;
      bool digits = number.value(&typed);
      // DEF FN keeps the value of each parameter in a hidden number of its
      // own, after the parameter's name; no digits are typed there.
      if ((digits && !same_number(typed, hidden)) || (!digits && !parameters)) {
        shown += "{=" + number_text(hidden) + "}";
      }
      i += HIDDEN_NUMBER_SIZE;
      number.clear(false);
      continue;
    }
    if (code == END_OF_LINE) {
      size_t rest = length - i - 1;
      if (rest > 0) {
        shown += "{" + std::to_string(rest) + (rest == 1 ? " more byte}" : " more bytes}");
      }
      return;
    }
    if (plain_ascii(code) && operands == 0) {
      // Plain ASCII, most of a program: a run of it goes across at once.
      size_t start = i;
      do {
        if (!number.passes_over(code)) {
          number.take(code);
        }
        if (code == ')' || code == ':') {
          parameters = false;
        }
        ++i;
      } while (i < length && plain_ascii(code = text[i]));
      shown.append(reinterpret_cast<const char*>(text + start), i - start);
      space_before = text[i - 1] == ' ';
      continue;
    }
    if (operands > 0) {
      append_byte_code(&shown, code);
      --operands;
    } else {
      append_spectrum_char(&shown, code, &space_before);
      operands = control_operands(code);
      if (operands == 0) {
        number.take(code);
      }
      if (code == DEF_FN_TOKEN || code == ')' || code == ':') {
        parameters = code == DEF_FN_TOKEN;
      }
    }
    ++i;
  }
  shown += "{no end of line}";
}

std::string byte_count(size_t count) {
  return std::to_string(count) + (count == 1 ? " byte" : " bytes");
}

}  // namespace

std::string basic_listing(const unsigned char* bytes, size_t size, size_t program_length) {
  std::string listing = "  Listing:\n";
  listing.reserve(size * 2);
  size_t program_end = program_length < size ? program_length : size;
  // What ends the program where a line is cut: the data, or the program's
  // length with variables after it.
  const char* cut_by = program_length > size ? "the data ends" : "the program ends";
  std::string stop;
  size_t at = 0;
  size_t lines = 0;
  while (at < program_end) {
    if (program_end - at < LINE_HEADER_SIZE) {
      stop = std::string(cut_by) + " inside a line's number and length";
      break;
    }
    unsigned number = static_cast<unsigned>(bytes[at] << 8 | bytes[at + 1]);
    size_t length = static_cast<size_t>(bytes[at + 2] | bytes[at + 3] << 8);
    if (number > LAST_LINE_NUMBER) {
      stop = std::to_string(number) + " is no line number (16383 at most)";
      break;
    }
    size_t text = at + LINE_HEADER_SIZE;
    size_t present = program_end - text < length ? program_end - text : length;
    // "  %4u": the number right-aligned on four digits.
    char heading[8] = "      ";
    size_t end = number >= 10000 ? 7 : 6;
    for (unsigned rest = number, place = 0; place == 0 || rest > 0; rest /= 10, ++place) {
      heading[end - 1 - place] = static_cast<char>('0' + rest % 10);
    }
    listing.append(heading, end);
    append_line_text(&listing, bytes + text, present);
    listing += '\n';
    ++lines;
    if (present < length) {
      stop = std::string(cut_by) + " " + byte_count(present) + " into line " +
             std::to_string(number) + "'s " + std::to_string(length);
      break;
    }
    at = text + length;
  }
  if (stop.empty() && program_length > size) {
    at = size;
    stop = "the data ends " + byte_count(program_length - size) + " short of the program's " +
           std::to_string(program_length);
  }
  if (lines == 0) {
    listing = "  Listing: no lines\n";
  }
  if (!stop.empty()) {
    listing += "  Listing stops at byte " + std::to_string(at) + ": " + stop + "\n";
  }
  if (program_length < size) {
    listing += "  Variables:\n" + variables_lines(bytes, program_length, size);
  }
  return listing;
}
