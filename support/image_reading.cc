// Reading image files whole, and cartridges and tapes from them.
#include <cstdio>

#include "allocators.h"
#include "support.h"

int load_input_file(const char* path, adapter::File* file, size_t limit) {
  adapter::file_init(file);
  int error = adapter::file_open(file, path, limit);
  if (error != 0) {
    std::fprintf(stderr, "%s: couldn't read `%s' (libspectrum error %d)\n", program_name, path,
                 error);
  }
  return error;
}

int read_cartridge_image(const char* path, libspectrum_microdrive* cartridge) {
  adapter::ScopedFile input;
  if (load_input_file(path, input.get(), adapter::MDR_FILE_LIMIT) != 0) {
    return 1;
  }
  CurrentFile reading(path);
  return libspectrum_microdrive_mdr_read(cartridge, input.get()->bytes, input.get()->length);
}

int read_tape_image(libspectrum_tape* tape, const adapter::File& file) {
  CurrentFile reading(file.name);
  begin_watch(tape);
  libspectrum_error error =
      libspectrum_tape_read(tape, file.bytes, file.length, file.type, file.name);
  if (kept_was_freed() && error == LIBSPECTRUM_ERROR_NONE) {
    error = LIBSPECTRUM_ERROR_LOGIC;  // a reader let go of the tape, so it failed
  }
  if (error != LIBSPECTRUM_ERROR_NONE) {
    // Whatever the failed parse allocated and did not hand to the tape, or
    // give back, is lost: release the tape's blocks, then the rest.
    (void)libspectrum_tape_clear(tape);
    end_watch(true);
    return error;
  }
  end_watch(false);
  return 0;
}
