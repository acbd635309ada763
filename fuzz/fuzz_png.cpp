// The PNG container walk: whatever kroLoadPNG accepts, kroLoadPNGInfo walks
// too (it also describes interlaced files, which kroLoadPNG refuses), and the
// data they report fits the returned buffer.
#include "kro.h"
#include "support.h"

#include <stdlib.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  kroFuzzQuiet();
  const char *path = kroFuzzWriteFile(data, size);
  kroPNGInfo info = {};
  int walked = kroLoadPNGInfo(path, &info);
  int32_t png_size[2] = {0, 0};
  uint8_t *image_data = kroLoadPNG(path, png_size);
  if (image_data && walked != 0)
    abort();
  if (image_data) {
    if (info.data_bytes > KRO_PNG_BUFFER_BYTES)
      abort();
    volatile uint8_t touch = image_data[KRO_PNG_BUFFER_BYTES - 1];
    (void)touch;
    free(image_data);
  }
  return 0;
}
