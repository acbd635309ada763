/*
 * BMP images: reading 24-bit files into the engine's bitmap layout, writing
 * a bitmap back out, and resampling with a box filter.
 * Depends on: kro_error.cpp (allocation, failure reporting, byte utilities).
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
  KRO_BMP_INFO_MIN_BYTES = 40,   /* smallest information header with 32-bit sizes */
  KRO_BMP_CHUNK_BYTES = 1 << 18, /* pixel bytes read per fread */
  KRO_BMP_BITS_OFFSET = 10,      /* offset of the pixel data offset field */
  KRO_BMP_INFO_SIZE_OFFSET = 14, /* information header size */
  KRO_BMP_WIDTH_OFFSET = 18,
  KRO_BMP_HEIGHT_OFFSET = 22,
  KRO_BMP_DEPTH_OFFSET = 28, /* bits per pixel, 16 bits */
  KRO_BMP_COMPRESSION_OFFSET = 30
};

static uint32_t kroLittle32(const uint8_t *b) {
  return (uint32_t)b[0] | (uint32_t)b[1] << 8 | (uint32_t)b[2] << 16 | (uint32_t)b[3] << 24;
}

/* Checks the header and works out the pixel data layout. */
typedef struct kroBMPLayout {
  int32_t width, height; /* pixels; height positive */
  int top_down;          /* first stored row is the top row */
  uint32_t data_offset;  /* bytes from the start of the file */
  uint32_t row_stride;   /* bytes from one stored row to the next */
} kroBMPLayout;

static kroBMPStatus kroParseBMPHeader(const uint8_t *h, long file_bytes, kroBMPLayout *layout) {
  if (h[0] != 'B' || h[1] != 'M')
    return KRO_BMP_NOT_BMP;
  uint32_t info_bytes = kroLittle32(h + KRO_BMP_INFO_SIZE_OFFSET);
  uint32_t data_offset = kroLittle32(h + KRO_BMP_BITS_OFFSET);
  if (info_bytes < KRO_BMP_INFO_MIN_BYTES || data_offset < KRO_BMP_HEADER_BYTES ||
      data_offset > (uint32_t)file_bytes)
    return KRO_BMP_BAD_HEADER;
  if ((h[KRO_BMP_DEPTH_OFFSET] | h[KRO_BMP_DEPTH_OFFSET + 1] << 8) != 24)
    return KRO_BMP_NOT_24_BIT;
  if (kroLittle32(h + KRO_BMP_COMPRESSION_OFFSET) != 0)
    return KRO_BMP_COMPRESSED;

  int32_t width = (int32_t)kroLittle32(h + KRO_BMP_WIDTH_OFFSET);
  int32_t height = (int32_t)kroLittle32(h + KRO_BMP_HEIGHT_OFFSET);
  if (width <= 0 || height == 0 || height == INT32_MIN)
    return KRO_BMP_BAD_SIZE;
  int top_down = height < 0;
  if (top_down)
    height = -height;
  if ((int64_t)width * height > KRO_BMP_MAX_PIXELS)
    return KRO_BMP_BAD_SIZE;

  /* Rows are padded to 4 bytes, as the engine now writes them too; files the
   * engine wrote earlier have unpadded rows. A data area of exactly the
   * unpadded size is such a file, anything else must hold the padded rows. */
  uint64_t tight = (uint64_t)width * 3;
  uint64_t padded = (tight + 3) & ~(uint64_t)3;
  uint64_t available = (uint64_t)file_bytes - data_offset;
  if (available == tight * (uint64_t)height)
    layout->row_stride = (uint32_t)tight;
  else if (available >= padded * (uint64_t)height)
    layout->row_stride = (uint32_t)padded;
  else
    return KRO_BMP_TRUNCATED;

  layout->width = width;
  layout->height = height;
  layout->top_down = top_down;
  layout->data_offset = data_offset;
  return KRO_BMP_OK;
}

/* Blue, green, red triples to red, green, blue, 255. */
static void kroExpandBGR(uint8_t *out, const uint8_t *in, int32_t pixels) {
  for (int32_t i = 0; i < pixels; i++, in += 3, out += 4) {
    uint32_t rgba = (uint32_t)in[2] | (uint32_t)in[1] << 8 | (uint32_t)in[0] << 16 | 0xFF000000u;
    memcpy(out, &rgba, 4); /* little-endian store */
  }
}

/* Reads the stored rows in chunks of whole rows and places each one: stored
 * row r is bitmap row r for bottom-up files, height - 1 - r for top-down. */
static kroBMPStatus kroReadBMPRows(FILE *file, const kroBMPLayout *layout, uint8_t *pixels) {
  uint32_t stride = layout->row_stride;
  uint32_t rows_per_chunk = stride >= KRO_BMP_CHUNK_BYTES ? 1 : KRO_BMP_CHUNK_BYTES / stride;
  if (rows_per_chunk > (uint32_t)layout->height)
    rows_per_chunk = (uint32_t)layout->height;
  uint8_t *chunk = (uint8_t *)kroAllocate((size_t)rows_per_chunk * stride);
  if (!chunk)
    return KRO_BMP_NO_MEMORY;
  size_t out_row = (size_t)layout->width * 4;
  kroBMPStatus status = KRO_BMP_OK;
  for (int32_t row = 0; row < layout->height && status == KRO_BMP_OK;) {
    uint32_t rows = (uint32_t)(layout->height - row);
    if (rows > rows_per_chunk)
      rows = rows_per_chunk;
    if (fread(chunk, stride, rows, file) != rows) {
      status = KRO_BMP_TRUNCATED;
      break;
    }
    for (uint32_t i = 0; i < rows; i++, row++) {
      int32_t target = layout->top_down ? layout->height - 1 - row : row;
      kroExpandBGR(pixels + (size_t)target * out_row, chunk + (size_t)i * stride, layout->width);
    }
  }
  free(chunk);
  return status;
}

uint8_t *kroDecodeBMP(const char *path, int32_t *size, kroBMPStatus *status) {
  size[0] = size[1] = 0;
  FILE *file = fopen(path, "rb");
  if (!file) {
    *status = KRO_BMP_CANNOT_OPEN;
    return nullptr;
  }
  uint8_t header[KRO_BMP_HEADER_BYTES];
  long file_bytes = kroStreamBytes(file);
  kroBMPLayout layout;
  if (file_bytes < KRO_BMP_HEADER_BYTES || fread(header, 1, sizeof header, file) != sizeof header)
    *status = file_bytes < 0 ? KRO_BMP_CANNOT_OPEN : KRO_BMP_NOT_BMP;
  else
    *status = kroParseBMPHeader(header, file_bytes, &layout);
  if (*status == KRO_BMP_OK && fseek(file, (long)layout.data_offset, SEEK_SET) != 0)
    *status = KRO_BMP_TRUNCATED;
  if (*status != KRO_BMP_OK) {
    fclose(file);
    return nullptr;
  }

  uint8_t *pixels = (uint8_t *)kroAllocate((size_t)layout.width * layout.height * 4);
  if (!pixels)
    *status = KRO_BMP_NO_MEMORY;
  else
    *status = kroReadBMPRows(file, &layout, pixels);
  fclose(file);
  if (*status != KRO_BMP_OK) {
    free(pixels);
    return nullptr;
  }
  size[0] = layout.width;
  size[1] = layout.height;
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
