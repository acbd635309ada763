/*
 * Mesh source generator: writes one geometry object of an ASE stream as the
 * source text of a loader function that rebuilds the mesh from constants.
 * It walks the stream with the reader's mesh walk, so both accept and refuse
 * the same files; where the reader stores a value, this writes an assignment.
 * Depends on: kro_ase.cpp (the mesh walk), kro_error.cpp (reporting).
 */
#include "kro.h"
#include "kro_ase_reader.h"
#include "kro_internal.h"

#include <stdint.h>
#include <string.h>

#include <charconv>

/* Longest assignment line: "\t(*realn)[", two ints, "]=", a float written
 * with "%f" (up to 39 digits before the point for FLT_MAX), ";\n". */
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
static char *kroWriteSrcFixed(char *out, char *end, float value) {
  uint32_t bits;
  memcpy(&bits, &value, sizeof bits);
  int exponent = (int)((bits >> 23) & 0xff);
  if (exponent >= 127 + 32)
    return std::to_chars(out, end, (double)value, std::chars_format::fixed, 6).ptr;
  /* value = mantissa * 2^shift exactly */
  uint64_t mantissa = bits & 0x7fffff, millionths;
  int shift = exponent ? exponent - 150 : -149;
  if (exponent)
    mantissa |= 0x800000;
  if (shift >= 0) {
    millionths = (mantissa << shift) * 1000000;
  } else if (shift > -64) {
    /* mantissa * 10^6 < 2^44: the quotient and the remainder are exact. */
    uint64_t scaled = mantissa * 1000000, half = UINT64_C(1) << (-shift - 1);
    uint64_t rest = scaled & ((half << 1) - 1);
    millionths = scaled >> -shift;
    millionths += rest > half || (rest == half && (millionths & 1));
  } else {
    millionths = 0; /* below 2^-20: far under half a millionth */
  }
  if (bits >> 31)
    *out++ = '-';
  out = std::to_chars(out, end, (uint32_t)(millionths / 1000000)).ptr;
  *out++ = '.';
  return kroWriteSrcSixDigits(out, (uint32_t)(millionths % 1000000));
}

static void kroWriteSrcHeader(FILE *out, const char *name) {
  fprintf(out,
          "void loadMesh%s(kroObject *op,kroObject *nc,kroObject *realn,kroObject *tc,char "
          "*node_name,int *triangles)\n{\n",
          name);
}

/* The name between double quotes. It holds no quote or line end (the walk
 * refuses those); a backslash is doubled so that the copy equals the name. */
static void kroWriteSrcNodeName(FILE *out, const char *node_name) {
  fputs("\tstrcpy(node_name,\"", out);
  for (const char *c = node_name; *c; c++) {
    if (*c == '\\')
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

/* One assignment line per value, "\t(*op)[t][k]=%f;\n" as printf writes it,
 * added to the entry's text at `out`; returns its new end. */
static char *kroWriteSrcRow(char *out, const char *array, int triangle, const float *values,
                            int count) {
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
    out = kroWriteSrcFixed(out, end, values[k]);
    *out++ = ';';
    *out++ = '\n';
  }
  return out;
}

/* The lines of one face entry (KRO_ASE_FACE, _TFACE or _FACENORMAL), written at once. */
static void kroWriteSrcEntry(FILE *out, int entry, int triangle, const float *values) {
  char text[KRO_SRC_ENTRY_LINES * KRO_SRC_LINE_BYTES];
  char *end = text;
  if (entry == KRO_ASE_FACE)
    end = kroWriteSrcRow(end, "op", triangle, values, 9);
  else if (entry == KRO_ASE_TFACE)
    end = kroWriteSrcRow(end, "tc", triangle, values, 6);
  else {
    end = kroWriteSrcRow(end, "realn", triangle, values, 3);
    end = kroWriteSrcRow(end, "nc", triangle, &values[3], 9);
  }
  fwrite(text, 1, (size_t)(end - text), out);
}

/* The end of a refused object: whatever was grown is released again, and the
 * loader hands back an empty mesh (count 0) and an empty name. */
static void kroWriteSrcEmptyEnd(FILE *out, int header_written, int count_written,
                                const char *name) {
  if (!header_written)
    kroWriteSrcHeader(out, name);
  if (!count_written)
    fputs("\t*triangles=0;\n", out);
  fputs("\tkroDestroyObject(op,*triangles);\n", out);
  fputs("\tkroDestroyObject(tc,*triangles);\n", out);
  fputs("\tkroDestroyObject(realn,*triangles);\n", out);
  fputs("\tkroDestroyObject(nc,*triangles);\n", out);
  fputs("\t*triangles=0;\n", out);
  fputs("\tnode_name[0]=0;\n", out);
}

int kroWriteSrcMeshFromASEfd(FILE *stream, const char *name, FILE *out) {
  if (!stream) {
    kroFail("Error in reading mesh from file descriptor\n");
    return 0;
  }
  kroASEMeshWalk walk;
  kroBeginASEMeshWalk(&walk, stream, "file descriptor");
  walk.in.comment_messages = out == stdout;
  int header_written = 0, count_written = 0, ok = 1;
  for (int done = 0; !done;) {
    int entry = kroNextASEMeshEntry(&walk);
    int t = walk.triangle;
    switch (entry) {
    case KRO_ASE_END:
      done = 1;
      break;
    case KRO_ASE_FAILED:
      ok = 0;
      done = 1;
      break;
    case KRO_ASE_GEOMOBJECT:
      if (!header_written) {
        kroWriteSrcHeader(out, name);
        header_written = 1;
        break;
      }
      if (!kroStepBackASEToken(&walk.in)) {
        kroFailASE(&walk.in, "the stream cannot move back to the next *GEOMOBJECT");
        ok = 0;
      }
      done = 1;
      break;
    case KRO_ASE_NODE_NAME:
      kroWriteSrcNodeName(out, walk.node_name);
      break;
    case KRO_ASE_NUMFACES:
      kroWriteSrcCount(out, walk.face_count);
      count_written = 1;
      break;
    case KRO_ASE_FACE:
    case KRO_ASE_TFACE:
    case KRO_ASE_FACENORMAL:
      kroWriteSrcEntry(out, entry, t, walk.values);
      break;
    }
  }
  if (!ok)
    kroWriteSrcEmptyEnd(out, header_written, count_written, name);
  fputc('}', out);
  kroEndASEMeshWalk(&walk);
  return ok;
}

void kroCreateSrcMeshFromASEfd(FILE *stream, const char *name) {
  kroWriteSrcMeshFromASEfd(stream, name, stdout);
}
