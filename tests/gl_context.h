// Shared test support: a real GL context (SDL 1.2 window, Mesa under Xvfb),
// a recording error hook, small file helpers, commands run as a user runs them
// and PNG pictures read back. Brings in the engine's headers, gtest, <string>,
// <vector> and <functional> for the tests.
#ifndef KRO_TEST_GL_CONTEXT_H
#define KRO_TEST_GL_CONTEXT_H

#include "kro.h"
#include "kro_internal.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

// Opens an SDL OpenGL window of the given size once per process and keeps it.
// Returns false when no context can be had (the test should then fail).
bool kroTestOpenGL(int width = 64, int height = 64);

// Installs an error hook that counts its calls in kroTestHookCalls, from 0.
extern int kroTestHookCalls;
void kroTestUseCountingHook(void);

// Base fixture for tests of failure paths: the counting hook installed and
// no allocation set to fail, before and after each test.
struct kroTestFailureFixture : ::testing::Test {
  void SetUp() override {
    kroFailAllocationAfter(0);
    kroTestUseCountingHook();
  }
  void TearDown() override {
    kroFailAllocationAfter(0);
    kroSetErrorFunc(nullptr);
  }
};

// The failure fixture on a real GL context.
struct kroTestGLFailureFixture : kroTestFailureFixture {
  void SetUp() override {
    ASSERT_TRUE(kroTestOpenGL());
    kroTestFailureFixture::SetUp();
  }
};

// Runs `call` with allocation `fail` failing (0: none): it must print `message`
// and call the error hook once.
void kroTestExpectReport(const std::function<void()> &call, const std::string &message,
                         long fail = 0);

// The vertices of the triangles `draw` sends, in order, as GL feedback of
// `type` (GL_2D, GL_3D_COLOR or GL_3D_COLOR_TEXTURE) gives them: on a 64 x 64
// viewport with identity matrices a vertex at x lands at window x = 32 (1 + x).
std::vector<std::vector<float>> kroTestFeedback(GLenum type, const std::function<void()> &draw);

// What `call` printed on standard output.
template <typename F> std::string kroTestCaptured(F call) {
  testing::internal::CaptureStdout();
  call();
  return testing::internal::GetCapturedStdout();
}

// A fresh path in the per-process temporary folder.
std::string kroTestTempPath(const std::string &name);
void kroTestWriteFile(const std::string &path, const std::string &bytes);
// The whole file; a file that cannot be read is a test failure naming it, and "".
std::string kroTestReadFile(const std::string &path);
bool kroTestFileExists(const std::string &path);
// A fresh folder in the per-process temporary folder; a failure when it cannot be made.
std::string kroTestTempFolder(const std::string &name);
bool kroTestHas(const std::string &text, const std::string &part);

// A shell command's exit status (-1 when it did not exit) and what it printed.
struct kroTestOutcome {
  int status = -1;
  std::string out, err;
};
kroTestOutcome kroTestRun(const std::string &command);

// Runs `call` in a child process in which no file may grow past `file_bytes`: a write beyond
// fails with EFBIG (SIGXFSZ is ignored). Returns what the call returned; a child that does not
// end normally is a test failure, and "". Checks belong in the parent: the child's are lost.
std::string kroTestWithFileLimit(long file_bytes, const std::function<std::string()> &call);

// Shell words to put before a kroTestRun command so that it runs with no file growing past
// `bytes` (a multiple of 512): a longer write fails with EFBIG (SIGXFSZ is ignored). What the
// command prints goes to files too: it must stay shorter.
std::string kroTestFileLimit(long bytes);

// The names in a folder, sorted, hidden ones included, one a line.
std::string kroTestListing(const std::string &folder);
// What a symbolic link holds, or "(not a link)".
std::string kroTestLinkText(const std::string &path);

// A mesh loader as `krotool mesh-src` writes it.
typedef void kroTestLoader(kroObject *, kroObject *, kroObject *, kroObject *, char *, int *);

// Compiles `source`, saved as the temporary file `name`, with `compiler`, warnings as errors,
// the engine's headers and `options`.
kroTestOutcome kroTestCompile(const std::string &compiler, const std::string &name,
                              const std::string &source, const std::string &options);

// One geometry object of an ASE file or a loader, rows of 9 (op, nc), 3 (realn) and 6 (tc)
// floats, released with the holder; -1, -1 and "untouched" until a reader sets them (a loader
// of an unnamed object leaves its name empty).
struct kroTestMesh {
  kroObject op = nullptr, nc = nullptr, realn = nullptr, tc = nullptr;
  int triangles = -1, material = -1;
  char name[KRO_ASE_NAME_CHARS + 1] = "untouched";
  kroTestMesh() = default;
  kroTestMesh(const std::string &path, int number) { load(path, number); }
  explicit kroTestMesh(kroTestLoader *loader) : name() {
    loader(&op, &nc, &realn, &tc, name, &triangles);
  }
  kroTestMesh(const kroTestMesh &) = delete;
  ~kroTestMesh() {
    for (kroObject *array : {&op, &nc, &realn, &tc})
      kroDestroyObject(array, triangles > 0 ? triangles : 0);
  }
  void load(const std::string &path, int number) {
    material = kroLoadMeshxFromASE(&op, &nc, &realn, &tc, number, path.c_str(), name, &triangles);
  }
  void next(FILE *stream) {
    material = kroLoadMeshFromASEfd(&op, &nc, &realn, &tc, stream, name, &triangles);
  }
  void loadScene(const std::string &path, int number) { // mesh `number` of kroLoadScene's
    kroScene scene;
    if (kroLoadScene(&scene, path.c_str(), 0) >= number) {
      kroMesh &m = scene.meshes[number - 1];
      std::swap(op, m.op), std::swap(nc, m.nc), std::swap(realn, m.realn), std::swap(tc, m.tc);
      std::swap(triangles, m.triangles), material = m.material_ref;
      memcpy(name, m.node_name, sizeof name);
    }
    kroFreeScene(&scene);
  }
  const float *corner(int c) const { return &op[c / 3][3 * (c % 3)]; }
  const float *normal(int c) const { return &nc[c / 3][3 * (c % 3)]; }
};

// A picture (PNG) decoded to 8-bit RGB, rows top first; width 0 when it cannot be read.
struct kroTestPng {
  int width = 0, height = 0;
  std::vector<unsigned char> rgb;
  explicit kroTestPng(const std::string &path);
  const unsigned char *at(int x, int y) const { return &rgb[((size_t)y * width + x) * 3]; }
};

// Pixels of two RGB pictures of one size that differ by more than `tolerance` in a channel;
// every pixel when the sizes differ.
int kroTestDifferingPixels(const std::vector<unsigned char> &a, const std::vector<unsigned char> &b,
                           int tolerance);

// The lock file through which the window tests on this X display take turns (keys and pointer
// moves go to whatever window stands under them); tests on other displays do not wait for them.
std::string kroTestWindowTurnLock(void);

// The ids of the windows titled exactly `title` (decimal, as xdotool takes them), waiting up to
// `seconds` for one; empty when none came.
std::vector<std::string> kroTestFindWindows(const std::string &title, int seconds);

// A fresh folder holding a copy of the engine's shader folders, ish and psh.
std::string kroTestShaderCopy(const std::string &name);

#endif
