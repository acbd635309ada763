// The glTF reader on arbitrary bytes, as JSON text or as a GLB container (a buffer or picture
// URI names files beside the scratch file, which are not there): both calls, every row of every
// mesh read (ASan checks the widths), every material's name ended within its buffer, then the
// nodes and animations sampled, then the indexed form checked. The arrays of materials are
// released with free: no textures were asked for.
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
            (mesh->tc ? mesh->tc[i][5] : 0) + (mesh->colors ? mesh->colors[i][8] : 0);
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
  // The node reader, and every animation sampled before, inside and after its keys; every
  // node's world matrix composed through its parents.
  kroScene scene = {};
  count = kroLoadNodesFromGLTF(&scene, path);
  if (count != scene.node_count || (count > 0) != (scene.nodes != nullptr))
    abort();
  kroNodePose *poses = (kroNodePose *)malloc((size_t)(scene.node_count + 1) * sizeof *poses);
  float m[16];
  const double times[] = {-1, 0.5, 1e9};
  for (int a = -1; a < scene.animation_count; a++)
    for (double t : times) {
      double at = a >= 0 ? scene.animations[a].start + t : t;
      kroSampleAnimation(&scene, a, at, poses);
      for (int n = 0; n < scene.node_count; n++)
        sum = sum + (kroSceneNodeMatrix(&scene, a, n, at, m) ? m[12] : 0);
    }
  free(poses);
  kroFreeScene(&scene);
  // The indexed form: every index within its vertices, every vertex read.
  count = kroLoadSceneIndexed(&scene, path, 0);
  sum = sum + kroFuzzReadIndexed(&scene, count);
  kroFreeScene(&scene);
  return 0;
}
