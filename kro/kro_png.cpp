/*
 * PNG container reader: checks the signature, walks the chunks, takes the
 * size from IHDR and gathers the image data (IDAT) payloads, in file order,
 * still compressed. No CRC is checked and nothing is inflated.
 * Depends on: kro_error.cpp (allocation, failure reporting).
 */
#include "kro.h"
#include "kro_internal.h"

#include <stdlib.h>
#include <string.h>

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
