// The KROF file parser (everything of kroLoadKROF before the texture upload).
#include "kro.h"
#include "support.h"

#include <stdlib.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  kroFuzzQuiet();
  kroSetBitMasks();
  kroFontFile file = {};
  if (kroReadKROF(kroFuzzWriteFile(data, size), &file) == 0) {
    if (file.glyph_count < 0 || file.record_bytes != 1 + file.width * file.height / 8)
      abort();
    if (file.glyph_count > 0) {
      size_t last = (size_t)file.glyph_count * file.record_bytes - 1;
      volatile uint8_t touch = file.records[0] ^ file.records[last];
      (void)touch;
    }
    kroFreeKROF(&file);
  }
  return 0;
}
