/*
 * Framebuffer objects: off-screen targets with a colour texture and a depth
 * renderbuffer, each made for the target or borrowed from another one.
 * Depends on: kro_error.cpp (allocation, failure reporting), GL with the EXT
 * framebuffer-object entry points.
 */
#include "kro.h"
#include "kro_internal.h"

#include <stdlib.h>
#include <string.h>

/* 1 when the bound framebuffer is not complete, 0 when it is. */
static int kroFrameBufferIncomplete(void) {
  return glCheckFramebufferStatusEXT(GL_FRAMEBUFFER_EXT) != GL_FRAMEBUFFER_COMPLETE_EXT;
}

/* A new RGBA8 texture of the given size attached as colour 0; null after the
 * report when its cell cannot be had. */
static GLuint *kroNewColourBuffer(const int32_t *size) {
  GLuint *cell = (GLuint *)kroAllocate(sizeof(GLuint));
  if (!cell) {
    kroFail("Error during allocating memory for color_buffer in kroCreateFameBufferObject(..)");
    return nullptr;
  }
  glGenTextures(1, cell);
  glBindTexture(GL_TEXTURE_2D, *cell);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, size[0], size[1], 0, GL_RGBA, GL_BYTE, nullptr);
  glFramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_TEXTURE_2D, *cell, 0);
  return cell;
}

/* A new depth renderbuffer of the given size attached as depth; null after
 * the report when its cell cannot be had. */
static GLuint *kroNewDepthBuffer(const int32_t *size) {
  GLuint *cell = (GLuint *)kroAllocate(sizeof(GLuint));
  if (!cell) {
    kroFail("Error during allocating memory for depth_buffer in kroCreateFameBufferObject(..)");
    return nullptr;
  }
  glGenRenderbuffersEXT(1, cell);
  glBindRenderbufferEXT(GL_RENDERBUFFER_EXT, *cell);
  glRenderbufferStorageEXT(GL_RENDERBUFFER_EXT, GL_DEPTH_COMPONENT, size[0], size[1]);
  glFramebufferRenderbufferEXT(GL_FRAMEBUFFER_EXT, GL_DEPTH_ATTACHMENT_EXT, GL_RENDERBUFFER_EXT,
                               *cell);
  return cell;
}

int32_t kroCreateFrameBufferObject(kroFrameBufferObject *fbo, const int32_t *size,
                                   const kroFrameBufferObject *shared, int32_t mode) {
  int borrow = (mode == 1 || mode == 3) && shared;
  int colour_none = mode != 0 && !shared && !(mode == 1 || mode == 3);
  memset(fbo, 0, sizeof *fbo);
  /* Borrowing means owning nothing (destroyed with 0): a record without both
   * cells, one made with mode 2 alone for example, has nothing to lend. */
  if (borrow && (!shared->color_buffer || !shared->depth_buffer)) {
    kroFail("Error in kroCreateFameBufferObject(..): the shared framebuffer object has no %s "
            "buffer to lend\n",
            shared->color_buffer ? "depth" : "color");
    return -1;
  }
  fbo->mode = mode;
  glGenFramebuffersEXT(1, &fbo->frame_buffer);
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, fbo->frame_buffer);

  int colour_failed = 0, depth_failed = 0;
  if (colour_none) {
    /* Depth only: nothing to draw colour into or read it from. */
    glDrawBuffer(GL_NONE);
    glReadBuffer(GL_NONE);
  } else {
    if (borrow) {
      fbo->color_buffer = shared->color_buffer;
      glFramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_TEXTURE_2D,
                                *fbo->color_buffer, 0);
    } else if (!(fbo->color_buffer = kroNewColourBuffer(size))) {
      kroDestroyFrameBufferObject(fbo, 0);
      return -1;
    }
    colour_failed = kroFrameBufferIncomplete();
  }

  if (borrow) {
    fbo->depth_buffer = shared->depth_buffer;
    glFramebufferRenderbufferEXT(GL_FRAMEBUFFER_EXT, GL_DEPTH_ATTACHMENT_EXT, GL_RENDERBUFFER_EXT,
                                 *fbo->depth_buffer);
  } else if (!(fbo->depth_buffer = kroNewDepthBuffer(size))) {
    kroDestroyFrameBufferObject(fbo, colour_none ? 0 : 1);
    return -1;
  }
  depth_failed = kroFrameBufferIncomplete();

  fbo->width = size[0];
  fbo->height = size[1];
  if (colour_failed && depth_failed)
    return 3;
  return colour_failed ? 1 : depth_failed ? 2 : 0;
}

void kroUseFrameBufferObject(const kroFrameBufferObject *fbo) {
  glViewport(0, 0, fbo->width, fbo->height);
  glBindTexture(GL_TEXTURE_2D, 0);
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, fbo->frame_buffer);
}

void kroDestroyFrameBufferObject(kroFrameBufferObject *fbo, int owned) {
  if ((owned == 1 || owned == 3) && fbo->color_buffer) {
    glDeleteTextures(1, fbo->color_buffer);
    free(fbo->color_buffer);
    fbo->color_buffer = nullptr;
  }
  if ((owned == 2 || owned == 3) && fbo->depth_buffer) {
    glDeleteRenderbuffersEXT(1, fbo->depth_buffer);
    free(fbo->depth_buffer);
    fbo->depth_buffer = nullptr;
  }
  glDeleteFramebuffersEXT(1, &fbo->frame_buffer);
  fbo->frame_buffer = 0;
  fbo->mode = 0;
}
