// glTF import speed: the engine's reader against the assimp importer on one generated .glb, a
// 225 x 225 vertex grid (100,352 triangles) with normals, texture coordinates and 32-bit
// indices, to the engine's drawable rows (world-space triangles, face normals) and to assimp's
// scene (triangulated, nothing else asked of it).
#include "kro.h"

#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <benchmark/benchmark.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

enum { kSide = 225 };

template <typename T> void append(std::vector<uint8_t> *bytes, const T &value) {
  const uint8_t *p = (const uint8_t *)&value;
  bytes->insert(bytes->end(), p, p + sizeof value);
}

// The grid file, written once per run into its own folder and removed at exit.
const std::string &gridFile() {
  static std::string path;
  if (!path.empty())
    return path;
  static char folder[] = "/tmp/kro-bench-gltf-XXXXXX";
  if (!mkdtemp(folder))
    abort();
  path = std::string(folder) + "/grid.glb";
  atexit([] {
    remove(path.c_str());
    rmdir(folder);
  });
  std::vector<uint8_t> bin;
  for (int part = 0; part < 3; part++)
    for (int y = 0; y < kSide; y++)
      for (int x = 0; x < kSide; x++) {
        float h = 0.25f * sinf(x * 0.1f) * cosf(y * 0.1f);
        const float rows[3][3] = {
            {x * 0.01f, h, y * 0.01f}, {0, 1, 0}, {x / 224.0f, y / 224.0f, 0}};
        for (int k = 0; k < (part == 2 ? 2 : 3); k++)
          append(&bin, rows[part][k]);
      }
  for (uint32_t y = 0; y + 1 < kSide; y++)
    for (uint32_t x = 0; x + 1 < kSide; x++) {
      uint32_t a = y * kSide + x, b = a + 1, c = a + kSide, d = c + 1;
      for (uint32_t i : {a, c, b, b, c, d})
        append(&bin, i);
    }
  const size_t n = kSide * kSide, tri = (kSide - 1) * (kSide - 1) * 6;
  char json[1024];
  snprintf(
      json, sizeof json,
      "{\"asset\":{\"version\":\"2.0\"},\"scene\":0,\"scenes\":[{\"nodes\":[0]}],"
      "\"nodes\":[{\"name\":\"Grid\",\"mesh\":0}],\"meshes\":[{\"primitives\":[{"
      "\"attributes\":{\"POSITION\":0,\"NORMAL\":1,\"TEXCOORD_0\":2},\"indices\":3}]}],"
      "\"accessors\":[{\"bufferView\":0,\"componentType\":5126,\"count\":%zu,\"type\":\"VEC3\","
      "\"min\":[0,-1,0],\"max\":[3,1,3]},{\"bufferView\":1,\"componentType\":5126,\"count\":%zu,"
      "\"type\":\"VEC3\"},{\"bufferView\":2,\"componentType\":5126,\"count\":%zu,\"type\":"
      "\"VEC2\"},{\"bufferView\":3,\"componentType\":5125,\"count\":%zu,\"type\":\"SCALAR\"}],"
      "\"bufferViews\":[{\"buffer\":0,\"byteLength\":%zu},{\"buffer\":0,\"byteOffset\":%zu,"
      "\"byteLength\":%zu},{\"buffer\":0,\"byteOffset\":%zu,\"byteLength\":%zu},{\"buffer\":0,"
      "\"byteOffset\":%zu,\"byteLength\":%zu}],\"buffers\":[{\"byteLength\":%zu}]}",
      n, n, n, tri, n * 12, n * 12, n * 12, n * 24, n * 8, n * 32, tri * 4, bin.size());
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
  FILE *out = fopen(path.c_str(), "wb");
  if (!out || fwrite(file.data(), 1, file.size(), out) != file.size() || fclose(out) != 0)
    abort();
  return path;
}

void BM_GltfGridToEngineRows(benchmark::State &state) {
  const char *path = gridFile().c_str();
  int triangles = 0;
  for (auto _ : state) {
    kroMesh *meshes = nullptr;
    if (kroLoadMeshArrayFromGLTF(&meshes, path) != 1)
      abort();
    triangles = meshes[0].triangles;
    kroFreeMeshArray(&meshes, 1);
  }
  state.counters["triangles"] = triangles;
}
BENCHMARK(BM_GltfGridToEngineRows)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_GltfGridAssimp(benchmark::State &state) {
  const char *path = gridFile().c_str();
  for (auto _ : state) {
    Assimp::Importer importer;
    const aiScene *scene = importer.ReadFile(path, aiProcess_Triangulate);
    if (!scene || scene->mNumMeshes != 1)
      abort();
    benchmark::DoNotOptimize(scene->mMeshes[0]->mNumFaces);
  }
}
BENCHMARK(BM_GltfGridAssimp)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
