// Image throughput beside stb in the same run: box-filter resampling of a
// 2048 x 2048 bitmap down to 512 x 512 and up to 4096 x 4096, and reading and
// writing a 4096 x 4096 24-bit BMP (the engine writes a new file and renames
// it over the old one, stb rewrites the old one in place). Every contender
// allocates its output on every call. Counters give megapixels per second of
// output (resampling) or of the picture read or written.
#include "kro.h"

#include <benchmark/benchmark.h>
#include <stb/stb_image.h>
#include <stb/stb_image_resize.h>
#include <stb/stb_image_write.h>

#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

const std::vector<uint8_t> &source2048() {
  static std::vector<uint8_t> pixels;
  if (pixels.empty()) {
    pixels.resize((size_t)2048 * 2048 * 4);
    uint32_t state = 12345;
    for (auto &byte : pixels) {
      state = state * 1664525u + 1013904223u;
      byte = (uint8_t)(state >> 24);
    }
  }
  return pixels;
}

void setRate(benchmark::State &state, double pixels) {
  state.counters["Mpx/s"] =
      benchmark::Counter(pixels / 1e6 * (double)state.iterations(), benchmark::Counter::kIsRate);
}

void BM_KroResize(benchmark::State &state) {
  const std::vector<uint8_t> &source = source2048();
  int32_t size[2] = {2048, 2048};
  int32_t target[2] = {(int32_t)state.range(0), (int32_t)state.range(0)};
  for (auto _ : state) {
    uint8_t *out = kroResizeBitmap(source.data(), size, target);
    benchmark::DoNotOptimize(out);
    free(out);
  }
  setRate(state, (double)target[0] * target[1]);
}

// stb writes into a buffer it is given; it gets a fresh one on every call, as
// kroResizeBitmap allocates its result, so both pay for new pages alike.
void stbResize(benchmark::State &state, stbir_filter filter) {
  const std::vector<uint8_t> &source = source2048();
  int side = (int)state.range(0);
  for (auto _ : state) {
    uint8_t *out = (uint8_t *)malloc((size_t)side * side * 4);
    stbir_resize_uint8_generic(source.data(), 2048, 2048, 0, out, side, side, 0, 4, -1, 0,
                               STBIR_EDGE_CLAMP, filter, STBIR_COLORSPACE_LINEAR, nullptr);
    benchmark::DoNotOptimize(out);
    free(out);
  }
  setRate(state, (double)side * side);
}

// stb's default filter for each direction (what stbir_resize_uint8 picks).
void BM_StbResize(benchmark::State &state) {
  stbResize(state, STBIR_FILTER_DEFAULT);
}

// stb with a box filter, the closest kind of work to the engine's.
void BM_StbResizeBox(benchmark::State &state) {
  stbResize(state, STBIR_FILTER_BOX);
}

// A 4096 x 4096 engine BMP (rows of 12288 bytes: padded and unpadded agree).
const std::string &bmp4096() {
  static std::string path;
  if (path.empty()) {
    char folder[] = "/tmp/kro-bench-XXXXXX";
    path = std::string(mkdtemp(folder)) + "/4096.bmp";
    std::vector<uint8_t> pixels((size_t)4096 * 4096 * 4);
    for (size_t i = 0; i < pixels.size(); i++)
      pixels[i] = (uint8_t)(i * 2654435761u >> 13);
    int32_t size[2] = {4096, 4096};
    kroExportBMP(path.c_str(), pixels.data(), size);
    atexit([] {
      unlink(path.c_str());
      rmdir(path.substr(0, path.rfind('/')).c_str());
    });
  }
  return path;
}

void BM_KroLoadBMP(benchmark::State &state) {
  const std::string &path = bmp4096();
  for (auto _ : state) {
    int32_t size[2];
    uint8_t *pixels = kroLoadBMP(path.c_str(), size);
    benchmark::DoNotOptimize(pixels);
    free(pixels);
  }
  setRate(state, 4096.0 * 4096);
}

void BM_StbLoadBMP(benchmark::State &state) {
  const std::string &path = bmp4096();
  for (auto _ : state) {
    int width, height, channels;
    uint8_t *pixels = stbi_load(path.c_str(), &width, &height, &channels, 4);
    benchmark::DoNotOptimize(pixels);
    stbi_image_free(pixels);
  }
  setRate(state, 4096.0 * 4096);
}

// The picture bmp4096() holds, in memory, and a file beside it to write to.
const std::vector<uint8_t> &pixels4096() {
  static std::vector<uint8_t> pixels;
  if (pixels.empty()) {
    int32_t size[2];
    uint8_t *read = kroLoadBMP(bmp4096().c_str(), size);
    pixels.assign(read, read + (size_t)4096 * 4096 * 4);
    free(read);
  }
  return pixels;
}

std::string writtenPath() {
  std::string path = bmp4096();
  return path.substr(0, path.rfind('/')) + "/written.bmp";
}

void BM_KroExportBMP(benchmark::State &state) {
  const std::vector<uint8_t> &pixels = pixels4096();
  const std::string path = writtenPath();
  const int32_t size[2] = {4096, 4096};
  for (auto _ : state)
    if (kroExportBMP(path.c_str(), pixels.data(), size) != 0)
      state.SkipWithError("kroExportBMP failed");
  unlink(path.c_str());
  setRate(state, 4096.0 * 4096);
}

void BM_StbWriteBMP(benchmark::State &state) {
  const std::vector<uint8_t> &pixels = pixels4096();
  const std::string path = writtenPath();
  for (auto _ : state)
    if (!stbi_write_bmp(path.c_str(), 4096, 4096, 4, pixels.data()))
      state.SkipWithError("stbi_write_bmp failed");
  unlink(path.c_str());
  setRate(state, 4096.0 * 4096);
}

} // namespace

// Each direction with its three resamplers side by side: down to 512, then up to 4096.
BENCHMARK(BM_KroResize)->Arg(512)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StbResize)->Arg(512)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StbResizeBox)->Arg(512)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_KroResize)->Arg(4096)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StbResize)->Arg(4096)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StbResizeBox)->Arg(4096)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_KroLoadBMP)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StbLoadBMP)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_KroExportBMP)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StbWriteBMP)->Unit(benchmark::kMillisecond)->UseRealTime();
