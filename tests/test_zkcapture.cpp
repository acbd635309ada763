// zkcapture as a user runs it: PNGs of the right size and content at chosen times, a frame
// sequence before 14 s, a contact sheet, help, and a named refusal for anything else.
#include "gl_context.h"

namespace {

// Lit pixels of a picture.
int litPixels(const kroTestPng &png) {
  int lit = 0;
  for (size_t i = 0; png.width && i < png.rgb.size(); i += 3)
    lit += png.rgb[i] > 24 || png.rgb[i + 1] > 24 || png.rgb[i + 2] > 24;
  return lit;
}

// Runs zkcapture under `environment` (words for env); SDL_Quit unloads the GL
// driver before a sanitizer's leak check.
kroTestOutcome capture(const std::string &arguments, const std::string &environment = "") {
  return kroTestRun("env " + environment + " ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" " +
                    ZKCAPTURE_PATH + " " + arguments);
}

TEST(ZkCapture, FramesAtChosenTimesSequenceAndContactSheet) {
  std::string out = kroTestTempPath("at");
  ASSERT_EQ(capture("--at 11,0.5 --out " + out).status, 0); // any order
  kroTestPng early(out + "/zkintro-at-00.500.png"), late(out + "/zkintro-at-11.000.png");
  for (const kroTestPng *png : {&early, &late})
    ASSERT_TRUE(png->width == 1200 && png->height == 600) << png->width << " x " << png->height;
  // At 0.5 s only the word shows; at 11 s the 32 digits stand around it.
  EXPECT_GT(litPixels(early), 10000);
  EXPECT_GT(litPixels(late), litPixels(early) + 5000);
  // The sequence is 0 <= t < 14 s: 14 frames at 1 per second, each showing
  // the intro (t = 14 s, after the tear-down, would be black).
  kroTestOutcome sequence = capture("--fps 1 --sheet --out " + out);
  ASSERT_EQ(sequence.status, 0) << sequence.err;
  EXPECT_NE(sequence.out.find("14 frames"), std::string::npos) << sequence.out;
  for (int k = 0; k <= 14; k++) {
    kroTestPng frame(out + "/frames/zkintro-00" + (k < 10 ? "0" : "") + std::to_string(k) + ".png");
    EXPECT_EQ(frame.width, k < 14 ? 1200 : 0) << "frame " << k;
    EXPECT_TRUE(k == 14 || litPixels(frame) > 5000) << "frame " << k;
  }
  kroTestPng sheet(out + "/zkintro-sheet.png");
  EXPECT_EQ(sheet.width, 6 + 4 * (300 + 6));
  EXPECT_EQ(sheet.height, 6 + 4 * (22 + 150 + 6));
}

TEST(ZkCapture, HelpAndRefusals) {
  kroTestOutcome help = capture("--help");
  EXPECT_TRUE(help.status == 0 && help.err.empty()) << help.err;
  EXPECT_EQ(help.out.rfind("usage: zkcapture", 0), 0u) << help.out;

  const std::string out = " --out " + kroTestTempPath("refused");
  // Arguments, and the reason: the first line on standard error.
  const std::pair<std::string, std::string> refused[] = {
      {"--frames 3", "unknown option '--frames'"},
      {"--sheet --out", "--out needs a value"},
      {"", "nothing to capture"},
      {"--at 1,x" + out, "--at '1,x': expected seconds"},
      {"--at 1," + out, "--at '1,'"},
      {"--at -1" + out, "--at '-1'"},
      {"--at 14" + out, "--at '14'"},
      {"--at nan" + out, "--at 'nan'"},
      {"--fps 0" + out, "--fps '0': expected a whole number from 1 to 240"},
      {"--fps 1000" + out, "--fps '1000'"},
  };
  for (const auto &[arguments, reason] : refused) {
    kroTestOutcome run = capture(arguments);
    EXPECT_EQ(run.status, 2) << arguments;
    EXPECT_EQ(run.err.rfind("zkcapture: " + reason, 0), 0u) << arguments << "\n" << run.err;
    EXPECT_TRUE(run.out.empty()) << arguments;
  }
  EXPECT_EQ(capture("--at 1 --out /proc/no/such/place").status, 1);
}

// Without a display: one line on standard error, no terminal drawing, and
// no output folder made.
TEST(ZkCapture, FailsAtOnceWithoutADisplay) {
  std::string out = kroTestTempPath("no-display");
  kroTestOutcome run = capture("--at 1 --out " + out, "-u DISPLAY -u SDL_VIDEODRIVER");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err.find("zkcapture: no OpenGL context"), 0u) << run.err;
  EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
  EXPECT_EQ(run.err.find('\033'), std::string::npos);
  EXPECT_TRUE(run.out.empty()) << run.out;
  EXPECT_FALSE(kroTestFileExists(out));
}

} // namespace
