// Writing a blank HDF image.
#include "image.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "blankide_testing_seams.h"

// Images reach far beyond 2 GiB: the file length must be 64-bit where long
// is not (the build defines _FILE_OFFSET_BITS=64).
static_assert(std::numeric_limits<off_t>::max() >= std::numeric_limits<int64_t>::max(),
              "blankide needs a 64-bit off_t (large-file support)");

namespace {

testing_seams::WriteFn write_fn = ::write;
testing_seams::CallocFn calloc_fn = std::calloc;
testing_seams::CloseFn close_fn = ::close;

// One shared block of zeros for every body write. Not const, so that it
// lives in zero-filled memory rather than taking 1 MiB of the program file;
// nothing ever writes to it.
unsigned char zeros[ZERO_CHUNK];

// What a write that failed outright counts as written: nothing.
uint64_t bytes_written(ssize_t result) {
  return result < 0 ? 0 : static_cast<uint64_t>(result);
}

}  // namespace

namespace testing_seams {
void set_write(WriteFn fn) {
  write_fn = fn != nullptr ? fn : ::write;
}
void set_calloc(CallocFn fn) {
  calloc_fn = fn != nullptr ? fn : std::calloc;
}
void set_close(CloseFn fn) {
  close_fn = fn != nullptr ? fn : ::close;
}
}  // namespace testing_seams

int write_image_body(int fd, int64_t cylinders, int64_t heads, int64_t sectors, bool compact,
                     bool sparse, const char* path, HdfVersion version) {
  int64_t length = 0;
  if (hdf_data_length(cylinders, heads, sectors, compact, version, &length) != GeometryCheck::Ok) {
    std::fprintf(stderr, "%s: image geometry out of range\n", program_name);
    return 1;
  }

  // Sparse: the system supplies the zeros and, where it can, stores none.
  if (sparse) {
    int64_t total = static_cast<int64_t>(hdf_header_size(version)) + length;
    if (ftruncate(fd, static_cast<off_t>(total)) != 0) {
      std::fprintf(stderr, "%s: error truncating '%s': %s\n", program_name,
                   visible_text(path).c_str(), std::strerror(errno));
      return 1;
    }
    return 0;
  }

  // Zero-fill: one write per chunk; a short write ends the image.
  uint64_t remaining = static_cast<uint64_t>(length);
  uint64_t written = 0;
  while (remaining > 0) {
    size_t chunk = static_cast<size_t>(remaining < ZERO_CHUNK ? remaining : ZERO_CHUNK);
    ssize_t result = write_fn(fd, zeros, chunk);
    if (result != static_cast<ssize_t>(chunk)) {
      std::fprintf(stderr, "%s: could write only %" PRIu64 " bytes out of %" PRId64 " to '%s'",
                   program_name, written + bytes_written(result), length,
                   visible_text(path).c_str());
      return 1;
    }
    written += chunk;
    remaining -= chunk;
  }
  return 0;
}

int create_image(const ImageRequest& request) {
  // Refuse what no disk could hold before anything on disk is touched.
  int64_t length = 0;
  switch (hdf_data_length(request.cylinders, request.heads, request.sectors, request.compact,
                          request.version, &length)) {
    case GeometryCheck::Negative:
      std::fprintf(stderr, "%s: cylinders, heads and sectors must not be negative\n", program_name);
      return 1;
    case GeometryCheck::TooLarge:
      std::fprintf(stderr, "%s: an image of %d cylinders, %d heads and %d sectors is too large\n",
                   program_name, request.cylinders, request.heads, request.sectors);
      return 1;
    case GeometryCheck::Ok:
      break;
  }

  int fd = open(request.path, O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (fd < 0) {
    std::fprintf(stderr, "%s: error opening '%s': %s\n", program_name,
                 visible_text(request.path).c_str(), std::strerror(errno));
    return 1;
  }

  uint64_t header_size = hdf_header_size(request.version);
  auto* header = static_cast<unsigned char*>(calloc_fn(1, static_cast<size_t>(header_size)));
  if (header == nullptr) {
    std::fprintf(stderr, "%s: out of memory at line %d\n", program_name, 168);
    (void)close(fd);
    return 1;
  }
  build_hdf_header(header, request.version, request.compact, request.cylinders, request.heads,
                   request.sectors);
  ssize_t result = write_fn(fd, header, static_cast<size_t>(header_size));
  std::free(header);
  if (result != static_cast<ssize_t>(header_size)) {
    std::fprintf(
        stderr, "%s: could write only %" PRIu64 " header bytes out of %" PRIu64 " to '%s'\n",
        program_name, bytes_written(result), header_size, visible_text(request.path).c_str());
    (void)close(fd);
    return 1;
  }

  if (write_image_body(fd, request.cylinders, request.heads, request.sectors, request.compact,
                       request.sparse, request.path, request.version) != 0) {
    (void)close(fd);
    return 1;
  }
  if (close_fn(fd) != 0) {
    std::fprintf(stderr, "%s: error closing `%s': %s\n", program_name,
                 visible_text(request.path).c_str(), std::strerror(errno));
    return 1;
  }
  return 0;
}
