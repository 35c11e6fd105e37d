// What files hold, shown: BASIC listings and variables, hex dumps and
// screen pictures, on programs and screens built byte by byte.
#include <gtest/gtest.h>
#include <png.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "cartinfo.h"
#include "content.h"
#include "fixtures/basic_builder.h"
#include "fixtures/mdr_builder.h"
#include "fixtures/tape_builder.h"
#include "fixtures/test_util.h"
#include "tapeinfo.h"

using fixtures::basic_line;
using fixtures::Bytes;
using fixtures::number;
using fixtures::zx;

namespace {

Bytes joined(std::initializer_list<Bytes> parts) {
  return fixtures::concatenated(parts);
}

std::string listing_of(const Bytes& program, size_t program_length) {
  return basic_listing(program.data(), program.size(), program_length);
}

// Every token, alone on a line, as LIST spells and spaces it there.
TEST(BasicListing, EveryTokenSpelledAndSpacedAsList) {
  static const char* const SHOWN[] = {
      " SPECTRUM ", " PLAY ",   "RND",         "INKEY$",    "PI",       "FN ",      "POINT ",
      "SCREEN$ ",   "ATTR ",    "AT ",         "TAB ",      "VAL$ ",    "CODE ",    "VAL ",
      "LEN ",       "SIN ",     "COS ",        "TAN ",      "ASN ",     "ACS ",     "ATN ",
      "LN ",        "EXP ",     "INT ",        "SQR ",      "SGN ",     "ABS ",     "PEEK ",
      "IN ",        "USR ",     "STR$ ",       "CHR$ ",     "NOT ",     "BIN ",     " OR ",
      " AND ",      "<=",       ">=",          "<>",        " LINE ",   " THEN ",   " TO ",
      " STEP ",     " DEF FN ", " CAT ",       " FORMAT ",  " MOVE ",   " ERASE ",  " OPEN #",
      " CLOSE #",   " MERGE ",  " VERIFY ",    " BEEP ",    " CIRCLE ", " INK ",    " PAPER ",
      " FLASH ",    " BRIGHT ", " INVERSE ",   " OVER ",    " OUT ",    " LPRINT ", " LLIST ",
      " STOP ",     " READ ",   " DATA ",      " RESTORE ", " NEW ",    " BORDER ", " CONTINUE ",
      " DIM ",      " REM ",    " FOR ",       " GO TO ",   " GO SUB ", " INPUT ",  " LOAD ",
      " LIST ",     " LET ",    " PAUSE ",     " NEXT ",    " POKE ",   " PRINT ",  " PLOT ",
      " RUN ",      " SAVE ",   " RANDOMIZE ", " IF ",      " CLS ",    " DRAW ",   " CLEAR ",
      " RETURN ",   " COPY ",
  };
  Bytes program;
  std::string expected = "  Listing:\n";
  for (unsigned code = 0xA3; code <= 0xFF; ++code) {
    uint16_t line = static_cast<uint16_t>(code - 0xA2);
    program = joined({program, basic_line(line, Bytes{static_cast<uint8_t>(code)})});
    char number_text[8];
    std::snprintf(number_text, sizeof number_text, "%4u", line);
    expected += std::string("  ") + number_text + SHOWN[code - 0xA3] + "\n";
  }
  EXPECT_EQ(listing_of(program, program.size()), expected);
}

struct LineCase {
  const char* name;
  Bytes line;  // a whole line, number 10 unless it says otherwise
  const char* shown;
};

TEST(BasicListing, LinesAsListShowsThem) {
  const LineCase cases[] = {
      {"statements after a colon",
       basic_line(10, joined({zx("\xF5"), number("1", 1), zx(":\xEC"), number("10", 10)})),
       " PRINT 1: GO TO 10"},
      {"no space before a keyword after a space",
       basic_line(10, joined({zx("\xFA"
                                 "a\xCB\xEC"),
                              number("10", 10)})),
       " IF a THEN GO TO 10"},
      {"functions",
       basic_line(10, joined({zx("\xF1"
                                 "a=\xBA(\xA5*"),
                              number("6", 6), zx(")")})),
       " LET a=INT (RND*6)"},
      {"hidden number differs", basic_line(10, joined({zx("\xF9\xC0"), number("0", 24055)})),
       " RANDOMIZE USR 0{=24055}"},
      {"fraction as typed", basic_line(10, joined({zx("\xF1x="), number("0.1", 0.1)})),
       " LET x=0.1"},
      {"exponent", basic_line(10, joined({zx("\xF5"), number("1e3", 1000)})), " PRINT 1e3"},
      {"signed exponent differs", basic_line(10, joined({zx("\xF5"), number("2E-2", 0.5)})),
       " PRINT 2E-2{=0.5}"},
      {"digits past any number", basic_line(10, joined({zx("\xF5"), number("1e999", 0)})),
       " PRINT 1e999{=0}"},
      {"binary", basic_line(10, joined({zx("\xF5\xC4"), number("101", 5)})), " PRINT BIN 101"},
      {"binary differs", basic_line(10, joined({zx("\xF5\xC4"), number("101", 6)})),
       " PRINT BIN 101{=6}"},
      {"spaces typed after the digits", basic_line(10, joined({zx("\xEC"), number("2000 ", 2000)})),
       " GO TO 2000 "},
      {"colours among the digits",
       basic_line(10, joined({zx("\xF5"), number("1\x11\x02"
                                                 "2",
                                                 12)})),
       " PRINT 1{0x11}{0x02}2"},
      {"a minus is no part of the number",
       basic_line(10, joined({zx("\xF5"), number("3", 3), zx("-"), number("5", 5)})), " PRINT 3-5"},
      {"no digits at all", basic_line(10, joined({zx("\xF9\xC0"), number("", 100)})),
       " RANDOMIZE USR {=100}"},
      {"a parameter's slot in DEF FN",
       basic_line(10, joined({zx("\xCEp(x"), number("", 7), zx(")=x*"), number("2", 2)})),
       " DEF FN p(x)=x*2"},
      {"a hidden 13 ends no line", basic_line(10, joined({zx("\xF5"), number("13", 13)})),
       " PRINT 13"},
      {"colour controls and their operands", basic_line(10, zx("\xF5\"\x10\x02red\x11\x07\"")),
       " PRINT \"{0x10}{0x02}red{0x11}{0x07}\""},
      {"AT's printable operands", basic_line(10, zx("\xF5\"\x16\x41\x30x\"")),
       " PRINT \"{0x16}{0x41}{0x30}x\""},
      {"other codes", basic_line(10, zx("\xF5\"\x06\x01\x1F\"")), " PRINT \"{0x06}{0x01}{0x1F}\""},
      {"pound, arrow, copyright and UDGs", basic_line(10, zx("\xF5\"\x60\x5E\x7F\x90\x9A\xA2\"")),
       " PRINT \"\u00A3\u2191\u00A9{UDG-A}{UDG-K}{UDG-S}\""},
      {"block graphics",
       basic_line(10, zx("\xEA\x80\x81\x82\x83\x84\x85\x86\x87\x88\x89\x8A\x8B\x8C\x8D\x8E\x8F")),
       " REM \u00A0\u259D\u2598\u2580\u2597\u2590\u259A\u259C\u2596\u259E\u258C\u259B\u2584\u259F"
       "\u2599\u2588"},
      {"bytes after the end of line",
       fixtures::raw_line(10, 9,
                          zx("\xEA"
                             "ab\x0Dxyz\x0D\x0D")),
       " REM ab{5 more bytes}"},
      {"one byte after it",
       fixtures::raw_line(10, 5,
                          zx("\xEA"
                             "ab\x0D\x0D")),
       " REM ab{1 more byte}"},
      {"no end of line",
       fixtures::raw_line(10, 3,
                          zx("\xEA"
                             "ab")),
       " REM ab{no end of line}"},
      {"a hidden number cut by the line's end",
       fixtures::raw_line(10, 4, Bytes{0xF5, '1', 0x0E, 0x00}),
       " PRINT 1{0x0E}{0x00}{no end of line}"},
      {"no keyword first", basic_line(10, zx("a=b")), "a=b"},
  };
  for (const LineCase& c : cases) {
    EXPECT_EQ(listing_of(c.line, c.line.size()), std::string("  Listing:\n    10") + c.shown + "\n")
        << c.name;
  }
}

struct StopCase {
  const char* name;
  Bytes program;
  size_t program_length;
  const char* listing;
};

TEST(BasicListing, ListedAsFarAsItGoes) {
  Bytes ten = basic_line(10, joined({zx("\xF5"), number("1", 1)}));  // 13 bytes
  Bytes twenty = basic_line(20, zx("\xF5\"abcdefgh\""));             // 16 bytes
  Bytes both = joined({ten, twenty});
  const StopCase cases[] = {
      {"no lines", {}, 0, "  Listing: no lines\n"},
      {"cut in the middle of a line", Bytes(both.begin(), both.begin() + 13 + 9), 29,
       "  Listing:\n    10 PRINT 1\n    20 PRINT \"abc{no end of line}\n"
       "  Listing stops at byte 13: the data ends 5 bytes into line 20's 12\n"},
      {"cut in a line's number and length", Bytes(both.begin(), both.begin() + 15), 29,
       "  Listing:\n    10 PRINT 1\n"
       "  Listing stops at byte 13: the data ends inside a line's number and length\n"},
      {"a program length past the data", both, 41,
       "  Listing:\n    10 PRINT 1\n    20 PRINT \"abcdefgh\"\n"
       "  Listing stops at byte 29: the data ends 12 bytes short of the program's 41\n"},
      {"a line past the program's length",
       joined({ten, fixtures::raw_line(20, 12, zx("\xEA")), fixtures::number_variable("a", 1)}), 18,
       "  Listing:\n    10 PRINT 1\n    20 REM {no end of line}\n"
       "  Listing stops at byte 13: the program ends 1 byte into line 20's 12\n"
       "  Variables:\n    a = 1\n"},
      {"a line number above 16383", joined({ten, fixtures::raw_line(16384, 1, Bytes{0x0D})}), 18,
       "  Listing:\n    10 PRINT 1\n"
       "  Listing stops at byte 13: 16384 is no line number (16383 at most)\n"},
      {"numbers right-aligned", joined({basic_line(1, zx("\xE2")), basic_line(9999, zx("\xE2"))}),
       12, "  Listing:\n     1 STOP \n  9999 STOP \n"},
  };
  for (const StopCase& c : cases) {
    EXPECT_EQ(listing_of(c.program, c.program_length), c.listing) << c.name;
  }
}

struct VariableCase {
  const char* name;
  Bytes area;
  const char* lines;
};

TEST(BasicVariables, EveryKind) {
  using namespace fixtures;
  Bytes string_b = string_variable('b', zx("hi \"x\""));
  const VariableCase cases[] = {
      {"number", number_variable("a", 1), "    a = 1\n"},
      {"negative", number_variable("a", -3), "    a = -3\n"},
      {"fraction", number_variable("z", -0.25), "    z = -0.25\n"},
      {"large", number_variable("z", 1234567), "    z = 1234567\n"},
      {"long name", number_variable("total", 2.5), "    total = 2.5\n"},
      {"string", string_b, "    b$ = \"hi \"\"x\"\"\"\n"},
      {"string with codes", string_variable('c', zx("\x10\x02\xF5\x90")),
       "    c$ = \"{0x10}{0x02} PRINT {UDG-A}\"\n"},
      {"FOR loop", for_variable('i', 4, 10, 2, 20, 2),
       "    FOR i = 4 TO 10 STEP 2, back to line 20 statement 2\n"},
      {"number array", number_array('c', {2, 3}, {1, 2, 3, 4, 5, 6.5}),
       "    DIM c(2,3) = 1, 2, 3, 4, 5, 6.5\n"},
      {"character array", character_array('d', {2, 3}, zx("abcdef")),
       "    DIM d$(2,3) = \"abc\", \"def\"\n"},
      {"one-dimensional", character_array('e', {4}, zx("wxyz")), "    DIM e$(4) = \"wxyz\"\n"},
      {"several, then the end marker and two bytes",
       joined({number_variable("a", 1), string_variable('s', zx("x")), Bytes{0x80, 1, 2}}),
       "    a = 1\n    s$ = \"x\"\n  Variables end at byte 10, 2 bytes after their end marker\n"},
      {"the end marker alone", Bytes{0x80}, ""},
      {"no kind of variable", joined({number_variable("a", 1), Bytes{0x20}}),
       "    a = 1\n  Variables stop at byte 6: 0x20 begins no kind of variable\n"},
      {"cut string", Bytes(string_b.begin(), string_b.begin() + 4),
       "  Variables stop at byte 0: the data ends inside b$, 4 bytes of 9\n"},
      {"cut length", Bytes{0x42, 0x01},
       "  Variables stop at byte 0: the data ends inside b$, 2 bytes of 3\n"},
      {"cut long name", Bytes{0xA1, 'b', 'c'},
       "  Variables stop at byte 0: the data ends inside a, 3 bytes of 4\n"},
      {"dimensions the length does not hold",
       [] {
         Bytes a = number_array('c', {2, 3}, {1, 2});
         return a;
       }(),
       "    DIM c: its dimensions need 6 elements, its length holds 10 bytes\n"},
      {"dimensions whose product runs past any length",
       Bytes{0x83, 0x07, 0x00, 0x03, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
       "    DIM c: its dimensions need more than 65535 elements, its length holds 0 bytes\n"},
      {"one element where none fits", Bytes{0x83, 0x03, 0x00, 0x01, 0x01, 0x00},
       "    DIM c: its dimensions need 1 element, its length holds 0 bytes\n"},
      {"a dimension of 0 after a huge one", Bytes{0xC3, 0x05, 0x00, 0x02, 0xFF, 0xFF, 0x00, 0x00},
       "    DIM c$(65535,0)\n"},
      {"dimensions past the length", Bytes{0x83, 0x02, 0x00, 0x05, 0x01},
       "    DIM c: its dimensions run past its length\n"},
  };
  for (const VariableCase& c : cases) {
    EXPECT_EQ(variables_lines(c.area.data(), 0, c.area.size()), c.lines) << c.name;
  }
}

TEST(SpectrumNumbers, BothFormsRead) {
  const struct {
    Bytes bytes;
    double value;
  } cases[] = {
      {{0x00, 0x00, 0x77, 0x5D, 0x00}, 23927},  {{0x00, 0xFF, 0xFF, 0xFF, 0x00}, -1},
      {{0x00, 0xFF, 0x01, 0x00, 0x00}, -65535}, {{0x81, 0x00, 0x00, 0x00, 0x00}, 1},
      {{0x81, 0x80, 0x00, 0x00, 0x00}, -1},     {{0x80, 0x00, 0x00, 0x00, 0x00}, 0.5},
      {{0x91, 0x40, 0x00, 0x00, 0x00}, 98304},  {{0x7E, 0x80, 0x00, 0x00, 0x00}, -0.125},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(spectrum_number(c.bytes.data()), c.value);
  }
  for (double value : {0.1, -1e10, 123456.75, 3e-7}) {
    EXPECT_NEAR(spectrum_number(fixtures::five_bytes(value).data()), value, std::abs(value) * 1e-9);
  }
}

TEST(HexDump, LaidOutAsHexdumpC) {
  Bytes bytes = joined({zx("Hello, Spectrum!"), Bytes{0x00, 0x7F, 0x80, 0xFF, 0x20}});
  EXPECT_EQ(hex_dump(bytes.data(), bytes.size()),
            "00000000  48 65 6c 6c 6f 2c 20 53  70 65 63 74 72 75 6d 21  |Hello, Spectrum!|\n"
            "00000010  00 7f 80 ff 20                                    |.... |\n"
            "00000015\n");
  // Repeated lines are all there; a whole last line leaves only the offset.
  Bytes zeros(32, 0);
  EXPECT_EQ(hex_dump(zeros.data(), zeros.size()),
            "00000000  00 00 00 00 00 00 00 00  00 00 00 00 00 00 00 00  |................|\n"
            "00000010  00 00 00 00 00 00 00 00  00 00 00 00 00 00 00 00  |................|\n"
            "00000020\n");
  EXPECT_EQ(hex_dump(bytes.data(), 0), "");
}

// The screen read the other way round from the code under test: each
// bitmap byte's address gives its row and column.
std::vector<unsigned long> read_screen(const Bytes& screen) {
  static const unsigned long NORMAL[] = {0x000000, 0x0000D7, 0xD70000, 0xD700D7,
                                         0x00D700, 0x00D7D7, 0xD7D700, 0xD7D7D7};
  static const unsigned long BRIGHT[] = {0x000000, 0x0000FF, 0xFF0000, 0xFF00FF,
                                         0x00FF00, 0x00FFFF, 0xFFFF00, 0xFFFFFF};
  std::vector<unsigned long> pixels(256 * 192);
  for (size_t address = 0; address < 6144; ++address) {
    size_t third = address / 2048, pixel_row = address / 256 % 8, char_row = address / 32 % 8;
    size_t column = address % 32;
    size_t y = third * 64 + char_row * 8 + pixel_row;
    uint8_t attribute = screen[6144 + y / 8 * 32 + column];
    const unsigned long* colours = (attribute & 0x40) != 0 ? BRIGHT : NORMAL;
    for (size_t bit = 0; bit < 8; ++bit) {
      bool set = (screen[address] << bit & 0x80) != 0;
      pixels[y * 256 + column * 8 + bit] = colours[set ? attribute & 7 : attribute >> 3 & 7];
    }
  }
  return pixels;
}

TEST(ScreenPicture, DecodesBackToTheScreenPixelByPixel) {
  std::mt19937 random(23);
  Bytes screen(SCREEN_SIZE);
  for (uint8_t& byte : screen) {
    byte = static_cast<uint8_t>(random());
  }
  screen[6144] = 0x80 | 0x40 | 0x38 | 0x01;  // FLASH and BRIGHT: white paper, blue ink
  std::vector<unsigned char> png;
  std::string error;
  ASSERT_EQ(screen_picture(screen.data(), &png, &error), 0) << error;
  ASSERT_GT(png.size(), 8u);
  EXPECT_EQ(std::memcmp(png.data(), "\x89PNG\r\n\x1A\n", 8), 0);

  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  ASSERT_NE(png_image_begin_read_from_memory(&image, png.data(), png.size()), 0) << image.message;
  EXPECT_EQ(image.width, 256u);
  EXPECT_EQ(image.height, 192u);
  image.format = PNG_FORMAT_RGB;
  std::vector<unsigned char> rgb(PNG_IMAGE_SIZE(image));
  ASSERT_NE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr), 0) << image.message;
  std::vector<unsigned long> expected = read_screen(screen);
  size_t wrong = 0;
  for (size_t i = 0; i < expected.size(); ++i) {
    unsigned long got = static_cast<unsigned long>(rgb[3 * i]) << 16 |
                        static_cast<unsigned long>(rgb[3 * i + 1]) << 8 | rgb[3 * i + 2];
    wrong += got != expected[i];
  }
  EXPECT_EQ(wrong, 0u);
  // The FLASH cell's top-left pixel shows its ink where set (first phase).
  EXPECT_EQ(expected[0], (screen[0] & 0x80) != 0 ? 0x0000FFul : 0xFFFFFFul);
}

// The part of a listing from "  Listing:" to the blank line after it.
std::string listing_part(const std::string& output) {
  size_t start = output.find("  Listing:");
  if (start == std::string::npos) {
    return "";
  }
  return output.substr(start, output.find("\n\n", start) + 1 - start);
}

TEST(ListingSameOnBothMedia, TapeAndCartridgeCopiesOfAProgram) {
  uint16_t program_length = 0;
  Bytes program = fixtures::sample_program(&program_length);
  auto size = static_cast<uint16_t>(program.size());
  fixtures::TempDir dir;
  Bytes header = joined({Bytes{0x00}, zx("loader    "),
                         Bytes{static_cast<uint8_t>(size & 0xFF), static_cast<uint8_t>(size >> 8),
                               10, 0, static_cast<uint8_t>(program_length & 0xFF),
                               static_cast<uint8_t>(program_length >> 8)}});
  fixtures::write_file(dir.path("loader.tap"), joined({fixtures::tap_block(0x00, header),
                                                       fixtures::tap_block(0xFF, program)}));
  fixtures::MdrBuilder cart("LOADERS");
  cart.add_file("loader",
                joined({fixtures::file_header(0, size, 23813, program_length, 10), program}));
  cart.add_free_blocks(9);
  cart.write(dir.path("loader.mdr"));

  ContentShown basic;
  basic.basic = true;
  int status = -1;
  std::string tape = fixtures::capture(
      [&](std::FILE* f) { status = list_tape(f, dir.path("loader.tap").c_str(), false, basic); });
  EXPECT_EQ(status, 0);
  std::string cartridge = fixtures::capture([&](std::FILE* f) {
    status = list_cartridge(f, dir.path("loader.mdr").c_str(), false, nullptr, basic);
  });
  EXPECT_EQ(status, 0);
  const char* expected =
      "  Listing:\n"
      "    10 BORDER 0: PAPER 0: INK 7: CLEAR 24999\n"
      "    20 PRINT AT 10,4;\"{0x10}{0x06}Loading...\"\n"
      "    30 LOAD \"\"SCREEN$ : LOAD \"\"CODE \n"
      "    40 RANDOMIZE USR 0{=24055}\n"
      "  Variables:\n"
      "    t = 3\n"
      "    n$ = \"Quill\"\n";
  EXPECT_EQ(listing_part(tape), expected);
  EXPECT_EQ(listing_part(cartridge), expected);
  // It follows the data block's paragraph and the file's.
  EXPECT_NE(tape.find("whose header is block 1\n  Pause: 1000 ms\n\n  Listing:"), std::string::npos)
      << tape;
  EXPECT_NE(cartridge.find("Status: complete\n\n  Listing:"), std::string::npos) << cartridge;

  // -d: every block of bytes, flag and checksum included; the file whole.
  ContentShown dump;
  dump.dump = true;
  tape = fixtures::capture(
      [&](std::FILE* f) { status = list_tape(f, dir.path("loader.tap").c_str(), false, dump); });
  EXPECT_NE(
      tape.find("Pause: 1000 ms\n\n00000000  00 00 6c 6f 61 64 65 72  20 20 20 20 7c 00 0a 00"),
      std::string::npos)
      << tape;
  EXPECT_NE(tape.find("\n\n00000000  ff 00 0a"), std::string::npos) << tape;
  EXPECT_EQ(listing_part(tape), "");
}

}  // namespace
