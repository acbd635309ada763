/*
 * The viewer's camera: an orbit about the view-unit scene (yaw, pitch, zoom),
 * its GL matrices, eye rays for picking, and the fixed presentation turn.
 *
 * The engine's lit drawing places its two lights in the coordinates of the
 * objects it draws (at -1.5, 0, 0 and 15, 15, 0), so they turn with the
 * model. The scene is turned once when loaded so that the file's front (+z)
 * faces the far light, and the camera turns it back: at yaw 0 and pitch 0 the
 * file's +z points at the eye and its +y up the screen.
 * Depends on: kro (transforms, perspective), GL.
 */
#include "kroview.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

const float KV_DEFAULT_YAW = 25.0f, KV_DEFAULT_PITCH = 20.0f; /* degrees */
const float KV_NEAR = 0.02f, KV_FAR = 200.0f;                 /* view units */
const float KV_FILL = 0.78f;

static const float KV_TURN_YAW = 45.0f, KV_TURN_PITCH = 30.0f; /* presentation turn, degrees */
static const float KV_MAX_PITCH = 89.0f;                       /* degrees */
static const float KV_MIN_ZOOM = 0.05f, KV_MAX_ZOOM = 50.0f;
static const float KV_DEGREE = 0.017453292519943295f; /* radians */

static const float KV_X_AXIS[3] = {1.0f, 0.0f, 0.0f};
static const float KV_Y_AXIS[3] = {0.0f, 1.0f, 0.0f};
static const float KV_Z_AXIS[3] = {0.0f, 0.0f, 1.0f};
static const int KV_FIT_STEPS = 24; /* halvings of the fit's interval */

/* ---- which way is up ---------------------------------------------------- */

static const char *const KV_UP_NAMES[] = {"+x", "-x", "+y", "-y", "+z", "-z"};

int kvParseUp(const char *text, kvUp *up) {
  char name[3] = {'+', 0, 0};
  if (text[0] == '+' || text[0] == '-') {
    name[0] = text[0];
    text++;
  }
  if (!text[0] || text[1])
    return 0;
  name[1] = (char)(text[0] | 0x20);
  for (int i = 0; i < 6; i++)
    if (!strcmp(name, KV_UP_NAMES[i])) {
      *up = (kvUp)i;
      return 1;
    }
  return 0;
}

kvUp kvFormatUp(const char *path) {
  int format = kroSceneFormatOf(path);
  return format == KRO_SCENE_OBJ || format == KRO_SCENE_GLTF ? KV_UP_PLUS_Y : KV_UP_PLUS_Z;
}

const char *kvUpName(kvUp up) {
  return up >= KV_UP_PLUS_X && up <= KV_UP_MINUS_Z ? KV_UP_NAMES[up] : "?";
}

/* c = a x b, 3 x 3 row order; c must not alias a or b */
static void kvMultiply3x3(const float *a, const float *b, float *c) {
  for (int r = 0; r < 3; r++)
    for (int col = 0; col < 3; col++)
      c[3 * r + col] = a[3 * r] * b[col] + a[3 * r + 1] * b[3 + col] + a[3 * r + 2] * b[6 + col];
}

static void kvRotation(float *matrix, const float *axis, float degrees) {
  kroCreateRotationMatrixFromNormalizedAxis(matrix, axis, degrees * KV_DEGREE);
}

void kvPresentationTurn(float *matrix) {
  float yaw[9], pitch[9];
  kvRotation(yaw, KV_Y_AXIS, KV_TURN_YAW);
  kvRotation(pitch, KV_X_AXIS, -KV_TURN_PITCH);
  kvMultiply3x3(yaw, pitch, matrix);
}

/* Quarter turns about x for the y and z axes (so that a file's front stays in front), about z
 * for the x axes. */
void kvUpTurn(kvUp up, float *matrix) {
  static const float quarter_turns[6] = {1.0f, -1.0f, 0.0f, 2.0f, -1.0f, 1.0f};
  const float *axis = up == KV_UP_PLUS_X || up == KV_UP_MINUS_X ? KV_Z_AXIS : KV_X_AXIS;
  kvRotation(matrix, axis, 90.0f * quarter_turns[up]);
  for (int k = 0; k < 9; k++) /* exact quarter turns */
    matrix[k] = rintf(matrix[k]);
}

void kvResetCamera(kvCamera *camera, int width, int height) {
  camera->yaw = KV_DEFAULT_YAW;
  camera->pitch = KV_DEFAULT_PITCH;
  camera->zoom = 1.0f;
  camera->width = width > 0 ? width : 1;
  camera->height = height > 0 ? height : 1;
  camera->fit = camera->shift[0] = camera->shift[1] = 0.0f;
}

void kvClampCamera(kvCamera *camera) {
  camera->pitch = fminf(fmaxf(camera->pitch, -KV_MAX_PITCH), KV_MAX_PITCH);
  camera->zoom = fminf(fmaxf(camera->zoom, KV_MIN_ZOOM), KV_MAX_ZOOM);
  camera->yaw = fmodf(camera->yaw, 360.0f);
}

static float kvAspect(const kvCamera *camera) {
  return (float)camera->width / (float)camera->height;
}

/* The unit sphere fits the narrower of the two half-angles of the view. */
static float kvSphereFit(const kvCamera *camera) {
  float vertical = (float)KV_FIELD_DEGREES * KV_DEGREE;
  float horizontal = atanf(tanf(vertical) * kvAspect(camera));
  float half = fminf(vertical, horizontal);
  return 1.05f / sinf(half);
}

float kvCameraDistance(const kvCamera *camera) {
  return (camera->fit > 0.0f ? camera->fit : kvSphereFit(camera)) * camera->zoom;
}

void kvApplyCamera(const kvCamera *camera) {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glTranslatef(-camera->shift[0], -camera->shift[1], 0.0f);
  kroPerspectiveOGL((float)KV_FIELD_DEGREES, kvAspect(camera), KV_NEAR, KV_FAR);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glTranslatef(0.0f, 0.0f, -kvCameraDistance(camera));
  glRotatef(camera->pitch, 1.0f, 0.0f, 0.0f);
  glRotatef(-camera->yaw, 0.0f, 1.0f, 0.0f);
  /* the presentation turn undone */
  glRotatef(KV_TURN_PITCH, 1.0f, 0.0f, 0.0f);
  glRotatef(-KV_TURN_YAW, 0.0f, 1.0f, 0.0f);
}

/* Eye space to view units: the model-view's rotations, inverted. */
static void kvEyeToView(const kvCamera *camera, float *matrix) {
  float turn[9], yaw[9], pitch[9], orbit[9];
  kvPresentationTurn(turn);
  kvRotation(yaw, KV_Y_AXIS, camera->yaw);
  kvRotation(pitch, KV_X_AXIS, -camera->pitch);
  kvMultiply3x3(yaw, pitch, orbit);
  kvMultiply3x3(turn, orbit, matrix);
}

/* The part of the binding side that eye-space points (rows of 3, relative to the origin, the eye
 * on +z) span when the eye stands `distance` from the origin; `centre` (may be null) gets the
 * middle of the span on each axis, -1..1 across the view. */
static float kvSpan(const float *eye, long count, float distance, float tan_x, float tan_y,
                    float *centre) {
  float low[2] = {INFINITY, INFINITY}, high[2] = {-INFINITY, -INFINITY};
  for (long i = 0; i < count; i++) {
    const float *p = &eye[3 * i];
    float depth = distance - p[2];
    float x = p[0] / (depth * tan_x), y = p[1] / (depth * tan_y);
    low[0] = fminf(low[0], x), high[0] = fmaxf(high[0], x);
    low[1] = fminf(low[1], y), high[1] = fmaxf(high[1], y);
  }
  if (centre) {
    centre[0] = 0.5f * (low[0] + high[0]);
    centre[1] = 0.5f * (low[1] + high[1]);
  }
  return 0.5f * fmaxf(high[0] - low[0], high[1] - low[1]);
}

/* Every vertex in eye space at the camera's angles (heap, rows of 3); 0 vertices for none. */
static float *kvEyePoints(const kvCamera *camera, const kvScene *scene, long *count, float *front) {
  *count = 0;
  for (int i = 0; i < scene->object_count; i++)
    *count += 3L * scene->objects[i].triangles;
  float *eye = *count ? (float *)malloc((size_t)*count * 3 * sizeof(float)) : nullptr;
  if (!eye)
    return nullptr;
  float to_view[9], to_eye[9];
  kvEyeToView(camera, to_view);
  for (int r = 0; r < 3; r++)
    for (int c = 0; c < 3; c++)
      to_eye[3 * r + c] = to_view[3 * c + r];
  long n = 0;
  *front = -INFINITY;
  for (int i = 0; i < scene->object_count; i++)
    for (int t = 0; t < scene->objects[i].triangles; t++)
      for (int v = 0; v < 9; v += 3) {
        float *p = &eye[3 * n];
        memcpy(p, &scene->objects[i].op[t][v], 3 * sizeof(float));
        kroApply3x3MatrixToVector(to_eye, p);
        if (!isfinite(p[0]) || !isfinite(p[1]) || !isfinite(p[2]))
          continue;
        *front = fmaxf(*front, p[2]);
        n++;
      }
  *count = n;
  return eye;
}

/* The span falls as the eye moves away: halve the interval between a distance just in front of
 * the nearest vertex and one where the span is below KV_FILL. */
void kvFrameCamera(kvCamera *camera, const kvScene *scene) {
  long count;
  float front;
  camera->fit = camera->shift[0] = camera->shift[1] = 0.0f;
  float *eye = kvEyePoints(camera, scene, &count, &front);
  if (!eye || count == 0) {
    free(eye);
    return;
  }
  float tan_y = tanf((float)KV_FIELD_DEGREES * KV_DEGREE), tan_x = tan_y * kvAspect(camera);
  float near = front + KV_NEAR, far = near + kvSphereFit(camera);
  while (kvSpan(eye, count, far, tan_x, tan_y, nullptr) > KV_FILL && far < KV_FAR)
    far *= 2.0f;
  for (int step = 0; step < KV_FIT_STEPS; step++) {
    float middle = 0.5f * (near + far);
    if (kvSpan(eye, count, middle, tan_x, tan_y, nullptr) > KV_FILL)
      near = middle;
    else
      far = middle;
  }
  camera->fit = far;
  kvSpan(eye, count, far, tan_x, tan_y, camera->shift);
  free(eye);
}

int kvEyeAbove(const kvCamera *camera, float y) {
  return kvCameraDistance(camera) * sinf(camera->pitch * KV_DEGREE) > y;
}

void kvCameraRay(const kvCamera *camera, int x, int y, float *origin, float *direction) {
  float tangent = tanf((float)KV_FIELD_DEGREES * KV_DEGREE);
  float ndc_x = 2.0f * ((float)x + 0.5f) / (float)camera->width - 1.0f + camera->shift[0];
  float ndc_y = 1.0f - 2.0f * ((float)y + 0.5f) / (float)camera->height + camera->shift[1];
  float to_view[9];
  kvEyeToView(camera, to_view);
  origin[0] = 0.0f;
  origin[1] = 0.0f;
  origin[2] = kvCameraDistance(camera);
  direction[0] = ndc_x * tangent * kvAspect(camera);
  direction[1] = ndc_y * tangent;
  direction[2] = -1.0f;
  kroApply3x3MatrixToVector(to_view, origin);
  kroApply3x3MatrixToVector(to_view, direction);
}
