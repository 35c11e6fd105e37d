// The lister's summary, block listing and file listing, in process.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "cartinfo.h"
#include "cartinfo_testing_seams.h"
#include "catalogue_seam.h"
#include "fixtures/cartridge.h"
#include "fixtures/test_util.h"
#include "output_file_seam.h"

using fixtures::Bytes;
using fixtures::MdrBlock;

namespace {

std::string summary(const fixtures::MdrBuilder& builder, int write_protect = 0) {
  auto cart = fixtures::make_cartridge(builder, write_protect);
  return fixtures::capture(
      [&](std::FILE* out) { print_cartridge_summary(out, cart.get(), "c.mdr", builder.size()); });
}

std::string summary_tail(const char* name, unsigned blocks, const char* free_line,
                         const char* wp = "no") {
  return std::string("\n\nListing of `c.mdr':\n\nCartridge name: \"") + name +
         "\"\nCartridge blocks: " + std::to_string(blocks) + "\n" + free_line +
         "\nWrite protected: " + wp + "\n";
}

std::string blocks(const fixtures::MdrBuilder& builder) {
  auto cart = fixtures::make_cartridge(builder);
  return fixtures::capture(
      [&](std::FILE* out) { print_block_listing(out, cart.get(), builder.size()); });
}

std::string files(const fixtures::MdrBuilder& builder) {
  auto cart = fixtures::make_cartridge(builder);
  return fixtures::capture([&](std::FILE* out) { (void)print_file_listing(out, cart.get()); });
}

}  // namespace

TEST(Summary, NoBlocks) {
  fixtures::MdrBuilder builder("X");
  EXPECT_EQ(summary(builder), summary_tail("", 0, "Free space: 0 bytes in 0 blocks"));
}

TEST(Summary, FreeCountAndWriteProtection) {
  fixtures::MdrBuilder builder("CART");
  builder.add_free_blocks(1);
  MdrBlock eof_empty;
  eof_empty.record_flags = 0x02;  // ends a file: never free
  builder.add_block(eof_empty);
  MdrBlock not_header;
  not_header.header_flag = 0x00;  // the header flag plays no part
  builder.add_block(not_header);
  EXPECT_EQ(summary(builder, 1),
            summary_tail("CART", 3, "Free space: 1024 bytes in 2 blocks", "yes"));
  fixtures::MdrBuilder one("ONE");
  one.add_free_blocks(1);
  one.add_file("f", Bytes(20, 0));
  EXPECT_EQ(summary(one), summary_tail("ONE", 2, "Free space: 512 bytes in 1 block"));
}

TEST(Summary, NameComesFromFirstUsableHeaderBlock) {
  struct Case {
    const char* what;
    std::vector<MdrBlock> blocks;
    const char* name;
  };
  MdrBlock plain;
  MdrBlock no_header;
  no_header.header_flag = 0x00;
  no_header.cartridge_name = "NOHEADER";
  MdrBlock bad_header;
  bad_header.cartridge_name = "BADHEAD";
  bad_header.spoil_header_checksum = true;
  MdrBlock preset;
  preset.cartridge_name = "PRESET";
  preset.record_flags = 0x02;
  MdrBlock bad_data;
  bad_data.cartridge_name = "BADDATA";
  bad_data.record_length = 5;
  bad_data.record_name = "f";
  bad_data.spoil_data_checksum = true;
  MdrBlock bad_record;
  bad_record.cartridge_name = "BADREC";
  bad_record.spoil_record_checksum = true;
  MdrBlock unconvertible;
  unconvertible.cartridge_name = "\xF9\xF9\xF9\xF9\xF9\xF9\xF9\xF9\xF9\xF9";
  const Case cases[] = {
      {"skips non-header, bad header and preset", {no_header, bad_header, preset, plain}, "SECOND"},
      {"a bad data checksum still names", {bad_data, plain}, "BADDATA"},
      {"a bad record checksum still names", {bad_record, plain}, "BADREC"},
      {"no usable block", {no_header, bad_header}, ""},
  };
  for (const Case& c : cases) {
    fixtures::MdrBuilder builder("SECOND");
    for (const MdrBlock& b : c.blocks) {
      builder.add_block(b);
    }
    std::string text = summary(builder);
    EXPECT_NE(text.find(std::string("Cartridge name: \"") + c.name + "\"\n"), std::string::npos)
        << c.what << "\n"
        << text;
  }
  // The search stops at the first usable block even if its name is useless.
  fixtures::MdrBuilder builder("SECOND");
  builder.add_block(unconvertible);
  builder.add_block(plain);
  std::string text = summary(builder);
  EXPECT_NE(text.find("Cartridge name: \"RANDOMIZERANDOMIZE"), std::string::npos);
}

TEST(BlockListing, RecordStates) {
  fixtures::MdrBuilder builder("CART");
  MdrBlock eof_empty;  // EOF with length 0: record lines, not "empty"
  eof_empty.record_flags = 0x02;
  eof_empty.block_number = 7;
  MdrBlock empty_non_print;  // bit 2 without bit 1 and no data: empty
  empty_non_print.header_flag = 0x00;
  empty_non_print.record_flags = 0x04;
  empty_non_print.block_number = 9;
  empty_non_print.header_unused = 0xBEEF;
  MdrBlock full;
  full.record_flags = 0x06;
  full.record_length = 512;
  full.record_number = 3;
  full.record_name = "full";
  full.block_number = 1;
  MdrBlock invalid = full;
  invalid.record_length = 513;
  invalid.block_number = 2;
  for (const MdrBlock& b : {eof_empty, empty_non_print, full, invalid}) {
    builder.add_block(b);
  }
  Bytes raw0 = fixtures::encode_block(builder.block(0));
  Bytes raw1 = fixtures::encode_block(builder.block(1));
  Bytes raw2 = fixtures::encode_block(builder.block(2));
  Bytes raw3 = fixtures::encode_block(builder.block(3));
  char expected[2048];
  std::snprintf(expected, sizeof expected,
                "--= Block #0 =--\n"
                "  Header flag: 0x01 (header block)\n"
                "  Block number: 7\n"
                "  Header unused: 0x0000\n"
                "  Header checksum: 0x%02x\n"
                "  Record flags: 0x02 (EOF, PRINT)\n"
                "  Record number: 0\n"
                "  Record length: 0 bytes\n"
                "  Record name: \"\"\n"
                "  Record checksum: 0x%02x\n"
                "  Data checksum: 0x%02x\n"
                "  Checksums: preset bad block\n\n"
                "--= Block #1 =--\n"
                "  Header flag: 0x00 (not a header block)\n"
                "  Block number: 9\n"
                "  Header unused: 0xbeef\n"
                "  Header checksum: 0x%02x\n"
                "  Record: empty\n"
                "  Checksums: PASS\n\n"
                "--= Block #2 =--\n"
                "  Header flag: 0x01 (header block)\n"
                "  Block number: 1\n"
                "  Header unused: 0x0000\n"
                "  Header checksum: 0x%02x\n"
                "  Record flags: 0x06 (EOF, non-PRINT)\n"
                "  Record number: 3\n"
                "  Record length: 512 bytes\n"
                "  Record name: \"full\"\n"
                "  Record checksum: 0x%02x\n"
                "  Data checksum: 0x%02x\n"
                "  Checksums: PASS\n\n"
                "--= Block #3 =--\n"
                "  Header flag: 0x01 (header block)\n"
                "  Block number: 2\n"
                "  Header unused: 0x0000\n"
                "  Header checksum: 0x%02x\n"
                "  Record: invalid (flags 0x06, number 3, length 513)\n"
                "  Checksums: PASS\n\n",
                raw0[14], raw0[29], raw0[542], raw1[14], raw2[14], raw2[29], raw2[542], raw3[14]);
  EXPECT_EQ(blocks(builder), expected);
}

TEST(BlockListing, VerdictTexts) {
  fixtures::MdrBuilder builder("CART");
  MdrBlock good;
  good.record_length = 4;
  good.record_name = "v";
  MdrBlock h = good, r = good, d = good;
  h.spoil_header_checksum = true;
  r.spoil_record_checksum = true;
  d.spoil_data_checksum = true;
  for (const MdrBlock& b : {h, r, d}) {
    builder.add_block(b);
  }
  std::string text = blocks(builder);
  for (const char* verdict :
       {"header checksum failed", "record descriptor checksum failed", "data checksum failed"}) {
    EXPECT_NE(text.find(std::string("  Checksums: ") + verdict + "\n\n"), std::string::npos)
        << verdict;
  }
  fixtures::MdrBuilder none("CART");
  EXPECT_EQ(blocks(none), "");
}

TEST(FileListing, EveryKindOfParagraph) {
  fixtures::MdrBuilder builder("CART");
  auto file = [](Bytes header, size_t body) {
    header.resize(header.size() + body, 0x55);
    return header;
  };
  builder.add_file("prog9999", file(fixtures::file_header(0, 500, 23813, 400, 9999), 500));
  builder.add_file("prog10000", file(fixtures::file_header(0, 500, 9999, 400, 10000), 500));
  builder.add_file("wrapvars", file(fixtures::file_header(0, 0, 23813, 1, 0x8000), 0));
  builder.add_file("numbers", file(fixtures::file_header(1, 26, 0x01C1, 0x81, 0), 26));
  builder.add_file("chars", file(fixtures::file_header(2, 53, 0x0081, 0xC1, 0), 53));
  builder.add_file("at", file(fixtures::file_header(2, 5, 0, 0x00, 0), 5));
  builder.add_file("screen", file(fixtures::file_header(3, 6912, 16384, 0, 0), 6912));
  builder.add_file("notscreen", file(fixtures::file_header(3, 6912, 16385, 0, 0), 10));
  builder.add_file("seven", file(fixtures::file_header(7, 1234, 0, 0, 0), 0));
  builder.add_file("eightbyte", Bytes(8, 3));
  builder.add_file("text", Bytes(700, 'x'), false);
  EXPECT_EQ(files(builder),
            "Files: 11\n\n"
            "  Program: \"prog9999\" LINE 9999\n  Length: 500, includes variable length: 100"
            " in 1 block\n  Status: complete\n\n"
            "  Program: \"prog10000\"\n  Length: 500, includes variable length: 100"
            " in 1 block\n  Status: complete\n\n"
            "  Program: \"wrapvars\"\n  Length: 0, includes variable length: 4294967295"
            " in 1 block\n  Status: complete\n\n"
            "  Number Array: \"numbers\" DATA A()\n  Length: 26 in 1 block\n  Status: complete\n\n"
            "  Character Array: \"chars\" DATA A$()\n  Length: 53 in 1 block\n"
            "  Status: complete\n\n"
            "  Character Array: \"at\" DATA @$()\n  Length: 5 in 1 block\n  Status: complete\n\n"
            "  Bytes: \"screen\" SCREEN$ 16384, 6912 in 14 blocks\n  Status: complete\n\n"
            "  Bytes: \"notscreen\" CODE 16385, 6912 in 1 block\n  Status: complete\n\n"
            "  Unknown type 7: \"seven\"\n  Length: 1234 in 1 block\n  Status: complete\n\n"
            "  Non-PRINT file: \"eightbyte\"\n  Length: 8 bytes in 1 block\n"
            "  Status: complete\n\n"
            "  PRINT file: \"text\"\n  Length: 700 bytes in 2 blocks\n  Status: complete\n\n");
}

TEST(FileListing, StatusAndEmptyCatalogue) {
  fixtures::MdrBuilder builder("CART");
  MdrBlock part;
  part.record_flags = 0x00;
  part.record_length = 10;
  part.record_name = "partial";
  part.spoil_data_checksum = true;
  builder.add_block(part);
  EXPECT_EQ(files(builder),
            "Files: 1\n\n  PRINT file: \"partial\"\n  Length: 10 bytes in 1 block\n"
            "  Status: missing EOF, checksum error\n\n");
  fixtures::MdrBuilder empty("CART");
  empty.add_free_blocks(2);
  EXPECT_EQ(files(empty), "Files: 0\n\n");
}

// The two failures of libspectrum's cartridge object that no file provokes.
TEST(ListCartridge, AllocationAndReleaseFailures) {
  fixtures::TempDir dir;
  fixtures::MdrBuilder builder("CART");
  builder.add_free_blocks(10);
  std::string path = dir.path("c.mdr");
  builder.write(path);

  testing_seams::set_microdrive_calls([]() -> libspectrum_microdrive* { return nullptr; }, nullptr);
  int result = -1;
  std::string out =
      fixtures::capture([&](std::FILE* f) { result = list_cartridge(f, path.c_str(), false); });
  EXPECT_EQ(result, 1);
  EXPECT_EQ(out, "");

  testing_seams::set_microdrive_calls(nullptr, [](libspectrum_microdrive* c) {
    (void)libspectrum_microdrive_free(c);
    return LIBSPECTRUM_ERROR_UNKNOWN;
  });
  out = fixtures::capture([&](std::FILE* f) { result = list_cartridge(f, path.c_str(), true); });
  EXPECT_EQ(result, 1);
  EXPECT_EQ(out.rfind("\n\nListing of `" + path + "':\n\n", 0), 0u);
  EXPECT_NE(out.find("--= Block #9 =--"), std::string::npos);
  testing_seams::set_microdrive_calls(nullptr, nullptr);

  out = fixtures::capture([&](std::FILE* f) { result = list_cartridge(f, path.c_str(), false); });
  EXPECT_EQ(result, 0);
  EXPECT_NE(out.find("Files: 0\n\n"), std::string::npos);
}

TEST(FileListing, NothingWhenTheCatalogueCannotBeBuilt) {
  fixtures::MdrBuilder builder("CART");
  builder.add_file("f", Bytes(10, 1));
  builder.add_free_blocks(9);
  testing_seams::set_catalogue_calloc([](size_t, size_t) -> void* { return nullptr; });
  std::string text = files(builder);
  EXPECT_EQ(text, "");

  // The operand then counts as failed, and says why.
  fixtures::TempDir dir;
  std::string path = dir.path("c.mdr");
  builder.write(path);
  int result = -1;
  std::string out;
  std::string err = fixtures::capture_stderr([&] {
    out = fixtures::capture([&](std::FILE* f) { result = list_cartridge(f, path.c_str(), false); });
  });
  testing_seams::set_catalogue_calloc(nullptr);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(err, "test: couldn't catalogue the files of `" + path + "'\n");
  EXPECT_EQ(out.rfind("\n\nListing of `" + path + "':\n\n", 0), 0u);
  EXPECT_EQ(out.find("Files:"), std::string::npos);
}

TEST(PrintZxName, NullPrintsNothingAndNamesPrintConverted) {
  EXPECT_EQ(fixtures::capture([](std::FILE* out) { print_zx_name(out, nullptr); }), "");
  const unsigned char name[10] = {'r', 'u', 'n', 0x0D, 0x5C, 0xF9, ' ', ' ', ' ', ' '};
  EXPECT_EQ(fixtures::capture([&](std::FILE* out) { print_zx_name(out, name); }),
            "run?\\\\RANDOMIZE");
}

// A copy whose write fails (a full disk) leaves nothing in the folder: no
// part of the file, no file under another name.
TEST(Extract, AFailedWriteLeavesNothing) {
  fixtures::MdrBuilder builder("CART");
  builder.add_file("big", Bytes(3000, 7));
  builder.add_free_blocks(9);
  fixtures::CartridgePtr cartridge = fixtures::make_cartridge(builder);
  Catalogue catalogue;
  ASSERT_EQ(catalogue.build(cartridge.get()), 0);
  fixtures::TempDir dir;
  int folder = open(dir.dir().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(folder, 0);
  testing_seams::set_output_calls(
      [](int fd, const void* bytes, size_t count) -> ssize_t {
        if (count > 1000) {
          return ::write(fd, bytes, 1000);  // the first part fits
        }
        errno = ENOSPC;
        return -1;
      },
      nullptr, nullptr);
  int result = -1;
  std::string err =
      fixtures::capture_stderr([&] { result = extract_files(catalogue, folder, "d"); });
  testing_seams::set_output_calls(nullptr, nullptr, nullptr);
  close(folder);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(err, "test: couldn't write `d/big.bin': No space left on device\n");
  EXPECT_TRUE(std::filesystem::is_empty(dir.dir()));
}
