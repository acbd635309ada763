// KROF fonts: the builder's file layout and bit encoding, the loader's glyph table and textures
// on a real context, the drawer through GL feedback, and every refused file or request.
#include "gl_context.h"

#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

#include <vector>

namespace {

struct FontTest : kroTestFailureFixture {
  void SetUp() override {
    kroSetBitMasks();
    kroTestFailureFixture::SetUp();
  }
};

const std::string glyphs = KRO_TEST_DATA "/krof/glyphs";

template <typename F> std::string captured(F call) {
  testing::internal::CaptureStdout();
  call();
  return testing::internal::GetCapturedStdout();
}

// A fresh folder holding copies of the named glyph pictures.
std::string folderWith(const std::string &name, std::initializer_list<const char *> codes) {
  std::string dir = kroTestTempPath(name);
  mkdir(dir.c_str(), 0700);
  for (const char *code : codes)
    kroTestWriteFile(dir + "/" + code + ".bmp", kroTestReadFile(glyphs + "/" + code + ".bmp"));
  return dir;
}

std::string bytes(std::initializer_list<int> values) {
  return std::string(values.begin(), values.end());
}

TEST_F(FontTest, TwoGlyphFontLayoutThresholdAndShortPath) {
  std::string dir = folderWith("two", {"65", "66"}), out = kroTestTempPath("two.krof");
  int32_t size[2] = {8, 8};
  EXPECT_EQ(kroCreateKROF(dir.c_str(), size, out.c_str(), 128), 2);
  std::string file = kroTestReadFile(out);
  ASSERT_EQ(file.size(), 12 + 18 + out.size() - 5);
  // 65: the left half of a 16 x 16 picture is black; 66: a black frame.
  EXPECT_EQ(file.substr(0, 30), bytes({'K',  'R', 'O',  'F',  0,    0,    0,    18,   0,    8,
                                       0,    8,   65,   0xF0, 0xF0, 0xF0, 0xF0, 0xF0, 0xF0, 0xF0,
                                       0xF0, 66,  0xFF, 0x81, 0x81, 0x81, 0x81, 0x81, 0x81, 0xFF}));
  EXPECT_EQ(file.substr(30), out.substr(0, out.size() - 5));

  // Grey 128 (200.bmp) is a 1 bit at threshold 128, a 0 bit below; at 255 even white is 1.
  const int rows[][3] = {
      {200, 128, 0xFF}, {200, 127, 0x00}, {65, 255, 0xFF}}; // code, threshold, bits
  int32_t row[2] = {8, 1};
  for (auto &r : rows) {
    std::string code = std::to_string(r[0]);
    dir = folderWith("t" + code, {code.c_str()});
    ASSERT_EQ(kroCreateKROF(dir.c_str(), row, out.c_str(), (uint8_t)r[1]), 1);
    EXPECT_EQ(kroTestReadFile(out).substr(13, 1), bytes({r[2]})) << code << " " << r[1];
  }

  // An output path shorter than the five characters of its extension leaves no trailer.
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(kroTestTempPath("").c_str()), 0);
  int built = kroCreateKROF(dir.c_str(), size, "f.k", 128);
  file = kroTestReadFile("f.k");
  ASSERT_EQ(chdir(cwd), 0);
  EXPECT_EQ(built, 1);
  EXPECT_EQ(file.size(), 12u + 9);
  EXPECT_EQ(kroTestHookCalls, 0);
}

TEST_F(FontTest, BuilderRefusalsPrintWithoutTheHook) {
  std::string dir = folderWith("refusals", {"65"}), long_dir(KRO_KROF_MAX_NAME, 'd');
  std::string out = kroTestTempPath("refused.krof"), lost = kroTestTempPath("no-folder/out.krof");
  int32_t size[2] = {8, 8}, odd[2] = {3, 3};
  auto refusal = [&](const std::string &from, int32_t *glyph, const std::string &to) {
    return captured([&] { EXPECT_EQ(kroCreateKROF(from.c_str(), glyph, to.c_str(), 128), 0); });
  };
  EXPECT_EQ(refusal(long_dir, size, out),
            "Error in kroCreateKROF(..): folder name too long: " + long_dir + "\n");
  EXPECT_EQ(refusal(dir, odd, out), "Error in kroCreateKROF(..): glyph size 3 x 3 is not usable\n");
  EXPECT_EQ(refusal(dir, size, lost), "Error during opening file: " + lost + "\n");
  kroFailAllocationAfter(1);
  EXPECT_EQ(refusal(dir, size, out),
            "Error during allocating memory for data in kroCreateKROF(..)\n");
  EXPECT_EQ(kroTestHookCalls, 0);
  // A picture that is there but not a usable BMP stops the build: the BMP reader reports it.
  kroTestWriteFile(dir + "/66.bmp", "BM not really");
  EXPECT_NE(refusal(dir, size, out).find("kroLoadBMP(..)"), std::string::npos);
  EXPECT_EQ(kroTestHookCalls, 1);
  EXPECT_EQ(access(out.c_str(), F_OK), -1); // no file written by any of them
}

const float transparent_white[4] = {255, 255, 255, 0}, black[4] = {0, 0, 0, 255};
const std::string kOneGlyph = KRO_TEST_DATA "/krof/one-glyph.krof";

// Loads with transparent white for 0 bits and black for 1 bits.
int load(const std::string &path, kroFont *font, int32_t width = 8, int32_t height = 8) {
  int32_t texture_size[2] = {width, height};
  return kroLoadKROF(path.c_str(), font, transparent_white, black, texture_size);
}

std::vector<uint8_t> texels(GLuint texture, int width) {
  std::vector<uint8_t> out((size_t)width * width * 4);
  glBindTexture(GL_TEXTURE_2D, texture);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, out.data());
  return out;
}

TEST_F(FontTest, LoadingGivesTheGlyphTableAndTextures) {
  ASSERT_TRUE(kroTestOpenGL());
  std::string dir = folderWith("three", {"65", "66", "200"}), path = kroTestTempPath("three.krof");
  int32_t size[2] = {8, 8};
  ASSERT_EQ(kroCreateKROF(dir.c_str(), size, path.c_str(), 128), 3);
  kroFont font;
  ASSERT_EQ(load(path, &font), 0);
  ASSERT_EQ(font.glyph_count, 3);
  for (int c = 0; c < 256; c++)
    EXPECT_EQ(kroGetFontID((uint8_t)c, &font), c == 65 ? 0 : c == 66 ? 1 : c == 200 ? 2 : -1) << c;
  // Glyph 66, a frame: opaque black on the border, transparent white inside.
  std::vector<uint8_t> frame = texels(font.textures[1], 8);
  EXPECT_EQ(bytes({frame[0], frame[3], frame[(3 * 8 + 3) * 4], frame[(3 * 8 + 3) * 4 + 3],
                   frame[(7 * 8 + 7) * 4], frame[(7 * 8 + 7) * 4 + 3]}),
            bytes({0, 255, 255, 0, 0, 255}));
  GLint filter = 0;
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &filter);
  EXPECT_EQ(filter, GL_NEAREST);
  std::vector<GLuint> names(font.textures, font.textures + 3);
  kroDestroyKROF(&font);
  EXPECT_TRUE(font.glyph_count == 0 && font.textures == nullptr);
  for (GLuint name : names)
    EXPECT_FALSE(glIsTexture(name));

  // Textures of another size are scaled copies: left half 1 bits, every second row blends.
  ASSERT_EQ(load(path, &font, 16, 16), 0);
  std::vector<uint8_t> half = texels(font.textures[0], 16);
  EXPECT_EQ(
      bytes({half[(4 * 16 + 2) * 4 + 3], half[(5 * 16 + 2) * 4 + 3], half[(5 * 16 + 13) * 4 + 3]}),
      bytes({255, 254, 0}));
  kroDestroyKROF(&font);
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
  EXPECT_EQ(kroTestHookCalls, 0);
}

TEST_F(FontTest, DrawingSendsTwoTexturedTriangles) {
  ASSERT_TRUE(kroTestOpenGL());
  kroFont font;
  ASSERT_EQ(load(kOneGlyph, &font), 0);
  glViewport(0, 0, 64, 64); // identity matrices: window x = 32 (1 + x)
  std::vector<GLfloat> buffer(1024);
  glFeedbackBuffer((GLsizei)buffer.size(), GL_3D_COLOR_TEXTURE, buffer.data());
  glRenderMode(GL_FEEDBACK);
  const float corner0[3] = {10 / 32.0f - 1, 20 / 32.0f - 1, 0},
              corner1[3] = {30 / 32.0f - 1, 50 / 32.0f - 1, 0}; // (10, 20) and (30, 50)
  kroDrawFont(66, &font, corner0, corner1);                     // no such glyph: nothing
  kroDrawFont(65, &font, corner0, corner1);
  // Two polygons of three vertices: x, y, z, colour (4), texture (4) each.
  ASSERT_EQ(glRenderMode(GL_RENDER), 2 * (2 + 3 * 11));
  std::vector<float> got; // window x, y and texture s, t of each vertex
  for (int v = 0; v < 6; v++) {
    const GLfloat *p = &buffer[(v / 3) * 35 + 2 + (v % 3) * 11];
    got.insert(got.end(), {p[0], p[1], p[7], p[8]});
  }
  EXPECT_EQ(got, (std::vector<float>{10, 20, 0, 0, 30, 20, 1, 0, 30, 50, 1, 1,
                                     10, 20, 0, 0, 30, 50, 1, 1, 10, 50, 0, 1}));
  GLint bound = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  EXPECT_EQ(bound, (GLint)font.textures[0]);
  EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
  glDisable(GL_TEXTURE_2D);
  kroDestroyKROF(&font);
}

TEST_F(FontTest, HostileFilesAndFailedAllocationsAreRefused) {
  ASSERT_TRUE(kroTestOpenGL());
  const std::string dir = KRO_TEST_DATA "/krof/", oom = "Error during allocating memory ";
  std::vector<std::tuple<std::string, long, std::string>> runs = {
      // path, allocation to fail, message
      {dir + "missing.krof", 0, "Cannot read from file: " + dir + "missing.krof\n"},
      // Allocations in order: records, texture names, glyph bitmap, scaled glyph.
      {kOneGlyph, 1, oom + "in kroReadKROF(..)\n"},
      {kOneGlyph, 2, oom + "in kroLoadKROF(..)\n"},
      {kOneGlyph, 3, oom + "for bitmap in kroLoadKROF(..)\n"},
      {kOneGlyph, 4, oom + "in kroResizeBitmap(..)\n"}};
  // Reason null: the plain message.
  const std::pair<const char *, const char *> files[] = {
      {"bad-magic.krof", nullptr},
      {"header-cut.krof", "header cut short"},
      {"count-past-end.krof", "records cut short"},
      {"count-not-whole.krof", "record count does not fit the glyph size"},
      {"too-many-glyphs.krof", "record count does not fit the glyph size"},
      {"size-not-bytes.krof", "glyph size is not a whole number of bytes"},
      {"zero-size.krof", "glyph size is not a whole number of bytes"}};
  for (auto &[name, reason] : files)
    runs.push_back({dir + name, 0,
                    "Error in reading fonts from " + dir + name +
                        (reason ? std::string(": ") + reason : "") + "\n"});
  int calls = 0;
  for (auto &run : runs) {
    kroFont font;
    font.glyph_count = 99;
    kroFailAllocationAfter(std::get<1>(run));
    EXPECT_EQ(captured([&] { EXPECT_NE(load(std::get<0>(run), &font), 0); }), std::get<2>(run));
    EXPECT_TRUE(font.glyph_count == 0 && font.textures == nullptr && font.glyph_table[65] == -1);
    EXPECT_EQ(kroTestHookCalls, ++calls);
  }
  kroFont font;
  EXPECT_EQ(captured([&] { EXPECT_NE(load(kOneGlyph, &font, 0, 8), 0); }),
            "Error in kroLoadKROF(..) with texture size 0 x 8\n");
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

} // namespace
