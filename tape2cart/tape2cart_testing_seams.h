// Test-only hooks into tape2cart's run; the tool itself never includes this
// header.
#ifndef QUILLKIT_TAPE2CART_TAPE2CART_TESTING_SEAMS_H
#define QUILLKIT_TAPE2CART_TAPE2CART_TESTING_SEAMS_H

namespace testing_seams {
// The call that locks the cartridge (flock), replaceable by tests to reach
// its failures; null restores it.
using LockCall = int (*)(int fd, int operation);
void set_lock_call(LockCall lock);
}  // namespace testing_seams

#endif
