// The whole conversion of one cartridge to one tape; see cart2tape.h.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cart2tape.h"

namespace {

// Writes `size` bytes straight to standard output. Returns 0, or 1 after
// "write error" with the system's reason.
int write_standard_output(const unsigned char* bytes, size_t size) {
  (void)std::fflush(stdout);
  int error = write_whole(STDOUT_FILENO, bytes, size);
  if (error != 0) {
    std::fprintf(stderr, "%s: write error: %s\n", program_name, std::strerror(error));
    return 1;
  }
  return 0;
}

}  // namespace

int write_cartridge_tape(const char* source, const char* target,
                         const std::vector<std::string>& wanted) {
  bool to_standard_output = std::strcmp(target, "-") == 0;
  libspectrum_id_t type = to_standard_output ? LIBSPECTRUM_ID_TAPE_TAP : tape_type_for(target);
  if (type == LIBSPECTRUM_ID_UNKNOWN) {
    std::fprintf(stderr, "%s: `%s': unknown tape format; name it .tap, .tzx, .spc, .sta or .ltp\n",
                 program_name, visible_text(target).c_str());
    return CART2TAPE_FAILED;
  }
  if (!output_allowed(source, target, "cartridge", "a tape file")) {
    return CART2TAPE_FAILED;
  }
  CartridgePtr cartridge(libspectrum_microdrive_alloc());
  if (read_cartridge_image(source, cartridge.get()) != 0) {
    return CART2TAPE_FAILED;
  }
  Catalogue catalogue;
  if (catalogue.build(cartridge.get()) != 0) {
    report_uncatalogued(source);
    return CART2TAPE_FAILED;
  }
  const CatalogueEntry* entries = catalogue.entries();
  uint64_t count = catalogue.count();

  std::vector<std::string> names;
  for (uint64_t i = 0; i < count; ++i) {
    names.push_back(zx_name_text(entries[i].name));
  }
  auto is_wanted = [&wanted](const std::string& name) {
    return std::find(wanted.begin(), wanted.end(), name) != wanted.end();
  };
  for (const std::string& name : wanted) {
    if (std::find(names.begin(), names.end(), name) == names.end()) {
      std::fprintf(stderr, "%s: `%s' holds no file named \"%s\"\n", program_name,
                   visible_text(source).c_str(), visible_text(name.c_str()).c_str());
      return CART2TAPE_FAILED;
    }
  }

  TapePtr tape(libspectrum_tape_alloc());
  if (type == LIBSPECTRUM_ID_TAPE_TZX) {
    unsigned char name[adapter::MDR_NAME_SIZE] = {};
    std::string title = find_cartridge_name(cartridge.get(), name) ? zx_name_text(name) : "";
    append_archive_info(tape.get(), title,
                        std::string("Made by cart2tape from ") + base_name(source));
  }
  int status = CART2TAPE_WRITTEN;
  size_t written = 0;
  for (uint64_t i = 0; i < count; ++i) {
    const CatalogueEntry& entry = entries[i];
    const std::string& name = names[static_cast<size_t>(i)];
    if (!wanted.empty() && !is_wanted(name)) {
      continue;
    }
    if ((entry.flags & RECORD_FLAG_NON_PRINT) == 0) {
      std::fprintf(stderr,
                   "%s: \"%s\" is a PRINT file, which no tape header describes; left out "
                   "(cartinfo -x copies it)\n",
                   program_name, name.c_str());
      continue;
    }
    // A file longer than a tape block holds is cut to fit, and says so in
    // place of "written as found".
    std::string damage = describe_damage(entry);
    size_t data_length = tape_data_length(entry);
    bool cut = data_length + FILE_HEADER_SIZE < entry.data_size;
    if (cut) {
      damage += std::string(damage.empty() ? "" : ", ") +
                std::to_string(entry.data_size - FILE_HEADER_SIZE) +
                " bytes of data, more than a tape block holds";
    }
    if (!damage.empty()) {
      std::string outcome = cut ? "cut to " + std::to_string(data_length) : "written as found";
      std::fprintf(stderr, "%s: warning: \"%s\" is damaged (%s); %s\n", program_name,
                   name.c_str(), damage.c_str(), outcome.c_str());
      status = CART2TAPE_DAMAGED;
    }
    append_file_blocks(tape.get(), entry);
    ++written;
  }
  if (written == 0) {
    std::fprintf(stderr, "%s: `%s' has no file for a tape; nothing written\n", program_name,
                 visible_text(source).c_str());
    return CART2TAPE_FAILED;
  }

  libspectrum_byte* bytes = nullptr;
  size_t length = 0;
  if (libspectrum_tape_write(&bytes, &length, tape.get(), type) != LIBSPECTRUM_ERROR_NONE) {
    libspectrum_free(bytes);
    return CART2TAPE_FAILED;
  }
  int failed = to_standard_output ? write_standard_output(bytes, length)
                                  : replace_output_file(target, bytes, length);
  libspectrum_free(bytes);
  return failed != 0 ? CART2TAPE_FAILED : status;
}
