/*
 * kroview's entry: options, the model and ground read before any window
 * opens, then either one off-screen frame written as a PNG (--shot) or a
 * window with the orbit camera, picking, post-processing and screenshots.
 * Depends on: kroview_core (kroview.h), SDL 1.2, GL.
 */
#include "kroview.h"

#include <SDL/SDL.h>
#include <errno.h>
#include <limits.h>
#include <signal.h>
#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
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
  kvUp up;
  int up_given; /* 0: the format's own (kvFormatUp) */
  int post, fullscreen, overlay, grid, axes, edges;
  int watch; /* 0 off, 1 inotify (polling where it is missing), 2 polling */
  int info;
} kvOptions;

enum { KV_PARSED = 0, KV_SHOW_HELP, KV_SHOW_VERSION, KV_SHOW_KEYS, KV_USAGE_ERROR };

static void kvUsage(FILE *out) {
  fprintf(out,
          "usage: kroview [options] FILE.ase\n"
          "  --terrain FILE.bmp  a heightmap ground under the model\n"
          "  --shot OUT.png      render one frame off-screen into OUT.png and exit\n"
          "  --yaw DEG           camera angle about the vertical (default %.0f)\n"
          "  --pitch DEG         camera angle above the horizon (default %.0f)\n"
          "  --size WxH          view size in pixels (default %dx%d)\n"
          "  --up AXIS           the file's axis that points up: +z, +y, -z, +x, -x, -y\n"
          "                      (default +z for ASE, +y for OBJ and glTF, as Blender\n"
          "                      writes them: a Blender scene stands as it did there)\n"
          "  --post              start with post-processing on\n"
          "  --no-overlay        hide the text overlay\n"
          "  --grid              a ground grid in file units (its spacing in the overlay)\n"
          "  --axis              a gizmo of the file's axes in the lower-left corner\n"
          "  --edges             every object's triangle edges\n"
          "  --no-watch          do not read the model (with its .mtl or .bin files), its map\n"
          "                      pictures and the shaders again when they change (a window\n"
          "                      watches them; --shot never does)\n"
          "  --watch-poll        watch by looking at the files' times every 0.1 s, for file\n"
          "                      systems that do not report changes\n"
          "  --object NAME|N     start with this object chosen: its name, or 1 for the first\n"
          "  --fullscreen        use the whole screen\n"
          "  --shaders DIR       the engine's shader folder (holding ish/ and psh/)\n"
          "  --font FILE.krof    the overlay font\n"
          "  --info              describe the file (objects, materials and their picture\n"
          "                      maps, bounds, normals, refusals) without a window, and exit\n"
          "  --list-keys         the keys of the window and what they do\n"
          "  --version           the version\n"
          "  --help              this text\n"
          "Pictures are written whole: --shot replaces OUT.png only once it is complete,\n"
          "F12 takes the first free kroview-NNNN.png of the working folder.\n"
          "A material's diffuse map is drawn as a texture (T turns textures off and on); its\n"
          "picture is looked for as the file names it, then by its name beside FILE.ase.\n"
          "FILE.ase may be an OBJ or a glTF file (told by its content): an OBJ file's .mtl\n"
          "libraries give its materials, their pictures looked for beside the library; a\n"
          "glTF file (.gltf or .glb) gives its own, pictures inside it (a .glb's, or data:\n"
          "URIs) drawn as textures too. A window also watches an OBJ file's .mtl libraries\n"
          "and a glTF file's .bin buffers: a change reads the model again.\n",
          KV_DEFAULT_YAW, KV_DEFAULT_PITCH, KV_WINDOW_WIDTH, KV_WINDOW_HEIGHT);
}

static void kvListKeys(void) {
  char line[KV_LINE_CHARS];
  for (int i = 0; i < KV_KEY_COUNT; i++) {
    kvKeyLine(i, line, (int)sizeof line);
    printf("%s\n", line);
  }
}

/* One line on standard error naming what was wrong; the usage error's status. */
static int kvUsageError(const char *format, ...) {
  va_list arguments;
  va_start(arguments, format);
  fputs("kroview: ", stderr);
  vfprintf(stderr, format, arguments);
  fputs(" (kroview --help lists the options)\n", stderr);
  va_end(arguments);
  return KV_USAGE_ERROR;
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

static int kvNonEmpty(const char *text, const char **kept) {
  *kept = text;
  return text[0] != '\0';
}

/* An option that takes a value: its name, what it expects, and where the value goes. */
typedef struct kvValueOption {
  const char *name, *expected;
} kvValueOption;

static const kvValueOption KV_VALUE_OPTIONS[] = {
    {"--terrain", "a heightmap FILE.bmp"},
    {"--shot", "an output file OUT.png"},
    {"--shaders", "a shader folder DIR"},
    {"--font", "a font FILE.krof"},
    {"--object", "an object's name or its place (1 for the first)"},
    {"--yaw", "degrees, a finite number of -3600..3600"},
    {"--pitch", "degrees, a finite number of -3600..3600"},
    {"--size", "WxH, two whole numbers of 1..8192 (as 800x400)"},
    {"--up", "an axis: +z, +y, +x, -z, -y or -x"},
};

/* 1 when the value is usable */
static int kvTakeValue(int which, const char *value, kvOptions *o) {
  switch (which) {
  case 0:
    return kvNonEmpty(value, &o->terrain);
  case 1:
    return kvNonEmpty(value, &o->shot);
  case 2:
    return kvNonEmpty(value, &o->shaders);
  case 3:
    return kvNonEmpty(value, &o->font);
  case 4:
    return kvNonEmpty(value, &o->object);
  case 5:
    return kvParseAngle(value, &o->yaw);
  case 6:
    return kvParseAngle(value, &o->pitch);
  case 7:
    return kvParseSize(value, &o->width, &o->height);
  default:
    o->up_given = 1;
    return kvParseUp(value, &o->up);
  }
}

static int kvValueOptionIndex(const char *name) {
  for (int i = 0; i < (int)(sizeof KV_VALUE_OPTIONS / sizeof KV_VALUE_OPTIONS[0]); i++)
    if (!strcmp(name, KV_VALUE_OPTIONS[i].name))
      return i;
  return -1;
}

/* 1 when `arg` is a known option without a value (and it is taken) */
static int kvTakeFlag(const char *arg, kvOptions *o) {
  if (!strcmp(arg, "--post"))
    o->post = 1;
  else if (!strcmp(arg, "--fullscreen"))
    o->fullscreen = 1;
  else if (!strcmp(arg, "--no-overlay"))
    o->overlay = 0;
  else if (!strcmp(arg, "--grid"))
    o->grid = 1;
  else if (!strcmp(arg, "--axis"))
    o->axes = 1;
  else if (!strcmp(arg, "--edges"))
    o->edges = 1;
  else if (!strcmp(arg, "--watch"))
    o->watch = 1;
  else if (!strcmp(arg, "--no-watch"))
    o->watch = 0;
  else if (!strcmp(arg, "--watch-poll"))
    o->watch = 2;
  else if (!strcmp(arg, "--info"))
    o->info = 1;
  else
    return 0;
  return 1;
}

static void kvDefaultOptions(kvOptions *o) {
  memset(o, 0, sizeof *o);
  o->yaw = KV_DEFAULT_YAW;
  o->pitch = KV_DEFAULT_PITCH;
  o->width = KV_WINDOW_WIDTH;
  o->height = KV_WINDOW_HEIGHT;
  o->overlay = 1;
  o->up = KV_UP_PLUS_Z;
  o->watch = 1;
}

/* KV_PARSED, KV_SHOW_HELP, KV_SHOW_VERSION, or KV_USAGE_ERROR after its one line. */
static int kvParseOptions(int argc, char **argv, kvOptions *o) {
  kvDefaultOptions(o);
  for (int i = 1; i < argc; i++) {
    const char *arg = argv[i];
    if (!strcmp(arg, "--help"))
      return KV_SHOW_HELP;
    if (!strcmp(arg, "--version"))
      return KV_SHOW_VERSION;
    if (!strcmp(arg, "--list-keys"))
      return KV_SHOW_KEYS;
    if (kvTakeFlag(arg, o))
      continue;
    if (arg[0] == '-' && arg[1]) {
      int which = kvValueOptionIndex(arg);
      if (which < 0)
        return kvUsageError("unknown option '%s'", arg);
      const char *expected = KV_VALUE_OPTIONS[which].expected;
      if (i + 1 >= argc)
        return kvUsageError("%s needs a value: %s", arg, expected);
      if (!kvTakeValue(which, argv[i + 1], o))
        return kvUsageError("%s '%s': expected %s", arg, argv[i + 1], expected);
      i++;
    } else if (o->model)
      return kvUsageError("one model file at a time: '%s' and '%s'", o->model, arg);
    else
      o->model = arg;
  }
  if (!o->model)
    return kvUsageError("no model file: usage: kroview [options] FILE.ase");
  if (!o->up_given)
    o->up = kvFormatUp(o->model);
  return KV_PARSED;
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
  struct stat folder;
  if (o->shaders) {
    const char *problem = stat(o->shaders, &folder) != 0
                              ? errno == ENOENT ? "does not exist" : strerror(errno)
                          : !S_ISDIR(folder.st_mode) ? "is not a folder"
                                                     : nullptr;
    if (problem) {
      fprintf(stderr, "kroview: the shader folder %s %s\n", o->shaders, problem);
      return 1;
    }
  }
  if (kvLoadSceneUp(&view->scene, o->model, o->up, why, (int)sizeof why) != 0) {
    fprintf(stderr, "kroview: %s\n", why);
    return 1;
  }
  kvPrintRefused(&view->scene, o->model);
  if (o->terrain && kvLoadTerrain(&view->terrain, o->terrain, &view->scene) != 0) {
    fprintf(stderr, "kroview: cannot use %s as a heightmap\n", o->terrain);
    kvFreeScene(&view->scene);
    return 1;
  }
  return 0;
}

/* The engine, the lists and the overlay at width x height; 0, or the number of the engine's
 * programs that did not build (the view still starts; the reason is in the overlay). */
static int kvStartEngine(kvView *view, const kvOptions *o, int width, int height) {
  char font[PATH_MAX + 64];
  kvFindShaders(o);
  view->programs_failed = kvStartPrograms(width, height);
  kvBuildSceneLists(&view->scene);
  kvBuildTerrainList(&view->terrain);
  const char *font_path = kvFindFont(o, font, sizeof font);
  if (kvOpenOverlay(&view->overlay, font_path) != 0)
    fprintf(stderr, "kroview: no overlay: cannot load the font %s\n", font_path);
  kvResetCamera(&view->camera, width, height);
  view->camera.yaw = o->yaw;
  view->camera.pitch = o->pitch;
  kvClampCamera(&view->camera);
  kvFrameCamera(&view->camera, &view->scene);
  return view->programs_failed;
}

static void kvStop(kvView *view) {
  kvCloseOverlay(&view->overlay);
  kvFreePost();
  kvFreeTerrain(&view->terrain);
  kvFreeScene(&view->scene);
  kroDestroyShaders();
  SDL_Quit();
}

/* SDL 1.2 with a free choice falls back to drivers without OpenGL, one of
 * which takes over the text terminal and leaves it changed: X11 unless the
 * user chose a driver. After SDL_Init, whose handlers would only post a quit
 * event, a signal ends the viewer at once with its unfinished files removed. */
static int kvStartSDL(void) {
  setenv("SDL_VIDEODRIVER", "x11", 0);
  if (SDL_Init(SDL_INIT_VIDEO) != 0)
    return -1;
  kroRemoveOutFilesOnSignals();
  return 0;
}

/* ---- one frame off-screen ----------------------------------------------- */

static int kvShot(kvView *view, const kvOptions *o) {
  if (kvStartSDL() != 0 || !SDL_SetVideoMode(64, 64, 32, SDL_OPENGL)) {
    fprintf(stderr, "kroview: no OpenGL context: %s\n", SDL_GetError());
    return 1;
  }
  SDL_WM_SetCaption("kroview", nullptr);
  if (kvStartEngine(view, o, o->width, o->height) != 0) {
    fprintf(stderr, "kroview: the shaders in %s do not build: %s\n", kroGetShaderFolder(),
            kvProgramProblem());
    kvStop(view);
    return 1;
  }
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
  if (!failed) /* not into a picture sent to standard output */
    fprintf(kroSameOutDestination(o->shot, "/dev/stdout") ? stderr : stdout, "kroview: wrote %s\n",
            o->shot);
  return failed;
}

/* ---- the window --------------------------------------------------------- */

typedef struct kvWindow {
  kvView *view;
  const kvOptions *options;
  kvWatch watch;
  Uint32 video_flags; /* as the window was opened, for a resize */
  int running, dragging, mouse_x, mouse_y, mouse_moved;
  int screenshot; /* F12 pressed: save the next frame */
  Uint32 fps_start;
  int fps_frames;
} kvWindow;

static int kvOpenWindow(const kvOptions *o, int *width, int *height, Uint32 *video_flags) {
  if (kvStartSDL() != 0) {
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
  } else
    flags |= SDL_RESIZABLE;
  *video_flags = flags;
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
  if (!SDL_SetVideoMode(*width, *height, 32, flags)) {
    fprintf(stderr, "kroview: cannot open a %d x %d window: %s\n", *width, *height, SDL_GetError());
    return 0;
  }
  SDL_WM_SetCaption("kroview", nullptr);
  SDL_EnableUNICODE(1); /* '?' is a shifted key on most layouts */
  return 1;
}

/* The frame just drawn, still in the back buffer (after a swap its contents
 * are undefined), into the first free kroview-NNNN.png. */
static void kvScreenshot(const kvView *view) {
  char path[64];
  if (kvClaimNumberedFile("kroview-%04d.png", 1, KV_MAX_SCREENSHOTS - 1, path, sizeof path) != 0) {
    if (errno == EEXIST)
      fprintf(stderr, "kroview: no screenshot: kroview-0001.png to kroview-%04d.png all exist\n",
              KV_MAX_SCREENSHOTS - 1);
    else
      fprintf(stderr, "kroview: no screenshot: %s\n", strerror(errno));
    return;
  }
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
  glReadBuffer(GL_BACK);
  uint8_t *rgb = kvReadPixels(view->camera.width, view->camera.height);
  if (rgb && kvWritePNG(path, rgb, view->camera.width, view->camera.height) == 0) {
    printf("kroview: screenshot %s\n", path);
  } else {
    if (!rgb)
      fprintf(stderr, "kroview: no screenshot: out of memory\n");
    unlink(path); /* the claimed, still empty name */
  }
  fflush(stdout);
  free(rgb);
}

static void kvNextObject(kvView *view) {
  int count = view->scene.object_count;
  view->chosen = view->chosen + 1 >= count ? -1 : view->chosen + 1;
}

static void kvKey(kvWindow *w, SDLKey key, Uint16 unicode) {
  kvView *view = w->view;
  kvCamera *camera = &view->camera;
  if (unicode == '?')
    key = SDLK_F1;
  switch (key) {
  case SDLK_F1:
    view->show_keys = !view->show_keys;
    break;
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
    kvFrameCamera(camera, &view->scene);
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
  case SDLK_g:
    view->grid = !view->grid;
    break;
  case SDLK_a:
    view->axes = !view->axes;
    break;
  case SDLK_e:
    view->edges = !view->edges;
    break;
  case SDLK_t:
    view->scene.hide_textures = !view->scene.hide_textures;
    kvBuildSceneLists(&view->scene);
    break;
  case SDLK_F12:
    w->screenshot = 1; /* taken from the next frame, before its swap */
    break;
  default:
    break;
  }
  kvClampCamera(camera);
}

/* The new size keeps the angles and the zoom; the fit is made again for the new shape. */
static void kvResize(kvWindow *w, int width, int height) {
  if (width < 1 || height < 1 || !SDL_SetVideoMode(width, height, 32, w->video_flags))
    return;
  kvCamera *camera = &w->view->camera;
  camera->width = width;
  camera->height = height;
  kvFrameCamera(camera, &w->view->scene);
}

static void kvEvent(kvWindow *w, const SDL_Event *event) {
  kvCamera *camera = &w->view->camera;
  switch (event->type) {
  case SDL_QUIT:
    w->running = 0;
    break;
  case SDL_KEYDOWN:
    kvKey(w, event->key.keysym.sym, event->key.keysym.unicode);
    break;
  case SDL_VIDEORESIZE:
    kvResize(w, event->resize.w, event->resize.h);
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

/* SIGUSR1 takes a screenshot as F12 does: a hook for scripts and tests. */
static volatile sig_atomic_t kvScreenshotAsked = 0;

static void kvAskScreenshot(int) {
  kvScreenshotAsked = 1;
}

static void kvStartWatch(kvWindow *w) {
  const kvOptions *o = w->options;
  if (!o->watch)
    return;
  if (kvOpenWatch(&w->watch, o->model, kroGetShaderFolder(), o->watch == 2) != 0) {
    fprintf(stderr, "kroview: warning: cannot watch %s\n", o->model);
    return;
  }
  kvWatchSources(&w->watch, &w->view->scene);
  printf("kroview: watching %s and %s (%s)\n", o->model, kroGetShaderFolder(),
         w->watch.polling ? "polling" : "inotify");
}

/* A changed model or shader file read again; what happened, one line on standard output. */
static void kvFollowChanges(kvWindow *w) {
  int changed = kvPollWatch(&w->watch, kroNowMs());
  kvView *view = w->view;
  if (changed & KV_CHANGED_MODEL) {
    if (kvReloadModel(view, w->options->model, w->options->terrain) == 0) {
      kvWatchSources(&w->watch, &view->scene); /* a new .mtl or .bin may be named */
      kvPrintRefused(&view->scene, w->options->model);
      printf("kroview: reloaded %s\n", w->options->model);
    } else
      printf("kroview: kept the last good model: %s\n", view->reload_problem);
  }
  if (!(changed & KV_CHANGED_MODEL) && w->watch.open && kvMapsChanged(&view->scene))
    printf("kroview: reloaded %d map textures\n", kvReloadMaps(&view->scene));
  if (changed & KV_CHANGED_SHADERS) {
    if (kvReloadShaders(view) == 0)
      printf("kroview: rebuilt the shaders\n");
    else
      printf("kroview: kept the last good shaders: %s\n", kvProgramProblem());
  }
}

static int kvRunWindow(kvView *view, const kvOptions *o) {
  int width = o->width, height = o->height;
  Uint32 video_flags;
  if (!kvOpenWindow(o, &width, &height, &video_flags)) {
    kvFreeTerrain(&view->terrain);
    kvFreeScene(&view->scene);
    SDL_Quit();
    return 1;
  }
  if (kvStartEngine(view, o, width, height) != 0)
    fprintf(stderr, "kroview: warning: the shaders in %s do not build: %s\n", kroGetShaderFolder(),
            kvProgramProblem());
  static kvWindow w; /* the watch's paths are large */
  w.view = view;
  w.options = o;
  w.video_flags = video_flags;
  w.running = 1;
  w.mouse_x = w.mouse_y = -1;
  w.fps_start = SDL_GetTicks();
  /* Before the watch's line, which scripts take for the window being up: the signal's default
   * action would end the program. */
  signal(SIGUSR1, kvAskScreenshot);
  kvStartWatch(&w);
  view->fps = -1.0f;
  SDL_Event event;
  while (w.running) {
    while (SDL_PollEvent(&event))
      kvEvent(&w, &event);
    if (kvScreenshotAsked) {
      kvScreenshotAsked = 0;
      kvKey(&w, SDLK_F12, 0);
    }
    kvFollowChanges(&w);
    if (w.mouse_moved && !w.dragging)
      view->hovered = kvObjectAt(view, w.mouse_x, w.mouse_y);
    w.mouse_moved = 0;
    kvDrawView(view, 0);
    if (w.screenshot)
      kvScreenshot(view);
    w.screenshot = 0;
    SDL_GL_SwapBuffers();
    kvCountFrame(&w);
  }
  kvCloseWatch(&w.watch);
  kvStop(view);
  return 0;
}

int main(int argc, char **argv) {
  kvOptions options;
  int parsed = kvParseOptions(argc, argv, &options);
  if (parsed == KV_SHOW_HELP)
    kvUsage(stdout);
  else if (parsed == KV_SHOW_VERSION)
    printf("kroview %s\n", KRO_VERSION_STRING);
  else if (parsed == KV_SHOW_KEYS)
    kvListKeys();
  if (parsed != KV_PARSED)
    return parsed == KV_USAGE_ERROR ? 2 : 0;
  static kvView view;
  view.file_name = kvBaseName(options.model);
  view.post = options.post;
  view.show_overlay = options.overlay;
  view.grid = options.grid;
  view.axes = options.axes;
  view.edges = options.edges;
  view.hovered = view.chosen = -1;
  kvCatchEngineMessages();
  if (options.info)
    return kvPrintInfo(options.model, options.up);
  if (kvLoadFiles(&view, &options) != 0)
    return 1;
  if (kvChooseObject(&view, &options) != 0)
    return 2;
  setvbuf(stdout, nullptr, _IOLBF, 0);
  return options.shot ? kvShot(&view, &options) : kvRunWindow(&view, &options);
}
