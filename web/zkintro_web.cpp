/*
 * The intro in a web page: the same scene and song as the desktop shell, drawn into the page's
 * canvas (WebGL 1 through the engine's layer) at the intro's own 1200 x 600, the page scaling it
 * to the window with its aspect kept. The page (web/zkintro.html) starts it on a click and
 * owns the clocks: each frame asks it for the seconds since start, which follow the audio
 * output while sound plays, and the page's audio callback asks for the song's samples. The
 * frame loop yields to the browser after every frame (emscripten_set_main_loop on the page's
 * animation frames). The end at 14 s, or Escape, tears the scene down and tells the page.
 * Depends on: emscripten (WebGL context, main loop), the intro scene and its song, the
 * engine's synthesizer.
 */
#include "ZKintro.h"
#include "ZKsong.h"

#include <emscripten.h>
#include <emscripten/html5.h>

#include <stdlib.h>

static const int WIDTH = 1200, HEIGHT = 600; /* pixels, the drawing buffer */
static const float ASPECT = 2.0f;
static const float RUNNING_SECONDS = 14.0f;
enum { SOUND_FRAMES_MAX = 16384 }; /* frames one audio callback may ask for */

static kroSynth Synth;
static bool Running = false;
static float SoundBuffer[2 * SOUND_FRAMES_MAX];
static int16_t SoundBuffer16[2 * SOUND_FRAMES_MAX];

/* The page's canvas as a WebGL 1 context: no alpha (the intro clears to alpha 0, which would
 * show the page through), a depth buffer, no multisampling (the desktop mode has none). */
static bool MakeContext() {
  EmscriptenWebGLContextAttributes attributes;
  emscripten_webgl_init_context_attributes(&attributes);
  attributes.alpha = EM_FALSE;
  attributes.depth = EM_TRUE;
  attributes.antialias = EM_FALSE;
  attributes.majorVersion = 1;
  EMSCRIPTEN_WEBGL_CONTEXT_HANDLE context = emscripten_webgl_create_context("#canvas", &attributes);
  if (context <= 0) {
    printf("zkintro: no WebGL context\n");
    return false;
  }
  emscripten_set_canvas_element_size("#canvas", WIDTH, HEIGHT);
  emscripten_webgl_make_context_current(context);
  glViewport(0, 0, WIDTH, HEIGHT);
  glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
  glClearDepth(1.0);
  return true;
}

static void Draw(float seconds) {
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  zkIntro(ASPECT, seconds);
}

static void Finish() {
  if (!Running)
    return;
  Running = false;
  emscripten_cancel_main_loop();
  zkIntro(ASPECT, RUNNING_SECONDS); /* releases the scene */
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  EM_ASM(Module.zkEnded());
}

static void Frame() {
  float seconds = (float)EM_ASM_DOUBLE(return Module.zkClock());
  if (seconds > RUNNING_SECONDS) {
    Finish();
    return;
  }
  Draw(seconds < 0 ? 0 : seconds);
}

extern "C" {

/* Starts the picture's loop; the song restarts from its first frame. 0 without a context. */
EMSCRIPTEN_KEEPALIVE int zkwStart(void) {
  kroStopSynth(&Synth);
  if (Running || kroStartSynth(&Synth, &zk_song) != 0)
    return 0;
  Running = true;
  emscripten_set_main_loop(Frame, 0, 0);
  return 1;
}

/* Escape: the end, at once. */
EMSCRIPTEN_KEEPALIVE void zkwStop(void) {
  Finish();
}

/* The frame at `seconds` drawn now, outside the loop (the page's stills and its tests). */
EMSCRIPTEN_KEEPALIVE void zkwShot(float seconds) {
  Draw(seconds);
}

/* The next `frames` of the song, interleaved left and right: floats in -1..1, or (as_int16)
 * the 16-bit samples the desktop plays. Skip renders and drops them. Silence once the song is
 * done or before zkwStart. */
EMSCRIPTEN_KEEPALIVE void *zkwSound(int frames, int as_int16) {
  if (frames > SOUND_FRAMES_MAX)
    frames = SOUND_FRAMES_MAX;
  if (as_int16) {
    kroRenderSynth(&Synth, SoundBuffer16, frames);
    return SoundBuffer16;
  }
  kroRenderSynthFloat(&Synth, SoundBuffer, frames);
  return SoundBuffer;
}

/* The song from its first frame again, without the picture (the page's sound test). */
EMSCRIPTEN_KEEPALIVE int zkwRestartSound(void) {
  kroStopSynth(&Synth);
  return kroStartSynth(&Synth, &zk_song) == 0;
}

} // extern "C"

int main() {
  if (!MakeContext())
    return 1;
  return 0;
}
