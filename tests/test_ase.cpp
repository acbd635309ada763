// ASE reader, counters, materials: object selection, the stream walk,
// exporter files, and every refused file leaving an empty result behind.
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
  int triangles = -1, material = -1;
  char name[KRO_ASE_NAME_CHARS + 1] = "untouched";
  ~Mesh() {
    for (kroObject *array : {&op, &nc, &realn, &tc})
      kroDestroyObject(array, triangles > 0 ? triangles : 0);
  }
  bool empty() const { return !op && !nc && !realn && !tc && triangles == 0; }
  bool untouched() const { return empty() && material == 0 && !strcmp(name, "untouched"); }
  std::string summary() const {
    return std::string(name) + " " + std::to_string(triangles) + " " + std::to_string(material);
  }
  bool sameRows(const Mesh &o) const {
    for (int i = 0; i < triangles && triangles == o.triangles; i++)
      if (memcmp(op[i], o.op[i], sizeof(float[9])) || memcmp(nc[i], o.nc[i], sizeof(float[9])) ||
          memcmp(tc[i], o.tc[i], sizeof(float[6])) ||
          memcmp(realn[i], o.realn[i], sizeof(float[3])))
        return false;
    return triangles == o.triangles;
  }
  void load(const std::string &path, int number) {
    material = kroLoadMeshxFromASE(&op, &nc, &realn, &tc, number, path.c_str(), name, &triangles);
  }
  void next(FILE *stream) {
    material = kroLoadMeshFromASEfd(&op, &nc, &realn, &tc, stream, name, &triangles);
  }
};

template <class F> std::string printed(F f) {
  testing::internal::CaptureStdout();
  f();
  return testing::internal::GetCapturedStdout();
}

void expectRow(const float *row, std::initializer_list<float> values) {
  int k = 0;
  for (float v : values)
    EXPECT_FLOAT_EQ(row[k++], v) << "element " << k - 1;
}

// Diffuse colour, opacity, flag and texture names of one record.
std::string describe(const kroMaterial &m) {
  char text[128];
  snprintf(text, sizeof text, "%g %g %g %g %d %u %u %u %u %u", m.diffuse[0], m.diffuse[1],
           m.diffuse[2], m.opacity, (int)m.flag, m.texture[0], m.texture[1], m.texture[2],
           m.texture[3], m.texture[4]);
  return text;
}

TEST_F(AseTest, SelectsGeometryObjectsByNumberOrFromAStream) {
  Mesh first, second;
  first.load(kTwo, 1);
  ASSERT_EQ(first.summary(), "Sun lamp 2 1"); // the light between the objects renames the first
  expectRow(first.op[0], {-1, -1, 0, 1, -1, 0, 1.5f, 1.25f, -0.0000001f});
  EXPECT_TRUE(signbit(first.op[0][5])); // "-0.0000" keeps its sign
  expectRow(first.op[1], {1.5f, 1.25f, -0.0000001f, -1, 1, 0, -1, -1, 0});
  expectRow(first.tc[0], {0, 0, 1, 0, 1, 0.75f});
  expectRow(first.tc[1], {1, 0.75f, 0, 1, 0, 0});
  expectRow(first.realn[0], {0, 0, 1});
  expectRow(first.nc[1], {0, 0, 1, 0, 0, 1, 0, 0, 1});
  second.load(kTwo, 2);
  ASSERT_EQ(second.summary(), "Right tri 1 0"); // no *MATERIAL_REF
  expectRow(second.op[0], {2, 0, 0.25f, 3, 0, 0.25f, 2.5f, 123.456789f, 0.25f});
  expectRow(second.tc[0], {0, 0, 0, 0, 0, 0}); // rows the file leaves unwritten read 0
  for (int number : {0, 3, -1}) {
    Mesh none;
    none.load(kTwo, number);
    EXPECT_TRUE(none.untouched()) << number;
  }
  kroMesh *meshes = nullptr;
  ASSERT_EQ(kroLoadMeshArrayFromASE(&meshes, kTwo.c_str()), 2);
  EXPECT_EQ(std::string(meshes[0].node_name) + meshes[1].node_name, "Sun lampRight tri");
  EXPECT_EQ(meshes[0].triangles * 10 + meshes[0].material_ref, 21);
  EXPECT_EQ(memcmp(meshes[1].op[0], second.op[0], sizeof(float[9])), 0);
  kroFreeMeshArray(&meshes, 2);
  EXPECT_EQ(meshes, nullptr);
  // Three calls on one stream: the first object, the second, nothing.
  FILE *stream = fopen(kTwo.c_str(), "r");
  ASSERT_TRUE(stream);
  Mesh a, b, c, none;
  a.next(stream), b.next(stream), c.next(stream);
  fclose(stream);
  EXPECT_EQ(a.summary() + b.summary(), first.summary() + second.summary());
  EXPECT_TRUE(a.sameRows(first) && b.sameRows(second) && c.untouched());
  EXPECT_EQ(kroTestHookCalls, 0);
  EXPECT_EQ(printed([&] { none.next(nullptr); }), "Error in reading mesh from file descriptor\n");
  EXPECT_TRUE(none.untouched());
}

TEST_F(AseTest, ReadsExporterFiles) {
  Mesh sphere, cube, camera;
  sphere.load(kShared + "dr_testsphere.ase", 1);
  ASSERT_EQ(sphere.summary(), "Sphere 960 0");
  // A sphere about its origin: every corner at one radius, unit normals.
  auto length = [](const float *v) { return sqrtf(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); };
  float radius = length(sphere.op[0]);
  ASSERT_GT(radius, 0.0f);
  for (int i = 0; i < sphere.triangles; i++)
    for (int k = 0; k < 9; k += 3) {
      ASSERT_NEAR(length(&sphere.op[i][k]), radius, radius * 1e-3f) << i;
      ASSERT_NEAR(length(&sphere.nc[i][k]), 1.0f, 2e-3f) << i;
    }
  cube.load(kShared + "RotatingCube.ASE", 1);
  camera.load(kShared + "CameraRollAnim.ase", 1);
  EXPECT_EQ(cube.summary(), "Box01 12 0");
  EXPECT_EQ(camera.summary(), "Camera01 12 0"); // the camera after the box renames it
  EXPECT_EQ(kroObjectsInASE((kShared + "dr_testsphere.ase").c_str()), 1);
  EXPECT_EQ(kroTestHookCalls, 0);
}

TEST_F(AseTest, CountsObjectsAndLights) {
  int objects = -1, lights = -1;
  kroObjectsAndLightsInASE(kTwo.c_str(), &objects, &lights);
  EXPECT_EQ(objects * 10 + lights, 21);
  EXPECT_EQ(kroObjectsInASE(kTwo.c_str()) * 10 + kroLightsInASE(kTwo.c_str()), 21);
  EXPECT_EQ(kroTestHookCalls, 0);

  // A missing file: each reader names itself, counts are 0, nothing is filled.
  const char *missing = "no/such.ase";
  Mesh none;
  kroMaterial *materials = nullptr;
  std::string out = printed([&] {
    EXPECT_EQ(kroObjectsInASE(missing) + kroLightsInASE(missing), 0);
    kroObjectsAndLightsInASE(missing, &objects, &lights);
    none.load(missing, 1);
    EXPECT_EQ(kroLoadMaterialsFromASE(&materials, missing), 0);
  });
  std::string err = "Error during reading from file no/such.ase in function kro";
  EXPECT_EQ(out, err + "ObjectsInASE(..)\n" + err + "LightsInASE(..)\n" + err +
                     "ObjectsAndLightsInASE(..)\nError in reading mesh from no/such.ase\n" +
                     "Error in reading material from no/such.ase\n");
  EXPECT_EQ(objects + lights, 0);
  EXPECT_TRUE(none.untouched());
  EXPECT_EQ(kroTestHookCalls, 5);
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
  char text[] = "a b\"rest|tail", buffer[32];
  FILE *stream = fmemopen(text, strlen(text), "r");
  for (auto [stop, want] : {std::pair{'"', "a b"}, {'|', "rest"}, {'"', "tail"}}) {
    kroReadStringToChar(stream, buffer, stop);
    EXPECT_STREQ(buffer, want);
  }
  fclose(stream);
}

// Each refused file prints one line naming the file and the reason, calls the
// hook once and leaves nothing behind; the stream reader gives the same reason.
TEST_F(AseTest, RefusedFilesLeaveNothingBehind) {
  const std::pair<const char *, const char *> cases[] = {
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
      {"bad_material_before_count", "*MATERIAL comes before *MATERIAL_COUNT"},
      {"bad_material_number_at_count", "material 2 of *MATERIAL is outside 0..1"},
      {"bad_material_count_twice", "*MATERIAL_COUNT is given twice"},
      {"bad_material_count_huge", "*MATERIAL_COUNT 1000000000 is outside 0.."},
      {"bad_material_cut", "the file ends where *MATERIAL_DIFFUSE needs a number"},
  };
  for (auto [file, reason] : cases) {
    SCOPED_TRACE(file);
    std::string path = kData + file + ".ase";
    auto expectRefusal = [&](const std::string &message, const std::string &from) {
      EXPECT_EQ(message.rfind("Error in reading " + from + ": " + reason, 0), 0u) << message;
      EXPECT_EQ(message.find('\n'), message.size() - 1); // one line, ended
    };
    int calls = kroTestHookCalls;
    if (!strncmp(file, "bad_material", 12)) {
      kroMaterial sentinel, *materials = &sentinel;
      expectRefusal(printed([&] { kroLoadMaterialsFromASE(&materials, path.c_str()); }),
                    "material from " + path);
      EXPECT_EQ(materials, &sentinel);
      EXPECT_EQ(kroTestHookCalls, calls + 1);
      continue;
    }
    Mesh mesh, next;
    expectRefusal(printed([&] { mesh.load(path, 1); }), "mesh from " + path);
    EXPECT_TRUE(mesh.untouched());
    FILE *stream = fopen(path.c_str(), "r");
    ASSERT_TRUE(stream);
    expectRefusal(printed([&] { next.next(stream); }), "mesh from file descriptor");
    fclose(stream);
    EXPECT_TRUE(next.empty());
    EXPECT_EQ(kroTestHookCalls, calls + 2);
  }
  kroMesh *meshes = nullptr; // the array reader stops at the first refused object
  printed([&] { kroLoadMeshArrayFromASE(&meshes, (kData + "bad_numfaces_twice.ase").c_str()); });
  EXPECT_EQ(meshes, nullptr);
}

// Cut a good file at every byte: each object read from the stream is either
// exactly the full object or refused with an empty result.
TEST_F(AseTest, FileCutAnywhereIsCompleteOrEmpty) {
  std::string text = kroTestReadFile(kTwo);
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
      fgetc(stream); // an empty stream
    for (const Mesh &want : full) {
      int calls = kroTestHookCalls;
      Mesh mesh;
      printed([&] { mesh.next(stream); });
      refused += kroTestHookCalls != calls;
      if (kroTestHookCalls != calls || mesh.triangles == 0) {
        ASSERT_TRUE(mesh.empty()) << length;
        break; // a refusal leaves the stream anywhere
      }
      ASSERT_TRUE(mesh.sameRows(want)) << length;
      if (&want == &full[1] || length >= light_end) {
        ASSERT_STREQ(mesh.name, want.name) << length;
      }
    }
    fclose(stream);
  }
  EXPECT_GT(refused, (int)text.size() / 2);
}

// A few bytes in memory announcing millions of faces are refused before any
// allocation: the stream's size bounds its counts (found by fuzzing).
TEST_F(AseTest, StreamCountsAreBoundedByTheStreamSize) {
  std::string bytes = kroTestReadFile(kData + "fuzz-stream-huge-count.ase");
  FILE *stream = fmemopen(&bytes[0], bytes.size(), "r");
  ASSERT_NE(stream, nullptr);
  Mesh mesh;
  std::string message = printed([&] { mesh.next(stream); });
  fclose(stream);
  EXPECT_TRUE(mesh.untouched());
  EXPECT_EQ(message.rfind("Error in reading mesh from file descriptor: ", 0), 0u) << message;
  EXPECT_NE(message.find("*MESH_NUMFACES"), std::string::npos);
  EXPECT_EQ(kroTestHookCalls, 1);
}

// Every failing allocation is reported once and leaves nothing; n counts on
// until the load needs fewer allocations than n.
TEST_F(AseTest, FailedAllocationsLeaveEmptyArrays) {
  long n = 0;
  std::string out = printed([&] {
    for (bool failed = true; failed && ++n < 100;) {
      int calls = kroTestHookCalls;
      kroFailAllocationAfter(n);
      Mesh mesh;
      mesh.load(kTwo, 1);
      kroFailAllocationAfter(0);
      failed = kroTestHookCalls != calls;
      EXPECT_TRUE(failed ? kroTestHookCalls == calls + 1 && mesh.untouched() : mesh.triangles == 2)
          << n;
    }
  });
  EXPECT_LT(n, 100);
  EXPECT_NE(out.find("Error during allocating memory in kroLoadMeshxFromASE(..)\n"),
            std::string::npos);
  EXPECT_NE(out.find("Error during allocating memory in kroIncreaseCoords(..)\n"),
            std::string::npos);
}

TEST_F(AseTest, MaterialsCollapseIntoTheFirstRecord) {
  ASSERT_TRUE(kroTestOpenGL());
  kroMaterial *materials = nullptr;
  ASSERT_EQ(kroLoadMaterialsFromASE(&materials, kTwo.c_str()), 2);
  // Both entries' values land in record 0; the *MAP section ends the reading.
  EXPECT_EQ(describe(materials[0]), "0.1 0.2 0.9 0.5 0 0 0 0 0 0");
  kroFreeMaterials(&materials, 2);
  EXPECT_EQ(materials, nullptr);
  std::string path = kroTestTempPath("quarter.ase");
  kroTestWriteFile(path,
                   "*MATERIAL_LIST {\n*MATERIAL_COUNT 1\n*MATERIAL_REF 5\n*MATERIAL_COUNTS 9\n"
                   "*MATERIAL 0 {\n*MATERIAL_DIFFUSE 0.5 0.25 1.0\n"
                   "*MATERIAL_TRANSPARENCY 0.25\n*MAP_DIFFUSE {\n*BITMAPA \"C:\\a b.bmp\"\n"
                   "*MATERIAL_DIFFUSE 9 9 9\n*MATERIAL_TRANSPARENCY 1.0\n}\n}\n}\n");
  ASSERT_EQ(kroLoadMaterialsFromASE(&materials, path.c_str()), 1);
  EXPECT_EQ(describe(materials[0]), "0.5 0.25 1 0.75 0 0 0 0 0 0");
  // Destroying a record deletes its texture names; the zero names are ignored.
  glGenTextures(1, &materials[0].texture[2]);
  glBindTexture(GL_TEXTURE_2D, materials[0].texture[2]);
  glBindTexture(GL_TEXTURE_2D, 0);
  GLuint texture = materials[0].texture[2];
  ASSERT_TRUE(glIsTexture(texture));
  kroDestroyMaterial(&materials[0]);
  EXPECT_FALSE(glIsTexture(texture));
  EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
  kroFreeMaterials(&materials, 1);

  kroMaterial sentinel;
  materials = &sentinel;
  EXPECT_EQ(kroLoadMaterialsFromASE(&materials, (kShared + "CameraRollAnim.ase").c_str()), 0);
  EXPECT_EQ(materials, nullptr); // "*MATERIAL_COUNT 0": no records, nothing to free
  materials = &sentinel;
  kroTestWriteFile(path, "*GEOMOBJECT {\n*MATERIAL_REF 0\n}\n");
  EXPECT_EQ(kroLoadMaterialsFromASE(&materials, path.c_str()), 0);
  EXPECT_EQ(materials, &sentinel);
  EXPECT_EQ(kroLoadLightsFromASE(), 0);
  EXPECT_EQ(kroTestHookCalls, 0);
}

} // namespace
