// Reading the options that describe a new cartridge; see
// cartridge_options.h.
#include "cartridge_options.h"

#include <cstdio>
#include <cstring>

#include "common.h"

namespace {

// `text` of `length` bytes as a name, padded with spaces. Returns false
// when it is longer than a name.
bool pad(const char* text, size_t length, unsigned char name[CARTRIDGE_NAME_SIZE]) {
  if (length > CARTRIDGE_NAME_SIZE) {
    return false;
  }
  std::memset(name, ' ', CARTRIDGE_NAME_SIZE);
  std::memcpy(name, text, length);
  return true;
}

}  // namespace

bool take_cartridge_name(const char* text, NewCartridge* cartridge) {
  size_t length = std::strlen(text);
  bool printable = length > 0;
  for (size_t i = 0; i < length; ++i) {
    printable = printable && text[i] >= 0x20 && text[i] <= 0x7E;
  }
  if (!printable || !pad(text, length, cartridge->name)) {
    std::fprintf(stderr, "%s: `", program_name);
    print_visible(stderr, text);
    std::fprintf(stderr, "' is not a cartridge name: 1 to 10 printable ASCII characters\n");
    return false;
  }
  cartridge->named = true;
  return true;
}

bool take_sector_count(const char* text, NewCartridge* cartridge) {
  unsigned value = 0;
  const char* p = text;
  for (; *p >= '0' && *p <= '9' && value <= MAX_CARTRIDGE_SECTORS; ++p) {
    value = value * 10 + static_cast<unsigned>(*p - '0');
  }
  if (p == text || *p != '\0' || value < MIN_CARTRIDGE_SECTORS || value > MAX_CARTRIDGE_SECTORS) {
    std::fprintf(stderr, "%s: `", program_name);
    print_visible(stderr, text);
    std::fprintf(stderr, "' is not a number of sectors from %u to %u\n", MIN_CARTRIDGE_SECTORS,
                 MAX_CARTRIDGE_SECTORS);
    return false;
  }
  cartridge->sectors = value;
  return true;
}
