// Immediate-mode drawers, checked by capturing what reaches GL in feedback
// mode, and the lighting state that the lit drawing leaves behind.
#include "gl_context.h"

#include <gtest/gtest.h>
#include <math.h>
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

kroObject makeRows(const float (&rows)[2][9]) {
  kroObject a = nullptr;
  kroIncreaseObject(&a, 0, 2);
  for (int t = 0; t < 2; t++)
    for (int k = 0; k < 9; k++)
      a[t][k] = rows[t][k];
  return a;
}

// Two triangles facing the viewer; every vertex sits at a distinct place.
const float kPositions[2][9] = {{-0.5f, -0.5f, 0, 0.5f, -0.5f, 0, 0, 0.5f, 0},
                                {-0.25f, 0, 0, 0.25f, 0, 0, 0, 0.25f, 0}};
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

// Directional white diffuse light along +z, everything else black.
void lightAlongZ() {
  const GLfloat direction[4] = {0, 0, 1, 0}, white[4] = {1, 1, 1, 1}, black[4] = {0, 0, 0, 1};
  glEnable(GL_LIGHTING);
  glEnable(GL_LIGHT0);
  glLightfv(GL_LIGHT0, GL_POSITION, direction);
  glLightfv(GL_LIGHT0, GL_DIFFUSE, white);
  glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, white);
  glLightModelfv(GL_LIGHT_MODEL_AMBIENT, black);
  for (GLenum black_term : {GL_AMBIENT, GL_SPECULAR}) {
    glLightfv(GL_LIGHT0, black_term, black);
    glMaterialfv(GL_FRONT_AND_BACK, black_term, black);
  }
  glMaterialfv(GL_FRONT_AND_BACK, GL_EMISSION, black);
}

struct DrawTest : ::testing::Test {
  kroObject op = nullptr, colors = nullptr, normals = nullptr;
  void SetUp() override {
    ASSERT_TRUE(kroTestOpenGL());
    glUseProgramObjectARB(0);
    glDisable(GL_LIGHTING);
    glDisable(GL_COLOR_MATERIAL);
    op = makeRows(kPositions);
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

TEST_F(DrawTest, ColoursPrecedeTheirVertexInRowAndSlotOrder) {
  expectPositions(capture([&] { kroDrawObject(op, 2); }), op);
  EXPECT_TRUE(capture([&] { kroDrawObject(op, 0); }).empty());

  auto got = capture([&] { kroDrawColorsObject(colors, op, 2); });
  expectPositions(got, op);
  for (int i = 0; i < 6; i++) {
    const float *c = &kColors[i / 3][(i % 3) * 3];
    EXPECT_TRUE(got[i].r == c[0] && got[i].g == c[1] && got[i].b == c[2]) << i;
  }

  const float orange[3] = {1.0f, 0.5f, 0.0f};
  for (const FeedbackVertex &v : capture([&] { kroDrawColorObject(orange, op, 2); }))
    EXPECT_TRUE(v.r == 1.0f && v.g == 0.5f && v.b == 0.0f);

  // With no triangles the single colour and normal are still issued.
  const float teal[3] = {0.0f, 0.5f, 0.5f}, up[3] = {0, 1, 0};
  capture([&] { kroDrawColorNormalObject(teal, up, op, 0); });
  GLfloat current[4], normal[3];
  glGetFloatv(GL_CURRENT_COLOR, current);
  glGetFloatv(GL_CURRENT_NORMAL, normal);
  EXPECT_FLOAT_EQ(current[1], 0.5f);
  EXPECT_FLOAT_EQ(normal[1], 1.0f);
}

TEST_F(DrawTest, NormalsComeFromTheSameSlotAsTheirVertex) {
  lightAlongZ();
  auto got = capture([&] { kroDrawNormalsObject(normals, op, 2); });
  expectPositions(got, op);
  for (int i = 0; i < 6; i++)
    EXPECT_NEAR(got[i].r, kNormals[i / 3][(i % 3) * 3 + 2], 1e-3) << i;
  const float tilted[3] = {0, 0.6f, 0.8f}, red[3] = {1, 0, 0};
  for (const FeedbackVertex &v : capture([&] { kroDrawNormalObject(tilted, op, 2); }))
    EXPECT_NEAR(v.r, 0.8f, 1e-3);

  // Colour material: the lit colour is the vertex colour times its normal's z.
  glColorMaterial(GL_FRONT_AND_BACK, GL_DIFFUSE);
  glEnable(GL_COLOR_MATERIAL);
  got = capture([&] { kroDrawColorsNormalsObject(colors, normals, op, 2); });
  expectPositions(got, op);
  for (int i = 0; i < 6; i++) {
    float z = kNormals[i / 3][(i % 3) * 3 + 2];
    EXPECT_NEAR(got[i].r, kColors[i / 3][(i % 3) * 3] * z, 1e-3) << i;
    EXPECT_NEAR(got[i].b, kColors[i / 3][(i % 3) * 3 + 2] * z, 1e-3) << i;
  }
  for (const FeedbackVertex &v : capture([&] { kroDrawColorNormalObject(red, tilted, op, 2); }))
    EXPECT_TRUE(fabsf(v.r - 0.8f) < 1e-3f && v.g == 0.0f);
}

void expectVector(GLenum light_or_face, GLenum what, std::vector<float> expected,
                  bool material = false) {
  GLfloat v[4] = {-9, -9, -9, -9};
  if (material)
    glGetMaterialfv(light_or_face, what, v);
  else
    glGetLightfv(light_or_face, what, v);
  for (size_t i = 0; i < expected.size(); i++)
    EXPECT_FLOAT_EQ(v[i], expected[i]) << std::hex << what << " component " << i;
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
  GLfloat model_ambient[4];
  glGetFloatv(GL_LIGHT_MODEL_AMBIENT, model_ambient);
  EXPECT_TRUE(model_ambient[0] == 0.1f && model_ambient[1] == 0.1f && model_ambient[2] == 0.1f);
  expectVector(GL_FRONT, GL_AMBIENT, {0, 1, 0, 1}, true);
  expectVector(GL_FRONT, GL_EMISSION, {0, 0, 0}, true);
  expectVector(GL_FRONT, GL_SHININESS, {128}, true);
  expectVector(GL_LIGHT0, GL_CONSTANT_ATTENUATION, {0});
  expectVector(GL_LIGHT1, GL_CONSTANT_ATTENUATION, {0});
  expectVector(GL_LIGHT0, GL_AMBIENT, {1, 1, 1, 0});
  expectVector(GL_LIGHT1, GL_AMBIENT, {1, 1, 1, 0});
  expectVector(GL_LIGHT0, GL_POSITION, {-0.5f, 0, 0, 1});
  expectVector(GL_LIGHT1, GL_POSITION, {16, 15, 0, 1});

  // The triangles themselves go through with their normals.
  auto got = capture(
      [&] { kroDrawLightMaterialNormalsObject(nullptr, nullptr, nullptr, normals, op, 2); });
  expectPositions(got, op);
  glUseProgramObjectARB(0);
}

} // namespace
