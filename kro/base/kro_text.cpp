/*
 * Line-based text files (sync tracks, songs): the whole file read into memory as text, and a
 * reader that takes words and numbers from one line at a time and says where it refused.
 * Words are separated by blanks (space, tab, carriage return); `#` starts a comment to the
 * line's end. Depends on: kro_error.cpp (allocation).
 */
#include "kro.h"
#include "kro_internal.h"

#include <errno.h>
#include <math.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

int kroTextRefuse(kroTextLines *text, const char *format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(text->why, sizeof text->why, format, args);
  va_end(args);
  return -1;
}

static int kroTextIsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

int kroTextWord(kroTextLines *text, char *word, int chars) {
  while (kroTextIsBlank(*text->p))
    text->p++;
  int length = 0;
  if (*text->p == '#')
    while (*text->p && *text->p != '\n')
      text->p++;
  while (*text->p && *text->p != '\n' && !kroTextIsBlank(*text->p)) {
    if (length == chars)
      return kroTextRefuse(text, "a word too long");
    word[length++] = *text->p++;
  }
  word[length] = '\0';
  return length;
}

int kroTextEndLine(kroTextLines *text) {
  char extra[2];
  if (kroTextWord(text, extra, 1) != 0)
    return kroTextRefuse(text, "more than the line's fields");
  if (*text->p == '\n') {
    text->p++;
    text->line++;
  }
  return 0;
}

int kroTextNumber(kroTextLines *text, double *value, const char *what) {
  char word[64], *end;
  int length = kroTextWord(text, word, sizeof word - 1);
  if (length < 0)
    return -1;
  *value = length ? strtod(word, &end) : 0.0;
  if (length == 0 || *end || !isfinite(*value) || fabs(*value) > 3.4e38)
    return kroTextRefuse(text, "%s missing or not a finite number", what);
  return 0;
}

int kroTextNameIsSound(const char *name) {
  for (const char *c = name; *c; c++)
    if (!((*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9') ||
          strchr("._:-", *c)))
      return 0;
  return *name != '\0';
}

char *kroReadTextFile(const char *path, long max_bytes, char *why, int why_chars) {
  FILE *stream = fopen(path, "rb");
  if (!stream) {
    snprintf(why, (size_t)why_chars, "%s", strerror(errno));
    return nullptr;
  }
  long bytes = kroStreamBytes(stream);
  char *text = nullptr;
  if (bytes < 0)
    snprintf(why, (size_t)why_chars, "not a file that can be measured");
  else if (bytes > max_bytes)
    snprintf(why, (size_t)why_chars, "larger than %ld bytes", max_bytes);
  else if (!(text = (char *)kroAllocate((size_t)bytes + 1)))
    snprintf(why, (size_t)why_chars, "no memory for its text");
  else {
    size_t got = fread(text, 1, (size_t)bytes, stream);
    const char *fault = got != (size_t)bytes      ? (ferror(stream) ? strerror(errno) : "cut short")
                        : memchr(text, '\0', got) ? "a zero byte: not a text file"
                                                  : nullptr;
    if (fault) {
      snprintf(why, (size_t)why_chars, "%s", fault);
      free(text);
      text = nullptr;
    } else {
      text[bytes] = '\0';
    }
  }
  fclose(stream);
  return text;
}

void kroPrintShortFloat(FILE *out, float value) {
  char text[48];
  if (value == (float)(long)value && value > -1e7f && value < 1e7f) { /* whole: no exponent */
    fprintf(out, "%s%ld", value == 0 && signbit(value) ? "-" : "", (long)value);
    return;
  }
  for (int digits = 1; digits <= 9; digits++) {
    snprintf(text, sizeof text, "%.*g", digits, (double)value);
    if ((float)strtod(text, nullptr) == value)
      break;
  }
  fputs(text, out);
}
