// Immediate-mode drawers, checked by capturing what reaches GL in feedback
// mode, and the lighting state that the lit drawing leaves behind.
#include "gl_context.h"

namespace {

// Two triangles facing the viewer, every vertex at its own place, with its own
// colour and a unit normal of its own z (the lit intensity under a light along +z).
const float kRows[3][2][9] = {
    {{-0.5f, -0.5f, 0, 0.5f, -0.5f, 0, 0, 0.5f, 0}, {-0.25f, 0, 0, 0.25f, 0, 0, 0, 0.25f, 0}},
    {{1, 0, 0, 0, 1, 0, 0, 0, 1}, {1, 1, 0, 0, 1, 1, 1, 0, 1}},
    {{0, 0, 1, 0, 0.6f, 0.8f, 0.8f, 0, 0.6f}, {0, 0.8f, 0.6f, 0, 0, 1, 0.28f, 0, 0.96f}}};
const float *vertexOf(int role, int i) {
  return &kRows[role][i / 3][(i % 3) * 3];
}

struct DrawTest : ::testing::Test {
  kroObject rows[3] = {nullptr, nullptr, nullptr}; // positions, colours, normals
  void SetUp() override {
    ASSERT_TRUE(kroTestOpenGL());
    glUseProgramObjectARB(0);
    for (int role = 0; role < 3; role++) {
      kroIncreaseObject(&rows[role], 0, 2);
      for (int k = 0; k < 18; k++)
        rows[role][k / 9][k % 9] = kRows[role][k / 9][k % 9];
    }
  }
  void TearDown() override {
    glDisable(GL_LIGHTING);
    glDisable(GL_COLOR_MATERIAL);
    for (kroObject &a : rows)
      kroDestroyObject(&a, 2);
  }
  // Lights with white diffuse light along +z (all else black); with
  // `colour_material` the vertex colour is the diffuse material.
  void light(bool colour_material) {
    const GLfloat direction[4] = {0, 0, 1, 0}, white[4] = {1, 1, 1, 1}, black[4] = {0, 0, 0, 1};
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    glLightfv(GL_LIGHT0, GL_POSITION, direction);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, white);
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, white);
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, black);
    for (GLenum term : {GL_AMBIENT, GL_SPECULAR}) {
      glLightfv(GL_LIGHT0, term, black);
      glMaterialfv(GL_FRONT_AND_BACK, term, black);
    }
    glColorMaterial(GL_FRONT_AND_BACK, GL_DIFFUSE);
    colour_material ? glEnable(GL_COLOR_MATERIAL) : glDisable(GL_COLOR_MATERIAL);
  }
  // Every vertex at its place, in row and slot order, with `colour` (null: its
  // own) times `light` (0: the z of its own normal).
  void expectVertices(const std::function<void()> &draw, const float *colour, float light) {
    auto got = kroTestFeedback(GL_3D_COLOR, draw); // x, y, z, then the colour
    ASSERT_EQ(got.size(), 6u);
    for (int i = 0; i < 6; i++) {
      EXPECT_NEAR(got[i][0], (vertexOf(0, i)[0] + 1) * 32, 1e-3) << i;
      EXPECT_NEAR(got[i][1], (vertexOf(0, i)[1] + 1) * 32, 1e-3) << i;
      for (int c = 0; c < 3; c++)
        EXPECT_NEAR(got[i][3 + c],
                    (colour ? colour[c] : vertexOf(1, i)[c]) * (light ? light : vertexOf(2, i)[2]),
                    1e-3)
            << i << " channel " << c;
    }
  }
};

TEST_F(DrawTest, AttributesPrecedeTheirVertexInRowAndSlotOrder) {
  kroObject op = rows[0], colors = rows[1], normals = rows[2];
  const float orange[3] = {1.0f, 0.5f, 0.0f}, tilted[3] = {0.6f, 0, 0.8f}, white[3] = {1, 1, 1};
  glColor3f(1, 1, 1);
  expectVertices([&] { kroDrawObject(op, 2); }, white, 1);
  expectVertices([&] { kroDrawColorsObject(colors, op, 2); }, nullptr, 1);
  expectVertices([&] { kroDrawColorObject(orange, op, 2); }, orange, 1);
  light(false);
  expectVertices([&] { kroDrawNormalsObject(normals, op, 2); }, white, 0);
  expectVertices([&] { kroDrawNormalObject(tilted, op, 2); }, white, 0.8f);
  light(true);
  expectVertices([&] { kroDrawColorsNormalsObject(colors, normals, op, 2); }, nullptr, 0);
  expectVertices([&] { kroDrawColorNormalObject(orange, tilted, op, 2); }, orange, 0.8f);
}

TEST_F(DrawTest, LitDrawingLeavesItsLightingState) {
  kroInit(64, 64);
  ASSERT_NE(KRO_SHADER[0].program, 0u);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glTranslatef(1.0f, 0.0f, 0.0f); // light positions are taken in eye space
  auto draw = [&](int triangles) {
    kroDrawLightMaterialNormalsObject(nullptr, nullptr, nullptr, rows[2], rows[0], triangles);
  };
  draw(0);
  GLint program = 0;
  glGetIntegerv(GL_CURRENT_PROGRAM, &program);
  EXPECT_EQ((GLuint)program, KRO_SHADER[0].program);
  // Whose state (0: the light model), which, and the values expected.
  const std::tuple<GLenum, GLenum, std::vector<float>> state[] = {
      {0, GL_LIGHT_MODEL_AMBIENT, {0.1f, 0.1f, 0.1f}},
      {GL_FRONT, GL_AMBIENT, {0, 1, 0, 1}},
      {GL_FRONT, GL_EMISSION, {0, 0, 0}},
      {GL_FRONT, GL_SHININESS, {128}},
      {GL_LIGHT0, GL_CONSTANT_ATTENUATION, {0}},
      {GL_LIGHT1, GL_CONSTANT_ATTENUATION, {0}},
      {GL_LIGHT0, GL_AMBIENT, {1, 1, 1, 0}},
      {GL_LIGHT1, GL_AMBIENT, {1, 1, 1, 0}},
      {GL_LIGHT0, GL_POSITION, {-0.5f, 0, 0, 1}},
      {GL_LIGHT1, GL_POSITION, {16, 15, 0, 1}}};
  for (const auto &[owner, what, expected] : state) {
    GLfloat v[4] = {-9, -9, -9, -9};
    if (!owner)
      glGetFloatv(what, v);
    else if (owner == GL_FRONT)
      glGetMaterialfv(owner, what, v);
    else
      glGetLightfv(owner, what, v);
    for (size_t i = 0; i < expected.size(); i++)
      EXPECT_FLOAT_EQ(v[i], expected[i]) << std::hex << owner << " " << what << " [" << i << "]";
  }
  EXPECT_EQ(kroTestFeedback(GL_3D_COLOR, [&] { draw(2); }).size(), 6u);
  glUseProgramObjectARB(0);
}

} // namespace
