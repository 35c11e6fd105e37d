// tapedub: copies a ZX Spectrum tape image into another tape format, or
// into sound that a real Spectrum loads.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host.h"
#include "tapedub.h"

namespace {

void print_help() {
  std::printf(
      "Usage: %s [OPTION]... <tape file> <output file>\nCopies a tape image (TAP, TZX, PZX, CSW, WAV and the other formats libspectrum\nreads) into another format: TAP, TZX or CSW, or sound that a real Spectrum\nloads, WAV or FLAC. The output's format follows its name (.tap, .tzx, .csw,\n.wav, .flac) or -t; '-' writes to standard output. A recording (a sound\nfile, a CSW, a TZX direct recording) written as TZX or TAP is decoded into\nits data blocks, with a line on standard error for each block.\n\nOptions:\n  -t, --type=FORMAT  Write FORMAT: tap, tzx, csw, wav or flac.\n  -r, --rate=HZ      Samples a second of CSW, WAV and FLAC (8000 to 192000;\n                     44100 if not given).\n  -b, --bits=BITS    Bits a sample of WAV and FLAC: 8 or 16 (16 if not given).\n      --invert       Write the sound or CSW in the other polarity.\n      --keep-pulses  Decoding into TZX, keep what holds no data as pulses.\n      --no-decode    Copy a recording's signal as it is (a CSW or direct\n                     recording into TZX as direct recording); do not decode.\n  -h, --help         Display this help and exit.\n  -V, --version      Output version information and exit.\n\nExit status: 0 when the whole tape was written, 2 when a TAP was written\nwithout some blocks (or with blocks cut) or a decoded block's checksum is\nbad, 1 on failure.\n\n",
      program_name);
  print_help_tail("tapedub");
}

// The whole number in `text`, when it is one of `low` to `high`.
bool read_number(const char* text, unsigned long low, unsigned long high, unsigned long* value) {
  if (text[0] < '0' || text[0] > '9') {
    return false;
  }
  char* end = nullptr;
  errno = 0;
  unsigned long number = std::strtoul(text, &end, 10);
  if (errno != 0 || *end != '\0' || number < low || number > high) {
    return false;
  }
  *value = number;
  return true;
}

// Handles one option of the table. Returns false, after a message, for a
// value it refuses.
bool take_option(int c, DubOptions* options) {
  unsigned long number = 0;
  switch (c) {
    case 't':
      options->type = format_named(optarg);
      if (options->type == OutputFormat::Unknown || optarg[0] == '.') {
        std::fprintf(stderr, "%s: unknown format '%s'; it is tap, tzx, csw, wav or flac\n",
                     program_name, visible_text(optarg).c_str());
        return false;
      }
      return true;
    case 'r':
      if (!read_number(optarg, MIN_RATE, MAX_RATE, &number)) {
        std::fprintf(stderr, "%s: invalid rate '%s'; it is 8000 to 192000 samples a second\n",
                     program_name, visible_text(optarg).c_str());
        return false;
      }
      options->rate = static_cast<uint32_t>(number);
      options->rate_given = true;
      return true;
    case 'b':
      if (std::strcmp(optarg, "8") != 0 && std::strcmp(optarg, "16") != 0) {
        std::fprintf(stderr, "%s: invalid bits '%s'; they are 8 or 16\n", program_name,
                     visible_text(optarg).c_str());
        return false;
      }
      options->bits = optarg[1] == '\0' ? 8 : 16;
      options->bits_given = true;
      return true;
    case 'i':
      options->invert = true;
      return true;
    case 'k':
      options->keep_pulses = true;
      return true;
    case 'n':
      options->no_decode = true;
      return true;
    default:
      report_bad_option(c);
      return false;
  }
}

}  // namespace

int main(int argc, char** argv) {
  start_tool(argv[0]);
  DubOptions options;
  int status = read_options(argc, argv, "tapedub", "t:r:b:hV",
                            {{"type", required_argument, nullptr, 't'},
                             {"rate", required_argument, nullptr, 'r'},
                             {"bits", required_argument, nullptr, 'b'},
                             {"invert", no_argument, nullptr, 'i'},
                             {"keep-pulses", no_argument, nullptr, 'k'},
                             {"no-decode", no_argument, nullptr, 'n'}},
                            print_help, [&](int c) { return take_option(c, &options); });
  if (status == -1 && argc - optind != 2) {
    status = usage_error("[OPTION]... <tape file> <output file>");
  }
  if (status >= 0) {
    return status | close_standard_output();
  }
  if (library_startup() != 0) {
    return TAPEDUB_FAILED;
  }
  status = dub_tape(argv[optind], argv[optind + 1], options);
  return close_standard_output() != 0 ? TAPEDUB_FAILED : status;
}
