/*
 * kro - a small OpenGL engine for real-time demo productions.
 *
 * This header is the map of the whole engine: every record, global and entry
 * point, grouped by module. One source file per module sits beside it.
 *
 * Failure convention: a failing operation prints a fixed message to standard
 * output, then calls the error hook (kroErrorFunc). Whether or not the hook
 * returns, the operation then stops in an orderly way and hands back an empty
 * or null result; it never uses the allocation, file or index that failed.
 *
 * Single-threaded: most operations keep working state in static storage.
 * Everything that touches GL needs a current context.
 */
#ifndef KRO_H
#define KRO_H

#ifndef GL_GLEXT_PROTOTYPES
#define GL_GLEXT_PROTOTYPES
#endif
#include <GL/gl.h>
#include <GL/glext.h>
#include <stdint.h>
#include <stdio.h>

/* ------------------------------------------------------------------------ */
/* Error hook and bit utilities (kro_error.cpp)                              */
/* ------------------------------------------------------------------------ */

typedef void (*kroErrorFuncType)(void);

extern kroErrorFuncType kroErrorFunc; /* called after every failure message; null at start */
extern uint32_t KRO_TRUE_MASK[32];    /* entry i: only bit i set; zero until kroSetBitMasks */
extern uint32_t KRO_FALSE_MASK[32];   /* entry i: every bit but bit i; zero until kroSetBitMasks */

void kroSetErrorFunc(kroErrorFuncType func);              // Set the error hook; null removes it
void kroSetBitMasks(void);                                // Fill KRO_TRUE_MASK and KRO_FALSE_MASK
uint8_t kroGetBit(uint32_t value, int8_t bit);            // 1 when bit `bit` (0..31) of value is set
uint32_t kroSetBitTrue(uint32_t value, int8_t bit);       // value with bit `bit` set
uint32_t kroSetBitFalse(uint32_t value, int8_t bit);      // value with bit `bit` cleared
uint8_t kroGet0thByte(uint32_t value);                    // Least significant byte
uint8_t kroGet1stByte(uint32_t value);                    // Bits 8..15
uint8_t kroGet2ndByte(uint32_t value);                    // Bits 16..23
uint8_t kroGet3rdByte(uint32_t value);                    // Most significant byte
char *kroStringAfterLastDot(char *text);                  // Pointer at the last '.', or null

/* ------------------------------------------------------------------------ */
/* Object geometry: growable triangle arrays (kro_object.cpp)               */
/* ------------------------------------------------------------------------ */

/* A handle to an array of rows, one heap row of floats per triangle. The row
 * count travels beside the handle; the row width follows from the role:
 * positions and vertex normals 9 floats, texture coordinates 6, real (face)
 * normals 3. Rows never move once made; null is the empty array. */
typedef float **kroObject;

enum {
  KRO_POSITION_FLOATS = 9,  /* x, y, z of vertices 0, 1, 2 */
  KRO_TEXCOORD_FLOATS = 6,  /* u, v of vertices 0, 1, 2 */
  KRO_REALNORMAL_FLOATS = 3 /* x, y, z of the face normal */
};

void kroIncreaseObject(kroObject *object, int count, int added);    // Grow by `added` 9-float rows
void kroIncreaseTexCoords(kroObject *object, int count, int added); // Grow by `added` 6-float rows
void kroIncreaseCoords(kroObject *object, int count, int added);    // Grow by `added` 3-float rows
kroObject kroCopyObject(kroObject object, uint32_t count);          // Independent copy, 9-float rows
kroObject kroCopyTexCoords(kroObject object, uint32_t count);       // Independent copy, 6-float rows
kroObject kroCopyRealNormals(kroObject object, uint32_t count);     // Independent copy, 3-float rows
void kroDestroyObject(kroObject *object, int count);                // Release rows and handle; null it

/* ------------------------------------------------------------------------ */
/* Transforms and camera (kro_transform.cpp)                                 */
/* ------------------------------------------------------------------------ */

/* Vectors are 3 floats; matrices 9 floats in row order, multiplying column vectors. */
void kroScale1Object(kroObject object, uint32_t count, float f);                    // Every float * f
void kroScaleObject(kroObject object, uint32_t count, float sx, float sy, float sz); // Per-axis scale
void kroScalevObject(kroObject object, uint32_t count, const float *s);             // Scale by vector
void kroTranslateObject(kroObject object, uint32_t count, float dx, float dy, float dz); // Move
void kroTranslatevObject(kroObject object, uint32_t count, const float *d);          // Move by vector
void kroApply3x3MatrixToVector(const float *matrix, float *vector);                  // v = M v
void kroCreateRotationMatrixFromNormalizedAxis(float *matrix, const float *axis, float angle); // radians, right-handed
void kroPerspectiveOGL(float angle, float aspect, float near_distance, float far_distance); // angle: degrees, axis to top edge

/* ------------------------------------------------------------------------ */
/* Shader programs (kro_shader.cpp)                                          */
/* ------------------------------------------------------------------------ */

/* One GLSL program with its two stages. A zero-filled record is empty. While a
 * source pointer is non-null its length is the number of bytes it holds (no
 * terminator counted). */
typedef struct kroShader {
  int vertex_length;           /* bytes of vertex source held */
  int fragment_length;         /* bytes of fragment source held */
  char *vertex_source;         /* owned heap copy, or null */
  char *fragment_source;       /* owned heap copy, or null */
  GLhandleARB program;         /* program object */
  GLhandleARB vertex_shader;   /* vertex shader object */
  GLhandleARB fragment_shader; /* fragment shader object */
} kroShader;

enum { KRO_SHADER_SLOTS = 512, KRO_POST_PROCESS_SLOTS = 4 };

extern kroShader KRO_SHADER[KRO_SHADER_SLOTS];                  /* slots 0, 1, 64, 128 fixed */
extern kroShader KRO_POST_PROCESS_SHADER[KRO_POST_PROCESS_SLOTS]; /* entry 0 filled by kroInit */
extern int kroCurrentShader;            /* KRO_SHADER index used by the lit drawing */
extern int kroCurrentPostProcessShader; /* KRO_POST_PROCESS_SHADER index */

void kroLoadVertexShader(kroShader *shader, const char *text);   // Copy a text into the vertex source
void kroLoadFragmentShader(kroShader *shader, const char *text); // Copy a text into the fragment source
void kroIncreaseVertexGLSL(kroShader *shader);   // Grow the vertex source by one (unfilled) byte
void kroIncreaseFragmentGLSL(kroShader *shader); // Grow the fragment source by one (unfilled) byte
void kroLoadVertexShaderFromFile(kroShader *shader, const char *path, const char *macros);   // Append a file
void kroLoadFragmentShaderFromFile(kroShader *shader, const char *path, const char *macros); // Append a file
void kroCreateShaderFromFileVF(kroShader *shader, const char *vertex_path, const char *fragment_path); // Build from files
void kroCreateShaderFromFileWithMacrosVF(kroShader *shader, const char *vertex_path,
                                         const char *fragment_path, const char *vertex_macros,
                                         const char *fragment_macros); // Build from files after macros
void kroCreateShaderVF(kroShader *shader, const char *vertex_text, const char *fragment_text); // Rebuild from texts
void kroDestroyShader(kroShader *shader);          // Delete stages, release sources (program kept)
void kroLoadShaders(void);                         // Fill the fixed KRO_SHADER slots from sh/ish
void kroLoadPostProcessShaders(int resx, int resy); // Fill post-processing entry 0 from sh/psh
void kroDestroyShaders(void);                      // kroDestroyShader on all 512 slots

/* ------------------------------------------------------------------------ */
/* Immediate-mode object drawing (kro_draw.cpp)                              */
/* ------------------------------------------------------------------------ */

/* One glBegin(GL_TRIANGLES)..glEnd per call; colour arrays are 9-float rows (r, g, b per vertex). */
void kroDrawObject(kroObject positions, uint32_t count);                        // Vertices only
void kroDrawColorObject(const float *color, kroObject positions, uint32_t count);   // One colour
void kroDrawNormalObject(const float *normal, kroObject positions, uint32_t count); // One normal
void kroDrawColorNormalObject(const float *color, const float *normal, kroObject positions,
                              uint32_t count);                                  // One colour and normal
void kroDrawColorsObject(kroObject colors, kroObject positions, uint32_t count);    // Per-vertex colours
void kroDrawNormalsObject(kroObject normals, kroObject positions, uint32_t count);  // Per-vertex normals
void kroDrawColorsNormalsObject(kroObject colors, kroObject normals, kroObject positions,
                                uint32_t count);                                // Both per vertex
void kroDrawLightMaterialNormalsObject(const void *reserved0, const void *reserved1,
                                       const void *reserved2, kroObject normals,
                                       kroObject positions, uint32_t count); // Fixed two-light set-up, current shader

/* ------------------------------------------------------------------------ */
/* Engine lifecycle (kro_init.cpp)                                           */
/* ------------------------------------------------------------------------ */

void kroInit(int resx, int resy); // Masks, fixed shaders, post-processing shader; clears the hook
void kroDestroy(void);            // Releases nothing (shaders go with kroDestroyShaders)

/* ------------------------------------------------------------------------ */
/* ASE scene reader, materials and lights (kro_ase.cpp, kro_material.cpp)     */
/* ------------------------------------------------------------------------ */

/* ------------------------------------------------------------------------ */
/* Mesh source generator (kro_meshsrc.cpp)                                   */
/* ------------------------------------------------------------------------ */

/* ------------------------------------------------------------------------ */
/* BMP images (kro_bmp.cpp)                                                  */
/* ------------------------------------------------------------------------ */

/* ------------------------------------------------------------------------ */
/* PNG reader (kro_png.cpp)                                                  */
/* ------------------------------------------------------------------------ */

/* ------------------------------------------------------------------------ */
/* Heightmaps (kro_heightmap.cpp)                                            */
/* ------------------------------------------------------------------------ */

/* ------------------------------------------------------------------------ */
/* Bitmap fonts, KROF (kro_font.cpp)                                         */
/* ------------------------------------------------------------------------ */

/* ------------------------------------------------------------------------ */
/* Framebuffer objects (kro_fbo.cpp)                                         */
/* ------------------------------------------------------------------------ */

#endif /* KRO_H */
