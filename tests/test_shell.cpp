// The intro program end to end on the X display: it runs its fourteen seconds
// and exits with status 0 by itself, whatever the mouse does; an Escape
// key-down ends it at once; so does the window system's request to close.
// Input goes through the X server (xdotool, Xlib), as a user's would.
#include <gtest/gtest.h>
// After gtest: Xlib defines None and Bool as macros.
#include <X11/Xlib.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>

namespace {

double now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

// Xvfb resets whenever its last client leaves and refuses connections while
// it does; one connection held for the whole run keeps the server steady for
// the programs started one after another. Retries ride out a reset under way.
Display *holdDisplay() {
  static Display *held = nullptr;
  for (int attempt = 0; !held && attempt < 100; attempt++) {
    held = XOpenDisplay(nullptr);
    if (!held)
      usleep(50000);
  }
  return held;
}

// Runs a shell command and returns its standard output.
std::string run(const std::string &command) {
  std::string out;
  FILE *pipe = popen(command.c_str(), "r");
  if (!pipe)
    return out;
  char buffer[256];
  while (fgets(buffer, sizeof buffer, pipe))
    out += buffer;
  pclose(pipe);
  return out;
}

// One run of the program. The X display is shared with whatever else runs,
// and keys go to the grabbing window, so runs of this file take turns.
struct IntroRun : ::testing::Test {
  pid_t pid = -1;
  int lock = -1;
  double started = 0;

  void SetUp() override {
    ASSERT_NE(getenv("DISPLAY"), nullptr) << "run under tools/with-display";
    ASSERT_NE(holdDisplay(), nullptr);
    lock = open("/tmp/zkintro-shell-test.lock", O_CREAT | O_RDWR, 0666);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(flock(lock, LOCK_EX), 0);
    started = now();
    pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      // In a sanitizer build: SDL_Quit unloads the GL driver before the leak
      // check runs, so the driver's own leftovers can no longer be told apart
      // from the program's. The scene's releases are checked in test_scene.
      std::string options = getenv("ASAN_OPTIONS") ? getenv("ASAN_OPTIONS") : "";
      setenv("ASAN_OPTIONS", (options + ":detect_leaks=0").c_str(), 1);
      if (chdir(KRO_SOURCE_DIR) == 0)
        execl(ZKINTRO_PATH, ZKINTRO_PATH, (char *)nullptr);
      _exit(127);
    }
  }

  void TearDown() override {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    run("xdotool keyup Escape 2>/dev/null");
    if (lock >= 0)
      close(lock); // releases the turn
  }

  // The program's window, once it is up (0 after 20 s without).
  Window waitForWindow() {
    std::string id = run("timeout 20 xdotool search --sync --name '^ZKintro$' 2>/dev/null");
    return (Window)strtoul(id.c_str(), nullptr, 10);
  }

  // Waits up to `limit` seconds from start for the program to end; returns
  // its wait status, or -1 when it is still running.
  int waitForExit(double limit) {
    while (now() - started < limit) {
      int status;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
        return status;
      }
      usleep(20000);
    }
    return -1;
  }
};

TEST_F(IntroRun, EndsByItselfAfterFourteenSecondsWhateverTheMouseDoes) {
  ASSERT_NE(waitForWindow(), 0u);
  sleep(1);
  // Motion, all three buttons, another key, and an Escape release alone.
  run("xdotool mousemove 600 300 click 1 click 2 click 3 mousemove 10 10 mousedown 1 "
      "mousemove 900 500 mouseup 1 key a keyup Escape 2>/dev/null");
  for (int i = 0; i < 20; i++)
    run("xdotool mousemove_relative 7 3 2>/dev/null");
  sleep(2);
  EXPECT_EQ(waitForExit(5.0), -1) << "ended early";
  int status = waitForExit(40.0);
  double elapsed = now() - started;
  ASSERT_NE(status, -1) << "still running after 40 s";
  ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_GE(elapsed, 14.0);
  EXPECT_LT(elapsed, 30.0); // start-up and the last frame on a loaded machine
}

TEST_F(IntroRun, EscapeKeyDownEndsItAtOnce) {
  ASSERT_NE(waitForWindow(), 0u);
  sleep(1);
  double pressed = now();
  run("xdotool keydown Escape 2>/dev/null");
  int status = waitForExit(pressed - started + 5.0);
  ASSERT_NE(status, -1) << "still running 5 s after Escape";
  EXPECT_LT(now() - pressed, 5.0);
  EXPECT_LT(now() - started, 13.0);
  ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(IntroRun, CloseRequestFromTheWindowSystemEndsIt) {
  Window window = waitForWindow();
  ASSERT_NE(window, 0u);
  sleep(1);
  Display *display = holdDisplay();
  ASSERT_NE(display, nullptr);
  XEvent close_request = {};
  close_request.xclient.type = ClientMessage;
  close_request.xclient.window = window;
  close_request.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  close_request.xclient.format = 32;
  close_request.xclient.data.l[0] = (long)XInternAtom(display, "WM_DELETE_WINDOW", False);
  close_request.xclient.data.l[1] = CurrentTime;
  double requested = now();
  XSendEvent(display, window, False, NoEventMask, &close_request);
  XFlush(display);
  int status = waitForExit(requested - started + 5.0);
  ASSERT_NE(status, -1) << "still running 5 s after the close request";
  EXPECT_LT(now() - started, 13.0);
  ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace
