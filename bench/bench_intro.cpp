// The intro's cost on the software rasteriser at its real size, 1200 x 600:
// the first call (which builds the whole scene) and the median frame at 3, 8
// and 12 s against an empty frame (clear and swap only).
//
// Run under a display (tools/with-display). Register order matters: the build
// can only be timed on the first call of the process, so it runs first.
#include "ZKintro.h"

#include <SDL/SDL.h>
#include <benchmark/benchmark.h>

#include <stdio.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace {

const int kWidth = 1200, kHeight = 600;
const int kWarmUpFrames = 10;

bool openWindow() {
  static bool opened = false;
  if (opened)
    return true;
  if (SDL_Init(SDL_INIT_VIDEO) != 0) {
    fprintf(stderr, "SDL_Init: %s\n", SDL_GetError());
    return false;
  }
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
  if (!SDL_SetVideoMode(kWidth, kHeight, 32, SDL_OPENGL)) {
    fprintf(stderr, "SDL_SetVideoMode: %s\n", SDL_GetError());
    return false;
  }
  glClearColor(0, 0, 0, 0);
  opened = true;
  return true;
}

double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// One frame as the shell draws it; a negative time draws nothing but the clear.
// glFinish makes the rasteriser's work part of the frame it belongs to.
void frame(double seconds) {
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  if (seconds >= 0.0)
    zkIntro(2.0f, (float)seconds);
  SDL_GL_SwapBuffers();
  glFinish();
}

double median(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

double empty_frame_median = 0.0; // seconds, once measured

// Times every iteration's frame at `seconds`; reports the median in ms.
double timeFrames(benchmark::State &state, double seconds) {
  for (int i = 0; i < kWarmUpFrames; i++)
    frame(seconds);
  std::vector<double> times;
  for (auto _ : state) {
    double start = now();
    frame(seconds);
    double took = now() - start;
    state.SetIterationTime(took);
    times.push_back(took);
  }
  double middle = median(times);
  state.counters["median_ms"] = middle * 1e3;
  return middle;
}

void BM_FirstCallBuild(benchmark::State &state) {
  if (!openWindow()) {
    state.SkipWithError("no OpenGL window");
    return;
  }
  zkIntroState scene;
  zkIntroGetState(&scene);
  if (scene.init) {
    state.SkipWithError("the scene builds only on the first call of a process");
    return;
  }
  double took = 0.0;
  for (auto _ : state) {
    double start = now();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    zkIntro(2.0f, 0.0f);
    glFinish();
    took = now() - start;
    state.SetIterationTime(took);
  }
  state.counters["build_ms"] = took * 1e3;
  state.counters["target_ms"] = 50.0;
}
BENCHMARK(BM_FirstCallBuild)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_EmptyFrame(benchmark::State &state) {
  if (!openWindow()) {
    state.SkipWithError("no OpenGL window");
    return;
  }
  empty_frame_median = timeFrames(state, -1.0);
}
BENCHMARK(BM_EmptyFrame)->Iterations(300)->UseManualTime()->Unit(benchmark::kMillisecond);

// The intro at state.range(0) seconds; x_empty is its median over the empty
// frame's median (target: below 3).
void BM_IntroFrame(benchmark::State &state) {
  if (!openWindow()) {
    state.SkipWithError("no OpenGL window");
    return;
  }
  zkIntroState scene;
  zkIntroGetState(&scene);
  if (scene.destroy) {
    state.SkipWithError("the scene was released");
    return;
  }
  if (empty_frame_median == 0.0) {
    std::vector<double> times;
    for (int i = 0; i < 100; i++) {
      double start = now();
      frame(-1.0);
      times.push_back(now() - start);
    }
    empty_frame_median = median(times);
  }
  double middle = timeFrames(state, (double)state.range(0));
  state.counters["x_empty"] = middle / empty_frame_median;
}
BENCHMARK(BM_IntroFrame)
    ->Arg(3)
    ->Arg(8)
    ->Arg(12)
    ->Iterations(300)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
