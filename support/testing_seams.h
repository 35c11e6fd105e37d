// Test-only hooks into the shared tool support: replace a call that the
// module makes, so that tests can reach its failures. The tools never
// include this header.
#ifndef QUILLKIT_SUPPORT_TESTING_SEAMS_H
#define QUILLKIT_SUPPORT_TESTING_SEAMS_H

#include <sys/utsname.h>

#include <cstddef>

namespace testing_seams {
// The allocator the catalogue uses (calloc by default), so that tests can
// make an allocation fail. Pass null to restore calloc.
using CatalogueCalloc = void* (*)(size_t count, size_t size);
void set_catalogue_calloc(CatalogueCalloc allocate);

// The system call that describes the host for creator records (uname by
// default); null restores it.
using UnameFn = int (*)(struct utsname* names);
void set_uname(UnameFn describe);
}  // namespace testing_seams

#endif
