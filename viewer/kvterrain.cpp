/*
 * kvterrain: writes the viewer's sample heightmap, a 24-bit BMP of rolling
 * hills rising towards the edges (grey: height in every channel), made from a
 * few sine waves so that it is the same on every machine.
 * usage: kvterrain OUT.bmp [SIDE]   (SIDE pixels square, default 64)
 * Depends on: kro (BMP writing).
 */
#include "kro.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>

enum { KV_DEFAULT_SIDE = 64, KV_MAX_SIDE = 1024 };

/* Height 0..1 at u, v in 0..1: a low middle under the model, hills around. */
static double kvHeight(double u, double v) {
  const double pi = 3.14159265358979323846;
  double du = u - 0.5, dv = v - 0.5;
  double bowl = fmin(1.0, 4.0 * (du * du + dv * dv));
  double waves =
      0.5 + 0.25 * sin(6.0 * pi * u) * cos(4.0 * pi * v) + 0.25 * sin(2.0 * pi * (u + 2.0 * v));
  return 0.15 + 0.85 * bowl * waves;
}

int main(int argc, char **argv) {
  kroRemoveOutFilesOnSignals(); // stopped by a signal, no unfinished file stays
  int side = argc > 2 ? atoi(argv[2]) : KV_DEFAULT_SIDE;
  if (argc < 2 || argc > 3 || side < 2 || side > KV_MAX_SIDE) {
    fprintf(stderr, "usage: kvterrain OUT.bmp [SIDE 2..%d]\n", KV_MAX_SIDE);
    return 2;
  }
  uint8_t *pixels = (uint8_t *)malloc((size_t)side * side * 4);
  if (!pixels)
    return 1;
  for (int y = 0; y < side; y++)
    for (int x = 0; x < side; x++) {
      double h = kvHeight((double)x / (side - 1), (double)y / (side - 1));
      uint8_t *p = &pixels[((size_t)y * side + x) * 4];
      p[0] = p[1] = p[2] = (uint8_t)lround(255.0 * fmin(fmax(h, 0.0), 1.0));
      p[3] = 255;
    }
  const int32_t size[2] = {side, side};
  int failed = kroExportBMP(argv[1], pixels, size) == EOF;
  free(pixels);
  if (failed)
    fprintf(stderr, "kvterrain: cannot write %s\n", argv[1]);
  return failed;
}
