// Measures edgedump against the floor of libspectrum's bare edge walk
// (bare_walk: load, parse and walk, no output, no code of the tools), each
// run as a whole process, on two generated tapes: a TAP of standard-speed
// blocks and a TZX of turbo and pure-data blocks. The runs are interleaved
// round by round, and each figure is the median of the rounds' ratios of
// CPU time (user + system), with the smallest and largest beside it:
//   edgedump > /dev/null   over the floor (goal: at most 1.25)
//   edgedump > file        over the floor (writing a real file on local disk)
//   fprintf walk           over edgedump > /dev/null (bare_walk -p: each line
//                          with fprintf; what the dumper's formatting saves)
//   tapeinfo > /dev/null   over the floor (goal: at most 1.3; its listing
//                          costs the edge walk and little more)
// Usage: edgedump_bench [ROUNDS [SCRATCH DIRECTORY]]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_tapes.h"
#include "process_time.h"

namespace {

// 40 standard-speed blocks of 65,000 bytes: about 41.6 million edges.
std::string write_tap(const std::string& dir) {
  std::string path = dir + "/bench.tap";
  bench_tapes::write_tap(path, 40, 65000);
  return path;
}

// 80 blocks of 30,000 bytes, turbo (0x11) and pure data (0x14) by turns,
// with their own pulse lengths: about 38.7 million edges.
std::string write_tzx(const std::string& dir) {
  std::string path = dir + "/bench.tzx";
  bench_tapes::write_tzx(path, 80, 30000);
  return path;
}

void measure(const std::string& name, const std::string& tape, int rounds,
             const std::string& scratch) {
  const std::string floor = BARE_WALK_PATH, edgedump = EDGEDUMP_PATH, tapeinfo = TAPEINFO_PATH;
  const std::string file = scratch + "/bench.pulses";
  std::vector<double> to_null, to_file, with_fprintf, listed;
  double floor_total = 0, null_total = 0;
  for (int round = 0; round < rounds; ++round) {
    double bare = cpu_seconds({floor, tape}, "/dev/null");
    double dumped = cpu_seconds({edgedump, tape, "-"}, "/dev/null");
    double written = cpu_seconds({edgedump, tape, file}, "/dev/null");
    double printed = cpu_seconds({floor, "-p", tape}, "/dev/null");
    listed.push_back(cpu_seconds({tapeinfo, tape}, "/dev/null") / bare);
    to_null.push_back(dumped / bare);
    to_file.push_back(written / bare);
    with_fprintf.push_back(printed / dumped);
    floor_total += bare;
    null_total += dumped;
  }
  std::remove(file.c_str());
  std::printf("%s: floor %.3f s, edgedump > /dev/null %.3f s (CPU, mean of %d rounds)\n",
              name.c_str(), floor_total / rounds, null_total / rounds, rounds);
  auto line = [](const char* what, Spread s) {
    std::printf("  %-34s median %.3f  (min %.3f, max %.3f)\n", what, s.median, s.least, s.most);
  };
  line("edgedump > /dev/null / floor", spread(to_null));
  line("edgedump > file / floor", spread(to_file));
  line("fprintf walk / edgedump > /dev/null", spread(with_fprintf));
  line("tapeinfo > /dev/null / floor", spread(listed));
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::atoi(argv[1]) : 7;
  std::string dir = argc > 2 ? argv[2] : "/tmp";
  if (rounds < 1) {
    std::fprintf(stderr, "usage: %s [ROUNDS [SCRATCH DIRECTORY]]\n", argv[0]);
    return 1;
  }
  std::string tap = write_tap(dir);
  std::string tzx = write_tzx(dir);
  measure("standard-speed TAP", tap, rounds, dir);
  measure("turbo and pure-data TZX", tzx, rounds, dir);
  std::remove(tap.c_str());
  std::remove(tzx.c_str());
  return 0;
}
