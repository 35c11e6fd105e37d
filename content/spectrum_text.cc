// Spectrum characters and numbers as the listings show them.
#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>

#include "content.h"

namespace {

constexpr unsigned char FIRST_TOKEN = 0xA3;

// The keywords of the tokens 0xA3-0xFF.
constexpr std::string_view KEYWORDS[] = {
    "SPECTRUM", "PLAY",    "RND",     "INKEY$", "PI",     "FN",       "POINT",     "SCREEN$",
    "ATTR",     "AT",      "TAB",     "VAL$",   "CODE",   "VAL",      "LEN",       "SIN",
    "COS",      "TAN",     "ASN",     "ACS",    "ATN",    "LN",       "EXP",       "INT",
    "SQR",      "SGN",     "ABS",     "PEEK",   "IN",     "USR",      "STR$",      "CHR$",
    "NOT",      "BIN",     "OR",      "AND",    "<=",     ">=",       "<>",        "LINE",
    "THEN",     "TO",      "STEP",    "DEF FN", "CAT",    "FORMAT",   "MOVE",      "ERASE",
    "OPEN #",   "CLOSE #", "MERGE",   "VERIFY", "BEEP",   "CIRCLE",   "INK",       "PAPER",
    "FLASH",    "BRIGHT",  "INVERSE", "OVER",   "OUT",    "LPRINT",   "LLIST",     "STOP",
    "READ",     "DATA",    "RESTORE", "NEW",    "BORDER", "CONTINUE", "DIM",       "REM",
    "FOR",      "GO TO",   "GO SUB",  "INPUT",  "LOAD",   "LIST",     "LET",       "PAUSE",
    "NEXT",     "POKE",    "PRINT",   "PLOT",   "RUN",    "SAVE",     "RANDOMIZE", "IF",
    "CLS",      "DRAW",    "CLEAR",   "RETURN", "COPY",
};
static_assert(sizeof KEYWORDS / sizeof KEYWORDS[0] == 0x100 - FIRST_TOKEN, "one per token");

// The ROM's token table starts at RND (0xA5); its first 32 entries (RND to
// BIN), the functions, print with no space before them, and its first
// three (RND, INKEY$, PI) with none after.
constexpr unsigned char FIRST_STATEMENT = 0xA5 + 0x20;
constexpr unsigned char AFTER_PI = 0xA5 + 3;

// The block graphics 0x80-0x8F: bit 0 top right, 1 top left, 2 bottom
// right, 3 bottom left.
constexpr const char* BLOCK_GRAPHICS[] = {
    "\u00A0", "\u259D", "\u2598", "\u2580", "\u2597", "\u2590", "\u259A", "\u259C",
    "\u2596", "\u259E", "\u258C", "\u259B", "\u2584", "\u259F", "\u2599", "\u2588",
};

constexpr char HEX_DIGITS[] = "0123456789ABCDEF";

// A keyword with the spaces that the ROM's token printer gives it: one
// before unless the last character was a space or the token is a function
// or begins with a sign (<=, >=, <>); one after when it ends in a letter or
// '$', but for RND, INKEY$ and PI.
void append_keyword(std::string* text, unsigned char code, bool* space_before) {
  std::string_view keyword = KEYWORDS[code - FIRST_TOKEN];
  bool statement = code < 0xA5 || code >= FIRST_STATEMENT;
  if (statement && keyword[0] >= 'A' && !*space_before) {
    *text += ' ';
  }
  text->append(keyword.data(), keyword.size());
  char last = keyword.back();
  *space_before = false;
  if ((last == '$' || last >= 'A') && (code < 0xA5 || code >= AFTER_PI)) {
    *text += ' ';
    *space_before = true;
  }
}

}  // namespace

void append_spectrum_char(std::string* text, unsigned char code, bool* space_before) {
  if (code >= FIRST_TOKEN) {
    append_keyword(text, code, space_before);
    return;
  }
  if (code >= 0x90) {
    *text += "{UDG-";
    *text += static_cast<char>('A' + (code - 0x90));
    *text += '}';
  } else if (code >= 0x80) {
    *text += BLOCK_GRAPHICS[code - 0x80];
  } else if (code == 0x5E) {
    *text += "\u2191";
  } else if (code == 0x60) {
    *text += "\u00A3";
  } else if (code == 0x7F) {
    *text += "\u00A9";
  } else if (code >= 0x20) {
    *text += static_cast<char>(code);
  } else {
    append_byte_code(text, code);
    return;
  }
  *space_before = code == ' ';
}

void append_byte_code(std::string* text, unsigned char code) {
  char shown[] = {'{', '0', 'x', HEX_DIGITS[code >> 4], HEX_DIGITS[code & 0xF], '}'};
  text->append(shown, sizeof shown);
}

int control_operands(unsigned char code) {
  if (code >= 0x10 && code <= 0x15) {
    return 1;
  }
  return code == 0x16 || code == 0x17 ? 2 : 0;
}

double spectrum_number(const unsigned char* bytes) {
  if (bytes[0] == 0) {
    // Small integer: sign byte (0x00 or 0xFF), then the value's low 16
    // bits, in two's complement for a negative one.
    double value = bytes[2] | bytes[3] << 8;
    return bytes[1] == 0 ? value : value - 65536.0;
  }
  // Exponent biased by 128; a 32-bit mantissa, big-endian, of 0.5 to 1
  // whose top bit, always 1, holds the sign instead.
  unsigned long mantissa = static_cast<unsigned long>(bytes[1] | 0x80) << 24 |
                           static_cast<unsigned long>(bytes[2]) << 16 |
                           static_cast<unsigned long>(bytes[3]) << 8 | bytes[4];
  double value = std::ldexp(static_cast<double>(mantissa), bytes[0] - 128 - 32);
  return (bytes[1] & 0x80) != 0 ? -value : value;
}

std::string number_text(double value) {
  char text[32];
  if (value == std::floor(value) && std::fabs(value) < 1e12) {
    std::snprintf(text, sizeof text, "%.0f", value);
  } else {
    std::snprintf(text, sizeof text, "%.9g", value);
  }
  return text;
}
