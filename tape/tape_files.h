// The ROM files of a tape: what each block is to them (a file's header or
// data, or a block that is no part of one, and why), for every tool that
// reads files off a tape.
#ifndef QUILLKIT_TAPE_TAPE_FILES_H
#define QUILLKIT_TAPE_TAPE_FILES_H

#include <libspectrum.h>

#include <cstddef>
#include <string>
#include <vector>

#include "cartridge.h"
#include "tape.h"

// One file as the ROM saves it on tape: a header block and the data block
// after it, both with a right checksum.
struct TapeFile {
  unsigned char header[TAPE_HEADER_SIZE];
  std::vector<unsigned char> data;  // without the flag and the checksum
  size_t header_block;              // 1-based, as libspectrum counts blocks
  size_t data_block;
};

// What one block is to the tape's files.
enum class BlockRole {
  NoBytes,            // carries no bytes: a pause, a tone, a text...
  FileHeader,         // the header of files[file]
  FileData,           // the data of files[file]
  BadHeaderChecksum,  // a header block whose checksum is wrong
  UnknownHeaderType,  // a header block of a type above 3
  HeaderWithoutData,  // a sound header with no data block after it
  BadDataChecksum,    // the data block of the header in header_block, checksum wrong
  DamagedFileHeader,  // the header of such a data block (which the data's verdict names)
  Headerless,         // bytes of flag 0xFF that follow no header
  OtherFlag,          // bytes of another flag
  PartBytes,          // bytes whose last is not whole
  Symbols,            // generalised data
  Pulses,             // a sampled recording
};

struct BlockVerdict {
  BlockRole role = BlockRole::NoBytes;
  size_t file = 0;          // FileHeader, FileData: index into files
  size_t header_block = 0;  // BadDataChecksum: the header's block number
  unsigned char flag = 0;   // the first byte, where it has bytes
  unsigned char type = 0;   // UnknownHeaderType: the header's type
  size_t length = 0;        // bytes, flag and checksum included
  std::string name;         // HeaderWithoutData, BadDataChecksum: the file's name as printed
};

struct TapeFiles {
  std::vector<TapeFile> files;
  std::vector<BlockVerdict> blocks;  // one per block, in block order
  bool bad_checksum = false;         // a header, or the data of one, fails its checksum
  bool sampled = false;              // a block holds pulses only
};

// The most data bytes a ROM block can carry between its flag and its
// checksum: the formats store a block's length in 16 bits.
constexpr size_t MAX_TAPE_DATA = 65533;

// A standard-speed block of `flag`, the `size` bytes at `bytes` and their
// XOR checksum, with the ROM's pause of 1000 ms; its bytes come from
// libspectrum's allocator and the block owns them (it is the caller's, to
// append to a tape or free).
libspectrum_tape_block* rom_block(unsigned char flag, const unsigned char* bytes, size_t size);

// True when `length` bytes of a ROM block (flag first, checksum last)
// XOR to 0, as the ROM checks them.
bool rom_checksum_right(const unsigned char* bytes, size_t length);

// Finds the ROM files of `tape` in block order: a block of flag 0x00 and
// 17 header bytes of type 0 to 3, followed (blocks without bytes between
// them) by one of flag 0xFF holding the length that the header gives; both
// with a right checksum.
TapeFiles find_tape_files(libspectrum_tape* tape);

// The 9-byte Microdrive header of the file that the 17-byte ROM tape
// header `tape_header` describes, as the Interface 1 writes it:
//   program  start 23813, program length = parameter 2, line = parameter 1
//   code     start = parameter 1, 0xFFFF, 0xFFFF
//   arrays   address 0, the name byte (parameter 1's high byte), 0xFF,
//            0xFFFF
void microdrive_file_header(const unsigned char* tape_header,
                            unsigned char header[FILE_HEADER_SIZE]);

// The ROM file that the 17 bytes of a tape header (after its flag)
// announce, in tapeinfo's words: its kind and name on the first line
// ("Program: \"hello\" LINE 10"), its lengths on the second where the kind
// has them; a header of a type above 3 in one line that says so.
std::vector<std::string> tape_header_words(const unsigned char* header);

// Why a block that carries data is no part of a file, in words ("data
// without a header (5 bytes)"); "" for the blocks of a file and those
// without bytes.
std::string left_out_reason(const BlockVerdict& verdict);

#endif
