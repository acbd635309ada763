// Loading a shader stage from a file: the cost must grow linearly with the
// file's size (bytes per second stays flat from 64 KiB to 1 MiB).
#include "kro.h"

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <string>

static std::string writeShaderFile(size_t bytes) {
  std::string path = "/tmp/kro-bench-shader-" + std::to_string(bytes) + ".vert";
  FILE *file = fopen(path.c_str(), "w");
  const char line[] = "\tgl_Position = gl_ModelViewProjectionMatrix * gl_Vertex;\r\n";
  for (size_t written = 0; written < bytes; written += sizeof line - 1)
    fwrite(line, 1, sizeof line - 1, file);
  fclose(file);
  return path;
}

static void BM_LoadShaderFile(benchmark::State &state) {
  std::string path = writeShaderFile((size_t)state.range(0));
  int length = 0;
  for (auto _ : state) {
    kroShader shader = {};
    kroLoadVertexShaderFromFile(&shader, path.c_str(), "#define CANVAS_RESX 1200\n");
    length = shader.vertex_length;
    benchmark::DoNotOptimize(shader.vertex_source);
    free(shader.vertex_source);
  }
  state.SetBytesProcessed((int64_t)state.iterations() * length);
  remove(path.c_str());
}
BENCHMARK(BM_LoadShaderFile)
    ->Arg(64 << 10)
    ->Arg(256 << 10)
    ->Arg(1 << 20)
    ->Unit(benchmark::kMicrosecond);
