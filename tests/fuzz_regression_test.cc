// Replays the committed fuzzing inputs (seeds and every input that once
// found a fault) through their targets; under the sanitizer build a fault
// that comes back fails here.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "targets.h"

namespace {

void replay(const char* target, void (*run)(const uint8_t*, size_t)) {
  std::filesystem::path dir = std::filesystem::path(FUZZ_INPUTS) / target;
  ASSERT_TRUE(std::filesystem::is_directory(dir)) << dir;
  int inputs = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    SCOPED_TRACE(entry.path().string());
    run(bytes.data(), bytes.size());
    ++inputs;
  }
  EXPECT_GT(inputs, 0);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  fuzz_startup();
  return RUN_ALL_TESTS();
}

TEST(FuzzInputs, Cartridge) {
  replay("cartridge", fuzz_cartridge);
}
TEST(FuzzInputs, Tape) {
  replay("tape", fuzz_tape);
}
TEST(FuzzInputs, ZxName) {
  replay("zx_name", fuzz_zx_name);
}
TEST(FuzzInputs, Hdf) {
  replay("hdf", fuzz_hdf);
}
