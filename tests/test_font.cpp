// KROF fonts: the builder's file layout and bit encoding, the loader's glyph table and textures
// on a real context, the drawer through GL feedback, and every refused file or request.
#include "gl_context.h"

#include <sys/stat.h>
#include <unistd.h>

namespace {

struct FontTest : kroTestGLFailureFixture {
  FontTest() { kroSetBitMasks(); }
};

const std::string kDir = KRO_TEST_DATA "/krof/", kOneGlyph = kDir + "one-glyph.krof";
int32_t size8[2] = {8, 8}, row[2] = {8, 1}, odd[2] = {3, 3};

std::string folderWith(const std::string &name, std::initializer_list<const char *> codes) {
  std::string dir = kroTestTempFolder(name);
  for (const char *code : codes)
    kroTestWriteFile(dir + "/" + code + ".bmp", kroTestReadFile(kDir + "glyphs/" + code + ".bmp"));
  return dir;
}

// Loads with transparent white for 0 bits and black for 1 bits.
int load(const std::string &path, kroFont *font, int32_t width = 8, int32_t height = 8) {
  const float transparent_white[4] = {255, 255, 255, 0}, black[4] = {0, 0, 0, 255};
  int32_t texture_size[2] = {width, height};
  return kroLoadKROF(path.c_str(), font, transparent_white, black, texture_size);
}

std::vector<int> texels(GLuint texture, int width) {
  std::vector<uint8_t> all((size_t)width * width * 4);
  glBindTexture(GL_TEXTURE_2D, texture);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, all.data());
  return std::vector<int>(all.begin(), all.end());
}

TEST_F(FontTest, BuiltFileLayoutThresholdsAndLoadedGlyphs) {
  std::string dir = folderWith("three", {"65", "66", "200"}), out = kroTestTempPath("three.krof");
  EXPECT_EQ(kroCreateKROF(dir.c_str(), size8, out.c_str(), 128), 3);
  // 65: the left half of a 16 x 16 picture is black; 66: a black frame; 200: grey 128, a 1 bit
  // at threshold 128; then the path without its extension.
  EXPECT_EQ(kroTestReadFile(out), std::string("KROF\0\0\0\x1b\0\x08\0\x08"
                                              "A",
                                              13) +
                                      std::string(8, '\xF0') + "B\xFF" + std::string(6, '\x81') +
                                      "\xFF\xC8" + std::string(8, '\xFF') +
                                      out.substr(0, out.size() - 5));
  kroFont font;
  ASSERT_EQ(load(out, &font), 0);
  ASSERT_EQ(font.glyph_count, 3);
  for (int c = 0; c < 256; c++)
    EXPECT_EQ(kroGetFontID((uint8_t)c, &font), c == 65 ? 0 : c == 66 ? 1 : c == 200 ? 2 : -1) << c;
  // Glyph 66, a frame: opaque black on the border, transparent white inside.
  std::vector<int> t = texels(font.textures[1], 8);
  EXPECT_EQ((std::vector<int>{t[0], t[3], t[108], t[111], t[252], t[255]}),
            (std::vector<int>{0, 255, 255, 0, 0, 255}));
  std::vector<GLuint> names(font.textures, font.textures + 3);
  kroDestroyKROF(&font);
  EXPECT_TRUE(font.glyph_count == 0 && font.textures == nullptr);
  for (GLuint name : names)
    EXPECT_FALSE(glIsTexture(name));
  // Textures of another size are scaled copies: left half 1 bits, every second row blends.
  ASSERT_EQ(load(out, &font, 16, 16), 0);
  t = texels(font.textures[0], 16);
  EXPECT_EQ((std::vector<int>{t[66 * 4 + 3], t[82 * 4 + 3], t[93 * 4 + 3]}),
            (std::vector<int>{255, 254, 0}));
  kroDestroyKROF(&font);

  dir = folderWith("grey", {"200"});
  ASSERT_EQ(kroCreateKROF(dir.c_str(), row, out.c_str(), 127), 1);
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

TEST_F(FontTest, BuilderRefusalsPrintWithoutTheHook) {
  std::string dir = folderWith("refusals", {"65"}), long_dir(KRO_KROF_MAX_NAME, 'd');
  std::string out = kroTestTempPath("refused.krof"), lost = kroTestTempPath("no-folder/out.krof");
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
  // A picture that is there but not a usable BMP stops the build: the BMP reader reports it
  // and calls the hook, the only one of these to do so.
  kroTestWriteFile(dir + "/66.bmp", "BM not really");
  EXPECT_NE(refusal(dir, size8, out).find("kroLoadBMP(..)"), std::string::npos);
  EXPECT_EQ(kroTestHookCalls, 1);
  EXPECT_EQ(access(out.c_str(), F_OK), -1); // no file written by any of them
}

TEST_F(FontTest, DrawingSendsTwoTexturedTriangles) {
  kroFont font;
  ASSERT_EQ(load(kOneGlyph, &font), 0);
  const float corner0[3] = {10 / 32.0f - 1, 20 / 32.0f - 1, 0},
              corner1[3] = {30 / 32.0f - 1, 50 / 32.0f - 1, 0}; // (10, 20) and (30, 50)
  std::vector<float> got; // window x, y and texture s, t of each vertex
  for (auto &p : kroTestFeedback(GL_3D_COLOR_TEXTURE, [&] {
         kroDrawFont(66, &font, corner0, corner1); // no such glyph: nothing
         kroDrawFont(65, &font, corner0, corner1);
       }))
    got.insert(got.end(), {p[0], p[1], p[7], p[8]}); // x, y, z, RGBA, STRQ
  EXPECT_EQ(got, (std::vector<float>{10, 20, 0, 0, 30, 20, 1, 0, 30, 50, 1, 1,
                                     10, 20, 0, 0, 30, 50, 1, 1, 10, 50, 0, 1}));
  GLint bound = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  EXPECT_TRUE(bound == (GLint)font.textures[0] && glIsEnabled(GL_TEXTURE_2D));
  glDisable(GL_TEXTURE_2D);
  kroDestroyKROF(&font);
}

TEST_F(FontTest, HostileFilesAndFailedAllocationsAreRefused) {
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
        [&] { EXPECT_NE(load(path, &font), 0); },
        (message[0] && message[0] != ':' ? "" : "Error in reading fonts from " + path) + message +
            "\n",
        fail);
    EXPECT_TRUE(font.glyph_count == 0 && font.textures == nullptr && font.glyph_table[65] == -1);
  }
  kroFont font;
  EXPECT_EQ(kroTestCaptured([&] { EXPECT_NE(load(kOneGlyph, &font, 0, 8), 0); }),
            "Error in kroLoadKROF(..) with texture size 0 x 8\n");
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

} // namespace
