/*
 * OBJ scenes with their MTL material libraries: the file is read in blocks of
 * whole lines (a library whole) and walked line by line; faces are fanned into
 * triangles whose rows are made at once, one kroMesh per run of faces that
 * share an object or group name and a material; the libraries fill kroMaterial
 * records whose diffuse
 * pictures are found as ASE maps are (kroLoadMaterialTextures, relative to
 * the library's folder).
 * Depends on: kro_ase_scan.h (number scanning), kro_object.cpp (rows,
 * normals), kro_material.cpp (textures), kro_error.cpp.
 */
#include "kro.h"
#include "kro_ase_scan.h"
#include "kro_internal.h"

#include <initializer_list>
#include <math.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

/* A text file in memory with KRO_ASE_PAD zeros after it, and where the walk stands. */
typedef struct kroObjText {
  const char *path;
  const char *what; /* "OBJ scene" or "materials", for messages */
  char *bytes;
  const char *end; /* bytes + size; *end is 0 */
  long line;       /* from 1 */
} kroObjText;

static void kroFailObj(const kroObjText *text, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
static void kroFailObj(const kroObjText *text, const char *format, ...) {
  char detail[512];
  va_list args;
  va_start(args, format);
  vsnprintf(detail, sizeof detail, format, args);
  va_end(args);
  kroFail("Error in reading %s from %s: %s at line %ld\n", text->what, text->path, detail,
          text->line);
}

/* The file opened, its size in *size; null after a report. */
static FILE *kroOpenObjText(kroObjText *text, const char *path, const char *what, long *size) {
  text->path = path;
  text->what = what;
  text->bytes = nullptr;
  text->line = 1;
  FILE *stream = fopen(path, "rb");
  *size = stream ? kroStreamBytes(stream) : -1;
  if (!stream || *size < 0 || *size > KRO_OBJ_MAX_BYTES) {
    kroFail("Error in reading %s from %s: %s\n", what, path,
            !stream     ? "the file cannot be opened"
            : *size < 0 ? "the file is not a regular file"
                        : "the file is larger than the engine reads");
    if (stream)
      fclose(stream);
    return nullptr;
  }
  return stream;
}

/* The file into text->bytes; 0 after a report (nothing left allocated). */
static int kroReadObjText(kroObjText *text, const char *path, const char *what) {
  long size;
  FILE *stream = kroOpenObjText(text, path, what, &size);
  if (!stream)
    return 0;
  text->bytes = (char *)kroAllocate((size_t)size + KRO_ASE_PAD);
  if (!text->bytes) {
    fclose(stream);
    kroFail("Error during allocating memory in kroLoadSceneFromOBJ(..)\n");
    return 0;
  }
  size_t got = fread(text->bytes, 1, (size_t)size, stream);
  fclose(stream);
  memset(text->bytes + got, 0, KRO_ASE_PAD);
  text->end = text->bytes + got;
  if (got != (size_t)size || memchr(text->bytes, 0, got)) {
    kroFail("Error in reading %s from %s: %s\n", what, path,
            got != (size_t)size ? "the file could not be read whole" : "a zero byte (not a text)");
    free(text->bytes);
    text->bytes = nullptr;
    return 0;
  }
  return 1;
}

/* Past a UTF-8 byte order mark, which some editors put before a file's first line. */
static char *kroPassObjMark(char *bytes, const char *end) {
  return end - bytes >= 3 && !memcmp(bytes, "\xEF\xBB\xBF", 3) ? bytes + 3 : bytes;
}

/* A backslash right before the line end (CR LF or LF) joins the next line to this one. */
static inline int kroObjContinues(const char *p) {
  return p[0] == '\\' && (p[1] == '\n' || (p[1] == '\r' && p[2] == '\n'));
}

static inline int kroObjBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

/* Past blanks and line continuations (counted as lines) */
static const char *kroPassObjBlanksAndJoins(kroObjText *text, const char *p) {
  for (;;) {
    while (kroObjBlank(*p))
      p++;
    if (!kroObjContinues(p))
      return p;
    p += p[1] == '\n' ? 2 : 3;
    text->line++;
  }
}

/* The same, a single space (between numbers) passed at once */
static inline const char *kroPassObjBlanks(kroObjText *text, const char *p) {
  p += *p == ' ';
  return kroObjBlank(*p) || *p == '\\' ? kroPassObjBlanksAndJoins(text, p) : p;
}

/* Whether p stands where a word ends: a blank, a line end, a continuation, the end, a comment.
 * Every byte above '#' but the backslash (digits, letters, signs) goes on with the word. */
static inline int kroObjWordEnds(const char *p) {
  const unsigned char c = (unsigned char)*p;
  if (c > '#')
    return c == '\\' && kroObjContinues(p);
  return c == '#' || c == ' ' || c == 0 || (c >= '\t' && c <= '\r');
}

/* Past the rest of the line and its end; the line count follows */
static const char *kroNextObjLine(kroObjText *text, const char *p) {
  for (; *p && *p != '\n'; p++)
    if (kroObjContinues(p)) {
      p += p[1] == '\n' ? 1 : 2;
      text->line++;
    }
  if (*p == '\n') {
    p++;
    text->line++;
  }
  return p;
}

/* A float at p as strtof reads it (at most 63 characters), for what the fast scan leaves;
 * refused unless it is a whole finite number. The position after it, or null. */
static __attribute__((noinline)) const char *kroReadObjFloatSlowly(kroObjText *text, const char *p,
                                                                   float *value, const char *what) {
  char word[64];
  int length = 0;
  while (!kroObjWordEnds(p + length) && length < (int)sizeof word - 1) {
    word[length] = p[length];
    length++;
  }
  word[length] = 0;
  char *stop = nullptr;
  *value = length ? strtof(word, &stop) : 0.0f;
  if (!length || !kroObjWordEnds(p + length) || stop != word + length || !isfinite(*value)) {
    kroFailObj(text, "%s: not a finite number", what);
    return nullptr;
  }
  return p + length;
}

/* A float at p (after blanks): six decimals as modelling tools write them, the engine's other
 * fast scans, else kroReadObjFloatSlowly. The position after it, or null after a report. */
static inline const char *kroReadObjFloat(kroObjText *text, const char *p, float *value,
                                          const char *what) {
  p = kroPassObjBlanks(text, p);
  const char *after = kroScanASESixDecimals(p, value);
  if (!after)
    after = kroScanASEPlainFloat(p, text->end, value);
  return after && kroObjWordEnds(after) ? after : kroReadObjFloatSlowly(text, p, value, what);
}

/* The rest of the line as a name: blanks at both ends dropped, each inner run of blanks (and
 * continuations) as one blank, a comment kept. Longer than chars: cut there when `cut`,
 * otherwise refused. Returns the position at the line end, or null. */
static const char *kroReadObjName(kroObjText *text, const char *p, char *name, int chars, int cut,
                                  const char *what) {
  int length = 0, blank = 0;
  for (p = kroPassObjBlanks(text, p); *p && *p != '\n';) {
    if (kroObjBlank(*p) || kroObjContinues(p)) {
      p = kroPassObjBlanks(text, p);
      blank = 1;
      continue;
    }
    if (length + blank + 1 > chars) {
      if (!cut) {
        kroFailObj(text, "%s is longer than %d characters", what, chars);
        return nullptr;
      }
      break;
    }
    if (blank && length)
      name[length++] = ' ';
    blank = 0;
    name[length++] = *p++;
  }
  name[length] = 0;
  return p;
}

/* The first word at p (after blanks), its length through *length */
static const char *kroReadObjWord(kroObjText *text, const char *p, int *length) {
  p = kroPassObjBlanks(text, p);
  int n = 0;
  while (!kroObjWordEnds(p + n))
    n++;
  *length = n;
  return p;
}

static inline int kroObjIs(const char *word, int length, const char *keyword) {
  return (int)strlen(keyword) == length && memcmp(word, keyword, (size_t)length) == 0;
}

/* A list that grows by doubling up to `limit` entries of `size` bytes; 0 after a report. */
typedef struct kroObjList {
  void *data;
  int count, room;
} kroObjList;

/* Room for one entry more: doubled when full; 0 after a report. */
static int kroGrowFullObjList(kroObjList *list, int size, int limit, kroObjText *text,
                              const char *what) {
  if (list->count >= limit) {
    kroFailObj(text, "more than %d %s", limit, what);
    return 0;
  }
  int room = list->room ? (list->room > limit / 2 ? limit : list->room * 2) : 64;
  void *data = kroReallocate(list->data, (size_t)room * (size_t)size);
  if (!data) {
    kroFail("Error during allocating memory in kroLoadSceneFromOBJ(..)\n");
    return 0;
  }
  list->data = data;
  list->room = room;
  return 1;
}

static inline int kroGrowObjList(kroObjList *list, int size, int limit, kroObjText *text,
                                 const char *what) {
  return list->count < list->room || kroGrowFullObjList(list, size, limit, text, what);
}

/* ---- MTL libraries ---- */

/* A library's materials: the records, and for each the library it came from (textures are
 * looked for beside it). */
typedef struct kroObjMaterials {
  kroObjList records;   /* kroMaterial */
  kroObjList libraries; /* char[KRO_OBJ_PATH_CHARS]: each library's path */
  kroObjList first;     /* int: each library's first material */
} kroObjMaterials;

/* Materials and libraries are looked up by name through every one read: few by design. */
enum { KRO_OBJ_PATH_CHARS = 4096, KRO_OBJ_MAX_MATERIALS = 4096, KRO_OBJ_MAX_LIBRARIES = 64 };

static const struct {
  const char *keyword;
  int kind;
} KRO_MTL_MAPS[] = {{"map_Kd", KRO_MAP_DIFFUSE},  {"map_Bump", KRO_MAP_BUMP},
                    {"bump", KRO_MAP_BUMP},       {"map_bump", KRO_MAP_BUMP},
                    {"map_Ks", KRO_MAP_SPECULAR}, {"map_d", KRO_MAP_OPACITY},
                    {"refl", KRO_MAP_REFLECT}};

static void kroBlankObjMaterial(kroMaterial *material) {
  memset(material, 0, sizeof *material);
  material->diffuse[0] = material->diffuse[1] = material->diffuse[2] = 1.0f;
  material->opacity = 1.0f;
  for (int k = 0; k < KRO_MATERIAL_MAPS; k++)
    material->map[k].u_tiling = material->map[k].v_tiling = 1.0f;
}

/* A map line after its keyword: options, then the picture's name. -o and -s (offset and scale
 * about the origin, u then v) become the map's transform about the picture's centre; the other
 * options are passed over with their values. */
static inline int kroObjNumberStarts(const char *p) {
  p += *p == '-' || *p == '+';
  p += *p == '.';
  return *p >= '0' && *p <= '9';
}

static const char *kroReadMtlMap(kroObjText *text, const char *p, kroMaterialMap *map) {
  float offset[2] = {0, 0}, scale[2] = {1, 1};
  for (;;) {
    int length;
    const char *word = kroReadObjWord(text, p, &length);
    if (length < 2 || word[0] != '-' || kroObjNumberStarts(word))
      break;
    p = word + length;
    int numbers =
        kroObjIs(word, length, "-o") || kroObjIs(word, length, "-s") || kroObjIs(word, length, "-t")
            ? 3
        : kroObjIs(word, length, "-mm") ? 2
                                        : 0;
    float *into = word[1] == 'o' ? offset : word[1] == 's' ? scale : nullptr;
    if (!numbers) { /* -bm, -clamp, -imfchan ...: one value */
      word = kroReadObjWord(text, p, &length);
      p = word + length;
    }
    for (int i = 0; i < numbers; i++) {
      word = kroReadObjWord(text, p, &length);
      float number;
      if (i > 0 && !kroObjNumberStarts(word))
        break;
      if (!(p = kroReadObjFloat(text, word, &number, "map options")))
        return nullptr;
      if (into && i < 2)
        into[i] = number;
    }
  }
  p = kroReadObjName(text, p, map->bitmap, KRO_MAP_NAME_CHARS, 0, "a map's picture name");
  map->u_tiling = scale[0];
  map->v_tiling = scale[1];
  map->u_offset = offset[0] - 0.5f + 0.5f * scale[0];
  map->v_offset = offset[1] - 0.5f + 0.5f * scale[1];
  return p;
}

/* One library into the materials; 0 after a refusal (reported). A library that cannot be
 * opened is a warning: its materials stay unknown. */
static int kroReadMtl(kroObjMaterials *all, const char *path) {
  FILE *probe = fopen(path, "rb");
  if (!probe) {
    printf("Warning: the material library %s was not found\n", path);
    return 1;
  }
  fclose(probe);
  kroObjText text;
  if (!kroReadObjText(&text, path, "materials"))
    return 0;
  if (!kroGrowObjList(&all->libraries, KRO_OBJ_PATH_CHARS, KRO_OBJ_MAX_LIBRARIES, &text,
                      "material libraries") ||
      !kroGrowObjList(&all->first, sizeof(int), KRO_OBJ_MAX_LIBRARIES, &text,
                      "material libraries")) {
    free(text.bytes);
    return 0;
  }
  snprintf((char *)all->libraries.data + (size_t)all->libraries.count++ * KRO_OBJ_PATH_CHARS,
           KRO_OBJ_PATH_CHARS, "%s", path);
  ((int *)all->first.data)[all->first.count++] = all->records.count;
  kroMaterial *current = nullptr;
  const char *p = kroPassObjMark(text.bytes, text.end);
  while (p && p < text.end) {
    int length;
    const char *word = kroReadObjWord(&text, p, &length);
    p = word + length;
    if (kroObjIs(word, length, "newmtl")) {
      if (!kroGrowObjList(&all->records, sizeof(kroMaterial), KRO_OBJ_MAX_MATERIALS, &text,
                          "materials")) {
        p = nullptr;
        break;
      }
      current = (kroMaterial *)all->records.data + all->records.count++;
      kroBlankObjMaterial(current);
      p = kroReadObjName(&text, p, current->name, KRO_ASE_NAME_CHARS, 1, "");
      continue;
    }
    int colour = kroObjIs(word, length, "Kd"), fraction = kroObjIs(word, length, "d"),
        clear = kroObjIs(word, length, "Tr"), map = -1;
    for (size_t m = 0; m < sizeof KRO_MTL_MAPS / sizeof *KRO_MTL_MAPS; m++)
      if (kroObjIs(word, length, KRO_MTL_MAPS[m].keyword))
        map = KRO_MTL_MAPS[m].kind;
    if ((colour || fraction || clear || map >= 0) && !current) {
      kroFailObj(&text, "a material property before the first newmtl");
      p = nullptr;
    } else if (colour) {
      for (int i = 0; p && i < 3; i++)
        p = kroReadObjFloat(&text, p, &current->diffuse[i], "Kd");
    } else if (fraction || clear) {
      float value = 1.0f;
      if ((p = kroReadObjFloat(&text, p, &value, "d or Tr")))
        current->opacity = fraction ? value : 1.0f - value;
    } else if (map >= 0) {
      p = kroReadMtlMap(&text, p, &current->map[map]);
    }
    if (p)
      p = kroNextObjLine(&text, p); /* Ks, Ns, Ka, illum ... have no place in the record */
  }
  free(text.bytes);
  return p != nullptr;
}

/* ---- the OBJ walk ---- */

/* A run of triangles sharing a name and a material, its rows made as its faces are read:
 * positions, vertex normals (zero where a corner has none), texture coordinates (zero where
 * a corner has none) and face normals. In the indexed form its vertices instead (float[8] each,
 * one for each distinct position, texture coordinate and normal its corners name) and its
 * triangles of three vertex numbers. */
typedef struct kroObjPart {
  kroRowMaker op, nc, realn, tc;
  kroObjList vertex, index; /* indexed form: float[KRO_VERTEX_FLOATS], uint32_t[3] */
  int triangles;
  int first_shared; /* indexed form: the walk's first kroObjShared entry of this part */
  int material;
  int normals; /* every corner has a normal */
  char name[KRO_ASE_NAME_CHARS + 1];
} kroObjPart;

/* One corner of a face: indices into the position, texture coordinate and normal lists
 * (-1 when the face gives none); in the indexed form, its vertex's number in the part once found.
 */
typedef struct kroObjCorner {
  int v, t, n;
  int local;
} kroObjCorner;

/* A vertex made in the indexed form, chained to the one made before it at the same position.
 * Parts are made one after the other, so the vertices of a part are the entries from its
 * `first_shared` on, in order: an entry's number less that is the vertex's number in its part,
 * and a chain leaves the part where it reaches an entry before it. */
typedef struct kroObjShared {
  int next; /* the chain's next entry (always an earlier one), -1 at its end */
  int t, n;
} kroObjShared;

typedef struct kroObjWalk {
  int indexed;             /* parts keep shared vertices, not rows */
  kroObjList heads, links; /* indexed: per position the last kroObjShared made there (-1: none) */
  kroObjText text;
  kroObjList positions, coords, normals; /* float[3], float[2], float[3] */
  int triangles;                         /* in every part */
  kroObjList polygon;                    /* kroObjCorner of the face being read */
  kroObjList parts;                      /* kroObjPart */
  kroObjMaterials materials;
  char name[KRO_ASE_NAME_CHARS + 1]; /* the last o or g */
  int material;                      /* the last usemtl's material; -1 before one */
  int changed;                       /* name or material changed since the last part began */
} kroObjWalk;

static void kroFreeObjWalk(kroObjWalk *walk) {
  for (int i = 0; i < walk->parts.count; i++) {
    kroObjPart *part = (kroObjPart *)walk->parts.data + i;
    for (kroRowMaker *rows : {&part->op, &part->nc, &part->realn, &part->tc})
      kroDropRows(rows);
    free(part->vertex.data);
    free(part->index.data);
  }
  kroObjList *lists[] = {&walk->heads,
                         &walk->links,
                         &walk->positions,
                         &walk->coords,
                         &walk->normals,
                         &walk->polygon,
                         &walk->parts,
                         &walk->materials.records,
                         &walk->materials.libraries,
                         &walk->materials.first};
  for (kroObjList *list : lists)
    free(list->data);
  free(walk->text.bytes);
}

/* The material named `name`, made (white, with a warning) when no library holds it; -1 after a
 * report. The empty name is the material of faces before any usemtl. */
static int kroFindObjMaterial(kroObjWalk *walk, const char *name) {
  kroObjList *records = &walk->materials.records;
  for (int i = records->count - 1; i >= 0; i--)
    if (!strcmp(((kroMaterial *)records->data)[i].name, name))
      return i;
  if (*name)
    printf("Warning: %s, line %ld: no material library holds \"%s\"; it is drawn white\n",
           walk->text.path, walk->text.line, name);
  if (!kroGrowObjList(records, sizeof(kroMaterial), KRO_OBJ_MAX_MATERIALS, &walk->text,
                      "materials"))
    return -1;
  kroMaterial *material = (kroMaterial *)records->data + records->count;
  kroBlankObjMaterial(material);
  snprintf(material->name, sizeof material->name, "%s", name);
  return records->count++;
}

/* One index of a corner: 1-based from the first entry, or negative from the last read so far;
 * null after a report. */
static const char *kroReadObjIndexSlowly(kroObjWalk *walk, const char *p, int count,
                                         const char *list, int *index) {
  int negative = *p == '-', digits = 0;
  long value = 0;
  for (p += negative; *p >= '0' && *p <= '9'; p++, digits++)
    if (value <= KRO_ASE_MAX_COUNT)
      value = value * 10 + (*p - '0');
  long resolved = negative ? count - value : value - 1;
  if (!digits)
    kroFailObj(&walk->text, "a face's corner lacks its index into the %s", list);
  else if (value == 0 || resolved < 0 || resolved >= count)
    kroFailObj(&walk->text, "a face's index %s%.*s is outside the %d %s read so far",
               negative ? "-" : "", digits > 12 ? 12 : digits, p - digits, count, list);
  else {
    *index = (int)resolved;
    return p;
  }
  return nullptr;
}

#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
/* The value of the `digits` (1 to 7) decimal digits at q, read as one little-endian word (the
 * text is padded): shifted so that zero digits lead, then pairs, fours and all eight combined as
 * in kroScanASEFourDecimals. */
static inline uint64_t kroObjDigitsValue(const char *q, int digits) {
  uint64_t word;
  memcpy(&word, q, sizeof word);
  uint64_t value = (word ^ (UINT64_C(0x0101010101010101) * '0')) << (8 * (8 - digits));
  value = (value * 10 + (value >> 8)) & UINT64_C(0x00FF00FF00FF00FF);
  value = (value * 100 + (value >> 16)) & UINT64_C(0x0000FFFF0000FFFF);
  return (value * 10000 + (value >> 32)) & UINT64_C(0xFFFFFFFF);
}
#endif

/* One index of a corner as kroReadObjIndexSlowly reads it; a positive index of 1 to 7 digits
 * within the list read at once, its digits counted in the 8 bytes at p up to the first byte
 * that is none. */
static inline const char *kroReadObjIndex(kroObjWalk *walk, const char *p, int count,
                                          const char *list, int *index) {
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  uint64_t word;
  memcpy(&word, p, sizeof word);
  const uint64_t ones = UINT64_C(0x0101010101010101), values = word ^ (ones * '0');
  /* A byte that is no digit gets a bit in its high nibble (a carry it makes runs only into
   * bytes after it, which do not count). */
  const uint64_t none = (values | (values + ones * 6)) & (ones * 0xF0);
  const int digits = none ? __builtin_ctzll(none) / 8 : 8;
  if (digits > 0 && digits < 8) {
    uint64_t value = kroObjDigitsValue(p, digits);
    if (value > 0 && value <= (uint64_t)count) {
      *index = (int)value - 1;
      return p + digits;
    }
  }
#endif
  return kroReadObjIndexSlowly(walk, p, count, list, index);
}

/* A corner written v/vt/vn, each index positive, of 1 to 7 digits and within its list, read
 * whole: the bytes that are no digit among the 32 at p (the text is padded) give all three
 * lengths at once, so the three values are combined side by side rather than one after the
 * other. The position after it; null for any other corner, left to kroReadObjIndex (which
 * refuses what must be refused). */
static inline const char *kroReadObjCornerWhole(const kroObjWalk *walk, const char *p,
                                                kroObjCorner *corner) {
#if defined(__SSE2__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  const __m128i zero = _mm_set1_epi8('0'), nine = _mm_set1_epi8(9);
  uint64_t digit = 0;
  for (int half = 0; half < 2; half++) {
    const __m128i x = _mm_sub_epi8(_mm_loadu_si128((const __m128i *)(p + 16 * half)), zero);
    digit |= (uint64_t)(uint32_t)_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(x, nine), x))
             << (16 * half);
  }
  uint64_t other = ~digit; /* bits 32 and up set: never empty */
  const int slash = __builtin_ctzll(other);
  other &= other - 1;
  const int second = __builtin_ctzll(other);
  other &= other - 1;
  const int end = __builtin_ctzll(other);
  if (slash < 1 || slash > 7 || second - slash < 2 || second - slash > 8 || end - second < 2 ||
      end - second > 8 || p[slash] != '/' || p[second] != '/' || !kroObjWordEnds(p + end))
    return nullptr;
  const uint64_t v = kroObjDigitsValue(p, slash) - 1,
                 t = kroObjDigitsValue(p + slash + 1, second - slash - 1) - 1,
                 n = kroObjDigitsValue(p + second + 1, end - second - 1) - 1;
  /* An index 0 wraps to a huge value and fails its bound too. */
  if (v >= (uint64_t)walk->positions.count || t >= (uint64_t)walk->coords.count ||
      n >= (uint64_t)walk->normals.count)
    return nullptr;
  corner->v = (int)v, corner->t = (int)t, corner->n = (int)n;
  return p + end;
#else
  (void)walk, (void)p, (void)corner;
  return nullptr;
#endif
}

/* The part's vertex for a corner, found in the chain of the vertices made at its position (of
 * the same part, texture coordinate and normal) or made; -1 after a report. */
static int kroObjSharedVertex(kroObjWalk *walk, int part_number, const kroObjCorner *corner) {
  kroObjList *heads = &walk->heads;
  while (heads->count < walk->positions.count) { /* positions read since: no vertex yet */
    if (!kroGrowObjList(heads, sizeof(int), KRO_ASE_MAX_COUNT, &walk->text, "positions"))
      return -1;
    int filled = heads->room < walk->positions.count ? heads->room : walk->positions.count;
    for (int i = heads->count; i < filled; i++)
      ((int *)heads->data)[i] = -1;
    heads->count = filled;
  }
  int *head = (int *)heads->data;
  kroObjPart *part = (kroObjPart *)walk->parts.data + part_number;
  const kroObjShared *links = (const kroObjShared *)walk->links.data;
  const int first = part->first_shared;
  for (int e = head[corner->v]; e >= first; e = links[e].next)
    if (links[e].t == corner->t && links[e].n == corner->n)
      return e - first;
  if (!kroGrowObjList(&walk->links, sizeof(kroObjShared), 3 * KRO_ASE_MAX_COUNT, &walk->text,
                      "corners") ||
      !kroGrowObjList(&part->vertex, KRO_VERTEX_FLOATS * sizeof(float), 3 * KRO_ASE_MAX_COUNT,
                      &walk->text, "corners"))
    return -1;
  kroObjShared *link = (kroObjShared *)walk->links.data + walk->links.count;
  *link = {head[corner->v], corner->t, corner->n};
  head[corner->v] = walk->links.count++;
  float *out = (float *)part->vertex.data + (size_t)KRO_VERTEX_FLOATS * part->vertex.count++;
  const float *v = (const float *)walk->positions.data, *vt = (const float *)walk->coords.data,
              *vn = (const float *)walk->normals.data;
  memcpy(out, v + 3 * corner->v, 3 * sizeof(float));
  for (int k = 0; k < 3; k++)
    out[3 + k] = corner->n >= 0 ? vn[3 * corner->n + k] : 0.0f;
  out[6] = corner->t >= 0 ? vt[2 * corner->t] : 0.0f;
  out[7] = corner->t >= 0 ? vt[2 * corner->t + 1] : 0.0f;
  return part->vertex.count - 1;
}

/* The fan of a face's triangles as vertex numbers of the part, each corner's vertex found once
 * (kept in its `local`); 0 after a report. */
static int kroObjSharedFan(kroObjWalk *walk, int part_number, kroObjCorner *polygon, int corners) {
  for (int c = 0; c < corners; c++)
    if ((polygon[c].local = kroObjSharedVertex(walk, part_number, &polygon[c])) < 0)
      return 0;
  kroObjPart *part = (kroObjPart *)walk->parts.data + part_number;
  for (int i = 1; i + 1 < corners; i++) {
    if (!kroGrowObjList(&part->index, 3 * sizeof(uint32_t), KRO_ASE_MAX_COUNT, &walk->text,
                        "triangles"))
      return 0;
    uint32_t *triangle = (uint32_t *)part->index.data + 3 * (size_t)part->index.count++;
    triangle[0] = (uint32_t)polygon[0].local;
    triangle[1] = (uint32_t)polygon[i].local;
    triangle[2] = (uint32_t)polygon[i + 1].local;
    part->triangles++;
    walk->triangles++;
  }
  return 1;
}

/* An "f" line: its corners, then the fan of triangles over them into the current part. */
static const char *kroReadObjFace(kroObjWalk *walk, const char *p) {
  walk->polygon.count = 0;
  int normals = 1;
  for (;;) {
    p = kroPassObjBlanks(&walk->text, p);
    if (kroObjWordEnds(p))
      break;
    if (!kroGrowObjList(&walk->polygon, sizeof(kroObjCorner), KRO_ASE_MAX_COUNT, &walk->text,
                        "corners of a face"))
      return nullptr;
    kroObjCorner *corner = (kroObjCorner *)walk->polygon.data + walk->polygon.count++;
    const char *after = kroReadObjCornerWhole(walk, p, corner);
    if (after) {
      p = after;
      continue;
    }
    corner->t = corner->n = -1;
    p = kroReadObjIndex(walk, p, walk->positions.count, "positions", &corner->v);
    if (p && *p == '/') {
      if (*++p != '/' && !kroObjWordEnds(p))
        p = kroReadObjIndex(walk, p, walk->coords.count, "texture coordinates", &corner->t);
      if (p && *p == '/')
        p = kroReadObjIndex(walk, p + 1, walk->normals.count, "normals", &corner->n);
    }
    if (!p)
      return nullptr;
    normals &= corner->n >= 0;
    if (!kroObjWordEnds(p)) {
      kroFailObj(&walk->text, "a face's corner is not v, v/vt, v//vn or v/vt/vn");
      return nullptr;
    }
  }
  int corners = walk->polygon.count;
  if (corners < 3 || walk->triangles + (corners - 2) > KRO_ASE_MAX_COUNT) {
    if (corners < 3)
      kroFailObj(&walk->text, "a face has %d corners (at least 3)", corners);
    else
      kroFailObj(&walk->text, "the file has more than %d triangles", KRO_ASE_MAX_COUNT);
    return nullptr;
  }
  kroObjPart *part =
      walk->parts.count ? (kroObjPart *)walk->parts.data + walk->parts.count - 1 : nullptr;
  if (!part || walk->changed) {
    if (walk->material < 0 && (walk->material = kroFindObjMaterial(walk, "")) < 0)
      return nullptr;
    if (!kroGrowObjList(&walk->parts, sizeof(kroObjPart), KRO_ASE_MAX_COUNT, &walk->text,
                        "objects"))
      return nullptr;
    part = (kroObjPart *)walk->parts.data + walk->parts.count++;
    memset(part, 0, sizeof *part);
    part->op.floats = part->nc.floats = KRO_POSITION_FLOATS;
    part->realn.floats = KRO_REALNORMAL_FLOATS;
    part->tc.floats = KRO_TEXCOORD_FLOATS;
    part->material = walk->material;
    part->first_shared = walk->links.count;
    part->normals = 1;
    memcpy(part->name, walk->name, sizeof part->name);
    walk->changed = 0;
  }
  part->normals &= normals;
  kroObjCorner *polygon = (kroObjCorner *)walk->polygon.data;
  if (walk->indexed)
    return kroObjSharedFan(walk, walk->parts.count - 1, polygon, corners) ? p : nullptr;
  const float *v = (const float *)walk->positions.data, *vt = (const float *)walk->coords.data,
              *vn = (const float *)walk->normals.data;
  for (int i = 1; i + 1 < corners; i++) {
    float *op = kroNextRow(&part->op), *nc = kroNextRow(&part->nc), *tc = kroNextRow(&part->tc),
          *realn = kroNextRow(&part->realn);
    if (!op || !nc || !tc || !realn) {
      kroFail("Error during allocating memory in kroLoadSceneFromOBJ(..)\n");
      return nullptr;
    }
    for (int k = 0; k < 3; k++) {
      const kroObjCorner *corner = &polygon[k ? i + k - 1 : 0];
      memcpy(op + 3 * k, v + 3 * corner->v, 3 * sizeof(float));
      if (corner->n >= 0)
        memcpy(nc + 3 * k, vn + 3 * corner->n, 3 * sizeof(float));
      else
        memset(nc + 3 * k, 0, 3 * sizeof(float));
      tc[2 * k] = corner->t >= 0 ? vt[2 * corner->t] : 0.0f;
      tc[2 * k + 1] = corner->t >= 0 ? vt[2 * corner->t + 1] : 0.0f;
    }
    kroFaceNormals(&op, &realn, 1); /* again at the end if the part has corners without normals */
    part->triangles++;
    walk->triangles++;
  }
  return p;
}

/* `floats` numbers of six or four decimals (as modelling tools write positions and normals),
 * each after a single space and ended by white space; the position after the last, or null for
 * any other text, which is then read number by number. */
static inline const char *kroReadObjRowAtOnce(const char *p, int floats, float *row) {
  for (int i = 0; i < floats; i++) {
    if (*p != ' ')
      return nullptr;
    const char *q = p + 1; /* white space after d.dddd: four decimals, else try six */
    p = KRO_ASE_CLASS[(unsigned char)q[(*q == '-') + 6]] & KRO_ASE_SPACE
            ? kroScanASEFourDecimals(q, 1, &row[i])
            : kroScanASESixDecimals(q, &row[i]);
    if (!p)
      return nullptr;
  }
  return p;
}

/* A "v", "vt" or "vn" line: `floats` numbers (a texture coordinate's v may be left out: 0) */
static const char *kroReadObjRow(kroObjWalk *walk, const char *p, kroObjList *list, int floats,
                                 const char *what) {
  if (!kroGrowObjList(list, floats * (int)sizeof(float), KRO_ASE_MAX_COUNT, &walk->text, what))
    return nullptr;
  float *row = (float *)list->data + (size_t)list->count++ * (size_t)floats;
  const char *after = kroReadObjRowAtOnce(p, floats, row);
  if (after)
    return after;
  for (int i = 0; i < floats; i++) {
    row[i] = 0.0f;
    if (i == 1 && floats == 2 && kroObjWordEnds(kroPassObjBlanks(&walk->text, p)))
      break;
    if (!(p = kroReadObjFloat(&walk->text, p, &row[i], what)))
      return nullptr;
  }
  return p;
}

/* The path of the library named by the `length` bytes at word: relative to the OBJ file's
 * folder unless absolute. 0 after a report when it does not fit. */
static int kroObjLibraryPath(kroObjText *text, const char *word, int length, char *path) {
  const char *slash = strrchr(text->path, '/');
  int folder = slash ? (int)(slash - text->path) + 1 : 0;
  int made = word[0] == '/'
                 ? snprintf(path, KRO_OBJ_PATH_CHARS, "%.*s", length, word)
                 : snprintf(path, KRO_OBJ_PATH_CHARS, "%.*s%.*s", folder, text->path, length, word);
  if (made < KRO_OBJ_PATH_CHARS)
    return 1;
  kroFailObj(text, "a material library's path is longer than %d characters",
             KRO_OBJ_PATH_CHARS - 1);
  return 0;
}

/* "mtllib": each named library */
static const char *kroReadObjLibraries(kroObjWalk *walk, const char *p) {
  for (int length;; p = p + length) {
    const char *word = kroReadObjWord(&walk->text, p, &length);
    p = word;
    if (!length)
      return word;
    char path[KRO_OBJ_PATH_CHARS];
    if (!kroObjLibraryPath(&walk->text, word, length, path) || !kroReadMtl(&walk->materials, path))
      return nullptr;
  }
}

/* A line of any kind at p, its keyword after blanks: the position after what it holds (s, l, p,
 * comments and other keywords are passed over), null after a report. */
static const char *kroReadObjLine(kroObjWalk *walk, const char *p) {
  int length;
  const char *word = kroReadObjWord(&walk->text, p, &length);
  p = word + length;
  if (kroObjIs(word, length, "v"))
    p = kroReadObjRow(walk, p, &walk->positions, 3, "positions");
  else if (kroObjIs(word, length, "vt"))
    p = kroReadObjRow(walk, p, &walk->coords, 2, "texture coordinates");
  else if (kroObjIs(word, length, "vn"))
    p = kroReadObjRow(walk, p, &walk->normals, 3, "normals");
  else if (kroObjIs(word, length, "f"))
    p = kroReadObjFace(walk, p);
  else if (kroObjIs(word, length, "o") || kroObjIs(word, length, "g")) {
    char name[KRO_ASE_NAME_CHARS + 1];
    p = kroReadObjName(&walk->text, p, name, KRO_ASE_NAME_CHARS, 1, "");
    walk->changed |= strcmp(name, walk->name) != 0;
    memcpy(walk->name, name, sizeof name);
  } else if (kroObjIs(word, length, "usemtl")) {
    char name[KRO_ASE_NAME_CHARS + 1];
    int material = -1;
    if ((p = kroReadObjName(&walk->text, p, name, KRO_ASE_NAME_CHARS, 1, "")) &&
        (material = kroFindObjMaterial(walk, name)) < 0)
      p = nullptr;
    walk->changed |= material != walk->material;
    walk->material = material;
  } else if (kroObjIs(word, length, "mtllib"))
    p = kroReadObjLibraries(walk, p);
  return p;
}

/* The lines from text.bytes to text.end (KRO_ASE_PAD zeros there); 0 after a report. */
static int kroWalkObjLines(kroObjWalk *walk) {
  const char *p = walk->text.bytes;
  while (p && p < walk->text.end) {
    /* The lines of numbers and faces, their keyword at the line's start, told at once. */
    if (p[0] == 'v' && p[1] == ' ')
      p = kroReadObjRow(walk, p + 1, &walk->positions, 3, "positions");
    else if (p[0] == 'f' && p[1] == ' ')
      p = kroReadObjFace(walk, p + 1);
    else if (p[0] == 'v' && p[1] == 't' && p[2] == ' ')
      p = kroReadObjRow(walk, p + 2, &walk->coords, 2, "texture coordinates");
    else if (p[0] == 'v' && p[1] == 'n' && p[2] == ' ')
      p = kroReadObjRow(walk, p + 2, &walk->normals, 3, "normals");
    else
      p = kroReadObjLine(walk, p);
    if (p)
      p = kroNextObjLine(&walk->text, p);
  }
  return p != nullptr;
}

enum { KRO_OBJ_BLOCK_BYTES = 1 << 20 };

/* Where the whole lines among the first `have` bytes end: past the last line end that no
 * continuation joins to the next line; 0 when there is none. */
static size_t kroObjWholeLines(const char *bytes, size_t have) {
  for (size_t i = have; i > 0; i--)
    if (bytes[i - 1] == '\n' && !(i >= 2 && bytes[i - 2] == '\\') &&
        !(i >= 3 && bytes[i - 2] == '\r' && bytes[i - 3] == '\\'))
      return i;
  return 0;
}

/* The OBJ file read in blocks of whole lines, each walked as it comes (the buffer grows for a
 * longer line); 0 after a report. text.bytes is the buffer, freed with the walk. */
static int kroWalkObj(kroObjWalk *walk, const char *path) {
  long size;
  FILE *stream = kroOpenObjText(&walk->text, path, "OBJ scene", &size);
  if (!stream)
    return 0;
  size_t room = KRO_OBJ_BLOCK_BYTES, have = 0;
  int ok = 1, first = 1;
  for (int end = 0; ok && !end;) {
    if (!walk->text.bytes || have == room) {
      room = walk->text.bytes ? 2 * room : room;
      char *bytes = (char *)kroAllocate(room + KRO_ASE_PAD);
      if (!bytes) {
        kroFail("Error during allocating memory in kroLoadSceneFromOBJ(..)\n");
        ok = 0;
        break;
      }
      if (have)
        memcpy(bytes, walk->text.bytes, have);
      free(walk->text.bytes);
      walk->text.bytes = bytes;
    }
    char *bytes = walk->text.bytes;
    size_t got = fread(bytes + have, 1, room - have, stream);
    end = have + got < room;
    if (memchr(bytes + have, 0, got) || (end && ferror(stream))) {
      kroFail("Error in reading OBJ scene from %s: %s\n", path,
              got && memchr(bytes + have, 0, got) ? "a zero byte (not a text)"
                                                  : "the file could not be read whole");
      ok = 0;
      break;
    }
    if (first && kroPassObjMark(bytes, bytes + got) != bytes) {
      memmove(bytes, bytes + 3, got - 3);
      got -= 3;
    }
    first = 0;
    have += got;
    size_t lines = end ? have : kroObjWholeLines(bytes, have);
    if (!lines)
      continue; /* a line longer than the buffer: a bigger one */
    char kept[KRO_ASE_PAD];
    memcpy(kept, bytes + lines, KRO_ASE_PAD);
    memset(bytes + lines, 0, KRO_ASE_PAD);
    walk->text.end = bytes + lines;
    ok = kroWalkObjLines(walk);
    memcpy(bytes + lines, kept, KRO_ASE_PAD);
    memmove(bytes, bytes + lines, have - lines);
    have -= lines;
  }
  fclose(stream);
  return ok;
}

/* Smooth normals for a mesh whose corners do not all give one; 0 when the smoothing's memory
 * failed (reported there): the load stops rather than hand back flat normals. */
static int kroObjSmoothNormals(kroMesh *mesh) {
  long failures = kroFailureCount();
  kroComputeNormals(mesh->op, mesh->nc, mesh->realn, (uint32_t)mesh->triangles, 1);
  return kroFailureCount() == failures;
}

/* An indexed part as its mesh: the vertices and triangles handed over when every corner gave a
 * normal; otherwise rows made from them get smooth normals, as the row form's do, and are
 * turned (three vertices a triangle). 0 after a report. */
static int kroMakeObjIndexedMesh(kroObjPart *part, kroMesh *mesh) {
  mesh->triangles = part->triangles;
  if (part->normals) {
    mesh->vertex = (float *)part->vertex.data, mesh->index = (uint32_t *)part->index.data;
    mesh->vertices = part->vertex.count, mesh->has_tc = 1;
    part->vertex = part->index = {};
    return 1;
  }
  int rows = part->triangles;
  kroIncreaseObject(&mesh->op, 0, rows);
  kroIncreaseObject(&mesh->nc, 0, rows);
  kroIncreaseCoords(&mesh->realn, 0, rows);
  kroIncreaseTexCoords(&mesh->tc, 0, rows);
  if (rows && (!mesh->op || !mesh->nc || !mesh->realn || !mesh->tc))
    return 0; /* reported by the growth */
  const float *vertex = (const float *)part->vertex.data;
  const uint32_t *index = (const uint32_t *)part->index.data;
  for (int r = 0; r < rows; r++)
    for (int k = 0; k < 3; k++) {
      const float *from = vertex + (size_t)KRO_VERTEX_FLOATS * index[3 * r + k];
      memcpy(&mesh->op[r][3 * k], from, 3 * sizeof(float));
      memcpy(&mesh->tc[r][2 * k], from + 6, 2 * sizeof(float));
    }
  return kroObjSmoothNormals(mesh) && kroIndexMesh(mesh);
}

/* The parts as meshes, their rows handed over; 0 after a report (the walk's release frees what
 * is left). */
static int kroMakeObjMeshes(kroObjWalk *walk, kroMesh **meshes) {
  int count = walk->parts.count;
  kroMesh *all = (kroMesh *)kroAllocateZeroed((size_t)count * sizeof(kroMesh));
  if (!all) {
    kroFail("Error during allocating memory in kroLoadSceneFromOBJ(..)\n");
    return 0;
  }
  for (int i = 0; i < count; i++) {
    kroObjPart *part = (kroObjPart *)walk->parts.data + i;
    kroMesh *mesh = &all[i];
    mesh->material_ref = part->material;
    memcpy(mesh->node_name, part->name, sizeof mesh->node_name);
    if (walk->indexed) {
      if (!kroMakeObjIndexedMesh(part, mesh)) {
        kroFreeMeshArray(&all, i + 1);
        return 0;
      }
      continue;
    }
    kroObject *arrays[] = {&mesh->op, &mesh->nc, &mesh->realn, &mesh->tc};
    kroRowMaker *makers[] = {&part->op, &part->nc, &part->realn, &part->tc};
    for (int k = 0; k < 4; k++)
      if (!(*arrays[k] = kroFinishRows(makers[k]))) {
        kroFail("Error during allocating memory in kroLoadSceneFromOBJ(..)\n");
        for (int j = 0; j < k; j++)
          kroDestroyObject(arrays[j], 0);
        kroFreeMeshArray(&all, i);
        return 0;
      }
    mesh->triangles = part->triangles;
    if (!part->normals && !kroObjSmoothNormals(mesh)) {
      kroFreeMeshArray(&all, i + 1);
      return 0;
    }
  }
  *meshes = all;
  return 1;
}

int kroOBJSceneFiles(const char *path, kroScenePath **files) {
  kroObjText text;
  if (!kroReadObjText(&text, path, "OBJ scene"))
    return 0;
  int count = 0, ok = 1;
  for (const char *p = kroPassObjMark(text.bytes, text.end); ok && p < text.end;
       p = kroNextObjLine(&text, p)) {
    int length;
    const char *word = kroReadObjWord(&text, p, &length);
    p = word + length;
    if (!kroObjIs(word, length, "mtllib"))
      continue; /* the line is passed over */
    while (ok) {
      char library[KRO_OBJ_PATH_CHARS];
      word = kroReadObjWord(&text, p, &length);
      p = word + length;
      if (!length)
        break;
      ok = kroObjLibraryPath(&text, word, length, library) &&
           kroAddSceneFile(files, &count, library);
    }
  }
  free(text.bytes);
  if (!ok) {
    free(*files);
    *files = nullptr;
    count = 0;
  }
  return count;
}

int kroLoadSceneFromOBJ(kroScene *scene, const char *path, int textures) {
  return kroOBJLoadScene(scene, path, textures, 0);
}

int kroOBJLoadScene(kroScene *scene, const char *path, int textures, int indexed) {
  memset(scene, 0, sizeof *scene);
  kroObjWalk walk;
  memset(&walk, 0, sizeof walk);
  walk.material = -1;
  walk.indexed = indexed;
  kroMesh *meshes = nullptr;
  int walked = kroWalkObj(&walk, path);
  for (kroObjList *list : {&walk.positions, &walk.coords, &walk.normals}) {
    free(list->data); /* before the meshes' row pointers are made */
    *list = {};
  }
  free(walk.text.bytes);
  walk.text.bytes = nullptr;
  if (!walked || !kroMakeObjMeshes(&walk, &meshes)) {
    kroFreeObjWalk(&walk);
    return 0;
  }
  scene->format = KRO_SCENE_OBJ;
  scene->meshes = meshes;
  scene->mesh_count = walk.parts.count;
  scene->materials = (kroMaterial *)walk.materials.records.data;
  scene->material_count = walk.materials.records.count;
  walk.materials.records.data = nullptr;
  if (textures) {
    const int *first = (const int *)walk.materials.first.data;
    for (int l = 0; l < walk.materials.libraries.count; l++) {
      int end = l + 1 < walk.materials.first.count ? first[l + 1] : scene->material_count;
      kroLoadMaterialTextures(
          scene->materials + first[l], end - first[l],
          (const char *)walk.materials.libraries.data + (size_t)l * KRO_OBJ_PATH_CHARS, nullptr, 0);
    }
  }
  kroFreeObjWalk(&walk);
  return scene->mesh_count;
}
