/*
 * minimal: a production on the kro engine in one file. It opens an SDL 1.2
 * OpenGL window, starts the engine with the engine's installed shader files,
 * and draws a turning cube, built by a loader that `krotool mesh-src` wrote
 * from cube.ase, with the engine's lit drawing. Engine failures are shown in
 * the window caption as well as on standard output.
 *
 *   minimal [--frames N] [--shot FILE.bmp]
 *
 * Escape or closing the window ends it; --frames ends it after N frames, and
 * --shot (with --frames) writes the last of them as a BMP picture.
 * Depends on: kro, SDL 1.2, GL.
 */
#include "kro.h"

#include <SDL/SDL.h>
#include <stdlib.h>
#include <string.h>

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

static void ShowEngineError(const char *message, void *) {
  SDL_WM_SetCaption(message, nullptr);
}

static bool ParseArguments(int argc, char **argv, long *frames, const char **shot) {
  for (int i = 1; i < argc; i++) {
    if (strcmp(argv[i], "--frames") == 0 && i + 1 < argc) {
      char *end = nullptr;
      *frames = strtol(argv[++i], &end, 10);
      if (*end || *frames < 1)
        return false;
    } else if (strcmp(argv[i], "--shot") == 0 && i + 1 < argc) {
      *shot = argv[++i];
    } else {
      return false;
    }
  }
  return true;
}

static bool EscapeOrQuit(void) {
  SDL_Event event;
  while (SDL_PollEvent(&event)) {
    if (event.type == SDL_QUIT)
      return true;
    if (event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_ESCAPE)
      return true;
  }
  return false;
}

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

/* The window's pixels, bottom row first, as the engine's BMP writer takes them. */
static bool WriteShot(const char *path) {
  int32_t size[2] = {WINDOW_WIDTH, WINDOW_HEIGHT};
  uint8_t *pixels = (uint8_t *)malloc((size_t)WINDOW_WIDTH * WINDOW_HEIGHT * 4);
  if (!pixels)
    return false;
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadBuffer(GL_BACK);
  glReadPixels(0, 0, WINDOW_WIDTH, WINDOW_HEIGHT, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
  bool written = kroExportBMP(path, pixels, size) == 0;
  free(pixels);
  return written;
}

int main(int argc, char **argv) {
  long frames = 0; /* 0: until Escape */
  const char *shot = nullptr;
  if (!ParseArguments(argc, argv, &frames, &shot) || (shot && frames == 0)) {
    fprintf(stderr, "usage: minimal [--frames N] [--shot FILE.bmp]\n");
    return 2;
  }
  if (SDL_Init(SDL_INIT_VIDEO) != 0) {
    fprintf(stderr, "minimal: %s\n", SDL_GetError());
    return 1;
  }
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
  if (!SDL_SetVideoMode(WINDOW_WIDTH, WINDOW_HEIGHT, 32, SDL_OPENGL)) {
    fprintf(stderr, "minimal: %s\n", SDL_GetError());
    SDL_Quit();
    return 1;
  }
  SDL_WM_SetCaption("minimal", nullptr);

  kroSetErrorMessageFunc(ShowEngineError, nullptr);
  kroSetShaderFolder(KRO_SHADER_DIR);
  kroInit(WINDOW_WIDTH, WINDOW_HEIGHT);

  Mesh cube = {};
  loadMeshCube(&cube.positions, &cube.normals, &cube.face_normals, &cube.texcoords, cube.name,
               &cube.triangles);

  int status = 0;
  for (long frame = 0; frames == 0 || frame < frames; frame++) {
    if (EscapeOrQuit())
      break;
    DrawFrame(&cube, frame);
    if (shot && frame + 1 == frames && !WriteShot(shot))
      status = 1;
    SDL_GL_SwapBuffers();
  }

  kroDestroyObject(&cube.positions, cube.triangles);
  kroDestroyObject(&cube.normals, cube.triangles);
  kroDestroyObject(&cube.face_normals, cube.triangles);
  kroDestroyObject(&cube.texcoords, cube.triangles);
  kroDestroyShaders();
  kroDestroy();
  SDL_Quit();
  return status;
}
