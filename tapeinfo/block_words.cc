// Every kind of block in words; see tapeinfo.h.
#include <cstdio>
#include <string>
#include <vector>

#include "cartridge.h"
#include "common.h"
#include "tape.h"
#include "tapeinfo.h"

namespace {

// The ROM's own timings, in T-states.
constexpr libspectrum_dword ROM_PILOT = 2168;
constexpr size_t ROM_HEADER_PILOTS = 8063;
constexpr size_t ROM_DATA_PILOTS = 3223;
constexpr libspectrum_dword ROM_SYNC1 = 667;
constexpr libspectrum_dword ROM_SYNC2 = 735;
constexpr libspectrum_dword ROM_BIT0 = 855;
constexpr libspectrum_dword ROM_BIT1 = 1710;
constexpr size_t FLAG_HEADER_BLOCK_SIZE = TAPE_HEADER_SIZE + 2;

std::string number(uint64_t value) {
  return std::to_string(value);
}

// `text` between double quotes, with every byte that could steer a
// terminal made '?'.
std::string quoted(const char* text) {
  std::string shown = "\"";
  for (char c : visible_text(text != nullptr ? text : "")) {
    if (c == '"' || c == '\\') {
      shown += '\\';  // so that a script can tell where the text ends
    }
    shown += c;
  }
  return shown + "\"";
}

bool is_byte_block(libspectrum_tape_type type) {
  return type == LIBSPECTRUM_TAPE_BLOCK_ROM || type == LIBSPECTRUM_TAPE_BLOCK_TURBO ||
         type == LIBSPECTRUM_TAPE_BLOCK_PURE_DATA || type == LIBSPECTRUM_TAPE_BLOCK_DATA_BLOCK;
}

bool whole_bytes(libspectrum_tape_block* block) {
  return libspectrum_tape_block_type(block) == LIBSPECTRUM_TAPE_BLOCK_ROM ||
         libspectrum_tape_block_bits_in_last_byte(block) == 8;
}

void add_time(std::vector<std::string>* lines, const BlockTime& time) {
  if (!time.played) {
    lines->push_back("Not played");
    return;
  }
  lines->push_back("Start: " + play_time(time.start) + " (T-state " + number(time.start) + ")");
  lines->push_back("Duration: " + play_time(time.duration) + " (" + number(time.duration) +
                   " T-states" + (time.plays > 1 ? ", in " + number(time.plays) + " plays" : "") +
                   ")");
}

// The ROM file that a header block of 17 bytes announces.
void add_header(std::vector<std::string>* lines, const unsigned char* data) {
  for (const std::string& line : tape_header_words(data + 1)) {
    lines->push_back(line);
  }
}

// The block's bytes, checksum and place among the tape's files.
void add_bytes(std::vector<std::string>* lines, const TapeFacts& facts, size_t index) {
  libspectrum_tape_block* block = facts.blocks[index];
  size_t length = libspectrum_tape_block_data_length(block);
  const libspectrum_byte* data = libspectrum_tape_block_data(block);
  if (length == 0 || data == nullptr) {
    lines->push_back("Data: none");
    return;
  }
  char flag[8];
  std::snprintf(flag, sizeof flag, "0x%02X", data[0]);
  std::string bytes =
      "Data: " + number(length) + (length == 1 ? " byte" : " bytes") + ", flag " + flag;
  if (!whole_bytes(block)) {
    size_t bits = libspectrum_tape_block_bits_in_last_byte(block);
    lines->push_back(bytes + ", " + number(bits) + (bits == 1 ? " bit" : " bits") +
                     " used of the last");
    return;
  }
  lines->push_back(bytes);
  lines->push_back(std::string("Checksum: ") + (checksum_bad(block) ? "bad" : "ok"));
  const BlockVerdict& verdict = facts.files->blocks[index];
  if (data[0] == 0x00 && length == FLAG_HEADER_BLOCK_SIZE) {
    add_header(lines, data);
  }
  switch (verdict.role) {
    case BlockRole::FileHeader:
      lines->push_back("Its data follows in block " +
                       number(facts.files->files[verdict.file].data_block));
      break;
    case BlockRole::FileData:
    case BlockRole::BadDataChecksum: {
      size_t header = verdict.role == BlockRole::FileData
                          ? facts.files->files[verdict.file].header_block
                          : verdict.header_block;
      std::string name = verdict.role == BlockRole::FileData
                             ? zx_name_text(facts.files->files[verdict.file].header + 1)
                             : verdict.name;
      lines->push_back("The data of " + quoted_name(name) + ", whose header is block " +
                       number(header));
      break;
    }
    case BlockRole::HeaderWithoutData:
      lines->push_back(index + 1 == facts.cut_header
                           ? "Its data follows in block " + number(facts.cut->block) + ", cut short"
                           : "No data block of its length follows");
      break;
    case BlockRole::DamagedFileHeader:
      for (size_t later_block = index + 1; later_block < facts.files->blocks.size();
           ++later_block) {
        const BlockVerdict& later = facts.files->blocks[later_block];
        if (later.role == BlockRole::BadDataChecksum && later.header_block == index + 1) {
          lines->push_back("Its data follows in block " + number(later_block + 1) +
                           ", whose checksum is bad");
          break;
        }
      }
      break;
    case BlockRole::Headerless:
      lines->push_back("No header announces it");
      break;
    default:
      break;
  }
}

// Timings that differ from the ROM's, for turbo and pure-data blocks.
void add_timings(std::vector<std::string>* lines, libspectrum_tape_block* block) {
  libspectrum_tape_type type = libspectrum_tape_block_type(block);
  libspectrum_dword bit0 = libspectrum_tape_block_bit0_length(block);
  libspectrum_dword bit1 = libspectrum_tape_block_bit1_length(block);
  std::string bits = "bits " + number(bit0) + " " + number(bit1);
  if (type == LIBSPECTRUM_TAPE_BLOCK_PURE_DATA) {
    if (bit0 != ROM_BIT0 || bit1 != ROM_BIT1) {
      lines->push_back("Timings: " + bits + " (T-states)");
    }
    return;
  }
  const libspectrum_byte* data = libspectrum_tape_block_data(block);
  size_t rom_pilots =
      data != nullptr && libspectrum_tape_block_data_length(block) > 0 && data[0] >= 0x80
          ? ROM_DATA_PILOTS
          : ROM_HEADER_PILOTS;
  libspectrum_dword pilot = libspectrum_tape_block_pilot_length(block);
  size_t pilots = libspectrum_tape_block_pilot_pulses(block);
  libspectrum_dword sync1 = libspectrum_tape_block_sync1_length(block);
  libspectrum_dword sync2 = libspectrum_tape_block_sync2_length(block);
  if (pilot != ROM_PILOT || pilots != rom_pilots || sync1 != ROM_SYNC1 || sync2 != ROM_SYNC2 ||
      bit0 != ROM_BIT0 || bit1 != ROM_BIT1) {
    lines->push_back("Timings: pilot " + number(pilot) + " x " + number(pilots) + ", sync " +
                     number(sync1) + " " + number(sync2) + ", " + bits + " (T-states)");
  }
}

// The pulses of each bit of a PZX data block, where they are not the ROM's.
void add_bit_pulses(std::vector<std::string>* lines, libspectrum_tape_block* block) {
  std::string text;
  bool rom = true;
  for (int bit = 0; bit < 2; ++bit) {
    size_t count = bit == 0 ? libspectrum_tape_block_bit0_pulse_count(block)
                            : libspectrum_tape_block_bit1_pulse_count(block);
    libspectrum_dword rom_length = bit == 0 ? ROM_BIT0 : ROM_BIT1;
    rom = rom && count == 2;
    text += (bit == 0 ? "bit 0:" : "; bit 1:");
    for (size_t i = 0; i < count; ++i) {
      libspectrum_word pulse = bit == 0 ? libspectrum_tape_block_bit0_pulses(block, i)
                                        : libspectrum_tape_block_bit1_pulses(block, i);
      rom = rom && pulse == rom_length;
      text += " " + number(pulse);
    }
  }
  if (!rom) {
    lines->push_back("Pulses of a bit: " + text + " (T-states)");
  }
}

// "to block N" for a jump of `offset` blocks from block `index` (0-based),
// or that it leads outside the tape.
std::string jump_target(const TapeFacts& facts, size_t index, long offset) {
  long target = static_cast<long>(index) + offset;
  if (target < 0 || target >= static_cast<long>(facts.blocks.size())) {
    return "outside the tape, by " + std::to_string(offset) + " blocks";
  }
  return "to block " + std::to_string(target + 1);
}

const char* archive_label(int id) {
  static constexpr const char* LABELS[] = {"Title", "Publisher", "Author", "Year",  "Language",
                                           "Type",  "Price",     "Loader", "Origin"};
  if (id >= 0 && static_cast<size_t>(id) < std::size(LABELS)) {
    return LABELS[id];
  }
  return id == 0xFF ? "Comment" : nullptr;
}

void add_texts(std::vector<std::string>* lines, const TapeFacts& facts, size_t index) {
  libspectrum_tape_block* block = facts.blocks[index];
  libspectrum_tape_type type = libspectrum_tape_block_type(block);
  size_t count = libspectrum_tape_block_count(block);
  for (size_t i = 0; i < count; ++i) {
    const char* text = libspectrum_tape_block_texts(block, i);
    if (type == LIBSPECTRUM_TAPE_BLOCK_SELECT) {
      // The offsets are signed 16-bit words, which libspectrum keeps as they come.
      auto offset = static_cast<int16_t>(libspectrum_tape_block_offsets(block, i));
      lines->push_back("Option: " + quoted(text) + " jumps " + jump_target(facts, index, offset));
      continue;
    }
    int id = libspectrum_tape_block_ids(block, i);
    const char* label = archive_label(id);
    char unknown[16];
    std::snprintf(unknown, sizeof unknown, "Text 0x%02X", static_cast<unsigned>(id) & 0xFF);
    lines->push_back(std::string(label != nullptr ? label : unknown) + ": " + quoted(text));
  }
}

void add_hardware(std::vector<std::string>* lines, libspectrum_tape_block* block) {
  static constexpr const char* USES[] = {"runs on it", "uses its special features",
                                         "runs on it but does not use its special features",
                                         "does not run on it"};
  size_t count = libspectrum_tape_block_count(block);
  for (size_t i = 0; i < count; ++i) {
    int value = libspectrum_tape_block_values(block, i);
    lines->push_back("Hardware: type " + std::to_string(libspectrum_tape_block_types(block, i)) +
                     ", id " + std::to_string(libspectrum_tape_block_ids(block, i)) + ": " +
                     (value >= 0 && value < 4 ? USES[value] : "value " + std::to_string(value)));
  }
}

}  // namespace

std::string quoted_name(const std::string& name) {
  std::string shown = "\"";
  for (char c : visible_text(name.c_str())) {
    shown += c == '"' ? "\\\"" : std::string(1, c);
  }
  return shown + "\"";
}

bool checksum_bad(libspectrum_tape_block* block) {
  if (!is_byte_block(libspectrum_tape_block_type(block)) || !whole_bytes(block)) {
    return false;
  }
  size_t length = libspectrum_tape_block_data_length(block);
  const libspectrum_byte* data = libspectrum_tape_block_data(block);
  return data != nullptr && length > 0 && !rom_checksum_right(data, length);
}

std::vector<std::string> block_lines(const TapeFacts& facts, size_t index) {
  libspectrum_tape_block* block = facts.blocks[index];
  const BlockTime& time = facts.times->blocks[index];
  std::vector<std::string> lines;
  add_time(&lines, time);
  libspectrum_tape_type type = libspectrum_tape_block_type(block);
  if (is_byte_block(type)) {
    add_bytes(&lines, facts, index);
  }
  switch (type) {
    case LIBSPECTRUM_TAPE_BLOCK_TURBO:
    case LIBSPECTRUM_TAPE_BLOCK_PURE_DATA:
      add_timings(&lines, block);
      break;
    case LIBSPECTRUM_TAPE_BLOCK_DATA_BLOCK:
      add_bit_pulses(&lines, block);
      break;
    case LIBSPECTRUM_TAPE_BLOCK_PURE_TONE:
      lines.push_back("Pulses: " + number(libspectrum_tape_block_count(block)) + " of " +
                      number(libspectrum_tape_block_pulse_length(block)) + " T-states");
      break;
    case LIBSPECTRUM_TAPE_BLOCK_PULSES:
      lines.push_back("Pulses: " + number(libspectrum_tape_block_count(block)));
      break;
    case LIBSPECTRUM_TAPE_BLOCK_PULSE_SEQUENCE: {
      uint64_t pulses = 0;
      for (size_t i = 0; i < libspectrum_tape_block_count(block); ++i) {
        pulses += libspectrum_tape_block_pulse_repeats(block, i);
      }
      lines.push_back("Pulses: " + number(pulses));
      break;
    }
    case LIBSPECTRUM_TAPE_BLOCK_RAW_DATA:
    case LIBSPECTRUM_TAPE_BLOCK_RLE_PULSE:
    case LIBSPECTRUM_TAPE_BLOCK_GENERALISED_DATA:
      // The edges it played (the last block of a tape ends with the edge
      // that ends the tape); a block that is not played has none to show.
      if (time.played) {
        lines.push_back("Pulses: " + number(time.edges) +
                        (time.plays > 1 ? " over " + number(time.plays) + " plays" : ""));
      }
      break;
    case LIBSPECTRUM_TAPE_BLOCK_GROUP_START:
    case LIBSPECTRUM_TAPE_BLOCK_COMMENT:
    case LIBSPECTRUM_TAPE_BLOCK_MESSAGE:
    case LIBSPECTRUM_TAPE_BLOCK_CUSTOM:
      if (type == LIBSPECTRUM_TAPE_BLOCK_CUSTOM) {
        // The name is a field of 16 characters, padded with spaces.
        std::string name =
            libspectrum_tape_block_text(block) != nullptr ? libspectrum_tape_block_text(block) : "";
        name.erase(name.find_last_not_of(' ') + 1);
        lines.push_back("Name: " + quoted(name.c_str()));
      } else {
        lines.push_back((type == LIBSPECTRUM_TAPE_BLOCK_GROUP_START ? "Name: " : "Text: ") +
                        quoted(libspectrum_tape_block_text(block)));
      }
      if (type == LIBSPECTRUM_TAPE_BLOCK_MESSAGE) {
        lines.push_back("Shown for: " + number(libspectrum_tape_block_pause(block)) + " ms");
      }
      if (type == LIBSPECTRUM_TAPE_BLOCK_CUSTOM) {
        lines.push_back("Data: " + number(libspectrum_tape_block_data_length(block)) + " bytes");
      }
      break;
    case LIBSPECTRUM_TAPE_BLOCK_JUMP:
      lines.push_back("Jumps " + jump_target(facts, index, libspectrum_tape_block_offset(block)));
      break;
    case LIBSPECTRUM_TAPE_BLOCK_LOOP_START:
      lines.push_back("Repeats: " + number(libspectrum_tape_block_count(block)) +
                      (libspectrum_tape_block_count(block) == 1 ? " time" : " times"));
      break;
    case LIBSPECTRUM_TAPE_BLOCK_SET_SIGNAL_LEVEL:
      lines.push_back(std::string("Level: ") +
                      (libspectrum_tape_block_level(block) != 0 ? "high" : "low"));
      break;
    case LIBSPECTRUM_TAPE_BLOCK_ARCHIVE_INFO:
    case LIBSPECTRUM_TAPE_BLOCK_SELECT:
      add_texts(&lines, facts, index);
      break;
    case LIBSPECTRUM_TAPE_BLOCK_HARDWARE:
      add_hardware(&lines, block);
      break;
    default:
      break;
  }
  bool wav = facts.format == LIBSPECTRUM_ID_TAPE_WAV;
  if (type == LIBSPECTRUM_TAPE_BLOCK_ROM || type == LIBSPECTRUM_TAPE_BLOCK_TURBO ||
      type == LIBSPECTRUM_TAPE_BLOCK_PURE_DATA ||
      (type == LIBSPECTRUM_TAPE_BLOCK_RAW_DATA && !wav) ||
      type == LIBSPECTRUM_TAPE_BLOCK_GENERALISED_DATA ||
      (type == LIBSPECTRUM_TAPE_BLOCK_PAUSE && libspectrum_tape_block_pause_tstates(block) != 0 &&
       facts.format != LIBSPECTRUM_ID_TAPE_PZX)) {
    lines.push_back("Pause: " + number(libspectrum_tape_block_pause(block)) + " ms");
  }
  return lines;
}
