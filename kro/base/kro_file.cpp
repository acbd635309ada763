/*
 * Output files. One rule for every file the engine writes, the one careful
 * editors follow: the new content is written beside the destination and
 * renamed over it when that keeps everything a user sees about the file (its
 * one name, owner, group, permission bits; a symbolic link stays a link);
 * otherwise the existing file is written in place at the commit, its old
 * content kept in memory and put back when the write fails. Whether a file may
 * be written at all is the file's own permission, as for the shell's `>`. A
 * path naming an open descriptor writes to that descriptor as it stands;
 * other devices and pipes are written directly.
 * A small fixed registry of the files in flight lets a signal handler remove
 * new files and put old content back without allocating anything.
 * Depends on: kro_error.cpp (allocation), the POSIX file and signal calls.
 */
#include "kro.h"
#include "kro_internal.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

enum {
  KRO_OUT_LINK_HOPS = 40,      /* links followed before giving up, as the system does */
  KRO_OUT_NAME_KEPT = 32,      /* characters of the destination's name in the new file's */
  KRO_OUT_RANDOM_CHARS = 6,    /* random characters that make the new file's name unique */
  KRO_OUT_NAME_ATTEMPTS = 100, /* names tried before giving up */
  KRO_OUT_SIGNAL_SLOTS = 64,   /* files in flight a signal handler can clean up */
  KRO_OUT_READ_CHUNK = 65536   /* bytes read at a time when keeping old content */
};

/* How the content reaches the destination. */
enum kroOutWay {
  KRO_OUT_RENAME,   /* a new file beside it, renamed over it */
  KRO_OUT_IN_PLACE, /* the existing file rewritten at the commit, old content kept */
  KRO_OUT_DIRECT    /* a descriptor, device or pipe written at the commit */
};

/* Stages of a commit, as a signal handler needs to know them. */
enum { KRO_OUT_OPEN, KRO_OUT_APPLYING, KRO_OUT_APPLIED, KRO_OUT_DONE };

/* Everything behind the stream of one out file. */
struct kroOutFileSink {
  int fd;    /* the new file (rename) or the destination (in place, direct) */
  int error; /* errno value of the first failed write, 0 while none */
  int way;
  int existed;                        /* rename: the destination existed */
  int moved;                          /* rename: backup is the old file's only name */
  volatile sig_atomic_t stage;        /* KRO_OUT_OPEN .. KRO_OUT_DONE */
  char *data;                         /* in place, direct: the new content, until the commit */
  size_t size, capacity;              /* bytes of data */
  char *old;                          /* in place: the old content; null when it cannot be read */
  size_t old_size;                    /* bytes of old */
  char temporary[KRO_OUT_PATH_CHARS]; /* rename: the new file until renamed, or "" */
  char backup[KRO_OUT_PATH_CHARS];    /* rename: the old file's second name while a
                                         commit of several files runs, or "" */
  char target[KRO_OUT_PATH_CHARS];    /* the destination, links followed */
};

/* ---- the registry a signal handler reads ---------------------------------- */

static kroOutFileSink *volatile kroOutSlots[KRO_OUT_SIGNAL_SLOTS];
static int kroOutOpenCount; /* out files between begin and the end */

/* The fatal signals a write itself can raise: a file size limit passed
 * (SIGXFSZ), a pipe or socket without reader (SIGPIPE). While out files are
 * open they are ignored, so that such a write fails (EFBIG, EPIPE) and the
 * commit is undone instead of the program ending halfway. */
static const int kroOutWriteSignals[] = {SIGXFSZ, SIGPIPE};
static struct sigaction kroOutSavedActions[2]; /* their actions before the first begin */

static void kroRegister(kroOutFileSink *sink) {
  for (int i = 0; i < KRO_OUT_SIGNAL_SLOTS; i++)
    if (!kroOutSlots[i]) {
      kroOutSlots[i] = sink;
      break;
    }
  if (kroOutOpenCount++ == 0) {
    struct sigaction ignore;
    memset(&ignore, 0, sizeof ignore);
    ignore.sa_handler = SIG_IGN;
    for (int i = 0; i < 2; i++)
      sigaction(kroOutWriteSignals[i], &ignore, &kroOutSavedActions[i]);
  }
}

static void kroUnregister(kroOutFileSink *sink) {
  for (int i = 0; i < KRO_OUT_SIGNAL_SLOTS; i++)
    if (kroOutSlots[i] == sink)
      kroOutSlots[i] = nullptr;
  if (--kroOutOpenCount == 0)
    for (int i = 0; i < 2; i++)
      sigaction(kroOutWriteSignals[i], &kroOutSavedActions[i], nullptr);
}

/* ---- the stream ---------------------------------------------------------- */

/* Writes all of bytes at the descriptor's position; 0, or an errno value. */
static int kroWriteAll(int fd, const char *data, size_t bytes) {
  for (size_t done = 0; done < bytes;) {
    ssize_t wrote = write(fd, data + done, bytes - done);
    if (wrote < 0 && errno == EINTR)
      continue;
    if (wrote <= 0)
      return wrote < 0 ? errno : EIO;
    done += (size_t)wrote;
  }
  return 0;
}

/* Writes all of it or records why not; returns what stdio counts as written. */
static ssize_t kroSinkWrite(void *cookie, const char *data, size_t bytes) {
  kroOutFileSink *sink = (kroOutFileSink *)cookie;
  if (sink->error)
    return 0; /* stdio marks the stream as failed */
  if (sink->way == KRO_OUT_RENAME) {
    sink->error = kroWriteAll(sink->fd, data, bytes);
    return sink->error ? 0 : (ssize_t)bytes;
  }
  if (bytes > sink->capacity - sink->size) {
    size_t capacity = sink->capacity ? sink->capacity : 4096;
    while (capacity - sink->size < bytes && capacity < SIZE_MAX / 2)
      capacity *= 2;
    char *grown = capacity - sink->size < bytes ? nullptr : (char *)realloc(sink->data, capacity);
    if (!grown) {
      sink->error = ENOMEM;
      return 0;
    }
    sink->data = grown;
    sink->capacity = capacity;
  }
  memcpy(sink->data + sink->size, data, bytes);
  sink->size += bytes;
  return (ssize_t)bytes;
}

static int kroSinkClose(void *cookie) {
  kroOutFileSink *sink = (kroOutFileSink *)cookie;
  return sink->error ? -1 : 0;
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

/* The descriptor a path names as the system's descriptor folders do
 * (/dev/stdout, /dev/stderr, /dev/fd/N, /proc/self/fd/N, /proc/PID/fd/N of
 * this process), or -1 for any other path. */
static int kroNamedDescriptor(const char *path) {
  if (!strcmp(path, "/dev/stdout"))
    return 1;
  if (!strcmp(path, "/dev/stderr"))
    return 2;
  char own[64];
  snprintf(own, sizeof own, "/proc/%ld/fd/", (long)getpid());
  const char *folders[] = {"/dev/fd/", "/proc/self/fd/", "/proc/thread-self/fd/", own};
  for (const char *folder : folders) {
    size_t length = strlen(folder);
    if (strncmp(path, folder, length) != 0)
      continue;
    const char *digits = path + length;
    long number = 0;
    for (const char *c = digits; *c; c++) {
      if (*c < '0' || *c > '9' || number > INT_MAX / 10)
        return -1;
      number = number * 10 + (*c - '0');
    }
    return *digits ? (int)number : -1;
  }
  return -1;
}

/* Follows symbolic links from path to the file that is finally meant, which
 * need not exist, stopping early at a path that names an open descriptor
 * (*descriptor >= 0). `info` gets its lstat when `exists`. 0, or an errno. */
static int kroFollowLinks(const char *path, char *target, struct stat *info, int *exists,
                          int *descriptor) {
  int error = kroCopyPath(target, path);
  *exists = 0;
  if (error)
    return error;
  for (int hops = 0;; hops++) {
    *descriptor = kroNamedDescriptor(target);
    if (*descriptor >= 0)
      return 0;
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

/* Makes a fresh hidden name ".<name>.XXXXXX" in the folder of target and
 * calls make(name) until it succeeds or fails other than with EEXIST.
 * make's result (>= 0 is success), or -1 with errno and name "". */
template <typename Make> static int kroMakeBeside(const char *target, char *name, Make make) {
  const char *slash = strrchr(target, '/');
  size_t folder = slash ? (size_t)(slash - target) + 1 : 0;
  size_t kept = strlen(target + folder);
  if (kept > KRO_OUT_NAME_KEPT)
    kept = KRO_OUT_NAME_KEPT;
  if (folder + kept + KRO_OUT_RANDOM_CHARS + 3 > KRO_OUT_PATH_CHARS) {
    name[0] = '\0';
    errno = ENAMETOOLONG;
    return -1;
  }
  memcpy(name, target, folder);
  name[folder] = '.';
  memcpy(name + folder + 1, target + folder, kept);
  name[folder + 1 + kept] = '.';
  char *random = name + folder + kept + 2;
  for (int attempt = 0; attempt < KRO_OUT_NAME_ATTEMPTS; attempt++) {
    kroRandomName(random, KRO_OUT_RANDOM_CHARS);
    int made = make(name);
    if (made >= 0)
      return made;
    if (errno != EEXIST)
      break;
  }
  int error = errno;
  name[0] = '\0';
  errno = error;
  return -1;
}

/* A new, empty file beside target: never an existing file, never through a
 * link (O_EXCL). Permission bits 0666 less the umask. Its descriptor, or -1. */
static int kroCreateBeside(const char *target, char *temporary) {
  return kroMakeBeside(target, temporary, [](const char *name) {
    return open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  });
}

/* ---- choosing the way ------------------------------------------------------ */

/* Whether the folder of target is sticky in a way that stops this user from
 * renaming over a file of `owner`. */
static int kroStickyRefuses(const char *target, uid_t owner) {
  char folder[KRO_OUT_PATH_CHARS];
  memcpy(folder, target, strlen(target) + 1);
  char *slash = strrchr(folder, '/');
  if (!slash)
    strcpy(folder, ".");
  else
    slash[slash == folder ? 1 : 0] = '\0';
  struct stat info;
  uid_t self = geteuid();
  return stat(folder, &info) == 0 && (info.st_mode & S_ISVTX) && self != 0 && self != owner &&
         self != info.st_uid;
}

/* Whether the file has extended attributes (an ACL is one): a new file
 * could not take them all (trusted.* and security.* need privileges, a copy
 * that fails halfway loses some), so such a file is written in place, which
 * keeps them with its inode. Unknown counts as having some. */
static int kroHasAttributes(const char *target) {
  ssize_t bytes = llistxattr(target, nullptr, 0);
  return bytes > 0 || (bytes < 0 && errno != ENOTSUP);
}

/* A new file beside the destination that stands as it does (owner, group,
 * permission bits), or -1 when there can be none: then the file is written in
 * place. */
static int kroTakeItsPlace(kroOutFileSink *sink, const struct stat *info) {
  if (info->st_nlink != 1 || kroHasAttributes(sink->target) ||
      kroStickyRefuses(sink->target, info->st_uid))
    return -1;
  int fd = kroCreateBeside(sink->target, sink->temporary);
  if (fd < 0)
    return -1;
  struct stat made;
  int same = fstat(fd, &made) == 0;
  if (same && (made.st_uid != info->st_uid || made.st_gid != info->st_gid))
    same = fchown(fd, info->st_uid, info->st_gid) == 0;
  /* The system may drop set-id bits it does not allow; the result decides. */
  same = same && fchmod(fd, info->st_mode & 07777) == 0 && fstat(fd, &made) == 0 &&
         made.st_uid == info->st_uid && made.st_gid == info->st_gid &&
         (made.st_mode & 07777) == (info->st_mode & 07777);
  if (same)
    return fd;
  close(fd);
  unlink(sink->temporary);
  sink->temporary[0] = '\0';
  return -1;
}

/* Reads the whole file at fd into sink->old; 0, or an errno value (old
 * stays null). */
static int kroKeepOldContent(kroOutFileSink *sink, int fd) {
  size_t size = 0, capacity = 0;
  char *old = nullptr;
  for (;;) {
    if (capacity - size < KRO_OUT_READ_CHUNK) {
      char *grown = (char *)realloc(old, capacity + KRO_OUT_READ_CHUNK * 4);
      if (!grown) {
        free(old);
        return ENOMEM;
      }
      old = grown;
      capacity += KRO_OUT_READ_CHUNK * 4;
    }
    ssize_t got = pread(fd, old + size, KRO_OUT_READ_CHUNK, (off_t)size);
    if (got < 0 && errno == EINTR)
      continue;
    if (got == 0) {
      sink->old = old;
      sink->old_size = size;
      return 0;
    }
    if (got < 0) {
      int error = errno;
      free(old);
      return error;
    }
    size += (size_t)got;
  }
}

/* Chooses the way for an existing regular file and opens what it needs; 0, or
 * an errno value. The permission to write is the file's own; a file written
 * in place must also be readable, its old content held, or a failed write
 * could not put it back: a write-only one is refused (EACCES). */
static int kroOpenExisting(kroOutFileSink *sink, const struct stat *info) {
  int fd = open(sink->target, O_RDWR | O_NOCTTY | O_CLOEXEC);
  int readable = fd >= 0;
  if (fd < 0 && errno == EACCES)
    fd = open(sink->target, O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0)
    return errno;
  int replacement = kroTakeItsPlace(sink, info);
  if (replacement >= 0) {
    close(fd);
    sink->way = KRO_OUT_RENAME;
    sink->existed = 1;
    sink->fd = replacement;
    return 0;
  }
  sink->way = KRO_OUT_IN_PLACE;
  sink->fd = fd;
  return readable ? kroKeepOldContent(sink, fd) : EACCES;
}

/* Opens the sink for the destination path; 0, or an errno value. */
static int kroOpenSinkFor(kroOutFileSink *sink, const char *path) {
  struct stat info;
  int exists, descriptor;
  int error = kroFollowLinks(path, sink->target, &info, &exists, &descriptor);
  if (error)
    return error;
  if (descriptor >= 0) {
    int mode = fcntl(descriptor, F_GETFL);
    if (mode < 0 || (mode & O_ACCMODE) == O_RDONLY)
      return EBADF;
    sink->way = KRO_OUT_DIRECT;
    sink->fd = fcntl(descriptor, F_DUPFD_CLOEXEC, 3);
    return sink->fd < 0 ? errno : 0;
  }
  if (exists && S_ISDIR(info.st_mode))
    return EISDIR;
  if (exists && !S_ISREG(info.st_mode)) {
    sink->way = KRO_OUT_DIRECT;
    sink->fd = open(sink->target, O_WRONLY | O_NOCTTY | O_CLOEXEC);
    return sink->fd < 0 ? errno : 0;
  }
  if (exists)
    return kroOpenExisting(sink, &info);
  sink->way = KRO_OUT_RENAME;
  sink->fd = kroCreateBeside(sink->target, sink->temporary);
  return sink->fd < 0 ? errno : 0;
}

/* ---- applying and undoing, also from a signal handler ---------------------- */

/* Puts the old content back into an in-place destination; async-signal-safe.
 * The new content went over the old from the start and the file is cut to its
 * length only once all of it is in, so a write a size limit stops leaves the
 * old bytes past that limit as they were: what can be written back is, then
 * the old length is set again. */
static void kroRestoreInPlace(kroOutFileSink *sink) {
  if (!sink->old)
    return;
  for (size_t done = 0; done < sink->old_size;) {
    ssize_t wrote = pwrite(sink->fd, sink->old + done, sink->old_size - done, (off_t)done);
    if (wrote <= 0 && !(wrote < 0 && errno == EINTR))
      break;
    done += wrote > 0 ? (size_t)wrote : 0;
  }
  while (ftruncate(sink->fd, (off_t)sink->old_size) != 0 && errno == EINTR) {
  }
}

/* Undoes what a sink did to its destination so far and removes its new
 * file; async-signal-safe, and harmless to repeat. */
static void kroUndo(kroOutFileSink *sink) {
  int stage = sink->stage;
  if (stage == KRO_OUT_APPLYING || stage == KRO_OUT_APPLIED) {
    int renamed = stage == KRO_OUT_APPLIED || sink->moved;
    if (sink->way == KRO_OUT_IN_PLACE)
      kroRestoreInPlace(sink);
    else if (sink->backup[0] && renamed)
      rename(sink->backup, sink->target);
    else if (sink->backup[0])
      unlink(sink->backup); /* a second name of the file still in place */
    else if (!sink->existed && stage == KRO_OUT_APPLIED)
      unlink(sink->target);
    sink->backup[0] = '\0';
    sink->moved = 0;
    sink->stage = KRO_OUT_OPEN;
  }
  if (sink->temporary[0])
    unlink(sink->temporary);
  sink->temporary[0] = '\0';
}

/* Keeps the old file under a hidden second name: a hard link, or where the
 * file system has none, the file itself moved there. 0, or an errno value. */
static int kroKeepOldFile(kroOutFileSink *sink) {
  const char *target = sink->target;
  struct stat info; /* what begin found may have been replaced since */
  if (lstat(target, &info) != 0)
    return errno == ENOENT ? 0 : errno;
  if (!S_ISREG(info.st_mode))
    return S_ISDIR(info.st_mode) ? EISDIR : EEXIST;
  if (kroMakeBeside(target, sink->backup,
                    [target](const char *name) { return link(target, name); }) >= 0)
    return 0;
  sink->moved = 1;
  if (kroMakeBeside(target, sink->backup, [target](const char *name) {
#ifdef __EMSCRIPTEN__ /* a web page's file system has no renameat2 */
        (void)target, (void)name;
        errno = ENOSYS;
        return -1;
#else
        return renameat2(AT_FDCWD, target, AT_FDCWD, name, RENAME_NOREPLACE);
#endif
      }) >= 0)
    return 0;
  sink->moved = 0;
  return errno;
}

/* Puts the new content in place; with `keep_old`, a replaced file keeps a
 * second hidden name until every file of the commit is in. 0, or an errno. */
static int kroApply(kroOutFileSink *sink, int keep_old) {
  sink->stage = KRO_OUT_APPLYING;
  if (sink->way == KRO_OUT_RENAME) {
    int error = keep_old && sink->existed ? kroKeepOldFile(sink) : 0;
    if (!error && rename(sink->temporary, sink->target) != 0)
      error = errno;
    if (error) {
      kroUndo(sink); /* the old file back under its name, the new one removed */
      return error;
    }
    sink->temporary[0] = '\0';
    sink->stage = KRO_OUT_APPLIED;
    return 0;
  }
  int error = 0;
  if (sink->way == KRO_OUT_IN_PLACE && lseek(sink->fd, 0, SEEK_SET) < 0)
    error = errno;
  if (!error)
    error = kroWriteAll(sink->fd, sink->data, sink->size);
  /* Cut last: a file longer than a size limit allows keeps its tail until the new content is in. */
  if (!error && sink->way == KRO_OUT_IN_PLACE && ftruncate(sink->fd, (off_t)sink->size) != 0)
    error = errno;
  if (error && sink->way == KRO_OUT_IN_PLACE)
    kroRestoreInPlace(sink);
  sink->stage = error ? KRO_OUT_OPEN : KRO_OUT_APPLIED;
  return error;
}

void kroRemoveOutFilesNow(void) {
  int saved = errno;
  for (int i = 0; i < KRO_OUT_SIGNAL_SLOTS; i++) {
    kroOutFileSink *sink = kroOutSlots[i];
    if (sink && sink->stage != KRO_OUT_DONE)
      kroUndo(sink);
  }
  errno = saved;
}

static void kroOutSignalHandler(int number) {
  kroRemoveOutFilesNow();
  signal(number, SIG_DFL);
  raise(number); /* delivered once the handler returns: the status says which signal */
}

void kroRemoveOutFilesOnSignals(void) {
  const int numbers[] = {SIGINT, SIGTERM, SIGHUP};
  for (int number : numbers) {
    struct sigaction action, before;
    memset(&action, 0, sizeof action);
    action.sa_handler = kroOutSignalHandler;
    sigfillset(&action.sa_mask);
    /* A signal the caller's parent chose to ignore (nohup) stays ignored. */
    if (sigaction(number, nullptr, &before) == 0 && before.sa_handler != SIG_IGN)
      sigaction(number, &action, nullptr);
  }
}

/* ---- begin, commit, abort ------------------------------------------------- */

/* Releases everything behind out; the destination is left as it stands. */
static void kroReleaseOutFile(kroOutFile *out) {
  kroOutFileSink *sink = out->sink;
  if (out->file)
    fclose(out->file);
  out->file = nullptr;
  if (!sink)
    return;
  if (sink->error && !out->error)
    out->error = sink->error;
  kroUnregister(sink);
  if (sink->fd >= 0)
    close(sink->fd);
  free(sink->data);
  free(sink->old);
  free(sink);
  out->sink = nullptr;
}

int kroBeginOutFile(kroOutFile *out, const char *path) {
  out->file = nullptr;
  out->target[0] = out->temporary[0] = '\0';
  out->error = 0;
  out->sink = (kroOutFileSink *)kroAllocateZeroed(sizeof *out->sink);
  if (!out->sink) {
    out->error = ENOMEM;
    return -1;
  }
  kroOutFileSink *sink = out->sink;
  sink->fd = -1;
  kroRegister(sink);
  out->error = kroOpenSinkFor(sink, path);
  if (!out->error) {
    cookie_io_functions_t functions = {nullptr, kroSinkWrite, nullptr, kroSinkClose};
    out->file = fopencookie(sink, "w", functions);
    if (!out->file)
      out->error = errno ? errno : ENOMEM;
  }
  memcpy(out->target, sink->target, sizeof out->target);
  memcpy(out->temporary, sink->temporary, sizeof out->temporary);
  if (!out->error)
    return 0;
  kroUndo(sink);
  kroReleaseOutFile(out);
  out->temporary[0] = '\0';
  return -1;
}

/* Flushes and closes the stream, and the new file; 0, or -1 with out->error. */
static int kroCloseOutFile(kroOutFile *out) {
  kroOutFileSink *sink = out->sink;
  if (!out->file || !sink) {
    if (!out->error)
      out->error = EBADF;
    return -1;
  }
  int failed = fflush(out->file) != 0 || ferror(out->file);
  failed = fclose(out->file) != 0 || failed;
  out->file = nullptr;
  if (sink->way == KRO_OUT_RENAME) {
    failed = close(sink->fd) != 0 || failed;
    if (failed && !sink->error)
      sink->error = errno;
    sink->fd = -1;
  }
  if (failed && !out->error)
    out->error = sink->error ? sink->error : EIO;
  return failed ? -1 : 0;
}

int kroCommitOutFiles(kroOutFile *outs, int count) {
  int failed = 0;
  for (int i = 0; i < count; i++)
    failed = kroCloseOutFile(&outs[i]) != 0 || failed;
  /* Every new content is whole before the first destination changes; what
   * cannot be undone (a descriptor, a device) goes last. */
  for (int pass = 0; pass < 2 && !failed; pass++)
    for (int i = 0; i < count && !failed; i++) {
      kroOutFileSink *sink = outs[i].sink;
      if ((sink->way == KRO_OUT_DIRECT) != (pass == 1))
        continue;
      int error = kroApply(sink, count > 1);
      if (error) {
        outs[i].error = error;
        failed = 1;
      }
    }
  for (int i = count - 1; i >= 0; i--) {
    kroOutFileSink *sink = outs[i].sink;
    if (!sink)
      continue;
    if (failed) {
      kroUndo(sink);
    } else {
      sink->stage = KRO_OUT_DONE;
      if (sink->backup[0])
        unlink(sink->backup);
    }
    outs[i].temporary[0] = '\0';
    kroReleaseOutFile(&outs[i]);
  }
  return failed ? -1 : 0;
}

int kroCommitOutFile(kroOutFile *out) {
  return kroCommitOutFiles(out, 1);
}

void kroAbortOutFile(kroOutFile *out) {
  if (out->file)
    fflush(out->file);
  if (out->sink)
    kroUndo(out->sink);
  out->temporary[0] = '\0';
  kroReleaseOutFile(out);
}

/* ---- one destination named twice ------------------------------------------ */

/* What a path finally names: an existing file's identity, or the absolute
 * path of a file still to be made. 0, or an errno value. */
static int kroIdentify(const char *path, struct stat *info, int *exists, char *resolved) {
  char target[KRO_OUT_PATH_CHARS];
  int descriptor;
  int error = kroFollowLinks(path, target, info, exists, &descriptor);
  if (error)
    return error;
  if (descriptor >= 0) {
    *exists = fstat(descriptor, info) == 0;
    return *exists ? 0 : errno;
  }
  if (*exists)
    return stat(target, info) == 0 ? 0 : errno;
  /* A new file: its folder, which must exist, made absolute. */
  char *slash = strrchr(target, '/');
  const char *name = slash ? slash + 1 : target;
  char folder[PATH_MAX];
  if (slash == target)
    strcpy(folder, "/");
  else if (!realpath(slash ? (*slash = '\0', target) : ".", folder))
    return errno;
  if (strlen(folder) + 1 + strlen(name) >= KRO_OUT_PATH_CHARS)
    return ENAMETOOLONG;
  size_t length = strlen(folder);
  folder[length] = '/';
  memcpy(resolved, folder, length + 1);
  memcpy(resolved + length + 1, name, strlen(name) + 1);
  return 0;
}

int kroSameOutDestination(const char *a, const char *b) {
  struct stat info_a, info_b;
  int exists_a = 0, exists_b = 0;
  char resolved_a[KRO_OUT_PATH_CHARS] = "", resolved_b[KRO_OUT_PATH_CHARS] = "";
  if (kroIdentify(a, &info_a, &exists_a, resolved_a) != 0 ||
      kroIdentify(b, &info_b, &exists_b, resolved_b) != 0)
    return 0; /* a path that cannot be written is refused by its begin */
  if (exists_a != exists_b)
    return 0;
  if (exists_a)
    return info_a.st_dev == info_b.st_dev && info_a.st_ino == info_b.st_ino;
  return !strcmp(resolved_a, resolved_b);
}
