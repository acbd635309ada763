// krotool as a user runs it: exit statuses, usage errors, and each
// subcommand's output on real files.
#include "gl_context.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>

namespace {

struct ToolRun {
  int status;
  std::string out; // standard output and standard error together
};

ToolRun krotool(const std::string &arguments) {
  std::string command = std::string(KROTOOL_PATH) + " " + arguments + " 2>&1";
  FILE *pipe = popen(command.c_str(), "r");
  ToolRun run = {-1, ""};
  if (!pipe)
    return run;
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
    run.out.append(buffer, got);
  int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

// A file under tests/data; a missing one fails the test by its name.
std::string dataFile(const std::string &name) {
  std::string path = std::string(KRO_TEST_DATA) + "/" + name;
  EXPECT_TRUE(kroTestFileExists(path)) << "missing test file " << path;
  return path;
}

TEST(KrotoolTest, UsageErrorsAndHelp) {
  EXPECT_EQ(krotool("").status, 2);
  ToolRun unknown = krotool("frobnicate");
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.out.find("unknown command"), std::string::npos);
  ToolRun help = krotool("--help");
  EXPECT_EQ(help.status, 0);
  for (const char *name :
       {"mesh-src", "ase-info", "bmp-resize", "png-info", "font-build", "font-info"}) {
    SCOPED_TRACE(name);
    EXPECT_NE(help.out.find(name), std::string::npos);
    ToolRun sub = krotool(std::string(name) + " --help");
    EXPECT_EQ(sub.status, 0);
    EXPECT_NE(sub.out.find(std::string("krotool ") + name), std::string::npos);
    EXPECT_EQ(krotool(name).status, 2); // no arguments at all
  }
  EXPECT_EQ(krotool("bmp-resize a.bmp b.bmp 8").status, 2);
  EXPECT_NE(krotool("bmp-resize a.bmp b.bmp 8 x").status, 0);
}

TEST(KrotoolTest, FailuresExitNonZero) {
  EXPECT_NE(krotool("mesh-src /no/such.ase Name").status, 0);
  EXPECT_NE(krotool("ase-info /no/such.ase").status, 0);
  EXPECT_NE(krotool("png-info " + dataFile("third-party/pngsuite/xs1n0g01.png")).status, 0);
  EXPECT_NE(krotool("font-info /no/such.krof").status, 0);
  std::string out = kroTestTempPath("refused.bmp");
  ToolRun deep = krotool("bmp-resize " + dataFile("bmp/imagemagick/rgb565-16bit-16x8.bmp") + " " +
                         out + " 4 4");
  EXPECT_NE(deep.status, 0);
  EXPECT_NE(deep.out.find(": not 24 bits per pixel"), std::string::npos) << deep.out;
  EXPECT_FALSE(kroTestFileExists(out));
}

TEST(KrotoolTest, SubcommandsDescribeRealFiles) {
  ToolRun ase = krotool("ase-info " + dataFile("third-party/assimp/RotatingCube.ASE"));
  EXPECT_EQ(ase.status, 0);
  EXPECT_NE(ase.out.find("geometry objects: 1"), std::string::npos);
  EXPECT_NE(ase.out.find("\"Box01\", 12 triangles"), std::string::npos);

  ToolRun png = krotool("png-info " + dataFile("third-party/pngsuite/basn0g08.png"));
  EXPECT_EQ(png.status, 0);
  EXPECT_NE(png.out.find("size: 32 x 32"), std::string::npos);

  std::string out = kroTestTempPath("half.bmp");
  ToolRun resize =
      krotool("bmp-resize " + dataFile("bmp/imagemagick/orange-16x8.bmp") + " " + out + " 8 4");
  EXPECT_EQ(resize.status, 0);
  int32_t size[2] = {0, 0};
  uint8_t *pixels = kroLoadBMP(out.c_str(), size);
  ASSERT_NE(pixels, nullptr);
  EXPECT_EQ(size[0], 8);
  EXPECT_EQ(size[1], 4);
  free(pixels);

  std::string source = kroTestTempPath("cube.cpp");
  ToolRun mesh =
      krotool("mesh-src " + dataFile("third-party/assimp/RotatingCube.ASE") + " Cube -o " + source);
  EXPECT_EQ(mesh.status, 0);
  std::string text = kroTestReadFile(source);
  EXPECT_EQ(text.rfind("void loadMeshCube(kroObject *op,", 0), 0u);
  EXPECT_NE(text.find("*triangles=12;"), std::string::npos);
}

} // namespace
