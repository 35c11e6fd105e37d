// Whole-buffer output to a named file: written in place, or replaced whole.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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
    std::fprintf(stderr, "%s: couldn't open `%s': %s\n", program_name, path, std::strerror(errno));
    return 1;
  }
  size_t written = size > 0 ? std::fwrite(bytes, 1, static_cast<size_t>(size), out) : 0;
  if (written != size) {
    std::fprintf(stderr, "%s: wrote only %lu of %lu bytes to `%s'\n", program_name,
                 static_cast<unsigned long>(written), static_cast<unsigned long>(size), path);
    (void)std::fclose(out);
    return 1;
  }
  if (std::fclose(out) != 0) {
    std::fprintf(stderr, "%s: error closing `%s': %s\n", program_name, path, std::strerror(errno));
    return 1;
  }
  return 0;
}

namespace {

testing_seams::WriteFn output_write = ::write;
testing_seams::FsyncFn output_fsync = ::fsync;
testing_seams::RenameFn output_rename = std::rename;

// The new file that a signal must not leave behind, while there is one.
const char* volatile pending_file = nullptr;

constexpr int CLEANUP_SIGNALS[] = {SIGHUP, SIGINT, SIGTERM};

extern "C" void remove_pending_file(int signal_number) {
  const char* path = pending_file;
  if (path != nullptr) {
    (void)unlink(path);
  }
  // The handler was reset to the default one: end the run as the signal would have.
  (void)raise(signal_number);
}

// Removes the new file if a signal ends the run while it exists; the
// destructor gives the signals their former handling back. A signal that
// was being ignored stays ignored.
class PendingFile {
 public:
  explicit PendingFile(const std::string& path) : path_(path) {
    for (size_t i = 0; i < std::size(CLEANUP_SIGNALS); ++i) {
      installed_[i] = false;
      if (sigaction(CLEANUP_SIGNALS[i], nullptr, &former_[i]) != 0 ||
          former_[i].sa_handler == SIG_IGN) {
        continue;
      }
      struct sigaction action {};
      action.sa_handler = remove_pending_file;
      sigemptyset(&action.sa_mask);
      action.sa_flags = static_cast<int>(SA_RESETHAND);  // an unsigned constant in glibc
      installed_[i] = sigaction(CLEANUP_SIGNALS[i], &action, nullptr) == 0;
    }
    pending_file = path_.c_str();
  }
  ~PendingFile() {
    pending_file = nullptr;
    for (size_t i = 0; i < std::size(CLEANUP_SIGNALS); ++i) {
      if (installed_[i]) {
        (void)sigaction(CLEANUP_SIGNALS[i], &former_[i], nullptr);
      }
    }
  }
  // Removes the file now (it was not renamed into place).
  void remove() {
    pending_file = nullptr;
    (void)unlink(path_.c_str());
  }
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

 private:
  std::string path_;
  struct sigaction former_[std::size(CLEANUP_SIGNALS)];
  bool installed_[std::size(CLEANUP_SIGNALS)];
};

// Creates a new, empty file beside `path` for its replacement, named
// ".NAME.PID-N.tmp" in the same folder. Returns the descriptor, or -1 with
// errno set.
int create_beside(const std::string& path, std::string* created) {
  size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  // Short enough that the added parts keep the name within NAME_MAX.
  std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1).substr(0, 200);
  for (unsigned attempt = 0; attempt < 1000; ++attempt) {
    *created = folder + "." + name + "." + std::to_string(getpid()) + "-" +
               std::to_string(attempt) + ".tmp";
    int fd = open(created->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) {
      return fd;
    }
  }
  errno = EEXIST;
  return -1;
}

// Writes all `size` bytes to `fd`. Returns 0, or -1 with errno set.
int write_all(int fd, const unsigned char* bytes, uint64_t size) {
  while (size > 0) {
    size_t chunk = size > (uint64_t{1} << 30) ? size_t{1} << 30 : static_cast<size_t>(size);
    ssize_t written = output_write(fd, bytes, chunk);
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return -1;
    }
    if (written == 0) {
      errno = EIO;
      return -1;
    }
    bytes += written;
    size -= static_cast<uint64_t>(written);
  }
  return 0;
}

int report(const char* what, const char* path, int error) {
  std::fprintf(stderr, "%s: couldn't %s `%s': %s\n", program_name, what, path,
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

int replace_output_file(const char* path, const unsigned char* bytes, uint64_t size) {
  struct stat existing {};
  bool exists = stat(path, &existing) == 0;
  if (exists && S_ISDIR(existing.st_mode)) {
    return report("open", path, EISDIR);
  }
  if (exists && !S_ISREG(existing.st_mode)) {
    return save_output_file(path, bytes, size);
  }
  if (exists && access(path, W_OK) != 0) {
    return report("open", path, errno);
  }
  std::string created;
  int fd = create_beside(path, &created);
  if (fd < 0) {
    return report("open", path, errno);
  }
  PendingFile pending(created);
  int error = 0;
  if (write_all(fd, bytes, size) != 0) {
    error = errno;
  } else if (exists) {
    // The owner can be kept only by a caller allowed to give files away.
    (void)fchown(fd, existing.st_uid, existing.st_gid);
    if (fchmod(fd, existing.st_mode & 0777) != 0) {
      error = errno;
    }
  }
  if (error == 0 && output_fsync(fd) != 0) {
    error = errno;
  }
  if (close(fd) != 0 && error == 0) {
    error = errno;
  }
  if (error == 0 && output_rename(created.c_str(), path) != 0) {
    error = errno;
  }
  if (error != 0) {
    pending.remove();
    return report("write", path, error);
  }
  // The rename itself reaches the disk with the folder; a failure here
  // loses nothing that is not already in place.
  std::string folder(path, std::strrchr(path, '/') != nullptr ? std::strrchr(path, '/') + 1 : path);
  int folder_fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder_fd >= 0) {
    (void)output_fsync(folder_fd);
    (void)close(folder_fd);
  }
  return 0;
}
