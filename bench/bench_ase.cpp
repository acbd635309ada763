// ASE import speed: the engine's reader and source generator against the
// assimp importer on the same generated exporter-style file, at two sizes to
// show that the cost grows linearly with the file; and the time g++ -O2 takes
// to compile a generated loader, in the default and in the compact format.
#include "bench_grid.h"
#include "kro.h"

#include <assimp/Importer.hpp>
#include <assimp/scene.h>
#include <benchmark/benchmark.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>

namespace {

// Every file the run writes, by name, in one temporary folder.
std::map<std::string, std::string> &madeFiles() {
  static std::map<std::string, std::string> made;
  return made;
}

// The models are tens of megabytes: none outlives the run.
void removeMadeFiles(void) {
  std::string folder;
  for (auto &made : madeFiles()) {
    folder = made.second.substr(0, made.second.rfind('/'));
    remove(made.second.c_str());
  }
  if (!folder.empty())
    rmdir(folder.c_str());
}

// The path of the run's file `name`, and whether it is yet to be written.
bool newFile(const std::string &name, std::string *path) {
  std::map<std::string, std::string> &made =
      madeFiles(); // made before the exit handler: it outlives it
  static std::string folder;
  if (folder.empty()) {
    char pattern[] = "/tmp/kro-bench-ase-XXXXXX";
    folder = mkdtemp(pattern);
    atexit(removeMadeFiles);
  }
  bool fresh = !made.count(name);
  if (fresh)
    made[name] = folder + "/" + name;
  *path = made[name];
  return fresh;
}

// Heights of the reader's test grid: a saw-tooth pattern of quarter units.
float ridges(int x, int y) {
  return 0.25f * (float)((x * 7 + y * 13) % 17);
}

// A grid of `triangles` triangles (two per cell) with texture coordinates and
// normals (or, faces_only, without), written the way an exporter writes it.
// Returns the path.
std::string writeModel(int triangles, int faces_only = 0) {
  std::string path;
  if (!newFile("grid" + std::to_string(triangles) + (faces_only ? "faces" : "") + ".ase", &path))
    return path;
  FILE *f = fopen(path.c_str(), "w");
  fprintf(f, "*3DSMAX_ASCIIEXPORT\t200\n*COMMENT \"AsciiExport Version  2,00\"\n"
             "*SCENE {\n\t*SCENE_FILENAME \"grid.max\"\n}\n*MATERIAL_LIST {\n"
             "\t*MATERIAL_COUNT 1\n\t*MATERIAL 0 {\n\t\t*MATERIAL_NAME \"Grid\"\n"
             "\t\t*MATERIAL_DIFFUSE 0.5000\t0.5000\t0.5000\n\t}\n}\n");
  const int width = 100;
  benchWriteGridObject(f, {"Grid", width, triangles / 2 / width, 0.0f, 0.0f, ridges, 0},
                       faces_only);
  fclose(f);
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

// The loader source of the model, in the default or the compact format.
void generate(benchmark::State &state, int compact) {
  std::string path = writeModel((int)state.range(0));
  FILE *out = fopen("/dev/null", "w");
  for (auto _ : state) {
    FILE *stream = fopen(path.c_str(), "r");
    if (!(compact ? kroWriteCompactSrcMeshFromASEfd : kroWriteSrcMeshFromASEfd)(stream, "Grid",
                                                                                out))
      state.SkipWithError("the generator refused the model");
    fclose(stream);
  }
  fclose(out);
  state.SetBytesProcessed(state.iterations() * benchFileBytes(path));
}

void BM_Generator(benchmark::State &state) {
  generate(state, 0);
}

void BM_GeneratorCompact(benchmark::State &state) {
  generate(state, 1);
}

// CPU seconds (user and system) that the children of this process have used.
double childSeconds(void) {
  struct rusage usage;
  getrusage(RUSAGE_CHILDREN, &usage);
  return (double)(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         1e-6 * (double)(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

// g++ -O2 compiling the loader of a 10,000-triangle grid of faces alone (as
// krotool mesh-src writes it: the includes, then the function), range(0) 0
// for the default format and 1 for the compact one. The time is the
// compiler's CPU time; counters: the object's bytes and the bytes of floats
// the loader builds (9 a triangle).
void BM_CompileLoader(benchmark::State &state) {
  const int compact = (int)state.range(0), triangles = 10000;
  std::string model = writeModel(triangles, 1), source, object;
  newFile(compact ? "compact.cpp" : "default.cpp", &source);
  newFile(compact ? "compact.o" : "default.o", &object);
  FILE *in = fopen(model.c_str(), "r"), *out = fopen(source.c_str(), "w");
  fputs("#include \"kro.h\"\n#include <string.h>\n\n", out);
  int ok = (compact ? kroWriteCompactSrcMeshFromASEfd : kroWriteSrcMeshFromASEfd)(in, "Grid", out);
  fputs("\n", out);
  fclose(in);
  fclose(out);
  std::string command =
      std::string(KRO_BENCH_CXX) + " -O2 -c -I" KRO_BENCH_INCLUDE " " + source + " -o " + object;
  for (auto _ : state) {
    double before = childSeconds();
    if (!ok || system(command.c_str()) != 0)
      state.SkipWithError("the loader did not compile");
    state.SetIterationTime(childSeconds() - before);
  }
  state.counters["object_bytes"] = (double)benchFileBytes(object);
  state.counters["float_bytes"] = (double)triangles * 9 * sizeof(float);
}

// The peer reading the file at path, as it stands after its own reading step (no post-processing).
void assimpReads(benchmark::State &state, const std::string &path) {
  for (auto _ : state) {
    Assimp::Importer importer;
    const aiScene *scene = importer.ReadFile(path, 0);
    if (!scene || scene->mNumMeshes == 0)
      state.SkipWithError(importer.GetErrorString());
    benchmark::DoNotOptimize(scene);
  }
  state.SetBytesProcessed(state.iterations() * benchFileBytes(path));
}

void BM_Assimp(benchmark::State &state) {
  assimpReads(state, writeModel((int)state.range(0)));
}

} // namespace

// Medians of five runs each: the machine may be busy with other work.
BENCHMARK(BM_Reader)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(BM_Assimp)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(BM_Generator)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(BM_GeneratorCompact)->Arg(10000)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(BM_CompileLoader)
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseManualTime();
