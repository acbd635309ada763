// ASE reader, counters, materials: object selection and the stream walk,
// files written by a real exporter, and every refused file leaving an empty
// result behind (message, hook, no half-filled arrays).
#include "gl_context.h"
#include "kro_internal.h"

#include <gtest/gtest.h>

#include <math.h>
#include <string.h>

#include <string>

namespace {

const std::string kData = std::string(KRO_TEST_DATA) + "/ase/";
const std::string kShared = std::string(KRO_SHARED_TESTDATA) + "/ase/";
const std::string kTwo = kData + "two_objects.ase";

struct AseTest : kroTestFailureFixture {};

// The four arrays of one load, released on destruction.
struct Mesh {
  kroObject op = nullptr, nc = nullptr, realn = nullptr, tc = nullptr;
  int triangles = -1;
  int material = -1;
  char name[KRO_ASE_NAME_CHARS + 1] = "untouched";
  ~Mesh() { release(); }
  void release() {
    int rows = triangles > 0 ? triangles : 0;
    kroDestroyObject(&op, rows);
    kroDestroyObject(&nc, rows);
    kroDestroyObject(&realn, rows);
    kroDestroyObject(&tc, rows);
  }
  bool empty() const { return !op && !nc && !realn && !tc && triangles == 0; }
  void load(const std::string &path, int number) {
    material = kroLoadMeshxFromASE(&op, &nc, &realn, &tc, number, path.c_str(), name, &triangles);
  }
  void next(FILE *stream) {
    material = kroLoadMeshFromASEfd(&op, &nc, &realn, &tc, stream, name, &triangles);
  }
};

void expectRow(const float *row, std::initializer_list<float> values) {
  int k = 0;
  for (float v : values) {
    EXPECT_FLOAT_EQ(row[k], v) << "element " << k;
    k++;
  }
}

TEST_F(AseTest, SelectsGeometryObjectsByNumber) {
  Mesh first;
  first.load(kTwo, 1);
  ASSERT_EQ(first.triangles, 2);
  EXPECT_EQ(first.material, 1);
  // The light between the objects belongs to the first one: its name wins.
  EXPECT_STREQ(first.name, "Sun lamp");
  expectRow(first.op[0], {-1, -1, 0, 1, -1, 0, 1.5f, 1.25f, -0.0000001f});
  EXPECT_TRUE(signbit(first.op[0][5])); // "-0.0000" keeps its sign
  expectRow(first.op[1], {1.5f, 1.25f, -0.0000001f, -1, 1, 0, -1, -1, 0});
  expectRow(first.tc[0], {0, 0, 1, 0, 1, 0.75f});
  expectRow(first.tc[1], {1, 0.75f, 0, 1, 0, 0});
  expectRow(first.realn[0], {0, 0, 1});
  expectRow(first.nc[1], {0, 0, 1, 0, 0, 1, 0, 0, 1});

  Mesh second;
  second.load(kTwo, 2);
  ASSERT_EQ(second.triangles, 1);
  EXPECT_EQ(second.material, 0); // no *MATERIAL_REF
  EXPECT_STREQ(second.name, "Right tri");
  expectRow(second.op[0], {2, 0, 0.25f, 3, 0, 0.25f, 2.5f, 123.456789f, 0.25f});
  expectRow(second.tc[0], {0, 0, 0, 0, 0, 0}); // rows the file leaves unwritten read 0

  for (int number : {0, 3, -1}) {
    Mesh none;
    none.load(kTwo, number);
    EXPECT_TRUE(none.empty()) << number;
    EXPECT_EQ(none.material, 0);
    EXPECT_STREQ(none.name, "untouched");
  }
  EXPECT_EQ(kroTestHookCalls, 0);
}

TEST_F(AseTest, StreamVariantReturnsObjectsOneAfterAnother) {
  FILE *stream = fopen(kTwo.c_str(), "r");
  ASSERT_TRUE(stream);
  Mesh first, second, third;
  first.next(stream);
  second.next(stream);
  third.next(stream);
  fclose(stream);
  EXPECT_EQ(first.triangles, 2);
  EXPECT_EQ(first.material, 1);
  EXPECT_EQ(second.triangles, 1);
  EXPECT_STREQ(second.name, "Right tri");
  EXPECT_TRUE(third.empty());
  EXPECT_STREQ(third.name, "untouched");
  EXPECT_EQ(kroTestHookCalls, 0);

  testing::internal::CaptureStdout();
  Mesh none;
  none.next(nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error in reading mesh from file descriptor\n");
  EXPECT_TRUE(none.empty());
}

TEST_F(AseTest, ReadsExporterFiles) {
  Mesh sphere;
  sphere.load(kShared + "dr_testsphere.ase", 1);
  ASSERT_EQ(sphere.triangles, 960);
  EXPECT_STREQ(sphere.name, "Sphere");
  // A sphere about its origin: every corner at one radius, unit normals.
  float radius = sqrtf(sphere.op[0][0] * sphere.op[0][0] + sphere.op[0][1] * sphere.op[0][1] +
                       sphere.op[0][2] * sphere.op[0][2]);
  ASSERT_GT(radius, 0.0f);
  for (int i = 0; i < sphere.triangles; i++)
    for (int k = 0; k < 9; k += 3) {
      const float *p = &sphere.op[i][k], *n = &sphere.nc[i][k];
      ASSERT_NEAR(sqrtf(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]), radius, radius * 1e-3f) << i;
      ASSERT_NEAR(sqrtf(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]), 1.0f, 2e-3f) << i;
    }

  Mesh cube, camera;
  cube.load(kShared + "RotatingCube.ASE", 1);
  EXPECT_EQ(cube.triangles, 12);
  EXPECT_STREQ(cube.name, "Box01");
  camera.load(kShared + "CameraRollAnim.ase", 1);
  EXPECT_EQ(camera.triangles, 12);
  EXPECT_STREQ(camera.name, "Camera01"); // the camera after the box renames it
  EXPECT_EQ(kroTestHookCalls, 0);
}

TEST_F(AseTest, CountsObjectsAndLights) {
  int objects = -1, lights = -1;
  kroObjectsAndLightsInASE(kTwo.c_str(), &objects, &lights);
  EXPECT_EQ(objects, 2);
  EXPECT_EQ(lights, 1);
  EXPECT_EQ(kroObjectsInASE(kTwo.c_str()), 2);
  EXPECT_EQ(kroLightsInASE(kTwo.c_str()), 1);
  EXPECT_EQ(kroObjectsInASE((kShared + "dr_testsphere.ase").c_str()), 1);
  EXPECT_EQ(kroTestHookCalls, 0);

  std::string missing = kData + "missing.ase";
  testing::internal::CaptureStdout();
  EXPECT_EQ(kroObjectsInASE(missing.c_str()), 0);
  EXPECT_EQ(kroLightsInASE(missing.c_str()), 0);
  kroObjectsAndLightsInASE(missing.c_str(), &objects, &lights);
  Mesh none;
  none.load(missing, 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Error during reading from file " + missing + " in function kroObjectsInASE(..)\n" +
                "Error during reading from file " + missing + " in function kroLightsInASE(..)\n" +
                "Error during reading from file " + missing +
                " in function kroObjectsAndLightsInASE(..)\n" + "Error in reading mesh from " +
                missing + "\n");
  EXPECT_EQ(objects + lights, 0);
  EXPECT_TRUE(none.empty());
  EXPECT_EQ(kroTestHookCalls, 4);
}

TEST_F(AseTest, MeshArrayHoldsEveryObject) {
  kroMesh *meshes = nullptr;
  int count = kroLoadMeshArrayFromASE(&meshes, kTwo.c_str());
  ASSERT_EQ(count, 2);
  EXPECT_STREQ(meshes[0].node_name, "Sun lamp");
  EXPECT_EQ(meshes[0].triangles, 2);
  EXPECT_EQ(meshes[0].material_ref, 1);
  EXPECT_STREQ(meshes[1].node_name, "Right tri");
  expectRow(meshes[1].op[0], {2, 0, 0.25f, 3, 0, 0.25f, 2.5f, 123.456789f, 0.25f});
  kroFreeMeshArray(&meshes, count);
  EXPECT_EQ(meshes, nullptr);

  testing::internal::CaptureStdout();
  EXPECT_EQ(kroLoadMeshArrayFromASE(&meshes, (kData + "bad_vertex_index_at_count.ase").c_str()), 0);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(meshes, nullptr);
  EXPECT_EQ(kroTestHookCalls, 1);
}

TEST_F(AseTest, FurtherMappingChannelsReplaceTheTextureTable) {
  std::string path = kroTestTempPath("channels.ase");
  kroTestWriteFile(path, "*GEOMOBJECT {\n*MESH_NUMVERTEX 1\n*MESH_NUMFACES 1\n"
                         "*MESH_NUMTVERTEX 1\n*MESH_TVERT 0 0.1 0.2 0\n*MESH_TFACE 0 0 0 0\n"
                         "*MESH_MAPPINGCHANNEL 2 {\n*MESH_NUMTVERTEX 2\n*MESH_TVERT 1 0.5 0.6 0\n"
                         "*MESH_TFACE 0 1 1 1\n}\n}\n");
  Mesh mesh;
  mesh.load(path, 1);
  ASSERT_EQ(mesh.triangles, 1);
  expectRow(mesh.tc[0], {0.5f, 0.6f, 0.5f, 0.6f, 0.5f, 0.6f});
  EXPECT_EQ(kroTestHookCalls, 0);
}

TEST_F(AseTest, ReadStringToCharStopsAtTheCharacterOrTheEnd) {
  std::string path = kroTestTempPath("string.txt");
  kroTestWriteFile(path, "a b\"rest|tail");
  FILE *stream = fopen(path.c_str(), "r");
  char buffer[32];
  kroReadStringToChar(stream, buffer, '"');
  EXPECT_STREQ(buffer, "a b");
  kroReadStringToChar(stream, buffer, '|');
  EXPECT_STREQ(buffer, "rest");
  kroReadStringToChar(stream, buffer, '"');
  EXPECT_STREQ(buffer, "tail");
  fclose(stream);
}

// ---- refused files ----

struct BadCase {
  const char *file;
  const char *reason; // part of the message after the file name
};

const BadCase kBadMeshes[] = {
    {"bad_vertex_index_at_count", "vertex 3 of *MESH_FACE is outside 0..2"},
    {"bad_vertex_index_negative", "vertex -1 of *MESH_FACE is outside 0..2"},
    {"bad_face_index_at_count", "face 1 of *MESH_FACE is outside 0..0"},
    {"bad_facenormal_index_negative", "face -1 of *MESH_FACENORMAL is outside 0..0"},
    {"bad_tvertex_index_at_count", "texture vertex 2 of *MESH_TFACE is outside 0..1"},
    {"bad_tface_index_at_count", "face 1 of *MESH_TFACE is outside 0..0"},
    {"bad_vertex_before_count", "*MESH_VERTEX comes before *MESH_NUMVERTEX"},
    {"bad_face_before_numfaces", "*MESH_FACE comes before *MESH_NUMFACES"},
    {"bad_tvert_before_count", "*MESH_TVERT comes before *MESH_NUMTVERTEX"},
    {"bad_numfaces_twice", "*MESH_NUMFACES is given twice"},
    {"bad_numvertex_twice", "*MESH_NUMVERTEX is given twice"},
    {"bad_numfaces_negative", "*MESH_NUMFACES -4 is outside 0.."},
    {"bad_numfaces_huge", "*MESH_NUMFACES 2000000000 is outside 0.."},
    {"bad_numvertex_beyond_file", "*MESH_NUMVERTEX 100000 is outside 0.."},
    {"bad_count_overflow", "a number after *MESH_NUMVERTEX is out of range"},
    {"bad_token_too_long", "a token is longer than 256 characters"},
    {"bad_node_name_too_long", "the node name is longer than 255 characters"},
    {"bad_node_name_unclosed", "the node name has no closing quote"},
    {"bad_node_name_at_end", "the node name has no closing quote"},
    {"bad_value_not_a_number", "*MESH_VERTEX is not followed by a number"},
    {"bad_value_infinite", "a number after *MESH_VERTEX is out of range"},
    {"bad_cut_in_number", "the file ends inside a { } block (cut off?)"},
    {"bad_cut_between_lines", "the file ends inside a { } block (cut off?)"},
    {"bad_cut_in_quoted_text", "the file ends inside a quoted text (cut off?)"},
};

TEST_F(AseTest, RefusedMeshFilesLeaveEmptyArrays) {
  for (const BadCase &bad : kBadMeshes) {
    SCOPED_TRACE(bad.file);
    std::string path = kData + bad.file + ".ase";
    int calls = kroTestHookCalls;
    Mesh mesh;
    testing::internal::CaptureStdout();
    mesh.load(path, 1);
    std::string message = testing::internal::GetCapturedStdout();
    EXPECT_EQ(message.rfind("Error in reading mesh from " + path + ": " + bad.reason, 0), 0u)
        << message;
    EXPECT_EQ(message.back(), '\n');
    EXPECT_EQ(message.find('\n'), message.size() - 1);
    EXPECT_EQ(kroTestHookCalls, calls + 1);
    EXPECT_TRUE(mesh.empty());
    EXPECT_EQ(mesh.material, 0);
    EXPECT_STREQ(mesh.name, "untouched");

    FILE *stream = fopen(path.c_str(), "r");
    ASSERT_TRUE(stream);
    Mesh streamed;
    testing::internal::CaptureStdout();
    streamed.next(stream);
    message = testing::internal::GetCapturedStdout();
    EXPECT_EQ(
        message.rfind(std::string("Error in reading mesh from file descriptor: ") + bad.reason, 0),
        0u)
        << message;
    fclose(stream);
    EXPECT_TRUE(streamed.empty());
  }
}

// Cut a good file at every byte: each object read from the stream is either
// exactly the full object or refused with an empty result.
TEST_F(AseTest, FileCutAnywhereIsCompleteOrEmpty) {
  std::string text = kroTestReadFile(kTwo);
  ASSERT_FALSE(text.empty());
  Mesh full[2];
  full[0].load(kTwo, 1);
  full[1].load(kTwo, 2);
  // Cut before the light's end, the first object keeps its own name.
  size_t light_end = text.find("*GEOMOBJECT", text.find("*LIGHTOBJECT"));
  int refused = 0;
  for (size_t length = 0; length < text.size(); length++) {
    FILE *stream = fmemopen(&text[0], length ? length : 1, "r");
    ASSERT_TRUE(stream);
    if (!length)
      fgetc(stream); /* an empty stream */
    for (int number = 1; number <= 2; number++) {
      int calls = kroTestHookCalls;
      Mesh mesh;
      testing::internal::CaptureStdout();
      mesh.next(stream);
      testing::internal::GetCapturedStdout();
      if (kroTestHookCalls != calls || mesh.triangles == 0) {
        refused += kroTestHookCalls != calls;
        ASSERT_TRUE(mesh.empty()) << length;
        break; // a refusal leaves the stream anywhere
      }
      const Mesh &want = full[number - 1];
      ASSERT_EQ(mesh.triangles, want.triangles) << length;
      if (number == 2 || length >= light_end) {
        ASSERT_STREQ(mesh.name, want.name) << length;
      }
      for (int i = 0; i < want.triangles; i++) {
        ASSERT_EQ(memcmp(mesh.op[i], want.op[i], 9 * sizeof(float)), 0) << length;
        ASSERT_EQ(memcmp(mesh.nc[i], want.nc[i], 9 * sizeof(float)), 0) << length;
        ASSERT_EQ(memcmp(mesh.tc[i], want.tc[i], 6 * sizeof(float)), 0) << length;
        ASSERT_EQ(memcmp(mesh.realn[i], want.realn[i], 3 * sizeof(float)), 0) << length;
      }
    }
    fclose(stream);
  }
  EXPECT_GT(refused, (int)text.size() / 2);
}

// A stream in memory has no file behind it, but its size still bounds the
// counts it may claim: a few bytes announcing millions of faces are refused
// before anything is allocated (found by fuzzing: it took seconds and
// hundreds of megabytes before).
TEST_F(AseTest, StreamCountsAreBoundedByTheStreamSize) {
  std::string bytes = kroTestReadFile(kData + "fuzz-stream-huge-count.ase");
  ASSERT_FALSE(bytes.empty());
  FILE *stream = fmemopen(&bytes[0], bytes.size(), "r");
  ASSERT_NE(stream, nullptr);
  Mesh mesh;
  testing::internal::CaptureStdout();
  mesh.next(stream);
  std::string printed = testing::internal::GetCapturedStdout();
  fclose(stream);
  EXPECT_TRUE(mesh.empty());
  EXPECT_NE(printed.find("Error in reading mesh from file descriptor: "), std::string::npos);
  EXPECT_NE(printed.find("*MESH_NUMFACES"), std::string::npos);
  EXPECT_EQ(kroTestHookCalls, 1);
}

TEST_F(AseTest, FailedAllocationsLeaveEmptyArrays) {
  testing::internal::CaptureStdout();
  bool succeeded = false;
  for (long n = 1; n < 100 && !succeeded; n++) {
    int calls = kroTestHookCalls;
    kroFailAllocationAfter(n);
    Mesh mesh;
    mesh.load(kTwo, 1);
    kroFailAllocationAfter(0);
    if (kroTestHookCalls == calls) {
      succeeded = mesh.triangles == 2; // n lies beyond the load's allocations
      continue;
    }
    EXPECT_EQ(kroTestHookCalls, calls + 1) << n;
    EXPECT_TRUE(mesh.empty()) << n;
  }
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(succeeded);
  EXPECT_NE(out.find("Error during allocating memory in kroLoadMeshxFromASE(..)\n"),
            std::string::npos);
  EXPECT_NE(out.find("Error during allocating memory in kroIncreaseCoords(..)\n"),
            std::string::npos);
}

// ---- materials and lights ----

std::string materialFile(const std::string &name, const std::string &text) {
  std::string path = kroTestTempPath(name);
  kroTestWriteFile(path, text);
  return path;
}

TEST_F(AseTest, MaterialsCollapseIntoTheFirstRecord) {
  kroMaterial *materials = nullptr;
  ASSERT_EQ(kroLoadMaterialsFromASE(&materials, kTwo.c_str()), 2);
  ASSERT_NE(materials, nullptr);
  // Both entries' values land in record 0; the *MAP section ends the reading.
  EXPECT_FLOAT_EQ(materials[0].diffuse[0], 0.1f);
  EXPECT_FLOAT_EQ(materials[0].diffuse[1], 0.2f);
  EXPECT_FLOAT_EQ(materials[0].diffuse[2], 0.9f);
  EXPECT_FLOAT_EQ(materials[0].opacity, 0.5f);
  EXPECT_EQ(materials[0].flag, 0);
  for (GLuint name : materials[0].texture)
    EXPECT_EQ(name, 0u);
  kroFreeMaterials(&materials, 2);
  EXPECT_EQ(materials, nullptr);

  std::string path = materialFile(
      "quarter.ase", "*MATERIAL_LIST {\n*MATERIAL_COUNT 1\n*MATERIAL_REF 5\n*MATERIAL_COUNTS 9\n"
                     "*MATERIAL 0 {\n*MATERIAL_DIFFUSE 0.5 0.25 1.0\n"
                     "*MATERIAL_TRANSPARENCY 0.25\n*MAP_DIFFUSE {\n*BITMAPA \"C:\\a b.bmp\"\n"
                     "*MATERIAL_DIFFUSE 9 9 9\n*MATERIAL_TRANSPARENCY 1.0\n}\n}\n}\n");
  ASSERT_EQ(kroLoadMaterialsFromASE(&materials, path.c_str()), 1);
  EXPECT_FLOAT_EQ(materials[0].opacity, 0.75f);
  EXPECT_FLOAT_EQ(materials[0].diffuse[1], 0.25f);
  EXPECT_FLOAT_EQ(materials[0].diffuse[2], 1.0f);
  kroFreeMaterials(&materials, 1);

  kroMaterial sentinel;
  materials = &sentinel;
  EXPECT_EQ(kroLoadMaterialsFromASE(&materials, (kShared + "CameraRollAnim.ase").c_str()), 0);
  EXPECT_EQ(materials, nullptr); // "*MATERIAL_COUNT 0": no records, nothing to free
  materials = &sentinel;
  path = materialFile("none.ase", "*GEOMOBJECT {\n*MATERIAL_REF 0\n}\n");
  EXPECT_EQ(kroLoadMaterialsFromASE(&materials, path.c_str()), 0);
  EXPECT_EQ(materials, &sentinel);
  EXPECT_EQ(kroLoadLightsFromASE(), 0);
  EXPECT_EQ(kroTestHookCalls, 0);
}

TEST_F(AseTest, DestroyMaterialDeletesItsTextureNames) {
  ASSERT_TRUE(kroTestOpenGL());
  kroMaterial material = {};
  glGenTextures(1, &material.texture[2]);
  ASSERT_TRUE(glIsTexture(material.texture[2]) || material.texture[2] != 0);
  glBindTexture(GL_TEXTURE_2D, material.texture[2]);
  glBindTexture(GL_TEXTURE_2D, 0);
  ASSERT_TRUE(glIsTexture(material.texture[2]));
  kroDestroyMaterial(&material);
  EXPECT_FALSE(glIsTexture(material.texture[2]));
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR); // the four zero names are ignored
}

TEST_F(AseTest, RefusedMaterialFilesReturnNothing) {
  const BadCase cases[] = {
      {"bad_material_before_count", "*MATERIAL comes before *MATERIAL_COUNT"},
      {"bad_material_number_at_count", "material 2 of *MATERIAL is outside 0..1"},
      {"bad_material_count_twice", "*MATERIAL_COUNT is given twice"},
      {"bad_material_count_huge", "*MATERIAL_COUNT 1000000000 is outside 0.."},
      {"bad_material_cut", "the file ends where *MATERIAL_DIFFUSE needs a number"},
  };
  for (const BadCase &bad : cases) {
    SCOPED_TRACE(bad.file);
    std::string path = kData + bad.file + ".ase";
    kroMaterial sentinel;
    kroMaterial *materials = &sentinel;
    int calls = kroTestHookCalls;
    testing::internal::CaptureStdout();
    EXPECT_EQ(kroLoadMaterialsFromASE(&materials, path.c_str()), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout().rfind(
                  "Error in reading material from " + path + ": " + bad.reason, 0),
              0u);
    EXPECT_EQ(kroTestHookCalls, calls + 1);
    EXPECT_EQ(materials, &sentinel);
  }
  testing::internal::CaptureStdout();
  kroMaterial *materials = nullptr;
  EXPECT_EQ(kroLoadMaterialsFromASE(&materials, "no/such.ase"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error in reading material from no/such.ase\n");
}

} // namespace
