// The intro scene on a real context, checked by asking GL: program, textures,
// each phase's light and material, the flyers, the state left, the tear-down.
#include "gl_context.h"
#include "ZKintro.h"

#include <math.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

const int kWidth = 1200, kHeight = 600;

const auto sceneState = [] {
  zkIntroState state;
  zkIntroGetState(&state);
  return state;
};

// Builds the scene once (first call at 0.25 s); skips once it was released.
struct Scene : testing::Test {
  void SetUp() override {
    ASSERT_TRUE(kroTestOpenGL(kWidth, kHeight));
    if (!sceneState().init) {
      zkIntro(2.0f, 0.25f);
      // The build leaves a GL_INVALID_VALUE; frames are checked on their own.
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
  explicit Frame(float seconds) {
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    zkIntro(2.0f, seconds);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
  }
  bool lit(int x, int y) const { return rgba[(size_t)(y * kWidth + x) * 4] > 24; }
  size_t litPixels() const {
    size_t lit = 0;
    for (size_t i = 0; i < rgba.size(); i += 4)
      lit += (rgba[i] | rgba[i + 1] | rgba[i + 2]) != 0;
    return lit;
  }
};

// Window pixel of a scene point through the intro's camera (40 degrees, aspect 2).
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

TEST_F(Scene, ProgramFromTheEmbeddedTextsShadesWithClampedDiffuseAndSharpHighlight) {
  EXPECT_EQ(strlen(zk_vertex_text), 299u);
  EXPECT_FALSE(strchr(zk_vertex_text, '\n') || strchr(zk_fragment_text, '\n'));
  std::string fragment = zk_fragment_text;
  EXPECT_EQ(fragment.find("<0)"), std::string::npos);
  EXPECT_NE(fragment.find("if(right-current<0.0)n=rotateVectorXY(normal,current*"),
            std::string::npos);
  EXPECT_NE(fragment.find("else\t\tn=rotateVectorYZ(n,-current*"), std::string::npos);
  Frame(1.0f); // binds both textures and sets the samplers
  // Off the highlight: diffuse only, clamped to 0.96 of the material colour.
  std::vector<int> side = shadeSquare(0, 0, 0, 1.0f);
  EXPECT_NEAR(side[0], 0.96 * 0.5 * 255, 3);
  EXPECT_NEAR(side[1], 0.96 * 0.25 * 255, 3);
  EXPECT_LE(side[2], 2); // the far edge of the highlight
  EXPECT_EQ(shadeSquare(0, 0, 0, 0.0f), (std::vector<int>{255, 255, 255}));
  // A cell's corner (bump texel 225, tilt 0.88 rad) turns away at bump strength 1 only.
  const float steep_s = 0.5f / 512, steep_t = 0.5f / 64;
  EXPECT_EQ(shadeSquare(0, steep_s, steep_t, 1.0f), side);
  EXPECT_LT(shadeSquare(1, steep_s, steep_t, 1.0f)[0], side[0] - 25);
}

TEST_F(Scene, SpecularAndBumpTexelsAsGenerated) {
  Frame(2.0f);
  std::vector<unsigned char> maps[2];
  for (int unit = 0; unit < 2; unit++) {
    glActiveTextureARB(GL_TEXTURE0_ARB + unit);
    GLint got[3] = {0};
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &got[0]);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &got[1]);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &got[2]);
    GLint name = unit ? sceneState().bump_map : sceneState().specular_map;
    EXPECT_EQ(std::vector<GLint>(got, got + 3), (std::vector<GLint>{name, 512, 64}));
    maps[unit].resize(512 * 64);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RED, GL_UNSIGNED_BYTE, maps[unit].data());
  }
  // {map, row, column, value}; sin(4) * 255 = -192.9 is kept as its low byte.
  const int samples[][4] = {{0, 1, 1, 214}, {0, 1, 2, 231},   {0, 1, 3, 35},    {0, 1, 4, 64},
                            {0, 1, 5, 12},  {0, 2, 2, 64},    {1, 0, 0, 225},   {1, 7, 7, 1},
                            {1, 7, 8, 1},   {1, 8, 7, 1},     {1, 8, 8, 1},     {1, 0, 7, 113},
                            {1, 3, 12, 81}, {1, 16, 16, 225}, {1, 63, 511, 225}};
  for (const int *s : samples)
    EXPECT_EQ(maps[s[0]][s[1] * 512 + s[2]], s[3]) << s[0] << " at " << s[1] << "," << s[2];
  for (int k = 0; k < 512; k++)
    EXPECT_EQ(maps[0][k] | maps[0][(k % 64) * 512], 0) << "first row or column, " << k;
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
  for (const auto &r : rows)
    EXPECT_EQ(digitShows(Frame(r.seconds), r.x, r.y, r.one), r.shows)
        << r.seconds << " s at " << r.x << "," << r.y;
  std::vector<GLint> got;
  for (GLenum name : {GL_ACTIVE_TEXTURE_ARB, GL_MATRIX_MODE, GL_MODELVIEW_STACK_DEPTH,
                      GL_PROJECTION_STACK_DEPTH, GL_DEPTH_FUNC, GL_CULL_FACE_MODE, GL_FRONT_FACE,
                      GL_DEPTH_TEST, GL_CULL_FACE, GL_CURRENT_PROGRAM}) {
    got.push_back(-1);
    glGetIntegerv(name, &got.back());
  }
  EXPECT_EQ(got, (std::vector<GLint>{GL_TEXTURE0_ARB, GL_MODELVIEW, 1, 1, GL_LESS, GL_BACK, GL_CCW,
                                     1, 1, 0}));
  float modelview[16];
  glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
  for (int i = 0; i < 16; i++)
    EXPECT_EQ(modelview[i], i % 5 == 0 ? 1.0f : 0.0f) << i;
}

// Light 0's position and ambient, then the front material's ambient and shininess.
void readLighting(float *l) {
  glGetLightfv(GL_LIGHT0, GL_POSITION, l);
  glGetLightfv(GL_LIGHT0, GL_AMBIENT, l + 4);
  glGetMaterialfv(GL_FRONT, GL_AMBIENT, l + 8);
  glGetMaterialfv(GL_FRONT, GL_SHININESS, l + 12);
}

TEST_F(Scene, LightingPhasesAndTheirEdges) {
  // {s, light x, light z, bump strength w, logo shininess}; an edge belongs to
  // the later phase. At 3 s radius 4.5, three quarters round; at 6 s radius 3,
  // one and a half turns; at 9 s shininess halfway; from 12 s at rest.
  const float rows[][5] = {{3.0f, 0, 8.5f, 0.5f, 0},
                           {5.999f, -3.000496f, 3.995287f, 5.999f / 6, 0},
                           {6.0f, -3, 4, 1, 0},
                           {9.0f, 0, 2.5f, 1, 64},
                           {11.5f, 0.176777f, 4.176777f, 1, 5.5f / 6 * 128},
                           {12.0f, 0, 4, 1, 128}};
  GLuint logo_list = sceneState().drawing_list_text;
  for (const float *r : rows) {
    SCOPED_TRACE(testing::Message() << r[0] << " s");
    // The logo's list saves the lighting it sees; the digits' is left after.
    glNewList(logo_list, GL_COMPILE);
    glPushAttrib(GL_LIGHTING_BIT);
    glEndList();
    Frame{r[0]};
    float digits[13], logo[13];
    readLighting(digits);
    glPopAttrib();
    readLighting(logo);
    const float want_logo[13] = {r[1], 0, r[2], r[3], 1, 1, 1, 1, 0.8f, 0.5f, 0.1f, 1, r[4]};
    const float want_digits[13] = {r[1], 0, r[2], 0, 1, 1, 1, 1, 0.8f, 0.3f, 0, 0, 0};
    for (int k = 0; k < 13; k++) {
      EXPECT_NEAR(logo[k], want_logo[k], k < 3 || k == 12 ? 1e-4 : 1e-6) << k;
      EXPECT_NEAR(digits[k], want_digits[k], 1e-4) << k;
    }
  }
  glNewList(logo_list, GL_COMPILE);
  glEndList();
}

TEST(SceneHelpers, TexCoordsSpanTheWordOnce) {
  kroObject positions = nullptr, texcoords = nullptr;
  kroIncreaseObject(&positions, 0, 1);
  kroIncreaseTexCoords(&texcoords, 0, 1);
  const float corners[9] = {-2.376711f, -0.296261f,  -2.3f,    2.333038f, 0.317921f,
                            0,          -0.0218365f, 0.01083f, 5.0f};
  memcpy(positions[0], corners, sizeof corners);
  calculateTexCoords(positions, texcoords, 1);
  const float s = (float)((-0.0218365 + 2.376711) / 4.709749),
              t = (float)((0.01083 + 0.296261) / 0.614182), expected[6] = {0, 0, 1, 1, s, t};
  for (int k = 0; k < 6; k++)
    EXPECT_NEAR(texcoords[0][k], expected[k], 2e-7) << k;
  EXPECT_EQ(texcoords[0][4], expected[4]); // rounded once from double
  kroDestroyObject(&positions, 1);
  kroDestroyObject(&texcoords, 1);
}

// Runs last in a process that runs every case: the scene cannot come back.
TEST_F(Scene, NothingDrawnFromFourteenAndEverythingReleasedOnce) {
  zkIntroState built = sceneState();
  EXPECT_EQ(built.arrays_held, 44);
  ASSERT_TRUE(glIsList(built.drawing_list0) && glIsTexture(built.bump_map) &&
              glIsProgram(built.program));
  EXPECT_GT(Frame(13.99f).litPixels(), 1000u);
  EXPECT_EQ(Frame(14.0f).litPixels(), 0u);
  zkIntroState released = sceneState();
  EXPECT_TRUE(released.destroy == 1 && released.arrays_held == 0);
  EXPECT_FALSE(glIsList(built.drawing_list0) || glIsList(built.drawing_list1) ||
               glIsList(built.drawing_list_text) || glIsTexture(built.specular_map) ||
               glIsTexture(built.bump_map) || glIsProgram(built.program));
  EXPECT_EQ(Frame(5.0f).litPixels(), 0u); // a released scene is not drawn again
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

TEST(SceneTearDown, AFirstCallAtFourteenBuildsAndReleasesAtOnce) {
  ASSERT_TRUE(kroTestOpenGL(kWidth, kHeight));
  if (sceneState().init)
    GTEST_SKIP() << "needs a process whose scene was never built";
  Frame frame = Frame(20.0f);
  zkIntroState state = sceneState();
  EXPECT_EQ(state.init + state.destroy, 2);
  EXPECT_EQ(state.arrays_held, 0);
  EXPECT_FALSE(glIsTexture(state.specular_map) || glIsList(state.drawing_list_text));
  EXPECT_EQ(frame.litPixels(), 0u);
}

} // namespace
