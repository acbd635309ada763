// The picture decoder on BMP input (the first two bytes made "BM"): never a
// report or a hook, a reason on every refusal, and an accepted file gives a
// bitmap of its size, every pixel readable (ASan); nothing is read past the
// input, which is handed over in a buffer of exactly its size.
#include "kro.h"
#include "support.h"

#include <stdlib.h>
#include <string.h>

#include <vector>

namespace {

void hookCalled(void) {
  abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  kroFuzzQuiet();
  kroSetErrorFunc(hookCalled);
  std::vector<uint8_t> file(data, data + size);
  if (size >= 2)
    file[0] = 'B', file[1] = 'M';
  int32_t bitmap_size[2] = {-1, -1};
  char why[KRO_PICTURE_REASON_CHARS];
  uint8_t *pixels =
      kroDecodePictureMemory(file.data(), file.size(), bitmap_size, nullptr, why, sizeof why);
  if (!pixels && (!why[0] || bitmap_size[0] || bitmap_size[1]))
    abort();
  if (pixels) {
    if (why[0] || bitmap_size[0] <= 0 || bitmap_size[1] <= 0 ||
        (int64_t)bitmap_size[0] * bitmap_size[1] > KRO_BMP_MAX_PIXELS)
      abort();
    size_t last = (size_t)bitmap_size[0] * bitmap_size[1] * 4 - 1;
    volatile uint8_t touch = pixels[0] ^ pixels[last];
    (void)touch;
    free(pixels);
  }
  kroSetErrorFunc(nullptr);
  return 0;
}
