// krotool scene-info: what the engine's one loading call reads from a scene file of any
// format it knows (ASE, OBJ).
#include "krotool.h"

#include "kro.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

static void sceneInfoUsage(FILE *out) {
  fprintf(out, "usage: krotool scene-info FILE\n"
               "\n"
               "Loads FILE as the engine's kroLoadScene does, whatever its format (told by its\n"
               "content: ASE or OBJ with its MTL libraries), and lists its format, each\n"
               "object's name, triangles and material number, the materials (diffuse colour,\n"
               "opacity) with each picture map's file as written and whether the engine finds\n"
               "it (beside FILE, or its name in any case), and the bounds of every vertex in\n"
               "file units.\n");
}

int krotoolSceneInfo(int argc, char **argv) {
  if (argc == 1 && (!strcmp(argv[0], "--help") || !strcmp(argv[0], "-h"))) {
    sceneInfoUsage(stdout);
    return 0;
  }
  if (argc != 1 || argv[0][0] == '-') {
    fprintf(stderr, argc == 0 ? "krotool scene-info: missing FILE\n"
                              : "krotool scene-info: expected exactly one FILE\n");
    sceneInfoUsage(stderr);
    return 2;
  }
  const char *path = argv[0], *unreadable = krotoolUnreadableFile(path);
  if (unreadable) {
    fprintf(stderr, "krotool scene-info: %s: %s\n", path, unreadable);
    return 1;
  }
  kroScene scene;
  int saved = krotoolEngineBegin();
  kroLoadScene(&scene, path, 0);
  int failures = krotoolEngineFailures;
  krotoolEngineEnd(saved);
  if (failures) {
    fprintf(stderr, "krotool scene-info: %s could not be read\n", path);
    return 1;
  }
  long triangles = 0;
  for (int i = 0; i < scene.mesh_count; i++)
    triangles += scene.meshes[i].triangles;
  printf("%s\nformat: %s\nobjects: %d, triangles: %ld\n", path, kroSceneFormatName(scene.format),
         scene.mesh_count, triangles);
  for (int i = 0; i < scene.mesh_count; i++)
    printf("  object %d: \"%s\", %d triangle%s, material %d\n", i + 1, scene.meshes[i].node_name,
           scene.meshes[i].triangles, scene.meshes[i].triangles == 1 ? "" : "s",
           scene.meshes[i].material_ref);
  int found_maps = 0, maps = 0;
  printf("materials: %d\n", scene.material_count);
  for (int i = 0; i < scene.material_count; i++) {
    const kroMaterial *m = &scene.materials[i];
    printf("  material %d \"%s\": diffuse %.4f %.4f %.4f, opacity %.4f\n", i, m->name,
           m->diffuse[0], m->diffuse[1], m->diffuse[2], m->opacity);
    for (int k = 0; k < KRO_MATERIAL_MAPS; k++) {
      char found[KRO_OUT_PATH_CHARS];
      if (!m->map[k].bitmap[0])
        continue;
      int here = kroFindMapFile(m->map[k].bitmap, path, nullptr, 0, found, sizeof found);
      printf("    %s map \"%s\": %s%s\n", kroMapKindName(k), m->map[k].bitmap,
             here ? "found: " : "not found", here ? found : "");
      maps++, found_maps += here;
    }
  }
  printf("maps: %d, found: %d\n", maps, found_maps);
  kroBounds bounds;
  if (kroMeshBounds(scene.meshes, scene.mesh_count, &bounds) > 0) {
    printf("bounds (file units): x %g .. %g, y %g .. %g, z %g .. %g\n", bounds.low[0],
           bounds.high[0], bounds.low[1], bounds.high[1], bounds.low[2], bounds.high[2]);
  }
  kroFreeScene(&scene);
  return fflush(stdout) == 0 ? 0 : 1;
}
