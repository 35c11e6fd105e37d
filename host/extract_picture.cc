// A screen's picture beside the file it was copied into; see host.h.
#include <cstdio>
#include <string>
#include <vector>

#include "content.h"
#include "host.h"

int extract_screen_picture(ExtractFolder* folder, const std::string& written,
                           const unsigned char* data, size_t size) {
  if (size != SCREEN_SIZE) {
    return 0;
  }
  // The file's own name, less its folder and extension: the picture of
  // "block-7-2.bin" is "block-7-2.png", whatever was named before.
  std::string text = written.substr(written.rfind('/') + 1);
  text = text.substr(0, text.rfind('.'));
  std::vector<unsigned char> png;
  std::string error;
  if (screen_picture(data, &png, &error) != 0) {
    std::fprintf(stderr, "%s: couldn't make the picture of `%s': %s\n", program_name,
                 visible_text(written.c_str()).c_str(), error.c_str());
    return 1;
  }
  return extract_file(folder, text, ".png", png.data(), png.size());
}
