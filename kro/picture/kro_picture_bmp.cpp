/*
 * BMP pictures of every common kind, from a file in memory, into the engine's
 * bitmap layout: the older 12-byte header and the 40 to 124-byte ones,
 * palettes of 1, 4 and 8 bits, RLE8 and RLE4, 16 and 32-bit bit fields, 24
 * and 32-bit pixels, bottom-up and top-down rows. kroLoadBMP (kro_bmp.cpp)
 * keeps its own 24-bit reader.
 * Depends on: kro_picture.cpp (kroPictureRefuse, kroPictureDescribe),
 * kro_error.cpp (allocation).
 */
#include "kro.h"
#include "kro_internal.h"

#include <stdlib.h>
#include <string.h>

enum {
  KRO_BMP_FILE_HEADER_BYTES = 14,
  KRO_BMP_CORE_INFO_BYTES = 12, /* the older header: 16-bit sizes, 3-byte palette entries */
  KRO_BMP_PALETTE_MAX = 256,
  KRO_BMP_MASKS = 4, /* red, green, blue, alpha */
  KRO_BMP_RGB = 0,   /* compression: none */
  KRO_BMP_RLE8 = 1,
  KRO_BMP_RLE4 = 2,
  KRO_BMP_BITFIELDS = 3,
  KRO_BMP_ALPHABITFIELDS = 6
};

static uint32_t kroBMPLittle32(const uint8_t *b) {
  return (uint32_t)b[0] | (uint32_t)b[1] << 8 | (uint32_t)b[2] << 16 | (uint32_t)b[3] << 24;
}

static uint32_t kroBMPLittle16(const uint8_t *b) {
  return (uint32_t)b[0] | (uint32_t)b[1] << 8;
}

/* One bit field: where it sits, and its values widened to 8 bits. */
typedef struct kroBMPField {
  uint32_t mask;
  int shift, bits;   /* bits 0: the channel is absent */
  uint8_t wide[256]; /* values of up to 8 bits, their bits repeated to fill 8 */
} kroBMPField;

/* What the headers say. */
typedef struct kroBMPFile {
  const uint8_t *bytes;
  size_t count;
  int32_t width, height; /* height positive */
  int top_down;
  uint32_t info_bytes, data_offset, bits, compression;
  kroBMPField field[KRO_BMP_MASKS];
  int has_fields;
  uint32_t palette[KRO_BMP_PALETTE_MAX]; /* RGBA words, opaque */
  uint32_t palette_entries;
} kroBMPFile;

static inline uint32_t kroBMPWord(uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
  uint8_t bytes[4] = {(uint8_t)r, (uint8_t)g, (uint8_t)b, (uint8_t)a};
  uint32_t word;
  memcpy(&word, bytes, 4);
  return word;
}

static int kroBMPSetField(kroBMPField *field, uint32_t mask, kroPictureResult *result) {
  memset(field, 0, sizeof *field);
  field->mask = mask;
  if (!mask)
    return 0;
  while (!(mask >> field->shift & 1))
    field->shift++;
  uint32_t value = mask >> field->shift;
  while (field->bits < 32 && value >> field->bits & 1)
    field->bits++;
  if (field->bits < 32 && value >> field->bits)
    return kroPictureRefuse(result, "BMP: bit field mask 0x%08X is not one run of bits", mask);
  if (field->bits <= 8)
    for (uint32_t v = 0; v < 1u << field->bits; v++) {
      uint32_t wide = 0;
      for (int filled = 0; filled < 8; filled += field->bits)
        wide = wide << field->bits | v;
      int total = ((8 + field->bits - 1) / field->bits) * field->bits;
      field->wide[v] = (uint8_t)(wide >> (total - 8));
    }
  return 0;
}

static inline uint8_t kroBMPFieldValue(const kroBMPField *field, uint32_t pixel) {
  uint32_t v = (pixel & field->mask) >> field->shift;
  return field->bits <= 8 ? field->wide[v] : (uint8_t)(v >> (field->bits - 8));
}

static const char *kroBMPCompressionName(uint32_t compression) {
  switch (compression) {
  case KRO_BMP_RLE8:
    return "RLE8";
  case KRO_BMP_RLE4:
    return "RLE4";
  case KRO_BMP_BITFIELDS:
    return "bit fields";
  case KRO_BMP_ALPHABITFIELDS:
    return "bit fields with alpha";
  }
  return "uncompressed";
}

/* The bit fields: from the header (52 bytes and more), after a 40-byte
 * header, or the defaults of 16 and 32-bit files without them. */
static int kroBMPReadFields(kroBMPFile *f, kroPictureResult *result, size_t *palette_at) {
  uint32_t masks[KRO_BMP_MASKS] = {0, 0, 0, 0};
  int explicit_fields =
      f->compression == KRO_BMP_BITFIELDS || f->compression == KRO_BMP_ALPHABITFIELDS;
  size_t at = KRO_BMP_FILE_HEADER_BYTES + 40;
  if (explicit_fields) {
    int count = f->compression == KRO_BMP_ALPHABITFIELDS ? 4 : 3;
    if (f->info_bytes >= 56)
      count = 4;
    else if (f->info_bytes == 52)
      count = 3;
    if (at + (size_t)count * 4 > f->count)
      return kroPictureRefuse(result, "BMP: the bit field masks are cut short");
    for (int i = 0; i < count; i++)
      masks[i] = kroBMPLittle32(f->bytes + at + 4 * i);
    if (f->info_bytes == 40)
      *palette_at += (size_t)count * 4;
  } else if (f->bits == 16) {
    masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
  } else if (f->bits == 32) {
    masks[0] = 0x00FF0000, masks[1] = 0x0000FF00, masks[2] = 0x000000FF;
  } else {
    return 0;
  }
  for (int i = 0; i < KRO_BMP_MASKS; i++) {
    if (f->bits == 16 && masks[i] > 0xFFFF)
      return kroPictureRefuse(result, "BMP: bit field mask 0x%08X is wider than 16 bits", masks[i]);
    if (kroBMPSetField(&f->field[i], masks[i], result) != 0)
      return -1;
  }
  f->has_fields = 1;
  return 0;
}

static int kroBMPReadHeaders(kroBMPFile *f, kroPictureResult *result) {
  const uint8_t *b = f->bytes;
  if (f->count < KRO_BMP_FILE_HEADER_BYTES + 4)
    return kroPictureRefuse(result, "BMP: the file header is cut short");
  f->data_offset = kroBMPLittle32(b + 10);
  f->info_bytes = kroBMPLittle32(b + 14);
  uint32_t info = f->info_bytes, planes, used = 0;
  if (info != KRO_BMP_CORE_INFO_BYTES && info != 40 && info != 52 && info != 56 && info != 108 &&
      info != 124)
    return kroPictureRefuse(result, "BMP: information header of %u bytes is not known", info);
  if (KRO_BMP_FILE_HEADER_BYTES + (size_t)info > f->count)
    return kroPictureRefuse(result, "BMP: the information header is cut short");
  int64_t height;
  if (info == KRO_BMP_CORE_INFO_BYTES) {
    f->width = (int32_t)kroBMPLittle16(b + 18);
    height = kroBMPLittle16(b + 20);
    planes = kroBMPLittle16(b + 22);
    f->bits = kroBMPLittle16(b + 24);
    f->compression = KRO_BMP_RGB;
  } else {
    f->width = (int32_t)kroBMPLittle32(b + 18);
    height = (int32_t)kroBMPLittle32(b + 22);
    planes = kroBMPLittle16(b + 26);
    f->bits = kroBMPLittle16(b + 28);
    f->compression = kroBMPLittle32(b + 30);
    used = kroBMPLittle32(b + 46);
  }
  if (planes != 1)
    return kroPictureRefuse(result, "BMP: %u colour planes, expected 1", planes);
  uint32_t c = f->compression, bits = f->bits;
  int known =
      (c == KRO_BMP_RGB &&
       (bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32)) ||
      (c == KRO_BMP_RLE8 && bits == 8) || (c == KRO_BMP_RLE4 && bits == 4) ||
      ((c == KRO_BMP_BITFIELDS || c == KRO_BMP_ALPHABITFIELDS) && (bits == 16 || bits == 32));
  if (!known)
    return kroPictureRefuse(result, "BMP: %u bits per pixel with compression %u is not known", bits,
                            c);
  if (f->width <= 0 || height == 0 || height == INT32_MIN)
    return kroPictureRefuse(result, "BMP: bad size %d x %lld", f->width, (long long)height);
  f->top_down = height < 0;
  f->height = (int32_t)(height < 0 ? -height : height);
  if (f->top_down && (c == KRO_BMP_RLE8 || c == KRO_BMP_RLE4))
    return kroPictureRefuse(result, "BMP: run-length pixels cannot be stored top-down");
  if ((int64_t)f->width * f->height > KRO_BMP_MAX_PIXELS)
    return kroPictureRefuse(result, "BMP: %d x %d pixels, more than the engine takes (%d)",
                            f->width, f->height, KRO_BMP_MAX_PIXELS);

  size_t palette_at = KRO_BMP_FILE_HEADER_BYTES + (size_t)info;
  if (kroBMPReadFields(f, result, &palette_at) != 0)
    return -1;
  if (bits <= 8) {
    uint32_t most = 1u << bits, entry = info == KRO_BMP_CORE_INFO_BYTES ? 3 : 4;
    f->palette_entries = used ? used : most;
    if (f->palette_entries > most)
      return kroPictureRefuse(result, "BMP: a palette of %u colours for %u bits per pixel",
                              f->palette_entries, bits);
    if (palette_at + (size_t)f->palette_entries * entry > f->count)
      return kroPictureRefuse(result, "BMP: the palette is cut short");
    for (uint32_t i = 0; i < f->palette_entries; i++) {
      const uint8_t *p = b + palette_at + (size_t)i * entry;
      f->palette[i] = kroBMPWord(p[2], p[1], p[0], 255);
    }
  }
  if (f->data_offset < palette_at || f->data_offset > f->count)
    return kroPictureRefuse(result, "BMP: pixel data offset %u outside %zu to %zu", f->data_offset,
                            palette_at, f->count);
  return 0;
}

/* Palette indices of one stored row into RGBA words. */
static int kroBMPIndexRow(const kroBMPFile *f, const uint8_t *in, uint32_t *out,
                          kroPictureResult *result) {
  int bits = (int)f->bits;
  for (int32_t x = 0; x < f->width; x++) {
    uint32_t i = bits == 8   ? in[x]
                 : bits == 4 ? in[x >> 1] >> (4 - 4 * (x & 1)) & 15
                             : in[x >> 3] >> (7 - (x & 7)) & 1;
    if (i >= f->palette_entries)
      return kroPictureRefuse(result, "BMP: palette index %u past the palette's %u colours", i,
                              f->palette_entries);
    out[x] = f->palette[i];
  }
  return 0;
}

static void kroBMPFieldRow(const kroBMPFile *f, const uint8_t *in, uint32_t *out) {
  const kroBMPField *r = f->field, *g = f->field + 1, *b = f->field + 2, *a = f->field + 3;
  for (int32_t x = 0; x < f->width; x++) {
    uint32_t p = f->bits == 16 ? kroBMPLittle16(in + 2 * x) : kroBMPLittle32(in + 4 * x);
    out[x] = kroBMPWord(kroBMPFieldValue(r, p), kroBMPFieldValue(g, p), kroBMPFieldValue(b, p),
                        a->bits ? kroBMPFieldValue(a, p) : 255);
  }
}

/* Bytes from one stored row to the next; 0 after the refusal when the rows
 * run past the file. */
static uint64_t kroBMPStride(const kroBMPFile *f, kroPictureResult *result) {
  uint64_t tight = ((uint64_t)f->width * f->bits + 7) / 8;
  uint64_t stride = ((uint64_t)f->width * f->bits + 31) / 32 * 4;
  uint64_t available = f->count - f->data_offset;
  /* 24-bit files the engine once wrote have unpadded rows and exactly that
   * many bytes (as kroLoadBMP takes them). */
  if (f->bits == 24 && available == tight * (uint64_t)f->height)
    stride = tight;
  if (available < stride * (uint64_t)(f->height - 1) + tight) {
    kroPictureRefuse(result, "BMP: pixel data cut short: %llu of %llu bytes",
                     (unsigned long long)available,
                     (unsigned long long)(stride * (uint64_t)f->height));
    return 0;
  }
  return stride;
}

static int kroBMPPlainRows(const kroBMPFile *f, uint64_t stride, uint8_t *pixels,
                           kroPictureResult *result) {
  /* Without bit fields the fourth byte of a 32-bit pixel is alpha, unless it
   * is 0 everywhere. */
  int byte_alpha = f->bits == 32 && f->compression == KRO_BMP_RGB, any_alpha = 0;
  for (int32_t row = 0; row < f->height; row++) {
    const uint8_t *in = f->bytes + f->data_offset + (size_t)row * stride;
    int32_t target = f->top_down ? f->height - 1 - row : row;
    uint32_t *out = (uint32_t *)(void *)(pixels + (size_t)target * f->width * 4);
    if (f->bits <= 8) {
      if (kroBMPIndexRow(f, in, out, result) != 0)
        return -1;
    } else if (f->bits == 24) {
      for (int32_t x = 0; x < f->width; x++, in += 3)
        out[x] = kroBMPWord(in[2], in[1], in[0], 255);
    } else if (byte_alpha) {
      uint32_t alpha = 0;
      for (int32_t x = 0; x < f->width; x++, in += 4) {
        out[x] = kroBMPWord(in[2], in[1], in[0], in[3]);
        alpha |= in[3];
      }
      any_alpha |= alpha != 0;
    } else {
      kroBMPFieldRow(f, in, out);
    }
  }
  if (byte_alpha && !any_alpha)
    for (size_t i = 0; i < (size_t)f->width * f->height; i++)
      pixels[i * 4 + 3] = 255;
  return 0;
}

/* RLE8 and RLE4: runs and literal stretches within a row, line ends, deltas
 * and the picture's end. Every pixel first takes palette entry 0. */
static int kroBMPRunRows(const kroBMPFile *f, uint8_t *pixels, kroPictureResult *result) {
  uint32_t *out = (uint32_t *)(void *)pixels;
  size_t total = (size_t)f->width * f->height;
  for (size_t i = 0; i < total; i++)
    out[i] = f->palette[0];
  const uint8_t *p = f->bytes + f->data_offset, *end = f->bytes + f->count;
  int four = f->compression == KRO_BMP_RLE4;
  int64_t x = 0, y = 0;
  for (;;) {
    if (end - p < 2)
      return kroPictureRefuse(result, "BMP: run-length data cut short before its end mark");
    uint32_t n = p[0], c = p[1];
    p += 2;
    if (n > 0 || c >= 3) {
      /* n pixels of one or two indices, or c pixels as they are */
      uint32_t pixels_now = n > 0 ? n : c;
      if (y >= f->height || x + pixels_now > (uint32_t)f->width)
        return kroPictureRefuse(result, "BMP: run of %u pixels past the row at (%lld, %lld)",
                                pixels_now, (long long)x, (long long)y);
      const uint8_t *literal = p;
      if (n == 0) {
        size_t bytes = four ? (c + 1) / 2 : c;
        bytes += bytes & 1;
        if ((size_t)(end - p) < bytes)
          return kroPictureRefuse(result, "BMP: run-length data cut short in a literal run");
        p += bytes;
      }
      uint32_t *row = out + (size_t)y * f->width + x;
      for (uint32_t i = 0; i < pixels_now; i++) {
        uint32_t index;
        if (n > 0)
          index = four ? (i & 1 ? c & 15 : c >> 4) : c;
        else
          index = four ? (i & 1 ? literal[i / 2] & 15 : literal[i / 2] >> 4) : literal[i];
        if (index >= f->palette_entries)
          return kroPictureRefuse(result, "BMP: palette index %u past the palette's %u colours",
                                  index, f->palette_entries);
        row[i] = f->palette[index];
      }
      x += pixels_now;
    } else if (c == 0) {
      x = 0;
      y++;
    } else if (c == 1) {
      return 0;
    } else {
      if (end - p < 2)
        return kroPictureRefuse(result, "BMP: run-length data cut short in a delta");
      x += p[0];
      y += p[1];
      p += 2;
      if (x > f->width || y > f->height)
        return kroPictureRefuse(result, "BMP: a delta moves past the picture to (%lld, %lld)",
                                (long long)x, (long long)y);
    }
  }
}

uint8_t *kroDecodeBMPMemory(const uint8_t *bytes, size_t count, int32_t *size,
                            kroPictureResult *result) {
  kroBMPFile f;
  memset(&f, 0, sizeof f);
  f.bytes = bytes;
  f.count = count;
  if (kroBMPReadHeaders(&f, result) != 0)
    return nullptr;
  kroPictureDescribe(result, "BMP, %s, %u bit%s, %u-byte header%s",
                     kroBMPCompressionName(f.compression), f.bits, f.bits == 1 ? "" : "s",
                     f.info_bytes, f.top_down ? ", top-down" : "");
  if (result->info)
    result->info->transparent_possible =
        (f.bits == 32 && f.compression == KRO_BMP_RGB) || (f.has_fields && f.field[3].bits);
  /* Before the picture is allocated: the data must be able to fill it. */
  int run_length = f.compression == KRO_BMP_RLE8 || f.compression == KRO_BMP_RLE4;
  uint64_t stride = 0, stream = count - f.data_offset;
  if (run_length && (uint64_t)f.width * f.height > stream * KRO_PICTURE_MOST_RLE_PIXELS) {
    kroPictureRefuse(result, "BMP: %llu bytes of run-length data cannot cover %d x %d pixels",
                     (unsigned long long)stream, f.width, f.height);
    return nullptr;
  }
  if (!run_length && !(stride = kroBMPStride(&f, result)))
    return nullptr;
  uint8_t *pixels = (uint8_t *)kroAllocate((size_t)f.width * f.height * 4);
  if (!pixels) {
    kroPictureRefuse(result, "out of memory");
    return nullptr;
  }
  int failed =
      run_length ? kroBMPRunRows(&f, pixels, result) : kroBMPPlainRows(&f, stride, pixels, result);
  if (failed) {
    free(pixels);
    return nullptr;
  }
  size[0] = f.width;
  size[1] = f.height;
  return pixels;
}
