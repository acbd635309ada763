/*
 * Pictures: the bound framebuffer read back top row first, RGB PNG files
 * written with libpng and replaced whole, and numbered names claimed.
 * Depends on: GL, libpng.
 */
#include "kroview.h"

#include <errno.h>
#include <fcntl.h>
#include <png.h>
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

enum { KV_PNG_WHY_CHARS = 160 }; /* longest libpng message kept */

/* libpng's failures end here instead of in its own printing: the message is
 * kept for the one line the caller prints, then libpng unwinds. */
static void kvPngError(png_structp png, png_const_charp message) {
  snprintf((char *)png_get_error_ptr(png), KV_PNG_WHY_CHARS, "%s", message);
  png_longjmp(png, 1);
}

static void kvPngWarning(png_structp, png_const_charp) {}

/* The picture into an open stream; 0, or -1 with libpng's reason in `why`. */
static int kvEncodePNG(FILE *file, const uint8_t *rgb, int width, int height, char *why) {
  snprintf(why, KV_PNG_WHY_CHARS, "out of memory");
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, why, kvPngError, kvPngWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return -1;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, (png_uint_32)width, (png_uint_32)height, 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < height; y++)
    png_write_row(png, (png_const_bytep)(rgb + (size_t)y * width * 3));
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return 0;
}

int kvWritePNG(const char *path, const uint8_t *rgb, int width, int height) {
  kroOutFile out;
  if (kroBeginOutFile(&out, path) != 0) {
    fprintf(stderr, "kroview: cannot write %s: %s\n", path, strerror(out.error));
    return -1;
  }
  char why[KV_PNG_WHY_CHARS];
  if (kvEncodePNG(out.file, rgb, width, height, why) != 0) {
    kroAbortOutFile(&out); /* a failed write stops libpng: abort gives its reason */
    if (out.error)
      fprintf(stderr, "kroview: cannot write %s: %s\n", path, strerror(out.error));
    else
      fprintf(stderr, "kroview: cannot encode %s: %s\n", path, why);
    return -1;
  }
  if (kroCommitOutFile(&out) != 0) {
    fprintf(stderr, "kroview: cannot write %s: %s\n", path, strerror(out.error));
    return -1;
  }
  return 0;
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
