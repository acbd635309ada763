/*
 * A C99 program on the installed engine, or on the engine a project pulls in
 * with add_subdirectory: the header compiles as C under both its names and the
 * library links from C. Prints what a few engine calls give, and the shader
 * folder it is built with (KRO_SHADER_DIR); the packaging test compares the text.
 */
#include <kro/kro.h>
#include "kro.h"

#include <stdlib.h>

typedef struct Messages {
  int count;
  char last[256];
} Messages;

static void RecordMessage(const char *message, void *user) {
  Messages *messages = (Messages *)user;
  messages->count++;
  snprintf(messages->last, sizeof messages->last, "%s", message);
}

int main(void) {
  Messages messages = {0, ""};
  kroSetErrorMessageFunc(RecordMessage, &messages);

  kroSetBitMasks();
  printf("bits %u %u %08x\n", kroGetBit(0x80000000u, 31), kroGet2ndByte(0x11223344u),
         (unsigned)kroSetBitFalse(0xFFFFFFFFu, 0));

  kroObject positions = NULL;
  kroIncreaseObject(&positions, 0, 2);
  if (!positions)
    return 1;
  for (int i = 0; i < KRO_POSITION_FLOATS; i++)
    positions[1][i] = (float)i;
  kroScale1Object(positions, 2, 0.5f);
  printf("object %.1f %.1f\n", positions[1][1], positions[1][8]);
  kroDestroyObject(&positions, 2);

  int32_t size[2] = {0, 0};
  kroBMPStatus status = KRO_BMP_OK;
  uint8_t *pixels = kroDecodeBMP("no-such.bmp", size, &status);
  printf("decode %s %s\n", pixels ? "pixels" : "null", kroBMPStatusText(status));
  free(pixels);
  pixels = kroLoadBMP("no-such.bmp", size);
  free(pixels);
  printf("hook %d [%s]\n", messages.count, messages.last);

  kroSetShaderFolder(KRO_SHADER_DIR);
  printf("shaders %s\n", kroGetShaderFolder());
  return 0;
}
