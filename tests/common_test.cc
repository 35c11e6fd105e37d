// The shared services of every tool.
#include <gtest/gtest.h>

#include <string>

#include "common.h"
#include "fixtures/test_util.h"

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
