// Copying a cartridge's files into a folder (-x), under names that are safe
// on any file system the tools run on.
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cartinfo.h"

namespace {

// What may not stand in a file name here or on the file systems that a
// folder may live on (FAT and NTFS among them).
bool is_unsafe(char c) {
  return std::strchr("/\\:*?\"<>|", c) != nullptr || static_cast<unsigned char>(c) < 0x20 ||
         c == 0x7F;
}

// The extension of a file by its kind.
const char* extension_for(const CatalogueEntry& entry) {
  FileHeader header{};
  if ((entry.flags & RECORD_FLAG_NON_PRINT) == 0) {
    return ".prn";
  }
  if (decode_file_header(&header, entry.data, entry.data_size) != 0) {
    return ".bin";
  }
  switch (header.type) {
    case 0:
      return ".bas";
    case 1:
      return ".nar";
    case 2:
      return ".car";
    case 3:
      return header.data_length == 6912 && header.param1 == 16384 ? ".scr" : ".bin";
    default:
      return ".bin";
  }
}

bool taken_already(const std::vector<std::string>& taken, const std::string& name) {
  for (const std::string& t : taken) {
    if (strcasecmp(t.c_str(), name.c_str()) == 0) {
      return true;
    }
  }
  return false;
}

// Writes `size` bytes to a new file `path`; never replaces one.
int write_new_file(const std::string& path, const unsigned char* bytes, size_t size) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (errno == EEXIST) {
      std::fprintf(stderr, "%s: `%s' exists already; not overwritten\n", program_name,
                   path.c_str());
    } else {
      std::fprintf(stderr, "%s: couldn't create `%s': %s\n", program_name, path.c_str(),
                   std::strerror(errno));
    }
    return 1;
  }
  size_t done = 0;
  while (done < size) {
    ssize_t wrote = write(fd, bytes + done, size - done);
    if (wrote < 0 && errno == EINTR) {
      continue;
    }
    if (wrote <= 0) {
      std::fprintf(stderr, "%s: couldn't write `%s': %s\n", program_name, path.c_str(),
                   std::strerror(wrote < 0 ? errno : EIO));
      (void)close(fd);
      return 1;
    }
    done += static_cast<size_t>(wrote);
  }
  if (close(fd) != 0) {
    std::fprintf(stderr, "%s: couldn't write `%s': %s\n", program_name, path.c_str(),
                 std::strerror(errno));
    return 1;
  }
  return 0;
}

}  // namespace

std::string safe_file_name(const std::string& text, const char* extension,
                           std::vector<std::string>* taken) {
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
  for (unsigned n = 2; taken_already(*taken, name); ++n) {
    name = base + "-" + std::to_string(n) + extension;
  }
  taken->push_back(name);
  return name;
}

int extract_files(libspectrum_microdrive* cartridge, const std::string& dir) {
  CatalogueEntry* entries = nullptr;
  uint64_t count = 0;
  if (catalogue_cartridge_files(cartridge, &entries, &count) != 0) {
    return 1;
  }
  int status = 0;
  std::vector<std::string> taken;
  for (uint64_t i = 0; i < count; ++i) {
    const CatalogueEntry& entry = entries[i];
    std::string name = safe_file_name(zx_name_text(entry.name), extension_for(entry), &taken);
    // A file with a header is its data after the header; any other, whole.
    FileHeader header{};
    bool has_header = (entry.flags & RECORD_FLAG_NON_PRINT) != 0 &&
                      decode_file_header(&header, entry.data, entry.data_size) == 0;
    size_t skip = has_header ? FILE_HEADER_SIZE : 0;
    status |= write_new_file(dir + "/" + name, entry.data + skip,
                             static_cast<size_t>(entry.data_size - skip));
  }
  release_catalogue(entries, count);
  return status;
}

int prepare_extract_folder(const std::string& dir) {
  if (mkdir(dir.c_str(), 0777) == 0) {
    return 0;
  }
  struct stat info {};
  if (errno == EEXIST && stat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    return 0;
  }
  std::fprintf(stderr, "%s: couldn't make the folder `%s': %s\n", program_name, dir.c_str(),
               std::strerror(errno == EEXIST ? ENOTDIR : errno));
  return 1;
}
