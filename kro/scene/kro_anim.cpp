/*
 * Scene nodes in motion: animation keys sampled at any time, node poses composed into world
 * matrices, a camera's view and projection. Matrices are 4 x 4, column-major; the work is done
 * in doubles and handed back as floats.
 * Depends on: kro_error.cpp.
 */
#include "kro.h"
#include "kro_internal.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

namespace {

/* Above this cosine (keys less than 3.6 degrees apart) slerp's division by a small sine is
 * replaced by the normalized linear blend, which differs from it there by at most 1e-6 radians. */
const double KRO_SLERP_NEAR = 0.9995;

void kroNormalizeQuaternion(double *q) {
  double n = sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
  for (int k = 0; k < 4; k++)
    q[k] = n > 0 ? q[k] / n : k == 3;
}

/* Shorter-arc spherical interpolation of unit quaternions a and b at s in 0..1. */
void kroSlerp(const float *a, const float *b, double s, double *out) {
  double dot = 0, sign = 1;
  for (int k = 0; k < 4; k++)
    dot += (double)a[k] * b[k];
  if (dot < 0)
    dot = -dot, sign = -1;
  double wa = 1 - s, wb = s;
  if (dot < KRO_SLERP_NEAR) {
    double angle = acos(dot), sine = sin(angle);
    wa = sin((1 - s) * angle) / sine;
    wb = sin(s * angle) / sine;
  }
  for (int k = 0; k < 4; k++)
    out[k] = wa * a[k] + sign * wb * b[k];
  kroNormalizeQuaternion(out);
}

/* The last key at or before t (0 when t is before every key). */
int kroKeyBefore(const float *times, int keys, double t) {
  int low = 0, high = keys - 1;
  while (low < high) {
    int mid = (low + high + 1) / 2;
    if (times[mid] <= t)
      low = mid;
    else
      high = mid - 1;
  }
  return low;
}

void kroMatrixToFloats(const double *m, float *out) {
  for (int i = 0; i < 16; i++)
    out[i] = (float)m[i];
}

void kroMultiplyMatrices(const double *a, const double *b, double *out) {
  double r[16];
  for (int c = 0; c < 4; c++)
    for (int row = 0; row < 4; row++) {
      double sum = 0;
      for (int k = 0; k < 4; k++)
        sum += a[k * 4 + row] * b[c * 4 + k];
      r[c * 4 + row] = sum;
    }
  memcpy(out, r, sizeof r);
}

void kroIdentity(float *m) {
  for (int i = 0; i < 16; i++)
    m[i] = i % 5 == 0;
}

/* Checks the indices a call was given (node: when `with_node`); fails (message, hook) when out
 * of range. */
int kroCheckSceneIndices(const kroScene *scene, int animation, int with_node, int node,
                         const char *function) {
  if (animation < -1 || animation >= scene->animation_count) {
    kroFail("Error in %s(..): animation %d of %d\n", function, animation, scene->animation_count);
    return 0;
  }
  if (with_node && (node < 0 || node >= scene->node_count)) {
    kroFail("Error in %s(..): node %d of %d\n", function, node, scene->node_count);
    return 0;
  }
  return 1;
}

float *kroPosePart(kroNodePose *pose, int path) {
  return path == KRO_PATH_TRANSLATION ? pose->translation
         : path == KRO_PATH_ROTATION  ? pose->rotation
                                      : pose->scale;
}

/* Node `node`'s local matrix at t: its sampled pose when the animation moves it, else its rest
 * matrix. */
void kroNodeLocal(const kroScene *scene, int animation, int node, double t, double *out) {
  const kroSceneNode *n = &scene->nodes[node];
  float m[16];
  if (animation < 0 || !n->animated) {
    memcpy(m, n->local, sizeof m);
  } else {
    kroNodePose pose = n->pose;
    const kroAnimation *a = &scene->animations[animation];
    for (int c = 0; c < a->channel_count; c++) {
      const kroAnimationChannel *channel = &a->channels[c];
      if (channel->node == node)
        kroSampleKeys(&a->samplers[channel->sampler], t, kroPosePart(&pose, channel->path));
    }
    kroPoseMatrix(&pose, m);
  }
  for (int i = 0; i < 16; i++)
    out[i] = m[i];
}

} // namespace

void kroSampleKeys(const kroAnimationSampler *sampler, double t, float *value) {
  int width = sampler->width, keys = sampler->keys;
  int cubic = sampler->interpolation == KRO_INTERPOLATE_CUBIC;
  /* A key's value: the middle of its three floats groups for CUBIC. */
  int stride = cubic ? 3 * width : width, middle = cubic ? width : 0;
  const float *times = sampler->times, *v = sampler->values;
  if (keys <= 0) {
    memset(value, 0, (size_t)width * sizeof *value);
    return;
  }
  int k = kroKeyBefore(times, keys, t);
  if (t <= times[0] || k == keys - 1 || sampler->interpolation == KRO_INTERPOLATE_STEP) {
    memcpy(value, v + (size_t)k * stride + middle, (size_t)width * sizeof *value);
    return;
  }
  double span = (double)times[k + 1] - times[k], s = (t - times[k]) / span;
  const float *a = v + (size_t)k * stride + middle, *b = v + (size_t)(k + 1) * stride + middle;
  double out[4];
  if (!cubic && width == 4) {
    kroSlerp(a, b, s, out);
  } else {
    double s2 = s * s, s3 = s2 * s;
    double ha = 2 * s3 - 3 * s2 + 1, hb = -2 * s3 + 3 * s2;
    double ta = cubic ? (s3 - 2 * s2 + s) * span : 0, tb = cubic ? (s3 - s2) * span : 0;
    if (!cubic)
      ha = 1 - s, hb = s;
    const float *out_tangent = a + width, *in_tangent = b - width;
    for (int i = 0; i < width; i++)
      out[i] = ha * a[i] + hb * b[i] + (cubic ? ta * out_tangent[i] + tb * in_tangent[i] : 0);
    if (width == 4)
      kroNormalizeQuaternion(out);
  }
  for (int i = 0; i < width; i++)
    value[i] = (float)out[i];
}

int kroSampleAnimation(const kroScene *scene, int animation, double t, kroNodePose *poses) {
  for (int i = 0; i < scene->node_count; i++)
    poses[i] = scene->nodes[i].pose;
  if (!kroCheckSceneIndices(scene, animation, 0, 0, "kroSampleAnimation") || animation < 0)
    return 0;
  const kroAnimation *a = &scene->animations[animation];
  for (int c = 0; c < a->channel_count; c++) {
    const kroAnimationChannel *channel = &a->channels[c];
    kroSampleKeys(&a->samplers[channel->sampler], t,
                  kroPosePart(&poses[channel->node], channel->path));
  }
  return a->channel_count;
}

void kroPoseMatrix(const kroNodePose *pose, float *matrix) {
  double q[4] = {pose->rotation[0], pose->rotation[1], pose->rotation[2], pose->rotation[3]};
  kroNormalizeQuaternion(q);
  double x = q[0], y = q[1], z = q[2], w = q[3];
  const double r[9] = {1 - 2 * (y * y + z * z), 2 * (x * y + z * w),     2 * (x * z - y * w),
                       2 * (x * y - z * w),     1 - 2 * (x * x + z * z), 2 * (y * z + x * w),
                       2 * (x * z + y * w),     2 * (y * z - x * w),     1 - 2 * (x * x + y * y)};
  kroIdentity(matrix);
  for (int c = 0; c < 3; c++) {
    for (int row = 0; row < 3; row++)
      matrix[c * 4 + row] = (float)(r[c * 3 + row] * pose->scale[c]);
    matrix[12 + c] = pose->translation[c];
  }
}

int kroSceneNodeMatrix(const kroScene *scene, int animation, int node, double t, float *matrix) {
  kroIdentity(matrix);
  if (!kroCheckSceneIndices(scene, animation, 1, node, "kroSceneNodeMatrix"))
    return 0;
  /* Up from the node to its root; a table whose parents loop (not one a reader made) stops
   * after every node has been passed once. */
  double world[16], local[16];
  kroNodeLocal(scene, animation, node, t, world);
  int steps = 0;
  for (int at = scene->nodes[node].parent;
       at >= 0 && at < scene->node_count && steps < scene->node_count;
       at = scene->nodes[at].parent, steps++) {
    kroNodeLocal(scene, animation, at, t, local);
    kroMultiplyMatrices(local, world, world);
  }
  kroMatrixToFloats(world, matrix);
  return 1;
}

int kroSceneViewMatrix(const kroScene *scene, int animation, int node, double t, float *matrix) {
  float w[16];
  if (!kroSceneNodeMatrix(scene, animation, node, t, w))
    return 0;
  /* The inverse of an affine matrix: the 3 x 3 part's inverse (its cofactors over the
   * determinant), and the translation turned back through it. */
  double c[9] = {
      (double)w[5] * w[10] - (double)w[6] * w[9], (double)w[2] * w[9] - (double)w[1] * w[10],
      (double)w[1] * w[6] - (double)w[2] * w[5],  (double)w[6] * w[8] - (double)w[4] * w[10],
      (double)w[0] * w[10] - (double)w[2] * w[8], (double)w[2] * w[4] - (double)w[0] * w[6],
      (double)w[4] * w[9] - (double)w[5] * w[8],  (double)w[1] * w[8] - (double)w[0] * w[9],
      (double)w[0] * w[5] - (double)w[1] * w[4]};
  double det = w[0] * c[0] + w[4] * c[1] + w[8] * c[2];
  if (!isfinite(det) || fabs(det) < 1e-30) {
    kroFail("Error in kroSceneViewMatrix(..): node %d's world matrix cannot be inverted\n", node);
    return 0;
  }
  double inverse[16] = {0};
  for (int col = 0; col < 3; col++)
    for (int row = 0; row < 3; row++)
      inverse[col * 4 + row] = c[col * 3 + row] / det;
  for (int row = 0; row < 3; row++)
    inverse[12 + row] =
        -(inverse[row] * w[12] + inverse[4 + row] * w[13] + inverse[8 + row] * w[14]);
  inverse[15] = 1;
  kroMatrixToFloats(inverse, matrix);
  return 1;
}

void kroCameraProjection(const kroSceneCamera *camera, float aspect, float *matrix) {
  double n = camera->znear, f = camera->zfar;
  memset(matrix, 0, 16 * sizeof *matrix);
  if (camera->orthographic) {
    matrix[0] = (float)(1.0 / camera->xmag);
    matrix[5] = (float)(1.0 / camera->ymag);
    matrix[10] = (float)(2 / (n - f));
    matrix[14] = (float)((f + n) / (n - f));
    matrix[15] = 1;
    return;
  }
  double a = camera->aspect > 0 ? camera->aspect : aspect, focal = 1 / tan(camera->yfov / 2);
  matrix[0] = (float)(focal / a);
  matrix[5] = (float)focal;
  matrix[10] = f > 0 ? (float)((f + n) / (n - f)) : -1;
  matrix[11] = -1;
  matrix[14] = f > 0 ? (float)(2 * f * n / (n - f)) : (float)(-2 * n);
}

void kroFreeSceneNodes(kroScene *scene) {
  for (int i = 0; i < scene->animation_count; i++) {
    kroAnimation *a = &scene->animations[i];
    for (int k = 0; k < a->sampler_count; k++) {
      free(a->samplers[k].times);
      free(a->samplers[k].values);
    }
    free(a->samplers);
    free(a->channels);
  }
  free(scene->animations);
  free(scene->nodes);
  free(scene->cameras);
  free(scene->lights);
  scene->animations = nullptr, scene->animation_count = 0;
  scene->nodes = nullptr, scene->node_count = 0;
  scene->cameras = nullptr, scene->camera_count = 0;
  scene->lights = nullptr, scene->light_count = 0;
}
