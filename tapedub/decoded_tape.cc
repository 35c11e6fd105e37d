// The blocks that the decoders of a recording find, made one tape: the
// readings of each block compared, the report written, the blocks appended;
// see decode.h.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>

#include "decode.h"
#include "host.h"
#include "tape.h"
#include "tape_files.h"
#include "tapedub.h"

namespace {

// The most bytes that a TAP or TZX standard-speed block holds.
constexpr size_t MOST_BLOCK_BYTES = 65535;
// The longest pause a TZX block gives, in ms.
constexpr double LONGEST_PAUSE = 65535;

// "m:ss.cc" for `tstates` at 3.5 MHz, as tapeinfo gives times.
std::string play_time(double tstates) {
  auto hundredths = static_cast<uint64_t>(std::fmax(tstates, 0) / 35000);
  char text[40];
  std::snprintf(
      text, sizeof text, "%llu:%02u.%02u", static_cast<unsigned long long>(hundredths / 6000),
      static_cast<unsigned>(hundredths / 100 % 60), static_cast<unsigned>(hundredths % 100));
  return text;
}

libspectrum_dword word_of(double tstates) {
  return static_cast<libspectrum_dword>(std::clamp(std::lround(tstates), 1L, 65535L));
}

libspectrum_byte* library_copy(const std::vector<unsigned char>& bytes) {
  auto* data = static_cast<libspectrum_byte*>(libspectrum_malloc_n(bytes.size(), 1));
  std::copy(bytes.begin(), bytes.end(), data);
  return data;
}

}  // namespace

DecodedTape::DecodedTape(bool tap, bool keep_pulses, size_t decoders)
    : tape_(libspectrum_tape_alloc()), tap_(tap), keep_pulses_(keep_pulses), sinks_(decoders) {
  for (size_t i = 0; i < decoders; ++i) {
    sinks_[i].owner = this;
    sinks_[i].decoder = i;
  }
}

DecodedTape::~DecodedTape() {
  for (libspectrum_tape_block* block : made_) {
    libspectrum_tape_block_free(block);
  }
}

libspectrum_tape* DecodedTape::tape() {
  for (libspectrum_tape_block* block : made_) {
    libspectrum_tape_append_block(tape_.get(), block);
  }
  made_.clear();
  return tape_.get();
}

std::vector<libspectrum_tape_block*> DecodedTape::take_blocks() {
  return std::move(made_);
}

void DecodedTape::Sink::block(DecodedBlock&& block) {
  owner->pending_.push_back({decoder, std::move(block)});
}

void DecodedTape::Sink::stray(StrayPulses&& stray) {
  if (decoder == 0) {
    owner->strays_.push_back(std::move(stray));
  }
}

void DecodedTape::settle(double safe_before) {
  std::sort(pending_.begin(), pending_.end(), [](const Reading& a, const Reading& b) {
    return a.block.start < b.block.start;
  });
  // The readings of one block overlap, each by more than half of the
  // shorter; the first decoder's right reading is kept, or any other's, or
  // else the first decoder's (or the first found).
  while (!pending_.empty()) {
    const DecodedBlock& first = pending_[0].block;
    std::vector<Reading> cluster;
    std::vector<Reading> others;
    double end = first.end;
    for (Reading& reading : pending_) {
      double overlap = std::min(first.end, reading.block.end) -
                       std::max(first.start, reading.block.start);
      double shorter = std::min(first.end - first.start, reading.block.end - reading.block.start);
      if (&reading == &pending_[0] || overlap > shorter / 2) {
        end = std::max(end, reading.block.end);
        cluster.push_back(std::move(reading));
      } else {
        others.push_back(std::move(reading));
      }
    }
    // Not settled yet: put back as it was.
    auto hold = [&] {
      for (Reading& reading : others) {
        cluster.push_back(std::move(reading));
      }
      pending_ = std::move(cluster);
      std::sort(pending_.begin(), pending_.end(), [](const Reading& a, const Reading& b) {
        return a.block.start < b.block.start;
      });
    };
    if (end >= safe_before) {
      hold();
      break;
    }
    size_t chosen = choose(cluster);
    if ((!cluster[chosen].block.checksum_ok || !cluster[chosen].block.usual_bits) &&
        retry_ != nullptr) {
      double from = INFINITY;
      for (const Reading& reading : cluster) {
        from = std::min(from, reading.block.start);
      }
      double to = end + RETRY_AFTER;
      if (to > retry_->taken_until()) {
        // Not all of the stretch is in yet.
        hold();
        break;
      }
      std::vector<DecodedBlock> again;
      retry_->read_again(from - RETRY_BEFORE, to, &again);
      // Those of the same block take part; the others were read before.
      double start = cluster[chosen].block.start;
      double stop = cluster[chosen].block.end;
      for (DecodedBlock& block : again) {
        double overlap = std::min(stop, block.end) - std::max(start, block.start);
        double shorter = std::min(stop - start, block.end - block.start);
        if (overlap > shorter / 2) {
          cluster.push_back({sinks_.size(), std::move(block)});
        }
      }
      chosen = choose(cluster);
    }
    pending_ = std::move(others);
    DecodedBlock block = std::move(cluster[chosen].block);
    settle_strays(block.start);
    append_block(std::move(block));
  }
  settle_strays(pending_.empty() ? safe_before : std::min(safe_before, pending_[0].block.start));
}

size_t DecodedTape::choose(const std::vector<Reading>& cluster) {
  size_t count = cluster.size();
  // Only readings of most of the block take part: a short one inside it
  // is a misreading, whatever its checksum.
  double longest = 0;
  for (const Reading& reading : cluster) {
    longest = std::max(longest, reading.block.end - reading.block.start);
  }
  size_t chosen = count;
  for (size_t i = 0; i < count; ++i) {
    const Reading& reading = cluster[i];
    if (reading.block.end - reading.block.start < longest / 2) {
      continue;
    }
    // A right checksum first; among right ones those whose bits are in the
    // usual proportion (a misreading right by chance most often is not),
    // then the most bytes (one right by chance is most often a reading
    // cut short by a slip); then the first decoder.
    bool better = chosen == count;
    const DecodedBlock& best = cluster[chosen == count ? 0 : chosen].block;
    if (!better && reading.block.checksum_ok != best.checksum_ok) {
      better = reading.block.checksum_ok;
    } else if (!better && reading.block.checksum_ok &&
               reading.block.usual_bits != best.usual_bits) {
      better = reading.block.usual_bits;
    } else if (!better && reading.block.checksum_ok &&
               reading.block.bytes.size() != best.bytes.size()) {
      better = reading.block.bytes.size() > best.bytes.size();
    } else if (!better) {
      better = reading.decoder < cluster[chosen].decoder;
    }
    if (better) {
      chosen = i;
    }
  }
  return chosen;
}

double DecodedTape::held_since() const {
  double since = INFINITY;
  for (const Reading& reading : pending_) {
    since = std::min(since, reading.block.start);
  }
  return since;
}

// Puts the strays that end before `before` on the tape, or in the report;
// those over a block already on the tape go.
void DecodedTape::settle_strays(double before) {
  while (!strays_.empty() && strays_.front().end <= before) {
    StrayPulses stray = std::move(strays_.front());
    strays_.pop_front();
    if (stray.start < last_end_) {
      continue;
    }
    append_stray(std::move(stray));
  }
}

void DecodedTape::finish(double end) {
  settle(INFINITY);
  settle_strays(INFINITY);
  set_last_pause(end);
}

void DecodedTape::set_last_pause(double next_start) {
  if (last_block_ != nullptr) {
    double ms = std::clamp((next_start - last_end_) / 3500, 0.0, LONGEST_PAUSE);
    (void)libspectrum_tape_block_set_pause(last_block_, static_cast<libspectrum_dword>(ms));
    last_block_ = nullptr;
  }
}

void DecodedTape::append_block(DecodedBlock&& block) {
  set_last_pause(block.start);
  ++blocks_;
  if (!block.checksum_ok) {
    ++bad_;
  }
  bool cut = block.bytes.size() > MOST_BLOCK_BYTES && (tap_ || block.rom_timings);
  size_t had = block.bytes.size();
  if (cut) {
    block.bytes.resize(MOST_BLOCK_BYTES);
  }
  bool turbo = !block.rom_timings && !tap_;
  char flag[8];
  std::snprintf(flag, sizeof flag, "0x%02X", block.bytes[0]);
  std::string kind = "standard speed";
  if (!block.rom_timings) {
    kind = "turbo (pilot " + std::to_string(word_of(block.pilot)) + " x " +
           std::to_string(std::min<size_t>(block.pilot_pulses, 65535)) + ", sync " +
           std::to_string(word_of(block.sync1)) + " " + std::to_string(word_of(block.sync2)) +
           ", bits " + std::to_string(word_of(block.bit0)) + " " +
           std::to_string(word_of(block.bit1)) + ")";
  }
  std::string line = std::string(program_name) + ": " + play_time(block.start) + " block " +
                     std::to_string(blocks_) + ": flag " + flag + ", " +
                     std::to_string(block.bytes.size()) + " bytes, checksum " +
                     (block.checksum_ok ? "ok" : "bad") + ", " + kind;
  if (block.bytes[0] == 0x00 && block.bytes.size() == TAPE_HEADER_SIZE + 2) {
    std::vector<std::string> words = tape_header_words(block.bytes.data() + 1);
    line += "; " + words[0];
  }
  if (cut) {
    line += "; cut from " + std::to_string(had) + " bytes";
  }
  std::fprintf(stderr, "%s\n", line.c_str());

  libspectrum_tape_block* made =
      libspectrum_tape_block_alloc(turbo ? LIBSPECTRUM_TAPE_BLOCK_TURBO : LIBSPECTRUM_TAPE_BLOCK_ROM);
  (void)libspectrum_tape_block_set_data_length(made, block.bytes.size());
  (void)libspectrum_tape_block_set_data(made, library_copy(block.bytes));
  (void)libspectrum_tape_block_set_pause(made, 1000);
  if (turbo) {
    (void)libspectrum_tape_block_set_pilot_length(made, word_of(block.pilot));
    (void)libspectrum_tape_block_set_pilot_pulses(made, std::min<size_t>(block.pilot_pulses, 65535));
    (void)libspectrum_tape_block_set_sync1_length(made, word_of(block.sync1));
    (void)libspectrum_tape_block_set_sync2_length(made, word_of(block.sync2));
    (void)libspectrum_tape_block_set_bit0_length(made, word_of(block.bit0));
    (void)libspectrum_tape_block_set_bit1_length(made, word_of(block.bit1));
    (void)libspectrum_tape_block_set_bits_in_last_byte(made, 8);
  }
  made_.push_back(made);
  last_block_ = made;
  last_end_ = block.end;
}

void DecodedTape::append_stray(StrayPulses&& stray) {
  std::string what = stray.longest_tone >= 64 ? "a tone without data" : "noise or clicks";
  if (keep_pulses_ && !tap_ && !stray.kept.empty()) {
    set_last_pause(stray.start);
    // TZX pulse sequences hold 255 pulses of 16 bits each.
    for (size_t i = 0; i < stray.kept.size(); i += 255) {
      size_t count = std::min<size_t>(255, stray.kept.size() - i);
      auto* lengths =
          static_cast<libspectrum_dword*>(libspectrum_malloc_n(count, sizeof(libspectrum_dword)));
      for (size_t j = 0; j < count; ++j) {
        lengths[j] = std::clamp<libspectrum_dword>(stray.kept[i + j], 1, 65535);
      }
      libspectrum_tape_block* made = libspectrum_tape_block_alloc(LIBSPECTRUM_TAPE_BLOCK_PULSES);
      (void)libspectrum_tape_block_set_count(made, count);
      (void)libspectrum_tape_block_set_pulse_lengths(made, lengths);
      made_.push_back(made);
    }
    std::fprintf(stderr, "%s: %s %zu pulses without data (%s), kept as pulses\n", program_name,
                 play_time(stray.start).c_str(), stray.count, what.c_str());
    last_end_ = stray.end;
    ++kept_;
    return;
  }
  std::fprintf(stderr, "%s: %s %zu pulses without data (%s), left out\n", program_name,
               play_time(stray.start).c_str(), stray.count, what.c_str());
}
