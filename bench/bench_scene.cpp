// Scene reading speed beside the peers, in one run: one smooth UV sphere as a modelling tool
// exports it (Z up turned to Y up, vertices split where the texture seam and the poles need it,
// normals, texture coordinates, one material), at 100,000 and 1,000,000 triangles, as .glb
// (16-bit indices below 65,536 vertices, 32-bit above) and as OBJ (quads, triangle fans at the
// poles, shared vn). The engine's one loading call to drawable records (world-space triangles,
// normals, materials; no textures asked for), and its indexed form (shared vertices),
// against assimp's reading step (nothing
// post-processed), tinygltf's binary load (JSON parsed, buffers copied, nothing converted) and
// tinyobjloader's parse (triangulated, its default). Each benchmark also gives its loader's peak
// memory for one load of the file, measured in a process of its own (bench_peak.h).
#include "bench_peak.h"
#include "kro.h"

#include <assimp/Importer.hpp>
#include <assimp/scene.h>
#include <benchmark/benchmark.h>
#include <tiny_gltf.h>
#include <tiny_obj_loader.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

namespace {

// segments x rings: 2 * segments * (rings - 1) triangles.
struct Sphere {
  int segments, rings;
};

Sphere sphereOf(int triangles) {
  return triangles >= 1000000 ? Sphere{1000, 501} : Sphere{400, 126};
}

// The point of ring r (0 at the top pole) and segment s, Z up turned to Y up as (x, z, -y).
void spherePoint(const Sphere &sphere, int r, double s, float *point) {
  double theta = M_PI * r / sphere.rings, phi = 2 * M_PI * s / sphere.segments;
  double x = sin(theta) * cos(phi), y = sin(theta) * sin(phi), z = cos(theta);
  point[0] = (float)x;
  point[1] = (float)z;
  point[2] = (float)-y;
}

// The split vertices: `segments` at each pole (one a fan triangle, its u in the middle) and
// segments + 1 on each inner ring (the seam twice); their number before ring r's first.
int splitVertexBefore(const Sphere &sphere, int r) {
  return r == 0 ? 0 : sphere.segments + (r - 1) * (sphere.segments + 1);
}

// Every file of the run in one folder, removed at exit.
std::string runFile(const std::string &name) {
  static std::string folder;
  static std::vector<std::string> made;
  if (folder.empty()) {
    char pattern[] = "/tmp/kro-bench-scene-XXXXXX";
    if (!mkdtemp(pattern))
      abort();
    folder = pattern;
    atexit([] {
      for (const std::string &path : made)
        remove(path.c_str());
      rmdir(folder.c_str());
    });
  }
  made.push_back(folder + "/" + name);
  return made.back();
}

template <typename T> void append(std::vector<uint8_t> *bytes, const T &value) {
  const uint8_t *p = (const uint8_t *)&value;
  bytes->insert(bytes->end(), p, p + sizeof value);
}

// The triangles over the split vertices, counter-clockwise seen from outside.
std::vector<uint32_t> sphereTriangles(const Sphere &sphere) {
  std::vector<uint32_t> corners;
  const int n = sphere.segments, last = sphere.rings - 1;
  for (int s = 0; s < n; s++) {
    uint32_t ring = splitVertexBefore(sphere, 1) + s;
    corners.insert(corners.end(), {(uint32_t)s, ring, ring + 1});
    for (int r = 1; r < last; r++) {
      uint32_t a = splitVertexBefore(sphere, r) + s, b = splitVertexBefore(sphere, r + 1) + s;
      corners.insert(corners.end(), {a, b, b + 1, a, b + 1, a + 1});
    }
    uint32_t above = splitVertexBefore(sphere, last) + s;
    corners.insert(corners.end(),
                   {above, (uint32_t)(splitVertexBefore(sphere, last + 1) + s), above + 1});
  }
  return corners;
}

std::string writeGlb(int triangles) {
  const Sphere sphere = sphereOf(triangles);
  const int n = sphere.segments;
  std::vector<float> positions, texcoords;
  for (int r = 0; r <= sphere.rings; r++) {
    bool pole = r == 0 || r == sphere.rings;
    for (int s = 0; s < (pole ? n : n + 1); s++) {
      float point[3];
      double u = pole ? s + 0.5 : s;
      spherePoint(sphere, r, u, point);
      positions.insert(positions.end(), point, point + 3);
      texcoords.insert(texcoords.end(), {(float)(u / n), (float)r / sphere.rings}); // v down
    }
  }
  const std::vector<uint32_t> corners = sphereTriangles(sphere);
  const size_t vertices = positions.size() / 3, index_bytes = vertices > 65535 ? 4 : 2;
  std::vector<uint8_t> bin;
  for (int part = 0; part < 2; part++) // the normals of a unit sphere are its points
    bin.insert(bin.end(), (const uint8_t *)positions.data(),
               (const uint8_t *)(positions.data() + positions.size()));
  bin.insert(bin.end(), (const uint8_t *)texcoords.data(),
             (const uint8_t *)(texcoords.data() + texcoords.size()));
  for (uint32_t corner : corners)
    index_bytes == 4 ? append(&bin, corner) : append(&bin, (uint16_t)corner);
  while (bin.size() % 4)
    bin.push_back(0);
  const size_t v3 = vertices * 12, v2 = vertices * 8;
  char json[2048];
  snprintf(
      json, sizeof json,
      "{\"asset\":{\"generator\":\"bench\",\"version\":\"2.0\"},\"scene\":0,\"scenes\":[{\"name\":"
      "\"Scene\",\"nodes\":[0]}],\"nodes\":[{\"mesh\":0,\"name\":\"Sphere\"}],\"materials\":[{"
      "\"doubleSided\":true,\"name\":\"Material\",\"pbrMetallicRoughness\":{\"baseColorFactor\":["
      "0.8,0.3,0.1,1],\"metallicFactor\":0,\"roughnessFactor\":0.5}}],\"meshes\":[{\"name\":"
      "\"Sphere\",\"primitives\":[{\"attributes\":{\"POSITION\":0,\"NORMAL\":1,\"TEXCOORD_0\":2},"
      "\"indices\":3,\"material\":0}]}],\"accessors\":[{\"bufferView\":0,\"componentType\":5126,"
      "\"count\":%zu,\"max\":[1,1,1],\"min\":[-1,-1,-1],\"type\":\"VEC3\"},{\"bufferView\":1,"
      "\"componentType\":5126,\"count\":%zu,\"type\":\"VEC3\"},{\"bufferView\":2,"
      "\"componentType\":5126,\"count\":%zu,\"type\":\"VEC2\"},{\"bufferView\":3,"
      "\"componentType\":%d,\"count\":%zu,\"type\":\"SCALAR\"}],\"bufferViews\":[{\"buffer\":0,"
      "\"byteLength\":%zu,\"byteOffset\":0},{\"buffer\":0,\"byteLength\":%zu,\"byteOffset\":%zu},{"
      "\"buffer\":0,\"byteLength\":%zu,\"byteOffset\":%zu},{\"buffer\":0,\"byteLength\":%zu,"
      "\"byteOffset\":%zu}],\"buffers\":[{\"byteLength\":%zu}]}",
      vertices, vertices, vertices, index_bytes == 4 ? 5125 : 5123, corners.size(), v3, v3, v3, v2,
      2 * v3, corners.size() * index_bytes, 2 * v3 + v2, bin.size());
  std::string text = json;
  text.resize((text.size() + 3) / 4 * 4, ' ');
  std::vector<uint8_t> file;
  const uint32_t head[5] = {0x46546C67, 2, (uint32_t)(28 + text.size() + bin.size()),
                            (uint32_t)text.size(), 0x4E4F534A};
  for (uint32_t word : head)
    append(&file, word);
  file.insert(file.end(), text.begin(), text.end());
  append(&file, (uint32_t)bin.size());
  append(&file, (uint32_t)0x004E4942);
  file.insert(file.end(), bin.begin(), bin.end());
  std::string path = runFile("sphere" + std::to_string(triangles) + ".glb");
  FILE *out = fopen(path.c_str(), "wb");
  if (!out || fwrite(file.data(), 1, file.size(), out) != file.size() || fclose(out) != 0)
    abort();
  return path;
}

// Positions and normals shared by index (one a point, the poles once), texture coordinates split
// as in the .glb, quads between the rings; six decimals, four for normals.
std::string writeObj(int triangles) {
  const Sphere sphere = sphereOf(triangles);
  const int n = sphere.segments, last = sphere.rings - 1;
  std::string path = runFile("sphere" + std::to_string(triangles) + ".obj");
  FILE *f = fopen(path.c_str(), "w");
  if (!f)
    abort();
  std::string library = "sphere" + std::to_string(triangles) + ".mtl";
  FILE *mtl = fopen(runFile(library).c_str(), "w");
  if (!mtl || fprintf(mtl, "newmtl Material\nNs 250\nKd 0.8 0.3 0.1\nd 1\nillum 2\n") < 0 ||
      fclose(mtl) != 0)
    abort();
  fprintf(f, "# bench\nmtllib %s\no Sphere\n", library.c_str());
  std::vector<float> points;
  for (int r = 0; r <= sphere.rings; r++)
    for (int s = 0; s < (r == 0 || r == sphere.rings ? 1 : n); s++) {
      float point[3];
      spherePoint(sphere, r, s, point);
      points.insert(points.end(), point, point + 3);
      fprintf(f, "v %.6f %.6f %.6f\n", point[0], point[1], point[2]);
    }
  for (int r = 0; r <= sphere.rings; r++) {
    bool pole = r == 0 || r == sphere.rings;
    for (int s = 0; s < (pole ? n : n + 1); s++)
      fprintf(f, "vt %.6f %.6f\n", (pole ? s + 0.5 : s) / n, 1.0 - (double)r / sphere.rings);
  }
  for (size_t i = 0; i < points.size(); i += 3)
    fprintf(f, "vn %.4f %.4f %.4f\n", points[i], points[i + 1], points[i + 2]);
  fprintf(f, "usemtl Material\ns 1\n");
  // 1-based: the point of ring r and segment s, and a split vertex's texture coordinate.
  auto point = [&](int r, int s) {
    return r == 0 ? 1 : r == sphere.rings ? 2 + last * n : 2 + (r - 1) * n + s % n;
  };
  auto coord = [&](int r, int s) { return 1 + splitVertexBefore(sphere, r) + s; };
  for (int s = 0; s < n; s++) {
    fprintf(f, "f %d/%d/%d %d/%d/%d %d/%d/%d\n", point(0, s), coord(0, s), point(0, s), point(1, s),
            coord(1, s), point(1, s), point(1, s + 1), coord(1, s + 1), point(1, s + 1));
    for (int r = 1; r < last; r++)
      fprintf(f, "f %d/%d/%d %d/%d/%d %d/%d/%d %d/%d/%d\n", point(r, s), coord(r, s), point(r, s),
              point(r + 1, s), coord(r + 1, s), point(r + 1, s), point(r + 1, s + 1),
              coord(r + 1, s + 1), point(r + 1, s + 1), point(r, s + 1), coord(r, s + 1),
              point(r, s + 1));
    fprintf(f, "f %d/%d/%d %d/%d/%d %d/%d/%d\n", point(last, s), coord(last, s), point(last, s),
            point(last + 1, s), coord(last + 1, s), point(last + 1, s), point(last, s + 1),
            coord(last, s + 1), point(last, s + 1));
  }
  if (fclose(f) != 0)
    abort();
  return path;
}

// The file of `triangles` triangles in format "glb" or "obj", written once.
const std::string &sceneFile(const std::string &format, int triangles) {
  static std::map<std::string, std::string> files;
  std::string &path = files[format + std::to_string(triangles)];
  if (path.empty())
    path = format == "glb" ? writeGlb(triangles) : writeObj(triangles);
  return path;
}

// One load of the file at path by the named loader, everything it made released; false when it
// refused the file or the name is not a loader's.
bool loadOnce(const std::string &loader, const std::string &path) {
  if (loader == "engine" || loader == "engine-indexed") {
    kroScene scene;
    int meshes = loader == "engine" ? kroLoadScene(&scene, path.c_str(), 0)
                                    : kroLoadSceneIndexed(&scene, path.c_str(), 0);
    bool made = meshes == 1 && scene.meshes[0].triangles > 0;
    kroFreeScene(&scene);
    return made;
  }
  if (loader == "assimp") {
    Assimp::Importer importer;
    const aiScene *scene = importer.ReadFile(path, 0);
    return scene && scene->mNumMeshes == 1;
  }
  if (loader == "tinygltf") {
    tinygltf::TinyGLTF reader;
    tinygltf::Model model;
    std::string error, warning;
    return reader.LoadBinaryFromFile(&model, &error, &warning, path) && model.meshes.size() == 1;
  }
  if (loader == "tinyobjloader") {
    tinyobj::ObjReader reader;
    return reader.ParseFromFile(path) && reader.GetShapes().size() == 1;
  }
  return false;
}

const BenchPeakChild peakChild(loadOnce);

// range(0) triangles of the sphere in `format` by `loader`; counter peak_MB: one load's peak.
void loads(benchmark::State &state, const char *format, const char *loader) {
  const std::string &path = sceneFile(format, (int)state.range(0));
  for (auto _ : state)
    if (!loadOnce(loader, path))
      state.SkipWithError("the loader refused the file");
  static std::map<std::string, double> peaks;
  if (!peaks.count(loader + path))
    peaks[loader + path] = benchPeakMB(loader, path);
  state.counters["peak_MB"] = peaks[loader + path];
}

void BM_GlbEngine(benchmark::State &state) {
  loads(state, "glb", "engine");
}
void BM_GlbEngineIndexed(benchmark::State &state) {
  loads(state, "glb", "engine-indexed");
}
void BM_GlbAssimp(benchmark::State &state) {
  loads(state, "glb", "assimp");
}
void BM_GlbTinygltf(benchmark::State &state) {
  loads(state, "glb", "tinygltf");
}
void BM_ObjEngine(benchmark::State &state) {
  loads(state, "obj", "engine");
}
void BM_ObjEngineIndexed(benchmark::State &state) {
  loads(state, "obj", "engine-indexed");
}
void BM_ObjAssimp(benchmark::State &state) {
  loads(state, "obj", "assimp");
}
void BM_ObjTinyobjloader(benchmark::State &state) {
  loads(state, "obj", "tinyobjloader");
}

} // namespace

// Medians of five runs each: the machine may be busy with other work.
BENCHMARK(BM_GlbEngine)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(BM_GlbEngineIndexed)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5);
BENCHMARK(BM_GlbAssimp)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(BM_GlbTinygltf)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(BM_ObjEngine)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(BM_ObjEngineIndexed)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5);
BENCHMARK(BM_ObjAssimp)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(BM_ObjTinyobjloader)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5);

// Every file is written, and flushed to the disk, before any load is timed; and each repetition
// runs at a random place among all the others' unless the command line says otherwise. A
// loader's time then never follows from what one particular loader left behind (the C
// library's heap, pages the kernel must hand out anew): in a fixed order the same build's
// indexed OBJ median ranged from 66 to 94 ms at 1M triangles by which benchmark ran before it.
int main(int argc, char **argv) {
  for (const char *format : {"glb", "obj"})
    for (int triangles : {100000, 1000000})
      sceneFile(format, triangles);
  sync();
  char interleave[] = "--benchmark_enable_random_interleaving=true";
  std::vector<char *> args(argv, argv + argc);
  args.insert(args.begin() + 1, interleave);
  int count = (int)args.size();
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data()))
    return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
