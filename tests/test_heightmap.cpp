// Heightmaps: point values from the sample files, normals from the heights, the drawn vertex
// order read back through GL feedback, and refused files.
#include "gl_context.h"

#include <math.h>
#include <string>
#include <vector>

namespace {

struct HeightmapTest : kroTestFailureFixture {};

const std::string kData = KRO_TEST_DATA "/";
const float kOrigin[3] = {0, 0, 0};

// Point [x][y] is (scale X x / width, scale Z blue / 255, scale Y y / height) plus the offset.
TEST_F(HeightmapTest, PointsTakeXZFromThePixelAndYFromBlue) {
  struct {
    const char *name;
    float offset[3], scale[3];
    int width, blue[8]; // row by row from the bottom
  } cases[] = {
      {"heightmap/sample-4x2.bmp", {0, 0, 0}, {4, 2, 1}, 4, {255, 0, 255, 0, 0, 255, 0, 255}},
      {"bmp/padded-3x2.bmp", {10, 20, 30}, {6, 4, 51}, 3, {0, 1, 2, 10, 11, 12}},
  };
  for (auto &c : cases) {
    SCOPED_TRACE(c.name);
    int32_t size[2];
    float ***grid = kroLoadHightmapFromBMP((kData + c.name).c_str(), c.offset, c.scale, size);
    ASSERT_NE(grid, nullptr);
    ASSERT_TRUE(size[0] == c.width && size[1] == 2);
    for (int y = 0; y < 2; y++)
      for (int x = 0; x < c.width; x++) {
        EXPECT_FLOAT_EQ(grid[x][y][0], c.scale[0] * x / c.width + c.offset[0]);
        EXPECT_FLOAT_EQ(grid[x][y][1], c.scale[2] * c.blue[y * c.width + x] / 255 + c.offset[1]);
        EXPECT_FLOAT_EQ(grid[x][y][2], c.scale[1] * y / 2 + c.offset[2]);
      }
    kroDestroyHightmap(&grid, size);
    EXPECT_EQ(grid, nullptr);
  }
  EXPECT_EQ(kroTestHookCalls, 0);
}

TEST_F(HeightmapTest, NormalsFollowTheSlope) {
  // Blue = 40 x + 10 y; with these scales the plane Y = 40 X + 10 Z, normal (-40, 1, -10).
  const float scale[3] = {3, 3, 255}, flat[3] = {4, 2, 1};
  int32_t size[2];
  float ***normals = nullptr;
  float ***grid = kroLoadHightmapAndNormalsFromBMP((kData + "heightmap/slope-3x3.bmp").c_str(),
                                                   kOrigin, scale, size, &normals);
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
  // A single column gets straight up.
  grid = kroLoadHightmapAndNormalsFromBMP((kData + "heightmap/column-1x3.bmp").c_str(), kOrigin,
                                          flat, size, &normals);
  ASSERT_NE(normals, nullptr);
  EXPECT_FLOAT_EQ(normals[0][1][1], 1.0f);
  kroDestroyHightmap(&grid, size);
  kroDestroyHightmap(&normals, size);
  EXPECT_EQ(kroTestHookCalls, 0);
}

// Draws through GL feedback; returns the grid indices of the vertices sent, triangle after
// triangle, for a grid whose point [x][y] lands at window position (8 + 16 x, 8 + 16 y).
template <typename Draw> std::vector<std::pair<int, int>> feedback(Draw draw) {
  std::vector<GLfloat> buffer(4096);
  glViewport(0, 0, 64, 64); // identity matrices: window x = 32 (1 + x)
  glDisable(GL_CULL_FACE);
  glFeedbackBuffer((GLsizei)buffer.size(), GL_3D, buffer.data());
  glRenderMode(GL_FEEDBACK);
  draw();
  int used = glRenderMode(GL_RENDER);
  std::vector<std::pair<int, int>> vertices;
  for (int i = 0; i < used; i += 2 + 3 * (int)buffer[i + 1]) {
    EXPECT_EQ(buffer[i], (GLfloat)GL_POLYGON_TOKEN);
    for (int v = 0; v < (int)buffer[i + 1]; v++) {
      const GLfloat *p = &buffer[i + 2 + v * 3];
      vertices.push_back({(int)lroundf((p[0] - 8) / 16), (int)lroundf((p[1] - 8) / 16)});
    }
  }
  return vertices;
}

TEST_F(HeightmapTest, DrawingSendsTwoTrianglesPerCellInOrder) {
  ASSERT_TRUE(kroTestOpenGL());
  float cells[3][2][3], *points[3][2], **columns[3];
  for (int x = 0; x < 3; x++) {
    for (int y = 0; y < 2; y++) {
      float *p = points[x][y] = cells[x][y];
      p[0] = 0.5f * x - 0.75f, p[1] = 0.5f * y - 0.75f, p[2] = 0;
    }
    columns[x] = points[x];
  }
  int32_t two[2] = {2, 2}, three[2] = {3, 2}, thin[2] = {1, 2}, flat[2] = {3, 1};
  std::vector<std::pair<int, int>> want = {{1, 1}, {1, 0}, {0, 0}, {0, 1}, {1, 1}, {0, 0}};
  EXPECT_EQ(feedback([&] { kroDrawHightmap(columns, two); }), want);
  std::vector<std::pair<int, int>> both = want; // columns outside, rows inside
  both.insert(both.end(), {{2, 1}, {2, 0}, {1, 0}, {1, 1}, {2, 1}, {1, 0}});
  EXPECT_EQ(feedback([&] { kroDrawHightmap(columns, three); }), both);
  EXPECT_TRUE(feedback([&] { kroDrawHightmap(columns, thin); }).empty());
  EXPECT_TRUE(feedback([&] { kroDrawHightmap(columns, flat); }).empty());

  // With normals: the same vertices; each cell carries its [x+1][y+1] normal, so the last one
  // sent is that of the last cell.
  float up[3] = {0, 1, 0}, last[3] = {0.6f, 0.0f, 0.8f};
  float *normal_column[2] = {up, up}, *last_column[2] = {up, last};
  float **normal_columns[3] = {normal_column, normal_column, last_column};
  EXPECT_EQ(feedback([&] { kroDrawHightmapWithNormals(columns, three, normal_columns); }), both);
  GLfloat current[4];
  glGetFloatv(GL_CURRENT_NORMAL, current);
  EXPECT_TRUE(current[0] == 0.6f && current[2] == 0.8f) << current[0] << "," << current[2];
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

TEST_F(HeightmapTest, BadFilesAndEveryFailedAllocationLeaveNothing) {
  // The reader's reason is passed on; a missing file gets the plain message.
  const std::pair<const char *, const char *> cases[] = {
      {"bmp/bad-signature.bmp", ": not a BMP file"},
      {"bmp/truncated.bmp", ": pixel data cut short"},
      {"heightmap/missing.bmp", ""}};
  int calls = 0;
  for (auto &[name, reason] : cases)
    for (int with_normals = 0; with_normals < 2; with_normals++) {
      std::string path = kData + name;
      int32_t size[2] = {5, 5};
      float ***normals = (float ***)&calls; // must be cleared
      testing::internal::CaptureStdout();
      float ***grid = with_normals ? kroLoadHightmapAndNormalsFromBMP(path.c_str(), kOrigin,
                                                                      kOrigin, size, &normals)
                                   : kroLoadHightmapFromBMP(path.c_str(), kOrigin, kOrigin, size);
      EXPECT_EQ(testing::internal::GetCapturedStdout(),
                "Error in reading hightmap from " + path + reason + "\n");
      EXPECT_TRUE(grid == nullptr && size[0] == 0) << name;
      EXPECT_TRUE(!with_normals || normals == nullptr);
      EXPECT_EQ(kroTestHookCalls, ++calls);
    }

  // Every allocation of a good load, failing in turn.
  std::string path = kData + "heightmap/sample-4x2.bmp";
  int32_t size[2];
  float ***normals = nullptr;
  kroFailAllocationAfter(0);
  float ***grid = kroLoadHightmapAndNormalsFromBMP(path.c_str(), kOrigin, kOrigin, size, &normals);
  long allocations = kroFailAllocationAfter(0);
  ASSERT_GT(allocations, 2 * 8);
  kroDestroyHightmap(&grid, size);
  kroDestroyHightmap(&normals, size);
  for (long n = 1; n <= allocations; n++) {
    kroFailAllocationAfter(n);
    testing::internal::CaptureStdout();
    grid = kroLoadHightmapAndNormalsFromBMP(path.c_str(), kOrigin, kOrigin, size, &normals);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Error during allocating memory in kroLoadHightmapAndNormalsFromBMP(..)\n");
    EXPECT_TRUE(grid == nullptr && normals == nullptr) << n;
  }
  EXPECT_EQ(kroTestHookCalls, calls + allocations);
}

} // namespace
