// zkassets: writes the intro's source models as ASE text.
//
//   zkassets OUTDIR   writes OUTDIR/bits.ase and OUTDIR/zanyklump.ase
//
// The models themselves are described in zkassets_bits.cpp and
// zkassets_glyphs.cpp; this file holds the vector helpers, the ASE writer and
// the command line. Values are written with six decimals, the precision the
// engine's mesh source generator keeps.
#include "kro.h"
#include "zkassets.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <utility>

ZkaVec3 zkaSub(ZkaVec3 a, ZkaVec3 b) {
  return {a.x - b.x, a.y - b.y, a.z - b.z};
}
ZkaVec3 zkaAdd(ZkaVec3 a, ZkaVec3 b) {
  return {a.x + b.x, a.y + b.y, a.z + b.z};
}
ZkaVec3 zkaCross(ZkaVec3 a, ZkaVec3 b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double zkaDot(ZkaVec3 a, ZkaVec3 b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}

ZkaVec3 zkaNormalize(ZkaVec3 a) {
  double length = sqrt(zkaDot(a, a));
  if (length <= 0.0)
    zkaDie("a normal of zero length");
  return {a.x / length, a.y / length, a.z / length};
}

ZkaVec3 zkaTriangleNormal(ZkaVec3 a, ZkaVec3 b, ZkaVec3 c) {
  return zkaNormalize(zkaCross(zkaSub(b, a), zkaSub(c, a)));
}

void zkaDie(const char *what) {
  fprintf(stderr, "zkassets: %s\n", what);
  exit(1);
}

void zkaAddFlatTriangle(ZkaModel *model, int a, int b, int c, ZkaVec3 normal, int smoothing) {
  const std::vector<ZkaVec3> &v = model->vertices;
  ZkaVec3 geometric = zkaTriangleNormal(v[a], v[b], v[c]);
  if (zkaDot(geometric, normal) < 0.999999)
    zkaDie("a flat triangle whose winding disagrees with its normal");
  ZkaFace face = {{a, b, c}, normal, {normal, normal, normal}, smoothing};
  model->faces.push_back(face);
}

// ---- ASE writer ----

// "%.6f" without a negative zero: a value that rounds to zero is written as
// 0.000000, so a reader never sees a sign that the geometry does not have.
static const char *fixed6(double value, char *buffer) {
  snprintf(buffer, 32, "%.6f", value);
  if (!strcmp(buffer, "-0.000000"))
    strcpy(buffer, "0.000000");
  return buffer;
}

static void writeTriple(FILE *out, ZkaVec3 v) {
  char x[32], y[32], z[32];
  fprintf(out, "%s\t%s\t%s\n", fixed6(v.x, x), fixed6(v.y, y), fixed6(v.z, z));
}

static bool sameDirection(ZkaVec3 a, ZkaVec3 b) {
  return zkaDot(a, b) > 0.999999;
}

// Edge visibility as exporters write it: an edge shared by exactly two
// coplanar faces (the diagonal of a flat polygon) is hidden, every other one
// shown. out_visible[f * 3 + k] is the flag of edge k (AB, BC, CA) of face f.
static void edgeVisibility(const ZkaModel &model, std::vector<int> *out_visible) {
  std::map<std::pair<int, int>, std::vector<int>> users;
  for (size_t f = 0; f < model.faces.size(); f++)
    for (int k = 0; k < 3; k++) {
      int a = model.faces[f].v[k], b = model.faces[f].v[(k + 1) % 3];
      users[{a < b ? a : b, a < b ? b : a}].push_back((int)f);
    }
  out_visible->assign(model.faces.size() * 3, 1);
  for (size_t f = 0; f < model.faces.size(); f++)
    for (int k = 0; k < 3; k++) {
      int a = model.faces[f].v[k], b = model.faces[f].v[(k + 1) % 3];
      const std::vector<int> &u = users[{a < b ? a : b, a < b ? b : a}];
      if (u.size() == 2 &&
          sameDirection(model.faces[u[0]].real_normal, model.faces[u[1]].real_normal))
        (*out_visible)[f * 3 + k] = 0;
    }
}

static void writeNodeTransform(FILE *out, const ZkaModel &model) {
  fprintf(out, "\t*NODE_TM {\n");
  if (model.name_in_transform)
    fprintf(out, "\t\t*NODE_NAME \"%s\"\n", model.node_name.c_str());
  fprintf(out, "\t\t*INHERIT_POS 0 0 0\n"
               "\t\t*INHERIT_ROT 0 0 0\n"
               "\t\t*INHERIT_SCL 0 0 0\n"
               "\t\t*TM_ROW0 1.0000\t0.0000\t0.0000\n"
               "\t\t*TM_ROW1 0.0000\t1.0000\t0.0000\n"
               "\t\t*TM_ROW2 0.0000\t0.0000\t1.0000\n"
               "\t\t*TM_ROW3 0.0000\t0.0000\t0.0000\n"
               "\t\t*TM_POS 0.0000\t0.0000\t0.0000\n"
               "\t\t*TM_ROTAXIS 0.0000\t0.0000\t0.0000\n"
               "\t\t*TM_ROTANGLE 0.0000\n"
               "\t\t*TM_SCALE 1.0000\t1.0000\t1.0000\n"
               "\t\t*TM_SCALEAXIS 0.0000\t0.0000\t0.0000\n"
               "\t\t*TM_SCALEAXISANG 0.0000\n"
               "\t}\n");
}

static void writeMesh(FILE *out, const ZkaModel &model) {
  fprintf(out, "\t*MESH {\n\t\t*TIMEVALUE 0\n");
  fprintf(out, "\t\t*MESH_NUMVERTEX %d\n", (int)model.vertices.size());
  fprintf(out, "\t\t*MESH_NUMFACES %d\n", (int)model.faces.size());
  fprintf(out, "\t\t*MESH_VERTEX_LIST {\n");
  for (size_t i = 0; i < model.vertices.size(); i++) {
    fprintf(out, "\t\t\t*MESH_VERTEX %4d\t", (int)i);
    writeTriple(out, model.vertices[i]);
  }
  fprintf(out, "\t\t}\n\t\t*MESH_FACE_LIST {\n");
  std::vector<int> visible;
  edgeVisibility(model, &visible);
  for (size_t f = 0; f < model.faces.size(); f++) {
    const ZkaFace &face = model.faces[f];
    fprintf(out,
            "\t\t\t*MESH_FACE %4d:    A: %4d B: %4d C: %4d AB: %4d BC: %4d CA: %4d\t "
            "*MESH_SMOOTHING %d \t*MESH_MTLID 0\n",
            (int)f, face.v[0], face.v[1], face.v[2], visible[f * 3], visible[f * 3 + 1],
            visible[f * 3 + 2], face.smoothing);
  }
  fprintf(out, "\t\t}\n\t\t*MESH_NUMCVERTEX 0\n\t\t*MESH_NORMALS {\n");
  for (size_t f = 0; f < model.faces.size(); f++) {
    const ZkaFace &face = model.faces[f];
    fprintf(out, "\t\t\t*MESH_FACENORMAL %d\t", (int)f);
    writeTriple(out, face.real_normal);
    for (int k = 0; k < 3; k++) {
      fprintf(out, "\t\t\t\t*MESH_VERTEXNORMAL %d\t", face.v[k]);
      writeTriple(out, face.corner_normal[k]);
    }
  }
  fprintf(out, "\t\t}\n\t}\n");
}

static void writeMaterials(FILE *out, const std::vector<ZkaMaterial> &materials) {
  fprintf(out, "*MATERIAL_LIST {\n\t*MATERIAL_COUNT %d\n", (int)materials.size());
  for (size_t i = 0; i < materials.size(); i++) {
    fprintf(out, "\t*MATERIAL %d {\n\t\t*MATERIAL_NAME \"%s\"\n\t\t*MATERIAL_CLASS \"Standard\"\n",
            (int)i, materials[i].name.c_str());
    fprintf(out, "\t\t*MATERIAL_DIFFUSE ");
    writeTriple(out, materials[i].diffuse);
    fprintf(out, "\t\t*MATERIAL_TRANSPARENCY 0.0000\n\t}\n");
  }
  fprintf(out, "}\n");
}

void zkaWriteAse(FILE *out, const char *scene_file, const std::vector<ZkaModel> &models,
                 const std::vector<ZkaMaterial> &materials) {
  fprintf(out, "*3DSMAX_ASCIIEXPORT\t200\n"
               "*COMMENT \"Written by zkassets from its model descriptions; rebuild, do not "
               "edit\"\n");
  fprintf(out, "*SCENE {\n\t*SCENE_FILENAME \"%s\"\n", scene_file);
  fprintf(out, "\t*SCENE_FIRSTFRAME 0\n"
               "\t*SCENE_LASTFRAME 100\n"
               "\t*SCENE_FRAMESPEED 30\n"
               "\t*SCENE_TICKSPERFRAME 160\n"
               "\t*SCENE_BACKGROUND_STATIC 0.0000\t0.0000\t0.0000\n"
               "\t*SCENE_AMBIENT_STATIC 0.0000\t0.0000\t0.0000\n"
               "}\n");
  writeMaterials(out, materials);
  for (const ZkaModel &model : models) {
    fprintf(out, "*GEOMOBJECT {\n\t*NODE_NAME \"%s\"\n", model.node_name.c_str());
    writeNodeTransform(out, model);
    writeMesh(out, model);
    fprintf(out, "\t*PROP_MOTIONBLUR 0\n"
                 "\t*PROP_CASTSHADOW 1\n"
                 "\t*PROP_RECVSHADOW 1\n");
    if (model.material >= 0)
      fprintf(out, "\t*MATERIAL_REF %d\n", model.material);
    fprintf(out, "}\n");
  }
}

// ---- command line ----

static bool writeFile(const std::string &path, const char *scene_file,
                      const std::vector<ZkaModel> &models,
                      const std::vector<ZkaMaterial> &materials = {}) {
  kroOutFile out;
  if (kroBeginOutFile(&out, path.c_str()) != 0) {
    fprintf(stderr, "zkassets: cannot write %s: %s\n", path.c_str(), strerror(out.error));
    return false;
  }
  zkaWriteAse(out.file, scene_file, models, materials);
  if (kroCommitOutFile(&out) != 0) {
    fprintf(stderr, "zkassets: error while writing %s: %s\n", path.c_str(), strerror(out.error));
    return false;
  }
  return true;
}

int main(int argc, char **argv) {
  kroRemoveOutFilesOnSignals(); // stopped by a signal, no unfinished file stays
  if (argc != 2 || !strcmp(argv[1], "--help") || !strcmp(argv[1], "-h")) {
    fprintf(argc == 2 ? stdout : stderr,
            "usage: zkassets OUTDIR\n\n"
            "Writes the intro's source models, OUTDIR/bits.ase (the digits zero and one)\n"
            "and OUTDIR/zanyklump.ase (the nine glyphs of the logo word), and kroview's\n"
            "showcase scene, OUTDIR/showcase.ase.\n");
    return argc == 2 ? 0 : 2;
  }
  std::string dir = argv[1];
  std::vector<ZkaModel> digits, glyphs, showcase;
  std::vector<ZkaMaterial> showcase_materials;
  zkaBuildDigits(&digits);
  zkaBuildGlyphs(&glyphs);
  zkaBuildShowcase(&showcase, &showcase_materials);
  if (!writeFile(dir + "/bits.ase", "bits.max", digits) ||
      !writeFile(dir + "/zanyklump.ase", "zanyklump.max", glyphs) ||
      !writeFile(dir + "/showcase.ase", "showcase.max", showcase, showcase_materials))
    return 1;
  return 0;
}
