/*
 * ASE materials and lights: the material list of an ASE file into an array of
 * kroMaterial records (each "*MATERIAL n" block fills record n), their
 * release, and the light entry (which loads none).
 * Depends on: kro_ase.cpp (token reader), kro_error.cpp, GL (texture names).
 */
#include "kro.h"
#include "kro_ase_reader.h"
#include "kro_internal.h"

#include <stdlib.h>
#include <string.h>

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

/* One token after the first *MATERIAL. Bitmap names are read and not used. */
static int kroReadMaterialToken(kroASEReader *in, kroMaterialWalk *walk) {
  char bitmap[KRO_ASE_BITMAP_CHARS + 1];
  kroFollowMaterialBlocks(in, walk);
  if (walk->naming) {
    kroAddToMaterialName(in, walk);
    return 1;
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

int kroLoadMaterialsFromASE(kroMaterial **materials, const char *path) {
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
  int ok = 1, status;
  /* Text (a quoted name, the rest of a value's word) is never a keyword nor a
   * brace; it matters only as part of the selected material's name. */
  while (ok && (status = kroReadASEToken(&in)) == 1)
    if (!in.text_only || walk.naming)
      ok = walk.listing ? kroReadMaterialToken(&in, &walk) : kroReadMaterialHeader(&in, &walk);
  if (ok)
    ok = status == 0 && kroCheckASEComplete(&in);
  fclose(stream);
  if (!ok || walk.count < 0) {
    free(walk.array);
    return 0;
  }
  *materials = walk.array;
  return walk.count;
}

void kroDestroyMaterial(kroMaterial *material) {
  for (int i = 0; i < 5; i++)
    glDeleteTextures(1, &material->texture[i]);
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
