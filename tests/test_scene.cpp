// The intro: its embedded meshes (that they are the committed models is checked by
// the GeneratedMeshes tests), and the scene on a real context: program, textures,
// each phase's light and material and the state left, asked of GL; what its frames
// show (shapes at their projected places, never exact pixel values); the tear-down.
#include "gl_context.h"
#include "ZKintro.h"
#include "meshes.h"

#include <math.h>
#include <string.h>

#include <algorithm>
#include <array>

namespace {

// The letters' loaders, each with its x offset in the word.
const std::pair<kroTestLoader *, float> kGlyphs[9] = {
    {loadMeshFontZ, -2.1494f}, {loadMeshFontA, -1.8154f}, {loadMeshFontN, -1.4694f},
    {loadMeshFontY, -0.8329f}, {loadMeshFontK, -0.1934f}, {loadMeshFontL, 0.4276f},
    {loadMeshFontU, 0.9806f},  {loadMeshFontM, 1.551f},   {loadMeshFontP, 2.1369f}};

struct Vec {
  double x, y, z;
  static Vec of(const float *p) { return {p[0], p[1], p[2]}; }
  Vec operator-(Vec b) const { return {x - b.x, y - b.y, z - b.z}; }
  double dot(Vec b) const { return x * b.x + y * b.y + z * b.z; }
  Vec cross(Vec b) const { return {y * b.z - z * b.y, z * b.x - x * b.z, x * b.y - y * b.x}; }
};

// Bounding box {min x, y, z, max x, y, z} of the corners, grown from `box`.
std::vector<double> extent(const kroTestMesh &m, std::vector<double> box = {NAN}) {
  box.resize(6, NAN); // fmin and fmax pass over NaN
  for (int i = 0; i < m.triangles * 9; i++) {
    box[i % 3] = fmin(box[i % 3], m.op[i / 9][i % 9]);
    box[i % 3 + 3] = fmax(box[i % 3 + 3], m.op[i / 9][i % 9]);
  }
  return box;
}

void expectExtent(const std::vector<double> &box, const std::vector<double> &want, double tol) {
  for (int a = 0; a < 6; a++)
    EXPECT_NEAR(box[a], want[a], tol) << "bound " << a;
}

// Every row there to write (sanitizer build); unit normals; every triangle counterclockwise
// seen from the side its real normal points to, the real normal square to it.
void expectUnitNormalsAndWinding(kroTestMesh &m) {
  for (int i = 0; i < m.triangles; i++) {
    SCOPED_TRACE(testing::Message() << m.name << " triangle " << i);
    m.tc[i][5] = m.op[i][8] + m.nc[i][8] + m.realn[i][2];
    Vec real = Vec::of(m.realn[i]), a = Vec::of(m.op[i]);
    Vec n = (Vec::of(m.op[i] + 3) - a).cross(Vec::of(m.op[i] + 6) - a);
    EXPECT_NEAR(real.dot(real), 1.0, 2e-5);
    for (int k = 0; k < 9; k += 3)
      EXPECT_NEAR(Vec::of(m.nc[i] + k).dot(Vec::of(m.nc[i] + k)), 1.0, 2e-5);
    EXPECT_GT(n.dot(real) / sqrt(n.dot(n)), 0.9999); // NaN when degenerate
  }
}

const auto sameNormal = [](const float *a, const float *b) { return std::equal(a, a + 3, b); };

// The digits: a zero, an extruded elliptical ring, and a one, a flat-shaded box.
TEST(IntroMeshes, DigitsAndFlatLettersWhoseCoordinatesSpanTheWordsTextureOnce) {
  kroTestMesh zero(loadMeshBit0), one(loadMeshBit1);
  ASSERT_TRUE(zero.triangles == 144 && one.triangles == 12)
      << zero.triangles << ", " << one.triangles;
  for (kroTestMesh *m : {&zero, &one})
    expectUnitNormalsAndWinding(*m);
  expectExtent(extent(zero), {-0.9848, -1.4479, 0, 0.9848, 1.4479, 0.75}, 1e-4);
  std::vector<double> box = extent(one);
  expectExtent(box, {-0.2813, -1.429, 0.0122, 0.2813, 1.429, 0.7622}, 1e-6);
  int flat_faces[2] = {0, 0}; // back, front
  for (int i = 0; i < zero.triangles; i++) {
    const float *r = zero.realn[i];
    bool flat = sameNormal(zero.nc[i], r) && std::equal(zero.nc[i] + 3, zero.nc[i] + 9, zero.nc[i]);
    flat_faces[r[2] > 0] += flat;
    // Flat-shaded triangles lie in the two flat faces; the walls' normals are horizontal.
    EXPECT_EQ(flat ? fabs(r[2]) : r[2], flat ? 1.0f : 0.0f) << i;
    for (int k = 2; k < 9; k += 3)
      EXPECT_EQ(flat ? zero.op[i][k] : zero.nc[i][k], flat && r[2] > 0 ? 0.75f : 0) << i;
  }
  EXPECT_TRUE(flat_faces[0] == 36 && flat_faces[1] == 36) << flat_faces[0] << ", " << flat_faces[1];
  for (int i = 0; i < one.triangles; i++) {
    const float *real = one.realn[i];
    int axis = fabs(real[0]) == 1 ? 0 : fabs(real[1]) == 1 ? 1 : 2;
    for (int k = 0; k < 3; k++) // flat shaded, all corners on the box face the normal names
      EXPECT_TRUE(sameNormal(one.nc[i] + 3 * k, real) && fabs(real[axis]) == 1 &&
                  one.op[i][k * 3 + axis] == (float)box[axis + (real[axis] > 0 ? 3 : 0)])
          << "triangle " << i;
  }
  // Flat letters placed into the box the word's texture mapping assumes; the mapping, a
  // property of them placed: each coordinate grows with its axis, the word spans it once.
  const float up[3] = {0, 0, 1};
  std::vector<double> word;
  std::vector<std::pair<float, float>> along[2]; // (position, texture coordinate) for x, then y
  for (auto [loader, offset] : kGlyphs) {
    kroTestMesh m(loader);
    expectUnitNormalsAndWinding(m);
    kroTranslateObject(m.op, m.triangles, offset, 0, 0);
    calculateTexCoords(m.op, m.tc, m.triangles);
    word = extent(m, word);
    for (int c = 0; c < m.triangles * 3; c++) {
      EXPECT_TRUE(sameNormal(m.normal(c), up) && sameNormal(m.realn[c / 3], up)) << m.name << c;
      for (int a = 0; a < 2; a++)
        along[a].push_back({m.corner(c)[a], m.tc[c / 3][c % 3 * 2 + a]});
    }
  }
  // The box the planar texture mapping assumes, to six decimals (flat: z is 0 throughout).
  expectExtent(word, {-2.376711, -0.296261, 0, 2.333038, 0.317921, 0}, 5e-7);
  for (auto &pairs : along) {
    std::sort(pairs.begin(), pairs.end());
    EXPECT_NEAR(pairs.front().second, 0, 1e-6);
    EXPECT_NEAR(pairs.back().second, 1, 1e-6);
    for (size_t i = 1; i < pairs.size(); i++)
      ASSERT_LE(pairs[i - 1].second, pairs[i].second) << pairs[i].first;
  }
}

const int kWidth = 1200, kHeight = 600;
const double kDigitFront = -2.3625; // z of a landed digit's front face (-2.4 + 0.75 * 0.05)
const double kLogoDepth = -2.3;     // z of the glyphs

const auto sceneState = [] {
  zkIntroState state;
  zkIntroGetState(&state);
  return state;
};

// Window column and row of a scene point through the intro's camera (40 degrees, aspect 2).
const double kTan40 = tan(M_PI / 4.5);
const auto px = [](double x, double z) { return (int)lround((x / (-2 * z * kTan40) + 1) * 600); };
const auto py = [](double y, double z) { return (int)lround((y / (-z * kTan40) + 1) * 300); };

// The band of window rows where the glyphs are, with a margin.
const int kWordBottom = py(-0.30, kLogoDepth) - 3, kWordTop = py(0.32, kLogoDepth) + 3;

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
    glViewport(0, 0, kWidth, kHeight);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    zkIntro(2.0f, seconds);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
  }
  // Pixels in [x0, x1) x [y0, y1) with a channel brighter than `dark`.
  int lit(int x0, int y0, int x1, int y1, int dark = 24) const {
    int count = 0;
    for (int y = std::max(y0, 0); y < std::min(y1, kHeight); y++)
      for (int x = std::max(x0, 0); x < std::min(x1, kWidth); x++) {
        const unsigned char *p = &rgba[(size_t)(y * kWidth + x) * 4];
        count += p[0] > dark || p[1] > dark || p[2] > dark;
      }
    return count;
  }
};

// What stands at (x, y) in the landed digits' plane: 1 for a one (a lit bar),
// 0 for a zero (a lit ring round a dark hole), -1 for neither.
int digitAt(const Frame &frame, double x, double y) {
  int cx = px(x, kDigitFront), cy = py(y, kDigitFront);
  int top = py(y + 0.128, kDigitFront), bottom = py(y - 0.128, kDigitFront);
  if (frame.lit(cx - 2, top - 2, cx + 3, top + 3) <= 15 ||
      frame.lit(cx - 2, bottom - 2, cx + 3, bottom + 3) <= 15)
    return -1;
  int centre = frame.lit(cx - 1, cy - 1, cx + 2, cy + 2);
  return centre == 9 ? 1 : centre == 0 ? 0 : -1;
}

// The digit each flyer shows (1: a one).
const int kBits[32] = {0, 1, 1, 1, 1, 0, 1, 0, 0, 1, 1, 1, 1, 0, 0, 1,
                       0, 1, 1, 0, 1, 1, 0, 1, 0, 1, 1, 0, 0, 1, 0, 1};

// Where flyer i lands: column i % 16 of the upper row (flyers 0 to 15) or of
// the lower row (16 to 31), the rows mirror images about the word's line.
const auto landingX = [](int i) { return (i % 16) * 0.3 - 2.25; };
const auto rowSide = [](int i) { return i < 16 ? 1.0 : -1.0; };

// Half a second in only the word shows; eleven seconds in all digits stand in their rows
// around it, and nothing else is lit.
TEST_F(Scene, HalfASecondInOnlyTheWordElevenInAllDigitsInTheirRowsAroundIt) {
  Frame half(0.5f), p(11.0f);
  EXPECT_EQ(half.lit(0, 0, kWidth, kHeight), half.lit(0, kWordBottom, kWidth, kWordTop));
  EXPECT_GT(half.lit(0, kWordBottom, kWidth, kWordTop), 2000) << "the word is dark";
  for (int i = 0; i < 32; i++) {
    double x = landingX(i), y = 0.6 * rowSide(i);
    int gap = px(x + 0.15, kDigitFront), cy = py(y, kDigitFront);
    EXPECT_EQ(digitAt(p, x, y), kBits[i]) << "digit " << i;
    // Nothing stands between this digit and its right-hand neighbour.
    EXPECT_EQ(i % 16 == 15 ? 0 : p.lit(gap - 2, cy - 20, gap + 3, cy + 21), 0) << "right of " << i;
  }
  // Each glyph shows around its x offset in the word, in the logo plane.
  for (auto [loader, offset] : kGlyphs) {
    int x0 = px(offset - 0.12, kLogoDepth), x1 = px(offset + 0.12, kLogoDepth);
    int area = (x1 - x0) * (kWordTop - kWordBottom);
    EXPECT_GT(p.lit(x0, kWordBottom, x1, kWordTop), area / 8) << "glyph at " << offset;
  }
  // Outside the two rows and the word the frame is black.
  int row_top = py(0.76, kDigitFront), row_bottom = py(0.44, kDigitFront);
  int left = px(-2.376711 - 0.02, kLogoDepth), right = px(2.333038 + 0.02, kLogoDepth);
  EXPECT_EQ(p.lit(0, 0, kWidth, kHeight),
            p.lit(0, row_bottom, kWidth, row_top) +
                p.lit(0, kHeight - row_top, kWidth, kHeight - row_bottom) +
                p.lit(left, kWordBottom, right, kWordTop));
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
  unsigned char rgba[4];
  glReadPixels(px(x, -2), py(0, -2), 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
  return {rgba[0], rgba[1], rgba[2]};
}

TEST_F(Scene, ProgramShadesWithClampedDiffuseAndSharpHighlightTexturesAsGenerated) {
  // One line each; no integer compared with a float (strict GLSL compilers refuse it).
  EXPECT_FALSE(strchr(zk_vertex_text, '\n') || strchr(zk_fragment_text, '\n'));
  EXPECT_EQ(std::string(zk_fragment_text).find("<0)"), std::string::npos);
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

  // The textures the frame bound, their texels as generated.
  std::vector<unsigned char> maps[2];
  for (int unit = 0; unit < 2; unit++) {
    glActiveTextureARB(GL_TEXTURE0_ARB + unit);
    GLint bound = 0; // the texel samples below tell a texture of another size
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(bound, (GLint)(unit ? sceneState().bump_map : sceneState().specular_map));
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

// The order in which the flyers leave: the first at 1.0 s, then every 0.5 s from 2.0 to 4.0,
// every 0.25 s to 6.0, every 0.2 s to 8.0 and every 0.125 s to 9.0.
const int kFlightOrder[32] = {10, 3,  30, 8, 26, 31, 13, 2,  28, 22, 14, 29, 11, 6, 18, 27,
                              12, 21, 25, 9, 5,  24, 20, 23, 4,  16, 15, 17, 1,  0, 7,  19};
// Every flyer's path, the lower row's the upper's mirror image: it waits unseen (half a second
// in only the word shows) beyond the view's top (upper row) or bottom (lower row) edge, 5.2 out
// (the aspect 2.0 x 2.4 + 0.4), at the mirror image of its landing column; it is three quarters
// of the way along, at (landing x / 2, +-1.75), 0.75 s after its departure and lands exactly
// one second after it. The scene leaves the shell's GL state as it found it.
TEST_F(Scene, FlyersLeaveAtTheirDepartureAndLandOneSecondLaterLeavingTheShellsState) {
  std::vector<float> times = {1.0f};
  for (auto [first, step, last] :
       {std::tuple{2.0, 0.5, 4.0}, {4.25, 0.25, 6.0}, {6.2, 0.2, 8.0}, {8.125, 0.125, 9.0}})
    for (int k = 0; first + k * step <= last + 1e-9; k++)
      times.push_back((float)(first + k * step));
  ASSERT_EQ(times.size(), 32u);
  for (int k = 0; k < 32; k++) {
    int i = kFlightOrder[k];
    float departure = times[k];
    SCOPED_TRACE(testing::Message() << "flyer " << i << " leaving at " << departure);
    double land_x = landingX(i), land_y = 0.6 * rowSide(i);
    double way_x = land_x / 2, way_y = 1.75 * rowSide(i);
    Frame on_the_way(departure + 0.75f), landed(departure + 1.0f);
    EXPECT_EQ(digitAt(on_the_way, way_x, way_y), kBits[i]);
    EXPECT_EQ(digitAt(on_the_way, land_x, land_y), -1);
    EXPECT_EQ(digitAt(landed, land_x, land_y), kBits[i]);
  }
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

// Runs last in a process that runs every case: the scene cannot come back. Before that, a
// new context (one without the scene's lists) makes it drop what it held and build anew on
// its next frame; the context it was built in keeps it.
TEST_F(Scene, NothingDrawnFromFourteenAndEverythingReleasedOnce) {
  zkIntroRestore();
  EXPECT_EQ(sceneState().init, 1);
  glDeleteLists(sceneState().drawing_list_text, 1);
  zkIntroRestore();
  EXPECT_EQ(sceneState().init * 100 + sceneState().arrays_held, 0);
  EXPECT_GT(Frame(13.99f).lit(0, 0, kWidth, kHeight, 0), 1000);
  while (glGetError() != GL_NO_ERROR) { // the build's, as in SetUp
  }
  zkIntroState built = sceneState();
  EXPECT_EQ(built.arrays_held, 44);
  ASSERT_TRUE(glIsList(built.drawing_list0) && glIsTexture(built.bump_map) &&
              glIsProgram(built.program) && glIsList(built.drawing_list_text));
  EXPECT_EQ(Frame(14.0f).lit(0, 0, kWidth, kHeight, 0), 0);
  zkIntroState released = sceneState();
  EXPECT_TRUE(released.destroy == 1 && released.arrays_held == 0);
  EXPECT_FALSE(glIsList(built.drawing_list0) || glIsList(built.drawing_list1) ||
               glIsList(built.drawing_list_text) || glIsTexture(built.specular_map) ||
               glIsTexture(built.bump_map) || glIsProgram(built.program));
  EXPECT_EQ(Frame(5.0f).lit(0, 0, kWidth, kHeight, 0), 0); // a released scene is not drawn again
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
  EXPECT_EQ(frame.lit(0, 0, kWidth, kHeight, 0), 0);
}

} // namespace
