/*
 * kroview's entry: options, the model and ground read before any window
 * opens, then either one off-screen frame written as a PNG (--shot) or a
 * window with the orbit camera, picking, post-processing and screenshots.
 * Depends on: kroview_core (kroview.h), SDL 1.2, GL.
 */
#include "kroview.h"

#include <SDL/SDL.h>
#include <limits.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static const int KV_WINDOW_WIDTH = 1200, KV_WINDOW_HEIGHT = 600; /* pixels */
static const int KV_MAX_SIDE = 8192;                             /* pixels, --size limit */
static const float KV_DRAG_DEGREES = 0.4f;                       /* per pixel of mouse drag */
static const float KV_KEY_DEGREES = 5.0f;                        /* per arrow key press */
static const float KV_ZOOM_STEP = 1.12f;                         /* per wheel notch or key */
static const Uint32 KV_FPS_PERIOD = 500;                         /* ms between fps updates */
static const int KV_MAX_SCREENSHOTS = 10000;

/* Where the shader and font files are: the build tree's, or an installed
 * tree's relative to the program (<prefix>/bin/kroview). */
#ifndef KV_SOURCE_SHADERS
#define KV_SOURCE_SHADERS "sh"
#endif
#ifndef KV_BUILD_FONT
#define KV_BUILD_FONT "kroview.krof"
#endif
static const char KV_INSTALLED_SHADERS[] = "/../share/kro/sh";
static const char KV_INSTALLED_FONT[] = "/../share/kro/fonts/kroview.krof";

typedef struct kvOptions {
  const char *model, *terrain, *shot, *shaders, *font, *object;
  float yaw, pitch;
  int width, height;
  int post, fullscreen, overlay;
} kvOptions;

static void kvUsage(FILE *out) {
  fprintf(out,
          "usage: kroview [options] FILE.ase\n"
          "  --terrain FILE.bmp  a heightmap ground under the model\n"
          "  --shot OUT.png      render one frame off-screen into OUT.png and exit\n"
          "  --yaw DEG           camera angle about the vertical (default %.0f)\n"
          "  --pitch DEG         camera angle above the horizon (default %.0f)\n"
          "  --size WxH          view size in pixels (default %dx%d)\n"
          "  --post              start with post-processing on\n"
          "  --no-overlay        hide the text overlay\n"
          "  --object NAME|N     start with this object chosen: its name, or 1 for the first\n"
          "  --fullscreen        use the whole screen\n"
          "  --shaders DIR       the engine's shader folder (holding ish/ and psh/)\n"
          "  --font FILE.krof    the overlay font\n"
          "  --help              this text\n"
          "keys: drag orbit, wheel or +/- zoom, arrows turn, Home reset, Tab next object,\n"
          "      B post-processing, H overlay, F12 screenshot, Escape or Q quit\n",
          KV_DEFAULT_YAW, KV_DEFAULT_PITCH, KV_WINDOW_WIDTH, KV_WINDOW_HEIGHT);
}

static int kvParseAngle(const char *text, float *degrees) {
  char *end;
  float value = strtof(text, &end);
  if (end == text || *end || !isfinite(value) || fabsf(value) > 3600.0f)
    return 0;
  *degrees = value;
  return 1;
}

static int kvParseSize(const char *text, int *width, int *height) {
  char *end;
  long w = strtol(text, &end, 10);
  if (end == text || (*end != 'x' && *end != 'X'))
    return 0;
  const char *rest = end + 1;
  long h = strtol(rest, &end, 10);
  if (end == rest || *end || w < 1 || h < 1 || w > KV_MAX_SIDE || h > KV_MAX_SIDE)
    return 0;
  *width = (int)w;
  *height = (int)h;
  return 1;
}

/* Takes an option with a value; 0 when the option or its value is not usable. */
static int kvTakeValueOption(const char *name, const char *value, kvOptions *o) {
  if (!strcmp(name, "--terrain"))
    o->terrain = value;
  else if (!strcmp(name, "--shot"))
    o->shot = value;
  else if (!strcmp(name, "--shaders"))
    o->shaders = value;
  else if (!strcmp(name, "--font"))
    o->font = value;
  else if (!strcmp(name, "--object"))
    o->object = value;
  else if (!strcmp(name, "--yaw"))
    return kvParseAngle(value, &o->yaw);
  else if (!strcmp(name, "--pitch"))
    return kvParseAngle(value, &o->pitch);
  else if (!strcmp(name, "--size"))
    return kvParseSize(value, &o->width, &o->height);
  else
    return 0;
  return value[0] != '\0';
}

/* 0 when the options are usable, 1 after --help, 2 on a bad option. */
static int kvParseOptions(int argc, char **argv, kvOptions *o) {
  memset(o, 0, sizeof *o);
  o->yaw = KV_DEFAULT_YAW;
  o->pitch = KV_DEFAULT_PITCH;
  o->width = KV_WINDOW_WIDTH;
  o->height = KV_WINDOW_HEIGHT;
  o->overlay = 1;
  for (int i = 1; i < argc; i++) {
    const char *arg = argv[i];
    if (!strcmp(arg, "--help"))
      return 1;
    else if (!strcmp(arg, "--post"))
      o->post = 1;
    else if (!strcmp(arg, "--fullscreen"))
      o->fullscreen = 1;
    else if (!strcmp(arg, "--no-overlay"))
      o->overlay = 0;
    else if (arg[0] == '-') {
      if (i + 1 >= argc || !kvTakeValueOption(arg, argv[i + 1], o))
        return 2;
      i++;
    } else if (o->model)
      return 2;
    else
      o->model = arg;
  }
  return o->model ? 0 : 2;
}

/* ---- files beside the program ------------------------------------------- */

static int kvReadable(const char *path) {
  return access(path, R_OK) == 0;
}

/* An installed tree's file, from the folder the program was started from. */
static int kvInstalledPath(const char *tail, char *path, size_t bytes) {
  char program[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", program, sizeof program - 1);
  if (length <= 0)
    return 0;
  program[length] = '\0';
  char *slash = strrchr(program, '/');
  if (!slash)
    return 0;
  *slash = '\0';
  return snprintf(path, bytes, "%s%s", program, tail) < (int)bytes;
}

static void kvFindShaders(const kvOptions *o) {
  char installed[PATH_MAX + 64], probe[PATH_MAX + 96];
  const char *folder = o->shaders;
  if (!folder && kvInstalledPath(KV_INSTALLED_SHADERS, installed, sizeof installed)) {
    snprintf(probe, sizeof probe, "%s/ish/b.vert", installed);
    if (kvReadable(probe))
      folder = installed;
  }
  if (!folder)
    folder = KV_SOURCE_SHADERS;
  kroSetShaderFolder(folder);
}

static const char *kvFindFont(const kvOptions *o, char *buffer, size_t bytes) {
  if (o->font)
    return o->font;
  if (kvInstalledPath(KV_INSTALLED_FONT, buffer, bytes) && kvReadable(buffer))
    return buffer;
  return KV_BUILD_FONT;
}

/* ---- start-up ----------------------------------------------------------- */

static const char *kvBaseName(const char *path) {
  const char *slash = strrchr(path, '/');
  return slash ? slash + 1 : path;
}

/* Whether `which` is the place of an object the reader refused. */
static int kvWasRefused(const kvScene *scene, const char *which) {
  char *end;
  long number = strtol(which, &end, 10);
  for (int i = 0; which[0] && !*end && i < scene->refused_count && i < KV_MAX_REFUSED; i++)
    if (scene->refused[i].number == number)
      return 1;
  return 0;
}

/* Chooses the object named by --object: 0, or 2 when the file has no such object. */
static int kvChooseObject(kvView *view, const kvOptions *o) {
  if (!o->object)
    return 0;
  view->chosen = kvFindObject(&view->scene, o->object);
  if (view->chosen >= 0)
    return 0;
  if (kvWasRefused(&view->scene, o->object))
    fprintf(stderr, "kroview: %s: object %s was refused\n", o->model, o->object);
  else
    fprintf(stderr, "kroview: %s has no object '%s'\n", o->model, o->object);
  kvFreeTerrain(&view->terrain);
  kvFreeScene(&view->scene);
  return 2;
}

/* The model (and ground) before any window: 0, or 1 after the reasons. */
static int kvLoadFiles(kvView *view, const kvOptions *o) {
  char why[PATH_MAX + 128];
  if (kvLoadScene(&view->scene, o->model, why, (int)sizeof why) != 0) {
    fprintf(stderr, "kroview: %s\n", why);
    return 1;
  }
  kvPrintRefused(&view->scene, o->model);
  if (o->terrain && kvLoadTerrain(&view->terrain, o->terrain, view->scene.floor) != 0) {
    fprintf(stderr, "kroview: cannot use %s as a heightmap\n", o->terrain);
    kvFreeScene(&view->scene);
    return 1;
  }
  return 0;
}

static void kvStartEngine(kvView *view, const kvOptions *o, int width, int height) {
  char font[PATH_MAX + 64];
  kvFindShaders(o);
  kroInit(width, height);
  kvBuildSceneLists(&view->scene);
  kvBuildTerrainList(&view->terrain);
  const char *font_path = kvFindFont(o, font, sizeof font);
  if (kvOpenOverlay(&view->overlay, font_path) != 0)
    fprintf(stderr, "kroview: no overlay: cannot load the font %s\n", font_path);
  kvResetCamera(&view->camera, width, height);
  view->camera.yaw = o->yaw;
  view->camera.pitch = o->pitch;
  kvClampCamera(&view->camera);
}

static void kvStop(kvView *view) {
  kvCloseOverlay(&view->overlay);
  kvFreePost();
  kvFreeTerrain(&view->terrain);
  kvFreeScene(&view->scene);
  kroDestroyShaders();
  SDL_Quit();
}

/* ---- one frame off-screen ----------------------------------------------- */

static int kvShot(kvView *view, const kvOptions *o) {
  if (SDL_Init(SDL_INIT_VIDEO) != 0 || !SDL_SetVideoMode(64, 64, 32, SDL_OPENGL)) {
    fprintf(stderr, "kroview: no OpenGL context: %s\n", SDL_GetError());
    return 1;
  }
  SDL_WM_SetCaption("kroview", nullptr);
  kvStartEngine(view, o, o->width, o->height);
  view->fps = -1.0f;
  kroFrameBufferObject target;
  const int32_t size[2] = {o->width, o->height};
  if (kroCreateFrameBufferObject(&target, size, nullptr, 0) != 0) {
    fprintf(stderr, "kroview: no off-screen target of %d x %d\n", o->width, o->height);
    kvStop(view);
    return 1;
  }
  kvDrawView(view, target.frame_buffer);
  glFinish();
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, target.frame_buffer);
  uint8_t *rgb = kvReadPixels(o->width, o->height);
  int failed = !rgb || kvWritePNG(o->shot, rgb, o->width, o->height) != 0;
  free(rgb);
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
  kroDestroyFrameBufferObject(&target, 3);
  kvStop(view);
  if (!failed)
    printf("kroview: wrote %s\n", o->shot);
  return failed;
}

/* ---- the window --------------------------------------------------------- */

typedef struct kvWindow {
  kvView *view;
  int running, dragging, mouse_x, mouse_y, mouse_moved;
  Uint32 fps_start;
  int fps_frames;
} kvWindow;

static int kvOpenWindow(const kvOptions *o, int *width, int *height) {
  if (SDL_Init(SDL_INIT_VIDEO) != 0) {
    fprintf(stderr, "kroview: %s\n", SDL_GetError());
    return 0;
  }
  Uint32 flags = SDL_OPENGL;
  if (o->fullscreen) {
    const SDL_VideoInfo *info = SDL_GetVideoInfo();
    if (info && info->current_w > 0 && info->current_h > 0) {
      *width = info->current_w;
      *height = info->current_h;
    }
    flags |= SDL_FULLSCREEN;
  }
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
  if (!SDL_SetVideoMode(*width, *height, 32, flags)) {
    fprintf(stderr, "kroview: cannot open a %d x %d window: %s\n", *width, *height, SDL_GetError());
    return 0;
  }
  SDL_WM_SetCaption("kroview", nullptr);
  return 1;
}

/* The frame as it is on screen, into the first free kroview-NNNN.png. */
static void kvScreenshot(const kvView *view) {
  char path[64];
  for (int n = 1; n < KV_MAX_SCREENSHOTS; n++) {
    snprintf(path, sizeof path, "kroview-%04d.png", n);
    if (access(path, F_OK) != 0)
      break;
  }
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
  glReadBuffer(GL_BACK);
  uint8_t *rgb = kvReadPixels(view->camera.width, view->camera.height);
  if (rgb && kvWritePNG(path, rgb, view->camera.width, view->camera.height) == 0)
    printf("kroview: screenshot %s\n", path);
  fflush(stdout);
  free(rgb);
}

static void kvNextObject(kvView *view) {
  int count = view->scene.object_count;
  view->chosen = view->chosen + 1 >= count ? -1 : view->chosen + 1;
}

static void kvKey(kvWindow *w, SDLKey key) {
  kvView *view = w->view;
  kvCamera *camera = &view->camera;
  switch (key) {
  case SDLK_ESCAPE:
  case SDLK_q:
    w->running = 0;
    break;
  case SDLK_LEFT:
    camera->yaw -= KV_KEY_DEGREES;
    break;
  case SDLK_RIGHT:
    camera->yaw += KV_KEY_DEGREES;
    break;
  case SDLK_UP:
    camera->pitch += KV_KEY_DEGREES;
    break;
  case SDLK_DOWN:
    camera->pitch -= KV_KEY_DEGREES;
    break;
  case SDLK_PLUS:
  case SDLK_EQUALS:
  case SDLK_KP_PLUS:
    camera->zoom /= KV_ZOOM_STEP;
    break;
  case SDLK_MINUS:
  case SDLK_KP_MINUS:
    camera->zoom *= KV_ZOOM_STEP;
    break;
  case SDLK_HOME:
    kvResetCamera(camera, camera->width, camera->height);
    break;
  case SDLK_TAB:
    kvNextObject(view);
    break;
  case SDLK_b:
    view->post = !view->post;
    break;
  case SDLK_h:
    view->show_overlay = !view->show_overlay;
    break;
  case SDLK_F12:
    kvScreenshot(view);
    break;
  default:
    break;
  }
  kvClampCamera(camera);
}

static void kvEvent(kvWindow *w, const SDL_Event *event) {
  kvCamera *camera = &w->view->camera;
  switch (event->type) {
  case SDL_QUIT:
    w->running = 0;
    break;
  case SDL_KEYDOWN:
    kvKey(w, event->key.keysym.sym);
    break;
  case SDL_MOUSEBUTTONDOWN:
    if (event->button.button == SDL_BUTTON_LEFT)
      w->dragging = 1;
    else if (event->button.button == SDL_BUTTON_WHEELUP)
      camera->zoom /= KV_ZOOM_STEP;
    else if (event->button.button == SDL_BUTTON_WHEELDOWN)
      camera->zoom *= KV_ZOOM_STEP;
    kvClampCamera(camera);
    break;
  case SDL_MOUSEBUTTONUP:
    if (event->button.button == SDL_BUTTON_LEFT)
      w->dragging = 0;
    break;
  case SDL_MOUSEMOTION:
    if (w->dragging) {
      camera->yaw -= event->motion.xrel * KV_DRAG_DEGREES;
      camera->pitch += event->motion.yrel * KV_DRAG_DEGREES;
      kvClampCamera(camera);
    }
    w->mouse_x = event->motion.x;
    w->mouse_y = event->motion.y;
    w->mouse_moved = 1;
    break;
  default:
    break;
  }
}

static void kvCountFrame(kvWindow *w) {
  w->fps_frames++;
  Uint32 now = SDL_GetTicks();
  if (now - w->fps_start >= KV_FPS_PERIOD) {
    w->view->fps = 1000.0f * (float)w->fps_frames / (float)(now - w->fps_start);
    w->fps_start = now;
    w->fps_frames = 0;
  }
}

static int kvRunWindow(kvView *view, const kvOptions *o) {
  int width = o->width, height = o->height;
  if (!kvOpenWindow(o, &width, &height)) {
    kvFreeTerrain(&view->terrain);
    kvFreeScene(&view->scene);
    SDL_Quit();
    return 1;
  }
  kvStartEngine(view, o, width, height);
  kvWindow w = {view, 1, 0, -1, -1, 0, SDL_GetTicks(), 0};
  view->fps = -1.0f;
  SDL_Event event;
  while (w.running) {
    while (SDL_PollEvent(&event))
      kvEvent(&w, &event);
    if (w.mouse_moved && !w.dragging)
      view->hovered = kvObjectAt(view, w.mouse_x, w.mouse_y);
    w.mouse_moved = 0;
    kvDrawView(view, 0);
    SDL_GL_SwapBuffers();
    kvCountFrame(&w);
  }
  kvStop(view);
  return 0;
}

int main(int argc, char **argv) {
  kvOptions options;
  int parsed = kvParseOptions(argc, argv, &options);
  if (parsed == 1) {
    kvUsage(stdout);
    return 0;
  }
  if (parsed == 2) {
    kvUsage(stderr);
    return 2;
  }
  static kvView view;
  view.file_name = kvBaseName(options.model);
  view.post = options.post;
  view.show_overlay = options.overlay;
  view.hovered = view.chosen = -1;
  kvCatchEngineMessages();
  if (kvLoadFiles(&view, &options) != 0)
    return 1;
  if (kvChooseObject(&view, &options) != 0)
    return 2;
  setvbuf(stdout, nullptr, _IOLBF, 0);
  return options.shot ? kvShot(&view, &options) : kvRunWindow(&view, &options);
}
