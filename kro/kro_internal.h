/*
 * Internal helpers shared by the engine's modules; not part of the API.
 *
 * Every engine allocation goes through kroAllocate so that tests can make the
 * n-th one fail, and every failure is reported through kroFail.
 */
#ifndef KRO_INTERNAL_H
#define KRO_INTERNAL_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

/* malloc that never answers a zero-byte request with null, and that fails on
 * demand (see kroFailAllocationAfter). Release with free. */
void *kroAllocate(size_t bytes);

/* The same, the bytes set to 0 (fresh pages from the system are not cleared
 * twice). */
void *kroAllocateZeroed(size_t bytes);

/* realloc through the same failure hook: null leaves `block` as it was (the caller still owns
 * it). A big block grows by moving its pages rather than copying them. */
void *kroReallocate(void *block, size_t bytes);

/* Test hook: the n-th allocation from now (1 = the next) fails, and only that
 * one; 0 disables. Returns how many allocations were made since the last call. */
long kroFailAllocationAfter(long n);

/* Bytes of a seekable stream from its start to its end, its position left where it was; -1
 * when the stream is not a regular file (a pipe, a terminal, a folder) or cannot seek. A size
 * read this way bounds what a reader may allocate; the read itself still checks every byte it
 * gets. */
long kroStreamBytes(FILE *stream);

/* Prints the formatted message to standard output as it stands (callers add
 * any line end), flushes, then calls the error hook if one is set. */
void kroFail(const char *format, ...) __attribute__((format(printf, 1, 2)));

/* How many failures kroFail has reported so far, and the last one's message without its line
 * end (cut to KRO_FAILURE_CHARS - 1 characters; "" before the first). */
enum { KRO_FAILURE_CHARS = 240 };
long kroFailureCount(void);
const char *kroLastFailure(void);

/* Free a scene's nodes, cameras, lights and animations (kro_anim.cpp), leaving them empty and
 * the meshes and materials as they are. */
struct kroScene;
void kroFreeSceneNodes(struct kroScene *scene);

/* ---- pictures (kro_picture_file.cpp, kro_png.cpp, kro_bmp.cpp) ---- */

static inline uint32_t kroBig32(const uint8_t *b) {
  return (uint32_t)b[0] << 24 | (uint32_t)b[1] << 16 | (uint32_t)b[2] << 8 | (uint32_t)b[3];
}
static inline uint32_t kroLittle16(const uint8_t *b) {
  return (uint32_t)b[0] | (uint32_t)b[1] << 8;
}
static inline uint32_t kroLittle32(const uint8_t *b) {
  return kroLittle16(b) | kroLittle16(b + 2) << 16;
}

/* Where a picture decoder puts its refusal reason and its description, and
 * the largest side its caller takes. */
struct kroPictureInfo;
typedef struct kroPictureResult {
  char *why; /* the reason, cut to why_chars - 1 characters; may be null */
  int why_chars;
  struct kroPictureInfo *info; /* may be null */
  int32_t most_side;           /* a wider or higher picture is refused from its header; 0: any */
  int32_t too_large[2];        /* the size of a picture refused for most_side, else 0 x 0 */
} kroPictureResult;

/* Writes the reason into result->why; returns -1. */
int kroPictureRefuse(kroPictureResult *result, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
/* Writes the format description into result->info, when there is one. */
void kroPictureDescribe(kroPictureResult *result, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
/* A header's width x height (both positive) against KRO_BMP_MAX_PIXELS and
 * result->most_side, before anything is allocated for the pixels: 0, or -1
 * after the refusal, whose reason starts with `format` ("BMP", "IHDR"). */
int kroPictureSizeRefused(kroPictureResult *result, const char *format, int64_t width,
                          int64_t height);

/* How reading a picture file whole went; errno tells why for CANNOT_OPEN and
 * ERROR. */
typedef enum kroPictureRead {
  KRO_PICTURE_READ_OK = 0,
  KRO_PICTURE_READ_NO_NAME,     /* a null path */
  KRO_PICTURE_READ_CANNOT_OPEN, /* fopen failed */
  KRO_PICTURE_READ_FOLDER,      /* the path names a folder */
  KRO_PICTURE_READ_NO_SIZE,     /* the stream cannot seek */
  KRO_PICTURE_READ_TOO_LARGE,   /* more than most_bytes */
  KRO_PICTURE_READ_NO_MEMORY,
  KRO_PICTURE_READ_ERROR /* fread failed */
} kroPictureRead;
/* The file's bytes in a new buffer (*bytes, *count; released with free), or
 * a null buffer and the reason (with TOO_LARGE, *count is the file's size). */
kroPictureRead kroReadPictureFile(const char *path, long most_bytes, uint8_t **bytes,
                                  size_t *count);

/* A BMP file in memory into a new bitmap; null after kroPictureRefuse. size
 * is set only on success. */
uint8_t *kroDecodeBMPMemory(const uint8_t *bytes, size_t count, int32_t *size,
                            kroPictureResult *result);
/* A PNG file in memory into a new bitmap, once it passes kroCheckPNG's
 * rules; the same contract. */
uint8_t *kroDecodePNGMemory(const uint8_t *bytes, size_t count, int32_t *size,
                            kroPictureResult *result);
/* kroLoadPicture, a picture with a side above most_side (when above 0)
 * refused from its header without a report: null, with its size in
 * too_large (else 0 x 0). */
uint8_t *kroLoadPictureAtMost(const char *path, int32_t *size, int32_t most_side,
                              int32_t *too_large);

/* Line-based text files (kro_text.cpp). A reader stands in `text` (NUL-terminated) at `line`
 * (from 1); a refusal writes its reason into why and returns -1. Words are separated by blanks;
 * `#` starts a comment to the line's end. */
typedef struct kroTextLines {
  const char *p;
  int line;
  char why[128];
} kroTextLines;
int kroTextRefuse(kroTextLines *text, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
/* The line's next word into word (chars bytes and a terminator): its length, 0 at the line's end
 * or a comment, -1 when longer */
int kroTextWord(kroTextLines *text, char *word, int chars);
/* Past the line's end, which must hold nothing but a comment; 0 or -1 */
int kroTextEndLine(kroTextLines *text);
/* The next word as a finite number that fits a float; 0 or -1 ("<what> missing or not a finite
 * number") */
int kroTextNumber(kroTextLines *text, double *value, const char *what);
/* 1 when name is 1 or more of letters, digits and . _ : - */
int kroTextNameIsSound(const char *name);
/* The float in the fewest significant digits (at most 9) that read back as the same float */
void kroPrintShortFloat(FILE *out, float value);
/* The file's bytes NUL-terminated (heap, free it), at most max_bytes; null with the reason in
 * why */
char *kroReadTextFile(const char *path, long max_bytes, char *why, int why_chars);

/* The unit face normal of each of `triangles` rows of positions into realn (zero for a
 * triangle without area), as kroComputeNormals gives it; the vertex normals untouched
 * (kro_object.cpp). */
void kroFaceNormals(kroObject op, kroObject realn, uint32_t triangles);

/* kroLoadSceneFromOBJ, with `indexed` each mesh in the indexed form: shared vertices where every
 * corner gives a normal, else three a triangle (kro_obj.cpp) */
int kroOBJLoadScene(kroScene *scene, const char *path, int textures, int indexed);

/* A glTF file's meshes, materials and nodes into scene (mesh_count and material_count set), read
 * once, with `indexed` its primitives with normals as indexed meshes; 0 when anything was
 * reported, what was made left in scene (kro_gltf.cpp) */
int kroGLTFLoadScene(kroScene *scene, const char *path, int textures, int indexed);

/* Rows of `floats` floats made one at a time while their number is not yet known, in blocks
 * that become a kroObject's own at the end (kro_object.cpp). All zero is an empty maker for
 * rows of 0 floats; set `floats` before the first row. */
typedef struct kroRowMaker {
  void *first, *last; /* blocks in the order made */
  float *next;        /* the next row in the last block */
  size_t room;        /* rows left in the last block */
  size_t count;       /* rows made */
  size_t floats;
} kroRowMaker;
/* The next row (uninitialised) from a new block; null (nothing reported) without memory */
float *kroMakeRowBlock(kroRowMaker *maker);
/* The next row; null (nothing reported) without memory */
static inline float *kroNextRow(kroRowMaker *maker) {
  if (!maker->room)
    return kroMakeRowBlock(maker);
  float *row = maker->next;
  maker->next += maker->floats;
  maker->room--;
  maker->count++;
  return row;
}
/* The rows as an array of maker->count rows that owns them, the maker emptied; null (nothing
 * reported, the maker as it was) without memory */
kroObject kroFinishRows(kroRowMaker *maker);
/* Every row made released, the maker emptied */
void kroDropRows(kroRowMaker *maker);

/* Songs (kro_synth.cpp): the limits of a song's lists, and the range each float field of the
 * song records must lie in, in the fields' order there from the first float to the last
 * (kroInstrument from pulse_width, kroChannel from volume, kroSong from delay_seconds). NaN lies
 * in no range; infinities lie outside every one. The synthesizer and the song file reader check
 * by these same tables. */
enum {
  KRO_SYNTH_MAX_ROWS = 1024,    /* rows per pattern */
  KRO_SYNTH_MAX_PATTERNS = 254, /* patterns per song (255 is the silent order entry) */
  KRO_SYNTH_MAX_KEY = 127,      /* highest key a cell may start */
  KRO_INSTRUMENT_FLOATS = 14,
  KRO_CHANNEL_FLOATS = 7,
  KRO_SONG_FLOATS = 4
};
typedef struct kroRange {
  float low, high;
} kroRange;
extern const kroRange KRO_INSTRUMENT_RANGES[KRO_INSTRUMENT_FLOATS];
extern const kroRange KRO_CHANNEL_RANGES[KRO_CHANNEL_FLOATS];
extern const kroRange KRO_SONG_RANGES[KRO_SONG_FLOATS];

/* kroSceneFiles for each format: the OBJ file's material libraries (kro_obj.cpp), the glTF
 * file's buffer files (kro_gltf.cpp); each appended through kroAddSceneFile (kro_scene.cpp),
 * which grows the array by one (0 after a report). */
int kroOBJSceneFiles(const char *path, kroScenePath **files);
int kroGLTFSceneFiles(const char *path, kroScenePath **files);
int kroAddSceneFile(kroScenePath **files, int *count, const char *path);

#endif /* KRO_INTERNAL_H */
