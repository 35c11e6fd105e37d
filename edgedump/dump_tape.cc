// The run of edgedump; see edgedump.h.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "edgedump.h"
#include "load_tape.h"
#include "pulse_dump.h"
#include "tape.h"

namespace {

LineWriter writer;  // 64 KiB: too large for the stack of every platform

}  // namespace

int dump_tape_edges(const char* input, const char* output) {
  // The input is read and released before the output is touched, so a bad
  // input leaves an existing output alone, and one file may be both.
  LoadedTape loaded = load_tape(input);
  if (loaded.problem != TapeProblem::None) {
    report_tape_problem(input, loaded);
    return 1;
  }
  TapePtr tape = std::move(loaded.tape);

  // A named pulse file is replaced whole; one that is new keeps the lines
  // written before a failure.
  ReplacedFile destination;
  bool to_standard_output = output[0] == '-';
  int opened = to_standard_output ? 0 : destination.open(output);
  if (opened != 0) {
    std::fprintf(stderr, "%s: error opening pulse file for writing: %s\n", program_name,
                 std::strerror(opened));
    return 1;
  }
  std::FILE* out = to_standard_output ? stdout : destination.stream();

  line_writer_init(&writer, out);
  int walked = 0;
  {
    CurrentFile playing(input);
    walked = dump_pulses(tape.get(), &writer);
  }
  if (walked != 0) {
    int block = -1;
    {
      QuietLibrary asking;
      (void)libspectrum_tape_position(&block, tape.get());
    }
    std::fprintf(stderr, "%s: `%s' is damaged: the walk failed in block %d\n", program_name,
                 visible_text(input).c_str(), block + 1);
    (void)line_writer_flush(&writer);
    if (to_standard_output) {
      (void)std::fclose(out);
    }
    destination.abandon(true);
    return 1;
  }

  // A line lost on the way out is a failure even when the close succeeds.
  int error = line_writer_flush(&writer);
  if (!to_standard_output) {
    if (error == 0) {
      error = destination.commit();
    }
    if (error != 0) {
      destination.abandon(true);
    }
  } else {
    if (error == 0 && std::fflush(out) != 0) {
      error = errno;
    }
    if (error == 0 && std::ferror(out)) {
      error = EIO;
    }
    if (std::fclose(out) != 0 && error == 0) {
      error = errno;
    }
  }
  if (error != 0) {
    std::fprintf(stderr, "%s: error closing pulse file: %s\n", program_name, std::strerror(error));
    return 1;
  }
  return 0;
}
