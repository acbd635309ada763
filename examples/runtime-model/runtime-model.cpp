/*
 * runtime-model: an exporter's ASE file read while the production runs
 * instead of compiled in. Every geometry object is loaded with the file's
 * material list; an object the file gives no normals gets them from
 * kroComputeNormals (smooth, or flat with --flat), and each object is drawn
 * with the engine's lit drawing in its material's diffuse colour
 * (kroSetLightMaterialColor). The view turns about the scene, which is
 * centred and scaled to a half-diagonal of 1 so that the lit drawing's fixed
 * lights stand beside it.
 *
 *   runtime-model [FILE.ase] [--flat] [--frames N] [--shot FILE.bmp]
 *
 * FILE.ase defaults to shapes.ase beside this file (EXAMPLE_DATA_DIR). Escape
 * or closing the window ends it; --frames ends it after N frames, and --shot
 * (with --frames) writes the last of them as a BMP picture.
 * Depends on: kro, SDL 1.2, GL.
 */
#include "example_window.h"

#include <SDL/SDL.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

#ifndef KRO_SHADER_DIR
#define KRO_SHADER_DIR "sh"
#endif
#ifndef EXAMPLE_DATA_DIR
#define EXAMPLE_DATA_DIR "."
#endif

enum { WINDOW_WIDTH = 480, WINDOW_HEIGHT = 320 };
static const float NO_MATERIAL_GREY[3] = {0.6f, 0.6f, 0.6f};
static const float TURN_DEGREES_PER_FRAME = 1.5f;

struct Options {
  const char *model = EXAMPLE_DATA_DIR "/shapes.ase";
  const char *shot = nullptr;
  long frames = 0; /* 0: until Escape */
  int smooth = 1;
};

static bool ParseArguments(int argc, char **argv, Options *options) {
  for (int i = 1; i < argc; i++) {
    if (strcmp(argv[i], "--frames") == 0 && i + 1 < argc) {
      char *end = nullptr;
      options->frames = strtol(argv[++i], &end, 10);
      if (*end || options->frames < 1)
        return false;
    } else if (strcmp(argv[i], "--shot") == 0 && i + 1 < argc) {
      options->shot = argv[++i];
    } else if (strcmp(argv[i], "--flat") == 0) {
      options->smooth = 0;
    } else if (argv[i][0] != '-') {
      options->model = argv[i];
    } else {
      return false;
    }
  }
  return !options->shot || options->frames > 0;
}

/* True when the file gave the object no vertex normal at all (they read zero). */
static bool LacksNormals(const kroMesh *mesh) {
  for (int t = 0; t < mesh->triangles; t++)
    for (int k = 0; k < 9; k++)
      if (mesh->nc[t][k] != 0.0f)
        return false;
  return true;
}

/* Moves every object so that the scene's bounding box is centred on the origin
 * with a half-diagonal of 1. */
static void FitScene(kroMesh *meshes, int count) {
  float low[3] = {INFINITY, INFINITY, INFINITY}, high[3] = {-INFINITY, -INFINITY, -INFINITY};
  for (int i = 0; i < count; i++)
    for (int t = 0; t < meshes[i].triangles; t++)
      for (int k = 0; k < 9; k++) {
        low[k % 3] = fminf(low[k % 3], meshes[i].op[t][k]);
        high[k % 3] = fmaxf(high[k % 3], meshes[i].op[t][k]);
      }
  float centre[3], squares = 0.0f;
  for (int k = 0; k < 3; k++) {
    centre[k] = 0.5f * (low[k] + high[k]);
    squares += (high[k] - low[k]) * (high[k] - low[k]);
  }
  float radius = 0.5f * sqrtf(squares);
  for (int i = 0; i < count; i++) {
    uint32_t triangles = (uint32_t)meshes[i].triangles;
    kroTranslateObject(meshes[i].op, triangles, -centre[0], -centre[1], -centre[2]);
    if (radius > 0.0f)
      kroScale1Object(meshes[i].op, triangles, 1.0f / radius);
  }
}

static void DrawFrame(const kroMesh *meshes, int count, const kroMaterial *materials,
                      int material_count, long frame) {
  glClearColor(0.08f, 0.08f, 0.12f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glEnable(GL_DEPTH_TEST);
  glEnable(GL_CULL_FACE);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  kroPerspectiveOGL(25.0f, (float)WINDOW_WIDTH / WINDOW_HEIGHT, 0.5f, 20.0f);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glTranslatef(0.0f, 0.0f, -2.6f);
  glRotatef(20.0f, 1.0f, 0.0f, 0.0f);
  glRotatef(TURN_DEGREES_PER_FRAME * (float)frame - 30.0f, 0.0f, 1.0f, 0.0f);
  for (int i = 0; i < count; i++) {
    int m = meshes[i].material_ref;
    const float *colour = m >= 0 && m < material_count ? materials[m].diffuse : NO_MATERIAL_GREY;
    kroSetLightMaterialColor(colour[0], colour[1], colour[2]);
    kroDrawLightMaterialNormalsObject(nullptr, nullptr, nullptr, meshes[i].nc, meshes[i].op,
                                      (uint32_t)meshes[i].triangles);
  }
  glUseProgramObjectARB(0); /* the lit drawing leaves its program bound */
}

int main(int argc, char **argv) {
  Options options;
  if (!ParseArguments(argc, argv, &options)) {
    fprintf(stderr, "usage: runtime-model [FILE.ase] [--flat] [--frames N] [--shot FILE.bmp]\n");
    return 2;
  }
  /* The file is read before any window opens: a file the engine refuses ends the program. */
  kroMesh *meshes = nullptr;
  kroMaterial *materials = nullptr;
  int count = kroLoadMeshArrayFromASE(&meshes, options.model);
  int material_count = kroLoadMaterialsFromASE(&materials, options.model);
  if (count == 0) {
    fprintf(stderr, "runtime-model: %s holds no geometry object the engine reads\n", options.model);
    kroFreeMaterials(&materials, material_count);
    return 1;
  }
  for (int i = 0; i < count; i++)
    if (LacksNormals(&meshes[i]))
      kroComputeNormals(meshes[i].op, meshes[i].nc, meshes[i].realn, (uint32_t)meshes[i].triangles,
                        options.smooth);
  FitScene(meshes, count);

  int status = 1;
  if (OpenWindow("runtime-model", WINDOW_WIDTH, WINDOW_HEIGHT)) {
    kroSetShaderFolder(KRO_SHADER_DIR);
    kroInit(WINDOW_WIDTH, WINDOW_HEIGHT);
    if (kroInitStatus() != 0)
      fprintf(stderr, "runtime-model: %d engine programs were not built from %s\n", kroInitStatus(),
              KRO_SHADER_DIR);
    status = 0;
    for (long frame = 0; options.frames == 0 || frame < options.frames; frame++) {
      if (EscapeOrQuit())
        break;
      DrawFrame(meshes, count, materials, material_count, frame);
      if (options.shot && frame + 1 == options.frames &&
          !WriteShot(options.shot, WINDOW_WIDTH, WINDOW_HEIGHT))
        status = 1;
      SDL_GL_SwapBuffers();
    }
    kroDestroyShaders();
  } else {
    fprintf(stderr, "runtime-model: %s\n", SDL_GetError());
  }
  kroFreeMeshArray(&meshes, count);
  kroFreeMaterials(&materials, material_count);
  SDL_Quit();
  return status;
}
