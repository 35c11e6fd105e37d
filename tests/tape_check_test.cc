// The checks made on a parsed tape before its edges are walked.
#include "tape_check.h"
#include "load_tape.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "fixtures/tape_builder.h"
#include "fixtures/test_util.h"
#include "tape.h"

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

// The pipeline numbers a block the same way whichever guard stops it: a
// glue block, which libspectrum drops, is never counted.
TEST(ParseCheckedTape, EveryProblemNumbersBlocksAsTheLibraryDoes) {
  const fixtures::Bytes glue = {'X', 'T', 'a', 'p', 'e', '!', 0x1A, 1, 20};
  // A generalised-data block of pilot symbols only; `runs` of symbol 0.
  auto pilot_only = [](uint32_t runs, uint16_t repeats) {
    fixtures::Bytes body = {
        0,    0,   static_cast<uint8_t>(runs), 0, 0, 0, 1, 1, 0, 0, 0, 0, 1, 1, 0,
        0xE8, 0x03};  // one symbol: a 1000-T-state pulse
    for (uint32_t i = 0; i < runs && i < 2; ++i) {
      body.push_back(0);
      body.push_back(static_cast<uint8_t>(repeats));
      body.push_back(0);
    }
    fixtures::Bytes block(4, 0);
    block[0] = static_cast<uint8_t>(body.size());
    for (uint8_t b : body) {
      block.push_back(b);
    }
    return block;
  };
  struct Case {
    const char* what;
    fixtures::Bytes image;
    TapeProblem problem;
    size_t block;
  } cases[] = {
      {"plays", TzxBuilder().raw(0x5A, glue).raw(0x19, pilot_only(1, 2)).image(), TapeProblem::None,
       0},
      {"counts past the file, read raw",
       TzxBuilder().text("a").raw(0x5A, glue).raw(0x19, pilot_only(200, 2)).image(),
       TapeProblem::Unplayable, 2},
      {"a run of 0 repeats, seen parsed",
       TzxBuilder().text("a").raw(0x5A, glue).raw(0x19, pilot_only(1, 0)).image(),
       TapeProblem::Unplayable, 2},
      {"a jump back", TzxBuilder().raw(0x5A, glue).pulses({5}).jump(-1).image(),
       TapeProblem::PlaysForever, 2},
  };
  for (const Case& c : cases) {
    fixtures::Bytes bytes = c.image;
    bytes.resize(bytes.size() + adapter::FILE_PADDING, 0);
    adapter::File file{bytes.data(), c.image.size(), LIBSPECTRUM_ID_TAPE_TZX, "t.tzx", false};
    LoadedTape loaded = parse_checked_tape(file);
    EXPECT_EQ(loaded.problem, c.problem) << c.what;
    EXPECT_EQ(loaded.block, c.block) << c.what;
    EXPECT_EQ(loaded.tape != nullptr, c.problem == TapeProblem::None) << c.what;
  }
}

namespace {

// What became of one block variant: refused by a guard, by the library's
// reader, or played (to its end, or for as long as a test may take).
std::string outcome_of(const fixtures::BlockVariant& variant, bool pzx) {
  fixtures::Bytes bytes = variant.image;
  bytes.resize(bytes.size() + adapter::FILE_PADDING, 0);
  adapter::File file{bytes.data(), variant.image.size(),
                     pzx ? LIBSPECTRUM_ID_TAPE_PZX : LIBSPECTRUM_ID_TAPE_TZX, "t", false};
  std::string outcome;
  std::string err = fixtures::capture_stderr([&] {
    LoadedTape loaded = parse_checked_tape(file);
    if (loaded.problem == TapeProblem::Reported) {
      outcome = "refused by the reader";
      return;
    }
    if (loaded.problem != TapeProblem::None) {
      outcome = "refused: problem " + std::to_string(static_cast<int>(loaded.problem)) +
                ", block " + std::to_string(loaded.block);
      return;
    }
    // The dumper's walk, counting records up to the end of the tape.
    constexpr uint64_t RECORDS = 3000000;
    adapter::EdgeRecord record{};
    uint64_t records = 0;
    int error = 0;
    while ((record.flags & static_cast<uint32_t>(LIBSPECTRUM_TAPE_FLAGS_TAPE)) == 0 &&
           records < RECORDS && error == 0) {
      error = adapter::tape_get_next_edge(&record, loaded.tape.get());
      ++records;
    }
    outcome = error != 0 ? "walk failed" : records < RECORDS ? "played" : "still playing";
  });
  if (!err.empty()) {
    outcome += " [" + err.substr(0, err.find('\n')) + "]";
  }
  return outcome;
}

}  // namespace

// Every TZX and PZX block kind with each count and length field at 0, 1,
// its largest value and one more than the block holds: refused or played,
// never a crash (under the sanitizers, never a read outside the input's
// buffer), and a tape that the checks pass never fails its walk. Walks are
// cut at 3,000,000 records ("still playing"). With
// QUILLKIT_BLOCK_TABLE set to a path, the outcomes are written there.
TEST(BlockFields, EveryFieldAtItsEdgesIsRefusedOrPlayed) {
  std::vector<fixtures::BlockVariant> variants = fixtures::block_field_variants();
  ASSERT_GT(variants.size(), 400u);
  std::string table;
  for (const auto& variant : variants) {
    bool pzx = variant.name.compare(0, 3, "PZX") == 0;
    // A 32-bit length at its largest value is beyond a 32-bit process:
    // libspectrum's own bound check there wraps and it asks for 4 GiB,
    // ending the run as "memory exhausted". Left out where size_t is 32 bits.
    if (sizeof(size_t) < 8 && variant.name.find("=max") != std::string::npos) {
      continue;
    }
    std::string outcome = outcome_of(variant, pzx);
    EXPECT_EQ(outcome.find("walk failed"), std::string::npos) << variant.name << ": " << outcome;
    EXPECT_EQ(outcome.find("still playing"), std::string::npos) << variant.name;
    table += variant.name + "\t" + outcome + "\n";
  }
  if (const char* path = std::getenv("QUILLKIT_BLOCK_TABLE")) {
    fixtures::write_file(path, fixtures::Bytes(table.begin(), table.end()));
  }
}
