// A model of the Spectrum ROM's tape loader (LD-BYTES and its edge timer
// LD-EDGE-1), for judging whether a sound loads: it reads the EAR bit from
// samples as the ROM reads it from the port, at the ROM's own T-state
// counts, and loads a block as LD-BYTES would.
#ifndef QUILLKIT_TESTS_ROM_LOADER_MODEL_H
#define QUILLKIT_TESTS_ROM_LOADER_MODEL_H

#include <cstdint>
#include <vector>

namespace rom_model {

// A sound as the EAR input sees it: one sample every 1/rate seconds, the
// bit high while a sample is above zero.
struct Ear {
  std::vector<short> samples;
  uint32_t rate = 44100;
  // The EAR bit at `tstate` (3.5 MHz clock); 0 after the sound ends.
  int bit_at(uint64_t tstate) const;
  // The T-state of the end of the sound.
  uint64_t end() const;
};

struct Loaded {
  bool ok = false;                  // the flag matched and the checksum was right
  bool timed_out = false;           // the sound ended before a block loaded
  std::vector<unsigned char> data;  // the bytes after the flag, as loaded
};

// Runs LD-BYTES from `*tstate` on: waits for a leader, its sync pulses,
// then reads the flag (which must be `flag`), `length` bytes and the
// parity byte. `*tstate` moves past what was read.
Loaded load_bytes(const Ear& ear, uint64_t* tstate, unsigned char flag, uint16_t length);

}  // namespace rom_model

#endif
