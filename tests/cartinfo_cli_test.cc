// cartinfo as its users run it: options, operands, messages, exit status.
#include <gtest/gtest.h>

#include <filesystem>

#include <libspectrum.h>

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
          {{"--vers", "-x"}, VERSION, "", 0},
          {{"-x", "-h"}, HELP, "cartinfo: invalid option -- 'x'\n", 0},
          {{"-h", "-x"}, HELP, "", 0},
          {{"-x", "-V"}, VERSION, "cartinfo: invalid option -- 'x'\n", 0},
          {{}, "", USAGE + TRY, 1},
          {{"-b"}, "", USAGE + TRY, 1},
          {{"-x"}, "", "cartinfo: invalid option -- 'x'\n" + TRY, 1},
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
  EXPECT_EQ(r.err,
            "libspectrum error: libspectrum_microdrive_mdr_read: not enough data in buffer\n");
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
       "libspectrum error: libspectrum_microdrive_mdr_read: not enough data in buffer\n"
       "cartinfo: write error: No space left on device\n",
       LIBSPECTRUM_ERROR_CORRUPT | 1},
      // Nothing written, nothing lost.
      {{}, fixtures::Stdout::Closed, USAGE + TRY, 1},
      {{dir.path("short.mdr")},
       fixtures::Stdout::Closed,
       "libspectrum error: libspectrum_microdrive_mdr_read: not enough data in buffer\n",
       LIBSPECTRUM_ERROR_CORRUPT},
  };
  for (const Case& c : cases) {
    auto r = run(CARTINFO, "cartinfo", c.args, c.mode);
    EXPECT_EQ(r.err, c.err) << c.args.size();
    EXPECT_EQ(r.status, c.status) << c.err;
  }
}
