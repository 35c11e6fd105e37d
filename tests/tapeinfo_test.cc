// tapeinfo: exact listings of tapes of every block kind, the statuses, and
// playing times that add up to the edge walk's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "fixtures/cli_cases.h"
#include "fixtures/tape_builder.h"
#include "fixtures/test_util.h"
#include "libspectrum.h"

using fixtures::Bytes;
using fixtures::run;

namespace {

const std::string TAPEINFO = TAPEINFO_PATH;
const std::string EDGEDUMP = EDGEDUMP_PATH;

Bytes text_bytes(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

Bytes code_header(const std::string& name, uint16_t length, uint16_t start) {
  Bytes h{3};
  std::string padded = name + std::string(10 - name.size(), ' ');
  h.insert(h.end(), padded.begin(), padded.end());
  fixtures::le16(h, length);
  fixtures::le16(h, start);
  fixtures::le16(h, 32768);
  return h;
}

// `body` after its length in 16 bits.
Bytes with_length16(const Bytes& body) {
  Bytes b;
  fixtures::le16(b, static_cast<uint32_t>(body.size()));
  b.insert(b.end(), body.begin(), body.end());
  return b;
}

// One block of every kind that libspectrum reads in a TZX (it reads no
// CSW, call or return block), in an order that plays each.
Bytes every_tzx_kind() {
  fixtures::TzxBuilder tzx;
  tzx.raw(0x32,
          with_length16(fixtures::concatenated({{2, 0x00, 5},
                                                text_bytes("Games"),
                                                {0xFF, 11},
                                                text_bytes("two\rlines\x01!")})))  // archive info
      .standard(1000, fixtures::rom_block(0x00, code_header("code", 2, 32768)))
      .turbo(2000, 600, 700, 800, 1600, 100, 8, 0, fixtures::rom_block(0xFF, {1, 2}))
      .pure_tone(2168, 10)
      .pulses({667, 735})
      .pure_data(855, 1710, 6, 500, {0xFF, 0x12, 0x34})
      .raw(0x15, {79, 0, 0x64, 0, 8, 2, 0, 0, 0xF0, 0x0F})  // direct recording
      .raw(0x19,
           {31, 0,    0,    0, 0, 0, 1, 0,    0,    0,    1,    1, 8,    0,    0,    0,    2,
            2,  // generalised data
            0,  0x78, 0x08, 0, 5, 0, 0, 0x57, 0x03, 0x57, 0x03, 0, 0xAE, 0x06, 0xAE, 0x06, 0xA5})
      .pause(200)
      .group_start("side A")
      .group_end()
      .jump(2)
      .pulses({500, 600, 700})  // jumped over
      .loop_start(3)
      .pure_tone(1000, 2)
      .loop_end()
      .raw(0x28, with_length16(fixtures::concatenated({{3, 1, 0, 5},
                                                       text_bytes("Start"),
                                                       {0xFF, 0xFF, 4},
                                                       text_bytes("back"),
                                                       {50, 0, 3},
                                                       text_bytes("far")})))
      .stop_if_48k()
      .set_level(1)
      .text("a \"quoted\" \\ description")
      .raw(0x31, fixtures::concatenated({{5, 4}, text_bytes("wait")}))  // message
      .raw(0x33, {2, 0, 1, 0, 3, 2, 3})                                 // hardware
      .raw(0x35, fixtures::concatenated(
                     {text_bytes("POKEs           "), {3, 0, 0, 0, 1, 2, 3}}))  // custom
      .raw(0x5A, text_bytes("XTape!\x1a\x01\x14"))                              // glue
      .pause(0);
  return tzx.image();
}

// Every kind of PZX block, then a CSW recording: the tapes of one run.
Bytes every_pzx_kind() {
  fixtures::PzxBuilder pzx;
  Bytes header = fixtures::rom_block(0x00, code_header("pzx", 1, 40000));
  Bytes data = fixtures::rom_block(0xFF, {0x42});
  pzx.browse("first file")
      .pulses({{3223, 2168}, {1, 667}, {1, 735}})
      .data(static_cast<uint32_t>(header.size() * 8), {855, 855}, {1710, 1710}, header)
      .pause(3500000, false)
      .pulses({{3223, 2168}, {1, 667}, {1, 735}})
      .data(static_cast<uint32_t>(data.size() * 8), {855, 855}, {1710, 1710}, data)
      .data(12, {500, 500, 500}, {1000, 1000}, {0xAB, 0xC0})
      .stop();
  return pzx.image();
}

// The listings of the tapes above, as they must stay.
const char* const EVERY_TZX_KIND = R"(

Listing of `DIR/every.tzx':

Format: TZX
Blocks: 24
Files: 1
Playing time: 0:06.99 (24492862 T-states)

Block 1: archive info
  Start: 0:00.00 (T-state 0)
  Duration: 0:00.00 (0 T-states)
  Title: "Games"
  Comment: "two?lines?!"

Block 2: standard speed data
  Start: 0:00.00 (T-state 0)
  Duration: 0:06.08 (21293206 T-states)
  Data: 19 bytes, flag 0x00
  Checksum: ok
  Bytes: "code" CODE 32768, 2
  Its data follows in block 3
  Pause: 1000 ms

Block 3: turbo speed data
  Start: 0:06.08 (T-state 21293206)
  Duration: 0:00.07 (278100 T-states)
  Data: 4 bytes, flag 0xFF
  Checksum: ok
  The data of "code", whose header is block 2
  Timings: pilot 2000 x 100, sync 600 700, bits 800 1600 (T-states)
  Pause: 0 ms

Block 4: pure tone
  Start: 0:06.16 (T-state 21571306)
  Duration: 0:00.00 (21680 T-states)
  Pulses: 10 of 2168 T-states

Block 5: pulse sequence
  Start: 0:06.16 (T-state 21592986)
  Duration: 0:00.00 (1402 T-states)
  Pulses: 2

Block 6: pure data
  Start: 0:06.16 (T-state 21594388)
  Duration: 0:00.51 (1809850 T-states)
  Data: 3 bytes, flag 0xFF, 6 bits used of the last
  Pause: 500 ms

Block 7: direct recording
  Start: 0:06.68 (T-state 23404238)
  Duration: 0:00.10 (351264 T-states)
  Pulses: 4
  Pause: 100 ms

Block 8: generalised data
  Start: 0:06.78 (T-state 23755502)
  Duration: 0:00.00 (31360 T-states)
  Pulses: 21
  Pause: 0 ms

Block 9: pause
  Start: 0:06.79 (T-state 23786862)
  Duration: 0:00.20 (700000 T-states)
  Pause: 200 ms

Block 10: group start
  Start: 0:06.99 (T-state 24486862)
  Duration: 0:00.00 (0 T-states)
  Name: "side A"

Block 11: group end
  Start: 0:06.99 (T-state 24486862)
  Duration: 0:00.00 (0 T-states)

Block 12: jump
  Start: 0:06.99 (T-state 24486862)
  Duration: 0:00.00 (0 T-states)
  Jumps to block 14

Block 13: pulse sequence
  Not played
  Pulses: 3

Block 14: loop start
  Start: 0:06.99 (T-state 24486862)
  Duration: 0:00.00 (0 T-states)
  Repeats: 3 times

Block 15: pure tone
  Start: 0:06.99 (T-state 24486862)
  Duration: 0:00.00 (6000 T-states, in 3 plays)
  Pulses: 2 of 1000 T-states

Block 16: loop end
  Start: 0:06.99 (T-state 24488862)
  Duration: 0:00.00 (0 T-states, in 3 plays)

Block 17: select
  Start: 0:06.99 (T-state 24492862)
  Duration: 0:00.00 (0 T-states)
  Option: "Start" jumps to block 18
  Option: "back" jumps to block 16
  Option: "far" jumps outside the tape, by 50 blocks

Block 18: stop the tape in 48K mode
  Start: 0:06.99 (T-state 24492862)
  Duration: 0:00.00 (0 T-states)

Block 19: set signal level
  Start: 0:06.99 (T-state 24492862)
  Duration: 0:00.00 (0 T-states)
  Level: high

Block 20: text description
  Start: 0:06.99 (T-state 24492862)
  Duration: 0:00.00 (0 T-states)
  Text: "a \"quoted\" \\ description"

Block 21: message
  Start: 0:06.99 (T-state 24492862)
  Duration: 0:00.00 (0 T-states)
  Text: "wait"
  Shown for: 5000 ms

Block 22: hardware type
  Start: 0:06.99 (T-state 24492862)
  Duration: 0:00.00 (0 T-states)
  Hardware: type 0, id 1: runs on it
  Hardware: type 3, id 2: does not run on it

Block 23: custom info
  Start: 0:06.99 (T-state 24492862)
  Duration: 0:00.00 (0 T-states)
  Name: "POKEs"
  Data: 3 bytes

Block 24: stop the tape
  Start: 0:06.99 (T-state 24492862)
  Duration: 0:00.00 (0 T-states)

)";

const char* const EVERY_PZX_KIND_AND_CSW = R"(

Listing of `DIR/every.pzx':

Format: PZX
Blocks: 8
Files: 1
Playing time: 0:05.10 (17878852 T-states)

Block 1: PZX browse point
  Start: 0:00.00 (T-state 0)
  Duration: 0:00.00 (0 T-states)
  Text: "first file"

Block 2: PZX pulses
  Start: 0:00.00 (T-state 0)
  Duration: 0:01.99 (6988866 T-states)
  Pulses: 3225

Block 3: PZX data
  Start: 0:01.99 (T-state 6988866)
  Duration: 0:00.08 (311220 T-states)
  Data: 19 bytes, flag 0x00
  Checksum: ok
  Bytes: "pzx" CODE 40000, 1
  Its data follows in block 6

Block 4: PZX pause
  Start: 0:02.08 (T-state 7300086)
  Duration: 0:01.00 (3500000 T-states)

Block 5: PZX pulses
  Start: 0:03.08 (T-state 10800086)
  Duration: 0:01.99 (6988866 T-states)
  Pulses: 3225

Block 6: PZX data
  Start: 0:05.08 (T-state 17788952)
  Duration: 0:00.01 (68400 T-states)
  Data: 3 bytes, flag 0xFF
  Checksum: ok
  The data of "pzx", whose header is block 3

Block 7: PZX data
  Start: 0:05.10 (T-state 17857352)
  Duration: 0:00.00 (21500 T-states)
  Data: 2 bytes, flag 0xAB, 4 bits used of the last
  Pulses of a bit: bit 0: 500 500 500; bit 1: 1000 1000 (T-states)

Block 8: PZX stop
  Start: 0:05.10 (T-state 17878852)
  Duration: 0:00.00 (0 T-states)



Listing of `DIR/sampled.csw':

Format: CSW
Blocks: 1
Files: 0
Playing time: 0:00.01 (50560 T-states)

Block 1: CSW recording
  Start: 0:00.00 (T-state 0)
  Duration: 0:00.01 (50560 T-states)
  Pulses: 40

)";

const char* const EVERY_PZX_KIND_SHORT = R"(

Listing of `DIR/every.pzx':

Format: PZX
Blocks: 8
Files: 1
Playing time: 0:05.10 (17878852 T-states)

Block 1: PZX browse point; Start: 0:00.00 (T-state 0); Duration: 0:00.00 (0 T-states); Text: "first file"
Block 2: PZX pulses; Start: 0:00.00 (T-state 0); Duration: 0:01.99 (6988866 T-states); Pulses: 3225
Block 3: PZX data; Start: 0:01.99 (T-state 6988866); Duration: 0:00.08 (311220 T-states); Data: 19 bytes, flag 0x00; Checksum: ok; Bytes: "pzx" CODE 40000, 1; Its data follows in block 6
Block 4: PZX pause; Start: 0:02.08 (T-state 7300086); Duration: 0:01.00 (3500000 T-states)
Block 5: PZX pulses; Start: 0:03.08 (T-state 10800086); Duration: 0:01.99 (6988866 T-states); Pulses: 3225
Block 6: PZX data; Start: 0:05.08 (T-state 17788952); Duration: 0:00.01 (68400 T-states); Data: 3 bytes, flag 0xFF; Checksum: ok; The data of "pzx", whose header is block 3
Block 7: PZX data; Start: 0:05.10 (T-state 17857352); Duration: 0:00.00 (21500 T-states); Data: 2 bytes, flag 0xAB, 4 bits used of the last; Pulses of a bit: bit 0: 500 500 500; bit 1: 1000 1000 (T-states)
Block 8: PZX stop; Start: 0:05.10 (T-state 17878852); Duration: 0:00.00 (0 T-states)
)";

// What tapeinfo prints for `args` (the temporary folder shown as DIR), and
// its status.
fixtures::RunResult listing(const fixtures::TempDir& dir, const std::vector<std::string>& args) {
  fixtures::RunResult r = run(TAPEINFO, "tapeinfo", args);
  for (std::string* text : {&r.out, &r.err}) {
    for (size_t at = 0; (at = text->find(dir.dir(), at)) != std::string::npos;) {
      text->replace(at, dir.dir().size(), "DIR");
    }
  }
  return r;
}

TEST(TapeinfoCli, ListsEveryTzxBlockKind) {
  fixtures::TempDir dir;
  fixtures::write_file(dir.path("every.tzx"), every_tzx_kind());
  fixtures::RunResult r = listing(dir, {dir.path("every.tzx")});
  EXPECT_EQ(r.out, EVERY_TZX_KIND);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
}

TEST(TapeinfoCli, ListsPzxBlocksAndCswRecordingsInOneRun) {
  fixtures::TempDir dir;
  fixtures::write_file(dir.path("every.pzx"), every_pzx_kind());
  fixtures::write_file(dir.path("sampled.csw"), fixtures::csw_recording());
  fixtures::RunResult r = listing(dir, {dir.path("every.pzx"), dir.path("sampled.csw")});
  EXPECT_EQ(r.out, EVERY_PZX_KIND_AND_CSW);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  r = listing(dir, {"--short", dir.path("every.pzx")});
  EXPECT_EQ(r.out, EVERY_PZX_KIND_SHORT);
}

}  // namespace

namespace {

// The status says whether every tape was listed and every checksum is
// right; a tape that cannot be read does not stop the others.
TEST(TapeinfoCli, StatusesAndSeveralOperands) {
  fixtures::TempDir dir;
  Bytes header = code_header("c", 2, 32768);
  fixtures::write_file(dir.path("good.tap"),
                       fixtures::concatenated(
                           {fixtures::tap_block(0x00, header), fixtures::tap_block(0xFF, {1, 2})}));
  fixtures::write_file(dir.path("bad.tap"),
                       fixtures::concatenated({fixtures::tap_block(0x00, header),
                                               fixtures::tap_block(0xFF, {1, 2}, true)}));
  fixtures::write_file(dir.path("junk.tzx"), text_bytes("ZXTape!\x1a\x01\x14\x99"));
  fixtures::TzxBuilder outside;
  outside.jump(5);
  fixtures::write_file(dir.path("outside.tzx"), outside.image());
  struct Case {
    std::vector<std::string> operands;
    int status;
    std::string err;
    std::vector<std::string> listed;
  };
  const std::string junk =
      "libspectrum error: `DIR/junk.tzx': libspectrum_tzx_create: unknown block type 0x99\n";
  for (const Case& c : std::vector<Case>{
           {{"good.tap"}, 0, "", {"good.tap"}},
           {{"bad.tap"}, 2, "", {"bad.tap"}},
           {{"bad.tap", "good.tap"}, 2, "", {"bad.tap", "good.tap"}},
           {{"junk.tzx", "bad.tap"}, 1, junk, {"bad.tap"}},
           {{"good.tap", "outside.tzx"},
            1,
            "tapeinfo: `DIR/outside.tzx' is damaged: block 1 jumps outside the tape\n",
            {"good.tap"}},
           {{"missing.tap", "good.tap"},
            1,
            "libspectrum error: couldn't open `DIR/missing.tap': No such file or directory\n"
            "tapeinfo: couldn't read `DIR/missing.tap' (libspectrum error 3)\n",
            {"good.tap"}},
       }) {
    std::vector<std::string> args;
    for (const std::string& name : c.operands) {
      args.push_back(dir.path(name));
    }
    fixtures::RunResult r = listing(dir, args);
    std::string what = fixtures::joined(c.operands);
    EXPECT_EQ(r.status, c.status) << what;
    EXPECT_EQ(r.err, c.err) << what;
    std::string headings;
    for (const std::string& name : c.listed) {
      headings += "Listing of `DIR/" + name + "'";
    }
    std::string found;
    for (size_t at = 0; (at = r.out.find("Listing of `", at)) != std::string::npos; ++at) {
      found += r.out.substr(at, r.out.find('\n', at) - at - 1);
    }
    EXPECT_EQ(found, headings) << what;
    bool bad_listed = std::find(c.listed.begin(), c.listed.end(), "bad.tap") != c.listed.end();
    EXPECT_EQ(r.out.find("Checksum: bad") != std::string::npos, bad_listed) << what;
  }
}

// The operand's control bytes are shown as '?', in the heading and in the
// messages alike.
TEST(TapeinfoCli, ControlBytesOfPathsShowAsQuestionMarks) {
  fixtures::TempDir dir;
  std::string raw = dir.path("e\x1b[7m");
  ASSERT_TRUE(std::filesystem::create_directory(raw));
  fixtures::write_file(raw + "/t.tap", fixtures::tap_block(0xFF, {1}));
  fixtures::RunResult r = listing(dir, {raw + "/t.tap", raw + "/none.tap"});
  EXPECT_EQ(r.out.substr(0, r.out.find('\n', 2) + 1), "\n\nListing of `DIR/e?[7m/t.tap':\n");
  EXPECT_EQ(r.err,
            "libspectrum error: couldn't open `DIR/e?[7m/none.tap': No such file or directory\n"
            "tapeinfo: couldn't read `DIR/e?[7m/none.tap' (libspectrum error 3)\n");
}

// A '"' in a file's name is escaped as a '\' is, in the header's line and
// the data's, so that the one-line form can be split at the name's end.
TEST(TapeinfoCli, QuotesInNamesAreEscaped) {
  fixtures::TempDir dir;
  fixtures::write_file(
      dir.path("t.tap"),
      fixtures::concatenated({fixtures::tap_block(0x00, code_header(R"(A"B\C)", 2, 32768)),
                              fixtures::tap_block(0xFF, {0, 0})}));
  fixtures::RunResult r = listing(dir, {"-s", dir.path("t.tap")});
  EXPECT_NE(r.out.find(R"(; Bytes: "A\"B\\C" CODE 32768, 2; )"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(R"(; The data of "A\"B\\C", whose header is block 1; )"), std::string::npos)
      << r.out;
}

// A walk of the tape with libspectrum alone: its block count, all its
// T-states, and those up to its last edge (what the pulse lines add up to).
struct ReferenceWalk {
  size_t blocks = 0;
  uint64_t total = 0;
  uint64_t to_last_edge = 0;
};

ReferenceWalk reference_walk(const std::string& path) {
  std::string image = fixtures::read_file(path);
  ReferenceWalk walk;
  libspectrum_tape* tape = libspectrum_tape_alloc();
  if (libspectrum_tape_read(tape, reinterpret_cast<const libspectrum_byte*>(image.data()),
                            image.size(), LIBSPECTRUM_ID_UNKNOWN, path.c_str()) == 0) {
    libspectrum_tape_iterator it = nullptr;
    for (auto* b = libspectrum_tape_iterator_init(&it, tape); b != nullptr;
         b = libspectrum_tape_iterator_next(&it)) {
      ++walk.blocks;
    }
    int flags = 0;
    while ((flags & LIBSPECTRUM_TAPE_FLAGS_TAPE) == 0) {
      libspectrum_dword tstates = 0;
      if (libspectrum_tape_get_next_edge(&tstates, &flags, tape) != 0) {
        break;
      }
      walk.total += tstates;
      if ((flags & LIBSPECTRUM_TAPE_FLAGS_NO_EDGE) == 0) {
        walk.to_last_edge = walk.total;
      }
    }
  }
  libspectrum_tape_free(tape);
  return walk;
}

// The T-states of a listing: of the whole tape, and each block's summed.
void expect_times_add_up(const std::string& path, const std::string& out) {
  ReferenceWalk walk = reference_walk(path);
  EXPECT_NE(out.find("Blocks: " + std::to_string(walk.blocks) + "\n"), std::string::npos) << path;
  EXPECT_NE(out.find(" (" + std::to_string(walk.total) + " T-states)\n\n"), std::string::npos)
      << path;
  uint64_t sum = 0;
  for (size_t at = 0; (at = out.find("  Duration: ", at)) != std::string::npos; ++at) {
    sum += std::strtoull(out.c_str() + out.find('(', at) + 1, nullptr, 10);
  }
  EXPECT_EQ(sum, walk.total) << path;
}

TEST(TapeinfoCli, TimesAddUpToTheEdgeWalk) {
  fixtures::TempDir dir;
  for (const auto& [name, image] :
       std::vector<std::pair<std::string, Bytes>>{{"every.tzx", every_tzx_kind()},
                                                  {"every.pzx", every_pzx_kind()},
                                                  {"sampled.csw", fixtures::csw_recording()}}) {
    std::string path = dir.path(name);
    fixtures::write_file(path, image);
    fixtures::RunResult r = run(TAPEINFO, "tapeinfo", {path});
    expect_times_add_up(path, r.out);
    // The pulse lines add up to the walk up to its last edge.
    fixtures::RunResult pulses = run(EDGEDUMP, "edgedump", {path, "-"});
    uint64_t lines = 0;
    for (size_t at = 0; at < pulses.out.size(); at = pulses.out.find('\n', at) + 1) {
      lines += std::strtoull(pulses.out.c_str() + at, nullptr, 10);
    }
    EXPECT_EQ(lines, reference_walk(path).to_last_edge) << name;
  }
}

// Every corpus tape is listed, or refused with a message; the block count
// is libspectrum's and the times add up.
TEST(TapeinfoCorpus, EveryTapeIsListedOrRefusedCleanly) {
  const std::string corpus = CORPUS_DIR "/tape";
  if (!std::filesystem::is_directory(corpus)) {
    GTEST_SKIP() << "no corpus at " << corpus;
  }
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    std::string path = entry.path().string();
    fixtures::RunResult r = run(TAPEINFO, "tapeinfo", {path});
    if (r.status == 1) {
      EXPECT_FALSE(r.err.empty()) << path;
      EXPECT_EQ(r.out, "") << path;
      continue;
    }
    EXPECT_TRUE(r.status == 0 || r.status == 2) << path << ": " << r.status;
    EXPECT_EQ(r.err, "") << path;
    EXPECT_EQ(r.out.find("Checksum: bad") != std::string::npos, r.status == 2) << path;
    expect_times_add_up(path, r.out);
  }
}

}  // namespace

namespace {

// An 8-bit mono PCM WAV file at 44100 Hz: `runs` runs of 20 samples, high
// and low by turns.
Bytes wav_recording(size_t runs) {
  Bytes samples;
  for (size_t run = 0; run < runs; ++run) {
    samples.insert(samples.end(), 20, run % 2 == 0 ? 0xF0 : 0x10);
  }
  Bytes wav = text_bytes("RIFF");
  fixtures::le32(wav, static_cast<uint32_t>(36 + samples.size()));
  wav = fixtures::concatenated({wav, text_bytes("WAVEfmt ")});
  fixtures::le32(wav, 16);
  fixtures::le16(wav, 1);  // PCM
  fixtures::le16(wav, 1);  // mono
  fixtures::le32(wav, 44100);
  fixtures::le32(wav, 44100);
  fixtures::le16(wav, 1);
  fixtures::le16(wav, 8);
  wav = fixtures::concatenated({wav, text_bytes("data")});
  fixtures::le32(wav, static_cast<uint32_t>(samples.size()));
  return fixtures::concatenated({wav, samples});
}

TEST(TapeinfoCli, AWavFileIsAWavRecording) {
  fixtures::TempDir dir;
  std::string path = dir.path("sampled.wav");
  fixtures::write_file(path, wav_recording(30));
  fixtures::RunResult r = listing(dir, {"-s", path});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Format: WAV\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Block 1: WAV recording; Start: 0:00.00 (T-state 0); Duration: "),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("Pause:"), std::string::npos) << r.out;
  expect_times_add_up(path, run(TAPEINFO, "tapeinfo", {path}).out);
}

// libspectrum reads a WAV file only as it is: a gzipped one is refused with
// libspectrum's line alone, none of the audio library's own.
TEST(TapeinfoCli, AGzippedWavFileIsRefusedInLibspectrumsWords) {
  fixtures::TempDir dir;
  std::string path = dir.path("sampled.wav.gz");
  fixtures::write_file(path, fixtures::gzip_stored(wav_recording(30)));
  fixtures::RunResult r = listing(dir, {path});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("libspectrum error: `DIR/sampled.wav.gz': ", 0), 0u) << r.err;
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
}

}  // namespace
