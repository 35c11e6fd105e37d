// Parsing a tape image.
#include "allocators.h"
#include "tape.h"

int read_tape_image(libspectrum_tape* tape, const adapter::File& file, bool expanded) {
  CurrentFile reading(file.name);
  unsigned long reports = library_report_count();
  begin_watch(tape);
  libspectrum_error error = libspectrum_tape_read(tape, file.bytes, file.length, file.type,
                                                  expanded ? nullptr : file.name);
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
