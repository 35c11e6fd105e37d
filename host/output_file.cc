// Whole-buffer output to a named file: written in place, or replaced whole.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>

#include "host.h"
#include "output_file_seam.h"

namespace {

testing_seams::WriteFn output_write = ::write;
testing_seams::FsyncFn output_fsync = ::fsync;
testing_seams::RenameFn output_rename = ::renameat;

// The new files that a signal must not leave behind, each an entry of an
// open folder; a handler reads them at any moment, so each part is a
// lock-free atomic, the name set last and cleared first.
struct PendingFile {
  std::atomic<int> folder{-1};
  std::atomic<const char*> name{nullptr};
};
static_assert(std::atomic<int>::is_always_lock_free &&
                  std::atomic<const char*>::is_always_lock_free,
              "a signal handler may read them");
PendingFile pending[ReplacedFile::MAX_REPLACED_FILES];
int pending_count = 0;  // slots in use; changed outside handlers only

constexpr int CLEANUP_SIGNALS[] = {SIGHUP, SIGINT, SIGTERM};
struct sigaction former_actions[std::size(CLEANUP_SIGNALS)];
bool installed[std::size(CLEANUP_SIGNALS)];

extern "C" void remove_pending_files(int signal_number) {
  for (PendingFile& file : pending) {
    const char* name = file.name.load();
    if (name != nullptr) {
      (void)unlinkat(file.folder.load(), name, 0);
    }
  }
  // The handler was reset to the default one: end the run as the signal would have.
  (void)raise(signal_number);
}

// Handles the signals while any new file is watched. A signal that was
// being ignored stays ignored.
void install_handlers() {
  for (size_t i = 0; i < std::size(CLEANUP_SIGNALS); ++i) {
    installed[i] = false;
    if (sigaction(CLEANUP_SIGNALS[i], nullptr, &former_actions[i]) != 0 ||
        former_actions[i].sa_handler == SIG_IGN) {
      continue;
    }
    struct sigaction action {};
    action.sa_handler = remove_pending_files;
    sigemptyset(&action.sa_mask);
    action.sa_flags = static_cast<int>(SA_RESETHAND);  // an unsigned constant in glibc
    installed[i] = sigaction(CLEANUP_SIGNALS[i], &action, nullptr) == 0;
  }
}

void restore_handlers() {
  for (size_t i = 0; i < std::size(CLEANUP_SIGNALS); ++i) {
    if (installed[i]) {
      (void)sigaction(CLEANUP_SIGNALS[i], &former_actions[i], nullptr);
      installed[i] = false;
    }
  }
}

// Removes the entry `name` of `folder` if a signal ends the run before
// unwatch(). Returns its slot, or -1 when every slot is taken.
int watch(int folder, const char* name) {
  for (int slot = 0; slot < ReplacedFile::MAX_REPLACED_FILES; ++slot) {
    if (pending[slot].name.load() == nullptr) {
      if (pending_count++ == 0) {
        install_handlers();
      }
      pending[slot].folder.store(folder);
      pending[slot].name.store(name);
      return slot;
    }
  }
  return -1;
}

void unwatch(int slot) {
  pending[slot].name.store(nullptr);
  pending[slot].folder.store(-1);
  if (--pending_count == 0) {
    restore_handlers();
  }
}

int report(const char* what, const char* path, int error) {
  std::fprintf(stderr, "%s: couldn't %s `", program_name, what);
  print_visible(stderr, path);
  std::fprintf(stderr, "': %s\n", std::strerror(error));
  return 1;
}

void report_exists(const char* path) {
  std::fprintf(stderr, "%s: `", program_name);
  print_visible(stderr, path);
  std::fprintf(stderr, "' exists already; not overwritten\n");
}

}  // namespace

namespace testing_seams {
void set_output_calls(WriteFn write, FsyncFn fsync, RenameFn rename) {
  output_write = write != nullptr ? write : ::write;
  output_fsync = fsync != nullptr ? fsync : ::fsync;
  output_rename = rename != nullptr ? rename : ::renameat;
}
}  // namespace testing_seams

ReplacedFile::~ReplacedFile() {
  abandon(false);
}

int ReplacedFile::open(const char* path, OutputMode mode) {
  struct stat existing {};
  if (*path == '\0') {
    return ENOENT;
  }
  if (mode == OutputMode::NewOnly && lstat(path, &existing) == 0) {
    return EEXIST;  // a dangling link too: what it names is not made
  }
  bool existed = stat(path, &existing) == 0;
  if (existed && S_ISDIR(existing.st_mode)) {
    return EISDIR;
  }
  if (existed && !S_ISREG(existing.st_mode)) {
    if (mode == OutputMode::WholeOnly) {
      return EINVAL;
    }
    stream_ = std::fopen(path, "wb");
    return stream_ != nullptr ? 0 : errno;
  }
  FolderEntry entry;
  int error = entry.look_up(path);
  if (error != 0) {
    return error;
  }
  // From here on the folder decides: what its entry is now is what is replaced.
  // A link that names nothing is replaced by the new file, as a new name.
  existed = entry.status(&existing) == 0 && !S_ISLNK(existing.st_mode);
  if (existed && !S_ISREG(existing.st_mode)) {
    return mode == OutputMode::NewOnly ? EEXIST : EINVAL;
  }
  if (existed && mode == OutputMode::NewOnly) {
    return EEXIST;
  }
  error = open_in(entry.folder(), entry.name(), mode, existed ? &existing : nullptr);
  if (error != 0 && existed && mode == OutputMode::Replace && (error == EACCES || error == EPERM)) {
    // No new file can be made in the folder: write this one in place.
    stream_ = std::fopen(path, "wb");
    return stream_ != nullptr ? 0 : errno;
  }
  return error;
}

int ReplacedFile::open_in(int folder, const char* name, OutputMode mode,
                          const struct stat* replaced) {
  abandon(false);
  must_be_new_ = mode == OutputMode::NewOnly;
  existed_ = replaced != nullptr;
  check_replaced_ = existed_ && mode == OutputMode::WholeOnly;
  if (existed_) {
    replaced_ = *replaced;
  }
  // Replacing a file is writing it: a user who may not write it may not
  // replace it either.
  if (existed_ && faccessat(folder, name, W_OK, 0) != 0) {
    return errno;
  }
  folder_ = fcntl(folder, F_DUPFD_CLOEXEC, 0);
  if (folder_ < 0) {
    return errno;
  }
  target_ = name;
  int fd = create_beside();
  if (fd < 0) {
    int error = errno;
    forget();
    return error;
  }
  if (existed_) {
    // The owner can be kept only by a caller allowed to give files away.
    (void)fchown(fd, replaced->st_uid, replaced->st_gid);
  }
  if ((existed_ && fchmod(fd, replaced->st_mode & 0777) != 0) ||
      (stream_ = fdopen(fd, "wb")) == nullptr) {
    int error = errno;
    (void)close(fd);
    abandon(false);
    return error;
  }
  return 0;
}

// The new file is named ".NAME.PID-N.tmp", in the target's folder.
int ReplacedFile::create_beside() {
  // Short enough that the added parts keep the name within NAME_MAX.
  std::string name = target_.substr(0, 200);
  for (unsigned attempt = 0; attempt < 1000; ++attempt) {
    temporary_ =
        "." + name + "." + std::to_string(getpid()) + "-" + std::to_string(attempt) + ".tmp";
    // Watched before it exists, so that no signal can leave it behind.
    watch_ = watch(folder_, temporary_.c_str());
    if (watch_ < 0) {
      temporary_.clear();
      errno = EMFILE;
      return -1;
    }
    int fd = openat(folder_, temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      return fd;
    }
    int error = errno;
    unwatch(watch_);
    watch_ = -1;
    temporary_.clear();
    if (error != EEXIST) {
      errno = error;
      return -1;
    }
  }
  errno = EEXIST;
  return -1;
}

int ReplacedFile::write_all(const unsigned char* bytes, uint64_t size) {
  return write_whole(fileno(stream_), bytes, size, output_write);
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
  if (folder_ >= 0) {
    // The rename itself reaches the disk with the folder; a failure here
    // loses nothing that is not already in place.
    (void)output_fsync(folder_);
  }
  forget();
  return 0;
}

void ReplacedFile::abandon(bool keep_new) {
  if (stream_ != nullptr) {
    (void)std::fclose(stream_);
    stream_ = nullptr;
  }
  if (!temporary_.empty() && !(keep_new && !existed_ && put_in_place() == 0)) {
    (void)unlinkat(folder_, temporary_.c_str(), 0);
  }
  forget();
}

void ReplacedFile::forget() {
  if (watch_ >= 0) {
    unwatch(watch_);
    watch_ = -1;
  }
  temporary_.clear();
  if (folder_ >= 0) {
    (void)close(folder_);
    folder_ = -1;
  }
}

int ReplacedFile::put_in_place() {
  const char* from = temporary_.c_str();
  const char* to = target_.c_str();
  struct stat now {};
  if (check_replaced_ &&
      (fstatat(folder_, to, &now, AT_SYMLINK_NOFOLLOW) != 0 || !same_file(now, replaced_))) {
    return ESTALE;  // another file has taken the name: it is not ours to replace
  }
  if (!must_be_new_) {
    return output_rename(folder_, from, folder_, to) != 0 ? errno : 0;
  }
  // A new name for the file that fails when the name has been taken
  // meanwhile; where the file system has no links, the name is looked at
  // once more before the rename.
  if (linkat(folder_, from, folder_, to, 0) == 0) {
    (void)unlinkat(folder_, from, 0);
    temporary_.clear();
    return 0;
  }
  int error = errno;
  if (error == EEXIST || fstatat(folder_, to, &now, AT_SYMLINK_NOFOLLOW) == 0) {
    return EEXIST;
  }
  if (error != EPERM && error != ENOTSUP && error != EOPNOTSUPP && error != EMLINK &&
      error != ENOSYS) {
    return error;
  }
  return output_rename(folder_, from, folder_, to) != 0 ? errno : 0;
}

namespace {

// The whole of writing `size` bytes through `file`, opened by `opened` (an
// errno value).
int output_whole(ReplacedFile& file, int opened, const char* path, const unsigned char* bytes,
                 uint64_t size, OutputMode mode) {
  bool must_be_new = mode == OutputMode::NewOnly;
  int error = opened;
  if (error != 0 && mode == OutputMode::WholeOnly && access(path, F_OK) == 0 && error != EISDIR) {
    std::fprintf(stderr, "%s: couldn't replace `", program_name);
    print_visible(stderr, path);
    std::fprintf(stderr, "' whole: %s; it is left as it was\n",
                 error == EINVAL ? "it is no regular file" : std::strerror(error));
    return 1;
  }
  if (error == EEXIST && must_be_new) {
    report_exists(path);
    return 1;
  }
  if (error != 0) {
    return report("open", path, error);
  }
  error = file.write_all(bytes, size);
  if (error == 0) {
    error = file.commit();
  }
  if (error != 0) {
    file.abandon(false);
  }
  if (error == EEXIST && must_be_new) {
    report_exists(path);
    return 1;
  }
  if (error == ESTALE && mode == OutputMode::WholeOnly) {
    std::fprintf(stderr, "%s: `", program_name);
    print_visible(stderr, path);
    std::fprintf(stderr, "' was replaced while this ran; it is left as it was\n");
    return 1;
  }
  return error != 0 ? report("write", path, error) : 0;
}

}  // namespace

int replace_output_file(const char* path, const unsigned char* bytes, uint64_t size,
                        OutputMode mode) {
  ReplacedFile file;
  int opened = file.open(path, mode);
  return output_whole(file, opened, path, bytes, size, mode);
}

int create_output_file(const char* path, const unsigned char* bytes, uint64_t size) {
  return replace_output_file(path, bytes, size, OutputMode::NewOnly);
}

int replace_output_entry(int folder, const char* name, const char* path, const unsigned char* bytes,
                         uint64_t size, OutputMode mode, const struct stat* replaced) {
  ReplacedFile file;
  int opened = file.open_in(folder, name, mode, replaced);
  return output_whole(file, opened, path, bytes, size, mode);
}
