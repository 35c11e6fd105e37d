// The block that a tape image ends inside, in words; see tapeinfo.h.
#include <cstdio>
#include <string>
#include <vector>

#include "little_endian.h"
#include "load_tape.h"
#include "tapeinfo.h"

namespace {

constexpr unsigned char DATA_FLAG = 0xFF;
constexpr size_t HEADER_BLOCK_SIZE = TAPE_HEADER_SIZE + 2;  // with flag and checksum
constexpr size_t LENGTH_AT = 1 + 11;  // the data length in a header block, after the flag

std::string bytes_word(uint64_t count) {
  return count == 1 ? " byte" : " bytes";
}

}  // namespace

size_t cut_file_header(const TapeFacts& facts) {
  const TapeCut* cut = facts.cut;
  if (cut == nullptr || !cut->holds_bytes || cut->data.empty() || cut->data[0] != DATA_FLAG) {
    return 0;
  }
  // Pauses, tones and texts may stand between a header and its data.
  for (size_t i = facts.blocks.size(); i > 0; --i) {
    const BlockVerdict& verdict = facts.files->blocks[i - 1];
    if (verdict.role == BlockRole::NoBytes) {
      continue;
    }
    if (verdict.role != BlockRole::HeaderWithoutData) {
      return 0;
    }
    const libspectrum_byte* data = libspectrum_tape_block_data(facts.blocks[i - 1]);
    bool announces = data != nullptr && verdict.length == HEADER_BLOCK_SIZE &&
                     cut->data_promised == uint64_t{read_le16(data + LENGTH_AT)} + 2;
    return announces ? i : 0;
  }
  return 0;
}

std::vector<std::string> cut_block_lines(const TapeFacts& facts) {
  const TapeCut& cut = *facts.cut;
  std::vector<std::string> lines;
  lines.push_back("Cut short: " + cut_words(cut));
  if (cut.holds_bytes && cut.data_promised > 0) {
    std::string promised = std::to_string(cut.data_promised) + bytes_word(cut.data_promised);
    if (cut.data.empty()) {
      lines.push_back("Data: none of " + promised);
    } else {
      char flag[8];
      std::snprintf(flag, sizeof flag, "0x%02X", cut.data[0]);
      lines.push_back("Data: " + std::to_string(cut.data.size()) + " of " + promised + ", flag " +
                      flag);
    }
  }
  if (facts.cut_header != 0) {
    lines.push_back("The data of " + quoted_name(facts.files->blocks[facts.cut_header - 1].name) +
                    ", whose header is block " + std::to_string(facts.cut_header));
  }
  return lines;
}
