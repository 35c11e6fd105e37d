// Whole-file input: the bytes of an image, padded, and its type.
#include <bzlib.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "host.h"

namespace adapter {

namespace {

// Reports a failure the way libspectrum reports its own: through the
// library's error function, so the tools' handler formats it.
__attribute__((format(printf, 2, 3))) void report(libspectrum_error error, const char* format,
                                                  ...) {
  va_list ap;
  va_start(ap, format);
  libspectrum_error_function(error, format, ap);
  va_end(ap);
}

constexpr size_t INITIAL_CAPACITY = size_t{64} * 1024;

// Reads all of `fd` into a C-heap buffer that keeps FILE_PADDING zero bytes
// after the data. Returns 0, else the errno of the failure (ENOMEM when the
// buffer cannot grow, EFBIG when there are more than `limit` bytes, of
// which no more than one is read past the limit); on failure nothing is held.
int read_all(int fd, size_t size_hint, size_t limit, unsigned char** bytes, size_t* length) {
  if (size_hint > limit) {
    size_hint = limit;
  }
  size_t capacity = size_hint + 1 + FILE_PADDING;
  if (capacity < INITIAL_CAPACITY) {
    capacity = INITIAL_CAPACITY;
  }
  auto* buffer = static_cast<unsigned char*>(std::malloc(capacity));
  if (buffer == nullptr) {
    return ENOMEM;
  }
  size_t used = 0;
  for (;;) {
    if (capacity - used <= FILE_PADDING) {
      if (capacity > SIZE_MAX / 2) {
        std::free(buffer);
        return ENOMEM;
      }
      auto* grown = static_cast<unsigned char*>(std::realloc(buffer, capacity * 2));
      if (grown == nullptr) {
        std::free(buffer);
        return ENOMEM;
      }
      buffer = grown;
      capacity *= 2;
    }
    size_t room = capacity - used - FILE_PADDING;
    if (room > limit + 1 - used) {
      room = limit + 1 - used;
    }
    ssize_t got = read(fd, buffer + used, room);
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      int saved = errno;
      std::free(buffer);
      return saved;
    }
    if (got == 0) {
      break;
    }
    used += static_cast<size_t>(got);
    if (used > limit) {
      std::free(buffer);
      return EFBIG;
    }
  }
  std::memset(buffer + used, 0, FILE_PADDING);
  *bytes = buffer;
  *length = used;
  return 0;
}

}  // namespace

bool bzip2_cut_short(const unsigned char* bytes, size_t length) {
  if (length < 3 || bytes[0] != 'B' || bytes[1] != 'Z' || bytes[2] != 'h') {
    return false;
  }
  bz_stream stream{};
  if (BZ2_bzDecompressInit(&stream, 0, 0) != BZ_OK) {
    return false;
  }
  // The output is thrown away; only the decoder's word counts.
  static char scratch[64 * 1024];
  stream.next_in = const_cast<char*>(reinterpret_cast<const char*>(bytes));
  stream.avail_in = static_cast<unsigned>(length);
  bool cut_short = false;
  for (;;) {
    stream.next_out = scratch;
    stream.avail_out = sizeof scratch;
    int result = BZ2_bzDecompress(&stream);
    if (result != BZ_OK) {
      break;  // the end of the stream, or damage that libspectrum reports itself
    }
    uint64_t out = (uint64_t{stream.total_out_hi32} << 32) | stream.total_out_lo32;
    bool waiting_for_input = stream.avail_in == 0 && stream.avail_out == sizeof scratch;
    if (waiting_for_input || out > BZIP2_LIMIT) {
      cut_short = true;
      break;
    }
  }
  BZ2_bzDecompressEnd(&stream);
  return cut_short;
}

bool gzip_expands_past(const unsigned char* bytes, size_t length, uint64_t limit) {
  if (length < 2 || bytes[0] != 0x1F || bytes[1] != 0x8B || length > UINT32_MAX) {
    return false;
  }
  z_stream stream{};
  if (inflateInit2(&stream, 15 + 16) != Z_OK) {  // 16: a gzip wrapper
    return false;
  }
  // The output is thrown away; only its count matters.
  static unsigned char scratch[64 * 1024];
  stream.next_in = const_cast<unsigned char*>(bytes);
  stream.avail_in = static_cast<uInt>(length);
  bool past = false;
  for (;;) {
    stream.next_out = scratch;
    stream.avail_out = sizeof scratch;
    int result = inflate(&stream, Z_NO_FLUSH);
    past = stream.total_out > limit;
    if (past || result != Z_OK) {
      break;  // past it, the end of the stream, or damage left to libspectrum
    }
  }
  (void)inflateEnd(&stream);
  return past;
}

void file_init(File* file) {
  file->bytes = nullptr;
  file->length = 0;
  file->type = LIBSPECTRUM_ID_UNKNOWN;
  file->name = nullptr;
  file->cut_short = false;
}

int file_open(File* file, const char* path, size_t limit) {
  file_init(file);
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    report_unopened(path, errno);
    return LIBSPECTRUM_ERROR_UNKNOWN;
  }
  int error = file_read(file, fd, path, limit);
  close(fd);
  return error;
}

void report_unopened(const char* path, int error) {
  report(LIBSPECTRUM_ERROR_UNKNOWN, "couldn't open `%s': %s", path, std::strerror(error));
}

int file_read(File* file, int fd, const char* path, size_t limit) {
  file_init(file);
  struct stat info {};
  size_t size_hint = 0;
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
    size_hint = static_cast<size_t>(info.st_size);
  }
  unsigned char* bytes = nullptr;
  size_t length = 0;
  // A regular file says its size: one over the limit is refused unread.
  int failure = S_ISREG(info.st_mode) && static_cast<uintmax_t>(info.st_size) > limit
                    ? EFBIG
                    : read_all(fd, size_hint, limit, &bytes, &length);
  if (failure == ENOMEM) {
    report(LIBSPECTRUM_ERROR_MEMORY, "out of memory reading `%s'", path);
    return LIBSPECTRUM_ERROR_MEMORY;
  }
  if (failure == EFBIG) {
    report(LIBSPECTRUM_ERROR_UNKNOWN,
           "couldn't read `%s': more than %zu bytes, larger than any image of its kind", path,
           limit);
    return LIBSPECTRUM_ERROR_UNKNOWN;
  }
  if (failure != 0) {
    report(LIBSPECTRUM_ERROR_UNKNOWN, "couldn't read `%s': %s", path, std::strerror(failure));
    return LIBSPECTRUM_ERROR_UNKNOWN;
  }
  // Identifying a compressed file expands it, so look at bzip2 data first.
  bool cut_short = bzip2_cut_short(bytes, length) || gzip_expands_past(bytes, length, BZIP2_LIMIT);
  libspectrum_id_t type = LIBSPECTRUM_ID_UNKNOWN;
  if (!cut_short) {
    // A guess that fails leaves the type unknown, for the reader to find
    // out with its own word; its messages on the way (libspectrum
    // decompresses a gzip file into a buffer of a size it never set) are
    // not the run's.
    QuietLibrary guessing;
    if (libspectrum_identify_file(&type, path, bytes, length) != LIBSPECTRUM_ERROR_NONE) {
      type = LIBSPECTRUM_ID_UNKNOWN;
    }
  }
  file->cut_short = cut_short;
  file->bytes = bytes;
  file->length = length;
  file->type = type;
  file->name = path;
  return 0;
}

void file_clear(File* file) {
  std::free(file->bytes);
  file_init(file);
}

}  // namespace adapter
