// The order in which libspectrum plays a tape's blocks, followed to see
// whether the tape ever ends.
#include <cstdint>
#include <vector>

#include "tape_check.h"

namespace {

// What playing order depends on, per block.
struct BlockStep {
  libspectrum_tape_type type;
  long long jump_offset;  // jumps only
  size_t loop_count;      // loop starts only
  size_t flow_before;     // jumps and loop blocks before this one
};

bool changes_flow(libspectrum_tape_type type) {
  return type == LIBSPECTRUM_TAPE_BLOCK_JUMP || type == LIBSPECTRUM_TAPE_BLOCK_LOOP_START ||
         type == LIBSPECTRUM_TAPE_BLOCK_LOOP_END;
}

// Where the player is between blocks: the block about to play, and the
// loop it is in (libspectrum keeps one loop at a time).
struct PlayState {
  size_t block;       // == block count once the tape has ended
  size_t loop_block;  // SIZE_MAX for none
  size_t loop_count;
  bool operator==(const PlayState& other) const {
    return block == other.block && loop_block == other.loop_block && loop_count == other.loop_count;
  }
};

// Plays one block's worth of control flow, as libspectrum's edge walk does.
// Returns false when the tape ends, or when a jump leaves it (which stops
// the walk with an error), and then sets `*jumped_out`.
bool step(const std::vector<BlockStep>& steps, PlayState* state, bool* jumped_out = nullptr) {
  const size_t count = steps.size();
  const BlockStep& b = steps[state->block];
  switch (b.type) {
    case LIBSPECTRUM_TAPE_BLOCK_JUMP: {
      long long target = static_cast<long long>(state->block) + b.jump_offset;
      if (target < 0 || target >= static_cast<long long>(count)) {
        if (jumped_out != nullptr) {
          *jumped_out = true;
        }
        return false;
      }
      state->block = static_cast<size_t>(target);
      return true;
    }
    case LIBSPECTRUM_TAPE_BLOCK_LOOP_START:
      if (state->block + 1 < count && b.loop_count != 0) {
        state->loop_block = state->block + 1;
        state->loop_count = b.loop_count;
      }
      break;
    case LIBSPECTRUM_TAPE_BLOCK_LOOP_END:
      if (state->loop_block != SIZE_MAX) {
        // A loop body that neither jumps nor touches a loop plays straight
        // back to here each time: go on as after its last round.
        if (state->loop_block <= state->block &&
            steps[state->block].flow_before == steps[state->loop_block].flow_before) {
          state->loop_count = 1;
        }
        if (--state->loop_count != 0) {
          state->block = state->loop_block;
          return true;
        }
        state->loop_block = SIZE_MAX;
      }
      break;
    default:
      break;
  }
  return ++state->block < count;
}

}  // namespace

PlayOrder follow_play_order(libspectrum_tape* tape, size_t* block) {
  std::vector<BlockStep> steps;
  libspectrum_tape_iterator it = nullptr;
  for (libspectrum_tape_block* b = libspectrum_tape_iterator_init(&it, tape); b != nullptr;
       b = libspectrum_tape_iterator_next(&it)) {
    BlockStep s{libspectrum_tape_block_type(b), 0, 0, 0};
    if (!steps.empty()) {
      const BlockStep& last = steps.back();
      s.flow_before = last.flow_before + (changes_flow(last.type) ? 1 : 0);
    }
    if (s.type == LIBSPECTRUM_TAPE_BLOCK_JUMP) {
      s.jump_offset = libspectrum_tape_block_offset(b);
    } else if (s.type == LIBSPECTRUM_TAPE_BLOCK_LOOP_START) {
      s.loop_count = libspectrum_tape_block_count(b);
    }
    steps.push_back(s);
  }
  if (steps.empty()) {
    return PlayOrder::Ends;
  }

  // Brent's cycle detection over the player's states: the states are finite
  // and each follows from the last, so a tape either ends or repeats a state.
  PlayState hare{0, SIZE_MAX, 0};
  PlayState tortoise = hare;
  uint64_t power = 1;
  uint64_t length = 0;
  for (;;) {
    bool jumped_out = false;
    size_t at = hare.block;
    if (!step(steps, &hare, &jumped_out)) {
      if (jumped_out) {
        *block = at;
        return PlayOrder::JumpsOutside;
      }
      return PlayOrder::Ends;
    }
    ++length;
    if (hare == tortoise) {
      break;
    }
    if (length == power) {
      tortoise = hare;
      power *= 2;
      length = 0;
    }
  }

  // Every endless path goes through a jump that leads back: name the first.
  for (uint64_t i = 0; i < length; ++i) {
    const BlockStep& s = steps[hare.block];
    if (s.type == LIBSPECTRUM_TAPE_BLOCK_JUMP && s.jump_offset <= 0) {
      *block = hare.block;
      return PlayOrder::Forever;
    }
    (void)step(steps, &hare);
  }
  *block = hare.block;
  return PlayOrder::Forever;
}

bool tape_plays_forever(libspectrum_tape* tape, size_t* block) {
  size_t at = 0;
  if (follow_play_order(tape, &at) != PlayOrder::Forever) {
    return false;
  }
  *block = at;
  return true;
}
