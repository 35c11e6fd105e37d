// Decoding recordings of tapes: sound samples or the pulses of a sampled
// block (CSW, TZX direct recording) turned back into the blocks they carry.
// A stream, stage by stage: samples are conditioned into pulse lengths
// (T-states at 3.5 MHz), the pulses cut into blocks at their pilot tones,
// and each block's pulses read as bits with timings that its own pilot sets.
#ifndef QUILLKIT_TAPEDUB_DECODE_H
#define QUILLKIT_TAPEDUB_DECODE_H

#include <libspectrum.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "tape.h"
#include "tapedub.h"

// ---------------------------------------------------------------------------
// Pulses: the time between two edges of the signal.

struct PulseSink {
  virtual ~PulseSink() = default;
  // An edge at `time` (T-states since the start of the recording; edges
  // come in ascending order).
  virtual void edge(double time) = 0;
};

// How the samples are conditioned into edges.
struct ConditionerSettings {
  double low_pass = 3200;  // Hz, cut-off of the smoothing filter; 0: none
  double hysteresis = 0.3;  // of the signal's level, either side of the middle
};

// Turns samples into edges: the DC and its drift taken away (a high-pass
// filter at 30 Hz), the band above the signal's filtered off (two
// second-order low-pass sections), then a trigger with hysteresis around
// the middle whose width follows the signal's level. An edge is the
// crossing of the middle that the trigger confirms, placed between two
// samples by interpolation; the polarity does not matter.
class Conditioner {
 public:
  Conditioner(double rate, const ConditionerSettings& settings, PulseSink* sink);
  // Takes the next `count` samples (full scale ±1).
  void samples(const float* values, size_t count);

 private:
  struct Biquad {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    double run(double x) {
      double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
      x2 = x1;
      x1 = x;
      y2 = y1;
      y1 = y;
      return y;
    }
  };
  PulseSink* sink_;
  double tstates_per_sample_;
  bool filtered_;
  Biquad low_[2];
  double dc_pole_, dc_x_ = 0, dc_y_ = 0;
  double level_ = 0, level_pole_;
  double hysteresis_;
  double last_ = 0;      // the previous conditioned sample
  double crossing_ = 0;  // where the middle was last crossed, in samples
  int state_ = 0;        // 1 high, -1 low, 0 not yet known
  uint64_t index_ = 0;   // samples taken so far
};

// ---------------------------------------------------------------------------
// Blocks.

// What a repair of slipped edges costs on the best path through a block's
// pulses, in units of a misread half-period (see bit_reader.cc): at first
// no more than a misread bit, so that two 0s whose edges ran together are
// not taken for a 1 (a bit lost, every byte after it shifted); when a block
// is read again, as dear as one and a half, so that pulses that noise adds
// are taken for noise, which reads some blocks that the first does not.
constexpr double PATH_REPAIR = 4;
constexpr double SPARING_REPAIR = 6;

// One block found in the pulses, as read.
struct DecodedBlock {
  double start = 0;     // T-state of its first pilot pulse
  double end = 0;       // T-state of the end of its last data pulse
  double pilot = 0;     // measured lengths, T-states
  double sync1 = 0, sync2 = 0;
  double bit0 = 0, bit1 = 0;  // one pulse of each bit
  size_t pilot_pulses = 0;
  bool rom_timings = false;   // pilot, sync and bits in the ROM's proportions
  bool checksum_ok = false;
  // Its 1s twice as long as its 0s, as on tapes: a misreading with a right
  // checksum is most often not.
  bool usual_bits = true;
  std::vector<unsigned char> bytes;  // flag to checksum
};

// Pulses that belong to no block: tones without data, noise, clicks.
struct StrayPulses {
  double start = 0, end = 0;     // T-states
  size_t count = 0;              // pulses in all
  size_t longest_tone = 0;       // the most pulses of one steady tone among them
  std::vector<uint32_t> kept;    // their lengths, when they are kept
};

struct BlockSink {
  virtual ~BlockSink() = default;
  virtual void block(DecodedBlock&& block) = 0;
  virtual void stray(StrayPulses&& stray) = 0;
};

// Cuts pulses into blocks and reads their bits. A block is a steady tone
// (the pilot, 64 pulses at least), one or two pulses that break it (the
// sync), then pulses in pairs, short for a 0 and long for a 1, until a
// pulse too long for a bit, or a new tone, ends it. The pilot's length sets
// where a short pair ends and a long one starts; the estimates follow the
// bits as they come, so slow drift and a speed off by 10% decode. A block
// whose checksum fails is read again from its pulses with other rules (the
// two lengths taken from all its pairs, each pulse judged alone, the pairs
// shifted by one); the first right result is kept.
class BlockDecoder : public PulseSink {
 public:
  // `keep_strays`: hand on the lengths of stray pulses as well as their
  // count. `repair`: see decode_block_bits.
  BlockDecoder(BlockSink* sink, bool keep_strays, double repair = PATH_REPAIR);
  void edge(double time) override;
  // Ends the stream at `time`: what is under way is finished.
  void finish(double time);
  // The T-state from which a block may still come: the start of the tone
  // or block under way, or the last edge.
  double busy_since() const;

 private:
  enum class State { Idle, Tone, Data };
  void pulse(double length);
  void tone_pulse(double length);
  void data_pulse(double length);
  void end_data(size_t data_pulses);
  void add_stray(double length);
  void flush_strays();
  void drop_tone();
  void restart_tone(double length);

  BlockSink* sink_;
  bool keep_strays_;
  double repair_;
  State state_ = State::Idle;
  double last_edge_ = -1;
  double now_ = 0;
  // The tone under way.
  double tone_start_ = 0;
  double tone_mean_ = 0;  // the mean of its last pulses
  size_t tone_pulses_ = 0;
  std::vector<double> tone_recent_;  // the tone's pulses not yet counted in, before it is a pilot
  // The block under way.
  DecodedBlock block_;
  std::vector<double> data_;  // its pulses after the pilot: sync, then bits
  double data_start_ = 0;
  double longest_ = 0;     // its longest pulse so far
  size_t run_start_ = 0;   // where a run of pulses like the pilot began in the data
  size_t run_pulses_ = 0;  // and how many there are
  StrayPulses strays_;
  size_t stray_tone_ = 0;
  double stray_tone_length_ = 0;
};

// Reads the bits of a block from its data pulses (sync pulses first) and
// fills its bytes, timings and verdict; tries the other rules when the
// checksum fails. Returns false when the pulses hold no whole byte.
bool decode_block_bits(const std::vector<double>& pulses, size_t count, double repair,
                       DecodedBlock* block);

// ---------------------------------------------------------------------------
// The tape.

// Reads a stretch of a recording again, with other settings, for a block
// that no decoder read right.
struct BlockRetry {
  virtual ~BlockRetry() = default;
  // The T-state up to which the recording has been taken in (and so can be
  // read again); INFINITY once it is all in.
  virtual double taken_until() const = 0;
  // Adds to `readings` the blocks found between T-states `from` and `to`.
  virtual void read_again(double from, double to, std::vector<DecodedBlock>* readings) = 0;
};

// Gathers the blocks that one or more decoders of one recording find (each
// decoder hands them to its own sink()), and makes them a tape in time
// order: where several decoders read one block, the first decoder's right
// reading is kept, else another's right one, else the first decoder's.
// When none is right and a retry is given, the block's stretch is read
// again through it, from a little before to well after the readings, and
// its readings of the block take part as a last decoder's. A
// line on standard error for each block (its time, number, flag, length,
// checksum, timings and, for a header, the file it announces) and for each
// stretch of pulses without data. Stray pulses are the first decoder's.
class DecodedTape {
 public:
  // `tap`: every block standard speed, no pulses. `keep_pulses`: stray
  // pulses go on the tape as pulse sequences, else they are left out.
  DecodedTape(bool tap, bool keep_pulses, size_t decoders);
  ~DecodedTape();
  DecodedTape(const DecodedTape&) = delete;
  DecodedTape& operator=(const DecodedTape&) = delete;

  BlockSink* sink(size_t decoder) { return &sinks_[decoder]; }
  void set_retry(BlockRetry* retry) { retry_ = retry; }
  // The start of the earliest block not yet settled (INFINITY when none):
  // a retry may read the recording again from a little before it.
  double held_since() const;
  // Settles every block that ends before `safe_before`, a time before which
  // no decoder can find another block.
  void settle(double safe_before);
  // Settles everything; the recording ends at `end`.
  void finish(double end);

  // The tape of the blocks made.
  libspectrum_tape* tape();
  // Or the blocks made, handed over to the caller (who frees them or puts
  // them on a tape); then the tape has none.
  std::vector<libspectrum_tape_block*> take_blocks();
  size_t blocks() const { return blocks_; }
  size_t bad_blocks() const { return bad_; }

 private:
  struct Sink : BlockSink {
    DecodedTape* owner = nullptr;
    size_t decoder = 0;
    void block(DecodedBlock&& block) override;
    void stray(StrayPulses&& stray) override;
  };
  struct Reading {
    size_t decoder;
    DecodedBlock block;
  };
  // The index in `cluster` of the reading kept.
  static size_t choose(const std::vector<Reading>& cluster);
  void settle_strays(double before);
  void set_last_pause(double next_start);
  void append_block(DecodedBlock&& block);
  void append_stray(StrayPulses&& stray);

  TapePtr tape_;
  bool tap_;
  bool keep_pulses_;
  std::vector<Sink> sinks_;
  BlockRetry* retry_ = nullptr;
  std::vector<Reading> pending_;
  std::deque<StrayPulses> strays_;
  std::vector<libspectrum_tape_block*> made_;     // blocks made, not yet on the tape
  libspectrum_tape_block* last_block_ = nullptr;  // whose pause waits for what follows
  double last_end_ = 0;
  size_t blocks_ = 0;
  size_t bad_ = 0;
  size_t kept_ = 0;
};

// ---------------------------------------------------------------------------
// The run.

// The settings of the decoders run side by side over a sound's samples,
// first the one whose readings are preferred.
std::vector<ConditionerSettings> decoder_settings();
// The settings with which the stretch of a block that none of those read
// right is read again, with SPARING_REPAIR.
std::vector<ConditionerSettings> retry_settings();
// How far before the start of a block, and after its end, it is read again
// (T-states).
constexpr double RETRY_BEFORE = 0.05 * TSTATES_PER_SECOND;
constexpr double RETRY_AFTER = 1.0 * TSTATES_PER_SECOND;

// When `input` is a sound file that libsndfile reads (WAV, FLAC, AIFF...,
// also compressed as libspectrum reads compressed tapes), decodes it into
// `output` as a `format` (Tzx or Tap) and returns the exit status;
// returns -1, having said nothing, when it is no sound file.
[[nodiscard]] int decode_sound_input(const char* input, const char* output,
                                     bool to_standard_output, OutputFormat format,
                                     const DubOptions& options);

// True when `tape` holds a sampled block (CSW, TZX direct recording, WAV
// as libspectrum reads it).
bool holds_recording(libspectrum_tape* tape);

// Replaces each run of sampled blocks of `tape` that also holds other
// blocks with the blocks decoded from it, leaving the others as they are;
// `*bad` counts the blocks decoded with a bad checksum. Returns non-zero,
// having said why, when the tape cannot be walked.
[[nodiscard]] int decode_sampled_blocks(libspectrum_tape* tape, const char* input,
                                        const DubOptions& options, size_t* bad);

// True when `tape` holds other blocks than sampled ones (and the blocks
// that carry no signal: groups, texts, archive information...).
bool holds_other_blocks(libspectrum_tape* tape);

// Decodes the pulses of the whole `tape` into `output`; returns the exit
// status.
[[nodiscard]] int decode_tape_input(libspectrum_tape* tape, const char* input,
                                    const char* output, bool to_standard_output,
                                    OutputFormat format, const DubOptions& options);

#endif
