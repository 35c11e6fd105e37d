// The cartridge summary: its name, size, free space and write protection.
#include "cartinfo.h"

void print_zx_name(std::FILE* out, const unsigned char* name) {
  std::fputs(zx_name_text(name).c_str(), out);
}

namespace {

void print_cartridge_name(std::FILE* out, libspectrum_microdrive* cartridge) {
  unsigned char name[adapter::MDR_NAME_SIZE];
  if (find_cartridge_name(cartridge, name)) {
    print_zx_name(out, name);
  }
}

}  // namespace

void print_cartridge_summary(std::FILE* out, libspectrum_microdrive* cartridge, const char* path,
                             uint64_t blocks) {
  std::fprintf(out, "\n\nListing of `%s':\n\n", visible_text(path).c_str());
  std::fputs("Cartridge name: \"", out);
  print_cartridge_name(out, cartridge);
  std::fputs("\"\n", out);

  // A free block is an empty one that does not end a file.
  uint64_t free_blocks = 0;
  for (uint64_t b = 0; b < blocks; ++b) {
    adapter::MicrodriveBlock block = adapter::microdrive_block_read(cartridge, b);
    if ((block.record_flags & RECORD_FLAG_EOF) == 0 && block.record_length == 0) {
      ++free_blocks;
    }
  }
  std::fprintf(out, "Cartridge blocks: %lu\n", static_cast<unsigned long>(blocks));
  std::fprintf(out, "Free space: %lu bytes in %lu block%s\n",
               static_cast<unsigned long>(free_blocks * 512),
               static_cast<unsigned long>(free_blocks), free_blocks == 1 ? "" : "s");
  std::fprintf(out, "Write protected: %s\n",
               libspectrum_microdrive_write_protect(cartridge) ? "yes" : "no");
}
