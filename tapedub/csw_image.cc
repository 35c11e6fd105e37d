// A tape as a CSW 2 image; see tapedub.h.
//
// libspectrum's own CSW writer counts a whole number of T-states to a
// sample (79 at 44,100 Hz, 0.46% fast), so the image is made here, from the
// edge times themselves. The layout of a CSW 2 file:
//   offset size
//   0x00   22  "Compressed Square Wave"
//   0x16    1  0x1A
//   0x17    2  version 2.0 (major, minor)
//   0x19    4  sample rate
//   0x1D    4  number of pulses
//   0x21    1  compression: 1, run-length
//   0x22    1  flags: bit 0 set when the signal starts high
//   0x23    1  length of a header extension: 0
//   0x24   16  the application that wrote it, NUL-padded
//   0x34       the pulses, each its length in samples: a byte of 1 to 255,
//              or 0 and a 32-bit length
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "host.h"
#include "little_endian.h"
#include "signal_walk.h"
#include "tapedub.h"

namespace {

constexpr char CSW_SIGNATURE[] = "Compressed Square Wave\x1A";
constexpr size_t CSW_SIGNATURE_SIZE = 23;
constexpr size_t CSW_RATE = 0x19;
constexpr size_t CSW_PULSES = 0x1D;
constexpr size_t CSW_COMPRESSION = 0x21;
constexpr size_t CSW_FLAGS = 0x22;
constexpr size_t CSW_APPLICATION = 0x24;
constexpr size_t CSW_APPLICATION_SIZE = 16;
constexpr size_t CSW_HEADER_SIZE = 0x34;
constexpr unsigned char CSW_RLE = 1;
constexpr unsigned char CSW_STARTS_HIGH = 0x01;

// Codes each stretch between changes of level as a pulse.
class PulseCoder final {
 public:
  explicit PulseCoder(std::vector<unsigned char>* image) : image_(image) {}

  [[nodiscard]] int change(uint64_t sample, int level) {
    if (sample == 0) {
      starts_high_ = level != 0;  // the first change, at the very start
      return 0;
    }
    uint64_t length = sample - last_;
    if (length > UINT32_MAX || pulses_ == UINT32_MAX) {
      return EOVERFLOW;
    }
    if (length <= 0xFF) {
      image_->push_back(static_cast<unsigned char>(length));
    } else {
      unsigned char word[5] = {0};
      write_le32(word + 1, static_cast<uint32_t>(length));
      image_->insert(image_->end(), word, word + sizeof word);
    }
    last_ = sample;
    ++pulses_;
    return 0;
  }

  uint32_t pulses() const { return pulses_; }
  bool starts_high() const { return starts_high_; }

 private:
  std::vector<unsigned char>* image_;
  uint64_t last_ = 0;
  uint32_t pulses_ = 0;
  bool starts_high_ = false;
};

}  // namespace

int csw_image(libspectrum_tape* tape, const DubOptions& options, const char* input,
              std::vector<unsigned char>* image) {
  image->assign(CSW_HEADER_SIZE, 0);
  PulseCoder coder(image);
  SignalEnd end;
  {
    CurrentFile playing(input);
    end = walk_signal(tape, options.rate, &coder);
  }
  if (end.walk_error != 0) {
    std::fprintf(stderr, "%s: `%s' is damaged: the walk failed in block %d\n", program_name,
                 visible_text(input).c_str(), end.block);
    return 1;
  }
  if (end.sink_error != 0) {
    std::fprintf(stderr, "%s: `%s' has more pulses, or longer, than a CSW file holds\n",
                 program_name, visible_text(input).c_str());
    return 1;
  }
  // The image ends with the last edge, which ends the last pulse; the
  // silence after it has no edge to end it.
  unsigned char* header = image->data();
  std::memcpy(header, CSW_SIGNATURE, CSW_SIGNATURE_SIZE);
  header[CSW_SIGNATURE_SIZE] = 2;
  header[CSW_SIGNATURE_SIZE + 1] = 0;
  write_le32(header + CSW_RATE, options.rate);
  write_le32(header + CSW_PULSES, coder.pulses());
  header[CSW_COMPRESSION] = CSW_RLE;
  header[CSW_FLAGS] = coder.starts_high() != options.invert ? CSW_STARTS_HIGH : 0;
  static constexpr char APPLICATION[] = "tapedub";
  static_assert(sizeof APPLICATION <= CSW_APPLICATION_SIZE, "the name fits, with its NUL");
  std::memcpy(header + CSW_APPLICATION, APPLICATION, sizeof APPLICATION);
  return 0;
}
