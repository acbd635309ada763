// ASE import speed: the engine's reader and source generator against the
// assimp importer on the same generated exporter-style file, at two sizes to
// show that the cost grows linearly with the file.
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
  int cells = triangles / 2, width = 100, height = cells / width;
  int vertices = (width + 1) * (height + 1);
  fprintf(f, "*3DSMAX_ASCIIEXPORT\t200\n*COMMENT \"AsciiExport Version  2,00\"\n"
             "*SCENE {\n\t*SCENE_FILENAME \"grid.max\"\n}\n*MATERIAL_LIST {\n"
             "\t*MATERIAL_COUNT 1\n\t*MATERIAL 0 {\n\t\t*MATERIAL_NAME \"Grid\"\n"
             "\t\t*MATERIAL_DIFFUSE 0.5000\t0.5000\t0.5000\n\t}\n}\n");
  fprintf(f, "*GEOMOBJECT {\n\t*NODE_NAME \"Grid\"\n\t*NODE_TM {\n\t\t*NODE_NAME \"Grid\"\n"
             "\t\t*TM_ROW0 1.0000\t0.0000\t0.0000\n\t}\n\t*MESH {\n\t\t*TIMEVALUE 0\n");
  fprintf(f, "\t\t*MESH_NUMVERTEX %d\n\t\t*MESH_NUMFACES %d\n\t\t*MESH_VERTEX_LIST {\n", vertices,
          2 * width * height);
  for (int y = 0, i = 0; y <= height; y++)
    for (int x = 0; x <= width; x++, i++)
      fprintf(f, "\t\t\t*MESH_VERTEX %5d\t%.4f\t%.4f\t%.4f\n", i, x * 0.37f, y * 0.41f,
              0.25f * (float)((x * 7 + y * 13) % 17));
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
  for (int y = 0, t = 0; y < height; y++)
    for (int x = 0; x < width; x++) {
      int a = y * (width + 1) + x, b = a + 1, c = a + width + 1, d = c + 1;
      fprintf(f, "\t\t\t*MESH_TFACE %d\t%d\t%d\t%d\n", t++, a, b, d);
      fprintf(f, "\t\t\t*MESH_TFACE %d\t%d\t%d\t%d\n", t++, b, d, c);
    }
  fprintf(f, "\t\t}\n\t\t*MESH_NORMALS {\n");
  for (int t = 0; t < 2 * width * height; t++) {
    fprintf(f, "\t\t\t*MESH_FACENORMAL %d\t%.4f\t%.4f\t%.4f\n", t, 0.1f, -0.2f, 0.9747f);
    for (int k = 0; k < 3; k++)
      fprintf(f, "\t\t\t\t*MESH_VERTEXNORMAL %d\t%.4f\t%.4f\t%.4f\n", t / 2 + k, -0.0f, 0.1f * k,
              0.995f);
  }
  fprintf(f, "\t\t}\n\t}\n\t*PROP_MOTIONBLUR 0\n\t*MATERIAL_REF 0\n}\n");
  fclose(f);
  made[triangles] = path;
  return path;
}

long fileBytes(const std::string &path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? (long)info.st_size : 0;
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
  state.SetBytesProcessed(state.iterations() * fileBytes(path));
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
  state.SetBytesProcessed(state.iterations() * fileBytes(path));
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
  state.SetBytesProcessed(state.iterations() * fileBytes(path));
}

} // namespace

BENCHMARK(BM_Reader)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Generator)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Assimp)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
