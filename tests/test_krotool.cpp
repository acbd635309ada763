// krotool as a user runs it, one group per subcommand: exit statuses, the
// reasons it gives, and what it writes for real files.
#include "gl_context.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <string>
#include <vector>

namespace {

struct ToolRun {
  int status = -1;
  std::string out, err;
};

ToolRun run(const std::string &command) {
  std::string out = kroTestTempPath("run.out"), err = kroTestTempPath("run.err");
  int status = system((command + " >" + out + " 2>" + err).c_str());
  ToolRun result;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = kroTestReadFile(out);
  result.err = kroTestReadFile(err);
  return result;
}

ToolRun krotool(const std::string &arguments) {
  return run(std::string(KROTOOL_PATH) + " " + arguments);
}

bool contains(const std::string &text, const std::string &part) {
  return text.find(part) != std::string::npos;
}

bool exists(const std::string &path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

const std::string kData = KRO_TEST_DATA, kThirdParty = kData + "/third-party";

TEST(Krotool, UsageHelpAndVersion) {
  EXPECT_EQ(krotool("").status, 2);
  ToolRun unknown = krotool("frobnicate");
  EXPECT_EQ(unknown.status, 2);
  EXPECT_TRUE(contains(unknown.err, "unknown command 'frobnicate'"));
  ToolRun version = krotool("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, std::string("krotool ") + KRO_VERSION_STRING + "\n");
  ToolRun help = krotool("--help");
  EXPECT_EQ(help.status, 0);
  for (const char *name :
       {"mesh-src", "ase-info", "bmp-resize", "png-info", "font-build", "font-info"}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(contains(help.out, name));
    ToolRun sub = krotool(std::string(name) + " --help");
    EXPECT_EQ(sub.status, 0);
    EXPECT_TRUE(contains(sub.out, std::string("krotool ") + name));
    EXPECT_EQ(krotool(name).status, 2); // no arguments at all
  }
}

// ---- mesh-src ---------------------------------------------------------------

const std::string kNamed = kData + "/ase/named_objects.ase";

// The usage errors are found before anything is read or written.
TEST(KrotoolMeshSrc, RefusesUnclearRequestsBeforeWriting) {
  const std::string out = kroTestTempPath("refused.cpp"), header = kroTestTempPath("refused.h");
  const std::string files = " -o " + out + " --header " + header;
  const struct {
    std::string arguments, reason;
  } refused[] = {
      {kNamed + " A B C D A", "NAME 'A' is given twice"},
      {kNamed + " A B C D", "5 objects to convert but 4 NAMEs were given"},
      {kNamed + " A B --object 1 --object 2 --object 3", "3 objects to convert but 2 NAMEs"},
      {kNamed + " --auto A", "give NAMEs or --auto, not both"},
      {kNamed, "missing NAME (or --auto)"},
      {kNamed + " A-1", "NAME 'A-1' may hold only letters, digits and '_'"},
      {kNamed + " --auto --object 6", "has no object '6'"},
      {kNamed + " --auto --object Box", "has no object 'Box'"},
      {kNamed + " --auto --object 1 --object 1", "object '1' is chosen twice"},
      {kNamed + " --auto --frobnicate", "unknown option '--frobnicate'"},
      {kNamed + " --auto --header", "--header needs a value"},
  };
  for (const auto &row : refused) {
    ToolRun tool = krotool("mesh-src" + files + " " + row.arguments);
    EXPECT_EQ(tool.status, 2) << row.arguments;
    EXPECT_TRUE(contains(tool.err, row.reason)) << row.arguments << "\n" << tool.err;
    EXPECT_FALSE(exists(out) || exists(header)) << row.arguments;
  }
  // A file that cannot be read is a failure, not a usage error; nothing is left.
  ToolRun broken = krotool("mesh-src " + kData + "/ase/bad_cut_in_number.ase X" + files);
  EXPECT_EQ(broken.status, 1);
  EXPECT_FALSE(exists(out) || exists(header) || exists(out + ".tmp"));
  EXPECT_EQ(krotool("mesh-src /no/such.ase X").status, 1);
}

// Loader names, in file order, of the functions in a generated source.
std::vector<std::string> loaderNames(const std::string &source) {
  std::vector<std::string> names;
  for (size_t at = source.find("void loadMesh"); at != std::string::npos;
       at = source.find("void loadMesh", at + 1))
    names.push_back(source.substr(at + 13, source.find('(', at) - at - 13));
  return names;
}

TEST(KrotoolMeshSrc, NamesChosenObjectsAndArrangesTheFile) {
  using Names = std::vector<std::string>;
  const struct {
    std::string arguments;
    Names loaders;
  } cases[] = {
      // Node names "Box 01", "Box-01", "1st", "" and "Box_01_2".
      {"--auto", {"Box_01", "Box_01_2", "1st", "Object4", "Box_01_2_2"}},
      {"--auto --object 2 --object Box_01_2", {"Box_01", "Box_01_2"}},
      {"--object 1st --object 1 Front Back", {"Front", "Back"}},
      {"a b c d e", {"a", "b", "c", "d", "e"}},
  };
  for (const auto &row : cases) {
    ToolRun tool = krotool("mesh-src " + kNamed + " " + row.arguments);
    ASSERT_EQ(tool.status, 0) << row.arguments << "\n" << tool.err;
    EXPECT_EQ(loaderNames(tool.out), row.loaders) << row.arguments;
    // The includes first; one blank line between functions; a line end last.
    EXPECT_EQ(tool.out.rfind("#include \"kro.h\"\n#include <string.h>\n\nvoid loadMesh", 0), 0u);
    EXPECT_EQ(tool.out.substr(tool.out.size() - 4), ";\n}\n");
    size_t starts = 0;
    for (size_t at = tool.out.find("}\n\nvoid loadMesh"); at != std::string::npos;
         at = tool.out.find("}\n\nvoid loadMesh", at + 1))
      starts++;
    EXPECT_EQ(starts + 1, row.loaders.size()) << row.arguments;
  }
}

// Mesh as text: node name, triangle count, then every row of positions,
// vertex normals, face normals and texture coordinates in exact hex floats.
// The same text is compiled into the program that runs the loaders.
#define KRO_TEST_DUMP_MESH                                                                         \
  void dumpMesh(FILE *out, kroObject *arrays, const char *name, int triangles) {                   \
    static const int widths[4] = {9, 9, 3, 6};                                                     \
    fprintf(out, "%s: %d\n", name, triangles);                                                     \
    for (int a = 0; a < 4; a++)                                                                    \
      for (int i = 0; i < triangles; i++)                                                          \
        for (int k = 0; k < widths[a]; k++)                                                        \
          fprintf(out, k + 1 < widths[a] ? "%a " : "%a\n", arrays[a][i][k]);                       \
    for (int a = 0; a < 4; a++)                                                                    \
      kroDestroyObject(&arrays[a], triangles);                                                     \
  }
KRO_TEST_DUMP_MESH
#define KRO_TEST_TEXT(...) #__VA_ARGS__
#define KRO_TEST_EXPANDED_TEXT(...) KRO_TEST_TEXT(__VA_ARGS__)

// What the reader loads from object `number` of path, as dumpMesh prints it.
std::string readerDump(const std::string &path, int number) {
  kroObject arrays[4] = {};
  char name[KRO_ASE_NAME_CHARS + 1] = "";
  int triangles = 0;
  kroLoadMeshxFromASE(&arrays[0], &arrays[1], &arrays[2], &arrays[3], number, path.c_str(), name,
                      &triangles);
  char *text = nullptr;
  size_t size = 0;
  FILE *out = open_memstream(&text, &size);
  dumpMesh(out, arrays, name, triangles);
  fclose(out);
  std::string dump(text, size);
  free(text);
  return dump;
}

// Converts an exporter's file and a file of awkward node names with automatic
// names, builds the sources with their headers into a program linked with the
// engine, and compares each loader's mesh with what the reader loads.
TEST(KrotoolMeshSrc, AutomaticLoadersCompileLinkAndRebuildTheReadersMeshes) {
  const struct {
    std::string model, stem;
    std::vector<std::string> loaders;
  } models[] = {
      {kThirdParty + "/assimp/UVTransform_Normal.ASE", "plane", {"Plane01"}},
      {kNamed, "named", {"Box_01", "Box_01_2", "1st", "Object4", "Box_01_2_2"}},
  };
  std::string dir = kroTestTempPath("program"), sources, expected;
  ASSERT_EQ(mkdir(dir.c_str(), 0777), 0);
  std::string main = "#include <stdio.h>\n";
  std::string calls;
  for (const auto &model : models) {
    std::string base = dir + "/" + model.stem;
    ToolRun tool =
        krotool("mesh-src " + model.model + " --auto -o " + base + ".cpp --header " + base + ".h");
    ASSERT_EQ(tool.status, 0) << tool.err;
    sources += " " + base + ".cpp";
    // Included twice: the guard holds.
    main += "#include \"" + model.stem + ".h\"\n#include \"" + model.stem + ".h\"\n";
    for (size_t i = 0; i < model.loaders.size(); i++) {
      calls += "  {\n    kroObject a[4] = {};\n    char name[256];\n    int triangles;\n"
               "    loadMesh" +
               model.loaders[i] +
               "(&a[0], &a[1], &a[2], &a[3], name, &triangles);\n"
               "    dumpMesh(stdout, a, name, triangles);\n  }\n";
      expected += readerDump(model.model, (int)i + 1);
    }
  }
  main += std::string(KRO_TEST_EXPANDED_TEXT(KRO_TEST_DUMP_MESH)) + "\nint main() {\n" + calls +
          "  return 0;\n}\n";
  kroTestWriteFile(dir + "/main.cpp", main);
  std::string program = dir + "/loaders";
  ToolRun build = run(std::string(KRO_CXX_COMPILER) + " -std=c++17 -Wall -Wextra -Werror " +
                      KRO_TEST_LINK_OPTIONS + " -I" + KRO_SOURCE_DIR + "/kro -o " + program + " " +
                      dir + "/main.cpp" + sources + " " + KRO_LIBRARY_PATH + " -lGL -lm");
  ASSERT_EQ(build.status, 0) << build.err;
  ToolRun loaded = run(program);
  EXPECT_EQ(loaded.status, 0) << loaded.err;
  EXPECT_EQ(loaded.out, expected);
  EXPECT_TRUE(contains(expected, "Plane01: 32\n") && contains(expected, "1st: 1\n"));
}

} // namespace
