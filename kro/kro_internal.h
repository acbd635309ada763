/*
 * Internal helpers shared by the engine's modules; not part of the API.
 *
 * Every engine allocation goes through kroAllocate so that tests can make the
 * n-th one fail, and every failure is reported through kroFail.
 */
#ifndef KRO_INTERNAL_H
#define KRO_INTERNAL_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

/* malloc that never answers a zero-byte request with null, and that fails on
 * demand (see kroFailAllocationAfter). Release with free. */
void *kroAllocate(size_t bytes);

/* The same, the bytes set to 0 (fresh pages from the system are not cleared
 * twice). */
void *kroAllocateZeroed(size_t bytes);

/* Test hook: the n-th allocation from now (1 = the next) fails, and only that
 * one; 0 disables. Returns how many allocations were made since the last call. */
long kroFailAllocationAfter(long n);

/* Bytes of a seekable stream from its start to its end, its position left
 * where it was; -1 when the stream cannot seek (a pipe, a terminal). A size
 * read this way bounds what a reader may allocate; the read itself still
 * checks every byte it gets. */
long kroStreamBytes(FILE *stream);

/* Prints the formatted message to standard output as it stands (callers add
 * any line end), flushes, then calls the error hook if one is set. */
void kroFail(const char *format, ...) __attribute__((format(printf, 1, 2)));

/* How many failures kroFail has reported so far, and the last one's message without its line
 * end (cut to KRO_FAILURE_CHARS - 1 characters; "" before the first). */
enum { KRO_FAILURE_CHARS = 240 };
long kroFailureCount(void);
const char *kroLastFailure(void);

/* kroCheckPNG over `count` bytes in memory: the same rules and reasons. */
int kroCheckPNGMemory(const uint8_t *bytes, size_t count, char *why, int why_chars);

/* Where a picture decoder puts its refusal reason and its description. */
struct kroPictureInfo;
typedef struct kroPictureResult {
  char *why; /* the reason, cut to why_chars - 1 characters; may be null */
  int why_chars;
  struct kroPictureInfo *info; /* may be null */
} kroPictureResult;

/* Writes the reason into result->why; returns -1. */
int kroPictureRefuse(kroPictureResult *result, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
/* Writes the format description into result->info, when there is one. */
void kroPictureDescribe(kroPictureResult *result, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
/* A BMP file in memory (it starts with "BM") into a new bitmap; null after
 * kroPictureRefuse. size is set only on success. */
uint8_t *kroDecodeBMPMemory(const uint8_t *bytes, size_t count, int32_t *size,
                            kroPictureResult *result);

#endif /* KRO_INTERNAL_H */
