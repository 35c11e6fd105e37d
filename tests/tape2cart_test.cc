// tape2cart and blankcart: the cartridges they write keep every rule of the
// Interface 1, the files go round through cart2tape unchanged, and every
// refusal leaves the files as they were.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "fixtures/mdr_builder.h"
#include "fixtures/mdr_rules.h"
#include "fixtures/tape_builder.h"
#include "fixtures/test_util.h"
#include "libspectrum.h"

using fixtures::Bytes;
using fixtures::run;

namespace {

const std::string TAPE2CART = TAPE2CART_PATH;
const std::string BLANKCART = BLANKCART_PATH;
const std::string CART2TAPE = CART2TAPE_PATH;
const std::string CARTINFO = CARTINFO_PATH;

Bytes read_bytes(const std::string& path) {
  std::string text = fixtures::read_file(path);
  return Bytes(text.begin(), text.end());
}

// A file as the ROM saves it on tape.
struct RomFile {
  uint8_t type;
  std::string name;
  uint16_t param1;
  uint16_t param2;
  size_t length;

  Bytes header() const {
    Bytes h{type};
    std::string padded = name + std::string(10 - name.size(), ' ');
    h.insert(h.end(), padded.begin(), padded.end());
    fixtures::le16(h, static_cast<uint32_t>(length));
    fixtures::le16(h, param1);
    fixtures::le16(h, param2);
    return h;
  }
  Bytes data() const {
    Bytes d(length);
    for (size_t i = 0; i < length; ++i) {
      d[i] = static_cast<uint8_t>(i * 7 + type + name.size());
    }
    return d;
  }
  // The file on a cartridge, from the table of the Interface 1's headers:
  // type, length, start, then program length and line, or 0xFFFF twice, or
  // the array's name byte and 0xFF, 0xFFFF.
  Bytes microdrive() const {
    Bytes m{type};
    fixtures::le16(m, static_cast<uint32_t>(length));
    if (type == 0) {
      fixtures::le16(m, 23813);
      fixtures::le16(m, param2);
      fixtures::le16(m, param1);
    } else if (type == 3) {
      fixtures::le16(m, param1);
      fixtures::le16(m, 0xFFFF);
      fixtures::le16(m, 0xFFFF);
    } else {
      fixtures::le16(m, 0);
      m.push_back(static_cast<uint8_t>(param1 >> 8));
      m.push_back(0xFF);
      fixtures::le16(m, 0xFFFF);
    }
    Bytes d = data();
    m.insert(m.end(), d.begin(), d.end());
    return m;
  }
};

// Every kind of file, at lengths around the edges of a record (9 header
// bytes and 503 fill the first record).
const std::vector<RomFile> FILES = {
    {0, "prog", 10, 250, 300},          {0, "no line", 32768, 503, 503},
    {3, "code", 32768, 32768, 504},     {3, "screen", 16384, 32768, 6912},
    {1, "nums", 0x8100, 32768, 26},     {2, "strs", 0xC200, 32768, 53},
    {3, "empty", 40000, 32768, 0},      {3, "two full", 30000, 32768, 1015},
    {3, "biggest", 0, 32768, 65533},
};

// A ROM block without its TAP length: flag, bytes, checksum.
Bytes rom_block(uint8_t flag, const Bytes& payload, bool spoil = false) {
  Bytes b = fixtures::tap_block(flag, payload, spoil);
  return Bytes(b.begin() + 2, b.end());
}

Bytes tap_of(const std::vector<RomFile>& files) {
  Bytes tape;
  for (const RomFile& f : files) {
    for (const Bytes& b : {fixtures::tap_block(0x00, f.header()), fixtures::tap_block(0xFF, f.data())}) {
      tape.insert(tape.end(), b.begin(), b.end());
    }
  }
  return tape;
}

// The same files in every TZX block kind that carries bytes, with blocks
// that carry none between a header and its data.
Bytes tzx_of(const std::vector<RomFile>& files) {
  fixtures::TzxBuilder tzx;
  for (size_t i = 0; i < files.size(); ++i) {
    Bytes header = rom_block(0x00, files[i].header());
    Bytes data = rom_block(0xFF, files[i].data());
    switch (i % 3) {
      case 0:
        tzx.standard(1000, header).text("between").pause(100).standard(1000, data);
        break;
      case 1:
        tzx.turbo(2168, 667, 735, 855, 1710, 3223, 8, 0, header)
            .pure_tone(2168, 3223)
            .pulses({667, 735})
            .pure_data(855, 1710, 8, 1000, data);
        break;
      default:
        tzx.pure_data(855, 1710, 8, 0, header).group_start("g").group_end().turbo(
            2000, 600, 700, 800, 1600, 100, 8, 1000, data);
        break;
    }
  }
  return tzx.image();
}

Bytes pzx_of(const std::vector<RomFile>& files) {
  fixtures::PzxBuilder pzx;
  for (const RomFile& f : files) {
    for (const Bytes& b : {rom_block(0x00, f.header()), rom_block(0xFF, f.data())}) {
      pzx.pulses({{3223, 2168}, {1, 667}, {1, 735}})
          .data(static_cast<uint32_t>(b.size() * 8), {855, 855}, {1710, 1710}, b)
          .pause(3500000, false);
    }
  }
  return pzx.image();
}

// The ROM blocks (flag to checksum) of a tape, through libspectrum.
std::vector<Bytes> rom_blocks(const std::string& path) {
  std::string image = fixtures::read_file(path);
  libspectrum_tape* tape = libspectrum_tape_alloc();
  EXPECT_EQ(libspectrum_tape_read(tape, reinterpret_cast<const libspectrum_byte*>(image.data()),
                                  image.size(), LIBSPECTRUM_ID_UNKNOWN, path.c_str()),
            0);
  std::vector<Bytes> blocks;
  libspectrum_tape_iterator it = nullptr;
  for (auto* b = libspectrum_tape_iterator_init(&it, tape); b != nullptr;
       b = libspectrum_tape_iterator_next(&it)) {
    if (libspectrum_tape_block_type(b) == LIBSPECTRUM_TAPE_BLOCK_ROM) {
      const libspectrum_byte* data = libspectrum_tape_block_data(b);
      blocks.emplace_back(data, data + libspectrum_tape_block_data_length(b));
    }
  }
  libspectrum_tape_free(tape);
  return blocks;
}

void expect_rules_kept(const std::string& path) {
  std::vector<std::string> breaches = fixtures::microdrive_rule_breaches(read_bytes(path));
  EXPECT_TRUE(breaches.empty()) << path << ": " << breaches.front();
}

class Tape2cartFormats : public testing::TestWithParam<const char*> {};

// Every file of a tape of any format goes onto a blank cartridge as the
// Interface 1 saves it, and cart2tape gives back the blocks it came from.
TEST_P(Tape2cartFormats, FilesGoRoundThroughCart2tape) {
  fixtures::TempDir dir;
  std::string format = GetParam();
  std::string tape = dir.path("in." + format);
  Bytes image = format == "tzx"     ? tzx_of(FILES)
                : format == "pzx"   ? pzx_of(FILES)
                : format == "tap.gz" ? fixtures::gzip_stored(tap_of(FILES))
                                     : tap_of(FILES);
  fixtures::write_file(tape, image);
  std::string cartridge = dir.path("c.mdr");
  fixtures::RunResult r = run(TAPE2CART, "tape2cart", {tape, cartridge});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  expect_rules_kept(cartridge);

  std::vector<fixtures::MdrFileSummary> saved = fixtures::mdr_files(read_bytes(cartridge));
  ASSERT_EQ(saved.size(), FILES.size());
  for (size_t i = 0; i < FILES.size(); ++i) {
    EXPECT_EQ(saved[i].name, (FILES[i].name + "          ").substr(0, 10));
    EXPECT_EQ(saved[i].contents, FILES[i].microdrive()) << FILES[i].name;
  }
  // Records go into the free sectors in image order.
  EXPECT_EQ(saved[0].blocks, (std::vector<size_t>{0}));
  EXPECT_EQ(saved[1].blocks, (std::vector<size_t>{1}));
  EXPECT_EQ(saved[2].blocks, (std::vector<size_t>{2, 3}));

  std::string back = dir.path("back.tap");
  r = run(CART2TAPE, "cart2tape", {cartridge, back});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<Bytes> blocks = rom_blocks(back);
  ASSERT_EQ(blocks.size(), FILES.size() * 2);
  for (size_t i = 0; i < FILES.size(); ++i) {
    EXPECT_EQ(blocks[2 * i], rom_block(0x00, FILES[i].header())) << FILES[i].name;
    EXPECT_EQ(blocks[2 * i + 1], rom_block(0xFF, FILES[i].data())) << FILES[i].name;
  }

  r = run(CARTINFO, "cartinfo", {cartridge});
  for (const char* line : {"Program: \"prog\" LINE 10", "Program: \"no line\"\n",
                           "Bytes: \"code\" CODE 32768, 504", "Bytes: \"screen\" SCREEN$",
                           "Number Array: \"nums\" DATA A()", "Character Array: \"strs\" DATA B$()",
                           "Bytes: \"biggest\" CODE 0, 65533 in 129 blocks"}) {
    EXPECT_NE(r.out.find(line), std::string::npos) << line << " in\n" << r.out;
  }
}

INSTANTIATE_TEST_SUITE_P(All, Tape2cartFormats, testing::Values("tap", "tzx", "pzx", "tap.gz"));

}  // namespace
