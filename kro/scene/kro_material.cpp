/*
 * ASE materials and lights: the material list of an ASE file into an array of
 * kroMaterial records (each "*MATERIAL n" block fills record n), with or
 * without each material's picture maps (found on disk and made into
 * textures), their release, and the light entry (which loads none).
 * Depends on: kro_ase.cpp (token reader), kro_error.cpp, kro_picture.cpp
 * (kroDecodePicture), kro_texture.cpp (kroCreateTexture), GL (texture names).
 */
#include "kro.h"
#include "kro_ase_reader.h"
#include "kro_internal.h"

#include <dirent.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>

/* The keywords of the map blocks a material keeps, in kroMapKind order. */
static const char *const KRO_MAP_KEYWORDS[KRO_MATERIAL_MAPS] = {
    "*MAP_DIFFUSE", "*MAP_BUMP", "*MAP_SPECULAR", "*MAP_OPACITY", "*MAP_REFLECT"};

/* A map block being read: which material part it belongs to and its values so far. */
typedef struct kroMapBlock {
  int state;  /* KRO_ASE_OUTSIDE, _HEAD or _BODY */
  int depth;  /* reader depth at its keyword; its own values lie one deeper */
  int kind;   /* kroMapKind, or -1 for a map the material does not keep */
  int in_sub; /* it lies in a sub-material */
  kroMaterialMap map;
} kroMapBlock;

/* Where the reading stands. Before the first *MATERIAL only the count is
 * looked for; from there on each "*MATERIAL n { ... }" fills record n. */
typedef struct kroMaterialWalk {
  kroMaterial *array;
  int count;       /* -1 until *MATERIAL_COUNT */
  int listing;     /* a first *MATERIAL has been met */
  int selected;    /* record the properties go to; -1 outside a material */
  int block;       /* KRO_ASE_OUTSIDE, _HEAD or _BODY of the selected material */
  int block_depth; /* reader depth at its *MATERIAL */
  int in_map;      /* inside the selected material's texture-map section */
  int maps_seen;   /* a "*MAP" token was met: bitmap names are read from here on */
  int sub_state;   /* a *SUBMATERIAL block, whose values are not its parent's */
  int sub_depth;   /* reader depth at that *SUBMATERIAL */
  int naming;      /* the selected material's name continues in the next token */
  int with_maps;   /* map blocks are read (kroLoadMaterialsWithMapsFromASE) */
  kroMapBlock map; /* the map block being read, with_maps only */
  int list_state;  /* KRO_ASE_OUTSIDE, _HEAD or _BODY of *MATERIAL_LIST, with_maps only */
  int list_depth;  /* reader depth at *MATERIAL_LIST */
  int list_done;   /* the *MATERIAL_LIST block has ended: nothing more is read */
} kroMaterialWalk;

/* A new array of count records, each without textures, black and opaque; null
 * for count 0. Returns 0 (reported) when the allocation fails. */
static int kroTakeMaterials(kroMaterial **array, int count) {
  *array = nullptr;
  if (count == 0)
    return 1;
  *array = (kroMaterial *)kroAllocate((size_t)count * sizeof(kroMaterial));
  if (!*array) {
    kroFail("Error during allocating memory in kroLoadMaterialsFromASE(..)\n");
    return 0;
  }
  memset(*array, 0, (size_t)count * sizeof(kroMaterial));
  for (int i = 0; i < count; i++)
    (*array)[i].opacity = 1.0f;
  return 1;
}

/* "*MATERIAL n": checks n against the count and selects record n. */
static int kroSelectMaterial(kroASEReader *in, kroMaterialWalk *walk) {
  int number;
  if (!kroReadASEInt(in, &number))
    return 0;
  if (walk->count < 0) {
    kroFailASE(in, "*MATERIAL comes before *MATERIAL_COUNT");
    return 0;
  }
  if (number < 0 || number >= walk->count) {
    kroFailASE(in, "material %d of *MATERIAL is outside 0..%d", number, walk->count - 1);
    return 0;
  }
  kroMaterial *material = &walk->array[number];
  material->flag = 0;
  memset(material->texture, 0, sizeof material->texture);
  if (walk->with_maps) {
    memset(material->map, 0, sizeof material->map);
    walk->map.state = KRO_ASE_OUTSIDE;
  }
  walk->listing = 1;
  walk->selected = number;
  walk->block = KRO_ASE_HEAD;
  walk->block_depth = in->depth;
  walk->in_map = 0;
  walk->naming = 0;
  return 1;
}

/* Before the first *MATERIAL: the count, given once. */
static int kroReadMaterialHeader(kroASEReader *in, kroMaterialWalk *walk) {
  if (!strcmp(in->token, "*MATERIAL_COUNT")) {
    if (walk->count >= 0) {
      kroFailASE(in, "*MATERIAL_COUNT is given twice");
      return 0;
    }
    return kroReadASECount(in, in->token, &walk->count) &&
           kroTakeMaterials(&walk->array, walk->count);
  }
  if (strcmp(in->token, "*MATERIAL"))
    return 1;
  return kroSelectMaterial(in, walk);
}

/* One token of a material name: its quotes dropped, joined to what came
 * before with one blank, the whole cut to KRO_ASE_NAME_CHARS. The name ends
 * with the token that leaves the quoted text (a name without quotes is one
 * token). */
static void kroAddToMaterialName(const kroASEReader *in, kroMaterialWalk *walk) {
  char *name = walk->array[walk->selected].name;
  size_t length = strlen(name);
  if (length > 0 && length < KRO_ASE_NAME_CHARS)
    name[length++] = ' ';
  for (const char *c = in->token; *c && length < KRO_ASE_NAME_CHARS; c++)
    if (*c != '"')
      name[length++] = *c;
  name[length] = 0;
  walk->naming = in->in_quotes;
}

/* The colour, transparency and name of the selected record, outside its map section. */
static int kroReadMaterialProperty(kroASEReader *in, kroMaterialWalk *walk) {
  kroMaterial *material = &walk->array[walk->selected];
  if (!strcmp(in->token, "*MATERIAL_NAME")) {
    material->name[0] = 0;
    walk->naming = 1;
    return 1;
  }
  if (!strcmp(in->token, "*MATERIAL_DIFFUSE"))
    return kroReadASEFloat(in, &material->diffuse[0]) &&
           kroReadASEFloat(in, &material->diffuse[1]) && kroReadASEFloat(in, &material->diffuse[2]);
  if (!strcmp(in->token, "*MATERIAL_TRANSPARENCY")) {
    float transparency;
    if (!kroReadASEFloat(in, &transparency))
      return 0;
    material->opacity = 1.0f - transparency;
  }
  return 1;
}

/* Moves the block states past the token just read: the end of the selected
 * material's block ends its selection and its map section. */
static void kroFollowMaterialBlocks(kroASEReader *in, kroMaterialWalk *walk) {
  kroFollowASEBlock(in, &walk->sub_state, walk->sub_depth);
  if (walk->block == KRO_ASE_OUTSIDE)
    return;
  kroFollowASEBlock(in, &walk->block, walk->block_depth);
  if (walk->block == KRO_ASE_OUTSIDE) {
    walk->selected = -1;
    walk->in_map = 0;
    walk->naming = 0;
  }
}

/* A finished map block goes to the selected material: the material's own
 * map replaces what is there, a sub-material's fills only a kind still
 * empty. A block without a picture name leaves the material as it was. */
static void kroKeepMap(kroMaterialWalk *walk) {
  kroMapBlock *block = &walk->map;
  if (block->kind < 0 || walk->selected < 0 || !block->map.bitmap[0])
    return;
  kroMaterialMap *kept = &walk->array[walk->selected].map[block->kind];
  if (block->in_sub && kept->bitmap[0])
    return;
  *kept = block->map;
}

/* Inside the selected material: a map block's keyword starts one; its
 * picture name and transform are read at its own level (deeper blocks, such
 * as a map within the map, are passed over). 1 when the token was taken
 * here, 0 when the caller goes on with it as kroLoadMaterialsFromASE would;
 * -1 on a refused value. */
static int kroReadMapToken(kroASEReader *in, kroMaterialWalk *walk) {
  kroMapBlock *block = &walk->map;
  if (block->state != KRO_ASE_OUTSIDE) {
    int was = block->state;
    kroFollowASEBlock(in, &block->state, block->depth);
    if (was == KRO_ASE_HEAD && block->state == KRO_ASE_HEAD)
      block->state = KRO_ASE_OUTSIDE; /* a keyword without a block: nothing to read */
    else if (block->state == KRO_ASE_OUTSIDE)
      kroKeepMap(walk);
  }
  if (block->state == KRO_ASE_BODY) {
    if (in->depth != block->depth + 1)
      return 0;
    kroMaterialMap *map = &block->map;
    if (!strcmp(in->token, "*BITMAP"))
      return kroReadASEQuoted(in, map->bitmap, KRO_MAP_NAME_CHARS, "bitmap name") ? 1 : -1;
    static const char *const values[5] = {"*UVW_U_OFFSET", "*UVW_V_OFFSET", "*UVW_U_TILING",
                                          "*UVW_V_TILING", "*UVW_ANGLE"};
    float *fields[5] = {&map->u_offset, &map->v_offset, &map->u_tiling, &map->v_tiling,
                        &map->angle};
    for (int k = 0; k < 5; k++)
      if (!strcmp(in->token, values[k]))
        return kroReadASEFloat(in, fields[k]) ? 1 : -1;
    return 0;
  }
  if (walk->selected < 0 || strncmp(in->token, "*MAP_", 5))
    return 0;
  block->kind = -1;
  for (int k = 0; k < KRO_MATERIAL_MAPS; k++)
    if (!strcmp(in->token, KRO_MAP_KEYWORDS[k]))
      block->kind = k;
  if (block->kind < 0)
    return 0; /* *MAP_NAME, *MAP_CLASS ... and the maps not kept are passed over */
  block->state = KRO_ASE_HEAD;
  block->depth = in->depth;
  block->in_sub = walk->sub_state != KRO_ASE_OUTSIDE;
  memset(&block->map, 0, sizeof block->map);
  block->map.u_tiling = block->map.v_tiling = 1.0f;
  return 0; /* the caller still sees a token with "*MAP" in it */
}

/* One token after the first *MATERIAL. Bitmap names are read and not used
 * (with_maps: the map blocks' *BITMAP names are kept). */
static int kroReadMaterialToken(kroASEReader *in, kroMaterialWalk *walk) {
  char bitmap[KRO_ASE_BITMAP_CHARS + 1];
  kroFollowMaterialBlocks(in, walk);
  if (walk->naming) {
    kroAddToMaterialName(in, walk);
    return 1;
  }
  if (walk->with_maps) {
    int taken = kroReadMapToken(in, walk);
    if (taken != 0)
      return taken > 0;
  }
  if (walk->maps_seen && !strcmp(in->token, "*BITMAPA"))
    return kroReadASEQuoted(in, bitmap, KRO_ASE_BITMAP_CHARS, "bitmap name");
  int in_sub = walk->sub_state != KRO_ASE_OUTSIDE;
  if (strstr(in->token, "*MAP")) {
    walk->maps_seen = 1;
    walk->in_map |= !in_sub;
    return 1;
  }
  if (in_sub)
    return 1;
  if (!strcmp(in->token, "*SUBMATERIAL")) {
    walk->sub_state = KRO_ASE_HEAD;
    walk->sub_depth = in->depth;
    return 1;
  }
  if (!strcmp(in->token, "*MATERIAL"))
    return kroSelectMaterial(in, walk);
  if (walk->selected < 0 || walk->in_map)
    return 1;
  return kroReadMaterialProperty(in, walk);
}

/* Follows *MATERIAL_LIST after the token just read; 1 when its block has
 * just ended. A keyword without a block is not a list. */
static int kroFollowMaterialList(const kroASEReader *in, kroMaterialWalk *walk) {
  if (walk->list_state == KRO_ASE_OUTSIDE) {
    if (!strcmp(in->token, "*MATERIAL_LIST")) {
      walk->list_state = KRO_ASE_HEAD;
      walk->list_depth = in->depth;
    }
    return 0;
  }
  int was = walk->list_state;
  kroFollowASEBlock(in, &walk->list_state, walk->list_depth);
  if (was == KRO_ASE_HEAD && walk->list_state == KRO_ASE_HEAD)
    walk->list_state = KRO_ASE_OUTSIDE;
  return was == KRO_ASE_BODY && walk->list_state == KRO_ASE_OUTSIDE;
}

/* The material list of path into *materials; the count, or 0 after a report. */
static int kroReadMaterials(kroMaterial **materials, const char *path, int with_maps) {
  FILE *stream = fopen(path, "r");
  if (!stream) {
    kroFail("Error in reading material from %s\n", path);
    return 0;
  }
  kroASEReader in;
  kroBeginASEReader(&in, stream, path, "material");
  kroMaterialWalk walk = {};
  walk.count = -1;
  walk.selected = -1;
  walk.with_maps = with_maps;
  int ok = 1, status;
  /* Text (a quoted name, the rest of a value's word) is never a keyword nor a
   * brace; it matters only as part of the selected material's name. */
  while (ok && (status = kroReadASEToken(&in)) == 1)
    if (!in.text_only || walk.naming) {
      ok = walk.listing ? kroReadMaterialToken(&in, &walk) : kroReadMaterialHeader(&in, &walk);
      if (ok && with_maps && !in.text_only && kroFollowMaterialList(&in, &walk)) {
        walk.list_done = 1;
        break;
      }
    }
  if (ok && !walk.list_done)
    ok = status == 0 && kroCheckASEComplete(&in);
  kroCloseASEStream(stream);
  if (!ok || walk.count < 0) {
    free(walk.array);
    return 0;
  }
  *materials = walk.array;
  return walk.count;
}

int kroLoadMaterialsFromASE(kroMaterial **materials, const char *path) {
  return kroReadMaterials(materials, path, 0);
}

/* ---- pictures of the maps ----------------------------------------------- */

static const char *const KRO_MAP_KIND_NAMES[KRO_MATERIAL_MAPS] = {"diffuse", "bump", "specular",
                                                                  "opacity", "reflect"};
static const char *const KRO_MAP_STATE_NAMES[] = {"not loaded", "loaded", "missing", "refused",
                                                  "inside the file"};

const char *kroMapKindName(int kind) {
  return kind >= 0 && kind < KRO_MATERIAL_MAPS ? KRO_MAP_KIND_NAMES[kind] : "unknown";
}

const char *kroMapStateName(int state) {
  return state >= KRO_MAP_NONE && state <= KRO_MAP_EMBEDDED ? KRO_MAP_STATE_NAMES[state]
                                                            : "unknown";
}

/* 1 when path names a regular file that opens for reading. */
static int kroIsReadableFile(const char *path) {
  struct stat info;
  if (stat(path, &info) != 0 || !S_ISREG(info.st_mode))
    return 0;
  FILE *file = fopen(path, "rb");
  if (!file)
    return 0;
  fclose(file);
  return 1;
}

/* folder/name into found when that file is readable (folder "" : name as it
 * is); with `any_case`, the first entry of folder (in name order) that
 * equals name ignoring case. */
static int kroTryMapFile(const char *folder, const char *name, int any_case, char *found,
                         int found_chars) {
  char candidate[KRO_OUT_PATH_CHARS];
  const char *separator = folder[0] && folder[strlen(folder) - 1] != '/' ? "/" : "";
  if (!any_case) {
    int length = snprintf(candidate, sizeof candidate, "%s%s%s", folder, separator, name);
    if (length < 0 || length >= (int)sizeof candidate || !kroIsReadableFile(candidate))
      return 0;
    snprintf(found, (size_t)found_chars, "%s", candidate);
    return 1;
  }
  DIR *dir = opendir(folder[0] ? folder : ".");
  if (!dir)
    return 0;
  char best[KRO_OUT_PATH_CHARS] = "";
  for (struct dirent *entry; (entry = readdir(dir)) != nullptr;) {
    if (strcasecmp(entry->d_name, name) || (best[0] && strcmp(entry->d_name, best) >= 0))
      continue;
    int length = snprintf(candidate, sizeof candidate, "%s%s%s", folder, separator, entry->d_name);
    if (length > 0 && length < (int)sizeof candidate && kroIsReadableFile(candidate))
      snprintf(best, sizeof best, "%s", entry->d_name);
  }
  closedir(dir);
  if (!best[0])
    return 0;
  snprintf(found, (size_t)found_chars, "%s%s%s", folder, separator, best);
  return 1;
}

int kroFindMapFile(const char *bitmap, const char *path, const char *const *folders,
                   int folder_count, char *found, int found_chars) {
  if (!bitmap || !bitmap[0] || found_chars <= 0)
    return 0;
  const char *base = bitmap;
  for (const char *c = bitmap; *c; c++)
    if (*c == '/' || *c == '\\')
      base = c + 1;
  char beside[KRO_OUT_PATH_CHARS] = "";
  const char *slash = path ? strrchr(path, '/') : nullptr;
  if (slash && slash - path < (long)sizeof beside - 1)
    snprintf(beside, sizeof beside, "%.*s", (int)(slash - path + 1), path);
  /* A relative name belongs to the model: its folder is tried before the working folder. */
  if (bitmap[0] != '/' && beside[0] && kroTryMapFile(beside, bitmap, 0, found, found_chars))
    return 1;
  if (kroTryMapFile("", bitmap, 0, found, found_chars))
    return 1;
  if (!base[0])
    return 0;
  for (int place = -1; place < folder_count; place++) {
    const char *folder = place < 0 ? (path ? beside : nullptr) : folders[place];
    if (!folder)
      continue;
    if (kroTryMapFile(folder, base, 0, found, found_chars) ||
        kroTryMapFile(folder, base, 1, found, found_chars))
      return 1;
  }
  return 0;
}

/* A texture of the picture at found; 0 with the reason in why. The size is
 * checked here so that only a failing GL (rare) reaches kroCreateTexture's
 * report and hook. */
static GLuint kroMakeMapTexture(const char *found, char *why, int why_chars) {
  int32_t size[2];
  uint8_t *pixels = kroDecodePicture(found, size, why, why_chars);
  if (!pixels)
    return 0;
  GLint largest = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largest);
  GLuint texture = 0;
  if (size[0] > largest || size[1] > largest)
    snprintf(why, (size_t)why_chars, "%d x %d pixels, the driver takes at most %d a side", size[0],
             size[1], (int)largest);
  else if (!(texture = kroCreateTexture(pixels, size)))
    snprintf(why, (size_t)why_chars, "the texture could not be made");
  free(pixels);
  return texture;
}

/* Finds every diffuse map with a picture name and no texture yet and makes
 * its texture; warnings for the pictures that cannot be used. Returns the
 * textures made. Only the diffuse map is drawn (kroDrawMesh), so the other
 * kinds keep their names and transforms and stay KRO_MAP_NONE. */
static int kroResolveMaps(kroMaterial *materials, int count, const char *path,
                          const char *const *folders, int folder_count) {
  char found[KRO_OUT_PATH_CHARS], why[KRO_PICTURE_REASON_CHARS];
  const char *source = path ? path : "a model without a file";
  const char *kind = KRO_MAP_KIND_NAMES[KRO_MAP_DIFFUSE];
  int made = 0;
  for (int i = 0; i < count; i++) {
    kroMaterialMap *map = &materials[i].map[KRO_MAP_DIFFUSE];
    GLuint *texture = &materials[i].texture[KRO_MAP_DIFFUSE];
    if (!map->bitmap[0] || *texture)
      continue;
    if (!kroFindMapFile(map->bitmap, path, folders, folder_count, found, sizeof found)) {
      map->state = KRO_MAP_MISSING;
      printf("Warning: %s, material %d: the %s map \"%s\" was not found\n", source, i, kind,
             map->bitmap);
      continue;
    }
    why[0] = 0;
    *texture = kroMakeMapTexture(found, why, sizeof why);
    map->state = *texture ? KRO_MAP_LOADED : KRO_MAP_DAMAGED;
    if (*texture)
      made++;
    else
      printf("Warning: %s, material %d: the %s map %s was refused: %s\n", source, i, kind, found,
             why);
  }
  fflush(stdout);
  return made;
}

int kroLoadMaterialsWithMapsFromASE(kroMaterial **materials, const char *path,
                                    const char *const *folders, int folder_count, int textures) {
  int count = kroReadMaterials(materials, path, 1);
  if (count > 0 && textures)
    kroResolveMaps(*materials, count, path, folders, folder_count);
  return count;
}

int kroLoadMaterialTextures(kroMaterial *materials, int count, const char *path,
                            const char *const *folders, int folder_count) {
  return materials ? kroResolveMaps(materials, count, path, folders, folder_count) : 0;
}

void kroLoadMapTransform(const kroMaterialMap *map) {
  float c = cosf(map->angle), s = sinf(map->angle);
  /* Column order: s = a u + b v + e, t = c' u + d v + f, the centre kept at 0.5. */
  float a = map->u_tiling * c, b = -map->u_tiling * s;
  float cc = map->v_tiling * s, d = map->v_tiling * c;
  float e = 0.5f + map->u_offset - 0.5f * (a + b);
  float f = 0.5f + map->v_offset - 0.5f * (cc + d);
  const GLfloat matrix[16] = {a, cc, 0, 0, b, d, 0, 0, 0, 0, 1, 0, e, f, 0, 1};
  GLint mode = GL_MODELVIEW;
  glGetIntegerv(GL_MATRIX_MODE, &mode);
  glMatrixMode(GL_TEXTURE);
  glLoadMatrixf(matrix);
  glMatrixMode((GLenum)mode);
}

/* The names are zeroed once deleted: GL may hand them out again, and a later
 * kroFreeMaterials or kroDestroyMaterial must not delete another owner's texture. */
void kroDestroyMaterial(kroMaterial *material) {
  for (int i = 0; i < 5; i++) {
    glDeleteTextures(1, &material->texture[i]);
    material->texture[i] = 0;
  }
}

void kroFreeMaterials(kroMaterial **materials, int count) {
  if (*materials) {
    /* Only records that hold a texture need GL (and so a context). */
    for (int i = 0; i < count; i++) {
      kroMaterial *material = &(*materials)[i];
      for (int k = 0; k < 5; k++)
        if (material->texture[k]) {
          kroDestroyMaterial(material);
          break;
        }
    }
    free(*materials);
  }
  *materials = nullptr;
}

int kroLoadLightsFromASE(void) {
  return 0;
}
