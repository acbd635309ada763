/*
 * What the examples share and is not their subject: the window, the end of
 * the run (Escape, closing the window, or --frames N), and --shot FILE.bmp,
 * the last frame as a picture. Each example includes it once.
 * Depends on: kro (kroExportBMP), SDL 1.2, GL.
 */
#ifndef KRO_EXAMPLE_WINDOW_H
#define KRO_EXAMPLE_WINDOW_H

#include <kro/kro.h>

#include <SDL/SDL.h>
#include <stdlib.h>
#include <string.h>

/* --frames N and --shot FILE; a shot needs a frame count. False on anything else. */
static inline bool ParseArguments(int argc, char **argv, long *frames, const char **shot) {
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
  return !*shot || *frames > 0;
}

/* A double-buffered OpenGL window of width x height pixels with a 24-bit depth buffer. */
static inline bool OpenWindow(const char *caption, int width, int height) {
  if (SDL_Init(SDL_INIT_VIDEO) != 0)
    return false;
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
  if (!SDL_SetVideoMode(width, height, 32, SDL_OPENGL))
    return false;
  SDL_WM_SetCaption(caption, nullptr);
  return true;
}

/* True once the user has asked to stop (Escape, or closing the window). */
static inline bool EscapeOrQuit(void) {
  SDL_Event event;
  while (SDL_PollEvent(&event))
    if (event.type == SDL_QUIT ||
        (event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_ESCAPE))
      return true;
  return false;
}

/* The window's back buffer (read before the swap), bottom row first, as the engine's BMP
 * writer takes it. */
static inline bool WriteShot(const char *path, int width, int height) {
  int32_t size[2] = {width, height};
  uint8_t *pixels = (uint8_t *)malloc((size_t)width * height * 4);
  if (!pixels)
    return false;
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadBuffer(GL_BACK);
  glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
  bool written = kroExportBMP(path, pixels, size) == 0;
  free(pixels);
  return written;
}

#endif /* KRO_EXAMPLE_WINDOW_H */
