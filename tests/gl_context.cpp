#include "gl_context.h"

#include <SDL/SDL.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

int kroTestHookCalls = 0;

void kroTestCountingHook(void) {
  kroTestHookCalls++;
}

void kroTestUseCountingHook(void) {
  kroTestHookCalls = 0;
  kroSetErrorFunc(kroTestCountingHook);
}

// An X server that resets when its last client leaves refuses connections
// for a moment (EAGAIN); a few retries ride that out.
static bool kroTestTryOpenGL(int width, int height) {
  if (SDL_Init(SDL_INIT_VIDEO) != 0) {
    fprintf(stderr, "kroTestOpenGL: %s\n", SDL_GetError());
    return false;
  }
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
  if (!SDL_SetVideoMode(width, height, 32, SDL_OPENGL)) {
    fprintf(stderr, "kroTestOpenGL: %s\n", SDL_GetError());
    SDL_Quit();
    return false;
  }
  return true;
}

bool kroTestOpenGL(int width, int height) {
  static bool opened = false;
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  for (int attempt = 0; !opened && attempt < 50; attempt++) {
    opened = kroTestTryOpenGL(width, height);
    if (!opened)
      usleep(100 * 1000);
  }
  return opened;
}

std::string kroTestTempPath(const std::string &name) {
  static std::string folder;
  if (folder.empty()) {
    char pattern[] = "/tmp/kro-test-XXXXXX";
    folder = mkdtemp(pattern);
  }
  return folder + "/" + name;
}

void kroTestWriteFile(const std::string &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

std::string kroTestReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    ADD_FAILURE() << "cannot read test file " << path;
    return "";
  }
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

bool kroTestFileExists(const std::string &path) {
  return access(path.c_str(), F_OK) == 0;
}
