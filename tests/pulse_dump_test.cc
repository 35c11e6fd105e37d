// The pulse file's line format and its bounded buffer.
#include "pulse_dump.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <limits>

#include "fixtures/test_util.h"

namespace {
LineWriter writer;
}

TEST(PulseLines, MatchPrintfForEveryShape) {
  const uint32_t durations[] = {0, 1, 9, 10, 2168, 3500000, std::numeric_limits<uint32_t>::max()};
  const int16_t levels[] = {0, 1, -1, 9, -10, 32767, -32768};
  std::string got = fixtures::capture([&](std::FILE* out) {
    line_writer_init(&writer, out);
    for (uint32_t d : durations) {
      for (int16_t l : levels) {
        write_pulse_line(&writer, d, l);
      }
    }
    EXPECT_EQ(line_writer_flush(&writer), 0);
  });
  std::string want = fixtures::capture([&](std::FILE* out) {
    for (uint32_t d : durations) {
      for (int16_t l : levels) {
        std::fprintf(out, "%u : %d\n", d, l);
      }
    }
  });
  EXPECT_EQ(got, want);
}

// Durations past 32 bits, the sums of long silences, in full.
TEST(PulseLines, DurationsPast32Bits) {
  const uint64_t durations[] = {uint64_t{1} << 32, 8589673150u,
                                std::numeric_limits<uint64_t>::max()};
  std::string got = fixtures::capture([&](std::FILE* out) {
    line_writer_init(&writer, out);
    for (uint64_t d : durations) {
      write_pulse_line(&writer, d, 1);
      write_pulse_line(&writer, d, -32768);
    }
    EXPECT_EQ(line_writer_flush(&writer), 0);
  });
  EXPECT_EQ(got,
            "4294967296 : 1\n4294967296 : -32768\n8589673150 : 1\n8589673150 : -32768\n"
            "18446744073709551615 : 1\n18446744073709551615 : -32768\n");
}

TEST(PulseLines, ManyBuffersInOrder) {
  std::string got = fixtures::capture([](std::FILE* out) {
    line_writer_init(&writer, out);
    for (uint32_t i = 0; i < 200000; ++i) {
      write_pulse_line(&writer, i * 2654435761u, static_cast<int16_t>(i & 1));
    }
    EXPECT_EQ(line_writer_flush(&writer), 0);
  });
  std::string want = fixtures::capture([](std::FILE* out) {
    for (uint32_t i = 0; i < 200000; ++i) {
      std::fprintf(out, "%u : %d\n", i * 2654435761u, static_cast<int>(i & 1));
    }
  });
  EXPECT_TRUE(got == want);
}

TEST(PulseLines, FailedWriteIsRemembered) {
  std::FILE* full = std::fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  std::setvbuf(full, nullptr, _IONBF, 0);
  line_writer_init(&writer, full);
  for (int i = 0; i < 10000; ++i) {
    write_pulse_line(&writer, 1000, 1);
  }
  EXPECT_EQ(line_writer_flush(&writer), ENOSPC);
  std::fclose(full);
}
