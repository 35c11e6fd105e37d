// Copying a cartridge's files into a folder (-x), through the folder
// copier of host.h.
#include "cartinfo.h"

namespace {

// The extension of a file by its kind.
const char* extension_for(const CatalogueEntry& entry) {
  FileHeader header{};
  if ((entry.flags & RECORD_FLAG_NON_PRINT) == 0) {
    return ".prn";
  }
  if (decode_file_header(&header, entry.data, entry.data_size) != 0) {
    return ".bin";
  }
  return file_extension(header);
}

}  // namespace

int extract_files(const Catalogue& catalogue, int folder_fd, const std::string& folder) {
  int status = 0;
  ExtractFolder into{folder_fd, folder, {}};
  for (uint64_t i = 0; i < catalogue.count(); ++i) {
    const CatalogueEntry& entry = catalogue[i];
    std::string text = zx_name_text(entry.name);
    // A file with a header is its data after the header; any other, whole.
    FileHeader header{};
    bool has_header = (entry.flags & RECORD_FLAG_NON_PRINT) != 0 &&
                      decode_file_header(&header, entry.data, entry.data_size) == 0;
    size_t skip = has_header ? FILE_HEADER_SIZE : 0;
    std::string path;
    if (extract_file(&into, text, extension_for(entry), entry.data + skip,
                     static_cast<size_t>(entry.data_size - skip), &path) != 0) {
      status |= 1;
      continue;
    }
    if (extract_screen_picture(&into, path, entry.data + skip,
                               static_cast<size_t>(entry.data_size - skip)) != 0) {
      status |= 1;
    }
    std::string damage = describe_damage(entry);
    if (!damage.empty()) {
      report_damaged_copy("\"" + text + "\"", damage, path);
      status |= 2;
    }
  }
  return status;
}
