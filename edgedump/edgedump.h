// edgedump's own interface: the edges of a tape image as lines of text.
#ifndef QUILLKIT_EDGEDUMP_EDGEDUMP_H
#define QUILLKIT_EDGEDUMP_EDGEDUMP_H

// The whole run after the options: plays the tape image `input` and writes
// one line per edge to the file `output` ("-" or any name that begins with
// '-': standard output), which is replaced whole; a new file keeps the lines
// written before a failure. Returns the exit status, 0 or 1, after the
// diagnostics on standard error.
[[nodiscard]] int dump_tape_edges(const char* input, const char* output);

#endif
