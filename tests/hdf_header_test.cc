// The HDF header bytes and the data length rule.
#include "hdf_header.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

namespace {

std::vector<uint8_t> header(HdfVersion version, bool compact, int32_t c, int32_t h, int32_t s) {
  std::vector<uint8_t> bytes(static_cast<size_t>(hdf_header_size(version)), 0);
  build_hdf_header(bytes.data(), version, compact, c, h, s);
  return bytes;
}

// The header as it must be, written out independently of the builder.
std::vector<uint8_t> expected(size_t size, uint8_t version, uint8_t flags, uint16_t c, uint16_t h,
                              uint16_t s) {
  std::vector<uint8_t> b(size, 0);
  const uint8_t start[] = {'R',
                           'S',
                           '-',
                           'I',
                           'D',
                           'E',
                           0x1A,
                           version,
                           flags,
                           static_cast<uint8_t>(size & 0xFF),
                           static_cast<uint8_t>(size >> 8)};
  std::copy(std::begin(start), std::end(start), b.begin());
  b[24] = static_cast<uint8_t>(c & 0xFF);
  b[25] = static_cast<uint8_t>(c >> 8);
  b[28] = static_cast<uint8_t>(h & 0xFF);
  b[29] = static_cast<uint8_t>(h >> 8);
  b[34] = static_cast<uint8_t>(s & 0xFF);
  b[35] = static_cast<uint8_t>(s >> 8);
  return b;
}

}  // namespace

TEST(HdfHeader, VersionLookups) {
  EXPECT_EQ(hdf_version_byte(HdfVersion::V1_0), 0x10);
  EXPECT_EQ(hdf_version_byte(HdfVersion::V1_1), 0x11);
  EXPECT_EQ(hdf_header_size(HdfVersion::V1_0), 128u);
  EXPECT_EQ(hdf_header_size(HdfVersion::V1_1), 534u);
}

TEST(HdfHeader, BytesForVersionsModesAndGeometries) {
  struct Case {
    HdfVersion version;
    bool compact;
    int32_t c, h, s;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {HdfVersion::V1_1, false, 1, 1, 1, expected(534, 0x11, 0x00, 1, 1, 1)},
      {HdfVersion::V1_0, true, 1, 1, 1, expected(128, 0x10, 0x01, 1, 1, 1)},
      {HdfVersion::V1_1, true, 1024, 16, 63, expected(534, 0x11, 0x01, 1024, 16, 63)},
      {HdfVersion::V1_0, false, 1024, 16, 63, expected(128, 0x10, 0x00, 1024, 16, 63)},
      {HdfVersion::V1_1, false, 0, 16, 63, expected(534, 0x11, 0x00, 0, 16, 63)},
      {HdfVersion::V1_0, false, 65536 + 7, 0, 1, expected(128, 0x10, 0x00, 7, 0, 1)},
      {HdfVersion::V1_1, false, 65536, 255, 0, expected(534, 0x11, 0x00, 0, 255, 0)},
      {HdfVersion::V1_1, false, 0x1234ABCD, -1, 65535,
       expected(534, 0x11, 0x00, 0xABCD, 0xFFFF, 65535)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(header(c.version, c.compact, c.c, c.h, c.s), c.bytes)
        << c.c << "/" << c.h << "/" << c.s << (c.compact ? " compact" : "");
  }
}

TEST(HdfHeader, DataLength) {
  struct Case {
    int64_t c, h, s;
    bool compact;
    GeometryCheck check;
    int64_t length;
  } cases[] = {
      {1, 1, 1, false, GeometryCheck::Ok, 512},
      {1024, 16, 63, false, GeometryCheck::Ok, int64_t{1024} * 16 * 63 * 512},
      {1024, 16, 63, true, GeometryCheck::Ok, int64_t{1024} * 16 * 63 * 256},
      {0, 16, 63, false, GeometryCheck::Ok, 0},
      {16, 0, 63, true, GeometryCheck::Ok, 0},
      {65536 + 3, 1, 1, false, GeometryCheck::Ok, (65536 + 3) * int64_t{512}},
      {2147483647, 65535, 1, false, GeometryCheck::Ok, int64_t{2147483647} * 65535 * 512},
      {2147483647, 2147483647, 1, false, GeometryCheck::TooLarge, 0},
      {2147483647, 2147483647, 2147483647, false, GeometryCheck::TooLarge, 0},
      {2147483647, 2147483647, 4, false, GeometryCheck::TooLarge, 0},
      {-1, 1, 1, false, GeometryCheck::Negative, 0},
      {1, 1, -5, true, GeometryCheck::Negative, 0},
  };
  for (const Case& c : cases) {
    int64_t length = -7;
    EXPECT_EQ(hdf_data_length(c.c, c.h, c.s, c.compact, HdfVersion::V1_1, &length), c.check)
        << c.c << "/" << c.h << "/" << c.s;
    if (c.check == GeometryCheck::Ok) {
      EXPECT_EQ(length, c.length);
    }
  }
  // The header must fit on top of the data length.
  int64_t length = 0;
  int64_t max_sectors = std::numeric_limits<int64_t>::max() / 512;
  EXPECT_EQ(hdf_data_length(max_sectors, 1, 1, false, HdfVersion::V1_1, &length),
            GeometryCheck::TooLarge);
}
