// The run of tapedub; see tapedub.h.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "decode.h"
#include "host.h"
#include "load_tape.h"
#include "tape.h"
#include "tapedub.h"

namespace {

const char* format_word(OutputFormat format) {
  switch (format) {
    case OutputFormat::Tap:
      return "TAP";
    case OutputFormat::Tzx:
      return "TZX";
    case OutputFormat::Csw:
      return "CSW";
    case OutputFormat::Wav:
      return "WAV";
    case OutputFormat::Flac:
      return "FLAC";
    case OutputFormat::Unknown:
      break;
  }
  return "unknown";
}

// The format to write, or Unknown after saying why there is none.
OutputFormat chosen_format(const char* output, bool to_standard_output, const DubOptions& options) {
  OutputFormat named = to_standard_output ? OutputFormat::Unknown : format_of_path(output);
  if (options.type != OutputFormat::Unknown) {
    if (named != OutputFormat::Unknown && named != options.type) {
      std::fprintf(stderr, "%s: `%s' is named as a %s file, but -t asks for %s\n", program_name,
                   visible_text(output).c_str(), format_word(named), format_word(options.type));
      return OutputFormat::Unknown;
    }
    return options.type;
  }
  if (named == OutputFormat::Unknown) {
    if (to_standard_output) {
      std::fprintf(stderr, "%s: give the format of standard output with -t\n", program_name);
    } else {
      std::fprintf(stderr,
                   "%s: `%s': unknown tape format; name it .tap, .tzx, .csw, .wav or .flac, or "
                   "give -t\n",
                   program_name, visible_text(output).c_str());
    }
  }
  return named;
}

// Writes `size` bytes to standard output. Returns 0, or 1 after "write
// error" with the system's reason.
int write_standard_output(const unsigned char* bytes, size_t size) {
  (void)std::fflush(stdout);
  int error = write_whole(STDOUT_FILENO, bytes, size);
  if (error != 0) {
    std::fprintf(stderr, "%s: write error: %s\n", program_name, std::strerror(error));
    return 1;
  }
  return 0;
}

// Writes a whole image to `output` or standard output. Returns 0 or 1.
int write_image(const char* output, bool to_standard_output, const unsigned char* bytes,
                size_t size) {
  return to_standard_output ? write_standard_output(bytes, size)
                            : replace_output_file(output, bytes, size);
}

// Copies what the descriptor `from` holds, from its start, to `to`.
// Returns 0 or an errno value.
int copy_descriptor(int from, int to) {
  if (lseek(from, 0, SEEK_SET) != 0) {
    return errno;
  }
  static unsigned char buffer[65536];
  for (;;) {
    ssize_t got = read(from, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      return errno;
    }
    if (got == 0) {
      return 0;
    }
    int error = write_whole(to, buffer, static_cast<uint64_t>(got));
    if (error != 0) {
      return error;
    }
  }
}

// The sound written to `fd`; through an unnamed temporary file when `fd`
// cannot seek (a pipe) or appends every write to its end (`>>`), as the
// sound file's header is written last, over its first bytes.
// Returns 0, 1 after a message, or -errno when copying to `fd` failed.
int sound_to_descriptor(libspectrum_tape* tape, int fd, OutputFormat format,
                        const DubOptions& options, const char* input, const char* output) {
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0 && (flags & O_APPEND) == 0 && lseek(fd, 0, SEEK_CUR) >= 0) {
    return write_sound(tape, fd, format, options, input, output);
  }
  Owned<std::FILE, std::fclose> temporary(std::tmpfile());
  if (temporary == nullptr) {
    std::fprintf(stderr, "%s: couldn't make a temporary file: %s\n", program_name,
                 std::strerror(errno));
    return 1;
  }
  int written = write_sound(tape, fileno(temporary.get()), format, options, input, output);
  if (written != 0) {
    return written;
  }
  int error = copy_descriptor(fileno(temporary.get()), fd);
  return error != 0 ? -error : 0;
}

int write_sound_output(libspectrum_tape* tape, const char* input, const char* output,
                       bool to_standard_output, OutputFormat format, const DubOptions& options) {
  if (to_standard_output) {
    (void)std::fflush(stdout);
    int written = sound_to_descriptor(tape, STDOUT_FILENO, format, options, input, "-");
    if (written < 0) {
      std::fprintf(stderr, "%s: write error: %s\n", program_name, std::strerror(-written));
    }
    return written != 0 ? 1 : 0;
  }
  ReplacedFile destination;
  int error = destination.open(output);
  if (error != 0) {
    std::fprintf(stderr, "%s: couldn't open `%s': %s\n", program_name, visible_text(output).c_str(),
                 std::strerror(error));
    return 1;
  }
  int written =
      sound_to_descriptor(tape, fileno(destination.stream()), format, options, input, output);
  if (written == 0) {
    error = destination.commit();
  } else if (written < 0) {
    error = -written;
  }
  if (written == 0 && error == 0) {
    return 0;
  }
  if (error != 0) {
    std::fprintf(stderr, "%s: couldn't write `%s': %s\n", program_name,
                 visible_text(output).c_str(), std::strerror(error));
  }
  destination.abandon(false);
  return 1;
}

// libspectrum writes a pause whose level is left to the player (as a TZX
// pause reads) as a pure tone of one pulse, whose 16-bit length cuts any
// pause over 18 ms; given the low level, it writes the TZX pause block
// itself, which reads back as it was read.
void keep_tzx_pauses(libspectrum_tape* tape) {
  libspectrum_tape_iterator it = nullptr;
  for (auto* block = libspectrum_tape_iterator_init(&it, tape); block != nullptr;
       block = libspectrum_tape_iterator_next(&it)) {
    if (libspectrum_tape_block_type(block) == LIBSPECTRUM_TAPE_BLOCK_PAUSE &&
        libspectrum_tape_block_level(block) == -1 &&
        libspectrum_tape_block_pause_tstates(block) ==
            libspectrum_tape_block_pause(block) * (TSTATES_PER_SECOND / 1000)) {
      (void)libspectrum_tape_block_set_level(block, 0);
    }
  }
}

// True when libspectrum reads the `length` bytes of the image it wrote.
bool reads_back(const libspectrum_byte* bytes, size_t length, libspectrum_id_t type) {
  QuietLibrary quiet;
  TapePtr copy(libspectrum_tape_alloc());
  return libspectrum_tape_read(copy.get(), bytes, length, type, nullptr) == LIBSPECTRUM_ERROR_NONE;
}

}  // namespace

int dub_tape(const char* input, const char* output, const DubOptions& options) {
  bool to_standard_output = std::strcmp(output, "-") == 0;
  OutputFormat format = chosen_format(output, to_standard_output, options);
  if (format == OutputFormat::Unknown) {
    return TAPEDUB_FAILED;
  }
  bool sound = format == OutputFormat::Wav || format == OutputFormat::Flac;
  bool sampled = sound || format == OutputFormat::Csw;
  if (options.bits_given && !sound) {
    std::fprintf(stderr, "%s: -b applies to WAV and FLAC output only\n", program_name);
    return TAPEDUB_FAILED;
  }
  if ((options.rate_given || options.invert) && !sampled) {
    std::fprintf(stderr, "%s: -r and --invert apply to CSW, WAV and FLAC output only\n",
                 program_name);
    return TAPEDUB_FAILED;
  }
  if (!output_allowed(input, output, "tape", "an output file")) {
    return TAPEDUB_FAILED;
  }

  if (options.keep_pulses && options.no_decode) {
    std::fprintf(stderr, "%s: --keep-pulses and --no-decode cannot go together\n", program_name);
    return TAPEDUB_FAILED;
  }
  if (options.keep_pulses && format != OutputFormat::Tzx) {
    std::fprintf(stderr, "%s: --keep-pulses applies to TZX output only\n", program_name);
    return TAPEDUB_FAILED;
  }
  // A recording into a tape of bytes is decoded.
  bool decoding = !options.no_decode && (format == OutputFormat::Tzx || format == OutputFormat::Tap);
  if (decoding) {
    int decoded = decode_sound_input(input, output, to_standard_output, format, options);
    if (decoded >= 0) {
      return decoded;
    }
  }

  // The input is read, parsed and released before the output is touched.
  LoadedTape loaded;
  libspectrum_id_t input_format = LIBSPECTRUM_ID_UNKNOWN;
  {
    adapter::ScopedFile file;
    if (load_input_file(input, file.get(), adapter::TAPE_FILE_LIMIT) != 0) {
      return TAPEDUB_FAILED;
    }
    input_format = file.get()->type;
    loaded = parse_checked_tape(*file.get());
  }
  if (loaded.problem != TapeProblem::None) {
    report_tape_problem(input, loaded);
    return TAPEDUB_FAILED;
  }
  libspectrum_tape* tape = loaded.tape.get();
  // A tape of sampled blocks alone is decoded whole; in a tape that also
  // holds other blocks, only the sampled ones are, and the others go
  // across as they are.
  size_t bad_checksums = 0;
  if (decoding && holds_recording(tape)) {
    if (!holds_other_blocks(tape)) {
      return decode_tape_input(tape, input, output, to_standard_output, format, options);
    }
    if (decode_sampled_blocks(tape, input, options, &bad_checksums) != 0) {
      return TAPEDUB_FAILED;
    }
  }

  if (sound) {
    return write_sound_output(tape, input, output, to_standard_output, format, options) != 0
               ? TAPEDUB_FAILED
               : TAPEDUB_WRITTEN;
  }
  if (format == OutputFormat::Csw) {
    std::vector<unsigned char> image;
    if (csw_image(tape, options, input, &image) != 0 ||
        write_image(output, to_standard_output, image.data(), image.size()) != 0) {
      return TAPEDUB_FAILED;
    }
    return TAPEDUB_WRITTEN;
  }

  int status = TAPEDUB_WRITTEN;
  TapePtr copy;
  libspectrum_tape* written = tape;
  if (format == OutputFormat::Tap) {
    bool partial = false;
    copy.reset(tap_blocks(tape, input_format, &partial));
    libspectrum_tape_iterator it = nullptr;
    if (libspectrum_tape_iterator_init(&it, copy.get()) == nullptr) {
      std::fprintf(stderr, "%s: `%s' holds no data block for a TAP; nothing written\n",
                   program_name, visible_text(input).c_str());
      return TAPEDUB_FAILED;
    }
    status = partial || bad_checksums > 0 ? TAPEDUB_PARTIAL : TAPEDUB_WRITTEN;
    written = copy.get();
  } else {
    status = bad_checksums > 0 ? TAPEDUB_PARTIAL : TAPEDUB_WRITTEN;
    keep_tzx_pauses(tape);
    if (keep_long_pulses(tape, input_format, input) != 0) {
      return TAPEDUB_FAILED;
    }
  }
  libspectrum_byte* bytes = nullptr;
  size_t length = 0;
  int made = 0;
  unsigned long reports_before = library_report_count();
  {
    CurrentFile writing(input);
    made = libspectrum_tape_write(
        &bytes, &length, written,
        format == OutputFormat::Tap ? LIBSPECTRUM_ID_TAPE_TAP : LIBSPECTRUM_ID_TAPE_TZX);
  }
  if (made != LIBSPECTRUM_ERROR_NONE) {
    report_unexplained(made, reports_before);
    libspectrum_free(bytes);
    return TAPEDUB_FAILED;
  }
  libspectrum_id_t type =
      format == OutputFormat::Tap ? LIBSPECTRUM_ID_TAPE_TAP : LIBSPECTRUM_ID_TAPE_TZX;
  if (!reads_back(bytes, length, type)) {
    std::fprintf(stderr,
                 "%s: libspectrum writes `%s' as a %s that it cannot read back; nothing written\n",
                 program_name, visible_text(input).c_str(), format_word(format));
    libspectrum_free(bytes);
    return TAPEDUB_FAILED;
  }
  int failed = write_image(output, to_standard_output, bytes, length);
  libspectrum_free(bytes);
  return failed != 0 ? TAPEDUB_FAILED : status;
}
