// Measures what -l costs: tapeinfo and cartinfo listing every program as
// text against the same listing without it, each run as a whole process, on
// a generated tape of BASIC programs and the cartridge that tape2cart saves
// them onto, and on any tapes and cartridges named on the command line (a
// corpus: the .mdr files go to cartinfo, the rest to tapeinfo, all of a
// kind in one run). The runs are interleaved round by round, and each
// figure is the median of the rounds' ratios of CPU time (user + system),
// with the smallest and largest beside it (goal: at most 1.1). Then what
// tapeinfo -x adds to the listing of a 48K game's tape (a loader, a screen,
// 41,000 bytes of code): the median of the rounds' differences in CPU time,
// the screen's picture made and every file written and synced (goal: at
// most 20 ms). A listing's
// status of 2 (a bad checksum, a damaged file) or 1 (an image refused) is
// taken as it comes: both runs list the same operands.
// Usage: listing_bench [ROUNDS [SCRATCH DIRECTORY [IMAGE...]]]
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_tapes.h"
#include "process_time.h"

namespace {

using bench_tapes::Bytes;
using bench_tapes::put16;
using bench_tapes::write_file;

uint32_t seed = 2024;
unsigned next_random(unsigned bound) {
  seed = seed * 1103515245u + 12345u;
  return (seed >> 16) % bound;
}

void append(Bytes& out, const std::string& text) {
  out.insert(out.end(), text.begin(), text.end());
}

// A small integer typed as its digits, then its hidden 5-byte form.
void typed_number(Bytes& out, unsigned value) {
  append(out, std::to_string(value));
  out.push_back(0x0E);
  out.push_back(0);
  out.push_back(0);
  put16(out, value);
  out.push_back(0);
}

// A program of `lines` lines of keywords, numbers, strings and colour
// controls, then a few variables; `*program_length` is its lines' length.
Bytes program(unsigned lines, size_t* program_length) {
  Bytes out;
  static const unsigned char STATEMENTS[] = {0xF5, 0xF4, 0xF1, 0xEC, 0xFA, 0xF9, 0xE7, 0xEF};
  for (unsigned line = 1; line <= lines; ++line) {
    Bytes text;
    for (unsigned statement = 0, count = 1 + next_random(5); statement < count; ++statement) {
      if (statement > 0) {
        text.push_back(':');
      }
      text.push_back(STATEMENTS[next_random(sizeof STATEMENTS)]);
      typed_number(text, next_random(65536));
      append(text, ",a+");
      typed_number(text, next_random(100));
      append(text, ";\"\x10\x02text \x90\x83\";\xBE");
      typed_number(text, 23606 + next_random(100));
    }
    text.push_back(0x0D);
    out.push_back(static_cast<unsigned char>(line >> 8));
    out.push_back(static_cast<unsigned char>(line & 0xFF));
    put16(out, static_cast<uint32_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
  }
  *program_length = out.size();
  Bytes variables = {0x61, 0, 0, 5, 0, 0, 0x42, 3, 0, 'a', 'b', 'c'};
  out.insert(out.end(), variables.begin(), variables.end());
  return out;
}

// A TAP block: length, flag, the bytes and their XOR checksum.
void tap_block(Bytes& tape, unsigned char flag, const Bytes& bytes) {
  put16(tape, static_cast<uint32_t>(bytes.size() + 2));
  unsigned char check = flag;
  tape.push_back(flag);
  for (unsigned char b : bytes) {
    tape.push_back(b);
    check ^= b;
  }
  tape.push_back(check);
}

// 20 programs of 20 to 40 lines (about 70 KB in all, as much as a cartridge
// holds), each with its header.
std::string write_tap(const std::string& dir) {
  Bytes tape;
  for (int file = 0; file < 20; ++file) {
    size_t program_length = 0;
    Bytes data = program(20 + next_random(21), &program_length);
    char name[11];
    std::snprintf(name, sizeof name, "prog%-6d", file);
    Bytes header = {0x00};
    append(header, std::string(name, 10));
    put16(header, static_cast<uint32_t>(data.size()));
    put16(header, 10);
    put16(header, static_cast<uint32_t>(program_length));
    tap_block(tape, 0x00, header);
    tap_block(tape, 0xFF, data);
  }
  std::string path = dir + "/listing_bench.tap";
  write_file(path, tape);
  return path;
}

// The tape's programs saved onto a blank cartridge by the suite's tools.
std::string write_mdr(const std::string& dir, const std::string& tap) {
  std::string path = dir + "/listing_bench.mdr";
  std::remove(path.c_str());
  cpu_seconds({BLANKCART_PATH, "-n", "BENCH", path}, "/dev/null");
  cpu_seconds({TAPE2CART_PATH, tap, path}, "/dev/null");
  return path;
}

void measure(const std::string& name, const std::string& tool,
             const std::vector<std::string>& operands, int rounds) {
  std::vector<std::string> plain = {tool};
  plain.insert(plain.end(), operands.begin(), operands.end());
  std::vector<std::string> listed = {tool, "-l"};
  listed.insert(listed.end(), operands.begin(), operands.end());
  std::vector<double> ratios;
  double plain_total = 0, listed_total = 0;
  for (int round = 0; round < rounds; ++round) {
    double without = cpu_seconds(plain, "/dev/null", 2);
    double with = cpu_seconds(listed, "/dev/null", 2);
    ratios.push_back(with / without);
    plain_total += without;
    listed_total += with;
  }
  Spread s = spread(ratios);
  std::printf("%s: without -l %.3f s, with -l %.3f s (CPU, mean of %d rounds)\n", name.c_str(),
              plain_total / rounds, listed_total / rounds, rounds);
  std::printf("  %-34s median %.3f  (min %.3f, max %.3f)\n", "-l / without", s.median, s.least,
              s.most);
}

// A 48K game's tape: a BASIC loader, a screen and 41,000 bytes of code,
// each with its header.
std::string write_game(const std::string& dir) {
  Bytes tape;
  auto header = [&](unsigned char type, const char* name, size_t length, uint32_t start) {
    char padded[11];
    std::snprintf(padded, sizeof padded, "%-10s", name);
    Bytes bytes = {type};
    append(bytes, std::string(padded, 10));
    put16(bytes, static_cast<uint32_t>(length));
    put16(bytes, start);
    put16(bytes, type == 0 ? static_cast<uint32_t>(length) : 32768);
    tap_block(tape, 0x00, bytes);
  };
  size_t program_length = 0;
  Bytes loader = program(5, &program_length);
  loader.resize(program_length);
  header(0, "game", loader.size(), 10);
  tap_block(tape, 0xFF, loader);
  Bytes screen(6912), code(41000);
  for (unsigned char& b : screen) {
    b = static_cast<unsigned char>(next_random(256));
  }
  for (unsigned char& b : code) {
    b = static_cast<unsigned char>(next_random(256));
  }
  header(3, "screen", screen.size(), 16384);
  tap_block(tape, 0xFF, screen);
  header(3, "code", code.size(), 24576);
  tap_block(tape, 0xFF, code);
  std::string path = dir + "/listing_bench_game.tap";
  write_file(path, tape);
  return path;
}

// What -x adds to the listing of `tape`, into a new folder each round.
void measure_extract(const std::string& tape, const std::string& dir, int rounds) {
  std::vector<double> added;
  std::string folder = dir + "/listing_bench_files";
  const char* names[] = {"game.bas", "screen.scr", "screen.png", "code.bin"};
  for (int round = 0; round < rounds; ++round) {
    for (const char* name : names) {
      std::remove((folder + "/" + name).c_str());
    }
    std::remove(folder.c_str());
    if (mkdir(folder.c_str(), 0755) != 0) {
      std::perror(folder.c_str());
      std::exit(1);
    }
    double listed = cpu_seconds({TAPEINFO_PATH, tape}, "/dev/null");
    double extracted = cpu_seconds({TAPEINFO_PATH, "-x", folder, tape}, "/dev/null");
    added.push_back((extracted - listed) * 1000);
  }
  for (const char* name : names) {
    std::remove((folder + "/" + name).c_str());
  }
  std::remove(folder.c_str());
  Spread s = spread(added);
  std::printf("tapeinfo -x, a 48K game's tape with a screen, over its listing (CPU, %d rounds)\n",
              rounds);
  std::printf("  %-34s median %.1f ms  (min %.1f, max %.1f)\n", "added by -x", s.median, s.least,
              s.most);
}

bool ends_with_mdr(const std::string& path) {
  if (path.size() < 4) {
    return false;
  }
  std::string end = path.substr(path.size() - 4);
  for (char& c : end) {
    c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  }
  return end == ".mdr";
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::atoi(argv[1]) : 9;
  std::string dir = argc > 2 ? argv[2] : "/tmp";
  if (rounds < 1) {
    std::fprintf(stderr, "usage: %s [ROUNDS [SCRATCH DIRECTORY [IMAGE...]]]\n", argv[0]);
    return 1;
  }
  std::string tap = write_tap(dir);
  std::string mdr = write_mdr(dir, tap);
  measure("tapeinfo, generated TAP of 20 programs", TAPEINFO_PATH, {tap}, rounds);
  measure("cartinfo, its cartridge from tape2cart", CARTINFO_PATH, {mdr}, rounds);
  std::string game = write_game(dir);
  measure_extract(game, dir, rounds);
  std::vector<std::string> tapes, cartridges;
  for (int i = 3; i < argc; ++i) {
    (ends_with_mdr(argv[i]) ? cartridges : tapes).push_back(argv[i]);
  }
  if (!tapes.empty()) {
    measure("tapeinfo, " + std::to_string(tapes.size()) + " tapes given", TAPEINFO_PATH, tapes,
            rounds);
  }
  if (!cartridges.empty()) {
    measure("cartinfo, " + std::to_string(cartridges.size()) + " cartridges given", CARTINFO_PATH,
            cartridges, rounds);
  }
  if (std::getenv("LISTING_BENCH_KEEP") == nullptr) {
    std::remove(tap.c_str());
    std::remove(mdr.c_str());
    std::remove(game.c_str());
  }
  return 0;
}
