// Reading a cartridge image.
#include "cartridge.h"

namespace {

// The cartridge in `input`, read from `path`.
int parse_cartridge(adapter::ScopedFile& input, const char* path,
                    libspectrum_microdrive* cartridge) {
  CurrentFile reading(path);
  unsigned long reports = library_report_count();
  int error = libspectrum_microdrive_mdr_read(cartridge, input.get()->bytes, input.get()->length);
  report_unexplained(error, reports);
  return error;
}

}  // namespace

int read_cartridge_image(const char* path, libspectrum_microdrive* cartridge) {
  adapter::ScopedFile input;
  if (load_input_file(path, input.get(), adapter::MDR_FILE_LIMIT) != 0) {
    return 1;
  }
  return parse_cartridge(input, path, cartridge);
}

int read_cartridge_descriptor(int fd, const char* path, libspectrum_microdrive* cartridge) {
  adapter::ScopedFile input;
  if (load_input_descriptor(fd, path, input.get(), adapter::MDR_FILE_LIMIT) != 0) {
    return 1;
  }
  return parse_cartridge(input, path, cartridge);
}
