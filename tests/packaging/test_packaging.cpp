// The engine as other productions use it: installed into a temporary prefix
// and found with find_package and with pkg-config (the minimal example built
// from a copy outside the source tree, run, and its picture checked; a C
// program compiled and run), and pulled into a throwaway project with
// add_subdirectory, which builds only the engine.
#include "gl_context.h"

namespace {

const std::string kSource = KRO_SOURCE_DIR;
const std::string kBuild = KRO_BUILD_DIR;
const std::string kCMake = "'" KRO_CMAKE_COMMAND "'"; // one shell word
const std::string kWithDisplay = kSource + "/tools/with-display";

// One shell word (paths here hold no quote).
std::string shellWord(const std::string &text) {
  return "'" + text + "'";
}

// Removes a test's folder when the test passed; a failed test keeps it.
void removeWhenPassed(const std::string &folder) {
  if (!testing::Test::HasFailure()) {
    EXPECT_EQ(system(("rm -rf " + shellWord(folder)).c_str()), 0);
  }
}

// Runs a shell command, which must succeed; `printed` gets what it printed.
bool run(const std::string &command, std::string *printed = nullptr) {
  kroTestOutcome result = kroTestRun(command);
  if (result.status != 0)
    ADD_FAILURE() << command << "\n" << result.out << result.err;
  if (printed)
    *printed = result.out + result.err;
  return result.status == 0;
}

// What the example drew: a lit green cube in the middle of a dark clear colour.
void expectLitCube(const std::string &picture) {
  int32_t size[2] = {0, 0};
  uint8_t *pixels = kroLoadBMP(picture.c_str(), size);
  ASSERT_NE(pixels, nullptr) << picture;
  ASSERT_TRUE(size[0] == 320 && size[1] == 240);
  auto at = [&](int x, int y) { return pixels + 4 * ((size_t)y * size[0] + x); };
  const uint8_t *corner = at(0, 0);
  EXPECT_TRUE(corner[0] < 30 && corner[1] < 30 && corner[2] < 40) << picture;
  long covered = 0, green = 0;
  for (int y = 0; y < size[1]; y++)
    for (int x = 0; x < size[0]; x++) {
      const uint8_t *p = at(x, y);
      if (p[0] != corner[0] || p[1] != corner[1] || p[2] != corner[2])
        covered++;
      if (p[1] > 60 && p[1] > 2 * p[0] && p[1] > 2 * p[2])
        green++; // the lit program's green material, not the fixed white
    }
  long all = (long)size[0] * size[1];
  EXPECT_TRUE(covered > all / 20 && covered < all / 2) << picture << ": " << covered;
  EXPECT_GT(green, all / 40) << picture;
  const uint8_t *middle = at(size[0] / 2, size[1] / 2);
  EXPECT_GT(middle[1], middle[0]) << picture;
  free(pixels);
}

// Runs the example from a working folder without sh/: the shader files must
// come from the installed folder, and the engine must report nothing.
void runExample(const std::string &program, const std::string &root) {
  std::string shot = program + ".bmp", printed;
  ASSERT_TRUE(run("cd " + shellWord(root) + " && SDL_AUDIODRIVER=dummy " + shellWord(kWithDisplay) +
                      " " + shellWord(program) + " --frames 4 --shot " + shellWord(shot),
                  &printed));
  EXPECT_EQ(printed, "") << program;
  expectLitCube(shot);
}

TEST(Packaging, InstalledEngineBuildsWithFindPackageAndPkgConfigAndFromC) {
  std::string root = kroTestTempPath("installed"), prefix = root + "/prefix",
              example = root + "/minimal", printed;
  ASSERT_TRUE(run("mkdir -p " + shellWord(root)));
  ASSERT_TRUE(run(kCMake + " --install " + shellWord(kBuild) + " --prefix " + shellWord(prefix)));
  // The layout the README documents, which users' own scripts may name.
  for (const char *file :
       {"include/kro/kro.h", "lib/libkro.a", "bin/krotool", "share/kro/sh/ish/b.vert",
        "share/kro/sh/psh/b.frag", "lib/cmake/kro/kroConfig.cmake",
        "lib/cmake/kro/kroConfigVersion.cmake", "lib/pkgconfig/kro.pc"})
    EXPECT_TRUE(kroTestFileExists(prefix + "/" + file)) << file;
  ASSERT_TRUE(run(kCMake + " -E copy_directory " + shellWord(kSource + "/examples/minimal") + " " +
                  shellWord(example)));

  // The installed krotool writes the loader the example carries.
  ASSERT_TRUE(run("cd " + shellWord(example) + " && " + shellWord(prefix + "/bin/krotool") +
                  " mesh-src cube.ase Cube -o fresh.cpp"));
  EXPECT_EQ(kroTestReadFile(example + "/fresh.cpp"),
            kroTestReadFile(example + "/loaders/cube_mesh.cpp"));

  // find_package(kro), a version it satisfies, and one it does not.
  ASSERT_TRUE(run(kCMake + " -S " + shellWord(example) + " -B " + shellWord(example + "/build") +
                  " -DCMAKE_PREFIX_PATH=" + shellWord(prefix)));
  ASSERT_TRUE(run(kCMake + " --build " + shellWord(example + "/build") + " -j2"));
  runExample(example + "/build/minimal", root);
  kroTestWriteFile(root + "/CMakeLists.txt",
                   "cmake_minimum_required(VERSION 3.16)\nproject(other NONE)\n"
                   "find_package(kro 2.0 REQUIRED)\n");
  EXPECT_NE(kroTestRun(kCMake + " -S " + shellWord(root) + " -B " + shellWord(root + "/other") +
                       " -DCMAKE_PREFIX_PATH=" + shellWord(prefix))
                .status,
            0);

  // pkg-config: the README's one line that starts with `c++`, as a user types it.
  std::string line = kroTestRun("grep '^c++ ' " + shellWord(example + "/README.md")).out;
  ASSERT_TRUE(kroTestHas(line, "pkg-config --cflags --libs kro")) << line;
  std::string pkg =
      "PKG_CONFIG_PATH=" + shellWord(prefix + "/lib/pkgconfig") + "; export PKG_CONFIG_PATH; ";
  ASSERT_TRUE(run(pkg + "cd " + shellWord(example) + " && " + line));
  runExample(example + "/minimal", root);

  // A C99 program, strict, through pkg-config.
  std::string c_program = root + "/engine_from_c";
  ASSERT_TRUE(run(pkg + shellWord(KRO_C_COMPILER) + " -std=c99 -Wall -Wextra -pedantic -Werror " +
                  shellWord(kSource + "/tests/packaging/engine_from_c.c") + " -o " +
                  shellWord(c_program) + " $(pkg-config --cflags --libs kro)"));
  ASSERT_TRUE(run(shellWord(c_program), &printed));
  EXPECT_EQ(printed,
            "bits 1 34 fffffffe\n"
            "object 0.5 4.0\n"
            "decode null cannot open the file\n"
            "Error in reading texture from no-such.bmp in function kroLoadBMP(..)\n"
            "hook 1 [Error in reading texture from no-such.bmp in function kroLoadBMP(..)]\n"
            "shaders /opt/shaders\n");
  removeWhenPassed(root);
}

TEST(Packaging, SubdirectoryBuildsOnlyTheEngine) {
  std::string project = kroTestTempPath("consumer"), build = project + "/build", printed;
  ASSERT_TRUE(run("mkdir -p " + shellWord(project)));
  kroTestWriteFile(
      project + "/CMakeLists.txt",
      "cmake_minimum_required(VERSION 3.16)\n"
      "project(consumer C CXX)\n"
      "add_subdirectory(" +
          kSource +
          " kro)\n"
          "add_executable(consumer consumer.c)\n"
          "target_compile_definitions(consumer PRIVATE KRO_SHADER_DIR=\"${KRO_SHADER_DIR}\")\n"
          "target_link_libraries(consumer PRIVATE kro::kro)\n");
  kroTestWriteFile(project + "/consumer.c",
                   "#include \"kro.h\"\n"
                   "int main(void) {\n"
                   "  kroSetShaderFolder(KRO_SHADER_DIR);\n"
                   "  FILE *f = fopen(KRO_SHADER_DIR \"/ish/b.vert\", \"r\");\n"
                   "  printf(\"%s %s\\n\", kroGetShaderFolder(), f ? \"found\" : \"missing\");\n"
                   "  return f ? 0 : 1;\n"
                   "}\n");
  // Every lookup the tests, benchmarks, tools and intro make is refused: the
  // engine alone must not need them.
  std::string refused;
  for (const char *package : {"GTest", "benchmark", "PNG", "SDL", "PkgConfig", "X11"})
    refused += std::string(" -DCMAKE_DISABLE_FIND_PACKAGE_") + package + "=ON";
  ASSERT_TRUE(run(kCMake + " -S " + shellWord(project) + " -B " + shellWord(build) + refused));
  ASSERT_TRUE(run(kCMake + " --build " + shellWord(build) + " -j2"));
  EXPECT_TRUE(kroTestFileExists(build + "/kro/libkro.a"));
  for (const char *absent : {"kro/tools", "kro/tests", "kro/bench", "kro/generated"})
    EXPECT_FALSE(kroTestFileExists(build + "/" + absent)) << absent;
  ASSERT_TRUE(run(shellWord(build + "/consumer"), &printed));
  EXPECT_EQ(printed, kSource + "/sh found\n");
  removeWhenPassed(project);
}

} // namespace
