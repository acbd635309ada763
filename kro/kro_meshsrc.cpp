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

#include <string.h>

#include <charconv>

/* Longest assignment line: "\t(*realn)[", two ints, "]=", a float written
 * with "%f" (up to 39 digits before the point for FLT_MAX), ";\n". */
enum { KRO_SRC_LINE_BYTES = 128 };

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

/* One assignment line per value, "\t(*op)[t][k]=%f;\n" as printf writes it.
 * std::to_chars with fixed precision 6 gives the very digits of "%f" (both
 * round the exact binary value) several times faster; the line goes out in
 * one write. */
static void kroWriteSrcRow(FILE *out, const char *array, int triangle, const float *values,
                           int first, int count) {
  char line[KRO_SRC_LINE_BYTES];
  size_t array_length = strlen(array);
  for (int k = 0; k < count; k++) {
    char *end = line + sizeof line - 3; /* room for ";\n" */
    char *c = line;
    *c++ = '\t';
    *c++ = '(';
    *c++ = '*';
    memcpy(c, array, array_length);
    c += array_length;
    *c++ = ')';
    *c++ = '[';
    c = std::to_chars(c, end, triangle).ptr;
    *c++ = ']';
    *c++ = '[';
    c = std::to_chars(c, end, first + k).ptr;
    *c++ = ']';
    *c++ = '=';
    c = std::to_chars(c, end, (double)values[k], std::chars_format::fixed, 6).ptr;
    *c++ = ';';
    *c++ = '\n';
    fwrite(line, 1, (size_t)(c - line), out);
  }
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
      kroWriteSrcRow(out, "op", t, walk.values, 0, 9);
      break;
    case KRO_ASE_TFACE:
      kroWriteSrcRow(out, "tc", t, walk.values, 0, 6);
      break;
    case KRO_ASE_FACENORMAL:
      kroWriteSrcRow(out, "realn", t, walk.values, 0, 3);
      kroWriteSrcRow(out, "nc", t, &walk.values[3], 0, 9);
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
