/*
 * The application layer: options, window, frame loop, shots and live shaders
 * of a production. Shots are PNG pictures written through the engine's
 * output-file helper, their image data in stored (uncompressed) deflate
 * blocks: no compression library is needed.
 * The soundtrack is decoded by libsndfile: one library for WAV, Ogg Vorbis and
 * FLAC, so the engine itself needs no sound library.
 * Depends on: kro (live shaders, output files, the synthesizer), SDL 1.2, GL, libsndfile.
 */
#include "kroapp_own.h"

#include "../kro/kro_internal.h"

#include <SDL/SDL.h>
#include <math.h>
#ifdef __EMSCRIPTEN__
#include <emscripten.h>
#else
#include <sndfile.h>
#endif
#include <stdlib.h>
#include <string.h>

static const char *kroAppName(const kroApp *app) {
  return app->caption && *app->caption ? app->caption : "kroapp";
}

static void kroAppUsage(const kroApp *app, FILE *out) {
  fprintf(out,
          "usage: %s%s%s [--window] [--frames N] [--shot FILE.png] [--sync FILE] [--music FILE]\n"
          "       [--start SECONDS] [--help]\n"
          "  --window       a window of %d x %d instead of full screen\n"
          "  --frames N     end after N frames, each %.4f s later than the last\n"
          "  --shot FILE    write the last frame as a PNG picture (alone: after one frame)\n"
          "  --sync FILE    sync tracks, read again when the file changes\n"
          "  --music FILE   the soundtrack: a WAV, Ogg Vorbis or FLAC file\n"
          "  --start S      begin S seconds in\n"
          "Space pauses and resumes, Left/Right move a beat, Page Up/Page Down a bar, Home\n"
          "goes to the start, L marks a bar's start, then its end and loops, then lets go.\n"
          "Tab shows the sync editor (with --sync), F1 or H every key. Escape or closing the\n"
          "window ends the run. Shader files changed while it runs are built again; a change\n"
          "that does not build keeps the last good programs.\n",
          kroAppName(app), app->usage ? " " : "", app->usage ? app->usage : "", app->width,
          app->height, KRO_APP_STEP_SECONDS);
}

/* 0 to go on; 0 with status set when the run is over before it began. */
static int kroAppRefuse(kroApp *app, const char *reason, const char *argument) {
  fprintf(stderr, "%s: %s '%s'\n", kroAppName(app), reason, argument);
  kroAppUsage(app, stderr);
  app->status = 2;
  return 0;
}

/* Whether `arg` is one of the words of `options`, a list of the production's own. */
static int kroAppOwnOption(const char *options, const char *arg) {
  size_t length = strlen(arg);
  for (const char *at = options; at && *at;) {
    size_t word = strcspn(at, " ");
    if (word == length && !strncmp(at, arg, length))
      return 1;
    at += word + strspn(at + word, " ");
  }
  return 0;
}

/* Removes the options it knows from argv; 1 to go on, or 0 with the exit status set. */
static int kroAppOptions(kroApp *app, int *argc, char **argv) {
  int kept = 1;
  for (int i = 1; i < *argc; i++) {
    const char *arg = argv[i];
    if (!strcmp(arg, "--help") || !strcmp(arg, "-h")) {
      kroAppUsage(app, stdout);
      app->status = 0;
      return 0;
    } else if (!strcmp(arg, "--window")) {
      app->windowed = 1;
    } else if (!strcmp(arg, "--frames") || !strcmp(arg, "--shot")) {
      if (i + 1 == *argc)
        return kroAppRefuse(app, "a value is missing after", arg);
      const char *value = argv[++i];
      char *end = nullptr;
      if (!strcmp(arg, "--shot")) {
        app->shot = value;
        continue;
      }
      app->frames = strtol(value, &end, 10);
      if (!*value || *end || app->frames < 1)
        return kroAppRefuse(app, "--frames needs a whole number of frames from 1, not", value);
    } else if (!strcmp(arg, "--sync") || !strcmp(arg, "--music")) {
      if (i + 1 == *argc)
        return kroAppRefuse(app, "a value is missing after", arg);
      *(arg[2] == 's' ? &app->sync_file : &app->music_file) = argv[++i];
    } else if (!strcmp(arg, "--start")) {
      if (i + 1 == *argc)
        return kroAppRefuse(app, "a value is missing after", arg);
      const char *value = argv[++i];
      char *end = nullptr;
      app->start_seconds = strtod(value, &end);
      if (!*value || *end || !(app->start_seconds >= 0 && app->start_seconds < 1e7))
        return kroAppRefuse(app, "--start needs seconds from 0, not", value);
    } else if (kroAppOwnOption(app->own_value_options, arg)) {
      if (i + 1 == *argc)
        return kroAppRefuse(app, "a value is missing after", arg);
      argv[kept++] = argv[i++]; /* the value stays with it, whatever it looks like */
      argv[kept++] = argv[i];
    } else if (arg[0] == '-' && arg[1] && !kroAppOwnOption(app->own_options, arg)) {
      return kroAppRefuse(app, "unknown option", arg);
    } else {
      argv[kept++] = argv[i];
    }
  }
  argv[kept] = nullptr;
  *argc = kept;
  if (app->shot && app->frames == 0)
    app->frames = 1;
  return 1;
}

/* ---- sync tracks ------------------------------------------------------------- */

static char kroAppEngineMessage[KRO_APP_MESSAGE_CHARS];

static void kroAppKeepMessage(const char *message, void *) {
  snprintf(kroAppEngineMessage, sizeof kroAppEngineMessage, "%s", message);
}

/* The track file read again; the tracks it gives replace the ones in use only when it reads
 * whole (the last good ones stay, the reason and line on standard error). 1 when replaced. */
static int kroAppLoadSync(kroApp *app) {
  kroSyncTracks tracks;
  kroStampFile(app->sync_file, &app->sync_stamp);
  app->sync_next_ms = kroNowMs() + KRO_APP_SYNC_POLL_MS;
  kroSetErrorMessageFunc(kroAppKeepMessage, nullptr);
  int count = kroLoadSyncTracks(&tracks, app->sync_file);
  kroSetErrorMessageFunc(nullptr, nullptr);
  if (count < 0) {
    fprintf(stderr, "%s: %s; the last good tracks stay\n", kroAppName(app), kroAppEngineMessage);
    return 0;
  }
  kroFreeSyncTracks(&app->sync);
  app->sync = tracks;
  return 1;
}

float kroAppSyncValue(const kroApp *app, const char *track) {
  return kroSyncTrackValue(&app->sync, track, app->seconds);
}

/* ---- the soundtrack --------------------------------------------------------- */

void kroFreeMusic(kroMusic *music) {
  free(music->samples);
  music->samples = nullptr;
  music->frames = 0;
}

#ifdef __EMSCRIPTEN__
/* A web page has no libsndfile: the browser decodes the file (WAV, Ogg Vorbis, FLAC: whatever it
 * plays), resampled to `rate` by an offline audio context, and keeps it for kroWebTakeMusic. The
 * frames (at most 2^29), or -1 with the reason on the console. Waits for the decode (ASYNCIFY). */
EM_ASYNC_JS(int, kroWebDecodeMusic, (const char *path, int rate), {
  Module.kroDecoded = null;
  try {
    const bytes = FS.readFile(UTF8ToString(path));
    const context = new OfflineAudioContext(2, 1, rate);
    const decoded = await context.decodeAudioData(bytes.buffer.slice(bytes.byteOffset,
                                                                     bytes.byteOffset + bytes.length));
    if (decoded.numberOfChannels > 2 || decoded.length < 1 || decoded.length > (1 << 29))
      throw new Error(`${decoded.numberOfChannels} channels, ${decoded.length} frames`);
    Module.kroDecoded = decoded;
    return decoded.length;
  } catch (problem) {
    console.error(`${UTF8ToString(path)}: the browser does not decode it: ${problem}`);
    return -1;
  }
});

/* The decoded sound into `out` (unless null), 2 floats a frame (a mono file on both sides), and
 * let go. */
EM_JS(void, kroWebTakeMusic, (float *out), {
  const decoded = Module.kroDecoded, frames = decoded.length;
  const left = decoded.getChannelData(0), right = decoded.getChannelData(decoded.numberOfChannels - 1);
  const heap = out ? HEAPF32.subarray(out >> 2, (out >> 2) + 2 * frames) : [];
  for (let i = 0; out && i < frames; i++)
    heap[2 * i] = left[i], heap[2 * i + 1] = right[i];
  Module.kroDecoded = null;
});

int kroLoadMusic(kroMusic *music, const char *path) {
  kroFreeMusic(music);
  int frames = kroWebDecodeMusic(path, KRO_SYNTH_RATE);
  if (frames < 1) {
    kroFail("kroLoadMusic: cannot use %s: the browser does not decode it\n", path);
    return -1;
  }
  float *out = (float *)kroAllocate((size_t)frames * 2 * sizeof(float));
  kroWebTakeMusic(out);
  if (!out) {
    kroFail("kroLoadMusic: cannot use %s: out of memory\n", path);
    return -1;
  }
  music->samples = out;
  music->frames = frames;
  return 0;
}
#else
int kroLoadMusic(kroMusic *music, const char *path) {
  kroFreeMusic(music);
  SF_INFO info = {};
  SNDFILE *file = sf_open(path, SFM_READ, &info);
  if (!file) {
    kroFail("kroLoadMusic: cannot open %s as WAV, Ogg Vorbis or FLAC\n", path);
    return -1;
  }
  const char *problem = nullptr;
  float *read = nullptr;
  int channels = info.channels;
  if (channels < 1 || channels > 2)
    problem = "not one or two channels";
  else if (info.frames < 1 || info.frames > (1 << 29) || info.samplerate < 1)
    problem = "no frames, too many (over 2^29) or no rate";
  else if (!(read = (float *)kroAllocate((size_t)info.frames * channels * sizeof(float))))
    problem = "out of memory";
  else if (sf_readf_float(file, read, info.frames) != info.frames)
    problem = "its samples do not read whole";
  sf_close(file);
  /* Frame i at KRO_SYNTH_RATE lies at the file's frame i x rate / KRO_SYNTH_RATE, between two of
   * its frames (the last one held). */
  double step = (double)info.samplerate / KRO_SYNTH_RATE;
  int64_t frames = problem ? 0 : (int64_t)ceil((double)info.frames / step);
  float *out = problem ? nullptr : (float *)kroAllocate((size_t)frames * 2 * sizeof(float));
  if (!problem && !out)
    problem = "out of memory";
  if (problem) {
    free(read);
    kroFail("kroLoadMusic: cannot use %s: %s\n", path, problem);
    return -1;
  }
  for (int64_t i = 0; i < frames; i++) {
    double at = (double)i * step;
    int64_t low = (int64_t)at, high = low + 1 < info.frames ? low + 1 : low;
    float part = (float)(at - (double)low);
    for (int side = 0; side < 2; side++) {
      int from = side % channels;
      float a = read[low * channels + from], b = read[high * channels + from];
      out[2 * i + side] = part == 0.0f ? a : a + (b - a) * part;
    }
  }
  free(read);
  music->samples = out;
  music->frames = frames;
  return 0;
}
#endif

/* The soundtrack's `frames` frames from `from`, 16-bit: the music (silence after its end) or
 * `synth`, which is at `from`. */
static void kroAppRender(kroApp *app, kroSynth *synth, int64_t from, int16_t *out, int frames) {
  if (!app->music.samples) {
    kroRenderSynth(synth, out, frames);
    return;
  }
  int64_t first = from * 2, end = app->music.frames * 2;
  for (int64_t i = 0; i < 2 * (int64_t)frames; i++) {
    float value = first + i < end ? app->music.samples[first + i] * 32768.0f : 0.0f;
    out[i] = (int16_t)lrintf(value > 32767.0f ? 32767.0f : value < -32768.0f ? -32768.0f : value);
  }
}

/* SDL's audio thread: silence while paused, else the soundtrack, the position moving on. While a
 * loop is set, a position at or past its end goes back into it by whole loops, and the loop
 * plays from the sound made as it was set (the synthesizer waits at the loop's start). */
static void kroAppPlay(void *user, Uint8 *stream, int bytes) {
  kroApp *app = (kroApp *)user;
  memset(app->synth.peak, 0, sizeof app->synth.peak); /* the levels are this buffer's */
  if (app->paused) {
    memset(stream, 0, (size_t)bytes);
    return;
  }
  int16_t *out = (int16_t *)stream;
  int64_t first = app->loop_frames[0], end = app->loop_frames[1];
  for (int left = bytes / 4, take; left > 0; left -= take, out += 2 * take) {
    take = left;
    if (app->loop_sound && app->sound_frame >= end)
      app->sound_frame = first + (app->sound_frame - first) % (end - first);
    if (app->loop_sound && app->sound_frame >= first) {
      take = end - app->sound_frame < take ? (int)(end - app->sound_frame) : take;
      memcpy(out, app->loop_sound + 2 * (app->sound_frame - first), (size_t)take * 4);
    } else {
      take = app->loop_sound && first - app->sound_frame < take ? (int)(first - app->sound_frame)
                                                                : take;
      kroAppRender(app, &app->synth, app->sound_frame, out, take);
    }
    app->sound_frame += take;
  }
}

/* `synth` started on the song and run (unheard) up to `frame`: its output is a function of the
 * frame alone. */
static void kroAppRunSynth(kroApp *app, kroSynth *synth, int64_t frame) {
  kroStopSynth(synth);
  kroStartSynth(synth, app->song);
  synth->mute = app->mute;
  static int16_t discarded[2 * 4096];
  for (int64_t done = 0; done < frame; done += 4096)
    kroRenderSynth(synth, discarded, frame - done < 4096 ? (int)(frame - done) : 4096);
}

/* The sound moved to `frame` (from 0). Under the audio lock once playing. */
static void kroAppSeekSound(kroApp *app, int64_t frame) {
  frame = frame < 0 ? 0 : frame;
  if (!app->music.samples)
    kroAppRunSynth(app, &app->synth, frame);
  app->sound_frame = frame;
}

/* Decodes or starts the soundtrack and opens the device; without either the run goes on silently
 * on the clock, with one line on standard error. */
static void kroAppOpenSound(kroApp *app) {
  const char *problem = nullptr;
  if (app->music_file ? kroLoadMusic(&app->music, app->music_file) != 0
                      : kroStartSynth(&app->synth, app->song) != 0) {
    problem = app->music_file ? "the music file does not read" : "the song does not play";
  } else {
    kroAppSeekSound(app, llround(app->start_seconds * KRO_SYNTH_RATE)); /* before the device runs */
    SDL_AudioSpec want = {};
    want.freq = KRO_SYNTH_RATE;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = KRO_APP_AUDIO_FRAMES;
    want.callback = kroAppPlay;
    want.userdata = app;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0 || SDL_OpenAudio(&want, nullptr) != 0)
      problem = SDL_GetError();
  }
  if (problem) {
    fprintf(stderr, "%s: no sound (%s): playing silently on the clock\n", kroAppName(app), problem);
    return;
  }
  app->sound = 1;
  SDL_PauseAudio(0);
}

/* The picture's time: the sound's position when it plays in real time, else the clock's or the
 * steps'. */
static double kroAppNow(kroApp *app) {
  if (!app->sound || app->frames > 0)
    return app->clock_seconds;
  SDL_LockAudio();
  double seconds = (double)app->sound_frame / KRO_SYNTH_RATE;
  SDL_UnlockAudio();
  return seconds;
}

/* Time moved by `seconds` (to 0 with `home`), picture and sound together, neither before 0; the
 * keys after it in the same frame see the new time. */
static void kroAppJump(kroApp *app, double seconds, int home) {
  if (app->sound)
    SDL_LockAudio();
  app->clock_seconds = home || app->clock_seconds + seconds < 0 ? 0 : app->clock_seconds + seconds;
  if (app->sound)
    kroAppSeekSound(app, home ? 0 : app->sound_frame + llround(seconds * KRO_SYNTH_RATE));
  if (app->sound)
    SDL_UnlockAudio();
  app->seconds = kroAppNow(app);
}

void kroAppSeek(kroApp *app, double seconds) {
  if (app->sound)
    SDL_LockAudio();
  app->clock_seconds = seconds < 0 ? 0 : seconds;
  if (app->sound)
    kroAppSeekSound(app, llround(app->clock_seconds * KRO_SYNTH_RATE));
  if (app->sound)
    SDL_UnlockAudio();
  app->seconds = kroAppNow(app);
}

void kroAppMute(kroApp *app, unsigned mask) {
  if (app->sound)
    SDL_LockAudio();
  app->mute = app->synth.mute = mask;
  if (app->sound)
    SDL_UnlockAudio();
}

/* The loop let go: the synthesizer, left waiting at the loop's start, is run up to the sound's
 * position again. */
static void kroAppClearLoop(kroApp *app) {
  if (app->sound)
    SDL_LockAudio();
  if (app->loop_sound && app->sound_frame >= app->loop_frames[0])
    kroAppSeekSound(app, app->sound_frame);
  free(app->loop_sound);
  app->loop_sound = nullptr;
  app->loop_marks = 0;
  if (app->sound)
    SDL_UnlockAudio();
}

/* L: the first marks the start of the bar playing, the second the end of the bar playing (the
 * loop spans both bars, whichever comes first) and loops, the third lets go. The loop's sound
 * is made here, outside the audio lock, from a synthesizer of its own. */
static void kroAppLoopKey(kroApp *app, double beat) {
  double bar = beat * KRO_APP_BEAT_BAR, bar_start = floor(app->seconds / bar + 1e-9) * bar;
  if (app->loop_marks == 2) {
    kroAppClearLoop(app);
    return;
  }
  if (app->loop_marks == 0) {
    app->loop_start = bar_start;
    app->loop_marks = 1;
    return;
  }
  app->loop_end = (bar_start > app->loop_start ? bar_start : app->loop_start) + bar;
  app->loop_start = bar_start < app->loop_start ? bar_start : app->loop_start;
  app->loop_marks = 2;
  if (!app->sound)
    return;
  int64_t first = llround(app->loop_start * KRO_SYNTH_RATE);
  int64_t end = llround(app->loop_end * KRO_SYNTH_RATE);
  int16_t *sound = (int16_t *)kroAllocate((size_t)(end - first) * 4);
  if (!sound) {
    kroFail("Error during allocating memory for the loop's sound\n");
    app->loop_marks = 0;
    return;
  }
  kroSynth synth = {};
  if (!app->music.samples)
    kroAppRunSynth(app, &synth, first);
  for (int64_t done = 0; done < end - first; done += 4096)
    kroAppRender(app, &synth, first + done, sound + 2 * done,
                 end - first - done < 4096 ? (int)(end - first - done) : 4096);
  kroStopSynth(&synth);
  SDL_LockAudio();
  app->loop_frames[0] = first;
  app->loop_frames[1] = end;
  app->loop_sound = sound;
  SDL_UnlockAudio();
}

/* The frame of `to` at `frame`'s row of `from` and the same share through it (rows past either
 * song's end counted on at its tempo). */
static int64_t kroAppSameRow(const kroSong *from, const kroSong *to, int64_t frame) {
  if (!from || from->rows_per_minute == to->rows_per_minute)
    return frame;
  int64_t row = kroSongRow(from, frame), rows = (int64_t)from->order_count * from->rows;
  int64_t step = (int64_t)60 * KRO_SYNTH_RATE;
  int64_t start = row * step / from->rows_per_minute,
          next = (row + 1) * step / from->rows_per_minute;
  if (row >= rows) /* ringing out: the frames after the end */
    return rows * step / to->rows_per_minute + frame - start;
  int64_t to_start = row * step / to->rows_per_minute;
  return to_start + ((row + 1) * step / to->rows_per_minute - to_start) * (frame - start) /
                        (next > start ? next - start : 1);
}

int kroAppSetSong(kroApp *app, const kroSong *song) {
  kroSynth next;
  if (kroStartSynth(&next, song) != 0)
    return -1;
  next.mute = app->mute;
  app->clock_seconds =
      (double)kroAppSameRow(app->song, song, llround(app->clock_seconds * KRO_SYNTH_RATE)) /
      KRO_SYNTH_RATE;
  if (!app->sound || app->music.samples) {
    kroStopSynth(&next);
    app->song = song;
    return 0;
  }
  if (app->loop_marks == 2) /* its sound is the old song's */
    kroAppClearLoop(app);
  SDL_LockAudio();
  int64_t from = app->sound_frame;
  SDL_UnlockAudio();
  int64_t at = kroAppSameRow(app->song, song, from), done = 0;
  static int16_t discarded[2 * 4096];
  for (; done < at; done += 4096)
    kroRenderSynth(&next, discarded, at - done < 4096 ? (int)(at - done) : 4096);
  SDL_LockAudio(); /* the few frames the device took meanwhile, then the swap */
  int64_t moved = app->sound_frame - from;
  for (done = 0; done < moved; done += 4096)
    kroRenderSynth(&next, discarded, moved - done < 4096 ? (int)(moved - done) : 4096);
  kroStopSynth(&app->synth);
  app->synth = next;
  app->song = song;
  app->sound_frame = at + moved;
  SDL_UnlockAudio();
  return 0;
}

/* A key that holds time: Space, Left, Right, Page Up, Page Down, Home, L. */
static void kroAppTimeKey(kroApp *app, SDLKey key) {
  double beat = app->sync.tempo > 0 ? 60.0 / app->sync.tempo : 1.0;
  if (key == SDLK_SPACE) {
    if (app->sound)
      SDL_LockAudio();
    app->paused = !app->paused;
    if (app->sound)
      SDL_UnlockAudio();
  } else if (key == SDLK_LEFT || key == SDLK_RIGHT) {
    kroAppJump(app, key == SDLK_LEFT ? -beat : beat, 0);
  } else if (key == SDLK_PAGEUP || key == SDLK_PAGEDOWN) {
    kroAppJump(app, (key == SDLK_PAGEUP ? -beat : beat) * KRO_APP_BEAT_BAR, 0);
  } else if (key == SDLK_HOME) {
    kroAppJump(app, 0, 1);
  } else if (key == SDLK_l) {
    kroAppLoopKey(app, beat);
  }
}

static Uint32 kroAppVideoFlags(const kroApp *app) {
  return SDL_OPENGL | (app->windowed ? 0 : SDL_FULLSCREEN);
}

int kroAppStart(kroApp *app, const char *caption, int width, int height, int *argc, char **argv) {
  app->caption = caption;
  app->width = width;
  app->height = height;
  app->frames = 0;
  app->shot = nullptr;
  app->status = 0;
  app->frame = 0;
  app->seconds = 0.0;
  app->running = 0;
  app->resized = 0;
  memset(&app->watch, 0, sizeof app->watch);
  memset(&app->sync, 0, sizeof app->sync);
  app->sync_reloaded = 0;
  app->paused = 0;
  app->sound = 0;
  app->sound_frame = 0;
  memset(app->levels, 0, sizeof app->levels);
  memset(&app->music, 0, sizeof app->music);
  memset(&app->synth, 0, sizeof app->synth);
  memset(&app->text_font, 0, sizeof app->text_font);
  app->text_font_ready = 0;
  app->editor_shown = app->help_shown = app->editor_track = 0;
  app->editor_dirty = app->editor_alert = 0;
  app->editor_entry[0] = app->editor_status[0] = '\0';
  app->loop_marks = 0;
  app->loop_start = app->loop_end = 0.0;
  app->loop_frames[0] = app->loop_frames[1] = 0;
  app->loop_sound = nullptr;
  if (!kroAppOptions(app, argc, argv))
    return 0;
  app->clock_seconds = app->start_seconds;
  setenv("SDL_VIDEODRIVER", "x11", 0); /* only when the user chose none */
  if (SDL_Init(SDL_INIT_VIDEO) != 0) {
    fprintf(stderr, "%s: no video: %s\n", kroAppName(app), SDL_GetError());
    app->status = 1;
    return 0;
  }
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
  if (!SDL_SetVideoMode(app->width, app->height, 32, kroAppVideoFlags(app))) {
    fprintf(stderr, "%s: no %d x %d OpenGL window: %s\n", kroAppName(app), app->width, app->height,
            SDL_GetError());
    SDL_Quit();
    app->status = 1;
    return 0;
  }
  SDL_WM_SetCaption(kroAppName(app), nullptr);
  app->context_mark = glGenLists(1);
  if (kroStartShaders(app->width, app->height) != 0)
    fprintf(stderr, "%s: the engine's shaders did not all build from %s: %s\n", kroAppName(app),
            kroGetShaderFolder(), kroShaderProblem());
  if (!app->fixed_shaders)
    kroOpenShaderWatch(&app->watch, kroGetShaderFolder(), 0);
  if (app->sync_file)
    kroAppLoadSync(app);
  if (app->music_file || app->song)
    kroAppOpenSound(app);
  app->start_ms = app->clock_ms = SDL_GetTicks();
  app->running = 1;
  return 1;
}

/* ---- PNG shots ------------------------------------------------------------- */

static uint32_t kroAppCRC(uint32_t crc, const uint8_t *bytes, size_t count) {
  crc = ~crc;
  for (size_t i = 0; i < count; i++) {
    crc ^= bytes[i];
    for (int k = 0; k < 8; k++)
      crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

static void kroAppPut32(uint8_t *at, uint32_t value) {
  at[0] = (uint8_t)(value >> 24);
  at[1] = (uint8_t)(value >> 16);
  at[2] = (uint8_t)(value >> 8);
  at[3] = (uint8_t)value;
}

static void kroAppChunk(FILE *file, const char *type, const uint8_t *data, size_t bytes) {
  uint8_t head[8];
  kroAppPut32(head, (uint32_t)bytes);
  memcpy(head + 4, type, 4);
  uint32_t crc = kroAppCRC(kroAppCRC(0, head + 4, 4), data, bytes);
  uint8_t tail[4];
  kroAppPut32(tail, crc);
  fwrite(head, 1, 8, file);
  if (bytes > 0) /* IEND has no data, and no buffer */
    fwrite(data, 1, bytes, file);
  fwrite(tail, 1, 4, file);
}

enum { KRO_APP_STORED_BLOCK = 65535 }; /* most bytes of one stored deflate block */

/* RGB rows, top first, each after its filter byte 0, as a zlib stream of stored blocks. */
static uint8_t *kroAppZlib(const uint8_t *raw, size_t bytes, size_t *out_bytes) {
  size_t blocks = bytes / KRO_APP_STORED_BLOCK + 1;
  uint8_t *out = (uint8_t *)malloc(2 + blocks * 5 + bytes + 4);
  if (!out)
    return nullptr;
  size_t at = 0;
  out[at++] = 0x78;
  out[at++] = 0x01;
  uint32_t a = 1, b = 0;
  for (size_t done = 0, block = 0; block < blocks; block++) {
    size_t take =
        bytes - done < (size_t)KRO_APP_STORED_BLOCK ? bytes - done : (size_t)KRO_APP_STORED_BLOCK;
    out[at++] = block + 1 == blocks ? 1 : 0;
    out[at++] = (uint8_t)take;
    out[at++] = (uint8_t)(take >> 8);
    out[at++] = (uint8_t)~take;
    out[at++] = (uint8_t)(~take >> 8);
    memcpy(out + at, raw + done, take);
    for (size_t i = 0; i < take; i++) {
      a = (a + raw[done + i]) % 65521u;
      b = (b + a) % 65521u;
    }
    at += take;
    done += take;
  }
  kroAppPut32(out + at, (b << 16) | a);
  *out_bytes = at + 4;
  return out;
}

/* The back buffer before the swap as an 8-bit RGB PNG, replacing path whole; 0 or -1. */
static int kroAppWriteShot(const kroApp *app, const char *path) {
  int width = app->width, height = app->height;
  size_t row = (size_t)width * 3 + 1, raw_bytes = row * (size_t)height, zlib_bytes = 0;
  uint8_t *pixels = (uint8_t *)malloc((size_t)width * height * 3);
  uint8_t *raw = (uint8_t *)malloc(raw_bytes);
  uint8_t *zlib = nullptr;
  int result = -1;
  if (pixels && raw) {
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, pixels);
    for (int y = 0; y < height; y++) { /* GL's row 0 is the bottom one */
      raw[row * y] = 0;
      memcpy(raw + row * y + 1, pixels + (size_t)(height - 1 - y) * width * 3, row - 1);
    }
    zlib = kroAppZlib(raw, raw_bytes, &zlib_bytes);
  }
  kroOutFile out;
  if (zlib && kroBeginOutFile(&out, path) == 0) {
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    uint8_t header[13] = {0, 0, 0, 0, 0, 0, 0, 0, 8, 2, 0, 0, 0}; /* 8-bit RGB */
    kroAppPut32(header, (uint32_t)width);
    kroAppPut32(header + 4, (uint32_t)height);
    fwrite(signature, 1, sizeof signature, out.file);
    kroAppChunk(out.file, "IHDR", header, sizeof header);
    kroAppChunk(out.file, "IDAT", zlib, zlib_bytes);
    kroAppChunk(out.file, "IEND", nullptr, 0);
    result = kroCommitOutFile(&out);
    if (result != 0)
      fprintf(stderr, "%s: cannot write %s: %s\n", kroAppName(app), path, strerror(out.error));
  } else {
    fprintf(stderr, "%s: cannot write %s: %s\n", kroAppName(app), path,
            zlib ? strerror(out.error) : "out of memory");
  }
  free(pixels);
  free(raw);
  free(zlib);
  return result;
}

/* ---- the frame loop -------------------------------------------------------- */

/* True once the user has asked to stop: Escape (unless it dropped a number being typed), or the
 * window's close. The last new size the window was given goes to *width, *height (pixels; left
 * as they are without one); the keys of the editor and those that hold time act. */
static int kroAppTakeEvents(kroApp *app, int *width, int *height) {
  SDL_Event event;
  int stop = 0;
  while (SDL_PollEvent(&event)) {
    /* Only a key event holds a key: another's bytes there are no SDLKey. */
    SDLKey key = event.type == SDL_KEYDOWN ? event.key.keysym.sym : SDLK_UNKNOWN;
    if (event.type == SDL_QUIT) {
      stop = 1;
    } else if (event.type == SDL_KEYDOWN &&
               !(app->key && app->key(app, key, (event.key.keysym.mod & KMOD_SHIFT) != 0)) &&
               !kroAppEditorKey(app, key, (event.key.keysym.mod & KMOD_SHIFT) != 0)) {
      stop = stop || key == SDLK_ESCAPE;
      kroAppTimeKey(app, key);
    } else if (event.type == SDL_VIDEORESIZE) {
      *width = event.resize.w, *height = event.resize.h;
    }
  }
  return stop;
}

/* The mode set again at width x height pixels. SDL on X11 keeps the window and its context; a
 * context without the mark is a new one, and the engine's shaders are started in it afresh
 * (else rebuilt, the post-processing program being made for the canvas size; shaders_rebuilt
 * as after a file's change). 1, or 0 when no
 * mode of that size could be set (the reason on standard error, status 1). */
static int kroAppResize(kroApp *app, int width, int height) {
  if (!SDL_SetVideoMode(width, height, 32, kroAppVideoFlags(app))) {
    fprintf(stderr, "%s: no %d x %d OpenGL window: %s\n", kroAppName(app), width, height,
            SDL_GetError());
    app->status = 1;
    return 0;
  }
  app->width = width;
  app->height = height;
  glViewport(0, 0, width, height);
  app->resized = glIsList(app->context_mark) ? 1 : 2;
  if (app->resized == 2) {
    app->context_mark = glGenLists(1);
    kroAppCloseText(app, 1);
  }
  if ((app->resized == 2 ? kroStartShaders(width, height) : kroRebuildShaders(width, height)) != 0)
    fprintf(stderr, "%s: the engine's shaders did not all build at %d x %d: %s\n", kroAppName(app),
            width, height, kroShaderProblem());
  else
    app->shaders_rebuilt = 1;
  return 1;
}

#ifdef __EMSCRIPTEN__
/* The frame goes to the browser, which draws it (the page told of it: Module.kroFrame), and the
 * loop goes on at its next animation frame (ASYNCIFY unwinds and rewinds the production's own
 * loop around the wait). */
EM_ASYNC_JS(void, kroAppYield, (), {
  if (Module.kroFrame)
    Module.kroFrame();
  await new Promise(requestAnimationFrame);
});
#endif

int kroAppFrame(kroApp *app) {
  if (!app->running)
    return 0;
  int width = 0, height = 0; /* a new window size, applied after the swap */
  int last =
      kroAppTakeEvents(app, &width, &height) || (app->frames > 0 && app->frame >= app->frames);
  if (app->frame > 0) {
    kroAppDrawEditor(app);
    if (app->shot && last && kroAppWriteShot(app, app->shot) != 0)
      app->status = 1;
    SDL_GL_SwapBuffers();
#ifdef __EMSCRIPTEN__
    kroAppYield();
#endif
  } else if (app->shot && last) {
    fprintf(stderr, "%s: no frame was drawn for %s\n", kroAppName(app), app->shot);
    app->status = 1;
  }
  app->resized = 0;
  app->shaders_rebuilt = 0;
  if (last || (width > 0 && height > 0 && !kroAppResize(app, width, height))) {
    app->running = 0;
    return 0;
  }
  app->sync_reloaded = 0;
  if (app->sync_file && kroNowMs() >= app->sync_next_ms) {
    kroFileStamp stamp;
    kroStampFile(app->sync_file, &stamp);
    app->sync_next_ms = kroNowMs() + KRO_APP_SYNC_POLL_MS;
    if (!kroSameFileStamp(&stamp, &app->sync_stamp) && app->editor_dirty) {
      app->sync_stamp = stamp; /* said once a change */
      fprintf(stderr, "%s: %s changed; the edits not saved stay (S writes them over it)\n",
              kroAppName(app), app->sync_file);
    } else if (!kroSameFileStamp(&stamp, &app->sync_stamp)) {
      app->sync_reloaded = kroAppLoadSync(app);
    }
  }
  if (kroPollShaderWatch(&app->watch, kroNowMs())) {
    if (kroRebuildShaders(app->width, app->height) == 0)
      app->shaders_rebuilt = 1;
    else
      fprintf(stderr, "%s: kept the last good shaders: %s\n", kroAppName(app), kroShaderProblem());
  }
  /* The clock and the steps do not move while paused. */
  unsigned long now_ms = SDL_GetTicks();
  if (!app->paused && app->frame > 0)
    app->clock_seconds +=
        app->frames > 0 ? KRO_APP_STEP_SECONDS : (now_ms - app->clock_ms) / 1000.0;
  app->clock_ms = now_ms;
  double loop = app->loop_end - app->loop_start;
  if (app->loop_marks == 2 && app->clock_seconds >= app->loop_end)
    app->clock_seconds = app->loop_start + fmod(app->clock_seconds - app->loop_start, loop);
  app->seconds = kroAppNow(app);
  if (app->sound) {
    SDL_LockAudio();
    memcpy(app->levels, app->synth.peak, sizeof app->levels);
    SDL_UnlockAudio();
  }
  app->frame++;
  return 1;
}

int kroAppEnd(kroApp *app) {
  if (app->sound)
    SDL_CloseAudio();
  app->sound = 0;
  free(app->loop_sound);
  app->loop_sound = nullptr;
  kroFreeMusic(&app->music);
  kroStopSynth(&app->synth);
  kroCloseShaderWatch(&app->watch);
  kroFreeSyncTracks(&app->sync);
  kroAppCloseText(app, !SDL_GetVideoSurface());
  if (SDL_GetVideoSurface()) {
    glUseProgramObjectARB(0);
    glDeleteLists(app->context_mark, 1);
    kroDestroyShaders();
  }
  SDL_Quit();
  app->running = 0;
#ifdef __EMSCRIPTEN__
  EM_ASM(Module.kroEnded($0), app->status); /* the page (web/example.html): its still screen */
#endif
  return app->status;
}
