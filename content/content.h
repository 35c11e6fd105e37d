// What a file holds, in forms a person reads: BASIC programs and the
// variables saved with them as text, any bytes as a hex dump, and a screen
// as a picture. The listers of every medium share these, so a program lists
// the same whether it came off a tape or a cartridge. Needs no libspectrum.
#ifndef QUILLKIT_CONTENT_CONTENT_H
#define QUILLKIT_CONTENT_CONTENT_H

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

// What the listers show of a file's bytes after its paragraph (-l, -d).
struct ContentShown {
  bool basic = false;  // a program's lines and variables
  bool dump = false;   // the bytes as a hex dump
};

// ---------------------------------------------------------------------------
// Spectrum text.

// Appends the Spectrum character `code` to `text` as the listings show it:
// 0x20-0x7E as ASCII but for 0x5E '↑' and 0x60 '£', 0x7F '©', the block
// graphics 0x80-0x8F as Unicode block elements (0x80, the empty one, as a
// no-break space), the UDGs 0x90-0xA2 as "{UDG-A}" to "{UDG-S}", the
// tokens 0xA3-0xFF as their keywords (0xA3 SPECTRUM, 0xA4 PLAY) with the
// spaces LIST puts around them, and every other code as "{0xNN}".
// `*space_before` says that the last character shown was a space (a keyword
// then starts without one of its own); it is brought up to date. Codes
// shown as "{0xNN}" leave it as it is, as they print nothing on the
// Spectrum.
void append_spectrum_char(std::string* text, unsigned char code, bool* space_before);

// Appends `code` to `text` as "{0xNN}", in upper-case hex.
void append_byte_code(std::string* text, unsigned char code);

// The number of operand bytes that follow the control code `code` in
// printed text: 1 after INK to OVER (0x10-0x15), 2 after AT and TAB (0x16,
// 0x17), else 0.
int control_operands(unsigned char code);

// The value of a number in the Spectrum's 5-byte form at `bytes`: the
// small-integer form (first byte 0) or the floating-point one.
double spectrum_number(const unsigned char* bytes);

// A value as the listings write it: an integer without a point, else up to
// nine significant digits.
std::string number_text(double value);

// ---------------------------------------------------------------------------
// BASIC programs.

// Size of the hidden form of a number in a program line, its 0x0E marker
// included.
constexpr size_t HIDDEN_NUMBER_SIZE = 6;

// The listing of a BASIC program saved as `size` bytes at `bytes`, the
// first `program_length` of them its lines and the rest its variables,
// in lines that each end in '\n' and begin with two spaces:
//   "  Listing:" (or "  Listing: no lines"), then every line as LIST shows
//   it after two more spaces, its number right-aligned on four digits; a
//   line ends at its first 0x0D, the bytes after it counted as "{N more
//   bytes}", or at its length as "{no end of line}"; hidden numbers are
//   left out, but the value that runs is shown as "{=VALUE}" after the
//   digits typed where it differs from them. Where the lines stop before
//   the program's end (the data runs out, a line runs past the program,
//   a line number above 16383) a last line says at which byte and why.
//   Then, when there are variables, "  Variables:" and one a line after
//   four spaces (see variables_lines).
std::string basic_listing(const unsigned char* bytes, size_t size, size_t program_length);

// The lines of the variables area at `bytes + start`, up to `size`: each
// variable after four spaces, "a = 1", "name = 2.5", "a$ = \"text\"",
// "FOR i = 1 TO 10 STEP 1, back to line 20 statement 2",
// "DIM a(2,3) = 1, 2, 3, 4, 5, 6", "DIM b$(2,3) = \"abc\", \"def\"";
// the end of the data or the end marker 0x80 ends them (bytes after the
// marker are counted: SAVE leaves the marker out), and a
// variable that runs past the data or a byte that is no variable's stops
// them with a line that says where and why. Offsets count from `bytes`.
std::string variables_lines(const unsigned char* bytes, size_t start, size_t size);

// ---------------------------------------------------------------------------
// Hex dumps.

// `size` bytes at `bytes` as `hexdump -C -v` shows them: lines of an
// 8-digit hex offset, 16 bytes in lower-case hex with a gap after the
// eighth, and the same bytes between '|' (0x20-0x7E as they are, others
// '.'); every line printed, none left out as '*'; then a line holding the
// offset after the last byte (nothing at all for no bytes).
std::string hex_dump(const unsigned char* bytes, size_t size);

// ---------------------------------------------------------------------------
// Screens.

// A screen's bytes: the bitmap then the attributes.
constexpr size_t SCREEN_BITMAP_SIZE = 6144;
constexpr size_t SCREEN_SIZE = 6912;
constexpr unsigned SCREEN_WIDTH = 256;
constexpr unsigned SCREEN_HEIGHT = 192;

// The colour of pixel (`x`, `y`) of the SCREEN_SIZE bytes at `screen` as
// 0xRRGGBB: its attribute's ink where its bit is set, else its paper;
// BRIGHT 0xFF, else 0xD7 for each primary that is on; FLASH in its first
// phase (ink as ink).
unsigned long screen_pixel(const unsigned char* screen, unsigned x, unsigned y);

// The SCREEN_SIZE bytes at `screen` as a 256 x 192 PNG picture (see
// screen_pixel), in `*png`, made by libpng in memory; a file written from
// it is a whole PNG. Returns 0, or 1 with `*error` saying why (libpng's
// words) and `*png` empty.
[[nodiscard]] int screen_picture(const unsigned char* screen, std::vector<unsigned char>* png,
                                 std::string* error);

#endif
