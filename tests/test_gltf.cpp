// glTF reader on the files tests/data/gltf/make-gltf.py writes (one cube three ways, a node tree,
// hostile files each refused with its reason) and on Blender's exports, against its renders.
#include "gl_context.h"

#include <math.h>
#include <string.h>

#include <algorithm>
#include <set>

namespace {

const std::string kData = std::string(KRO_TEST_DATA) + "/gltf/";

struct GltfTest : kroTestGLFailureFixture {};
const std::string kBlender = std::string(KRO_TEST_DATA) + "/blender/";
enum { kW = 160, kH = 120 }; // the renders' size

enum Drawing { kIds, kUnlit, kLit };

// RGB rows, bottom first (as the engine decodes pictures), of the scene seen from make-scenes.py's
// camera (glTF (0, 0, 12) looking along -z, y up, 40 degrees high): kIds each mesh flat in red =
// its number + 1 (rows only), else as kroDrawMeshUnlit or kroDrawMesh draws it.
std::vector<uint8_t> draw(const kroScene &scene, Drawing how, float x_scale = 1) {
  glClearColor(0, 0, 0, 0);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glEnable(GL_DEPTH_TEST);
  glUseProgramObjectARB(0);
  glMatrixMode(GL_PROJECTION);
  const double t = tan(M_PI / 9);
  glLoadIdentity();
  glFrustum(-t * kW / kH, t * kW / kH, -t, t, 1, 100);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glTranslatef(0, 0, -12);
  glScalef(x_scale, 1, 1);
  for (int m = 0; m < scene.mesh_count; m++) {
    const float id[3] = {(m + 1) / 255.0f, 0, 0};
    if (how == kIds)
      kroDrawColorObject(id, scene.meshes[m].op, scene.meshes[m].triangles);
    else
      (how == kLit ? kroDrawMesh : kroDrawMeshUnlit)(&scene.meshes[m], scene.materials,
                                                     scene.material_count);
  }
  glDisable(GL_DEPTH_TEST);
  std::vector<uint8_t> rows(kW * kH * 3);
  glReadPixels(0, 0, kW, kH, GL_RGB, GL_UNSIGNED_BYTE, rows.data());
  return rows;
}

// Each mesh against Blender's RGBA render, its opaque pixels within 2 of the box our drawing of
// the mesh fills: the centres within half a pixel, and where both stand, at most one pixel in 100
// off by more than 24 of 255 in a channel (measured: 0.01 pixels; 5 of 3309 pixels where a
// picture shrinks, none elsewhere). What differed, "" when everything agrees.
std::string compare(const kroScene &scene, const uint8_t *render) {
  std::vector<uint8_t> ids = draw(scene, kIds), colours = draw(scene, kUnlit);
  std::string differed;
  for (int m = 0; m < scene.mesh_count; m++) {
    int box[4] = {kW, kH, 0, 0}, both = 0, off = 0; // low x, y, high x, y
    for (int p = 0; p < kW * kH; p++)
      for (int k = 0; ids[3 * p] == m + 1 && k < 4; k++)
        box[k] = k < 2 ? std::min(box[k], k ? p / kW : p % kW)
                       : std::max(box[k], k % 2 ? p / kW : p % kW);
    double n[2] = {}, x[2] = {}, y[2] = {}; // ours, Blender's
    for (int p = 0; p < kW * kH; p++) {
      bool in[2] = {ids[3 * p] == m + 1, render[4 * p + 3] > 127 && p % kW >= box[0] - 2 &&
                                             p % kW <= box[2] + 2 && p / kW >= box[1] - 2 &&
                                             p / kW <= box[3] + 2};
      for (int s = 0; s < 2; s++)
        n[s] += in[s], x[s] += in[s] * (p % kW), y[s] += in[s] * (p / kW);
      const uint8_t *a = &colours[3 * p], *b = &render[4 * p];
      if (in[0] && in[1])
        both++, off += std::max({abs(a[0] - b[0]), abs(a[1] - b[1]), abs(a[2] - b[2])}) > 24;
    }
    char line[400];
    if (!n[0] || !n[1] || fabs(x[0] / n[0] - x[1] / n[1]) > 0.5 ||
        fabs(y[0] / n[0] - y[1] / n[1]) > 0.5 || off * 100 > both)
      differed += (snprintf(line, sizeof line,
                            "%s: centre %.2f %.2f against %.2f %.2f, %d of %d pixels off\n",
                            scene.meshes[m].node_name, x[0] / n[0], y[0] / n[0], x[1] / n[1],
                            y[1] / n[1], off, both),
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

// The four forms (one interleaved) give the same rows: the node's scale (1, 2, 1), quarter turn
// about y and translation applied, the file's normals turned to equal the faces' (the winding
// kept), v turned upward; the material, and the default after it.
TEST_F(GltfTest, CubeAsTextEmbeddedAndBinaryGivesTheSameTrianglesAndMaterials) {
  std::string first;
  for (const char *name :
       {"cube.gltf", "cube-embedded.gltf", "cube.glb", "cube-interleaved.gltf"}) {
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
                dump(scene.meshes, 1) == first && scene.node_count == 1 && !scene.cameras &&
                !scene.lights && !scene.animations); // the lists the file has not: null
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
  // The cube at rest (no transform, 32-bit indices, normals of length 2) and moved along z: the
  // file's indices kept as they stand, the same rows but z, each normal unit and its face's, v
  // upward.
  kroScene indexed;
  ASSERT_EQ(kroLoadSceneIndexed(&indexed, (kData + "rest.gltf").c_str(), 0), 2);
  for (int m = 0; m < 2; m++)
    for (int i = 0; i < 36; i++)
      ASSERT_EQ(indexed.meshes[m].index[i], i / 6 * 4 + "012023"[i % 6] - '0') << i;
  kroFreeScene(&indexed);
  ASSERT_EQ(kroLoadMeshArrayFromGLTF(&meshes, (kData + "rest.gltf").c_str()), 2);
  ASSERT_TRUE(meshes[0].triangles == 12 && meshes[1].triangles == 12);
  for (int i = 0; i < 12; i++)
    for (int k = 0; k < 9; k++) {
      ASSERT_EQ(meshes[0].op[i][k] + (k % 3 == 2 ? 5 : 0), meshes[1].op[i][k]) << i;
      ASSERT_TRUE(meshes[0].nc[i][k] == meshes[1].nc[i][k] &&
                  meshes[0].nc[i][k] == meshes[0].realn[i][k % 3] &&
                  meshes[0].tc[i][k % 6] == meshes[1].tc[i][k % 6])
          << i << " " << k;
    }
  EXPECT_TRUE(meshes[0].tc[0][0] == 0 && meshes[0].tc[0][1] == 1 && meshes[0].tc[0][5] == 0);
  kroFreeMeshArray(&meshes, 2);
}

// COLOR_0 as display values (a linear 0.2 shows as 0.4845, as a base colour factor does), alpha
// dropped, alike in the rows and the indexed form (a primitive without normals too); a mesh
// without it has none. Blender's corner layer on "Painted" comes through: each corner 0 or 1 in
// each channel, all eight mixtures.
TEST_F(GltfTest, VertexColoursComeAsDisplayValuesInEitherForm) {
  auto display = [](double x) {
    return x <= 0.0031308 ? 12.92 * x : 1.055 * pow(x, 1 / 2.4) - 0.055;
  };
  const double want[2][9] = {{1, 0, 0, 0, display(0.2), 0, 0, 0, display(188 / 255.0)},
                             {display(0.2), display(0.5), 1, 1, display(0.2), display(0.5),
                              display(0.5), 0, display(0.2)}}; // the NaN reads as 0
  kroScene rows, indexed;
  ASSERT_EQ(kroLoadScene(&rows, (kData + "colours.gltf").c_str(), 0), 2);
  ASSERT_EQ(kroLoadSceneIndexed(&indexed, (kData + "colours.gltf").c_str(), 0), 2);
  for (int m = 0; m < 2; m++) {
    const kroMesh &a = rows.meshes[m], &b = indexed.meshes[m];
    ASSERT_TRUE(a.colors && b.color && b.vertices == 3 && a.triangles == 1) << m;
    for (int i = 0; i < 9; i++) {
      EXPECT_NEAR(a.colors[0][i], want[m][i], 1e-6) << m << " " << i;
      EXPECT_EQ(b.color[3 * b.index[i / 3] + i % 3], a.colors[0][i]) << m << " " << i;
    }
  }
  kroFreeScene(&rows);
  kroFreeScene(&indexed);
  ASSERT_GT(kroLoadScene(&rows, (kBlender + "materials.glb").c_str(), 0), 0);
  std::set<int> mixtures;
  for (int m = 0; m < rows.mesh_count; m++) {
    const kroMesh &mesh = rows.meshes[m];
    EXPECT_EQ(mesh.colors != nullptr, !strcmp(mesh.node_name, "Painted")) << mesh.node_name;
    for (int i = 0; mesh.colors && i < 9 * mesh.triangles; i += 3) {
      const float *c = &mesh.colors[i / 9][i % 9];
      EXPECT_TRUE((c[0] == 0 || c[0] == 1) && (c[1] == 0 || c[1] == 1) && (c[2] == 0 || c[2] == 1));
      mixtures.insert((int)c[0] + 2 * (int)c[1] + 4 * (int)c[2]);
    }
  }
  EXPECT_EQ(mixtures.size(), 8u);
  kroFreeScene(&rows);
}

// A point through a 4 x 4 column-major matrix, divided by its w.
std::vector<double> transformed(const float *m, double x, double y, double z) {
  std::vector<double> out(4);
  for (int r = 0; r < 4; r++)
    out[r] = m[r] * x + m[4 + r] * y + m[8 + r] * z + m[12 + r];
  return {out[0] / out[3], out[1] / out[3], out[2] / out[3]};
}

// |cos| of the angle between a sampled rotation and `degrees` about y: 1 when they are one
// rotation (q and -q are).
double sameTurn(const float *q, double degrees) {
  double h = degrees * M_PI / 360;
  return fabs(q[1] * sin(h) + q[3] * cos(h)) /
         sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
}

// animated.gltf: the node table, cameras and lights as written; the animation sampled against
// closed forms: STEP holds each key until the next; the LINEAR rotation halfway from 0 to 90
// degrees about y is 45, and from 90 to 180 (written with its sign flipped) 135, not the long
// way; the CUBICSPLINE interval from 1 s to 3 s is the cubic with the keys' values and slopes:
// x = 2 (3 s^2 - 2 s^3) with s = u / 2, y = u (u - 2)^2, z = u^2 - u^3 / 2 (u = t - 1).
// Outside the keys: the first and the last values. The camera, under Rig (moved 10 along x,
// turned 90 degrees about y), looks down world -x.
TEST_F(GltfTest, NodesCamerasLightsAndAnimationsSampledAtAnyTime) {
  kroScene scene;
  std::string path = kData + "animated.gltf";
  EXPECT_EQ(kroTestCaptured([&] { kroLoadScene(&scene, path.c_str(), 0); }),
            "Warning: " + path + ", animation 0: 1 channel of morph target weights passed over\n");
  ASSERT_TRUE(scene.node_count == 6 && scene.camera_count == 2 && scene.light_count == 3 &&
              scene.animation_count == 1 && scene.mesh_count == 1);
  kroScene alone{}; // the node reader alone: the same lists, no meshes
  kroTestCaptured([&] { EXPECT_EQ(kroLoadNodesFromGLTF(&alone, path.c_str()), 6); });
  EXPECT_TRUE(alone.camera_count == 2 && alone.light_count == 3 && alone.animation_count == 1 &&
              !alone.meshes && !strcmp(alone.nodes[5].name, "Spot"));
  kroFreeScene(&alone);
  const int want[6][5] = {{-1, -1, -1, -1, 0}, {0, -1, 0, -1, 1}, {0, 0, -1, -1, 1},
                          {-1, -1, -1, 0, 0},  {-1, -1, 0, 1, 0}, {-1, -1, 1, 2, 0}};
  for (int i = 0; i < 6; i++) {
    const kroSceneNode &n = scene.nodes[i];
    const int got[5] = {n.parent, n.mesh, n.camera, n.light, n.animated};
    EXPECT_EQ(std::vector<int>(got, got + 5), std::vector<int>(want[i], want[i] + 5)) << i;
  }
  EXPECT_TRUE(!strcmp(scene.nodes[5].name, "Spot") && scene.nodes[1].world[12] == 15 &&
              scene.nodes[1].world[13] == 1 && fabs(scene.nodes[1].world[14]) < 1e-6);
  const kroSceneCamera &lens = scene.cameras[0], &plan = scene.cameras[1];
  EXPECT_TRUE(!lens.orthographic && lens.yfov == 0.8f && lens.aspect == 1.5f && lens.zfar == 0 &&
              lens.node == 1 && plan.orthographic && plan.node == 5);
  const kroSceneLight *l = scene.lights;
  EXPECT_TRUE(l[0].kind == KRO_LIGHT_DIRECTIONAL && l[0].color[1] == 0.9f && l[0].intensity == 3 &&
              l[0].node == 3 && !strcmp(l[0].name, "SunLight"));
  EXPECT_TRUE(l[1].kind == KRO_LIGHT_POINT && l[1].color[2] == 1 && l[1].range == 10 &&
              l[1].intensity == 100 && l[1].node == 4);
  EXPECT_TRUE(l[2].kind == KRO_LIGHT_SPOT && l[2].inner_cone == 0.2f && l[2].outer_cone == 0.6f &&
              l[2].range == 0 && l[2].node == 5);
  const kroAnimation &fly = scene.animations[0];
  EXPECT_TRUE(!strcmp(fly.name, "Fly") && fly.channel_count == 3 && fly.start == 0 && fly.end == 3);
  kroNodePose poses[6];
  struct Key {
    double t, camera_y, turn, x, y, z;
  } keys[] = {{-1, 1, 0, 0, 0, 0},
              {0.5, 1, 45, 0, 0, 0},
              {0.999, 1, 89.91, 0, 0, 0},
              {1, 2, 90, 0, 0, 0},
              {1.5, 2, 135, 0.3125, 1.125, 0.1875},
              {2, 3, 180, 1, 1, 0.5},
              {9, 3, 180, 2, 0, 0}};
  for (const Key &k : keys) {
    EXPECT_EQ(kroSampleAnimation(&scene, 0, k.t, poses), 3);
    EXPECT_EQ(poses[1].translation[1], k.camera_y) << k.t;
    EXPECT_NEAR(sameTurn(poses[2].rotation, k.turn), 1, 1e-6) << k.t;
    const double cubic[3] = {k.x, k.y, k.z};
    for (int a = 0; a < 3; a++)
      EXPECT_NEAR(poses[2].translation[a], cubic[a], 1e-6) << k.t << " " << a;
  }
  float m[16], view[16];
  ASSERT_TRUE(kroSceneNodeMatrix(&scene, 0, 1, 1.5, m) &&
              kroSceneViewMatrix(&scene, 0, 1, 1.5, view));
  std::vector<double> at = transformed(m, 0, 0, 0), ahead = transformed(view, 14, 2, 0);
  EXPECT_TRUE(fabs(at[0] - 15) + fabs(at[1] - 2) + fabs(at[2]) < 1e-5);
  EXPECT_TRUE(fabs(ahead[0]) + fabs(ahead[1]) + fabs(ahead[2] + 1) < 1e-5);
  // Projections: the perspective's top and right edges at any depth, its near plane at -1; the
  // orthographic box's corners.
  kroCameraProjection(&lens, 3, m);
  double d = 7, edge = tan(0.4) * d;
  at = transformed(m, 1.5 * edge, edge, -d);
  EXPECT_TRUE(fabs(at[0] - 1) + fabs(at[1] - 1) + fabs(transformed(m, 0, 0, -0.1)[2] + 1) < 1e-5);
  kroCameraProjection(&plan, 3, m);
  at = transformed(m, 4, -2, -50);
  EXPECT_TRUE(fabs(at[0] - 1) + fabs(at[1] + 1) + fabs(at[2] - 1) < 1e-5);
  // A pose scales before it turns: x stretched 2, turned a quarter about z, moved 1 along z.
  const kroNodePose stretched = {{0, 0, 1}, {0, 0, (float)sqrt(0.5), (float)sqrt(0.5)}, {2, 3, 1}};
  kroPoseMatrix(&stretched, m);
  at = transformed(m, 1, 0, 0);
  EXPECT_TRUE(fabs(at[0]) + fabs(at[1] - 2) + fabs(at[2] - 1) < 1e-5);
  kroTestExpectReport([&] { EXPECT_FALSE(kroSceneNodeMatrix(&scene, 0, 6, 0, m)); },
                      "Error in kroSceneNodeMatrix(..): node 6 of 6\n");
  // The camera's steps made LINEAR, halfway between its keys; its rig scaled flat cannot be
  // looked through.
  std::string text = kroTestReadFile(path), edited = kroTestTempPath("linear.gltf");
  text.replace(text.find("\"STEP\""), 6, "\"LINEAR\"");
  text.replace(text.find("\"name\": \"Rig\","), 14, "\"name\": \"Rig\", \"scale\": [1, 0, 1],");
  kroTestWriteFile(edited, text);
  kroScene linear;
  kroTestCaptured([&] { kroLoadScene(&linear, edited.c_str(), 0); });
  EXPECT_EQ(kroSampleAnimation(&linear, 0, 0.5, poses), 3);
  EXPECT_EQ(poses[1].translation[1], 1.5f);
  EXPECT_EQ(kroSampleAnimation(&linear, 0, 1.75, poses), 3);
  EXPECT_EQ(poses[1].translation[1], 2.75f);
  kroTestExpectReport(
      [&] { EXPECT_FALSE(kroSceneViewMatrix(&linear, 0, 1, 0.5, view)); },
      "Error in kroSceneViewMatrix(..): node 1's world matrix cannot be inverted\n");
  kroFreeScene(&linear);
  kroTestExpectReport([&] { EXPECT_EQ(kroSampleAnimation(&scene, 1, 0, poses), 0); },
                      "Error in kroSampleAnimation(..): animation 1 of 1\n");
  kroFreeScene(&scene);
}

// Each hostile file is refused by both calls with its reason (and, inside the JSON, the line of
// the object at fault), leaving nothing; so is every load whose allocation fails.
TEST_F(GltfTest, HostileFilesAndFailedAllocationsAreRefused) {
  const char *cases[][2] = {
      {"bad-index.gltf", "index 24 (corner 5) past the 24 vertices at line 40"},
      {"bad-last-index.gltf", "index 30 (corner 35) past the 24 vertices at line 40"},
      {"bad-far-index.gltf", "index 60000 (corner 9) past the 24 vertices at line 40"},
      {"bad-accessor.gltf", "POSITION accessor 0: 25 elements run past its buffer view at line 53"},
      {"bad-colour.gltf", "COLOR_0 of integers that are not normalized at line 28"},
      {"bad-colour-count.gltf", "attributes of unequal counts at line 28"},
      {"bad-texcoord.gltf", "attributes of unequal counts at line 40"},
      {"bad-stride.gltf", "buffer view 0: stride 11 is less than the 12-byte element at line 89"},
      {"bad-cycle.gltf", "node 1 lies on a cycle at line 19"},
      {"bad-parents.gltf", "node 2 has two parents (0 and 1) at line 21"},
      {"bad-json.gltf", "JSON: Missing a comma or '}' after an object member. at line 119"},
      {"bad-length.glb", "GLB length 1956, but the file has 1952 bytes"},
      {"bad-json-chunk.glb", "GLB JSON chunk of 1952 bytes runs past the file's end"},
      {"bad-bin-chunk.glb", "GLB chunk of 841 bytes at byte 1104 runs past the file's end"},
      {"bad-anim-times.gltf", "sampler 0: key time 2 not after the one before at line 290"},
      {"bad-anim-output.gltf", "sampler 1: 2 output values for 3 keys at line 295"},
      {"bad-anim-node.gltf", "channel 1: node 6 of 6 at line 267"},
      {"bad-anim-sampler.gltf", "channel 2: sampler 7 of 4 at line 274"},
      {"bad-anim-cubic.gltf",
       "sampler 2: 2 output values for 2 keys (CUBICSPLINE needs 3 a key) at line 299"},
      {"bad-anim-spot.gltf", "spot cones not 0 <= inner < outer <= pi / 2 at line 248"},
      {"materials.glb", "GLB length 22032, but the file has 2000 bytes"},
      {"materials.gltf", "buffer of 15700 bytes holds only 15696 at line 626"}};
  // Blender's files cut short: the .glb, and the .bin beside the .gltf.
  const std::string cut = kroTestTempFolder("cut") + "/",
                    bin = kroTestReadFile(kBlender + "materials.bin");
  kroTestWriteFile(cut + "materials.glb",
                   kroTestReadFile(kBlender + "materials.glb").substr(0, 2000));
  kroTestWriteFile(cut + "materials.gltf", kroTestReadFile(kBlender + "materials.gltf"));
  kroTestWriteFile(cut + "materials.bin", bin.substr(0, bin.size() - 4));
  // The faults of the node reader (animations, cameras, lights): the one loading call.
  auto refusedScene = [&](const std::string &path, const std::string &why) {
    kroScene scene;
    kroTestExpectReport([&] { EXPECT_EQ(kroLoadScene(&scene, path.c_str(), 0), 0); },
                        "Error in reading glTF from " + path +
                            " in function kroLoadNodesFromGLTF(..): " + why + "\n");
    EXPECT_TRUE(!scene.meshes && !scene.nodes && !scene.animations && !scene.cameras &&
                !scene.lights && !scene.mesh_count);
  };
  for (auto &c : cases) {
    std::string path = (strncmp(c[0], "bad", 3) ? cut : kData) + c[0];
    std::string head = "Error in reading glTF from " + path;
    kroMesh *meshes = nullptr;
    if (!strncmp(c[0], "bad-anim", 8)) {
      refusedScene(path, c[1]);
      continue;
    }
    kroTestExpectReport([&] { EXPECT_EQ(kroLoadMeshArrayFromGLTF(&meshes, path.c_str()), 0); },
                        head + " in function kroLoadMeshArrayFromGLTF(..): " + c[1] + "\n");
    EXPECT_FALSE(meshes);
  }
  // animated.gltf's cameras and lights, one value of them made wrong at a time.
  const char *edits[][3] = {
      {"\"type\": \"perspective\"", "\"type\": \"fisheye\"",
       "a camera type other than perspective or orthographic at line 203"},
      {"\"yfov\": 0.8", "\"yfov\": 0", "perspective camera values out of range at line 206"},
      {"\"zfar\": 50", "\"zfar\": 0.5", "orthographic camera values out of range at line 215"},
      {"\"ymag\": 2,", "", "an orthographic camera without \"ymag\" at line 215"},
      {"\"type\": \"point\"", "\"type\": \"area\"",
       "a light type other than directional, point or spot at line 239"},
      {"\"intensity\": 3", "\"intensity\": -3",
       "a negative intensity or a range not above 0 at line 229"},
      {"\"range\": 10", "\"range\": 0", "a negative intensity or a range not above 0 at line 239"}};
  // `text` with its first `find` replaced by `put`, written to a file of the cut folder.
  auto edited = [&](std::string text, const std::string &find, const std::string &put) {
    const std::string path = cut + "edited.gltf";
    kroTestWriteFile(path, text.replace(text.find(find), find.size(), put));
    return path;
  };
  const std::string animated = kroTestReadFile(kData + "animated.gltf");
  for (auto &e : edits)
    refusedScene(edited(animated, e[0], e[1]), e[2]);
  // "doubleSided" written false is one-sided; a value that is not true or false is refused.
  const std::string cube = kroTestReadFile(kData + "cube-embedded.gltf"),
                    red = "\"name\": \"Red\",";
  kroMaterial *materials = nullptr;
  for (const char *value : {"false", "1"}) {
    const std::string path = edited(cube, red, red + " \"doubleSided\": " + value + ",");
    if (!strcmp(value, "1"))
      kroTestExpectReport(
          [&] { EXPECT_EQ(kroLoadMaterialsFromGLTF(&materials, path.c_str(), 0), 0); },
          "Error in reading glTF from " + path +
              " in function kroLoadMaterialsFromGLTF(..): \"doubleSided\" is neither true nor "
              "false at line 117\n");
    else
      EXPECT_TRUE(kroLoadMaterialsFromGLTF(&materials, path.c_str(), 0) == 2 &&
                  materials[0].one_sided == 1);
    kroFreeMaterials(&materials, 2);
  }
  // The cube with one fault at a time, each refused with its reason and the line it stands on.
  const char *faults[][3] = {
      {"\"version\": \"2.0\"", "\"version\": \"1.0\"", "not glTF 2.x (asset.version) at line 2"},
      {"\"nodes\": [\n    0\n   ]", "\"nodes\": 0", "\"nodes\" is not an array at line 8"},
      {"\"nodes\": [\n    0\n   ]", "\"nodes\": [1]", "scene node 0 is not a node index at line 8"},
      {"\"scene\": 0", "\"scene\": 1", "\"scene\" is not a whole number from 0 to 0"},
      {"\"mesh\": 0", "\"mesh\": 1", "\"mesh\" is not a whole number from 0 to 0 at line 15"},
      {"\"mesh\": 0", "\"mesh\": 0, \"children\": [0]",
       "node 0 is its own child (a cycle) at line 15"},
      {"0.7071067811865476,\n    0,\n    0.7071067811865476", "0, 0, 0",
       "\"rotation\" is the zero quaternion at line 15"},
      {"\"primitives\"", "\"primitive\"", "a mesh without \"primitives\" at line 37"},
      {"\"attributes\"", "\"attribute\"", "a primitive without \"attributes\" at line 40"},
      {"\"indices\": 3,", "\"indices\": 3, \"mode\": 1,",
       "primitive mode 1: only triangles (4) are read at line 40"},
      {"\"POSITION\": 0", "\"POSITION\": 4", "POSITION accessor 4 of 4"},
      {"\"material\": 0", "\"material\": 1",
       "\"material\" is not a whole number from 0 to 0 at line 40"},
      {"\"count\": 36", "\"count\": 35", "35 corners do not make whole triangles at line 40"},
      {"\"type\": \"VEC2\"", "\"type\": \"VEC3\"", "TEXCOORD_0 accessor 2 is not VEC2 at line 75"},
      {"\"componentType\": 5123", "\"componentType\": 5126",
       "indices accessor 3: component type 5126 not read at line 81"},
      {"\"bufferView\": 3", "\"bufferView\": 3, \"sparse\": {}",
       "sparse accessors are not read at line 81"},
      {"\"byteLength\": 72", "\"byteLength\": 80",
       "buffer view 3 runs past its buffer's 840 bytes at line 104"},
      {"base64,", "base64,*", "a data: URI that is not base64 at line 111"}};
  for (auto &f : faults) {
    const std::string path = edited(cube, f[0], f[1]);
    kroMesh *meshes = nullptr;
    kroTestExpectReport([&] { EXPECT_EQ(kroLoadMeshArrayFromGLTF(&meshes, path.c_str()), 0); },
                        "Error in reading glTF from " + path +
                            " in function kroLoadMeshArrayFromGLTF(..): " + f[2] + "\n");
  }
  kroMesh *none = nullptr; // a folder opens, but is no file
  const std::string folder = kroTestTempFolder("gltf-folder");
  kroTestExpectReport([&] { EXPECT_EQ(kroLoadMeshArrayFromGLTF(&none, folder.c_str()), 0); },
                      "Error in reading glTF from " + folder +
                          " in function kroLoadMeshArrayFromGLTF(..): cannot be opened or is "
                          "not a file\n");
  // The cube's container with one fault: its version, its first chunk's kind, cut within its
  // header, and cut within the header of the chunk after the JSON (the total length kept right).
  const std::string glb = kroTestReadFile(kData + "cube.glb");
  const uint32_t json = (uint8_t)glb[12] | (uint8_t)glb[13] << 8, cut_at = 20 + json + 4;
  std::string version = glb, kind = glb, chunk = glb.substr(0, cut_at);
  version[4] = 1, kind[16] = 'B', chunk[8] = (char)(cut_at & 0xFF), chunk[9] = (char)(cut_at >> 8);
  chunk[10] = chunk[11] = 0;
  const std::pair<std::string, std::string> containers[] = {
      {version, "GLB version 1, not 2"},
      {kind, "the first GLB chunk is not JSON"},
      {glb.substr(0, 16), "GLB header cut off (16 bytes)"},
      {chunk, "GLB chunk header cut off at byte " + std::to_string(20 + json)}};
  for (auto &c : containers) {
    std::string path = cut + "fault.glb";
    kroTestWriteFile(path, c.first);
    kroMesh *meshes = nullptr;
    kroTestExpectReport([&] { EXPECT_EQ(kroLoadMeshArrayFromGLTF(&meshes, path.c_str()), 0); },
                        "Error in reading glTF from " + path +
                            " in function kroLoadMeshArrayFromGLTF(..): " + c.second + "\n");
  }
  kroTestExpectReport(
      [&] {
        EXPECT_EQ(kroLoadMaterialsFromGLTF(&materials, (kData + "bad-length.glb").c_str(), 0), 0);
      },
      "Error in reading glTF from " + kData +
          "bad-length.glb in function kroLoadMaterialsFromGLTF(..): GLB length 1956, but the "
          "file has 1952 bytes\n");
  // quad.gltf has no normals: its indexed form is made from rows (kroIndexMesh).
  for (const char *name : {"cube.gltf", "animated.gltf", "quad.gltf"})
    for (int indexed = 0; indexed < 2; indexed++)
      for (long n = 1, loaded = 0; !loaded; n++) {
        kroScene scene;
        kroTestHookCalls = 0;
        kroFailAllocationAfter(n);
        testing::internal::CaptureStdout();
        loaded = (indexed ? kroLoadSceneIndexed : kroLoadScene)(&scene, (kData + name).c_str(), 0);
        std::string out = testing::internal::GetCapturedStdout();
        kroFailAllocationAfter(0);
        EXPECT_EQ(kroTestHookCalls, loaded ? 0 : 1) << n << out;
        EXPECT_EQ(!scene.meshes || !scene.nodes, !loaded) << n;
        kroFreeScene(&scene);
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
    kroScene glb{}, scene{};
    for (std::string form : {".glb", ".gltf", "-embedded.gltf", ".obj"}) {
      std::string path = kBlender + name + form, text = kroTestReadFile(path);
      if (form == ".obj") // elsewhere, naming its library by path: map_Kd is the library's
        kroTestWriteFile(path = kroTestTempPath(name + form),
                         "mtllib " + kBlender + name + ".mtl" + text.substr(text.find("\no ")));
      kroScene &it = form == ".glb" ? glb : scene;
      kroFreeScene(&it);
      ASSERT_GT(kroLoadScene(&it, path.c_str(), 1), 0);
      EXPECT_EQ(form != ".obj" || name == "cylinder" ? compare(it, render) : "", "")
          << name << form;
    }
    // The OBJ export has the .glb's triangles, in the same order within 1e-5: both write
    // Blender's (x, y, z) as (x, z, -y). Only the cylinder's 32-corner caps (60 triangles) are
    // cut otherwise (OBJ fans them; the render above shows them in place).
    ASSERT_EQ(scene.mesh_count, glb.mesh_count);
    for (int m = 0; m < glb.mesh_count; m++) {
      const kroMesh *mesh[2] = {&glb.meshes[m], &scene.meshes[m]};
      ASSERT_TRUE(!strcmp(mesh[0]->node_name, mesh[1]->node_name) &&
                  mesh[0]->triangles == mesh[1]->triangles);
      int differing = 0;
      for (int t = 0; t < mesh[0]->triangles; t++)
        differing += !std::equal(mesh[0]->op[t], mesh[0]->op[t] + 9, mesh[1]->op[t],
                                 [](float a, float b) { return fabsf(a - b) < 1e-5; });
      EXPECT_EQ(differing, name == "cylinder" ? 60 : 0) << mesh[0]->node_name;
    }
    // Sides: Blender writes "doubleSided" for Purple only; the other materials and the default
    // one are one-sided. A triangle facing the eye drawn in each material shows, and drawn
    // mirrored (clockwise on screen) shows only in a double-sided one; the caller's culling (on,
    // of front faces) is given back.
    std::string sides;
    float corners[3 * KRO_VERTEX_FLOATS] = {-1, -1, 0, 0, 0, 1, 0, 0, 1, -1, 0, 0,
                                            0,  1,  0, 0, 0, 1, 0, 0, 0, 1,  0, 0};
    uint32_t order[3] = {0, 1, 2};
    kroMesh triangle{};
    triangle.vertex = corners, triangle.index = order, triangle.vertices = 3;
    kroScene alone = glb;
    alone.meshes = &triangle, alone.mesh_count = triangle.triangles = 1;
    glFrontFace(GL_CW); // the caller's; the engine's meshes turn counter-clockwise
    for (int m = 0; m < glb.material_count; m++) {
      sides += std::to_string(glb.materials[m].one_sided);
      triangle.material_ref = m;
      for (float mirror : {1.0f, -1.0f}) {
        std::vector<uint8_t> picture = draw(alone, kUnlit, mirror);
        bool shown = std::count(picture.begin(), picture.end(), 0) < (long)picture.size();
        EXPECT_EQ(shown, mirror > 0 || !glb.materials[m].one_sided) << name << m;
        for (int k = 0; mirror > 0 && k < 3; k++) // no texture coordinates: the colour, unpictured
          EXPECT_NEAR(picture[3 * (kW * kH + kW) / 2 + k], glb.materials[m].diffuse[k] * 255, 1);
      }
    }
    EXPECT_EQ(sides, name == "materials" ? "111101" : name == "nodes" ? "00001" : "01") << name;
    GLint front = 0;
    glGetIntegerv(GL_FRONT_FACE, &front);
    EXPECT_EQ(front, GL_CW);
    glFrontFace(GL_CCW);
    GLint culled = 0;
    glEnable(GL_CULL_FACE), glCullFace(GL_FRONT), draw(glb, kLit);
    glGetIntegerv(GL_CULL_FACE_MODE, &culled);
    EXPECT_TRUE(glIsEnabled(GL_CULL_FACE) && culled == GL_FRONT);
    glDisable(GL_CULL_FACE), glCullFace(GL_BACK), draw(glb, kLit);
    EXPECT_FALSE(glIsEnabled(GL_CULL_FACE));
    // A picture whose v is not turned upward shows in the wrong place.
    for (int m = 0; m < glb.mesh_count; m++)
      for (int i = 1; glb.meshes[m].tc && i < 6 * glb.meshes[m].triangles; i += 2)
        glb.meshes[m].tc[i / 6][i % 6] = 1 - glb.meshes[m].tc[i / 6][i % 6];
    EXPECT_NE(compare(glb, render), "") << name;
    kroFreeScene(&glb);
    kroFreeScene(&scene);
    free(render);
  }
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
  glViewport(0, 0, 64, 64);
  kroDestroyFrameBufferObject(&fbo, 3);
}

// Corners of an indexed mesh whose vertex differs in a bit from the rows' position, normal or
// texture coordinate; -1 for an index past the vertices.
int differingCorners(const kroMesh &rows, const kroMesh &indexed) {
  int differing = 0;
  for (int c = 0; c < 3 * rows.triangles; c++) {
    if (indexed.index[c] >= (uint32_t)indexed.vertices)
      return -1;
    const float *v = indexed.vertex + KRO_VERTEX_FLOATS * indexed.index[c];
    const int row = c / 3, k = c % 3;
    differing += memcmp(v, &rows.op[row][3 * k], 12) || memcmp(v + 3, &rows.nc[row][3 * k], 12) ||
                 (rows.tc && memcmp(v + 6, &rows.tc[row][2 * k], 8));
  }
  return differing;
}

// The indexed form of each file against its rows: every corner through its index equal to the
// rows bit for bit (a mirroring node's winding turned alike), the rows null, the same bounds (and
// fitted alike) and the same pictures lit and unlit, drawn while another buffer is bound to
// GL_ARRAY_BUFFER (the binding, the client unit and the arrays' state given back; within a level:
// a colour half a level between two, 0.1 of 255, rounds either way). A Blender .glb keeps its
// shared vertices, an OBJ whose corners all give normals shares them by position, texture
// coordinate and normal; a glTF primitive without normals (quad.gltf), an OBJ mesh without them
// (ngon.obj) and ASE get three a triangle.
TEST_F(GltfTest, IndexedFormKeepsTheTrianglesAndDrawsTheSamePictures) {
  kroMesh bare{}; // rows without normals are refused, and kept
  kroIncreaseObject(&bare.op, 0, bare.triangles = 1);
  kroTestExpectReport([&] { EXPECT_EQ(kroIndexMesh(&bare), 0); },
                      "Error in kroIndexMesh(..): no positions and normals for 1 triangles\n");
  EXPECT_TRUE(bare.op && !bare.vertex);
  kroDestroyObject(&bare.op, 1);
  kroInit(kW, kH); // the lit drawing's programs: normals and pictures through them
  ASSERT_EQ(kroInitStatus(), 0);
  kroTestUseCountingHook(); // kroInit cleared it
  kroFrameBufferObject fbo{};
  const int32_t size[2] = {kW, kH};
  ASSERT_EQ(kroCreateFrameBufferObject(&fbo, size, nullptr, 0), 0);
  kroUseFrameBufferObject(&fbo);
  GLuint buffer = 0;
  glGenBuffers(1, &buffer);
  glBindBuffer(GL_ARRAY_BUFFER, buffer);
  glBufferData(GL_ARRAY_BUFFER, 64, nullptr, GL_STATIC_DRAW);
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffer);
  glClientActiveTexture(GL_TEXTURE1);
  const std::string ase = std::string(KRO_TEST_DATA) + "/ase/exported_shapes.ase";
  const std::string obj = std::string(KRO_TEST_DATA) + "/obj/";
  for (std::string path :
       {kBlender + "nodes.glb", kBlender + "materials.glb", kBlender + "cylinder.glb",
        kBlender + "materials.obj", obj + "two_objects.obj", obj + "ngon.obj",
        kData + "hierarchy.gltf", kData + "quad.gltf", ase}) {
    kroScene rows, indexed;
    const int textures = path != ase; // its maps are not in the repository
    ASSERT_GT(kroLoadScene(&rows, path.c_str(), textures), 0) << path;
    ASSERT_EQ(kroLoadSceneIndexed(&indexed, path.c_str(), textures), rows.mesh_count) << path;
    const bool shared = path.find(".glb") != std::string::npos ||
                        path.find("s.obj") != std::string::npos; // every corner with its normal
    ASSERT_EQ(indexed.material_count, rows.material_count);
    long vertices = 0, corners = 0;
    for (int m = 0; m < rows.mesh_count; m++) {
      const kroMesh &a = rows.meshes[m], &b = indexed.meshes[m];
      ASSERT_TRUE(b.vertex && b.index && !b.op && !b.nc && !b.realn && !b.tc &&
                  b.triangles == a.triangles && b.material_ref == a.material_ref &&
                  !strcmp(a.node_name, b.node_name) && b.has_tc == (a.tc != nullptr))
          << path << " " << m;
      vertices += b.vertices, corners += 3 * b.triangles;
      EXPECT_TRUE(shared || b.vertices == 3 * b.triangles) << path;
      EXPECT_EQ(differingCorners(a, b), 0) << path << " " << a.node_name;
    }
    EXPECT_TRUE(!shared || vertices < corners) << path; // smooth meshes share their vertices
    FILE *out = tmpfile(); // the loaders' writers take rows only: an indexed mesh is refused
    for (auto write : {kroWriteSrcMeshFromRecord, kroWriteCompactSrcMeshFromRecord})
      kroTestExpectReport([&] { EXPECT_EQ(write(&indexed.meshes[0], "Indexed", out), 0); },
                          std::string("Error in writing mesh source in function ") +
                              (write == kroWriteSrcMeshFromRecord
                                   ? "kroWriteSrcMeshFromRecord"
                                   : "kroWriteCompactSrcMeshFromRecord") +
                              "(..): no mesh record with its rows\n");
    EXPECT_EQ(ftell(out), 0);
    fclose(out);
    kroBounds x, y;
    EXPECT_EQ(kroMeshBounds(rows.meshes, rows.mesh_count, &x),
              kroMeshBounds(indexed.meshes, indexed.mesh_count, &y));
    EXPECT_EQ(memcmp(&x, &y, sizeof x), 0) << path;
    for (Drawing how : {kUnlit, kLit}) {
      std::vector<uint8_t> picture = draw(rows, how), other = draw(indexed, how);
      EXPECT_NE(std::count(picture.begin(), picture.end(), 0), (long)picture.size()) << path;
      EXPECT_TRUE(std::equal(picture.begin(), picture.end(), other.begin(),
                             [](int a, int b) { return abs(a - b) <= 1; }))
          << path << " " << how;
    }
    kroFitMeshes(rows.meshes, rows.mesh_count, &x); // both moved and scaled alike
    kroFitMeshes(indexed.meshes, indexed.mesh_count, &y);
    for (int m = 0; m < rows.mesh_count; m++)
      EXPECT_EQ(differingCorners(rows.meshes[m], indexed.meshes[m]), 0) << path << " fitted";
    GLint bound = 0, unit = 0, elements = 0;
    glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &bound);
    glGetIntegerv(GL_ELEMENT_ARRAY_BUFFER_BINDING, &elements);
    glGetIntegerv(GL_CLIENT_ACTIVE_TEXTURE, &unit);
    EXPECT_TRUE(bound == (GLint)buffer && elements == bound && unit == GL_TEXTURE1 &&
                !glIsEnabled(GL_VERTEX_ARRAY) && !glIsEnabled(GL_NORMAL_ARRAY))
        << bound << " " << elements << " " << unit;
    kroFreeScene(&rows);
    kroFreeScene(&indexed);
  }
  glClientActiveTexture(GL_TEXTURE0);
  glBindBuffer(GL_ARRAY_BUFFER, 0), glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
  glDeleteBuffers(1, &buffer);
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
  glViewport(0, 0, 64, 64);
  kroDestroyFrameBufferObject(&fbo, 3);
  kroDestroyShaders();
  glUseProgramObjectARB(0);
}

} // namespace
