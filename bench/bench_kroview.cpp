// kroview on a large export: opening it (reading every object on one stream, materials, the move
// into view units, and building the display lists) and the frame rate while orbiting it at
// 1200 x 600 on the software rasteriser. The model is an exporter-style file of 100,000 triangles
// in four objects (rolling surfaces side by side), about 40 MB, written into a temporary folder
// and removed at exit.
//
// Run under a display (tools/with-display).
#include "bench_grid.h"
#include "kroview.h"

#include <SDL/SDL.h>
#include <benchmark/benchmark.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string readText(const std::string &path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

const int kWidth = 1200, kHeight = 600;
const int kObjects = 4, kTriangles = 100000; // in all
const int kGridWidth = 100;                  // cells along x in each object
const float kOrbitDegrees = 2.0f;            // yaw step per frame

std::string &modelPath() {
  static std::string path;
  return path;
}

void removeModel(void) {
  std::string &path = modelPath();
  remove(path.c_str());
  rmdir(path.substr(0, path.rfind('/')).c_str());
}

// Rolling surface heights.
float rolling(int x, int y) {
  return 2.0f * sinf(0.11f * (float)x) * cosf(0.07f * (float)y);
}

// An exporter-style file of `triangles` triangles in kObjects objects. With a `map`, every object
// takes material 0, which maps that picture.
bool writeModel(const std::string &path, int triangles, const char *map = nullptr) {
  FILE *f = fopen(path.c_str(), "w");
  if (!f)
    return false;
  fprintf(f,
          "*3DSMAX_ASCIIEXPORT\t200\n*SCENE {\n\t*SCENE_FILENAME \"large.max\"\n}\n"
          "*MATERIAL_LIST {\n\t*MATERIAL_COUNT %d\n",
          kObjects);
  for (int m = 0; m < kObjects; m++) {
    fprintf(f,
            "\t*MATERIAL %d {\n\t\t*MATERIAL_NAME \"M%d\"\n\t\t*MATERIAL_DIFFUSE %.4f\t0.5000\t"
            "%.4f\n",
            m, m, 0.2f * m, 1.0f - 0.2f * m);
    if (map && m == 0)
      fprintf(f,
              "\t\t*MAP_DIFFUSE {\n\t\t\t*MAP_CLASS \"Bitmap\"\n\t\t\t*BITMAP \"C:\\maps\\%s\"\n"
              "\t\t\t*UVW_U_TILING 2.0000\n\t\t}\n",
              map);
    fprintf(f, "\t}\n");
  }
  fprintf(f, "}\n");
  for (int i = 0; i < kObjects; i++) {
    std::string name = "Grid" + std::to_string(i);
    benchWriteGridObject(f, {name.c_str(), kGridWidth, triangles / kObjects / 2 / kGridWidth,
                             40.0f * (i % 2), 45.0f * (i / 2), rolling, map ? 0 : i});
  }
  return fclose(f) == 0;
}

const std::string &model() {
  std::string &path = modelPath();
  if (!path.empty())
    return path;
  char pattern[] = "/tmp/kro-bench-kroview-XXXXXX";
  if (!mkdtemp(pattern))
    return path;
  path = std::string(pattern) + "/large.ase";
  atexit(removeModel);
  writeModel(path, kTriangles);
  return path;
}

bool openEngine() {
  static int opened = -1;
  if (opened >= 0)
    return opened;
  opened = 0;
  if (SDL_Init(SDL_INIT_VIDEO) != 0)
    return false;
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
  if (!SDL_SetVideoMode(kWidth, kHeight, 32, SDL_OPENGL))
    return false;
  kroSetShaderFolder(KRO_SOURCE_SHADERS);
  kroInit(kWidth, kHeight);
  opened = 1;
  return true;
}

// Opens `path` as the viewer does before its first frame, once an iteration; `wrong` names what
// is wrong with a scene that loaded, or gives nullptr. False when it could not start.
template <typename F>
bool benchOpenScene(benchmark::State &state, const std::string &path, F wrong) {
  if (path.empty() || !openEngine()) {
    state.SkipWithError("no model or no GL context");
    return false;
  }
  char why[256];
  for (auto _ : state) {
    kvScene scene;
    if (kvLoadScene(&scene, path.c_str(), why, sizeof why) != 0) {
      state.SkipWithError(why);
      break;
    }
    kvBuildSceneLists(&scene);
    glFinish();
    const char *problem = wrong(scene);
    kvFreeScene(&scene);
    if (problem) {
      state.SkipWithError(problem);
      break;
    }
  }
  return true;
}

// What the viewer does before its first frame.
void BM_OpenModel(benchmark::State &state) {
  const std::string &path = model();
  if (!benchOpenScene(state, path, [](const kvScene &scene) {
        return scene.triangles != kTriangles ? "not the model's triangles" : nullptr;
      }))
    return;
  state.SetBytesProcessed(state.iterations() * benchFileBytes(path));
  state.counters["MB"] = (double)benchFileBytes(path) / 1e6;
}

// The material list of the 40 MB file: the reader that reads the whole file (and checks it to
// its end) beside the one that stops at the end of the list, as kroview now opens.
void BM_ReadMaterials(benchmark::State &state) {
  const std::string &path = model();
  for (auto _ : state) {
    kroMaterial *materials = nullptr;
    int count = state.range(0)
                    ? kroLoadMaterialsWithMapsFromASE(&materials, path.c_str(), nullptr, 0, 0)
                    : kroLoadMaterialsFromASE(&materials, path.c_str());
    if (count != kObjects) {
      state.SkipWithError("the material list was not read");
      break;
    }
    kroFreeMaterials(&materials, count);
  }
  state.SetLabel(state.range(0) ? "list only" : "whole file");
}

// The same 100,000 triangles, all in one material that maps a 4096 x 4096 RGB picture of
// gradients and grain (not flat colour), as a PNG beside the model: the viewer's open with the
// picture decoded, made a mipmapped texture and drawn textured.
const int kMapSide = 4096;

std::string &mapFolder() {
  static std::string folder;
  return folder;
}

void removeMapFolder(void) {
  const std::string &folder = mapFolder();
  for (const char *file : {"/map.png", "/textured.ase"})
    remove((folder + file).c_str());
  rmdir(folder.c_str());
}

std::string texturedModel() {
  static std::string path;
  if (!path.empty())
    return path;
  char pattern[] = "/tmp/kro-bench-kroview-map-XXXXXX";
  if (!mkdtemp(pattern))
    return path;
  std::string &folder = mapFolder();
  folder = pattern;
  atexit(removeMapFolder);
  std::vector<uint8_t> rgb((size_t)kMapSide * kMapSide * 3);
  uint32_t grain = 12345;
  for (int y = 0; y < kMapSide; y++)
    for (int x = 0; x < kMapSide; x++) {
      grain = grain * 1664525u + 1013904223u;
      uint8_t *p = &rgb[((size_t)y * kMapSide + x) * 3];
      int noise = (int)(grain >> 28) - 8;
      p[0] = (uint8_t)std::clamp(x / 16 + noise, 0, 255);
      p[1] = (uint8_t)std::clamp(y / 16 + noise, 0, 255);
      p[2] = (uint8_t)std::clamp(128 + (int)(100 * sinf(x * 0.01f + y * 0.013f)) + noise, 0, 255);
    }
  if (kvWritePNG((folder + "/map.png").c_str(), rgb.data(), kMapSide, kMapSide) == 0 &&
      writeModel(folder + "/textured.ase", kTriangles, "MAP.png"))
    path = folder + "/textured.ase";
  return path;
}

void BM_OpenTexturedModel(benchmark::State &state) {
  std::string path = texturedModel();
  if (!benchOpenScene(state, path, [](const kvScene &scene) {
        return scene.objects[0].textured ? nullptr : "the map was not loaded";
      }))
    return;
  std::string folder = path.substr(0, path.rfind('/'));
  state.counters["MB"] = (double)(benchFileBytes(path) + benchFileBytes(folder + "/map.png")) / 1e6;
}

// Framing the 40 MB scene (every vertex's projection, the distance halved in on): done at start,
// at Home and at a resize.
void BM_FrameCamera(benchmark::State &state) {
  const std::string &path = model();
  static kvScene scene;
  char why[256];
  if (path.empty() || kvLoadScene(&scene, path.c_str(), why, sizeof why) != 0) {
    state.SkipWithError("no model");
    return;
  }
  kvCamera camera;
  kvResetCamera(&camera, kWidth, kHeight);
  for (auto _ : state) {
    kvFrameCamera(&camera, &scene);
    benchmark::DoNotOptimize(camera.fit);
  }
  kvFreeScene(&scene);
}

// One orbit step per frame: scene, overlay, swap.
void orbit(benchmark::State &state, int post) {
  const std::string &path = model();
  if (path.empty() || !openEngine()) {
    state.SkipWithError("no model or no GL context");
    return;
  }
  static kvView view;
  char why[256];
  if (kvLoadScene(&view.scene, path.c_str(), why, sizeof why) != 0) {
    state.SkipWithError(why);
    return;
  }
  kvBuildSceneLists(&view.scene);
  kvResetCamera(&view.camera, kWidth, kHeight);
  view.file_name = "large.ase";
  view.post = post;
  view.hovered = view.chosen = -1;
  for (auto _ : state) {
    view.camera.yaw += kOrbitDegrees;
    kvDrawView(&view, 0);
    SDL_GL_SwapBuffers();
    glFinish();
  }
  state.counters["fps"] =
      benchmark::Counter((double)state.iterations(), benchmark::Counter::kIsRate);
  kvFreeScene(&view.scene);
}

void BM_OrbitFrame(benchmark::State &state) {
  orbit(state, 0);
}

void BM_OrbitFramePost(benchmark::State &state) {
  orbit(state, 1);
}

// The watch's latency: from the moment a 4 MB model is replaced on disk (a new file renamed
// over it, as editors save) or a shader file is rewritten, to the first frame that shows it
// drawn and finished. Manual time: the writing itself is not counted.
const int kWatchedTriangles = 10000; // about 4 MB

struct WatchedFiles {
  std::string folder, model, next, shaders;
  bool ready = false;
  WatchedFiles() {
    char pattern[] = "/tmp/kro-bench-kroview-watch-XXXXXX";
    if (!mkdtemp(pattern))
      return;
    folder = pattern;
    model = folder + "/watched.ase", next = folder + "/next.ase", shaders = folder + "/sh";
    std::string copy = "cp -r " + std::string(KRO_SOURCE_SHADERS) + " " + shaders;
    ready = writeModel(model, kWatchedTriangles) && system(copy.c_str()) == 0;
  }
  ~WatchedFiles() {
    std::string remove = "rm -rf " + folder;
    if (!folder.empty() && system(remove.c_str()) != 0)
      fprintf(stderr, "cannot remove %s\n", folder.c_str());
  }
};

// Polls the watch until it reports `what`, then reloads, draws a frame and finishes it.
double followChange(kvView *view, kvWatch *watch, int what, const std::string &model,
                    double started) {
  int changed = 0;
  while (!(changed & what)) {
    changed |= kvPollWatch(watch, kroNowMs());
    if (!(changed & what))
      usleep(1000);
  }
  int failed = what == KV_CHANGED_MODEL ? kvReloadModel(view, model.c_str(), nullptr)
                                        : kvReloadShaders(view);
  kvDrawView(view, 0);
  SDL_GL_SwapBuffers();
  glFinish();
  return failed ? -1.0 : (double)kroNowMs() / 1000.0 - started;
}

void watched(benchmark::State &state, int what) {
  static WatchedFiles files;
  if (!files.ready || !openEngine()) {
    state.SkipWithError("no files or no GL context");
    return;
  }
  kroSetShaderFolder(files.shaders.c_str());
  static kvView view;
  char why[256];
  if (kvLoadSceneUp(&view.scene, files.model.c_str(), KV_UP_PLUS_Z, why, sizeof why) != 0) {
    state.SkipWithError(why);
    return;
  }
  kvBuildSceneLists(&view.scene);
  kvResetCamera(&view.camera, kWidth, kHeight);
  kvFrameCamera(&view.camera, &view.scene);
  view.file_name = "watched.ase";
  view.hovered = view.chosen = -1;
  static kvWatch watch;
  kvOpenWatch(&watch, files.model.c_str(), files.shaders.c_str(), 0);
  std::string fragment = readText(files.shaders + "/ish/b.frag");
  int round = 0;
  for (auto _ : state) {
    if (what == KV_CHANGED_MODEL) {
      writeModel(files.next, kWatchedTriangles);
      rename(files.next.c_str(), files.model.c_str());
    } else {
      FILE *f = fopen((files.shaders + "/ish/b.frag").c_str(), "w");
      fprintf(f, "%s// %d\n", fragment.c_str(), round++);
      fclose(f);
    }
    double seconds = followChange(&view, &watch, what, files.model, (double)kroNowMs() / 1000.0);
    if (seconds < 0) {
      state.SkipWithError("the reload failed");
      break;
    }
    state.SetIterationTime(seconds);
  }
  state.counters["MB"] = (double)benchFileBytes(files.model) / 1e6;
  kvCloseWatch(&watch);
  kvFreeScene(&view.scene);
  kroSetShaderFolder(KRO_SOURCE_SHADERS);
}

void BM_WatchModelChange(benchmark::State &state) {
  watched(state, KV_CHANGED_MODEL);
}

void BM_WatchShaderChange(benchmark::State &state) {
  watched(state, KV_CHANGED_SHADERS);
}

} // namespace

BENCHMARK(BM_WatchModelChange)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(10);
BENCHMARK(BM_WatchShaderChange)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(10);
BENCHMARK(BM_FrameCamera)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_OpenModel)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ReadMaterials)->Unit(benchmark::kMillisecond)->Arg(0)->Arg(1)->Iterations(3);
BENCHMARK(BM_OpenTexturedModel)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_OrbitFrame)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_OrbitFramePost)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
