// ASE readers on a missing file, materials and their textures; loaders
// generated at build time by `krotool mesh-src` that must rebuild what the
// reader reads. (The readers' and the generator's exact results: test_ase_exact.)
#include "gl_context.h"

#include <string.h>

// Written at build time by `krotool mesh-src --header`; one twice, so its guard must hold.
#include "generated_loaders_RotatingCube.h"
#include "generated_loaders_UVTransform_Normal.h"
#include "generated_loaders_awkward_values.h"
#include "generated_loaders_cube.h"
#include "generated_loaders_exported_shapes.h"
#include "generated_loaders_faces_shuffled.h"
#include "generated_loaders_hierarchy.h"
#include "generated_loaders_mesh_animation.h"
#include "generated_loaders_name_holds_geomobject.h"
#include "generated_loaders_named_objects.h"
#include "generated_loaders_named_objects.h"
#include "generated_loaders_ngon.h"
#include "generated_loaders_two_objects.h"
// The same objects as compact loaders.
#include "generated_compact_loaders_RotatingCube.h"
#include "generated_compact_loaders_UVTransform_Normal.h"
#include "generated_compact_loaders_awkward_values.h"
#include "generated_compact_loaders_cube.h"
#include "generated_compact_loaders_exported_shapes.h"
#include "generated_compact_loaders_faces_shuffled.h"
#include "generated_compact_loaders_hierarchy.h"
#include "generated_compact_loaders_mesh_animation.h"
#include "generated_compact_loaders_named_objects.h"
#include "generated_compact_loaders_ngon.h"
#include "generated_compact_loaders_two_objects.h"

namespace {

const std::string kData = std::string(KRO_TEST_DATA) + "/ase/";
const std::string kExporter = std::string(KRO_TEST_DATA) + "/third-party/assimp/";
const std::string kScenes = std::string(KRO_TEST_DATA) + "/";

struct AseTest : kroTestGLFailureFixture {}; // the material records hold texture names

// A load that filled nothing: no arrays, no triangles, no material, the name as it was.
bool untouched(const kroTestMesh &m) {
  return !m.op && !m.nc && !m.realn && !m.tc && !m.triangles && !m.material &&
         !strcmp(m.name, "untouched");
}

std::string describe(const kroMaterial &m) { // colour, opacity, flag, texture names
  char text[128];
  snprintf(text, sizeof text, "%g %g %g %g %d %u %u %u %u %u", m.diffuse[0], m.diffuse[1],
           m.diffuse[2], m.opacity, (int)m.flag, m.texture[0], m.texture[1], m.texture[2],
           m.texture[3], m.texture[4]);
  return text;
}

// A missing file or stream: each reader names itself, counts are 0, nothing is filled.
TEST_F(AseTest, AMissingFileOrStreamFillsNothing) {
  const char *missing = "no/such.ase";
  int objects = -1, lights = -1;
  kroTestMesh none, streamed;
  kroMaterial *materials = nullptr;
  long sentinel, *offsets = &sentinel;
  std::string out = kroTestCaptured([&] {
    EXPECT_EQ(kroObjectsInASE(missing) + kroLightsInASE(missing), 0);
    kroObjectsAndLightsInASE(missing, &objects, &lights);
    EXPECT_EQ(kroObjectOffsetsInASE(missing, &offsets), 0);
    none.load(missing, 1);
    EXPECT_EQ(kroLoadMaterialsFromASE(&materials, missing), 0);
    streamed.next(nullptr), kroCreateSrcMeshFromASEfd(nullptr, "X");
  });
  std::string err = "Error during reading from file no/such.ase in function kro";
  EXPECT_EQ(out, err + "ObjectsInASE(..)\n" + err + "LightsInASE(..)\n" + err +
                     "ObjectsAndLightsInASE(..)\n" + err + "ObjectOffsetsInASE(..)\n" +
                     "Error in reading mesh from no/such.ase\n" +
                     "Error in reading material from no/such.ase\n" +
                     "Error in reading mesh from file descriptor\n" +
                     "Error in reading mesh from file descriptor\n");
  EXPECT_TRUE(objects + lights == 0 && !offsets && untouched(none) && untouched(streamed));
  EXPECT_EQ(kroTestHookCalls, 8);
}

TEST_F(AseTest, ReadStringToCharStopsAtTheCharacterOrTheEnd) {
  char text[] = "a b\"rest|tail", a[32], b[32], c[32];
  FILE *stream = fmemopen(text, strlen(text), "r");
  kroReadStringToChar(stream, a, '"'), kroReadStringToChar(stream, b, '|');
  kroReadStringToChar(stream, c, '"'), fclose(stream);
  EXPECT_EQ(std::string(a) + "/" + b + "/" + c, "a b/rest/tail");
}

// Each "*MATERIAL n" block fills record n: its *MATERIAL_NAME without quotes,
// white space inside it one blank, cut to KRO_ASE_NAME_CHARS (keywords inside
// the quotes are part of the name and select nothing), empty without one; a
// map section ends with its material; a bitmap name of exactly its limit is
// taken, one character more refused. Freeing destroys each record, deleting
// its texture names. (The count and colours of every repository file's records,
// and the node name's and the token's limits, are pinned by test_ase_exact's record.)
TEST_F(AseTest, MaterialsAsTheFileGivesThemAndFreeingDeletesTextures) {
  std::string path = kroTestTempPath("materials.ase"), long_name,
              bitmap = std::string(KRO_ASE_BITMAP_CHARS, 'b');
  while (long_name.size() <= KRO_ASE_NAME_CHARS) // words: no token is too long
    long_name += " name" + std::to_string(long_name.size());
  long_name.erase(0, 1);
  const std::string text =
      "*MATERIAL_LIST {\n*MATERIAL_COUNT 5\n*MATERIAL_REF 5\n*MATERIAL_COUNTS 9\n"
      "*MATERIAL 0 {\n*MATERIAL_DIFFUSE 0.5 0.25 1.0\n*MATERIAL_TRANSPARENCY 0.25\n"
      "*MAP_DIFFUSE {\n*BITMAPA \"C:\\a b.bmp\"\n*MATERIAL_DIFFUSE 9 9 9\n"
      "*MATERIAL_TRANSPARENCY 1.0\n}\n}\n"
      "*MATERIAL 1 {\n*MATERIAL_NAME \"two  words\tand *MATERIAL 3\"\n"
      "*MATERIAL_DIFFUSE 1 0 0\n}\n"
      "*MATERIAL 2 {\n*MATERIAL_NAME bare\n}\n"
      "*MATERIAL 3 {\n*MATERIAL_NAME \"" +
      long_name + "\"\n}\n*MATERIAL 4 {\n*MATERIAL_NAME \"\"\n*MAP_BUMP {\n*BITMAPA \"" + bitmap +
      "\"\n}\n}\n}\n";
  kroTestWriteFile(path, text);
  kroMaterial *materials = nullptr;
  ASSERT_EQ(kroLoadMaterialsFromASE(&materials, path.c_str()), 5);
  EXPECT_TRUE(!strcmp(materials[0].name, "") && !strcmp(materials[4].name, ""));
  EXPECT_EQ(describe(materials[0]), "0.5 0.25 1 0.75 0 0 0 0 0 0");
  EXPECT_STREQ(materials[1].name, "two words and *MATERIAL 3");
  EXPECT_EQ(describe(materials[1]), "1 0 0 1 0 0 0 0 0 0");
  EXPECT_STREQ(materials[2].name, "bare");
  EXPECT_EQ(materials[3].name, long_name.substr(0, KRO_ASE_NAME_CHARS));
  glGenTextures(1, &materials[4].texture[2]); // zero names are ignored
  glBindTexture(GL_TEXTURE_2D, materials[4].texture[2]);
  GLuint texture = materials[4].texture[2];
  kroFreeMaterials(&materials, 5);
  EXPECT_TRUE(!glIsTexture(texture) && !materials);
  // "*MATERIAL_COUNT 0" gives no records; no material list leaves the pointer alone.
  kroMaterial sentinel, *zero = &sentinel, *none = &sentinel;
  EXPECT_TRUE(!kroLoadMaterialsFromASE(&zero, (kExporter + "CameraRollAnim.ase").c_str()) &&
              !kroLoadMaterialsFromASE(&none, (kData + "faces_shuffled.ase").c_str()));
  EXPECT_TRUE(zero == nullptr && none == &sentinel && kroTestHookCalls == 0);
  kroTestWriteFile(path, std::string(text).insert(text.find(bitmap), "b"));
  kroTestExpectReport([&] { EXPECT_EQ(kroLoadMaterialsFromASE(&none, path.c_str()), 0); },
                      "Error in reading material from " + path +
                          ": the bitmap name is longer than 1023 characters at line 27\n");
}

// Name, row count and every value as `format` gives it ("%f": the loader's constants carry six
// decimals; "%a": bit for bit).
std::string dump(const kroTestMesh &m, bool texture_faces, const char *format = " %f") {
  std::string text = std::string(m.name) + " " + std::to_string(m.triangles);
  const kroObject arrays[4] = {m.op, m.nc, m.realn, m.tc};
  const int widths[4] = {9, 9, 3, texture_faces ? 6 : 0};
  char value[64];
  for (int array = 0; array < 4; array++)
    for (int i = 0; i < m.triangles; i++)
      for (int k = 0; k < widths[array]; k++)
        text += (snprintf(value, sizeof value, format, arrays[array][i][k]), value);
  return text;
}

// Each loader `krotool mesh-src` wrote builds the reader's object (texture rows only where the
// file has texture faces; the others stay as allocated), and its compact twin, where there is
// one, builds the same, bit for bit. An OBJ or glTF file's loaders build kroLoadScene's meshes
// bit for bit.
TEST_F(AseTest, GeneratedLoadersAndCompactTwinsRebuildWhatTheReaderReads) {
  const std::tuple<kroTestLoader *, kroTestLoader *, std::string, int, bool> loaders[] = {
      {loadMeshTwoLeft, loadMeshCompactTwoLeft, kData + "two_objects.ase", 1, true},
      {loadMeshTwoRight, loadMeshCompactTwoRight, kData + "two_objects.ase", 2, false},
      // The base mesh of an object with a mesh animation block, and the object after it.
      {loadMeshMorph, loadMeshCompactMorph, kData + "mesh_animation.ase", 1, false},
      {loadMeshStill, loadMeshCompactStill, kData + "mesh_animation.ase", 2, false},
      // One object, though its name holds "*GEOMOBJECT".
      {loadMeshCopy_of__GEOMOBJECT_1, nullptr, kData + "name_holds_geomobject.ase", 1, false},
      {loadMeshCube, loadMeshCompactCube, kExporter + "RotatingCube.ASE", 1, true},
      {loadMeshPlane01, loadMeshCompactPlane01, kExporter + "UVTransform_Normal.ASE", 1, true},
      // Compact: --auto --object 2 --object Torus01.
      {loadMeshSphere, nullptr, kData + "exported_shapes.ase", 1, true},
      {loadMeshCylinder, loadMeshCylinder01, kData + "exported_shapes.ase", 2, true},
      {loadMeshTorus, loadMeshTorus01, kData + "exported_shapes.ase", 3, true},
      // --auto names for "Box 01", "Box-01", "1st", "" and "Box_01_2".
      {loadMeshBox_01, loadMeshCompactBox_01, kData + "named_objects.ase", 1, true},
      {loadMeshBox_01_2, loadMeshCompactBox_01_2, kData + "named_objects.ase", 2, true},
      {loadMesh1st, loadMeshCompact1st, kData + "named_objects.ase", 3, true},
      {loadMeshObject4, loadMeshCompactObject4, kData + "named_objects.ase", 4, true},
      {loadMeshBox_01_2_2, loadMeshCompactBox_01_2_2, kData + "named_objects.ase", 5, true},
      // Rows out of order, some twice; ties, 2^32 and beyond, tiny values.
      {loadMeshShuffled, loadMeshCompactShuffled, kData + "faces_shuffled.ase", 1, true},
      {loadMeshAwkward, loadMeshCompactAwkward, kData + "awkward_values.ase", 1, true},
      // --auto names of glTF nodes and OBJ groups ("pyramid base"); one mirrored, turned node.
      {loadMeshParent, loadMeshCompactParent, kScenes + "gltf/hierarchy.gltf", 1, false},
      {loadMeshMirror, loadMeshCompactMirror, kScenes + "gltf/hierarchy.gltf", 2, false},
      {loadMeshChild, loadMeshCompactChild, kScenes + "gltf/hierarchy.gltf", 3, false},
      {loadMeshGlbCube, loadMeshCompactGlbCube, kScenes + "gltf/cube.glb", 1, true},
      {loadMeshhexagon, nullptr, kScenes + "obj/ngon.obj", 1, true},
      {loadMeshpyramid, loadMeshCompactPyramid, kScenes + "obj/ngon.obj", 2, true},
      {loadMeshpyramid_base, loadMeshCompactPyramidBase, kScenes + "obj/ngon.obj", 3, true}};
  for (const auto &[plain, compact, path, number, texture_faces] : loaders) {
    SCOPED_TRACE(path + " object " + std::to_string(number));
    bool scene = kroSceneFormatOf(path.c_str()) != KRO_SCENE_ASE;
    kroTestMesh built(plain), read;
    scene ? read.loadScene(path, number) : read.load(path, number);
    EXPECT_GT(read.triangles, 0);
    EXPECT_EQ(dump(built, texture_faces, scene ? " %a" : " %f"),
              dump(read, texture_faces, scene ? " %a" : " %f"));
    if (compact) {
      kroTestMesh twin(compact);
      EXPECT_EQ(dump(twin, texture_faces, " %a"), dump(built, texture_faces, " %a"));
    }
  }
  EXPECT_EQ(kroTestHookCalls, 0);
}

} // namespace
