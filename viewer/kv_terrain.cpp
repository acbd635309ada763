/*
 * The ground under the model: a heightmap BMP as a grid of points and
 * normals, placed below the scene's bounding box in view units, turned like
 * the scene, and drawn into one display list with the objects' lighting.
 * Depends on: kro (heightmaps, transforms, lit drawing), GL, kv_camera.cpp.
 */
#include "kroview.h"

#include <math.h>
#include <string.h>

static const float KV_TERRAIN_EXTENT = 9.0f; /* view units across, both ways */
static const float KV_TERRAIN_RISE = 0.35f;  /* view units for a height byte of 255 */
static const float KV_TERRAIN_GAP = 0.02f;   /* view units between the box and the peaks */
static const float KV_TERRAIN_COLOUR[3] = {0.36f, 0.52f, 0.30f};

/* Every grid entry turned like the scene's rows. */
static void kvTurnGrid(float ***grid, const int32_t *size, const float *matrix) {
  for (int32_t x = 0; x < size[0]; x++)
    for (int32_t y = 0; y < size[1]; y++)
      kroApply3x3MatrixToVector(matrix, grid[x][y]);
}

/* The highest ground under the scene's footprint (x and z within its box); the highest point
 * of all when no grid point falls inside. *top gets the highest point of all. */
static float kvGroundUnder(const kvTerrain *terrain, const kvScene *scene, float *top) {
  float under = -INFINITY;
  *top = -INFINITY;
  for (int32_t x = 0; x < terrain->size[0]; x++)
    for (int32_t y = 0; y < terrain->size[1]; y++) {
      const float *p = terrain->points[x][y];
      *top = fmaxf(*top, p[1]);
      if (fabsf(p[0]) <= scene->half[0] && fabsf(p[2]) <= scene->half[2])
        under = fmaxf(under, p[1]);
    }
  return isfinite(under) ? under : *top;
}

static void kvRaiseGrid(float ***grid, const int32_t *size, float rise) {
  for (int32_t x = 0; x < size[0]; x++)
    for (int32_t y = 0; y < size[1]; y++)
      grid[x][y][1] += rise;
}

int kvLoadTerrain(kvTerrain *terrain, const char *path, const kvScene *scene) {
  memset(terrain, 0, sizeof *terrain);
  const float half = 0.5f * KV_TERRAIN_EXTENT;
  const float offset[3] = {-half, 0.0f, -half};
  const float scale[3] = {KV_TERRAIN_EXTENT, KV_TERRAIN_EXTENT, KV_TERRAIN_RISE};
  terrain->points =
      kroLoadHightmapAndNormalsFromBMP(path, offset, scale, terrain->size, &terrain->normals);
  if (!terrain->points || !terrain->normals) {
    kvFreeTerrain(terrain);
    return -1;
  }
  float top, under = kvGroundUnder(terrain, scene, &top);
  float rise = scene->floor - KV_TERRAIN_GAP - under;
  kvRaiseGrid(terrain->points, terrain->size, rise);
  terrain->top = top + rise;
  float turn[9];
  kvPresentationTurn(turn);
  kvTurnGrid(terrain->points, terrain->size, turn);
  kvTurnGrid(terrain->normals, terrain->size, turn);
  return 0;
}

/* The lit drawing of no triangles sets the program and the lights; the grid
 * follows with the terrain colour standing in for the front ambient. */
void kvBuildTerrainList(kvTerrain *terrain) {
  if (!terrain->points)
    return;
  if (!terrain->list)
    terrain->list = glGenLists(1);
  glNewList(terrain->list, GL_COMPILE);
  glColorMaterial(GL_FRONT, GL_AMBIENT);
  glEnable(GL_COLOR_MATERIAL);
  glColor3fv(KV_TERRAIN_COLOUR);
  kroDrawLightMaterialNormalsObject(nullptr, nullptr, nullptr, nullptr, nullptr, 0);
  kroDrawHightmapWithNormals(terrain->points, terrain->size, terrain->normals);
  glDisable(GL_COLOR_MATERIAL);
  glUseProgramObjectARB(0);
  glEndList();
}

void kvDrawTerrain(const kvTerrain *terrain) {
  if (terrain->list)
    glCallList(terrain->list);
}

void kvFreeTerrain(kvTerrain *terrain) {
  if (terrain->list)
    glDeleteLists(terrain->list, 1);
  if (terrain->points)
    kroDestroyHightmap(&terrain->points, terrain->size);
  if (terrain->normals)
    kroDestroyHightmap(&terrain->normals, terrain->size);
  memset(terrain, 0, sizeof *terrain);
}
