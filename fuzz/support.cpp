#include "support.h"

#include "kro.h"

#include <stdlib.h>
#include <unistd.h>

const char *kroFuzzWriteFile(const uint8_t *data, size_t size) {
  static char path[64];
  if (!path[0])
    snprintf(path, sizeof path, "/tmp/kro-fuzz-%d", (int)getpid());
  FILE *file = fopen(path, "wb");
  if (!file)
    abort();
  if (size)
    fwrite(data, 1, size, file);
  fclose(file);
  return path;
}

FILE *kroFuzzOpenStream(const uint8_t *data, size_t size) {
  // fmemopen refuses a zero-sized buffer: an empty stream is /dev/null.
  return size ? fmemopen((void *)data, size, "r") : fopen("/dev/null", "r");
}

FILE *kroFuzzOpenPipe(const uint8_t *data, size_t size) {
  int ends[2];
  if (size > 65536 || pipe(ends) != 0)
    return nullptr;
  bool written = write(ends[1], data, size) == (ssize_t)size;
  close(ends[1]);
  FILE *stream = written ? fdopen(ends[0], "r") : nullptr;
  if (!stream)
    close(ends[0]);
  return stream;
}

void kroFuzzQuiet(void) {
  static bool done = false;
  if (!done && !getenv("KRO_FUZZ_VERBOSE"))
    freopen("/dev/null", "w", stdout);
  done = true;
}

float kroFuzzReadIndexed(const kroScene *scene, int count) {
  float sum = 0;
  for (int i = 0; i < count; i++) {
    const kroMesh *mesh = &scene->meshes[i];
    if (!mesh->vertex || mesh->op || mesh->vertices < 0 || mesh->triangles < 0)
      abort();
    for (long c = 0; c < 3L * mesh->triangles; c++)
      if (mesh->index[c] >= (uint32_t)mesh->vertices)
        abort();
    for (long v = 0; v < mesh->vertices; v++)
      sum += mesh->vertex[KRO_VERTEX_FLOATS * v + 7] + (mesh->color ? mesh->color[3 * v + 2] : 0);
  }
  return sum;
}
