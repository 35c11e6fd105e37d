// The bits of one block read from its pulses; see decode.h.
#include <algorithm>
#include <cmath>
#include <vector>

#include "decode.h"

namespace {

// The ROM's timings in T-states: the pilot, sync and bit pulses.
constexpr double ROM_PILOT = 2168;
constexpr double ROM_SYNC = 667 + 735;
constexpr double ROM_BIT0 = 855;
constexpr double ROM_BIT1 = 1710;
// How far a block's timings may stray from the ROM's and still be the ROM's:
// the pilot by the speed of the tape (±10% and more), the bits against the
// pilot (the same tape, the same speed).
constexpr double ROM_PILOT_SPREAD = 0.16;
constexpr double ROM_BIT_SPREAD = 0.15;
constexpr double ROM_SYNC_SPREAD = 0.35;

// How the pulses are judged.
enum class Rule {
  Tracked,  // pairs against estimates that follow the bits read
  Fixed,    // pairs against the two lengths of the whole block
  Single,   // each pulse alone; the surer of a pair decides
};

struct Lengths {
  double bit0;
  double bit1;
};

struct Reading {
  std::vector<unsigned char> bytes;
  double bit0_sum = 0, bit1_sum = 0;
  size_t zeros = 0, ones = 0;
};

bool near(double value, double to, double spread) {
  return std::fabs(value - to) <= spread * to;
}

bool checksum_right(const std::vector<unsigned char>& bytes) {
  if (bytes.size() < 2) {
    return false;
  }
  unsigned char sum = 0;
  for (unsigned char byte : bytes) {
    sum ^= byte;
  }
  return sum == 0;
}

// The two bit lengths of pulses: the two means that split them best
// (a few rounds of two-means from their tenth and ninetieth percentiles);
// when the pulses are all alike, the ROM's proportion to the pilot says
// which bit they are, or else they are zeros of a bit 1 twice as long.
Lengths two_lengths(const std::vector<double>& pulses, double pilot) {
  if (pulses.empty()) {
    return {ROM_BIT0 * pilot / ROM_PILOT, ROM_BIT1 * pilot / ROM_PILOT};
  }
  std::vector<double> sorted(pulses);
  std::sort(sorted.begin(), sorted.end());
  double low = sorted[sorted.size() / 10];
  double high = sorted[sorted.size() * 9 / 10];
  for (int round = 0; round < 8; ++round) {
    double split = (low + high) / 2;
    double low_sum = 0, high_sum = 0;
    size_t low_count = 0, high_count = 0;
    for (double pulse : sorted) {
      if (pulse < split) {
        low_sum += pulse;
        ++low_count;
      } else {
        high_sum += pulse;
        ++high_count;
      }
    }
    if (low_count == 0 || high_count == 0) {
      break;
    }
    low = low_sum / static_cast<double>(low_count);
    high = high_sum / static_cast<double>(high_count);
  }
  if (high > 1.35 * low) {
    return {low, high};
  }
  double mean = (low + high) / 2;
  if (near(mean, ROM_BIT1 * pilot / ROM_PILOT, ROM_BIT_SPREAD)) {
    return {mean / 2, mean};
  }
  return {mean, 2 * mean};
}

// Merges every pulse far shorter than a 0 with its neighbours: a click or
// a burst of noise that split one pulse in three.
std::vector<double> without_glitches(const std::vector<double>& pulses, double bit0) {
  std::vector<double> merged;
  merged.reserve(pulses.size());
  for (size_t i = 0; i < pulses.size(); ++i) {
    if (pulses[i] < 0.4 * bit0 && !merged.empty() && i + 1 < pulses.size()) {
      merged.back() += pulses[i] + pulses[i + 1];
      ++i;
      continue;
    }
    merged.push_back(pulses[i]);
  }
  return merged;
}

bool no_bit(double pair, const Lengths& estimate) {
  return pair < 1.2 * estimate.bit0 || pair > 3 * estimate.bit1;
}

// Reads bits from `pulses` by `rule`, starting with `start`, until the
// pairs are no bits (far shorter than a 0, far longer than a 1: three of
// the next eight, so that one click does not end the block).
Reading read_bits(const std::vector<double>& pulses, Rule rule, Lengths start) {
  Reading reading;
  Lengths estimate = start;
  unsigned char byte = 0;
  int bits = 0;
  for (size_t i = 0; i + 1 < pulses.size(); i += 2) {
    double a = pulses[i];
    double b = pulses[i + 1];
    double pair = a + b;
    if (no_bit(pair, estimate)) {
      int wrong = 0;
      for (size_t j = i; j + 1 < pulses.size() && j < i + 16; j += 2) {
        wrong += no_bit(pulses[j] + pulses[j + 1], estimate) ? 1 : 0;
      }
      if (wrong >= 3 || i + 17 >= pulses.size()) {
        break;
      }
    }
    double middle = (estimate.bit0 + estimate.bit1) / 2;
    bool one = false;
    if (rule == Rule::Single) {
      double sure_a = std::fabs(a - middle);
      double sure_b = std::fabs(b - middle);
      one = sure_a >= sure_b ? a > middle : b > middle;
    } else {
      one = pair > 2 * middle;
    }
    if (one) {
      reading.bit1_sum += pair / 2;
      ++reading.ones;
    } else {
      reading.bit0_sum += pair / 2;
      ++reading.zeros;
    }
    if (rule == Rule::Tracked) {
      // Follow drift and a changing speed, a sixteenth a bit.
      double& length = one ? estimate.bit1 : estimate.bit0;
      length += (pair / 2 - length) / 16;
    }
    byte = static_cast<unsigned char>(byte << 1 | (one ? 1 : 0));
    if (++bits == 8) {
      reading.bytes.push_back(byte);
      bits = 0;
      byte = 0;
    }
  }
  return reading;
}

}  // namespace

bool decode_block_bits(const std::vector<double>& all, size_t count, DecodedBlock* block) {
  if (count < 3) {
    return false;
  }
  double pilot = block->pilot;
  double sync = all[0] + all[1];
  bool rom_sync = near(pilot, ROM_PILOT, ROM_PILOT_SPREAD) &&
                  near(sync, ROM_SYNC * pilot / ROM_PILOT, ROM_SYNC_SPREAD);

  // Each way of reading, in the order tried: from where the sync ends (or
  // one pulse sooner or later, when a sync pulse was split or lost), the
  // pulses as they are or with clicks merged away, and by each rule.
  Reading best;
  bool found = false;
  bool right = false;
  Lengths chosen{};
  for (int shift : {0, -1, 1}) {
    size_t first = static_cast<size_t>(2 + shift);
    if (first >= count) {
      continue;
    }
    std::vector<double> raw(all.begin() + static_cast<std::ptrdiff_t>(first),
                            all.begin() + static_cast<std::ptrdiff_t>(count));
    Lengths whole = two_lengths(raw, pilot);
    Lengths rom{ROM_BIT0 * pilot / ROM_PILOT, ROM_BIT1 * pilot / ROM_PILOT};
    std::vector<double> merged = without_glitches(raw, whole.bit0);
    for (const std::vector<double>* pulses : {&raw, &merged}) {
      for (Rule rule : {Rule::Tracked, Rule::Fixed, Rule::Single}) {
        bool rom_bits = near(whole.bit0, rom.bit0, ROM_BIT_SPREAD) ||
                        near(whole.bit1, rom.bit1, ROM_BIT_SPREAD);
        Lengths start = rule == Rule::Tracked && rom_sync && rom_bits ? rom : whole;
        Reading reading = read_bits(*pulses, rule, start);
        if (!found) {
          best = reading;
          chosen = whole;
          found = true;
        }
        if (checksum_right(reading.bytes)) {
          best = reading;
          chosen = whole;
          right = true;
          break;
        }
      }
      if (right) {
        break;
      }
    }
    if (right) {
      break;
    }
  }
  if (best.bytes.empty()) {
    return false;
  }
  block->bytes = std::move(best.bytes);
  block->checksum_ok = right;
  block->sync1 = all[0];
  block->sync2 = all[1];
  block->bit0 = best.zeros > 0 ? best.bit0_sum / static_cast<double>(best.zeros) : chosen.bit0;
  block->bit1 = best.ones > 0 ? best.bit1_sum / static_cast<double>(best.ones) : chosen.bit1;
  block->rom_timings = rom_sync && near(block->bit0, ROM_BIT0 * pilot / ROM_PILOT, ROM_BIT_SPREAD) &&
                       near(block->bit1, ROM_BIT1 * pilot / ROM_PILOT, ROM_BIT_SPREAD);
  return true;
}
