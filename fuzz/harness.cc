// One libFuzzer entry point; FUZZ_TARGET names the target function.
#include <cstddef>
#include <cstdint>

#include "targets.h"

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  fuzz_startup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FUZZ_TARGET(data, size);
  return 0;
}
