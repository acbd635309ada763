/*
 * Synthesizer: songs held as data (instruments, channels, one-channel
 * patterns, order lists) rendered to stereo at 44,100 frames per second,
 * float inside and 16-bit out; and the WAV writer for what it renders.
 * Every voice is one oscillator (sine, saw, square, triangle, noise) through
 * an ADSR envelope and a two-pole state-variable filter; the mix passes a
 * ping-pong echo and a small reverb, then a limiter. The state advances one
 * frame at a time and its control values change only at frames that are
 * multiples of KRO_SYNTH_BLOCK, so the samples depend on the frame position
 * alone, never on how the output is split into calls.
 * Depends on: kro_error.cpp (allocation, failure reporting), kro_file.cpp
 * (the WAV file), the maths library.
 */
#include "kro.h"
#include "kro_internal.h"

#include <errno.h>
#include <math.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>

enum {
  KRO_REVERB_COMBS = 4,          /* parallel comb filters per side */
  KRO_REVERB_PASSES = 2,         /* all-pass filters per side, in series */
  KRO_REVERB_COMB_FRAMES = 1700, /* longest comb line */
  KRO_REVERB_PASS_FRAMES = 400,  /* longest all-pass line */
  KRO_WAV_HEADER_BYTES = 44
};
static const int64_t KRO_RENDER_MAX_FRAMES = (int64_t)1 << 30; /* kroRenderSong: 6.7 hours */

static const float KRO_SYNTH_PI = 3.14159265358979f;
static const float KRO_LIMIT_CEILING = 0.7943282f; /* -2 dBFS: room for peaks between samples */
static const float KRO_LIMIT_RECOVER = 0.0002f;    /* share of the way back to unity per frame */
static const float KRO_REVERB_DAMP = 0.3f;         /* share of each comb's output kept dull */
static const float KRO_REVERB_INPUT = 0.2f;        /* the reverb's input level */
static const float KRO_PASS_GAIN = 0.5f;
/* A constant far below hearing (-340 dBFS) fed into the echo and reverb lines: their ringing
 * tails then settle on it instead of sinking into denormal numbers, which are slow. */
static const float KRO_DENORMAL_GUARD = 1e-17f;
/* Line lengths in frames, left side; the right side's are 23 longer. */
static const int KRO_COMB_LENGTH[KRO_REVERB_COMBS] = {1117, 1277, 1423, 1559};
static const int KRO_PASS_LENGTH[KRO_REVERB_PASSES] = {347, 113};
static const int KRO_REVERB_SPREAD = 23;

/* Envelope stages, in the order a note passes them. */
enum { KRO_STAGE_OFF, KRO_STAGE_ATTACK, KRO_STAGE_DECAY, KRO_STAGE_SUSTAIN, KRO_STAGE_RELEASE };

typedef struct kroVoice {
  const kroInstrument *ins;
  const kroChannel *channel;
  uint32_t phase, step; /* oscillator: 2^32 per period */
  uint32_t noise;       /* the noise generator's state */
  int stage;            /* KRO_STAGE_* */
  float level, rate;    /* envelope level and its change per frame in this stage */
  float key;            /* the note's key */
  float offset, keep;   /* semitones from the key, and its factor per block */
  float heard;          /* key + offset at the last block; < 0 before the first note */
  int64_t start;        /* frame of the note's start */
  float s1, s2;         /* filter integrators */
  float a1, a2, a3, k;  /* filter coefficients for this block */
  float left, right;    /* channel gains for this block: volume, gain and pan */
} kroVoice;

typedef struct kroReverbSide {
  float comb[KRO_REVERB_COMBS][KRO_REVERB_COMB_FRAMES];
  float low[KRO_REVERB_COMBS]; /* each comb's damping state */
  int comb_at[KRO_REVERB_COMBS], comb_length[KRO_REVERB_COMBS];
  float pass[KRO_REVERB_PASSES][KRO_REVERB_PASS_FRAMES];
  int pass_at[KRO_REVERB_PASSES], pass_length[KRO_REVERB_PASSES];
} kroReverbSide;

struct kroSynthState {
  kroVoice voice[KRO_SYNTH_CHANNELS];
  int64_t row;    /* the next row to start */
  int64_t row_at; /* its first frame */
  int64_t rows;   /* rows in the song */
  float echo[2][KRO_SYNTH_DELAY_FRAMES];
  int echo_at, echo_length;
  float feedback;      /* the echo's */
  float comb_feedback; /* the reverb combs' */
  kroReverbSide side[2];
  float limit; /* the limiter's gain */
};

static int64_t kroRowStart(const kroSong *song, int64_t row) {
  return row * 60 * KRO_SYNTH_RATE / song->rows_per_minute;
}

int64_t kroSongFrames(const kroSong *song) {
  if (song->rows_per_minute <= 0 || song->rows <= 0 || song->order_count <= 0)
    return 0;
  return kroRowStart(song, (int64_t)song->order_count * song->rows);
}

int64_t kroSongRow(const kroSong *song, int64_t frame) {
  if (song->rows_per_minute <= 0 || frame <= 0)
    return 0;
  int64_t rows = (int64_t)song->order_count * song->rows;
  /* The last row r with kroRowStart(r) <= frame. */
  int64_t row = (frame * song->rows_per_minute) / (60 * KRO_SYNTH_RATE);
  while (row < rows && kroRowStart(song, row + 1) <= frame)
    row++;
  return row < rows ? row : rows;
}

const kroRange KRO_INSTRUMENT_RANGES[KRO_INSTRUMENT_FLOATS] = {
    {0.01f, 0.99f},                      /* pulse_width */
    {0, 60},        {0, 60},    {0, 1},  /* attack, decay, sustain */
    {0, 60},        {-48, 48},           /* release, slide */
    {0, 60},        {0, 60},             /* slide_time, glide */
    {10, 20000},    {0, 0.99f},          /* cutoff, resonance */
    {-10, 10},      {0, 100},   {0, 10}, /* env_cutoff, lfo_rate, lfo_depth */
    {0, 1}};                             /* gain */
const kroRange KRO_CHANNEL_RANGES[KRO_CHANNEL_FLOATS] = {
    {0, 1},   {-1, 1}, {0, 1},    {0, 1}, /* volume, pan, delay, reverb */
    {0, 100}, {0, 1},  {0, 86400}};       /* pan_lfo_rate, pan_lfo_depth, pan_lfo_end */
const kroRange KRO_SONG_RANGES[KRO_SONG_FLOATS] = {
    {0, 1}, {0, 0.95f}, {0, 1}, {0, 16}}; /* delay_seconds, delay_feedback, reverb_size, master */

#define KRO_COUNT(table) (sizeof table / sizeof table[0])
/* The tables cover each record's floats from the first to the last, with no gap. */
#define KRO_FLOATS(type, first, last)                                                              \
  ((offsetof(type, last) - offsetof(type, first)) / sizeof(float) + 1)
static_assert(KRO_FLOATS(kroInstrument, pulse_width, gain) == KRO_COUNT(KRO_INSTRUMENT_RANGES),
              "instrument ranges");
static_assert(KRO_FLOATS(kroChannel, volume, pan_lfo_end) == KRO_COUNT(KRO_CHANNEL_RANGES),
              "channel ranges");
static_assert(KRO_FLOATS(kroSong, delay_seconds, master) == KRO_COUNT(KRO_SONG_RANGES),
              "song ranges");

/* 1 when the `count` floats from `first` each lie in their range. */
static int kroInRanges(const float *first, const kroRange *range, size_t count) {
  for (size_t i = 0; i < count; i++) {
    float x;
    memcpy(&x, (const char *)first + i * sizeof x, sizeof x);
    if (!(x >= range[i].low && x <= range[i].high))
      return 0;
  }
  return 1;
}

/* The reason a song cannot play, or null when it can. */
static const char *kroSongFault(const kroSong *song) {
  if (!song->instruments || song->instrument_count < 1)
    return "instruments are missing";
  if (!song->channels || song->channel_count < 1 || song->channel_count > KRO_SYNTH_CHANNELS)
    return "channel count is not 1..8";
  if (!song->patterns || song->pattern_count < 1 || song->pattern_count > KRO_SYNTH_MAX_PATTERNS)
    return "pattern count is not 1..254";
  if (song->rows < 1 || song->rows > KRO_SYNTH_MAX_ROWS)
    return "rows per pattern are not 1..1024";
  if (song->order_count < 0 || (song->order_count > 0 && !song->order))
    return "order list is missing";
  if (song->rows_per_minute < 1 || song->rows_per_minute > 60 * KRO_SYNTH_RATE)
    return "tempo is not 1..2646000 rows per minute";
  if (!kroInRanges(&song->delay_seconds, KRO_SONG_RANGES, KRO_COUNT(KRO_SONG_RANGES)))
    return "echo, reverb or master level is out of range";
  for (int i = 0; i < song->instrument_count; i++) {
    const kroInstrument *ins = &song->instruments[i];
    if (ins->wave > KRO_WAVE_NOISE || ins->filter > KRO_FILTER_BAND ||
        !kroInRanges(&ins->pulse_width, KRO_INSTRUMENT_RANGES, KRO_COUNT(KRO_INSTRUMENT_RANGES)))
      return "instrument has a value out of range";
  }
  for (int c = 0; c < song->channel_count; c++)
    if (!kroInRanges(&song->channels[c].volume, KRO_CHANNEL_RANGES, KRO_COUNT(KRO_CHANNEL_RANGES)))
      return "channel has a value out of range";
  for (int c = 0; c < song->channel_count; c++)
    if (song->channels[c].instrument >= song->instrument_count)
      return "channel names an instrument it does not have";
  for (int64_t i = 0; i < (int64_t)song->order_count * song->channel_count; i++)
    if (song->order[i] != KRO_PATTERN_SILENT && song->order[i] >= song->pattern_count)
      return "order list names a pattern it does not have";
  for (int64_t i = 0; i < (int64_t)song->pattern_count * song->rows; i++)
    if (song->patterns[i] > KRO_SYNTH_MAX_KEY && song->patterns[i] != KRO_NOTE_OFF)
      return "pattern holds a cell that is no key";
  return NULL;
}

int kroStartSynth(kroSynth *synth, const kroSong *song) {
  memset(synth, 0, sizeof *synth);
  const char *fault = kroSongFault(song);
  if (fault) {
    kroFail("Error in kroStartSynth(..): the song's %s\n", fault);
    return -1;
  }
  kroSynthState *state = (kroSynthState *)kroAllocateZeroed(sizeof(kroSynthState));
  if (!state) {
    kroFail("Error during allocating memory in kroStartSynth(..)\n");
    return -1;
  }
  for (int c = 0; c < song->channel_count; c++) {
    kroVoice *v = &state->voice[c];
    v->channel = &song->channels[c];
    v->ins = &song->instruments[v->channel->instrument];
    v->heard = -1.0f;
    v->noise = 0x2545F491u + (uint32_t)c * 0x9E3779B9u;
  }
  state->rows = (int64_t)song->order_count * song->rows;
  state->echo_length = (int)lrintf(song->delay_seconds * KRO_SYNTH_RATE);
  if (state->echo_length < 1)
    state->echo_length = 1;
  if (state->echo_length > KRO_SYNTH_DELAY_FRAMES)
    state->echo_length = KRO_SYNTH_DELAY_FRAMES;
  state->feedback = song->delay_feedback;
  state->comb_feedback = 0.6f + 0.33f * song->reverb_size;
  for (int s = 0; s < 2; s++) {
    for (int i = 0; i < KRO_REVERB_COMBS; i++)
      state->side[s].comb_length[i] = KRO_COMB_LENGTH[i] + s * KRO_REVERB_SPREAD;
    for (int i = 0; i < KRO_REVERB_PASSES; i++)
      state->side[s].pass_length[i] = KRO_PASS_LENGTH[i] + s * KRO_REVERB_SPREAD;
  }
  state->limit = 1.0f;
  synth->song = song;
  synth->frames = kroSongFrames(song);
  synth->state = state;
  return 0;
}

void kroStopSynth(kroSynth *synth) {
  free(synth->state);
  synth->state = NULL;
}

/* Pitch, filter and pan of one voice for the block starting at `frame`. */
static void kroVoiceControl(kroVoice *v, int64_t frame) {
  const kroInstrument *ins = v->ins;
  const kroChannel *ch = v->channel;
  /* A slide or glide beyond the keys holds at the last one: the oscillator's step stays far
   * inside 32 bits (key 127 is 12.5 kHz). */
  v->heard = fminf(fmaxf(v->key + v->offset, 0.0f), (float)KRO_SYNTH_MAX_KEY);
  float hz = 440.0f * exp2f((v->heard - 69.0f) / 12.0f);
  v->step = (uint32_t)(hz * (4294967296.0f / KRO_SYNTH_RATE));
  v->offset *= v->keep;
  float note_seconds = (float)(frame - v->start) / KRO_SYNTH_RATE;
  float octaves = ins->env_cutoff * v->level +
                  ins->lfo_depth * sinf(2.0f * KRO_SYNTH_PI * ins->lfo_rate * note_seconds);
  float cutoff = ins->cutoff * exp2f(octaves);
  cutoff = fminf(fmaxf(cutoff, 10.0f), 0.45f * KRO_SYNTH_RATE);
  float g = tanf(KRO_SYNTH_PI * cutoff / KRO_SYNTH_RATE);
  v->k = 2.0f - 2.0f * ins->resonance;
  v->a1 = 1.0f / (1.0f + g * (g + v->k));
  v->a2 = g * v->a1;
  v->a3 = g * v->a2;
  float song_seconds = (float)frame / KRO_SYNTH_RATE;
  float swing = ch->pan_lfo_depth;
  if (ch->pan_lfo_end > 0.0f)
    swing *= fmaxf(0.0f, 1.0f - song_seconds / ch->pan_lfo_end);
  float pan = ch->pan + swing * cosf(2.0f * KRO_SYNTH_PI * ch->pan_lfo_rate * song_seconds);
  pan = fminf(fmaxf(pan, -1.0f), 1.0f);
  float angle = (pan + 1.0f) * (KRO_SYNTH_PI / 4.0f);
  float gain = ch->volume * ins->gain;
  v->left = gain * cosf(angle);
  v->right = gain * sinf(angle);
}

/* A decay or glide that falls to 1/e in `seconds`, as a factor per block. */
static float kroBlockFactor(float seconds) {
  return seconds > 0.0f ? expf(-(float)KRO_SYNTH_BLOCK / (seconds * KRO_SYNTH_RATE)) : 0.0f;
}

/* A cell of a channel at `frame`: a key starts a note, KRO_NOTE_OFF releases it. */
static void kroVoiceCell(kroVoice *v, uint8_t cell, int64_t frame) {
  const kroInstrument *ins = v->ins;
  if (cell == KRO_NOTE_OFF) {
    if (v->stage != KRO_STAGE_OFF) {
      v->stage = KRO_STAGE_RELEASE;
      v->rate = ins->release > 0.0f ? v->level / (ins->release * KRO_SYNTH_RATE) : v->level;
    }
    return;
  }
  bool gliding = ins->glide > 0.0f && v->heard >= 0.0f;
  v->key = cell;
  if (gliding) {
    v->offset = v->heard - v->key;
    v->keep = kroBlockFactor(ins->glide);
  } else {
    v->offset = ins->slide;
    v->keep = kroBlockFactor(ins->slide_time);
    v->phase = 0;
  }
  v->start = frame;
  v->stage = KRO_STAGE_ATTACK;
  v->rate = ins->attack > 0.0f ? 1.0f / (ins->attack * KRO_SYNTH_RATE) : 1.0f;
  kroVoiceControl(v, frame);
}

/* The envelope one frame on. */
static void kroVoiceEnvelope(kroVoice *v) {
  const kroInstrument *ins = v->ins;
  switch (v->stage) {
  case KRO_STAGE_ATTACK:
    v->level += v->rate;
    if (v->level >= 1.0f) {
      v->level = 1.0f;
      v->stage = KRO_STAGE_DECAY;
      v->rate = ins->decay > 0.0f ? (1.0f - ins->sustain) / (ins->decay * KRO_SYNTH_RATE) : 1.0f;
    }
    break;
  case KRO_STAGE_DECAY:
    v->level -= v->rate;
    if (v->level <= ins->sustain) {
      v->level = ins->sustain;
      v->stage = ins->sustain > 0.0f ? KRO_STAGE_SUSTAIN : KRO_STAGE_OFF;
    }
    break;
  case KRO_STAGE_RELEASE:
    v->level -= v->rate;
    if (v->level <= 0.0f) {
      v->level = 0.0f;
      v->stage = KRO_STAGE_OFF;
    }
    break;
  default:
    break;
  }
}

/* The correction that takes the corner off a unit step at phase 0 of a wave
 * whose phase t (0..1) advances dt a frame: saw and square then alias far
 * less than their naive forms. */
static float kroStepCorrection(float t, float dt) {
  if (t < dt) {
    t /= dt;
    return t + t - t * t - 1.0f;
  }
  if (t > 1.0f - dt) {
    t = (t - 1.0f) / dt;
    return t * t + t + t + 1.0f;
  }
  return 0.0f;
}

/* The voice's next sample after oscillator, filter and envelope. */
static float kroVoiceSample(kroVoice *v) {
  const kroInstrument *ins = v->ins;
  const float turn = 1.0f / 4294967296.0f;
  float t = (float)v->phase * turn, dt = (float)v->step * turn, x;
  switch (ins->wave) {
  case KRO_WAVE_SINE:
    x = sinf((float)v->phase * (2.0f * KRO_SYNTH_PI / 4294967296.0f));
    break;
  case KRO_WAVE_SAW:
    x = 2.0f * t - 1.0f - kroStepCorrection(t, dt);
    break;
  case KRO_WAVE_SQUARE: {
    float falls = t - ins->pulse_width; /* the phase since the fall to -1 */
    x = (falls < 0.0f ? 1.0f : -1.0f) + kroStepCorrection(t, dt) -
        kroStepCorrection(falls < 0.0f ? falls + 1.0f : falls, dt);
    break;
  }
  case KRO_WAVE_TRIANGLE:
    x = fabsf((float)v->phase * (1.0f / 1073741824.0f) - 2.0f) - 1.0f;
    break;
  default:
    v->noise = v->noise * 1664525u + 1013904223u;
    x = (float)(int32_t)v->noise * (1.0f / 2147483648.0f);
    break;
  }
  v->phase += v->step;
  if (ins->filter != KRO_FILTER_OFF) {
    /* Trapezoidal state-variable filter: stable at every cutoff below Nyquist. */
    float v3 = x - v->s2;
    float band = v->a1 * v->s1 + v->a2 * v3;
    float low = v->s2 + v->a2 * v->s1 + v->a3 * v3;
    v->s1 = 2.0f * band - v->s1;
    v->s2 = 2.0f * low - v->s2;
    x = ins->filter == KRO_FILTER_LOW    ? low
        : ins->filter == KRO_FILTER_BAND ? band
                                         : x - v->k * band - low;
  }
  kroVoiceEnvelope(v);
  return x * v->level;
}

/* One side of the reverb, one frame on. */
static float kroReverbFrame(kroReverbSide *side, float in, float feedback) {
  float out = 0.0f;
  for (int i = 0; i < KRO_REVERB_COMBS; i++) {
    float *line = side->comb[i];
    int at = side->comb_at[i];
    float y = line[at];
    side->low[i] = y + KRO_REVERB_DAMP * (side->low[i] - y);
    line[at] = in + side->low[i] * feedback + KRO_DENORMAL_GUARD;
    side->comb_at[i] = at + 1 == side->comb_length[i] ? 0 : at + 1;
    out += y;
  }
  for (int i = 0; i < KRO_REVERB_PASSES; i++) {
    float *line = side->pass[i];
    int at = side->pass_at[i];
    float delayed = line[at];
    float w = out + KRO_PASS_GAIN * delayed;
    line[at] = w;
    out = delayed - KRO_PASS_GAIN * w;
    side->pass_at[i] = at + 1 == side->pass_length[i] ? 0 : at + 1;
  }
  return out;
}

void kroRenderSynthFloat(kroSynth *synth, float *out, int frames) {
  kroSynthState *st = synth->state;
  const kroSong *song = synth->song;
  if (!st) {
    memset(out, 0, sizeof(float) * 2 * (size_t)(frames > 0 ? frames : 0));
    return;
  }
  for (int f = 0; f < frames; f++, synth->frame++) {
    int64_t frame = synth->frame;
    while (st->row < st->rows && frame == st->row_at) {
      int64_t step = st->row / song->rows, row = st->row % song->rows;
      for (int c = 0; c < song->channel_count; c++) {
        uint8_t pattern = song->order[step * song->channel_count + c];
        uint8_t cell = pattern == KRO_PATTERN_SILENT
                           ? (uint8_t)KRO_NOTE_NONE
                           : song->patterns[(int64_t)pattern * song->rows + row];
        if (cell != KRO_NOTE_NONE)
          kroVoiceCell(&st->voice[c], cell, frame);
      }
      st->row++;
      st->row_at = kroRowStart(song, st->row);
    }
    bool control = frame % KRO_SYNTH_BLOCK == 0;
    float dry[2] = {0.0f, 0.0f}, echo_in = 0.0f, reverb_in = 0.0f;
    for (int c = 0; c < song->channel_count; c++) {
      kroVoice *v = &st->voice[c];
      if (v->stage == KRO_STAGE_OFF)
        continue;
      if (control)
        kroVoiceControl(v, frame);
      float x = kroVoiceSample(v);
      if (synth->mute >> c & 1u)
        continue;
      float l = x * v->left, r = x * v->right;
      synth->peak[c] = fmaxf(synth->peak[c], fmaxf(fabsf(l), fabsf(r)));
      dry[0] += l;
      dry[1] += r;
      echo_in += (l + r) * v->channel->delay;
      reverb_in += (l + r) * v->channel->reverb;
    }
    float *echo_l = &st->echo[0][st->echo_at], *echo_r = &st->echo[1][st->echo_at];
    float el = *echo_l, er = *echo_r;
    *echo_l = 0.5f * echo_in + er * st->feedback + KRO_DENORMAL_GUARD;
    *echo_r = el * st->feedback;
    if (++st->echo_at == st->echo_length)
      st->echo_at = 0;
    reverb_in *= KRO_REVERB_INPUT;
    float mix[2] = {dry[0] + el + kroReverbFrame(&st->side[0], reverb_in, st->comb_feedback),
                    dry[1] + er + kroReverbFrame(&st->side[1], reverb_in, st->comb_feedback)};
    /* Limiter: the gain drops at once to keep the peak at the ceiling, then recovers. */
    st->limit += (1.0f - st->limit) * KRO_LIMIT_RECOVER;
    float peak = fmaxf(fabsf(mix[0]), fabsf(mix[1])) * song->master;
    if (peak * st->limit > KRO_LIMIT_CEILING)
      st->limit = KRO_LIMIT_CEILING / peak;
    float gain = song->master * st->limit;
    out[2 * f] = mix[0] * gain;
    out[2 * f + 1] = mix[1] * gain;
  }
}

void kroRenderSynth(kroSynth *synth, int16_t *out, int frames) {
  enum { CHUNK = 256 }; /* frames per pass through the float mix */
  float mix[2 * CHUNK];
  while (frames > 0) {
    int n = frames < CHUNK ? frames : CHUNK;
    kroRenderSynthFloat(synth, mix, n);
    for (int i = 0; i < 2 * n; i++) {
      float s = fminf(fmaxf(mix[i], -1.0f), 1.0f) * 32767.0f;
      out[i] = (int16_t)lrintf(s);
    }
    out += 2 * n;
    frames -= n;
  }
}

int16_t *kroRenderSong(const kroSong *song, int64_t tail_frames, int64_t *frames) {
  *frames = 0;
  kroSynth synth;
  if (kroStartSynth(&synth, song) != 0)
    return NULL;
  int64_t total = synth.frames + (tail_frames > 0 ? tail_frames : 0);
  if (tail_frames > KRO_RENDER_MAX_FRAMES || total > KRO_RENDER_MAX_FRAMES) {
    kroStopSynth(&synth);
    kroFail("Error in kroRenderSong(..) with %lld frames, more than %lld\n", (long long)total,
            (long long)KRO_RENDER_MAX_FRAMES);
    return NULL;
  }
  int16_t *samples = (int16_t *)kroAllocate(sizeof(int16_t) * 2 * (size_t)total);
  if (!samples) {
    kroStopSynth(&synth);
    kroFail("Error during allocating memory in kroRenderSong(..)\n");
    return NULL;
  }
  for (int64_t done = 0; done < total;) {
    int n = total - done < 65536 ? (int)(total - done) : 65536;
    kroRenderSynth(&synth, samples + 2 * done, n);
    done += n;
  }
  kroStopSynth(&synth);
  *frames = total;
  return samples;
}

/* Little-endian 16- and 32-bit fields, one byte at a time. */
static void kroPut16(uint8_t *at, uint32_t value) {
  at[0] = (uint8_t)value;
  at[1] = (uint8_t)(value >> 8);
}

static void kroPut32(uint8_t *at, uint32_t value) {
  kroPut16(at, value & 0xFFFFu);
  kroPut16(at + 2, value >> 16);
}

int kroWriteWAV(const char *path, const int16_t *samples, int64_t frames) {
  /* The RIFF size field (data bytes + 36) must fit 32 bits. */
  if (frames < 0 || frames > (int64_t)(0xFFFFFFFFu - 36u) / 4) {
    kroFail("Error in kroWriteWAV(..) with %lld frames for file: %s\n", (long long)frames, path);
    errno = EINVAL;
    return -1;
  }
  kroOutFile out;
  if (kroBeginOutFile(&out, path) != 0) {
    kroFail("Error in kroWriteWAV(..) during opening file: %s\n", path);
    errno = out.error;
    return -1;
  }
  uint32_t data_bytes = (uint32_t)(frames * 4);
  uint8_t header[KRO_WAV_HEADER_BYTES];
  memcpy(header, "RIFF", 4);
  kroPut32(header + 4, data_bytes + 36u);
  memcpy(header + 8, "WAVEfmt ", 8);
  kroPut32(header + 16, 16);                 /* format chunk bytes */
  kroPut16(header + 20, 1);                  /* integer samples */
  kroPut16(header + 22, 2);                  /* channels */
  kroPut32(header + 24, KRO_SYNTH_RATE);     /* frames per second */
  kroPut32(header + 28, KRO_SYNTH_RATE * 4); /* bytes per second */
  kroPut16(header + 32, 4);                  /* bytes per frame */
  kroPut16(header + 34, 16);                 /* bits per sample */
  memcpy(header + 36, "data", 4);
  kroPut32(header + 40, data_bytes);
  bool written = fwrite(header, 1, sizeof header, out.file) == sizeof header;
  uint8_t chunk[4096];
  for (int64_t i = 0; written && i < frames * 2;) {
    size_t n = 0;
    for (; n + 2 <= sizeof chunk && i < frames * 2; n += 2, i++)
      kroPut16(chunk + n, (uint16_t)samples[i]);
    written = fwrite(chunk, 1, n, out.file) == n;
  }
  if (kroCommitOutFile(&out) != 0) {
    kroFail("Error in kroWriteWAV(..) during writing file: %s\n", path);
    errno = out.error;
    return -1;
  }
  return 0;
}
