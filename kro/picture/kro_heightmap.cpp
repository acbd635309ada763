/*
 * Heightmaps: a grid of 3D points from a 24-bit BMP (height from each
 * pixel's blue byte), optional unit normals from the neighbouring heights,
 * and immediate-mode drawing of the grid as triangles.
 * Depends on: kro_bmp.cpp (kroDecodeBMP), kro_error.cpp (allocation,
 * failure reporting), GL.
 */
#include "kro.h"
#include "kro_internal.h"

#include <math.h>
#include <stdlib.h>

/* Releases columns 0..columns-1 of a grid whose columns hold `rows` points;
 * null entries (a build cut short) are skipped. */
static void kroFreeGrid(float ***grid, int32_t columns, int32_t rows) {
  if (!grid)
    return;
  for (int32_t x = 0; x < columns; x++) {
    if (!grid[x])
      continue;
    for (int32_t y = 0; y < rows; y++)
      free(grid[x][y]);
    free(grid[x]);
  }
  free(grid);
}

/* A grid of width columns of height points, every entry its own block of 3
 * floats; null when any allocation fails, with nothing left behind. */
static float ***kroNewGrid(int32_t width, int32_t height) {
  float ***grid = (float ***)kroAllocate(sizeof(float **) * (size_t)width);
  if (!grid)
    return nullptr;
  for (int32_t x = 0; x < width; x++)
    grid[x] = nullptr;
  for (int32_t x = 0; x < width; x++) {
    grid[x] = (float **)kroAllocate(sizeof(float *) * (size_t)height);
    if (!grid[x]) {
      kroFreeGrid(grid, width, height);
      return nullptr;
    }
    for (int32_t y = 0; y < height; y++)
      grid[x][y] = nullptr;
    for (int32_t y = 0; y < height; y++) {
      grid[x][y] = (float *)kroAllocate(sizeof(float) * 3);
      if (!grid[x][y]) {
        kroFreeGrid(grid, width, height);
        return nullptr;
      }
    }
  }
  return grid;
}

/* Points from a bitmap: X across the width, Y from the blue byte, Z across
 * the height, each worked out in double precision. */
static void kroFillPoints(float ***grid, const uint8_t *pixels, const int32_t *size,
                          const float *offset, const float *scale) {
  int32_t width = size[0], height = size[1];
  for (int32_t y = 0; y < height; y++)
    for (int32_t x = 0; x < width; x++) {
      float *point = grid[x][y];
      double blue = pixels[((size_t)y * width + x) * 4 + 2];
      point[0] = (float)((double)scale[0] * x / width + offset[0]);
      point[1] = (float)((double)scale[2] * blue / 255 + offset[1]);
      point[2] = (float)((double)scale[1] * y / height + offset[2]);
    }
}

/* Unit normals from central differences of the neighbouring points (one-sided
 * at the borders): the cross product of the tangent along y (towards +Z) with
 * the tangent along x (towards +X), which points up when both extents are
 * positive. A grid too thin to span a surface gets straight up. */
static void kroFillNormals(float ***normals, float ***grid, const int32_t *size) {
  int32_t width = size[0], height = size[1];
  for (int32_t x = 0; x < width; x++)
    for (int32_t y = 0; y < height; y++) {
      const float *left = grid[x > 0 ? x - 1 : x][y];
      const float *right = grid[x + 1 < width ? x + 1 : x][y];
      const float *near = grid[x][y > 0 ? y - 1 : y];
      const float *far = grid[x][y + 1 < height ? y + 1 : y];
      double tx[3], tz[3], n[3];
      for (int i = 0; i < 3; i++) {
        tx[i] = (double)right[i] - left[i];
        tz[i] = (double)far[i] - near[i];
      }
      n[0] = tz[1] * tx[2] - tz[2] * tx[1];
      n[1] = tz[2] * tx[0] - tz[0] * tx[2];
      n[2] = tz[0] * tx[1] - tz[1] * tx[0];
      double length = sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
      float *normal = normals[x][y];
      if (length > 0.0 && isfinite(length)) {
        for (int i = 0; i < 3; i++)
          normal[i] = (float)(n[i] / length);
      } else {
        normal[0] = normal[2] = 0.0f;
        normal[1] = 1.0f;
      }
    }
}

/* Both loaders: decode, build the point grid and, when asked, the normals. */
static float ***kroLoadHightmap(const char *path, const float *offset, const float *scale,
                                int32_t *size, float ****normals, const char *function) {
  int32_t bitmap_size[2];
  kroBMPStatus status;
  size[0] = size[1] = 0;
  if (normals)
    *normals = nullptr;
  uint8_t *pixels = kroDecodeBMP(path, bitmap_size, &status);
  if (status == KRO_BMP_CANNOT_OPEN) {
    kroFail("Error in reading hightmap from %s\n", path);
    return nullptr;
  }
  if (status == KRO_BMP_NO_MEMORY) {
    kroFail("Error during allocating memory in %s(..)\n", function);
    return nullptr;
  }
  if (status != KRO_BMP_OK) {
    kroFail("Error in reading hightmap from %s: %s\n", path, kroBMPStatusText(status));
    return nullptr;
  }

  float ***grid = kroNewGrid(bitmap_size[0], bitmap_size[1]);
  float ***normal_grid = grid && normals ? kroNewGrid(bitmap_size[0], bitmap_size[1]) : nullptr;
  if (!grid || (normals && !normal_grid)) {
    kroFreeGrid(grid, bitmap_size[0], bitmap_size[1]);
    free(pixels);
    kroFail("Error during allocating memory in %s(..)\n", function);
    return nullptr;
  }
  kroFillPoints(grid, pixels, bitmap_size, offset, scale);
  free(pixels);
  if (normals) {
    kroFillNormals(normal_grid, grid, bitmap_size);
    *normals = normal_grid;
  }
  size[0] = bitmap_size[0];
  size[1] = bitmap_size[1];
  return grid;
}

float ***kroLoadHightmapFromBMP(const char *path, const float *offset, const float *scale,
                                int32_t *size) {
  return kroLoadHightmap(path, offset, scale, size, nullptr, "kroLoadHightmapFromBMP");
}

float ***kroLoadHightmapAndNormalsFromBMP(const char *path, const float *offset, const float *scale,
                                          int32_t *size, float ****normals) {
  return kroLoadHightmap(path, offset, scale, size, normals, "kroLoadHightmapAndNormalsFromBMP");
}

void kroLoadHightmapFromBitmap(void) {}

void kroDestroyHightmap(float ****grid, const int32_t *size) {
  kroFreeGrid(*grid, size[0], size[1]);
  *grid = nullptr;
}

/* The six vertices of cell (x, y): both triangles wind counter-clockwise
 * seen from +Y when both extents are positive. */
static void kroSendCell(float ***grid, int32_t x, int32_t y) {
  glVertex3fv(grid[x + 1][y + 1]);
  glVertex3fv(grid[x + 1][y]);
  glVertex3fv(grid[x][y]);
  glVertex3fv(grid[x][y + 1]);
  glVertex3fv(grid[x + 1][y + 1]);
  glVertex3fv(grid[x][y]);
}

void kroDrawHightmap(float ***grid, const int32_t *size) {
  glBegin(GL_TRIANGLES);
  for (int32_t x = 0; x + 1 < size[0]; x++)
    for (int32_t y = 0; y + 1 < size[1]; y++)
      kroSendCell(grid, x, y);
  glEnd();
}

void kroDrawHightmapWithNormals(float ***grid, const int32_t *size, float ***normals) {
  glBegin(GL_TRIANGLES);
  for (int32_t x = 0; x + 1 < size[0]; x++)
    for (int32_t y = 0; y + 1 < size[1]; y++) {
      glNormal3fv(normals[x + 1][y + 1]);
      kroSendCell(grid, x, y);
    }
  glEnd();
}
