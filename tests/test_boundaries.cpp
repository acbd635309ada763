// Cases at an edge no other test reaches: the engine asked before it ever started, and the
// compact loaders' index tables at the sizes where a narrower type stops holding them.
#include "gl_context.h"

namespace {

// One object whose faces use `positions` distinct vertex positions, each at least once.
std::string modelWithPositions(int positions) {
  int faces = (positions + 2) / 3;
  std::string text = "*GEOMOBJECT {\n*NODE_NAME \"Many\"\n*MESH {\n*MESH_NUMVERTEX " +
                     std::to_string(positions) + "\n*MESH_NUMFACES " + std::to_string(faces) +
                     "\n*MESH_VERTEX_LIST {\n";
  for (int v = 0; v < positions; v++)
    text += "*MESH_VERTEX " + std::to_string(v) + " " + std::to_string(v) + " 0 0\n";
  text += "}\n*MESH_FACE_LIST {\n";
  for (int f = 0; f < faces; f++) // face f uses positions 3f, 3f + 1 and 3f + 2, wrapped
    text += "*MESH_FACE " + std::to_string(f) + ": A: " + std::to_string(3 * f % positions) +
            " B: " + std::to_string((3 * f + 1) % positions) +
            " C: " + std::to_string((3 * f + 2) % positions) + "\n";
  return text + "}\n}\n}\n";
}

// The corner table's type is the narrowest that holds its largest number, on either side of
// the limits of unsigned char and unsigned short. This program never starts the engine: every
// program counts as not built.
TEST(Boundaries, CompactCornerTablesTakeTheNarrowestTypeAndNoProgramIsBuiltBeforeAStart) {
  EXPECT_EQ(kroInitStatus(), KRO_INIT_PROGRAMS);
  for (const auto &[positions, type] : {std::pair{256, "unsigned char"},
                                        {257, "unsigned short"},
                                        {65536, "unsigned short"},
                                        {65537, "int"}}) {
    std::string path = kroTestTempPath("many-" + std::to_string(positions) + ".ase");
    kroTestWriteFile(path, modelWithPositions(positions));
    FILE *stream = fopen(path.c_str(), "r"), *out = fopen((path + ".cpp").c_str(), "w");
    ASSERT_TRUE(stream && out && kroWriteCompactSrcMeshFromASEfd(stream, "Many", out));
    fclose(out);
    fclose(stream);
    std::string source = kroTestReadFile(path + ".cpp");
    size_t name = source.find(" faces_corners["), start = source.rfind("const ", name) + 6;
    ASSERT_NE(name, std::string::npos);
    EXPECT_EQ(source.substr(start, name - start), type) << positions;
  }
}

} // namespace
