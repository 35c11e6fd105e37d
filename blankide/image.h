// Writing a blank HDF image: open, header, body, close.
#ifndef QUILLKIT_BLANKIDE_IMAGE_H
#define QUILLKIT_BLANKIDE_IMAGE_H

#include <cstdint>

#include "common.h"
#include "hdf_header.h"

// Size of each zero-fill write.
constexpr uint64_t ZERO_CHUNK = 1048576;

struct ImageRequest {
  HdfVersion version;
  bool compact;
  bool sparse;
  int32_t cylinders;
  int32_t heads;
  int32_t sectors;
  const char* path;
};

// Creates (or cuts) the file, writes the header in one write and the body,
// then closes it. Returns 0, or 1 after one diagnostic on standard error.
// A geometry that is negative or too large is refused before the file is
// opened.
[[nodiscard]] int create_image(const ImageRequest& request);

// Writes the data region after the header at the file position of `fd`:
// sparse mode sets the file length with ftruncate, zero-fill mode writes
// zeros in chunks of at most ZERO_CHUNK with no retry. Returns 0, or 1 after
// a diagnostic.
[[nodiscard]] int write_image_body(int fd, int64_t cylinders, int64_t heads, int64_t sectors,
                                   bool compact, bool sparse, const char* path, HdfVersion version);

#endif
