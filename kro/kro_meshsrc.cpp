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

/* What has been written of the current function. */
typedef struct kroSrcState {
  FILE *out;
  const char *name;
  int begun;          /* its "*GEOMOBJECT" was met: the next one ends it */
  int header_written; /* its first line is out: what follows must close it */
  int count_written;
} kroSrcState;

/* The header goes out before the first line of the body, so that every
 * line stands inside the function (entries may come before "*GEOMOBJECT"). */
static FILE *kroSrcBody(kroSrcState *src) {
  if (!src->header_written)
    kroWriteSrcHeader(src->out, src->name);
  src->header_written = 1;
  return src->out;
}

/* Writes what one entry says; returns 1 to go on, 0 at the object's end (the
 * stream then stands at the next "*GEOMOBJECT", or at its end), -1 after a
 * failure. */
static int kroWriteSrcEntry(kroSrcState *src, kroASEMeshWalk *walk, int entry) {
  int t = walk->triangle;
  switch (entry) {
  case KRO_ASE_END:
    return 0;
  case KRO_ASE_FAILED:
    return -1;
  case KRO_ASE_GEOMOBJECT:
    if (!src->begun) {
      src->begun = 1;
      kroSrcBody(src);
      return 1;
    }
    if (!kroStepBackASEToken(&walk->in)) {
      kroFailASE(&walk->in, "the stream cannot move back to the next *GEOMOBJECT");
      return -1;
    }
    return 0;
  case KRO_ASE_NODE_NAME:
    kroWriteSrcNodeName(kroSrcBody(src), walk->node_name);
    return 1;
  case KRO_ASE_NUMFACES:
    kroWriteSrcCount(kroSrcBody(src), walk->face_count);
    src->count_written = 1;
    return 1;
  case KRO_ASE_FACE:
    kroWriteSrcRow(kroSrcBody(src), "op", t, walk->values, 0, 9);
    return 1;
  case KRO_ASE_TFACE:
    kroWriteSrcRow(kroSrcBody(src), "tc", t, walk->values, 0, 6);
    return 1;
  case KRO_ASE_FACENORMAL:
    kroWriteSrcRow(kroSrcBody(src), "realn", t, walk->values, 0, 3);
    kroWriteSrcRow(src->out, "nc", t, &walk->values[3], 0, 9);
    return 1;
  }
  return 1;
}

int kroWriteSrcMeshFromASEfd(FILE *stream, const char *name, FILE *out) {
  if (!stream) {
    kroFail("Error in reading mesh from file descriptor\n");
    return 0;
  }
  kroASEMeshWalk walk;
  kroBeginASEMeshWalk(&walk, stream, "file descriptor");
  walk.in.comment_messages = out == stdout;
  kroSrcState src = {out, name, 0, 0, 0};
  int status;
  while ((status = kroWriteSrcEntry(&src, &walk, kroNextASEMeshEntry(&walk))) > 0)
    continue;
  int ok = status == 0 && src.begun;
  if (status == 0 && !src.begun)
    kroFailASE(&walk.in, "no *GEOMOBJECT follows");
  /* A refused object still gets a whole loader that empties the mesh; a
   * missing one gets none, unless lines before the end began one. */
  if (status < 0 || src.header_written) {
    if (!ok)
      kroWriteSrcEmptyEnd(out, src.header_written, src.count_written, name);
    fputc('}', out);
  }
  kroEndASEMeshWalk(&walk);
  return ok;
}

void kroCreateSrcMeshFromASEfd(FILE *stream, const char *name) {
  kroWriteSrcMeshFromASEfd(stream, name, stdout);
}
