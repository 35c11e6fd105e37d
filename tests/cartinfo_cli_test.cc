// cartinfo as its users run it: options, operands, messages, exit status.
#include <gtest/gtest.h>

#include <filesystem>

#include <libspectrum.h>

#include "cartinfo.h"
#include "content.h"
#include "fixtures/cli_cases.h"
#include "fixtures/mdr_builder.h"
#include "fixtures/test_util.h"

using fixtures::Bytes;
using fixtures::run;

namespace {

const std::string CARTINFO = CARTINFO_PATH;

const std::string HELP =
    "Usage: cartinfo [OPTION] <microdrive file>...\n"
    "Outputs a description of the contents of MDR microdrive files.\n\n"
    "Options:\n"
    "  -b, --blocks   List individual cartridge blocks instead of files.\n"
    "  -l, --list     List each program's lines and variables after its paragraph.\n"
    "  -d, --dump     Dump the bytes of each file in hex after its paragraph.\n"
    "  -x, --extract=DIR  Also copy every file into the folder DIR, which must exist\n"
    "                 (with several images, into a folder for each inside it).\n"
    "  -h, --help     Display this help and exit.\n"
    "  -V, --version  Output version information and exit.\n\n"
    "Report cartinfo bugs to <quillkit-bugs@lists.example.org>\n"
    "quillkit home page: <https://quillkit.example.org/>\n"
    "For complete documentation, see the manual page of cartinfo.\n";

const std::string VERSION =
    "cartinfo (quillkit) 1.5.0\n"
    "Copyright (C) 2026 The quillkit developers.\n"
    "License GPLv2+: GNU GPL version 2 or later "
    "<https://www.gnu.org/licenses/old-licenses/gpl-2.0.html>.\n"
    "This is free software: you are free to change and redistribute it.\n"
    "There is NO WARRANTY, to the extent permitted by law.\n";

const std::string TRY = "Try `cartinfo --help' for more information.\n";
const std::string USAGE = "cartinfo: usage: cartinfo [OPTION] <microdrive files>...\n";

class CartinfoCli : public ::testing::Test {
 protected:
  void SetUp() override {
    fixtures::MdrBuilder small("SMALL");
    small.add_file("run", [] {
      Bytes b = fixtures::file_header(0, 20, 23813, 20, 1);
      b.resize(29, 0);
      return b;
    }());
    small.add_free_blocks(9);
    small.set_write_protect(1);
    small.write(dir.path("small.mdr"));
    fixtures::sample_cartridge().write(dir.path("sample.mdr"));
    fixtures::write_file(dir.path("short.mdr"), Bytes(543 * 9, 0));
  }
  fixtures::TempDir dir;
};

const std::string SMALL_SUMMARY =
    "\n\nListing of `%s':\n\n"
    "Cartridge name: \"SMALL\"\n"
    "Cartridge blocks: 10\n"
    "Free space: 4608 bytes in 9 blocks\n"
    "Write protected: yes\n";

const std::string SMALL_FILES =
    "Files: 1\n\n"
    "  Program: \"run\" LINE 1\n  Length: 20, includes variable length: 0 in 1 block\n"
    "  Status: complete\n\n";

std::string small_listing(const std::string& path) {
  std::string text = SMALL_SUMMARY;
  text.replace(text.find("%s"), 2, path);
  return text + SMALL_FILES;
}

}  // namespace

TEST_F(CartinfoCli, HelpVersionAndOptionErrors) {
  fixtures::expect_cli_cases(
      CARTINFO, "cartinfo",
      {
          {{"-h"}, HELP, "", 0},
          {{"--help", "missing.mdr"}, HELP, "", 0},
          {{"--he"}, HELP, "", 0},
          {{"-V"}, VERSION, "", 0},
          {{"--vers", "-q"}, VERSION, "", 0},
          {{"-q", "-h"}, HELP, "cartinfo: invalid option -- 'q'\n", 0},
          {{"-h", "-q"}, HELP, "", 0},
          {{"-q", "-V"}, VERSION, "cartinfo: invalid option -- 'q'\n", 0},
          {{}, "", USAGE + TRY, 1},
          {{"-b"}, "", USAGE + TRY, 1},
          {{"-q"}, "", "cartinfo: invalid option -- 'q'\n" + TRY, 1},
          {{"--blocks=yes", "x.mdr"},
           "",
           "cartinfo: option '--blocks' doesn't allow an argument\n" + TRY,
           1},
          {{"--nope", "x.mdr"}, "", "cartinfo: unrecognized option '--nope'\n" + TRY, 1},
          {{"-"},
           "",
           "libspectrum error: couldn't open `-': No such file or directory\n"
           "cartinfo: couldn't read `-' (libspectrum error 3)\n",
           1},
      });
}

TEST_F(CartinfoCli, BadOptionStopsValidOperands) {
  auto r = run(CARTINFO, "cartinfo", {dir.path("small.mdr"), "-q"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "cartinfo: invalid option -- 'q'\n" + TRY);
  EXPECT_EQ(r.status, 1);
}

TEST_F(CartinfoCli, ListsFilesOfSeveralOperands) {
  std::string small = dir.path("small.mdr");
  auto r = run(CARTINFO, "cartinfo", {small, small});
  EXPECT_EQ(r.out, small_listing(small) + small_listing(small));
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
}

TEST_F(CartinfoCli, UnreadableOperandAmongReadableOnes) {
  std::string small = dir.path("small.mdr");
  std::string missing = dir.path("missing.mdr");
  auto r = run(CARTINFO, "./bin/cartinfo", {small, missing, small});
  EXPECT_EQ(r.out, small_listing(small) + small_listing(small));
  EXPECT_EQ(r.err, "libspectrum error: couldn't open `" + missing +
                       "': No such file or directory\n./bin/cartinfo: couldn't read `" + missing +
                       "' (libspectrum error 3)\n");
  EXPECT_EQ(r.status, 1);
}

TEST_F(CartinfoCli, RejectedImageGivesNoHeadingAndItsErrorCode) {
  std::string small = dir.path("small.mdr");
  auto r = run(CARTINFO, "cartinfo", {dir.path("short.mdr"), small});
  EXPECT_EQ(r.out, small_listing(small));
  // The library's message names the operand it is about.
  EXPECT_EQ(r.err, "libspectrum error: `" + dir.path("short.mdr") +
                       "': libspectrum_microdrive_mdr_read: not enough data in buffer\n");
  EXPECT_EQ(r.status, LIBSPECTRUM_ERROR_CORRUPT);
  // A rejected image and an unreadable one: the codes are ORed.
  r = run(CARTINFO, "cartinfo", {dir.path("short.mdr"), dir.path("missing.mdr")});
  EXPECT_EQ(r.status, LIBSPECTRUM_ERROR_CORRUPT | 1);
  // An empty file and a directory.
  fixtures::write_file(dir.path("empty.mdr"), {});
  r = run(CARTINFO, "cartinfo", {dir.path("empty.mdr")});
  EXPECT_EQ(r.status, LIBSPECTRUM_ERROR_CORRUPT);
  // bzip2 data cut short is never expanded (libspectrum would wait for more).
  fixtures::write_file(dir.path("cut.mdr.bz2"), {'B', 'Z', 'h', '9', '1', 'A', 'Y'});
  r = run(CARTINFO, "cartinfo", {dir.path("cut.mdr.bz2")});
  EXPECT_EQ(r.status, LIBSPECTRUM_ERROR_CORRUPT);
  r = run(CARTINFO, "cartinfo", {dir.dir()});
  EXPECT_EQ(r.err, "libspectrum error: couldn't read `" + dir.dir() +
                       "': Is a directory\ncartinfo: couldn't read `" + dir.dir() +
                       "' (libspectrum error 3)\n");
  EXPECT_EQ(r.status, 1);
}

TEST_F(CartinfoCli, BlockModeOptionsMixAndDashDash) {
  std::string small = dir.path("small.mdr");
  auto by_short = run(CARTINFO, "cartinfo", {small, "-b"});
  auto by_prefix = run(CARTINFO, "cartinfo", {"--bl", small});
  auto by_twice = run(CARTINFO, "cartinfo", {"-bb", "--", small});
  EXPECT_EQ(by_short.status, 0);
  EXPECT_EQ(by_short.out, by_prefix.out);
  EXPECT_EQ(by_short.out, by_twice.out);
  std::string summary = SMALL_SUMMARY;
  summary.replace(summary.find("%s"), 2, small);
  ASSERT_EQ(by_short.out.compare(0, summary.size() + 18, summary + "\n--= Block #0 =--\n"), 0)
      << by_short.out;
  EXPECT_NE(by_short.out.find("--= Block #9 =--\n"), std::string::npos);
  EXPECT_EQ(by_short.out.find("--= Block #10 =--\n"), std::string::npos);
  // After "--" an operand that looks like an option is a file name.
  auto r = run(CARTINFO, "cartinfo", {"--", "-b"});
  EXPECT_EQ(r.err,
            "libspectrum error: couldn't open `-b': No such file or directory\n"
            "cartinfo: couldn't read `-b' (libspectrum error 3)\n");
  EXPECT_EQ(r.status, 1);
}

TEST_F(CartinfoCli, SampleCartridgeListing) {
  std::string sample = dir.path("sample.mdr");
  auto r = run(CARTINFO, "cartinfo", {sample});
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "\n\nListing of `" + sample +
                       "':\n\n"
                       "Cartridge name: \"SAMPLES\"\n"
                       "Cartridge blocks: 34\n"
                       "Free space: 6144 bytes in 12 blocks\n"
                       "Write protected: no\n"
                       "Files: 6\n\n"
                       "  Program: \"loader\" LINE 10\n"
                       "  Length: 300, includes variable length: 40 in 1 block\n"
                       "  Status: complete\n\n"
                       "  Bytes: \"game code\" CODE 32768, 1500 in 3 blocks\n"
                       "  Status: complete\n\n"
                       "  Bytes: \"title\" SCREEN$ 16384, 6912 in 14 blocks\n"
                       "  Status: complete\n\n"
                       "  Character Array: \"names\" DATA A$()\n"
                       "  Length: 53 in 1 block\n"
                       "  Status: complete\n\n"
                       "  Number Array: \"scores\" DATA S()\n"
                       "  Length: 26 in 1 block\n"
                       "  Status: complete\n\n"
                       "  PRINT file: \"notes\"\n"
                       "  Length: 17 bytes in 1 block\n"
                       "  Status: complete\n\n");
}

// Real cartridges from other projects, when the corpus is beside the tree.
TEST(CartinfoCorpus, RealCartridgesListCleanly) {
  const std::string corpus = CORPUS_DIR "/mdr";
  if (!std::filesystem::is_directory(corpus)) {
    GTEST_SKIP() << "no corpus at " << corpus;
  }
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    for (const char* mode : {"", "-b"}) {
      std::vector<std::string> args = {entry.path().string()};
      if (*mode != '\0') {
        args.insert(args.begin(), mode);
      }
      auto r = run(CARTINFO, "cartinfo", args);
      EXPECT_EQ(r.status, 0) << entry.path();
      EXPECT_EQ(r.err, "") << entry.path();
      for (char c : r.out) {
        ASSERT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << entry.path();
      }
    }
  }
  auto r = run(CARTINFO, "cartinfo", {corpus + "/gdstest_181.mdr"});
  EXPECT_NE(r.out.find("  Program: \"bastest\" LINE 1234\n"), std::string::npos);
  EXPECT_NE(r.out.find("  Character Array: \"ctest\" DATA A$()\n"), std::string::npos);
  EXPECT_NE(r.out.find("  Number Array: \"ntest\" DATA B()\n"), std::string::npos);
}

TEST_F(CartinfoCli, LostOutputIsAFailure) {
  std::string small = dir.path("small.mdr");
  struct Case {
    std::vector<std::string> args;
    fixtures::Stdout mode;
    std::string err;
    int status;
  } cases[] = {
      {{small}, fixtures::Stdout::DevFull, "cartinfo: write error: No space left on device\n", 1},
      {{small}, fixtures::Stdout::Closed, "cartinfo: write error: Bad file descriptor\n", 1},
      {{"-h"}, fixtures::Stdout::DevFull, "cartinfo: write error: No space left on device\n", 1},
      {{"-V"}, fixtures::Stdout::Closed, "cartinfo: write error: Bad file descriptor\n", 1},
      {{dir.path("short.mdr"), small},
       fixtures::Stdout::DevFull,
       "libspectrum error: `" + dir.path("short.mdr") +
           "': libspectrum_microdrive_mdr_read: not enough data in buffer\n"
           "cartinfo: write error: No space left on device\n",
       LIBSPECTRUM_ERROR_CORRUPT | 1},
      // Nothing written, nothing lost.
      {{}, fixtures::Stdout::Closed, USAGE + TRY, 1},
      {{dir.path("short.mdr")},
       fixtures::Stdout::Closed,
       "libspectrum error: `" + dir.path("short.mdr") +
           "': libspectrum_microdrive_mdr_read: not enough data in buffer\n",
       LIBSPECTRUM_ERROR_CORRUPT},
  };
  for (const Case& c : cases) {
    auto r = run(CARTINFO, "cartinfo", c.args, c.mode);
    EXPECT_EQ(r.err, c.err) << c.args.size();
    EXPECT_EQ(r.status, c.status) << c.err;
  }
}

// -x copies the files out as they are listed; the listing stays the same.
TEST_F(CartinfoCli, ExtractCopiesEveryFileAndNeverOverwrites) {
  std::string sample = dir.path("sample.mdr");
  std::string out = dir.path("out");
  std::filesystem::create_directory(out);
  auto plain = run(CARTINFO, "cartinfo", {sample});
  auto r = run(CARTINFO, "cartinfo", {"-x", out, sample});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, plain.out);
  struct Expected {
    const char* name;
    size_t size;
  } files[] = {
      {"loader.bas", 300}, {"game code.bin", 1500}, {"title.scr", 6912}, {"names.car", 53},
      {"scores.nar", 26},  {"notes.prn", 17},       {"title.png", 0}};  // the screen's picture
                                                                        // beside it
  size_t found = 0;
  for (const auto& entry : std::filesystem::directory_iterator(out)) {
    (void)entry;
    ++found;
  }
  EXPECT_EQ(found, std::size(files));
  for (const Expected& f : files) {
    if (f.size != 0) {
      EXPECT_EQ(fixtures::read_file(out + "/" + f.name).size(), f.size) << f.name;
    }
  }
  EXPECT_EQ(fixtures::read_file(out + "/notes.prn"), "Hello Microdrive\r");
  std::string screen = fixtures::read_file(out + "/title.scr");
  std::vector<unsigned char> png;
  std::string error;
  ASSERT_EQ(screen_picture(reinterpret_cast<const unsigned char*>(screen.data()), &png, &error), 0);
  EXPECT_EQ(fixtures::read_file(out + "/title.png"), std::string(png.begin(), png.end()));

  // Again: every file is there already, and none is replaced.
  fixtures::write_file(out + "/loader.bas", {'o', 'l', 'd'});
  r = run(CARTINFO, "cartinfo", {"--extract=" + out, sample});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, plain.out);
  EXPECT_EQ(r.err.find("cartinfo: `" + out + "/loader.bas' exists already; not overwritten\n"), 0u);
  EXPECT_EQ(fixtures::read_file(out + "/loader.bas"), "old");

  // Several images: a folder for each, named after it, inside the folder.
  std::string many = dir.path("many");
  std::filesystem::create_directory(many);
  std::filesystem::create_directory(dir.path("b"));
  fixtures::sample_cartridge().write(dir.path("b/sample.mdr"));
  r = run(CARTINFO, "cartinfo",
          {"-x", many, sample, dir.path("small.mdr"), dir.path("b/sample.mdr")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(fixtures::read_file(many + "/small.mdr/run.bas").size(), 20u);
  EXPECT_EQ(fixtures::read_file(many + "/sample.mdr/title.scr").size(), 6912u);
  EXPECT_EQ(fixtures::read_file(many + "/sample.mdr-2/title.scr").size(), 6912u);

  // The folder must exist, and be one.
  r = run(CARTINFO, "cartinfo", {"-x", dir.path("none"), sample});
  EXPECT_EQ(r.err, "cartinfo: `" + dir.path("none") +
                       "' is not a folder to extract into: No such file or directory\n");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.status, 1);
  r = run(CARTINFO, "cartinfo", {"-x", sample, sample});
  EXPECT_EQ(r.err, "cartinfo: `" + sample + "' is not a folder to extract into: Not a directory\n");
  EXPECT_EQ(r.status, 1);
}

// Whatever DIR holds, -x writes only inside it: each image's folder is made
// by the run, and nothing already there, a link least of all, is followed.
TEST_F(CartinfoCli, ExtractNeverLeavesTheFolder) {
  namespace fs = std::filesystem;
  std::string sample = dir.path("sample.mdr");
  std::string small = dir.path("small.mdr");
  std::string elsewhere = dir.path("elsewhere");
  fs::create_directory(elsewhere);
  auto listing = run(CARTINFO, "cartinfo", {sample, small}).out;
  auto is_empty = [](const std::string& path) { return fs::is_empty(path); };

  // A link, live or dangling, or a folder, where an image's folder would go.
  std::string d = dir.path("d");
  fs::create_directory(d);
  fs::create_directory_symlink("../elsewhere", d + "/sample.mdr");
  fs::create_directory_symlink("../nowhere", d + "/small.mdr");
  auto r = run(CARTINFO, "cartinfo", {"-x", d, sample, small});
  EXPECT_EQ(r.out, listing);
  EXPECT_EQ(r.err, "cartinfo: `" + d + "/sample.mdr' exists already; not overwritten\n" +
                       "cartinfo: `" + d + "/small.mdr' exists already; not overwritten\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(is_empty(elsewhere));
  EXPECT_FALSE(fs::exists(dir.path("nowhere")));

  fs::remove(d + "/small.mdr");
  fs::create_directory(d + "/small.mdr");
  fixtures::write_file(d + "/small.mdr/keep", {'k'});
  r = run(CARTINFO, "cartinfo", {"-x", d, small, sample});
  EXPECT_EQ(r.err.find("cartinfo: `" + d + "/small.mdr' exists already; not overwritten\n"), 0u);
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(fs::exists(d + "/small.mdr/run.bas"));  // not merged into
  EXPECT_TRUE(is_empty(elsewhere));

  // One image: its files go straight into DIR, never through a link there.
  std::string one = dir.path("one");
  fs::create_directory(one);
  fs::create_symlink("../elsewhere/loader.bas", one + "/loader.bas");
  r = run(CARTINFO, "cartinfo", {"-x", one, sample});
  EXPECT_EQ(r.err, "cartinfo: `" + one + "/loader.bas' exists already; not overwritten\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(is_empty(elsewhere));
  EXPECT_EQ(fixtures::read_file(one + "/title.scr").size(), 6912u);

  // An image that cannot be read, or is rejected, gets no folder.
  std::string some = dir.path("some");
  fs::create_directory(some);
  r = run(CARTINFO, "cartinfo",
          {"-x", some, dir.path("missing.mdr"), dir.path("short.mdr"), small});
  EXPECT_EQ(r.status, 1 | LIBSPECTRUM_ERROR_CORRUPT);
  std::vector<std::string> made;
  for (const auto& entry : fs::directory_iterator(some)) {
    made.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(made, std::vector<std::string>{"small.mdr"});
}

// -x names every damaged file it copies and copies each record from a copy
// whose checksums pass; the listing says what it always said.
TEST_F(CartinfoCli, ExtractNamesDamagedFiles) {
  auto block = [](const char* name, uint8_t number, uint16_t length, uint8_t flags,
                  const Bytes& data) {
    fixtures::MdrBlock b;
    b.record_name = name;
    b.record_number = number;
    b.record_length = length;
    b.record_flags = flags;
    b.data = data;
    b.data.resize(length, 0);
    return b;
  };
  Bytes first = fixtures::file_header(3, 1527, 32768, 0, 0);
  first.resize(512, 0x5A);
  fixtures::MdrBuilder builder("DAMAGED");
  Bytes whole = fixtures::file_header(3, 4, 32768, 0, 0);
  whole.insert(whole.end(), {1, 2, 3, 4});
  builder.add_file("whole", whole);
  // Three records, record 1 not there.
  builder.add_block(block("gap", 0, 512, 0x04, first));
  builder.add_block(block("gap", 2, 512, 0x06, Bytes(512, 0x33)));
  // Record 1 good, then again with a spoilt data checksum.
  Bytes twice_header = fixtures::file_header(3, 1015, 32768, 0, 0);
  twice_header.resize(512, 0x5A);
  builder.add_block(block("twice", 0, 512, 0x04, twice_header));
  builder.add_block(block("twice", 1, 512, 0x06, Bytes(512, 0x11)));
  size_t bad = builder.add_block(block("twice", 1, 512, 0x06, Bytes(512, 0x22)));
  builder.block(bad).spoil_data_checksum = true;
  // No end-of-file record: a PRINT file of one full record.
  builder.add_block(block("notes", 0, 512, 0x00, Bytes(512, 'a')));
  builder.add_free_blocks(6);
  std::string mdr = dir.path("damaged.mdr");
  builder.write(mdr);

  std::string out = dir.path("out");
  std::filesystem::create_directory(out);
  auto plain = run(CARTINFO, "cartinfo", {mdr});
  auto r = run(CARTINFO, "cartinfo", {"-x", out, mdr});
  EXPECT_EQ(r.out, plain.out);
  EXPECT_NE(plain.out.find("  Bytes: \"gap\" CODE 32768, 1527 in 2 blocks\n"
                           "  Status: complete\n\n"
                           "  Bytes: \"twice\" CODE 32768, 1015 in 3 blocks\n"
                           "  Status: complete, checksum error\n\n"
                           "  PRINT file: \"notes\"\n"
                           "  Length: 512 bytes in 1 block\n"
                           "  Status: missing EOF\n\n"),
            std::string::npos)
      << plain.out;
  EXPECT_EQ(r.err, "cartinfo: warning: \"gap\" is damaged (record 1 missing); copied to `" + out +
                       "/gap.bin'\n"
                       "cartinfo: warning: \"twice\" is damaged (more than one copy of record 1); "
                       "copied to `" +
                       out +
                       "/twice.bin'\n"
                       "cartinfo: warning: \"notes\" is damaged (no end-of-file record); "
                       "copied to `" +
                       out + "/notes.prn'\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(fixtures::read_file(out + "/whole.bin"), std::string("\1\2\3\4"));
  std::string twice = fixtures::read_file(out + "/twice.bin");
  EXPECT_EQ(twice, std::string(503, 0x5A) + std::string(512, 0x11));
  EXPECT_EQ(fixtures::read_file(out + "/gap.bin"),
            std::string(503, 0x5A) + std::string(512, '\0') + std::string(512, 0x33));

  // A damaged file copied and others not written: both counted, in block
  // mode too.
  std::filesystem::remove(out + "/twice.bin");
  r = run(CARTINFO, "cartinfo", {"-b", "-x", out, mdr});
  EXPECT_EQ(fixtures::read_file(out + "/twice.bin"), twice);
  EXPECT_EQ(r.status, 3);
}

// Names from a cartridge can hold anything: what they become on disk.
TEST(SafeFileName, HostileNamesBecomeHarmless) {
  struct Case {
    const char* text;
    const char* extension;
    const char* name;
  } cases[] = {
      {"../../etc/passwd", ".bin", "_.._.._etc_passwd.bin"},
      {"..", "", "_.."},
      {".", ".bas", "_..bas"},
      {"", ".bas", "unnamed.bas"},
      {"-rf", ".bin", "_-rf.bin"},
      {"a?b\\c:d*e\"f<g>h|i", ".prn", "a_b_c_d_e_f_g_h_i.prn"},
      {"tab\there", ".bin", "tab_here.bin"},
      {"RANDOMIZE USR", ".bas", "RANDOMIZE USR.bas"},
      {"\\::\\a", ".bin", "____a.bin"},
      {"caf\xc3\xa9 \xc2\xa3", ".bin", "caf\xc3\xa9 \xc2\xa3.bin"},
  };
  for (const Case& c : cases) {
    TakenNames taken;
    EXPECT_EQ(safe_file_name(c.text, c.extension, &taken), c.name) << c.text;
  }
  // The same name twice, in any case, gets a number.
  TakenNames taken;
  EXPECT_EQ(safe_file_name("game", ".bas", &taken), "game.bas");
  EXPECT_EQ(safe_file_name("GAME", ".bas", &taken), "GAME-2.bas");
  EXPECT_EQ(safe_file_name("game", ".bas", &taken), "game-3.bas");
  EXPECT_EQ(safe_file_name("game", ".bin", &taken), "game.bin");
  // A number already given out as a name is passed over.
  EXPECT_EQ(safe_file_name("Game-4", ".bas", &taken), "Game-4.bas");
  EXPECT_EQ(safe_file_name("game", ".bas", &taken), "game-5.bas");
  EXPECT_EQ(safe_file_name("game-6", ".bas", &taken), "game-6.bas");
  EXPECT_EQ(safe_file_name("game-6", ".bas", &taken), "game-6-2.bas");
  EXPECT_EQ(safe_file_name("game", ".bas", &taken), "game-7.bas");
  // A tape of tens of thousands of blocks of one name: each its own number.
  TakenNames many;
  std::string last;
  for (int i = 0; i < 30000; ++i) {
    last = safe_file_name("block", ".bin", &many);
  }
  EXPECT_EQ(last, "block-30000.bin");
  EXPECT_EQ(many.folded.size(), 30000u);
}
