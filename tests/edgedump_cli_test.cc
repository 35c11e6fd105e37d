// edgedump as its users run it: pulse files, messages and exit statuses.
#include <bzlib.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "fixtures/cli_cases.h"
#include "fixtures/tape_builder.h"
#include "fixtures/test_util.h"
#include "load_tape.h"
#include "tape.h"

using fixtures::Bytes;
using fixtures::le16;
using fixtures::le32;
using fixtures::run;
using fixtures::TzxBuilder;

namespace {

const std::string EDGEDUMP = EDGEDUMP_PATH;
const std::string TRY = "Try `edgedump --help' for more information.\n";
const std::string USAGE = "edgedump: usage: edgedump <infile> <outfile>\n";
const std::string HELP =
    "Usage: edgedump [OPTION] <infile> <outfile>\n"
    "Dumps the pulse information from ZX Spectrum tape images to text files.\n\n"
    "Options:\n"
    "  -h, --help     Display this help and exit.\n"
    "  -V, --version  Output version information and exit.\n\n"
    "Report edgedump bugs to <quillkit-bugs@lists.example.org>\n"
    "quillkit home page: <https://quillkit.example.org/>\n"
    "For complete documentation, see the manual page of edgedump.\n";

class EdgedumpCli : public ::testing::Test {
 protected:
  std::string write(const std::string& name, const Bytes& bytes) {
    std::string path = dir.path(name);
    fixtures::write_file(path, bytes);
    return path;
  }
  // Runs edgedump on `image` with the pulse file on standard output.
  fixtures::RunResult dump(const std::string& name, const Bytes& image) {
    return run(EDGEDUMP, "edgedump", {write(name, image), "-"});
  }
  fixtures::TempDir dir;
};
// The same, for cases that the valgrind run leaves out.
class EdgedumpStreams : public EdgedumpCli {};

// Levels belong to libspectrum: 1.6 and later start a tape on the low level,
// where 1.5 lets the first edge raise it, and again after a pause. On the
// tapes of these tests that makes every level the other one, so an
// expectation is written as 1.5 plays it and passed through L() for the
// library at hand; the few cases that differ otherwise say so.
bool library_starts_low() {
  static const bool starts_low = libspectrum_check_version("1.6.0") != 0;
  return starts_low;
}

std::string L(std::string pulses) {
  if (!library_starts_low()) {
    return pulses;
  }
  for (size_t at = pulses.find(" : "); at != std::string::npos; at = pulses.find(" : ", at + 1)) {
    char& level = pulses[at + 3];
    level = level == '0' ? '1' : level == '1' ? '0' : level;
  }
  return pulses;
}

// Lines for `count` edges of `length` T-states, levels alternating from
// `level` onward.
std::string alternating(uint32_t length, int count, int* level) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    *level ^= 1;
    text += std::to_string(length) + " : " + std::to_string(*level) + "\n";
  }
  return text;
}

// Where two long texts part, for a readable failure message.
std::string first_difference(const std::string& got, const std::string& want) {
  size_t line = 1;
  size_t i = 0;
  while (i < got.size() && i < want.size() && got[i] == want[i]) {
    line += got[i] == '\n' ? 1u : 0u;
    ++i;
  }
  size_t start = got.rfind('\n', i == 0 ? 0 : i - 1);
  start = start == std::string::npos ? 0 : start + 1;
  return "line " + std::to_string(line) + ": got \"" + got.substr(start, 30) + "\", want \"" +
         want.substr(start, 30) + "\"";
}

}  // namespace

TEST_F(EdgedumpCli, OptionsAndOperands) {
  std::string tape = write("t.tzx", TzxBuilder().pure_tone(100, 1).image());
  fixtures::expect_cli_cases(
      EDGEDUMP, "edgedump",
      {
          {{"-h"}, HELP, "", 0},
          {{"--help", tape}, HELP, "", 0},
          {{"-x", "--he"}, HELP, "edgedump: invalid option -- 'x'\n", 0},
          {{"--help", "-x"}, HELP, "", 0},
          {{}, "", USAGE + TRY, 1},
          {{tape}, "", USAGE + TRY, 1},
          {{"-x", tape}, "", "edgedump: invalid option -- 'x'\n" + TRY, 1},
          {{tape, "-", "--bogus"}, "", "edgedump: unrecognized option '--bogus'\n" + TRY, 1},
          {{"--help=1", tape, "-"},
           "",
           "edgedump: option '--help' doesn't allow an argument\n" + TRY,
           1},
          {{tape, "-", "ignored", "also ignored"}, L("100 : 1\n"), "", 0},
          {{"--", tape, "-anything"}, L("100 : 1\n"), "", 0},
      });
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"-V", "x", "y"}, {"-q", "--version"}, {"--vers", "-q"}}) {
    auto r = run(EDGEDUMP, "edgedump", args);
    EXPECT_EQ(r.out.substr(0, 26), "edgedump (quillkit) 1.5.0\n");
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 5);
    EXPECT_EQ(r.err, args[0] == "-q" ? "edgedump: invalid option -- 'q'\n" : "");
    EXPECT_EQ(r.status, 0);
  }
}

TEST_F(EdgedumpCli, HandWorkedPulseFiles) {
  struct Case {
    const char* what;
    Bytes image;
    std::string pulses;
    std::string pulses_from_1_6 = "";  // where not L(pulses)
  } cases[] = {
      {"pure tone", TzxBuilder().pure_tone(1000, 3).image(), "1000 : 1\n1000 : 0\n1000 : 1\n"},
      {"pulse list", TzxBuilder().pulses({100, 200, 300}).image(), "100 : 1\n200 : 0\n300 : 1\n"},
      // A group and a text block play nothing; their zero durations add nothing.
      {"silent blocks",
       TzxBuilder().group_start("g").pulses({5}).text("hi").group_end().pulses({7}).image(),
       "5 : 1\n7 : 0\n"},
      // 1 ms is 3500 T-states; a pause that is not the last block ends with
      // the low level, and the next pulse counts from there.
      {"pause", TzxBuilder().pulses({100}).pause(1).pulses({50}).image(),
       "100 : 1\n3500 : 0\n50 : 1\n"},
      // A 0 ms pause stops the tape: an edge that takes no time.
      {"zero pause", TzxBuilder().pulses({100}).pause(0).pulses({50}).image(),
       "100 : 1\n0 : 0\n50 : 1\n"},
      {"loop", TzxBuilder().loop_start(3).pulses({10}).loop_end().pulses({20}).image(),
       "10 : 1\n10 : 0\n10 : 1\n20 : 0\n"},
      {"forward jump", TzxBuilder().jump(2).pulses({999}).pulses({30}).image(), "30 : 1\n"},
      // Setting the level high leaves it low for the next edge to raise.
      // A level block sets the level whatever the library.
      {"set level", TzxBuilder().set_level(1).pulses({40, 41}).image(), "0 : 0\n40 : 1\n41 : 0\n",
       "0 : 0\n40 : 1\n41 : 0\n"},
      // 1.6 plays no edge for it: its 0 T-states go to the next line.
      {"stop if 48K", TzxBuilder().pulses({60}).stop_if_48k().pulses({70}).image(),
       "60 : 1\n0 : 0\n70 : 1\n", "60 : 0\n70 : 1\n"},
  };
  for (const Case& c : cases) {
    auto r = dump("case.tzx", c.image);
    bool own = library_starts_low() && !c.pulses_from_1_6.empty();
    EXPECT_EQ(r.out, own ? c.pulses_from_1_6 : L(c.pulses)) << c.what;
    EXPECT_EQ(r.err, "") << c.what;
    EXPECT_EQ(r.status, 0) << c.what;
  }
}

TEST_F(EdgedumpCli, StandardSpeedTapBlock) {
  // Flag 0xFF, one data byte 0x00, checksum 0xFF: a data block's 3223 pilot
  // pulses of 2168, syncs of 667 and 735, two edges per bit (1710 for a 1,
  // 855 for a 0), then the 1000 ms pause, which ends the tape.
  auto r = dump("rom.tap", fixtures::tap_block(0xFF, {0x00}));
  int level = 0;
  std::string expected = alternating(2168, 3223, &level);
  expected += alternating(667, 1, &level);
  expected += alternating(735, 1, &level);
  expected += alternating(1710, 16, &level);
  expected += alternating(855, 16, &level);
  expected += alternating(1710, 16, &level);
  expected = L(expected + alternating(3500000, 1, &level));
  EXPECT_TRUE(r.out == expected) << first_difference(r.out, expected);
  EXPECT_EQ(r.status, 0);
  // A header block (flag below 128) has the longer pilot: 8063 pulses.
  r = dump("header.tap", fixtures::tap_block(0x00, {}));
  level = 0;
  EXPECT_TRUE(r.out.substr(0, 8063 * 9) == L(alternating(2168, 8063, &level)));
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 8063 + 2 + 32 + 1);
}

TEST_F(EdgedumpCli, TurboAndPureData) {
  // Pure data: bits 1,0 of one byte (last_bits 2), bit0 100, bit1 200, no
  // pause; the end of the tape closes the last pulse with an edge of 0.
  auto r = dump("data.tzx", TzxBuilder().pure_data(100, 200, 2, 0, {0x80}).image());
  EXPECT_EQ(r.out, L("200 : 1\n200 : 0\n100 : 1\n100 : 0\n0 : 1\n"));
  // Turbo: 2 pilot pulses of 300, syncs 11 and 12, one bit (a 0) of 50.
  r = dump("turbo.tzx", TzxBuilder().turbo(300, 11, 12, 50, 60, 2, 1, 0, {0x00}).image());
  EXPECT_EQ(r.out, L("300 : 1\n300 : 0\n11 : 1\n12 : 0\n50 : 1\n50 : 0\n0 : 1\n"));
}

TEST_F(EdgedumpCli, PzxStopIsAStopAndShortPausesSurvive) {
  fixtures::PzxBuilder pzx;
  pzx.pulses({{2, 500}}).stop().pulses({{1, 600}}).pause(1000, false).pulses({{1, 700}});
  std::string first;
  for (int i = 0; i < 3; ++i) {
    auto r = dump("stop.pzx", pzx.image());
    ASSERT_EQ(r.status, 0) << r.err;
    if (i == 0) {
      first = r.out;
    }
    EXPECT_EQ(r.out, first);
  }
  EXPECT_NE(first.find("1000 : 0\n"), std::string::npos) << first;
}

TEST_F(EdgedumpCli, BrokenBlocksMeanNothing) {
  // A tone or pulse list of 0 pulses plays nothing; jumps keep their targets.
  auto r = dump("tone0.tzx", TzxBuilder().pulses({10}).pure_tone(500, 0).pulses({20}).image());
  EXPECT_EQ(r.out, L("10 : 1\n20 : 0\n"));
  EXPECT_EQ(r.status, 0);
  // Alone on the tape it leaves only the edge that ends every tape, which
  // raises the level whatever the library.
  r = dump("pulses0.tzx", TzxBuilder().pulses({}).image());
  EXPECT_EQ(r.out, "0 : 1\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  r = dump("jumpover.tzx", TzxBuilder().jump(2).pure_tone(5, 0).pulses({1, 2}).image());
  EXPECT_EQ(r.out, L("1 : 1\n2 : 0\n"));
  r = dump("first.tzx", TzxBuilder().pure_tone(5, 0).loop_start(2).pulses({3}).loop_end().image());
  EXPECT_EQ(r.out, L("3 : 1\n3 : 0\n0 : 1\n"));
}

TEST_F(EdgedumpCli, EndlessTapesAreRefusedBeforeTheOutput) {
  struct Case {
    const char* what;
    Bytes image;
    int block;
  } cases[] = {
      {"jump to itself", TzxBuilder().jump(0).image(), 1},
      {"jump back over a tone", TzxBuilder().text("x").pure_tone(100, 3).jump(-1).image(), 3},
      {"jump back into a loop", TzxBuilder().loop_start(2).pulses({1}).jump(-2).loop_end().image(),
       3},
  };
  for (const Case& c : cases) {
    std::string out = write("keep.txt", {'k', 'e', 'e', 'p'});
    std::string in = write("endless.tzx", c.image);
    auto r = run(EDGEDUMP, "edgedump", {in, out});
    EXPECT_EQ(r.err, "edgedump: `" + in + "' never ends: block " + std::to_string(c.block) +
                         " jumps back forever\n")
        << c.what;
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(fixtures::read_file(out), "keep") << c.what;
  }
  // Loops that end, and jumps back that a loop end leads out of, are fine.
  auto r = dump("fine.tzx", TzxBuilder().loop_start(65535).loop_end().pulses({9}).image());
  EXPECT_EQ(r.out, L("9 : 1\n"));
  EXPECT_EQ(r.status, 0);
}

TEST_F(EdgedumpCli, FailuresOfInputAndOutput) {
  std::string good = write("good.tzx", TzxBuilder().pulses({100, 200}).image());
  std::string keep = write("keep.txt", {'o', 'l', 'd'});
  std::string missing = dir.path("missing.tzx");
  auto r = run(EDGEDUMP, "edgedump", {missing, keep});
  EXPECT_EQ(r.err, "libspectrum error: couldn't open `" + missing +
                       "': No such file or directory\nedgedump: couldn't read `" + missing +
                       "' (libspectrum error 3)\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(fixtures::read_file(keep), "old");

  std::string bad = write("bad.tzx", {'Z', 'X', 'T', 'a', 'p', 'e', '!', 0x1A, 1, 20, 0x99});
  r = run(EDGEDUMP, "edgedump", {bad, keep});
  EXPECT_EQ(r.err,
            "libspectrum error: `" + bad + "': libspectrum_tzx_create: unknown block type 0x99\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(fixtures::read_file(keep), "old");

  r = run(EDGEDUMP, "edgedump", {good, dir.path("no/such/dir.txt")});
  EXPECT_EQ(r.err, "edgedump: error opening pulse file for writing: No such file or directory\n");
  EXPECT_EQ(r.status, 1);

  r = run(EDGEDUMP, "edgedump", {good, "/dev/full"});
  EXPECT_EQ(r.err, "edgedump: error closing pulse file: No space left on device\n");
  EXPECT_EQ(r.status, 1);
  r = run(EDGEDUMP, "edgedump", {good, "-"}, fixtures::Stdout::DevFull);
  EXPECT_EQ(r.err, "edgedump: error closing pulse file: No space left on device\n");
  EXPECT_EQ(r.status, 1);
  r = run(EDGEDUMP, "edgedump", {good, "-"}, fixtures::Stdout::Closed);
  EXPECT_EQ(r.err, "edgedump: error closing pulse file: Bad file descriptor\n");
  EXPECT_EQ(r.status, 1);
}

TEST_F(EdgedumpCli, SameFileInAndOutAndFormats) {
  std::string path = write("both.tzx", TzxBuilder().pulses({1234, 5678}).image());
  auto r = run(EDGEDUMP, "edgedump", {path, path});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(fixtures::read_file(path), L("1234 : 1\n5678 : 0\n"));
  // A TAP and a TZX of the same block play the same.
  Bytes block = fixtures::tap_block(0xFF, {1, 2, 3});
  auto tap = dump("same.tap", block);
  auto tzx =
      dump("same.tzx", TzxBuilder().standard(1000, Bytes(block.begin() + 2, block.end())).image());
  EXPECT_EQ(tap.out, tzx.out);
  EXPECT_FALSE(tap.out.empty());
  // Compressed images are read through libspectrum too.
  auto gz = dump("same.tzx.gz",
                 fixtures::gzip_stored(
                     TzxBuilder().standard(1000, Bytes(block.begin() + 2, block.end())).image()));
  EXPECT_EQ(gz.out, tzx.out);
  EXPECT_EQ(gz.status, 0);
}

TEST_F(EdgedumpCli, LostHelpOrVersionIsAFailure) {
  auto r = run(EDGEDUMP, "edgedump", {"--help"}, fixtures::Stdout::DevFull);
  EXPECT_EQ(r.err, "edgedump: write error: No space left on device\n");
  EXPECT_EQ(r.status, 1);
  r = run(EDGEDUMP, "edgedump", {"-V"}, fixtures::Stdout::Closed);
  EXPECT_EQ(r.err, "edgedump: write error: Bad file descriptor\n");
  EXPECT_EQ(r.status, 1);
  // A pulse file on standard output reports through its own closing message only.
  std::string tape = write("t.tzx", TzxBuilder().pulses({1}).image());
  r = run(EDGEDUMP, "edgedump", {tape, "-"}, fixtures::Stdout::DevFull);
  EXPECT_EQ(r.err, "edgedump: error closing pulse file: No space left on device\n");
  EXPECT_EQ(r.status, 1);
}

namespace {

// A generalised-data block's body behind its 32-bit length.
Bytes with_length(const Bytes& body) {
  Bytes block;
  le32(block, static_cast<uint32_t>(body.size()));
  block.insert(block.end(), body.begin(), body.end());
  return block;
}

// A TZX generalised-data block (0x19) with one-pulse symbols: pilot symbols
// of `pilot` lengths played as (symbol, repeats) runs, then data symbols of
// `data` lengths, `width` bits each, taken from `stream`.
Bytes generalised(const std::vector<uint16_t>& pilot,
                  const std::vector<std::pair<uint8_t, uint16_t>>& runs,
                  const std::vector<uint16_t>& data, uint32_t data_symbols, const Bytes& stream) {
  Bytes body;
  le16(body, 0);  // pause
  le32(body, static_cast<uint32_t>(runs.size()));
  body.push_back(1);
  body.push_back(static_cast<uint8_t>(pilot.size()));
  le32(body, data_symbols);
  body.push_back(1);
  body.push_back(static_cast<uint8_t>(data.size()));
  for (uint16_t length : pilot) {
    body.push_back(0);
    le16(body, length);
  }
  for (const auto& [symbol, repeats] : runs) {
    body.push_back(symbol);
    le16(body, repeats);
  }
  for (uint16_t length : data) {
    body.push_back(0);
    le16(body, length);
  }
  body.insert(body.end(), stream.begin(), stream.end());
  return with_length(body);
}

}  // namespace

TEST_F(EdgedumpCli, BlocksTheLibraryWouldMisplay) {
  // A one-byte pure data block that claims 0 used bits plays all 8 bits, as
  // longer blocks do, instead of playing forever.
  auto r = dump("bits0.tzx", TzxBuilder().pure_data(100, 200, 0, 0, {0x80}).image());
  int level = 0;
  std::string expected = alternating(200, 2, &level);
  expected += alternating(100, 14, &level);
  expected += alternating(0, 1, &level);
  EXPECT_EQ(r.out, L(expected));
  EXPECT_EQ(r.status, 0);

  // Generalised data: 3 pilot pulses of 1000, then data symbols 1 and 0.
  r = dump("gdb.tzx",
           TzxBuilder().raw(0x19, generalised({1000}, {{0, 3}}, {500, 700}, 2, {0x80})).image());
  EXPECT_EQ(r.out, L("1000 : 1\n1000 : 0\n1000 : 1\n700 : 0\n500 : 1\n0 : 0\n"));
  EXPECT_EQ(r.status, 0);

  struct Case {
    const char* what;
    Bytes image;
    int block;
  } cases[] = {
      {"pilot run names a symbol the table lacks",
       TzxBuilder()
           .text("x")
           .raw(0x19, generalised({1000}, {{1, 3}}, {500, 700}, 2, {0x80}))
           .image(),
       2},
      {"pilot run of 0 repeats",
       TzxBuilder().raw(0x19, generalised({1000}, {{0, 0}}, {500, 700}, 2, {0x80})).image(), 1},
      {"data symbol 3 of a 3-symbol table",
       TzxBuilder().raw(0x19, generalised({}, {}, {500, 600, 700}, 2, {0x3C})).image(), 1},
      {"counts that claim more than the block holds",
       TzxBuilder().raw(0x19, generalised({1000}, {{0, 3}}, {500, 700}, 200, {0x80})).image(), 1},
      {"the same after a level block whose length field the reader ignores",
       TzxBuilder()
           .raw(0x2B, {0x01, 0x00, 0x00, 0x70, 0x01})
           .raw(0x19, generalised({1000}, {{0, 3}}, {500, 700}, 200, {0x80}))
           .image(),
       2},
      {"a glue block is no block of the tape: the same counts, after one",
       TzxBuilder()
           .raw(0x5A, {'X', 'T', 'a', 'p', 'e', '!', 0x1A, 1, 20})
           .raw(0x19, generalised({1000}, {{0, 3}}, {500, 700}, 200, {0x80}))
           .image(),
       1},
      {"and a pilot run of 0 repeats after one",
       TzxBuilder()
           .raw(0x5A, {'X', 'T', 'a', 'p', 'e', '!', 0x1A, 1, 20})
           .raw(0x19, generalised({1000}, {{0, 0}}, {500, 700}, 2, {0x80}))
           .image(),
       1},
      {"PZX data bit without pulses",
       fixtures::PzxBuilder().data(8, {}, {400, 400}, {0xFE}).image(), 1},
  };
  for (const Case& c : cases) {
    std::string out = write("keep.txt", {'k'});
    std::string in = write("damaged.tzx", c.image);
    r = run(EDGEDUMP, "edgedump", {in, out});
    EXPECT_EQ(r.err, "edgedump: `" + in + "' is damaged: block " + std::to_string(c.block) +
                         " cannot be played\n")
        << c.what;
    EXPECT_EQ(r.status, 1) << c.what;
    EXPECT_EQ(fixtures::read_file(out), "k") << c.what;
  }
  // The same PZX data with pulses for both bit values plays; a data block
  // starts low unless its header says high.
  r = dump("data.pzx", fixtures::PzxBuilder().data(2, {300, 300}, {600, 600}, {0x80}).image());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, 24), "600 : 0\n600 : 1\n300 : 0\n");
}

// The walk over a TZX image's bytes refuses a block only when libspectrum
// would take everything before it: otherwise the library's own word stands.
TEST_F(EdgedumpCli, TapesTheLibraryRefusesGetItsWord) {
  Bytes overrun = generalised({1000}, {{0, 3}}, {500, 700}, 200, {0x80});
  Bytes wrong_signature = {'Z', 'X', 'T', 'a', 'p', 'f', '!', 0x1A, 1, 20, 0x19};
  wrong_signature.insert(wrong_signature.end(), overrun.begin(), overrun.end());
  // Two data symbols need one byte; the block holds two.
  Bytes loose = generalised({1000}, {{0, 3}}, {500, 700}, 2, {0x80, 0x00});
  struct Case {
    const char* what;
    Bytes image;
    std::string err;
  } cases[] = {
      {"not a TZX signature", wrong_signature, "libspectrum_tzx_create: wrong signature\n"},
      {"a block the reader refuses, then one that overruns the file",
       TzxBuilder().raw(0x19, loose).raw(0x19, overrun).image(),
       "tzx_read_generalised_data: sanity check failed\n"},
      {"counts that do not fill the block, inside the file",
       TzxBuilder().text("x").raw(0x19, loose).image(),
       "tzx_read_generalised_data: sanity check failed\n"},
  };
  for (const Case& c : cases) {
    std::string out = write("keep.txt", {'k'});
    std::string in = write("refused.tzx", c.image);
    auto r = run(EDGEDUMP, "edgedump", {in, out});
    EXPECT_EQ(r.err, "libspectrum error: `" + in + "': " + c.err) << c.what;
    EXPECT_EQ(r.status, 1) << c.what;
    EXPECT_EQ(fixtures::read_file(out), "k") << c.what;
  }
}

// Faults of libspectrum 1.5.0 on broken input that the dumper must survive:
// under the valgrind and sanitizer runs a leak or a double free fails these.
TEST_F(EdgedumpCli, BrokenInputsTheLibraryMishandles) {
  // A CSW 2 file whose compressed pulses are not zlib data: the library
  // loses a block on the way out.
  std::string csw = "Compressed Square Wave\x1a";
  Bytes bad_csw(csw.begin(), csw.end());
  Bytes rest = {2, 0, 0x44, 0xAC, 0, 0, 100, 0, 0, 0, 2, 0, 0};
  bad_csw.insert(bad_csw.end(), rest.begin(), rest.end());
  bad_csw.resize(bad_csw.size() + 16, 0);
  bad_csw.insert(bad_csw.end(), {0x78, 0x9C, 0xFF, 0xFF, 0xFF, 0xFF});
  std::string in = write("bad.csw", bad_csw);
  auto r = run(EDGEDUMP, "edgedump", {in, dir.path("out")});
  EXPECT_EQ(r.err, "libspectrum error: `" + in + "': corrupt gzip data\n");
  EXPECT_EQ(r.status, 1);

  // A Warajevo tape cut short: the library frees the caller's tape object.
  Bytes warajevo(7, 0);
  warajevo.push_back('Z');
  warajevo.resize(warajevo.size() + 81, 0xFF);
  warajevo.push_back(0x2C);
  in = write("cut.tap", warajevo);
  r = run(EDGEDUMP, "edgedump", {in, dir.path("out")});
  EXPECT_EQ(r.err, "libspectrum error: `" + in +
                       "': warajevo_read_rom_block: not enough data in buffer\n");
  EXPECT_EQ(r.status, 1);

  // A Warajevo tape whose first block names itself as the next: the library
  // would add blocks until memory runs out.
  Bytes circle(8, 0);
  circle.resize(12, 0xFF);  // the signature
  circle.resize(19, 0);
  circle.resize(23, 0xFF);
  circle.push_back(0);
  std::string circular = write("circle.tap", circle);
  r = run(EDGEDUMP, "edgedump", {circular, dir.path("out")});
  EXPECT_EQ(r.err, "edgedump: `" + circular + "' is damaged: its chain of blocks never ends\n");
  EXPECT_EQ(r.status, 1);

  // A compressed Warajevo block whose commands run past the end of the file:
  // the library's decompressor reads on into the input's zero padding.
  Bytes runaway = {0x00, 0x00, 0x00, 0x00, 0x40, 0x00, 0xFF, 0x65,
                   0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00};
  runaway.resize(runaway.size() + 110, 0xFF);
  runaway.push_back(0x00);
  in = write("runaway.tap", runaway);
  r = run(EDGEDUMP, "edgedump", {in, dir.path("out")});
  EXPECT_EQ(r.err, "libspectrum error: `" + in +
                       "': execute_copy_command: corrupt compressed block in file\n");
  EXPECT_EQ(r.status, 1);
}

// Real tapes from other projects, when the corpus is beside the tree: each
// is dumped or refused with a message, never with a signal, and the same
// tape dumps the same way twice.
namespace {

// The pulse file of `path` as the plainest walk writes it: every record of
// the adapter, its duration added up, and one printf-formatted line per
// edge. The dumper's buffered and cached lines must be the same bytes.
std::string plain_walk(const std::string& path) {
  adapter::ScopedFile input;
  std::string text;
  std::string err = fixtures::capture_stderr([&] {
    if (load_input_file(path.c_str(), input.get(), adapter::TAPE_FILE_LIMIT) != 0) {
      return;
    }
    LoadedTape loaded = parse_checked_tape(*input.get());
    if (loaded.problem != TapeProblem::None) {
      return;
    }
    adapter::EdgeRecord record{};
    uint64_t pending = 0;
    char line[40];
    while ((record.flags & static_cast<uint32_t>(LIBSPECTRUM_TAPE_FLAGS_TAPE)) == 0) {
      if (adapter::tape_get_next_edge(&record, loaded.tape.get()) != 0) {
        break;
      }
      pending += record.duration;
      if (record.edge != 0) {
        std::snprintf(line, sizeof line, "%llu : %d\n", static_cast<unsigned long long>(pending),
                      static_cast<int>(static_cast<int16_t>(record.level)));
        text += line;
        pending = 0;
      }
    }
  });
  return text;
}

// The dumper and the plain walk on `path`: the same bytes.
void expect_plain_walk(const std::string& path) {
  fixtures::TempDir dir;
  std::string out = dir.path("out.txt");
  auto r = run(EDGEDUMP, "edgedump", {path, out});
  if (r.status != 0) {
    return;  // refused: nothing to compare
  }
  std::string dumped = fixtures::read_file(out);
  std::string plain = plain_walk(path);
  EXPECT_TRUE(dumped == plain) << path << ": " << first_difference(dumped, plain);
}

}  // namespace

// Tapes of many pulse lengths, that share the slots of the dumper's table of
// formatted lines, pauses whose lengths add up to large durations, and the
// two block kinds of the benchmark.
TEST(EdgedumpLines, SameBytesAsAPlainWalk) {
  fixtures::TempDir dir;
  uint32_t seed = 7;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 8;
  };
  std::vector<uint16_t> lengths;
  for (int i = 0; i < 3000; ++i) {
    // Lengths 512 apart fall into one slot; 0 and 65535 are the extremes.
    uint32_t pick = next() % 4;
    lengths.push_back(static_cast<uint16_t>(pick == 0   ? (next() % 128) * 512 + 100
                                            : pick == 1 ? (i % 2 ? 65535 : 0)
                                                        : next() % 65536));
  }
  Bytes data(4000);
  for (uint8_t& b : data) {
    b = static_cast<uint8_t>(next());
  }
  TzxBuilder tzx;
  for (size_t at = 0; at < lengths.size(); at += 250) {
    tzx.pulses(std::vector<uint16_t>(lengths.begin() + static_cast<long>(at),
                                     lengths.begin() + static_cast<long>(at + 250)));
    tzx.pause(static_cast<uint16_t>(next() % 65536));
  }
  tzx.turbo(1800, 560, 620, 600, 1200, 4000, 8, 100, data)
      .pure_data(520, 1040, 3, 100, data)
      .pause(65535)
      .pause(65535);
  std::string path = dir.path("lines.tzx");
  fixtures::write_file(path, tzx.image());
  expect_plain_walk(path);
  path = dir.path("lines.tap");
  fixtures::write_file(path, fixtures::tap_block(0xFF, data));
  expect_plain_walk(path);
}

TEST(EdgedumpCorpus, RealTapesDumpTheSameBytesAsAPlainWalk) {
  const std::string corpus = CORPUS_DIR "/tape";
  if (!std::filesystem::is_directory(corpus)) {
    GTEST_SKIP() << "no corpus at " << corpus;
  }
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    expect_plain_walk(entry.path().string());
  }
}

TEST(EdgedumpCorpus, RealTapesDumpOrFailCleanly) {
  const std::string corpus = CORPUS_DIR "/tape";
  if (!std::filesystem::is_directory(corpus)) {
    GTEST_SKIP() << "no corpus at " << corpus;
  }
  fixtures::TempDir dir;
  int dumped = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    std::string out = dir.path("out.txt");
    auto r = run(EDGEDUMP, "edgedump", {entry.path().string(), out});
    ASSERT_TRUE(r.status == 0 || r.status == 1) << entry.path() << " " << r.status;
    if (r.status == 1) {
      EXPECT_NE(r.err, "") << entry.path();
      continue;
    }
    ++dumped;
    if (entry.path().extension() == ".pzx") {
      std::string first = fixtures::read_file(out);
      run(EDGEDUMP, "edgedump", {entry.path().string(), out});
      EXPECT_TRUE(first == fixtures::read_file(out)) << entry.path();
    }
  }
  EXPECT_GT(dumped, 0);
}

namespace {

Bytes bzip2(const Bytes& plain) {
  std::vector<char> out(plain.size() * 2 + 600);
  unsigned length = static_cast<unsigned>(out.size());
  std::vector<char> in(plain.begin(), plain.end());
  EXPECT_EQ(BZ2_bzBuffToBuffCompress(out.data(), &length, in.data(),
                                     static_cast<unsigned>(in.size()), 9, 0, 0),
            BZ_OK);
  return Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(length));
}

}  // namespace

// bzip2 data that ends before its stream would keep libspectrum waiting for
// input for ever; it is refused, while whole bzip2 tapes play.
TEST_F(EdgedumpCli, Bzip2TapesWholeAndCutShort) {
  Bytes tape = TzxBuilder().pulses({10, 20, 30}).image();
  Bytes packed = bzip2(tape);
  auto plain = dump("t.tzx", tape);
  auto whole = dump("t.tzx.bz2", packed);
  EXPECT_EQ(whole.out, plain.out);
  EXPECT_EQ(whole.status, 0);

  std::string cut = write(
      "cut.tzx.bz2", Bytes(packed.begin(), packed.begin() + static_cast<long>(packed.size() / 2)));
  auto r = run(EDGEDUMP, "edgedump", {cut, dir.path("out")});
  EXPECT_EQ(r.err, "edgedump: `" + cut +
                       "' is damaged: its compressed data is cut short or expands past 1 GiB\n");
  EXPECT_EQ(r.status, 1);
  r = run(EDGEDUMP, "edgedump", {write("magic.tap.bz2", {'B', 'Z', 'h'}), "-"});
  EXPECT_EQ(r.status, 1);

  EXPECT_TRUE(adapter::bzip2_cut_short(packed.data(), packed.size() - 1));
  EXPECT_FALSE(adapter::bzip2_cut_short(packed.data(), packed.size()));
  EXPECT_FALSE(adapter::bzip2_cut_short(tape.data(), tape.size()));
}

// gzip data is refused before libspectrum expands it when it would expand
// past the limit (here a small one): whole, cut short, or no gzip at all,
// it is left to the library.
TEST(GzipLimit, OnlyDataExpandingPastItIsRefused) {
  Bytes zeros(100000, 0);
  Bytes packed = fixtures::gzip_stored(zeros);
  const struct {
    const char* what;
    Bytes bytes;
    uint64_t limit;
    bool past;
  } cases[] = {
      {"expands past the limit", packed, 99999, true},
      {"expands to the limit", packed, 100000, false},
      {"cut short, past the limit before the cut",
       Bytes(packed.begin(), packed.begin() + static_cast<long>(packed.size() - 10)), 50000, true},
      {"cut short, within the limit",
       Bytes(packed.begin(), packed.begin() + static_cast<long>(packed.size() - 10)), 200000,
       false},
      {"no gzip", zeros, 10, false},
      {"the magic alone", Bytes{0x1F, 0x8B}, 10, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(adapter::gzip_expands_past(c.bytes.data(), c.bytes.size(), c.limit), c.past)
        << c.what;
  }
}

// libspectrum's message about a CSW pulse cut short comes during the walk,
// when the pulse file is open: it goes to standard error only, naming the
// tape, with no blank line after it, then the dumper's own word with the
// block; never into the pulse file when standard error is closed. A new
// pulse file keeps the lines written so far; an existing one is left as it
// was.
TEST_F(EdgedumpStreams, LibraryMessagesDuringTheWalk) {
  std::string csw = "Compressed Square Wave\x1a";
  Bytes cut(csw.begin(), csw.end());
  Bytes header = {1, 1, 0x44, 0xAC, 1, 0, 0, 0, 0};  // version 1.01, 44100 Hz, RLE
  cut.insert(cut.end(), header.begin(), header.end());
  cut.insert(cut.end(), {10, 20, 0, 1});  // a long pulse whose length is cut short
  std::string in = write("trunc.csw", cut);
  std::string out = dir.path("out");
  auto r = run(EDGEDUMP, "edgedump", {in, out});
  EXPECT_EQ(r.err, "libspectrum error: `" + in +
                       "': rle_pulse_edge: file is truncated\nedgedump: `" + in +
                       "' is damaged: the walk failed in block 1\n");
  EXPECT_EQ(r.status, 1);
  std::string lines = fixtures::read_file(out);
  EXPECT_NE(lines, "");

  std::string kept = write("kept.txt", {'o', 'l', 'd'});
  r = run(EDGEDUMP, "edgedump", {in, kept}, fixtures::Stdout::StderrClosed);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(fixtures::read_file(kept), "old");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path("")),
                          std::filesystem::directory_iterator{}),
            3);  // the tape, the new pulse file and the kept one: no temporary left
}

// A block tag from the image reaches the terminal only with its control
// bytes made visible.
TEST_F(EdgedumpStreams, ImageBytesInLibraryMessagesAreMadeVisible) {
  Bytes image = fixtures::PzxBuilder().pulses({{1, 100}}).image();
  for (uint8_t b : Bytes{0x1B, ']', '2', ';', 0, 0, 0, 0}) {
    image.push_back(b);
  }
  auto r = dump("tag.pzx", image);
  EXPECT_EQ(r.err, "libspectrum error: `" + dir.path("tag.pzx") +
                       "': read_block: unknown block id '?]2;'\n");
  EXPECT_EQ(r.status, 0);
}

// A zero-filled TAP is millions of empty blocks: under a memory limit the
// parse runs out of memory, which ends the run with one line, not an abort.
TEST_F(EdgedumpStreams, ExhaustedMemoryEndsWithAMessage) {
  if (fixtures::memory_limits_unusable()) {
    GTEST_SKIP() << "no memory limit under the sanitizers or valgrind";
  }
  std::string zeros = write("zeros.tap", Bytes(16 << 20, 0));
  std::string out = write("keep.txt", {'k'});
  auto r = run(EDGEDUMP, "edgedump", {zeros, out}, fixtures::Stdout::Captured, size_t{512} << 20);
  EXPECT_EQ(r.err, "edgedump: memory exhausted\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(fixtures::read_file(out), "k");
}

namespace {

// A generalised-data block with one pilot symbol of one pulse, `flags` its
// TZX symbol flags (1: no edge), played as `runs` runs of `repeats`; then
// `data_symbols` data symbols (0 for none) of a 1-pulse edge of `data`
// T-states, symbol 0 of a 1-symbol table.
Bytes pilot_block(uint8_t flags, uint16_t length, uint32_t runs, uint16_t repeats,
                  uint32_t data_symbols, uint16_t data) {
  Bytes body = {0, 0};  // no pause
  le32(body, runs);
  body.push_back(1);
  body.push_back(1);
  le32(body, data_symbols);
  body.push_back(1);
  body.push_back(1);
  body.push_back(flags);
  le16(body, length);
  for (uint32_t i = 0; i < runs; ++i) {
    body.push_back(0);
    le16(body, repeats);
  }
  if (data_symbols > 0) {
    body.push_back(0);
    le16(body, data);
  }
  // A 1-symbol table needs no bits per symbol: no data stream.
  return with_length(body);
}

}  // namespace

// A generalised-data block of pilot symbols and no data symbols is a legal
// tone: the pilot plays, then the block ends (the library's player would go
// on into the data that is not there).
TEST_F(EdgedumpCli, PilotOnlyGeneralisedDataPlays) {
  struct Case {
    const char* what;
    Bytes image;
    std::string pulses;
  } cases[] = {
      {"three pulses of 1000", TzxBuilder().raw(0x19, pilot_block(0, 1000, 1, 3, 0, 0)).image(),
       "1000 : 1\n1000 : 0\n1000 : 1\n0 : 0\n"},
      {"two runs, then a tone that follows",
       TzxBuilder().raw(0x19, pilot_block(0, 50, 2, 1, 0, 0)).pulses({70}).image(),
       "50 : 1\n50 : 0\n70 : 1\n"},
  };
  for (const Case& c : cases) {
    auto r = dump("tone.tzx", c.image);
    EXPECT_EQ(r.out, L(c.pulses)) << c.what;
    EXPECT_EQ(r.err, "") << c.what;
    EXPECT_EQ(r.status, 0) << c.what;
  }
}

// Records that report no edge add up to more than 32 bits hold: two runs of
// 65,535 symbols of 65,535 T-states that change no level, then an edge of
// 700.
TEST_F(EdgedumpCli, LongSilencesAreSummedIn64Bits) {
  auto r =
      dump("long.tzx", TzxBuilder().raw(0x19, pilot_block(1, 65535, 2, 65535, 1, 700)).image());
  ASSERT_EQ(r.status, 0) << r.err;
  uint64_t sum = uint64_t{2} * 65535 * 65535 + 700;
  EXPECT_EQ(r.out.substr(0, r.out.find(" : ")), std::to_string(sum));
  EXPECT_EQ(sum, 8589673150u);
}

// A jump on the tape's way that leads outside it fails libspectrum's walk:
// the tape is refused before the output is opened, naming the jump.
TEST_F(EdgedumpCli, JumpsOutsideTheTapeAreRefusedBeforeTheOutput) {
  struct Case {
    const char* what;
    Bytes image;
    int block;
  } cases[] = {
      {"past the end, after a tone", TzxBuilder().pure_tone(2168, 3).jump(5).image(), 2},
      {"to just past the last block", TzxBuilder().pulses({5}).jump(1).image(), 2},
      {"back before the first", TzxBuilder().pulses({5}).text("x").jump(-3).image(), 3},
      {"inside a loop, on its second round",
       TzxBuilder().loop_start(2).pulses({1}).loop_end().jump(-9).image(), 4},
  };
  for (const Case& c : cases) {
    std::string out = write("keep.txt", {'k', 'e', 'e', 'p'});
    std::string in = write("jumps.tzx", c.image);
    auto r = run(EDGEDUMP, "edgedump", {in, out});
    EXPECT_EQ(r.err, "edgedump: `" + in + "' is damaged: block " + std::to_string(c.block) +
                         " jumps outside the tape\n")
        << c.what;
    EXPECT_EQ(r.status, 1) << c.what;
    EXPECT_EQ(fixtures::read_file(out), "keep") << c.what;
    // The same file as input and output is left as it was.
    r = run(EDGEDUMP, "edgedump", {in, in});
    EXPECT_EQ(r.status, 1) << c.what;
    EXPECT_TRUE(fixtures::read_file(in) == std::string(c.image.begin(), c.image.end())) << c.what;
  }
  // A jump outside that the tape jumps over is never played.
  auto r = dump("over.tzx", TzxBuilder().jump(2).jump(100).pulses({9}).image());
  EXPECT_EQ(r.out, L("9 : 1\n"));
  EXPECT_EQ(r.status, 0);
}

// A write past the file-size limit is a failure that the tool reports and
// cleans up after, not a signal that ends it without a word: an existing
// pulse file stays as it was and no temporary file is left.
TEST_F(EdgedumpCli, FileSizeLimitIsReportedNotFatal) {
  TzxBuilder tape;
  for (int block = 0; block < 12; ++block) {
    tape.pulses(std::vector<uint16_t>(255, 1234));  // about 27 KB of lines in all
  }
  std::string in = write("many.tzx", tape.image());
  std::string out = dir.path("kept.txt");
  fixtures::write_file(out, {'k'});
  auto r = run("/bin/bash", "bash", {"-c", "ulimit -f 4 && exec \"$0\" \"$@\"", EDGEDUMP, in, out});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("File too large"), std::string::npos) << r.err;
  EXPECT_EQ(fixtures::read_file(out), "k");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path("")),
                          std::filesystem::directory_iterator{}),
            2);
}

// A pulse file goes in under a temporary name: a new one appears with the
// umask's permissions, an existing one keeps its own and is replaced whole,
// a symbolic link keeps pointing at the file it named, and nothing else is
// left in the directory.
TEST_F(EdgedumpCli, PulseFilesAreReplacedWhole) {
  std::string in = write("t.tzx", TzxBuilder().pulses({1234, 5678}).image());
  std::string fresh = dir.path("fresh.txt");
  auto r = run(EDGEDUMP, "edgedump", {in, fresh});
  ASSERT_EQ(r.status, 0) << r.err;
  struct stat info {};
  ASSERT_EQ(stat(fresh.c_str(), &info), 0);
  mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask);

  std::string old = write("old.txt", Bytes(100000, 'x'));
  ASSERT_EQ(chmod(old.c_str(), 0640), 0);
  std::string link = dir.path("link.txt");
  ASSERT_EQ(symlink(old.c_str(), link.c_str()), 0);
  r = run(EDGEDUMP, "edgedump", {in, link});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(fixtures::read_file(old), L("1234 : 1\n5678 : 0\n"));
  ASSERT_EQ(lstat(link.c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  ASSERT_EQ(stat(old.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  // A file with another name (a hard link) is parted from it: the other
  // name keeps what the file held, so a failing run could not spoil it.
  std::string other = dir.path("other.txt");
  std::string before = fixtures::read_file(fresh);
  ASSERT_EQ(::link(fresh.c_str(), other.c_str()), 0);
  r = run(EDGEDUMP, "edgedump", {write("u.tzx", TzxBuilder().pulses({42}).image()), fresh});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(fixtures::read_file(fresh), L("42 : 1\n"));
  EXPECT_EQ(fixtures::read_file(other), before);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path("")),
                          std::filesystem::directory_iterator{}),
            6);
}

// A regular file larger than any tape is refused from its size, before a
// byte is read: under a small memory limit, a sparse file of 5 GiB.
TEST_F(EdgedumpStreams, HugeFilesAreRefusedUnread) {
  if (fixtures::memory_limits_unusable()) {
    GTEST_SKIP() << "no memory limit under the sanitizers or valgrind";
  }
  std::string huge = dir.path("huge.tzx");
  fixtures::write_file(huge, {});
  ASSERT_EQ(truncate(huge.c_str(), off_t{5} << 30), 0);
  std::string out = write("keep.txt", {'k'});
  auto r = run(EDGEDUMP, "edgedump", {huge, out}, fixtures::Stdout::Captured, size_t{256} << 20);
  EXPECT_EQ(r.err, "libspectrum error: couldn't read `" + huge + "': more than " +
                       std::to_string(adapter::TAPE_FILE_LIMIT) +
                       " bytes, larger than any image of its kind\nedgedump: couldn't read `" +
                       huge + "' (libspectrum error 3)\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(fixtures::read_file(out), "k");
}
