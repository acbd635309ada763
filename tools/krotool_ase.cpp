// krotool mesh-src and ase-info: the ASE half of the content pipeline.
//
// The engine prints its failure messages on standard output. While a
// subcommand runs the engine, standard output is pointed at standard error,
// so that messages never mix with generated source; the source is collected
// in memory and written out only when every object converted cleanly.
#include "krotool.h"

#include "kro.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

static int krotoolEngineFailures = 0;
static void krotoolCountFailure(void) {
  krotoolEngineFailures++;
}

// Engine messages go to standard error until krotoolEngineEnd.
static int krotoolEngineBegin(void) {
  fflush(stdout);
  int saved = dup(STDOUT_FILENO);
  dup2(STDERR_FILENO, STDOUT_FILENO);
  krotoolEngineFailures = 0;
  kroSetErrorFunc(krotoolCountFailure);
  return saved;
}

static void krotoolEngineEnd(int saved) {
  fflush(stdout);
  kroSetErrorFunc(nullptr);
  if (saved >= 0) {
    dup2(saved, STDOUT_FILENO);
    close(saved);
  }
}

static bool krotoolIsHelp(const char *arg) {
  return !strcmp(arg, "--help") || !strcmp(arg, "-h");
}

// ---- mesh-src ----

static void meshSrcUsage(FILE *out) {
  fprintf(out,
          "usage: krotool mesh-src FILE.ase NAME [NAME...] [-o OUT] [--include HEADER]...\n"
          "\n"
          "Writes one mesh loader per geometry object of FILE.ase, in file order: the\n"
          "object's loader is named loadMesh followed by its NAME, so give exactly one\n"
          "NAME per geometry object (krotool ase-info lists them). The text is the\n"
          "engine's generator output, unchanged; nothing is written unless every\n"
          "object converts cleanly.\n"
          "\n"
          "  -o OUT            write to OUT instead of standard output\n"
          "  --include HEADER  start with #include \"HEADER\" (repeatable), then a blank line\n"
          "  -h, --help        show this help\n");
}

// A NAME becomes part of a C identifier.
static bool krotoolIsNamePart(const char *name) {
  if (!*name)
    return false;
  for (const char *c = name; *c; c++)
    if (!(*c == '_' || (*c >= '0' && *c <= '9') || (*c >= 'a' && *c <= 'z') ||
          (*c >= 'A' && *c <= 'Z')))
      return false;
  return true;
}

// Writes straight into something that is not a regular file (a device such
// as /dev/null, a pipe).
static bool krotoolWriteDirect(const char *path, const char *bytes, size_t size) {
  FILE *file = fopen(path, "wb");
  bool ok = file && fwrite(bytes, 1, size, file) == size;
  if (file)
    ok = fclose(file) == 0 && ok;
  if (!ok)
    fprintf(stderr, "krotool mesh-src: cannot write %s\n", path);
  return ok;
}

// Writes all bytes to path through a temporary file beside it, so that a
// failed run never leaves a half-written OUT.
static bool krotoolWriteFile(const char *path, const char *bytes, size_t size) {
  struct stat info;
  if (stat(path, &info) == 0 && !S_ISREG(info.st_mode))
    return krotoolWriteDirect(path, bytes, size);
  std::string temporary = std::string(path) + ".tmp";
  FILE *file = fopen(temporary.c_str(), "wb");
  if (!file) {
    fprintf(stderr, "krotool mesh-src: cannot write %s\n", temporary.c_str());
    return false;
  }
  bool ok = fwrite(bytes, 1, size, file) == size;
  ok = fclose(file) == 0 && ok;
  if (!ok || rename(temporary.c_str(), path) != 0) {
    fprintf(stderr, "krotool mesh-src: cannot write %s\n", path);
    remove(temporary.c_str());
    return false;
  }
  return true;
}

// Generates the loaders into a memory buffer; false after a failure (reported).
static bool krotoolGenerate(const char *path, const std::vector<const char *> &names, char **text,
                            size_t *size) {
  int saved = krotoolEngineBegin();
  int objects = kroObjectsInASE(path);
  bool ok = krotoolEngineFailures == 0;
  if (ok && objects != (int)names.size()) {
    fprintf(stderr, "krotool mesh-src: %s has %d geometry object%s but %d NAME%s given\n", path,
            objects, objects == 1 ? "" : "s", (int)names.size(),
            names.size() == 1 ? " was" : "s were");
    ok = false;
  }
  FILE *stream = ok ? fopen(path, "r") : nullptr;
  FILE *out = ok ? open_memstream(text, size) : nullptr;
  if (ok && (!stream || !out)) {
    fprintf(stderr, "krotool mesh-src: cannot read %s\n", path);
    ok = false;
  }
  for (size_t i = 0; ok && i < names.size(); i++)
    ok = kroWriteSrcMeshFromASEfd(stream, names[i], out) && krotoolEngineFailures == 0;
  if (stream)
    fclose(stream);
  if (out)
    fclose(out);
  krotoolEngineEnd(saved);
  if (!ok)
    fprintf(stderr, "krotool mesh-src: %s: no loaders written\n", path);
  return ok;
}

int krotoolMeshSrc(int argc, char **argv) {
  const char *path = nullptr, *out_path = nullptr;
  std::vector<const char *> names, includes;
  for (int i = 0; i < argc; i++) {
    if (krotoolIsHelp(argv[i])) {
      meshSrcUsage(stdout);
      return 0;
    }
    if (!strcmp(argv[i], "-o") || !strcmp(argv[i], "--include")) {
      if (i + 1 == argc) {
        fprintf(stderr, "krotool mesh-src: %s needs a value\n", argv[i]);
        meshSrcUsage(stderr);
        return 2;
      }
      if (argv[i][1] == 'o')
        out_path = argv[++i];
      else
        includes.push_back(argv[++i]);
    } else if (argv[i][0] == '-' && argv[i][1]) {
      fprintf(stderr, "krotool mesh-src: unknown option '%s'\n", argv[i]);
      meshSrcUsage(stderr);
      return 2;
    } else if (!path) {
      path = argv[i];
    } else if (!krotoolIsNamePart(argv[i])) {
      fprintf(stderr, "krotool mesh-src: NAME '%s' may hold only letters, digits and '_'\n",
              argv[i]);
      return 2;
    } else {
      names.push_back(argv[i]);
    }
  }
  if (!path || names.empty()) {
    fprintf(stderr, "krotool mesh-src: %s\n", !path ? "missing FILE.ase" : "missing NAME");
    meshSrcUsage(stderr);
    return 2;
  }
  char *text = nullptr;
  size_t size = 0;
  bool ok = krotoolGenerate(path, names, &text, &size);
  if (ok) {
    std::string all;
    for (const char *header : includes)
      all += std::string("#include \"") + header + "\"\n";
    if (!includes.empty())
      all += "\n";
    all.append(text, size);
    if (out_path)
      ok = krotoolWriteFile(out_path, all.data(), all.size());
    else
      ok = fwrite(all.data(), 1, all.size(), stdout) == all.size() && fflush(stdout) == 0;
  }
  free(text);
  return ok ? 0 : 1;
}

// ---- ase-info ----

static void aseInfoUsage(FILE *out) {
  fprintf(out, "usage: krotool ase-info FILE.ase\n"
               "\n"
               "Lists what the engine reads from FILE.ase: the numbers of geometry and\n"
               "light objects, each geometry object's node name, triangle count and\n"
               "material reference, and the material list (diffuse colour, opacity).\n");
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
  int objects = 0, lights = 0, material_count = 0;
  kroMesh *meshes = nullptr;
  kroMaterial *materials = nullptr;

  int saved = krotoolEngineBegin();
  kroObjectsAndLightsInASE(path, &objects, &lights);
  int loaded = krotoolEngineFailures ? 0 : kroLoadMeshArrayFromASE(&meshes, path);
  if (!krotoolEngineFailures)
    material_count = kroLoadMaterialsFromASE(&materials, path);
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
    printf("  object %d: \"%s\", %d triangle%s, material %d\n", i + 1, meshes[i].node_name,
           meshes[i].triangles, meshes[i].triangles == 1 ? "" : "s", meshes[i].material_ref);
  printf("materials: %d\n", material_count);
  for (int i = 0; i < material_count; i++)
    printf("  material %d: diffuse %.4f %.4f %.4f, opacity %.4f\n", i, materials[i].diffuse[0],
           materials[i].diffuse[1], materials[i].diffuse[2], materials[i].opacity);
  kroFreeMeshArray(&meshes, loaded);
  kroFreeMaterials(&materials, material_count);
  return fflush(stdout) == 0 ? 0 : 1;
}
