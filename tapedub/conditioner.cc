// Samples of a recording into edges; see decode.h.
#include <cmath>

#include "decode.h"
#include "tapedub.h"

namespace {

// The DC filter's corner: far below the slowest tone of a tape (a pilot
// plays near 800 Hz), far above the drift of a recording's middle.
constexpr double DC_CORNER = 30;

// The level follows the mean of the signal's size over about 3 ms: a few
// pulses of a pilot, quick enough for a dropout's recovery.
constexpr double LEVEL_SECONDS = 0.003;

// Below this level (of full scale) the trigger does not move: silence, and
// the quantisation noise of 8-bit samples, give no edges.
constexpr double SQUELCH = 0.004;

constexpr double PI = 3.14159265358979323846;

}  // namespace

Conditioner::Conditioner(double rate, const ConditionerSettings& settings, PulseSink* sink)
    : sink_(sink),
      tstates_per_sample_(static_cast<double>(TSTATES_PER_SECOND) / rate),
      filtered_(settings.low_pass > 0 && settings.low_pass < 0.45 * rate),
      dc_pole_(1 - 2 * PI * DC_CORNER / rate),
      level_pole_(std::exp(-1 / (rate * LEVEL_SECONDS))),
      hysteresis_(settings.hysteresis) {
  if (filtered_) {
    // Two second-order Butterworth sections, one after the other.
    double w0 = 2 * PI * settings.low_pass / rate;
    double alpha = std::sin(w0) / (2 * std::sqrt(0.5));
    double a0 = 1 + alpha;
    for (Biquad& section : low_) {
      section.b0 = (1 - std::cos(w0)) / 2 / a0;
      section.b1 = (1 - std::cos(w0)) / a0;
      section.b2 = section.b0;
      section.a1 = -2 * std::cos(w0) / a0;
      section.a2 = (1 - alpha) / a0;
    }
  }
}

void Conditioner::samples(const float* values, size_t count) {
  for (size_t i = 0; i < count; ++i, ++index_) {
    double x = values[i];
    // A sample that is no number (a float WAV may hold NaN or an infinity)
    // is silence: one would make every later output of the filters NaN, and
    // with it the rest of the recording give no edge.
    if (!std::isfinite(x)) {
      x = 0;
    }
    // DC and drift out.
    dc_y_ = x - dc_x_ + dc_pole_ * dc_y_;
    dc_x_ = x;
    double y = dc_y_;
    if (filtered_) {
      y = low_[1].run(low_[0].run(y));
    }
    level_ = level_pole_ * level_ + (1 - level_pole_) * std::fabs(y);
    // Where the middle was crossed, between this sample and the last.
    if ((last_ <= 0 && y > 0) || (last_ >= 0 && y < 0)) {
      crossing_ = static_cast<double>(index_) - 1 + last_ / (last_ - y);
    }
    last_ = y;
    double threshold = hysteresis_ * level_;
    if (threshold < SQUELCH * hysteresis_) {
      threshold = SQUELCH * hysteresis_;
    }
    if (state_ != 1 && y > threshold) {
      if (state_ == -1) {
        sink_->edge(crossing_ * tstates_per_sample_);
      }
      state_ = 1;
    } else if (state_ != -1 && y < -threshold) {
      if (state_ == 1) {
        sink_->edge(crossing_ * tstates_per_sample_);
      }
      state_ = -1;
    }
  }
}
