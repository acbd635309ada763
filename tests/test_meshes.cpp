// The intro's embedded meshes: counts, unit normals, winding, shapes and the
// word's extent. (That they are the committed models, written by krotool
// mesh-src, is checked by the GeneratedMeshes tests.)
#include "gl_context.h"
#include "meshes.h"

#include <math.h>
#include <string.h>

#include <algorithm>

namespace {

typedef void (*MeshLoader)(kroObject *, kroObject *, kroObject *, kroObject *, char *, int *);

// One loaded mesh; its arrays are released with it.
struct Mesh {
  kroObject op = nullptr, nc = nullptr, realn = nullptr, tc = nullptr;
  int count = 0;
  std::string name;
  ~Mesh() {
    for (kroObject *a : {&op, &nc, &realn, &tc})
      kroDestroyObject(a, count);
  }
  void load(MeshLoader loader) {
    char node_name[32];
    memset(node_name, '#', sizeof node_name);
    loader(&op, &nc, &realn, &tc, node_name, &count);
    name = std::string(node_name, strnlen(node_name, sizeof node_name));
    for (int i = 0; i < count; i++) // every row is there to write (sanitizer build)
      tc[i][5] = op[i][8] + nc[i][8] + realn[i][2];
  }
};

// The letters' loaders, each with its x offset in the word.
const std::pair<MeshLoader, float> kGlyphs[9] = {
    {loadMeshFontZ, -2.1494f}, {loadMeshFontA, -1.8154f}, {loadMeshFontN, -1.4694f},
    {loadMeshFontY, -0.8329f}, {loadMeshFontK, -0.1934f}, {loadMeshFontL, 0.4276f},
    {loadMeshFontU, 0.9806f},  {loadMeshFontM, 1.551f},   {loadMeshFontP, 2.1369f}};

struct Vec {
  double x, y, z;
  static Vec of(const float *p) { return {p[0], p[1], p[2]}; }
  Vec operator-(Vec b) const { return {x - b.x, y - b.y, z - b.z}; }
  double dot(Vec b) const { return x * b.x + y * b.y + z * b.z; }
  Vec cross(Vec b) const { return {y * b.z - z * b.y, z * b.x - x * b.z, x * b.y - y * b.x}; }
};

// Bounding box {min x, y, z, max x, y, z} of the corners moved by dx, grown from `box`.
std::vector<double> extent(const Mesh &m, float dx = 0, std::vector<double> box = {NAN}) {
  box.resize(6, NAN); // fmin and fmax pass over NaN
  for (int i = 0; i < m.count * 9; i++) {
    float v = m.op[i / 9][i % 9] + (i % 3 ? 0 : dx);
    box[i % 3] = fmin(box[i % 3], v);
    box[i % 3 + 3] = fmax(box[i % 3 + 3], v);
  }
  return box;
}

void expectExtent(const std::vector<double> &box, const std::vector<double> &want, double tol) {
  for (int a = 0; a < 6; a++)
    EXPECT_NEAR(box[a], want[a], tol) << "bound " << a;
}

// Unit normals; every triangle counterclockwise seen from the side its real
// normal points to, the real normal square to it.
void expectUnitNormalsAndWinding(const Mesh &m) {
  for (int i = 0; i < m.count; i++) {
    SCOPED_TRACE(testing::Message() << m.name << " triangle " << i);
    Vec real = Vec::of(m.realn[i]), a = Vec::of(m.op[i]);
    Vec n = (Vec::of(m.op[i] + 3) - a).cross(Vec::of(m.op[i] + 6) - a);
    EXPECT_NEAR(real.dot(real), 1.0, 2e-5);
    for (int k = 0; k < 9; k += 3)
      EXPECT_NEAR(Vec::of(m.nc[i] + k).dot(Vec::of(m.nc[i] + k)), 1.0, 2e-5);
    EXPECT_GT(n.dot(real) / sqrt(n.dot(n)), 0.9999); // NaN when degenerate
  }
}

const auto sameNormal = [](const float *a, const float *b) { return std::equal(a, a + 3, b); };

TEST(DigitMeshes, ZeroIsAnExtrudedEllipticalRingOneAFlatShadedBox) {
  Mesh zero, one;
  zero.load(loadMeshBit0);
  one.load(loadMeshBit1);
  ASSERT_TRUE(zero.count == 144 && one.count == 12) << zero.count << ", " << one.count;
  expectUnitNormalsAndWinding(zero);
  expectUnitNormalsAndWinding(one);
  expectExtent(extent(zero), {-0.9848, -1.4479, 0, 0.9848, 1.4479, 0.75}, 1e-4);
  std::vector<double> box = extent(one);
  expectExtent(box, {-0.2813, -1.429, 0.0122, 0.2813, 1.429, 0.7622}, 1e-6);
  int flat_faces[2] = {0, 0}; // back, front
  for (int i = 0; i < zero.count; i++) {
    const float *r = zero.realn[i];
    bool flat = sameNormal(zero.nc[i], r) && std::equal(zero.nc[i] + 3, zero.nc[i] + 9, zero.nc[i]);
    flat_faces[r[2] > 0] += flat;
    // Flat-shaded triangles lie in the two flat faces; the walls' normals are horizontal.
    EXPECT_EQ(flat ? fabs(r[2]) : r[2], flat ? 1.0f : 0.0f) << i;
    for (int k = 2; k < 9; k += 3)
      EXPECT_EQ(flat ? zero.op[i][k] : zero.nc[i][k], flat && r[2] > 0 ? 0.75f : 0) << i;
  }
  EXPECT_TRUE(flat_faces[0] == 36 && flat_faces[1] == 36) << flat_faces[0] << ", " << flat_faces[1];
  for (int i = 0; i < one.count; i++) {
    const float *real = one.realn[i];
    int axis = fabs(real[0]) == 1 ? 0 : fabs(real[1]) == 1 ? 1 : 2;
    for (int k = 0; k < 3; k++) // flat shaded, all corners on the box face the normal names
      EXPECT_TRUE(sameNormal(one.nc[i] + 3 * k, real) && fabs(real[axis]) == 1 &&
                  one.op[i][k * 3 + axis] == (float)box[axis + (real[axis] > 0 ? 3 : 0)])
          << "triangle " << i;
  }
}

TEST(GlyphMeshes, FlatLettersPlacedIntoTheWordsTextureBox) {
  const float up[3] = {0, 0, 1};
  std::vector<double> word;
  for (auto [loader, offset] : kGlyphs) {
    Mesh m;
    m.load(loader);
    expectUnitNormalsAndWinding(m);
    for (int i = 0; i < m.count; i++)
      for (int k = 0; k < 3; k++)
        EXPECT_TRUE(sameNormal(m.nc[i] + 3 * k, up) && sameNormal(m.realn[i], up) &&
                    m.op[i][3 * k + 2] == 0)
            << m.name << " triangle " << i;
    word = extent(m, offset, word);
  }
  // The box the planar texture mapping assumes, to six decimals.
  expectExtent(word, {-2.376711, -0.296261, 0, 2.333038, 0.317921, 0}, 5e-7);
}

} // namespace
