/*
 * The intro's soundtrack as data: instruments, channels, patterns and the
 * order list for the engine's synthesizer. Landings fall on the grid of
 * 0.025 s rows: the departures are multiples of 0.125 s or 0.2 s, and every
 * flyer lands one second after it leaves. Keys are MIDI numbers (69 = 440 Hz).
 * Depends on: kro (the song records).
 */
#include "ZKsong.h"

enum { OFF = KRO_NOTE_OFF, REST = KRO_PATTERN_SILENT };

// clang-format off
static const kroInstrument ZK_INSTRUMENTS[] = {
    /* 0 drum: a sine falling two octaves onto its key in a few milliseconds */
    {KRO_WAVE_SINE, KRO_FILTER_OFF, 0.5f, 0.001f, 0.35f, 0.0f, 0.1f, 24.0f, 0.03f, 0.0f,
     20000.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f},
    /* 1 click: band-passed noise, 60 ms */
    {KRO_WAVE_NOISE, KRO_FILTER_BAND, 0.5f, 0.0005f, 0.06f, 0.0f, 0.05f, 0.0f, 0.0f, 0.0f,
     2500.0f, 0.0f, 1.0f, 0.0f, 0.0f, 1.0f},
    /* 2 bass: a saw under a low-pass that breathes once per turn of the light */
    {KRO_WAVE_SAW, KRO_FILTER_LOW, 0.5f, 0.4f, 1.0f, 0.8f, 1.0f, 0.0f, 0.0f, 0.0f,
     160.0f, 0.5f, 1.5f, 0.25f, 0.5f, 1.0f},
    /* 3 spiral: a resonant saw gliding between keys, its cutoff turning with the light */
    {KRO_WAVE_SAW, KRO_FILTER_LOW, 0.5f, 1.5f, 1.0f, 1.0f, 1.0f, 0.0f, 0.0f, 0.45f,
     900.0f, 0.6f, 0.0f, 0.25f, 1.0f, 1.0f},
    /* 4 pad: a narrow pulse, slowly opening */
    {KRO_WAVE_SQUARE, KRO_FILTER_LOW, 0.3f, 2.0f, 1.0f, 0.8f, 1.2f, 0.0f, 0.0f, 0.0f,
     1100.0f, 0.2f, 0.0f, 0.1f, 0.3f, 1.0f},
};

static const kroChannel ZK_CHANNELS[ZK_SONG_CHANNELS] = {
    /* instrument, volume, pan, echo, reverb, pan swing: Hz, width, end (s) */
    {0, 1.0f, 0.0f, 0.10f, 0.30f, 0.0f, 0.0f, 0.0f},
    {1, 1.0f, 0.0f, 0.20f, 0.20f, 0.0f, 0.0f, 0.0f},
    {2, 0.5f, 0.0f, 0.00f, 0.10f, 0.0f, 0.0f, 0.0f},
    /* the light's x: r cos(pi t / 2) on a radius shrinking to 0 at second 12 */
    {3, 0.36f, 0.0f, 0.25f, 0.40f, 0.25f, 0.8f, 12.0f},
    {4, 0.14f, -0.4f, 0.00f, 0.50f, 0.0f, 0.0f, 0.0f},
    {4, 0.14f, 0.4f, 0.00f, 0.50f, 0.0f, 0.0f, 0.0f},
};

static const uint8_t ZK_PATTERNS[28 * ZK_SONG_ROWS] = {
    /* 0: row 0 key 45 */
    45, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    /* 1: row 0 key 45, row 20 key 40 */
    45, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    40, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    /* 2: row 0 key 40, row 20 key 45 */
    40, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    45, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    /* 3: row 0 key 45, row 10 key 40, row 20 key 45, row 30 key 40 */
    45, 0, 0, 0, 0, 0, 0, 0, 0, 0, 40, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    45, 0, 0, 0, 0, 0, 0, 0, 0, 0, 40, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    /* 4: row 0 key 40, row 10 key 40, row 20 key 45, row 30 key 45 */
    40, 0, 0, 0, 0, 0, 0, 0, 0, 0, 40, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    45, 0, 0, 0, 0, 0, 0, 0, 0, 0, 45, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    /* 5: row 0 key 45, row 8 key 45, row 16 key 40, row 24 key 45, row 32 key 45 */
    45, 0, 0, 0, 0, 0, 0, 0, 45, 0, 0, 0, 0, 0, 0, 0, 40, 0, 0, 0,
    0, 0, 0, 0, 45, 0, 0, 0, 0, 0, 0, 0, 45, 0, 0, 0, 0, 0, 0, 0,
    /* 6: row 0 key 45, row 8 key 45, row 16 key 40, row 24 key 40, row 32 key 45 */
    45, 0, 0, 0, 0, 0, 0, 0, 45, 0, 0, 0, 0, 0, 0, 0, 40, 0, 0, 0,
    0, 0, 0, 0, 40, 0, 0, 0, 0, 0, 0, 0, 45, 0, 0, 0, 0, 0, 0, 0,
    /* 7: row 0 key 45, row 5 key 45, row 10 key 40, row 15 key 45, row 20 key 45, row 25 key 45, row 30 key 40, row 35 key 40 */
    45, 0, 0, 0, 0, 45, 0, 0, 0, 0, 40, 0, 0, 0, 0, 45, 0, 0, 0, 0,
    45, 0, 0, 0, 0, 45, 0, 0, 0, 0, 40, 0, 0, 0, 0, 40, 0, 0, 0, 0,
    /* 8: row 0 key 40 */
    40, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    /* 9: row 0 key 33 */
    33, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    /* 10: row 0 key 29 */
    29, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    /* 11: row 0 key 31 */
    31, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    /* 12: row 0 key 28 */
    28, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    /* 13: row 0 key 33, row 20 off */
    33, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    OFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    /* 14: row 0 key 83 */
    83, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    /* 15: row 0 key 71 */
    71, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    /* 16: row 0 key 81 */
    81, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    /* 17: row 0 key 72 */
    72, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    /* 18: row 0 key 79 */
    79, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    /* 19: row 0 key 75 */
    75, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    /* 20: row 0 key 76, row 20 off */
    76, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    OFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    /* 21: row 0 key 60 */
    60, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    /* 22: row 0 key 57 */
    57, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    /* 23: row 0 key 59 */
    59, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    /* 24: row 0 key 61, row 20 off */
    61, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    OFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    /* 25: row 0 key 64 */
    64, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    /* 26: row 0 key 62 */
    62, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    /* 27: row 0 key 64, row 20 off */
    64, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    OFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
};
static const uint8_t ZK_ORDER[ZK_SONG_STEPS * ZK_SONG_CHANNELS] = {
    REST, REST, 9, 14, 21, 25, /* second 0 */
    REST, REST, REST, REST, REST, REST, /* second 1 */
    0, 0, REST, 15, REST, REST, /* second 2 */
    1, 1, REST, REST, REST, REST, /* second 3 */
    2, 2, REST, 16, REST, REST, /* second 4 */
    3, 3, REST, REST, REST, REST, /* second 5 */
    4, 4, 10, 17, 22, 21, /* second 6 */
    5, 5, REST, REST, REST, REST, /* second 7 */
    6, 6, 11, 18, 23, 26, /* second 8 */
    7, 7, REST, REST, REST, REST, /* second 9 */
    8, 8, 12, 19, 23, 25, /* second 10 */
    REST, REST, REST, REST, REST, REST, /* second 11 */
    9, 9, 13, 20, 24, 27, /* second 12 */
    REST, REST, REST, REST, REST, REST, /* second 13 */
};
// clang-format on

const kroSong zk_song = {
    ZK_INSTRUMENTS, (int)(sizeof ZK_INSTRUMENTS / sizeof ZK_INSTRUMENTS[0]),
    ZK_CHANNELS,    ZK_SONG_CHANNELS,
    ZK_PATTERNS,    (int)(sizeof ZK_PATTERNS / ZK_SONG_ROWS),
    ZK_SONG_ROWS,   ZK_ORDER,
    ZK_SONG_STEPS,  ZK_SONG_ROWS_PER_MINUTE,
    0.3f,  /* echo: 12 rows */
    0.35f, /* echo feedback */
    0.4f,  /* reverb size */
    0.36f, /* master */
};
