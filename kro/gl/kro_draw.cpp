/*
 * Immediate-mode drawing of triangle arrays: one glBegin(GL_TRIANGLES) per
 * call, attributes per vertex in the order colour, normal, vertex. Keeps no
 * state between calls but the lit drawing's material colour.
 * Depends on: GL, kro_shader.cpp (the lit drawing's programs), kro_material.cpp (map transform).
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
/* The lit drawing's set-up and triangles through `program`; texture coordinates (u, v at 0, 2
 * and 4 of each row) when `coords` is given. With `from_eye` the lights are placed in eye space
 * as they stand (the model-view matrix is not applied to them), light 0 at the eye itself: a
 * face turned to the viewer takes its light head-on whatever its shape, place or turn, and
 * light 1, at (15, 15, 0) beside the viewer, still shades the faces turned up and right. */
static void kroDrawLit(GLhandleARB program, kroObject normals, kroObject positions,
                       kroObject coords, uint32_t count, int from_eye) {
  static const GLfloat model_ambient[4] = {0.1f, 0.1f, 0.1f, 1.0f};
  static const GLfloat material_emission[4] = {0.0f, 0.0f, 0.0f, 1.0f};
  static const GLfloat light_ambient[4] = {1.0f, 1.0f, 1.0f, 0.0f};
  static const GLfloat light0_position[4] = {-1.5f, 0.0f, 0.0f, 1.0f};
  static const GLfloat at_eye[4] = {0.0f, 0.0f, 0.0f, 1.0f};
  static const GLfloat light1_position[4] = {15.0f, 15.0f, 0.0f, 1.0f};

  glUseProgramObjectARB(program);
  glLightModelfv(GL_LIGHT_MODEL_AMBIENT, model_ambient);
  glMaterialfv(GL_FRONT, GL_AMBIENT, kroLightMaterialColor);
  glMaterialfv(GL_FRONT, GL_EMISSION, material_emission);
  glMaterialf(GL_FRONT, GL_SHININESS, 128.0f);
  glLightf(GL_LIGHT0, GL_CONSTANT_ATTENUATION, 1.0f);
  glLightfv(GL_LIGHT0, GL_AMBIENT, light_ambient);
  glLightfv(GL_LIGHT1, GL_AMBIENT, light_ambient);
  GLint mode = GL_MODELVIEW;
  if (from_eye) {
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
  }
  glLightfv(GL_LIGHT0, GL_POSITION, from_eye ? at_eye : light0_position);
  glLightfv(GL_LIGHT1, GL_POSITION, light1_position);
  if (from_eye) {
    glPopMatrix();
    glMatrixMode((GLenum)mode);
  }
  if (coords) {
    glBegin(GL_TRIANGLES);
    for (uint32_t i = 0; i < count; i++)
      for (int k = 0; k < 3; k++) {
        glTexCoord2fv(&coords[i][2 * k]);
        glNormal3fv(&normals[i][3 * k]);
        glVertex3fv(&positions[i][3 * k]);
      }
    glEnd();
  } else
    kroDrawNormalsObject(normals, positions, count);
  glLightf(GL_LIGHT0, GL_CONSTANT_ATTENUATION, 0.0f);
  glLightf(GL_LIGHT1, GL_CONSTANT_ATTENUATION, 0.0f);
}

void kroDrawLightMaterialNormalsObject(const void *, const void *, const void *, kroObject normals,
                                       kroObject positions, uint32_t count) {
  kroDrawLit(KRO_SHADER[kroCurrentShader].program, normals, positions, nullptr, count, 0);
}

/* The material kroDrawMesh and kroDrawMeshUnlit use (null outside the materials) and the
 * diffuse texture they draw (0 without one or without texture coordinates). */
static const kroMaterial *kroMeshMaterial(const kroMesh *mesh, const kroMaterial *materials,
                                          int count, GLuint *texture) {
  int m = mesh->material_ref;
  const kroMaterial *material = materials && m >= 0 && m < count ? &materials[m] : nullptr;
  *texture = material && mesh->tc ? material->texture[KRO_MAP_DIFFUSE] : 0;
  return material;
}

/* Binds a diffuse texture on unit 0 with its map's transform as the texture matrix; returns the
 * active unit to give back to kroEndMeshTexture. */
static GLint kroBeginMeshTexture(const kroMaterial *material, GLuint texture) {
  GLint unit = GL_TEXTURE0;
  glGetIntegerv(GL_ACTIVE_TEXTURE, &unit);
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, texture);
  kroLoadMapTransform(&material->map[KRO_MAP_DIFFUSE]);
  return unit;
}

/* Unit 0 left with texture 0 and the identity texture matrix, `unit` active again. */
static void kroEndMeshTexture(GLint unit) {
  GLint mode = GL_MODELVIEW;
  glGetIntegerv(GL_MATRIX_MODE, &mode);
  glMatrixMode(GL_TEXTURE);
  glLoadIdentity();
  glMatrixMode((GLenum)mode);
  glBindTexture(GL_TEXTURE_2D, 0);
  glActiveTexture((GLenum)unit);
}

/* A reference outside the materials keeps the colour set. The lights stand with the viewer
 * (kroDrawLit's from_eye): a model fitted about the origin, as kroFitMeshes leaves it, has them
 * in its own middle otherwise, where a flat model gets only grazing light. The diffuse texture is
 * used only with texture coordinates, in white's place (as the picture replaces the colour in a
 * modelling tool): bound on unit 0 with the map's transform as its texture matrix, through
 * KRO_SHADER[2]; after, unit 0 has texture 0 and the identity, and the active unit is as it was. */
void kroDrawMesh(const kroMesh *mesh, const kroMaterial *materials, int count) {
  GLuint texture;
  const kroMaterial *material = kroMeshMaterial(mesh, materials, count, &texture);
  uint32_t rows = mesh->triangles > 0 ? (uint32_t)mesh->triangles : 0;
  if (texture)
    kroSetLightMaterialColor(1.0f, 1.0f, 1.0f);
  else if (material)
    kroSetLightMaterialColor(material->diffuse[0], material->diffuse[1], material->diffuse[2]);
  if (!texture) {
    kroDrawLit(KRO_SHADER[kroCurrentShader].program, mesh->nc, mesh->op, nullptr, rows, 1);
    return;
  }
  GLint unit = kroBeginMeshTexture(material, texture);
  kroDrawLit(KRO_SHADER[2].program, mesh->nc, mesh->op, mesh->tc, rows, 1);
  kroEndMeshTexture(unit);
}

/* No program and no lighting: each corner takes the colour (or white times the picture, which
 * GL_MODULATE gives) as it is, the flat look of a modelling tool's unlit, textured view. */
void kroDrawMeshUnlit(const kroMesh *mesh, const kroMaterial *materials, int count) {
  GLuint texture;
  const kroMaterial *material = kroMeshMaterial(mesh, materials, count, &texture);
  uint32_t rows = mesh->triangles > 0 ? (uint32_t)mesh->triangles : 0;
  glUseProgramObjectARB(0);
  glDisable(GL_LIGHTING);
  if (texture)
    glColor3f(1.0f, 1.0f, 1.0f);
  else if (material)
    glColor3fv(material->diffuse);
  GLint unit = texture ? kroBeginMeshTexture(material, texture) : GL_TEXTURE0;
  if (texture) {
    glEnable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  }
  glBegin(GL_TRIANGLES);
  for (uint32_t i = 0; i < rows; i++)
    for (int k = 0; k < 3; k++) {
      if (texture)
        glTexCoord2fv(&mesh->tc[i][2 * k]);
      glVertex3fv(&mesh->op[i][3 * k]);
    }
  glEnd();
  if (texture) {
    glDisable(GL_TEXTURE_2D);
    kroEndMeshTexture(unit);
  }
}
