// One operand's listing; see tapeinfo.h.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "load_tape.h"
#include "tape.h"
#include "tapeinfo.h"

namespace {

// The image format's name, and how it was compressed.
std::string format_name(const adapter::File& file) {
  static constexpr struct {
    libspectrum_id_t type;
    const char* name;
  } FORMATS[] = {
      {LIBSPECTRUM_ID_TAPE_TAP, "TAP"},           {LIBSPECTRUM_ID_TAPE_TZX, "TZX"},
      {LIBSPECTRUM_ID_TAPE_PZX, "PZX"},           {LIBSPECTRUM_ID_TAPE_CSW, "CSW"},
      {LIBSPECTRUM_ID_TAPE_WAV, "WAV"},           {LIBSPECTRUM_ID_TAPE_SPC, "SPC"},
      {LIBSPECTRUM_ID_TAPE_STA, "STA"},           {LIBSPECTRUM_ID_TAPE_LTP, "LTP"},
      {LIBSPECTRUM_ID_TAPE_WARAJEVO, "Warajevo"}, {LIBSPECTRUM_ID_TAPE_Z80EM, "Z80Em"},
  };
  static constexpr struct {
    libspectrum_id_t type;
    const char* name;
  } COMPRESSIONS[] = {
      {LIBSPECTRUM_ID_COMPRESSED_GZ, " (gzip)"},
      {LIBSPECTRUM_ID_COMPRESSED_BZ2, " (bzip2)"},
      {LIBSPECTRUM_ID_COMPRESSED_ZIP, " (ZIP)"},
  };
  std::string name = "unknown";
  for (const auto& format : FORMATS) {
    if (format.type == file.type) {
      name = format.name;
    }
  }
  libspectrum_id_t outer = LIBSPECTRUM_ID_UNKNOWN;
  QuietLibrary quiet;
  if (libspectrum_identify_file_raw(&outer, file.name, file.bytes, file.length) == 0) {
    for (const auto& compression : COMPRESSIONS) {
      if (compression.type == outer) {
        name += compression.name;
      }
    }
  }
  return name;
}

void print_paragraph(std::FILE* out, size_t number, const std::string& kind,
                     const std::vector<std::string>& lines, bool short_form) {
  std::fprintf(out, "Block %zu: %s", number, kind.c_str());
  for (const std::string& line : lines) {
    std::fprintf(out, short_form ? "; %s" : "\n  %s", line.c_str());
  }
  std::fputs(short_form ? "\n" : "\n\n", out);
}

// Copies the tape's files into the image's folder under `extract`.
int extract_tape(ExtractTarget* extract, const char* path, const TapeFacts& facts) {
  int folder_fd = -1;
  std::string folder;
  if (make_image_folder(extract, path, &folder_fd, &folder) != 0) {
    return TAPEINFO_FAILED;
  }
  int status = extract_tape_files(facts, folder_fd, folder);
  (void)close(folder_fd);  // only read through; nothing to lose
  return status;
}

}  // namespace

int list_tape(std::FILE* out, const char* path, bool short_form, const ContentShown& shown,
              ExtractTarget* extract) {
  LoadedTape loaded;
  std::string format;
  libspectrum_id_t type = LIBSPECTRUM_ID_UNKNOWN;
  {
    adapter::ScopedFile input;
    if (load_input_file(path, input.get(), adapter::TAPE_FILE_LIMIT) != 0) {
      return TAPEINFO_FAILED;
    }
    format = format_name(*input.get());
    type = input.get()->type;
    loaded = parse_tape_up_to_cut(*input.get());
  }
  if (loaded.problem != TapeProblem::None) {
    report_tape_problem(path, loaded);
    return TAPEINFO_FAILED;
  }
  libspectrum_tape* tape = loaded.tape.get();
  TapeFiles files = find_tape_files(tape);
  TapeTimes times;
  {
    CurrentFile playing(path);
    times = time_tape(tape);
  }
  if (times.error != 0) {
    std::fprintf(stderr, "%s: `%s' is damaged: the walk failed in block %zu\n", program_name,
                 visible_text(path).c_str(), times.failed_block + 1);
    return TAPEINFO_FAILED;
  }
  TapeFacts facts{type, &files, &times, {}};
  libspectrum_tape_iterator it = nullptr;
  for (auto* block = libspectrum_tape_iterator_init(&it, tape); block != nullptr;
       block = libspectrum_tape_iterator_next(&it)) {
    facts.blocks.push_back(block);
  }
  int status = TAPEINFO_LISTED;
  if (loaded.cut) {
    facts.cut = &*loaded.cut;
    facts.cut_header = cut_file_header(facts);
    std::fprintf(stderr, "%s: `%s' is damaged: block %zu is cut short, %s\n", program_name,
                 visible_text(path).c_str(), facts.cut->block, cut_words(*facts.cut).c_str());
    status = TAPEINFO_BAD_CHECKSUM;
  }

  std::fprintf(out, "\n\nListing of `%s':\n\n", visible_text(path).c_str());
  if (facts.cut != nullptr) {
    std::fprintf(out, "Format: %s\nBlocks: %zu, the last cut short\nFiles: %zu\n", format.c_str(),
                 facts.cut->block, files.files.size());
    std::fprintf(out, "Playing time: %s (%llu T-states) up to the cut\n\n",
                 play_time(times.total).c_str(), static_cast<unsigned long long>(times.total));
  } else {
    std::fprintf(out, "Format: %s\nBlocks: %zu\nFiles: %zu\n", format.c_str(), facts.blocks.size(),
                 files.files.size());
    std::fprintf(out, "Playing time: %s (%llu T-states)\n\n", play_time(times.total).c_str(),
                 static_cast<unsigned long long>(times.total));
  }
  for (size_t i = 0; i < facts.blocks.size(); ++i) {
    print_paragraph(out, i + 1, block_kind(facts.blocks[i], facts.format), block_lines(facts, i),
                    short_form);
    print_block_contents(out, facts, i, shown);
    if (checksum_bad(facts.blocks[i])) {
      status = TAPEINFO_BAD_CHECKSUM;
    }
  }
  if (facts.cut != nullptr) {
    print_paragraph(out, facts.cut->block, facts.cut->kind, cut_block_lines(facts), short_form);
  }
  if (extract != nullptr) {
    // A file not copied outweighs damage; damage outweighs nothing.
    int copied = extract_tape(extract, path, facts);
    if (copied != TAPEINFO_LISTED) {
      status = copied;
    }
  }
  return status;
}
