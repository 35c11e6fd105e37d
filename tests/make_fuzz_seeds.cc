// Writes seed inputs for the fuzzing harnesses, one folder per target, from
// the test suite's image builders.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "fixtures/mdr_builder.h"
#include "fixtures/tape_builder.h"

using fixtures::Bytes;
using fixtures::TzxBuilder;

namespace {

void seed(const std::string& dir, const std::string& name, const Bytes& bytes) {
  mkdir(dir.c_str(), 0777);
  fixtures::write_file(dir + "/" + name, bytes);
}

// Tape seeds start with the byte that picks the format.
Bytes tape_seed(uint8_t type, const Bytes& image) {
  Bytes out(image.size() + 1);
  out[0] = type;
  std::copy(image.begin(), image.end(), out.begin() + 1);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <directory>\n", argv[0]);
    return 1;
  }
  std::string root = argv[1];
  mkdir(root.c_str(), 0777);

  std::string cartridges = root + "/cartridge";
  seed(cartridges, "sample.mdr", fixtures::sample_cartridge().image());
  fixtures::MdrBuilder damaged("DAMAGED");
  damaged.add_file("prog", Bytes(700, 0x20));
  damaged.block(0).spoil_data_checksum = true;
  damaged.block(1).record_length = 513;
  damaged.add_free_blocks(8);
  damaged.set_write_protect(1);
  seed(cartridges, "damaged.mdr", damaged.image());

  std::string tapes = root + "/tape";
  seed(tapes, "rom.tap", tape_seed(1, fixtures::tap_block(0xFF, {1, 2, 3})));
  seed(tapes, "blocks.tzx",
       tape_seed(2, TzxBuilder()
                        .group_start("g")
                        .pure_tone(2168, 20)
                        .pulses({667, 735})
                        .pure_data(855, 1710, 8, 1, {0xA5, 0x5A})
                        .turbo(2000, 600, 700, 800, 1600, 10, 8, 0, {0x42})
                        .loop_start(3)
                        .pulses({100})
                        .loop_end()
                        .jump(2)
                        .pause(0)
                        .set_level(1)
                        .stop_if_48k()
                        .text("seed")
                        .group_end()
                        .image()));
  seed(tapes, "endless.tzx", tape_seed(2, TzxBuilder().pulses({5}).jump(-1).image()));
  seed(tapes, "silent.tzx", tape_seed(2, TzxBuilder().pure_tone(5, 0).pulses({}).image()));
  fixtures::PzxBuilder pzx;
  pzx.pulses({{3, 500}, {1, 70000}}).stop().pause(1000, true);
  seed(tapes, "stop.pzx", tape_seed(9, pzx.image()));
  // Every block kind with each count and length field at its edges.
  int variant = 0;
  for (const fixtures::BlockVariant& v : fixtures::block_field_variants()) {
    bool is_pzx = v.name.compare(0, 3, "PZX") == 0;
    seed(tapes, "field-" + std::to_string(variant++), tape_seed(is_pzx ? 9 : 2, v.image));
  }

  std::string names = root + "/zx_name";
  seed(names, "tokens", Bytes{91, 'r', 'u', 'n', 0xF9, 0x80, 0x8F, 0x90, 0x5C, 0x60, 0x7F});
  seed(names, "tight", Bytes{4, 'a', 'b', 'c', ' ', ' '});

  std::string geometries = root + "/hdf";
  seed(geometries, "chs", Bytes{0x00, 0x04, 0, 0, 16, 0, 0, 0, 63, 0, 0, 0, 2});
  seed(geometries, "negative", Bytes{0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0, 1, 0, 0, 0, 1});
  return 0;
}
