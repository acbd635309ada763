/*
 * The ASE scanner: the reader's stream side (blocks of a seekable stream, a
 * pipe a character at a time with the bytes it read ahead held for its next
 * reader, UTF-16 files read as UTF-8, line numbers for messages) and the
 * whole rules for words, numbers and quoted texts, with the refusals they
 * report. The fast paths it shares with the walk are in kro_ase_scan.h.
 * It may assume only that its caller keeps a stream open between
 * kroBeginASEReader and kroEndASEReader and reads it through the reader only;
 * every byte of the stream is hostile.
 * Depends on: kro_error.cpp (reporting, stream size).
 */
#include "kro.h"
#include "kro_ase_scan.h"
#include "kro_internal.h"

#include <float.h>
#include <math.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio_ext.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

enum {
  KRO_ASE_NUMBER_CHARS = 127, /* longest number text taken by the value scanners */
  KRO_ASE_MESSAGE_SIZE = 512  /* one formatted failure message */
};

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
 * and a stream found at a held address whose file differs gets nothing.
 * None of that tells a FIFO opened again at the same address from the stream
 * it replaced, so held bytes live only as long as their stream: none are
 * held once a reader reached its end, kroForgetASEStream drops them before
 * the stream is closed, and a stream that has never buffered a byte (freshly
 * opened) is served none. */
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
    if (__fbufsize(in->stream) > 0 && kroASEStreamFile(in->stream, &descriptor, &file) &&
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

void kroForgetASEStream(FILE *stream) {
  for (kroASEHeld &slot : kroASEHeldStreams)
    if (slot.stream == stream)
      slot.stream = nullptr;
}

int kroCloseASEStream(FILE *stream) {
  kroForgetASEStream(stream);
  return fclose(stream);
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

/* ---- the reader over its stream ---- */

/* With every byte taken: the stream's next bytes into the buffer, a block at
 * a time, or one byte when the stream cannot seek (what a pipe gave cannot
 * go back into it: the fewer bytes read ahead, the fewer held for its next
 * reader). An empty span at the stream's end. */
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

/* Takes white space; returns the byte after it, not taken, or EOF. */
static int kroTakeASESpace(kroASEReader *in) {
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

/* ---- words, numbers and quoted texts by the whole rules ---- */

void kroReadStringToChar(FILE *stream, char *buffer, char stop) {
  int c;
  while ((c = getc(stream)) != EOF && c != (unsigned char)stop)
    *buffer++ = (char)c;
  *buffer = 0;
}

/* Reads one "%s" word into `word` (KRO_ASE_TOKEN_CHARS + 1 bytes) and takes
 * the separator after it: the whole rule, for words with quotes or control
 * bytes, words across the buffer's end and words too long. */
KRO_ASE_RARE int kroReadASEWordSlowly(kroASEReader *in, char *word) {
  int c = kroTakeASESpace(in);
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
  return kroNoteASEToken(in, word, length, c, quotes);
}

int kroReadASEToken(kroASEReader *in) {
  return kroReadASEWordFast(in, in->token);
}

int kroReadASEFirstWord(FILE *stream, char *word, int chars) {
  kroASEReader in;
  kroBeginASEReader(&in, stream, "", "");
  int c = kroTakeASESpace(&in), length = 0;
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

/* "%d" by the whole rule: digits across the buffer's end, any count of them,
 * and the refusals. */
KRO_ASE_RARE int kroReadASEIntSlowly(kroASEReader *in, int *value) {
  int c = kroTakeASESpace(in);
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

int kroReadASEInt(kroASEReader *in, int *value) {
  return kroReadASEIntFast(in, value);
}

/* Takes the longest prefix of a decimal number ([sign] digits [. digits]
 * [e [sign] digits]) and converts it as strtof would. Returns 0 when no number
 * stands there. */
static int kroReadASEDecimal(kroASEReader *in, float *value, int *at_end) {
  /* Two more than the longest number: an exponent mark and its sign may follow it. */
  char text[KRO_ASE_NUMBER_CHARS + 3];
  int length = 0, digits = 0, fraction_digits = 0;
  uint64_t mantissa = 0;
  int c = kroTakeASESpace(in);
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
  if (!exponent_seen && kroConvertASEDecimal(mantissa, digits, fraction_digits, value)) {
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
  if (!kroReadASEDecimal(in, &number, &at_end)) {
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

int kroReadASEFloat(kroASEReader *in, float *value) {
  return kroReadASEFloatFast(in, value);
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
