/*
 * The legacy GL calls of kro_webgl.h in WebGL 1 (emcc builds only; empty on the desktop).
 * Matrices are column-major float[16] as GL keeps them. Every vertex is 12 floats: position
 * (3), normal (3), colour (4), texture coordinate of unit 0 (2), at attribute locations 0..3
 * bound before each link. Before each draw the current program (or, with none, the layer's own
 * colour-and-texture program) gets the matrices, lights, material and light model.
 * Depends on: emscripten's WebGL binding (GL ES 2 entry points).
 */
#ifdef __EMSCRIPTEN__
#define KRO_WEBGL_LAYER
#include <GL/gl.h>
#include <GL/glext.h>

#include "../kro_webgl.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

GLuint buildFixedProgram();

namespace {

enum { FLOATS = 12, STACK_DEPTH = 32, LIGHTS = 2, SWITCHES_FIXED = 6 };
const GLsizei STRIDE = FLOATS * sizeof(float);

struct Matrix {
  float m[16];
};

const Matrix IDENTITY = {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};

Matrix multiply(const Matrix &a, const Matrix &b) {
  Matrix r;
  for (int c = 0; c < 4; c++)
    for (int row = 0; row < 4; row++) {
      float sum = 0;
      for (int k = 0; k < 4; k++)
        sum += a.m[k * 4 + row] * b.m[c * 4 + k];
      r.m[c * 4 + row] = sum;
    }
  return r;
}

struct Light {
  float ambient[4], diffuse[4], specular[4], position[4];
};

struct Segment {
  GLenum mode;
  GLint first;
  GLsizei count;
};

struct List {
  GLuint buffer = 0;
  std::vector<Segment> segments;
};

/* Uniform locations of one linked program; -1 where it does not read the value. */
struct Locations {
  GLint modelview, projection, mvp, normal, texture, model_ambient, switches;
  GLint light[LIGHTS][4];
  GLint material[5]; /* emission, ambient, diffuse, specular, shininess */
};

struct State {
  std::vector<Matrix> stack[3] = {
      {IDENTITY}, {IDENTITY}, {IDENTITY}}; /* model-view, projection, texture */
  int mode = 0;
  float normal[3] = {0, 0, 1}, color[4] = {1, 1, 1, 1}, coord[2] = {0, 0};
  GLenum begun = 0;
  std::vector<float> batch;
  GLuint stream = 0;
  std::map<GLuint, List> lists;
  GLuint next_list = 1, recording = 0;
  std::vector<float> recorded;
  std::vector<Segment> recorded_segments;
  Light light[LIGHTS] = {{{0, 0, 0, 1}, {1, 1, 1, 1}, {1, 1, 1, 1}, {0, 0, 1, 0}},
                         {{0, 0, 0, 1}, {0, 0, 0, 1}, {0, 0, 0, 1}, {0, 0, 1, 0}}};
  float material[5][4] = {
      {0, 0, 0, 1}, {0.2f, 0.2f, 0.2f, 1}, {0.8f, 0.8f, 0.8f, 1}, {0, 0, 0, 1}, {0, 0, 0, 0}};
  float model_ambient[4] = {0.2f, 0.2f, 0.2f, 1};
  float switches[SWITCHES_FIXED] = {}; /* FIXED_SWITCHES: 1 on, 0 off */
  GLuint program = 0, fixed = 0;
  std::map<GLuint, Locations> locations;
  std::map<GLuint, GLenum> shader_types;
  std::map<GLuint, GLint> texture_sizes[2]; /* level-0 width, height by texture name */
  std::map<GLuint, GLint> texture_formats;
  std::vector<std::vector<bool>> attributes; /* glPushAttrib's saved switches */
};

State &state() {
  static State s;
  return s;
}

Matrix &top() {
  return state().stack[state().mode].back();
}

void multiplyTop(const Matrix &m) {
  top() = multiply(top(), m);
}

/* The fixed-function switches the layer's own program reads (kro_Switches), in this order. */
const GLenum FIXED_SWITCHES[SWITCHES_FIXED] = {GL_TEXTURE_2D, GL_LIGHTING,       GL_LIGHT0,
                                               GL_LIGHT1,     GL_COLOR_MATERIAL, GL_NORMALIZE};

int fixedSwitch(GLenum cap) {
  for (int i = 0; i < SWITCHES_FIXED; i++)
    if (FIXED_SWITCHES[i] == cap)
      return i;
  return -1;
}

/* The switches glPushAttrib keeps: those WebGL has, then the fixed-function ones. */
const GLenum SWITCHES[] = {GL_BLEND,       GL_CULL_FACE,           GL_DEPTH_TEST,
                           GL_DITHER,      GL_POLYGON_OFFSET_FILL, GL_SCISSOR_TEST,
                           GL_STENCIL_TEST};

bool isWebGLSwitch(GLenum cap) {
  for (GLenum s : SWITCHES)
    if (s == cap)
      return true;
  return cap == GL_SAMPLE_ALPHA_TO_COVERAGE || cap == GL_SAMPLE_COVERAGE;
}

/* ---- programs ---- */

const char PRELUDE[] =
    "#ifdef GL_FRAGMENT_PRECISION_HIGH\nprecision highp float;\n#else\nprecision mediump float;\n"
    "#endif\n"
    "struct kro_LightSourceParameters{vec4 ambient;vec4 diffuse;vec4 specular;vec4 position;};\n"
    "uniform kro_LightSourceParameters kro_LightSource[2];\n"
    "struct kro_MaterialParameters{vec4 emission;vec4 ambient;vec4 diffuse;vec4 specular;"
    "float shininess;};\n"
    "uniform kro_MaterialParameters kro_FrontMaterial;\n"
    "struct kro_LightModelParameters{vec4 ambient;};\n"
    "uniform kro_LightModelParameters kro_LightModel;\n"
    "uniform mat4 kro_ModelViewMatrix;uniform mat4 kro_ProjectionMatrix;"
    "uniform mat4 kro_ModelViewProjectionMatrix;uniform mat3 kro_NormalMatrix;"
    "uniform mat4 kro_TextureMatrix[1];\n";
const char VERTEX_PRELUDE[] = "attribute vec4 kro_Vertex;attribute vec3 kro_Normal;"
                              "attribute vec4 kro_Color;attribute vec4 kro_MultiTexCoord0;\n";
const char *const ATTRIBUTES[] = {"kro_Vertex", "kro_Normal", "kro_Color", "kro_MultiTexCoord0"};

/* Built-in names the prelude declares under kro_; gl_Color only in a vertex stage. */
const char *const BUILT_INS[] = {"gl_Vertex",           "gl_Normal",
                                 "gl_MultiTexCoord0",   "gl_ModelViewMatrix",
                                 "gl_ProjectionMatrix", "gl_ModelViewProjectionMatrix",
                                 "gl_NormalMatrix",     "gl_TextureMatrix",
                                 "gl_LightSource",      "gl_LightSourceParameters",
                                 "gl_FrontMaterial",    "gl_LightModel"};

bool isIdentifierChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

std::string translate(const std::string &text, bool vertex) {
  std::string out = PRELUDE;
  if (vertex)
    out += VERTEX_PRELUDE;
  for (size_t i = 0; i < text.size();) {
    if (!isIdentifierChar(text[i]) || (i > 0 && isIdentifierChar(text[i - 1]))) {
      out += text[i++];
      continue;
    }
    size_t end = i;
    while (end < text.size() && isIdentifierChar(text[end]))
      end++;
    std::string word = text.substr(i, end - i);
    bool built_in = vertex && word == "gl_Color";
    for (const char *name : BUILT_INS)
      built_in = built_in || word == name;
    out += built_in ? "kro_" + word.substr(3) : word;
    i = end;
  }
  return out;
}

GLint uniform(GLuint program, const std::string &name) {
  return glGetUniformLocation(program, name.c_str());
}

const Locations &locationsOf(GLuint program) {
  auto found = state().locations.find(program);
  if (found != state().locations.end())
    return found->second;
  Locations l;
  l.modelview = uniform(program, "kro_ModelViewMatrix");
  l.projection = uniform(program, "kro_ProjectionMatrix");
  l.mvp = uniform(program, "kro_ModelViewProjectionMatrix");
  l.normal = uniform(program, "kro_NormalMatrix");
  l.texture = uniform(program, "kro_TextureMatrix[0]");
  l.model_ambient = uniform(program, "kro_LightModel.ambient");
  l.switches = uniform(program, "kro_Switches");
  static const char *const light_fields[4] = {"ambient", "diffuse", "specular", "position"};
  static const char *const material_fields[5] = {"emission", "ambient", "diffuse", "specular",
                                                 "shininess"};
  for (int i = 0; i < LIGHTS; i++)
    for (int f = 0; f < 4; f++)
      l.light[i][f] =
          uniform(program, "kro_LightSource[" + std::to_string(i) + "]." + light_fields[f]);
  for (int f = 0; f < 5; f++)
    l.material[f] = uniform(program, std::string("kro_FrontMaterial.") + material_fields[f]);
  return state().locations[program] = l;
}

/* The inverse transpose of the model-view's upper 3 x 3 (its cofactors over its determinant). */
void normalMatrix(const Matrix &mv, float *n) {
  auto a = [&](int r, int c) { return mv.m[c * 4 + r]; };
  float cof[3][3];
  for (int r = 0; r < 3; r++)
    for (int c = 0; c < 3; c++) {
      int r1 = (r + 1) % 3, r2 = (r + 2) % 3, c1 = (c + 1) % 3, c2 = (c + 2) % 3;
      cof[r][c] = a(r1, c1) * a(r2, c2) - a(r1, c2) * a(r2, c1);
    }
  float det = a(0, 0) * cof[0][0] + a(0, 1) * cof[0][1] + a(0, 2) * cof[0][2];
  float inverse = det != 0 ? 1 / det : 0;
  for (int r = 0; r < 3; r++)
    for (int c = 0; c < 3; c++)
      n[c * 3 + r] = cof[r][c] * inverse;
}

/* Makes the program that draws next current and feeds it the fixed-function state. */
void prepareDraw() {
  State &s = state();
  GLuint program = s.program;
  if (!program) {
    if (!s.fixed)
      s.fixed = buildFixedProgram();
    program = s.fixed;
    glUseProgram(program);
  }
  const Locations &l = locationsOf(program);
  const Matrix &mv = s.stack[0].back(), &p = s.stack[1].back();
  Matrix mvp = multiply(p, mv);
  float n[9];
  normalMatrix(mv, n);
  glUniformMatrix4fv(l.modelview, 1, GL_FALSE, mv.m);
  glUniformMatrix4fv(l.projection, 1, GL_FALSE, p.m);
  glUniformMatrix4fv(l.mvp, 1, GL_FALSE, mvp.m);
  glUniformMatrix3fv(l.normal, 1, GL_FALSE, n);
  glUniformMatrix4fv(l.texture, 1, GL_FALSE, s.stack[2].back().m);
  glUniform4fv(l.model_ambient, 1, s.model_ambient);
  glUniform1fv(l.switches, SWITCHES_FIXED, s.switches);
  for (int i = 0; i < LIGHTS; i++) {
    const float *fields[4] = {s.light[i].ambient, s.light[i].diffuse, s.light[i].specular,
                              s.light[i].position};
    for (int f = 0; f < 4; f++)
      glUniform4fv(l.light[i][f], 1, fields[f]);
  }
  for (int f = 0; f < 4; f++)
    glUniform4fv(l.material[f], 1, s.material[f]);
  glUniform1f(l.material[4], s.material[4][0]);
}

void drawBuffer(GLuint buffer, const Segment *segments, size_t count) {
  prepareDraw();
  glBindBuffer(GL_ARRAY_BUFFER, buffer);
  static const GLint sizes[4] = {3, 3, 4, 2}, offsets[4] = {0, 3, 6, 10};
  for (GLuint a = 0; a < 4; a++) {
    glEnableVertexAttribArray(a);
    glVertexAttribPointer(a, sizes[a], GL_FLOAT, GL_FALSE, STRIDE,
                          (const void *)(size_t)(offsets[a] * sizeof(float)));
  }
  for (size_t i = 0; i < count; i++)
    glDrawArrays(segments[i].mode, segments[i].first, segments[i].count);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  if (!state().program)
    glUseProgram(0);
}

/* A batch of `mode` as WebGL draws it: quads and polygons become triangles. */
GLenum toWebGL(GLenum mode, std::vector<float> &v) {
  if (mode != GL_QUADS && mode != GL_POLYGON)
    return mode == GL_QUAD_STRIP ? GL_TRIANGLE_STRIP : mode;
  std::vector<float> out;
  size_t n = v.size() / FLOATS;
  auto add = [&](size_t i) { out.insert(out.end(), &v[i * FLOATS], &v[i * FLOATS] + FLOATS); };
  if (mode == GL_QUADS)
    for (size_t q = 0; q + 3 < n; q += 4) {
      add(q), add(q + 1), add(q + 2);
      add(q), add(q + 2), add(q + 3);
    }
  else
    for (size_t i = 1; i + 1 < n; i++)
      add(0), add(i), add(i + 1);
  v.swap(out);
  return GL_TRIANGLES;
}

void vertex(float x, float y, float z) {
  State &s = state();
  const float v[FLOATS] = {x,           y,           z,          s.normal[0],
                           s.normal[1], s.normal[2], s.color[0], s.color[1],
                           s.color[2],  s.color[3],  s.coord[0], s.coord[1]};
  s.batch.insert(s.batch.end(), v, v + FLOATS);
}

} // namespace

extern "C" {

/* ---- matrices ---- */

void kroWebMatrixMode(GLenum mode) {
  state().mode = mode == GL_PROJECTION ? 1 : mode == GL_TEXTURE ? 2 : 0;
}
void kroWebLoadIdentity(void) {
  top() = IDENTITY;
}
void kroWebLoadMatrixf(const GLfloat *m) {
  memcpy(top().m, m, sizeof top().m);
}
void kroWebPushMatrix(void) {
  std::vector<Matrix> &stack = state().stack[state().mode];
  if (stack.size() < STACK_DEPTH)
    stack.push_back(stack.back());
}
void kroWebPopMatrix(void) {
  std::vector<Matrix> &stack = state().stack[state().mode];
  if (stack.size() > 1)
    stack.pop_back();
}
void kroWebTranslatef(GLfloat x, GLfloat y, GLfloat z) {
  Matrix m = IDENTITY;
  m.m[12] = x, m.m[13] = y, m.m[14] = z;
  multiplyTop(m);
}
void kroWebScalef(GLfloat x, GLfloat y, GLfloat z) {
  Matrix m = IDENTITY;
  m.m[0] = x, m.m[5] = y, m.m[10] = z;
  multiplyTop(m);
}
void kroWebRotatef(GLfloat degrees, GLfloat x, GLfloat y, GLfloat z) {
  float length = sqrtf(x * x + y * y + z * z);
  if (length == 0)
    return;
  x /= length, y /= length, z /= length;
  float a = degrees * 3.14159265358979f / 180, c = cosf(a), s = sinf(a), t = 1 - c;
  Matrix m = {{t * x * x + c, t * x * y + s * z, t * x * z - s * y, 0, t * x * y - s * z,
               t * y * y + c, t * y * z + s * x, 0, t * x * z + s * y, t * y * z - s * x,
               t * z * z + c, 0, 0, 0, 0, 1}};
  multiplyTop(m);
}
void kroWebFrustum(GLdouble l, GLdouble r, GLdouble b, GLdouble t, GLdouble n, GLdouble f) {
  Matrix m = {{(float)(2 * n / (r - l)), 0, 0, 0, 0, (float)(2 * n / (t - b)), 0, 0,
               (float)((r + l) / (r - l)), (float)((t + b) / (t - b)), (float)(-(f + n) / (f - n)),
               -1, 0, 0, (float)(-2 * f * n / (f - n)), 0}};
  multiplyTop(m);
}
void kroWebOrtho(GLdouble l, GLdouble r, GLdouble b, GLdouble t, GLdouble n, GLdouble f) {
  Matrix m = {{(float)(2 / (r - l)), 0, 0, 0, 0, (float)(2 / (t - b)), 0, 0, 0, 0,
               (float)(-2 / (f - n)), 0, (float)(-(r + l) / (r - l)), (float)(-(t + b) / (t - b)),
               (float)(-(f + n) / (f - n)), 1}};
  multiplyTop(m);
}

/* ---- immediate mode and lists ---- */

void kroWebBegin(GLenum mode) {
  state().begun = mode;
  state().batch.clear();
}
void kroWebEnd(void) {
  State &s = state();
  GLenum mode = toWebGL(s.begun, s.batch);
  GLsizei count = (GLsizei)(s.batch.size() / FLOATS);
  if (count == 0)
    return;
  if (s.recording) {
    s.recorded_segments.push_back({mode, (GLint)(s.recorded.size() / FLOATS), count});
    s.recorded.insert(s.recorded.end(), s.batch.begin(), s.batch.end());
    return;
  }
  if (!s.stream)
    glGenBuffers(1, &s.stream);
  glBindBuffer(GL_ARRAY_BUFFER, s.stream);
  glBufferData(GL_ARRAY_BUFFER, (GLsizeiptr)(s.batch.size() * sizeof(float)), s.batch.data(),
               GL_STREAM_DRAW);
  Segment whole = {mode, 0, count};
  drawBuffer(s.stream, &whole, 1);
}
void kroWebVertex3f(GLfloat x, GLfloat y, GLfloat z) {
  vertex(x, y, z);
}
void kroWebVertex3fv(const GLfloat *v) {
  vertex(v[0], v[1], v[2]);
}
void kroWebVertex2f(GLfloat x, GLfloat y) {
  vertex(x, y, 0);
}
/* GL's rectangle: a polygon from (x1, y1) round to (x2, y2), counter-clockwise when x1 < x2
 * and y1 < y2, as GL draws it. */
void kroWebRecti(GLint x1, GLint y1, GLint x2, GLint y2) {
  kroWebBegin(GL_POLYGON);
  kroWebVertex2f((GLfloat)x1, (GLfloat)y1);
  kroWebVertex2f((GLfloat)x2, (GLfloat)y1);
  kroWebVertex2f((GLfloat)x2, (GLfloat)y2);
  kroWebVertex2f((GLfloat)x1, (GLfloat)y2);
  kroWebEnd();
}
void kroWebNormal3f(GLfloat x, GLfloat y, GLfloat z) {
  float *n = state().normal;
  n[0] = x, n[1] = y, n[2] = z;
}
void kroWebNormal3fv(const GLfloat *v) {
  kroWebNormal3f(v[0], v[1], v[2]);
}
void kroWebColor4f(GLfloat r, GLfloat g, GLfloat b, GLfloat a) {
  float *c = state().color;
  c[0] = r, c[1] = g, c[2] = b, c[3] = a;
}
void kroWebColor4fv(const GLfloat *v) {
  kroWebColor4f(v[0], v[1], v[2], v[3]);
}
void kroWebColor3f(GLfloat r, GLfloat g, GLfloat b) {
  kroWebColor4f(r, g, b, 1);
}
void kroWebColor3fv(const GLfloat *v) {
  kroWebColor4f(v[0], v[1], v[2], 1);
}
void kroWebTexCoord2f(GLfloat s, GLfloat t) {
  state().coord[0] = s, state().coord[1] = t;
}
void kroWebTexCoord2fv(const GLfloat *v) {
  kroWebTexCoord2f(v[0], v[1]);
}
void kroWebMultiTexCoord2fv(GLenum unit, const GLfloat *v) {
  if (unit == GL_TEXTURE0)
    kroWebTexCoord2f(v[0], v[1]);
}

GLuint kroWebGenLists(GLsizei range) {
  State &s = state();
  GLuint first = s.next_list;
  for (GLsizei i = 0; i < range; i++)
    s.lists[s.next_list++] = List();
  return range > 0 ? first : 0;
}
void kroWebNewList(GLuint list, GLenum) {
  State &s = state();
  s.recording = list;
  s.recorded.clear();
  s.recorded_segments.clear();
}
void kroWebEndList(void) {
  State &s = state();
  if (!s.recording)
    return;
  List &list = s.lists[s.recording];
  if (!list.buffer)
    glGenBuffers(1, &list.buffer);
  glBindBuffer(GL_ARRAY_BUFFER, list.buffer);
  glBufferData(GL_ARRAY_BUFFER, (GLsizeiptr)(s.recorded.size() * sizeof(float)), s.recorded.data(),
               GL_STATIC_DRAW);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  list.segments.swap(s.recorded_segments);
  s.recorded.clear();
  s.recording = 0;
}
void kroWebCallList(GLuint name) {
  auto found = state().lists.find(name);
  if (found != state().lists.end() && !found->second.segments.empty())
    drawBuffer(found->second.buffer, found->second.segments.data(), found->second.segments.size());
}
void kroWebDeleteLists(GLuint first, GLsizei range) {
  for (GLsizei i = 0; i < range; i++) {
    auto found = state().lists.find(first + i);
    if (found == state().lists.end())
      continue;
    if (found->second.buffer)
      glDeleteBuffers(1, &found->second.buffer);
    state().lists.erase(found);
  }
}
GLboolean kroWebIsList(GLuint list) {
  return state().lists.count(list) ? GL_TRUE : GL_FALSE;
}

/* ---- lights and material ---- */

void kroWebLightfv(GLenum name, GLenum field, const GLfloat *value) {
  if (name < GL_LIGHT0 || name >= GL_LIGHT0 + LIGHTS)
    return;
  Light &light = state().light[name - GL_LIGHT0];
  float *target = field == GL_AMBIENT    ? light.ambient
                  : field == GL_DIFFUSE  ? light.diffuse
                  : field == GL_SPECULAR ? light.specular
                                         : nullptr;
  if (target)
    memcpy(target, value, 4 * sizeof(float));
  if (field != GL_POSITION)
    return;
  /* Positions are kept in eye space: the model-view at the time of the call places them. */
  const Matrix &mv = state().stack[0].back();
  for (int r = 0; r < 4; r++)
    light.position[r] = mv.m[r] * value[0] + mv.m[4 + r] * value[1] + mv.m[8 + r] * value[2] +
                        mv.m[12 + r] * value[3];
}
void kroWebLightf(GLenum, GLenum, GLfloat) {} /* attenuation and spots: no shader reads them */
void kroWebLightModelfv(GLenum name, const GLfloat *value) {
  if (name == GL_LIGHT_MODEL_AMBIENT)
    memcpy(state().model_ambient, value, 4 * sizeof(float));
}
void kroWebMaterialfv(GLenum face, GLenum name, const GLfloat *value) {
  if (face == GL_BACK)
    return;
  float(*m)[4] = state().material;
  if (name == GL_SHININESS) {
    m[4][0] = value[0];
    return;
  }
  int slot = name == GL_EMISSION ? 0 : name == GL_AMBIENT ? 1 : name == GL_DIFFUSE ? 2 : -1;
  if (name == GL_SPECULAR)
    slot = 3;
  if (slot >= 0)
    memcpy(m[slot], value, 4 * sizeof(float));
  if (name == GL_AMBIENT_AND_DIFFUSE) {
    memcpy(m[1], value, 4 * sizeof(float));
    memcpy(m[2], value, 4 * sizeof(float));
  }
}
void kroWebMaterialf(GLenum face, GLenum name, GLfloat value) {
  const float v[4] = {value, 0, 0, 0};
  kroWebMaterialfv(face, name, v);
}

/* ---- state ---- */

static void kroWebSwitch(GLenum cap, bool on) {
  int fixed = fixedSwitch(cap);
  if (fixed >= 0)
    state().switches[fixed] = on ? 1.0f : 0.0f;
  else if (isWebGLSwitch(cap))
    on ? glEnable(cap) : glDisable(cap);
}
void kroWebEnable(GLenum cap) {
  kroWebSwitch(cap, true);
}
void kroWebDisable(GLenum cap) {
  kroWebSwitch(cap, false);
}
void kroWebGetIntegerv(GLenum name, GLint *value) {
  static const GLint modes[3] = {GL_MODELVIEW, GL_PROJECTION, GL_TEXTURE};
  if (name == GL_MATRIX_MODE)
    *value = modes[state().mode];
  else
    glGetIntegerv(name, value);
}
void kroWebTexEnvi(GLenum, GLenum, GLint) {} /* the programs modulate by themselves */
void kroWebPolygonMode(GLenum, GLenum) {}    /* WebGL fills only */
void kroWebReadBuffer(GLenum) {}             /* reads come from the bound framebuffer */
void kroWebDrawBuffer(GLenum) {}
void kroWebPushAttrib(GLbitfield) {
  std::vector<bool> saved;
  for (GLenum cap : SWITCHES)
    saved.push_back(glIsEnabled(cap));
  for (float on : state().switches)
    saved.push_back(on != 0);
  state().attributes.push_back(saved);
}
void kroWebPopAttrib(void) {
  State &s = state();
  if (s.attributes.empty())
    return;
  const std::vector<bool> &saved = s.attributes.back();
  size_t i = 0;
  for (GLenum cap : SWITCHES)
    saved[i++] ? glEnable(cap) : glDisable(cap);
  for (float &on : s.switches)
    on = saved[i++] ? 1.0f : 0.0f;
  s.attributes.pop_back();
}
void kroWebClearDepth(GLdouble depth) {
  glClearDepthf((GLfloat)depth);
}

/* Unsized and one-channel formats become the WebGL 1 formats that read the same (.x). */
static GLenum webFormat(GLint format) {
  switch (format) {
  case 1:
  case GL_RED:
  case GL_R8:
  case GL_LUMINANCE8:
    return GL_LUMINANCE;
  case 2:
  case GL_LUMINANCE8_ALPHA8:
    return GL_LUMINANCE_ALPHA;
  case 3:
  case GL_RGB8:
    return GL_RGB;
  case 4:
  case GL_RGBA8:
    return GL_RGBA;
  default:
    return (GLenum)format;
  }
}

void kroWebTexImage2D(GLenum target, GLint level, GLint internal, GLsizei width, GLsizei height,
                      GLint border, GLenum format, GLenum type, const void *pixels) {
  GLenum web = webFormat(internal);
  if (type == GL_BYTE &&
      !pixels) /* storage only (a framebuffer's colour): WebGL 1 has no GL_BYTE */
    type = GL_UNSIGNED_BYTE;
  glTexImage2D(target, level, (GLint)web, width, height, border, webFormat((GLint)format), type,
               pixels);
  GLint bound = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  if (level == 0 && target == GL_TEXTURE_2D) {
    state().texture_sizes[0][(GLuint)bound] = width;
    state().texture_sizes[1][(GLuint)bound] = height;
    state().texture_formats[(GLuint)bound] = internal;
  }
}
void kroWebGetTexLevelParameteriv(GLenum, GLint level, GLenum name, GLint *value) {
  GLint bound = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  State &s = state();
  if (name == GL_TEXTURE_WIDTH || name == GL_TEXTURE_HEIGHT) {
    GLint size = s.texture_sizes[name == GL_TEXTURE_HEIGHT][(GLuint)bound] >> level;
    *value = size > 0 ? size : s.texture_sizes[0].count((GLuint)bound) ? 1 : 0;
  } else if (name == GL_TEXTURE_INTERNAL_FORMAT)
    *value = s.texture_formats.count((GLuint)bound) ? s.texture_formats[(GLuint)bound] : 0;
}
/* WebGL reads RGBA bytes only: other layouts are read so and repacked. */
void kroWebReadPixels(GLint x, GLint y, GLsizei width, GLsizei height, GLenum format, GLenum type,
                      void *pixels) {
  if (format == GL_RGBA || width <= 0 || height <= 0) {
    glReadPixels(x, y, width, height, format, type, pixels);
    return;
  }
  GLint alignment = 4;
  glGetIntegerv(GL_PACK_ALIGNMENT, &alignment);
  std::vector<unsigned char> rgba((size_t)width * height * 4);
  glReadPixels(x, y, width, height, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
  int channels = format == GL_RGB ? 3 : 1;
  size_t row = ((size_t)width * channels + alignment - 1) / alignment * alignment;
  unsigned char *out = (unsigned char *)pixels;
  for (GLsizei r = 0; r < height; r++)
    for (GLsizei c = 0; c < width; c++)
      for (int k = 0; k < channels; k++)
        out[r * row + (size_t)c * channels + k] = rgba[((size_t)r * width + c) * 4 + k];
}
void kroWebRenderbufferStorage(GLenum target, GLenum format, GLsizei width, GLsizei height) {
  if (format == GL_DEPTH_COMPONENT || format == GL_DEPTH_COMPONENT24 ||
      format == GL_DEPTH_COMPONENT32)
    format = GL_DEPTH_COMPONENT16;
  glRenderbufferStorage(target, format, width, height);
}

/* ---- programs ---- */

GLhandleARB kroWebCreateShaderObject(GLenum type) {
  GLuint shader = glCreateShader(type);
  state().shader_types[shader] = type;
  return shader;
}
GLhandleARB kroWebCreateProgramObject(void) {
  return glCreateProgram();
}
void kroWebShaderSource(GLhandleARB shader, GLsizei count, const GLcharARB **text,
                        const GLint *length) {
  std::string whole;
  for (GLsizei i = 0; i < count; i++)
    whole.append(text[i], length && length[i] >= 0 ? (size_t)length[i] : strlen(text[i]));
  std::string translated = translate(whole, state().shader_types[shader] == GL_VERTEX_SHADER);
  const char *source = translated.c_str();
  glShaderSource(shader, 1, &source, nullptr);
}
void kroWebLinkProgram(GLhandleARB program) {
  for (GLuint a = 0; a < 4; a++)
    glBindAttribLocation(program, a, ATTRIBUTES[a]);
  glLinkProgram(program);
  state().locations.erase(program);
}
void kroWebUseProgram(GLhandleARB program) {
  state().program = program;
  glUseProgram(program);
}
void kroWebDeleteObject(GLhandleARB object) {
  if (glIsProgram(object)) {
    glDeleteProgram(object);
    state().locations.erase(object);
    if (state().program == object)
      state().program = 0;
  } else {
    glDeleteShader(object);
    state().shader_types.erase(object);
  }
}
void kroWebGetObjectParameteriv(GLhandleARB object, GLenum name, GLint *value) {
  if (glIsProgram(object))
    glGetProgramiv(object, name, value);
  else
    glGetShaderiv(object, name, value);
}
void kroWebGetInfoLog(GLhandleARB object, GLsizei size, GLsizei *length, GLcharARB *log) {
  if (glIsProgram(object))
    glGetProgramInfoLog(object, size, length, log);
  else
    glGetShaderInfoLog(object, size, length, log);
}

} // extern "C"

/* With no program in use: the vertex colour, or with GL_LIGHTING GL's per-vertex lighting by
 * lights 0 and 1 (ambient, diffuse and specular, a viewer at infinity, no attenuation; the
 * colour as ambient and diffuse material under GL_COLOR_MATERIAL), times texture unit 0 while
 * GL_TEXTURE_2D is on. kro_Switches holds FIXED_SWITCHES. */
GLuint buildFixedProgram() {
  static const char vertex[] =
      "uniform float kro_Switches[6];varying vec4 kro_c;varying vec2 kro_t;\n"
      "void main(){\n"
      " kro_c=gl_Color;\n"
      " if(kro_Switches[1]>0.5){\n"
      "  vec3 v=vec3(gl_ModelViewMatrix*gl_Vertex),n=gl_NormalMatrix*gl_Normal;\n"
      "  if(kro_Switches[5]>0.5)n=normalize(n);\n"
      "  bool cm=kro_Switches[4]>0.5;\n"
      "  vec4 a=cm?gl_Color:gl_FrontMaterial.ambient,d=cm?gl_Color:gl_FrontMaterial.diffuse;\n"
      "  vec4 sum=gl_FrontMaterial.emission+gl_LightModel.ambient*a;\n"
      "  for(int i=0;i<2;i++){\n"
      "   if(kro_Switches[2+i]<0.5)continue;\n"
      "   vec4 p=gl_LightSource[i].position;\n"
      "   vec3 l=normalize(p.w==0.0?p.xyz:p.xyz-v);\n"
      "   float lit=max(dot(n,l),0.0);\n"
      "   sum+=gl_LightSource[i].ambient*a+lit*gl_LightSource[i].diffuse*d;\n"
      "   if(lit>0.0)sum+=pow(max(dot(n,normalize(l+vec3(0.0,0.0,1.0))),0.0),\n"
      "    gl_FrontMaterial.shininess)*gl_LightSource[i].specular*gl_FrontMaterial.specular;\n"
      "  }\n"
      "  kro_c=vec4(clamp(sum.rgb,0.0,1.0),d.a);\n"
      " }\n"
      " kro_t=(gl_TextureMatrix[0]*gl_MultiTexCoord0).xy;\n"
      " gl_Position=gl_ModelViewProjectionMatrix*gl_Vertex;\n"
      "}\n";
  static const char fragment[] =
      "uniform sampler2D kro_s;uniform float kro_Switches[6];varying vec4 kro_c;varying vec2 kro_t;"
      "void main(){gl_FragColor=kro_c*mix(vec4(1.0),texture2D(kro_s,kro_t),kro_Switches[0]);}";
  GLuint program = kroWebCreateProgramObject();
  const GLenum types[2] = {GL_VERTEX_SHADER, GL_FRAGMENT_SHADER};
  const char *texts[2] = {vertex, fragment};
  for (int i = 0; i < 2; i++) {
    GLuint shader = kroWebCreateShaderObject(types[i]);
    kroWebShaderSource(shader, 1, &texts[i], nullptr);
    glCompileShader(shader);
    glAttachShader(program, shader);
  }
  kroWebLinkProgram(program);
  return program;
}

#endif
