/*
 * The overlay: text lines in the viewer's KROF font at the top left of the
 * view, white glyphs over a dark translucent panel, drawn in window pixels
 * with each font pixel a KV_TEXT_SCALE square.
 * Depends on: kro (KROF fonts), GL.
 */
#include "kroview.h"

#include <string.h>

static const float KV_INK[4] = {255.0f, 255.0f, 255.0f, 255.0f}; /* font colours, 0..255 */
static const float KV_PAPER[4] = {0.0f, 0.0f, 0.0f, 0.0f};
static const float KV_PANEL[4] = {0.05f, 0.05f, 0.08f, 0.65f}; /* RGBA */
static const int KV_PANEL_PAD = 4;                             /* pixels around the text */

/* The glyph size the file gives; the engine's loader makes one texture per glyph of that size. */
int kvOpenOverlay(kvOverlay *overlay, const char *font_path) {
  memset(overlay, 0, sizeof *overlay);
  kroFontFile file;
  kroSetBitMasks();
  if (kroReadKROF(font_path, &file) != 0)
    return -1;
  const int32_t texture_size[2] = {file.width, file.height};
  kroFreeKROF(&file);
  if (kroLoadKROF(font_path, &overlay->font, KV_PAPER, KV_INK, texture_size) != 0)
    return -1;
  for (int g = 0; g < overlay->font.glyph_count; g++) {
    glBindTexture(GL_TEXTURE_2D, overlay->font.textures[g]);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  }
  glBindTexture(GL_TEXTURE_2D, 0);
  overlay->glyph[0] = texture_size[0];
  overlay->glyph[1] = texture_size[1];
  overlay->scale = texture_size[1] < KV_TEXT_PIXELS ? KV_TEXT_PIXELS / texture_size[1] : 1;
  overlay->loaded = 1;
  return 0;
}

void kvCloseOverlay(kvOverlay *overlay) {
  if (overlay->loaded)
    kroDestroyKROF(&overlay->font);
  overlay->loaded = 0;
}

int kvRowPixels(const kvOverlay *overlay) {
  return overlay->glyph[1] * overlay->scale + KV_LINE_GAP;
}

void kvTextCell(const kvOverlay *overlay, int view_height, int row, int column, int *x, int *y) {
  *x = KV_TEXT_MARGIN + column * overlay->glyph[0] * overlay->scale;
  *y = view_height - KV_TEXT_MARGIN - (row + 1) * kvRowPixels(overlay);
}

/* Characters that fit in the view's width. */
static int kvFittingChars(const kvOverlay *overlay, int width) {
  int chars = (width - 2 * KV_TEXT_MARGIN) / (overlay->glyph[0] * overlay->scale);
  return chars > 0 ? chars : 0;
}

/* Rows that fit in the view's height. */
static int kvFittingRows(const kvOverlay *overlay, int height) {
  int rows = (height - 2 * KV_TEXT_MARGIN) / kvRowPixels(overlay);
  return rows < 0 ? 0 : rows > KV_MAX_ROWS ? KV_MAX_ROWS : rows;
}

/* Length of the next row of `text` (at most `columns`); *skip gets the spaces after it. */
static int kvNextRow(const char *text, int columns, int *skip) {
  int length = (int)strlen(text);
  *skip = 0;
  if (length <= columns)
    return length;
  int cut = columns;
  while (cut > 0 && text[cut] != ' ')
    cut--;
  if (cut == 0)
    cut = columns; /* one word wider than the view: cut inside it */
  while (text[cut + *skip] == ' ')
    (*skip)++;
  return cut;
}

int kvWrapLines(const kvOverlay *overlay, int columns, kvTextRow *rows, int max_rows) {
  int count = 0;
  if (columns <= 0)
    return 0;
  for (int l = 0; l < overlay->line_count && count < max_rows; l++) {
    int start = 0;
    do {
      int skip;
      int length = kvNextRow(overlay->lines[l] + start, columns, &skip);
      rows[count++] = {l, start, length};
      start += length + skip;
    } while (overlay->lines[l][start] && count < max_rows);
  }
  return count;
}

static void kvDrawPanel(const kvOverlay *overlay, const kvTextRow *rows, int count, int height) {
  int widest = 0;
  for (int r = 0; r < count; r++)
    widest = rows[r].length > widest ? rows[r].length : widest;
  int x0, y0, x1, y1;
  kvTextCell(overlay, height, count - 1, 0, &x0, &y0);
  kvTextCell(overlay, height, 0, widest, &x1, &y1);
  y1 += overlay->glyph[1] * overlay->scale;
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glColor4fv(KV_PANEL);
  glRectf((float)(x0 - KV_PANEL_PAD), (float)(y0 - KV_PANEL_PAD), (float)(x1 + KV_PANEL_PAD),
          (float)(y1 + KV_PANEL_PAD));
  glDisable(GL_BLEND);
}

static void kvDrawRow(const kvOverlay *overlay, const kvTextRow *row, int index, int height) {
  const char *text = overlay->lines[row->line] + row->start;
  int cell_width = overlay->glyph[0] * overlay->scale,
      cell_height = overlay->glyph[1] * overlay->scale;
  for (int c = 0; c < row->length; c++) {
    int x, y;
    kvTextCell(overlay, height, index, c, &x, &y);
    const float corner0[3] = {(float)x, (float)y, 0.0f};
    const float corner1[3] = {(float)(x + cell_width), (float)(y + cell_height), 0.0f};
    kroDrawFont((uint8_t)text[c], &overlay->font, corner0, corner1);
  }
}

void kvDrawOverlay(const kvOverlay *overlay, int width, int height) {
  if (!overlay->loaded || overlay->line_count <= 0)
    return;
  glPushAttrib(GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT | GL_CURRENT_BIT | GL_TEXTURE_BIT);
  glUseProgramObjectARB(0);
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_LIGHTING);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0.0, width, 0.0, height, -1.0, 1.0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  kvTextRow rows[KV_MAX_ROWS];
  int count =
      kvWrapLines(overlay, kvFittingChars(overlay, width), rows, kvFittingRows(overlay, height));
  if (count > 0)
    kvDrawPanel(overlay, rows, count, height);
  glEnable(GL_ALPHA_TEST);
  glAlphaFunc(GL_GREATER, 0.5f);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
  for (int r = 0; r < count; r++)
    kvDrawRow(overlay, &rows[r], r, height);
  glBindTexture(GL_TEXTURE_2D, 0);
  glPopAttrib();
}
