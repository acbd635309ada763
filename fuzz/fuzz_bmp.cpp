// kroLoadBMP on arbitrary bytes: a refused file gives null, an accepted one a
// buffer of exactly width x height x 4 bytes (ASan checks the reads below).
#include "kro.h"
#include "support.h"

#include <stdlib.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  kroFuzzQuiet();
  int32_t bitmap_size[2] = {-1, -1};
  uint8_t *pixels = kroLoadBMP(kroFuzzWriteFile(data, size), bitmap_size);
  if (pixels) {
    if (bitmap_size[0] <= 0 || bitmap_size[1] <= 0)
      abort();
    size_t last = (size_t)bitmap_size[0] * bitmap_size[1] * 4 - 1;
    volatile uint8_t touch = pixels[0] ^ pixels[last];
    (void)touch;
    free(pixels);
  }
  return 0;
}
