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
  Path,     // the best path through the pulses, repairing slipped edges
};

struct Lengths {
  double bit0;
  double bit1;
};

struct Reading {
  std::vector<unsigned char> bytes;
  double bit0_sum = 0, bit1_sum = 0;
  size_t zeros = 0, ones = 0;
  size_t used = 0;  // the pulses that its whole bytes took
};

// Whether a reading's bits are in the proportion of a tape's: a 1 twice
// as long as a 0, the ROM's and the turbo loaders'. A misreading whose
// checksum is right by chance (one in 256 of them) has shorter 1s or
// longer 0s, pulses taken for the wrong bits or bits lost.
bool usual_proportion(const Reading& reading) {
  if (reading.zeros == 0 || reading.ones == 0) {
    return true;
  }
  double ratio = (reading.bit1_sum / static_cast<double>(reading.ones)) /
                 (reading.bit0_sum / static_cast<double>(reading.zeros));
  return ratio >= 1.85 && ratio <= 2.2;
}

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
      reading.used = i + 2;
      bits = 0;
      byte = 0;
    }
  }
  return reading;
}

// Where the pulses stop looking like bits: the first of 16 pulses of which
// fewer than 12 are as long as a 0 or a 1 could be. A reading that ends well
// before it stopped on a slip, and its checksum, right by chance one time
// in 256, is no proof.
size_t end_of_bits(const std::vector<double>& pulses, Lengths lengths) {
  auto bit_like = [&](double pulse) {
    return pulse > 0.6 * lengths.bit0 && pulse < 1.5 * lengths.bit1 ? 1 : 0;
  };
  int like = 0;
  for (size_t i = 0; i < pulses.size(); ++i) {
    like += bit_like(pulses[i]);
    if (i >= 16) {
      like -= bit_like(pulses[i - 16]);
    }
    if (i >= 15 && like < 12) {
      return i - 15;
    }
  }
  return pulses.size();
}

// The best path through the pulses: a dynamic program that reads them as
// bits, each bit two half-periods of its length, where noise may have
// added a pair of edges (a half-period cut in three) or taken a pair away
// (three half-periods as one, across two bits). Each way costs the squared
// error of its half-periods against the lengths, in units of half the gap
// between a 0 and a 1, and each repair costs `repair` more (see
// PATH_REPAIR), so that the bits are decided by whole periods, and a slip
// of the edges costs one bit, not the rest of the block. Read twice: the second time against lengths that
// follow the speed of the tape along the block, as the first reading gives it.
// A bit this costly is no bit; a block ends where three of eight are.
constexpr double NO_BIT = 12;

struct Step {
  double cost = INFINITY;
  uint32_t from = 0;     // the pulse where the step starts
  uint8_t bits = 0;      // 1 or 2
  uint8_t values = 0;    // the bits, the first in bit 1
  bool repaired = false;
};

void path_steps(const std::vector<double>& p, const std::vector<double>& scale, Lengths lengths,
                double repair, std::vector<Step>* steps) {
  size_t n = p.size();
  steps->assign(n + 1, Step());
  (*steps)[0].cost = 0;
  double unit = (lengths.bit1 - lengths.bit0) / 2;
  auto err = [&](double measured, double expected, size_t at) {
    double e = (measured - expected * scale[at]) / (unit * scale[at]);
    return e * e;
  };
  auto offer = [&](size_t to, double cost, size_t from, int bits, int values, bool repaired) {
    Step& step = (*steps)[to];
    if (cost < step.cost) {
      step = {cost, static_cast<uint32_t>(from), static_cast<uint8_t>(bits),
              static_cast<uint8_t>(values), repaired};
    }
  };
  const double length[2] = {lengths.bit0, lengths.bit1};
  for (size_t i = 0; i < n; ++i) {
    double here = (*steps)[i].cost;
    if (!std::isfinite(here)) {
      continue;
    }
    for (int v = 0; v < 2; ++v) {
      double l = length[v];
      if (i + 2 <= n) {
        offer(i + 2, here + err(p[i], l, i) + err(p[i + 1], l, i), i, 1, v, false);
      }
      if (i + 4 <= n) {
        double cut_first = err(p[i] + p[i + 1] + p[i + 2], l, i) + err(p[i + 3], l, i);
        double cut_second = err(p[i], l, i) + err(p[i + 1] + p[i + 2] + p[i + 3], l, i);
        offer(i + 4, here + repair + std::fmin(cut_first, cut_second), i, 1, v, true);
      }
      if (i + 2 <= n) {
        for (int w = 0; w < 2; ++w) {
          double m = length[w];
          double late = err(p[i], l, i) + err(p[i + 1], l + 2 * m, i) / 3;
          double early = err(p[i], 2 * l + m, i) / 3 + err(p[i + 1], m, i);
          offer(i + 2, here + repair + std::fmin(late, early), i, 2, v << 1 | w, true);
        }
      }
    }
  }
}

// The steps of the best path, in order, through the first `n` pulses.
std::vector<Step> best_path(const std::vector<Step>& steps, size_t n) {
  size_t end = n;
  while (end > 0 && !std::isfinite(steps[end].cost)) {
    --end;
  }
  std::vector<Step> path;
  while (end > 0) {
    path.push_back(steps[end]);
    end = steps[end].from;
  }
  std::reverse(path.begin(), path.end());
  return path;
}

Reading read_path(const std::vector<double>& pulses, Lengths start, double repair) {
  Reading reading;
  size_t n = pulses.size();
  if (n < 2 || start.bit1 <= start.bit0) {
    return reading;
  }
  std::vector<double> scale(n, 1.0);
  std::vector<Step> steps;
  std::vector<Step> path;
  for (int pass = 0; pass < 2; ++pass) {
    path_steps(pulses, scale, start, repair, &steps);
    path = best_path(steps, n);
    if (pass == 1) {
      break;
    }
    // The speed along the block: each plain bit's period against its
    // length, smoothed over some 30 bits each way.
    std::vector<double> ratio(n, 0);
    std::vector<double> weight(n, 0);
    for (const Step& step : path) {
      if (!step.repaired && step.cost - steps[step.from].cost < 2) {
        double expected = 2 * ((step.values & 1) != 0 ? start.bit1 : start.bit0);
        ratio[step.from] = (pulses[step.from] + pulses[step.from + 1]) / expected;
        weight[step.from] = 1;
      }
    }
    constexpr double KEEP = 1 - 1.0 / 60;
    std::vector<double> forward(n), forward_w(n);
    double r = 0, w = 0;
    for (size_t i = 0; i < n; ++i) {
      r = KEEP * r + ratio[i];
      w = KEEP * w + weight[i];
      forward[i] = r;
      forward_w[i] = w;
    }
    r = 0, w = 0;
    for (size_t i = n; i-- > 0;) {
      double total_w = forward_w[i] + w;
      if (total_w > 0.5) {
        scale[i] = (forward[i] + r) / total_w;
      }
      r = KEEP * r + ratio[i];
      w = KEEP * w + weight[i];
    }
  }
  // The bits, until three of eight are no bits.
  std::vector<bool> bad(path.size());
  for (size_t k = 0; k < path.size(); ++k) {
    double cost = path[k].cost - steps[path[k].from].cost;
    bad[k] = cost > NO_BIT;
  }
  unsigned char byte = 0;
  int bits = 0;
  for (size_t k = 0; k < path.size(); ++k) {
    int wrong = 0;
    for (size_t j = k; j < path.size() && j < k + 8; ++j) {
      wrong += bad[j] ? 1 : 0;
    }
    if (wrong >= 3) {
      break;
    }
    const Step& step = path[k];
    for (int b = step.bits - 1; b >= 0; --b) {
      bool one = (step.values >> b & 1) != 0;
      if (step.bits == 1 && !step.repaired) {
        double half = (pulses[step.from] + pulses[step.from + 1]) / 2;
        (one ? reading.bit1_sum : reading.bit0_sum) += half;
        ++(one ? reading.ones : reading.zeros);
      }
      byte = static_cast<unsigned char>(byte << 1 | (one ? 1 : 0));
      if (++bits == 8) {
        reading.bytes.push_back(byte);
        reading.used = k + 1 < path.size() ? path[k + 1].from : pulses.size();
        bits = 0;
        byte = 0;
      }
    }
  }
  return reading;
}

}  // namespace

bool decode_block_bits(const std::vector<double>& all, size_t count, double repair,
                       DecodedBlock* block) {
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
  // The first reading is kept when right, its bits in the usual
  // proportion; otherwise every way is tried, and of the right readings
  // those in the usual proportion first, then the longest, kept (see
  // DecodedTape::settle).
  Reading best;
  bool found = false;
  bool right = false;
  bool sure = false;  // right, and its bits in the usual proportion
  Lengths chosen{};
  // The pairs as found, then one pulse earlier, then one later.
  for (size_t first : {size_t{2}, size_t{1}, size_t{3}}) {
    if (first >= count || (sure && best.bytes.size() * 16 + first >= count)) {
      continue;
    }
    std::vector<double> raw(all.begin() + static_cast<std::ptrdiff_t>(first),
                            all.begin() + static_cast<std::ptrdiff_t>(count));
    Lengths whole = two_lengths(raw, pilot);
    Lengths rom{ROM_BIT0 * pilot / ROM_PILOT, ROM_BIT1 * pilot / ROM_PILOT};
    std::vector<double> merged = without_glitches(raw, whole.bit0);
    for (const std::vector<double>* pulses : {&raw, &merged}) {
      size_t bits_end = end_of_bits(*pulses, whole);
      for (Rule rule : {Rule::Tracked, Rule::Path, Rule::Fixed, Rule::Single}) {
        bool rom_bits = near(whole.bit0, rom.bit0, ROM_BIT_SPREAD) ||
                        near(whole.bit1, rom.bit1, ROM_BIT_SPREAD);
        Lengths start = rule == Rule::Tracked && rom_sync && rom_bits ? rom : whole;
        Reading reading =
            rule == Rule::Path ? read_path(*pulses, start, repair) : read_bits(*pulses, rule, start);
        if (!found) {
          best = reading;
          chosen = whole;
          found = true;
        }
        bool usual = usual_proportion(reading);
        if (checksum_right(reading.bytes) && reading.used + 48 >= bits_end &&
            (!right || (usual && !sure) ||
             (usual == sure && reading.bytes.size() > best.bytes.size()))) {
          best = reading;
          chosen = whole;
          right = true;
          sure = usual;
          if (sure && first == 2 && pulses == &raw && rule == Rule::Tracked) {
            break;
          }
        }
      }
      if (sure && first == 2 && pulses == &raw && best.used + 48 >= bits_end) {
        break;
      }
    }
  }
  if (best.bytes.empty()) {
    return false;
  }
  block->bytes = std::move(best.bytes);
  block->checksum_ok = right;
  block->usual_bits = usual_proportion(best);
  block->sync1 = all[0];
  block->sync2 = all[1];
  block->bit0 = best.zeros > 0 ? best.bit0_sum / static_cast<double>(best.zeros) : chosen.bit0;
  block->bit1 = best.ones > 0 ? best.bit1_sum / static_cast<double>(best.ones) : chosen.bit1;
  block->rom_timings = rom_sync && near(block->bit0, ROM_BIT0 * pilot / ROM_PILOT, ROM_BIT_SPREAD) &&
                       near(block->bit1, ROM_BIT1 * pilot / ROM_PILOT, ROM_BIT_SPREAD);
  return true;
}
