// In-place transforms, the 3x3 product, rotation handedness, and the frustum
// that the perspective camera hands to GL.
#include "gl_context.h"

#include <math.h>
#include <string.h>

#include <random>

namespace {

void expectRow(kroObject op, std::initializer_list<float> values) {
  int k = 0;
  for (float v : values)
    EXPECT_FLOAT_EQ(op[0][k++], v) << "float " << k - 1;
}

TEST(TransformTest, ScaleAndTranslateTouchTheRightAxes) {
  kroObject op = nullptr;
  kroIncreaseObject(&op, 0, 1);
  for (int k = 0; k < 9; k++)
    op[0][k] = k + 1.0f;
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

} // namespace
