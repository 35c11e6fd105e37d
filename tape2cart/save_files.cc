// The whole run of tape2cart; see tape2cart.h.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "load_tape.h"
#include "support.h"
#include "tape2cart.h"

namespace {

using Name = std::string;  // the 10 raw bytes of a name

Name raw_name(const unsigned char* name) {
  return Name(reinterpret_cast<const char*>(name), adapter::MDR_NAME_SIZE);
}

// True when `a` and `b` are one file, reached by whatever name or link.
bool same_file(const char* a, const char* b) {
  struct stat first {};
  struct stat second {};
  return stat(a, &first) == 0 && stat(b, &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

// The cartridge to save onto: read from `path`, or made blank when there is
// no such file. Returns 0, or 1 after a message.
int open_cartridge(const char* path, const NewCartridge& blank, libspectrum_microdrive* cartridge,
                   bool* made) {
  struct stat existing {};
  *made = lstat(path, &existing) != 0 && errno == ENOENT;
  if (*made) {
    NewCartridge request = blank;
    if (!request.named) {
      name_after_file(path, request.name);
    }
    format_cartridge(cartridge, request.name, request.sectors, false);
    return 0;
  }
  if (read_cartridge_image(path, cartridge) != 0) {
    return 1;
  }
  if (libspectrum_microdrive_write_protect(cartridge) != 0) {
    std::fprintf(stderr, "%s: `%s' is write-protected; nothing written\n", program_name, path);
    return 1;
  }
  return 0;
}

// The files of `found` that go onto the cartridge, in tape order, and the
// names of the cartridge's files that they replace. Says which are left
// out; `*left_out` is set when any is.
std::vector<const TapeFile*> plan_files(const TapeFiles& found, const Tape2cartRequest& request,
                                        const Catalogue& catalogue, const char* source,
                                        const char* target,
                                        std::vector<Name>* replaced, bool* left_out) {
  std::vector<Name> on_cartridge;
  for (uint64_t i = 0; i < catalogue.count(); ++i) {
    on_cartridge.push_back(raw_name(catalogue[i].name));
  }
  auto is_wanted = [&request](const std::string& text) {
    return request.wanted.empty() ||
           std::find(request.wanted.begin(), request.wanted.end(), text) != request.wanted.end();
  };
  std::vector<const TapeFile*> planned;
  for (const TapeFile& file : found.files) {
    std::string text = zx_name_text(file.header + 1);
    if (!is_wanted(text)) {
      continue;
    }
    Name name = raw_name(file.header + 1);
    auto earlier = std::find_if(planned.begin(), planned.end(), [&name](const TapeFile* other) {
      return raw_name(other->header + 1) == name;
    });
    bool held = std::find(on_cartridge.begin(), on_cartridge.end(), name) != on_cartridge.end();
    if (earlier != planned.end() && !request.replace) {
      std::fprintf(stderr, "%s: `%s' block %zu: a second file named \"", program_name, source,
                   file.header_block);
      print_visible(stderr, text.c_str());
      std::fprintf(stderr, "\" (the first in block %zu); left out (-r saves the last)\n",
                   (*earlier)->header_block);
      *left_out = true;
      continue;
    }
    if (held && !request.replace) {
      std::fprintf(stderr, "%s: `%s' holds a file \"", program_name, target);
      print_visible(stderr, text.c_str());
      std::fprintf(stderr, "\" already; block %zu left out (-r replaces it)\n",
                   file.header_block);
      *left_out = true;
      continue;
    }
    if (earlier != planned.end()) {
      planned.erase(earlier);  // saved, then replaced by this one
    }
    if (held && std::find(replaced->begin(), replaced->end(), name) == replaced->end()) {
      replaced->push_back(name);
    }
    planned.push_back(&file);
  }
  return planned;
}

}  // namespace

int save_tape_files(const char* source, const char* target, const Tape2cartRequest& request) {
  if (std::strcmp(target, "-") == 0) {
    std::fprintf(stderr, "%s: a cartridge is not written to standard output; name an MDR file\n",
                 program_name);
    return TAPE2CART_FAILED;
  }
  if (same_file(source, target)) {
    std::fprintf(stderr, "%s: `%s' is the tape `%s' itself; not replaced\n", program_name, target,
                 source);
    return TAPE2CART_FAILED;
  }
  LoadedTape loaded = load_tape(source);
  if (loaded.problem != TapeProblem::None) {
    report_tape_problem(source, loaded);
    return TAPE2CART_FAILED;
  }
  TapeFiles found = find_tape_files(loaded.tape.get());
  loaded.tape.reset();
  for (size_t i = 0; i < found.blocks.size(); ++i) {
    std::string reason = left_out_reason(found.blocks[i]);
    if (!reason.empty()) {
      std::fprintf(stderr, "%s: `%s' block %zu: ", program_name, source, i + 1);
      print_visible(stderr, reason.c_str());
      std::fprintf(stderr, "; left out\n");
    }
  }
  for (const std::string& name : request.wanted) {
    bool there = std::any_of(found.files.begin(), found.files.end(), [&name](const TapeFile& f) {
      return zx_name_text(f.header + 1) == name;
    });
    if (!there) {
      std::fprintf(stderr, "%s: `%s' holds no file named \"", program_name, source);
      print_visible(stderr, name.c_str());
      std::fprintf(stderr, "\"\n");
      return TAPE2CART_FAILED;
    }
  }
  if (found.files.empty()) {
    std::fprintf(stderr, "%s: `%s' holds no ROM file%s; nothing written\n", program_name, source,
                 found.sampled ? ": a sampled recording holds pulses, not bytes" : "");
    return TAPE2CART_FAILED;
  }

  CartridgePtr cartridge(libspectrum_microdrive_alloc());
  bool made = false;
  if (open_cartridge(target, request.blank, cartridge.get(), &made) != 0) {
    return TAPE2CART_FAILED;
  }
  Catalogue catalogue;
  if (catalogue.build(cartridge.get()) != 0) {
    report_uncatalogued(target);
    return TAPE2CART_FAILED;
  }
  std::vector<Name> replaced;
  bool left_out = found.bad_checksum;
  std::vector<const TapeFile*> planned =
      plan_files(found, request, catalogue, source, target, &replaced, &left_out);
  if (planned.empty()) {
    std::fprintf(stderr, "%s: no file left to save; `%s' not written\n", program_name, target);
    return TAPE2CART_FAILED;
  }
  for (const Name& name : replaced) {
    (void)free_cartridge_file(cartridge.get(), reinterpret_cast<const unsigned char*>(name.data()));
  }
  std::vector<std::vector<unsigned char>> contents;
  size_t needed = 0;
  for (const TapeFile* file : planned) {
    contents.push_back(cartridge_file_bytes(*file));
    needed += sectors_for(contents.back().size());
  }
  std::vector<size_t> free = free_sectors(cartridge.get());
  if (needed > free.size()) {
    std::fprintf(stderr,
                 "%s: `%s' has %zu free sectors, and the files need %zu; nothing written\n",
                 program_name, target, free.size(), needed);
    return TAPE2CART_FAILED;
  }
  size_t next = 0;
  for (size_t i = 0; i < planned.size(); ++i) {
    const std::vector<unsigned char>& bytes = contents[i];
    size_t count = sectors_for(bytes.size());
    std::vector<size_t> sectors(free.begin() + static_cast<std::ptrdiff_t>(next),
                                free.begin() + static_cast<std::ptrdiff_t>(next + count));
    write_cartridge_file(cartridge.get(), planned[i]->header + 1, bytes.data(), bytes.size(),
                         sectors);
    next += count;
  }
  if (save_cartridge_image(cartridge.get(), target, made) != 0) {
    return TAPE2CART_FAILED;
  }
  return left_out ? TAPE2CART_LEFT_OUT : TAPE2CART_SAVED;
}
