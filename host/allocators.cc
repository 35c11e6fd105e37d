// libspectrum's allocators; see allocators.h.
#include "allocators.h"

#include <dlfcn.h>
#include <libspectrum.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common.h"

namespace {

// A set of pointers that never throws: open addressing with linear probing
// over a power-of-two table from calloc, grown at half full. Running out of
// memory while growing ends the run like any other exhaustion.
class BlockSet {
 public:
  void insert(void* block) {
    if (2 * (used_ + 1) > capacity_) {
      grow();
    }
    size_t i = home(block);
    while (slots_[i] != nullptr) {
      if (slots_[i] == block) {
        return;
      }
      i = (i + 1) & (capacity_ - 1);
    }
    slots_[i] = block;
    ++used_;
  }

  // Returns true when `block` was in the set.
  bool erase(void* block) {
    if (capacity_ == 0) {
      return false;
    }
    size_t i = home(block);
    while (slots_[i] != block) {
      if (slots_[i] == nullptr) {
        return false;
      }
      i = (i + 1) & (capacity_ - 1);
    }
    // Shift back the entries after the hole that belong before it.
    size_t hole = i;
    for (size_t j = (hole + 1) & (capacity_ - 1); slots_[j] != nullptr;
         j = (j + 1) & (capacity_ - 1)) {
      size_t want = home(slots_[j]);
      if (((j - want) & (capacity_ - 1)) >= ((j - hole) & (capacity_ - 1))) {
        slots_[hole] = slots_[j];
        hole = j;
      }
    }
    slots_[hole] = nullptr;
    --used_;
    return true;
  }

  // Frees every block in the set and empties it, table included.
  void release_all() {
    for (size_t i = 0; i < capacity_; ++i) {
      std::free(slots_[i]);
    }
    clear();
  }

  void clear() {
    std::free(slots_);
    slots_ = nullptr;
    capacity_ = 0;
    used_ = 0;
  }

 private:
  size_t home(const void* block) const {
    auto key = reinterpret_cast<uintptr_t>(block) >> 4;
    return static_cast<size_t>((key * UINT64_C(0x9E3779B97F4A7C15)) >> 16) & (capacity_ - 1);
  }

  void grow() {
    size_t old_capacity = capacity_;
    void** old_slots = slots_;
    capacity_ = old_capacity == 0 ? 256 : old_capacity * 2;
    slots_ = static_cast<void**>(std::calloc(capacity_, sizeof(void*)));
    if (slots_ == nullptr) {
      memory_exhausted();
    }
    used_ = 0;
    for (size_t i = 0; i < old_capacity; ++i) {
      if (old_slots[i] != nullptr) {
        insert(old_slots[i]);
      }
    }
    std::free(old_slots);
  }

  void** slots_ = nullptr;
  size_t capacity_ = 0;
  size_t used_ = 0;
};

bool watching = false;
BlockSet watched;
void* kept_alive = nullptr;
bool kept_alive_freed = false;

// libspectrum aborts when an allocation fails; the tools end the run with a
// message instead.
void* checked(void* block, bool wanted) {
  if (block == nullptr && wanted) {
    memory_exhausted();
  }
  if (watching && block != nullptr) {
    watched.insert(block);
  }
  return block;
}

// libspectrum leaves some fields of the blocks it builds unset; handing it
// zeroed memory makes every run over the same file behave the same.
void* zeroed_malloc(size_t size) {
  return checked(std::calloc(1, size), size != 0);
}

void* checked_calloc(size_t count, size_t size) {
  return checked(std::calloc(count, size), count != 0 && size != 0);
}

void* checked_realloc(void* old_block, size_t size) {
  // A block grown during the watch, or a watched one moved, is watched; one
  // that realloc frees (a size of 0) is not. A failure ends the run, so the
  // old block can leave the set first.
  bool was_watched = watching && (old_block == nullptr || watched.erase(old_block));
  void* block = std::realloc(old_block, size);
  if (block == nullptr && size != 0) {
    memory_exhausted();
  }
  if (was_watched && block != nullptr) {
    watched.insert(block);
  }
  return block;
}

void checked_free(void* block) {
  if (block == nullptr) {
    return;
  }
  if (block == kept_alive) {
    kept_alive_freed = true;
    return;
  }
  if (watching) {
    (void)watched.erase(block);
  }
  std::free(block);
}

libspectrum_mem_vtable_t library_allocators = {zeroed_malloc, checked_calloc, checked_realloc,
                                               checked_free};

// GLib's part, for a libspectrum built with it. GLib ends the process with a
// fatal "failed to allocate" message when memory runs out; its log writer is
// looked up at run time, so the tools neither build nor run against GLib
// themselves.
struct GLogField {
  const char* key;
  const void* value;
  ssize_t length;
};
using GLogWriterFunc = int (*)(int level, const GLogField* fields, size_t count, void* data);
using SetWriterFunc = void (*)(GLogWriterFunc writer, void* data, void (*destroy)(void*));
GLogWriterFunc default_writer = nullptr;
constexpr int G_LOG_LEVEL_ERROR = 1 << 2;

int glib_writer(int level, const GLogField* fields, size_t count, void* data) {
  if (level & G_LOG_LEVEL_ERROR) {
    for (size_t i = 0; i < count; ++i) {
      if (std::strcmp(fields[i].key, "MESSAGE") == 0 && fields[i].length < 0 &&
          std::strstr(static_cast<const char*>(fields[i].value), "failed to allocate")) {
        memory_exhausted();
      }
    }
  }
  return default_writer(level, fields, count, data);
}

void install_glib_writer() {
  auto set_writer = reinterpret_cast<SetWriterFunc>(dlsym(RTLD_DEFAULT, "g_log_set_writer_func"));
  default_writer = reinterpret_cast<GLogWriterFunc>(dlsym(RTLD_DEFAULT, "g_log_writer_default"));
  if (set_writer != nullptr && default_writer != nullptr) {
    set_writer(glib_writer, nullptr, nullptr);
  }
}

}  // namespace

void install_library_allocators() {
  static bool installed = false;
  if (!installed) {
    install_glib_writer();
    installed = true;
  }
  libspectrum_mem_set_vtable(&library_allocators);
}

void begin_watch(void* kept) {
  watching = true;
  kept_alive = kept;
  kept_alive_freed = false;
}

bool kept_was_freed() {
  return kept_alive_freed;
}

void end_watch(bool release) {
  watching = false;
  if (release) {
    watched.release_all();
  } else {
    watched.clear();
  }
  kept_alive = nullptr;
}
