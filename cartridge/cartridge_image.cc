// Reading a cartridge image.
#include "cartridge.h"

int read_cartridge_image(const char* path, libspectrum_microdrive* cartridge) {
  adapter::ScopedFile input;
  if (load_input_file(path, input.get(), adapter::MDR_FILE_LIMIT) != 0) {
    return 1;
  }
  CurrentFile reading(path);
  unsigned long reports = library_report_count();
  int error = libspectrum_microdrive_mdr_read(cartridge, input.get()->bytes, input.get()->length);
  report_unexplained(error, reports);
  return error;
}
