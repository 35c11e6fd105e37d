// The checks made on a parsed tape before its edges are walked.
#include "tape_check.h"

#include <gtest/gtest.h>

#include "fixtures/tape_builder.h"
#include "support.h"

using fixtures::TzxBuilder;

namespace {

TapePtr parse(const fixtures::Bytes& image) {
  TapePtr tape(libspectrum_tape_alloc());
  EXPECT_EQ(libspectrum_tape_read(tape.get(), image.data(), image.size(), LIBSPECTRUM_ID_TAPE_TZX,
                                  "t.tzx"),
            0);
  return tape;
}

}  // namespace

TEST(PlaysForever, FollowsJumpsAndLoopsAsTheLibraryDoes) {
  struct Case {
    const char* what;
    TzxBuilder tape;
    bool forever;
    size_t block;
  } cases[] = {
      {"no blocks but data", TzxBuilder().pulses({1}), false, 0},
      {"jump to itself", TzxBuilder().pulses({1}).jump(0), true, 1},
      {"jump back to the start", TzxBuilder().pulses({1}).text("t").jump(-2), true, 2},
      {"jump forward", TzxBuilder().jump(2).jump(0).pulses({1}), false, 0},
      {"loop that ends", TzxBuilder().loop_start(3).pulses({1}).loop_end(), false, 0},
      {"loop end without a start", TzxBuilder().pulses({1}).loop_end(), false, 0},
      {"jump back before the loop start, from inside the loop",
       TzxBuilder().loop_start(2).pulses({1}).jump(-2).loop_end(), true, 2},
      {"jump back out of a finished loop", TzxBuilder().text("a").loop_start(2).loop_end().jump(-3),
       true, 3},
      {"loop end after a forward jump out of the loop",
       TzxBuilder().loop_start(5).jump(2).loop_end().pulses({1}), false, 0},
      {"jump out of the tape", TzxBuilder().jump(5), false, 0},
  };
  for (Case& c : cases) {
    TapePtr tape = parse(c.tape.image());
    size_t block = 99;
    EXPECT_EQ(tape_plays_forever(tape.get(), &block), c.forever) << c.what;
    if (c.forever) {
      EXPECT_EQ(block, c.block) << c.what;
    }
  }
}

TEST(PlaysForever, LongLoopsOverPlainBlocksAreJudgedAtOnce) {
  // 65,535 rounds over 20,000 blocks: billions of steps if played block by block.
  TzxBuilder builder;
  builder.loop_start(65535);
  for (int i = 0; i < 20000; ++i) {
    builder.text("x");
  }
  builder.loop_end().pulses({5});
  TapePtr tape = parse(builder.image());
  size_t block = 0;
  EXPECT_FALSE(tape_plays_forever(tape.get(), &block));
}
