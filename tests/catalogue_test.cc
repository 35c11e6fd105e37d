// The Microdrive file catalogue and the file-header decoder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "fixtures/cartridge.h"
#include "support.h"
#include "testing_seams.h"

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
  // The array itself, then the data of the first, second and third file.
  for (int fail_at = 0; fail_at < 4; ++fail_at) {
    calls_before_failure = fail_at;
    testing_seams::set_catalogue_calloc(failing_calloc);
    CatalogueEntry* entries = nullptr;
    uint64_t count = 7;
    EXPECT_EQ(catalogue_cartridge_files(cart.get(), &entries, &count), 1) << fail_at;
    EXPECT_EQ(entries, nullptr);
    EXPECT_EQ(count, 0u);
    testing_seams::set_catalogue_calloc(nullptr);
  }
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
