// The ASE scene reader on arbitrary bytes: objects 1 to 3 by number, the
// stream variant walked to the end, the whole-file array and the counters.
// Every row of every array handed back is read (ASan checks the widths).
#include "kro.h"
#include "support.h"

#include <stdlib.h>

enum { KRO_FUZZ_MAX_OBJECTS = 64 };

static void touchMesh(kroObject op, kroObject nc, kroObject realn, kroObject tc, int triangles) {
  volatile float sum = 0;
  for (int i = 0; i < triangles; i++)
    sum = sum + op[i][8] + nc[i][8] + realn[i][2] + tc[i][5];
}

static void releaseMesh(kroObject *op, kroObject *nc, kroObject *realn, kroObject *tc,
                        int triangles) {
  touchMesh(*op, *nc, *realn, *tc, triangles);
  kroDestroyObject(op, triangles);
  kroDestroyObject(nc, triangles);
  kroDestroyObject(realn, triangles);
  kroDestroyObject(tc, triangles);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  kroFuzzQuiet();
  const char *path = kroFuzzWriteFile(data, size);
  char node_name[KRO_ASE_NAME_CHARS + 1];

  for (int number = 1; number <= 3; number++) {
    kroObject op = nullptr, nc = nullptr, realn = nullptr, tc = nullptr;
    int triangles = 0;
    kroLoadMeshxFromASE(&op, &nc, &realn, &tc, number, path, node_name, &triangles);
    if (triangles < 0 || (triangles > 0 && !op))
      abort();
    releaseMesh(&op, &nc, &realn, &tc, triangles);
  }

  FILE *stream = kroFuzzOpenStream(data, size);
  for (int walked = 0; stream && walked < KRO_FUZZ_MAX_OBJECTS && !feof(stream); walked++) {
    kroObject op = nullptr, nc = nullptr, realn = nullptr, tc = nullptr;
    int triangles = 0;
    kroLoadMeshFromASEfd(&op, &nc, &realn, &tc, stream, node_name, &triangles);
    releaseMesh(&op, &nc, &realn, &tc, triangles);
  }
  if (stream)
    fclose(stream);

  kroMesh *meshes = nullptr;
  int count = kroLoadMeshArrayFromASE(&meshes, path);
  for (int i = 0; i < count; i++)
    touchMesh(meshes[i].op, meshes[i].nc, meshes[i].realn, meshes[i].tc, meshes[i].triangles);
  kroFreeMeshArray(&meshes, count);

  int objects = 0, lights = 0;
  kroObjectsAndLightsInASE(path, &objects, &lights);
  if (objects != kroObjectsInASE(path) || lights != kroLightsInASE(path))
    abort();
  return 0;
}
