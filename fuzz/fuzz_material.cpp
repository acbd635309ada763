// The material readers on arbitrary bytes: the colour reader and the one that
// also keeps the map blocks (no textures asked for: its search for pictures
// runs, and finds none beside the input). The arrays are released with free:
// their texture names are all 0 and there is no GL context to delete them in.
#include "kro.h"
#include "support.h"

#include <stdlib.h>
#include <string.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  kroFuzzQuiet();
  const char *path = kroFuzzWriteFile(data, size);
  for (int with_maps = 0; with_maps < 2; with_maps++) {
    kroMaterial *materials = nullptr;
    int count = with_maps ? kroLoadMaterialsWithMapsFromASE(&materials, path, nullptr, 0, 0)
                          : kroLoadMaterialsFromASE(&materials, path);
    if (count < 0 || (count > 0 && !materials))
      abort();
    volatile float sum = 0;
    for (int i = 0; i < count; i++) {
      sum = sum + materials[i].diffuse[2] + materials[i].opacity;
      if (materials[i].texture[4] != 0)
        abort();
      for (int k = 0; k < KRO_MATERIAL_MAPS; k++) {
        const kroMaterialMap *map = &materials[i].map[k];
        if (memchr(map->bitmap, 0, sizeof map->bitmap) == nullptr || map->state != KRO_MAP_NONE ||
            (!with_maps && map->bitmap[0]))
          abort();
        sum = sum + map->u_tiling + map->angle;
      }
    }
    free(materials);
  }
  return 0;
}
