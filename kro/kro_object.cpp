/*
 * Growable triangle arrays: one heap block of row pointers, one heap row of
 * floats per triangle. Growth replaces only the pointer block, so rows never
 * move. Depends on: kro_error.cpp (allocation, failure reporting).
 */
#include "kro.h"
#include "kro_internal.h"

#include <stdlib.h>
#include <string.h>

/* Grows *object from `count` rows to count + added rows of `row_floats` each.
 * On any failed allocation the message is reported and everything new is
 * released: the handle and its count stay as they were. */
static void kroGrowRows(kroObject *object, int count, int added, int row_floats,
                        const char *message) {
  if (count < 0 || added < 0 || count > __INT_MAX__ - added) {
    kroFail("%s\n", message);
    return;
  }
  int total = count + added;
  kroObject rows = (kroObject)kroAllocate((size_t)total * sizeof(float *));
  if (!rows) {
    kroFail("%s\n", message);
    return;
  }
  if (count > 0)
    memcpy(rows, *object, (size_t)count * sizeof(float *));
  for (int i = count; i < total; i++) {
    rows[i] = (float *)kroAllocate((size_t)row_floats * sizeof(float));
    if (!rows[i]) {
      kroFail("%s\n", message);
      for (int j = count; j < i; j++)
        free(rows[j]);
      free(rows);
      return;
    }
  }
  if (*object != rows)
    free(*object);
  *object = rows;
}

void kroIncreaseObject(kroObject *object, int count, int added) {
  kroGrowRows(object, count, added, KRO_POSITION_FLOATS,
              "Error during allocating memory in kroIncreaseObject(..)");
}

void kroIncreaseTexCoords(kroObject *object, int count, int added) {
  kroGrowRows(object, count, added, KRO_TEXCOORD_FLOATS,
              "Error during allocating memory in kroIncreaseTexCoords(..)");
}

void kroIncreaseCoords(kroObject *object, int count, int added) {
  kroGrowRows(object, count, added, KRO_REALNORMAL_FLOATS,
              "Error during allocating memory in kroIncreaseCoords(..)");
}

/* A new array holding copies of `count` rows of `row_floats`; null (after the
 * report) when any allocation fails, with nothing left allocated. */
static kroObject kroCopyRows(kroObject object, uint32_t count, int row_floats,
                             const char *message) {
  kroObject rows = (kroObject)kroAllocate((size_t)count * sizeof(float *));
  if (!rows) {
    kroFail("%s\n", message);
    return nullptr;
  }
  for (uint32_t i = 0; i < count; i++) {
    rows[i] = (float *)kroAllocate((size_t)row_floats * sizeof(float));
    if (!rows[i]) {
      kroFail("%s\n", message);
      for (uint32_t j = 0; j < i; j++)
        free(rows[j]);
      free(rows);
      return nullptr;
    }
    memcpy(rows[i], object[i], (size_t)row_floats * sizeof(float));
  }
  return rows;
}

kroObject kroCopyObject(kroObject object, uint32_t count) {
  return kroCopyRows(object, count, KRO_POSITION_FLOATS,
                     "Error during allocating memory in kroCopyObject(..)");
}

kroObject kroCopyTexCoords(kroObject object, uint32_t count) {
  return kroCopyRows(object, count, KRO_TEXCOORD_FLOATS,
                     "Error during allocating memory in kroCopyTexCoords(..)");
}

kroObject kroCopyRealNormals(kroObject object, uint32_t count) {
  return kroCopyRows(object, count, KRO_REALNORMAL_FLOATS,
                     "Error during allocating memory in kroCopyRealNormals(..)");
}

void kroDestroyObject(kroObject *object, int count) {
  if (*object) {
    for (int i = 0; i < count; i++)
      free((*object)[i]);
    free(*object);
  }
  *object = nullptr;
}
