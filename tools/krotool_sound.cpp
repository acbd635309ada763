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

static const char krotoolSongWavUsage[] = "OUT.wav";

int krotoolSongWav(int argc, char **argv) {
  if (argc >= 1 && (!strcmp(argv[0], "--help") || !strcmp(argv[0], "-h"))) {
    printf("usage: krotool song-wav %s\n\n"
           "Renders the intro's song (scene/ZKsong.cpp) with the engine's synthesizer, the\n"
           "very samples the intro plays, and writes them as a 16-bit stereo WAV file at\n"
           "%d Hz, 14 seconds. OUT is replaced whole: after a failure it is as it was.\n"
           "Edit the song, rebuild krotool and run this again to hear the change.\n",
           krotoolSongWavUsage, KRO_SYNTH_RATE);
    return 0;
  }
  if (argc != 1) {
    fprintf(stderr, "krotool song-wav: expected one argument\nusage: krotool song-wav %s\n",
            krotoolSongWavUsage);
    return 2;
  }
  int saved = krotoolEngineBegin();
  int64_t frames = 0;
  int16_t *samples = kroRenderSong(&zk_song, 0, &frames);
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
