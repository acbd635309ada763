/*
 * Immediate-mode drawing of triangle arrays: one glBegin(GL_TRIANGLES) per
 * call, attributes per vertex in the order colour, normal, vertex. Keeps no
 * state between calls but the lit drawing's material colour.
 * Depends on: GL, kro_shader.cpp (the lit drawing's program).
 */
#include "kro.h"

void kroDrawObject(kroObject positions, uint32_t count) {
  glBegin(GL_TRIANGLES);
  for (uint32_t i = 0; i < count; i++)
    for (int k = 0; k < 9; k += 3)
      glVertex3fv(&positions[i][k]);
  glEnd();
}

void kroDrawColorObject(const float *color, kroObject positions, uint32_t count) {
  glBegin(GL_TRIANGLES);
  glColor3fv(color);
  for (uint32_t i = 0; i < count; i++)
    for (int k = 0; k < 9; k += 3)
      glVertex3fv(&positions[i][k]);
  glEnd();
}

void kroDrawNormalObject(const float *normal, kroObject positions, uint32_t count) {
  glBegin(GL_TRIANGLES);
  glNormal3fv(normal);
  for (uint32_t i = 0; i < count; i++)
    for (int k = 0; k < 9; k += 3)
      glVertex3fv(&positions[i][k]);
  glEnd();
}

void kroDrawColorNormalObject(const float *color, const float *normal, kroObject positions,
                              uint32_t count) {
  glBegin(GL_TRIANGLES);
  glColor3fv(color);
  glNormal3fv(normal);
  for (uint32_t i = 0; i < count; i++)
    for (int k = 0; k < 9; k += 3)
      glVertex3fv(&positions[i][k]);
  glEnd();
}

void kroDrawColorsObject(kroObject colors, kroObject positions, uint32_t count) {
  glBegin(GL_TRIANGLES);
  for (uint32_t i = 0; i < count; i++)
    for (int k = 0; k < 9; k += 3) {
      glColor3fv(&colors[i][k]);
      glVertex3fv(&positions[i][k]);
    }
  glEnd();
}

void kroDrawNormalsObject(kroObject normals, kroObject positions, uint32_t count) {
  glBegin(GL_TRIANGLES);
  for (uint32_t i = 0; i < count; i++)
    for (int k = 0; k < 9; k += 3) {
      glNormal3fv(&normals[i][k]);
      glVertex3fv(&positions[i][k]);
    }
  glEnd();
}

void kroDrawColorsNormalsObject(kroObject colors, kroObject normals, kroObject positions,
                                uint32_t count) {
  glBegin(GL_TRIANGLES);
  for (uint32_t i = 0; i < count; i++)
    for (int k = 0; k < 9; k += 3) {
      glColor3fv(&colors[i][k]);
      glNormal3fv(&normals[i][k]);
      glVertex3fv(&positions[i][k]);
    }
  glEnd();
}

/* The front ambient colour of the lit drawing, RGBA; only set through kroSetLightMaterialColor. */
static GLfloat kroLightMaterialColor[4] = {0.0f, 1.0f, 0.0f, 1.0f};

void kroSetLightMaterialColor(float red, float green, float blue) {
  kroLightMaterialColor[0] = red;
  kroLightMaterialColor[1] = green;
  kroLightMaterialColor[2] = blue;
}

/* The lighting is fixed but for the material colour; the three leading
 * arguments are not read. Light positions are taken in the eye space of the
 * current model-view matrix. */
void kroDrawLightMaterialNormalsObject(const void *, const void *, const void *, kroObject normals,
                                       kroObject positions, uint32_t count) {
  static const GLfloat model_ambient[4] = {0.1f, 0.1f, 0.1f, 1.0f};
  static const GLfloat material_emission[4] = {0.0f, 0.0f, 0.0f, 1.0f};
  static const GLfloat light_ambient[4] = {1.0f, 1.0f, 1.0f, 0.0f};
  static const GLfloat light0_position[4] = {-1.5f, 0.0f, 0.0f, 1.0f};
  static const GLfloat light1_position[4] = {15.0f, 15.0f, 0.0f, 1.0f};

  glUseProgramObjectARB(KRO_SHADER[kroCurrentShader].program);
  glLightModelfv(GL_LIGHT_MODEL_AMBIENT, model_ambient);
  glMaterialfv(GL_FRONT, GL_AMBIENT, kroLightMaterialColor);
  glMaterialfv(GL_FRONT, GL_EMISSION, material_emission);
  glMaterialf(GL_FRONT, GL_SHININESS, 128.0f);
  glLightf(GL_LIGHT0, GL_CONSTANT_ATTENUATION, 1.0f);
  glLightfv(GL_LIGHT0, GL_AMBIENT, light_ambient);
  glLightfv(GL_LIGHT0, GL_POSITION, light0_position);
  glLightfv(GL_LIGHT1, GL_AMBIENT, light_ambient);
  glLightfv(GL_LIGHT1, GL_POSITION, light1_position);
  kroDrawNormalsObject(normals, positions, count);
  glLightf(GL_LIGHT0, GL_CONSTANT_ATTENUATION, 0.0f);
  glLightf(GL_LIGHT1, GL_CONSTANT_ATTENUATION, 0.0f);
}
