// Immediate-mode drawers, checked by capturing what reaches GL in feedback
// mode, and the lighting state that the lit drawing leaves behind.
#include "gl_context.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

struct FeedbackVertex {
  float x, y, z, r, g, b, a;
};

// Runs `draw` in GL_FEEDBACK mode with identity matrices on a 64 x 64 viewport
// and returns the vertices of the captured triangles in order.
template <typename Draw> std::vector<FeedbackVertex> capture(Draw draw) {
  static GLfloat buffer[4096];
  glViewport(0, 0, 64, 64);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glFeedbackBuffer(4096, GL_3D_COLOR, buffer);
  glRenderMode(GL_FEEDBACK);
  draw();
  GLint values = glRenderMode(GL_RENDER);
  std::vector<FeedbackVertex> vertices;
  for (GLint i = 0; i < values;) {
    EXPECT_EQ(buffer[i], (GLfloat)GL_POLYGON_TOKEN);
    int count = (int)buffer[i + 1];
    i += 2;
    for (int v = 0; v < count; v++, i += 7)
      vertices.push_back({buffer[i], buffer[i + 1], buffer[i + 2], buffer[i + 3], buffer[i + 4],
                          buffer[i + 5], buffer[i + 6]});
  }
  return vertices;
}

// Two triangles facing the viewer; vertex v of triangle t sits at a distinct place.
kroObject makePositions() {
  kroObject op = nullptr;
  kroIncreaseObject(&op, 0, 2);
  const float rows[2][9] = {{-0.5f, -0.5f, 0, 0.5f, -0.5f, 0, 0, 0.5f, 0},
                            {-0.25f, 0, 0, 0.25f, 0, 0, 0, 0.25f, 0}};
  for (int t = 0; t < 2; t++)
    for (int k = 0; k < 9; k++)
      op[t][k] = rows[t][k];
  return op;
}

kroObject makeRows(const float (&rows)[2][9]) {
  kroObject a = nullptr;
  kroIncreaseObject(&a, 0, 2);
  for (int t = 0; t < 2; t++)
    for (int k = 0; k < 9; k++)
      a[t][k] = rows[t][k];
  return a;
}

const float kColors[2][9] = {{1, 0, 0, 0, 1, 0, 0, 0, 1}, {1, 1, 0, 0, 1, 1, 1, 0, 1}};
// Unit normals whose z component differs per vertex: under a light along +z the
// lit intensity of each vertex is its normal's z.
const float kNormals[2][9] = {{0, 0, 1, 0, 0.6f, 0.8f, 0.8f, 0, 0.6f},
                              {0, 0.8f, 0.6f, 0, 0, 1, 0.28f, 0, 0.96f}};

void expectPositions(const std::vector<FeedbackVertex> &got, kroObject op) {
  ASSERT_EQ(got.size(), 6u);
  for (int i = 0; i < 6; i++) {
    EXPECT_NEAR(got[i].x, (op[i / 3][(i % 3) * 3] + 1) * 32, 1e-3) << i;
    EXPECT_NEAR(got[i].y, (op[i / 3][(i % 3) * 3 + 1] + 1) * 32, 1e-3) << i;
  }
}

void lightAlongZ() {
  const GLfloat direction[4] = {0, 0, 1, 0}, white[4] = {1, 1, 1, 1}, black[4] = {0, 0, 0, 1};
  glEnable(GL_LIGHTING);
  glEnable(GL_LIGHT0);
  glLightfv(GL_LIGHT0, GL_POSITION, direction);
  glLightfv(GL_LIGHT0, GL_DIFFUSE, white);
  glLightfv(GL_LIGHT0, GL_AMBIENT, black);
  glLightfv(GL_LIGHT0, GL_SPECULAR, black);
  glLightModelfv(GL_LIGHT_MODEL_AMBIENT, black);
  glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, white);
  glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, black);
  glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, black);
  glMaterialfv(GL_FRONT_AND_BACK, GL_EMISSION, black);
}

struct DrawTest : ::testing::Test {
  kroObject op = nullptr, colors = nullptr, normals = nullptr;
  void SetUp() override {
    ASSERT_TRUE(kroTestOpenGL());
    glUseProgramObjectARB(0);
    glDisable(GL_LIGHTING);
    glDisable(GL_COLOR_MATERIAL);
    op = makePositions();
    colors = makeRows(kColors);
    normals = makeRows(kNormals);
  }
  void TearDown() override {
    glDisable(GL_LIGHTING);
    glDisable(GL_COLOR_MATERIAL);
    kroDestroyObject(&op, 2);
    kroDestroyObject(&colors, 2);
    kroDestroyObject(&normals, 2);
  }
};

TEST_F(DrawTest, VerticesArriveInRowAndSlotOrder) {
  expectPositions(capture([&] { kroDrawObject(op, 2); }), op);
  EXPECT_TRUE(capture([&] { kroDrawObject(op, 0); }).empty());
}

TEST_F(DrawTest, PerVertexColoursPrecedeTheirVertex) {
  auto got = capture([&] { kroDrawColorsObject(colors, op, 2); });
  expectPositions(got, op);
  for (int i = 0; i < 6; i++) {
    EXPECT_FLOAT_EQ(got[i].r, kColors[i / 3][(i % 3) * 3]) << i;
    EXPECT_FLOAT_EQ(got[i].g, kColors[i / 3][(i % 3) * 3 + 1]) << i;
    EXPECT_FLOAT_EQ(got[i].b, kColors[i / 3][(i % 3) * 3 + 2]) << i;
  }
}

TEST_F(DrawTest, SingleColourAppliesToEveryVertexEvenWithNoTriangles) {
  const float orange[3] = {1.0f, 0.5f, 0.0f};
  auto got = capture([&] { kroDrawColorObject(orange, op, 2); });
  expectPositions(got, op);
  for (const FeedbackVertex &v : got)
    EXPECT_TRUE(v.r == 1.0f && v.g == 0.5f && v.b == 0.0f);

  const float teal[3] = {0.0f, 0.5f, 0.5f};
  const float up[3] = {0, 1, 0};
  capture([&] { kroDrawColorNormalObject(teal, up, op, 0); });
  GLfloat current[4], normal[3];
  glGetFloatv(GL_CURRENT_COLOR, current);
  glGetFloatv(GL_CURRENT_NORMAL, normal);
  EXPECT_FLOAT_EQ(current[1], 0.5f);
  EXPECT_FLOAT_EQ(normal[1], 1.0f);
}

TEST_F(DrawTest, PerVertexNormalsComeFromTheSameSlot) {
  lightAlongZ();
  auto got = capture([&] { kroDrawNormalsObject(normals, op, 2); });
  expectPositions(got, op);
  for (int i = 0; i < 6; i++)
    EXPECT_NEAR(got[i].r, kNormals[i / 3][(i % 3) * 3 + 2], 1e-3) << i;

  const float half_tilt[3] = {0, 0.6f, 0.8f};
  got = capture([&] { kroDrawNormalObject(half_tilt, op, 2); });
  for (const FeedbackVertex &v : got)
    EXPECT_NEAR(v.r, 0.8f, 1e-3);
}

TEST_F(DrawTest, ColoursAndNormalsTogether) {
  lightAlongZ();
  glColorMaterial(GL_FRONT_AND_BACK, GL_DIFFUSE);
  glEnable(GL_COLOR_MATERIAL);
  auto got = capture([&] { kroDrawColorsNormalsObject(colors, normals, op, 2); });
  expectPositions(got, op);
  for (int i = 0; i < 6; i++) {
    float z = kNormals[i / 3][(i % 3) * 3 + 2];
    EXPECT_NEAR(got[i].r, kColors[i / 3][(i % 3) * 3] * z, 1e-3) << i;
    EXPECT_NEAR(got[i].b, kColors[i / 3][(i % 3) * 3 + 2] * z, 1e-3) << i;
  }
  const float red[3] = {1, 0, 0}, tilted[3] = {0.6f, 0, 0.8f};
  got = capture([&] { kroDrawColorNormalObject(red, tilted, op, 2); });
  for (const FeedbackVertex &v : got) {
    EXPECT_NEAR(v.r, 0.8f, 1e-3);
    EXPECT_NEAR(v.g, 0.0f, 1e-3);
  }
}

TEST_F(DrawTest, LitDrawingLeavesItsLightingState) {
  kroInit(64, 64);
  ASSERT_NE(KRO_SHADER[0].program, 0u);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glTranslatef(1.0f, 0.0f, 0.0f); // light positions are taken in eye space
  kroDrawLightMaterialNormalsObject(nullptr, nullptr, nullptr, normals, op, 0);

  GLint program = 0;
  glGetIntegerv(GL_CURRENT_PROGRAM, &program);
  EXPECT_EQ((GLuint)program, KRO_SHADER[0].program);
  GLfloat v[4];
  glGetFloatv(GL_LIGHT_MODEL_AMBIENT, v);
  EXPECT_FLOAT_EQ(v[0], 0.1f);
  EXPECT_FLOAT_EQ(v[2], 0.1f);
  glGetMaterialfv(GL_FRONT, GL_AMBIENT, v);
  EXPECT_TRUE(v[0] == 0 && v[1] == 1 && v[2] == 0 && v[3] == 1);
  glGetMaterialfv(GL_FRONT, GL_EMISSION, v);
  EXPECT_TRUE(v[0] == 0 && v[1] == 0 && v[2] == 0);
  glGetMaterialfv(GL_FRONT, GL_SHININESS, v);
  EXPECT_FLOAT_EQ(v[0], 128.0f);
  glGetLightfv(GL_LIGHT0, GL_CONSTANT_ATTENUATION, v);
  EXPECT_FLOAT_EQ(v[0], 0.0f);
  glGetLightfv(GL_LIGHT1, GL_CONSTANT_ATTENUATION, v);
  EXPECT_FLOAT_EQ(v[0], 0.0f);
  glGetLightfv(GL_LIGHT0, GL_AMBIENT, v);
  EXPECT_TRUE(v[0] == 1 && v[1] == 1 && v[2] == 1 && v[3] == 0);
  glGetLightfv(GL_LIGHT1, GL_AMBIENT, v);
  EXPECT_TRUE(v[0] == 1 && v[1] == 1 && v[2] == 1 && v[3] == 0);
  glGetLightfv(GL_LIGHT0, GL_POSITION, v);
  EXPECT_TRUE(v[0] == -0.5f && v[1] == 0 && v[2] == 0 && v[3] == 1);
  glGetLightfv(GL_LIGHT1, GL_POSITION, v);
  EXPECT_TRUE(v[0] == 16.0f && v[1] == 15.0f && v[2] == 0 && v[3] == 1);

  // The triangles themselves go through with their normals.
  glLoadIdentity();
  auto got = capture([&] { kroDrawLightMaterialNormalsObject(nullptr, nullptr, nullptr, normals, op, 2); });
  expectPositions(got, op);
  glUseProgramObjectARB(0);
}

} // namespace
