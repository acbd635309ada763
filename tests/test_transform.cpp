// In-place transforms, the 3x3 product, rotation handedness, and the frustum
// that the perspective camera hands to GL.
#include "gl_context.h"

#include <gtest/gtest.h>
#include <math.h>

namespace {

kroObject makeTriangle(const float (&values)[9]) {
  kroObject op = nullptr;
  kroIncreaseObject(&op, 0, 1);
  for (int k = 0; k < 9; k++)
    op[0][k] = values[k];
  return op;
}

TEST(TransformTest, ScaleAndTranslateTouchTheRightAxes) {
  kroObject op = makeTriangle({1, 2, 3, 4, 5, 6, 7, 8, 9});
  kroObject nc = makeTriangle({0, 0, 1, 0, 0, 1, 0, 0, 1});

  kroScaleObject(op, 1, 0.1f, 0.1f, 0.05f);
  const float scaled[9] = {0.1f, 0.2f, 0.15f, 0.4f, 0.5f, 0.3f, 0.7f, 0.8f, 0.45f};
  for (int k = 0; k < 9; k++)
    EXPECT_FLOAT_EQ(op[0][k], scaled[k]) << k;
  EXPECT_EQ(nc[0][2], 1.0f); // normals are not the scale's business

  kroTranslateObject(op, 1, 1.0f, -1.0f, 2.0f);
  for (int k = 0; k < 9; k++)
    EXPECT_FLOAT_EQ(op[0][k], scaled[k] + (k % 3 == 0 ? 1.0f : k % 3 == 1 ? -1.0f : 2.0f)) << k;

  const float s[3] = {2, 3, 4}, d[3] = {-1, 0, 1};
  kroObject a = makeTriangle({1, 1, 1, 2, 2, 2, 3, 3, 3});
  kroScalevObject(a, 1, s);
  kroTranslatevObject(a, 1, d);
  const float expected[9] = {1, 3, 5, 3, 6, 9, 5, 9, 13};
  for (int k = 0; k < 9; k++)
    EXPECT_FLOAT_EQ(a[0][k], expected[k]) << k;

  kroScale1Object(a, 1, -2.0f);
  EXPECT_FLOAT_EQ(a[0][8], -26.0f);
  kroScale1Object(a, 0, 100.0f); // a count of 0 touches nothing
  EXPECT_FLOAT_EQ(a[0][8], -26.0f);

  kroDestroyObject(&op, 1);
  kroDestroyObject(&nc, 1);
  kroDestroyObject(&a, 1);
}

TEST(TransformTest, RotationIsRightHandedAndAliasSafe) {
  float m[9];
  const float z_axis[3] = {0, 0, 1};
  kroCreateRotationMatrixFromNormalizedAxis(m, z_axis, (float)M_PI / 2);
  float v[3] = {1, 0, 0};
  kroApply3x3MatrixToVector(m, v);
  EXPECT_NEAR(v[0], 0.0f, 1e-6);
  EXPECT_NEAR(v[1], 1.0f, 1e-6); // x turns towards y
  EXPECT_NEAR(v[2], 0.0f, 1e-6);

  const float x_axis[3] = {1, 0, 0};
  kroCreateRotationMatrixFromNormalizedAxis(m, x_axis, (float)M_PI / 2);
  float w[3] = {0, 1, 0};
  kroApply3x3MatrixToVector(m, w);
  EXPECT_NEAR(w[2], 1.0f, 1e-6); // y turns towards z

  const float diagonal[3] = {0.57735027f, 0.57735027f, 0.57735027f};
  kroCreateRotationMatrixFromNormalizedAxis(m, diagonal, 0.0f);
  for (int i = 0; i < 9; i++)
    EXPECT_FLOAT_EQ(m[i], i % 4 == 0 ? 1.0f : 0.0f) << i;

  // The vector may be a row of the matrix itself.
  float n[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  kroApply3x3MatrixToVector(n, n);
  EXPECT_FLOAT_EQ(n[0], 14.0f);
  EXPECT_FLOAT_EQ(n[1], 32.0f);
  EXPECT_FLOAT_EQ(n[2], 50.0f);
}

TEST(TransformTest, PerspectiveGivesTheExpectedFrustum) {
  ASSERT_TRUE(kroTestOpenGL());
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  kroPerspectiveOGL(45.0f, 1.0f, 1.0f, 10.0f);
  GLfloat p[16];
  glGetFloatv(GL_PROJECTION_MATRIX, p);
  // glFrustum(-1, 1, -1, 1, 1, 10): 2n/(r-l) = 1, 2n/(t-b) = 1.
  EXPECT_NEAR(p[0], 1.0f, 1e-6);
  EXPECT_NEAR(p[5], 1.0f, 1e-6);
  EXPECT_NEAR(p[8], 0.0f, 1e-6);
  EXPECT_NEAR(p[9], 0.0f, 1e-6);
  EXPECT_NEAR(p[10], -11.0f / 9.0f, 1e-6);
  EXPECT_NEAR(p[11], -1.0f, 1e-6);
  EXPECT_NEAR(p[14], -20.0f / 9.0f, 1e-6);

  // The angle is from the axis to the top edge: 40 degrees at aspect 2.
  glLoadIdentity();
  kroPerspectiveOGL(40.0f, 2.0f, 0.2f, 50.0f);
  glGetFloatv(GL_PROJECTION_MATRIX, p);
  EXPECT_NEAR(p[5], 1.0 / tan(40.0 * M_PI / 180.0), 1e-5);
  EXPECT_NEAR(p[0], 1.0 / (2.0 * tan(40.0 * M_PI / 180.0)), 1e-5);
  glLoadIdentity();
  glMatrixMode(GL_MODELVIEW);
}

} // namespace
