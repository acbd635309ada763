/*
 * Pictures: the bound framebuffer read back top row first, RGB PNG files
 * written through the shared writer (tools/pngout) and replaced whole, and
 * numbered names claimed.
 * Depends on: GL, pngout (libpng).
 */
#include "kroview.h"
#include "pngout.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

uint8_t *kvReadPixels(int width, int height) {
  size_t row = (size_t)width * 3;
  uint8_t *bottom_up = (uint8_t *)malloc(row * (size_t)height);
  uint8_t *rgb = (uint8_t *)malloc(row * (size_t)height);
  if (!bottom_up || !rgb) {
    free(bottom_up);
    free(rgb);
    return nullptr;
  }
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, bottom_up);
  for (int y = 0; y < height; y++)
    memcpy(rgb + (size_t)y * row, bottom_up + (size_t)(height - 1 - y) * row, row);
  free(bottom_up);
  return rgb;
}

int kvWritePNG(const char *path, const uint8_t *rgb, int width, int height) {
  return pngoutWrite("kroview", path, rgb, width, height, PNGOUT_DEFAULT_LEVEL);
}

int kvClaimNumberedFile(const char *format, int first, int last, char *path, int path_chars) {
  for (int n = first; n <= last; n++) {
    if (snprintf(path, (size_t)path_chars, format, n) >= path_chars) {
      errno = ENAMETOOLONG;
      return -1;
    }
    /* O_EXCL: a name that is taken, by a file or by a link (dangling or not), is passed over. */
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0)
      return close(fd);
    if (errno != EEXIST)
      return -1;
  }
  errno = EEXIST;
  return -1;
}
