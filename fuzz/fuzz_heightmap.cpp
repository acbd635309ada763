// Both heightmap loaders on arbitrary bytes; every grid cell they return is
// read and the grids released.
#include "kro.h"
#include "support.h"

#include <math.h>
#include <stdlib.h>

static void touchGrid(float ***grid, const int32_t *size) {
  volatile float sum = 0;
  for (int32_t x = 0; x < size[0]; x++)
    for (int32_t y = 0; y < size[1]; y++)
      sum = sum + grid[x][y][0] + grid[x][y][2];
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  kroFuzzQuiet();
  const char *path = kroFuzzWriteFile(data, size);
  const float offset[3] = {0, 0, 0}, scale[3] = {1, 1, 1};
  int32_t grid_size[2] = {0, 0};
  float ***points = kroLoadHightmapFromBMP(path, offset, scale, grid_size);
  if (points) {
    touchGrid(points, grid_size);
    kroDestroyHightmap(&points, grid_size);
  }
  float ***normals = nullptr;
  int32_t both_size[2] = {0, 0};
  points = kroLoadHightmapAndNormalsFromBMP(path, offset, scale, both_size, &normals);
  if (points) {
    touchGrid(points, both_size);
    if (normals) {
      touchGrid(normals, both_size);
      for (int32_t x = 0; x < both_size[0]; x++)
        for (int32_t y = 0; y < both_size[1]; y++) {
          float *n = normals[x][y];
          if (fabsf(n[0] * n[0] + n[1] * n[1] + n[2] * n[2] - 1.0f) > 1e-3f)
            abort();
        }
      kroDestroyHightmap(&normals, both_size);
    }
    kroDestroyHightmap(&points, both_size);
  }
  return 0;
}
