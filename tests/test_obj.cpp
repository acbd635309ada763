// The one scene loading call and the OBJ/MTL reader: an OBJ twin of an ASE file gives the same
// triangles and materials; fans, negative indices, computed normals, pictures; refusals.
#include "gl_context.h"

#include <string.h>

#include <vector>

namespace {

const std::string kData = std::string(KRO_TEST_DATA) + "/";

struct ObjTest : kroTestGLFailureFixture {
  kroScene scene{};
  void TearDown() override { kroFreeScene(&scene); }
  std::string load(const std::string &path, int textures = 0, bool indexed = false) {
    kroFreeScene(&scene);
    return kroTestCaptured(
        [&] { (indexed ? kroLoadSceneIndexed : kroLoadScene)(&scene, path.c_str(), textures); });
  }
};

std::string rows(const kroMesh &m, kroObject array, int floats) {
  std::string text = std::string(m.node_name) + ":";
  for (int i = 0; i < m.triangles * floats; i++)
    text += " " + std::to_string(array[i / floats][i % floats]);
  return text;
}

// Same positions, texture rows and vertex normals, names, material numbers and materials as
// the ASE file (face normals are computed from the positions, the ASE file's are its own).
TEST_F(ObjTest, TheTwinOfAnASEFileGivesItsTrianglesAndMaterials) {
  kroScene ase{};
  EXPECT_EQ(kroLoadScene(&ase, (kData + "ase/two_objects.ase").c_str(), 0), 2);
  EXPECT_EQ(load(kData + "obj/two_objects.obj"), "");
  ASSERT_EQ(scene.mesh_count, 2);
  EXPECT_TRUE(ase.format == KRO_SCENE_ASE && scene.format == KRO_SCENE_OBJ);
  for (int i = 0; i < 2; i++) {
    const kroMesh &a = ase.meshes[i], &o = scene.meshes[i];
    EXPECT_EQ(rows(o, o.op, 9) + rows(o, o.tc, 6), rows(a, a.op, 9) + rows(a, a.tc, 6));
    EXPECT_EQ(rows(o, o.nc, 9), rows(a, a.nc, 9));
    EXPECT_EQ(o.material_ref, a.material_ref);
  }
  ASSERT_EQ(scene.material_count, ase.material_count);
  for (int i = 0; i < 2; i++) {
    const kroMaterial &a = ase.materials[i], &o = scene.materials[i];
    EXPECT_STREQ(o.name, a.name);
    EXPECT_STREQ(o.map[KRO_MAP_DIFFUSE].bitmap, a.map[KRO_MAP_DIFFUSE].bitmap);
    EXPECT_TRUE(!memcmp(o.diffuse, a.diffuse, sizeof o.diffuse) && o.opacity == a.opacity);
  }
  kroFreeScene(&ase);
  EXPECT_TRUE(!ase.meshes && !ase.materials && ase.mesh_count == 0 && kroTestHookCalls == 0);
}

// Fans from the first corner; negative indices from the last vertex read; smooth normals where
// the file has none; a new mesh at each name or material; a usemtl no library holds is white.
TEST_F(ObjTest, FansNegativeIndicesComputedNormalsAndUnknownMaterials) {
  EXPECT_EQ(load(kData + "obj/ngon.obj"), "Warning: " + kData +
                                              "obj/ngon.obj, line 18: no material library holds "
                                              "\"nowhere\"; it is drawn white\n");
  ASSERT_EQ(scene.mesh_count, 3);
  const kroMesh &hexagon = scene.meshes[0], &pyramid = scene.meshes[1];
  const char *corners[] = {"2.000000 0.000000",  "1.000000 1.732051",   "-1.000000 1.732051",
                           "-2.000000 0.000000", "-1.000000 -1.732051", "1.000000 -1.732051"};
  std::string fan = "hexagon:", up = fan;
  for (int c : {0, 1, 2, 0, 2, 3, 0, 3, 4, 0, 4, 5})
    fan += " " + std::string(corners[c]) + " 0.000000", up += " 0.000000 0.000000 1.000000";
  EXPECT_EQ(rows(hexagon, hexagon.op, 9), fan);
  EXPECT_EQ(rows(hexagon, hexagon.nc, 9), up);
  EXPECT_EQ(pyramid.triangles + 10 * scene.meshes[2].triangles, 12);
  EXPECT_STREQ(scene.meshes[2].node_name, "pyramid base");
  // The apex (first corner of both side faces) has one normal, between the faces' normals.
  EXPECT_TRUE(!memcmp(pyramid.nc[0], pyramid.nc[1], 3 * sizeof(float)));
  EXPECT_TRUE(memcmp(pyramid.nc[0], pyramid.realn[0], 3 * sizeof(float)) &&
              memcmp(pyramid.nc[0], pyramid.realn[1], 3 * sizeof(float)));
  EXPECT_EQ(hexagon.material_ref + 2 * pyramid.material_ref + 4 * scene.meshes[2].material_ref, 4);
  ASSERT_EQ(scene.material_count, 2);
  EXPECT_STREQ(scene.materials[1].name, "nowhere");
  EXPECT_EQ(scene.materials[1].diffuse[0] + scene.materials[1].diffuse[2], 2.0f);
  // Numbers as modelling tools write them (six decimals, four, more whole digits, a sign), each
  // read as strtof reads it: 10,000 triangles of values spread over -99.999999 .. 99.999999.
  const std::string many = kroTestTempPath("numbers.obj");
  std::string text, numbers[3];
  std::vector<float> want;
  for (long i = 0; i < 90000; i++) {
    long m = (i * 7919 + i / 3) % 20000000 - 10000000;
    char value[32];
    const char *form = i % 5 == 4 ? "%s%ld.%04ld" : i % 5 == 3 ? "%s%ld%ld.%06ld" : "%s%ld.%06ld";
    if (i % 5 == 4)
      snprintf(value, sizeof value, form, m < 0 ? "-" : "", labs(m) / 1000000, labs(m) % 10000);
    else if (i % 5 == 3)
      snprintf(value, sizeof value, form, m < 0 ? "-" : "", i % 9 + 1, labs(m) / 1000000,
               labs(m) % 1000000);
    else
      snprintf(value, sizeof value, form, m < 0 ? "-" : "", labs(m) / 1000000, labs(m) % 1000000);
    numbers[i % 3] = value;
    want.push_back(strtof(value, nullptr));
    if (i % 3 == 2)
      text += "v " + numbers[0] + " " + numbers[1] + " " + numbers[2] + "\n";
  }
  for (int t = 0; t < 30000; t += 3)
    text += "f " + std::to_string(t + 1) + " " + std::to_string(t + 2) + " " +
            std::to_string(t + 3) + "\n";
  // Indices of one to seven digits: 1,234,567 texture coordinates, u the number's last six.
  char line[32];
  for (int i = 1; i <= 1234567; i++)
    text += (snprintf(line, sizeof line, "vt 0.%06d 0\n", i % 1000000), line);
  // The same in v/vt/vn corners, in an object of their own (v/vt above: no normal given), and
  // v/vt corners mixed with plain ones (six corners, four triangles).
  text += "f 1/1 2/999999 3/1234567\nvn 0 0 1\nvn 0 1 0\no own\nf 1/1/2 2/999999/1 3/1234567/2\n";
  text += "o mixed\nf 1/1 2 1/1 2 1/1 2\n";
  kroTestWriteFile(many, text);
  EXPECT_EQ(load(many), "");
  ASSERT_EQ(scene.mesh_count, 3);
  EXPECT_EQ(scene.meshes[2].triangles, 4);
  for (int c = 0; c < 90000; c++)
    ASSERT_EQ(scene.meshes[0].op[c / 9][c % 9], want[c]) << c;
  for (const float *u : {scene.meshes[0].tc[10000], scene.meshes[1].tc[0]})
    EXPECT_TRUE(u[0] == 0.000001f && u[2] == 0.999999f && u[4] == 0.234567f) << u[4];
  EXPECT_EQ(std::vector<float>(scene.meshes[1].nc[0], scene.meshes[1].nc[0] + 9),
            std::vector<float>({0, 1, 0, 0, 0, 1, 0, 1, 0}));
  EXPECT_TRUE(!memcmp(scene.meshes[0].realn[10000], scene.meshes[0].nc[10000], 3 * 4));
  // Numbers in other forms (an exponent, a plus sign) read as strtof reads them.
  kroTestWriteFile(many, "v 1e2 -2.5E-1 +3\nv 0 0 0\nv 0 1 0\nf 1 2 3\n");
  EXPECT_EQ(load(many), "");
  EXPECT_TRUE(scene.meshes[0].op[0][0] == 100 && scene.meshes[0].op[0][1] == -0.25f &&
              scene.meshes[0].op[0][2] == 3);
}

// A byte order mark before a keyword (both files), CR LF, a continued line, a missing library,
// transparency as Tr, map options (-mm with its two values) and a picture beside the library.
TEST_F(ObjTest, ATexturedMaterialWithoutKdShowsItsPicture) {
  EXPECT_EQ(load(kData + "obj/quad.obj", 1),
            "Warning: the material library " + kData + "obj/missing.mtl was not found\n");
  ASSERT_EQ(scene.mesh_count, 1);
  const kroMesh &quad = scene.meshes[0];
  EXPECT_EQ(rows(quad, quad.op, 9) + rows(quad, quad.tc, 6).substr(8),
            "picture: 0.000000 0.000000 0.000000 1.000000 0.000000 0.000000 1.000000 1.000000 "
            "0.000000 0.000000 0.000000 0.000000 1.000000 1.000000 0.000000 0.000000 1.000000 "
            "0.000000 0.000000 0.000000 1.000000 0.000000 1.000000 1.000000 0.000000 0.000000 "
            "1.000000 1.000000 0.000000 1.000000");
  const kroMaterial &m = scene.materials[0];
  const kroMaterialMap &map = m.map[KRO_MAP_DIFFUSE];
  EXPECT_TRUE(m.diffuse[0] == 1 && m.diffuse[1] == 1 && m.diffuse[2] == 1 && m.opacity == 0.75f);
  EXPECT_TRUE(map.state == KRO_MAP_LOADED && glIsTexture(m.texture[KRO_MAP_DIFFUSE]));
  EXPECT_EQ(std::to_string(map.u_tiling) + " " + std::to_string(map.v_tiling) + " " +
                std::to_string(map.u_offset) + " " + std::to_string(map.v_offset),
            "2.000000 4.000000 0.750000 1.500000");
  EXPECT_TRUE(kroTestHas(map.bitmap, "/png/kinds/c0d02nt-1x1.png")); // beside the library
  // Drawn lit and unlit while unit 1 is active: unit 0 is left with texture 0 and the identity
  // (the map's scale undone), unit 1 active again; a reference past the materials (a textured
  // one stands there) keeps the colour set before.
  kroMaterial two[2] = {m, m}; // pictured, drawn white (lit or unlit) whatever their colour
  two[0].diffuse[1] = 0.5f;
  kroMesh past = quad;
  past.material_ref = 1;
  const std::vector<float> identity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  for (auto draw : {kroDrawMesh, kroDrawMeshUnlit}) {
    GLint unit = 0, bound = -1;
    float matrix[16], ambient[4], colour[4];
    glActiveTexture(GL_TEXTURE1), draw(&quad, two, 1);
    glGetMaterialfv(GL_FRONT, GL_AMBIENT, ambient), glGetFloatv(GL_CURRENT_COLOR, colour);
    EXPECT_EQ(draw == kroDrawMesh ? ambient[1] : colour[1], 1.0f);
    kroSetLightMaterialColor(0.25f, 0.5f, 0.75f), kroDrawMesh(&past, two, 1);
    glGetIntegerv(GL_ACTIVE_TEXTURE, &unit), glActiveTexture(GL_TEXTURE0);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound), glGetFloatv(GL_TEXTURE_MATRIX, matrix);
    glGetMaterialfv(GL_FRONT, GL_AMBIENT, ambient);
    EXPECT_TRUE(unit == GL_TEXTURE1 && bound == 0 &&
                std::vector<float>(matrix, matrix + 16) == identity);
    EXPECT_EQ(std::vector<float>(ambient, ambient + 3), (std::vector<float>{0.25f, 0.5f, 0.75f}));
  }
  kroScenePath *files = nullptr; // both libraries, found or not: a watcher follows them
  ASSERT_EQ(kroSceneFiles((kData + "obj/quad.obj").c_str(), &files), 2);
  EXPECT_EQ(std::string(files[0]) + files[1], kData + "obj/missing.mtl" + kData + "obj/quad.mtl");
  free(files);
}

// Each refusal names the file, the reason and the line, calls the hook once and leaves the
// scene empty; so does every failed allocation of a load.
TEST_F(ObjTest, RefusalsGiveTheReasonAndLineAndLeaveNothing) {
  const std::string obj = kroTestTempPath("bad.obj"), mtl = kroTestTempPath("bad.mtl");
  const std::string in = "Error in reading OBJ scene from " + obj + ": ";
  // Past the reader's block (a megabyte, more for a longer line): a comment longer than one, a
  // continuation whose line end is the last byte of the 2 MB block after the first line, faces
  // across the next block end; read whole, every triangle in its rows, under a name cut to 255
  // characters (there a blank, dropped).
  std::string big =
      "v 0 0 0\n# " + std::string(1 << 20, 'x') + "\no " + std::string(254, 'n') + " m\n";
  big += "#" + std::string((2 << 20) - big.size() - 10, 'y') + "\nv 1 2 3\nf 1 2 \\\n1\n";
  for (int i = 0; i < 300000; i++)
    big += "f 1 2 1\n";
  kroTestWriteFile(obj, big);
  EXPECT_EQ(load(obj), "");
  ASSERT_TRUE(scene.mesh_count == 1 && scene.meshes[0].triangles == 300001);
  EXPECT_EQ(scene.meshes[0].node_name, std::string(254, 'n'));
  for (int t = 0; t < 300001; t++)
    ASSERT_TRUE(scene.meshes[0].op[t][4] == 2.0f && scene.meshes[0].realn[t][0] == 0.0f) << t;
  const std::pair<std::string, std::string> cases[] = {
      {big + "f 1 1 3\n",
       in + "a face's index 3 is outside the 2 positions read so far at line 300008"},
      {"v 0 0 0\n\nf 1 2 1\n",
       in + "a face's index 2 is outside the 1 positions read so far at line 3"},
      {"v 0 0 0\nf 1 1 0\n",
       in + "a face's index 0 is outside the 1 positions read so far at line 2"},
      {"v 0 0 0\nv 0 0 0\nf 1 2 -3\n",
       in + "a face's index -3 is outside the 2 positions read so far at line 3"},
      {"v 0 0 0\nvt 0 0\nf 1/2 1/1 1/1\n",
       in + "a face's index 2 is outside the 1 texture coordinates read so far at line 3"},
      {"v 0 0 0\nvn 0 0 1\nf 1//1 1//2 1//1\n",
       in + "a face's index 2 is outside the 1 normals read so far at line 3"},
      {"v 0 0 0\nf 1/ 1// 1\n", in + "a face's corner lacks its index into the normals at line 2"},
      {"v 0 0 0\nvt 0 0\nvn 0 0 1\nf 1/1/1/1 1 1\n",
       in + "a face's corner is not v, v/vt, v//vn or v/vt/vn at line 4"},
      {"v 0 0 0\nf 1 \\\n 1\n", in + "a face has 2 corners (at least 3) at line 3"},
      {"#" + std::string(8000, '-') + "\nv 0 0 1e39\n", // an exporter's long header
       in + "positions: not a finite number at line 2"},
      {"vt 0 x\n", in + "texture coordinates: not a finite number at line 1"},
      {std::string("v 0 0 0\0\n", 9),
       "Error in reading OBJ scene from " + obj + ": a zero byte (not a text)"},
      {"mtllib bad.mtl\n", "Error in reading materials from " + mtl +
                               ": a material property before the first newmtl at line 2"},
      {"mtllib bad.mtl\n", "Error in reading materials from " + mtl +
                               ": a map's picture name is longer than 259 characters at line 2"},
      {"mtllib " + std::string(4090, 'l') + "\n",
       in + "a material library's path is longer than 4095 characters at line 1"},
      {"v 0 0 0\nvt 0 0\nvn 0 0 1\nf 1/1/1 1/2/1 1/1/1\n",
       in + "a face's index 2 is outside the 1 texture coordinates read so far at line 4"},
      {"v 0 0 0\nvt 0 0\nvn 0 0 1\nf 1/1/1 1/1/1 1/1/2 1/1/1\n",
       in + "a face's index 2 is outside the 1 normals read so far at line 4"},
      {"v 0 0 0\nvt 0 0\nvn 0 0 1\nf 2/1/1 1/1/1 1/1/1\n",
       in + "a face's index 2 is outside the 1 positions read so far at line 4"},
  };
  int hooks = 0;
  for (const auto &[text, message] : cases) {
    kroTestWriteFile(obj, text);
    kroTestWriteFile(mtl, &text == &cases[12].first ? "\n d 0.5\n"
                                                    : "newmtl x\nmap_Kd " + std::string(260, 'a'));
    EXPECT_EQ(load(obj), message + "\n");
    EXPECT_TRUE(!scene.meshes && !scene.materials && scene.mesh_count == 0);
    EXPECT_EQ(kroTestHookCalls, ++hooks);
  }
  // A library holding a zero byte, and a folder given as the OBJ file itself.
  kroTestWriteFile(obj, "mtllib bad.mtl\n");
  kroTestWriteFile(mtl, std::string("newmtl x\0\n", 10));
  EXPECT_EQ(load(obj), "Error in reading materials from " + mtl + ": a zero byte (not a text)\n");
  const std::string folder = kroTestTempFolder("obj-folder");
  EXPECT_EQ(kroTestCaptured([&] { kroLoadSceneFromOBJ(&scene, folder.c_str(), 0); }),
            "Error in reading OBJ scene from " + folder + ": the file is not a regular file\n");
  const std::string far = folder + "/" + std::string(600, 'f'); // a message past 512 bytes
  EXPECT_EQ(load(far), "Error in reading scene from " + far +
                           ": not a scene file of a known format (ASE, OBJ, glTF)\n");
  EXPECT_EQ(kroTestHookCalls, hooks += 3);
  // In either form: ngon.obj's meshes give no normals, so the indexed form makes rows and turns
  // them.
  for (std::string name : {"two_objects", "ngon"})
    for (bool indexed : {false, true})
      for (long fail = 1;; fail++) {
        kroFailAllocationAfter(fail);
        std::string out = load(kData + "obj/" + name + ".obj", 0, indexed);
        if (kroFailAllocationAfter(0) < fail) {
          EXPECT_TRUE(!kroTestHas(out, "Error") && scene.mesh_count == (name == "ngon" ? 3 : 2) &&
                      kroTestHookCalls == hooks)
              << out << fail;
          break;
        }
        EXPECT_TRUE(!scene.meshes && !scene.materials && kroTestHookCalls == ++hooks)
            << name << indexed << fail;
      }
  kroTestWriteFile(obj, "# not a scene\n*\n");
  EXPECT_EQ(load(obj), "Error in reading scene from " + obj +
                           ": not a scene file of a known format (ASE, OBJ, glTF)\n");
}

} // namespace
