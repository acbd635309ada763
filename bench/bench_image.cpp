// Image throughput beside stb in the same run: box-filter resampling of a
// 2048 x 2048 bitmap down to 512 x 512 and up to 4096 x 4096, and reading and
// writing a 4096 x 4096 24-bit BMP (the engine writes a new file and renames
// it over the old one, stb rewrites the old one in place). Picture decoding
// beside libpng and stb_image: a 4096 x 4096 RGBA and a 2048 x 2048 RGB PNG of
// photo-like content (smooth noise, gradients and grain, written by libpng at
// its default compression and filters), and BMP files of each kind at
// 2048 x 2048, every contender making 8-bit RGBA from the file. Every
// contender allocates its output on every call. Counters give megapixels per
// second of output (resampling) or of the picture read or written.
#include "bench_peak.h"
#include "kro.h"

#include <benchmark/benchmark.h>
#include <png.h>
#include <stb/stb_image.h>
#include <stb/stb_image_resize.h>
#include <stb/stb_image_write.h>

#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <map>
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

// ---- picture decoding ----

// A folder for the generated pictures, removed at exit.
const std::string &pictureFolder() {
  static std::string folder;
  if (folder.empty()) {
    char name[] = "/tmp/kro-bench-pictures-XXXXXX";
    folder = mkdtemp(name);
    atexit([] { (void)system(("rm -rf '" + folder + "'").c_str()); });
  }
  return folder;
}

// Photo-like samples: value noise over four scales, gradients, and a little
// grain, channel by channel; top row first.
std::vector<uint8_t> photo(int width, int height, int channels) {
  std::vector<uint8_t> out((size_t)width * height * channels);
  uint32_t state = 2024;
  auto next = [&state] { return state = state * 1664525u + 1013904223u; };
  const int scales[] = {512, 128, 32, 8};
  std::vector<float> grid[4][4];
  for (int s = 0; s < 4; s++)
    for (int c = 0; c < channels; c++) {
      int cells = (width / scales[s] + 2) * (height / scales[s] + 2);
      grid[s][c].resize(cells);
      for (float &v : grid[s][c])
        v = (float)(next() >> 8) / 16777216.0f;
    }
  for (int y = 0; y < height; y++)
    for (int x = 0; x < width; x++)
      for (int c = 0; c < channels; c++) {
        float v = 0.25f * x / width + 0.2f * y / height, weight = 0.5f;
        for (int s = 0; s < 4; s++, weight *= 0.5f) {
          int stride = width / scales[s] + 2;
          float fx = (float)x / scales[s], fy = (float)y / scales[s];
          int ix = (int)fx, iy = (int)fy;
          float tx = fx - ix, ty = fy - iy;
          tx = tx * tx * (3 - 2 * tx), ty = ty * ty * (3 - 2 * ty);
          const float *g = grid[s][c].data() + iy * stride + ix;
          v += weight * ((g[0] * (1 - tx) + g[1] * tx) * (1 - ty) +
                         (g[stride] * (1 - tx) + g[stride + 1] * tx) * ty);
        }
        int grain = (int)(next() >> 29) - 4; // -4..3
        int value = (int)(v * 160.0f) + grain;
        out[((size_t)y * width + x) * channels + c] = (uint8_t)(value < 0     ? 0
                                                                : value > 255 ? 255
                                                                              : value);
      }
  return out;
}

// A PNG written by libpng with its default compression level and filter choice.
std::string photoPNG(const char *name, int width, int height, int channels) {
  std::string path = pictureFolder() + "/" + name;
  std::vector<uint8_t> samples = photo(width, height, channels);
  FILE *file = fopen(path.c_str(), "wb");
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, file);
  png_set_IHDR(png, info, width, height, 8,
               channels == 4 ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < height; y++)
    png_write_row(png, samples.data() + (size_t)y * width * channels);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  fclose(file);
  return path;
}

const std::string &pngRGBA4096() {
  static std::string path = photoPNG("rgba4096.png", 4096, 4096, 4);
  return path;
}

const std::string &pngRGB2048() {
  static std::string path = photoPNG("rgb2048.png", 2048, 2048, 3);
  return path;
}

// BMP files of each kind, 2048 x 2048, from the photo: the header and the
// stored rows (bottom-up) as the format lays them out.
void put32(std::string &out, uint32_t v) {
  for (int i = 0; i < 4; i++)
    out += (char)(v >> (8 * i));
}

std::string photoBMP(const char *name, int bits, uint32_t compression) {
  const int side = 2048;
  std::vector<uint8_t> rgba = photo(side, side, 4);
  std::string palette, data;
  bool fields = compression == 3;
  if (bits == 8)
    for (int i = 0; i < 256; i++)
      put32(palette, (uint32_t)i * 0x010101u);
  for (int y = side - 1; y >= 0; y--) {
    std::string row;
    for (int x = 0; x < side; x++) {
      const uint8_t *p = rgba.data() + ((size_t)y * side + x) * 4;
      if (bits == 8)
        row += (char)p[1];
      else if (bits == 16) {
        uint32_t v = (uint32_t)(p[0] >> 3) << 11 | (uint32_t)(p[1] >> 2) << 5 | p[2] >> 3;
        row += (char)v, row += (char)(v >> 8);
      } else {
        row += (char)p[2], row += (char)p[1], row += (char)p[0];
        if (bits == 32)
          row += (char)p[3];
      }
    }
    if (compression == 1) { // RLE8: runs where pixels repeat, literal stretches of 64
      std::string coded;
      for (size_t x = 0; x < row.size();) {
        size_t run = 1;
        while (x + run < row.size() && run < 255 && row[x + run] == row[x])
          run++;
        if (run >= 3 || row.size() - x < 3) {
          coded += (char)run, coded += row[x];
          x += run;
        } else {
          size_t n = std::min<size_t>(64, row.size() - x);
          coded += '\0', coded += (char)n, coded += row.substr(x, n);
          if (n % 2)
            coded += '\0'; /* literal stretches fill whole 16-bit words */
          x += n;
        }
      }
      row = coded + std::string("\0\0", 2);
    } else {
      row.resize((row.size() + 3) & ~(size_t)3, '\0');
    }
    data += row;
  }
  if (compression == 1)
    data += std::string("\0", 2);
  std::string header = "BM";
  uint32_t offset = 54 + (fields ? 12 : 0) + (uint32_t)palette.size();
  put32(header, offset + (uint32_t)data.size());
  put32(header, 0);
  put32(header, offset);
  for (uint32_t v : {40u, (uint32_t)side, (uint32_t)side})
    put32(header, v);
  header += (char)1, header += '\0', header += (char)bits, header += '\0';
  for (uint32_t v : {compression, (uint32_t)data.size(), 2835u, 2835u, bits == 8 ? 256u : 0u, 0u})
    put32(header, v);
  if (fields)
    for (uint32_t v : {0xF800u, 0x07E0u, 0x001Fu})
      put32(header, v);
  std::string path = pictureFolder() + "/" + name;
  FILE *file = fopen(path.c_str(), "wb");
  fwrite(header.data(), 1, header.size(), file);
  fwrite(palette.data(), 1, palette.size(), file);
  fwrite(data.data(), 1, data.size(), file);
  fclose(file);
  return path;
}

const std::string &bmpFile(int kind) {
  static std::string paths[5];
  static const char *names[] = {"palette8.bmp", "rle8.bmp", "rgb565.bmp", "rgb24.bmp",
                                "bgra32.bmp"};
  static const int bits[] = {8, 8, 16, 24, 32};
  static const uint32_t compression[] = {0, 1, 3, 0, 0};
  if (paths[kind].empty())
    paths[kind] = photoBMP(names[kind], bits[kind], compression[kind]);
  return paths[kind];
}

void decodedRate(benchmark::State &state, const std::string &path) {
  int width = 0, height = 0, channels = 0;
  stbi_info(path.c_str(), &width, &height, &channels);
  if (width == 0) { // stb does not know run-length files: every one here is 2048 x 2048
    width = height = 2048;
  }
  setRate(state, (double)width * height);
}

// libpng's own reading loop, expanded to RGBA and stored bottom row first as
// the engine's bitmap is (row pointers cost nothing either way).
uint8_t *libpngDecode(const std::string &path) {
  FILE *in = fopen(path.c_str(), "rb");
  if (!in)
    return nullptr;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  uint8_t *pixels = nullptr;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    fclose(in);
    free(pixels);
    return nullptr;
  }
  png_init_io(png, in);
  png_read_info(png, info);
  png_set_expand(png);
  png_set_strip_16(png);
  png_set_gray_to_rgb(png);
  png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
  png_read_update_info(png, info);
  size_t width = png_get_image_width(png, info), height = png_get_image_height(png, info);
  pixels = (uint8_t *)malloc(width * height * 4);
  std::vector<png_bytep> rows(height);
  for (size_t y = 0; y < height; y++)
    rows[y] = pixels + (height - 1 - y) * width * 4;
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  fclose(in);
  return pixels;
}

// One decode of the picture at path by the named contender, its pixels released.
bool decodeOnce(const std::string &decoder, const std::string &path) {
  uint8_t *pixels = nullptr;
  if (decoder == "engine") {
    int32_t size[2];
    char why[KRO_PICTURE_REASON_CHARS];
    pixels = kroDecodePicture(path.c_str(), size, why, sizeof why);
  } else if (decoder == "stb") {
    int width, height, channels;
    pixels = stbi_load(path.c_str(), &width, &height, &channels, 4);
  } else if (decoder == "libpng") {
    pixels = libpngDecode(path);
  }
  benchmark::DoNotOptimize(pixels);
  free(pixels);
  return pixels != nullptr;
}

const BenchPeakChild peakChild(decodeOnce);

// Counter peak_MB: one decode's peak memory.
void decodes(benchmark::State &state, const std::string &path, const char *decoder) {
  for (auto _ : state)
    if (!decodeOnce(decoder, path))
      state.SkipWithError("the picture was refused");
  decodedRate(state, path);
  static std::map<std::string, double> peaks;
  if (!peaks.count(decoder + path))
    peaks[decoder + path] = benchPeakMB(decoder, path);
  state.counters["peak_MB"] = peaks[decoder + path];
}

void BM_KroDecodePicture(benchmark::State &state, const std::string &(*file)()) {
  decodes(state, file(), "engine");
}

void BM_StbDecodePicture(benchmark::State &state, const std::string &(*file)()) {
  decodes(state, file(), "stb");
}

void BM_LibpngDecodePicture(benchmark::State &state, const std::string &(*file)()) {
  decodes(state, file(), "libpng");
}

const std::string &bmpPalette8() {
  return bmpFile(0);
}
const std::string &bmpRLE8() {
  return bmpFile(1);
}
const std::string &bmp565() {
  return bmpFile(2);
}
const std::string &bmp24() {
  return bmpFile(3);
}
const std::string &bmp32() {
  return bmpFile(4);
}

} // namespace

// Decoding: each picture with its contenders side by side, the median of three runs.
BENCHMARK_CAPTURE(BM_KroDecodePicture, png_rgba4096, pngRGBA4096)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(3);
BENCHMARK_CAPTURE(BM_LibpngDecodePicture, png_rgba4096, pngRGBA4096)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(3);
BENCHMARK_CAPTURE(BM_StbDecodePicture, png_rgba4096, pngRGBA4096)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(3);
BENCHMARK_CAPTURE(BM_KroDecodePicture, png_rgb2048, pngRGB2048)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(3);
BENCHMARK_CAPTURE(BM_LibpngDecodePicture, png_rgb2048, pngRGB2048)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(3);
BENCHMARK_CAPTURE(BM_StbDecodePicture, png_rgb2048, pngRGB2048)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(3);
BENCHMARK_CAPTURE(BM_KroDecodePicture, bmp_palette8, bmpPalette8)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(3);
BENCHMARK_CAPTURE(BM_StbDecodePicture, bmp_palette8, bmpPalette8)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(3);
BENCHMARK_CAPTURE(BM_KroDecodePicture, bmp_rle8, bmpRLE8)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(3);
BENCHMARK_CAPTURE(BM_KroDecodePicture, bmp_rgb565, bmp565)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(3);
BENCHMARK_CAPTURE(BM_StbDecodePicture, bmp_rgb565, bmp565)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(3);
BENCHMARK_CAPTURE(BM_KroDecodePicture, bmp_rgb24, bmp24)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(3);
BENCHMARK_CAPTURE(BM_StbDecodePicture, bmp_rgb24, bmp24)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(3);
BENCHMARK_CAPTURE(BM_KroDecodePicture, bmp_bgra32, bmp32)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(3);
BENCHMARK_CAPTURE(BM_StbDecodePicture, bmp_bgra32, bmp32)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(3);

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
