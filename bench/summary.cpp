// kro-bench-summary: reads the JSON files that the benchmark programs write
// (--benchmark_out=FILE --benchmark_out_format=json) and prints one table of
// the measures that have goals: the engine's figure, its peer's, their ratio,
// the goal and whether it holds. Repeated benchmarks count by their median.
//
// usage: kro-bench-summary RESULTS.json...
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <string>

namespace {

// One benchmark run: its numeric fields (cpu_time, real_time,
// bytes_per_second, counters) by name, times in milliseconds.
typedef std::map<std::string, double> Run;

// A benchmark entry's string fields (name, run_type, aggregate_name, ...).
typedef std::map<std::string, std::string> Texts;

// A small reader for the JSON that Google Benchmark writes: objects, arrays,
// strings, numbers and literals. Keeps the entries of the "benchmarks" array.
struct Json {
  const char *p = nullptr;
  std::map<std::string, Run> runs; // by run name; a median replaces a single run
  bool failed = false;

  void space() {
    while (*p == ' ' || *p == '\n' || *p == '\r' || *p == '\t')
      p++;
  }
  void expect(char c) {
    space();
    if (*p == c)
      p++;
    else
      failed = true;
  }
  void comma() {
    space();
    if (*p == ',')
      p++, space();
  }
  std::string string() {
    std::string text;
    expect('"');
    for (; *p && *p != '"'; p++) {
      if (*p == '\\' && p[1])
        p++;
      text += *p;
    }
    failed |= !*p;
    if (*p)
      p++;
    return text;
  }
  // Any value; an object's number and string fields go to *numbers and
  // *texts when given, and a "benchmarks" array's entries are kept.
  void value(Run *numbers = nullptr, Texts *texts = nullptr) {
    space();
    if (*p == '{') {
      p++;
      for (space(); *p != '}' && *p && !failed; comma()) {
        std::string key = string();
        expect(':');
        space();
        if (key == "benchmarks")
          benchmarks();
        else if (*p == '"' && texts)
          (*texts)[key] = string();
        else if (*p == '-' || (*p >= '0' && *p <= '9'))
          number(numbers ? &(*numbers)[key] : nullptr);
        else
          value();
      }
      expect('}');
    } else if (*p == '[') {
      p++;
      for (space(); *p != ']' && *p && !failed; comma())
        value();
      expect(']');
    } else if (*p == '"') {
      string();
    } else if (*p >= 'a' && *p <= 'z') { // true, false, null
      while (*p >= 'a' && *p <= 'z')
        p++;
    } else {
      number(nullptr);
    }
  }
  void number(double *x) {
    char *end;
    double read = strtod(p, &end);
    failed |= end == p;
    p = end;
    if (x)
      *x = read;
  }
  void benchmarks() {
    expect('[');
    for (space(); *p != ']' && *p && !failed; comma()) {
      Run run;
      Texts texts;
      value(&run, &texts);
      take(texts["name"], texts["run_type"], texts["aggregate_name"], run);
    }
    expect(']');
  }
  // Keeps a single run, or the median of repeated ones, under the run's
  // name without the "/repeats:", "/iterations:" and "/manual_time" parts.
  void take(std::string name, const std::string &type, const std::string &aggregate,
            const Run &run) {
    bool median = type == "aggregate";
    if (median && aggregate != "median")
      return;
    if (median)
      name = name.substr(0, name.rfind('_'));
    for (const char *part : {"/repeats:", "/iterations:", "/manual_time"})
      for (size_t at; (at = name.find(part)) != std::string::npos;) {
        size_t end = name.find('/', at + 1);
        name.erase(at, end == std::string::npos ? std::string::npos : end - at);
      }
    if (median || !runs.count(name))
      runs[name] = run;
  }
};

// How a goal compares the engine's figure e with the peer's p.
enum Kind {
  FASTER,     // p / e >= goal (times)
  AT_LEAST,   // e >= goal (the peer for reference)
  NOT_LARGER, // e / p <= goal
  STATED,     // no goal: the figures side by side
};

struct Goal {
  const char *measure, *unit;
  const char *engine, *engine_field; // run and field; field "bytes_per_second" reads as MB/s
  const char *peer, *peer_field;     // or null: `recorded` stands for the peer
  double recorded;
  const char *peer_name;
  Kind kind;
  double goal;
};

// The goals. The generator's peer is the engine's own generator before it was
// sped up (character reads, std::to_chars and one write a line), measured on
// the two-processor development machine: 16.6 ms of CPU for the 3.9 MB model.
// A scene's goals are for its indexed form (shared vertices and indices, drawn
// by kroDrawMesh as they stand); the row form's figures stand beside them.
const Goal kGoals[] = {
    {"ASE read, 10,000 triangles", "ms CPU", "BM_Reader/10000", "cpu_time", "BM_Assimp/10000",
     "cpu_time", 0, "assimp", FASTER, 2},
    {"ASE read, 100,000 triangles", "ms CPU", "BM_Reader/100000", "cpu_time", "BM_Assimp/100000",
     "cpu_time", 0, "assimp", FASTER, 2},
    {"ASE read speed, 3.9 MB", "MB/s", "BM_Reader/10000", "bytes_per_second", "BM_Assimp/10000",
     "bytes_per_second", 0, "assimp", AT_LEAST, 1000},
    {"ASE read speed, 39 MB", "MB/s", "BM_Reader/100000", "bytes_per_second", "BM_Assimp/100000",
     "bytes_per_second", 0, "assimp", AT_LEAST, 1000},
    {"Loader source, 10,000 triangles", "ms CPU", "BM_Generator/10000", "cpu_time", nullptr,
     nullptr, 16.6, "before", FASTER, 2},
    {"Loader compile, g++ -O2, 10,000 triangles", "s CPU", "BM_CompileLoader/1", "real_time",
     "BM_CompileLoader/0", "real_time", 0, "default", FASTER, 10},
    {"Compact loader object / floats it builds", "kB", "BM_CompileLoader/1", "object_bytes",
     "BM_CompileLoader/1", "float_bytes", 0, "floats", NOT_LARGER, 1.25},
    {"glTF read, 100,000 triangles", "ms CPU", "BM_GlbEngineIndexed/100000", "cpu_time",
     "BM_GlbAssimp/100000", "cpu_time", 0, "assimp", FASTER, 3},
    {"glTF read, 100,000 triangles", "ms CPU", "BM_GlbEngineIndexed/100000", "cpu_time",
     "BM_GlbTinygltf/100000", "cpu_time", 0, "tinygltf", FASTER, 0.5},
    {"glTF read, 1,000,000 triangles", "ms CPU", "BM_GlbEngineIndexed/1000000", "cpu_time",
     "BM_GlbAssimp/1000000", "cpu_time", 0, "assimp", FASTER, 3},
    {"glTF read, 1,000,000 triangles", "ms CPU", "BM_GlbEngineIndexed/1000000", "cpu_time",
     "BM_GlbTinygltf/1000000", "cpu_time", 0, "tinygltf", FASTER, 0.5},
    {"glTF read as rows, 1,000,000 triangles", "ms CPU", "BM_GlbEngine/1000000", "cpu_time",
     "BM_GlbAssimp/1000000", "cpu_time", 0, "assimp", STATED, 0},
    {"glTF read peak, 1,000,000 triangles", "MB", "BM_GlbEngineIndexed/1000000", "peak_MB",
     "BM_GlbAssimp/1000000", "peak_MB", 0, "assimp", STATED, 0},
    {"glTF read peak, 1,000,000 triangles", "MB", "BM_GlbEngineIndexed/1000000", "peak_MB",
     "BM_GlbTinygltf/1000000", "peak_MB", 0, "tinygltf", STATED, 0},
    {"OBJ read, 100,000 triangles", "ms CPU", "BM_ObjEngineIndexed/100000", "cpu_time",
     "BM_ObjTinyobjloader/100000", "cpu_time", 0, "tinyobj", FASTER, 4},
    {"OBJ read, 1,000,000 triangles", "ms CPU", "BM_ObjEngineIndexed/1000000", "cpu_time",
     "BM_ObjTinyobjloader/1000000", "cpu_time", 0, "tinyobj", FASTER, 4},
    {"OBJ read, 1,000,000 triangles", "ms CPU", "BM_ObjEngineIndexed/1000000", "cpu_time",
     "BM_ObjAssimp/1000000", "cpu_time", 0, "assimp", STATED, 0},
    {"OBJ read as rows, 1,000,000 triangles", "ms CPU", "BM_ObjEngine/1000000", "cpu_time",
     "BM_ObjTinyobjloader/1000000", "cpu_time", 0, "tinyobj", STATED, 0},
    {"OBJ read peak, 100,000 triangles", "MB", "BM_ObjEngineIndexed/100000", "peak_MB",
     "BM_ObjTinyobjloader/100000", "peak_MB", 0, "tinyobj", NOT_LARGER, 1},
    {"OBJ read peak, 100,000 triangles", "MB", "BM_ObjEngineIndexed/100000", "peak_MB",
     "BM_ObjAssimp/100000", "peak_MB", 0, "assimp", NOT_LARGER, 1},
    {"OBJ read peak, 1,000,000 triangles", "MB", "BM_ObjEngineIndexed/1000000", "peak_MB",
     "BM_ObjTinyobjloader/1000000", "peak_MB", 0, "tinyobj", NOT_LARGER, 1},
    {"OBJ read peak, 1,000,000 triangles", "MB", "BM_ObjEngineIndexed/1000000", "peak_MB",
     "BM_ObjAssimp/1000000", "peak_MB", 0, "assimp", NOT_LARGER, 1},
    {"OBJ read peak as rows, 1,000,000 triangles", "MB", "BM_ObjEngine/1000000", "peak_MB",
     "BM_ObjTinyobjloader/1000000", "peak_MB", 0, "tinyobj", NOT_LARGER, 1},
    {"PNG decode, 4096 x 4096 RGBA", "ms CPU", "BM_KroDecodePicture/png_rgba4096/real_time",
     "cpu_time", "BM_LibpngDecodePicture/png_rgba4096/real_time", "cpu_time", 0, "libpng", FASTER,
     1.75},
    {"PNG decode, 4096 x 4096 RGBA", "ms CPU", "BM_KroDecodePicture/png_rgba4096/real_time",
     "cpu_time", "BM_StbDecodePicture/png_rgba4096/real_time", "cpu_time", 0, "stb", FASTER, 1},
    {"PNG decode, 2048 x 2048 RGB", "ms CPU", "BM_KroDecodePicture/png_rgb2048/real_time",
     "cpu_time", "BM_LibpngDecodePicture/png_rgb2048/real_time", "cpu_time", 0, "libpng", FASTER,
     1},
    {"PNG decode, 2048 x 2048 RGB", "ms CPU", "BM_KroDecodePicture/png_rgb2048/real_time",
     "cpu_time", "BM_StbDecodePicture/png_rgb2048/real_time", "cpu_time", 0, "stb", FASTER, 1},
    {"BMP decode, 2048 x 2048, 8-bit palette", "ms CPU",
     "BM_KroDecodePicture/bmp_palette8/real_time", "cpu_time",
     "BM_StbDecodePicture/bmp_palette8/real_time", "cpu_time", 0, "stb", FASTER, 1},
    {"BMP decode, 2048 x 2048, 16-bit 5-6-5", "ms CPU", "BM_KroDecodePicture/bmp_rgb565/real_time",
     "cpu_time", "BM_StbDecodePicture/bmp_rgb565/real_time", "cpu_time", 0, "stb", FASTER, 1},
    {"BMP decode, 2048 x 2048, 24-bit", "ms CPU", "BM_KroDecodePicture/bmp_rgb24/real_time",
     "cpu_time", "BM_StbDecodePicture/bmp_rgb24/real_time", "cpu_time", 0, "stb", FASTER, 1},
    {"BMP decode, 2048 x 2048, 32-bit", "ms CPU", "BM_KroDecodePicture/bmp_bgra32/real_time",
     "cpu_time", "BM_StbDecodePicture/bmp_bgra32/real_time", "cpu_time", 0, "stb", FASTER, 1},
    {"Intro song, 14 s, rendered on one core", "x real time", "BM_SynthIntroSong", "x_real_time",
     nullptr, nullptr, 1, "real time", AT_LEAST, 100},
};

// A field in the goal's unit: times as the run gives them (ms, or s for the
// compiler), bytes per second as MB/s, byte counts as kB.
double figure(const Run &run, const char *field) {
  auto found = run.find(field);
  if (found == run.end())
    return NAN;
  if (!strcmp(field, "bytes_per_second"))
    return found->second / 1e6;
  if (strstr(field, "_bytes"))
    return found->second / 1e3;
  return found->second;
}

std::string readFile(const char *path) {
  std::string text;
  FILE *f = fopen(path, "rb");
  if (!f)
    return text;
  char block[65536];
  for (size_t got; (got = fread(block, 1, sizeof block, f)) > 0;)
    text.append(block, got);
  fclose(f);
  return text;
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 2 || argv[1][0] == '-') {
    fprintf(stderr, "usage: kro-bench-summary RESULTS.json...\n");
    return 2;
  }
  std::map<std::string, Run> runs;
  for (int i = 1; i < argc; i++) {
    std::string text = readFile(argv[i]);
    Json json;
    json.p = text.c_str();
    json.value();
    if (text.empty() || json.failed) {
      fprintf(stderr, "kro-bench-summary: %s: not a benchmark result file\n", argv[i]);
      return 1;
    }
    runs.insert(json.runs.begin(), json.runs.end());
  }
  char load[64] = "?";
  if (FILE *f = fopen("/proc/loadavg", "r")) {
    if (!fgets(load, sizeof load, f))
      strcpy(load, "?");
    load[strcspn(load, " ")] = 0;
    fclose(f);
  }
  printf("\nGoals (medians; load average %s over the last minute)\n", load);
  printf("%-50s %10s %10s %-8s %8s %10s  %s\n", "measure", "engine", "peer", "", "ratio", "goal",
         "holds");
  for (const Goal &goal : kGoals) {
    double e = NAN, p = goal.recorded;
    if (runs.count(goal.engine))
      e = figure(runs[goal.engine], goal.engine_field);
    if (goal.peer)
      p = runs.count(goal.peer) ? figure(runs[goal.peer], goal.peer_field) : NAN;
    double ratio = goal.kind == FASTER ? p / e : e / p;
    bool holds = goal.kind == FASTER     ? ratio >= goal.goal
                 : goal.kind == AT_LEAST ? e >= goal.goal
                                         : ratio <= goal.goal;
    char target[32];
    snprintf(target, sizeof target,
             goal.kind == FASTER       ? ">= %gx"
             : goal.kind == AT_LEAST   ? ">= %g"
             : goal.kind == NOT_LARGER ? "<= %gx"
                                       : "-",
             goal.goal);
    char measure[64];
    snprintf(measure, sizeof measure, "%s (%s)", goal.measure, goal.unit);
    printf("%-50s %10.4g %10.4g %-8s %7.2fx %10s  %s\n", measure, e, p, goal.peer_name, ratio,
           target,
           isnan(e) || isnan(p)  ? "not run"
           : goal.kind == STATED ? "-"
           : holds               ? "yes"
                                 : "NO");
  }
  return 0;
}
