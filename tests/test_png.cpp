// PNG container reader: the image data it returns is the file's zlib stream,
// every image data chunk in order, checked against zlib and libpng on the
// PNG suite; the sample files; and every refused file.
#include "gl_context.h"
#include "kro_internal.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <dirent.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

struct PngTest : kroTestFailureFixture {};

std::string data(const std::string &name) {
  return std::string(KRO_TEST_DATA "/png/") + name;
}

struct Loaded {
  std::vector<uint8_t> bytes; // the whole returned buffer
  int32_t size[2] = {-1, -1};
  bool ok = false;
};

Loaded load(const std::string &path) {
  Loaded result;
  uint8_t *buffer = kroLoadPNG(path.c_str(), result.size);
  if (buffer) {
    result.bytes.assign(buffer, buffer + KRO_PNG_BUFFER_BYTES);
    result.ok = true;
  }
  free(buffer);
  return result;
}

std::vector<uint8_t> inflateAll(const uint8_t *in, size_t length, bool *ended) {
  std::vector<uint8_t> out;
  z_stream z;
  memset(&z, 0, sizeof z);
  inflateInit(&z);
  z.next_in = const_cast<uint8_t *>(in);
  z.avail_in = (uInt)length;
  uint8_t chunk[4096];
  int status;
  do {
    z.next_out = chunk;
    z.avail_out = sizeof chunk;
    status = inflate(&z, Z_NO_FLUSH);
    out.insert(out.end(), chunk, chunk + (sizeof chunk - z.avail_out));
  } while (status == Z_OK);
  *ended = status == Z_STREAM_END;
  inflateEnd(&z);
  return out;
}

int channels(int color_type) {
  switch (color_type) {
  case 2:
    return 3;
  case 4:
    return 2;
  case 6:
    return 4;
  default:
    return 1;
  }
}

// Undoes the scanline filters of a non-interlaced image.
std::vector<std::vector<uint8_t>> unfilter(const std::vector<uint8_t> &raw, size_t row_bytes,
                                           size_t rows, size_t pixel_bytes) {
  std::vector<std::vector<uint8_t>> out;
  std::vector<uint8_t> prior(row_bytes, 0);
  for (size_t r = 0; r < rows; r++) {
    const uint8_t *line = &raw[r * (row_bytes + 1)];
    std::vector<uint8_t> row(line + 1, line + 1 + row_bytes);
    for (size_t i = 0; i < row_bytes; i++) {
      int left = i >= pixel_bytes ? row[i - pixel_bytes] : 0;
      int up = prior[i], corner = i >= pixel_bytes ? prior[i - pixel_bytes] : 0;
      int p = left + up - corner, pa = abs(p - left), pb = abs(p - up), pc = abs(p - corner);
      int paeth = pa <= pb && pa <= pc ? left : pb <= pc ? up : corner;
      int add[] = {0, left, up, (left + up) / 2, paeth};
      row[i] = (uint8_t)(row[i] + add[line[0] <= 4 ? line[0] : 0]);
    }
    out.push_back(row);
    prior = row;
  }
  return out;
}

// The raw rows as libpng decodes them, without any transformation.
std::vector<std::vector<uint8_t>> libpngRows(const std::string &path) {
  std::vector<std::vector<uint8_t>> rows;
  FILE *file = fopen(path.c_str(), "rb");
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, file);
    png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_bytepp data_rows = png_get_rows(png, info);
    size_t row_bytes = png_get_rowbytes(png, info);
    for (png_uint_32 y = 0; y < png_get_image_height(png, info); y++)
      rows.emplace_back(data_rows[y], data_rows[y] + row_bytes);
  }
  png_destroy_read_struct(&png, &info, nullptr);
  fclose(file);
  return rows;
}

std::vector<std::string> suiteFiles() {
  std::vector<std::string> names;
  DIR *dir = opendir(KRO_SHARED_TESTDATA "/png");
  if (!dir)
    return names;
  while (dirent *entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name.size() > 4 && name.substr(name.size() - 4) == ".png")
      names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

// Every non-interlaced image: the data inflates to exactly one filter byte
// and one packed row per line, and the unfiltered rows are libpng's.
void expectImageDataMatchesLibpng(const std::string &path, bool compare_rows) {
  SCOPED_TRACE(path);
  kroPNGInfo info;
  ASSERT_EQ(kroLoadPNGInfo(path.c_str(), &info), 0);
  Loaded loaded = load(path);
  ASSERT_TRUE(loaded.ok);
  EXPECT_EQ(loaded.size[0], info.width);
  EXPECT_EQ(loaded.size[1], info.height);
  bool ended = false;
  std::vector<uint8_t> raw = inflateAll(loaded.bytes.data(), info.data_bytes, &ended);
  EXPECT_TRUE(ended);
  size_t bits = (size_t)channels(info.color_type) * info.bit_depth;
  size_t row_bytes = ((size_t)info.width * bits + 7) / 8;
  ASSERT_EQ(raw.size(), (size_t)info.height * (1 + row_bytes));
  // Past the image data the buffer is clear.
  EXPECT_TRUE(std::all_of(loaded.bytes.begin() + info.data_bytes, loaded.bytes.end(),
                          [](uint8_t b) { return b == 0; }));
  if (compare_rows) {
    EXPECT_EQ(unfilter(raw, row_bytes, info.height, std::max<size_t>(1, bits / 8)),
              libpngRows(path));
  }
}

TEST_F(PngTest, SuiteImagesGiveTheirImageData) {
  int checked = 0, interlaced = 0;
  for (const std::string &name : suiteFiles()) {
    std::string path = std::string(KRO_SHARED_TESTDATA "/png/") + name;
    if (name[0] == 'x')
      continue; // corrupt on purpose, below
    kroPNGInfo info;
    ASSERT_EQ(kroLoadPNGInfo(path.c_str(), &info), 0) << name;
    if (info.interlace) {
      interlaced++;
      int32_t size[2];
      testing::internal::CaptureStdout();
      EXPECT_EQ(kroLoadPNG(path.c_str(), size), nullptr);
      EXPECT_EQ(testing::internal::GetCapturedStdout(),
                "Not known interlace method in kroLoadPNG(..)");
      continue;
    }
    expectImageDataMatchesLibpng(path, true);
    checked++;
  }
  EXPECT_GE(checked, 17);
  EXPECT_EQ(interlaced, 2);
  EXPECT_EQ(kroTestHookCalls, interlaced);
}

TEST_F(PngTest, SeveralImageDataChunksAreJoinedInOrder) {
  kroPNGInfo info;
  ASSERT_EQ(kroLoadPNGInfo(data("split-basn6a16.png").c_str(), &info), 0);
  EXPECT_EQ(info.data_chunks, 6u);
  EXPECT_EQ(info.data_bytes, 3362u);
  expectImageDataMatchesLibpng(data("split-basn6a16.png"), true);

  Loaded two = load(data("two-idat.png"));
  ASSERT_TRUE(two.ok);
  const uint8_t joined[] = {1, 2, 3, 4, 5, 6, 7, 8, 0};
  EXPECT_TRUE(std::equal(joined, joined + 9, two.bytes.begin()));
  EXPECT_EQ(kroTestHookCalls, 0);
}

TEST_F(PngTest, SampleFiles) {
  Loaded big = load(data("ihdr-640x480.png"));
  ASSERT_TRUE(big.ok);
  EXPECT_EQ(big.size[0], 640);
  EXPECT_EQ(big.size[1], 480);
  for (int i = 0; i < 10; i++)
    EXPECT_EQ(big.bytes[i], i + 1);
  EXPECT_EQ(big.bytes[10], 0);

  // Text, gamma and palette chunks are stepped over; bytes after the end
  // chunk are not looked at.
  Loaded ancillary = load(data("ancillary.png"));
  ASSERT_TRUE(ancillary.ok);
  EXPECT_EQ(ancillary.size[0], 7);
  EXPECT_EQ(ancillary.size[1], 5);
  EXPECT_EQ(std::vector<uint8_t>(ancillary.bytes.begin(), ancillary.bytes.begin() + 10),
            std::vector<uint8_t>(big.bytes.begin(), big.bytes.begin() + 10));
  kroPNGInfo info;
  ASSERT_EQ(kroLoadPNGInfo(data("ancillary.png").c_str(), &info), 0);
  EXPECT_EQ(info.color_type, 3);
  EXPECT_EQ(info.bit_depth, 8);
  EXPECT_EQ(info.data_chunks, 1u);
  EXPECT_EQ(info.data_bytes, 10u);

  // Only the first four signature bytes count.
  Loaded tail = load(data("signature-tail.png"));
  EXPECT_TRUE(tail.ok);
  expectImageDataMatchesLibpng(KRO_SHARED_TESTDATA "/png/xcrn0g04.png", false);
  EXPECT_EQ(kroTestHookCalls, 0);
}

TEST_F(PngTest, HostileFilesAreRefused) {
  struct {
    const char *name, *message; // message after the path; null: the plain one
  } cases[] = {
      {"bad-first-byte.png", nullptr},
      {"empty.png", nullptr},
      {"idat-before-ihdr.png", "image data before the IHDR chunk"},
      {"no-iend.png", "no IEND chunk"},
      {"chunk-past-end.png", "chunk runs past the end of the file"},
      {"crc-cut.png", "chunk runs past the end of the file"},
      {"no-ihdr.png", "no IHDR chunk"},
      {"second-ihdr.png", "second IHDR chunk"},
      {"short-ihdr.png", "bad IHDR chunk"},
      {"zero-width.png", "bad image size"},
      {"no-such-file.png", nullptr},
  };
  int calls = 0;
  for (auto &c : cases) {
    std::string path = data(c.name);
    std::string want = "Error in reading texture from " + path + " in function kroLoadPNG(..)";
    want += c.message ? std::string(": ") + c.message + "\n" : "\n";
    testing::internal::CaptureStdout();
    Loaded loaded = load(path);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), want);
    EXPECT_FALSE(loaded.ok) << c.name;
    EXPECT_EQ(loaded.size[0], 0) << c.name;
    EXPECT_EQ(kroTestHookCalls, ++calls) << c.name;
  }
  std::string corrupt = KRO_SHARED_TESTDATA "/png/xs1n0g01.png";
  testing::internal::CaptureStdout();
  EXPECT_FALSE(load(corrupt).ok);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Error in reading texture from " + corrupt + " in function kroLoadPNG(..)\n");

  for (const char *name : {"compression-1.png", "interlace-1.png"}) {
    testing::internal::CaptureStdout();
    EXPECT_FALSE(load(data(name)).ok);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              name[0] == 'c' ? "Not known compression method in kroLoadPNG(..)"
                             : "Not known interlace method in kroLoadPNG(..)");
  }
  kroFailAllocationAfter(1);
  testing::internal::CaptureStdout();
  EXPECT_FALSE(load(data("two-idat.png")).ok);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Error during allocating memory in kroLoadPNG(..)");
  EXPECT_EQ(kroTestHookCalls, calls + 4);
}

std::string chunk(const char *type, const std::string &payload) {
  std::string out;
  uint32_t length = (uint32_t)payload.size();
  for (int shift = 24; shift >= 0; shift -= 8)
    out += (char)(length >> shift);
  out += std::string(type, 4) + payload + std::string(4, '\0');
  return out;
}

std::string pngWithData(const std::vector<size_t> &chunk_sizes) {
  std::string file("\x89PNG\r\n\x1a\n", 8);
  file += chunk("IHDR", std::string("\0\0\x03\x20\0\0\x02\x58\x08\x06\0\0\0", 13));
  char fill = 'a';
  for (size_t bytes : chunk_sizes)
    file += chunk("IDAT", std::string(bytes, fill++));
  return file + chunk("IEND", "");
}

TEST_F(PngTest, ImageDataFillsTheBufferButNeverPassesIt) {
  std::string full = kroTestTempPath("full.png");
  kroTestWriteFile(full, pngWithData({1000000, KRO_PNG_BUFFER_BYTES - 1000000}));
  Loaded loaded = load(full);
  ASSERT_TRUE(loaded.ok);
  EXPECT_EQ(loaded.bytes[999999], 'a');
  EXPECT_EQ(loaded.bytes[1000000], 'b');
  EXPECT_EQ(loaded.bytes[KRO_PNG_BUFFER_BYTES - 1], 'b');

  std::string over = kroTestTempPath("over.png");
  kroTestWriteFile(over, pngWithData({1000000, KRO_PNG_BUFFER_BYTES - 1000000 + 1}));
  testing::internal::CaptureStdout();
  EXPECT_FALSE(load(over).ok);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Error in reading texture from " + over +
                " in function kroLoadPNG(..): image data larger than the buffer\n");
  // The walk alone has no buffer to fill.
  kroPNGInfo info;
  EXPECT_EQ(kroLoadPNGInfo(over.c_str(), &info), 0);
  EXPECT_EQ(info.data_bytes, (uint32_t)KRO_PNG_BUFFER_BYTES + 1);
  EXPECT_EQ(kroTestHookCalls, 1);
}

} // namespace
