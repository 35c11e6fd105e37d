// The fuzzing targets: each takes arbitrary bytes through one of the paths
// that untrusted input reaches. Used by the libFuzzer harnesses and by the
// regression tests that replay committed inputs.
#ifndef QUILLKIT_FUZZ_TARGETS_H
#define QUILLKIT_FUZZ_TARGETS_H

#include <cstddef>
#include <cstdint>

// Starts libspectrum as the tools do; call once before the targets.
void fuzz_startup();

// MDR bytes through libspectrum's parser and, as a cartridge of however
// many whole blocks the bytes hold, through the summary, the block listing
// and the file listing.
void fuzz_cartridge(const uint8_t* data, size_t size);

// Tape bytes (the first byte picks the format) through libspectrum's tape
// reader, the dumper's repairs and can-it-end check, and a capped edge walk.
void fuzz_tape(const uint8_t* data, size_t size);

// ZX-name conversion with a capacity taken from the first byte.
void fuzz_zx_name(const uint8_t* data, size_t size);

// The HDF header and data length for a geometry taken from the bytes.
void fuzz_hdf(const uint8_t* data, size_t size);

#endif
