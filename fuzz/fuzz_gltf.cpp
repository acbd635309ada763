// The glTF reader on arbitrary bytes, as JSON text or as a GLB container (a buffer or picture
// URI names files beside the scratch file, which are not there): both calls, every row of every
// mesh read (ASan checks the widths), every material's name ended within its buffer. The
// arrays of materials are released with free: no textures were asked for.
#include "kro.h"
#include "support.h"

#include <stdlib.h>
#include <string.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  kroFuzzQuiet();
  const char *path = kroFuzzWriteFile(data, size);
  kroMesh *meshes = nullptr;
  int count = kroLoadMeshArrayFromGLTF(&meshes, path);
  if (count < 0 || (count > 0) != (meshes != nullptr))
    abort();
  volatile float sum = 0;
  for (int m = 0; m < count; m++) {
    const kroMesh *mesh = &meshes[m];
    if (mesh->triangles < 0 || memchr(mesh->node_name, 0, sizeof mesh->node_name) == nullptr)
      abort();
    for (int i = 0; i < mesh->triangles; i++)
      sum = sum + mesh->op[i][8] + mesh->nc[i][8] + mesh->realn[i][2] +
            (mesh->tc ? mesh->tc[i][5] : 0);
  }
  kroFreeMeshArray(&meshes, count);
  kroMaterial *materials = nullptr;
  count = kroLoadMaterialsFromGLTF(&materials, path, 0);
  if (count < 0 || (count > 0) != (materials != nullptr))
    abort();
  for (int i = 0; i < count; i++)
    if (memchr(materials[i].name, 0, sizeof materials[i].name) == nullptr ||
        memchr(materials[i].map[0].bitmap, 0, sizeof materials[i].map[0].bitmap) == nullptr ||
        materials[i].texture[0] != 0)
      abort();
  free(materials);
  return 0;
}
