// Heightmaps: point values from the sample files, normals from the heights, the drawn vertex
// order read back through GL feedback, and refused files.
#include "gl_context.h"

#include <math.h>

namespace {

struct HeightmapTest : kroTestFailureFixture {};

const std::string kData = KRO_TEST_DATA "/";
const float kOrigin[3] = {0, 0, 0};

// Loads a file; its points, or with normals_wanted its normals, flattened [x][y][axis].
std::vector<float> load(const char *name, const float *offset, const float *scale,
                        bool normals_wanted) {
  int32_t size[2];
  std::string path = kData + name;
  float ***normals = nullptr,
        ***grid = normals_wanted ? kroLoadHightmapAndNormalsFromBMP(path.c_str(), offset, scale,
                                                                    size, &normals)
                                 : kroLoadHightmapFromBMP(path.c_str(), offset, scale, size),
        ***got = normals_wanted ? normals : grid;
  std::vector<float> out;
  for (int i = 0; got && i < size[0] * size[1] * 3; i++)
    out.push_back(got[i / 3 / size[1]][i / 3 % size[1]][i % 3]);
  kroDestroyHightmap(&grid, size);
  kroDestroyHightmap(&normals, size);
  return out;
}

// Point [x][y] is (scale X x / width, scale Z blue / 255, scale Y y / height) plus the offset;
// normals are those of the surface through the points.
TEST_F(HeightmapTest, PointsFromPixelAndBlueNormalsFromTheSlope) {
  const float offset[3] = {10, 20, 30}, padded[3] = {6, 4, 51};
  // Blue 0, 1, 2 in the bottom row, 10, 11, 12 in the top one.
  EXPECT_EQ(load("bmp/padded-3x2.bmp", offset, padded, false),
            (std::vector<float>{10, 20, 30, 10, 22, 32, 12, 20.2f, 30, 12, 22.2f, 32, 14, 20.4f, 30,
                                14, 22.4f, 32}));
  // Blue = 40 x + 10 y; with these scales the plane Y = 40 X + 10 Z, normal (-40, 1, -10).
  const float scale[3] = {3, 3, 255};
  const double length = sqrt(40.0 * 40 + 1 + 10 * 10), n[3] = {-40, 1, -10};
  std::vector<float> slope = load("heightmap/slope-3x3.bmp", kOrigin, scale, true);
  ASSERT_EQ(slope.size(), 27u);
  for (int i = 0; i < 27; i++)
    EXPECT_NEAR(slope[i], n[i % 3] / length, 1e-6) << i;
  EXPECT_EQ(kroTestHookCalls, 0);
}

// 10 x + y for each vertex [x][y] `draw` sends, triangle after triangle, for a
// grid whose point [x][y] lands at window position (8 + 16 x, 8 + 16 y).
std::vector<int> feedback(const std::function<void()> &draw) {
  std::vector<int> vertices;
  for (auto &p : kroTestFeedback(GL_2D, draw))
    vertices.push_back(10 * (int)lroundf((p[0] - 8) / 16) + (int)lroundf((p[1] - 8) / 16));
  return vertices;
}

TEST_F(HeightmapTest, DrawingSendsTwoTrianglesPerCellInOrder) {
  ASSERT_TRUE(kroTestOpenGL());
  float cells[3][2][3], *points[3][2], **grid[3];
  for (int i = 0; i < 6; i++) {
    float *p = points[i / 2][i % 2] = cells[i / 2][i % 2];
    p[0] = 0.5f * (i / 2) - 0.75f, p[1] = 0.5f * (i % 2) - 0.75f, p[2] = 0;
    grid[i / 2] = points[i / 2];
  }
  int32_t two[2] = {2, 2}, three[2] = {3, 2}, thin[2] = {1, 2}, flat[2] = {3, 1};
  const std::vector<int> cell = {11, 10, 0, 1, 11, 0},
                         both = {11, 10, 0, 1, 11, 0, 21, 20, 10, 11, 21, 10};
  EXPECT_EQ(feedback([&] { kroDrawHightmap(grid, two); }), cell);
  EXPECT_EQ(feedback([&] { kroDrawHightmap(grid, three); }), both); // x outside, y inside
  EXPECT_TRUE(feedback([&] { kroDrawHightmap(grid, thin), kroDrawHightmap(grid, flat); }).empty());
  // The points as normals: the same vertices; each cell sends its [x+1][y+1], so [2][1] last.
  EXPECT_EQ(feedback([&] { kroDrawHightmapWithNormals(grid, three, grid); }), both);
  GLfloat current[4];
  glGetFloatv(GL_CURRENT_NORMAL, current);
  EXPECT_TRUE(current[0] == 0.25f && current[1] == -0.25f) << current[0] << "," << current[1];
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

TEST_F(HeightmapTest, BadFilesAndEveryFailedAllocationLeaveNothing) {
  int32_t size[2];
  float ***normals = nullptr, ***grid = nullptr, **stale = nullptr;
  auto fails = [&](const std::string &path, bool with_normals) {
    return [&, path, with_normals] {
      grid = with_normals
                 ? kroLoadHightmapAndNormalsFromBMP(path.c_str(), kOrigin, kOrigin, size, &normals)
                 : kroLoadHightmapFromBMP(path.c_str(), kOrigin, kOrigin, size);
    };
  };
  // The reader's reason is passed on; a missing file gets the plain message.
  const std::pair<const char *, const char *> cases[] = {
      {"bmp/bad-signature.bmp", ": not a BMP file"}, {"heightmap/missing.bmp", ""}};
  for (auto &[name, reason] : cases)
    for (bool with_normals : {false, true}) {
      size[0] = 5, normals = &stale; // both must be cleared
      kroTestExpectReport(fails(kData + name, with_normals),
                          "Error in reading hightmap from " + kData + name + reason + "\n");
      EXPECT_TRUE(grid == nullptr && size[0] == 0 && (!with_normals || !normals)) << name;
    }
  // Every allocation of a good load, failing in turn.
  kroFailAllocationAfter(0);
  ::load("heightmap/sample-4x2.bmp", kOrigin, kOrigin, true);
  long allocations = kroFailAllocationAfter(0);
  ASSERT_GT(allocations, 2 * 8);
  for (long n = 1; n <= allocations; n++) {
    kroTestExpectReport(fails(kData + "heightmap/sample-4x2.bmp", true),
                        "Error during allocating memory in kroLoadHightmapAndNormalsFromBMP(..)\n",
                        n);
    EXPECT_TRUE(grid == nullptr && normals == nullptr) << n;
  }
}

} // namespace
