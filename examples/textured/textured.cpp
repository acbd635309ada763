/*
 * textured: a model whose material maps a picture, twice side by side. On the
 * left it is read while the production runs: kroLoadMaterialsWithMapsFromASE
 * reads the material list, finds the picture the exporter named
 * ("C:\maps\Tiles.png", from another machine) as tiles.png beside the model,
 * and makes it the material's texture. On the right the same model is
 * compiled in: the build runs the installed `krotool mesh-src --header
 * --materials`, so the loader and a table naming the picture and its UV
 * transform are part of the program, and kroFindMapFile and kroLoadTexture
 * take the picture from the example's folder. Both are drawn with GL's own
 * lighting, the texture through the map's UV transform (kroLoadMapTransform:
 * the file tiles the picture 4 times around the ring).
 *
 *   textured [--frames N] [--shot FILE.png]
 *
 * The window, the loop and the options (--window, --frames N, --shot FILE.png,
 * --help) are the application layer's (kroapp.h). The model and the picture
 * are written by textured.py.
 * Depends on: kro, kroapp, GL.
 */
#include <kro/kroapp.h>

#include "textured_materials.h" /* textured_materials[]: krotool mesh-src --materials */
#include "textured_mesh.h"      /* loadMeshTorus: krotool mesh-src --header */

#include <stdio.h>
#include <string.h>

#ifndef KRO_SHADER_DIR
#define KRO_SHADER_DIR "sh"
#endif
#ifndef EXAMPLE_DATA_DIR
#define EXAMPLE_DATA_DIR "."
#endif

enum { WINDOW_WIDTH = 640, WINDOW_HEIGHT = 320 };
static const float TURN_DEGREES_PER_FRAME = 1.0f;

/* One model ready to draw: its arrays, its texture and the map's transform. */
struct Model {
  kroObject op = nullptr, nc = nullptr, realn = nullptr, tc = nullptr;
  int triangles = 0;
  GLuint texture = 0; /* 0: drawn in its colour */
  kroMaterialMap map = {};
  float colour[3] = {0.6f, 0.6f, 0.6f};
};

/* The model as the production reads it at run time: mesh and materials from the file. */
static bool LoadAtRunTime(Model *model, kroMaterial **materials, int *count) {
  const char *path = EXAMPLE_DATA_DIR "/textured.ase";
  char name[KRO_ASE_NAME_CHARS + 1];
  int material = kroLoadMeshxFromASE(&model->op, &model->nc, &model->realn, &model->tc, 1, path,
                                     name, &model->triangles);
  *count = kroLoadMaterialsWithMapsFromASE(materials, path, nullptr, 0, 1);
  if (material >= 0 && material < *count) {
    const kroMaterial *m = &(*materials)[material];
    model->texture = m->texture[KRO_MAP_DIFFUSE]; /* 0 when the picture was missing */
    model->map = m->map[KRO_MAP_DIFFUSE];
    memcpy(model->colour, m->diffuse, sizeof model->colour);
  }
  return model->triangles > 0;
}

/* The same model compiled in: the loader, and the material table's diffuse map. */
static void LoadCompiledIn(Model *model) {
  char name[KRO_ASE_NAME_CHARS + 1];
  loadMeshTorus(&model->op, &model->nc, &model->realn, &model->tc, name, &model->triangles);
  const kroMaterialEntry *entry = &textured_materials[0];
  memcpy(model->colour, entry->diffuse, sizeof model->colour);
  const char *folders[] = {EXAMPLE_DATA_DIR};
  char found[KRO_OUT_PATH_CHARS];
  if (kroFindMapFile(entry->diffuse_map, nullptr, folders, 1, found, sizeof found))
    model->texture = kroLoadTexture(found);
  else
    printf("textured: %s not found in %s\n", entry->diffuse_map, EXAMPLE_DATA_DIR);
  model->map.u_offset = entry->map_offset[0], model->map.v_offset = entry->map_offset[1];
  model->map.u_tiling = entry->map_tiling[0], model->map.v_tiling = entry->map_tiling[1];
  model->map.angle = entry->map_angle;
}

/* Texture coordinates, normals and positions, lit by GL's light 0, the picture (or the colour)
 * as the surface. */
static void DrawModel(const Model *model) {
  static const float white[3] = {1.0f, 1.0f, 1.0f};
  glColor3fv(model->texture ? white : model->colour);
  if (model->texture) {
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, model->texture);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    kroLoadMapTransform(&model->map);
  }
  glBegin(GL_TRIANGLES);
  for (int t = 0; t < model->triangles; t++)
    for (int v = 0; v < 3; v++) {
      glTexCoord2fv(&model->tc[t][2 * v]);
      glNormal3fv(&model->nc[t][3 * v]);
      glVertex3fv(&model->op[t][3 * v]);
    }
  glEnd();
  glDisable(GL_TEXTURE_2D);
}

static void DrawFrame(const Model *models, long frame) {
  glClearColor(0.08f, 0.08f, 0.12f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glEnable(GL_DEPTH_TEST);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  kroPerspectiveOGL(25.0f, (float)WINDOW_WIDTH / WINDOW_HEIGHT, 0.5f, 30.0f);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  const float light[4] = {-2.0f, 3.0f, 4.0f, 0.0f};
  glLightfv(GL_LIGHT0, GL_POSITION, light);
  glEnable(GL_LIGHTING);
  glEnable(GL_LIGHT0);
  glEnable(GL_COLOR_MATERIAL);
  for (int i = 0; i < 2; i++) {
    glPushMatrix();
    glTranslatef(i ? 1.5f : -1.5f, 0.0f, -4.4f);
    glRotatef(-55.0f, 1.0f, 0.0f, 0.0f);
    glRotatef(TURN_DEGREES_PER_FRAME * (float)frame + 20.0f, 0.0f, 0.0f, 1.0f);
    DrawModel(&models[i]);
    glPopMatrix();
  }
  glDisable(GL_COLOR_MATERIAL);
  glDisable(GL_LIGHTING);
  glMatrixMode(GL_TEXTURE);
  glLoadIdentity();
  glMatrixMode(GL_MODELVIEW);
}

int main(int argc, char **argv) {
  kroApp app = {};
  app.windowed = 1;
  kroSetShaderFolder(KRO_SHADER_DIR);
  if (!kroAppStart(&app, "textured", WINDOW_WIDTH, WINDOW_HEIGHT, &argc, argv))
    return app.status;
  /* Textures need the GL context: the models are read once the window is open. */
  Model models[2];
  kroMaterial *materials = nullptr;
  int material_count = 0;
  if (LoadAtRunTime(&models[0], &materials, &material_count)) {
    LoadCompiledIn(&models[1]);
    for (Model &model : models)
      kroComputeNormals(model.op, model.nc, model.realn, (uint32_t)model.triangles, 1);
    while (kroAppFrame(&app))
      DrawFrame(models, app.frame - 1);
  } else {
    app.status = 1;
    fprintf(stderr, "textured: %s/textured.ase holds no model the engine reads\n",
            EXAMPLE_DATA_DIR);
  }
  kroFreeMaterials(&materials, material_count); /* the run-time model's texture with it */
  kroDestroyTexture(&models[1].texture);
  for (Model &model : models) {
    kroDestroyObject(&model.op, model.triangles);
    kroDestroyObject(&model.nc, model.triangles);
    kroDestroyObject(&model.realn, model.triangles);
    kroDestroyObject(&model.tc, model.triangles);
  }
  return kroAppEnd(&app);
}
