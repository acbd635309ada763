/*
 * PNG container reader: checks the signature, walks the chunks, takes the
 * size from IHDR and gathers the image data (IDAT) payloads, in file order,
 * still compressed. The reader checks no CRC and inflates nothing; the
 * separate format check (kroCheckPNG) checks every CRC and every rule of the
 * chunk sequence and the header, and reports nothing; the picture decoder
 * (kro_picture.cpp) runs the same check over a file in memory.
 * Depends on: kro_error.cpp (allocation, failure reporting), zlib (CRC-32).
 */
#include "kro.h"
#include "kro_internal.h"

#include <errno.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <zlib.h>

enum {
  KRO_PNG_SIGNATURE_BYTES = 8, /* only the first 4 are examined */
  KRO_PNG_IHDR_BYTES = 13,
  KRO_PNG_CRC_BYTES = 4,
  KRO_PNG_CHUNK_HEAD_BYTES = 8 /* length and type */
};

static uint32_t kroBig32(const uint8_t *b) {
  return (uint32_t)b[0] << 24 | (uint32_t)b[1] << 16 | (uint32_t)b[2] << 8 | (uint32_t)b[3];
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

static int kroPNGHeader(kroPNGWalk *walk, uint32_t length, kroPNGInfo *info, int32_t *size) {
  uint8_t h[KRO_PNG_IHDR_BYTES];
  if (walk->have_header)
    return kroPNGRefuse(walk, "second IHDR chunk");
  if (length != KRO_PNG_IHDR_BYTES || kroPNGRead(walk, h, KRO_PNG_IHDR_BYTES) != 0)
    return kroPNGRefuse(walk, "bad IHDR chunk");
  uint32_t width = kroBig32(h), height = kroBig32(h + 4);
  if (width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX)
    return kroPNGRefuse(walk, "bad image size");
  info->width = size[0] = (int32_t)width;
  info->height = size[1] = (int32_t)height;
  info->bit_depth = h[8];
  info->color_type = h[9];
  info->compression = h[10];
  info->filter = h[11];
  info->interlace = h[12];
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
  static const uint8_t png[4] = {137, 80, 78, 71};
  if (kroPNGRead(walk, signature, sizeof signature) != 0 || memcmp(signature, png, 4) != 0) {
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
      failed = kroPNGHeader(walk, length, info, size);
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

static const uint8_t kroPNGSignature[KRO_PNG_SIGNATURE_BYTES] = {0x89, 'P',  'N',  'G',
                                                                 '\r', '\n', 0x1A, '\n'};

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
  uint32_t width = kroBig32(h), height = kroBig32(h + 4);
  uint8_t depth = h[8], colour = h[9], compression = h[10], filter = h[11], interlace = h[12];
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
  if (kroPNGCheckPlace(check, type, length) != 0 ||
      kroPNGCheckData(check, t, type, length, header) != 0)
    return -1;
  return !strcmp(type, "IHDR") ? kroPNGCheckHeader(check, header) : 0;
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

int kroCheckPNGMemory(const uint8_t *bytes, size_t count, char *why, int why_chars) {
  kroPNGCheck check;
  memset(&check, 0, sizeof check);
  check.bytes = bytes;
  check.count = count;
  int result = kroPNGCheckStream(&check);
  if (why && why_chars > 0)
    snprintf(why, (size_t)why_chars, "%s", result == 0 ? "" : check.reason);
  return result;
}
