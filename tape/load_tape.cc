// The way from a tape image to a playable tape; see load_tape.h.
#include "load_tape.h"

#include <cstdio>

#include "tape.h"

namespace {

LoadedTape problem(TapeProblem what, size_t block = 0) {
  return {nullptr, what, block, std::nullopt};
}

// A TZX image whose block at `offset` would be read outside the file: what
// comes before it is parsed alone, so that a file that libspectrum refuses
// for an earlier block, or for its header, gets libspectrum's own word, and
// the bad block is numbered as libspectrum numbers blocks.
LoadedTape refuse_oversized(const adapter::File& file, size_t offset, bool expanded) {
  adapter::File before = file;
  before.length = offset;
  TapePtr head(libspectrum_tape_alloc());
  if (read_tape_image(head.get(), before, expanded) != 0) {
    return problem(TapeProblem::Reported);
  }
  size_t blocks = 0;
  libspectrum_tape_iterator it = nullptr;
  for (auto* b = libspectrum_tape_iterator_init(&it, head.get()); b != nullptr;
       b = libspectrum_tape_iterator_next(&it)) {
    ++blocks;
  }
  return problem(TapeProblem::Unplayable, blocks + 1);
}

}  // namespace

LoadedTape parse_checked_tape(const adapter::File& file, bool expanded) {
  if (file.cut_short) {
    return problem(TapeProblem::CutShort);
  }
  size_t at = 0;
  if (find_oversized_tzx_block(file, &at)) {
    return refuse_oversized(file, at, expanded);
  }
  if (warajevo_chain_loops(file)) {
    return problem(TapeProblem::ChainLoops);
  }
  TapePtr tape(libspectrum_tape_alloc());
  if (read_tape_image(tape.get(), file, expanded) != 0 || repair_silent_blocks(tape.get()) != 0) {
    return problem(TapeProblem::Reported);
  }
  size_t block = 0;
  if (find_unplayable_block(tape.get(), &block)) {
    return problem(TapeProblem::Unplayable, block + 1);
  }
  switch (follow_play_order(tape.get(), &block)) {
    case PlayOrder::Forever:
      return problem(TapeProblem::PlaysForever, block + 1);
    case PlayOrder::JumpsOutside:
      return problem(TapeProblem::JumpsOutside, block + 1);
    case PlayOrder::Ends:
      break;
  }
  return {std::move(tape), TapeProblem::None, 0, std::nullopt};
}

LoadedTape load_tape(const char* path) {
  adapter::ScopedFile input;
  if (load_input_file(path, input.get(), adapter::TAPE_FILE_LIMIT) != 0) {
    return problem(TapeProblem::Reported);
  }
  return parse_checked_tape(*input.get());
}

LoadedTape load_tape_up_to_cut(const char* path) {
  adapter::ScopedFile input;
  if (load_input_file(path, input.get(), adapter::TAPE_FILE_LIMIT) != 0) {
    return problem(TapeProblem::Reported);
  }
  return parse_tape_up_to_cut(*input.get());
}

namespace {

// What is said about each problem: "<program>: `<path>' <text>", with the
// block number and the rest of the text after it where there is one.
struct ProblemText {
  TapeProblem problem;
  const char* text;
  const char* after_block;  // null: no block number
};

constexpr ProblemText PROBLEM_TEXTS[] = {
    {TapeProblem::CutShort, "is damaged: its compressed data is cut short or expands past 1 GiB",
     nullptr},
    {TapeProblem::Unplayable, "is damaged: block ", " cannot be played"},
    {TapeProblem::ChainLoops, "is damaged: its chain of blocks never ends", nullptr},
    {TapeProblem::PlaysForever, "never ends: block ", " jumps back forever"},
    {TapeProblem::JumpsOutside, "is damaged: block ", " jumps outside the tape"},
};

}  // namespace

void report_tape_problem(const char* path, const LoadedTape& loaded) {
  for (const ProblemText& entry : PROBLEM_TEXTS) {
    if (entry.problem != loaded.problem) {
      continue;
    }
    std::fprintf(stderr, "%s: `%s' %s", program_name, visible_text(path).c_str(), entry.text);
    if (entry.after_block != nullptr) {
      std::fprintf(stderr, "%zu%s", loaded.block, entry.after_block);
    }
    std::fputc('\n', stderr);
  }
}
