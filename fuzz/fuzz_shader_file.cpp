// The shader file loader with a macro prelude: the first byte chooses the
// prelude's length, the rest is the file.
#include "support.h"
#include "kro.h"

#include <stdlib.h>
#include <string.h>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  kroFuzzQuiet();
  size_t macro_length = size ? data[0] % 64 : 0;
  if (macro_length + 1 > size)
    macro_length = 0;
  std::string macros((const char *)data + (size ? 1 : 0), macro_length);
  size_t skip = size ? 1 + macro_length : 0;
  const char *path = kroFuzzWriteFile(data + skip, size - skip);
  kroShader shader = {};
  kroLoadVertexShaderFromFile(&shader, path, macros.c_str());
  kroLoadFragmentShaderFromFile(&shader, path, nullptr);
  if (shader.vertex_length < (int)strlen(macros.c_str()) ||
      (shader.fragment_length != 0 && !shader.fragment_source))
    abort();
  free(shader.vertex_source);
  free(shader.fragment_source);
  return 0;
}
