// cart2tape: the ROM headers it makes, the tapes it writes, its refusals.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "cart2tape.h"
#include "cart2tape_model.h"
#include "fixtures/cartridge.h"
#include "fixtures/cli_cases.h"
#include "fixtures/mdr_builder.h"
#include "fixtures/test_util.h"

using fixtures::Bytes;
using fixtures::run;

namespace {

const std::string CART2TAPE = CART2TAPE_PATH;
const std::string EDGEDUMP = EDGEDUMP_PATH;

// The first file of a cartridge holding only `contents` as "f".
struct OneFile {
  explicit OneFile(const Bytes& contents, bool non_print = true) {
    fixtures::MdrBuilder builder("C");
    builder.add_file("f", contents, non_print);
    cartridge = fixtures::make_cartridge(builder);
    EXPECT_EQ(catalogue_cartridge_files(cartridge.get(), &entries, &count), 0);
  }
  ~OneFile() { release_catalogue(entries, count); }
  fixtures::CartridgePtr cartridge;
  CatalogueEntry* entries = nullptr;
  uint64_t count = 0;
};

Bytes with_body(Bytes header, size_t body) {
  header.resize(header.size() + body, 0x5A);
  return header;
}

// The ROM blocks (flag byte to checksum) of the tape image at `path`.
std::vector<Bytes> rom_blocks(const std::string& path) {
  std::string image = fixtures::read_file(path);
  TapePtr tape(libspectrum_tape_alloc());
  EXPECT_EQ(
      libspectrum_tape_read(tape.get(), reinterpret_cast<const libspectrum_byte*>(image.data()),
                            image.size(), LIBSPECTRUM_ID_UNKNOWN, path.c_str()),
      0)
      << path;
  std::vector<Bytes> blocks;
  libspectrum_tape_iterator it = nullptr;
  for (auto* b = libspectrum_tape_iterator_init(&it, tape.get()); b != nullptr;
       b = libspectrum_tape_iterator_next(&it)) {
    if (libspectrum_tape_block_type(b) == LIBSPECTRUM_TAPE_BLOCK_ROM) {
      const libspectrum_byte* data = libspectrum_tape_block_data(b);
      blocks.emplace_back(data, data + libspectrum_tape_block_data_length(b));
    }
  }
  return blocks;
}

}  // namespace

TEST(TapeHeader, EachFileTypeAsTheRomSavesIt) {
  struct Case {
    const char* what;
    Bytes file;
    Bytes header;  // the 17 bytes after the flag
  } cases[] = {
      {"program with autostart",
       with_body(fixtures::file_header(0, 300, 23813, 260, 10), 300),
       {0, 'f', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', 44, 1, 10, 0, 4, 1}},
      {"program without",
       with_body(fixtures::file_header(0, 5, 23813, 5, 0xFFFF), 5),
       {0, 'f', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', 5, 0, 0xFF, 0xFF, 5, 0}},
      {"code",
       with_body(fixtures::file_header(3, 6912, 16384, 0x1234, 0xFFFF), 6912),
       {3, 'f', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', 0x00, 0x1B, 0x00, 0x40, 0x00, 0x80}},
      {"character array",
       with_body(fixtures::file_header(2, 53, 23900, 0xFFC1, 0xFFFF), 53),
       {2, 'f', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', 53, 0, 0x00, 0xC1, 0x00, 0x80}},
      {"number array",
       with_body(fixtures::file_header(1, 26, 23950, 0x93, 0), 26),
       {1, 'f', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', 26, 0, 0x00, 0x93, 0x00, 0x80}},
      {"another type",
       with_body(fixtures::file_header(7, 1, 0x0102, 0x0304, 0x0506), 1),
       {7, 'f', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', 1, 0, 0x02, 0x01, 0x04, 0x03}},
      {"a header cut short",
       {3, 10, 0, 0, 0x80},
       {3, 'f', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', 10, 0, 0x00, 0x80, 0x00, 0x80}},
  };
  for (const Case& c : cases) {
    OneFile one(c.file);
    ASSERT_EQ(one.count, 1u) << c.what;
    unsigned char header[TAPE_HEADER_SIZE];
    make_tape_header(one.entries[0], header);
    EXPECT_EQ(Bytes(header, header + TAPE_HEADER_SIZE), c.header) << c.what;
  }
}

TEST(TapeHeader, DamageIsNamed) {
  EXPECT_EQ(describe_damage(OneFile(with_body(fixtures::file_header(3, 4, 0, 0, 0), 4)).entries[0]),
            "");
  EXPECT_EQ(describe_damage(OneFile(with_body(fixtures::file_header(3, 9, 0, 0, 0), 4)).entries[0]),
            "4 bytes of data where its header says 9");
  EXPECT_EQ(describe_damage(OneFile({3, 1, 0}).entries[0]), "a header of 3 bytes");
  EXPECT_EQ(tape_type_for("a/b.TZX"), LIBSPECTRUM_ID_TAPE_TZX);
  EXPECT_EQ(tape_type_for("x.tap.gz"), LIBSPECTRUM_ID_UNKNOWN);
  EXPECT_EQ(tape_type_for("dir.tap/x"), LIBSPECTRUM_ID_UNKNOWN);
}

// Cartridge to tape and back: every file's two blocks hold its header and
// data as the image's blocks give them, in order of their first block, in
// every format; and edgedump plays every tape written.
void expect_round_trip(const std::string& mdr, const std::string& dir) {
  CartridgePtr cartridge(libspectrum_microdrive_alloc());
  ASSERT_EQ(read_cartridge_image(mdr.c_str(), cartridge.get()), 0) << mdr;
  std::string image = fixtures::read_file(mdr);
  model::Expected model = model::expected_tape(Bytes(image.begin(), image.end()));
  const std::vector<Bytes>& expected = model.blocks;
  bool damaged = model.damaged;
  for (const char* extension : {".tap", ".tzx", ".spc", ".sta", ".ltp"}) {
    std::string tape = dir + "/out" + extension;
    auto r = run(CART2TAPE, "cart2tape", {mdr, tape});
    if (expected.empty()) {
      EXPECT_EQ(r.status, 1) << mdr;
      continue;
    }
    EXPECT_EQ(r.status, damaged ? 2 : 0) << mdr << extension << r.err;
    EXPECT_EQ(rom_blocks(tape), expected) << mdr << extension;
    auto played = run(EDGEDUMP, "edgedump", {tape, dir + "/pulses"});
    EXPECT_EQ(played.status, 0) << mdr << extension << played.err;
  }
}

TEST(Cart2tapeRoundTrip, GeneratedCartridges) {
  fixtures::TempDir dir;
  fixtures::MdrBuilder damaged("D");
  damaged.add_file("cut", with_body(fixtures::file_header(3, 900, 0, 0, 0), 400));
  damaged.add_file("short", {3, 1});
  damaged.add_free_blocks(10);
  for (const fixtures::MdrBuilder& builder : {fixtures::sample_cartridge(), damaged}) {
    std::string mdr = dir.path("c.mdr");
    builder.write(mdr);
    expect_round_trip(mdr, dir.dir());
  }
}

TEST(Cart2tapeRoundTrip, CorpusCartridges) {
  const std::string corpus = CORPUS_DIR "/mdr";
  if (!std::filesystem::is_directory(corpus)) {
    GTEST_SKIP() << "no corpus at " << corpus;
  }
  fixtures::TempDir dir;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    expect_round_trip(entry.path().string(), dir.dir());
  }
}

TEST(Cart2tapeCli, MessagesStatusesAndUntouchedOutputs) {
  fixtures::TempDir dir;
  std::string mdr = dir.path("s.mdr");
  fixtures::sample_cartridge().write(mdr);
  std::string keep = dir.path("keep.tap");
  fixtures::write_file(keep, {'k'});
  const std::string TRY = "Try `cart2tape --help' for more information.\n";
  const std::string USAGE =
      "cart2tape: usage: cart2tape [OPTION]... <microdrive file> <tape file>\n";
  struct Case {
    std::vector<std::string> args;
    std::string err;
    int status;
  } cases[] = {
      {{mdr}, USAGE + TRY, 1},
      {{"-q", mdr, keep}, "cart2tape: invalid option -- 'q'\n" + TRY, 1},
      {{mdr, dir.path("x.wav")},
       "cart2tape: `" + dir.path("x.wav") +
           "': unknown tape format; name it .tap, .tzx, .spc, .sta or .ltp\n",
       1},
      {{dir.path("none.mdr"), keep},
       "libspectrum error: couldn't open `" + dir.path("none.mdr") +
           "': No such file or directory\ncart2tape: couldn't read `" + dir.path("none.mdr") +
           "' (libspectrum error 3)\n",
       1},
      {{"-f", "nothing", mdr, keep},
       "cart2tape: `" + mdr + "' holds no file named \"nothing\"\n",
       1},
      {{"-f", "notes", mdr, keep},
       "cart2tape: \"notes\" is a PRINT file, which no tape header describes; left out (cartinfo "
       "-x copies it)\ncart2tape: `" +
           mdr + "' has no file for a tape; nothing written\n",
       1},
      {{mdr, dir.path("no/such/dir.tap")},
       "cart2tape: \"notes\" is a PRINT file, which no tape header describes; left out (cartinfo "
       "-x copies it)\ncart2tape: couldn't open `" +
           dir.path("no/such/dir.tap") + "': No such file or directory\n",
       1},
  };
  for (const Case& c : cases) {
    auto r = run(CART2TAPE, "cart2tape", c.args);
    EXPECT_EQ(r.err, c.err) << fixtures::joined(c.args);
    EXPECT_EQ(r.status, c.status) << fixtures::joined(c.args);
    EXPECT_EQ(fixtures::read_file(keep), "k") << fixtures::joined(c.args);
  }
  // A bad cartridge leaves the output as it was too.
  std::string bad = dir.path("bad.mdr");
  fixtures::write_file(bad, Bytes(100, 0));
  auto r = run(CART2TAPE, "cart2tape", {bad, keep});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(fixtures::read_file(keep), "k");

  // Only the named files, as cartinfo names them; '-' is a TAP on standard output.
  // Blanks at the end of a name are the padding of every ZX name.
  r = run(CART2TAPE, "cart2tape", {"--file=title", "-f", "loader  ", mdr, "-"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  ASSERT_EQ(r.out.size(), 2 * (2 + 19) + (2 + 302) + (2 + 6914));
  EXPECT_EQ(r.out.substr(4, 6), "loader");
  r = run(CART2TAPE, "cart2tape", {"-h"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Usage: cart2tape [OPTION]..."), std::string::npos);
}

TEST(Cart2tapeCli, TzxOpensWithArchiveInfo) {
  fixtures::TempDir dir;
  std::string mdr = dir.path("sample.mdr");
  fixtures::sample_cartridge().write(mdr);
  std::string tzx = dir.path("s.tzx");
  ASSERT_EQ(run(CART2TAPE, "cart2tape", {mdr, tzx}).status, 0);
  std::string image = fixtures::read_file(tzx);
  TapePtr tape(libspectrum_tape_alloc());
  ASSERT_EQ(
      libspectrum_tape_read(tape.get(), reinterpret_cast<const libspectrum_byte*>(image.data()),
                            image.size(), LIBSPECTRUM_ID_TAPE_TZX, tzx.c_str()),
      0);
  libspectrum_tape_iterator it = nullptr;
  libspectrum_tape_block* first = libspectrum_tape_iterator_init(&it, tape.get());
  ASSERT_EQ(libspectrum_tape_block_type(first), LIBSPECTRUM_TAPE_BLOCK_ARCHIVE_INFO);
  ASSERT_EQ(libspectrum_tape_block_count(first), 2u);
  EXPECT_EQ(libspectrum_tape_block_ids(first, 0), 0x00);
  EXPECT_STREQ(libspectrum_tape_block_texts(first, 0), "SAMPLES");
  EXPECT_EQ(libspectrum_tape_block_ids(first, 1), 0xFF);
  EXPECT_STREQ(libspectrum_tape_block_texts(first, 1), "Made by cart2tape from sample.mdr");
}
