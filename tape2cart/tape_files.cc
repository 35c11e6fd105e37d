// A tape file in its Microdrive form; see tape2cart.h.
#include <algorithm>

#include "little_endian.h"
#include "tape2cart.h"

namespace {

constexpr uint16_t NO_WORD = 0xFFFF;
// Where a program starts with the Interface 1's variables in place.
constexpr uint16_t PROGRAM_START = 23813;

}  // namespace

std::vector<unsigned char> cartridge_file_bytes(const TapeFile& file) {
  const unsigned char* tape = file.header;
  uint16_t param1 = read_le16(tape + 13);
  uint16_t param2 = read_le16(tape + 15);
  std::vector<unsigned char> bytes(FILE_HEADER_SIZE + file.data.size());
  unsigned char* header = bytes.data();
  header[0] = tape[0];
  write_le16(header + 1, read_le16(tape + 11));
  switch (tape[0]) {
    case 0:
      write_le16(header + 3, PROGRAM_START);
      write_le16(header + 5, param2);
      write_le16(header + 7, param1);
      break;
    case 1:
    case 2:
      write_le16(header + 3, 0);
      header[5] = static_cast<unsigned char>(param1 >> 8);
      header[6] = 0xFF;
      write_le16(header + 7, NO_WORD);
      break;
    default:
      write_le16(header + 3, param1);
      write_le16(header + 5, NO_WORD);
      write_le16(header + 7, NO_WORD);
      break;
  }
  std::copy(file.data.begin(), file.data.end(), bytes.begin() + FILE_HEADER_SIZE);
  return bytes;
}
