// The ROM file that a tape header announces, in words; see tape_files.h.
#include <string>
#include <vector>

#include "cartridge.h"
#include "tape_files.h"

std::vector<std::string> tape_header_words(const unsigned char* header) {
  if (header[0] > 3) {
    return {"A header of type " + std::to_string(header[0]) + ", which no ROM file has"};
  }
  unsigned char microdrive[FILE_HEADER_SIZE];
  microdrive_file_header(header, microdrive);
  FileHeader decoded{};
  (void)decode_file_header(&decoded, microdrive, sizeof microdrive);
  std::string text = file_description(header + 1, decoded, FileWords::Tape);
  size_t line_end = text.find('\n');
  std::vector<std::string> lines{text.substr(0, line_end)};
  if (line_end != std::string::npos) {
    lines.push_back(text.substr(line_end + 3));  // past "\n  "
  }
  return lines;
}
