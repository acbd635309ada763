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

const float KV_DEFAULT_YAW = 25.0f, KV_DEFAULT_PITCH = 20.0f; /* degrees */
const float KV_NEAR = 0.02f, KV_FAR = 200.0f;                 /* view units */

static const float KV_TURN_YAW = 45.0f, KV_TURN_PITCH = 30.0f; /* presentation turn, degrees */
static const float KV_MAX_PITCH = 89.0f;                       /* degrees */
static const float KV_MIN_ZOOM = 0.05f, KV_MAX_ZOOM = 50.0f;
static const float KV_DEGREE = 0.017453292519943295f; /* radians */

static const float KV_X_AXIS[3] = {1.0f, 0.0f, 0.0f};
static const float KV_Y_AXIS[3] = {0.0f, 1.0f, 0.0f};

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

void kvResetCamera(kvCamera *camera, int width, int height) {
  camera->yaw = KV_DEFAULT_YAW;
  camera->pitch = KV_DEFAULT_PITCH;
  camera->zoom = 1.0f;
  camera->width = width > 0 ? width : 1;
  camera->height = height > 0 ? height : 1;
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
float kvCameraDistance(const kvCamera *camera) {
  float vertical = (float)KV_FIELD_DEGREES * KV_DEGREE;
  float horizontal = atanf(tanf(vertical) * kvAspect(camera));
  float half = fminf(vertical, horizontal);
  return 1.05f / sinf(half) * camera->zoom;
}

void kvApplyCamera(const kvCamera *camera) {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
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

void kvCameraRay(const kvCamera *camera, int x, int y, float *origin, float *direction) {
  float tangent = tanf((float)KV_FIELD_DEGREES * KV_DEGREE);
  float ndc_x = 2.0f * ((float)x + 0.5f) / (float)camera->width - 1.0f;
  float ndc_y = 1.0f - 2.0f * ((float)y + 0.5f) / (float)camera->height;
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
