// The cartridge lister's own interface: one operand's listing and the three
// parts it prints. Every printing function writes to `out`.
#ifndef QUILLKIT_CARTINFO_CARTINFO_H
#define QUILLKIT_CARTINFO_CARTINFO_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "support.h"

// Lists the MDR image at `path`: the summary, then its blocks when
// `list_blocks` is set, else its files; with an `extract_dir`, also copies
// its files into that folder (see extract_files). Returns 0, 1 when the file cannot be
// read or the cartridge not handled (its files not catalogued, with a
// message), or libspectrum's error code when the image is rejected (nothing
// is printed then).
[[nodiscard]] int list_cartridge(std::FILE* out, const char* path, bool list_blocks,
                                 const char* extract_dir = nullptr);

// Copies every file of the cartridge into the folder `dir` as a new file
// (never replacing one): a file with a header as its data after the
// header, any other whole, named by safe_file_name. Returns 0, or 1 after a
// message for each file that could not be written.
[[nodiscard]] int extract_files(libspectrum_microdrive* cartridge, const std::string& dir);

// A file name for `text` (a ZX name as printed) with `extension`, safe on
// any file system: no '/', '\\', ':', '*', '?', '"', '<', '>', '|' or control
// character (each becomes '_'), no leading '.' or '-', never empty, and
// not among `taken` (in any case; "-2", "-3"... are added), which it joins.
std::string safe_file_name(const std::string& text, const char* extension,
                           std::vector<std::string>* taken);

// Makes the folder `dir`, or takes it as it is when it is one already.
// Returns 0, or 1 after a message.
[[nodiscard]] int prepare_extract_folder(const std::string& dir);

// Prints the heading for `path` and the name, block count, free space and
// write-protection lines of a cartridge of `blocks` blocks.
void print_cartridge_summary(std::FILE* out, libspectrum_microdrive* cartridge, const char* path,
                             uint64_t blocks);

// Prints the 10-byte ZX name converted to UTF-8; prints nothing for a null
// name or one that does not convert.
void print_zx_name(std::FILE* out, const unsigned char* name);

// Describes every block of the cartridge.
void print_block_listing(std::FILE* out, libspectrum_microdrive* cartridge, uint64_t blocks);

// Prints the file count and a paragraph per file. Returns 0, or 1 (having
// printed nothing) when the catalogue cannot be built.
[[nodiscard]] int print_file_listing(std::FILE* out, libspectrum_microdrive* cartridge);

namespace testing_seams {
// libspectrum's cartridge constructor and destructor as the lister calls
// them, replaceable by tests to reach their failures; null restores them.
using MicrodriveAlloc = libspectrum_microdrive* (*)();
using MicrodriveFree = libspectrum_error (*)(libspectrum_microdrive* cartridge);
void set_microdrive_calls(MicrodriveAlloc allocate, MicrodriveFree release);
}  // namespace testing_seams

#endif
