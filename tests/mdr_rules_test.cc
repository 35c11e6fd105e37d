// The cartridge rule checker finds each kind of fault a cartridge writer can
// make, and none in a cartridge laid out as the Interface 1 lays it out.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "fixtures/mdr_builder.h"
#include "fixtures/mdr_rules.h"

using fixtures::Bytes;
using fixtures::MdrBlock;
using fixtures::MdrBuilder;

namespace {

Bytes saved(const Bytes& header, size_t body_length) {
  Bytes out = header;
  for (size_t i = 0; i < body_length; ++i) {
    out.push_back(static_cast<uint8_t>(i * 7 + 1));
  }
  return out;
}

const Bytes PROGRAM = saved(fixtures::file_header(0, 600, 23813, 500, 10), 600);
const Bytes CODE = saved(fixtures::file_header(3, 100, 32768, 0xFFFF, 0xFFFF), 100);
const Bytes CHARS = saved(fixtures::file_header(2, 20, 23900, 0xFFC1, 0xFFFF), 20);
const Bytes LOG = Bytes(512, 'x');

// Free sectors as a blank image has them: descriptor and data all zero. (The
// builder's own free blocks name their records with spaces.)
void add_blank_blocks(MdrBuilder& cart, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    MdrBlock blank;
    blank.record_name = std::string(10, '\0');
    cart.add_block(blank);
  }
}

// Blocks 0-2 free; 3-4 "prog" (a program of 609 bytes with its header); 5
// "code"; 6 "chars" (a character array); 7-8 "log", a PRINT file that ends
// in an empty end-of-file record; 9 a preset bad block; 10-12 free.
MdrBuilder good_cartridge(const std::string& name = "TESTCART") {
  MdrBuilder cart(name);
  add_blank_blocks(cart, 3);
  cart.add_file("prog", PROGRAM);
  cart.add_file("code", CODE);
  cart.add_file("chars", CHARS);
  cart.add_file("log", LOG, false);
  cart.block(7).record_flags = 0x00;
  MdrBlock log_end;
  log_end.record_flags = 0x02;
  log_end.record_number = 1;
  log_end.record_name = "log";
  cart.add_block(log_end);
  MdrBlock bad;
  bad.record_flags = 0x02;
  bad.record_name = std::string(1, '\0');
  cart.add_block(bad);
  add_blank_blocks(cart, 3);
  cart.set_write_protect(0);
  return cart;
}

std::string joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) {
    out += line + "\n";
  }
  return out;
}

}  // namespace

TEST(MdrRules, GoodCartridgeKeepsEveryRuleAndItsFilesReadBack) {
  MdrBuilder cart = good_cartridge();
  Bytes image = cart.image();
  EXPECT_EQ(joined(fixtures::microdrive_rule_breaches(image)), "");
  EXPECT_FALSE(fixtures::mdr_write_protected(image));
  cart.set_write_protect(0xFF);
  EXPECT_TRUE(fixtures::mdr_write_protected(cart.image()));

  std::vector<fixtures::MdrFileSummary> files = fixtures::mdr_files(image);
  ASSERT_EQ(files.size(), 4u);
  struct Expected {
    std::string name;
    uint8_t flags;
    Bytes contents;
    std::vector<size_t> blocks;
  } expected[] = {{"prog      ", 0x06, PROGRAM, {3, 4}},
                  {"code      ", 0x06, CODE, {5}},
                  {"chars     ", 0x06, CHARS, {6}},
                  {"log       ", 0x02, LOG, {7, 8}}};
  for (size_t i = 0; i < files.size(); ++i) {
    EXPECT_EQ(files[i].name, expected[i].name);
    EXPECT_EQ(files[i].flags, expected[i].flags) << expected[i].name;
    EXPECT_EQ(files[i].contents, expected[i].contents) << expected[i].name;
    EXPECT_EQ(files[i].blocks, expected[i].blocks) << expected[i].name;
  }
}

TEST(MdrRules, EachBreachIsFoundWhereItIs) {
  struct Case {
    const char* what;
    std::function<void(MdrBuilder&)> spoil;
    std::string expected;      // part of one breach line
    bool free_layout = false;  // a breach only of the blank layout of free sectors
  } cases[] = {
      {"no write-protection byte", nullptr,
       "image of 7059 bytes is not 10 to 254 blocks of 543 and a write-protection byte"},
      {"header flag clear", [](MdrBuilder& c) { c.block(5).header_flag = 0; },
       "block 5 (sector 249): header flag 0x00 has bit 0 clear"},
      {"header checksum", [](MdrBuilder& c) { c.block(9).spoil_header_checksum = true; },
       "block 9 (sector 245): header checksum wrong"},
      {"sector number twice", [](MdrBuilder& c) { c.block(12).block_number = 250; },
       "block 12 (sector 250): sector number also that of block 4"},
      {"name padded with byte 0",
       [](MdrBuilder& c) {
         for (size_t i = 0; i < c.size(); ++i) {
           c.block(i).cartridge_name = std::string("TESTCART\0\0", 10);
         }
       },
       "block 0 (sector 254): cartridge name \"TESTCART\\x00\\x00\" holds byte 0"},
      {"free descriptor checksum", [](MdrBuilder& c) { c.block(0).spoil_record_checksum = true; },
       "block 0 (sector 254): record descriptor checksum wrong"},
      {"stale data checksum", [](MdrBuilder& c) { c.block(4).spoil_data_checksum = true; },
       "block 4 (sector 250): data checksum wrong"},
      {"free data not zero", [](MdrBuilder& c) { c.block(11).data = {0x55}; },
       "block 11 (sector 243): free record data not zero", true},
      {"short record not last", [](MdrBuilder& c) { c.block(3).record_length = 300; },
       "block 3 (sector 251): record 0 of \"prog\" holds 300 bytes but is not the file's last"},
      {"last record without end of file", [](MdrBuilder& c) { c.block(5).record_flags = 0x04; },
       "file \"code\": 0 records have the end-of-file flag, not 1"},
      {"two files of one name", [](MdrBuilder& c) { c.block(6).record_name = "code"; },
       "block 6 (sector 248): record 0 of \"code\" appears twice"},
      {"array name in byte 6",
       [](MdrBuilder& c) {
         c.block(6).data = saved(fixtures::file_header(2, 20, 0, 0xC100, 0xFFFF), 20);
       },
       "file \"chars\": array header bytes 6-8 are not 0xFF"},
  };
  for (const Case& c : cases) {
    MdrBuilder cart = good_cartridge();
    Bytes image;
    if (c.spoil) {
      c.spoil(cart);
      image = cart.image();
    } else {
      image = cart.image();
      image.pop_back();
    }
    std::string strict = joined(fixtures::microdrive_rule_breaches(image));
    EXPECT_NE(strict.find(c.expected + "\n"), std::string::npos) << c.what << ": found\n" << strict;
    std::string lenient = joined(fixtures::microdrive_rule_breaches(image, false));
    EXPECT_EQ(lenient.empty(), c.free_layout) << c.what << ": found\n" << lenient;
  }
}
