// The fuzzing targets.
#include "targets.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cart2tape.h"
#include "cartinfo.h"
#include "cartridge.h"
#include "cartridge_writer.h"
#include "hdf_header.h"
#include "load_tape.h"
#include "pulse_dump.h"
#include "tape.h"
#include "tape2cart.h"
#include "tapeinfo.h"

namespace {

std::FILE* discard() {
  static std::FILE* sink = std::fopen("/dev/null", "w");
  return sink;
}

// A broken invariant is a crash the fuzzer can report.
void require(bool condition) {
  if (!condition) {
    std::abort();
  }
}

// Every tape format the reader takes from memory alone: WAV is left out, as
// libspectrum opens a WAV by its file name.
const libspectrum_id_t TAPE_TYPES[] = {
    LIBSPECTRUM_ID_UNKNOWN,       LIBSPECTRUM_ID_TAPE_TAP,   LIBSPECTRUM_ID_TAPE_TZX,
    LIBSPECTRUM_ID_TAPE_WARAJEVO, LIBSPECTRUM_ID_TAPE_Z80EM, LIBSPECTRUM_ID_TAPE_CSW,
    LIBSPECTRUM_ID_TAPE_SPC,      LIBSPECTRUM_ID_TAPE_STA,   LIBSPECTRUM_ID_TAPE_LTP,
    LIBSPECTRUM_ID_TAPE_PZX,
};

LineWriter writer;

// Saves `size` bytes as the file `name` into the first free sectors of
// `cartridge`, as tape2cart does, and checks that the catalogue finds them
// whole. Returns the sectors used (none when they do not fit).
std::vector<size_t> save_and_find(libspectrum_microdrive* cartridge, const unsigned char* name,
                                  const std::vector<unsigned char>& bytes) {
  std::vector<size_t> free = free_sectors(cartridge);
  size_t needed = sectors_for(bytes.size());
  if (needed > free.size()) {
    return {};
  }
  free.resize(needed);
  require(write_cartridge_file(cartridge, name, bytes.data(), bytes.size(), free) == 0);
  Catalogue catalogue;
  require(catalogue.build(cartridge) == 0);
  bool found = false;
  for (uint64_t i = 0; i < catalogue.count(); ++i) {
    const CatalogueEntry& entry = catalogue[i];
    if (std::memcmp(entry.name, name, adapter::MDR_NAME_SIZE) == 0) {
      found = entry.data_size == bytes.size() && entry.has_eof && !entry.checksum_error &&
              std::memcmp(entry.data, bytes.data(), bytes.size()) == 0;
    }
  }
  require(found);
  return free;
}

}  // namespace

// libspectrum's reports of bad input, which fuzzing provokes all the time.
namespace {
libspectrum_error quiet(libspectrum_error /*error*/, const char* /*format*/, va_list /*ap*/) {
  return LIBSPECTRUM_ERROR_NONE;
}

}  // namespace

void fuzz_startup() {
  program_name = "fuzz";
  if (library_startup() != 0) {
    std::abort();
  }
  libspectrum_error_function = quiet;
}

void fuzz_cartridge(const uint8_t* data, size_t size) {
  // The parser, on the bytes as they are.
  std::vector<libspectrum_byte> copy(data, data + size);
  libspectrum_microdrive* parsed = libspectrum_microdrive_alloc();
  if (libspectrum_microdrive_mdr_read(parsed, copy.data(), copy.size()) == 0) {
    print_cartridge_summary(discard(), parsed, "fuzz.mdr", adapter::microdrive_block_count(parsed));
  }
  (void)libspectrum_microdrive_free(parsed);

  // The listings, on a cartridge of any number of blocks, 0 included.
  size_t blocks = size / adapter::MDR_BLOCK_SIZE;
  if (blocks > LIBSPECTRUM_MICRODRIVE_BLOCK_MAX) {
    blocks = LIBSPECTRUM_MICRODRIVE_BLOCK_MAX;
  }
  libspectrum_microdrive* cartridge = libspectrum_microdrive_alloc();
  for (size_t i = 0; i < blocks * adapter::MDR_BLOCK_SIZE; ++i) {
    libspectrum_microdrive_set_data(cartridge, i, data[i]);
  }
  libspectrum_microdrive_set_cartridge_len(cartridge, static_cast<libspectrum_byte>(blocks));
  libspectrum_microdrive_set_write_protect(cartridge, static_cast<int>(size % 2));
  print_cartridge_summary(discard(), cartridge, "fuzz.mdr", blocks);
  print_block_listing(discard(), cartridge, blocks);
  (void)print_file_listing(discard(), cartridge);

  // A file saved as tape2cart -r saves it (every block of its name freed
  // first) comes back whole, and freed again leaves as many sectors free as
  // there were; where a sector that FORMAT found bad bears its name, it is
  // not saved.
  static const unsigned char SAVED[adapter::MDR_NAME_SIZE] = {0xFF, 'f',  'u',  'z',  'z',
                                                              0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  std::vector<size_t> named = blocks_named(cartridge, SAVED);
  if (std::none_of(named.begin(), named.end(), [cartridge](size_t b) {
        return is_preset_bad_block(adapter::microdrive_block_read(cartridge, b));
      })) {
    require(free_cartridge_file(cartridge, SAVED) == named.size());
    require(blocks_named(cartridge, SAVED).empty());
    size_t free_before = free_sectors(cartridge).size();
    std::vector<unsigned char> file(size % 1500 + FILE_HEADER_SIZE, 0x5A);
    std::vector<size_t> used = save_and_find(cartridge, SAVED, file);
    require(free_cartridge_file(cartridge, SAVED) == used.size());
    require(free_sectors(cartridge).size() == free_before);
  }

  CatalogueEntry* entries = nullptr;
  uint64_t count = 0;
  require(catalogue_cartridge_files(cartridge, &entries, &count) == 0);
  require(count <= blocks);
  // Every file onto a tape, as cart2tape writes it, and every name as -x
  // would make it.
  TapePtr tape(libspectrum_tape_alloc());
  TakenNames taken;
  for (uint64_t i = 0; i < count; ++i) {
    require(entries[i].data_size >= 1 && entries[i].data_size <= 255 * 512 + 512);
    require(entries[i].block_count >= 1);
    append_file_blocks(tape.get(), entries[i]);
    std::string name = safe_file_name(zx_name_text(entries[i].name), ".bin", &taken);
    require(!name.empty() && name[0] != '.' && name[0] != '-' &&
            name.find('/') == std::string::npos);
  }
  libspectrum_byte* written = nullptr;
  size_t length = 0;
  if (count > 0) {
    require(libspectrum_tape_write(&written, &length, tape.get(), LIBSPECTRUM_ID_TAPE_TZX) == 0);
  }
  libspectrum_free(written);
  release_catalogue(entries, count);
  (void)libspectrum_microdrive_free(cartridge);
}

void fuzz_tape(const uint8_t* data, size_t size) {
  if (size == 0) {
    return;
  }
  libspectrum_id_t type = TAPE_TYPES[data[0] % (sizeof TAPE_TYPES / sizeof TAPE_TYPES[0])];
  // Padded like the tools' own input buffers.
  std::vector<libspectrum_byte> bytes(data + 1, data + size);
  bytes.resize(bytes.size() + adapter::FILE_PADDING, 0);
  adapter::File file{bytes.data(), size - 1, type, "fuzz", false};
  file.cut_short = adapter::bzip2_cut_short(file.bytes, file.length);
  if (type == LIBSPECTRUM_ID_UNKNOWN && !file.cut_short &&
      libspectrum_identify_file(&file.type, file.name, file.bytes, file.length) != 0) {
    file.type = LIBSPECTRUM_ID_UNKNOWN;
  }
  LoadedTape loaded = parse_checked_tape(file);
  if (loaded.problem == TapeProblem::None) {
    // Every file found goes onto a blank cartridge whole, as tape2cart
    // saves it, while there is room.
    TapeFiles found = find_tape_files(loaded.tape.get());
    CartridgePtr cartridge(libspectrum_microdrive_alloc());
    const unsigned char name[adapter::MDR_NAME_SIZE] = {'F', 'U', 'Z', 'Z'};
    format_cartridge(cartridge.get(), name, MAX_CARTRIDGE_SECTORS, false);
    for (const TapeFile& tape_file : found.files) {
      std::vector<unsigned char> saved = cartridge_file_bytes(tape_file);
      require(saved.size() == FILE_HEADER_SIZE + tape_file.data.size());
      (void)free_cartridge_file(cartridge.get(), tape_file.header + 1);
      (void)save_and_find(cartridge.get(), tape_file.header + 1, saved);
    }
    // Every block in words, as tapeinfo lists it (the times left at 0: the
    // walk below is the capped one).
    TapeTimes times;
    TapeFacts facts{file.type, &found, &times, {}};
    libspectrum_tape_iterator it = nullptr;
    for (auto* block = libspectrum_tape_iterator_init(&it, loaded.tape.get()); block != nullptr;
         block = libspectrum_tape_iterator_next(&it)) {
      facts.blocks.push_back(block);
    }
    times.blocks.resize(facts.blocks.size());
    for (size_t i = 0; i < facts.blocks.size(); ++i) {
      require(!block_kind(facts.blocks[i], facts.format).empty());
      for (const std::string& line : block_lines(facts, i)) {
        require(line.find('\n') == std::string::npos);  // one line each, texts included
      }
    }
    line_writer_init(&writer, discard());
    (void)dump_pulses(loaded.tape.get(), &writer, 200000);
    (void)line_writer_flush(&writer);
  }
}

void fuzz_zx_name(const uint8_t* data, size_t size) {
  if (size == 0) {
    return;
  }
  size_t capacity = data[0];
  // Exactly `capacity` bytes, so that any write past them is caught.
  char* output = capacity > 0 ? static_cast<char*>(std::malloc(capacity)) : nullptr;
  if (adapter::zx_string_to_utf8(output, capacity, data + 1, size - 1) == 0) {
    size_t length = std::strlen(output);
    require(length < capacity);
    for (size_t i = 0; i < length; ++i) {
      require(static_cast<unsigned char>(output[i]) >= 0x20);
    }
  }
  std::free(output);
}

void fuzz_hdf(const uint8_t* data, size_t size) {
  int32_t geometry[3] = {0, 0, 0};
  std::memcpy(geometry, data, size < sizeof geometry ? size : sizeof geometry);
  uint8_t flags = size > sizeof geometry ? data[sizeof geometry] : 0;
  HdfVersion version = (flags & 1) ? HdfVersion::V1_0 : HdfVersion::V1_1;
  bool compact = (flags & 2) != 0;

  uint64_t header_size = hdf_header_size(version);
  auto* header = static_cast<unsigned char*>(std::calloc(1, static_cast<size_t>(header_size)));
  build_hdf_header(header, version, compact, geometry[0], geometry[1], geometry[2]);
  require(std::memcmp(header, "RS-IDE\x1A", 7) == 0);
  require((header[9] | (header[10] << 8)) == static_cast<int>(header_size));
  require((header[24] | (header[25] << 8)) == (geometry[0] & 0xFFFF));
  std::free(header);

  int64_t length = -1;
  GeometryCheck check =
      hdf_data_length(geometry[0], geometry[1], geometry[2], compact, version, &length);
  bool negative = geometry[0] < 0 || geometry[1] < 0 || geometry[2] < 0;
  require((check == GeometryCheck::Negative) == negative);
  if (check == GeometryCheck::Ok) {
    require(length >= 0);
    // Undo the product one factor at a time.
    if (geometry[0] == 0 || geometry[1] == 0 || geometry[2] == 0) {
      require(length == 0);
    } else {
      int64_t rest = length;
      for (int64_t factor :
           {hdf_sector_size(compact), int64_t{geometry[0]}, int64_t{geometry[1]}}) {
        require(rest % factor == 0);
        rest /= factor;
      }
      require(rest == geometry[2]);
    }
  }
}
