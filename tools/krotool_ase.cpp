// krotool mesh-src and ase-info: the ASE half of the content pipeline, and
// mesh-src for OBJ and glTF files through the engine's one scene loading call.
//
// The engine prints its failure messages on standard output. While a
// subcommand runs the engine, standard output is pointed at standard error,
// so that messages never mix with generated source; the source is collected
// in memory and written out only when every object converted cleanly.
#include "krotool.h"

#include "kro.h"

#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

static bool krotoolIsHelp(const char *arg) {
  return !strcmp(arg, "--help") || !strcmp(arg, "-h");
}

// ---- mesh-src ----

static void meshSrcUsage(FILE *out) {
  fprintf(out, "usage: krotool mesh-src FILE (NAME... | --auto) [--object WHICH]...\n"
               "                        [-o OUT.cpp] [--header OUT.h] [--materials OUT.h]\n"
               "                        [--include HEADER]... [--compact]\n"
               "                        [--bounds] [--table OUT.h]\n"
               "\n"
               "Writes one mesh loader per geometry object of FILE, in file order: the\n"
               "loader of an object named NAME is loadMesh<NAME>. FILE is an ASE, OBJ or\n"
               "glTF (.gltf, .glb) file, told by its content; an OBJ or glTF file's objects\n"
               "are the meshes kroLoadScene gives (a glTF primitive of a node, an OBJ run of\n"
               "faces under one name and material), named by their node or group, and\n"
               "their loaders fill the same rows with the same floats, bit for bit: a\n"
               "release needs no file. The source starts with the includes it needs and\n"
               "compiles on its own; each loader is the engine's generator output (or, with\n"
               "--compact, its compact writer's), unchanged.\n"
               "Nothing is written unless every object converts cleanly. OUT.cpp, OUT.h and\n"
               "the materials are replaced whole and together: after a failure every one is\n"
               "as it was. Each must be a file of its own (not the same file twice, also\n"
               "through a link, nor standard output twice).\n"
               "\n"
               "  NAME...           one name per converted object (letters, digits, '_')\n"
               "  --auto            name each loader after the object's node name, made into a\n"
               "                    unique C identifier (other characters become '_', a\n"
               "                    repeated name gets _2, _3, ...)\n"
               "  --object WHICH    convert only this object: its number (from 1) or its node\n"
               "                    name as krotool scene-info lists them; repeatable\n"
               "  -o OUT.cpp        write the source to OUT.cpp instead of standard output\n"
               "  --header OUT.h    also write a header declaring every loader, each with its\n"
               "                    object's material number and diffuse colour in a comment\n"
               "  --materials OUT.h also write the file's material list as a table of\n"
               "                    kroMaterialEntry rows (number, name, diffuse colour, diffuse\n"
               "                    map file and UV transform), named\n"
               "                    after OUT.h: materials.h holds materials[] and\n"
               "                    MATERIALS_COUNT\n"
               "  --include HEADER  add #include \"HEADER\" after the usual includes (repeatable)\n"
               "  --compact         loaders that fill the same arrays with the same floats from\n"
               "                    static tables (each distinct value once): far quicker to\n"
               "                    compile, and a smaller object, than the generator's text\n"
               "  --bounds          the header (with --header) also gives each loader's object\n"
               "                    bounds, as the file places it, as a kroBounds constant\n"
               "                    loadMesh<NAME>Bounds (least and greatest x, y, z, centre,\n"
               "                    half diagonal)\n"
               "  --table OUT.h     also write a table of every converted object as\n"
               "                    kroSceneEntry rows (node name, loader, triangles, material\n"
               "                    number, bounds), named after OUT.h as --materials names its\n"
               "                    table, with its _COUNT: a whole scene drawn in one loop.\n"
               "                    Its material numbers are the --materials rows' numbers\n"
               "  -h, --help        show this help\n"
               "\n"
               "--header and --materials read the material list too: one the engine refuses\n"
               "stops the run, and --materials needs a file that has one. A glTF file's list\n"
               "ends with the default material (white), which meshes without one use; a\n"
               "picture inside the file is a diffuse map named \"\".\n"
               "\n"
               "example: krotool mesh-src ship.ase --auto -o ship.cpp --header ship.h\n"
               "         krotool mesh-src ship.glb --auto --compact -o ship.cpp\n"
               "         krotool mesh-src ship.ase --auto -o ship.cpp --table ship_scene.h\n");
}

static int meshSrcRefuse(const char *format, const char *detail) {
  fprintf(stderr, "krotool mesh-src: ");
  fprintf(stderr, format, detail);
  fprintf(stderr, "\n");
  meshSrcUsage(stderr);
  return 2;
}

static bool krotoolIsIdentifierChar(char c) {
  return c == '_' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// A NAME becomes part of a C identifier (after "loadMesh").
static bool krotoolIsNamePart(const char *name) {
  if (!*name)
    return false;
  for (const char *c = name; *c; c++)
    if (!krotoolIsIdentifierChar(*c))
      return false;
  return true;
}

static bool krotoolContains(const std::vector<std::string> &list, const std::string &item) {
  for (const std::string &entry : list)
    if (entry == item)
      return true;
  return false;
}

// The loader name for a node name: every character that cannot stand in an
// identifier becomes '_'; an empty name becomes Object<number>; a name
// already in `taken` gets the first free suffix _2, _3, ...
static std::string krotoolLoaderName(const char *node_name, int number,
                                     const std::set<std::string> &taken) {
  std::string name;
  for (const char *c = node_name; *c; c++)
    name += krotoolIsIdentifierChar(*c) ? *c : '_';
  if (name.empty())
    name = "Object" + std::to_string(number);
  std::string unique = name;
  for (int suffix = 2; taken.count(unique); suffix++)
    unique = name + "_" + std::to_string(suffix);
  return unique;
}

// One file a run writes, and its text.
struct MeshSrcOutput {
  const char *path;
  std::string text;
};

static bool meshSrcCannotWrite(const char *path, int error) {
  fprintf(stderr, "krotool mesh-src: cannot write %s: %s\n", path, strerror(error));
  return false;
}

// Writes every output, and `to_stdout` (when given) to standard output, as
// one: each file goes to a new file beside it, and the files replace the old
// ones only when all of them, and standard output, were written whole.
static bool meshSrcWrite(const std::vector<MeshSrcOutput> &outputs, const std::string *to_stdout) {
  std::vector<kroOutFile> files(outputs.size());
  for (size_t i = 0; i < outputs.size(); i++) {
    if (kroBeginOutFile(&files[i], outputs[i].path) != 0) {
      for (size_t k = 0; k < i; k++)
        kroAbortOutFile(&files[k]);
      return meshSrcCannotWrite(outputs[i].path, files[i].error);
    }
    fwrite(outputs[i].text.data(), 1, outputs[i].text.size(), files[i].file);
  }
  if (to_stdout && (fwrite(to_stdout->data(), 1, to_stdout->size(), stdout) != to_stdout->size() ||
                    fflush(stdout) != 0)) {
    for (kroOutFile &file : files)
      kroAbortOutFile(&file);
    return meshSrcCannotWrite("standard output", errno);
  }
  if (kroCommitOutFiles(files.data(), (int)files.size()) == 0)
    return true;
  for (size_t i = 0; i < files.size(); i++)
    if (files[i].error)
      return meshSrcCannotWrite(outputs[i].path, files[i].error);
  return false;
}

// What the command line asks for.
struct MeshSrcRequest {
  const char *path = nullptr, *out_path = nullptr, *header_path = nullptr;
  const char *materials_path = nullptr;
  bool automatic = false, compact = false;
  const char *table_path = nullptr;
  bool bounds = false;
  std::vector<std::string> names, includes, objects;
};

// The objects of the file as the reader sees them.
struct MeshSrcObject {
  std::string node_name;
  int triangles = 0;
  int material_ref = 0;
  bool chosen = false;
  std::string loader; // the NAME, empty when the object is not converted
  kroBounds bounds = {};
};

// Fills request from the arguments; 0, or the exit status of a usage error.
static int meshSrcParse(int argc, char **argv, MeshSrcRequest *request) {
  for (int i = 0; i < argc; i++) {
    const char *arg = argv[i];
    if (krotoolIsHelp(arg)) {
      meshSrcUsage(stdout);
      return -1;
    }
    if (!strcmp(arg, "--auto")) {
      request->automatic = true;
    } else if (!strcmp(arg, "--bounds")) {
      request->bounds = true;
    } else if (!strcmp(arg, "--table")) {
      if (i + 1 == argc)
        return meshSrcRefuse("%s needs a value", arg);
      request->table_path = argv[++i];
    } else if (!strcmp(arg, "--compact")) {
      request->compact = true;
    } else if (!strcmp(arg, "-o") || !strcmp(arg, "--header") || !strcmp(arg, "--include") ||
               !strcmp(arg, "--object") || !strcmp(arg, "--materials")) {
      if (i + 1 == argc)
        return meshSrcRefuse("%s needs a value", arg);
      const char *value = argv[++i];
      if (!strcmp(arg, "-o"))
        request->out_path = value;
      else if (!strcmp(arg, "--header"))
        request->header_path = value;
      else if (!strcmp(arg, "--materials"))
        request->materials_path = value;
      else if (!strcmp(arg, "--include"))
        request->includes.push_back(value);
      else if (krotoolContains(request->objects, value))
        return meshSrcRefuse("object '%s' is chosen twice", value);
      else
        request->objects.push_back(value);
    } else if (arg[0] == '-' && arg[1]) {
      return meshSrcRefuse("unknown option '%s'", arg);
    } else if (!request->path) {
      request->path = arg;
    } else if (!krotoolIsNamePart(arg)) {
      return meshSrcRefuse("NAME '%s' may hold only letters, digits and '_'", arg);
    } else if (krotoolContains(request->names, arg)) {
      return meshSrcRefuse("NAME '%s' is given twice: each loader needs its own name", arg);
    } else {
      request->names.push_back(arg);
    }
  }
  if (!request->path)
    return meshSrcRefuse("%s", "missing FILE");
  if (request->automatic && !request->names.empty())
    return meshSrcRefuse("%s", "give NAMEs or --auto, not both");
  if (!request->automatic && request->names.empty())
    return meshSrcRefuse("%s", "missing NAME (or --auto)");
  if (request->bounds && !request->header_path)
    return meshSrcRefuse("%s", "--bounds writes into the header: give --header OUT.h too");
  // Each output its own file: the source goes to standard output without -o.
  const std::pair<const char *, const char *> outputs[] = {
      {"-o", request->out_path ? request->out_path : "/dev/stdout"},
      {"--header", request->header_path},
      {"--materials", request->materials_path},
      {"--table", request->table_path}};
  for (size_t i = 0; i < 4; i++)
    for (size_t k = i + 1; k < 4; k++)
      if (outputs[i].second && outputs[k].second &&
          kroSameOutDestination(outputs[i].second, outputs[k].second)) {
        std::string both = std::string(outputs[i].first) + " and " + outputs[k].first;
        return meshSrcRefuse("%s name the same file: each output needs its own", both.c_str());
      }
  return 0;
}

// Whether the file is a scene of another format than ASE, read whole by
// kroLoadScene (a file of no known format goes to the ASE reader, which says why).
static bool meshSrcIsScene(const char *path) {
  int format = kroSceneFormatOf(path);
  return format == KRO_SCENE_OBJ || format == KRO_SCENE_GLTF;
}

// Reads the node names, triangle counts and material references, and with
// `with_materials` the material list (`with_maps`: and its maps, looked for
// beside the file); false after a failure (reported). An OBJ or glTF file is
// read whole into scene, meshes and materials, which the loaders are written from.
static bool meshSrcReadObjects(const char *path, bool with_materials, bool with_maps,
                               std::vector<MeshSrcObject> *objects,
                               std::vector<kroMaterial> *materials, kroScene *scene) {
  kroMesh *meshes = nullptr;
  kroMaterial *list = nullptr;
  int saved = krotoolEngineBegin();
  int count = 0, material_count = 0;
  if (meshSrcIsScene(path)) {
    kroLoadScene(scene, path, 0);
    meshes = scene->meshes, count = scene->mesh_count;
    list = scene->materials, material_count = scene->material_count;
  } else {
    count = kroLoadMeshArrayFromASE(&meshes, path);
    if (with_materials && !krotoolEngineFailures)
      material_count = with_maps ? kroLoadMaterialsWithMapsFromASE(&list, path, nullptr, 0, 0)
                                 : kroLoadMaterialsFromASE(&list, path);
  }
  int failures = krotoolEngineFailures;
  krotoolEngineEnd(saved);
  for (int i = 0; i < count; i++) {
    MeshSrcObject object;
    object.node_name = meshes[i].node_name;
    object.triangles = meshes[i].triangles;
    object.material_ref = meshes[i].material_ref;
    kroObjectBounds(meshes[i].op, (uint32_t)meshes[i].triangles, &object.bounds);
    objects->push_back(object);
  }
  if (list)
    materials->assign(list, list + material_count);
  if (meshes != scene->meshes) {
    kroFreeMeshArray(&meshes, count);
    kroFreeMaterials(&list, material_count);
  }
  if (failures) {
    fprintf(stderr, "krotool mesh-src: %s could not be read; no loaders written\n", path);
    return false;
  }
  return true;
}

// Marks the chosen objects (all when none is named) and gives each its
// loader name; 0, or the exit status of a usage error.
static int meshSrcChoose(const MeshSrcRequest &request, std::vector<MeshSrcObject> *objects) {
  const char *path = request.path;
  int count = (int)objects->size();
  std::vector<const std::string *> chosen_by(count, nullptr); // the WHICH that chose each
  for (const std::string &which : request.objects) {
    char *end;
    long number = strtol(which.c_str(), &end, 10);
    int matches = 0;
    for (int i = 0; i < count; i++) {
      bool hit =
          *end == '\0' && !which.empty() ? number == i + 1 : (*objects)[i].node_name == which;
      if (hit && chosen_by[i]) {
        fprintf(stderr, "krotool mesh-src: %s: object %d is chosen twice, as '%s' and as '%s'\n",
                path, i + 1, chosen_by[i]->c_str(), which.c_str());
        return 2;
      }
      if (hit)
        (*objects)[i].chosen = true, chosen_by[i] = &which, matches++;
    }
    if (matches == 0) {
      fprintf(stderr, "krotool mesh-src: %s has no object '%s' (krotool scene-info lists them)\n",
              path, which.c_str());
      return 2;
    }
  }
  std::set<std::string> taken;
  size_t next_name = 0;
  for (int i = 0; i < count; i++) {
    MeshSrcObject &object = (*objects)[i];
    if (!request.objects.empty() && !object.chosen)
      continue;
    object.chosen = true;
    if (request.automatic)
      object.loader = krotoolLoaderName(object.node_name.c_str(), i + 1, taken);
    else if (next_name < request.names.size())
      object.loader = request.names[next_name];
    next_name++;
    taken.insert(object.loader);
  }
  if (!request.automatic && next_name != request.names.size()) {
    fprintf(stderr, "krotool mesh-src: %s: %zu object%s to convert but %zu NAME%s given\n", path,
            next_name, next_name == 1 ? "" : "s", request.names.size(),
            request.names.size() == 1 ? " was" : "s were");
    return 2;
  }
  if (next_name == 0) {
    fprintf(stderr, "krotool mesh-src: %s holds no geometry object\n", path);
    return 1;
  }
  return 0;
}

// One function per chosen mesh of a scene read whole, written from its records.
static bool meshSrcGenerateFromScene(const char *path, bool compact, const kroScene &scene,
                                     const std::vector<MeshSrcObject> &objects,
                                     std::vector<std::string> *functions) {
  int saved = krotoolEngineBegin();
  bool ok = true;
  for (size_t i = 0; ok && i < objects.size(); i++) {
    if (!objects[i].chosen)
      continue;
    char *text = nullptr;
    size_t size = 0;
    FILE *out = open_memstream(&text, &size);
    const char *name = objects[i].loader.c_str();
    if (out)
      ok = compact ? kroWriteCompactSrcMeshFromRecord(&scene.meshes[i], name, out)
                   : kroWriteSrcMeshFromRecord(&scene.meshes[i], name, out);
    ok = out && ok && krotoolEngineFailures == 0;
    if (out)
      ok = fclose(out) == 0 && ok;
    if (ok)
      functions->push_back(std::string(text, size));
    free(text);
  }
  krotoolEngineEnd(saved);
  if (!ok)
    fprintf(stderr, "krotool mesh-src: %s: no loaders written\n", path);
  return ok;
}

// One generated function per chosen object, in file order; false after a
// failure (reported).
static bool meshSrcGenerate(const char *path, bool compact,
                            const std::vector<MeshSrcObject> &objects,
                            std::vector<std::string> *functions) {
  FILE *stream = fopen(path, "r");
  if (!stream) {
    fprintf(stderr, "krotool mesh-src: cannot read %s: %s\n", path, strerror(errno));
    return false;
  }
  int saved = krotoolEngineBegin();
  bool ok = true;
  for (size_t i = 0; ok && i < objects.size(); i++) {
    char *text = nullptr;
    size_t size = 0;
    FILE *out = open_memstream(&text, &size);
    // An object left out is still walked, to move the stream past it.
    const char *name = objects[i].chosen ? objects[i].loader.c_str() : "Skipped";
    if (out)
      ok = compact ? kroWriteCompactSrcMeshFromASEfd(stream, name, out)
                   : kroWriteSrcMeshFromASEfd(stream, name, out);
    ok = out && ok && krotoolEngineFailures == 0;
    if (out)
      ok = fclose(out) == 0 && ok;
    if (ok && objects[i].chosen)
      functions->push_back(std::string(text, size));
    free(text);
  }
  krotoolEngineEnd(saved);
  kroForgetASEStream(stream); // a FIFO's read-ahead must not reach its next opening
  fclose(stream);
  if (!ok)
    fprintf(stderr, "krotool mesh-src: %s: no loaders written\n", path);
  return ok;
}

static const char kLoaderParameters[] =
    "(kroObject *op,kroObject *nc,kroObject *realn,kroObject *tc,char *node_name,int *triangles)";

// The header's guard: its file name in capitals, other characters as '_'.
static std::string meshSrcGuard(const char *header_path) {
  const char *slash = strrchr(header_path, '/');
  std::string guard;
  for (const char *c = slash ? slash + 1 : header_path; *c; c++)
    guard += krotoolIsIdentifierChar(*c) ? (char)toupper((unsigned char)*c) : '_';
  if (guard.empty() || (guard[0] >= '0' && guard[0] <= '9'))
    guard = "LOADERS_" + guard;
  return guard;
}

// A node name inside a comment: printable characters, no comment end.
static std::string meshSrcCommentText(const std::string &text) {
  std::string clean;
  for (char c : text)
    clean +=
        (c >= ' ' && c <= '~' && !(c == '/' && !clean.empty() && clean.back() == '*')) ? c : '?';
  return clean;
}

// Four decimals, as the exporters write colours.
static std::string meshSrcDecimals(const float *values, int count, const char *separator) {
  std::string text;
  char number[64];
  for (int k = 0; k < count; k++) {
    snprintf(number, sizeof number, "%.4f", values[k]);
    text += (k ? separator : "") + std::string(number);
  }
  return text;
}

// What a loader's comment says of its material: the number, and the name and
// diffuse colour when the file's list holds it.
static std::string meshSrcMaterialNote(int number, const std::vector<kroMaterial> &materials) {
  std::string note = "material " + std::to_string(number);
  if (materials.empty())
    return note + " (the file has no material list)";
  if (number < 0 || number >= (int)materials.size())
    return note + " (not in the file's material list)";
  const kroMaterial &material = materials[number];
  return note + " \"" + meshSrcCommentText(material.name) + "\", diffuse " +
         meshSrcDecimals(material.diffuse, 3, " ");
}

// A float as a C literal that reads back as the same float.
static std::string meshSrcFloatLiteral(float value) {
  char number[64];
  snprintf(number, sizeof number, "%.9g", value);
  std::string text = number;
  if (text.find_first_of(".e") == std::string::npos)
    text += ".0";
  return text + "f";
}

// A kroBounds initialiser: {{low}, {high}, {centre}, radius}.
static std::string meshSrcBoundsLiteral(const kroBounds &bounds) {
  std::string text = "{";
  for (const float *v : {bounds.low, bounds.high, bounds.centre}) {
    text += "{";
    for (int k = 0; k < 3; k++)
      text += meshSrcFloatLiteral(v[k]) + (k < 2 ? ", " : "");
    text += "}, ";
  }
  return text + meshSrcFloatLiteral(bounds.radius) + "}";
}

static std::string meshSrcHeader(const MeshSrcRequest &request,
                                 const std::vector<MeshSrcObject> &objects,
                                 const std::vector<kroMaterial> &materials) {
  std::string guard = meshSrcGuard(request.header_path);
  std::string text = "// Mesh loaders written by krotool mesh-src from " +
                     meshSrcCommentText(request.path) + ".\n#ifndef " + guard + "\n#define " +
                     guard + "\n\n#include \"kro.h\"\n\n";
  for (size_t i = 0; i < objects.size(); i++) {
    if (!objects[i].chosen)
      continue;
    text += "// object " + std::to_string(i + 1) + ", \"" +
            meshSrcCommentText(objects[i].node_name) + "\", " +
            std::to_string(objects[i].triangles) +
            (objects[i].triangles == 1 ? " triangle, " : " triangles, ") +
            meshSrcMaterialNote(objects[i].material_ref, materials) + "\n";
    text += "void loadMesh" + objects[i].loader + kLoaderParameters + ";\n";
    if (request.bounds)
      text += "static const kroBounds loadMesh" + objects[i].loader +
              "Bounds = " + meshSrcBoundsLiteral(objects[i].bounds) + ";\n";
  }
  return text + "\n#endif\n";
}

// A material name as a C string literal: printable characters as they are
// (quote, backslash and question mark escaped: no trigraph can form), every
// other byte as a three-digit octal escape.
static std::string meshSrcStringLiteral(const char *text) {
  std::string literal = "\"";
  char escape[8];
  for (const char *c = text; *c; c++) {
    unsigned char byte = (unsigned char)*c;
    if (byte == '"' || byte == '\\' || byte == '?') {
      literal += '\\';
      literal += (char)byte;
    } else if (byte >= ' ' && byte <= '~') {
      literal += (char)byte;
    } else {
      snprintf(escape, sizeof escape, "\\%03o", byte);
      literal += escape;
    }
  }
  return literal + "\"";
}

// The table's name: the file name without its extension, made a C identifier.
static std::string meshSrcTableName(const char *materials_path) {
  const char *slash = strrchr(materials_path, '/');
  std::string name;
  for (const char *c = slash ? slash + 1 : materials_path; *c && *c != '.'; c++)
    name += krotoolIsIdentifierChar(*c) ? *c : '_';
  if (name.empty() || (name[0] >= '0' && name[0] <= '9'))
    name = "materials_" + name;
  return name;
}

static std::string meshSrcMaterialTable(const MeshSrcRequest &request,
                                        const std::vector<kroMaterial> &materials) {
  std::string guard = meshSrcGuard(request.materials_path),
              table = meshSrcTableName(request.materials_path);
  std::string count = table;
  for (char &c : count)
    c = (char)toupper((unsigned char)c);
  std::string text =
      "// Materials of " + meshSrcCommentText(request.path) +
      ", written by krotool mesh-src --materials.\n"
      "// Each row: the file's material number (a loader's, as krotool mesh-src --header\n"
      "// notes it), its name, its diffuse colour (red, green, blue, 0..1) and its\n"
      "// diffuse map: the picture's file name as the model writes it (\"\" for none),\n"
      "// its UV offset, tiling and angle (radians), as kroMaterialMap keeps them.\n#ifndef " +
      guard + "\n#define " + guard + "\n\n#include \"kro.h\"\n\nstatic const kroMaterialEntry " +
      table + "[] = {\n";
  char colour[192], transform[320]; /* three and five "%f" of any float fit */
  for (size_t i = 0; i < materials.size(); i++) {
    const float *d = materials[i].diffuse;
    const kroMaterialMap *map = &materials[i].map[KRO_MAP_DIFFUSE];
    snprintf(colour, sizeof colour, "{%ff, %ff, %ff}", d[0], d[1], d[2]);
    float tiling[2] = {map->bitmap[0] ? map->u_tiling : 1.0f,
                       map->bitmap[0] ? map->v_tiling : 1.0f};
    snprintf(transform, sizeof transform, "{%ff, %ff}, {%ff, %ff}, %ff", map->u_offset,
             map->v_offset, tiling[0], tiling[1], map->angle);
    text += "    {" + std::to_string(i) + ", " + meshSrcStringLiteral(materials[i].name) + ", " +
            colour + ", " + meshSrcStringLiteral(map->bitmap) + ", " + transform + "},\n";
  }
  return text + "};\nenum { " + count + "_COUNT = " + std::to_string(materials.size()) +
         " };\n\n#endif\n";
}

// The scene table: every converted object's row, in file order, after the
// declarations of their loaders.
static std::string meshSrcSceneTable(const MeshSrcRequest &request,
                                     const std::vector<MeshSrcObject> &objects) {
  std::string guard = meshSrcGuard(request.table_path),
              table = meshSrcTableName(request.table_path);
  std::string count = table;
  for (char &c : count)
    c = (char)toupper((unsigned char)c);
  std::string text = "// Objects of " + meshSrcCommentText(request.path) +
                     ", written by krotool mesh-src --table.\n"
                     "// Each row: the node name, the loader, the triangle count, the material\n"
                     "// number (a krotool mesh-src --materials row's) and the bounds.\n#ifndef " +
                     guard + "\n#define " + guard + "\n\n#include \"kro.h\"\n\n";
  for (const MeshSrcObject &object : objects)
    if (object.chosen)
      text += "void loadMesh" + object.loader + kLoaderParameters + ";\n";
  text += "\nstatic const kroSceneEntry " + table + "[] = {\n";
  int rows = 0;
  for (const MeshSrcObject &object : objects) {
    if (!object.chosen)
      continue;
    text += "    {" + meshSrcStringLiteral(object.node_name.c_str()) + ", loadMesh" +
            object.loader + ", " + std::to_string(object.triangles) + ", " +
            std::to_string(object.material_ref) + ", " + meshSrcBoundsLiteral(object.bounds) +
            "},\n";
    rows++;
  }
  return text + "};\nenum { " + count + "_COUNT = " + std::to_string(rows) + " };\n\n#endif\n";
}

// The includes, then the functions, a blank line between two and a line end
// after the last.
static std::string meshSrcSource(const MeshSrcRequest &request,
                                 const std::vector<std::string> &functions) {
  std::string text = "#include \"kro.h\"\n#include <string.h>\n";
  for (const std::string &header : request.includes)
    text += "#include \"" + header + "\"\n";
  for (size_t i = 0; i < functions.size(); i++)
    text += "\n" + functions[i] + "\n";
  return text;
}

int krotoolMeshSrc(int argc, char **argv) {
  MeshSrcRequest request;
  int status = meshSrcParse(argc, argv, &request);
  if (status != 0)
    return status < 0 ? 0 : status;
  std::vector<MeshSrcObject> objects;
  std::vector<kroMaterial> materials;
  kroScene scene = {};
  if (!meshSrcReadObjects(request.path, request.header_path || request.materials_path,
                          request.materials_path != nullptr, &objects, &materials, &scene))
    return 1;
  status = meshSrcChoose(request, &objects);
  if (status == 0 && request.materials_path && materials.empty()) {
    fprintf(stderr, "krotool mesh-src: %s has no material list for --materials\n", request.path);
    status = 1;
  }
  std::vector<std::string> functions;
  if (status == 0 &&
      !(scene.format
            ? meshSrcGenerateFromScene(request.path, request.compact, scene, objects, &functions)
            : meshSrcGenerate(request.path, request.compact, objects, &functions)))
    status = 1;
  kroFreeScene(&scene); // materials holds copies of its records
  if (status != 0)
    return status;
  std::string source = meshSrcSource(request, functions);
  std::vector<MeshSrcOutput> outputs;
  if (request.header_path)
    outputs.push_back({request.header_path, meshSrcHeader(request, objects, materials)});
  if (request.materials_path)
    outputs.push_back({request.materials_path, meshSrcMaterialTable(request, materials)});
  if (request.table_path)
    outputs.push_back({request.table_path, meshSrcSceneTable(request, objects)});
  if (request.out_path)
    outputs.push_back({request.out_path, source});
  return meshSrcWrite(outputs, request.out_path ? nullptr : &source) ? 0 : 1;
}

// ---- ase-info ----

static void aseInfoUsage(FILE *out) {
  fprintf(out, "usage: krotool ase-info FILE.ase\n"
               "\n"
               "Lists what the engine reads from FILE.ase: the numbers of geometry and\n"
               "light objects, each geometry object's node name, triangle count, material\n"
               "reference and whether it carries vertex normals (without them it draws\n"
               "unlit until kroComputeNormals fills them), and the material list (diffuse\n"
               "colour, opacity), with each material's picture maps (diffuse, bump,\n"
               "specular, opacity, reflect): the file name as written, where the engine\n"
               "finds it (as written, beside FILE.ase, its name in any case) or \"not found\",\n"
               "the picture's size or why it is refused, and the map's UV offset, tiling\n"
               "and angle.\n");
}

// Why path is not an ASE file to read (empty when it is one): exporters
// start every file with the export keyword (a UTF-16 file read as UTF-8).
static std::string aseExportProblem(const char *path) {
  static const char keyword[] = "*3DSMAX_ASCIIEXPORT";
  if (const char *problem = krotoolUnreadableFile(path))
    return problem;
  FILE *file = fopen(path, "r");
  if (!file)
    return strerror(errno);
  char word[sizeof keyword + 1] = ""; // one byte more than the keyword: a longer word differs
  kroReadASEFirstWord(file, word, (int)sizeof keyword);
  fclose(file);
  if (strcmp(word, keyword) != 0)
    return std::string("no ASE export keyword (") + keyword + ") at its start: not an ASE file";
  return "";
}

// An object carries normals when the file gave any vertex normal: rows the
// file does not fill read zero.
static bool aseHasNormals(const kroMesh &mesh) {
  for (int t = 0; t < mesh.triangles; t++)
    for (int k = 0; k < KRO_POSITION_FLOATS; k++)
      if (mesh.nc[t][k] != 0.0f)
        return true;
  return false;
}

// One map of a material: its file as written, where it was found (and the
// picture's size, or why the engine refuses it), its UV transform.
static void aseInfoMap(const char *path, int kind, const kroMaterialMap *map) {
  char found[KRO_OUT_PATH_CHARS], why[256] = "";
  std::string where = "not found";
  if (kroFindMapFile(map->bitmap, path, nullptr, 0, found, sizeof found)) {
    int32_t size[2];
    uint8_t *pixels = kroDecodePicture(found, size, why, sizeof why);
    where = std::string("found: ") + found + ", " +
            (pixels ? std::to_string(size[0]) + " x " + std::to_string(size[1])
                    : std::string("refused: ") + why);
    free(pixels);
  }
  printf("    %s map \"%s\": %s; offset %.4f %.4f, tiling %.4f %.4f, angle %.4f\n",
         kroMapKindName(kind), map->bitmap, where.c_str(), map->u_offset, map->v_offset,
         map->u_tiling, map->v_tiling, map->angle);
}

int krotoolAseInfo(int argc, char **argv) {
  if (argc == 1 && krotoolIsHelp(argv[0])) {
    aseInfoUsage(stdout);
    return 0;
  }
  if (argc != 1 || argv[0][0] == '-') {
    fprintf(stderr, argc == 0 ? "krotool ase-info: missing FILE.ase\n"
                              : "krotool ase-info: expected exactly one FILE.ase\n");
    aseInfoUsage(stderr);
    return 2;
  }
  const char *path = argv[0];
  std::string refusal = aseExportProblem(path);
  if (!refusal.empty()) {
    fprintf(stderr, "krotool ase-info: %s: %s\n", path, refusal.c_str());
    return 1;
  }
  int objects = 0, lights = 0, material_count = 0;
  kroMesh *meshes = nullptr;
  kroMaterial *materials = nullptr;

  int saved = krotoolEngineBegin();
  kroObjectsAndLightsInASE(path, &objects, &lights);
  int loaded = krotoolEngineFailures ? 0 : kroLoadMeshArrayFromASE(&meshes, path);
  if (!krotoolEngineFailures)
    material_count = kroLoadMaterialsWithMapsFromASE(&materials, path, nullptr, 0, 0);
  int failures = krotoolEngineFailures;
  krotoolEngineEnd(saved);
  if (failures) {
    fprintf(stderr, "krotool ase-info: %s could not be read\n", path);
    kroFreeMeshArray(&meshes, loaded);
    kroFreeMaterials(&materials, material_count);
    return 1;
  }

  printf("%s\n", path);
  printf("geometry objects: %d\n", objects);
  printf("light objects: %d\n", lights);
  for (int i = 0; i < loaded; i++)
    printf("  object %d: \"%s\", %d triangle%s, material %d, %s\n", i + 1, meshes[i].node_name,
           meshes[i].triangles, meshes[i].triangles == 1 ? "" : "s", meshes[i].material_ref,
           aseHasNormals(meshes[i]) ? "normals" : "no normals");
  printf("materials: %d\n", material_count);
  for (int i = 0; i < material_count; i++) {
    printf("  material %d: diffuse %.4f %.4f %.4f, opacity %.4f\n", i, materials[i].diffuse[0],
           materials[i].diffuse[1], materials[i].diffuse[2], materials[i].opacity);
    for (int k = 0; k < KRO_MATERIAL_MAPS; k++)
      if (materials[i].map[k].bitmap[0])
        aseInfoMap(path, k, &materials[i].map[k]);
  }
  kroFreeMeshArray(&meshes, loaded);
  kroFreeMaterials(&materials, material_count);
  return fflush(stdout) == 0 ? 0 : 1;
}
