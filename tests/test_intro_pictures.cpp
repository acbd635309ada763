// What the intro shows, frame by frame, on the software rasteriser at its
// real size: where the digits are and are not, the nine glyphs of the word,
// and the empty end. Checks look for shapes at their projected places, with
// tolerance, never for exact pixel values.
#include "gl_context.h"
#include "ZKintro.h"

#include <gtest/gtest.h>
#include <math.h>

#include <vector>

namespace {

const int kWidth = 1200, kHeight = 600;

struct Picture {
  std::vector<unsigned char> rgba;
  const unsigned char *at(int x, int y) const { return &rgba[(size_t)(y * kWidth + x) * 4]; }
  // Anything brighter than the black clear colour.
  bool lit(int x, int y) const {
    const unsigned char *p = at(x, y);
    return p[0] > 24 || p[1] > 24 || p[2] > 24;
  }
  // Lit pixels in the rectangle [x0, x1) x [y0, y1), clipped to the frame.
  int litIn(int x0, int y0, int x1, int y1) const {
    int count = 0;
    for (int y = std::max(y0, 0); y < std::min(y1, kHeight); y++)
      for (int x = std::max(x0, 0); x < std::min(x1, kWidth); x++)
        count += lit(x, y);
    return count;
  }
};

// Draws the intro at `seconds` as the shell does and reads the frame back.
// Times must not fall within one process once 14.0 has been drawn.
Picture picture(float seconds) {
  EXPECT_TRUE(kroTestOpenGL(kWidth, kHeight));
  glViewport(0, 0, kWidth, kHeight);
  glClearColor(0, 0, 0, 0);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  zkIntro(2.0f, seconds);
  glFinish();
  Picture p;
  p.rgba.resize((size_t)kWidth * kHeight * 4);
  glReadBuffer(GL_BACK);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, p.rgba.data());
  return p;
}

// Window pixel (origin bottom left) of a scene point through the intro's
// camera: 40 degrees from the axis to the top plane, aspect 2.
void project(double x, double y, double z, int *px, int *py) {
  double half_height = -z * tan(40.0 * M_PI / 180.0);
  *px = (int)lround((x / (2.0 * half_height) + 1.0) * 0.5 * kWidth);
  *py = (int)lround((y / half_height + 1.0) * 0.5 * kHeight);
}

const double kDigitFront = -2.3625; // z of a landed digit's front face
const double kLogoDepth = -2.3;     // z of the glyphs

// The rows: flyer i < 16 lands at (i * 0.3 - 2.25, 0.6), the others at
// ((i - 16) * 0.3 - 2.25, -0.6); a non-zero bit is a one.
const int kBit[32] = {0, 1, 1, 1, 1, 0, 1, 0, 0, 1, 1, 1, 1, 0, 0, 1,
                      0, 1, 1, 0, 1, 1, 0, 1, 0, 1, 1, 0, 0, 1, 0, 1};
double landingX(int i) {
  return (i % 16) * 0.3 - 2.25;
}
double landingY(int i) {
  return i < 16 ? 0.6 : -0.6;
}

// The band of window rows where the glyphs are, with a margin.
void logoRows(int *bottom, int *top) {
  int x;
  project(0, -0.30, kLogoDepth, &x, bottom);
  project(0, 0.32, kLogoDepth, &x, top);
  *bottom -= 3;
  *top += 3;
}

TEST(IntroPictures, HalfASecondInOnlyTheWordShows) {
  Picture p = picture(0.5f);
  int bottom, top;
  logoRows(&bottom, &top);
  EXPECT_EQ(p.litIn(0, 0, kWidth, bottom), 0) << "something below the word";
  EXPECT_EQ(p.litIn(0, top, kWidth, kHeight), 0) << "something above the word";
  EXPECT_GT(p.litIn(0, bottom, kWidth, top), 2000) << "the word is dark";
}

TEST(IntroPictures, ElevenSecondsInAllDigitsStandInTheirRowsAroundTheWord) {
  Picture p = picture(11.0f);
  for (int i = 0; i < 32; i++) {
    int cx, cy, tx, ty, bx, by;
    project(landingX(i), landingY(i), kDigitFront, &cx, &cy);
    project(landingX(i), landingY(i) + 0.128, kDigitFront, &tx, &ty);
    project(landingX(i), landingY(i) - 0.128, kDigitFront, &bx, &by);
    // Top and bottom of the outline are lit either way; the centre is the
    // bar of a one or the hole of a zero.
    EXPECT_GT(p.litIn(tx - 2, ty - 2, tx + 3, ty + 3), 15) << "top of digit " << i;
    EXPECT_GT(p.litIn(bx - 2, by - 2, bx + 3, by + 3), 15) << "bottom of digit " << i;
    int centre = p.litIn(cx - 1, cy - 1, cx + 2, cy + 2);
    if (kBit[i])
      EXPECT_EQ(centre, 9) << "digit " << i << " should be a one";
    else
      EXPECT_EQ(centre, 0) << "digit " << i << " should be a zero";
    // Nothing stands between this digit and its right-hand neighbour.
    if (i % 16 != 15) {
      int gx, gy;
      project(landingX(i) + 0.15, landingY(i), kDigitFront, &gx, &gy);
      EXPECT_EQ(p.litIn(gx - 2, gy - 20, gx + 3, gy + 21), 0) << "right of digit " << i;
    }
  }
  // Outside the two rows and the word the frame is black.
  int x, row_top, row_bottom, word_bottom, word_top;
  project(0, 0.6 + 0.16, kDigitFront, &x, &row_top);
  project(0, 0.6 - 0.16, kDigitFront, &x, &row_bottom);
  logoRows(&word_bottom, &word_top);
  EXPECT_EQ(p.litIn(0, row_top, kWidth, kHeight), 0);
  EXPECT_EQ(p.litIn(0, 0, kWidth, kHeight - row_top), 0);
  EXPECT_EQ(p.litIn(0, word_top, kWidth, row_bottom), 0);
  EXPECT_EQ(p.litIn(0, kHeight - row_bottom, kWidth, word_bottom), 0);

  // Each glyph shows around its place in the word: x offset, lifted into the
  // logo plane; the space between two places is left to the letters.
  const double offset[9] = {-2.1494, -1.8154, -1.4694, -0.8329, -0.1934,
                            0.4276,  0.9806,  1.551,   2.1369};
  for (int g = 0; g < 9; g++) {
    int x0, x1, y;
    project(offset[g] - 0.12, 0, kLogoDepth, &x0, &y);
    project(offset[g] + 0.12, 0, kLogoDepth, &x1, &y);
    int area = (x1 - x0) * (word_top - word_bottom);
    EXPECT_GT(p.litIn(x0, word_bottom, x1, word_top), area / 8) << "glyph " << g;
  }
  int left, right, y;
  project(-2.376711 - 0.02, 0, kLogoDepth, &left, &y);
  project(2.333038 + 0.02, 0, kLogoDepth, &right, &y);
  EXPECT_EQ(p.litIn(0, word_bottom, left, word_top), 0) << "left of the word";
  EXPECT_EQ(p.litIn(right, word_bottom, kWidth, word_top), 0) << "right of the word";
}

TEST(IntroPictures, AtFourteenTheFrameIsEmpty) {
  Picture last_lit = picture(13.9f);
  EXPECT_GT(last_lit.litIn(0, 0, kWidth, kHeight), 5000);
  Picture p = picture(14.0f);
  EXPECT_EQ(p.litIn(0, 0, kWidth, kHeight), 0);
  Picture later = picture(14.02f);
  EXPECT_EQ(later.litIn(0, 0, kWidth, kHeight), 0);
}

} // namespace
