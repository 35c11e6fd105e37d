// The sound of a tape as a WAV or FLAC file, written by libsndfile; see
// tapedub.h.
#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "host.h"
#include "signal_walk.h"
#include "tapedub.h"

namespace {

// The two levels as 16-bit samples: three quarters of full scale, clear of
// clipping in any player and as loud in 8 bits (libsndfile keeps the high
// byte).
constexpr short HIGH_SAMPLE = 0x6000;
constexpr short LOW_SAMPLE = -0x6000;

// Samples written in one call: 2 MiB of 16-bit samples (fewer, larger
// writes cost the kernel markedly less than 64 KiB ones).
constexpr size_t CHUNK = 1048576;

// Runs of up to this many samples are stored at one stroke; the buffer has
// as many samples of slack beyond CHUNK.
constexpr size_t SHORT_RUN = 32;

// A WAV file's lengths are 32-bit byte counts: the samples must stay below
// 4 GiB with the header.
constexpr uint64_t WAV_BYTE_LIMIT = UINT32_MAX - 4096;

// Fills the file with the level of each sample, chunk by chunk, as the
// walk gives the changes.
class SampleWriter final {
 public:
  SampleWriter(SNDFILE* file, bool invert, uint64_t limit)
      : file_(file), invert_(invert), limit_(limit) {}

  [[nodiscard]] int change(uint64_t sample, int level) {
    int error = fill(sample);
    level_ = level;
    return error;
  }

  // Writes the current level up to sample `end`. Returns 0 or an errno value.
  int fill(uint64_t end) {
    if (end > limit_) {
      return EFBIG;
    }
    short value = (level_ != 0) != invert_ ? HIGH_SAMPLE : LOW_SAMPLE;
    uint64_t count = end - written_;
    if (count <= SHORT_RUN) {
      // Most runs are a bit's half: a fixed-length store the compiler
      // unrolls, past the run into the buffer's slack, beats a loop of
      // unknown length.
      short* run = buffer_ + used_;
      for (size_t i = 0; i < SHORT_RUN; ++i) {
        run[i] = value;
      }
      used_ += static_cast<size_t>(count);
      written_ = end;
      return used_ >= CHUNK ? flush() : 0;
    }
    return fill_long(end, value);
  }

  // fill() for a run of more than SHORT_RUN samples, chunk by chunk.
  int fill_long(uint64_t end, short value) {
    while (written_ < end) {
      size_t room = CHUNK - used_;
      size_t part = end - written_ < room ? static_cast<size_t>(end - written_) : room;
      std::fill_n(buffer_ + used_, part, value);
      used_ += part;
      written_ += part;
      if (used_ >= CHUNK) {
        int error = flush();
        if (error != 0) {
          return error;
        }
      }
    }
    return 0;
  }

  // Hands the samples held to libsndfile. Returns 0 or an errno value.
  int flush() {
    if (used_ == 0) {
      return 0;
    }
    errno = 0;
    sf_count_t count = sf_write_short(file_, buffer_, static_cast<sf_count_t>(used_));
    if (count != static_cast<sf_count_t>(used_)) {
      return errno != 0 ? errno : EIO;
    }
    used_ = 0;
    return 0;
  }

 private:
  SNDFILE* file_;
  bool invert_;
  uint64_t limit_;
  int level_ = 0;
  uint64_t written_ = 0;
  size_t used_ = 0;
  short buffer_[CHUNK + SHORT_RUN];
};

// Standard output ("-") fails as the tools' other writes to it do.
void report_write_error(const char* output, const char* reason) {
  if (std::strcmp(output, "-") == 0) {
    std::fprintf(stderr, "%s: write error: %s\n", program_name, reason);
    return;
  }
  std::fprintf(stderr, "%s: couldn't write `%s': %s\n", program_name, visible_text(output).c_str(),
               reason);
}

}  // namespace

int write_sound(libspectrum_tape* tape, int fd, OutputFormat format, const DubOptions& options,
                const char* input, const char* output) {
  SF_INFO info{};
  info.samplerate = static_cast<int>(options.rate);
  info.channels = 1;
  bool wav = format == OutputFormat::Wav;
  if (options.bits == 8) {
    info.format = wav ? (SF_FORMAT_WAV | SF_FORMAT_PCM_U8) : (SF_FORMAT_FLAC | SF_FORMAT_PCM_S8);
  } else {
    info.format = (wav ? SF_FORMAT_WAV : SF_FORMAT_FLAC) | SF_FORMAT_PCM_16;
  }
  errno = 0;
  SNDFILE* file = sf_open_fd(fd, SFM_WRITE, &info, SF_FALSE);
  if (file == nullptr) {
    // A failed write of the header leaves errno, clearer than libsndfile's text.
    report_write_error(output, errno != 0 ? std::strerror(errno) : sf_strerror(nullptr));
    return 1;
  }
  // FLAC counts samples in 36 bits.
  uint64_t limit = wav ? WAV_BYTE_LIMIT / (options.bits / 8) : (uint64_t{1} << 36) - 1;
  auto* writer = new SampleWriter(file, options.invert, limit);  // 2 MiB: off the stack
  SignalEnd end;
  {
    CurrentFile playing(input);
    end = walk_signal(tape, options.rate, writer);
  }
  int error = end.sink_error;
  if (end.walk_error == 0 && error == 0) {
    error = writer->fill(end.end);
  }
  if (end.walk_error == 0 && error == 0) {
    error = writer->flush();
  }
  delete writer;
  errno = 0;
  int closed = sf_close(file);
  if (end.walk_error != 0) {
    std::fprintf(stderr, "%s: `%s' is damaged: the walk failed in block %d\n", program_name,
                 visible_text(input).c_str(), end.block);
    return 1;
  }
  if (error == 0 && closed != 0) {
    error = errno != 0 ? errno : EIO;
  }
  if (error != 0) {
    report_write_error(output, std::strerror(error));
    return 1;
  }
  return 0;
}
