// Writing Microdrive cartridges as the Interface 1 writes them: a blank
// formatted cartridge, the sectors free to take a file, a file saved into
// them, a file's sectors freed, and the image written out. Every checksum
// is the Interface 1's, the sum of the bytes modulo 255.
#ifndef QUILLKIT_CARTRIDGE_CARTRIDGE_WRITER_H
#define QUILLKIT_CARTRIDGE_CARTRIDGE_WRITER_H

#include <libspectrum.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cartridge.h"
#include "cartridge_options.h"

static_assert(CARTRIDGE_NAME_SIZE == adapter::MDR_NAME_SIZE, "one name size");

// The Interface 1's checksum of `size` bytes: their sum modulo 255.
uint8_t interface1_checksum(const unsigned char* bytes, size_t size);

// A 10-byte cartridge or file name: `text` padded with spaces. Returns
// false when it is longer than 10 bytes.
bool pad_name(const std::string& text, unsigned char name[adapter::MDR_NAME_SIZE]);

// The name of a cartridge made at `path` when none is given: the file's
// name without its folder and extension, cut to 10 characters, each
// character that is not printable ASCII made '_', padded with spaces.
void name_after_file(const char* path, unsigned char name[adapter::MDR_NAME_SIZE]);

// Makes `cartridge` a blank one of `sectors` sectors (MIN to MAX) named
// `name`, numbered `sectors` down to 1 in image order: every header marked
// as one and checked, every record descriptor zero but its checksum, every
// data byte zero.
void format_cartridge(libspectrum_microdrive* cartridge,
                      const unsigned char name[adapter::MDR_NAME_SIZE], unsigned sectors,
                      bool write_protect);

// The sectors that every reader takes for free, in image order: a header
// that the Interface 1 finds (header flag bit 0, header checksum right)
// with a sector number of 1 to 254 that no other such header has, and a
// record without the end-of-file flag whose length is 0. A preset bad
// block (end of file, length 0) or a record of 1 to 511 bytes is never
// free.
std::vector<size_t> free_sectors(const libspectrum_microdrive* cartridge);

// How many sectors a file of `size` bytes (its 9-byte header counted)
// takes: one for each 512 bytes begun, and one at least.
size_t sectors_for(uint64_t size);

// Saves `size` bytes (a 9-byte header and the data; none saves nothing) as
// the SAVEd file
// `name` into `sectors`, which must be free and number sectors_for(size):
// record k into sectors[k], every record but the last holding 512 bytes,
// the last marked end of file. Header bytes 0 to 14 of the sectors are
// left as they are.
void write_cartridge_file(libspectrum_microdrive* cartridge,
                          const unsigned char name[adapter::MDR_NAME_SIZE],
                          const unsigned char* bytes, uint64_t size,
                          const std::vector<size_t>& sectors);

// Frees the sectors that hold records of the file `name`, leaving each as
// a blank cartridge's free sector: its records of 1 to 512 bytes and, for
// a PRINT file, an empty end-of-file record of that name (for a SAVEd file
// such a record is a preset bad block, and kept). Returns how many were
// freed.
size_t free_cartridge_file(libspectrum_microdrive* cartridge,
                           const unsigned char name[adapter::MDR_NAME_SIZE]);

// Writes the image of `cartridge`, its write-protection byte included, to
// `path`: replacing the file whole (never in place: see OutputMode's
// WholeOnly), or, when `must_be_new`, only as a new
// file, an existing one being refused with "`PATH' exists already; not
// overwritten". Returns 0, or 1 after a message.
[[nodiscard]] int save_cartridge_image(const libspectrum_microdrive* cartridge, const char* path,
                                       bool must_be_new);

#endif
