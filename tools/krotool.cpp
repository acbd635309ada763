// krotool: dispatches to one subcommand of the content pipeline.
#include "krotool.h"

#include "kro.h"

#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

int krotoolEngineFailures = 0;
char krotoolEngineMessage[256];

static void krotoolCountFailure(void) {
  krotoolEngineFailures++;
}

static void krotoolKeepMessage(const char *message, void *) {
  snprintf(krotoolEngineMessage, sizeof krotoolEngineMessage, "%s", message);
}

int krotoolEngineBegin(void) {
  fflush(stdout);
  int saved = dup(STDOUT_FILENO);
  dup2(STDERR_FILENO, STDOUT_FILENO);
  krotoolEngineFailures = 0;
  krotoolEngineMessage[0] = '\0';
  kroSetErrorFunc(krotoolCountFailure);
  kroSetErrorMessageFunc(krotoolKeepMessage, nullptr);
  return saved;
}

void krotoolEngineEnd(int saved) {
  fflush(stdout);
  kroSetErrorFunc(nullptr);
  kroSetErrorMessageFunc(nullptr, nullptr);
  if (saved >= 0) {
    dup2(saved, STDOUT_FILENO);
    close(saved);
  }
}

FILE *krotoolSummaryStream(const char *out_path) {
  return kroSameOutDestination(out_path, "/dev/stdout") ? stderr : stdout;
}

const char *krotoolUnreadableFile(const char *path) {
  struct stat info;
  if (stat(path, &info) != 0)
    return strerror(errno);
  return S_ISDIR(info.st_mode) ? "a folder, not a file" : nullptr;
}

int krotoolIsCName(const char *name) {
  if (!isalpha((unsigned char)*name) && *name != '_')
    return 0;
  for (const char *c = name; *c; c++)
    if (!isalnum((unsigned char)*c) && *c != '_')
      return 0;
  return 1;
}

struct Subcommand {
  const char *name;
  int (*run)(int argc, char **argv);
  const char *summary;
};

static const Subcommand subcommands[] = {
    {"mesh-src", krotoolMeshSrc,
     "write loader source for the geometry objects of a scene (ASE, OBJ, glTF)"},
    {"ase-info", krotoolAseInfo, "list the objects and materials of an ASE file"},
    {"scene-info", krotoolSceneInfo, "describe a scene file of any format (ASE, OBJ)"},
    {"image-info", krotoolImageInfo, "read a PNG or BMP picture and tell what it became"},
    {"bmp-resize", krotoolBmpResize, "resample a picture into a 24-bit BMP of a new size"},
    {"png-info", krotoolPngInfo, "check a PNG file chunk by chunk and describe it"},
    {"font-build", krotoolFontBuild, "build a KROF font from a folder of glyph pictures"},
    {"font-info", krotoolFontInfo, "show a KROF font's glyphs"},
    {"song-wav", krotoolSongWav, "render the intro's song to a WAV file"},
    {"song-src", krotoolSongSrc, "compile a song file into C++ data for the synthesizer"},
    {"midi-song", krotoolMidiSong, "write a song file from a Standard MIDI File"},
    {"sync-src", krotoolSyncSrc, "compile a sync track file into C++ tables"},
};

static void printUsage(FILE *out) {
  fprintf(out, "usage: krotool COMMAND [ARGS...]\n\ncommands:\n");
  for (const Subcommand &s : subcommands)
    fprintf(out, "  %-11s %s\n", s.name, s.summary);
  fprintf(out, "\nkrotool COMMAND --help shows a command's arguments; krotool --version the\n"
               "version.\n");
}

int main(int argc, char **argv) {
  kroRemoveOutFilesOnSignals(); // stopped by a signal, no unfinished file stays behind
  if (argc < 2) {
    printUsage(stderr);
    return 2;
  }
  if (!strcmp(argv[1], "--help") || !strcmp(argv[1], "-h")) {
    printUsage(stdout);
    return 0;
  }
  if (!strcmp(argv[1], "--version")) {
    printf("krotool %s\n", KRO_VERSION_STRING);
    return 0;
  }
  for (const Subcommand &s : subcommands)
    if (!strcmp(argv[1], s.name))
      return s.run(argc - 2, argv + 2);
  fprintf(stderr, "krotool: unknown command '%s'\n", argv[1]);
  printUsage(stderr);
  return 2;
}
