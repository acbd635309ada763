// PNG container reader: the image data returned, checked with zlib on the PNG suite; the
// sample files and every refused file.
#include "gl_context.h"

#include <zlib.h>

#include <stdlib.h>

#include <algorithm>
#include <filesystem>

namespace {

struct PngTest : kroTestFailureFixture {};

const std::string kData = KRO_TEST_DATA "/png/", kSuite = KRO_TEST_DATA "/third-party/pngsuite/";

int32_t scratch[2];

// The first bytes of the returned buffer (all of it by default); empty when refused.
std::vector<uint8_t> load(const std::string &path, int32_t *size = scratch,
                          size_t bytes = KRO_PNG_BUFFER_BYTES) {
  uint8_t *buffer = kroLoadPNG(path.c_str(), size);
  std::vector<uint8_t> out(buffer, buffer ? buffer + bytes : buffer);
  free(buffer);
  return out;
}

// Not interlaced: the data inflates, to its end, to a filter byte and a packed
// row per line (zlib's checksum then vouches for every byte), and the buffer
// is clear past it.
void expectImageData(const std::string &path) {
  SCOPED_TRACE(path);
  kroPNGInfo info;
  ASSERT_EQ(kroLoadPNGInfo(path.c_str(), &info), 0);
  std::vector<uint8_t> loaded = load(path);
  ASSERT_EQ(loaded.empty(), info.interlace != 0); // interlaced: refused, as interlace-1.png
  if (info.interlace)
    return;
  const int channels[] = {1, 0, 3, 1, 2, 0, 4}; // by colour type
  size_t bits = (size_t)channels[info.color_type] * info.bit_depth;
  std::vector<uint8_t> raw((size_t)info.height * (1 + ((size_t)info.width * bits + 7) / 8) + 1);
  uLongf raw_bytes = raw.size();
  ASSERT_EQ(uncompress(raw.data(), &raw_bytes, loaded.data(), info.data_bytes), Z_OK);
  EXPECT_EQ(raw_bytes, raw.size() - 1);
  EXPECT_TRUE(std::all_of(loaded.begin() + info.data_bytes, loaded.end(),
                          [](uint8_t b) { return b == 0; }));
}

TEST_F(PngTest, SuiteAndSampleFilesGiveTheirImageData) {
  int files = 0;
  std::error_code error;
  for (auto &entry : std::filesystem::directory_iterator(kSuite, error)) // one refused below
    if (std::string name = entry.path().filename();
        entry.path().extension() == ".png" && name != "xs1n0g01.png")
      expectImageData(entry.path()), files++;
  EXPECT_GE(files, 20) << kSuite << ": " << error.message();
  expectImageData(kData + "split-basn6a16.png");

  // Text, gamma and palette chunks are stepped over; bytes after the end chunk are not read.
  EXPECT_EQ(load(kData + "ancillary.png", scratch, 11),
            (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0}));
  EXPECT_TRUE(scratch[0] == 7 && scratch[1] == 5);
  EXPECT_FALSE(load(kData + "signature-tail.png").empty()); // only 4 signature bytes count
  EXPECT_EQ(kroTestHookCalls, 2);                           // the two interlaced suite images
}

std::string chunk(const char *type, const std::string &payload) {
  uint32_t n = (uint32_t)payload.size();
  return std::string{(char)(n >> 24), (char)(n >> 16), (char)(n >> 8), (char)n} + type + payload +
         std::string(4, '\0');
}

// An image with two data chunks, 'a's then 'b's, extra bytes more than the buffer holds.
std::string pngWithData(const char *name, size_t extra) {
  std::string path = kroTestTempPath(name);
  kroTestWriteFile(path,
                   std::string("\x89PNG\r\n\x1a\n", 8) +
                       chunk("IHDR", std::string("\0\0\x03\x20\0\0\x02\x58\x08\x06\0\0\0", 13)) +
                       chunk("IDAT", std::string(1000000, 'a')) +
                       chunk("IDAT", std::string(KRO_PNG_BUFFER_BYTES - 1000000 + extra, 'b')) +
                       chunk("IEND", ""));
  return path;
}

TEST_F(PngTest, ImageDataFillsTheBufferButNeverPassesItAndHostileFilesAreRefused) {
  std::string full = pngWithData("full.png", 0), over = pngWithData("over.png", 1);
  std::vector<uint8_t> loaded = load(full);
  ASSERT_EQ(loaded.size(), (size_t)KRO_PNG_BUFFER_BYTES);
  EXPECT_TRUE(scratch[0] == 800 && scratch[1] == 600) << scratch[0] << " x " << scratch[1];
  EXPECT_EQ(std::string(loaded.begin() + 999999, loaded.begin() + 1000001) + (char)loaded.back(),
            "abb");

  // Message after the path, empty: the plain one; a message not starting with ':' stands alone.
  const std::pair<std::string, const char *> cases[] = {
      {kData + "no-such-file.png", ""},
      {kSuite + "xs1n0g01.png", ""},
      {kData + "idat-before-ihdr.png", ": image data before the IHDR chunk"},
      {kData + "no-iend.png", ": no IEND chunk"},
      {kData + "chunk-past-end.png", ": chunk runs past the end of the file"},
      {kData + "no-ihdr.png", ": no IHDR chunk"},
      {kData + "second-ihdr.png", ": second IHDR chunk"},
      {kData + "short-ihdr.png", ": bad IHDR chunk"},
      {kData + "zero-width.png", ": bad image size"},
      {over, ": image data larger than the buffer"},
      {kData + "compression-1.png", "Not known compression method in kroLoadPNG(..)"},
      {kData + "interlace-1.png", "Not known interlace method in kroLoadPNG(..)"},
      {kData + "two-idat.png", "Error during allocating memory in kroLoadPNG(..)"}};
  for (auto &[path, message] : cases) {
    std::string plain = "Error in reading texture from " + path + " in function kroLoadPNG(..)";
    int32_t size[2] = {-1, -1};
    kroTestExpectReport([&] { EXPECT_TRUE(load(path, size).empty()); },
                        message[0] && message[0] != ':' ? message : plain + message + "\n",
                        strstr(message, "allocating") ? 1 : 0);
    EXPECT_EQ(size[0], 0) << path;
  }
}

} // namespace
