// Guards over an image's raw bytes, made before libspectrum parses it.
#include <cstdint>
#include <cstring>

#include "little_endian.h"
#include "tape_check.h"

namespace {

// How much of a select (0x28) or archive info (0x32) block lies in the
// `available` bytes after its ID, as the reader takes it: a 2-byte length
// it does not go by, a count, then `count` entries of `lead` bytes and a
// string (a length byte and the text).
TzxExtent listed_block_extent(const unsigned char* p, uint64_t available, uint64_t lead) {
  // Cut short: what its length field promises, where the image holds it.
  TzxExtent cut{TzxExtent::Cut, available >= 2 ? 2 + uint64_t{read_le16(p)} : 0};
  if (available < 3) {
    return cut;
  }
  uint64_t size = 3;
  for (unsigned entry = 0; entry < p[2]; ++entry) {
    if (available - size < lead + 1) {
      return cut;
    }
    size += lead + 1 + p[size + lead];
    if (size > available) {
      return cut;
    }
  }
  return {TzxExtent::Whole, size};
}

}  // namespace

TzxExtent tzx_block_extent(unsigned id, const unsigned char* p, uint64_t available) {
  // These the reader takes otherwise than their length fields say.
  switch (id) {
    case 0x28:
      return listed_block_extent(p, available, 2);
    case 0x32:
      return listed_block_extent(p, available, 1);
    case 0x2A:
      return {available >= 4 ? TzxExtent::Whole : TzxExtent::Cut, 4};
    case 0x2B:
      return {available >= 5 ? TzxExtent::Whole : TzxExtent::Cut, 5};
    default:
      break;
  }
  struct Shape {
    unsigned id;
    uint64_t fixed;  // bytes before the variable part, counting its length field
    size_t at;       // offset of the length field
    unsigned width;  // its width in bytes (0: no variable part)
    uint64_t unit;   // bytes per unit it counts
  };
  static constexpr Shape SHAPES[] = {
      {0x10, 4, 2, 2, 1},   {0x11, 18, 15, 3, 1}, {0x12, 4, 0, 0, 0}, {0x13, 1, 0, 1, 2},
      {0x14, 10, 7, 3, 1},  {0x15, 8, 5, 3, 1},   {0x19, 4, 0, 4, 1}, {0x20, 2, 0, 0, 0},
      {0x21, 1, 0, 1, 1},   {0x22, 0, 0, 0, 0},   {0x23, 2, 0, 0, 0}, {0x24, 2, 0, 0, 0},
      {0x25, 0, 0, 0, 0},   {0x30, 1, 0, 1, 1},   {0x31, 2, 1, 1, 1}, {0x33, 1, 0, 1, 3},
      {0x35, 20, 16, 4, 1}, {0x5A, 9, 0, 0, 0},
  };
  for (const Shape& shape : SHAPES) {
    if (shape.id != id) {
      continue;
    }
    if (available < shape.fixed) {
      // The length field ends the fixed part, so the image does not hold
      // it: only a block without one has a known size.
      return {TzxExtent::Cut, shape.width == 0 ? shape.fixed : 0};
    }
    uint64_t count = 0;
    if (shape.width == 1) {
      count = p[shape.at];
    } else if (shape.width == 2) {
      count = read_le16(p + shape.at);
    } else if (shape.width == 3) {
      count = read_le24(p + shape.at);
    } else if (shape.width == 4) {
      count = read_le32(p + shape.at);
    }
    uint64_t size = shape.fixed + count * shape.unit;
    return {size <= available ? TzxExtent::Whole : TzxExtent::Cut, size};
  }
  return {TzxExtent::Unknown, 0};
}

namespace {

// What the parts of a generalised-data block add up to, after its length
// field: the pause and the counts, the two symbol tables (when used) and the
// pilot and data streams. `body` starts at the length field.
uint64_t generalised_data_size(const unsigned char* body) {
  uint64_t pilot_runs = read_le32(body + 6);
  uint64_t pilot_pulses = body[10];
  uint64_t pilot_symbols = body[11] == 0 ? 256 : body[11];
  uint64_t data_count = read_le32(body + 12);
  uint64_t data_pulses = body[16];
  uint64_t data_symbols = body[17] == 0 ? 256 : body[17];
  uint64_t size = 14;
  if (pilot_runs > 0) {
    size += pilot_symbols * (1 + 2 * pilot_pulses) + 3 * pilot_runs;
  }
  if (data_count > 0) {
    uint64_t width = 0;
    while ((uint64_t{1} << width) < data_symbols) {
      ++width;
    }
    size += data_symbols * (1 + 2 * data_pulses) + (width * data_count + 7) / 8;
  }
  return size;
}

}  // namespace

bool warajevo_chain_loops(const adapter::File& file) {
  // The chain: a first offset at 0; at each block, the next offset 4 bytes
  // in; 0xFFFFFFFF ends it. libspectrum checks that every block it reaches
  // lies within the file, so a chain longer than the file has offsets is a
  // circle.
  constexpr uint32_t END = 0xFFFFFFFF;
  libspectrum_id_t raw = LIBSPECTRUM_ID_UNKNOWN;
  if (file.type != LIBSPECTRUM_ID_TAPE_WARAJEVO || file.length < 12 ||
      libspectrum_identify_file_raw(&raw, file.name, file.bytes, file.length) != 0 ||
      raw != LIBSPECTRUM_ID_TAPE_WARAJEVO) {
    return false;
  }
  uint64_t offset = read_le32(file.bytes);
  for (size_t steps = 0; offset != END; ++steps) {
    if (offset > file.length || file.length - offset < 8) {
      return false;  // the library stops here with an error of its own
    }
    uint32_t next = read_le32(file.bytes + offset + 4);
    if (next == END) {
      return false;
    }
    if (steps > file.length) {
      return true;
    }
    offset = next;
  }
  return false;
}

bool find_oversized_tzx_block(const adapter::File& file, size_t* offset) {
  static constexpr unsigned char SIGNATURE[] = {'Z', 'X', 'T', 'a', 'p', 'e', '!', 0x1A};
  constexpr uint64_t HEADER = sizeof SIGNATURE + 2;  // and the version
  libspectrum_id_t raw = LIBSPECTRUM_ID_UNKNOWN;
  if (file.type != LIBSPECTRUM_ID_TAPE_TZX || file.length < HEADER ||
      std::memcmp(file.bytes, SIGNATURE, sizeof SIGNATURE) != 0 ||
      libspectrum_identify_file_raw(&raw, file.name, file.bytes, file.length) != 0 ||
      raw != LIBSPECTRUM_ID_TAPE_TZX) {
    return false;
  }
  uint64_t at = HEADER;
  while (at < file.length) {
    unsigned id = file.bytes[at];
    const unsigned char* body = file.bytes + at + 1;
    uint64_t available = file.length - at - 1;
    // A block whose parts end inside the file is read safely, and refused
    // by the reader itself when they do not fill it exactly.
    if (id == 0x19 && available >= 18 && read_le32(body) >= 14 &&
        read_le32(body) <= available - 4 && generalised_data_size(body) > available - 4) {
      *offset = static_cast<size_t>(at);
      return true;
    }
    TzxExtent extent = tzx_block_extent(id, body, available);
    if (extent.kind != TzxExtent::Whole) {
      return false;  // the reader stops here with an error of its own
    }
    at += 1 + extent.size;
  }
  return false;
}
