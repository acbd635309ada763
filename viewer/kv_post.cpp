/*
 * Post-processing: the frame drawn into a framebuffer object of the view's
 * size, then shown through the engine's post-processing program (entry 0, a
 * canvas blur whose canvas size was given to kroInit) on a quad covering the
 * target.
 * Depends on: kro (framebuffer objects, shader tables), GL.
 */
#include "kroview.h"

#include <string.h>

static kroFrameBufferObject kvCanvas; /* the post target; width 0 until made */

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

void kvEndFrame(int post, GLuint target, int width, int height) {
  if (!post || !kvCanvas.color_buffer)
    return;
  kvUseTarget(target, width, height);
  glPushAttrib(GL_ENABLE_BIT | GL_TEXTURE_BIT);
  glDisable(GL_DEPTH_TEST);
  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, *kvCanvas.color_buffer);
  glUseProgramObjectARB(KRO_POST_PROCESS_SHADER[0].program);
  /* the program's vertex stage takes positions as clip coordinates */
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
  glPopAttrib();
}

void kvFreePost(void) {
  if (kvCanvas.frame_buffer || kvCanvas.color_buffer || kvCanvas.depth_buffer)
    kroDestroyFrameBufferObject(&kvCanvas, 3);
  memset(&kvCanvas, 0, sizeof kvCanvas);
}
