// For tests only: the system calls through which replace_output_file
// writes, flushes and renames its new file, so that a test can make one of
// them fail (a full disk, a failing device) or stop the run midway. Not part
// of the tools' interface: no tool includes this.
#ifndef QUILLKIT_HOST_OUTPUT_FILE_SEAM_H
#define QUILLKIT_HOST_OUTPUT_FILE_SEAM_H

#include <sys/types.h>

#include <cstddef>

namespace testing_seams {
using WriteFn = ssize_t (*)(int fd, const void* bytes, size_t count);
using FsyncFn = int (*)(int fd);
using RenameFn = int (*)(int from_folder, const char* from, int to_folder, const char* to);
// Null restores the system's call.
void set_output_calls(WriteFn write, FsyncFn fsync, RenameFn rename);
}  // namespace testing_seams

#endif
