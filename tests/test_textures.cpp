// Materials with picture maps: what the reader keeps of each map block, where it looks for the
// picture, and a checker picture drawn through a material's map and read back with glReadPixels,
// moved by the map's UV offset, tiling and angle; a missing or broken picture leaves the colour.
#include "gl_context.h"

#include <math.h>
#include <algorithm>
#include <memory>
#include <sys/stat.h>

namespace {

struct TextureTest : kroTestFailureFixture {};

// A file whose material list holds one material with `maps`.
std::string model(const std::string &maps) {
  return "*3DSMAX_ASCIIEXPORT 200\n*MATERIAL_LIST {\n*MATERIAL_COUNT 1\n*MATERIAL 0 {\n"
         "*MATERIAL_NAME \"M\"\n*MATERIAL_DIFFUSE 0.2 0.4 0.6\n" +
         maps + "}\n}\n";
}

std::string map(const std::string &keyword, const std::string &bitmap,
                const std::string &values = "") {
  return keyword + " {\n*MAP_NAME \"n\"\n*MAP_CLASS \"Bitmap\"\n*BITMAP \"" + bitmap + "\"\n" +
         values + "}\n";
}

struct Materials {
  kroMaterial *list = nullptr;
  int count;
  Materials(const std::string &path, int textures)
      : count(kroLoadMaterialsWithMapsFromASE(&list, path.c_str(), nullptr, 0, textures)) {}
  ~Materials() { kroFreeMaterials(&list, count); }
};

// Every map of a material as "bitmap u-offset v-offset u-tiling v-tiling angle|", kinds in
// kroMapKind order; a map with no bitmap and all values 0 as "|".
std::string describe(const kroMaterial &material) {
  std::string text;
  for (const kroMaterialMap &m : material.map) {
    char values[128] = "";
    if (m.bitmap[0] || m.u_offset || m.v_offset || m.u_tiling || m.v_tiling || m.angle)
      snprintf(values, sizeof values, " %g %g %g %g %g", m.u_offset, m.v_offset, m.u_tiling,
               m.v_tiling, m.angle);
    text += m.bitmap + std::string(values) + "|";
  }
  return text;
}

// Each map kind lands in its own entry with its values (tiling 1 when not given); maps the
// material does not keep, and a map inside a map, are passed over; a multi-material keeps its own
// maps and takes the kinds it lacks from its first sub-material that has them. The reader stops
// at the end of the material list: a material number outside the list and a cut-off block after
// it, which the old reader reads and refuses, do not refuse the materials.
TEST_F(TextureTest, ReaderKeepsEachMapsFileAndTransformAndStopsAtTheListsEnd) {
  const std::string cut = model(map("*MAP_DIFFUSE", "x.png")) + "*GEOMOBJECT {\n*MATERIAL 3 {\n";
  const std::pair<std::string, std::string> cases[] = {
      // the file, its maps as diffuse|bump|specular|opacity|reflect
      {model(map("*MAP_DIFFUSE", "C:\\maps\\a b.png",
                 "*UVW_U_OFFSET 0.25\n*UVW_V_OFFSET -0.5\n*UVW_U_TILING 3\n*UVW_V_TILING 2\n"
                 "*UVW_ANGLE 0.5\n") +
             map("*MAP_AMBIENT", "no.png") + map("*MAP_BUMP", "b.bmp") +
             map("*MAP_OPACITY", "o.png", map("*MAP_GENERIC", "inner.png")) +
             map("*MAP_REFLECT", "r.png", "*UVW_ANGLE 1\n")),
       "C:\\maps\\a b.png 0.25 -0.5 3 2 0.5|b.bmp 0 0 1 1 0||o.png 0 0 1 1 0|r.png 0 0 1 1 1|"},
      {model(map("*MAP_AMBIENT", "no.png")), "|||||"},
      {model("*SUBMATERIAL 0 {\n" + map("*MAP_SPECULAR", "s0.png") + map("*MAP_DIFFUSE", "d0") +
             "}\n*SUBMATERIAL 1 {\n" + map("*MAP_SPECULAR", "s1.png") + "}\n" +
             map("*MAP_DIFFUSE", "own.png")), // its own map, after the sub-materials, replaces
       "own.png 0 0 1 1 0||s0.png 0 0 1 1 0|||"},
      {model(map("*MAP_DIFFUSE", "own.png") + "*SUBMATERIAL 0 {\n" +
             map("*MAP_DIFFUSE", "sub.png") + "}\n"),
       "own.png 0 0 1 1 0|||||"},
      {cut, "x.png 0 0 1 1 0|||||"},
  };
  std::string path = kroTestTempPath("maps.ase");
  for (const auto &[file, described] : cases) {
    SCOPED_TRACE(described);
    kroTestWriteFile(path, file);
    Materials read(path, 0);
    ASSERT_EQ(read.count, 1);
    EXPECT_EQ(describe(read.list[0]), described);
    EXPECT_FLOAT_EQ(read.list[0].diffuse[2], 0.6f); // the colour as the old reader gives it
  }
  EXPECT_EQ(kroTestHookCalls, 0);
  kroMaterial *old = nullptr;
  kroTestWriteFile(path, cut);
  std::string refusal =
      kroTestCaptured([&] { EXPECT_EQ(kroLoadMaterialsFromASE(&old, path.c_str()), 0); });
  EXPECT_TRUE(kroTestHas(refusal, "material 3 of *MATERIAL"));
  // The longest name it keeps, and one longer.
  for (int length : {(int)KRO_MAP_NAME_CHARS, KRO_MAP_NAME_CHARS + 1}) {
    kroTestWriteFile(path, model(map("*MAP_BUMP", std::string(length, 'n'))));
    std::string out = kroTestCaptured([&] { Materials read(path, 0); });
    EXPECT_EQ(kroTestHas(out, "bitmap name is longer than 259 characters"),
              length > KRO_MAP_NAME_CHARS);
  }
}

// The file as written, then relative to the model, then its base name beside the model and in
// the folders given, each place exactly before ignoring case.
TEST(TextureSearch, PicturesAreFoundWhereTheSearchLooks) {
  std::string root = kroTestTempFolder("search"), model = root + "/m/scene.ase";
  for (const char *folder : {"/m", "/m/maps", "/extra", "/m/dir.png", "/maps"})
    mkdir((root + folder).c_str(), 0755);
  for (const char *file : {"/m/Wood.PNG", "/m/maps/stone.png", "/m/tile.png", "/m/TILE.png",
                           "/extra/metal.png", "/extra/wood.png", "/abs.png", "/maps/stone.png"})
    kroTestWriteFile(root + file, "x");
  const std::string extra = root + "/extra";
  const char *folders[] = {extra.c_str()};
  const std::pair<std::string, std::string> cases[] = {
      // the bitmap, the picture found
      {root + "/abs.png", root + "/abs.png"},
      {"C:\\maps\\wood.png", root + "/m/Wood.PNG"},   // beside the model wins over the folders
      {"maps/stone.png", root + "/m/maps/stone.png"}, // before the working folder's
      {"D:\\x\\tile.png", root + "/m/tile.png"},      // exactly before ignoring case
      {"D:\\x\\Tile.png", root + "/m/TILE.png"},      // the first in name order
      {"D:\\x\\metal.png", extra + "/metal.png"},
      {"D:\\x\\dir.png", ""}, // a folder is no picture
      {"nothing.png", ""},
  };
  char cwd[4096];
  ASSERT_TRUE(getcwd(cwd, sizeof cwd) && chdir(root.c_str()) == 0);
  for (const auto &[bitmap, want] : cases) {
    SCOPED_TRACE(bitmap);
    char found[4096] = "";
    int got = kroFindMapFile(bitmap.c_str(), model.c_str(), folders, 1, found, sizeof found);
    EXPECT_EQ(got, !want.empty());
    EXPECT_EQ(std::string(got ? found : ""), want);
  }
  ASSERT_EQ(chdir(cwd), 0);
}

enum { kSide = 64, kCells = 8 }; // the checker picture: 64 x 64 pixels, 8 x 8 cells

// Cell (i, j) of the checker, i from the left, j from the bottom: red when i is odd, green
// when j is odd, blue 64.
void cellColour(int i, int j, uint8_t *rgb) {
  rgb[0] = (uint8_t)(i & 1 ? 255 : 0), rgb[1] = (uint8_t)(j & 1 ? 255 : 0), rgb[2] = 64;
}

// The whole 64 x 64 view drawn through the material's diffuse texture, corner to corner 0..1.
std::vector<uint8_t> drawQuad(const kroMaterial &material) {
  glViewport(0, 0, 64, 64); // no lighting, depth test or program: nothing here turns them on
  glMatrixMode(GL_PROJECTION), glLoadIdentity(), glMatrixMode(GL_MODELVIEW), glLoadIdentity();
  glEnable(GL_TEXTURE_2D);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
  glBindTexture(GL_TEXTURE_2D, material.texture[KRO_MAP_DIFFUSE]);
  kroLoadMapTransform(&material.map[KRO_MAP_DIFFUSE]);
  const float corners[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  glBegin(GL_QUADS);
  for (const float *c : corners)
    glTexCoord2fv(c), glVertex2f(2 * c[0] - 1, 2 * c[1] - 1);
  glEnd();
  std::vector<uint8_t> rgb(64 * 64 * 3);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, 64, 64, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
  return rgb;
}

// Every pixel well inside a cell shows that cell's colour, the cell found from the map's
// transform as kro.h writes it out; pixels near a cell's edge are left out (filtering). A
// picture that is not there, or is not a picture, is a warning with the reason and no hook; the
// material keeps its colour and has no texture.
TEST_F(TextureTest, CheckerMovesAsTheMapsOffsetTilingAndAngleSayAndBrokenPicturesWarn) {
  ASSERT_TRUE(kroTestOpenGL());
  std::vector<uint8_t> checker(kSide * kSide * 4, 255);
  for (int y = 0; y < kSide; y++)
    for (int x = 0; x < kSide; x++)
      cellColour(x * kCells / kSide, y * kCells / kSide, &checker[(y * kSide + x) * 4]);
  std::string folder = kroTestTempFolder("checker"), path = folder + "/quad.ase";
  int32_t size[2] = {kSide, kSide};
  ASSERT_EQ(kroExportBMP((folder + "/checker.bmp").c_str(), checker.data(), size), 0);
  const float quarter = (float)M_PI / 2;
  const float transforms[][5] = {
      {0, 0, 1, 1, 0}, {0.0625f, 0, 1, 1, 0},      {0, -0.3125f, 1, 1, 0},
      {0, 0, 2, 1, 0}, {0.125f, 0.0625f, 1, 2, 0}, {0, 0, 1, 2, quarter}};
  // The file's transform values are read as the reader test shows; here they are set in place.
  kroTestWriteFile(path, model(map("*MAP_DIFFUSE", "C:\\pictures\\CHECKER.bmp") +
                               map("*MAP_BUMP", "checker.bmp")));
  Materials read(path, 1);
  ASSERT_EQ(read.count, 1);
  kroMaterialMap &m = read.list[0].map[KRO_MAP_DIFFUSE];
  ASSERT_EQ(m.state, KRO_MAP_LOADED);
  EXPECT_TRUE(read.list[0].texture[KRO_MAP_BUMP] == 0 &&
              read.list[0].map[1].state == 0); // not drawn
  for (const auto &t : transforms) {
    SCOPED_TRACE(&t - transforms);
    m.u_offset = t[0], m.v_offset = t[1], m.u_tiling = t[2], m.v_tiling = t[3], m.angle = t[4];
    std::vector<uint8_t> rgb = drawQuad(read.list[0]);
    int checked = 0, wrong = 0;
    for (int y = 0; y < 64; y++)
      for (int x = 0; x < 64; x++) {
        double u = (x + 0.5) / 64 - 0.5, v = (y + 0.5) / 64 - 0.5;
        double s = 0.5 + t[0] + t[2] * (u * cos(t[4]) - v * sin(t[4]));
        double r = 0.5 + t[1] + t[3] * (u * sin(t[4]) + v * cos(t[4]));
        double cs = (s - floor(s)) * kCells, ct = (r - floor(r)) * kCells;
        double edge = std::min({cs - floor(cs), ceil(cs) - cs, ct - floor(ct), ceil(ct) - ct});
        if (edge < 0.2)
          continue;
        uint8_t want[3];
        cellColour((int)cs, (int)ct, want);
        const uint8_t *got = &rgb[(y * 64 + x) * 3];
        checked++;
        wrong +=
            abs(got[0] - want[0]) > 12 || abs(got[1] - want[1]) > 12 || abs(got[2] - want[2]) > 12;
      }
    EXPECT_GT(checked, 1000);
    EXPECT_EQ(wrong, 0);
  }
  // A map that has its texture is not loaded again; one whose texture was deleted and zeroed is.
  GLuint made = read.list[0].texture[KRO_MAP_DIFFUSE];
  EXPECT_EQ(kroLoadMaterialTextures(read.list, 1, path.c_str(), nullptr, 0), 0);
  EXPECT_EQ(read.list[0].texture[KRO_MAP_DIFFUSE], made);
  GLuint *names = read.list[0].texture, own = 0;
  glGenTextures(1, &names[KRO_MAP_REFLECT]); // a name the production gave the last kind
  glBindTexture(GL_TEXTURE_2D, own = names[KRO_MAP_REFLECT]), glBindTexture(GL_TEXTURE_2D, 0);
  kroDestroyMaterial(&read.list[0]); // its names may be GL's to give again: none is kept
  EXPECT_TRUE(std::all_of(names, names + 5, [](GLuint n) { return n == 0; }) && !glIsTexture(own));
  EXPECT_EQ(kroLoadMaterialTextures(read.list, 1, path.c_str(), nullptr, 0), 1);
  kroTestWriteFile(folder + "/broken.png", "\x89PNG\r\n\x1a\nnot a picture");
  const std::tuple<std::string, std::string, int> cases[] = {
      // the bitmap, the warning, the state
      {"gone.png", "the diffuse map \"gone.png\" was not found\n", KRO_MAP_MISSING},
      {"broken.png", "the diffuse map " + folder + "/broken.png was refused: ", KRO_MAP_DAMAGED}};
  for (const auto &[bitmap, warning, state] : cases) {
    SCOPED_TRACE(bitmap);
    kroTestWriteFile(path, model(map("*MAP_DIFFUSE", bitmap)));
    std::unique_ptr<Materials> read;
    std::string out = kroTestCaptured([&] { read = std::make_unique<Materials>(path, 1); });
    ASSERT_EQ(read->count, 1);
    const kroMaterial &got = read->list[0];
    EXPECT_TRUE(kroTestHas(out, "Warning: " + path + ", material 0: " + warning)) << out;
    EXPECT_EQ(got.map[KRO_MAP_DIFFUSE].state, state);
    EXPECT_EQ(got.texture[KRO_MAP_DIFFUSE], 0u);
    EXPECT_FLOAT_EQ(got.diffuse[1], 0.4f);
  }
  EXPECT_EQ(kroTestHookCalls, 0);
}

} // namespace
