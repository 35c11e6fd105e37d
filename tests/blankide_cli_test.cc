// blankide as its users run it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "fixtures/cli_cases.h"
#include "fixtures/mdr_builder.h"
#include "fixtures/test_util.h"

using fixtures::run;

namespace {

const std::string BLANKIDE = BLANKIDE_PATH;
const std::string TRY = "Try `blankide --help' for more information.\n";
const std::string USAGE =
    "blankide: usage: blankide [-c] [-s] [-v<version>] <cylinders> <heads> <sectors> <hdf>\n";

const std::string HELP =
    "Usage: blankide [OPTION]... <cylinders> <heads> <sectors> <file>\n"
    "Creates a blank image of an IDE hard disk in .hdf format.\n"
    "\n"
    "Options:\n"
    "  -c             Create .hdf image in compact mode, where only the low byte\n"
    "                   of every word is stored in the image.\n"
    "  -s             Do not create .hdf image as a sparse file, i.e., empty\n"
    "                   space synthesised by the operating system.\n"
    "  -v <version>   Specifies the version of .hdf image to be created (values\n"
    "                   1.0 or 1.1). Defaults to creating version 1.1 files.\n"
    "  -h, --help     Display this help and exit.\n"
    "  -V, --version  Output version information and exit.\n"
    "\n"
    "Non-option arguments:\n"
    "  cylinders      Specifies the number of cylinders in the image.\n"
    "  heads          Specifies the number of heads in the image.\n"
    "  sectors        Specifies the number of sectors in the image.\n"
    "  file           Specifies the file to which the image should be written.\n"
    "\n"
    "Report blankide bugs to <quillkit-bugs@lists.example.org>\n"
    "quillkit home page: <https://quillkit.example.org/>\n"
    "For complete documentation, see the manual page of blankide.\n";

const std::string VERSION_FIRST_LINE = "blankide (quillkit) 1.5.0\n";

struct Image {
  bool exists;
  std::string bytes;
};

Image image_at(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    return {false, ""};
  }
  return {true, fixtures::read_file(path)};
}

}  // namespace

TEST(BlankideCli, OptionsAndOperandCounts) {
  fixtures::TempDir dir;
  std::string out = dir.path("d.hdf");
  struct Case {
    std::vector<std::string> args;
    std::string stdout_text;
    std::string err;
    int status;
  } cases[] = {
      {{"-h"}, HELP, "", 0},
      {{"--he", "1", "2", "3", out}, HELP, "", 0},
      {{}, "", USAGE + TRY, 1},
      {{"1", "2", "3"}, "", USAGE + TRY, 1},
      {{"1", "2", "3", out, "5"}, "", USAGE + TRY, 1},
      {{"-v", "2.0", "1", "2", "3", out}, "", "blankide: version not supported\n" + TRY, 1},
      {{"-v", "2.0", "-h"}, HELP, "blankide: version not supported\n", 0},
      {{"-v", "2.0"}, "", "blankide: version not supported\n" + TRY, 1},
      {{"-q", "1", "2", "3", out}, "", "blankide: invalid option -- 'q'\n" + TRY, 1},
      {{"1", "2", "3", out, "-v"}, "", "blankide: option requires an argument -- 'v'\n" + TRY, 1},
      {{"--verbose"}, "", "blankide: unrecognized option '--verbose'\n" + TRY, 1},
  };
  for (const Case& c : cases) {
    auto r = run(BLANKIDE, "blankide", c.args);
    std::string args = fixtures::joined(c.args);
    EXPECT_EQ(r.out, c.stdout_text) << args;
    EXPECT_EQ(r.err, c.err) << args;
    EXPECT_EQ(r.status, c.status) << args;
    EXPECT_FALSE(image_at(out).exists) << args;
  }
  auto r = run(BLANKIDE, "blankide", {"-x", "--version"});
  EXPECT_EQ(r.out.substr(0, VERSION_FIRST_LINE.size()), VERSION_FIRST_LINE);
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 5);
  EXPECT_EQ(r.status, 0);
}

TEST(BlankideCli, VersionsModesAndConversions) {
  fixtures::TempDir dir;
  std::string out = dir.path("d.hdf");
  struct Case {
    std::vector<std::string> args;
    size_t size;
    uint8_t version_byte;
    uint8_t flags;
  } cases[] = {
      {{"1", "1", "1", out}, 534 + 512, 0x11, 0},
      {{"-v", "1.1", "-v", "1.0", "1", "1", "1", out}, 128 + 512, 0x10, 0},
      {{"-c", "-s", "-c", "-v1.0", "2", "2", "2", out}, 128 + 8 * 256, 0x10, 1},
      {{"-s", "-v", "1.1", "3", "1", "2", out}, 534 + 6 * 512, 0x11, 0},
      {{"words", "16", "63", out}, 534, 0x11, 0},
      {{" 7x", "1", "1", out}, 534 + 7 * 512, 0x11, 0},
      {{"\t+0000000000003", "1", "1", out}, 534 + 3 * 512, 0x11, 0},
      {{"2147483647", "1", "0", out}, 534, 0x11, 0},
  };
  for (const Case& c : cases) {
    auto r = run(BLANKIDE, "blankide", c.args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "");
    Image image = image_at(out);
    ASSERT_EQ(image.bytes.size(), c.size);
    EXPECT_EQ(image.bytes.substr(0, 7), "RS-IDE\x1A");
    EXPECT_EQ(static_cast<uint8_t>(image.bytes[7]), c.version_byte);
    EXPECT_EQ(static_cast<uint8_t>(image.bytes[8]), c.flags);
  }
  // Upper-case version text is accepted.
  auto r = run(BLANKIDE, "blankide", {"-v", "1.0", "--", "1", "1", "1", out});
  EXPECT_EQ(r.status, 0);
}

TEST(BlankideCli, FailuresOnDisk) {
  fixtures::TempDir dir;
  std::string missing = dir.path("no/such/dir.hdf");
  auto r = run(BLANKIDE, "blankide", {"1", "1", "1", missing});
  EXPECT_EQ(r.err, "blankide: error opening '" + missing + "': No such file or directory\n");
  EXPECT_EQ(r.status, 1);
  r = run(BLANKIDE, "blankide", {"1", "1", "1", dir.path("e\x1b[7m/x.hdf")});
  EXPECT_EQ(r.err, "blankide: error opening '" + dir.path("e?[7m/x.hdf") +
                       "': No such file or directory\n");
  r = run(BLANKIDE, "blankide", {"1", "1", "1", "/dev/full"});
  EXPECT_EQ(r.err, "blankide: could write only 0 header bytes out of 534 to '/dev/full'\n");
  EXPECT_EQ(r.status, 1);
  r = run(BLANKIDE, "blankide", {"-s", "-v", "1.0", "1", "1", "1", "/dev/full"});
  EXPECT_EQ(r.err, "blankide: could write only 0 header bytes out of 128 to '/dev/full'\n");
  EXPECT_EQ(r.status, 1);
  // A negative geometry (after "--", or it would read as an option).
  std::string out = dir.path("neg.hdf");
  r = run(BLANKIDE, "blankide", {"-s", "--", "-1", "16", "63", out});
  EXPECT_EQ(r.err, "blankide: cylinders, heads and sectors must not be negative\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(image_at(out).exists);
}

TEST(BlankideCli, LostHelpOrVersionIsAFailure) {
  auto r = run(BLANKIDE, "blankide", {"-h"}, fixtures::Stdout::DevFull);
  EXPECT_EQ(r.err, "blankide: write error: No space left on device\n");
  EXPECT_EQ(r.status, 1);
  r = run(BLANKIDE, "blankide", {"--version"}, fixtures::Stdout::Closed);
  EXPECT_EQ(r.err, "blankide: write error: Bad file descriptor\n");
  EXPECT_EQ(r.status, 1);
  // Creating an image writes nothing to standard output.
  fixtures::TempDir dir;
  r = run(BLANKIDE, "blankide", {"1", "1", "1", dir.path("x.hdf")}, fixtures::Stdout::Closed);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
}

// A closed standard error must not let the image take its descriptor, or the
// tool's own message would be written into the image.
TEST(BlankideStreams, ClosedStandardErrorStaysOutOfTheImage) {
  fixtures::TempDir dir;
  std::string out = dir.path("e.hdf");
  auto r =
      run(BLANKIDE, "blankide", {"2147483647", "16", "255", out}, fixtures::Stdout::StderrClosed);
  EXPECT_EQ(r.status, 1);
  Image image = image_at(out);
  ASSERT_TRUE(image.exists);
  EXPECT_EQ(image.bytes.size(), 534u);
  EXPECT_EQ(image.bytes.find("blankide:"), std::string::npos);
}

// Operands beyond int are refused before the image is opened or cut, named
// as typed; atoi would have read some of them as other numbers.
TEST(BlankideCli, OperandsBeyondIntAreRefused) {
  fixtures::TempDir dir;
  std::string out = dir.path("x.hdf");
  fixtures::write_file(out, {'o', 'l', 'd'});
  struct Case {
    std::vector<std::string> operands;
    std::string err;
  } cases[] = {
      {{"99999999999", "1", "1"}, "blankide: cylinders `99999999999' is out of range\n"},
      {{"1", "4294967297", "1"}, "blankide: heads `4294967297' is out of range\n"},
      {{"1", "1", "2147483648"}, "blankide: sectors `2147483648' is out of range\n"},
      {{"1", "1", " -2147483649x"}, "blankide: sectors ` -2147483649x' is out of range\n"},
      {{"1", "1", "-99999999999999999999999999"},
       "blankide: sectors `-99999999999999999999999999' is out of range\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"-s", "--"};
    args.insert(args.end(), c.operands.begin(), c.operands.end());
    args.push_back(out);
    auto r = run(BLANKIDE, "blankide", args);
    EXPECT_EQ(r.err, c.err) << fixtures::joined(args);
    EXPECT_EQ(r.status, 1) << fixtures::joined(args);
    EXPECT_EQ(image_at(out).bytes, "old") << fixtures::joined(args);
  }
}
