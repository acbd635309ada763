// ASE import speed: the engine's reader and source generator against the
// assimp importer on the same generated exporter-style file, at two sizes to
// show that the cost grows linearly with the file.
#include "bench_grid.h"
#include "kro.h"

#include <assimp/Importer.hpp>
#include <assimp/scene.h>
#include <benchmark/benchmark.h>

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>

namespace {

std::map<int, std::string> &models() {
  static std::map<int, std::string> made;
  return made;
}

// The models are tens of megabytes: none outlives the run.
void removeModels(void) {
  std::string folder;
  for (auto &model : models()) {
    folder = model.second.substr(0, model.second.rfind('/'));
    remove(model.second.c_str());
  }
  if (!folder.empty())
    rmdir(folder.c_str());
}

// Heights of the reader's test grid: a saw-tooth pattern of quarter units.
float ridges(int x, int y) {
  return 0.25f * (float)((x * 7 + y * 13) % 17);
}

// A grid of `triangles` triangles (two per cell) with texture coordinates and
// normals, written the way an exporter writes it. Returns the path.
std::string writeModel(int triangles) {
  std::map<int, std::string> &made = models();
  if (made.count(triangles))
    return made[triangles];
  static std::string folder;
  if (folder.empty()) {
    char pattern[] = "/tmp/kro-bench-ase-XXXXXX";
    folder = mkdtemp(pattern);
    atexit(removeModels);
  }
  std::string path = folder + "/grid" + std::to_string(triangles) + ".ase";
  FILE *f = fopen(path.c_str(), "w");
  fprintf(f, "*3DSMAX_ASCIIEXPORT\t200\n*COMMENT \"AsciiExport Version  2,00\"\n"
             "*SCENE {\n\t*SCENE_FILENAME \"grid.max\"\n}\n*MATERIAL_LIST {\n"
             "\t*MATERIAL_COUNT 1\n\t*MATERIAL 0 {\n\t\t*MATERIAL_NAME \"Grid\"\n"
             "\t\t*MATERIAL_DIFFUSE 0.5000\t0.5000\t0.5000\n\t}\n}\n");
  const int width = 100;
  benchWriteGridObject(f, {"Grid", width, triangles / 2 / width, 0.0f, 0.0f, ridges, 0});
  fclose(f);
  made[triangles] = path;
  return path;
}

void BM_Reader(benchmark::State &state) {
  std::string path = writeModel((int)state.range(0));
  for (auto _ : state) {
    kroObject op = nullptr, nc = nullptr, realn = nullptr, tc = nullptr;
    char name[KRO_ASE_NAME_CHARS + 1];
    int triangles = 0;
    kroLoadMeshxFromASE(&op, &nc, &realn, &tc, 1, path.c_str(), name, &triangles);
    if (triangles != state.range(0))
      state.SkipWithError("the reader refused the model");
    kroDestroyObject(&op, triangles);
    kroDestroyObject(&nc, triangles);
    kroDestroyObject(&realn, triangles);
    kroDestroyObject(&tc, triangles);
  }
  state.SetBytesProcessed(state.iterations() * benchFileBytes(path));
}

void BM_Generator(benchmark::State &state) {
  std::string path = writeModel((int)state.range(0));
  FILE *out = fopen("/dev/null", "w");
  for (auto _ : state) {
    FILE *stream = fopen(path.c_str(), "r");
    if (!kroWriteSrcMeshFromASEfd(stream, "Grid", out))
      state.SkipWithError("the generator refused the model");
    fclose(stream);
  }
  fclose(out);
  state.SetBytesProcessed(state.iterations() * benchFileBytes(path));
}

void BM_Assimp(benchmark::State &state) {
  std::string path = writeModel((int)state.range(0));
  for (auto _ : state) {
    Assimp::Importer importer;
    const aiScene *scene = importer.ReadFile(path, 0);
    if (!scene || scene->mNumMeshes == 0)
      state.SkipWithError(importer.GetErrorString());
    benchmark::DoNotOptimize(scene);
  }
  state.SetBytesProcessed(state.iterations() * benchFileBytes(path));
}

} // namespace

BENCHMARK(BM_Reader)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Generator)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Assimp)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
