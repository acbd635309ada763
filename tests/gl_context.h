// Shared test support: a real GL context (SDL 1.2 window, Mesa under Xvfb),
// a recording error hook, and small file helpers.
#ifndef KRO_TEST_GL_CONTEXT_H
#define KRO_TEST_GL_CONTEXT_H

#include "kro.h"
#include "kro_internal.h"

#include <gtest/gtest.h>

#include <string>

// Opens an SDL OpenGL window of the given size once per process and keeps it.
// Returns false when no context can be had (the test should then fail).
bool kroTestOpenGL(int width = 64, int height = 64);

// The error hook used by the tests: counts its calls and returns.
extern int kroTestHookCalls;
void kroTestCountingHook(void);
// Installs the counting hook and resets the count.
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

// A fresh path in the per-process temporary folder.
std::string kroTestTempPath(const std::string &name);
void kroTestWriteFile(const std::string &path, const std::string &bytes);
// The whole file; a file that cannot be read is a test failure naming it, and "".
std::string kroTestReadFile(const std::string &path);
bool kroTestFileExists(const std::string &path);

#endif
