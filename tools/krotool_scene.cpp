// krotool scene-info: what the engine's one loading call reads from a scene file of any
// format it knows (ASE, OBJ, glTF).
#include "krotool.h"

#include "kro.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

static void sceneInfoUsage(FILE *out) {
  fprintf(out, "usage: krotool scene-info FILE\n"
               "\n"
               "Loads FILE as the engine's kroLoadScene does, whatever its format (told by its\n"
               "content: ASE, OBJ with its MTL libraries, or glTF), and lists its format,\n"
               "each object's name, triangles and material number (and whether it has vertex\n"
               "colours), the materials (diffuse colour, opacity, one-sided: back faces not\n"
               "drawn) with each picture map's file as written and whether the\n"
               "engine finds it (beside FILE, or its name in any case), the bounds of every\n"
               "vertex in file units, then the nodes, cameras, lights (intensity in the file's\n"
               "units) and animations (each channel's node, path, keys and time span); ASE\n"
               "and OBJ files have none of these.\n");
}

static const char *nodeName(const kroScene *scene, int node) {
  return node >= 0 && node < scene->node_count ? scene->nodes[node].name : "";
}

/* Cameras, lights and animations (glTF; none for ASE and OBJ), each with its node. */
static void printSceneNodes(const kroScene *scene) {
  static const char *const kinds[] = {"directional", "point", "spot"};
  static const char *const paths[] = {"translation", "rotation", "scale"};
  static const char *const curves[] = {"STEP", "LINEAR", "CUBICSPLINE"};
  printf("nodes: %d\ncameras: %d\n", scene->node_count, scene->camera_count);
  for (int i = 0; i < scene->camera_count; i++) {
    const kroSceneCamera *c = &scene->cameras[i];
    printf("  camera %d \"%s\" at node %d \"%s\": ", i, c->name, c->node, nodeName(scene, c->node));
    if (c->orthographic)
      printf("orthographic %g x %g, near %g, far %g\n", 2 * c->xmag, 2 * c->ymag, c->znear,
             c->zfar);
    else
      printf("perspective, %.2f degrees high, aspect %g, near %g, far %g%s\n", c->yfov * 180 / M_PI,
             c->aspect, c->znear, c->zfar, c->zfar ? "" : " (none)");
  }
  printf("lights: %d\n", scene->light_count);
  for (int i = 0; i < scene->light_count; i++) {
    const kroSceneLight *l = &scene->lights[i];
    printf("  light %d \"%s\" at node %d \"%s\": %s, colour %.4f %.4f %.4f, intensity %g %s", i,
           l->name, l->node, nodeName(scene, l->node), kinds[l->kind], l->color[0], l->color[1],
           l->color[2], l->intensity, l->kind == KRO_LIGHT_DIRECTIONAL ? "lux" : "candela");
    if (l->range > 0)
      printf(", range %g", l->range);
    if (l->kind == KRO_LIGHT_SPOT)
      printf(", cone %.2f .. %.2f degrees", l->inner_cone * 180 / M_PI, l->outer_cone * 180 / M_PI);
    printf("\n");
  }
  printf("animations: %d\n", scene->animation_count);
  for (int i = 0; i < scene->animation_count; i++) {
    const kroAnimation *a = &scene->animations[i];
    printf("  animation %d \"%s\": %d channel%s, %g .. %g s (%g s)\n", i, a->name, a->channel_count,
           a->channel_count == 1 ? "" : "s", a->start, a->end, a->end - a->start);
    for (int k = 0; k < a->channel_count; k++) {
      const kroAnimationChannel *c = &a->channels[k];
      const kroAnimationSampler *s = &a->samplers[c->sampler];
      printf("    node %d \"%s\" %s: %d key%s, %s, %g .. %g s\n", c->node, nodeName(scene, c->node),
             paths[c->path], s->keys, s->keys == 1 ? "" : "s", curves[s->interpolation],
             s->times[0], s->times[s->keys - 1]);
    }
  }
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
    printf("  object %d: \"%s\", %d triangle%s, material %d%s\n", i + 1, scene.meshes[i].node_name,
           scene.meshes[i].triangles, scene.meshes[i].triangles == 1 ? "" : "s",
           scene.meshes[i].material_ref, scene.meshes[i].colors ? ", vertex colours" : "");
  int found_maps = 0, maps = 0;
  printf("materials: %d\n", scene.material_count);
  for (int i = 0; i < scene.material_count; i++) {
    const kroMaterial *m = &scene.materials[i];
    printf("  material %d \"%s\": diffuse %.4f %.4f %.4f, opacity %.4f%s\n", i, m->name,
           m->diffuse[0], m->diffuse[1], m->diffuse[2], m->opacity,
           m->one_sided ? ", one-sided" : "");
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
  printSceneNodes(&scene);
  kroFreeScene(&scene);
  return fflush(stdout) == 0 ? 0 : 1;
}
