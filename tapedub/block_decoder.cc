// Pulses cut into blocks at their pilot tones; see decode.h.
#include <cmath>
#include <utility>

#include "decode.h"

namespace {

// A pilot is a steady tone of at least this many pulses.
constexpr size_t MIN_PILOT = 64;
// The pulses of a pilot: 0.07 to 1.4 ms.
constexpr double SHORTEST_PILOT = 250;
constexpr double LONGEST_PILOT = 5000;
// A pulse belongs to a tone while it is this close to the tone's mean.
constexpr double TONE_SPREAD = 0.3;
// After a sync, pulses this close to the pilot's are the pilot still (the
// "sync" was a click in it).
constexpr double PILOT_AGAIN = 0.15;
// A run of pulses this close to the pilot, two by two, and each within
// PILOT_PULSE_SPREAD of it, inside a block's data, is the next block's pilot.
constexpr double NEXT_PILOT = 0.1;
constexpr double PILOT_PULSE_SPREAD = 0.25;
// A pulse this much longer than the block's longest so far ends the data.
constexpr double END_FACTOR = 1.8;
// The most pulses one block's data can take: 65,535 bytes of two pulses a
// bit, the sync and a few more.
constexpr size_t MOST_DATA_PULSES = 65535 * 16 + 16;
// Stray pulses kept, at most, between two blocks (--keep-pulses).
constexpr size_t MOST_KEPT = size_t{1} << 20;

bool near(double value, double to, double spread) {
  return std::fabs(value - to) <= spread * to;
}

}  // namespace

BlockDecoder::BlockDecoder(BlockSink* sink, bool keep_strays, double repair)
    : sink_(sink), keep_strays_(keep_strays), repair_(repair) {}

double BlockDecoder::busy_since() const {
  if (state_ == State::Idle) {
    return tone_recent_.empty() ? now_ : tone_start_;
  }
  return tone_start_;
}

void BlockDecoder::edge(double time) {
  if (last_edge_ >= 0) {
    now_ = last_edge_;
    pulse(time - last_edge_);
  }
  last_edge_ = time;
  now_ = time;
}

void BlockDecoder::add_stray(double length) {
  if (strays_.count == 0) {
    strays_.start = now_;
  }
  ++strays_.count;
  strays_.end = now_ + length;
  if (keep_strays_ && strays_.kept.size() < MOST_KEPT) {
    strays_.kept.push_back(static_cast<uint32_t>(std::fmin(length + 0.5, 4e9)));
  }
  if (stray_tone_ > 0 && near(length, stray_tone_length_, TONE_SPREAD)) {
    ++stray_tone_;
  } else {
    stray_tone_ = 1;
    stray_tone_length_ = length;
  }
  if (stray_tone_ > strays_.longest_tone) {
    strays_.longest_tone = stray_tone_;
  }
}

void BlockDecoder::flush_strays() {
  if (strays_.count > 0) {
    sink_->stray(std::move(strays_));
  }
  strays_ = StrayPulses();
  stray_tone_ = 0;
}

// The pulses of the tone or run under way become strays.
void BlockDecoder::drop_tone() {
  double at = now_;
  now_ = tone_start_;
  if (tone_recent_.size() == tone_pulses_) {
    for (double earlier : tone_recent_) {
      add_stray(earlier);
      now_ += earlier;
    }
  } else if (tone_pulses_ > 0) {
    // A pilot whose lengths were not kept: counted, as one steady tone.
    if (strays_.count == 0) {
      strays_.start = tone_start_;
    }
    strays_.count += tone_pulses_;
    strays_.end = at;
    if (tone_pulses_ > strays_.longest_tone) {
      strays_.longest_tone = tone_pulses_;
    }
  }
  now_ = at;
  tone_recent_.clear();
  tone_pulses_ = 0;
  tone_mean_ = 0;
}

// The run under way becomes strays, and `length` starts a new one.
void BlockDecoder::restart_tone(double length) {
  drop_tone();
  if (length >= SHORTEST_PILOT && length <= LONGEST_PILOT) {
    tone_start_ = now_;
    tone_recent_.push_back(length);
    tone_pulses_ = 1;
    tone_mean_ = length;
  } else {
    add_stray(length);
  }
}

void BlockDecoder::pulse(double length) {
  switch (state_) {
    case State::Idle:
    case State::Tone:
      tone_pulse(length);
      break;
    case State::Data:
      data_pulse(length);
      break;
  }
}

void BlockDecoder::tone_pulse(double length) {
  if (tone_pulses_ > 0 && near(length, tone_mean_, TONE_SPREAD)) {
    // The mean of all its pulses at first, then of the last 64 or so, for drift.
    ++tone_pulses_;
    double weight = tone_pulses_ < MIN_PILOT ? static_cast<double>(tone_pulses_) : MIN_PILOT;
    tone_mean_ += (length - tone_mean_) / weight;
    if ((state_ == State::Idle || keep_strays_) && tone_recent_.size() < MOST_KEPT) {
      tone_recent_.push_back(length);
    }
    if (state_ == State::Idle && tone_pulses_ >= MIN_PILOT) {
      state_ = State::Tone;
      if (!keep_strays_) {
        tone_recent_.clear();
      }
    }
    return;
  }
  if (state_ == State::Tone) {
    if (length > 4 * tone_mean_ && length > 6000) {
      // The tone ends without a sync: no block.
      state_ = State::Idle;
      restart_tone(length);
      return;
    }
    // A sync: the data starts.
    block_ = DecodedBlock();
    longest_ = std::fmax(tone_mean_, length);
    run_pulses_ = 0;
    block_.start = tone_start_;
    block_.pilot = tone_mean_;
    block_.pilot_pulses = tone_pulses_;
    data_.clear();
    data_.push_back(length);
    data_start_ = now_;
    state_ = State::Data;
    return;
  }
  restart_tone(length);
}

void BlockDecoder::data_pulse(double length) {
  data_.push_back(length);
  size_t n = data_.size();
  // A click in the pilot, not a sync: the pulses after it are the pilot's.
  if (n == 10) {
    bool pilot_again = true;
    for (size_t i = 2; i < n; ++i) {
      pilot_again = pilot_again && near(data_[i], block_.pilot, PILOT_AGAIN);
    }
    if (pilot_again) {
      tone_pulses_ += n;
      data_.clear();
      state_ = State::Tone;
      return;
    }
  }
  // A pulse much longer than any of the block's so far (pilot, sync, bits)
  // ends the data: the pause after it, or a dropout.
  if (length > END_FACTOR * longest_) {
    if (n <= 2) {
      // No bit at all after the sync: a tone without data.
      data_.pop_back();
      end_data(data_.size());
      state_ = State::Idle;
      restart_tone(length);
      return;
    }
    end_data(n - 1);
    return;
  }
  if (length > longest_) {
    longest_ = length;
  }
  // The next block's pilot, without a pause before it: pulses near the
  // pilot's, two by two nearer still (one edge of a pilot may come early).
  if (n > 3 && near(length, block_.pilot, PILOT_PULSE_SPREAD) &&
      near(length + data_[n - 2], 2 * block_.pilot, NEXT_PILOT)) {
    if (run_pulses_ == 0) {
      run_start_ = n - 2;
      run_pulses_ = 1;
    }
    ++run_pulses_;
    if (run_pulses_ >= MIN_PILOT) {
      end_data(run_start_);
      return;
    }
  } else {
    run_pulses_ = 0;
  }
  if (n >= MOST_DATA_PULSES) {
    end_data(n);
  }
}

// Reads the block from its first `data_pulses` pulses, then plays what is
// left of them again from the idle state.
void BlockDecoder::end_data(size_t data_pulses) {
  std::vector<double> rest(data_.begin() + static_cast<std::ptrdiff_t>(data_pulses), data_.end());
  double end = data_start_;
  for (size_t i = 0; i < data_pulses; ++i) {
    end += data_[i];
  }
  block_.end = end;
  bool found = data_pulses > 2 && decode_block_bits(data_, data_pulses, repair_, &block_);
  state_ = State::Idle;
  if (found) {
    tone_recent_.clear();
    tone_pulses_ = 0;
    tone_mean_ = 0;
    flush_strays();
    sink_->block(std::move(block_));
  } else {
    // The tone and what followed it were no block.
    drop_tone();
    double at = now_;
    now_ = data_start_;
    for (size_t i = 0; i < data_pulses; ++i) {
      add_stray(data_[i]);
      now_ += data_[i];
    }
    now_ = at;
  }
  data_.clear();
  block_ = DecodedBlock();
  double at = now_;
  now_ = end;
  for (double length : rest) {
    pulse(length);
    now_ += length;
  }
  now_ = at;
}

void BlockDecoder::finish(double time) {
  now_ = last_edge_ >= 0 ? last_edge_ : time;
  if (state_ == State::Data) {
    // A recording that stops at the end of the last bit's first pulse:
    // the second is as long (the two pulses of a bit are alike).
    if (data_.size() > 2 && (data_.size() - 2) % 16 == 15) {
      data_.push_back(data_.back());
    }
    end_data(data_.size());
  }
  drop_tone();
  flush_strays();
  state_ = State::Idle;
  last_edge_ = -1;
  now_ = time;
}
