// The intro program end to end on the X display, input sent through the X
// server as a user's would be: it exits with status 0 by itself after its
// fourteen seconds whatever the mouse does, at once on an Escape key-down,
// and on the window system's request to close.
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

// Runs a shell command and returns its standard output.
std::string run(const std::string &command) {
  std::string out;
  char buffer[256];
  if (FILE *pipe = popen(command.c_str(), "r")) {
    while (fgets(buffer, sizeof buffer, pipe))
      out += buffer;
    pclose(pipe);
  }
  return out;
}

// One run of the program, its window up for a second. Keys go to the
// grabbing window on a shared display, so runs take turns through a lock.
struct IntroRun : ::testing::Test {
  pid_t pid = -1;
  int lock = -1;
  double started = 0;
  Window window = 0;

  void SetUp() override {
    ASSERT_NE(getenv("DISPLAY"), nullptr) << "run under tools/with-display";
    lock = open("/tmp/zkintro-shell-test.lock", O_CREAT | O_RDWR, 0666);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(flock(lock, LOCK_EX), 0);
    started = now();
    pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      // SDL_Quit unloads the GL driver before a sanitizer's leak check, whose
      // leftovers then cannot be told from the program's.
      std::string options = getenv("ASAN_OPTIONS") ? getenv("ASAN_OPTIONS") : "";
      setenv("ASAN_OPTIONS", (options + ":detect_leaks=0").c_str(), 1);
      if (chdir(KRO_SOURCE_DIR) == 0)
        execl(ZKINTRO_PATH, ZKINTRO_PATH, (char *)nullptr);
      _exit(127);
    }
    std::string id = run("timeout 20 xdotool search --sync --name '^ZKintro$' 2>/dev/null");
    window = (Window)strtoul(id.c_str(), nullptr, 10);
    ASSERT_NE(window, 0u) << "no window after 20 s";
    sleep(1);
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

  // Waits until `limit` seconds from start for the program to end; returns
  // its wait status, or -1 when it is still running.
  int waitForExit(double limit) {
    for (int status; now() - started < limit; usleep(20000))
      if (waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
        return status;
      }
    return -1;
  }

  // The program ends with status 0 within 5 s of `sent`, well before its time.
  void expectEndsAtOnce(double sent) {
    int status = waitForExit(sent - started + 5.0);
    ASSERT_NE(status, -1) << "still running 5 s later";
    EXPECT_LT(now() - started, 13.0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  }
};

TEST_F(IntroRun, EndsByItselfAfterFourteenSecondsWhateverTheMouseDoes) {
  // Motion, all three buttons, another key, and an Escape release alone.
  run("xdotool mousemove 600 300 click 1 click 2 click 3 mousemove 10 10 mousedown 1 "
      "mousemove 900 500 mouseup 1 mousemove_relative 7 3 key a keyup Escape 2>/dev/null");
  int status = waitForExit(30.0); // start-up and the last frame on a loaded machine
  EXPECT_GE(now() - started, 14.0) << "ended early";
  ASSERT_NE(status, -1) << "still running after 30 s";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

TEST_F(IntroRun, EscapeKeyDownEndsItAtOnce) {
  double pressed = now();
  run("xdotool keydown Escape 2>/dev/null");
  expectEndsAtOnce(pressed);
}

TEST_F(IntroRun, CloseRequestFromTheWindowSystemEndsIt) {
  Display *display = XOpenDisplay(nullptr);
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
  expectEndsAtOnce(requested);
  XCloseDisplay(display);
}

} // namespace
