/*
 * scene: an exported scene read at run time, framed by its bounds, lit in its materials' colours,
 * with a line of text; editing the engine's shader files while it runs rebuilds its programs.
 *   scene [FILE.ase] [--window] [--frames N] [--shot FILE.png] [--help]
 */
#include <kro/kroapp.h>

int main(int argc, char **argv) {
  kroApp app = {};
  app.usage = "[FILE.ase]";
  kroSetShaderFolder(KRO_SHADER_DIR);
  if (!kroAppStart(&app, "scene", 640, 360, &argc, argv))
    return app.status;
  const char *path = argc > 1 ? argv[1] : EXAMPLE_DATA_DIR "/scene.ase";
  kroMesh *meshes = nullptr;
  kroMaterial *materials = nullptr;
  int count = kroLoadMeshArrayFromASE(&meshes, path);
  int colours = kroLoadMaterialsFromASE(&materials, path);
  kroBounds box;
  kroFont font = {};
  const float white[4] = {1, 1, 1, 1};
  if (kroMeshBounds(meshes, count, &box) == 0 || kroLoadTextFont(KRO_FONT_FILE, &font) != 0)
    app.status = 1;
  for (int i = 0; i < count; i++) { /* centred, in a sphere of radius 1: the lights stand beside */
    kroTranslateObject(meshes[i].op, meshes[i].triangles, -box.centre[0], -box.centre[1],
                       -box.centre[2]);
    kroScale1Object(meshes[i].op, meshes[i].triangles, 1 / box.radius);
  }
  while (app.status == 0 && kroAppFrame(&app)) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_DEPTH_TEST);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    kroPerspectiveOGL(30, 640 / 360.0f, 0.5f, 4);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(0, 0, -2); /* the unit sphere fills the view: sin 30 degrees = 1 / 2 */
    glRotatef(-60, 1, 0, 0);
    glRotatef(10 * (float)app.seconds, 0, 0, 1);
    for (int i = 0; i < count; i++) {
      int m = meshes[i].material_ref;
      const float *c = m >= 0 && m < colours ? materials[m].diffuse : white;
      kroSetLightMaterialColor(c[0], c[1], c[2]);
      kroDrawLightMaterialNormalsObject(0, 0, 0, meshes[i].nc, meshes[i].op, meshes[i].triangles);
    }
    glUseProgramObjectARB(0);
    char line[64];
    snprintf(line, sizeof line, "%d objects, %.1f s", count, app.seconds);
    kroDrawText(&font, line, 8, 8, 16, white);
  }
  kroFreeMeshArray(&meshes, count);
  kroFreeMaterials(&materials, colours);
  kroDestroyKROF(&font);
  return kroAppEnd(&app);
}
