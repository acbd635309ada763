#include "support.h"

#include <stdlib.h>
#include <unistd.h>

const char *kroFuzzWriteFile(const uint8_t *data, size_t size) {
  static char path[64];
  if (!path[0])
    snprintf(path, sizeof path, "/tmp/kro-fuzz-%d", (int)getpid());
  FILE *file = fopen(path, "wb");
  if (!file)
    abort();
  if (size)
    fwrite(data, 1, size, file);
  fclose(file);
  return path;
}

FILE *kroFuzzOpenStream(const uint8_t *data, size_t size) {
  // fmemopen refuses a zero-sized buffer: an empty stream is /dev/null.
  return size ? fmemopen((void *)data, size, "r") : fopen("/dev/null", "r");
}

FILE *kroFuzzOpenPipe(const uint8_t *data, size_t size) {
  int ends[2];
  if (size > 65536 || pipe(ends) != 0)
    return nullptr;
  bool written = write(ends[1], data, size) == (ssize_t)size;
  close(ends[1]);
  FILE *stream = written ? fdopen(ends[0], "r") : nullptr;
  if (!stream)
    close(ends[0]);
  return stream;
}

void kroFuzzQuiet(void) {
  static bool done = false;
  if (!done && !getenv("KRO_FUZZ_VERBOSE"))
    freopen("/dev/null", "w", stdout);
  done = true;
}
