// A screen's bytes as a PNG picture, made by libpng in memory.
#include <png.h>

#include <cstring>
#include <string>
#include <vector>

#include "content.h"

namespace {

// The bitmap's address of pixel row `y` (0-191), column of bytes 0:
// bits 7-6 of y pick the third of the screen, bits 2-0 the pixel row
// within a character, bits 5-3 the character row.
size_t row_address(unsigned y) {
  return ((y & 0xC0u) << 5) | ((y & 0x07u) << 8) | ((y & 0x38u) << 2);
}

// The 16 colours: 0-7 normal, 8-15 BRIGHT; G, R, B in bits 2, 1, 0 of the
// index, as INK and PAPER number them.
constexpr unsigned char NORMAL = 0xD7;
constexpr unsigned char BRIGHT = 0xFF;
constexpr unsigned COLOURS = 16;

unsigned long colour(unsigned index) {
  unsigned long level = index >= 8 ? BRIGHT : NORMAL;
  unsigned long red = (index & 2) != 0 ? level : 0;
  unsigned long green = (index & 4) != 0 ? level : 0;
  unsigned long blue = (index & 1) != 0 ? level : 0;
  return red << 16 | green << 8 | blue;
}

// The palette index of pixel (`x`, `y`).
unsigned pixel_index(const unsigned char* screen, unsigned x, unsigned y) {
  unsigned char bits = screen[row_address(y) + x / 8];
  unsigned char attribute = screen[SCREEN_BITMAP_SIZE + size_t{y / 8} * 32 + x / 8];
  bool ink = (bits & (0x80u >> (x % 8))) != 0;
  unsigned index = ink ? attribute & 7u : (attribute >> 3) & 7u;
  return index | ((attribute & 0x40u) != 0 ? 8u : 0u);
}

}  // namespace

unsigned long screen_pixel(const unsigned char* screen, unsigned x, unsigned y) {
  return colour(pixel_index(screen, x, y));
}

int screen_picture(const unsigned char* screen, std::vector<unsigned char>* png,
                   std::string* error) {
  png->clear();
  // One palette index a pixel, and the palette as RGB triples.
  std::vector<unsigned char> pixels(static_cast<size_t>(SCREEN_WIDTH) * SCREEN_HEIGHT);
  for (unsigned y = 0; y < SCREEN_HEIGHT; ++y) {
    for (unsigned x = 0; x < SCREEN_WIDTH; ++x) {
      pixels[y * SCREEN_WIDTH + x] = static_cast<unsigned char>(pixel_index(screen, x, y));
    }
  }
  unsigned char palette[COLOURS * 3];
  for (size_t i = 0; i < COLOURS; ++i) {
    unsigned long rgb = colour(static_cast<unsigned>(i));
    palette[3 * i] = static_cast<unsigned char>(rgb >> 16);
    palette[3 * i + 1] = static_cast<unsigned char>(rgb >> 8);
    palette[3 * i + 2] = static_cast<unsigned char>(rgb);
  }

  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = SCREEN_WIDTH;
  image.height = SCREEN_HEIGHT;
  image.format = PNG_FORMAT_RGB_COLORMAP;
  image.colormap_entries = COLOURS;
  // The size first, then the picture into exactly that much.
  png_alloc_size_t size = 0;
  if (png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, palette) != 0) {
    png->resize(size);
    if (png_image_write_to_memory(&image, png->data(), &size, 0, pixels.data(), 0, palette) != 0) {
      png->resize(size);
      return 0;
    }
  }
  *error = image.message[0] != '\0' ? image.message : "libpng failed";
  png_image_free(&image);
  png->clear();
  return 1;
}
