// kroview as a user runs it: frames off-screen (--shot) or from a live window, read back from
// their PNGs and checked against the documented camera; bad input ends with its code and message.
#include "gl_context.h"
#include "kroview.h"

#include <errno.h>
#include <fcntl.h>
#include <math.h>
#include <signal.h>
#include <sys/wait.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <sstream>

namespace {

const int kWidth = 600, kHeight = 300;             // the shots' size, pixels
const double kHalfField = 25.0;                    // degrees, axis to top edge
const double kFill = 0.78;                         // the framed scene's part of the binding side
const unsigned char kBackground[3] = {26, 28, 41}; // 0.10, 0.11, 0.16 of 255
const int kMargin = 8;                             // overlay text from the view's edges, pixels
const std::string kData = std::string(KRO_TEST_DATA) + "/viewer/";
const std::string kThree = kData + "three_materials.ase", kFigure = kData + "zup_figure.ase";
const std::string kAse = std::string(KRO_TEST_DATA) + "/ase/";
const std::string kExporter = std::string(KRO_TEST_DATA) + "/third-party/assimp/";
const std::string kTextured = std::string(KRO_SOURCE_DIR) + "/examples/textured/";
const std::string kGltf = std::string(KRO_TEST_DATA) + "/gltf/";
// An exporter's files: +z up, several objects, cameras and lights beside the geometry.
const std::string kExporterFiles[] = {
    kExporter + "CameraRollAnim.ase", kExporter + "RotatingCube.ASE",
    kExporter + "TargetCameraAnim.ase", kExporter + "UVTransform_Normal.ASE"};

bool background(const kroTestPng &png, int x, int y) {
  for (int c = 0; c < 3; c++)
    if (abs(png.at(x, y)[c] - kBackground[c]) > 8)
      return false;
  return true;
}
// The largest difference in a channel between pixel (x, y) of two pictures; 0: the same.
int difference(const kroTestPng &a, const kroTestPng &b, int x, int y) {
  int most = 0;
  for (int c = 0; c < 3; c++)
    most = std::max(most, abs(a.at(x, y)[c] - b.at(x, y)[c]));
  return most;
}
// Pixels (x, y) of the picture for which `is(x, y)` holds.
template <typename F> int countPixels(const kroTestPng &png, F is) {
  int count = 0;
  for (int y = 0; y < png.height; y++)
    for (int x = 0; x < png.width; x++)
      count += is(x, y);
  return count;
}
// Pixels where `where(x, y)` holds that differ by more than `tolerance` in two pictures of one
// size.
template <typename F>
int differing(const kroTestPng &a, const kroTestPng &b, int tolerance, F where) {
  return countPixels(
      a, [&](int x, int y) { return where(x, y) && difference(a, b, x, y) > tolerance; });
}
int grey(const kroTestPng &png, int x, int y) {
  return (png.at(x, y)[0] + png.at(x, y)[1] + png.at(x, y)[2]) / 3;
}

// Runs the built kroview with `arguments`; `environment` goes in front of the command.
kroTestOutcome kroview(const std::string &arguments, const std::string &environment = "") {
  return kroTestRun(environment + " ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" " + KROVIEW_PATH +
                    " " + arguments);
}

// One frame of `model` off-screen, of the given size.
kroTestPng shot(const std::string &model, const std::string &options, int width = kWidth,
                int height = kHeight) {
  std::string path = kroTestTempPath("shot.png");
  std::string size = " --size " + std::to_string(width) + "x" + std::to_string(height) + " ";
  kroTestOutcome run = kroview(model + size + options + " --shot " + path);
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  kroTestPng png(path);
  EXPECT_EQ(png.width, width);
  return png;
}

// Every vertex of the file's geometry objects (or of the one at index `only`), file units.
std::vector<std::vector<float>> fileVertices(const std::string &path, int only = -1) {
  kroScene scene;
  kroLoadScene(&scene, path.c_str(), 0);
  std::vector<std::vector<float>> points;
  for (int i = 0; i < scene.mesh_count; i++)
    for (int t = 0; t < scene.meshes[i].triangles && (only < 0 || i == only); t++)
      for (const float *v = scene.meshes[i].op[t]; v < scene.meshes[i].op[t] + 9; v += 3)
        points.push_back({v[0], v[1], v[2]});
  kroFreeScene(&scene);
  return points;
}

// The smallest and largest x, then y, of the points as `place` puts them.
template <typename F>
std::array<double, 4> extent(const std::vector<std::vector<float>> &points, F place) {
  std::array<double, 4> box = {1e30, -1e30, 1e30, -1e30};
  for (auto &p : points) {
    auto [x, y] = place(p);
    box = {std::min(box[0], x), std::max(box[1], x), std::min(box[2], y), std::max(box[3], y)};
  }
  return box;
}

// The documented camera: the file's up axis turned to +y (+z up: the file's -y comes to the
// front; -z up: its +y), the bounding box's centre at the origin, its half-diagonal scaled to 1,
// turned by -yaw about y and pitch about x; the eye as far away as leaves the vertices' projections
// spanning kFill of the binding side, and that span moved to the middle of the view.
struct Projection {
  double centre[3] = {0, 0, 0}, radius = 1, yaw, pitch, distance = 0, shift[2] = {0, 0};
  kvUp up;
  int width, height; // the view, pixels
  Projection(const std::vector<std::vector<float>> &points, double yaw_degrees,
             double pitch_degrees, kvUp file_up = KV_UP_PLUS_Y, int view_width = kWidth,
             int view_height = kHeight)
      : yaw(yaw_degrees * M_PI / 180), pitch(pitch_degrees * M_PI / 180), up(file_up),
        width(view_width), height(view_height) {
    double low[3] = {1e30, 1e30, 1e30}, high[3] = {-1e30, -1e30, -1e30}, squares = 0;
    for (auto &p : points) {
      auto q = upright(p);
      for (int k = 0; k < 3; k++)
        low[k] = std::min(low[k], q[k]), high[k] = std::max(high[k], q[k]);
    }
    for (int k = 0; k < 3; k++) {
      centre[k] = (low[k] + high[k]) / 2;
      squares += (high[k] - low[k]) * (high[k] - low[k]);
    }
    radius = sqrt(squares) / 2;
    double near = 0, far = 1e3, middle[2];
    for (auto &p : points)
      near = std::max(near, eye(p)[2]);
    for (int step = 0; step < 60; step++) {
      distance = (near + far) / 2;
      (span(points, middle) > kFill ? near : far) = distance;
    }
    span(points, shift);
  }
  std::vector<double> upright(const std::vector<float> &p) const {
    if (up == KV_UP_PLUS_Y)
      return {p[0], p[1], p[2]};
    return up == KV_UP_PLUS_Z ? std::vector<double>{p[0], p[2], -p[1]}
                              : std::vector<double>{p[0], -p[2], p[1]};
  }
  // Eye-space point, the eye on +z
  std::vector<double> eye(const std::vector<float> &p) const {
    auto u = upright(p);
    double q[3];
    for (int k = 0; k < 3; k++)
      q[k] = (u[k] - centre[k]) / radius;
    double x = q[0] * cos(yaw) - q[2] * sin(yaw), z = q[0] * sin(yaw) + q[2] * cos(yaw);
    double y = q[1] * cos(pitch) - z * sin(pitch);
    z = q[1] * sin(pitch) + z * cos(pitch);
    return {x, y, z};
  }
  // -1..1 across the view, before the shift
  std::pair<double, double> ndc(const std::vector<float> &p) const {
    auto e = eye(p);
    double aspect = (double)width / height, t = tan(kHalfField * M_PI / 180);
    double depth = distance - e[2];
    return {e[0] / depth / (t * aspect), e[1] / depth / t};
  }
  // Half the larger spread of the projections; middle gets the spread's centre
  double span(const std::vector<std::vector<float>> &points, double *middle) const {
    auto box = extent(points, [&](auto &p) { return ndc(p); });
    middle[0] = (box[0] + box[1]) / 2, middle[1] = (box[2] + box[3]) / 2;
    return std::max(box[1] - box[0], box[3] - box[2]) / 2;
  }
  // Pixel column and row (row 0 at the top) of a file point.
  std::pair<double, double> pixel(const std::vector<float> &p) const {
    auto [x, y] = ndc(p);
    return {(x - shift[0] + 1) / 2 * width, (1 - (y - shift[1])) / 2 * height};
  }
  // Left, right, top and bottom pixel of the points' projections.
  std::array<double, 4> box(const std::vector<std::vector<float>> &points) const {
    return extent(points, [&](auto &p) { return pixel(p); });
  }
};

// Left, right, top and bottom of what is not background; left > right when nothing is.
std::array<int, 4> drawnBox(const kroTestPng &png) {
  std::array<int, 4> box = {png.width, -1, png.height, -1};
  for (int y = 0; y < png.height; y++)
    for (int x = 0; x < png.width; x++)
      if (!background(png, x, y))
        box = {std::min(box[0], x), std::max(box[1], x), std::min(box[2], y), std::max(box[3], y)};
  return box;
}

// A model read with `up` into a view as the window starts it: named by its file name, nothing
// hovered or chosen. A kvView is large: the holder keeps it on the heap and frees its scene.
struct ModelView {
  std::unique_ptr<kvView> held = std::make_unique<kvView>();
  kvView &view = *held;
  std::string name;
  explicit ModelView(const std::string &model, kvUp up = KV_UP_PLUS_Y)
      : name(model.substr(model.rfind('/') + 1)) {
    char why[256];
    EXPECT_EQ(kvLoadSceneUp(&view.scene, model.c_str(), up, why, sizeof why), 0) << why;
    view.file_name = name.c_str();
    view.hovered = view.chosen = -1;
  }
  ~ModelView() { kvFreeScene(&view.scene); }
};

// The overlay's lines from `first` on, composed from the view's state, one a line.
std::string overlayText(kvView *view, int first = 0) {
  kvComposeOverlay(view);
  std::string text;
  for (int line = first; line < view->overlay.line_count; line++)
    text += std::string(view->overlay.lines[line]) + "\n";
  return text;
}

// Every model's drawn outline is the documented camera's box (kFill of the binding side, centred):
// exporter's files (+z up by default) at two yaws, the figure in a tall, a square and a wide view,
// a 1 x 1 x 4 box along +z lying (--up +y) or hanging (-z), a box without normals, a glTF box
// 4 tall along +y standing (+y up by default). Faces turned
// differently are lit differently (given normals too). Each --up axis is turned onto +y.
TEST(Kroview, ModelsStandWhereTheProjectionPutsThemFramedAtAnyShape) {
  const std::string tall = kData + "tall_box.ase";
  struct {
    std::string file;
    double yaw, pitch;
    int width, height;
    std::string options;
    kvUp up;
  } cases[] = {
      {kExporterFiles[0], 25, 30, kWidth, kHeight, "", KV_UP_PLUS_Z},
      {kExporterFiles[1], -120, 30, kWidth, kHeight, "", KV_UP_PLUS_Z},
      {kExporterFiles[2], 25, 30, kWidth, kHeight, "", KV_UP_PLUS_Z},
      {kExporterFiles[3], -120, 30, kWidth, kHeight, "", KV_UP_PLUS_Z},
      {kFigure, KV_DEFAULT_YAW, KV_DEFAULT_PITCH, 300, 600, "", KV_UP_PLUS_Z},
      {kFigure, 120, 50, 500, 500, "", KV_UP_PLUS_Z},
      {kFigure, KV_DEFAULT_YAW, KV_DEFAULT_PITCH, kWidth, kHeight, "--object Head", KV_UP_PLUS_Z},
      {tall, KV_DEFAULT_YAW, KV_DEFAULT_PITCH, kWidth, kHeight, "--up +y", KV_UP_PLUS_Y},
      {tall, 0, 0, kWidth, kHeight, "--up -z", KV_UP_MINUS_Z},
      {kAse + "box_without_normals.ase", 30, 20, kWidth, kHeight, "", KV_UP_PLUS_Z},
      {kGltf + "cube.glb", 30, 0, kWidth, kHeight, "", KV_UP_PLUS_Y}};
  for (const auto &c : cases) {
    std::string options = "--no-overlay --yaw " + std::to_string(c.yaw) + " --pitch " +
                          std::to_string(c.pitch) + " " + c.options;
    SCOPED_TRACE(c.file + " " + options + " " + std::to_string(c.width) + "x" +
                 std::to_string(c.height));
    kroTestPng png = shot(c.file, options, c.width, c.height);
    auto points = fileVertices(c.file);
    auto seen = drawnBox(png);
    auto expected = Projection(points, c.yaw, c.pitch, c.up, c.width, c.height).box(points);
    for (int k = 0; k < 4; k++)
      EXPECT_NEAR(seen[k], expected[k], 3.0) << "edge " << k;
    int lo = 255, hi = 0;
    for (int y = 0; y < png.height; y++)
      for (int x = 0; x < png.width; x++)
        if (!background(png, x, y))
          lo = std::min(lo, grey(png, x, y)), hi = std::max(hi, grey(png, x, y));
    EXPECT_TRUE(c.pitch == 0 || hi - lo > 60) << lo << " " << hi;
  }
  for (int up = KV_UP_PLUS_X; up <= KV_UP_MINUS_Z; up++) {
    float turn[9], axis[3] = {0, 0, 0};
    axis[up / 2] = up % 2 ? -1.0f : 1.0f;
    kvUpTurn((kvUp)up, turn);
    kroApply3x3MatrixToVector(turn, axis);
    EXPECT_TRUE(axis[0] == 0 && axis[1] == 1 && axis[2] == 0) << kvUpName((kvUp)up);
  }
}

// The figure (+z up) plain and with each extra. The ground fills the lower part, leaves the sky
// clear, lies under the feet, never hides the model, and is left out from below its highest point.
// Grid crossings lie where the camera puts whole multiples of the spacing (in the overlay) on
// z = 0. The gizmo (lower left) points the file's up axis up: blue (z), or green (y) with --up +y.
// Edges add lines on the model only. --post: the left half as drawn, the right half blurred
// (softer edges, a good part of the model visibly changed), a light line between.
TEST(Kroview, GroundGuidesEdgesAndBlurStandWhereTheyBelong) {
  kroTestPng bare = shot(kFigure, "--no-overlay");
  const std::string ground = " --terrain " KRO_SOURCE_DIR "/viewer/data/terrain.bmp";
  for (const std::string angles : {"", " --pitch 5 --yaw -60"}) {
    SCOPED_TRACE("ground" + angles);
    kroTestPng plain = angles.empty() ? bare : shot(kFigure, "--no-overlay" + angles),
               grounded = shot(kFigure, "--no-overlay" + angles + ground);
    auto model = [&](int x, int y) { return !background(plain, x, y); };
    EXPECT_GT(countPixels(plain, model), 1000);
    EXPECT_EQ(differing(plain, grounded, 0, model), 0);
    auto part = [&](int x0, int y0, int x1, int y1) { // of [x0, x1) x [y0, y1) not background
      int covered = 0;
      for (int y = y0; y < y1; y++)
        for (int x = x0; x < x1; x++)
          covered += !background(grounded, x, y);
      return (double)covered / ((x1 - x0) * (y1 - y0));
    };
    auto box = drawnBox(plain); // under the feet: the rows below the model's lowest pixel
    EXPECT_GT(part(box[0], box[3] + 2, box[1] + 1, std::min(kHeight, box[3] + 12)), 0.9);
    EXPECT_GT(part(0, kHeight * 3 / 4, kWidth, kHeight), 0.97);
    EXPECT_LT(part(0, 0, kWidth, kHeight / 10), 0.05); // the sky stays clear
  }
  EXPECT_TRUE(shot(kFigure, "--no-overlay --pitch -40" + ground).rgb ==
              shot(kFigure, "--no-overlay --pitch -40").rgb);

  kroTestPng grid = shot(kFigure, "--no-overlay --grid");
  Projection projection(fileVertices(kFigure), KV_DEFAULT_YAW, KV_DEFAULT_PITCH, KV_UP_PLUS_Z);
  const float spacing = 0.5f; // file units: the box's diagonal is 2.06, a tenth rounded up
  int crossings = 0, found = 0;
  for (int i = -3; i <= 3; i++)
    for (int j = -2; j <= 3; j++) {
      auto [column, row] = projection.pixel({i * spacing, j * spacing, 0.0f}); // the file's
      if (column < 2 || row < 2 || column > kWidth - 3 || row > kHeight - 3 ||
          !background(bare, (int)column, (int)row)) // outside the view, or behind the figure
        continue;
      crossings++;
      bool lit = false;
      for (int d = 0; d < 9; d++) {
        int x = (int)column - 1 + d % 3, y = (int)row - 1 + d / 3;
        lit |= background(bare, x, y) && !background(grid, x, y);
      }
      found += lit;
    }
  EXPECT_GT(crossings, 8);
  EXPECT_EQ(found, crossings);
  ModelView figure(kFigure, KV_UP_PLUS_Z);
  figure.view.grid = 1;
  kvComposeOverlay(&figure.view);
  EXPECT_EQ(std::string(figure.view.overlay.lines[4]), "grid 0.5 units");

  const int side = 90;
  for (int up_y = 0; up_y < 2; up_y++) {
    kroTestPng png = shot(kFigure, std::string("--no-overlay --axis") + (up_y ? " --up +y" : ""));
    int tops[3] = {kHeight, kHeight, kHeight}, counts[3] = {0, 0, 0};
    for (int y = kHeight - side; y < kHeight; y++)
      for (int x = 0; x < side; x++) {
        const unsigned char *p = png.at(x, y);
        for (int k = 0; k < 3; k++)
          if (p[k] > 200 && p[(k + 1) % 3] < 150 && p[(k + 2) % 3] < 150 + 60 * (k == 2))
            tops[k] = std::min(tops[k], y), counts[k]++;
      }
    const int up = up_y ? 1 : 2, centre = kHeight - side / 2;
    for (int k = 0; k < 3; k++) { // the axes' tips: the up one high, the others low
      ASSERT_GT(counts[k], 5) << "axis " << k << (up_y ? " with --up +y" : "");
      if (k == up)
        EXPECT_LT(tops[k], centre - side / 3) << "the up axis is not up";
      else
        EXPECT_GT(tops[k], centre - side / 6) << "axis " << k;
    }
  }
  kroTestPng edged = shot(kFigure, "--no-overlay --edges");
  auto box = drawnBox(bare);
  EXPECT_GT(kroTestDifferingPixels(bare.rgb, edged.rgb, 0), 400);
  auto outside = [&](int x, int y) { // lines may reach a pixel past the faces' edge
    return x < box[0] - 2 || x > box[1] + 2 || y < box[2] - 2 || y > box[3] + 2;
  };
  EXPECT_EQ(differing(bare, edged, 0, outside), 0);

  kroTestPng soft = shot(kFigure, "--no-overlay --post");
  const int middle = kWidth / 2;
  EXPECT_EQ(differing(bare, soft, 0, [&](int x, int) { return x < middle; }), 0);
  auto model = [&](int x, int y) { return x > middle && !background(bare, x, y); };
  int visible = differing(bare, soft, 8, model), model_pixels = countPixels(bare, model);
  EXPECT_GT(visible, model_pixels / 4) << visible << " of " << model_pixels; // taps 1 apart: 12 %
  auto steepest = [&](const kroTestPng &png) {
    int step = 0;
    for (int y = kHeight / 4; y < kHeight * 3 / 4; y++)
      for (int x = middle + 2; x + 1 < kWidth; x++)
        step = std::max(step, abs(grey(png, x + 1, y) - grey(png, x, y)));
    return step;
  };
  EXPECT_GT(steepest(bare), 60);
  EXPECT_LT(steepest(soft), steepest(bare) * 3 / 4);
  auto line = [&](int x, int y) { return x == middle && grey(soft, x, y) > 180; };
  EXPECT_GT(countPixels(soft, line), kHeight * 9 / 10); // the dividing line, top to bottom
}

// Red, green and blue boxes from left to right (materials listed green, blue, red): each shows its
// material's colour and a pixel of its front face picks it, named in the overlay as when chosen
// with Tab. The chosen one (by name; places: kvFindObject with the refused file) is outlined in the
// highlight colour, nothing outside its box changing. A material reference one past the list gives
// the grey of no material. (That the objects are the engine's, --info checks.) A refused object
// leaves a gap, and is listed below.
TEST(Kroview, BoxesShowTheirColoursArePickedOutlinedOrRefused) {
  const std::string angles = "--no-overlay --yaw 40 --pitch -15 --up +y";
  kroTestPng plain = shot(kThree, angles), named = shot(kThree, angles + " --object GreenBox");
  ASSERT_TRUE(plain.width && named.width);
  Projection projection(fileVertices(kThree), 40, -15);
  ModelView three(kThree);
  kvView &view = three.view;
  kvResetCamera(&view.camera, kWidth, kHeight);
  view.camera.yaw = 40;
  view.camera.pitch = -15;
  kvFrameCamera(&view.camera, &view.scene);
  const char *names[] = {"RedBox", "GreenBox", "BlueBox"};
  for (int box = 0; box < 3; box++) {
    SCOPED_TRACE(names[box]);
    auto [column, row] = projection.pixel({-3.0f + 3 * box, 0.5f, 1}); // on the front face
    const unsigned char *p = plain.at((int)column, (int)row);
    EXPECT_GT(p[box], 2 * std::max({p[0] * (box != 0), p[1] * (box != 1), p[2] * (box != 2)}))
        << (int)p[0] << " " << (int)p[1] << " " << (int)p[2];
    view.hovered = kvObjectAt(&view, (int)column, (int)row);
    EXPECT_EQ(view.hovered, box);
    kvComposeOverlay(&view);
    EXPECT_EQ(std::string(view.overlay.lines[2]),
              "object: " + std::string(names[box]) + " (12 triangles)");
  }
  EXPECT_EQ(kvObjectAt(&view, 2, 2), -1); // a corner: nothing there
  // Away from the faces' edges a pixel picks a box exactly where one is drawn.
  EXPECT_EQ(countPixels(plain,
                        [&](int x, int y) {
                          bool empty = background(plain, x, y),
                               settled = x > 0 && y > 0 && x + 1 < kWidth && y + 1 < kHeight;
                          for (int d = 0; d < 9 && settled; d++)
                            settled = background(plain, x - 1 + d % 3, y - 1 + d / 3) == empty;
                          return settled && (kvObjectAt(&view, x, y) < 0) != empty;
                        }),
            0);
  kvCamera turned = view.camera; // past either pole: held short of it, the same both ways
  turned.pitch = -200;
  kvClampCamera(&turned);
  float lowest = turned.pitch;
  turned.pitch = 200;
  kvClampCamera(&turned);
  EXPECT_TRUE(lowest == -turned.pitch && lowest > -90) << lowest;
  view.camera.zoom = 0.5f; // up close, boxes reach past the edges: picked to the last pixel only
  EXPECT_TRUE(kvObjectAt(&view, kWidth - 1, kHeight / 2) >= 0 &&
              kvObjectAt(&view, 9, kHeight - 1) >= 0);
  EXPECT_TRUE(kvObjectAt(&view, kWidth, kHeight / 2) < 0 && kvObjectAt(&view, 9, kHeight) < 0);
  view.camera.zoom = 1;
  view.hovered = -1;
  view.chosen = 2; // chosen with Tab, nothing under the mouse
  kvComposeOverlay(&view);
  EXPECT_EQ(std::string(view.overlay.lines[2]), "object: BlueBox (12 triangles)");

  auto [left, right, top, bottom] = projection.box(fileVertices(kThree, 1));
  auto inside = [&](int x, int y) {
    return x >= left - 3 && x <= right + 3 && y >= top - 3 && y <= bottom + 3;
  };
  EXPECT_EQ(differing(plain, named, 0, [&](int x, int y) { return !inside(x, y); }), 0);
  int outlined = differing(plain, named, 0, [&](int x, int y) { // in the highlight colour
    const unsigned char *p = named.at(x, y);
    return inside(x, y) && abs(p[0] - 255) <= 2 && abs(p[1] - 191) <= 2 && abs(p[2] - 26) <= 2;
  });
  EXPECT_GT(outlined, (right - left + bottom - top) * 2) << "fewer lit pixels than the box's edge";

  std::string text = kroTestReadFile(kThree), past = kroTestTempPath("material_past.ase");
  text.replace(text.find("*MATERIAL_REF 2"), 15, "*MATERIAL_REF 3"); // RedBox; 3 materials
  kroTestWriteFile(past, text);
  ModelView loaded(past);
  ASSERT_EQ(loaded.view.scene.object_count, 3);
  EXPECT_TRUE(std::equal(KV_GREY, KV_GREY + 3, loaded.view.scene.objects[0].colour));
  EXPECT_FALSE(std::equal(KV_GREY, KV_GREY + 3, loaded.view.scene.objects[1].colour));

  const std::string gapped = kData + "one_refused.ase";
  kroTestPng gap = shot(gapped, "--yaw 0 --pitch 0 --no-overlay --up +y");
  kvCatchEngineMessages(); // the overlay lists it too, with the engine's message
  ModelView refused(gapped);
  std::string listed = overlayText(&refused.view);
  for (const char *part : {"objects 2  triangles 24  refused 1\n", "refused object 2\n",
                           "error: Error in reading mesh from file descriptor: vertex 9"})
    EXPECT_TRUE(kroTestHas(listed, part)) << listed;
  // Objects keep their places in the file: the third is the third, the refused second is none.
  const kvScene *scene = &refused.view.scene;
  EXPECT_TRUE(kvFindObject(scene, "3") == 1 && kvFindObject(scene, "RightBox") == 1);
  EXPECT_TRUE(kvFindObject(scene, "1") == 0 && kvFindObject(scene, "2") == -1);
  // The kept boxes frame the view as the three boxes' file's do (the outer ones are the same: x
  // -4..-2 and 2..4); the refused one stood in the middle, now empty.
  Projection kept(fileVertices(kThree), 0, 0);
  for (float x : {-3.0f, 0.0f, 3.0f}) {
    auto [column, row] = kept.pixel({x, 0, 1});
    EXPECT_TRUE(gap.width && background(gap, (int)column, (int)row) == (x == 0.0f)) << "x " << x;
  }
}

// An object whose material's diffuse map is found is drawn textured until T turns the textures
// off; without the picture (or without texture coordinates) it keeps its colour, and the overlay
// and standard output name a missing map.
TEST(Kroview, TexturedMaterialsFollowTAndAMissingMapIsNamed) {
  ASSERT_TRUE(kroTestOpenGL());
  std::string folder = kroTestTempFolder("textured"), model = folder + "/textured.ase";
  kroTestWriteFile(model, kroTestReadFile(kTextured + "textured.ase"));
  const std::string missing = "map: diffuse map \"C:\\maps\\Tiles.png\" missing\n";
  for (bool found : {false, true}) {
    SCOPED_TRACE(found ? "found" : "missing");
    if (found)
      kroTestWriteFile(folder + "/tiles.png", kroTestReadFile(kTextured + "tiles.png"));
    ModelView textured(model);
    kvScene &scene = textured.view.scene;
    std::string out = kroTestCaptured([&] { kvBuildSceneLists(&scene); });
    EXPECT_EQ(scene.objects[0].textured, found);
    EXPECT_EQ(kroTestHas(overlayText(&textured.view), missing), !found);
    EXPECT_EQ(kroTestHas(out, "the diffuse map \"C:\\maps\\Tiles.png\" was not found"), !found);
    scene.hide_textures = 1; // T
    kvBuildSceneLists(&scene);
    EXPECT_EQ(scene.objects[0].textured, 0);
    EXPECT_TRUE(kroTestHas(overlayText(&textured.view), "textures off\n"));
  }
  // The picture is there, but the faces lose their texture coordinates: the colour stays.
  std::string text = kroTestReadFile(model);
  for (size_t at; (at = text.find("*MESH_TFACE ")) != std::string::npos;)
    text.erase(at, text.find('\n', at) - at);
  kroTestWriteFile(model, text);
  ModelView plain(model);
  kvBuildSceneLists(&plain.view.scene);
  EXPECT_EQ(plain.view.scene.objects[0].textured, 0);
  // A blue picture inside a .glb is drawn on its white quad, which faces the eye.
  kroTestPng glb = shot(kGltf + "picture.glb", "--yaw 0 --pitch 0");
  const unsigned char *centre = glb.at(300, 150);
  EXPECT_TRUE(centre[2] > 150 && centre[0] < 30 && centre[1] < 30) << (int)centre[0];
}

// Every glyph of the overlay's first lines, drawn `scale` screen pixels per font pixel in rows
// `row_pixels` apart, matches the font file's bits: ink white, paper not.
void expectGlyphsInCells(const kroTestPng &png, const std::string &font_path, int scale,
                         int row_pixels, const std::vector<std::string> &lines) {
  kroSetBitMasks();
  kroFontFile font;
  ASSERT_EQ(kroReadKROF(font_path.c_str(), &font), 0);
  const int w = font.width, h = font.height;
  for (size_t line = 0; line < lines.size() && png.width; line++)
    for (size_t c = 0; c < lines[line].size(); c++) {
      const uint8_t *record = nullptr;
      for (int g = 0; g < font.glyph_count; g++)
        if (font.records[g * font.record_bytes] == (uint8_t)lines[line][c])
          record = &font.records[g * font.record_bytes + 1];
      ASSERT_TRUE(record) << lines[line][c];
      int mismatches = 0, left = kMargin + (int)c * w * scale,
          top = kMargin + (int)line * row_pixels + row_pixels - h * scale;
      for (int y = 0; y < h * scale; y++) // of the cell on screen
        for (int x = 0; x < w * scale; x++) {
          int p = (h - 1 - y / scale) * w + x / scale; // records keep the bottom row first
          const unsigned char *rgb = png.at(left + x, top + y);
          bool white = rgb[0] == 255 && rgb[1] == 255 && rgb[2] == 255;
          mismatches += white != (bool)(record[p / 8] & (0x80 >> (p % 8)));
        }
      EXPECT_EQ(mismatches, 0) << font_path << " line " << line << " char '" << lines[line][c]
                               << "'";
    }
  kroFreeKROF(&font);
}

const std::vector<std::string> kFirstLines = {"kroview three_materials.ase",
                                              "objects 3  triangles 36", "object: -", "fps -"};

// The viewer's own 8 x 8 font is drawn two screen pixels per font pixel; an 8 x 16 font built by
// `krotool font-build` from the viewer's glyph pictures at one per font pixel, rows 16 + 4 apart.
// Long lines wrap at spaces (inside a word only when it alone is too wide), keeping every
// character in order. `?` lists the keys in the overlay; --list-keys prints the same.
TEST(Kroview, OverlayDrawsTheFontFilesGlyphsWrapsLinesAndListsTheKeys) {
  expectGlyphsInCells(shot(kThree, "--up +y"), KROVIEW_FONT, 2, 20, kFirstLines);
  const std::string font = KROVIEW_FONT, glyphs = font.substr(0, font.rfind('/')) + "/glyphs";
  std::string tall = kroTestTempPath("tall.krof");
  kroTestOutcome built =
      kroTestRun(std::string(KROTOOL_PATH) + " font-build " + glyphs + " 8 16 " + tall);
  ASSERT_EQ(built.status, 0) << built.err;
  expectGlyphsInCells(shot(kThree, "--up +y --font " + tall), tall, 1, 20, kFirstLines);

  static kvOverlay overlay; // wrapped by columns: no font needed
  const char *texts[] = {"error: Error in reading mesh from file descriptor: vertex 9 is outside",
                         "short", "averyveryverylongwordwithoutanyspace end"};
  overlay.line_count = 3;
  for (int l = 0; l < 3; l++)
    snprintf(overlay.lines[l], KV_LINE_CHARS, "%s", texts[l]);
  kvTextRow rows[KV_MAX_ROWS];
  const int columns = 20;
  int count = kvWrapLines(&overlay, columns, rows, KV_MAX_ROWS);
  std::vector<std::string> joined(3);
  for (int r = 0; r < count; r++) {
    std::string part(overlay.lines[rows[r].line] + rows[r].start, rows[r].length);
    EXPECT_LE(rows[r].length, columns) << part;
    EXPECT_TRUE(part.empty() || (part.front() != ' ' && part.back() != ' ')) << "'" << part << "'";
    const char after = overlay.lines[rows[r].line][rows[r].start + rows[r].length];
    if (part.find(' ') != std::string::npos || rows[r].line != 2) { // cut at a space or the end
      EXPECT_TRUE(after == ' ' || after == '\0') << part;
    }
    joined[rows[r].line] += (joined[rows[r].line].empty() ? "" : " ") + part;
  }
  EXPECT_EQ(joined[0], texts[0]);
  EXPECT_EQ(joined[1], texts[1]);
  EXPECT_EQ(count, 4 + 1 + 2); // the long word cut at 20, its rest and "end" on one row
  EXPECT_EQ(std::string(overlay.lines[2] + rows[5].start, rows[5].length), "averyveryverylongwor");
  EXPECT_EQ(kvWrapLines(&overlay, columns, rows, 2), 2); // no more rows than asked for

  kroTestOutcome run = kroview("--list-keys");
  ASSERT_EQ(run.status, 0);
  static kvView view;
  view.show_keys = 1;
  EXPECT_EQ(overlayText(&view, 1), run.out);
  EXPECT_EQ(view.overlay.line_count, KV_KEY_COUNT + 1); // the heading and every key, none cut
  for (const char *key : {"F12", "Tab", "Home", "?"})
    EXPECT_TRUE(kroTestHas(run.out, std::string("\n") + key)) << key;
}

TEST(Kroview, BadInputEndsBeforeAnyWindowWithCodeAndMessages) {
  const std::string &data = kData, missing = data + "no_such_model.ase",
                    refused = kAse + "bad_numfaces_twice.ase",
                    unclosed = kAse + "bad_node_name_unclosed.ase",
                    copies = kAse + "name_holds_geomobject.ase",
                    picture = std::string(KRO_TEST_DATA) + "/png/ancillary.png",
                    huge = kroTestTempPath("huge.ase");
  // Coordinates near the largest float: --info sizes them without overflowing.
  kroTestWriteFile(huge, "*3DSMAX_ASCIIEXPORT 200\n*GEOMOBJECT {\n*NODE_NAME \"Huge\"\n*MESH {\n"
                         "*MESH_NUMVERTEX 3\n*MESH_NUMFACES 1\n*MESH_VERTEX_LIST {\n"
                         "*MESH_VERTEX 0 -3.0e38 -3.0e38 -2.0e38\n"
                         "*MESH_VERTEX 1 3.0e38 -3.0e38 2.0e38\n*MESH_VERTEX 2 0 3.0e38 0\n}\n"
                         "*MESH_FACE_LIST {\n*MESH_FACE 0: A: 0 B: 1 C: 2\n}\n}\n}\n");
  // Arguments, status, and parts of standard output and error (empty: anything).
  const std::tuple<std::string, int, std::string, std::string> cases[] = {
      // The file's own problem first, before any engine line on standard output.
      {missing, 1, "", "kroview: cannot open " + missing + ": No such file or directory"},
      {picture, 1, "", picture + ": not an ASE, OBJ or glTF file"},
      {data, 1, "", "kroview: cannot read " + data + ": Is a directory"},
      {data + "no_geometry.ase", 1, "", "no_geometry.ase holds no geometry object"},
      {refused, 1, "*MESH_NUMFACES is given twice", refused + " was refused"},
      {unclosed, 1, "no closing quote", "kroview: " + unclosed + " was refused"},
      {data + "three_materials.ase --terrain " + missing, 1, "", "cannot use " + missing},
      {"", 2, "", "kroview: no model file: usage: kroview [options] FILE.ase"},
      {"--bogus " + kThree, 2, "", "kroview: unknown option '--bogus'"},
      {"--size 0x10 a.ase", 2, "", "--size '0x10': expected WxH, two whole numbers of 1..8192"},
      {"--size 10x a.ase", 2, "", "--size '10x': expected WxH"},
      {"--size 100 a.ase", 2, "", "--size '100': expected WxH"},
      {"--yaw east a.ase", 2, "", "--yaw 'east': expected degrees, a finite number"},
      {"--yaw nan a.ase", 2, "", "--yaw 'nan': expected degrees"},
      {"--pitch 1e9 a.ase", 2, "", "--pitch '1e9': expected degrees"},
      {"--up w a.ase", 2, "", "--up 'w': expected an axis: +z, +y, +x, -z, -y or -x"},
      {"--up +zz a.ase", 2, "", "--up '+zz': expected an axis"},
      {"a.ase b.ase", 2, "", "kroview: one model file at a time: 'a.ase' and 'b.ase'"},
      {"a.ase --shot", 2, "", "kroview: --shot needs a value: an output file OUT.png"},
      {"--terrain '' a.ase", 2, "", "--terrain '': expected a heightmap FILE.bmp"},
      {kThree + " --object 4", 2, "", "three_materials.ase has no object '4'"},
      {kThree + " --object Box", 2, "", "three_materials.ase has no object 'Box'"},
      {data + "one_refused.ase --object 2", 2, // the refusal listed, as before a window
       "one_refused.ase: refused object 2: Error in reading mesh from file descriptor: vertex 9 of "
       "*MESH_FACE is outside 0..7",
       "object 2 was refused"},
      {copies + " --object 2", 2, "", "name_holds_geomobject.ase has no object '2'"},
      {"--help", 0, "usage: kroview", ""},
      {"a.ase --version", 0, "kroview " KRO_VERSION_STRING "\n", ""},
      {"--info " + huge, 0, "\nsize (file units): 6e+38 x 6e+38 x 4e+38\n", ""},
      {"--info " + kTextured + "textured.ase", 0,
       "    diffuse map \"C:\\maps\\Tiles.png\": found: " + kTextured +
           "tiles.png, 256 x 256; offset 0.0000 0.0000, tiling 4.0000 1.0000, angle 0.0000\n",
       ""},
      {"--info " + data + "one_refused.ase", 0,
       "refused objects: 1\n  object 2: Error in reading mesh from file descriptor: vertex 9 of "
       "*MESH_FACE is outside",
       ""},
      {"--size 8192x8192 --info " + missing, 1, "", "kroview: cannot open " + missing},
  };
  for (const auto &[arguments, status, out, err] : cases) {
    SCOPED_TRACE(arguments);
    kroTestOutcome run = kroview(arguments, "DISPLAY=");
    EXPECT_EQ(run.status, status) << run.out << run.err;
    EXPECT_TRUE(kroTestHas(run.out, out) && kroTestHas(run.err, err)) << run.out << run.err;
    EXPECT_EQ(run.err.find("OpenGL"), std::string::npos);
    if (status == 2 || arguments == missing || arguments == picture) { // one line
      EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
      EXPECT_TRUE(status == 2 || run.out.empty()) << run.out;
    }
  }
}

// --info says what `krotool ase-info` says about the same file (the engine's objects: a name
// holding "*GEOMOBJECT" is one object), each object line followed by where its normals come
// from, then the bounds in file units and the refusals; no display needed.
TEST(Kroview, InfoAgreesWithKrotoolAndAddsBoundsNormalsAndRefusals) {
  std::vector<std::string> files(std::begin(kExporterFiles), std::end(kExporterFiles));
  files.insert(files.end(), {kAse + "exported_shapes.ase", kAse + "name_holds_geomobject.ase",
                             kFigure, kThree,              // the shapes have normals, the boxes not
                             kTextured + "textured.ase"}); // a map found beside the file
  for (const std::string &file : files) {
    kroTestOutcome tool = kroTestRun(std::string(KROTOOL_PATH) + " ase-info " + file);
    kroTestOutcome info = kroview("--info " + file, "DISPLAY=");
    ASSERT_EQ(tool.status, 0) << tool.err;
    ASSERT_EQ(info.status, 0) << info.err;
    std::istringstream lines(tool.out);
    std::string expected; // krotool's lines, each object's followed by where its normals come from
    for (std::string want; std::getline(lines, want);)
      expected += want + (want.rfind("  object ", 0) != 0  ? "\n"
                          : kroTestHas(want, "no normals") ? ", computed from the faces\n"
                                                           : " from the file\n");
    EXPECT_EQ(info.out.substr(0, expected.size()), expected) << file;
    // the bounds are those of every vertex the engine reads
    double low[3] = {1e30, 1e30, 1e30}, high[3] = {-1e30, -1e30, -1e30};
    for (auto &p : fileVertices(file))
      for (int k = 0; k < 3; k++)
        low[k] = std::min(low[k], (double)p[k]), high[k] = std::max(high[k], (double)p[k]);
    char bounds[256];
    snprintf(bounds, sizeof bounds, "bounds (file units): x %g .. %g, y %g .. %g, z %g .. %g\n",
             low[0], high[0], low[1], high[1], low[2], high[2]);
    EXPECT_TRUE(kroTestHas(info.out, bounds)) << info.out << "\nwanted " << bounds;
    EXPECT_TRUE(kroTestHas(info.out, "up: +z\nrefused objects: 0\n")) << info.out;
  }
  // An OBJ file, told by its content, lists as its ASE twin (which has a light besides).
  kroTestOutcome ase = kroview("--info " + kAse + "two_objects.ase", "DISPLAY="),
                 obj = kroview("--info " KRO_TEST_DATA "/obj/two_objects.obj", "DISPLAY=");
  EXPECT_TRUE(kroTestHas(obj.out, "geometry objects: 2\nlight objects: 0\n  object 1: "))
      << obj.out;
  std::string twin = ase.out.substr(ase.out.find("  object 1")); // but +y up, as Blender's OBJ
  EXPECT_EQ(obj.out.substr(obj.out.find("  object 1")),
            twin.replace(twin.find("up: +z"), 6, "up: +y"));
  // Objects past the number kept are counted with the rest and said to be left out.
  std::string many = kroTestTempPath("many.obj"), text = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
  for (int i = 0; i <= KV_MAX_OBJECTS; i++)
    text += "o part" + std::to_string(i) + "\nf 1 2 3\n";
  kroTestWriteFile(many, text);
  std::string listed = kroview("--info " + many, "DISPLAY=").out,
              kept = std::to_string(KV_MAX_OBJECTS);
  EXPECT_TRUE(
      kroTestHas(listed, "geometry objects: " + std::to_string(KV_MAX_OBJECTS + 1) + "\n") &&
      kroTestHas(listed, "left out: 1 objects after the first " + kept + "\n"))
      << listed.substr(0, 300);
  // A glTF file's maps: a picture inside it, a picture file found beside it.
  EXPECT_TRUE(kroTestHas(kroview("--info " + kGltf + "picture.glb").out,
                         "    diffuse map inside the file; offset 0.0000 0.0000, tiling 1.0000"));
  EXPECT_TRUE(kroTestHas(kroview("--info " + kGltf + "quad.gltf").out,
                         "kinds/c0d02i-11x9.png\": found: " + kGltf));
}

// A shot that cannot be made ends with status 1, the reason and nothing on standard output (no
// escape sequence either), leaving the old file and no other: shaders that do not build or are
// not there (a window still opens), a file too large to write (the reason one line), no display
// (none named, or no server). SIGINT or SIGTERM while it writes stop it at once, no file left.
TEST(Kroview, AShotThatCannotBeMadeGivesTheReasonAndLeavesTheOldFile) {
  std::string folder = kroTestShaderCopy("broken-shaders"), dir = kroTestTempFolder("shot-limit"),
              path = dir + "/shot.png", shot = " --size 600x300 --shot " + path;
  kroTestOutcome good = kroview(kThree + " --shaders " + folder + shot);
  EXPECT_EQ(good.status, 0) << good.err;
  kroTestWriteFile(path, "old shot");
  kroTestWriteFile(folder + "/ish/b.frag", "void main() { gl_FragColor = vec4(1.0) + ; }\n");
  const std::string limit = kroTestFileLimit(4096);
  const std::tuple<std::string, std::string, std::string> failures[] = {
      {" --shaders " + folder, "", "the shaders in " + folder + " do not build: ish/b.frag: "},
      {" --shaders " + folder + "/none", "",
       "the shader folder " + folder + "/none does not exist\n"},
      {"", limit, "cannot write " + path + ": File too large\n"},
      {"", "env -u DISPLAY -u SDL_VIDEODRIVER", "no OpenGL context: "},
      {"", "env -u SDL_VIDEODRIVER DISPLAY=:97", "no OpenGL context: "}};
  for (const auto &[options, environment, reason] : failures) {
    SCOPED_TRACE(options + environment);
    kroTestOutcome run = kroview(kThree + options + shot, environment);
    EXPECT_TRUE(run.status == 1 && run.out.empty()) << run.out;
    EXPECT_TRUE(environment != limit ? run.err.rfind("kroview: " + reason, 0) == 0
                                     : run.err == "kroview: " + reason)
        << run.err;
    EXPECT_EQ(kroTestReadFile(path), "old shot");
    EXPECT_EQ(kroTestListing(dir), "shot.png\n");
  }
  for (int number : {SIGINT, SIGTERM}) {
    std::string dir = kroTestTempFolder("stopped-shot-" + std::to_string(number)),
                shot = dir + "/a.png";
    pid_t pid = fork();
    if (pid == 0) {
      signal(number, SIG_DFL); // a suite started in the background has SIGINT ignored
      freopen("/dev/null", "w", stderr);
      execl(KROVIEW_PATH, KROVIEW_PATH, kThree.c_str(), "--size", "2048x2048", "--shot",
            shot.c_str(), (char *)nullptr);
      _exit(127);
    }
    int status = 0, tries = 0; // until its new file is there: it is writing
    while (kroTestListing(dir).empty() && waitpid(pid, &status, WNOHANG) == 0 && ++tries < 6000)
      usleep(5000);
    ASSERT_TRUE(pid > 0 && kill(pid, number) == 0 && waitpid(pid, &status, 0) == pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == number) << number << ": " << status;
    EXPECT_EQ(kroTestListing(dir), "");
  }
}

// kroview in a window, run in its own folder (its screenshots land there), its standard output
// read as it goes (a line a reload or screenshot), taking its turn with the other window tests:
// keys and pointer moves go to whatever window stands under them.
struct LiveKroview {
  std::string folder, out;
  pid_t pid = -1;
  int turn = -1;   // the window tests' lock, held while the window is open
  size_t seen = 0; // of the output, already matched

  LiveKroview(const std::string &name, const std::string &arguments)
      : folder(kroTestTempFolder(name)), out(folder + "/out.txt") {
    turn = open(kroTestWindowTurnLock().c_str(), O_CREAT | O_RDWR, 0666);
    EXPECT_TRUE(turn >= 0 && flock(turn, LOCK_EX) == 0);
    std::string command = "cd " + folder +
                          " && ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" exec " + KROVIEW_PATH +
                          " " + arguments + " >" + out + " 2>" + folder + "/err.txt";
    pid = fork();
    if (pid == 0) {
      execl("/bin/sh", "sh", "-c", command.c_str(), (char *)nullptr);
      _exit(127);
    }
  }
  ~LiveKroview() { stop(); }
  // Waits for the next line holding `part` while kroview runs (on a loaded machine a line may
  // take long; at most a minute); the line from `part` on, or "" once it ended without one.
  std::string waitFor(const std::string &part) {
    for (int tries = 0, ended = 0; tries < 6000 && ended < 2; tries++, usleep(10000)) {
      std::string text = kroTestFileExists(out) ? kroTestReadFile(out) : "";
      size_t at = text.find(part, seen), end = at == std::string::npos ? at : text.find('\n', at);
      if (end != std::string::npos) {
        seen = end + 1;
        return text.substr(at, end - at);
      }
      siginfo_t info = {}; // ended: its output read once more after that
      ended += pid <= 0 || waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
               info.si_pid == pid;
    }
    ADD_FAILURE() << "no line with '" << part << "' in:\n" << kroTestReadFile(out);
    return "";
  }
  // A screenshot of what the window shows now (SIGUSR1, as F12).
  kroTestPng shot() {
    kill(pid, SIGUSR1);
    std::string line = waitFor("kroview: screenshot ");
    return kroTestPng(folder + "/" + line.substr(line.rfind(' ') + 1));
  }
  int stop() {
    int status = -1;
    if (pid > 0) {
      kill(pid, SIGTERM); // ends it at once, as a shell sees it: 128 + 15
      waitpid(pid, &status, 0);
      pid = -1;
    }
    if (turn >= 0)
      close(turn);
    turn = -1;
    return WIFEXITED(status)     ? WEXITSTATUS(status)
           : WIFSIGNALED(status) ? 128 + WTERMSIG(status)
                                 : -1;
  }
};

// Writes `bytes` into a new file beside `path` and renames it over `path`, as editors save.
void replaceFile(const std::string &path, const std::string &bytes) {
  kroTestWriteFile(path + ".new", bytes);
  ASSERT_EQ(rename((path + ".new").c_str(), path.c_str()), 0);
}

int countColour(const kroTestPng &png, int r, int g, int b) {
  return countPixels(png, [&](int x, int y) {
    const unsigned char *p = png.at(x, y);
    return abs(p[0] - r) < 12 && abs(p[1] - g) < 12 && abs(p[2] - b) < 12;
  });
}

// Pixels of lit tiles of channel k (2: the textured example's blue ones): k well above the next
// channel, and above the third (the material's own orange is neither).
int countTint(const kroTestPng &png, int k) {
  return countPixels(png, [&](int x, int y) {
    const unsigned char *p = png.at(x, y);
    return p[k] > 80 && p[k] > p[(k + 1) % 3] + 40 && p[k] > p[(k + 2) % 3];
  });
}

// Rows from the top covered by the overlay's panel, at its left edge.
int panelRows(const kroTestPng &png) {
  int y = kMargin;
  while (y < png.height && !background(png, kMargin - 2, y))
    y++;
  return y;
}

// The window follows the files: a replaced model shows in the next screenshot, a broken one keeps
// the last good picture with the reason in the overlay; a changed shader changes the picture, a
// broken one keeps the last good program. Both ways of watching (inotify, file times) behave the
// same, following a linked model to its file, to the one it is re-pointed to (not the old one) and
// then the file put in the link's place, and the shader folder to a copy put in its place.
// Screenshots (SIGUSR1 as F12) take the first free kroview-NNNN.png, passing over a dangling link,
// and match
// --shot's frame under the overlay (its frame rate differs), turned by Left as by --yaw. F12 and
// Escape (sent to every kroview window) save one more and end it; SIGTERM ends it at once.
TEST(Kroview, WindowFollowsChangedModelAndShaderFiles) {
  for (const std::string how : {"", "--watch-poll"}) {
    SCOPED_TRACE(how);
    // The model is at first a link to a file of another name in another folder.
    std::string shaders = kroTestShaderCopy("live" + how),
                model = kroTestTempFolder("model" + how) + "/model.ase",
                target = kroTestTempFolder("target" + how) + "/three.ase";
    kroTestWriteFile(target, kroTestReadFile(kThree));
    ASSERT_EQ(symlink(target.c_str(), model.c_str()), 0);
    const std::string options = " --up +y --size 400x200 --shaders " + shaders;
    kvWatch watch; // beside the window's, on its own clock: seen changes of the model
    ASSERT_EQ(kvOpenWatch(&watch, model.c_str(), shaders.c_str(), !how.empty()), 0);
    long clock = kroNowMs();
    auto changed = [&] { // a look, then another a quiet time later
      kvPollWatch(&watch, clock += 1000);
      return kvPollWatch(&watch, clock += 1000);
    };
    LiveKroview live("run" + how, model + options + " " + how);
    auto press = [](const std::string &pressed) { // to every kroview window
      for (const std::string &id : kroTestFindWindows("kroview", 10))
        kroTestRun("xdotool key --window " + id + " " + pressed);
    };
    const std::string dir = live.folder;
    ASSERT_EQ(symlink((dir + "/elsewhere.png").c_str(), (dir + "/kroview-0001.png").c_str()), 0);
    EXPECT_TRUE(kroTestHas(live.waitFor("kroview: watching " + model),
                           how.empty() ? "(inotify)" : "(polling)"));
    kroTestPng before = live.shot();
    ASSERT_EQ(before.width, 400);
    EXPECT_EQ(countColour(before, 230, 140, 25), 0); // no orange yet
    kroTestPng made = shot(model, options, 400, 200);
    int rows = panelRows(before) + 2; // under the overlay: pixels more than rounding apart
    auto under = [&](int, int y) { return y >= rows; };
    EXPECT_LT(differing(before, made, 8, under), 400 * 200 / 300);
    if (!how.empty()) { // Left: 5 degrees less yaw, nearer --yaw 20's picture than 30's (as framed)
      press("Left");
      live.shot(); // the key taken by the next one
      kroTestPng turned = live.shot();
      EXPECT_LT(differing(turned, shot(model, options + " --yaw 20", 400, 200), 8, under),
                differing(turned, shot(model, options + " --yaw 30", 400, 200), 8, under));
      // G shows the grid, then G and E swap it for the edges: each picture nearest its option's.
      const std::string turn = options + " --yaw 20";
      const kroTestPng grid = shot(model, turn + " --grid", 400, 200),
                       edges = shot(model, turn + " --edges", 400, 200);
      for (const char *pressed : {"g", "g e"}) {
        press(pressed);
        live.shot();
        kroTestPng seen = live.shot();
        const int near[2] = {differing(seen, grid, 8, under), differing(seen, edges, 8, under)};
        EXPECT_LT(near[pressed[1] != 0], near[pressed[1] == 0]) << pressed;
      }
      press("e"); // edges off again
    }

    replaceFile(target, kroTestReadFile(kData + "tall_box.ase")); // an orange box
    live.waitFor("kroview: reloaded " + model);
    kroTestPng replaced = live.shot();
    EXPECT_GT(countColour(replaced, 242, 140, 25) + countColour(replaced, 220, 128, 23), 500);
    // Re-pointed as ln -sfn does (a new link renamed over it) to a copy in a third folder: the
    // write below goes to the copy.
    std::string other = kroTestTempFolder("other" + how) + "/other.ase";
    kroTestWriteFile(other, kroTestReadFile(target));
    auto relink = [&](const std::string &to) {
      ASSERT_EQ(symlink(to.c_str(), (model + ".new").c_str()), 0);
      ASSERT_EQ(rename((model + ".new").c_str(), model.c_str()), 0);
    };
    relink(other);
    live.waitFor("kroview: reloaded " + model);
    EXPECT_EQ(changed(), KV_CHANGED_MODEL);
    kroTestWriteFile(target, "no longer shown");
    EXPECT_EQ(changed(), 0);
    // To a file beside the link (one folder, one watch), away and back: the link's own folder
    // stays watched.
    std::string beside = model + ".beside";
    kroTestWriteFile(beside, kroTestReadFile(other));
    for (const std::string &to : {beside, other, beside}) {
      relink(to);
      EXPECT_EQ(changed(), KV_CHANGED_MODEL) << to;
    }

    kroTestWriteFile(model, "*GEOMOBJECT {\n*MESH {\n*MESH_NUMVERTEX -3\n"); // in place
    EXPECT_TRUE(kroTestHas(live.waitFor("kroview: kept the last good model: "), model));
    EXPECT_EQ(changed(), KV_CHANGED_MODEL);
    kvCloseWatch(&watch);
    kroTestPng kept = live.shot();
    rows = panelRows(kept) + 2;
    EXPECT_EQ(differing(kept, replaced, 0, under), 0) << "the picture under the overlay changed";
    EXPECT_GT(panelRows(kept), panelRows(replaced) + 15) << "no reason in the overlay";
    replaceFile(model, kroTestReadFile(kData + "tall_box.ase")); // over the link; no reason left
    live.waitFor("kroview: reloaded " + model);
    EXPECT_EQ(panelRows(live.shot()), panelRows(replaced)) << "the overlay kept an old reason";

    const std::string lit = "void main() { gl_FragColor = vec4(1.0, 0.0, 1.0, 1.0); }\n";
    replaceFile(shaders + "/ish/b.frag", lit);
    live.waitFor("kroview: rebuilt the shaders");
    kroTestPng magenta = live.shot();
    EXPECT_GT(countColour(magenta, 255, 0, 255), 500);

    kroTestWriteFile(shaders + "/ish/b.frag", "void main() { gl_FragColor = ; }\n");
    EXPECT_TRUE(kroTestHas(live.waitFor("kroview: kept the last good shaders: "), "ish/b.frag"));
    EXPECT_GT(countColour(live.shot(), 255, 0, 255), 500);
    // ish/ replaced by its copy: the copy is watched, its broken file found and then its fix.
    ASSERT_EQ(kroTestRun("cd " + shaders + " && mv ish ish.old && cp -r ish.old ish").status, 0);
    live.waitFor("kroview: kept the last good shaders: ");
    replaceFile(shaders + "/ish/b.frag", lit);
    live.waitFor("kroview: rebuilt the shaders");

    // A textured model shows its picture's blue tiles; a new picture under the map's name is
    // loaded again (a plain green one: green tiles, no blue), also after a broken one.
    std::string tiles = model.substr(0, model.rfind('/')) + "/tiles.png";
    kroTestWriteFile(tiles, kroTestReadFile(kTextured + "tiles.png"));
    replaceFile(model, kroTestReadFile(kTextured + "textured.ase"));
    live.waitFor("kroview: reloaded " + model);
    EXPECT_GT(countTint(live.shot(), 2), 500);
    replaceFile(tiles, "\x89PNG\r\n\x1a\ncut"); // caught half written: refused, still watched
    live.waitFor("kroview: reloaded 0 map textures");
    const uint8_t green[3] = {0, 200, 0}; // a picture of one pixel
    ASSERT_EQ(kvWritePNG((tiles + ".new").c_str(), green, 1, 1), 0);
    ASSERT_EQ(rename((tiles + ".new").c_str(), tiles.c_str()), 0);
    live.waitFor("kroview: reloaded 1 map textures");
    EXPECT_GT(countTint(live.shot(), 1), 500);
    // An OBJ model's .mtl library is watched too: a colour changed there reads the model again
    // (seen through the engine's shaders, back as they were).
    replaceFile(shaders + "/ish/b.frag", kroTestReadFile(KRO_SOURCE_DIR "/sh/ish/b.frag"));
    live.waitFor("kroview: rebuilt the shaders");
    std::string library = tiles.substr(0, tiles.rfind('/')) + "/box.mtl";
    kroTestWriteFile(library, "newmtl Paint\nKd 0.9 0.1 0.1\n");
    replaceFile(model, "mtllib box.mtl\nv -1 -1 -1\nv 1 -1 -1\nv 1 1 -1\nv -1 1 -1\nv -1 -1 1\n"
                       "v 1 -1 1\nv 1 1 1\nv -1 1 1\nusemtl Paint\nf 1 4 3 2\nf 5 6 7 8\n"
                       "f 1 2 6 5\nf 4 8 7 3\nf 1 5 8 4\nf 2 3 7 6\n");
    live.waitFor("kroview: reloaded " + model);
    EXPECT_GT(countTint(live.shot(), 0), 500);
    replaceFile(library, "newmtl Paint\nKd 0.1 0.1 0.9\n");
    live.waitFor("kroview: reloaded " + model);
    EXPECT_GT(countTint(live.shot(), 2), 500);
    if (!how.empty()) {
      EXPECT_EQ(live.stop(), 128 + SIGTERM);
      continue;
    }
    // Until it has quit: its process a zombie, this test being its parent.
    const std::string ended = " ps -o stat= -p " + std::to_string(live.pid) + " | grep -q Z";
    kroTestOutcome keys =
        kroTestRun("for i in $(seq 100); do" + ended +
                   " && break; for id in $(xdotool search --name '^kroview$'); "
                   "do xdotool key --window $id F12 Escape; done; sleep 0.2; done;" +
                   ended);
    EXPECT_EQ(keys.status, 0) << "still running after F12 and Escape";
    EXPECT_EQ(live.stop(), 0);
    EXPECT_EQ(live.waitFor("kroview: screenshot "), "kroview: screenshot kroview-0012.png");
    // With 0001 to 0012 taken (10 screenshots from 0002 on), a claim up to 12 touches none, one
    // up to 13 makes 0013, empty.
    char path[256];
    const std::string format = dir + "/kroview-%04d.png";
    errno = 0;
    EXPECT_EQ(kvClaimNumberedFile(format.c_str(), 1, 12, path, sizeof path), -1);
    EXPECT_EQ(errno, EEXIST);
    ASSERT_EQ(kvClaimNumberedFile(format.c_str(), 1, 13, path, sizeof path), 0);
    EXPECT_EQ(kroTestReadFile(path), "");
    EXPECT_EQ(kroTestPng(dir + "/kroview-0012.png").width, 400);
    std::string listing = "err.txt\n";
    for (int n = 1; n <= 13; n++)
      listing += "kroview-00" + std::string(n < 10 ? "0" : "") + std::to_string(n) + ".png\n";
    EXPECT_EQ(kroTestListing(dir), listing + "out.txt\n");
  }
}

} // namespace
