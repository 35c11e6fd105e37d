// A blank cartridge made as a new file; see blankcart.h.
#include "blankcart.h"

#include <cstdio>
#include <cstring>

#include "cartridge_writer.h"

int make_blank_cartridge(const char* path, NewCartridge request) {
  if (std::strcmp(path, "-") == 0) {
    std::fprintf(stderr, "%s: a cartridge is not written to standard output; name an MDR file\n",
                 program_name);
    return 1;
  }
  if (!request.named) {
    name_after_file(path, request.name);
  }
  CartridgePtr cartridge(libspectrum_microdrive_alloc());
  format_cartridge(cartridge.get(), request.name, request.sectors, request.write_protect);
  return save_new_cartridge_image(cartridge.get(), path);
}
