// zkcapture as a user runs it: PNGs of the right size and content at chosen times, a frame
// sequence ending on the empty frame, a contact sheet, a usage refusal for anything else.
#include "gl_context.h"

#include <gtest/gtest.h>
#include <png.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <string>
#include <vector>

namespace {

// An 8-bit RGB PNG decoded, rows top first; width 0 when it cannot be.
struct Png {
  int width = 0, height = 0;
  std::vector<unsigned char> rgb;
  explicit Png(const std::string &path) {
    png_image info = {};
    info.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&info, path.c_str()))
      return;
    info.format = PNG_FORMAT_RGB;
    rgb.resize(PNG_IMAGE_SIZE(info));
    if (png_image_finish_read(&info, nullptr, rgb.data(), 0, nullptr))
      width = (int)info.width, height = (int)info.height;
    png_image_free(&info);
  }
  int litPixels(size_t first = 0, size_t count = 1u << 30) const { // in reading order
    int lit = 0;
    for (size_t i = first * 3; width && i < rgb.size() && i < (first + count) * 3; i += 3)
      lit += rgb[i] > 24 || rgb[i + 1] > 24 || rgb[i + 2] > 24;
    return lit;
  }
};

// Runs zkcapture; SDL_Quit unloads the GL driver before a sanitizer's leak check.
int capture(const std::string &arguments) {
  std::string command = "ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" " ZKCAPTURE_PATH;
  int status = system((command + " >/dev/null 2>&1 " + arguments).c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ZkCapture, FramesAtChosenTimesSequenceAndContactSheet) {
  std::string out = kroTestTempPath("at");
  ASSERT_EQ(capture("--at 11,0.5 --out " + out), 0); // any order
  Png early(out + "/zkintro-at-00.500.png"), late(out + "/zkintro-at-11.000.png");
  for (const Png *png : {&early, &late})
    ASSERT_TRUE(png->width == 1200 && png->height == 600) << png->width << " x " << png->height;
  // At 0.5 s only the word shows; at 11 s the 32 digits stand around it.
  EXPECT_GT(early.litPixels(), 10000);
  EXPECT_GT(late.litPixels(), early.litPixels() + 5000);
  // Row 0 is the top: the upper row of digits is above the word, near row 209.
  for (size_t row : {209, 391})
    EXPECT_GT(late.litPixels(row * 1200, 1200), 16 * 3) << "row " << row;
  ASSERT_EQ(capture("--fps 1 --sheet --out " + out), 0);
  for (int k = 0; k <= 15; k++) {
    Png frame(out + "/frames/zkintro-00" + (k < 10 ? "0" : "") + std::to_string(k) + ".png");
    EXPECT_EQ(frame.width, k < 15 ? 1200 : 0) << "frame " << k;
    EXPECT_TRUE(k < 14 ? frame.litPixels() > 5000 : frame.litPixels() == 0) << "frame " << k;
  }
  Png sheet(out + "/zkintro-sheet.png");
  EXPECT_EQ(sheet.width, 6 + 4 * (300 + 6));
  EXPECT_EQ(sheet.height, 6 + 4 * (22 + 150 + 6));
}

TEST(ZkCapture, RefusesWhatItDoesNotUnderstand) {
  const std::string out = " --out " + kroTestTempPath("refused");
  for (std::string refused :
       {"--at 1,x" + out, "--at -1" + out, "--at 1," + out, "--fps 0" + out, "--fps 1000" + out,
        std::string(), std::string("--sheet --out"), std::string("--frames 3")})
    EXPECT_EQ(capture(refused), 2) << refused;
  EXPECT_EQ(capture("--at 1 --out /proc/no/such/place"), 1);
}

} // namespace
