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
 *   runtime-model [FILE.ase] [--flat] [--frames N] [--shot FILE.png]
 *
 * FILE.ase defaults to shapes.ase beside this file (EXAMPLE_DATA_DIR). The
 * window, the loop and the options (--window, --frames N, --shot FILE.png,
 * --help) are the application layer's (kroapp.h).
 * Depends on: kro, kroapp, GL.
 */
#include <kro/kroapp.h>

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
  const char *model = nullptr; /* null: shapes.ase beside this file */
  int smooth = 1;
};

/* What the application layer left: FILE.ase and --flat. */
static bool ParseArguments(int argc, char **argv, Options *options) {
  for (int i = 1; i < argc; i++) {
    if (strcmp(argv[i], "--flat") == 0)
      options->smooth = 0;
    else if (!options->model)
      options->model = argv[i];
    else
      return false;
  }
  if (!options->model)
    options->model = EXAMPLE_DATA_DIR "/shapes.ase";
  return true;
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
  kroBounds box;
  kroMeshBounds(meshes, count, &box);
  for (int i = 0; i < count; i++) {
    uint32_t triangles = (uint32_t)meshes[i].triangles;
    kroTranslateObject(meshes[i].op, triangles, -box.centre[0], -box.centre[1], -box.centre[2]);
    if (box.radius > 0.0f)
      kroScale1Object(meshes[i].op, triangles, 1.0f / box.radius);
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
  kroApp app = {};
  app.windowed = 1;
  app.usage = "[FILE.ase] [--flat]";
  app.own_options = "--flat";
  kroSetShaderFolder(KRO_SHADER_DIR);
  if (!kroAppStart(&app, "runtime-model", WINDOW_WIDTH, WINDOW_HEIGHT, &argc, argv))
    return app.status;
  Options options;
  if (!ParseArguments(argc, argv, &options)) {
    fprintf(stderr, "runtime-model: one FILE.ase only\n");
    app.status = 2;
    return kroAppEnd(&app);
  }
  kroMesh *meshes = nullptr;
  kroMaterial *materials = nullptr;
  int count = kroLoadMeshArrayFromASE(&meshes, options.model);
  int material_count = kroLoadMaterialsFromASE(&materials, options.model);
  if (count == 0) {
    fprintf(stderr, "runtime-model: %s holds no geometry object the engine reads\n", options.model);
    kroFreeMaterials(&materials, material_count);
    app.status = 1;
    return kroAppEnd(&app);
  }
  for (int i = 0; i < count; i++)
    if (LacksNormals(&meshes[i]))
      kroComputeNormals(meshes[i].op, meshes[i].nc, meshes[i].realn, (uint32_t)meshes[i].triangles,
                        options.smooth);
  FitScene(meshes, count);

  while (kroAppFrame(&app))
    DrawFrame(meshes, count, materials, material_count, app.frame - 1);
  kroFreeMeshArray(&meshes, count);
  kroFreeMaterials(&materials, material_count);
  return kroAppEnd(&app);
}
