// Placeholder until the ASE subcommands land.
#include "krotool.h"
#include <stdio.h>
int krotoolMeshSrc(int, char **) { fprintf(stderr, "krotool: mesh-src is not available\n"); return 1; }
int krotoolAseInfo(int, char **) { fprintf(stderr, "krotool: ase-info is not available\n"); return 1; }
