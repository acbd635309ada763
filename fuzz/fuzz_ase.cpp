// The ASE scene reader on arbitrary bytes: objects 1 to 3 by number, the
// stream variant walked to the end, the whole-file array and the counters.
// Every row of every array handed back is read (ASan checks the widths). The
// walk that passes values over and the one that reads them must agree: an
// object read whole from its offset ends where the next offset stands, the
// object read by number is the one read from its offset, and no number past
// the listed objects gives one.
#include "kro.h"
#include "support.h"

#include <stdlib.h>
#include <string.h>

enum { KRO_FUZZ_MAX_OBJECTS = 64 };

static long kroFuzzFailures = 0;
static void kroFuzzCountFailure(const char *, void *) {
  kroFuzzFailures++;
}

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
  kroSetErrorMessageFunc(kroFuzzCountFailure, nullptr);
  const char *path = kroFuzzWriteFile(data, size);
  char node_name[KRO_ASE_NAME_CHARS + 1];

  long *offsets = nullptr, listing_failures = kroFuzzFailures;
  int placed = kroObjectOffsetsInASE(path, &offsets);
  bool listed = kroFuzzFailures == listing_failures;
  FILE *placed_stream = fopen(path, "r");
  for (int number = 1; number <= 3; number++) {
    kroObject op = nullptr, nc = nullptr, realn = nullptr, tc = nullptr;
    int triangles = 0, at_offset = 0;
    char name_at_offset[KRO_ASE_NAME_CHARS + 1] = "", name_by_number[KRO_ASE_NAME_CHARS + 1] = "";
    long failures = kroFuzzFailures;
    if (number <= placed && placed_stream && !fseek(placed_stream, offsets[number - 1], SEEK_SET)) {
      kroLoadMeshFromASEfd(&op, &nc, &realn, &tc, placed_stream, name_at_offset, &at_offset);
      // The last object ends with the file, before an odd last byte of a UTF-16 file (no
      // character: the reader stops before it).
      bool utf16 = size >= 2 &&
                   ((data[0] == 0xFF && data[1] == 0xFE) || (data[0] == 0xFE && data[1] == 0xFF));
      long end = number < placed ? offsets[number] : (long)(utf16 ? size & ~(size_t)1 : size);
      if (kroFuzzFailures == failures && ftell(placed_stream) != end)
        abort();
      releaseMesh(&op, &nc, &realn, &tc, at_offset);
    }
    bool whole = number <= placed && kroFuzzFailures == failures;
    kroLoadMeshxFromASE(&op, &nc, &realn, &tc, number, path, name_by_number, &triangles);
    if (triangles < 0 || (triangles > 0 && !op) || (listed && number > placed && triangles))
      abort();
    if (whole && kroFuzzFailures == failures &&
        (triangles != at_offset || strcmp(name_by_number, name_at_offset)))
      abort();
    releaseMesh(&op, &nc, &realn, &tc, triangles);
  }
  if (placed_stream)
    fclose(placed_stream);
  free(offsets);

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
  if (objects != kroObjectsInASE(path) || lights != kroLightsInASE(path) || objects != placed)
    abort();
  return 0;
}
