/*
 * The viewer's scene: every geometry object of one ASE file, read on one
 * stream from where the engine finds it, refused objects left out and listed
 * by their place in the file, or every mesh of an OBJ or glTF file (refused whole), each object's
 * material colour, the bounding box, the move into view units, one display list of the engine's lit
 * drawing per object, and picking by ray-triangle tests. Depends on: kro (ASE reader and object
 * offsets, materials, transforms, lit drawing), GL.
 */
#include "kroview.h"

#include <errno.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

const float KV_GREY[3] = {0.6f, 0.6f, 0.6f};
const float KV_BACKGROUND[3] = {0.10f, 0.11f, 0.16f};
const float KV_HIGHLIGHT[3] = {1.0f, 0.75f, 0.1f};

static const float KV_MIN_RADIUS = 1e-6f; /* file units: a smaller box counts as a point */

/* ---- engine messages ---------------------------------------------------- */

static char kvLastMessage[KV_MESSAGE_CHARS];
static long kvMessages = 0;

static void kvKeepMessage(const char *message, void *) {
  snprintf(kvLastMessage, sizeof kvLastMessage, "%s", message);
  kvMessages++;
}

void kvCatchEngineMessages(void) {
  kroSetErrorMessageFunc(kvKeepMessage, nullptr);
}

void kvForgetEngineMessage(void) {
  kvLastMessage[0] = '\0';
}

const char *kvLastEngineMessage(void) {
  return kvLastMessage;
}

long kvEngineMessageCount(void) {
  return kvMessages;
}

/* ---- reading ------------------------------------------------------------ */

static void kvDropObject(kvObject *object) {
  kroDestroyObject(&object->op, object->triangles);
  kroDestroyObject(&object->nc, object->triangles);
  kroDestroyObject(&object->realn, object->triangles);
  kroDestroyObject(&object->tc, object->triangles);
  object->triangles = 0;
}

static void kvListRefused(kvScene *scene, int number, const char *reason) {
  if (scene->refused_count < KV_MAX_REFUSED) {
    kvRefused *r = &scene->refused[scene->refused_count];
    r->number = number;
    snprintf(r->reason, sizeof r->reason, "%.*s", KV_REASON_CHARS - 1, reason);
  }
  scene->refused_count++;
}

static void kvColourObject(kvObject *object, int material_ref, const kroMaterial *materials,
                           int material_count) {
  const float *colour = KV_GREY;
  if (materials && material_ref >= 0 && material_ref < material_count)
    colour = materials[material_ref].diffuse;
  for (int k = 0; k < 3; k++)
    object->colour[k] = fminf(fmaxf(isfinite(colour[k]) ? colour[k] : 0.0f, 0.0f), 1.0f);
}

/* Reads the objects where the engine finds them (offsets, `count` of them);
 * an object the reader refuses (it reports through the message hook) is
 * dropped and listed by its place in the file. */
static void kvReadObjects(kvScene *scene, FILE *stream, const long *offsets, int count,
                          const kroMaterial *materials) {
  int number = 1;
  for (; number <= count && scene->object_count < KV_MAX_OBJECTS; number++) {
    kvObject *object = &scene->objects[scene->object_count];
    memset(object, 0, sizeof *object);
    if (fseek(stream, offsets[number - 1], SEEK_SET) != 0) {
      kvListRefused(scene, number, strerror(errno));
      continue;
    }
    long before = kvMessages;
    int material_ref = kroLoadMeshFromASEfd(&object->op, &object->nc, &object->realn, &object->tc,
                                            stream, object->name, &object->triangles);
    if (kvMessages != before) {
      kvDropObject(object);
      kvListRefused(scene, number, kvLastMessage);
      continue;
    }
    if (object->triangles <= 0) {
      kvDropObject(object);
      continue;
    }
    object->number = number;
    if (!object->name[0])
      snprintf(object->name, sizeof object->name, "object %d", number);
    kvColourObject(object, material_ref, materials, scene->material_count);
    object->material = material_ref;
    scene->triangles += object->triangles;
    scene->object_count++;
  }
  scene->beyond_limit = count - (number - 1);
}

/* The other files the scene was read from, with their stamps now. */
static void kvNoteSources(kvScene *scene, const char *path) {
  scene->source_count = kroSceneFiles(path, &scene->sources);
  scene->source_stamps =
      (kroFileStamp *)calloc((size_t)scene->source_count + 1, sizeof(kroFileStamp));
  if (!scene->source_stamps) {
    free(scene->sources);
    scene->sources = nullptr;
    scene->source_count = 0;
  }
  for (int i = 0; i < scene->source_count; i++)
    kroStampFile(scene->sources[i], &scene->source_stamps[i]);
}

/* The meshes of an OBJ or glTF file as the objects, their arrays moved over; 0 when the file
 * was refused (the engine reported it). */
static int kvReadSceneObjects(kvScene *scene, const char *path) {
  kroScene file;
  long before = kvMessages;
  kroLoadScene(&file, path, 0); /* the maps' textures wait for GL */
  if (kvMessages != before)
    return 0;
  kvNoteSources(scene, path);
  for (int i = 0; i < file.mesh_count && scene->object_count < KV_MAX_OBJECTS; i++) {
    kroMesh *mesh = &file.meshes[i];
    kvObject *object = &scene->objects[scene->object_count++];
    object->op = mesh->op, object->nc = mesh->nc, object->realn = mesh->realn;
    object->tc = mesh->tc, object->triangles = mesh->triangles, object->number = i + 1;
    mesh->op = mesh->nc = mesh->realn = mesh->tc = nullptr;
    snprintf(object->name, sizeof object->name, "%s", mesh->node_name);
    if (!object->name[0])
      snprintf(object->name, sizeof object->name, "object %d", i + 1);
    kvColourObject(object, mesh->material_ref, file.materials, file.material_count);
    object->material = mesh->material_ref;
    scene->triangles += object->triangles;
  }
  scene->beyond_limit = file.mesh_count - scene->object_count;
  scene->materials = file.materials;
  scene->material_count = file.material_count;
  file.materials = nullptr;
  kroFreeScene(&file);
  return 1;
}

/* ---- bounds and view units ---------------------------------------------- */

static void kvMeasureScene(kvScene *scene) {
  float low[3] = {INFINITY, INFINITY, INFINITY}, high[3] = {-INFINITY, -INFINITY, -INFINITY};
  for (int i = 0; i < scene->object_count; i++) {
    const kvObject *object = &scene->objects[i];
    for (int t = 0; t < object->triangles; t++)
      for (int k = 0; k < 9; k++) {
        float v = object->op[t][k];
        if (isfinite(v)) {
          low[k % 3] = fminf(low[k % 3], v);
          high[k % 3] = fmaxf(high[k % 3], v);
        }
      }
  }
  float squares = 0.0f;
  for (int k = 0; k < 3; k++) {
    if (low[k] > high[k])
      low[k] = high[k] = 0.0f;
    scene->centre[k] = 0.5f * (low[k] + high[k]);
    squares += (high[k] - low[k]) * (high[k] - low[k]);
  }
  scene->radius = 0.5f * sqrtf(squares);
  if (!(scene->radius > KV_MIN_RADIUS))
    scene->radius = 1.0f;
  scene->floor = (low[1] - scene->centre[1]) / scene->radius;
  for (int k = 0; k < 3; k++)
    scene->half[k] = 0.5f * (high[k] - low[k]) / scene->radius;
}

/* The file's box, before any turn: what --info reports. */
static void kvKeepFileBounds(kvScene *scene) {
  for (int k = 0; k < 3; k++) {
    scene->low[k] = INFINITY;
    scene->high[k] = -INFINITY;
  }
  for (int i = 0; i < scene->object_count; i++)
    for (int t = 0; t < scene->objects[i].triangles; t++)
      for (int k = 0; k < 9; k++) {
        float v = scene->objects[i].op[t][k];
        if (isfinite(v)) {
          scene->low[k % 3] = fminf(scene->low[k % 3], v);
          scene->high[k % 3] = fmaxf(scene->high[k % 3], v);
        }
      }
}

static int kvIsZero(const float *normal) {
  return normal[0] * normal[0] + normal[1] * normal[1] + normal[2] * normal[2] <= 1e-12f;
}

static int kvLacksNormals(const kvObject *object) {
  for (int t = 0; t < object->triangles; t++)
    for (int v = 0; v < 9; v += 3)
      if (kvIsZero(&object->nc[t][v]))
        return 1;
  return 0;
}

/* A file without normals leaves them zero: such a vertex gets its face's
 * normal (zero for a triangle without area), as kroComputeNormals gives it.
 * The file's own normals, vertex and face, stay as they are. */
static void kvFillMissingNormals(kvObject *object) {
  if (!kvLacksNormals(object))
    return;
  uint32_t triangles = (uint32_t)object->triangles;
  kroObject flat = kroCopyObject(object->nc, triangles);
  kroObject faces = flat ? kroCopyRealNormals(object->realn, triangles) : nullptr;
  if (faces) { /* else reported; the object draws with what the file gave */
    kroComputeNormals(object->op, flat, faces, triangles, 0);
    for (uint32_t t = 0; t < triangles; t++)
      for (int v = 0; v < 9; v += 3)
        if (kvIsZero(&object->nc[t][v]))
          memcpy(&object->nc[t][v], &flat[t][v], 3 * sizeof(float));
  }
  kroDestroyObject(&flat, object->triangles);
  kroDestroyObject(&faces, object->triangles);
}

static void kvTurnRows(kroObject rows, int triangles, const float *matrix) {
  for (int t = 0; t < triangles; t++)
    for (int v = 0; v < 9; v += 3)
      kroApply3x3MatrixToVector(matrix, &rows[t][v]);
}

/* Which objects came with normals: a file without them leaves them all zero. */
static void kvNoteFileNormals(kvScene *scene) {
  for (int i = 0; i < scene->object_count; i++) {
    kvObject *object = &scene->objects[i];
    object->file_normals = 0;
    for (int t = 0; t < object->triangles && !object->file_normals; t++)
      for (int k = 0; k < 9; k++)
        if (object->nc[t][k] != 0.0f)
          object->file_normals = 1;
  }
}

/* Positions and normals turned so that the file's up axis is the view's +y. */
static void kvTurnUp(kvScene *scene, kvUp up) {
  if (up == KV_UP_PLUS_Y)
    return;
  float turn[9];
  kvUpTurn(up, turn);
  for (int i = 0; i < scene->object_count; i++) {
    kvObject *object = &scene->objects[i];
    kvTurnRows(object->op, object->triangles, turn);
    kvTurnRows(object->nc, object->triangles, turn);
  }
}

/* Centre, scale to a unit half-diagonal, and turn positions and normals. */
static void kvMoveIntoViewUnits(kvScene *scene) {
  float turn[9];
  kvPresentationTurn(turn);
  for (int i = 0; i < scene->object_count; i++) {
    kvObject *object = &scene->objects[i];
    kvFillMissingNormals(object);
    kroTranslateObject(object->op, (uint32_t)object->triangles, -scene->centre[0],
                       -scene->centre[1], -scene->centre[2]);
    kroScale1Object(object->op, (uint32_t)object->triangles, 1.0f / scene->radius);
    kvTurnRows(object->op, object->triangles, turn);
    kvTurnRows(object->nc, object->triangles, turn);
  }
}

int kvLoadScene(kvScene *scene, const char *path, char *why, int why_chars) {
  return kvLoadSceneUp(scene, path, KV_UP_PLUS_Y, why, why_chars);
}

int kvLoadSceneUp(kvScene *scene, const char *path, kvUp up, char *why, int why_chars) {
  memset(scene, 0, sizeof *scene);
  /* The file itself first: missing, unreadable or no ASE text at all, said
   * before the engine's readers report on it. */
  FILE *stream = fopen(path, "r");
  if (!stream) {
    snprintf(why, (size_t)why_chars, "cannot open %s: %s", path, strerror(errno));
    return -1;
  }
  char word[2] = ""; /* a UTF-16 file is read as UTF-8, as every reader reads it */
  kroReadASEFirstWord(stream, word, 1); /* a folder opens but cannot be read */
  int format = ferror(stream) ? KRO_SCENE_UNKNOWN : kroSceneFormatOf(path);
  int other = format == KRO_SCENE_OBJ || format == KRO_SCENE_GLTF; /* not ASE */
  if (!other && (ferror(stream) || (word[0] != '\0' && word[0] != '*'))) {
    if (ferror(stream))
      snprintf(why, (size_t)why_chars, "cannot read %s: %s", path, strerror(errno));
    else
      snprintf(why, (size_t)why_chars, "%s: not an ASE, OBJ or glTF file", path);
    fclose(stream);
    return -1;
  }
  rewind(stream);
  scene->format = format;
  scene->objects = (kvObject *)calloc(KV_MAX_OBJECTS, sizeof(kvObject));
  if (!scene->objects) {
    fclose(stream);
    snprintf(why, (size_t)why_chars, "out of memory");
    return -1;
  }
  kroMaterial *materials = nullptr;
  long before = kvMessages, *offsets = nullptr;
  int count = 0;
  if (other) {
    count = kvReadSceneObjects(scene, path) ? scene->object_count : 0;
    materials = scene->materials;
  } else {
    /* The maps' textures wait for GL (kvBuildSceneLists). */
    scene->material_count = kroLoadMaterialsWithMapsFromASE(&materials, path, nullptr, 0, 0);
    count = kroObjectOffsetsInASE(path, &offsets);
    kvReadObjects(scene, stream, offsets, count, materials);
  }
  free(offsets);
  fclose(stream);
  scene->materials = materials;
  scene->path = strdup(path);
  if (scene->object_count == 0) {
    if (count == 0 && kvMessages != before)
      snprintf(why, (size_t)why_chars, "%s was refused", path);
    else if (scene->refused_count > 0)
      snprintf(why, (size_t)why_chars, "every geometry object of %s was refused", path);
    else
      snprintf(why, (size_t)why_chars, "%s holds no geometry object", path);
    kvFreeScene(scene);
    return -1;
  }
  kvKeepFileBounds(scene);
  kvNoteFileNormals(scene);
  kvTurnUp(scene, up);
  scene->up = up;
  kvMeasureScene(scene);
  kvMoveIntoViewUnits(scene);
  return 0;
}

/* ---- drawing ------------------------------------------------------------ */

/* ---- textures ----------------------------------------------------------- */

/* The engine's lit drawing with the surface colour taken from texture unit 0
 * (through its texture matrix) times the front ambient colour. */
static const char *const KV_TEXTURED_VERTEX =
    "varying vec3 pos;\n"
    "varying vec3 normal;\n"
    "void main()\n"
    "{\n"
    "  pos = vec3(gl_ModelViewMatrix * gl_Vertex);\n"
    "  normal = normalize(gl_NormalMatrix * gl_Normal);\n"
    "  gl_TexCoord[0] = gl_TextureMatrix[0] * gl_MultiTexCoord0;\n"
    "  gl_Position = gl_ModelViewProjectionMatrix * gl_Vertex;\n"
    "}\n";
static const char *const KV_TEXTURED_FRAGMENT =
    "uniform sampler2D picture;\n"
    "varying vec3 pos;\n"
    "varying vec3 normal;\n"
    "vec4 surface;\n"
    "vec4 lightContribution(gl_LightSourceParameters light, vec3 n)\n"
    "{\n"
    "  vec3 to_light = normalize(light.position.xyz - pos);\n"
    "  vec3 half_vector = normalize(to_light - normalize(pos));\n"
    "  float diffuse = max(dot(n, to_light), 0.0);\n"
    "  float specular = diffuse > 0.0 ? pow(max(dot(n, half_vector), 0.0),\n"
    "                                       gl_FrontMaterial.shininess) : 0.0;\n"
    "  return surface * light.ambient * diffuse + light.ambient * specular * 0.5;\n"
    "}\n"
    "void main()\n"
    "{\n"
    "  vec3 n = normalize(normal);\n"
    "  surface = gl_FrontMaterial.ambient * texture2D(picture, gl_TexCoord[0].st);\n"
    "  vec4 color = gl_LightModel.ambient * surface + gl_FrontMaterial.emission;\n"
    "  if (dot(n, n) > 0.0) {\n"
    "    color += lightContribution(gl_LightSource[0], n);\n"
    "    color += lightContribution(gl_LightSource[1], n);\n"
    "  }\n"
    "  gl_FragColor = vec4(color.rgb, 1.0);\n"
    "}\n";

static kroShader kvTexturedProgram;
static int kvTexturedTried = 0; /* built once per process; 0 program: draw colours only */

static GLhandleARB kvTextured(void) {
  if (!kvTexturedTried) {
    kvTexturedTried = 1;
    long before = kvMessages;
    kroCreateShaderVF(&kvTexturedProgram, KV_TEXTURED_VERTEX, KV_TEXTURED_FRAGMENT);
    if (kvMessages != before)
      kvTexturedProgram.program = 0;
  }
  return kvTexturedProgram.program;
}

static void kvForgetMapFiles(kvScene *scene) {
  for (int i = 0; i < scene->map_file_count; i++)
    free(scene->map_files[i].path);
  free(scene->map_files);
  scene->map_files = nullptr;
  scene->map_file_count = 0;
}

int kvFindMap(const kvScene *scene, const char *bitmap, char *found, int found_chars) {
  if (scene->format != KRO_SCENE_OBJ)
    return kroFindMapFile(bitmap, scene->path, nullptr, 0, found, found_chars);
  for (int i = 0; i < scene->source_count; i++)
    if (kroFindMapFile(bitmap, scene->sources[i], nullptr, 0, found, found_chars))
      return 1;
  return 0;
}

/* An OBJ or glTF file's materials with their textures made as the engine's loading call makes
 * them (pictures inside a glTF file, an OBJ file's beside its library), in place of the
 * scene's records; those stay, their textures made by name, when the file now gives another
 * list. */
static void kvMakeSceneTextures(kvScene *scene) {
  int maps = 0; /* a file without maps is not read again */
  for (int i = 0; i < scene->material_count; i++)
    for (const kroMaterialMap &map : scene->materials[i].map)
      maps += map.bitmap[0] || map.state != KRO_MAP_NONE;
  if (!maps)
    return;
  kroScene file;
  kroMaterial *fresh = nullptr;
  int count = 0;
  if (scene->format == KRO_SCENE_GLTF) {
    count = kroLoadMaterialsFromGLTF(&fresh, scene->path, 1);
  } else {
    kroLoadScene(&file, scene->path, 1);
    fresh = file.materials, count = file.material_count;
    file.materials = nullptr, file.material_count = 0;
    kroFreeScene(&file);
  }
  if (count != scene->material_count) {
    kroFreeMaterials(&fresh, count);
    kroLoadMaterialTextures(scene->materials, scene->material_count, scene->path, nullptr, 0);
    return;
  }
  kroFreeMaterials(&scene->materials, scene->material_count);
  scene->materials = fresh;
}

/* The textures of every map, the pictures kept for watching, the first
 * missing or refused map for the overlay. */
static void kvMakeMapTextures(kvScene *scene) {
  scene->maps_tried = 1;
  if (!scene->materials)
    return;
  if (scene->format == KRO_SCENE_OBJ || scene->format == KRO_SCENE_GLTF)
    kvMakeSceneTextures(scene);
  else
    kroLoadMaterialTextures(scene->materials, scene->material_count, scene->path, nullptr, 0);
  kvForgetMapFiles(scene);
  scene->maps_missing = 0;
  scene->map_problem[0] = 0;
  int slots = scene->material_count * KRO_MATERIAL_MAPS;
  scene->map_files = (kvMapFile *)calloc((size_t)slots, sizeof(kvMapFile));
  char found[KV_WATCH_PATH];
  for (int i = 0; i < scene->material_count; i++)
    for (int k = 0; k < KRO_MATERIAL_MAPS; k++) {
      const kroMaterialMap *map = &scene->materials[i].map[k];
      if (map->state == KRO_MAP_MISSING || map->state == KRO_MAP_DAMAGED) {
        if (!scene->maps_missing++)
          snprintf(scene->map_problem, sizeof scene->map_problem, "%s map \"%.160s\" %s",
                   kroMapKindName(k), map->bitmap, kroMapStateName(map->state));
      }
      if (scene->map_files && (map->state == KRO_MAP_LOADED || map->state == KRO_MAP_DAMAGED) &&
          map->bitmap[0] && kvFindMap(scene, map->bitmap, found, sizeof found)) {
        kvMapFile *file = &scene->map_files[scene->map_file_count];
        file->path = strdup(found);
        if (file->path) {
          kroStampFile(file->path, &file->stamp);
          scene->map_file_count++;
        }
      }
    }
}

int kvMapsChanged(const kvScene *scene) {
  for (int i = 0; i < scene->map_file_count; i++) {
    kroFileStamp now;
    kroStampFile(scene->map_files[i].path, &now);
    if (!kroSameFileStamp(&now, &scene->map_files[i].stamp))
      return 1;
  }
  return 0;
}

int kvReloadMaps(kvScene *scene) {
  int made = 0;
  for (int i = 0; i < scene->material_count; i++) {
    kroMaterial *material = &scene->materials[i];
    kroDestroyMaterial(material);
    memset(material->texture, 0, sizeof material->texture);
  }
  scene->maps_tried = 0;
  kvBuildSceneLists(scene);
  for (int i = 0; i < scene->material_count; i++)
    for (int k = 0; k < KRO_MATERIAL_MAPS; k++)
      made += scene->materials[i].texture[k] != 0;
  return made;
}

/* ---- drawing ------------------------------------------------------------ */

/* 1 when the file gave the object texture coordinates (rows it does not fill read 0). */
static int kvHasTexCoords(const kvObject *object) {
  for (int t = 0; object->tc && t < object->triangles; t++)
    for (int k = 0; k < KRO_TEXCOORD_FLOATS; k++)
      if (object->tc[t][k] != 0.0f)
        return 1;
  return 0;
}

/* The object's material's diffuse map, when the object can be drawn with it: an object without
 * texture coordinates keeps its colour. */
static const kroMaterial *kvObjectMap(const kvScene *scene, const kvObject *object) {
  if (scene->hide_textures || !scene->materials || object->material < 0 ||
      object->material >= scene->material_count)
    return nullptr;
  const kroMaterial *material = &scene->materials[object->material];
  return material->texture[KRO_MAP_DIFFUSE] && kvHasTexCoords(object) ? material : nullptr;
}

/* Texture coordinates, normals and positions, one vertex at a time. */
static void kvDrawTexturedTriangles(const kvObject *object) {
  glBegin(GL_TRIANGLES);
  for (int t = 0; t < object->triangles; t++)
    for (int v = 0; v < 3; v++) {
      glTexCoord2fv(&object->tc[t][2 * v]);
      glNormal3fv(&object->nc[t][3 * v]);
      glVertex3fv(&object->op[t][3 * v]);
    }
  glEnd();
}

/* The lit drawing sets a fixed front ambient colour, which its program uses
 * as the surface colour. With colour tracking on for the front ambient that
 * setting is ignored and the current colour stands in its place. A textured
 * object takes white there and its picture through the textured program,
 * after the engine's lit drawing (of no triangles) has set the lights. */
void kvBuildSceneLists(kvScene *scene) {
  if (!scene->maps_tried)
    kvMakeMapTextures(scene);
  for (int i = 0; i < scene->object_count; i++) {
    kvObject *object = &scene->objects[i];
    const kroMaterial *material = kvObjectMap(scene, object);
    GLhandleARB textured = material ? kvTextured() : 0;
    object->textured = textured != 0;
    if (!object->list)
      object->list = glGenLists(1);
    glNewList(object->list, GL_COMPILE);
    glColorMaterial(GL_FRONT, GL_AMBIENT);
    glEnable(GL_COLOR_MATERIAL);
    if (!textured) {
      glColor3fv(object->colour);
      kroDrawLightMaterialNormalsObject(nullptr, nullptr, nullptr, object->nc, object->op,
                                        (uint32_t)object->triangles);
    } else {
      glColor3f(1.0f, 1.0f, 1.0f);
      kroDrawLightMaterialNormalsObject(nullptr, nullptr, nullptr, object->nc, object->op, 0);
      glUseProgramObjectARB(textured);
      glBindTexture(GL_TEXTURE_2D, material->texture[KRO_MAP_DIFFUSE]);
      kroLoadMapTransform(&material->map[KRO_MAP_DIFFUSE]);
      kvDrawTexturedTriangles(object);
      glMatrixMode(GL_TEXTURE);
      glLoadIdentity();
      glMatrixMode(GL_MODELVIEW);
      glBindTexture(GL_TEXTURE_2D, 0);
    }
    glDisable(GL_COLOR_MATERIAL);
    glEndList();
  }
}

void kvDrawScene(const kvScene *scene) {
  for (int i = 0; i < scene->object_count; i++)
    if (scene->objects[i].list)
      glCallList(scene->objects[i].list);
  glUseProgramObjectARB(0);
}

void kvDrawTriangles(const kvObject *object) {
  glBegin(GL_TRIANGLES);
  for (int t = 0; t < object->triangles; t++)
    for (int v = 0; v < 9; v += 3)
      glVertex3fv(&object->op[t][v]);
  glEnd();
}

/* Fixed-function lines; the engine's program is off and the depth test too, so
 * the outline shows through the object's own faces and whatever stands before it. */
void kvDrawOutline(const kvScene *scene, int index) {
  if (index < 0 || index >= scene->object_count)
    return;
  const kvObject *object = &scene->objects[index];
  glPushAttrib(GL_ENABLE_BIT | GL_POLYGON_BIT | GL_CURRENT_BIT);
  glUseProgramObjectARB(0);
  glDisable(GL_LIGHTING);
  glDisable(GL_TEXTURE_2D);
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_CULL_FACE);
  glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
  glColor3fv(KV_HIGHLIGHT);
  kvDrawTriangles(object);
  glPopAttrib();
}

int kvFindObject(const kvScene *scene, const char *which) {
  char *end;
  long number = strtol(which, &end, 10);
  int is_number = which[0] != '\0' && *end == '\0';
  for (int i = 0; i < scene->object_count; i++)
    if (is_number ? number == scene->objects[i].number : strcmp(scene->objects[i].name, which) == 0)
      return i;
  return -1;
}

void kvFreeScene(kvScene *scene) {
  kroFreeMaterials(&scene->materials, scene->material_count);
  kvForgetMapFiles(scene);
  free(scene->sources);
  free(scene->source_stamps);
  free(scene->path);
  if (scene->objects) {
    for (int i = 0; i < scene->object_count; i++) {
      if (scene->objects[i].list)
        glDeleteLists(scene->objects[i].list, 1);
      kvDropObject(&scene->objects[i]);
    }
    free(scene->objects);
  }
  memset(scene, 0, sizeof *scene);
}

/* ---- picking ------------------------------------------------------------ */

/* Ray parameter of the hit with one triangle, or a negative number. */
static float kvRayTriangle(const float *o, const float *d, const float *p) {
  const float eps = 1e-9f;
  float e1[3], e2[3], s[3], h[3], q[3];
  for (int k = 0; k < 3; k++) {
    e1[k] = p[3 + k] - p[k];
    e2[k] = p[6 + k] - p[k];
    s[k] = o[k] - p[k];
  }
  h[0] = d[1] * e2[2] - d[2] * e2[1];
  h[1] = d[2] * e2[0] - d[0] * e2[2];
  h[2] = d[0] * e2[1] - d[1] * e2[0];
  float a = e1[0] * h[0] + e1[1] * h[1] + e1[2] * h[2];
  if (fabsf(a) < eps)
    return -1.0f;
  float u = (s[0] * h[0] + s[1] * h[1] + s[2] * h[2]) / a;
  if (u < 0.0f || u > 1.0f)
    return -1.0f;
  q[0] = s[1] * e1[2] - s[2] * e1[1];
  q[1] = s[2] * e1[0] - s[0] * e1[2];
  q[2] = s[0] * e1[1] - s[1] * e1[0];
  float v = (d[0] * q[0] + d[1] * q[1] + d[2] * q[2]) / a;
  if (v < 0.0f || u + v > 1.0f)
    return -1.0f;
  return (e2[0] * q[0] + e2[1] * q[1] + e2[2] * q[2]) / a;
}

int kvPickObject(const kvScene *scene, const float *origin, const float *direction, float *dist) {
  int best = -1;
  float nearest = INFINITY;
  for (int i = 0; i < scene->object_count; i++) {
    const kvObject *object = &scene->objects[i];
    for (int t = 0; t < object->triangles; t++) {
      float hit = kvRayTriangle(origin, direction, object->op[t]);
      if (hit > 0.0f && hit < nearest) {
        nearest = hit;
        best = i;
      }
    }
  }
  if (dist)
    *dist = nearest;
  return best;
}
