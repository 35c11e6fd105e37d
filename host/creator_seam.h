// For tests only: the system call that describes the host for creator
// records, so that a test can make it fail. No tool includes this header.
#ifndef QUILLKIT_HOST_CREATOR_SEAM_H
#define QUILLKIT_HOST_CREATOR_SEAM_H

#include <sys/utsname.h>

namespace testing_seams {
// uname by default; null restores it.
using UnameFn = int (*)(struct utsname* names);
void set_uname(UnameFn describe);
}  // namespace testing_seams

#endif
