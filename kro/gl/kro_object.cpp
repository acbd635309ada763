/*
 * Growable triangle arrays: a block of row pointers behind a small header,
 * and the rows themselves in blocks of many rows each, one block per growth
 * or copy, which the header owns. Growth replaces only the pointer block and
 * adds a block for the new rows, so rows never move. Also the normals of a
 * mesh computed from its positions, and the bounds of one or several arrays.
 * Depends on: kro_error.cpp (allocation, failure reporting).
 */
#include "kro.h"
#include "kro_internal.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

/* A block of rows: this link, then the floats of every row the block holds. */
typedef struct kroRowBlock {
  struct kroRowBlock *next;
  size_t rows; /* used by kroRowMaker; also keeps the floats 16-byte aligned */
} kroRowBlock;

/* Stands just before an array's row pointers: the blocks its rows live in. */
typedef struct kroRowHeader {
  kroRowBlock *blocks;
  void *unused;
} kroRowHeader;

static kroRowHeader *kroRowsHeader(kroObject rows) {
  return (kroRowHeader *)rows - 1;
}

/* A pointer block for `total` rows whose last `added` rows point into one new
 * block of `row_floats` floats each; null (nothing left allocated) when either
 * allocation fails. */
static kroObject kroNewRows(int total, int added, int row_floats) {
  kroRowHeader *header =
      (kroRowHeader *)kroAllocate(sizeof(kroRowHeader) + (size_t)total * sizeof(float *));
  if (!header)
    return nullptr;
  kroRowBlock *block = (kroRowBlock *)kroAllocate(
      sizeof(kroRowBlock) + (size_t)added * (size_t)row_floats * sizeof(float));
  if (!block) {
    free(header);
    return nullptr;
  }
  block->next = nullptr;
  header->blocks = block;
  kroObject rows = (kroObject)(header + 1);
  float *floats = (float *)(block + 1);
  for (int i = total - added; i < total; i++, floats += row_floats)
    rows[i] = floats;
  return rows;
}

/* Grows *object from `count` rows to count + added rows of `row_floats` each.
 * On any failed allocation the message is reported and everything new is
 * released: the handle and its count stay as they were. */
static void kroGrowRows(kroObject *object, int count, int added, int row_floats,
                        const char *message) {
  if (count < 0 || added < 0 || count > __INT_MAX__ - added) {
    kroFail("%s\n", message);
    return;
  }
  kroObject rows = kroNewRows(count + added, added, row_floats);
  if (!rows) {
    kroFail("%s\n", message);
    return;
  }
  if (*object) {
    if (count > 0)
      memcpy(rows, *object, (size_t)count * sizeof(float *));
    kroRowHeader *old = kroRowsHeader(*object);
    kroRowsHeader(rows)->blocks->next = old->blocks;
    free(old);
  }
  *object = rows;
}

/* ---- rows made one at a time ---- */

/* The maker's blocks run first to last through their links; each holds up to `rows` rows,
 * the last one `room` rows fewer. A new block holds as many rows as were made before it (at
 * least 4,096): nothing is copied on the way, pages not yet written take no memory, and big
 * blocks get huge pages (kroAllocate); the last block is trimmed at the end. */
float *kroMakeRowBlock(kroRowMaker *maker) {
  size_t rows = maker->count > 4096 ? maker->count : 4096;
  kroRowBlock *block =
      (kroRowBlock *)kroAllocate(sizeof(kroRowBlock) + rows * maker->floats * sizeof(float));
  if (!block)
    return nullptr;
  block->next = nullptr;
  block->rows = rows;
  if (maker->last)
    ((kroRowBlock *)maker->last)->next = block;
  else
    maker->first = block;
  maker->last = block;
  maker->next = (float *)(block + 1);
  maker->room = rows;
  return kroNextRow(maker);
}

kroObject kroFinishRows(kroRowMaker *maker) {
  if (maker->count > __INT_MAX__)
    return nullptr;
  kroRowBlock *last = (kroRowBlock *)maker->last;
  if (last && maker->room) { /* the last block given back its unused rows; it may move */
    size_t rows = last->rows - maker->room;
    kroRowBlock *kept =
        (kroRowBlock *)realloc(last, sizeof(kroRowBlock) + rows * maker->floats * sizeof(float));
    if (kept) {
      kroRowBlock **link = (kroRowBlock **)&maker->first;
      while (*link != last)
        link = &(*link)->next;
      *link = kept;
      maker->last = kept;
      kept->rows = rows;
      maker->room = 0;
    }
  }
  kroRowHeader *header =
      (kroRowHeader *)kroAllocate(sizeof(kroRowHeader) + maker->count * sizeof(float *));
  if (!header)
    return nullptr;
  kroObject rows = (kroObject)(header + 1);
  size_t i = 0;
  for (kroRowBlock *block = (kroRowBlock *)maker->first; block; block = block->next) {
    size_t held = block->next ? block->rows : block->rows - maker->room;
    float *row = (float *)(block + 1);
    for (size_t k = 0; k < held; k++, row += maker->floats)
      rows[i++] = row;
  }
  header->blocks = (kroRowBlock *)maker->first;
  memset(maker, 0, sizeof *maker);
  return rows;
}

void kroDropRows(kroRowMaker *maker) {
  for (kroRowBlock *block = (kroRowBlock *)maker->first, *next; block; block = next) {
    next = block->next;
    free(block);
  }
  memset(maker, 0, sizeof *maker);
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
  kroObject rows = count <= __INT_MAX__ ? kroNewRows((int)count, (int)count, row_floats) : nullptr;
  if (!rows) {
    kroFail("%s\n", message);
    return nullptr;
  }
  for (uint32_t i = 0; i < count; i++)
    memcpy(rows[i], object[i], (size_t)row_floats * sizeof(float));
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

/* Every block the array's rows live in goes, whatever the count: an array
 * grown past the count its owner keeps leaves nothing behind. */
void kroDestroyObject(kroObject *object, int count) {
  (void)count;
  if (*object) {
    kroRowHeader *header = kroRowsHeader(*object);
    for (kroRowBlock *block = header->blocks, *next; block; block = next) {
      next = block->next;
      free(block);
    }
    free(header);
  }
  *object = nullptr;
}

/* ---- normals from positions ---- */

static void kroSubtract(const float *a, const float *b, double *difference) {
  for (int k = 0; k < 3; k++)
    difference[k] = (double)a[k] - (double)b[k];
}

static void kroCross(const double *a, const double *b, double *product) {
  product[0] = a[1] * b[2] - a[2] * b[1];
  product[1] = a[2] * b[0] - a[0] * b[2];
  product[2] = a[0] * b[1] - a[1] * b[0];
}

/* The unit normal of the triangle at p (9 floats), or zero when it has no
 * area or a coordinate that is not finite. Worked in double, so that neither
 * tiny nor huge float coordinates lose the direction. */
static void kroFaceNormal(const float *p, float *normal) {
  double a[3], b[3], n[3];
  kroSubtract(p + 3, p, a);
  kroSubtract(p + 6, p, b);
  kroCross(a, b, n);
  double length = sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
  for (int k = 0; k < 3; k++)
    normal[k] = length > 0.0 && isfinite(length) ? (float)(n[k] / length) : 0.0f;
}

/* The triangle's angle at corner k (0, 1, 2), radians, 0..pi. */
static double kroCornerAngle(const float *p, int k) {
  double a[3], b[3], n[3];
  kroSubtract(p + 3 * ((k + 1) % 3), p + 3 * k, a);
  kroSubtract(p + 3 * ((k + 2) % 3), p + 3 * k, b);
  kroCross(a, b, n);
  return atan2(sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]),
               a[0] * b[0] + a[1] * b[1] + a[2] * b[2]);
}

/* Each corner (3 x triangle + vertex) of a triangle with a face normal takes
 * the angle-weighted mean of the face normals of all such corners at its exact
 * position; the corners of degenerate triangles keep their flat normal, which
 * is zero. Returns 0 when the corner table cannot be had (nothing changed). */
static int kroSmoothNormals(kroObject op, kroObject nc, kroObject realn, uint32_t triangles) {
  size_t corners = 3 * (size_t)triangles, used = 0;
  size_t *order = (size_t *)kroAllocate(corners * sizeof(size_t));
  if (!order)
    return 0;
  for (size_t c = 0; c < corners; c++) {
    const float *face = realn[c / 3];
    if (face[0] != 0.0f || face[1] != 0.0f || face[2] != 0.0f) /* finite corners, some area */
      order[used++] = c;
  }
  auto at = [op](size_t c) { return &op[c / 3][3 * (c % 3)]; };
  /* Finite coordinates only: the order is strict and weak, and -0 meets +0. */
  std::sort(order, order + used, [&](size_t l, size_t r) {
    const float *a = at(l), *b = at(r);
    return a[0] != b[0] ? a[0] < b[0] : a[1] != b[1] ? a[1] < b[1] : a[2] < b[2];
  });
  for (size_t first = 0, end; first < used; first = end) {
    const float *place = at(order[first]);
    double sum[3] = {0.0, 0.0, 0.0};
    for (end = first; end < used; end++) {
      size_t c = order[end];
      const float *p = at(c);
      if (p[0] != place[0] || p[1] != place[1] || p[2] != place[2])
        break;
      const float *face = realn[c / 3];
      double weight = kroCornerAngle(op[c / 3], (int)(c % 3));
      for (int k = 0; k < 3; k++)
        sum[k] += weight * face[k];
    }
    double length = sqrt(sum[0] * sum[0] + sum[1] * sum[1] + sum[2] * sum[2]);
    for (size_t i = first; i < end; i++) {
      float *normal = &nc[order[i] / 3][3 * (order[i] % 3)];
      for (int k = 0; k < 3; k++)
        normal[k] = length > 0.0 ? (float)(sum[k] / length) : 0.0f;
    }
  }
  free(order);
  return 1;
}

void kroFaceNormals(kroObject op, kroObject realn, uint32_t triangles) {
  for (uint32_t t = 0; t < triangles; t++)
    kroFaceNormal(op[t], realn[t]);
}

void kroComputeNormals(kroObject op, kroObject nc, kroObject realn, uint32_t triangles,
                       int smooth) {
  if (!op || !nc || !realn)
    return;
  for (uint32_t t = 0; t < triangles; t++) {
    kroFaceNormal(op[t], realn[t]);
    for (int k = 0; k < 9; k++)
      nc[t][k] = realn[t][k % 3];
  }
  if (smooth && triangles > 0 && !kroSmoothNormals(op, nc, realn, triangles))
    kroFail("Error during allocating memory in kroComputeNormals(..)\n");
}

/* ---- bounds ---------------------------------------------------------------- */

/* A box being gathered, in doubles: one vertex more with each kroTakeVertices. */
typedef struct kroBoxSum {
  double low[3], high[3];
  long vertices;
} kroBoxSum;

/* A point that is not finite in every coordinate does not count. */
static void kroTakePoint(kroBoxSum *box, const float *p) {
  if (!isfinite(p[0]) || !isfinite(p[1]) || !isfinite(p[2]))
    return;
  for (int k = 0; k < 3; k++) {
    box->low[k] = std::min(box->low[k], (double)p[k]);
    box->high[k] = std::max(box->high[k], (double)p[k]);
  }
  box->vertices++;
}

static void kroTakeVertices(kroBoxSum *box, kroObject op, uint32_t count) {
  for (uint32_t t = 0; op && t < count; t++)
    for (int v = 0; v < 3; v++)
      kroTakePoint(box, &op[t][3 * v]);
}

static long kroFinishBounds(const kroBoxSum *box, kroBounds *bounds) {
  memset(bounds, 0, sizeof *bounds);
  if (box->vertices == 0)
    return 0;
  double squares = 0.0;
  for (int k = 0; k < 3; k++) {
    bounds->low[k] = (float)box->low[k];
    bounds->high[k] = (float)box->high[k];
    bounds->centre[k] = (float)(0.5 * (box->low[k] + box->high[k]));
    squares += (box->high[k] - box->low[k]) * (box->high[k] - box->low[k]);
  }
  bounds->radius = (float)(0.5 * sqrt(squares));
  return box->vertices;
}

static const kroBoxSum KRO_EMPTY_BOX = {
    {HUGE_VAL, HUGE_VAL, HUGE_VAL}, {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL}, 0};

long kroObjectsBounds(const kroObject *ops, const uint32_t *counts, int objects,
                      kroBounds *bounds) {
  kroBoxSum box = KRO_EMPTY_BOX;
  for (int i = 0; ops && counts && i < objects; i++)
    kroTakeVertices(&box, ops[i], counts[i]);
  return kroFinishBounds(&box, bounds);
}

long kroObjectBounds(kroObject op, uint32_t count, kroBounds *bounds) {
  return kroObjectsBounds(&op, &count, 1, bounds);
}

/* An indexed mesh's corners, each vertex as often as corners name it (as rows have it). */
static void kroTakeIndexed(kroBoxSum *box, const kroMesh *mesh) {
  for (int64_t c = 0; mesh->index && c < 3 * (int64_t)mesh->triangles; c++)
    if (mesh->index[c] < (uint32_t)std::max(mesh->vertices, 0))
      kroTakePoint(box, mesh->vertex + (size_t)KRO_VERTEX_FLOATS * mesh->index[c]);
}

long kroMeshBounds(const kroMesh *meshes, int count, kroBounds *bounds) {
  kroBoxSum box = KRO_EMPTY_BOX;
  for (int i = 0; meshes && i < count; i++)
    if (meshes[i].vertex)
      kroTakeIndexed(&box, &meshes[i]);
    else
      kroTakeVertices(&box, meshes[i].op, (uint32_t)std::max(meshes[i].triangles, 0));
  return kroFinishBounds(&box, bounds);
}

void kroFitMeshes(kroMesh *meshes, int count, kroBounds *bounds) {
  float scale = bounds->radius > 0 ? 1 / bounds->radius : 1;
  for (int i = 0; meshes && i < count; i++) {
    for (int v = 0; meshes[i].vertex && v < meshes[i].vertices; v++)
      for (int k = 0; k < 3; k++) {
        float *x = &meshes[i].vertex[(size_t)KRO_VERTEX_FLOATS * v + k];
        *x = (*x - bounds->centre[k]) * scale;
      }
    uint32_t rows = meshes[i].op ? (uint32_t)std::max(meshes[i].triangles, 0) : 0;
    kroTranslateObject(meshes[i].op, rows, -bounds->centre[0], -bounds->centre[1],
                       -bounds->centre[2]);
    kroScale1Object(meshes[i].op, rows, scale);
  }
  for (int k = 0; k < 3; k++) {
    bounds->low[k] = (bounds->low[k] - bounds->centre[k]) * scale;
    bounds->high[k] = (bounds->high[k] - bounds->centre[k]) * scale;
    bounds->centre[k] = 0;
  }
  bounds->radius *= scale;
}
