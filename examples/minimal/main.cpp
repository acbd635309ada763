/*
 * minimal: a production on the kro engine in one file. The application layer
 * (kroapp.h) opens the window, starts the engine with the engine's installed
 * shader files and runs the loop; the production draws a turning cube, built
 * by a loader that `krotool mesh-src` wrote from cube.ase, with the engine's
 * lit drawing.
 *
 *   minimal [--window] [--frames N] [--shot FILE.png] [--help]
 *
 * Escape or closing the window ends it; --frames ends it after N frames, and
 * --shot writes the last of them as a PNG picture.
 * Depends on: kro, kroapp, GL.
 */
#include <kro/kroapp.h>

#ifndef KRO_SHADER_DIR
#define KRO_SHADER_DIR "sh" /* the engine's default: relative to the working folder */
#endif

enum { WINDOW_WIDTH = 320, WINDOW_HEIGHT = 240 };
static const float TURN_DEGREES_PER_FRAME = 2.0f;

/* loaders/cube_mesh.cpp, written by krotool mesh-src from cube.ase. */
void loadMeshCube(kroObject *op, kroObject *nc, kroObject *realn, kroObject *tc, char *node_name,
                  int *triangles);

/* The cube's arrays as the loader fills them. */
struct Mesh {
  kroObject positions, normals, face_normals, texcoords;
  int triangles;
  char name[KRO_ASE_NAME_CHARS + 1];
};

static void DrawFrame(const Mesh *cube, long frame) {
  glClearColor(0.05f, 0.05f, 0.1f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glEnable(GL_DEPTH_TEST);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  kroPerspectiveOGL(30.0f, (float)WINDOW_WIDTH / WINDOW_HEIGHT, 1.0f, 100.0f);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glTranslatef(0.0f, 0.0f, -7.0f);
  glRotatef(25.0f, 1.0f, 0.0f, 0.0f);
  glRotatef(TURN_DEGREES_PER_FRAME * (float)frame + 30.0f, 0.0f, 1.0f, 0.0f);
  kroDrawLightMaterialNormalsObject(nullptr, nullptr, nullptr, cube->normals, cube->positions,
                                    (uint32_t)cube->triangles);
  glUseProgramObjectARB(0);
}

int main(int argc, char **argv) {
  kroApp app = {};
  app.windowed = 1;
  kroSetShaderFolder(KRO_SHADER_DIR);
  if (!kroAppStart(&app, "minimal", WINDOW_WIDTH, WINDOW_HEIGHT, &argc, argv))
    return app.status;

  Mesh cube = {};
  loadMeshCube(&cube.positions, &cube.normals, &cube.face_normals, &cube.texcoords, cube.name,
               &cube.triangles);
  while (kroAppFrame(&app))
    DrawFrame(&cube, app.frame - 1);

  kroDestroyObject(&cube.positions, cube.triangles);
  kroDestroyObject(&cube.normals, cube.triangles);
  kroDestroyObject(&cube.face_normals, cube.triangles);
  kroDestroyObject(&cube.texcoords, cube.triangles);
  return kroAppEnd(&app);
}
