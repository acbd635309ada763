// The viewer's showcase scene (assets/showcase.ase), in model units with +y
// up and the ground at y = 0, each object with its own material:
//
//   "Pedestal"  a flat-shaded slab x -1.6..1.6, y 0..0.25, z -1.1..1.1
//   "Sphere"    a smooth sphere of radius 0.5 at (-0.85, 0.75, 0.2):
//               24 segments around, 12 from pole to pole
//   "Column"    a cylinder of radius 0.28 from y 0.25 to 1.55 at (0.9, -, -0.35):
//               smooth sides of 20 segments, flat caps
//   "Ring"      a smooth torus standing upright at (0.3, 0.75, 0.55): radii
//               0.42 and 0.11, 28 by 10 segments
//   "Crystal"   a flat-shaded octahedron at (-0.1, 0.6, -0.55), half-height 0.35
#include "zkassets.h"

#include <math.h>

#include <utility>

static const double PI = 3.14159265358979323846;

enum { FLAT_GROUP = 0, SMOOTH_GROUP = 1 };
enum { PEDESTAL_MATERIAL, SPHERE_MATERIAL, COLUMN_MATERIAL, RING_MATERIAL, CRYSTAL_MATERIAL };

static int addVertex(ZkaModel *model, ZkaVec3 v) {
  model->vertices.push_back(v);
  return (int)model->vertices.size() - 1;
}

// A triangle with its own normal at each corner, wound counterclockwise seen
// from the side the corner normals point to (b and c swapped when needed).
static void addSmoothTriangle(ZkaModel *model, int a, int b, int c, ZkaVec3 na, ZkaVec3 nb,
                              ZkaVec3 nc) {
  const std::vector<ZkaVec3> &v = model->vertices;
  ZkaVec3 real = zkaTriangleNormal(v[a], v[b], v[c]);
  if (zkaDot(real, zkaAdd(zkaAdd(na, nb), nc)) < 0.0) {
    std::swap(b, c);
    std::swap(nb, nc);
    real = zkaTriangleNormal(v[a], v[b], v[c]);
  }
  ZkaFace face = {{a, b, c}, real, {na, nb, nc}, SMOOTH_GROUP};
  model->faces.push_back(face);
}

// A flat quad a b c d, counterclockwise seen from outside, as two triangles.
static void addFlatQuad(ZkaModel *model, int a, int b, int c, int d, ZkaVec3 normal) {
  zkaAddFlatTriangle(model, a, b, c, normal, FLAT_GROUP);
  zkaAddFlatTriangle(model, a, c, d, normal, FLAT_GROUP);
}

static ZkaModel named(const char *name, int material) {
  ZkaModel model;
  model.node_name = name;
  model.name_in_transform = true;
  model.material = material;
  return model;
}

static ZkaModel pedestal() {
  ZkaModel m = named("Pedestal", PEDESTAL_MATERIAL);
  const double x = 1.6, y0 = 0.0, y1 = 0.25, z = 1.1;
  int v[8];
  for (int i = 0; i < 8; i++)
    v[i] = addVertex(&m, {i & 1 ? x : -x, i & 2 ? y1 : y0, i & 4 ? z : -z});
  addFlatQuad(&m, v[0], v[1], v[5], v[4], {0, -1, 0});
  addFlatQuad(&m, v[2], v[6], v[7], v[3], {0, 1, 0});
  addFlatQuad(&m, v[0], v[2], v[3], v[1], {0, 0, -1});
  addFlatQuad(&m, v[4], v[5], v[7], v[6], {0, 0, 1});
  addFlatQuad(&m, v[0], v[4], v[6], v[2], {-1, 0, 0});
  addFlatQuad(&m, v[1], v[3], v[7], v[5], {1, 0, 0});
  return m;
}

// Point and normal of a surface at grid place (i, j).
typedef void (*ZkaSurface)(int i, int j, ZkaVec3 *point, ZkaVec3 *normal);

// A closed-around grid of `around` x `along` cells; cells whose two corners
// meet (a pole) become one triangle.
static void addSurface(ZkaModel *m, int around, int along, ZkaSurface surface) {
  std::vector<int> index((size_t)(around + 1) * (along + 1));
  std::vector<ZkaVec3> normals(index.size());
  for (int j = 0; j <= along; j++)
    for (int i = 0; i <= around; i++) {
      ZkaVec3 p, n;
      surface(i % around, j, &p, &n);
      size_t k = (size_t)j * (around + 1) + i;
      index[k] = i == around ? index[k - around] : addVertex(m, p);
      normals[k] = n;
    }
  auto at = [&](int i, int j) { return (size_t)j * (around + 1) + i; };
  for (int j = 0; j < along; j++)
    for (int i = 0; i < around; i++) {
      size_t a = at(i, j), b = at(i, j + 1), c = at(i + 1, j + 1), d = at(i + 1, j);
      const std::vector<ZkaVec3> &v = m->vertices;
      bool top = zkaDot(zkaSub(v[index[a]], v[index[d]]), zkaSub(v[index[a]], v[index[d]])) < 1e-12;
      bool bottom =
          zkaDot(zkaSub(v[index[b]], v[index[c]]), zkaSub(v[index[b]], v[index[c]])) < 1e-12;
      if (!bottom)
        addSmoothTriangle(m, index[a], index[b], index[c], normals[a], normals[b], normals[c]);
      if (!top)
        addSmoothTriangle(m, index[a], index[c], index[d], normals[a], normals[c], normals[d]);
    }
}

static const int SPHERE_AROUND = 24, SPHERE_ALONG = 12;
static const ZkaVec3 SPHERE_CENTRE = {-0.85, 0.75, 0.2};
static const double SPHERE_RADIUS = 0.5;

// Around y clockwise seen from above, so that rows going down wind outwards.
static void spherePoint(int i, int j, ZkaVec3 *p, ZkaVec3 *n) {
  double t = -2.0 * PI * i / SPHERE_AROUND, s = PI * j / SPHERE_ALONG;
  *n = {sin(s) * cos(t), cos(s), sin(s) * sin(t)};
  if (j == 0 || j == SPHERE_ALONG)
    *n = {0, j == 0 ? 1.0 : -1.0, 0}; // the poles exactly
  *p = zkaAdd(SPHERE_CENTRE, {n->x * SPHERE_RADIUS, n->y * SPHERE_RADIUS, n->z * SPHERE_RADIUS});
}

static ZkaModel sphere() {
  ZkaModel m = named("Sphere", SPHERE_MATERIAL);
  addSurface(&m, SPHERE_AROUND, SPHERE_ALONG, spherePoint);
  return m;
}

static const int COLUMN_AROUND = 20;
static const double COLUMN_X = 0.9, COLUMN_Z = -0.35, COLUMN_RADIUS = 0.28;
static const double COLUMN_BOTTOM = 0.25, COLUMN_TOP = 1.55;

static void columnPoint(int i, int j, ZkaVec3 *p, ZkaVec3 *n) {
  double t = -2.0 * PI * i / COLUMN_AROUND;
  *n = {cos(t), 0, sin(t)};
  *p = {COLUMN_X + COLUMN_RADIUS * cos(t), j ? COLUMN_BOTTOM : COLUMN_TOP,
        COLUMN_Z + COLUMN_RADIUS * sin(t)};
}

static ZkaModel column() {
  ZkaModel m = named("Column", COLUMN_MATERIAL);
  addSurface(&m, COLUMN_AROUND, 1, columnPoint);
  for (int cap = 0; cap < 2; cap++) { // flat fans, top then bottom
    double y = cap ? COLUMN_BOTTOM : COLUMN_TOP;
    ZkaVec3 normal = {0, cap ? -1.0 : 1.0, 0};
    int centre = addVertex(&m, {COLUMN_X, y, COLUMN_Z});
    for (int i = 0; i < COLUMN_AROUND; i++) {
      int a = i, b = (i + 1) % COLUMN_AROUND; // the side's rim vertices of this row
      int rim_a = cap ? COLUMN_AROUND + a : a, rim_b = cap ? COLUMN_AROUND + b : b;
      // the rim runs counterclockwise seen from above
      if (cap)
        zkaAddFlatTriangle(&m, centre, rim_b, rim_a, normal, FLAT_GROUP);
      else
        zkaAddFlatTriangle(&m, centre, rim_a, rim_b, normal, FLAT_GROUP);
    }
  }
  return m;
}

static const int RING_AROUND = 28, RING_TUBE = 10;
static const ZkaVec3 RING_CENTRE = {0.3, 0.75, 0.55};
static const double RING_MAJOR = 0.42, RING_MINOR = 0.11;

// Standing in the x-y plane; the tube's circle turns about the ring's circle.
static void ringPoint(int i, int j, ZkaVec3 *p, ZkaVec3 *n) {
  double t = 2.0 * PI * i / RING_AROUND, s = 2.0 * PI * j / RING_TUBE;
  ZkaVec3 out = {cos(t), sin(t), 0};
  *n = {out.x * cos(s), out.y * cos(s), sin(s)};
  *p = zkaAdd(RING_CENTRE, {out.x * RING_MAJOR + n->x * RING_MINOR,
                            out.y * RING_MAJOR + n->y * RING_MINOR, n->z * RING_MINOR});
}

static ZkaModel ring() {
  ZkaModel m = named("Ring", RING_MATERIAL);
  addSurface(&m, RING_AROUND, RING_TUBE, ringPoint);
  return m;
}

static ZkaModel crystal() {
  ZkaModel m = named("Crystal", CRYSTAL_MATERIAL);
  const ZkaVec3 c = {-0.1, 0.6, -0.55};
  const double r = 0.25, h = 0.35;
  int top = addVertex(&m, {c.x, c.y + h, c.z}), bottom = addVertex(&m, {c.x, c.y - h, c.z});
  int rim[4];
  for (int k = 0; k < 4; k++) {
    double t = -0.5 * PI * k + 0.25 * PI;
    rim[k] = addVertex(&m, {c.x + r * cos(t), c.y, c.z + r * sin(t)});
  }
  const std::vector<ZkaVec3> &v = m.vertices;
  for (int k = 0; k < 4; k++)
    for (int apex : {top, bottom}) {
      int a = rim[k], b = rim[(k + 1) % 4];
      ZkaVec3 normal = zkaTriangleNormal(v[apex], v[a], v[b]);
      ZkaVec3 outwards = zkaSub(zkaAdd(zkaAdd(v[apex], v[a]), v[b]), {3 * c.x, 3 * c.y, 3 * c.z});
      if (zkaDot(normal, outwards) < 0) // wind every face outwards
        std::swap(a, b), normal = zkaTriangleNormal(v[apex], v[a], v[b]);
      zkaAddFlatTriangle(&m, apex, a, b, normal, FLAT_GROUP);
    }
  return m;
}

void zkaBuildShowcase(std::vector<ZkaModel> *models, std::vector<ZkaMaterial> *materials) {
  *materials = {{"Stone", {0.55, 0.57, 0.62}},
                {"Lacquer", {0.85, 0.16, 0.12}},
                {"Brass", {0.86, 0.66, 0.22}},
                {"Jade", {0.2, 0.7, 0.45}},
                {"Amethyst", {0.5, 0.3, 0.85}}};
  *models = {pedestal(), sphere(), column(), ring(), crystal()};
}
