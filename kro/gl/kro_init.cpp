/*
 * Engine start-up and shut-down. Depends on: kro_error.cpp, kro_shader.cpp.
 */
#include "kro.h"

#include <string.h>
#include <sys/stat.h>

/* Programs the last kroInit could not build; all of them until the first. */
static int kroInitFailures = KRO_INIT_PROGRAMS;

/* A record whose program exists and linked (a stage that did not compile
 * keeps its program from linking). */
static int kroProgramBuilt(const kroShader *shader) {
  if (!shader->program)
    return 0;
  GLint linked = GL_FALSE;
  glGetObjectParameterivARB(shader->program, GL_OBJECT_LINK_STATUS_ARB, &linked);
  return linked == GL_TRUE;
}

/* The fixed set as kroLoadShaders and kroLoadPostProcessShaders fill it. */
static int kroCountUnbuiltPrograms(void) {
  const kroShader *programs[KRO_INIT_PROGRAMS] = {&KRO_SHADER[128], &KRO_SHADER[0],
                                                  &KRO_SHADER[1],   &KRO_SHADER[64],
                                                  &KRO_SHADER[2],   &KRO_POST_PROCESS_SHADER[0]};
  int failures = 0;
  for (const kroShader *shader : programs)
    failures += !kroProgramBuilt(shader);
  return failures;
}

/* An installed engine (KRO_INSTALLED_SHADER_FOLDER: <prefix>/share/kro/sh, set by the build
 * when it installs) reads its own shader files when the production named no folder and the
 * working folder has no sh/ish. A folder the production named is never replaced: a missing one
 * stays a failure. */
static void kroFindInstalledShaders(void) {
#ifdef KRO_INSTALLED_SHADER_FOLDER
  struct stat info;
  if (strcmp(kroGetShaderFolder(), "sh") != 0 ||
      (stat("sh/ish", &info) == 0 && S_ISDIR(info.st_mode)))
    return;
  if (stat(KRO_INSTALLED_SHADER_FOLDER "/ish", &info) == 0 && S_ISDIR(info.st_mode))
    kroSetShaderFolder(KRO_INSTALLED_SHADER_FOLDER);
#endif
}

void kroInit(int resx, int resy) {
  kroSetBitMasks();
  kroFindInstalledShaders();
  kroLoadShaders();
  kroLoadPostProcessShaders(resx, resy);
  kroInitFailures = kroCountUnbuiltPrograms();
  kroCurrentShader = 0;
  kroCurrentPostProcessShader = 0;
  kroErrorFunc = nullptr; /* a hook set before start-up served the file loading only */
}

int kroInitStatus(void) {
  return kroInitFailures;
}

void kroDestroy(void) {}
