/*
 * The ground under the model: a heightmap BMP as a grid of points and
 * normals, placed below the scene's bounding box in view units, turned like
 * the scene, and drawn into one display list with the objects' lighting.
 * Depends on: kro (heightmaps, transforms, lit drawing), GL, kv_camera.cpp.
 */
#include "kroview.h"

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

int kvLoadTerrain(kvTerrain *terrain, const char *path, float floor) {
  memset(terrain, 0, sizeof *terrain);
  const float half = 0.5f * KV_TERRAIN_EXTENT;
  const float offset[3] = {-half, floor - KV_TERRAIN_GAP - KV_TERRAIN_RISE, -half};
  const float scale[3] = {KV_TERRAIN_EXTENT, KV_TERRAIN_EXTENT, KV_TERRAIN_RISE};
  terrain->points =
      kroLoadHightmapAndNormalsFromBMP(path, offset, scale, terrain->size, &terrain->normals);
  if (!terrain->points || !terrain->normals) {
    kvFreeTerrain(terrain);
    return -1;
  }
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
