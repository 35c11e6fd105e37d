// Whole-buffer output to a named file: written in place, or replaced whole.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>

#include "output_file_seam.h"
#include "support.h"

int save_output_file(const char* path, const unsigned char* bytes, uint64_t size) {
  std::FILE* out = std::fopen(path, "wb");
  if (out == nullptr) {
    std::fprintf(stderr, "%s: couldn't open `%s': %s\n", program_name, visible_text(path).c_str(),
                 std::strerror(errno));
    return 1;
  }
  size_t written = size > 0 ? std::fwrite(bytes, 1, static_cast<size_t>(size), out) : 0;
  if (written != size) {
    std::fprintf(stderr, "%s: wrote only %lu of %lu bytes to `%s'\n", program_name,
                 static_cast<unsigned long>(written), static_cast<unsigned long>(size),
                 visible_text(path).c_str());
    (void)std::fclose(out);
    return 1;
  }
  if (std::fclose(out) != 0) {
    std::fprintf(stderr, "%s: error closing `%s': %s\n", program_name, visible_text(path).c_str(),
                 std::strerror(errno));
    return 1;
  }
  return 0;
}

namespace {

testing_seams::WriteFn output_write = ::write;
testing_seams::FsyncFn output_fsync = ::fsync;
testing_seams::RenameFn output_rename = std::rename;

// The new file that a signal must not leave behind, while there is one,
// and the handling of the signals before it was watched.
const char* volatile pending_file = nullptr;

constexpr int CLEANUP_SIGNALS[] = {SIGHUP, SIGINT, SIGTERM};
struct sigaction former_actions[std::size(CLEANUP_SIGNALS)];
bool installed[std::size(CLEANUP_SIGNALS)];

extern "C" void remove_pending_file(int signal_number) {
  const char* path = pending_file;
  if (path != nullptr) {
    (void)unlink(path);
  }
  // The handler was reset to the default one: end the run as the signal would have.
  (void)raise(signal_number);
}

// Removes `path` if a signal ends the run before unwatch_pending(). A signal
// that was being ignored stays ignored.
void watch_pending(const char* path) {
  pending_file = path;
  for (size_t i = 0; i < std::size(CLEANUP_SIGNALS); ++i) {
    installed[i] = false;
    if (sigaction(CLEANUP_SIGNALS[i], nullptr, &former_actions[i]) != 0 ||
        former_actions[i].sa_handler == SIG_IGN) {
      continue;
    }
    struct sigaction action {};
    action.sa_handler = remove_pending_file;
    sigemptyset(&action.sa_mask);
    action.sa_flags = static_cast<int>(SA_RESETHAND);  // an unsigned constant in glibc
    installed[i] = sigaction(CLEANUP_SIGNALS[i], &action, nullptr) == 0;
  }
}

void unwatch_pending() {
  pending_file = nullptr;
  for (size_t i = 0; i < std::size(CLEANUP_SIGNALS); ++i) {
    if (installed[i]) {
      (void)sigaction(CLEANUP_SIGNALS[i], &former_actions[i], nullptr);
      installed[i] = false;
    }
  }
}

// Creates a new, empty file beside `path` for its replacement, named
// ".NAME.PID-N.tmp" in the same folder, and watches it. Returns the
// descriptor, or -1 with errno set.
int create_beside(const std::string& path, std::string* created) {
  size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  // Short enough that the added parts keep the name within NAME_MAX.
  std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1).substr(0, 200);
  for (unsigned attempt = 0; attempt < 1000; ++attempt) {
    *created = folder + "." + name + "." + std::to_string(getpid()) + "-" +
               std::to_string(attempt) + ".tmp";
    // Watched before it exists, so that no signal can leave it behind.
    watch_pending(created->c_str());
    int fd = ::open(created->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      return fd;
    }
    int error = errno;
    unwatch_pending();
    if (error != EEXIST) {
      errno = error;
      return -1;
    }
  }
  errno = EEXIST;
  return -1;
}

int report(const char* what, const char* path, int error) {
  std::fprintf(stderr, "%s: couldn't %s `%s': %s\n", program_name, what, visible_text(path).c_str(),
               std::strerror(error));
  return 1;
}

}  // namespace

namespace testing_seams {
void set_output_calls(WriteFn write, FsyncFn fsync, RenameFn rename) {
  output_write = write != nullptr ? write : ::write;
  output_fsync = fsync != nullptr ? fsync : ::fsync;
  output_rename = rename != nullptr ? rename : std::rename;
}
}  // namespace testing_seams

int ReplacedFile::open(const char* path, OutputMode mode) {
  struct stat existing {};
  must_be_new_ = mode == OutputMode::NewOnly;
  if (*path == '\0') {
    return ENOENT;
  }
  if (must_be_new_ && lstat(path, &existing) == 0) {
    return EEXIST;  // a dangling link too: what it names is not made
  }
  existed_ = stat(path, &existing) == 0;
  if (existed_ && S_ISDIR(existing.st_mode)) {
    return EISDIR;
  }
  if (existed_ && !S_ISREG(existing.st_mode)) {
    if (mode == OutputMode::WholeOnly) {
      return EINVAL;
    }
    stream_ = std::fopen(path, "wb");
    return stream_ != nullptr ? 0 : errno;
  }
  target_ = path;
  if (existed_) {
    if (access(path, W_OK) != 0) {
      return errno;
    }
    char resolved[PATH_MAX];
    if (realpath(path, resolved) != nullptr) {
      target_ = resolved;
    }
  }
  int fd = create_beside(target_, &temporary_);
  if (fd < 0) {
    int error = errno;
    temporary_.clear();
    if (!existed_ || mode != OutputMode::Replace || (error != EACCES && error != EPERM)) {
      return error;
    }
    stream_ = std::fopen(path, "wb");
    return stream_ != nullptr ? 0 : errno;
  }
  if (existed_) {
    // The owner can be kept only by a caller allowed to give files away.
    (void)fchown(fd, existing.st_uid, existing.st_gid);
  }
  if ((existed_ && fchmod(fd, existing.st_mode & 0777) != 0) ||
      (stream_ = fdopen(fd, "wb")) == nullptr) {
    int error = errno;
    (void)close(fd);
    abandon(false);
    return error;
  }
  return 0;
}

int ReplacedFile::write_all(const unsigned char* bytes, uint64_t size) {
  int fd = fileno(stream_);
  while (size > 0) {
    size_t chunk = size > (uint64_t{1} << 30) ? size_t{1} << 30 : static_cast<size_t>(size);
    ssize_t written = output_write(fd, bytes, chunk);
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return errno;
    }
    if (written == 0) {
      return EIO;
    }
    bytes += written;
    size -= static_cast<uint64_t>(written);
  }
  return 0;
}

int ReplacedFile::commit() {
  int error = 0;
  errno = 0;
  if (std::fflush(stream_) != 0 || std::ferror(stream_)) {
    error = errno != 0 ? errno : EIO;
  }
  if (error == 0 && !temporary_.empty() && output_fsync(fileno(stream_)) != 0) {
    error = errno;
  }
  if (std::fclose(stream_) != 0 && error == 0) {
    error = errno;
  }
  stream_ = nullptr;
  if (error == 0 && !temporary_.empty()) {
    error = put_in_place();
  }
  if (error != 0) {
    return error;  // the caller abandons the file
  }
  if (!temporary_.empty()) {
    temporary_.clear();
    unwatch_pending();
    // The rename itself reaches the disk with the folder; a failure here
    // loses nothing that is not already in place.
    size_t slash = target_.rfind('/');
    std::string folder = slash == std::string::npos ? "." : target_.substr(0, slash + 1);
    int folder_fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder_fd >= 0) {
      (void)output_fsync(folder_fd);
      (void)close(folder_fd);
    }
  }
  return 0;
}

void ReplacedFile::abandon(bool keep_new) {
  if (stream_ != nullptr) {
    (void)std::fclose(stream_);
    stream_ = nullptr;
  }
  if (temporary_.empty()) {
    return;
  }
  if (keep_new && !existed_ && put_in_place() == 0) {
    temporary_.clear();
    unwatch_pending();
    return;
  }
  (void)unlink(temporary_.c_str());
  temporary_.clear();
  unwatch_pending();
}

int ReplacedFile::put_in_place() {
  if (!must_be_new_) {
    return output_rename(temporary_.c_str(), target_.c_str()) != 0 ? errno : 0;
  }
  // A new name for the file that fails when the name has been taken
  // meanwhile; where the file system has no links, the name is looked at
  // once more before the rename.
  if (link(temporary_.c_str(), target_.c_str()) == 0) {
    (void)unlink(temporary_.c_str());
    return 0;
  }
  int error = errno;
  struct stat taken {};
  if (error == EEXIST || lstat(target_.c_str(), &taken) == 0) {
    return EEXIST;
  }
  if (error != EPERM && error != ENOTSUP && error != EOPNOTSUPP && error != EMLINK &&
      error != ENOSYS) {
    return error;
  }
  return output_rename(temporary_.c_str(), target_.c_str()) != 0 ? errno : 0;
}

namespace {

// The whole of writing `size` bytes through a ReplacedFile.
int output_whole(const char* path, const unsigned char* bytes, uint64_t size, OutputMode mode) {
  ReplacedFile file;
  bool must_be_new = mode == OutputMode::NewOnly;
  int error = file.open(path, mode);
  if (error != 0 && mode == OutputMode::WholeOnly && access(path, F_OK) == 0 && error != EISDIR) {
    std::fprintf(stderr, "%s: couldn't replace `%s' whole: %s; it is left as it was\n",
                 program_name, visible_text(path).c_str(),
                 error == EINVAL ? "it is no regular file" : std::strerror(error));
    return 1;
  }
  if (error == EEXIST && must_be_new) {
    std::fprintf(stderr, "%s: `%s' exists already; not overwritten\n", program_name,
                 visible_text(path).c_str());
    return 1;
  }
  if (error != 0) {
    return report("open", path, error);
  }
  error = file.write_all(bytes, size);
  if (error == 0) {
    error = file.commit();
  }
  if (error == EEXIST && must_be_new) {
    file.abandon(false);
    std::fprintf(stderr, "%s: `%s' exists already; not overwritten\n", program_name,
                 visible_text(path).c_str());
    return 1;
  }
  if (error != 0) {
    file.abandon(false);
    return report("write", path, error);
  }
  return 0;
}

}  // namespace

int replace_output_file(const char* path, const unsigned char* bytes, uint64_t size,
                        OutputMode mode) {
  return output_whole(path, bytes, size, mode);
}

int create_output_file(const char* path, const unsigned char* bytes, uint64_t size) {
  return output_whole(path, bytes, size, OutputMode::NewOnly);
}
