// Copying an image's files into a folder (-x): the folder given, a folder
// for each image inside it, and new files under names that are safe on any
// file system the tools run on; see host.h.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host.h"

namespace {

// What may not stand in a file name here or on the file systems that a
// folder may live on (FAT and NTFS among them).
bool is_unsafe(char c) {
  return std::strchr("/\\:*?\"<>|", c) != nullptr || static_cast<unsigned char>(c) < 0x20 ||
         c == 0x7F;
}

// `name` with its ASCII letters in lower case.
std::string folded(const std::string& name) {
  std::string lower = name;
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return lower;
}

// Writes `size` bytes to a new file `name` in the open folder `folder_fd`
// (`path` in messages); never replaces anything, nor follows a link, and
// leaves nothing behind when it fails.
int write_new_file(int folder_fd, const std::string& name, const std::string& path,
                   const unsigned char* bytes, size_t size) {
  struct stat there {};
  if (fstatat(folder_fd, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0) {
    errno = EEXIST;
  } else if (errno == ENOENT) {
    ReplacedFile file;
    errno = file.open_in(folder_fd, name.c_str(), OutputMode::NewOnly, nullptr);
    if (errno == 0) {
      int error = file.write_all(bytes, size);
      if (error == 0) {
        error = file.commit();
      }
      if (error == 0) {
        return 0;
      }
      file.abandon(false);
      if (error != EEXIST) {
        std::fprintf(stderr, "%s: couldn't write `%s': %s\n", program_name,
                     visible_text(path.c_str()).c_str(), std::strerror(error));
        return 1;
      }
      errno = EEXIST;  // made meanwhile
    }
  }
  if (errno == EEXIST) {
    std::fprintf(stderr, "%s: `%s' exists already; not overwritten\n", program_name,
                 visible_text(path.c_str()).c_str());
  } else {
    std::fprintf(stderr, "%s: couldn't create `%s': %s\n", program_name,
                 visible_text(path.c_str()).c_str(), std::strerror(errno));
  }
  return 1;
}

void report_not_a_folder(const char* dir, int error) {
  std::fprintf(stderr, "%s: `%s' is not a folder to extract into: %s\n", program_name,
               visible_text(dir).c_str(), std::strerror(error));
}

}  // namespace

std::string safe_file_name(const std::string& text, const char* extension, TakenNames* taken) {
  std::string base;
  for (char c : text) {
    base += is_unsafe(c) ? '_' : c;
  }
  if (base.empty()) {
    base = "unnamed";
  }
  if (base[0] == '.' || base[0] == '-') {
    base.insert(0, "_");
  }
  std::string name = base + extension;
  if (taken->folded.insert(folded(name)).second) {
    return name;
  }
  // Numbers go on from where the last name of this base stopped, so that
  // many files of one name cost no more than as many of different names.
  unsigned& n = taken->next_number[folded(base) + '\0' + extension];
  for (n = n < 2 ? 2 : n;; ++n) {
    name = base + "-" + std::to_string(n) + extension;
    if (taken->folded.insert(folded(name)).second) {
      ++n;
      return name;
    }
  }
}

int extract_file(ExtractFolder* folder, const std::string& text, const char* extension,
                 const unsigned char* bytes, size_t size, std::string* written) {
  std::string name = safe_file_name(text, extension, &folder->taken);
  std::string path = folder->path + "/" + name;
  if (written != nullptr) {
    *written = path;
  }
  return write_new_file(folder->fd, name, path, bytes, size);
}

void report_damaged_copy(const std::string& what, const std::string& damage,
                         const std::string& path) {
  std::fprintf(stderr, "%s: warning: %s is damaged (%s); copied to `%s'\n", program_name,
               what.c_str(), damage.c_str(), visible_text(path.c_str()).c_str());
}

int open_folder(int at_fd, const char* name, bool no_follow) {
#ifdef O_PATH
  // Enough to make files in, even in a folder that may not be read.
  constexpr int MODE = O_PATH;
#else
  constexpr int MODE = O_RDONLY;
#endif
  return openat(at_fd, name, MODE | O_DIRECTORY | O_CLOEXEC | (no_follow ? O_NOFOLLOW : 0));
}

int open_extract_target(const char* dir, bool per_image, ExtractTarget* target) {
  struct stat info {};
  errno = 0;
  if (stat(dir, &info) != 0 || !S_ISDIR(info.st_mode)) {
    report_not_a_folder(dir, errno != 0 && !S_ISREG(info.st_mode) ? errno : ENOTDIR);
    return 1;
  }
  // Every file is made through this descriptor, so what `dir` names is
  // settled once, whatever happens to the name later.
  target->dir = dir;
  target->per_image = per_image;
  target->dir_fd = open_folder(AT_FDCWD, dir, false);
  if (target->dir_fd < 0) {
    report_not_a_folder(dir, errno);
    return 1;
  }
  return 0;
}

int make_image_folder(ExtractTarget* target, const char* image, int* folder_fd,
                      std::string* folder) {
  const char* name = ".";
  std::string made;
  if (target->per_image) {
    made = safe_file_name(base_name(image), "", &target->taken);
    name = made.c_str();
    *folder = target->dir + "/" + made;
    if (mkdirat(target->dir_fd, name, 0777) != 0) {
      if (errno == EEXIST) {
        std::fprintf(stderr, "%s: `%s' exists already; not overwritten\n", program_name,
                     visible_text(folder->c_str()).c_str());
      } else {
        std::fprintf(stderr, "%s: couldn't make the folder `%s': %s\n", program_name,
                     visible_text(folder->c_str()).c_str(), std::strerror(errno));
      }
      return 1;
    }
  } else {
    *folder = target->dir;
  }
  // Made just now, yet opened without following a link, in case another
  // program put one in its place.
  *folder_fd = open_folder(target->dir_fd, name, true);
  if (*folder_fd < 0) {
    std::fprintf(stderr, "%s: couldn't make the folder `%s': %s\n", program_name,
                 visible_text(folder->c_str()).c_str(), std::strerror(errno));
    return 1;
  }
  return 0;
}
