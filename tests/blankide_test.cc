// blankide's image writer in process, through its system-call seams.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "blankide_testing_seams.h"
#include "fixtures/mdr_builder.h"
#include "fixtures/test_util.h"
#include "image.h"

namespace {

// The writer's messages name the program as the tool does.
const bool named = [] {
  program_name = "blankide";
  return true;
}();

std::vector<size_t> write_sizes;
size_t fail_write_at = SIZE_MAX;  // index of the write that fails
ssize_t failing_result = -1;

ssize_t recording_write(int fd, const void* bytes, size_t count) {
  size_t index = write_sizes.size();
  write_sizes.push_back(count);
  if (index == fail_write_at) {
    return failing_result;
  }
  return ::write(fd, bytes, count);
}

class ImageWriter : public ::testing::Test {
 protected:
  void SetUp() override {
    write_sizes.clear();
    fail_write_at = SIZE_MAX;
    testing_seams::set_write(recording_write);
  }
  void TearDown() override {
    testing_seams::set_write(nullptr);
    testing_seams::set_calloc(nullptr);
    testing_seams::set_close(nullptr);
  }
  int create(int32_t c, int32_t h, int32_t s, bool sparse, bool compact = false,
             HdfVersion v = HdfVersion::V1_1) {
    ImageRequest request{v, compact, sparse, c, h, s, path.c_str()};
    return create_image(request);
  }
  fixtures::TempDir dir;
  std::string path = dir.path("disk.hdf");
};

off_t file_size(const std::string& path) {
  struct stat info {};
  stat(path.c_str(), &info);
  return info.st_size;
}

}  // namespace

TEST_F(ImageWriter, ZeroFillChunks) {
  struct Case {
    int32_t c, h, s;
    std::vector<size_t> writes;  // the header's, then the body's
  } cases[] = {
      {2048, 1, 1, {534, 1048576}},  // exactly 1 MiB
      {0, 1, 1, {534}},              // nothing after the header
      {4096 + 1, 1, 1, {534, 1048576, 1048576, 512}},
  };
  for (const Case& c : cases) {
    write_sizes.clear();
    ASSERT_EQ(create(c.c, c.h, c.s, false), 0);
    EXPECT_EQ(write_sizes, c.writes) << c.c;
    EXPECT_EQ(file_size(path), static_cast<off_t>(534 + c.c * 512));
  }
  // 1 MiB + 1 byte in compact mode is not reachable (256-byte sectors), so
  // check the two-write split through the body writer itself.
  int fd = open(path.c_str(), O_WRONLY | O_TRUNC);
  write_sizes.clear();
  ASSERT_EQ(write_image_body(fd, 4097, 1, 1, true, false, path.c_str(), HdfVersion::V1_1), 0);
  EXPECT_EQ(write_sizes, (std::vector<size_t>{1048576, 256}));
  close(fd);
}

TEST_F(ImageWriter, SparseAndZeroFilledAreIdentical) {
  ASSERT_EQ(create(40, 4, 17, true, true, HdfVersion::V1_0), 0);
  EXPECT_EQ(write_sizes, (std::vector<size_t>{128}));
  std::string sparse = fixtures::read_file(path);
  ASSERT_EQ(create(40, 4, 17, false, true, HdfVersion::V1_0), 0);
  std::string filled = fixtures::read_file(path);
  EXPECT_EQ(sparse.size(), 128u + 40 * 4 * 17 * 256);
  EXPECT_EQ(sparse, filled);
}

TEST_F(ImageWriter, SparseImageUsesNoDataBlocks) {
  ASSERT_EQ(create(16383, 16, 63, true), 0);  // about 8 GB
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_size, 534 + int64_t{16383} * 16 * 63 * 512);
  EXPECT_LE(info.st_blocks, 8);  // the header's block at most
}

TEST_F(ImageWriter, ExistingLongerFileIsCut) {
  for (bool sparse : {true, false}) {
    fixtures::write_file(path, std::vector<uint8_t>(100000, 0xEE));
    ASSERT_EQ(create(2, 1, 1, sparse), 0);
    std::string bytes = fixtures::read_file(path);
    ASSERT_EQ(bytes.size(), 534u + 1024);
    EXPECT_EQ(bytes.substr(534), std::string(1024, '\0'));
  }
}

TEST_F(ImageWriter, BodyWriteFailuresReportWhatWasWritten) {
  struct Case {
    size_t fail_at;  // 0 is the header write
    ssize_t result;
    std::string message;
  } cases[] = {
      {4, 100, "blankide: could write only 3145828 bytes out of 5243392 to '" + path + "'"},
      {1, -1, "blankide: could write only 0 bytes out of 5243392 to '" + path + "'"},
      {0, 10, "blankide: could write only 10 header bytes out of 534 to '" + path + "'\n"},
      {0, -1, "blankide: could write only 0 header bytes out of 534 to '" + path + "'\n"},
  };
  for (const Case& c : cases) {
    write_sizes.clear();
    fail_write_at = c.fail_at;
    failing_result = c.result;
    int status = 0;
    std::string err = fixtures::capture_stderr([&] { status = create(10241, 1, 1, false); });
    EXPECT_EQ(status, 1);
    EXPECT_EQ(err, c.message);
    EXPECT_EQ(write_sizes.size(), c.fail_at + 1);  // no retry, no continuation
  }
}

// Counts past 4 GiB keep their high bits where long has 32 bits: an image of
// about 8 GB whose write fails just beyond 4 GiB.
TEST_F(ImageWriter, CountsBeyond4GiBInFailureMessages) {
  int fd = open("/dev/null", O_WRONLY);
  ASSERT_GE(fd, 0);
  fail_write_at = 4097;
  failing_result = 100;
  std::string err = fixtures::capture_stderr([&] {
    EXPECT_EQ(write_image_body(fd, 16383, 16, 63, false, false, "big.hdf", HdfVersion::V1_1), 1);
  });
  close(fd);
  EXPECT_EQ(err, "blankide: could write only 4296015972 bytes out of 8455200768 to 'big.hdf'");
}

TEST_F(ImageWriter, DiskFullAndRefusedTruncate) {
  int fd = open("/dev/full", O_WRONLY);
  ASSERT_GE(fd, 0);
  std::string err = fixtures::capture_stderr([&] {
    EXPECT_EQ(write_image_body(fd, 1, 1, 1, false, false, "/dev/full", HdfVersion::V1_1), 1);
  });
  EXPECT_EQ(err, "blankide: could write only 0 bytes out of 512 to '/dev/full'");
  err = fixtures::capture_stderr([&] {
    EXPECT_EQ(write_image_body(fd, 1, 1, 1, false, true, "/dev/full", HdfVersion::V1_1), 1);
  });
  EXPECT_EQ(err, "blankide: error truncating '/dev/full': Invalid argument\n");
  close(fd);
}

TEST_F(ImageWriter, HeaderAllocationFailure) {
  testing_seams::set_calloc([](size_t, size_t) -> void* { return nullptr; });
  std::string err = fixtures::capture_stderr([&] { EXPECT_EQ(create(1, 1, 1, true), 1); });
  EXPECT_EQ(err, "blankide: out of memory at line 168\n");
  EXPECT_EQ(file_size(path), 0);  // created, then left empty
}

TEST_F(ImageWriter, ImpossibleGeometryTouchesNothing) {
  fixtures::write_file(path, std::vector<uint8_t>(10, 1));
  std::string err = fixtures::capture_stderr([&] { EXPECT_EQ(create(-1, 16, 63, false), 1); });
  EXPECT_EQ(err, "blankide: cylinders, heads and sectors must not be negative\n");
  err = fixtures::capture_stderr(
      [&] { EXPECT_EQ(create(2147483647, 2147483647, 2147483647, true), 1); });
  EXPECT_EQ(err,
            "blankide: an image of 2147483647 cylinders, 2147483647 heads and 2147483647 sectors"
            " is too large\n");
  EXPECT_EQ(file_size(path), 10);
  EXPECT_TRUE(write_sizes.empty());
}

TEST_F(ImageWriter, CloseFailureAfterACompleteImage) {
  testing_seams::set_close([](int fd) {
    ::close(fd);
    errno = EIO;
    return -1;
  });
  std::string err = fixtures::capture_stderr([&] { EXPECT_EQ(create(1, 1, 1, false), 1); });
  EXPECT_EQ(err, "blankide: error closing `" + path + "': Input/output error\n");
  EXPECT_EQ(file_size(path), 534 + 512);
}
