// The intro's programs as a user runs them: zkintro on the X display, input sent as a
// user's, ends with status 0 after its fourteen seconds whatever the mouse does, at once on
// Escape or a close request; zkcapture writes PNGs of the right size and content, a frame
// sequence and a contact sheet, and names what it refuses.
#include "gl_context.h"
// After gtest: Xlib defines None and Bool as macros.
#include <GL/glx.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

namespace {

using namespace std::chrono;
const auto now = [] { return duration<double>(steady_clock::now().time_since_epoch()).count(); };

// One run of the program, its window up for a second. Keys go to the
// grabbing window on a shared display, so runs take turns through a lock.
struct IntroRun : ::testing::Test {
  const char *option = nullptr; // one command-line option, or none
  pid_t pid = -1;
  int lock = -1;
  double started = 0;
  Window window = 0;

  void SetUp() override {
    ASSERT_NE(getenv("DISPLAY"), nullptr) << "run under tools/with-display";
    lock = open("/tmp/zkintro-shell-test.lock", O_CREAT | O_RDWR, 0666);
    ASSERT_TRUE(lock >= 0 && flock(lock, LOCK_EX) == 0);
    // The server tears down a killed run's windows after the process is gone;
    // a search now could find the old window instead of this run's.
    ASSERT_TRUE(waitForNoIntroWindow(5.0)) << "an earlier run's window is still up";
    started = now();
    pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      // SDL_Quit unloads the GL driver, whose leftovers a leak check would blame on us.
      std::string options = getenv("ASAN_OPTIONS") ? getenv("ASAN_OPTIONS") : "";
      setenv("ASAN_OPTIONS", (options + ":detect_leaks=0").c_str(), 1);
      if (chdir(KRO_SOURCE_DIR) == 0)
        execl(ZKINTRO_PATH, ZKINTRO_PATH, option, (char *)nullptr);
      _exit(127);
    }
    std::string id = kroTestRun("timeout 20 xdotool search --sync --name '^ZKintro$'").out;
    window = (Window)strtoul(id.c_str(), nullptr, 10);
    ASSERT_NE(window, 0u) << "no window after 20 s";
    sleep(1);
  }

  void TearDown() override {
    if (pid > 0 && kill(pid, SIGKILL) == 0)
      waitpid(pid, nullptr, 0);
    kroTestRun("xdotool keyup Escape");
    close(lock); // releases the turn
  }

  // True once no window is named as the intro's, within `limit` seconds.
  static bool waitForNoIntroWindow(double limit) {
    for (double until = now() + limit; now() < until; usleep(50000))
      if (kroTestRun("xdotool search --name '^ZKintro$'").out.empty())
        return true;
    return false;
  }

  // Asks the window to close, as a window manager does.
  void sendCloseRequest() {
    Display *display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    XEvent close_request = {};
    close_request.xclient.type = ClientMessage;
    close_request.xclient.window = window;
    close_request.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    close_request.xclient.format = 32;
    close_request.xclient.data.l[0] = (long)XInternAtom(display, "WM_DELETE_WINDOW", False);
    XSendEvent(display, window, False, NoEventMask, &close_request);
    XFlush(display);
    XCloseDisplay(display);
  }

  // The program ends with status 0 by `limit` s from start: early, or after its 14 s.
  void expectExit(double limit, bool early) {
    int status = -1;
    bool ended = false;
    while (!(ended = waitpid(pid, &status, WNOHANG) == pid) && now() - started < limit)
      usleep(20000);
    EXPECT_TRUE(early ? now() - started < 13.0 : now() - started >= 14.0) << now() - started;
    ASSERT_TRUE(ended) << "still running after " << limit << " s";
    pid = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  }
};

TEST_F(IntroRun, EndsByItselfAfterFourteenSecondsWhateverTheMouseDoes) {
  // Motion, all three buttons, another key, and an Escape release alone.
  kroTestRun("xdotool mousemove 600 300 click 1 click 2 click 3 mousemove 10 10 mousedown 1 "
             "mousemove 900 500 mouseup 1 mousemove_relative 7 3 key a keyup Escape");
  expectExit(30.0, false); // start-up and the last frame on a loaded machine
}

TEST_F(IntroRun, EscapeKeyDownEndsItAtOnce) {
  double pressed = now() - started;
  kroTestRun("xdotool keydown Escape");
  expectExit(pressed + 5.0, true);
}

struct WindowedIntroRun : IntroRun {
  WindowedIntroRun() { option = "--window"; }
};

// Another client's window may vanish between listing and asking about it; Xlib's
// default handler would end the test process for that, this one lets the call fail.
int ignoreXError(Display *, XErrorEvent *) { return 0; }

// The viewable windows under `parent`; `override_redirect` counts those that
// bypass the window manager, as a full-screen window does.
std::vector<XWindowAttributes> viewableChildren(Display *display, Window parent,
                                                int *override_redirect) {
  Window root, up, *children = nullptr;
  unsigned count = 0;
  std::vector<XWindowAttributes> out;
  *override_redirect = 0;
  if (!XQueryTree(display, parent, &root, &up, &children, &count))
    return out;
  for (unsigned i = 0; i < count; i++) {
    XWindowAttributes a;
    if (XGetWindowAttributes(display, children[i], &a) && a.map_state == IsViewable) {
      out.push_back(a);
      *override_redirect += a.override_redirect;
    }
  }
  XFree(children);
  return out;
}

// What GL granted a visual: double buffering, depth bits, then red, green,
// blue and alpha bits (-1 each when it cannot be asked). Asked in a child
// process, which leaves without exit handlers: the GL library that answers
// loads a driver whose leftovers a leak check would blame on the test.
std::vector<int> grantedBuffers(VisualID visual) {
  std::vector<int> granted(6, -1);
  int channel[2];
  if (pipe(channel) != 0)
    return granted;
  pid_t child = fork();
  if (child == 0) {
    Display *display = XOpenDisplay(nullptr);
    XVisualInfo wanted = {};
    wanted.visualid = visual;
    int count = 0, k = 0;
    XVisualInfo *info = display ? XGetVisualInfo(display, VisualIDMask, &wanted, &count) : nullptr;
    for (int attribute : {GLX_DOUBLEBUFFER, GLX_DEPTH_SIZE, GLX_RED_SIZE, GLX_GREEN_SIZE,
                          GLX_BLUE_SIZE, GLX_ALPHA_SIZE})
      if (info)
        glXGetConfig(display, info, attribute, &granted[k++]);
    ssize_t written = write(channel[1], granted.data(), granted.size() * sizeof(int));
    _exit(written == (ssize_t)(granted.size() * sizeof(int)) ? 0 : 1);
  }
  close(channel[1]);
  if (child > 0) {
    if (read(channel[0], granted.data(), granted.size() * sizeof(int)) !=
        (ssize_t)(granted.size() * sizeof(int)))
      granted.assign(6, -1);
    waitpid(child, nullptr, 0);
  }
  close(channel[0]);
  return granted;
}

// "--window": the picture in the intro's own 1200 x 600 window; no full-screen
// window covers the display (full screen, the drawing window moves into one).
// Its GL buffers are the ones asked for: double, a depth buffer of 24 bits or
// more, 8 bits each of red, green, blue and alpha (the display offers visuals
// without alpha too). The window system's close request (the same in either
// mode) ends it.
TEST_F(WindowedIntroRun, PlaysInAWindowOfTheIntrosSizeWithTheBuffersAskedFor) {
  Display *display = XOpenDisplay(nullptr);
  ASSERT_NE(display, nullptr);
  XErrorHandler previous = XSetErrorHandler(ignoreXError);
  // A full-screen window of the run before may outlive its process for a moment.
  int covering = -1, inside_override = -1;
  for (double until = now() + 3.0; covering != 0 && now() < until; usleep(50000))
    viewableChildren(display, DefaultRootWindow(display), &covering);
  std::vector<XWindowAttributes> drawing = viewableChildren(display, window, &inside_override);
  VisualID visual = drawing.size() == 1 ? XVisualIDFromVisual(drawing[0].visual) : 0;
  XCloseDisplay(display);
  XSetErrorHandler(previous);
  EXPECT_EQ(covering, 0);
  ASSERT_EQ(drawing.size(), 1u);
  EXPECT_EQ(drawing[0].width * 10000 + drawing[0].height, 1200 * 10000 + 600);
  std::vector<int> granted = grantedBuffers(visual);
  EXPECT_EQ(granted[0], 1);
  EXPECT_GE(granted[1], 24);
  EXPECT_EQ(std::vector<int>(granted.begin() + 2, granted.end()), std::vector<int>(4, 8));
  sendCloseRequest();
  expectExit(now() - started + 5.0, true);
}

// Runs the built intro with `setup` (environment changes) and `arguments`.
kroTestOutcome runIntro(const std::string &setup, const std::string &arguments) {
  return kroTestRun("cd " KRO_SOURCE_DIR " && " + setup + " timeout -s KILL 10 " + ZKINTRO_PATH +
                    " " + arguments);
}

// "--help" prints the usage and succeeds; an unknown option is named with the usage, status 2.
TEST(IntroStart, HelpAndUnknownOptions) {
  kroTestOutcome help = runIntro("", "--help"), unknown = runIntro("", "--fast");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: zkintro [--window | --help]\n", 0), 0u) << help.out;
  EXPECT_EQ(help.err, "");
  EXPECT_EQ(unknown.status, 2);
  EXPECT_EQ(unknown.out, "");
  EXPECT_EQ(unknown.err, "zkintro: unknown option '--fast'\n" + help.out);
}

// On a display whose GL visuals have neither 8-bit channels nor alpha (16
// bits, 5-6-5, without the 32-bit visuals compositing adds), the buffers asked
// for cannot be had: the intro plays with SDL's defaults instead, until the
// quit request that SDL makes of the TERM signal.
TEST(IntroStart, PlaysWithSDLsDefaultBuffersWhereItsOwnCannotBeHad) {
  kroTestOutcome run =
      kroTestRun("xvfb-run -a -s '-screen 0 1280x1024x16 -extension Composite -noreset' "
                 "env SDL_AUDIODRIVER=dummy ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" "
                 "timeout --preserve-status -k 5 3 " ZKINTRO_PATH " --window");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
}

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

// Without a display (none named, or one that does not exist) each program
// stops at once with status 1: nothing on standard output, one line on standard
// error with its reason and SDL's (no terminal drawing); zkcapture makes no folder.
TEST(IntroStart, WithoutADisplayEachProgramStopsWithStatusOne) {
  std::string out = kroTestTempPath("no-display");
  for (std::string setup : {"-u DISPLAY -u SDL_VIDEODRIVER", "-u SDL_VIDEODRIVER DISPLAY=:97"}) {
    SCOPED_TRACE(setup);
    // A zkintro that plays would be killed after 10 s (status -1).
    for (const auto &[o, reason] :
         {std::pair{runIntro("env " + setup, ""), "zkintro: cannot start video: "},
          {capture("--at 1 --out " + out, setup), "zkcapture: no OpenGL context: "}}) {
      EXPECT_TRUE(o.status == 1 && o.out.empty()) << o.status << " " << o.out;
      EXPECT_EQ(o.err.find('\n'), o.err.size() - 1) << o.err; // exactly one line
      EXPECT_EQ(o.err.rfind(reason, 0), 0u) << o.err;
      EXPECT_GT(o.err.size(), strlen(reason) + 1) << o.err;
      EXPECT_EQ(o.err.find('\033'), std::string::npos);
    }
  }
  EXPECT_FALSE(kroTestFileExists(out));
}

} // namespace
