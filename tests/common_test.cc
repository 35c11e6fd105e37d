// The shared services of every tool.
#include <gtest/gtest.h>

#include <string>

#include "common.h"
#include "fixtures/test_util.h"
#include "little_endian.h"

TEST(PrintVisible, ControlBytesBecomeQuestionMarksAndUtf8Stays) {
  struct Case {
    std::string text;
    std::string shown;
  } cases[] = {
      {"plain `text'", "plain `text'"},
      {"\x1b]2;title\x07", "?]2;title?"},
      {"tab\tnew\nline\rdel\x7f", "tab?new?line?del?"},
      {"caf\xc3\xa9 \xe2\x86\x91 \xf0\x9f\x98\x80", "caf\xc3\xa9 \xe2\x86\x91 \xf0\x9f\x98\x80"},
      {"c1 as utf-8 \xc2\x9b[31m", "c1 as utf-8 ?[31m"},
      {"lone \x9b and \xc3", "lone ? and ?"},
      {"overlong \xc0\xaf \xe0\x80\xaf", "overlong ?? ???"},
      {"surrogate \xed\xa0\x80", "surrogate ???"},
      {"cut \xe2\x86", "cut ??"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(fixtures::capture([&](std::FILE* out) { print_visible(out, c.text.c_str()); }),
              c.shown)
        << c.text;
  }
}

TEST(LittleEndian, LowByteFirstWithEveryBitKept) {
  const unsigned char bytes[] = {0x81, 0xFE, 0x7F, 0xC3};
  EXPECT_EQ(read_le16(bytes), 0xFE81u);
  EXPECT_EQ(read_le24(bytes), 0x7FFE81u);
  EXPECT_EQ(read_le32(bytes), 0xC37FFE81u);

  unsigned char out[6] = {0, 0, 0, 0, 0, 0};
  write_le16(out, 0x1234FE81u);  // only the low 16 bits are stored
  write_le32(out + 2, 0xC37FFE81u);
  const unsigned char expected[] = {0x81, 0xFE, 0x81, 0xFE, 0x7F, 0xC3};
  EXPECT_EQ(std::string(out, out + 6), std::string(expected, expected + 6));
}
