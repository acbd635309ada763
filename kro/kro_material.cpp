/*
 * ASE materials and lights: the material list of an ASE file into an array of
 * kroMaterial records, their release, and the light entry (which loads none).
 * Depends on: kro_ase.cpp (token reader), kro_error.cpp, GL (texture names).
 */
#include "kro.h"
#include "kro_ase_reader.h"
#include "kro_internal.h"

#include <stdlib.h>
#include <string.h>

/* The three phases of the material list: before the first *MATERIAL, its
 * properties, and the texture maps from the first "*MAP" token on. */
enum { KRO_MATERIAL_HEADER, KRO_MATERIAL_PROPERTIES, KRO_MATERIAL_MAPS };

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

/* Handles one token of the header phase; 0 after a reported failure. */
static int kroReadMaterialHeader(kroASEReader *in, kroMaterial **array, int *count, int *selected,
                                 int *phase) {
  if (!strcmp(in->token, "*MATERIAL_COUNT")) {
    if (*count >= 0) {
      kroFailASE(in, "*MATERIAL_COUNT is given twice");
      return 0;
    }
    return kroReadASECount(in, in->token, count) && kroTakeMaterials(array, *count);
  }
  if (strcmp(in->token, "*MATERIAL"))
    return 1;
  int number;
  if (!kroReadASEInt(in, &number))
    return 0;
  if (*count < 0) {
    kroFailASE(in, "*MATERIAL comes before *MATERIAL_COUNT");
    return 0;
  }
  if (number < 0 || number >= *count) {
    kroFailASE(in, "material %d of *MATERIAL is outside 0..%d", number, *count - 1);
    return 0;
  }
  kroMaterial *material = &(*array)[number];
  material->flag = 0;
  memset(material->texture, 0, sizeof material->texture);
  *selected = number;
  *phase = KRO_MATERIAL_PROPERTIES;
  return 1;
}

/* Every property of the file lands in the one record selected first. */
static int kroReadMaterialProperty(kroASEReader *in, kroMaterial *material, int *phase) {
  if (strstr(in->token, "*MAP")) {
    *phase = KRO_MATERIAL_MAPS;
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

/* Texture maps: bitmap names are read and not used. */
static int kroReadMaterialMap(kroASEReader *in) {
  char bitmap[KRO_ASE_BITMAP_CHARS + 1];
  if (strcmp(in->token, "*BITMAPA"))
    return 1;
  return kroReadASEQuoted(in, bitmap, KRO_ASE_BITMAP_CHARS, "bitmap name");
}

int kroLoadMaterialsFromASE(kroMaterial **materials, const char *path) {
  FILE *stream = fopen(path, "r");
  if (!stream) {
    kroFail("Error in reading material from %s\n", path);
    return 0;
  }
  kroASEReader in;
  kroBeginASEReader(&in, stream, path, "material");
  kroMaterial *array = nullptr;
  int count = -1, selected = -1, phase = KRO_MATERIAL_HEADER, ok = 1, status;
  while (ok && (status = kroReadASEToken(&in)) == 1) {
    if (phase == KRO_MATERIAL_HEADER)
      ok = kroReadMaterialHeader(&in, &array, &count, &selected, &phase);
    else if (phase == KRO_MATERIAL_PROPERTIES)
      ok = kroReadMaterialProperty(&in, &array[selected], &phase);
    else
      ok = kroReadMaterialMap(&in);
  }
  if (ok)
    ok = status == 0 && kroCheckASEComplete(&in);
  fclose(stream);
  if (!ok || count < 0) {
    free(array);
    return 0;
  }
  *materials = array;
  return count;
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
