// PNG container reader: the image data returned, checked against zlib and libpng on the PNG
// suite; the sample files and every refused file.
#include "gl_context.h"

#include <png.h>
#include <zlib.h>

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <vector>

namespace {

struct PngTest : kroTestFailureFixture {};

const std::string kData = KRO_TEST_DATA "/png/", kSuite = KRO_SHARED_TESTDATA "/png/";

template <typename F> std::string captured(F call) {
  testing::internal::CaptureStdout();
  call();
  return testing::internal::GetCapturedStdout();
}

int32_t scratch[2];

// The whole returned buffer; empty when refused.
std::vector<uint8_t> load(const std::string &path, int32_t *size = scratch) {
  uint8_t *buffer = kroLoadPNG(path.c_str(), size);
  std::vector<uint8_t> out;
  if (buffer)
    out.assign(buffer, buffer + KRO_PNG_BUFFER_BYTES);
  free(buffer);
  return out;
}

// Undoes the scanline filters of a non-interlaced image; rows[0] is the zero row above the top.
std::vector<std::vector<uint8_t>> unfilter(const std::vector<uint8_t> &raw, size_t row_bytes,
                                           size_t rows, size_t pixel_bytes) {
  std::vector<std::vector<uint8_t>> out(rows + 1, std::vector<uint8_t>(row_bytes));
  for (size_t r = 0; r < rows; r++) {
    const uint8_t *line = &raw[r * (row_bytes + 1)];
    std::vector<uint8_t> &row = out[r + 1], &prior = out[r];
    for (size_t i = 0; i < row_bytes; i++) {
      int left = i >= pixel_bytes ? row[i - pixel_bytes] : 0;
      int up = prior[i], corner = i >= pixel_bytes ? prior[i - pixel_bytes] : 0;
      int p = left + up - corner, pa = abs(p - left), pb = abs(p - up), pc = abs(p - corner);
      int add[] = {0, left, up, (left + up) / 2,
                   pa <= pb && pa <= pc ? left
                   : pb <= pc           ? up
                                        : corner};
      row[i] = (uint8_t)(line[1 + i] + add[line[0] <= 4 ? line[0] : 0]);
    }
  }
  out.erase(out.begin());
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
    for (png_uint_32 y = 0; y < png_get_image_height(png, info); y++)
      rows.emplace_back(data_rows[y], data_rows[y] + png_get_rowbytes(png, info));
  }
  png_destroy_read_struct(&png, &info, nullptr);
  fclose(file);
  return rows;
}

// Not interlaced: the data inflates, to its end, to a filter byte and a packed row per
// line, the buffer is clear past it, and (when asked) the unfiltered rows are libpng's.
void expectImageDataMatchesLibpng(const std::string &path, bool compare_rows) {
  SCOPED_TRACE(path);
  kroPNGInfo info;
  ASSERT_EQ(kroLoadPNGInfo(path.c_str(), &info), 0);
  int32_t size[2];
  std::vector<uint8_t> loaded = load(path, size);
  ASSERT_EQ(loaded.empty(), info.interlace != 0); // interlaced: refused, as interlace-1.png
  if (info.interlace)
    return;
  EXPECT_TRUE(size[0] == (int32_t)info.width && size[1] == (int32_t)info.height);
  const int channels[] = {1, 0, 3, 1, 2, 0, 4}; // by colour type
  size_t bits = (size_t)channels[info.color_type] * info.bit_depth;
  size_t row_bytes = ((size_t)info.width * bits + 7) / 8;
  std::vector<uint8_t> raw((size_t)info.height * (1 + row_bytes) + 1);
  uLongf raw_bytes = raw.size();
  ASSERT_EQ(uncompress(raw.data(), &raw_bytes, loaded.data(), info.data_bytes), Z_OK);
  ASSERT_EQ(raw_bytes, raw.size() - 1);
  EXPECT_TRUE(std::all_of(loaded.begin() + info.data_bytes, loaded.end(),
                          [](uint8_t b) { return b == 0; }));
  if (compare_rows) {
    EXPECT_EQ(unfilter(raw, row_bytes, info.height, std::max<size_t>(1, bits / 8)),
              libpngRows(path));
  }
}

TEST_F(PngTest, SuiteImagesGiveTheirImageData) {
  int files = 0;
  for (auto &entry : std::filesystem::directory_iterator(kSuite)) {
    std::string path = entry.path(), name = entry.path().filename();
    if (entry.path().extension() == ".png" && name[0] != 'x') { // x...: corrupt on purpose
      expectImageDataMatchesLibpng(path, true);
      files++;
    }
  }
  EXPECT_GE(files, 19);
  EXPECT_EQ(kroTestHookCalls, 2); // the two interlaced images
}

TEST_F(PngTest, SampleFilesAndJoinedImageData) {
  kroPNGInfo info;
  ASSERT_EQ(kroLoadPNGInfo((kData + "split-basn6a16.png").c_str(), &info), 0);
  EXPECT_TRUE(info.data_chunks == 6 && info.data_bytes == 3362) << info.data_bytes;
  expectImageDataMatchesLibpng(kData + "split-basn6a16.png", true);
  const uint8_t joined[] = {1, 2, 3, 4, 5, 6, 7, 8, 0};
  EXPECT_TRUE(std::equal(joined, joined + 9, load(kData + "two-idat.png").begin()));

  int32_t size[2];
  std::vector<uint8_t> big = load(kData + "ihdr-640x480.png", size);
  EXPECT_TRUE(size[0] == 640 && size[1] == 480);
  const uint8_t payload[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0};
  EXPECT_TRUE(std::equal(payload, payload + 11, big.begin()));
  // Text, gamma and palette chunks are stepped over; bytes after the end chunk are not read.
  std::vector<uint8_t> ancillary = load(kData + "ancillary.png", size);
  EXPECT_TRUE(size[0] == 7 && size[1] == 5);
  EXPECT_TRUE(std::equal(payload, payload + 11, ancillary.begin()));
  // Only the first four signature bytes count.
  EXPECT_FALSE(load(kData + "signature-tail.png").empty());
  expectImageDataMatchesLibpng(kSuite + "xcrn0g04.png", false);
  EXPECT_EQ(kroTestHookCalls, 0);
}

std::string chunk(const char *type, const std::string &payload) {
  uint32_t length = (uint32_t)payload.size();
  char head[4] = {(char)(length >> 24), (char)(length >> 16), (char)(length >> 8), (char)length};
  return std::string(head, 4) + std::string(type, 4) + payload + std::string(4, '\0');
}

std::string pngWithData(size_t first, size_t second) {
  return std::string("\x89PNG\r\n\x1a\n", 8) +
         chunk("IHDR", std::string("\0\0\x03\x20\0\0\x02\x58\x08\x06\0\0\0", 13)) +
         chunk("IDAT", std::string(first, 'a')) + chunk("IDAT", std::string(second, 'b')) +
         chunk("IEND", "");
}

TEST_F(PngTest, ImageDataFillsTheBufferButNeverPassesItAndHostileFilesAreRefused) {
  std::string full = kroTestTempPath("full.png"), over = kroTestTempPath("over.png");
  kroTestWriteFile(full, pngWithData(1000000, KRO_PNG_BUFFER_BYTES - 1000000));
  kroTestWriteFile(over, pngWithData(1000000, KRO_PNG_BUFFER_BYTES - 1000000 + 1));
  std::vector<uint8_t> loaded = load(full);
  ASSERT_FALSE(loaded.empty());
  EXPECT_EQ(std::string(loaded.begin() + 999999, loaded.begin() + 1000001), "ab");
  EXPECT_EQ(loaded.back(), 'b');
  kroPNGInfo info; // the walk alone has no buffer to fill
  EXPECT_EQ(kroLoadPNGInfo(over.c_str(), &info), 0);
  EXPECT_EQ(info.data_bytes, (uint32_t)KRO_PNG_BUFFER_BYTES + 1);

  // Message after the path, null: the plain one; a message not starting with ':' stands alone.
  const std::pair<std::string, const char *> cases[] = {
      {kData + "bad-first-byte.png", nullptr},
      {kData + "no-such-file.png", nullptr},
      {kSuite + "xs1n0g01.png", nullptr},
      {kData + "idat-before-ihdr.png", ": image data before the IHDR chunk"},
      {kData + "no-iend.png", ": no IEND chunk"},
      {kData + "chunk-past-end.png", ": chunk runs past the end of the file"},
      {kData + "no-ihdr.png", ": no IHDR chunk"},
      {kData + "second-ihdr.png", ": second IHDR chunk"},
      {kData + "short-ihdr.png", ": bad IHDR chunk"},
      {kData + "zero-width.png", ": bad image size"},
      {over, ": image data larger than the buffer"},
      {kData + "compression-1.png", "Not known compression method in kroLoadPNG(..)"},
      {kData + "interlace-1.png", "Not known interlace method in kroLoadPNG(..)"}};
  int calls = 0;
  for (auto &[path, message] : cases) {
    std::string plain = "Error in reading texture from " + path + " in function kroLoadPNG(..)";
    int32_t size[2] = {-1, -1};
    EXPECT_EQ(captured([&] { EXPECT_TRUE(load(path, size).empty()); }),
              message && message[0] != ':' ? message : plain + (message ? message : "") + "\n");
    EXPECT_EQ(size[0], 0) << path;
    EXPECT_EQ(kroTestHookCalls, ++calls) << path;
  }
  kroFailAllocationAfter(1);
  EXPECT_EQ(captured([&] { EXPECT_TRUE(load(kData + "two-idat.png").empty()); }),
            "Error during allocating memory in kroLoadPNG(..)");
}

} // namespace
