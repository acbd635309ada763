/*
 * The intro's process entry: a full-screen 1200 x 600 OpenGL mode, hidden
 * cursor, and one loop that handles one pending event per pass or, with the
 * queue empty, draws one frame of the scene at the seconds elapsed since
 * start. Ends by itself after 14 s, at once on Escape, or on a quit request.
 * "--window" plays in a window of the same size, "--version" prints the
 * engine's version; without a display, or without GL, it stops at once with
 * status 1.
 * Depends on: SDL 1.2 (mode, events, ticks), GL, the intro scene.
 */
#include "ZKintro.h"

#include <SDL/SDL.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const int WINDOW_WIDTH = 1200;  /* pixels */
static const int WINDOW_HEIGHT = 600;  /* pixels */
static const int WINDOW_BITS = 32;     /* bits per pixel */
static const float VIEW_ASPECT = 2.0f; /* 1200 / 600, kept after a resize */
static const double TICKS_PER_SECOND = 1000.0;
static const float RUNNING_SECONDS = 14.0f; /* a frame later than this ends the program */

static char Program = 1; /* the loop runs while non-zero */
static SDL_Event Event;  /* the event being handled */
static Uint32 start = 0; /* SDL ticks (ms) right after the window was made */

static Uint32 ModeFlags = SDL_FULLSCREEN | SDL_OPENGL; /* SDL_OPENGL alone with --window */

/* Video that cannot start, a mode that cannot be set, or a mode without GL:
 * one line with SDL's reason, and the intro does not play. */
static void FailVideo(const char *what) {
  fprintf(stderr, "zkintro: %s: %s\n", what, SDL_GetError());
  SDL_Quit();
  exit(1);
}

/* The GL buffers wanted: double buffering, a 24-bit depth buffer (what every
 * driver offers; 32 bits is rare) and 8 bits for each colour channel and
 * alpha. SDL reads these when a mode is set, and SDL_VideoInit resets them to
 * its own defaults, so they go between the two. */
static void RequestGLBuffers() {
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
  SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 8);
}

/* The video driver, every time video starts: without a display SDL would fall
 * back to a text-terminal driver that has no GL and leaves the terminal
 * changed; X11 makes the start fail with SDL's reason instead. A driver the
 * user chose stays. */
static const char *VideoDriver() {
  setenv("SDL_VIDEODRIVER", "x11", 0);
  return getenv("SDL_VIDEODRIVER");
}

void MakeWindow(const char *title, int width, int height) {
  VideoDriver();
  SDL_Init(SDL_INIT_EVERYTHING);
  if (!SDL_WasInit(SDL_INIT_VIDEO) || SDL_VideoInit(VideoDriver(), 0) < 0)
    FailVideo("cannot start video");
  RequestGLBuffers();
  /* A display that cannot give those buffers gets one more try with SDL's
   * defaults, which starting video again restores. */
  if (!SDL_SetVideoMode(width, height, WINDOW_BITS, ModeFlags) &&
      (SDL_VideoInit(VideoDriver(), 0) < 0 ||
       !SDL_SetVideoMode(width, height, WINDOW_BITS, ModeFlags)))
    FailVideo("cannot set the video mode");
  if (!glGetString(GL_VERSION)) {
    SDL_SetError("the video mode has no OpenGL context");
    FailVideo("no OpenGL");
  }
  SDL_WM_SetCaption(title, NULL);
  glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
  glClearDepth(1.0);
}

void Quit() {
  SDL_Quit();
  exit(0);
}

void KeyboardDown(int key) {
  if (key == SDLK_ESCAPE)
    Quit();
}

void KeyboardUp(int key) {
  (void)key;
}

void MouseMotion(int x, int y) {
  (void)x;
  (void)y;
}

void MouseButtonDown(char button, int x, int y) {
  (void)button;
  (void)x;
  (void)y;
}

void MouseButtonUp(char button, int x, int y) {
  (void)button;
  (void)x;
  (void)y;
}

static void HandleEvent() {
  switch (Event.type) {
  case SDL_KEYDOWN:
    KeyboardDown(Event.key.keysym.sym);
    break;
  case SDL_KEYUP:
    KeyboardUp(Event.key.keysym.sym);
    break;
  case SDL_MOUSEMOTION:
    MouseMotion(Event.motion.x, Event.motion.y);
    break;
  case SDL_MOUSEBUTTONDOWN:
    MouseButtonDown((char)Event.button.button, Event.button.x, Event.button.y);
    break;
  case SDL_MOUSEBUTTONUP:
    MouseButtonUp((char)Event.button.button, Event.button.x, Event.button.y);
    break;
  case SDL_QUIT:
    Program = 0;
    break;
  case SDL_VIDEORESIZE:
    MakeWindow("ZKintro", Event.resize.w, Event.resize.h);
    break;
  default:
    break;
  }
}

/* One frame at the seconds elapsed since start; the unsigned difference stays
 * right across a wrap of the tick counter. */
static void DrawFrame() {
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  Uint32 elapsed = SDL_GetTicks() - start;
  float seconds = (float)(elapsed / TICKS_PER_SECOND);
  zkIntro(VIEW_ASPECT, seconds);
  SDL_GL_SwapBuffers();
  if (seconds > RUNNING_SECONDS)
    Quit();
}

static const char USAGE[] = "usage: zkintro [--window | --version | --help]\n"
                            "  --window   play in a 1200 x 600 window instead of full screen\n"
                            "  --version  print the version\n"
                            "  --help     show this text\n";

/* Takes the options; exits on --help and --version (0) and on an unknown
 * option (2). */
static void ReadOptions(int argc, char **argv) {
  for (int i = 1; i < argc; i++) {
    if (!strcmp(argv[i], "--window")) {
      ModeFlags = SDL_OPENGL;
    } else if (!strcmp(argv[i], "--help")) {
      fputs(USAGE, stdout);
      exit(0);
    } else if (!strcmp(argv[i], "--version")) {
      puts("zkintro " KRO_VERSION_STRING);
      exit(0);
    } else {
      fprintf(stderr, "zkintro: unknown option '%s'\n%s", argv[i], USAGE);
      exit(2);
    }
  }
}

int main(int argc, char **argv) {
  ReadOptions(argc, argv);
  MakeWindow("ZKintro", WINDOW_WIDTH, WINDOW_HEIGHT);
  start = SDL_GetTicks();
  SDL_ShowCursor(0);
  while (Program) {
    if (SDL_PollEvent(&Event))
      HandleEvent();
    else
      DrawFrame();
  }
  /* Gives the display its own mode back before the process goes. */
  SDL_Quit();
  return 0;
}
