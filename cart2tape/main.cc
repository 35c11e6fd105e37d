// cart2tape: writes the files of a ZX Microdrive cartridge image onto a tape
// image, as the ROM saves them.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cart2tape.h"

namespace {

// Exit statuses: every file written whole, a failure, or written with damage.
constexpr int WRITTEN = 0;
constexpr int FAILED = 1;
constexpr int DAMAGED = 2;

void print_help() {
  std::printf(
      "Usage: %s [OPTION]... <microdrive file> <tape file>\nWrites the files of an MDR microdrive file onto a tape image, as the ROM saves them.\nThe tape's format follows its name: .tap, .tzx, .spc, .sta or .ltp;\n'-' writes a TAP to standard output.\n\nOptions:\n  -f, --file=NAME  Copy only the file NAME (as cartinfo prints it); may be repeated.\n  -h, --help       Display this help and exit.\n  -V, --version    Output version information and exit.\n\nExit status: 0 when every file was written whole, 2 when some were written\ndamaged, 1 on failure.\n\n",
      program_name);
  print_help_tail("cart2tape");
}

// Writes `size` bytes to standard output; 1 after a message on failure.
int write_standard_output(const unsigned char* bytes, size_t size) {
  if (size > 0 && std::fwrite(bytes, 1, size, stdout) != size) {
    return 1;  // close_standard_output says why
  }
  return 0;
}

// Builds the tape of `source`'s files (all, or those named in `wanted`) and
// writes it to `target`. Returns an exit status.
int convert(const char* source, const char* target, const std::vector<std::string>& wanted) {
  bool to_standard_output = std::strcmp(target, "-") == 0;
  libspectrum_id_t type = to_standard_output ? LIBSPECTRUM_ID_TAPE_TAP : tape_type_for(target);
  if (type == LIBSPECTRUM_ID_UNKNOWN) {
    std::fprintf(stderr, "%s: `%s': unknown tape format; name it .tap, .tzx, .spc, .sta or .ltp\n",
                 program_name, target);
    return FAILED;
  }
  CartridgePtr cartridge(libspectrum_microdrive_alloc());
  if (read_cartridge_image(source, cartridge.get()) != 0) {
    return FAILED;
  }
  CatalogueEntry* entries = nullptr;
  uint64_t count = 0;
  if (catalogue_cartridge_files(cartridge.get(), &entries, &count) != 0) {
    std::fprintf(stderr, "%s: couldn't catalogue the files of `%s'\n", program_name, source);
    return FAILED;
  }
  struct Release {
    CatalogueEntry* entries;
    uint64_t count;
    ~Release() { release_catalogue(entries, count); }
  } release{entries, count};

  std::vector<std::string> names;
  for (uint64_t i = 0; i < count; ++i) {
    names.push_back(zx_name_text(entries[i].name));
  }
  auto is_wanted = [&wanted](const std::string& name) {
    return std::find(wanted.begin(), wanted.end(), name) != wanted.end();
  };
  for (const std::string& name : wanted) {
    if (std::find(names.begin(), names.end(), name) == names.end()) {
      std::fprintf(stderr, "%s: `%s' holds no file named \"%s\"\n", program_name, source,
                   name.c_str());
      return FAILED;
    }
  }

  TapePtr tape(libspectrum_tape_alloc());
  if (type == LIBSPECTRUM_ID_TAPE_TZX) {
    unsigned char name[adapter::MDR_NAME_SIZE] = {};
    std::string title = find_cartridge_name(cartridge.get(), name) ? zx_name_text(name) : "";
    append_archive_info(tape.get(), title,
                        std::string("Made by cart2tape from ") + base_name(source));
  }
  int status = WRITTEN;
  size_t written = 0;
  for (uint64_t i = 0; i < count; ++i) {
    const CatalogueEntry& entry = entries[i];
    const std::string& name = names[i];
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
    std::string damage = describe_damage(entry);
    if (!damage.empty()) {
      std::fprintf(stderr, "%s: warning: \"%s\" is damaged (%s); written as found\n", program_name,
                   name.c_str(), damage.c_str());
      status = DAMAGED;
    }
    append_file_blocks(tape.get(), entry);
    ++written;
  }
  if (written == 0) {
    std::fprintf(stderr, "%s: `%s' has no file for a tape; nothing written\n", program_name,
                 source);
    return FAILED;
  }

  libspectrum_byte* bytes = nullptr;
  size_t length = 0;
  if (libspectrum_tape_write(&bytes, &length, tape.get(), type) != LIBSPECTRUM_ERROR_NONE) {
    libspectrum_free(bytes);
    return FAILED;
  }
  int failed = to_standard_output ? write_standard_output(bytes, length)
                                  : save_output_file(target, bytes, length);
  libspectrum_free(bytes);
  return failed != 0 ? FAILED : status;
}

}  // namespace

int main(int argc, char** argv) {
  start_tool(argv[0]);
  std::vector<std::string> wanted;
  int status = read_options(argc, argv, "cart2tape", "f:hV",
                            {{"file", required_argument, nullptr, 'f'}}, print_help, [&](int c) {
                              if (c == 'f') {
                                wanted.emplace_back(optarg);
                                return true;
                              }
                              report_bad_option(c);
                              return false;
                            });
  if (status == -1 && argc - optind != 2) {
    status = usage_error("[OPTION]... <microdrive file> <tape file>");
  }
  if (status >= 0) {
    return status | close_standard_output();
  }
  if (library_startup() != 0) {
    return FAILED;
  }
  status = convert(argv[optind], argv[optind + 1], wanted);
  return close_standard_output() != 0 ? FAILED : status;
}
