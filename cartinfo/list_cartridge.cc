// One operand of the lister: load, parse, summary, then the chosen listing
// and any extraction.
#include <unistd.h>

#include "cartinfo.h"
#include "cartinfo_testing_seams.h"

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

int list_cartridge(std::FILE* out, const char* path, bool list_blocks, ExtractTarget* extract,
                   const ContentShown& shown) {
  libspectrum_microdrive* cartridge = microdrive_alloc();
  if (cartridge == nullptr) {
    return 1;
  }
  int error = read_cartridge_image(path, cartridge);
  if (error != 0) {
    (void)microdrive_free(cartridge);
    return error;
  }

  uint64_t blocks = adapter::microdrive_block_count(cartridge);
  print_cartridge_summary(out, cartridge, path, blocks);
  int status = 0;
  Catalogue catalogue;
  bool catalogued = true;
  if (!list_blocks || extract != nullptr) {
    catalogued = catalogue.build(cartridge) == 0;
    if (!catalogued) {
      report_uncatalogued(path);
      status = 1;
    }
  }
  if (list_blocks) {
    std::fputs("\n", out);
    print_block_listing(out, cartridge, blocks);
  } else if (catalogued) {
    print_file_listing(out, catalogue, shown);
  }
  if (extract != nullptr && catalogued) {
    int folder_fd = -1;
    std::string folder;
    if (make_image_folder(extract, path, &folder_fd, &folder) != 0) {
      status = 1;
    } else {
      status = extract_files(catalogue, folder_fd, folder);
      (void)close(folder_fd);  // only read through; nothing to lose
    }
  }
  return (microdrive_free(cartridge) != LIBSPECTRUM_ERROR_NONE ? 1 : 0) | status;
}
