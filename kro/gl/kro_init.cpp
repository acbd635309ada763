/*
 * Engine start-up and shut-down. Depends on: kro_error.cpp, kro_shader.cpp.
 */
#include "kro.h"

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

void kroInit(int resx, int resy) {
  kroSetBitMasks();
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
