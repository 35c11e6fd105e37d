// tape2cart's own interface: the ROM files of a tape, and saving them onto
// a Microdrive cartridge as the Interface 1 saves them.
#ifndef QUILLKIT_TAPE2CART_TAPE2CART_H
#define QUILLKIT_TAPE2CART_TAPE2CART_H

#include <libspectrum.h>

#include <cstddef>
#include <string>
#include <vector>

#include "cartridge_writer.h"

// One file as the ROM saves it on tape: a header block and the data block
// after it, both with a right checksum.
struct TapeFile {
  unsigned char header[TAPE_HEADER_SIZE];
  std::vector<unsigned char> data;  // without the flag and the checksum
  size_t header_block;              // 1-based, as libspectrum counts blocks
};

// What a tape holds for a cartridge.
struct TapeFiles {
  std::vector<TapeFile> files;
  bool bad_checksum = false;  // a header, or the data of one, fails its checksum
  bool sampled = false;       // a block holds pulses only (a sampled recording)
};

// Finds the ROM files of `tape` in block order: a block of flag 0x00 and
// 17 header bytes of type 0 to 3, followed (blocks without bytes between
// them) by one of flag 0xFF holding the length that the header gives.
// Every other block that carries data is left out with one line on
// standard error naming `path` and its block number.
TapeFiles find_tape_files(libspectrum_tape* tape, const char* path);

// The file as the Interface 1 saves it: the 9-byte Microdrive header made
// from the tape header, then the data.
//   program  start 23813, program length = parameter 2, line = parameter 1
//   code     start = parameter 1, 0xFFFF, 0xFFFF
//   arrays   address 0, the name byte (parameter 1's high byte), 0xFF,
//            0xFFFF
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
