/*
 * Immediate-mode drawing of triangle arrays: one glBegin(GL_TRIANGLES) per
 * call, attributes per vertex in the order colour, normal, vertex; indexed
 * meshes as client arrays in one glDrawElements. Keeps no
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
static void kroBeginLit(GLhandleARB program, int from_eye) {
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
}

static void kroEndLit(void) {
  glLightf(GL_LIGHT0, GL_CONSTANT_ATTENUATION, 0.0f);
  glLightf(GL_LIGHT1, GL_CONSTANT_ATTENUATION, 0.0f);
}

static void kroDrawLit(GLhandleARB program, kroObject normals, kroObject positions,
                       kroObject coords, uint32_t count, int from_eye) {
  kroBeginLit(program, from_eye);
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
  kroEndLit();
}

/* An indexed mesh's triangles, with its normals and texture coordinates where asked. The
 * desktop's GL takes the vertices as client arrays in one call (no buffer bound meanwhile; the
 * bindings, the client texture unit and the arrays' state are given back); the web layer draws
 * them in immediate mode. */
static void kroDrawIndexed(const kroMesh *mesh, int normals, int coords) {
  const float *vertex = mesh->vertex;
  GLsizei corners = mesh->triangles > 0 ? 3 * mesh->triangles : 0;
#ifdef __EMSCRIPTEN__
  glBegin(GL_TRIANGLES);
  for (GLsizei c = 0; c < corners; c++) {
    const float *v = vertex + (size_t)KRO_VERTEX_FLOATS * mesh->index[c];
    if (coords)
      glTexCoord2fv(v + 6);
    if (normals)
      glNormal3fv(v + 3);
    glVertex3fv(v);
  }
  glEnd();
#else
  const GLsizei stride = KRO_VERTEX_FLOATS * sizeof(float);
  GLint array_buffer = 0, element_buffer = 0;
  glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &array_buffer);
  glGetIntegerv(GL_ELEMENT_ARRAY_BUFFER_BINDING, &element_buffer);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
  glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
  glEnableClientState(GL_VERTEX_ARRAY);
  glVertexPointer(3, GL_FLOAT, stride, vertex);
  if (normals) {
    glEnableClientState(GL_NORMAL_ARRAY);
    glNormalPointer(GL_FLOAT, stride, vertex + 3);
  }
  if (coords) {
    glClientActiveTexture(GL_TEXTURE0);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glTexCoordPointer(2, GL_FLOAT, stride, vertex + 6);
  }
  glDrawElements(GL_TRIANGLES, corners, GL_UNSIGNED_INT, mesh->index);
  glPopClientAttrib();
  glBindBuffer(GL_ARRAY_BUFFER, (GLuint)array_buffer);
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, (GLuint)element_buffer);
#endif
}

/* A mesh's triangles through the lit drawing's set-up, either form. */
static void kroDrawMeshLit(GLhandleARB program, const kroMesh *mesh, int coords) {
  uint32_t rows = mesh->triangles > 0 ? (uint32_t)mesh->triangles : 0;
  if (!mesh->vertex) {
    kroDrawLit(program, mesh->nc, mesh->op, coords ? mesh->tc : nullptr, rows, 1);
    return;
  }
  kroBeginLit(program, 1);
  kroDrawIndexed(mesh, 1, coords);
  kroEndLit();
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
  int coords = mesh->vertex ? mesh->has_tc : mesh->tc != nullptr;
  *texture = material && coords ? material->texture[KRO_MAP_DIFFUSE] : 0;
  return material;
}

/* A one-sided material culls back faces (counter-clockwise ones face the viewer) until
 * kroEndMeshSides gives the culling state back; saved[0..2]: enabled, face culled, front face. */
static void kroBeginMeshSides(const kroMaterial *material, GLint *saved) {
  saved[0] = -1;
  if (!material || !material->one_sided)
    return;
  saved[0] = glIsEnabled(GL_CULL_FACE);
  glGetIntegerv(GL_CULL_FACE_MODE, &saved[1]);
  glGetIntegerv(GL_FRONT_FACE, &saved[2]);
  glEnable(GL_CULL_FACE);
  glCullFace(GL_BACK);
  glFrontFace(GL_CCW);
}

static void kroEndMeshSides(const GLint *saved) {
  if (saved[0] < 0)
    return;
  if (!saved[0])
    glDisable(GL_CULL_FACE);
  glCullFace((GLenum)saved[1]);
  glFrontFace((GLenum)saved[2]);
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
  GLint sides[3];
  kroBeginMeshSides(material, sides);
  if (texture)
    kroSetLightMaterialColor(1.0f, 1.0f, 1.0f);
  else if (material)
    kroSetLightMaterialColor(material->diffuse[0], material->diffuse[1], material->diffuse[2]);
  if (!texture)
    kroDrawMeshLit(KRO_SHADER[kroCurrentShader].program, mesh, 0);
  else {
    GLint unit = kroBeginMeshTexture(material, texture);
    kroDrawMeshLit(KRO_SHADER[2].program, mesh, 1);
    kroEndMeshTexture(unit);
  }
  kroEndMeshSides(sides);
}

/* No program and no lighting: each corner takes the colour (or white times the picture, which
 * GL_MODULATE gives) as it is, the flat look of a modelling tool's unlit, textured view. */
void kroDrawMeshUnlit(const kroMesh *mesh, const kroMaterial *materials, int count) {
  GLuint texture;
  const kroMaterial *material = kroMeshMaterial(mesh, materials, count, &texture);
  uint32_t rows = mesh->triangles > 0 ? (uint32_t)mesh->triangles : 0;
  GLint sides[3];
  kroBeginMeshSides(material, sides);
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
  if (mesh->vertex)
    kroDrawIndexed(mesh, 0, texture != 0);
  else {
    glBegin(GL_TRIANGLES);
    for (uint32_t i = 0; i < rows; i++)
      for (int k = 0; k < 3; k++) {
        if (texture)
          glTexCoord2fv(&mesh->tc[i][2 * k]);
        glVertex3fv(&mesh->op[i][3 * k]);
      }
    glEnd();
  }
  if (texture) {
    glDisable(GL_TEXTURE_2D);
    kroEndMeshTexture(unit);
  }
  kroEndMeshSides(sides);
}
