/*
 * What every picture reader shares: a picture file read whole into memory,
 * the decoders' refusal reasons and descriptions, and the size a picture may
 * have before its pixels are allocated.
 * Depends on: kro_error.cpp (allocation).
 */
#include "kro.h"
#include "kro_internal.h"

#include <errno.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

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

int kroPictureSizeRefused(kroPictureResult *result, const char *format, int64_t width,
                          int64_t height) {
  if (width * height > KRO_BMP_MAX_PIXELS)
    return kroPictureRefuse(result, "%s: %lld x %lld pixels, more than the engine takes (%d)",
                            format, (long long)width, (long long)height, KRO_BMP_MAX_PIXELS);
  if (result->most_side > 0 && (width > result->most_side || height > result->most_side)) {
    result->too_large[0] = (int32_t)width;
    result->too_large[1] = (int32_t)height;
    return kroPictureRefuse(result, "%s: %lld x %lld pixels, more than %d a side", format,
                            (long long)width, (long long)height, (int)result->most_side);
  }
  return 0;
}

kroPictureRead kroReadPictureFile(const char *path, long most_bytes, uint8_t **bytes,
                                  size_t *count) {
  *bytes = nullptr;
  *count = 0;
  FILE *file = path ? fopen(path, "rb") : nullptr;
  if (!file)
    return path ? KRO_PICTURE_READ_CANNOT_OPEN : KRO_PICTURE_READ_NO_NAME;
  struct stat file_info;
  long size = -1;
  kroPictureRead status = KRO_PICTURE_READ_OK;
  if (fstat(fileno(file), &file_info) == 0 && S_ISDIR(file_info.st_mode))
    status = KRO_PICTURE_READ_FOLDER;
  else if ((size = kroStreamBytes(file)) < 0)
    status = KRO_PICTURE_READ_NO_SIZE;
  else if (size > most_bytes)
    status = KRO_PICTURE_READ_TOO_LARGE, *count = (size_t)size;
  else if (!(*bytes = (uint8_t *)kroAllocate((size_t)size)))
    status = KRO_PICTURE_READ_NO_MEMORY;
  if (status == KRO_PICTURE_READ_OK) {
    *count = fread(*bytes, 1, (size_t)size, file);
    if (ferror(file)) {
      status = KRO_PICTURE_READ_ERROR;
      free(*bytes);
      *bytes = nullptr;
      *count = 0;
    }
  }
  int error = errno;
  fclose(file);
  errno = error;
  return status;
}
