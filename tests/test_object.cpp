// The engine's base: triangle arrays (growth, copies, in-place transforms, the
// immediate-mode drawers and the lighting state the lit drawing leaves), every
// allocation failure, the 3x3 product, rotation and perspective, and the bit and
// byte utilities.
#include "gl_context.h"

#include <math.h>
#include <string.h>

#include <random>

namespace {

struct ObjectTest : kroTestFailureFixture {};

void fillRows(kroObject rows, int count, int width, float base) {
  for (int i = 0; i < count; i++)
    for (int k = 0; k < width; k++)
      rows[i][k] = base + i * 100 + k;
}

TEST_F(ObjectTest, GrowthKeepsRowsAndCopiesAreIndependent) {
  kroObject op = nullptr, tc = nullptr, realn = nullptr;
  kroIncreaseObject(&op, 0, 3);
  kroIncreaseTexCoords(&tc, 0, 2);
  kroIncreaseCoords(&realn, 0, 2);
  fillRows(op, 3, 9, 0.5f); // the last float of every row is in bounds (sanitizer build)
  fillRows(tc, 2, 6, 2.0f);
  fillRows(realn, 2, 3, 3.0f);
  float *rows_before[3] = {op[0], op[1], op[2]};

  kroIncreaseObject(&op, 3, 2);
  for (int i = 0; i < 3; i++)
    EXPECT_TRUE(op[i] == rows_before[i] && op[i][8] == 0.5f + i * 100 + 8) << i;

  kroObject copies[3] = {kroCopyObject(op, 3), kroCopyTexCoords(tc, 2),
                         kroCopyRealNormals(realn, 2)};
  EXPECT_TRUE(copies[0][2][8] == op[2][8] && copies[1][1][5] == tc[1][5] &&
              copies[2][1][2] == realn[1][2]);
  copies[0][1][4] = -7.0f;
  EXPECT_FLOAT_EQ(op[1][4], 0.5f + 100 + 4);

  kroObject empty = kroCopyObject(op, 0), null_handle = nullptr;
  kroDestroyObject(&empty, 0);
  kroDestroyObject(&null_handle, 0);
  kroDestroyObject(&op, 5);
  kroDestroyObject(&copies[0], 3);
  for (kroObject *a : {&tc, &realn, &copies[1], &copies[2]})
    kroDestroyObject(a, 2);
  EXPECT_TRUE(!empty && !null_handle && !op && !tc && !copies[0]);
  EXPECT_EQ(kroTestHookCalls, 0);
}

TEST_F(ObjectTest, GrowthFailureLeavesTheArrayAsItWas) {
  for (int n = 1; n <= 4; n++) // the pointer block, then each new row
    for (bool with_hook : {true, false}) {
      SCOPED_TRACE(n);
      kroObject op = nullptr;
      kroIncreaseObject(&op, 0, 2);
      fillRows(op, 2, 9, 4.0f);
      kroObject block = op;
      float *row0 = op[0];
      kroTestUseCountingHook();
      if (!with_hook)
        kroSetErrorFunc(nullptr);
      kroFailAllocationAfter(n);
      EXPECT_EQ(kroTestCaptured([&] { kroIncreaseObject(&op, 2, 3); }),
                "Error during allocating memory in kroIncreaseObject(..)\n");
      EXPECT_EQ(kroTestHookCalls, with_hook ? 1 : 0);
      EXPECT_TRUE(op == block && op[0] == row0);
      EXPECT_FLOAT_EQ(op[1][8], 4.0f + 100 + 8);
      kroDestroyObject(&op, 2); // the count is still 2
    }
}

TEST_F(ObjectTest, EveryOperationReportsItsOwnFailure) {
  kroObject source = nullptr;
  kroIncreaseObject(&source, 0, 2);
  fillRows(source, 2, 9, 0.0f);
  // Each operation, by name, run on the source into a new array.
  const std::pair<const char *, void (*)(kroObject, kroObject *)> cases[] = {
      {"kroIncreaseTexCoords", [](kroObject, kroObject *a) { kroIncreaseTexCoords(a, 0, 2); }},
      {"kroIncreaseCoords", [](kroObject, kroObject *a) { kroIncreaseCoords(a, 0, 2); }},
      {"kroCopyObject", [](kroObject s, kroObject *a) { *a = kroCopyObject(s, 2); }},
      {"kroCopyTexCoords", [](kroObject s, kroObject *a) { *a = kroCopyTexCoords(s, 2); }},
      {"kroCopyRealNormals", [](kroObject s, kroObject *a) { *a = kroCopyRealNormals(s, 2); }},
      {"kroIncreaseObject", [](kroObject, kroObject *a) { kroIncreaseObject(a, 0, -1); }},
  };
  for (auto [name, run] : cases)
    for (int n = 1; n <= 3; n++) {
      kroObject made = nullptr;
      kroTestExpectReport([&] { run(source, &made); },
                          std::string("Error during allocating memory in ") + name + "(..)\n", n);
      EXPECT_EQ(made, nullptr) << name << " " << n;
    }
  kroDestroyObject(&source, 2);
}

TEST(BitsTest, MasksAndTheBitsTheyGetAndSet) {
  kroSetBitMasks();
  for (int i = 0; i < 32; i++) {
    EXPECT_EQ(KRO_TRUE_MASK[i], 1u << i) << i;
    EXPECT_EQ(KRO_FALSE_MASK[i], ~(1u << i)) << i;
  }
  EXPECT_EQ(kroSetBitFalse(0xFFFFFFFFu, 0), 0xFFFFFFFEu);
  EXPECT_EQ(kroSetBitTrue(0u, 31), 0x80000000u);
  for (int i = 0; i < 32; i++) // bit 31 set, bit 30 clear
    EXPECT_EQ(kroGetBit(0xA5A5A5A5u, (int8_t)i), (0xA5A5A5A5u >> i) & 1u) << i;
}

TEST(BitsTest, BytesFromLeastToMostSignificant) {
  const uint32_t word = 0x11223344u;
  EXPECT_EQ((std::vector<int>{kroGet0thByte(word), kroGet1stByte(word), kroGet2ndByte(word),
                              kroGet3rdByte(word)}),
            (std::vector<int>{0x44, 0x33, 0x22, 0x11}));
}

TEST(BitsTest, StringAfterLastDot) {
  char two_dots[] = "scene.final.bmp", no_dot[] = "README", trailing[] = "name.";
  EXPECT_EQ(kroStringAfterLastDot(two_dots), two_dots + 11); // ".bmp", in the string itself
  EXPECT_EQ(kroStringAfterLastDot(no_dot), nullptr);
  EXPECT_EQ(kroStringAfterLastDot(trailing), trailing + 4);
}

void expectRow(kroObject op, std::initializer_list<float> values) {
  int k = 0;
  for (float v : values)
    EXPECT_FLOAT_EQ(op[0][k++], v) << "float " << k - 1;
}

TEST(TransformTest, ScaleAndTranslateTouchTheRightAxes) {
  kroObject op = nullptr;
  kroIncreaseObject(&op, 0, 1);
  fillRows(op, 1, 9, 1.0f);
  kroScaleObject(op, 1, 0.1f, 0.1f, 0.05f); // the intro's digit scaling
  expectRow(op, {0.1f, 0.2f, 0.15f, 0.4f, 0.5f, 0.3f, 0.7f, 0.8f, 0.45f});
  kroTranslateObject(op, 1, 1.0f, -1.0f, 2.0f);
  expectRow(op, {1.1f, -0.8f, 2.15f, 1.4f, -0.5f, 2.3f, 1.7f, -0.2f, 2.45f});
  const float s[3] = {2, 3, 4}, d[3] = {-1, 0, 1};
  kroScalevObject(op, 1, s);
  kroTranslatevObject(op, 1, d);
  kroScale1Object(op, 1, -2.0f);
  kroScale1Object(op, 0, 100.0f); // a count of 0 touches nothing
  expectRow(op, {-2.4f, 4.8f, -19.2f, -3.6f, 3.0f, -20.4f, -4.8f, 1.2f, -21.6f});
  kroDestroyObject(&op, 1);
}

TEST(TransformTest, RotationIsRightHandedAndAliasSafe) {
  float m[9];
  const float z_axis[3] = {0, 0, 1};
  kroCreateRotationMatrixFromNormalizedAxis(m, z_axis, (float)M_PI / 2);
  float v[3] = {1, 0, 0};
  kroApply3x3MatrixToVector(m, v);
  EXPECT_TRUE(fabsf(v[0]) < 1e-6f && fabsf(v[1] - 1) < 1e-6f && fabsf(v[2]) < 1e-6f); // x to y
  float n[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9}; // the vector may be a row of the matrix
  kroApply3x3MatrixToVector(n, n);
  EXPECT_TRUE(n[0] == 14.0f && n[1] == 32.0f && n[2] == 50.0f);
}

TEST(TransformTest, PerspectiveGivesTheExpectedFrustum) {
  ASSERT_TRUE(kroTestOpenGL());
  GLfloat p[16];
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  kroPerspectiveOGL(45.0f, 1.0f, 1.0f, 10.0f); // glFrustum(-1, 1, -1, 1, 1, 10)
  glGetFloatv(GL_PROJECTION_MATRIX, p);
  const float expected[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -11.0f / 9, -1, 0, 0, -20.0f / 9, 0};
  for (int i = 0; i < 16; i++)
    EXPECT_NEAR(p[i], expected[i], 1e-6) << i;
  glLoadIdentity();
  glMatrixMode(GL_MODELVIEW);
}

// The quaternion parts are sin(h) times the axis in double, each rounded once
// to float; the products and the matrix then follow in float. Exact equality
// on random unit axes and angles.
TEST(TransformTest, RotationFollowsTheFormulaToTheBit) {
  std::mt19937 random(11);
  std::uniform_real_distribution<float> component(-1, 1), angle(-7, 7);
  int differing = 0;
  for (int i = 0; i < 100000; i++) {
    float axis[3] = {component(random), component(random), component(random)};
    float length = sqrtf(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
    for (float &a : axis)
      a /= length;
    float a = angle(random), m[9];
    kroCreateRotationMatrixFromNormalizedAxis(m, axis, a);
    double h = a / 2.0, s = sin(h);
    float x = (float)(s * axis[0]), y = (float)(s * axis[1]), z = (float)(s * axis[2]);
    float w = (float)cos(h);
    float xx = (x + x) * x, yy = (y + y) * y, zz = (z + z) * z, xy = (x + x) * y;
    float xz = (x + x) * z, yz = (y + y) * z, wx = (w + w) * x, wy = (w + w) * y;
    float wz = (w + w) * z;
    const float want[9] = {1 - yy - zz, xy - wz, xz + wy, xy + wz,    1 - xx - zz,
                           yz - wx,     xz - wy, yz + wx, 1 - xx - yy};
    differing += memcmp(m, want, sizeof m) != 0;
  }
  EXPECT_EQ(differing, 0);
}

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

  EXPECT_TRUE(kroTestFeedback(GL_3D_COLOR, [&] {
                kroDrawColorNormalObject(orange, tilted, op, 0);
              }).empty());
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
