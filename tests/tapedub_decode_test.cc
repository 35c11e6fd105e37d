// tapedub decoding recordings: tapes rendered by the generator under each
// kind of damage, at its limits, come back byte for byte; a bad checksum,
// a turbo block, a click, a speed ramp, a recording without data, a CSW,
// and the stray pulses kept or left out.
#include <gtest/gtest.h>
#include <libspectrum.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "fixtures/recording_builder.h"
#include "fixtures/tape_builder.h"
#include "fixtures/test_util.h"

using fixtures::Bytes;
using fixtures::Degradation;

namespace {

const std::string TAPEDUB = TAPEDUB_PATH;

Bytes pattern(size_t size, unsigned step) {
  Bytes b(size);
  for (size_t i = 0; i < size; ++i) {
    b[i] = static_cast<uint8_t>(i * step + 3);
  }
  return b;
}

// A short tape: a header and its data at the ROM's timings, pilots cut
// short so that the recordings stay small.
std::vector<Bytes> short_tape(fixtures::PulseTape* tape) {
  Bytes header = {3, 'd', 'e', 'c', 'o', 'd', 'e', ' ', ' ', ' ', ' ', 48, 0, 0, 0x80, 0, 0x80};
  std::vector<Bytes> blocks = {fixtures::rom_block(0x00, header),
                               fixtures::rom_block(0xFF, pattern(48, 37))};
  fixtures::BlockTimings rom = fixtures::rom_timings(0xFF);
  rom.pilot_pulses = 600;
  for (const Bytes& block : blocks) {
    tape->block(block, rom, 300);
  }
  return blocks;
}

// The blocks of a TAP file.
std::vector<Bytes> tap_blocks(const std::string& tap) {
  std::vector<Bytes> blocks;
  for (size_t at = 0; at + 2 <= tap.size();) {
    size_t length = size_t{static_cast<uint8_t>(tap[at])} | size_t{static_cast<uint8_t>(tap[at + 1])} << 8;
    if (at + 2 + length > tap.size()) {
      break;
    }
    blocks.emplace_back(tap.begin() + static_cast<long>(at) + 2,
                        tap.begin() + static_cast<long>(at + 2 + length));
    at += 2 + length;
  }
  return blocks;
}

void write_bytes(const std::string& path, const Bytes& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
  ASSERT_EQ(std::fclose(f), 0);
}

struct DamageCase {
  const char* name;
  Degradation how;
};

Degradation damaged(void (*change)(Degradation*)) {
  Degradation how;
  change(&how);
  return how;
}

// Each damage at the limits that the decoder is built for.
const DamageCase DAMAGE[] = {
    {"clean", damaged([](Degradation*) {})},
    {"11025 Hz, 8 bits, low-pass 4 kHz",
     damaged([](Degradation* d) { d->rate = 11025, d->bits = 8, d->low_pass = 4000; })},
    {"48000 Hz, low-pass 6 kHz", damaged([](Degradation* d) { d->rate = 48000, d->low_pass = 6000; })},
    {"other polarity", damaged([](Degradation* d) { d->invert = true; })},
    {"10% slow, wow 2%", damaged([](Degradation* d) { d->speed = 0.9, d->wow = 0.02; })},
    {"10% fast, wow 2%", damaged([](Degradation* d) { d->speed = 1.1, d->wow = 0.02; })},
    {"speed ramp 0.9 to 1.1 inside the blocks",
     damaged([](Degradation* d) { d->speed = 0.9, d->speed_end = 1.1; })},
    {"DC offset 0.4, drift 0.2", damaged([](Degradation* d) { d->dc_offset = 0.4, d->dc_drift = 0.2; })},
    {"SNR 12 dB, low-pass 5 kHz", damaged([](Degradation* d) { d->snr_db = 12, d->low_pass = 5000; })},
    {"SNR 10 dB, 10% fast, wow 1%, low-pass 5 kHz",
     damaged([](Degradation* d) { d->snr_db = 10, d->speed = 1.1, d->wow = 0.01, d->low_pass = 5000; })},
    {"a click in the pilot", damaged([](Degradation* d) { d->clicks = {0.05}; })},
    {"SNR 6 dB, low-pass 5 kHz", damaged([](Degradation* d) { d->snr_db = 6, d->low_pass = 5000; })},
    {"a 4 ms dropout to 10% in a pilot, one between the blocks",
     damaged([](Degradation* d) { d->dropouts = {0.1, 0.55}; })},
    {"8 bits, SNR 10 dB, 10% slow, wow 1%",
     damaged([](Degradation* d) { d->bits = 8, d->snr_db = 10, d->speed = 0.9, d->wow = 0.01; })},
};

TEST(TapedubDecode, DamageAtItsLimitsDecodesEveryBlock) {
  fixtures::TempDir dir;
  fixtures::PulseTape tape;
  std::vector<Bytes> blocks = short_tape(&tape);
  for (const DamageCase& damage : DAMAGE) {
    SCOPED_TRACE(damage.name);
    write_bytes(dir.path("in.wav"), fixtures::render_recording(tape, damage.how));
    fixtures::RunResult result = fixtures::run(TAPEDUB, "tapedub", {dir.path("in.wav"), dir.path("out.tap")});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(tap_blocks(fixtures::read_file(dir.path("out.tap"))), blocks) << result.err;
  }
}

// Fast turbo timings (0s of 440 T-states, near 4 kHz) where the short
// pulses suffer most: deep noise, a speed ramp, a rate near their Nyquist.
const DamageCase TURBO_DAMAGE[] = {
    {"SNR 6 dB, low-pass 5 kHz", damaged([](Degradation* d) { d->snr_db = 6, d->low_pass = 5000; })},
    {"SNR 6 dB, speed 0.9 to 1.1, wow 1%, low-pass 5 kHz",
     damaged([](Degradation* d) {
       d->snr_db = 6, d->speed = 0.9, d->speed_end = 1.1, d->wow = 0.01, d->low_pass = 5000;
     })},
    {"11025 Hz, 8 bits, SNR 15 dB, low-pass 4 kHz",
     damaged([](Degradation* d) { d->rate = 11025, d->bits = 8, d->snr_db = 15, d->low_pass = 4000; })},
    {"22050 Hz, SNR 10 dB, 10% fast, low-pass 5 kHz",
     damaged([](Degradation* d) { d->rate = 22050, d->snr_db = 10, d->speed = 1.1, d->low_pass = 5000; })},
};

TEST(TapedubDecode, FastTurboBlocksDecodeInNoiseAndAtLowRates) {
  fixtures::TempDir dir;
  fixtures::PulseTape tape;
  std::vector<Bytes> blocks = {fixtures::rom_block(0xFF, pattern(400, 29)),
                               fixtures::rom_block(0x00, pattern(400, 113))};
  tape.block(blocks[0], {1500, 800, 500, 500, 440, 880}, 300);
  tape.block(blocks[1], {2168, 800, 667, 735, 550, 1100}, 300);
  for (const DamageCase& damage : TURBO_DAMAGE) {
    SCOPED_TRACE(damage.name);
    write_bytes(dir.path("in.wav"), fixtures::render_recording(tape, damage.how));
    fixtures::RunResult result = fixtures::run(TAPEDUB, "tapedub", {dir.path("in.wav"), dir.path("out.tap")});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(tap_blocks(fixtures::read_file(dir.path("out.tap"))), blocks) << result.err;
  }
}

// Noise that one way of reading turns into a block with a bit too many
// and a right checksum, by chance: the true reading must win, not the
// longest right one.
struct ChanceCase {
  const char* name;
  uint32_t seed;
};
const ChanceCase CHANCE[] = {
    {"a header at 11025 Hz, 8 bits, SNR 15 dB, low-pass 4 kHz", 14},
};

TEST(TapedubDecode, AMisreadingRightByChanceYieldsToTheTrueReading) {
  fixtures::TempDir dir;
  fixtures::PulseTape tape;
  Bytes header = {3, 'b', 'e', 'n', 'c', 'h', ' ', ' ', ' ', ' ', ' ', 0, 4, 0, 0x80, 0, 0x80};
  std::vector<Bytes> blocks = {fixtures::rom_block(0x00, header)};
  tape.block(blocks[0], fixtures::rom_timings(0x00), 700);
  for (const ChanceCase& chance : CHANCE) {
    SCOPED_TRACE(chance.name);
    Degradation how;
    how.rate = 11025, how.bits = 8, how.snr_db = 15, how.low_pass = 4000, how.seed = chance.seed;
    write_bytes(dir.path("in.wav"), fixtures::render_recording(tape, how));
    fixtures::RunResult result = fixtures::run(TAPEDUB, "tapedub", {dir.path("in.wav"), dir.path("out.tap")});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(tap_blocks(fixtures::read_file(dir.path("out.tap"))), blocks) << result.err;
  }
}

TEST(TapedubDecode, ReportsEachBlockWithTheFileItsHeaderAnnounces) {
  fixtures::TempDir dir;
  fixtures::PulseTape tape;
  (void)short_tape(&tape);
  write_bytes(dir.path("in.wav"), fixtures::render_recording(tape, Degradation()));
  fixtures::RunResult result = fixtures::run(TAPEDUB, "tapedub", {dir.path("in.wav"), dir.path("out.tzx")});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err,
            "tapedub: 0:00.00 block 1: flag 0x00, 19 bytes, checksum ok, standard speed; Bytes: "
            "\"decode\" CODE 32768, 48\n"
            "tapedub: 0:00.46 3 pulses without data (noise or clicks), left out\n"
            "tapedub: 0:00.76 block 2: flag 0xFF, 50 bytes, checksum ok, standard speed\n"
            "tapedub: 0:01.43 1 pulses without data (noise or clicks), left out\n");
}

TEST(TapedubDecode, ABadChecksumInTheSourceIsWrittenAndSaid) {
  fixtures::TempDir dir;
  fixtures::PulseTape tape;
  Bytes spoilt = fixtures::rom_block(0xFF, pattern(40, 11), true);
  fixtures::BlockTimings rom = fixtures::rom_timings(0xFF);
  rom.pilot_pulses = 600;
  tape.block(spoilt, rom, 300);
  write_bytes(dir.path("in.wav"), fixtures::render_recording(tape, Degradation()));
  fixtures::RunResult result = fixtures::run(TAPEDUB, "tapedub", {dir.path("in.wav"), dir.path("out.tap")});
  EXPECT_EQ(result.status, 2);
  EXPECT_NE(result.err.find("checksum bad"), std::string::npos) << result.err;
  EXPECT_EQ(tap_blocks(fixtures::read_file(dir.path("out.tap"))), std::vector<Bytes>{spoilt});
}

// A block read again takes the second after it along: the blocks there
// come out once each, in their places.
TEST(TapedubDecode, BlocksCloseAfterABadOneComeOutOnceEach) {
  fixtures::TempDir dir;
  fixtures::PulseTape tape;
  fixtures::BlockTimings rom = fixtures::rom_timings(0xFF);
  rom.pilot_pulses = 600;
  std::vector<Bytes> blocks = {fixtures::rom_block(0xFF, pattern(40, 11), true),
                               fixtures::rom_block(0xFF, pattern(30, 5)),
                               fixtures::rom_block(0x00, pattern(20, 3), true),
                               fixtures::rom_block(0xFF, pattern(10, 7))};
  for (const Bytes& block : blocks) {
    tape.block(block, rom, 100);
  }
  Degradation how;
  how.snr_db = 20;
  write_bytes(dir.path("in.wav"), fixtures::render_recording(tape, how));
  fixtures::RunResult result = fixtures::run(TAPEDUB, "tapedub", {dir.path("in.wav"), dir.path("out.tap")});
  EXPECT_EQ(result.status, 2) << result.err;
  EXPECT_EQ(tap_blocks(fixtures::read_file(dir.path("out.tap"))), blocks) << result.err;
}

TEST(TapedubDecode, ATurboBlockKeepsItsMeasuredTimings) {
  fixtures::TempDir dir;
  fixtures::PulseTape tape;
  Bytes block = fixtures::rom_block(0x00, pattern(200, 7));
  tape.block(block, {1500, 800, 500, 500, 440, 880}, 300);
  Degradation how;
  how.snr_db = 20;
  how.low_pass = 6000;
  write_bytes(dir.path("in.wav"), fixtures::render_recording(tape, how));
  fixtures::RunResult result = fixtures::run(TAPEDUB, "tapedub", {dir.path("in.wav"), dir.path("out.tzx")});
  ASSERT_EQ(result.status, 0) << result.err;
  std::string tzx = fixtures::read_file(dir.path("out.tzx"));
  libspectrum_tape* read = libspectrum_tape_alloc();
  ASSERT_EQ(libspectrum_tape_read(read, reinterpret_cast<const libspectrum_byte*>(tzx.data()),
                                  tzx.size(), LIBSPECTRUM_ID_TAPE_TZX, nullptr),
            LIBSPECTRUM_ERROR_NONE);
  libspectrum_tape_iterator it = nullptr;
  libspectrum_tape_block* first = libspectrum_tape_iterator_init(&it, read);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(libspectrum_tape_block_type(first), LIBSPECTRUM_TAPE_BLOCK_TURBO);
  EXPECT_NEAR(libspectrum_tape_block_pilot_length(first), 1500, 30);
  EXPECT_NEAR(libspectrum_tape_block_bit0_length(first), 440, 20);
  EXPECT_NEAR(libspectrum_tape_block_bit1_length(first), 880, 30);
  const libspectrum_byte* data = libspectrum_tape_block_data(first);
  EXPECT_EQ(Bytes(data, data + libspectrum_tape_block_data_length(first)), block);
  libspectrum_tape_free(read);
}

TEST(TapedubDecode, ARecordingWithoutDataWritesNothing) {
  fixtures::TempDir dir;
  fixtures::PulseTape tape;
  tape.tone(2168, 500, 300).pause(200);
  Degradation how;
  how.snr_db = 10;
  write_bytes(dir.path("in.wav"), fixtures::render_recording(tape, how));
  fixtures::RunResult result = fixtures::run(TAPEDUB, "tapedub", {dir.path("in.wav"), dir.path("out.tzx")});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("holds no data block that could be read; nothing written"),
            std::string::npos)
      << result.err;
  EXPECT_NE(result.err.find("(a tone without data), left out"), std::string::npos) << result.err;
  EXPECT_EQ(fixtures::read_file(dir.path("out.tzx")), "");
}

// A 16-bit mono WAV of the generator's (44-byte header) as 32-bit float,
// with `poison` in place of sample `at`.
Bytes float_wav(const Bytes& wav16, size_t at, float poison) {
  auto le = [](Bytes* b, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b->push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  size_t count = (wav16.size() - 44) / 2;
  Bytes wav = {'R', 'I', 'F', 'F'};
  le(&wav, static_cast<uint32_t>(36 + count * 4), 4);
  for (char c : std::string("WAVEfmt ")) wav.push_back(static_cast<uint8_t>(c));
  uint32_t rate = uint32_t{wav16[24]} | uint32_t{wav16[25]} << 8 | uint32_t{wav16[26]} << 16;
  le(&wav, 16, 4), le(&wav, 3, 2), le(&wav, 1, 2), le(&wav, rate, 4), le(&wav, rate * 4, 4);
  le(&wav, 4, 2), le(&wav, 32, 2);
  for (char c : std::string("data")) wav.push_back(static_cast<uint8_t>(c));
  le(&wav, static_cast<uint32_t>(count * 4), 4);
  for (size_t i = 0; i < count; ++i) {
    auto sample = static_cast<int16_t>(wav16[44 + 2 * i] | wav16[45 + 2 * i] << 8);
    float value = i == at ? poison : static_cast<float>(sample) / 32768;
    uint32_t word;
    std::memcpy(&word, &value, 4);
    le(&wav, word, 4);
  }
  return wav;
}

// A sample that is no number, in the first pilot, costs no block after it.
TEST(TapedubDecode, ASampleThatIsNoNumberIsSilence) {
  fixtures::TempDir dir;
  fixtures::PulseTape tape;
  std::vector<Bytes> blocks = short_tape(&tape);
  Bytes wav16 = fixtures::render_recording(tape, Degradation());
  const float POISON[] = {std::numeric_limits<float>::quiet_NaN(),
                          std::numeric_limits<float>::infinity(),
                          -std::numeric_limits<float>::infinity()};
  for (float poison : POISON) {
    SCOPED_TRACE(poison);
    write_bytes(dir.path("in.wav"), float_wav(wav16, 2000, poison));
    fixtures::RunResult result = fixtures::run(TAPEDUB, "tapedub", {dir.path("in.wav"), dir.path("out.tap")});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(tap_blocks(fixtures::read_file(dir.path("out.tap"))), blocks) << result.err;
  }
}

TEST(TapedubDecode, StrayPulsesKeptInATzxOnlyWhenAsked) {
  fixtures::TempDir dir;
  fixtures::PulseTape tape;
  tape.tone(1000, 300, 200);
  std::vector<Bytes> blocks = short_tape(&tape);
  write_bytes(dir.path("in.wav"), fixtures::render_recording(tape, Degradation()));
  for (bool keep : {false, true}) {
    std::vector<std::string> args = {dir.path("in.wav"), dir.path("out.tzx")};
    if (keep) {
      args.insert(args.begin(), "--keep-pulses");
    }
    fixtures::RunResult result = fixtures::run(TAPEDUB, "tapedub", args);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.err.find(keep ? "kept as pulses" : "left out"), std::string::npos)
        << result.err;
    std::string tzx = fixtures::read_file(dir.path("out.tzx"));
    // A pulse sequence block (0x13) follows the header right after the 10-byte signature.
    ASSERT_GT(tzx.size(), 10u);
    EXPECT_EQ(tzx[10] == 0x13, keep);
  }
  fixtures::RunResult refused =
      fixtures::run(TAPEDUB, "tapedub", {"--keep-pulses", dir.path("in.wav"), dir.path("out.tap")});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, "tapedub: --keep-pulses applies to TZX output only\n");
}

TEST(TapedubDecode, ACswRecordingDecodesAtItsPulses) {
  fixtures::TempDir dir;
  Bytes hello = {0, 'h', 'e', 'l', 'l', 'o', ' ', ' ', ' ', ' ', ' ', 5, 0, 10, 0, 5, 0};
  Bytes tap = fixtures::concatenated(
      {fixtures::tap_block(0x00, hello), fixtures::tap_block(0xFF, {0x00, 0x0A, 0x01, 0x00, 0xE7})});
  write_bytes(dir.path("in.tap"), tap);
  ASSERT_EQ(fixtures::run(TAPEDUB, "tapedub", {dir.path("in.tap"), dir.path("in.csw")}).status, 0);
  fixtures::RunResult result = fixtures::run(TAPEDUB, "tapedub", {dir.path("in.csw"), dir.path("out.tap")});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(fixtures::read_file(dir.path("out.tap")), std::string(tap.begin(), tap.end()));
}

}  // namespace

namespace {

// A TZX of a standard-speed block and a direct recording (0x15) of `tape`
// at 79 T-states a sample.
Bytes mixed_tzx(const Bytes& standard, const fixtures::PulseTape& tape) {
  Bytes tzx = {'Z', 'X', 'T', 'a', 'p', 'e', '!', 0x1A, 1, 20, 0x10, 0xE8, 0x03};
  fixtures::le16(tzx, static_cast<uint32_t>(standard.size()));
  tzx.insert(tzx.end(), standard.begin(), standard.end());
  std::vector<bool> samples;
  bool level = false;
  uint64_t at = 0;
  for (uint32_t pulse : tape.pulses) {
    at += pulse;
    while (samples.size() * 79 < at) {
      samples.push_back(level);
    }
    level = !level;
  }
  size_t bytes = (samples.size() + 7) / 8;
  Bytes data(bytes, 0);
  for (size_t i = 0; i < samples.size(); ++i) {
    data[i / 8] = static_cast<uint8_t>(data[i / 8] | (samples[i] ? 0x80 >> (i % 8) : 0));
  }
  Bytes head = {0x15, 79, 0, 0xE8, 0x03, static_cast<uint8_t>(samples.size() % 8 == 0 ? 8 : samples.size() % 8),
                static_cast<uint8_t>(bytes), static_cast<uint8_t>(bytes >> 8), static_cast<uint8_t>(bytes >> 16)};
  tzx.insert(tzx.end(), head.begin(), head.end());
  tzx.insert(tzx.end(), data.begin(), data.end());
  return tzx;
}

std::vector<libspectrum_tape_type> block_types(const std::string& tzx) {
  std::vector<libspectrum_tape_type> types;
  libspectrum_tape* read = libspectrum_tape_alloc();
  if (libspectrum_tape_read(read, reinterpret_cast<const libspectrum_byte*>(tzx.data()), tzx.size(),
                            LIBSPECTRUM_ID_TAPE_TZX, nullptr) == LIBSPECTRUM_ERROR_NONE) {
    libspectrum_tape_iterator it = nullptr;
    for (auto* block = libspectrum_tape_iterator_init(&it, read); block != nullptr;
         block = libspectrum_tape_iterator_next(&it)) {
      types.push_back(libspectrum_tape_block_type(block));
    }
  }
  libspectrum_tape_free(read);
  return types;
}

TEST(TapedubDecode, OnlyTheDirectRecordingOfAMixedTzxIsDecodedAndNoDecodeKeepsIt) {
  fixtures::TempDir dir;
  fixtures::PulseTape tape;
  std::vector<Bytes> recorded = short_tape(&tape);
  Bytes standard = fixtures::rom_block(0xFF, pattern(30, 5));
  write_bytes(dir.path("in.tzx"), mixed_tzx(standard, tape));
  const auto ROM = LIBSPECTRUM_TAPE_BLOCK_ROM;
  const auto RAW = LIBSPECTRUM_TAPE_BLOCK_RAW_DATA;
  struct {
    std::vector<std::string> args;
    std::vector<libspectrum_tape_type> types;  // of a TZX written
  } cases[] = {
      {{"out.tzx"}, {ROM, ROM, ROM}},
      {{"out.tap"}, {}},
      {{"--no-decode", "out.tzx"}, {ROM, RAW}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args;
    for (size_t i = 0; i + 1 < c.args.size(); ++i) {
      args.push_back(c.args[i]);
    }
    args.push_back(dir.path("in.tzx"));
    args.push_back(dir.path(c.args.back()));
    SCOPED_TRACE(args.front());
    fixtures::RunResult result = fixtures::run(TAPEDUB, "tapedub", args);
    EXPECT_EQ(result.status, 0) << result.err;
    std::string out = fixtures::read_file(dir.path(c.args.back()));
    if (c.types.empty()) {
      std::vector<Bytes> all = {standard};
      all.insert(all.end(), recorded.begin(), recorded.end());
      EXPECT_EQ(tap_blocks(out), all) << result.err;
    } else {
      EXPECT_EQ(block_types(out), c.types) << result.err;
    }
  }
  fixtures::RunResult both =
      fixtures::run(TAPEDUB, "tapedub", {"--no-decode", "--keep-pulses", dir.path("in.tzx"), dir.path("x.tzx")});
  EXPECT_EQ(both.status, 1);
  EXPECT_EQ(both.err, "tapedub: --keep-pulses and --no-decode cannot go together\n");
}

}  // namespace
