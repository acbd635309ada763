/*
 * Post-processing: the frame drawn into a framebuffer object of the view's
 * size, then shown split: the left half as drawn, the right half through the
 * engine's post-processing program (entry 0, a canvas blur whose canvas size
 * was given to kroInit), a light line between them.
 * Depends on: kro (framebuffer objects, shader tables), GL.
 */
#include "kroview.h"

#include <string.h>

static kroFrameBufferObject kvCanvas; /* the post target; width 0 until made */
static const float KV_SPLIT_COLOUR[3] = {0.85f, 0.85f, 0.9f};

static int kvCanvasReady(int width, int height) {
  if (kvCanvas.width == width && kvCanvas.height == height && kvCanvas.color_buffer)
    return 1;
  kvFreePost();
  const int32_t size[2] = {width, height};
  if (kroCreateFrameBufferObject(&kvCanvas, size, nullptr, 0) != 0) {
    kvFreePost();
    return 0;
  }
  /* sampled once per pixel: no mipmaps */
  glBindTexture(GL_TEXTURE_2D, *kvCanvas.color_buffer);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  glBindTexture(GL_TEXTURE_2D, 0);
  return 1;
}

static void kvUseTarget(GLuint target, int width, int height) {
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, target);
  glViewport(0, 0, width, height);
}

void kvBeginFrame(int post, GLuint target, int width, int height) {
  if (post && kvCanvasReady(width, height))
    kroUseFrameBufferObject(&kvCanvas);
  else
    kvUseTarget(target, width, height);
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LESS);
  glClearColor(KV_BACKGROUND[0], KV_BACKGROUND[1], KV_BACKGROUND[2], 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

/* The canvas from u0 to u1 of its width (0..1) onto the same part of the target. */
static void kvCanvasQuad(float u0, float u1) {
  float x0 = 2.0f * u0 - 1.0f, x1 = 2.0f * u1 - 1.0f;
  glBegin(GL_QUADS);
  glTexCoord2f(u0, 0.0f);
  glVertex2f(x0, -1.0f);
  glTexCoord2f(u1, 0.0f);
  glVertex2f(x1, -1.0f);
  glTexCoord2f(u1, 1.0f);
  glVertex2f(x1, 1.0f);
  glTexCoord2f(u0, 1.0f);
  glVertex2f(x0, 1.0f);
  glEnd();
}

/* One pixel column between the halves. */
static void kvSplitLine(int width) {
  glDisable(GL_TEXTURE_2D);
  glColor3fv(KV_SPLIT_COLOUR);
  float x = 2.0f * ((float)(width / 2) + 0.5f) / (float)width - 1.0f;
  glBegin(GL_LINES);
  glVertex2f(x, -1.0f);
  glVertex2f(x, 1.0f);
  glEnd();
}

void kvEndFrame(int post, GLuint target, int width, int height) {
  if (!post || !kvCanvas.color_buffer)
    return;
  kvUseTarget(target, width, height);
  glPushAttrib(GL_ENABLE_BIT | GL_TEXTURE_BIT | GL_CURRENT_BIT);
  glDisable(GL_DEPTH_TEST);
  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, *kvCanvas.color_buffer);
  /* the left half as drawn, through no program (identity matrices: clip coordinates) */
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
  kvCanvasQuad(0.0f, 0.5f);
  /* the right half through the program, whose vertex stage takes clip coordinates */
  glUseProgramObjectARB(KRO_POST_PROCESS_SHADER[0].program);
  kvCanvasQuad(0.5f, 1.0f);
  glUseProgramObjectARB(0);
  kvSplitLine(width);
  glBindTexture(GL_TEXTURE_2D, 0);
  glPopAttrib();
}

void kvFreePost(void) {
  if (kvCanvas.frame_buffer || kvCanvas.color_buffer || kvCanvas.depth_buffer)
    kroDestroyFrameBufferObject(&kvCanvas, 3);
  memset(&kvCanvas, 0, sizeof kvCanvas);
}
