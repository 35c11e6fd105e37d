// Test-only hooks into the image writer; blankide itself never includes this
// header.
#ifndef QUILLKIT_BLANKIDE_BLANKIDE_TESTING_SEAMS_H
#define QUILLKIT_BLANKIDE_BLANKIDE_TESTING_SEAMS_H

#include <sys/types.h>

#include <cstddef>

namespace testing_seams {
// The system calls the writer uses, replaceable by tests; null restores the
// real one.
using WriteFn = ssize_t (*)(int fd, const void* bytes, size_t count);
using CallocFn = void* (*)(size_t count, size_t size);
using CloseFn = int (*)(int fd);
void set_write(WriteFn write_fn);
void set_calloc(CallocFn calloc_fn);
void set_close(CloseFn close_fn);
}  // namespace testing_seams

#endif
