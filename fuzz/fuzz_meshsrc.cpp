// The mesh source generator and its compact writer on arbitrary bytes, every
// object of the stream, output to /dev/null.
#include "kro.h"
#include "support.h"

#include <stdlib.h>

enum { KRO_FUZZ_MAX_OBJECTS = 64 };

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  kroFuzzQuiet();
  static FILE *sink = fopen("/dev/null", "w");
  FILE *stream = kroFuzzOpenStream(data, size);
  if (!stream || !sink)
    abort();
  for (int written = 0; written < KRO_FUZZ_MAX_OBJECTS && !feof(stream); written++)
    if (!kroWriteSrcMeshFromASEfd(stream, "Fuzz", sink))
      break;
  rewind(stream);
  for (int written = 0; written < KRO_FUZZ_MAX_OBJECTS && !feof(stream); written++)
    if (!kroWriteCompactSrcMeshFromASEfd(stream, "Fuzz", sink))
      break;
  fclose(stream);
  return 0;
}
