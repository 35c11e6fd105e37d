// tape2cart's own interface: saving the ROM files of a tape onto a
// Microdrive cartridge as the Interface 1 saves them.
#ifndef QUILLKIT_TAPE2CART_TAPE2CART_H
#define QUILLKIT_TAPE2CART_TAPE2CART_H

#include <libspectrum.h>

#include <cstddef>
#include <string>
#include <vector>

#include "cartridge_writer.h"
#include "tape_files.h"

// The file as the Interface 1 saves it: the 9-byte Microdrive header made
// from the tape header (microdrive_file_header), then the data.
std::vector<unsigned char> cartridge_file_bytes(const TapeFile& file);

struct Tape2cartRequest {
  std::vector<std::string> wanted;  // file names as cartinfo prints them; empty: all
  bool replace = false;             // a file of the same name is replaced
  NewCartridge blank;               // for a cartridge that does not exist yet
};

// Exit statuses: every file saved, a failure with nothing written, or some
// files left out or damaged.
constexpr int TAPE2CART_SAVED = 0;
constexpr int TAPE2CART_FAILED = 1;
constexpr int TAPE2CART_LEFT_OUT = 2;

// The whole run after the options: saves the files of the tape `source`
// onto the cartridge `target`, made blank when it does not exist, which is
// replaced whole or left as it was. Returns the exit status, after the
// diagnostics on standard error.
[[nodiscard]] int save_tape_files(const char* source, const char* target,
                                  const Tape2cartRequest& request);

#endif
