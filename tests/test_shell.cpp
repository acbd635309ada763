// The intro's programs as a user runs them: zkintro on the X display, input sent as a
// user's, plays on whatever the mouse does, ends at once on Escape or a close request, else
// with status 0 after its fourteen seconds; zkcapture writes PNGs of the right size and
// content, a frame sequence, a contact sheet and a video, and names what it refuses; the
// size-built release stays within its limit and shows the same frames as the normal build.
#include "gl_context.h"
// After gtest: Xlib defines None and Bool as macros.
#include <GL/glx.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <math.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <tuple>

namespace {

using namespace std::chrono;
const auto now = [] { return duration<double>(steady_clock::now().time_since_epoch()).count(); };

// One run of a program, started by start(), its window up for a second. Keys go to the
// grabbing window on a shared display, so runs take turns through a lock.
struct IntroRun : ::testing::Test {
  pid_t pid = -1;
  int lock = -1;
  double started = 0;     // s, just before the program was started
  double window_seen = 0; // s, once its window was found by its name
  Window window = 0;

  // Starts `path` with one command-line option, or none.
  void start(const char *path, const char *option) {
    ASSERT_NE(getenv("DISPLAY"), nullptr) << "run under tools/with-display";
    lock = open(kroTestWindowTurnLock().c_str(), O_CREAT | O_RDWR, 0666);
    ASSERT_TRUE(lock >= 0 && flock(lock, LOCK_EX) == 0);
    // The server tears down a killed run's windows after the process is gone;
    // a search now could find the old window instead of this run's.
    bool old_window = true;
    for (double until = now() + 5.0;
         (old_window = !kroTestRun("xdotool search --name '^ZKintro$'").out.empty()) &&
         now() < until;)
      usleep(50000);
    ASSERT_FALSE(old_window) << "an earlier run's window is still up";
    started = now();
    pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      // SDL_Quit unloads the GL driver, whose leftovers a leak check would blame on us.
      std::string options = getenv("ASAN_OPTIONS") ? getenv("ASAN_OPTIONS") : "";
      setenv("ASAN_OPTIONS", (options + ":detect_leaks=0").c_str(), 1);
      if (chdir(KRO_SOURCE_DIR) == 0)
        execl(path, path, option, (char *)nullptr);
      _exit(127);
    }
    std::vector<std::string> ids = kroTestFindWindows("ZKintro", 20);
    window = ids.empty() ? 0 : (Window)strtoul(ids[0].c_str(), nullptr, 10);
    window_seen = now();
    ASSERT_NE(window, 0u) << "no window after 20 s";
    sleep(1);
  }

  void TearDown() override {
    if (pid > 0 && kill(pid, SIGKILL) == 0)
      waitpid(pid, nullptr, 0);
    kroTestRun("xdotool keyup Escape");
    close(lock); // releases the turn
  }

  // The program ends with status 0 by `limit` s from start: early, or after its 14 s.
  void expectExit(double limit, bool early) {
    int status = -1;
    bool ended = false;
    while (!(ended = waitpid(pid, &status, WNOHANG) == pid) && now() - started < limit)
      usleep(20000);
    // Its clock starts after `started`: an end within 14 s of it came before the natural one.
    EXPECT_TRUE(early ? now() - started < 14.0 : now() - started >= 14.0) << now() - started;
    ASSERT_TRUE(ended) << "still running after " << limit << " s";
    pid = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  }
};

// Full screen: motion, all three buttons, another key and an Escape release alone leave it
// playing (its natural end after 14 s: the released run below); Escape pressed ends it at once.
TEST_F(IntroRun, PlaysOnWhateverTheMouseDoesUntilEscapeEndsItAtOnce) {
  ASSERT_NO_FATAL_FAILURE(start(ZKINTRO_PATH, nullptr));
  kroTestRun("xdotool mousemove 600 300 click 1 click 2 click 3 mousemove 10 10 mousedown 1 "
             "mousemove 900 500 mouseup 1 mousemove_relative 7 3 key a keyup Escape");
  sleep(1);
  ASSERT_EQ(waitpid(pid, nullptr, WNOHANG), 0) << "ended by the mouse or a key";
  double pressed = now() - started;
  kroTestRun("xdotool keydown Escape");
  expectExit(pressed + 5.0, true);
}

// What GL granted the visual of `drawing`, as "DOUBLE DEPTH RED GREEN BLUE ALPHA" (bits; -1
// each when it cannot be asked). Asked in a child process (its file size limit is beside the
// point), which leaves without exit handlers: the GL library that answers loads a driver whose
// leftovers a leak check would blame on the test.
std::string grantedBuffers(Window drawing) {
  return kroTestWithFileLimit(1L << 40, [drawing] {
    Display *display = XOpenDisplay(nullptr);
    XWindowAttributes a = {};
    XVisualInfo wanted = {};
    int count = 0;
    if (display && XGetWindowAttributes(display, drawing, &a))
      wanted.visualid = XVisualIDFromVisual(a.visual);
    XVisualInfo *info = display ? XGetVisualInfo(display, VisualIDMask, &wanted, &count) : nullptr;
    std::string granted;
    for (int attribute : {GLX_DOUBLEBUFFER, GLX_DEPTH_SIZE, GLX_RED_SIZE, GLX_GREEN_SIZE,
                          GLX_BLUE_SIZE, GLX_ALPHA_SIZE}) {
      int bits = -1;
      if (info)
        glXGetConfig(display, info, attribute, &bits);
      granted += (granted.empty() ? "" : " ") + std::to_string(bits);
    }
    return granted;
  });
}

// `count` pictures of the window `drawing`, `rate` a second, as ffmpeg grabs them from the
// display (the first one frame time after it starts).
std::vector<kroTestPng> grabPictures(Window drawing, int count, const std::string &rate) {
  static int calls = 0;
  std::string dir = kroTestTempFolder("grab-" + std::to_string(++calls));
  EXPECT_EQ(kroTestRun("ffmpeg -v error -f x11grab -draw_mouse 0 -framerate " + rate +
                       " -window_id " + std::to_string(drawing) + " -i \"$DISPLAY\" -frames:v " +
                       std::to_string(count) + " " + dir + "/%d.png")
                .status,
            0);
  std::vector<kroTestPng> pictures;
  for (int i = 1; i <= count; i++)
    pictures.emplace_back(dir + "/" + std::to_string(i) + ".png");
  return pictures;
}

// The one viewable drawing window inside the intro's `window`, or 0 (a full-screen intro has
// none: its drawing window moves into a full-screen window). Other tests' windows may cover it
// on the shared display: the server keeps what is drawn under them.
Window drawingWindow(Display *display, Window window) {
  Window root, up, *children = nullptr;
  unsigned count = 0; // left 0 when the query fails
  std::vector<Window> viewable;
  XQueryTree(display, window, &root, &up, &children, &count);
  for (unsigned i = 0; i < count; i++) {
    XWindowAttributes a;
    if (XGetWindowAttributes(display, children[i], &a) && a.map_state == IsViewable)
      viewable.push_back(children[i]);
  }
  XFree(children);
  if (viewable.size() != 1)
    return 0;
  XSetWindowAttributes keep = {};
  keep.backing_store = Always;
  XChangeWindowAttributes(display, viewable[0], CWBackingStore, &keep);
  XSync(display, False);
  return viewable[0];
}

// "--window": the picture in the intro's own 1200 x 600 window (not in a full-screen one, nor
// the whole display's, grabbed when there is none). Its clock runs between whole seconds: of
// seven pictures 0.3 s apart while everything moves (1.8 s from about its second second), more
// than two differ from the one before (whole seconds would change it at most twice; a loaded
// machine may draw or grab a frame late). Its GL buffers are the ones asked for: double, a depth
// buffer of 24 bits or 32, 8 bits each of red, green, blue and alpha (the display offers visuals
// without alpha too). Resized from outside (SDL delivers the resize even though the window is not
// meant to be resizable), it gets a mode of the new width and height, in that order, in the same
// window, and goes on drawing the scene in it. The window system's close request (the same in
// either mode) ends it.
TEST_F(IntroRun, PlaysInItsWindowWithItsBuffersAndClockResizedUntilAskedToClose) {
  ASSERT_NO_FATAL_FAILURE(start(ZKINTRO_PATH, "--window"));
  Display *display = XOpenDisplay(nullptr);
  ASSERT_NE(display, nullptr);
  // Another client's window may vanish between listing and asking about it; Xlib's default
  // handler would end the test process for that, this one lets the call fail.
  XErrorHandler previous = XSetErrorHandler([](Display *, XErrorEvent *) { return 0; });
  Window drawing = drawingWindow(display, window);
  std::vector<kroTestPng> pictures = grabPictures(drawing, 7, "10/3");
  int changes = 0;
  for (int i = 1; i < 7; i++)
    changes += kroTestDifferingPixels(pictures[i - 1].rgb, pictures[i].rgb, 0) != 0;
  EXPECT_EQ(pictures[0].width * 10000 + pictures[0].height, 1200 * 10000 + 600);
  EXPECT_GT(changes, 2);
  std::string granted = grantedBuffers(drawing);
  EXPECT_TRUE(granted == "1 24 8 8 8 8" || granted == "1 32 8 8 8 8") << granted;

  // The resize is asked for again every 2 s while the window keeps its old size: on a display
  // shared with other tests' windows, one request has gone unanswered (seen once in many runs).
  XWindowAttributes resized = {};
  for (double until = now() + 6.0, again = 0;
       resized.width * 10000 + resized.height != 600 * 10000 + 300 && now() < until;
       usleep(100000)) {
    if (now() >= again) {
      ASSERT_EQ(kroTestRun("xdotool windowsize " + std::to_string(window) + " 600 300").status, 0);
      again = now() + 2.0;
    }
    XGetWindowAttributes(display, drawingWindow(display, window), &resized);
  }
  EXPECT_EQ(resized.width * 10000 + resized.height, 600 * 10000 + 300);
  EXPECT_EQ(drawingWindow(display, window), drawing);
  // The word lit across the middle rows of the smaller window, read from the display (no
  // grabber to start on a loaded machine) until the intro has taken the new size.
  int lit = 0;
  for (double until = now() + 5.0; lit < 2000 && now() < until; usleep(50000)) {
    XImage *band = XGetImage(display, drawing, 0, 120, 600, 60, AllPlanes, ZPixmap);
    lit = 0;
    for (int i = 0; band && i < 600 * 60; i++) {
      unsigned long p = XGetPixel(band, i % 600, i / 600); // 8 bits each, red highest
      lit += (p >> 16 & 255) > 24 || (p >> 8 & 255) > 24 || (p & 255) > 24;
    }
    if (band)
      XDestroyImage(band);
  }
  EXPECT_GE(lit, 2000) << "not drawn in the whole window after the resize";
  // The close request, as a window manager sends it; again every half second while the
  // program runs, as a loaded display may deliver one late.
  XEvent close_request = {};
  close_request.xclient.type = ClientMessage;
  close_request.xclient.window = window;
  close_request.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  close_request.xclient.format = 32;
  close_request.xclient.data.l[0] = (long)XInternAtom(display, "WM_DELETE_WINDOW", False);
  siginfo_t ended = {};
  for (int sent = 0; sent < 6 && ended.si_pid != pid; sent++) {
    XSendEvent(display, window, False, NoEventMask, &close_request);
    XFlush(display);
    usleep(500000);
    waitid(P_PID, pid, &ended, WEXITED | WNOHANG | WNOWAIT); // leaves it to expectExit
  }
  XCloseDisplay(display);
  XSetErrorHandler(previous);
  expectExit(now() - started + 8.0, true); // before its 14 s: the close ended it
}

// Lit pixels of a picture, RGB: brighter than 24 in a channel.
int litPixels(const std::vector<unsigned char> &rgb) {
  return kroTestDifferingPixels(rgb, std::vector<unsigned char>(rgb.size()), 24);
}

// Runs `program` with `arguments` under `environment` (words for env) after the shell words
// `before`, killed after five minutes; SDL_Quit unloads the GL driver before a sanitizer's
// leak check.
kroTestOutcome launch(const char *program, const std::string &arguments,
                      const std::string &environment = "", const std::string &before = "") {
  return kroTestRun(before + "timeout -s KILL 300 env " + environment +
                    " ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" " + program + " " + arguments);
}
const auto capture = [](auto... arguments) { return launch(ZKCAPTURE_PATH, arguments...); };

// One run takes stills at chosen times (in any order), a contact sheet and a short video into
// a folder whose name ffmpeg could take for a protocol; another a sequence. At 0.5 s only the
// word shows; at 11 s the 32 digits stand around it. The sequence is 0 <= t < 14 s: 14 frames
// at 1 per second, each showing the intro (t = 14 s, after the tear-down, would be black). The
// clip (5 frames per second: 70 frames) goes into ffmpeg as it is drawn, with the progress on
// standard error; ffprobe reads back 70 H.264 frames of 1200 x 600 in yuv420p, and frame 42 is
// the intro at 8.4 s: nearer the still at 8.4 than those at 8.2 and 8.6, while three digits
// are in flight. Nothing else is left in the folder.
TEST(ZkCapture, StillsSheetVideoAndSequenceOfTheIntroIntoAnyFolder) {
  std::string dir = kroTestTempFolder("capture"), out = dir + "/take:2",
              file = out + "/zkintro.mp4";
  kroTestOutcome made =
      capture("--at 11,0.5,8.6,8.4,8.2 --sheet --video --fps 5 --crf 20 --out take:2", "",
              "cd " + dir + " && ");
  ASSERT_EQ(made.status, 0) << made.err;
  EXPECT_TRUE(kroTestHas(made.out, "zkcapture: 70 frames at 5 per second in take:2/zkintro.mp4\n"))
      << made.out;
  EXPECT_TRUE(kroTestHas(made.err, "\rzkcapture: encoding take:2/zkintro.mp4: frame 1 of 70 (1%)"));
  EXPECT_TRUE(
      kroTestHas(made.err, "\rzkcapture: encoding take:2/zkintro.mp4: frame 70 of 70 (100%)\n"));
  EXPECT_EQ(kroTestListing(out),
            "zkintro-at-00.500.png\nzkintro-at-08.200.png\nzkintro-at-08.400.png\n"
            "zkintro-at-08.600.png\nzkintro-at-11.000.png\nzkintro-sheet.png\n"
            "zkintro.mp4\n");
  kroTestPng early(out + "/zkintro-at-00.500.png"), late(out + "/zkintro-at-11.000.png");
  for (const kroTestPng *png : {&early, &late})
    ASSERT_TRUE(png->width == 1200 && png->height == 600) << png->width << " x " << png->height;
  EXPECT_GT(litPixels(early.rgb), 10000);
  EXPECT_GT(litPixels(late.rgb), litPixels(early.rgb) + 5000);
  kroTestPng sheet(out + "/zkintro-sheet.png");
  EXPECT_EQ(sheet.width, 6 + 4 * (300 + 6));
  EXPECT_EQ(sheet.height, 6 + 4 * (22 + 150 + 6));

  kroTestOutcome checked = kroTestRun(KRO_SOURCE_DIR "/tools/check-video " + file + " 70");
  EXPECT_EQ(checked.status, 0) << checked.err;
  EXPECT_TRUE(kroTestHas(checked.out, "check-video: " + file +
                                          ": 70 frames, 1200 x 600, h264, yuv420p; aac 14.000 s, "))
      << checked.out;
  // The same picture without its soundtrack is not the intro's video; frame 42 decoded.
  ASSERT_EQ(kroTestRun("ffmpeg -v error -i " + file + " -an -c copy " + dir +
                       "/mute.mp4 -vf 'select=eq(n\\,42)' -frames:v 1 " + dir + "/frame42.png")
                .status,
            0);
  for (std::string wrong :
       {file + " 69", file + " 71", file + " 70 1200x601", dir + "/mute.mp4 70"})
    EXPECT_EQ(kroTestRun(KRO_SOURCE_DIR "/tools/check-video " + wrong).status, 1) << wrong;
  kroTestPng frame(dir + "/frame42.png"), before(out + "/zkintro-at-08.200.png"),
      at(out + "/zkintro-at-08.400.png"), after(out + "/zkintro-at-08.600.png");
  // Encoding moves colours a little (by more than 96 at 1 pixel here); a flying digit
  // 0.2 s off moves over more than a thousand.
  const int kEncodingTolerance = 96;
  EXPECT_LT(kroTestDifferingPixels(frame.rgb, at.rgb, kEncodingTolerance), 100);
  for (const kroTestPng *off : {&before, &after})
    EXPECT_GT(kroTestDifferingPixels(frame.rgb, off->rgb, kEncodingTolerance), 500);

  kroTestOutcome sequence = capture("--fps 1 --out " + dir + "/sequence");
  ASSERT_EQ(sequence.status, 0) << sequence.err;
  EXPECT_NE(sequence.out.find("14 frames"), std::string::npos) << sequence.out;
  for (int k = 0; k <= 14; k++) {
    kroTestPng still(dir + "/sequence/frames/zkintro-00" + (k < 10 ? "0" : "") + std::to_string(k) +
                     ".png");
    EXPECT_EQ(still.width, k < 14 ? 1200 : 0) << "frame " << k;
    EXPECT_TRUE(k == 14 || litPixels(still.rgb) > 5000) << "frame " << k;
  }
  // Folder names reach ffmpeg as file names whatever their characters (a colon: the video
  // above), and a video linked to a device is written into it, the link kept.
  ASSERT_TRUE(mkdir((dir + "/null").c_str(), 0777) == 0 &&
              symlink("/dev/null", (dir + "/null/zkintro.mp4").c_str()) == 0);
  for (std::string folder : {"-x", "null"}) {
    kroTestOutcome run = capture("--video --fps 1 --out " + folder, "", "cd " + dir + " && ");
    std::string video = dir + "/" + folder + "/zkintro.mp4";
    EXPECT_EQ(run.status, 0) << folder << ": " << run.err;
    EXPECT_EQ(kroTestListing(dir + "/" + folder), "zkintro.mp4\n") << folder;
    EXPECT_TRUE(folder == "null" ? kroTestLinkText(video) == "/dev/null"
                                 : kroTestReadFile(video).size() > 1000)
        << folder;
  }
}

// An ffmpeg that is missing or fails part-way: one line saying so, status 1. Stopped while it
// encodes, zkcapture ends at once by the signal, ffmpeg with it. Either way the video that was
// there before stays whole, with no other file beside it.
TEST(ZkCapture, AFailingFfmpegOrAStopMidVideoLeavesTheEarlierVideo) {
  std::string out = kroTestTempFolder("failing-video"), bin = kroTestTempFolder("fake-bin");
  kroTestWriteFile(out + "/zkintro.mp4", "the earlier video");
  // An encoder that takes one frame's bytes and then gives up: with a message and a failing
  // status when FAIL is set, else silently and with status 0.
  kroTestWriteFile(bin + "/ffmpeg",
                   "#!/bin/sh\nhead -c 2160000 >/dev/null\n"
                   "[ -z \"$FAIL\" ] || { echo 'Conversion failed!' >&2; exit 1; }\n");
  ASSERT_EQ(chmod((bin + "/ffmpeg").c_str(), 0755), 0);
  const std::string failed = "zkcapture: ffmpeg failed on " + out + "/zkintro.mp4: ",
                    earlier = "zkintro.mp4\nthe earlier video";
  const std::pair<std::string, std::string> failures[] = {
      {"PATH=" + bin + "/none", "zkcapture: cannot run ffmpeg: No such file or directory"},
      {"FAIL=1 PATH=" + bin + ":$PATH", failed + "Conversion failed!\n"},
      {"PATH=" + bin + ":$PATH", failed + "it ended after 1 of 28 frames\n"}};
  for (const auto &[environment, message] : failures) {
    kroTestOutcome run = capture("--video --fps 2 --out " + out, environment);
    EXPECT_EQ(std::tie(run.status, run.out), std::make_tuple(1, "")) << environment;
    std::string last = run.err.substr(run.err.rfind('\n', run.err.size() - 2) + 1);
    EXPECT_EQ(last.rfind(message, 0), 0u) << run.err;
    EXPECT_EQ(kroTestListing(out) + kroTestReadFile(out + "/zkintro.mp4"), earlier);
  }
  for (int number : {SIGTERM, SIGINT}) {
    pid_t pid = fork();
    if (pid == 0) {
      signal(number, SIG_DFL); // a suite started in the background has SIGINT ignored
      freopen("/dev/null", "w", stderr);
      execl(ZKCAPTURE_PATH, ZKCAPTURE_PATH, "--video", "--out", out.c_str(), (char *)nullptr);
      _exit(127);
    }
    for (double until = now() + 30; kroTestListing(out) == "zkintro.mp4\n" && now() < until;)
      usleep(20000); // until its new video is there: it is encoding
    usleep(300000);
    int status = 0;
    ASSERT_TRUE(pid > 0 && kill(pid, number) == 0 && waitpid(pid, &status, 0) == pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == number) << number << ": " << status;
    usleep(200000); // an ffmpeg left running would write on
    EXPECT_EQ(kroTestListing(out) + kroTestReadFile(out + "/zkintro.mp4"), earlier) << number;
  }
}

#ifdef ZK_RELEASE_DIST
// ---- the release: the intro built for size, as its audience gets it ----

// zkcapture's frames from `from` to `to` seconds, `step` apart (whole milliseconds, as the
// intro's clock counts): the number of pixels in which the nearest differs from `shown` at
// all, and its time in `nearest`.
int nearestCapture(const std::vector<unsigned char> &shown, double from, double to, double step,
                   double *nearest) {
  static int calls = 0;
  std::string times, out = kroTestTempFolder("nearest-" + std::to_string(++calls)), name;
  for (long ms = lround(std::max(from, 0.0) * 1000); ms <= std::min(to, 13.999) * 1000;
       ms += lround(step * 1000))
    times += (times.empty() ? "" : ",") + std::to_string(ms / 1000.0);
  EXPECT_EQ(capture("--at " + times + " --out " + out).status, 0);
  int best = 1200 * 600;
  for (std::istringstream names(kroTestListing(out)); std::getline(names, name);) {
    int differing = kroTestDifferingPixels(shown, kroTestPng(out + "/" + name).rgb, 0);
    if (differing < best) // zkintro-at-SS.SSS.png
      best = differing, *nearest = atof(name.c_str() + strlen("zkintro-at-"));
  }
  return best;
}

// The released intro plays as the normal build: its window at about 11 s (every digit
// landed, the light still circling) shows the very frame zkcapture draws with the normal
// build's scene at some millisecond, and it ends with status 0 after its 14 s. Its archive
// holds the size-built intro, within its limit, executable and the same bytes as
// dist/zkintro, with the audience's README for this version; --version names it. Packed
// again beyond its limit, the packing stops, says by how many bytes and writes nothing; at
// the limit exactly it packs.
TEST_F(IntroRun, ReleasedShowsTheNormalBuildsFramesEndsAfterFourteenSecondsAndIsPacked) {
  ASSERT_NO_FATAL_FAILURE(start(ZK_RELEASE_DIST "/zkintro", "--window"));
  Display *display = XOpenDisplay(nullptr);
  ASSERT_NE(display, nullptr);
  Window drawing = drawingWindow(display, window);
  ASSERT_NE(drawing, 0u) << "the drawing window";
  while (now() < window_seen + 11.0)
    usleep(10000);
  const double grabbing = now();
  kroTestPng shown = grabPictures(drawing, 1, "100")[0];
  const double grabbed = now();
  XCloseDisplay(display);
  expectExit(30.0, false);

  // Its clock starts as the window gets its name, after `started` and before `window_seen`;
  // the frame grabbed was drawn up to a few frame times before. Every 20 ms over that span,
  // then every millisecond about the nearest: the frame itself.
  const double latest = grabbed - started,
               earliest = std::max(grabbing - window_seen - 0.3, latest - 2.0);
  double near = 0.0, exact = 0.0;
  nearestCapture(shown.rgb, earliest, latest, 0.02, &near);
  int differing = nearestCapture(shown.rgb, near - 0.02, near + 0.02, 0.001, &exact);
  // The window and the off-screen buffer differ in about ten pixels whichever build plays;
  // a light moved by a tenth of a unit changes thousands.
  EXPECT_LT(differing, 50) << "nearest capture at " << exact << " s, between " << earliest
                           << " and " << latest;

  std::string folder = kroTestTempFolder("release"), unpacked = folder + "/" ZK_RELEASE_NAME;
  kroTestOutcome untar =
      kroTestRun("tar -xzf " ZK_RELEASE_DIST "/" ZK_RELEASE_NAME ".tar.gz -C " + folder);
  ASSERT_EQ(untar.status, 0) << untar.err;
  EXPECT_EQ(kroTestListing(folder) + kroTestListing(unpacked),
            ZK_RELEASE_NAME "\nREADME.txt\nzkintro\n");
  std::string intro = unpacked + "/zkintro", bytes = kroTestReadFile(intro);
  const long size = (long)bytes.size();
  EXPECT_LE(size, ZK_RELEASE_LIMIT);
  EXPECT_EQ(bytes, kroTestReadFile(ZK_RELEASE_DIST "/zkintro"));
  kroTestOutcome version = kroTestRun(intro + " --version");
  EXPECT_EQ(std::tie(version.status, version.out),
            std::make_tuple(0, "zkintro " KRO_VERSION_STRING "\n"));
  std::string readme = kroTestReadFile(unpacked + "/README.txt");
  EXPECT_EQ(readme.rfind("ZKintro " KRO_VERSION_STRING ": ", 0), 0u) << readme;
  EXPECT_EQ(readme.find('@'), std::string::npos) << "a placeholder left: " << readme;

  std::string out = kroTestTempPath("release-dist");
  std::string pack = KRO_SOURCE_DIR "/intro-tools/zkrelease --name " ZK_RELEASE_NAME " --limit ";
  std::string files = " " + intro + " " + unpacked + "/README.txt " + out;
  kroTestOutcome over = kroTestRun(pack + std::to_string(size - 100) + files);
  EXPECT_EQ(over.status, 1);
  EXPECT_EQ(over.err, "zkrelease: " + intro + " is " + std::to_string(size) + " bytes, 100 over " +
                          "the limit of " + std::to_string(size - 100) + "\n");
  EXPECT_FALSE(kroTestFileExists(out));
  // Packed again at the limit, under another umask and long after the build packed it, the
  // archive is the same bytes: no time of packing nor umask enters.
  kroTestOutcome at_limit = kroTestRun("umask 002 && " + pack + std::to_string(size) + files);
  EXPECT_EQ(at_limit.status, 0) << at_limit.err;
  EXPECT_EQ(kroTestListing(out), "zkintro\n" ZK_RELEASE_NAME ".tar.gz\n");
  EXPECT_TRUE(kroTestReadFile(out + "/" ZK_RELEASE_NAME ".tar.gz") ==
              kroTestReadFile(ZK_RELEASE_DIST "/" ZK_RELEASE_NAME ".tar.gz"))
      << "packed again, the archive differs from the build's";
}

#endif

// "--help" prints the usage and "--version" the engine's version, and both succeed; an
// unknown option, or a value zkcapture refuses, is named (the first line on standard error),
// status 2. Without a display (none named, or one that does not exist) each program stops at
// once with status 1: nothing on standard output, one line on standard error with its reason
// and SDL's (no terminal drawing); zkcapture makes no folder. On a display whose GL visuals
// have neither 8-bit channels nor alpha (16 bits, 5-6-5, without the 32-bit visuals
// compositing adds), the buffers asked for cannot be had: the intro plays with SDL's defaults
// instead, until the quit request that SDL makes of the TERM signal.
TEST(ProgramStart, OptionsRefusalsAndStartsWithoutTheDisplayOrBuffersWanted) {
  kroTestOutcome help = launch(ZKINTRO_PATH, "--help"), unknown = launch(ZKINTRO_PATH, "--fast"),
                 version = launch(ZKINTRO_PATH, "--version");
  EXPECT_EQ(std::tie(version.status, version.out, version.err),
            std::make_tuple(0, "zkintro " KRO_VERSION_STRING "\n", ""));
  for (const auto &[o, usage] :
       {std::pair{help, "usage: zkintro [--window] [--mute] | --version | --help\n"},
        {capture("--help"), "usage: zkcapture ["}}) {
    EXPECT_EQ(std::tie(o.status, o.err), std::make_tuple(0, "")) << usage;
    EXPECT_EQ(o.out.rfind(usage, 0), 0u) << o.out;
  }
  EXPECT_EQ(std::tie(unknown.status, unknown.out, unknown.err),
            std::make_tuple(2, "", "zkintro: unknown option '--fast'\n" + help.out));
  std::string out = kroTestTempPath("no-display");
  for (std::string setup : {"-u DISPLAY -u SDL_VIDEODRIVER", "-u SDL_VIDEODRIVER DISPLAY=:97"}) {
    SCOPED_TRACE(setup);
    for (const auto &[o, reason] :
         {std::pair{launch(ZKINTRO_PATH, "", setup), "zkintro: cannot start video: "},
          {capture("--at 1 --out " + out, setup), "zkcapture: no OpenGL context: "}}) {
      EXPECT_TRUE(o.status == 1 && o.out.empty()) << o.status << " " << o.out;
      EXPECT_EQ(o.err.find('\n'), o.err.size() - 1) << o.err; // exactly one line
      EXPECT_EQ(o.err.rfind(reason, 0), 0u) << o.err;
      EXPECT_GT(o.err.size(), strlen(reason) + 1) << o.err;
      EXPECT_EQ(o.err.find('\033'), std::string::npos);
    }
  }
  // A driver the user chose is kept on the retry after a failed mode too: SDL's
  // driver without GL ends the intro instead of a free choice that finds X11.
  kroTestOutcome chosen = launch(ZKINTRO_PATH, "--window", "SDL_VIDEODRIVER=dummy");
  EXPECT_EQ(chosen.status, 1) << chosen.err;
  EXPECT_EQ(chosen.err.rfind("zkintro: cannot set the video mode: ", 0), 0u) << chosen.err;
  kroTestOutcome plain =
      kroTestRun("xvfb-run -a -s '-screen 0 1280x1024x16 -extension Composite -noreset' "
                 "env SDL_AUDIODRIVER=dummy ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" "
                 "timeout --preserve-status -k 5 3 " ZKINTRO_PATH " --window");
  EXPECT_EQ(std::tie(plain.status, plain.err), std::make_tuple(0, ""));

  const std::string to = " --out " + out;
  // Arguments, and the reason: the first line on standard error.
  const std::pair<std::string, std::string> refused[] = {
      {"--frames 3", "unknown option '--frames'"},
      {"--sheet --out", "--out needs a value"},
      {"", "nothing to capture"},
      {"--at 1,x" + to, "--at '1,x': expected seconds"},
      {"--at 1," + to, "--at '1,'"},
      {"--at -1" + to, "--at '-1'"},
      {"--at 14" + to, "--at '14'"},
      {"--at nan" + to, "--at 'nan'"},
      {"--fps 0" + to, "--fps '0': expected a whole number from 1 to 240"},
      {"--fps 1000" + to, "--fps '1000'"},
      {"--crf 20", "--crf is the video's quality"},
      {"--video --crf 52", "--crf '52': expected a whole number from 0 to 51"},
      {"--video --crf", "--crf needs a value"},
  };
  for (const auto &[arguments, reason] : refused) {
    kroTestOutcome refusal = capture(arguments);
    EXPECT_EQ(refusal.status, 2) << arguments;
    EXPECT_EQ(refusal.err.rfind("zkcapture: " + reason, 0), 0u) << arguments << "\n" << refusal.err;
    EXPECT_TRUE(refusal.out.empty()) << arguments;
  }
  EXPECT_FALSE(kroTestFileExists(out));
  EXPECT_EQ(capture("--at 1 --out /proc/no/such/place").status, 1);
  // A frame that cannot be written (the file size limit) leaves the old file and no other,
  // with the reason on one line and status 1.
  std::string folder = kroTestTempFolder("capture-limit"),
              frame = folder + "/zkintro-at-01.000.png";
  kroTestWriteFile(frame, "old frame");
  kroTestOutcome run = capture("--at 1 --out " + folder, "", kroTestFileLimit(8192));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "zkcapture: cannot write " + frame + ": File too large\n");
  EXPECT_EQ(kroTestListing(folder) + kroTestReadFile(frame), "zkintro-at-01.000.png\nold frame");
}

} // namespace
