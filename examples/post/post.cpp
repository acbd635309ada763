/*
 * post: a frame drawn off-screen, then shown through the engine's
 * post-processing program. The scene (a box built in code, its normals from
 * kroComputeNormals, turning under the lit drawing in front of a grid of
 * one-pixel lines) is drawn into a framebuffer object of the window's size
 * (kroCreateFrameBufferObject, kroUseFrameBufferObject). Its colour texture
 * is then drawn over the whole window through KRO_POST_PROCESS_SHADER[0],
 * which kroInit built from the shader folder's psh/b with the canvas size it
 * was given: a light 3 x 3 blur, half the pixel and half the mean of its
 * neighbourhood, that softens every edge.
 *
 * The grid's lines stand on the pixel columns 20, 60, 100, ... and rows 20,
 * 60, 100, ... from the bottom left, white on a background without red.
 *
 *   post [--frames N] [--shot FILE.png]
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

enum { WINDOW_WIDTH = 480, WINDOW_HEIGHT = 320, GRID_STEP = 40, GRID_FIRST = 20 };
static const float TURN_DEGREES_PER_FRAME = 2.0f;
static const float BOX_COLOUR[3] = {1.0f, 0.55f, 0.15f};
static const float BACKGROUND[3] = {0.0f, 0.06f, 0.22f};

/* A box of side 2 about the origin: its corners, and two counter-clockwise
 * triangles (seen from outside) a side. */
static const float CORNERS[8][3] = {{-1, -1, -1}, {1, -1, -1}, {1, 1, -1}, {-1, 1, -1},
                                    {-1, -1, 1},  {1, -1, 1},  {1, 1, 1},  {-1, 1, 1}};
static const int BOX_TRIANGLES[12][3] = {{0, 3, 2}, {2, 1, 0}, {4, 5, 6}, {6, 7, 4},
                                         {0, 1, 5}, {5, 4, 0}, {3, 7, 6}, {6, 2, 3},
                                         {1, 2, 6}, {6, 5, 1}, {0, 4, 7}, {7, 3, 0}};

struct Box {
  kroObject op = nullptr, nc = nullptr, realn = nullptr;
  int triangles = 12;
};

/* The box's arrays, with flat normals; false when the engine could not grow them. */
static bool MakeBox(Box *box) {
  kroIncreaseObject(&box->op, 0, box->triangles);
  kroIncreaseObject(&box->nc, 0, box->triangles);
  kroIncreaseCoords(&box->realn, 0, box->triangles);
  if (!box->op || !box->nc || !box->realn)
    return false;
  for (int t = 0; t < box->triangles; t++)
    for (int v = 0; v < 3; v++)
      memcpy(&box->op[t][3 * v], CORNERS[BOX_TRIANGLES[t][v]], 3 * sizeof(float));
  kroComputeNormals(box->op, box->nc, box->realn, (uint32_t)box->triangles, 0);
  return true;
}

static void FreeBox(Box *box) {
  kroDestroyObject(&box->op, box->triangles);
  kroDestroyObject(&box->nc, box->triangles);
  kroDestroyObject(&box->realn, box->triangles);
}

/* A colour texture of the window's size, sampled once per pixel. */
static bool MakeCanvas(kroFrameBufferObject *canvas) {
  const int32_t size[2] = {WINDOW_WIDTH, WINDOW_HEIGHT};
  if (kroCreateFrameBufferObject(canvas, size, nullptr, 0) != 0)
    return false;
  glBindTexture(GL_TEXTURE_2D, *canvas->color_buffer);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST); /* no mipmaps */
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  glBindTexture(GL_TEXTURE_2D, 0);
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
  return true;
}

/* One-pixel white lines, fixed-function, one unit a pixel. */
static void DrawGrid(void) {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0.0, WINDOW_WIDTH, 0.0, WINDOW_HEIGHT, -1.0, 1.0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glColor3f(1.0f, 1.0f, 1.0f);
  glBegin(GL_LINES);
  for (int x = GRID_FIRST; x < WINDOW_WIDTH; x += GRID_STEP) {
    glVertex2f((float)x + 0.5f, 0.0f);
    glVertex2f((float)x + 0.5f, (float)WINDOW_HEIGHT);
  }
  for (int y = GRID_FIRST; y < WINDOW_HEIGHT; y += GRID_STEP) {
    glVertex2f(0.0f, (float)y + 0.5f);
    glVertex2f((float)WINDOW_WIDTH, (float)y + 0.5f);
  }
  glEnd();
}

static void DrawScene(const Box *box, long frame) {
  glClearColor(BACKGROUND[0], BACKGROUND[1], BACKGROUND[2], 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glDisable(GL_DEPTH_TEST);
  DrawGrid();
  glEnable(GL_DEPTH_TEST);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  kroPerspectiveOGL(25.0f, (float)WINDOW_WIDTH / WINDOW_HEIGHT, 1.0f, 20.0f);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glTranslatef(0.0f, 0.0f, -7.0f);
  glRotatef(25.0f, 1.0f, 0.0f, 0.0f);
  glRotatef(TURN_DEGREES_PER_FRAME * (float)frame + 30.0f, 0.0f, 1.0f, 0.0f);
  kroSetLightMaterialColor(BOX_COLOUR[0], BOX_COLOUR[1], BOX_COLOUR[2]);
  kroDrawLightMaterialNormalsObject(nullptr, nullptr, nullptr, box->nc, box->op,
                                    (uint32_t)box->triangles);
  glUseProgramObjectARB(0);
}

/* The canvas over the whole window through the post-processing program, whose
 * vertex stage takes positions as clip coordinates. */
static void ShowThroughPost(const kroFrameBufferObject *canvas) {
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
  glViewport(0, 0, WINDOW_WIDTH, WINDOW_HEIGHT);
  glDisable(GL_DEPTH_TEST);
  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, *canvas->color_buffer);
  glUseProgramObjectARB(KRO_POST_PROCESS_SHADER[0].program);
  glBegin(GL_QUADS);
  glTexCoord2f(0.0f, 0.0f);
  glVertex2f(-1.0f, -1.0f);
  glTexCoord2f(1.0f, 0.0f);
  glVertex2f(1.0f, -1.0f);
  glTexCoord2f(1.0f, 1.0f);
  glVertex2f(1.0f, 1.0f);
  glTexCoord2f(0.0f, 1.0f);
  glVertex2f(-1.0f, 1.0f);
  glEnd();
  glUseProgramObjectARB(0);
  glBindTexture(GL_TEXTURE_2D, 0);
  glDisable(GL_TEXTURE_2D);
}

int main(int argc, char **argv) {
  kroApp app = {};
  app.windowed = 1;
  kroSetShaderFolder(KRO_SHADER_DIR);
  /* The engine's post program gets the window as its canvas. */
  if (!kroAppStart(&app, "post", WINDOW_WIDTH, WINDOW_HEIGHT, &argc, argv))
    return app.status;
  Box box;
  kroFrameBufferObject canvas = {};
  if (!MakeBox(&box) || !MakeCanvas(&canvas)) {
    fprintf(stderr, "post: cannot make the box or the off-screen canvas\n");
    app.status = 1;
  } else {
    while (kroAppFrame(&app)) {
      kroUseFrameBufferObject(&canvas);
      DrawScene(&box, app.frame - 1);
      ShowThroughPost(&canvas);
    }
  }
  if (canvas.frame_buffer)
    kroDestroyFrameBufferObject(&canvas, 3);
  FreeBox(&box);
  return kroAppEnd(&app);
}
