// The intro's embedded meshes: loaders written by `krotool mesh-src` from the
// models under assets/. Each grows four empty arrays by its fixed triangle
// count, fills positions and both kinds of normals (texture rows are left
// unset), copies its node name into node_name and stores the count.
#ifndef MESHES_H
#define MESHES_H

#include "kro.h"

// loadBitsMesh.cpp: the digits zero and one.
void loadMeshBit0(kroObject *op, kroObject *nc, kroObject *realn, kroObject *tc, char *node_name, int *triangles);
void loadMeshBit1(kroObject *op, kroObject *nc, kroObject *realn, kroObject *tc, char *node_name, int *triangles);

// loadZanyKlumpMesh.cpp: the nine glyphs of the logo word, each about its own origin.
void loadMeshFontZ(kroObject *op, kroObject *nc, kroObject *realn, kroObject *tc, char *node_name, int *triangles);
void loadMeshFontA(kroObject *op, kroObject *nc, kroObject *realn, kroObject *tc, char *node_name, int *triangles);
void loadMeshFontN(kroObject *op, kroObject *nc, kroObject *realn, kroObject *tc, char *node_name, int *triangles);
void loadMeshFontY(kroObject *op, kroObject *nc, kroObject *realn, kroObject *tc, char *node_name, int *triangles);
void loadMeshFontK(kroObject *op, kroObject *nc, kroObject *realn, kroObject *tc, char *node_name, int *triangles);
void loadMeshFontL(kroObject *op, kroObject *nc, kroObject *realn, kroObject *tc, char *node_name, int *triangles);
void loadMeshFontU(kroObject *op, kroObject *nc, kroObject *realn, kroObject *tc, char *node_name, int *triangles);
void loadMeshFontM(kroObject *op, kroObject *nc, kroObject *realn, kroObject *tc, char *node_name, int *triangles);
void loadMeshFontP(kroObject *op, kroObject *nc, kroObject *realn, kroObject *tc, char *node_name, int *triangles);

#endif
