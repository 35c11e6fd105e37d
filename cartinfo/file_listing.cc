// The file listing: one paragraph per file found on the cartridge.
#include "cartinfo.h"

namespace {

// The last line of every paragraph but its status.
void print_blocks_and_status(std::FILE* out, const CatalogueEntry& entry) {
  std::fprintf(out, " in %lu block%s\n", static_cast<unsigned long>(entry.block_count),
               entry.block_count == 1 ? "" : "s");
  std::fprintf(out, "  Status: %s%s\n\n", entry.has_eof ? "complete" : "missing EOF",
               entry.checksum_error ? ", checksum error" : "");
}

void print_untyped_file(std::FILE* out, const CatalogueEntry& entry, const char* label) {
  std::fprintf(out, "%s: \"", label);
  print_zx_name(out, entry.name);
  std::fprintf(out, "\"\n  Length: %lu bytes", static_cast<unsigned long>(entry.length));
}

}  // namespace

void print_file_listing(std::FILE* out, const Catalogue& catalogue, const ContentShown& shown) {
  std::fprintf(out, "Files: %lu\n\n", static_cast<unsigned long>(catalogue.count()));
  for (uint64_t i = 0; i < catalogue.count(); ++i) {
    const CatalogueEntry& entry = catalogue[i];
    std::fputs("  ", out);
    FileHeader header{};
    if ((entry.flags & RECORD_FLAG_NON_PRINT) == 0) {
      print_untyped_file(out, entry, "PRINT file");
    } else if (decode_file_header(&header, entry.listed_header, entry.listed_size) != 0) {
      print_untyped_file(out, entry, "Non-PRINT file");
    } else {
      std::fputs(file_description(entry.name, header).c_str(), out);
    }
    print_blocks_and_status(out, entry);
    print_file_contents(out, entry, shown);
  }
}

int print_file_listing(std::FILE* out, libspectrum_microdrive* cartridge) {
  Catalogue catalogue;
  if (catalogue.build(cartridge) != 0) {
    return 1;
  }
  print_file_listing(out, catalogue);
  return 0;
}
