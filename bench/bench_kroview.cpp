// kroview on a large export: opening it (reading every object on one stream, materials, the move
// into view units, and building the display lists) and the frame rate while orbiting it at
// 1200 x 600 on the software rasteriser. The model is an exporter-style file of 100,000 triangles
// in four objects (rolling surfaces side by side), about 40 MB, written into a temporary folder
// and removed at exit.
//
// Run under a display (tools/with-display).
#include "kroview.h"

#include <SDL/SDL.h>
#include <benchmark/benchmark.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace {

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

// One grid object of `triangles` triangles, written as an exporter writes it: vertex and face
// lists, texture vertices and faces, face and vertex normals, a material reference.
void writeObject(FILE *f, int index, int triangles) {
  int width = kGridWidth, height = triangles / 2 / width, vertices = (width + 1) * (height + 1);
  float x0 = 40.0f * (index % 2), y0 = 45.0f * (index / 2);
  fprintf(f,
          "*GEOMOBJECT {\n\t*NODE_NAME \"Grid%d\"\n\t*NODE_TM {\n\t\t*NODE_NAME \"Grid%d\"\n"
          "\t}\n\t*MESH {\n\t\t*TIMEVALUE 0\n\t\t*MESH_NUMVERTEX %d\n\t\t*MESH_NUMFACES %d\n"
          "\t\t*MESH_VERTEX_LIST {\n",
          index, index, vertices, 2 * width * height);
  for (int y = 0, i = 0; y <= height; y++)
    for (int x = 0; x <= width; x++, i++)
      fprintf(f, "\t\t\t*MESH_VERTEX %5d\t%.4f\t%.4f\t%.4f\n", i, x0 + x * 0.37f, y0 + y * 0.41f,
              2.0f * sinf(0.11f * (float)x) * cosf(0.07f * (float)y));
  fprintf(f, "\t\t}\n\t\t*MESH_FACE_LIST {\n");
  for (int y = 0, t = 0; y < height; y++)
    for (int x = 0; x < width; x++) {
      int a = y * (width + 1) + x, b = a + 1, c = a + width + 1, d = c + 1;
      for (int k = 0; k < 2; k++, t++)
        fprintf(f,
                "\t\t\t*MESH_FACE %5d:    A: %5d B: %5d C: %5d AB:    1 BC:    1 CA:    0\t "
                "*MESH_SMOOTHING 1 \t*MESH_MTLID 0\n",
                t, k ? b : a, k ? d : b, k ? c : d);
    }
  fprintf(f, "\t\t}\n\t\t*MESH_NUMTVERTEX %d\n\t\t*MESH_TVERTLIST {\n", vertices);
  for (int y = 0, i = 0; y <= height; y++)
    for (int x = 0; x <= width; x++, i++)
      fprintf(f, "\t\t\t*MESH_TVERT %d\t%.4f\t%.4f\t0.0000\n", i, x / (float)width,
              y / (float)height);
  fprintf(f, "\t\t}\n\t\t*MESH_NUMTVFACES %d\n\t\t*MESH_TFACELIST {\n", 2 * width * height);
  for (int t = 0; t < 2 * width * height; t++)
    fprintf(f, "\t\t\t*MESH_TFACE %d\t%d\t%d\t%d\n", t, t / 2, t / 2 + 1, t / 2 + width + 1);
  fprintf(f, "\t\t}\n\t\t*MESH_NORMALS {\n");
  for (int t = 0; t < 2 * width * height; t++) {
    fprintf(f, "\t\t\t*MESH_FACENORMAL %d\t%.4f\t%.4f\t%.4f\n", t, 0.1f, -0.2f, 0.9747f);
    for (int k = 0; k < 3; k++)
      fprintf(f, "\t\t\t\t*MESH_VERTEXNORMAL %d\t%.4f\t%.4f\t%.4f\n", t / 2 + k, -0.0f, 0.1f * k,
              0.995f);
  }
  fprintf(f, "\t\t}\n\t}\n\t*PROP_MOTIONBLUR 0\n\t*MATERIAL_REF %d\n}\n", index);
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
  FILE *f = fopen(path.c_str(), "w");
  fprintf(f,
          "*3DSMAX_ASCIIEXPORT\t200\n*SCENE {\n\t*SCENE_FILENAME \"large.max\"\n}\n"
          "*MATERIAL_LIST {\n\t*MATERIAL_COUNT %d\n",
          kObjects);
  for (int m = 0; m < kObjects; m++)
    fprintf(f,
            "\t*MATERIAL %d {\n\t\t*MATERIAL_NAME \"M%d\"\n\t\t*MATERIAL_DIFFUSE %.4f\t0.5000\t"
            "%.4f\n\t}\n",
            m, m, 0.2f * m, 1.0f - 0.2f * m);
  fprintf(f, "}\n");
  for (int i = 0; i < kObjects; i++)
    writeObject(f, i, kTriangles / kObjects);
  fclose(f);
  return path;
}

long fileBytes(const std::string &path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? (long)info.st_size : 0;
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

// What the viewer does before its first frame.
void BM_OpenModel(benchmark::State &state) {
  const std::string &path = model();
  if (path.empty() || !openEngine()) {
    state.SkipWithError("no model or no GL context");
    return;
  }
  char why[256];
  for (auto _ : state) {
    kvScene scene;
    if (kvLoadScene(&scene, path.c_str(), why, sizeof why) != 0 || scene.triangles != kTriangles) {
      state.SkipWithError(why);
      break;
    }
    kvBuildSceneLists(&scene);
    glFinish();
    kvFreeScene(&scene);
  }
  state.SetBytesProcessed(state.iterations() * fileBytes(path));
  state.counters["MB"] = (double)fileBytes(path) / 1e6;
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

} // namespace

BENCHMARK(BM_OpenModel)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_OrbitFrame)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_OrbitFramePost)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
