// cart2tape's own interface: a cartridge's files as standard ROM-loader
// blocks of a libspectrum tape.
#ifndef QUILLKIT_CART2TAPE_CART2TAPE_H
#define QUILLKIT_CART2TAPE_CART2TAPE_H

#include <libspectrum.h>

#include <cstddef>
#include <string>
#include <vector>

#include "support.h"

// The 17 bytes of a ROM tape header (after its flag byte): type, 10-byte
// name, data length, parameter 1, parameter 2; words little-endian.
constexpr size_t TAPE_HEADER_SIZE = 17;

// Fills `header` for the non-PRINT file `entry` from its 9-byte Microdrive
// header (zeros where the file holds fewer bytes):
//   program  parameter 1 = autostart line (bytes 7-8), 2 = program length (5-6)
//   code     parameter 1 = start address (bytes 3-4), 2 = 32768
//   arrays   parameter 1 = the array's name byte (byte 5) in its high byte,
//            2 = 32768
//   other    parameters 1 and 2 = bytes 3-4 and 5-6
void make_tape_header(const CatalogueEntry& entry, unsigned char header[TAPE_HEADER_SIZE]);

// The tape image formats libspectrum writes soundly, by file-name
// extension (any case); LIBSPECTRUM_ID_UNKNOWN for any other name. CSW is
// left out: libspectrum writes it as sampled pulses that do not read back
// as the same blocks, nor even the same edges.
libspectrum_id_t tape_type_for(const char* path);

// Appends to `tape` a header block (flag 0x00) and a data block (flag 0xFF)
// for `entry`, with their checksums, as the ROM saves them; the data block
// holds every byte after the 9-byte header.
void append_file_blocks(libspectrum_tape* tape, const CatalogueEntry& entry);

// Appends an archive-info block: `title`, and `comment` as a comment.
void append_archive_info(libspectrum_tape* tape, const std::string& title,
                         const std::string& comment);

#endif
