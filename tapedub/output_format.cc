// Output formats by name; see tapedub.h.
#include <strings.h>

#include <cstring>

#include "tapedub.h"

OutputFormat format_named(const char* name) {
  static constexpr struct {
    const char* name;
    OutputFormat format;
  } FORMATS[] = {
      {"tap", OutputFormat::Tap}, {"tzx", OutputFormat::Tzx},   {"csw", OutputFormat::Csw},
      {"wav", OutputFormat::Wav}, {"flac", OutputFormat::Flac},
  };
  if (name[0] == '.') {
    ++name;
  }
  for (const auto& entry : FORMATS) {
    if (strcasecmp(name, entry.name) == 0) {
      return entry.format;
    }
  }
  return OutputFormat::Unknown;
}

OutputFormat format_of_path(const char* path) {
  const char* dot = std::strrchr(path, '.');
  const char* slash = std::strrchr(path, '/');
  if (dot == nullptr || (slash != nullptr && dot < slash)) {
    return OutputFormat::Unknown;
  }
  return format_named(dot);
}
