// Tapes cut short (tapeinfo lists them up to the cut, tape2cart saves the
// files before it, edgedump refuses them) and tapeinfo -x.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "fixtures/tape_builder.h"
#include "fixtures/test_util.h"
#include "output_file_seam.h"
#include "tapeinfo.h"

using fixtures::Bytes;
using fixtures::run;

namespace {

const std::string TAPEINFO = TAPEINFO_PATH;
const std::string TAPE2CART = TAPE2CART_PATH;
const std::string EDGEDUMP = EDGEDUMP_PATH;
const std::string CARTINFO = CARTINFO_PATH;

// A 17-byte ROM header of `type` named `name` for `length` bytes.
Bytes rom_header(uint8_t type, const std::string& name, uint16_t length, uint16_t param1) {
  Bytes h{type};
  std::string padded = name + std::string(10 - name.size(), ' ');
  h.insert(h.end(), padded.begin(), padded.end());
  fixtures::le16(h, length);
  fixtures::le16(h, param1);
  fixtures::le16(h, 32768);
  return h;
}

const Bytes TEN = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};

std::string as_text(const Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

Bytes first_bytes(const Bytes& image, size_t count) {
  return Bytes(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(count));
}

// The text after the last newline but one: with -s, the last block's line.
std::string last_line(const std::string& text) {
  size_t end = text.size() > 0 ? text.size() - 1 : 0;
  size_t start = text.rfind('\n', end > 0 ? end - 1 : 0);
  return text.substr(start == std::string::npos ? 0 : start + 1, end - start - 1);
}

struct CutCase {
  const char* what;
  Bytes image;  // already cut
  const char* name;
  int status;
  std::string last;  // the last line of the -s listing, or the whole of stderr when refused
};

// Cut points inside the length field, the fixed fields and the data of the
// last block of a TAP, a TZX and a PZX, one inside the first block, and
// cuts in the headers that leave nothing to list.
std::vector<CutCase> cut_cases() {
  Bytes header = rom_header(3, "code", 10, 32768);
  Bytes tap = fixtures::concatenated(
      {fixtures::tap_block(0x00, header), fixtures::tap_block(0xFF, TEN)});  // 21 + 14 bytes
  fixtures::TzxBuilder tzx_builder;
  tzx_builder.standard(1000, fixtures::rom_block(0x00, header))
      .standard(1000, fixtures::rom_block(0xFF, TEN));  // 10 + 24 + 17 bytes
  Bytes tzx = tzx_builder.image();
  fixtures::TzxBuilder tone_builder;
  tone_builder.standard(1000, fixtures::rom_block(0x00, header)).pure_tone(2168, 100);
  Bytes tone = tone_builder.image();
  fixtures::PzxBuilder pzx_builder;
  Bytes header_block = fixtures::rom_block(0x00, header);
  Bytes data_block = fixtures::rom_block(0xFF, TEN);
  pzx_builder
      .data(static_cast<uint32_t>(header_block.size() * 8), {855, 855}, {1710, 1710}, header_block)
      .data(static_cast<uint32_t>(data_block.size() * 8), {855, 855}, {1710, 1710}, data_block);
  Bytes pzx = pzx_builder.image();
  size_t last_pzx = pzx.size() - 36;  // tag, length, 8 bytes of counts, 8 of pulses, 12 of data
  const std::string data_of = "; The data of \"code\", whose header is block 1";
  const std::string tzx_short =
      "libspectrum error: `DIR/c.tzx': libspectrum_tzx_create: not enough data in buffer\n";
  return {
      {"TAP, 1 byte of the length", first_bytes(tap, 22), "c.tap", 2,
       "Block 2: standard speed data; Cut short: the image holds 1 of its bytes, and ends before "
       "its length field does"},
      {"TAP, the length and no data", first_bytes(tap, 23), "c.tap", 2,
       "Block 2: standard speed data; Cut short: the image holds 2 of its 14 bytes; Data: none of "
       "12 bytes"},
      {"TAP, 5 bytes of data", first_bytes(tap, 28), "c.tap", 2,
       "Block 2: standard speed data; Cut short: the image holds 7 of its 14 bytes; Data: 5 of 12 "
       "bytes, flag 0xFF" +
           data_of},
      {"TAP, all but the checksum", first_bytes(tap, 34), "c.tap", 2,
       "Block 2: standard speed data; Cut short: the image holds 13 of its 14 bytes; Data: 11 of "
       "12 bytes, flag 0xFF" +
           data_of},
      {"TAP, inside its first block", first_bytes(tap, 10), "c.tap", 2,
       "Block 1: standard speed data; Cut short: the image holds 10 of its 21 bytes; Data: 8 of 19 "
       "bytes, flag 0x00"},
      {"TAP, whole", tap, "c.tap", 0,
       "Block 2: standard speed data; Start: 0:06.08 (T-state 21293206); Duration: 0:03.05 "
       "(10704326 T-states); Data: 12 bytes, flag 0xFF; Checksum: ok" +
           data_of + "; Pause: 1000 ms"},
      {"TAP of another machine, cut", first_bytes(Bytes{0x10, 0x00, 0x16, 0x16, 0x16}, 5), "c.tap",
       1, "libspectrum error: `DIR/c.tap': libspectrum_tap_read: not enough data in buffer\n"},
      {"TZX, inside its header", first_bytes(tzx, 5), "c.tzx", 1, tzx_short},
      {"TZX, the ID alone", first_bytes(tzx, 35), "c.tzx", 2,
       "Block 2: standard speed data; Cut short: the image holds 1 of its bytes, and ends before "
       "its length field does"},
      {"TZX, in the length field", first_bytes(tzx, 38), "c.tzx", 2,
       "Block 2: standard speed data; Cut short: the image holds 4 of its bytes, and ends before "
       "its length field does"},
      {"TZX, the fixed fields and no data", first_bytes(tzx, 39), "c.tzx", 2,
       "Block 2: standard speed data; Cut short: the image holds 5 of its 17 bytes; Data: none of "
       "12 bytes"},
      {"TZX, 5 bytes of data", first_bytes(tzx, 44), "c.tzx", 2,
       "Block 2: standard speed data; Cut short: the image holds 10 of its 17 bytes; Data: 5 of 12 "
       "bytes, flag 0xFF" +
           data_of},
      {"TZX, a block of fixed size", first_bytes(tone, tone.size() - 2), "c.tzx", 2,
       "Block 2: pure tone; Cut short: the image holds 3 of its 5 bytes"},
      {"TZX, the first block", first_bytes(tzx, 20), "c.tzx", 2,
       "Block 1: standard speed data; Cut short: the image holds 10 of its 24 bytes; Data: 5 of 19 "
       "bytes, flag 0x00"},
      {"PZX, inside its header block", first_bytes(pzx, 6), "c.pzx", 1,
       "libspectrum error: `DIR/c.pzx': internal_pzx_read: not enough data for PZX header\n"},
      {"PZX, in the tag", first_bytes(pzx, last_pzx + 3), "c.pzx", 2,
       "Block 2: PZX block; Cut short: the image holds 3 of its bytes, and ends before its length "
       "field does"},
      {"PZX, in the pulses", first_bytes(pzx, last_pzx + 20), "c.pzx", 2,
       "Block 2: PZX data; Cut short: the image holds 20 of its 36 bytes"},
      {"PZX, 6 bytes of data", first_bytes(pzx, last_pzx + 30), "c.pzx", 2,
       "Block 2: PZX data; Cut short: the image holds 30 of its 36 bytes; Data: 6 of 12 bytes, "
       "flag 0xFF" +
           data_of},
  };
}

std::string with_dir(std::string text, const fixtures::TempDir& dir) {
  for (size_t at = 0; (at = text.find(dir.dir(), at)) != std::string::npos;) {
    text.replace(at, dir.dir().size(), "DIR");
  }
  return text;
}

TEST(CutTapeCli, ListedUpToTheCut) {
  for (const CutCase& c : cut_cases()) {
    fixtures::TempDir dir;
    std::string path = dir.path(c.name);
    fixtures::write_file(path, c.image);
    fixtures::RunResult r = run(TAPEINFO, "tapeinfo", {"-s", path});
    EXPECT_EQ(r.status, c.status) << c.what;
    if (c.status == 1) {
      EXPECT_EQ(with_dir(r.err, dir), c.last) << c.what;
      EXPECT_EQ(r.out, "") << c.what;
      continue;
    }
    EXPECT_EQ(last_line(r.out), c.last) << c.what;
    if (c.status == 0) {
      EXPECT_EQ(r.err, "") << c.what;
      continue;
    }
    // The message names the cut as the listing does, and the summary counts it.
    size_t number = std::stoul(c.last.substr(6));
    size_t held = c.last.find("the image holds ");
    EXPECT_EQ(with_dir(r.err, dir), "tapeinfo: `DIR/" + std::string(c.name) +
                                        "' is damaged: block " + std::to_string(number) +
                                        " is cut short, " +
                                        c.last.substr(held, c.last.find(';', held) - held) + "\n")
        << c.what;
    EXPECT_NE(r.out.find("Blocks: " + std::to_string(number) + ", the last cut short\n"),
              std::string::npos)
        << c.what;
    // The header whose data is cut says so.
    bool joined = c.last.find("The data of") != std::string::npos;
    EXPECT_EQ(r.out.find("Its data follows in block 2, cut short") != std::string::npos, joined)
        << c.what;
    // A gzip image of the same bytes is listed alike.
    fixtures::write_file(path + ".gz", fixtures::gzip_stored(c.image));
    fixtures::RunResult gz = run(TAPEINFO, "tapeinfo", {"-s", path + ".gz"});
    EXPECT_EQ(gz.status, c.status) << c.what;
    EXPECT_EQ(last_line(gz.out), c.last) << c.what;
  }
}

// tape2cart saves the files before the cut, names the cut, and says 2;
// edgedump refuses the tape as it always has.
TEST(CutTapeCli, Tape2cartSavesWhatIsWholeAndEdgedumpRefuses) {
  fixtures::TempDir dir;
  Bytes tap = fixtures::concatenated({fixtures::tap_block(0x00, rom_header(3, "first", 10, 40000)),
                                      fixtures::tap_block(0xFF, TEN),
                                      fixtures::tap_block(0x00, rom_header(3, "second", 10, 50000)),
                                      fixtures::tap_block(0xFF, TEN)});
  std::string path = dir.path("cut.tap");
  fixtures::write_file(path, first_bytes(tap, tap.size() - 4));
  fixtures::RunResult r = run(TAPE2CART, "tape2cart", {path, dir.path("c.mdr")});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(with_dir(r.err, dir),
            "tape2cart: `DIR/cut.tap' block 3: the header of \"second\", without its data after "
            "it; left out\n"
            "tape2cart: `DIR/cut.tap' block 4: cut short, the image holds 10 of its 14 bytes; "
            "left out\n");
  fixtures::RunResult listed = run(CARTINFO, "cartinfo", {dir.path("c.mdr")});
  EXPECT_NE(listed.out.find("Files: 1\n"), std::string::npos) << listed.out;
  EXPECT_NE(listed.out.find("\"first\""), std::string::npos);

  // Nothing whole: no file to save.
  fixtures::write_file(path, first_bytes(tap, 12));
  r = run(TAPE2CART, "tape2cart", {path, dir.path("d.mdr")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(with_dir(r.err, dir),
            "tape2cart: `DIR/cut.tap' block 1: cut short, the image holds 12 of its 21 bytes; "
            "left out\n"
            "tape2cart: `DIR/cut.tap' holds no ROM file; nothing written\n");
  EXPECT_FALSE(std::filesystem::exists(dir.path("d.mdr")));

  r = run(EDGEDUMP, "edgedump", {path, dir.path("pulses.txt")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(with_dir(r.err, dir),
            "libspectrum error: `DIR/cut.tap': libspectrum_tap_read: not enough data in buffer\n");
  EXPECT_FALSE(std::filesystem::exists(dir.path("pulses.txt")));
}

// The PNG file of a screen's bytes.
std::string picture(const Bytes& screen) {
  std::vector<unsigned char> png;
  std::string error;
  EXPECT_EQ(screen_picture(screen.data(), &png, &error), 0) << error;
  return std::string(png.begin(), png.end());
}

// A tape of every kind of thing -x copies, and how each is named.
Bytes extract_tape() {
  Bytes screen(6912, 0x38);
  Bytes headerless_screen(6912, 0x07);
  return fixtures::concatenated({
      fixtures::tap_block(0x00, rom_header(0, "loader", 4, 10)),
      fixtures::tap_block(0xFF, {0xAA, 0xBB, 0xCC, 0xDD}),
      fixtures::tap_block(0x00, rom_header(3, "title", 6912, 16384)),
      fixtures::tap_block(0xFF, screen),
      fixtures::tap_block(0x00, rom_header(3, "block-7", 10, 32768)),
      fixtures::tap_block(0xFF, TEN), fixtures::tap_block(0xFF, headerless_screen),  // block 7
      fixtures::tap_block(0x00, rom_header(3, "bad/sum", 10, 32768)),        // block 8
      fixtures::tap_block(0xFF, TEN, true),                                  // its data, spoilt
      fixtures::tap_block(0x00, rom_header(3, "lonely", 10, 32768)),         // no data after it
      fixtures::tap_block(0x00, rom_header(3, "../cut", 10, 32768), true),   // block 11, spoilt
      first_bytes(fixtures::tap_block(0xFF, TEN), 8),                        // block 12, cut
  });
}

TEST(CutTapeCli, ExtractNamesEveryFile) {
  fixtures::TempDir dir;
  std::string tape = dir.path("t.tap");
  fixtures::write_file(tape, extract_tape());
  std::string out = dir.path("out");
  std::filesystem::create_directory(out);
  fixtures::RunResult plain = run(TAPEINFO, "tapeinfo", {tape});
  fixtures::RunResult r = run(TAPEINFO, "tapeinfo", {"-x", out, tape});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, plain.out);
  const std::string cut =
      "tapeinfo: `DIR/t.tap' is damaged: block 12 is cut short, the image "
      "holds 8 of its 14 bytes\n";
  EXPECT_EQ(with_dir(plain.err, dir), cut);
  EXPECT_EQ(with_dir(r.err, dir),
            cut +
                "tapeinfo: warning: \"bad/sum\" is damaged (the checksum of its data is wrong); "
                "copied to `DIR/out/bad_sum.bin'\n"
                "tapeinfo: warning: \"lonely\" is damaged (no data block after its header); copied "
                "to `DIR/out/lonely.bin'\n"
                "tapeinfo: warning: block 11 is damaged (its checksum is wrong); copied to "
                "`DIR/out/block-11.bin'\n"
                "tapeinfo: warning: block 12 is damaged (cut short); copied to "
                "`DIR/out/block-12.bin'\n");
  struct Expected {
    const char* name;
    std::string bytes;
  } files[] = {
      {"loader.bas", "\xAA\xBB\xCC\xDD"},
      {"title.scr", std::string(6912, 0x38)},
      {"block-7.bin", std::string(TEN.begin(), TEN.end())},
      {"block-7-2.bin", as_text(fixtures::rom_block(0xFF, Bytes(6912, 0x07)))},
      // A screen's picture beside it, whether a file's or a headerless block's.
      {"title.png", picture(Bytes(6912, 0x38))},
      {"block-7-2.png", picture(Bytes(6912, 0x07))},
      {"bad_sum.bin", std::string(TEN.begin(), TEN.end())},
      {"lonely.bin", ""},
      {"block-11.bin",
       as_text(fixtures::rom_block(0x00, rom_header(3, "../cut", 10, 32768), true))},
      {"block-12.bin", std::string("\xFF\1\2\3\4\5", 6)},
  };
  size_t found = 0;
  for (const auto& entry : std::filesystem::directory_iterator(out)) {
    (void)entry;
    ++found;
  }
  EXPECT_EQ(found, std::size(files));
  for (const Expected& f : files) {
    EXPECT_EQ(fixtures::read_file(out + "/" + f.name), f.bytes) << f.name;
  }
}

// The rules of cartinfo -x: DIR must be a folder; a name there already, a
// link among them, is never written over or through; several tapes get a
// folder each.
TEST(CutTapeCli, ExtractKeepsToTheFolder) {
  namespace fs = std::filesystem;
  fixtures::TempDir dir;
  Bytes tap = fixtures::concatenated({fixtures::tap_block(0x00, rom_header(3, "code", 10, 32768)),
                                      fixtures::tap_block(0xFF, TEN)});
  std::string tape = dir.path("t.tap");
  fixtures::write_file(tape, tap);
  fs::create_directory(dir.path("b"));
  fixtures::write_file(dir.path("b/t.tap"), tap);
  std::string elsewhere = dir.path("elsewhere");
  fs::create_directory(elsewhere);

  fixtures::RunResult r = run(TAPEINFO, "tapeinfo", {"-x", dir.path("none"), tape});
  EXPECT_EQ(with_dir(r.err, dir),
            "tapeinfo: `DIR/none' is not a folder to extract into: No such file or directory\n");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.status, 1);
  r = run(TAPEINFO, "tapeinfo", {"-x", tape, tape});
  EXPECT_EQ(with_dir(r.err, dir),
            "tapeinfo: `DIR/t.tap' is not a folder to extract into: Not a directory\n");
  EXPECT_EQ(r.status, 1);

  std::string one = dir.path("one");
  fs::create_directory(one);
  fs::create_symlink("../elsewhere/code.bin", one + "/code.bin");
  r = run(TAPEINFO, "tapeinfo", {"-x", one, tape});
  EXPECT_EQ(with_dir(r.err, dir), "tapeinfo: `DIR/one/code.bin' exists already; not overwritten\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(fs::is_empty(elsewhere));
  EXPECT_TRUE(fs::is_symlink(one + "/code.bin"));

  std::string many = dir.path("many");
  fs::create_directory(many);
  fs::create_directory_symlink("../elsewhere", many + "/t.tap-2");
  r = run(TAPEINFO, "tapeinfo", {"-x", many, tape, dir.path("b/t.tap"), dir.path("missing.tap")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(fixtures::read_file(many + "/t.tap/code.bin"), std::string(TEN.begin(), TEN.end()));
  EXPECT_NE(
      with_dir(r.err, dir).find("tapeinfo: `DIR/many/t.tap-2' exists already; not overwritten\n"),
      std::string::npos);
  EXPECT_TRUE(fs::is_empty(elsewhere));
  EXPECT_FALSE(fs::exists(many + "/missing.tap"));  // a tape not read gets no folder

  // Blocks without bytes are passed over without a word.
  fixtures::TzxBuilder tzx;
  tzx.text("side A")
      .pure_tone(2168, 10)
      .standard(1000, fixtures::rom_block(0x00, rom_header(3, "code", 10, 32768)))
      .pause(100)
      .standard(1000, fixtures::rom_block(0xFF, TEN))
      .raw(0x19, {14, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  fixtures::write_file(dir.path("t.tzx"), tzx.image());
  std::string plain = dir.path("plain");
  fs::create_directory(plain);
  r = run(TAPEINFO, "tapeinfo", {"-x", plain, dir.path("t.tzx")});
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(fixtures::read_file(plain + "/code.bin"), std::string(TEN.begin(), TEN.end()));
}

// A copy whose write fails (a full disk) leaves nothing in the folder.
TEST(CutTapeExtract, AFailedWriteLeavesNothing) {
  fixtures::TempDir dir;
  std::string tape = dir.path("t.tap");
  fixtures::write_file(
      tape, fixtures::concatenated({fixtures::tap_block(0x00, rom_header(3, "big", 3000, 32768)),
                                    fixtures::tap_block(0xFF, Bytes(3000, 7))}));
  std::string out = dir.path("out");
  std::filesystem::create_directory(out);
  ExtractTarget target{-1, "", false, {}};
  ASSERT_EQ(open_extract_target(out.c_str(), false, &target), 0);
  testing_seams::set_output_calls(
      [](int fd, const void* bytes, size_t count) -> ssize_t {
        if (count > 1000) {
          return ::write(fd, bytes, 1000);  // the first part fits
        }
        errno = ENOSPC;
        return -1;
      },
      nullptr, nullptr);
  int status = -1;
  std::string err = fixtures::capture_stderr([&] {
    (void)fixtures::capture(
        [&](std::FILE* f) { status = list_tape(f, tape.c_str(), false, {}, &target); });
  });
  testing_seams::set_output_calls(nullptr, nullptr, nullptr);
  close(target.dir_fd);
  EXPECT_EQ(status, TAPEINFO_FAILED);
  EXPECT_EQ(err, "test: couldn't write `" + out + "/big.bin': No space left on device\n");
  EXPECT_TRUE(std::filesystem::is_empty(out));
}

}  // namespace
