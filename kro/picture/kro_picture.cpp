/*
 * Pictures: PNG and BMP files decoded into the engine's bitmap layout. The
 * whole file is read into memory and told apart by its first bytes; the
 * decoders are kro_png.cpp's and kro_bmp.cpp's.
 * Depends on: kro_png.cpp, kro_bmp.cpp, kro_picture_file.cpp (reading the
 * file), kro_error.cpp (failure reporting).
 */
#include "kro.h"
#include "kro_internal.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

/* The picture of a file in memory, told apart by its first bytes. */
static uint8_t *kroDecodeBytes(const uint8_t *bytes, size_t count, int32_t *size,
                               kroPictureResult *result) {
  uint8_t *pixels = nullptr;
  if (count >= 2 && bytes[0] == 'B' && bytes[1] == 'M')
    pixels = kroDecodeBMPMemory(bytes, count, size, result);
  else if (count >= 1 && (bytes[0] == 0x89 || (count >= 4 && !memcmp(bytes + 1, "PNG", 3))))
    /* a PNG signature with one byte wrong gets the check's precise reason */
    pixels = kroDecodePNGMemory(bytes, count, size, result);
  else
    kroPictureRefuse(result, "neither a PNG nor a BMP file (unknown first bytes)");
  if (result->info) {
    result->info->width = pixels ? size[0] : 0;
    result->info->height = pixels ? size[1] : 0;
  }
  if (!pixels)
    size[0] = size[1] = 0;
  return pixels;
}

/* Sets up a result: no reason, no description, no size yet. */
static kroPictureResult kroPictureStart(int32_t *size, kroPictureInfo *info, char *why,
                                        int why_chars) {
  kroPictureResult result = {why, why_chars, info, 0, {0, 0}};
  size[0] = size[1] = 0;
  if (why && why_chars > 0)
    why[0] = '\0';
  if (info)
    memset(info, 0, sizeof *info);
  return result;
}

uint8_t *kroDecodePictureMemory(const uint8_t *bytes, size_t count, int32_t *size,
                                kroPictureInfo *info, char *why, int why_chars) {
  kroPictureResult result = kroPictureStart(size, info, why, why_chars);
  return kroDecodeBytes(bytes, count, size, &result);
}

/* The picture of a file read whole. */
static uint8_t *kroDecodeFile(const char *path, int32_t *size, kroPictureResult *result) {
  uint8_t *bytes;
  size_t count;
  switch (kroReadPictureFile(path, KRO_PICTURE_MAX_FILE_BYTES, &bytes, &count)) {
  case KRO_PICTURE_READ_OK:
    break;
  case KRO_PICTURE_READ_NO_NAME:
    kroPictureRefuse(result, "no file named");
    return nullptr;
  case KRO_PICTURE_READ_CANNOT_OPEN:
    kroPictureRefuse(result, "%s", strerror(errno));
    return nullptr;
  case KRO_PICTURE_READ_FOLDER:
    kroPictureRefuse(result, "a folder, not a file");
    return nullptr;
  case KRO_PICTURE_READ_NO_SIZE:
    kroPictureRefuse(result, "cannot tell the file's size");
    return nullptr;
  case KRO_PICTURE_READ_TOO_LARGE:
    kroPictureRefuse(result, "%zu bytes, more than the %d a picture file may have", count,
                     KRO_PICTURE_MAX_FILE_BYTES);
    return nullptr;
  case KRO_PICTURE_READ_NO_MEMORY:
    kroPictureRefuse(result, "out of memory");
    return nullptr;
  case KRO_PICTURE_READ_ERROR:
    kroPictureRefuse(result, "read error: %s", strerror(errno));
    return nullptr;
  }
  uint8_t *pixels = kroDecodeBytes(bytes, count, size, result);
  free(bytes);
  return pixels;
}

uint8_t *kroDecodePictureInfo(const char *path, int32_t *size, kroPictureInfo *info, char *why,
                              int why_chars) {
  kroPictureResult result = kroPictureStart(size, info, why, why_chars);
  return kroDecodeFile(path, size, &result);
}

uint8_t *kroDecodePicture(const char *path, int32_t *size, char *why, int why_chars) {
  return kroDecodePictureInfo(path, size, nullptr, why, why_chars);
}

uint8_t *kroLoadPictureAtMost(const char *path, int32_t *size, int32_t most_side,
                              int32_t *too_large) {
  char why[KRO_PICTURE_REASON_CHARS];
  kroPictureResult result = kroPictureStart(size, nullptr, why, sizeof why);
  result.most_side = most_side;
  uint8_t *pixels = kroDecodeFile(path, size, &result);
  too_large[0] = result.too_large[0];
  too_large[1] = result.too_large[1];
  if (!pixels && !too_large[0])
    kroFail("Error in reading picture from %s in function kroLoadPicture(..): %s\n",
            path ? path : "(null)", why);
  return pixels;
}

uint8_t *kroLoadPicture(const char *path, int32_t *size) {
  int32_t too_large[2];
  return kroLoadPictureAtMost(path, size, 0, too_large);
}
