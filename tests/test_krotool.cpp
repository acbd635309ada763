// krotool as a user runs it, one group per subcommand: exit statuses, the
// reasons it gives, and what it writes for real files.
#include "gl_context.h"

#include <filesystem>
#include <unistd.h>

namespace {

kroTestOutcome krotool(const std::string &arguments) {
  return kroTestRun(std::string(KROTOOL_PATH) + " " + arguments);
}

// Runs krotool, which must end with `status` and name `reason` on standard error.
kroTestOutcome expectRefusal(const std::string &arguments, int status, const std::string &reason) {
  kroTestOutcome tool = krotool(arguments);
  EXPECT_EQ(tool.status, status) << arguments;
  EXPECT_TRUE(kroTestHas(tool.err, reason)) << arguments << "\n" << tool.err;
  return tool;
}

// `command` refuses `file`: status 1, nothing on standard output, one line on
// standard error naming the file and the reason.
void expectUnusable(const std::string &command, const std::string &file,
                    const std::string &reason) {
  kroTestOutcome tool = krotool(command + " " + file);
  EXPECT_TRUE(tool.status == 1 && tool.out.empty()) << tool.status << tool.out;
  EXPECT_EQ(tool.err, "krotool " + command + ": " + file + ": " + reason + "\n");
}

const std::string kData = KRO_TEST_DATA, kThirdParty = kData + "/third-party";

// Usage and version; each subcommand's help, a call without arguments (a usage
// error), and for those that read one file, a missing file or a folder.
TEST(Krotool, UsageHelpVersionAndUnreadablePaths) {
  kroTestOutcome version = krotool("--version"), help = krotool("--help");
  EXPECT_TRUE(krotool("").status == 2 && version.status == 0 && help.status == 0);
  expectRefusal("frobnicate", 2, "unknown command 'frobnicate'");
  EXPECT_EQ(version.out, std::string("krotool ") + KRO_VERSION_STRING + "\n");
  for (std::string name :
       {"mesh-src", "ase-info", "scene-info", "image-info", "bmp-resize", "png-info", "font-build",
        "font-info", "song-wav", "midi-song", "song-src", "sync-src"}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(kroTestHas(help.out, name));
    kroTestOutcome sub = krotool(name + " --help");
    EXPECT_TRUE(sub.status == 0 && kroTestHas(sub.out, "krotool " + name));
    EXPECT_EQ(krotool(name).status, 2);
    if (name.find("-info") != std::string::npos) {
      expectUnusable(name, "/no/such.file", "No such file or directory");
      expectUnusable(name, kData, "a folder, not a file");
    }
  }
}

const std::string kNamed = kData + "/ase/named_objects.ase";

// Loader names, in file order, of the functions in a generated source.
std::vector<std::string> loaderNames(const std::string &source) {
  std::vector<std::string> names;
  for (size_t at = source.find("void loadMesh"); at != std::string::npos;
       at = source.find("void loadMesh", at + 1))
    names.push_back(source.substr(at + 13, source.find('(', at) - at - 13));
  return names;
}

// Usage errors exit with 2 and leave neither the source nor the header; clear
// requests name the chosen objects' loaders.
TEST(KrotoolMeshSrc, RefusesUnclearRequestsBeforeWritingAndNamesChosenObjects) {
  const std::string out = kroTestTempPath("refused.cpp"), header = kroTestTempPath("refused.h");
  const std::string files = " -o " + out + " --header " + header;
  const std::pair<std::string, std::string> refused[] = {
      {"A B C D A", "NAME 'A' is given twice"},
      {"A B C D", "5 objects to convert but 4 NAMEs were given"},
      {"A B --object 1 --object 2 --object 3", "3 objects to convert but 2 NAMEs"},
      {"--auto A", "give NAMEs or --auto, not both"},
      {"", "missing NAME (or --auto)"},
      {"A-1", "NAME 'A-1' may hold only letters, digits and '_'"},
      {"--auto --object 6", "has no object '6'"},
      {"--auto --object Box", "has no object 'Box'"},
      {"--auto --object 1 --object 1", "object '1' is chosen twice"},
      {"--auto --object 1 --object 'Box 01'", "object 1 is chosen twice, as '1' and as 'Box 01'"},
      {"--auto --object 1st --object 3", "object 3 is chosen twice, as '1st' and as '3'"},
      {"--auto --frobnicate", "unknown option '--frobnicate'"},
      {"--auto --header", "--header needs a value"},
      {"--auto --table", "--table needs a value"},
  };
  for (const auto &[arguments, reason] : refused) {
    expectRefusal("mesh-src" + files + " " + kNamed + " " + arguments, 2, reason);
    EXPECT_FALSE(kroTestFileExists(out) || kroTestFileExists(header)) << arguments;
  }
  // A file that cannot be read is a failure, not a usage error; nothing is left.
  EXPECT_EQ(krotool("mesh-src " + kData + "/ase/bad_cut_in_number.ase X" + files).status, 1);
  EXPECT_FALSE(kroTestFileExists(out) || kroTestFileExists(header) ||
               kroTestFileExists(out + ".tmp"));
  EXPECT_EQ(krotool("mesh-src /no/such.ase X").status, 1);
  expectRefusal("mesh-src " + kNamed + " --auto --bounds", 2,
                "--bounds writes into the header: give --header OUT.h too");
  const std::string faceless = kroTestTempPath("faceless.obj");
  kroTestWriteFile(faceless, "v 0 0 0\n");
  expectRefusal("mesh-src " + faceless + " --auto", 1, faceless + " holds no geometry object");

  // The objects chosen and the names their loaders get (--auto names are
  // checked, compiled, by test_ase).
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"--auto --object 2 --object Box_01_2", {"Box_01", "Box_01_2"}},
      {"--object 1st --object 1 Front Back", {"Front", "Back"}},
      {"a b c d e", {"a", "b", "c", "d", "e"}},
  };
  for (const auto &[arguments, loaders] : cases) {
    kroTestOutcome tool = krotool("mesh-src " + kNamed + " " + arguments);
    ASSERT_EQ(tool.status, 0) << arguments << "\n" << tool.err;
    EXPECT_EQ(loaderNames(tool.out), loaders) << arguments;
  }
}

// mesh-src writes only the files asked for, each whole, both or neither: a link
// planted where the source's temporary file once went is never followed; a
// source that cannot be written, or a table of a file without a material list,
// leaves no file. (How the out files treat links, test_image's OutFile tests.)
TEST(KrotoolMeshSrc, WritesOnlyTheFilesAskedForWholeAndTogether) {
  std::string dir = kroTestTempFolder("mesh-out"), source = dir + "/mesh.cpp",
              header = dir + "/mesh.h", victim = dir + "/victim.txt";
  kroTestWriteFile(victim, "not to be touched");
  ASSERT_EQ(symlink(victim.c_str(), (source + ".tmp").c_str()), 0);
  const std::string cube = "mesh-src " + kThirdParty + "/assimp/RotatingCube.ASE --auto";
  kroTestOutcome run = krotool(cube + " -o " + source + " --header " + header);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(kroTestReadFile(victim), "not to be touched");
  EXPECT_EQ(kroTestLinkText(source + ".tmp"), victim);
  EXPECT_TRUE(kroTestHas(kroTestReadFile(source), "void loadMeshBox01("));
  EXPECT_TRUE(kroTestHas(kroTestReadFile(header), "12 triangles, material 0 (the file has no "
                                                  "material list)\nvoid loadMeshBox01("));
  const std::string names = "mesh.cpp\nmesh.cpp.tmp\nmesh.h\nvictim.txt\n";
  EXPECT_EQ(kroTestListing(dir), names);

  expectRefusal(cube + " -o " + dir + "/missing/mesh.cpp --header " + dir + "/lone.h", 1,
                "cannot write " + dir + "/missing/mesh.cpp: No such file or directory\n");
  expectRefusal(cube + " -o " + dir + "/c.cpp --materials " + dir + "/c.h", 1,
                "has no material list for --materials");
  EXPECT_EQ(kroTestListing(dir), names);
}

// With --header each loader's comment names its object's material and the
// material's colour, or why there is none; --materials writes the list as a
// table, row for row, that keeps every name's bytes (compiled as strict C99,
// where "??=" would be a trigraph, and as C++). The loaders themselves are the
// same text with or without them.
TEST(KrotoolMeshSrc, NotesMaterialsAndWritesTheirTable) {
  const std::string dir = kroTestTempFolder("tables"), odd = dir + "/odd.ase";
  std::string text = "*3DSMAX_ASCIIEXPORT 200\n*MATERIAL_LIST {\n*MATERIAL_COUNT 2\n"
                     "*MATERIAL 0 {\n*MATERIAL_NAME \"back\\slash ?\\?= \xC3\xA9\"\n"
                     "*MATERIAL_DIFFUSE 0.25 0.5 1.0\n}\n*MATERIAL 1 {\n*MATERIAL_NAME \"Moss\"\n"
                     "*MATERIAL_DIFFUSE 0.1 0.6 0.2\n*MAP_DIFFUSE {\n*BITMAP \"C:\\m\\moss.png\"\n"
                     "*UVW_V_OFFSET 0.5\n*UVW_U_TILING 3\n*UVW_ANGLE 0.25\n}\n}\n}\n";
  for (std::string object : {"T 3", "U 1"}) // a material not in the list, one that is
    text += "*GEOMOBJECT {\n*NODE_NAME \"" + object.substr(0, 1) +
            "\"\n*MESH {\n*MESH_NUMVERTEX 3\n*MESH_NUMFACES 1\n*MESH_VERTEX_LIST {\n"
            "*MESH_VERTEX 0 0 0 0\n*MESH_VERTEX 1 1 0 0\n*MESH_VERTEX 2 0 1 0\n}\n"
            "*MESH_FACE_LIST {\n*MESH_FACE 0: A: 0 B: 1 C: 2 AB: 1 BC: 1 CA: 1\n}\n}\n"
            "*MATERIAL_REF " +
            object.substr(2) + "\n}\n";
  kroTestWriteFile(odd, text);
  kroTestOutcome plain = krotool("mesh-src " + odd + " T U"),
                 noted = krotool("mesh-src " + odd + " T U -o " + dir + "/odd.cpp --header " + dir +
                                 "/odd.h --materials " + dir + "/odd-names.h");
  ASSERT_EQ(noted.status, 0) << noted.err;
  EXPECT_EQ(kroTestReadFile(dir + "/odd.cpp"), plain.out);
  const std::string header = kroTestReadFile(dir + "/odd.h");
  EXPECT_TRUE(kroTestHas(header, "1 triangle, material 3 (not in the file's material list)\n") &&
              kroTestHas(header, "// object 2, \"U\", 1 triangle, material 1 \"Moss\", "
                                 "diffuse 0.1000 0.6000 0.2000\nvoid loadMeshU("))
      << header;
  const std::string show =
      "#include \"odd-names.h\"\nint main(void) {\n  int i;\n"
      "  for (i = 0; i < ODD_NAMES_COUNT; i++)\n"
      "    printf(\"%d %s %g %g %g %s %g %g %g %g %g;\", odd_names[i].number,\n"
      "           odd_names[i].name, odd_names[i].diffuse[0], odd_names[i].diffuse[1],\n"
      "           odd_names[i].diffuse[2], odd_names[i].diffuse_map,\n"
      "           odd_names[i].map_offset[0], odd_names[i].map_offset[1],\n"
      "           odd_names[i].map_tiling[0], odd_names[i].map_tiling[1],\n"
      "           odd_names[i].map_angle);\n  return 0;\n}\n";
  kroTestOutcome built = kroTestCompile(KRO_C_COMPILER, "show.c", show,
                                        "-std=c99 -pedantic -I" + dir + " -o " + dir + "/show"),
                 as_cxx =
                     kroTestCompile(KRO_CXX_COMPILER, "show.cpp", show, "-fsyntax-only -I" + dir);
  ASSERT_EQ(built.status, 0) << built.err;
  EXPECT_EQ(as_cxx.status, 0) << as_cxx.err;
  EXPECT_EQ(kroTestRun(dir + "/show").out, "0 back\\slash ?\\?= \xC3\xA9 0.25 0.5 1  0 0 1 1 0;"
                                           "1 Moss 0.1 0.6 0.2 C:\\m\\moss.png 0 0.5 3 1 0.25;");
  // An OBJ object's name, which may hold a backslash and quotes, is copied as it stands.
  kroTestWriteFile(dir + "/odd.obj", "o back\\slash \"q\"\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  EXPECT_TRUE(kroTestHas(krotool("mesh-src " + dir + "/odd.obj X").out,
                         "(node_name,\"back\\\\slash \\\"q\\\"\");"));
  // A glTF file's table: its picture file and transform, then the default material; its scene
  // and its texture coordinates (normalized shorts: 65535 is 1, v turned upward).
  kroTestOutcome gltf = krotool("mesh-src " KRO_TEST_DATA "/gltf/quad.gltf Quad --materials " +
                                dir + "/quad.h --table " + dir + "/quad_scene.h");
  ASSERT_EQ(gltf.status, 0) << gltf.err;
  EXPECT_TRUE(kroTestHas(kroTestReadFile(dir + "/quad.h"),
                         "/kinds/c0d02i-11x9.png\", {1.107008f, -0.398157f}, {2.000000f, 2.0"
                         "00000f}, 0.500000f},\n    {1, \"\", {1.000000f, 1.000000f, 1.000"));
  EXPECT_TRUE(kroTestHas(kroTestReadFile(dir + "/quad_scene.h"),
                         "{\"Quad\", loadMeshQuad, 2, 0, {{-1.0f, -1.0f, 0.0f}, {1.0f, 1.0f") &&
              kroTestHas(gltf.out, "[0][1]=0.0f;\n\t(*tc)[0][2]=1.0f;\n\t(*tc)[0][3]=0.0f;"));
}

// png-info gives the engine's verdict (kroCheckPNG, whose reasons test_image
// checks rule by rule) on every PNG file of the test data: a refused file with
// that reason, whole, on one line, the reason the decoder gives too; a sound one described. Every
// sound file of the vendored PngSuite (the corrupt x* files break rules the damaged files break one
// by one) has a name that tells what the description must say: letter 4 'n' or 'i' (interlace),
// digit 5 the colour type, digits 7-8 the bit depth; all are 32 x 32.
TEST(KrotoolPngInfo, RefusesWhatTheEngineRefusesAndDescribesTheRest) {
  const std::string suite = kThirdParty + "/pngsuite";
  int refused = 0, sound = 0, suite_sound = 0;
  for (const std::string &folder : {kData + "/png", kData + "/png/damaged", suite})
    for (auto &entry : std::filesystem::directory_iterator(folder)) {
      std::string path = entry.path(), name = entry.path().filename();
      char why[256];
      if (entry.path().extension() != ".png")
        continue;
      SCOPED_TRACE(path);
      if (kroCheckPNG(path.c_str(), why, sizeof why) != 0) {
        refused++;
        expectUnusable("png-info", path, why);
        char decoded[KRO_PICTURE_REASON_CHARS]; // the decoder refuses it for the same reason
        int32_t size[2];
        EXPECT_EQ(kroDecodePicture(path.c_str(), size, decoded, sizeof decoded), nullptr);
        EXPECT_STREQ(decoded, why);
        continue;
      }
      kroTestOutcome tool = krotool("png-info " + path);
      sound++;
      EXPECT_EQ(tool.status, 0) << tool.err;
      EXPECT_EQ(tool.out.rfind("file: " + path + "\n", 0), 0u) << tool.out;
      if (folder != suite || name.size() != 12 || name[0] == 'x')
        continue;
      suite_sound++;
      int colour = name[4] - '0', depth = std::stoi(name.substr(6, 2)), interlace = name[3] == 'i';
      EXPECT_TRUE(
          kroTestHas(tool.out, "size: 32 x 32\ncolour type: " + std::to_string(colour) + " (") &&
          kroTestHas(tool.out, "\nbit depth: " + std::to_string(depth) +
                                   "\ninterlace: " + std::to_string(interlace) + " (") &&
          kroTestHas(tool.out, "image data chunks: 1\n"))
          << tool.out;
      std::string file = kroTestReadFile(path); // PLTE's length stands before its type
      size_t plte = file.find("PLTE");
      std::string entries =
          plte == std::string::npos
              ? ""
              : std::to_string(((uint8_t)file[plte - 2] << 8 | (uint8_t)file[plte - 1]) / 3);
      EXPECT_EQ(kroTestHas(tool.out, "palette entries: " + entries + "\n"), colour == 3)
          << tool.out;
    }
  EXPECT_TRUE(refused >= 45 && sound >= 20) << refused << " refused, " << sound << " sound";
  EXPECT_EQ(suite_sound, 19);
}

// A glyph folder of two good pictures, one of them twice under names that are
// not codes, and a 32-bit picture, builds the same font from anywhere.
TEST(KrotoolFont, BuildsTheSameFontAnywhereListsSkippedPicturesAndGivesEachFailuresReason) {
  std::string glyphs = kroTestTempFolder("glyphs"), one = kroTestTempFolder("one"),
              two = kroTestTempFolder("two"), good = kData + "/krof/glyphs/";
  std::string a = kroTestReadFile(good + "65.bmp"), deep = a;
  deep[28] = 32; // bits per pixel
  for (const char *name : {"65.bmp", "A.bmp", "256.bmp", "05.bmp"})
    kroTestWriteFile(glyphs + "/" + name, a);
  std::string grey = kroTestReadFile(good + "66.bmp"); // 8 x 8: white, the top row grey 128
  kroTestWriteFile(glyphs + "/66.bmp",
                   grey.replace(54, 192, std::string(168, '\xff') + std::string(24, '\x80')));
  kroTestWriteFile(glyphs + "/67.bmp", deep);
  kroTestWriteFile(glyphs + "/68.png", kroTestReadFile(kData + "/png/kinds/c0d01n-11x9.png"));
  kroTestWriteFile(glyphs + "/notes.txt", "not a picture");
  kroTestWriteFile(glyphs + "/65.png", kroTestReadFile(kData + "/png/kinds/c0d01n-11x9.png"));
  kroTestWriteFile(glyphs + "/69.BMP", a);
  std::filesystem::create_directory(glyphs + "/70.bmp");
  std::filesystem::create_symlink("gone.bmp", glyphs + "/71.bmp");
  kroTestOutcome first = krotool("font-build " + glyphs + " 8 8 " + one + "/title.krof");
  kroTestOutcome second = kroTestRun("cd " + two + " && " + KROTOOL_PATH + " font-build " + glyphs +
                                     " 8 8 title.krof 128");
  ASSERT_TRUE(first.status == 0 && second.status == 0) << first.err << second.err;
  EXPECT_EQ(first.out, one + "/title.krof: 3 glyphs of 8 x 8\n");
  EXPECT_EQ(first.err,
            "krotool font-build: skipped 05.bmp: a leading zero (name it 5.bmp)\n"
            "krotool font-build: skipped 256.bmp: outside 0..255\n"
            "krotool font-build: skipped 65.png: the code is already taken\n"
            "krotool font-build: skipped 67.bmp: BMP: pixel data cut short: 768 of 1024 bytes\n"
            "krotool font-build: skipped 69.BMP: the name must end in .bmp or .png, in lower case\n"
            "krotool font-build: skipped 70.bmp: not a file\n"
            "krotool font-build: skipped 71.bmp: No such file or directory\n"
            "krotool font-build: skipped A.bmp: not a character code (name it by "
            "the code, e.g. 65.bmp for A)\n");
  // The font keeps its file name without folders or extension, 128 is the default: equal bytes.
  EXPECT_EQ(kroTestReadFile(one + "/title.krof"), kroTestReadFile(two + "/title.krof"));
  EXPECT_EQ(kroTestListing(one), "title.krof\n"); // nothing else left beside it
  kroTestOutcome info = krotool("font-info " + one + "/title.krof");
  std::string b = "glyph 1, code 66 'B':\n########\n"; // grey of the default threshold: 1 bits
  for (int row = 1; row < 8; row++)
    b += "........\n";
  EXPECT_TRUE(info.status == 0 && kroTestHas(info.out, b) &&
              kroTestHas(info.out, "name: title\nglyph size: 8 x 8\nglyphs: 3\ncodes: 65 66 68\n"))
      << info.out;

  // Each failure has its reason and leaves no file.
  std::string out = kroTestTempFolder("out"), empty = kroTestTempFolder("empty");
  std::string unusable = kroTestTempFolder("unusable");
  kroTestWriteFile(unusable + "/A.bmp", "BM");
  kroTestWriteFile(unusable + "/66.bmp", "BM");
  const std::string font = out + "/font.krof";
  const std::pair<std::string, std::string> failures[] = {
      {"/no/such/folder 8 8 " + font, "/no/such/folder: No such file or directory"},
      {empty + " 8 8 " + font, empty + ": an empty folder"},
      {kData + "/krof/glyphs/65.bmp 8 8 " + font,
       "65.bmp: not a folder (give the folder that holds the pictures)"},
      {unusable + " 8 8 " + font, unusable + ": none of its pictures can be used"},
      {kData + "/krof/glyphs 8 8 " + out + "/missing/font.krof",
       "font.krof: No such file or directory"},
      {kData + "/krof/glyphs 8 8 " + out, out + ": a folder, not a font file name"},
  };
  for (const auto &[arguments, reason] : failures) {
    expectRefusal("font-build " + arguments, 1, reason + "; no font written\n");
    EXPECT_EQ(kroTestListing(out), "") << arguments;
  }
  expectRefusal("font-build " + kData + "/krof/glyphs 3 3 " + font, 2, "a multiple of 8");
  expectRefusal("font-build " + kData + "/krof/glyphs 0 8 " + font, 2, "from 1 to 65535");
  expectRefusal("font-build " + kData + "/krof/glyphs 8 8 " + font + " 256", 2, "from 0 to 255");

  // After the engine's own message, the file and the reason.
  const std::string bmp = kData + "/krof/glyphs/65.bmp", cut = kData + "/krof/header-cut.krof";
  expectRefusal("font-info " + bmp, 1,
                "font-info: " + bmp + ": not a KROF font (it does not start with KROF)\n");
  expectRefusal("font-info " + cut, 1, "font-info: " + cut + ": header cut short\n");
}

TEST(KrotoolBmpResize, ResizesThroughATemporaryFileAndRefusesItsOwnInput) {
  std::string dir = kroTestTempFolder("resize"), in = dir + "/in.bmp";
  const std::string picture = kroTestReadFile(kData + "/bmp/imagemagick/orange-16x8.bmp");
  kroTestWriteFile(in, picture);
  ASSERT_EQ(link(in.c_str(), (dir + "/hard.bmp").c_str()) |
                symlink(in.c_str(), (dir + "/soft.bmp").c_str()),
            0);
  for (const std::string &same : {in, dir + "/./in.bmp", dir + "/hard.bmp", dir + "/soft.bmp"})
    expectRefusal("bmp-resize " + in + " " + same + " 8 4", 2, "IN and OUT are the same file");
  EXPECT_EQ(kroTestReadFile(in), picture);

  kroTestOutcome half = krotool("bmp-resize " + in + " " + dir + "/half.bmp 8 4");
  EXPECT_EQ(half.status, 0) << half.err;
  int32_t size[2] = {0, 0};
  free(kroLoadBMP((dir + "/half.bmp").c_str(), size));
  EXPECT_TRUE(size[0] == 8 && size[1] == 4); // made as any out file is: test_image's OutFile tests

  expectRefusal("bmp-resize " + in + " " + dir + "/x.bmp 0 4", 2, "positive whole numbers");
  expectRefusal("bmp-resize /no/such.bmp " + dir + "/x.bmp 4 4", 1,
                "cannot read /no/such.bmp: No such file or directory");
  expectRefusal("bmp-resize " + in + " " + dir + "/missing/x.bmp 4 4", 1,
                "cannot write " + dir + "/missing/x.bmp: ");
  EXPECT_EQ(kroTestListing(dir), "half.bmp\nhard.bmp\nin.bmp\nsoft.bmp\n");
}

// A write that fails (the file size limit) leaves the old files and no other;
// the reason is the last line on standard error, and the status 1. (mesh-src:
// the header fits, the source not.)
TEST(Krotool, AFailedWriteOfAPictureFontOrMeshLeavesTheOldFiles) {
  std::string dir = kroTestTempFolder("limited"), picture = dir + "/big.bmp",
              font = dir + "/font.krof", source = dir + "/mesh.cpp";
  for (std::string name : {"big.bmp", "font.krof", "mesh.cpp", "mesh.h"})
    kroTestWriteFile(dir + "/" + name, "old " + name);
  const std::pair<std::string, std::string> runs[] = {
      {"bmp-resize " + kData + "/bmp/imagemagick/orange-16x8.bmp " + picture + " 640 320",
       "krotool bmp-resize: cannot write " + picture + ": File too large\n"},
      {"font-build " + kData + "/krof/glyphs 64 64 " + font,
       "krotool font-build: " + font + ": File too large; no font written\n"},
      {"mesh-src " + kThirdParty + "/assimp/RotatingCube.ASE --auto -o " + source + " --header " +
           dir + "/mesh.h",
       "krotool mesh-src: cannot write " + source + ": File too large\n"}};
  for (const auto &[arguments, reason] : runs) {
    kroTestOutcome run = kroTestRun(kroTestFileLimit(1024) + KROTOOL_PATH + " " + arguments);
    EXPECT_EQ(run.status, 1) << arguments;
    EXPECT_EQ(run.err, reason);
  }
  for (std::string name : {"big.bmp", "font.krof", "mesh.cpp", "mesh.h"})
    EXPECT_EQ(kroTestReadFile(dir + "/" + name), "old " + name);
  EXPECT_EQ(kroTestListing(dir), "big.bmp\nfont.krof\nmesh.cpp\nmesh.h\n");
}

// (Kroview.InfoAgreesWithKrotool... checks its lines for more files, normals or none.)
TEST(KrotoolAseInfo, ListsAnExportersFileAndRefusesOtherFiles) {
  kroTestOutcome cube = krotool("ase-info " + kThirdParty + "/assimp/RotatingCube.ASE");
  EXPECT_EQ(cube.status, 0);
  EXPECT_TRUE(kroTestHas(cube.out, "geometry objects: 1\nlight objects: 0\n"
                                   "  object 1: \"Box01\", 12 triangles, material 0, normals\n"))
      << cube.out;
  // A UTF-16 export lists as its UTF-8 twin, after the line naming the file.
  auto listing = [](const std::string &path) {
    kroTestOutcome run = krotool("ase-info " + kData + "/ase/utf16/" + path);
    return std::to_string(run.status) + run.out.substr(run.out.find('\n'));
  };
  EXPECT_EQ(listing("unicode_names_utf16be.ase"), listing("unicode_names.ase"));
  std::string text = kroTestTempPath("notes.txt");
  kroTestWriteFile(text, "*GEOMOBJECT is only a word here\n");
  expectUnusable("ase-info", text,
                 "no ASE export keyword (*3DSMAX_ASCIIEXPORT) at its start: not an ASE file");
  // scene-info tells an ASE file and its OBJ twin apart by content only, and lists both alike.
  kroTestOutcome ase = krotool("scene-info " + kData + "/ase/two_objects.ase"),
                 obj = krotool("scene-info " + kData + "/obj/two_objects.obj");
  EXPECT_TRUE(kroTestHas(ase.out, "\nformat: ASE\n") && kroTestHas(obj.out, "\nformat: OBJ\n"));
  EXPECT_EQ(obj.out.substr(obj.out.find("objects:")), ase.out.substr(ase.out.find("objects:")));
  EXPECT_TRUE(kroTestHas(obj.out, "objects: 2, triangles: 3\n  object 1: \"Left quad\", 2 "
                                  "triangles, material 1\n") &&
              kroTestHas(obj.out, "    diffuse map \"C:\\maps\\blue.bmp\": not found\nmaps: 1, "
                                  "found: 0\nbounds (file units): x -1 .. 3, y -1 .. 123.457, "
                                  "z -1e-07 .. 0.25\n"))
      << obj.out;
  kroTestOutcome gltf = krotool("scene-info " + kData + "/gltf/animated.gltf"); // and the nodes
  EXPECT_TRUE(kroTestHas(gltf.out, "camera 1 \"Plan\" at node 5 \"Spot\": orthographic 8 x 4, "
                                   "near 0.5, far 50\nlights: 3\n") &&
              kroTestHas(gltf.out,
                         "spot, colour 1.0000 1.0000 1.0000, intensity 50 candela, cone "
                         "11.46 .. 34.38 degrees\nanimations: 1\n  animation 0 \"Fly\": 3 "
                         "channels, 0 .. 3 s (3 s)\n") &&
              kroTestHas(gltf.out, "node 2 \"Mover\" translation: 2 keys, CUBICSPLINE, 1 .. 3 s\n"))
      << gltf.out;
  // Vertex colours and one-sided materials of Blender's export (Purple alone is double-sided).
  kroTestOutcome blender = krotool("scene-info " + kData + "/blender/materials.glb");
  EXPECT_TRUE(kroTestHas(blender.out, "\"Painted\", 12 triangles, material 3, vertex colours\n  "
                                      "object 6: \"Back\", 2 triangles, material 4\n") &&
              kroTestHas(blender.out, "opacity 1.0000, one-sided\n  material 4 \"Purple\": "
                                      "diffuse 0.6652 0.2478 0.7354, opacity 1.0000\n"))
      << blender.out;
  kroTestWriteFile(text, "# notes\nsolid cube\n"); // as STL begins
  kroTestOutcome notes = krotool("scene-info " + text);
  EXPECT_TRUE(notes.status == 1 && notes.out.empty() &&
              kroTestHas(notes.err, ": not a scene file of a known format (ASE, OBJ, glTF)\n"));
}

} // namespace
