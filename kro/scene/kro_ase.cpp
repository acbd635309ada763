/*
 * The ASE walk: the mesh walk shared with the source generator (objects,
 * their blocks and names, the keywords and their entries, read whole at once
 * where the fast paths allow), the mesh loaders, and the object and light
 * counters with the objects' offsets (all one walk). It may assume the
 * scanner's rules (kro_ase_scan.h): a value reader either takes its value or
 * reports and fails, and a token read leaves the block depth, the quote state
 * and whether it is text only in the reader. Files are hostile: every count,
 * index and length is checked before use, and a refused file leaves the
 * caller's arrays empty.
 * Depends on: kro_ase_scan.cpp (the reader), kro_object.cpp (arrays),
 * kro_error.cpp (allocation, reporting).
 */
#include "kro.h"
#include "kro_ase_scan.h"
#include "kro_internal.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

static const char KRO_ASE_FD_SOURCE[] = "file descriptor";

/* Whole-word comparison with a keyword literal; the length goes first. */
#define KRO_ASE_EQUALS(text, length, keyword)                                                      \
  ((length) == (int)sizeof(keyword) - 1 && !memcmp(text, keyword, sizeof(keyword) - 1))
/* The token just read is that keyword (and not text: see kroASEReader). */
#define KRO_ASE_IS(in, keyword)                                                                    \
  (!(in)->text_only && KRO_ASE_EQUALS((in)->token, (in)->token_length, keyword))

/* ---- the mesh walk ---- */

void kroBeginASEMeshWalk(kroASEMeshWalk *walk, FILE *stream, const char *source) {
  kroBeginASEReader(&walk->in, stream, source, "mesh");
  walk->skipping = 0;
  walk->open_end = 0;
  walk->object_state = KRO_ASE_OUTSIDE;
  walk->object_depth = 0;
  walk->pass_state = KRO_ASE_OUTSIDE;
  walk->pass_depth = 0;
  walk->tracked_depth = 0;
  walk->vertices = nullptr;
  walk->tvertices = nullptr;
  walk->vertex_count = -1;
  walk->tvertex_count = -1;
  walk->face_count = -1;
  walk->material_ref = 0;
  walk->triangle = 0;
  walk->list_keyword_length = 0;
  walk->node_name[0] = 0;
}

void kroEndASEMeshWalk(kroASEMeshWalk *walk) {
  kroEndASEReader(&walk->in);
  free(walk->vertices);
  free(walk->tvertices);
  walk->vertices = nullptr;
  walk->tvertices = nullptr;
}

/* A zero-filled table of count entries of `floats` floats. */
static int kroMakeASETable(kroASEMeshWalk *walk, float **table, int count, int floats) {
  size_t bytes = (size_t)count * (size_t)floats * sizeof(float);
  float *block = (float *)kroAllocateZeroed(bytes);
  if (!block) {
    kroFailASEMemory(&walk->in, "kroLoadMeshxFromASE");
    return 0;
  }
  free(*table);
  *table = block;
  return 1;
}

/* Reads an index for `what` of `keyword` and checks it against its count
 * (-1: the count was not given yet). */
static int kroReadASEIndex(kroASEMeshWalk *walk, int count, const char *count_keyword,
                           const char *what, int *index) {
  kroASEReader *in = &walk->in;
  if (!kroReadASEIntFast(in, index))
    return 0;
  if (count < 0) {
    kroFailASE(in, "%s comes before %s", in->token, count_keyword);
    return 0;
  }
  if (*index < 0 || *index >= count) {
    kroFailASE(in, "%s %d of %s is outside 0..%d", what, *index, in->token, count - 1);
    return 0;
  }
  return 1;
}

static int kroReadASEFloats(kroASEReader *in, float *values, int count) {
  const char *p = in->buffer + in->next;
  for (int i = 0; i < count; i++) {
    p = kroPassASESpace(p);
    const char *after = kroScanASEPlainFloat(p, in->buffer + in->end, &values[i]);
    if (after) {
      p = kroScanASENumberEnd(in, after);
      continue;
    }
    kroTakeASEUpTo(in, p);
    if (!kroReadASEFloatSlowly(in, &values[i]))
      return 0;
    p = in->buffer + in->next;
  }
  kroTakeASEUpTo(in, p);
  return 1;
}

/* Keywords that every walk acts on, whether it reads the values or passes
 * them over as tokens. */
static int kroIsASEWalkKeyword(const char *word, int length) {
  return KRO_ASE_EQUALS(word, length, "*GEOMOBJECT") ||
         KRO_ASE_EQUALS(word, length, "*LIGHTOBJECT") ||
         KRO_ASE_EQUALS(word, length, "*NODE_NAME") ||
         KRO_ASE_EQUALS(word, length, "*MESH_ANIMATION");
}

/* A "%s" value word (a label or the colon after a number); the token buffer
 * keeps the keyword for messages. A walk that passes values over would take
 * such a word for a keyword, so none stands among the values. */
static int kroReadASEValueWord(kroASEReader *in) {
  char word[KRO_ASE_TOKEN_CHARS + 1];
  int status = kroReadASEWordFast(in, word);
  if (status == 0)
    kroFailASE(in, "the file ends inside the entry of %s", in->token);
  if (status == 1 && !in->text_only && kroIsASEWalkKeyword(word, in->token_length)) {
    kroFailASE(in, "%s stands among the values of %s", word, in->token);
    return 0;
  }
  return status == 1;
}

/* "N:" (the colon glued to the number, so read as text), then A:, B: and C:
 * each before a vertex index. */
static int kroReadASEFaceAtOnce(kroASEMeshWalk *walk) {
  kroASEReader *in = &walk->in;
  const char *stop = in->buffer + in->end;
  int triangle, corner, separator = 0;
  const char *p = kroScanASEPlainInt(kroPassASESpace(in->buffer + in->next), stop, &triangle);
  if (!p || triangle < 0 || triangle >= walk->face_count || p[0] != ':' ||
      !kroIsASESpace((unsigned char)p[1]))
    return 0;
  p += 2;
  static const char labels[3][3] = {"A:", "B:", "C:"};
  for (int k = 0; k < 3; k++) {
    if (!(p = kroScanASEWordField(p, labels[k], 2, &separator)) ||
        !(p = kroScanASEIndexField(p, stop, walk->vertex_count, &corner)))
      return 0;
    memcpy(&walk->values[3 * k], &walk->vertices[3 * (size_t)corner], 3 * sizeof(float));
  }
  walk->triangle = triangle;
  kroTakeASEEntry(in, p, 2, separator);
  return 1;
}

static int kroReadASETFaceAtOnce(kroASEMeshWalk *walk) {
  kroASEReader *in = &walk->in;
  const char *stop = in->buffer + in->end;
  int triangle, corner;
  const char *p = kroScanASEIndexField(in->buffer + in->next, stop, walk->face_count, &triangle);
  for (int k = 0; k < 3 && p; k++) {
    if (!(p = kroScanASEIndexField(p, stop, walk->tvertex_count, &corner)))
      return 0;
    memcpy(&walk->values[2 * k], &walk->tvertices[2 * (size_t)corner], 2 * sizeof(float));
  }
  if (!p)
    return 0;
  walk->triangle = triangle;
  kroTakeASEEntry(in, p, 0, 0);
  return 1;
}

static int kroReadASEFaceNormalAtOnce(kroASEMeshWalk *walk) {
  static const char keyword[] = "*MESH_VERTEXNORMAL";
  const int length = (int)sizeof keyword - 1;
  kroASEReader *in = &walk->in;
  const char *stop = in->buffer + in->end;
  int triangle, unused, separator = 0;
  const char *p = kroScanASEIndexField(in->buffer + in->next, stop, walk->face_count, &triangle);
  if (!p || !(p = kroScanASEFloatFields(p, stop, walk->values, 3)))
    return 0;
  for (int k = 0; k < 3; k++)
    if (!(p = kroScanASEWordField(p, keyword, length, &separator)) ||
        !(p = kroScanASEIntField(p, stop, &unused)) ||
        !(p = kroScanASEFloatFields(p, stop, &walk->values[3 + 3 * k], 3)))
      return 0;
  walk->triangle = triangle;
  kroTakeASEEntry(in, p, length, separator);
  return 1;
}

/* ---- entries by the value readers ---- */

static int kroReadASEVertex(kroASEMeshWalk *walk) {
  int index;
  if (kroReadASEListEntryAtOnce(&walk->in, walk->vertices, walk->vertex_count, 3))
    return 1;
  if (!kroReadASEIndex(walk, walk->vertex_count, "*MESH_NUMVERTEX", "vertex", &index))
    return 0;
  return kroReadASEFloats(&walk->in, &walk->vertices[3 * (size_t)index], 3);
}

static int kroReadASETVertex(kroASEMeshWalk *walk) {
  int index;
  if (kroReadASEListEntryAtOnce(&walk->in, walk->tvertices, walk->tvertex_count, 2))
    return 1;
  if (!kroReadASEIndex(walk, walk->tvertex_count, "*MESH_NUMTVERTEX", "texture vertex", &index))
    return 0;
  return kroReadASEFloats(&walk->in, &walk->tvertices[2 * (size_t)index], 2);
}

static int kroReadASEFace(kroASEMeshWalk *walk) {
  int corner;
  if (kroReadASEFaceAtOnce(walk))
    return 1;
  if (!kroReadASEIndex(walk, walk->face_count, "*MESH_NUMFACES", "face", &walk->triangle) ||
      !kroReadASEValueWord(&walk->in))
    return 0;
  for (int k = 0; k < 3; k++) {
    if (!kroReadASEValueWord(&walk->in) ||
        !kroReadASEIndex(walk, walk->vertex_count, "*MESH_NUMVERTEX", "vertex", &corner))
      return 0;
    memcpy(&walk->values[3 * k], &walk->vertices[3 * (size_t)corner], 3 * sizeof(float));
  }
  return 1;
}

static int kroReadASETFace(kroASEMeshWalk *walk) {
  int corner;
  if (kroReadASETFaceAtOnce(walk))
    return 1;
  if (!kroReadASEIndex(walk, walk->face_count, "*MESH_NUMFACES", "face", &walk->triangle))
    return 0;
  for (int k = 0; k < 3; k++) {
    if (!kroReadASEIndex(walk, walk->tvertex_count, "*MESH_NUMTVERTEX", "texture vertex", &corner))
      return 0;
    memcpy(&walk->values[2 * k], &walk->tvertices[2 * (size_t)corner], 2 * sizeof(float));
  }
  return 1;
}

/* The face normal, then three vertex-normal entries: keyword (not compared),
 * vertex index (not used), x, y, z. */
static int kroReadASEFaceNormal(kroASEMeshWalk *walk) {
  int unused;
  if (kroReadASEFaceNormalAtOnce(walk))
    return 1;
  if (!kroReadASEIndex(walk, walk->face_count, "*MESH_NUMFACES", "face", &walk->triangle) ||
      !kroReadASEFloats(&walk->in, walk->values, 3))
    return 0;
  for (int k = 0; k < 3; k++)
    if (!kroReadASEValueWord(&walk->in) || !kroReadASEInt(&walk->in, &unused) ||
        !kroReadASEFloats(&walk->in, &walk->values[3 + 3 * k], 3))
      return 0;
  return 1;
}

static int kroReadASENewCount(kroASEMeshWalk *walk, int *count) {
  if (*count >= 0) {
    kroFailASE(&walk->in, "%s is given twice", walk->in.token);
    return 0;
  }
  return kroReadASECount(&walk->in, walk->in.token, count);
}

/* Top-level objects that may follow a geometry object: their tokens run up to
 * the next "*GEOMOBJECT" but are not the geometry object's. */
static int kroIsASEOtherObject(const kroASEReader *in) {
  return KRO_ASE_IS(in, "*CAMERAOBJECT") || KRO_ASE_IS(in, "*LIGHTOBJECT") ||
         KRO_ASE_IS(in, "*HELPEROBJECT") || KRO_ASE_IS(in, "*SHAPEOBJECT");
}

static int kroIsASEOpeningBrace(const kroASEReader *in) {
  return !in->text_only && in->token_length == 1 && in->token[0] == '{';
}

void kroFollowASEBlock(const kroASEReader *in, int *state, int depth) {
  if (*state == KRO_ASE_HEAD && kroIsASEOpeningBrace(in) && in->depth == depth + 1)
    *state = KRO_ASE_BODY;
  else if (*state == KRO_ASE_BODY && in->depth <= depth)
    *state = KRO_ASE_OUTSIDE;
}

/* Where the token just read stands: updates the object's and the passed
 * block's states; returns 1 when the token lies in a "*MESH_ANIMATION" block
 * (or is its braces) and so is passed over. A "*GEOMOBJECT" always counts, so
 * objects start and end where they did without the block rule. */
static int kroFollowASEToken(kroASEMeshWalk *walk) {
  kroASEReader *in = &walk->in;
  walk->tracked_depth = in->depth;
  kroFollowASEBlock(in, &walk->object_state, walk->object_depth);
  if (walk->object_state == KRO_ASE_HEAD && kroIsASEOtherObject(in))
    walk->object_state = KRO_ASE_OUTSIDE; /* a file without braces */
  if (walk->pass_state == KRO_ASE_OUTSIDE)
    return 0;
  int was = walk->pass_state;
  kroFollowASEBlock(in, &walk->pass_state, walk->pass_depth);
  if (was == KRO_ASE_HEAD && walk->pass_state == KRO_ASE_HEAD) {
    walk->pass_state = KRO_ASE_OUTSIDE; /* no block after the keyword */
    return 0;
  }
  if (KRO_ASE_IS(in, "*GEOMOBJECT")) {
    walk->pass_state = KRO_ASE_OUTSIDE;
    return 0;
  }
  return 1;
}

/* What a keyword handler returns besides an entry kind. */
static const int KRO_ASE_NO_ENTRY = -2; /* the token yields no entry: passed over or consumed */
static const int KRO_ASE_OTHER_KEYWORD = -3; /* not one of the handler's keywords */

/* The keywords that shape the walk, acted on in every mode (see
 * kroIsASEWalkKeyword); returns the entry kind, KRO_ASE_NO_ENTRY, or
 * KRO_ASE_OTHER_KEYWORD when the token is none of them. */
static int kroHandleASEWalkKeyword(kroASEMeshWalk *walk) {
  kroASEReader *in = &walk->in;
  if (KRO_ASE_IS(in, "*GEOMOBJECT")) {
    walk->object_state = KRO_ASE_HEAD;
    walk->object_depth = in->depth;
    return KRO_ASE_GEOMOBJECT;
  }
  if (KRO_ASE_IS(in, "*LIGHTOBJECT"))
    return KRO_ASE_LIGHTOBJECT;
  if (KRO_ASE_IS(in, "*MESH_ANIMATION")) {
    walk->pass_state = KRO_ASE_HEAD;
    walk->pass_depth = in->depth;
    return KRO_ASE_NO_ENTRY;
  }
  if (KRO_ASE_IS(in, "*NODE_NAME")) {
    /* Read, and so checked, wherever it stands; only the object's own names count. */
    char name[KRO_ASE_NAME_CHARS + 1];
    if (!kroReadASEQuoted(in, name, KRO_ASE_NAME_CHARS, "node name"))
      return KRO_ASE_FAILED;
    if (walk->object_state == KRO_ASE_OUTSIDE)
      return KRO_ASE_NO_ENTRY;
    strcpy(walk->node_name, name);
    return KRO_ASE_NODE_NAME;
  }
  return KRO_ASE_OTHER_KEYWORD;
}

/* A list entry by `read`: `entry` after it, with its keyword kept for the next
 * entry (the keyword's length: the token buffer holds it); KRO_ASE_FAILED
 * after a reported failure. */
KRO_ASE_HOT int kroReadASEListEntry(kroASEMeshWalk *walk, int (*read)(kroASEMeshWalk *),
                                    int entry) {
  int length = walk->in.token_length; /* of the keyword: no value is read yet */
  if (!read(walk))
    return KRO_ASE_FAILED;
  walk->list_keyword_length = length;
  return entry;
}

/* The keywords with values; returns the entry kind, or KRO_ASE_NO_ENTRY when
 * the token yields none (passed over or consumed internally). */
static int kroHandleASEValueKeyword(kroASEMeshWalk *walk) {
  kroASEReader *in = &walk->in;
  if (KRO_ASE_IS(in, "*MESH_VERTEX"))
    return kroReadASEListEntry(walk, kroReadASEVertex, KRO_ASE_NO_ENTRY);
  if (KRO_ASE_IS(in, "*MESH_FACE"))
    return kroReadASEListEntry(walk, kroReadASEFace, KRO_ASE_FACE);
  if (KRO_ASE_IS(in, "*MESH_FACENORMAL"))
    return kroReadASEListEntry(walk, kroReadASEFaceNormal, KRO_ASE_FACENORMAL);
  if (KRO_ASE_IS(in, "*MESH_TVERT"))
    return kroReadASEListEntry(walk, kroReadASETVertex, KRO_ASE_NO_ENTRY);
  if (KRO_ASE_IS(in, "*MESH_TFACE"))
    return kroReadASEListEntry(walk, kroReadASETFace, KRO_ASE_TFACE);
  if (KRO_ASE_IS(in, "*MESH_NUMFACES"))
    return kroReadASENewCount(walk, &walk->face_count) ? KRO_ASE_NUMFACES : KRO_ASE_FAILED;
  if (KRO_ASE_IS(in, "*MESH_NUMVERTEX")) {
    if (!kroReadASENewCount(walk, &walk->vertex_count) ||
        !kroMakeASETable(walk, &walk->vertices, walk->vertex_count, 3))
      return KRO_ASE_FAILED;
    return KRO_ASE_NO_ENTRY;
  }
  if (KRO_ASE_IS(in, "*MESH_NUMTVERTEX")) {
    /* Each further mapping channel repeats this count: its list replaces the table. */
    int count;
    if (!kroReadASECount(in, in->token, &count) ||
        !kroMakeASETable(walk, &walk->tvertices, count, 2))
      return KRO_ASE_FAILED;
    walk->tvertex_count = count;
    return KRO_ASE_NO_ENTRY;
  }
  if (KRO_ASE_IS(in, "*MATERIAL_REF"))
    return kroReadASEInt(in, &walk->material_ref) ? KRO_ASE_NO_ENTRY : KRO_ASE_FAILED;
  return KRO_ASE_NO_ENTRY;
}

/* Whether the plain words ahead may be taken in bulk (kroTakeASEPlainWords)
 * and the list keyword looked for after them. Invariant: reading a plain word
 * as a token here would act on nothing, so taking it unread leaves the walk
 * exactly where reading it would. That holds unless
 * - the last value ended glued to a byte that is not white space: the next
 *   token is the rest of that value's word, read as text;
 * - a "*MESH_ANIMATION" keyword waits for its "{": any other token there
 *   ends the pass over the block;
 * - a brace read among values changed the depth since the block states were
 *   last followed: the next token read must follow them. */
static inline int kroMayTakeASEPlainWords(const kroASEMeshWalk *walk) {
  return !walk->in.glued && walk->pass_state != KRO_ASE_HEAD &&
         walk->in.depth == walk->tracked_depth;
}

int kroNextASEMeshEntry(kroASEMeshWalk *walk) {
  for (;;) {
    int entry;
    if (kroMayTakeASEPlainWords(walk)) {
      /* Lists repeat their keyword: read that way, it is the same token,
       * which no block state follows and only the value handler acts on.
       * It mostly stands right after the white space; after a face's flags
       * it follows the plain words. */
      int repeats = walk->list_keyword_length && !walk->in.in_quotes, repeated = 0;
      if (repeats) {
        kroTakeASEUpTo(&walk->in, kroPassASESpace(walk->in.buffer + walk->in.next));
        repeated = kroTakeASERepeatedKeyword(&walk->in, walk->list_keyword_length);
      }
      if (!repeated) {
        kroTakeASEPlainWords(&walk->in);
        repeated = repeats && kroTakeASERepeatedKeyword(&walk->in, walk->list_keyword_length);
      }
      if (repeated) {
        entry = kroHandleASEValueKeyword(walk);
        if (entry != KRO_ASE_NO_ENTRY)
          return entry;
        continue;
      }
    }
    walk->list_keyword_length = 0;
    int status = kroReadASEToken(&walk->in);
    if (status < 0)
      return KRO_ASE_FAILED;
    if (status == 0)
      return walk->open_end || kroCheckASEComplete(&walk->in) ? KRO_ASE_END : KRO_ASE_FAILED;
    if (kroFollowASEToken(walk) || walk->in.token[0] != '*' || walk->in.text_only)
      continue;
    entry = kroHandleASEWalkKeyword(walk);
    if (entry == KRO_ASE_OTHER_KEYWORD && !walk->skipping)
      entry = kroHandleASEValueKeyword(walk);
    if (entry != KRO_ASE_NO_ENTRY && entry != KRO_ASE_OTHER_KEYWORD)
      return entry;
  }
}

/* ---- the mesh loaders ---- */

/* Where a load puts its result; the arrays are grown at *MESH_NUMFACES. */
typedef struct kroMeshTarget {
  kroObject *op, *nc, *realn, *tc;
  int grown; /* rows the four arrays hold */
} kroMeshTarget;

static void kroDropMeshTarget(kroMeshTarget *target) {
  kroDestroyObject(target->op, target->grown);
  kroDestroyObject(target->nc, target->grown);
  kroDestroyObject(target->realn, target->grown);
  kroDestroyObject(target->tc, target->grown);
  target->grown = 0;
}

static void kroZeroRows(kroObject rows, int count, int floats) {
  for (int i = 0; i < count; i++)
    memset(rows[i], 0, (size_t)floats * sizeof(float));
}

/* Grows the four arrays in the engine's order; 0 when a growth failed (it
 * reported), with every array that did grow released again. */
static int kroGrowMeshTarget(kroMeshTarget *target, int count) {
  kroIncreaseObject(target->op, 0, count);
  if (!*target->op)
    return 0;
  kroIncreaseTexCoords(target->tc, 0, count);
  if (!*target->tc) {
    kroDestroyObject(target->op, count);
    return 0;
  }
  kroIncreaseCoords(target->realn, 0, count);
  if (!*target->realn) {
    kroDestroyObject(target->op, count);
    kroDestroyObject(target->tc, count);
    return 0;
  }
  kroIncreaseObject(target->nc, 0, count);
  if (!*target->nc) {
    kroDestroyObject(target->op, count);
    kroDestroyObject(target->tc, count);
    kroDestroyObject(target->realn, count);
    return 0;
  }
  target->grown = count;
  kroZeroRows(*target->op, count, KRO_POSITION_FLOATS);
  kroZeroRows(*target->nc, count, KRO_POSITION_FLOATS);
  kroZeroRows(*target->tc, count, KRO_TEXCOORD_FLOATS);
  kroZeroRows(*target->realn, count, KRO_REALNORMAL_FLOATS);
  return 1;
}

/* Takes entries into the arrays until the object ends. With `begun` set, the
 * first "*GEOMOBJECT" met ends the object; `step_back` then leaves the stream
 * at the start of that keyword. Returns 1, or 0 after a reported failure. */
static int kroLoadASEObject(kroASEMeshWalk *walk, kroMeshTarget *target, int begun, int step_back,
                            char *name, int *have_name) {
  for (;;) {
    int entry = kroNextASEMeshEntry(walk);
    int t = walk->triangle;
    switch (entry) {
    case KRO_ASE_END:
      return 1;
    case KRO_ASE_FAILED:
      return 0;
    case KRO_ASE_GEOMOBJECT:
      if (!begun) {
        begun = 1;
        break;
      }
      if (step_back && !kroStepBackASEToken(&walk->in)) {
        kroFailASEStream(&walk->in, "the stream cannot move back to the next *GEOMOBJECT");
        return 0;
      }
      return 1;
    case KRO_ASE_NODE_NAME:
      strcpy(name, walk->node_name);
      *have_name = 1;
      break;
    case KRO_ASE_NUMFACES:
      if (!kroGrowMeshTarget(target, walk->face_count))
        return 0;
      break;
    case KRO_ASE_FACE:
      memcpy((*target->op)[t], walk->values, 9 * sizeof(float));
      break;
    case KRO_ASE_TFACE:
      memcpy((*target->tc)[t], walk->values, 6 * sizeof(float));
      break;
    case KRO_ASE_FACENORMAL:
      memcpy((*target->realn)[t], walk->values, 3 * sizeof(float));
      memcpy((*target->nc)[t], &walk->values[3], 9 * sizeof(float));
      break;
    }
  }
}

/* Common end of both loaders: hand the result over, or leave it empty. */
static int kroFinishASELoad(kroASEMeshWalk *walk, kroMeshTarget *target, int ok, const char *name,
                            int have_name, char *node_name, int *triangles) {
  int material_ref = 0;
  if (ok) {
    if (have_name)
      strcpy(node_name, name);
    *triangles = target->grown;
    material_ref = walk->material_ref;
  } else {
    kroDropMeshTarget(target);
    *triangles = 0;
  }
  kroEndASEMeshWalk(walk);
  return material_ref;
}

int kroLoadMeshxFromASE(kroObject *op, kroObject *nc, kroObject *realn, kroObject *tc, int number,
                        const char *path, char *node_name, int *triangles) {
  kroMeshTarget target = {op, nc, realn, tc, 0};
  char name[KRO_ASE_NAME_CHARS + 1];
  int have_name = 0, ok = 1, found = 0;
  *triangles = 0;
  FILE *stream = fopen(path, "r");
  if (!stream) {
    kroFail("Error in reading mesh from %s\n", path);
    return 0;
  }
  kroASEMeshWalk walk;
  kroBeginASEMeshWalk(&walk, stream, path);
  walk.skipping = 1;
  for (int objects = 0; ok && !found;) {
    int entry = kroNextASEMeshEntry(&walk);
    if (entry == KRO_ASE_FAILED)
      ok = 0;
    else if (entry == KRO_ASE_END)
      break;
    else if (entry == KRO_ASE_GEOMOBJECT && ++objects == number)
      found = 1;
  }
  if (found) {
    walk.skipping = 0;
    ok = kroLoadASEObject(&walk, &target, 1, 0, name, &have_name);
  }
  int material_ref = kroFinishASELoad(&walk, &target, ok, name, have_name, node_name, triangles);
  kroCloseASEStream(stream);
  return material_ref;
}

int kroLoadMeshFromASEfd(kroObject *op, kroObject *nc, kroObject *realn, kroObject *tc,
                         FILE *stream, char *node_name, int *triangles) {
  kroMeshTarget target = {op, nc, realn, tc, 0};
  char name[KRO_ASE_NAME_CHARS + 1];
  int have_name = 0;
  *triangles = 0;
  if (!stream) {
    kroFail("Error in reading mesh from file descriptor\n");
    return 0;
  }
  kroASEMeshWalk walk;
  kroBeginASEMeshWalk(&walk, stream, KRO_ASE_FD_SOURCE);
  int ok = kroLoadASEObject(&walk, &target, 0, 1, name, &have_name);
  return kroFinishASELoad(&walk, &target, ok, name, have_name, node_name, triangles);
}

/* ---- finding the objects ---- */

/* What one walk over a file finds: its geometry and light objects and, when
 * asked for, where each geometry object begins. */
typedef struct kroASEFound {
  int objects, lights;
  long *offsets; /* byte offset of each "*GEOMOBJECT"; null unless asked for */
  int capacity;  /* entries offsets has room for */
} kroASEFound;

/* Keeps the offset of the "*GEOMOBJECT" just read, doubling the room as
 * needed; 0 (reported) when the stream cannot tell it or the room cannot grow. */
static int kroKeepASEOffset(kroASEFound *scan, kroASEReader *in, const char *function) {
  long here = kroTellASE(in);
  if (here < 0) {
    kroFailASEStream(in, "the stream cannot tell where *GEOMOBJECT stands");
    return 0;
  }
  if (scan->objects == scan->capacity) {
    int capacity = scan->capacity ? 2 * scan->capacity : 16;
    long *grown = (long *)kroAllocate((size_t)capacity * sizeof(long));
    if (!grown) {
      kroFail("Error during allocating memory in %s(..)\n", function);
      return 0;
    }
    if (scan->objects)
      memcpy(grown, scan->offsets, (size_t)scan->objects * sizeof(long));
    free(scan->offsets);
    scan->offsets = grown;
    scan->capacity = capacity;
  }
  scan->offsets[scan->objects] = kroTokenStartASE(in);
  return 1;
}

/* Walks the file as every reader does, its values passed over as tokens, so
 * that no text in a name or comment can add or hide an object. The end is not
 * checked: a cut-off last object is the reader's to refuse. 0 (reported, the
 * scan empty) when the file does not open or the walk refuses it. */
static int kroFindASEObjects(const char *path, const char *function, kroASEFound *scan,
                             int offsets) {
  memset(scan, 0, sizeof *scan);
  FILE *stream = fopen(path, "r");
  if (!stream) {
    kroFail("Error during reading from file %s in function %s(..)\n", path, function);
    return 0;
  }
  kroASEMeshWalk walk;
  kroBeginASEMeshWalk(&walk, stream, path);
  walk.skipping = 1;
  walk.open_end = 1;
  int entry;
  while ((entry = kroNextASEMeshEntry(&walk)) > KRO_ASE_END) {
    scan->lights += entry == KRO_ASE_LIGHTOBJECT;
    if (entry != KRO_ASE_GEOMOBJECT)
      continue;
    if (offsets && !kroKeepASEOffset(scan, &walk.in, function)) {
      entry = KRO_ASE_FAILED;
      break;
    }
    scan->objects++;
  }
  kroEndASEMeshWalk(&walk);
  kroCloseASEStream(stream);
  if (entry == KRO_ASE_FAILED) {
    free(scan->offsets);
    memset(scan, 0, sizeof *scan);
    return 0;
  }
  return 1;
}

int kroObjectsInASE(const char *path) {
  kroASEFound scan;
  kroFindASEObjects(path, "kroObjectsInASE", &scan, 0);
  return scan.objects;
}

int kroLightsInASE(const char *path) {
  kroASEFound scan;
  kroFindASEObjects(path, "kroLightsInASE", &scan, 0);
  return scan.lights;
}

void kroObjectsAndLightsInASE(const char *path, int *objects, int *lights) {
  kroASEFound scan;
  kroFindASEObjects(path, "kroObjectsAndLightsInASE", &scan, 0);
  *objects = scan.objects;
  *lights = scan.lights;
}

int kroObjectOffsetsInASE(const char *path, long **offsets) {
  kroASEFound scan;
  kroFindASEObjects(path, "kroObjectOffsetsInASE", &scan, 1);
  *offsets = scan.offsets;
  return scan.objects;
}

/* ---- every object at once ---- */

void kroFreeMeshArray(kroMesh **meshes, int count) {
  if (*meshes) {
    for (int i = 0; i < count; i++) {
      kroMesh *mesh = &(*meshes)[i];
      kroDestroyObject(&mesh->op, mesh->triangles);
      kroDestroyObject(&mesh->nc, mesh->triangles);
      kroDestroyObject(&mesh->realn, mesh->triangles);
      kroDestroyObject(&mesh->tc, mesh->triangles);
      kroDestroyObject(&mesh->colors, mesh->triangles);
      free(mesh->vertex);
      free(mesh->index);
      free(mesh->color);
    }
    free(*meshes);
  }
  *meshes = nullptr;
}

/* Reads the object whose "*GEOMOBJECT" stands at `offset` into mesh; 1, or 0
 * after a reported failure (the mesh left empty). */
static int kroLoadASEObjectAt(FILE *stream, const char *path, long offset, kroMesh *mesh) {
  kroMeshTarget target = {&mesh->op, &mesh->nc, &mesh->realn, &mesh->tc, 0};
  char name[KRO_ASE_NAME_CHARS + 1];
  int have_name = 0;
  kroASEMeshWalk walk;
  kroBeginASEMeshWalk(&walk, stream, path);
  int ok = fseek(stream, offset, SEEK_SET) == 0;
  if (!ok)
    kroFailASEStream(&walk.in, "the stream cannot move to a *GEOMOBJECT");
  else
    ok = kroLoadASEObject(&walk, &target, 0, 0, name, &have_name);
  mesh->material_ref =
      kroFinishASELoad(&walk, &target, ok, name, have_name, mesh->node_name, &mesh->triangles);
  return ok;
}

int kroLoadMeshArrayFromASE(kroMesh **meshes, const char *path) {
  *meshes = nullptr;
  kroASEFound scan;
  if (!kroFindASEObjects(path, "kroLoadMeshArrayFromASE", &scan, 1) || scan.objects == 0)
    return 0;
  int count = scan.objects, ok = 1;
  FILE *stream = fopen(path, "r");
  kroMesh *all = stream ? (kroMesh *)kroAllocate((size_t)count * sizeof(kroMesh)) : nullptr;
  if (!stream)
    kroFail("Error in reading mesh from %s\n", path);
  else if (!all)
    kroFail("Error during allocating memory in kroLoadMeshArrayFromASE(..)\n");
  if (all) {
    memset(all, 0, (size_t)count * sizeof(kroMesh));
    for (int i = 0; ok && i < count; i++)
      ok = kroLoadASEObjectAt(stream, path, scan.offsets[i], &all[i]);
  }
  if (stream)
    kroCloseASEStream(stream);
  free(scan.offsets);
  if (!all || !ok) {
    kroFreeMeshArray(&all, count);
    return 0;
  }
  *meshes = all;
  return count;
}
