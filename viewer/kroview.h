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
  int material;     /* the file's material reference */
  int file_normals; /* 1: the file gave normals (not all zero); 0: they are computed */
  int textured;     /* 1: its list draws its material's diffuse map (set by kvBuildSceneLists) */
} kvObject;

/* A map picture the scene found (loaded, or refused: perhaps caught half written), watched for
 * changes. */
typedef struct kvMapFile {
  char *path; /* where the engine found it (heap) */
  kroFileStamp stamp;
} kvMapFile;

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
  long triangles;        /* over all kept objects */
  float centre[3];       /* of the file's bounding box, file units */
  float radius;          /* its half-diagonal, file units; 1 for an empty box */
  float floor;           /* the box's lowest y in view units, before the turn (-1..0) */
  float half[3];         /* the box's half extents in view units, before the turn */
  float low[3], high[3]; /* the box in file units, as the file gives it (not turned up) */
  int material_count;
  int up;                 /* the kvUp the file was turned with */
  kroMaterial *materials; /* heap, material_count records with their maps; textures made by
                             kvBuildSceneLists */
  char *path;             /* the model file (heap): its maps are looked for beside it */
  int maps_tried;         /* the maps' textures have been made (or found missing) */
  int hide_textures;      /* 1: draw every object in its colour (T) */
  int maps_missing;       /* maps whose picture is missing or refused */
  char map_problem[KV_MESSAGE_CHARS]; /* the first such map, for the overlay; "" when none */
  kvMapFile *map_files;               /* heap, map_file_count pictures found */
  int map_file_count;
  int format;                  /* the file's kroSceneFormat */
  kroScenePath *sources;       /* heap: the other files the scene was read from (kroSceneFiles) */
  kroFileStamp *source_stamps; /* heap: theirs when it was read */
  int source_count;
} kvScene;

/* The file axis that points up in the view. Exporters write their program's world, +z up; the
 * view's up is +y. */
typedef enum kvUp {
  KV_UP_PLUS_X,
  KV_UP_MINUS_X,
  KV_UP_PLUS_Y,
  KV_UP_MINUS_Y,
  KV_UP_PLUS_Z,
  KV_UP_MINUS_Z
} kvUp;

/* The up axis of a file's format when none is given: +y for OBJ and glTF (Blender writes both
 * Y up), +z for ASE (its exporters' world) and any other file */
kvUp kvFormatUp(const char *path);
/* "+z", "-x", "y" (= "+y") ...; 0 when the text names no axis */
int kvParseUp(const char *text, kvUp *up);
/* "+z" ... */
const char *kvUpName(kvUp up);
/* The rotation taking the file's `up` axis to +y (row order, 3 x 3). For +z up the file's -y
 * (an exporter's front) comes to +z, towards the eye at yaw 0. */
void kvUpTurn(kvUp up, float *matrix);

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
/* Forget the last message, before a reload that may have none */
void kvForgetEngineMessage(void);
/* How many engine messages were seen since start */
long kvEngineMessageCount(void);
/* Read every geometry object of an ASE file on one stream, with its material colour; refused
 * objects are counted and listed. 0, or -1 (with a reason in `why`) when the file cannot be
 * read or holds no usable object. */
int kvLoadScene(kvScene *scene, const char *path, char *why, int why_chars);
/* The same with the file's `up` axis turned to the view's up (kvLoadScene: +y, as it is) */
int kvLoadSceneUp(kvScene *scene, const char *path, kvUp up, char *why, int why_chars);
/* Build one display list per object (needs kroInit and a GL context); the first call makes the
 * materials' textures. An object with texture coordinates whose material has a diffuse map
 * drawn as a texture is lit with the map's picture (through the map's UV transform) in place of
 * its colour, unless hide_textures */
void kvBuildSceneLists(kvScene *scene);
/* 1 when a map picture found on disk changed since it was read */
int kvMapsChanged(const kvScene *scene);
/* Where the engine finds a map's picture: beside the model, or beside an OBJ file's material
 * libraries; 1 with the path in found */
int kvFindMap(const kvScene *scene, const char *bitmap, char *found, int found_chars);
/* Every map's texture made again from its file, and the lists with them; the textures made */
int kvReloadMaps(kvScene *scene);
/* Call every object's list */
void kvDrawScene(const kvScene *scene);
/* Object `index`'s triangle edges in KV_HIGHLIGHT over everything drawn so far, hidden edges
 * included; nothing for an index outside the scene */
void kvDrawOutline(const kvScene *scene, int index);
/* The object's triangles in fixed-function GL, positions only, in the current state */
void kvDrawTriangles(const kvObject *object);
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
  float zoom;        /* distance factor, 1 frames the scene */
  int width, height; /* pixels of the view */
  float fit;         /* view units from the eye to the origin at zoom 1; 0: the bounding sphere's */
  float shift[2];    /* the picture moved by this much (-1..1 spans the view) so the framed
                        scene's projection is centred */
} kvCamera;

enum { KV_FIELD_DEGREES = 25 }; /* from the view axis to the top edge */
/* The framed scene's projection spans this part of the binding side (width or height) */
extern const float KV_FILL;

extern const float KV_DEFAULT_YAW, KV_DEFAULT_PITCH; /* degrees */
extern const float KV_NEAR, KV_FAR;                  /* view units */

/* Camera at the default angles, framing the bounding sphere, for a view of width x height */
void kvResetCamera(kvCamera *camera, int width, int height);
/* Sets the camera's fit and shift at its present angles and size: the eye as far as it can be
 * with the vertices' projections spanning KV_FILL of the binding side, that span centred in the
 * view (the bounding sphere's fit for an empty scene) */
void kvFrameCamera(kvCamera *camera, const kvScene *scene);
/* 1 when the eye is above the view-unit height `y` (the ground's highest point) */
int kvEyeAbove(const kvCamera *camera, float y);
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
  float top; /* the highest point, view units before the turn */
} kvTerrain;

/* Load a heightmap BMP as the ground under the view-unit scene: its highest point under the
 * scene's footprint just below the scene's lowest point; 0, or -1 after the engine's report */
int kvLoadTerrain(kvTerrain *terrain, const char *path, const kvScene *scene);
/* Its display list, lit like the objects */
void kvBuildTerrainList(kvTerrain *terrain);
void kvDrawTerrain(const kvTerrain *terrain);
void kvFreeTerrain(kvTerrain *terrain);

/* ------------------------------------------------------------------------ */
/* Overlay text (kv_overlay.cpp)                                             */
/* ------------------------------------------------------------------------ */

enum {
  KV_TEXT_PIXELS = 16, /* screen pixels a glyph's height is scaled towards (whole multiples) */
  KV_TEXT_MARGIN = 8,  /* pixels from the view's edges to the text */
  KV_LINE_GAP = 4,     /* pixels between rows */
  KV_OVERLAY_LINES = 24,
  KV_LINE_CHARS = 320,
  KV_MAX_ROWS = 96 /* rows drawn after wrapping; lines beyond the view's height are left out */
};

/* What the overlay shows, one text line each; a line wider than the view wraps onto more rows. */
typedef struct kvOverlay {
  kroFont font;
  int loaded;
  int glyph[2]; /* the font's glyph width and height, pixels, from its file */
  int scale;    /* screen pixels per font pixel */
  char lines[KV_OVERLAY_LINES][KV_LINE_CHARS];
  int line_count;
} kvOverlay;

/* One row of drawn text: part of a line. */
typedef struct kvTextRow {
  int line, start, length;
} kvTextRow;

/* Load the KROF font at its own glyph size (ink white, paper transparent); 0, or -1 after the
 * engine's report */
int kvOpenOverlay(kvOverlay *overlay, const char *font_path);
void kvCloseOverlay(kvOverlay *overlay);
/* Screen pixels from one row's top to the next's */
int kvRowPixels(const kvOverlay *overlay);
/* Pixel position of row `row`, column `column`: lower-left corner of its cell, GL window
 * coordinates */
void kvTextCell(const kvOverlay *overlay, int view_height, int row, int column, int *x, int *y);
/* The lines cut into rows of at most `columns` characters, at a space where there is one;
 * at most `max_rows`; the number of rows */
int kvWrapLines(const kvOverlay *overlay, int columns, kvTextRow *rows, int max_rows);
/* Draw the lines over a view of width x height: a dark panel, then the glyphs */
void kvDrawOverlay(const kvOverlay *overlay, int width, int height);

/* ------------------------------------------------------------------------ */
/* Post-processing through a framebuffer object (kv_post.cpp)                */
/* ------------------------------------------------------------------------ */

/* Open the frame: into the post-processing target when `post`, else into `target` (0: the
 * window). The post target is made on first use at the view size. */
void kvBeginFrame(int post, GLuint target, int width, int height);
/* Close the frame: with `post`, the picture into `target` split in two: the left half as drawn,
 * the right half through KRO_POST_PROCESS_SHADER[0], a light line between */
void kvEndFrame(int post, GLuint target, int width, int height);
void kvFreePost(void);

/* ------------------------------------------------------------------------ */
/* Guides: grid, axes, edges (kv_guides.cpp)                                 */
/* ------------------------------------------------------------------------ */

/* The grid's spacing in file units: 1, 2 or 5 times a power of ten, about a tenth of the
 * scene's box diagonal */
float kvGridSpacing(const kvScene *scene);
/* The ground grid in the plane of the scene's lowest point (after kvApplyCamera) */
void kvDrawGrid(const kvScene *scene);
/* The file's axes (x red, y green, z blue) in the view's lower-left corner, as the camera sees
 * them; `up` is the kvUp the scene was loaded with */
void kvDrawAxes(const kvCamera *camera, int up);
/* Every object's triangle edges, dark, where they are not hidden (after kvApplyCamera) */
void kvDrawEdges(const kvScene *scene);

/* ------------------------------------------------------------------------ */
/* Watching files for changes (kv_watch.cpp)                                 */
/* ------------------------------------------------------------------------ */

enum { KV_WATCH_PATH = 4096, KV_CHANGED_MODEL = 1, KV_CHANGED_SHADERS = 2 };

typedef struct kvWatch {
  int open, polling;     /* polling: file stamps looked at instead of inotify events */
  kroScenePath *sources; /* heap: the model's other files (a .bin, .mtl), their stamps looked at */
  kroFileStamp *source_stamps; /* every KV_POLL_MS, inotify or not */
  int source_count;
  int fd, model_wd;
  char model_path[KV_WATCH_PATH], model_folder[KV_WATCH_PATH], model_name[KV_WATCH_PATH];
  int target_wd; /* a linked model's final file's folder (where it leads now), or -1 */
  char target_folder[KV_WATCH_PATH], target_name[KV_WATCH_PATH];
  kroFileStamp model_stamp;
  kroShaderWatch shaders; /* the shader folder's ish/ and psh/ (the engine's watch) */
  int pending;            /* KV_CHANGED_MODEL seen since the last report */
  long last_event;        /* ms, kroNowMs */
  long next_poll;         /* ms */
} kvWatch;

/* Watch the model file (through its folder, and a link's final file through that one's) and
 * the shader folder's ish/ and psh/; `poll`
 * (or a system without inotify) looks at the files' stamps instead. 0, or -1 for a path too
 * long */
int kvOpenWatch(kvWatch *watch, const char *model_path, const char *shader_folder, int poll);
/* What changed (KV_CHANGED_MODEL | KV_CHANGED_SHADERS) once the files have been quiet for a
 * moment; 0 while nothing did or a burst of writes goes on */
int kvPollWatch(kvWatch *watch, long now_ms);
/* Watch the scene's other files too (those it was read from, kvScene sources), in place of
 * the ones watched so far: a change to one is a change of the model */
void kvWatchSources(kvWatch *watch, const kvScene *scene);
void kvCloseWatch(kvWatch *watch);

/* ------------------------------------------------------------------------ */
/* The engine's programs (kv_shaders.cpp)                                    */
/* ------------------------------------------------------------------------ */

/* kroInit for a view of width x height (the post-processing canvas a third of it, so that its
 * blur reaches three pixels); the number of its programs (the four fixed ones
 * and the post-processing pair) that could not be read, compiled or linked; the first reason
 * is kvProgramProblem() */
int kvStartPrograms(int width, int height);
/* Every program built again from the shader folder; they replace the old ones only when all
 * build: 0, or the number that did not (the old ones kept, the reason in kvProgramProblem).
 * Display lists that use the old programs must be built again after a 0. */
int kvRebuildPrograms(int width, int height);
/* Why the last start or rebuild failed ("" when it did not) */
const char *kvProgramProblem(void);

/* ------------------------------------------------------------------------ */
/* Pictures (kv_png.cpp)                                                     */
/* ------------------------------------------------------------------------ */

/* The bound framebuffer's width x height pixels as RGB rows, top row first (heap) */
uint8_t *kvReadPixels(int width, int height);
/* Write RGB rows (top first) as a PNG, replacing path whole; 0, or -1 with a message on standard
 * error and path as it was */
int kvWritePNG(const char *path, const uint8_t *rgb, int width, int height);
/* Make the first free name of `format` (one %d) for the numbers first..last an empty file of
 * one's own: a name taken by a file or a link is passed over, never written through. 0, or -1
 * with errno (EEXIST: every number is taken) */
int kvClaimNumberedFile(const char *format, int first, int last, char *path, int path_chars);

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
  int hovered, chosen;   /* object numbers (0 = first), -1 for none */
  float fps;             /* frames per second, negative when not measured */
  int programs_failed;   /* the engine's programs that did not build at the last (re)build */
  int show_keys;         /* 1: the overlay lists the keys instead */
  int grid, axes, edges; /* 1: that guide is drawn */
  char reload_problem[KV_MESSAGE_CHARS + 64]; /* why the last reload kept the old model, or "" */
} kvView;

/* One entry of the key list: the keys and what they do. */
typedef struct kvKeyHelp {
  const char *keys, *action;
} kvKeyHelp;

extern const kvKeyHelp KV_KEYS[];
extern const int KV_KEY_COUNT;

/* Entry `index` of the key list as one line: the keys in a column, then the action */
void kvKeyLine(int index, char *line, int bytes);

/* The object the view points out: the hovered one, else the chosen one; -1 when none */
int kvShownObject(const kvView *view);
/* Fill the overlay's lines from the view's state */
void kvComposeOverlay(kvView *view);
/* Draw one frame into `target` (0: the window) at the camera's size */
void kvDrawView(kvView *view, GLuint target);
/* The object under pixel (x, y), row 0 at the top; -1 when none */
int kvObjectAt(const kvView *view, int x, int y);
/* The model read again from `path` with the scene's up axis, and the ground (`terrain_path`,
 * may be null) placed under it again; the camera is kept. 0; or -1 with the old model kept and
 * the reason in reload_problem (shown in the overlay until a reload succeeds) */
int kvReloadModel(kvView *view, const char *path, const char *terrain_path);
/* The engine's programs built again from the shader folder and the lists with them; 0, or the
 * number of programs that did not build (the old ones kept, programs_failed set) */
int kvReloadShaders(kvView *view);
/* What --info prints about a file read with `up`: what the engine reads (objects, lights,
 * triangles, materials), the bounds in file units, where each object's normals come from, and
 * what the viewer refuses; 0, or 1 after the reason on standard error */
int kvPrintInfo(const char *path, kvUp up);
/* The refusals, one line each, on standard output */
void kvPrintRefused(const kvScene *scene, const char *path);

#endif /* KROVIEW_H */
