// The libspectrum adapter: block layout, ZX names, whole-file input.
#include "cartridge.h"
#include "host.h"
#include "tape.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>

#include "fixtures/cartridge.h"
#include "fixtures/test_util.h"

using fixtures::Bytes;
using fixtures::MdrBlock;

TEST(MicrodriveBlocks, EveryFieldComesFromItsOffset) {
  fixtures::MdrBuilder builder("CART");
  builder.add_free_blocks(1);
  MdrBlock block;
  block.header_flag = 0x81;
  block.block_number = 0x37;
  block.header_unused = 0xA1B2;
  block.cartridge_name = "Cartridge2";
  block.record_flags = 0x06;
  block.record_number = 0x09;
  block.record_length = 0x01FE;
  block.record_name = "file name!";
  for (int i = 0; i < 512; ++i) {
    block.data.push_back(static_cast<uint8_t>(i * 7));
  }
  builder.add_block(block);
  Bytes raw = fixtures::encode_block(builder.block(1));
  auto cart = fixtures::make_cartridge(builder);
  libspectrum_microdrive* c = cart.get();

  EXPECT_EQ(adapter::microdrive_block_count(c), 2u);
  adapter::MicrodriveBlock b1 = adapter::microdrive_block_read(c, 1);
  EXPECT_EQ(b1.header_flag, 0x81);
  EXPECT_EQ(b1.number, 0x37);
  EXPECT_EQ(b1.header_unused, 0xA1B2);
  EXPECT_EQ(b1.header_checksum, raw[14]);
  EXPECT_EQ(b1.record_flags, 0x06);
  EXPECT_EQ(b1.record_number, 0x09);
  EXPECT_EQ(b1.record_length, 0x01FE);
  EXPECT_EQ(b1.record_checksum, raw[29]);
  EXPECT_EQ(b1.data_checksum, raw[542]);
  EXPECT_EQ(0, std::memcmp(b1.cartridge_name, "Cartridge2", 10));
  EXPECT_EQ(0, std::memcmp(b1.record_name, "file name!", 10));
  unsigned char data[512];
  adapter::microdrive_block_read_data(c, 1, data);
  EXPECT_EQ(0, std::memcmp(data, block.data.data(), 512));
  EXPECT_EQ(libspectrum_microdrive_checksum(c, 1), 0);
  // Block 0 is a different block: its own name and an empty record.
  adapter::MicrodriveBlock b0 = adapter::microdrive_block_read(c, 0);
  EXPECT_EQ(0, std::memcmp(b0.cartridge_name, "CART      ", 10));
  EXPECT_EQ(b0.record_length, 0);
}

TEST(MicrodriveBlocks, BlocksPastTheCountReadAsZeros) {
  fixtures::MdrBuilder builder("CART");
  builder.add_file("first", Bytes(10, 1));
  builder.add_file("second", Bytes(10, 2));
  auto cart = fixtures::make_cartridge(builder);
  EXPECT_EQ(
      0, std::memcmp(adapter::microdrive_block_read(cart.get(), 0).record_name, "first     ", 10));
  for (uint64_t past : {uint64_t{2}, uint64_t{254}, uint64_t{1} << 40}) {
    adapter::MicrodriveBlock b = adapter::microdrive_block_read(cart.get(), past);
    int fields = b.header_flag | b.number | b.header_unused | b.header_checksum | b.record_flags |
                 b.record_number | b.record_length | b.record_checksum | b.data_checksum;
    EXPECT_EQ(fields, 0) << past;
    EXPECT_EQ(std::count(b.cartridge_name, b.cartridge_name + 10, 0), 10) << past;
    EXPECT_EQ(std::count(b.record_name, b.record_name + 10, 0), 10) << past;
    unsigned char data[512];
    std::memset(data, 0xFF, sizeof data);
    adapter::microdrive_block_read_data(cart.get(), past, data);
    EXPECT_EQ(std::count(data, data + 512, 0), 512) << past;
  }
}

TEST(MicrodriveBlocks, ChecksumVerdictsMatchTheBuilder) {
  fixtures::MdrBuilder builder("CART");
  MdrBlock good;
  good.record_flags = 0x04;
  good.record_length = 3;
  good.record_name = "x";
  good.data = {1, 2, 3};
  MdrBlock bad_header = good, bad_record = good, bad_data = good, preset = MdrBlock{};
  bad_header.spoil_header_checksum = true;
  bad_record.spoil_record_checksum = true;
  bad_data.spoil_data_checksum = true;
  preset.record_flags = 0x02;
  for (const MdrBlock& b : {good, bad_header, bad_record, bad_data, preset}) {
    builder.add_block(b);
  }
  auto cart = fixtures::make_cartridge(builder);
  const int expected[] = {0, 1, 2, 3, -1};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(libspectrum_microdrive_checksum(cart.get(), static_cast<uint8_t>(i)), expected[i])
        << "block " << i;
  }
}

struct NameCase {
  Bytes source;
  const char* expected;
};

void PrintTo(const NameCase& c, std::ostream* os) {
  *os << "expecting \"" << c.expected << '"';
}

class ZxNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(ZxNames, Convert) {
  char out[91];
  const NameCase& c = GetParam();
  ASSERT_EQ(adapter::zx_string_to_utf8(out, sizeof out, c.source.data(), c.source.size()), 0);
  EXPECT_STREQ(out, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ZxNames,
    ::testing::Values(
        NameCase{{'r', 'u', 'n', ' ', ' ', ' ', ' ', ' ', ' ', ' '}, "run"},
        NameCase{{' ', 'a', ' ', 'b', ' ', ' '}, " a b"}, NameCase{{' ', ' ', ' '}, ""},
        NameCase{{0x00, 0x0D, 0x1F, 'A'}, "???A"},
        NameCase{{0x5C, 0x5E, 0x60, 0x7F}, "\\\\\xE2\x86\x91\xC2\xA3\xC2\xA9"},
        NameCase{{0x20, 0x7E, 0x5B}, " ~["}, NameCase{{0x80, 0x81, 0x82, 0x83}, "\\  \\ '\\' \\''"},
        NameCase{{0x84, 0x85, 0x86, 0x87}, "\\ .\\ :\\'.\\':"},
        NameCase{{0x88, 0x89, 0x8A, 0x8B}, "\\. \\.'\\: \\:'"},
        NameCase{{0x8C, 0x8D, 0x8E, 0x8F}, "\\..\\.:\\:.\\::"}, NameCase{{0x90, 0xA4}, "\\a\\u"},
        NameCase{{0xA5, 0xF9, 0xFB, 0xFF}, "RNDRANDOMIZECLSCOPY"},
        NameCase{{0xC7, 0xCE, 0xD4, 0xEC}, "<=DEF FNCLOSE #GO TO"},
        NameCase{{0xF9, 0xF9, 0xF9, 0xF9, 0xF9, 0xF9, 0xF9, 0xF9, 0xF9, 0xF9},
                 "RANDOMIZERANDOMIZERANDOMIZERANDOMIZERANDOMIZERANDOMIZERANDOMIZERANDOMIZERANDOMIZE"
                 "RANDOMIZE"}));

TEST(ZxNameFailures, TooSmallOrNull) {
  const unsigned char name[] = {'a', 'b', 'c'};
  char out[8];
  EXPECT_EQ(adapter::zx_string_to_utf8(out, 4, name, 3), 0);
  EXPECT_STREQ(out, "abc");
  EXPECT_NE(adapter::zx_string_to_utf8(out, 3, name, 3), 0);  // no room for the NUL
  const unsigned char token[] = {0xF9};
  EXPECT_NE(adapter::zx_string_to_utf8(out, 8, token, 1), 0);
  EXPECT_NE(adapter::zx_string_to_utf8(nullptr, 8, name, 3), 0);
  EXPECT_NE(adapter::zx_string_to_utf8(out, 8, nullptr, 3), 0);
  EXPECT_NE(adapter::zx_string_to_utf8(out, 0, name, 0), 0);
}

TEST(InputFile, ReadsWholeFileWithZeroPadding) {
  fixtures::TempDir dir;
  Bytes bytes(200000);
  for (size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<uint8_t>(i * 31 + 1);
  }
  fixtures::write_file(dir.path("big.tap"), bytes);
  adapter::File file;
  ASSERT_EQ(load_input_file(dir.path("big.tap").c_str(), &file, adapter::TAPE_FILE_LIMIT), 0);
  ASSERT_EQ(file.length, bytes.size());
  EXPECT_EQ(0, std::memcmp(file.bytes, bytes.data(), bytes.size()));
  for (size_t i = 0; i < adapter::FILE_PADDING; ++i) {
    ASSERT_EQ(file.bytes[bytes.size() + i], 0) << i;
  }
  EXPECT_EQ(file.type, LIBSPECTRUM_ID_TAPE_TAP);
  adapter::file_clear(&file);
  EXPECT_EQ(file.bytes, nullptr);
  adapter::file_clear(&file);  // clearing an empty record is harmless
}

TEST(InputFile, EmptyFileAndPipe) {
  fixtures::TempDir dir;
  fixtures::write_file(dir.path("empty"), {});
  adapter::File file;
  ASSERT_EQ(load_input_file(dir.path("empty").c_str(), &file, adapter::TAPE_FILE_LIMIT), 0);
  EXPECT_EQ(file.length, 0u);
  adapter::file_clear(&file);

  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_EQ(write(fds[1], "piped bytes", 11), 11);
  close(fds[1]);
  std::string path = "/proc/self/fd/" + std::to_string(fds[0]);
  ASSERT_EQ(load_input_file(path.c_str(), &file, adapter::TAPE_FILE_LIMIT), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(file.bytes), file.length), "piped bytes");
  adapter::file_clear(&file);
  close(fds[0]);
}

TEST(InputFile, FailuresReportAndHoldNothing) {
  fixtures::TempDir dir;
  fixtures::write_file(dir.path("eleven"), Bytes(11, 1));
  struct Case {
    std::string path;
    size_t limit;
    std::string library_text;
  } cases[] = {
      {dir.path("missing.mdr"), adapter::TAPE_FILE_LIMIT,
       "couldn't open `" + dir.path("missing.mdr") + "': No such file or directory"},
      {dir.dir(), adapter::TAPE_FILE_LIMIT, "couldn't read `" + dir.dir() + "': Is a directory"},
      {"/dev/zero", adapter::MDR_FILE_LIMIT,
       "couldn't read `/dev/zero': more than 137923 bytes, larger than any image of its kind"},
      {dir.path("eleven"), 10,
       "couldn't read `" + dir.path("eleven") +
           "': more than 10 bytes, larger than any image of its kind"},
  };
  for (const Case& c : cases) {
    adapter::File file;
    int result = 0;
    std::string err =
        fixtures::capture_stderr([&] { result = load_input_file(c.path.c_str(), &file, c.limit); });
    EXPECT_EQ(result, LIBSPECTRUM_ERROR_UNKNOWN);
    EXPECT_EQ(err, "libspectrum error: " + c.library_text + "\ntest: couldn't read `" + c.path +
                       "' (libspectrum error 3)\n");
    EXPECT_EQ(file.bytes, nullptr);
  }
  // A file of exactly the limit is read whole.
  adapter::File file;
  ASSERT_EQ(load_input_file(dir.path("eleven").c_str(), &file, 11), 0);
  EXPECT_EQ(file.length, 11u);
  adapter::file_clear(&file);
}

TEST(Startup, TooOldLibraryIsRefusedWithoutNewline) {
  int result = 0;
  std::string err = fixtures::capture_stderr([&] { result = library_startup_requiring("99.0.0"); });
  EXPECT_EQ(result, 1);
  EXPECT_EQ(err, std::string("libspectrum version ") + libspectrum_version() +
                     " found, but 99.0.0 required");
  EXPECT_EQ(library_startup(), 0);
}

TEST(Startup, LogicErrorsDoNotAbort) {
  // A logic error goes through the installed handler and comes back.
  std::string err = fixtures::capture_stderr([] {
    auto call = [](const char* format, ...) {
      va_list ap;
      va_start(ap, format);
      libspectrum_error_function(LIBSPECTRUM_ERROR_LOGIC, format, ap);
      va_end(ap);
    };
    call("internal %d", 7);
  });
  EXPECT_EQ(err, "libspectrum error: internal 7\n");
}

// Memory that libspectrum, GLib or the tools' own code cannot get ends the
// run with one line and status 1, where the library would abort.
TEST(StartupDeathTest, ExhaustedMemoryEndsTheRunWithAMessage) {
  if (fixtures::memory_limits_unusable()) {
    GTEST_SKIP() << "allocation failures are reported by the sanitizer or valgrind";
  }
  // Beyond PTRDIFF_MAX, which the C library refuses even where a 32-bit
  // process has that much address space free. Not a constant, so that the
  // calls compile.
  static volatile size_t huge = SIZE_MAX / 2 + 1;
  static void* volatile sink = nullptr;
  (void)sink;
  EXPECT_EXIT(sink = libspectrum_malloc(huge), ::testing::ExitedWithCode(1),
              "^test: memory exhausted\n$");
  EXPECT_EXIT(sink = libspectrum_realloc(nullptr, huge), ::testing::ExitedWithCode(1),
              "^test: memory exhausted\n$");
  using GMalloc = void* (*)(size_t);
  auto g_malloc = reinterpret_cast<GMalloc>(dlsym(RTLD_DEFAULT, "g_malloc"));
  if (g_malloc != nullptr) {
    EXPECT_EXIT(sink = g_malloc(huge), ::testing::ExitedWithCode(1), "^test: memory exhausted\n$");
  }
  EXPECT_EXIT(
      {
        start_tool("test");
        sink = ::operator new[](huge);  // what new char[huge] calls
      },
      ::testing::ExitedWithCode(1), "^test: memory exhausted\n$");
}
