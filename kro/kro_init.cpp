/*
 * Engine start-up and shut-down. Depends on: kro_error.cpp, kro_shader.cpp.
 */
#include "kro.h"

void kroInit(int resx, int resy) {
  kroSetBitMasks();
  kroLoadShaders();
  kroLoadPostProcessShaders(resx, resy);
  kroCurrentShader = 0;
  kroCurrentPostProcessShader = 0;
  kroErrorFunc = nullptr; /* a hook set before start-up served the file loading only */
}

void kroDestroy(void) {}
