/*
 * Output files: every file is written to a new file beside its destination
 * and renamed over it only once every byte has gone out, so that a failed or
 * interrupted write never leaves a cut file and a destination is either
 * wholly replaced or as it was.
 * Depends on: kro_error.cpp (allocation), the POSIX file calls.
 */
#include "kro.h"
#include "kro_internal.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

enum {
  KRO_OUT_LINK_HOPS = 40,     /* links followed before giving up, as the system does */
  KRO_OUT_NAME_KEPT = 32,     /* characters of the destination's name in the new file's */
  KRO_OUT_RANDOM_CHARS = 6,   /* random characters that make the new file's name unique */
  KRO_OUT_NAME_ATTEMPTS = 100 /* names tried before giving up */
};

/* The new file's descriptor and the first write error, behind the stream. */
struct kroOutFileSink {
  int fd;
  int error; /* errno value, 0 while none */
};

/* ---- the stream ---------------------------------------------------------- */

/* Writes all of it or records why not; returns what stdio counts as written. */
static ssize_t kroSinkWrite(void *cookie, const char *data, size_t bytes) {
  kroOutFileSink *sink = (kroOutFileSink *)cookie;
  for (size_t done = 0; done < bytes;) {
    ssize_t wrote = write(sink->fd, data + done, bytes - done);
    if (wrote < 0 && errno == EINTR)
      continue;
    if (wrote <= 0) {
      if (!sink->error)
        sink->error = wrote < 0 ? errno : EIO;
      return 0; /* stdio marks the stream as failed */
    }
    done += (size_t)wrote;
  }
  return (ssize_t)bytes;
}

static int kroSinkClose(void *cookie) {
  kroOutFileSink *sink = (kroOutFileSink *)cookie;
  if (close(sink->fd) != 0 && !sink->error)
    sink->error = errno;
  return sink->error ? -1 : 0;
}

/* A stream on fd that keeps the system's reason for a failed write; the
 * descriptor is closed whatever happens. Null with errno on failure. */
static FILE *kroOpenSink(int fd, kroOutFileSink **sink) {
  *sink = (kroOutFileSink *)kroAllocate(sizeof **sink);
  if (!*sink) {
    close(fd);
    errno = ENOMEM;
    return nullptr;
  }
  (*sink)->fd = fd;
  (*sink)->error = 0;
  cookie_io_functions_t functions = {nullptr, kroSinkWrite, nullptr, kroSinkClose};
  FILE *file = fopencookie(*sink, "w", functions);
  if (!file) {
    int error = errno;
    close(fd);
    free(*sink);
    *sink = nullptr;
    errno = error;
  }
  return file;
}

/* ---- names ---------------------------------------------------------------- */

/* Copies text into a KRO_OUT_PATH_CHARS buffer; 0, or ENAMETOOLONG. */
static int kroCopyPath(char *buffer, const char *text) {
  size_t length = strlen(text);
  if (length >= KRO_OUT_PATH_CHARS)
    return ENAMETOOLONG;
  memcpy(buffer, text, length + 1);
  return 0;
}

/* Follows symbolic links from path to the file that is finally meant, which
 * need not exist. `info` gets its lstat when `exists`. 0, or an errno value. */
static int kroFollowLinks(const char *path, char *target, struct stat *info, int *exists) {
  int error = kroCopyPath(target, path);
  if (error)
    return error;
  for (int hops = 0;; hops++) {
    if (lstat(target, info) != 0) {
      *exists = 0;
      return errno == ENOENT ? 0 : errno;
    }
    *exists = 1;
    if (!S_ISLNK(info->st_mode))
      return 0;
    if (hops == KRO_OUT_LINK_HOPS)
      return ELOOP;
    char link[KRO_OUT_PATH_CHARS];
    ssize_t length = readlink(target, link, sizeof link - 1);
    if (length < 0)
      return errno;
    link[length] = '\0';
    /* A relative link is read from the folder that holds it. */
    const char *slash = strrchr(target, '/');
    size_t folder = link[0] == '/' || !slash ? 0 : (size_t)(slash - target) + 1;
    if (folder + (size_t)length >= KRO_OUT_PATH_CHARS)
      return ENAMETOOLONG;
    memcpy(target + folder, link, (size_t)length + 1);
  }
}

/* Random letters and digits for a new file's name. */
static void kroRandomName(char *out, int count) {
  static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static uint64_t state = 0;
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  state += 0x9E3779B97F4A7C15u ^ (uint64_t)now.tv_nsec ^ (uint64_t)getpid() << 32;
  uint64_t mixed = state;
  mixed = (mixed ^ (mixed >> 30)) * 0xBF58476D1CE4E5B9u;
  mixed = (mixed ^ (mixed >> 27)) * 0x94D049BB133111EBu;
  mixed ^= mixed >> 31;
  for (int i = 0; i < count; i++, mixed /= 62)
    out[i] = letters[mixed % 62];
  out[count] = '\0';
}

/* Creates a new, empty file ".<name>.XXXXXX" in the folder of target: never
 * an existing file, never through a link (O_EXCL). Its permission bits are
 * 0666 less the umask. The descriptor, or -1 with errno and temporary "". */
static int kroCreateBeside(const char *target, char *temporary) {
  const char *slash = strrchr(target, '/');
  size_t folder = slash ? (size_t)(slash - target) + 1 : 0;
  size_t kept = strlen(target + folder);
  if (kept > KRO_OUT_NAME_KEPT)
    kept = KRO_OUT_NAME_KEPT;
  if (folder + kept + KRO_OUT_RANDOM_CHARS + 3 > KRO_OUT_PATH_CHARS) {
    errno = ENAMETOOLONG;
    return -1;
  }
  memcpy(temporary, target, folder);
  temporary[folder] = '.';
  memcpy(temporary + folder + 1, target + folder, kept);
  temporary[folder + 1 + kept] = '.';
  char *random = temporary + folder + kept + 2;
  for (int attempt = 0; attempt < KRO_OUT_NAME_ATTEMPTS; attempt++) {
    kroRandomName(random, KRO_OUT_RANDOM_CHARS);
    int fd = open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0)
      return fd;
    if (errno != EEXIST)
      break;
  }
  int error = errno;
  temporary[0] = '\0';
  errno = error;
  return -1;
}

/* The replacement takes the place of the file it replaces as that stood: its
 * owner where the system allows it (best effort), then its permission bits.
 * 0, or -1 with errno. */
static int kroTakeOwnerAndMode(int fd, const struct stat *info) {
  int owned = fchown(fd, info->st_uid, info->st_gid);
  (void)owned;
  return fchmod(fd, info->st_mode & 07777);
}

static void kroRemoveTemporary(kroOutFile *out) {
  if (out->temporary[0])
    unlink(out->temporary);
  out->temporary[0] = '\0';
}

/* ---- begin, commit, abort ------------------------------------------------- */

/* Opens the stream on a new file, or on the destination itself when that is
 * not a regular file; 0, or an errno value. */
static int kroOpenOutFile(kroOutFile *out, const struct stat *info, int exists) {
  int direct = exists && !S_ISREG(info->st_mode);
  int fd = direct ? open(out->target, O_WRONLY | O_NOCTTY | O_CLOEXEC)
                  : kroCreateBeside(out->target, out->temporary);
  if (fd < 0)
    return errno;
  if (!direct && exists && kroTakeOwnerAndMode(fd, info) != 0) {
    int error = errno;
    close(fd);
    return error;
  }
  out->file = kroOpenSink(fd, &out->sink);
  return out->file ? 0 : errno;
}

int kroBeginOutFile(kroOutFile *out, const char *path) {
  out->file = nullptr;
  out->sink = nullptr;
  out->target[0] = out->temporary[0] = '\0';
  struct stat info;
  int exists = 0;
  out->error = kroFollowLinks(path, out->target, &info, &exists);
  if (!out->error && exists && S_ISDIR(info.st_mode))
    out->error = EISDIR;
  if (!out->error)
    out->error = kroOpenOutFile(out, &info, exists);
  if (out->error)
    kroRemoveTemporary(out);
  return out->error ? -1 : 0;
}

/* Flushes and closes the stream; 0, or -1 with out->error set. */
static int kroCloseOutFile(kroOutFile *out) {
  if (!out->file) {
    if (!out->error)
      out->error = EBADF;
    return -1;
  }
  int failed = fflush(out->file) != 0 || ferror(out->file);
  failed = fclose(out->file) != 0 || failed;
  out->file = nullptr;
  if (failed && !out->error)
    out->error = out->sink->error ? out->sink->error : EIO;
  free(out->sink);
  out->sink = nullptr;
  return failed ? -1 : 0;
}

int kroCommitOutFiles(kroOutFile *outs, int count) {
  int failed = 0;
  for (int i = 0; i < count; i++)
    failed = kroCloseOutFile(&outs[i]) != 0 || failed;
  /* Every new file is whole before the first rename. */
  for (int i = 0; i < count && !failed; i++) {
    if (!outs[i].temporary[0])
      continue;
    if (rename(outs[i].temporary, outs[i].target) != 0) {
      outs[i].error = errno;
      failed = 1;
    } else {
      outs[i].temporary[0] = '\0';
    }
  }
  for (int i = 0; i < count && failed; i++)
    kroRemoveTemporary(&outs[i]);
  return failed ? -1 : 0;
}

int kroCommitOutFile(kroOutFile *out) {
  return kroCommitOutFiles(out, 1);
}

void kroAbortOutFile(kroOutFile *out) {
  if (out->file)
    fclose(out->file);
  out->file = nullptr;
  if (out->sink && out->sink->error && !out->error)
    out->error = out->sink->error;
  free(out->sink);
  out->sink = nullptr;
  kroRemoveTemporary(out);
}
