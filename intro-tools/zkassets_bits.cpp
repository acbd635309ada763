// The two digit models of the intro's flyers, in model units (the intro
// scales and places them):
//
//   "zero"  an elliptical ring of 18 segments extruded from z = 0 to z = 0.75.
//           Outer edge at x = cos t, y = 1.4479 sin t for t = 10, 30, .., 350
//           degrees; inner edge the outer one scaled by 0.76 about the origin.
//           Both flat faces are flat-shaded (36 triangles each), the two walls
//           smooth-shaded with horizontal normals (72 triangles): 144 in all.
//   "one"   a box x -0.2813..0.2813, y -1.429..1.429, z 0.0122..0.7622,
//           flat-shaded with the six axis normals: 12 triangles.
#include "zkassets.h"

#include <math.h>

static const int ZERO_SEGMENTS = 18;
static const double ZERO_FIRST_ANGLE = 10.0; // degrees
static const double ZERO_STEP_ANGLE = 20.0;  // degrees
static const double ZERO_HEIGHT = 1.4479;    // y semi-axis of the outer edge (x semi-axis 1)
static const double ZERO_INNER_SCALE = 0.76;
static const double ZERO_BACK_Z = 0.0;
static const double ZERO_FRONT_Z = 0.75;

static const double ONE_HALF_WIDTH = 0.2813;
static const double ONE_HALF_HEIGHT = 1.429;
static const double ONE_BACK_Z = 0.0122;
static const double ONE_FRONT_Z = 0.7622;

static const ZkaVec3 PLUS_X = {1, 0, 0}, MINUS_X = {-1, 0, 0};
static const ZkaVec3 PLUS_Y = {0, 1, 0}, MINUS_Y = {0, -1, 0};
static const ZkaVec3 PLUS_Z = {0, 0, 1}, MINUS_Z = {0, 0, -1};

// Smoothing groups: walls share one, so their corners carry averaged normals.
enum { FLAT_GROUP = 0, WALL_GROUP = 1 };

// Vertex indices of the ring: four loops of ZERO_SEGMENTS vertices each.
enum { OUTER_BACK, OUTER_FRONT, INNER_BACK, INNER_FRONT };
static int ringVertex(int loop, int k) {
  return loop * ZERO_SEGMENTS + k % ZERO_SEGMENTS;
}

// One wall: triangles of the quads between vertex k and k + 1 of the loops
// `back` and `front`, facing outwards (outer wall) or towards the axis (inner
// wall). Each corner gets the mean of the two wall facets meeting there.
static void addWall(ZkaModel *zero, int back, int front, bool outwards) {
  const std::vector<ZkaVec3> &v = zero->vertices;
  ZkaVec3 facet[ZERO_SEGMENTS];
  for (int k = 0; k < ZERO_SEGMENTS; k++) {
    ZkaVec3 along = zkaSub(v[ringVertex(back, k + 1)], v[ringVertex(back, k)]);
    ZkaVec3 n = zkaNormalize(zkaCross(along, PLUS_Z)); // horizontal, pointing outwards
    facet[k] = outwards ? n : ZkaVec3{-n.x, -n.y, -n.z};
  }
  ZkaVec3 corner[ZERO_SEGMENTS]; // at vertex k: facets k - 1 and k
  for (int k = 0; k < ZERO_SEGMENTS; k++)
    corner[k] = zkaNormalize(zkaAdd(facet[(k + ZERO_SEGMENTS - 1) % ZERO_SEGMENTS], facet[k]));

  for (int k = 0; k < ZERO_SEGMENTS; k++) {
    int k1 = (k + 1) % ZERO_SEGMENTS;
    int b0 = ringVertex(back, k), b1 = ringVertex(back, k1);
    int f0 = ringVertex(front, k), f1 = ringVertex(front, k1);
    // Outwards the quad runs b0 b1 f1 f0; towards the axis the other way round.
    int quad[4] = {b0, b1, f1, f0};
    ZkaVec3 normals[4] = {corner[k], corner[k1], corner[k1], corner[k]};
    if (!outwards) {
      int q[4] = {b1, b0, f0, f1};
      ZkaVec3 n[4] = {corner[k1], corner[k], corner[k], corner[k1]};
      for (int i = 0; i < 4; i++)
        quad[i] = q[i], normals[i] = n[i];
    }
    const int split[2][3] = {{0, 1, 2}, {0, 2, 3}};
    for (const int *t : split) {
      ZkaFace face;
      for (int i = 0; i < 3; i++) {
        face.v[i] = quad[t[i]];
        face.corner_normal[i] = normals[t[i]];
      }
      face.real_normal = zkaTriangleNormal(v[face.v[0]], v[face.v[1]], v[face.v[2]]);
      if (zkaDot(face.real_normal, facet[k]) < 0.999999)
        zkaDie("a wall triangle of the zero faces the wrong way");
      face.smoothing = WALL_GROUP;
      zero->faces.push_back(face);
    }
  }
}

static ZkaModel buildZero(void) {
  ZkaModel zero;
  zero.node_name = "zero";
  zero.name_in_transform = false;
  const double pi = 3.14159265358979323846;
  const int loops[4] = {OUTER_BACK, OUTER_FRONT, INNER_BACK, INNER_FRONT};
  for (int loop : loops) {
    bool inner = loop == INNER_BACK || loop == INNER_FRONT;
    bool front = loop == OUTER_FRONT || loop == INNER_FRONT;
    double scale = inner ? ZERO_INNER_SCALE : 1.0;
    for (int k = 0; k < ZERO_SEGMENTS; k++) {
      double t = (ZERO_FIRST_ANGLE + ZERO_STEP_ANGLE * k) * pi / 180.0;
      zero.vertices.push_back(
          {scale * cos(t), scale * ZERO_HEIGHT * sin(t), front ? ZERO_FRONT_Z : ZERO_BACK_Z});
    }
  }
  // Front face (z = 0.75, facing +z), then back face (z = 0, facing -z): one
  // quad per segment from outer vertex k to k + 1 and back along the inner edge.
  for (int k = 0; k < ZERO_SEGMENTS; k++) {
    int o0 = ringVertex(OUTER_FRONT, k), o1 = ringVertex(OUTER_FRONT, k + 1);
    int i0 = ringVertex(INNER_FRONT, k), i1 = ringVertex(INNER_FRONT, k + 1);
    zkaAddFlatTriangle(&zero, o0, o1, i1, PLUS_Z, FLAT_GROUP);
    zkaAddFlatTriangle(&zero, o0, i1, i0, PLUS_Z, FLAT_GROUP);
  }
  for (int k = 0; k < ZERO_SEGMENTS; k++) {
    int o0 = ringVertex(OUTER_BACK, k), o1 = ringVertex(OUTER_BACK, k + 1);
    int i0 = ringVertex(INNER_BACK, k), i1 = ringVertex(INNER_BACK, k + 1);
    zkaAddFlatTriangle(&zero, o0, i1, o1, MINUS_Z, FLAT_GROUP);
    zkaAddFlatTriangle(&zero, o0, i0, i1, MINUS_Z, FLAT_GROUP);
  }
  addWall(&zero, OUTER_BACK, OUTER_FRONT, true);
  addWall(&zero, INNER_BACK, INNER_FRONT, false);
  return zero;
}

static ZkaModel buildOne(void) {
  ZkaModel one;
  one.node_name = "one";
  one.name_in_transform = false;
  // Vertex i: x from bit 0, y from bit 1, z from bit 2 (set = the larger value).
  for (int i = 0; i < 8; i++)
    one.vertices.push_back({i & 1 ? ONE_HALF_WIDTH : -ONE_HALF_WIDTH,
                            i & 2 ? ONE_HALF_HEIGHT : -ONE_HALF_HEIGHT,
                            i & 4 ? ONE_FRONT_Z : ONE_BACK_Z});
  struct Side {
    int quad[4]; // counterclockwise seen from outside
    ZkaVec3 normal;
  };
  const Side sides[6] = {
      {{0, 2, 3, 1}, MINUS_Z}, {{4, 5, 7, 6}, PLUS_Z}, {{0, 1, 5, 4}, MINUS_Y},
      {{1, 3, 7, 5}, PLUS_X},  {{3, 2, 6, 7}, PLUS_Y}, {{2, 0, 4, 6}, MINUS_X},
  };
  for (const Side &s : sides) {
    zkaAddFlatTriangle(&one, s.quad[0], s.quad[1], s.quad[2], s.normal, FLAT_GROUP);
    zkaAddFlatTriangle(&one, s.quad[0], s.quad[2], s.quad[3], s.normal, FLAT_GROUP);
  }
  return one;
}

void zkaBuildDigits(std::vector<ZkaModel> *models) {
  models->push_back(buildZero());
  models->push_back(buildOne());
}
