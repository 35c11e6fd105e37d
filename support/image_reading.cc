// Reading image files whole, and cartridges and tapes from them.
#include <cstdarg>
#include <cstdio>

#include "allocators.h"
#include "support.h"

namespace {

// Writes a message through the handler that writes libspectrum's own.
__attribute__((format(printf, 2, 3))) void library_message(libspectrum_error error,
                                                           const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  (void)libspectrum_error_function(error, format, ap);
  va_end(ap);
}

// libspectrum fails some reads without a word (a ZIP archive whose image it
// cannot take, for one): say that it failed, so that no run ends in failure
// with nothing said.
void report_unexplained(int error, unsigned long reports_before) {
  if (error != 0 && library_report_count() == reports_before) {
    library_message(static_cast<libspectrum_error>(error),
                    "the image could not be read (libspectrum error %d)", error);
  }
}

}  // namespace

int load_input_file(const char* path, adapter::File* file, size_t limit) {
  adapter::file_init(file);
  int error = adapter::file_open(file, path, limit);
  if (error != 0) {
    std::fprintf(stderr, "%s: couldn't read `%s' (libspectrum error %d)\n", program_name,
                 visible_text(path).c_str(), error);
  }
  return error;
}

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

int read_tape_image(libspectrum_tape* tape, const adapter::File& file) {
  CurrentFile reading(file.name);
  unsigned long reports = library_report_count();
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
    report_unexplained(error, reports);
    return error;
  }
  end_watch(false);
  return 0;
}
