// Creator records and the host description they carry.
#include <sys/utsname.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "config.h"
#include "creator_seam.h"
#include "host.h"

namespace {

constexpr size_t HOST_DESCRIPTION_SIZE = 256;
constexpr size_t CUSTOM_TEXT_SIZE = 512;

testing_seams::UnameFn uname_fn = ::uname;

// Releases a half-built record and passes its error on.
int fail_creator(libspectrum_creator** creator, int error) {
  libspectrum_creator_free(*creator);
  *creator = nullptr;
  return error;
}

}  // namespace

namespace testing_seams {
void set_uname(UnameFn describe) {
  uname_fn = describe != nullptr ? describe : ::uname;
}
}  // namespace testing_seams

void pack_creator_version(const char* version, uint16_t* major, uint16_t* minor) {
  unsigned parts[4] = {0, 0, 0, 0};
  (void)std::sscanf(version, "%u.%u.%u.%u", &parts[0], &parts[1], &parts[2], &parts[3]);
  for (unsigned& part : parts) {
    if (part > 255) {
      part = 255;
    }
  }
  *major = static_cast<uint16_t>(parts[0] * 256 + parts[1]);
  *minor = static_cast<uint16_t>(parts[2] * 256 + parts[3]);
}

int describe_host_system(char* buffer, size_t size) {
  struct utsname host {};
  if (uname_fn(&host) < 0) {
    std::fprintf(stderr, "%s: error getting system information: %s", program_name,
                 std::strerror(errno));
    return 1;
  }
  (void)std::snprintf(buffer, size, "%s %s %s", host.sysname, host.machine, host.release);
  return 0;
}

int make_creator_record(libspectrum_creator** creator, const char* program) {
  // Step 1: the host description, before anything is allocated.
  char host[HOST_DESCRIPTION_SIZE];
  if (describe_host_system(host, sizeof host) != 0) {
    return 1;
  }

  // Step 2: the record with the program and its version.
  *creator = libspectrum_creator_alloc();
  int error = libspectrum_creator_set_program(*creator, program);
  if (error != 0) {
    return fail_creator(creator, error);
  }
  uint16_t major = 0;
  uint16_t minor = 0;
  pack_creator_version(QUILLKIT_VERSION, &major, &minor);
  error = libspectrum_creator_set_major(*creator, major);
  if (error == 0) {
    error = libspectrum_creator_set_minor(*creator, minor);
  }
  if (error != 0) {
    return fail_creator(creator, error);
  }

  // Step 3: the custom text; on success the record owns the block.
  auto* custom = static_cast<char*>(libspectrum_malloc_n(CUSTOM_TEXT_SIZE, 1));
  (void)std::snprintf(custom, CUSTOM_TEXT_SIZE, "libspectrum: %s\nuname: %s\n",
                      libspectrum_version(), host);
  error = libspectrum_creator_set_custom(*creator, reinterpret_cast<libspectrum_byte*>(custom),
                                         std::strlen(custom));
  if (error != 0) {
    libspectrum_free(custom);
    return fail_creator(creator, error);
  }
  return 0;
}
