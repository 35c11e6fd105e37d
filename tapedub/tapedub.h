// tapedub's own interface: a tape image copied into another tape format
// (TAP, TZX, CSW) or rendered as sound (WAV, FLAC).
#ifndef QUILLKIT_TAPEDUB_TAPEDUB_H
#define QUILLKIT_TAPEDUB_TAPEDUB_H

#include <libspectrum.h>

#include <cstddef>
#include <cstdint>
#include <vector>

// The formats written.
enum class OutputFormat { Unknown, Tap, Tzx, Csw, Wav, Flac };

// The format that `name` (an extension such as ".wav", or a -t argument such
// as "wav", any case) stands for; Unknown for any other.
OutputFormat format_named(const char* name);

// The format that the file name `path` gives by its extension (after the
// last '.' of its last component); Unknown when it has none that is known.
OutputFormat format_of_path(const char* path);

// What the run is asked for, beyond the two operands.
struct DubOptions {
  OutputFormat type = OutputFormat::Unknown;  // -t; Unknown: from the name
  uint32_t rate = 44100;                      // -r, samples a second
  unsigned bits = 16;                         // -b, bits a sample (sound only)
  bool invert = false;                        // --invert
  bool keep_pulses = false;                   // --keep-pulses
  bool no_decode = false;                     // --no-decode
  bool rate_given = false;
  bool bits_given = false;
};

// The limits of -r.
constexpr uint32_t MIN_RATE = 8000;
constexpr uint32_t MAX_RATE = 192000;

// T-states a second of the Spectrum's clock, by which tape times count.
constexpr uint64_t TSTATES_PER_SECOND = 3500000;

// The sample (at `rate` a second) nearest the time `tstates` since the start
// of the tape; exact for any 64-bit time, half a sample rounding up.
inline uint64_t sample_at(uint64_t tstates, uint32_t rate) {
  uint64_t seconds = tstates / TSTATES_PER_SECOND;
  uint64_t rest = tstates % TSTATES_PER_SECOND;
  return seconds * rate + (rest * rate + TSTATES_PER_SECOND / 2) / TSTATES_PER_SECOND;
}

// The signal of a tape as its edge walk plays it, on the samples of `rate`:
// the sink's `int change(uint64_t sample, int level)` is called at each
// sample where the level changes (ascending, never twice at one sample:
// changes that fall on one sample are merged, and cancel out when they
// leave the level as it was). From `sample` on, the level is `level` (0
// low, 1 high); it returns 0 to go on, or an errno value to stop the walk
// with it. The walk is a template so that the sink's few instructions per
// edge are compiled into it.

struct SignalEnd {
  int walk_error = 0;    // libspectrum's, when the walk failed
  int block = 0;         // then, the 1-based block it failed in
  int sink_error = 0;    // the sink's, when it stopped the walk
  uint64_t end = 0;      // samples of the whole signal
  uint64_t changes = 0;  // calls to change()
};

// Length of the silence after the last edge: the ROM's pause, one second.
constexpr uint64_t END_PAUSE = TSTATES_PER_SECOND;

// Walks `tape` from its start and gives every change of its level to `sink`;
// the signal starts low and ends END_PAUSE after the last edge (or at the
// walk's end, for a tape without edges). Defined in signal_walk.h.
template <class Sink>
SignalEnd walk_signal(libspectrum_tape* tape, uint32_t rate, Sink* sink);

// Writes the sound of `tape` to the open, seekable descriptor `fd` as a
// `format` (Wav or Flac) file of `options.rate` and `options.bits`, through
// libsndfile, streaming its samples. Returns 0, or 1 after a message naming
// `input` (walk failure) or `output` (write failure).
[[nodiscard]] int write_sound(libspectrum_tape* tape, int fd, OutputFormat format,
                              const DubOptions& options, const char* input, const char* output);

// The tape as a CSW 2 image at `options.rate`, run-length coded, every edge
// on the sample nearest its time. Returns 0 with the image in `image`, or 1
// after a message naming `input`.
[[nodiscard]] int csw_image(libspectrum_tape* tape, const DubOptions& options, const char* input,
                            std::vector<unsigned char>* image);

// Exit statuses: written whole, a failure, or written with blocks left out
// or cut (TAP).
constexpr int TAPEDUB_WRITTEN = 0;
constexpr int TAPEDUB_FAILED = 1;
constexpr int TAPEDUB_PARTIAL = 2;

// The blocks of `tape` that a TAP can hold (ROM-loadable data of whole
// bytes), in order, as a new tape of standard-speed blocks, blocks too long
// for a TAP cut as cart2tape cuts them; a line on standard error for every
// block left out or cut (numbered and named as tapeinfo lists them, the
// input read as `format`). Sets `*partial` when there was such a line.
// Returns the new tape, empty when no block could go across.
libspectrum_tape* tap_blocks(libspectrum_tape* tape, libspectrum_id_t format, bool* partial);

// Replaces every pulse sequence of `tape` that has pulses longer than a TZX
// pulse holds (65,535 T-states) by one of the same signal whose pulses fit,
// a long pulse split by pulses of no length. Returns 0, or 1 after a
// message naming `input` (read as `format`) when a block would grow too
// large.
[[nodiscard]] int keep_long_pulses(libspectrum_tape* tape, libspectrum_id_t format,
                                   const char* input);

// The whole run after the options: reads the tape image `input` and writes
// it to `output` ("-": standard output) in the format that its name, or
// options.type, gives. Returns one of the exit statuses above, after the
// diagnostics on standard error.
[[nodiscard]] int dub_tape(const char* input, const char* output, const DubOptions& options);

#endif
