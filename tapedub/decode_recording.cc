// A recording decoded into a TZX or TAP: samples read by libsndfile (from
// a gzip stream through zlib) and run through the decoders side by side, or
// the pulses of a tape's sampled blocks through one; see decode.h.
#include <fcntl.h>
#include <sndfile.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "decode.h"
#include "host.h"
#include "tape.h"
#include "tapedub.h"

namespace {

// Frames read at a time.
constexpr sf_count_t FRAMES = 8192;

// The most samples, and edges, kept to be read again (64 MiB and 32 MiB):
// a block's whole stretch at 44,100 Hz up to some 6 minutes, 40,000 bytes
// at the ROM's speed. What holds them (a tone that never ends, a long
// silence after the last edge, a block that never ends) would otherwise
// keep the whole recording; a retry of a stretch longer reads its end.
constexpr size_t MOST_HELD_SAMPLES = size_t{1} << 24;
constexpr size_t MOST_HELD_EDGES = size_t{1} << 22;

// A gzip stream read through zlib, for libsndfile's virtual file: the
// length is the one the stream's trailer gives (modulo 4 GiB, as gzip keeps it).
struct GzipFile {
  gzFile stream = nullptr;
  sf_count_t length = 0;
};

sf_count_t gzip_length(void* data) {
  return static_cast<GzipFile*>(data)->length;
}

sf_count_t gzip_seek(sf_count_t offset, int whence, void* data) {
  auto* file = static_cast<GzipFile*>(data);
  if (whence == SEEK_END) {
    offset += file->length;
    whence = SEEK_SET;
  }
  return gzseek(file->stream, static_cast<z_off_t>(offset), whence);
}

sf_count_t gzip_read(void* ptr, sf_count_t count, void* data) {
  auto* file = static_cast<GzipFile*>(data);
  int got = gzread(file->stream, ptr, static_cast<unsigned>(std::min<sf_count_t>(count, 1 << 30)));
  return got < 0 ? 0 : got;
}

sf_count_t gzip_write(const void*, sf_count_t, void*) {
  return 0;
}

sf_count_t gzip_tell(void* data) {
  return gztell(static_cast<GzipFile*>(data)->stream);
}

// True when the file at `path` starts as a gzip stream; then `*length` is
// the length its trailer gives.
bool gzip_stream(const char* path, sf_count_t* length) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  unsigned char magic[2] = {0, 0};
  unsigned char trailer[4] = {0, 0, 0, 0};
  bool gzip = read(fd, magic, 2) == 2 && magic[0] == 0x1F && magic[1] == 0x8B &&
              lseek(fd, -4, SEEK_END) >= 0 && read(fd, trailer, 4) == 4;
  close(fd);
  *length = static_cast<sf_count_t>(uint32_t{trailer[0]} | uint32_t{trailer[1]} << 8 |
                                    uint32_t{trailer[2]} << 16 | uint32_t{trailer[3]} << 24);
  return gzip;
}

// The decoded tape written as the other outputs are: through libspectrum's
// writer, read back, then replaced whole. Returns the exit status.
int write_decoded(DecodedTape* decoded, const char* input, const char* output,
                  bool to_standard_output, OutputFormat format) {
  if (decoded->blocks() == 0) {
    std::fprintf(stderr, "%s: `%s' holds no data block that could be read; nothing written\n",
                 program_name, visible_text(input).c_str());
    return TAPEDUB_FAILED;
  }
  libspectrum_id_t type = format == OutputFormat::Tap ? LIBSPECTRUM_ID_TAPE_TAP
                                                      : LIBSPECTRUM_ID_TAPE_TZX;
  libspectrum_byte* bytes = nullptr;
  size_t length = 0;
  unsigned long reports_before = library_report_count();
  int made = 0;
  {
    CurrentFile writing(input);
    made = libspectrum_tape_write(&bytes, &length, decoded->tape(), type);
  }
  Owned<libspectrum_byte, libspectrum_free> owned(bytes);
  if (made != LIBSPECTRUM_ERROR_NONE) {
    report_unexplained(made, reports_before);
    return TAPEDUB_FAILED;
  }
  {
    QuietLibrary quiet;
    TapePtr copy(libspectrum_tape_alloc());
    if (libspectrum_tape_read(copy.get(), bytes, length, type, nullptr) !=
        LIBSPECTRUM_ERROR_NONE) {
      std::fprintf(stderr, "%s: libspectrum writes the blocks of `%s' as a tape that it cannot "
                   "read back; nothing written\n",
                   program_name, visible_text(input).c_str());
      return TAPEDUB_FAILED;
    }
  }
  int failed = 0;
  if (to_standard_output) {
    (void)std::fflush(stdout);
    int error = write_whole(STDOUT_FILENO, bytes, length);
    if (error != 0) {
      std::fprintf(stderr, "%s: write error: %s\n", program_name, std::strerror(error));
      failed = 1;
    }
  } else {
    failed = replace_output_file(output, bytes, length);
  }
  if (failed != 0) {
    return TAPEDUB_FAILED;
  }
  return decoded->bad_blocks() > 0 ? TAPEDUB_PARTIAL : TAPEDUB_WRITTEN;
}

// The blocks of a stretch read again.
struct Gather : BlockSink {
  explicit Gather(std::vector<DecodedBlock>* readings) : to(readings) {}
  std::vector<DecodedBlock>* to;
  void block(DecodedBlock&& block) override { to->push_back(std::move(block)); }
  void stray(StrayPulses&&) override {}
};

// The samples not yet settled, kept to be read again: from the start of
// the earliest block not settled (less a margin), or of what may still
// become a block, to the last taken.
class HeldSamples : public BlockRetry {
 public:
  explicit HeldSamples(double rate)
      : rate_(rate), tstates_per_sample_(static_cast<double>(TSTATES_PER_SECOND) / rate) {
    // Room for the most, at once: growing would hold the old and the new.
    samples_.reserve(MOST_HELD_SAMPLES + MOST_HELD_SAMPLES / 4 + static_cast<size_t>(FRAMES));
  }

  void take(const float* values, size_t count) {
    samples_.insert(samples_.end(), values, values + count);
    // A quarter more first, so that the rest is not moved at every take.
    if (samples_.size() > MOST_HELD_SAMPLES + MOST_HELD_SAMPLES / 4) {
      size_t drop = samples_.size() - MOST_HELD_SAMPLES;
      samples_.erase(samples_.begin(), samples_.begin() + static_cast<std::ptrdiff_t>(drop));
      first_ += drop;
    }
  }
  // Drops the samples before T-state `before`.
  void drop_before(double before) {
    double at = std::floor(before / tstates_per_sample_);
    if (!(at > static_cast<double>(first_))) {
      return;
    }
    auto drop = static_cast<size_t>(
        std::min(at - static_cast<double>(first_), static_cast<double>(samples_.size())));
    // At once only when it is worth moving the rest.
    if (drop < samples_.size() / 2 && drop < FRAMES * 16) {
      return;
    }
    samples_.erase(samples_.begin(), samples_.begin() + static_cast<std::ptrdiff_t>(drop));
    first_ += drop;
  }
  void all_taken() { all_ = true; }

  double taken_until() const override {
    return all_ ? INFINITY
                : static_cast<double>(first_ + samples_.size()) * tstates_per_sample_;
  }

  void read_again(double from, double to, std::vector<DecodedBlock>* readings) override {
    double first = std::max(std::floor(from / tstates_per_sample_), static_cast<double>(first_));
    double last = std::min(std::ceil(to / tstates_per_sample_),
                           static_cast<double>(first_ + samples_.size()));
    if (!(last > first)) {
      return;
    }
    auto begin = static_cast<size_t>(first) - first_;
    auto count = static_cast<size_t>(last - first);
    Gather gather{readings};
    for (const ConditionerSettings& settings : retry_settings()) {
      BlockDecoder decoder(&gather, false, SPARING_REPAIR);
      Shifted shifted{&decoder, first * tstates_per_sample_};
      Conditioner conditioner(rate_, settings, &shifted);
      conditioner.samples(samples_.data() + begin, count);
      decoder.finish(last * tstates_per_sample_);
    }
  }

 private:
  // Edges of a stretch, at their times in the whole recording.
  struct Shifted : PulseSink {
    Shifted(PulseSink* sink, double offset) : to(sink), by(offset) {}
    PulseSink* to;
    double by;
    void edge(double time) override { to->edge(time + by); }
  };
  double rate_;
  double tstates_per_sample_;
  std::vector<float> samples_;
  uint64_t first_ = 0;  // the index of samples_[0] in the recording
  bool all_ = false;
};

// The edges not yet settled of a tape's pulses, kept to be read again
// with dearer repairs on the best path (the pulses are the tape's, no
// filter to change).
class HeldEdges : public BlockRetry {
 public:
  HeldEdges() { edges_.reserve(MOST_HELD_EDGES + MOST_HELD_EDGES / 4 + 1); }
  void edge(double time) {
    edges_.push_back(time);
    last_ = time;
    if (edges_.size() > MOST_HELD_EDGES + MOST_HELD_EDGES / 4) {
      edges_.erase(edges_.begin(),
                   edges_.begin() + static_cast<std::ptrdiff_t>(edges_.size() - MOST_HELD_EDGES));
    }
  }
  void drop_before(double before) {
    size_t drop = 0;
    while (drop < edges_.size() && edges_[drop] < before) {
      ++drop;
    }
    if (drop >= edges_.size() / 2 || drop >= 65536) {
      edges_.erase(edges_.begin(), edges_.begin() + static_cast<std::ptrdiff_t>(drop));
    }
  }
  void all_taken() { all_ = true; }

  double taken_until() const override { return all_ ? INFINITY : last_; }

  void read_again(double from, double to, std::vector<DecodedBlock>* readings) override {
    Gather gather{readings};
    BlockDecoder decoder(&gather, false, SPARING_REPAIR);
    double end = from;
    for (double time : edges_) {
      if (time >= from && time <= to) {
        decoder.edge(time);
        end = time;
      }
    }
    decoder.finish(end);
  }

 private:
  std::vector<double> edges_;
  double last_ = 0;
  bool all_ = false;
};

// The decoders over the samples of `file`, then the tape written.
int decode_samples(SNDFILE* file, const SF_INFO& info, const char* input, const char* output,
                   bool to_standard_output, OutputFormat format, const DubOptions& options) {
  std::vector<ConditionerSettings> settings = decoder_settings();
  DecodedTape decoded(format == OutputFormat::Tap, options.keep_pulses, settings.size());
  HeldSamples held(info.samplerate);
  decoded.set_retry(&held);
  std::vector<std::unique_ptr<BlockDecoder>> decoders;
  std::vector<Conditioner> conditioners;
  decoders.reserve(settings.size());
  conditioners.reserve(settings.size());
  for (size_t i = 0; i < settings.size(); ++i) {
    decoders.push_back(std::make_unique<BlockDecoder>(decoded.sink(i), options.keep_pulses && i == 0));
    conditioners.emplace_back(info.samplerate, settings[i], decoders.back().get());
  }
  auto channels = static_cast<size_t>(info.channels);
  std::vector<float> frames(static_cast<size_t>(FRAMES) * channels);
  std::vector<float> mono(static_cast<size_t>(FRAMES));
  uint64_t taken = 0;
  for (;;) {
    sf_count_t got = sf_readf_float(file, frames.data(), FRAMES);
    if (got <= 0) {
      break;
    }
    // The first channel: channels of one tape may be out of phase, and a
    // mix of them cancels.
    for (sf_count_t i = 0; i < got; ++i) {
      mono[static_cast<size_t>(i)] = frames[static_cast<size_t>(i) * channels];
    }
    for (Conditioner& conditioner : conditioners) {
      conditioner.samples(mono.data(), static_cast<size_t>(got));
    }
    held.take(mono.data(), static_cast<size_t>(got));
    taken += static_cast<uint64_t>(got);
    double safe = INFINITY;
    for (const auto& decoder : decoders) {
      safe = std::min(safe, decoder->busy_since());
    }
    decoded.settle(safe);
    held.drop_before(std::min(safe, decoded.held_since()) - RETRY_BEFORE);
  }
  held.all_taken();
  if (sf_error(file) != SF_ERR_NO_ERROR) {
    std::fprintf(stderr, "%s: `%s': %s; decoded as far as it could be read\n", program_name,
                 visible_text(input).c_str(), sf_strerror(file));
  }
  double end = static_cast<double>(taken) * static_cast<double>(TSTATES_PER_SECOND) /
               static_cast<double>(info.samplerate);
  for (auto& decoder : decoders) {
    decoder->finish(end);
  }
  decoded.finish(end);
  return write_decoded(&decoded, input, output, to_standard_output, format);
}

}  // namespace

std::vector<ConditionerSettings> decoder_settings() {
  // First a filter that keeps the ROM's tones and takes most noise away;
  // then a wider one without hysteresis, for fast turbo timings (0s of
  // 440-550 T-states, 3.2-4 kHz) and low sample rates, where it is no
  // filter at all: every crossing of the middle is an edge, so that a short
  // pulse that noise has shrunk is not lost, and the pulses that noise adds
  // are repaired by the best path (see bit_reader.cc); then a narrow one
  // with more hysteresis, for deep noise.
  return {{3200, 0.3}, {6500, 0}, {2200, 0.45}};
}

std::vector<ConditionerSettings> retry_settings() {
  // The decoders' filters again, the wide one with hysteresis: it drops
  // the pulses that noise adds between the edges, where the trigger
  // without it keeps them; with dearer repairs on the best path, these
  // read some blocks that the first ones do not (headers at low sample
  // rates, fast turbo blocks in light noise).
  return {{3200, 0.3}, {6500, 0.25}, {2200, 0.45}};
}

int decode_sound_input(const char* input, const char* output, bool to_standard_output,
                       OutputFormat format, const DubOptions& options) {
  if (std::strcmp(input, "-") == 0) {
    return -1;
  }
  SF_INFO info{};
  SNDFILE* file = sf_open(input, SFM_READ, &info);
  GzipFile gzip;
  if (file == nullptr) {
    sf_count_t length = 0;
    if (!gzip_stream(input, &length)) {
      return -1;
    }
    gzip.stream = gzopen(input, "rb");
    if (gzip.stream == nullptr) {
      return -1;
    }
    gzip.length = length;
    SF_VIRTUAL_IO io{gzip_length, gzip_seek, gzip_read, gzip_write, gzip_tell};
    info = SF_INFO{};
    file = sf_open_virtual(&io, SFM_READ, &info, &gzip);
    if (file == nullptr) {
      gzclose(gzip.stream);
      return -1;
    }
  }
  int status = TAPEDUB_FAILED;
  if (info.samplerate < 1000 || info.samplerate > 1000000 || info.channels < 1) {
    std::fprintf(stderr, "%s: `%s' is a sound of %d samples a second in %d channels, which "
                 "cannot be decoded\n",
                 program_name, visible_text(input).c_str(), info.samplerate, info.channels);
  } else {
    status = decode_samples(file, info, input, output, to_standard_output, format, options);
  }
  sf_close(file);
  if (gzip.stream != nullptr) {
    gzclose(gzip.stream);
  }
  return status;
}

bool holds_recording(libspectrum_tape* tape) {
  libspectrum_tape_iterator it = nullptr;
  for (auto* block = libspectrum_tape_iterator_init(&it, tape); block != nullptr;
       block = libspectrum_tape_iterator_next(&it)) {
    libspectrum_tape_type type = libspectrum_tape_block_type(block);
    if (type == LIBSPECTRUM_TAPE_BLOCK_RAW_DATA || type == LIBSPECTRUM_TAPE_BLOCK_RLE_PULSE) {
      return true;
    }
  }
  return false;
}

int decode_tape_input(libspectrum_tape* tape, const char* input, const char* output,
                      bool to_standard_output, OutputFormat format, const DubOptions& options) {
  DecodedTape decoded(format == OutputFormat::Tap, options.keep_pulses, 1);
  BlockDecoder decoder(decoded.sink(0), options.keep_pulses);
  HeldEdges held;
  decoded.set_retry(&held);
  const adapter::EdgeFlags flags = adapter::edge_flags();
  adapter::EdgeRecord record{};
  double now = 0;
  uint64_t edges = 0;
  {
    CurrentFile playing(input);
    while ((record.flags & static_cast<uint32_t>(flags.tape_end)) == 0) {
      if (adapter::tape_get_next_edge(&record, tape, flags) != 0) {
        int block = -1;
        {
          QuietLibrary asking;
          (void)libspectrum_tape_position(&block, tape);
        }
        std::fprintf(stderr, "%s: `%s' is damaged: the walk failed in block %d\n", program_name,
                     visible_text(input).c_str(), block + 1);
        return TAPEDUB_FAILED;
      }
      now += record.duration;
      if (record.edge != 0) {
        decoder.edge(now);
        held.edge(now);
        if (++edges % 4096 == 0) {
          decoded.settle(decoder.busy_since());
          held.drop_before(std::min(decoder.busy_since(), decoded.held_since()) - RETRY_BEFORE);
        }
      }
    }
  }
  decoder.finish(now);
  held.all_taken();
  decoded.finish(now);
  return write_decoded(&decoded, input, output, to_standard_output, format);
}

namespace {

bool sampled(libspectrum_tape_block* block) {
  libspectrum_tape_type type = libspectrum_tape_block_type(block);
  return type == LIBSPECTRUM_TAPE_BLOCK_RAW_DATA || type == LIBSPECTRUM_TAPE_BLOCK_RLE_PULSE;
}

// Blocks that carry no signal of their own.
bool silent(libspectrum_tape_block* block) {
  switch (libspectrum_tape_block_type(block)) {
    case LIBSPECTRUM_TAPE_BLOCK_GROUP_START:
    case LIBSPECTRUM_TAPE_BLOCK_GROUP_END:
    case LIBSPECTRUM_TAPE_BLOCK_COMMENT:
    case LIBSPECTRUM_TAPE_BLOCK_MESSAGE:
    case LIBSPECTRUM_TAPE_BLOCK_ARCHIVE_INFO:
    case LIBSPECTRUM_TAPE_BLOCK_HARDWARE:
    case LIBSPECTRUM_TAPE_BLOCK_CUSTOM:
    case LIBSPECTRUM_TAPE_BLOCK_CONCAT:
      return true;
    default:
      return false;
  }
}

// A run of sampled blocks, from block `first` to `last`, and what it decoded to.
struct SampledRun {
  size_t first = 0;
  size_t last = 0;
  std::vector<libspectrum_tape_block*> blocks;
};

}  // namespace

bool holds_other_blocks(libspectrum_tape* tape) {
  libspectrum_tape_iterator it = nullptr;
  for (auto* block = libspectrum_tape_iterator_init(&it, tape); block != nullptr;
       block = libspectrum_tape_iterator_next(&it)) {
    if (!sampled(block) && !silent(block)) {
      return true;
    }
  }
  return false;
}

int decode_sampled_blocks(libspectrum_tape* tape, const char* input, const DubOptions& options,
                          size_t* bad) {
  std::vector<SampledRun> runs;
  size_t index = 0;
  libspectrum_tape_iterator it = nullptr;
  for (auto* block = libspectrum_tape_iterator_init(&it, tape); block != nullptr;
       block = libspectrum_tape_iterator_next(&it), ++index) {
    if (!sampled(block)) {
      continue;
    }
    if (!runs.empty() && runs.back().last + 1 == index) {
      runs.back().last = index;
    } else {
      runs.push_back({index, index, {}});
    }
  }
  const adapter::EdgeFlags flags = adapter::edge_flags();
  const int block_end = LIBSPECTRUM_TAPE_FLAGS_BLOCK;
  int status = 0;
  for (SampledRun& run : runs) {
    DecodedTape decoded(false, options.keep_pulses, 1);
    BlockDecoder decoder(decoded.sink(0), options.keep_pulses);
    HeldEdges held;
    decoded.set_retry(&held);
    adapter::EdgeRecord record{};
    double now = 0;
    CurrentFile playing(input);
    QuietLibrary quiet;
    if (libspectrum_tape_nth_block(tape, static_cast<int>(run.first)) != LIBSPECTRUM_ERROR_NONE) {
      status = 1;
      break;
    }
    size_t at = run.first;
    while (at <= run.last) {
      if (adapter::tape_get_next_edge(&record, tape, flags) != 0) {
        std::fprintf(stderr, "%s: `%s' is damaged: the walk failed in block %zu\n", program_name,
                     visible_text(input).c_str(), at + 1);
        status = 1;
        break;
      }
      now += record.duration;
      if (record.edge != 0) {
        decoder.edge(now);
        held.edge(now);
      }
      if ((record.flags & static_cast<uint32_t>(flags.tape_end)) != 0) {
        break;
      }
      if ((record.flags & static_cast<uint32_t>(block_end)) != 0) {
        int position = -1;
        (void)libspectrum_tape_position(&position, tape);
        // The walk went on to another block, or jumped back.
        if (position < 0 || static_cast<size_t>(position) != at + 1) {
          break;
        }
        at = static_cast<size_t>(position);
      }
    }
    decoder.finish(now);
    held.all_taken();
    decoded.finish(now);
    *bad += decoded.bad_blocks();
    run.blocks = decoded.take_blocks();
    if (status != 0) {
      break;
    }
  }
  // The runs replaced, the last first, so that the earlier ones keep their places.
  for (size_t r = runs.size(); r-- > 0;) {
    SampledRun& run = runs[r];
    if (status == 0) {
      for (size_t i = run.last + 1; i-- > run.first;) {
        libspectrum_tape_iterator node = nullptr;
        (void)libspectrum_tape_iterator_init(&node, tape);
        for (size_t k = 0; k < i; ++k) {
          (void)libspectrum_tape_iterator_next(&node);
        }
        libspectrum_tape_remove_block(tape, node);
      }
      for (size_t k = 0; k < run.blocks.size(); ++k) {
        (void)libspectrum_tape_insert_block(tape, run.blocks[k], run.first + k);
      }
    } else {
      for (libspectrum_tape_block* block : run.blocks) {
        libspectrum_tape_block_free(block);
      }
    }
  }
  (void)libspectrum_tape_nth_block(tape, 0);
  return status;
}
