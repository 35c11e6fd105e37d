// CPU time of whole processes, and the spread of ratios over rounds, for
// the benchmarks.
#ifndef QUILLKIT_BENCH_PROCESS_TIME_H
#define QUILLKIT_BENCH_PROCESS_TIME_H

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace {

// Runs the command with standard output on `output` and returns its CPU
// time (user + system) in seconds; an exit status above `max_status` ends
// the benchmark.
inline double cpu_seconds(const std::vector<std::string>& command, const std::string& output,
                   int max_status = 0) {
  std::vector<char*> argv;
  for (const std::string& word : command) {
    argv.push_back(const_cast<char*>(word.c_str()));
  }
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (max_status > 0) {
    // The failures taken are expected: their messages would only hide the figures.
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  }
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
    std::perror(argv[0]);
    std::exit(1);
  }
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  if (!WIFEXITED(status) || WEXITSTATUS(status) > max_status) {
    std::fprintf(stderr, "%s failed\n", argv[0]);
    std::exit(1);
  }
  auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Spread {
  double median, least, most;
};

inline Spread spread(std::vector<double> ratios) {
  std::sort(ratios.begin(), ratios.end());
  size_t n = ratios.size();
  double median = n % 2 ? ratios[n / 2] : (ratios[n / 2 - 1] + ratios[n / 2]) / 2;
  return {median, ratios.front(), ratios.back()};
}

}  // namespace

#endif
