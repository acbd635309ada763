// Heightmaps: point values from the sample file, normals from the heights,
// the drawn vertex order read back through GL feedback, and refused files.
#include "gl_context.h"
#include "kro_internal.h"

#include <gtest/gtest.h>

#include <math.h>
#include <string>
#include <vector>

namespace {

struct HeightmapTest : kroTestFailureFixture {};

std::string data(const std::string &name) {
  return std::string(KRO_TEST_DATA "/") + name;
}

TEST_F(HeightmapTest, SamplePointsTakeXZFromThePixelAndYFromBlue) {
  const float offset[3] = {0, 0, 0}, scale[3] = {4, 2, 1};
  int32_t size[2];
  float ***grid =
      kroLoadHightmapFromBMP(data("heightmap/sample-4x2.bmp").c_str(), offset, scale, size);
  ASSERT_NE(grid, nullptr);
  ASSERT_EQ(size[0], 4);
  ASSERT_EQ(size[1], 2);
  for (int y = 0; y < 2; y++)
    for (int x = 0; x < 4; x++) {
      EXPECT_FLOAT_EQ(grid[x][y][0], (float)x);
      EXPECT_FLOAT_EQ(grid[x][y][1], (x + y) % 2 == 0 ? 1.0f : 0.0f) << x << "," << y;
      EXPECT_FLOAT_EQ(grid[x][y][2], (float)y);
    }
  kroDestroyHightmap(&grid, size);
  EXPECT_EQ(grid, nullptr);

  // Offsets are added after scaling; a padded 3-wide file reads its rows.
  const float moved[3] = {10, 20, 30}, stretched[3] = {6, 4, 51};
  grid = kroLoadHightmapFromBMP(data("bmp/padded-3x2.bmp").c_str(), moved, stretched, size);
  ASSERT_NE(grid, nullptr);
  ASSERT_EQ(size[0], 3);
  for (int y = 0; y < 2; y++)
    for (int x = 0; x < 3; x++) {
      EXPECT_FLOAT_EQ(grid[x][y][0], 6.0f * x / 3 + 10);
      EXPECT_FLOAT_EQ(grid[x][y][1], (float)(51.0 * (10 * y + x) / 255 + 20));
      EXPECT_FLOAT_EQ(grid[x][y][2], 4.0f * y / 2 + 30);
    }
  kroDestroyHightmap(&grid, size);
  EXPECT_EQ(kroTestHookCalls, 0);
}

TEST_F(HeightmapTest, NormalsAreUnitAndFollowTheSlope) {
  // Blue = 40 x + 10 y; with these scales X = x, Z = y, Y = blue: the plane
  // Y = 40 X + 10 Z, whose upward normal is (-40, 1, -10) normalised.
  const float offset[3] = {0, 0, 0}, scale[3] = {3, 3, 255};
  int32_t size[2];
  float ***normals = nullptr;
  float ***grid = kroLoadHightmapAndNormalsFromBMP(data("heightmap/slope-3x3.bmp").c_str(), offset,
                                                   scale, size, &normals);
  ASSERT_NE(grid, nullptr);
  ASSERT_NE(normals, nullptr);
  double length = sqrt(40.0 * 40 + 1 + 10 * 10);
  for (int x = 0; x < 3; x++)
    for (int y = 0; y < 3; y++) {
      EXPECT_NEAR(normals[x][y][0], -40 / length, 1e-6) << x << "," << y;
      EXPECT_NEAR(normals[x][y][1], 1 / length, 1e-6);
      EXPECT_NEAR(normals[x][y][2], -10 / length, 1e-6);
    }
  kroDestroyHightmap(&grid, size);
  kroDestroyHightmap(&normals, size);

  // A bumpy map: every normal unit length and pointing up; a single column
  // gets straight up.
  const float flat[3] = {4, 2, 1};
  grid = kroLoadHightmapAndNormalsFromBMP(data("heightmap/sample-4x2.bmp").c_str(), offset, flat,
                                          size, &normals);
  ASSERT_NE(normals, nullptr);
  for (int x = 0; x < 4; x++)
    for (int y = 0; y < 2; y++) {
      const float *n = normals[x][y];
      EXPECT_NEAR(n[0] * n[0] + n[1] * n[1] + n[2] * n[2], 1.0, 1e-5);
      EXPECT_GT(n[1], 0.0f);
    }
  kroDestroyHightmap(&grid, size);
  kroDestroyHightmap(&normals, size);
  grid = kroLoadHightmapAndNormalsFromBMP(data("heightmap/column-1x3.bmp").c_str(), offset, flat,
                                          size, &normals);
  ASSERT_NE(normals, nullptr);
  EXPECT_FLOAT_EQ(normals[0][1][1], 1.0f);
  kroDestroyHightmap(&grid, size);
  kroDestroyHightmap(&normals, size);
  EXPECT_EQ(kroTestHookCalls, 0);
}

// A grid whose point [x][y] sits at window position (8 + 16 x, 8 + 16 y).
std::vector<std::vector<std::vector<float>>> windowGrid(int width, int height) {
  std::vector<std::vector<std::vector<float>>> cells(width);
  for (int x = 0; x < width; x++)
    for (int y = 0; y < height; y++)
      cells[x].push_back({8.0f + 16 * x, 8.0f + 16 * y, 0.0f});
  return cells;
}

// Draws through GL feedback; returns the grid indices of the vertices sent,
// triangle after triangle.
template <typename Draw> std::vector<std::pair<int, int>> feedback(Draw draw) {
  std::vector<GLfloat> buffer(4096);
  glViewport(0, 0, 64, 64);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, 64, 0, 64, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glDisable(GL_CULL_FACE);
  glFeedbackBuffer((GLsizei)buffer.size(), GL_3D, buffer.data());
  glRenderMode(GL_FEEDBACK);
  draw();
  int used = glRenderMode(GL_RENDER);
  std::vector<std::pair<int, int>> vertices;
  for (int i = 0; i < used;) {
    EXPECT_EQ(buffer[i], (GLfloat)GL_POLYGON_TOKEN);
    int count = (int)buffer[i + 1];
    for (int v = 0; v < count; v++) {
      const GLfloat *p = &buffer[i + 2 + v * 3];
      vertices.push_back({(int)lroundf((p[0] - 8) / 16), (int)lroundf((p[1] - 8) / 16)});
    }
    i += 2 + count * 3;
  }
  return vertices;
}

TEST_F(HeightmapTest, DrawingSendsTwoTrianglesPerCellInOrder) {
  ASSERT_TRUE(kroTestOpenGL());
  auto cells = windowGrid(3, 2);
  std::vector<float **> columns(3);
  std::vector<std::vector<float *>> points(3);
  for (int x = 0; x < 3; x++) {
    for (auto &p : cells[x])
      points[x].push_back(p.data());
    columns[x] = points[x].data();
  }
  float ***grid = columns.data();

  int32_t two[2] = {2, 2};
  std::vector<std::pair<int, int>> want = {{1, 1}, {1, 0}, {0, 0}, {0, 1}, {1, 1}, {0, 0}};
  EXPECT_EQ(feedback([&] { kroDrawHightmap(grid, two); }), want);

  // Columns outside, rows inside.
  int32_t three[2] = {3, 2};
  std::vector<std::pair<int, int>> both = want;
  for (auto v : want)
    both.push_back({v.first + 1, v.second});
  EXPECT_EQ(feedback([&] { kroDrawHightmap(grid, three); }), both);

  int32_t thin[2] = {1, 2}, flat[2] = {3, 1};
  EXPECT_TRUE(feedback([&] { kroDrawHightmap(grid, thin); }).empty());
  EXPECT_TRUE(feedback([&] { kroDrawHightmap(grid, flat); }).empty());

  // With normals: the same vertices; each cell carries its [x+1][y+1] normal,
  // so the last one sent is that of the last cell.
  float up[3] = {0, 1, 0}, last[3] = {0.6f, 0.0f, 0.8f};
  std::vector<float *> normal_column = {up, up};
  std::vector<float *> last_column = {up, last};
  float **normal_columns[3] = {normal_column.data(), normal_column.data(), last_column.data()};
  EXPECT_EQ(feedback([&] { kroDrawHightmapWithNormals(grid, three, normal_columns); }), both);
  GLfloat current[4];
  glGetFloatv(GL_CURRENT_NORMAL, current);
  EXPECT_FLOAT_EQ(current[0], 0.6f);
  EXPECT_FLOAT_EQ(current[2], 0.8f);
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

TEST_F(HeightmapTest, BadFilesAreRefusedByBothLoaders) {
  struct {
    const char *name, *reason;
  } cases[] = {
      {"bmp/bad-signature.bmp", "not a BMP file"},
      {"bmp/bits-32.bmp", "not 24 bits per pixel"},
      {"bmp/compressed.bmp", "compressed pixel data"},
      {"bmp/zero-width.bmp", "bad width or height"},
      {"bmp/overflow.bmp", "bad width or height"},
      {"bmp/larger-than-file.bmp", "pixel data cut short"},
      {"bmp/truncated.bmp", "pixel data cut short"},
      {"bmp/header-cut.bmp", "not a BMP file"},
  };
  const float offset[3] = {0, 0, 0}, scale[3] = {1, 1, 1};
  int calls = 0;
  for (auto &c : cases) {
    std::string path = data(c.name);
    for (int with_normals = 0; with_normals < 2; with_normals++) {
      int32_t size[2] = {5, 5};
      float ***normals = (float ***)&calls; // must be cleared
      testing::internal::CaptureStdout();
      float ***grid = with_normals ? kroLoadHightmapAndNormalsFromBMP(path.c_str(), offset, scale,
                                                                      size, &normals)
                                   : kroLoadHightmapFromBMP(path.c_str(), offset, scale, size);
      EXPECT_EQ(testing::internal::GetCapturedStdout(),
                "Error in reading hightmap from " + path + ": " + c.reason + "\n");
      EXPECT_EQ(grid, nullptr) << c.name;
      EXPECT_EQ(size[0], 0);
      if (with_normals) {
        EXPECT_EQ(normals, nullptr);
      }
      EXPECT_EQ(kroTestHookCalls, ++calls);
    }
  }
  std::string missing = data("heightmap/missing.bmp");
  int32_t size[2];
  testing::internal::CaptureStdout();
  EXPECT_EQ(kroLoadHightmapFromBMP(missing.c_str(), offset, scale, size), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Error in reading hightmap from " + missing + "\n");
}

TEST_F(HeightmapTest, EveryFailedAllocationLeavesNothing) {
  const float offset[3] = {0, 0, 0}, scale[3] = {1, 1, 1};
  std::string path = data("heightmap/sample-4x2.bmp");
  int32_t size[2];
  float ***normals = nullptr;
  kroFailAllocationAfter(0);
  float ***grid = kroLoadHightmapAndNormalsFromBMP(path.c_str(), offset, scale, size, &normals);
  long allocations = kroFailAllocationAfter(0);
  ASSERT_GT(allocations, 2 * 8);
  kroDestroyHightmap(&grid, size);
  kroDestroyHightmap(&normals, size);
  for (long n = 1; n <= allocations; n++) {
    kroFailAllocationAfter(n);
    testing::internal::CaptureStdout();
    grid = kroLoadHightmapAndNormalsFromBMP(path.c_str(), offset, scale, size, &normals);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(grid, nullptr) << n;
    EXPECT_EQ(normals, nullptr) << n;
    EXPECT_EQ(out, "Error during allocating memory in kroLoadHightmapAndNormalsFromBMP(..)\n");
  }
  EXPECT_EQ(kroTestHookCalls, allocations);
}

} // namespace
