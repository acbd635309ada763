// zkcapture as a user runs it: PNG files of the right size and content at the
// chosen times, a numbered frame sequence ending on the empty frame, a contact
// sheet, and a usage message for anything it does not understand.
#include "gl_context.h"

#include <gtest/gtest.h>
#include <png.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

struct Png {
  int width = 0, height = 0;
  std::vector<unsigned char> rgb; // rows top first
  int lit() const {
    int count = 0;
    for (size_t i = 0; i + 2 < rgb.size(); i += 3)
      count += rgb[i] > 24 || rgb[i + 1] > 24 || rgb[i + 2] > 24;
    return count;
  }
};

// Decodes an 8-bit RGB PNG; width 0 when it cannot.
Png readPng(const std::string &path) {
  Png image;
  png_image info = {};
  info.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&info, path.c_str()))
    return image;
  info.format = PNG_FORMAT_RGB;
  image.rgb.resize(PNG_IMAGE_SIZE(info));
  if (!png_image_finish_read(&info, nullptr, image.rgb.data(), 0, nullptr)) {
    png_image_free(&info);
    return Png();
  }
  image.width = (int)info.width;
  image.height = (int)info.height;
  return image;
}

int capture(const std::string &arguments) {
  // In a sanitizer build: SDL_Quit unloads the GL driver before the leak
  // check runs, so the driver's leftovers could no longer be told apart.
  std::string command = "ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" " +
                        std::string(ZKCAPTURE_PATH) + " " + arguments + " >/dev/null 2>&1";
  int status = system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ZkCapture, FramesAtChosenTimesShowTheIntro) {
  std::string out = kroTestTempPath("at");
  ASSERT_EQ(capture("--at 11,0.5 --out " + out), 0); // any order
  Png early = readPng(out + "/zkintro-at-00.500.png");
  Png late = readPng(out + "/zkintro-at-11.000.png");
  ASSERT_EQ(early.width, 1200);
  ASSERT_EQ(early.height, 600);
  ASSERT_EQ(late.width, 1200);
  ASSERT_EQ(late.height, 600);
  // At 0.5 s only the word shows; at 11 s the 32 digits stand around it.
  EXPECT_GT(early.lit(), 10000);
  EXPECT_GT(late.lit(), early.lit() + 5000);
  // Row 0 is the top: the upper row of digits is above the word, near row 209.
  int upper_row = 0, lower_row = 0;
  for (int x = 0; x < 1200; x++) {
    upper_row += late.rgb[(209 * 1200 + x) * 3] > 24;
    lower_row += late.rgb[(391 * 1200 + x) * 3] > 24;
  }
  EXPECT_GT(upper_row, 16 * 3);
  EXPECT_GT(lower_row, 16 * 3);
}

TEST(ZkCapture, FrameSequenceAndContactSheet) {
  std::string out = kroTestTempPath("sequence");
  ASSERT_EQ(capture("--fps 1 --sheet --out " + out), 0);
  for (int k = 0; k <= 14; k++) {
    char name[64];
    snprintf(name, sizeof name, "/frames/zkintro-%04d.png", k);
    Png frame = readPng(out + name);
    ASSERT_EQ(frame.width, 1200) << name;
    if (k < 14)
      EXPECT_GT(frame.lit(), 5000) << name;
    else
      EXPECT_EQ(frame.lit(), 0) << "the last frame is the empty one";
  }
  EXPECT_FALSE(fopen((out + "/frames/zkintro-0015.png").c_str(), "rb"));
  Png sheet = readPng(out + "/zkintro-sheet.png");
  EXPECT_EQ(sheet.width, 6 + 4 * (300 + 6));
  EXPECT_EQ(sheet.height, 6 + 4 * (22 + 150 + 6));
}

TEST(ZkCapture, RefusesWhatItDoesNotUnderstand) {
  std::string out = kroTestTempPath("refused");
  EXPECT_EQ(capture(""), 2);
  EXPECT_EQ(capture("--at 1,x --out " + out), 2);
  EXPECT_EQ(capture("--at -1 --out " + out), 2);
  EXPECT_EQ(capture("--at 1, --out " + out), 2);
  EXPECT_EQ(capture("--fps 0 --out " + out), 2);
  EXPECT_EQ(capture("--fps 1000 --out " + out), 2);
  EXPECT_EQ(capture("--sheet --out"), 2);
  EXPECT_EQ(capture("--frames 3"), 2);
  EXPECT_EQ(capture("--at 1 --out /proc/no/such/place"), 1);
}

} // namespace
