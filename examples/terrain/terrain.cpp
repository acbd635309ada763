/*
 * terrain: a landscape from a heightmap picture, lit by lights that circle
 * it. kroLoadHightmapAndNormalsFromBMP turns heightmap.bmp (64 x 64, height
 * from each pixel's blue byte) into a grid of points and one normal per grid
 * point. Each frame the lit drawing, given no triangles, only sets up its
 * program, material and lights: it places them in the space of the model-view
 * matrix current at the call, here turned a little further every frame. The
 * grid is then drawn with kroDrawHightmapWithNormals under the camera's own
 * matrix, so the land stands still while its lit slopes change.
 *
 *   terrain [--frames N] [--shot FILE.png]
 *
 * The window, the loop and the options (--window, --frames N, --shot FILE.png,
 * --help) are the application layer's (kroapp.h).
 * Depends on: kro, kroapp, GL.
 */
#include <kro/kroapp.h>

#include <stdlib.h>
#include <string.h>

#ifndef KRO_SHADER_DIR
#define KRO_SHADER_DIR "sh"
#endif
#ifndef EXAMPLE_DATA_DIR
#define EXAMPLE_DATA_DIR "."
#endif

enum { WINDOW_WIDTH = 480, WINDOW_HEIGHT = 320 };
static const float LIGHT_DEGREES_PER_FRAME = 3.0f;
/* The grid spans x and z from -1 to 1; a blue byte of 255 rises 0.35. */
static const float GRID_OFFSET[3] = {-1.0f, 0.0f, -1.0f};
static const float GRID_SCALE[3] = {2.0f, 2.0f, 0.35f};
static const float LAND_COLOUR[3] = {0.55f, 0.75f, 0.35f};

static void LookAtTheLand(void) {
  glLoadIdentity();
  glTranslatef(0.0f, -0.05f, -3.0f);
  glRotatef(35.0f, 1.0f, 0.0f, 0.0f);
}

static void DrawFrame(float ***points, float ***normals, const int32_t *size, long frame) {
  glClearColor(0.55f, 0.70f, 0.90f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glEnable(GL_DEPTH_TEST);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  kroPerspectiveOGL(25.0f, (float)WINDOW_WIDTH / WINDOW_HEIGHT, 0.5f, 20.0f);
  glMatrixMode(GL_MODELVIEW);
  /* The lights: the camera's matrix turned about the land's up axis. */
  LookAtTheLand();
  glRotatef(LIGHT_DEGREES_PER_FRAME * (float)frame, 0.0f, 1.0f, 0.0f);
  kroSetLightMaterialColor(LAND_COLOUR[0], LAND_COLOUR[1], LAND_COLOUR[2]);
  kroDrawLightMaterialNormalsObject(nullptr, nullptr, nullptr, nullptr, nullptr, 0);
  /* The land, under the camera's matrix alone, through the program left bound. */
  LookAtTheLand();
  kroDrawHightmapWithNormals(points, size, normals);
  glUseProgramObjectARB(0);
}

int main(int argc, char **argv) {
  kroApp app = {};
  app.windowed = 1;
  kroSetShaderFolder(KRO_SHADER_DIR);
  if (!kroAppStart(&app, "terrain", WINDOW_WIDTH, WINDOW_HEIGHT, &argc, argv))
    return app.status;
  int32_t size[2] = {0, 0};
  float ***normals = nullptr;
  float ***points = kroLoadHightmapAndNormalsFromBMP(EXAMPLE_DATA_DIR "/heightmap.bmp", GRID_OFFSET,
                                                     GRID_SCALE, size, &normals);
  if (!points || !normals) {
    fprintf(stderr, "terrain: cannot read %s\n", EXAMPLE_DATA_DIR "/heightmap.bmp");
    app.status = 1;
  }
  while (points && normals && kroAppFrame(&app))
    DrawFrame(points, normals, size, app.frame - 1);
  kroDestroyHightmap(&points, size);
  kroDestroyHightmap(&normals, size);
  return kroAppEnd(&app);
}
