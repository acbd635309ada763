/*
 * The ASE token reader (kro_ase_scan.cpp, its fast paths in kro_ase_scan.h)
 * and mesh walk (kro_ase.cpp), shared by the scene reader, the materials
 * (kro_material.cpp) and the mesh source generator (kro_meshsrc.cpp), so that
 * all three accept and refuse exactly the same files. Internal: not part of
 * the engine's API.
 */
#ifndef KRO_ASE_READER_H
#define KRO_ASE_READER_H

#include "kro.h"

/* Bytes the reader takes from a seekable stream at a time: the first read is
 * small (an object read from a stream of many), later ones double up to the
 * block. */
enum { KRO_ASE_FIRST_READ_BYTES = 4096, KRO_ASE_BLOCK_BYTES = 131072 };

/* Zero bytes after the bytes read: the scanners compare keywords of up to
 * this many bytes at once without looking past the buffer. */
enum { KRO_ASE_PAD = 32 };

/* Token reader over an open stream; tracks { } blocks and quoted texts so
 * that a cut-off file is recognised at its end. A token is text, never a
 * keyword or a brace, when it begins inside a quoted text or right where a
 * value read stopped (the rest of that value's word): so every walk, whether
 * it reads the values or passes them over as tokens, sees the same keywords.
 *
 * It reads a seekable stream in blocks and one that cannot seek (a pipe) a
 * character at a time, and takes from the block exactly the characters that
 * character-by-character "%s", "%d" and "%f" reads would consume. A stream
 * whose file begins with a UTF-16 byte order mark is read as UTF-8.
 * kroEndASEReader hands the stream back at that position (the bytes read
 * ahead are sought back; a pipe's are held for its next reader, or one byte
 * pushed back when no room is free), with its end indicator set only when a
 * read went past the end. kroBeginASEReader takes bytes held for the stream
 * first. */
typedef struct kroASEReader {
  FILE *stream;
  const char *source;   /* path, or "file descriptor", for messages */
  const char *what;     /* "mesh" or "material", for messages */
  long file_bytes;      /* size of the stream; -1 when it cannot seek */
  int depth;            /* { blocks opened minus closed since the start */
  int in_quotes;        /* inside a quoted text spread over several tokens */
  int glued;            /* the last value read stopped before a character that is not white space */
  int text_only;        /* the last token is text: not a keyword, not a brace */
  int comment_messages; /* wrap messages in C comments (source goes to stdout) */
  int separator;        /* character read after the last token: white space, or EOF */
  int token_length;     /* characters in token */
  char token[KRO_ASE_TOKEN_CHARS + 1];
  int next;       /* buffer offset of the first byte not taken yet */
  int end;        /* bytes in buffer; buffer[end] is 0, a stop for the scanning loops */
  int read_bytes; /* what the next block read asks for */
  int past_end;   /* the last read found the stream's end (or an error): nothing follows */
  int byte_order; /* 0, or KRO_ASE_UTF16LE / _BE: the stream is read as its UTF-8 twin */
  int carried;    /* bytes of a UTF-16 stream read but not converted yet, in carry */
  unsigned char carry[3];
  long lines;     /* line ends before buffer[0], counted for a stream that cannot seek only */
  int line_ended; /* the byte before buffer[0] ends a line (same streams) */
  char buffer[KRO_ASE_BLOCK_BYTES + KRO_ASE_PAD]; /* bytes read, then KRO_ASE_PAD zeros */
} kroASEReader;

/* What kroNextASEMeshEntry found. */
enum {
  KRO_ASE_FAILED = -1, /* reported; stop and hand back an empty result */
  KRO_ASE_END = 0,     /* end of the stream, file complete */
  KRO_ASE_GEOMOBJECT,  /* a "*GEOMOBJECT" token */
  KRO_ASE_NODE_NAME,   /* node_name holds a new name of the geometry object's own */
  KRO_ASE_NUMFACES,    /* face_count holds the triangle count */
  KRO_ASE_FACE,        /* row `triangle` of op: values[0..8] */
  KRO_ASE_TFACE,       /* row `triangle` of tc: values[0..5] */
  KRO_ASE_FACENORMAL,  /* row `triangle` of realn: values[0..2]; of nc: values[3..11] */
  KRO_ASE_LIGHTOBJECT  /* a "*LIGHTOBJECT" token (counted, not read) */
};

/* Where the walk stands relative to a keyword that opens a { } block: not
 * after one, between the keyword and its "{", or inside the block. */
enum { KRO_ASE_OUTSIDE = 0, KRO_ASE_HEAD, KRO_ASE_BODY };

/* One walk over the mesh keywords of a stream, shared by the readers and the
 * source generator: it keeps the vertex tables and resolves indices, so each
 * entry carries the finished row values. A name counts only inside the
 * geometry object's own block (cameras, lights, helpers and shapes that follow
 * it do not rename it), and a "*MESH_ANIMATION" block is passed over whole, so
 * its repeated counts leave the base mesh alone. */
typedef struct kroASEMeshWalk {
  int skipping;      /* values are passed over as tokens: only the keywords that shape the
                        walk (objects, names, animation blocks) are acted on */
  int open_end;      /* the end is not checked for a cut-off file (the counters) */
  int object_state;  /* KRO_ASE_OUTSIDE, _HEAD or _BODY: where the last "*GEOMOBJECT" stands */
  int object_depth;  /* in.depth at the last "*GEOMOBJECT"; its block lies deeper */
  int pass_state;    /* KRO_ASE_OUTSIDE, _HEAD or _BODY: a "*MESH_ANIMATION" block passed over */
  int pass_depth;    /* in.depth at that "*MESH_ANIMATION" */
  int tracked_depth; /* in.depth when the block states were last brought up to date */
  float *vertices;   /* x, y, z per vertex; null until *MESH_NUMVERTEX */
  float *tvertices;  /* u, v per texture vertex; null until *MESH_NUMTVERTEX */
  int vertex_count;  /* -1 until given */
  int tvertex_count; /* -1 until given */
  int face_count;    /* -1 until given */
  int material_ref;  /* last *MATERIAL_REF; 0 when none */
  int list_keyword_length; /* the token buffer holds the keyword of a list entry just read */
  int triangle;            /* row of the last face entry */
  float values[12];        /* values of the last face entry */
  char node_name[KRO_ASE_NAME_CHARS + 1];
  kroASEReader in; /* last: its block would otherwise part the walk's fields */
} kroASEMeshWalk;

/* Token level, shared by the mesh walk, the materials and the generator. The
 * value readers take "%d" / "%f" text; on anything else they report and
 * return 0, leaving the value as it was. */
void kroBeginASEReader(kroASEReader *in, FILE *stream, const char *source, const char *what);
/* The stream back at the position after the last character taken; call it
 * before anything else reads, seeks or closes a stream that the caller keeps. */
void kroEndASEReader(kroASEReader *in);
/* Closes a stream the engine opened itself (a path may name a FIFO), dropping
 * what a reader held for it; fclose's result. */
int kroCloseASEStream(FILE *stream);
/* The stream position after the last character taken; -1 when the stream cannot tell. */
long kroTellASE(const kroASEReader *in);
/* The stream position where the last token begins; -1 when the stream cannot tell. */
long kroTokenStartASE(const kroASEReader *in);
int kroReadASEToken(kroASEReader *in);           // Next word into token: 1, 0 at end, -1 refused
int kroReadASEInt(kroASEReader *in, int *value); // "%d": 1, or 0 (reported)
int kroReadASEFloat(kroASEReader *in, float *value); // "%f", finite only: 1, or 0 (reported)
int kroReadASECount(kroASEReader *in, const char *keyword, int *count); // "%d" in 0..limit
/* Right after a keyword token: skips the separator and the opening quote and
 * reads up to the closing quote on the same line, at most `chars` characters. */
int kroReadASEQuoted(kroASEReader *in, char *buffer, int chars, const char *what);
/* Stream back to the start of the last token: 1 or 0. A stream that cannot
 * seek holds the token and what was read after it for its next reader. */
int kroStepBackASEToken(kroASEReader *in);
int kroCheckASEComplete(kroASEReader *in); // At the end: 0 (reported) when the file is cut off
/* Follows the block of a keyword read at `depth` after the token just read:
 * KRO_ASE_HEAD becomes KRO_ASE_BODY at the block's "{", KRO_ASE_BODY becomes
 * KRO_ASE_OUTSIDE at the "}" that brings the depth back. */
void kroFollowASEBlock(const kroASEReader *in, int *state, int depth);
/* Reports "Error in reading <what> from <source>: <detail> at line <n>\n", then
 * the hook; the line is where the reader stands (left out when the stream
 * cannot tell). */
void kroFailASE(kroASEReader *in, const char *format, ...) __attribute__((format(printf, 2, 3)));
/* The same without a line, for failures of the stream itself. */
void kroFailASEStream(kroASEReader *in, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
/* Reports "Error during allocating memory in <function>(..)\n", then the hook. */
void kroFailASEMemory(kroASEReader *in, const char *function);

void kroBeginASEMeshWalk(kroASEMeshWalk *walk, FILE *stream, const char *source); // Tables none
int kroNextASEMeshEntry(kroASEMeshWalk *walk); // Next entry (KRO_ASE_...); tables kept in walk
void kroEndASEMeshWalk(kroASEMeshWalk *walk);  // Release the vertex tables, end the reader

#endif /* KRO_ASE_READER_H */
