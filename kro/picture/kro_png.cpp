/*
 * PNG files, in three uses. The container reader (kroLoadPNG) checks the
 * signature, walks the chunks, takes the size from IHDR and gathers the image
 * data (IDAT) payloads, in file order, still compressed: it checks no CRC and
 * inflates nothing. The format check (kroCheckPNG) checks every CRC and every
 * rule of the chunk sequence and the header, and reports nothing. The decoder
 * runs that check over a file in memory, takes the header, palette and
 * transparency it found, inflates the image data (a raw inflate, ISA-L's where
 * the build has it, else zlib's: the zlib header and checksum are checked
 * here), unfilters the rows and widens them to 8-bit RGBA.
 * Depends on: kro_picture_file.cpp (refusals, size limits), kro_error.cpp
 * (allocation, failure reporting), zlib (CRCs), ISA-L (KRO_PNG_ISAL).
 */
#include "kro.h"
#include "kro_internal.h"

#include <errno.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <zlib.h>
#if defined(KRO_PNG_ISAL)
#include <isa-l/igzip_lib.h>
#endif
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

enum {
  KRO_PNG_SIGNATURE_BYTES = 8, /* only the first 4 are examined */
  KRO_PNG_IHDR_BYTES = 13,
  KRO_PNG_CRC_BYTES = 4,
  KRO_PNG_CHUNK_HEAD_BYTES = 8 /* length and type */
};

static const uint8_t kroPNGSignature[KRO_PNG_SIGNATURE_BYTES] = {0x89, 'P',  'N',  'G',
                                                                 '\r', '\n', 0x1A, '\n'};

/* The IHDR chunk's 13 bytes as they stand. */
typedef struct kroPNGHeader {
  uint32_t width, height; /* big-endian in the file */
  uint8_t depth, colour, compression, filter, interlace;
} kroPNGHeader;

static kroPNGHeader kroPNGTakeHeader(const uint8_t *h) {
  kroPNGHeader header = {kroBig32(h), kroBig32(h + 4), h[8], h[9], h[10], h[11], h[12]};
  return header;
}

/* The state of one walk over a file. */
typedef struct kroPNGWalk {
  const char *path;
  const char *function; /* named in the messages */
  FILE *file;
  long remaining;  /* bytes not yet read */
  int gather;      /* gather the image data (kroLoadPNG), not only count it */
  uint8_t *data;   /* image data buffer, made at the IHDR chunk */
  int have_header; /* IHDR met */
} kroPNGWalk;

static int kroPNGRefuse(kroPNGWalk *walk, const char *reason) {
  kroFail("Error in reading texture from %s in function %s(..): %s\n", walk->path, walk->function,
          reason);
  return -1;
}

static int kroPNGRead(kroPNGWalk *walk, void *bytes, uint32_t count) {
  if ((long)count > walk->remaining || fread(bytes, 1, count, walk->file) != count)
    return -1;
  walk->remaining -= (long)count;
  return 0;
}

static int kroPNGSkip(kroPNGWalk *walk, uint32_t count) {
  if ((long)count > walk->remaining || fseek(walk->file, (long)count, SEEK_CUR) != 0)
    return -1;
  walk->remaining -= (long)count;
  return 0;
}

static int kroPNGWalkHeader(kroPNGWalk *walk, uint32_t length, kroPNGInfo *info, int32_t *size) {
  uint8_t h[KRO_PNG_IHDR_BYTES];
  if (walk->have_header)
    return kroPNGRefuse(walk, "second IHDR chunk");
  if (length != KRO_PNG_IHDR_BYTES || kroPNGRead(walk, h, KRO_PNG_IHDR_BYTES) != 0)
    return kroPNGRefuse(walk, "bad IHDR chunk");
  kroPNGHeader header = kroPNGTakeHeader(h);
  if (header.width == 0 || header.height == 0 || header.width > INT32_MAX ||
      header.height > INT32_MAX)
    return kroPNGRefuse(walk, "bad image size");
  info->width = size[0] = (int32_t)header.width;
  info->height = size[1] = (int32_t)header.height;
  info->bit_depth = header.depth;
  info->color_type = header.colour;
  info->compression = header.compression;
  info->filter = header.filter;
  info->interlace = header.interlace;
  walk->have_header = 1;
  if (walk->gather) {
    walk->data = (uint8_t *)kroAllocate(KRO_PNG_BUFFER_BYTES);
    if (!walk->data) {
      kroFail("Error during allocating memory in kroLoadPNG(..)");
      return -1;
    }
    if (info->compression != 0) {
      kroFail("Not known compression method in kroLoadPNG(..)");
      return -1;
    }
    if (info->interlace != 0) {
      kroFail("Not known interlace method in kroLoadPNG(..)");
      return -1;
    }
  }
  return 0;
}

static int kroPNGData(kroPNGWalk *walk, uint32_t length, kroPNGInfo *info) {
  if (!walk->have_header)
    return kroPNGRefuse(walk, "image data before the IHDR chunk");
  if (walk->gather) {
    if (length > KRO_PNG_BUFFER_BYTES - info->data_bytes)
      return kroPNGRefuse(walk, "image data larger than the buffer");
    if (kroPNGRead(walk, walk->data + info->data_bytes, length) != 0)
      return kroPNGRefuse(walk, "chunk runs past the end of the file");
  } else if (kroPNGSkip(walk, length) != 0) {
    return kroPNGRefuse(walk, "chunk runs past the end of the file");
  }
  info->data_chunks++;
  info->data_bytes =
      length > UINT32_MAX - info->data_bytes ? UINT32_MAX : info->data_bytes + length;
  return 0;
}

/* Walks every chunk up to IEND. With walk->gather set, the payloads are
 * gathered there and the buffer's limits and the reader's methods are
 * enforced. Returns 0, or -1 after the report. */
static int kroPNGWalkChunks(kroPNGWalk *walk, kroPNGInfo *info, int32_t *size) {
  uint8_t signature[KRO_PNG_SIGNATURE_BYTES];
  if (kroPNGRead(walk, signature, sizeof signature) != 0 ||
      memcmp(signature, kroPNGSignature, 4) != 0) {
    kroFail("Error in reading texture from %s in function %s(..)\n", walk->path, walk->function);
    return -1;
  }
  for (;;) {
    uint8_t head[KRO_PNG_CHUNK_HEAD_BYTES];
    if (walk->remaining == 0)
      return kroPNGRefuse(walk, "no IEND chunk");
    if (kroPNGRead(walk, head, sizeof head) != 0)
      return kroPNGRefuse(walk, "chunk runs past the end of the file");
    uint32_t length = kroBig32(head);
    const char *type = (const char *)head + 4;
    if (!memcmp(type, "IEND", 4))
      break;
    if ((uint64_t)length + KRO_PNG_CRC_BYTES > (uint64_t)walk->remaining)
      return kroPNGRefuse(walk, "chunk runs past the end of the file");
    int failed;
    if (!memcmp(type, "IHDR", 4))
      failed = kroPNGWalkHeader(walk, length, info, size);
    else if (!memcmp(type, "IDAT", 4))
      failed = kroPNGData(walk, length, info);
    else
      failed = kroPNGSkip(walk, length) != 0 ? kroPNGRefuse(walk, "unreadable chunk") : 0;
    if (failed)
      return -1;
    uint8_t crc[KRO_PNG_CRC_BYTES]; /* not checked */
    if (kroPNGRead(walk, crc, sizeof crc) != 0)
      return kroPNGRefuse(walk, "chunk runs past the end of the file");
  }
  if (!walk->have_header)
    return kroPNGRefuse(walk, "no IHDR chunk");
  return 0;
}

/* Opens the file and sets up a walk; -1 after the report when it cannot. */
static int kroPNGOpen(kroPNGWalk *walk, const char *path, const char *function) {
  memset(walk, 0, sizeof *walk);
  walk->path = path;
  walk->function = function;
  walk->file = fopen(path, "r");
  if (walk->file && fseek(walk->file, 0, SEEK_END) == 0) {
    walk->remaining = ftell(walk->file);
    if (walk->remaining >= 0 && fseek(walk->file, 0, SEEK_SET) == 0)
      return 0;
  }
  if (walk->file)
    fclose(walk->file);
  kroFail("Error in reading texture from %s in function %s(..)\n", path, function);
  return -1;
}

int kroLoadPNGInfo(const char *path, kroPNGInfo *info) {
  kroPNGWalk walk;
  int32_t size[2];
  memset(info, 0, sizeof *info);
  if (kroPNGOpen(&walk, path, "kroLoadPNGInfo") != 0)
    return -1;
  int result = kroPNGWalkChunks(&walk, info, size);
  fclose(walk.file);
  return result;
}

uint8_t *kroLoadPNG(const char *path, int32_t *size) {
  kroPNGWalk walk;
  kroPNGInfo info;
  memset(&info, 0, sizeof info);
  size[0] = size[1] = 0;
  if (kroPNGOpen(&walk, path, "kroLoadPNG") != 0)
    return nullptr;
  walk.gather = 1;
  int result = kroPNGWalkChunks(&walk, &info, size);
  fclose(walk.file);
  if (result != 0) {
    free(walk.data);
    size[0] = size[1] = 0;
    return nullptr;
  }
  memset(walk.data + info.data_bytes, 0, KRO_PNG_BUFFER_BYTES - info.data_bytes);
  return walk.data;
}

/* ---- The format check (kroCheckPNG): every rule, nothing printed ---- */

enum {
  KRO_PNG_MAX_LENGTH = 0x7FFFFFFF, /* chunk lengths and image sizes: 2^31 - 1 */
  KRO_PNG_PALETTE_ENTRIES = 256,   /* most entries of a palette */
  KRO_PNG_REASON_CHARS = 256,      /* room for the longest reason */
  KRO_PNG_CHECK_BLOCK = 8192       /* bytes read at a time for the CRC */
};

/* What the check has met so far, and the reason of the first problem. */
typedef struct kroPNGCheck {
  FILE *file;
  const uint8_t *bytes;           /* the file in memory when file is null */
  size_t count, at;               /* its bytes, and those read */
  uint8_t bit_depth, colour_type; /* of the IHDR chunk, once met */
  uint32_t chunks;                /* chunks begun, the one being checked included */
  uint32_t data_chunks;
  int seen_header, seen_palette, seen_end;
  int data_ended; /* another chunk came after the image data */
  int read_error; /* errno of a failed read; 0 when none */
  char reason[KRO_PNG_REASON_CHARS];
  /* What the decoder takes, for a file in memory: offsets of the chunks' data
   * (0: none), the first image data chunk's own, and their payloads together. */
  uint8_t header[KRO_PNG_IHDR_BYTES];
  size_t palette_at, trns_at, first_data;
  uint32_t palette_length, trns_length;
  uint64_t data_bytes;
} kroPNGCheck;

static int kroPNGProblem(kroPNGCheck *check, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
static int kroPNGProblem(kroPNGCheck *check, const char *format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(check->reason, sizeof check->reason, format, args);
  va_end(args);
  return -1;
}

/* Reads up to `count` bytes; a short read caused by an error is remembered. */
static size_t kroPNGCheckRead(kroPNGCheck *check, void *bytes, size_t count) {
  if (!check->file) {
    size_t got = count < check->count - check->at ? count : check->count - check->at;
    memcpy(bytes, check->bytes + check->at, got);
    check->at += got;
    return got;
  }
  size_t got = fread(bytes, 1, count, check->file);
  if (got < count && ferror(check->file) && !check->read_error)
    check->read_error = errno ? errno : EIO;
  return got;
}

/* The chunk CRC: CRC-32 with the reflected polynomial 0xEDB88320, continued
 * from `crc` (0 to start) over `count` bytes: zlib's, which is that one. */
static uint32_t kroPNGCRC(uint32_t crc, const uint8_t *bytes, size_t count) {
  while (count > 0) {
    uInt part = count > 0x40000000u ? 0x40000000u : (uInt)count;
    crc = (uint32_t)crc32(crc, bytes, part);
    bytes += part;
    count -= part;
  }
  return crc;
}

/* Bit depths a colour type allows, as a bit set over depths 1 to 16; 0 for an
 * undefined colour type. */
static uint32_t kroPNGAllowedDepths(uint8_t colour_type) {
  switch (colour_type) {
  case 0:
    return 1u << 1 | 1u << 2 | 1u << 4 | 1u << 8 | 1u << 16;
  case 3:
    return 1u << 1 | 1u << 2 | 1u << 4 | 1u << 8;
  case 2:
  case 4:
  case 6:
    return 1u << 8 | 1u << 16;
  }
  return 0;
}

/* The allowed depths as "1, 2, 4, 8" into `list` (at least 32 characters). */
static void kroPNGAllowedList(uint8_t colour_type, char *list, size_t chars) {
  size_t used = 0;
  list[0] = '\0';
  for (int depth = 1; depth <= 16; depth++)
    if (kroPNGAllowedDepths(colour_type) >> depth & 1)
      used += (size_t)snprintf(list + used, chars - used, "%s%d", used ? ", " : "", depth);
}

static int kroPNGCheckHeader(kroPNGCheck *check, const uint8_t *h) {
  kroPNGHeader header = kroPNGTakeHeader(h);
  uint32_t width = header.width, height = header.height;
  uint8_t depth = header.depth, colour = header.colour, compression = header.compression,
          filter = header.filter, interlace = header.interlace;
  if (width == 0 || width > KRO_PNG_MAX_LENGTH)
    return kroPNGProblem(check, "IHDR: width %u is outside 1 to 2^31-1", width);
  if (height == 0 || height > KRO_PNG_MAX_LENGTH)
    return kroPNGProblem(check, "IHDR: height %u is outside 1 to 2^31-1", height);
  if (!kroPNGAllowedDepths(colour))
    return kroPNGProblem(check, "IHDR: colour type %u is not defined (0, 2, 3, 4 or 6)", colour);
  if (depth > 16 || !(kroPNGAllowedDepths(colour) >> depth & 1)) {
    char allowed[32];
    kroPNGAllowedList(colour, allowed, sizeof allowed);
    return kroPNGProblem(check, "IHDR: bit depth %u is not allowed for colour type %u (%s)", depth,
                         colour, allowed);
  }
  if (compression != 0)
    return kroPNGProblem(check, "IHDR: compression method %u is not defined (0)", compression);
  if (filter != 0)
    return kroPNGProblem(check, "IHDR: filter method %u is not defined (0)", filter);
  if (interlace > 1)
    return kroPNGProblem(check, "IHDR: interlace method %u is not defined (0 or 1)", interlace);
  check->bit_depth = depth;
  check->colour_type = colour;
  check->seen_header = 1;
  return 0;
}

static int kroPNGCheckPalette(kroPNGCheck *check, uint32_t length) {
  if (check->colour_type == 0 || check->colour_type == 4)
    return kroPNGProblem(check, "PLTE: not allowed for colour type %u", check->colour_type);
  if (check->seen_palette)
    return kroPNGProblem(check, "PLTE: a second palette chunk");
  if (check->data_chunks)
    return kroPNGProblem(check, "PLTE: after the image data");
  if (length == 0 || length % 3 || length / 3 > KRO_PNG_PALETTE_ENTRIES)
    return kroPNGProblem(check, "PLTE: length %u is not 1 to 256 entries of 3 bytes", length);
  uint32_t entries = length / 3;
  if (check->colour_type == 3 && entries > 1u << check->bit_depth)
    return kroPNGProblem(check, "PLTE: %u entries, more than bit depth %u allows", entries,
                         check->bit_depth);
  check->seen_palette = 1;
  return 0;
}

/* The rules that a chunk's type and place decide, before its data is read. */
static int kroPNGCheckPlace(kroPNGCheck *check, const char *type, uint32_t length) {
  int header = !strcmp(type, "IHDR"), palette = !strcmp(type, "PLTE");
  int data = !strcmp(type, "IDAT"), end = !strcmp(type, "IEND");
  if (check->chunks == 1 && !header)
    return kroPNGProblem(check, "%s: the first chunk must be IHDR", type);
  if (header && check->seen_header)
    return kroPNGProblem(check, "IHDR: a second header chunk");
  if (header && length != KRO_PNG_IHDR_BYTES)
    return kroPNGProblem(check, "IHDR: length %u, expected %u", length,
                         (unsigned)KRO_PNG_IHDR_BYTES);
  if (!header && !palette && !data && !end && !(type[0] & 0x20))
    return kroPNGProblem(check, "%s: unknown critical chunk", type);
  if (type[2] & 0x20)
    return kroPNGProblem(check, "%s: reserved bit set (third letter must be upper case)", type);
  if (palette && kroPNGCheckPalette(check, length) != 0)
    return -1;
  if (data) {
    if (check->colour_type == 3 && !check->seen_palette)
      return kroPNGProblem(check, "IDAT: colour type 3 needs a PLTE chunk before the image data");
    if (check->data_ended)
      return kroPNGProblem(check, "IDAT: image data chunks must follow one another");
    check->data_chunks++;
  } else if (check->data_chunks) {
    check->data_ended = 1;
  }
  if (end) {
    if (length != 0)
      return kroPNGProblem(check, "IEND: length %u, expected 0", length);
    if (!check->data_chunks)
      return kroPNGProblem(check, "IEND: no IDAT chunk before the end");
    check->seen_end = 1;
  }
  return 0;
}

/* Reads a chunk's data and CRC and checks the CRC; the first 13 data bytes
 * are kept in `header` (the IHDR chunk's whole data). */
static int kroPNGCheckData(kroPNGCheck *check, const uint8_t *type_bytes, const char *type,
                           uint32_t length, uint8_t *header) {
  uint8_t block[KRO_PNG_CHECK_BLOCK];
  uint32_t crc = kroPNGCRC(0, type_bytes, 4);
  if (!check->file && length <= check->count - check->at) {
    /* In memory: the CRC over the data where it lies, the header copied. */
    const uint8_t *data = check->bytes + check->at;
    memcpy(header, data,
           length < (uint32_t)KRO_PNG_IHDR_BYTES ? length : (uint32_t)KRO_PNG_IHDR_BYTES);
    crc = kroPNGCRC(crc, data, length);
    check->at += length;
    length = 0;
  }
  for (uint32_t done = 0; done < length;) {
    size_t want = length - done < sizeof block ? length - done : sizeof block;
    size_t got = kroPNGCheckRead(check, block, want);
    if (done == 0)
      memcpy(header, block, got < (size_t)KRO_PNG_IHDR_BYTES ? got : (size_t)KRO_PNG_IHDR_BYTES);
    crc = kroPNGCRC(crc, block, got);
    done += (uint32_t)got;
    if (got < want)
      return kroPNGProblem(check, "%s: cut short: %u of %u data bytes", type, done, length);
  }
  uint8_t stored[KRO_PNG_CRC_BYTES];
  if (kroPNGCheckRead(check, stored, sizeof stored) != sizeof stored)
    return kroPNGProblem(check, "%s: cut short in its CRC", type);
  if (kroBig32(stored) != crc)
    return kroPNGProblem(check, "%s: CRC 0x%08X does not match the data (0x%08X)", type,
                         kroBig32(stored), crc);
  return 0;
}

static int kroPNGCheckSignature(kroPNGCheck *check) {
  uint8_t signature[KRO_PNG_SIGNATURE_BYTES];
  size_t got = kroPNGCheckRead(check, signature, sizeof signature);
  for (size_t i = 0; i < got; i++)
    if (signature[i] != kroPNGSignature[i])
      return kroPNGProblem(check, "signature: byte %zu is 0x%02X, expected 0x%02X", i + 1,
                           signature[i], kroPNGSignature[i]);
  if (got < sizeof signature)
    return kroPNGProblem(check, "signature: the file ends after %zu of its 8 bytes", got);
  return 0;
}

static int kroPNGIsLetter(uint8_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

/* One chunk: its length and type, its place, its data and CRC. */
static int kroPNGCheckChunk(kroPNGCheck *check, char *last_type) {
  uint8_t head[KRO_PNG_CHUNK_HEAD_BYTES];
  size_t got = kroPNGCheckRead(check, head, sizeof head);
  if (got == 0 && check->chunks == 0)
    return kroPNGProblem(check, "IHDR: missing: the file ends after the signature");
  if (got == 0)
    return kroPNGProblem(check, "IEND: missing: the file ends after chunk %u (%s)", check->chunks,
                         last_type);
  check->chunks++;
  if (got < sizeof head)
    return kroPNGProblem(check, "chunk %u: cut short in its length and type", check->chunks);
  uint32_t length = kroBig32(head);
  const uint8_t *t = head + 4;
  if (!kroPNGIsLetter(t[0]) || !kroPNGIsLetter(t[1]) || !kroPNGIsLetter(t[2]) ||
      !kroPNGIsLetter(t[3]))
    return kroPNGProblem(check, "chunk %u: type 0x%02X%02X%02X%02X is not four letters",
                         check->chunks, t[0], t[1], t[2], t[3]);
  char type[5] = {(char)t[0], (char)t[1], (char)t[2], (char)t[3], '\0'};
  memcpy(last_type, type, sizeof type);
  if (length > KRO_PNG_MAX_LENGTH)
    return kroPNGProblem(check, "%s: length %u exceeds 2^31-1", type, length);
  uint8_t header[KRO_PNG_IHDR_BYTES] = {0};
  size_t data_at = check->at;
  if (kroPNGCheckPlace(check, type, length) != 0 ||
      kroPNGCheckData(check, t, type, length, header) != 0)
    return -1;
  if (!strcmp(type, "IHDR")) {
    memcpy(check->header, header, sizeof header);
    return kroPNGCheckHeader(check, header);
  }
  if (!strcmp(type, "PLTE")) {
    check->palette_at = data_at;
    check->palette_length = length;
  } else if (!strcmp(type, "tRNS") && !check->data_chunks) {
    check->trns_at = data_at;
    check->trns_length = length;
  } else if (!strcmp(type, "IDAT")) {
    if (check->data_chunks == 1)
      check->first_data = data_at - KRO_PNG_CHUNK_HEAD_BYTES;
    check->data_bytes += length;
  }
  return 0;
}

/* Every byte after the end chunk is a problem. */
static int kroPNGCheckTail(kroPNGCheck *check) {
  uint8_t block[KRO_PNG_CHECK_BLOCK];
  long extra = 0;
  for (size_t got; (got = kroPNGCheckRead(check, block, sizeof block)) > 0;)
    extra += (long)got;
  if (extra)
    return kroPNGProblem(check, "IEND: %ld byte%s after the end chunk", extra,
                         extra == 1 ? "" : "s");
  return 0;
}

static int kroPNGCheckStream(kroPNGCheck *check) {
  char last_type[5] = "";
  if (kroPNGCheckSignature(check) != 0)
    return -1;
  while (!check->seen_end)
    if (kroPNGCheckChunk(check, last_type) != 0)
      return -1;
  return kroPNGCheckTail(check);
}

/* Opens the file for the check; -1 with the reason when it cannot. */
static int kroPNGCheckOpen(kroPNGCheck *check, const char *path) {
  struct stat file_info;
  if (!path)
    return kroPNGProblem(check, "no file named");
  check->file = fopen(path, "rb");
  if (!check->file)
    return kroPNGProblem(check, "%s", strerror(errno));
  if (fstat(fileno(check->file), &file_info) == 0 && S_ISDIR(file_info.st_mode))
    return kroPNGProblem(check, "a folder, not a file");
  return 0;
}

int kroCheckPNG(const char *path, char *why, int why_chars) {
  kroPNGCheck check;
  memset(&check, 0, sizeof check);
  errno = 0;
  int result = kroPNGCheckOpen(&check, path);
  if (result == 0)
    result = kroPNGCheckStream(&check);
  if (check.read_error)
    result = kroPNGProblem(&check, "read error: %s", strerror(check.read_error));
  if (check.file)
    fclose(check.file);
  if (why && why_chars > 0)
    snprintf(why, (size_t)why_chars, "%s", result == 0 ? "" : check.reason);
  return result;
}

/* ---- The decoder: pixels in the engine's bitmap layout ---- */

enum {
  KRO_PNG_PALETTE_MAX = 256,
  KRO_PNG_STRIP_BYTES = 1 << 17, /* filtered rows inflated at a time, at least one row */
  KRO_PNG_SMALLEST_STREAM = 64,  /* bytes of rows any image data may give, whatever its size */
  KRO_PNG_ROW_SLACK = 4 /* bytes after the row buffers that a word read of a last pixel may touch */
};

/* The seven passes of Adam7 interlacing: the first pixel of each and the
 * steps between its pixels. */
typedef struct kroPNGPass {
  uint8_t x, y, dx, dy;
} kroPNGPass;
static const kroPNGPass kroAdam7[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                       {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};

/* The decoder's state: the header, the palette as RGBA words, the
 * transparent colour, and the inflate stream fed chunk by chunk. */
typedef struct kroPNGDecode {
  const uint8_t *bytes;
  size_t count;
  size_t next; /* offset of the next chunk to look at for image data */
  kroPNGHeader h;
  int channels;    /* samples per pixel */
  int pixel_bytes; /* bytes per pixel for the filters, at least 1 */
  uint32_t palette[KRO_PNG_PALETTE_MAX];
  int palette_entries;
  int has_key;     /* tRNS for grey or RGB */
  uint16_t key[3]; /* its samples at the file's depth */
  /* The image data as it is read: what is left of the current chunk, and how many bytes of the
   * chunks have been taken so far (the zlib header included). */
  const uint8_t *in;
  uint32_t in_left;
  uint64_t taken;
  uint8_t *out; /* where the inflater writes, and the bytes left there */
  size_t out_left;
#if defined(KRO_PNG_ISAL)
  inflate_state *z;
#else
  z_stream z;
#endif
  int z_ended;         /* the deflate data has ended */
  uint32_t adler;      /* Adler-32 of the rows inflated so far */
  uint64_t data_bytes; /* the image data chunks' payloads together */
  size_t first_data;   /* where the first image data chunk starts */
} kroPNGDecode;

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

/* The tRNS chunk the format check found before the image data: palette
 * alpha, or the transparent grey or RGB colour. */
static int kroPNGTakeTransparency(kroPNGDecode *d, const kroPNGCheck *check,
                                  kroPictureResult *result) {
  uint32_t length = check->trns_length, colour = d->h.colour;
  const uint8_t *data = d->bytes + check->trns_at;
  if (colour == 3) {
    /* a tRNS chunk before the palette finds no entries to give alpha to */
    int entries = check->trns_at < check->palette_at ? 0 : d->palette_entries;
    if (length > (uint32_t)entries || entries == 0)
      return kroPictureRefuse(result, "tRNS: %u entries, more than the palette's %d", length,
                              entries);
    for (uint32_t i = 0; i < length; i++)
      d->palette[i] = (d->palette[i] & ~kroRGBA(0, 0, 0, 255)) | kroRGBA(0, 0, 0, data[i]);
    return 0;
  }
  if (colour != 0 && colour != 2)
    return kroPictureRefuse(result, "tRNS: not allowed for colour type %u (it has alpha)", colour);
  uint32_t expected = colour == 0 ? 2 : 6;
  if (length != expected)
    return kroPictureRefuse(result, "tRNS: length %u, expected %u for colour type %u", length,
                            expected, colour);
  for (uint32_t i = 0; i < expected / 2; i++)
    d->key[i] = (uint16_t)(data[i * 2] << 8 | data[i * 2 + 1]);
  d->has_key = 1;
  return 0;
}

/* The header, palette and transparency that the format check found before
 * the image data, and where that data starts. */
static int kroPNGTakeChunks(kroPNGDecode *d, const kroPNGCheck *check, kroPictureResult *result) {
  d->h = kroPNGTakeHeader(check->header);
  d->palette_entries = (int)(check->palette_length / 3);
  const uint8_t *data = d->bytes + check->palette_at;
  for (int i = 0; i < d->palette_entries; i++)
    d->palette[i] = kroRGBA(data[i * 3], data[i * 3 + 1], data[i * 3 + 2], 255);
  if (check->trns_at && kroPNGTakeTransparency(d, check, result) != 0)
    return -1;
  d->next = d->first_data = check->first_data;
  d->data_bytes = check->data_bytes;
  d->channels = kroPNGChannels(d->h.colour);
  int bits = d->channels * d->h.depth;
  d->pixel_bytes = bits < 8 ? 1 : bits / 8;
  return 0;
}

/* Hands inflate the next image data chunk; 0 when there is none left. */
static int kroPNGNextData(kroPNGDecode *d) {
  while (d->next + KRO_PNG_CHUNK_HEAD_BYTES <= d->count) {
    uint32_t length = kroBig32(d->bytes + d->next);
    const uint8_t *type = d->bytes + d->next + 4;
    if (memcmp(type, "IDAT", 4) != 0)
      return 0;
    d->in = d->bytes + d->next + KRO_PNG_CHUNK_HEAD_BYTES;
    d->in_left = length;
    d->taken += length;
    d->next += KRO_PNG_CHUNK_HEAD_BYTES + (size_t)length + KRO_PNG_CRC_BYTES;
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
    if (d->in_left == 0 && !kroPNGNextData(d))
      return -1;
    bytes[i] = *d->in++;
    d->in_left--;
  }
  return 0;
}

#if defined(KRO_PNG_ISAL)
/* Back to the image data's first chunk, then past `count` bytes of it. */
static void kroPNGSeekData(kroPNGDecode *d, uint64_t count) {
  d->next = d->first_data, d->in_left = 0, d->taken = 0;
  while (kroPNGNextData(d) && d->taken <= count)
    ;
  uint64_t back = d->taken > count ? d->taken - count : 0; /* what this chunk holds past it */
  d->in += d->in_left - back, d->in_left = (uint32_t)back;
}

static const char *kroPNGInflateReason(int status) {
  switch (status) {
  case ISAL_INVALID_BLOCK:
    return "invalid block";
  case ISAL_INVALID_SYMBOL:
    return "invalid code";
  case ISAL_INVALID_LOOKBACK:
    return "invalid distance too far back";
  }
  return "damaged data";
}

/* The inflater (ISA-L's, about twice as fast as zlib's on image data): raw deflate data. */
static int kroPNGInflateBegin(kroPNGDecode *d) {
  if (!(d->z = (inflate_state *)kroAllocate(sizeof *d->z)))
    return -1;
  isal_inflate_init(d->z);
  d->z->crc_flag = ISAL_DEFLATE;
  return 0;
}

static void kroPNGInflateEnd(kroPNGDecode *d) {
  free(d->z);
}

/* One call: null, or a failure's reason. The inflater reads ahead (up to 8 bytes, which may
 * lie in earlier chunks) into its bit buffer: where the data ended is what was taken less what
 * is left unread and the whole bytes still in that buffer. */
static const char *kroPNGInflateCall(kroPNGDecode *d) {
  inflate_state *z = d->z;
  z->next_in = (uint8_t *)d->in, z->avail_in = d->in_left;
  z->next_out = d->out, z->avail_out = (uint32_t)d->out_left;
  int status = isal_inflate(z);
  d->out = z->next_out, d->out_left = z->avail_out;
  if (status != ISAL_DECOMP_OK)
    return kroPNGInflateReason(status);
  d->z_ended = z->block_state == ISAL_BLOCK_FINISH;
  if (d->z_ended) /* read again from where the data ended: past the whole bytes it holds */
    kroPNGSeekData(d, d->taken - z->avail_in - (uint64_t)(z->read_in_length / 8));
  else
    d->in = z->next_in, d->in_left = z->avail_in;
  return nullptr;
}
#else
/* The inflater (zlib's): raw deflate data. */
static int kroPNGInflateBegin(kroPNGDecode *d) {
  return inflateInit2(&d->z, -15) == Z_OK ? 0 : -1;
}

static void kroPNGInflateEnd(kroPNGDecode *d) {
  inflateEnd(&d->z);
}

/* One call: null, or a failure's reason. */
static const char *kroPNGInflateCall(kroPNGDecode *d) {
  z_stream *z = &d->z;
  z->next_in = (Bytef *)d->in, z->avail_in = d->in_left;
  z->next_out = d->out, z->avail_out = (uInt)d->out_left;
  int status = inflate(z, Z_NO_FLUSH);
  d->in = z->next_in, d->in_left = z->avail_in;
  d->out = z->next_out, d->out_left = z->avail_out;
  if (status == Z_STREAM_END)
    d->z_ended = 1;
  else if (status != Z_OK && status != Z_BUF_ERROR)
    return z->msg ? z->msg : "no message";
  return nullptr;
}
#endif

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

/* One inflate call, fed the next image data chunk when the last one is used
 * up: 0, or -1 after the refusal (`ends` when there is no chunk left). */
static int kroPNGInflateStep(kroPNGDecode *d, const char *ends, kroPictureResult *result) {
  /* With no data left the inflater may still give what it holds (bits read, rows made). */
  const int more = d->in_left > 0 || kroPNGNextData(d);
  const size_t before = d->out_left;
  const char *damage = kroPNGInflateCall(d);
  if (damage)
    return kroPictureRefuse(result, "IDAT: damaged zlib stream (%s)", damage);
  if (!more && !d->z_ended && d->out_left == before)
    return kroPictureRefuse(result, "IDAT: %s", ends);
  return 0;
}

/* Exactly `count` bytes of the inflated stream into out; -1 with the reason
 * when the stream is damaged or ends first. */
static int kroPNGInflate(kroPNGDecode *d, uint8_t *out, size_t count, kroPictureResult *result) {
  d->out = out;
  d->out_left = count;
  while (d->out_left > 0) {
    if (kroPNGInflateStep(d, "the image data ends before the last row", result) != 0)
      return -1;
    if (d->z_ended && d->out_left > 0)
      return kroPictureRefuse(result, "IDAT: the zlib stream ends before the last row");
  }
  d->adler = kroAdler32(d->adler, out, count);
  return 0;
}

/* After the last row the stream must end, its checksum right, with no
 * further image bytes. */
static int kroPNGFinish(kroPNGDecode *d, kroPictureResult *result) {
  uint8_t extra;
  while (!d->z_ended) {
    d->out = &extra;
    d->out_left = 1;
    if (kroPNGInflateStep(d, "the zlib stream is cut short after the last row", result) != 0)
      return -1;
    if (d->out_left == 0)
      return kroPictureRefuse(result, "IDAT: more image data than the picture's rows");
  }
  uint8_t stored[4];
  if (kroPNGTake(d, stored, 4) != 0)
    return kroPictureRefuse(result, "IDAT: the zlib stream is cut short in its checksum");
  uint32_t adler = kroBig32(stored);
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
  int depth = d->h.depth, shift = depth == 16 ? 8 : 0;
  switch (d->h.colour) {
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
  return ((size_t)pixels * (size_t)d->channels * d->h.depth + 7) / 8;
}

#if !defined(__SSE2__)
/* 8-bit RGBA without interlacing: each row is inflated into its place in the
 * bitmap and unfiltered there against the row above it, which the bitmap
 * holds one row further on. */
static int kroPNGDecodeDirect(kroPNGDecode *d, uint8_t *pixels, kroPictureResult *result) {
  size_t stride = (size_t)d->h.width * 4;
  for (uint32_t y = 0; y < d->h.height; y++) {
    uint8_t filter;
    uint8_t *row = pixels + (size_t)(d->h.height - 1 - y) * stride;
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
  int rgba = d->h.colour == 6;
  size_t row_bytes = (size_t)d->h.width * (rgba ? 4 : 3) + 1, stride = (size_t)d->h.width * 4;
  size_t strip_rows = KRO_PNG_STRIP_BYTES / row_bytes ? KRO_PNG_STRIP_BYTES / row_bytes : 1;
  if (strip_rows > d->h.height)
    strip_rows = d->h.height;
  uint8_t *strip = (uint8_t *)kroAllocate(strip_rows * row_bytes + KRO_PNG_ROW_SLACK);
  if (!strip)
    return kroPictureRefuse(result, "out of memory");
  int failed = 0;
  for (uint32_t y = 0; y < d->h.height && !failed;) {
    size_t rows = d->h.height - y < strip_rows ? d->h.height - y : strip_rows;
    failed = kroPNGInflate(d, strip, rows * row_bytes, result);
    for (size_t r = 0; r < rows && !failed; r++, y++) {
      const uint8_t *raw = strip + r * row_bytes;
      uint8_t *out = pixels + (size_t)(d->h.height - 1 - y) * stride;
      if (raw[0] > 4)
        failed =
            kroPictureRefuse(result, "IDAT: row filter type %d is not defined (0 to 4)", raw[0]);
      else
        unfilter[rgba][y ? raw[0] : first_row[raw[0]]](raw + 1, y ? out + stride : nullptr, out,
                                                       d->h.width);
    }
  }
  free(strip);
  return failed ? -1 : 0;
}
#endif

/* Any other kind: rows go through two row buffers and are widened into the
 * bitmap, pass by pass for interlaced files. */
static int kroPNGDecodeRows(kroPNGDecode *d, uint8_t *pixels, kroPictureResult *result) {
  size_t row_bytes = kroPNGRowBytes(d, d->h.width) + 1;
  /* The widened row of a pass starts on a 4-byte boundary: it is written a word at a time. */
  size_t wide_at = (row_bytes * 2 + KRO_PNG_ROW_SLACK + 3) & ~(size_t)3;
  uint8_t *buffer = (uint8_t *)kroAllocate(wide_at + (d->h.interlace ? (size_t)d->h.width * 4 : 0));
  if (!buffer)
    return kroPictureRefuse(result, "out of memory");
  uint8_t *current = buffer, *previous = buffer + row_bytes, *wide = buffer + wide_at;
  size_t stride = (size_t)d->h.width * 4;
  int passes = d->h.interlace ? 7 : 1, failed = 0;
  for (int pass = 0; pass < passes && !failed; pass++) {
    uint32_t x0 = 0, y0 = 0, dx = 1, dy = 1;
    if (d->h.interlace) {
      x0 = kroAdam7[pass].x, y0 = kroAdam7[pass].y, dx = kroAdam7[pass].dx, dy = kroAdam7[pass].dy;
    }
    if (x0 >= d->h.width || y0 >= d->h.height)
      continue; /* an empty pass has no rows, not even filter bytes */
    uint32_t columns = (d->h.width - x0 + dx - 1) / dx;
    size_t bytes = kroPNGRowBytes(d, columns);
    int first = 1;
    for (uint32_t y = y0; y < d->h.height && !failed; y += dy) {
      uint8_t *out = pixels + (size_t)(d->h.height - 1 - y) * stride;
      failed = kroPNGInflate(d, current, bytes + 1, result) != 0 ||
               kroUnfilterRow(current[0], current + 1, first ? nullptr : previous + 1, bytes,
                              d->pixel_bytes, result) != 0 ||
               kroPNGWiden(d, current + 1, columns, d->h.interlace ? wide : out, result) != 0;
      if (!failed && d->h.interlace)
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
  if (!d->h.interlace)
    return (uint64_t)d->h.height * (kroPNGRowBytes(d, d->h.width) + 1);
  uint64_t bytes = 0;
  for (const kroPNGPass &p : kroAdam7)
    if (d->h.width > p.x && d->h.height > p.y)
      bytes += (uint64_t)((d->h.height - p.y + p.dy - 1) / p.dy) *
               (kroPNGRowBytes(d, (d->h.width - p.x + p.dx - 1) / p.dx) + 1);
  return bytes;
}

uint8_t *kroDecodePNGMemory(const uint8_t *bytes, size_t count, int32_t *size,
                            kroPictureResult *result) {
  kroPNGCheck check = {};
  check.bytes = bytes, check.count = count;
  if (kroPNGCheckStream(&check) != 0) {
    kroPictureRefuse(result, "%s", check.reason);
    return nullptr;
  }
  kroPNGDecode d;
  memset(&d, 0, sizeof d);
  d.bytes = bytes;
  d.count = count;
  if (kroPNGTakeChunks(&d, &check, result) != 0)
    return nullptr;
  int alpha_palette = 0;
  for (int i = 0; i < d.palette_entries; i++)
    alpha_palette |= (d.palette[i] & kroRGBA(0, 0, 0, 255)) != kroRGBA(0, 0, 0, 255);
  kroPictureDescribe(result, "PNG, %s, %u bit%s%s%s", kroPNGColourName(d.h.colour), d.h.depth,
                     d.h.depth == 1 ? "" : "s", d.has_key || alpha_palette ? ", transparency" : "",
                     d.h.interlace ? ", interlaced" : "");
  if (result->info) {
    result->info->reduced_16_bit = d.h.depth == 16;
    result->info->transparent_possible =
        d.has_key || alpha_palette || d.h.colour == 4 || d.h.colour == 6;
  }
  if (kroPictureSizeRefused(result, "IHDR", d.h.width, d.h.height) != 0)
    return nullptr;
  uint64_t raw = kroPNGRawBytes(&d);
  if (raw > d.data_bytes * KRO_PICTURE_MOST_INFLATE_RATIO + KRO_PNG_SMALLEST_STREAM) {
    kroPictureRefuse(result,
                     "IDAT: %llu bytes of image data cannot inflate to the %llu bytes of rows "
                     "that %u x %u pixels need",
                     (unsigned long long)d.data_bytes, (unsigned long long)raw, d.h.width,
                     d.h.height);
    return nullptr;
  }
  uint8_t *pixels = (uint8_t *)kroAllocate((size_t)d.h.width * d.h.height * 4);
  if (!pixels) {
    kroPictureRefuse(result, "out of memory");
    return nullptr;
  }
  if (kroPNGInflateBegin(&d) != 0) {
    free(pixels);
    kroPictureRefuse(result, "out of memory");
    return nullptr;
  }
  int failed = kroPNGStart(&d, result);
  if (failed)
    ;
#if defined(__SSE2__)
  else if ((d.h.colour == 6 || (d.h.colour == 2 && !d.has_key)) && d.h.depth == 8 && !d.h.interlace)
    failed = kroPNGDecodeStrips(&d, pixels, result);
#else
  else if (d.h.colour == 6 && d.h.depth == 8 && !d.h.interlace)
    failed = kroPNGDecodeDirect(&d, pixels, result);
#endif
  else
    failed = kroPNGDecodeRows(&d, pixels, result);
  if (!failed)
    failed = kroPNGFinish(&d, result);
  kroPNGInflateEnd(&d);
  if (failed) {
    free(pixels);
    return nullptr;
  }
  size[0] = (int32_t)d.h.width;
  size[1] = (int32_t)d.h.height;
  return pixels;
}
