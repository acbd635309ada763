/*
 * kro - a small OpenGL engine for real-time demo productions.
 *
 * This header is the map of the whole engine: every record, global and entry
 * point, grouped by module. One source file per module sits beside it.
 *
 * Failure convention: a failing operation prints a fixed message to standard
 * output, then calls the error hook (kroErrorFunc). Whether or not the hook
 * returns, the operation then stops in an orderly way and hands back an empty
 * or null result; it never uses the allocation, file or index that failed.
 *
 * Single-threaded: most operations keep working state in static storage.
 * Everything that touches GL needs a current context.
 *
 * The declarations are C as well as C++: a C program includes this header and
 * links the library (with the C++ runtime, which the library itself uses).
 */
#ifndef KRO_H
#define KRO_H

/* Version of the engine and the intro: the one place it is written (the
 * build reads it from here). */
#define KRO_VERSION_MAJOR 1
#define KRO_VERSION_MINOR 0
#define KRO_VERSION_PATCH 0
#define KRO_VERSION_STRING "1.0.0"

#ifndef GL_GLEXT_PROTOTYPES
#define GL_GLEXT_PROTOTYPES
#endif
#include <GL/gl.h>
#include <GL/glext.h>
#ifdef __EMSCRIPTEN__
#include "kro_webgl.h" /* the legacy calls in WebGL's terms */
#endif
#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------ */
/* Error hook and bit utilities (kro_error.cpp)                              */
/* ------------------------------------------------------------------------ */

typedef void (*kroErrorFuncType)(void);
/* Receives each failure message (without its line end) and the caller's pointer. */
typedef void (*kroErrorMessageFuncType)(const char *message, void *user);

extern kroErrorFuncType kroErrorFunc; /* called after every failure message; null at start */
extern uint32_t KRO_TRUE_MASK[32];    /* entry i: only bit i set; zero until kroSetBitMasks */
extern uint32_t KRO_FALSE_MASK[32];   /* entry i: every bit but bit i; zero until kroSetBitMasks */

/* Set the error hook; null removes it */
void kroSetErrorFunc(kroErrorFuncType func);
/* Set the message hook, called after the message is printed and before the error hook; kept by
 * kroInit; null removes it */
void kroSetErrorMessageFunc(kroErrorMessageFuncType func, void *user);
/* Fill KRO_TRUE_MASK and KRO_FALSE_MASK */
void kroSetBitMasks(void);
/* 1 when bit `bit` (0..31) of value is set */
uint8_t kroGetBit(uint32_t value, int8_t bit);
/* The value with bit `bit` set */
uint32_t kroSetBitTrue(uint32_t value, int8_t bit);
/* The value with bit `bit` cleared */
uint32_t kroSetBitFalse(uint32_t value, int8_t bit);
/* Byte 0, the least significant */
uint8_t kroGet0thByte(uint32_t value);
/* Byte 1: bits 8..15 */
uint8_t kroGet1stByte(uint32_t value);
/* Byte 2: bits 16..23 */
uint8_t kroGet2ndByte(uint32_t value);
/* Byte 3, the most significant */
uint8_t kroGet3rdByte(uint32_t value);
/* Pointer into text at its last '.', or null when it has none */
char *kroStringAfterLastDot(char *text);

/* ------------------------------------------------------------------------ */
/* Output files, replaced whole or not at all (kro_file.cpp)                 */
/* ------------------------------------------------------------------------ */

/* Every file the engine writes goes out through these, by one rule:
 * - Whether a file may be written is its own permission, as for the shell's
 *   `>`: a file the user may not write is refused ("Permission denied"),
 *   one the user may write is written, whatever its folder allows.
 * - An existing regular file is replaced by a new file renamed over it when
 *   that keeps everything a user sees about it: its only name (one hard
 *   link), owner, group and permission bits, and it has no extended
 *   attributes (an ACL is one). Otherwise it is rewritten in place at the
 *   commit, its old content kept in memory and put back if the write fails;
 *   such a file the user may write but not read (mode 0200) is refused
 *   ("Permission denied"), as its old content could not be put back. A new
 *   destination gets 0666 less the umask.
 * - A symbolic link stays one: its final target is the file written.
 * - A path naming an open descriptor (/dev/stdout, /dev/stderr, /dev/fd/N,
 *   /proc/self/fd/N) writes to that descriptor as it stands, appending where
 *   it was opened to append; another device or a pipe is opened and written.
 * Until the commit every destination is as it was; after any failure, also
 * of one file of a commit of several, every destination holds what it held
 * (bytes already sent to a descriptor or device excepted) and no new file is
 * left. While files are open SIGXFSZ and SIGPIPE are ignored (their actions
 * are restored when the last one closes), so that a file size limit or a
 * pipe without reader is a failed write (EFBIG, EPIPE) and the commit is
 * undone. These functions print nothing: `error` gives the caller the
 * reason. */
enum { KRO_OUT_PATH_CHARS = 4096 }; /* longest path, terminator included */

typedef struct kroOutFileSink kroOutFileSink; /* what stands behind the stream; private */

typedef struct kroOutFile {
  FILE *file;                         /* write here between begin and commit; null otherwise */
  int error;                          /* errno value of the first failure; 0 while none */
  char target[KRO_OUT_PATH_CHARS];    /* the file written: the destination, links followed */
  char temporary[KRO_OUT_PATH_CHARS]; /* the new file renamed at the commit, or "" when the
                                         destination is written in place or directly */
  kroOutFileSink *sink;
} kroOutFile;

/* Start writing path; 0, or -1 with error set and nothing made */
int kroBeginOutFile(kroOutFile *out, const char *path);
/* Finish: check every write and put the content at the destination; 0, or -1 with error set,
 * the destination as it was and the new file removed */
int kroCommitOutFile(kroOutFile *out);
/* Finish `count` files as one: all are checked before the first destination changes, and after
 * any failure every destination changed so far gets its old content back; 0, or -1 (see each
 * error) */
int kroCommitOutFiles(kroOutFile *outs, int count);
/* Close and remove the new file, leaving the destination as it was; error gets the first failed
 * write, if any. Harmless after a failed begin or a commit */
void kroAbortOutFile(kroOutFile *out);
/* 1 when paths a and b name one destination (one file through links or hard links, or one new
 * name), else 0; a program refuses such a pair before writing anything */
int kroSameOutDestination(const char *a, const char *b);
/* Remove the new files of every out file in flight and put back old content being rewritten;
 * async-signal-safe, for a program's own signal handler */
void kroRemoveOutFilesNow(void);
/* Handle SIGINT, SIGTERM and SIGHUP (unless ignored) by kroRemoveOutFilesNow, then end by the
 * signal as its default would (a shell sees 128 + its number) */
void kroRemoveOutFilesOnSignals(void);

/* ------------------------------------------------------------------------ */
/* Object geometry: growable triangle arrays (kro_object.cpp)               */
/* ------------------------------------------------------------------------ */

/* A handle to an array of rows, one row of floats per triangle, made only by the
 * functions below. The rows of one growth or copy lie end to end in one block that
 * the array owns. The row count travels beside the handle; the row width follows
 * from the role: positions and vertex normals 9 floats, texture coordinates 6, real
 * (face) normals 3. Rows never move once made; null is the empty array. */
typedef float **kroObject;

enum {
  KRO_POSITION_FLOATS = 9,  /* x, y, z of vertices 0, 1, 2 */
  KRO_TEXCOORD_FLOATS = 6,  /* u, v of vertices 0, 1, 2 */
  KRO_REALNORMAL_FLOATS = 3 /* x, y, z of the face normal */
};

/* Grow positions or vertex normals by `added` 9-float rows; existing rows stay put */
void kroIncreaseObject(kroObject *object, int count, int added);
/* Grow texture coordinates by `added` 6-float rows */
void kroIncreaseTexCoords(kroObject *object, int count, int added);
/* Grow real (face) normals by `added` 3-float rows */
void kroIncreaseCoords(kroObject *object, int count, int added);
/* Independent copy of `count` 9-float rows; null on failure */
kroObject kroCopyObject(kroObject object, uint32_t count);
/* Independent copy of `count` 6-float rows; null on failure */
kroObject kroCopyTexCoords(kroObject object, uint32_t count);
/* Independent copy of `count` 3-float rows; null on failure */
kroObject kroCopyRealNormals(kroObject object, uint32_t count);
/* Release every row and the row block of any role (the count is not needed); null the handle */
void kroDestroyObject(kroObject *object, int count);
/* Fill the face normals (realn, 3-float rows) and the vertex normals (nc, 9-float rows) of
 * `triangles` rows from the positions (op); nc and realn must already hold that many rows. A
 * face normal is the unit vector along (p1 - p0) x (p2 - p0): the side from which p0, p1, p2
 * turn counter-clockwise, GL's default front. smooth 0: every vertex takes its face's normal;
 * otherwise each vertex takes the mean of the face normals of every triangle with a corner at
 * exactly its position (equal x, y and z), each weighted by that triangle's angle at the
 * corner, made unit length. A degenerate triangle (no area, or a coordinate that is not
 * finite) has the zero normal at its face and its corners, smooth or not, and adds nothing to
 * a mean; no normal is ever NaN. Null arrays: nothing is written. Smoothing takes one
 * allocation; when it fails (reported) the vertex normals are left flat. */
void kroComputeNormals(kroObject op, kroObject nc, kroObject realn, uint32_t triangles, int smooth);
/* Axis-aligned bounds of positions: the least and greatest x, y and z of every vertex, the box's
 * centre and half its diagonal (the radius of a sphere about the centre that holds the box).
 * Coordinates that are not finite are passed over. An empty set (no triangles, or none finite)
 * gives all zeros. */
typedef struct kroBounds {
  float low[3], high[3]; /* least and greatest x, y, z */
  float centre[3];       /* (low + high) / 2 */
  float radius;          /* half the diagonal, |high - low| / 2 */
} kroBounds;
/* Bounds of `count` 9-float rows; the number of vertices that counted */
long kroObjectBounds(kroObject op, uint32_t count, kroBounds *bounds);
/* Bounds of `objects` arrays together, array i with counts[i] rows; the vertices that counted */
long kroObjectsBounds(const kroObject *ops, const uint32_t *counts, int objects, kroBounds *bounds);

/* ------------------------------------------------------------------------ */
/* Transforms and camera (kro_transform.cpp)                                 */
/* ------------------------------------------------------------------------ */

/* Vectors are 3 floats; matrices 9 floats in row order, multiplying column vectors. */
/* Multiply every coordinate by f */
void kroScale1Object(kroObject object, uint32_t count, float f);
/* Multiply x, y and z of every vertex by sx, sy and sz */
void kroScaleObject(kroObject object, uint32_t count, float sx, float sy, float sz);
/* kroScaleObject with the factors as a vector */
void kroScalevObject(kroObject object, uint32_t count, const float *s);
/* Add dx, dy and dz to every vertex */
void kroTranslateObject(kroObject object, uint32_t count, float dx, float dy, float dz);
/* kroTranslateObject with the offsets as a vector */
void kroTranslatevObject(kroObject object, uint32_t count, const float *d);
/* vector = matrix x vector; the vector may alias the matrix */
void kroApply3x3MatrixToVector(const float *matrix, float *vector);
/* Rotation by `angle` radians about a unit axis, right-handed */
void kroCreateRotationMatrixFromNormalizedAxis(float *matrix, const float *axis, float angle);
/* Multiply the current matrix by a frustum; angle in degrees from the axis to the top edge */
void kroPerspectiveOGL(float angle, float aspect, float near_distance, float far_distance);
/* Set projection and model-view (mode left MODELVIEW) to show the bounds' box centred, its front
 * face filling the view's binding side (width or height) exactly; near and far hold the
 * bounds' sphere, so the model may turn about its centre (it may then overfill the view) */
void kroFrameBounds(const kroBounds *bounds, float angle, float aspect);

/* ------------------------------------------------------------------------ */
/* Shader programs (kro_shader.cpp)                                          */
/* ------------------------------------------------------------------------ */

/* One GLSL program with its two stages. A zero-filled record is empty. While a
 * source pointer is non-null its length is the number of bytes it holds (no
 * terminator counted). */
typedef struct kroShader {
  int vertex_length;           /* bytes of vertex source held */
  int fragment_length;         /* bytes of fragment source held */
  char *vertex_source;         /* owned heap copy, or null */
  char *fragment_source;       /* owned heap copy, or null */
  GLhandleARB program;         /* program object */
  GLhandleARB vertex_shader;   /* vertex shader object */
  GLhandleARB fragment_shader; /* fragment shader object */
} kroShader;

enum { KRO_SHADER_SLOTS = 512, KRO_POST_PROCESS_SLOTS = 4 };

extern kroShader KRO_SHADER[KRO_SHADER_SLOTS];                    /* slots 0, 1, 2, 64, 128 fixed */
extern kroShader KRO_POST_PROCESS_SHADER[KRO_POST_PROCESS_SLOTS]; /* entry 0 filled by kroInit */
extern int kroCurrentShader;            /* KRO_SHADER index used by the lit drawing */
extern int kroCurrentPostProcessShader; /* KRO_POST_PROCESS_SHADER index */

/* Copy a text into the vertex source, replacing (and releasing) what was held */
void kroLoadVertexShader(kroShader *shader, const char *text);
/* Copy a text into the fragment source, replacing (and releasing) what was held */
void kroLoadFragmentShader(kroShader *shader, const char *text);
/* Grow the vertex source by one (unfilled) byte */
void kroIncreaseVertexGLSL(kroShader *shader);
/* Grow the fragment source by one (unfilled) byte */
void kroIncreaseFragmentGLSL(kroShader *shader);
/* Append a file's bytes to the vertex source, after `macros` when given */
void kroLoadVertexShaderFromFile(kroShader *shader, const char *path, const char *macros);
/* Append a file's bytes to the fragment source, after `macros` when given */
void kroLoadFragmentShaderFromFile(kroShader *shader, const char *path, const char *macros);
/* Build and link a program from up to two files; the record keeps only its handles, and the
 * program it held before is deleted */
void kroCreateShaderFromFileVF(kroShader *shader, const char *vertex_path,
                               const char *fragment_path);
/* The same, each stage's file after its macro text */
void kroCreateShaderFromFileWithMacrosVF(kroShader *shader, const char *vertex_path,
                                         const char *fragment_path, const char *vertex_macros,
                                         const char *fragment_macros);
/* Rebuild the record from up to two texts in memory, keeping copies of them; the program it
 * replaces is deleted */
void kroCreateShaderVF(kroShader *shader, const char *vertex_text, const char *fragment_text);
/* Delete the stages still attached to the program, release sources (program and handles kept:
 * the next build deletes the program) */
void kroDestroyShader(kroShader *shader);
/* The folder the engine's shader files are read from (it holds ish/ and psh/); "sh", relative
 * to the working folder, until set. An installed engine keeps them in <prefix>/share/kro/sh
 * (the prefix it was configured with): the CMake package gives it as KRO_SHADER_DIR,
 * pkg-config as `pkg-config --variable=shaderdir kro`, and kroInit takes it by itself while the
 * folder is "sh" and the working folder has no sh/ish. A production names its own folder with
 * kroSetShaderFolder before kroInit (kroAppStart); a named folder is never replaced, so a
 * missing one is reported. Null or "" restores "sh"; a path over KRO_SHADER_FOLDER_CHARS is
 * refused. */
enum { KRO_SHADER_FOLDER_CHARS = 4000 };
/* Set the shader folder (copied); 0, or -1 after a report when it is too long */
int kroSetShaderFolder(const char *folder);
/* The current shader folder */
const char *kroGetShaderFolder(void);
/* Fill the fixed KRO_SHADER slots from <shader folder>/ish */
void kroLoadShaders(void);
/* Fill post-processing entry 0 from <shader folder>/psh */
void kroLoadPostProcessShaders(int resx, int resy);
/* kroDestroyShader on all 512 slots */
void kroDestroyShaders(void);

/* ------------------------------------------------------------------------ */
/* Immediate-mode object drawing (kro_draw.cpp)                              */
/* ------------------------------------------------------------------------ */

/* One glBegin(GL_TRIANGLES)..glEnd per call; colour arrays are 9-float rows (r, g, b per vertex).
 */
/* Vertices only */
void kroDrawObject(kroObject positions, uint32_t count);
/* One colour for every vertex */
void kroDrawColorObject(const float *color, kroObject positions, uint32_t count);
/* One normal for every vertex */
void kroDrawNormalObject(const float *normal, kroObject positions, uint32_t count);
/* One colour and one normal for every vertex */
void kroDrawColorNormalObject(const float *color, const float *normal, kroObject positions,
                              uint32_t count);
/* A colour before every vertex */
void kroDrawColorsObject(kroObject colors, kroObject positions, uint32_t count);
/* A normal before every vertex */
void kroDrawNormalsObject(kroObject normals, kroObject positions, uint32_t count);
/* A colour and a normal before every vertex */
void kroDrawColorsNormalsObject(kroObject colors, kroObject normals, kroObject positions,
                                uint32_t count);
/* Fixed two-light, one-material set-up, then per-vertex normals through
 * KRO_SHADER[kroCurrentShader]. It leaves behind: that program current (bind 0 for
 * fixed-function drawing); the light model's ambient colour (0.1, 0.1, 0.1, 1); the front
 * material's ambient colour (kroSetLightMaterialColor, alpha 1), emission (0, 0, 0, 1) and
 * shininess 128; lights 0 and 1 with ambient (1, 1, 1, 0), placed at (-1.5, 0, 0) and
 * (15, 15, 0) in the eye space of the model-view matrix current at the call, and both
 * constant attenuations 0. GL_LIGHTING and the lights are neither enabled nor disabled; the
 * three leading arguments are not read. The program takes the front ambient colour as the
 * surface colour, lit by the two lights' ambient colours through the normals: a zero normal
 * draws the surface unlit. */
void kroDrawLightMaterialNormalsObject(const void *reserved0, const void *reserved1,
                                       const void *reserved2, kroObject normals,
                                       kroObject positions, uint32_t count);
/* The front ambient colour (0..1) the lit drawing sets; (0, 1, 0) until set. The setting is
 * kept by kroInit and lasts until set again. */
void kroSetLightMaterialColor(float red, float green, float blue);
struct kroMesh;
struct kroMaterial;
/* Lit drawing in materials[material_ref]'s diffuse colour, or its diffuse texture if it has one
 * and the mesh has texture coordinates; as kroDrawLightMaterialNormalsObject but with the lights
 * placed in eye space as they stand (the model-view matrix is not applied): light 0 at the eye,
 * light 1 at (15, 15, 0), so what faces the viewer is lit, whatever the model's shape or turn.
 * A one-sided material's back faces are culled (the culling state given back after); either
 * form of mesh (rows or indexed) */
void kroDrawMesh(const struct kroMesh *mesh, const struct kroMaterial *materials, int count);
/* Unlit drawing of the same colour or picture (white times the picture), as a modelling tool's
 * flat, textured view shows it: no program, lighting off (left off), the colour set; a reference
 * outside the materials keeps the colour set. Texture state is left as kroDrawMesh leaves it */
void kroDrawMeshUnlit(const struct kroMesh *mesh, const struct kroMaterial *materials, int count);

/* ------------------------------------------------------------------------ */
/* Engine lifecycle (kro_init.cpp)                                           */
/* ------------------------------------------------------------------------ */

enum { KRO_INIT_PROGRAMS = 6 }; /* the five fixed object programs and the post-processing one */

/* Start the engine: bit masks, the fixed shaders (an installed engine's own folder when "sh" is
 * missing, see kroSetShaderFolder), the post-processing shader; clears the hook */
void kroInit(int resx, int resy);
/* How many of the KRO_INIT_PROGRAMS programs the last kroInit could not build: a file that is
 * missing or cannot be read, a stage that does not compile, a program that does not link.
 * 0: all built. KRO_INIT_PROGRAMS before the first kroInit. Needs the GL context kroInit ran
 * in only during kroInit: the answer is kept. */
int kroInitStatus(void);
/* Shut the engine down; releases nothing (the shaders go with kroDestroyShaders) */
void kroDestroy(void);

/* ------------------------------------------------------------------------ */
/* Live shaders: start, rebuild on the last-good rule, watch (kro_live.cpp)  */
/* ------------------------------------------------------------------------ */

/* Which file feeds which drawing: ish/b (KRO_SHADER[0], kroCurrentShader after kroInit) is the
 * lit drawing's program (kroDrawLightMaterialNormalsObject), and built again with KRO_TEXTURED
 * defined it is the textured one (KRO_SHADER[2], kroDrawMesh); ish/c, ish/zki and ish/bt fill
 * slots 128, 1 and 64 for a production's own use; psh/b is post-processing entry 0. */
enum {
  KRO_SHADER_PROBLEM_CHARS = 240, /* longest reason kept, terminator included */
  KRO_WATCHED_SHADER_FILES = 10,  /* ish/b feeds two of the six programs */
  KRO_WATCH_QUIET_MS = 60,        /* quiet time that ends a burst of writes */
  KRO_WATCH_POLL_MS = 100         /* between looks at the files without inotify */
};

typedef struct kroFileStamp {
  long long seconds, size, inode;
  long nanoseconds;
} kroFileStamp;

/* The shader folder being watched; a zero-filled record is closed. */
typedef struct kroShaderWatch {
  int open, polling; /* polling: file stamps looked at instead of inotify events */
  int fd, wd[2];     /* inotify, and its watches on ish/ and psh/; -1 while one is gone */
  char folder[KRO_SHADER_FOLDER_CHARS + 1];
  kroFileStamp stamps[KRO_WATCHED_SHADER_FILES];
  int pending;     /* a change seen since the last report */
  long last_event; /* ms, kroNowMs */
  long next_poll;  /* ms */
} kroShaderWatch;

/* kroInit, then the programs checked: how many of the six did not build, plus the files that
 * could not be read; the first reason is kroShaderProblem() */
int kroStartShaders(int resx, int resy);
/* The six programs built again from the shader folder. They replace the old ones only when all
 * build: 0, or the count as kroStartShaders gives it with the old programs kept and current
 * program 0. Display lists that use the old programs must be built again after a 0 */
int kroRebuildShaders(int resx, int resy);
/* Why the last start or rebuild failed: "FILES.stage: first log line", "FILES: not linked: ..."
 * or the engine's message for a file it could not read; "" when nothing failed */
const char *kroShaderProblem(void);
/* Milliseconds of a monotonic clock */
long kroNowMs(void);
/* A file's modification time, size and inode as one stamp; zeros for a missing file */
void kroStampFile(const char *path, kroFileStamp *stamp);
/* 1 when two stamps are the same, 0 when the file changed between them */
int kroSameFileStamp(const kroFileStamp *a, const kroFileStamp *b);
/* Watch <folder>/ish and <folder>/psh (null or "": the shader folder) with inotify, or, with
 * `poll` or where inotify is refused, by the files' times and sizes; 0, or -1 for a folder name
 * over KRO_SHADER_FOLDER_CHARS */
int kroOpenShaderWatch(kroShaderWatch *watch, const char *folder, int poll);
/* 1 once a shader file has changed and the folder has been quiet KRO_WATCH_QUIET_MS; else 0 */
int kroPollShaderWatch(kroShaderWatch *watch, long now_ms);
/* Stop watching; the record is left closed */
void kroCloseShaderWatch(kroShaderWatch *watch);

/* ------------------------------------------------------------------------ */
/* ASE scene reader, materials and lights (kro_ase*.cpp, kro_material.cpp)    */
/* ------------------------------------------------------------------------ */

/* ASE files are read as white-space separated tokens; listed keywords take
 * their values, every other token is passed over. A file (or stream) that
 * opens with a UTF-16 byte order mark, of either byte order, is read by every
 * reader as its UTF-8 twin: the mark dropped, names in UTF-8, an unpaired
 * surrogate as U+FFFD, counts bounded by its characters. A reader refuses a file
 * (message, hook, empty result) on: a token longer than KRO_ASE_TOKEN_CHARS, a
 * quoted name longer than its buffer or without its closing quote on the same
 * line, a missing or non-finite value, a count that is negative, repeated,
 * above KRO_ASE_MAX_COUNT or larger than the file could list, a list before
 * its count, an index outside its count, an object, light, node name or mesh
 * animation keyword among a face's values, and a file that ends inside a { }
 * block or a quoted text (cut off). Rows the file does not fill read 0. A
 * token that begins inside a quoted text, or right where a value ends, is
 * text: never a keyword or a brace. A refusal's message ends with the line
 * (from 1) where the reader stood, as in "... (cut off?) at line 1203", when
 * the stream can tell it (a pipe counts the lines it has read). */
enum {
  KRO_ASE_TOKEN_CHARS = 256,   /* longest token */
  KRO_ASE_NAME_CHARS = 255,    /* longest node name */
  KRO_ASE_BITMAP_CHARS = 1023, /* longest bitmap file name */
  KRO_ASE_MAX_COUNT = 1 << 22, /* most faces, vertices or materials of one list */
  KRO_ASE_MIN_ENTRY_BYTES = 8  /* no list entry is shorter: bounds a count by the file size */
};

enum { KRO_VERTEX_FLOATS = 8 }; /* an indexed mesh's vertex: position, unit normal, (u, v) */

/* A geometry object as kroLoadMeshArrayFromASE hands it back: triangle rows. The indexed form
 * (kroLoadSceneIndexed, kroIndexMesh) leaves the four row arrays null and keeps shared vertices
 * instead, `triangles` times three indices into them: what a GPU draws in one call. Every call
 * that takes a mesh takes either form unless it says otherwise. */
typedef struct kroMesh {
  kroObject op, nc, realn, tc; /* positions, vertex normals, real normals, texture coordinates */
  int triangles;               /* rows of each array, or index triples */
  int material_ref;            /* the object's *MATERIAL_REF, 0 when none */
  char node_name[KRO_ASE_NAME_CHARS + 1];
  float *vertex;   /* indexed: KRO_VERTEX_FLOATS a vertex, texture coordinates as tc's */
  uint32_t *index; /* indexed: 3 a triangle, counter-clockwise, each below `vertices` */
  int vertices;
  int has_tc; /* indexed: the texture coordinates come from the file (0 otherwise) */
  /* Vertex colours (glTF's COLOR_0) as display values, red, green, blue; null when the file has
   * none. Kept for a production's own drawing: kroDrawMesh draws the material's colour */
  kroObject colors; /* rows: 9 floats a row, as kroDrawColorsObject takes them */
  float *color;     /* indexed: 3 floats a vertex */
} kroMesh;

/* The picture maps a material keeps, in the order of its five texture names: map k may fill
 * texture[k] (only the diffuse map, the one drawn, is made a texture). Other map blocks of a
 * file (ambient, shininess, self-illumination, filter colour, refraction ...) are passed over. */
typedef enum kroMapKind {
  KRO_MAP_DIFFUSE = 0, /* *MAP_DIFFUSE: the surface's colour picture */
  KRO_MAP_BUMP,        /* *MAP_BUMP */
  KRO_MAP_SPECULAR,    /* *MAP_SPECULAR */
  KRO_MAP_OPACITY,     /* *MAP_OPACITY */
  KRO_MAP_REFLECT,     /* *MAP_REFLECT */
  KRO_MATERIAL_MAPS
} kroMapKind;

/* Longest picture name a map keeps: exporters write paths of at most 259 characters, and a
 * longer *BITMAP name in a map block refuses the material list (as an over-long name does). */
enum { KRO_MAP_NAME_CHARS = 259 };

/* What became of a map's picture. */
typedef enum kroMapState {
  KRO_MAP_NONE = 0, /* no such map, its texture was not asked for, or a kind not drawn */
  KRO_MAP_LOADED,   /* texture[k] holds it */
  KRO_MAP_MISSING,  /* no file by that name where the search looks (a warning was printed) */
  KRO_MAP_DAMAGED,  /* found, but the picture was refused (a warning was printed) */
  KRO_MAP_EMBEDDED  /* a picture inside the scene file (bitmap ""), its texture not asked for */
} kroMapState;

/* One map of a material: the picture's file name as the file writes it and how texture
 * coordinates (u, v) become picture coordinates (s, t): turned by `angle` about the
 * picture's centre (0.5, 0.5), scaled about it by the tilings, then moved by the offsets:
 *   s = 0.5 + u_offset + u_tiling * ((u - 0.5) cos(angle) - (v - 0.5) sin(angle))
 *   t = 0.5 + v_offset + v_tiling * ((u - 0.5) sin(angle) + (v - 0.5) cos(angle))
 * The picture repeats outside 0..1. */
typedef struct kroMaterialMap {
  int32_t state;                       /* a kroMapState */
  float u_offset, v_offset;            /* *UVW_U_OFFSET, *UVW_V_OFFSET; 0 when not given */
  float u_tiling, v_tiling;            /* *UVW_U_TILING, *UVW_V_TILING; 1 when not given */
  float angle;                         /* *UVW_ANGLE, radians; 0 when not given */
  char bitmap[KRO_MAP_NAME_CHARS + 1]; /* *BITMAP without its quotes; "" when none */
} kroMaterialMap;

/* Material record: colour, opacity, room for five GL texture names, the name, and the maps
 * (kroLoadMaterialsWithMapsFromASE fills them; kroLoadMaterialsFromASE leaves them zero). */
typedef struct kroMaterial {
  uint8_t flag;      /* cleared when read; not otherwise used */
  GLuint texture[5]; /* GL texture names, 0 = none; texture[k] is map k's (kroMapKind) */
  float diffuse[3];  /* red, green, blue, 0..1 */
  float opacity;     /* 1 - the file's transparency */
  /* The material's *MATERIAL_NAME without its quotes, each run of white space in it as one
   * blank, cut to KRO_ASE_NAME_CHARS; "" when none */
  char name[KRO_ASE_NAME_CHARS + 1];
  kroMaterialMap map[KRO_MATERIAL_MAPS]; /* indexed by kroMapKind */
  /* Back faces (clockwise on screen) are not drawn: glTF's materials unless "doubleSided" (its
   * default material too); 0 for ASE and OBJ materials, which show both sides */
  int one_sided;
} kroMaterial;

/* Read characters up to `stop` (dropped) into buffer; no length limit: the caller sizes it */
void kroReadStringToChar(FILE *stream, char *buffer, char stop);

/* Both loaders return the object's material reference. node_name must hold
 * KRO_ASE_NAME_CHARS + 1 bytes; the four handles must be empty. A refused file
 * leaves them empty with triangles 0, and returns 0. */
/* Geometry object `number` of the file (1 = first). */
int kroLoadMeshxFromASE(kroObject *op, kroObject *nc, kroObject *realn, kroObject *tc, int number,
                        const char *path, char *node_name, int *triangles);
/* The next geometry object of the stream; leaves the stream at the one after.
 * A stream that cannot seek (a pipe) cannot be moved back to the next
 * "*GEOMOBJECT": the engine holds the bytes it read ahead (at most one token
 * and its separator) for the next call on the same stream, so calls give every
 * object in order as on a file. A held stream is known by its address and its
 * descriptor's file; read it only through these calls until one returns at its
 * end, since the held bytes are no longer in the stream. The bytes live as long
 * as the stream: they are dropped when a reader reaches its end, and a stream
 * closed before that must be forgotten first (kroForgetASEStream), or a stream
 * opened later at the same address on the same file (a FIFO opened again)
 * would be served them. */
int kroLoadMeshFromASEfd(kroObject *op, kroObject *nc, kroObject *realn, kroObject *tc,
                         FILE *stream, char *node_name, int *triangles);
/* Drop the bytes held for stream, if any; call it before closing a stream not read to its end */
void kroForgetASEStream(FILE *stream);
/* Every geometry object in file order; returns the count */
int kroLoadMeshArrayFromASE(kroMesh **meshes, const char *path);
/* Bounds of `count` meshes together (kroBounds; kro_object.cpp); the vertices that counted */
long kroMeshBounds(const kroMesh *meshes, int count, kroBounds *bounds);
/* Move and scale the meshes so their bounds (updated) are the unit sphere's about the origin */
void kroFitMeshes(kroMesh *meshes, int count, kroBounds *bounds);
/* Destroy each mesh's arrays (either form), free the array, null it */
void kroFreeMeshArray(kroMesh **meshes, int count);
/* A mesh's rows turned into the indexed form, three vertices a triangle (normals from nc), the
 * rows destroyed; an indexed mesh is left as it is. 0 (reported; the rows kept) when memory
 * fails or the rows lack positions or normals. */
int kroIndexMesh(kroMesh *mesh);
/* The counters walk the file as the loaders do (a keyword inside a quoted
 * text is text, not an object); a file whose walk is refused counts 0. */
/* Number of geometry objects ("*GEOMOBJECT") */
int kroObjectsInASE(const char *path);
/* Number of light objects ("*LIGHTOBJECT") */
int kroLightsInASE(const char *path);
/* Both counts in one pass */
void kroObjectsAndLightsInASE(const char *path, int *objects, int *lights);
/* Where each geometry object begins: the byte offset of its "*GEOMOBJECT", in
 * file order, through *offsets (a new array, release with free; null when
 * none). Returns the count, as kroObjectsInASE. A stream of the file moved to
 * offsets[i] gives object i + 1 to kroLoadMeshFromASEfd. Offsets are those of
 * the file as stored: in a UTF-16 file they count its 2-byte units and the
 * byte order mark, so they are not its UTF-8 twin's, but they find the same
 * objects. */
int kroObjectOffsetsInASE(const char *path, long **offsets);

/* The stream's first word as every reader sees it (a UTF-16 file as UTF-8),
 * at most `chars` bytes of it into word (chars + 1 bytes); returns its length.
 * Reports nothing: tools check a file's export keyword with it. */
int kroReadASEFirstWord(FILE *stream, char *word, int chars);
/* New material array through *materials; returns the count */
int kroLoadMaterialsFromASE(kroMaterial **materials, const char *path);
/* Materials with their maps. Reads what kroLoadMaterialsFromASE reads (the same colours,
 * opacities and names, the same refusals inside the material list), and in each material the
 * map blocks of kroMapKind with their *BITMAP and *UVW_ values; it stops at the end of the
 * *MATERIAL_LIST block (the rest of the file is neither read nor checked). A material with
 * sub-materials is drawn as one (objects carry one material number): its own maps stand, and
 * each kind it lacks is taken from the first sub-material, in file order, that has one; the
 * sub-materials' colours are not used. With `textures` non-zero (needs a GL context) the
 * diffuse map's picture, the one kroDrawMesh draws, is looked for with kroFindMapFile
 * (`folders`: folder_count folders, may be null) and becomes texture[KRO_MAP_DIFFUSE]
 * (mipmapped, repeating); the other kinds keep their names and transforms, no texture, state
 * KRO_MAP_NONE. With 0 only the names and transforms are read (kroLoadMaterialTextures makes
 * the textures later). A missing or refused picture is
 * a warning on standard output with the reason ("Warning: ...", no hook) and leaves the
 * material its colour; it never fails the read. */
int kroLoadMaterialsWithMapsFromASE(kroMaterial **materials, const char *path,
                                    const char *const *folders, int folder_count, int textures);
/* The textures of the diffuse maps that have a picture name and no texture yet (materials read
 * without textures, or whose textures were deleted and zeroed to load them again), found
 * (path: the ASE file they came from, or null) and warned about as above; needs a GL context.
 * Returns the textures made */
int kroLoadMaterialTextures(kroMaterial *materials, int count, const char *path,
                            const char *const *folders, int folder_count);
/* Where a map's picture is: an absolute `bitmap` as written; a relative one beside the ASE file
 * (path; null for a model without a file: nothing is looked for beside it), then in the working
 * folder; its base name (after the last /
 * or \) beside the ASE file, then in each folder, each place first exactly and then ignoring
 * case. 1 with the file's path in found (cut to found_chars - 1); 0 when none is a readable
 * regular file */
int kroFindMapFile(const char *bitmap, const char *path, const char *const *folders,
                   int folder_count, char *found, int found_chars);
/* Replace the texture matrix of the active texture unit with a map's transform (the matrix
 * mode is left as it was) */
void kroLoadMapTransform(const kroMaterialMap *map);
/* Short English name of a map kind ("diffuse", ...) or state ("missing", ...) */
const char *kroMapKindName(int kind);
const char *kroMapStateName(int state);
/* glDeleteTextures on the five names, which become 0; frees nothing */
void kroDestroyMaterial(kroMaterial *material);
/* Destroy each material, free the array, null it */
void kroFreeMaterials(kroMaterial **materials, int count);
/* Loads no lights: always 0 */
int kroLoadLightsFromASE(void);

/* ------------------------------------------------------------------------ */
/* Scenes of any format, OBJ with MTL (kro_scene.cpp, kro_obj.cpp)           */
/* ------------------------------------------------------------------------ */

/* A scene file's format, told by its content, never its name: ASE opens with a "*" keyword
 * (UTF-16 files as every ASE reader sees them); glTF is a binary container opening with
 * "glTF" or a JSON text opening with "{"; OBJ opens (after blank and "#" comment lines) with
 * one of its keywords (v, vt, vn, f, o, g, s, l, p, mtllib, usemtl). Up axis: the engine turns
 * no format; ASE and OBJ come as their files have them (ASE exporters write Z up; Blender's OBJ
 * exporter writes Y up unless told otherwise); glTF files are Y up. */
typedef enum kroSceneFormat {
  KRO_SCENE_UNKNOWN = 0,
  KRO_SCENE_ASE,
  KRO_SCENE_OBJ,
  KRO_SCENE_GLTF
} kroSceneFormat;

/* A node's own transform: translated, after rotation, after scale (T R S), in the units of
 * its parent. */
typedef struct kroNodePose {
  float translation[3];
  float rotation[4]; /* unit quaternion x, y, z, w */
  float scale[3];
} kroNodePose;

/* One node of a scene's tree (glTF: the file's node of the same index, whether its scene
 * draws it or not). Matrices are 4 x 4, column-major (as glLoadMatrixf takes them). */
typedef struct kroSceneNode {
  char name[KRO_ASE_NAME_CHARS + 1]; /* "" when unnamed */
  int parent;                        /* index of its parent node, -1 for a root */
  kroNodePose pose;                  /* at rest; identity when the file gives a matrix */
  float local[16];                   /* at rest: the pose's matrix, or the file's matrix */
  float world[16];                   /* at rest: the parents' local matrices times local */
  int mesh, camera, light;           /* indices into the file's lists, -1 when none */
  int animated;                      /* 1 when an animation channel moves it */
} kroSceneNode;

/* A camera looks down its node's -Z, +Y up (the node's world matrix places it). */
typedef struct kroSceneCamera {
  char name[KRO_ASE_NAME_CHARS + 1];
  int orthographic; /* 0: perspective */
  float yfov;       /* perspective: the whole vertical angle, radians */
  float aspect;     /* perspective: width / height, 0 when the file leaves it to the window */
  float xmag, ymag; /* orthographic: half the view's width and height */
  float znear;
  float zfar; /* 0 (perspective only): no far plane */
  int node;   /* the first node carrying it, -1 when none */
} kroSceneCamera;

typedef enum kroLightKind {
  KRO_LIGHT_DIRECTIONAL = 0, /* shines down its node's -Z */
  KRO_LIGHT_POINT,
  KRO_LIGHT_SPOT /* a cone about its node's -Z */
} kroLightKind;

/* A punctual light (glTF KHR_lights_punctual); intensity in the file's physical units:
 * lux for directional lights, candela for point and spot lights. */
typedef struct kroSceneLight {
  char name[KRO_ASE_NAME_CHARS + 1];
  int kind;         /* a kroLightKind */
  float color[3];   /* linear red, green, blue, 0..1; white when not given */
  float intensity;  /* 1 when not given */
  float range;      /* 0: unbounded */
  float inner_cone; /* spot: radians from the axis where the light starts to fall off */
  float outer_cone; /* spot: radians from the axis where it ends */
  int node;         /* the first node carrying it, -1 when none */
} kroSceneLight;

typedef enum kroAnimationPath {
  KRO_PATH_TRANSLATION = 0,
  KRO_PATH_ROTATION,
  KRO_PATH_SCALE
} kroAnimationPath;

typedef enum kroInterpolation {
  KRO_INTERPOLATE_STEP = 0, /* a key's value holds until the next key */
  KRO_INTERPOLATE_LINEAR,   /* straight between keys; rotations by the shorter-arc slerp */
  KRO_INTERPOLATE_CUBIC     /* Hermite through the keys with the file's tangents */
} kroInterpolation;

/* Keys of one animated value: `width` floats a value (3, or 4 for a rotation). LINEAR and
 * STEP hold one value a key; CUBIC three (in-tangent, value, out-tangent, each per second). */
typedef struct kroAnimationSampler {
  int interpolation; /* a kroInterpolation */
  int keys;          /* 0 for a sampler no kept channel uses (not read) */
  int width;
  float *times;  /* keys seconds, strictly increasing */
  float *values; /* keys * width floats, or keys * 3 * width for CUBIC */
} kroAnimationSampler;

/* A channel moves one part of one node's pose by one sampler. */
typedef struct kroAnimationChannel {
  int node;    /* index into the scene's nodes */
  int path;    /* a kroAnimationPath */
  int sampler; /* index into its animation's samplers */
} kroAnimationChannel;

typedef struct kroAnimation {
  char name[KRO_ASE_NAME_CHARS + 1];
  kroAnimationChannel *channels;
  int channel_count;
  kroAnimationSampler *samplers;
  int sampler_count;
  float start, end; /* the earliest and the latest key of its samplers, seconds */
} kroAnimation;

/* Everything a scene file draws: meshes as kroLoadMeshArrayFromASE gives them, each
 * material_ref an index into materials (kroDrawMesh(mesh, materials, material_count)); for
 * glTF also its node tree, cameras, lights and animations (empty for ASE and OBJ). */
typedef struct kroScene {
  kroMesh *meshes;
  int mesh_count;
  kroMaterial *materials;
  int material_count;
  int format; /* a kroSceneFormat */
  kroSceneNode *nodes;
  int node_count;
  kroSceneCamera *cameras;
  int camera_count;
  kroSceneLight *lights;
  int light_count;
  kroAnimation *animations;
  int animation_count;
} kroScene;

/* Limits of the OBJ reader: a file is read whole, at most this many bytes; each of its lists
 * (positions, texture coordinates, normals, triangles of the whole file) holds at most
 * KRO_ASE_MAX_COUNT entries. */
enum { KRO_OBJ_MAX_BYTES = 1 << 30 };

/* The format of the file at path by its first bytes; KRO_SCENE_UNKNOWN when it cannot be read
 * or is none of them. Reports nothing. */
int kroSceneFormatOf(const char *path);
/* "ASE", "OBJ", "glTF", or "unknown" */
const char *kroSceneFormatName(int format);
/* Load the scene at path, whatever its format: ASE through kroLoadMeshArrayFromASE and
 * kroLoadMaterialsWithMapsFromASE (folders none), OBJ through kroLoadSceneFromOBJ, glTF
 * through kroLoadMeshArrayFromGLTF, kroLoadMaterialsFromGLTF and kroLoadNodesFromGLTF; with
 * `textures` non-zero (needs a GL context) the diffuse maps become textures. Returns the mesh
 * count. A refused file (an unknown format is refused: message, hook) leaves the scene empty,
 * nothing allocated. Release with kroFreeScene. */
int kroLoadScene(kroScene *scene, const char *path, int textures);
/* As kroLoadScene, every mesh in the indexed form: a glTF primitive with normals keeps the
 * file's own vertices and indices (turned to world space); an OBJ mesh whose corners all give a
 * normal gets one vertex for each distinct position, texture coordinate and normal it names; a
 * glTF primitive or OBJ mesh without normals and ASE meshes get three vertices a triangle
 * (kroIndexMesh). Faster and smaller for large files; kroDrawMesh, kroDrawMeshUnlit,
 * kroMeshBounds and kroFitMeshes take it. */
int kroLoadSceneIndexed(kroScene *scene, const char *path, int textures);
/* Free the meshes, materials (their textures deleted), nodes, cameras, lights and animations,
 * and empty the record */
void kroFreeScene(kroScene *scene);
/* A path as kroSceneFiles gives it */
typedef char kroScenePath[KRO_OUT_PATH_CHARS];
/* The other files kroLoadScene reads the geometry and materials of the scene at path from, in
 * the order it reads them, for a tool that watches them: an OBJ file's material libraries (as
 * mtllib names them, relative to the OBJ file's folder, found or not), a glTF file's buffer
 * files (URIs relative to the file; data: URIs and a GLB's own chunk are not files). Pictures
 * are not listed: kroFindMapFile finds them (an OBJ file's beside its library). ASE and files
 * of no known format have none. Returns the count, the paths through *files (a new array,
 * release with free; null when none). A scene file that cannot be read gives 0 and is reported
 * as kroLoadScene reports it. */
int kroSceneFiles(const char *path, kroScenePath **files);

/* An OBJ file and the MTL libraries it names. Lines: v x y z (more values passed over), vt u
 * [v] (v 0 when left out), vn x y z, f with corners v, v/vt, v//vn or v/vt/vn (1-based from
 * the first entry of the file, or negative: -1 the last read so far), o and g (the name: the
 * rest of the line, blank runs as one blank, cut to KRO_ASE_NAME_CHARS), usemtl, mtllib (each
 * blank-separated name a library, relative to the OBJ file's folder), "\" at a line's end
 * joining the next line; s, l, p, "#" comments and other keywords are passed over; CR LF
 * reads as LF. A face of n corners becomes n - 2 triangles fanned from its first corner. Each
 * run of faces under one name and one material is one mesh, in file order (a name or
 * material that comes back starts a new mesh). A mesh whose corners all give a normal keeps
 * them, otherwise its normals are computed smooth (kroComputeNormals); texture coordinates a
 * corner lacks read 0. MTL: newmtl, Kd (diffuse; white when left out, so a textured material
 * shows its picture), d (opacity) or Tr (1 - opacity); map_Kd, map_Bump or bump, map_Ks,
 * map_d and refl fill the diffuse, bump, specular, opacity and reflect maps: a picture name
 * after the options, -o u v and -s u v as the map's offset and tiling about the origin, other
 * options passed over; pictures are found as ASE maps are, beside the library. Ks, Ns, Ka and
 * illum have no place in kroMaterial. A usemtl no library holds (or faces before any usemtl)
 * adds a white material of that name (a warning), so every material_ref is valid; a library
 * that cannot be opened is a warning. Refused (message ending "at line N", hook, empty scene):
 * an index of 0, or outside the entries read so far, a corner of another form, a face of
 * fewer than 3 corners, a value that is not a finite number, a map picture name over
 * KRO_MAP_NAME_CHARS, a material property before newmtl, more than KRO_ASE_MAX_COUNT of a
 * list, more than 4096 materials or 64 libraries, a zero byte, a file over KRO_OBJ_MAX_BYTES.
 * A failed allocation (the smoothing's too) is reported and leaves the scene empty as well.
 * Returns the mesh count (0 for a file without faces: its materials are kept). */
int kroLoadSceneFromOBJ(kroScene *scene, const char *path, int textures);

/* ------------------------------------------------------------------------ */
/* glTF scene reader (kro_gltf.cpp)                                          */
/* ------------------------------------------------------------------------ */

/* glTF 2.0 as a .gltf text (buffers in files beside it, named by relative URIs with %XX
 * escapes, or in base64 data: URIs) or a .glb container (header, JSON chunk, optional BIN
 * chunk; every length must lie within the file, whose size the header must give). Read: the
 * default scene's node tree (or, without scenes, every parentless node) flattened to world
 * transforms (matrix, or translation, rotation, scale); each primitive of each node's mesh is
 * one kroMesh in world space, named by its node ("" when unnamed). Primitives must be
 * triangles (mode 4 or none); POSITION and NORMAL float VEC3, TEXCOORD_0 VEC2 of floats or of
 * unsigned bytes or shorts (normalized to 0..1 when the accessor says so), indices of
 * unsigned bytes, shorts or ints, or none (the vertices in order). realn is always computed;
 * nc is the file's normals turned with the node (unit length), or the face normals when it
 * has none. Texture coordinates become the engine's (u, 1 - v): (0, 0) is the picture's lower
 * left corner. A mirroring node (negative determinant) has its triangles' corners swapped so
 * they stay counter-clockwise. Axes: none are changed; glTF is +Y up and records come as the
 * file has them (Blender's exporter writes its Z-up point (x, y, z) as (x, z, -y)). Cameras,
 * lights and animations: kroLoadNodesFromGLTF; skins, morph targets and vertex colours are not
 * read. Refused (message, hook, empty result), naming the reason and, for a fault inside the
 * JSON text, its line ("... at line 12"): malformed JSON, a version other than 2.x, any index
 * outside its list, an accessor or buffer view running past what holds it, a stride smaller
 * than its element, sparse accessors, a component type or accessor type not listed above,
 * attributes of unequal counts, an index past the vertices, corners not a multiple of three,
 * a node that is its own ancestor (a cycle) or the child of two nodes, a buffer shorter than
 * its byteLength, a buffer URI with a scheme or an absolute path, and a rotation
 * that is the zero quaternion. Nothing is allocated for a count before it is checked against its
 * buffer. */
/* Every mesh instance of the file; returns the count (0 when refused, *meshes null) */
int kroLoadMeshArrayFromGLTF(kroMesh **meshes, const char *path);
/* The file's materials, then one more: the default material (white, opaque, name ""), which
 * the primitives without a material reference (material_ref). diffuse is the base colour
 * factor's red, green and blue (linear light) encoded with the sRGB curve, the display values
 * the engine draws and pictures hold; opacity is its alpha as written. The base colour texture
 * is the diffuse map: a picture file's relative URI
 * in bitmap, found as kroFindMapFile does beside the file, or a picture inside the file (a
 * buffer view or a data: URI; bitmap "", state KRO_MAP_EMBEDDED when textures is 0), decoded
 * only with textures. KHR_texture_transform becomes the map's transform (exact unless a
 * rotation other than a multiple of a quarter turn turns unequal scales: a warning). textures
 * as for
 * kroLoadMaterialsWithMapsFromASE (non-zero needs a GL context; warnings, never a refusal,
 * for pictures that cannot be used). Returns the count (0 when refused, *materials null) */
int kroLoadMaterialsFromGLTF(kroMaterial **materials, const char *path, int textures);
/* The file's whole node table, cameras, KHR_lights_punctual lights and animations into
 * scene's nodes, cameras, lights and animations (its meshes, materials and format untouched;
 * kroLoadScene calls it for glTF; the four lists, released first, must be empty or a reader's).
 * Nodes keep the file's indices; a node's camera, light (extensions.KHR_lights_punctual.light) and
 * mesh are indices into the file's lists. Each of the four lists holds at most KRO_ASE_MAX_COUNT
 * entries, each sampler at most KRO_ASE_MAX_COUNT keys. Animation channels of translation, rotation
 * or scale are read; a channel moving morph target weights is passed over with a warning, one
 * without a target node is passed over. Keys: input SCALAR floats, strictly increasing; output VEC3
 * floats (translation, scale) or VEC4 (rotation: floats, or normalized bytes or shorts), as many
 * values as keys (three times as many for CUBICSPLINE); only samplers a kept channel uses are
 * read. Refused as kroLoadMeshArrayFromGLTF refuses (its node tree rules and accessor checks,
 * message with the line, hook; the four lists left empty): any index outside its list, a
 * camera or light type other than those listed or without its required values (perspective
 * yfov and znear above 0, zfar above znear; orthographic xmag, ymag non-zero, znear 0 or more,
 * zfar above it; a spot's cones 0 <= inner < outer <= pi / 2), a negative intensity or a range
 * not above 0, an interpolation other than STEP, LINEAR or CUBICSPLINE, a path not listed,
 * key times not strictly increasing or not finite, output and input counts that do not match,
 * one sampler serving channels of different widths, and an animated node that gives a matrix.
 * Returns the node count (0 when refused). */
int kroLoadNodesFromGLTF(kroScene *scene, const char *path);

/* ------------------------------------------------------------------------ */
/* Scene nodes, cameras and animations (kro_anim.cpp)                        */
/* ------------------------------------------------------------------------ */

/* Sampling: before a sampler's first key its first value, after its last key its last value;
 * between keys k and k + 1 (s = (t - t[k]) / (t[k+1] - t[k])), STEP gives key k's value, LINEAR
 * (1 - s) v[k] + s v[k+1], for rotations the spherical interpolation along the shorter arc
 * (v[k+1] negated when the two point apart: a sign flip between neighbouring keys does not
 * spin the long way round), normalized; CUBIC the Hermite curve with v[k]'s out-tangent and
 * v[k+1]'s in-tangent, each times the interval t[k+1] - t[k] (rotations normalized). */
/* One sampler's value at t seconds into value (sampler->width floats); zeros when it has no keys */
void kroSampleKeys(const kroAnimationSampler *sampler, double t, float *value);
/* Every node's pose (scene->node_count of them) at t seconds of animation `animation`: the
 * rest pose, with each of the animation's channels sampled onto it; animation -1: the rest
 * poses. Returns the channels applied; an animation index out of range fails (message, hook,
 * the rest poses, 0) */
int kroSampleAnimation(const kroScene *scene, int animation, double t, kroNodePose *poses);
/* The pose's matrix: translation times rotation times scale, column-major */
void kroPoseMatrix(const kroNodePose *pose, float *matrix);
/* A node's world matrix (16 floats, column-major) at t seconds of animation `animation` (-1:
 * at rest, the node's world): each of its ancestors' and its own local matrix (sampled pose
 * when the animation moves it), composed from the root down. 1; a node or animation index out
 * of range fails (message, hook, identity, 0) */
int kroSceneNodeMatrix(const kroScene *scene, int animation, int node, double t, float *matrix);
/* The view matrix of a camera's node (looking down its -Z, +Y up) at t: the inverse of its
 * world matrix, for the model-view before the scene's world-space meshes are drawn. Fails as
 * kroSceneNodeMatrix does, and on a matrix that cannot be inverted */
int kroSceneViewMatrix(const kroScene *scene, int animation, int node, double t, float *matrix);
/* The camera's projection matrix (column-major, for glLoadMatrixf): perspective with the
 * camera's aspect, or `aspect` (the view's width / height) when it has none, without a far
 * plane when zfar is 0; or orthographic */
void kroCameraProjection(const kroSceneCamera *camera, float aspect, float *matrix);

/* ------------------------------------------------------------------------ */
/* Mesh source generator (kro_meshsrc.cpp)                                   */
/* ------------------------------------------------------------------------ */

/* Writes the next geometry object of an ASE stream as the source text of a
 * loader function "loadMesh<name>" of the kroMeshLoader type below: compiled
 * into a program, it grows the four empty arrays to the object's triangles and
 * fills them, copies the node name (KRO_ASE_NAME_CHARS + 1 bytes) and sets the
 * triangle count, as kroLoadMeshFromASEfd would. `krotool mesh-src --header`
 * writes a header declaring a file's loaders.
 * Refused input, and a stream with no "*GEOMOBJECT" left, are failures
 * (message, hook) and get no function at all: the text is written only once
 * the object is whole. Messages go into C comments when the text goes to
 * standard output. A stream that cannot seek (a pipe) is read as
 * kroLoadMeshFromASEfd reads it. */
typedef void (*kroMeshLoader)(kroObject *op, kroObject *nc, kroObject *realn, kroObject *tc,
                              char *node_name, int *triangles);
/* One row of the material table `krotool mesh-src --materials` writes: the
 * file's material number (a loader's material, as the --header comments give
 * it), its name and its diffuse colour (red, green, blue, 0..1), then its
 * diffuse map as kroMaterialMap keeps it (file name as the model writes it, ""
 * for none; a row without a map has offsets 0, tilings 1, angle 0). */
typedef struct kroMaterialEntry {
  int number;
  const char *name;
  float diffuse[3];
  const char *diffuse_map;
  float map_offset[2]; /* u, v */
  float map_tiling[2]; /* u, v */
  float map_angle;     /* radians */
} kroMaterialEntry;
/* One row of the scene table `krotool mesh-src --table` writes: an object's node name, its
 * loader, its triangle count, its material number (the row with that number in the
 * --materials table, and kroMesh's material_ref) and its bounds as the file places it. Drawing
 * every row draws the whole scene. */
typedef struct kroSceneEntry {
  const char *name;
  kroMeshLoader loader;
  int triangles;
  int material;
  kroBounds bounds;
} kroSceneEntry;
/* Source text of a loader for the stream's next object, to standard output */
void kroCreateSrcMeshFromASEfd(FILE *stream, const char *name);
/* The same to `out`; returns 0 when the object was refused or missing. */
int kroWriteSrcMeshFromASEfd(FILE *stream, const char *name, FILE *out);
/* A loader with the same name and signature that fills the same arrays with
 * the same floats from static tables (each distinct position, texture
 * coordinate and normal once, and corner numbers per face): source that
 * compiles many times faster. The stream is left as the function above leaves
 * it; returns 0 when the object was refused. */
int kroWriteCompactSrcMeshFromASEfd(FILE *stream, const char *name, FILE *out);
/* A loader of the same kind for a mesh record already read (a kroScene's mesh, whatever the
 * file's format): every row of its four arrays, each float written so that it reads back
 * exactly, so the loader builds the record bit for bit, node name included (a record without
 * texture coordinates, tc null, gets rows of zeros). 0 (message, hook, nothing written) for a
 * null record or one whose positions or normals lack its rows (an indexed mesh has none). Vertex
 * colours are not written. */
int kroWriteSrcMeshFromRecord(const kroMesh *mesh, const char *name, FILE *out);
/* The same as a compact loader (static tables, each distinct value once) */
int kroWriteCompactSrcMeshFromRecord(const kroMesh *mesh, const char *name, FILE *out);

/* ------------------------------------------------------------------------ */
/* BMP images (kro_bmp.cpp)                                                  */
/* ------------------------------------------------------------------------ */

/* Bitmap: width x height pixels of 4 bytes (red, green, blue, alpha), rows
 * unpadded, row 0 first; row 0 is the bottom row of the picture. Its size
 * travels as an int32_t pair (width, height) passed by address. Buffers
 * returned here belong to the caller (release with free).
 *
 * The reader takes 24-bit uncompressed files only: bottom-up or top-down,
 * rows unpadded (the engine's own files, told apart by their exact size) or
 * padded to 4 bytes (ordinary files). Anything else is refused. */
enum {
  KRO_BMP_HEADER_BYTES = 54,          /* file header and information header */
  KRO_BMP_MAX_PIXELS = 0x7FFFFFFF / 4 /* width x height: 4-byte buffer fits in 31 bits */
};

/* Why kroDecodeBMP refused a file (KRO_BMP_OK: it did not). */
typedef enum kroBMPStatus {
  KRO_BMP_OK = 0,
  KRO_BMP_CANNOT_OPEN, /* missing or unreadable file */
  KRO_BMP_NO_MEMORY,   /* the pixel buffer could not be allocated */
  KRO_BMP_NOT_BMP,     /* no "BM" signature, or the header is cut short */
  KRO_BMP_BAD_HEADER,  /* information header or pixel data offset out of range */
  KRO_BMP_NOT_24_BIT,  /* bits per pixel other than 24 */
  KRO_BMP_COMPRESSED,  /* compression other than none */
  KRO_BMP_BAD_SIZE,    /* zero, negative or absurd width or height */
  KRO_BMP_TRUNCATED    /* fewer pixel bytes than the size needs */
} kroBMPStatus;

/* Read a 24-bit BMP without reporting; null and a status on refusal */
uint8_t *kroDecodeBMP(const char *path, int32_t *size, kroBMPStatus *status);
/* Short English reason for a status */
const char *kroBMPStatusText(kroBMPStatus status);
/* Read a 24-bit BMP; size gets width, height; null on failure */
uint8_t *kroLoadBMP(const char *path, int32_t *size);
/* Write a 24-bit BMP, rows padded to 4 bytes, replacing path whole (see kroBeginOutFile); 0, or
 * EOF after a report, with errno telling why an open, write or close failed. A size kroLoadBMP
 * would refuse is refused before anything is opened. */
int kroExportBMP(const char *path, const uint8_t *pixels, const int32_t *size);
/* Box-filter resample into a new buffer */
uint8_t *kroResizeBitmap(const uint8_t *pixels, const int32_t *size, const int32_t *new_size);

/* ------------------------------------------------------------------------ */
/* PNG reader (kro_png.cpp)                                                  */
/* ------------------------------------------------------------------------ */

/* Container walk only: the image data comes back still compressed (the zlib
 * stream of filtered rows), every image data chunk's payload in file order. */
enum { KRO_PNG_BUFFER_BYTES = 1920000 }; /* size of the buffer kroLoadPNG returns */

/* What a chunk walk found. */
typedef struct kroPNGInfo {
  int32_t width;        /* pixels */
  int32_t height;       /* pixels */
  uint8_t bit_depth;    /* bits per sample */
  uint8_t color_type;   /* 0 grey, 2 RGB, 3 palette, 4 grey+alpha, 6 RGBA */
  uint8_t compression;  /* 0 is the only known method */
  uint8_t filter;       /* filter method */
  uint8_t interlace;    /* 0 none, 1 Adam7 */
  uint32_t data_chunks; /* image data chunks */
  uint32_t data_bytes;  /* their payloads together, bytes */
} kroPNGInfo;

/* Walk a PNG's chunks, fill info; 0 on success, -1 after a report */
int kroLoadPNGInfo(const char *path, kroPNGInfo *info);
/* Image data of a PNG, still compressed, in a KRO_PNG_BUFFER_BYTES buffer (rest zero); null on
 * failure */
uint8_t *kroLoadPNG(const char *path, int32_t *size);
/* Check a PNG file against the format's rules: the 8-byte signature, every chunk's CRC, IHDR
 * first (once, 13 bytes, defined colour type, bit depth, compression, filter and interlace) and
 * IEND last (empty, nothing after it), PLTE where and as a palette image needs one, IDAT chunks
 * present and following one another. A question, not a load: prints nothing, calls no hook. 0
 * for a sound file; -1 with the first problem as "CHUNK: rule" in `why` (null for none), cut to
 * why_chars - 1 characters and always terminated when why_chars > 0 ("" for a sound file) */
int kroCheckPNG(const char *path, char *why, int why_chars);

/* ------------------------------------------------------------------------ */
/* Pictures: PNG and BMP decoding (kro_picture.cpp, kro_png.cpp, kro_bmp.cpp) */
/* ------------------------------------------------------------------------ */

/* Reads a PNG or a BMP, told apart by their first bytes, into the bitmap
 * layout above (red, green, blue, alpha; rows unpadded; row 0 the bottom row).
 *
 * PNG: every colour type and bit depth, palettes, transparency (tRNS), Adam7
 * interlacing. The file must first pass kroCheckPNG's rules (signature, every
 * chunk's CRC, the chunk order, the header); a file that does not is refused
 * with that check's reason. The zlib stream is then checked whole: its header,
 * its checksum, and neither fewer nor more bytes than the rows need. Samples of
 * 1, 2 and 4 bits are widened by repeating their bits (a 2-bit 1 is 0x55);
 * 16-bit samples keep their high byte (0x12AB becomes 0x12), with no rounding;
 * the transparent colour of tRNS is compared at the file's own depth, before
 * any reduction. Gamma and colour-space chunks are not applied.
 *
 * BMP: 12-byte (older), 40, 52, 56, 108 and 124-byte headers; 1, 4 and 8-bit
 * palettes, RLE4 and RLE8, 16-bit (5-5-5 by default, or bit fields), 24-bit
 * (rows padded, or unpadded as the engine once wrote them), 32-bit (bit
 * fields; without them the fourth byte is alpha, unless it is 0 in every
 * pixel, when the picture is opaque); bottom-up or top-down rows. A bit field
 * of fewer than 8 bits is widened by repeating its bits (5-bit 1 is 0x08).
 * Pixels an RLE stream skips (its "delta" and early line ends) take palette
 * entry 0, opaque. Palette alpha bytes are ignored.
 *
 * Refused: width x height above KRO_BMP_MAX_PIXELS, and pictures larger than
 * their data could make (decompression bombs: PNG rows of more than
 * KRO_PICTURE_MOST_INFLATE_RATIO times the image data's bytes, the most
 * deflate can give, RLE pictures of more than KRO_PICTURE_MOST_RLE_PIXELS
 * pixels a byte of their stream, uncompressed BMP rows past the file's end),
 * all checked before the picture is allocated; palette indices past the
 * palette, RLE runs past the row or the picture, cut streams, and files above
 * KRO_PICTURE_MAX_FILE_BYTES. */
enum {
  KRO_PICTURE_MAX_FILE_BYTES = 1 << 30,  /* largest file read, bytes */
  KRO_PICTURE_MOST_INFLATE_RATIO = 1032, /* bytes of rows a byte of image data may give */
  KRO_PICTURE_MOST_RLE_PIXELS = 4096,    /* pixels a byte of an RLE stream may cover */
  KRO_PICTURE_REASON_CHARS = 256,        /* room for any refusal reason */
  KRO_PICTURE_FORMAT_CHARS = 96          /* room for a format description */
};

/* What a file held, as kroDecodePictureInfo describes it. */
typedef struct kroPictureInfo {
  int32_t width, height; /* pixels */
  /* e.g. "PNG, palette, 4 bits, transparency, interlaced" or "BMP, RLE8, 8 bits, 124-byte
   * header"; "" when the file was not recognised */
  char format[KRO_PICTURE_FORMAT_CHARS];
  int reduced_16_bit;       /* 1 when 16-bit samples kept their high byte */
  int transparent_possible; /* 1 when the file could give alpha other than 255 */
} kroPictureInfo;

/* Decode a PNG or BMP file without reporting; null with the reason in `why` (cut to why_chars -
 * 1 characters, always terminated when why_chars > 0; "" on success); size gets width, height */
uint8_t *kroDecodePicture(const char *path, int32_t *size, char *why, int why_chars);
/* The same, also describing the file in info (may be null) */
uint8_t *kroDecodePictureInfo(const char *path, int32_t *size, kroPictureInfo *info, char *why,
                              int why_chars);
/* The same from `count` bytes in memory */
uint8_t *kroDecodePictureMemory(const uint8_t *bytes, size_t count, int32_t *size,
                                kroPictureInfo *info, char *why, int why_chars);
/* Read a PNG or BMP file; size gets width, height; null after a report (the fixed message "Error
 * in reading picture from PATH in function kroLoadPicture(..): REASON", then the hook) */
uint8_t *kroLoadPicture(const char *path, int32_t *size);

/* ------------------------------------------------------------------------ */
/* Textures from pictures (kro_texture.cpp)                                  */
/* ------------------------------------------------------------------------ */

/* A 2D texture from a picture file (kroLoadPicture): RGBA8 at the picture's own size, any size
 * the driver takes (non-power-of-two included), a full mipmap chain (glGenerateMipmap),
 * GL_REPEAT in both directions, GL_LINEAR_MIPMAP_LINEAR minifying and GL_LINEAR magnifying.
 * Texture coordinate (0, 0) is the picture's lower left corner. The 2D binding of the active
 * unit and the unpack alignment are left as they were. 0 after a report when the file is
 * refused, the picture is larger than GL_MAX_TEXTURE_SIZE (known from its header, before its
 * pixels are allocated), or GL fails. */
GLuint kroLoadTexture(const char *path);
/* The same from a bitmap in the engine's layout; 0 after a report */
GLuint kroCreateTexture(const uint8_t *pixels, const int32_t *size);
/* Delete the texture and zero the name; nothing for a null pointer or name 0 */
void kroDestroyTexture(GLuint *texture);

/* ------------------------------------------------------------------------ */
/* Heightmaps (kro_heightmap.cpp)                                            */
/* ------------------------------------------------------------------------ */

/* A grid is indexed [x][y]: x the pixel column from the left, y the row from
 * the bottom of the picture; each entry is its own heap block of 3 floats
 * (X, Y, Z for points, a unit vector for normals). Heights come from each
 * pixel's blue byte. offset: added to X, Y, Z. scale: [0] X extent of the
 * picture width, [1] Z extent of its height, [2] Y rise for a byte of 255. */
/* Point grid from a 24-bit BMP; null on failure */
float ***kroLoadHightmapFromBMP(const char *path, const float *offset, const float *scale,
                                int32_t *size);
/* Points, and unit normals (up for positive scales) from neighbouring heights */
float ***kroLoadHightmapAndNormalsFromBMP(const char *path, const float *offset, const float *scale,
                                          int32_t *size, float ****normals);
/* Reserved: has no effect */
void kroLoadHightmapFromBitmap(void);
/* Release a point or normals grid; null the handle */
void kroDestroyHightmap(float ****grid, const int32_t *size);
/* Two triangles per cell, GL_TRIANGLES */
void kroDrawHightmap(float ***grid, const int32_t *size);
/* As kroDrawHightmap, one normal ([x+1][y+1]) per cell */
void kroDrawHightmapWithNormals(float ***grid, const int32_t *size, float ***normals);

/* ------------------------------------------------------------------------ */
/* Bitmap fonts, KROF (kro_font.cpp)                                         */
/* ------------------------------------------------------------------------ */

/* KROF file, big-endian: "KROF", record bytes L (4), glyph width w (2),
 * glyph height h (2), then L bytes of records (a code byte, then w x h / 8
 * bytes of pixel bits, first pixel in the top bit, bitmap row order), then
 * the builder's output path without its last five characters. w x h must be
 * a multiple of 8. The bit masks must be set (kroSetBitMasks) before use. */
enum {
  KRO_KROF_HEADER_BYTES = 12,
  KRO_KROF_MAX_GLYPHS = 256,               /* one per character code */
  KRO_KROF_MAX_GLYPH_PIXELS = 4096 * 4096, /* w x h of a glyph */
  KRO_KROF_MAX_NAME = 4096                 /* picture names, terminator included */
};

typedef struct kroFont {
  int32_t glyph_count;      /* glyphs in the font */
  GLuint *textures;         /* heap array, one GL texture name per glyph, file order */
  int32_t glyph_table[256]; /* glyph number of each character code, or -1 */
} kroFont;

/* A checked KROF file in memory, as kroReadKROF gives it. */
typedef struct kroFontFile {
  int32_t width;        /* glyph width, pixels */
  int32_t height;       /* glyph height, pixels */
  int32_t glyph_count;  /* records */
  int32_t record_bytes; /* 1 + width x height / 8 */
  uint8_t *records;     /* heap, glyph_count x record_bytes */
} kroFontFile;

/* The glyph of a code is the picture dir/<code>.bmp, or dir/<code>.png when there is no such
 * BMP: any picture kroLoadPicture reads. */
/* Build a font from the glyph pictures of dir into out_path, replaced whole (see kroBeginOutFile);
 * glyph count, or 0 after a message (no hook), with errno telling why an open, write or close
 * failed */
int kroCreateKROF(const char *dir, const int32_t *size, const char *out_path, uint8_t threshold);
/* The same from the pictures of the codes c with chosen[c] non-zero (256 entries), written to
 * `out` with `name` (null: none) kept after the records; glyph count, or 0 after a message (no
 * hook). Write failures stay in the stream, for the caller's commit to find. */
int kroWriteKROFfd(const char *dir, const uint8_t *chosen, const int32_t *size, const char *name,
                   uint8_t threshold, FILE *out);
/* Read and check a KROF file (no GL); 0, or -1 after a report */
int kroReadKROF(const char *path, kroFontFile *file);
/* Release what kroReadKROF gave */
void kroFreeKROF(kroFontFile *file);
/* One texture per glyph; 0, or non-zero with an empty font. colour0 and colour1 (red, green,
 * blue, alpha, 0..255) paint the 0 and 1 bits. texture_size (width, height in pixels) is the
 * size every glyph texture gets: the glyph is box-filter resampled (kroResizeBitmap) from the
 * file's w x h to it, so the file's own w x h keeps every pixel as it is. The textures are
 * sampled GL_NEAREST. */
int kroLoadKROF(const char *path, kroFont *font, const float *colour0, const float *colour1,
                const int32_t *texture_size);
/* Delete the textures, release the array, empty the font */
void kroDestroyKROF(kroFont *font);
/* Glyph number of code, or -1 */
int32_t kroGetFontID(uint8_t code, const kroFont *font);
/* The glyph on a textured quad (two triangles) in the current matrices. corner0 and corner1 are
 * three floats each, x, y, z: corner0 the glyph's lower left (the bottom row of its picture),
 * corner1 its upper right; the left edge lies at depth z0, the right at z1. Enables
 * GL_TEXTURE_2D and leaves it so, binds the glyph's texture; nothing for a code without glyph */
void kroDrawFont(uint8_t code, const kroFont *font, const float *corner0, const float *corner1);
/* Load a font for kroDrawText: 1 bits opaque white, 0 bits transparent, each glyph texture the
 * file's own w x h; 0, or non-zero with an empty font (as kroLoadKROF). An installed engine's
 * default font is <prefix>/share/kro/fonts/kroview.krof (8 x 8, codes 32..126): the CMake
 * package gives it as KRO_FONT_FILE, pkg-config as `pkg-config --variable=fontfile kro` */
int kroLoadTextFont(const char *path, kroFont *font);
/* One line of text, its first glyph's lower left at pixel (x, y) of the viewport (0, 0 its lower
 * left corner), each glyph `height` pixels tall and as wide as its texture's shape gives, in the
 * colour rgba (red, green, blue, alpha, 0..1) times the glyph texture, blended over what is
 * there; a code without glyph leaves its place empty. GL state is left as it was found:
 * matrices and matrix mode, enables, blending, texture unit, binding and environment, depth
 * test, current colour and program. Not inside a display list */
void kroDrawText(const kroFont *font, const char *text, float x, float y, float height,
                 const float *rgba);

/* ------------------------------------------------------------------------ */
/* Synthesizer: songs as data, rendered to 16-bit stereo (kro_synth.cpp)    */
/* ------------------------------------------------------------------------ */

/* A song is plain data compiled into the program: instruments, channels that
 * each play one instrument, one-channel patterns of note cells, and for every
 * channel an order list of patterns. Every channel moves through its order
 * list together, one cell per row at a fixed tempo. Rendering is a pure
 * function of the song and the frame position: the synth state advances one
 * frame at a time (control values every KRO_SYNTH_BLOCK frames counted from
 * the song's start), so any split of the output into calls gives the same
 * samples, live and offline alike. Rendering allocates nothing, takes no lock
 * and does no I/O: an audio callback may call it. Units: frames of
 * KRO_SYNTH_RATE per second, seconds, Hz, semitones (MIDI keys, 69 = 440 Hz),
 * octaves for cutoff modulation, levels 0..1. */
enum {
  KRO_SYNTH_RATE = 44100,         /* frames per second; a frame is a left and a right sample */
  KRO_SYNTH_CHANNELS = 8,         /* most channels a song may have */
  KRO_SYNTH_BLOCK = 32,           /* frames between updates of pitch, cutoff and pan */
  KRO_SYNTH_DELAY_FRAMES = 44100, /* longest echo time: 1 s */
  KRO_NOTE_NONE = 0,              /* cell: the channel goes on as it was */
  KRO_NOTE_OFF = 255,             /* cell: release the sounding note; 1..127 start that key */
  KRO_PATTERN_SILENT = 255        /* order entry: the channel rests for one pattern */
};

/* Oscillator shapes, each from -1 to +1 */
enum { KRO_WAVE_SINE, KRO_WAVE_SAW, KRO_WAVE_SQUARE, KRO_WAVE_TRIANGLE, KRO_WAVE_NOISE };
/* Filter kinds: a two-pole state-variable filter, 12 dB per octave beyond its cutoff */
enum { KRO_FILTER_OFF, KRO_FILTER_LOW, KRO_FILTER_HIGH, KRO_FILTER_BAND };

typedef struct kroInstrument {
  uint8_t wave;      /* KRO_WAVE_* */
  uint8_t filter;    /* KRO_FILTER_* */
  float pulse_width; /* square: share of each period at +1, 0.01..0.99 */
  float attack;      /* seconds from silence to full level, linear, 0..60 */
  float decay;       /* seconds from full level down to the sustain level, linear, 0..60 */
  float sustain;     /* level 0..1 held while the note is on */
  float release;     /* seconds from the sustain level to silence once the note is off, 0..60 */
  float slide;       /* semitones the pitch starts away from the note (+ above), falling to it,
                        -48..48; the pitch sounded stays within keys 0..127 */
  float slide_time;  /* seconds in which the slide falls to 1/e of itself, 0..60 */
  float glide;       /* seconds (1/e) a new note glides from the channel's last pitch, 0..60;
                        0: none */
  float cutoff;      /* Hz, the filter's corner before modulation, 10..20000 */
  float resonance;   /* 0..0.99: Q = 1 / (2 - 2 resonance); 0.2929 is the flat Q of 0.7071 */
  float env_cutoff;  /* octaves the envelope adds to the cutoff at full level, -10..10 */
  float lfo_rate;    /* Hz of the cutoff's sine LFO, its phase 0 at the note's start, 0..100 */
  float lfo_depth;   /* octaves the LFO swings the cutoff up and down, 0..10 */
  float gain;        /* level of the instrument, 0..1 */
} kroInstrument;

typedef struct kroChannel {
  uint8_t instrument;  /* index into the song's instruments */
  float volume;        /* 0..1 */
  float pan;           /* -1 left .. +1 right, equal power */
  float delay;         /* send to the stereo echo, 0..1 */
  float reverb;        /* send to the reverb, 0..1 */
  float pan_lfo_rate;  /* Hz, 0..100: pan += depth x cos(2 pi rate t), t seconds since the start */
  float pan_lfo_depth; /* the swing at the start, 0..1 */
  float pan_lfo_end;   /* seconds at which the swing has narrowed linearly to nothing, 0..86400;
                          0: never */
} kroChannel;

typedef struct kroSong {
  const kroInstrument *instruments;
  int instrument_count; /* 1 or more */
  const kroChannel *channels;
  int channel_count;       /* 1..KRO_SYNTH_CHANNELS */
  const uint8_t *patterns; /* pattern_count x rows cells: NONE, a key 1..127, or OFF */
  int pattern_count;       /* 1..254 */
  int rows;                /* rows per pattern, 1..1024 */
  const uint8_t *order;    /* order_count steps x channel_count pattern numbers (or SILENT) */
  int order_count;         /* steps, 0 or more; the song lasts order_count x rows rows */
  int rows_per_minute;     /* tempo, 1..60 x RATE: row r starts at frame
                              floor(r x 60 x RATE / rows_per_minute) */
  float delay_seconds;     /* echo time, 0..1 s: left after one, right after two (ping-pong) */
  float delay_feedback;    /* 0..0.95 */
  float reverb_size;       /* 0..1: how long the reverb rings (about 0.3 to 3 s) */
  float master;            /* gain before the limiter (0..16), which keeps every sample within
                              -2 dBFS */
} kroSong;

typedef struct kroSynthState kroSynthState; /* voices, echo and reverb lines; private */

typedef struct kroSynth {
  const kroSong *song;
  int64_t frame;        /* frames rendered so far */
  int64_t frames;       /* the song's length; after it the echo and reverb ring out */
  kroSynthState *state; /* heap, from kroStartSynth to kroStopSynth */
  unsigned mute;        /* bit c set: channel c plays on unheard, its echo and reverb sends too
                           (0 from kroStartSynth; the caller's to set between renders) */
  float peak[KRO_SYNTH_CHANNELS]; /* each channel's largest |sample| heard (after volume, gain
                                     and pan, before echo, reverb and limiter) since the caller
                                     last cleared it */
} kroSynth;

/* Check the song (every field in the range given above) and make the state for frame 0 (the
 * only allocation); 0, or -1 after a report */
int kroStartSynth(kroSynth *synth, const kroSong *song);
/* The next `frames` frames as interleaved left, right floats of the limited mix (-1..1) */
void kroRenderSynthFloat(kroSynth *synth, float *out, int frames);
/* The next `frames` frames as interleaved left, right signed 16-bit samples */
void kroRenderSynth(kroSynth *synth, int16_t *out, int frames);
/* Release the state; harmless on a stopped or never-started synth */
void kroStopSynth(kroSynth *synth);
/* The song's length in frames (its last row's end), or 0 for an empty tempo */
int64_t kroSongFrames(const kroSong *song);
/* The row (0..order_count x rows) playing at `frame`: step = row / rows, row in pattern = % rows */
int64_t kroSongRow(const kroSong *song, int64_t frame);
/* The whole song plus tail_frames (2^30 frames at most) as 16-bit stereo (heap, free() it),
 * *frames its length; null after a report */
int16_t *kroRenderSong(const kroSong *song, int64_t tail_frames, int64_t *frames);
/* Write 16-bit stereo at KRO_SYNTH_RATE as a WAV file, replaced whole (see kroBeginOutFile); 0,
 * or -1 after a report with errno telling why */
int kroWriteWAV(const char *path, const int16_t *samples, int64_t frames);

/* Songs as text (kro_song.cpp, docs/sound.md): the records above read from a file a musician
 * edits, and written back. One statement a line, `#` to the line's end a comment; blocks in
 * this order, each field at most once and in any order within its block, missing ones at their
 * defaults:
 *   song         rows 1..1024 (64), tempo rows a minute (480), echo-time (0), echo-feedback
 *                (0), reverb-size (0), master (1)
 *   instrument NAME   wave sine|saw|square|triangle|noise (sine), filter off|low|high|band
 *                (off), pulse-width (0.5), attack, decay (0), sustain (1), release, slide,
 *                slide-time, glide (0), cutoff (20000), resonance, env-cutoff, lfo-rate,
 *                lfo-depth (0), gain (1); preset NAME: the first instrument of <preset
 *                folder>/NAME.song under every field the block does not give itself
 *   channel NAME instrument NAME (the first), volume (1), pan, echo, reverb, pan-lfo-rate,
 *                pan-lfo-depth, pan-lfo-end (0)
 *   pattern N    numbered 0, 1, ... in turn; lines ROW CELL, rows rising: a note C-0 .. G-9
 *                (- or # after the letter; A-4 is key 69), a key 1..127, or off
 *   order        one step a line: for each channel a pattern number or . (rest)
 * Names: letters, digits and . _ : -, at most KRO_SONG_NAME_CHARS. Every value must lie in its
 * field's range above; a file is refused whole (message with the reason and the line, hook).
 * `krotool song-src` compiles a song file into the data the engine renders. */
enum {
  KRO_SONG_NAME_CHARS = 31,     /* longest instrument or channel name */
  KRO_SONG_MAX_BYTES = 16 << 20 /* largest song file read */
};
typedef char kroSongName[KRO_SONG_NAME_CHARS + 1];
typedef struct kroSongFile {
  kroSong song;                  /* what the synthesizer plays; its arrays are the file's */
  kroSongName *instrument_names; /* song.instrument_count names */
  kroSongName *channel_names;    /* song.channel_count names */
} kroSongFile;
/* Read a song file into *file (emptied first); 0, or -1 after a report naming the reason and
 * the line, *file left empty */
int kroLoadSong(kroSongFile *file, const char *path);
/* Write the song as a song file, replaced whole (see kroBeginOutFile): names may be null (then
 * "instrument-N", "channel-N"). A song kroStartSynth refuses is not written. 0, or -1 after a
 * report. Values keep every bit when read back */
int kroWriteSong(const kroSongFile *file, const char *path);
/* Free what kroLoadSong made and empty the record */
void kroFreeSong(kroSongFile *file);
/* The folder of instrument presets (docs/sound.md "Presets"), one song file each: "presets",
 * relative to the working folder, until set; while it is that and the working folder has no
 * presets/, an installed engine reads <prefix>/share/kro/presets. A preset names no preset; an
 * unknown one refuses the song at its line. Null or "" restores "presets". */
enum { KRO_PRESET_FOLDER_CHARS = 4000 };
/* Set the preset folder (copied); 0, or -1 after a report when it is too long */
int kroSetPresetFolder(const char *folder);
/* The folder presets are read from now */
const char *kroGetPresetFolder(void);

/* Standard MIDI Files, formats 0 and 1, as a list of notes (kro_midi.cpp; `krotool midi-song`
 * makes a song file of them). Ticks count from the file's start at ticks_per_beat a quarter
 * note. A note runs from its note-on to the note-off (or note-on of velocity 0) of its channel
 * and key; a second note-on of a sounding key ends the first there, and a note still on at its
 * track's end ends with the track. Running status is followed; sysex, controllers and meta
 * events other than tempo and time signature are skipped by their lengths; every length and
 * delta must lie within its chunk, deltas in at most 4 bytes. */
enum {
  KRO_MIDI_MAX_BYTES = 16 << 20, /* largest MIDI file read */
  KRO_MIDI_MAX_NOTES = 1 << 20   /* most notes a file may hold */
};
typedef struct kroMidiNote {
  int64_t start, end; /* ticks, start <= end */
  uint16_t track;     /* track chunk, from 0 */
  uint8_t channel;    /* 0..15 (channel 10, the drums, is 9) */
  uint8_t key;        /* 0..127, 60 the middle C */
  uint8_t velocity;   /* 1..127 */
  uint8_t program;    /* the channel's last program change before the note in its track's
                         reading order, 0 with none */
} kroMidiNote;
typedef struct kroMidi {
  int format;          /* 0 or 1 */
  int tracks;          /* track chunks read */
  int ticks_per_beat;  /* 1..32767 */
  int micros_per_beat; /* the first tempo event's (500000, 120 bpm, with none) */
  int tempo_count;     /* tempo events in the file: the ones after the first are not kept */
  int beats_per_bar;   /* the first time signature's (4/4 with none) */
  int beat_unit;       /* 1, 2, 4, 8 ... (0: a unit over 128) */
  int signature_count; /* time signature events in the file */
  int64_t length;      /* the longest track's end, ticks */
  kroMidiNote *notes;  /* in the order their note-ons were read: track by track */
  int note_count;
} kroMidi;
/* Read a MIDI file into *midi; 0, or -1 after a report with the reason, *midi empty */
int kroReadMidi(kroMidi *midi, const char *path);
/* The same from bytes in memory, `name` naming them in the report */
int kroReadMidiMemory(kroMidi *midi, const uint8_t *bytes, size_t size, const char *name);
/* Free the notes and empty the record */
void kroFreeMidi(kroMidi *midi);

/* ------------------------------------------------------------------------ */
/* Sync tracks: values that move with the music's rows (kro_sync.cpp)       */
/* ------------------------------------------------------------------------ */

/* Named tracks of keys against rows of the music: row r starts at r x 60 / (tempo x
 * rows_per_beat) seconds. A key holds its value from its row on and says how the value moves
 * to the next key's: STEP holds it, LINEAR goes straight, SMOOTH eases in and out (3t^2 -
 * 2t^3), RAMP eases in (t^2). Before a track's first key it has that key's value, from its
 * last key on the last key's value; a track without keys is 0.
 * The text file (docs/timing.md): one statement a line, `#` to the line's end a comment:
 *   tempo BEATS_PER_MINUTE     1..1000, before the first track (default 120)
 *   rows-per-beat ROWS         1..64, before the first track (default 4)
 *   track NAME                 letters, digits and . _ : -, at most 63 characters, once each
 *   ROW VALUE [step|linear|smooth|ramp]   a key of the track above (default step); rows
 *                              0..16777216, rising within a track; values finite floats
 * A file is refused whole (message with the reason and the line, hook) on anything else.
 * `krotool sync-src` compiles a file into tables of these records that give the same values. */
enum {
  KRO_SYNC_NAME_CHARS = 63,     /* longest track name */
  KRO_SYNC_MAX_TRACKS = 1024,   /* most tracks of a file */
  KRO_SYNC_MAX_KEYS = 1 << 20,  /* most keys of a file, all tracks together */
  KRO_SYNC_MAX_ROW = 1 << 24,   /* last row a key may stand on */
  KRO_SYNC_MAX_BYTES = 16 << 20 /* largest track file read */
};
typedef enum kroSyncInterpolation {
  KRO_SYNC_STEP = 0,
  KRO_SYNC_LINEAR,
  KRO_SYNC_SMOOTH,
  KRO_SYNC_RAMP,
  KRO_SYNC_INTERPOLATIONS
} kroSyncInterpolation;

typedef struct kroSyncKey {
  int32_t row;           /* 0..KRO_SYNC_MAX_ROW, rising within a track */
  float value;           /* finite */
  int32_t interpolation; /* a kroSyncInterpolation: how the value moves to the next key's */
} kroSyncKey;

typedef struct kroSyncTrack {
  char name[KRO_SYNC_NAME_CHARS + 1];
  kroSyncKey *keys; /* count keys, rows rising */
  int32_t count;
  int32_t capacity; /* keys allocated (read tracks); 0 for compiled tables */
} kroSyncTrack;

typedef struct kroSyncTracks {
  double tempo;          /* beats per minute */
  int32_t rows_per_beat; /* rows per beat */
  kroSyncTrack *tracks;
  int32_t count;
  int32_t owned; /* 1: read from a file, kroFreeSyncTracks frees it; 0: compiled-in tables */
} kroSyncTracks;

/* Read a track file into *tracks (emptied first); the number of tracks, or -1 after a report
 * naming the reason and the line, *tracks left empty */
int kroLoadSyncTracks(kroSyncTracks *tracks, const char *path);
/* Write the tracks as a track file, replaced whole (see kroBeginOutFile); 0, or -1 after a
 * report with errno telling why. Values keep every bit when read back */
int kroWriteSyncTracks(const kroSyncTracks *tracks, const char *path);
/* Free what kroLoadSyncTracks made and empty the record; compiled tables are only emptied */
void kroFreeSyncTracks(kroSyncTracks *tracks);
/* The row (fractional) playing at `seconds` from the music's start */
double kroSyncRow(const kroSyncTracks *tracks, double seconds);
/* The track named `name`, or null */
const kroSyncTrack *kroFindSyncTrack(const kroSyncTracks *tracks, const char *name);
/* The track's value at a row (fractional); 0 for a null track or one without keys */
float kroSyncValue(const kroSyncTrack *track, double row);
/* The named track's value at `seconds`: 0 when there is no such track */
float kroSyncTrackValue(const kroSyncTracks *tracks, const char *name, double seconds);
/* "step", "linear", "smooth", "ramp"; "?" for anything else */
const char *kroSyncInterpolationName(int interpolation);

/* ------------------------------------------------------------------------ */
/* Framebuffer objects (kro_fbo.cpp)                                         */
/* ------------------------------------------------------------------------ */

/* Off-screen target: a colour texture and a depth renderbuffer, made for it
 * or borrowed from another record (which then shares the very cell). mode 0:
 * both new (destroy with owned 3); 1 or 3 with shared: both borrowed (owned
 * 0), without shared: both new (owned 3); other modes: without shared depth
 * only (owned 2), with shared both new (owned 3). Borrowing from a record
 * that lacks either cell is refused (-1). */
typedef struct kroFrameBufferObject {
  GLuint frame_buffer;  /* GL framebuffer name */
  GLuint *color_buffer; /* heap cell holding the colour texture name; may be another record's */
  GLuint *depth_buffer; /* heap cell holding the depth renderbuffer name; may be another record's */
  int32_t width;        /* pixels */
  int32_t height;       /* pixels */
  int32_t mode;         /* the mode given at creation; 0 once destroyed */
} kroFrameBufferObject;

/* Create a target; 0 complete, +1 incomplete after colour, +2 after depth, -1 on failure */
int32_t kroCreateFrameBufferObject(kroFrameBufferObject *fbo, const int32_t *size,
                                   const kroFrameBufferObject *shared, int32_t mode);
/* Set the viewport to its size, unbind the 2D texture and bind the target */
void kroUseFrameBufferObject(const kroFrameBufferObject *fbo);
/* Release the target and what it owns (owned: 1 colour, 2 depth, 3 both) */
void kroDestroyFrameBufferObject(kroFrameBufferObject *fbo, int owned);

#ifdef __cplusplus
}
#endif

#endif /* KRO_H */
