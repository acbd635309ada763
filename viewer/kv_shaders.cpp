/*
 * The engine's programs as the viewer keeps them: started with kroInit, each
 * checked (its files read, its stages compiled, the program linked), and
 * built again from the shader folder on request. A rebuild replaces the
 * programs only when every one of them builds; otherwise the last good ones
 * stay and the reason is kept for the overlay.
 * Depends on: kro (shader tables, kroInit), GL.
 */
#include "kroview.h"

#include <stdio.h>
#include <string.h>

/* The programs kroInit builds: KRO_SHADER slots in load order, then post-processing entry 0. */
typedef struct kvProgram {
  kroShader *record;
  const char *files; /* under the shader folder, for messages */
} kvProgram;

enum { KV_PROGRAMS = 5 };

static const kvProgram KV_PROGRAM_TABLE[KV_PROGRAMS] = {
    {&KRO_SHADER[128], "ish/c"},
    {&KRO_SHADER[0], "ish/b"},
    {&KRO_SHADER[1], "ish/zki"},
    {&KRO_SHADER[64], "ish/bt"},
    {&KRO_POST_PROCESS_SHADER[0], "psh/b"},
};

static char kvProgramMessage[KV_MESSAGE_CHARS];

const char *kvProgramProblem(void) {
  return kvProgramMessage;
}

/* How many shader files the loaders could not read since `messages_before`: each unreadable
 * file is one engine message (the reason the overlay shows). */
static int kvLoadFailures(long messages_before) {
  return (int)(kvEngineMessageCount() - messages_before);
}

/* The first line of a GL object's info log after `prefix`, into the kept message. */
static void kvKeepLog(GLhandleARB object, const char *prefix) {
  char log[KV_MESSAGE_CHARS] = "";
  GLsizei length = 0;
  glGetInfoLogARB(object, (GLsizei)sizeof log, &length, log);
  log[strcspn(log, "\r\n")] = '\0';
  snprintf(kvProgramMessage, sizeof kvProgramMessage, "%s%s", prefix, log);
}

static int kvStageCompiled(GLhandleARB stage, const char *files, const char *suffix) {
  GLint compiled = 0;
  if (!stage || !glIsShader(stage))
    return 1; /* nothing of it was read: the file loader has reported it */
  glGetObjectParameterivARB(stage, GL_OBJECT_COMPILE_STATUS_ARB, &compiled);
  if (compiled)
    return 1;
  char prefix[64];
  snprintf(prefix, sizeof prefix, "%s.%s: ", files, suffix);
  kvKeepLog(stage, prefix);
  return 0;
}

/* 1 when the program's stages compiled and it linked; else the reason is kept. */
static int kvProgramBuilt(const kvProgram *program) {
  const kroShader *record = program->record;
  if (!kvStageCompiled(record->vertex_shader, program->files, "vert") ||
      !kvStageCompiled(record->fragment_shader, program->files, "frag"))
    return 0;
  GLint linked = 0;
  if (record->program && glIsProgram(record->program))
    glGetObjectParameterivARB(record->program, GL_OBJECT_LINK_STATUS_ARB, &linked);
  if (linked)
    return 1;
  char prefix[64];
  snprintf(prefix, sizeof prefix, "%s: not linked: ", program->files);
  kvKeepLog(record->program, prefix);
  return 0;
}

/* The programs that did not build since `messages_before`; the reason is kept. */
static int kvCountFailures(long messages_before) {
  int failed = 0;
  kvProgramMessage[0] = '\0';
  for (int i = 0; i < KV_PROGRAMS; i++)
    failed += !kvProgramBuilt(&KV_PROGRAM_TABLE[i]);
  int unread = kvLoadFailures(messages_before);
  if (unread > 0)
    snprintf(kvProgramMessage, sizeof kvProgramMessage, "%s", kvLastEngineMessage());
  return failed + unread;
}

/* The post-processing program's taps are one canvas pixel apart; the viewer gives it a canvas
 * KV_POST_SPREAD times smaller than the view, so that its blur reaches that many screen pixels
 * and shows. */
static const int KV_POST_SPREAD = 3;

static int kvCanvasSide(int pixels) {
  int side = pixels / KV_POST_SPREAD;
  return side > 0 ? side : 1;
}

int kvStartPrograms(int width, int height) {
  long before = kvEngineMessageCount();
  kroInit(kvCanvasSide(width), kvCanvasSide(height));
  return kvCountFailures(before);
}

/* Stages, sources and the program object itself: the engine keeps the program, the viewer
 * replaces it. */
static void kvDeleteProgram(kroShader *record) {
  GLhandleARB program = record->program;
  kroDestroyShader(record);
  if (program && glIsProgram(program))
    glDeleteObjectARB(program);
  memset(record, 0, sizeof *record);
}

int kvRebuildPrograms(int width, int height) {
  kroShader kept[KV_PROGRAMS];
  for (int i = 0; i < KV_PROGRAMS; i++) {
    kept[i] = *KV_PROGRAM_TABLE[i].record;
    memset(KV_PROGRAM_TABLE[i].record, 0, sizeof(kroShader));
  }
  glUseProgramObjectARB(0);
  long before = kvEngineMessageCount();
  kroLoadShaders();
  kroLoadPostProcessShaders(kvCanvasSide(width), kvCanvasSide(height));
  int failed = kvCountFailures(before);
  for (int i = 0; i < KV_PROGRAMS; i++) {
    kroShader *record = KV_PROGRAM_TABLE[i].record;
    if (failed) {
      kvDeleteProgram(record);
      *record = kept[i];
    } else
      kvDeleteProgram(&kept[i]);
  }
  return failed;
}
