// The intro scene on a real context, checked by asking GL: the program it
// builds, its two textures, the light and material of each phase, the flyers'
// flight, the state a frame leaves behind, and the one-time tear-down.
#include "gl_context.h"
#include "ZKintro.h"

#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const int kWidth = 1200, kHeight = 600;

// Opens the 1200 x 600 context and builds the scene (first call at 0.25 s).
// A scene already released earlier in this process cannot be drawn again.
bool sceneReady() {
  if (!kroTestOpenGL(kWidth, kHeight))
    return false;
  zkIntroState state;
  zkIntroGetState(&state);
  if (!state.init) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    zkIntro(2.0f, 0.25f);
    // Building a program into a zero-filled record first detaches object 0
    // from program 0, which GL answers with GL_INVALID_VALUE; frames are
    // checked on their own.
    while (glGetError() != GL_NO_ERROR) {
    }
  }
  zkIntroGetState(&state);
  return state.init && !state.destroy;
}

#define REQUIRE_SCENE()                                                                            \
  do {                                                                                             \
    ASSERT_TRUE(kroTestOpenGL(kWidth, kHeight));                                                   \
    if (!sceneReady())                                                                             \
      GTEST_SKIP() << "the scene was released earlier in this process";                            \
  } while (0)

zkIntroState sceneState() {
  zkIntroState state;
  zkIntroGetState(&state);
  return state;
}

// One frame as the shell draws it, read back from the back buffer.
struct Frame {
  std::vector<unsigned char> rgba;
  int red(int x, int y) const { return rgba[(size_t)(y * kWidth + x) * 4]; }
  bool lit(int x, int y) const { return red(x, y) > 24; }
};

Frame drawFrame(float seconds) {
  glClearColor(0, 0, 0, 0);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  zkIntro(2.0f, seconds);
  glFinish();
  Frame frame;
  frame.rgba.resize((size_t)kWidth * kHeight * 4);
  glReadBuffer(GL_BACK);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, frame.rgba.data());
  return frame;
}

// Pixels with any colour at all (the clear colour is black).
size_t litPixels(const Frame &frame) {
  size_t lit = 0;
  for (size_t i = 0; i < frame.rgba.size(); i += 4)
    lit += (frame.rgba[i] | frame.rgba[i + 1] | frame.rgba[i + 2]) != 0;
  return lit;
}

// Window pixel (origin bottom left) of a scene point seen through the intro's
// camera: 40 degrees from the axis to the top plane, aspect 2.
void project(float x, float y, float z, int *px, int *py) {
  double half_height = -z * tan(40.0 * M_PI / 180.0);
  *px = (int)lround((x / (2.0 * half_height) + 1.0) * 0.5 * kWidth);
  *py = (int)lround((y / half_height + 1.0) * 0.5 * kHeight);
}

// The front face of a landed digit lies at z = -2.4 + 0.75 * 0.05.
const float kDigitFront = -2.3625f;

// True when a digit with its centre at (x, y) shows there: a lit ring around
// a dark hole for a zero, a lit bar for a one.
bool digitShows(const Frame &frame, float x, float y, bool one) {
  int cx, cy, top_x, top_y;
  project(x, y, kDigitFront, &cx, &cy);
  project(x, y + 0.128f, kDigitFront, &top_x, &top_y);
  if (cx < 0 || cx >= kWidth || cy < 0 || top_y >= kHeight)
    return false;
  if (one)
    return frame.lit(cx, cy) && frame.lit(top_x, top_y);
  return !frame.lit(cx, cy) && frame.lit(top_x, top_y);
}

TEST(SceneProgram, EmbeddedTextsCompileAndLinkWithTheirSamplers) {
  EXPECT_EQ(strlen(zk_vertex_text), 299u);
  EXPECT_EQ(strchr(zk_vertex_text, '\n'), nullptr);
  EXPECT_EQ(strchr(zk_fragment_text, '\n'), nullptr);
  std::string fragment = zk_fragment_text;
  EXPECT_EQ(fragment.find("<0)"), std::string::npos);
  EXPECT_NE(fragment.find("if(right-current<0.0)n=rotateVectorXY(normal,current*"),
            std::string::npos);
  EXPECT_NE(fragment.find("else\t\tn=rotateVectorYZ(n,-current*"), std::string::npos);

  REQUIRE_SCENE();
  GLhandleARB program = sceneState().program;
  ASSERT_NE(program, 0u);
  GLint linked = 0, attached = 0;
  glGetObjectParameterivARB(program, GL_OBJECT_LINK_STATUS_ARB, &linked);
  glGetObjectParameterivARB(program, GL_OBJECT_ATTACHED_OBJECTS_ARB, &attached);
  EXPECT_EQ(linked, 1);
  ASSERT_EQ(attached, 2);

  GLhandleARB stages[2];
  glGetAttachedObjectsARB(program, 2, nullptr, stages);
  int vertex_stages = 0;
  for (GLhandleARB stage : stages) {
    GLint compiled = 0, type = 0;
    glGetObjectParameterivARB(stage, GL_OBJECT_COMPILE_STATUS_ARB, &compiled);
    glGetObjectParameterivARB(stage, GL_OBJECT_SUBTYPE_ARB, &type);
    EXPECT_EQ(compiled, 1) << "stage of type " << type;
    char source[4096];
    glGetShaderSourceARB(stage, sizeof source, nullptr, source);
    if (type == GL_VERTEX_SHADER_ARB) {
      vertex_stages++;
      EXPECT_STREQ(source, zk_vertex_text);
    } else {
      EXPECT_STREQ(source, zk_fragment_text);
    }
  }
  EXPECT_EQ(vertex_stages, 1);

  drawFrame(1.0f);
  GLint specular_unit = -1, bump_unit = -1;
  glGetUniformivARB(program, glGetUniformLocationARB(program, "specular_map"), &specular_unit);
  glGetUniformivARB(program, glGetUniformLocationARB(program, "bump_map"), &bump_unit);
  EXPECT_EQ(specular_unit, 0);
  EXPECT_EQ(bump_unit, 1);
}

// A square facing +z at z = -2 drawn with the scene's program, its light at
// (0, 0, 4, w) and the given shininess; texture coordinates (s, t) at every
// corner. Returns the colour at scene point (x, 0, -2).
std::vector<int> shadeSquare(float w, float shininess, float s, float t, float x) {
  zkIntroState state = sceneState();
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  kroPerspectiveOGL(40.0f, 2.0f, 0.2f, 50.0f);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  const float light[4] = {0, 0, 4, w}, white[4] = {1, 1, 1, 1}, ambient[4] = {0.5f, 0.25f, 0, 1};
  glLightfv(GL_LIGHT0, GL_POSITION, light);
  glLightfv(GL_LIGHT0, GL_AMBIENT, white);
  glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, ambient);
  glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, shininess);
  glUseProgramObjectARB(state.program);
  glBegin(GL_QUADS);
  glNormal3f(0, 0, 1);
  glMultiTexCoord2fARB(GL_TEXTURE0_ARB, s, t);
  glVertex3f(-1.5f, -0.5f, -2);
  glVertex3f(1.5f, -0.5f, -2);
  glVertex3f(1.5f, 0.5f, -2);
  glVertex3f(-1.5f, 0.5f, -2);
  glEnd();
  glUseProgramObjectARB(0);
  glFinish();
  int px, py;
  project(x, 0, -2, &px, &py);
  unsigned char rgba[4];
  glReadPixels(px, py, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
  return {rgba[0], rgba[1], rgba[2]};
}

TEST(SceneProgram, ShadesWithClampedDiffuseAndSharpHighlight) {
  REQUIRE_SCENE();
  drawFrame(1.0f); // binds both textures to their units and sets the samplers
  // Off the highlight: diffuse only, clamped to 0.96 of the material colour.
  std::vector<int> side = shadeSquare(0, 0, 0, 0, 1.0f);
  EXPECT_NEAR(side[0], 0.96 * 0.5 * 255, 3);
  EXPECT_NEAR(side[1], 0.96 * 0.25 * 255, 3);
  EXPECT_LE(side[2], 2); // the far edge of the highlight
  // On the axis the half vector is the normal: a full white highlight.
  std::vector<int> centre = shadeSquare(0, 0, 0, 0, 0.0f);
  EXPECT_EQ(centre, (std::vector<int>{255, 255, 255}));

  // Bump strength 0 leaves the normal alone wherever the dimples are; at
  // strength 1 a cell's corner (texel 225: a tilt of 0.88 rad) turns it away
  // from the light and the surface darkens.
  float steep_s = 0.5f / 512, steep_t = 0.5f / 64, flat_s = 8.0f / 512, flat_t = 8.0f / 64;
  std::vector<int> flat_unbumped = shadeSquare(0, 0, flat_s, flat_t, 1.0f);
  std::vector<int> steep_unbumped = shadeSquare(0, 0, steep_s, steep_t, 1.0f);
  EXPECT_EQ(flat_unbumped, side);
  EXPECT_EQ(steep_unbumped, side);
  std::vector<int> steep_bumped = shadeSquare(1, 0, steep_s, steep_t, 1.0f);
  EXPECT_LT(steep_bumped[0], side[0] - 25);
}

// Reads the 512 x 64 texture bound to `unit` after a frame.
std::vector<unsigned char> texelsOnUnit(GLenum unit, GLuint expected_name) {
  glActiveTextureARB(unit);
  GLint bound = 0, width = 0, height = 0, min_filter = 0, mag_filter = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  EXPECT_EQ((GLuint)bound, expected_name);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &height);
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &min_filter);
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &mag_filter);
  EXPECT_EQ(width, 512);
  EXPECT_EQ(height, 64);
  EXPECT_EQ(min_filter, GL_LINEAR);
  EXPECT_EQ(mag_filter, GL_LINEAR);
  std::vector<unsigned char> texels(512 * 64);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RED, GL_UNSIGNED_BYTE, texels.data());
  glActiveTextureARB(GL_TEXTURE0_ARB);
  return texels;
}

TEST(SceneTextures, SpecularAndBumpTexelsAsGenerated) {
  REQUIRE_SCENE();
  drawFrame(2.0f);
  zkIntroState state = sceneState();
  ASSERT_NE(state.specular_map, state.bump_map);

  std::vector<unsigned char> specular = texelsOnUnit(GL_TEXTURE0_ARB, state.specular_map);
  auto spec = [&](int row, int column) { return (int)specular[row * 512 + column]; };
  for (int k = 0; k < 512; k += 37)
    EXPECT_EQ(spec(0, k), 0);
  for (int k = 0; k < 64; k += 5)
    EXPECT_EQ(spec(k, 0), 0);
  EXPECT_EQ(spec(1, 1), 214);
  EXPECT_EQ(spec(1, 2), 231);
  EXPECT_EQ(spec(1, 3), 35);
  EXPECT_EQ(spec(1, 4), 64); // sin(4) * 255 = -192.9, kept as its low byte
  EXPECT_EQ(spec(1, 5), 12);
  EXPECT_EQ(spec(2, 2), 64);
  std::vector<bool> seen(256, false);
  for (unsigned char v : specular)
    seen[v] = true;
  EXPECT_EQ(std::count(seen.begin(), seen.end(), true), 256);

  std::vector<unsigned char> bump = texelsOnUnit(GL_TEXTURE1_ARB, state.bump_map);
  auto dimple = [&](int row, int column) { return (int)bump[row * 512 + column]; };
  EXPECT_EQ(dimple(0, 0), 225);
  EXPECT_EQ(dimple(7, 7), 1);
  EXPECT_EQ(dimple(7, 8), 1);
  EXPECT_EQ(dimple(8, 7), 1);
  EXPECT_EQ(dimple(8, 8), 1);
  EXPECT_EQ(dimple(0, 7), 113);
  EXPECT_EQ(dimple(3, 12), 81);
  EXPECT_EQ(dimple(16, 16), 225);
  EXPECT_EQ(dimple(63, 511), 225);
  EXPECT_EQ(*std::min_element(bump.begin(), bump.end()), 1);
  EXPECT_EQ(*std::max_element(bump.begin(), bump.end()), 225);
}

TEST(SceneFlyers, LeaveAtTheirDepartureAndLandOneSecondLater) {
  REQUIRE_SCENE();
  // Flyer 10 (a one) leaves (-0.75, 5.2) at 1.0 for (0.75, 0.6); flyer 3
  // (a one) leaves (1.35, 5.2) at 2.0 for (-1.35, 0.6); flyer 30 (a zero)
  // leaves (-1.95, -5.2) at 2.5 for (1.95, -0.6).
  Frame at_one = drawFrame(1.0f);
  EXPECT_FALSE(digitShows(at_one, 0.75f, 0.6f, true));
  Frame at_two = drawFrame(2.0f);
  EXPECT_TRUE(digitShows(at_two, 0.75f, 0.6f, true));
  EXPECT_FALSE(digitShows(at_two, -1.35f, 0.6f, true));

  // A quarter second before landing flyer 3 is three quarters of the way:
  // (-0.675, 1.75), near the top edge, and not yet in its row.
  Frame in_flight = drawFrame(2.75f);
  EXPECT_TRUE(digitShows(in_flight, -0.675f, 1.75f, true));
  EXPECT_FALSE(digitShows(in_flight, -1.35f, 0.6f, true));

  Frame at_three = drawFrame(3.0f);
  EXPECT_TRUE(digitShows(at_three, -1.35f, 0.6f, true));
  EXPECT_FALSE(digitShows(at_three, -0.675f, 1.75f, true));
  EXPECT_FALSE(digitShows(at_three, 1.95f, -0.6f, false));
  Frame at_three_and_half = drawFrame(3.5f);
  EXPECT_TRUE(digitShows(at_three_and_half, 1.95f, -0.6f, false));
}

TEST(SceneFrame, LeavesTheStateTheShellExpects) {
  REQUIRE_SCENE();
  drawFrame(7.0f);
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
  GLint value = -1;
  glGetIntegerv(GL_ACTIVE_TEXTURE_ARB, &value);
  EXPECT_EQ(value, GL_TEXTURE0_ARB);
  glGetIntegerv(GL_MATRIX_MODE, &value);
  EXPECT_EQ(value, GL_MODELVIEW);
  glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &value);
  EXPECT_EQ(value, 1);
  glGetIntegerv(GL_PROJECTION_STACK_DEPTH, &value);
  EXPECT_EQ(value, 1);
  EXPECT_EQ(glGetHandleARB(GL_PROGRAM_OBJECT_ARB), 0u);
  EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
  EXPECT_TRUE(glIsEnabled(GL_CULL_FACE));
  glGetIntegerv(GL_DEPTH_FUNC, &value);
  EXPECT_EQ(value, GL_LESS);
  glGetIntegerv(GL_CULL_FACE_MODE, &value);
  EXPECT_EQ(value, GL_BACK);
  glGetIntegerv(GL_FRONT_FACE, &value);
  EXPECT_EQ(value, GL_CCW);
  float modelview[16];
  glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
  for (int i = 0; i < 16; i++)
    EXPECT_EQ(modelview[i], i % 5 == 0 ? 1.0f : 0.0f) << i;
}

struct Lighting {
  float position[4];
  float shininess;
  float ambient[4];
};

Lighting currentLighting() {
  Lighting lighting;
  glGetLightfv(GL_LIGHT0, GL_POSITION, lighting.position);
  glGetMaterialfv(GL_FRONT, GL_SHININESS, &lighting.shininess);
  glGetMaterialfv(GL_FRONT, GL_AMBIENT, lighting.ambient);
  float back_shininess = -1;
  glGetMaterialfv(GL_BACK, GL_SHININESS, &back_shininess);
  EXPECT_EQ(back_shininess, lighting.shininess);
  return lighting;
}

// Draws a frame with the logo's list replaced by one that saves the lighting
// state, so that both the logo's values (saved) and the digits' (left after
// the frame) can be read. The logo list stays empty afterwards.
void lightingOfFrame(float seconds, Lighting *logo, Lighting *digits) {
  GLuint logo_list = sceneState().drawing_list_text;
  glNewList(logo_list, GL_COMPILE);
  glPushAttrib(GL_LIGHTING_BIT);
  glEndList();
  drawFrame(seconds);
  *digits = currentLighting();
  glPopAttrib();
  *logo = currentLighting();
  glNewList(logo_list, GL_COMPILE);
  glEndList();
  GLfloat light_ambient[4];
  glGetLightfv(GL_LIGHT0, GL_AMBIENT, light_ambient);
  for (float c : light_ambient)
    EXPECT_EQ(c, 1.0f);
}

void expectPosition(const Lighting &l, float x, float y, float z, float w) {
  EXPECT_NEAR(l.position[0], x, 1e-4);
  EXPECT_NEAR(l.position[1], y, 1e-6);
  EXPECT_NEAR(l.position[2], z, 1e-4);
  EXPECT_FLOAT_EQ(l.position[3], w);
}

void expectAmbient(const Lighting &l, float r, float g, float b, float a) {
  EXPECT_FLOAT_EQ(l.ambient[0], r);
  EXPECT_FLOAT_EQ(l.ambient[1], g);
  EXPECT_FLOAT_EQ(l.ambient[2], b);
  EXPECT_FLOAT_EQ(l.ambient[3], a);
}

TEST(SceneLighting, PhasesAndTheirEdges) {
  REQUIRE_SCENE();
  Lighting logo, digits;

  // Phase 1: bump strength seconds / 6, no shininess; at 3 s the light is
  // at radius 4.5, three quarters round: (0, 0, 8.5).
  lightingOfFrame(3.0f, &logo, &digits);
  expectPosition(logo, 0.0f, 0.0f, 8.5f, 0.5f);
  EXPECT_EQ(logo.shininess, 0.0f);
  expectAmbient(logo, 0.8f, 0.5f, 0.1f, 1.0f);
  expectPosition(digits, 0.0f, 0.0f, 8.5f, 0.0f);
  EXPECT_EQ(digits.shininess, 0.0f);
  expectAmbient(digits, 0.8f, 0.3f, 0.0f, 0.0f);

  lightingOfFrame(5.999f, &logo, &digits);
  EXPECT_NEAR(logo.position[3], 5.999f / 6.0f, 1e-6);

  // Exactly 6.0 is the second phase: full bump strength, shininess still 0;
  // radius 3 after one and a half turns: (-3, 0, 4).
  lightingOfFrame(6.0f, &logo, &digits);
  expectPosition(logo, -3.0f, 0.0f, 4.0f, 1.0f);
  EXPECT_EQ(logo.shininess, 0.0f);
  expectPosition(digits, -3.0f, 0.0f, 4.0f, 0.0f);
  EXPECT_EQ(digits.shininess, 0.0f);

  lightingOfFrame(9.0f, &logo, &digits); // shininess halfway, radius 1.5
  EXPECT_FLOAT_EQ(logo.shininess, 64.0f);
  expectPosition(logo, 0.0f, 0.0f, 2.5f, 1.0f);
  EXPECT_EQ(digits.shininess, 0.0f);

  lightingOfFrame(11.5f, &logo, &digits);
  EXPECT_NEAR(logo.shininess, 5.5f / 6.0f * 128.0f, 1e-4);
  EXPECT_GT(fabs(logo.position[0]) + fabs(logo.position[2] - 4.0f), 0.2f);

  // Exactly 12.0: the light rests at (0, 0, 4), shininess 128.
  lightingOfFrame(12.0f, &logo, &digits);
  expectPosition(logo, 0.0f, 0.0f, 4.0f, 1.0f);
  EXPECT_EQ(logo.shininess, 128.0f);
  expectPosition(digits, 0.0f, 0.0f, 4.0f, 0.0f);
  EXPECT_EQ(digits.shininess, 0.0f);
  expectAmbient(digits, 0.8f, 0.3f, 0.0f, 0.0f);

  lightingOfFrame(13.9f, &logo, &digits);
  expectPosition(logo, 0.0f, 0.0f, 4.0f, 1.0f);
  EXPECT_EQ(logo.shininess, 128.0f);
}

TEST(SceneHelpers, TexCoordsSpanTheWordOnce) {
  kroObject positions = nullptr, texcoords = nullptr;
  kroIncreaseObject(&positions, 0, 2);
  kroIncreaseTexCoords(&texcoords, 0, 2);
  const float corners[2][9] = {
      {-2.376711f, -0.296261f, -2.3f, 2.333038f, -0.296261f, -2.3f, 2.333038f, 0.317921f, -2.3f},
      {-0.0218365f, 0.01083f, 5.0f, 0, 0, 0, -2.376711f, 0.317921f, 0}};
  memcpy(positions[0], corners[0], sizeof corners[0]);
  memcpy(positions[1], corners[1], sizeof corners[1]);
  calculateTexCoords(positions, texcoords, 2);
  const float expected[2][6] = {{0, 0, 1, 0, 1, 1},
                                {(float)((-0.0218365 + 2.376711) / 4.709749),
                                 (float)((0.01083 + 0.296261) / 0.614182),
                                 (float)(2.376711 / 4.709749), (float)(0.296261 / 0.614182), 0, 1}};
  for (int i = 0; i < 2; i++)
    for (int k = 0; k < 6; k++)
      EXPECT_NEAR(texcoords[i][k], expected[i][k], 2e-7) << i << "," << k;
  EXPECT_EQ(texcoords[1][0], expected[1][0]); // rounded once from double
  kroDestroyObject(&positions, 2);
  kroDestroyObject(&texcoords, 2);
}

TEST(SceneHelpers, DrawObjectSendsEachVertexWithItsOwnAttributes) {
  ASSERT_TRUE(kroTestOpenGL(kWidth, kHeight));
  kroObject positions = nullptr, normals = nullptr, texcoords = nullptr;
  kroIncreaseObject(&positions, 0, 1);
  kroIncreaseObject(&normals, 0, 1);
  kroIncreaseTexCoords(&texcoords, 0, 1);
  const float p[9] = {-0.5f, -0.5f, 0, 0.5f, -0.5f, 0, 0, 0.5f, 0};
  const float n[9] = {0, 0, 1, 0, 0, 1, 0, 0, 1};
  const float t[6] = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f};
  memcpy(positions[0], p, sizeof p);
  memcpy(normals[0], n, sizeof n);
  memcpy(texcoords[0], t, sizeof t);

  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();
  glDisable(GL_CULL_FACE);
  GLfloat feedback[64];
  glFeedbackBuffer(64, GL_3D_COLOR_TEXTURE, feedback);
  glRenderMode(GL_FEEDBACK);
  zkDrawObject(positions, normals, texcoords, 0); // an empty block is harmless
  zkDrawObject(positions, normals, texcoords, 1);
  GLint values = glRenderMode(GL_RENDER);
  glPopMatrix();
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);

  // GL_POLYGON_TOKEN, 3, then per vertex x, y, z, r, g, b, a, s, t, r, q.
  ASSERT_EQ(values, 2 + 3 * 11);
  EXPECT_EQ(feedback[0], (float)GL_POLYGON_TOKEN);
  EXPECT_EQ(feedback[1], 3.0f);
  for (int k = 0; k < 3; k++) {
    const float *vertex = feedback + 2 + 11 * k;
    EXPECT_NEAR(vertex[0], (p[3 * k] + 1) * 0.5f * kWidth, 0.01);
    EXPECT_NEAR(vertex[1], (p[3 * k + 1] + 1) * 0.5f * kHeight, 0.01);
    EXPECT_FLOAT_EQ(vertex[7], t[2 * k]);
    EXPECT_FLOAT_EQ(vertex[8], t[2 * k + 1]);
  }
  kroDestroyObject(&positions, 1);
  kroDestroyObject(&normals, 1);
  kroDestroyObject(&texcoords, 1);
}

// Runs last in a process that runs every case: the scene cannot come back.
TEST(SceneTearDown, NothingDrawnFromFourteenAndEverythingReleasedOnce) {
  REQUIRE_SCENE();
  zkIntroState built = sceneState();
  EXPECT_EQ(built.arrays_held, 44);
  EXPECT_TRUE(glIsList(built.drawing_list0));
  EXPECT_TRUE(glIsList(built.drawing_list_text));
  EXPECT_TRUE(glIsTexture(built.bump_map));
  EXPECT_TRUE(glIsProgram(built.program));

  EXPECT_GT(litPixels(drawFrame(13.99f)), 1000u);

  Frame at_end = drawFrame(14.0f);
  EXPECT_EQ(litPixels(at_end), 0u);
  zkIntroState released = sceneState();
  EXPECT_EQ(released.destroy, 1);
  EXPECT_EQ(released.arrays_held, 0);
  EXPECT_FALSE(glIsList(built.drawing_list0));
  EXPECT_FALSE(glIsList(built.drawing_list1));
  EXPECT_FALSE(glIsList(built.drawing_list_text));
  EXPECT_FALSE(glIsTexture(built.specular_map));
  EXPECT_FALSE(glIsTexture(built.bump_map));
  EXPECT_FALSE(glIsProgram(built.program));
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);

  // Names made afterwards may be the old ones again; later calls leave them be.
  GLuint textures[2];
  glGenTextures(2, textures);
  glBindTexture(GL_TEXTURE_2D, textures[0]);
  glBindTexture(GL_TEXTURE_2D, textures[1]);
  glBindTexture(GL_TEXTURE_2D, 0);
  GLuint lists = glGenLists(3);
  for (GLuint l = lists; l < lists + 3; l++) {
    glNewList(l, GL_COMPILE);
    glEndList();
  }
  EXPECT_EQ(litPixels(drawFrame(15.0f)), 0u);
  EXPECT_EQ(litPixels(drawFrame(5.0f)), 0u); // a released scene is not drawn again
  EXPECT_TRUE(glIsTexture(textures[0]));
  EXPECT_TRUE(glIsTexture(textures[1]));
  for (GLuint l = lists; l < lists + 3; l++)
    EXPECT_TRUE(glIsList(l));
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
  glDeleteTextures(2, textures);
  glDeleteLists(lists, 3);
}

TEST(SceneTearDown, AFirstCallAtFourteenBuildsAndReleasesAtOnce) {
  ASSERT_TRUE(kroTestOpenGL(kWidth, kHeight));
  if (sceneState().init)
    GTEST_SKIP() << "needs a process whose scene was never built";
  Frame frame = drawFrame(20.0f);
  zkIntroState state = sceneState();
  EXPECT_EQ(state.init, 1);
  EXPECT_EQ(state.destroy, 1);
  EXPECT_EQ(state.arrays_held, 0);
  EXPECT_FALSE(glIsTexture(state.specular_map));
  EXPECT_FALSE(glIsList(state.drawing_list_text));
  EXPECT_EQ(litPixels(frame), 0u);
}

} // namespace
