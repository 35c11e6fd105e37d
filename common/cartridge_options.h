// The options that describe a new cartridge, for the tools that make one
// (blankcart, and tape2cart where its cartridge does not exist yet).
#ifndef QUILLKIT_COMMON_CARTRIDGE_OPTIONS_H
#define QUILLKIT_COMMON_CARTRIDGE_OPTIONS_H

#include <cstddef>

// The sectors a cartridge image holds: a loop of 10 to 254.
constexpr unsigned MIN_CARTRIDGE_SECTORS = 10;
constexpr unsigned MAX_CARTRIDGE_SECTORS = 254;

// A cartridge's name: 10 bytes, padded with spaces.
constexpr size_t CARTRIDGE_NAME_SIZE = 10;

// What a new cartridge is made with: its name, its sectors and its
// write protection.
struct NewCartridge {
  unsigned char name[CARTRIDGE_NAME_SIZE];
  bool named = false;  // false: the name comes from the image's file name
  unsigned sectors = MAX_CARTRIDGE_SECTORS;
  bool write_protect = false;
};

// Takes `text` as the name of a new cartridge: 1 to 10 printable ASCII
// characters, padded with spaces. Returns false after a message otherwise.
[[nodiscard]] bool take_cartridge_name(const char* text, NewCartridge* cartridge);

// Takes `text` as a number of sectors, MIN_CARTRIDGE_SECTORS to
// MAX_CARTRIDGE_SECTORS in decimal. Returns false after a message
// otherwise.
[[nodiscard]] bool take_sector_count(const char* text, NewCartridge* cartridge);

#endif
