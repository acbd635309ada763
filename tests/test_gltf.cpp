// glTF reader on the files tests/data/gltf/make-gltf.py writes: one cube three ways, a node tree,
// a textured quad, and hostile files each refused with its reason.
#include "gl_context.h"

#include <math.h>
#include <string.h>

#include <map>

namespace {

const std::string kData = std::string(KRO_TEST_DATA) + "/gltf/";

struct GltfTest : kroTestGLFailureFixture {};
const std::string kBlender = std::string(KRO_TEST_DATA) + "/blender/";
enum { kW = 160, kH = 120 }; // the renders' size

// RGB rows, bottom first (as the engine decodes pictures), of the scene seen from make-scenes.py's
// camera (glTF (0, 0, 12) looking along -z, y up, 40 degrees high), unlit: with `ids` each mesh
// flat in red = its number + 1, else in its material's colour or picture (in white's place, as
// kroDrawMesh shows it).
std::vector<uint8_t> draw(const kroScene &scene, bool ids) {
  glClearColor(0, 0, 0, 0);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glEnable(GL_DEPTH_TEST);
  glUseProgram(0);
  glMatrixMode(GL_PROJECTION);
  const double t = tan(M_PI / 9);
  glLoadIdentity();
  glFrustum(-t * kW / kH, t * kW / kH, -t, t, 1, 100);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glTranslatef(0, 0, -12);
  for (int m = 0; m < scene.mesh_count; m++) {
    const kroMesh &mesh = scene.meshes[m];
    const kroMaterial &material = scene.materials[mesh.material_ref];
    GLuint texture = ids || !mesh.tc ? 0 : material.texture[KRO_MAP_DIFFUSE];
    glBindTexture(GL_TEXTURE_2D, texture);
    texture ? glEnable(GL_TEXTURE_2D) : glDisable(GL_TEXTURE_2D);
    kroLoadMapTransform(&material.map[KRO_MAP_DIFFUSE]);
    const float white[3] = {1, 1, 1}, id[3] = {(m + 1) / 255.0f, 0, 0};
    glColor3fv(ids ? id : texture ? white : material.diffuse);
    glBegin(GL_TRIANGLES);
    for (int c = 0; c < 3 * mesh.triangles; c++) {
      if (mesh.tc)
        glTexCoord2fv(&mesh.tc[c / 3][2 * (c % 3)]);
      glVertex3fv(&mesh.op[c / 3][3 * (c % 3)]);
    }
    glEnd();
  }
  glDisable(GL_TEXTURE_2D);
  glDisable(GL_DEPTH_TEST);
  std::vector<uint8_t> rows(kW * kH * 3);
  glReadPixels(0, 0, kW, kH, GL_RGB, GL_UNSIGNED_BYTE, rows.data());
  return rows;
}

// Each mesh against the shape (4-connected opaque pixels) of Blender's RGBA render that most of
// its pixels fall on: the centres within half a pixel, and the mean colour of each quarter about
// the centre within 8 of 255 in each channel (measured: 0.01 pixels, 4.5 where pictures shrink).
// What differed, "" when everything agrees.
std::string compare(const kroScene &scene, const uint8_t *render) {
  std::vector<uint8_t> ids = draw(scene, true), colours = draw(scene, false);
  std::vector<int> shape(kW * kH, 0), stack;
  for (int p = 0, shapes = 0; p < kW * kH; p++) {
    if (render[4 * p + 3] > 127 && !shape[p])
      stack = {p}, shape[p] = ++shapes;
    while (!stack.empty()) {
      int q = stack.back(), x = q % kW;
      stack.pop_back();
      for (int n : {x ? q - 1 : -1, x < kW - 1 ? q + 1 : -1, q - kW, q + kW})
        if (n >= 0 && n < kW * kH && render[4 * n + 3] > 127 && !shape[n])
          shape[n] = shapes, stack.push_back(n);
    }
  }
  std::string differed;
  for (int m = 0; m < scene.mesh_count; m++) {
    std::map<int, int> votes{{0, 0}};
    for (int p = 0; p < kW * kH; p++)
      votes[shape[p]] += ids[3 * p] == m + 1 && shape[p];
    int best = 0;
    for (auto [s, n] : votes)
      best = n > votes[best] ? s : best;
    struct {
      double n, x, y, quarter[4][4];
    } t[2] = {}; // ours, Blender's; quarter: n, r, g, b
    for (int pass = 0; pass < 4; pass++)
      for (int p = 0; p < kW * kH; p++) {
        auto &f = t[pass % 2];
        const uint8_t *rgb = pass % 2 ? &render[4 * p] : &colours[3 * p];
        if (pass % 2 ? !best || shape[p] != best : ids[3 * p] != m + 1)
          continue;
        double *q = f.quarter[((p % kW) * f.n > f.x) + 2 * ((p / kW) * f.n > f.y)];
        if (pass < 2)
          f.n++, f.x += p % kW, f.y += p / kW;
        else
          q[0]++, q[1] += rgb[0], q[2] += rgb[1], q[3] += rgb[2];
      }
    char line[400];
    for (int k = 0; k < 2; k++)
      if (!t[0].n || !t[1].n ||
          fabs((k ? t[0].y : t[0].x) / t[0].n - (k ? t[1].y : t[1].x) / t[1].n) > 0.5)
        differed += (snprintf(line, sizeof line, "%s: centre %.2f %.2f against %.2f %.2f\n",
                              scene.meshes[m].node_name, t[0].x / t[0].n, t[0].y / t[0].n,
                              t[1].x / t[1].n, t[1].y / t[1].n),
                     line);
    for (int q = 0; q < 4; q++)
      for (int k = 1; k < 4; k++)
        if (fabs(t[0].quarter[q][k] / t[0].quarter[q][0] -
                 t[1].quarter[q][k] / t[1].quarter[q][0]) > 8)
          differed +=
              (snprintf(line, sizeof line, "%s: quarter %d channel %d %.1f against %.1f\n",
                        scene.meshes[m].node_name, q, k, t[0].quarter[q][k] / t[0].quarter[q][0],
                        t[1].quarter[q][k] / t[1].quarter[q][0]),
               line);
  }
  return differed;
}

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
    EXPECT_TRUE(!strcmp(materials[0].name, "Red") &&
                fabsf(materials[0].diffuse[1] - 0.484529f) < 1e-6 && materials[0].opacity == 0.5f &&
                materials[1].diffuse[0] == 1 && materials[1].opacity == 1 && !materials[1].name[0]);
    kroFreeMaterials(&materials, 2);
    kroFreeMeshArray(&meshes, 1);
    kroScene scene; // the one loading call tells the format by content and gives the same
    ASSERT_EQ(kroLoadScene(&scene, (kData + name).c_str(), 0), 1);
    EXPECT_TRUE(scene.format == KRO_SCENE_GLTF && scene.material_count == 2 &&
                dump(scene.meshes, 1) == first);
    kroFreeScene(&scene);
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
      {"bad-bin-chunk.glb", "GLB chunk of 841 bytes at byte 1104 runs past the file's end"},
      {"materials.glb", "GLB length 22032, but the file has 2000 bytes"},
      {"materials.gltf", "buffer of 15700 bytes holds only 15696 at line 626"}};
  // Blender's files cut short: the .glb, and the .bin beside the .gltf.
  const std::string cut = kroTestTempFolder("cut") + "/",
                    bin = kroTestReadFile(kBlender + "materials.bin");
  kroTestWriteFile(cut + "materials.glb",
                   kroTestReadFile(kBlender + "materials.glb").substr(0, 2000));
  kroTestWriteFile(cut + "materials.gltf", kroTestReadFile(kBlender + "materials.gltf"));
  kroTestWriteFile(cut + "materials.bin", bin.substr(0, bin.size() - 4));
  for (auto &c : cases) {
    std::string path = (strncmp(c[0], "bad", 3) ? cut : kData) + c[0];
    std::string head = "Error in reading glTF from " + path;
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

// Blender's exports of tests/data/blender/make-scenes.py, each form drawn from its camera, against
// Blender's render; a picture whose v is not turned upward fails. The OBJ export's picture
// material (no Kd) shows its picture too.
TEST_F(GltfTest, BlenderExportsStandAndShowAsBlenderRendersThem) {
  kroFrameBufferObject fbo{};
  const int32_t size[2] = {kW, kH};
  ASSERT_EQ(kroCreateFrameBufferObject(&fbo, size, nullptr, 0), 0);
  kroUseFrameBufferObject(&fbo);
  for (std::string name : {"nodes", "materials", "cylinder"}) {
    int32_t side[2];
    char why[KRO_PICTURE_REASON_CHARS];
    uint8_t *render = kroDecodePicture((kBlender + name + "-blender.png").c_str(), side, why, 256);
    ASSERT_TRUE(render && side[0] == kW && side[1] == kH) << why;
    kroScene glb, scene;
    for (std::string form : {".glb", ".gltf", "-embedded.gltf", ".obj"}) {
      ASSERT_GT(kroLoadScene(form == ".glb" ? &glb : &scene, (kBlender + name + form).c_str(), 1),
                0);
      const kroScene &it = form == ".glb" ? glb : scene;
      EXPECT_EQ(form != ".obj" || name == "cylinder" ? compare(it, render) : "", "")
          << name << form;
    }
    // The OBJ export has the .glb's triangles: both write Blender's (x, y, z) as (x, z, -y). Per
    // mesh the same count, each corner at one of the other's within 1e-5, the same vector area
    // and first moment (OBJ caps are fans, Blender cuts them otherwise for glTF).
    ASSERT_EQ(scene.mesh_count, glb.mesh_count);
    for (int m = 0; m < glb.mesh_count; m++) {
      const kroMesh *pair[2] = {&glb.meshes[m], scene.meshes};
      for (int i = 0; i < scene.mesh_count; i++)
        pair[1] =
            strcmp(scene.meshes[i].node_name, glb.meshes[m].node_name) ? pair[1] : &scene.meshes[i];
      ASSERT_EQ(pair[1]->triangles, pair[0]->triangles) << pair[0]->node_name;
      double sums[2][12] = {};
      for (int side = 0; side < 2; side++)
        for (int c = 0; c < 3 * pair[side]->triangles; c++) {
          const float *v = pair[side]->op[c / 3], *at = v + 3 * (c % 3);
          double near = 1;
          for (int d = 0; d < 9 * pair[!side]->triangles; d += 3)
            near = std::min(near,
                            (double)std::max({fabsf(at[0] - pair[!side]->op[d / 9][d % 9]),
                                              fabsf(at[1] - pair[!side]->op[d / 9][d % 9 + 1]),
                                              fabsf(at[2] - pair[!side]->op[d / 9][d % 9 + 2])}));
          ASSERT_LT(near, 1e-5) << pair[0]->node_name << " corner " << c;
          if (c % 3)
            continue;
          double e[2][3], area[3];
          for (int k = 0; k < 6; k++)
            e[k / 3][k % 3] = v[3 + 3 * (k / 3) + k % 3] - v[k % 3];
          for (int k = 0; k < 3; k++)
            area[k] = e[0][(k + 1) % 3] * e[1][(k + 2) % 3] - e[0][(k + 2) % 3] * e[1][(k + 1) % 3];
          for (int k = 0; k < 12; k++)
            sums[side][k] +=
                k < 3 ? area[k] : area[k / 3 - 1] * (v[k % 3] + v[3 + k % 3] + v[6 + k % 3]);
        }
      for (int k = 0; k < 12; k++)
        EXPECT_NEAR(sums[0][k], sums[1][k], 1e-4) << pair[0]->node_name << k;
    }
    // A picture whose v is not turned upward shows in the wrong place.
    for (int m = 0; m < glb.mesh_count; m++)
      for (int i = 1; glb.meshes[m].tc && i < 6 * glb.meshes[m].triangles; i += 2)
        glb.meshes[m].tc[i / 6][i % 6] = 1 - glb.meshes[m].tc[i / 6][i % 6];
    EXPECT_TRUE(name == "nodes" || compare(glb, render) != "") << name;
    kroFreeScene(&glb);
    kroFreeScene(&scene);
    free(render);
  }
  // map_Kd is relative to the library's folder: an OBJ elsewhere naming Blender's library by its
  // path finds pictures/checker.png beside the library; no Kd reads white.
  const std::string obj = kroTestTempPath("elsewhere.obj"),
                    text = kroTestReadFile(kBlender + "cylinder.obj");
  kroTestWriteFile(obj, "mtllib " + kBlender + "cylinder.mtl" + text.substr(text.find("\no ")));
  kroScene scene;
  ASSERT_EQ(kroLoadScene(&scene, obj.c_str(), 1), 1);
  const kroMaterial &label = scene.materials[0];
  EXPECT_TRUE(label.map[KRO_MAP_DIFFUSE].state == KRO_MAP_LOADED &&
              label.diffuse[0] + label.diffuse[2] == 2);
  kroFreeScene(&scene);
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
  glViewport(0, 0, 64, 64);
  kroDestroyFrameBufferObject(&fbo, 3);
}

} // namespace
