// Copying a tape's files into a folder (-x), through the folder copier of
// host.h; see tapeinfo.h.
#include <algorithm>
#include <string>

#include "little_endian.h"
#include "load_tape.h"
#include "tapeinfo.h"

namespace {

constexpr size_t LENGTH_AT = 11;  // the data length in a 17-byte ROM header

// Copies out the tape's files, one call per file, and keeps the status.
class Copier {
 public:
  Copier(int folder_fd, const std::string& folder) : into_{folder_fd, folder, {}} {}

  // The ROM file of the 17-byte `header`, as its `size` bytes of data;
  // `damage` says what is wrong with it, or is empty.
  void file(const unsigned char* header, const unsigned char* data, size_t size,
            const std::string& damage) {
    unsigned char microdrive[FILE_HEADER_SIZE];
    microdrive_file_header(header, microdrive);
    FileHeader decoded{};
    (void)decode_file_header(&decoded, microdrive, sizeof microdrive);
    std::string text = zx_name_text(header + 1);
    std::string path;
    if (copy(text, file_extension(decoded), data, size, "\"" + text + "\"", damage, &path)) {
      picture(path, data, size);
    }
  }

  // Block `number` (1-based) as its bytes.
  void block(size_t number, const unsigned char* data, size_t size, const std::string& damage) {
    std::string text = "block-" + std::to_string(number);
    std::string path;
    if (copy(text, ".bin", data, size, "block " + std::to_string(number), damage, &path) &&
        size >= 2) {
      picture(path, data + 1, size - 2);  // between the flag and the checksum
    }
  }

  int status() const { return status_; }

 private:
  // Returns whether the file was written, and its path in `*path`.
  bool copy(const std::string& text, const char* extension, const unsigned char* data, size_t size,
            const std::string& what, const std::string& damage, std::string* path) {
    if (extract_file(&into_, text, extension, data, size, path) != 0) {
      status_ = TAPEINFO_FAILED;
      return false;
    }
    if (!damage.empty()) {
      report_damaged_copy(what, damage, *path);
      if (status_ == TAPEINFO_LISTED) {
        status_ = TAPEINFO_BAD_CHECKSUM;
      }
    }
    return true;
  }

  // The picture of a screen's `size` bytes at `data`, beside its file at
  // `path`.
  void picture(const std::string& path, const unsigned char* data, size_t size) {
    if (extract_screen_picture(&into_, path, data, size) != 0) {
      status_ = TAPEINFO_FAILED;
    }
  }

  ExtractFolder into_;
  int status_ = TAPEINFO_LISTED;
};

}  // namespace

int extract_tape_files(const TapeFacts& facts, int folder_fd, const std::string& folder) {
  Copier copier(folder_fd, folder);
  for (size_t i = 0; i < facts.blocks.size(); ++i) {
    libspectrum_tape_block* block = facts.blocks[i];
    const BlockVerdict& verdict = facts.files->blocks[i];
    if (verdict.role == BlockRole::NoBytes || verdict.role == BlockRole::Symbols ||
        verdict.role == BlockRole::Pulses) {
      continue;  // libspectrum keeps no bytes for these
    }
    const unsigned char* data = libspectrum_tape_block_data(block);
    size_t length = data != nullptr ? libspectrum_tape_block_data_length(block) : 0;
    switch (verdict.role) {
      case BlockRole::FileData: {
        const TapeFile& file = facts.files->files[verdict.file];
        copier.file(file.header, file.data.data(), file.data.size(), "");
        break;
      }
      case BlockRole::BadDataChecksum: {
        // Its header is whole and right: the bytes between flag and checksum.
        const unsigned char* header =
            libspectrum_tape_block_data(facts.blocks[verdict.header_block - 1]) + 1;
        copier.file(header, data + 1, length - 2, "the checksum of its data is wrong");
        break;
      }
      case BlockRole::HeaderWithoutData: {
        const unsigned char* header = data + 1;
        if (i + 1 != facts.cut_header) {
          copier.file(header, nullptr, 0, "no data block after its header");
          break;
        }
        // What the cut block holds of the data, after its flag.
        const std::vector<unsigned char>& cut = facts.cut->data;
        size_t size = std::min<size_t>(cut.size() - 1, read_le16(header + LENGTH_AT));
        copier.file(header, cut.data() + 1, size, "its data is cut short");
        break;
      }
      case BlockRole::BadHeaderChecksum:
      case BlockRole::UnknownHeaderType:
      case BlockRole::Headerless:
      case BlockRole::OtherFlag:
      case BlockRole::PartBytes:
        copier.block(i + 1, data, length, checksum_bad(block) ? "its checksum is wrong" : "");
        break;
      default:  // no bytes, or those of a file copied with its data
        break;
    }
  }
  const TapeCut* cut = facts.cut;
  if (cut != nullptr && facts.cut_header == 0 && cut->holds_bytes && !cut->data.empty()) {
    copier.block(cut->block, cut->data.data(), cut->data.size(), "cut short");
  }
  return copier.status();
}
