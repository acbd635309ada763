// The engine's base: triangle arrays (growth, copies, in-place transforms, the
// immediate-mode drawers and the lighting state the lit drawing leaves), every
// allocation failure, the 3x3 product, rotation and perspective, the bit and
// byte utilities, and normals computed from positions, drawn lit.
#include "gl_context.h"

#include <math.h>
#include <string.h>

#include <numeric>
#include <random>

namespace {

struct ObjectTest : kroTestFailureFixture {};

void fillRows(kroObject rows, int count, int width, float base) {
  for (int i = 0; i < count; i++)
    for (int k = 0; k < width; k++)
      rows[i][k] = base + i * 100 + k;
}

// Growing from none by one row, then by two and by four, for each of the three row widths:
// every step keeps the rows it had, the same rows with their floats untouched, the new rows end
// to end, and a copy holds the same floats in rows of its own, released whole without its count
// (the sanitizer build finds a leak). Every failed allocation of growth by two or of a copy of two
// rows (the pointer block or the block of rows) is reported under the operation's name, and the
// rows are left as they were, no copy made.
TEST_F(ObjectTest, GrowthKeepsEveryRowCopiesAreIndependentAndFailuresChangeNothing) {
  const std::tuple<void (*)(kroObject *, int, int), kroObject (*)(kroObject, uint32_t), int,
                   std::string, std::string>
      kinds[] = {{kroIncreaseObject, kroCopyObject, 9, "IncreaseObject", "CopyObject"},
                 {kroIncreaseTexCoords, kroCopyTexCoords, 6, "IncreaseTexCoords", "CopyTexCoords"},
                 {kroIncreaseCoords, kroCopyRealNormals, 3, "IncreaseCoords", "CopyRealNormals"}};
  for (auto [grow, copy, width, grow_name, copy_name] : kinds) {
    SCOPED_TRACE(width);
    kroObject rows = nullptr;
    std::vector<float *> kept;
    for (int count = 0; count < 7; count = 2 * count + 1) {
      grow(&rows, count, count + 1);
      ASSERT_NE(rows, nullptr);
      for (int i = 0; i < count; i++)
        EXPECT_TRUE(rows[i] == kept[i] && rows[i][0] == 100.0f * i &&
                    rows[i][width - 1] == 100.0f * i + width - 1)
            << "from " << count << " rows: row " << i;
      fillRows(rows + count, count + 1, width, 100.0f * count); // in bounds (sanitizer build)
      for (int i = count; i <= 2 * count; i++) {
        EXPECT_TRUE(i == count || rows[i] == rows[i - 1] + width) << i;
        kept.push_back(rows[i]);
      }
    }
    kroObject copied = copy(rows, 3);
    for (int i = 0; i < 3; i++)
      EXPECT_TRUE(copied[i] != rows[i] && !memcmp(copied[i], rows[i], width * sizeof(float))) << i;
    copied[1][width - 1] = -7.0f;
    kroDestroyObject(&copied, 0);
    const std::string oom = "Error during allocating memory in kro";
    const kroObject block = rows;
    for (int n = 1; n <= 2; n++) {
      SCOPED_TRACE(n);
      kroTestExpectReport([&] { grow(&rows, 7, 2); }, oom + grow_name + "(..)\n", n);
      kroTestExpectReport([&] { copied = copy(rows, 2); }, oom + copy_name + "(..)\n", n);
      EXPECT_TRUE(!copied && rows == block && rows[0] == kept[0] && rows[6] == kept[6]);
      EXPECT_FLOAT_EQ(rows[1][width - 1], 100.0f + width - 1);
    }
    kroTestExpectReport([&] { grow(&rows, 7, -1); }, oom + grow_name + "(..)\n");
    kroDestroyObject(&rows, 7); // the count is still 7
    EXPECT_TRUE(!rows && !copied);
  }
  kroObject empty = kroCopyObject(nullptr, 0), null_handle = nullptr;
  kroDestroyObject(&empty, 0);
  kroDestroyObject(&null_handle, 0);
  EXPECT_TRUE(!empty && !null_handle);
  EXPECT_EQ(kroTestHookCalls, 3 * 5); // the reports expected above, and no others
}

TEST(BitsTest, MasksBitsBytesAndTheStringAfterTheLastDot) {
  kroSetBitMasks();
  const uint32_t bits = 0xA5A5A5A5u; // bit 31 set, bit 30 clear
  for (int i = 0; i < 32; i++) {
    const uint32_t bit = 1u << i;
    EXPECT_TRUE(KRO_TRUE_MASK[i] == bit && KRO_FALSE_MASK[i] == ~bit) << i;
    EXPECT_EQ(kroSetBitTrue(bits, (int8_t)i), bits | bit) << i;
    EXPECT_EQ(kroSetBitFalse(bits, (int8_t)i), bits & ~bit) << i;
    EXPECT_EQ(kroGetBit(bits, (int8_t)i), (bits >> i) & 1u) << i;
  }
  const uint32_t word = 0x11223344u; // bytes from the least to the most significant
  EXPECT_EQ((std::vector<int>{kroGet0thByte(word), kroGet1stByte(word), kroGet2ndByte(word),
                              kroGet3rdByte(word)}),
            (std::vector<int>{0x44, 0x33, 0x22, 0x11}));
  char two_dots[] = "scene.final.bmp", no_dot[] = "README", trailing[] = "name.";
  EXPECT_EQ(kroStringAfterLastDot(two_dots), two_dots + 11); // ".bmp", in the string itself
  EXPECT_EQ(kroStringAfterLastDot(no_dot), nullptr);
  EXPECT_EQ(kroStringAfterLastDot(trailing), trailing + 4);
}

TEST(TransformTest, ScaleAndTranslateTouchTheRightAxes) {
  kroObject op = nullptr;
  kroIncreaseObject(&op, 0, 1);
  fillRows(op, 1, 9, 1.0f);
  kroScaleObject(op, 1, 0.1f, 0.1f, 0.05f);     // the intro's digit scaling: 0.1 0.2 0.15 ...
  kroTranslateObject(op, 1, 1.0f, -1.0f, 2.0f); // 1.1 -0.8 2.15 ...
  const float s[3] = {2, 3, 4}, d[3] = {-1, 0, 1};
  kroScalevObject(op, 1, s);
  kroTranslatevObject(op, 1, d);
  kroScale1Object(op, 1, -2.0f);
  kroScale1Object(op, 0, 100.0f); // a count of 0 touches nothing
  const float want[9] = {-2.4f, 4.8f, -19.2f, -3.6f, 3.0f, -20.4f, -4.8f, 1.2f, -21.6f};
  for (int k = 0; k < 9; k++)
    EXPECT_FLOAT_EQ(op[0][k], want[k]) << k;
  kroDestroyObject(&op, 1);
}

// Rotations follow the right-hand rule: about any unit axis k by any angle a, a vector v
// turns to v cos(a) + (k x v) sin(a) + k (k . v) (1 - cos(a)); angle 0 gives the identity.
// The vector may be a row of the matrix.
TEST(TransformTest, RotationIsRightHandedAboutAnyAxisAndAliasSafe) {
  float m[9];
  std::mt19937 random(11);
  std::uniform_real_distribution<float> component(-1, 1), angle(-7, 7);
  for (int i = 0; i < 1000; i++) {
    float k[3] = {component(random), component(random), component(random)};
    const float v[3] = {component(random), component(random), component(random)}, a = angle(random);
    const float length = sqrtf(std::inner_product(k, k + 3, k, 0.0f));
    for (float &c : k)
      c /= length;
    float w[3] = {v[0], v[1], v[2]};
    kroCreateRotationMatrixFromNormalizedAxis(m, k, a);
    kroApply3x3MatrixToVector(m, w);
    const double along = std::inner_product(k, k + 3, v, 0.0), // k . v
        across[3] = {k[1] * v[2] - k[2] * v[1], k[2] * v[0] - k[0] * v[2],
                     k[0] * v[1] - k[1] * v[0]}; // k x v
    SCOPED_TRACE(i);
    for (int c = 0; c < 3; c++)
      EXPECT_NEAR(w[c], v[c] * cos(a) + across[c] * sin(a) + k[c] * along * (1 - cos(a)), 1e-5)
          << c;
  }
  const float y[3] = {0, 1, 0};
  kroCreateRotationMatrixFromNormalizedAxis(m, y, 0);
  EXPECT_EQ(std::vector<float>(m, m + 9), std::vector<float>({1, 0, 0, 0, 1, 0, 0, 0, 1}));
  float n[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  kroApply3x3MatrixToVector(n, n);
  EXPECT_TRUE(n[0] == 14.0f && n[1] == 32.0f && n[2] == 50.0f);
}

// Normalised device coordinates of the point (x, y, z, 1) under the column-major matrix m.
std::vector<double> project(const float *m, double x, double y, double z) {
  double clip[4];
  for (int r = 0; r < 4; r++)
    clip[r] = m[r] * x + m[4 + r] * y + m[8 + r] * z + m[12 + r];
  return {clip[0] / clip[3], clip[1] / clip[3], clip[2] / clip[3]};
}

// The intro's camera: kroPerspectiveOGL(40, 2, 0.2, 50) puts the top edge of the view 40
// degrees above the axis and the right edge twice as far out as the top (the aspect, width
// over height), and maps the near and far distances to the ends of the depth range: a point
// on each corner of the view at any distance lands on that corner of the normalised view.
TEST(TransformTest, PerspectiveSpansTheAngleUpAndTheAspectAcross) {
  ASSERT_TRUE(kroTestOpenGL());
  GLfloat p[16];
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  kroPerspectiveOGL(40.0f, 2.0f, 0.2f, 50.0f);
  glGetFloatv(GL_PROJECTION_MATRIX, p);
  const double up = tan(40.0 * M_PI / 180);
  for (double d : {0.2, 1.0, 7.5, 50.0})
    for (int corner = 0; corner < 4; corner++) {
      const double x = corner & 1 ? 1 : -1, y = corner & 2 ? 1 : -1;
      const std::vector<double> got = project(p, 2 * up * d * x, up * d * y, -d);
      EXPECT_TRUE(fabs(got[0] - x) < 1e-5 && fabs(got[1] - y) < 1e-5) << d << " " << x << y;
    }
  EXPECT_NEAR(project(p, 0, 0, -0.2)[2], -1, 1e-5);
  EXPECT_NEAR(project(p, 0, 0, -50)[2], 1, 1e-6); // a far plane 1 % off is 8e-5 away
}

// Two triangles facing the viewer, every vertex at its own place, with its own
// colour and a unit normal of its own z (the lit intensity under a light along +z).
const float kRows[3][2][9] = {
    {{-0.5f, -0.5f, 0, 0.5f, -0.5f, 0, 0, 0.5f, 0}, {-0.25f, 0, 0, 0.25f, 0, 0, 0, 0.25f, 0}},
    {{1, 0, 0, 0, 1, 0, 0, 0, 1}, {1, 1, 0, 0, 1, 1, 1, 0, 1}},
    {{0, 0, 1, 0, 0.6f, 0.8f, 0.8f, 0, 0.6f}, {0, 0.8f, 0.6f, 0, 0, 1, 0.28f, 0, 0.96f}}};
// A new array of the rows of `table`.
template <size_t N> kroObject rowsOf(const float (&table)[N][9]) {
  kroObject rows = nullptr;
  kroIncreaseObject(&rows, 0, N);
  for (size_t t = 0; t < N; t++)
    memcpy(rows[t], table[t], sizeof table[t]);
  return rows;
}
const float *vertexOf(int role, int i) {
  return &kRows[role][i / 3][(i % 3) * 3];
}

struct DrawTest : ::testing::Test {
  kroObject rows[3] = {nullptr, nullptr, nullptr}; // positions, colours, normals
  void SetUp() override {
    ASSERT_TRUE(kroTestOpenGL());
    glUseProgramObjectARB(0);
    for (int role = 0; role < 3; role++)
      rows[role] = rowsOf(kRows[role]);
  }
  void TearDown() override {
    kroSetLightMaterialColor(0, 1, 0);
    glDisable(GL_LIGHTING);
    glDisable(GL_COLOR_MATERIAL);
    for (kroObject &a : rows)
      kroDestroyObject(&a, 2);
  }
  // Lights with white diffuse light along +z (all else black); the vertex colour is the diffuse
  // material.
  void light() {
    const GLfloat direction[4] = {0, 0, 1, 0}, white[4] = {1, 1, 1, 1}, black[4] = {0, 0, 0, 1};
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    glLightfv(GL_LIGHT0, GL_POSITION, direction);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, white);
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, black); // so no ambient nor specular term
    glLightfv(GL_LIGHT0, GL_AMBIENT, black);
    glLightfv(GL_LIGHT0, GL_SPECULAR, black);
    glColorMaterial(GL_FRONT_AND_BACK, GL_DIFFUSE);
    glEnable(GL_COLOR_MATERIAL);
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
  light();
  glColor3f(1, 1, 1); // a drawer that sends no colour leaves this one
  expectVertices([&] { kroDrawNormalsObject(normals, op, 2); }, white, 0);
  expectVertices([&] { kroDrawNormalObject(tilted, op, 2); }, white, 0.8f);
  expectVertices([&] { kroDrawColorsNormalsObject(colors, normals, op, 2); }, nullptr, 0);
  expectVertices([&] { kroDrawColorNormalObject(orange, tilted, op, 2); }, orange, 0.8f);

  EXPECT_TRUE(kroTestFeedback(GL_3D_COLOR, [&] {
                kroDrawColorNormalObject(orange, tilted, op, 0);
              }).empty());
}

// ---- normals from positions, and the lit drawing in a chosen colour ----

const std::string kAse = std::string(KRO_TEST_DATA) + "/ase/";

// A mesh of `rows`, the corners of its triangles, with room for their normals.
template <size_t N> void makeMesh(kroTestMesh *m, const float (&rows)[N][9]) {
  m->triangles = N;
  m->op = rowsOf(rows);
  m->nc = rowsOf(rows);
  kroIncreaseCoords(&m->realn, 0, N);
}

// The centres of a box's +z, -x and +y faces, and the colours the lit drawing gives them on the
// black 64 x 64 window: the box 6 in front of the eye, turned 35 degrees about y, then tilted 25
// about x.
const float kCentres[3][3] = {{0, 0, 1}, {-1, 0, 0}, {0, 1, 0}};
// The projection times the model-view matrix, left as the projection (matrix mode projection).
std::vector<float> projectionTimesModelView() {
  std::vector<float> modelview(16), both(16);
  glGetFloatv(GL_MODELVIEW_MATRIX, modelview.data());
  glMatrixMode(GL_PROJECTION), glMultMatrixf(modelview.data());
  glGetFloatv(GL_PROJECTION_MATRIX, both.data());
  return both;
}
std::vector<std::vector<int>> drawLit(const kroTestMesh &box) {
  glViewport(0, 0, 64, 64);
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glEnable(GL_DEPTH_TEST);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  kroPerspectiveOGL(30.0f, 1.0f, 0.5f, 20.0f);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glTranslatef(0, 0, -6);
  glRotatef(25, 1, 0, 0);
  glRotatef(35, 0, 1, 0);
  kroDrawLightMaterialNormalsObject(nullptr, nullptr, nullptr, box.nc, box.op,
                                    (uint32_t)box.triangles);
  glUseProgramObjectARB(0);
  glDisable(GL_DEPTH_TEST);
  std::vector<float> both = projectionTimesModelView();
  std::vector<std::vector<int>> colours;
  for (const float *centre : kCentres) {
    std::vector<double> device = project(both.data(), centre[0], centre[1], centre[2]);
    GLubyte rgb[3] = {};
    glReadPixels((int)(32 * (device[0] + 1)), (int)(32 * (device[1] + 1)), 1, 1, GL_RGB,
                 GL_UNSIGNED_BYTE, rgb);
    colours.push_back({rgb[0], rgb[1], rgb[2]});
  }
  return colours;
}

// The lit drawing leaves its lighting state, lights placed in eye space. The cube of side 2
// seen with its +z, -x and +y faces towards the eye: the lights stand beside -x (light 0, close)
// and above +x +y (light 1), so each face gets its own brightness once it has normals; without
// them all three show the same ambient-only colour.
TEST_F(DrawTest, LitDrawingLeavesItsStateAndLightsABoxOnceItHasNormalsInTheChosenColour) {
  kroInit(64, 64);
  ASSERT_EQ(kroInitStatus(), 0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glTranslatef(1.0f, 0.0f, 0.0f); // light positions are taken in eye space
  kroDrawLightMaterialNormalsObject(nullptr, nullptr, nullptr, rows[2], rows[0], 0);
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
  kroTestMesh box(kAse + "box_without_normals.ase", 1);
  ASSERT_EQ(box.triangles, 12);
  const std::vector<std::vector<int>> unlit = drawLit(box);
  EXPECT_GT(unlit[0][1], 0);
  EXPECT_TRUE(unlit[0] == unlit[1] && unlit[1] == unlit[2]);
  kroComputeNormals(box.op, box.nc, box.realn, box.triangles, 0);
  const std::vector<std::vector<int>> lit = drawLit(box);
  EXPECT_TRUE(lit[1][1] > lit[2][1] + 20 && lit[2][1] > lit[0][1] + 20)
      << lit[0][1] << " " << lit[1][1] << " " << lit[2][1];
  EXPECT_EQ(lit[0], unlit[0]); // +z faces away from both lights
  // A chosen colour is the surface's, kept by kroInit, and (0, 1, 0) again once set back: the
  // face turned to a light shows red and green in the chosen proportion.
  kroSetLightMaterialColor(0.6f, 0.3f, 0.0f); // dim enough not to saturate
  kroInit(64, 64);
  const std::vector<int> p = drawLit(box)[1];
  EXPECT_TRUE(p[0] > 120 && p[0] < 250 && abs(p[1] - p[0] / 2) <= 3 && p[2] < 3)
      << p[0] << " " << p[1] << " " << p[2];
  kroSetLightMaterialColor(0.0f, 1.0f, 0.0f);
  EXPECT_EQ(drawLit(box)[1], lit[1]);

  // Smooth: each face meets a corner with a right angle; weighted by angle, every face counts
  // alike and the corner's normal is its diagonal, so each face's unit normal must point out
  // of the box. (Flat corners copying their face's normal: the next test.)
  kroComputeNormals(box.op, box.nc, box.realn, box.triangles, 1);
  for (int c = 0; c < 36; c++) {
    const float *p = box.corner(c), *n = box.normal(c);
    for (int k = 0; k < 3; k++)
      EXPECT_NEAR(n[k], p[k] / sqrtf(3.0f), 1e-6) << "corner " << c;
  }
  // Where one face's right angle is split over two triangles, 45 degrees
  // each, the two together count as much as the other face's one triangle.
  const float corner[3][9] = {{0, 0, 0, 1, 0, 0, 0, 1, 0},  // +z, 90 degrees at the origin
                              {0, 0, 0, 0, 0, 1, 1, 0, 1},  // +y, 45 degrees
                              {0, 0, 0, 1, 0, 1, 1, 0, 0}}; // +y, 45 degrees
  kroTestMesh split;
  makeMesh(&split, corner);
  kroComputeNormals(split.op, split.nc, split.realn, split.triangles, 1);
  for (int t = 0; t < 3; t++)
    for (int k = 0; k < 3; k++)
      EXPECT_NEAR(split.nc[t][k], k ? sqrtf(0.5f) : 0.0f, 1e-6) << t;

  // A flat, a tall, a deep and a wide model (the cube squeezed, placed off the origin), fitted and
  // framed (view twice as wide as high) and drawn as a mesh: the box's front face fills the binding
  // side exactly (across for the flat and the wide one, four times as wide as high), the box lies
  // within the depth range, whose far end is the sphere's, and the front face, turned to the
  // viewer, is lit head-on, well above the ambient 26.
  const float shapes[4][3] = {{4, 1, 0.001f}, {0.2f, 1.2f, 0.2f}, {0.2f, 0.2f, 1.2f}, {4, 1, 0.5f}};
  glViewport(0, 0, 64, 32), glEnable(GL_DEPTH_TEST), kroSetLightMaterialColor(1, 1, 1);
  for (int m = 0; m < 4; m++) {
    SCOPED_TRACE(m);
    kroTestMesh cube(kAse + "box_without_normals.ase", 1);
    kroScaleObject(cube.op, 12, shapes[m][0], shapes[m][1], shapes[m][2]);
    kroTranslateObject(cube.op, 12, 30, -20, 10);
    kroComputeNormals(cube.op, cube.nc, cube.realn, 12, 0);
    kroMesh mesh = {cube.op, cube.nc, cube.realn, cube.tc, 12,      0,      "",
                    nullptr, nullptr, 0,          0,       nullptr, nullptr};
    kroBounds fit;
    kroMeshBounds(&mesh, 1, &fit), kroFitMeshes(&mesh, 1, &fit);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    kroFrameBounds(&fit, 30, 2);
    // Near: the sphere's front, or for the wide ones (the eye inside the sphere) an eighth of the
    // way to the box's front face.
    float p[16], mv[16];
    glGetFloatv(GL_PROJECTION_MATRIX, p), glGetFloatv(GL_MODELVIEW_MATRIX, mv);
    double front = -(mv[14] + fit.high[2]), sphere = -(mv[14] + fit.centre[2]) - fit.radius;
    EXPECT_EQ(sphere < front / 8, m % 3 == 0);
    EXPECT_NEAR(p[14] / (p[10] - 1), std::max(sphere, front / 8), 1e-4 * front);
    kroDrawMesh(&mesh, nullptr, 0);
    std::vector<float> both = projectionTimesModelView();
    double most[3] = {0, 0, 0}; // the corners' greatest |x|, |y| and |depth|, normalised
    for (int c = 0; c < 8; c++) {
      std::vector<double> at =
          project(both.data(), c & 1 ? fit.high[0] : fit.low[0], c & 2 ? fit.high[1] : fit.low[1],
                  c & 4 ? fit.high[2] : fit.low[2]);
      for (int k = 0; k < 3; k++)
        most[k] = std::max(most[k], fabs(at[k]));
    }
    EXPECT_TRUE(fabs(std::max(most[0], most[1]) - 1) < 1e-5 &&
                (most[0] > most[1]) == (m % 3 == 0) && most[2] < 1);
    EXPECT_NEAR(project(both.data(), 0, 0, -fit.radius)[2], 1, 1e-5); // far: the sphere's back
    std::vector<GLubyte> rgb(64 * 32 * 3);
    glReadPixels(0, 0, 64, 32, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
    EXPECT_GT(*std::max_element(rgb.begin(), rgb.end()), 150);
  }
  // A point (no width, no height) gets a unit sphere's fit: the sphere just inside the narrower
  // half field (the height's, 30 degrees), from the point's place.
  const kroBounds point = {{1, 2, 3}, {1, 2, 3}, {1, 2, 3}, 0};
  kroFrameBounds(&point, 30, 2);
  float mv[16];
  glGetFloatv(GL_MODELVIEW_MATRIX, mv);
  EXPECT_TRUE(mv[12] == -1 && mv[13] == -2 && fabs(mv[14] + 3 + 1 / sin(M_PI / 6)) < 1e-5)
      << mv[14];
  glViewport(0, 0, 64, 64), glDisable(GL_DEPTH_TEST);
}

// A triangle without area, or with a coordinate that is not finite, has the
// zero normal and adds nothing where it meets others; far-out coordinates
// still give unit normals; and a failed smoothing leaves the flat normals.
TEST_F(ObjectTest, DegenerateTrianglesGiveZeroAndSmoothingFailsToFlat) {
  const float inf = INFINITY, nan = NAN;
  const float rows[5][9] = {{0, 0, 0, 1, 0, 0, 0, 1, 0},   // a unit triangle facing +z
                            {0, 0, 0, 0, 0, 0, 1, 1, 0},   // no area, a corner on the first one's
                            {0, 0, 0, 0, nan, 0, 1, 0, 0}, // not a number
                            {0, 0, 0, inf, 0, 0, 0, 1, 1}, // infinite, a normal of no NaN
                            {0, 0, 1e30f, 1e30f, 0, 1e30f, 0, 1e30f, 1e30f}}; // huge but sound: +z
  kroTestMesh odd;
  makeMesh(&odd, rows);
  const float up[3] = {0, 0, 1}, zero[3] = {0, 0, 0};
  for (int smooth : {0, 1}) {
    SCOPED_TRACE(smooth);
    kroComputeNormals(odd.op, odd.nc, odd.realn, odd.triangles, smooth);
    for (int t = 0; t < 5; t++) {
      const float *face = t == 0 || t == 4 ? up : zero;
      for (int k = 0; k < 3; k++)
        EXPECT_EQ(odd.realn[t][k], face[k]) << t;
      for (int c = 0; c < 9; c++)
        EXPECT_EQ(odd.nc[t][c], face[c % 3]) << t << " corner " << c / 3;
    }
  }
  kroTestMesh box(kAse + "box_without_normals.ase", 1);
  kroTestExpectReport([&] { kroComputeNormals(box.op, box.nc, box.realn, box.triangles, 1); },
                      "Error during allocating memory in kroComputeNormals(..)\n", 1);
  for (int c = 0; c < 36; c++)
    EXPECT_EQ(memcmp(box.normal(c), box.realn[c / 3], 3 * sizeof(float)), 0) << c;
}

} // namespace
