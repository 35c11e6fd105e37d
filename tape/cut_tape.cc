// Tapes cut short: finding the block that a TAP, TZX or PZX image ends
// inside, from the blocks' own length fields, and parsing the whole blocks
// before it; see tape_check.h and load_tape.h.
#include <cstring>
#include <utility>

#include "little_endian.h"
#include "load_tape.h"
#include "tape_check.h"
#include "tape_files.h"

namespace {

// TAP: each block a 16-bit length, then that many bytes. A TAP has no
// signature, and other machines' tapes share the extension (C64, Oric): it
// is taken for a Spectrum tape cut short only when a whole block before the
// cut passes the ROM's checksum, or, with none whole, when the cut block
// starts with the flag of a ROM header or data.
bool find_tap_cut(const unsigned char* bytes, uint64_t length, TapeCut* cut) {
  uint64_t at = 0;
  bool checksum_right = false;
  while (at < length) {
    uint64_t available = length - at;
    uint64_t size = available >= 2 ? read_le16(bytes + at) : 0;
    if (available >= 2 && size <= available - 2) {
      checksum_right = checksum_right ||
                       (size >= 2 && rom_checksum_right(bytes + at + 2, static_cast<size_t>(size)));
      at += 2 + size;
      continue;
    }
    bool rom_flag = available > 2 && (bytes[at + 2] == 0x00 || bytes[at + 2] == 0xFF);
    if (at > 0 ? !checksum_right : !rom_flag) {
      return false;
    }
    cut->whole_length = static_cast<size_t>(at);
    cut->kind = block_type_kind(LIBSPECTRUM_TAPE_BLOCK_ROM, LIBSPECTRUM_ID_TAPE_TAP);
    cut->present = available;
    cut->promised = available >= 2 ? 2 + size : 0;
    cut->holds_bytes = true;
    if (available > 2) {
      cut->data.assign(bytes + at + 2, bytes + length);
    }
    cut->data_promised = size;
    return true;
  }
  return false;
}

// TZX: a 10-byte header (signature and version), then blocks of an ID byte
// and a body whose shape the ID gives.
bool find_tzx_cut(const unsigned char* bytes, uint64_t length, TapeCut* cut) {
  static constexpr unsigned char SIGNATURE[] = {'Z', 'X', 'T', 'a', 'p', 'e', '!', 0x1A};
  constexpr uint64_t HEADER = sizeof SIGNATURE + 2;
  if (length < HEADER || std::memcmp(bytes, SIGNATURE, sizeof SIGNATURE) != 0) {
    return false;
  }
  // The blocks of bytes: where the length of their data lies after the ID,
  // its width, and where the data starts.
  struct ByteBlock {
    unsigned id;
    uint64_t at;
    unsigned width;
    uint64_t data;
  };
  static constexpr ByteBlock BYTE_BLOCKS[] = {{0x10, 2, 2, 4}, {0x11, 15, 3, 18}, {0x14, 7, 3, 10}};
  uint64_t at = HEADER;
  while (at < length) {
    unsigned id = bytes[at];
    const unsigned char* body = bytes + at + 1;
    uint64_t available = length - at - 1;
    TzxExtent extent = tzx_block_extent(id, body, available);
    if (extent.kind == TzxExtent::Unknown) {
      return false;
    }
    if (extent.kind == TzxExtent::Whole) {
      at += 1 + extent.size;
      continue;
    }
    cut->whole_length = static_cast<size_t>(at);
    cut->kind = block_type_kind(static_cast<libspectrum_tape_type>(id), LIBSPECTRUM_ID_TAPE_TZX);
    cut->present = 1 + available;
    cut->promised = extent.size != 0 ? 1 + extent.size : 0;
    for (const ByteBlock& block : BYTE_BLOCKS) {
      if (block.id != id) {
        continue;
      }
      cut->holds_bytes = true;
      if (available >= block.data) {
        cut->data.assign(body + block.data, bytes + length);
        cut->data_promised =
            block.width == 2 ? read_le16(body + block.at) : read_le24(body + block.at);
      }
    }
    return true;
  }
  return false;
}

// The kind of a PZX block by its tag, as libspectrum reads it.
std::string pzx_kind(const unsigned char* tag) {
  static constexpr struct {
    const char* tag;
    libspectrum_tape_type type;
  } TAGS[] = {
      {"PULS", LIBSPECTRUM_TAPE_BLOCK_PULSE_SEQUENCE},
      {"DATA", LIBSPECTRUM_TAPE_BLOCK_DATA_BLOCK},
      {"PAUS", LIBSPECTRUM_TAPE_BLOCK_PAUSE},
      {"BRWS", LIBSPECTRUM_TAPE_BLOCK_COMMENT},
      {"STOP", LIBSPECTRUM_TAPE_BLOCK_STOP48},
      {"PZXT", LIBSPECTRUM_TAPE_BLOCK_ARCHIVE_INFO},
  };
  for (const auto& known : TAGS) {
    if (std::memcmp(tag, known.tag, 4) == 0) {
      return block_type_kind(known.type, LIBSPECTRUM_ID_TAPE_PZX);
    }
  }
  std::string text(reinterpret_cast<const char*>(tag), 4);
  return "PZX block \"" + visible_text(text.c_str()) + "\"";
}

// PZX: blocks of a 4-byte tag, a 32-bit length and that many bytes, the
// first the header block "PZXT".
bool find_pzx_cut(const unsigned char* bytes, uint64_t length, TapeCut* cut) {
  constexpr uint64_t HEAD = 8;  // tag and length
  if (length < HEAD || std::memcmp(bytes, "PZXT", 4) != 0 || read_le32(bytes + 4) > length - HEAD) {
    return false;  // no header block, or one cut short: the reader's to refuse
  }
  uint64_t at = 0;
  while (at < length) {
    uint64_t available = length - at;
    uint64_t size = available >= HEAD ? read_le32(bytes + at + 4) : 0;
    if (available >= HEAD && size <= available - HEAD) {
      at += HEAD + size;
      continue;
    }
    const unsigned char* block = bytes + at;
    cut->whole_length = static_cast<size_t>(at);
    cut->kind = available >= 4 ? pzx_kind(block) : "PZX block";
    cut->present = available;
    cut->promised = available >= HEAD ? HEAD + size : 0;
    if (available >= 4 && std::memcmp(block, "DATA", 4) == 0) {
      // Bit count (the top bit is the first level), tail, the pulse counts
      // of bit 0 and bit 1, their pulses, then the data.
      cut->holds_bytes = true;
      if (available >= HEAD + 8) {
        uint64_t start = HEAD + 8 + 2 * (uint64_t{block[HEAD + 6]} + block[HEAD + 7]);
        if (available >= start) {
          cut->data.assign(block + start, bytes + length);
          cut->data_promised = ((read_le32(block + HEAD) & 0x7FFFFFFF) + uint64_t{7}) / 8;
        }
      }
    }
    return true;
  }
  return false;
}

}  // namespace

bool find_tape_cut(const adapter::File& file, TapeCut* cut) {
  switch (file.type) {
    case LIBSPECTRUM_ID_TAPE_TAP:
      return find_tap_cut(file.bytes, file.length, cut);
    case LIBSPECTRUM_ID_TAPE_TZX:
      return find_tzx_cut(file.bytes, file.length, cut);
    case LIBSPECTRUM_ID_TAPE_PZX:
      return find_pzx_cut(file.bytes, file.length, cut);
    default:
      return false;
  }
}

std::string cut_words(const TapeCut& cut) {
  std::string held = "the image holds " + std::to_string(cut.present);
  if (cut.promised == 0) {
    return held + " of its bytes, and ends before its length field does";
  }
  return held + " of its " + std::to_string(cut.promised) + " bytes";
}

LoadedTape parse_tape_up_to_cut(const adapter::File& file) {
  bool tape_format = file.type == LIBSPECTRUM_ID_TAPE_TAP || file.type == LIBSPECTRUM_ID_TAPE_TZX ||
                     file.type == LIBSPECTRUM_ID_TAPE_PZX;
  if (file.cut_short || !tape_format) {
    return parse_checked_tape(file);
  }
  adapter::File image = file;
  std::vector<unsigned char> expanded;
  bool was_expanded = expand_compressed(file.bytes, file.length, &expanded);
  if (was_expanded) {
    image.bytes = expanded.data();
    image.length = expanded.size() - adapter::FILE_PADDING;
  }
  TapeCut cut;
  if (!find_tape_cut(image, &cut)) {
    return parse_checked_tape(file);  // as whole, or refused as before
  }
  image.length = cut.whole_length;
  LoadedTape loaded = parse_checked_tape(image, was_expanded);
  if (loaded.problem != TapeProblem::None) {
    return loaded;
  }
  size_t blocks = 0;
  libspectrum_tape_iterator it = nullptr;
  for (auto* b = libspectrum_tape_iterator_init(&it, loaded.tape.get()); b != nullptr;
       b = libspectrum_tape_iterator_next(&it)) {
    ++blocks;
  }
  cut.block = blocks + 1;
  loaded.cut = std::move(cut);
  return loaded;
}
