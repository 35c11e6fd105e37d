// The edge record: one step of libspectrum's edge walk, with its level.
#include "adapter.h"

namespace adapter {

int tape_get_next_edge(EdgeRecord* record, libspectrum_tape* tape) {
  libspectrum_dword tstates = 0;
  int flags = 0;
  libspectrum_error error = libspectrum_tape_get_next_edge(&tstates, &flags, tape);
  if (error != LIBSPECTRUM_ERROR_NONE) {
    return error;
  }
  record->duration = tstates;
  record->flags = static_cast<uint32_t>(flags);
  record->edge = (flags & LIBSPECTRUM_TAPE_FLAGS_NO_EDGE) ? 0 : 1;
  if (record->edge) {
    record->level = record->level ? 0 : 1;
  }
  if (flags & LIBSPECTRUM_TAPE_FLAGS_LEVEL_LOW) {
    record->level = 0;
  }
  if (flags & LIBSPECTRUM_TAPE_FLAGS_LEVEL_HIGH) {
    record->level = 1;
  }
  return 0;
}

}  // namespace adapter
