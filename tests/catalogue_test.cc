// The Microdrive file catalogue and the file-header decoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "cartridge.h"
#include "catalogue_seam.h"
#include "fixtures/cartridge.h"

using fixtures::Bytes;
using fixtures::MdrBlock;

namespace {

MdrBlock record(const std::string& name, uint8_t number, uint16_t length, uint8_t flags = 0x04,
                uint8_t fill = 0) {
  MdrBlock b;
  b.record_name = name;
  b.record_number = number;
  b.record_length = length;
  b.record_flags = flags;
  b.data.assign(std::min<size_t>(length, 512), fill);
  return b;
}

// Builds the catalogue of `builder`'s blocks and releases it at the end.
struct Catalogued {
  explicit Catalogued(const fixtures::MdrBuilder& builder)
      : cartridge(fixtures::make_cartridge(builder)) {
    result = catalogue_cartridge_files(cartridge.get(), &entries, &count);
  }
  ~Catalogued() { release_catalogue(entries, count); }
  fixtures::CartridgePtr cartridge;
  CatalogueEntry* entries = nullptr;
  uint64_t count = 0;
  int result = -1;
};

}  // namespace

TEST(Catalogue, NoBlocksAtAll) {
  fixtures::MdrBuilder builder("X");
  Catalogued cat(builder);
  EXPECT_EQ(cat.result, 0);
  EXPECT_EQ(cat.count, 0u);
}

TEST(Catalogue, OnlyEmptyOrOversizedBlocks) {
  fixtures::MdrBuilder builder("X");
  builder.add_free_blocks(3);
  builder.add_block(record("big", 0, 513));
  builder.add_block(record("huge", 0, 0xFFFF));
  Catalogued cat(builder);
  EXPECT_EQ(cat.result, 0);
  EXPECT_EQ(cat.count, 0u);
  EXPECT_NE(cat.entries, nullptr);
}

TEST(Catalogue, RecordsJoinInRecordOrder) {
  fixtures::MdrBuilder builder("X");
  builder.add_free_blocks(1);
  builder.add_block(record("prog", 2, 100, 0x06, 0xCC));
  builder.add_block(record("other", 0, 512, 0x00, 0x11));
  builder.add_block(record("prog", 0, 512, 0x04, 0xAA));
  builder.add_block(record("prog", 1, 512, 0x04, 0xBB));
  Catalogued cat(builder);
  ASSERT_EQ(cat.result, 0);
  ASSERT_EQ(cat.count, 2u);
  const CatalogueEntry& prog = cat.entries[0];
  EXPECT_EQ(0, std::memcmp(prog.name, "prog      ", 10));
  EXPECT_EQ(prog.flags, 0x06);  // from the first block in cartridge order
  EXPECT_EQ(prog.block_count, 3u);
  EXPECT_EQ(prog.length, 1124u);
  EXPECT_EQ(prog.data_size, 1124u);
  EXPECT_EQ(prog.has_eof, 1);
  EXPECT_EQ(prog.checksum_error, 0);
  Bytes expected(512, 0xAA);
  expected.insert(expected.end(), 512, 0xBB);
  expected.insert(expected.end(), 100, 0xCC);
  EXPECT_EQ(Bytes(prog.data, prog.data + prog.data_size), expected);
  EXPECT_EQ(0, std::memcmp(cat.entries[1].name, "other     ", 10));
  EXPECT_EQ(cat.entries[1].has_eof, 0);
}

TEST(Catalogue, MissingRecordLeavesZeros) {
  fixtures::MdrBuilder builder("X");
  builder.add_block(record("gap", 0, 512, 0x04, 1));
  builder.add_block(record("gap", 2, 512, 0x06, 3));
  Catalogued cat(builder);
  ASSERT_EQ(cat.count, 1u);
  EXPECT_EQ(cat.entries[0].length, 1024u);
  ASSERT_EQ(cat.entries[0].data_size, 1536u);
  for (size_t i = 512; i < 1024; ++i) {
    ASSERT_EQ(cat.entries[0].data[i], 0) << i;
  }
  EXPECT_EQ(cat.entries[0].data[1535], 3);
}

// Two good copies of record 0: the file is the first (as the Interface 1
// loads the first good copy it meets); the listing's header is still the
// later copy laid over the earlier, as it always was.
TEST(Catalogue, RepeatedRecordNumberLaterBlockWins) {
  fixtures::MdrBuilder builder("X");
  builder.add_block(record("dup", 0, 300, 0x04, 0x01));
  builder.add_block(record("dup", 0, 100, 0x06, 0x02));
  Catalogued cat(builder);
  ASSERT_EQ(cat.count, 1u);
  const CatalogueEntry& e = cat.entries[0];
  EXPECT_EQ(e.block_count, 2u);
  EXPECT_EQ(e.length, 400u);
  ASSERT_EQ(e.data_size, 300u);
  EXPECT_EQ(e.data[0], 0x01);
  EXPECT_EQ(e.data[99], 0x01);
  EXPECT_EQ(e.data[100], 0x01);
  EXPECT_EQ(e.data[299], 0x01);
  EXPECT_EQ(e.listed_size, 300u);
  EXPECT_EQ(Bytes(e.listed_header, e.listed_header + 9), Bytes(9, 0x02));
  EXPECT_EQ(e.records[0].copies, 2u);
  EXPECT_EQ(e.records[0].block, 0u);
}

// Which copy of a record the file is made of: the first that passes its
// checksums, whatever comes before or after it, else the first of all.
TEST(Catalogue, FirstGoodCopyOfEachRecordIsUsed) {
  struct Case {
    const char* what;
    std::vector<bool> spoilt;  // copies of record 1 in cartridge order
    uint8_t used;              // fill byte of the copy used
  } cases[] = {
      {"good, then bad", {false, true}, 0x10},
      {"bad, then good", {true, false}, 0x11},
      {"bad, good, good", {true, false, false}, 0x11},
      {"none good", {true, true}, 0x10},
  };
  for (const Case& c : cases) {
    fixtures::MdrBuilder builder("X");
    builder.add_block(record("f", 0, 512, 0x04, 0xAA));
    for (size_t i = 0; i < c.spoilt.size(); ++i) {
      MdrBlock copy = record("f", 1, 512, 0x04, static_cast<uint8_t>(0x10 + i));
      copy.spoil_data_checksum = c.spoilt[i];
      builder.add_block(copy);
    }
    builder.add_block(record("f", 2, 20, 0x06, 0xCC));
    Catalogued cat(builder);
    ASSERT_EQ(cat.count, 1u) << c.what;
    const CatalogueEntry& e = cat.entries[0];
    ASSERT_EQ(e.data_size, 1044u) << c.what;
    EXPECT_EQ(e.data[512], c.used) << c.what;
    EXPECT_EQ(e.data[1023], c.used) << c.what;
    EXPECT_EQ(e.data[1024], 0xCC) << c.what;
    EXPECT_EQ(e.records[1].copies, c.spoilt.size()) << c.what;
    EXPECT_EQ(e.records[1].block, 1u + (c.used - 0x10)) << c.what;
    EXPECT_EQ(e.record_count, 3u) << c.what;
    EXPECT_EQ(e.block_count, 2 + c.spoilt.size()) << c.what;  // the listing's count stays
  }
}

// An empty end-of-file block of a file's name passes every check, as it
// holds nothing; it must not stand in for a copy of the record with data.
TEST(Catalogue, EmptyEndBlockNeverHidesTheData) {
  for (bool empty_first : {true, false}) {
    fixtures::MdrBuilder builder("X");
    MdrBlock empty = record("f", 0, 0, 0x06, 0x00);
    MdrBlock full = record("f", 0, 100, 0x06, 0x3C);
    builder.add_block(empty_first ? empty : full);
    builder.add_block(empty_first ? full : empty);
    Catalogued cat(builder);
    ASSERT_EQ(cat.count, 1u);
    ASSERT_EQ(cat.entries[0].data_size, 100u) << empty_first;
    EXPECT_EQ(cat.entries[0].data[99], 0x3C) << empty_first;
  }
}

// What describe_damage says of files built block by block.
TEST(Catalogue, DamageIsNamed) {
  auto code = [](uint16_t length) {  // a CODE file's first record of 512 bytes
    MdrBlock b = record("f", 0, 512, 0x04, 0x5A);
    Bytes header = fixtures::file_header(3, length, 32768, 0, 0);
    std::copy(header.begin(), header.end(), b.data.begin());
    return b;
  };
  auto spoilt = [](MdrBlock b) {
    b.spoil_data_checksum = true;
    return b;
  };
  struct Case {
    const char* what;
    std::vector<MdrBlock> blocks;
    const char* damage;
  } cases[] = {
      {"whole", {code(1015), record("f", 1, 512, 0x06)}, ""},
      {"record 1 of 3 missing", {code(1527), record("f", 2, 512, 0x06)}, "record 1 missing"},
      {"several missing, in ranges",
       {code(3575), record("f", 4, 512), record("f", 6, 512, 0x06)},
       "records 1-3, 5 missing"},
      {"no end, and short",
       {code(1015), record("f", 1, 100)},
       "no end-of-file record, 603 bytes of data where its header says 1015"},
      {"a record short of 512 before the last",
       {code(1015), record("f", 1, 100), record("f", 2, 512, 0x06)},
       "record 1 shorter than 512 bytes, 1527 bytes of data where its header says 1015"},
      {"a good copy and a bad one",
       {code(1015), record("f", 1, 512, 0x06), spoilt(record("f", 1, 512, 0x06))},
       "more than one copy of record 1"},
      {"no good copy",
       {code(1015), spoilt(record("f", 1, 512, 0x06))},
       "a block fails its checksum"},
      {"every record twice",
       {code(1015), record("f", 1, 512, 0x06), code(1015), record("f", 1, 512, 0x06)},
       "more than one copy of records 0-1"},
      {"a PRINT file ending in an empty end-of-file record",
       {record("f", 0, 512, 0x00), record("f", 1, 0, 0x02)},
       ""},
      {"a PRINT file without its end",
       {record("f", 0, 512, 0x00), record("f", 2, 10, 0x02)},
       "record 1 missing"},
      {"a PRINT file cut short", {record("f", 0, 512, 0x00)}, "no end-of-file record"},
  };
  for (const Case& c : cases) {
    fixtures::MdrBuilder builder("X");
    for (const MdrBlock& b : c.blocks) {
      builder.add_block(b);
    }
    Catalogued cat(builder);
    ASSERT_EQ(cat.count, 1u) << c.what;
    EXPECT_EQ(describe_damage(cat.entries[0]), c.damage) << c.what;
  }
}

TEST(Catalogue, LargestRecordNumberAndBoundaryLengths) {
  fixtures::MdrBuilder builder("X");
  builder.add_block(record("last", 255, 512, 0x06));
  builder.add_block(record("edge", 0, 1, 0x06));
  Catalogued cat(builder);
  ASSERT_EQ(cat.count, 2u);
  EXPECT_EQ(cat.entries[0].data_size, 255u * 512 + 512);
  EXPECT_EQ(cat.entries[1].data_size, 1u);
}

TEST(Catalogue, ChecksumErrorsAndNamesAreExact) {
  fixtures::MdrBuilder builder("X");
  MdrBlock bad = record("file", 0, 10, 0x04);
  bad.spoil_data_checksum = true;
  builder.add_block(bad);
  builder.add_block(record("File", 1, 10, 0x06));   // case matters
  builder.add_block(record("file ", 1, 10, 0x06));  // same once padded
  Catalogued cat(builder);
  ASSERT_EQ(cat.count, 2u);
  EXPECT_EQ(cat.entries[0].checksum_error, 1);
  EXPECT_EQ(cat.entries[0].block_count, 2u);
  EXPECT_EQ(cat.entries[0].has_eof, 1);
  EXPECT_EQ(cat.entries[1].checksum_error, 0);
}

TEST(Catalogue, NullArguments) {
  fixtures::MdrBuilder builder("X");
  builder.add_block(record("f", 0, 10));
  auto cart = fixtures::make_cartridge(builder);
  CatalogueEntry* entries = reinterpret_cast<CatalogueEntry*>(0x1);
  uint64_t count = 99;
  EXPECT_EQ(catalogue_cartridge_files(nullptr, &entries, &count), 1);
  EXPECT_EQ(entries, reinterpret_cast<CatalogueEntry*>(0x1));
  EXPECT_EQ(count, 99u);
  EXPECT_EQ(catalogue_cartridge_files(cart.get(), nullptr, &count), 1);
  EXPECT_EQ(catalogue_cartridge_files(cart.get(), &entries, nullptr), 1);
  release_catalogue(nullptr, 5);
}

namespace {
int calls_before_failure = 0;
void* failing_calloc(size_t n, size_t size) {
  if (calls_before_failure-- == 0) {
    return nullptr;
  }
  return std::calloc(n, size);
}
}  // namespace

TEST(Catalogue, AllocationFailuresLeaveNothing) {
  fixtures::MdrBuilder builder("X");
  builder.add_block(record("a", 0, 10));
  builder.add_block(record("b", 0, 10));
  builder.add_block(record("c", 0, 10));
  auto cart = fixtures::make_cartridge(builder);
  // The array itself, the records of the first, second and third file,
  // then their data.
  for (int fail_at = 0; fail_at < 7; ++fail_at) {
    calls_before_failure = fail_at;
    testing_seams::set_catalogue_calloc(failing_calloc);
    CatalogueEntry* entries = nullptr;
    uint64_t count = 7;
    EXPECT_EQ(catalogue_cartridge_files(cart.get(), &entries, &count), 1) << fail_at;
    EXPECT_EQ(entries, nullptr);
    EXPECT_EQ(count, 0u);
    testing_seams::set_catalogue_calloc(nullptr);
  }
  // No eighth allocation: every one above was tried.
  calls_before_failure = 7;
  testing_seams::set_catalogue_calloc(failing_calloc);
  CatalogueEntry* entries = nullptr;
  uint64_t count = 0;
  EXPECT_EQ(catalogue_cartridge_files(cart.get(), &entries, &count), 0);
  testing_seams::set_catalogue_calloc(nullptr);
  release_catalogue(entries, count);
}

TEST(FileHeader, DecodesNineBytes) {
  const unsigned char screen[] = {0x03, 0x00, 0x1B, 0x00, 0x40, 0x34, 0x12, 0x0A, 0x80};
  FileHeader h{};
  ASSERT_EQ(decode_file_header(&h, screen, 9), 0);
  EXPECT_EQ(h.type, 3);
  EXPECT_EQ(h.data_length, 6912);
  EXPECT_EQ(h.param1, 16384);
  EXPECT_EQ(h.param2, 0x1234);
  EXPECT_EQ(h.param3, 0x800A);
}

TEST(FileHeader, RefusesShortOrNull) {
  const unsigned char bytes[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  FileHeader h{7, 7, 7, 7, 7};
  EXPECT_EQ(decode_file_header(&h, bytes, 8), 1);
  EXPECT_EQ(decode_file_header(&h, nullptr, 9), 1);
  EXPECT_EQ(decode_file_header(nullptr, bytes, 9), 1);
  EXPECT_EQ(h.type, 7);
  EXPECT_EQ(h.param3, 7);
}
