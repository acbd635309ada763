/*
 * Watching the model file and the shader folder for changes: inotify on the
 * model's folder and, for a linked model, its final file's folder, followed
 * again whenever the link changes (editors that save by writing a new file
 * and renaming it over the old one are seen too), or, where inotify is
 * missing or refused, the files' times and sizes looked at every KV_POLL_MS;
 * the shader folder through the engine's watch (kroShaderWatch), which works
 * the same way. The model's other files (an OBJ file's .mtl libraries, a glTF
 * file's .bin buffers), which may lie in other folders, have their stamps
 * looked at every KV_POLL_MS either way. A burst of events is reported once,
 * when the files have been quiet for KV_QUIET_MS.
 * Depends on: Linux inotify, POSIX stat, kro (kroShaderWatch).
 */
#include "kroview.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

static const long KV_QUIET_MS = 60; /* quiet time that ends a burst of writes */
static const long KV_POLL_MS = 100; /* between looks at the files without inotify */
static const uint32_t KV_EVENTS =
    IN_CLOSE_WRITE | IN_MOVED_TO | IN_MODIFY | IN_CREATE | IN_DELETE | IN_ATTRIB;

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

/* A linked model changes where its final file is: that folder is watched too, and only the
 * folder the link leads to now (a re-pointed link leaves its old one). The two folders may be
 * one, and so one watch: that one stays. */
static void kvFollowLink(kvWatch *watch) {
  if (watch->target_wd >= 0 && watch->target_wd != watch->model_wd)
    inotify_rm_watch(watch->fd, watch->target_wd);
  watch->target_wd = -1;
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
}

static int kvOpenInotify(kvWatch *watch) {
  watch->fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (watch->fd < 0)
    return 0;
  watch->model_wd = inotify_add_watch(watch->fd, watch->model_folder, KV_EVENTS);
  kvFollowLink(watch);
  if (watch->model_wd >= 0)
    return 1;
  close(watch->fd);
  watch->fd = -1;
  return 0;
}

int kvOpenWatch(kvWatch *watch, const char *model_path, const char *shader_folder, int poll) {
  memset(watch, 0, sizeof *watch);
  watch->fd = watch->model_wd = -1;
  watch->target_wd = -1;
  if (strlen(model_path) >= KV_WATCH_PATH || strlen(shader_folder) >= KV_WATCH_PATH)
    return -1;
  snprintf(watch->model_path, sizeof watch->model_path, "%s", model_path);
  kvSplitPath(model_path, watch->model_folder, sizeof watch->model_folder, watch->model_name,
              sizeof watch->model_name);
  watch->polling = poll || !kvOpenInotify(watch);
  kroStampFile(watch->model_path, &watch->model_stamp);
  if (kroOpenShaderWatch(&watch->shaders, shader_folder, watch->polling) != 0)
    return -1;
  watch->next_poll = kroNowMs() + KV_POLL_MS;
  watch->open = 1;
  return 0;
}

/* Events since the last read: marks what they touch as pending. */
static void kvReadEvents(kvWatch *watch, long now) {
  char buffer[4096] __attribute__((aligned(__alignof__(struct inotify_event))));
  ssize_t length;
  int relink = 0; /* the model's own name changed: it may lead elsewhere now */
  while ((length = read(watch->fd, buffer, sizeof buffer)) > 0) {
    for (char *at = buffer; at < buffer + length;) {
      const struct inotify_event *event = (const struct inotify_event *)at;
      at += sizeof(struct inotify_event) + event->len;
      int is_link = event->len > 0 && event->wd == watch->model_wd &&
                    strcmp(event->name, watch->model_name) == 0;
      if (is_link || (event->len > 0 && event->wd == watch->target_wd &&
                      strcmp(event->name, watch->target_name) == 0)) {
        watch->pending |= KV_CHANGED_MODEL;
        watch->last_event = now;
      }
      relink |= is_link;
    }
  }
  if (relink)
    kvFollowLink(watch);
}

/* Files whose stamp moved since the last look: marks them pending. */
/* A changed stamp is a change of the model; the new one is kept, so that it is told once. */
static void kvLookAtStamp(kvWatch *watch, const char *path, kroFileStamp *stamp, long now) {
  kroFileStamp seen;
  kroStampFile(path, &seen);
  if (!kroSameFileStamp(&seen, stamp)) {
    watch->pending |= KV_CHANGED_MODEL;
    watch->last_event = now;
  }
  *stamp = seen;
}

static void kvLookAtFiles(kvWatch *watch, long now) {
  if (now < watch->next_poll)
    return;
  watch->next_poll = now + KV_POLL_MS;
  if (watch->polling)
    kvLookAtStamp(watch, watch->model_path, &watch->model_stamp, now);
  for (int i = 0; i < watch->source_count; i++)
    kvLookAtStamp(watch, watch->sources[i], &watch->source_stamps[i], now);
}

static void kvForgetSources(kvWatch *watch) {
  free(watch->sources);
  free(watch->source_stamps);
  watch->sources = nullptr;
  watch->source_stamps = nullptr;
  watch->source_count = 0;
}

void kvWatchSources(kvWatch *watch, const kvScene *scene) {
  kvForgetSources(watch);
  int count = scene->source_count;
  if (!watch->open || count == 0)
    return;
  watch->sources = (kroScenePath *)malloc((size_t)count * sizeof(kroScenePath));
  watch->source_stamps = (kroFileStamp *)malloc((size_t)count * sizeof(kroFileStamp));
  if (!watch->sources || !watch->source_stamps) {
    kvForgetSources(watch);
    return;
  }
  memcpy(watch->sources, scene->sources, (size_t)count * sizeof(kroScenePath));
  /* The stamps the files had when the scene read them: a change since is seen. */
  memcpy(watch->source_stamps, scene->source_stamps, (size_t)count * sizeof(kroFileStamp));
  watch->source_count = count;
}

int kvPollWatch(kvWatch *watch, long now) {
  if (!watch->open)
    return 0;
  if (!watch->polling)
    kvReadEvents(watch, now);
  kvLookAtFiles(watch, now);
  int changed = kroPollShaderWatch(&watch->shaders, now) ? KV_CHANGED_SHADERS : 0;
  if (!watch->pending || now - watch->last_event < KV_QUIET_MS)
    return changed;
  changed |= watch->pending;
  watch->pending = 0;
  return changed;
}

void kvCloseWatch(kvWatch *watch) {
  kvForgetSources(watch);
  if (watch->fd >= 0)
    close(watch->fd);
  kroCloseShaderWatch(&watch->shaders);
  memset(watch, 0, sizeof *watch);
  watch->fd = -1;
}
