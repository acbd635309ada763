/*
 * Watching the model file and the shader folder for changes: inotify on the
 * model's folder and, for a linked model, its final file's folder (editors
 * that save by writing a new file and renaming it over the old one are seen
 * too) and on the shader folder's ish/ and psh/, or, where inotify is missing
 * or refused, the files' times and sizes looked at every KV_POLL_MS. A burst
 * of events is reported once, when the files have been quiet for KV_QUIET_MS.
 * Depends on: Linux inotify, POSIX stat.
 */
#include "kroview.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

static const long KV_QUIET_MS = 60; /* quiet time that ends a burst of writes */
static const long KV_POLL_MS = 100; /* between looks at the files without inotify */
static const uint32_t KV_EVENTS =
    IN_CLOSE_WRITE | IN_MOVED_TO | IN_MODIFY | IN_CREATE | IN_DELETE | IN_ATTRIB;

/* The shader files the engine reads, under the shader folder. */
static const char *const KV_SHADER_FILES[KV_WATCHED_SHADERS] = {
    "ish/c.vert",   "ish/c.frag",  "ish/b.vert",  "ish/b.frag", "ish/zki.vert",
    "ish/zki.frag", "ish/bt.vert", "ish/bt.frag", "psh/b.vert", "psh/b.frag"};

long kvNowMs(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (long)now.tv_sec * 1000L + now.tv_nsec / 1000000L;
}

/* A file's time, size and inode as one stamp; zeros for a missing file. */
static void kvStamp(const char *path, kvFileStamp *stamp) {
  struct stat info;
  memset(stamp, 0, sizeof *stamp);
  if (stat(path, &info) != 0)
    return;
  stamp->seconds = (long long)info.st_mtim.tv_sec;
  stamp->nanoseconds = (long)info.st_mtim.tv_nsec;
  stamp->size = (long long)info.st_size;
  stamp->inode = (long long)info.st_ino;
}

static int kvSameStamp(const kvFileStamp *a, const kvFileStamp *b) {
  return a->seconds == b->seconds && a->nanoseconds == b->nanoseconds && a->size == b->size &&
         a->inode == b->inode;
}

static void kvSplitPath(const char *path, char *folder, size_t folder_bytes, char *name,
                        size_t name_bytes) {
  const char *slash = strrchr(path, '/');
  if (!slash) {
    snprintf(folder, folder_bytes, ".");
    snprintf(name, name_bytes, "%s", path);
  } else if (slash == path) {
    snprintf(folder, folder_bytes, "/");
    snprintf(name, name_bytes, "%s", slash + 1);
  } else {
    snprintf(folder, folder_bytes, "%.*s", (int)(slash - path), path);
    snprintf(name, name_bytes, "%s", slash + 1);
  }
}

static int kvOpenInotify(kvWatch *watch) {
  char folder[KV_WATCH_PATH + 8];
  watch->fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (watch->fd < 0)
    return 0;
  watch->model_wd = inotify_add_watch(watch->fd, watch->model_folder, KV_EVENTS);
  /* A linked model changes where its final file is: that folder too. */
  struct stat info;
  char *target = lstat(watch->model_path, &info) == 0 && S_ISLNK(info.st_mode)
                     ? realpath(watch->model_path, nullptr)
                     : nullptr;
  if (target && strlen(target) < KV_WATCH_PATH) {
    kvSplitPath(target, watch->target_folder, sizeof watch->target_folder, watch->target_name,
                sizeof watch->target_name);
    watch->target_wd = inotify_add_watch(watch->fd, watch->target_folder, KV_EVENTS);
  }
  free(target);
  for (int i = 0; i < 2; i++) {
    snprintf(folder, sizeof folder, "%s/%s", watch->shader_folder, i ? "psh" : "ish");
    watch->shader_wd[i] = inotify_add_watch(watch->fd, folder, KV_EVENTS);
  }
  if (watch->model_wd >= 0)
    return 1;
  close(watch->fd);
  watch->fd = -1;
  return 0;
}

static void kvStampAll(kvWatch *watch, kvFileStamp *model, kvFileStamp *shaders) {
  char path[KV_WATCH_PATH + 32];
  kvStamp(watch->model_path, model);
  for (int i = 0; i < KV_WATCHED_SHADERS; i++) {
    snprintf(path, sizeof path, "%s/%s", watch->shader_folder, KV_SHADER_FILES[i]);
    kvStamp(path, &shaders[i]);
  }
}

int kvOpenWatch(kvWatch *watch, const char *model_path, const char *shader_folder, int poll) {
  memset(watch, 0, sizeof *watch);
  watch->fd = watch->model_wd = watch->shader_wd[0] = watch->shader_wd[1] = -1;
  watch->target_wd = -1;
  if (strlen(model_path) >= KV_WATCH_PATH || strlen(shader_folder) >= KV_WATCH_PATH)
    return -1;
  snprintf(watch->model_path, sizeof watch->model_path, "%s", model_path);
  snprintf(watch->shader_folder, sizeof watch->shader_folder, "%s", shader_folder);
  kvSplitPath(model_path, watch->model_folder, sizeof watch->model_folder, watch->model_name,
              sizeof watch->model_name);
  watch->polling = poll || !kvOpenInotify(watch);
  kvStampAll(watch, &watch->model_stamp, watch->shader_stamps);
  watch->next_poll = kvNowMs() + KV_POLL_MS;
  watch->open = 1;
  return 0;
}

/* A stage's file (".vert" or ".frag"): an editor's or a copy's scratch file
 * beside it (".swp", "~", ".new") is no change of the shaders until it is
 * renamed into place. */
static int kvIsShaderFileName(const char *name) {
  size_t length = strlen(name);
  return length > 5 && (!strcmp(name + length - 5, ".vert") || !strcmp(name + length - 5, ".frag"));
}

/* Events since the last read: marks what they touch as pending. */
static void kvReadEvents(kvWatch *watch, long now) {
  char buffer[4096] __attribute__((aligned(__alignof__(struct inotify_event))));
  ssize_t length;
  while ((length = read(watch->fd, buffer, sizeof buffer)) > 0) {
    for (char *at = buffer; at < buffer + length;) {
      const struct inotify_event *event = (const struct inotify_event *)at;
      at += sizeof(struct inotify_event) + event->len;
      int is_model =
          event->len > 0 &&
          ((event->wd == watch->model_wd && strcmp(event->name, watch->model_name) == 0) ||
           (event->wd == watch->target_wd && strcmp(event->name, watch->target_name) == 0));
      int is_shader = (event->wd == watch->shader_wd[0] || event->wd == watch->shader_wd[1]) &&
                      event->len > 0 && kvIsShaderFileName(event->name);
      if (is_model)
        watch->pending |= KV_CHANGED_MODEL;
      if (is_shader)
        watch->pending |= KV_CHANGED_SHADERS;
      if (is_model || is_shader)
        watch->last_event = now;
    }
  }
}

/* Files whose stamp moved since the last look: marks them pending. */
static void kvLookAtFiles(kvWatch *watch, long now) {
  if (now < watch->next_poll)
    return;
  watch->next_poll = now + KV_POLL_MS;
  kvFileStamp model, shaders[KV_WATCHED_SHADERS];
  kvStampAll(watch, &model, shaders);
  if (!kvSameStamp(&model, &watch->model_stamp)) {
    watch->pending |= KV_CHANGED_MODEL;
    watch->last_event = now;
  }
  for (int i = 0; i < KV_WATCHED_SHADERS; i++)
    if (!kvSameStamp(&shaders[i], &watch->shader_stamps[i])) {
      watch->pending |= KV_CHANGED_SHADERS;
      watch->last_event = now;
    }
  watch->model_stamp = model;
  memcpy(watch->shader_stamps, shaders, sizeof shaders);
}

int kvPollWatch(kvWatch *watch, long now) {
  if (!watch->open)
    return 0;
  if (watch->polling)
    kvLookAtFiles(watch, now);
  else
    kvReadEvents(watch, now);
  if (!watch->pending || now - watch->last_event < KV_QUIET_MS)
    return 0;
  int changed = watch->pending;
  watch->pending = 0;
  return changed;
}

void kvCloseWatch(kvWatch *watch) {
  if (watch->fd >= 0)
    close(watch->fd);
  memset(watch, 0, sizeof *watch);
  watch->fd = -1;
}
