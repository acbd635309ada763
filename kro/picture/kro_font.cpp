/*
 * KROF bitmap fonts: the builder that packs a folder of glyph pictures into
 * one bit per pixel, the reader and checker of the file, the loader that
 * expands every glyph into a GL texture in two colours, and the drawer.
 * Depends on: kro_picture.cpp (kroLoadPicture), kro_bmp.cpp (kroResizeBitmap), kro_error.cpp (bit
 * and byte utilities, allocation, failure reporting), GL.
 */
#include "kro.h"
#include "kro_internal.h"

#include <errno.h>
#include <limits.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

static const char kroKROFMagic[4] = {'K', 'R', 'O', 'F'};

/* Glyph sizes the format can carry: 16-bit fields, whole bytes of pixels. */
static int kroGlyphSizeUsable(int64_t width, int64_t height) {
  return width > 0 && height > 0 && width <= 0xFFFF && height <= 0xFFFF &&
         width * height <= KRO_KROF_MAX_GLYPH_PIXELS && (width * height) % 8 == 0;
}

/* ---- building ----------------------------------------------------------- */

/* The builder's failures are printed and returned, the hook is not called. */
static void kroBuilderFail(const char *format, ...) __attribute__((format(printf, 1, 2)));
static void kroBuilderFail(const char *format, ...) {
  va_list args;
  va_start(args, format);
  vprintf(format, args);
  va_end(args);
  fflush(stdout);
}

/* Appends one record: the code, then a bit per pixel of the w x h glyph, 1
 * where any of red, green and blue is at or below the threshold. */
static uint8_t *kroEncodeGlyph(uint8_t *out, uint8_t code, const uint8_t *glyph, int32_t pixels,
                               uint8_t threshold) {
  *out++ = code;
  uint32_t byte = 0;
  for (int32_t p = 0; p < pixels; p++) {
    const uint8_t *rgb = glyph + (size_t)p * 4;
    int8_t bit = (int8_t)(7 - p % 8);
    if (rgb[0] > threshold && rgb[1] > threshold && rgb[2] > threshold)
      byte = kroSetBitFalse(byte, bit);
    else
      byte = kroSetBitTrue(byte, bit);
    if (p % 8 == 7)
      *out++ = (uint8_t)byte;
  }
  return out;
}

/* The picture of a code: dir/<code>.bmp when it can be opened, else dir/<code>.png, into name
 * (KRO_KROF_MAX_NAME bytes); 0 when neither can be opened. */
static int kroGlyphPicture(char *name, const char *dir, int code) {
  static const char *const endings[] = {"bmp", "png"};
  for (const char *ending : endings) {
    snprintf(name, KRO_KROF_MAX_NAME, "%s/%d.%s", dir, code, ending);
    FILE *picture = fopen(name, "rb");
    if (picture) {
      fclose(picture);
      return 1;
    }
  }
  snprintf(name, KRO_KROF_MAX_NAME, "%s/%d.bmp", dir, code); /* named in the report */
  return 0;
}

/* Reads, scales and encodes the picture of every chosen code, in ascending
 * order, into records; 0 or -1 (the failing reader or scaler has reported). */
static int kroEncodeGlyphs(uint8_t *records, const char *dir, const uint8_t *chosen,
                           const int32_t *size, uint8_t threshold) {
  char name[KRO_KROF_MAX_NAME];
  for (int code = 0; code < KRO_KROF_MAX_GLYPHS; code++) {
    if (!chosen[code])
      continue;
    int32_t picture_size[2];
    kroGlyphPicture(name, dir, code);
    uint8_t *picture = kroLoadPicture(name, picture_size);
    if (!picture)
      return -1;
    uint8_t *glyph = kroResizeBitmap(picture, picture_size, size);
    free(picture);
    if (!glyph)
      return -1;
    records = kroEncodeGlyph(records, (uint8_t)code, glyph, size[0] * size[1], threshold);
    free(glyph);
  }
  return 0;
}

/* Checks what both builders are given; 0, or -1 after a report naming `function`. */
static int kroCheckFontRequest(const char *dir, const int32_t *size, const char *function) {
  if (!kroGlyphSizeUsable(size[0], size[1])) {
    kroBuilderFail("Error in %s(..): glyph size %d x %d is not usable\n", function, size[0],
                   size[1]);
    return -1;
  }
  char name[KRO_KROF_MAX_NAME];
  if (snprintf(name, sizeof name, "%s/%d.bmp", dir, 255) >= (int)sizeof name) {
    kroBuilderFail("Error in %s(..): folder name too long: %s\n", function, dir);
    return -1;
  }
  return 0;
}

/* The encoded records of the chosen codes (heap) and their glyph count; null
 * after a report naming `function`. */
static uint8_t *kroBuildRecords(const char *dir, const uint8_t *chosen, const int32_t *size,
                                uint8_t threshold, const char *function, uint32_t *record_bytes,
                                int *count) {
  *count = 0;
  for (int code = 0; code < KRO_KROF_MAX_GLYPHS; code++)
    *count += chosen[code] != 0;
  *record_bytes = (uint32_t)*count * (1 + (uint32_t)(size[0] * size[1] / 8));
  uint8_t *records = (uint8_t *)kroAllocate(*record_bytes);
  if (!records) {
    kroBuilderFail("Error during allocating memory for data in %s(..)\n", function);
    return nullptr;
  }
  if (kroEncodeGlyphs(records, dir, chosen, size, threshold) != 0) {
    free(records);
    return nullptr;
  }
  return records;
}

/* Header, records and the name (unterminated); failures stay in the stream. */
static void kroPutKROF(FILE *file, const uint8_t *records, uint32_t record_bytes,
                       const int32_t *size, const char *name, size_t name_length) {
  uint8_t header[KRO_KROF_HEADER_BYTES];
  memcpy(header, kroKROFMagic, 4);
  header[4] = kroGet3rdByte(record_bytes);
  header[5] = kroGet2ndByte(record_bytes);
  header[6] = kroGet1stByte(record_bytes);
  header[7] = kroGet0thByte(record_bytes);
  header[8] = kroGet1stByte((uint32_t)size[0]);
  header[9] = kroGet0thByte((uint32_t)size[0]);
  header[10] = kroGet1stByte((uint32_t)size[1]);
  header[11] = kroGet0thByte((uint32_t)size[1]);
  if (fwrite(header, 1, sizeof header, file) == sizeof header &&
      fwrite(records, 1, record_bytes, file) == record_bytes)
    fwrite(name, 1, name_length, file);
}

int kroWriteKROFfd(const char *dir, const uint8_t *chosen, const int32_t *size, const char *name,
                   uint8_t threshold, FILE *out) {
  if (kroCheckFontRequest(dir, size, "kroWriteKROFfd") != 0)
    return 0;
  uint32_t record_bytes;
  int count;
  uint8_t *records =
      kroBuildRecords(dir, chosen, size, threshold, "kroWriteKROFfd", &record_bytes, &count);
  if (!records)
    return 0;
  kroPutKROF(out, records, record_bytes, size, name ? name : "", name ? strlen(name) : 0);
  free(records);
  return count;
}

int kroCreateKROF(const char *dir, const int32_t *size, const char *out_path, uint8_t threshold) {
  if (kroCheckFontRequest(dir, size, "kroCreateKROF") != 0)
    return 0;
  char name[KRO_KROF_MAX_NAME];
  uint8_t chosen[KRO_KROF_MAX_GLYPHS];
  for (int c = 0; c < KRO_KROF_MAX_GLYPHS; c++)
    chosen[c] = (uint8_t)kroGlyphPicture(name, dir, c);
  uint32_t record_bytes;
  int count;
  uint8_t *records =
      kroBuildRecords(dir, chosen, size, threshold, "kroCreateKROF", &record_bytes, &count);
  if (!records)
    return 0;
  kroOutFile out;
  if (kroBeginOutFile(&out, out_path) != 0) {
    free(records);
    kroBuilderFail("Error during opening file: %s\n", out_path);
    errno = out.error;
    return 0;
  }
  /* The name kept after the records is the output path less its last five
   * characters (the extension); a shorter path leaves it empty. */
  size_t path_length = strlen(out_path);
  kroPutKROF(out.file, records, record_bytes, size, out_path,
             path_length > 5 ? path_length - 5 : 0);
  free(records);
  if (kroCommitOutFile(&out) != 0) {
    kroBuilderFail("Error during writing file: %s\n", out_path);
    errno = out.error;
    return 0;
  }
  return count;
}

/* ---- reading ------------------------------------------------------------ */

static int kroKROFRefuse(FILE *file, const char *path, const char *reason) {
  fclose(file);
  kroFail("Error in reading fonts from %s: %s\n", path, reason);
  return -1;
}

int kroReadKROF(const char *path, kroFontFile *font_file) {
  memset(font_file, 0, sizeof *font_file);
  FILE *file = fopen(path, "r");
  long file_bytes = file ? kroStreamBytes(file) : -1;
  if (!file || file_bytes < 0) {
    if (file)
      fclose(file);
    kroFail("Cannot read from file: %s\n", path);
    return -1;
  }
  uint8_t h[KRO_KROF_HEADER_BYTES];
  size_t got = fread(h, 1, sizeof h, file);
  if (got < 4 || memcmp(h, kroKROFMagic, 4) != 0) {
    fclose(file);
    kroFail("Error in reading fonts from %s\n", path);
    return -1;
  }
  if (got < sizeof h)
    return kroKROFRefuse(file, path, "header cut short");
  uint32_t record_bytes = (uint32_t)h[4] << 24 | (uint32_t)h[5] << 16 | (uint32_t)h[6] << 8 | h[7];
  int32_t width = h[8] << 8 | h[9], height = h[10] << 8 | h[11];
  if (!kroGlyphSizeUsable(width, height))
    return kroKROFRefuse(file, path, "glyph size is not a whole number of bytes");
  uint32_t record = 1 + (uint32_t)(width * height / 8);
  if (record_bytes % record != 0 || record_bytes / record > KRO_KROF_MAX_GLYPHS)
    return kroKROFRefuse(file, path, "record count does not fit the glyph size");
  if ((uint64_t)record_bytes > (uint64_t)file_bytes - KRO_KROF_HEADER_BYTES)
    return kroKROFRefuse(file, path, "records cut short");

  uint8_t *records = (uint8_t *)kroAllocate(record_bytes);
  if (!records) {
    fclose(file);
    kroFail("Error during allocating memory in kroReadKROF(..)\n");
    return -1;
  }
  if (fread(records, 1, record_bytes, file) != record_bytes) {
    free(records);
    return kroKROFRefuse(file, path, "records cut short");
  }
  fclose(file);
  font_file->width = width;
  font_file->height = height;
  font_file->glyph_count = (int32_t)(record_bytes / record);
  font_file->record_bytes = (int32_t)record;
  font_file->records = records;
  return 0;
}

void kroFreeKROF(kroFontFile *font_file) {
  free(font_file->records);
  memset(font_file, 0, sizeof *font_file);
}

/* ---- loading into textures ------------------------------------------------ */

static void kroEmptyFont(kroFont *font) {
  font->glyph_count = 0;
  font->textures = nullptr;
  for (int c = 0; c < 256; c++)
    font->glyph_table[c] = -1;
}

/* A colour component 0..255 as a byte: truncated toward zero, low 8 bits. */
static uint8_t kroColourByte(float value) {
  if (!(value > (float)INT_MIN && value < (float)INT_MAX))
    return 0;
  return (uint8_t)(int32_t)value;
}

/* Expands one record's bits into the glyph bitmap: colour1 for 1 bits. */
static void kroExpandGlyph(uint8_t *glyph, const uint8_t *bits, int32_t bytes,
                           const uint8_t *colour0, const uint8_t *colour1) {
  for (int32_t i = 0; i < bytes; i++)
    for (int8_t bit = 7; bit >= 0; bit--, glyph += 4)
      memcpy(glyph, kroGetBit(bits[i], bit) ? colour1 : colour0, 4);
}

/* Makes one texture per glyph; 0, or -1 when scaling failed (reported). */
static int kroUploadGlyphs(kroFont *font, const kroFontFile *file, uint8_t *glyph,
                           const float *colour0, const float *colour1,
                           const int32_t *texture_size) {
  uint8_t c0[4], c1[4];
  for (int i = 0; i < 4; i++) {
    c0[i] = kroColourByte(colour0[i]);
    c1[i] = kroColourByte(colour1[i]);
  }
  int32_t glyph_size[2] = {file->width, file->height};
  for (int32_t g = 0; g < file->glyph_count; g++) {
    const uint8_t *record = file->records + (size_t)g * file->record_bytes;
    font->glyph_table[record[0]] = g;
    kroExpandGlyph(glyph, record + 1, file->record_bytes - 1, c0, c1);
    uint8_t *scaled = kroResizeBitmap(glyph, glyph_size, texture_size);
    if (!scaled)
      return -1;
    glBindTexture(GL_TEXTURE_2D, font->textures[g]);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, texture_size[0], texture_size[1], 0, GL_RGBA,
                 GL_UNSIGNED_BYTE, scaled);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    free(scaled);
  }
  return 0;
}

int kroLoadKROF(const char *path, kroFont *font, const float *colour0, const float *colour1,
                const int32_t *texture_size) {
  kroEmptyFont(font);
  kroFontFile file;
  if (kroReadKROF(path, &file) != 0)
    return EOF;
  if (texture_size[0] <= 0 || texture_size[1] <= 0 ||
      (int64_t)texture_size[0] * texture_size[1] > KRO_BMP_MAX_PIXELS) {
    kroFreeKROF(&file);
    kroFail("Error in kroLoadKROF(..) with texture size %d x %d\n", texture_size[0],
            texture_size[1]);
    return EOF;
  }
  GLuint *textures = (GLuint *)kroAllocate(sizeof(GLuint) * (size_t)file.glyph_count);
  if (!textures) {
    kroFreeKROF(&file);
    kroFail("Error during allocating memory in kroLoadKROF(..)\n");
    return EOF;
  }
  uint8_t *glyph = (uint8_t *)kroAllocate((size_t)file.width * file.height * 4);
  if (!glyph) {
    free(textures);
    kroFreeKROF(&file);
    kroFail("Error during allocating memory for bitmap in kroLoadKROF(..)\n");
    return EOF;
  }
  glGenTextures(file.glyph_count, textures);
  font->textures = textures;
  font->glyph_count = file.glyph_count;
  int failed = kroUploadGlyphs(font, &file, glyph, colour0, colour1, texture_size);
  free(glyph);
  kroFreeKROF(&file);
  if (failed) {
    kroDestroyKROF(font);
    return EOF;
  }
  return 0;
}

void kroDestroyKROF(kroFont *font) {
  if (font->textures)
    glDeleteTextures(font->glyph_count, font->textures);
  free(font->textures);
  kroEmptyFont(font);
}

int32_t kroGetFontID(uint8_t code, const kroFont *font) {
  return font->glyph_table[code];
}

void kroDrawFont(uint8_t code, const kroFont *font, const float *corner0, const float *corner1) {
  int32_t glyph = font->glyph_table[code];
  if (glyph < 0 || glyph >= font->glyph_count)
    return;
  float x0 = corner0[0], y0 = corner0[1], z0 = corner0[2];
  float x1 = corner1[0], y1 = corner1[1], z1 = corner1[2];
  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, font->textures[glyph]);
  glBegin(GL_TRIANGLES);
  glTexCoord2f(0, 0);
  glVertex3f(x0, y0, z0);
  glTexCoord2f(1, 0);
  glVertex3f(x1, y0, z1);
  glTexCoord2f(1, 1);
  glVertex3f(x1, y1, z1);
  glTexCoord2f(0, 0);
  glVertex3f(x0, y0, z0);
  glTexCoord2f(1, 1);
  glVertex3f(x1, y1, z1);
  glTexCoord2f(0, 1);
  glVertex3f(x0, y1, z0);
  glEnd();
}

/* ---- lines of text --------------------------------------------------------- */

int kroLoadTextFont(const char *path, kroFont *font) {
  static const float transparent[4] = {255.0f, 255.0f, 255.0f, 0.0f};
  static const float white[4] = {255.0f, 255.0f, 255.0f, 255.0f};
  kroFontFile file;
  if (kroReadKROF(path, &file) != 0) {
    kroEmptyFont(font);
    return EOF;
  }
  int32_t size[2] = {file.width, file.height};
  kroFreeKROF(&file);
  return kroLoadKROF(path, font, transparent, white, size);
}

/* Width over height of the font's glyph textures; 1 for a font without glyphs. */
static float kroGlyphAspect(const kroFont *font) {
  GLint width = 0, height = 0;
  if (font->glyph_count < 1)
    return 1.0f;
  glBindTexture(GL_TEXTURE_2D, font->textures[0]);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &height);
  return width > 0 && height > 0 ? (float)width / (float)height : 1.0f;
}

/* The state the text needs is set inside a saved copy of the caller's: the attribute groups it
 * touches, the three matrices, the texture unit and the program. */
void kroDrawText(const kroFont *font, const char *text, float x, float y, float height,
                 const float *rgba) {
  if (!font || !text || !font->textures)
    return;
  GLint program = 0, unit = GL_TEXTURE0, viewport[4] = {0, 0, 1, 1}, mode = GL_MODELVIEW;
  glGetIntegerv(GL_CURRENT_PROGRAM, &program);
  glGetIntegerv(GL_ACTIVE_TEXTURE, &unit);
  glGetIntegerv(GL_VIEWPORT, viewport);
  glGetIntegerv(GL_MATRIX_MODE, &mode);
  glPushAttrib(GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT | GL_CURRENT_BIT | GL_TEXTURE_BIT |
               GL_DEPTH_BUFFER_BIT | GL_POLYGON_BIT | GL_LIGHTING_BIT);
  glUseProgramObjectARB(0);
  glActiveTexture(GL_TEXTURE0);
  static const GLenum matrices[3] = {GL_PROJECTION, GL_MODELVIEW, GL_TEXTURE};
  for (GLenum matrix : matrices) {
    glMatrixMode(matrix);
    glPushMatrix();
    glLoadIdentity();
  }
  glMatrixMode(GL_PROJECTION);
  glOrtho(0.0, viewport[2], 0.0, viewport[3], -1.0, 1.0);
  glDisable(GL_LIGHTING);
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_CULL_FACE);
  glDisable(GL_ALPHA_TEST);
  glDisable(GL_FOG);
  glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  glColor4fv(rgba);
  float width = height * kroGlyphAspect(font);
  for (const char *c = text; *c; c++) {
    float left = x + width * (float)(c - text);
    float corner0[3] = {left, y, 0.0f}, corner1[3] = {left + width, y + height, 0.0f};
    kroDrawFont((uint8_t)*c, font, corner0, corner1);
  }
  for (int i = 2; i >= 0; i--) {
    glMatrixMode(matrices[i]);
    glPopMatrix();
  }
  glMatrixMode((GLenum)mode);
  glPopAttrib();
  glActiveTexture((GLenum)unit);
  glUseProgramObjectARB((GLhandleARB)program);
}
