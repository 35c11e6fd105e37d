// A tape file in its Microdrive form; see tape2cart.h.
#include <algorithm>

#include "tape2cart.h"

std::vector<unsigned char> cartridge_file_bytes(const TapeFile& file) {
  std::vector<unsigned char> bytes(FILE_HEADER_SIZE + file.data.size());
  microdrive_file_header(file.header, bytes.data());
  std::copy(file.data.begin(), file.data.end(), bytes.begin() + FILE_HEADER_SIZE);
  return bytes;
}
