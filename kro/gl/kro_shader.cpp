/*
 * GLSL programs through the ARB shader-object interface: shader records, the
 * engine's shader tables, building from texts in memory or from files (with an
 * optional macro prelude), and release. Compile and link status are left to
 * the caller to query. Depends on: GL, kro_error.cpp.
 */
#include "kro.h"
#include "kro_internal.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>

kroShader KRO_SHADER[KRO_SHADER_SLOTS];
kroShader KRO_POST_PROCESS_SHADER[KRO_POST_PROCESS_SLOTS];
int kroCurrentShader = 0;
int kroCurrentPostProcessShader = 0;

enum {
  KRO_MACRO_TEXT_SIZE = 257, /* the post-processing prelude, terminator included */
  KRO_FILE_READ_START = 4096 /* first capacity of a file read; doubles as needed */
};

/* The fields and messages of one stage, so that both stages share one code path. */
typedef struct kroStage {
  char **source;
  int *length;
  GLhandleARB *object;
  GLenum type;
  const char *copy_message;
  const char *grow_message;
  const char *load_message;
  const char *read_message; /* takes the path */
} kroStage;

static kroStage kroVertexStage(kroShader *shader) {
  return {&shader->vertex_source,
          &shader->vertex_length,
          &shader->vertex_shader,
          GL_VERTEX_SHADER_ARB,
          "Error during allocating memory in kroLoadVertexShader(..)",
          "Error during allocating memory in kroIncreaseVertexGLSL(..)",
          "Error during allocating memory in kroLoadVertexShaderFromFile(..)",
          "Error in reading vertex shader from %s\n"};
}

static kroStage kroFragmentStage(kroShader *shader) {
  return {&shader->fragment_source,
          &shader->fragment_length,
          &shader->fragment_shader,
          GL_FRAGMENT_SHADER_ARB,
          "Error during allocating memory in kroLoadFragmentShader(..)",
          "Error during allocating memory in kroIncreaseFragmentGLSL(..)",
          "Error during allocating memory in kroLoadFragmentShaderFromFile(..)",
          "Error in reading fragmant shader from %s\n"};
}

static void kroReleaseSource(const kroStage &stage) {
  free(*stage.source);
  *stage.source = nullptr;
  *stage.length = 0;
}

/* Replaces the stage's source with a copy of `text` that keeps its terminator
 * one byte past the counted length. */
static bool kroCopyText(const kroStage &stage, const char *text) {
  size_t length = strlen(text);
  char *copy = length < INT_MAX ? (char *)kroAllocate(length + 1) : nullptr;
  if (!copy) {
    kroFail("%s", stage.copy_message);
    return false;
  }
  memcpy(copy, text, length + 1);
  free(*stage.source); /* the text replaces what was held */
  *stage.source = copy;
  *stage.length = (int)length;
  return true;
}

void kroLoadVertexShader(kroShader *shader, const char *text) {
  kroCopyText(kroVertexStage(shader), text);
}

void kroLoadFragmentShader(kroShader *shader, const char *text) {
  kroCopyText(kroFragmentStage(shader), text);
}

static void kroGrowSourceByOne(const kroStage &stage) {
  char *grown = *stage.length < INT_MAX ? (char *)kroAllocate((size_t)*stage.length + 1) : nullptr;
  if (!grown) {
    kroFail("%s", stage.grow_message);
    return;
  }
  if (*stage.length > 0)
    memcpy(grown, *stage.source, (size_t)*stage.length);
  free(*stage.source);
  *stage.source = grown;
  *stage.length += 1;
}

void kroIncreaseVertexGLSL(kroShader *shader) {
  kroGrowSourceByOne(kroVertexStage(shader));
}
void kroIncreaseFragmentGLSL(kroShader *shader) {
  kroGrowSourceByOne(kroFragmentStage(shader));
}

/* Reads all of `file` after the `held` bytes already in *buffer (capacity
 * *capacity), doubling the buffer as needed: linear in the file's size. */
static bool kroReadRest(FILE *file, char **buffer, size_t *held, size_t *capacity) {
  for (;;) {
    if (*held == *capacity) {
      if (*capacity > (size_t)INT_MAX / 2)
        return false;
      size_t larger = *capacity * 2;
      char *grown = (char *)kroAllocate(larger);
      if (!grown)
        return false;
      memcpy(grown, *buffer, *held);
      free(*buffer);
      *buffer = grown;
      *capacity = larger;
    }
    size_t got = fread(*buffer + *held, 1, *capacity - *held, file);
    *held += got;
    if (got == 0)
      return !ferror(file);
  }
}

/* The stage's source becomes the macro text (when given) or stays as it is,
 * followed by every byte of the file. On failure the source is left as it was
 * before the file was read and false is returned. */
static bool kroAppendFile(const kroStage &stage, const char *path, const char *macros) {
  if (macros) {
    kroReleaseSource(stage);
    size_t length = strlen(macros);
    char *copy = length < INT_MAX ? (char *)kroAllocate(length) : nullptr;
    if (!copy) {
      kroFail("%s", stage.load_message);
      return false;
    }
    memcpy(copy, macros, length);
    *stage.source = copy;
    *stage.length = (int)length;
  }
  FILE *file = fopen(path, "r");
  if (!file) {
    kroFail(stage.read_message, path);
    return false;
  }
  size_t held = (size_t)*stage.length;
  long file_bytes = kroStreamBytes(file); /* a first guess; the read does not trust it */
  size_t capacity = held + (file_bytes > 0 && file_bytes < INT_MAX ? (size_t)file_bytes : 0) +
                    KRO_FILE_READ_START;
  char *buffer = (char *)kroAllocate(capacity);
  if (!buffer) {
    fclose(file);
    kroFail("%s", stage.load_message);
    return false;
  }
  if (held)
    memcpy(buffer, *stage.source, held);
  bool complete = kroReadRest(file, &buffer, &held, &capacity);
  bool read_error = ferror(file) != 0;
  fclose(file);
  if (!complete || held > INT_MAX) {
    free(buffer);
    if (read_error)
      kroFail(stage.read_message, path);
    else
      kroFail("%s", stage.load_message);
    return false;
  }
  free(*stage.source);
  *stage.source = buffer;
  *stage.length = (int)held;
  return true;
}

void kroLoadVertexShaderFromFile(kroShader *shader, const char *path, const char *macros) {
  kroAppendFile(kroVertexStage(shader), path, macros);
}

void kroLoadFragmentShaderFromFile(kroShader *shader, const char *path, const char *macros) {
  kroAppendFile(kroFragmentStage(shader), path, macros);
}

static void kroCompileAndAttach(kroShader *shader, const kroStage &stage) {
  glShaderSourceARB(*stage.object, 1, (const GLcharARB **)stage.source, stage.length);
  glCompileShaderARB(*stage.object);
  glAttachObjectARB(shader->program, *stage.object);
}

/* A new program for a build that has at least one stage, replacing the record's. */
static GLhandleARB kroReplaceProgram(kroShader *shader);

/* The GL objects one build has made so far; handles a record kept from an
 * earlier build (perhaps deleted since, perhaps reused by GL) are not among them. */
typedef struct kroBuildMade {
  GLhandleARB program, vertex_shader, fragment_shader; /* 0: not made by this build */
} kroBuildMade;

/* Undoes a build that failed half-way: the objects this build made are
 * deleted and the record is left empty, so no program is ever built from a
 * partial source. */
static void kroAbandonBuild(kroShader *shader, const kroBuildMade *made) {
  if (made->vertex_shader)
    glDeleteObjectARB(made->vertex_shader);
  if (made->fragment_shader)
    glDeleteObjectARB(made->fragment_shader);
  if (made->program)
    glDeleteObjectARB(made->program);
  free(shader->vertex_source);
  free(shader->fragment_source);
  memset(shader, 0, sizeof *shader);
}

static bool kroBuildStageFromFile(kroShader *shader, const kroStage &stage, const char *path,
                                  const char *macros, GLhandleARB *made) {
  *made = *stage.object = glCreateShaderObjectARB(stage.type);
  if (!kroAppendFile(stage, path, macros))
    return false;
  kroCompileAndAttach(shader, stage);
  return true;
}

void kroCreateShaderFromFileWithMacrosVF(kroShader *shader, const char *vertex_path,
                                         const char *fragment_path, const char *vertex_macros,
                                         const char *fragment_macros) {
  kroStage vertex = kroVertexStage(shader), fragment = kroFragmentStage(shader);
  kroBuildMade made = {0, 0, 0};
  if (vertex_path || fragment_path)
    made.program = kroReplaceProgram(shader);
  if ((vertex_path &&
       !kroBuildStageFromFile(shader, vertex, vertex_path, vertex_macros, &made.vertex_shader)) ||
      (fragment_path && !kroBuildStageFromFile(shader, fragment, fragment_path, fragment_macros,
                                               &made.fragment_shader))) {
    kroAbandonBuild(shader, &made);
    return;
  }
  if (vertex_path || fragment_path)
    glLinkProgramARB(shader->program);
  kroReleaseSource(vertex);
  kroReleaseSource(fragment);
}

void kroCreateShaderFromFileVF(kroShader *shader, const char *vertex_path,
                               const char *fragment_path) {
  kroCreateShaderFromFileWithMacrosVF(shader, vertex_path, fragment_path, nullptr, nullptr);
}

static bool kroBuildStageFromText(kroShader *shader, const kroStage &stage, const char *text,
                                  GLhandleARB *made) {
  *made = *stage.object = glCreateShaderObjectARB(stage.type);
  if (!kroCopyText(stage, text))
    return false;
  kroCompileAndAttach(shader, stage);
  return true;
}

void kroCreateShaderVF(kroShader *shader, const char *vertex_text, const char *fragment_text) {
  kroDestroyShader(shader);
  kroBuildMade made = {0, 0, 0};
  if (vertex_text || fragment_text)
    made.program = kroReplaceProgram(shader);
  if ((vertex_text &&
       !kroBuildStageFromText(shader, kroVertexStage(shader), vertex_text, &made.vertex_shader)) ||
      (fragment_text && !kroBuildStageFromText(shader, kroFragmentStage(shader), fragment_text,
                                               &made.fragment_shader))) {
    kroAbandonBuild(shader, &made);
    return;
  }
  if (vertex_text || fragment_text)
    glLinkProgramARB(shader->program);
}

/* True when `stage` is one of the shader objects attached to `program`. */
static bool kroIsAttached(GLhandleARB program, GLhandleARB stage) {
  GLuint attached[2];
  GLsizei count = 0;
  glGetAttachedShaders(program, 2, &count, attached);
  for (GLsizei i = 0; i < count; i++)
    if (attached[i] == stage)
      return true;
  return false;
}

/* A record keeps its stage handles after it is destroyed, so a handle may name
 * an object that is gone, or one GL has since given to someone else. Only a
 * stage still attached to the record's live program is ours to delete. When
 * the program is gone (deleted elsewhere, or its context replaced) nothing
 * vouches for the stage handles, and none of them reaches GL; a handle of 0
 * was never made. */
static void kroDeleteStage(GLhandleARB program, GLhandleARB stage) {
  if (!stage || !program || !glIsProgram(program) || !kroIsAttached(program, stage))
    return;
  glDetachShader(program, stage);
  glDeleteShader(stage);
}

/* Deletes the program a build has replaced with `current`, and the stages
 * still attached to it (a record built again without kroDestroyShader). A
 * handle of 0, one that names no program any more, or one GL has given to the
 * new program reaches no delete. */
static void kroDeleteReplacedProgram(const kroShader *replaced, GLhandleARB current) {
  if (!replaced->program || replaced->program == current || !glIsProgram(replaced->program))
    return;
  kroDeleteStage(replaced->program, replaced->vertex_shader);
  kroDeleteStage(replaced->program, replaced->fragment_shader);
  glDeleteObjectARB(replaced->program);
}

/* The record's old program is deleted once the new one exists, so the two
 * never share a name. */
static GLhandleARB kroReplaceProgram(kroShader *shader) {
  kroShader replaced = *shader;
  shader->program = glCreateProgramObjectARB();
  kroDeleteReplacedProgram(&replaced, shader->program);
  return shader->program;
}

/* The program object itself is kept, and so are the three handle values: the
 * next build of the record deletes the program. */
void kroDestroyShader(kroShader *shader) {
  kroDeleteStage(shader->program, shader->vertex_shader);
  kroDeleteStage(shader->program, shader->fragment_shader);
  kroReleaseSource(kroVertexStage(shader));
  kroReleaseSource(kroFragmentStage(shader));
}

static char kroShaderFolder[KRO_SHADER_FOLDER_CHARS + 1] = "sh";

int kroSetShaderFolder(const char *folder) {
  if (!folder || !*folder)
    folder = "sh";
  if (strlen(folder) > KRO_SHADER_FOLDER_CHARS) {
    kroFail("Error in kroSetShaderFolder(..): the folder name is longer than %d characters\n",
            (int)KRO_SHADER_FOLDER_CHARS);
    return -1;
  }
  strcpy(kroShaderFolder, folder);
  return 0;
}

const char *kroGetShaderFolder(void) {
  return kroShaderFolder;
}

/* A stage file's path: <shader folder>/<sub>/<name>.<stage>. */
static void kroShaderPath(char *path, size_t bytes, const char *sub, const char *name,
                          const char *stage) {
  snprintf(path, bytes, "%s/%s/%s.%s", kroShaderFolder, sub, name, stage);
}

/* Builds one fixed slot from <folder>/<sub>/<name>.vert and .frag, each after `macros`. */
static void kroLoadShaderPair(kroShader *shader, const char *sub, const char *name,
                              const char *macros) {
  char vertex[KRO_SHADER_FOLDER_CHARS + 32], fragment[KRO_SHADER_FOLDER_CHARS + 32];
  kroShaderPath(vertex, sizeof vertex, sub, name, "vert");
  kroShaderPath(fragment, sizeof fragment, sub, name, "frag");
  if (macros)
    kroCreateShaderFromFileWithMacrosVF(shader, vertex, fragment, macros, macros);
  else
    kroCreateShaderFromFileVF(shader, vertex, fragment);
}

void kroLoadShaders(void) {
  kroLoadShaderPair(&KRO_SHADER[128], "ish", "c", nullptr);
  kroLoadShaderPair(&KRO_SHADER[0], "ish", "b", nullptr);
  kroLoadShaderPair(&KRO_SHADER[1], "ish", "zki", nullptr);
  kroLoadShaderPair(&KRO_SHADER[64], "ish", "bt", nullptr);
  kroLoadShaderPair(&KRO_SHADER[2], "ish", "b",
                    "#define KRO_TEXTURED\n"); /* the lit drawing, textured */
}

void kroLoadPostProcessShaders(int resx, int resy) {
  char macros[KRO_MACRO_TEXT_SIZE];
  snprintf(macros, sizeof macros, "#define CANVAS_RESX %d\n#define CANVAS_RESY %d\n", resx, resy);
  kroLoadShaderPair(&KRO_POST_PROCESS_SHADER[0], "psh", "b", macros);
}

void kroDestroyShaders(void) {
  for (int i = 0; i < KRO_SHADER_SLOTS; i++)
    kroDestroyShader(&KRO_SHADER[i]);
}
