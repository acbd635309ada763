// The ASE reader's exact results. Every ASE file of the repository, and
// generated ones full of awkward numbers, many objects and late refusals, give
// the arrays (bit for bit), names, material references, messages, materials,
// generated source and stream positions recorded in
// tests/data/ase/reader-results.txt, on files, on pipes and through every
// reader; the large generated files cross many of the reader's blocks, and
// their numbers take every path of the number reader and the value writer.
// The compact writer walks each file as the generator does, and the generator
// writes the same to standard output, its messages in comments. Every reader
// agrees on odd objects, and on a file cut anywhere.
//
// The record is rewritten from the reader as it stands with
//   KRO_ASE_RESULTS_WRITE=tests/data/ase/reader-results.txt build/tests/test_ase_exact
// which is how it was made (by the character-by-character reader that the
// block reader replaced); a change to the reader's results is then a change to
// that file, visible in review.
#include "gl_context.h"

#include <inttypes.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <random>

namespace {

const std::string kSource = KRO_SOURCE_DIR;
const std::string kResults = std::string(KRO_TEST_DATA) + "/ase/reader-results.txt";

struct AseExactTest : kroTestFailureFixture {};

uint64_t fnv(const void *bytes, size_t size, uint64_t hash = 0xcbf29ce484222325u) {
  for (size_t i = 0; i < size; i++)
    hash = (hash ^ ((const unsigned char *)bytes)[i]) * 0x100000001b3u;
  return hash;
}

// printf's text, up to 159 characters.
__attribute__((format(printf, 1, 2))) std::string printed(const char *format, ...) {
  char text[160];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

std::string bits(float value) {
  uint32_t word;
  memcpy(&word, &value, 4);
  return printed("%08" PRIx32, word);
}

// Name, count, material and a hash of every row (the reader zeroes what the file leaves out).
std::string describe(const char *name, int triangles, int material, kroObject op, kroObject nc,
                     kroObject realn, kroObject tc) {
  uint64_t hash = fnv(nullptr, 0);
  for (int i = 0; i < triangles; i++) {
    hash = fnv(op[i], 36, hash), hash = fnv(nc[i], 36, hash);
    hash = fnv(realn[i], 12, hash), hash = fnv(tc[i], 24, hash);
  }
  return "\"" + std::string(name) + "\" " + std::to_string(triangles) + " m" +
         std::to_string(material) + printed(" %016" PRIx64, hash);
}

// A load without rows, refused ones included, holds no arrays.
std::string describe(const kroTestMesh &m) {
  EXPECT_TRUE(m.triangles > 0 || (!m.op && !m.nc && !m.realn && !m.tc)) << m.name;
  return describe(m.name, m.triangles, m.material, m.op, m.nc, m.realn, m.tc);
}

std::string describe(const kroMesh &m) {
  return describe(m.node_name, m.triangles, m.material_ref, m.op, m.nc, m.realn, m.tc);
}

// How often a call called the hook and what it printed, on one line, the file's path replaced
// so that the record holds anywhere.
template <typename F> std::string reported(const std::string &path, F call) {
  int calls = kroTestHookCalls;
  std::string out = kroTestCaptured(call);
  for (size_t at; (at = out.find(path)) != out.npos;)
    out.replace(at, path.size(), "<file>");
  for (size_t at; (at = out.find('\n')) != out.npos;)
    out.replace(at, 1, "|");
  return " hook" + std::to_string(kroTestHookCalls - calls) + " [" + out + "]";
}

// Where the stream is, counted from `start`, and whether it has ended.
std::string streamState(FILE *stream, long start = 0) {
  return " at" + std::to_string(ftell(stream) - start) + (feof(stream) ? " eof" : "");
}

// What a loader writer returns, writes and reports for the next object of `stream`.
struct Written {
  int ok = 0;
  std::string text, says;
};

template <typename W>
Written written(W writer, FILE *stream, const std::string &path, const std::string &name) {
  Written w;
  char *text = nullptr;
  size_t size = 0;
  FILE *out = open_memstream(&text, &size);
  w.says = reported(path, [&] { w.ok = writer(stream, name.c_str(), out); });
  fclose(out);
  w.text.assign(text, size);
  free(text);
  return w;
}

// The generator's text: length and hash. Beside it, on streams of the same file, the compact
// writer must walk alike (result, messages, position), its loaders added to `loaders`, and the
// generator writing to standard output must write the same, its messages in comments.
std::string generate(FILE *stream, const std::string &path, const std::string &name,
                     FILE *compact = nullptr, FILE *printing = nullptr,
                     std::string *loaders = nullptr) {
  Written w = written(kroWriteSrcMeshFromASEfd, stream, path, name);
  if (compact) {
    static int written_loaders = 0;
    Written c = written(kroWriteCompactSrcMeshFromASEfd, compact, path,
                        "C" + std::to_string(written_loaders++));
    EXPECT_TRUE(c.ok == w.ok && c.says == w.says && streamState(compact) == streamState(stream))
        << name << c.says << streamState(compact);
    if (loaders && kroTestHas(c.text, "void loadMesh")) // past the last object only a brace
      *loaders += c.text + "\n";
    std::string said = w.says.substr(w.says.find('[') + 1, w.says.size() - w.says.find('[') - 2);
    std::replace(said.begin(), said.end(), '|', '\n');
    EXPECT_EQ(kroTestCaptured([&] { kroCreateSrcMeshFromASEfd(printing, name.c_str()); }),
              w.ok ? w.text : "/* " + said + " */\n");
  }
  return "ok" + std::to_string(w.ok) + " " + std::to_string(w.text.size()) + "B " +
         printed("%016" PRIx64, fnv(w.text.data(), w.text.size())) + w.says;
}

std::string loadNext(FILE *stream, const std::string &path) {
  kroTestMesh m;
  std::string messages = reported(path, [&] { m.next(stream); });
  return describe(m) + messages;
}

// Everything every reader makes of one file, one line per result; the compact
// loaders of its objects are added to `loaders`.
std::string resultsOf(const std::string &path, std::string *loaders = nullptr) {
  std::string text;
  const char *p = path.c_str();
  int objects = -1, lights = -1, alone_objects = -1, alone_lights = -1;
  std::string messages = reported(path, [&] {
    kroObjectsAndLightsInASE(p, &objects, &lights);
    alone_objects = kroObjectsInASE(p), alone_lights = kroLightsInASE(p);
  });
  text += "count " + std::to_string(objects) + " " + std::to_string(lights) + " " +
          std::to_string(alone_objects) + " " + std::to_string(alone_lights) + messages + "\n";
  int calls = std::max(objects, 0) + 2;
  for (int number = 0; number <= calls; number++) {
    kroTestMesh m;
    messages = reported(path, [&] { m.load(path, number); });
    text += "number " + std::to_string(number) + " " + describe(m) + messages + "\n";
  }
  kroMesh *meshes = nullptr;
  int count = 0;
  messages = reported(path, [&] { count = kroLoadMeshArrayFromASE(&meshes, p); });
  text += "array " + std::to_string(count) + messages + "\n";
  EXPECT_TRUE(count > 0 || !meshes);
  for (int i = 0; i < count; i++)
    text += "array " + std::to_string(i) + " " + describe(meshes[i]) + "\n";
  kroFreeMeshArray(&meshes, count);
  // The stream readers on a file, then on a pipe of it, where a result the
  // file gave too is written "as file".
  FILE *stream = fopen(p, "r"), *compact = fopen(p, "r"), *printing = fopen(p, "r");
  std::vector<std::string> results;
  for (int call = 0; call < 2 * calls; call++) {
    if (call == calls)
      rewind(stream);
    std::string line = call < calls ? loadNext(stream, path)
                                    : generate(stream, path, "L" + std::to_string(call - calls),
                                               compact, printing, loaders);
    results.push_back(line);
    text += (call < calls ? "stream " : "source ") + std::to_string(call % calls) + " " + line +
            streamState(stream) + "\n";
  }
  fclose(stream), fclose(compact), fclose(printing);
  for (int source = 0; source < 2; source++) {
    stream = popen(("cat '" + path + "'").c_str(), "r");
    for (int call = 0; call < calls; call++) {
      std::string line =
          source ? generate(stream, path, "L" + std::to_string(call)) : loadNext(stream, path);
      text += (source ? "pipe source " : "pipe ") + std::to_string(call) + " " +
              (line == results[source * calls + call] ? "as file" : line) + "\n";
    }
    std::string ended = feof(stream) ? " eof" : ""; // and how many bytes are left
    size_t rest = 0;
    for (int c; (c = getc(stream)) != EOF;)
      rest++;
    text += "pipe rest" + ended + " rest" + std::to_string(rest) + "\n";
    pclose(stream);
  }
  kroMaterial sentinel, *materials = &sentinel; // left alone by a refusal
  messages = reported(path, [&] { count = kroLoadMaterialsFromASE(&materials, p); });
  text += "materials " + std::to_string(count) + messages + "\n";
  EXPECT_TRUE(messages.rfind(" hook0", 0) == 0 || materials == &sentinel);
  for (int i = 0; i < count; i++) {
    const kroMaterial &m = materials[i];
    text += "material " + std::to_string(i) + " " + bits(m.diffuse[0]) + " " + bits(m.diffuse[1]) +
            " " + bits(m.diffuse[2]) + " " + bits(m.opacity) + "\n";
  }
  if (materials != &sentinel)
    kroFreeMaterials(&materials, count);
  return text;
}

// ---- generated files ----

// Decimal texts of every shape the exporters and hand edits produce, and the
// hard cases of rounding: 16 to 19 and more significant digits, exact float
// midpoints and their neighbours, subnormals, values near the largest float.
std::string randomNumber(std::mt19937_64 &rng) {
  auto uniform = [&](double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(rng);
  };
  auto digits = [&](int count) {
    std::string s;
    for (int i = 0; i < count; i++)
      s += (char)('0' + rng() % 10);
    return s;
  };
  auto floatAt = [&](void) { // a finite float of any magnitude
    float value;
    do {
      uint32_t word = (uint32_t)rng();
      memcpy(&value, &word, 4);
    } while (!std::isfinite(value));
    return value;
  };
  switch (rng() % 14) {
  case 0:
    return printed("%.4f", uniform(-100, 100));
  case 1:
    return printed("%.6f", uniform(-1, 1));
  case 2:
    return printed("%.9g", floatAt());
  case 3:
    return printed("%.17g", uniform(-1e6, 1e6));
  case 4: { // 16 to 19 significant digits, the point anywhere
    std::string d = std::to_string(1 + rng() % 9) + digits(15 + (int)(rng() % 4));
    d.insert(1 + rng() % (d.size() - 1), ".");
    return printed("%s%s", rng() % 2 ? "-" : "", d.c_str());
  }
  case 5: { // 20 to 60 digits
    std::string d = digits(20 + (int)(rng() % 41));
    return d.insert(rng() % 20, "."); // below the largest float
  }
  case 6:
    return printed("%.*f%c%+d", (int)(rng() % 5), uniform(-10, 10), rng() % 2 ? 'e' : 'E',
                   (int)(rng() % 60) - 30);
  case 7: { // a float midpoint, exactly, or one unit of its 17th digit off
    float low = std::fabs(floatAt()), high = std::nextafter(low, INFINITY);
    double middle = ((double)low + (double)high) / 2;
    int shape = (int)(rng() % 3);
    if (shape == 0 || !std::isfinite(high))
      return printed("%.60g", middle);
    return printed("%.17g", std::nextafter(middle, shape == 1 ? 0.0 : (double)INFINITY));
  }
  case 8: {
    const char *odd[] = {"000123.5", "+7",  ".5",     "5.",      "-0", "0.0000001", "-.25",
                         "+0.0",     "1e0", "00.000", "-0.0000", "9.", "1E+1",      "0e-0"};
    return odd[rng() % (sizeof odd / sizeof *odd)];
  }
  case 9:
    return printed("%.*e", (int)(rng() % 12), uniform(1, 10) * 1e-42);
  case 10:
    return printed("%.9g", 3.4028234e38 * uniform(0.5, 1.0));
  case 11:
    return digits(1 + (int)(rng() % 25)) + (rng() % 2 ? "" : ".0");
  case 12: // the fast path's edge: 15 significant digits and 22 decimals
    return "0." + std::string(rng() % 8, '0') + digits(15);
  default:
    return printed("%.3f", uniform(-1000, 1000));
  }
}

// White space as exporters and editors leave it.
std::string gap(std::mt19937_64 &rng) {
  const char *gaps[] = {" ", "\t", "  ", " \t", "\t\t"};
  return gaps[rng() % 5];
}

// One geometry object: v vertices, t texture vertices, f faces with texture
// faces and normals, every value a random text.
std::string randomObject(std::mt19937_64 &rng, const std::string &name, int v, int t, int f) {
  const char *end = rng() % 4 ? "\n" : "\r\n";
  std::string s = "*GEOMOBJECT {" + std::string(end) + "\t*NODE_NAME \"" + name + "\"" + end;
  s += "\t*MESH {" + std::string(end) + "\t\t*MESH_NUMVERTEX " + std::to_string(v) + end;
  s += "\t\t*MESH_NUMFACES " + std::to_string(f) + end + "\t\t*MESH_VERTEX_LIST {" + end;
  for (int i = 0; i < v; i++) {
    s += "\t\t\t*MESH_VERTEX" + gap(rng) + std::to_string(i);
    for (int k = 0; k < 3; k++)
      s += gap(rng) + randomNumber(rng);
    s += end;
  }
  s += "\t\t}" + std::string(end) + "\t\t*MESH_FACE_LIST {" + end;
  for (int i = 0; i < f; i++)
    s += printed("\t\t\t*MESH_FACE %5d:    A: %5d B: %5d C: %5d AB:    1 BC: 1"
                 "\t *MESH_SMOOTHING 1 \t*MESH_MTLID 0",
                 i, (int)(rng() % v), (int)(rng() % v), (int)(rng() % v)) +
         end;
  s += "\t\t}" + std::string(end) + "\t\t*MESH_NUMTVERTEX " + std::to_string(t) + end;
  s += "\t\t*MESH_TVERTLIST {" + std::string(end);
  for (int i = 0; i < t; i++)
    s += "\t\t\t*MESH_TVERT " + std::to_string(i) + gap(rng) + randomNumber(rng) + gap(rng) +
         randomNumber(rng) +
         (rng() % 8   ? "\t"
          : rng() % 2 ? "x"
                      : "#") +
         "0.0000" + end;
  s += "\t\t}" + std::string(end) + "\t\t*MESH_TFACELIST {" + end;
  for (int i = 0; i < f; i++)
    s += "\t\t\t*MESH_TFACE " + std::to_string(i) + "\t" + std::to_string(rng() % t) + "\t" +
         std::to_string(rng() % t) + "\t" + std::to_string(rng() % t) + end;
  s += "\t\t}" + std::string(end) + "\t\t*MESH_NORMALS {" + end;
  for (int i = 0; i < f; i++) {
    s += "\t\t\t*MESH_FACENORMAL " + std::to_string(i);
    for (int k = 0; k < 3; k++)
      s += gap(rng) + randomNumber(rng);
    s += end;
    for (int corner = 0; corner < 3; corner++) {
      s += "\t\t\t\t*MESH_VERTEXNORMAL " + std::to_string(rng() % v);
      for (int k = 0; k < 3; k++)
        s += gap(rng) + randomNumber(rng);
      s += end;
    }
  }
  s += "\t\t}" + std::string(end) + "\t}" + end + "\t*MATERIAL_REF " + std::to_string(rng() % 3) +
       end + "}" + end;
  return s;
}

const char kMaterials[] = "*3DSMAX_ASCIIEXPORT\t200\n*MATERIAL_LIST {\n\t*MATERIAL_COUNT 2\n"
                          "\t*MATERIAL 0 {\n\t\t*MATERIAL_DIFFUSE 0.1 0.123456789 1e-3\n"
                          "\t\t*MATERIAL_TRANSPARENCY 0.3333333333333333333\n\t}\n"
                          "\t*MATERIAL 1 {\n\t\t*MATERIAL_DIFFUSE 1.000000059604644775390625 "
                          ".5 5.\n\t}\n}\n";

// The generated files by name: one large object, many small ones with other
// objects and animation blocks between them, and refusals deep in a file.
std::map<std::string, std::string> generatedFiles(void) {
  std::map<std::string, std::string> files;
  std::mt19937_64 rng(20240611);
  std::string large = kMaterials + randomObject(rng, "numbers", 2500, 1500, 2000);
  files["generated/numbers.ase"] = large;
  std::string many = kMaterials;
  for (int i = 0; i < 60; i++) {
    many += randomObject(rng, "part " + std::to_string(i), 3 + (int)(rng() % 20),
                         1 + (int)(rng() % 10), 1 + (int)(rng() % 30));
    if (i % 7 == 3)
      many += "*LIGHTOBJECT {\n\t*NODE_NAME \"lamp\"\n\t*LIGHT_TYPE Omni\n}\n";
    if (i % 11 == 5)
      many += "*CAMERAOBJECT {\n\t*NODE_NAME \"eye\"\n}\n";
  }
  files["generated/many_objects.ase"] = many;
  size_t deep = large.size() * 3 / 4, line = large.find("*MESH_FACENORMAL", deep);
  files["generated/cut_deep.ase"] = large.substr(0, deep);
  auto inserted = [&](size_t at, const std::string &text) {
    return std::string(large).insert(at, text);
  };
  files["generated/value_deep.ase"] = inserted(large.find(' ', line) + 1, "x");
  files["generated/token_deep.ase"] = inserted(line, std::string(300, 'T') + " ");
  files["generated/name_deep.ase"] =
      inserted(line, "*NODE_NAME \"" + std::string(255, 'n') + "\"\n*NODE_NAME \"" +
                         std::string(256, 'n') + "\"\n");
  files["generated/index_deep.ase"] = inserted(line + 17, "9");
  files["generated/float_deep.ase"] = inserted(large.find("*MESH_TVERT 1000") + 17, "-x");
  // Files that stop right at a refusal or a value: no line end, no byte beyond.
  std::string small = randomObject(rng, "small", 4, 3, 3);
  files["generated/token_at_end.ase"] = small + std::string(257, 'T');
  files["generated/name_at_end.ase"] = small + "*NODE_NAME \"" + std::string(256, 'n');
  files["generated/value_at_end.ase"] = small.substr(0, small.find("\t\t}")) + "*MESH_VERTEX 1 2";
  // Bytes only the full rules read: 0 and control bytes, quotes and braces
  // inside words, bytes above 127, a quoted text over several words.
  std::string odd = small;
  odd.insert(odd.find("*MESH {"), std::string("*COMMENT \"a { b } c\" x\"y\" {z }w\n") +
                                      "*PROP_ODD a\x01b \x7f\xc3\xa9t\xc3\xa9 \"\" q\"\"q\n" +
                                      std::string("*PROP_NUL a\0b\n", 14));
  files["generated/odd_bytes.ase"] = odd;
  return files;
}

// The repository's ASE files, by path from the source folder.
std::vector<std::string> repositoryFiles(void) {
  std::vector<std::string> files;
  for (const char *folder : {"assets", "examples/minimal", "tests/data/ase",
                             "tests/data/third-party/assimp", "tests/data/viewer"})
    for (const auto &entry : std::filesystem::directory_iterator(kSource + "/" + folder))
      if (!strcasecmp(entry.path().extension().c_str(), ".ase"))
        files.push_back(std::string(folder) + "/" + entry.path().filename().string());
  std::sort(files.begin(), files.end());
  return files;
}

// The record: for each file, its name line "== name" and its result lines.
std::map<std::string, std::string> readRecord(const std::string &text) {
  std::map<std::string, std::string> record;
  std::string *current = nullptr;
  for (size_t at = 0, end; at < text.size(); at = end + 1) {
    end = text.find('\n', at);
    std::string line = text.substr(at, end - at);
    if (line.rfind("== ", 0) == 0)
      current = &record[line.substr(3)];
    else if (current)
      *current += line + "\n";
  }
  return record;
}

std::string pathOf(const std::string &name, const std::map<std::string, std::string> &generated) {
  auto found = generated.find(name);
  if (found == generated.end())
    return kSource + "/" + name;
  std::string path = kroTestTempPath(name.substr(name.find('/') + 1));
  kroTestWriteFile(path, found->second);
  return path;
}

TEST_F(AseExactTest, EveryReaderGivesTheRecordedResults) {
  std::map<std::string, std::string> generated = generatedFiles();
  if (const char *write = getenv("KRO_ASE_RESULTS_WRITE")) {
    std::vector<std::string> names = repositoryFiles();
    for (const auto &file : generated)
      names.push_back(file.first);
    std::string text;
    for (const std::string &name : names)
      text += "== " + name + "\n" + resultsOf(pathOf(name, generated));
    kroTestWriteFile(write, text);
    GTEST_SKIP() << "record written to " << write;
  }
  std::map<std::string, std::string> record = readRecord(kroTestReadFile(kResults));
  ASSERT_GT(record.size(), generated.size());
  std::string loaders = "#include <string.h>\n#include \"kro.h\"\n";
  for (const auto &[name, want] : record) {
    SCOPED_TRACE(name);
    EXPECT_EQ(resultsOf(pathOf(name, generated), &loaders), want);
  }
  // And the loaders of a record (as kroLoadScene gives): a name of quotes, a backslash and a line
  // end, values no text holds, no texture coordinates.
  kroMesh odd = {};
  kroIncreaseObject(&odd.op, 0, 1), kroIncreaseObject(&odd.nc, 0, 1);
  kroIncreaseCoords(&odd.realn, 0, 1);
  odd.op[0][0] = NAN, odd.op[0][1] = -INFINITY, odd.triangles = 1;
  strcpy(odd.node_name, "a \"b\"\n\\c\x7f");
  for (auto writer : {kroWriteSrcMeshFromRecord, kroWriteCompactSrcMeshFromRecord}) {
    Written w =
        written([&](FILE *, const char *name, FILE *out) { return writer(&odd, name, out); },
                nullptr, "-", writer == kroWriteSrcMeshFromRecord ? "Odd" : "OddCompact");
    EXPECT_TRUE(w.ok && w.says == " hook0 []" && kroTestHas(w.text, "a \\\"b\\\"\\012\\\\c\\177"))
        << w.says << w.text;
    loaders += w.text + "\n";
  }
  for (kroObject *rows : {&odd.op, &odd.nc, &odd.realn})
    kroDestroyObject(rows, 1);
  // Every compact loader compiles cleanly.
  kroTestOutcome built = kroTestCompile(KRO_CXX_COMPILER, "compact.cpp", loaders, "-fsyntax-only");
  EXPECT_EQ(built.status, 0) << built.err;
}

// A UTF-16 export of either byte order reads as its UTF-8 twin through every
// reader: the same objects, names (a lone surrogate as U+FFFD), counts (bounded
// by characters), materials, messages and loaders, on files and pipes; a pipe
// as its file, the lines of messages too, also after its read-ahead was held
// (only a count bounded by a file's size is a pipe's own). Stream positions
// are the UTF-16 file's own (the 2-byte mark, then 2 bytes a unit), so objects
// found at its offsets are the twin's.
TEST_F(AseExactTest, Utf16FilesReadAsTheirUtf8Twins) {
  const std::string folder = std::string(KRO_TEST_DATA) + "/ase/";
  for (const char *twin : {"two_objects", "bad_numfaces_twice", "utf16/unicode_names",
                           "utf16/refusals", "utf16/count_bound"}) {
    const std::string utf8 = folder + twin + ".ase", bytes = kroTestReadFile(utf8);
    std::string want = resultsOf(utf8);
    for (size_t at = 0; (at = want.find("\npipe ", at + 1)) != want.npos;)
      EXPECT_TRUE(!want.compare(at + 6, 4, "rest") || kroTestHas(twin, "count") ||
                  !want.compare(want.find('\n', at + 1) - 7, 7, "as file"));
    for (size_t at = 0; (at = want.find(" at", at + 1)) != want.npos;) {
      if (!isdigit((unsigned char)want[at + 3])) // " at line": lines are the same
        continue;
      size_t digits = want.find_first_not_of("0123456789", at + 3);
      long position = std::stol(want.substr(at + 3, digits - at - 3)), units = 0;
      for (long i = 0; i < position; i++) // a unit per UTF-8 sequence, two for 4 bytes
        units += ((bytes[i] & 0xC0) != 0x80) + ((unsigned char)bytes[i] >= 0xF0);
      want.replace(at + 3, digits - at - 3, std::to_string(2 + 2 * units));
    }
    for (const char *order : {"le", "be"}) {
      std::string path = folder + "utf16/" + std::filesystem::path(twin).filename().string() +
                         "_utf16" + order + ".ase";
      SCOPED_TRACE(path);
      EXPECT_EQ(resultsOf(path), want);
    }
  }
}

// Objects with a further mapping channel (which replaces the texture table), a keyword glued to
// a value (which is text), a list keyword with a letter more (no entry) and a brace among a
// face's values (which closes the object's block, so the name after it names nothing): the
// stream reader, the stream reader placed at each offset the offset finder gives and the array
// reader read each as the numbered reader does.
TEST_F(AseExactTest, EveryReaderAndTheOffsetsAgreeOnOddObjects) {
  const std::string path = kroTestTempPath("odd.ase"),
                    triangle =
                        "*MESH_NUMVERTEX 3\n"
                        "*MESH_NUMFACES 1\n*MESH_VERTEX 0 0 0 0\n*MESH_VERTEX 1 1 0 0*GEOMOBJECT\n"
                        "*MESH_VERTEX 2 0 1 0\n*MESH_VERTEXX 2 9 9 9\n"
                        "*MESH_FACE 0: A: 0 B: 1 C: 2\n}\n";
  kroTestWriteFile(path,
                   "*GEOMOBJECT {\n*NODE_NAME \"c\"\n*MESH_NUMVERTEX 1\n*MESH_NUMFACES 1\n"
                   "*MESH_NUMTVERTEX 1\n*MESH_TVERT 0 0.1 0.2 0\n*MESH_TFACE 0 0 0 0\n"
                   "*MESH_MAPPINGCHANNEL 2 {\n*MESH_NUMTVERTEX 2\n*MESH_TVERT 1 0.5 0.6 0\n"
                   "*MESH_TFACE 0 1 1 1\n}\n}\n*GEOMOBJECT {\n*NODE_NAME \"A\"\n" +
                       triangle + "*GEOMOBJECT {\n*NODE_NAME \"B\"\n" + triangle +
                       "*GEOMOBJECT {\n*NODE_NAME \"a\"\n*MESH_NUMVERTEX 1\n*MESH_NUMFACES 1\n"
                       "*MESH_VERTEX 0 1 2 3\n*MESH_FACE 0 } A: 0 B: 0 C: 0\nx y\n{\n"
                       "*NODE_NAME \"b\"\n}\n");
  const char *p = path.c_str();
  long *offsets = nullptr;
  kroMesh *meshes = nullptr;
  ASSERT_TRUE(kroObjectsInASE(p) == 4 && kroObjectOffsetsInASE(p, &offsets) == 4 &&
              kroLoadMeshArrayFromASE(&meshes, p) == 4);
  FILE *stream = fopen(p, "r"), *placed_stream = fopen(p, "r");
  std::string names, described;
  for (int i = 0; i < 4; i++) {
    kroTestMesh numbered(path, i + 1), streamed, placed;
    streamed.next(stream);
    ASSERT_EQ(fseek(placed_stream, offsets[i], SEEK_SET), 0);
    placed.next(placed_stream);
    const std::string want = describe(numbered);
    EXPECT_TRUE(describe(streamed) == want && describe(placed) == want &&
                describe(meshes[i]) == want)
        << i;
    names += std::string(numbered.name) + " " + std::to_string(numbered.triangles) + ";";
    described += want + " hook0 [];";
  }
  fclose(stream), fclose(placed_stream), free(offsets);
  kroFreeMeshArray(&meshes, 4);
  EXPECT_EQ(meshes, nullptr);
  EXPECT_EQ(names, "c 1;A 1;B 1;a 1;");
  kroTestMesh channels(path, 1), glued(path, 2);
  EXPECT_EQ(std::vector<float>(channels.tc[0], channels.tc[0] + 6),
            std::vector<float>({0.5f, 0.6f, 0.5f, 0.6f, 0.5f, 0.6f}));
  EXPECT_EQ(std::vector<float>(glued.op[0], glued.op[0] + 9),
            std::vector<float>({0, 0, 0, 1, 0, 0, 0, 1, 0}));
  // A FIFO opened again at one address (freopen; its last reader gone before the next writer
  // opens it) starts afresh: bytes held for a stream closed early are not served, whether it was
  // forgotten (the next given a buffer before reading, so it looks used) or not (looks fresh).
  const std::string fifo = kroTestTempPath("odd.fifo");
  std::string sessions;
  for (int session = 0; session < 4; session++) {
    ASSERT_TRUE(session ? !!freopen("/dev/null", "r", stream) : !mkfifo(fifo.c_str(), 0600));
    FILE *writer = popen(("cat '" + path + "' >'" + fifo + "'").c_str(), "r");
    stream = session ? freopen(fifo.c_str(), "r", stream) : fopen(fifo.c_str(), "r");
    ASSERT_TRUE(writer && stream && (session < 2 || !setvbuf(stream, nullptr, _IOFBF, 4096)));
    for (int i = 0; i < (session % 2 ? 4 : 1); i++)
      sessions += loadNext(stream, path) + ";";
    if (session == 2)
      kroForgetASEStream(stream);
    pclose(writer), sessions += "|";
  }
  fclose(stream);
  std::string first = described.substr(0, described.find(';') + 1);
  EXPECT_EQ(sessions, first + "|" + described + "|" + first + "|" + described + "|");
  EXPECT_EQ(kroTestHookCalls, 0);
}

// Cut a good file at every byte: each object read from the stream is either
// exactly the full object or refused with an empty result; a cut file's
// message names the line of its last byte.
TEST_F(AseExactTest, FileCutAnywhereIsCompleteOrEmpty) {
  const std::string two = kSource + "/tests/data/ase/two_objects.ase";
  std::string text = kroTestReadFile(two);
  kroTestMesh first(two, 1), second(two, 2);
  const std::string full[2] = {describe(first) + " hook0 []", describe(second) + " hook0 []"};
  int refused = 0;
  for (size_t length = 1; length < text.size(); length++) {
    FILE *stream = fmemopen(&text[0], length, "r");
    for (const std::string &want : full) {
      const std::string got = loadNext(stream, two);
      if (got == want)
        continue;
      refused += !kroTestHas(got, " hook0 [");
      std::string line = std::to_string(1 + std::count(&text[0], &text[length - 1], '\n'));
      ASSERT_TRUE(
          got.rfind("\"untouched\" 0 m0 ", 0) == 0 &&
          (!kroTestHas(got, "(cut off?)") || kroTestHas(got, "(cut off?) at line " + line + "|")))
          << length << got;
      break; // a refusal leaves the stream anywhere
    }
    fclose(stream);
  }
  EXPECT_GT(refused, (int)text.size() / 2);
}

// Each allocation of the compact writer, of the generator and of the mesh
// loader that fails is reported once and leaves nothing, as a refusal does,
// until the call needs fewer; then it gives what it gives without failures.
TEST_F(AseExactTest, EachFailedAllocationIsReportedOnceAndLeavesNothing) {
  std::mt19937_64 rng(5);
  std::string path = kroTestTempPath("allocations.ase"), said;
  kroTestWriteFile(path, randomObject(rng, "many", 300, 200, 400)); // the tables grow
  auto load = [&](FILE *, const char *, FILE *out) { // the loader's result, unless refused
    kroTestMesh m(kSource + "/tests/data/ase/two_objects.ase", 1);
    std::string result = describe(m);
    if (m.triangles || m.material || strcmp(m.name, "untouched"))
      fputs(result.c_str(), out);
    return m.triangles > 0 ? 1 : 0;
  };
  // The compact writer, the generator (its records kept from earlier calls), the loader.
  for (long n = 1, kind = 0; kind < 3; n++) {
    auto call = [&](long fail) {
      FILE *stream = fopen(path.c_str(), "r");
      kroFailAllocationAfter(fail);
      Written w = kind == 0   ? written(kroWriteCompactSrcMeshFromASEfd, stream, path, "M")
                  : kind == 1 ? written(kroWriteSrcMeshFromASEfd, stream, path, "M")
                              : written(load, stream, path, "M");
      kroFailAllocationAfter(0);
      fclose(stream);
      return w;
    };
    Written w = call(n);
    bool failed = w.says != " hook0 []";
    said += w.says;
    if (failed)
      EXPECT_TRUE(w.ok == 0 && n < 200 && w.text.empty() &&
                  w.says.rfind(" hook1 [Error during allocating memory in kro", 0) == 0)
          << kind << " " << n << ": " << w.says << w.text;
    else
      EXPECT_TRUE(w.ok == 1 && n > 2 && w.text == call(0).text) << kind << " " << n;
    if (!failed || n == 200)
      kind++, n = 0;
  }
  // The walk's tables, the compact writer's own and the loader's arrays failed in turn.
  EXPECT_TRUE(kroTestHas(said, "in kroLoadMeshxFromASE(..)") &&
              kroTestHas(said, "in kroWriteCompactSrcMeshFromASEfd(..)") &&
              kroTestHas(said, "in kroIncreaseCoords(..)"))
      << said;
}

} // namespace
