/*
 * The intro scene: the logo word ZANYKLUMP as nine flat glyphs, bump-lit by a
 * light spiralling in towards (0, 0, 4), and 32 digits flying in to two rows
 * above and below it. The first call builds two generated textures, the
 * embedded shader program, the meshes and three display lists (and builds
 * them again when zkIntroRestore finds a new GL context); each call
 * before second 14 draws one frame; the first call from second 14 on releases
 * everything once. All state is private to this file and persists between
 * calls. Units: scene units of the meshes, seconds, degrees for the view.
 * Depends on: kro (arrays, transforms, camera, shaders), meshes (loaders), GL.
 */
#include "ZKintro.h"
#include "meshes.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

enum {
  ZK_FLYERS = 32,         /* 16 in the upper row (0..15), 16 in the lower (16..31) */
  ZK_ROW = 16,            /* flyers per row */
  ZK_GLYPHS = 9,          /* Z A N Y K L U M P */
  ZK_TEXTURE_WIDTH = 512, /* texels */
  ZK_TEXTURE_HEIGHT = 64, /* texels */
  ZK_NODE_NAME_SIZE = 32  /* bytes, terminator included */
};

static const float ZK_END_SECONDS = 14.0f;    /* from here on nothing is drawn */
static const float ZK_PHASE2_SECONDS = 6.0f;  /* bump strength reaches 1 */
static const float ZK_PHASE3_SECONDS = 12.0f; /* light reaches its fixed point */
static const float ZK_FLIGHT_SECONDS = 1.0f;  /* every flyer takes exactly this long */
static const double ZK_PI = 3.141592653589793;

/* The bounding box of the placed word, which the textures cover exactly once. */
static const double ZK_WORD_LEFT = 2.376711; /* minus the left edge */
static const double ZK_WORD_WIDTH = 4.709749;
static const double ZK_WORD_BOTTOM = 0.296261; /* minus the bottom edge */
static const double ZK_WORD_HEIGHT = 0.614182;

const char zk_vertex_text[] =
    "varying vec2 tex_coord;varying vec3 pos;varying vec3 hv;varying vec3 normal;"
    "void main(){"
    "\ttex_coord=vec2(gl_MultiTexCoord0);"
    "\tpos=vec3(gl_ModelViewMatrix*gl_Vertex);"
    "\thv=normalize(gl_LightSource[0].position.xyz-pos)-normalize(pos);"
    "\tnormal=gl_Normal;"
    "\tgl_Position=gl_ModelViewProjectionMatrix*gl_Vertex;"
    "}";

const char zk_fragment_text[] =
    "uniform sampler2D specular_map;uniform sampler2D bump_map;"
    "varying vec2 tex_coord;varying vec3 pos;varying vec3 hv;varying vec3 normal;"
    "vec3 rotateVectorXY(vec3 vector,float angle){"
    "\treturn vec3(vector.x*cos(angle)-vector.y*sin(angle),vector.x*sin(angle)+vector.y*cos("
    "angle),vector.z);"
    "}"
    "vec3 rotateVectorYZ(vec3 vector,float angle){"
    "\treturn vec3(vector.x,vector.y*cos(angle)-vector.z*sin(angle),vector.y*sin(angle)+vector.z*"
    "cos(angle));"
    "}"
    "void main(){"
    "\tfloat TEXEL_SIZE_X=0.001953125;"
    "\tfloat TEXEL_SIZE_Y=0.015625;"
    "\tfloat si,i;"
    "\tfloat up,right,current;"
    "\tvec3 n;"
    "\tfloat shininess=1.0-gl_FrontMaterial.shininess/128.0*texture2D(specular_map,tex_coord).x;"
    "\tcurrent=texture2D(bump_map,tex_coord).x;"
    "\tup=texture2D(bump_map,vec2(tex_coord.x,tex_coord.y+TEXEL_SIZE_Y)).x;"
    "\tright=texture2D(bump_map,vec2(tex_coord.x+TEXEL_SIZE_X,tex_coord.y)).x;"
    "\tif(right-current<0.0)n=rotateVectorXY(normal,current*gl_LightSource[0].position.w);else"
    "\t\tn=rotateVectorXY(normal,-current*gl_LightSource[0].position.w);"
    "\tif(up-current<0.0)n=rotateVectorYZ(n,current*gl_LightSource[0].position.w);else"
    "\t\tn=rotateVectorYZ(n,-current*gl_LightSource[0].position.w);"
    "\tn=normalize(gl_NormalMatrix*n);"
    "\ti=clamp(dot(normalize(gl_LightSource[0].position.xyz-pos),n),0.0,0.96);"
    "\tsi=pow(max(dot(normalize(hv),n),0.0),shininess*128.0)*shininess;"
    "\tgl_FragColor=gl_FrontMaterial.ambient*gl_LightSource[0].ambient*i+gl_LightSource[0]."
    "ambient*si;"
    "}";

/* One mesh as its loader leaves it: four arrays of `triangles` rows. */
typedef struct zkMesh {
  kroObject vertex_coord;      /* positions, 9 floats a row */
  kroObject normal_coord;      /* per-vertex normals, 9 floats a row */
  kroObject real_normal_coord; /* per-triangle normals, 3 floats a row */
  kroObject tex_coord;         /* texture coordinates, 6 floats a row */
  int triangles;
} zkMesh;

typedef void (*zkLoader)(kroObject *op, kroObject *nc, kroObject *realn, kroObject *tc,
                         char *node_name, int *triangles);

/* The glyphs in word order with their x offsets (scene units). */
static const zkLoader ZK_GLYPH_LOADER[ZK_GLYPHS] = {loadMeshFontZ, loadMeshFontA, loadMeshFontN,
                                                    loadMeshFontY, loadMeshFontK, loadMeshFontL,
                                                    loadMeshFontU, loadMeshFontM, loadMeshFontP};
static const float ZK_GLYPH_OFFSET[ZK_GLYPHS] = {-2.1494f, -1.8154f, -1.4694f, -0.8329f, -0.1934f,
                                                 0.4276f,  0.9806f,  1.551f,   2.1369f};
static const float ZK_GLYPH_DEPTH = -2.3f; /* z of the logo plane */

/* Flyer i shows the one mesh when bit[i] is non-zero, the zero mesh otherwise,
 * and leaves its start point at departure_time[i] (seconds). */
static const unsigned char bit[ZK_FLYERS] = {0, 1, 1, 1, 1, 0, 1, 0, 0, 1, 1, 1, 1, 0, 0, 1,
                                             0, 1, 1, 0, 1, 1, 0, 1, 0, 1, 1, 0, 0, 1, 0, 1};
static const float departure_time[ZK_FLYERS] = {
    8.75f, 8.625f, 4.5f,  2.0f,  8.125f, 7.4f,  6.0f,  8.875f, 3.0f, 7.2f, 1.0f,
    5.75f, 6.6f,   4.25f, 5.25f, 8.375f, 8.25f, 8.5f,  6.2f,   9.0f, 7.8f, 6.8f,
    5.0f,  8.0f,   7.6f,  7.0f,  3.5f,   6.4f,  4.75f, 5.5f,   2.5f, 4.0f};

static int init = 0;
static int destroy = 0;
static kroShader shader;
static GLuint specular_map, bump_map;
static GLuint drawing_list0, drawing_list1, drawing_list_text;
static char node_name[ZK_NODE_NAME_SIZE];
static zkMesh digit0, digit1;
static zkMesh glyph[ZK_GLYPHS];
static float begin_pos[ZK_FLYERS][2], end_pos[ZK_FLYERS][2]; /* (x, y), scene units */

void calculateTexCoords(kroObject positions, kroObject texcoords, int count) {
  for (int i = 0; i < count; i++)
    for (int k = 0; k < 3; k++) {
      double x = positions[i][3 * k], y = positions[i][3 * k + 1];
      texcoords[i][2 * k] = (float)((x + ZK_WORD_LEFT) / ZK_WORD_WIDTH);
      texcoords[i][2 * k + 1] = (float)((y + ZK_WORD_BOTTOM) / ZK_WORD_HEIGHT);
    }
}

void zkDrawObject(kroObject positions, kroObject normals, kroObject texcoords, int count) {
  glBegin(GL_TRIANGLES);
  for (int i = 0; i < count; i++)
    for (int k = 0; k < 3; k++) {
      glNormal3fv(&normals[i][3 * k]);
      glMultiTexCoord2fvARB(GL_TEXTURE0_ARB, &texcoords[i][2 * k]);
      glVertex3fv(&positions[i][3 * k]);
    }
  glEnd();
}

/* Flyers 0..15 end in the upper row, 16..31 in the lower; each starts at the
 * mirror image of its end column, beyond the top or bottom edge of the view. */
static void zkPlaceFlyers(float aspect) {
  for (int i = 0; i < ZK_ROW; i++) {
    float column = (float)(i * 0.3 - 2.25);
    end_pos[i][0] = column;
    end_pos[i][1] = 0.6f;
    begin_pos[15 - i][0] = column;
    begin_pos[15 - i][1] = (float)(aspect * 2.4 + 0.4);
  }
  for (int i = ZK_ROW; i < ZK_FLYERS; i++) {
    float column = (float)((i - 16) * 0.3 - 2.25);
    end_pos[i][0] = column;
    end_pos[i][1] = -0.6f;
    begin_pos[47 - i][0] = column;
    begin_pos[47 - i][1] = (float)(aspect * -2.4 - 0.4);
  }
}

/* Uploads one 512 x 64 single-component texture on `unit`, linear filtering. */
static void zkUploadTexture(GLenum unit, GLuint name, const unsigned char *texels) {
  glActiveTextureARB(unit);
  glBindTexture(GL_TEXTURE_2D, name);
  glTexImage2D(GL_TEXTURE_2D, 0, 1, ZK_TEXTURE_WIDTH, ZK_TEXTURE_HEIGHT, 0, GL_RED,
               GL_UNSIGNED_BYTE, texels);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
}

/* sin(i * j) * 255, truncated and stored as its low eight bits: a noise in
 * which every byte value occurs. Without memory the texture stays empty. */
static void zkBuildSpecularMap(void) {
  unsigned char *texels = (unsigned char *)malloc(ZK_TEXTURE_WIDTH * ZK_TEXTURE_HEIGHT);
  if (!texels)
    return;
  for (int i = 0; i < ZK_TEXTURE_HEIGHT; i++)
    for (int j = 0; j < ZK_TEXTURE_WIDTH; j++) {
      int value = (int)(sin((double)(i * j)) * 255.0);
      texels[i * ZK_TEXTURE_WIDTH + j] = (unsigned char)(value & 0xFF);
    }
  zkUploadTexture(GL_TEXTURE0_ARB, specular_map, texels);
  free(texels);
}

/* A grid of 16 x 16-texel dimples: 1 at each cell's centre, 225 at its corners. */
static void zkBuildBumpMap(void) {
  unsigned char *texels = (unsigned char *)malloc(ZK_TEXTURE_WIDTH * ZK_TEXTURE_HEIGHT);
  if (!texels)
    return;
  for (int i = 0; i < ZK_TEXTURE_HEIGHT; i++)
    for (int j = 0; j < ZK_TEXTURE_WIDTH; j++) {
      double a = (i % 16) - 7.5, b = (j % 16) - 7.5;
      texels[i * ZK_TEXTURE_WIDTH + j] = (unsigned char)(int)(2.0 * (a * a + b * b));
    }
  zkUploadTexture(GL_TEXTURE1_ARB, bump_map, texels);
  free(texels);
}

static void zkLoadMesh(zkLoader loader, zkMesh *mesh) {
  loader(&mesh->vertex_coord, &mesh->normal_coord, &mesh->real_normal_coord, &mesh->tex_coord,
         node_name, &mesh->triangles);
}

static void zkCompileList(GLuint list, const zkMesh *mesh) {
  glNewList(list, GL_COMPILE);
  zkDrawObject(mesh->vertex_coord, mesh->normal_coord, mesh->tex_coord, mesh->triangles);
  glEndList();
}

/* The digits' texture rows are never written by their loaders; the digits
 * are drawn so that the coordinates do not matter, but they are sent, so they
 * are made defined. */
static void zkClearTexCoords(zkMesh *mesh) {
  if (!mesh->tex_coord)
    return;
  for (int i = 0; i < mesh->triangles; i++)
    memset(mesh->tex_coord[i], 0, KRO_TEXCOORD_FLOATS * sizeof(float));
}

static void zkBuild(float aspect) {
  zkPlaceFlyers(aspect);
  glGenTextures(1, &specular_map);
  glGenTextures(1, &bump_map);
  zkBuildSpecularMap();
  zkBuildBumpMap();
  kroCreateShaderVF(&shader, zk_vertex_text, zk_fragment_text);
  drawing_list0 = glGenLists(1);
  drawing_list1 = glGenLists(1);
  drawing_list_text = glGenLists(1);

  zkLoadMesh(loadMeshBit0, &digit0);
  zkLoadMesh(loadMeshBit1, &digit1);
  zkClearTexCoords(&digit0);
  zkClearTexCoords(&digit1);
  kroScaleObject(digit0.vertex_coord, digit0.triangles, 0.1f, 0.1f, 0.05f);
  kroScaleObject(digit1.vertex_coord, digit1.triangles, 0.1f, 0.1f, 0.05f);
  kroTranslateObject(digit0.vertex_coord, digit0.triangles, 0.0f, 0.0f, -2.4f);
  kroTranslateObject(digit1.vertex_coord, digit1.triangles, 0.0f, 0.0f, -2.4f);
  zkCompileList(drawing_list0, &digit0);
  zkCompileList(drawing_list1, &digit1);

  for (int g = 0; g < ZK_GLYPHS; g++)
    zkLoadMesh(ZK_GLYPH_LOADER[g], &glyph[g]);
  for (int g = 0; g < ZK_GLYPHS; g++)
    kroTranslateObject(glyph[g].vertex_coord, glyph[g].triangles, ZK_GLYPH_OFFSET[g], 0.0f,
                       ZK_GLYPH_DEPTH);
  /* The mapping is fixed in scene space, so it follows the placement. */
  for (int g = 0; g < ZK_GLYPHS; g++)
    calculateTexCoords(glyph[g].vertex_coord, glyph[g].tex_coord, glyph[g].triangles);
  glNewList(drawing_list_text, GL_COMPILE);
  for (int g = 0; g < ZK_GLYPHS; g++)
    zkDrawObject(glyph[g].vertex_coord, glyph[g].normal_coord, glyph[g].tex_coord,
                 glyph[g].triangles);
  glEndList();
  init = 1;
}

static void zkSetShininess(float shininess) {
  glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, shininess);
}

/* Light 0 is placed while the model-view matrix is the identity, so the
 * shader reads these very values; w is the bump strength. */
static void zkSetLight(float x, float z, float w) {
  const float position[4] = {x, 0.0f, z, w};
  glLightfv(GL_LIGHT0, GL_POSITION, position);
}

/* Where flyer i is at `seconds`: waiting, on its one-second straight flight,
 * or landed. */
static void zkFlyerPosition(int i, float seconds, float pos[2]) {
  if (seconds < departure_time[i]) {
    pos[0] = begin_pos[i][0];
    pos[1] = begin_pos[i][1];
  } else if (seconds < departure_time[i] + ZK_FLIGHT_SECONDS) {
    float x = seconds - departure_time[i];
    pos[0] = end_pos[i][0] * x + begin_pos[i][0] * (1.0f - x);
    pos[1] = end_pos[i][1] * x + begin_pos[i][1] * (1.0f - x);
  } else {
    pos[0] = end_pos[i][0];
    pos[1] = end_pos[i][1];
  }
}

float zkFlyerLanding(int flyer) {
  return departure_time[flyer] + ZK_FLIGHT_SECONDS;
}

int zkFlyerBit(int flyer) {
  return bit[flyer];
}

static void zkFrame(float aspect, float seconds) {
  static const float white[4] = {1.0f, 1.0f, 1.0f, 1.0f};
  static const float logo_ambient[4] = {0.8f, 0.5f, 0.1f, 1.0f};
  static const float digit_ambient[4] = {0.8f, 0.3f, 0.0f, 0.0f};

  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LESS);
  glEnable(GL_CULL_FACE);
  glCullFace(GL_BACK);
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  kroPerspectiveOGL(40.0f, aspect, 0.2f, 50.0f);
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();

  glUseProgramObjectARB(shader.program);
  glActiveTextureARB(GL_TEXTURE0_ARB);
  glBindTexture(GL_TEXTURE_2D, specular_map);
  glActiveTextureARB(GL_TEXTURE1_ARB);
  glBindTexture(GL_TEXTURE_2D, bump_map);
  glUniform1iARB(glGetUniformLocationARB(shader.program, "specular_map"), 0);
  glUniform1iARB(glGetUniformLocationARB(shader.program, "bump_map"), 1);
  glLightfv(GL_LIGHT0, GL_AMBIENT, white);
  glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, logo_ambient);

  /* The light circles (0, 0, 4) in the plane y = 0 once every 4 s, on a
   * radius shrinking from 6 to 0 at second 12. */
  float r = 6.0f - seconds / 2.0f;
  double a = seconds / 2.0 * ZK_PI;
  float orbit_x = (float)(r * cos(a));
  float orbit_z = (float)(r * sin(-a) + 4.0);

  if (seconds < ZK_PHASE2_SECONDS) {
    zkSetShininess(0.0f);
    zkSetLight(orbit_x, orbit_z, seconds / 6.0f);
  } else if (seconds < ZK_PHASE3_SECONDS) {
    zkSetShininess((float)((seconds - 6.0) / 6.0 * 128.0));
    zkSetLight(orbit_x, orbit_z, 1.0f);
  } else {
    zkSetShininess(128.0f);
    zkSetLight(0.0f, 4.0f, 1.0f);
  }
  glCallList(drawing_list_text);

  if (seconds < ZK_PHASE3_SECONDS)
    zkSetLight(orbit_x, orbit_z, 0.0f);
  else
    zkSetLight(0.0f, 4.0f, 0.0f);
  zkSetShininess(0.0f);
  glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, digit_ambient);
  for (int i = 0; i < ZK_FLYERS; i++) {
    float pos[2];
    zkFlyerPosition(i, seconds, pos);
    glTranslatef(pos[0], pos[1], 0.0f);
    glCallList(bit[i] ? drawing_list1 : drawing_list0);
    glTranslatef(-pos[0], -pos[1], 0.0f);
  }

  glActiveTextureARB(GL_TEXTURE0_ARB);
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
  glPopMatrix();
  glUseProgramObjectARB(0);
}

static void zkDestroyMesh(zkMesh *mesh) {
  kroDestroyObject(&mesh->vertex_coord, mesh->triangles);
  kroDestroyObject(&mesh->normal_coord, mesh->triangles);
  kroDestroyObject(&mesh->tex_coord, mesh->triangles);
  kroDestroyObject(&mesh->real_normal_coord, mesh->triangles);
}

/* Everything the build made, once: lists, textures, every mesh array and the
 * program with its two stages. */
static void zkTearDown(void) {
  glDeleteLists(drawing_list0, 1);
  glDeleteLists(drawing_list1, 1);
  glDeleteLists(drawing_list_text, 1);
  glDeleteTextures(1, &bump_map);
  glDeleteTextures(1, &specular_map);
  for (int g = 0; g < ZK_GLYPHS; g++)
    kroDestroyObject(&glyph[g].vertex_coord, glyph[g].triangles);
  for (int g = 0; g < ZK_GLYPHS; g++)
    kroDestroyObject(&glyph[g].normal_coord, glyph[g].triangles);
  for (int g = 0; g < ZK_GLYPHS; g++)
    kroDestroyObject(&glyph[g].tex_coord, glyph[g].triangles);
  for (int g = 0; g < ZK_GLYPHS; g++)
    kroDestroyObject(&glyph[g].real_normal_coord, glyph[g].triangles);
  zkDestroyMesh(&digit0);
  zkDestroyMesh(&digit1);
  kroDestroyShader(&shader);
  if (shader.program)
    glDeleteObjectARB(shader.program);
  destroy = 1;
}

void zkIntro(float aspect, float seconds) {
  if (!init)
    zkBuild(aspect);
  if (destroy)
    return; /* released for good: the names are gone */
  if (seconds < ZK_END_SECONDS)
    zkFrame(aspect, seconds);
  else
    zkTearDown();
}

void zkIntroRestore(void) {
  if (init && !destroy && !glIsList(drawing_list_text)) {
    zkTearDown(); /* the arrays; the names are already gone with the old context */
    init = destroy = 0;
  }
}

static int zkCountArrays(const zkMesh *mesh) {
  return (mesh->vertex_coord != nullptr) + (mesh->normal_coord != nullptr) +
         (mesh->real_normal_coord != nullptr) + (mesh->tex_coord != nullptr);
}

void zkIntroGetState(zkIntroState *state) {
  state->init = init;
  state->destroy = destroy;
  state->specular_map = specular_map;
  state->bump_map = bump_map;
  state->drawing_list0 = drawing_list0;
  state->drawing_list1 = drawing_list1;
  state->drawing_list_text = drawing_list_text;
  state->program = shader.program;
  state->arrays_held = zkCountArrays(&digit0) + zkCountArrays(&digit1);
  for (int g = 0; g < ZK_GLYPHS; g++)
    state->arrays_held += zkCountArrays(&glyph[g]);
}
