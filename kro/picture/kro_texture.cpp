/*
 * Textures from pictures: a picture file (kro_picture.cpp) or a bitmap in
 * the engine's layout made into a mipmapped, repeating GL texture.
 * Depends on: kro_picture.cpp (kroLoadPictureAtMost), kro_error.cpp (failure
 * reporting), GL with the EXT framebuffer-object entry points (mipmaps).
 */
#include "kro.h"
#include "kro_internal.h"

#include <stdlib.h>

enum { KRO_TEXTURE_GL_ERRORS_DRAINED = 32 }; /* stale errors cleared before the upload, at most */

/* The engine's bitmap is bottom row first, as GL reads texture rows: row 0
 * is texture coordinate t = 0. */
static GLuint kroUploadTexture(const uint8_t *pixels, const int32_t *size, const char *what,
                               const char *function) {
  GLint largest = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largest);
  if (size[0] <= 0 || size[1] <= 0 || size[0] > largest || size[1] > largest) {
    kroFail("Error in making a texture of %s in function %s(..): %d x %d pixels, the driver "
            "takes 1 to %d a side\n",
            what, function, size[0], size[1], (int)largest);
    return 0;
  }
  for (int i = 0; i < KRO_TEXTURE_GL_ERRORS_DRAINED && glGetError() != GL_NO_ERROR; i++) {
  }
  GLint bound = 0, alignment = 4;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
  GLuint texture = 0;
  glGenTextures(1, &texture);
  glBindTexture(GL_TEXTURE_2D, texture);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4); /* 4-byte pixels: every row is aligned */
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, size[0], size[1], 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
  glGenerateMipmapEXT(GL_TEXTURE_2D);
  GLenum error = glGetError();
  glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
  glBindTexture(GL_TEXTURE_2D, (GLuint)bound);
  if (error != GL_NO_ERROR) {
    glDeleteTextures(1, &texture);
    kroFail("Error in making a texture of %s in function %s(..): GL error 0x%04X\n", what, function,
            (unsigned)error);
    return 0;
  }
  return texture;
}

GLuint kroCreateTexture(const uint8_t *pixels, const int32_t *size) {
  return kroUploadTexture(pixels, size, "a bitmap", "kroCreateTexture");
}

/* A picture larger than the driver takes is refused from its header, before
 * its pixels are allocated. */
GLuint kroLoadTexture(const char *path) {
  int32_t size[2], too_large[2];
  GLint largest = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largest);
  uint8_t *pixels = kroLoadPictureAtMost(path, size, largest > 0 ? largest : 1, too_large);
  if (!pixels) /* refused by its header: the message of a refused upload */
    return too_large[0] ? kroUploadTexture(nullptr, too_large, path, "kroLoadTexture") : 0;
  GLuint texture = kroUploadTexture(pixels, size, path, "kroLoadTexture");
  free(pixels);
  return texture;
}

void kroDestroyTexture(GLuint *texture) {
  if (!texture || !*texture)
    return;
  glDeleteTextures(1, texture);
  *texture = 0;
}
