// Library start-up shared by the libspectrum tools: the version check, the
// error handler and the allocators.
#include <dlfcn.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "allocators.h"
#include "host.h"

namespace {

const char* current_file = nullptr;
bool library_quiet = false;
unsigned long library_reports = 0;  // messages written so far

// Writes libspectrum's diagnostics as the library's own handler does, but
// never aborts: an internal error of the library on a bad input file must
// end in the tool's normal failure path, not in a core dump. A message can
// carry bytes of the image (a block tag, a name), so every control byte in
// it is made visible; a newline that ends the library's text is dropped, as
// one is written after it.
__attribute__((format(printf, 2, 0))) libspectrum_error report_library_error(
    libspectrum_error /*error*/, const char* format, va_list ap) {
  if (library_quiet) {
    return LIBSPECTRUM_ERROR_NONE;
  }
  char small[512];
  va_list again;
  va_copy(again, ap);
  int length = std::vsnprintf(small, sizeof small, format, ap);
  char* text = small;
  if (length >= static_cast<int>(sizeof small)) {
    text = static_cast<char*>(std::malloc(static_cast<size_t>(length) + 1));
    if (text == nullptr) {
      memory_exhausted();
    }
    std::vsnprintf(text, static_cast<size_t>(length) + 1, format, again);
  }
  va_end(again);
  if (length < 0) {
    small[0] = '\0';
    length = 0;
  }
  while (length > 0 && text[length - 1] == '\n') {
    text[--length] = '\0';
  }
  ++library_reports;
  std::fputs("libspectrum error: ", stderr);
  if (current_file != nullptr) {
    std::fputc('`', stderr);
    print_visible(stderr, current_file);
    std::fputs("': ", stderr);
  }
  print_visible(stderr, text);
  std::fputc('\n', stderr);
  if (text != small) {
    std::free(text);
  }
  return LIBSPECTRUM_ERROR_NONE;
}

// libaudiofile, through which libspectrum reads WAV files, writes lines of
// its own on standard error ("Audio File Library: ..."), without the
// tool's name and with the path's bytes as they are, before libspectrum's
// message on the same failure: they are dropped. Its handler is set through
// a look-up at run time, as libaudiofile is libspectrum's dependency (where
// libspectrum is built with it), not the tools'.
void silence_audiofile() {
  using ErrorHandler = void (*)(long, const char*);
  using SetErrorHandler = ErrorHandler (*)(ErrorHandler);
  auto set_handler = reinterpret_cast<SetErrorHandler>(dlsym(RTLD_DEFAULT, "afSetErrorHandler"));
  if (set_handler != nullptr) {
    (void)set_handler([](long, const char*) {});
  }
}

}  // namespace

CurrentFile::CurrentFile(const char* path) : outer_(current_file) {
  current_file = path;
}

CurrentFile::~CurrentFile() {
  current_file = outer_;
}

QuietLibrary::QuietLibrary() : outer_(library_quiet) {
  library_quiet = true;
}

QuietLibrary::~QuietLibrary() {
  library_quiet = outer_;
}

unsigned long library_report_count() {
  return library_reports;
}

int library_startup_requiring(const char* required) {
  if (libspectrum_check_version(required) == 0) {
    std::fprintf(stderr, "libspectrum version %s found, but %s required", libspectrum_version(),
                 required);
    return 1;
  }
  libspectrum_error_function = report_library_error;
  silence_audiofile();
  install_library_allocators();
  return libspectrum_init() == LIBSPECTRUM_ERROR_NONE ? 0 : 1;
}

int library_startup() {
  return library_startup_requiring(REQUIRED_LIBSPECTRUM_VERSION);
}
