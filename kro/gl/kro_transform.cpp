/*
 * In-place scale and translate of position arrays (9-float rows), the 3x3
 * matrix product, rotation matrices from a unit axis, and the perspective
 * camera on top of glFrustum. Depends on: GL (perspective only).
 */
#include "kro.h"

#include <math.h>

void kroScale1Object(kroObject object, uint32_t count, float f) {
  for (uint32_t i = 0; i < count; i++)
    for (int k = 0; k < 9; k++)
      object[i][k] *= f;
}

void kroScaleObject(kroObject object, uint32_t count, float sx, float sy, float sz) {
  for (uint32_t i = 0; i < count; i++) {
    float *row = object[i];
    for (int k = 0; k < 9; k += 3) {
      row[k] *= sx;
      row[k + 1] *= sy;
      row[k + 2] *= sz;
    }
  }
}

void kroScalevObject(kroObject object, uint32_t count, const float *s) {
  kroScaleObject(object, count, s[0], s[1], s[2]);
}

void kroTranslateObject(kroObject object, uint32_t count, float dx, float dy, float dz) {
  for (uint32_t i = 0; i < count; i++) {
    float *row = object[i];
    for (int k = 0; k < 9; k += 3) {
      row[k] += dx;
      row[k + 1] += dy;
      row[k + 2] += dz;
    }
  }
}

void kroTranslatevObject(kroObject object, uint32_t count, const float *d) {
  kroTranslateObject(object, count, d[0], d[1], d[2]);
}

void kroApply3x3MatrixToVector(const float *m, float *v) {
  /* All three results are formed before any is stored: v may alias a row of m. */
  float x = m[0] * v[0] + m[1] * v[1] + m[2] * v[2];
  float y = m[3] * v[0] + m[4] * v[1] + m[5] * v[2];
  float z = m[6] * v[0] + m[7] * v[1] + m[8] * v[2];
  v[0] = x;
  v[1] = y;
  v[2] = z;
}

void kroCreateRotationMatrixFromNormalizedAxis(float *m, const float *axis, float angle) {
  /* The quaternion's parts are formed in double and rounded once each. */
  double half = angle / 2.0;
  double s = sin(half);
  float qx = (float)(s * axis[0]), qy = (float)(s * axis[1]), qz = (float)(s * axis[2]);
  float qs = (float)cos(half);
  float qxx = (qx + qx) * qx, qyy = (qy + qy) * qy, qzz = (qz + qz) * qz;
  float qxy = (qx + qx) * qy, qxz = (qx + qx) * qz, qyz = (qy + qy) * qz;
  float qsx = (qs + qs) * qx, qsy = (qs + qs) * qy, qsz = (qs + qs) * qz;
  m[0] = 1 - qyy - qzz;
  m[1] = qxy - qsz;
  m[2] = qxz + qsy;
  m[3] = qxy + qsz;
  m[4] = 1 - qxx - qzz;
  m[5] = qyz - qsx;
  m[6] = qxz - qsy;
  m[7] = qyz + qsx;
  m[8] = 1 - qxx - qyy;
}

void kroPerspectiveOGL(float angle, float aspect, float near_distance, float far_distance) {
  const float degrees_to_radians = 0.017453292f;
  float y = (float)(tan((double)(angle * degrees_to_radians)) * near_distance);
  float x = y * aspect;
  glFrustum(-x, x, -y, y, near_distance, far_distance);
}

/* The box is framed, not its sphere: with tangents tx, ty of the half fields and half sizes
 * hx, hy, hz, its front face (nearer by hz) fills the binding side exactly at the distance
 * hz + max(hx / tx, hy / ty). Depth spans the bounding sphere (distance -/+ radius), so the
 * model may be turned about its centre without being cut by the near or far plane; where the
 * eye stands inside the sphere, the near plane stays an eighth of the way to the front face.
 * A box without width and height (a point, a line along the view) gets the sphere's fit,
 * radius 1 for a point. */
void kroFrameBounds(const kroBounds *bounds, float angle, float aspect) {
  const double degrees_to_radians = 0.017453292519943295;
  double ty = tan((double)angle * degrees_to_radians), tx = ty * (double)aspect;
  double hx = 0.5 * ((double)bounds->high[0] - bounds->low[0]);
  double hy = 0.5 * ((double)bounds->high[1] - bounds->low[1]);
  double hz = 0.5 * ((double)bounds->high[2] - bounds->low[2]);
  double radius = bounds->radius > 0 ? (double)bounds->radius : 1.0;
  double distance, near_distance;
  if (hx > 0 || hy > 0) {
    distance = hz + (hx / tx > hy / ty ? hx / tx : hy / ty);
    near_distance = distance - radius;
    if (near_distance < 0.125 * (distance - hz))
      near_distance = 0.125 * (distance - hz);
  } else {
    double narrower = tx < ty ? tx : ty;
    distance = radius * sqrt(1.0 + narrower * narrower) / narrower; /* radius / sin(half field) */
    near_distance = distance - radius;
  }
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  kroPerspectiveOGL(angle, aspect, (float)near_distance, (float)(distance + radius));
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glTranslatef(0, 0, -(float)distance);
  glTranslatef(-bounds->centre[0], -bounds->centre[1], -bounds->centre[2]);
}
