// Pictures and what the engine makes of them: the decoder and the older readers on one set of
// files, BMP writing and resampling, the PNG checker, out files, textures, heightmaps, KROF fonts
// and `krotool image-info`; every refused file or request.
#include "gl_context.h"

#include <math.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <random>
#include <string.h>
#include <tuple>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stb/stb_image.h>
#include <stb/stb_image_write.h>

namespace {

struct PictureTest : kroTestFailureFixture {};
struct GLPictureTest : kroTestGLFailureFixture {};

const std::string kData = KRO_TEST_DATA "/", kPng = kData + "png/";

// Copies a returned bitmap out and releases it.
std::vector<uint8_t> take(uint8_t *pixels, size_t bytes) {
  std::vector<uint8_t> out(pixels, pixels ? pixels + bytes : pixels);
  free(pixels);
  return out;
}

int32_t scratch[2]; // the size an older reader gives

// What an older reader gives, by the file's ending: the pixels of a BMP, or the first `bytes` of
// the PNG reader's buffer (all of it by default); empty when refused.
std::vector<uint8_t> load(const std::string &path, size_t bytes = KRO_PNG_BUFFER_BYTES) {
  if (kroTestHas(path, ".png"))
    return take(kroLoadPNG(path.c_str(), scratch), bytes);
  uint8_t *pixels = kroLoadBMP(path.c_str(), scratch);
  return take(pixels, (size_t)scratch[0] * scratch[1] * 4);
}

// The PNG and BMP files in a folder, sorted.
std::vector<std::string> filesIn(const std::string &folder) {
  std::vector<std::string> paths;
  for (const auto &entry : std::filesystem::directory_iterator(kData + folder))
    if (entry.path().extension() == ".png" || entry.path().extension() == ".bmp")
      paths.push_back(entry.path().string());
  std::sort(paths.begin(), paths.end());
  return paths;
}

// RGBA rows given top row first, laid out as the engine lays them out: bottom row first.
std::vector<uint8_t> bottomUp(const uint8_t *top, size_t width, size_t height) {
  std::vector<uint8_t> rows;
  for (size_t y = height; top && y-- > 0;)
    rows.insert(rows.end(), top + y * width * 4, top + (y + 1) * width * 4);
  return rows;
}

// What another program's reader (stb_image) gets from a file as 8-bit RGBA (16-bit samples cut
// to their high byte), bottom row first; empty unless it is `width` x `height` when those are
// given. A file it cannot read fails the test.
std::vector<uint8_t> stbPixels(const std::string &path, int width = 0, int height = 0) {
  int w = 0, h = 0, channels = 0;
  uint8_t *read = stbi_load(path.c_str(), &w, &h, &channels, 4);
  EXPECT_NE(read, nullptr) << path << ": " << stbi_failure_reason();
  std::vector<uint8_t> rows = bottomUp(read, w, h);
  stbi_image_free(read);
  return width && (w != width || h != height) ? std::vector<uint8_t>() : rows;
}

// A decoded picture, held as bytes; empty with the reason when refused.
struct Picture {
  int32_t size[2] = {-1, -1};
  std::vector<uint8_t> pixels;
  std::string why;
  long allocations = 0; // made by the decoder
};

// The memory decoder over an exactly sized copy, so that any read past the end is caught; with
// allocation `fail` failing (0: none).
Picture decode(const std::string &bytes, long fail = 0) {
  Picture picture;
  std::vector<uint8_t> copy(bytes.begin(), bytes.end());
  char why[KRO_PICTURE_REASON_CHARS];
  kroFailAllocationAfter(fail);
  uint8_t *pixels =
      kroDecodePictureMemory(copy.data(), copy.size(), picture.size, nullptr, why, sizeof why);
  picture.allocations = kroFailAllocationAfter(0);
  picture.why = why;
  picture.pixels = take(pixels, (size_t)picture.size[0] * picture.size[1] * 4);
  return picture;
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
  return {(char)(value >> 24), (char)(value >> 16), (char)(value >> 8), (char)value};
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

// A PNG whose chunks are all sound (right CRCs): `extra` chunks, then the image data `stream`.
std::string png(uint32_t width, uint32_t height, int depth, int colour, const std::string &stream,
                const std::string &extra = "") {
  std::string header =
      big32(width) + big32(height) + std::string{(char)depth, (char)colour, 0, 0, 0};
  return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) + extra +
         chunk("IDAT", stream) + chunk("IEND", "");
}

// The reference pixels of a picture, bottom row first: for a BMP variant ImageMagick's dump beside
// it (RGBA, top row first), or for the files it reads wrongly (see make-variants.py) another
// reading; for a PNG (and a BMP without a dump) stb_image's reading, for rows left unpadded
// (which stb_image does not take) its reading of the same pixels padded.
std::vector<uint8_t> reference(const std::string &path, int32_t width, int32_t height) {
  std::string stem = path.substr(0, path.size() - 4);
  for (auto [wrong, instead] : {std::pair{"/argb-alpha-fields", "variants/bgra32"},
                                {"/xbgr-fields-52", "variants/xbgr-fields-56"},
                                {"/rgb101010-fields", "variants/rgb24"},
                                {"/unpadded-3x2", "padded-3x2"}})
    if (kroTestHas(stem, wrong))
      stem = kData + "bmp/" + instead;
  if (!kroTestFileExists(stem + ".rgba"))
    return stbPixels(stem + path.substr(path.size() - 4), width, height);
  std::string dump = kroTestReadFile(stem + ".rgba");
  if (dump.size() != (size_t)width * height * 4)
    return {};
  return bottomUp((const uint8_t *)dump.data(), width, height);
}

// Not interlaced: the older reader's image data inflates, to its end, to a filter byte and a
// packed row per line (zlib's checksum then vouches for every byte), and the buffer is clear past
// it. Interlaced: refused, as interlace-1.png.
void expectImageData(const std::string &path) {
  kroPNGInfo info;
  ASSERT_EQ(kroLoadPNGInfo(path.c_str(), &info), 0);
  std::vector<uint8_t> loaded = load(path);
  ASSERT_EQ(loaded.empty(), info.interlace != 0);
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

// Every PNG kind and BMP variant decodes to its reference pixels, and no BMP variant cut short
// is taken. The same files through the older readers: every BMP they take (24 bits,
// uncompressed, a header of 40 bytes or more) to the same pixels, and the image data of the
// suite's PNGs checked with zlib.
TEST_F(PictureTest, EveryPictureDecodesToItsReferencePixels) {
  std::vector<std::string> files;
  for (const char *folder :
       {"png/kinds", "third-party/pngsuite", "bmp/variants", "bmp/imagemagick"})
    for (const std::string &path : filesIn(folder))
      if (!kroTestHas(path, "/pngsuite/x")) // x*: the suite's damaged files
        files.push_back(path);
  for (const char *name : {"png/split-basn6a16.png", "bmp/unpadded-3x2.bmp", "bmp/padded-3x2.bmp",
                           "bmp/topdown-3x2.bmp"})
    files.push_back(kData + name);
  // Rows inflated over more than one strip, with the filters stb_image_write picks.
  files.push_back(stbWritten("strips-rgb.png", 301, 700, 3));
  files.push_back(stbWritten("strips-rgba.png", 257, 600, 4));
  ASSERT_GE(files.size(), 99u);
  for (const std::string &path : files) {
    SCOPED_TRACE(path);
    std::string file = kroTestReadFile(path);
    Picture picture = decode(file);
    EXPECT_EQ(picture.why, "");
    std::vector<uint8_t> expected = reference(path, picture.size[0], picture.size[1]);
    ASSERT_FALSE(expected.empty());
    EXPECT_TRUE(picture.pixels == expected);
    bool old_bmp = file[0] == 'B' && file[28] == 24 && file[30] == 0 && (uint8_t)file[14] >= 40;
    EXPECT_TRUE(!old_bmp || load(path) == expected);
    if (kroTestHas(path, "pngsuite/") || kroTestHas(path, "split-"))
      expectImageData(path);
    // A variant cut anywhere before its first row ends, or a run-length one cut anywhere: refused.
    size_t end =
        kroTestHas(path, "/rle") ? file.size() : ((uint8_t)file[10] | (uint8_t)file[11] << 8) + 4;
    for (size_t cut = 0; kroTestHas(path, "/variants/") && cut < end; cut++)
      if (!decode(file.substr(0, cut)).pixels.empty())
        ADD_FAILURE() << "cut to " << cut << " bytes was taken";
  }
  EXPECT_EQ(kroTestHookCalls, 2); // the older PNG reader refused the suite's interlaced files
  // Image data in chunks of 1 to 9 bytes each: the inflater reads ahead across them and the
  // checksum is split among them at every offset; the same pixels, rows given bottom first.
  std::string rows, bottom_first;
  for (int y = 0; y < 5; y++) {
    std::string row;
    for (int i = 0; i < 7 * 4; i++)
      row += (char)(y * 37 + i * i * 11);
    rows += '\0' + row, bottom_first = row + bottom_first;
  }
  uLongf deflated = compressBound(rows.size());
  std::string stream(deflated, 0);
  ASSERT_EQ(
      compress2((Bytef *)stream.data(), &deflated, (const Bytef *)rows.data(), rows.size(), 9),
      Z_OK);
  stream.resize(deflated);
  for (size_t size = 1; size <= 9; size++) {
    std::string before; // every chunk but the last
    size_t last = (stream.size() - 1) / size * size;
    for (size_t at = 0; at < last; at += size)
      before += chunk("IDAT", stream.substr(at, size));
    Picture split = decode(png(7, 5, 8, 6, stream.substr(last), before));
    EXPECT_EQ(split.why, "") << size;
    EXPECT_TRUE(split.pixels == std::vector<uint8_t>(bottom_first.begin(), bottom_first.end()))
        << size;
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
// Sound ones are refused when any of their allocations fails.
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
      {"sound grey", png(2, 1, 8, 0, deflated(std::string("\0\1\2", 3))), "", true},
      {"sound BMP", pal8, "", true},
      {"last row unpadded", pal8.substr(0, pal8.size() - 3), "", true},
      {"B, then not M", patched(pal8, 1, 'X', 1), "neither a PNG nor a BMP", false},
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
      {"grey tRNS for RGB", png(2, 1, 8, 2, good, chunk("tRNS", "ab")),
       "tRNS: length 2, expected 6 for colour type 2", false},
      {"zlib header cut", png(2, 1, 8, 6, "\x78"), "ends in the zlib header", true},
      {"bad block type", png(2, 1, 8, 6, "\x78\x9C\x07"), "damaged zlib stream (invalid block",
       true},
      {"checksum cut", png(2, 1, 8, 6, good.substr(0, good.size() - 2)),
       "cut short in its checksum", true},
      {"no last block", png(2, 1, 8, 6, std::string("\x78\x01\0\x09\0\xF6\xFF", 7) + row),
       "zlib stream is cut short after the last row", true},
      {"BMP two planes", patched(pal8, 26, 2, 2), "BMP: 2 colour planes, expected 1", false},
      {"BMP 7 bits", patched(pal8, 28, 7, 2), "7 bits per pixel with compression 0 is not", false},
      {"RLE8 of 4 bits", patched(rle8, 28, 4, 2), "4 bits per pixel with compression 1", false},
      {"fields of 24 bits", patched(fields, 28, 24, 2), "24 bits per pixel with compression 3",
       false},
      {"BMP width 0", patched(pal8, 18, 0), "BMP: bad size 0 x 7", false},
      {"BMP height 0", patched(pal8, 22, 0), "BMP: bad size 13 x 0", false},
      {"BMP height -2^31", patched(pal8, 22, 1u << 31), "bad size 13 x -2147483648", false},
      {"BMP too large", patched(patched(pal8, 18, 0x10000), 22, 0x10000),
       "more than the engine takes", false},
      {"BMP index past palette", patched(pal8, 46, 39), "index 39 past the palette's 39", true},
      {"RLE8 index past palette", patched(rle8, 46, 39), "index 39 past the palette's 39", true},
      {"palette over depth", patched(pal8, 46, 257), "a palette of 257 colours", false},
      {"RLE8 run past row", patched(rle8, rle8_data, 14, 1),
       "run of 14 pixels past the row at (0, 0)", true},
      {"RLE4 run past row", patched(rle4, rle4_data, 14, 1),
       "run of 14 pixels past the row at (0, 0)", true},
      {"RLE8 delta past picture", patched(rle8, rle8_data, 0x00FF0200), "past the picture", true},
      {"RLE8 delta below picture", patched(rle8, rle8_data, 0x08000200), "picture to (0, 8)", true},
      {"RLE8 without end", rle8.substr(0, rle8.size() - 2), "cut short before its end mark", true},
      {"RLE8 cut in a literal", rle8.substr(0, rle8_data + 6), "cut short in a literal run", true},
      {"palette past the file", patched(pal8, 46, 256), "the palette is cut short", false},
      {"RLE8 bomb", patched(patched(rle8, 18, 5000), 22, 5000), "cannot cover 5000 x 5000", false},
      {"rows past the end", patched(pal8, 22, 8), "pixel data cut short", false},
      {"RLE top-down", patched(rle8, 22, (uint32_t)-7), "cannot be stored top-down", false},
      {"mask with a gap", patched(fields, 54, 0xF00F), "not one run of bits", false},
      {"mask past 16 bits", patched(fields, 54, 0x10000), "wider than 16 bits", false},
      {"header 64", patched(pal8, 14, 64), "information header of 64 bytes", false},
      {"data offset past end", patched(pal8, 10, 100000), "pixel data offset", false},
      {"data in the masks", patched(fields, 10, 62), "pixel data offset 62 outside 66", false},
  };
  for (const auto &[name, file, reason, allocates] : cases) {
    SCOPED_TRACE(name);
    Picture picture = decode(file);
    EXPECT_EQ(picture.pixels.empty(), reason[0] != '\0');
    EXPECT_TRUE(kroTestHas(picture.why, reason)) << picture.why;
    EXPECT_EQ(picture.allocations > 0, allocates) << picture.allocations;
    for (long fail = 1; !reason[0] && fail <= picture.allocations; fail++) {
      Picture failed = decode(file, fail);
      EXPECT_TRUE(failed.pixels.empty() && failed.why == "out of memory") << fail << failed.why;
    }
  }
}

// What `call` (returning a result) printed, its result, errno's text and the hook calls, run
// where no file may grow past `limit` bytes.
std::string limitedOutcome(long limit, const std::function<int()> &call) {
  return kroTestWithFileLimit(limit, [&] {
    int hooks = kroTestHookCalls, returned = 0, error = 0;
    std::string printed = kroTestCaptured([&] { returned = call(), error = errno; });
    return printed + std::to_string(returned) + ", " + strerror(error) + ", hook " +
           std::to_string(kroTestHookCalls - hooks);
  });
}

// An odd width: the header, rows padded to 4 bytes with zeros, and another program's reader gets
// every pixel back, blue, green, red. Sizes the reader would refuse are refused before anything
// is opened, the products in 64 bits; a file that cannot be opened, a failed row allocation and a
// write that fails (the file size limit) are reported. Each leaves the old file as it was, with
// no other file beside it.
TEST_F(PictureTest, BmpExportPadsRowsAndItsRefusalsAndFailuresLeaveTheOldFile) {
  int32_t odd[2] = {33, 17};
  std::vector<uint8_t> pixels((size_t)33 * 17 * 4);
  std::mt19937 random(33);
  for (size_t i = 0; i < pixels.size(); i++)
    pixels[i] = i % 4 == 3 ? 255 : (uint8_t)random();
  std::string dir = kroTestTempFolder("export"), path = dir + "/out.bmp",
              lost = dir + "/missing/out.bmp";
  ASSERT_EQ(kroExportBMP(path.c_str(), pixels.data(), odd), 0);
  std::string bytes = kroTestReadFile(path);
  EXPECT_EQ(bytes.size(), 54u + 100 * 17);
  EXPECT_EQ(bytes.substr(0, 54),
            std::string("BM\xda\x06\0\0\0\0\0\0\x36\0\0\0\x28\0\0\0\x21\0\0\0\x11\0\0\0\x01\0\x18\0"
                        "\0\0\0\0\0\0\0\0\x40\0\0\0\x40\0\0\0\0\0\0\0\0\0\0\0",
                        54));
  for (int row = 0; row < 17; row++) // the padding byte after 99 pixel bytes
    EXPECT_EQ(bytes[54 + 100 * row + 99], 0) << row;
  EXPECT_EQ(stbPixels(path, 33, 17), pixels);

  const uint8_t pixel[4] = {1, 2, 3, 255};
  const int32_t sizes[][2] = {{600000000, 1}, {46341, 46341}, {1, KRO_BMP_MAX_PIXELS + 1},
                              {0, 4},         {4, 0},         {-3, 2}};
  for (const int32_t *size : sizes)
    kroTestExpectReport([&] { EXPECT_EQ(kroExportBMP(path.c_str(), pixel, size), EOF); },
                        "Error in kroExportBMP(..) with bitmap size " + std::to_string(size[0]) +
                            " x " + std::to_string(size[1]) + " for file: " + path + "\n");
  int32_t size[2] = {2000, 2000};
  pixels.assign((size_t)size[0] * size[1] * 4, 90);
  kroTestExpectReport([&] { EXPECT_EQ(kroExportBMP(lost.c_str(), pixels.data(), size), EOF); },
                      "Error in kroExportBMP(..) during opening file: " + lost + "\n");
  kroTestExpectReport([&] { EXPECT_EQ(kroExportBMP(path.c_str(), pixels.data(), size), EOF); },
                      "Error during allocating memory in kroExportBMP(..)\n", 1);
  EXPECT_EQ(limitedOutcome(65536, [&] { return kroExportBMP(path.c_str(), pixels.data(), size); }),
            "Error in kroExportBMP(..) during writing file: " + path +
                "\n-1, File too large, hook 1");
  EXPECT_EQ(kroTestReadFile(path), bytes);
  EXPECT_EQ(kroTestListing(dir), "out.bmp\n");
}

// An 800 x 600 image with two data chunks, 'a's then 'b's, `extra` bytes more than the older
// PNG reader's buffer holds.
std::string pngWithData(const char *name, size_t extra) {
  std::string path = kroTestTempPath(name);
  kroTestWriteFile(path,
                   png(800, 600, 8, 6, std::string(KRO_PNG_BUFFER_BYTES - 1000000 + extra, 'b'),
                       chunk("IDAT", std::string(1000000, 'a'))));
  return path;
}

// A named pipe made at `path` holding `bytes`, held open for writing by the returned descriptor so
// that opening it to read does not wait; a picture reader cannot tell its size.
int heldPipe(const std::string &path, const std::string &bytes = "") {
  EXPECT_EQ(mkfifo(path.c_str(), 0666), 0) << path;
  int held = open(path.c_str(), O_RDWR | O_NONBLOCK);
  EXPECT_EQ(write(held, bytes.data(), bytes.size()), (ssize_t)bytes.size());
  return held;
}

// The older readers: text, gamma and palette chunks are stepped over, bytes after the end chunk
// are not read, only 4 signature bytes count, and image data fills the buffer to its last byte
// but never past it. Each refusal with its files: after "Error in reading texture from <path>
// in function kroLoadBMP(..)" (or kroLoadPNG) when empty or starting with ':', else alone; an
// allocation message with the first allocation failing.
TEST_F(PictureTest, OldReadersFillTheirBufferAndRefuseHostileFilesWithTheirReason) {
  EXPECT_EQ(load(kPng + "ancillary.png", 11),
            (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0}));
  EXPECT_TRUE(scratch[0] == 7 && scratch[1] == 5);
  EXPECT_FALSE(load(kPng + "signature-tail.png").empty());
  std::vector<uint8_t> loaded = load(pngWithData("full.png", 0));
  ASSERT_EQ(loaded.size(), (size_t)KRO_PNG_BUFFER_BYTES);
  EXPECT_TRUE(scratch[0] == 800 && scratch[1] == 600) << scratch[0] << " x " << scratch[1];
  EXPECT_EQ(std::string(loaded.begin() + 999999, loaded.begin() + 1000001) + (char)loaded.back(),
            "abb");
  std::string pipe = kroTestTempPath("pipe.bmp");
  int held = heldPipe(pipe, kroTestReadFile(kData + "bmp/sample-4x2.bmp")); // never read

  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {"",
       {"bmp/no-such-file.bmp", "png/no-such-file.png", "third-party/pngsuite/xs1n0g01.png", pipe}},
      {"Error during allocating memory in function kroLoadBMP(..)\n", {"bmp/sample-4x2.bmp"}},
      {": not a BMP file", {"bmp/bad-signature.bmp", "bmp/header-cut.bmp"}},
      {": compressed pixel data", {"bmp/compressed.bmp"}},
      {": bad width or height", {"bmp/zero-width.bmp", "bmp/min-height.bmp", "bmp/overflow.bmp"}},
      {": pixel data cut short", {"bmp/truncated.bmp"}},
      // Palette, 5-6-5 bit fields behind a 124-byte header, and 32 bits with alpha.
      {": not 24 bits per pixel",
       {"bmp/imagemagick/palette-8bit-16x8.bmp", "bmp/imagemagick/rgb565-16bit-16x8.bmp",
        "bmp/imagemagick/rgba-32bit-16x8.bmp"}},
      {": unsupported header or pixel data offset",
       {"bmp/bad-offset.bmp", "bmp/offset-past-end.bmp", "bmp/core-header.bmp"}},
      {": image data before the IHDR chunk", {"png/idat-before-ihdr.png"}},
      {": no IEND chunk", {"png/no-iend.png"}},
      {": chunk runs past the end of the file", {"png/chunk-past-end.png"}},
      {": no IHDR chunk", {"png/no-ihdr.png"}},
      {": second IHDR chunk", {"png/second-ihdr.png"}},
      {": bad IHDR chunk", {"png/short-ihdr.png"}},
      {": bad image size", {"png/zero-width.png"}},
      {": image data larger than the buffer", {pngWithData("over.png", 1)}},
      {"Not known compression method in kroLoadPNG(..)", {"png/compression-1.png"}},
      {"Not known interlace method in kroLoadPNG(..)", {"png/interlace-1.png"}},
      {"Error during allocating memory in kroLoadPNG(..)", {"png/two-idat.png"}}};
  for (const auto &[message, names] : cases)
    for (const std::string &name : names) {
      std::string path = name[0] == '/' ? name : kData + name;
      bool png = kroTestHas(name, ".png");
      std::string plain = "Error in reading texture from " + path + " in function kroLoad" +
                          (png ? "PNG" : "BMP") + "(..)" + message + "\n";
      int32_t size[2] = {7, 7};
      uint8_t *pixels = nullptr;
      kroTestExpectReport([&] { pixels = (png ? kroLoadPNG : kroLoadBMP)(path.c_str(), size); },
                          message.empty() || message[0] == ':' ? plain : message,
                          kroTestHas(message, "allocating"));
      EXPECT_TRUE(pixels == nullptr && size[0] == 0 && size[1] == 0) << name;
      free(pixels);
    }
  close(held);
  kroPNGInfo info;
  std::string missing = kPng + "no-such-file.png";
  kroTestExpectReport([&] { EXPECT_EQ(kroLoadPNGInfo(missing.c_str(), &info), -1); },
                      "Error in reading texture from " + missing +
                          " in function kroLoadPNGInfo(..)\n");
}

// ---- output files ------------------------------------------------------------

// Writes text through an out file and commits it, running `meanwhile` on the
// way with the text flushed; the begin's or the commit's result.
int replaceWith(const std::string &path, const std::string &text, kroOutFile *out,
                const std::function<void()> &meanwhile = nullptr) {
  if (kroBeginOutFile(out, path.c_str()) != 0)
    return -1;
  fputs(text.c_str(), out->file);
  fflush(out->file);
  if (meanwhile)
    meanwhile();
  return kroCommitOutFile(out);
}

mode_t modeOf(const std::string &path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// A destination is replaced whole or left as it was. A linked destination stays a link (through
// any number of links, relative to each link's folder) and its final target is replaced with its
// mode kept; a dangling link gets its target made; a pipe is written into.
TEST(OutFile, DestinationIsReplacedWholeOrLeftAsItWasAndLinksStayLinks) {
  std::string dir = kroTestTempFolder("out-file"), path = dir + "/picture.bmp",
              real = dir + "/real/font.krof";
  mode_t mask = umask(0);
  umask(mask);
  kroOutFile out;
  // A new file: nothing at the destination before the commit, an ordinary file's mode after.
  EXPECT_EQ(replaceWith(path, "first", &out, [&] { EXPECT_FALSE(kroTestFileExists(path)); }), 0);
  EXPECT_EQ(modeOf(path), 0666 & ~mask);
  // An existing file keeps its content until the commit, and its mode after.
  ASSERT_EQ(chmod(path.c_str(), 0604), 0);
  EXPECT_EQ(replaceWith(path, "third", &out, [&] { EXPECT_EQ(kroTestReadFile(path), "first"); }),
            0);
  EXPECT_EQ(kroTestReadFile(path), "third");
  EXPECT_EQ(modeOf(path), 0604);
  // Where writing cannot begin, nothing is made and error says why.
  const std::pair<std::string, int> refused[] = {
      {dir, EISDIR}, {dir + "/missing/x.bmp", ENOENT}, {std::string(5000, 'x'), ENAMETOOLONG}};
  for (const auto &[where, error] : refused) {
    EXPECT_EQ(kroBeginOutFile(&out, where.c_str()), -1);
    EXPECT_EQ(out.error, error) << where;
    kroAbortOutFile(&out);
  }
  // A name near the system's longest: the new file beside it keeps only part of it, made and
  // then replacing the old one.
  std::string longest = std::string(250, 'n');
  for (const char *text : {"long", "longer"})
    EXPECT_EQ(replaceWith(dir + "/" + longest, text, &out), 0);
  EXPECT_EQ(kroTestReadFile(dir + "/" + longest), "longer");

  ASSERT_EQ(mkdir((dir + "/real").c_str(), 0777), 0);
  kroTestWriteFile(real, "old");
  ASSERT_EQ(chmod(real.c_str(), 0640), 0);
  for (const auto &[link, to] : {std::pair{"/near", "real/font.krof"},
                                 {"/far", "near"},
                                 {"/dangling", "real/made.krof"},
                                 {"/loop", "loop"}})
    ASSERT_EQ(symlink(to, (dir + link).c_str()), 0);
  EXPECT_EQ(replaceWith(dir + "/far", "new", &out), 0);
  EXPECT_EQ(std::string(out.target), real);
  EXPECT_TRUE(kroTestLinkText(dir + "/far") == "near" &&
              kroTestLinkText(dir + "/near") == "real/font.krof");
  EXPECT_EQ(kroTestReadFile(real), "new");
  EXPECT_EQ(modeOf(real), 0640);
  EXPECT_EQ(replaceWith(dir + "/dangling", "made", &out), 0);
  EXPECT_EQ(kroTestLinkText(dir + "/dangling"), "real/made.krof");
  EXPECT_EQ(kroTestReadFile(dir + "/real/made.krof"), "made");
  EXPECT_EQ(replaceWith(dir + "/loop", "never", &out), -1);
  EXPECT_EQ(out.error, ELOOP);

  std::string pipe = dir + "/pipe";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0666), 0);
  int reader = open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  EXPECT_EQ(replaceWith(pipe, "through", &out), 0);
  char got[16] = {};
  EXPECT_EQ(read(reader, got, sizeof got), 7);
  EXPECT_EQ(std::string(got), "through");
  close(reader);
  EXPECT_EQ(kroTestListing(dir),
            "dangling\nfar\nloop\nnear\n" + longest + "\npicture.bmp\npipe\nreal\n");
  EXPECT_EQ(kroTestListing(dir + "/real"), "font.krof\nmade.krof\n");
}

// Two files written as one under a file size limit: the header fits, the source does not.
// Neither is replaced; under a larger limit both are. An abort gives the failed write's reason
// too. No new file is left by any of them.
TEST(OutFile, AFailedWriteLeavesEveryDestinationAsItWas) {
  std::string dir = kroTestTempFolder("out-limit"), header = dir + "/mesh.h",
              source = dir + "/mesh.cpp";
  kroTestWriteFile(header, "old header");
  kroTestWriteFile(source, "old source");
  // Both written, then committed or (`aborting`) aborted: the commit's result and both errors.
  auto writeBoth = [&](bool aborting) {
    kroOutFile outs[2];
    if (kroBeginOutFile(&outs[0], header.c_str()) || kroBeginOutFile(&outs[1], source.c_str()))
      return std::string("no begin");
    fputs("new header", outs[0].file);
    fputs(std::string(10000, 's').c_str(), outs[1].file);
    int committed = 0;
    if (aborting)
      kroAbortOutFile(&outs[0]), kroAbortOutFile(&outs[1]);
    else
      committed = kroCommitOutFiles(outs, 2);
    return std::to_string(committed) + " " + std::to_string(outs[0].error) + " " +
           std::to_string(outs[1].error);
  };
  for (bool aborting : {false, true})
    EXPECT_EQ(kroTestWithFileLimit(4096, [&] { return writeBoth(aborting); }),
              (aborting ? "0 0 " : "-1 0 ") + std::to_string(EFBIG));
  EXPECT_EQ(kroTestReadFile(header), "old header");
  EXPECT_EQ(kroTestReadFile(source), "old source");
  EXPECT_EQ(kroTestWithFileLimit(16384, [&] { return writeBoth(false); }), "0 0 0");
  EXPECT_EQ(kroTestReadFile(header), "new header");
  EXPECT_EQ(kroTestReadFile(source), std::string(10000, 's'));
  EXPECT_EQ(kroTestListing(dir), "mesh.cpp\nmesh.h\n");
}

// One line of the filter exactly as its steps read: a running float span. Past
// 8,192 target pixels the float steps can run a span's start to the line's end
// itself: that span is the line's last pixel.
void literalLine(const uint8_t *in, size_t in_step, int n, uint8_t *out, size_t out_step, int m) {
  float step = (float)n / (float)m, a = 0, b = step;
  for (int i = 0; i < m; i++, a = b, b = b + step) {
    if (b > n)
      b = (float)(n - 0.00001);
    int ia = (int)a, ib = (int)b;
    if (ia >= n)
      ia = ib = n - 1;
    double tail = (double)b - ib;
    for (int c = 0; c < 4; c++) {
      int sum = (int)(in[ia * in_step + c] * ((double)(ia + 1) - a) +
                      (tail == 0 ? 0 : in[ib * in_step + c] * tail));
      for (int k = ia + 1; k < ib; k++)
        sum += in[k * in_step + c];
      out[i * out_step + c] =
          ia == ib ? in[ia * in_step + c] : (uint8_t)(int)(sum / ((double)b - a));
    }
  }
}

// The whole filter: rows first, then column by column.
std::vector<uint8_t> literal(const std::vector<uint8_t> &src, int sw, int sh, int dw, int dh) {
  std::vector<uint8_t> mid((size_t)dw * sh * 4), out((size_t)dw * dh * 4);
  for (int y = 0; y < sh; y++)
    literalLine(&src[(size_t)y * sw * 4], 4, sw, &mid[(size_t)y * dw * 4], 4, dw);
  for (int x = 0; x < dw; x++)
    literalLine(&mid[x * 4], (size_t)dw * 4, sh, &out[x * 4], (size_t)dw * 4, dh);
  return out;
}

std::vector<uint8_t> resize(const std::vector<uint8_t> &src, int sw, int sh, int dw, int dh) {
  int32_t size[2] = {sw, sh}, new_size[2] = {dw, dh};
  return take(kroResizeBitmap(src.data(), size, new_size), (size_t)dw * dh * 4);
}

TEST_F(PictureTest, ResizeSamplesFilterStepByStepAndRefusals) {
  std::mt19937 rng(12345);
  std::vector<uint8_t> src;
  std::vector<std::array<int, 4>> sizes = {{5, 3, 5, 3},     {4, 4, 2, 2},      {2, 2, 4, 4},
                                           {37, 23, 50, 17}, {13, 7, 5, 9},     {64, 64, 24, 40},
                                           {7, 11, 7, 3},    {100, 3, 33, 12},  {3, 100, 9, 1},
                                           {1, 1, 6, 5},     {300, 200, 7, 301}};
  // Long enlargements of 1- and 2-pixel lines each way; the lines of a picture differ, so reading
  // past a line's end shows.
  for (int n : {8193, 8194, 8704, 10461, 16384})
    sizes.insert(sizes.end(), {{1, 2, n, 2}, {2, 1, 2, n}, {2, 2, n, 2}, {2, 2, 2, n}});
  for (auto &s : sizes) {
    SCOPED_TRACE(testing::Message() << s[0] << "x" << s[1] << " -> " << s[2] << "x" << s[3]);
    src.resize((size_t)s[0] * s[1] * 4);
    for (auto &v : src)
      v = (uint8_t)rng();
    ASSERT_TRUE(resize(src, s[0], s[1], s[2], s[3]) ==
                (s[0] == s[2] && s[1] == s[3] ? src : literal(src, s[0], s[1], s[2], s[3])));
  }

  // Bad target sizes, then each of the two allocations failing.
  src.assign(16, 1);
  int32_t size[2] = {4, 1};
  const int32_t cases[][3] = {{0, 1, 0}, {2, -1, 0}, {1 << 20, 1 << 20, 0}, {2, 2, 1}, {2, 2, 2}};
  for (auto &c : cases)
    kroTestExpectReport([&] { EXPECT_EQ(kroResizeBitmap(src.data(), size, c), nullptr); },
                        c[2] ? "Error during allocating memory in kroResizeBitmap(..)\n"
                             : "Error in kroResizeBitmap(..) with size 4 x 1 to " +
                                   std::to_string(c[0]) + " x " + std::to_string(c[1]) + "\n",
                        c[2]);
}

// One damaged file per rule (tests/data/png/damaged, made by make-damaged.py
// from its two good files) and the start of its reason.
const std::pair<std::string, const char *> kDamagedPng[] = {
    {"signature-byte-1", "signature: byte 1 is 0x88, expected 0x89"},
    {"signature-cut", "signature: the file ends after 5 of its 8 bytes"},
    {"nothing-after-signature", "IHDR: missing: the file ends after the signature"},
    {"crc-ihdr", "IHDR: CRC 0x000004D2 does not match the data"},
    {"crc-idat", "IDAT: CRC 0x00000000 does not match the data"},
    {"first-not-ihdr", "tEXt: the first chunk must be IHDR"},
    {"second-ihdr", "IHDR: a second header chunk"},
    {"ihdr-length-12", "IHDR: length 12, expected 13"},
    {"width-0", "IHDR: width 0 is outside 1 to 2^31-1"},
    {"height-2-31", "IHDR: height 2147483648 is outside 1 to 2^31-1"},
    {"colour-type-9", "IHDR: colour type 9 is not defined"},
    {"depth-99", "IHDR: bit depth 99 is not allowed for colour type 2 (8, 16)"},
    {"depth-4-rgb", "IHDR: bit depth 4 is not allowed for colour type 2"},
    {"depth-16-palette", "IHDR: bit depth 16 is not allowed for colour type 3 (1, 2, 4, 8)"},
    {"compression-1", "IHDR: compression method 1 is not defined"},
    {"filter-1", "IHDR: filter method 1 is not defined"},
    {"interlace-2", "IHDR: interlace method 2 is not defined"},
    {"palette-missing", "IDAT: colour type 3 needs a PLTE chunk"},
    {"palette-in-greyscale", "PLTE: not allowed for colour type 0"},
    {"palette-twice", "PLTE: a second palette chunk"},
    {"palette-after-data", "PLTE: after the image data"},
    {"palette-length-7", "PLTE: length 7 is not 1 to 256 entries"},
    {"palette-over-depth", "PLTE: 3 entries, more than bit depth 1 allows"},
    {"no-idat", "IEND: no IDAT chunk before the end"},
    {"idat-split", "IDAT: image data chunks must follow one another"},
    {"no-iend", "IEND: missing: the file ends after chunk 2 (IDAT)"},
    {"after-iend", "IEND: 4 bytes after the end chunk"},
    {"iend-length-4", "IEND: length 4, expected 0"},
    {"unknown-critical", "XXXX: unknown critical chunk"},
    {"reserved-bit", "tEsT: reserved bit set"},
    {"type-not-letters", "chunk 2: type 0x74453174 is not four letters"},
    {"length-over-2-31", "IDAT: length 2147483648 exceeds 2^31-1"},
    {"data-cut", "IDAT: cut short: 4 of 18 data bytes"},
    {"crc-cut", "IDAT: cut short in its CRC"},
    {"chunk-head-cut", "chunk 3: cut short in its length and type"},
};
// kroCheckPNG's verdict on a file: "" for sound, else the reason.
std::string checkPNG(const std::string &path) {
  char why[256] = "not written";
  int result = kroCheckPNG(path.c_str(), why, sizeof why);
  if ((result == 0) != (why[0] == '\0') || (result != 0 && result != -1))
    return "returned " + std::to_string(result) + " with '" + why + "'";
  return why;
}

// PngSuite's own verdict on each of its files (its corrupt ones start with x); every damaged
// file refused with its rule's reason and the good ones passed; bytes 5 to 8 of the signature
// count as much as the first four. A question, not a load: nothing printed, no hook called. The
// reason is cut to why_chars - 1 characters and terminated; nothing is written without room, and
// a sound file leaves "".
TEST_F(PictureTest, CheckAgreesWithTheSuiteAndNamesEachBrokenRuleInTheGivenRoom) {
  EXPECT_EQ(filesIn("png/damaged").size(), std::size(kDamagedPng) + 2); // each has a rule
  std::string printed = kroTestCaptured([&] {
    for (const std::string &path : filesIn("third-party/pngsuite"))
      EXPECT_EQ(checkPNG(path).empty(), !kroTestHas(path, "/x")) << path;
    for (const auto &[name, reason] : kDamagedPng)
      EXPECT_EQ(checkPNG(kPng + "damaged/" + name + ".png").substr(0, strlen(reason)), reason)
          << name;
    for (const auto &[file, why] :
         {std::pair<std::string, const char *>{"png/damaged/good-rgb", ""},
          {"png/damaged/good-palette", ""},
          {"third-party/pngsuite/xs1n0g01", "signature: byte 1 is 0x09, expected 0x89"},
          {"third-party/pngsuite/xcrn0g04", "signature: byte 6 is 0x0D, expected 0x0A"},
          {"png/signature-tail", "signature: byte 5 is 0x00, expected 0x0D"},
          {"png/no-such", "No such file or directory"}})
      EXPECT_EQ(checkPNG(kData + file + ".png"), why);
    EXPECT_EQ(checkPNG(kPng + "damaged"), "a folder, not a file");
    EXPECT_EQ(kroCheckPNG(nullptr, nullptr, 0), -1);
  });
  EXPECT_EQ(printed, "");
  EXPECT_EQ(kroTestHookCalls, 0);

  const std::string bad = kPng + "damaged/crc-idat.png", good = kPng + "damaged/good-rgb.png";
  char why[12];
  for (int room : {-1, 0, 1, 6, 12}) {
    SCOPED_TRACE(room);
    memset(why, '#', sizeof why);
    EXPECT_EQ(kroCheckPNG(bad.c_str(), why, room), -1);
    std::string written = room > 0 ? std::string("IDAT: CRC 0x0", room - 1) + '\0' : "";
    EXPECT_EQ(std::string(why, sizeof why),
              written + std::string(sizeof why - written.size(), '#'));
  }
  EXPECT_EQ(kroCheckPNG(bad.c_str(), nullptr, 100), -1);
  memset(why, '#', sizeof why);
  EXPECT_EQ(kroCheckPNG(good.c_str(), why, 2), 0);
  EXPECT_EQ(std::string(why, 2), std::string("\0#", 2));
}

// A texture's level 0 read back from GL as RGBA bytes; the texture stays bound.
std::vector<uint8_t> texels(GLuint texture, int width, int height) {
  std::vector<uint8_t> all((size_t)width * height * 4);
  glBindTexture(GL_TEXTURE_2D, texture);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, all.data());
  return all;
}

TEST_F(GLPictureTest, TextureHoldsThePictureWithMipmapsAndRepeatsAndLeavesTheBindingAlone) {
  std::string path = kPng + "kinds/c3d04nt-7x5.png"; // not a power of two, transparent
  Picture expected = decode(kroTestReadFile(path));
  ASSERT_FALSE(expected.pixels.empty());
  GLuint other;
  glGenTextures(1, &other);
  glBindTexture(GL_TEXTURE_2D, other);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 2); // the caller's, as the binding
  GLuint texture = kroLoadTexture(path.c_str());
  ASSERT_NE(texture, 0u);
  GLint bound = 0, alignment = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
  EXPECT_TRUE((GLuint)bound == other && alignment == 2) << bound << " " << alignment;
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  EXPECT_TRUE(texels(texture, expected.size[0], expected.size[1]) == expected.pixels);
  // The chain goes down to 1 x 1: 7 x 5, 3 x 2, 1 x 1.
  GLint width = 0, height = 0;
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 2, GL_TEXTURE_WIDTH, &width);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 2, GL_TEXTURE_HEIGHT, &height);
  EXPECT_EQ(width * 10 + height, 11);
  GLint value;
  for (auto [name, wanted] : {std::pair<GLenum, GLint>{GL_TEXTURE_WRAP_S, GL_REPEAT},
                              {GL_TEXTURE_WRAP_T, GL_REPEAT},
                              {GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR},
                              {GL_TEXTURE_MAG_FILTER, GL_LINEAR}}) {
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
  std::string widest = kroTestTempPath("widest.png"); // exactly the largest side: taken
  kroTestWriteFile(widest, png(largest, 1, 8, 0, deflated('\0' + std::string(largest, 'x'))));
  GLuint edge = kroLoadTexture(widest.c_str());
  std::vector<uint8_t> grey((size_t)largest * 4, 'x');
  for (size_t i = 3; i < grey.size(); i += 4)
    grey[i] = 255;
  EXPECT_TRUE(edge && texels(edge, largest, 1) == grey);
  kroDestroyTexture(&edge);
  // Wider or taller pictures (a PNG whose image data could fill its rows, a BMP header) are
  // refused from their header, before the allocation after the file's, which is made to fail.
  std::string rgb24 = kroTestReadFile(kData + "bmp/variants/rgb24.bmp"),
              wide = kroTestTempPath("wide");
  for (const auto &[file, size] :
       {std::pair{png(536870911, 1, 8, 6, std::string(1 << 21, 0)), "536870911 x 1"},
        {patched(patched(rgb24, 18, 1), 22, 536870911), "1 x 536870911"}}) {
    kroTestWriteFile(wide, file);
    kroTestExpectReport(
        [&] { EXPECT_EQ(kroLoadTexture(wide.c_str()), 0u); },
        "Error in making a texture of " + wide + " in function kroLoadTexture(..): " + size +
            " pixels, the driver takes 1 to " + std::to_string(largest) + " a side\n",
        2);
  }
  // A missing, damaged or oversized picture, a folder or a pipe: decoding prints nothing and calls
  // no hook; loading reports.
  std::string huge = kroTestTempPath("huge.png");
  kroTestWriteFile(huge, "12345"); // the limit is the largest size read
  uint8_t *bytes;
  size_t count;
  EXPECT_EQ(kroReadPictureFile(huge.c_str(), 4, &bytes, &count), KRO_PICTURE_READ_TOO_LARGE);
  ASSERT_EQ(kroReadPictureFile(huge.c_str(), 5, &bytes, &count), KRO_PICTURE_READ_OK);
  EXPECT_EQ(std::string((char *)bytes, count), "12345");
  free(bytes);
  ASSERT_EQ(truncate(huge.c_str(), KRO_PICTURE_MAX_FILE_BYTES + 1L), 0); // sparse: no disk used
  std::string pipe = kroTestTempPath("texture-pipe.png");
  int held = heldPipe(pipe);
  for (auto [name, reason] :
       {std::pair<std::string, std::string>{"no-such-picture.png", "No such file or directory"},
        {"damaged/crc-idat.png", "IDAT: CRC"},
        {"damaged", "a folder, not a file"},
        {huge, "1073741825 bytes, more than the 1073741824 a picture file may have"},
        {pipe, "cannot tell the file's size"}}) {
    std::string path = name[0] == '/' ? name : kPng + name;
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
  close(held);
  int32_t size[2];
  kroTestExpectReport([&] { EXPECT_EQ(kroLoadPicture(nullptr, size), nullptr); },
                      "Error in reading picture from (null) in function kroLoadPicture(..): no "
                      "file named\n");
}

const float kOrigin[3] = {0, 0, 0};

// Loads a file; its points, or with normals_wanted its normals, flattened [x][y][axis]. Refused:
// empty, with no grid, the size and the normals cleared.
std::vector<float> loadGrid(const char *name, const float *offset, const float *scale,
                            bool normals_wanted) {
  int32_t size[2] = {5, 5};
  std::string path = kData + name;
  float **stale = nullptr, ***normals = &stale,
        ***grid = normals_wanted ? kroLoadHightmapAndNormalsFromBMP(path.c_str(), offset, scale,
                                                                    size, &normals)
                                 : kroLoadHightmapFromBMP(path.c_str(), offset, scale, size),
        ***got = normals_wanted ? normals : grid;
  if (!grid) {
    EXPECT_TRUE(size[0] == 0 && (!normals_wanted || !normals)) << name;
    return {};
  }
  EXPECT_TRUE(size[0] > 0 && size[1] > 0) << name; // a grid is never empty
  std::vector<float> out;
  for (int i = 0; i < size[0] * size[1] * 3; i++)
    out.push_back(got[i / 3 / size[1]][i / 3 % size[1]][i % 3]);
  kroDestroyHightmap(&grid, size);
  if (normals_wanted)
    kroDestroyHightmap(&normals, size);
  return out;
}

// 10 x + y for each vertex [x][y] `draw` sends, triangle after triangle, for a
// grid whose point [x][y] lands at window position (8 + 16 x, 8 + 16 y).
std::vector<int> feedback(const std::function<void()> &draw) {
  std::vector<int> vertices;
  for (auto &p : kroTestFeedback(GL_2D, draw))
    vertices.push_back(10 * (int)lroundf((p[0] - 8) / 16) + (int)lroundf((p[1] - 8) / 16));
  return vertices;
}

TEST_F(GLPictureTest, DrawingSendsTwoTrianglesPerCellInOrder) {
  float cells[3][2][3], *points[3][2], **grid[3];
  for (int i = 0; i < 6; i++) {
    float *p = points[i / 2][i % 2] = cells[i / 2][i % 2];
    p[0] = 0.5f * (i / 2) - 0.75f, p[1] = 0.5f * (i % 2) - 0.75f, p[2] = 0;
    grid[i / 2] = points[i / 2];
  }
  int32_t two[2] = {2, 2}, three[2] = {3, 2}, thin[2] = {1, 2}, flat[2] = {3, 1};
  const std::vector<int> cell = {11, 10, 0, 1, 11, 0},
                         both = {11, 10, 0, 1, 11, 0, 21, 20, 10, 11, 21, 10};
  EXPECT_EQ(feedback([&] { kroDrawHightmap(grid, two); }), cell);
  EXPECT_EQ(feedback([&] { kroDrawHightmap(grid, three); }), both); // x outside, y inside
  EXPECT_TRUE(feedback([&] { kroDrawHightmap(grid, thin), kroDrawHightmap(grid, flat); }).empty());
  // The points as normals: the same vertices; each cell sends its [x+1][y+1], so [2][1] last.
  EXPECT_EQ(feedback([&] { kroDrawHightmapWithNormals(grid, three, grid); }), both);
  GLfloat current[4];
  glGetFloatv(GL_CURRENT_NORMAL, current);
  EXPECT_TRUE(current[0] == 0.25f && current[1] == -0.25f) << current[0] << "," << current[1];
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

// Point [x][y] is (scale X x / width, scale Z blue / 255, scale Y y / height) plus the offset;
// normals are those of the surface through the points. Bad files and every failed allocation
// leave nothing.
TEST_F(GLPictureTest, HeightmapPointsNormalsAndEveryFailureLeavingNothing) {
  const float offset[3] = {10, 20, 30}, padded[3] = {6, 4, 51};
  // Blue 0, 1, 2 in the bottom row, 10, 11, 12 in the top one.
  EXPECT_EQ(loadGrid("bmp/padded-3x2.bmp", offset, padded, false),
            (std::vector<float>{10, 20, 30, 10, 22, 32, 12, 20.2f, 30, 12, 22.2f, 32, 14, 20.4f, 30,
                                14, 22.4f, 32}));
  // Blue = 40 x + 10 y; with these scales the plane Y = 40 X + 10 Z, normal (-40, 1, -10).
  const float scale[3] = {3, 3, 255};
  const double length = sqrt(40.0 * 40 + 1 + 10 * 10), n[3] = {-40, 1, -10};
  std::vector<float> slope = loadGrid("heightmap/slope-3x3.bmp", kOrigin, scale, true);
  ASSERT_EQ(slope.size(), 27u);
  for (int i = 0; i < 27; i++)
    EXPECT_NEAR(slope[i], n[i % 3] / length, 1e-6) << i;
  EXPECT_EQ(kroTestHookCalls, 0);
  // The reader's reason is passed on; a missing file gets the plain message.
  for (auto [name, reason] :
       {std::pair{"bmp/bad-signature.bmp", ": not a BMP file"}, {"heightmap/missing.bmp", ""}})
    for (bool normals_too : {false, true})
      kroTestExpectReport(
          [&] { EXPECT_TRUE(loadGrid(name, kOrigin, kOrigin, normals_too).empty()); },
          "Error in reading hightmap from " + kData + name + reason + "\n");
  // Every allocation of a good load, failing in turn.
  auto good = [] { return loadGrid("heightmap/sample-4x2.bmp", kOrigin, kOrigin, true); };
  kroFailAllocationAfter(0);
  good();
  long allocations = kroFailAllocationAfter(0);
  ASSERT_GT(allocations, 2 * 8);
  for (long fail = 1; fail <= allocations; fail++)
    kroTestExpectReport([&] { EXPECT_TRUE(good().empty()) << fail; },
                        "Error during allocating memory in kroLoadHightmapAndNormalsFromBMP(..)\n",
                        fail);
}

struct FontTest : kroTestGLFailureFixture {
  FontTest() { kroSetBitMasks(); }
};

const std::string kDir = KRO_TEST_DATA "/krof/", kOneGlyph = kDir + "one-glyph.krof";
int32_t size8[2] = {8, 8}, one_row[2] = {8, 1}, odd[2] = {3, 3};

std::string folderWith(const std::string &name, std::initializer_list<const char *> codes) {
  std::string dir = kroTestTempFolder(name);
  for (const char *code : codes)
    kroTestWriteFile(dir + "/" + code + ".bmp", kroTestReadFile(kDir + "glyphs/" + code + ".bmp"));
  return dir;
}

// Loads with transparent white for 0 bits and black for 1 bits.
int loadFont(const std::string &path, kroFont *font, int32_t width = 8, int32_t height = 8) {
  const float transparent_white[4] = {255, 255, 255, 0}, black[4] = {0, 0, 0, 255};
  int32_t texture_size[2] = {width, height};
  return kroLoadKROF(path.c_str(), font, transparent_white, black, texture_size);
}

// Records of 8 x 8 glyphs at threshold 128: 66, a black frame, and 200, grey 128 (all 1 bits).
const std::string kFrameAndGrey =
    "B\xFF" + std::string(6, '\x81') + "\xFF\xC8" + std::string(8, '\xFF');

TEST_F(FontTest, BuiltFileLayoutThresholdsLoadedGlyphsAndDrawing) {
  std::string dir = folderWith("three", {"65", "66", "200"}), out = kroTestTempPath("three.krof");
  EXPECT_EQ(kroCreateKROF(dir.c_str(), size8, out.c_str(), 128), 3);
  // 65: the left half of a 16 x 16 picture is black; then the path without its extension.
  EXPECT_EQ(kroTestReadFile(out), std::string("KROF\0\0\0\x1b\0\x08\0\x08", 12) + "A" +
                                      std::string(8, '\xF0') + kFrameAndGrey +
                                      out.substr(0, out.size() - 5));
  kroFont font;
  ASSERT_EQ(loadFont(out, &font), 0);
  ASSERT_EQ(font.glyph_count, 3);
  for (int c = 0; c < 256; c++)
    EXPECT_EQ(kroGetFontID((uint8_t)c, &font), c == 65 ? 0 : c == 66 ? 1 : c == 200 ? 2 : -1) << c;
  // Glyph 66, a frame: opaque black on the border, transparent white inside.
  std::vector<uint8_t> t = texels(font.textures[1], 8, 8);
  EXPECT_EQ((std::vector<int>{t[0], t[3], t[108], t[111], t[252], t[255]}),
            (std::vector<int>{0, 255, 255, 0, 0, 255}));
  // Drawing sends two textured triangles, none for a code without a glyph.
  const float corner0[3] = {10 / 32.0f - 1, 20 / 32.0f - 1, 0},
              corner1[3] = {30 / 32.0f - 1, 50 / 32.0f - 1, 0}; // (10, 20) and (30, 50)
  std::vector<float> got; // window x, y and texture s, t of each vertex
  for (auto &p : kroTestFeedback(GL_3D_COLOR_TEXTURE, [&] {
         kroDrawFont(67, &font, corner0, corner1);
         kroDrawFont(200, &font, corner0, corner1);
       }))
    got.insert(got.end(), {p[0], p[1], p[7], p[8]}); // x, y, z, RGBA, STRQ
  EXPECT_EQ(got, (std::vector<float>{10, 20, 0, 0, 30, 20, 1, 0, 30, 50, 1, 1,
                                     10, 20, 0, 0, 30, 50, 1, 1, 10, 50, 0, 1}));
  GLint bound = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  EXPECT_TRUE(bound == (GLint)font.textures[2] && glIsEnabled(GL_TEXTURE_2D));
  glDisable(GL_TEXTURE_2D);
  std::vector<GLuint> names(font.textures, font.textures + 3);
  kroDestroyKROF(&font);
  EXPECT_TRUE(font.glyph_count == 0 && font.textures == nullptr);
  for (GLuint name : names)
    EXPECT_FALSE(glIsTexture(name));
  // Textures of another size are scaled copies: left half 1 bits, every second row blends.
  ASSERT_EQ(loadFont(out, &font, 16, 16), 0);
  t = texels(font.textures[0], 16, 16);
  EXPECT_EQ((std::vector<int>{t[66 * 4 + 3], t[82 * 4 + 3], t[93 * 4 + 3]}),
            (std::vector<int>{255, 254, 0}));
  kroDestroyKROF(&font);
  // Text in glyphs twice as wide as high, as their textures; unit 0's texture matrix (scaled here)
  // as it was while unit 1 is the active one.
  ASSERT_EQ(loadFont(out, &font, 16, 8), 0);
  glMatrixMode(GL_TEXTURE), glScalef(2, 3, 1), glActiveTexture(GL_TEXTURE1);
  float ink[4] = {1, 1, 1, 1}, matrix[16];
  got.clear();
  for (auto &p :
       kroTestFeedback(GL_3D_COLOR_TEXTURE, [&] { kroDrawText(&font, "AB", 10, 20, 5, ink); }))
    got.push_back(p[0]);
  EXPECT_EQ(got, (std::vector<float>{10, 20, 20, 10, 20, 10, 20, 30, 30, 20, 30, 20}));
  glActiveTexture(GL_TEXTURE0), glGetFloatv(GL_TEXTURE_MATRIX, matrix);
  EXPECT_EQ(matrix[0] * 10 + matrix[5], 23);
  glMatrixMode(GL_TEXTURE), glLoadIdentity(), glMatrixMode(GL_MODELVIEW);
  kroDestroyKROF(&font);

  dir = folderWith("grey", {"200"});
  ASSERT_EQ(kroCreateKROF(dir.c_str(), one_row, out.c_str(), 127), 1);
  EXPECT_EQ(kroTestReadFile(out)[13], 0); // grey 128 is a 0 bit below threshold 128
  // An output path shorter than the five characters of its extension leaves no trailer.
  char cwd[4096];
  ASSERT_TRUE(getcwd(cwd, sizeof cwd) && chdir(kroTestTempPath("").c_str()) == 0);
  EXPECT_EQ(kroCreateKROF(dir.c_str(), size8, "f.k", 128), 1);
  EXPECT_EQ(kroTestReadFile("f.k").size(), 12u + 9);
  ASSERT_EQ(chdir(cwd), 0);
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
  EXPECT_EQ(kroTestHookCalls, 0);
}

// The builder's refusals print their reason without the hook, and a write that fails (the file
// size limit) with errno telling why: each leaves the old font as it was and no other file. The
// loader refuses hostile files and failed allocations with the hook.
TEST_F(FontTest, RefusalsLeaveTheOldFontAndHostileFilesAreRefused) {
  std::string dir = folderWith("refusals", {"65"}), long_dir(KRO_KROF_MAX_NAME, 'd');
  std::string out_dir = kroTestTempFolder("font-out"), out = out_dir + "/font.krof",
              lost = out_dir + "/missing/font.krof";
  kroTestWriteFile(out, "old font");
  auto refusal = [&](const std::string &from, int32_t *glyph, const std::string &to) {
    return kroTestCaptured(
        [&] { EXPECT_EQ(kroCreateKROF(from.c_str(), glyph, to.c_str(), 128), 0); });
  };
  EXPECT_EQ(refusal(long_dir, size8, out),
            "Error in kroCreateKROF(..): folder name too long: " + long_dir + "\n");
  EXPECT_EQ(refusal(dir, odd, out), "Error in kroCreateKROF(..): glyph size 3 x 3 is not usable\n");
  EXPECT_EQ(refusal(dir, size8, lost), "Error during opening file: " + lost + "\n");
  kroFailAllocationAfter(1);
  EXPECT_EQ(refusal(dir, size8, out),
            "Error during allocating memory for data in kroCreateKROF(..)\n");
  int32_t large[2] = {256, 256}; // a record of 8193 bytes
  EXPECT_EQ(
      limitedOutcome(4096, [&] { return kroCreateKROF(dir.c_str(), large, out.c_str(), 128); }),
      "Error during writing file: " + out + "\n0, File too large, hook 0");
  // A picture that is there but not usable stops the build: the picture reader reports it
  // and calls the hook, the only one of these to do so.
  kroTestWriteFile(dir + "/66.bmp", "BM not really");
  EXPECT_NE(refusal(dir, size8, out).find("kroLoadPicture(..)"), std::string::npos);
  EXPECT_EQ(kroTestHookCalls, 1);
  EXPECT_EQ(kroTestReadFile(out), "old font");
  EXPECT_EQ(kroTestListing(out_dir), "font.krof\n");

  const std::string oom = "Error during allocating memory ";
  // File, allocation to fail, message: after "Error in reading fonts from <path>" when empty or
  // starting with ':', else alone. Allocations: records, texture names, bitmap, scaled glyph.
  const std::tuple<const char *, long, std::string> runs[] = {
      {"missing.krof", 0, "Cannot read from file: " + kDir + "missing.krof"},
      {"one-glyph.krof", 1, oom + "in kroReadKROF(..)"},
      {"one-glyph.krof", 2, oom + "in kroLoadKROF(..)"},
      {"one-glyph.krof", 3, oom + "for bitmap in kroLoadKROF(..)"},
      {"one-glyph.krof", 4, oom + "in kroResizeBitmap(..)"},
      {"bad-magic.krof", 0, ""},
      {"header-cut.krof", 0, ": header cut short"},
      {"count-past-end.krof", 0, ": records cut short"},
      {"count-not-whole.krof", 0, ": record count does not fit the glyph size"},
      {"too-many-glyphs.krof", 0, ": record count does not fit the glyph size"},
      {"size-not-bytes.krof", 0, ": glyph size is not a whole number of bytes"}};
  for (auto &[name, fail, message] : runs) {
    std::string path = kDir + name;
    kroFont font;
    font.glyph_count = 99;
    kroTestExpectReport(
        [&] { EXPECT_NE(loadFont(path, &font), 0); },
        (message[0] && message[0] != ':' ? "" : "Error in reading fonts from " + path) + message +
            "\n",
        fail);
    EXPECT_TRUE(font.glyph_count == 0 && font.textures == nullptr && font.glyph_table[65] == -1);
  }
  // 256 glyphs of 1 x 8, the most there can be, are read: the file above less its last record.
  std::string most = kroTestTempPath("most.krof"),
              bytes = kroTestReadFile(kDir + "too-many-glyphs.krof");
  kroTestWriteFile(most, bytes.replace(6, 2, "\x02\x00", 2).substr(0, 12 + 512));
  kroFontFile file;
  EXPECT_TRUE(kroReadKROF(most.c_str(), &file) == 0 && file.glyph_count == 256);
  kroFreeKROF(&file);
  kroTestWriteFile(most, std::string("KROF\0\0\0\0\x10\0\x10\0", 12)); // the largest glyph, none
  EXPECT_TRUE(kroReadKROF(most.c_str(), &file) == 0 && file.width * file.height == 1 << 24);
  kroFreeKROF(&file);
  kroFont font;
  font.glyph_count = 99;
  kroTestExpectReport([&] { EXPECT_EQ(kroLoadTextFont((kDir + "none.krof").c_str(), &font), EOF); },
                      "Cannot read from file: " + kDir + "none.krof\n");
  EXPECT_TRUE(font.glyph_count == 0 && font.textures == nullptr);
  for (int32_t w : {0, 8})
    EXPECT_EQ(kroTestCaptured([&] { EXPECT_NE(loadFont(kOneGlyph, &font, w, 8 - w), 0); }),
              "Error in kroLoadKROF(..) with texture size " + std::to_string(w) + " x " +
                  std::to_string(8 - w) + "\n");
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
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
  // The alpha counts, against another reader's pixels: a ramp (0 to 255 over 32 x 32) and 8-bit
  // noise with each of 0, 1, 254 and 255.
  for (auto [path, side] : {std::pair{kData + "third-party/pngsuite/basn4a16.png", 32},
                            {stbWritten("noise.png", 64, 64, 4), 64}}) {
    std::vector<uint8_t> alpha = stbPixels(path, side, side);
    size_t clear = 0, partly = 0;
    for (size_t i = 3; i < alpha.size(); i += 4)
      clear += alpha[i] == 0, partly += alpha[i] % 255 != 0;
    EXPECT_TRUE(kroTestHas(kroTestRun(std::string(KROTOOL_PATH) + " image-info " + path).out,
                           "alpha: " + std::to_string(clear) + " pixels transparent, " +
                               std::to_string(partly) + " partly transparent, " +
                               std::to_string(side * side - clear - partly) + " opaque\n"))
        << path;
  }
}

} // namespace
