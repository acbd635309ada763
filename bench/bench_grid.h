// Exporter-style test models for the benchmarks: a grid object written the way
// an exporter writes one (vertex and face lists, texture vertices and faces,
// face and vertex normals, a material reference), and a file's size.
#ifndef KRO_BENCH_GRID_H
#define KRO_BENCH_GRID_H

#include <stdio.h>
#include <sys/stat.h>

#include <string>

// width x height cells, two triangles each; vertex (x, y) stands at
// (x0 + 0.37 x, y0 + 0.41 y, height(x, y)).
struct BenchGrid {
  const char *name;
  int width, height;
  float x0, y0;
  float (*height_at)(int x, int y);
  int material;
};

// faces_only: only the vertex and face lists, no texture coordinates or normals.
inline void benchWriteGridObject(FILE *f, const BenchGrid &grid, bool faces_only = false) {
  const int width = grid.width, height = grid.height, faces = 2 * width * height;
  const int vertices = (width + 1) * (height + 1);
  fprintf(f,
          "*GEOMOBJECT {\n\t*NODE_NAME \"%s\"\n\t*NODE_TM {\n\t\t*NODE_NAME \"%s\"\n"
          "\t\t*TM_ROW0 1.0000\t0.0000\t0.0000\n\t}\n\t*MESH {\n\t\t*TIMEVALUE 0\n"
          "\t\t*MESH_NUMVERTEX %d\n\t\t*MESH_NUMFACES %d\n\t\t*MESH_VERTEX_LIST {\n",
          grid.name, grid.name, vertices, faces);
  for (int y = 0, i = 0; y <= height; y++)
    for (int x = 0; x <= width; x++, i++)
      fprintf(f, "\t\t\t*MESH_VERTEX %5d\t%.4f\t%.4f\t%.4f\n", i, grid.x0 + x * 0.37f,
              grid.y0 + y * 0.41f, grid.height_at(x, y));
  fprintf(f, "\t\t}\n\t\t*MESH_FACE_LIST {\n");
  for (int y = 0, t = 0; y < height; y++)
    for (int x = 0; x < width; x++) {
      int a = y * (width + 1) + x, b = a + 1, c = a + width + 1, d = c + 1;
      for (int k = 0; k < 2; k++, t++)
        fprintf(f,
                "\t\t\t*MESH_FACE %5d:    A: %5d B: %5d C: %5d AB:    1 BC:    1 CA:    0\t "
                "*MESH_SMOOTHING 1 \t*MESH_MTLID 0\n",
                t, k ? b : a, k ? d : b, k ? c : d);
    }
  fprintf(f, "\t\t}\n");
  if (faces_only) {
    fprintf(f, "\t}\n\t*MATERIAL_REF %d\n}\n", grid.material);
    return;
  }
  fprintf(f, "\t\t*MESH_NUMTVERTEX %d\n\t\t*MESH_TVERTLIST {\n", vertices);
  for (int y = 0, i = 0; y <= height; y++)
    for (int x = 0; x <= width; x++, i++)
      fprintf(f, "\t\t\t*MESH_TVERT %d\t%.4f\t%.4f\t0.0000\n", i, x / (float)width,
              y / (float)height);
  fprintf(f, "\t\t}\n\t\t*MESH_NUMTVFACES %d\n\t\t*MESH_TFACELIST {\n", faces);
  for (int y = 0, t = 0; y < height; y++)
    for (int x = 0; x < width; x++) {
      int a = y * (width + 1) + x, b = a + 1, c = a + width + 1, d = c + 1;
      fprintf(f, "\t\t\t*MESH_TFACE %d\t%d\t%d\t%d\n", t++, a, b, d);
      fprintf(f, "\t\t\t*MESH_TFACE %d\t%d\t%d\t%d\n", t++, b, d, c);
    }
  fprintf(f, "\t\t}\n\t\t*MESH_NORMALS {\n");
  for (int t = 0; t < faces; t++) {
    fprintf(f, "\t\t\t*MESH_FACENORMAL %d\t%.4f\t%.4f\t%.4f\n", t, 0.1f, -0.2f, 0.9747f);
    for (int k = 0; k < 3; k++)
      fprintf(f, "\t\t\t\t*MESH_VERTEXNORMAL %d\t%.4f\t%.4f\t%.4f\n", t / 2 + k, -0.0f, 0.1f * k,
              0.995f);
  }
  fprintf(f, "\t\t}\n\t}\n\t*PROP_MOTIONBLUR 0\n\t*MATERIAL_REF %d\n}\n", grid.material);
}

inline long benchFileBytes(const std::string &path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? (long)info.st_size : 0;
}

#endif
