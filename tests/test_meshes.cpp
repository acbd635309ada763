// The intro's embedded meshes: counts and node names, unit normals, winding,
// the digits' shapes and extents, the glyphs' flatness, and the logo word as
// the scene places it. The committed models are also read back with the
// engine's ASE reader, which must give exactly what the loaders build.
#include "gl_context.h"
#include "meshes.h"

#include <gtest/gtest.h>

#include <math.h>
#include <string.h>

#include <string>
#include <vector>

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
    kroDestroyObject(&op, count);
    kroDestroyObject(&nc, count);
    kroDestroyObject(&realn, count);
    kroDestroyObject(&tc, count);
  }
  void load(MeshLoader loader) {
    char node_name[32];
    memset(node_name, '#', sizeof node_name);
    loader(&op, &nc, &realn, &tc, node_name, &count);
    name = std::string(node_name, strnlen(node_name, sizeof node_name));
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
};
Vec at(const float *row, int k) {
  return {row[k * 3], row[k * 3 + 1], row[k * 3 + 2]};
}
Vec sub(Vec a, Vec b) {
  return {a.x - b.x, a.y - b.y, a.z - b.z};
}
Vec cross(Vec a, Vec b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double dot(Vec a, Vec b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}
double length(Vec a) {
  return sqrt(dot(a, a));
}

struct Box {
  double min[3] = {INFINITY, INFINITY, INFINITY}, max[3] = {-INFINITY, -INFINITY, -INFINITY};
};
Box extent(const Mesh &m) {
  Box b;
  for (int i = 0; i < m.count; i++)
    for (int k = 0; k < 9; k++) {
      b.min[k % 3] = fmin(b.min[k % 3], m.op[i][k]);
      b.max[k % 3] = fmax(b.max[k % 3], m.op[i][k]);
    }
  return b;
}

// Every normal of unit length, and every triangle counterclockwise seen from
// the side its real normal points to, the real normal square to the triangle.
void expectUnitNormalsAndWinding(const Mesh &m) {
  for (int i = 0; i < m.count; i++) {
    Vec real = at(m.realn[i], 0);
    EXPECT_NEAR(length(real), 1.0, 1e-5) << m.name << " triangle " << i;
    for (int k = 0; k < 3; k++)
      EXPECT_NEAR(length(at(m.nc[i], k)), 1.0, 1e-5) << m.name << " triangle " << i;
    Vec n = cross(sub(at(m.op[i], 1), at(m.op[i], 0)), sub(at(m.op[i], 2), at(m.op[i], 0)));
    ASSERT_GT(length(n), 1e-9) << m.name << " triangle " << i << " is degenerate";
    EXPECT_GT(dot(n, real) / length(n), 0.9999) << m.name << " triangle " << i;
  }
}

bool sameNormal(const float *a, const float *b) {
  return a[0] == b[0] && a[1] == b[1] && a[2] == b[2];
}

TEST(DigitMeshes, CountsAndNamesShareOneBuffer) {
  kroObject op = nullptr, nc = nullptr, realn = nullptr, tc = nullptr;
  char node_name[32];
  memset(node_name, '#', sizeof node_name);
  int triangles = -1;
  loadMeshBit0(&op, &nc, &realn, &tc, node_name, &triangles);
  EXPECT_STREQ(node_name, "zero");
  EXPECT_EQ(triangles, 144);
  // Every row is there: the last float of each is writable (checked by the
  // sanitizer build), texture rows included.
  for (int i = 0; i < triangles; i++)
    tc[i][5] = op[i][8] + nc[i][8] + realn[i][2];
  kroDestroyObject(&op, 144);
  kroDestroyObject(&nc, 144);
  kroDestroyObject(&realn, 144);
  kroDestroyObject(&tc, 144);

  loadMeshBit1(&op, &nc, &realn, &tc, node_name, &triangles);
  EXPECT_STREQ(node_name, "one"); // its own terminator hides the rest of "zero"
  EXPECT_EQ(triangles, 12);
  kroDestroyObject(&op, 12);
  kroDestroyObject(&nc, 12);
  kroDestroyObject(&realn, 12);
  kroDestroyObject(&tc, 12);
}

TEST(DigitMeshes, ZeroIsAnExtrudedEllipticalRing) {
  Mesh zero;
  zero.load(loadMeshBit0);
  ASSERT_EQ(zero.count, 144);
  expectUnitNormalsAndWinding(zero);
  Box b = extent(zero);
  EXPECT_NEAR(b.min[0], -0.9848, 1e-4);
  EXPECT_NEAR(b.max[0], 0.9848, 1e-4);
  EXPECT_NEAR(b.min[1], -1.4479, 1e-6);
  EXPECT_NEAR(b.max[1], 1.4479, 1e-6);
  EXPECT_EQ(b.min[2], 0.0);
  EXPECT_EQ(b.max[2], 0.75f);

  int flat = 0, front = 0, back = 0;
  for (int i = 0; i < zero.count; i++) {
    const float *real = zero.realn[i];
    for (int k = 0; k < 3; k++) {
      // On the outer edge (ellipse radius 1) or the inner one (0.76), at one
      // of the 18 angles 10, 30, .., 350 degrees.
      Vec p = at(zero.op[i], k);
      double r = hypot(p.x, p.y / 1.4479);
      EXPECT_TRUE(fabs(r - 1.0) < 2e-6 || fabs(r - 0.76) < 2e-6) << "triangle " << i;
      double degrees = atan2(p.y / 1.4479, p.x) * 180.0 / 3.14159265358979323846;
      double step = fmod(degrees + 360.0 - 10.0, 20.0);
      EXPECT_TRUE(step < 1e-3 || step > 20.0 - 1e-3) << "triangle " << i << " at " << degrees;
    }
    bool all_equal = true;
    for (int k = 0; k < 3; k++)
      all_equal = all_equal && sameNormal(zero.nc[i] + 3 * k, real);
    if (all_equal) {
      flat++;
      // Flat-shaded triangles are exactly those of the two flat faces.
      EXPECT_EQ(real[0], 0.0f);
      EXPECT_EQ(real[1], 0.0f);
      EXPECT_EQ(fabs(real[2]), 1.0f);
      float z = real[2] > 0 ? 0.75f : 0.0f;
      for (int k = 0; k < 3; k++)
        EXPECT_EQ(zero.op[i][k * 3 + 2], z) << "triangle " << i;
      (real[2] > 0 ? front : back)++;
    } else {
      // Walls: horizontal real and vertex normals.
      EXPECT_EQ(real[2], 0.0f) << "triangle " << i;
      for (int k = 0; k < 3; k++)
        EXPECT_EQ(zero.nc[i][k * 3 + 2], 0.0f) << "triangle " << i;
    }
  }
  EXPECT_EQ(flat, 72);
  EXPECT_EQ(front, 36);
  EXPECT_EQ(back, 36);
}

TEST(DigitMeshes, OneIsAFlatShadedBox) {
  Mesh one;
  one.load(loadMeshBit1);
  ASSERT_EQ(one.count, 12);
  expectUnitNormalsAndWinding(one);
  Box b = extent(one);
  const double expected_min[3] = {-0.2813, -1.429, 0.0122},
               expected_max[3] = {0.2813, 1.429, 0.7622};
  for (int a = 0; a < 3; a++) {
    EXPECT_NEAR(b.min[a], expected_min[a], 1e-6);
    EXPECT_NEAR(b.max[a], expected_max[a], 1e-6);
  }
  int per_direction[6] = {0};
  for (int i = 0; i < one.count; i++) {
    const float *real = one.realn[i];
    for (int k = 0; k < 3; k++)
      EXPECT_TRUE(sameNormal(one.nc[i] + 3 * k, real)) << "triangle " << i;
    int axis = -1;
    for (int a = 0; a < 3; a++)
      if (fabs(real[a]) == 1.0f)
        axis = a;
    ASSERT_GE(axis, 0) << "triangle " << i << " is not square to an axis";
    per_direction[axis * 2 + (real[axis] > 0)]++;
    // All three corners lie on the box face the normal names.
    double face = real[axis] > 0 ? b.max[axis] : b.min[axis];
    for (int k = 0; k < 3; k++)
      EXPECT_EQ(one.op[i][k * 3 + axis], (float)face) << "triangle " << i;
  }
  for (int d = 0; d < 6; d++)
    EXPECT_EQ(per_direction[d], 2) << "direction " << d;
}

// Strict overlap of two triangles' interiors in the xy plane (separating axis
// test over the six edge normals); touching along an edge or a corner is not
// overlap.
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

TEST(GlyphMeshes, FlatLettersFacingPlusZ) {
  for (const Glyph &g : GLYPHS) {
    Mesh m;
    m.load(g.loader);
    EXPECT_EQ(m.name, g.name);
    ASSERT_GT(m.count, 0) << g.name;
    expectUnitNormalsAndWinding(m);
    for (int i = 0; i < m.count; i++) {
      for (int k = 0; k < 3; k++) {
        EXPECT_EQ(m.op[i][k * 3 + 2], 0.0f) << g.name << " triangle " << i;
        EXPECT_EQ(m.realn[i][k], k == 2 ? 1.0f : 0.0f) << g.name << " triangle " << i;
      }
      for (int k = 0; k < 9; k++)
        EXPECT_EQ(m.nc[i][k], k % 3 == 2 ? 1.0f : 0.0f) << g.name << " triangle " << i;
    }
    Box b = extent(m);
    EXPECT_GE(b.min[1], -0.30) << g.name;
    EXPECT_LE(b.max[1], 0.32) << g.name;
    EXPECT_LE(b.max[0] - b.min[0], 0.55) << g.name;
    EXPECT_GT(b.max[0] - b.min[0], 0.2) << g.name;
    // A clean triangulation: no two triangles of the letter cover the same spot.
    for (int i = 0; i < m.count; i++)
      for (int j = i + 1; j < m.count; j++)
        EXPECT_FALSE(interiorsOverlap(m.op[i], m.op[j]))
            << g.name << " triangles " << i << ", " << j;
  }
}

TEST(GlyphMeshes, PlacedWordFillsTheTextureBoxExactlyWithoutOverlap) {
  Box word;
  double previous_right = -INFINITY;
  for (const Glyph &g : GLYPHS) {
    Mesh m;
    m.load(g.loader);
    kroTranslateObject(m.op, m.count, g.offset, 0.0f, -2.3f); // as the scene places it
    Box b = extent(m);
    EXPECT_GT(b.min[0], previous_right + 0.01) << g.name << " touches the letter before it";
    previous_right = b.max[0];
    for (int a = 0; a < 3; a++) {
      word.min[a] = fmin(word.min[a], b.min[a]);
      word.max[a] = fmax(word.max[a], b.max[a]);
    }
  }
  // The bounding box that the planar texture mapping assumes, to six decimals.
  EXPECT_NEAR(word.min[0], -2.376711, 5e-7);
  EXPECT_NEAR(word.max[0], 2.333038, 5e-7);
  EXPECT_NEAR(word.min[1], -0.296261, 5e-7);
  EXPECT_NEAR(word.max[1], 0.317921, 5e-7);
  EXPECT_EQ(word.min[2], -2.3f);
  EXPECT_EQ(word.max[2], -2.3f);
}

// The committed models, read by the engine's own ASE reader, give the very
// arrays and names that the generated loaders build.
void expectReaderMatchesLoader(const char *path, int number, MeshLoader loader) {
  Mesh from_loader;
  from_loader.load(loader);
  Mesh read;
  char node_name[256] = {0};
  kroLoadMeshxFromASE(&read.op, &read.nc, &read.realn, &read.tc, number, path, node_name,
                      &read.count);
  ASSERT_EQ(read.count, from_loader.count) << path << " object " << number;
  EXPECT_EQ(std::string(node_name), from_loader.name);
  for (int i = 0; i < read.count; i++) {
    for (int k = 0; k < 9; k++) {
      ASSERT_EQ(read.op[i][k], from_loader.op[i][k]) << path << " " << number << " row " << i;
      ASSERT_EQ(read.nc[i][k], from_loader.nc[i][k]) << path << " " << number << " row " << i;
    }
    for (int k = 0; k < 3; k++)
      ASSERT_EQ(read.realn[i][k], from_loader.realn[i][k]) << path << " " << number << " row " << i;
  }
}

TEST(MeshAssets, EngineReaderGivesWhatTheLoadersBuild) {
  const std::string bits = std::string(KRO_SOURCE_DIR) + "/assets/bits.ase";
  const std::string word = std::string(KRO_SOURCE_DIR) + "/assets/zanyklump.ase";
  kroTestUseCountingHook();
  EXPECT_EQ(kroObjectsInASE(bits.c_str()), 2);
  EXPECT_EQ(kroObjectsInASE(word.c_str()), 9);
  expectReaderMatchesLoader(bits.c_str(), 1, loadMeshBit0);
  expectReaderMatchesLoader(bits.c_str(), 2, loadMeshBit1);
  for (int i = 0; i < 9; i++)
    expectReaderMatchesLoader(word.c_str(), i + 1, GLYPHS[i].loader);
  EXPECT_EQ(kroTestHookCalls, 0);
  kroSetErrorFunc(nullptr);
}

} // namespace
