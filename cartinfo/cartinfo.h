// The cartridge lister's own interface: one operand's listing and the three
// parts it prints. Every printing function writes to `out`.
#ifndef QUILLKIT_CARTINFO_CARTINFO_H
#define QUILLKIT_CARTINFO_CARTINFO_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cartridge.h"
#include "content.h"

// Lists the MDR image at `path`: the summary, then its blocks when
// `list_blocks` is set, else its files; with an `extract` target, also
// copies its files there (see make_image_folder in host.h, and extract_files).
// Returns 0; 1 when the file cannot be read or the cartridge not handled
// (its files not catalogued, with a message), or a file not copied out;
// 2 when a file copied out is damaged; libspectrum's error code when the
// image is rejected (nothing is printed then, and no folder is made).
// With the file listing, each file's paragraph is followed by what `shown`
// asks for (see print_file_contents).
[[nodiscard]] int list_cartridge(std::FILE* out, const char* path, bool list_blocks,
                                 ExtractTarget* extract = nullptr, const ContentShown& shown = {});

// Copies every file of `catalogue` into the open folder `folder_fd` (named
// `folder` in messages) through extract_file (host.h): a file with a header
// as its data after the header, any other whole, with an extension by its
// kind (file_extension; ".prn" for a PRINT file). A damaged file (describe_damage)
// is copied as the catalogue has it, after a warning. Returns 0, or 1 after
// a message for each file that could not be written, ORed with 2 when a
// damaged file was copied.
[[nodiscard]] int extract_files(const Catalogue& catalogue, int folder_fd,
                                const std::string& folder);

// Prints the heading for `path` and the name, block count, free space and
// write-protection lines of a cartridge of `blocks` blocks.
void print_cartridge_summary(std::FILE* out, libspectrum_microdrive* cartridge, const char* path,
                             uint64_t blocks);

// Prints the 10-byte ZX name converted to UTF-8; prints nothing for a null
// name or one that does not convert.
void print_zx_name(std::FILE* out, const unsigned char* name);

// Describes every block of the cartridge.
void print_block_listing(std::FILE* out, libspectrum_microdrive* cartridge, uint64_t blocks);

// Prints the file count and a paragraph per file of `catalogue`, each
// followed by what `shown` asks for.
void print_file_listing(std::FILE* out, const Catalogue& catalogue, const ContentShown& shown = {});

// Prints what `shown` asks for of the file `entry`, each part followed by a
// blank line: the listing of a program (a non-PRINT file whose header says
// type 0: the bytes after the header, as many as the header's length where
// they are there, and the program length it gives) and the hex dump of the
// file's bytes as the catalogue joins them, its header included.
void print_file_contents(std::FILE* out, const CatalogueEntry& entry, const ContentShown& shown);

// The same for the catalogue of `cartridge`. Returns 0, or 1 (having
// printed nothing) when the catalogue cannot be built.
[[nodiscard]] int print_file_listing(std::FILE* out, libspectrum_microdrive* cartridge);

#endif
