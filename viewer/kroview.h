/*
 * kroview: the engine's model viewer. This header is the map of its core
 * library (kroview_core), shared by the program, its tests and benchmarks.
 * Everything here stands on the engine's public API (kro.h), SDL 1.2, GL and
 * libpng; one source file per concern.
 */
#ifndef KROVIEW_H
#define KROVIEW_H

#include "kro.h"

#include <stdint.h>

/* ------------------------------------------------------------------------ */
/* Scene: objects of one ASE file, materials, bounds (kv_scene.cpp)          */
/* ------------------------------------------------------------------------ */

enum {
  KV_MAX_OBJECTS = 4096,  /* geometry objects kept from one file */
  KV_MAX_REFUSED = 64,    /* refused objects listed by name */
  KV_MESSAGE_CHARS = 240, /* longest engine message kept */
  KV_REASON_CHARS = 160   /* longest refusal reason kept per object */
};

/* One object drawn by the viewer. Its arrays are in view units: the scene's
 * bounding box centred on the origin, its half-diagonal scaled to 1, turned
 * by the fixed presentation rotation (kvPresentationTurn). */
typedef struct kvObject {
  kroObject op, nc, realn, tc; /* positions, vertex normals, face normals, texture coordinates */
  int triangles;
  float colour[3]; /* the material's diffuse colour, or KV_GREY */
  GLuint list;     /* display list of its lit drawing, 0 until built */
  int number;      /* its place in the file: 1 = the file's first geometry object */
  char name[KRO_ASE_NAME_CHARS + 1];
} kvObject;

/* An object the reader refused: its place in the file and why. */
typedef struct kvRefused {
  int number; /* 1 = the file's first geometry object */
  char reason[KV_REASON_CHARS];
} kvRefused;

typedef struct kvScene {
  kvObject *objects; /* heap, object_count entries */
  int object_count;
  int refused_count; /* refused objects, all counted; the first KV_MAX_REFUSED listed */
  int beyond_limit;  /* objects after the first KV_MAX_OBJECTS, left out unread */
  kvRefused refused[KV_MAX_REFUSED];
  long triangles;  /* over all kept objects */
  float centre[3]; /* of the file's bounding box, file units */
  float radius;    /* its half-diagonal, file units; 1 for an empty box */
  float floor;     /* the box's lowest y in view units, before the turn (-1..0) */
  int material_count;
} kvScene;

/* Default colour of an object without a material. */
extern const float KV_GREY[3];
/* Outline colour of the chosen or hovered object, RGB 0..1 */
extern const float KV_HIGHLIGHT[3];
/* The view's background, RGB 0..1: dark blue-grey, so that black objects show */
extern const float KV_BACKGROUND[3];

/* Route engine messages into the viewer (last message, message count) */
void kvCatchEngineMessages(void);
/* The last engine message ("" when none) */
const char *kvLastEngineMessage(void);
/* How many engine messages were seen since start */
long kvEngineMessageCount(void);
/* Read every geometry object of an ASE file on one stream, with its material colour; refused
 * objects are counted and listed. 0, or -1 (with a reason in `why`) when the file cannot be
 * read or holds no usable object. */
int kvLoadScene(kvScene *scene, const char *path, char *why, int why_chars);
/* Build one display list per object (needs kroInit and a GL context) */
void kvBuildSceneLists(kvScene *scene);
/* Call every object's list */
void kvDrawScene(const kvScene *scene);
/* Object `index`'s triangle edges in KV_HIGHLIGHT over everything drawn so far, hidden edges
 * included; nothing for an index outside the scene */
void kvDrawOutline(const kvScene *scene, int index);
/* The object a user means by `which`: its node name, or its place in the file (1 = first,
 * refused objects counted); -1 when none */
int kvFindObject(const kvScene *scene, const char *which);
/* Release lists and arrays; empty the record */
void kvFreeScene(kvScene *scene);
/* Nearest object hit by a ray in view units; -1 when none. dist gets the ray parameter */
int kvPickObject(const kvScene *scene, const float *origin, const float *direction, float *dist);

/* ------------------------------------------------------------------------ */
/* Camera (kv_camera.cpp)                                                    */
/* ------------------------------------------------------------------------ */

/* Orbits the view-unit scene: yaw about the vertical (positive: camera to
 * the right), pitch above the horizon, both degrees, at `distance` view
 * units times `zoom` from the origin. */
typedef struct kvCamera {
  float yaw, pitch;  /* degrees */
  float zoom;        /* distance factor, 1 frames the bounding sphere */
  int width, height; /* pixels of the view */
} kvCamera;

enum { KV_FIELD_DEGREES = 25 }; /* from the view axis to the top edge */

extern const float KV_DEFAULT_YAW, KV_DEFAULT_PITCH; /* degrees */
extern const float KV_NEAR, KV_FAR;                  /* view units */

/* Camera at the default angles, framing the scene, for a view of width x height */
void kvResetCamera(kvCamera *camera, int width, int height);
/* Distance from the eye to the origin, view units */
float kvCameraDistance(const kvCamera *camera);
/* Load the projection and model-view matrices for the camera */
void kvApplyCamera(const kvCamera *camera);
/* The presentation rotation: the file's front (+z) towards the engine's lights */
void kvPresentationTurn(float *matrix);
/* The eye ray through pixel (x, y), row 0 at the top, in view units */
void kvCameraRay(const kvCamera *camera, int x, int y, float *origin, float *direction);
/* Clamp the pitch and zoom after a change */
void kvClampCamera(kvCamera *camera);

/* ------------------------------------------------------------------------ */
/* Terrain (kv_terrain.cpp)                                                  */
/* ------------------------------------------------------------------------ */

typedef struct kvTerrain {
  float ***points, ***normals;
  int32_t size[2];
  GLuint list;
} kvTerrain;

/* Load a heightmap BMP as the ground under the view-unit scene; 0, or -1 after the engine's
 * report */
int kvLoadTerrain(kvTerrain *terrain, const char *path, float floor);
/* Its display list, lit like the objects */
void kvBuildTerrainList(kvTerrain *terrain);
void kvDrawTerrain(const kvTerrain *terrain);
void kvFreeTerrain(kvTerrain *terrain);

/* ------------------------------------------------------------------------ */
/* Overlay text (kv_overlay.cpp)                                             */
/* ------------------------------------------------------------------------ */

enum {
  KV_GLYPH_WIDTH = 8, /* pixels of the overlay font's cells */
  KV_GLYPH_HEIGHT = 8,
  KV_TEXT_SCALE = 2,  /* screen pixels per font pixel */
  KV_TEXT_MARGIN = 8, /* pixels from the view's edges to the text */
  KV_LINE_PIXELS = KV_GLYPH_HEIGHT * KV_TEXT_SCALE + 4,
  KV_OVERLAY_LINES = 8,
  KV_LINE_CHARS = 160
};

/* What the overlay shows, one text line each. */
typedef struct kvOverlay {
  kroFont font;
  int loaded;
  char lines[KV_OVERLAY_LINES][KV_LINE_CHARS];
  int line_count;
} kvOverlay;

/* Load the KROF font (ink white, paper transparent); 0, or -1 after the engine's report */
int kvOpenOverlay(kvOverlay *overlay, const char *font_path);
void kvCloseOverlay(kvOverlay *overlay);
/* Pixel position of line `line`, column `column`: lower-left corner of its cell, GL window
 * coordinates */
void kvTextCell(int view_height, int line, int column, int *x, int *y);
/* Draw the lines over a view of width x height: a dark panel, then the glyphs */
void kvDrawOverlay(const kvOverlay *overlay, int width, int height);

/* ------------------------------------------------------------------------ */
/* Post-processing through a framebuffer object (kv_post.cpp)                */
/* ------------------------------------------------------------------------ */

/* Open the frame: into the post-processing target when `post`, else into `target` (0: the
 * window). The post target is made on first use at the view size. */
void kvBeginFrame(int post, GLuint target, int width, int height);
/* Close the frame: with `post`, the target's picture through KRO_POST_PROCESS_SHADER[0] into
 * `target` */
void kvEndFrame(int post, GLuint target, int width, int height);
void kvFreePost(void);

/* ------------------------------------------------------------------------ */
/* Pictures (kv_png.cpp)                                                     */
/* ------------------------------------------------------------------------ */

/* The bound framebuffer's width x height pixels as RGB rows, top row first (heap) */
uint8_t *kvReadPixels(int width, int height);
/* Write RGB rows (top first) as a PNG; 0, or -1 with a message on standard error */
int kvWritePNG(const char *path, const uint8_t *rgb, int width, int height);

/* ------------------------------------------------------------------------ */
/* One view: what is shown and how (kv_view.cpp)                             */
/* ------------------------------------------------------------------------ */

typedef struct kvView {
  kvScene scene;
  kvTerrain terrain;
  kvOverlay overlay;
  kvCamera camera;
  const char *file_name; /* as shown in the overlay */
  int post;              /* 1: through the post-processing program */
  int show_overlay;
  int hovered, chosen; /* object numbers (0 = first), -1 for none */
  float fps;           /* frames per second, negative when not measured */
} kvView;

/* The object the view points out: the hovered one, else the chosen one; -1 when none */
int kvShownObject(const kvView *view);
/* Fill the overlay's lines from the view's state */
void kvComposeOverlay(kvView *view);
/* Draw one frame into `target` (0: the window) at the camera's size */
void kvDrawView(kvView *view, GLuint target);
/* The object under pixel (x, y), row 0 at the top; -1 when none */
int kvObjectAt(const kvView *view, int x, int y);
/* The refusals, one line each, on standard output */
void kvPrintRefused(const kvScene *scene, const char *path);

#endif /* KROVIEW_H */
