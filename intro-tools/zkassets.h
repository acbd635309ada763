// zkassets: builds the intro's source models from their descriptions and
// writes them as ASE text, the form a modelling tool's exporter writes.
//
//   zkassets_bits.cpp    the digits zero and one (assets/bits.ase)
//   zkassets_glyphs.cpp  the nine glyphs of the logo word (assets/zanyklump.ase)
//   zkassets_showcase.cpp the viewer's showcase scene (assets/showcase.ase)
//   zkassets_poly.cpp    triangulation of flat outlines with holes
//   zkassets.cpp         the ASE writer and the command line
#ifndef ZKASSETS_H
#define ZKASSETS_H

#include <stdio.h>

#include <string>
#include <vector>

struct ZkaVec3 {
  double x, y, z;
};

struct ZkaPoint {
  double x, y;
};

// One triangle: vertex indices counterclockwise seen from the side its real
// normal points to, the real (face) normal and the normal at each corner.
struct ZkaFace {
  int v[3];
  ZkaVec3 real_normal;      // unit length
  ZkaVec3 corner_normal[3]; // unit length, corner order as v
  int smoothing;            // smoothing group written with the face, 0 for none
};

// One geometry object as the exporter writes it.
struct ZkaModel {
  std::string node_name;
  bool name_in_transform; // repeat *NODE_NAME inside *NODE_TM
  std::vector<ZkaVec3> vertices;
  std::vector<ZkaFace> faces;
  int material = -1; // index into the file's material list, -1 for none
};

// One entry of the file's material list.
struct ZkaMaterial {
  std::string name;
  ZkaVec3 diffuse; // red, green, blue, 0..1
};

// Vector helpers.
ZkaVec3 zkaSub(ZkaVec3 a, ZkaVec3 b);
ZkaVec3 zkaAdd(ZkaVec3 a, ZkaVec3 b);
ZkaVec3 zkaCross(ZkaVec3 a, ZkaVec3 b);
double zkaDot(ZkaVec3 a, ZkaVec3 b);
ZkaVec3 zkaNormalize(ZkaVec3 a);
// Unit normal of the triangle a, b, c by the right-hand rule.
ZkaVec3 zkaTriangleNormal(ZkaVec3 a, ZkaVec3 b, ZkaVec3 c);

// Adds a flat-shaded triangle; aborts when its winding disagrees with normal.
void zkaAddFlatTriangle(ZkaModel *model, int a, int b, int c, ZkaVec3 normal, int smoothing);
// Stops the program with a message: the built-in descriptions are inconsistent.
[[noreturn]] void zkaDie(const char *what);

// Triangulates one flat region given as closed polygons: contours[0] is the
// outline, the others are holes. Orientation of the input does not matter.
// Fills *points with the contours' points and *triangles with index triples
// into them, counterclockwise. Returns false when the contours are not simple.
bool zkaTriangulate(const std::vector<std::vector<ZkaPoint>> &contours,
                    std::vector<ZkaPoint> *points, std::vector<int> *triangles);

void zkaBuildDigits(std::vector<ZkaModel> *models); // "zero", then "one"
void zkaBuildGlyphs(std::vector<ZkaModel> *models); // "Z" .. "P" in word order
void zkaBuildShowcase(std::vector<ZkaModel> *models, std::vector<ZkaMaterial> *materials);

// Writes a whole ASE file holding the materials and the models in order.
void zkaWriteAse(FILE *out, const char *scene_file, const std::vector<ZkaModel> &models,
                 const std::vector<ZkaMaterial> &materials = {});

#endif
