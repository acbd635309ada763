/*
 * The Linux calls the engine makes that a web page's C library (emscripten's, on its in-memory
 * file system) does not have, answered as a Linux file system without them answers: no change
 * notices (the shader watch falls back on the files' stamps) and no extended attributes.
 * Compiled to nothing outside emcc builds.
 */
#ifdef __EMSCRIPTEN__
#include <errno.h>
#include <stdint.h>
#include <sys/types.h>

extern "C" {

int inotify_init1(int) {
  errno = ENOSYS;
  return -1;
}

int inotify_add_watch(int, const char *, uint32_t) {
  errno = ENOSYS;
  return -1;
}

ssize_t llistxattr(const char *, char *, size_t) {
  errno = ENOTSUP;
  return -1;
}
}
#endif
