// glTF reader on the files tests/data/gltf/make-gltf.py writes: one cube three ways, a node tree,
// a textured quad, and hostile files each refused with its reason.
#include "gl_context.h"

#include <math.h>
#include <string.h>

namespace {

const std::string kData = std::string(KRO_TEST_DATA) + "/gltf/";

struct GltfTest : kroTestGLFailureFixture {};

// Every row of every array, the node name and the material reference.
std::string dump(const kroMesh *meshes, int count) {
  std::string text;
  char value[32];
  for (int m = 0; m < count; m++) {
    const kroMesh &mesh = meshes[m];
    text += std::string(mesh.node_name) + " " + std::to_string(mesh.material_ref) + ":";
    const kroObject arrays[4] = {mesh.op, mesh.nc, mesh.realn, mesh.tc};
    const int widths[4] = {9, 9, 3, mesh.tc ? 6 : 0};
    for (int a = 0; a < 4; a++)
      for (int i = 0; i < mesh.triangles; i++)
        for (int k = 0; k < widths[a]; k++)
          text += (snprintf(value, sizeof value, " %g", arrays[a][i][k] + 0.0f), value);
    text += "\n";
  }
  return text;
}

// The three forms give the same rows: the node's scale (1, 2, 1), quarter turn about y and
// translation applied, the file's normals turned to equal the faces' (the winding kept), v
// turned upward; the material, and the default after it.
TEST_F(GltfTest, CubeAsTextEmbeddedAndBinaryGivesTheSameTrianglesAndMaterials) {
  std::string first;
  for (const char *name : {"cube.gltf", "cube-embedded.gltf", "cube.glb"}) {
    kroMesh *meshes = nullptr;
    ASSERT_EQ(kroLoadMeshArrayFromGLTF(&meshes, (kData + name).c_str()), 1) << name;
    std::string text = dump(meshes, 1);
    EXPECT_EQ(text, first.empty() ? text : first) << name;
    first = text;
    kroBounds bounds;
    EXPECT_EQ(kroMeshBounds(meshes, 1, &bounds), 36);
    EXPECT_TRUE(bounds.low[1] == 0 && bounds.high[1] == 4 && bounds.low[0] == -1);
    for (int i = 0; i < meshes[0].triangles; i++)
      for (int k = 0; k < 9; k++)
        ASSERT_NEAR(meshes[0].nc[i][k], meshes[0].realn[i][k % 3], 1e-6) << i;
    const float corners[9] = {-1, 0, -1, -1, 4, -1, 1, 4, -1}; // the +x face's first
    for (int k = 0; k < 9; k++)
      EXPECT_NEAR(meshes[0].op[0][k], corners[k], 1e-6) << k;
    EXPECT_TRUE(meshes[0].tc[0][0] == 0 && meshes[0].tc[0][1] == 1 && meshes[0].tc[0][3] == 1);
    kroMaterial *materials = nullptr;
    ASSERT_EQ(kroLoadMaterialsFromGLTF(&materials, (kData + name).c_str(), 0), 2);
    EXPECT_TRUE(!strcmp(materials[0].name, "Red") && materials[0].diffuse[1] == 0.2f &&
                materials[0].opacity == 0.5f && materials[1].diffuse[0] == 1 &&
                materials[1].opacity == 1 && !materials[1].name[0]);
    kroFreeMaterials(&materials, 2);
    kroFreeMeshArray(&meshes, 1);
    kroScene scene; // the one loading call tells the format by content and gives the same
    ASSERT_EQ(kroLoadScene(&scene, (kData + name).c_str(), 0), 1);
    EXPECT_TRUE(scene.format == KRO_SCENE_GLTF && scene.material_count == 2 &&
                dump(scene.meshes, 1) == first);
    kroFreeScene(&scene);
    kroScenePath *files = nullptr; // what a watcher follows besides the file: cube.gltf's .bin
    int count = kroSceneFiles((kData + name).c_str(), &files);
    EXPECT_EQ(count ? files[0] + std::to_string(count) : "",
              std::string(name) == "cube.gltf" ? kData + "cube.bin1" : "");
    free(files);
  }
}

// Roots in scene order, then children: Parent (turned 90 degrees about z, moved 10 along x),
// Mirror (x scaled -1: corners swapped, the face still toward +z), Child (under Parent, moved 1
// along x and scaled 2), each face and the file's normal toward +z; no material: the default.
TEST_F(GltfTest, NodeTreeFlattenedToWorldPositions) {
  kroMesh *meshes = nullptr;
  ASSERT_EQ(kroLoadMeshArrayFromGLTF(&meshes, (kData + "hierarchy.gltf").c_str()), 3);
  const char *names[3] = {"Parent", "Mirror", "Child"};
  const float want[3][9] = {
      {10, 0, 0, 10, 1, 0, 9, 0, 0}, {0, 0, 0, 0, 1, 0, -1, 0, 0}, {10, 1, 0, 10, 3, 0, 8, 1, 0}};
  for (int m = 0; m < 3; m++) {
    EXPECT_STREQ(meshes[m].node_name, names[m]);
    EXPECT_TRUE(meshes[m].triangles == 1 && meshes[m].material_ref == 0 && !meshes[m].tc);
    for (int k = 0; k < 9; k++)
      EXPECT_NEAR(meshes[m].op[0][k], want[m][k], 1e-5) << names[m] << k;
    EXPECT_NEAR(meshes[m].realn[0][2] + meshes[m].nc[0][8], 2, 1e-6) << names[m];
  }
  kroFreeMeshArray(&meshes, 3);
}

// The picture beside the file and the one inside the .glb both become the diffuse texture;
// the map's transform (kroMaterialMap's rule on v upward) lands where KHR_texture_transform's
// (offset 0.25 0.5, rotation 0.5, scale 2, on v downward) does.
TEST_F(GltfTest, TexturedQuadFromAFileBesideItOrInsideAndItsTransform) {
  for (const char *name : {"quad.gltf", "quad.glb"}) {
    kroMaterial *materials = nullptr;
    ASSERT_EQ(kroLoadMaterialsFromGLTF(&materials, (kData + name).c_str(), 1), 2) << name;
    const kroMaterialMap &map = materials[0].map[KRO_MAP_DIFFUSE];
    EXPECT_TRUE(map.state == KRO_MAP_LOADED && glIsTexture(materials[0].texture[0])) << name;
    double u = 0.3, v = 0.8, c = cos(0.5), s = sin(0.5); // glTF's coordinates
    double sg = 0.25 + 2 * (c * u + s * v), tg = 0.5 + 2 * (-s * u + c * v);
    double ue = u - 0.5, ve = 1 - v - 0.5, a = map.angle;
    EXPECT_NEAR(0.5 + map.u_offset + map.u_tiling * (ue * cos(a) - ve * sin(a)), sg, 1e-5);
    EXPECT_NEAR(0.5 + map.v_offset + map.v_tiling * (ue * sin(a) + ve * cos(a)), 1 - tg, 1e-5);
    kroFreeMaterials(&materials, 2);
  }
  kroMesh *meshes = nullptr;
  ASSERT_EQ(kroLoadMeshArrayFromGLTF(&meshes, (kData + "quad.glb").c_str()), 1);
  EXPECT_TRUE(meshes[0].triangles == 2 && meshes[0].tc[0][0] == 0 && meshes[0].tc[0][1] == 0 &&
              meshes[0].tc[0][2] == 1 && meshes[0].tc[1][5] == 1);
  kroFreeMeshArray(&meshes, 1);
}

// Each hostile file is refused by both calls with its reason (and, inside the JSON, the line of
// the object at fault), leaving nothing; so is every load whose allocation fails.
TEST_F(GltfTest, HostileFilesAndFailedAllocationsAreRefused) {
  const char *cases[][2] = {
      {"bad-index.gltf", "index 24 (corner 5) past the 24 vertices at line 40"},
      {"bad-accessor.gltf", "POSITION accessor 0: 25 elements run past its buffer view at line 53"},
      {"bad-stride.gltf", "buffer view 0: stride 11 is less than the 12-byte element at line 89"},
      {"bad-cycle.gltf", "node 1 lies on a cycle at line 19"},
      {"bad-parents.gltf", "node 2 has two parents (0 and 1) at line 21"},
      {"bad-json.gltf", "JSON: Missing a comma or '}' after an object member. at line 119"},
      {"bad-length.glb", "GLB length 1956, but the file has 1952 bytes"},
      {"bad-json-chunk.glb", "GLB JSON chunk of 1952 bytes runs past the file's end"},
      {"bad-bin-chunk.glb", "GLB chunk of 841 bytes at byte 1104 runs past the file's end"}};
  for (auto &c : cases) {
    std::string path = kData + c[0], head = "Error in reading glTF from " + path;
    kroMesh *meshes = nullptr;
    kroTestExpectReport([&] { EXPECT_EQ(kroLoadMeshArrayFromGLTF(&meshes, path.c_str()), 0); },
                        head + " in function kroLoadMeshArrayFromGLTF(..): " + c[1] + "\n");
    EXPECT_FALSE(meshes);
  }
  kroMaterial *materials = nullptr;
  kroTestExpectReport(
      [&] {
        EXPECT_EQ(kroLoadMaterialsFromGLTF(&materials, (kData + "bad-length.glb").c_str(), 0), 0);
      },
      "Error in reading glTF from " + kData +
          "bad-length.glb in function kroLoadMaterialsFromGLTF(..): GLB length 1956, but the "
          "file has 1952 bytes\n");
  for (long n = 1, loaded = 0; !loaded; n++) {
    kroMesh *meshes = nullptr;
    kroTestHookCalls = 0;
    kroFailAllocationAfter(n);
    testing::internal::CaptureStdout();
    loaded = kroLoadMeshArrayFromGLTF(&meshes, (kData + "cube.gltf").c_str());
    std::string out = testing::internal::GetCapturedStdout();
    kroFailAllocationAfter(0);
    EXPECT_EQ(kroTestHookCalls, loaded ? 0 : 1) << n << out;
    EXPECT_EQ(!meshes, !loaded) << n;
    kroFreeMeshArray(&meshes, (int)loaded);
    ASSERT_LT(n, 200);
  }
}

} // namespace
