// Test-only hooks into the cartridge lister; cartinfo itself never includes
// this header.
#ifndef QUILLKIT_CARTINFO_CARTINFO_TESTING_SEAMS_H
#define QUILLKIT_CARTINFO_CARTINFO_TESTING_SEAMS_H

#include <libspectrum.h>

namespace testing_seams {
// libspectrum's cartridge constructor and destructor as the lister calls
// them, replaceable by tests to reach their failures; null restores them.
using MicrodriveAlloc = libspectrum_microdrive* (*)();
using MicrodriveFree = libspectrum_error (*)(libspectrum_microdrive* cartridge);
void set_microdrive_calls(MicrodriveAlloc allocate, MicrodriveFree release);
}  // namespace testing_seams

#endif
