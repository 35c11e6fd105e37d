// A blank cartridge made as a new file; see blankcart.h.
#include "blankcart.h"

#include "support.h"

int make_blank_cartridge(const char* path, NewCartridge request) {
  if (!request.named) {
    name_after_file(path, request.name);
  }
  CartridgePtr cartridge(libspectrum_microdrive_alloc());
  format_cartridge(cartridge.get(), request.name, request.sectors, request.write_protect);
  return save_cartridge_image(cartridge.get(), path, true);
}
