/*
 * One view of the scene: the overlay's text, a whole frame (scene, ground,
 * post-processing, overlay) into a chosen target, and the object under a
 * pixel.
 * Depends on: kv_scene.cpp, kv_camera.cpp, kv_terrain.cpp, kv_overlay.cpp,
 * kv_post.cpp, GL.
 */
#include "kroview.h"

#include <stdio.h>
#include <string.h>

enum { KV_REFUSED_SHOWN = 3 }; /* refusal lines in the overlay; the rest are counted */

const kvKeyHelp KV_KEYS[] = {
    {"drag", "orbit about the scene"},
    {"wheel, + -", "zoom"},
    {"arrows", "turn"},
    {"Home", "back to the first view, framed again"},
    {"mouse over", "point an object out"},
    {"Tab", "choose the next object"},
    {"B", "post-processing on or off"},
    {"H", "overlay on or off"},
    {"G", "ground grid on or off (its spacing in the overlay)"},
    {"A", "axes gizmo on or off (x red, y green, z blue)"},
    {"E", "triangle edges on or off"},
    {"T", "textures (the materials' diffuse maps) on or off"},
    {"F12", "screenshot into kroview-NNNN.png"},
    {"?  F1", "this list on or off"},
    {"Escape  Q", "quit"},
};
const int KV_KEY_COUNT = (int)(sizeof KV_KEYS / sizeof KV_KEYS[0]);

enum { KV_KEY_COLUMN = 12 }; /* characters of the keys' column */

void kvKeyLine(int index, char *line, int bytes) {
  if (index < 0 || index >= KV_KEY_COUNT) {
    snprintf(line, (size_t)bytes, "%s", "");
    return;
  }
  snprintf(line, (size_t)bytes, "%-*s %s", (int)KV_KEY_COLUMN, KV_KEYS[index].keys,
           KV_KEYS[index].action);
}

static void kvAddLine(kvOverlay *overlay, const char *text) {
  if (overlay->line_count < KV_OVERLAY_LINES)
    snprintf(overlay->lines[overlay->line_count++], KV_LINE_CHARS, "%s", text);
}

int kvShownObject(const kvView *view) {
  int shown = view->hovered >= 0 ? view->hovered : view->chosen;
  return shown < view->scene.object_count ? shown : -1;
}

static void kvDescribeObject(const kvView *view, char *line, size_t bytes) {
  int shown = kvShownObject(view);
  if (shown < 0) {
    snprintf(line, bytes, "object: -");
    return;
  }
  const kvObject *object = &view->scene.objects[shown];
  snprintf(line, bytes, "object: %.60s (%d triangles)", object->name, object->triangles);
}

static void kvComposeKeys(kvOverlay *overlay) {
  char line[KV_LINE_CHARS];
  kvAddLine(overlay, "keys (? closes this list)");
  for (int i = 0; i < KV_KEY_COUNT; i++) {
    kvKeyLine(i, line, (int)sizeof line);
    kvAddLine(overlay, line);
  }
}

void kvComposeOverlay(kvView *view) {
  kvOverlay *overlay = &view->overlay;
  const kvScene *scene = &view->scene;
  char line[KV_LINE_CHARS];
  overlay->line_count = 0;
  if (view->show_keys) {
    kvComposeKeys(overlay);
    return;
  }
  snprintf(line, sizeof line, "kroview %.240s", view->file_name);
  kvAddLine(overlay, line);
  snprintf(line, sizeof line, "objects %d  triangles %ld", scene->object_count, scene->triangles);
  if (scene->refused_count > 0)
    snprintf(line + strlen(line), sizeof line - strlen(line), "  refused %d", scene->refused_count);
  kvAddLine(overlay, line);
  kvDescribeObject(view, line, sizeof line);
  kvAddLine(overlay, line);
  if (view->fps >= 0.0f)
    snprintf(line, sizeof line, "fps %.1f%s", view->fps, view->post ? "  post: right half" : "");
  else
    snprintf(line, sizeof line, "fps -%s", view->post ? "  post: right half" : "");
  kvAddLine(overlay, line);
  if (view->grid) {
    snprintf(line, sizeof line, "grid %g units", kvGridSpacing(scene));
    kvAddLine(overlay, line);
  }
  if (scene->maps_missing > 0) {
    snprintf(line, sizeof line, "map: %.240s%s", scene->map_problem,
             scene->maps_missing > 1 ? " (and more)" : "");
    kvAddLine(overlay, line);
  }
  if (scene->hide_textures)
    kvAddLine(overlay, "textures off");
  if (view->reload_problem[0]) {
    snprintf(line, sizeof line, "reload: %.300s", view->reload_problem);
    kvAddLine(overlay, line);
  }
  if (view->programs_failed) {
    snprintf(line, sizeof line, "shaders: %.240s", kvProgramProblem());
    kvAddLine(overlay, line);
  }
  if (kvLastEngineMessage()[0]) {
    snprintf(line, sizeof line, "error: %.240s", kvLastEngineMessage());
    kvAddLine(overlay, line);
  }
  for (int i = 0; i < scene->refused_count && i < KV_REFUSED_SHOWN && i < KV_MAX_REFUSED; i++) {
    snprintf(line, sizeof line, "refused object %d", scene->refused[i].number);
    kvAddLine(overlay, line);
  }
}

void kvDrawView(kvView *view, GLuint target) {
  int width = view->camera.width, height = view->camera.height;
  kvBeginFrame(view->post, target, width, height);
  kvApplyCamera(&view->camera);
  kvDrawScene(&view->scene);
  if (kvEyeAbove(&view->camera, view->terrain.top)) /* from below, the ground would hide all */
    kvDrawTerrain(&view->terrain);
  if (view->grid)
    kvDrawGrid(&view->scene);
  if (view->edges)
    kvDrawEdges(&view->scene);
  kvDrawOutline(&view->scene, kvShownObject(view));
  if (view->axes)
    kvDrawAxes(&view->camera, view->scene.up);
  glUseProgramObjectARB(0);
  kvEndFrame(view->post, target, width, height);
  if (view->show_overlay) {
    kvComposeOverlay(view);
    kvDrawOverlay(&view->overlay, width, height);
  }
}

int kvObjectAt(const kvView *view, int x, int y) {
  if (x < 0 || y < 0 || x >= view->camera.width || y >= view->camera.height)
    return -1;
  float origin[3], direction[3];
  kvCameraRay(&view->camera, x, y, origin, direction);
  return kvPickObject(&view->scene, origin, direction, nullptr);
}

int kvReloadModel(kvView *view, const char *path, const char *terrain_path) {
  static kvScene fresh; /* large: kept off the stack */
  static kvTerrain ground;
  char why[KV_MESSAGE_CHARS];
  kvForgetEngineMessage(); /* the last failure's line goes with a good reload */
  if (kvLoadSceneUp(&fresh, path, (kvUp)view->scene.up, why, (int)sizeof why) != 0) {
    snprintf(view->reload_problem, sizeof view->reload_problem, "%s", why);
    return -1;
  }
  if (terrain_path && kvLoadTerrain(&ground, terrain_path, &fresh) != 0) {
    snprintf(view->reload_problem, sizeof view->reload_problem, "cannot use %s as a heightmap",
             terrain_path);
    kvFreeScene(&fresh);
    return -1;
  }
  fresh.hide_textures = view->scene.hide_textures;
  kvFreeScene(&view->scene);
  view->scene = fresh;
  memset(&fresh, 0, sizeof fresh);
  kvBuildSceneLists(&view->scene);
  if (terrain_path) {
    kvFreeTerrain(&view->terrain);
    view->terrain = ground;
    memset(&ground, 0, sizeof ground);
    kvBuildTerrainList(&view->terrain);
  }
  if (view->chosen >= view->scene.object_count)
    view->chosen = -1;
  view->hovered = -1;
  view->reload_problem[0] = '\0';
  return 0;
}

int kvReloadShaders(kvView *view) {
  view->programs_failed = kvRebuildPrograms(view->camera.width, view->camera.height);
  if (view->programs_failed)
    return view->programs_failed;
  kvBuildSceneLists(&view->scene);
  kvBuildTerrainList(&view->terrain);
  return 0;
}

void kvPrintRefused(const kvScene *scene, const char *path) {
  for (int i = 0; i < scene->refused_count && i < KV_MAX_REFUSED; i++)
    printf("kroview: %s: refused object %d: %s\n", path, scene->refused[i].number,
           scene->refused[i].reason);
  if (scene->refused_count > KV_MAX_REFUSED)
    printf("kroview: %s: %d more refused objects\n", path, scene->refused_count - KV_MAX_REFUSED);
  if (scene->beyond_limit > 0)
    printf("kroview: %s: %d objects after the first %d left out\n", path, scene->beyond_limit,
           (int)KV_MAX_OBJECTS);
  fflush(stdout);
}
