/*
 * Mesh source generator: writes one geometry object of an ASE stream as the
 * source text of a loader function that rebuilds the mesh from constants.
 * It walks the stream with the reader's mesh walk, so both accept and refuse
 * the same files; where the reader stores a value, this writes an assignment.
 * A mesh record already read (any scene format) is written by the same
 * printers, every row whole and every float exactly.
 * Depends on: kro_ase.cpp (the mesh walk), kro_error.cpp (reporting).
 */
#include "kro.h"
#include "kro_ase_reader.h"
#include "kro_internal.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <cmath>

#include <charconv>

/* Longest assignment line: "\t(*realn)[", two ints, "]=", a float written
 * with "%f" (up to 39 digits before the point for FLT_MAX) or as its shortest
 * exact literal, ";\n". */
enum { KRO_SRC_LINE_BYTES = 128 };

/* Most lines one entry writes: a face normal's 3 and its vertex normals' 9. */
enum { KRO_SRC_ENTRY_LINES = 12 };

/* Two decimal digits per entry, "00" to "99". */
static const char KRO_SRC_DIGIT_PAIRS[] = "00010203040506070809101112131415161718192021222324"
                                          "25262728293031323334353637383940414243444546474849"
                                          "50515253545556575859606162636465666768697071727374"
                                          "75767778798081828384858687888990919293949596979899";

/* Writes value (below 10^6) as exactly six digits. */
static char *kroWriteSrcSixDigits(char *out, uint32_t value) {
  for (int i = 2; i >= 0; i--, value /= 100)
    memcpy(out + 2 * i, &KRO_SRC_DIGIT_PAIRS[2 * (value % 100)], 2);
  return out + 6;
}

/* A float as "%f" writes it: the sign of any negative value (zero included),
 * the integer part, the point and six decimals of the exact binary value
 * rounded to nearest, ties to even. Below 2^32 the value times 10^6 is
 * computed exactly in 64 bits; larger ones go through std::to_chars, which
 * gives the same digits. `end` bounds the text. */
/* |value| in millionths, rounded as "%f" rounds (ties to even), for |value|
 * below 2^32; 0 (nothing stored) for larger ones. */
static inline __attribute__((always_inline)) int kroSrcMillionths(float value,
                                                                  uint64_t *millionths) {
  uint32_t bits;
  memcpy(&bits, &value, sizeof bits);
  int exponent = (int)((bits >> 23) & 0xff);
  if (exponent >= 127 + 32)
    return 0;
  /* value = mantissa * 2^shift exactly */
  uint64_t mantissa = bits & 0x7fffff;
  int shift = exponent ? exponent - 150 : -149;
  if (exponent)
    mantissa |= 0x800000;
  if (shift >= 0) {
    *millionths = (mantissa << shift) * 1000000;
  } else if (shift > -64) {
    /* mantissa * 10^6 < 2^44: the quotient and the remainder are exact. */
    uint64_t scaled = mantissa * 1000000, half = UINT64_C(1) << (-shift - 1);
    uint64_t rest = scaled & ((half << 1) - 1);
    *millionths = scaled >> -shift;
    *millionths += rest > half || (rest == half && (*millionths & 1));
  } else {
    *millionths = 0; /* below 2^-20: far under half a millionth */
  }
  return 1;
}

static char *kroWriteSrcFixed(char *out, char *end, float value) {
  uint64_t millionths;
  if (!kroSrcMillionths(value, &millionths))
    return std::to_chars(out, end, (double)value, std::chars_format::fixed, 6).ptr;
  if (std::signbit(value))
    *out++ = '-';
  out = std::to_chars(out, end, (uint32_t)(millionths / 1000000)).ptr;
  *out++ = '.';
  return kroWriteSrcSixDigits(out, (uint32_t)(millionths % 1000000));
}

/* A float constant that reads back as exactly `value`: the shortest
 * round-trip digits, made a float literal ("0.1f", "-3.0f", "1e+30f"); an
 * infinity or a NaN (a binary file may hold them) as the compiler's constant. */
static char *kroWriteSrcExact(char *out, char *end, float value) {
  if (!std::isfinite(value)) {
    const char *text = std::isnan(value)     ? "__builtin_nanf(\"\")"
                       : std::signbit(value) ? "-__builtin_inff()"
                                             : "__builtin_inff()";
    size_t length = strlen(text);
    memcpy(out, text, length);
    return out + length;
  }
  char *start = out;
  out = std::to_chars(out, end - 3, value).ptr;
  if (!memchr(start, '.', (size_t)(out - start)) && !memchr(start, 'e', (size_t)(out - start))) {
    memcpy(out, ".0", 2);
    out += 2;
  }
  *out++ = 'f';
  return out;
}

static void kroWriteSrcHeader(FILE *out, const char *name) {
  fprintf(out,
          "void loadMesh%s(kroObject *op,kroObject *nc,kroObject *realn,kroObject *tc,char "
          "*node_name,int *triangles)\n{\n",
          name);
}

/* The name between double quotes, so that the copy equals the name: a
 * backslash or a quote escaped, a control character other than a tab as a
 * three-digit octal escape (an ASE walk refuses quotes and line ends; other
 * formats' names may hold them). */
static void kroWriteSrcNodeName(FILE *out, const char *node_name) {
  fputs("\tstrcpy(node_name,\"", out);
  for (const char *c = node_name; *c; c++) {
    unsigned char byte = (unsigned char)*c;
    if ((byte < ' ' && byte != '\t') || byte == 0x7f) {
      fprintf(out, "\\%03o", byte);
      continue;
    }
    if (byte == '\\' || byte == '"')
      fputc('\\', out);
    fputc(*c, out);
  }
  fputs("\");\n", out);
}

static void kroWriteSrcCount(FILE *out, int triangles) {
  fprintf(out, "\t*triangles=%d;\n", triangles);
  fputs("\tkroIncreaseObject(op,0,*triangles);\n", out);
  fputs("\tkroIncreaseTexCoords(tc,0,*triangles);\n", out);
  fputs("\tkroIncreaseCoords(realn,0,*triangles);\n", out);
  fputs("\tkroIncreaseObject(nc,0,*triangles);\n", out);
}

/* One assignment line per value, "\t(*op)[t][k]=%f;\n" as printf writes it
 * (`exact`: the value's exact literal in place of "%f"), added to the entry's
 * text at `out`; returns its new end. */
static char *kroWriteSrcRow(char *out, const char *array, int triangle, const float *values,
                            int count, int exact) {
  char index[16]; /* "[t][" */
  char *index_end = index;
  *index_end++ = '[';
  index_end = std::to_chars(index_end, index + sizeof index - 2, triangle).ptr;
  *index_end++ = ']';
  *index_end++ = '[';
  size_t array_length = strlen(array), index_length = (size_t)(index_end - index);
  for (int k = 0; k < count; k++) {
    char *end = out + KRO_SRC_LINE_BYTES - 2; /* room for ";\n" */
    *out++ = '\t';
    *out++ = '(';
    *out++ = '*';
    memcpy(out, array, array_length);
    out += array_length;
    *out++ = ')';
    memcpy(out, index, index_length);
    out += index_length;
    *out++ = (char)('0' + k);
    *out++ = ']';
    *out++ = '=';
    out = exact ? kroWriteSrcExact(out, end, values[k]) : kroWriteSrcFixed(out, end, values[k]);
    *out++ = ';';
    *out++ = '\n';
  }
  return out;
}

/* The lines of one face entry (KRO_ASE_FACE, _TFACE or _FACENORMAL), written at once. */
static void kroWriteSrcEntryLines(FILE *out, int entry, int triangle, const float *values,
                                  int exact) {
  char text[KRO_SRC_ENTRY_LINES * KRO_SRC_LINE_BYTES];
  char *end = text;
  if (entry == KRO_ASE_FACE)
    end = kroWriteSrcRow(end, "op", triangle, values, 9, exact);
  else if (entry == KRO_ASE_TFACE)
    end = kroWriteSrcRow(end, "tc", triangle, values, 6, exact);
  else {
    end = kroWriteSrcRow(end, "realn", triangle, values, 3, exact);
    end = kroWriteSrcRow(end, "nc", triangle, &values[3], 9, exact);
  }
  fwrite(text, 1, (size_t)(end - text), out);
}

/* What one function will say, recorded until its object is whole and then
 * written at once, so that a refused or missing object writes nothing at all.
 * A record is its kind (KRO_SRC_HEADER, _NAME, _COUNT, or an entry's
 * KRO_ASE_FACE, _TFACE, _FACENORMAL) and its values: the name with its 0, the
 * count, or the row and its floats, some six times smaller than their text. */
enum { KRO_SRC_HEADER = 'H', KRO_SRC_NAME = 'N', KRO_SRC_COUNT = 'C' };

typedef struct kroSrcRecords {
  char *bytes;
  size_t length, capacity;
} kroSrcRecords;

/* The records' room is kept for the next function up to this size (a loader
 * of 100,000 triangles records about 13 MB). */
enum { KRO_SRC_KEPT_BYTES = 32 << 20 };
static kroSrcRecords kroSrcKept;

/* Floats an entry record holds. */
static int kroSrcEntryFloats(int kind) {
  return kind == KRO_ASE_FACE ? 9 : kind == KRO_ASE_TFACE ? 6 : 12;
}

/* Appends a record; 0 (reported) when the room cannot grow. */
static int kroAddSrcRecord(kroSrcRecords *records, kroASEReader *in, int kind, const void *first,
                           size_t first_bytes, const void *second, size_t second_bytes) {
  size_t size = 1 + first_bytes + second_bytes;
  if (size > records->capacity - records->length) {
    size_t capacity = records->capacity ? records->capacity : 65536;
    while (capacity - records->length < size)
      capacity *= 2;
    char *grown = (char *)kroAllocate(capacity);
    if (!grown) {
      kroFailASEMemory(in, "kroWriteSrcMeshFromASEfd");
      return 0;
    }
    if (records->length)
      memcpy(grown, records->bytes, records->length);
    free(records->bytes);
    records->bytes = grown;
    records->capacity = capacity;
  }
  char *at = records->bytes + records->length;
  *at = (char)kind;
  if (first_bytes)
    memcpy(at + 1, first, first_bytes);
  if (second_bytes)
    memcpy(at + 1 + first_bytes, second, second_bytes);
  records->length += size;
  return 1;
}

/* Writes the recorded function to out. */
static void kroWriteSrcRecords(FILE *out, const kroSrcRecords *records, const char *name) {
  for (size_t at = 0; at < records->length;) {
    int kind = records->bytes[at++];
    const char *values = records->bytes + at;
    if (kind == KRO_SRC_HEADER) {
      kroWriteSrcHeader(out, name);
    } else if (kind == KRO_SRC_NAME) {
      kroWriteSrcNodeName(out, values);
      at += strlen(values) + 1;
    } else if (kind == KRO_SRC_COUNT) {
      int count;
      memcpy(&count, values, sizeof count);
      kroWriteSrcCount(out, count);
      at += sizeof count;
    } else {
      int triangle;
      float floats[12];
      size_t bytes = (size_t)kroSrcEntryFloats(kind) * sizeof(float);
      memcpy(&triangle, values, sizeof triangle);
      memcpy(floats, values + sizeof triangle, bytes);
      kroWriteSrcEntryLines(out, kind, triangle, floats, 0);
      at += sizeof triangle + bytes;
    }
  }
  fputc('}', out);
}

/* What has been recorded of the current function. */
typedef struct kroSrcState {
  kroSrcRecords *records;
  int begun;          /* its "*GEOMOBJECT" was met: the next one ends it */
  int header_written; /* its first line is recorded */
} kroSrcState;

/* The header goes before the first line of the body, so that every line
 * stands inside the function (entries may come before "*GEOMOBJECT"). 0
 * (reported) when the record cannot be kept. */
static int kroSrcBody(kroSrcState *src, kroASEReader *in) {
  if (src->header_written)
    return 1;
  src->header_written = 1;
  return kroAddSrcRecord(src->records, in, KRO_SRC_HEADER, nullptr, 0, nullptr, 0);
}

/* Records what one entry says; returns 1 to go on, 0 at the object's end
 * (the stream then stands at the next "*GEOMOBJECT", or at its end), -1 after
 * a failure. */
static int kroWriteSrcEntry(kroSrcState *src, kroASEMeshWalk *walk, int entry) {
  kroASEReader *in = &walk->in;
  switch (entry) {
  case KRO_ASE_END:
    return 0;
  case KRO_ASE_FAILED:
    return -1;
  case KRO_ASE_GEOMOBJECT:
    if (!src->begun) {
      src->begun = 1;
      return kroSrcBody(src, in) ? 1 : -1;
    }
    if (!kroStepBackASEToken(in)) {
      kroFailASEStream(in, "the stream cannot move back to the next *GEOMOBJECT");
      return -1;
    }
    return 0;
  case KRO_ASE_NODE_NAME:
    return kroSrcBody(src, in) && kroAddSrcRecord(src->records, in, KRO_SRC_NAME, walk->node_name,
                                                  strlen(walk->node_name) + 1, nullptr, 0)
               ? 1
               : -1;
  case KRO_ASE_NUMFACES:
    return kroSrcBody(src, in) && kroAddSrcRecord(src->records, in, KRO_SRC_COUNT,
                                                  &walk->face_count, sizeof(int), nullptr, 0)
               ? 1
               : -1;
  case KRO_ASE_FACE:
  case KRO_ASE_TFACE:
  case KRO_ASE_FACENORMAL:
    return kroSrcBody(src, in) &&
                   kroAddSrcRecord(src->records, in, entry, &walk->triangle, sizeof(int),
                                   walk->values, (size_t)kroSrcEntryFloats(entry) * sizeof(float))
               ? 1
               : -1;
  }
  return 1;
}

/* Both writers' walk over the stream; messages go into C comments when the
 * source itself goes to standard output. 0 (reported) without a stream. */
static int kroBeginSrcWalk(kroASEMeshWalk *walk, FILE *stream, FILE *out) {
  if (!stream) {
    kroFail("Error in reading mesh from file descriptor\n");
    return 0;
  }
  kroBeginASEMeshWalk(walk, stream, "file descriptor");
  walk->in.comment_messages = out == stdout;
  return 1;
}

/* After the walk: 1 when it ended cleanly inside an object; a stream with no
 * object left is reported. */
static int kroSrcWalkFoundObject(kroASEMeshWalk *walk, int status, int begun) {
  if (status == 0 && !begun)
    kroFailASEStream(&walk->in, "no *GEOMOBJECT follows");
  return status == 0 && begun;
}

int kroWriteSrcMeshFromASEfd(FILE *stream, const char *name, FILE *out) {
  kroASEMeshWalk walk;
  if (!kroBeginSrcWalk(&walk, stream, out))
    return 0;
  kroSrcRecords records = kroSrcKept;
  records.length = 0;
  kroSrcState src = {&records, 0, 0};
  int status;
  while ((status = kroWriteSrcEntry(&src, &walk, kroNextASEMeshEntry(&walk))) > 0)
    continue;
  int ok = kroSrcWalkFoundObject(&walk, status, src.begun);
  if (ok)
    kroWriteSrcRecords(out, &records, name);
  kroSrcKept = records;
  if (records.capacity > KRO_SRC_KEPT_BYTES) {
    free(records.bytes);
    kroSrcKept = {};
  }
  kroEndASEMeshWalk(&walk);
  return ok;
}

void kroCreateSrcMeshFromASEfd(FILE *stream, const char *name) {
  kroWriteSrcMeshFromASEfd(stream, name, stdout);
}

/* ---- the compact loader ---- */

/* A growable array of items of `item_bytes` each. */
typedef struct kroSrcList {
  char *items;
  int count, capacity;
  int item_bytes;
} kroSrcList;

/* Room for one more item; null (after the report) when it cannot be had. */
static void *kroAddSrcItem(kroSrcList *list) {
  if (list->count == list->capacity) {
    int capacity = list->capacity ? 2 * list->capacity : 256;
    char *items = list->capacity <= __INT_MAX__ / 2
                      ? (char *)kroAllocate((size_t)capacity * (size_t)list->item_bytes)
                      : nullptr;
    if (!items) {
      kroFail("Error during allocating memory in kroWriteCompactSrcMeshFromASEfd(..)\n");
      return nullptr;
    }
    if (list->count)
      memcpy(items, list->items, (size_t)list->count * (size_t)list->item_bytes);
    free(list->items);
    list->items = items;
    list->capacity = capacity;
  }
  return list->items + (size_t)list->count++ * (size_t)list->item_bytes;
}

/* The distinct tuples of `floats` floats (2 or 3) of one table, in the order
 * first met, with an open-addressing index on their bits: slot i holds a
 * tuple's number + 1, 0 when free; at most half the slots are used. */
typedef struct kroSrcTuples {
  kroSrcList tuples;
  int *slots;
  int slot_count;
  int floats;
} kroSrcTuples;

static uint32_t kroHashSrcTuple(const float *tuple, int floats) {
  uint32_t hash = 2166136261u, word;
  for (int i = 0; i < floats; i++) {
    memcpy(&word, &tuple[i], sizeof word);
    hash = (hash ^ word) * 16777619u;
  }
  return hash ^ (hash >> 15);
}

/* Slots for `slot_count` (a power of two), every tuple entered again. */
static int kroIndexSrcTuples(kroSrcTuples *table, int slot_count) {
  int *slots = (int *)kroAllocate((size_t)slot_count * sizeof(int));
  if (!slots) {
    kroFail("Error during allocating memory in kroWriteCompactSrcMeshFromASEfd(..)\n");
    return 0;
  }
  memset(slots, 0, (size_t)slot_count * sizeof(int));
  for (int n = 0; n < table->tuples.count; n++) {
    const float *tuple = (const float *)table->tuples.items + (size_t)n * table->floats;
    uint32_t slot = kroHashSrcTuple(tuple, table->floats) & (uint32_t)(slot_count - 1);
    while (slots[slot])
      slot = (slot + 1) & (uint32_t)(slot_count - 1);
    slots[slot] = n + 1;
  }
  free(table->slots);
  table->slots = slots;
  table->slot_count = slot_count;
  return 1;
}

/* The number of `tuple` in the table, entered when new; -1 after a failed
 * allocation (reported). */
static int kroFindSrcTuple(kroSrcTuples *table, const float *tuple) {
  size_t bytes = (size_t)table->floats * sizeof(float);
  if (2 * (table->tuples.count + 1) > table->slot_count &&
      !kroIndexSrcTuples(table, table->slot_count ? 2 * table->slot_count : 1024))
    return -1;
  uint32_t mask = (uint32_t)(table->slot_count - 1);
  uint32_t slot = kroHashSrcTuple(tuple, table->floats) & mask;
  for (; table->slots[slot]; slot = (slot + 1) & mask) {
    int n = table->slots[slot] - 1;
    if (!memcmp(table->tuples.items + (size_t)n * bytes, tuple, bytes))
      return n;
  }
  void *item = kroAddSrcItem(&table->tuples);
  if (!item)
    return -1;
  memcpy(item, tuple, bytes);
  table->slots[slot] = table->tuples.count;
  return table->tuples.count - 1;
}

/* The entries of one kind, in stream order: each a row and its corners'
 * tuple numbers (the face normal first for normals). */
typedef struct kroSrcEntries {
  kroSrcList items; /* int per entry: row, then `corners` tuple numbers */
  int corners;
} kroSrcEntries;

/* What the compact loader of one object holds. */
typedef struct kroSrcMesh {
  kroSrcTuples positions, uvs, normals;
  kroSrcEntries faces, texture_faces, normal_faces;
  int named, counted, triangles;
  int exact; /* values kept as they are, not as the default loader's "%f" text stores them */
  char node_name[KRO_ASE_NAME_CHARS + 1];
} kroSrcMesh;

static void kroBeginSrcMesh(kroSrcMesh *mesh) {
  memset(mesh, 0, sizeof *mesh);
  mesh->positions.floats = mesh->normals.floats = 3;
  mesh->uvs.floats = 2;
  mesh->positions.tuples.item_bytes = mesh->normals.tuples.item_bytes = 3 * sizeof(float);
  mesh->uvs.tuples.item_bytes = 2 * sizeof(float);
  mesh->faces.corners = mesh->texture_faces.corners = 3;
  mesh->normal_faces.corners = 4;
  mesh->faces.items.item_bytes = mesh->texture_faces.items.item_bytes = 4 * sizeof(int);
  mesh->normal_faces.items.item_bytes = 5 * sizeof(int);
}

static void kroEndSrcMesh(kroSrcMesh *mesh) {
  kroSrcTuples *tables[] = {&mesh->positions, &mesh->uvs, &mesh->normals};
  for (kroSrcTuples *table : tables) {
    free(table->tuples.items);
    free(table->slots);
  }
  free(mesh->faces.items.items);
  free(mesh->texture_faces.items.items);
  free(mesh->normal_faces.items.items);
}

/* The float the default loader stores for value: its "%f" text, read back
 * as the compiler reads that constant (to double, then to float). */
static float kroSrcStoredFloat(float value) {
  uint64_t millionths;
  if (kroSrcMillionths(value, &millionths)) {
    /* Below 2^53 both operands are exact doubles: one division rounds as
     * reading the decimal text does. */
    double stored = (double)millionths / 1e6;
    return (float)(std::signbit(value) ? -stored : stored);
  }
  char text[KRO_SRC_LINE_BYTES];
  *kroWriteSrcFixed(text, text + sizeof text - 1, value) = 0;
  return (float)strtod(text, nullptr);
}

/* Enters one entry: its row, and `corners` tuples of the table's width from
 * values, each as the default loader would store it (`exact`: as it is). 0
 * after a failed allocation (reported). */
static int kroAddSrcEntry(kroSrcEntries *entries, kroSrcTuples *table, int triangle,
                          const float *values, int exact) {
  int *item = (int *)kroAddSrcItem(&entries->items);
  if (!item)
    return 0;
  item[0] = triangle;
  for (int k = 0; k < entries->corners; k++) {
    float tuple[3];
    for (int i = 0; i < table->floats; i++)
      tuple[i] =
          exact ? values[k * table->floats + i] : kroSrcStoredFloat(values[k * table->floats + i]);
    if ((item[1 + k] = kroFindSrcTuple(table, tuple)) < 0)
      return 0;
  }
  return 1;
}

static int kroTakeSrcEntry(kroSrcMesh *mesh, int entry, int triangle, const float *values) {
  if (entry == KRO_ASE_FACE)
    return kroAddSrcEntry(&mesh->faces, &mesh->positions, triangle, values, mesh->exact);
  if (entry == KRO_ASE_TFACE)
    return kroAddSrcEntry(&mesh->texture_faces, &mesh->uvs, triangle, values, mesh->exact);
  return kroAddSrcEntry(&mesh->normal_faces, &mesh->normals, triangle, values, mesh->exact);
}

/* The smallest type that holds numbers up to `largest`. */
static const char *kroSrcIndexType(int largest) {
  return largest < 256 ? "unsigned char" : largest < 65536 ? "unsigned short" : "int";
}

static void kroWriteSrcFloatConstant(FILE *out, float value) {
  char text[40];
  fwrite(text, 1, (size_t)(kroWriteSrcExact(text, text + sizeof text, value) - text), out);
}

/* "\tstatic const float <name>[][<floats>]={...};" */
static void kroWriteSrcTupleTable(FILE *out, const char *name, const kroSrcTuples *table) {
  fprintf(out, "\tstatic const float %s[][%d]={", name, table->floats);
  const float *values = (const float *)table->tuples.items;
  for (int n = 0; n < table->tuples.count; n++) {
    fputs(n % 4 ? "," : n ? ",\n\t\t" : "\n\t\t", out);
    for (int i = 0; i < table->floats; i++) {
      fputc(i ? ',' : '{', out);
      kroWriteSrcFloatConstant(out, values[(size_t)n * table->floats + i]);
    }
    fputc('}', out);
  }
  fputs("};\n", out);
}

/* Whether the entries are rows 0, 1, 2, ... once each, in order. */
static int kroSrcRowsInOrder(const kroSrcEntries *entries) {
  const int *items = (const int *)entries->items.items;
  int width = 1 + entries->corners;
  for (int n = 0; n < entries->items.count; n++)
    if (items[(size_t)n * width] != n)
      return 0;
  return 1;
}

/* The corner numbers of every entry, "<name>_corners", and their rows,
 * "<name>_rows", unless the rows run in order. */
static void kroWriteSrcEntryTables(FILE *out, const char *name, const kroSrcEntries *entries,
                                   int tuples, int in_order) {
  const int *items = (const int *)entries->items.items;
  int width = 1 + entries->corners;
  fprintf(out, "\tstatic const %s %s_corners[][%d]={", kroSrcIndexType(tuples - 1), name,
          entries->corners);
  for (int n = 0; n < entries->items.count; n++) {
    fputs(n % 8 ? "," : n ? ",\n\t\t" : "\n\t\t", out);
    for (int k = 0; k < entries->corners; k++)
      fprintf(out, "%c%d", k ? ',' : '{', items[(size_t)n * width + 1 + k]);
    fputc('}', out);
  }
  fputs("};\n", out);
  if (in_order)
    return;
  int largest = 0;
  for (int n = 0; n < entries->items.count; n++)
    if (items[(size_t)n * width] > largest)
      largest = items[(size_t)n * width];
  fprintf(out, "\tstatic const %s %s_rows[]={", kroSrcIndexType(largest), name);
  for (int n = 0; n < entries->items.count; n++)
    fprintf(out, "%s%d", n % 16 ? "," : n ? ",\n\t\t" : "\n\t\t", items[(size_t)n * width]);
  fputs("};\n", out);
}

/* The loop that fills `floats` floats of each entry's row of `array` from
 * `table`: float k from corner first + k / per_corner (first is 0, or 1 past
 * the face normal), element k % per_corner. */
static void kroWriteSrcFill(FILE *out, const char *array, const char *name, const char *table,
                            int count, int in_order, int floats, int first, int per_corner) {
  fprintf(out, "\tfor(int i=0;i<%d;i++)\n\t\tfor(int k=0;k<%d;k++)\n", count, floats);
  fprintf(out, "\t\t\t(*%s)[%s%s]", array, in_order ? "i" : name, in_order ? "" : "_rows[i]");
  fprintf(out, "[k]=%s[%s_corners[i][%sk/%d]][k%%%d];\n", table, name, first ? "1+" : "",
          per_corner, per_corner);
}

static void kroWriteSrcCompactBody(FILE *out, const kroSrcMesh *mesh) {
  struct {
    const kroSrcEntries *entries;
    const kroSrcTuples *table;
    const char *name, *table_name;
  } kinds[] = {{&mesh->faces, &mesh->positions, "faces", "positions"},
               {&mesh->texture_faces, &mesh->uvs, "texture_faces", "uvs"},
               {&mesh->normal_faces, &mesh->normals, "normal_faces", "normals"}};
  int in_order[3];
  for (int i = 0; i < 3; i++) {
    in_order[i] = kroSrcRowsInOrder(kinds[i].entries);
    if (kinds[i].entries->items.count) {
      kroWriteSrcTupleTable(out, kinds[i].table_name, kinds[i].table);
      kroWriteSrcEntryTables(out, kinds[i].name, kinds[i].entries, kinds[i].table->tuples.count,
                             in_order[i]);
    }
  }
  if (mesh->named)
    kroWriteSrcNodeName(out, mesh->node_name);
  if (mesh->counted)
    kroWriteSrcCount(out, mesh->triangles);
  if (mesh->faces.items.count)
    kroWriteSrcFill(out, "op", "faces", "positions", mesh->faces.items.count, in_order[0], 9, 0, 3);
  if (mesh->texture_faces.items.count)
    kroWriteSrcFill(out, "tc", "texture_faces", "uvs", mesh->texture_faces.items.count, in_order[1],
                    6, 0, 2);
  if (mesh->normal_faces.items.count) {
    kroWriteSrcFill(out, "realn", "normal_faces", "normals", mesh->normal_faces.items.count,
                    in_order[2], 3, 0, 3);
    kroWriteSrcFill(out, "nc", "normal_faces", "normals", mesh->normal_faces.items.count,
                    in_order[2], 9, 1, 3);
  }
}

/* Takes what one entry says into mesh; returns 1 to go on, 0 at the object's
 * end (the stream then stands where the generator leaves it), -1 after a
 * failure. */
static int kroTakeSrcMeshEntry(kroSrcMesh *mesh, kroASEMeshWalk *walk, int entry, int *begun) {
  switch (entry) {
  case KRO_ASE_END:
    return 0;
  case KRO_ASE_FAILED:
    return -1;
  case KRO_ASE_GEOMOBJECT:
    if (!*begun) {
      *begun = 1;
      return 1;
    }
    if (!kroStepBackASEToken(&walk->in)) {
      kroFailASEStream(&walk->in, "the stream cannot move back to the next *GEOMOBJECT");
      return -1;
    }
    return 0;
  case KRO_ASE_NODE_NAME:
    strcpy(mesh->node_name, walk->node_name);
    mesh->named = 1;
    return 1;
  case KRO_ASE_NUMFACES:
    mesh->triangles = walk->face_count;
    mesh->counted = 1;
    return 1;
  case KRO_ASE_FACE:
  case KRO_ASE_TFACE:
  case KRO_ASE_FACENORMAL:
    return kroTakeSrcEntry(mesh, entry, walk->triangle, walk->values) ? 1 : -1;
  }
  return 1;
}

int kroWriteCompactSrcMeshFromASEfd(FILE *stream, const char *name, FILE *out) {
  kroASEMeshWalk walk;
  if (!kroBeginSrcWalk(&walk, stream, out))
    return 0;
  kroSrcMesh mesh;
  kroBeginSrcMesh(&mesh);
  int begun = 0, status;
  while ((status = kroTakeSrcMeshEntry(&mesh, &walk, kroNextASEMeshEntry(&walk), &begun)) > 0)
    continue;
  /* As the generator: only a whole object gets a function. */
  int ok = kroSrcWalkFoundObject(&walk, status, begun);
  if (ok) {
    kroWriteSrcHeader(out, name);
    kroWriteSrcCompactBody(out, &mesh);
    fputc('}', out);
  }
  kroEndSrcMesh(&mesh);
  kroEndASEMeshWalk(&walk);
  return ok;
}

/* ---- loaders of mesh records ---- */

/* Entry `entry` of triangle t as the walk gives it: the corners' positions,
 * their texture coordinates, or the face normal and the corners' normals. */
static void kroSrcRecordValues(const kroMesh *mesh, int t, int entry, float *values) {
  if (entry == KRO_ASE_FACE) {
    memcpy(values, mesh->op[t], 9 * sizeof(float));
  } else if (entry == KRO_ASE_TFACE) {
    memcpy(values, mesh->tc[t], 6 * sizeof(float));
  } else {
    memcpy(values, mesh->realn[t], 3 * sizeof(float));
    memcpy(&values[3], mesh->nc[t], 9 * sizeof(float));
  }
}

/* A record a loader can be written from: its arrays hold its rows (texture
 * coordinates may be missing). 0 (reported) when not. */
static int kroSrcRecordUsable(const kroMesh *mesh, const char *function) {
  if (mesh && mesh->triangles >= 0 &&
      (mesh->triangles == 0 || (mesh->op && mesh->nc && mesh->realn)))
    return 1;
  kroFail("Error in writing mesh source in function %s(..): no mesh record with its rows\n",
          function);
  return 0;
}

static const int KRO_SRC_RECORD_ENTRIES[] = {KRO_ASE_FACE, KRO_ASE_TFACE, KRO_ASE_FACENORMAL};

int kroWriteSrcMeshFromRecord(const kroMesh *mesh, const char *name, FILE *out) {
  if (!kroSrcRecordUsable(mesh, "kroWriteSrcMeshFromRecord"))
    return 0;
  kroWriteSrcHeader(out, name);
  kroWriteSrcNodeName(out, mesh->node_name);
  kroWriteSrcCount(out, mesh->triangles);
  float values[12];
  for (int t = 0; t < mesh->triangles; t++)
    for (int entry : KRO_SRC_RECORD_ENTRIES)
      if (entry != KRO_ASE_TFACE || mesh->tc) {
        kroSrcRecordValues(mesh, t, entry, values);
        kroWriteSrcEntryLines(out, entry, t, values, 1);
      }
  fputc('}', out);
  return 1;
}

int kroWriteCompactSrcMeshFromRecord(const kroMesh *mesh, const char *name, FILE *out) {
  if (!kroSrcRecordUsable(mesh, "kroWriteCompactSrcMeshFromRecord"))
    return 0;
  kroSrcMesh src;
  kroBeginSrcMesh(&src);
  src.exact = src.named = src.counted = 1;
  src.triangles = mesh->triangles;
  memcpy(src.node_name, mesh->node_name, sizeof src.node_name);
  int ok = 1;
  float values[12];
  for (int t = 0; ok && t < mesh->triangles; t++)
    for (int entry : KRO_SRC_RECORD_ENTRIES) {
      if (entry == KRO_ASE_TFACE && !mesh->tc)
        continue;
      kroSrcRecordValues(mesh, t, entry, values);
      if (!(ok = kroTakeSrcEntry(&src, entry, t, values)))
        break;
    }
  if (ok) {
    kroWriteSrcHeader(out, name);
    kroWriteSrcCompactBody(out, &src);
    fputc('}', out);
  }
  kroEndSrcMesh(&src);
  return ok;
}
