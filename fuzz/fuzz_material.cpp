// The material reader on arbitrary bytes. The array is released with free:
// its texture names are all 0 and there is no GL context to delete them in.
#include "kro.h"
#include "support.h"

#include <stdlib.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  kroFuzzQuiet();
  kroMaterial *materials = nullptr;
  int count = kroLoadMaterialsFromASE(&materials, kroFuzzWriteFile(data, size));
  if (count < 0 || (count > 0 && !materials))
    abort();
  volatile float sum = 0;
  for (int i = 0; i < count; i++) {
    sum = sum + materials[i].diffuse[2] + materials[i].opacity;
    if (materials[i].texture[4] != 0)
      abort();
  }
  free(materials);
  return 0;
}
