// The allocators the tools hand to libspectrum, and the watch that lets a
// failed tape parse give back what the library lost on the way.
#ifndef QUILLKIT_HOST_ALLOCATORS_H
#define QUILLKIT_HOST_ALLOCATORS_H

#include <cstddef>

// Installs allocators whose malloc hands out zeroed memory (libspectrum
// leaves some fields of its blocks unset) and which end the run with
// "memory exhausted" when memory runs out, where libspectrum would abort.
// The same goes for GLib, which libspectrum allocates its lists with, when
// the process has it. Call before libspectrum_init.
void install_library_allocators();

// From begin_watch to end_watch, every block that libspectrum allocates
// and has not freed is remembered, exactly, and `kept` (the caller's tape)
// cannot be freed: libspectrum 1.5.0's Warajevo reader frees the tape it
// was given when it fails.
void begin_watch(void* kept);

// True when something tried to free the watch's `kept` block since
// begin_watch.
bool kept_was_freed();

// Ends the watch. With `release`, every block still remembered is freed.
void end_watch(bool release);

#endif
