/*
 * BMP pictures: the one reader, from a file in memory into the engine's
 * bitmap layout (the older 12-byte header and the 40 to 124-byte ones,
 * palettes of 1, 4 and 8 bits, RLE8 and RLE4, 16 and 32-bit bit fields, 24
 * and 32-bit pixels, bottom-up and top-down rows); kroDecodeBMP and
 * kroLoadBMP over its header fields and rows for 24-bit files alone, read a
 * chunk of rows at a time; writing a bitmap back out; resampling with a box
 * filter.
 * Depends on: kro_picture_file.cpp (refusals, size limits), kro_error.cpp
 * (allocation, failure reporting, byte utilities).
 */
#include "kro.h"
#include "kro_internal.h"

#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

/* ---- reading ---------------------------------------------------------- */

enum {
  KRO_BMP_FILE_HEADER_BYTES = 14,
  KRO_BMP_CORE_INFO_BYTES = 12, /* the older header: 16-bit sizes, 3-byte palette entries */
  KRO_BMP_PALETTE_MAX = 256,
  KRO_BMP_MASKS = 4, /* red, green, blue, alpha */
  KRO_BMP_RGB = 0,   /* compression: none */
  KRO_BMP_RLE8 = 1,
  KRO_BMP_RLE4 = 2,
  KRO_BMP_BITFIELDS = 3,
  KRO_BMP_ALPHABITFIELDS = 6,
  KRO_BMP_CHUNK_BYTES = 1 << 18 /* pixel bytes kroDecodeBMP reads at a time */
};

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
      masks[i] = kroLittle32(f->bytes + at + 4 * i);
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

/* The information header's fields, of either kind (the header is in the
 * file); the height as stored, with its sign. */
static int64_t kroBMPTakeInfo(kroBMPFile *f, uint32_t *planes, uint32_t *used) {
  const uint8_t *b = f->bytes;
  f->data_offset = kroLittle32(b + 10);
  f->info_bytes = kroLittle32(b + 14);
  *used = 0;
  if (f->info_bytes == KRO_BMP_CORE_INFO_BYTES) {
    f->width = (int32_t)kroLittle16(b + 18);
    *planes = kroLittle16(b + 22);
    f->bits = kroLittle16(b + 24);
    f->compression = KRO_BMP_RGB;
    return kroLittle16(b + 20);
  }
  f->width = (int32_t)kroLittle32(b + 18);
  *planes = kroLittle16(b + 26);
  f->bits = kroLittle16(b + 28);
  f->compression = kroLittle32(b + 30);
  *used = kroLittle32(b + 46);
  return (int32_t)kroLittle32(b + 22);
}

/* A positive width and a height of either sign: the rows' order and count. */
static int kroBMPTakeSize(kroBMPFile *f, int64_t height) {
  if (f->width <= 0 || height == 0 || height == INT32_MIN)
    return -1;
  f->top_down = height < 0;
  f->height = (int32_t)(height < 0 ? -height : height);
  return 0;
}

static int kroBMPReadHeaders(kroBMPFile *f, kroPictureResult *result) {
  const uint8_t *b = f->bytes;
  if (f->count < KRO_BMP_FILE_HEADER_BYTES + 4)
    return kroPictureRefuse(result, "BMP: the file header is cut short");
  uint32_t info = kroLittle32(b + 14), planes, used;
  if (info != KRO_BMP_CORE_INFO_BYTES && info != 40 && info != 52 && info != 56 && info != 108 &&
      info != 124)
    return kroPictureRefuse(result, "BMP: information header of %u bytes is not known", info);
  if (KRO_BMP_FILE_HEADER_BYTES + (size_t)info > f->count)
    return kroPictureRefuse(result, "BMP: the information header is cut short");
  int64_t height = kroBMPTakeInfo(f, &planes, &used);
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
  if (kroBMPTakeSize(f, height) != 0)
    return kroPictureRefuse(result, "BMP: bad size %d x %lld", f->width, (long long)height);
  if (f->top_down && (c == KRO_BMP_RLE8 || c == KRO_BMP_RLE4))
    return kroPictureRefuse(result, "BMP: run-length pixels cannot be stored top-down");
  if (kroPictureSizeRefused(result, "BMP", f->width, f->height) != 0)
    return -1;

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
    uint32_t p = f->bits == 16 ? kroLittle16(in + 2 * x) : kroLittle32(in + 4 * x);
    out[x] = kroBMPWord(kroBMPFieldValue(r, p), kroBMPFieldValue(g, p), kroBMPFieldValue(b, p),
                        a->bits ? kroBMPFieldValue(a, p) : 255);
  }
}

/* Bytes from one stored row to the next; 0 after the refusal when the rows
 * run past the file. With whole_rows the last row's padding must be there
 * too. */
static uint64_t kroBMPStride(const kroBMPFile *f, int whole_rows, kroPictureResult *result) {
  uint64_t tight = ((uint64_t)f->width * f->bits + 7) / 8;
  uint64_t stride = ((uint64_t)f->width * f->bits + 31) / 32 * 4;
  uint64_t available = f->count - f->data_offset;
  /* 24-bit files the engine once wrote have unpadded rows and exactly that
   * many bytes. */
  if (f->bits == 24 && available == tight * (uint64_t)f->height)
    stride = tight;
  if (available < stride * (uint64_t)(f->height - 1) + (whole_rows ? stride : tight)) {
    kroPictureRefuse(result, "BMP: pixel data cut short: %llu of %llu bytes",
                     (unsigned long long)available,
                     (unsigned long long)(stride * (uint64_t)f->height));
    return 0;
  }
  return stride;
}

/* Without bit fields the fourth byte of a 32-bit pixel is alpha, unless it
 * is 0 everywhere. */
static int kroBMPByteAlpha(const kroBMPFile *f) {
  return f->bits == 32 && f->compression == KRO_BMP_RGB;
}

/* Stored rows first to first + rows - 1, the first at `in`, into their places
 * in the bitmap: 1 when a byte alpha is not 0, 0 when none is, -1 after the
 * refusal. */
static int kroBMPPlainRows(const kroBMPFile *f, const uint8_t *in, int32_t first, int32_t rows,
                           uint64_t stride, uint8_t *pixels, kroPictureResult *result) {
  uint32_t alpha = 0;
  for (int32_t row = first; row < first + rows; row++, in += stride) {
    int32_t target = f->top_down ? f->height - 1 - row : row;
    uint32_t *out = (uint32_t *)(void *)(pixels + (size_t)target * f->width * 4);
    if (f->bits <= 8) {
      if (kroBMPIndexRow(f, in, out, result) != 0)
        return -1;
    } else if (f->bits == 24) {
      const uint8_t *p = in;
      for (int32_t x = 0; x < f->width; x++, p += 3)
        out[x] = kroBMPWord(p[2], p[1], p[0], 255);
    } else if (kroBMPByteAlpha(f)) {
      const uint8_t *p = in;
      for (int32_t x = 0; x < f->width; x++, p += 4) {
        out[x] = kroBMPWord(p[2], p[1], p[0], p[3]);
        alpha |= p[3];
      }
    } else {
      kroBMPFieldRow(f, in, out);
    }
  }
  return alpha != 0;
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
  kroBMPFile f = {};
  f.bytes = bytes, f.count = count;
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
  if (!run_length && !(stride = kroBMPStride(&f, 0, result)))
    return nullptr;
  uint8_t *pixels = (uint8_t *)kroAllocate((size_t)f.width * f.height * 4);
  if (!pixels) {
    kroPictureRefuse(result, "out of memory");
    return nullptr;
  }
  int failed =
      run_length ? kroBMPRunRows(&f, pixels, result)
                 : kroBMPPlainRows(&f, bytes + f.data_offset, 0, f.height, stride, pixels, result);
  if (!run_length && kroBMPByteAlpha(&f) && failed == 0) /* no alpha anywhere: opaque */
    for (size_t i = 0; i < (size_t)f.width * f.height; i++)
      pixels[i * 4 + 3] = 255;
  if (failed < 0) {
    free(pixels);
    return nullptr;
  }
  size[0] = f.width;
  size[1] = f.height;
  return pixels;
}

/* kroDecodeBMP's rules: the "BM" signature, an information header of 40
 * bytes or more, the pixel data offset inside the file, 24 bits, no
 * compression, and every row whole. */
static kroBMPStatus kroBMPCheck24(kroBMPFile *f, uint64_t *stride) {
  uint32_t planes, used;
  kroPictureResult quiet = {};
  if (f->count < KRO_BMP_HEADER_BYTES || f->bytes[0] != 'B' || f->bytes[1] != 'M')
    return KRO_BMP_NOT_BMP;
  int64_t height = kroBMPTakeInfo(f, &planes, &used);
  if (f->info_bytes < 40 || f->data_offset < KRO_BMP_HEADER_BYTES || f->data_offset > f->count)
    return KRO_BMP_BAD_HEADER;
  if (f->bits != 24)
    return KRO_BMP_NOT_24_BIT;
  if (f->compression != KRO_BMP_RGB)
    return KRO_BMP_COMPRESSED;
  if (kroBMPTakeSize(f, height) != 0 || kroPictureSizeRefused(&quiet, "", f->width, f->height))
    return KRO_BMP_BAD_SIZE;
  *stride = kroBMPStride(f, 1, &quiet);
  return *stride ? KRO_BMP_OK : KRO_BMP_TRUNCATED;
}

/* The stored rows of a checked 24-bit file, read from its pixel data a
 * chunk of whole rows at a time. */
static kroBMPStatus kroBMPStreamRows(FILE *file, const kroBMPFile *f, uint64_t stride,
                                     uint8_t *pixels) {
  uint32_t rows_per_chunk = stride >= KRO_BMP_CHUNK_BYTES ? 1 : KRO_BMP_CHUNK_BYTES / stride;
  if (rows_per_chunk > (uint32_t)f->height)
    rows_per_chunk = (uint32_t)f->height;
  uint8_t *chunk = (uint8_t *)kroAllocate((size_t)rows_per_chunk * stride);
  if (!chunk)
    return KRO_BMP_NO_MEMORY;
  kroBMPStatus status =
      fseek(file, (long)f->data_offset, SEEK_SET) ? KRO_BMP_TRUNCATED : KRO_BMP_OK;
  kroPictureResult quiet = {};
  for (int32_t row = 0; row < f->height && status == KRO_BMP_OK; row += (int32_t)rows_per_chunk) {
    uint32_t rows =
        (uint32_t)(f->height - row) < rows_per_chunk ? (uint32_t)(f->height - row) : rows_per_chunk;
    if (fread(chunk, (size_t)stride, rows, file) != rows)
      status = KRO_BMP_TRUNCATED;
    else /* 24-bit rows: nothing to refuse */
      kroBMPPlainRows(f, chunk, row, (int32_t)rows, stride, pixels, &quiet);
  }
  free(chunk);
  return status;
}

uint8_t *kroDecodeBMP(const char *path, int32_t *size, kroBMPStatus *status) {
  kroBMPFile f;
  memset(&f, 0, sizeof f);
  size[0] = size[1] = 0;
  FILE *file = fopen(path, "rb");
  long file_bytes = file ? kroStreamBytes(file) : -1;
  if (file_bytes < 0) {
    if (file)
      fclose(file);
    *status = KRO_BMP_CANNOT_OPEN;
    return nullptr;
  }
  uint8_t header[KRO_BMP_HEADER_BYTES];
  uint64_t stride = 0;
  f.bytes = header;
  f.count = fread(header, 1, sizeof header, file) == sizeof header ? (size_t)file_bytes : 0;
  *status = kroBMPCheck24(&f, &stride);
  uint8_t *pixels = nullptr;
  if (*status == KRO_BMP_OK && !(pixels = (uint8_t *)kroAllocate((size_t)f.width * f.height * 4)))
    *status = KRO_BMP_NO_MEMORY;
  if (pixels)
    *status = kroBMPStreamRows(file, &f, stride, pixels);
  fclose(file);
  if (*status != KRO_BMP_OK) {
    free(pixels);
    return nullptr;
  }
  size[0] = f.width;
  size[1] = f.height;
  return pixels;
}

const char *kroBMPStatusText(kroBMPStatus status) {
  switch (status) {
  case KRO_BMP_OK:
    return "no error";
  case KRO_BMP_CANNOT_OPEN:
    return "cannot open the file";
  case KRO_BMP_NO_MEMORY:
    return "out of memory";
  case KRO_BMP_NOT_BMP:
    return "not a BMP file";
  case KRO_BMP_BAD_HEADER:
    return "unsupported header or pixel data offset";
  case KRO_BMP_NOT_24_BIT:
    return "not 24 bits per pixel";
  case KRO_BMP_COMPRESSED:
    return "compressed pixel data";
  case KRO_BMP_BAD_SIZE:
    return "bad width or height";
  case KRO_BMP_TRUNCATED:
    return "pixel data cut short";
  }
  return "unknown error";
}

uint8_t *kroLoadBMP(const char *path, int32_t *size) {
  kroBMPStatus status;
  uint8_t *pixels = kroDecodeBMP(path, size, &status);
  if (status == KRO_BMP_CANNOT_OPEN)
    kroFail("Error in reading texture from %s in function kroLoadBMP(..)\n", path);
  else if (status == KRO_BMP_NO_MEMORY)
    kroFail("Error during allocating memory in function kroLoadBMP(..)\n");
  else if (status != KRO_BMP_OK)
    kroFail("Error in reading texture from %s in function kroLoadBMP(..): %s\n", path,
            kroBMPStatusText(status));
  return pixels;
}

/* ---- writing ---------------------------------------------------------- */

static uint8_t *kroPut32(uint8_t *out, uint32_t value) {
  *out++ = kroGet0thByte(value);
  *out++ = kroGet1stByte(value);
  *out++ = kroGet2ndByte(value);
  *out++ = kroGet3rdByte(value);
  return out;
}

static uint8_t *kroPut16(uint8_t *out, uint32_t value) {
  *out++ = kroGet0thByte(value);
  *out++ = 0;
  return out;
}

/* Bytes of one stored row: three per pixel, padded to a multiple of 4. */
static uint64_t kroBMPPaddedRow(int32_t width) {
  return ((uint64_t)width * 3 + 3) & ~(uint64_t)3;
}

/* The 54 header bytes of a bitmap whose padded rows take data_bytes. */
static void kroBMPHeader(uint8_t *header, int32_t width, int32_t height, uint32_t data_bytes) {
  uint8_t *h = header;
  *h++ = 66;
  *h++ = 77;
  h = kroPut32(h, KRO_BMP_HEADER_BYTES + data_bytes); /* file size */
  h = kroPut32(h, 0);                                 /* reserved */
  h = kroPut32(h, KRO_BMP_HEADER_BYTES);              /* pixel data offset */
  h = kroPut32(h, 40);                                /* information header size */
  h = kroPut32(h, (uint32_t)width);
  h = kroPut32(h, (uint32_t)height);
  h = kroPut16(h, 1);  /* colour planes */
  h = kroPut16(h, 24); /* bits per pixel */
  h = kroPut32(h, 0);  /* compression */
  h = kroPut32(h, 0);  /* image data size: 0 is allowed for uncompressed data */
  h = kroPut32(h, 64); /* horizontal pixels per metre */
  h = kroPut32(h, 64); /* vertical pixels per metre */
  h = kroPut32(h, 0);  /* palette colours used */
  kroPut32(h, 0);      /* important colours */
}

/* Pixels go out blue, green, red, a row at a time, each row padded with zero
 * bytes to a multiple of 4 (row holds one padded row). Stops at the first
 * failed write; the stream keeps the failure. */
static void kroWriteBMPRows(FILE *file, const uint8_t *pixels, int32_t width, int32_t height,
                            uint8_t *row, size_t row_bytes) {
  memset(row, 0, row_bytes);
  for (int32_t y = 0; y < height; y++) {
    const uint8_t *in = pixels + (size_t)y * (size_t)width * 4;
    for (size_t x = 0; x < (size_t)width; x++) {
      row[x * 3 + 0] = in[x * 4 + 2];
      row[x * 3 + 1] = in[x * 4 + 1];
      row[x * 3 + 2] = in[x * 4 + 0];
    }
    if (fwrite(row, 1, row_bytes, file) != row_bytes)
      return;
  }
}

int kroExportBMP(const char *path, const uint8_t *pixels, const int32_t *size) {
  int32_t width = size[0], height = size[1];
  /* The sizes kroLoadBMP takes; their padded rows then fit the 32-bit size field. */
  if (width <= 0 || height <= 0 || (int64_t)width * height > KRO_BMP_MAX_PIXELS) {
    kroFail("Error in kroExportBMP(..) with bitmap size %d x %d for file: %s\n", width, height,
            path);
    return EOF;
  }
  size_t row_bytes = (size_t)kroBMPPaddedRow(width);
  /* Taken before the file is opened, so that a failure leaves no file behind. */
  uint8_t *row = (uint8_t *)kroAllocate(row_bytes);
  if (!row) {
    kroFail("Error during allocating memory in kroExportBMP(..)\n");
    return EOF;
  }
  kroOutFile out;
  if (kroBeginOutFile(&out, path) != 0) {
    free(row);
    kroFail("Error in kroExportBMP(..) during opening file: %s\n", path);
    errno = out.error;
    return EOF;
  }
  uint8_t header[KRO_BMP_HEADER_BYTES];
  kroBMPHeader(header, width, height, (uint32_t)(row_bytes * (size_t)height));
  if (fwrite(header, 1, sizeof header, out.file) == sizeof header)
    kroWriteBMPRows(out.file, pixels, width, height, row, row_bytes);
  free(row);
  if (kroCommitOutFile(&out) != 0) {
    kroFail("Error in kroExportBMP(..) during writing file: %s\n", path);
    errno = out.error;
    return EOF;
  }
  return 0;
}

/* ---- resampling --------------------------------------------------------- */

/* One target pixel's span over the source line: pixels ia..ib with partial
 * weights at both ends. The float steps are those of the running span
 * a..b, so every line of a pass shares the same table. */
typedef struct kroSpan {
  int32_t ia, ib;    /* first and last source pixel; ia == ib: plain copy */
  int32_t end;       /* pixel read for the end term (ia when its weight is 0) */
  double head, tail; /* weights (ia + 1) - a and b - ib */
  double width;      /* b - a */
} kroSpan;

static void kroBuildSpans(kroSpan *spans, int32_t source, int32_t target) {
  float step = (float)source / (float)target;
  float a = 0.0f, b = step;
  for (int32_t i = 0; i < target; i++) {
    if (b > source)
      b = (float)((double)source - 0.00001);
    kroSpan *s = spans + i;
    s->ia = (int32_t)a;
    s->ib = (int32_t)b;
    s->head = (double)(s->ia + 1) - (double)a;
    s->tail = (double)b - (double)s->ib;
    /* A zero-weight end term adds nothing and must not read past the line. */
    s->end = s->tail == 0.0 ? s->ia : s->ib;
    s->width = (double)b - (double)a;
    /* Where float steps run out of precision the span can end up at the
     * line's end itself: take the last pixel rather than one past it. */
    if (s->ia >= source)
      s->ia = s->ib = s->end = source - 1;
    a = b;
    b = b + step;
  }
}

/* One channel of a target pixel: the truncated sum of the span's terms over
 * the line (values `stride` bytes apart), divided by the span width. */
static inline uint8_t kroSpanValue(const kroSpan *s, const uint8_t *line, size_t stride) {
  int32_t sum = (int32_t)((double)line[(size_t)s->ia * stride] * s->head +
                          (double)line[(size_t)s->end * stride] * s->tail);
  for (int32_t k = s->ia + 1; k < s->ib; k++)
    sum += line[(size_t)k * stride];
  return (uint8_t)(int32_t)((double)sum / s->width);
}

#if defined(__SSE2__)
/* Four channels at a time in double precision: the same operations in the
 * same order as kroSpanValue, so the results are bit for bit the same. */
static inline __m128i kroWidenBytes(const uint8_t *four) {
  int32_t word;
  memcpy(&word, four, 4);
  __m128i zero = _mm_setzero_si128();
  return _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(word), zero), zero);
}

/* (int)(first * head + last * tail) lane by lane. */
static inline __m128i kroPartialSums(__m128i first, __m128i last, __m128d head, __m128d tail) {
  __m128i first_high = _mm_shuffle_epi32(first, _MM_SHUFFLE(3, 2, 3, 2));
  __m128i last_high = _mm_shuffle_epi32(last, _MM_SHUFFLE(3, 2, 3, 2));
  __m128d low =
      _mm_add_pd(_mm_mul_pd(_mm_cvtepi32_pd(first), head), _mm_mul_pd(_mm_cvtepi32_pd(last), tail));
  __m128d high = _mm_add_pd(_mm_mul_pd(_mm_cvtepi32_pd(first_high), head),
                            _mm_mul_pd(_mm_cvtepi32_pd(last_high), tail));
  return _mm_unpacklo_epi64(_mm_cvttpd_epi32(low), _mm_cvttpd_epi32(high));
}

/* (int)(sum / width) lane by lane. */
static inline __m128i kroQuotients(__m128i sums, __m128d width) {
  __m128d low = _mm_div_pd(_mm_cvtepi32_pd(sums), width);
  __m128d high =
      _mm_div_pd(_mm_cvtepi32_pd(_mm_shuffle_epi32(sums, _MM_SHUFFLE(3, 2, 3, 2))), width);
  return _mm_unpacklo_epi64(_mm_cvttpd_epi32(low), _mm_cvttpd_epi32(high));
}

/* Quotients are 0..255 (a weighted mean of bytes), so saturating packs keep
 * exactly their low 8 bits. */
static inline void kroStoreFour(uint8_t *out, __m128i values) {
  __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(values, values), values);
  int32_t word = _mm_cvtsi128_si32(bytes);
  memcpy(out, &word, 4);
}
#endif

static void kroResizeRows(const uint8_t *in, int32_t in_width, uint8_t *out, int32_t out_width,
                          int32_t rows, const kroSpan *spans) {
  for (int32_t y = 0; y < rows; y++) {
    const uint8_t *line = in + (size_t)y * in_width * 4;
    uint8_t *target = out + (size_t)y * out_width * 4;
    for (int32_t x = 0; x < out_width; x++) {
      const kroSpan *s = spans + x;
      if (s->ia == s->ib) {
        memcpy(target + x * 4, line + (size_t)s->ia * 4, 4);
        continue;
      }
#if defined(__SSE2__)
      __m128i sums = kroPartialSums(kroWidenBytes(line + (size_t)s->ia * 4),
                                    kroWidenBytes(line + (size_t)s->end * 4), _mm_set1_pd(s->head),
                                    _mm_set1_pd(s->tail));
      for (int32_t k = s->ia + 1; k < s->ib; k++)
        sums = _mm_add_epi32(sums, kroWidenBytes(line + (size_t)k * 4));
      kroStoreFour(target + x * 4, kroQuotients(sums, _mm_set1_pd(s->width)));
#else
      for (int c = 0; c < 4; c++)
        target[x * 4 + c] = kroSpanValue(s, line + c, 4);
#endif
    }
  }
}

/* One blended target row of the vertical pass: every byte of the line is a
 * channel with its own column, all sharing the row's span. */
static void kroBlendRows(const uint8_t *in, size_t line, const kroSpan *s, uint8_t *target) {
  const uint8_t *first = in + (size_t)s->ia * line;
  const uint8_t *last = in + (size_t)s->end * line;
  size_t i = 0;
#if defined(__SSE2__)
  __m128d head = _mm_set1_pd(s->head), tail = _mm_set1_pd(s->tail), width = _mm_set1_pd(s->width);
  for (; i + 4 <= line; i += 4) {
    __m128i sums = kroPartialSums(kroWidenBytes(first + i), kroWidenBytes(last + i), head, tail);
    for (int32_t k = s->ia + 1; k < s->ib; k++)
      sums = _mm_add_epi32(sums, kroWidenBytes(in + (size_t)k * line + i));
    kroStoreFour(target + i, kroQuotients(sums, width));
  }
#endif
  for (; i < line; i++)
    target[i] = kroSpanValue(s, in + i, line);
}

/* The vertical pass, a whole target row at a time: the spans depend only on
 * the row, so the order of work does not change any result. */
static void kroResizeColumns(const uint8_t *in, int32_t width, uint8_t *out, int32_t out_rows,
                             const kroSpan *spans) {
  size_t line = (size_t)width * 4;
  for (int32_t y = 0; y < out_rows; y++) {
    const kroSpan *s = spans + y;
    if (s->ia == s->ib)
      memcpy(out + (size_t)y * line, in + (size_t)s->ia * line, line);
    else
      kroBlendRows(in, line, s, out + (size_t)y * line);
  }
}

uint8_t *kroResizeBitmap(const uint8_t *pixels, const int32_t *size, const int32_t *new_size) {
  int32_t sw = size[0], sh = size[1], dw = new_size[0], dh = new_size[1];
  if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0 || (int64_t)dw * sh > KRO_BMP_MAX_PIXELS ||
      (int64_t)dw * dh > KRO_BMP_MAX_PIXELS || (int64_t)sw * sh > KRO_BMP_MAX_PIXELS) {
    kroFail("Error in kroResizeBitmap(..) with size %d x %d to %d x %d\n", sw, sh, dw, dh);
    return nullptr;
  }
  uint8_t *middle = (uint8_t *)kroAllocate((size_t)dw * sh * 4);
  uint8_t *result = middle ? (uint8_t *)kroAllocate((size_t)dw * dh * 4) : nullptr;
  kroSpan *spans = (kroSpan *)kroAllocate(sizeof(kroSpan) * (size_t)(dw > dh ? dw : dh));
  if (!middle || !result || !spans) {
    free(middle);
    free(result);
    free(spans);
    kroFail("Error during allocating memory in kroResizeBitmap(..)\n");
    return nullptr;
  }
  kroBuildSpans(spans, sw, dw);
  kroResizeRows(pixels, sw, middle, dw, sh, spans);
  kroBuildSpans(spans, sh, dh);
  kroResizeColumns(middle, dw, result, dh, spans);
  free(spans);
  free(middle);
  return result;
}
