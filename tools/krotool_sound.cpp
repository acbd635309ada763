// krotool sound subcommand: song-wav, the intro's song rendered by the engine's synthesizer into
// a WAV file, to listen to while composing. Engine failures print their own message on standard
// output (moved to standard error here); the tool adds one line and exits with status 1. Usage
// errors exit with 2.
#include "krotool.h"

#include "ZKsong.h"
#include "kro.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

static const char krotoolSongWavUsage[] = "OUT.wav [FILE.song]";

int krotoolSongWav(int argc, char **argv) {
  if (argc >= 1 && (!strcmp(argv[0], "--help") || !strcmp(argv[0], "-h"))) {
    printf("usage: krotool song-wav %s\n\n"
           "Renders a song file (docs/sound.md), or without one the intro's song as the\n"
           "intro plays it, with the engine's synthesizer, and writes it as a 16-bit\n"
           "stereo WAV file at %d Hz. OUT is replaced whole: after a failure it is as it\n"
           "was. Edit the song file and run this again to hear the change.\n",
           krotoolSongWavUsage, KRO_SYNTH_RATE);
    return 0;
  }
  if (argc != 1 && argc != 2) {
    fprintf(stderr, "krotool song-wav: expected one or two arguments\nusage: krotool song-wav %s\n",
            krotoolSongWavUsage);
    return 2;
  }
  int saved = krotoolEngineBegin();
  int64_t frames = 0;
  kroSongFile file = {};
  int loaded = argc == 2 ? kroLoadSong(&file, argv[1]) : 0;
  int16_t *samples =
      loaded != 0 ? nullptr : kroRenderSong(argc == 2 ? &file.song : &zk_song, 0, &frames);
  kroFreeSong(&file);
  int written = samples ? kroWriteWAV(argv[0], samples, frames) : -1;
  int error = errno;
  free(samples);
  krotoolEngineEnd(saved);
  if (written != 0) {
    fprintf(stderr, "krotool song-wav: cannot write %s: %s\n", argv[0],
            samples ? strerror(error) : krotoolEngineMessage);
    return 1;
  }
  printf("krotool song-wav: %s: %.3f s, %lld frames of 16-bit stereo at %d Hz\n", argv[0],
         (double)frames / KRO_SYNTH_RATE, (long long)frames, KRO_SYNTH_RATE);
  return 0;
}

// ---- song-src ----

static const char krotoolSongSrcUsage[] = "FILE.song NAME [--include HEADER] [-o OUT.cpp]";

// Floats as hexadecimal literals: every bit survives the compiler.
static void krotoolPrintFloats(FILE *out, const float *first, int count) {
  for (int i = 0; i < count; i++)
    fprintf(out, "%s%af", i ? ", " : "", (double)first[i]);
}

static void krotoolPrintBytes(FILE *out, const uint8_t *bytes, int64_t count, int per_line,
                              const char *(*label)(int64_t line, char *buffer)) {
  char buffer[64];
  for (int64_t i = 0; i < count; i++) {
    if (i % per_line == 0 && label)
      fprintf(out, "    /* %s */\n", label(i / per_line, buffer));
    fprintf(out, "%s%d,%s", i % per_line ? " " : "    ", bytes[i],
            i % per_line == per_line - 1 || i == count - 1 ? "\n" : "");
  }
}

static const char *krotoolPatternLabel(int64_t line, char *buffer) {
  snprintf(buffer, 64, "pattern %lld", (long long)line);
  return buffer;
}

static const char *krotoolStepLabel(int64_t line, char *buffer) {
  snprintf(buffer, 64, "step %lld", (long long)line);
  return buffer;
}

static void krotoolWriteSongSource(FILE *out, const kroSongFile *file, const char *name,
                                   const char *include, const char *path) {
  const kroSong *song = &file->song;
  fprintf(out,
          "// The song of %s, compiled by krotool song-src: %s is the song the file "
          "describes.\n// Rebuild, do not edit.\n#include \"%s\"\n\n// clang-format off\n",
          path, name, include ? include : "kro.h");
  fprintf(out, "static const kroInstrument %s_instruments[] = {\n", name);
  for (int i = 0; i < song->instrument_count; i++) {
    const kroInstrument *ins = &song->instruments[i];
    fprintf(out, "    /* %s */\n    {%d, %d, ", file->instrument_names[i], ins->wave, ins->filter);
    krotoolPrintFloats(out, &ins->pulse_width, 14);
    fprintf(out, "},\n");
  }
  fprintf(out, "};\n\nstatic const kroChannel %s_channels[] = {\n", name);
  for (int c = 0; c < song->channel_count; c++) {
    const kroChannel *channel = &song->channels[c];
    fprintf(out, "    /* %s: %s */\n    {%d, ", file->channel_names[c],
            file->instrument_names[channel->instrument], channel->instrument);
    krotoolPrintFloats(out, &channel->volume, 7);
    fprintf(out, "},\n");
  }
  fprintf(out, "};\n\nstatic const uint8_t %s_patterns[] = {\n", name);
  krotoolPrintBytes(out, song->patterns, (int64_t)song->pattern_count * song->rows, song->rows,
                    krotoolPatternLabel);
  fprintf(out, "};\n\nstatic const uint8_t %s_order[] = {\n", name);
  if (song->order_count == 0)
    fprintf(out, "    0 /* no steps */\n");
  krotoolPrintBytes(out, song->order, (int64_t)song->order_count * song->channel_count,
                    song->channel_count, krotoolStepLabel);
  fprintf(out, "};\n\nextern const kroSong %s;\nconst kroSong %s = {\n", name, name);
  fprintf(out,
          "    %s_instruments, %d, %s_channels, %d, %s_patterns, %d, %d, %s_order, %d, %d,\n    ",
          name, song->instrument_count, name, song->channel_count, name, song->pattern_count,
          song->rows, name, song->order_count, song->rows_per_minute);
  krotoolPrintFloats(out, &song->delay_seconds, 4);
  fprintf(out, "};\n");
}

int krotoolSongSrc(int argc, char **argv) {
  if (argc >= 1 && (!strcmp(argv[0], "--help") || !strcmp(argv[0], "-h"))) {
    printf("usage: krotool song-src %s\n\n"
           "Compiles a song file (docs/sound.md) into C++ source defining `const kroSong\n"
           "NAME`, the very song the engine reads from the file, so that a release reads\n"
           "no file. NAME must be a C name; --include names the header that declares it\n"
           "(default kro.h). The source goes to standard output, or to OUT, replaced whole.\n",
           krotoolSongSrcUsage);
    return 0;
  }
  const char *out_path = "/dev/stdout", *include = nullptr;
  for (int i = 2; i < argc; i += 2) {
    if (i + 1 < argc && !strcmp(argv[i], "-o"))
      out_path = argv[i + 1];
    else if (i + 1 < argc && !strcmp(argv[i], "--include"))
      include = argv[i + 1];
    else
      argc = -1;
  }
  if (argc < 2 || !krotoolIsCName(argv[1])) {
    fprintf(stderr,
            "krotool song-src: expected FILE.song and a C name\nusage: krotool song-src %s\n",
            krotoolSongSrcUsage);
    return 2;
  }
  int saved = krotoolEngineBegin();
  kroSongFile file;
  int loaded = kroLoadSong(&file, argv[0]);
  krotoolEngineEnd(saved);
  if (loaded != 0) {
    fprintf(stderr, "krotool song-src: cannot read %s: %s\n", argv[0], krotoolEngineMessage);
    return 1;
  }
  kroOutFile out;
  int written = kroBeginOutFile(&out, out_path);
  if (written == 0) {
    krotoolWriteSongSource(out.file, &file, argv[1], include, argv[0]);
    written = kroCommitOutFile(&out);
  }
  kroFreeSong(&file);
  if (written != 0) {
    fprintf(stderr, "krotool song-src: cannot write %s: %s\n", out_path, strerror(out.error));
    return 1;
  }
  return 0;
}
