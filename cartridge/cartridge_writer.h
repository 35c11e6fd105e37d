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

// Saves `size` bytes (a 9-byte header and the data) as the SAVEd file
// `name` into `sectors`, which must be free sectors of the cartridge:
// record k into sectors[k], every record but the last holding 512 bytes,
// the last marked end of file. Header bytes 0 to 14 of the sectors are
// left as they are. Returns 0, or 1 with nothing written when there is
// nothing to save or the sectors are fewer than sectors_for(size) or not
// all the cartridge's.
[[nodiscard]] int write_cartridge_file(libspectrum_microdrive* cartridge,
                                       const unsigned char name[adapter::MDR_NAME_SIZE],
                                       const unsigned char* bytes, uint64_t size,
                                       const std::vector<size_t>& sectors);

// A sector that FORMAT found bad: an empty end-of-file record whose name
// starts with a zero byte. It is never written, nor freed.
bool is_preset_bad_block(const adapter::MicrodriveBlock& block);

// The blocks, in image order, whose record bears the name `name` and is not
// a free sector's (a record without the end-of-file flag and of length 0,
// which no reader takes for part of a file): a file's records, and any
// that belong to no file but would join a file saved under that name (an
// empty end-of-file record, a record longer than 512 bytes).
std::vector<size_t> blocks_named(const libspectrum_microdrive* cartridge,
                                 const unsigned char name[adapter::MDR_NAME_SIZE]);

// Frees every block that bears the name `name` (see blocks_named) but a
// preset bad block, leaving each as a blank cartridge's free sector.
// Returns how many were freed.
size_t free_cartridge_file(libspectrum_microdrive* cartridge,
                           const unsigned char name[adapter::MDR_NAME_SIZE]);

// Writes the image of `cartridge`, its write-protection byte included, as
// the entry `name` of the open folder `folder` (`path` in messages):
// replacing `replaced`, the file the entry names, whole (see OutputMode's
// WholeOnly), or, when that is null, only as a new file, an existing one
// being refused with "`PATH' exists already; not overwritten". Returns 0,
// or 1 after a message.
[[nodiscard]] int save_cartridge_image(const libspectrum_microdrive* cartridge, int folder,
                                       const char* name, const char* path,
                                       const struct stat* replaced);

// Writes the image of `cartridge` to `path` as a new file, an existing one
// being refused with "`PATH' exists already; not overwritten". Returns 0,
// or 1 after a message.
[[nodiscard]] int save_new_cartridge_image(const libspectrum_microdrive* cartridge,
                                           const char* path);

#endif
