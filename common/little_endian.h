// Little-endian words in byte buffers, as every Spectrum image format keeps
// them: the low byte first.
#ifndef QUILLKIT_COMMON_LITTLE_ENDIAN_H
#define QUILLKIT_COMMON_LITTLE_ENDIAN_H

#include <cstdint>

// The word of 2, 3 or 4 bytes at `bytes`.
inline uint16_t read_le16(const unsigned char* bytes) {
  return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

inline uint32_t read_le24(const unsigned char* bytes) {
  return static_cast<uint32_t>(read_le16(bytes)) | static_cast<uint32_t>(bytes[2]) << 16;
}

inline uint32_t read_le32(const unsigned char* bytes) {
  return read_le24(bytes) | static_cast<uint32_t>(bytes[3]) << 24;
}

// Stores the low 16 bits of `value` at `out`.
inline void write_le16(unsigned char* out, uint32_t value) {
  out[0] = static_cast<unsigned char>(value & 0xFF);
  out[1] = static_cast<unsigned char>((value >> 8) & 0xFF);
}

inline void write_le32(unsigned char* out, uint32_t value) {
  write_le16(out, value);
  write_le16(out + 2, value >> 16);
}

#endif
