// A name in a folder, looked up once; see host.h.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

#include "host.h"

FolderEntry::~FolderEntry() {
  if (folder_ >= 0) {
    (void)close(folder_);
  }
}

int FolderEntry::look_up(const char* path) {
  if (*path == '\0') {
    return ENOENT;
  }
  std::string target = path;
  // A link that names a file stands for that file; realpath fails for any
  // other, which stays as it is.
  char resolved[PATH_MAX];
  struct stat named {};
  if (stat(path, &named) == 0 && !S_ISDIR(named.st_mode) && realpath(path, resolved) != nullptr) {
    target = resolved;
  }
  size_t slash = target.rfind('/');
  std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  if (name.empty()) {  // "name/": a folder, or nothing that can be made
    struct stat there {};
    if (stat(target.c_str(), &there) != 0) {
      return errno;
    }
    return S_ISDIR(there.st_mode) ? EISDIR : ENOTDIR;
  }
  // A folder that may be written but not read is still one to work in,
  // through a descriptor that only names it (which cannot be flushed).
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0 && errno == EACCES) {
    fd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  }
  if (fd < 0) {
    return errno;
  }
  if (folder_ >= 0) {
    (void)close(folder_);
  }
  folder_ = fd;
  name_ = name;
  return 0;
}

int FolderEntry::status(struct stat* entry) const {
  return fstatat(folder_, name_.c_str(), entry, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
}

int FolderEntry::open_file(int flags) const {
  return openat(folder_, name_.c_str(), flags | O_NOFOLLOW | O_CLOEXEC);
}

bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}
