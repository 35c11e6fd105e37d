// ZX names: Spectrum text as UTF-8.
#include <cstring>

#include "cartridge.h"

namespace adapter {

namespace {

// Keywords of the 48K ROM for codes 0xA5 to 0xFF.
constexpr const char* TOKENS[] = {
    "RND",     "INKEY$", "PI",     "FN",       "POINT",     "SCREEN$", "ATTR",   "AT",
    "TAB",     "VAL$",   "CODE",   "VAL",      "LEN",       "SIN",     "COS",    "TAN",
    "ASN",     "ACS",    "ATN",    "LN",       "EXP",       "INT",     "SQR",    "SGN",
    "ABS",     "PEEK",   "IN",     "USR",      "STR$",      "CHR$",    "NOT",    "BIN",
    "OR",      "AND",    "<=",     ">=",       "<>",        "LINE",    "THEN",   "TO",
    "STEP",    "DEF FN", "CAT",    "FORMAT",   "MOVE",      "ERASE",   "OPEN #", "CLOSE #",
    "MERGE",   "VERIFY", "BEEP",   "CIRCLE",   "INK",       "PAPER",   "FLASH",  "BRIGHT",
    "INVERSE", "OVER",   "OUT",    "LPRINT",   "LLIST",     "STOP",    "READ",   "DATA",
    "RESTORE", "NEW",    "BORDER", "CONTINUE", "DIM",       "REM",     "FOR",    "GO TO",
    "GO SUB",  "INPUT",  "LOAD",   "LIST",     "LET",       "PAUSE",   "NEXT",   "POKE",
    "PRINT",   "PLOT",   "RUN",    "SAVE",     "RANDOMIZE", "IF",      "CLS",    "DRAW",
    "CLEAR",   "RETURN", "COPY",
};
static_assert(sizeof(TOKENS) / sizeof(TOKENS[0]) == 0x100 - 0xA5, "one keyword per token");

// Quarter-square graphics 0x80-0x8F: bit 1 top left, bit 0 top right,
// bit 3 bottom left, bit 2 bottom right.
char graphic_half(unsigned top, unsigned bottom) {
  if (top && bottom) {
    return ':';
  }
  if (top) {
    return '\'';
  }
  return bottom ? '.' : ' ';
}

// Appends `text` to the output; false when it (and a final NUL) won't fit.
bool append(char* output, size_t capacity, size_t* used, const char* text, size_t length) {
  if (length >= capacity - *used) {
    return false;
  }
  std::memcpy(output + *used, text, length);
  *used += length;
  return true;
}

}  // namespace

int zx_string_to_utf8(char* output, size_t capacity, const unsigned char* source,
                      size_t source_length) {
  if (output == nullptr || source == nullptr || capacity == 0) {
    return 1;
  }
  while (source_length > 0 && source[source_length - 1] == 0x20) {
    --source_length;
  }
  size_t used = 0;
  for (size_t i = 0; i < source_length; ++i) {
    unsigned code = source[i];
    char small[4];
    const char* text = small;
    size_t length = 1;
    if (code < 0x20) {
      small[0] = '?';
    } else if (code == 0x5C) {
      text = "\\\\";
      length = 2;
    } else if (code == 0x5E) {
      text = "\xE2\x86\x91";  // U+2191 UPWARDS ARROW
      length = 3;
    } else if (code == 0x60) {
      text = "\xC2\xA3";  // U+00A3 POUND SIGN
      length = 2;
    } else if (code == 0x7F) {
      text = "\xC2\xA9";  // U+00A9 COPYRIGHT SIGN
      length = 2;
    } else if (code < 0x80) {
      small[0] = static_cast<char>(code);
    } else if (code < 0x90) {
      small[0] = '\\';
      small[1] = graphic_half(code & 0x02, code & 0x08);
      small[2] = graphic_half(code & 0x01, code & 0x04);
      length = 3;
    } else if (code < 0xA5) {
      small[0] = '\\';
      small[1] = static_cast<char>('a' + (code - 0x90));
      length = 2;
    } else {
      text = TOKENS[code - 0xA5];
      length = std::strlen(text);
    }
    if (!append(output, capacity, &used, text, length)) {
      return 1;
    }
  }
  output[used] = '\0';
  return 0;
}

}  // namespace adapter

std::string zx_name_text(const unsigned char* name) {
  char text[ZX_NAME_TEXT_SIZE];
  if (adapter::zx_string_to_utf8(text, sizeof text, name, adapter::MDR_NAME_SIZE) != 0) {
    return "";
  }
  return text;
}
