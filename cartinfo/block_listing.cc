// The block listing (-b): every field of every cartridge block.
#include "cartinfo.h"

namespace {

constexpr const char* checksum_verdict_names[] = {
    "preset bad block",     "PASS", "header checksum failed", "record descriptor checksum failed",
    "data checksum failed",
};

const char* verdict_text(int verdict) {
  unsigned index = static_cast<unsigned>(verdict) + 1;
  return index <= 4 ? checksum_verdict_names[index] : "unknown error";
}

void print_record_lines(std::FILE* out, const adapter::MicrodriveBlock& block) {
  uint8_t flags = block.record_flags;
  std::fprintf(out, "  Record flags: 0x%02x (%s, %s)\n", static_cast<unsigned>(flags),
               (flags & RECORD_FLAG_EOF) ? "EOF" : "continued",
               (flags & RECORD_FLAG_NON_PRINT) ? "non-PRINT" : "PRINT");
  std::fprintf(out, "  Record number: %u\n", static_cast<unsigned>(block.record_number));
  std::fprintf(out, "  Record length: %u bytes\n", static_cast<unsigned>(block.record_length));
  std::fputs("  Record name: \"", out);
  print_zx_name(out, block.record_name);
  std::fputs("\"\n", out);
  std::fprintf(out, "  Record checksum: 0x%02x\n", static_cast<unsigned>(block.record_checksum));
  std::fprintf(out, "  Data checksum: 0x%02x\n", static_cast<unsigned>(block.data_checksum));
}

}  // namespace

void print_block_listing(std::FILE* out, libspectrum_microdrive* cartridge, uint64_t blocks) {
  for (uint64_t b = 0; b < blocks; ++b) {
    adapter::MicrodriveBlock block = adapter::microdrive_block_read(cartridge, b);
    uint8_t flags = block.record_flags;
    uint16_t length = block.record_length;
    int verdict = libspectrum_microdrive_checksum(cartridge, static_cast<libspectrum_byte>(b));

    std::fprintf(out, "--= Block #%lu =--\n", static_cast<unsigned long>(b));
    std::fprintf(out, "  Header flag: 0x%02x (%s)\n", static_cast<unsigned>(block.header_flag),
                 (block.header_flag & 0x01) ? "header block" : "not a header block");
    std::fprintf(out, "  Block number: %u\n", static_cast<unsigned>(block.number));
    std::fprintf(out, "  Header unused: 0x%04x\n", static_cast<unsigned>(block.header_unused));
    std::fprintf(out, "  Header checksum: 0x%02x\n", static_cast<unsigned>(block.header_checksum));

    // An end-of-file block keeps its record lines even when it is empty.
    if (length > MAX_RECORD_LENGTH) {
      std::fprintf(out, "  Record: invalid (flags 0x%02x, number %u, length %u)\n",
                   static_cast<unsigned>(flags), static_cast<unsigned>(block.record_number),
                   static_cast<unsigned>(length));
    } else if ((flags & RECORD_FLAG_EOF) == 0 && length == 0) {
      std::fputs("  Record: empty\n", out);
    } else {
      print_record_lines(out, block);
    }
    std::fprintf(out, "  Checksums: %s\n\n", verdict_text(verdict));
  }
}
