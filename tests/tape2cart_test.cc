// tape2cart and blankcart: the cartridges they write keep every rule of the
// Interface 1, the files go round through cart2tape unchanged, and every
// refusal leaves the files as they were.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "cartridge.h"
#include "cartridge_writer.h"
#include "fixtures/cli_cases.h"
#include "fixtures/mdr_builder.h"
#include "fixtures/mdr_rules.h"
#include "fixtures/tape_builder.h"
#include "fixtures/test_util.h"
#include "libspectrum.h"
#include "output_file_seam.h"
#include "tape2cart.h"
#include "tape2cart_testing_seams.h"

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
    {0, "prog", 10, 250, 300},       {0, "no line", 32768, 503, 503},
    {3, "code", 32768, 32768, 504},  {3, "screen", 16384, 32768, 6912},
    {1, "nums", 0x8100, 32768, 26},  {2, "strs", 0xC200, 32768, 53},
    {3, "empty", 40000, 32768, 0},   {3, "two full", 30000, 32768, 1015},
    {3, "biggest", 0, 32768, 65533},
};

Bytes tap_of(const std::vector<RomFile>& files) {
  Bytes tape;
  for (const RomFile& f : files) {
    for (const Bytes& b :
         {fixtures::tap_block(0x00, f.header()), fixtures::tap_block(0xFF, f.data())}) {
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
    Bytes header = fixtures::rom_block(0x00, files[i].header());
    Bytes data = fixtures::rom_block(0xFF, files[i].data());
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
        tzx.pure_data(855, 1710, 8, 0, header)
            .group_start("g")
            .group_end()
            .turbo(2000, 600, 700, 800, 1600, 100, 8, 1000, data);
        break;
    }
  }
  return tzx.image();
}

Bytes pzx_of(const std::vector<RomFile>& files) {
  fixtures::PzxBuilder pzx;
  for (const RomFile& f : files) {
    for (const Bytes& b :
         {fixtures::rom_block(0x00, f.header()), fixtures::rom_block(0xFF, f.data())}) {
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

class Tape2cartCliFormats : public testing::TestWithParam<const char*> {};

// Every file of a tape of any format goes onto a blank cartridge as the
// Interface 1 saves it, and cart2tape gives back the blocks it came from.
TEST_P(Tape2cartCliFormats, FilesGoRoundThroughCart2tape) {
  fixtures::TempDir dir;
  std::string format = GetParam();
  std::string tape = dir.path("in." + format);
  Bytes image = format == "tzx"      ? tzx_of(FILES)
                : format == "pzx"    ? pzx_of(FILES)
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
    EXPECT_EQ(blocks[2 * i], fixtures::rom_block(0x00, FILES[i].header())) << FILES[i].name;
    EXPECT_EQ(blocks[2 * i + 1], fixtures::rom_block(0xFF, FILES[i].data())) << FILES[i].name;
  }

  r = run(CARTINFO, "cartinfo", {cartridge});
  for (const char* line :
       {"Program: \"prog\" LINE 10", "Program: \"no line\"\n", "Bytes: \"code\" CODE 32768, 504",
        "Bytes: \"screen\" SCREEN$", "Number Array: \"nums\" DATA A()",
        "Character Array: \"strs\" DATA B$()", "Bytes: \"biggest\" CODE 0, 65533 in 129 blocks"}) {
    EXPECT_NE(r.out.find(line), std::string::npos) << line << " in\n" << r.out;
  }
}

INSTANTIATE_TEST_SUITE_P(All, Tape2cartCliFormats, testing::Values("tap", "tzx", "pzx", "tap.gz"));

}  // namespace

namespace {

// A cartridge of ROM files with free sectors, a preset bad block and the
// sectors that only some readers take for free between them.
fixtures::MdrBuilder scattered_cartridge() {
  fixtures::MdrBuilder cart("KEEP");
  fixtures::MdrBlock bad;  // preset bad block
  bad.record_flags = 0x02;
  cart.add_block(bad);
  fixtures::MdrBlock partial;  // 100 bytes without end of file: cartinfo's, not free
  partial.record_length = 100;
  partial.record_name = "partial";
  partial.data = Bytes(100, 0x77);
  cart.add_block(partial);
  fixtures::MdrBlock unheaded;  // the Interface 1 finds no header here
  unheaded.header_flag = 0x00;
  cart.add_block(unheaded);
  fixtures::MdrBlock spoilt;  // nor here
  spoilt.spoil_header_checksum = true;
  cart.add_block(spoilt);
  cart.add_file("old", RomFile{3, "old", 0, 32768, 5}.microdrive());
  cart.add_free_blocks(3);
  cart.add_file("prog", RomFile{0, "prog", 10, 250, 300}.microdrive());
  cart.add_free_blocks(20);
  cart.set_write_protect(0);
  return cart;
}

// Every sector that a run did not write stays byte for byte as it was.
void expect_only_sectors_changed(const Bytes& before, const Bytes& after,
                                 const std::vector<size_t>& written) {
  ASSERT_EQ(before.size(), after.size());
  for (size_t block = 0; block * 543 < before.size() - 1; ++block) {
    bool was_written = std::find(written.begin(), written.end(), block) != written.end();
    bool same = std::equal(before.begin() + static_cast<std::ptrdiff_t>(block * 543),
                           before.begin() + static_cast<std::ptrdiff_t>(block * 543 + 543),
                           after.begin() + static_cast<std::ptrdiff_t>(block * 543));
    EXPECT_EQ(same, !was_written) << "block " << block;
  }
  EXPECT_EQ(before.back(), after.back());
}

std::vector<size_t> blocks_of(const std::vector<fixtures::MdrFileSummary>& files,
                              const std::string& name) {
  for (const auto& f : files) {
    if (f.name == (name + "          ").substr(0, 10)) {
      return f.blocks;
    }
  }
  return {};
}

// Files are added into the free sectors only, in image order; the rest of
// an existing cartridge is kept byte for byte; a name already there is left
// out unless replaced, and a replaced file's sectors read as a blank
// cartridge's.
TEST(Tape2cartCli, AddsToAnExistingCartridgeAndReplacesOnlyWhenAsked) {
  fixtures::TempDir dir;
  std::string cartridge = dir.path("c.mdr");
  scattered_cartridge().write(cartridge);
  Bytes before = read_bytes(cartridge);
  std::string tape = dir.path("t.tap");
  RomFile prog{0, "prog", 20, 100, 100};
  RomFile big{3, "new", 0, 32768, 1200};  // three records
  fixtures::write_file(tape, tap_of({prog, big}));

  fixtures::RunResult r = run(TAPE2CART, "tape2cart", {tape, cartridge});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "tape2cart: `" + cartridge +
                       "' holds a file \"prog\" already; block 1 left out (-r replaces it)\n");
  Bytes after = read_bytes(cartridge);
  // Only the odd blocks that were there break a rule, as before.
  std::vector<std::string> breaches = fixtures::microdrive_rule_breaches(before, false);
  EXPECT_EQ(breaches.size(), 3u);
  EXPECT_EQ(fixtures::microdrive_rule_breaches(after, false), breaches);
  std::vector<size_t> placed = blocks_of(fixtures::mdr_files(after), "new");
  EXPECT_EQ(placed, (std::vector<size_t>{5, 6, 7}));
  expect_only_sectors_changed(before, after, placed);

  r = run(TAPE2CART, "tape2cart", {"-r", "--file=prog", "-n", "NEW", tape, cartridge});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "tape2cart: `" + cartridge +
                       "' exists; -n and -b are for a new cartridge, and ignored\n");
  Bytes replaced = read_bytes(cartridge);
  EXPECT_EQ(fixtures::microdrive_rule_breaches(replaced, false), breaches);
  std::vector<fixtures::MdrFileSummary> files = fixtures::mdr_files(replaced);
  // The old program's sector (block 8) was freed first, and took the new one.
  ASSERT_EQ(blocks_of(files, "prog"), (std::vector<size_t>{8}));
  EXPECT_EQ(std::count_if(files.begin(), files.end(),
                          [](const auto& f) { return f.name == "prog      "; }),
            1);
  EXPECT_EQ(files[files.size() - 1].contents, prog.microdrive());
  expect_only_sectors_changed(after, replaced, {8});
}

}  // namespace

namespace {

// A cartridge of `blocks` sectors whose first `used` hold one file.
Bytes cartridge_with(size_t blocks, size_t used, uint8_t write_protect = 0) {
  fixtures::MdrBuilder cart("FULL");
  if (used > 0) {
    cart.add_file("there", RomFile{3, "there", 0, 32768, used * 512 - 9}.microdrive());
  }
  cart.add_free_blocks(blocks - used);
  cart.set_write_protect(write_protect);
  return cart.image();
}

struct Refusal {
  const char* what;
  Bytes tape;
  Bytes cartridge;                // empty: there is none
  std::vector<std::string> args;  // T and C stand for the tape and the cartridge
  int status;
  std::string err;  // likewise
};

std::string substituted(std::string text, const std::string& tape, const std::string& cart) {
  for (size_t at = 0; (at = text.find_first_of("TC", at)) != std::string::npos;) {
    const std::string& path = text[at] == 'T' ? tape : cart;
    text.replace(at, 1, path);
    at += path.size();
  }
  return text;
}

// Every failure ends with status 1 and writes nothing: an existing
// cartridge keeps every byte, and none is made.
TEST(Tape2cartCli, RefusalsWriteNothing) {
  RomFile small{3, "small", 0, 32768, 1100};  // three sectors
  Bytes good = tap_of({small});
  fixtures::TzxBuilder outside;
  outside.jump(5).standard(1000, fixtures::rom_block(0x00, small.header()));
  // "small" with a wrong data checksum, then a whole file.
  Bytes damaged = fixtures::tap_block(0x00, small.header());
  for (const Bytes& more : {fixtures::tap_block(0xFF, small.data(), true), tap_of({FILES[0]})}) {
    damaged.insert(damaged.end(), more.begin(), more.end());
  }
  const std::vector<Refusal> cases = {
      {"write-protected",
       good,
       cartridge_with(10, 0, 1),
       {"T", "C"},
       1,
       "tape2cart: `C' is write-protected; nothing written\n"},
      {"full",
       good,
       cartridge_with(10, 8),
       {"T", "C"},
       1,
       "tape2cart: `C' has 2 free sectors, and the files need 3; nothing written\n"},
      {"full when new",
       tap_of({small, FILES[3]}),
       {},
       {"-b", "15", "T", "C"},
       1,
       "tape2cart: a new cartridge `C' would have 15 sectors, and the files need 17; nothing "
       "written\n"},
      {"own tape",
       good,
       {},
       {"T", "T"},
       1,
       "tape2cart: `T' is the tape `T' itself; not replaced\n"},
      {"standard output",
       good,
       {},
       {"T", "-"},
       1,
       "tape2cart: a cartridge is not written to standard output; name an MDR file\n"},
      {"no such file",
       good,
       {},
       {"-f", "big", "T", "C"},
       1,
       "tape2cart: `T' holds no file named \"big\"\n"},
      {"damaged file asked for",
       damaged,
       {},
       {"-f", "small", "T", "C"},
       1,
       "tape2cart: `T' block 2: the data of \"small\" (header in block 1), whose checksum is "
       "wrong; left out\ntape2cart: `T' holds no whole file named \"small\"\n"},
      {"headerless",
       fixtures::tap_block(0xFF, {1, 2, 3}),
       {},
       {"T", "C"},
       1,
       "tape2cart: `T' block 1: data without a header (5 bytes); left out\n"
       "tape2cart: `T' holds no ROM file; nothing written\n"},
      {"sampled",
       fixtures::csw_recording(),
       {},
       {"T", "C"},
       1,
       "tape2cart: `T' block 1: a sampled recording, which holds pulses, not bytes; left out\n"
       "tape2cart: `T' holds no ROM file: a sampled recording holds pulses, not bytes; nothing "
       "written\n"},
      {"guarded tape",
       outside.image(),
       {},
       {"T", "C"},
       1,
       "tape2cart: `T' is damaged: block 1 jumps outside the tape\n"},
      {"not a cartridge",
       good,
       Bytes(100, 0x55),
       {"T", "C"},
       1,
       "libspectrum error: `C': libspectrum_microdrive_mdr_read: not enough data in buffer\n"},
  };
  // A cartridge that is no regular file (a pipe, a folder, a link to a
  // folder) is neither read nor written; a link to nothing is a file that
  // cannot be read.
  {
    fixtures::TempDir dir;
    fixtures::write_file(dir.path("t.tap"), good);
    ASSERT_EQ(mkfifo(dir.path("pipe").c_str(), 0600), 0);
    ASSERT_EQ(mkdir(dir.path("sub").c_str(), 0755), 0);
    ASSERT_EQ(symlink("sub", dir.path("folder-link").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", dir.path("dangling").c_str()), 0);
    for (const char* name : {"pipe", "sub", "sub/", "folder-link"}) {
      fixtures::RunResult r = run(TAPE2CART, "tape2cart", {dir.path("t.tap"), dir.path(name)});
      EXPECT_EQ(r.err,
                "tape2cart: `" + dir.path(name) + "' is not a regular file; nothing written\n");
      EXPECT_EQ(r.status, 1);
    }
    fixtures::RunResult r = run(TAPE2CART, "tape2cart", {dir.path("t.tap"), dir.path("dangling")});
    EXPECT_EQ(r.err, "libspectrum error: couldn't open `" + dir.path("dangling") +
                         "': No such file or directory\ntape2cart: couldn't read `" +
                         dir.path("dangling") + "' (libspectrum error 3)\n");
    EXPECT_EQ(r.status, 1);
  }
  for (const Refusal& c : cases) {
    fixtures::TempDir dir;
    std::string what = c.what;
    std::string tape = dir.path(what == "sampled"        ? "t.csw"
                                : what == "guarded tape" ? "t.tzx"
                                                         : "t.tap");
    std::string cartridge = dir.path("c.mdr");
    fixtures::write_file(tape, c.tape);
    if (!c.cartridge.empty()) {
      fixtures::write_file(cartridge, c.cartridge);
    }
    std::vector<std::string> args;
    for (const std::string& a : c.args) {
      args.push_back(a == "T" ? tape : a == "C" ? cartridge : a);
    }
    fixtures::RunResult r = run(TAPE2CART, "tape2cart", args);
    EXPECT_EQ(r.status, c.status) << c.what;
    EXPECT_EQ(r.err, substituted(c.err, tape, cartridge)) << c.what;
    if (c.cartridge.empty()) {
      EXPECT_FALSE(std::filesystem::exists(cartridge)) << c.what;
    } else {
      EXPECT_EQ(read_bytes(cartridge), c.cartridge) << c.what;
    }
    EXPECT_EQ(read_bytes(tape), c.tape) << c.what;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.dir()),
                            std::filesystem::directory_iterator()),
              c.cartridge.empty() ? 1 : 2)
        << c.what << ": a file was left behind";
  }
}

}  // namespace

namespace {

// Blocks that are no file are named and left out; a wrong checksum, a name
// met twice, leave out a file and make the status 2; the rest is saved,
// up to the cartridge's last free sector.
TEST(Tape2cartCli, LeavesOutWhatIsNoSoundFile) {
  fixtures::TempDir dir;
  RomFile a{3, "a", 0, 32768, 503};
  RomFile b{3, "b", 0, 32768, 100};
  RomFile filler{3, "filler", 0, 32768, 8 * 512 - 9};
  Bytes tape;
  for (const Bytes& block :
       {fixtures::tap_block(0x00, a.header()), fixtures::tap_block(0xFF, a.data()),
        fixtures::tap_block(0x00, b.header(), true), fixtures::tap_block(0xFF, b.data()),
        fixtures::tap_block(0x00, b.header()), fixtures::tap_block(0xFF, b.data(), true),
        fixtures::tap_block(0x00, b.header()), fixtures::tap_block(0x00, a.header()),
        fixtures::tap_block(0xFF, Bytes(5, 1)), fixtures::tap_block(0x42, Bytes(3, 1)),
        fixtures::tap_block(0x00, filler.header()), fixtures::tap_block(0xFF, filler.data()),
        fixtures::tap_block(0x00, b.header()), fixtures::tap_block(0xFF, b.data()),
        fixtures::tap_block(0x00, b.header()), fixtures::tap_block(0xFF, b.data())}) {
    tape.insert(tape.end(), block.begin(), block.end());
  }
  std::string tape_path = dir.path("t.tap");
  fixtures::write_file(tape_path, tape);
  std::string cartridge = dir.path("c.mdr");
  fixtures::RunResult r =
      run(TAPE2CART, "tape2cart", {"-b", "10", "-n", "Exact", tape_path, cartridge});
  std::string t = "tape2cart: `" + tape_path + "' block ";
  EXPECT_EQ(
      r.err,
      t + "3: a header whose checksum is wrong; left out\n" + t +
          "4: data without a header (102 bytes); left out\n" + t +
          "6: the data of \"b\" (header in block 5), whose checksum is wrong; left out\n" + t +
          "7: the header of \"b\", without its data after it; left out\n" + t +
          "8: the header of \"a\", without its data after it; left out\n" + t +
          "9: data without a header (7 bytes); left out\n" + t +
          "10: a block of flag 0x42 (5 bytes); left out\n" + t +
          "15: a second file named \"b\" (the first in block 13); left out (-r saves the last)\n");
  EXPECT_EQ(r.status, 2);
  Bytes image = read_bytes(cartridge);
  EXPECT_TRUE(fixtures::microdrive_rule_breaches(image).empty());
  std::vector<fixtures::MdrFileSummary> files = fixtures::mdr_files(image);
  ASSERT_EQ(files.size(), 3u);  // a, filler and b fill all ten sectors
  EXPECT_EQ(files[2].contents, b.microdrive());
  EXPECT_EQ(files[2].blocks, (std::vector<size_t>{9}));
  EXPECT_EQ(image.size(), 10 * 543 + 1u);
  EXPECT_EQ(std::string(image.begin() + 4, image.begin() + 14), "Exact     ");

  // With -f, only what concerns the files asked for is said and counts.
  std::string only_a = dir.path("a.mdr");
  r = run(TAPE2CART, "tape2cart", {"-f", "a", tape_path, only_a});
  EXPECT_EQ(r.err, t + "8: the header of \"a\", without its data after it; left out\n");
  EXPECT_EQ(r.status, 0);
  r = run(TAPE2CART, "tape2cart", {"-f", "b", "-r", tape_path, only_a});
  EXPECT_EQ(r.err,
            t + "6: the data of \"b\" (header in block 5), whose checksum is wrong; left out\n" +
                t + "7: the header of \"b\", without its data after it; left out\n");
  EXPECT_EQ(r.status, 2);
}

}  // namespace

namespace {

// A cartridge whose files are all ROM files: through cart2tape and back
// onto a blank cartridge, every file has the same records, but for the
// start of a program or array (bytes 3 and 4), which LOAD ignores and no
// tape header carries. Returns
// false when the cartridge has other files, or damaged ones.
bool goes_round(const std::string& cartridge, const fixtures::TempDir& dir) {
  std::string tape = dir.path("round.tap");
  std::string copy = dir.path("copy.mdr");
  std::filesystem::remove(copy);
  std::vector<fixtures::MdrFileSummary> before = fixtures::mdr_files(read_bytes(cartridge));
  bool rom_files = std::all_of(before.begin(), before.end(), [](const auto& f) {
    return f.flags == 0x06 && f.contents.size() >= 9;
  });
  fixtures::RunResult r = run(CART2TAPE, "cart2tape", {cartridge, tape});
  if (!rom_files || r.status != 0 || !r.err.empty()) {
    return false;
  }
  for (auto& f : before) {
    if (f.contents[0] == 0) {
      f.contents[3] = 23813 & 0xFF;
      f.contents[4] = 23813 >> 8;
    } else if (f.contents[0] == 1 || f.contents[0] == 2) {
      f.contents[3] = f.contents[4] = 0;
    }
  }
  r = run(TAPE2CART, "tape2cart", {tape, copy});
  EXPECT_EQ(r.status, 0) << cartridge << ": " << r.err;
  expect_rules_kept(copy);
  std::vector<fixtures::MdrFileSummary> after = fixtures::mdr_files(read_bytes(copy));
  EXPECT_EQ(after.size(), before.size()) << cartridge;
  for (size_t i = 0; i < before.size() && i < after.size(); ++i) {
    EXPECT_EQ(after[i].name, before[i].name) << cartridge;
    EXPECT_EQ(after[i].flags, before[i].flags) << cartridge << " " << before[i].name;
    EXPECT_EQ(after[i].blocks.size(), before[i].blocks.size())
        << cartridge << " " << before[i].name;
    EXPECT_EQ(after[i].contents, before[i].contents) << cartridge << " " << before[i].name;
  }
  return true;
}

TEST(Tape2cartRoundTrip, CartridgeFilesGoRoundThroughATape) {
  fixtures::TempDir dir;
  fixtures::MdrBuilder cart("ROUND");
  cart.add_free_blocks(3);
  for (const RomFile& f : FILES) {
    cart.add_file(f.name, f.microdrive());
    cart.add_free_blocks(1);
  }
  cart.set_write_protect(0);
  std::string built = dir.path("built.mdr");
  cart.write(built);
  EXPECT_TRUE(goes_round(built, dir));

  const std::string corpus = CORPUS_DIR "/mdr";
  if (!std::filesystem::is_directory(corpus)) {
    GTEST_SKIP() << "no corpus at " << corpus;
  }
  size_t round = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    if (goes_round(entry.path().string(), dir)) {
      std::printf("%s went round\n", entry.path().filename().c_str());
      ++round;
    }
  }
  EXPECT_GT(round, 0u);
  std::printf("%zu corpus cartridges of ROM files only went round\n", round);
}

}  // namespace

namespace {

// Every block of bytes of a tape (flag to checksum), of whatever kind.
std::vector<Bytes> byte_blocks(const std::string& path) {
  std::string image = fixtures::read_file(path);
  libspectrum_tape* tape = libspectrum_tape_alloc();
  std::vector<Bytes> blocks;
  if (libspectrum_tape_read(tape, reinterpret_cast<const libspectrum_byte*>(image.data()),
                            image.size(), LIBSPECTRUM_ID_UNKNOWN, path.c_str()) == 0) {
    libspectrum_tape_iterator it = nullptr;
    for (auto* b = libspectrum_tape_iterator_init(&it, tape); b != nullptr;
         b = libspectrum_tape_iterator_next(&it)) {
      switch (libspectrum_tape_block_type(b)) {
        case LIBSPECTRUM_TAPE_BLOCK_ROM:
        case LIBSPECTRUM_TAPE_BLOCK_TURBO:
        case LIBSPECTRUM_TAPE_BLOCK_PURE_DATA:
        case LIBSPECTRUM_TAPE_BLOCK_DATA_BLOCK: {
          const libspectrum_byte* data = libspectrum_tape_block_data(b);
          blocks.emplace_back(data, data + libspectrum_tape_block_data_length(b));
          break;
        }
        default:
          break;
      }
    }
  }
  libspectrum_tape_free(tape);
  return blocks;
}

// Every corpus tape is saved or refused cleanly; what is saved keeps the
// cartridge rules, and cart2tape gives back each file's data block and its
// header's type, name, length and first parameter (of an array, the name
// byte only).
TEST(Tape2cartCorpus, EveryTapeIsSavedOrRefusedCleanly) {
  const std::string corpus = CORPUS_DIR "/tape";
  if (!std::filesystem::is_directory(corpus)) {
    GTEST_SKIP() << "no corpus at " << corpus;
  }
  fixtures::TempDir dir;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    std::string tape = entry.path().string();
    std::string cartridge = dir.path("c.mdr");
    std::string back = dir.path("back.tap");
    std::filesystem::remove(cartridge);
    fixtures::RunResult r = run(TAPE2CART, "tape2cart", {tape, cartridge});
    bool made = std::filesystem::exists(cartridge);
    EXPECT_TRUE(r.status == 0 || r.status == 2 ? made : r.status == 1 && !made)
        << tape << ": status " << r.status;
    std::printf("%s: status %d, %zu lines on standard error", entry.path().filename().c_str(),
                r.status, static_cast<size_t>(std::count(r.err.begin(), r.err.end(), '\n')));
    if (!made) {
      std::printf("\n");
      continue;
    }
    expect_rules_kept(cartridge);
    ASSERT_EQ(run(CART2TAPE, "cart2tape", {cartridge, back}).status, 0) << tape;
    std::vector<Bytes> original = byte_blocks(tape);
    std::vector<Bytes> saved = rom_blocks(back);
    std::printf(", %zu files saved\n", saved.size() / 2);
    for (size_t i = 0; i + 1 < saved.size(); i += 2) {
      const Bytes& header = saved[i];
      bool array = header[1] == 1 || header[1] == 2;
      auto same_header = [&](const Bytes& b) {
        return b.size() == header.size() &&
               std::equal(header.begin(), header.begin() + 14, b.begin()) &&
               (array || b[14] == header[14]) && b[15] == header[15];
      };
      EXPECT_TRUE(std::any_of(original.begin(), original.end(), same_header))
          << tape << " file " << i / 2;
      EXPECT_NE(std::find(original.begin(), original.end(), saved[i + 1]), original.end())
          << tape << " file " << i / 2;
    }
  }
}

}  // namespace

namespace {

// A blank cartridge: N sectors numbered N down to 1, the name in every
// header, every rule kept; written only as a new file.
TEST(BlankcartCli, MakesBlankCartridgesAsNewFilesOnly) {
  fixtures::TempDir dir;
  struct Made {
    std::vector<std::string> args;
    std::string file;
    std::string name;
    size_t sectors;
    bool write_protected;
  };
  for (const Made& m : std::vector<Made>{
           {{}, "c.mdr", "c         ", 254, false},
           {{"-n", "My Cart~", "-b", "10", "-w"}, "x.mdr", "My Cart~  ", 10, true},
           {{"--name=0123456789", "--blocks=254"}, "y.mdr", "0123456789", 254, false},
           {{}, "\xC3\x9C ber-long.name.mdr", "_ ber-long", 254, false},
           {{}, ".mdr", ".mdr      ", 254, false},
       }) {
    std::vector<std::string> args = m.args;
    args.push_back(dir.path(m.file));
    fixtures::RunResult r = run(BLANKCART, "blankcart", args);
    ASSERT_EQ(r.status, 0) << m.file << ": " << r.err;
    EXPECT_EQ(r.out + r.err, "");
    Bytes image = read_bytes(dir.path(m.file));
    ASSERT_EQ(image.size(), m.sectors * 543 + 1) << m.file;
    EXPECT_TRUE(fixtures::microdrive_rule_breaches(image).empty()) << m.file;
    EXPECT_EQ(fixtures::mdr_write_protected(image), m.write_protected) << m.file;
    for (size_t s = 0; s < m.sectors; ++s) {
      EXPECT_EQ(image[s * 543 + 1], m.sectors - s) << m.file;
      EXPECT_EQ(std::string(image.begin() + static_cast<std::ptrdiff_t>(s * 543 + 4),
                            image.begin() + static_cast<std::ptrdiff_t>(s * 543 + 14)),
                m.name)
          << m.file;
    }
  }

  // Refusals make nothing and change nothing.
  std::string kept = dir.path("c.mdr");
  Bytes before = read_bytes(kept);
  ASSERT_EQ(symlink(dir.path("nowhere.mdr").c_str(), dir.path("link.mdr").c_str()), 0);
  const std::string usage_hint = "Try `blankcart --help' for more information.\n";
  fixtures::expect_cli_cases(
      BLANKCART, "blankcart",
      {
          {{kept}, "", "blankcart: `" + kept + "' exists already; not overwritten\n", 1},
          {{dir.path("link.mdr")},
           "",
           "blankcart: `" + dir.path("link.mdr") + "' exists already; not overwritten\n",
           1},
          {{dir.path("no/such.mdr")},
           "",
           "blankcart: couldn't open `" + dir.path("no/such.mdr") +
               "': No such file or directory\n",
           1},
          {{"-n", "", dir.path("n.mdr")},
           "",
           "blankcart: `' is not a cartridge name: 1 to 10 printable ASCII characters\n" +
               usage_hint,
           1},
          {{"-n", "0123456789A", dir.path("n.mdr")},
           "",
           "blankcart: `0123456789A' is not a cartridge name: 1 to 10 printable ASCII "
           "characters\n" +
               usage_hint,
           1},
          {{"-n", "a\tb", dir.path("n.mdr")},
           "",
           "blankcart: `a?b' is not a cartridge name: 1 to 10 printable ASCII characters\n" +
               usage_hint,
           1},
          {{"-b", "9", dir.path("n.mdr")},
           "",
           "blankcart: `9' is not a number of sectors from 10 to 254\n" + usage_hint,
           1},
          {{"-b", "255", dir.path("n.mdr")},
           "",
           "blankcart: `255' is not a number of sectors from 10 to 254\n" + usage_hint,
           1},
          {{"-b", "0254x", dir.path("n.mdr")},
           "",
           "blankcart: `0254x' is not a number of sectors from 10 to 254\n" + usage_hint,
           1},
          {{"-b", "99999999999999999999", dir.path("n.mdr")},
           "",
           "blankcart: `99999999999999999999' is not a number of sectors from 10 to 254\n" +
               usage_hint,
           1},
          {{}, "", "blankcart: usage: blankcart [OPTION]... <microdrive file>\n" + usage_hint, 1},
          {{"-"},
           "",
           "blankcart: a cartridge is not written to standard output; name an MDR file\n",
           1},
      });
  EXPECT_EQ(read_bytes(kept), before);
  EXPECT_FALSE(std::filesystem::exists(dir.path("n.mdr")));
  EXPECT_FALSE(std::filesystem::exists(dir.path("nowhere.mdr")));
}

}  // namespace

namespace {

// Sectors that the Interface 1 would not take for a file's are never
// written, not even after -r frees a file.
TEST(Tape2cartCli, WritesOnlyWhereTheInterface1Would) {
  fixtures::TempDir dir;
  const std::string zeros(10, '\0');
  fixtures::MdrBuilder cart("ODD");
  fixtures::MdrBlock bad;  // a preset bad block, named as a formatter names them
  bad.record_flags = 0x02;
  bad.record_name = zeros;
  cart.add_block(bad);
  for (int number : {250, 250, 1, 255}) {  // a number twice, then 0 and 255
    fixtures::MdrBlock odd;
    odd.block_number = static_cast<uint8_t>(number);
    cart.add_block(odd);
  }
  cart.block(3).block_number = 0;
  cart.add_free_blocks(10);
  cart.set_write_protect(0);
  std::string cartridge = dir.path("c.mdr");
  cart.write(cartridge);
  Bytes before = read_bytes(cartridge);
  std::string tape = dir.path("t.tap");
  RomFile odd{3, "odd", 0, 32768, 100};
  fixtures::write_file(tape, tap_of({odd}));

  for (const std::vector<std::string>& args :
       {std::vector<std::string>{tape, cartridge}, {"-r", tape, cartridge}}) {
    fixtures::RunResult r = run(TAPE2CART, "tape2cart", args);
    EXPECT_EQ(r.status, 0) << r.err;
    Bytes after = read_bytes(cartridge);
    EXPECT_EQ(blocks_of(fixtures::mdr_files(after), "odd       "), (std::vector<size_t>{5}));
    expect_only_sectors_changed(before, after, {5});
  }
}

// `text` with every `path` in it written C.
std::string with_path_as_c(std::string text, const std::string& path) {
  for (size_t at; (at = text.find(path)) != std::string::npos;) {
    text.replace(at, path.size(), "C");
  }
  return text;
}

// The file `name` of the cartridge image at `path`, as the tools'
// catalogue reads it: its bytes, or "damaged: REASONS", or "missing".
std::string catalogued(const std::string& path, const std::string& name) {
  CartridgePtr cartridge(libspectrum_microdrive_alloc());
  Catalogue catalogue;
  if (read_cartridge_image(path.c_str(), cartridge.get()) != 0 ||
      catalogue.build(cartridge.get()) != 0) {
    return "unreadable";
  }
  for (uint64_t i = 0; i < catalogue.count(); ++i) {
    if (std::string(reinterpret_cast<const char*>(catalogue[i].name), 10) == name) {
      std::string damage = describe_damage(catalogue[i]);
      return damage.empty() ? std::string(reinterpret_cast<const char*>(catalogue[i].data),
                                          static_cast<size_t>(catalogue[i].data_size))
                            : "damaged: " + damage;
    }
  }
  return "missing";
}

// A block that bears a file's name but belongs to no file (an empty
// end-of-file record, a record longer than 512 bytes) would join a file
// saved under that name: the file is left out, or -r frees the block first,
// and what is saved comes back whole. A sector that FORMAT found bad is
// never freed, and a file of its name is left out.
TEST(Tape2cartCli, BlocksOfTheNameThatBelongToNoFile) {
  const std::string prog = "prog      ";
  const std::string zeros(10, '\0');
  fixtures::MdrBlock empty_end;
  empty_end.record_flags = 0x06;
  empty_end.record_name = prog;
  fixtures::MdrBlock too_long = empty_end;
  too_long.record_flags = 0x04;
  too_long.record_length = 600;
  fixtures::MdrBlock bad;
  bad.record_flags = 0x02;
  bad.record_name = zeros;
  const RomFile zero_named{3, zeros, 0, 32768, 100};
  const std::string stray =
      " has a block named \"prog\" that belongs to no file (#0); block 1 "
      "left out (-r frees them)\n";
  const std::string none_left = "tape2cart: no file left to save; `C' not written\n";
  struct Case {
    const char* what;
    std::vector<fixtures::MdrBlock> blocks;
    std::vector<RomFile> files;
    bool replace;
    int status;
    std::string err;  // `C' stands for the cartridge's path
  } cases[] = {
      {"an empty end", {empty_end}, {FILES[0]}, false, 1, "tape2cart: `C'" + stray + none_left},
      {"an empty end, -r", {empty_end}, {FILES[0]}, true, 0, ""},
      {"a long record", {too_long}, {FILES[0]}, false, 1, "tape2cart: `C'" + stray + none_left},
      {"a long record, -r", {too_long}, {FILES[0]}, true, 0, ""},
      {"two of them",
       {too_long, empty_end},
       {FILES[0], FILES[2]},
       false,
       2,
       "tape2cart: `C' has blocks named \"prog\" that belong to no file (#0, #1); block 1 left "
       "out (-r frees them)\n"},
      {"a bad sector",
       {bad},
       {zero_named},
       false,
       1,
       "tape2cart: `C' has a sector that FORMAT found bad named \"??????????\" (#0), which would "
       "join the file; block 1 left out\n" +
           none_left},
      {"a bad sector, -r",
       {bad},
       {zero_named},
       true,
       1,
       "tape2cart: `C' has a sector that FORMAT found bad named \"??????????\" (#0), which would "
       "join the file; block 1 left out\n" +
           none_left},
  };
  for (const Case& c : cases) {
    fixtures::TempDir dir;
    fixtures::MdrBuilder cart("C");
    for (const fixtures::MdrBlock& block : c.blocks) {
      cart.add_block(block);
    }
    cart.add_free_blocks(20);
    cart.set_write_protect(0);
    std::string cartridge = dir.path("C");
    cart.write(cartridge);
    Bytes before = read_bytes(cartridge);
    std::string tape = dir.path("t.tap");
    fixtures::write_file(tape, tap_of(c.files));
    std::vector<std::string> args = {tape, cartridge};
    if (c.replace) {
      args.insert(args.begin(), "-r");
    }
    fixtures::RunResult r = run(TAPE2CART, "tape2cart", args);
    std::string err = with_path_as_c(r.err, cartridge);
    EXPECT_EQ(r.status, c.status) << c.what;
    EXPECT_EQ(err, c.err) << c.what;
    if (c.status == 1) {
      EXPECT_EQ(read_bytes(cartridge), before) << c.what;
    }
    for (const RomFile& file : c.files) {
      Bytes expected = file.microdrive();
      std::string padded = file.name + std::string(10 - file.name.size(), ' ');
      bool saved = c.status == 0 || (c.status == 2 && file.name != "prog");
      EXPECT_EQ(catalogued(cartridge, padded),
                saved ? std::string(expected.begin(), expected.end()) : "missing")
          << c.what << ": " << file.name;
    }
  }
}

// The rights on the cartridge and its folder decide as they would for any
// writer: a cartridge that cannot be replaced whole (its folder takes no
// new file, or the user may not write it) is left as it was; a folder that
// may be written but not read takes a new cartridge, or a new image of one.
TEST(Tape2cartCli, TheRightsOnACartridgeAndItsFolderAreKept) {
  struct Case {
    const char* what;
    mode_t folder_mode;
    int file_mode;  // -1: no cartridge there yet
    int status;
  } cases[] = {
      {"a folder that takes no new file", 0555, 0644, 1},
      {"a cartridge that may not be written", 0777, 0444, 1},
      {"a folder that may not be read, a new cartridge", 0333, -1, 0},
      {"a folder that may not be read, a cartridge", 0333, 0644, 0},
  };
  for (const Case& c : cases) {
    fixtures::TempDir dir;
    std::string folder = dir.path("kept");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    std::string cartridge = folder + "/c.mdr";
    std::string tape = dir.path("t.tap");
    if (c.file_mode >= 0) {
      fixtures::write_file(cartridge, cartridge_with(10, 0));
    }
    fixtures::write_file(tape, tap_of({FILES[0]}));
    std::vector<std::string> command = {TAPE2CART, tape, cartridge};
    std::string program = TAPE2CART;
    if (geteuid() == 0) {
      // As root every file may be written: run as nobody, who owns the file.
      if (access("/usr/bin/setpriv", X_OK) != 0) {
        GTEST_SKIP() << "no setpriv to drop root's rights";
      }
      ASSERT_EQ(chown(folder.c_str(), 65534, 65534), 0);
      ASSERT_TRUE(c.file_mode < 0 || chown(cartridge.c_str(), 65534, 65534) == 0);
      ASSERT_EQ(chmod(dir.dir().c_str(), 0755), 0);
      ASSERT_EQ(chmod(tape.c_str(), 0644), 0);
      program = "/usr/bin/setpriv";
      command = {"--reuid=65534", "--regid=65534", "--clear-groups", TAPE2CART, tape, cartridge};
      // nobody must reach the tool, and the sanitizers' files, where the tree lies.
      if (run(program, "setpriv", {command[0], command[1], command[2], TAPE2CART, "--version"})
              .status != 0) {
        GTEST_SKIP() << "nobody cannot run " << TAPE2CART << " from here";
      }
    } else {
      command.erase(command.begin());
    }
    ASSERT_TRUE(c.file_mode < 0 || chmod(cartridge.c_str(), static_cast<mode_t>(c.file_mode)) == 0);
    ASSERT_EQ(chmod(folder.c_str(), c.folder_mode), 0);
    fixtures::RunResult r = run(program, "tape2cart", command);
    (void)chmod(folder.c_str(), 0755);
    EXPECT_EQ(r.status, c.status) << c.what << ": " << r.err;
    if (c.status == 1) {
      EXPECT_NE(r.err.find(": couldn't replace `" + cartridge +
                           "' whole: Permission denied; it is left as it was\n"),
                std::string::npos)
          << c.what << ": " << r.err;
      EXPECT_EQ(read_bytes(cartridge), cartridge_with(10, 0)) << c.what;
    } else {
      EXPECT_EQ(fixtures::mdr_files(read_bytes(cartridge)).size(), 1u) << c.what;
    }
  }
}

// A failure to lock the cartridge ends the run with nothing written, but
// where the file system has no locks at all: then the run goes on.
TEST(Tape2cartCli, AFailureToLockIsOneOfTheRun) {
  struct Case {
    int error;
    int status;
    std::string err;  // after "test: "; `C' stands for the cartridge's path
  } cases[] = {
      {ENOLCK, 1, "couldn't lock `C': No locks available; nothing written\n"},
      {EINTR, 1, "couldn't lock `C': Interrupted system call; nothing written\n"},
      {EACCES, 1, "couldn't lock `C': Permission denied; nothing written\n"},
      {EOPNOTSUPP, 0, ""},
      {ENOSYS, 0, ""},
  };
  static int failure = 0;
  for (const Case& c : cases) {
    fixtures::TempDir dir;
    std::string cartridge = dir.path("c.mdr");
    fixtures::write_file(cartridge, cartridge_with(20, 0));
    std::string tape = dir.path("t.tap");
    fixtures::write_file(tape, tap_of({FILES[0]}));
    failure = c.error;
    testing_seams::set_lock_call([](int, int) {
      errno = failure;
      return -1;
    });
    int status = -1;
    std::string err = fixtures::capture_stderr(
        [&] { status = save_tape_files(tape.c_str(), cartridge.c_str(), {}); });
    testing_seams::set_lock_call(nullptr);
    err = with_path_as_c(err, cartridge);
    EXPECT_EQ(status, c.status) << c.error;
    EXPECT_EQ(err, c.err.empty() ? "" : "test: " + c.err) << c.error;
    EXPECT_EQ(read_bytes(cartridge) == cartridge_with(20, 0), c.status == 1) << c.error;
  }
}

// A cartridge that another program (one that takes no lock) replaces while
// the run writes is not written over: the run fails, and the other's file
// stays.
TEST(Tape2cartCli, ACartridgeReplacedMeanwhileIsLeftAlone) {
  fixtures::TempDir dir;
  static std::string cartridge;
  static std::string other;
  cartridge = dir.path("c.mdr");
  other = dir.path("other.mdr");
  fixtures::write_file(cartridge, cartridge_with(20, 0));
  fixtures::write_file(other, cartridge_with(20, 2));
  std::string tape = dir.path("t.tap");
  fixtures::write_file(tape, tap_of({FILES[0]}));
  testing_seams::set_output_calls(
      [](int fd, const void* bytes, size_t count) -> ssize_t {
        (void)rename(other.c_str(), cartridge.c_str());
        return ::write(fd, bytes, count);
      },
      nullptr, nullptr);
  int status = -1;
  std::string err = fixtures::capture_stderr(
      [&] { status = save_tape_files(tape.c_str(), cartridge.c_str(), {}); });
  testing_seams::set_output_calls(nullptr, nullptr, nullptr);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(err, "test: `" + cartridge + "' was replaced while this ran; it is left as it was\n");
  EXPECT_EQ(read_bytes(cartridge), cartridge_with(20, 2));
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(dir.dir())) {
    left.push_back(entry.path().filename().string());
  }
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"c.mdr", "t.tap"}));  // no new file left behind
}

// A file handed fewer sectors than it needs, or sectors the cartridge does
// not have, is not written at all, rather than cut short.
TEST(CartridgeWriter, RefusesAFileThatDoesNotFit) {
  CartridgePtr cartridge(libspectrum_microdrive_alloc());
  const unsigned char name[10] = {'c', 'u', 't', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  format_cartridge(cartridge.get(), name, 20, false);
  std::vector<unsigned char> bytes(1100, 0x5A);  // three records
  libspectrum_byte* blank = nullptr;
  size_t blank_length = 0;
  libspectrum_microdrive_mdr_write(cartridge.get(), &blank, &blank_length);
  for (const std::vector<size_t>& sectors :
       {std::vector<size_t>{}, {0}, {0, 1}, {0, 1, 20}, {0, 20, 1}}) {
    EXPECT_EQ(write_cartridge_file(cartridge.get(), name, bytes.data(), bytes.size(), sectors), 1)
        << sectors.size();
  }
  EXPECT_EQ(write_cartridge_file(cartridge.get(), name, bytes.data(), 0, {0}), 1);
  libspectrum_byte* after = nullptr;
  size_t after_length = 0;
  libspectrum_microdrive_mdr_write(cartridge.get(), &after, &after_length);
  EXPECT_EQ(Bytes(after, after + after_length), Bytes(blank, blank + blank_length));
  libspectrum_free(after);
  libspectrum_free(blank);
  EXPECT_EQ(write_cartridge_file(cartridge.get(), name, bytes.data(), bytes.size(), {3, 2, 1}), 0);
}

// True once the process `pid` waits for a lock on the file of inode `inode`.
bool waits_for_lock(pid_t pid, ino_t inode) {
  std::string locks = fixtures::read_file("/proc/locks");
  std::string pid_text = " " + std::to_string(pid) + " ";
  std::string inode_text = ":" + std::to_string(inode) + " ";
  for (size_t start = 0, end; start < locks.size(); start = end + 1) {
    end = locks.find('\n', start);
    end = end == std::string::npos ? locks.size() : end;
    std::string line = locks.substr(start, end - start);
    if (line.find("-> FLOCK") != std::string::npos && line.find(pid_text) != std::string::npos &&
        line.find(inode_text) != std::string::npos) {
      return true;
    }
  }
  return false;
}

// Two runs on one cartridge take turns: a run that waited for its turn
// while the other replaced the cartridge reads what the other wrote, and
// neither's files are lost.
TEST(Tape2cartCli, RunsOnOneCartridgeTakeTurns) {
  fixtures::TempDir dir;
  std::string cartridge = dir.path("c.mdr");
  fixtures::write_file(cartridge, cartridge_with(20, 0));
  std::string tape = dir.path("t.tap");
  fixtures::write_file(tape, tap_of({FILES[0]}));
  int held = open(cartridge.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  struct stat locked {};
  ASSERT_EQ(fstat(held, &locked), 0);
  pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    int null = open("/dev/null", O_WRONLY);
    dup2(null, STDERR_FILENO);
    execl(TAPE2CART.c_str(), "tape2cart", tape.c_str(), cartridge.c_str(), nullptr);
    _exit(127);
  }
  // The run has opened the cartridge and waits for its turn (the kernel's
  // table of locks says so); the test gives up after a minute.
  bool waiting = false;
  for (int tries = 0; tries < 60000 && !waiting; ++tries) {
    waiting = waits_for_lock(child, locked.st_ino);
    if (!waiting) {
      usleep(1000);
    }
  }
  EXPECT_TRUE(waiting) << "tape2cart never waited for the lock";
  // Meanwhile another run replaces the cartridge with one holding a file.
  std::string other = dir.path("other.mdr");
  fixtures::write_file(other, cartridge_with(20, 2));
  ASSERT_EQ(rename(other.c_str(), cartridge.c_str()), 0);
  close(held);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  std::vector<fixtures::MdrFileSummary> files = fixtures::mdr_files(read_bytes(cartridge));
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0].name, "there     ");
  EXPECT_EQ(files[1].name, "prog      ");
}

}  // namespace

namespace {

// A path or a name from the command line reaches the terminal with its
// control bytes shown as '?', in the lines of every tool.
TEST(Tape2cartCli, ControlBytesOfPathsAndNamesShowAsQuestionMarks) {
  fixtures::TempDir dir;
  std::string raw = dir.path("e\x1b[7m");
  std::string shown = dir.path("e?[7m");
  ASSERT_EQ(mkdir(raw.c_str(), 0755), 0);
  fixtures::write_file(raw + "/t.tap", tap_of({FILES[2]}));
  fixtures::RunResult r = run(TAPE2CART, "tape2cart", {raw + "/t.tap", raw + "/c.mdr"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = run(CARTINFO, "cartinfo", {raw + "/c.mdr"});
  EXPECT_EQ(r.out.substr(0, r.out.find('\n', 2) + 1), "\n\nListing of `" + shown + "/c.mdr':\n");
  fixtures::expect_cli_cases(
      CARTINFO, "cartinfo",
      {{{raw + "/none.mdr"},
        "",
        "libspectrum error: couldn't open `" + shown +
            "/none.mdr': No such file or directory\ncartinfo: couldn't read `" + shown +
            "/none.mdr' (libspectrum error 3)\n",
        1},
       {{"-x", raw + "/none", raw + "/c.mdr"},
        "",
        "cartinfo: `" + shown +
            "/none' is not a folder to extract into: No such file or directory\n",
        1}});
  fixtures::expect_cli_cases(
      TAPE2CART, "tape2cart",
      {{{raw + "/t.tap", raw + "/c.mdr"},
        "",
        "tape2cart: `" + shown +
            "/c.mdr' holds a file \"code\" already; block 1 left out (-r replaces it)\n"
            "tape2cart: no file left to save; `" +
            shown + "/c.mdr' not written\n",
        1}});
  fixtures::expect_cli_cases(CART2TAPE, "cart2tape",
                             {{{"-f", "x\x1b", raw + "/c.mdr", raw + "/o.tap"},
                               "",
                               "cart2tape: `" + shown + "/c.mdr' holds no file named \"x?\"\n",
                               1}});
  fixtures::expect_cli_cases(BLANKCART, "blankcart",
                             {{{raw + "/c.mdr"},
                               "",
                               "blankcart: `" + shown + "/c.mdr' exists already; not overwritten\n",
                               1}});
}

}  // namespace
