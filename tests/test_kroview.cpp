// kroview as a user runs it: one frame off-screen (--shot) read back from its PNG. Objects stand
// where the camera's projection puts them, materials give their colours, the ground fills the
// lower part, post-processing softens edges, the overlay shows the font's glyphs in their cells,
// and bad input ends with the right exit code and messages.
#include "gl_context.h"
#include "kroview.h"

#include <math.h>

#include <algorithm>

namespace {

const int kWidth = 600, kHeight = 300;                          // the shots' size, pixels
const double kHalfField = 25.0;                                 // degrees, axis to top edge
const double kFraming = 1.05;                                   // the unit sphere's margin
const unsigned char kBackground[3] = {26, 28, 41};              // 0.10, 0.11, 0.16 of 255
const int kMargin = 8, kLinePixels = 20, kScale = 2, kCell = 8; // overlay layout, pixels
const std::string kData = std::string(KRO_TEST_DATA) + "/viewer/";
const std::string kThree = kData + "three_materials.ase";

bool background(const kroTestPng &png, int x, int y) {
  for (int c = 0; c < 3; c++)
    if (abs(png.at(x, y)[c] - kBackground[c]) > 8)
      return false;
  return true;
}
int grey(const kroTestPng &png, int x, int y) {
  return (png.at(x, y)[0] + png.at(x, y)[1] + png.at(x, y)[2]) / 3;
}

// Runs the built kroview with `arguments`; `environment` goes in front of the command.
kroTestOutcome kroview(const std::string &arguments, const std::string &environment = "") {
  return kroTestRun(environment + " ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" " + KROVIEW_PATH +
                    " " + arguments);
}

// One frame of `model` off-screen; `out` gets what kroview printed.
kroTestPng shot(const std::string &model, const std::string &options, std::string *out = nullptr) {
  std::string path = kroTestTempPath("shot.png");
  std::string size = " --size " + std::to_string(kWidth) + "x" + std::to_string(kHeight) + " ";
  kroTestOutcome run = kroview(model + size + options + " --shot " + path);
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  if (out)
    *out = run.out;
  kroTestPng png(path);
  EXPECT_EQ(png.width, kWidth);
  return png;
}

// Every vertex of the file's geometry objects, file units.
std::vector<std::vector<float>> fileVertices(const std::string &path) {
  kroMesh *meshes = nullptr;
  int count = kroLoadMeshArrayFromASE(&meshes, path.c_str());
  std::vector<std::vector<float>> points;
  for (int i = 0; i < count; i++)
    for (int t = 0; t < meshes[i].triangles; t++)
      for (int v = 0; v < 9; v += 3)
        points.push_back({meshes[i].op[t][v], meshes[i].op[t][v + 1], meshes[i].op[t][v + 2]});
  kroFreeMeshArray(&meshes, count);
  return points;
}

// The documented camera: the bounding box's centre at the origin, its half-diagonal scaled to 1,
// turned by -yaw about y and pitch about x, seen from kFraming / sin(half-angle) away.
struct Projection {
  double centre[3] = {0, 0, 0}, radius = 1, yaw, pitch;
  Projection(const std::vector<std::vector<float>> &points, double yaw_degrees,
             double pitch_degrees)
      : yaw(yaw_degrees * M_PI / 180), pitch(pitch_degrees * M_PI / 180) {
    double low[3] = {1e30, 1e30, 1e30}, high[3] = {-1e30, -1e30, -1e30}, squares = 0;
    for (auto &p : points)
      for (int k = 0; k < 3; k++)
        low[k] = std::min(low[k], (double)p[k]), high[k] = std::max(high[k], (double)p[k]);
    for (int k = 0; k < 3; k++) {
      centre[k] = (low[k] + high[k]) / 2;
      squares += (high[k] - low[k]) * (high[k] - low[k]);
    }
    radius = sqrt(squares) / 2;
  }
  // Pixel column and row (row 0 at the top) of a file point.
  std::pair<double, double> pixel(const std::vector<float> &p) const {
    double q[3];
    for (int k = 0; k < 3; k++)
      q[k] = (p[k] - centre[k]) / radius;
    double x = q[0] * cos(yaw) - q[2] * sin(yaw), z = q[0] * sin(yaw) + q[2] * cos(yaw);
    double y = q[1] * cos(pitch) - z * sin(pitch);
    z = q[1] * sin(pitch) + z * cos(pitch);
    double aspect = (double)kWidth / kHeight, t = tan(kHalfField * M_PI / 180);
    double half = std::min(kHalfField * M_PI / 180, atan(t * aspect));
    double depth = kFraming / sin(half) - z;
    return {(x / depth / (t * aspect) + 1) / 2 * kWidth, (1 - y / depth / t) / 2 * kHeight};
  }
};

TEST(Kroview, ExporterFilesShowTheirObjectsWhereTheProjectionPutsThem) {
  const std::string folder = std::string(KRO_TEST_DATA) + "/third-party/assimp/";
  for (const char *file :
       {"CameraRollAnim.ase", "RotatingCube.ASE", "TargetCameraAnim.ase", "UVTransform_Normal.ASE"})
    for (double yaw : {25.0, -120.0}) {
      std::string view = "--yaw " + std::to_string(yaw) + " --pitch 30 --no-overlay";
      kroTestPng png = shot(folder + file, view);
      auto points = fileVertices(folder + file);
      Projection projection(points, yaw, 30);
      double left = 1e9, right = -1e9, top = 1e9, bottom = -1e9;
      for (auto &p : points) {
        auto [column, row] = projection.pixel(p);
        left = std::min(left, column), right = std::max(right, column);
        top = std::min(top, row), bottom = std::max(bottom, row);
      }
      int seen[4] = {kWidth, -1, kHeight, -1}; // left, right, top, bottom
      for (int y = 0; png.width && y < kHeight; y++)
        for (int x = 0; x < kWidth; x++)
          if (!background(png, x, y)) {
            seen[0] = std::min(seen[0], x), seen[1] = std::max(seen[1], x);
            seen[2] = std::min(seen[2], y), seen[3] = std::max(seen[3], y);
          }
      const double expected[4] = {left, right, top, bottom};
      for (int k = 0; k < 4; k++)
        EXPECT_NEAR(seen[k], expected[k], 3.0) << file << " yaw " << yaw << " edge " << k;
    }
}

TEST(Kroview, EachObjectShowsItsOwnMaterialColour) {
  // Red, green and blue boxes from left to right; the file lists the materials green, blue, red.
  kroTestPng png = shot(kThree, "--yaw 0 --pitch 0 --no-overlay");
  Projection projection(fileVertices(kThree), 0, 0);
  for (int box = 0; box < 3 && png.width; box++) {
    auto [column, row] = projection.pixel({-3.0f + 3 * box, 0, 1}); // the front face's middle
    const unsigned char *p = png.at((int)column, (int)row);
    EXPECT_GT(p[box], 2 * std::max({p[0] * (box != 0), p[1] * (box != 1), p[2] * (box != 2)}))
        << "box " << box << ": " << (int)p[0] << " " << (int)p[1] << " " << (int)p[2];
  }
}

TEST(Kroview, PickingFindsTheObjectUnderAPixelAndTheOverlayNamesIt) {
  static kvView view;
  char why[256];
  ASSERT_EQ(kvLoadScene(&view.scene, kThree.c_str(), why, sizeof why), 0) << why;
  view.file_name = "three_materials.ase";
  view.chosen = -1;
  Projection projection(fileVertices(kThree), 40, -15);
  kvResetCamera(&view.camera, kWidth, kHeight);
  view.camera.yaw = 40;
  view.camera.pitch = -15;
  const char *names[] = {"RedBox", "GreenBox", "BlueBox"};
  for (int box = 0; box < 3; box++) {
    auto [column, row] = projection.pixel({-3.0f + 3 * box, 0.5f, 1}); // on each front face
    view.hovered = kvObjectAt(&view, (int)column, (int)row);
    EXPECT_EQ(view.hovered, box);
    kvComposeOverlay(&view);
    EXPECT_EQ(std::string(view.overlay.lines[2]),
              "object: " + std::string(names[box]) + " (12 triangles)");
  }
  EXPECT_EQ(kvObjectAt(&view, 2, 2), -1);      // a corner: nothing there
  EXPECT_EQ(kvObjectAt(&view, kWidth, 0), -1); // outside the view
  view.hovered = -1;
  view.chosen = 2; // chosen with Tab, nothing under the mouse
  kvComposeOverlay(&view);
  EXPECT_EQ(std::string(view.overlay.lines[2]), "object: BlueBox (12 triangles)");
  kvFreeScene(&view.scene);
}

// The chosen object's edges are drawn over it in the highlight colour, chosen
// by name or by place alike, and nothing outside its projected box changes.
TEST(Kroview, ChosenObjectIsOutlinedAndNothingElseChanges) {
  const std::string angles = "--no-overlay --yaw 40 --pitch -15";
  kroTestPng plain = shot(kThree, angles);
  kroTestPng named = shot(kThree, angles + " --object GreenBox");
  kroTestPng placed = shot(kThree, angles + " --object 2");
  ASSERT_TRUE(plain.width && named.width && placed.width);
  EXPECT_TRUE(named.rgb == placed.rgb);
  Projection projection(fileVertices(kThree), 40, -15);
  double left = kWidth, right = 0, top = kHeight, bottom = 0;
  for (float x : {-1.0f, 1.0f})
    for (float y : {-1.0f, 1.0f})
      for (float z : {-1.0f, 1.0f}) { // GreenBox's corners
        auto [column, row] = projection.pixel({x, y, z});
        left = std::min(left, column), right = std::max(right, column);
        top = std::min(top, row), bottom = std::max(bottom, row);
      }
  const int amber[3] = {255, 191, 26}; // the highlight colour, 0..255
  int outlined = 0, stray = 0;
  for (int y = 0; y < kHeight; y++)
    for (int x = 0; x < kWidth; x++) {
      if (std::equal(plain.at(x, y), plain.at(x, y) + 3, named.at(x, y)))
        continue;
      bool inside = x >= left - 3 && x <= right + 3 && y >= top - 3 && y <= bottom + 3;
      const unsigned char *p = named.at(x, y);
      bool highlight =
          abs(p[0] - amber[0]) <= 2 && abs(p[1] - amber[1]) <= 2 && abs(p[2] - amber[2]) <= 2;
      stray += !inside;
      outlined += inside && highlight;
    }
  EXPECT_EQ(stray, 0);
  EXPECT_GT(outlined, (right - left + bottom - top) * 2) << "fewer lit pixels than the box's edge";
}

TEST(Kroview, TerrainFillsTheLowerPartOfTheView) {
  const std::string ground = std::string(KRO_SOURCE_DIR) + "/viewer/data/terrain.bmp";
  kroTestPng bare = shot(kThree, "--no-overlay");
  kroTestPng grounded = shot(kThree, "--no-overlay --terrain " + ground);
  auto covered = [](const kroTestPng &png, int first_row, int rows) {
    int count = 0;
    for (int y = first_row; png.width && y < first_row + rows; y++)
      for (int x = 0; x < kWidth; x++)
        count += !background(png, x, y);
    return (double)count / (rows * kWidth);
  };
  EXPECT_GT(covered(grounded, kHeight * 3 / 4, kHeight / 4), 0.97);
  EXPECT_LT(covered(bare, kHeight * 3 / 4, kHeight / 4), 0.05);
  EXPECT_LT(covered(grounded, 0, kHeight / 10), 0.05); // the sky stays clear
}

TEST(Kroview, PostProcessingLowersTheContrastOfAnEdge) {
  const std::string model = std::string(KRO_TEST_DATA) + "/third-party/assimp/RotatingCube.ASE";
  kroTestPng sharp = shot(model, "--no-overlay"), soft = shot(model, "--no-overlay --post");
  auto steepest = [](const kroTestPng &png) {
    int step = 0;
    for (int x = 0; png.width && x + 1 < kWidth; x++)
      step = std::max(step, abs(grey(png, x + 1, kHeight / 2) - grey(png, x, kHeight / 2)));
    return step;
  };
  EXPECT_GT(steepest(sharp), 60);
  EXPECT_LT(steepest(soft), steepest(sharp) * 4 / 5);
}

TEST(Kroview, OverlayDrawsTheFontsGlyphsInTheirCells) {
  kroSetBitMasks();
  kroFontFile font;
  ASSERT_EQ(kroReadKROF(KROVIEW_FONT, &font), 0);
  ASSERT_EQ(font.width, kCell);
  kroTestPng png = shot(kThree, "");
  const char *lines[] = {"kroview three_materials.ase", "objects 3  triangles 36", "object: -",
                         "fps -"};
  for (int line = 0; line < 4 && png.width; line++)
    for (int c = 0; lines[line][c]; c++) {
      const uint8_t *record = nullptr;
      for (int g = 0; g < font.glyph_count; g++)
        if (font.records[g * font.record_bytes] == (uint8_t)lines[line][c])
          record = &font.records[g * font.record_bytes + 1];
      ASSERT_TRUE(record) << lines[line][c];
      int mismatches = 0;
      for (int p = 0; p < kCell * kCell; p++) {
        bool ink = record[p / 8] & (0x80 >> (p % 8));
        int from_top = kCell - 1 - p / kCell; // records keep the bitmap's bottom row first
        for (int d = 0; d < kScale * kScale; d++) {
          int x = kMargin + (c * kCell + p % kCell) * kScale + d % kScale;
          int y = kMargin + line * kLinePixels + (kLinePixels - kCell * kScale) +
                  from_top * kScale + d / kScale;
          const unsigned char *rgb = png.at(x, y);
          bool white = rgb[0] == 255 && rgb[1] == 255 && rgb[2] == 255;
          mismatches += white != ink;
        }
      }
      EXPECT_EQ(mismatches, 0) << "line " << line << " char '" << lines[line][c] << "'";
    }
  kroFreeKROF(&font);
}

TEST(Kroview, RefusedObjectIsListedAndTheRestShown) {
  const std::string model = kData + "one_refused.ase";
  std::string out;
  kroTestPng png = shot(model, "--yaw 0 --pitch 0 --no-overlay", &out);
  EXPECT_TRUE(kroTestHas(out, "vertex 9 of *MESH_FACE is outside 0..7")) << out;
  EXPECT_TRUE(kroTestHas(out, "one_refused.ase: refused object 2: ")) << out;
  static kvView view; // the overlay lists it too, with the engine's message
  char why[256];
  kvCatchEngineMessages();
  ASSERT_EQ(kvLoadScene(&view.scene, model.c_str(), why, sizeof why), 0) << why;
  view.file_name = "one_refused.ase";
  view.hovered = view.chosen = -1;
  kvComposeOverlay(&view);
  std::string text;
  for (int line = 0; line < view.overlay.line_count; line++)
    text += std::string(view.overlay.lines[line]) + "\n";
  for (const char *part : {"objects 2  triangles 24  refused 1\n", "refused object 2\n",
                           "error: Error in reading mesh from file descriptor: vertex 9"})
    EXPECT_TRUE(kroTestHas(text, part)) << text;
  kvFreeScene(&view.scene);
  // The kept boxes span x -4..4; the refused one stood in the middle, now empty.
  Projection projection({{-4, -1, -1}, {4, 1, 1}}, 0, 0);
  for (float x : {-3.0f, 0.0f, 3.0f}) {
    auto [column, row] = projection.pixel({x, 0, 1});
    EXPECT_TRUE(png.width && background(png, (int)column, (int)row) == (x == 0.0f)) << "x " << x;
  }
}

TEST(Kroview, BadInputEndsBeforeAnyWindowWithCodeAndMessages) {
  const std::string &data = kData, missing = data + "no_such_model.ase",
                    refused = std::string(KRO_TEST_DATA) + "/ase/bad_numfaces_twice.ase";
  // Arguments, status, and parts of standard output and error (empty: anything).
  const std::tuple<std::string, int, std::string, std::string> cases[] = {
      {missing, 1, "Error in reading material from " + missing, "kroview: cannot open " + missing},
      {data, 1, "", "kroview: cannot read " + data + ": Is a directory"},
      {data + "no_geometry.ase", 1, "", "no_geometry.ase holds no geometry object"},
      {refused, 1, "*MESH_NUMFACES is given twice", refused + " was refused"},
      {data + "three_materials.ase --terrain " + missing, 1, "", "cannot use " + missing},
      {"", 2, "", "usage: kroview"},
      {"--bogus " + data + "three_materials.ase", 2, "", "usage: kroview"},
      {"--size 0x10 a.ase", 2, "", "usage:"},
      {"--size 100 a.ase", 2, "", "usage:"},
      {"--yaw east a.ase", 2, "", "usage:"},
      {"a.ase b.ase", 2, "", "usage:"},
      {"a.ase --shot", 2, "", "usage:"},
      {kThree + " --object 4", 2, "", "three_materials.ase has no object '4'"},
      {kThree + " --object Box", 2, "", "three_materials.ase has no object 'Box'"},
      {"--help", 0, "usage: kroview", ""},
  };
  for (const auto &[arguments, status, out, err] : cases) {
    kroTestOutcome run = kroview(arguments, "DISPLAY=");
    EXPECT_EQ(run.status, status) << arguments << "\n" << run.out << run.err;
    EXPECT_TRUE(kroTestHas(run.out, out) && kroTestHas(run.err, err))
        << arguments << ": " << run.out << run.err;
    EXPECT_EQ(run.err.find("OpenGL"), std::string::npos) << arguments;
  }
}

} // namespace

namespace {

// A file without normal lines is drawn lit all the same: kroview gives each
// triangle its face's normal, so the box's faces are not one flat colour.
TEST(Kroview, FileWithoutNormalsIsDrawnLit) {
  kroTestPng png = shot(std::string(KRO_TEST_DATA) + "/ase/box_without_normals.ase",
                        "--yaw 30 --pitch 20 --no-overlay");
  int lo = 255, hi = 0;
  long box = 0;
  for (int y = 0; y < png.height; y++)
    for (int x = 0; x < png.width; x++)
      if (!background(png, x, y)) {
        box++;
        lo = std::min(lo, grey(png, x, y)), hi = std::max(hi, grey(png, x, y));
      }
  EXPECT_GT(box, (long)kWidth * kHeight / 20);
  EXPECT_GT(hi - lo, 60) << lo << " " << hi;
}

} // namespace
