// Creator records, the host description and whole-file output.
#include <gtest/gtest.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <vector>

#include "creator_seam.h"
#include "fixtures/mdr_builder.h"
#include "fixtures/test_util.h"
#include "host.h"

TEST(CreatorRecord, CarriesProgramVersionAndHost) {
  libspectrum_creator* creator = nullptr;
  ASSERT_EQ(make_creator_record(&creator, "edgedump"), 0);
  ASSERT_NE(creator, nullptr);
  EXPECT_STREQ(libspectrum_creator_program(creator), "edgedump");
  EXPECT_EQ(libspectrum_creator_major(creator), 261);
  EXPECT_EQ(libspectrum_creator_minor(creator), 0);
  struct utsname host {};
  ASSERT_EQ(uname(&host), 0);
  std::string expected = std::string("libspectrum: ") + libspectrum_version() +
                         "\nuname: " + host.sysname + " " + host.machine + " " + host.release +
                         "\n";
  std::string custom(reinterpret_cast<const char*>(libspectrum_creator_custom(creator)),
                     libspectrum_creator_custom_length(creator));
  EXPECT_EQ(custom, expected);
  EXPECT_EQ(libspectrum_creator_free(creator), 0);
}

TEST(CreatorRecord, VersionPacking) {
  struct Case {
    const char* version;
    uint16_t major, minor;
  } cases[] = {
      {"1.5.0", 261, 0},
      {"1.2.3.4", 0x0102, 0x0304},
      {"300.1.999.2", 0xFF01, 0xFF02},
      {"7", 0x0700, 0},
      {"", 0, 0},
  };
  for (const Case& c : cases) {
    uint16_t major = 1, minor = 1;
    pack_creator_version(c.version, &major, &minor);
    EXPECT_EQ(major, c.major) << c.version;
    EXPECT_EQ(minor, c.minor) << c.version;
  }
}

TEST(HostDescription, CutToTheBuffer) {
  char full[256];
  ASSERT_EQ(describe_host_system(full, sizeof full), 0);
  char small[6];
  std::memset(small, 'x', sizeof small);
  ASSERT_EQ(describe_host_system(small, sizeof small), 0);
  EXPECT_EQ(std::string(small), std::string(full).substr(0, 5));
}

TEST(ReplaceOutputFile, WritesReplacesAndReports) {
  fixtures::TempDir dir;
  std::string path = dir.path("out.bin");
  const unsigned char bytes[] = {1, 2, 3, 4};
  ASSERT_EQ(replace_output_file(path.c_str(), bytes, 4), 0);
  EXPECT_EQ(fixtures::read_file(path), std::string("\x01\x02\x03\x04", 4));
  ASSERT_EQ(replace_output_file(path.c_str(), bytes, 2), 0);  // replaces
  EXPECT_EQ(fixtures::read_file(path), std::string("\x01\x02", 2));
  ASSERT_EQ(replace_output_file(path.c_str(), bytes, 0), 0);  // empties
  EXPECT_EQ(fixtures::read_file(path), "");

  std::string missing = dir.path("no/such/file");
  int result = 0;
  std::string err =
      fixtures::capture_stderr([&] { result = replace_output_file(missing.c_str(), bytes, 4); });
  EXPECT_EQ(result, 1);
  EXPECT_EQ(err, "test: couldn't open `" + missing + "': No such file or directory\n");

  // A device is written in place; a full one fails the write, small or large.
  for (size_t size : {size_t{4}, size_t{1} << 20}) {
    std::vector<unsigned char> full(size, 7);
    err = fixtures::capture_stderr(
        [&] { result = replace_output_file("/dev/full", full.data(), full.size()); });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(err, "test: couldn't write `/dev/full': No space left on device\n");
  }
}

TEST(HostDescription, UnameFailureIsReportedWithoutALineEnd) {
  testing_seams::set_uname([](struct utsname*) {
    errno = EFAULT;
    return -1;
  });
  char buffer[16] = "untouched";
  libspectrum_creator* creator = nullptr;
  int described = 0;
  int made = 0;
  std::string err = fixtures::capture_stderr([&] {
    described = describe_host_system(buffer, sizeof buffer);
    made = make_creator_record(&creator, "edgedump");
  });
  testing_seams::set_uname(nullptr);
  EXPECT_EQ(described, 1);
  EXPECT_STREQ(buffer, "untouched");
  EXPECT_EQ(made, 1);
  EXPECT_EQ(creator, nullptr);
  EXPECT_EQ(err,
            "test: error getting system information: Bad address"
            "test: error getting system information: Bad address");
}

// Several files replaced at once are all removed by a signal that ends the
// run; one more than the service keeps track of is refused, nothing made.
TEST(ReplacedFiles, ASignalRemovesEveryNewFileAndOneTooManyIsRefused) {
  fixtures::TempDir dir;
  std::fflush(nullptr);
  pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    ReplacedFile files[ReplacedFile::MAX_REPLACED_FILES];
    for (int i = 0; i < ReplacedFile::MAX_REPLACED_FILES; ++i) {
      std::string path = dir.path("f" + std::to_string(i));
      if (files[i].open(path.c_str()) != 0 || std::fputs("partial", files[i].stream()) < 0 ||
          std::fflush(files[i].stream()) != 0) {
        _exit(1);
      }
    }
    ReplacedFile one_more;
    if (one_more.open(dir.path("more").c_str()) != EMFILE) {
      _exit(2);
    }
    raise(SIGTERM);
    _exit(3);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  EXPECT_TRUE(std::filesystem::is_empty(dir.dir()));
}
