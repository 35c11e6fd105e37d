// Every kind of tape block in words; see tape.h.
#include <cstdio>
#include <string>

#include "tape.h"

std::string block_kind(libspectrum_tape_block* block, libspectrum_id_t format) {
  libspectrum_tape_type type = libspectrum_tape_block_type(block);
  if (type == LIBSPECTRUM_TAPE_BLOCK_PAUSE && libspectrum_tape_block_pause_tstates(block) == 0) {
    return format == LIBSPECTRUM_ID_TAPE_PZX ? "PZX stop" : "stop the tape";
  }
  return block_type_kind(type, format);
}

std::string block_type_kind(libspectrum_tape_type type, libspectrum_id_t format) {
  bool pzx = format == LIBSPECTRUM_ID_TAPE_PZX;
  switch (type) {
    case LIBSPECTRUM_TAPE_BLOCK_ROM:
      return "standard speed data";
    case LIBSPECTRUM_TAPE_BLOCK_TURBO:
      return "turbo speed data";
    case LIBSPECTRUM_TAPE_BLOCK_PURE_TONE:
      return "pure tone";
    case LIBSPECTRUM_TAPE_BLOCK_PULSES:
      return "pulse sequence";
    case LIBSPECTRUM_TAPE_BLOCK_PURE_DATA:
      return "pure data";
    case LIBSPECTRUM_TAPE_BLOCK_RAW_DATA:
      return format == LIBSPECTRUM_ID_TAPE_WAV ? "WAV recording" : "direct recording";
    case LIBSPECTRUM_TAPE_BLOCK_GENERALISED_DATA:
      return "generalised data";
    case LIBSPECTRUM_TAPE_BLOCK_PAUSE:
      return pzx ? "PZX pause" : "pause";
    case LIBSPECTRUM_TAPE_BLOCK_GROUP_START:
      return "group start";
    case LIBSPECTRUM_TAPE_BLOCK_GROUP_END:
      return "group end";
    case LIBSPECTRUM_TAPE_BLOCK_JUMP:
      return "jump";
    case LIBSPECTRUM_TAPE_BLOCK_LOOP_START:
      return "loop start";
    case LIBSPECTRUM_TAPE_BLOCK_LOOP_END:
      return "loop end";
    case LIBSPECTRUM_TAPE_BLOCK_SELECT:
      return "select";
    case LIBSPECTRUM_TAPE_BLOCK_STOP48:
      return pzx ? "PZX stop in 48K mode" : "stop the tape in 48K mode";
    case LIBSPECTRUM_TAPE_BLOCK_SET_SIGNAL_LEVEL:
      return "set signal level";
    case LIBSPECTRUM_TAPE_BLOCK_COMMENT:
      return pzx ? "PZX browse point" : "text description";
    case LIBSPECTRUM_TAPE_BLOCK_MESSAGE:
      return "message";
    case LIBSPECTRUM_TAPE_BLOCK_ARCHIVE_INFO:
      return "archive info";
    case LIBSPECTRUM_TAPE_BLOCK_HARDWARE:
      return "hardware type";
    case LIBSPECTRUM_TAPE_BLOCK_CUSTOM:
      return "custom info";
    case LIBSPECTRUM_TAPE_BLOCK_CONCAT:
      return "glue";
    case LIBSPECTRUM_TAPE_BLOCK_RLE_PULSE:
      return "CSW recording";
    case LIBSPECTRUM_TAPE_BLOCK_PULSE_SEQUENCE:
      return "PZX pulses";
    case LIBSPECTRUM_TAPE_BLOCK_DATA_BLOCK:
      return "PZX data";
    default: {
      char text[32];
      std::snprintf(text, sizeof text, "block of type 0x%02X", static_cast<unsigned>(type));
      return text;
    }
  }
}
