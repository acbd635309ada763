/*
 * The application layer's text overlay: fixed cells of the engine's default
 * 8 x 8 font (viewer/font/kroview-8x8.txt, compiled into the library by
 * cmake/embed-font.cmake, so an installed production reads no font file) over
 * the picture, in window pixels. Row 0 is the window's top row of cells.
 * The glyph textures are made in the context on first use, and again after a
 * new context has replaced them (kroAppFrame clears text_font_ready then).
 * Depends on: kro (kroDrawText), GL.
 */
#include "kroapp_own.h"

#include "../kro/kro_internal.h"
#include "kroapp_font.inc"

#include <stdlib.h>
#include <string.h>

/* The font's textures in the current context: white ink, transparent paper, texture row 0 the
 * glyph's bottom row. 0, or -1 (no memory) with the font empty. */
static int kroAppMakeFont(kroFont *font) {
  memset(font, 0, sizeof *font);
  for (int code = 0; code < 256; code++)
    font->glyph_table[code] = -1;
  font->textures = (GLuint *)kroAllocate(sizeof(GLuint) * KRO_APP_FONT_GLYPHS);
  if (!font->textures) {
    kroFail("Error during allocating memory in kroAppDrawText(..)\n");
    return -1;
  }
  font->glyph_count = KRO_APP_FONT_GLYPHS;
  glGenTextures(KRO_APP_FONT_GLYPHS, font->textures);
  GLint bound = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  for (int g = 0; g < KRO_APP_FONT_GLYPHS; g++) {
    uint8_t pixels[8 * 8 * 4];
    for (int y = 0; y < 8; y++)
      for (int x = 0; x < 8; x++) {
        uint8_t *p = &pixels[(y * 8 + x) * 4];
        p[0] = p[1] = p[2] = 255;
        p[3] = (kroAppFontGlyphs[g].rows[7 - y] >> (7 - x)) & 1 ? 255 : 0;
      }
    font->glyph_table[kroAppFontGlyphs[g].code] = g;
    glBindTexture(GL_TEXTURE_2D, font->textures[g]);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 8, 8, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  }
  glBindTexture(GL_TEXTURE_2D, (GLuint)bound);
  return 0;
}

int kroAppTextCell(const kroApp *app) {
  return app->height >= KRO_APP_TEXT_LARGE_HEIGHT ? 16 : 8;
}

void kroAppTextCells(const kroApp *app, int *columns, int *rows) {
  *columns = app->width / kroAppTextCell(app);
  *rows = app->height / kroAppTextCell(app);
}

void kroAppFillCells(const kroApp *app, int column, int row, int columns, int rows,
                     const float *rgba) {
  if (columns <= 0 || rows <= 0)
    return;
  int cell = kroAppTextCell(app);
  GLint program = 0, unit = GL_TEXTURE0, mode = GL_MODELVIEW;
  glGetIntegerv(GL_CURRENT_PROGRAM, &program);
  glGetIntegerv(GL_ACTIVE_TEXTURE, &unit);
  glGetIntegerv(GL_MATRIX_MODE, &mode);
  glPushAttrib(GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT | GL_CURRENT_BIT | GL_VIEWPORT_BIT |
               GL_POLYGON_BIT);
  glUseProgramObjectARB(0);
  glActiveTexture(GL_TEXTURE0);
  glViewport(0, 0, app->width, app->height);
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  glOrtho(0.0, app->width, 0.0, app->height, -1.0, 1.0);
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();
  glDisable(GL_TEXTURE_2D);
  glDisable(GL_LIGHTING);
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_CULL_FACE);
  glDisable(GL_ALPHA_TEST);
  glDisable(GL_FOG);
  glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glColor4fv(rgba);
  int top = app->height - row * cell; /* GL's y grows upwards */
  glRecti(column * cell, top - rows * cell, (column + columns) * cell, top);
  glPopMatrix();
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode((GLenum)mode);
  glPopAttrib();
  glActiveTexture((GLenum)unit);
  glUseProgramObjectARB((GLhandleARB)program);
}

void kroAppDrawText(kroApp *app, int column, int row, const char *text, const float *rgba) {
  if (!text || !*text)
    return;
  if (!app->text_font_ready) {
    if (kroAppMakeFont(&app->text_font) != 0)
      return;
    app->text_font_ready = 1;
  }
  int cell = kroAppTextCell(app);
  GLint viewport[4];
  glGetIntegerv(GL_VIEWPORT, viewport);
  glViewport(0, 0, app->width, app->height);
  kroDrawText(&app->text_font, text, (float)(column * cell),
              (float)(app->height - (row + 1) * cell), (float)cell, rgba);
  glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
}

void kroAppCloseText(kroApp *app, int context_gone) {
  if (app->text_font_ready && !context_gone)
    kroDestroyKROF(&app->text_font);
  else
    free(app->text_font.textures);
  memset(&app->text_font, 0, sizeof app->text_font);
  app->text_font_ready = 0;
}
