/*
 * Error hook, failure reporting, allocation, stream sizes, and the bit and
 * byte utilities.
 * Depends on: the C library only.
 */
#include "kro.h"
#include "kro_internal.h"

#include <math.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/mman.h>

kroErrorFuncType kroErrorFunc = nullptr;
static kroErrorMessageFuncType kroErrorMessageFunc = nullptr;
static void *kroErrorMessageUser = nullptr;
uint32_t KRO_TRUE_MASK[32];
uint32_t KRO_FALSE_MASK[32];

static long kroAllocationsMade = 0;
static long kroAllocationToFail = 0; /* 0: none */

/* Counts the allocation; whether it is the one the tests make fail. */
static int kroAllocationFails(void) {
  kroAllocationsMade++;
  if (kroAllocationToFail > 0 && kroAllocationsMade == kroAllocationToFail) {
    kroAllocationToFail = 0;
    return 1;
  }
  return 0;
}

/* A block of many megabytes (the rows of a big mesh, a picture, a file read whole) is filled
 * right after it is made: huge pages, where the system hands them out on request, take one
 * page fault where 4 KiB pages take 512. */
static void *kroAdviseLarge(void *block, size_t bytes) {
#ifdef MADV_HUGEPAGE
  const uintptr_t huge = (uintptr_t)2 << 20;
  if (block && bytes >= 2 * huge) {
    uintptr_t start = ((uintptr_t)block + huge - 1) & ~(huge - 1);
    uintptr_t end = ((uintptr_t)block + bytes) & ~(huge - 1);
    if (end > start)
      madvise((void *)start, end - start, MADV_HUGEPAGE);
  }
#endif
  return block;
}

void *kroAllocate(size_t bytes) {
  return kroAllocationFails() ? nullptr : kroAdviseLarge(malloc(bytes ? bytes : 1), bytes);
}

void *kroAllocateZeroed(size_t bytes) {
  return kroAllocationFails() ? nullptr : kroAdviseLarge(calloc(1, bytes ? bytes : 1), bytes);
}

void *kroReallocate(void *block, size_t bytes) {
  return kroAllocationFails() ? nullptr : kroAdviseLarge(realloc(block, bytes ? bytes : 1), bytes);
}

long kroFailAllocationAfter(long n) {
  long made = kroAllocationsMade;
  kroAllocationsMade = 0;
  kroAllocationToFail = n > 0 ? n : 0;
  return made;
}

long kroStreamBytes(FILE *stream) {
  struct stat status; /* a folder opens too, and seeks to a size of its own */
  if (fstat(fileno(stream), &status) == 0 && !S_ISREG(status.st_mode))
    return -1;
  long position = ftell(stream);
  if (position < 0 || fseek(stream, 0, SEEK_END) != 0)
    return -1;
  long bytes = ftell(stream);
  if (fseek(stream, position, SEEK_SET) != 0)
    return -1;
  return bytes;
}

static long kroFailures = 0;                       /* kroFail calls so far */
static char kroLastFailureText[KRO_FAILURE_CHARS]; /* the last one's message, cut */

long kroFailureCount(void) {
  return kroFailures;
}

const char *kroLastFailure(void) {
  return kroLastFailureText;
}

/* Short messages are formatted on the stack; a longer one (a long path) gets a
 * heap buffer, and if even that fails it is printed straight from the format. */
void kroFail(const char *format, ...) {
  char local[512];
  va_list args;
  va_start(args, format);
  int length = vsnprintf(local, sizeof local, format, args);
  va_end(args);
  char *text = local;
  if (length >= (int)sizeof local) {
    text = (char *)malloc((size_t)length + 1);
    if (text) {
      va_start(args, format);
      vsnprintf(text, (size_t)length + 1, format, args);
      va_end(args);
    }
  }
  if (length < 0 || !text) {
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    fflush(stdout);
  } else {
    fputs(text, stdout);
    fflush(stdout);
    /* The hook and the kept last message see it without its line end. */
    size_t end = strlen(text);
    while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\r'))
      text[--end] = '\0';
    size_t kept = end < sizeof kroLastFailureText ? end : sizeof kroLastFailureText - 1;
    memcpy(kroLastFailureText, text, kept);
    kroLastFailureText[kept] = '\0';
    if (kroErrorMessageFunc)
      kroErrorMessageFunc(text, kroErrorMessageUser);
  }
  kroFailures++;
  if (text != local)
    free(text);
  if (kroErrorFunc)
    kroErrorFunc();
}

void kroSetErrorMessageFunc(kroErrorMessageFuncType func, void *user) {
  kroErrorMessageFunc = func;
  kroErrorMessageUser = func ? user : nullptr;
}

void kroSetErrorFunc(kroErrorFuncType func) {
  kroErrorFunc = func;
}

void kroSetBitMasks(void) {
  for (int i = 0; i < 32; i++) {
    /* 2^31 does not fit a signed int: convert through a 64-bit integer. */
    KRO_TRUE_MASK[i] = (uint32_t)(int64_t)pow(2.0, i);
    KRO_FALSE_MASK[i] = ~KRO_TRUE_MASK[i];
  }
}

uint8_t kroGetBit(uint32_t value, int8_t bit) {
  return (value | KRO_TRUE_MASK[bit]) == value ? 1 : 0;
}

uint32_t kroSetBitTrue(uint32_t value, int8_t bit) {
  return value | KRO_TRUE_MASK[bit];
}
uint32_t kroSetBitFalse(uint32_t value, int8_t bit) {
  return value & KRO_FALSE_MASK[bit];
}

uint8_t kroGet0thByte(uint32_t value) {
  return (uint8_t)(value & 0xFF);
}
uint8_t kroGet1stByte(uint32_t value) {
  return (uint8_t)((value >> 8) & 0xFF);
}
uint8_t kroGet2ndByte(uint32_t value) {
  return (uint8_t)((value >> 16) & 0xFF);
}
uint8_t kroGet3rdByte(uint32_t value) {
  return (uint8_t)((value >> 24) & 0xFF);
}

char *kroStringAfterLastDot(char *text) {
  char *last_dot = nullptr;
  for (char *c = text; *c; c++)
    if (*c == '.')
      last_dot = c;
  return last_dot;
}
