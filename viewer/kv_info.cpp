/*
 * --info: a file described without a window. The engine's own counts and
 * materials, as `krotool ase-info` gives them, then what the viewer adds:
 * where each object's normals come from, the bounds in file units, the up
 * axis, the materials' picture maps, and the objects it refuses.
 * Depends on: kro (ASE reader, materials), kv_scene.cpp.
 */
#include "kroview.h"

#include <stdio.h>
#include <stdlib.h>

static void kvPrintObjects(const kvScene *scene) {
  for (int i = 0; i < scene->object_count; i++) {
    const kvObject *object = &scene->objects[i];
    printf("  object %d: \"%s\", %d triangle%s, material %d, %s\n", i + 1, object->name,
           object->triangles, object->triangles == 1 ? "" : "s", object->material,
           object->file_normals ? "normals from the file" : "no normals, computed from the faces");
  }
}

/* One map of a material, as `krotool ase-info` gives it: the picture as the
 * file names it, where it was found (and its size, or why it is refused) or
 * that it was not, the UV transform. */
static void kvPrintMap(const kvScene *scene, int kind, const kroMaterialMap *map) {
  char found[KV_WATCH_PATH], why[256] = "", where[KV_WATCH_PATH + 300] = "not found";
  if (kvFindMap(scene, map->bitmap, found, sizeof found)) {
    int32_t size[2];
    uint8_t *pixels = kroDecodePicture(found, size, why, sizeof why);
    if (pixels)
      snprintf(where, sizeof where, "found: %s, %d x %d", found, size[0], size[1]);
    else
      snprintf(where, sizeof where, "found: %s, refused: %s", found, why);
    free(pixels);
  }
  if (map->state == KRO_MAP_EMBEDDED) /* a picture inside a glTF file */
    printf("    %s map %s", kroMapKindName(kind), kroMapStateName(map->state));
  else
    printf("    %s map \"%s\": %s", kroMapKindName(kind), map->bitmap, where);
  printf("; offset %.4f %.4f, tiling %.4f %.4f, angle %.4f\n", map->u_offset, map->v_offset,
         map->u_tiling, map->v_tiling, map->angle);
}

static void kvPrintMaterials(const kvScene *scene) {
  printf("materials: %d\n", scene->material_count);
  for (int i = 0; i < scene->material_count; i++) {
    const kroMaterial *material = &scene->materials[i];
    printf("  material %d: diffuse %.4f %.4f %.4f, opacity %.4f\n", i, material->diffuse[0],
           material->diffuse[1], material->diffuse[2], material->opacity);
    for (int k = 0; k < KRO_MATERIAL_MAPS; k++)
      if (material->map[k].bitmap[0] || material->map[k].state == KRO_MAP_EMBEDDED)
        kvPrintMap(scene, k, &material->map[k]);
  }
}

static void kvPrintBounds(const kvScene *scene, kvUp up) {
  const char axes[3] = {'x', 'y', 'z'};
  printf("bounds (file units):");
  for (int k = 0; k < 3; k++)
    printf("%s %c %g .. %g", k ? "," : "", axes[k], scene->low[k], scene->high[k]);
  /* In double: the span of floats near +-3.4e38 is beyond a float's range. */
  double size[3];
  for (int k = 0; k < 3; k++)
    size[k] = (double)scene->high[k] - (double)scene->low[k];
  printf("\nsize (file units): %g x %g x %g\n", size[0], size[1], size[2]);
  printf("up: %s\n", kvUpName(up));
}

static void kvPrintRefusals(const kvScene *scene) {
  printf("refused objects: %d\n", scene->refused_count);
  for (int i = 0; i < scene->refused_count && i < KV_MAX_REFUSED; i++)
    printf("  object %d: %s\n", scene->refused[i].number, scene->refused[i].reason);
  if (scene->beyond_limit > 0)
    printf("left out: %d objects after the first %d\n", scene->beyond_limit, (int)KV_MAX_OBJECTS);
}

int kvPrintInfo(const char *path, kvUp up) {
  static kvScene scene; /* large: kept off the stack */
  char why[KV_MESSAGE_CHARS + 4096];
  if (kvLoadSceneUp(&scene, path, up, why, (int)sizeof why) != 0) {
    fprintf(stderr, "kroview: %s\n", why);
    return 1;
  }
  int objects = scene.object_count + scene.beyond_limit, lights = 0; /* lights: ASE only */
  if (kroSceneFormatOf(path) == KRO_SCENE_ASE)
    kroObjectsAndLightsInASE(path, &objects, &lights);
  printf("%s\ngeometry objects: %d\nlight objects: %d\n", path, objects, lights);
  kvPrintObjects(&scene);
  kvPrintMaterials(&scene);
  kvPrintBounds(&scene, up);
  kvPrintRefusals(&scene);
  kvFreeScene(&scene);
  return fflush(stdout) == 0 ? 0 : 1;
}
