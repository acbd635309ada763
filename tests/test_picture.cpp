// Pictures: every PNG kind against stb_image's expansion to 8-bit RGBA, BMP variants against
// ImageMagick's (or stb_image's) reading, hostile files refused before any allocation or
// out-of-bounds access, textures read back from GL, and `krotool image-info`.
#include "gl_context.h"

#include <stb/stb_image.h>
#include <stb/stb_image_write.h>
#include <zlib.h>

#include <filesystem>
#include <string.h>
#include <tuple>

namespace {

struct PictureTest : kroTestFailureFixture {};
struct TextureTest : kroTestGLFailureFixture {};

const std::string kData = KRO_TEST_DATA "/";

std::vector<std::string> filesIn(const std::string &folder, const std::string &ending) {
  std::vector<std::string> paths;
  for (const auto &entry : std::filesystem::directory_iterator(kData + folder))
    if (entry.path().extension() == ending)
      paths.push_back(entry.path().string());
  std::sort(paths.begin(), paths.end());
  return paths;
}

// A decoded picture, held as bytes; empty with the reason when refused.
struct Picture {
  int32_t size[2] = {-1, -1};
  std::vector<uint8_t> pixels;
  std::string why;
  long allocations = 0; // made by the decoder
};

// The memory decoder over an exactly sized copy, so that any read past the end is caught.
Picture decode(const std::string &bytes) {
  Picture picture;
  std::vector<uint8_t> copy(bytes.begin(), bytes.end());
  char why[KRO_PICTURE_REASON_CHARS];
  kroFailAllocationAfter(0);
  uint8_t *pixels =
      kroDecodePictureMemory(copy.data(), copy.size(), picture.size, nullptr, why, sizeof why);
  picture.allocations = kroFailAllocationAfter(0);
  picture.why = why;
  if (pixels)
    picture.pixels.assign(pixels, pixels + (size_t)picture.size[0] * picture.size[1] * 4);
  free(pixels);
  return picture;
}

// stb_image's reading of a picture as 8-bit RGBA (16-bit samples cut to their high byte), top
// row first, when it is `width` x `height`; "" else.
std::string stbPixels(const std::string &path, int32_t width, int32_t height) {
  int w = 0, h = 0, n = 0;
  uint8_t *read = stbi_load(path.c_str(), &w, &h, &n, 4);
  std::string rows;
  if (read && w == width && h == height)
    rows.assign((const char *)read, (size_t)w * h * 4);
  stbi_image_free(read);
  return rows;
}

// A PNG that stb_image_write writes with the row filters it chooses: gradients with a little
// noise from a fixed seed; `channels` 3 or 4, 8 bits.
std::string stbWritten(const std::string &name, int width, int height, int channels) {
  std::string path = kroTestTempPath(name);
  std::vector<uint8_t> pixels((size_t)width * height * channels);
  size_t row = (size_t)width * channels;
  uint32_t state = 28;
  for (size_t i = 0; i < pixels.size(); i++) {
    state = state * 1664525u + 1013904223u;
    pixels[i] = (uint8_t)((i % row / channels + i / row) * (i % channels + 1) + (state >> 29));
  }
  EXPECT_NE(stbi_write_png(path.c_str(), width, height, channels, pixels.data(), (int)row), 0);
  return path;
}

std::string big32(uint32_t value) {
  std::string out;
  for (int shift = 24; shift >= 0; shift -= 8)
    out += (char)(value >> shift);
  return out;
}

std::string chunk(const char *type, const std::string &data) {
  std::string body = std::string(type, 4) + data;
  return big32((uint32_t)data.size()) + body +
         big32((uint32_t)crc32(0, (const Bytef *)body.data(), (uInt)body.size()));
}

std::string deflated(const std::string &raw) {
  uLongf bytes = compressBound(raw.size());
  std::string out(bytes, '\0');
  compress((Bytef *)&out[0], &bytes, (const Bytef *)raw.data(), raw.size());
  out.resize(bytes);
  return out;
}

// A PNG whose chunks are all sound (right CRCs) around the image data `stream`.
std::string png(uint32_t width, uint32_t height, int depth, int colour, const std::string &stream,
                const std::string &extra = "") {
  std::string header =
      big32(width) + big32(height) + std::string{(char)depth, (char)colour, 0, 0, 0};
  return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) + extra +
         chunk("IDAT", stream) + chunk("IEND", "");
}

// The reference pixels of a picture, bottom row first: for a BMP variant ImageMagick's dump beside
// it (RGBA, top row first), or for the files it reads wrongly (see make-variants.py) another
// reading; for a PNG (and a BMP without a dump) stb_image's reading.
std::vector<uint8_t> reference(const std::string &path, int32_t width, int32_t height) {
  std::string stem = path.substr(0, path.size() - 4), dump;
  if (kroTestHas(stem, "argb-alpha-fields"))
    dump = kroTestReadFile(kData + "bmp/variants/bgra32.rgba");
  else if (kroTestHas(stem, "xbgr-fields-52"))
    dump = kroTestReadFile(kData + "bmp/variants/xbgr-fields-56.rgba");
  else if (kroTestFileExists(stem + ".rgba"))
    dump = kroTestReadFile(stem + ".rgba");
  else
    dump = stbPixels(path, width, height);
  std::vector<uint8_t> rows;
  if (dump.size() != (size_t)width * height * 4)
    return rows;
  for (int32_t y = height - 1; y >= 0; y--)
    rows.insert(rows.end(), dump.begin() + (size_t)y * width * 4,
                dump.begin() + (size_t)(y + 1) * width * 4);
  return rows;
}

// Every PNG kind against libpng's expansion, every BMP variant against its reference pixels.
TEST_F(PictureTest, EveryPictureDecodesToItsReferencePixels) {
  std::vector<std::string> files = filesIn("png/kinds", ".png");
  for (const std::string &path : filesIn("third-party/pngsuite", ".png"))
    if (path.find("/x") == std::string::npos) // x*: the suite's damaged files
      files.push_back(path);
  files.push_back(kData + "png/split-basn6a16.png");
  // Rows inflated over more than one strip, with the filters stb_image_write picks.
  files.push_back(stbWritten("strips-rgb.png", 301, 700, 3));
  files.push_back(stbWritten("strips-rgba.png", 257, 600, 4));
  for (const std::string &path : filesIn("bmp/variants", ".bmp"))
    files.push_back(path);
  for (const char *name : {"gradient-13x7-padded.bmp", "palette-8bit-16x8.bmp",
                           "rgb565-16bit-16x8.bmp", "rgba-32bit-16x8.bmp"})
    files.push_back(kData + "bmp/imagemagick/" + name);
  ASSERT_GE(files.size(), 94u);
  for (const std::string &path : files) {
    SCOPED_TRACE(path);
    Picture picture = decode(kroTestReadFile(path));
    EXPECT_EQ(picture.why, "");
    std::vector<uint8_t> expected = reference(path, picture.size[0], picture.size[1]);
    ASSERT_FALSE(expected.empty());
    EXPECT_TRUE(picture.pixels == expected);
  }
}

// Little-endian 32-bit value written into a file at `offset`.
std::string patched(std::string file, size_t offset, uint32_t value, int bytes = 4) {
  std::string little;
  for (int i = 0; i < bytes; i++)
    little += (char)(value >> (8 * i));
  return file.replace(offset, little.size(), little);
}

// Hostile PNG and BMP files are refused with their reason, without reading past the file, and
// allocate the picture (for the PNG row kinds a row buffer too) only after the file was read.
TEST_F(PictureTest, HostileFilesAreRefusedWithoutReadingPastTheFile) {
  std::string row = std::string(1, '\0') + std::string(8, '\x7F'); // 2 x 1 RGBA, filter none
  std::string good = deflated(row), cut = good.substr(0, 4);
  std::string wrong_sum = good;
  wrong_sum.back() ^= 1;
  std::string palette = chunk("PLTE", std::string(6, '\x10')); // two entries
  std::string bomb = deflated(std::string(8 << 20, '\0'));     // 8 MiB of rows for 2 x 1
  std::string rle8 = kroTestReadFile(kData + "bmp/variants/rle8.bmp");
  std::string rle4 = kroTestReadFile(kData + "bmp/variants/rle4.bmp");
  std::string pal8 = kroTestReadFile(kData + "bmp/variants/palette-8bit-40-colours.bmp");
  std::string fields = kroTestReadFile(kData + "bmp/variants/rgb565-fields.bmp");
  uint32_t rle8_data = (uint8_t)rle8[10] | (uint8_t)rle8[11] << 8;
  uint32_t rle4_data = (uint8_t)rle4[10] | (uint8_t)rle4[11] << 8;
  // Name, file, reason, whether the picture was allocated before the refusal.
  const std::tuple<const char *, std::string, const char *, bool> cases[] = {
      {"sound", png(2, 1, 8, 6, good), "", true},
      {"too large", png(65536, 65536, 8, 6, good), "more than the engine takes", false},
      {"more than the data makes", png(2000, 2000, 8, 6, good), "cannot inflate", false},
      {"stream cut", png(2, 1, 8, 6, cut), "ends before the last row", true},
      {"checksum", png(2, 1, 8, 6, wrong_sum), "zlib checksum", true},
      {"preset dictionary", png(2, 1, 8, 6, "\x78\xBB" + good.substr(2)), "zlib header 0x78BB",
       true},
      {"one row missing", png(2, 2, 8, 6, good), "ends before the last row", true},
      {"bomb", png(2, 1, 8, 6, bomb), "more image data than the picture's rows", true},
      {"filter 5", png(2, 1, 8, 6, deflated("\5" + row.substr(1))), "filter type 5", true},
      {"index past palette", png(2, 1, 8, 3, deflated(std::string("\0\1\2", 3)), palette),
       "palette index 2 past the palette's 2 entries", true},
      {"long tRNS", png(2, 1, 8, 3, good, palette + chunk("tRNS", "abc")),
       "tRNS: 3 entries, more than the palette's 2", false},
      {"tRNS with alpha", png(2, 1, 8, 6, good, chunk("tRNS", "ab")), "not allowed", false},
      {"BMP too large", patched(patched(pal8, 18, 0x10000), 22, 0x10000),
       "more than the engine takes", false},
      {"BMP index past palette", patched(pal8, 46, 20), "past the palette's 20 colours", true},
      {"palette over depth", patched(pal8, 46, 257), "a palette of 257 colours", false},
      {"RLE8 run past row", patched(rle8, rle8_data, 14, 1),
       "run of 14 pixels past the row at (0, 0)", true},
      {"RLE4 run past row", patched(rle4, rle4_data, 14, 1),
       "run of 14 pixels past the row at (0, 0)", true},
      {"RLE8 delta past picture", patched(rle8, rle8_data, 0x00FF0200), "past the picture", true},
      {"RLE8 without end", rle8.substr(0, rle8.size() - 2), "cut short before its end mark", true},
      {"RLE8 bomb", patched(patched(rle8, 18, 5000), 22, 5000), "cannot cover 5000 x 5000", false},
      {"rows past the end", patched(pal8, 22, 8), "pixel data cut short", false},
      {"RLE top-down", patched(rle8, 22, (uint32_t)-7), "cannot be stored top-down", false},
      {"mask with a gap", patched(fields, 54, 0xF00F), "not one run of bits", false},
      {"header 64", patched(pal8, 14, 64), "information header of 64 bytes", false},
      {"data offset past end", patched(pal8, 10, 100000), "pixel data offset", false},
  };
  for (const auto &[name, file, reason, allocates] : cases) {
    SCOPED_TRACE(name);
    Picture picture = decode(file);
    EXPECT_EQ(picture.pixels.empty(), reason[0] != '\0');
    EXPECT_TRUE(kroTestHas(picture.why, reason)) << picture.why;
    EXPECT_EQ(picture.allocations > 0, allocates) << picture.allocations;
  }
  // Every file cut anywhere before its first row ends, and a run-length file cut anywhere.
  for (const std::string &path : filesIn("bmp/variants", ".bmp")) {
    std::string file = kroTestReadFile(path);
    uint32_t data = (uint8_t)file[10] | (uint8_t)file[11] << 8;
    size_t end = kroTestHas(path, "rle") ? file.size() : data + 4;
    for (size_t cut = 0; cut < end; cut++)
      if (!decode(file.substr(0, cut)).pixels.empty())
        ADD_FAILURE() << path << " cut to " << cut << " bytes was taken";
  }
}

TEST_F(TextureTest, TextureHoldsThePictureWithMipmapsAndRepeatsAndLeavesTheBindingAlone) {
  std::string path = kData + "png/kinds/c0d16nt-7x5.png"; // not a power of two, transparent
  int32_t size[2];
  uint8_t *decoded = kroLoadPicture(path.c_str(), size);
  ASSERT_NE(decoded, nullptr);
  std::vector<uint8_t> expected(decoded, decoded + (size_t)size[0] * size[1] * 4);
  free(decoded);
  GLuint other;
  glGenTextures(1, &other);
  glBindTexture(GL_TEXTURE_2D, other);
  GLuint texture = kroLoadTexture(path.c_str());
  ASSERT_NE(texture, 0u);
  GLint bound = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  EXPECT_EQ((GLuint)bound, other);
  glBindTexture(GL_TEXTURE_2D, texture);
  std::vector<uint8_t> level0(expected.size());
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, level0.data());
  EXPECT_TRUE(level0 == expected);
  // The chain goes down to 1 x 1: 7 x 5, 3 x 2, 1 x 1.
  GLint width = 0, height = 0;
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 2, GL_TEXTURE_WIDTH, &width);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 2, GL_TEXTURE_HEIGHT, &height);
  EXPECT_EQ(width * 10 + height, 11);
  GLint value;
  for (auto [name, wanted] : {std::pair<GLenum, GLint>{GL_TEXTURE_WRAP_S, GL_REPEAT},
                              {GL_TEXTURE_WRAP_T, GL_REPEAT},
                              {GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR}}) {
    glGetTexParameteriv(GL_TEXTURE_2D, name, &value);
    EXPECT_EQ(value, wanted) << name;
  }
  kroDestroyTexture(&texture);
  EXPECT_EQ(texture, 0u);
  glDeleteTextures(1, &other);
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);

  GLint largest = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largest);
  int32_t too_wide[2] = {largest + 1, 1};
  kroTestExpectReport([&] { EXPECT_EQ(kroCreateTexture(nullptr, too_wide), 0u); },
                      "Error in making a texture of a bitmap in function kroCreateTexture(..): " +
                          std::to_string(largest + 1) + " x 1 pixels, the driver takes 1 to " +
                          std::to_string(largest) + " a side\n");
  // A missing or damaged picture: decoding prints nothing and calls no hook; loading reports.
  for (auto [name, reason] :
       {std::pair<std::string, std::string>{"no-such-picture.png", "No such file or directory"},
        {"damaged/crc-idat.png", "IDAT: CRC"}}) {
    std::string path = kData + "png/" + name;
    SCOPED_TRACE(path);
    char why[KRO_PICTURE_REASON_CHARS];
    int32_t size[2] = {5, 5};
    int hooks = kroTestHookCalls;
    std::string quiet = kroTestCaptured(
        [&] { EXPECT_EQ(kroDecodePicture(path.c_str(), size, why, sizeof why), nullptr); });
    EXPECT_EQ(quiet, "");
    EXPECT_EQ(kroTestHookCalls, hooks);
    EXPECT_EQ(size[0] | size[1], 0);
    EXPECT_TRUE(kroTestHas(why, reason)) << why;
    kroTestExpectReport([&] { EXPECT_EQ(kroLoadTexture(path.c_str()), 0u); },
                        "Error in reading picture from " + path +
                            " in function kroLoadPicture(..): " + why + "\n");
  }
}

TEST(ImageInfo, ToolDescribesTheFileAndWhatItBecame) {
  const std::tuple<const char *, int, const char *> cases[] = {
      // file, status, what it prints
      {"png/kinds/c3d04it-11x9.png", 0,
       "format: PNG, palette, 4 bits, transparency, interlaced\nsize: 11 x 9"},
      {"third-party/pngsuite/basn4a16.png", 0, "16-bit samples reduced to their high byte"},
      {"bmp/variants/rle4.bmp", 0, "format: BMP, RLE4, 4 bits, 40-byte header\nsize: 13 x 7"},
      {"png/damaged/crc-ihdr.png", 1, "IHDR: CRC 0x000004D2 does not match"},
  };
  for (const auto &[file, status, out] : cases) {
    SCOPED_TRACE(file);
    kroTestOutcome outcome =
        kroTestRun(std::string(KROTOOL_PATH) + " image-info '" + kData + file + "'");
    EXPECT_EQ(outcome.status, status) << outcome.err;
    EXPECT_TRUE(kroTestHas(outcome.out + outcome.err, out)) << outcome.out << outcome.err;
  }
}

} // namespace
