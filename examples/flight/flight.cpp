/*
 * flight: a camera flight made in Blender, played. flight.glb (written by make-flight.py
 * through Blender's glTF exporter) holds a textured town, a camera and the camera's animation;
 * kroLoadSceneIndexed reads it all (each mesh as shared vertices and indices, one draw call a
 * mesh), and every frame the camera's node is sampled at the production's time (app.seconds,
 * looping over the animation's keys): its view matrix (kroSceneViewMatrix) is the model-view,
 * its lens the projection (kroCameraProjection), and the meshes, in world space, are drawn as
 * they stand with kroDrawMesh (the checker picture on the ground, the blocks in their colours).
 *   flight [FILE.glb] [--window] [--frames N] [--shot FILE.png] [--help]
 * A file without an animated camera is shown from its first camera, or refused.
 * Depends on: kro, kroapp, GL.
 */
#include <kro/kroapp.h>

#include <math.h>
#include <stdio.h>

enum { WINDOW_WIDTH = 640, WINDOW_HEIGHT = 360 };

/* The first camera with a node, and the first animation that moves that node or one of its
 * parents (-1: none, the camera stands still). */
static int FindCamera(const kroScene *scene, int *animation) {
  *animation = -1;
  for (int c = 0; c < scene->camera_count; c++) {
    int node = scene->cameras[c].node;
    if (node < 0)
      continue;
    for (int a = 0; a < scene->animation_count && *animation < 0; a++)
      for (int k = 0; k < scene->animations[a].channel_count; k++)
        for (int n = node; n >= 0; n = scene->nodes[n].parent)
          if (scene->animations[a].channels[k].node == n)
            *animation = a;
    return c;
  }
  return -1;
}

int main(int argc, char **argv) {
  kroApp app = {};
  app.usage = "[FILE.glb]";
  kroSetShaderFolder(KRO_SHADER_DIR);
  if (!kroAppStart(&app, "flight", WINDOW_WIDTH, WINDOW_HEIGHT, &argc, argv))
    return app.status;
  const char *path = argc > 1 ? argv[1] : EXAMPLE_DATA_DIR "/flight.glb";
  kroScene scene;
  kroLoadSceneIndexed(&scene, path, 1); /* textures: the window's GL context is open */
  int animation, camera = FindCamera(&scene, &animation);
  if (camera < 0) {
    fprintf(stderr, "flight: %s has no camera on a node\n", path);
    app.status = 1;
  }
  while (app.status == 0 && kroAppFrame(&app)) {
    const kroSceneCamera *lens = &scene.cameras[camera];
    double t = 0;
    if (animation >= 0) {
      const kroAnimation *a = &scene.animations[animation];
      double span = a->end - a->start;
      t = a->start + (span > 0 ? fmod(app.seconds, span) : 0);
    }
    float projection[16], view[16];
    kroCameraProjection(lens, (float)WINDOW_WIDTH / WINDOW_HEIGHT, projection);
    if (!kroSceneViewMatrix(&scene, animation, lens->node, t, view))
      app.status = 1;
    glClearColor(0.55f, 0.7f, 0.9f, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_DEPTH_TEST);
    glMatrixMode(GL_PROJECTION);
    glLoadMatrixf(projection);
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixf(view);
    for (int i = 0; i < scene.mesh_count; i++)
      kroDrawMesh(&scene.meshes[i], scene.materials, scene.material_count);
  }
  kroFreeScene(&scene);
  return kroAppEnd(&app);
}
