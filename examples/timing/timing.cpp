/*
 * timing: a camera flight and a colour on sync tracks, over a music file.
 * Every value that moves lives in timing.sync beside this file (the camera's
 * angle about the middle, its height and distance; the middle cube's red,
 * green and blue), read with kroAppSyncValue at the production's time, which
 * is the music's position. The music is timing.song rendered by the engine's
 * synthesizer into the build tree (`krotool song-wav`), played as a WAV file.
 *
 *   timing [--window] [--frames N] [--shot FILE.png] [--sync FILE] [--music FILE]
 *          [--start SECONDS] [--help]
 *
 * While it runs: edit timing.sync and save, and the picture follows within
 * a tenth of a second; or press Tab for the sync editor in the window (F1
 * lists every key): Space pauses, Up/Down move a row, type a number and
 * Enter to set a key, S saves. L twice loops the bar being tuned.
 * The window, the loop, the sound and the options are the application
 * layer's (kroapp.h); docs/timing.md tells the rest.
 * Depends on: kro, kroapp, GL.
 */
#include <kro/kroapp.h>

#include <math.h>

#ifndef KRO_SHADER_DIR
#define KRO_SHADER_DIR "sh"
#endif
#ifndef EXAMPLE_DATA_DIR
#define EXAMPLE_DATA_DIR "."
#endif
#ifndef TIMING_MUSIC
#define TIMING_MUSIC "timing.wav"
#endif

enum { WINDOW_WIDTH = 640, WINDOW_HEIGHT = 360, PILLARS = 8 };

/* A box from -1 to 1 on each axis, one normal a face. */
static void Cube(void) {
  static const float n[6][3] = {{1, 0, 0},  {-1, 0, 0}, {0, 1, 0},
                                {0, -1, 0}, {0, 0, 1},  {0, 0, -1}};
  static const float corner[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
  glBegin(GL_QUADS);
  for (int f = 0; f < 6; f++) {
    glNormal3fv(n[f]);
    int a = f / 2, b = (a + 1) % 3, c = (a + 2) % 3; /* the face's axis and the two across it */
    float s = n[f][a];
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

/* The eye on the tracks' path: `angle` degrees about the vertical, `height` over the floor,
 * `distance` from the middle, looking at the middle cube's centre (0, 1, 0). */
static void Camera(float angle, float height, float distance) {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  kroPerspectiveOGL(30.0f, (float)WINDOW_WIDTH / WINDOW_HEIGHT, 0.5f, 100.0f);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  float pitch = atan2f(height - 1.0f, distance) * 180.0f / (float)M_PI;
  glTranslatef(0.0f, 0.0f, -sqrtf(distance * distance + (height - 1) * (height - 1)));
  glRotatef(pitch, 1.0f, 0.0f, 0.0f);
  glRotatef(-angle, 0.0f, 1.0f, 0.0f);
  glTranslatef(0.0f, -1.0f, 0.0f);
}

static void Draw(const kroApp *app) {
  glClearColor(0.05f, 0.05f, 0.09f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  Camera(kroAppSyncValue(app, "camera.angle"), kroAppSyncValue(app, "camera.height"),
         kroAppSyncValue(app, "camera.distance"));
  glEnable(GL_DEPTH_TEST);
  glDisable(GL_LIGHTING);
  glColor3f(0.25f, 0.3f, 0.4f); /* the floor's lines, a unit apart */
  glBegin(GL_LINES);
  for (int i = -10; i <= 10; i++) {
    glVertex3f((float)i, 0.0f, -10.0f);
    glVertex3f((float)i, 0.0f, 10.0f);
    glVertex3f(-10.0f, 0.0f, (float)i);
    glVertex3f(10.0f, 0.0f, (float)i);
  }
  glEnd();
  glEnable(GL_LIGHTING);
  glEnable(GL_LIGHT0);
  glEnable(GL_COLOR_MATERIAL);
  glEnable(GL_NORMALIZE);
  static const float light[4] = {0.3f, 1.0f, 0.5f, 0.0f};
  glLightfv(GL_LIGHT0, GL_POSITION, light);
  for (int p = 0; p < PILLARS; p++) { /* grey pillars in a ring, to see the flight by */
    glPushMatrix();
    glRotatef(360.0f * (p + 0.5f) / PILLARS, 0.0f, 1.0f, 0.0f);
    glTranslatef(5.0f, 1.0f, 0.0f);
    glScalef(0.3f, 1.0f, 0.3f);
    glColor3f(0.55f, 0.55f, 0.6f);
    Cube();
    glPopMatrix();
  }
  glPushMatrix();
  glTranslatef(0.0f, 1.0f, 0.0f);
  glColor3f(kroAppSyncValue(app, "colour.r"), kroAppSyncValue(app, "colour.g"),
            kroAppSyncValue(app, "colour.b"));
  Cube();
  glPopMatrix();
  glDisable(GL_LIGHTING);
  glDisable(GL_DEPTH_TEST);
}

int main(int argc, char **argv) {
  kroApp app = {};
  app.windowed = 1;
  app.fixed_shaders = 1; /* GL's own lighting: no shader to watch */
  app.sync_file = EXAMPLE_DATA_DIR "/timing.sync";
  app.music_file = TIMING_MUSIC;
  kroSetShaderFolder(KRO_SHADER_DIR);
  if (!kroAppStart(&app, "timing", WINDOW_WIDTH, WINDOW_HEIGHT, &argc, argv))
    return app.status;
  while (kroAppFrame(&app))
    Draw(&app);
  return kroAppEnd(&app);
}
