// Placeholder until the image subcommands land.
#include "krotool.h"
#include <stdio.h>
int krotoolBmpResize(int, char **) { fprintf(stderr, "krotool: bmp-resize is not available\n"); return 1; }
int krotoolPngInfo(int, char **) { fprintf(stderr, "krotool: png-info is not available\n"); return 1; }
int krotoolFontBuild(int, char **) { fprintf(stderr, "krotool: font-build is not available\n"); return 1; }
int krotoolFontInfo(int, char **) { fprintf(stderr, "krotool: font-info is not available\n"); return 1; }
