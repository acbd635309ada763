/*
 * The engine's programs as the viewer keeps them: started, checked and built
 * again from the shader folder on request by the engine's live shaders
 * (kroStartShaders, kroRebuildShaders: the last good programs stay when any
 * fails, and the reason is kept for the overlay).
 * Depends on: kro (live shaders).
 */
#include "kroview.h"

const char *kvProgramProblem(void) {
  return kroShaderProblem();
}

/* The post-processing program's taps are one canvas pixel apart; the viewer gives it a canvas
 * KV_POST_SPREAD times smaller than the view, so that its blur reaches that many screen pixels
 * and shows. */
static const int KV_POST_SPREAD = 3;

static int kvCanvasSide(int pixels) {
  int side = pixels / KV_POST_SPREAD;
  return side > 0 ? side : 1;
}

int kvStartPrograms(int width, int height) {
  return kroStartShaders(kvCanvasSide(width), kvCanvasSide(height));
}

int kvRebuildPrograms(int width, int height) {
  return kroRebuildShaders(kvCanvasSide(width), kvCanvasSide(height));
}
