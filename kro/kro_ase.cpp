/*
 * ASE scene reader: the token reader with its value scanners, the mesh walk
 * shared with the source generator, the mesh loaders, and the object and
 * light counters with the objects' offsets (all one walk). Files are hostile:
 * every count, index and length is checked before use, and a refused file
 * leaves the caller's arrays empty.
 * Depends on: kro_object.cpp (arrays), kro_error.cpp (allocation, reporting).
 */
#include "kro.h"
#include "kro_ase_reader.h"
#include "kro_internal.h"

#include <float.h>
#include <math.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

enum {
  KRO_ASE_NUMBER_CHARS = 127, /* longest number text taken by the value scanners */
  KRO_ASE_MESSAGE_SIZE = 512  /* one formatted failure message */
};

static const char KRO_ASE_FD_SOURCE[] = "file descriptor";

/* Whole-word comparison with a keyword literal; the length goes first. */
#define KRO_ASE_EQUALS(text, length, keyword)                                                      \
  ((length) == (int)sizeof(keyword) - 1 && !memcmp(text, keyword, sizeof(keyword) - 1))
/* The token just read is that keyword (and not text: see kroASEReader). */
#define KRO_ASE_IS(in, keyword)                                                                    \
  (!(in)->text_only && KRO_ASE_EQUALS((in)->token, (in)->token_length, keyword))

/* Hot paths are forced inline into the walk; the rare ones stay out of its way. */
#define KRO_ASE_HOT static inline __attribute__((always_inline))
#define KRO_ASE_RARE static __attribute__((noinline))

/* Byte classes: white space as "%s" and "%d" see it in the C locale, and
 * the bytes a token's fast loop stops at (white space, the double quote, and
 * 0, which also marks the end of the reader's buffer). */
enum {
  KRO_ASE_SPACE = 1,
  KRO_ASE_TOKEN_STOP = 2,
  KRO_ASE_GAP = KRO_ASE_SPACE | KRO_ASE_TOKEN_STOP
};

// clang-format off
static const unsigned char KRO_ASE_CLASS[256] = {
    /* 0 */ KRO_ASE_TOKEN_STOP, 0, 0, 0, 0, 0, 0, 0, 0,
    /* \t \n \v \f \r */ KRO_ASE_GAP, KRO_ASE_GAP, KRO_ASE_GAP, KRO_ASE_GAP, KRO_ASE_GAP,
    /* 14..31 */ 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    /* ' ' */ KRO_ASE_GAP, /* '!' */ 0, /* '"' */ KRO_ASE_TOKEN_STOP};
// clang-format on

KRO_ASE_HOT int kroIsASESpace(int c) {
  return c >= 0 && (KRO_ASE_CLASS[c] & KRO_ASE_SPACE);
}

KRO_ASE_HOT int kroIsASEDigit(int c) {
  return (unsigned)(c - '0') < 10u;
}

/* The first byte at or after p that is not white space (the buffer's 0 at
 * its end stops it). */
KRO_ASE_HOT const char *kroPassASESpace(const char *p) {
  for (;; p += 4) {
    if (!(KRO_ASE_CLASS[(unsigned char)p[0]] & KRO_ASE_SPACE))
      return p;
    if (!(KRO_ASE_CLASS[(unsigned char)p[1]] & KRO_ASE_SPACE))
      return p + 1;
    if (!(KRO_ASE_CLASS[(unsigned char)p[2]] & KRO_ASE_SPACE))
      return p + 2;
    if (!(KRO_ASE_CLASS[(unsigned char)p[3]] & KRO_ASE_SPACE))
      return p + 3;
  }
}

/* The bytes of the reader's buffer not taken yet, p up to stop (*stop is 0).
 * The scanners work on a copy in locals and store p back into the reader
 * before they return. */
typedef struct kroASESpan {
  const char *p, *stop;
} kroASESpan;

KRO_ASE_HOT kroASESpan kroASEUntaken(const kroASEReader *in) {
  kroASESpan span = {in->buffer + in->next, in->buffer + in->end};
  return span;
}

KRO_ASE_HOT void kroTakeASEUpTo(kroASEReader *in, const char *p) {
  in->next = (int)(p - in->buffer);
}

/* ---- UTF-16 streams ----
 * A stream whose file opens with a UTF-16 byte order mark is read as its
 * UTF-8 twin: every reader sees the converted bytes, the mark dropped, and an
 * unpaired surrogate as U+FFFD. Stream positions stay those of the file: each
 * UTF-8 sequence stands for one 2-byte unit, or two when it has 4 bytes (a
 * surrogate pair), so the bytes not taken map back to the file's bytes. */
enum {
  KRO_ASE_UTF16LE = 1,
  KRO_ASE_UTF16BE,
  KRO_ASE_UTF16_READ_BYTES = 16384 /* file bytes per read: at most 1.5 times that as UTF-8 */
};

/* The encoding a byte order mark names: KRO_ASE_UTF16LE, _BE, or 0. */
static int kroASEByteOrderOf(int first, int second) {
  return first == 0xFF && second == 0xFE   ? KRO_ASE_UTF16LE
         : first == 0xFE && second == 0xFF ? KRO_ASE_UTF16BE
                                           : 0;
}

/* The byte order mark at the start of a seekable stream's file, wherever the
 * stream stands. */
static int kroASEFileByteOrder(FILE *stream) {
  unsigned char mark[2];
  long got = 0;
  int descriptor = fileno(stream);
  if (descriptor >= 0) {
    got = (long)pread(descriptor, mark, 2, 0);
  } else {
    long at = ftell(stream);
    if (at >= 0 && fseek(stream, 0, SEEK_SET) == 0) {
      got = (long)fread(mark, 1, 2, stream);
      fseek(stream, at, SEEK_SET);
    }
  }
  return got == 2 ? kroASEByteOrderOf(mark[0], mark[1]) : 0;
}

/* Bytes of the stream's file that the UTF-8 bytes at text (whole sequences
 * the reader converted) came from. */
static long kroASESourceBytes(const kroASEReader *in, const char *text, long length) {
  if (!in->byte_order)
    return length;
  long bytes = 0;
  for (long i = 0; i < length; i++) {
    unsigned char c = (unsigned char)text[i];
    bytes += ((c & 0xC0) != 0x80) * 2 + (c >= 0xF0) * 2;
  }
  return bytes;
}

static char *kroPutASEUtf8(char *out, unsigned c) {
  if (c < 0x80) {
    *out++ = (char)c;
  } else if (c < 0x800) {
    *out++ = (char)(0xC0 | c >> 6);
    *out++ = (char)(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out++ = (char)(0xE0 | c >> 12);
    *out++ = (char)(0x80 | ((c >> 6) & 0x3F));
    *out++ = (char)(0x80 | (c & 0x3F));
  } else {
    *out++ = (char)(0xF0 | c >> 18);
    *out++ = (char)(0x80 | ((c >> 12) & 0x3F));
    *out++ = (char)(0x80 | ((c >> 6) & 0x3F));
    *out++ = (char)(0x80 | (c & 0x3F));
  }
  return out;
}

/* The units in raw (length bytes) as UTF-8 at out; returns the bytes
 * written. What cannot be converted yet, a unit cut by the end or a high
 * surrogate whose partner may follow, is kept in in->carry; at the stream's
 * end (at_end) a lone high surrogate is converted and only an odd last byte
 * stays, for the stream position. */
static size_t kroConvertASEUtf16(kroASEReader *in, const unsigned char *raw, int length, int at_end,
                                 char *out) {
  char *start = out;
  int i = 0;
  for (; length - i >= 2; i += 2) {
    unsigned u =
        in->byte_order == KRO_ASE_UTF16LE ? raw[i] | raw[i + 1] << 8 : raw[i] << 8 | raw[i + 1];
    if (u >= 0xD800 && u < 0xDC00) {
      if (length - i < 4 && !at_end)
        break;
      unsigned low = length - i < 4                      ? 0
                     : in->byte_order == KRO_ASE_UTF16LE ? raw[i + 2] | raw[i + 3] << 8
                                                         : raw[i + 2] << 8 | raw[i + 3];
      if (low >= 0xDC00 && low < 0xE000) {
        u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      } else {
        u = 0xFFFD;
      }
    } else if (u >= 0xDC00 && u < 0xE000) {
      u = 0xFFFD;
    }
    out = kroPutASEUtf8(out, u);
  }
  in->carried = length - i;
  memcpy(in->carry, raw + i, (size_t)in->carried);
  return (size_t)(out - start);
}

/* The stream's next units as UTF-8 into the buffer: a block's worth from a
 * seekable stream, one character from one that cannot seek (as the plain
 * reader reads it a byte at a time). 0 at the stream's end. */
static size_t kroReadASEUtf16(kroASEReader *in) {
  unsigned char raw[KRO_ASE_UTF16_READ_BYTES + sizeof in->carry];
  size_t got = 0;
  for (int at_end = 0; got == 0 && !at_end;) {
    int length = in->carried;
    memcpy(raw, in->carry, (size_t)length);
    if (in->file_bytes >= 0) {
      size_t want = (size_t)(in->read_bytes < KRO_ASE_UTF16_READ_BYTES ? in->read_bytes
                                                                       : KRO_ASE_UTF16_READ_BYTES);
      size_t read = fread(raw + length, 1, want, in->stream);
      length += (int)read;
      at_end = read < want;
      if (in->read_bytes < KRO_ASE_BLOCK_BYTES)
        in->read_bytes *= 2;
    } else {
      for (int c; length < in->carried + 2; length++) {
        if ((c = getc(in->stream)) == EOF) {
          at_end = 1;
          break;
        }
        raw[length] = (unsigned char)c;
      }
    }
    got = kroConvertASEUtf16(in, raw, length, at_end, in->buffer);
  }
  return got;
}

/* ---- line numbers for messages ----
 * Counted only when a failure is reported: a seekable stream's file is read
 * again from its start up to where the reader stands; a pipe's lines are
 * counted as its bytes leave the buffer (a byte or a character at a time). */

static long kroCountASELines(const char *bytes, long length) {
  long lines = 0;
  for (const char *p = bytes, *end = bytes + length;
       (p = (const char *)memchr(p, '\n', (size_t)(end - p))) != nullptr; p++)
    lines++;
  return lines;
}

/* Line ends in the first `bytes` bytes of a seekable stream's file (2-byte
 * units of a UTF-16 one), the stream left where it stood; -1 when they cannot
 * be read. *last_ends_line: the last of those bytes ends a line. */
static long kroCountASEFileLines(const kroASEReader *in, long bytes, int *last_ends_line) {
  char chunk[16384]; /* even: UTF-16 units never straddle two chunks */
  int descriptor = fileno(in->stream);
  long at = ftell(in->stream), lines = 0, done = 0;
  if (descriptor < 0 && (at < 0 || fseek(in->stream, 0, SEEK_SET) != 0))
    return -1;
  *last_ends_line = 0;
  while (done < bytes) {
    size_t want = (size_t)(bytes - done < (long)sizeof chunk ? bytes - done : (long)sizeof chunk);
    long got = descriptor >= 0 ? (long)pread(descriptor, chunk, want, done)
                               : (long)fread(chunk, 1, want, in->stream);
    if (got <= 0)
      break;
    if (!in->byte_order) {
      lines += kroCountASELines(chunk, got);
      *last_ends_line = chunk[got - 1] == '\n';
    } else {
      const int low = in->byte_order == KRO_ASE_UTF16LE ? 0 : 1;
      for (long i = 0; i + 1 < got; i += 2) {
        *last_ends_line = chunk[i + low] == '\n' && chunk[i + 1 - low] == 0;
        lines += *last_ends_line;
      }
    }
    done += got;
  }
  if (descriptor < 0)
    fseek(in->stream, at, SEEK_SET);
  return done == bytes ? lines : -1;
}

/* The line (from 1) where the reader stands: that of the last byte taken,
 * so a line end taken after a value still counts to the value's line. 0
 * when the stream cannot tell. */
static long kroASELine(const kroASEReader *in) {
  long lines;
  int last_ends_line = in->next > 0 ? in->buffer[in->next - 1] == '\n' : in->line_ended;
  if (in->file_bytes < 0) {
    lines = in->lines + kroCountASELines(in->buffer, in->next);
  } else {
    long at = kroTellASE(in);
    lines = at < 0 ? -1 : kroCountASEFileLines(in, at, &last_ends_line);
  }
  return lines < 0 ? 0 : lines - last_ends_line + 1;
}

/* ---- bytes held for streams that cannot move back ----
 * A pipe cannot be sought back to the "*GEOMOBJECT" that ends an object once
 * it has been read, so the reader holds that token, its separator and any
 * byte it read ahead (with the encoding of a UTF-16 pipe) for the next reader
 * of the same stream, which reads them first. A slot names its stream by
 * address and by the file behind it (descriptor, device, inode): a slot whose
 * descriptor was closed or now names another file is stale and free again,
 * and a stream found at a held address whose file differs gets nothing. */
enum {
  KRO_ASE_HELD_STREAMS = 8,                          /* pipes with bytes held at once */
  KRO_ASE_HELD_BYTES = 2 * (KRO_ASE_TOKEN_CHARS + 2) /* a token, its separator, bytes read ahead */
};

typedef struct kroASEHeld {
  FILE *stream; /* null: the slot is free */
  int descriptor;
  dev_t device;
  ino_t inode;
  int byte_order, carried;
  unsigned char carry[3];
  long lines;     /* line ends before the bytes held */
  int line_ended; /* the byte before them ends a line */
  int length;
  char bytes[KRO_ASE_HELD_BYTES];
} kroASEHeld;

static kroASEHeld kroASEHeldStreams[KRO_ASE_HELD_STREAMS];

/* The descriptor and file behind a stream; 0 when it has none (a memory stream). */
static int kroASEStreamFile(FILE *stream, int *descriptor, struct stat *file) {
  *descriptor = fileno(stream);
  return *descriptor >= 0 && fstat(*descriptor, file) == 0;
}

static int kroIsASEHeldFile(const kroASEHeld *slot, int descriptor, const struct stat *file) {
  return slot->descriptor == descriptor && slot->device == file->st_dev &&
         slot->inode == file->st_ino;
}

/* Whether a slot still holds bytes of a descriptor open on the same file. */
static int kroIsASEHeldLive(const kroASEHeld *slot) {
  struct stat file;
  return slot->stream && fstat(slot->descriptor, &file) == 0 &&
         kroIsASEHeldFile(slot, slot->descriptor, &file);
}

/* A free slot for the reader's stream, or null. */
static kroASEHeld *kroFreeASEHeld(const kroASEReader *in) {
  int descriptor;
  struct stat file;
  if (!kroASEStreamFile(in->stream, &descriptor, &file))
    return nullptr;
  for (kroASEHeld &slot : kroASEHeldStreams)
    if (!kroIsASEHeldLive(&slot))
      return &slot;
  return nullptr;
}

/* The bytes not taken, and the encoding, for the next reader of the stream. */
static void kroHoldASEBytes(kroASEReader *in) {
  int untaken = in->end - in->next, descriptor;
  struct stat file;
  kroASEHeld *slot = kroFreeASEHeld(in);
  if (!slot || untaken > KRO_ASE_HELD_BYTES || !kroASEStreamFile(in->stream, &descriptor, &file))
    return;
  slot->stream = in->stream;
  slot->descriptor = descriptor;
  slot->device = file.st_dev;
  slot->inode = file.st_ino;
  slot->byte_order = in->byte_order;
  slot->carried = in->carried;
  memcpy(slot->carry, in->carry, sizeof slot->carry);
  slot->lines = in->lines + kroCountASELines(in->buffer, in->next);
  slot->line_ended = in->next > 0 ? in->buffer[in->next - 1] == '\n' : in->line_ended;
  slot->length = untaken;
  memcpy(slot->bytes, in->buffer + in->next, (size_t)untaken);
}

/* Takes what a reader before held for this stream into the buffer: 1, or 0
 * when nothing is held for it. A slot of a stream now at another file is dropped. */
static int kroResumeASEHeld(kroASEReader *in) {
  int resumed = 0;
  for (kroASEHeld &slot : kroASEHeldStreams) {
    if (slot.stream != in->stream)
      continue;
    int descriptor;
    struct stat file;
    if (kroASEStreamFile(in->stream, &descriptor, &file) &&
        kroIsASEHeldFile(&slot, descriptor, &file)) {
      memcpy(in->buffer, slot.bytes, (size_t)slot.length);
      in->end = slot.length;
      in->byte_order = slot.byte_order;
      in->lines = slot.lines;
      in->line_ended = slot.line_ended;
      in->carried = slot.carried;
      memcpy(in->carry, slot.carry, sizeof in->carry);
      resumed = 1;
    }
    slot.stream = nullptr;
  }
  return resumed;
}

/* A stream that cannot seek, where no reader held bytes: its first bytes
 * tell whether it is UTF-16 (the mark is dropped); others stay in the
 * buffer as read. */
static void kroOpenASEPipe(kroASEReader *in) {
  int first = getc(in->stream);
  if (first == 0xFF || first == 0xFE) {
    int second = getc(in->stream);
    in->byte_order = kroASEByteOrderOf(first, second);
    if (!in->byte_order) {
      in->buffer[in->end++] = (char)first;
      if (second != EOF)
        in->buffer[in->end++] = (char)second;
    }
  } else if (first != EOF) {
    in->buffer[in->end++] = (char)first;
  }
  in->past_end = first == EOF;
}

int kroStepBackASEToken(kroASEReader *in) {
  int bytes = in->token_length + (in->separator != EOF), untaken = in->end - in->next;
  if (in->file_bytes < 0) {
    /* The token goes back before the bytes not taken; kroEndASEReader holds them. */
    if (bytes + untaken > KRO_ASE_HELD_BYTES || !kroFreeASEHeld(in))
      return 0;
    in->lines += kroCountASELines(in->buffer, in->next) - (in->separator == '\n');
    in->line_ended = 0; /* the token's line stands before it; only a guess for messages */
    memmove(in->buffer + bytes, in->buffer + in->next, (size_t)untaken);
    memcpy(in->buffer, in->token, (size_t)in->token_length);
    if (in->separator != EOF)
      in->buffer[in->token_length] = (char)in->separator;
    in->next = 0;
    in->end = bytes + untaken;
    memset(in->buffer + in->end, 0, KRO_ASE_PAD);
    return 1;
  }
  long start = kroTokenStartASE(in);
  kroEndASEReader(in);
  return start >= 0 && fseek(in->stream, start, SEEK_SET) == 0;
}

/* With every byte taken: the stream's next bytes into the buffer, a block at
 * a time, or one byte when the stream cannot seek (nothing read can be given
 * back to it but one pushed-back byte). An empty span at the stream's end. */
KRO_ASE_RARE kroASESpan kroRefillASE(kroASEReader *in) {
  size_t got = 0;
  if (in->file_bytes < 0 && in->end > 0) { /* a pipe's lines cannot be counted again later */
    in->lines += kroCountASELines(in->buffer, in->end);
    in->line_ended = in->buffer[in->end - 1] == '\n';
  }
  if (!in->past_end) {
    if (in->byte_order) {
      got = kroReadASEUtf16(in);
    } else if (in->file_bytes >= 0) {
      got = fread(in->buffer, 1, (size_t)in->read_bytes, in->stream);
      if (in->read_bytes < KRO_ASE_BLOCK_BYTES)
        in->read_bytes *= 2;
    } else {
      int c = getc(in->stream);
      if (c != EOF)
        in->buffer[got++] = (char)c;
    }
  }
  in->past_end = got == 0;
  in->next = 0;
  in->end = (int)got;
  memset(in->buffer + got, 0, KRO_ASE_PAD);
  return kroASEUntaken(in);
}

/* The next byte, not taken; EOF at the end of the stream. */
KRO_ASE_HOT int kroPeekASE(kroASEReader *in, kroASESpan *span) {
  if (span->p == span->stop) {
    *span = kroRefillASE(in);
    if (span->p == span->stop)
      return EOF;
  }
  return (unsigned char)*span->p;
}

/* Takes white space; returns the byte after it, not taken, or EOF. */
static int kroSkipASESpace(kroASEReader *in) {
  for (kroASESpan span = kroASEUntaken(in);; span = kroRefillASE(in)) {
    const char *p = kroPassASESpace(span.p);
    kroTakeASEUpTo(in, p);
    if (p < span.stop)
      return (unsigned char)*p;
    if (in->past_end)
      return EOF;
  }
}

void kroBeginASEReader(kroASEReader *in, FILE *stream, const char *source, const char *what) {
  in->stream = stream;
  in->source = source;
  in->what = what;
  in->file_bytes = stream ? kroStreamBytes(stream) : -1;
  in->depth = 0;
  in->in_quotes = 0;
  in->glued = 0;
  in->text_only = 0;
  in->comment_messages = 0;
  in->separator = EOF;
  in->token_length = 0;
  in->token[0] = 0;
  in->next = 0;
  in->end = 0;
  in->read_bytes = KRO_ASE_FIRST_READ_BYTES;
  in->past_end = 0;
  in->byte_order = 0;
  in->carried = 0;
  in->lines = 0;
  in->line_ended = 0;
  if (stream && in->file_bytes >= 0) {
    in->byte_order = kroASEFileByteOrder(stream);
    if (in->byte_order) {
      /* Counts are bounded by characters (2-byte units), as in the UTF-8 twin. */
      in->file_bytes = in->file_bytes > 2 ? (in->file_bytes - 2) / 2 : 0;
      if (ftell(stream) < 2)
        fseek(stream, 2, SEEK_SET);
    }
  } else if (stream && !kroResumeASEHeld(in)) {
    kroOpenASEPipe(in);
  }
  memset(in->buffer + in->end, 0, KRO_ASE_PAD);
}

void kroEndASEReader(kroASEReader *in) {
  int untaken = in->end - in->next;
  if (in->file_bytes < 0) {
    /* A pipe that has not ended keeps what was read ahead, its encoding and
     * its line count for the next reader; without a free slot one byte of a
     * plain pipe is pushed back. */
    if (!in->past_end && kroFreeASEHeld(in))
      kroHoldASEBytes(in);
    else if (!in->byte_order && untaken == 1)
      ungetc((unsigned char)in->buffer[in->next], in->stream);
  } else if (untaken > 0 || in->carried > 0 || (!in->past_end && feof(in->stream))) {
    /* Seeking also clears the end indicator of a short block read that
     * reached the end although no character read went past it. */
    long back = kroASESourceBytes(in, in->buffer + in->next, untaken) + in->carried;
    fseek(in->stream, -back, SEEK_CUR);
  }
  in->next = 0;
  in->end = 0;
  in->past_end = 0;
  in->carried = 0;
  memset(in->buffer, 0, KRO_ASE_PAD);
}

long kroTellASE(const kroASEReader *in) {
  long position = ftell(in->stream);
  if (position < 0)
    return -1;
  return position - kroASESourceBytes(in, in->buffer + in->next, in->end - in->next) - in->carried;
}

long kroTokenStartASE(const kroASEReader *in) {
  long after = kroTellASE(in);
  if (after < 0)
    return -1;
  char separator = (char)in->separator;
  return after - kroASESourceBytes(in, in->token, in->token_length) -
         (in->separator == EOF ? 0 : kroASESourceBytes(in, &separator, 1));
}

/* The message with the detail, and the line where the reader stands when `line` is set. */
static void kroReportASE(kroASEReader *in, int line, const char *format, va_list args) {
  char detail[KRO_ASE_MESSAGE_SIZE];
  int length = vsnprintf(detail, sizeof detail, format, args);
  long number = line ? kroASELine(in) : 0;
  if (number > 0 && length >= 0 && length < (int)sizeof detail)
    snprintf(detail + length, sizeof detail - (size_t)length, " at line %ld", number);
  if (in->comment_messages)
    fputs("/* ", stdout);
  kroFail("Error in reading %s from %s: %s\n", in->what, in->source, detail);
  if (in->comment_messages) {
    fputs(" */\n", stdout);
    fflush(stdout);
  }
}

void kroFailASE(kroASEReader *in, const char *format, ...) {
  va_list args;
  va_start(args, format);
  kroReportASE(in, 1, format, args);
  va_end(args);
}

void kroFailASEStream(kroASEReader *in, const char *format, ...) {
  va_list args;
  va_start(args, format);
  kroReportASE(in, 0, format, args);
  va_end(args);
}

void kroFailASEMemory(kroASEReader *in, const char *function) {
  if (in->comment_messages)
    fputs("/* ", stdout);
  kroFail("Error during allocating memory in %s(..)\n", function);
  if (in->comment_messages)
    fputs(" */\n", stdout);
}

void kroReadStringToChar(FILE *stream, char *buffer, char stop) {
  int c;
  while ((c = getc(stream)) != EOF && c != (unsigned char)stop)
    *buffer++ = (char)c;
  *buffer = 0;
}

/* A token of length characters stored in word and ended by the separator c
 * (taken, or EOF): whether it is text only, the block depth and the quote
 * state follow it. */
KRO_ASE_HOT int kroEndASEWord(kroASEReader *in, char *word, int length, int c, int quotes) {
  in->text_only = in->in_quotes || in->glued;
  in->glued = 0;
  in->separator = c; /* a following "%c" read starts after it */
  in->token_length = length;
  word[length] = 0;
  if (!in->text_only && length == 1) {
    if (word[0] == '{')
      in->depth++;
    else if (word[0] == '}')
      in->depth--;
  }
  if (quotes & 1)
    in->in_quotes = !in->in_quotes;
  return 1;
}

/* Reads one "%s" word into `word` (KRO_ASE_TOKEN_CHARS + 1 bytes) and takes
 * the separator after it: the whole rule, for words with quotes or control
 * bytes, words across the buffer's end and words too long. */
KRO_ASE_RARE int kroReadASEWordSlowly(kroASEReader *in, char *word) {
  int c = kroSkipASESpace(in);
  if (c == EOF)
    return 0;
  kroASESpan span = kroASEUntaken(in);
  int length = 0, quotes = 0;
  while (c != EOF && !kroIsASESpace(c)) {
    span.p++;
    if (length == KRO_ASE_TOKEN_CHARS) {
      /* The character that does not fit is taken, as "%s" takes it. */
      kroTakeASEUpTo(in, span.p);
      kroFailASE(in, "a token is longer than %d characters", KRO_ASE_TOKEN_CHARS);
      return -1;
    }
    quotes += c == '"';
    word[length++] = (char)c;
    c = kroPeekASE(in, &span);
  }
  if (c != EOF)
    span.p++;
  kroTakeASEUpTo(in, span.p);
  return kroEndASEWord(in, word, length, c, quotes);
}

/* The same for the common word: in the buffer, ended by white space, without
 * quotes or 0 bytes and not too long; anything else is read again from
 * its start by the whole rule. */
KRO_ASE_HOT int kroReadASEWordInto(kroASEReader *in, char *word) {
  const char *p = kroPassASESpace(in->buffer + in->next);
  kroTakeASEUpTo(in, p);
  const char *first = p;
  while (!(KRO_ASE_CLASS[(unsigned char)*p] & KRO_ASE_TOKEN_STOP))
    p++;
  int c = (unsigned char)*p, length = (int)(p - first);
  if (length == 0 || length > KRO_ASE_TOKEN_CHARS || !(KRO_ASE_CLASS[c] & KRO_ASE_SPACE))
    return kroReadASEWordSlowly(in, word);
  memcpy(word, first, (size_t)length);
  kroTakeASEUpTo(in, p + 1);
  return kroEndASEWord(in, word, length, c, 0);
}

int kroReadASEToken(kroASEReader *in) {
  return kroReadASEWordInto(in, in->token);
}

int kroReadASEFirstWord(FILE *stream, char *word, int chars) {
  kroASEReader in;
  kroBeginASEReader(&in, stream, "", "");
  int c = kroSkipASESpace(&in), length = 0;
  kroASESpan span = kroASEUntaken(&in);
  for (; c != EOF && !kroIsASESpace(c) && length < chars; c = kroPeekASE(&in, &span)) {
    word[length++] = (char)c;
    span.p++;
  }
  kroTakeASEUpTo(&in, span.p);
  word[length] = 0;
  kroEndASEReader(&in);
  return length;
}

/* The keyword whose value is being read, for messages. */
static const char *kroASEContext(kroASEReader *in) {
  return in->token[0] ? in->token : "start";
}

/* After a number, c the byte that ends it: white space is taken; anything
 * else is left for the next read, and a token read there is text (the rest of
 * the number's word). */
KRO_ASE_HOT void kroTakeASENumberEnd(kroASEReader *in, kroASESpan *span, int c) {
  in->glued = c != EOF && !kroIsASESpace(c);
  if (c != EOF && !in->glued)
    span->p++;
  kroTakeASEUpTo(in, span->p);
}

/* The same for a number that ends at p inside the buffer; returns the
 * position after what is taken. */
KRO_ASE_HOT const char *kroPassASENumberEnd(kroASEReader *in, const char *p) {
  in->glued = !kroIsASESpace((unsigned char)*p);
  return p + !in->glued;
}

/* "%d" by the whole rule: digits across the buffer's end, any count of them,
 * and the refusals. */
KRO_ASE_RARE int kroReadASEIntSlowly(kroASEReader *in, int *value) {
  int c = kroSkipASESpace(in);
  kroASESpan span = kroASEUntaken(in);
  int negative = 0, digits = 0;
  long long number = 0;
  if (c == '-' || c == '+') {
    negative = c == '-';
    span.p++;
    c = kroPeekASE(in, &span);
  }
  while (kroIsASEDigit(c)) {
    const char *p = span.p;
    for (; kroIsASEDigit((unsigned char)*p); p++, digits++)
      if (number <= INT32_MAX)
        number = number * 10 + (*p - '0');
    span.p = p;
    c = kroPeekASE(in, &span);
  }
  kroTakeASENumberEnd(in, &span, c);
  if (digits == 0) {
    kroFailASE(in,
               c == EOF ? "the file ends where %s needs a number"
                        : "%s is not followed by a whole number",
               kroASEContext(in));
    return 0;
  }
  if (negative)
    number = -number;
  if (number > INT32_MAX || number < INT32_MIN) {
    kroFailASE(in, "a number after %s is out of range", kroASEContext(in));
    return 0;
  }
  *value = (int)number;
  return 1;
}

/* The common whole number, [sign] 1 to 9 digits ended inside the buffer, at
 * p (after white space): its value and the position after it; null when the
 * whole rule must decide. */
KRO_ASE_HOT const char *kroScanASEPlainInt(const char *p, const char *stop, int *value) {
  int negative = *p == '-';
  p += negative || *p == '+';
  const char *first = p;
  uint32_t number = 0; /* exact up to 9 digits; longer numbers are refused below */
  for (; kroIsASEDigit(*p); p++)
    number = number * 10 + (uint32_t)(*p - '0');
  if (p == first || p - first > 9 || p == stop)
    return nullptr;
  *value = negative ? -(int)number : (int)number;
  return p;
}

KRO_ASE_HOT int kroTakeASEInt(kroASEReader *in, int *value) {
  const char *p = kroPassASESpace(in->buffer + in->next);
  kroTakeASEUpTo(in, p);
  const char *after = kroScanASEPlainInt(p, in->buffer + in->end, value);
  if (!after)
    return kroReadASEIntSlowly(in, value);
  kroTakeASEUpTo(in, kroPassASENumberEnd(in, after));
  return 1;
}

int kroReadASEInt(kroASEReader *in, int *value) {
  return kroTakeASEInt(in, value);
}

/* The float nearest to mantissa / 10^fraction_digits when one correctly
 * rounded double division gives it: up to 15 significant digits (below 2^53)
 * and 22 decimals (10^22 is the largest exact power), and a double that does
 * not lie halfway between two floats. Returns 0 otherwise. */
KRO_ASE_HOT int kroASEFloatByDivision(uint64_t mantissa, int digits, int fraction_digits,
                                      float *value) {
  static const double powers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                  1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                  1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  if (digits > 15 || fraction_digits > 22)
    return 0;
  double exact = (double)mantissa / powers[fraction_digits];
  uint64_t bits;
  memcpy(&bits, &exact, sizeof bits);
  /* 29 = 52 - 23 mantissa bits dropped on the way to float; the quotient is
   * at least 1e-22, far above the floats that lose more. */
  if ((bits & ((UINT64_C(1) << 29) - 1)) == (UINT64_C(1) << 28))
    return 0;
  *value = (float)exact;
  return 1;
}

/* Takes the longest prefix of a decimal number ([sign] digits [. digits]
 * [e [sign] digits]) and converts it as strtof would. Returns 0 when no number
 * stands there. */
static int kroScanASEFloat(kroASEReader *in, float *value, int *at_end) {
  /* Two more than the longest number: an exponent mark and its sign may follow it. */
  char text[KRO_ASE_NUMBER_CHARS + 3];
  int length = 0, digits = 0, fraction_digits = 0;
  uint64_t mantissa = 0;
  int c = kroSkipASESpace(in);
  kroASESpan span = kroASEUntaken(in);
  *at_end = c == EOF;
  if (c == '-' || c == '+') {
    text[length++] = (char)c;
    span.p++;
    c = kroPeekASE(in, &span);
  }
  for (int in_fraction = 0;; c = kroPeekASE(in, &span)) {
    if (kroIsASEDigit(c)) {
      mantissa = mantissa * 10 + (uint64_t)(c - '0');
      digits++;
      fraction_digits += in_fraction;
    } else if (c == '.' && !in_fraction) {
      in_fraction = 1;
    } else {
      break;
    }
    span.p++;
    if (length == KRO_ASE_NUMBER_CHARS) {
      kroTakeASEUpTo(in, span.p);
      return 0;
    }
    text[length++] = (char)c;
  }
  int exponent_seen = digits > 0 && (c == 'e' || c == 'E');
  if (exponent_seen) {
    text[length++] = (char)c;
    span.p++;
    c = kroPeekASE(in, &span);
    if (c == '-' || c == '+') {
      text[length++] = (char)c;
      span.p++;
      c = kroPeekASE(in, &span);
    }
    int exponent_digits = 0;
    for (; kroIsASEDigit(c) && length < KRO_ASE_NUMBER_CHARS; c = kroPeekASE(in, &span)) {
      text[length++] = (char)c;
      exponent_digits++;
      span.p++;
    }
    if (exponent_digits == 0) {
      kroTakeASEUpTo(in, span.p);
      return 0;
    }
  }
  kroTakeASENumberEnd(in, &span, c);
  if (digits == 0)
    return 0;
  if (!exponent_seen && kroASEFloatByDivision(mantissa, digits, fraction_digits, value)) {
    if (text[0] == '-')
      *value = -*value;
    return 1;
  }
  text[length] = 0;
  *value = strtof(text, nullptr);
  return 1;
}

/* "%f" by the whole rule, and its refusals. */
KRO_ASE_RARE int kroReadASEFloatSlowly(kroASEReader *in, float *value) {
  int at_end = 0;
  float number;
  if (!kroScanASEFloat(in, &number, &at_end)) {
    kroFailASE(in,
               at_end ? "the file ends where %s needs a number" : "%s is not followed by a number",
               kroASEContext(in));
    return 0;
  }
  if (!isfinite(number)) {
    kroFailASE(in, "a number after %s is out of range", kroASEContext(in));
    return 0;
  }
  *value = number;
  return 1;
}

/* The digits at *p: their count and their value (meaningful up to 19
 * digits), *p moved past them. */
KRO_ASE_HOT int kroScanASEDigits(const char **p, uint64_t *mantissa) {
  const char *q = *p;
  uint64_t m = *mantissa;
  for (; kroIsASEDigit(*q); q++)
    m = m * 10 + (uint64_t)(*q - '0');
  int digits = (int)(q - *p);
  *p = q;
  *mantissa = m;
  return digits;
}

/* Four digits at *p, the count exporters write after a decimal point, taken
 * at once: 4 with their value appended to *mantissa and *p moved past them,
 * or 0 with nothing taken when fewer than four digits stand there. */
KRO_ASE_HOT int kroScanASEFourDigits(const char **p, uint64_t *mantissa) {
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  uint32_t chunk;
  memcpy(&chunk, *p, sizeof chunk);
  const uint32_t high = chunk & UINT32_C(0xF0F0F0F0);
  const uint32_t above_nine = (chunk + UINT32_C(0x06060606)) & UINT32_C(0xF0F0F0F0);
  if (high != UINT32_C(0x30303030) || above_nine != UINT32_C(0x30303030))
    return 0;
  /* Bytes in reading order from the lowest: pairs, then the four. */
  chunk &= UINT32_C(0x0F0F0F0F);
  chunk = (chunk * 10 + (chunk >> 8)) & UINT32_C(0x00FF00FF);
  chunk = (chunk * 100 + (chunk >> 16)) & UINT32_C(0xFFFF);
  *mantissa = *mantissa * 10000 + chunk;
  *p += 4;
  return 4;
#else
  (void)p; /* the digits are read as a little-endian word: here one at a time */
  (void)mantissa;
  return 0;
#endif
}

/* The numbers exporters write most: [-]d.dddd (normals, texture
 * coordinates) and [-]dd.dddd, `whole` digits before the point, followed by
 * white space, checked and read as one word. Its value (as
 * kroScanASEPlainFloat gives it) and the position of the white space; null
 * for any other text. */
KRO_ASE_HOT const char *kroScanASEFourDecimals(const char *p, int whole, float *value) {
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  const int negative = *p == '-';
  p += negative;
  uint64_t word;
  memcpy(&word, p, sizeof word);
  /* The expected text's bytes, the dot's byte, and one bit per digit byte
   * (bytes 0..whole - 1, then four after the dot). */
  const uint64_t dot = UINT64_C(0xFF) << (8 * whole);
  const uint64_t digits =
      ((UINT64_C(1) << (8 * (whole + 5))) - 1) & ~dot & UINT64_C(0x0101010101010101);
  /* Digit bytes become their value, the dot 0; each value must be below 10,
   * the dot exactly 0. */
  const uint64_t values = word ^ ((digits * '0') | (dot & (UINT64_C(0x0101010101010101) * '.')));
  if ((values & ((digits * 0xF0) | dot)) != 0 || ((values + digits * 6) & (digits * 0xF0)) != 0 ||
      !(KRO_ASE_CLASS[(unsigned char)p[whole + 5]] & KRO_ASE_SPACE))
    return nullptr;
  uint32_t fraction = (uint32_t)(values >> (8 * (whole + 1))); /* the decimals, first lowest */
  fraction = (fraction * 10 + (fraction >> 8)) & UINT32_C(0x00FF00FF);
  fraction = (fraction * 100 + (fraction >> 16)) & UINT32_C(0xFFFF);
  uint32_t units = (uint32_t)(values & 0xF);
  if (whole == 2)
    units = units * 10 + (uint32_t)((values >> 8) & 0xF);
  const float number = (float)((double)(units * 10000 + fraction) * 1e-4); /* see below */
  *value = negative ? -number : number;
  return p + whole + 5;
#else
  (void)p;
  (void)whole;
  (void)value;
  return nullptr;
#endif
}

/* The common number, [sign] digits [. digits] of 1 to 15 digits without
 * exponent ended inside the buffer, at p (after white space): its value and
 * the position after it; null when the whole rule must decide.
 * Rounding as strtof does: a mantissa m below 2^24 over 10^k with k <= 7 lies
 * at least m / 10^k * 2^-48 from the nearest halfway point between two floats
 * (|m 2^f - M 10^k| >= 1 for a halfway point M 2^-f, M odd and above 2^24),
 * far more than the 2^-52 that the double product with 10^-k can be off, so
 * rounding that product to float gives the nearest float (also checked
 * against strtof for every such m and k). Up to k = 10, m and 10^k are exact
 * floats and one float division rounds exactly (where float operations round
 * to float); larger ones take the double division. */
KRO_ASE_HOT const char *kroScanASEPlainFloat(const char *p, const char *stop, float *value) {
  const char *after = kroScanASEFourDecimals(p, 1, value);
  if (after || (after = kroScanASEFourDecimals(p, 2, value)))
    return after;
  static const float powers[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f, 1e10f};
  static const double inverses[] = {1e0, 1e-1, 1e-2, 1e-3, 1e-4, 1e-5, 1e-6, 1e-7};
  int negative = *p == '-';
  p += negative || *p == '+';
  uint64_t mantissa = 0;
  int digits = kroScanASEDigits(&p, &mantissa), fraction_digits = 0;
  if (*p == '.') {
    p++;
    fraction_digits = kroScanASEFourDigits(&p, &mantissa);
    fraction_digits += kroScanASEDigits(&p, &mantissa);
    digits += fraction_digits;
  }
  if (digits == 0 || digits > 15 || p == stop || *p == 'e' || *p == 'E')
    return nullptr;
  float number;
  if (mantissa < (UINT64_C(1) << 24) && fraction_digits <= 7)
    number = (float)((double)mantissa * inverses[fraction_digits]);
  else if (FLT_EVAL_METHOD == 0 && mantissa < (UINT64_C(1) << 24) && fraction_digits <= 10)
    number = (float)mantissa / powers[fraction_digits];
  else if (!kroASEFloatByDivision(mantissa, digits, fraction_digits, &number))
    return nullptr;
  *value = negative ? -number : number;
  return p;
}

KRO_ASE_HOT int kroTakeASEFloat(kroASEReader *in, float *value) {
  const char *p = kroPassASESpace(in->buffer + in->next);
  kroTakeASEUpTo(in, p);
  const char *after = kroScanASEPlainFloat(p, in->buffer + in->end, value);
  if (!after)
    return kroReadASEFloatSlowly(in, value);
  kroTakeASEUpTo(in, kroPassASENumberEnd(in, after));
  return 1;
}

int kroReadASEFloat(kroASEReader *in, float *value) {
  return kroTakeASEFloat(in, value);
}

int kroReadASEQuoted(kroASEReader *in, char *buffer, int chars, const char *what) {
  kroASESpan span = kroASEUntaken(in);
  /* The separator (taken with the token) and the opening quote, taken as they come. */
  if (in->separator == EOF || kroPeekASE(in, &span) == EOF) {
    kroTakeASEUpTo(in, span.p);
    kroFailASE(in, "the file ends before the %s", what);
    return 0;
  }
  span.p++;
  for (int length = 0;; length++) {
    int c = kroPeekASE(in, &span);
    span.p += c != EOF;
    if (c == '"') {
      kroTakeASEUpTo(in, span.p);
      buffer[length] = 0;
      return 1;
    }
    if (c == EOF || c == '\n' || c == '\r') {
      kroTakeASEUpTo(in, span.p);
      kroFailASE(in, "the %s has no closing quote", what);
      return 0;
    }
    if (length == chars) {
      kroTakeASEUpTo(in, span.p);
      kroFailASE(in, "the %s is longer than %d characters", what, chars);
      return 0;
    }
    buffer[length] = (char)c;
  }
}

int kroCheckASEComplete(kroASEReader *in) {
  if (in->depth > 0 || in->in_quotes) {
    kroFailASE(in, "the file ends inside %s (cut off?)",
               in->in_quotes ? "a quoted text" : "a { } block");
    return 0;
  }
  return 1;
}

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

/* Reads a count for `keyword`: not negative, not absurd, not larger than the
 * file could list. */
int kroReadASECount(kroASEReader *in, const char *keyword, int *count) {
  int value;
  if (!kroReadASEInt(in, &value))
    return 0;
  long limit = KRO_ASE_MAX_COUNT;
  if (in->file_bytes >= 0 && in->file_bytes / KRO_ASE_MIN_ENTRY_BYTES < limit)
    limit = in->file_bytes / KRO_ASE_MIN_ENTRY_BYTES;
  if (value < 0 || value > limit) {
    if (limit < KRO_ASE_MAX_COUNT)
      kroFailASE(in, "%s %d is outside 0..%ld (a file of %ld bytes cannot list more)", keyword,
                 value, limit, in->file_bytes);
    else
      kroFailASE(in, "%s %d is outside 0..%ld", keyword, value, limit);
    return 0;
  }
  *count = value;
  return 1;
}

/* A zero-filled table of count entries of `floats` floats. */
static int kroTakeASETable(kroASEMeshWalk *walk, float **table, int count, int floats) {
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
  if (!kroTakeASEInt(in, index))
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
      p = kroPassASENumberEnd(in, after);
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
static int kroReadASEWord(kroASEReader *in) {
  char word[KRO_ASE_TOKEN_CHARS + 1];
  int status = kroReadASEWordInto(in, word);
  if (status == 0)
    kroFailASE(in, "the file ends inside the entry of %s", in->token);
  if (status == 1 && !in->text_only && kroIsASEWalkKeyword(word, in->token_length)) {
    kroFailASE(in, "%s stands among the values of %s", word, in->token);
    return 0;
  }
  return status == 1;
}

/* Whether the length bytes at a and at b are the same; both may be read 16
 * bytes far. The list keywords have 9 to 16 bytes: two words compare them. */
KRO_ASE_HOT int kroASEEqualBytes(const char *a, const char *b, int length) {
  if (length < 9 || length > 16)
    return memcmp(a, b, (size_t)length) == 0;
  uint64_t a0, a1, b0, b1;
  memcpy(&a0, a, 8);
  memcpy(&a1, a + 8, 8);
  memcpy(&b0, b, 8);
  memcpy(&b1, b + 8, 8);
  /* Only the first length - 8 bytes of the second words count; on a
   * big-endian machine they are the high ones. */
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  const uint64_t counted = ~UINT64_C(0) >> (8 * (16 - length));
#else
  const uint64_t counted = ~UINT64_C(0) << (8 * (16 - length));
#endif
  return a0 == b0 && ((a1 ^ b1) & counted) == 0;
}

/* ---- entries read in one go ----
 * The common entry lies whole in the buffer, every number in it is one that
 * kroScanASEPlainInt or kroScanASEPlainFloat takes followed by white space,
 * every index lies inside its count, and its words (the face's labels, the
 * vertex normals' keyword) end at white space. Such an entry is read from a
 * local position and taken at once, exactly as the value readers would take
 * it piece by piece: each number with the white space byte after it, each
 * word with its separator. Anything else leaves the reader untouched, and the
 * entry is read again from its start by the value readers, which decide and
 * report. */

/* The position after the white space that follows a number at p (after white
 * space), or null. */
KRO_ASE_HOT const char *kroASEAfterInt(const char *p, const char *stop, int *value) {
  const char *after = kroScanASEPlainInt(kroPassASESpace(p), stop, value);
  return after && kroIsASESpace((unsigned char)*after) ? after + 1 : nullptr;
}

/* The same for an index, which must lie in 0..count-1 (count -1: not given,
 * so none does). */
KRO_ASE_HOT const char *kroASEAfterIndex(const char *p, const char *stop, int count, int *index) {
  p = kroASEAfterInt(p, stop, index);
  return p && *index >= 0 && *index < count ? p : nullptr;
}

KRO_ASE_HOT const char *kroASEAfterFloats(const char *p, const char *stop, float *values,
                                          int count) {
  for (int i = 0; i < count && p; i++) {
    const char *after = kroScanASEPlainFloat(kroPassASESpace(p), stop, &values[i]);
    p = after && kroIsASESpace((unsigned char)*after) ? after + 1 : nullptr;
  }
  return p;
}

/* A word at p (after white space) that is `expected` (length bytes, a literal
 * that is no keyword of the walk and holds no white space, quote or brace),
 * and its separator: the position after that, or null. */
KRO_ASE_HOT const char *kroASEAfterWord(const char *p, const char *expected, int length,
                                        int *separator) {
  p = kroPassASESpace(p);
  if (memcmp(p, expected, (size_t)length) != 0 || !kroIsASESpace((unsigned char)p[length]))
    return nullptr;
  *separator = (unsigned char)p[length];
  return p + length + 1;
}

/* Takes the entry read up to p. Every number in it ended at white space, so
 * nothing is glued; a word read last sets the token fields (length and
 * separator; a word read after white space is not text only). No word read
 * changed the block depth or the quote state. */
KRO_ASE_HOT void kroTakeASEEntry(kroASEReader *in, const char *p, int word_length, int separator) {
  kroTakeASEUpTo(in, p);
  in->glued = 0;
  if (word_length) {
    in->text_only = 0;
    in->token_length = word_length;
    in->separator = separator;
  }
}

/* An index into table (count entries of `floats`), then that many floats,
 * stored at the index. */
KRO_ASE_HOT int kroReadASEListEntryAtOnce(kroASEReader *in, float *table, int count, int floats) {
  const char *stop = in->buffer + in->end;
  int index;
  float values[3];
  const char *p = kroASEAfterIndex(in->buffer + in->next, stop, count, &index);
  if (!p || !(p = kroASEAfterFloats(p, stop, values, floats)))
    return 0;
  memcpy(&table[(size_t)floats * (size_t)index], values, (size_t)floats * sizeof(float));
  kroTakeASEEntry(in, p, 0, 0);
  return 1;
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
    if (!(p = kroASEAfterWord(p, labels[k], 2, &separator)) ||
        !(p = kroASEAfterIndex(p, stop, walk->vertex_count, &corner)))
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
  const char *p = kroASEAfterIndex(in->buffer + in->next, stop, walk->face_count, &triangle);
  for (int k = 0; k < 3 && p; k++) {
    if (!(p = kroASEAfterIndex(p, stop, walk->tvertex_count, &corner)))
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
  const char *p = kroASEAfterIndex(in->buffer + in->next, stop, walk->face_count, &triangle);
  if (!p || !(p = kroASEAfterFloats(p, stop, walk->values, 3)))
    return 0;
  for (int k = 0; k < 3; k++)
    if (!(p = kroASEAfterWord(p, keyword, length, &separator)) ||
        !(p = kroASEAfterInt(p, stop, &unused)) ||
        !(p = kroASEAfterFloats(p, stop, &walk->values[3 + 3 * k], 3)))
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
      !kroReadASEWord(&walk->in))
    return 0;
  for (int k = 0; k < 3; k++) {
    if (!kroReadASEWord(&walk->in) ||
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
    if (!kroReadASEWord(&walk->in) || !kroReadASEInt(&walk->in, &unused) ||
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
static int kroTrackASEToken(kroASEMeshWalk *walk) {
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
        !kroTakeASETable(walk, &walk->vertices, walk->vertex_count, 3))
      return KRO_ASE_FAILED;
    return KRO_ASE_NO_ENTRY;
  }
  if (KRO_ASE_IS(in, "*MESH_NUMTVERTEX")) {
    /* Each further mapping channel repeats this count: its list replaces the table. */
    int count;
    if (!kroReadASECount(in, in->token, &count) ||
        !kroTakeASETable(walk, &walk->tvertices, count, 2))
      return KRO_ASE_FAILED;
    walk->tvertex_count = count;
    return KRO_ASE_NO_ENTRY;
  }
  if (KRO_ASE_IS(in, "*MATERIAL_REF"))
    return kroReadASEInt(in, &walk->material_ref) ? KRO_ASE_NO_ENTRY : KRO_ASE_FAILED;
  return KRO_ASE_NO_ENTRY;
}

/* A byte that a plain word may begin with: none that can make a token a
 * keyword, a brace or a quote, and not the buffer's end. */
KRO_ASE_HOT int kroOpensASEPlainWord(int c) {
  return !(KRO_ASE_CLASS[c] & KRO_ASE_TOKEN_STOP) && c != '*' && c != '{' && c != '}';
}

/* The keywords of a face's line that no walk acts on: read as tokens, they
 * change nothing but the token fields, just as a plain word does. Returns the
 * keyword's length when one stands at p followed by white space, else 0. */
KRO_ASE_HOT int kroASEPassedKeywordLength(const char *p) {
  if (*p != '*')
    return 0;
  if (!memcmp(p, "*MESH_SMOOTHING", 15) && kroIsASESpace((unsigned char)p[15]))
    return 15;
  if (!memcmp(p, "*MESH_MTLID", 11) && kroIsASESpace((unsigned char)p[11]))
    return 11;
  return 0;
}

/* Takes, in bulk, the plain words that lie ahead in the buffer, each with the
 * white space byte after it, exactly as kroReadASEToken would take them one
 * by one. A plain word begins with a byte of kroOpensASEPlainWord, holds no
 * quote or 0 byte, is at most KRO_ASE_TOKEN_CHARS long and ends in the buffer
 * at white space: reading it as a token changes nothing but the token fields,
 * which the next token read sets anew. Call it only where such a token is
 * passed over without effect: not right after a glued value (its rest is
 * read as text), not between "*MESH_ANIMATION" and its "{" (any token there
 * ends the pass), and not after a brace read among values changed the depth
 * since the block states were last followed (the next token must follow
 * them). */
KRO_ASE_HOT void kroPassASEPlainWords(kroASEReader *in) {
  const char *word = kroPassASESpace(in->buffer + in->next);
  for (;;) {
    int length = kroASEPassedKeywordLength(word);
    if (length) {
      word = kroPassASESpace(word + length + 1);
      continue;
    }
    if (!kroOpensASEPlainWord((unsigned char)*word))
      break;
    const char *p = word + 1;
    while (!(KRO_ASE_CLASS[(unsigned char)*p] & KRO_ASE_TOKEN_STOP))
      p++;
    if (!(KRO_ASE_CLASS[(unsigned char)*p] & KRO_ASE_SPACE) || p - word > KRO_ASE_TOKEN_CHARS)
      break;
    word = kroPassASESpace(p + 1);
  }
  /* The white space before the word that ends the pass is taken too: the
   * token read that follows would take it first. */
  kroTakeASEUpTo(in, word);
}

/* Takes the list keyword in the token buffer (length bytes) once more when it
 * stands next, after the white space already taken, followed by white space:
 * as kroReadASEToken would take it, without scanning or copying it. */
KRO_ASE_HOT int kroTakeASERepeatedKeyword(kroASEReader *in, int length) {
  const char *p = in->buffer + in->next;
  if (!kroASEEqualBytes(p, in->token, length) || !kroIsASESpace((unsigned char)p[length]))
    return 0;
  in->text_only = 0;
  in->separator = (unsigned char)p[length];
  in->token_length = length;
  kroTakeASEUpTo(in, p + length + 1);
  return 1;
}

int kroNextASEMeshEntry(kroASEMeshWalk *walk) {
  for (;;) {
    int entry;
    if (!walk->in.glued && walk->pass_state != KRO_ASE_HEAD &&
        walk->in.depth == walk->tracked_depth) {
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
        kroPassASEPlainWords(&walk->in);
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
    if (kroTrackASEToken(walk) || walk->in.token[0] != '*' || walk->in.text_only)
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
  fclose(stream);
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
typedef struct kroASEScan {
  int objects, lights;
  long *offsets; /* byte offset of each "*GEOMOBJECT"; null unless asked for */
  int capacity;  /* entries offsets has room for */
} kroASEScan;

/* Keeps the offset of the "*GEOMOBJECT" just read, doubling the room as
 * needed; 0 (reported) when the stream cannot tell it or the room cannot grow. */
static int kroKeepASEOffset(kroASEScan *scan, kroASEReader *in, const char *function) {
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
static int kroScanASE(const char *path, const char *function, kroASEScan *scan, int offsets) {
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
  fclose(stream);
  if (entry == KRO_ASE_FAILED) {
    free(scan->offsets);
    memset(scan, 0, sizeof *scan);
    return 0;
  }
  return 1;
}

int kroObjectsInASE(const char *path) {
  kroASEScan scan;
  kroScanASE(path, "kroObjectsInASE", &scan, 0);
  return scan.objects;
}

int kroLightsInASE(const char *path) {
  kroASEScan scan;
  kroScanASE(path, "kroLightsInASE", &scan, 0);
  return scan.lights;
}

void kroObjectsAndLightsInASE(const char *path, int *objects, int *lights) {
  kroASEScan scan;
  kroScanASE(path, "kroObjectsAndLightsInASE", &scan, 0);
  *objects = scan.objects;
  *lights = scan.lights;
}

int kroObjectOffsetsInASE(const char *path, long **offsets) {
  kroASEScan scan;
  kroScanASE(path, "kroObjectOffsetsInASE", &scan, 1);
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
  kroASEScan scan;
  if (!kroScanASE(path, "kroLoadMeshArrayFromASE", &scan, 1) || scan.objects == 0)
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
    fclose(stream);
  free(scan.offsets);
  if (!all || !ok) {
    kroFreeMeshArray(&all, count);
    return 0;
  }
  *meshes = all;
  return count;
}
