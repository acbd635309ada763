// zkcapture as a user runs it: PNGs of the right size and content at chosen times, a frame
// sequence before 14 s, a contact sheet, help, and a named refusal for anything else.
#include "gl_context.h"

#include <gtest/gtest.h>
#include <png.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
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

// What one run of zkcapture printed, and its exit status.
struct CaptureRun {
  int status = -1;
  std::string out, err;
};

// Runs zkcapture under `environment` (words for env); SDL_Quit unloads the GL
// driver before a sanitizer's leak check.
CaptureRun capture(const std::string &arguments, const std::string &environment = "") {
  std::string out = kroTestTempPath("capture.out"), err = kroTestTempPath("capture.err");
  std::string command = "env " + environment +
                        " ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" " ZKCAPTURE_PATH " " +
                        arguments + " >" + out + " 2>" + err;
  CaptureRun run;
  int status = system(command.c_str());
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = kroTestReadFile(out);
  run.err = kroTestReadFile(err);
  return run;
}

TEST(ZkCapture, FramesAtChosenTimesSequenceAndContactSheet) {
  std::string out = kroTestTempPath("at");
  ASSERT_EQ(capture("--at 11,0.5 --out " + out).status, 0); // any order
  Png early(out + "/zkintro-at-00.500.png"), late(out + "/zkintro-at-11.000.png");
  for (const Png *png : {&early, &late})
    ASSERT_TRUE(png->width == 1200 && png->height == 600) << png->width << " x " << png->height;
  // At 0.5 s only the word shows; at 11 s the 32 digits stand around it.
  EXPECT_GT(early.litPixels(), 10000);
  EXPECT_GT(late.litPixels(), early.litPixels() + 5000);
  // Row 0 is the top: the upper row of digits is above the word, near row 209.
  for (size_t row : {209, 391})
    EXPECT_GT(late.litPixels(row * 1200, 1200), 16 * 3) << "row " << row;
  // The sequence is 0 <= t < 14 s: 14 frames at 1 per second, each showing
  // the intro (t = 14 s, after the tear-down, would be black).
  CaptureRun sequence = capture("--fps 1 --sheet --out " + out);
  ASSERT_EQ(sequence.status, 0) << sequence.err;
  EXPECT_NE(sequence.out.find("14 frames"), std::string::npos) << sequence.out;
  for (int k = 0; k <= 14; k++) {
    Png frame(out + "/frames/zkintro-00" + (k < 10 ? "0" : "") + std::to_string(k) + ".png");
    EXPECT_EQ(frame.width, k < 14 ? 1200 : 0) << "frame " << k;
    EXPECT_TRUE(k == 14 || frame.litPixels() > 5000) << "frame " << k;
  }
  Png sheet(out + "/zkintro-sheet.png");
  EXPECT_EQ(sheet.width, 6 + 4 * (300 + 6));
  EXPECT_EQ(sheet.height, 6 + 4 * (22 + 150 + 6));
}

TEST(ZkCapture, HelpAndRefusals) {
  CaptureRun help = capture("--help");
  EXPECT_TRUE(help.status == 0 && help.err.empty()) << help.err;
  EXPECT_EQ(help.out.rfind("usage: zkcapture", 0), 0u) << help.out;

  const std::string out = " --out " + kroTestTempPath("refused");
  const struct {
    std::string arguments, reason; // the reason is the first line on standard error
  } refused[] = {
      {"--frames 3", "unknown option '--frames'"},
      {"--sheet --out", "--out needs a value"},
      {"", "nothing to capture"},
      {"--at 1,x" + out, "--at '1,x': expected seconds"},
      {"--at 1," + out, "--at '1,'"},
      {"--at -1" + out, "--at '-1'"},
      {"--at 14" + out, "--at '14'"},
      {"--at 0,20" + out, "--at '0,20'"},
      {"--at nan" + out, "--at 'nan'"},
      {"--fps 0" + out, "--fps '0': expected a whole number from 1 to 240"},
      {"--fps 1000" + out, "--fps '1000'"},
  };
  for (const auto &row : refused) {
    CaptureRun run = capture(row.arguments);
    EXPECT_EQ(run.status, 2) << row.arguments;
    EXPECT_EQ(run.err.rfind("zkcapture: " + row.reason, 0), 0u) << row.arguments << "\n" << run.err;
    EXPECT_TRUE(run.out.empty()) << row.arguments;
  }
  EXPECT_EQ(capture("--at 1 --out /proc/no/such/place").status, 1);
}

// Without a display: one line on standard error, no terminal drawing, and
// no output folder made.
TEST(ZkCapture, FailsAtOnceWithoutADisplay) {
  std::string out = kroTestTempPath("no-display");
  CaptureRun run = capture("--at 1 --out " + out, "-u DISPLAY -u SDL_VIDEODRIVER");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err.find("zkcapture: no OpenGL context"), 0u) << run.err;
  EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
  EXPECT_EQ(run.err.find('\033'), std::string::npos);
  EXPECT_TRUE(run.out.empty()) << run.out;
  struct stat info;
  EXPECT_NE(stat(out.c_str(), &info), 0);
}

} // namespace
