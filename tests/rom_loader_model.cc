// The ROM loader model; see rom_loader_model.h.
//
// How the ROM loads (the 48K ROM's LD-BYTES at 0x0556 and its helpers):
// LD-EDGE-1 waits a fixed delay, then samples the EAR bit in a loop,
// counting passes in register B from the value its caller set; it returns
// when the bit differs from the last level it saw (an edge), or fails when
// B wraps to 0 (too long without an edge). LD-EDGE-2 is two LD-EDGE-1s. The
// caller judges a pulse by the count B reached:
//   leader   B from 0x9C over two edges; more than 0xC6 (a pulse pair of
//            more than 42 passes) counts, 256 such pairs in a row make a
//            leader; a quicker pair starts the search again
//   sync     B from 0xC9 over one edge; an edge before B reaches 0xD4 (11
//            passes) is the first sync pulse, then one more edge (B going on)
//   bits     B from 0xB0 (0xB2 for a byte's first bit, for the work done
//            between bytes) over two edges; above 0xCB is a 1
// Before the leader it waits for a first edge, then about a second
// (HL = 0x0415 rounds of a 256-step DJNZ), so that noise at a tape's start
// is passed over.
#include "rom_loader_model.h"

namespace rom_model {

namespace {

constexpr uint64_t TSTATES_PER_SECOND = 3500000;

// LD-EDGE-1's start: the CALL (17), LD A,$16 (7), 21 rounds of DEC A and
// JR NZ (16 each), the last (4 + 7), and AND A (4): the ROM's 358.
constexpr uint64_t EDGE_DELAY = 358;
// One pass of LD-SAMPLE: INC B (4), RET Z (5), LD A,$7F (7), IN A,($FE)
// (11), RRA (4), RET NC (5), XOR C (4), AND $20 (7), JR Z (12).
constexpr uint64_t SAMPLE_PASS = 59;
// Where in the pass the port is read: at the end of IN's 11 T-states.
constexpr uint64_t SAMPLE_POINT = 4 + 5 + 7 + 11;
// From that read to LD-EDGE-1's return on an edge: the rest of the pass
// with JR Z not taken (4 + 5 + 4 + 7 + 7), then LD A,C; CPL; LD C,A; AND $07;
// OR $08; OUT ($FE),A; SCF; RET (4 + 4 + 4 + 7 + 7 + 11 + 4 + 10).
constexpr uint64_t EDGE_RETURN = 27 + 51;
// Between two LD-EDGE-2 calls of the bit loop: RET NC (5), LD A,$CB (7),
// CP B (4), RL L (8), LD B,$B0 (7), JP NC (10).
constexpr uint64_t BIT_STEP = 41;
// Between two LD-EDGE-2 calls of the leader loop: RET NC, LD A,$C6, CP B,
// JR NC, INC H, JR NZ (12), LD B,$9C: 5 + 7 + 4 + 7 + 4 + 12 + 7.
constexpr uint64_t LEADER_STEP = 46;
// The sync loop: LD B,$C9 (7), then after the edge RET NC... LD A,B (4),
// CP $D4 (7), JR NC (12).
constexpr uint64_t SYNC_STEP = 35;
// The work between two bytes (storing, counting, parity), which B = 0xB2
// instead of 0xB0 stands for: about two passes.
constexpr uint64_t BYTE_STEP = 2 * SAMPLE_PASS;
// The wait after the first edge: 0x0415 rounds of 256 DJNZ passes (13 each)
// and the count (DEC HL, LD A,H, OR L, JR NZ: 26).
constexpr uint64_t START_WAIT = 0x0415 * (256 * 13 + 26);

struct Loader {
  const Ear& ear;
  uint64_t t;
  int level;      // the level last seen, as the ROM keeps it in C
  uint8_t b = 0;  // register B

  // LD-EDGE-1. True on an edge, false when B wrapped (or the sound ended).
  bool edge1() {
    t += EDGE_DELAY;
    for (;;) {
      ++b;
      if (b == 0) {
        t += 9;  // INC B, RET Z taken
        return false;
      }
      if (t > ear.end()) {
        return false;
      }
      int bit = ear.bit_at(t + SAMPLE_POINT);
      if (bit != level) {
        level = bit;
        t += SAMPLE_POINT + EDGE_RETURN;
        return true;
      }
      t += SAMPLE_PASS;
    }
  }

  bool edge2() { return edge1() && edge1(); }
};

}  // namespace

int Ear::bit_at(uint64_t tstate) const {
  uint64_t index =
      tstate / TSTATES_PER_SECOND * rate + tstate % TSTATES_PER_SECOND * rate / TSTATES_PER_SECOND;
  return index < samples.size() && samples[static_cast<std::vector<short>::size_type>(index)] > 0 ? 1 : 0;
}

uint64_t Ear::end() const {
  return samples.size() / rate * TSTATES_PER_SECOND +
         samples.size() % rate * TSTATES_PER_SECOND / rate;
}

Loaded load_bytes(const Ear& ear, uint64_t* tstate, unsigned char flag, uint16_t length) {
  Loader rom{ear, *tstate, ear.bit_at(*tstate)};
  Loaded result;
  for (;;) {
    // LD-START: a first edge, the wait, and an edge to time from.
    for (;;) {
      if (rom.t > ear.end()) {
        result.timed_out = true;
        *tstate = rom.t;
        return result;
      }
      if (rom.edge1()) {
        break;
      }
    }
    rom.t += START_WAIT;
    if (!rom.edge2()) {
      continue;
    }
    // LD-LEADER: 256 pulse pairs, each longer than 42 passes.
    bool leader = true;
    for (int pairs = 0; pairs < 256; ++pairs) {
      rom.b = 0x9C;
      if (!rom.edge2() || rom.b <= 0xC6) {
        leader = false;
        break;
      }
      rom.t += LEADER_STEP;
    }
    if (!leader) {
      continue;
    }
    // LD-SYNC: the first edge that comes within 11 passes, then one more.
    bool sync = false;
    for (;;) {
      rom.b = 0xC9;
      if (!rom.edge1()) {
        break;
      }
      rom.t += SYNC_STEP;
      if (rom.b < 0xD4) {
        sync = rom.edge1();
        break;
      }
    }
    if (!sync) {
      continue;
    }
    break;
  }

  // The bytes: the flag, `length` bytes, the parity byte.
  unsigned parity = 0;
  rom.b = 0xB0;
  for (uint32_t index = 0; index < uint32_t{length} + 2; ++index) {
    unsigned byte = 1;  // L = 1: the marker bit that leaves after eight shifts
    bool more = true;
    while (more) {
      if (!rom.edge2()) {
        *tstate = rom.t;
        return result;
      }
      unsigned bit = rom.b > 0xCB ? 1 : 0;
      more = (byte & 0x80) == 0;
      byte = ((byte << 1) | bit) & 0xFF;
      rom.b = 0xB0;
      rom.t += BIT_STEP;
    }
    parity ^= byte;
    if (index == 0 && byte != flag) {
      *tstate = rom.t;
      return result;  // LD-FLAG: another block
    }
    if (index > 0 && index <= length) {
      result.data.push_back(static_cast<unsigned char>(byte));
    }
    rom.b = 0xB2;
    rom.t += BYTE_STEP;
  }
  *tstate = rom.t;
  result.ok = parity == 0;
  return result;
}

}  // namespace rom_model
