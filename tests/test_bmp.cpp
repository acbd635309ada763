// BMP reading, writing and box-filter resampling: the sample files, the
// engine's unpadded files beside ordinary padded and top-down ones, files
// written by other programs, every refused file, and the resampler against a
// literal step-by-step rendering of the filter.
#include "gl_context.h"
#include "kro_internal.h"

#include <gtest/gtest.h>

#include <random>
#include <stdlib.h>
#include <string>
#include <vector>

namespace {

struct BmpTest : kroTestFailureFixture {};

std::string data(const std::string &name) {
  return std::string(KRO_TEST_DATA "/bmp/") + name;
}

std::vector<uint8_t> loadPixels(const std::string &path, int32_t *size) {
  uint8_t *pixels = kroLoadBMP(path.c_str(), size);
  std::vector<uint8_t> out;
  if (pixels)
    out.assign(pixels, pixels + (size_t)size[0] * size[1] * 4);
  free(pixels);
  return out;
}

TEST_F(BmpTest, SampleFourByTwoLoads) {
  int32_t size[2] = {-1, -1};
  std::vector<uint8_t> pixels = loadPixels(data("sample-4x2.bmp"), size);
  ASSERT_EQ(size[0], 4);
  ASSERT_EQ(size[1], 2);
  ASSERT_EQ(pixels.size(), 32u);
  for (int p = 0; p < 8; p++) {
    EXPECT_EQ(pixels[p * 4 + 0], 3);
    EXPECT_EQ(pixels[p * 4 + 1], 2);
    EXPECT_EQ(pixels[p * 4 + 2], 1);
    EXPECT_EQ(pixels[p * 4 + 3], 255);
  }
  EXPECT_EQ(kroTestHookCalls, 0);
}

// Pixel (x, y) of the 3 x 2 files, y counted from the bottom row.
void expectThreeByTwo(const std::vector<uint8_t> &pixels, const int32_t *size) {
  ASSERT_EQ(size[0], 3);
  ASSERT_EQ(size[1], 2);
  ASSERT_EQ(pixels.size(), 24u);
  for (int y = 0; y < 2; y++)
    for (int x = 0; x < 3; x++) {
      const uint8_t *p = &pixels[(y * 3 + x) * 4];
      EXPECT_EQ(p[0], 200 + y) << x << "," << y;
      EXPECT_EQ(p[1], 100 + x) << x << "," << y;
      EXPECT_EQ(p[2], 10 * y + x) << x << "," << y;
      EXPECT_EQ(p[3], 255);
    }
}

TEST_F(BmpTest, UnpaddedPaddedAndTopDownFilesGiveTheSamePicture) {
  for (const char *name : {"unpadded-3x2.bmp", "padded-3x2.bmp", "topdown-3x2.bmp"}) {
    SCOPED_TRACE(name);
    int32_t size[2];
    expectThreeByTwo(loadPixels(data(name), size), size);
  }
  EXPECT_EQ(kroTestHookCalls, 0);
}

// Reads a 24-bit file by the ordinary rules (rows padded to 4 bytes, bottom
// row first) to compare against the engine's reader.
std::vector<uint8_t> decodePadded(const std::string &bytes, int width, int height) {
  std::vector<uint8_t> out;
  int stride = (width * 3 + 3) / 4 * 4;
  for (int y = 0; y < height; y++)
    for (int x = 0; x < width; x++) {
      const char *bgr = bytes.data() + 54 + y * stride + x * 3;
      out.push_back((uint8_t)bgr[2]);
      out.push_back((uint8_t)bgr[1]);
      out.push_back((uint8_t)bgr[0]);
      out.push_back(255);
    }
  return out;
}

TEST_F(BmpTest, FilesFromOtherProgramsLoadOrAreRefused) {
  struct {
    const char *name;
    int width, height;
  } good[] = {
      {"gradient-13x7-padded.bmp", 13, 7}, {"plasma-16x8.bmp", 16, 8}, {"orange-16x8.bmp", 16, 8}};
  for (auto &file : good) {
    SCOPED_TRACE(file.name);
    std::string path = std::string(KRO_SHARED_TESTDATA "/bmp/") + file.name;
    int32_t size[2];
    std::vector<uint8_t> pixels = loadPixels(path, size);
    ASSERT_EQ(size[0], file.width);
    ASSERT_EQ(size[1], file.height);
    EXPECT_EQ(pixels, decodePadded(kroTestReadFile(path), file.width, file.height));
  }
  int32_t size[2];
  std::vector<uint8_t> orange = loadPixels(KRO_SHARED_TESTDATA "/bmp/orange-16x8.bmp", size);
  ASSERT_FALSE(orange.empty());
  EXPECT_EQ(orange[0], 255);
  EXPECT_EQ(orange[1], 165);
  EXPECT_EQ(orange[2], 0);
  EXPECT_EQ(kroTestHookCalls, 0);

  for (const char *name : {"pal8.bmp", "rgb16.bmp", "rgb32.bmp"}) {
    std::string path = std::string(KRO_SHARED_TESTDATA "/bmp/") + name;
    testing::internal::CaptureStdout();
    EXPECT_EQ(kroLoadBMP(path.c_str(), size), nullptr) << name;
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Error in reading texture from " + path +
                  " in function kroLoadBMP(..): not 24 bits per pixel\n");
  }
  EXPECT_EQ(kroTestHookCalls, 3);
}

TEST_F(BmpTest, HostileFilesAreRefusedWithTheirReason) {
  struct {
    const char *name, *reason;
  } cases[] = {
      {"bad-signature.bmp", "not a BMP file"},
      {"empty.bmp", "not a BMP file"},
      {"header-cut.bmp", "not a BMP file"},
      {"bits-32.bmp", "not 24 bits per pixel"},
      {"bits-8.bmp", "not 24 bits per pixel"},
      {"compressed.bmp", "compressed pixel data"},
      {"zero-width.bmp", "bad width or height"},
      {"zero-height.bmp", "bad width or height"},
      {"negative-width.bmp", "bad width or height"},
      {"min-height.bmp", "bad width or height"},
      {"overflow.bmp", "bad width or height"},
      {"larger-than-file.bmp", "pixel data cut short"},
      {"truncated.bmp", "pixel data cut short"},
      {"bad-offset.bmp", "unsupported header or pixel data offset"},
      {"offset-past-end.bmp", "unsupported header or pixel data offset"},
      {"core-header.bmp", "unsupported header or pixel data offset"},
  };
  int calls = 0;
  for (auto &c : cases) {
    std::string path = data(c.name);
    int32_t size[2] = {7, 7};
    testing::internal::CaptureStdout();
    uint8_t *pixels = kroLoadBMP(path.c_str(), size);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(pixels, nullptr) << c.name;
    free(pixels);
    EXPECT_EQ(size[0], 0) << c.name;
    EXPECT_EQ(size[1], 0) << c.name;
    EXPECT_EQ(out, "Error in reading texture from " + path +
                       " in function kroLoadBMP(..): " + c.reason + "\n");
    EXPECT_EQ(kroTestHookCalls, ++calls) << c.name;
  }
}

TEST_F(BmpTest, MissingFileAndFailedAllocationReport) {
  int32_t size[2];
  std::string missing = data("no-such-file.bmp");
  testing::internal::CaptureStdout();
  EXPECT_EQ(kroLoadBMP(missing.c_str(), size), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Error in reading texture from " + missing + " in function kroLoadBMP(..)\n");

  kroFailAllocationAfter(1);
  testing::internal::CaptureStdout();
  EXPECT_EQ(kroLoadBMP(data("sample-4x2.bmp").c_str(), size), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Error during allocating memory in function kroLoadBMP(..)\n");
  EXPECT_EQ(kroTestHookCalls, 2);
}

TEST_F(BmpTest, ExportWritesTheEngineLayout) {
  std::vector<uint8_t> pixels(32);
  for (int p = 0; p < 8; p++) {
    pixels[p * 4 + 0] = (uint8_t)(10 + p); // red
    pixels[p * 4 + 1] = (uint8_t)(50 + p); // green
    pixels[p * 4 + 2] = (uint8_t)(90 + p); // blue
    pixels[p * 4 + 3] = 7;                 // not written
  }
  int32_t size[2] = {4, 2};
  std::string path = kroTestTempPath("export-4x2.bmp");
  EXPECT_EQ(kroExportBMP(path.c_str(), pixels.data(), size), 0);
  std::string bytes = kroTestReadFile(path);
  ASSERT_EQ(bytes.size(), 78u);
  const std::string header(
      "BM\x4e\0\0\0\0\0\0\0\x36\0\0\0\x28\0\0\0\x04\0\0\0\x02\0\0\0\x01\0\x18\0"
      "\0\0\0\0\0\0\0\0\x40\0\0\0\x40\0\0\0\0\0\0\0\0\0\0\0",
      54);
  EXPECT_EQ(bytes.substr(0, 54), header);
  EXPECT_EQ((uint8_t)bytes[54], 90); // first pixel blue, green, red
  EXPECT_EQ((uint8_t)bytes[55], 50);
  EXPECT_EQ((uint8_t)bytes[56], 10);

  int32_t back_size[2];
  std::vector<uint8_t> back = loadPixels(path, back_size);
  ASSERT_EQ(back.size(), 32u);
  for (int p = 0; p < 8; p++) {
    EXPECT_EQ(back[p * 4 + 0], pixels[p * 4 + 0]);
    EXPECT_EQ(back[p * 4 + 1], pixels[p * 4 + 1]);
    EXPECT_EQ(back[p * 4 + 2], pixels[p * 4 + 2]);
    EXPECT_EQ(back[p * 4 + 3], 255);
  }
}

TEST_F(BmpTest, ExportThreeWideIsUnpaddedAndReadsBack) {
  std::vector<uint8_t> pixels(3 * 5 * 4);
  for (size_t i = 0; i < pixels.size(); i++)
    pixels[i] = (uint8_t)(i * 7 + 3);
  int32_t size[2] = {3, 5};
  std::string path = kroTestTempPath("export-3x5.bmp");
  ASSERT_EQ(kroExportBMP(path.c_str(), pixels.data(), size), 0);
  std::string bytes = kroTestReadFile(path);
  ASSERT_EQ(bytes.size(), 54u + 9 * 5);
  EXPECT_EQ((uint8_t)bytes[2], 54 + 45);
  // Row 1 starts right after the 9 bytes of row 0: the first pixel of row 1
  // is pixel 3 of the bitmap.
  EXPECT_EQ((uint8_t)bytes[54 + 9], pixels[3 * 4 + 2]);
  int32_t back_size[2];
  std::vector<uint8_t> back = loadPixels(path, back_size);
  ASSERT_EQ(back.size(), pixels.size());
  for (size_t i = 0; i < pixels.size(); i++)
    EXPECT_EQ(back[i], i % 4 == 3 ? 255 : pixels[i]) << i;
  EXPECT_EQ(kroTestHookCalls, 0);
}

TEST_F(BmpTest, ExportFailuresReport) {
  uint8_t pixel[4] = {1, 2, 3, 4};
  int32_t size[2] = {1, 1};
  std::string path = kroTestTempPath("no-such-folder/out.bmp");
  testing::internal::CaptureStdout();
  EXPECT_EQ(kroExportBMP(path.c_str(), pixel, size), EOF);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Error in kroExportBMP(..) during opening file: " + path + "\n");
  int32_t bad[2] = {-1, 1};
  std::string other = kroTestTempPath("negative.bmp");
  testing::internal::CaptureStdout();
  EXPECT_EQ(kroExportBMP(other.c_str(), pixel, bad), EOF);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(kroTestReadFile(other), "");
  EXPECT_EQ(kroTestHookCalls, 2);
}

// ---- resampling ----

// The filter exactly as its steps read: a running float span per line, the
// vertical pass column by column.
std::vector<uint8_t> literalResize(const std::vector<uint8_t> &src, int sw, int sh, int dw,
                                   int dh) {
  std::vector<uint8_t> mid((size_t)dw * sh * 4), out((size_t)dw * dh * 4);
  auto pass = [](const uint8_t *in, int in_count, int lines, int out_count, float step, auto at_in,
                 auto at_out) {
    for (int line = 0; line < lines; line++) {
      float a = 0, b = step;
      for (int i = 0; i < out_count; i++) {
        if (b > in_count)
          b = (float)(in_count - 0.00001);
        int ia = (int)a, ib = (int)b;
        for (int c = 0; c < 4; c++) {
          if (ia == ib) {
            at_out(i, line)[c] = in[at_in(ia, line) + c];
            continue;
          }
          double tail_weight = (double)b - ib;
          double end = tail_weight == 0 ? 0 : in[at_in(ib, line) + c] * tail_weight;
          int sum = (int)(in[at_in(ia, line) + c] * ((double)(ia + 1) - a) + end);
          for (int k = ia + 1; k < ib; k++)
            sum += in[at_in(k, line) + c];
          at_out(i, line)[c] = (uint8_t)(int)(sum / ((double)b - a));
        }
        a = b;
        b = b + step;
      }
    }
  };
  pass(
      src.data(), sw, sh, dw, (float)sw / (float)dw,
      [&](int x, int y) { return ((size_t)y * sw + x) * 4; },
      [&](int x, int y) { return &mid[((size_t)y * dw + x) * 4]; });
  pass(
      mid.data(), sh, dw, dh, (float)sh / (float)dh,
      [&](int y, int x) { return ((size_t)y * dw + x) * 4; },
      [&](int y, int x) { return &out[((size_t)y * dw + x) * 4]; });
  return out;
}

std::vector<uint8_t> resize(const std::vector<uint8_t> &src, int sw, int sh, int dw, int dh) {
  int32_t size[2] = {sw, sh}, new_size[2] = {dw, dh};
  uint8_t *out = kroResizeBitmap(src.data(), size, new_size);
  std::vector<uint8_t> result;
  if (out)
    result.assign(out, out + (size_t)dw * dh * 4);
  free(out);
  return result;
}

std::vector<uint8_t> redRow(std::initializer_list<int> reds) {
  std::vector<uint8_t> row;
  for (int r : reds)
    row.insert(row.end(), {(uint8_t)r, 0, 0, 255});
  return row;
}

TEST_F(BmpTest, ResizeSamples) {
  std::vector<uint8_t> halved = resize(redRow({10, 21, 30, 40}), 4, 1, 2, 1);
  ASSERT_EQ(halved.size(), 8u);
  EXPECT_EQ(halved[0], 15);
  EXPECT_EQ(halved[4], 35);
  EXPECT_EQ(halved[3], 255);

  std::vector<uint8_t> doubled = resize(redRow({255, 255}), 2, 1, 4, 1);
  ASSERT_EQ(doubled.size(), 16u);
  EXPECT_EQ(doubled[0], 255);
  EXPECT_EQ(doubled[4], 254);
  EXPECT_EQ(doubled[8], 255);
  EXPECT_EQ(doubled[12], 254);

  // The same in the vertical pass: a column of two.
  std::vector<uint8_t> tall = resize(redRow({255, 255}), 1, 2, 1, 4);
  ASSERT_EQ(tall.size(), 16u);
  EXPECT_EQ(tall[4], 254);
  EXPECT_EQ(tall[12], 254);

  std::vector<uint8_t> random(5 * 3 * 4);
  for (size_t i = 0; i < random.size(); i++)
    random[i] = (uint8_t)(i * 37 + 11);
  EXPECT_EQ(resize(random, 5, 3, 5, 3), random);
  EXPECT_EQ(kroTestHookCalls, 0);
}

TEST_F(BmpTest, ResizeMatchesTheFilterStepByStep) {
  std::mt19937 rng(12345);
  const int sizes[][4] = {{4, 4, 2, 2},     {2, 2, 4, 4},      {37, 23, 50, 17}, {13, 7, 5, 9},
                          {64, 64, 24, 40}, {7, 11, 7, 3},     {100, 3, 33, 12}, {3, 100, 9, 1},
                          {1, 1, 6, 5},     {300, 200, 7, 301}};
  for (auto &s : sizes) {
    SCOPED_TRACE(testing::Message() << s[0] << "x" << s[1] << " -> " << s[2] << "x" << s[3]);
    std::vector<uint8_t> src((size_t)s[0] * s[1] * 4);
    for (auto &v : src)
      v = (uint8_t)rng();
    std::vector<uint8_t> got = resize(src, s[0], s[1], s[2], s[3]);
    std::vector<uint8_t> want = literalResize(src, s[0], s[1], s[2], s[3]);
    ASSERT_EQ(got.size(), want.size());
    size_t differing = 0;
    for (size_t i = 0; i < got.size(); i++)
      differing += got[i] != want[i];
    EXPECT_EQ(differing, 0u);
  }
}

TEST_F(BmpTest, ResizeRefusesBadSizesAndReportsAllocation) {
  std::vector<uint8_t> src = redRow({1, 2, 3, 4});
  int32_t size[2] = {4, 1};
  const int32_t bad[][2] = {{0, 1}, {2, -1}, {1 << 20, 1 << 20}};
  for (auto &target : bad) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(kroResizeBitmap(src.data(), size, target), nullptr);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("kroResizeBitmap(..)"),
              std::string::npos);
  }
  int32_t good[2] = {2, 2};
  for (long n : {1, 2}) {
    kroFailAllocationAfter(n);
    testing::internal::CaptureStdout();
    EXPECT_EQ(kroResizeBitmap(src.data(), size, good), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Error during allocating memory in kroResizeBitmap(..)\n");
  }
  EXPECT_EQ(kroTestHookCalls, 5);
}

} // namespace
