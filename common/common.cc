// The services every tool shares; see common.h.
#include "common.h"

#include <fcntl.h>
#include <stdio_ext.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "config.h"

const char* program_name = "";

namespace {

// A descriptor of the three that was closed is opened on /dev/null, for
// writing where the tool reads and for reading where it writes, so that a
// use of it still fails as it would have on the closed descriptor.
void open_standard_streams() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) {
      continue;
    }
    int opened = open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY);
    if (opened != fd) {
      // Nothing can be said safely: any message might land in a file.
      _exit(1);
    }
  }
}

void new_failed() {
  memory_exhausted();
}

}  // namespace

void start_tool(const char* argv0) {
  program_name = argv0;
  open_standard_streams();
  // A write past the file-size limit then fails with EFBIG, which the tools
  // report and clean up after, instead of ending the run without a word.
  (void)std::signal(SIGXFSZ, SIG_IGN);
  std::set_new_handler(new_failed);
}

int close_standard_output() {
  bool pending = __fpending(stdout) != 0;
  bool failed_before = std::ferror(stdout) != 0;
  errno = 0;
  bool close_failed = std::fclose(stdout) != 0;
  int error = errno;
  // A descriptor that was never open loses nothing if nothing was written.
  if (failed_before || (close_failed && (pending || error != EBADF))) {
    std::fprintf(stderr, "%s: write error: %s\n", program_name,
                 std::strerror(close_failed && error != 0 ? error : EIO));
    return 1;
  }
  return 0;
}

const char* base_name(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash != nullptr ? slash + 1 : path;
}

void print_try_help() {
  std::fprintf(stderr, "Try `%s --help' for more information.\n", program_name);
}

int usage_error(const char* synopsis) {
  std::fprintf(stderr, "%s: usage: %s %s\n", program_name, program_name, synopsis);
  print_try_help();
  return 1;
}

void print_help_tail(const char* tool) {
  std::printf(
      "Report %s bugs to <%s>\n%s home page: <%s>\nFor complete documentation, see the manual page of %s.\n",
      tool, QUILLKIT_BUG_ADDRESS, QUILLKIT_PACKAGE, QUILLKIT_HOME_PAGE, tool);
}

void print_version(const char* tool) {
  std::printf("%s (" QUILLKIT_PACKAGE ") " QUILLKIT_VERSION "\n" QUILLKIT_VERSION_TRAILER "\n",
              tool);
}

void report_bad_option(int c) {
  if (c != '?') {
    std::fprintf(stderr, "%s: unknown option `%c'\n", program_name, c);
  }
}

namespace {

// The length of the valid UTF-8 sequence at `text`, or 0; `*printable`
// tells whether it encodes a printable character (U+00A0 and above) rather
// than a C1 control.
size_t utf8_sequence(const unsigned char* text, bool* printable) {
  unsigned lead = text[0];
  size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
  if (lead < 0xC2 || lead > 0xF4) {
    return 0;  // a continuation byte, an overlong lead, or past U+10FFFF
  }
  uint32_t code = lead & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    if ((text[i] & 0xC0) != 0x80) {
      return 0;
    }
    code = (code << 6) | (text[i] & 0x3F);
  }
  bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
  bool surrogate = code >= 0xD800 && code <= 0xDFFF;
  if (overlong || surrogate || code > 0x10FFFF) {
    return 0;
  }
  *printable = code >= 0xA0;
  return length;
}

}  // namespace

std::string visible_text(const char* text) {
  std::string shown;
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  while (*p != '\0') {
    if (*p >= 0x20 && *p < 0x7F) {
      shown += static_cast<char>(*p++);
      continue;
    }
    bool printable = false;
    size_t length = *p >= 0x80 ? utf8_sequence(p, &printable) : 0;
    if (printable) {
      shown.append(reinterpret_cast<const char*>(p), length);
    } else {
      shown += '?';
    }
    p += length == 0 ? 1 : length;
  }
  return shown;
}

void print_visible(std::FILE* out, const char* text) {
  std::fputs(visible_text(text).c_str(), out);
}

void memory_exhausted() {
  std::fprintf(stderr, "%s: memory exhausted\n", program_name);
  std::exit(1);
}

int write_whole(int fd, const void* bytes, uint64_t size, WriteCall call) {
  const auto* next = static_cast<const unsigned char*>(bytes);
  while (size > 0) {
    // At most 1 GiB a call: some systems refuse more, and ssize_t must hold it.
    size_t chunk = size > (uint64_t{1} << 30) ? size_t{1} << 30 : static_cast<size_t>(size);
    ssize_t written = call(fd, next, chunk);
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      return written < 0 ? errno : EIO;
    }
    next += written;
    size -= static_cast<uint64_t>(written);
  }
  return 0;
}

std::string file_name_argument(const char* text) {
  std::string name = text;
  name.erase(name.find_last_not_of(' ') + 1);
  return name;
}
