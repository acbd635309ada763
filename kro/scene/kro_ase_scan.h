/*
 * The ASE scanner's fast paths, inline: byte classes, white space, words and
 * numbers read straight from the reader's buffer, and the pieces of whole
 * list entries. Included by kro_ase_scan.cpp (the scanner's stream side and
 * whole rules) and kro_ase.cpp (the walk), whose loops these functions are
 * forced into: the library is built without link-time optimisation, so they
 * must be seen where they are called. Internal: not part of the engine's API.
 *
 * It may assume what kroASEReader keeps true: buffer[end] and the
 * KRO_ASE_PAD bytes after it are 0, so a scan over the bytes not taken stops
 * at the end without a length check and may read up to 16 bytes ahead of any
 * position inside the buffer; a fast path that cannot decide within the
 * buffer gives up (null or 0) and leaves the reader untouched, and the whole
 * rule (the ...Slowly readers in kro_ase_scan.cpp) reads the same text again
 * from where it began, so both take exactly the same bytes.
 *
 * One verb per meaning, here and in the scanner and the walk:
 *   Read   reader level: takes what it reads (refilling the buffer), stores
 *          the value, reports a refusal; ...Fast is the common case inline,
 *          ...Slowly the whole rule out of line.
 *   Scan   buffer level: looks at the bytes from a position and changes
 *          nothing; returns the position after what it recognised, null (or
 *          0) when the fast rule cannot decide.
 *   Pass   buffer level: the position after bytes without a value (white space).
 *   Take   moves the reader's position, and the token state that goes with
 *          it, over bytes already looked at.
 *   Note   records the state a token read leaves (block depth, quotes, text).
 */
#ifndef KRO_ASE_SCAN_H
#define KRO_ASE_SCAN_H

#include "kro_ase_reader.h"

#include <float.h>
#include <stdint.h>
#include <string.h>

/* Hot paths are forced inline into the walk; the rare ones stay out of its way. */
#define KRO_ASE_HOT static inline __attribute__((always_inline))
#define KRO_ASE_RARE __attribute__((noinline))

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

/* The whole rules, out of line in kro_ase_scan.cpp: the next bytes into the
 * buffer once every byte is taken (an empty span at the end), and the word
 * and number readers the fast ones fall back on. */
KRO_ASE_RARE kroASESpan kroRefillASE(kroASEReader *in);
KRO_ASE_RARE int kroReadASEWordSlowly(kroASEReader *in, char *word);
KRO_ASE_RARE int kroReadASEIntSlowly(kroASEReader *in, int *value);
KRO_ASE_RARE int kroReadASEFloatSlowly(kroASEReader *in, float *value);

/* The next byte, not taken; EOF at the end of the stream. */
KRO_ASE_HOT int kroPeekASE(kroASEReader *in, kroASESpan *span) {
  if (span->p == span->stop) {
    *span = kroRefillASE(in);
    if (span->p == span->stop)
      return EOF;
  }
  return (unsigned char)*span->p;
}

/* A token of length characters stored in word and ended by the separator c
 * (taken, or EOF): whether it is text only, the block depth and the quote
 * state follow it. */
KRO_ASE_HOT int kroNoteASEToken(kroASEReader *in, char *word, int length, int c, int quotes) {
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

/* The same for the common word: in the buffer, ended by white space, without
 * quotes or 0 bytes and not too long; anything else is read again from
 * its start by the whole rule. */
KRO_ASE_HOT int kroReadASEWordFast(kroASEReader *in, char *word) {
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
  return kroNoteASEToken(in, word, length, c, 0);
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
KRO_ASE_HOT const char *kroScanASENumberEnd(kroASEReader *in, const char *p) {
  in->glued = !kroIsASESpace((unsigned char)*p);
  return p + !in->glued;
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

KRO_ASE_HOT int kroReadASEIntFast(kroASEReader *in, int *value) {
  const char *p = kroPassASESpace(in->buffer + in->next);
  kroTakeASEUpTo(in, p);
  const char *after = kroScanASEPlainInt(p, in->buffer + in->end, value);
  if (!after)
    return kroReadASEIntSlowly(in, value);
  kroTakeASEUpTo(in, kroScanASENumberEnd(in, after));
  return 1;
}

/* The float nearest to mantissa / 10^fraction_digits when one correctly
 * rounded double division gives it: up to 15 significant digits (below 2^53)
 * and 22 decimals (10^22 is the largest exact power), and a double that does
 * not lie halfway between two floats. Returns 0 otherwise. */
KRO_ASE_HOT int kroConvertASEDecimal(uint64_t mantissa, int digits, int fraction_digits,
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
  /* Read as a little-endian word, the first digit is the lowest byte. A
   * byte is a digit when its high nibble is 3 (0x30..0x3F) and stays 3 once 6
   * is added (0x3A..0x3F become 0x40..0x45); with every high nibble 3 no
   * addition carries into the next byte, so all four are checked at once. */
  uint32_t chunk;
  memcpy(&chunk, *p, sizeof chunk);
  const uint32_t high = chunk & UINT32_C(0xF0F0F0F0);
  const uint32_t above_nine = (chunk + UINT32_C(0x06060606)) & UINT32_C(0xF0F0F0F0);
  if (high != UINT32_C(0x30303030) || above_nine != UINT32_C(0x30303030))
    return 0;
  /* The digit values a, b, c, d in bytes 0..3. Times 10 plus the word moved
   * down one byte puts 10a + b in byte 0 and 10c + d in byte 2 (each below
   * 100: nothing carries out; bytes 1 and 3 hold sums of no use, masked off);
   * the same step with 100 and two bytes gives 100 (10a + b) + 10c + d in the
   * low 16 bits. */
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
  /* The text in one little-endian word: byte i is p[i]. `dot` selects byte
   * `whole`; `digits` holds 0x01 in each digit byte (0..whole - 1 and the
   * four after the dot), so digits * c repeats c in exactly those bytes. */
  const uint64_t dot = UINT64_C(0xFF) << (8 * whole);
  const uint64_t digits =
      ((UINT64_C(1) << (8 * (whole + 5))) - 1) & ~dot & UINT64_C(0x0101010101010101);
  /* XOR with the expected text ('0' in digit bytes, '.' at the dot) turns a
   * digit into its value and the dot into 0. Then every digit byte must have
   * no high-nibble bit (digits * 0xF0: value below 16) and must stay so when
   * 6 is added (value below 10; below 16 nothing carries into the next
   * byte), the dot byte must be 0, and the byte after the last decimal must
   * be white space. The word's bytes past the text are not looked at. */
  const uint64_t values = word ^ ((digits * '0') | (dot & (UINT64_C(0x0101010101010101) * '.')));
  if ((values & ((digits * 0xF0) | dot)) != 0 || ((values + digits * 6) & (digits * 0xF0)) != 0 ||
      !(KRO_ASE_CLASS[(unsigned char)p[whole + 5]] & KRO_ASE_SPACE))
    return nullptr;
  /* The four decimals, first lowest, combined as in kroScanASEFourDigits. */
  uint32_t fraction = (uint32_t)(values >> (8 * (whole + 1)));
  fraction = (fraction * 10 + (fraction >> 8)) & UINT32_C(0x00FF00FF);
  fraction = (fraction * 100 + (fraction >> 16)) & UINT32_C(0xFFFF);
  uint32_t units = (uint32_t)(values & 0xF);
  if (whole == 2)
    units = units * 10 + (uint32_t)((values >> 8) & 0xF);
  /* Rounds as strtof does: k = 4 of the rounding note of kroScanASEPlainFloat. */
  const float number = (float)((double)(units * 10000 + fraction) * 1e-4);
  *value = negative ? -number : number;
  return p + whole + 5;
#else
  (void)p;
  (void)whole;
  (void)value;
  return nullptr;
#endif
}

/* [-]d.dddddd, the six decimals of modelling tools' OBJ files, followed by
 * white space: the text but its sign is one little-endian word, checked and
 * read as in kroScanASEFourDecimals. Its value and the position of the white
 * space (9 bytes past the sign are read); null for any other text. */
KRO_ASE_HOT const char *kroScanASESixDecimals(const char *p, float *value) {
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  const int negative = *p == '-';
  p += negative;
  uint64_t word;
  memcpy(&word, p, sizeof word);
  const uint64_t dot = UINT64_C(0xFF) << 8; /* byte 1; bytes 0 and 2..7 are digits */
  const uint64_t digits = UINT64_C(0x0101010101010001);
  const uint64_t values = word ^ ((digits * '0') | (dot & (UINT64_C(0x0101010101010101) * '.')));
  if ((values & ((digits * 0xF0) | dot)) != 0 || ((values + digits * 6) & (digits * 0xF0)) != 0 ||
      !(KRO_ASE_CLASS[(unsigned char)p[8]] & KRO_ASE_SPACE))
    return nullptr;
  /* The decimals as the last six of eight digits, the first two bytes (the
   * unit and the dot) zero: pairs, then fours, then all eight combined. */
  uint64_t fraction = values & UINT64_C(0xFFFFFFFFFFFF0000);
  fraction = (fraction * 10 + (fraction >> 8)) & UINT64_C(0x00FF00FF00FF00FF);
  fraction = (fraction * 100 + (fraction >> 16)) & UINT64_C(0x0000FFFF0000FFFF);
  fraction = (fraction * 10000 + (fraction >> 32)) & UINT64_C(0xFFFFFFFF);
  /* Rounds as strtof does: k = 6 of the rounding note of kroScanASEPlainFloat. */
  const float number = (float)((double)((values & 0xF) * 1000000 + fraction) * 1e-6);
  *value = negative ? -number : number;
  return p + 8;
#else
  (void)p;
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
  if (after || (after = kroScanASEFourDecimals(p, 2, value)) ||
      (after = kroScanASESixDecimals(p, value)))
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
  else if (!kroConvertASEDecimal(mantissa, digits, fraction_digits, &number))
    return nullptr;
  *value = negative ? -number : number;
  return p;
}

KRO_ASE_HOT int kroReadASEFloatFast(kroASEReader *in, float *value) {
  const char *p = kroPassASESpace(in->buffer + in->next);
  kroTakeASEUpTo(in, p);
  const char *after = kroScanASEPlainFloat(p, in->buffer + in->end, value);
  if (!after)
    return kroReadASEFloatSlowly(in, value);
  kroTakeASEUpTo(in, kroScanASENumberEnd(in, after));
  return 1;
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
KRO_ASE_HOT const char *kroScanASEIntField(const char *p, const char *stop, int *value) {
  const char *after = kroScanASEPlainInt(kroPassASESpace(p), stop, value);
  return after && kroIsASESpace((unsigned char)*after) ? after + 1 : nullptr;
}

/* The same for an index, which must lie in 0..count-1 (count -1: not given,
 * so none does). */
KRO_ASE_HOT const char *kroScanASEIndexField(const char *p, const char *stop, int count,
                                             int *index) {
  p = kroScanASEIntField(p, stop, index);
  return p && *index >= 0 && *index < count ? p : nullptr;
}

KRO_ASE_HOT const char *kroScanASEFloatFields(const char *p, const char *stop, float *values,
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
KRO_ASE_HOT const char *kroScanASEWordField(const char *p, const char *expected, int length,
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
  const char *p = kroScanASEIndexField(in->buffer + in->next, stop, count, &index);
  if (!p || !(p = kroScanASEFloatFields(p, stop, values, floats)))
    return 0;
  memcpy(&table[(size_t)floats * (size_t)index], values, (size_t)floats * sizeof(float));
  kroTakeASEEntry(in, p, 0, 0);
  return 1;
}

/* A byte that a plain word may begin with: none that can make a token a
 * keyword, a brace or a quote, and not the buffer's end. */
KRO_ASE_HOT int kroOpensASEPlainWord(int c) {
  return !(KRO_ASE_CLASS[c] & KRO_ASE_TOKEN_STOP) && c != '*' && c != '{' && c != '}';
}

/* The keywords of a face's line that no walk acts on: read as tokens, they
 * change nothing but the token fields, just as a plain word does. Returns the
 * keyword's length when one stands at p followed by white space, else 0. */
KRO_ASE_HOT int kroScanASEPassedKeyword(const char *p) {
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
 * which the next token read sets anew. The caller decides that such a token
 * would be passed over without effect (the walk's kroMayTakeASEPlainWords). */
KRO_ASE_HOT void kroTakeASEPlainWords(kroASEReader *in) {
  const char *word = kroPassASESpace(in->buffer + in->next);
  for (;;) {
    int length = kroScanASEPassedKeyword(word);
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

#endif /* KRO_ASE_SCAN_H */
