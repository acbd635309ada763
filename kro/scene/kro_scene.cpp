/*
 * Scenes of any format: the format told by a file's first bytes, and the one
 * loading call that hands each format to its reader.
 * Depends on: kro_ase.cpp, kro_material.cpp (ASE), kro_obj.cpp (OBJ), kro_gltf.cpp (glTF),
 * kro_anim.cpp (nodes).
 */
#include "kro.h"
#include "kro_internal.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>

/* OBJ files open with a header of comments (an exporter's name and address); a first keyword
 * later than this is not looked for. */
enum { KRO_SCENE_SNIFF_BYTES = 8192 };

static int kroIsOBJKeyword(const char *word, size_t length) {
  static const char *const keywords[] = {"v", "vt", "vn", "f",      "o",     "g",
                                         "s", "l",  "p",  "mtllib", "usemtl"};
  for (const char *keyword : keywords)
    if (strlen(keyword) == length && !memcmp(word, keyword, length))
      return 1;
  return 0;
}

int kroSceneFormatOf(const char *path) {
  FILE *stream = fopen(path, "rb");
  if (!stream)
    return KRO_SCENE_UNKNOWN;
  char head[KRO_SCENE_SNIFF_BYTES + 1];
  size_t got = fread(head, 1, KRO_SCENE_SNIFF_BYTES, stream);
  head[got] = 0;
  int format = KRO_SCENE_UNKNOWN;
  char word[2];
  if (got >= 4 && !memcmp(head, "glTF", 4))
    format = KRO_SCENE_GLTF;
  else if (fseek(stream, 0, SEEK_SET) == 0 && kroReadASEFirstWord(stream, word, 1) == 1 &&
           word[0] == '*')
    format = KRO_SCENE_ASE;
  fclose(stream);
  if (format != KRO_SCENE_UNKNOWN)
    return format;
  const char *p = head + (got >= 3 && !memcmp(head, "\xEF\xBB\xBF", 3) ? 3 : 0);
  for (;;) {
    p += strspn(p, " \t\r\n\v\f");
    if (*p == '{')
      return KRO_SCENE_GLTF;
    if (*p != '#')
      break;
    const char *line_end = strchr(p, '\n');
    if (!line_end)
      return KRO_SCENE_UNKNOWN;
    p = line_end + 1;
  }
  size_t length = strcspn(p, " \t\r\n\v\f");
  return p[length] && kroIsOBJKeyword(p, length) ? KRO_SCENE_OBJ : KRO_SCENE_UNKNOWN;
}

const char *kroSceneFormatName(int format) {
  switch (format) {
  case KRO_SCENE_ASE:
    return "ASE";
  case KRO_SCENE_OBJ:
    return "OBJ";
  case KRO_SCENE_GLTF:
    return "glTF";
  default:
    return "unknown";
  }
}

int kroIndexMesh(kroMesh *mesh) {
  if (mesh->vertex || mesh->triangles <= 0)
    return 1;
  if (!mesh->op || !mesh->nc || mesh->triangles > INT_MAX / 3) {
    kroFail("Error in kroIndexMesh(..): no positions and normals for %d triangles\n",
            mesh->triangles);
    return 0;
  }
  size_t corners = 3 * (size_t)mesh->triangles;
  float *vertex = (float *)kroAllocate(corners * KRO_VERTEX_FLOATS * sizeof(float));
  uint32_t *index = (uint32_t *)kroAllocate(corners * sizeof(uint32_t));
  float *color = mesh->colors ? (float *)kroAllocate(corners * 3 * sizeof(float)) : nullptr;
  if (!vertex || !index || (mesh->colors && !color)) {
    free(vertex);
    free(index);
    free(color);
    kroFail("Error during allocating memory in kroIndexMesh(..)\n");
    return 0;
  }
  for (size_t c = 0; c < corners; c++) {
    size_t row = c / 3, k = c % 3;
    float *out = vertex + c * KRO_VERTEX_FLOATS;
    memcpy(out, &mesh->op[row][3 * k], 3 * sizeof(float));
    memcpy(out + 3, &mesh->nc[row][3 * k], 3 * sizeof(float));
    out[6] = mesh->tc ? mesh->tc[row][2 * k] : 0.0f;
    out[7] = mesh->tc ? mesh->tc[row][2 * k + 1] : 0.0f;
    index[c] = (uint32_t)c;
    if (color)
      memcpy(color + 3 * c, &mesh->colors[row][3 * k], 3 * sizeof(float));
  }
  mesh->has_tc = mesh->tc != nullptr;
  kroDestroyObject(&mesh->op, mesh->triangles);
  kroDestroyObject(&mesh->nc, mesh->triangles);
  kroDestroyObject(&mesh->realn, mesh->triangles);
  kroDestroyObject(&mesh->tc, mesh->triangles);
  kroDestroyObject(&mesh->colors, mesh->triangles);
  mesh->color = color;
  mesh->vertex = vertex;
  mesh->index = index;
  mesh->vertices = (int)corners;
  return 1;
}

/* ASE and glTF: meshes and materials apart, the scene emptied when either is refused. */
static int kroLoadSceneOfFormat(kroScene *scene, const char *path, int textures, int format,
                                int indexed) {
  long failures = kroFailureCount();
  int count = 0, materials = 0;
  if (format == KRO_SCENE_GLTF) {
    kroGLTFLoadScene(scene, path, textures, indexed);
    count = scene->mesh_count, materials = scene->material_count;
  } else {
    count = kroLoadMeshArrayFromASE(&scene->meshes, path);
    if (kroFailureCount() == failures)
      materials = kroLoadMaterialsWithMapsFromASE(&scene->materials, path, nullptr, 0, textures);
  }
  if (kroFailureCount() != failures) {
    kroFreeMeshArray(&scene->meshes, count);
    kroFreeMaterials(&scene->materials, materials);
    kroFreeSceneNodes(scene);
    memset(scene, 0, sizeof *scene);
    return 0;
  }
  scene->mesh_count = count;
  scene->material_count = materials;
  scene->format = format;
  return count;
}

/* Every format through its reader; with `indexed`, glTF primitives keep their own vertices and
 * the other meshes are turned (a failure empties the scene, as a refusal does). */
static int kroLoadSceneAs(kroScene *scene, const char *path, int textures, int indexed) {
  memset(scene, 0, sizeof *scene);
  int format = kroSceneFormatOf(path);
  if (format == KRO_SCENE_OBJ)
    kroOBJLoadScene(scene, path, textures, indexed);
  else if (format == KRO_SCENE_ASE || format == KRO_SCENE_GLTF)
    kroLoadSceneOfFormat(scene, path, textures, format, indexed);
  else {
    kroFail("Error in reading scene from %s: %s\n", path,
            "not a scene file of a known format (ASE, OBJ, glTF)");
    return 0;
  }
  for (int i = 0; indexed && i < scene->mesh_count; i++)
    if (!kroIndexMesh(&scene->meshes[i])) {
      kroFreeScene(scene);
      return 0;
    }
  return scene->mesh_count;
}

int kroLoadScene(kroScene *scene, const char *path, int textures) {
  return kroLoadSceneAs(scene, path, textures, 0);
}

int kroLoadSceneIndexed(kroScene *scene, const char *path, int textures) {
  return kroLoadSceneAs(scene, path, textures, 1);
}

int kroAddSceneFile(kroScenePath **files, int *count, const char *path) {
  kroScenePath *grown = (kroScenePath *)kroAllocate((size_t)(*count + 1) * sizeof(kroScenePath));
  if (!grown) {
    kroFail("Error during allocating memory in kroSceneFiles(..)\n");
    return 0;
  }
  if (*count)
    memcpy(grown, *files, (size_t)*count * sizeof(kroScenePath));
  free(*files);
  *files = grown;
  snprintf(grown[(*count)++], sizeof(kroScenePath), "%s", path);
  return 1;
}

int kroSceneFiles(const char *path, kroScenePath **files) {
  *files = nullptr;
  switch (kroSceneFormatOf(path)) {
  case KRO_SCENE_OBJ:
    return kroOBJSceneFiles(path, files);
  case KRO_SCENE_GLTF:
    return kroGLTFSceneFiles(path, files);
  default:
    return 0;
  }
}

void kroFreeScene(kroScene *scene) {
  kroFreeMeshArray(&scene->meshes, scene->mesh_count);
  kroFreeMaterials(&scene->materials, scene->material_count);
  kroFreeSceneNodes(scene);
  memset(scene, 0, sizeof *scene);
}
