// Mesh source generator: the exact text it writes, and loaders generated at
// build time by `krotool mesh-src` that must rebuild what the reader reads.
#include "gl_context.h"

#include <sys/stat.h>

// Written at build time by `krotool mesh-src --header`; one twice, so its guard must hold.
#include "generated_loaders_RotatingCube.h"
#include "generated_loaders_UVTransform_Normal.h"
#include "generated_loaders_exported_shapes.h"
#include "generated_loaders_mesh_animation.h"
#include "generated_loaders_named_objects.h"
#include "generated_loaders_named_objects.h"
#include "generated_loaders_two_objects.h"

typedef void Loader(kroObject *, kroObject *, kroObject *, kroObject *, char *, int *);

namespace {

const std::string kData = std::string(KRO_TEST_DATA) + "/ase/";

struct MeshSrcTest : kroTestFailureFixture {};

// Runs the generator once per name over one stream of `text`; returns what it printed.
std::string generate(const std::string &text, const std::vector<std::string> &names) {
  std::string path = kroTestTempPath("gen.ase");
  kroTestWriteFile(path, text);
  FILE *stream = fopen(path.c_str(), "r");
  std::string out = kroTestCaptured([&] {
    for (const std::string &name : names)
      kroCreateSrcMeshFromASEfd(stream, name.c_str());
    fflush(stdout);
  });
  fclose(stream);
  return out;
}

std::string header(const std::string &name) {
  return "void loadMesh" + name +
         "(kroObject *op,kroObject *nc,kroObject *realn,kroObject *tc,char *node_name,int "
         "*triangles)\n{\n";
}

const char kOneTriangle[] =
    "*GEOMOBJECT {\n\t*NODE_NAME \"a b\"\n\t*MESH {\n\t\t*MESH_NUMVERTEX 3\n\t\t*MESH_NUMFACES 1\n"
    "\t\t*MESH_VERTEX 0 1.5 -0.0000 2\n\t\t*MESH_VERTEX 1 -0.0000001 0.25 3\n"
    "\t\t*MESH_VERTEX 2 7 8 9\n\t\t*MESH_FACE 0: A: 2 B: 0 C: 1 AB: 1 BC: 1 CA: 1\n"
    "\t\t*MESH_FACENORMAL 0 0.0 0.0 1.0\n\t\t\t*MESH_VERTEXNORMAL 2 0.1 0.2 0.3\n"
    "\t\t\t*MESH_VERTEXNORMAL 0 0.4 0.5 0.6\n\t\t\t*MESH_VERTEXNORMAL 1 0.7 0.8 0.9\n"
    "\t}\n\t*MATERIAL_REF 3\n}\n";

// Each call writes the next object's loader, the name kept with its blank; at
// the stream's end only the closing brace; a light between objects is passed
// over, and names outside an object's own block write no line. (The text of
// every value is pinned by the committed loaders, which the GeneratedMeshes
// tests regenerate, and checked against the reader below.)
TEST_F(MeshSrcTest, WritesOneLoaderPerCall) {
  const std::string one = generate(kOneTriangle, {"A"});
  EXPECT_EQ(one.rfind(header("A") + "\tstrcpy(node_name,\"a b\");\n\t*triangles=1;\n", 0), 0u)
      << one;
  EXPECT_EQ(generate("", {"Empty"}), "}");
  EXPECT_EQ(generate(kOneTriangle, {"A", "B"}), one + "}");
  std::string two = std::string(kOneTriangle) + "*LIGHTOBJECT {\n}\n" + kOneTriangle;
  EXPECT_EQ(generate(two, {"A", "B"}), one + generate(kOneTriangle, {"B"}));
  std::string out = generate("*NODE_NAME \"early\"\n*GEOMOBJECT {\n*MESH_NUMFACES 1\n}\n"
                             "*CAMERAOBJECT {\n*NODE_NAME \"late\"\n}\n",
                             {"T"});
  EXPECT_EQ(out.rfind(header("T") + "\t*triangles=1;\n", 0), 0u) << out;
  kroTestExpectReport([] { kroCreateSrcMeshFromASEfd(nullptr, "X"); },
                      "Error in reading mesh from file descriptor\n");
}

// Every refused file still yields a loader that compiles and empties the
// mesh; the message sits in a comment, so the text stays one valid source.
TEST_F(MeshSrcTest, RefusedFilesStillGiveCompilingEmptyLoaders) {
  std::string source = "#include <string.h>\n#include \"kro.h\"\n";
  const std::string end = // arrays grown by the loader are released; the mesh ends empty
      "\tkroDestroyObject(nc,*triangles);\n\t*triangles=0;\n\tnode_name[0]=0;\n}";
  int refused = 0;
  for (auto &[file, reason] : kroTestRefusedAseFiles) {
    if (!file.compare(0, 12, "bad_material"))
      continue;
    SCOPED_TRACE(file);
    std::string out = generate(kroTestReadFile(kData + file + ".ase"), {file});
    EXPECT_TRUE(kroTestHookCalls == ++refused &&
                out.find("/* Error in reading mesh from file descriptor: " + reason) != out.npos &&
                out.find(header(file)) != out.npos && out.rfind(end) == out.size() - end.size())
        << out;
    source += out + "\n";
  }
  std::string path = kroTestTempPath("refused_loaders.cpp");
  kroTestWriteFile(path, source);
  std::string command = std::string(KRO_CXX_COMPILER) + " -fsyntax-only -Wall -Wextra -Werror -I" +
                        KRO_SOURCE_DIR + "/kro " + path;
  EXPECT_EQ(system(command.c_str()), 0) << source;
}

// Name, row count and every value as "%f" (the loader's constants carry six
// decimals); releases the four arrays (op, nc, realn, tc).
std::string dump(kroObject *arrays, const char *name, int triangles, bool texture_faces) {
  std::string text = std::string(name) + " " + std::to_string(triangles);
  const int widths[4] = {9, 9, 3, texture_faces ? 6 : 0};
  char value[64];
  for (int array = 0; array < 4; kroDestroyObject(&arrays[array++], triangles))
    for (int i = 0; i < triangles; i++)
      for (int k = 0; k < widths[array]; k++)
        text += (snprintf(value, sizeof value, " %f", arrays[array][i][k]), value);
  return text;
}

void expectSameMesh(Loader *loader, const std::string &path, int number, bool texture_faces) {
  kroObject built[4] = {}, read[4] = {};
  char name[KRO_ASE_NAME_CHARS + 1] = "", read_name[KRO_ASE_NAME_CHARS + 1] = "";
  int triangles = -1, read_triangles = -1;
  loader(&built[0], &built[1], &built[2], &built[3], name, &triangles);
  kroLoadMeshxFromASE(&read[0], &read[1], &read[2], &read[3], number, path.c_str(), read_name,
                      &read_triangles);
  EXPECT_GT(read_triangles, 0) << path << " object " << number;
  EXPECT_EQ(dump(built, name, triangles, texture_faces),
            dump(read, read_name, read_triangles, texture_faces));
}

TEST_F(MeshSrcTest, GeneratedLoadersRebuildWhatTheReaderReads) {
  expectSameMesh(loadMeshTwoLeft, kData + "two_objects.ase", 1, true);
  expectSameMesh(loadMeshTwoRight, kData + "two_objects.ase", 2, false);
  // The base mesh of an object with a mesh animation block, and the object after it.
  expectSameMesh(loadMeshMorph, kData + "mesh_animation.ase", 1, false);
  expectSameMesh(loadMeshStill, kData + "mesh_animation.ase", 2, false);
  const std::string exporter = std::string(KRO_TEST_DATA) + "/third-party/assimp/";
  expectSameMesh(loadMeshCube, exporter + "RotatingCube.ASE", 1, true);
  expectSameMesh(loadMeshPlane01, exporter + "UVTransform_Normal.ASE", 1, true);
  const std::pair<std::string, std::vector<Loader *>> files[] = {
      {"exported_shapes.ase", {loadMeshSphere, loadMeshCylinder, loadMeshTorus}},
      // --auto names for "Box 01", "Box-01", "1st", "" and "Box_01_2".
      {"named_objects.ase",
       {loadMeshBox_01, loadMeshBox_01_2, loadMesh1st, loadMeshObject4, loadMeshBox_01_2_2}}};
  for (const auto &[file, loaders] : files)
    for (size_t i = 0; i < loaders.size(); i++)
      expectSameMesh(loaders[i], kData + file, (int)i + 1, true);
  EXPECT_EQ(kroTestHookCalls, 0);
}

// Into a pipe the tool writes every loader, and the pipe is not replaced by a file.
TEST_F(MeshSrcTest, ToolWritesIntoAPipe) {
  std::string two = kData + "two_objects.ase";
  std::string fifo = kroTestTempPath("tool.fifo"), copy = kroTestTempPath("tool.copy");
  // The reader gives up after a minute should the tool never open the pipe.
  std::string into_pipe =
      " L R -o " + fifo + " & timeout 60 cat " + fifo + " > " + copy + "; wait $!";
  struct stat info;
  ASSERT_EQ(system(("mkfifo " + fifo).c_str()), 0);
  EXPECT_EQ(kroTestRun(std::string(KROTOOL_PATH) + " mesh-src " + two + into_pipe).status, 0);
  EXPECT_TRUE(!stat(fifo.c_str(), &info) && S_ISFIFO(info.st_mode));
  std::string loaders = generate(kroTestReadFile(two), {"L", "R"});
  loaders.replace(loaders.find("}void loadMeshR"), 1, "}\n\n");
  EXPECT_EQ(kroTestReadFile(copy), "#include \"kro.h\"\n#include <string.h>\n\n" + loaders + "\n");
}

} // namespace
