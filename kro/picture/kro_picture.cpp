/*
 * Pictures: PNG and BMP files decoded into the engine's bitmap layout. This
 * file holds the entry points (the whole file is read into memory and told
 * apart by its first bytes) and the PNG decoder: the format check of
 * kro_png.cpp first, then the chunks again for the header, palette and
 * transparency, the image data inflated by zlib (a raw inflate: the zlib
 * header and checksum are checked here), the rows unfiltered and widened to
 * 8-bit RGBA. The BMP decoder is in kro_picture_bmp.cpp.
 * Depends on: kro_png.cpp (kroCheckPNGMemory), kro_picture_bmp.cpp,
 * kro_error.cpp (allocation, failure reporting), zlib.
 */
#include "kro.h"
#include "kro_internal.h"

#include <errno.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <zlib.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

int kroPictureRefuse(kroPictureResult *result, const char *format, ...) {
  if (result->why && result->why_chars > 0) {
    va_list args;
    va_start(args, format);
    vsnprintf(result->why, (size_t)result->why_chars, format, args);
    va_end(args);
  }
  return -1;
}

void kroPictureDescribe(kroPictureResult *result, const char *format, ...) {
  if (!result->info)
    return;
  va_list args;
  va_start(args, format);
  vsnprintf(result->info->format, sizeof result->info->format, format, args);
  va_end(args);
}

/* ---- PNG ------------------------------------------------------------------ */

enum {
  KRO_PNG_FILE_SIGNATURE_BYTES = 8,
  KRO_PNG_HEAD_BYTES = 8, /* a chunk's length and type */
  KRO_PNG_TAIL_BYTES = 4, /* its CRC */
  KRO_PNG_PALETTE_MAX = 256,
  KRO_PNG_PASSES = 7,            /* Adam7 */
  KRO_PNG_STRIP_BYTES = 1 << 17, /* filtered rows inflated at a time, at least one row */
  KRO_PNG_SMALLEST_STREAM = 64,  /* bytes of rows any image data may give, whatever its size */
  KRO_PNG_ROW_SLACK = 4 /* bytes after the row buffers that a word read of a last pixel may touch */
};

static uint32_t kroPictureBig32(const uint8_t *b) {
  return (uint32_t)b[0] << 24 | (uint32_t)b[1] << 16 | (uint32_t)b[2] << 8 | (uint32_t)b[3];
}

/* The decoder's state: the header, the palette as RGBA words, the
 * transparent colour, and the inflate stream fed chunk by chunk. */
typedef struct kroPNGDecode {
  const uint8_t *bytes;
  size_t count;
  size_t next; /* offset of the next chunk to look at for image data */
  uint32_t width, height;
  uint8_t depth, colour, interlace;
  int channels;    /* samples per pixel */
  int pixel_bytes; /* bytes per pixel for the filters, at least 1 */
  uint32_t palette[KRO_PNG_PALETTE_MAX];
  int palette_entries;
  int has_key;     /* tRNS for grey or RGB */
  uint16_t key[3]; /* its samples at the file's depth */
  z_stream z;
  int z_ended;         /* the deflate data has ended */
  uint32_t adler;      /* Adler-32 of the rows inflated so far */
  uint64_t data_bytes; /* the image data chunks' payloads together */
} kroPNGDecode;

static const uint8_t kroPNGFileSignature[KRO_PNG_FILE_SIGNATURE_BYTES] = {0x89, 'P',  'N',  'G',
                                                                          '\r', '\n', 0x1A, '\n'};

static int kroPNGChannels(uint8_t colour) {
  switch (colour) {
  case 0:
  case 3:
    return 1;
  case 2:
    return 3;
  case 4:
    return 2;
  }
  return 4;
}

/* RGBA bytes as the word a little-endian store writes. */
static inline uint32_t kroRGBA(uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
  uint8_t bytes[4] = {(uint8_t)r, (uint8_t)g, (uint8_t)b, (uint8_t)a};
  uint32_t word;
  memcpy(&word, bytes, 4);
  return word;
}

/* The ancillary and header chunks before the image data. The file has
 * passed the format check: every length lies inside it and the order holds. */
static int kroPNGReadChunks(kroPNGDecode *d, kroPictureResult *result) {
  size_t at = KRO_PNG_FILE_SIGNATURE_BYTES;
  uint8_t alpha[KRO_PNG_PALETTE_MAX];
  int alpha_entries = -1;
  memset(alpha, 0xFF, sizeof alpha);
  for (;;) {
    uint32_t length = kroPictureBig32(d->bytes + at);
    const uint8_t *type = d->bytes + at + 4, *data = d->bytes + at + KRO_PNG_HEAD_BYTES;
    if (!memcmp(type, "IHDR", 4)) {
      d->width = kroPictureBig32(data);
      d->height = kroPictureBig32(data + 4);
      d->depth = data[8];
      d->colour = data[9];
      d->interlace = data[12];
    } else if (!memcmp(type, "PLTE", 4)) {
      d->palette_entries = (int)(length / 3);
      for (int i = 0; i < d->palette_entries; i++)
        d->palette[i] = kroRGBA(data[i * 3], data[i * 3 + 1], data[i * 3 + 2], 255);
    } else if (!memcmp(type, "tRNS", 4)) {
      if (d->colour == 3) {
        if (length > (uint32_t)d->palette_entries || d->palette_entries == 0)
          return kroPictureRefuse(result, "tRNS: %u entries, more than the palette's %d", length,
                                  d->palette_entries);
        memcpy(alpha, data, length);
        alpha_entries = (int)length;
      } else if (d->colour == 0 || d->colour == 2) {
        uint32_t expected = d->colour == 0 ? 2 : 6;
        if (length != expected)
          return kroPictureRefuse(result, "tRNS: length %u, expected %u for colour type %u", length,
                                  expected, d->colour);
        for (uint32_t i = 0; i < expected / 2; i++)
          d->key[i] = (uint16_t)(data[i * 2] << 8 | data[i * 2 + 1]);
        d->has_key = 1;
      } else {
        return kroPictureRefuse(result, "tRNS: not allowed for colour type %u (it has alpha)",
                                d->colour);
      }
    } else if (!memcmp(type, "IDAT", 4)) {
      break;
    }
    at += KRO_PNG_HEAD_BYTES + (size_t)length + KRO_PNG_TAIL_BYTES;
  }
  d->next = at;
  for (size_t idat = at; !memcmp(d->bytes + idat + 4, "IDAT", 4);) {
    uint32_t length = kroPictureBig32(d->bytes + idat);
    d->data_bytes += length;
    idat += KRO_PNG_HEAD_BYTES + (size_t)length + KRO_PNG_TAIL_BYTES;
  }
  for (int i = 0; i < alpha_entries; i++)
    d->palette[i] = (d->palette[i] & ~kroRGBA(0, 0, 0, 255)) | kroRGBA(0, 0, 0, alpha[i]);
  d->channels = kroPNGChannels(d->colour);
  int bits = d->channels * d->depth;
  d->pixel_bytes = bits < 8 ? 1 : bits / 8;
  return 0;
}

/* Hands inflate the next image data chunk; 0 when there is none left. */
static int kroPNGNextData(kroPNGDecode *d) {
  while (d->next + KRO_PNG_HEAD_BYTES <= d->count) {
    uint32_t length = kroPictureBig32(d->bytes + d->next);
    const uint8_t *type = d->bytes + d->next + 4;
    if (memcmp(type, "IDAT", 4) != 0)
      return 0;
    d->z.next_in = (Bytef *)(d->bytes + d->next + KRO_PNG_HEAD_BYTES);
    d->z.avail_in = length;
    d->next += KRO_PNG_HEAD_BYTES + (size_t)length + KRO_PNG_TAIL_BYTES;
    if (length > 0)
      return 1;
  }
  return 0;
}

/* Adler-32 as the zlib format defines it, continued from `adler` (1 to start). With SSE2, 16
 * bytes at a time: over k blocks, b grows by 16 k a, 16 times the sum of the byte sums of the
 * blocks before each one, and each block's bytes weighted 16 down to 1. */
static uint32_t kroAdler32(uint32_t adler, const uint8_t *p, size_t n) {
  enum { BASE = 65521, MOST_BLOCKS = 5552 / 16 }; /* sums stay within 32 bits per lane */
  uint64_t a = adler & 0xFFFF, b = adler >> 16;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  const __m128i high = _mm_setr_epi16(16, 15, 14, 13, 12, 11, 10, 9);
  const __m128i low = _mm_setr_epi16(8, 7, 6, 5, 4, 3, 2, 1);
  while (n >= 16) {
    size_t blocks = n / 16 < (size_t)MOST_BLOCKS ? n / 16 : (size_t)MOST_BLOCKS;
    __m128i sums = zero, earlier = zero, weighted = zero;
    for (size_t k = 0; k < blocks; k++, p += 16) {
      __m128i bytes = _mm_loadu_si128((const __m128i *)(const void *)p);
      earlier = _mm_add_epi32(earlier, sums);
      sums = _mm_add_epi32(sums, _mm_sad_epu8(bytes, zero));
      weighted = _mm_add_epi32(weighted, _mm_madd_epi16(_mm_unpacklo_epi8(bytes, zero), high));
      weighted = _mm_add_epi32(weighted, _mm_madd_epi16(_mm_unpackhi_epi8(bytes, zero), low));
    }
    uint32_t lanes[3][4];
    _mm_storeu_si128((__m128i *)(void *)lanes[0], sums);
    _mm_storeu_si128((__m128i *)(void *)lanes[1], earlier);
    _mm_storeu_si128((__m128i *)(void *)lanes[2], weighted);
    uint64_t sum = (uint64_t)lanes[0][0] + lanes[0][2];
    uint64_t before = (uint64_t)lanes[1][0] + lanes[1][2];
    uint64_t weights = (uint64_t)lanes[2][0] + lanes[2][1] + lanes[2][2] + lanes[2][3];
    b = (b + 16 * blocks * a + 16 * before + weights) % BASE;
    a = (a + sum) % BASE;
    n -= blocks * 16;
  }
#endif
  while (n > 0) {
    size_t part = n < 5552 ? n : 5552;
    for (size_t i = 0; i < part; i++) {
      a += p[i];
      b += a;
    }
    a %= BASE;
    b %= BASE;
    p += part;
    n -= part;
  }
  return (uint32_t)(b << 16 | a);
}

/* The next `count` bytes of the image data, outside what inflate reads: the
 * zlib header and checksum. -1 when the data ends first. */
static int kroPNGTake(kroPNGDecode *d, uint8_t *bytes, int count) {
  for (int i = 0; i < count; i++) {
    if (d->z.avail_in == 0 && !kroPNGNextData(d))
      return -1;
    bytes[i] = *d->z.next_in++;
    d->z.avail_in--;
  }
  return 0;
}

/* The zlib header: deflate, a window of at most 32 KiB, the check bits, no
 * preset dictionary. The deflate data itself goes to a raw inflate. */
static int kroPNGStart(kroPNGDecode *d, kroPictureResult *result) {
  uint8_t h[2];
  if (kroPNGTake(d, h, 2) != 0)
    return kroPictureRefuse(result, "IDAT: the image data ends in the zlib header");
  if ((h[0] & 15) != 8 || h[0] >> 4 > 7 || (h[0] << 8 | h[1]) % 31 != 0 || h[1] & 0x20)
    return kroPictureRefuse(result, "IDAT: zlib header 0x%02X%02X is not plain deflate data", h[0],
                            h[1]);
  d->adler = 1;
  return 0;
}

/* Exactly `count` bytes of the inflated stream into out; -1 with the reason
 * when the stream is damaged or ends first. */
static int kroPNGInflate(kroPNGDecode *d, uint8_t *out, size_t count, kroPictureResult *result) {
  d->z.next_out = out;
  d->z.avail_out = (uInt)count;
  while (d->z.avail_out > 0) {
    if (d->z.avail_in == 0 && !kroPNGNextData(d))
      return kroPictureRefuse(result, "IDAT: the image data ends before the last row");
    int status = inflate(&d->z, Z_NO_FLUSH);
    if (status == Z_STREAM_END && d->z.avail_out > 0)
      return kroPictureRefuse(result, "IDAT: the zlib stream ends before the last row");
    if (status == Z_STREAM_END)
      d->z_ended = 1;
    else if (status != Z_OK && status != Z_BUF_ERROR)
      return kroPictureRefuse(result, "IDAT: damaged zlib stream (%s)",
                              d->z.msg ? d->z.msg : "no message");
  }
  d->adler = kroAdler32(d->adler, out, count);
  return 0;
}

/* After the last row the stream must end, its checksum right, with no
 * further image bytes. */
static int kroPNGFinish(kroPNGDecode *d, kroPictureResult *result) {
  uint8_t extra;
  while (!d->z_ended) {
    d->z.next_out = &extra;
    d->z.avail_out = 1;
    if (d->z.avail_in == 0 && !kroPNGNextData(d))
      return kroPictureRefuse(result, "IDAT: the zlib stream is cut short after the last row");
    int status = inflate(&d->z, Z_NO_FLUSH);
    if (d->z.avail_out == 0)
      return kroPictureRefuse(result, "IDAT: more image data than the picture's rows");
    if (status == Z_STREAM_END)
      d->z_ended = 1;
    else if (status != Z_OK && status != Z_BUF_ERROR)
      return kroPictureRefuse(result, "IDAT: damaged zlib stream (%s)",
                              d->z.msg ? d->z.msg : "no message");
  }
  uint8_t stored[4];
  if (kroPNGTake(d, stored, 4) != 0)
    return kroPictureRefuse(result, "IDAT: the zlib stream is cut short in its checksum");
  uint32_t adler = kroPictureBig32(stored);
  if (adler != d->adler)
    return kroPictureRefuse(result, "IDAT: zlib checksum 0x%08X does not match the rows (0x%08X)",
                            adler, d->adler);
  return 0;
}

/* ---- unfiltering ---- */

static inline int kroPaeth(int a, int b, int c) {
  int pa = abs(b - c), pb = abs(a - c), pc = abs(a + b - 2 * c);
  return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

#if defined(__SSE2__)
template <int bpp> static inline __m128i kroLoadPixel(const uint8_t *p) {
  /* Three bytes put together in a register: a 3-byte copy through memory
   * stalls the load that follows it. */
  int32_t word = (int32_t)((uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16);
  if (bpp == 4)
    memcpy(&word, p, 4);
  return _mm_unpacklo_epi8(_mm_cvtsi32_si128(word), _mm_setzero_si128());
}

template <int bpp> static inline void kroStorePixel(uint8_t *p, __m128i v) {
  int32_t word = _mm_cvtsi128_si32(_mm_packus_epi16(v, v));
  memcpy(p, &word, (size_t)bpp);
}

static inline __m128i kroAbs16(__m128i v) {
  return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v));
}

static inline __m128i kroSelect(__m128i mask, __m128i yes, __m128i no) {
  return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
}

/* The Paeth predictor of each 16-bit lane: of a (left), b (above) and c
 * (above left), the one nearest a + b - c, ties in that order. */
static inline __m128i kroPaeth16(__m128i a, __m128i b, __m128i c) {
  __m128i pa = kroAbs16(_mm_sub_epi16(b, c)), pb = kroAbs16(_mm_sub_epi16(a, c));
  __m128i pc = kroAbs16(_mm_sub_epi16(_mm_add_epi16(a, b), _mm_add_epi16(c, c)));
  __m128i smallest = _mm_min_epi16(pc, _mm_min_epi16(pa, pb));
  __m128i pick = kroSelect(_mm_cmpeq_epi16(smallest, pb), b, c);
  return kroSelect(_mm_cmpeq_epi16(smallest, pa), a, pick);
}

/* Sub, Average and Paeth for 3 and 4-byte pixels, a pixel at a time in
 * 16-bit lanes; the filter and the pixel size are fixed at compile time, so
 * that every load and store is one word. Each pixel needs the one before:
 * the rows stay serial. */
template <int type, int bpp>
static void kroUnfilterPixels(uint8_t *row, const uint8_t *prior, size_t bytes) {
  __m128i mask = _mm_set1_epi16(0xFF), a = _mm_setzero_si128(), c = _mm_setzero_si128();
  for (size_t i = 0; i + bpp <= bytes; i += bpp) {
    __m128i x = kroLoadPixel<bpp>(row + i), value;
    if (type == 1) {
      value = _mm_add_epi16(x, a);
    } else if (type == 3) {
      __m128i b = kroLoadPixel<bpp>(prior + i);
      value = _mm_add_epi16(x, _mm_srli_epi16(_mm_add_epi16(a, b), 1));
    } else {
      __m128i b = kroLoadPixel<bpp>(prior + i);
      value = _mm_add_epi16(x, kroPaeth16(a, b, c));
      c = b;
    }
    a = _mm_and_si128(value, mask);
    kroStorePixel<bpp>(row + i, a);
  }
}
#endif

/* Undoes one row's filter in place; prior is the unfiltered row above, null
 * for the first row of an image or pass (it counts as zeros). */
static int kroUnfilterRow(int type, uint8_t *row, const uint8_t *prior, size_t bytes, int bpp,
                          kroPictureResult *result) {
  if (!prior && type == 2)
    return 0; /* Up over zeros */
  if (!prior && type == 4)
    type = 1; /* Paeth over zeros picks the left neighbour */
  switch (type) {
  case 0:
    return 0;
  case 2:
    for (size_t i = 0; i < bytes; i++)
      row[i] = (uint8_t)(row[i] + prior[i]);
    return 0;
  case 1:
  case 3:
  case 4:
    break;
  default:
    return kroPictureRefuse(result, "IDAT: row filter type %d is not defined (0 to 4)", type);
  }
  if (type == 3 && !prior) {
    for (size_t i = (size_t)bpp; i < bytes; i++)
      row[i] = (uint8_t)(row[i] + (row[i - (size_t)bpp] >> 1));
    return 0;
  }
#if defined(__SSE2__)
  if (bpp == 3 || bpp == 4) {
    static void (*const unfilter[2][3])(uint8_t *, const uint8_t *, size_t) = {
        {kroUnfilterPixels<1, 3>, kroUnfilterPixels<3, 3>, kroUnfilterPixels<4, 3>},
        {kroUnfilterPixels<1, 4>, kroUnfilterPixels<3, 4>, kroUnfilterPixels<4, 4>}};
    unfilter[bpp - 3][type == 1 ? 0 : type == 3 ? 1 : 2](row, prior, bytes);
    return 0;
  }
#endif
  size_t n = (size_t)bpp;
  if (type == 1) {
    for (size_t i = n; i < bytes; i++)
      row[i] = (uint8_t)(row[i] + row[i - n]);
  } else if (type == 3) {
    for (size_t i = 0; i < n && i < bytes; i++)
      row[i] = (uint8_t)(row[i] + (prior[i] >> 1));
    for (size_t i = n; i < bytes; i++)
      row[i] = (uint8_t)(row[i] + ((row[i - n] + prior[i]) >> 1));
  } else {
    for (size_t i = 0; i < n && i < bytes; i++)
      row[i] = (uint8_t)(row[i] + prior[i]);
    for (size_t i = n; i < bytes; i++)
      row[i] = (uint8_t)(row[i] + kroPaeth(row[i - n], prior[i], prior[i - n]));
  }
  return 0;
}

/* ---- widening to RGBA ---- */

/* Sample i of a row of samples `depth` bits wide, first sample in the top bits. */
static inline uint32_t kroSample(const uint8_t *row, uint32_t i, int depth) {
  switch (depth) {
  case 1:
    return row[i >> 3] >> (7 - (i & 7)) & 1;
  case 2:
    return row[i >> 2] >> (6 - 2 * (i & 3)) & 3;
  case 4:
    return row[i >> 1] >> (4 - 4 * (i & 1)) & 15;
  case 8:
    return row[i];
  }
  return (uint32_t)row[2 * i] << 8 | row[2 * i + 1];
}

/* `pixels` pixels of an unfiltered row into RGBA words; -1 on a palette
 * index past the palette. */
static int kroPNGWiden(const kroPNGDecode *d, const uint8_t *in, uint32_t pixels, uint8_t *out,
                       kroPictureResult *result) {
  uint32_t *o = (uint32_t *)(void *)out;
  int depth = d->depth, shift = depth == 16 ? 8 : 0;
  switch (d->colour) {
  case 0: {
    uint32_t scale = depth == 1 ? 255 : depth == 2 ? 85 : depth == 4 ? 17 : 1;
    for (uint32_t x = 0; x < pixels; x++) {
      uint32_t v = kroSample(in, x, depth);
      uint32_t g = (v >> shift) * scale;
      o[x] = kroRGBA(g, g, g, d->has_key && v == d->key[0] ? 0 : 255);
    }
    return 0;
  }
  case 2:
    if (depth == 8 && !d->has_key) {
      /* a word read per pixel, its fourth byte replaced: the row buffers
       * leave KRO_PNG_ROW_SLACK bytes after every row for it */
      uint32_t opaque = kroRGBA(0, 0, 0, 255), colour = ~opaque;
      for (uint32_t x = 0; x < pixels; x++, in += 3) {
        uint32_t word;
        memcpy(&word, in, 4);
        o[x] = (word & colour) | opaque;
      }
      return 0;
    }
    for (uint32_t x = 0; x < pixels; x++) {
      uint32_t r = kroSample(in, 3 * x, depth), g = kroSample(in, 3 * x + 1, depth),
               b = kroSample(in, 3 * x + 2, depth);
      int clear = d->has_key && r == d->key[0] && g == d->key[1] && b == d->key[2];
      o[x] = kroRGBA(r >> shift, g >> shift, b >> shift, clear ? 0 : 255);
    }
    return 0;
  case 3:
    for (uint32_t x = 0; x < pixels; x++) {
      uint32_t v = kroSample(in, x, depth);
      if (v >= (uint32_t)d->palette_entries)
        return kroPictureRefuse(result, "IDAT: palette index %u past the palette's %d entries", v,
                                d->palette_entries);
      o[x] = d->palette[v];
    }
    return 0;
  case 4:
    for (uint32_t x = 0; x < pixels; x++) {
      uint32_t g = kroSample(in, 2 * x, depth) >> shift;
      o[x] = kroRGBA(g, g, g, kroSample(in, 2 * x + 1, depth) >> shift);
    }
    return 0;
  }
  if (depth == 8) {
    memcpy(out, in, (size_t)pixels * 4);
    return 0;
  }
  for (uint32_t x = 0; x < pixels; x++, in += 8)
    o[x] = kroRGBA(in[0], in[2], in[4], in[6]);
  return 0;
}

/* Bytes of a row of `pixels` pixels, its filter byte not counted. */
static size_t kroPNGRowBytes(const kroPNGDecode *d, uint32_t pixels) {
  return ((size_t)pixels * (size_t)d->channels * d->depth + 7) / 8;
}

#if !defined(__SSE2__)
/* 8-bit RGBA without interlacing: each row is inflated into its place in the
 * bitmap and unfiltered there against the row above it, which the bitmap
 * holds one row further on. */
static int kroPNGDecodeDirect(kroPNGDecode *d, uint8_t *pixels, kroPictureResult *result) {
  size_t stride = (size_t)d->width * 4;
  for (uint32_t y = 0; y < d->height; y++) {
    uint8_t filter;
    uint8_t *row = pixels + (size_t)(d->height - 1 - y) * stride;
    if (kroPNGInflate(d, &filter, 1, result) != 0 || kroPNGInflate(d, row, stride, result) != 0 ||
        kroUnfilterRow(filter, row, y ? row + stride : nullptr, stride, 4, result) != 0)
      return -1;
  }
  return 0;
}
#endif

#if defined(__SSE2__)
/* One filtered row of 3 or 4-byte pixels unfiltered straight into 4-byte
 * ones in the bitmap: the row above is read back from the bitmap, where it
 * already stands widened. For 3-byte pixels the fourth lane carries whatever
 * it meets along (lanes do not mix) and every store sets alpha to 255. Type
 * 5: Average over a first row (no row above). */
template <int type, int bpp>
static void kroUnfilterInto(const uint8_t *raw, const uint8_t *above, uint8_t *out,
                            uint32_t pixels) {
  if (bpp == 4 && type == 0) {
    memcpy(out, raw, (size_t)pixels * 4);
    return;
  }
  if (bpp == 4 && type == 2) {
    for (size_t i = 0; i < (size_t)pixels * 4; i++)
      out[i] = (uint8_t)(raw[i] + above[i]);
    return;
  }
  __m128i mask = _mm_set1_epi16(0xFF), a = _mm_setzero_si128(), c = _mm_setzero_si128();
  uint32_t opaque = bpp == 3 ? kroRGBA(0, 0, 0, 255) : 0;
  for (uint32_t i = 0; i < pixels; i++) {
    __m128i x = kroLoadPixel<bpp>(raw + bpp * (size_t)i), value = x;
    if (type == 1) {
      value = _mm_add_epi16(x, a);
    } else if (type == 5) {
      value = _mm_add_epi16(x, _mm_srli_epi16(a, 1));
    } else if (type >= 2) {
      __m128i b = kroLoadPixel<4>(above + 4 * (size_t)i);
      if (type == 2) {
        value = _mm_add_epi16(x, b);
      } else if (type == 3) {
        value = _mm_add_epi16(x, _mm_srli_epi16(_mm_add_epi16(a, b), 1));
      } else {
        value = _mm_add_epi16(x, kroPaeth16(a, b, c));
        c = b;
      }
    }
    a = _mm_and_si128(value, mask);
    uint32_t word = (uint32_t)_mm_cvtsi128_si32(_mm_packus_epi16(a, a)) | opaque;
    memcpy(out + 4 * (size_t)i, &word, 4);
  }
}

/* 8-bit RGB without a transparent colour and 8-bit RGBA, not interlaced:
 * the filtered rows are inflated a strip at a time, then unfiltered (and
 * widened) in one pass into the bitmap. Strips, not rows: inflate's fast
 * loop runs only while 258 bytes of room remain, so a call per row would
 * leave the end of every row to its slow loop. */
static int kroPNGDecodeStrips(kroPNGDecode *d, uint8_t *pixels, kroPictureResult *result) {
  typedef void (*Unfilter)(const uint8_t *, const uint8_t *, uint8_t *, uint32_t);
  static const Unfilter unfilter[2][6] = {
      {kroUnfilterInto<0, 3>, kroUnfilterInto<1, 3>, kroUnfilterInto<2, 3>, kroUnfilterInto<3, 3>,
       kroUnfilterInto<4, 3>, kroUnfilterInto<5, 3>},
      {kroUnfilterInto<0, 4>, kroUnfilterInto<1, 4>, kroUnfilterInto<2, 4>, kroUnfilterInto<3, 4>,
       kroUnfilterInto<4, 4>, kroUnfilterInto<5, 4>}};
  static const int first_row[5] = {0, 1, 0, 5, 1}; /* the same with zeros above */
  int rgba = d->colour == 6;
  size_t row_bytes = (size_t)d->width * (rgba ? 4 : 3) + 1, stride = (size_t)d->width * 4;
  size_t strip_rows = KRO_PNG_STRIP_BYTES / row_bytes ? KRO_PNG_STRIP_BYTES / row_bytes : 1;
  if (strip_rows > d->height)
    strip_rows = d->height;
  uint8_t *strip = (uint8_t *)kroAllocate(strip_rows * row_bytes + KRO_PNG_ROW_SLACK);
  if (!strip)
    return kroPictureRefuse(result, "out of memory");
  int failed = 0;
  for (uint32_t y = 0; y < d->height && !failed;) {
    size_t rows = d->height - y < strip_rows ? d->height - y : strip_rows;
    failed = kroPNGInflate(d, strip, rows * row_bytes, result);
    for (size_t r = 0; r < rows && !failed; r++, y++) {
      const uint8_t *raw = strip + r * row_bytes;
      uint8_t *out = pixels + (size_t)(d->height - 1 - y) * stride;
      if (raw[0] > 4)
        failed =
            kroPictureRefuse(result, "IDAT: row filter type %d is not defined (0 to 4)", raw[0]);
      else
        unfilter[rgba][y ? raw[0] : first_row[raw[0]]](raw + 1, y ? out + stride : nullptr, out,
                                                       d->width);
    }
  }
  free(strip);
  return failed ? -1 : 0;
}
#endif

/* Any other kind: rows go through two row buffers and are widened into the
 * bitmap, pass by pass for interlaced files. */
static int kroPNGDecodeRows(kroPNGDecode *d, uint8_t *pixels, kroPictureResult *result) {
  static const uint8_t start_x[KRO_PNG_PASSES] = {0, 4, 0, 2, 0, 1, 0};
  static const uint8_t start_y[KRO_PNG_PASSES] = {0, 0, 4, 0, 2, 0, 1};
  static const uint8_t step_x[KRO_PNG_PASSES] = {8, 8, 4, 4, 2, 2, 1};
  static const uint8_t step_y[KRO_PNG_PASSES] = {8, 8, 8, 4, 4, 2, 2};
  size_t row_bytes = kroPNGRowBytes(d, d->width) + 1;
  /* The widened row of a pass starts on a 4-byte boundary: it is written a word at a time. */
  size_t wide_at = (row_bytes * 2 + KRO_PNG_ROW_SLACK + 3) & ~(size_t)3;
  uint8_t *buffer = (uint8_t *)kroAllocate(wide_at + (d->interlace ? (size_t)d->width * 4 : 0));
  if (!buffer)
    return kroPictureRefuse(result, "out of memory");
  uint8_t *current = buffer, *previous = buffer + row_bytes, *wide = buffer + wide_at;
  size_t stride = (size_t)d->width * 4;
  int passes = d->interlace ? KRO_PNG_PASSES : 1, failed = 0;
  for (int pass = 0; pass < passes && !failed; pass++) {
    uint32_t x0 = 0, y0 = 0, dx = 1, dy = 1;
    if (d->interlace) {
      x0 = start_x[pass], y0 = start_y[pass], dx = step_x[pass], dy = step_y[pass];
    }
    if (x0 >= d->width || y0 >= d->height)
      continue; /* an empty pass has no rows, not even filter bytes */
    uint32_t columns = (d->width - x0 + dx - 1) / dx;
    size_t bytes = kroPNGRowBytes(d, columns);
    int first = 1;
    for (uint32_t y = y0; y < d->height && !failed; y += dy) {
      uint8_t *out = pixels + (size_t)(d->height - 1 - y) * stride;
      failed = kroPNGInflate(d, current, bytes + 1, result) != 0 ||
               kroUnfilterRow(current[0], current + 1, first ? nullptr : previous + 1, bytes,
                              d->pixel_bytes, result) != 0 ||
               kroPNGWiden(d, current + 1, columns, d->interlace ? wide : out, result) != 0;
      if (!failed && d->interlace)
        for (uint32_t i = 0, x = x0; i < columns; i++, x += dx)
          memcpy(out + (size_t)x * 4, wide + (size_t)i * 4, 4);
      uint8_t *swap = current;
      current = previous;
      previous = swap;
      first = 0;
    }
  }
  free(buffer);
  return failed ? -1 : 0;
}

static const char *kroPNGColourName(uint8_t colour) {
  switch (colour) {
  case 0:
    return "grey";
  case 2:
    return "RGB";
  case 3:
    return "palette";
  case 4:
    return "grey and alpha";
  }
  return "RGBA";
}

/* Bytes of filtered rows, filter bytes included, the whole picture needs. */
static uint64_t kroPNGRawBytes(const kroPNGDecode *d) {
  static const uint8_t start_x[KRO_PNG_PASSES] = {0, 4, 0, 2, 0, 1, 0};
  static const uint8_t start_y[KRO_PNG_PASSES] = {0, 0, 4, 0, 2, 0, 1};
  static const uint8_t step_x[KRO_PNG_PASSES] = {8, 8, 4, 4, 2, 2, 1};
  static const uint8_t step_y[KRO_PNG_PASSES] = {8, 8, 8, 4, 4, 2, 2};
  if (!d->interlace)
    return (uint64_t)d->height * (kroPNGRowBytes(d, d->width) + 1);
  uint64_t bytes = 0;
  for (int pass = 0; pass < KRO_PNG_PASSES; pass++)
    if (d->width > start_x[pass] && d->height > start_y[pass])
      bytes +=
          (uint64_t)((d->height - start_y[pass] + step_y[pass] - 1) / step_y[pass]) *
          (kroPNGRowBytes(d, (d->width - start_x[pass] + step_x[pass] - 1) / step_x[pass]) + 1);
  return bytes;
}

static uint8_t *kroDecodePNG(const uint8_t *bytes, size_t count, int32_t *size,
                             kroPictureResult *result) {
  char reason[KRO_PICTURE_REASON_CHARS];
  if (kroCheckPNGMemory(bytes, count, reason, sizeof reason) != 0) {
    kroPictureRefuse(result, "%s", reason);
    return nullptr;
  }
  kroPNGDecode d;
  memset(&d, 0, sizeof d);
  d.bytes = bytes;
  d.count = count;
  if (kroPNGReadChunks(&d, result) != 0)
    return nullptr;
  int alpha_palette = 0;
  for (int i = 0; i < d.palette_entries; i++)
    alpha_palette |= (d.palette[i] & kroRGBA(0, 0, 0, 255)) != kroRGBA(0, 0, 0, 255);
  kroPictureDescribe(result, "PNG, %s, %u bit%s%s%s", kroPNGColourName(d.colour), d.depth,
                     d.depth == 1 ? "" : "s", d.has_key || alpha_palette ? ", transparency" : "",
                     d.interlace ? ", interlaced" : "");
  if (result->info) {
    result->info->reduced_16_bit = d.depth == 16;
    result->info->transparent_possible =
        d.has_key || alpha_palette || d.colour == 4 || d.colour == 6;
  }
  if ((uint64_t)d.width * d.height > KRO_BMP_MAX_PIXELS) {
    kroPictureRefuse(result, "IHDR: %u x %u pixels, more than the engine takes (%d)", d.width,
                     d.height, KRO_BMP_MAX_PIXELS);
    return nullptr;
  }
  uint64_t raw = kroPNGRawBytes(&d);
  if (raw > d.data_bytes * KRO_PICTURE_MOST_INFLATE_RATIO + KRO_PNG_SMALLEST_STREAM) {
    kroPictureRefuse(result,
                     "IDAT: %llu bytes of image data cannot inflate to the %llu bytes of rows "
                     "that %u x %u pixels need",
                     (unsigned long long)d.data_bytes, (unsigned long long)raw, d.width, d.height);
    return nullptr;
  }
  uint8_t *pixels = (uint8_t *)kroAllocate((size_t)d.width * d.height * 4);
  if (!pixels) {
    kroPictureRefuse(result, "out of memory");
    return nullptr;
  }
  if (inflateInit2(&d.z, -15) != Z_OK) {
    free(pixels);
    kroPictureRefuse(result, "out of memory");
    return nullptr;
  }
  int failed = kroPNGStart(&d, result);
  if (failed)
    ;
#if defined(__SSE2__)
  else if ((d.colour == 6 || (d.colour == 2 && !d.has_key)) && d.depth == 8 && !d.interlace)
    failed = kroPNGDecodeStrips(&d, pixels, result);
#else
  else if (d.colour == 6 && d.depth == 8 && !d.interlace)
    failed = kroPNGDecodeDirect(&d, pixels, result);
#endif
  else
    failed = kroPNGDecodeRows(&d, pixels, result);
  if (!failed)
    failed = kroPNGFinish(&d, result);
  inflateEnd(&d.z);
  if (failed) {
    free(pixels);
    return nullptr;
  }
  size[0] = (int32_t)d.width;
  size[1] = (int32_t)d.height;
  return pixels;
}

/* ---- entry points ----------------------------------------------------------- */

uint8_t *kroDecodePictureMemory(const uint8_t *bytes, size_t count, int32_t *size,
                                kroPictureInfo *info, char *why, int why_chars) {
  kroPictureResult result = {why, why_chars, info};
  size[0] = size[1] = 0;
  if (why && why_chars > 0)
    why[0] = '\0';
  if (info)
    memset(info, 0, sizeof *info);
  uint8_t *pixels = nullptr;
  if (count >= 2 && bytes[0] == 'B' && bytes[1] == 'M')
    pixels = kroDecodeBMPMemory(bytes, count, size, &result);
  else if (count >= 1 && (bytes[0] == kroPNGFileSignature[0] ||
                          (count >= 4 && !memcmp(bytes + 1, kroPNGFileSignature + 1, 3))))
    /* a PNG signature with one byte wrong gets the check's precise reason */
    pixels = kroDecodePNG(bytes, count, size, &result);
  else
    kroPictureRefuse(&result, "neither a PNG nor a BMP file (unknown first bytes)");
  if (!pixels && info) {
    info->width = info->height = 0;
  } else if (info) {
    info->width = size[0];
    info->height = size[1];
  }
  if (!pixels)
    size[0] = size[1] = 0;
  return pixels;
}

uint8_t *kroDecodePictureInfo(const char *path, int32_t *size, kroPictureInfo *info, char *why,
                              int why_chars) {
  kroPictureResult result = {why, why_chars, info};
  size[0] = size[1] = 0;
  if (info)
    memset(info, 0, sizeof *info);
  FILE *file = path ? fopen(path, "rb") : nullptr;
  if (!file) {
    kroPictureRefuse(&result, "%s", path ? strerror(errno) : "no file named");
    return nullptr;
  }
  struct stat file_info;
  if (fstat(fileno(file), &file_info) == 0 && S_ISDIR(file_info.st_mode)) {
    fclose(file);
    kroPictureRefuse(&result, "a folder, not a file");
    return nullptr;
  }
  long bytes = kroStreamBytes(file);
  if (bytes < 0 || bytes > KRO_PICTURE_MAX_FILE_BYTES) {
    fclose(file);
    if (bytes < 0)
      kroPictureRefuse(&result, "cannot tell the file's size");
    else
      kroPictureRefuse(&result, "%ld bytes, more than the %d a picture file may have", bytes,
                       KRO_PICTURE_MAX_FILE_BYTES);
    return nullptr;
  }
  uint8_t *data = (uint8_t *)kroAllocate((size_t)bytes);
  if (!data) {
    fclose(file);
    kroPictureRefuse(&result, "out of memory");
    return nullptr;
  }
  size_t got = fread(data, 1, (size_t)bytes, file);
  int error = ferror(file) ? errno : 0;
  fclose(file);
  uint8_t *pixels = nullptr;
  if (error)
    kroPictureRefuse(&result, "read error: %s", strerror(error));
  else
    pixels = kroDecodePictureMemory(data, got, size, info, why, why_chars);
  free(data);
  return pixels;
}

uint8_t *kroDecodePicture(const char *path, int32_t *size, char *why, int why_chars) {
  return kroDecodePictureInfo(path, size, nullptr, why, why_chars);
}

uint8_t *kroLoadPicture(const char *path, int32_t *size) {
  char why[KRO_PICTURE_REASON_CHARS];
  uint8_t *pixels = kroDecodePicture(path, size, why, sizeof why);
  if (!pixels)
    kroFail("Error in reading picture from %s in function kroLoadPicture(..): %s\n",
            path ? path : "(null)", why);
  return pixels;
}
