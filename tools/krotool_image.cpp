// krotool image and font subcommands: bmp-resize, font-build and font-info, thin front ends to the
// engine's readers and writers. Engine failures print their own message on standard output; the
// tool adds one line on standard error and exits with status 1. Usage errors exit with 2.
#include "krotool.h"

#include "kro.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

static bool krotoolWantsHelp(int argc, char **argv) {
  for (int i = 0; i < argc; i++)
    if (!strcmp(argv[i], "--help") || !strcmp(argv[i], "-h"))
      return true;
  return false;
}

static int krotoolUsage(const char *command, const char *usage, const char *error) {
  fprintf(stderr, "krotool %s: %s\nusage: krotool %s %s\n", command, error, command, usage);
  return 2;
}

// A whole decimal number in [low, high], or false.
static bool krotoolNumber(const char *text, long low, long high, long *value) {
  char *end;
  errno = 0;
  long n = strtol(text, &end, 10);
  if (errno || end == text || *end || n < low || n > high)
    return false;
  *value = n;
  return true;
}

// ---- bmp-resize -------------------------------------------------------------

static const char krotoolBmpResizeUsage[] = "IN.bmp OUT.bmp WIDTH HEIGHT";

int krotoolBmpResize(int argc, char **argv) {
  if (krotoolWantsHelp(argc, argv)) {
    printf("usage: krotool bmp-resize %s\n\n"
           "Reads a 24-bit BMP, resamples it to WIDTH x HEIGHT pixels with the engine's box\n"
           "filter and writes it as an engine BMP (24-bit, rows unpadded).\n",
           krotoolBmpResizeUsage);
    return 0;
  }
  if (argc != 4)
    return krotoolUsage("bmp-resize", krotoolBmpResizeUsage, "expected four arguments");
  long width, height;
  if (!krotoolNumber(argv[2], 1, KRO_BMP_MAX_PIXELS, &width) ||
      !krotoolNumber(argv[3], 1, KRO_BMP_MAX_PIXELS, &height) ||
      width * height > KRO_BMP_MAX_PIXELS)
    return krotoolUsage("bmp-resize", krotoolBmpResizeUsage,
                        "WIDTH and HEIGHT must be positive whole numbers of sane size");

  int32_t size[2], new_size[2] = {(int32_t)width, (int32_t)height};
  uint8_t *pixels = kroLoadBMP(argv[0], size);
  if (!pixels) {
    fprintf(stderr, "krotool bmp-resize: cannot read %s\n", argv[0]);
    return 1;
  }
  uint8_t *resized = kroResizeBitmap(pixels, size, new_size);
  free(pixels);
  if (!resized) {
    fprintf(stderr, "krotool bmp-resize: cannot resample %s\n", argv[0]);
    return 1;
  }
  int closed = kroExportBMP(argv[1], resized, new_size);
  free(resized);
  if (closed != 0) {
    fprintf(stderr, "krotool bmp-resize: cannot write %s\n", argv[1]);
    return 1;
  }
  printf("%s: %d x %d -> %s: %d x %d\n", argv[0], size[0], size[1], argv[1], new_size[0],
         new_size[1]);
  return 0;
}

// ---- font-build ----------------------------------------------------------------

static const char krotoolFontBuildUsage[] = "DIR WIDTH HEIGHT OUT.krof [THRESHOLD]";

int krotoolFontBuild(int argc, char **argv) {
  if (krotoolWantsHelp(argc, argv)) {
    printf("usage: krotool font-build %s\n\n"
           "Builds a KROF font from the pictures DIR/<code>.bmp (code 0 to 255), each\n"
           "scaled to WIDTH x HEIGHT (WIDTH x HEIGHT a multiple of 8). A pixel whose red,\n"
           "green and blue all exceed THRESHOLD (0 to 255, default 128) is a 0 bit,\n"
           "any other a 1 bit.\n",
           krotoolFontBuildUsage);
    return 0;
  }
  if (argc != 4 && argc != 5)
    return krotoolUsage("font-build", krotoolFontBuildUsage, "expected four or five arguments");
  long width, height, threshold = 128;
  if (!krotoolNumber(argv[1], 1, 0xFFFF, &width) || !krotoolNumber(argv[2], 1, 0xFFFF, &height))
    return krotoolUsage("font-build", krotoolFontBuildUsage,
                        "WIDTH and HEIGHT must be whole numbers from 1 to 65535");
  if (argc == 5 && !krotoolNumber(argv[4], 0, 255, &threshold))
    return krotoolUsage("font-build", krotoolFontBuildUsage,
                        "THRESHOLD must be a whole number from 0 to 255");
  kroSetBitMasks();
  int32_t size[2] = {(int32_t)width, (int32_t)height};
  int glyphs = kroCreateKROF(argv[0], size, argv[3], (uint8_t)threshold);
  if (glyphs == 0) {
    fprintf(stderr, "krotool font-build: no font built from %s\n", argv[0]);
    return 1;
  }
  printf("%s: %d glyphs of %ld x %ld\n", argv[3], glyphs, width, height);
  return 0;
}

// ---- font-info ---------------------------------------------------------------

int krotoolFontInfo(int argc, char **argv) {
  if (krotoolWantsHelp(argc, argv)) {
    printf("usage: krotool font-info FILE.krof\n\n"
           "Shows a KROF font's glyph size, glyph count and codes, and draws every glyph\n"
           "as text, top row first: '#' for a 1 bit, '.' for a 0 bit.\n");
    return 0;
  }
  if (argc != 1)
    return krotoolUsage("font-info", "FILE.krof", "expected one file");
  kroFontFile font;
  if (kroReadKROF(argv[0], &font) != 0) {
    fprintf(stderr, "krotool font-info: cannot read %s\n", argv[0]);
    return 1;
  }
  printf("file: %s\nglyph size: %d x %d\nglyphs: %d\ncodes:", argv[0], font.width, font.height,
         font.glyph_count);
  for (int32_t g = 0; g < font.glyph_count; g++)
    printf(" %d", font.records[(size_t)g * font.record_bytes]);
  printf("\n");
  for (int32_t g = 0; g < font.glyph_count; g++) {
    const uint8_t *record = font.records + (size_t)g * font.record_bytes;
    int code = record[0];
    printf("\nglyph %d, code %d", g, code);
    if (code >= 33 && code < 127)
      printf(" '%c'", code);
    printf(":\n");
    // Row 0 is the bottom of the picture: print from the top down.
    for (int32_t y = font.height - 1; y >= 0; y--) {
      for (int32_t x = 0; x < font.width; x++) {
        size_t p = (size_t)y * font.width + x;
        putchar(record[1 + p / 8] >> (7 - p % 8) & 1 ? '#' : '.');
      }
      putchar('\n');
    }
  }
  kroFreeKROF(&font);
  return 0;
}
