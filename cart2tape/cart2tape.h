// cart2tape's own interface: a cartridge's files as standard ROM-loader
// blocks of a libspectrum tape.
#ifndef QUILLKIT_CART2TAPE_CART2TAPE_H
#define QUILLKIT_CART2TAPE_CART2TAPE_H

#include <libspectrum.h>

#include <cstddef>
#include <string>
#include <vector>

#include "cartridge.h"
#include "tape.h"
#include "tape_files.h"

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

// How many bytes after the 9-byte header the data block of `entry` holds:
// all of them, or, when they are more than MAX_TAPE_DATA, as many as the
// header gives (at most MAX_TAPE_DATA).
size_t tape_data_length(const CatalogueEntry& entry);

// Appends to `tape` a header block (flag 0x00) and a data block (flag 0xFF)
// for `entry`, with their checksums, as the ROM saves them; the data block
// holds the tape_data_length(entry) bytes after the 9-byte header.
void append_file_blocks(libspectrum_tape* tape, const CatalogueEntry& entry);

// The most bytes a text of an archive-info block can hold.
constexpr size_t MAX_ARCHIVE_TEXT = 255;

// Appends an archive-info block: `title`, and `comment` as a comment, each
// cut to MAX_ARCHIVE_TEXT bytes (never inside a UTF-8 character).
void append_archive_info(libspectrum_tape* tape, const std::string& title,
                         const std::string& comment);

// Exit statuses: every file written whole, a failure, or written with
// damage (or cut).
constexpr int CART2TAPE_WRITTEN = 0;
constexpr int CART2TAPE_FAILED = 1;
constexpr int CART2TAPE_DAMAGED = 2;

// The whole run after the options: reads the MDR image `source` and writes
// its files (all, or those named in `wanted`) as a tape to `target`, or as
// a TAP to standard output when `target` is "-". Refuses an unknown tape
// format, a target that is the source itself, and a terminal as standard
// output; a named target is replaced whole (replace_output_file) or left as
// it was. Returns the exit status, after the diagnostics on standard error.
[[nodiscard]] int write_cartridge_tape(const char* source, const char* target,
                                       const std::vector<std::string>& wanted);

#endif
