// cart2tape run in-process: every tape it writes reads back as the blocks it
// meant, over generated hostile cartridges; and how it replaces, or refuses
// to replace, the file it writes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "cart2tape.h"
#include "cart2tape_model.h"
#include "fixtures/mdr_builder.h"
#include "fixtures/test_util.h"
#include "output_file_seam.h"

using fixtures::Bytes;

namespace {

const std::string CART2TAPE = CART2TAPE_PATH;

// The blocks of the tape image at `path` as libspectrum reads them: ROM
// blocks as their bytes, an archive-info block as its texts joined by '|'.
struct ReadBack {
  int error = -1;
  std::vector<Bytes> rom;
  std::vector<std::string> info;
};

ReadBack read_back(const std::string& path) {
  ReadBack out;
  std::string image = fixtures::read_file(path);
  TapePtr tape(libspectrum_tape_alloc());
  out.error =
      libspectrum_tape_read(tape.get(), reinterpret_cast<const libspectrum_byte*>(image.data()),
                            image.size(), LIBSPECTRUM_ID_UNKNOWN, path.c_str());
  if (out.error != 0) {
    return out;
  }
  libspectrum_tape_iterator it = nullptr;
  for (auto* b = libspectrum_tape_iterator_init(&it, tape.get()); b != nullptr;
       b = libspectrum_tape_iterator_next(&it)) {
    if (libspectrum_tape_block_type(b) == LIBSPECTRUM_TAPE_BLOCK_ROM) {
      const libspectrum_byte* data = libspectrum_tape_block_data(b);
      out.rom.emplace_back(data, data + libspectrum_tape_block_data_length(b));
    } else if (libspectrum_tape_block_type(b) == LIBSPECTRUM_TAPE_BLOCK_ARCHIVE_INFO) {
      std::string texts;
      for (size_t i = 0; i < libspectrum_tape_block_count(b); ++i) {
        texts += (i > 0 ? "|" : "") + std::string(libspectrum_tape_block_texts(b, i));
      }
      out.info.push_back(texts);
    } else {
      out.rom.push_back({});  // no other kind of block is meant
    }
  }
  return out;
}

// A deterministic generator: the standard fixes mt19937's numbers, and the
// test draws from them with its own arithmetic.
class Random {
 public:
  explicit Random(uint32_t seed) : engine_(seed) {}
  unsigned below(unsigned n) { return static_cast<unsigned>(engine_() % n); }
  bool chance(unsigned percent) { return below(100) < percent; }
  uint8_t byte() { return static_cast<uint8_t>(engine_()); }

 private:
  std::mt19937 engine_;
};

// A cartridge of a few files built to break a converter: record numbers far
// apart (data far longer than a tape block), records missing or of odd
// lengths, lengths out of range, headers that lie or are cut short, PRINT
// files, names with tokens and graphics, spoilt checksums. No record number
// appears twice in a file.
fixtures::MdrBuilder hostile_cartridge(Random& random, const std::string& cartridge_name) {
  fixtures::MdrBuilder builder(cartridge_name);
  std::vector<std::string> names;
  unsigned file_count = 1 + random.below(5);
  for (unsigned f = 0; f < file_count; ++f) {
    std::string name = "f" + std::to_string(f);
    if (random.chance(30)) {
      name += static_cast<char>(0x80 + random.below(128));  // graphics or a token
    }
    names.push_back(name);
  }
  std::vector<std::set<unsigned>> used(file_count);
  unsigned blocks = 2 + random.below(40);
  for (unsigned n = 0; n < blocks; ++n) {
    unsigned f = random.below(file_count);
    fixtures::MdrBlock block;
    block.record_name = names[f];
    unsigned number = static_cast<unsigned>(used[f].size());
    if (random.chance(8)) {
      number = random.below(256);  // far from the others
    }
    while (used[f].count(number) != 0) {
      number = (number + 1) % 256;
    }
    used[f].insert(number);
    block.record_number = static_cast<uint8_t>(number);
    block.record_length = static_cast<uint16_t>(random.chance(70) ? 512 : random.below(600));
    // Each draw in a statement of its own: the order in which a compiler
    // evaluates operands and arguments is its own, and the cartridges must
    // be the same whichever builds the test.
    if (random.chance(90)) {
      unsigned non_print = f == 0 || random.chance(80) ? 0x04u : 0x00u;
      unsigned eof = random.chance(20) ? 0x02u : 0x00u;
      block.record_flags = static_cast<uint8_t>(non_print | eof);
    } else {
      block.record_flags = random.byte();
    }
    block.data.resize(block.record_length > 512 ? 512 : block.record_length);
    for (uint8_t& b : block.data) {
      b = random.byte();
    }
    if (number == 0 && block.data.size() >= 9 && random.chance(80)) {
      // A header whose length is the file's, or any length at all.
      auto type = static_cast<uint8_t>(random.below(5));
      auto length = static_cast<uint16_t>(random.chance(50) ? 6912 : random.below(65536));
      auto start = static_cast<uint16_t>(random.below(65536));
      auto param2 = static_cast<uint16_t>(random.below(65536));
      auto line = static_cast<uint16_t>(random.below(65536));
      Bytes header = fixtures::file_header(type, length, start, param2, line);
      std::copy(header.begin(), header.end(), block.data.begin());
    }
    block.spoil_header_checksum = random.chance(3);
    block.spoil_record_checksum = random.chance(3);
    block.spoil_data_checksum = random.chance(3);
    builder.add_block(block);
  }
  builder.add_free_blocks(10);
  return builder;
}

// A source file name of 1 to 250 bytes, some of them two-byte characters:
// "Made by cart2tape from NAME" often passes the 255 bytes a TZX text holds.
std::string source_name(Random& random) {
  std::string name;
  unsigned length = random.chance(25) ? 220 + random.below(27) : 1 + random.below(60);
  while (name.size() < length) {
    name +=
        random.chance(10) ? "\xC3\xA9" : std::string(1, static_cast<char>('a' + random.below(26)));
  }
  return name + ".mdr";
}

// `text` cut to 255 bytes, and back to the start of a character cut through.
std::string archive_text(const std::string& text) {
  if (text.size() <= 255) {
    return text;
  }
  size_t size = 255;
  if ((static_cast<unsigned char>(text[size]) & 0xC0) == 0x80) {
    --size;  // the test's names hold two-byte characters only
  }
  return text.substr(0, size);
}

// What the cartridge's name becomes as a title: the builder's name, unless
// no block has a header checksum that holds.
std::string expected_title(fixtures::MdrBuilder& builder, const std::string& name) {
  for (size_t i = 0; i < builder.size(); ++i) {
    const fixtures::MdrBlock& block = builder.block(i);
    bool preset_bad = (block.record_flags & 0x02) != 0 && block.record_length == 0;
    if (!preset_bad && !block.spoil_header_checksum) {
      return name;
    }
  }
  return "";
}

// How many of the generator's cartridges the property goes through: 200, or
// QUILLKIT_PROPERTY_CARTRIDGES where that is set (./dev.sh test sets fewer
// in the builds whose point is another compiler, library or word size, and
// runs all 200 once).
unsigned property_cartridges() {
  const char* text = std::getenv("QUILLKIT_PROPERTY_CARTRIDGES");
  return text != nullptr ? static_cast<unsigned>(std::strtoul(text, nullptr, 10)) : 200;
}

}  // namespace

TEST(Cart2tapeProperty, EveryTapeReadsBackAsTheBlocksMeant) {
  const unsigned CARTRIDGES = property_cartridges();
  // Fewer tell too little of what the generator reaches (checked below).
  ASSERT_GE(CARTRIDGES, 20u) << "QUILLKIT_PROPERTY_CARTRIDGES";
  Random random(0x0C2A7);
  fixtures::TempDir dir;
  unsigned with_cut = 0;
  unsigned cut_files = 0;
  unsigned long_comments = 0;
  for (unsigned c = 0; c < CARTRIDGES; ++c) {
    std::string cartridge_name = "CART" + std::to_string(random.below(1000));
    fixtures::MdrBuilder builder = hostile_cartridge(random, cartridge_name);
    std::string source = source_name(random);
    std::string mdr = dir.path(source);
    builder.write(mdr);
    model::Expected expected = model::expected_tape(builder.image());
    with_cut += expected.cut > 0 ? 1 : 0;
    cut_files += static_cast<unsigned>(expected.cut);
    std::string comment = "Made by cart2tape from " + source;
    long_comments += comment.size() > 255 ? 1u : 0u;
    for (const char* extension : {".tap", ".tzx", ".spc", ".sta", ".ltp"}) {
      std::string tape = dir.path(std::string("out") + extension);
      std::filesystem::remove(tape);
      int status = -1;
      std::string err = fixtures::capture_stderr(
          [&] { status = write_cartridge_tape(mdr.c_str(), tape.c_str(), {}); });
      std::string what = "cartridge " + std::to_string(c) + extension;
      if (expected.files == 0) {
        EXPECT_EQ(status, 1) << what;
        EXPECT_FALSE(std::filesystem::exists(tape)) << what;
        continue;
      }
      if (expected.damaged) {
        EXPECT_EQ(status, 2) << what << err;
      } else if (expected.whole) {
        EXPECT_EQ(status, 0) << what << err;
      } else {
        EXPECT_NE(status, 1) << what << err;  // records missing: may count as damage
      }
      ReadBack tape_read = read_back(tape);
      ASSERT_EQ(tape_read.error, 0) << what;
      EXPECT_EQ(tape_read.rom, expected.blocks) << what;
      size_t warnings = 0;
      for (size_t at = err.find(" more than a tape block holds); cut to "); at != std::string::npos;
           at = err.find(" more than a tape block holds); cut to ", at + 1)) {
        ++warnings;
      }
      EXPECT_EQ(warnings, expected.cut) << what << err;
      if (std::string(extension) == ".tzx") {
        ASSERT_EQ(tape_read.info.size(), 1u) << what;
        EXPECT_EQ(tape_read.info[0],
                  expected_title(builder, cartridge_name) + "|" + archive_text(comment))
            << what;
      } else {
        EXPECT_TRUE(tape_read.info.empty()) << what;
      }
    }
  }
  std::printf(
      "%u cartridges, %u (%.0f%%) with a file too long for a tape block (%u files), %u "
      "with a TZX comment over 255 bytes\n",
      CARTRIDGES, with_cut, 100.0 * with_cut / CARTRIDGES, cut_files, long_comments);
  // The generator must keep reaching what the property is about.
  EXPECT_GE(with_cut, CARTRIDGES / 5);
  EXPECT_GE(long_comments, CARTRIDGES / 10);
}

namespace {

// A sample cartridge and a folder to write tapes into.
class Cart2tapeOutput : public ::testing::Test {
 protected:
  void SetUp() override { fixtures::sample_cartridge().write(mdr); }
  void TearDown() override { testing_seams::set_output_calls(nullptr, nullptr, nullptr); }

  // The names in the folder, sorted.
  std::set<std::string> listing() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.dir())) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  int convert(const std::string& target, std::string* err) {
    int status = -1;
    *err = fixtures::capture_stderr(
        [&] { status = write_cartridge_tape(mdr.c_str(), target.c_str(), {}); });
    return status;
  }

  static constexpr const char* PRINT_NOTICE =
      "test: \"notes\" is a PRINT file, which no tape header describes; left out (cartinfo -x "
      "copies it)\n";
  fixtures::TempDir dir;
  std::string mdr = dir.path("s.mdr");
};

ssize_t full_disk(int fd, const void* bytes, size_t count) {
  if (count > 1000) {
    return ::write(fd, bytes, 1000);  // the first part fits
  }
  errno = ENOSPC;
  return -1;
}

int failing_fsync(int) {
  errno = EIO;
  return -1;
}

int failing_rename(int, const char*, int, const char*) {
  errno = EXDEV;
  return -1;
}

}  // namespace

TEST_F(Cart2tapeOutput, AFailureLeavesTheTargetAsItWasAndNoPartialFile) {
  struct Case {
    const char* what;
    testing_seams::WriteFn write;
    testing_seams::FsyncFn fsync;
    testing_seams::RenameFn rename;
    const char* reason;
  } cases[] = {
      {"full disk", full_disk, nullptr, nullptr, "No space left on device"},
      {"flush fails", nullptr, failing_fsync, nullptr, "Input/output error"},
      {"rename fails", nullptr, nullptr, failing_rename, "Invalid cross-device link"},
  };
  for (const Case& c : cases) {
    for (bool existing : {true, false}) {
      std::string target = dir.path("t.tzx");
      std::filesystem::remove(target);
      if (existing) {
        fixtures::write_file(target, {'k'});
      }
      testing_seams::set_output_calls(c.write, c.fsync, c.rename);
      std::string err;
      EXPECT_EQ(convert(target, &err), 1) << c.what;
      testing_seams::set_output_calls(nullptr, nullptr, nullptr);
      EXPECT_EQ(err, std::string(PRINT_NOTICE) + "test: couldn't write `" + target +
                         "': " + c.reason + "\n")
          << c.what;
      if (existing) {
        EXPECT_EQ(fixtures::read_file(target), "k") << c.what;
        EXPECT_EQ(listing(), (std::set<std::string>{"s.mdr", "t.tzx"})) << c.what;
      } else {
        EXPECT_EQ(listing(), std::set<std::string>{"s.mdr"}) << c.what;
      }
    }
  }
}

TEST_F(Cart2tapeOutput, ASignalDuringTheWriteLeavesNoPartialFile) {
  std::string target = dir.path("t.tap");
  fixtures::write_file(target, {'k'});
  std::fflush(nullptr);
  pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    int null = open("/dev/null", O_WRONLY);
    dup2(null, STDERR_FILENO);
    testing_seams::set_output_calls(
        [](int, const void*, size_t) -> ssize_t {
          raise(SIGTERM);
          return -1;
        },
        nullptr, nullptr);
    (void)write_cartridge_tape(mdr.c_str(), target.c_str(), {});
    _exit(0);
  }
  int wait_status = 0;
  ASSERT_EQ(waitpid(child, &wait_status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(wait_status) && WTERMSIG(wait_status) == SIGTERM) << wait_status;
  EXPECT_EQ(fixtures::read_file(target), "k");
  EXPECT_EQ(listing(), (std::set<std::string>{"s.mdr", "t.tap"}));
}

TEST_F(Cart2tapeOutput, PermissionsLinksAndFolders) {
  mode_t former = umask(027);
  std::string err;
  std::string fresh = dir.path("new.tap");
  EXPECT_EQ(convert(fresh, &err), 0) << err;
  struct stat st {};
  ASSERT_EQ(stat(fresh.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);  // 0666 less the umask

  std::string kept = dir.path("kept.tap");
  fixtures::write_file(kept, {'k'});
  ASSERT_EQ(chmod(kept.c_str(), 0604), 0);
  EXPECT_EQ(convert(kept, &err), 0) << err;
  ASSERT_EQ(stat(kept.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0604u);
  EXPECT_GT(st.st_size, 1);
  umask(former);

  // A link is followed, as by every tool of the suite: the file it points
  // to is replaced whole, and the link stays.
  std::string pointed = dir.path("pointed.tap");
  fixtures::write_file(pointed, {'p'});
  std::string link = dir.path("link.tap");
  std::filesystem::create_symlink(pointed, link);
  EXPECT_EQ(convert(link, &err), 0) << err;
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(read_back(pointed).rom.size(), 10u);

  std::string folder = dir.path("folder.tap");
  std::filesystem::create_directory(folder);
  EXPECT_EQ(convert(folder, &err), 1);
  EXPECT_EQ(err,
            std::string(PRINT_NOTICE) + "test: couldn't open `" + folder + "': Is a directory\n");
  EXPECT_TRUE(std::filesystem::is_empty(folder));
}

TEST_F(Cart2tapeOutput, NeverOverTheCartridgeItReads) {
  Bytes original(fixtures::sample_cartridge().image());
  std::string as_tape = dir.path("g.tap");
  fixtures::write_file(as_tape, original);
  std::string link = dir.path("link.tzx");
  std::filesystem::create_symlink(as_tape, link);
  std::string hard = dir.path("hard.tap");
  std::filesystem::create_hard_link(as_tape, hard);
  for (const std::string& target : {as_tape, link, hard}) {
    int status = -1;
    std::string err = fixtures::capture_stderr(
        [&] { status = write_cartridge_tape(as_tape.c_str(), target.c_str(), {}); });
    EXPECT_EQ(status, 1) << target;
    EXPECT_EQ(err,
              "test: `" + target + "' is the cartridge `" + as_tape + "' itself; not replaced\n");
    std::string now = fixtures::read_file(as_tape);
    EXPECT_EQ(Bytes(now.begin(), now.end()), original) << target;
  }
  EXPECT_TRUE(std::filesystem::is_symlink(link));

  // Standard output appending to the cartridge.
  auto r = fixtures::run("/bin/sh", "sh", {"-c", "\"$0\" \"$1\" - >> \"$1\"", CART2TAPE, as_tape});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, CART2TAPE + ": standard output is the cartridge `" + as_tape +
                       "' itself; nothing written\n");
  std::string now = fixtures::read_file(as_tape);
  EXPECT_EQ(Bytes(now.begin(), now.end()), original);
}

TEST_F(Cart2tapeOutput, StandardOutputThatIsATerminalOrFull) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  std::fflush(stdout);
  int saved = dup(STDOUT_FILENO);
  ASSERT_EQ(dup2(terminal, STDOUT_FILENO), STDOUT_FILENO);
  int status = -1;
  std::string err =
      fixtures::capture_stderr([&] { status = write_cartridge_tape(mdr.c_str(), "-", {}); });
  dup2(saved, STDOUT_FILENO);
  close(saved);
  close(terminal);
  close(master);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(err,
            "test: a tape is not written to a terminal; name a tape file or redirect standard "
            "output\n");

  auto r = fixtures::run(CART2TAPE, "cart2tape", {mdr, "-"}, fixtures::Stdout::DevFull);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "cart2tape: \"notes\" is a PRINT file, which no tape header describes; left out "
            "(cartinfo -x copies it)\ncart2tape: write error: No space left on device\n");
}
