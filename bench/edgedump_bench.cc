// Measures edgedump against libspectrum's bare edge walk on one generated
// tape, in one run, and prints the ratios:
//   a  load, parse and walk the tape with no output (in process)
//   b  edgedump writing to /dev/null
//   c  the walk of (a) writing each line with fprintf to /dev/null
//   d  edgedump writing to a real file
// Usage: edgedump_bench [edgedump binary] [scratch directory]
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// A TAP of standard-speed blocks: 16 edges per data byte.
std::string write_tape(const std::string& dir, uint64_t* edges) {
  std::string path = dir + "/bench.tap";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  uint32_t seed = 12345;
  *edges = 0;
  for (int block = 0; block < 20; ++block) {
    const size_t payload = 65000;
    std::vector<unsigned char> b = {static_cast<unsigned char>((payload + 2) & 0xFF),
                                    static_cast<unsigned char>((payload + 2) >> 8), 0xFF};
    unsigned char check = 0xFF;
    for (size_t i = 0; i < payload; ++i) {
      seed = seed * 1103515245u + 12345u;
      auto byte = static_cast<unsigned char>(seed >> 16);
      b.push_back(byte);
      check ^= byte;
    }
    b.push_back(check);
    std::fwrite(b.data(), 1, b.size(), f);
    *edges += (payload + 2) * 16 + 3223 + 2 + 1;
  }
  std::fclose(f);
  return path;
}

libspectrum_tape* read_tape(const std::string& path) {
  adapter::ScopedFile input;
  if (load_input_file(path.c_str(), input.get(), adapter::TAPE_FILE_LIMIT) != 0) {
    std::exit(1);
  }
  const adapter::File& file = *input.get();
  libspectrum_tape* tape = libspectrum_tape_alloc();
  if (libspectrum_tape_read(tape, file.bytes, file.length, file.type, file.name) != 0) {
    std::exit(1);
  }
  return tape;
}

// The walk of the dumper, with each line going to `out` through fprintf,
// or nowhere at all.
uint64_t walk(const std::string& path, std::FILE* out) {
  libspectrum_tape* tape = read_tape(path);
  adapter::EdgeRecord record{};
  uint32_t pending = 0;
  uint64_t lines = 0;
  while ((record.flags & static_cast<uint32_t>(LIBSPECTRUM_TAPE_FLAGS_TAPE)) == 0) {
    if (adapter::tape_get_next_edge(&record, tape) != 0) {
      std::exit(1);
    }
    pending += record.duration;
    if (record.edge != 0) {
      if (out != nullptr) {
        std::fprintf(out, "%u : %d\n", pending,
                     static_cast<int>(static_cast<int16_t>(record.level)));
      }
      pending = 0;
      ++lines;
    }
  }
  libspectrum_tape_free(tape);
  return lines;
}

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double run_edgedump(const std::string& program, const std::string& input,
                    const std::string& output) {
  auto start = Clock::now();
  std::vector<char*> argv = {const_cast<char*>(program.c_str()), const_cast<char*>(input.c_str()),
                             const_cast<char*>(output.c_str()), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
    std::perror("posix_spawn");
    std::exit(1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "edgedump failed\n");
    std::exit(1);
  }
  return seconds_since(start);
}

// The best of five runs of `measure`: the machine may be shared.
template <typename F>
double best_of_five(F measure) {
  double best = measure();
  for (int i = 0; i < 4; ++i) {
    double t = measure();
    best = t < best ? t : best;
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  program_name = argv[0];
  std::string edgedump = argc > 1 ? argv[1] : EDGEDUMP_PATH;
  std::string dir = argc > 2 ? argv[2] : "/tmp";
  if (library_startup() != 0) {
    return 1;
  }
  uint64_t edges = 0;
  std::string tape = write_tape(dir, &edges);
  std::string file_output = dir + "/bench.pulses";

  uint64_t lines = 0;
  double a = best_of_five([&] {
    auto start = Clock::now();
    lines = walk(tape, nullptr);
    return seconds_since(start);
  });
  double b = best_of_five([&] { return run_edgedump(edgedump, tape, "/dev/null"); });
  std::FILE* null = std::fopen("/dev/null", "w");
  double c = best_of_five([&] {
    auto start = Clock::now();
    walk(tape, null);
    std::fflush(null);
    return seconds_since(start);
  });
  std::fclose(null);
  double d = best_of_five([&] { return run_edgedump(edgedump, tape, file_output); });
  std::remove(file_output.c_str());
  std::remove(tape.c_str());

  std::printf("tape: %llu edges (%llu lines)\n", static_cast<unsigned long long>(edges),
              static_cast<unsigned long long>(lines));
  std::printf("a  bare walk               %7.3f s\n", a);
  std::printf("b  edgedump > /dev/null    %7.3f s\n", b);
  std::printf("c  fprintf walk > /dev/null%7.3f s\n", c);
  std::printf("d  edgedump > file         %7.3f s\n", d);
  std::printf("b/a = %.2f (goal <= 1.5)\n", b / a);
  std::printf("c/b = %.2f (goal >= 4)\n", c / b);
  return 0;
}
