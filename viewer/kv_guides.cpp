/*
 * Guides drawn over the scene with fixed-function lines: a ground grid at
 * the scene's lowest point in file units, a small gizmo of the file's axes in
 * the view's lower-left corner, and every object's triangle edges.
 * Depends on: kv_camera.cpp (turns), GL.
 */
#include "kroview.h"

#include <math.h>

static const float KV_GRID_COLOUR[3] = {0.45f, 0.48f, 0.58f};
static const float KV_EDGE_COLOUR[3] = {0.05f, 0.05f, 0.07f};
static const float KV_AXIS_COLOURS[3][3] = {
    {1.0f, 0.25f, 0.2f}, {0.3f, 0.9f, 0.3f}, {0.3f, 0.5f, 1.0f}};
static const float KV_GRID_REACH = 2.0f; /* view units from the centre to the grid's edge */
static const int KV_GRID_CELLS = 10;     /* about this many cells across the scene's box */
static const int KV_GIZMO_PIXELS = 90;   /* side of the gizmo's square */

float kvGridSpacing(const kvScene *scene) {
  float across = 2.0f * scene->radius / (float)KV_GRID_CELLS; /* file units */
  float decade = powf(10.0f, floorf(log10f(across)));
  static const float steps[3] = {1.0f, 2.0f, 5.0f};
  for (int i = 0; i < 3; i++)
    if (steps[i] * decade >= across)
      return steps[i] * decade;
  return 10.0f * decade;
}

/* The presentation turn as a GL matrix (column order), so that un-turned view units can be
 * drawn with the turned scene. */
static void kvMultiplyTurn(void) {
  float turn[9];
  kvPresentationTurn(turn);
  const GLfloat m[16] = {turn[0], turn[3], turn[6], 0, turn[1], turn[4], turn[7], 0,
                         turn[2], turn[5], turn[8], 0, 0,       0,       0,       1};
  glMultMatrixf(m);
}

static void kvBeginLines(void) {
  glPushAttrib(GL_ENABLE_BIT | GL_CURRENT_BIT | GL_LINE_BIT | GL_POLYGON_BIT | GL_VIEWPORT_BIT |
               GL_DEPTH_BUFFER_BIT);
  glUseProgramObjectARB(0);
  glDisable(GL_LIGHTING);
  glDisable(GL_TEXTURE_2D);
  glDisable(GL_CULL_FACE);
}

/* Lines at whole multiples of the spacing on the two horizontal axes (the up-turned file's x and
 * z), in the plane of the scene's lowest point. */
void kvDrawGrid(const kvScene *scene) {
  float spacing = kvGridSpacing(scene), scale = 1.0f / scene->radius;
  float reach = KV_GRID_REACH * scene->radius; /* file units */
  kvBeginLines();
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  kvMultiplyTurn();
  glColor3fv(KV_GRID_COLOUR);
  glBegin(GL_LINES);
  for (int axis = 0; axis < 3; axis += 2) {
    int other = 2 - axis;
    float first = ceilf((scene->centre[axis] - reach) / spacing) * spacing;
    for (float at = first; at <= scene->centre[axis] + reach; at += spacing) {
      float p[2][3];
      for (int end = 0; end < 2; end++) {
        p[end][axis] = (at - scene->centre[axis]) * scale;
        p[end][1] = scene->floor;
        p[end][other] = end ? KV_GRID_REACH : -KV_GRID_REACH;
      }
      glVertex3fv(p[0]);
      glVertex3fv(p[1]);
    }
  }
  glEnd();
  glPopMatrix();
  glPopAttrib();
}

/* The file's x, y and z (red, green, blue) from the centre of a square in the lower-left
 * corner, turned as the camera turns the scene, over everything. */
void kvDrawAxes(const kvCamera *camera, int up) {
  float turn[9];
  kvUpTurn((kvUp)up, turn);
  kvBeginLines();
  glDisable(GL_DEPTH_TEST);
  glViewport(0, 0, KV_GIZMO_PIXELS, KV_GIZMO_PIXELS);
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  glOrtho(-1.2, 1.2, -1.2, 1.2, -10.0, 10.0);
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();
  glRotatef(camera->pitch, 1.0f, 0.0f, 0.0f);
  glRotatef(-camera->yaw, 0.0f, 1.0f, 0.0f);
  glLineWidth(3.0f);
  glBegin(GL_LINES);
  for (int k = 0; k < 3; k++) { /* column k of the turn: where the file's axis k goes */
    glColor3fv(KV_AXIS_COLOURS[k]);
    glVertex3f(0.0f, 0.0f, 0.0f);
    glVertex3f(turn[k], turn[3 + k], turn[6 + k]);
  }
  glEnd();
  glPopMatrix();
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
  glPopAttrib();
}

/* Depth-tested lines pulled slightly towards the eye, so that edges on the near faces show and
 * those behind stay hidden. */
void kvDrawEdges(const kvScene *scene) {
  kvBeginLines();
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LEQUAL);
  glEnable(GL_POLYGON_OFFSET_LINE);
  glPolygonOffset(-1.0f, -1.0f);
  glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
  glColor3fv(KV_EDGE_COLOUR);
  for (int i = 0; i < scene->object_count; i++)
    kvDrawTriangles(&scene->objects[i]);
  glPopAttrib();
}
