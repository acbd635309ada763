/*
 * Pictures: the bound framebuffer read back top row first, and RGB PNG
 * files written with libpng.
 * Depends on: GL, libpng.
 */
#include "kroview.h"

#include <errno.h>
#include <png.h>
#include <stdlib.h>
#include <string.h>

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
  FILE *file = fopen(path, "wb");
  if (!file) {
    fprintf(stderr, "kroview: cannot write %s: %s\n", path, strerror(errno));
    return -1;
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    fclose(file);
    fprintf(stderr, "kroview: cannot encode %s\n", path);
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
  if (fclose(file) != 0) {
    fprintf(stderr, "kroview: cannot write %s: %s\n", path, strerror(errno));
    return -1;
  }
  return 0;
}
