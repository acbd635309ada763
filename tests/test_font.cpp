// KROF fonts: the builder's file layout and bit encoding, the loader's glyph
// table and textures on a real context, the drawer through GL feedback, and
// every refused file or request.
#include "gl_context.h"
#include "kro_internal.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

struct FontTest : ::testing::Test {
  void SetUp() override {
    kroSetBitMasks();
    kroFailAllocationAfter(0);
    kroTestUseCountingHook();
  }
  void TearDown() override {
    kroFailAllocationAfter(0);
    kroSetErrorFunc(nullptr);
  }
};

const std::string glyphs = KRO_TEST_DATA "/krof/glyphs";

// A fresh folder holding copies of the named glyph pictures.
std::string folderWith(const std::string &name, std::initializer_list<const char *> codes) {
  std::string dir = kroTestTempPath(name);
  mkdir(dir.c_str(), 0700);
  for (const char *code : codes)
    kroTestWriteFile(dir + "/" + code + ".bmp", kroTestReadFile(glyphs + "/" + code + ".bmp"));
  return dir;
}

std::string byteString(std::initializer_list<int> bytes) {
  std::string out;
  for (int b : bytes)
    out += (char)b;
  return out;
}

TEST_F(FontTest, TwoGlyphFontLayout) {
  std::string dir = folderWith("two", {"65", "66"});
  std::string out = kroTestTempPath("two.krof");
  int32_t size[2] = {8, 8};
  EXPECT_EQ(kroCreateKROF(dir.c_str(), size, out.c_str(), 128), 2);
  std::string file = kroTestReadFile(out);
  ASSERT_EQ(file.size(), 12 + 18 + out.size() - 5);
  EXPECT_EQ(file.substr(0, 12), byteString({'K', 'R', 'O', 'F', 0, 0, 0, 18, 0, 8, 0, 8}));
  // 65: the left half of a 16 x 16 picture is black; 66: a black frame.
  EXPECT_EQ(file.substr(12, 9), byteString({65, 0xF0, 0xF0, 0xF0, 0xF0, 0xF0, 0xF0, 0xF0, 0xF0}));
  EXPECT_EQ(file.substr(21, 9), byteString({66, 0xFF, 0x81, 0x81, 0x81, 0x81, 0x81, 0x81, 0xFF}));
  EXPECT_EQ(file.substr(30), out.substr(0, out.size() - 5));

  kroFontFile font_file;
  ASSERT_EQ(kroReadKROF(out.c_str(), &font_file), 0);
  EXPECT_EQ(font_file.width, 8);
  EXPECT_EQ(font_file.glyph_count, 2);
  EXPECT_EQ(font_file.record_bytes, 9);
  EXPECT_EQ(font_file.records[9], 66);
  kroFreeKROF(&font_file);
  EXPECT_EQ(font_file.records, nullptr);
  EXPECT_EQ(kroTestHookCalls, 0);
}

TEST_F(FontTest, ThresholdIsStrictlyGreaterOnAllThreeChannels) {
  // 200.bmp is grey 128 throughout.
  std::string dir = folderWith("grey", {"200"});
  std::string out = kroTestTempPath("grey.krof");
  int32_t size[2] = {8, 1};
  ASSERT_EQ(kroCreateKROF(dir.c_str(), size, out.c_str(), 128), 1);
  EXPECT_EQ(kroTestReadFile(out).substr(12, 2), byteString({200, 0xFF}));
  ASSERT_EQ(kroCreateKROF(dir.c_str(), size, out.c_str(), 127), 1);
  EXPECT_EQ(kroTestReadFile(out).substr(12, 2), byteString({200, 0x00}));
  // With 255 every pixel, even a white one, is a 1 bit.
  std::string white_dir = folderWith("white", {"65"});
  ASSERT_EQ(kroCreateKROF(white_dir.c_str(), size, out.c_str(), 255), 1);
  EXPECT_EQ(kroTestReadFile(out).substr(12, 2), byteString({65, 0xFF}));
}

TEST_F(FontTest, BuilderRefusalsPrintWithoutTheHook) {
  std::string dir = folderWith("refusals", {"65"});
  int32_t size[2] = {8, 8};
  std::string long_dir(KRO_KROF_MAX_NAME, 'd');
  testing::internal::CaptureStdout();
  EXPECT_EQ(kroCreateKROF(long_dir.c_str(), size, kroTestTempPath("x.krof").c_str(), 128), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Error in kroCreateKROF(..): folder name too long: " + long_dir + "\n");

  int32_t odd[2] = {3, 3};
  testing::internal::CaptureStdout();
  EXPECT_EQ(kroCreateKROF(dir.c_str(), odd, kroTestTempPath("odd.krof").c_str(), 128), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Error in kroCreateKROF(..): glyph size 3 x 3 is not usable\n");

  std::string unwritable = kroTestTempPath("no-folder/out.krof");
  testing::internal::CaptureStdout();
  EXPECT_EQ(kroCreateKROF(dir.c_str(), size, unwritable.c_str(), 128), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Error during opening file: " + unwritable + "\n");

  kroFailAllocationAfter(1);
  testing::internal::CaptureStdout();
  EXPECT_EQ(kroCreateKROF(dir.c_str(), size, kroTestTempPath("a.krof").c_str(), 128), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Error during allocating memory for data in kroCreateKROF(..)\n");
  EXPECT_EQ(kroTestHookCalls, 0);

  // A picture that is there but not a usable BMP stops the build: the BMP
  // reader reports it, and no file is written.
  kroTestWriteFile(dir + "/66.bmp", "BM not really");
  std::string out = kroTestTempPath("broken.krof");
  testing::internal::CaptureStdout();
  EXPECT_EQ(kroCreateKROF(dir.c_str(), size, out.c_str(), 128), 0);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("kroLoadBMP(..)"), std::string::npos);
  EXPECT_EQ(kroTestHookCalls, 1);
  EXPECT_EQ(access(out.c_str(), F_OK), -1);
}

TEST_F(FontTest, ShortOutputPathLeavesNoTrailer) {
  std::string dir = folderWith("short", {"65"});
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(kroTestTempPath("").c_str()), 0);
  int32_t size[2] = {8, 8};
  int built = kroCreateKROF(dir.c_str(), size, "f.k", 128);
  std::string file = kroTestReadFile("f.k");
  ASSERT_EQ(chdir(cwd), 0);
  EXPECT_EQ(built, 1);
  EXPECT_EQ(file.size(), 12u + 9);
}

const float transparent_white[4] = {255, 255, 255, 0}, black[4] = {0, 0, 0, 255};

std::vector<uint8_t> texels(GLuint texture, int width, int height) {
  std::vector<uint8_t> out((size_t)width * height * 4);
  glBindTexture(GL_TEXTURE_2D, texture);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, out.data());
  return out;
}

TEST_F(FontTest, LoadingGivesTheGlyphTableAndTextures) {
  ASSERT_TRUE(kroTestOpenGL());
  std::string dir = folderWith("three", {"65", "66", "200"});
  std::string path = kroTestTempPath("three.krof");
  int32_t size[2] = {8, 8};
  ASSERT_EQ(kroCreateKROF(dir.c_str(), size, path.c_str(), 128), 3);

  kroFont font;
  int32_t texture_size[2] = {8, 8};
  ASSERT_EQ(kroLoadKROF(path.c_str(), &font, transparent_white, black, texture_size), 0);
  ASSERT_EQ(font.glyph_count, 3);
  for (int c = 0; c < 256; c++) {
    int want = c == 65 ? 0 : c == 66 ? 1 : c == 200 ? 2 : -1;
    EXPECT_EQ(kroGetFontID((uint8_t)c, &font), want) << c;
  }
  // Glyph 66, a frame: opaque black on the border, transparent white inside.
  std::vector<uint8_t> frame = texels(font.textures[1], 8, 8);
  const uint8_t border[4] = {0, 0, 0, 255}, inside[4] = {255, 255, 255, 0};
  EXPECT_TRUE(std::equal(border, border + 4, &frame[0]));
  EXPECT_TRUE(std::equal(inside, inside + 4, &frame[(3 * 8 + 3) * 4]));
  EXPECT_TRUE(std::equal(border, border + 4, &frame[(7 * 8 + 7) * 4]));
  GLint filter = 0;
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &filter);
  EXPECT_EQ(filter, GL_NEAREST);

  std::vector<GLuint> names(font.textures, font.textures + 3);
  kroDestroyKROF(&font);
  EXPECT_EQ(font.glyph_count, 0);
  EXPECT_EQ(font.textures, nullptr);
  EXPECT_EQ(kroGetFontID(65, &font), -1);
  for (GLuint name : names)
    EXPECT_FALSE(glIsTexture(name));

  // Textures of another size are scaled copies.
  int32_t doubled[2] = {16, 16};
  ASSERT_EQ(kroLoadKROF(path.c_str(), &font, transparent_white, black, doubled), 0);
  GLint width = 0;
  glBindTexture(GL_TEXTURE_2D, font.textures[0]);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
  EXPECT_EQ(width, 16);
  std::vector<uint8_t> half = texels(font.textures[0], 16, 16);
  EXPECT_EQ(half[(4 * 16 + 2) * 4 + 3], 255); // left half: 1 bits
  EXPECT_EQ(half[(5 * 16 + 2) * 4 + 3], 254); // every second row blends, truncated
  EXPECT_EQ(half[(5 * 16 + 13) * 4 + 3], 0);  // right half: 0 bits
  kroDestroyKROF(&font);
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
  EXPECT_EQ(kroTestHookCalls, 0);
}

TEST_F(FontTest, DrawingSendsTwoTexturedTriangles) {
  ASSERT_TRUE(kroTestOpenGL());
  kroFont font;
  int32_t texture_size[2] = {8, 8};
  ASSERT_EQ(kroLoadKROF(KRO_TEST_DATA "/krof/one-glyph.krof", &font, transparent_white, black,
                        texture_size),
            0);
  glViewport(0, 0, 64, 64);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, 64, 0, 64, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  std::vector<GLfloat> buffer(1024);
  glFeedbackBuffer((GLsizei)buffer.size(), GL_3D_COLOR_TEXTURE, buffer.data());
  glRenderMode(GL_FEEDBACK);
  const float corner0[3] = {10, 20, 0}, corner1[3] = {30, 50, 0};
  kroDrawFont(66, &font, corner0, corner1); // no such glyph: nothing
  kroDrawFont(65, &font, corner0, corner1);
  int used = glRenderMode(GL_RENDER);
  // Per vertex: x, y, z, colour (4), texture (4).
  const float want[6][4] = {{10, 20, 0, 0}, {30, 20, 1, 0}, {30, 50, 1, 1},
                            {10, 20, 0, 0}, {30, 50, 1, 1}, {10, 50, 0, 1}};
  ASSERT_EQ(used, 2 * (2 + 3 * 11));
  for (int v = 0; v < 6; v++) {
    const GLfloat *p = &buffer[(v / 3) * 35 + 2 + (v % 3) * 11];
    EXPECT_FLOAT_EQ(p[0], want[v][0]) << v;
    EXPECT_FLOAT_EQ(p[1], want[v][1]) << v;
    EXPECT_FLOAT_EQ(p[7], want[v][2]) << v;
    EXPECT_FLOAT_EQ(p[8], want[v][3]) << v;
  }
  GLint bound = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  EXPECT_EQ(bound, (GLint)font.textures[0]);
  EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
  glDisable(GL_TEXTURE_2D);
  kroDestroyKROF(&font);
}

TEST_F(FontTest, HostileFilesAreRefused) {
  ASSERT_TRUE(kroTestOpenGL());
  struct {
    const char *name, *reason; // null: the plain message
  } cases[] = {
      {"bad-magic.krof", nullptr},
      {"header-cut.krof", "header cut short"},
      {"count-past-end.krof", "records cut short"},
      {"records-cut.krof", "records cut short"},
      {"count-not-whole.krof", "record count does not fit the glyph size"},
      {"too-many-glyphs.krof", "record count does not fit the glyph size"},
      {"size-not-bytes.krof", "glyph size is not a whole number of bytes"},
      {"zero-size.krof", "glyph size is not a whole number of bytes"},
  };
  int32_t texture_size[2] = {8, 8};
  int calls = 0;
  for (auto &c : cases) {
    std::string path = std::string(KRO_TEST_DATA "/krof/") + c.name;
    kroFont font;
    font.glyph_count = 99;
    testing::internal::CaptureStdout();
    EXPECT_NE(kroLoadKROF(path.c_str(), &font, transparent_white, black, texture_size), 0);
    std::string want = "Error in reading fonts from " + path;
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              c.reason ? want + ": " + c.reason + "\n" : want + "\n");
    EXPECT_EQ(font.glyph_count, 0) << c.name;
    EXPECT_EQ(font.textures, nullptr);
    EXPECT_EQ(font.glyph_table[65], -1);
    EXPECT_EQ(kroTestHookCalls, ++calls);
  }
  std::string missing = KRO_TEST_DATA "/krof/missing.krof";
  kroFont font;
  testing::internal::CaptureStdout();
  EXPECT_NE(kroLoadKROF(missing.c_str(), &font, transparent_white, black, texture_size), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Cannot read from file: " + missing + "\n");
}

TEST_F(FontTest, LoaderAllocationFailuresAndBadTextureSize) {
  ASSERT_TRUE(kroTestOpenGL());
  const char *path = KRO_TEST_DATA "/krof/one-glyph.krof";
  int32_t texture_size[2] = {8, 8};
  const char *messages[] = {"Error during allocating memory in kroReadKROF(..)\n",
                            "Error during allocating memory in kroLoadKROF(..)\n",
                            "Error during allocating memory for bitmap in kroLoadKROF(..)\n",
                            "Error during allocating memory in kroResizeBitmap(..)\n"};
  for (int n = 1; n <= 4; n++) {
    kroFont font;
    kroFailAllocationAfter(n);
    testing::internal::CaptureStdout();
    EXPECT_NE(kroLoadKROF(path, &font, transparent_white, black, texture_size), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), messages[n - 1]);
    EXPECT_EQ(font.glyph_count, 0);
    EXPECT_EQ(font.textures, nullptr);
    EXPECT_EQ(font.glyph_table[65], -1);
  }
  int32_t bad[2] = {0, 8};
  kroFont font;
  testing::internal::CaptureStdout();
  EXPECT_NE(kroLoadKROF(path, &font, transparent_white, black, bad), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Error in kroLoadKROF(..) with texture size 0 x 8\n");
  EXPECT_EQ(kroTestHookCalls, 5);
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

} // namespace
