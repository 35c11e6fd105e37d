// The whole run of tape2cart; see tape2cart.h.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "cartridge_writer.h"
#include "load_tape.h"
#include "tape2cart.h"
#include "tape2cart_testing_seams.h"

namespace {

testing_seams::LockCall lock_call = ::flock;

using Name = std::string;  // the 10 raw bytes of a name

Name raw_name(const unsigned char* name) {
  return Name(reinterpret_cast<const char*>(name), adapter::MDR_NAME_SIZE);
}

// What is said about the tape's blocks, said in block order once all is
// known: "<program>: `<where>' <text>".
class Notes {
 public:
  void add(size_t block, const char* where, std::string text) {
    notes_.push_back({block, where, std::move(text)});
  }
  void print() {
    std::stable_sort(notes_.begin(), notes_.end(),
                     [](const Note& a, const Note& b) { return a.block < b.block; });
    for (const Note& note : notes_) {
      std::fprintf(stderr, "%s: `%s' ", program_name, visible_text(note.where).c_str());
      print_visible(stderr, note.text.c_str());
      std::fputc('\n', stderr);
    }
    notes_.clear();
  }

 private:
  struct Note {
    size_t block;
    const char* where;
    std::string text;
  };
  std::vector<Note> notes_;
};

bool is_wanted(const Tape2cartRequest& request, const std::string& name) {
  return request.wanted.empty() ||
         std::find(request.wanted.begin(), request.wanted.end(), name) != request.wanted.end();
}

// Notes the blocks that are no part of a file; with -f, only those of the
// files asked for, whose names are known. Returns true when one of the
// blocks noted has a wrong checksum.
bool note_left_out(const TapeFiles& found, const Tape2cartRequest& request, const char* source,
                   Notes* notes) {
  bool bad_checksum = false;
  for (size_t i = 0; i < found.blocks.size(); ++i) {
    const BlockVerdict& verdict = found.blocks[i];
    std::string reason = left_out_reason(verdict);
    if (reason.empty() || (!request.wanted.empty() && !is_wanted(request, verdict.name))) {
      continue;
    }
    bad_checksum = bad_checksum || verdict.role == BlockRole::BadHeaderChecksum ||
                   verdict.role == BlockRole::BadDataChecksum;
    notes->add(i + 1, source, "block " + std::to_string(i + 1) + ": " + reason + "; left out");
  }
  return bad_checksum;
}

// Every name given with -f is that of a file on the tape. Returns true, or
// false after the notes (those of a damaged file of the name among them)
// and a message.
bool wanted_files_found(const TapeFiles& found, const Tape2cartRequest& request, const char* source,
                        Notes* notes) {
  for (const std::string& name : request.wanted) {
    bool there = std::any_of(found.files.begin(), found.files.end(), [&name](const TapeFile& f) {
      return zx_name_text(f.header + 1) == name;
    });
    if (there) {
      continue;
    }
    bool damaged = std::any_of(found.blocks.begin(), found.blocks.end(),
                               [&name](const BlockVerdict& v) { return v.name == name; });
    notes->print();
    std::fprintf(stderr, "%s: `%s' holds no %sfile named \"", program_name,
                 visible_text(source).c_str(), damaged ? "whole " : "");
    print_visible(stderr, name.c_str());
    std::fprintf(stderr, "\"\n");
    return false;
  }
  return true;
}

// The cartridge file, looked up once and locked while it is read, changed
// and replaced, so that two runs on one cartridge take turns rather than
// each saving over the other's files.
class CartridgeFile {
 public:
  CartridgeFile() = default;
  ~CartridgeFile() {
    if (fd_ >= 0) {
      (void)close(fd_);
    }
  }
  CartridgeFile(const CartridgeFile&) = delete;
  CartridgeFile& operator=(const CartridgeFile&) = delete;

  FolderEntry entry;

  // Opens and locks the entry's file, as it is once the lock is held
  // (another run may have replaced it meanwhile). Returns 0, or an errno
  // value: EINVAL when it is no regular file.
  int lock() {
    for (;;) {
      fd_ = entry.open_file(O_RDONLY | O_NONBLOCK);
      if (fd_ < 0 || fstat(fd_, &status_) != 0) {
        return errno;
      }
      if (!S_ISREG(status_.st_mode)) {
        return EINVAL;
      }
      // A file system without locks gives no turns, but is still written;
      // any other failure to lock is one of the run.
      if (lock_call(fd_, LOCK_EX) != 0) {
        return errno == EOPNOTSUPP || errno == ENOSYS ? 0 : errno;
      }
      struct stat now {};
      if (entry.status(&now) == 0 && same_file(now, status_)) {
        return 0;
      }
      (void)close(fd_);
      fd_ = -1;
    }
  }
  int fd() const { return fd_; }
  // The file locked.
  const struct stat& status() const { return status_; }

 private:
  int fd_ = -1;
  struct stat status_ {};
};

// The cartridge to save onto: read from the file `path` (and locked), or
// made blank when there is no such file. Returns 0, or 1 after a message.
// `looked_up` is what looking its path up gave.
int open_cartridge(const char* path, int looked_up, const NewCartridge& blank,
                   libspectrum_microdrive* cartridge, CartridgeFile* file, bool* made) {
  int error = looked_up;
  struct stat existing {};
  if (error == 0 && file->entry.status(&existing) == 0 && S_ISLNK(existing.st_mode)) {
    // A link that names no file: what following it gives, or a folder.
    error = stat(path, &existing) != 0 ? errno : EISDIR;
  }
  if (error == EISDIR) {
    std::fprintf(stderr, "%s: `", program_name);
    print_visible(stderr, path);
    std::fprintf(stderr, "' is not a regular file; nothing written\n");
    return 1;
  }
  if (error != 0 && looked_up == 0) {
    report_unopened_input(path, error);
    return 1;
  }
  if (error != 0) {
    std::fprintf(stderr, "%s: couldn't open `", program_name);
    print_visible(stderr, path);
    std::fprintf(stderr, "': %s\n", std::strerror(error));
    return 1;
  }
  *made = file->entry.status(&existing) == ENOENT;
  if (*made) {
    NewCartridge request = blank;
    if (!request.named) {
      name_after_file(path, request.name);
    }
    format_cartridge(cartridge, request.name, request.sectors, false);
    return 0;
  }
  // A pipe or a device would be read and then written over in place.
  error = file->lock();
  if (error == EINVAL) {
    std::fprintf(stderr, "%s: `", program_name);
    print_visible(stderr, path);
    std::fprintf(stderr, "' is not a regular file; nothing written\n");
    return 1;
  }
  if (error != 0 && file->fd() < 0) {
    report_unopened_input(path, error);
    return 1;
  }
  if (error != 0) {
    std::fprintf(stderr, "%s: couldn't lock `", program_name);
    print_visible(stderr, path);
    std::fprintf(stderr, "': %s; nothing written\n", std::strerror(error));
    return 1;
  }
  if (read_cartridge_descriptor(file->fd(), path, cartridge) != 0) {
    return 1;
  }
  if (libspectrum_microdrive_write_protect(cartridge) != 0) {
    std::fprintf(stderr, "%s: `%s' is write-protected; nothing written\n", program_name,
                 visible_text(path).c_str());
    return 1;
  }
  if (blank.named || blank.sectors != MAX_CARTRIDGE_SECTORS) {
    std::fprintf(stderr, "%s: `%s' exists; -n and -b are for a new cartridge, and ignored\n",
                 program_name, visible_text(path).c_str());
  }
  return 0;
}

// "#3, #7": blocks as cartinfo -b numbers them.
std::string block_numbers(const std::vector<size_t>& blocks) {
  std::string text;
  for (size_t block : blocks) {
    text += (text.empty() ? "#" : ", #") + std::to_string(block);
  }
  return text;
}

// The note that leaves out the file `text` of the tape's block `block`
// because blocks of the cartridge bear its name (see blocks_named) that -r
// may not free (sectors that FORMAT found bad) or, without -r, that belong
// to no file; "" when nothing is in its way.
std::string blocks_in_the_way(const libspectrum_microdrive* cartridge, const unsigned char* name,
                              const std::string& text, const std::string& block, bool replace) {
  std::vector<size_t> named = blocks_named(cartridge, name);
  std::vector<size_t> bad;
  std::copy_if(named.begin(), named.end(), std::back_inserter(bad), [cartridge](size_t b) {
    return is_preset_bad_block(adapter::microdrive_block_read(cartridge, b));
  });
  if (!bad.empty()) {
    return std::string(bad.size() == 1 ? "has a sector that FORMAT found bad"
                                       : "has sectors that FORMAT found bad") +
           " named \"" + text + "\" (" + block_numbers(bad) + "), which would join the file; " +
           block + " left out";
  }
  if (named.empty() || replace) {
    return "";
  }
  return std::string(named.size() == 1 ? "has a block" : "has blocks") + " named \"" + text +
         "\" that belong" + (named.size() == 1 ? "s" : "") + " to no file (" +
         block_numbers(named) + "); " + block + " left out (-r frees them)";
}

// The files of `found` that go onto the cartridge, in tape order, and the
// names of the cartridge's files that they replace. Notes those left out;
// `*left_out` is set when any is.
std::vector<const TapeFile*> plan_files(const TapeFiles& found, const Tape2cartRequest& request,
                                        const libspectrum_microdrive* cartridge,
                                        const Catalogue& catalogue, const char* source,
                                        const char* target, std::vector<Name>* replaced,
                                        bool* left_out, Notes* notes) {
  std::vector<Name> on_cartridge;
  for (uint64_t i = 0; i < catalogue.count(); ++i) {
    on_cartridge.push_back(raw_name(catalogue[i].name));
  }
  std::vector<const TapeFile*> planned;
  for (const TapeFile& file : found.files) {
    std::string text = zx_name_text(file.header + 1);
    if (!is_wanted(request, text)) {
      continue;
    }
    Name name = raw_name(file.header + 1);
    auto earlier = std::find_if(planned.begin(), planned.end(), [&name](const TapeFile* other) {
      return raw_name(other->header + 1) == name;
    });
    bool held = std::find(on_cartridge.begin(), on_cartridge.end(), name) != on_cartridge.end();
    std::string block = "block " + std::to_string(file.header_block);
    if (earlier != planned.end() && !request.replace) {
      notes->add(file.header_block, source,
                 block + ": a second file named \"" + text + "\" (the first in block " +
                     std::to_string((*earlier)->header_block) + "); left out (-r saves the last)");
      *left_out = true;
      continue;
    }
    if (held && !request.replace) {
      notes->add(file.header_block, target,
                 "holds a file \"" + text + "\" already; " + block + " left out (-r replaces it)");
      *left_out = true;
      continue;
    }
    std::string in_the_way =
        blocks_in_the_way(cartridge, file.header + 1, text, block, request.replace);
    if (!in_the_way.empty()) {
      notes->add(file.header_block, target, in_the_way);
      *left_out = true;
      continue;
    }
    if (earlier != planned.end()) {
      planned.erase(earlier);  // saved, then replaced by this one
    }
    bool named = held || !blocks_named(cartridge, file.header + 1).empty();
    if (named && std::find(replaced->begin(), replaced->end(), name) == replaced->end()) {
      replaced->push_back(name);
    }
    planned.push_back(&file);
  }
  return planned;
}

// Saves every planned file into the cartridge's free sectors, in image
// order, after freeing the files replaced. Returns 0, or 1 after a message
// when the sectors do not hold them all (nothing is saved then).
int save_files(libspectrum_microdrive* cartridge, const std::vector<const TapeFile*>& planned,
               const std::vector<Name>& replaced, const char* target, bool made) {
  for (const Name& name : replaced) {
    (void)free_cartridge_file(cartridge, reinterpret_cast<const unsigned char*>(name.data()));
  }
  std::vector<std::vector<unsigned char>> contents;
  size_t needed = 0;
  for (const TapeFile* file : planned) {
    contents.push_back(cartridge_file_bytes(*file));
    needed += sectors_for(contents.back().size());
  }
  std::vector<size_t> free = free_sectors(cartridge);
  if (needed > free.size()) {
    std::fprintf(stderr,
                 made ? "%s: a new cartridge `%s' would have %zu sectors, and the files need %zu; "
                        "nothing written\n"
                      : "%s: `%s' has %zu free sectors, and the files need %zu; nothing written\n",
                 program_name, visible_text(target).c_str(), free.size(), needed);
    return 1;
  }
  auto next = free.begin();
  for (size_t i = 0; i < planned.size(); ++i) {
    const std::vector<unsigned char>& bytes = contents[i];
    auto end = next + static_cast<std::ptrdiff_t>(sectors_for(bytes.size()));
    if (write_cartridge_file(cartridge, planned[i]->header + 1, bytes.data(), bytes.size(),
                             std::vector<size_t>(next, end)) != 0) {
      std::fprintf(stderr, "%s: couldn't save the files onto `%s'; nothing written\n", program_name,
                   visible_text(target).c_str());
      return 1;
    }
    next = end;
  }
  return 0;
}

}  // namespace

namespace testing_seams {
void set_lock_call(LockCall lock) {
  lock_call = lock != nullptr ? lock : ::flock;
}
}  // namespace testing_seams

int save_tape_files(const char* source, const char* target, const Tape2cartRequest& request) {
  if (std::strcmp(target, "-") == 0) {
    std::fprintf(stderr, "%s: a cartridge is not written to standard output; name an MDR file\n",
                 program_name);
    return TAPE2CART_FAILED;
  }
  // The cartridge's path is looked up once, here; the folder found and the
  // file in it serve from now on.
  CartridgeFile file;
  int looked_up = file.entry.look_up(target);
  struct stat tape {};
  struct stat cartridge_status {};
  if (looked_up == 0 && stat(source, &tape) == 0 && file.entry.status(&cartridge_status) == 0 &&
      same_file(tape, cartridge_status)) {
    std::fprintf(stderr, "%s: `%s' is the tape `%s' itself; not replaced\n", program_name,
                 visible_text(target).c_str(), visible_text(source).c_str());
    return TAPE2CART_FAILED;
  }
  LoadedTape loaded = load_tape_up_to_cut(source);
  if (loaded.problem != TapeProblem::None) {
    report_tape_problem(source, loaded);
    return TAPE2CART_FAILED;
  }
  TapeFiles found = find_tape_files(loaded.tape.get());
  loaded.tape.reset();
  Notes notes;
  bool left_out = note_left_out(found, request, source, &notes);
  if (loaded.cut) {
    // The files before the cut are saved; the one it is in, if any, is not.
    notes.add(loaded.cut->block, source,
              "block " + std::to_string(loaded.cut->block) + ": cut short, " +
                  cut_words(*loaded.cut) + "; left out");
    left_out = true;
  }
  if (found.files.empty()) {
    notes.print();
    bool bytes = std::any_of(found.blocks.begin(), found.blocks.end(),
                             [](const BlockVerdict& v) {
                               return v.role != BlockRole::NoBytes && v.role != BlockRole::Pulses;
                             }) ||
                 (loaded.cut && loaded.cut->holds_bytes);
    std::fprintf(stderr, "%s: `%s' holds no ROM file%s; nothing written\n", program_name,
                 visible_text(source).c_str(),
                 found.sampled ? ": a sampled recording holds pulses, not bytes"
                 : bytes       ? ""
                               : ": none of its blocks holds bytes");
    return TAPE2CART_FAILED;
  }
  if (!wanted_files_found(found, request, source, &notes)) {
    return TAPE2CART_FAILED;
  }

  CartridgePtr cartridge(libspectrum_microdrive_alloc());
  bool made = false;
  if (open_cartridge(target, looked_up, request.blank, cartridge.get(), &file, &made) != 0) {
    return TAPE2CART_FAILED;
  }
  Catalogue catalogue;
  if (catalogue.build(cartridge.get()) != 0) {
    report_uncatalogued(target);
    return TAPE2CART_FAILED;
  }
  std::vector<Name> replaced;
  std::vector<const TapeFile*> planned = plan_files(found, request, cartridge.get(), catalogue,
                                                    source, target, &replaced, &left_out, &notes);
  notes.print();
  if (planned.empty()) {
    std::fprintf(stderr, "%s: no file left to save; `%s' not written\n", program_name,
                 visible_text(target).c_str());
    return TAPE2CART_FAILED;
  }
  if (save_files(cartridge.get(), planned, replaced, target, made) != 0 ||
      save_cartridge_image(cartridge.get(), file.entry.folder(), file.entry.name(), target,
                           made ? nullptr : &file.status()) != 0) {
    return TAPE2CART_FAILED;
  }
  return left_out ? TAPE2CART_LEFT_OUT : TAPE2CART_SAVED;
}
