/*
 * sound: a song for the engine's synthesizer, written as data in this file,
 * played by the application layer (app.song) under a turning cube that kicks
 * with the drum. Along the bottom, the song's position: one cell per order
 * step (the wide ones) and one per row of the pattern playing (the narrow
 * ones), the current ones lit, with a bar of the seconds played.
 *
 *   sound [--window] [--frames N] [--shot FILE.png] [--start SECONDS] [--help]
 *
 * The production's time (app.seconds) is the song's position as the device
 * plays it, so the picture follows the sound with no audio code here; the
 * time keys (Space, Left/Right, Home, L...) hold picture and sound together.
 * Without an audio device the layer says so in one line and follows the
 * clock; under --frames the time steps 1/60 s a frame, so that the pictures
 * are the same on every run whatever the device plays. The song ends the
 * program after its 8 s; Escape or closing the window ends it earlier,
 * --frames after N frames, and --shot writes the last of them as a PNG
 * picture: the window, the loop, the sound and the options are the
 * application layer's (kroapp.h).
 * Depends on: kro, kroapp, GL.
 */
#include <kro/kroapp.h>

#include <math.h>

#ifndef KRO_SHADER_DIR
#define KRO_SHADER_DIR "sh"
#endif

enum { WINDOW_WIDTH = 480, WINDOW_HEIGHT = 320, ROWS = 16, STEPS = 4, CHANNELS = 4 };
enum { OFF = KRO_NOTE_OFF, REST = KRO_PATTERN_SILENT };

/* Drum, hat, bass, lead. Fields: wave, filter, pulse width, attack, decay, sustain, release (s),
 * slide (semitones), slide time, glide (s), cutoff (Hz), resonance, envelope and LFO cutoff
 * octaves with the LFO's rate between them, gain. */
static const kroInstrument INSTRUMENTS[] = {
    {KRO_WAVE_SINE, KRO_FILTER_OFF, 0.5f, 0.001f, 0.3f, 0.0f, 0.05f, 30.0f, 0.02f, 0.0f, 20000.0f,
     0.0f, 0.0f, 0.0f, 0.0f, 1.0f},
    {KRO_WAVE_NOISE, KRO_FILTER_HIGH, 0.5f, 0.001f, 0.05f, 0.0f, 0.02f, 0.0f, 0.0f, 0.0f, 7000.0f,
     0.2f, 0.0f, 0.0f, 0.0f, 0.5f},
    {KRO_WAVE_SAW, KRO_FILTER_LOW, 0.5f, 0.005f, 0.2f, 0.3f, 0.1f, 0.0f, 0.0f, 0.0f, 200.0f, 0.7f,
     3.0f, 0.0f, 0.0f, 0.8f},
    {KRO_WAVE_SQUARE, KRO_FILTER_LOW, 0.25f, 0.01f, 0.3f, 0.5f, 0.2f, 0.0f, 0.0f, 0.05f, 1500.0f,
     0.4f, 1.0f, 0.5f, 0.5f, 0.5f},
};

/* Instrument, volume, pan, echo, reverb, pan swing (Hz, width, end). */
static const kroChannel SONG_CHANNELS[CHANNELS] = {
    {0, 0.9f, 0.0f, 0.0f, 0.1f, 0.0f, 0.0f, 0.0f},
    {1, 0.4f, 0.3f, 0.0f, 0.2f, 0.0f, 0.0f, 0.0f},
    {2, 0.6f, 0.0f, 0.0f, 0.1f, 0.0f, 0.0f, 0.0f},
    {3, 0.35f, -0.2f, 0.4f, 0.4f, 0.5f, 0.4f, 0.0f},
};

/* Patterns of ROWS cells: keys (MIDI numbers), 0 to go on, OFF to release. */
static const uint8_t PATTERNS[][ROWS] = {
    {36, 0, 0, 0, 36, 0, 0, 0, 36, 0, 0, 0, 36, 0, 0, 36},       /* 0 drum */
    {0, 0, 60, 0, 0, 0, 60, 0, 0, 0, 60, 0, 0, 0, 60, 60},       /* 1 hat */
    {33, 0, 33, 45, 0, 33, 0, 45, 33, 0, 33, 45, 0, 33, 43, 45}, /* 2 bass in A */
    {29, 0, 29, 41, 0, 29, 0, 41, 31, 0, 31, 43, 0, 31, 43, 44}, /* 3 bass, F then G */
    {69, 0, 72, 0, 76, 0, 72, 0, 81, 0, 79, 0, 76, 0, 72, OFF},  /* 4 lead */
    {77, 0, 76, 0, 72, 0, 69, 0, 71, 0, 74, 0, 79, 0, 0, OFF},   /* 5 lead, answer */
};

/* Pattern per channel for each step. */
static const uint8_t ORDER[STEPS * CHANNELS] = {
    0, REST, 2, REST, /* */
    0, 1,    2, 4,    /* */
    0, 1,    3, 5,    /* */
    0, 1,    2, 4,
};

static const kroSong SONG = {INSTRUMENTS, 4,    SONG_CHANNELS, CHANNELS, &PATTERNS[0][0],
                             6,           ROWS, ORDER,         STEPS,    480, /* 8 rows a second */
                             0.375f,      0.4f, 0.5f,          0.6f};

/* A quad from (x0, y0) to (x1, y1) in pixels. */
static void Box(float x0, float y0, float x1, float y1) {
  glBegin(GL_QUADS);
  glVertex2f(x0, y0);
  glVertex2f(x1, y0);
  glVertex2f(x1, y1);
  glVertex2f(x0, y1);
  glEnd();
}

/* A unit cube, one normal per face. */
static void Cube(void) {
  static const float n[6][3] = {{1, 0, 0},  {-1, 0, 0}, {0, 1, 0},
                                {0, -1, 0}, {0, 0, 1},  {0, 0, -1}};
  glBegin(GL_QUADS);
  for (int f = 0; f < 6; f++) {
    glNormal3fv(n[f]);
    int a = f / 2, b = (a + 1) % 3, c = (a + 2) % 3; /* the face's axis and the two across it */
    float s = n[f][a];
    static const float corner[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
    for (int k = 0; k < 4; k++) {
      float v[3];
      v[a] = s;
      v[b] = corner[s > 0 ? k : 3 - k][0];
      v[c] = corner[s > 0 ? k : 3 - k][1];
      glVertex3fv(v);
    }
  }
  glEnd();
}

static void DrawFrame(int64_t frame, long picture) {
  int64_t row = kroSongRow(&SONG, frame);
  int64_t row_start = row * 60 * KRO_SYNTH_RATE / SONG.rows_per_minute;
  float since_row = (float)(frame - row_start) / KRO_SYNTH_RATE;
  float kick = row % 4 == 0 && row < (int64_t)STEPS * ROWS ? expf(-since_row * 12.0f) : 0.0f;

  glClearColor(0.06f, 0.06f, 0.1f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glEnable(GL_DEPTH_TEST);
  glEnable(GL_LIGHTING);
  glEnable(GL_LIGHT0);
  glEnable(GL_COLOR_MATERIAL);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  kroPerspectiveOGL(25.0f, (float)WINDOW_WIDTH / WINDOW_HEIGHT, 0.5f, 20.0f);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  static const float light[4] = {2.0f, 3.0f, 4.0f, 0.0f};
  glLightfv(GL_LIGHT0, GL_POSITION, light);
  glTranslatef(0.0f, 0.25f, -6.0f);
  glRotatef(25.0f, 1.0f, 0.0f, 0.0f);
  glRotatef(1.5f * (float)picture, 0.0f, 1.0f, 0.0f);
  float size = 0.8f + 0.15f * kick;
  glScalef(size, size, size);
  glColor3f(0.9f, 0.5f + 0.4f * kick, 0.15f);
  Cube();
  glDisable(GL_LIGHTING);
  glDisable(GL_DEPTH_TEST);

  /* The position: steps, rows of the step, seconds. */
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0.0, WINDOW_WIDTH, 0.0, WINDOW_HEIGHT, -1.0, 1.0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  const float cell = (WINDOW_WIDTH - 20.0f) / ROWS;
  for (int s = 0; s < STEPS; s++) {
    bool now = row / ROWS == s;
    glColor3f(now ? 0.3f : 0.15f, now ? 0.8f : 0.2f, now ? 1.0f : 0.3f);
    Box(10 + s * 4 * cell + 1, 42, 10 + (s + 1) * 4 * cell - 1, 54);
  }
  for (int r = 0; r < ROWS; r++) {
    bool now = row % ROWS == r && row < (int64_t)STEPS * ROWS;
    glColor3f(now ? 1.0f : 0.25f, now ? 0.9f : 0.25f, now ? 0.3f : 0.3f);
    Box(10 + r * cell + 2, 22, 10 + (r + 1) * cell - 2, 36);
  }
  float done = fminf(1.0f, (float)frame / (float)kroSongFrames(&SONG));
  glColor3f(0.8f, 0.8f, 0.8f);
  Box(10, 10, 10 + done * (WINDOW_WIDTH - 20), 14);
}

int main(int argc, char **argv) {
  kroApp app = {};
  app.windowed = 1;
  app.fixed_shaders = 1; /* the cube is GL's own lighting: no shader to watch */
  app.song = &SONG;
  kroSetShaderFolder(KRO_SHADER_DIR);
  if (!kroAppStart(&app, "sound", WINDOW_WIDTH, WINDOW_HEIGHT, &argc, argv))
    return app.status;
  while (kroAppFrame(&app)) {
    int64_t frame = (int64_t)(app.seconds * KRO_SYNTH_RATE);
    if (app.frames == 0 && frame >= kroSongFrames(&SONG))
      break;
    DrawFrame(frame, app.frame - 1);
  }
  return kroAppEnd(&app);
}
