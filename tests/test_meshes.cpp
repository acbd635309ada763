// The intro's embedded meshes: counts, names, unit normals, winding, shapes and
// extents, and the word as the scene places it; the committed models read
// with the engine's ASE reader must give exactly what the loaders build.
#include "gl_context.h"
#include "meshes.h"

#include <gtest/gtest.h>

#include <math.h>
#include <string.h>

#include <string>

namespace {

typedef void (*MeshLoader)(kroObject *, kroObject *, kroObject *, kroObject *, char *, int *);

// One loaded mesh; its arrays are released with it.
struct Mesh {
  kroObject op = nullptr, nc = nullptr, realn = nullptr, tc = nullptr;
  int count = 0;
  std::string name;
  Mesh() = default;
  Mesh(const Mesh &) = delete;
  Mesh &operator=(const Mesh &) = delete;
  ~Mesh() {
    for (kroObject *array : {&op, &nc, &realn, &tc})
      kroDestroyObject(array, count);
  }
  void load(MeshLoader loader) {
    char node_name[32];
    memset(node_name, '#', sizeof node_name);
    loader(&op, &nc, &realn, &tc, node_name, &count);
    name = std::string(node_name, strnlen(node_name, sizeof node_name));
    // Every row is there to write, texture rows included (sanitizer build).
    for (int i = 0; i < count; i++)
      tc[i][5] = op[i][8] + nc[i][8] + realn[i][2];
  }
};

struct Glyph {
  MeshLoader loader;
  const char *name;
  float offset; // x offset in the word
};

const Glyph GLYPHS[9] = {
    {loadMeshFontZ, "Z", -2.1494f}, {loadMeshFontA, "A", -1.8154f}, {loadMeshFontN, "N", -1.4694f},
    {loadMeshFontY, "Y", -0.8329f}, {loadMeshFontK, "K", -0.1934f}, {loadMeshFontL, "L", 0.4276f},
    {loadMeshFontU, "U", 0.9806f},  {loadMeshFontM, "M", 1.551f},   {loadMeshFontP, "P", 2.1369f},
};

struct Vec {
  double x, y, z;
  Vec operator-(Vec b) const { return {x - b.x, y - b.y, z - b.z}; }
  double dot(Vec b) const { return x * b.x + y * b.y + z * b.z; }
  double length() const { return sqrt(dot(*this)); }
  Vec cross(Vec b) const { return {y * b.z - z * b.y, z * b.x - x * b.z, x * b.y - y * b.x}; }
};
Vec at(const float *row, int k) {
  return {row[k * 3], row[k * 3 + 1], row[k * 3 + 2]};
}

struct Box {
  double min[3] = {INFINITY, INFINITY, INFINITY}, max[3] = {-INFINITY, -INFINITY, -INFINITY};
  void add(const float *p) {
    for (int a = 0; a < 3; a++) {
      min[a] = fmin(min[a], p[a]);
      max[a] = fmax(max[a], p[a]);
    }
  }
};
Box extent(const Mesh &m) {
  Box b;
  for (int i = 0; i < m.count; i++)
    for (int k = 0; k < 3; k++)
      b.add(m.op[i] + 3 * k);
  return b;
}

void expectExtent(const Box &b, const double (&min)[3], const double (&max)[3], double tolerance) {
  for (int a = 0; a < 3; a++) {
    EXPECT_NEAR(b.min[a], min[a], tolerance) << "axis " << a;
    EXPECT_NEAR(b.max[a], max[a], tolerance) << "axis " << a;
  }
}

// Unit normals; every triangle counterclockwise seen from the side its real
// normal points to, the real normal square to it.
void expectUnitNormalsAndWinding(const Mesh &m) {
  for (int i = 0; i < m.count; i++) {
    SCOPED_TRACE(testing::Message() << m.name << " triangle " << i);
    Vec real = at(m.realn[i], 0);
    EXPECT_NEAR(real.length(), 1.0, 1e-5);
    for (int k = 0; k < 3; k++)
      EXPECT_NEAR(at(m.nc[i], k).length(), 1.0, 1e-5);
    Vec n = (at(m.op[i], 1) - at(m.op[i], 0)).cross(at(m.op[i], 2) - at(m.op[i], 0));
    ASSERT_GT(n.length(), 1e-9) << "degenerate";
    EXPECT_GT(n.dot(real) / n.length(), 0.9999);
  }
}

bool sameNormal(const float *a, const float *b) {
  return a[0] == b[0] && a[1] == b[1] && a[2] == b[2];
}

TEST(DigitMeshes, ZeroIsAnExtrudedEllipticalRing) {
  Mesh zero;
  zero.load(loadMeshBit0);
  EXPECT_EQ(zero.name, "zero");
  ASSERT_EQ(zero.count, 144);
  expectUnitNormalsAndWinding(zero);
  expectExtent(extent(zero), {-0.9848, -1.4479, 0}, {0.9848, 1.4479, 0.75}, 1e-4);
  int front = 0, back = 0;
  for (int i = 0; i < zero.count; i++) {
    SCOPED_TRACE(testing::Message() << "triangle " << i);
    const float *real = zero.realn[i];
    for (int k = 0; k < 3; k++) {
      // On the outer (ellipse radius 1) or inner (0.76) edge, at one of the
      // 18 angles 10, 30, .., 350 degrees.
      Vec p = at(zero.op[i], k);
      double r = hypot(p.x, p.y / 1.4479);
      EXPECT_TRUE(fabs(r - 1.0) < 2e-6 || fabs(r - 0.76) < 2e-6) << r;
      double degrees = atan2(p.y / 1.4479, p.x) * 180.0 / M_PI;
      double step = fmod(degrees + 360.0 - 10.0, 20.0);
      EXPECT_TRUE(step < 1e-3 || step > 20.0 - 1e-3) << degrees;
    }
    bool flat = true;
    for (int k = 0; k < 3; k++)
      flat = flat && sameNormal(zero.nc[i] + 3 * k, real);
    // Flat-shaded triangles are exactly those of the two flat faces; the
    // walls have horizontal real and vertex normals.
    for (int k = 0; k < 3; k++) {
      if (flat)
        EXPECT_EQ(zero.op[i][k * 3 + 2], real[2] > 0 ? 0.75f : 0.0f);
      else
        EXPECT_EQ(zero.nc[i][k * 3 + 2], 0.0f);
    }
    if (flat)
      EXPECT_TRUE(real[0] == 0 && real[1] == 0 && fabs(real[2]) == 1.0f);
    else
      EXPECT_EQ(real[2], 0.0f);
    front += flat && real[2] > 0;
    back += flat && real[2] < 0;
  }
  EXPECT_EQ(front, 36);
  EXPECT_EQ(back, 36);
}

TEST(DigitMeshes, OneIsAFlatShadedBox) {
  Mesh one;
  one.load(loadMeshBit1);
  EXPECT_EQ(one.name, "one");
  ASSERT_EQ(one.count, 12);
  expectUnitNormalsAndWinding(one);
  Box b = extent(one);
  expectExtent(b, {-0.2813, -1.429, 0.0122}, {0.2813, 1.429, 0.7622}, 1e-6);
  int per_direction[6] = {0};
  for (int i = 0; i < one.count; i++) {
    SCOPED_TRACE(testing::Message() << "triangle " << i);
    const float *real = one.realn[i];
    int axis = -1;
    for (int a = 0; a < 3; a++)
      axis = fabs(real[a]) == 1.0f ? a : axis;
    ASSERT_GE(axis, 0) << "not square to an axis";
    per_direction[axis * 2 + (real[axis] > 0)]++;
    // All three corners lie on the box face the normal names.
    double face = real[axis] > 0 ? b.max[axis] : b.min[axis];
    for (int k = 0; k < 3; k++) {
      EXPECT_TRUE(sameNormal(one.nc[i] + 3 * k, real));
      EXPECT_EQ(one.op[i][k * 3 + axis], (float)face);
    }
  }
  for (int d = 0; d < 6; d++)
    EXPECT_EQ(per_direction[d], 2) << "direction " << d;
}

// Strict overlap of two triangles' interiors in the xy plane (separating
// axes over the six edge normals); sharing an edge or a corner is not overlap.
bool interiorsOverlap(const float *a, const float *b) {
  const float *t[2] = {a, b};
  for (int s = 0; s < 2; s++)
    for (int e = 0; e < 3; e++) {
      const float *p = t[s] + e * 3, *q = t[s] + ((e + 1) % 3) * 3;
      double nx = q[1] - p[1], ny = p[0] - q[0];
      double lo[2] = {INFINITY, INFINITY}, hi[2] = {-INFINITY, -INFINITY};
      for (int u = 0; u < 2; u++)
        for (int k = 0; k < 3; k++) {
          double d = nx * t[u][k * 3] + ny * t[u][k * 3 + 1];
          lo[u] = fmin(lo[u], d);
          hi[u] = fmax(hi[u], d);
        }
      double tolerance = 1e-6 * hypot(nx, ny);
      if (hi[0] <= lo[1] + tolerance || hi[1] <= lo[0] + tolerance)
        return false;
    }
  return true;
}

TEST(GlyphMeshes, FlatLettersPlacedIntoTheWordsTextureBox) {
  Box word;
  double previous_right = -INFINITY;
  for (const Glyph &g : GLYPHS) {
    SCOPED_TRACE(g.name);
    Mesh m;
    m.load(g.loader);
    EXPECT_EQ(m.name, g.name);
    ASSERT_GT(m.count, 0);
    expectUnitNormalsAndWinding(m);
    for (int i = 0; i < m.count; i++) {
      for (int k = 0; k < 9; k++) {
        EXPECT_EQ(m.nc[i][k], k % 3 == 2 ? 1.0f : 0.0f) << "triangle " << i;
        EXPECT_EQ(m.op[i][k / 3 * 3 + 2], 0.0f) << "triangle " << i;
      }
      EXPECT_TRUE(sameNormal(m.realn[i], m.nc[i])) << "triangle " << i;
      for (int j = i + 1; j < m.count; j++)
        EXPECT_FALSE(interiorsOverlap(m.op[i], m.op[j])) << "triangles " << i << ", " << j;
    }
    Box b = extent(m);
    EXPECT_GE(b.min[1], -0.30);
    EXPECT_LE(b.max[1], 0.32);
    EXPECT_LE(b.max[0] - b.min[0], 0.55);
    EXPECT_GT(b.max[0] - b.min[0], 0.2);
    // As the scene places it: clear of the letter before it.
    EXPECT_GT(b.min[0] + g.offset, previous_right + 0.01) << "touches the letter before it";
    previous_right = b.max[0] + g.offset;
    const float low[3] = {(float)(b.min[0] + g.offset), (float)b.min[1], 0};
    const float high[3] = {(float)(b.max[0] + g.offset), (float)b.max[1], 0};
    word.add(low);
    word.add(high);
  }
  // The box the planar texture mapping assumes, to six decimals.
  expectExtent(word, {-2.376711, -0.296261, 0}, {2.333038, 0.317921, 0}, 5e-7);
}

// The engine's reader gives the very arrays and names the loaders build.
void expectReaderMatchesLoader(const std::string &path, int number, MeshLoader loader) {
  SCOPED_TRACE(testing::Message() << path << " object " << number);
  Mesh from_loader, read;
  from_loader.load(loader);
  char node_name[256] = {0};
  kroLoadMeshxFromASE(&read.op, &read.nc, &read.realn, &read.tc, number, path.c_str(), node_name,
                      &read.count);
  ASSERT_EQ(read.count, from_loader.count);
  EXPECT_EQ(std::string(node_name), from_loader.name);
  for (int i = 0; i < read.count; i++) {
    ASSERT_EQ(memcmp(read.op[i], from_loader.op[i], 9 * sizeof(float)), 0) << "row " << i;
    ASSERT_EQ(memcmp(read.nc[i], from_loader.nc[i], 9 * sizeof(float)), 0) << "row " << i;
    ASSERT_EQ(memcmp(read.realn[i], from_loader.realn[i], 3 * sizeof(float)), 0) << "row " << i;
  }
}

TEST(MeshAssets, EngineReaderGivesWhatTheLoadersBuild) {
  const std::string bits = std::string(KRO_SOURCE_DIR) + "/assets/bits.ase";
  const std::string word = std::string(KRO_SOURCE_DIR) + "/assets/zanyklump.ase";
  kroTestUseCountingHook();
  EXPECT_EQ(kroObjectsInASE(bits.c_str()), 2);
  EXPECT_EQ(kroObjectsInASE(word.c_str()), 9);
  expectReaderMatchesLoader(bits, 1, loadMeshBit0);
  expectReaderMatchesLoader(bits, 2, loadMeshBit1);
  for (int i = 0; i < 9; i++)
    expectReaderMatchesLoader(word, i + 1, GLYPHS[i].loader);
  EXPECT_EQ(kroTestHookCalls, 0);
  kroSetErrorFunc(nullptr);
}

} // namespace
