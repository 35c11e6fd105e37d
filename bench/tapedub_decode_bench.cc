// Measures tapedub's decoding of recordings, rendered by the tests' generator
// (tests/fixtures/recording_builder) from a tape of ROM and turbo blocks:
//   - per condition, the share of blocks that come out byte for byte, checksum
//     right, in the TAP that tapedub writes (over 10 seeds: 50 blocks), and
//     per kind of block; for dropouts, how many blocks had one in their
//     data, and the share right of those that had none;
//   - the speed of decoding, as seconds of recording decoded per second of
//     CPU time (user + system) of the whole process (goal: at least 200);
//   - the peak resident set of decoding a recording 1 and 8 times as long
//     (goal: flat, the samples streamed).
// Usage: tapedub_decode_bench [SEEDS [SCRATCH DIRECTORY [FIRST SEED]]]
// (seeds 1 to 10 by default; another range checks that nothing was tuned
// to those). TAPEDUB_BENCH_ONLY=TEXT measures only the conditions whose
// name holds TEXT, and not the speed and memory; TAPEDUB_BENCH_KEEP keeps the last recording made.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_tapes.h"
#include "process_time.h"
#include "recording_builder.h"
#include "tape_builder.h"

namespace {

using bench_tapes::write_file;
using fixtures::Bytes;
using fixtures::Degradation;

struct Run {
  double cpu = 0;
  long peak_kib = 0;
};

// Runs tapedub on `input` into `output`, its diagnostics to /dev/null, and
// returns its CPU time, whatever its status; through peak_rss, which prints
// the peak to `peak_file`, when that is given (the peak that wait4 gives a
// spawned child counts the parent's pages).
double run_tapedub(const std::string& input, const std::string& output,
                   const std::string& peak_file = "") {
  std::vector<std::string> words = {TAPEDUB_PATH, input, output};
  if (!peak_file.empty()) {
    words.insert(words.begin(), PEAK_RSS_PATH);
  }
  return cpu_seconds(words, peak_file.empty() ? "/dev/null" : peak_file, 255);
}

Bytes read_file(const std::string& path) {
  Bytes bytes;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    return bytes;
  }
  int c;
  while ((c = std::fgetc(f)) != EOF) {
    bytes.push_back(static_cast<unsigned char>(c));
  }
  std::fclose(f);
  return bytes;
}

uint32_t state = 1;
Bytes random_bytes(size_t size) {
  Bytes b(size);
  for (auto& byte : b) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<unsigned char>(state >> 16);
  }
  return b;
}

// The blocks of the tape rendered: a header and its data at ROM timings,
// a headerless ROM block, and two turbo blocks.
std::vector<Bytes> tape_blocks(fixtures::PulseTape* tape, int copies) {
  std::vector<Bytes> blocks;
  for (int i = 0; i < copies; ++i) {
    Bytes header = {3, 'b', 'e', 'n', 'c', 'h', ' ', ' ', ' ', ' ', ' ', 0, 4, 0, 0x80, 0, 0x80};
    Bytes data = random_bytes(1024);
    Bytes plain = random_bytes(300);
    Bytes fast = random_bytes(1500);
    Bytes faster = random_bytes(1500);
    fixtures::BlockTimings turbo{2168, 1000, 667, 735, 550, 1100};
    fixtures::BlockTimings quick{1500, 1500, 500, 500, 440, 880};
    for (const auto& [block, timings] :
         std::vector<std::pair<Bytes, fixtures::BlockTimings>>{
             {fixtures::rom_block(0x00, header), fixtures::rom_timings(0x00)},
             {fixtures::rom_block(0xFF, data), fixtures::rom_timings(0xFF)},
             {fixtures::rom_block(0xFF, plain), fixtures::rom_timings(0xFF)},
             {fixtures::rom_block(0x00, fast), turbo},
             {fixtures::rom_block(0xFF, faster), quick}}) {
      tape->block(block, timings, 700);
      blocks.push_back(block);
    }
  }
  return blocks;
}

// Which of the source blocks are found whole in the TAP at `path`.
std::vector<bool> blocks_found(const std::string& path, const std::vector<Bytes>& blocks) {
  Bytes tap = read_file(path);
  std::vector<Bytes> written;
  for (size_t at = 0; at + 2 <= tap.size();) {
    size_t length = size_t{tap[at]} | size_t{tap[at + 1]} << 8;
    if (at + 2 + length > tap.size()) {
      break;
    }
    written.emplace_back(tap.begin() + static_cast<long>(at) + 2,
                         tap.begin() + static_cast<long>(at + 2 + length));
    at += 2 + length;
  }
  std::vector<bool> found(blocks.size(), false);
  size_t next = 0;
  for (size_t b = 0; b < blocks.size(); ++b) {
    for (size_t i = next; i < written.size(); ++i) {
      if (written[i] == blocks[b]) {
        found[b] = true;
        next = i + 1;
        break;
      }
    }
  }
  return found;
}

struct Condition {
  const char* name;
  Degradation how;
  bool dropouts = false;  // a dropout every 5 s or so, at random
};

// Dropouts at random times, on average one every 5 s of `seconds`.
std::vector<double> random_dropouts(double seconds, uint32_t seed) {
  std::vector<double> at;
  uint32_t x = seed * 2654435761u + 1;
  for (double t = 0;;) {
    x = x * 1103515245u + 12345u;
    t += 0.5 + 9.0 * static_cast<double>(x >> 8) / static_cast<double>(1u << 24);
    if (t >= seconds) {
      return at;
    }
    at.push_back(t);
  }
}

// True when a dropout falls on the data of block `block` (its sync and
// bits), which it may spoil; one in its pilot or pause does no harm.
bool touched(const Degradation& how, const fixtures::PulseTape& tape,
             const std::vector<double>& pulse_seconds, size_t block) {
  double from = pulse_seconds[tape.data[block].first];
  double to = pulse_seconds[std::min(tape.data[block].second, pulse_seconds.size() - 1)];
  for (double at : how.dropouts) {
    if (at < to && at + how.dropout_ms / 1000 + 0.002 > from) {
      return true;
    }
  }
  return false;
}

constexpr const char* KINDS[] = {"header", "1 KiB", "300 B", "turbo", "fast turbo"};

}  // namespace

int main(int argc, char** argv) {
  int seeds = argc > 1 ? std::atoi(argv[1]) : 10;
  std::string dir = argc > 2 ? argv[2] : "/tmp";
  int first_seed = argc > 3 ? std::atoi(argv[3]) : 1;
  const char* only = std::getenv("TAPEDUB_BENCH_ONLY");
  std::string wav = dir + "/tapedub_decode_bench.wav";
  std::string tap = dir + "/tapedub_decode_bench.tap";

  auto with = [](auto change) {
    Degradation how;
    how.low_pass = 5000;
    change(&how);
    return how;
  };
  std::vector<Condition> conditions = {
      {"clean, 44100 Hz 16 bits", with([](Degradation*) {})},
      {"SNR 20 dB", with([](Degradation* d) { d->snr_db = 20; })},
      {"SNR 10 dB, speed -10%, wow 1%",
       with([](Degradation* d) { d->snr_db = 10, d->speed = 0.9, d->wow = 0.01; })},
      {"SNR 10 dB, speed +10%, wow 1%",
       with([](Degradation* d) { d->snr_db = 10, d->speed = 1.1, d->wow = 0.01; })},
      {"SNR 8 dB", with([](Degradation* d) { d->snr_db = 8; })},
      {"SNR 6 dB", with([](Degradation* d) { d->snr_db = 6; })},
      {"SNR 6 dB, speed 0.9 to 1.1, wow 1%",
       with([](Degradation* d) { d->snr_db = 6, d->speed = 0.9, d->speed_end = 1.1, d->wow = 0.01; })},
      {"wow/flutter 2%", with([](Degradation* d) { d->wow = 0.02; })},
      {"low-pass 4 kHz, SNR 12 dB", with([](Degradation* d) { d->low_pass = 4000, d->snr_db = 12; })},
      {"DC offset 0.3, drift 0.2", with([](Degradation* d) { d->dc_offset = 0.3, d->dc_drift = 0.2; })},
      {"inverted, 8 bits, SNR 15 dB",
       with([](Degradation* d) { d->invert = true, d->bits = 8, d->snr_db = 15; })},
      {"11025 Hz 8 bits, SNR 15 dB",
       with([](Degradation* d) { d->rate = 11025, d->bits = 8, d->snr_db = 15, d->low_pass = 4000; })},
      {"48000 Hz, speed ramp 0.9 to 1.1", with([](Degradation* d) { d->rate = 48000, d->speed = 0.9, d->speed_end = 1.1; })},
      {"4 ms dropouts to 10%, SNR 20 dB", with([](Degradation* d) { d->snr_db = 20; }), true},
      {"2 ms dropouts to 30%, SNR 20 dB",
       with([](Degradation* d) { d->snr_db = 20, d->dropout_ms = 2, d->dropout_depth = 0.3; }), true},
  };

  std::printf("%-36s %6s %7s", "condition", "blocks", "right");
  for (const char* kind : KINDS) {
    std::printf(" %10s", kind);
  }
  std::printf("  %s\n", "dropouts: blocks touched, right of the others");
  for (Condition& condition : conditions) {
    if (seeds == 0) {
      break;
    }
    if (only != nullptr && std::string(condition.name).find(only) == std::string::npos) {
      continue;
    }
    size_t total = 0;
    size_t right = 0;
    size_t kind_right[5] = {0, 0, 0, 0, 0};
    size_t kind_total[5] = {0, 0, 0, 0, 0};
    size_t hit = 0, clear = 0, clear_right = 0;
    for (int seed = first_seed; seed < first_seed + seeds; ++seed) {
      fixtures::PulseTape tape;
      std::vector<Bytes> blocks = tape_blocks(&tape, 1);
      condition.how.seed = static_cast<uint32_t>(seed);
      if (condition.dropouts) {
        condition.how.dropouts =
            random_dropouts(fixtures::tape_seconds(tape), static_cast<uint32_t>(seed));
      }
      std::vector<double> pulse_seconds;
      write_file(wav, fixtures::render_recording(tape, condition.how, &pulse_seconds));
      std::remove(tap.c_str());
      (void)run_tapedub(wav, tap);
      std::vector<bool> found = blocks_found(tap, blocks);
      for (size_t b = 0; b < blocks.size(); ++b) {
        ++total;
        ++kind_total[b % 5];
        right += found[b] ? 1u : 0u;
        kind_right[b % 5] += found[b] ? 1u : 0u;
        if (condition.dropouts) {
          if (touched(condition.how, tape, pulse_seconds, b)) {
            ++hit;
          } else {
            ++clear;
            clear_right += found[b] ? 1u : 0u;
          }
        }
      }
    }
    std::printf("%-36s %6zu %6.1f%%", condition.name, total,
                100.0 * static_cast<double>(right) / static_cast<double>(total));
    for (size_t k = 0; k < 5; ++k) {
      std::printf(" %4zu of %2zu", kind_right[k], kind_total[k]);
    }
    if (condition.dropouts) {
      std::printf("  %zu touched, %zu of %zu others", hit, clear_right, clear);
    }
    std::printf("\n");
  }

  // Speed and memory: 1 and 8 copies of the tape, SNR 20 dB at 44,100 Hz.
  std::printf("\n%-36s %10s %10s %10s\n", "recording", "seconds", "x realtime", "peak KiB");
  for (int copies : {1, 8}) {
    if (only != nullptr) {
      break;
    }
    fixtures::PulseTape tape;
    std::vector<Bytes> blocks = tape_blocks(&tape, copies);
    Degradation how = with([](Degradation* d) { d->snr_db = 20; });
    write_file(wav, fixtures::render_recording(tape, how));
    double seconds = fixtures::tape_seconds(tape);
    Run best;
    for (int round = 0; round < 3; ++round) {
      double cpu = run_tapedub(wav, tap);
      if (round == 0 || cpu < best.cpu) {
        best.cpu = cpu;
      }
    }
    std::string peak_file = dir + "/tapedub_decode_bench.peak";
    (void)run_tapedub(wav, tap, peak_file);
    Bytes peak = read_file(peak_file);
    best.peak_kib = std::atol(std::string(peak.begin(), peak.end()).c_str());
    std::remove(peak_file.c_str());
    char name[64];
    std::snprintf(name, sizeof name, "%d copies (%zu blocks)", copies, blocks.size());
    std::printf("%-36s %10.1f %10.0f %10ld\n", name, seconds, seconds / best.cpu, best.peak_kib);
  }
  if (std::getenv("TAPEDUB_BENCH_KEEP") == nullptr) {
    std::remove(wav.c_str());
  }
  std::remove(tap.c_str());
  return 0;
}
