// The header of an HDF hard-disk image and the size of its data region.
//
//   offset  size  field
//        0     7  signature "RS-IDE" and 0x1A
//        7     1  version: 0x10 (1.0) or 0x11 (1.1)
//        8     1  flags: bit 0 set in compact mode (one byte per 16-bit word)
//        9     2  offset of the sector data (= header size), little-endian
//       11    11  reserved, zero
//       22     *  drive identity (ATA IDENTIFY DEVICE words, little-endian):
//                 106 bytes in 1.0, 512 bytes in 1.1; word 1 cylinders,
//                 word 3 heads, word 6 sectors per track, the rest zero
#ifndef QUILLKIT_BLANKIDE_HDF_HEADER_H
#define QUILLKIT_BLANKIDE_HDF_HEADER_H

#include <cstdint>

enum class HdfVersion { V1_0, V1_1 };

// 0x10 for 1.0, 0x11 for 1.1.
uint8_t hdf_version_byte(HdfVersion version);

// 128 for 1.0, 534 for 1.1.
uint64_t hdf_header_size(HdfVersion version);

// Fills `header`, which the caller provides zero-filled and exactly
// hdf_header_size(version) bytes long. Each geometry value is stored as its
// low 16 bits.
void build_hdf_header(unsigned char* header, HdfVersion version, bool compact, int32_t cylinders,
                      int32_t heads, int32_t sectors);

// Bytes in one sector of the image: 256 in compact mode, else 512.
constexpr int64_t hdf_sector_size(bool compact) {
  return compact ? 256 : 512;
}

// Outcome of hdf_data_length.
enum class GeometryCheck { Ok, Negative, TooLarge };

// Computes cylinders * heads * sectors * sector size into `length`, refusing
// negative values and products that, with the header, do not fit in a
// signed 64-bit file length.
GeometryCheck hdf_data_length(int64_t cylinders, int64_t heads, int64_t sectors, bool compact,
                              HdfVersion version, int64_t* length);

#endif
