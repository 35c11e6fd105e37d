// What a file holds, after its paragraph: a program's lines, the bytes.
#include <string>

#include "cartinfo.h"

void print_file_contents(std::FILE* out, const CatalogueEntry& entry, const ContentShown& shown) {
  FileHeader header{};
  if (shown.basic && (entry.flags & RECORD_FLAG_NON_PRINT) != 0 &&
      decode_file_header(&header, entry.data, entry.data_size) == 0 && header.type == 0) {
    uint64_t present = entry.data_size - FILE_HEADER_SIZE;
    size_t size = present < header.data_length ? static_cast<size_t>(present) : header.data_length;
    std::fputs(basic_listing(entry.data + FILE_HEADER_SIZE, size, header.param2).c_str(), out);
    std::fputs("\n", out);
  }
  if (shown.dump) {
    std::fputs(hex_dump(entry.data, static_cast<size_t>(entry.data_size)).c_str(), out);
    std::fputs("\n", out);
  }
}
