/*
 * The intro's process entry: a full-screen 1200 x 600 OpenGL mode, hidden
 * cursor, and one loop that handles one pending event per pass or, with the
 * queue empty, draws one frame of the scene at the seconds elapsed since
 * start. Ends by itself after 14 s, at once on Escape, or on a quit request.
 * "--window" plays in a window of the same size, "--version" prints the
 * engine's version; without a display, or without GL, it stops at once with
 * status 1. The soundtrack starts with the picture and plays through SDL's
 * audio callback; "--mute", or a machine without a sound device (one line on
 * standard error), plays the picture alone.
 * Depends on: SDL 1.2 (mode, events, ticks, audio), GL, the intro scene and
 * its song, the engine's synthesizer.
 */
#include "ZKintro.h"
#include "ZKsong.h"

#include <SDL/SDL.h>
#include <dlfcn.h>
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
static bool Mute = false;                              /* --mute: no audio device is opened */
static const int SOUND_FRAMES = 882; /* frames per audio callback: 20 ms, a whole number */
static kroSynth Synth;               /* advanced only by the audio callback once started */
static bool SoundStarted = false;    /* set with `start`, under SDL's audio lock */
static bool SoundRunning = false;    /* the callback has run once: the device takes buffers */

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
  /* Audio starts on its own in StartSound, and only when it is to play. */
  SDL_Init(SDL_INIT_EVERYTHING & ~SDL_INIT_AUDIO);
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

/* The window at a new size, in pixels. The mode is set again on the running
 * video: the window and its GL context stay (starting video again would close
 * both, and the scene's textures, lists and program with them, and give the
 * window a new name on the display). Should a driver still make a new
 * context, the scene builds itself again on its next frame. */
static void ResizeWindow(int width, int height) {
  if (width < 1 || height < 1)
    return;
  if (!SDL_SetVideoMode(width, height, WINDOW_BITS, ModeFlags))
    FailVideo("cannot set the video mode");
  glViewport(0, 0, width, height);
  zkIntroRestore();
}

/* SDL's audio callback: silence until the picture's clock starts, then the
 * song. The device plays what is written one buffer later, so the first
 * buffer begins where the picture will be when it is heard: the song frames
 * for the time since start plus one buffer are rendered and dropped. From
 * then on the device takes the frames at its own rate; they are the samples
 * of an offline render, whatever the slicing. No allocation, lock or I/O. */
static void PlaySound(void *user, Uint8 *stream, int bytes) {
  (void)user;
  static int16_t dropped[2 * SOUND_FRAMES];
  if (!SoundStarted) {
    memset(stream, 0, bytes);
    SoundRunning = true;
    return;
  }
  if (Synth.frame == 0) {
    int64_t lead = (int64_t)(SDL_GetTicks() - start) * KRO_SYNTH_RATE / 1000 + SOUND_FRAMES;
    for (int n; lead > 0; lead -= n) {
      n = lead < SOUND_FRAMES ? (int)lead : SOUND_FRAMES;
      kroRenderSynth(&Synth, dropped, n);
    }
  }
  kroRenderSynth(&Synth, (int16_t *)stream, bytes / 4);
}

/* libasound prints its own lines when it finds no card; SDL's reason is the
 * one line said instead. The handler type is libasound's (variadic). */
static void SilentAlsa(const char *, int, const char *, int, const char *, ...) {}
typedef void (*AlsaHandler)(const char *, int, const char *, int, const char *, ...);

static void QuietAlsa() {
  const char *driver = getenv("SDL_AUDIODRIVER");
  if (driver && *driver && strcmp(driver, "alsa") != 0)
    return;
  void *set = dlsym(RTLD_DEFAULT, "snd_lib_error_set_handler");
  if (set)
    ((int (*)(AlsaHandler))set)(SilentAlsa);
}

/* Opens the audio device for the song and lets it run on silence until it
 * has taken a buffer, so that the song can start at once with the picture's
 * clock; false without sound
 * (muted, or no device: one line on standard error). The device takes the
 * song's own format, SDL converting where the hardware differs. */
static bool StartSound() {
  if (Mute)
    return false;
  QuietAlsa();
  SDL_AudioSpec want;
  memset(&want, 0, sizeof want);
  want.freq = KRO_SYNTH_RATE;
  want.format = AUDIO_S16SYS;
  want.channels = 2;
  want.samples = SOUND_FRAMES;
  want.callback = PlaySound;
  if (kroStartSynth(&Synth, &zk_song) != 0)
    return false;
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) < 0 || SDL_OpenAudio(&want, NULL) < 0) {
    fprintf(stderr, "zkintro: playing without sound: %s\n", SDL_GetError());
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    kroStopSynth(&Synth);
    return false;
  }
  SDL_PauseAudio(0);
  /* The picture's clock starts on a running device (waited for a second at most), which has
   * then played silence before the song. */
  for (Uint32 asked = SDL_GetTicks(); SDL_GetTicks() - asked < 1000; SDL_Delay(1)) {
    SDL_LockAudio();
    bool running = SoundRunning;
    SDL_UnlockAudio();
    if (running)
      break;
  }
  return true;
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
    ResizeWindow(Event.resize.w, Event.resize.h);
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

static const char USAGE[] = "usage: zkintro [--window] [--mute] | --version | --help\n"
                            "  --window   play in a 1200 x 600 window instead of full screen\n"
                            "  --mute     play without sound (no audio device is opened)\n"
                            "  --version  print the version\n"
                            "  --help     show this text\n";

/* Takes the options; exits on --help and --version (0) and on an unknown
 * option (2). */
static void ReadOptions(int argc, char **argv) {
  for (int i = 1; i < argc; i++) {
    if (!strcmp(argv[i], "--window")) {
      ModeFlags = SDL_OPENGL;
    } else if (!strcmp(argv[i], "--mute")) {
      Mute = true;
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
  bool sound = StartSound();
  /* Sound and picture share their zero: the song starts with the clock. */
  if (sound)
    SDL_LockAudio();
  start = SDL_GetTicks();
  SoundStarted = sound;
  if (sound)
    SDL_UnlockAudio();
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
