// The HDF header builder.
#include "hdf_header.h"

#include <cstring>
#include <limits>

#include "little_endian.h"

namespace {

constexpr unsigned char SIGNATURE[7] = {'R', 'S', '-', 'I', 'D', 'E', 0x1A};
constexpr size_t VERSION_OFFSET = 7;
constexpr size_t FLAGS_OFFSET = 8;
constexpr size_t DATA_OFFSET_OFFSET = 9;
constexpr size_t IDENTITY_OFFSET = 22;
constexpr size_t CYLINDERS_WORD = 1;
constexpr size_t HEADS_WORD = 3;
constexpr size_t SECTORS_WORD = 6;
constexpr uint8_t FLAG_COMPACT = 0x01;

void put_identity_word(unsigned char* header, size_t word, int32_t value) {
  write_le16(header + IDENTITY_OFFSET + 2 * word, static_cast<uint32_t>(value));
}

}  // namespace

uint8_t hdf_version_byte(HdfVersion version) {
  return version == HdfVersion::V1_0 ? 0x10 : 0x11;
}

uint64_t hdf_header_size(HdfVersion version) {
  return version == HdfVersion::V1_0 ? 128 : 534;
}

void build_hdf_header(unsigned char* header, HdfVersion version, bool compact, int32_t cylinders,
                      int32_t heads, int32_t sectors) {
  std::memcpy(header, SIGNATURE, sizeof SIGNATURE);
  header[VERSION_OFFSET] = hdf_version_byte(version);
  header[FLAGS_OFFSET] = compact ? FLAG_COMPACT : 0;
  write_le16(header + DATA_OFFSET_OFFSET, static_cast<uint32_t>(hdf_header_size(version)));
  put_identity_word(header, CYLINDERS_WORD, cylinders);
  put_identity_word(header, HEADS_WORD, heads);
  put_identity_word(header, SECTORS_WORD, sectors);
}

GeometryCheck hdf_data_length(int64_t cylinders, int64_t heads, int64_t sectors, bool compact,
                              HdfVersion version, int64_t* length) {
  if (cylinders < 0 || heads < 0 || sectors < 0) {
    return GeometryCheck::Negative;
  }
  int64_t product = 0;
  if (__builtin_mul_overflow(heads, sectors, &product) ||
      __builtin_mul_overflow(product, cylinders, &product) ||
      __builtin_mul_overflow(product, hdf_sector_size(compact), &product) ||
      product >
          std::numeric_limits<int64_t>::max() - static_cast<int64_t>(hdf_header_size(version))) {
    return GeometryCheck::TooLarge;
  }
  *length = product;
  return GeometryCheck::Ok;
}
