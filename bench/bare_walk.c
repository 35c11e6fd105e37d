/* The floor that edgedump is measured against: what libspectrum alone needs
 * to play a tape. Loads the file, parses it and asks for every edge until
 * the end of the tape, printing nothing; no code of the tools is involved.
 * With -p it prints each edge as a pulse line with fprintf instead, the
 * plainest way of writing a pulse file.
 *   bare_walk [-p] TAPE */
#include <libspectrum.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static unsigned char* read_file(const char* path, size_t* length) {
  FILE* f = fopen(path, "rb");
  size_t capacity = 1 << 20, used = 0;
  unsigned char* bytes = malloc(capacity);
  if (f == NULL || bytes == NULL) {
    perror(path);
    exit(1);
  }
  for (;;) {
    used += fread(bytes + used, 1, capacity - used, f);
    if (used < capacity) {
      break;
    }
    capacity *= 2;
    bytes = realloc(bytes, capacity);
    if (bytes == NULL) {
      exit(1);
    }
  }
  fclose(f);
  *length = used;
  return bytes;
}

int main(int argc, char** argv) {
  int print = argc > 2 && strcmp(argv[1], "-p") == 0;
  const char* path = argv[argc - 1];
  if (argc < 2 || libspectrum_init() != LIBSPECTRUM_ERROR_NONE) {
    return 1;
  }
  size_t length = 0;
  unsigned char* bytes = read_file(path, &length);
  libspectrum_id_t type = LIBSPECTRUM_ID_UNKNOWN;
  libspectrum_tape* tape = libspectrum_tape_alloc();
  if (libspectrum_identify_file(&type, path, bytes, length) != LIBSPECTRUM_ERROR_NONE ||
      libspectrum_tape_read(tape, bytes, length, type, path) != LIBSPECTRUM_ERROR_NONE) {
    return 1;
  }
  free(bytes);
  libspectrum_dword tstates = 0, pending = 0;
  int flags = 0, level = 0;
  do {
    if (libspectrum_tape_get_next_edge(&tstates, &flags, tape) != LIBSPECTRUM_ERROR_NONE) {
      return 1;
    }
    if (print) {
      int edge = !(flags & LIBSPECTRUM_TAPE_FLAGS_NO_EDGE);
      pending += tstates;
      level = edge ? !level : level;
      level = (flags & LIBSPECTRUM_TAPE_FLAGS_LEVEL_LOW) ? 0 : level;
      level = (flags & LIBSPECTRUM_TAPE_FLAGS_LEVEL_HIGH) ? 1 : level;
      if (edge) {
        printf("%u : %d\n", (unsigned)pending, level);
        pending = 0;
      }
    }
  } while (!(flags & LIBSPECTRUM_TAPE_FLAGS_TAPE));
  libspectrum_tape_free(tape);
  return 0;
}
