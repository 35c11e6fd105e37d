// Reading input files whole, and what is said when libspectrum fails without a word.
#include <cstdarg>
#include <cstdio>

#include "host.h"

namespace {

// Writes a message through the handler that writes libspectrum's own.
__attribute__((format(printf, 2, 3))) void library_message(libspectrum_error error,
                                                           const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  (void)libspectrum_error_function(error, format, ap);
  va_end(ap);
}

}  // namespace

namespace {

int report_unread(const char* path, int error) {
  if (error != 0) {
    std::fprintf(stderr, "%s: couldn't read `%s' (libspectrum error %d)\n", program_name,
                 visible_text(path).c_str(), error);
  }
  return error;
}

}  // namespace

int load_input_file(const char* path, adapter::File* file, size_t limit) {
  return report_unread(path, adapter::file_open(file, path, limit));
}

int load_input_descriptor(int fd, const char* path, adapter::File* file, size_t limit) {
  return report_unread(path, adapter::file_read(file, fd, path, limit));
}

void report_unopened_input(const char* path, int error) {
  adapter::report_unopened(path, error);
  (void)report_unread(path, LIBSPECTRUM_ERROR_UNKNOWN);
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
