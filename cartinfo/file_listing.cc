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

// An array's name is stored in header byte 5 with its type in the top bits.
char array_letter(const FileHeader& header) {
  return static_cast<char>(0x40 + (header.param2 & 0x3F));
}

// A program's autostart line is stored in header bytes 7-8; 10000 and above
// mean it does not start by itself.
constexpr unsigned NO_AUTOSTART = 10000;

void print_typed_file(std::FILE* out, const CatalogueEntry& entry, const FileHeader& header) {
  switch (header.type) {
    case 0:
      std::fputs("Program: \"", out);
      print_zx_name(out, entry.name);
      std::fputs("\"", out);
      if (header.param3 < NO_AUTOSTART) {
        std::fprintf(out, " LINE %u", static_cast<unsigned>(header.param3));
      }
      std::fprintf(out, "\n  Length: %u, includes variable length: %u",
                   static_cast<unsigned>(header.data_length),
                   static_cast<uint32_t>(header.data_length) - header.param2);
      break;
    case 1:
      std::fputs("Number Array: \"", out);
      print_zx_name(out, entry.name);
      std::fprintf(out, "\" DATA %c()\n  Length: %u", array_letter(header),
                   static_cast<unsigned>(header.data_length));
      break;
    case 2:
      std::fputs("Character Array: \"", out);
      print_zx_name(out, entry.name);
      std::fprintf(out, "\" DATA %c$()\n  Length: %u", array_letter(header),
                   static_cast<unsigned>(header.data_length));
      break;
    case 3:
      std::fputs("Bytes: \"", out);
      print_zx_name(out, entry.name);
      std::fprintf(out, "\" %s %u, %u", is_screen_header(header) ? "SCREEN$" : "CODE",
                   static_cast<unsigned>(header.param1), static_cast<unsigned>(header.data_length));
      break;
    default:
      std::fprintf(out, "Unknown type %u: \"", static_cast<unsigned>(header.type));
      print_zx_name(out, entry.name);
      std::fprintf(out, "\"\n  Length: %u", static_cast<unsigned>(header.data_length));
      break;
  }
}

void print_untyped_file(std::FILE* out, const CatalogueEntry& entry, const char* label) {
  std::fprintf(out, "%s: \"", label);
  print_zx_name(out, entry.name);
  std::fprintf(out, "\"\n  Length: %lu bytes", static_cast<unsigned long>(entry.length));
}

}  // namespace

void print_file_listing(std::FILE* out, const Catalogue& catalogue) {
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
      print_typed_file(out, entry, header);
    }
    print_blocks_and_status(out, entry);
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
