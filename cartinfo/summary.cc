// One operand of the lister: load, parse, summary, then the chosen listing.
#include "cartinfo.h"

namespace {
testing_seams::MicrodriveAlloc microdrive_alloc = libspectrum_microdrive_alloc;
testing_seams::MicrodriveFree microdrive_free = libspectrum_microdrive_free;
}  // namespace

namespace testing_seams {
void set_microdrive_calls(MicrodriveAlloc allocate, MicrodriveFree release) {
  microdrive_alloc = allocate != nullptr ? allocate : libspectrum_microdrive_alloc;
  microdrive_free = release != nullptr ? release : libspectrum_microdrive_free;
}
}  // namespace testing_seams

int list_cartridge(std::FILE* out, const char* path, bool list_blocks) {
  libspectrum_microdrive* cartridge = nullptr;
  libspectrum_error error = LIBSPECTRUM_ERROR_NONE;
  {
    // The file's bytes are released as soon as the cartridge holds them.
    adapter::ScopedFile input;
    if (load_input_file(path, input.get(), adapter::MDR_FILE_LIMIT) != 0) {
      return 1;
    }
    cartridge = microdrive_alloc();
    if (cartridge == nullptr) {
      return 1;
    }
    error = libspectrum_microdrive_mdr_read(cartridge, input.get()->bytes, input.get()->length);
  }
  if (error != LIBSPECTRUM_ERROR_NONE) {
    (void)microdrive_free(cartridge);
    return error;
  }

  uint64_t blocks = adapter::microdrive_block_count(cartridge);
  print_cartridge_summary(out, cartridge, path, blocks);
  int status = 0;
  if (list_blocks) {
    std::fputs("\n", out);
    print_block_listing(out, cartridge, blocks);
  } else if (print_file_listing(out, cartridge) != 0) {
    std::fprintf(stderr, "%s: couldn't catalogue the files of `%s'\n", program_name, path);
    status = 1;
  }
  return (microdrive_free(cartridge) != LIBSPECTRUM_ERROR_NONE ? 1 : 0) | status;
}

void print_zx_name(std::FILE* out, const unsigned char* name) {
  if (name == nullptr) {
    return;
  }
  char text[NAME_BUFFER_SIZE];
  if (adapter::zx_string_to_utf8(text, sizeof text, name, adapter::MDR_NAME_SIZE) == 0) {
    std::fprintf(out, "%s", text);
  }
}

namespace {

// The cartridge name comes from the first header block whose header
// checksum holds (a bad data checksum does not matter) and that is not a
// preset bad block. Only that block is tried.
void print_cartridge_name(std::FILE* out, libspectrum_microdrive* cartridge, uint64_t blocks) {
  for (uint64_t b = 0; b < blocks; ++b) {
    adapter::MicrodriveBlock block = adapter::microdrive_block_read(cartridge, b);
    if ((block.header_flag & 0x01) == 0) {
      continue;
    }
    int verdict = libspectrum_microdrive_checksum(cartridge, static_cast<libspectrum_byte>(b));
    if (verdict == -1 || verdict == 1) {
      continue;
    }
    print_zx_name(out, block.cartridge_name);
    return;
  }
}

}  // namespace

void print_cartridge_summary(std::FILE* out, libspectrum_microdrive* cartridge, const char* path,
                             uint64_t blocks) {
  std::fprintf(out, "\n\nListing of `%s':\n\n", path);
  std::fputs("Cartridge name: \"", out);
  print_cartridge_name(out, cartridge, blocks);
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
