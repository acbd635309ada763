/*
 * pngout: RGB PNG files written with libpng through the engine's output file
 * helper, for kroview and zkcapture.
 * Depends on: the engine (kroBeginOutFile and its kin), libpng.
 */
#include "pngout.h"

#include "kro.h"

#include <png.h>
#include <stdio.h>
#include <string.h>

enum { PNGOUT_WHY_CHARS = 160 }; /* longest libpng message kept */

/* libpng's failures end here instead of in its own printing: the message is
 * kept for the one line the caller prints, then libpng unwinds. */
static void pngoutError(png_structp png, png_const_charp message) {
  snprintf((char *)png_get_error_ptr(png), PNGOUT_WHY_CHARS, "%s", message);
  png_longjmp(png, 1);
}

static void pngoutWarning(png_structp, png_const_charp) {}

/* The picture into an open stream; 0, or -1 with libpng's reason in `why`. */
static int pngoutEncode(FILE *file, const uint8_t *rgb, int width, int height, int level,
                        char *why) {
  snprintf(why, PNGOUT_WHY_CHARS, "out of memory");
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, why, pngoutError, pngoutWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return -1;
  }
  png_init_io(png, file);
  if (level != PNGOUT_DEFAULT_LEVEL)
    png_set_compression_level(png, level);
  png_set_IHDR(png, info, (png_uint_32)width, (png_uint_32)height, 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < height; y++)
    png_write_row(png, (png_const_bytep)(rgb + (size_t)y * width * 3));
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return 0;
}

int pngoutWrite(const char *program, const char *path, const uint8_t *rgb, int width, int height,
                int level) {
  kroOutFile out;
  if (kroBeginOutFile(&out, path) != 0) {
    fprintf(stderr, "%s: cannot write %s: %s\n", program, path, strerror(out.error));
    return -1;
  }
  char why[PNGOUT_WHY_CHARS];
  if (pngoutEncode(out.file, rgb, width, height, level, why) != 0) {
    kroAbortOutFile(&out); /* a failed write stops libpng: abort gives its reason */
    if (out.error)
      fprintf(stderr, "%s: cannot write %s: %s\n", program, path, strerror(out.error));
    else
      fprintf(stderr, "%s: cannot encode %s: %s\n", program, path, why);
    return -1;
  }
  if (kroCommitOutFile(&out) != 0) {
    fprintf(stderr, "%s: cannot write %s: %s\n", program, path, strerror(out.error));
    return -1;
  }
  return 0;
}
