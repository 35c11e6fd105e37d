// Tape checks made before the edge walk.
#include "tape_check.h"

#include <cstdint>
#include <vector>

namespace {

// libspectrum reads a 1-byte pure data block with 0 used bits without end.
void repair_last_byte(libspectrum_tape_block* block) {
  if (libspectrum_tape_block_type(block) == LIBSPECTRUM_TAPE_BLOCK_PURE_DATA &&
      libspectrum_tape_block_data_length(block) >= 1 &&
      libspectrum_tape_block_bits_in_last_byte(block) == 0) {
    (void)libspectrum_tape_block_set_bits_in_last_byte(block, 8);
  }
}

uint32_t read_le32(const unsigned char* bytes) {
  return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
         (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

bool is_silent(libspectrum_tape_block* block) {
  libspectrum_tape_type type = libspectrum_tape_block_type(block);
  return (type == LIBSPECTRUM_TAPE_BLOCK_PURE_TONE || type == LIBSPECTRUM_TAPE_BLOCK_PULSES) &&
         libspectrum_tape_block_count(block) == 0;
}

// An empty text block: plays no edge, has no effect on the level.
libspectrum_tape_block* empty_text_block() {
  libspectrum_tape_block* block = libspectrum_tape_block_alloc(LIBSPECTRUM_TAPE_BLOCK_COMMENT);
  auto* text = static_cast<char*>(libspectrum_malloc_n(1, 1));
  text[0] = '\0';
  (void)libspectrum_tape_block_set_text(block, text);
  return block;
}

// What playing order depends on, per block.
struct BlockStep {
  libspectrum_tape_type type;
  long long jump_offset;  // jumps only
  size_t loop_count;      // loop starts only
  size_t flow_before;     // jumps and loop blocks before this one
};

bool changes_flow(libspectrum_tape_type type) {
  return type == LIBSPECTRUM_TAPE_BLOCK_JUMP || type == LIBSPECTRUM_TAPE_BLOCK_LOOP_START ||
         type == LIBSPECTRUM_TAPE_BLOCK_LOOP_END;
}

// Where the player is between blocks: the block about to play, and the
// loop it is in (libspectrum keeps one loop at a time).
struct PlayState {
  size_t block;       // == block count once the tape has ended
  size_t loop_block;  // SIZE_MAX for none
  size_t loop_count;
  bool operator==(const PlayState& other) const {
    return block == other.block && loop_block == other.loop_block && loop_count == other.loop_count;
  }
};

// Plays one block's worth of control flow, as libspectrum's edge walk does.
// Returns false when the tape ends (or a jump leaves it, which stops the
// walk with an error).
bool step(const std::vector<BlockStep>& steps, PlayState* state) {
  const size_t count = steps.size();
  const BlockStep& b = steps[state->block];
  switch (b.type) {
    case LIBSPECTRUM_TAPE_BLOCK_JUMP: {
      long long target = static_cast<long long>(state->block) + b.jump_offset;
      if (target < 0 || target >= static_cast<long long>(count)) {
        return false;
      }
      state->block = static_cast<size_t>(target);
      return true;
    }
    case LIBSPECTRUM_TAPE_BLOCK_LOOP_START:
      if (state->block + 1 < count && b.loop_count != 0) {
        state->loop_block = state->block + 1;
        state->loop_count = b.loop_count;
      }
      break;
    case LIBSPECTRUM_TAPE_BLOCK_LOOP_END:
      if (state->loop_block != SIZE_MAX) {
        // A loop body that neither jumps nor touches a loop plays straight
        // back to here each time: go on as after its last round.
        if (state->loop_block <= state->block &&
            steps[state->block].flow_before == steps[state->loop_block].flow_before) {
          state->loop_count = 1;
        }
        if (--state->loop_count != 0) {
          state->block = state->loop_block;
          return true;
        }
        state->loop_block = SIZE_MAX;
      }
      break;
    default:
      break;
  }
  return ++state->block < count;
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

namespace {

uint32_t read_le16_at(const unsigned char* bytes) {
  return bytes[0] | (bytes[1] << 8u);
}
uint32_t read_le24_at(const unsigned char* bytes) {
  return read_le16_at(bytes) | (bytes[2] << 16u);
}

constexpr uint64_t STOP = UINT64_MAX;

// Bytes that a TZX block takes after its ID, or STOP when the walk cannot go
// on (an ID the reader does not take, or a block running past `available`).
// A select (0x28) or archive info (0x32) block as the reader takes it: a
// 2-byte length it does not go by, a count, then `count` entries of `lead`
// bytes and a string (a length byte and the text).
uint64_t listed_block_size(const unsigned char* p, uint64_t available, uint64_t lead) {
  if (available < 3) {
    return STOP;
  }
  uint64_t size = 3;
  for (unsigned entry = 0; entry < p[2]; ++entry) {
    if (available - size < lead + 1) {
      return STOP;
    }
    size += lead + 1 + p[size + lead];
    if (size > available) {
      return STOP;
    }
  }
  return size;
}

uint64_t tzx_block_size(unsigned id, const unsigned char* p, uint64_t available) {
  // These the reader takes otherwise than their length fields say.
  switch (id) {
    case 0x28:
      return listed_block_size(p, available, 2);
    case 0x32:
      return listed_block_size(p, available, 1);
    case 0x2A:
      return available >= 4 ? 4 : STOP;
    case 0x2B:
      return available >= 5 ? 5 : STOP;
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
      return STOP;
    }
    uint64_t count = 0;
    if (shape.width == 1) {
      count = p[shape.at];
    } else if (shape.width == 2) {
      count = read_le16_at(p + shape.at);
    } else if (shape.width == 3) {
      count = read_le24_at(p + shape.at);
    } else if (shape.width == 4) {
      count = read_le32(p + shape.at);
    }
    uint64_t size = shape.fixed + count * shape.unit;
    return size <= available ? size : STOP;
  }
  return STOP;
}

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

bool find_oversized_tzx_block(const adapter::File& file, size_t* block) {
  constexpr uint64_t HEADER = 10;  // "ZXTape!", 0x1A and the version
  libspectrum_id_t raw = LIBSPECTRUM_ID_UNKNOWN;
  if (file.type != LIBSPECTRUM_ID_TAPE_TZX || file.length < HEADER ||
      libspectrum_identify_file_raw(&raw, file.name, file.bytes, file.length) != 0 ||
      raw != LIBSPECTRUM_ID_TAPE_TZX) {
    return false;
  }
  uint64_t offset = HEADER;
  for (size_t position = 1; offset < file.length; ++position) {
    unsigned id = file.bytes[offset];
    const unsigned char* body = file.bytes + offset + 1;
    uint64_t available = file.length - offset - 1;
    if (id == 0x19 && available >= 18 && read_le32(body) >= 14 &&
        read_le32(body) <= available - 4 && generalised_data_size(body) != read_le32(body)) {
      *block = position;
      return true;
    }
    uint64_t size = tzx_block_size(id, body, available);
    if (size == STOP) {
      return false;  // the reader stops here with an error of its own
    }
    offset += 1 + size;
  }
  return false;
}

int repair_silent_blocks(libspectrum_tape* tape) {
  libspectrum_tape_iterator it = nullptr;
  size_t position = 0;
  for (libspectrum_tape_block* block = libspectrum_tape_iterator_init(&it, tape); block != nullptr;
       ++position) {
    if (!is_silent(block)) {
      repair_last_byte(block);
      block = libspectrum_tape_iterator_next(&it);
      continue;
    }
    // Put the replacement in front, then drop the original's link.
    libspectrum_tape_iterator doomed = it;
    block = libspectrum_tape_iterator_next(&it);
    int error = libspectrum_tape_insert_block(tape, empty_text_block(), position);
    if (error != LIBSPECTRUM_ERROR_NONE) {
      return error;
    }
    libspectrum_tape_remove_block(tape, doomed);
  }
  // The player may have been pointing at a replaced block, or have set
  // itself up from a repaired one: start it again.
  if (libspectrum_tape_iterator_init(&it, tape) != nullptr) {
    return libspectrum_tape_nth_block(tape, 0);
  }
  return 0;
}

namespace {

// Bit `index` of `bytes`, most significant bit first.
unsigned bit_at(const libspectrum_byte* bytes, size_t index) {
  return (bytes[index / 8] >> (7 - index % 8)) & 1u;
}

bool table_holds(const libspectrum_tape_generalised_data_symbol_table* table) {
  return libspectrum_tape_generalised_data_symbol_table_symbols_in_block(table) == 0 ||
         (libspectrum_tape_generalised_data_symbol_table_max_pulses(table) > 0 &&
          libspectrum_tape_generalised_data_symbol_table_symbol(table, 0) != nullptr);
}

bool generalised_data_playable(libspectrum_tape_block* block) {
  const auto* pilot = libspectrum_tape_block_pilot_table(block);
  const auto* data = libspectrum_tape_block_data_table(block);
  if (!table_holds(pilot) || !table_holds(data)) {
    return false;
  }
  // Each pilot run names a symbol of the pilot table and repeats it.
  libspectrum_dword runs = libspectrum_tape_generalised_data_symbol_table_symbols_in_block(pilot);
  libspectrum_word pilot_symbols =
      libspectrum_tape_generalised_data_symbol_table_symbols_in_table(pilot);
  for (size_t run = 0; run < runs; ++run) {
    if (libspectrum_tape_block_pilot_symbols(block, run) >= pilot_symbols ||
        libspectrum_tape_block_pilot_repeats(block, run) == 0) {
      return false;
    }
  }
  // Each data symbol is a group of bits that must name a symbol of the table.
  libspectrum_dword symbols = libspectrum_tape_generalised_data_symbol_table_symbols_in_block(data);
  size_t width = libspectrum_tape_block_bits_per_data_symbol(block);
  libspectrum_word data_symbols =
      libspectrum_tape_generalised_data_symbol_table_symbols_in_table(data);
  const libspectrum_byte* bytes = libspectrum_tape_block_data(block);
  if (symbols > 0 && width > 0) {
    for (size_t s = 0; s < symbols; ++s) {
      unsigned symbol = 0;
      for (size_t b = 0; b < width; ++b) {
        symbol = (symbol << 1) | bit_at(bytes, s * width + b);
      }
      if (symbol >= data_symbols) {
        return false;
      }
    }
  }
  return true;
}

// A PZX data block plays each bit with that bit value's pulses.
bool data_block_playable(libspectrum_tape_block* block) {
  size_t bits = libspectrum_tape_block_count(block);
  const libspectrum_byte* bytes = libspectrum_tape_block_data(block);
  bool has_pulses[2] = {libspectrum_tape_block_bit0_pulse_count(block) > 0,
                        libspectrum_tape_block_bit1_pulse_count(block) > 0};
  for (size_t i = 0; i < bits; ++i) {
    if (!has_pulses[bit_at(bytes, i)]) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool find_unplayable_block(libspectrum_tape* tape, size_t* block) {
  libspectrum_tape_iterator it = nullptr;
  size_t position = 0;
  for (libspectrum_tape_block* b = libspectrum_tape_iterator_init(&it, tape); b != nullptr;
       b = libspectrum_tape_iterator_next(&it), ++position) {
    libspectrum_tape_type type = libspectrum_tape_block_type(b);
    if ((type == LIBSPECTRUM_TAPE_BLOCK_GENERALISED_DATA && !generalised_data_playable(b)) ||
        (type == LIBSPECTRUM_TAPE_BLOCK_DATA_BLOCK && !data_block_playable(b))) {
      *block = position;
      return true;
    }
  }
  return false;
}

bool tape_plays_forever(libspectrum_tape* tape, size_t* block) {
  std::vector<BlockStep> steps;
  libspectrum_tape_iterator it = nullptr;
  for (libspectrum_tape_block* b = libspectrum_tape_iterator_init(&it, tape); b != nullptr;
       b = libspectrum_tape_iterator_next(&it)) {
    BlockStep s{libspectrum_tape_block_type(b), 0, 0, 0};
    if (!steps.empty()) {
      const BlockStep& last = steps.back();
      s.flow_before = last.flow_before + (changes_flow(last.type) ? 1 : 0);
    }
    if (s.type == LIBSPECTRUM_TAPE_BLOCK_JUMP) {
      s.jump_offset = libspectrum_tape_block_offset(b);
    } else if (s.type == LIBSPECTRUM_TAPE_BLOCK_LOOP_START) {
      s.loop_count = libspectrum_tape_block_count(b);
    }
    steps.push_back(s);
  }
  if (steps.empty()) {
    return false;
  }

  // Brent's cycle detection over the player's states: the states are finite
  // and each follows from the last, so a tape either ends or repeats a state.
  PlayState hare{0, SIZE_MAX, 0};
  PlayState tortoise = hare;
  uint64_t power = 1;
  uint64_t length = 0;
  for (;;) {
    if (!step(steps, &hare)) {
      return false;
    }
    ++length;
    if (hare == tortoise) {
      break;
    }
    if (length == power) {
      tortoise = hare;
      power *= 2;
      length = 0;
    }
  }

  // Every endless path goes through a jump that leads back: name the first.
  for (uint64_t i = 0; i < length; ++i) {
    const BlockStep& s = steps[hare.block];
    if (s.type == LIBSPECTRUM_TAPE_BLOCK_JUMP && s.jump_offset <= 0) {
      *block = hare.block;
      return true;
    }
    (void)step(steps, &hare);
  }
  *block = hare.block;
  return true;
}
