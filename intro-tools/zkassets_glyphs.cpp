// The nine glyphs of the logo word ZANYKLUMP: flat letters in the plane
// z = 0, facing +z, each written about its own origin, which the intro moves
// to the glyph's fixed offset in the word.
//
// Design space: the baseline is y = 0 and the cap height y = 100 for every
// letter; x = 0 is the letter's left edge. A contour is a closed polygon of
// points and elliptical arcs; a glyph's first contour is its outline, any
// further ones are holes. Vertical stems are 19 units wide, horizontal bars
// 16, diagonals about 20 measured square to the stroke.
//
// Layout: the letters stand side by side on one baseline. Between two
// neighbours the gap is a common tracking plus the two facing side bearings
// (negative where a side is diagonal or open, so the optical gaps match); the
// tracking is solved so that the word spans exactly WORD_LEFT..WORD_RIGHT,
// and the cap band maps onto WORD_BOTTOM..WORD_TOP. The intro's planar
// texture mapping assumes exactly this box. The word is laid out for even
// spacing, not around the offsets, so an origin may lie beside its letter.
//
// After changing a glyph: `cmake --build BUILD --target update-meshes` writes
// assets/zanyklump.ase and meshes/loadZanyKlumpMesh.cpp anew.
#include "zkassets.h"

#include <math.h>

#include <map>

static const double WORD_LEFT = -2.376711; // model units, after placement
static const double WORD_RIGHT = 2.333038;
static const double WORD_BOTTOM = -0.296261;
static const double WORD_TOP = 0.317921;
static const double CAP_HEIGHT = 100.0; // design units
static const double MAX_GLYPH_WIDTH = 0.55;

// One step of a contour: a point, or an arc about (x, y) with radii rx, ry
// from angle `from` to `to` (degrees, counterclockwise from +x; both ends are
// points of the contour) in `segments` straight pieces.
struct Step {
  double x, y;
  double rx, ry, from, to;
  int segments;
};
static Step pt(double x, double y) {
  return {x, y, 0, 0, 0, 0, 0};
}
static Step arc(double cx, double cy, double rx, double ry, double from, double to, int segments) {
  return {cx, cy, rx, ry, from, to, segments};
}

struct GlyphDesign {
  const char *name;                        // node name
  double offset;                           // x offset of the glyph's origin in the word
  double left_bearing;                     // design units added to the gap before the letter
  double right_bearing;                    // design units added to the gap after it
  std::vector<std::vector<Step>> contours; // outline, then holes
};

// clang-format off
static const std::vector<GlyphDesign> GLYPHS = {
  {"Z", -2.1494, 0, -2, {
    {pt(0, 0), pt(72, 0), pt(72, 16), pt(24, 16), pt(72, 84), pt(72, 100),
     pt(0, 100), pt(0, 84), pt(48, 84), pt(0, 16)}}},
  {"A", -1.8154, -8, -8, {
    {pt(0, 0), pt(20, 0), pt(26, 20), pt(56, 20), pt(62, 0), pt(82, 0),
     pt(52, 100), pt(30, 100)},
    {pt(30.5, 35), pt(51.5, 35), pt(41, 70)}}},
  {"N", -1.4694, 0, 0, {
    {pt(0, 0), pt(19, 0), pt(19, 66), pt(52, 0), pt(76, 0), pt(76, 100),
     pt(57, 100), pt(57, 34), pt(24, 100), pt(0, 100)}}},
  {"Y", -0.8329, -8, -8, {
    {pt(30.5, 0), pt(49.5, 0), pt(49.5, 44), pt(80, 100), pt(58, 100),
     pt(40, 66.950820), pt(22, 100), pt(0, 100), pt(30.5, 44)}}},
  {"K", -0.1934, 0, -6, {
    {pt(0, 0), pt(19, 0), pt(19, 52.8), pt(52, 0), pt(76, 0), pt(41.665236, 54.935622),
     pt(76, 100), pt(51, 100), pt(19, 58), pt(19, 100), pt(0, 100)}}},
  {"L", 0.4276, 0, -13, {
    {pt(0, 0), pt(57, 0), pt(57, 16), pt(19, 16), pt(19, 100), pt(0, 100)}}},
  {"U", 0.9806, 0, 0, {
    {pt(0, 100), arc(37, 37, 37, 37, 180, 360, 16), pt(74, 100), pt(55, 100),
     arc(37, 37, 18, 20, 360, 180, 16), pt(19, 100)}}},
  {"M", 1.551, 0, 0, {
    {pt(0, 0), pt(19, 0), pt(19, 60), pt(36.5, 0), pt(52.5, 0), pt(70, 60), pt(70, 0),
     pt(89, 0), pt(89, 100), pt(61.5, 100), pt(44.5, 41.714286), pt(27.5, 100), pt(0, 100)}}},
  {"P", 2.1369, 0, -3, {
    {pt(0, 0), pt(19, 0), pt(19, 40), arc(38, 70, 30, 30, -90, 90, 16), pt(0, 100)},
    {pt(19, 56), arc(38, 70, 11, 14, -90, 90, 16), pt(19, 84)}}},
};
// clang-format on

static std::vector<ZkaPoint> expandContour(const std::vector<Step> &steps) {
  const double pi = 3.14159265358979323846;
  std::vector<ZkaPoint> points;
  for (const Step &s : steps) {
    if (s.segments == 0) {
      points.push_back({s.x, s.y});
      continue;
    }
    for (int i = 0; i <= s.segments; i++) {
      double a = (s.from + (s.to - s.from) * i / s.segments) * pi / 180.0;
      points.push_back({s.x + s.rx * cos(a), s.y + s.ry * sin(a)});
    }
  }
  return points;
}

static void designExtent(const GlyphDesign &g, double *min_x, double *max_x) {
  *min_x = INFINITY;
  *max_x = -INFINITY;
  for (const std::vector<Step> &c : g.contours)
    for (const ZkaPoint &p : expandContour(c)) {
      *min_x = fmin(*min_x, p.x);
      *max_x = fmax(*max_x, p.x);
    }
}

// Triangulates one glyph and writes it about its origin: design x maps to
// word x = WORD_LEFT + (pen + x) * scale, minus the glyph's offset.
static ZkaModel buildGlyph(const GlyphDesign &g, double pen, double scale) {
  std::vector<std::vector<ZkaPoint>> contours;
  for (const std::vector<Step> &c : g.contours)
    contours.push_back(expandContour(c));
  std::vector<ZkaPoint> points;
  std::vector<int> triangles;
  if (!zkaTriangulate(contours, &points, &triangles))
    zkaDie((std::string("glyph ") + g.name +
            ": its contours do not triangulate (outline and holes must be simple and apart)")
               .c_str());

  ZkaModel model;
  model.node_name = g.name;
  model.name_in_transform = true;
  std::map<int, int> vertex_of_point; // only points that a triangle uses become vertices
  for (int p : triangles)
    if (!vertex_of_point.count(p)) {
      int index = (int)model.vertices.size();
      vertex_of_point[p] = index;
      double x = WORD_LEFT + (pen + points[p].x) * scale - g.offset;
      double y = WORD_BOTTOM + points[p].y * scale;
      model.vertices.push_back({x, y, 0.0});
    }
  const ZkaVec3 up = {0, 0, 1};
  for (size_t t = 0; t + 2 < triangles.size(); t += 3)
    zkaAddFlatTriangle(&model, vertex_of_point[triangles[t]], vertex_of_point[triangles[t + 1]],
                       vertex_of_point[triangles[t + 2]], up, 1);
  return model;
}

void zkaBuildGlyphs(std::vector<ZkaModel> *models) {
  const double scale = (WORD_TOP - WORD_BOTTOM) / CAP_HEIGHT; // model units per design unit
  const double word_width = (WORD_RIGHT - WORD_LEFT) / scale;
  double letters = 0, bearings = 0;
  std::vector<double> min_x(GLYPHS.size()), max_x(GLYPHS.size());
  for (size_t i = 0; i < GLYPHS.size(); i++) {
    designExtent(GLYPHS[i], &min_x[i], &max_x[i]);
    if ((max_x[i] - min_x[i]) * scale > MAX_GLYPH_WIDTH)
      zkaDie((std::string("glyph ") + GLYPHS[i].name + " is too wide").c_str());
    letters += max_x[i] - min_x[i];
    if (i > 0)
      bearings += GLYPHS[i - 1].right_bearing + GLYPHS[i].left_bearing;
  }
  const double tracking = (word_width - letters - bearings) / (double)(GLYPHS.size() - 1);
  double pen = 0; // design units from WORD_LEFT to the current letter's left edge
  for (size_t i = 0; i < GLYPHS.size(); i++) {
    if (i > 0) {
      double gap = tracking + GLYPHS[i - 1].right_bearing + GLYPHS[i].left_bearing;
      if (gap <= 0)
        zkaDie("the letters of the word overlap");
      pen += gap;
    }
    models->push_back(buildGlyph(GLYPHS[i], pen - min_x[i], scale));
    pen += max_x[i] - min_x[i];
  }
}
