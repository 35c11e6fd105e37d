// The level of a tape over time, on the samples of a rate; see tapedub.h.
#ifndef QUILLKIT_TAPEDUB_SIGNAL_WALK_H
#define QUILLKIT_TAPEDUB_SIGNAL_WALK_H

#include "tape.h"
#include "tapedub.h"

template <class Sink>
SignalEnd walk_signal(libspectrum_tape* tape, uint32_t rate, Sink* sink) {
  const adapter::EdgeFlags flags = adapter::edge_flags();
  adapter::EdgeRecord record{};
  SignalEnd end;
  uint64_t now = 0;        // T-states since the start
  uint64_t last_edge = 0;  // when the last edge or change of level came
  uint64_t whole_samples = 0;  // the samples of the whole seconds of `now`
  uint64_t rest = 0;           // and the T-states past them
  bool any_edge = false;
  int walked_level = 0;         // the walk's level before the record
  int level = 0;                // the level that the sink has
  uint64_t pending_sample = 0;  // a change not yet given: it may be undone
  int pending_level = 0;        // on its sample
  bool pending = false;

  // A change goes to the sink once the walk has left its sample, so that
  // changes on one sample are merged.
  auto settle = [&]() -> int {
    if (pending && pending_level != level) {
      level = pending_level;
      ++end.changes;
      return sink->change(pending_sample, level);
    }
    return 0;
  };

  while ((record.flags & static_cast<uint32_t>(flags.tape_end)) == 0) {
    int error = adapter::tape_get_next_edge(&record, tape, flags);
    if (error != 0) {
      int block = -1;
      {
        QuietLibrary asking;
        (void)libspectrum_tape_position(&block, tape);
      }
      end.walk_error = error;
      end.block = block + 1;
      return end;
    }
    now += record.duration;
    // The sample of `now`, as sample_at gives it, from its whole seconds
    // kept apart: one division an edge instead of two.
    rest += record.duration;
    if (rest >= TSTATES_PER_SECOND) {
      whole_samples += rest / TSTATES_PER_SECOND * rate;
      rest %= TSTATES_PER_SECOND;
    }
    int after = record.level & 1;
    if (record.edge != 0 || after != walked_level) {
      last_edge = now;
      any_edge = true;
    }
    walked_level = after;
    uint64_t sample = whole_samples + (rest * rate + TSTATES_PER_SECOND / 2) / TSTATES_PER_SECOND;
    if (pending && sample == pending_sample) {
      pending_level = after;
      continue;
    }
    if (after == (pending ? pending_level : level)) {
      continue;
    }
    end.sink_error = settle();
    if (end.sink_error != 0) {
      return end;
    }
    pending = true;
    pending_sample = sample;
    pending_level = after;
  }
  end.sink_error = settle();
  end.end = sample_at(any_edge ? last_edge + END_PAUSE : now, rate);
  return end;
}

#endif
