// The OBJ reader on arbitrary bytes, in both forms: as an OBJ file, and as the one MTL library of
// a small OBJ file beside it (no textures asked for). Every mesh must have triangles and a material
// number inside the materials. The materials are released with free: their texture names are all 0
// and there is no GL context to delete them in.
#include "kro.h"
#include "support.h"

#include <stdlib.h>
#include <string.h>

#include <initializer_list>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  kroFuzzQuiet();
  const char *path = kroFuzzWriteFile(data, size);
  static char obj[96];
  snprintf(obj, sizeof obj, "%s.obj", path);
  FILE *file = fopen(obj, "wb");
  if (!file)
    abort();
  fprintf(file, "mtllib %s\nusemtl a\nv 0 0 0\nvt 0 0\nf 1/1 1/1 -1/-1\n", strrchr(path, '/') + 1);
  fclose(file);
  for (const char *input : {path, (const char *)obj}) {
    kroScene scene;
    int count = kroLoadSceneFromOBJ(&scene, input, 0);
    if (count != scene.mesh_count || (count && !scene.meshes))
      abort();
    volatile float sum = 0;
    for (int i = 0; i < count; i++) {
      const kroMesh *mesh = &scene.meshes[i];
      if (mesh->triangles <= 0 || mesh->material_ref < 0 ||
          mesh->material_ref >= scene.material_count)
        abort();
      int last = mesh->triangles - 1;
      sum = sum + mesh->op[last][8] + mesh->nc[last][8] + mesh->realn[last][2] + mesh->tc[last][5];
    }
    for (int i = 0; i < scene.material_count; i++)
      if (memchr(scene.materials[i].map[KRO_MAP_DIFFUSE].bitmap, 0, KRO_MAP_NAME_CHARS + 1) ==
          nullptr)
        abort();
    kroFreeMeshArray(&scene.meshes, scene.mesh_count);
    free(scene.materials);
    // The indexed form: vertices shared by position, coordinate and normal.
    count = kroLoadSceneIndexed(&scene, input, 0);
    sum = sum + kroFuzzReadIndexed(&scene, count);
    kroFreeScene(&scene); /* no textures: no GL needed */
  }
  return 0;
}
