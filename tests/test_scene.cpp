// The intro scene on a real context, checked by asking GL: its program and
// textures, each phase's light and material, the flyers, the state a frame
// leaves behind, and the one-time tear-down.
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

zkIntroState sceneState() {
  zkIntroState state;
  zkIntroGetState(&state);
  return state;
}

// Builds the scene once (first call at 0.25 s); skips once it was released.
struct Scene : testing::Test {
  void SetUp() override {
    ASSERT_TRUE(kroTestOpenGL(kWidth, kHeight));
    if (!sceneState().init) {
      zkIntro(2.0f, 0.25f);
      // Building into a zero-filled shader record detaches object 0 from
      // program 0 (GL_INVALID_VALUE); frames are checked on their own.
      while (glGetError() != GL_NO_ERROR) {
      }
    }
    if (sceneState().destroy)
      GTEST_SKIP() << "the scene was released earlier in this process";
  }
};

// One frame as the shell draws it, read back from the back buffer.
struct Frame {
  std::vector<unsigned char> rgba = std::vector<unsigned char>((size_t)kWidth * kHeight * 4);
  bool lit(int x, int y) const { return rgba[(size_t)(y * kWidth + x) * 4] > 24; }
  size_t litPixels() const {
    size_t lit = 0;
    for (size_t i = 0; i < rgba.size(); i += 4)
      lit += (rgba[i] | rgba[i + 1] | rgba[i + 2]) != 0;
    return lit;
  }
};

Frame drawFrame(float seconds) {
  glClearColor(0, 0, 0, 0);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  zkIntro(2.0f, seconds);
  Frame frame;
  glReadBuffer(GL_BACK);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, frame.rgba.data());
  return frame;
}

// Window pixel of a scene point through the intro's camera (40 degrees to the
// top plane, aspect 2).
void project(float x, float y, float z, int *px, int *py) {
  double half_height = -z * tan(40.0 * M_PI / 180.0);
  *px = (int)lround((x / (2.0 * half_height) + 1.0) * 0.5 * kWidth);
  *py = (int)lround((y / half_height + 1.0) * 0.5 * kHeight);
}

// A digit centred at (x, y) on the landed front plane (-2.4 + 0.75 * 0.05):
// a lit ring round a dark hole for a zero, a lit bar for a one.
bool digitShows(const Frame &frame, float x, float y, bool one) {
  int cx, cy, top_x, top_y;
  project(x, y, -2.3625f, &cx, &cy);
  project(x, y + 0.128f, -2.3625f, &top_x, &top_y);
  if (cx < 0 || cx >= kWidth || cy < 0 || top_y >= kHeight)
    return false;
  return frame.lit(cx, cy) == one && frame.lit(top_x, top_y);
}

TEST_F(Scene, ProgramBuiltFromTheEmbeddedTextsWithItsSamplers) {
  EXPECT_EQ(strlen(zk_vertex_text), 299u);
  EXPECT_EQ(strchr(zk_vertex_text, '\n'), nullptr);
  EXPECT_EQ(strchr(zk_fragment_text, '\n'), nullptr);
  std::string fragment = zk_fragment_text;
  EXPECT_EQ(fragment.find("<0)"), std::string::npos);
  EXPECT_NE(fragment.find("if(right-current<0.0)n=rotateVectorXY(normal,current*"),
            std::string::npos);
  EXPECT_NE(fragment.find("else\t\tn=rotateVectorYZ(n,-current*"), std::string::npos);

  GLhandleARB program = sceneState().program;
  GLint linked = 0, attached = 0;
  glGetObjectParameterivARB(program, GL_OBJECT_LINK_STATUS_ARB, &linked);
  glGetObjectParameterivARB(program, GL_OBJECT_ATTACHED_OBJECTS_ARB, &attached);
  EXPECT_EQ(linked, 1);
  EXPECT_EQ(attached, 2);

  drawFrame(1.0f);
  GLint units[2] = {-1, -1};
  glGetUniformivARB(program, glGetUniformLocationARB(program, "specular_map"), &units[0]);
  glGetUniformivARB(program, glGetUniformLocationARB(program, "bump_map"), &units[1]);
  EXPECT_EQ(units[0], 0);
  EXPECT_EQ(units[1], 1);
}

// A square facing +z at z = -2 shaded by the scene's program, light at
// (0, 0, 4, w), texture coordinates (s, t) everywhere; colour at (x, 0, -2).
std::vector<int> shadeSquare(float w, float s, float t, float x) {
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
  glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 0);
  glTranslatef(0, 0, -2);
  glUseProgramObjectARB(sceneState().program);
  glNormal3f(0, 0, 1);
  glMultiTexCoord2fARB(GL_TEXTURE0_ARB, s, t);
  glRectf(-1.5f, -0.5f, 1.5f, 0.5f);
  glUseProgramObjectARB(0);
  glLoadIdentity();
  int px, py;
  unsigned char rgba[4];
  project(x, 0, -2, &px, &py);
  glReadPixels(px, py, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
  return {rgba[0], rgba[1], rgba[2]};
}

TEST_F(Scene, ShadesWithClampedDiffuseAndSharpHighlight) {
  drawFrame(1.0f); // binds both textures and sets the samplers
  // Off the highlight: diffuse only, clamped to 0.96 of the material colour.
  std::vector<int> side = shadeSquare(0, 0, 0, 1.0f);
  EXPECT_NEAR(side[0], 0.96 * 0.5 * 255, 3);
  EXPECT_NEAR(side[1], 0.96 * 0.25 * 255, 3);
  EXPECT_LE(side[2], 2); // the far edge of the highlight
  EXPECT_EQ(shadeSquare(0, 0, 0, 0.0f), (std::vector<int>{255, 255, 255}));
  // A cell's corner (texel 225, a tilt of 0.88 rad) turns the normal away
  // from the light at bump strength 1 only.
  const float steep_s = 0.5f / 512, steep_t = 0.5f / 64;
  EXPECT_EQ(shadeSquare(0, steep_s, steep_t, 1.0f), side);
  EXPECT_LT(shadeSquare(1, steep_s, steep_t, 1.0f)[0], side[0] - 25);
}

TEST_F(Scene, SpecularAndBumpTexelsAsGenerated) {
  drawFrame(2.0f);
  zkIntroState state = sceneState();
  ASSERT_NE(state.specular_map, state.bump_map);
  const GLuint names[2] = {state.specular_map, state.bump_map};
  std::vector<unsigned char> maps[2];
  for (int unit = 0; unit < 2; unit++) {
    glActiveTextureARB(GL_TEXTURE0_ARB + unit);
    GLint got[5] = {0};
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &got[0]);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &got[1]);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &got[2]);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &got[3]);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &got[4]);
    EXPECT_EQ(std::vector<GLint>(got, got + 5),
              (std::vector<GLint>{(GLint)names[unit], 512, 64, GL_LINEAR, GL_LINEAR}));
    maps[unit].resize(512 * 64);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RED, GL_UNSIGNED_BYTE, maps[unit].data());
  }
  glActiveTextureARB(GL_TEXTURE0_ARB);
  // {map, row, column, value}; sin(4) * 255 = -192.9 is kept as its low byte.
  const int samples[][4] = {{0, 1, 1, 214}, {0, 1, 2, 231},   {0, 1, 3, 35},    {0, 1, 4, 64},
                            {0, 1, 5, 12},  {0, 2, 2, 64},    {1, 0, 0, 225},   {1, 7, 7, 1},
                            {1, 7, 8, 1},   {1, 8, 7, 1},     {1, 8, 8, 1},     {1, 0, 7, 113},
                            {1, 3, 12, 81}, {1, 16, 16, 225}, {1, 63, 511, 225}};
  for (const int *s : samples)
    EXPECT_EQ(maps[s[0]][s[1] * 512 + s[2]], s[3]) << s[0] << " at " << s[1] << "," << s[2];
  for (int k = 0; k < 512; k++)
    EXPECT_EQ(maps[0][k] | maps[0][(k % 64) * 512], 0) << "first row or column, " << k;
  std::vector<bool> seen(256, false);
  for (unsigned char v : maps[0])
    seen[v] = true;
  EXPECT_EQ(std::count(seen.begin(), seen.end(), true), 256);
  EXPECT_EQ(*std::min_element(maps[1].begin(), maps[1].end()), 1);
  EXPECT_EQ(*std::max_element(maps[1].begin(), maps[1].end()), 225);
}

TEST_F(Scene, FlyersLeaveAtTheirDepartureAndLandOneSecondLaterLeavingTheShellsState) {
  // Flyer 10 (a one) leaves at 1.0 for (0.75, 0.6); flyer 3 (a one) leaves
  // (1.35, 5.2) at 2.0 for (-1.35, 0.6), three quarters of the way at 2.75;
  // flyer 30 (a zero) leaves at 2.5 for (1.95, -0.6).
  const struct {
    float seconds, x, y;
    bool one, shows;
  } rows[] = {{1.0f, 0.75f, 0.6f, true, false},    {2.0f, 0.75f, 0.6f, true, true},
              {2.75f, -0.675f, 1.75f, true, true}, {2.75f, -1.35f, 0.6f, true, false},
              {3.0f, -1.35f, 0.6f, true, true},    {3.0f, 1.95f, -0.6f, false, false},
              {3.5f, 1.95f, -0.6f, false, true}};
  Frame frame;
  float drawn = -1;
  for (const auto &r : rows) {
    SCOPED_TRACE(testing::Message() << r.seconds << " s at " << r.x << "," << r.y);
    if (r.seconds != drawn)
      frame = drawFrame(drawn = r.seconds);
    EXPECT_EQ(digitShows(frame, r.x, r.y, r.one), r.shows);
  }

  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
  const GLenum state[][2] = {{GL_ACTIVE_TEXTURE_ARB, GL_TEXTURE0_ARB},
                             {GL_MATRIX_MODE, GL_MODELVIEW},
                             {GL_MODELVIEW_STACK_DEPTH, 1},
                             {GL_PROJECTION_STACK_DEPTH, 1},
                             {GL_DEPTH_FUNC, GL_LESS},
                             {GL_CULL_FACE_MODE, GL_BACK},
                             {GL_FRONT_FACE, GL_CCW},
                             {GL_DEPTH_TEST, 1},
                             {GL_CULL_FACE, 1},
                             {GL_CURRENT_PROGRAM, 0}};
  for (const GLenum *s : state) {
    GLint value = -1;
    glGetIntegerv(s[0], &value);
    EXPECT_EQ((GLenum)value, s[1]) << "state 0x" << std::hex << s[0];
  }
  float modelview[16];
  glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
  for (int i = 0; i < 16; i++)
    EXPECT_EQ(modelview[i], i % 5 == 0 ? 1.0f : 0.0f) << i;
}

struct Lighting {
  float position[4], shininess, ambient[4];
};

Lighting currentLighting() {
  Lighting l;
  float back_shininess = -1;
  glGetLightfv(GL_LIGHT0, GL_POSITION, l.position);
  glGetMaterialfv(GL_FRONT, GL_SHININESS, &l.shininess);
  glGetMaterialfv(GL_FRONT, GL_AMBIENT, l.ambient);
  glGetMaterialfv(GL_BACK, GL_SHININESS, &back_shininess);
  EXPECT_EQ(back_shininess, l.shininess);
  return l;
}

TEST_F(Scene, LightingPhasesAndTheirEdges) {
  // The light (x, 0, z, bump strength w) and the logo's shininess; a phase
  // edge belongs to the later phase.
  // At 3 s radius 4.5, three quarters round; at 6 s radius 3, one and a
  // half turns; at 9 s shininess halfway; from 12 s at rest.
  const float rows[][5] = {{3.0f, 0, 8.5f, 0.5f, 0},
                           {5.999f, -3.000496f, 3.995287f, 5.999f / 6, 0},
                           {6.0f, -3, 4, 1, 0},
                           {9.0f, 0, 2.5f, 1, 64},
                           {11.5f, 0.176777f, 4.176777f, 1, 5.5f / 6 * 128},
                           {12.0f, 0, 4, 1, 128},
                           {13.9f, 0, 4, 1, 128}};
  const float logo_ambient[4] = {0.8f, 0.5f, 0.1f, 1}, digit_ambient[4] = {0.8f, 0.3f, 0, 0};
  GLuint logo_list = sceneState().drawing_list_text;
  for (const float *r : rows) {
    SCOPED_TRACE(testing::Message() << r[0] << " s");
    // The logo's list saves the lighting it sees; the digits' is left after.
    glNewList(logo_list, GL_COMPILE);
    glPushAttrib(GL_LIGHTING_BIT);
    glEndList();
    drawFrame(r[0]);
    Lighting digits = currentLighting();
    glPopAttrib();
    Lighting logo = currentLighting();
    const float expected[4] = {r[1], 0, r[2], r[3]};
    for (int k = 0; k < 4; k++) {
      EXPECT_NEAR(logo.position[k], expected[k], k < 3 ? 1e-4 : 1e-6) << k;
      EXPECT_NEAR(digits.position[k], k < 3 ? expected[k] : 0.0f, 1e-4) << k;
      EXPECT_FLOAT_EQ(logo.ambient[k], logo_ambient[k]);
      EXPECT_FLOAT_EQ(digits.ambient[k], digit_ambient[k]);
    }
    EXPECT_NEAR(logo.shininess, r[4], 1e-4);
    EXPECT_EQ(digits.shininess, 0.0f);
    GLfloat light_ambient[4];
    glGetLightfv(GL_LIGHT0, GL_AMBIENT, light_ambient);
    EXPECT_EQ(std::count(light_ambient, light_ambient + 4, 1.0f), 4);
  }
  glNewList(logo_list, GL_COMPILE);
  glEndList();
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
  kroObject op = nullptr, nc = nullptr, tc = nullptr;
  kroIncreaseObject(&op, 0, 1);
  kroIncreaseObject(&nc, 0, 1);
  kroIncreaseTexCoords(&tc, 0, 1);
  const float p[9] = {-0.5f, -0.5f, 0, 0.5f, -0.5f, 0, 0, 0.5f, 0};
  const float n[9] = {0, 0, 1, 0, 0, 1, 0, 0, 1}, t[6] = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f};
  memcpy(op[0], p, sizeof p);
  memcpy(nc[0], n, sizeof n);
  memcpy(tc[0], t, sizeof t);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glDisable(GL_CULL_FACE);
  GLfloat feedback[64];
  glFeedbackBuffer(64, GL_3D_COLOR_TEXTURE, feedback);
  glRenderMode(GL_FEEDBACK);
  zkDrawObject(op, nc, tc, 0); // an empty block is harmless
  zkDrawObject(op, nc, tc, 1);
  // GL_POLYGON_TOKEN, 3, then per vertex x, y, z, r, g, b, a, s, t, r, q.
  ASSERT_EQ(glRenderMode(GL_RENDER), 2 + 3 * 11);
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
  EXPECT_EQ(feedback[0], (float)GL_POLYGON_TOKEN);
  EXPECT_EQ(feedback[1], 3.0f);
  for (int k = 0; k < 3; k++) {
    const float *vertex = feedback + 2 + 11 * k;
    EXPECT_NEAR(vertex[0], (p[3 * k] + 1) * 0.5f * kWidth, 0.01);
    EXPECT_NEAR(vertex[1], (p[3 * k + 1] + 1) * 0.5f * kHeight, 0.01);
    EXPECT_FLOAT_EQ(vertex[7], t[2 * k]);
    EXPECT_FLOAT_EQ(vertex[8], t[2 * k + 1]);
  }
  for (kroObject *array : {&op, &nc, &tc})
    kroDestroyObject(array, 1);
}

// Runs last in a process that runs every case: the scene cannot come back.
TEST_F(Scene, NothingDrawnFromFourteenAndEverythingReleasedOnce) {
  zkIntroState built = sceneState();
  EXPECT_EQ(built.arrays_held, 44);
  ASSERT_TRUE(glIsList(built.drawing_list0) && glIsTexture(built.bump_map) &&
              glIsProgram(built.program));
  EXPECT_GT(drawFrame(13.99f).litPixels(), 1000u);
  EXPECT_EQ(drawFrame(14.0f).litPixels(), 0u);
  zkIntroState released = sceneState();
  EXPECT_EQ(released.destroy, 1);
  EXPECT_EQ(released.arrays_held, 0);
  for (GLuint list : {built.drawing_list0, built.drawing_list1, built.drawing_list_text})
    EXPECT_FALSE(glIsList(list)) << list;
  EXPECT_FALSE(glIsTexture(built.specular_map) || glIsTexture(built.bump_map));
  EXPECT_FALSE(glIsProgram(built.program));
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);

  // Names made afterwards may be the old ones again; later calls leave them be.
  GLuint textures[2], lists = glGenLists(3);
  glGenTextures(2, textures);
  for (GLuint texture : textures)
    glBindTexture(GL_TEXTURE_2D, texture);
  for (GLuint l = lists; l < lists + 3; l++) {
    glNewList(l, GL_COMPILE);
    glEndList();
  }
  EXPECT_EQ(drawFrame(15.0f).litPixels(), 0u);
  EXPECT_EQ(drawFrame(5.0f).litPixels(), 0u); // a released scene is not drawn again
  EXPECT_TRUE(glIsTexture(textures[0]) && glIsTexture(textures[1]));
  EXPECT_TRUE(glIsList(lists) && glIsList(lists + 1) && glIsList(lists + 2));
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
  EXPECT_EQ(state.init + state.destroy, 2);
  EXPECT_EQ(state.arrays_held, 0);
  EXPECT_FALSE(glIsTexture(state.specular_map) || glIsList(state.drawing_list_text));
  EXPECT_EQ(frame.litPixels(), 0u);
}

} // namespace
