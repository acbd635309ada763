// krotool sync subcommand: sync-src, a sync track file compiled into C++ tables of the engine's
// records (kroSyncTracks), so that a release reads no file and gets the same values. Numbers are
// written as hexadecimal floating literals: every bit survives. Engine failures print their own
// message (moved to standard error here); the tool adds one line and exits with status 1. Usage
// errors exit with 2.
#include "krotool.h"

#include "kro.h"

#include <stdlib.h>
#include <string.h>

static const char krotoolSyncSrcUsage[] = "FILE.sync NAME [-o OUT.cpp]";

// The path as it may stand in a line comment: control bytes become '?'.
static void krotoolPrintPath(FILE *out, const char *path) {
  for (const char *c = path; *c; c++)
    fputc((unsigned char)*c < 32 || *c == 127 ? '?' : *c, out);
}

static void krotoolWriteSyncSource(FILE *out, const kroSyncTracks *tracks, const char *name,
                                   const char *path) {
  fprintf(out, "// Sync tracks compiled by krotool sync-src from ");
  krotoolPrintPath(out, path);
  fprintf(out,
          ": %s gives\n// the values the file gives (declare it as `extern kroSyncTracks %s;`)."
          " Rebuild, do not edit.\n#include \"kro.h\"\n",
          name, name);
  for (int i = 0; i < tracks->count; i++) {
    const kroSyncTrack *track = &tracks->tracks[i];
    if (track->count == 0)
      continue;
    fprintf(out, "\nstatic kroSyncKey %s_keys_%d[] = {\n", name, i);
    for (int k = 0; k < track->count; k++)
      fprintf(out, "    {%d, %af, %d}, // %s\n", (int)track->keys[k].row,
              (double)track->keys[k].value, (int)track->keys[k].interpolation,
              kroSyncInterpolationName(track->keys[k].interpolation));
    fprintf(out, "};\n");
  }
  if (tracks->count > 0) {
    fprintf(out, "\nstatic kroSyncTrack %s_tracks[] = {\n", name);
    for (int i = 0; i < tracks->count; i++) {
      const kroSyncTrack *track = &tracks->tracks[i];
      if (track->count)
        fprintf(out, "    {\"%s\", %s_keys_%d, %d, 0},\n", track->name, name, i, (int)track->count);
      else
        fprintf(out, "    {\"%s\", nullptr, 0, 0},\n", track->name);
    }
    fprintf(out, "};\n");
  }
  fprintf(out, "\nkroSyncTracks %s = {%a, %d, %s%s, %d, 0};\n", name, tracks->tempo,
          (int)tracks->rows_per_beat, tracks->count ? name : "nullptr",
          tracks->count ? "_tracks" : "", (int)tracks->count);
}

int krotoolSyncSrc(int argc, char **argv) {
  if (argc >= 1 && (!strcmp(argv[0], "--help") || !strcmp(argv[0], "-h"))) {
    printf("usage: krotool sync-src %s\n\n"
           "Compiles a sync track file (docs/timing.md) into C++ source defining\n"
           "`kroSyncTracks NAME`, tables that give the very values the file gives, so\n"
           "that a release reads no file. NAME must be a C name. The source goes to\n"
           "standard output, or to OUT, replaced whole: after a failure it is as it was.\n",
           krotoolSyncSrcUsage);
    return 0;
  }
  const char *out_path = "/dev/stdout";
  if (argc == 4 && !strcmp(argv[2], "-o"))
    out_path = argv[3];
  else if (argc != 2) {
    fprintf(stderr,
            "krotool sync-src: expected FILE.sync NAME [-o OUT.cpp]\n"
            "usage: krotool sync-src %s\n",
            krotoolSyncSrcUsage);
    return 2;
  }
  if (!krotoolIsCName(argv[1])) {
    fprintf(stderr, "krotool sync-src: '%s' is not a C name (letters, digits, _)\n", argv[1]);
    return 2;
  }
  int saved = krotoolEngineBegin();
  kroSyncTracks tracks;
  int count = kroLoadSyncTracks(&tracks, argv[0]);
  krotoolEngineEnd(saved);
  if (count < 0) {
    fprintf(stderr, "krotool sync-src: cannot read %s: %s\n", argv[0], krotoolEngineMessage);
    return 1;
  }
  kroOutFile out;
  int written = kroBeginOutFile(&out, out_path);
  if (written == 0) {
    krotoolWriteSyncSource(out.file, &tracks, argv[1], argv[0]);
    written = kroCommitOutFile(&out);
  }
  kroFreeSyncTracks(&tracks);
  if (written != 0) {
    fprintf(stderr, "krotool sync-src: cannot write %s: %s\n", out_path, strerror(out.error));
    return 1;
  }
  fprintf(krotoolSummaryStream(out_path), "krotool sync-src: %s: %d tracks as %s\n", out_path,
          count, argv[1]);
  return 0;
}
