// gzip and bzip2 data expanded in memory, so that the tools can look at the
// image inside before libspectrum reads it; see host.h.
#include <bzlib.h>
#include <zlib.h>

#include <cstring>

#include "host.h"

namespace {

constexpr size_t STEP = size_t{64} * 1024;

// Runs `step` over the output until it says the stream ended (1), failed
// or stopped for want of input (-1); `out` grows by STEP bytes before each
// call, and is cut back to `*produced` bytes at the end.
template <typename Step>
bool expand_with(std::vector<unsigned char>* out, size_t* produced, Step step) {
  for (;;) {
    if (*produced > adapter::BZIP2_LIMIT) {
      return false;
    }
    out->resize(*produced + STEP);
    int result = step(out->data() + *produced, STEP);
    if (result != 0) {
      out->resize(*produced);
      return result > 0;
    }
  }
}

bool expand_gzip(const unsigned char* bytes, size_t length, std::vector<unsigned char>* out) {
  z_stream stream{};
  if (inflateInit2(&stream, 15 + 16) != Z_OK) {  // 16: a gzip wrapper
    return false;
  }
  stream.next_in = const_cast<unsigned char*>(bytes);
  stream.avail_in = static_cast<uInt>(length);
  size_t produced = 0;
  bool done = length <= UINT32_MAX && expand_with(out, &produced, [&](unsigned char* to, size_t n) {
                stream.next_out = to;
                stream.avail_out = static_cast<uInt>(n);
                int result = inflate(&stream, Z_NO_FLUSH);
                produced += n - stream.avail_out;
                if (result == Z_STREAM_END) {
                  return 1;
                }
                return result == Z_OK ? 0 : -1;  // Z_BUF_ERROR: the input ended first
              });
  (void)inflateEnd(&stream);
  return done;
}

bool expand_bzip2(const unsigned char* bytes, size_t length, std::vector<unsigned char>* out) {
  bz_stream stream{};
  if (BZ2_bzDecompressInit(&stream, 0, 0) != BZ_OK) {
    return false;
  }
  stream.next_in = const_cast<char*>(reinterpret_cast<const char*>(bytes));
  stream.avail_in = static_cast<unsigned>(length);
  size_t produced = 0;
  bool done = length <= UINT32_MAX && expand_with(out, &produced, [&](unsigned char* to, size_t n) {
                stream.next_out = reinterpret_cast<char*>(to);
                stream.avail_out = static_cast<unsigned>(n);
                int result = BZ2_bzDecompress(&stream);
                produced += n - stream.avail_out;
                if (result == BZ_STREAM_END) {
                  return 1;
                }
                // Still waiting for input once it is all taken: cut short.
                bool starved = stream.avail_in == 0 && stream.avail_out == n;
                return result == BZ_OK && !starved ? 0 : -1;
              });
  BZ2_bzDecompressEnd(&stream);
  return done;
}

}  // namespace

bool expand_compressed(const unsigned char* bytes, size_t length,
                       std::vector<unsigned char>* expanded) {
  expanded->clear();
  bool done = false;
  if (length >= 2 && bytes[0] == 0x1F && bytes[1] == 0x8B) {
    done = expand_gzip(bytes, length, expanded);
  } else if (length >= 3 && std::memcmp(bytes, "BZh", 3) == 0) {
    done = expand_bzip2(bytes, length, expanded);
  }
  if (!done) {
    expanded->clear();
    return false;
  }
  expanded->resize(expanded->size() + adapter::FILE_PADDING, 0);
  return true;
}
