// What the intro shows at its real size: where the digits are and are not and the nine
// glyphs of the word; shapes at their projected places, never exact pixel values.
#include "gl_context.h"
#include "ZKintro.h"

#include <gtest/gtest.h>
#include <math.h>

#include <vector>

namespace {

const int kWidth = 1200, kHeight = 600;
const double kDigitFront = -2.3625; // z of a landed digit's front face
const double kLogoDepth = -2.3;     // z of the glyphs

// One frame drawn as the shell does, read back.
struct Picture {
  std::vector<unsigned char> rgba = std::vector<unsigned char>((size_t)kWidth * kHeight * 4);
  explicit Picture(float seconds) {
    EXPECT_TRUE(kroTestOpenGL(kWidth, kHeight));
    glViewport(0, 0, kWidth, kHeight);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    zkIntro(2.0f, seconds);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
  }
  // Lit pixels (brighter than the black clear colour) in [x0, x1) x [y0, y1).
  int litIn(int x0, int y0, int x1, int y1) const {
    int count = 0;
    for (int y = std::max(y0, 0); y < std::min(y1, kHeight); y++)
      for (int x = std::max(x0, 0); x < std::min(x1, kWidth); x++) {
        const unsigned char *p = &rgba[(size_t)(y * kWidth + x) * 4];
        count += p[0] > 24 || p[1] > 24 || p[2] > 24;
      }
    return count;
  }
};

// Window column and row of a scene point through the intro's camera (40 degrees, aspect 2).
const double kTan40 = tan(M_PI / 4.5);
const auto px = [](double x, double z) { return (int)lround((x / (-2 * z * kTan40) + 1) * 600); };
const auto py = [](double y, double z) { return (int)lround((y / (-z * kTan40) + 1) * 300); };

// The band of window rows where the glyphs are, with a margin.
const int kWordBottom = py(-0.30, kLogoDepth) - 3, kWordTop = py(0.32, kLogoDepth) + 3;

TEST(IntroPictures, HalfASecondInOnlyTheWordShows) {
  Picture p(0.5f);
  EXPECT_EQ(p.litIn(0, 0, kWidth, kWordBottom), 0) << "something below the word";
  EXPECT_EQ(p.litIn(0, kWordTop, kWidth, kHeight), 0) << "something above the word";
  EXPECT_GT(p.litIn(0, kWordBottom, kWidth, kWordTop), 2000) << "the word is dark";
}

TEST(IntroPictures, ElevenSecondsInAllDigitsStandInTheirRowsAroundTheWord) {
  Picture p(11.0f);
  // Flyer i lands at ((i % 16) * 0.3 - 2.25, i < 16 ? 0.6 : -0.6); a non-zero bit is a one.
  const int bits[32] = {0, 1, 1, 1, 1, 0, 1, 0, 0, 1, 1, 1, 1, 0, 0, 1,
                        0, 1, 1, 0, 1, 1, 0, 1, 0, 1, 1, 0, 0, 1, 0, 1};
  for (int i = 0; i < 32; i++) {
    SCOPED_TRACE(testing::Message() << "digit " << i);
    double x = (i % 16) * 0.3 - 2.25, y = i < 16 ? 0.6 : -0.6;
    int cx = px(x, kDigitFront), cy = py(y, kDigitFront);
    int ty = py(y + 0.128, kDigitFront), by = py(y - 0.128, kDigitFront);
    // Outline top and bottom lit either way; the centre is a one's bar or a zero's hole.
    EXPECT_GT(p.litIn(cx - 2, ty - 2, cx + 3, ty + 3), 15) << "top";
    EXPECT_GT(p.litIn(cx - 2, by - 2, cx + 3, by + 3), 15) << "bottom";
    EXPECT_EQ(p.litIn(cx - 1, cy - 1, cx + 2, cy + 2), bits[i] ? 9 : 0) << "centre";
    // Nothing stands between this digit and its right-hand neighbour.
    int gx = px(x + 0.15, kDigitFront);
    if (i % 16 != 15) {
      EXPECT_EQ(p.litIn(gx - 2, cy - 20, gx + 3, cy + 21), 0) << "right of it";
    }
  }
  // Outside the two rows and the word the frame is black.
  int row_top = py(0.76, kDigitFront), row_bottom = py(0.44, kDigitFront);
  EXPECT_EQ(p.litIn(0, row_top, kWidth, kHeight), 0);
  EXPECT_EQ(p.litIn(0, 0, kWidth, kHeight - row_top), 0);
  EXPECT_EQ(p.litIn(0, kWordTop, kWidth, row_bottom), 0);
  EXPECT_EQ(p.litIn(0, kHeight - row_bottom, kWidth, kWordBottom), 0);

  // Each glyph shows around its x offset in the word, in the logo plane.
  const double offset[9] = {-2.1494, -1.8154, -1.4694, -0.8329, -0.1934,
                            0.4276,  0.9806,  1.551,   2.1369};
  for (int g = 0; g < 9; g++) {
    int x0 = px(offset[g] - 0.12, kLogoDepth), x1 = px(offset[g] + 0.12, kLogoDepth);
    int area = (x1 - x0) * (kWordTop - kWordBottom);
    EXPECT_GT(p.litIn(x0, kWordBottom, x1, kWordTop), area / 8) << "glyph " << g;
  }
  int left = px(-2.376711 - 0.02, kLogoDepth), right = px(2.333038 + 0.02, kLogoDepth);
  EXPECT_EQ(p.litIn(0, kWordBottom, left, kWordTop), 0) << "left of the word";
  EXPECT_EQ(p.litIn(right, kWordBottom, kWidth, kWordTop), 0) << "right of the word";
}

} // namespace
