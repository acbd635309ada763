/*
 * Live shaders: the engine's fixed programs started and checked (files read,
 * stages compiled, programs linked), built again from the shader folder on
 * the last-good rule (the new programs replace the old ones only when every
 * one of them builds), and the shader folder watched for changes: inotify on
 * its ish/ and psh/, or, where inotify is missing or refused, the files'
 * times and sizes looked at every KRO_WATCH_POLL_MS; the same while a watched
 * folder has been moved or deleted away, until one stands in its place again.
 * A burst of events counts once, when the files have been quiet for
 * KRO_WATCH_QUIET_MS.
 * Depends on: kro_shader.cpp, kro_init.cpp, kro_error.cpp, GL, Linux inotify.
 */
#include "kro.h"
#include "kro_internal.h"

#include <stdio.h>
#include <string.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

/* ---- the programs -------------------------------------------------------- */

/* The programs kroInit builds: KRO_SHADER slots in load order, then post-processing entry 0. */
typedef struct kroLiveProgram {
  kroShader *record;
  const char *files; /* under the shader folder, for messages */
} kroLiveProgram;

static const kroLiveProgram KRO_LIVE_PROGRAMS[KRO_INIT_PROGRAMS] = {
    {&KRO_SHADER[128], "ish/c"},
    {&KRO_SHADER[0], "ish/b"},
    {&KRO_SHADER[1], "ish/zki"},
    {&KRO_SHADER[64], "ish/bt"},
    {&KRO_SHADER[2], "ish/b"}, /* built with KRO_TEXTURED defined */
    {&KRO_POST_PROCESS_SHADER[0], "psh/b"},
};

static char kroShaderProblemText[KRO_SHADER_PROBLEM_CHARS];

const char *kroShaderProblem(void) {
  return kroShaderProblemText;
}

/* The first line of a GL object's info log after `prefix`, as the kept reason unless one is
 * kept already (ish/b feeds two programs: a fault in it is reported once). */
static void kroKeepLog(GLhandleARB object, const char *prefix) {
  if (kroShaderProblemText[0])
    return;
  char log[KRO_SHADER_PROBLEM_CHARS] = "";
  GLsizei length = 0;
  glGetInfoLogARB(object, (GLsizei)sizeof log, &length, log);
  log[strcspn(log, "\r\n")] = '\0';
  snprintf(kroShaderProblemText, sizeof kroShaderProblemText, "%s%s", prefix, log);
}

static int kroStageCompiled(GLhandleARB stage, const char *files, const char *suffix) {
  GLint compiled = 0;
  if (!stage || !glIsShader(stage))
    return 1; /* nothing of it was read: the file loader has reported it */
  glGetObjectParameterivARB(stage, GL_OBJECT_COMPILE_STATUS_ARB, &compiled);
  if (compiled)
    return 1;
  char prefix[64];
  snprintf(prefix, sizeof prefix, "%s.%s: ", files, suffix);
  kroKeepLog(stage, prefix);
  return 0;
}

/* 1 when the program's stages compiled and it linked; else the reason is kept. */
static int kroLiveProgramBuilt(const kroLiveProgram *program) {
  const kroShader *record = program->record;
  if (!kroStageCompiled(record->vertex_shader, program->files, "vert") ||
      !kroStageCompiled(record->fragment_shader, program->files, "frag"))
    return 0;
  GLint linked = 0;
  if (record->program && glIsProgram(record->program))
    glGetObjectParameterivARB(record->program, GL_OBJECT_LINK_STATUS_ARB, &linked);
  if (linked)
    return 1;
  char prefix[64];
  snprintf(prefix, sizeof prefix, "%s: not linked: ", program->files);
  kroKeepLog(record->program, prefix);
  return 0;
}

/* The programs that did not build, plus the files that could not be read since
 * `failures_before` (each is one engine failure, whose message becomes the reason). */
static int kroCountLiveFailures(long failures_before) {
  int failed = 0;
  kroShaderProblemText[0] = '\0';
  for (int i = 0; i < KRO_INIT_PROGRAMS; i++)
    failed += !kroLiveProgramBuilt(&KRO_LIVE_PROGRAMS[i]);
  int unread = (int)(kroFailureCount() - failures_before);
  if (unread > 0)
    snprintf(kroShaderProblemText, sizeof kroShaderProblemText, "%s", kroLastFailure());
  return failed + unread;
}

int kroStartShaders(int resx, int resy) {
  long before = kroFailureCount();
  kroInit(resx, resy);
  return kroCountLiveFailures(before);
}

/* Stages, sources and the program object itself: the engine's own destroy keeps the program,
 * a rebuild replaces it. */
static void kroDeleteLiveProgram(kroShader *record) {
  GLhandleARB program = record->program;
  kroDestroyShader(record);
  if (program && glIsProgram(program))
    glDeleteObjectARB(program);
  memset(record, 0, sizeof *record);
}

int kroRebuildShaders(int resx, int resy) {
  kroShader kept[KRO_INIT_PROGRAMS];
  for (int i = 0; i < KRO_INIT_PROGRAMS; i++) {
    kept[i] = *KRO_LIVE_PROGRAMS[i].record;
    memset(KRO_LIVE_PROGRAMS[i].record, 0, sizeof(kroShader));
  }
  glUseProgramObjectARB(0);
  long before = kroFailureCount();
  kroLoadShaders();
  kroLoadPostProcessShaders(resx, resy);
  int failed = kroCountLiveFailures(before);
  for (int i = 0; i < KRO_INIT_PROGRAMS; i++) {
    kroShader *record = KRO_LIVE_PROGRAMS[i].record;
    if (failed) {
      kroDeleteLiveProgram(record);
      *record = kept[i];
    } else
      kroDeleteLiveProgram(&kept[i]);
  }
  return failed;
}

/* ---- watching the shader folder ------------------------------------------ */

static const uint32_t KRO_WATCH_EVENTS = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MODIFY | IN_CREATE |
                                         IN_DELETE | IN_ATTRIB | IN_MOVE_SELF | IN_DELETE_SELF;

/* The shader files the engine reads, under the shader folder. */
static const char *const KRO_WATCHED_FILES[KRO_WATCHED_SHADER_FILES] = {
    "ish/c.vert",   "ish/c.frag",  "ish/b.vert",  "ish/b.frag", "ish/zki.vert",
    "ish/zki.frag", "ish/bt.vert", "ish/bt.frag", "psh/b.vert", "psh/b.frag"};

long kroNowMs(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (long)now.tv_sec * 1000L + now.tv_nsec / 1000000L;
}

void kroStampFile(const char *path, kroFileStamp *stamp) {
  struct stat info;
  memset(stamp, 0, sizeof *stamp);
  if (stat(path, &info) != 0)
    return;
  stamp->seconds = (long long)info.st_mtim.tv_sec;
  stamp->nanoseconds = (long)info.st_mtim.tv_nsec;
  stamp->size = (long long)info.st_size;
  stamp->inode = (long long)info.st_ino;
}

int kroSameFileStamp(const kroFileStamp *a, const kroFileStamp *b) {
  return a->seconds == b->seconds && a->nanoseconds == b->nanoseconds && a->size == b->size &&
         a->inode == b->inode;
}

static void kroStampShaders(const kroShaderWatch *watch, kroFileStamp *stamps) {
  char path[KRO_SHADER_FOLDER_CHARS + 32];
  for (int i = 0; i < KRO_WATCHED_SHADER_FILES; i++) {
    snprintf(path, sizeof path, "%s/%s", watch->folder, KRO_WATCHED_FILES[i]);
    kroStampFile(path, &stamps[i]);
  }
}

/* Inotify on both sub-folders; 0 when either cannot be watched (then the stamps are used). */
static int kroOpenInotify(kroShaderWatch *watch) {
  char folder[KRO_SHADER_FOLDER_CHARS + 8];
  watch->fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (watch->fd < 0)
    return 0;
  for (int i = 0; i < 2; i++) {
    snprintf(folder, sizeof folder, "%s/%s", watch->folder, i ? "psh" : "ish");
    watch->wd[i] = inotify_add_watch(watch->fd, folder, KRO_WATCH_EVENTS);
  }
  if (watch->wd[0] >= 0 && watch->wd[1] >= 0)
    return 1;
  close(watch->fd);
  watch->fd = watch->wd[0] = watch->wd[1] = -1;
  return 0;
}

int kroOpenShaderWatch(kroShaderWatch *watch, const char *folder, int poll) {
  memset(watch, 0, sizeof *watch);
  watch->fd = watch->wd[0] = watch->wd[1] = -1;
  if (!folder || !*folder)
    folder = kroGetShaderFolder();
  if (strlen(folder) > KRO_SHADER_FOLDER_CHARS)
    return -1;
  snprintf(watch->folder, sizeof watch->folder, "%s", folder);
  watch->polling = poll || !kroOpenInotify(watch);
  kroStampShaders(watch, watch->stamps);
  watch->next_poll = kroNowMs() + KRO_WATCH_POLL_MS;
  watch->open = 1;
  return 0;
}

/* A stage's file (".vert" or ".frag"): an editor's or a copy's scratch file beside it (".swp",
 * "~", ".new") is no change of the shaders until it is renamed into place. */
static int kroIsStageFileName(const char *name) {
  size_t length = strlen(name);
  return length > 5 && (!strcmp(name + length - 5, ".vert") || !strcmp(name + length - 5, ".frag"));
}

/* Events since the last read. A watched folder moved or deleted away takes its watch with it:
 * then inotify is closed (fd -1) until both folders can be watched again. */
static void kroReadShaderEvents(kroShaderWatch *watch, long now) {
  char buffer[4096] __attribute__((aligned(__alignof__(struct inotify_event))));
  ssize_t length;
  int lost = 0;
  while ((length = read(watch->fd, buffer, sizeof buffer)) > 0) {
    for (char *at = buffer; at < buffer + length;) {
      const struct inotify_event *event = (const struct inotify_event *)at;
      at += sizeof(struct inotify_event) + event->len;
      if (event->wd != watch->wd[0] && event->wd != watch->wd[1])
        continue;
      lost |= (event->mask & (IN_MOVE_SELF | IN_DELETE_SELF | IN_IGNORED)) != 0;
      if (event->len > 0 && kroIsStageFileName(event->name)) {
        watch->pending = 1;
        watch->last_event = now;
      }
    }
  }
  if (lost) {
    close(watch->fd);
    watch->fd = watch->wd[0] = watch->wd[1] = -1;
  }
}

static void kroLookAtShaders(kroShaderWatch *watch, long now) {
  if (now < watch->next_poll)
    return;
  watch->next_poll = now + KRO_WATCH_POLL_MS;
  kroFileStamp stamps[KRO_WATCHED_SHADER_FILES];
  kroStampShaders(watch, stamps);
  if (memcmp(stamps, watch->stamps, sizeof stamps) != 0) {
    watch->pending = 1;
    watch->last_event = now;
  }
  memcpy(watch->stamps, stamps, sizeof stamps);
}

int kroPollShaderWatch(kroShaderWatch *watch, long now_ms) {
  if (!watch->open)
    return 0;
  if (!watch->polling && watch->fd >= 0)
    kroReadShaderEvents(watch, now_ms);
  /* Without its folders the watch looks at the stamps, and tries inotify again at each look:
   * the folders it then finds (a copy put in place, say) count as a change. */
  if (!watch->polling && watch->fd < 0 && now_ms >= watch->next_poll && kroOpenInotify(watch)) {
    watch->pending = 1;
    watch->last_event = now_ms;
  }
  if (watch->polling || watch->fd < 0)
    kroLookAtShaders(watch, now_ms);
  if (!watch->pending || now_ms - watch->last_event < KRO_WATCH_QUIET_MS)
    return 0;
  watch->pending = 0;
  return 1;
}

void kroCloseShaderWatch(kroShaderWatch *watch) {
  if (watch->fd >= 0)
    close(watch->fd);
  memset(watch, 0, sizeof *watch);
  watch->fd = watch->wd[0] = watch->wd[1] = -1;
}
