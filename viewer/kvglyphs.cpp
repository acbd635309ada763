/*
 * kvglyphs: draws every glyph of a readable font table (see
 * font/kroview-8x8.txt) as a 24-bit BMP named by its character code
 * (65.bmp), ink black on white, for `krotool font-build`.
 * usage: kvglyphs TABLE.txt OUT_DIR
 * Depends on: kro (BMP writing).
 */
#include "kro.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

enum { KV_MAX_CELL = 64, KV_TABLE_LINE = 256 };

typedef struct kvTable {
  FILE *file;
  const char *path;
  int line;
  char text[KV_TABLE_LINE];
} kvTable;

/* The next line that is neither empty nor a comment; 0 at the end. */
static int kvNextLine(kvTable *table) {
  while (fgets(table->text, sizeof table->text, table->file)) {
    table->line++;
    table->text[strcspn(table->text, "\r\n")] = '\0';
    if (table->text[0] && table->text[0] != '#')
      return 1;
  }
  return 0;
}

static int kvTableError(const kvTable *table, const char *what) {
  fprintf(stderr, "kvglyphs: %s:%d: %s\n", table->path, table->line, what);
  return 1;
}

/* One glyph's rows into a bitmap (row 0 at the bottom) and its file. */
static int kvWriteGlyph(kvTable *table, const char *dir, int code, const int32_t *size) {
  uint8_t pixels[KV_MAX_CELL * KV_MAX_CELL * 4];
  for (int row = 0; row < size[1]; row++) {
    if (!kvNextLine(table) || (int)strlen(table->text) != size[0])
      return kvTableError(table, "a glyph row of the wrong width, or too few rows");
    for (int x = 0; x < size[0]; x++) {
      char c = table->text[x];
      if (c != '#' && c != '.')
        return kvTableError(table, "a row holds something other than '#' and '.'");
      uint8_t *p = &pixels[((size_t)(size[1] - 1 - row) * size[0] + x) * 4];
      p[0] = p[1] = p[2] = c == '#' ? 0 : 255;
      p[3] = 255;
    }
  }
  char path[4096];
  snprintf(path, sizeof path, "%s/%d.bmp", dir, code);
  if (kroExportBMP(path, pixels, size) == EOF) {
    fprintf(stderr, "kvglyphs: cannot write %s\n", path);
    return 1;
  }
  return 0;
}

int main(int argc, char **argv) {
  kroRemoveOutFilesOnSignals(); // stopped by a signal, no unfinished file stays
  if (argc != 3) {
    fprintf(stderr, "usage: kvglyphs TABLE.txt OUT_DIR\n");
    return 2;
  }
  kvTable table = {fopen(argv[1], "r"), argv[1], 0, ""};
  if (!table.file) {
    fprintf(stderr, "kvglyphs: cannot read %s: %s\n", argv[1], strerror(errno));
    return 1;
  }
  if (mkdir(argv[2], 0777) != 0 && errno != EEXIST) {
    fprintf(stderr, "kvglyphs: cannot make %s: %s\n", argv[2], strerror(errno));
    return 1;
  }
  int32_t size[2];
  int status = 0, glyphs = 0, code;
  if (!kvNextLine(&table) || sscanf(table.text, "size %d %d", &size[0], &size[1]) != 2 ||
      size[0] < 1 || size[1] < 1 || size[0] > KV_MAX_CELL || size[1] > KV_MAX_CELL)
    status = kvTableError(&table, "the table must open with \"size W H\" (1..64 each)");
  while (!status && kvNextLine(&table)) {
    if (sscanf(table.text, "glyph %d", &code) != 1 || code < 0 || code > 255)
      status = kvTableError(&table, "expected \"glyph CODE\" with a code of 0..255");
    else if (!(status = kvWriteGlyph(&table, argv[2], code, size)))
      glyphs++;
  }
  fclose(table.file);
  if (!status)
    printf("kvglyphs: %d glyphs of %d x %d in %s\n", glyphs, size[0], size[1], argv[2]);
  return status;
}
