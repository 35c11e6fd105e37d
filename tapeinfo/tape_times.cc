// The time each block of a tape plays; see tapeinfo.h.
#include <algorithm>
#include <functional>
#include <utility>
#include <vector>

#include "tape.h"
#include "tapeinfo.h"

TapeTimes time_tape(libspectrum_tape* tape) {
  TapeTimes times;
  // The blocks by address, to find the one playing after a block ends.
  std::vector<std::pair<libspectrum_tape_block*, size_t>> index;
  libspectrum_tape_iterator it = nullptr;
  for (auto* block = libspectrum_tape_iterator_init(&it, tape); block != nullptr;
       block = libspectrum_tape_iterator_next(&it)) {
    index.emplace_back(block, index.size());
  }
  if (index.empty()) {
    return times;
  }
  times.blocks.resize(index.size());
  auto by_address = [](const std::pair<libspectrum_tape_block*, size_t>& entry,
                       libspectrum_tape_block* block) {
    return std::less<libspectrum_tape_block*>()(entry.first, block);
  };
  std::sort(index.begin(), index.end(),
            [&](const auto& a, const auto& b) { return by_address(a, b.first); });
  auto block_now = [&]() {
    libspectrum_tape_block* block = libspectrum_tape_current_block(tape);
    auto found = std::lower_bound(index.begin(), index.end(), block, by_address);
    return found != index.end() && found->first == block ? found->second : 0;
  };
  const adapter::EdgeFlags flags = adapter::edge_flags();
  const auto block_end = static_cast<uint32_t>(LIBSPECTRUM_TAPE_FLAGS_BLOCK);
  const auto tape_end = static_cast<uint32_t>(flags.tape_end);
  size_t current = block_now();
  BlockTime* time = &times.blocks[current];
  time->played = true;
  adapter::EdgeRecord record{};
  uint64_t total = 0;
  for (;;) {
    int error = adapter::tape_get_next_edge(&record, tape, flags);
    if (error != 0) {
      // Where libspectrum stands, as the pulse dumper says it.
      int position = 0;
      QuietLibrary asking;
      times.error = error;
      times.failed_block = libspectrum_tape_position(&position, tape) == 0 && position >= 0
                               ? static_cast<size_t>(position)
                               : current;
      break;
    }
    total += record.duration;
    time->duration += record.duration;
    time->edges += record.edge != 0 ? 1 : 0;
    if ((record.flags & (block_end | tape_end)) == 0) {
      continue;
    }
    if ((record.flags & block_end) != 0) {
      ++time->plays;
    }
    if ((record.flags & tape_end) != 0) {
      break;
    }
    current = block_now();
    time = &times.blocks[current];
    if (!time->played) {
      time->played = true;
      time->start = total;
    }
  }
  times.total = total;
  return times;
}

std::string play_time(uint64_t tstates) {
  uint64_t hundredths = tstates / 35000;  // 3.5 million T-states a second
  char text[40];
  std::snprintf(
      text, sizeof text, "%llu:%02u.%02u", static_cast<unsigned long long>(hundredths / 6000),
      static_cast<unsigned>(hundredths / 100 % 60), static_cast<unsigned>(hundredths % 100));
  return text;
}
