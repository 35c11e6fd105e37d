// For tests only: the allocator through which the catalogue takes its
// memory, so that a test can make an allocation fail. No tool includes
// this header.
#ifndef QUILLKIT_CARTRIDGE_CATALOGUE_SEAM_H
#define QUILLKIT_CARTRIDGE_CATALOGUE_SEAM_H

#include <cstddef>

namespace testing_seams {
// calloc by default; null restores it.
using CatalogueCalloc = void* (*)(size_t count, size_t size);
void set_catalogue_calloc(CatalogueCalloc allocate);
}  // namespace testing_seams

#endif
