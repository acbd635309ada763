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

int kvOpenOverlay(kvOverlay *overlay, const char *font_path) {
  memset(overlay, 0, sizeof *overlay);
  const int32_t texture_size[2] = {KV_GLYPH_WIDTH, KV_GLYPH_HEIGHT};
  if (kroLoadKROF(font_path, &overlay->font, KV_PAPER, KV_INK, texture_size) != 0)
    return -1;
  for (int g = 0; g < overlay->font.glyph_count; g++) {
    glBindTexture(GL_TEXTURE_2D, overlay->font.textures[g]);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  }
  glBindTexture(GL_TEXTURE_2D, 0);
  overlay->loaded = 1;
  return 0;
}

void kvCloseOverlay(kvOverlay *overlay) {
  if (overlay->loaded)
    kroDestroyKROF(&overlay->font);
  overlay->loaded = 0;
}

void kvTextCell(int view_height, int line, int column, int *x, int *y) {
  *x = KV_TEXT_MARGIN + column * KV_GLYPH_WIDTH * KV_TEXT_SCALE;
  *y = view_height - KV_TEXT_MARGIN - (line + 1) * KV_LINE_PIXELS;
}

/* Characters that fit in the view's width; the rest of a line is cut. */
static int kvFittingChars(int width) {
  int chars = (width - 2 * KV_TEXT_MARGIN) / (KV_GLYPH_WIDTH * KV_TEXT_SCALE);
  return chars > 0 ? chars : 0;
}

static void kvDrawPanel(const kvOverlay *overlay, int width, int height) {
  int widest = 0;
  for (int l = 0; l < overlay->line_count; l++) {
    int length = (int)strlen(overlay->lines[l]);
    widest = length > widest ? length : widest;
  }
  if (widest > kvFittingChars(width))
    widest = kvFittingChars(width);
  int x0, y0, x1, y1;
  kvTextCell(height, overlay->line_count - 1, 0, &x0, &y0);
  kvTextCell(height, 0, widest, &x1, &y1);
  y1 += KV_GLYPH_HEIGHT * KV_TEXT_SCALE;
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glColor4fv(KV_PANEL);
  glRectf((float)(x0 - KV_PANEL_PAD), (float)(y0 - KV_PANEL_PAD), (float)(x1 + KV_PANEL_PAD),
          (float)(y1 + KV_PANEL_PAD));
  glDisable(GL_BLEND);
}

static void kvDrawLine(const kvOverlay *overlay, int width, int height, int line) {
  const char *text = overlay->lines[line];
  for (int c = 0; text[c] && c < kvFittingChars(width); c++) {
    int x, y;
    kvTextCell(height, line, c, &x, &y);
    const float corner0[3] = {(float)x, (float)y, 0.0f};
    const float corner1[3] = {(float)(x + KV_GLYPH_WIDTH * KV_TEXT_SCALE),
                              (float)(y + KV_GLYPH_HEIGHT * KV_TEXT_SCALE), 0.0f};
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
  kvDrawPanel(overlay, width, height);
  glEnable(GL_ALPHA_TEST);
  glAlphaFunc(GL_GREATER, 0.5f);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
  for (int l = 0; l < overlay->line_count; l++)
    kvDrawLine(overlay, width, height, l);
  glBindTexture(GL_TEXTURE_2D, 0);
  glPopAttrib();
}
