#include "gl_context.h"

#include <SDL/SDL.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <stb/stb_image.h>

int kroTestHookCalls = 0;

void kroTestUseCountingHook(void) {
  kroTestHookCalls = 0;
  kroSetErrorFunc([] { kroTestHookCalls++; });
}

// An X server that resets when its last client leaves refuses connections
// for a moment (EAGAIN); a few retries ride that out.
bool kroTestOpenGL(int width, int height) {
  static bool opened = false;
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  for (int attempt = 0; !opened && attempt < 50; attempt++) {
    bool video = SDL_Init(SDL_INIT_VIDEO) == 0;
    if (video) {
      SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
      SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
    }
    if (!(opened = video && SDL_SetVideoMode(width, height, 32, SDL_OPENGL))) {
      fprintf(stderr, "kroTestOpenGL: %s\n", SDL_GetError());
      SDL_Quit();
      usleep(100 * 1000);
    }
  }
  return opened;
}

void kroTestExpectReport(const std::function<void()> &call, const std::string &message, long fail) {
  int calls = kroTestHookCalls;
  kroFailAllocationAfter(fail);
  EXPECT_EQ(kroTestCaptured(call), message);
  EXPECT_EQ(kroTestHookCalls, calls + 1) << message;
  kroFailAllocationAfter(0);
}

std::string kroTestTempPath(const std::string &name) {
  static char pattern[] = "/tmp/kro-test-XXXXXX";
  static const std::string folder = mkdtemp(pattern);
  return folder + "/" + name;
}

void kroTestWriteFile(const std::string &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

std::string kroTestReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    ADD_FAILURE() << "cannot read test file " << path;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool kroTestFileExists(const std::string &path) {
  return access(path.c_str(), F_OK) == 0;
}

std::string kroTestTempFolder(const std::string &name) {
  std::string path = kroTestTempPath(name);
  EXPECT_EQ(mkdir(path.c_str(), 0777), 0) << "cannot make test folder " << path;
  return path;
}

bool kroTestHas(const std::string &text, const std::string &part) {
  return text.find(part) != std::string::npos;
}

kroTestOutcome kroTestRun(const std::string &command) {
  std::string out = kroTestTempPath("run.out"), err = kroTestTempPath("run.err");
  int status = system((command + " >" + out + " 2>" + err).c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, kroTestReadFile(out), kroTestReadFile(err)};
}

std::string kroTestWithFileLimit(long file_bytes, const std::function<std::string()> &call) {
  int channel[2] = {-1, -1};
  fflush(stdout);
  pid_t child = pipe(channel) == 0 ? fork() : -1;
  if (child == 0) {
    close(channel[0]);
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {(rlim_t)file_bytes, (rlim_t)file_bytes};
    std::string result = setrlimit(RLIMIT_FSIZE, &limit) == 0 ? call() : "setrlimit failed";
    bool sent = write(channel[1], result.data(), result.size()) == (ssize_t)result.size();
    _exit(sent ? 0 : 1); // no exit handlers: they belong to the parent
  }
  close(channel[1]);
  std::string result;
  char buffer[4096];
  for (ssize_t got; child > 0 && (got = read(channel[0], buffer, sizeof buffer)) > 0;)
    result.append(buffer, (size_t)got);
  close(channel[0]);
  int status = -1;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    ADD_FAILURE() << "the child with a file size limit did not end normally: " << status;
    return "";
  }
  return result;
}

std::string kroTestFileLimit(long bytes) {
  return "trap '' XFSZ; ulimit -f " + std::to_string(bytes / 512) + "; "; // 512-byte blocks
}

std::string kroTestListing(const std::string &folder) {
  std::set<std::string> names;
  std::error_code missing; // an empty listing
  for (const auto &entry : std::filesystem::directory_iterator(folder, missing))
    names.insert(entry.path().filename());
  std::string text;
  for (const std::string &name : names)
    text += name + "\n";
  return text;
}

std::string kroTestLinkText(const std::string &path) {
  char text[4096];
  ssize_t length = readlink(path.c_str(), text, sizeof text);
  return length < 0 ? "(not a link)" : std::string(text, (size_t)length);
}

kroTestOutcome kroTestCompile(const std::string &compiler, const std::string &name,
                              const std::string &source, const std::string &options) {
  std::string path = kroTestTempPath(name);
  kroTestWriteFile(path, source);
  return kroTestRun(compiler + " -Wall -Wextra -Werror -I" KRO_SOURCE_DIR "/kro " + options + " " +
                    path);
}

std::string kroTestShaderCopy(const std::string &name) {
  std::string folder = kroTestTempFolder(name);
  EXPECT_EQ(
      kroTestRun("cp -r " KRO_SOURCE_DIR "/sh/ish " KRO_SOURCE_DIR "/sh/psh " + folder).status, 0);
  return folder;
}

kroTestPng::kroTestPng(const std::string &path) {
  int channels = 0;
  unsigned char *read = stbi_load(path.c_str(), &width, &height, &channels, 3);
  rgb.assign(read, read ? read + (size_t)width * height * 3 : read);
  width = read ? width : 0;
  stbi_image_free(read);
}

int kroTestDifferingPixels(const std::vector<unsigned char> &a, const std::vector<unsigned char> &b,
                           int tolerance) {
  if (a.size() != b.size())
    return (int)(std::max(a.size(), b.size()) / 3);
  int differing = 0;
  for (size_t i = 0; i + 2 < a.size(); i += 3)
    differing += abs(a[i] - b[i]) > tolerance || abs(a[i + 1] - b[i + 1]) > tolerance ||
                 abs(a[i + 2] - b[i + 2]) > tolerance;
  return differing;
}

std::vector<std::vector<float>> kroTestFeedback(GLenum type, const std::function<void()> &draw) {
  static GLfloat buffer[8192];
  const int values = type == GL_2D ? 2 : type == GL_3D_COLOR ? 7 : 11;
  glViewport(0, 0, 64, 64);
  for (GLenum mode : {GL_PROJECTION, GL_MODELVIEW}) {
    glMatrixMode(mode);
    glLoadIdentity();
  }
  glDisable(GL_CULL_FACE);
  glFeedbackBuffer(8192, type, buffer);
  glRenderMode(GL_FEEDBACK);
  draw();
  GLint used = glRenderMode(GL_RENDER);
  std::vector<std::vector<float>> vertices;
  for (GLint i = 0; i < used; i += 2 + 3 * values) {
    EXPECT_TRUE(buffer[i] == GL_POLYGON_TOKEN && buffer[i + 1] == 3) << "not a triangle at " << i;
    for (const GLfloat *p = &buffer[i + 2]; p < &buffer[i + 2 + 3 * values]; p += values)
      vertices.emplace_back(p, p + values);
  }
  return vertices;
}

std::string kroTestWindowTurnLock(void) {
  std::string display = getenv("DISPLAY") ? getenv("DISPLAY") : "";
  std::replace(display.begin(), display.end(), '/', '_');
  return "/tmp/kro-window-turn" + display + ".lock";
}

std::vector<std::string> kroTestFindWindows(const std::string &title, int seconds) {
  // xdotool's search ends with an X error when another client's window goes away under it, as
  // windows of other tests do, so it is asked again until the time is up.
  std::istringstream ids(kroTestRun("for i in $(seq " + std::to_string(seconds * 10) +
                                    "); do ids=$(xdotool search " + "--name '^" + title +
                                    "$' 2>/dev/null) && [ -n \"$ids\" ] && echo \"$ids\" && " +
                                    "exit 0; sleep 0.1; done")
                             .out);
  std::vector<std::string> found;
  for (std::string id; ids >> id;)
    found.push_back(id);
  return found;
}
