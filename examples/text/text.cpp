/*
 * text: words on screen with the engine's bitmap fonts. The build packs the
 * 8 x 8 glyph pictures in glyphs/ (one BMP per character code, ink black on
 * white) into a KROF font with `krotool font-build glyphs 8 8 text.krof`;
 * here kroLoadKROF turns the font into one texture per glyph, twice, in two
 * colour pairs, and kroDrawFont puts each character on its own square. The
 * glyph textures keep the file's 8 x 8 pixels and are drawn at whole
 * multiples (4 and 2), so every font pixel stays a sharp block.
 *
 * Layout, in window pixels from the top left: the title at (16, 16), 32 x 32
 * per character; the lines below it at 16 x 16 per character.
 *
 *   text [--frames N] [--shot FILE.png]
 *
 * The window, the loop and the options (--window, --frames N, --shot FILE.png,
 * --help) are the application layer's (kroapp.h).
 * Depends on: kro, kroapp, GL.
 */
#include <kro/kroapp.h>

#include <stdlib.h>
#include <string.h>

#ifndef KRO_SHADER_DIR
#define KRO_SHADER_DIR "sh"
#endif
#ifndef EXAMPLE_FONT
#define EXAMPLE_FONT "text.krof"
#endif

enum { WINDOW_WIDTH = 480, WINDOW_HEIGHT = 200 };
static const char TITLE[] = "kro text";
static const char *const LINES[] = {"KROF fonts: one bit a pixel,", "one texture a glyph,",
                                    "any colour: 0123456789"};
/* Font colours, red, green, blue, alpha on 0..255: paper (0 bits) see-through. */
static const float PAPER[4] = {0.0f, 0.0f, 0.0f, 0.0f};
static const float TITLE_INK[4] = {255.0f, 200.0f, 60.0f, 255.0f};
static const float LINE_INK[4] = {140.0f, 220.0f, 255.0f, 255.0f};

/* One line of text whose first character's top left corner is at (left, top)
 * in window pixels from the top left, `cell` pixels a character. A character
 * the font lacks leaves its square empty. */
static void DrawLine(const kroFont *font, const char *text, float left, float top, float cell) {
  float bottom = (float)WINDOW_HEIGHT - top - cell; /* GL's y grows upwards */
  for (size_t i = 0; text[i]; i++) {
    const float corner0[3] = {left + cell * (float)i, bottom, 0.0f};
    const float corner1[3] = {corner0[0] + cell, bottom + cell, 0.0f};
    kroDrawFont((uint8_t)text[i], font, corner0, corner1);
  }
}

static void DrawFrame(const kroFont *title_font, const kroFont *line_font) {
  glClearColor(0.10f, 0.12f, 0.16f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0.0, WINDOW_WIDTH, 0.0, WINDOW_HEIGHT, -1.0, 1.0); /* one unit a pixel */
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glColor4f(1.0f, 1.0f, 1.0f, 1.0f); /* the glyph textures' colours as they are */
  DrawLine(title_font, TITLE, 16.0f, 16.0f, 32.0f);
  for (size_t i = 0; i < sizeof LINES / sizeof LINES[0]; i++)
    DrawLine(line_font, LINES[i], 16.0f, 72.0f + 24.0f * (float)i, 16.0f);
  glDisable(GL_TEXTURE_2D); /* kroDrawFont leaves texturing on */
  glDisable(GL_BLEND);
}

int main(int argc, char **argv) {
  kroApp app = {};
  app.windowed = 1;
  kroSetShaderFolder(KRO_SHADER_DIR);
  /* kroAppStart starts the engine: also the bit masks the font loader needs */
  if (!kroAppStart(&app, "text", WINDOW_WIDTH, WINDOW_HEIGHT, &argc, argv))
    return app.status;

  const int32_t glyph_texture[2] = {8, 8}; /* the file's own glyph size: no resampling */
  kroFont title_font = {}, line_font = {};
  if (kroLoadKROF(EXAMPLE_FONT, &title_font, PAPER, TITLE_INK, glyph_texture) != 0 ||
      kroLoadKROF(EXAMPLE_FONT, &line_font, PAPER, LINE_INK, glyph_texture) != 0) {
    fprintf(stderr, "text: cannot load the font %s\n", EXAMPLE_FONT);
    app.status = 1;
  } else {
    while (kroAppFrame(&app))
      DrawFrame(&title_font, &line_font);
  }
  kroDestroyKROF(&title_font);
  kroDestroyKROF(&line_font);
  return kroAppEnd(&app);
}
