/*
 * pngout: the RGB PNG writer kroview and zkcapture share. A picture is
 * encoded with libpng into the engine's replaced-whole output file; a failure
 * prints one line naming the program and leaves the path as it was.
 * Depends on: the engine (output files), libpng.
 */
#pragma once

#include <stdint.h>

/* libpng's own zlib level, whatever it is */
enum { PNGOUT_DEFAULT_LEVEL = -1 };

/* Write width x height RGB rows (top first, 3 bytes a pixel, no padding) as a PNG at zlib `level`
 * (0..9, or PNGOUT_DEFAULT_LEVEL), replacing path whole; 0, or -1 with "PROGRAM: cannot write
 * PATH: REASON" (or "cannot encode") on standard error and path as it was */
int pngoutWrite(const char *program, const char *path, const uint8_t *rgb, int width, int height,
                int level);
