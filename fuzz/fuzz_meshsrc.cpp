// The mesh source generator and its compact writer on arbitrary bytes, every
// object of the stream, output to /dev/null; then the generator on a pipe of
// the same bytes, which must write each object the file stream wrote whole
// with the same text.
#include "kro.h"
#include "support.h"

#include <stdlib.h>

#include <string>
#include <vector>

enum { KRO_FUZZ_MAX_OBJECTS = 64 };

// The generator's text for each object of the stream, up to the first failure.
static std::vector<std::string> kroFuzzLoaders(FILE *stream) {
  std::vector<std::string> loaders;
  for (int written = 0; written < KRO_FUZZ_MAX_OBJECTS && !feof(stream); written++) {
    char *text = nullptr;
    size_t size = 0;
    FILE *out = open_memstream(&text, &size);
    if (!out)
      abort();
    int ok = kroWriteSrcMeshFromASEfd(stream, "Fuzz", out);
    fclose(out);
    if (ok)
      loaders.emplace_back(text, size);
    free(text);
    if (!ok)
      break;
  }
  return loaders;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  kroFuzzQuiet();
  static FILE *sink = fopen("/dev/null", "w");
  FILE *stream = kroFuzzOpenStream(data, size);
  if (!stream || !sink)
    abort();
  std::vector<std::string> loaders = kroFuzzLoaders(stream);
  rewind(stream);
  for (int written = 0; written < KRO_FUZZ_MAX_OBJECTS && !feof(stream); written++)
    if (!kroWriteCompactSrcMeshFromASEfd(stream, "Fuzz", sink))
      break;
  fclose(stream);
  // A pipe bounds no count by its size, so it may go on where the file stopped.
  if (FILE *pipe = kroFuzzOpenPipe(data, size)) {
    std::vector<std::string> piped = kroFuzzLoaders(pipe);
    fclose(pipe);
    if (piped.size() < loaders.size())
      abort();
    for (size_t i = 0; i < loaders.size(); i++)
      if (piped[i] != loaders[i])
        abort();
  }
  return 0;
}
