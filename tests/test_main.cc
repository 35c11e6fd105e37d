// Test entry point: libspectrum is started as the tools start it.
#include <gtest/gtest.h>

#include "host.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  program_name = "test";
  if (library_startup() != 0) {
    return 1;
  }
  return RUN_ALL_TESTS();
}
