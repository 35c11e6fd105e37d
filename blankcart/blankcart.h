// blankcart's own interface: a blank formatted Microdrive cartridge image.
#ifndef QUILLKIT_BLANKCART_BLANKCART_H
#define QUILLKIT_BLANKCART_BLANKCART_H

#include "cartridge_writer.h"

// Makes the blank cartridge `request` asks for as the new file `path`
// (named after it unless the request names it); an existing file is never
// touched. Returns the exit status, 0 or 1, after any message.
[[nodiscard]] int make_blank_cartridge(const char* path, NewCartridge request);

#endif
