// Library start-up and whole-file input shared by the libspectrum tools.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "support.h"

const char* program_name = "";

namespace {

// Writes libspectrum's diagnostics as the library's own handler does, but
// never aborts: an internal error of the library on a bad input file must
// end in the tool's normal failure path, not in a core dump.
__attribute__((format(printf, 2, 0))) libspectrum_error report_library_error(
    libspectrum_error /*error*/, const char* format, va_list ap) {
  std::fputs("libspectrum error: ", stderr);
  std::vfprintf(stderr, format, ap);
  std::fputc('\n', stderr);
  return LIBSPECTRUM_ERROR_NONE;
}

// libspectrum leaves some fields of the blocks it builds unset; handing it
// zeroed memory makes every run over the same file behave the same.
void* zeroed_malloc(size_t size) { return std::calloc(1, size); }

libspectrum_mem_vtable_t zeroing_allocators = {zeroed_malloc, std::calloc, std::realloc,
                                               std::free};

}  // namespace

int library_startup_requiring(const char* required) {
  if (libspectrum_check_version(required) == 0) {
    std::fprintf(stderr, "libspectrum version %s found, but %s required", libspectrum_version(),
                 required);
    return 1;
  }
  libspectrum_error_function = report_library_error;
  libspectrum_mem_set_vtable(&zeroing_allocators);
  return libspectrum_init() == LIBSPECTRUM_ERROR_NONE ? 0 : 1;
}

int library_startup() { return library_startup_requiring(REQUIRED_LIBSPECTRUM_VERSION); }

int load_input_file(const char* path, adapter::File* file) {
  adapter::file_init(file);
  int error = adapter::file_open(file, path);
  if (error != 0) {
    std::fprintf(stderr, "%s: couldn't read `%s' (libspectrum error %d)\n", program_name, path,
                 error);
  }
  return error;
}
