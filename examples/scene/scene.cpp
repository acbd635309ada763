/*
 * scene: an exported scene read at run time, whatever its format (ASE, OBJ or glTF), framed by
 * its bounds, lit in its materials' colours and textured where a material has a diffuse map
 * (scene.ase's clay sphere: clay.bmp beside it, both written by scene.py), with a line of text;
 * editing the engine's shader files while it runs rebuilds its programs.
 *   scene [FILE.ase|FILE.obj|FILE.gltf|FILE.glb] [--window] [--frames N] [--shot FILE.png] [--help]
 */
#include <kro/kroapp.h>

int main(int argc, char **argv) {
  kroApp app = {};
  app.usage = "[FILE.ase|FILE.obj|FILE.gltf|FILE.glb]";
  kroSetShaderFolder(KRO_SHADER_DIR);
  if (!kroAppStart(&app, "scene", 640, 360, &argc, argv))
    return app.status;
  const char *path = argc > 1 ? argv[1] : EXAMPLE_DATA_DIR "/scene.ase";
  kroScene scene;
  int count = kroLoadScene(&scene, path, 1); /* textures: the window's GL context is open */
  kroMesh *meshes = scene.meshes;
  int z_up = scene.format == KRO_SCENE_ASE; /* OBJ and glTF stand on +y */
  kroBounds box;
  kroFont font = {};
  const float white[4] = {1, 1, 1, 1};
  if (kroMeshBounds(meshes, count, &box) == 0 || kroLoadTextFont(KRO_FONT_FILE, &font) != 0)
    app.status = 1;
  kroFitMeshes(meshes, count, &box); /* about the origin, radius 1 */
  while (app.status == 0 && kroAppFrame(&app)) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_DEPTH_TEST);
    kroFrameBounds(&box, 30, 640 / 360.0f);
    glRotatef(-60, 1, 0, 0);
    glRotatef(10 * (float)app.seconds, 0, 0, 1);
    if (!z_up)
      glRotatef(90, 1, 0, 0);
    for (int i = 0; i < count; i++)
      kroDrawMesh(&meshes[i], scene.materials, scene.material_count);
    char line[64];
    snprintf(line, sizeof line, "%d objects, %.1f s", count, app.seconds);
    kroDrawText(&font, line, 8, 8, 16, white);
  }
  kroFreeScene(&scene);
  kroDestroyKROF(&font);
  return kroAppEnd(&app);
}
