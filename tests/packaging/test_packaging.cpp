// The engine as other productions use it: built alone, installed into a temporary prefix and
// found with find_package and with pkg-config, or pulled into a throwaway project with
// add_subdirectory; and the Makefile's strict setting, which refuses to leave the tests out.
#include "gl_context.h"

#include <algorithm>

namespace {

const std::string kSource = KRO_SOURCE_DIR;
const std::string kCMake = "'" KRO_CMAKE_COMMAND "'"; // one shell word

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

// The command that configures `source` into `build` with `options` and builds it (one command:
// kroTestRun catches all it prints), with this build's compiler launchers.
std::string cmake(const std::string &source, const std::string &build, const std::string &options) {
  std::string configure = kCMake + " -S " + shellWord(source) + " -B " + shellWord(build) + options;
  for (auto [language, launcher] : {std::pair{"C", KRO_C_LAUNCHER}, {"CXX", KRO_CXX_LAUNCHER}})
    if (*launcher)
      configure +=
          std::string(" -DCMAKE_") + language + "_COMPILER_LAUNCHER=" + shellWord(launcher);
  return "(" + configure + " && " + kCMake + " --build " + shellWord(build) + " -j2)";
}

// Every optional package lookup refused, `allowed` aside: the engine and krotool alone.
std::string refusedLookups(const std::string &allowed = "") {
  std::string refused;
  for (std::string package : {"GTest", "benchmark", "PNG", "SDL", "PkgConfig", "X11"})
    refused += " -DCMAKE_DISABLE_FIND_PACKAGE_" + package + (package == allowed ? "=OFF" : "=ON");
  return refused;
}

// An example's PNG shot (or a BMP picture), its pixels counted from the bottom left as GL gives
// them.
struct Shot : kroTestPng {
  using kroTestPng::kroTestPng;
  const unsigned char *at(int x, int y) const { return kroTestPng::at(x, height - 1 - y); }
  // The pixels from (x0, y0) up to (x1, y1), ends excluded, that pass `test`; all by default.
  long count(const std::function<bool(const uint8_t *)> &test, int x0 = 0, int y0 = 0,
             int x1 = 1 << 16, int y1 = 1 << 16) const {
    long n = 0;
    for (int y = y0; y < std::min(y1, height); y++)
      for (int x = x0; x < std::min(x1, width); x++)
        n += test(at(x, y));
    return n;
  }
  long all() const { return (long)width * height; }
};

bool near(const uint8_t *pixel, std::initializer_list<int> rgb, int tolerance) {
  return std::equal(rgb.begin(), rgb.end(), pixel,
                    [&](int c, int p) { return abs(p - c) <= tolerance; });
}

// What tests/packaging/engine_from_c.c prints before its shader folder: the engine's report of
// the missing picture, then what its error hook recorded.
const std::string kNoBMP = "Error in reading texture from no-such.bmp in function kroLoadBMP(..)";
const std::string kFromC =
    "bits 1 34 fffffffe\nobject 0.5 4.0\ndecode null cannot open the file\n" + kNoBMP +
    "\nhook 1 [" + kNoBMP + "]\n";

// sound: of the sixteen pattern-row cells along the bottom (y 22..36 from the bottom) one is lit
// yellow, of the four order-step cells above them (y 42..54) one blue, and the seconds bar
// (y 10..14, grey, 460 pixels for the song's 64 rows) ends within the row they show.
void expectSongPosition(const Shot &shot) {
  const double cell = 460.0 / 16;
  int rows = 0, steps = 0, row = -1, step = -1, bar = 0;
  for (int r = 0; r < 16; r++)
    if (near(shot.at((int)(10 + (r + 0.5) * cell), 29), {255, 230, 76}, 2))
      rows++, row = r;
  for (int s = 0; s < 4; s++)
    if (near(shot.at((int)(10 + (4 * s + 2) * cell), 48), {76, 204, 255}, 2))
      steps++, step = s;
  while (bar < 460 && near(shot.at(10 + bar, 12), {204, 204, 204}, 2))
    bar++;
  ASSERT_EQ(rows * 10 + steps, 11);
  EXPECT_GE(bar, (16 * step + row) * 460 / 64 - 1);
  EXPECT_LE(bar, (16 * step + row + 1) * 460 / 64 + 1);
}

// text: every font pixel of the title (32 x 32 a character from (16, 16)) and
// of the first line below it (16 x 16 from (16, 72)) is a sharp block in the
// ink colour where the glyph picture the font was built from is black, and
// the background elsewhere. Window coordinates from the top left, as the
// example's comment gives them.
void expectText(const Shot &shot) {
  const struct {
    std::string text;
    int top, cell;
    std::initializer_list<int> ink;
  } lines[] = {{"kro text", 16, 32, {255, 200, 60}},
               {"KROF fonts: one bit a pixel,", 72, 16, {140, 220, 255}}};
  for (const auto &line : lines)
    for (size_t i = 0; i < line.text.size(); i++) {
      Shot glyph(kSource + "/examples/text/glyphs/" +
                 std::to_string((int)(unsigned char)line.text[i]) + ".bmp");
      ASSERT_TRUE(glyph.width == 8 && glyph.height == 8) << line.text[i];
      int block = line.cell / 8, left = 16 + line.cell * (int)i,
          bottom = shot.height - line.top - line.cell;
      for (int gy = 0; gy < 8; gy++)
        for (int gx = 0; gx < 8; gx++)
          for (int corner : {0, block - 1}) { // both ends of the block: no blur, no shift
            const uint8_t *p = shot.at(left + block * gx + corner, bottom + block * gy + corner);
            bool ink = glyph.at(gx, gy)[0] < 128;
            ASSERT_TRUE(ink ? near(p, line.ink, 2) : near(p, {26, 31, 41}, 2))
                << "'" << line.text[i] << "' pixel " << gx << ", " << gy << ": red " << (int)p[0];
          }
    }
}

// post: each one-pixel grid line (columns 20, 60, 100, row 20, from the bottom left, white on a
// background without red) comes through the blur as half itself plus half the mean of its 3 x 3
// neighbourhood: 170 on the line, 42 or 43 beside it, nothing two pixels away.
void expectBlurredGrid(const Shot &shot) {
  const int across[5] = {0, 42, 170, 42, 0};
  for (int d = -2; d <= 2; d++) {
    for (int x : {20, 60, 100})
      for (int y = 4; y < 16; y += 5)
        EXPECT_NEAR(shot.at(x + d, y)[0], across[d + 2], across[d + 2] ? 2 : 0)
            << x + d << ", " << y;
    EXPECT_NEAR(shot.at(5, 20 + d)[0], across[d + 2], across[d + 2] ? 2 : 0) << "5, " << 20 + d;
  }
}

// terrain: the land (what is not sky) in the same place in both pictures,
// shaded unevenly, and shaded otherwise once the lights have turned 90 degrees.
void expectMovingLight(const Shot &a, const Shot &b) {
  ASSERT_EQ(a.rgb.size(), b.rgb.size());
  auto land = [](const uint8_t *p) { return !near(p, {140, 179, 230}, 10); };
  long land_a = a.count(land), moved = 0, changed = 0, lo = 255, hi = 0;
  EXPECT_TRUE(land_a > a.all() / 5 && land_a < a.all() * 4 / 5) << land_a;
  for (int y = 0; y < a.height; y++)
    for (int x = 0; x < a.width; x++) {
      const uint8_t *p = a.at(x, y), *q = b.at(x, y);
      moved += land(p) != land(q);
      if (land(p) && land(q)) {
        changed += abs(p[1] - q[1]) > 20;
        lo = std::min<long>(lo, p[1]), hi = std::max<long>(hi, p[1]);
      }
    }
  EXPECT_LT(moved, land_a / 100);
  EXPECT_GT(hi - lo, 60);
  EXPECT_GT(changed, land_a / 10);
}

// The hues of the materials the examples share.
const auto red = [](const uint8_t *p) { return p[0] > 40 && p[0] > 2 * p[1] && p[0] > 2 * p[2]; };
const auto blue = [](const uint8_t *p) { return p[2] > 60 && p[2] > 2 * p[0] && p[2] > p[1] + 20; };

// minimal: a lit green cube in the middle of a dark clear colour.
void expectLitCube(const Shot &shot) {
  const uint8_t *corner = shot.at(0, 0);
  EXPECT_TRUE(corner[0] < 30 && corner[1] < 30 && corner[2] < 40);
  long covered = shot.count([&](const uint8_t *p) { return memcmp(p, corner, 3) != 0; });
  EXPECT_TRUE(covered > shot.all() / 20 && covered < shot.all() / 2) << covered;
  auto green = [](const uint8_t *p) { return p[1] > 60 && p[1] > 2 * p[0] && p[1] > 2 * p[2]; };
  EXPECT_GT(shot.count(green), shot.all() / 40); // the lit program's green, not fixed white
  EXPECT_GT(shot.at(160, 120)[1], shot.at(160, 120)[0]);
}

// runtime-model: the three objects of shapes.ase, each in its material's hue
// (brick red, glaze blue, moss green), lit: bright where the lights fall and
// dim away from them, which they could not be without normals.
void expectShapes(const Shot &shot) {
  auto green = [](const uint8_t *p) { return p[1] > 40 && p[1] > 2 * p[0] && p[1] > 2 * p[2]; };
  for (auto hue : {+red, +blue, +green})
    EXPECT_GT(shot.count(hue), shot.all() / 100);
  EXPECT_GT(shot.count([&](const uint8_t *p) { return red(p) && p[0] > 180; }), 20);
  EXPECT_GT(shot.count([&](const uint8_t *p) { return red(p) && p[0] < 100; }), 20);
}

// textured: the torus read at run time (left half) and compiled in (right half), each showing
// its picture's blue tiles, which its orange material colour alone has none of.
void expectTextured(const Shot &shot) {
  auto tile = [](const uint8_t *p) { return p[2] > 80 && p[2] > p[0] + 40 && p[2] > p[1]; };
  EXPECT_GT(shot.count(tile, 0, 0, 320, 320), 320L * 320 / 100) << "run time";
  EXPECT_GT(shot.count(tile, 320, 0, 640, 320), 320L * 320 / 100) << "compiled in";
}

// scene: the three objects of scene.ase in their materials' hues (clay orange, glaze blue, steel
// grey), lit, the clay map's green squares (clay.bmp) on the sphere, and the line of text in white,
// 16 pixels tall from (8, 8) at the bottom left, with only the background above and below it.
void expectScene(const Shot &shot) {
  auto orange = [](const uint8_t *p) { return p[0] > 60 && p[0] > p[1] + 20 && p[1] > p[2] + 10; };
  auto grey = [](const uint8_t *p) {
    return p[0] > 60 && abs(p[0] - p[1]) < 12 && p[2] >= p[0] && p[2] - p[0] < 20;
  };
  auto green = [](const uint8_t *p) { return p[1] > 60 && p[1] > p[0] + 20 && p[1] > p[2] + 20; };
  for (auto hue : {+orange, +blue, +grey, +green})
    EXPECT_GT(shot.count(hue), shot.all() / 400);
  auto white = [](const uint8_t *p) { return near(p, {255, 255, 255}, 3); };
  auto lit = [](const uint8_t *p) { return p[0] > 20 || p[1] > 20 || p[2] > 20; };
  EXPECT_GT(shot.count(white, 0, 8, 200, 24), 200);
  EXPECT_EQ(shot.count(lit, 0, 0, 200, 8) + shot.count(lit, 0, 24, 200, 48), 0);
}

// flight: Blender's camera flight over its checkered town, the sky above and both checker hues
// below; the block at the foot of the view changes as the camera flies on: red at the start,
// green at 1.5 s (a sixth of the way round the town, as make-flight.py keys it).
void expectFlight(const Shot &start, const Shot &later) {
  auto orange = [](const uint8_t *p) { return p[0] > 150 && p[1] > 90 && p[2] < 110; };
  for (const Shot *shot : {&start, &later})
    EXPECT_TRUE(near(shot->at(320, 350), {140, 178, 230}, 3) &&
                shot->count(orange) > shot->all() / 20 && shot->count(blue) > shot->all() / 20);
  EXPECT_TRUE(near(start.at(320, 20), {237, 91, 91}, 40)) << "red block ahead";
  EXPECT_TRUE(near(later.at(320, 20), {98, 239, 136}, 40)) << "green block ahead";
}

// The documented install line on a machine that has only a compiler, CMake, GL and zlib: every
// optional part is skipped with a line naming what it lacks, or, with the Makefile's strict
// setting, the configuration stops. With SDL 1.2 as well, the install has the application layer,
// and then serves every example, the documented pkg-config lines and a C program.
TEST(Packaging, EngineAloneInstallsAndEveryExampleRunsFromIt) {
  std::string root = kroTestTempFolder("installed"), build = root + "/engine",
              prefix = root + "/prefix", examples = root + "/examples", printed;
  std::string demo = kroTestTempFolder("installed/demo"); // a production of a user's own
  ASSERT_TRUE(run(cmake(kSource, build, refusedLookups()), &printed));
  for (const char *skipped :
       {"kro: skipping tests: GoogleTest (libgtest-dev), SDL 1.2 (libsdl1.2-dev)",
        "kro: skipping bench: Google Benchmark (libbenchmark-dev)",
        "kro: skipping viewer: SDL 1.2 (libsdl1.2-dev), libpng (libpng-dev) not found\n",
        "kro: skipping intro: SDL 1.2 (libsdl1.2-dev) not found\n",
        "kro: skipping zkcapture: SDL 1.2 (libsdl1.2-dev), libpng (libpng-dev) not found\n",
        "kro: skipping kroapp: SDL 1.2 (libsdl1.2-dev) not found\n"})
    EXPECT_TRUE(kroTestHas(printed, skipped)) << skipped << "\n" << printed;
  for (const char *absent : {"tests", "bench", "viewer", "generated"})
    EXPECT_FALSE(kroTestFileExists(build + "/" + absent)) << absent;
  // The strict setting the Makefile's targets configure with stops there instead, naming the
  // tests' library.
  std::string plan = kroTestRun("cd " + shellWord(kSource) +
                                " && make -n configure BUILD=" + shellWord(root + "/strict"))
                         .out;
  size_t at = plan.find("cmake -S . -B ");
  ASSERT_NE(at, std::string::npos) << plan;
  std::string strict = plan.substr(at, plan.find('\n', at) - at);
  ASSERT_TRUE(kroTestHas(strict, "-DKRO_REQUIRE=\"all\"")) << strict;
  kroTestOutcome stopped = kroTestRun("cd " + shellWord(kSource) + " && " +
                                      strict.insert(5, " -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON"));
  EXPECT_NE(stopped.status, 0);
  EXPECT_TRUE(
      kroTestHas(stopped.err, "kro: tests needs GoogleTest (libgtest-dev), which was not found"))
      << stopped.err;
  // The application layer is the engine's too, on SDL 1.2: the install has it (the intro, which
  // would come with SDL, stays off).
  ASSERT_TRUE(run(cmake(kSource, build,
                        refusedLookups("SDL") +
                            " -DKRO_BUILD_INTRO=OFF -DCMAKE_INSTALL_PREFIX=" + shellWord(prefix)),
                  &printed));
  EXPECT_FALSE(kroTestHas(printed, "kro: skipping kroapp")) << printed;
  ASSERT_TRUE(run(kCMake + " --install " + shellWord(build) + " --prefix " + shellWord(prefix)));
  // The layout docs/engine.md documents, which users' own scripts may name.
  for (const char *file :
       {"include/kro/kro.h", "lib/libkro.a", "bin/krotool", "share/kro/sh/ish/b.vert",
        "share/kro/sh/psh/b.frag", "lib/cmake/kro/kroConfig.cmake",
        "lib/cmake/kro/kroConfigVersion.cmake", "lib/pkgconfig/kro.pc", "include/kro/kroapp.h",
        "lib/libkroapp.a", "lib/pkgconfig/kroapp.pc", "share/kro/fonts/kroview.krof",
        "share/kro/presets/kick.song", "bin/kroplay"})
    EXPECT_TRUE(kroTestFileExists(prefix + "/" + file)) << file;
  ASSERT_TRUE(run(kCMake + " -E copy_directory " + shellWord(kSource + "/examples") + " " +
                  shellWord(examples)));

  // The installed krotool writes the loader the minimal example carries.
  std::string minimal = examples + "/minimal";
  EXPECT_TRUE(run("cd " + shellWord(minimal) + " && " + shellWord(prefix + "/bin/krotool") +
                  " mesh-src cube.ase Cube -o fresh.cpp && cmp fresh.cpp loaders/cube_mesh.cpp"));
  // A song naming a preset plays from a working folder without presets/: the installed ones.
  kroTestWriteFile(root + "/kick.song", "instrument k\npreset kick\nchannel c\ninstrument k\n"
                                        "pattern 0\n0 C-2\norder\n0\n");
  EXPECT_TRUE(run("cd " + shellWord(root) + " && " + shellWord(prefix + "/bin/krotool") +
                  " song-wav kick.wav kick.song && " + shellWord(prefix + "/bin/kroplay") +
                  " kick.song --wav kick2.wav && cmp kick.wav kick2.wav"));

  // Every example with find_package(kro), warnings as errors, run for a few frames in `root`, a
  // working folder without sh/ (the shader files must come from the installed folder), twice: it
  // reports nothing, its picture has its window's size and shows what the example promises, and
  // the second run's picture is the first's, byte for byte.
  std::string out = examples + "/build", found = " -DCMAKE_PREFIX_PATH=" + shellWord(prefix);
  ASSERT_TRUE(run(cmake(examples, out, found + " '-DCMAKE_CXX_FLAGS=-Wall -Wextra -Werror'")));
  std::string in_root = "cd " + shellWord(root) + " && SDL_AUDIODRIVER=dummy " +
                        shellWord(kSource + "/tools/with-display") + " ";
  auto expectExample = [&](const std::string &program, int frames, int width, int height,
                           const std::function<void(const Shot &)> &expect) {
    std::string shot =
        root + "/" + program.substr(program.rfind('/') + 1) + "-" + std::to_string(frames) + ".png";
    for (const std::string &to : {shot + ".first", shot}) {
      ASSERT_TRUE(run(in_root + shellWord(program) + " --frames " + std::to_string(frames) +
                          " --shot " + shellWord(to),
                      &printed));
      EXPECT_EQ(printed, "") << program;
    }
    EXPECT_TRUE(kroTestReadFile(shot + ".first") == kroTestReadFile(shot)) << shot;
    Shot picture(shot);
    ASSERT_TRUE(picture.width == width && picture.height == height) << shot;
    expect(picture);
  };
  expectExample(out + "/minimal/minimal", 4, 320, 240, expectLitCube);
  expectExample(out + "/runtime-model", 2, 480, 320, expectShapes);
  expectExample(out + "/text", 1, 480, 200, expectText);
  expectExample(out + "/post", 2, 480, 320, expectBlurredGrid);
  expectExample(out + "/scene", 2, 640, 360, expectScene);
  expectExample(out + "/textured", 2, 640, 320, expectTextured);
  // Under --frames the song's position is the application's time, not the device's: 0.65 s at
  // the 40th frame (a bar of 37.4 pixels).
  expectExample(out + "/sound", 40, 480, 320, [&](const Shot &shot) {
    expectSongPosition(shot);
    EXPECT_TRUE(near(shot.at(46, 12), {204, 204, 204}, 2) && shot.at(48, 12)[0] < 100);
  });
  // timing: the middle cube in the colour its tracks give, red at the start, turned cyan at row
  // 32 (4 s, the 241st frame), the music rendered by the build beside it.
  auto cyan = [](const uint8_t *p) { return p[2] > 60 && p[1] > 60 && p[1] > 2 * p[0]; };
  for (auto [frames, hue, other] : {std::tuple{2, +red, +cyan}, {241, +cyan, +red}})
    expectExample(out + "/timing", frames, 640, 360, [&, hue = hue, other = other](const Shot &s) {
      EXPECT_GT(s.count(hue), s.all() / 200);
      EXPECT_EQ(s.count(other), 0);
    });
  EXPECT_TRUE(kroTestFileExists(out + "/timing.wav"));
  expectExample(out + "/flight", 2, 640, 360, [](const Shot &) {});
  expectExample(out + "/flight", 90, 640, 360,
                [&](const Shot &later) { expectFlight(Shot(root + "/flight-2.png"), later); });
  expectExample(out + "/terrain", 1, 480, 320, [](const Shot &) {});
  expectExample(out + "/terrain", 31, 480, 320, [&](const Shot &later) {
    expectMovingLight(Shot(root + "/terrain-1.png"), later);
  });

  // find_package with a version the install does not satisfy.
  kroTestWriteFile(root + "/CMakeLists.txt",
                   "cmake_minimum_required(VERSION 3.16)\nproject(other C CXX)\n"
                   "find_package(kro 2.0 REQUIRED)\n");
  kroTestOutcome other = kroTestRun(cmake(root, root + "/other", found));
  EXPECT_TRUE(other.status != 0 && kroTestHas(other.err, "requested version \"2.0\"")) << other.err;

  // pkg-config: the one line of the minimal example's README and of the engine's page that
  // starts with `c++` and links SDL, as a user types it, in the example's folder and in a
  // production's own, which names no shader folder: run in `root`, the installed engine finds
  // its own.
  std::string pkg =
      "PKG_CONFIG_PATH=" + shellWord(prefix + "/lib/pkgconfig") + "; export PKG_CONFIG_PATH; ";
  kroTestWriteFile(
      demo + "/demo.cpp",
      "#include <kro/kro.h>\n#include <SDL/SDL.h>\nint main() {\n"
      "  if (SDL_Init(SDL_INIT_VIDEO) != 0 || !SDL_SetVideoMode(64, 64, 32, SDL_OPENGL))\n"
      "    return 1;\n  kroInit(64, 64);\n"
      "  printf(\"programs not built: %d\\n\", kroInitStatus());\n"
      "  SDL_GL_SwapBuffers();\n  SDL_Quit();\n  return 0;\n}\n");
  for (auto [page, folder] :
       {std::pair{minimal + "/README.md", minimal}, {kSource + "/docs/engine.md", demo}}) {
    std::string line =
        kroTestRun("grep '^c++ .*pkg-config --cflags --libs kro' " + shellWord(page)).out;
    ASSERT_EQ(std::count(line.begin(), line.end(), '\n'), 1) << page << ": " << line;
    ASSERT_TRUE(run(pkg + "cd " + shellWord(folder) + " && " + line));
  }
  expectExample(minimal + "/minimal", 4, 320, 240, expectLitCube);
  ASSERT_TRUE(run(in_root + shellWord(demo + "/demo"), &printed));
  EXPECT_EQ(printed, "programs not built: 0\n");

  // A C99 program, strict, through pkg-config.
  std::string c_program = root + "/engine_from_c";
  ASSERT_TRUE(run(pkg + shellWord(KRO_C_COMPILER) + " -std=c99 -Wall -Wextra -pedantic -Werror " +
                      shellWord(kSource + "/tests/packaging/engine_from_c.c") + " -o " +
                      shellWord(c_program) + " $(pkg-config --cflags --libs kro)" +
                      " -DKRO_SHADER_DIR='\"/opt/shaders\"' && " + shellWord(c_program),
                  &printed));
  EXPECT_EQ(printed, kFromC + "shaders /opt/shaders\n");
  removeWhenPassed(root);
}

// A project that pulls the engine in with add_subdirectory gets the library, its headers in both
// spellings and the shader folder, and builds nothing else: every lookup the tests, benchmarks,
// tools and intro make is refused.
TEST(Packaging, SubdirectoryBuildsOnlyTheEngine) {
  std::string project = kroTestTempFolder("consumer"), build = project + "/build", printed;
  kroTestWriteFile(project + "/CMakeLists.txt",
                   "cmake_minimum_required(VERSION 3.16)\nproject(consumer C CXX)\n"
                   "add_subdirectory(" +
                       kSource + " kro)\nadd_executable(consumer " + kSource +
                       "/tests/packaging/engine_from_c.c)\n"
                       "target_compile_definitions(consumer PRIVATE "
                       "KRO_SHADER_DIR=\"${KRO_SHADER_DIR}\")\n"
                       "target_link_libraries(consumer PRIVATE kro::kro)\n");
  ASSERT_TRUE(run(cmake(project, build, refusedLookups())));
  EXPECT_TRUE(kroTestFileExists(build + "/kro/libkro.a"));
  for (const char *absent : {"kro/tools", "kro/tests", "kro/bench", "kro/generated"})
    EXPECT_FALSE(kroTestFileExists(build + "/" + absent)) << absent;
  ASSERT_TRUE(run(shellWord(build + "/consumer"), &printed));
  EXPECT_EQ(printed, kFromC + "shaders " + kSource + "/sh\n");
  removeWhenPassed(project);
}

} // namespace
