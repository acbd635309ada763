#!/usr/bin/env python3
# Writes awkward_values.ase: one object of 24 triangles whose positions,
# texture coordinates and normals are the values a "%f" loader finds hardest:
# exact ties of the sixth decimal, numbers next to and beyond 2^32, very small
# ones, both zeros, and long fractions. The compact loader must store each as
# the default loader's text reads back.
#
#   python3 tests/data/ase/awkward_values.py > tests/data/ase/awkward_values.ase

VALUES = [
    "0.0078125", "-0.0234375", "0.5000005", "2.5000005", "-7.0000005",
    "4294967296", "4294967040", "-4294967551", "1e12", "3.4028235e38",
    "1e-45", "5e-7", "-4.9999997e-7", "0", "-0", "0.1", "16777217",
    "123456.789", "-98765.4321", "0.333333343267", "1.152923643589019776",
    "65535.99999", "0.0000005", "-0.0000015", "999999.9999995",
]
TRIANGLES = 24
VERTICES = 3 * TRIANGLES


def value(i):
    return VALUES[i % len(VALUES)]


out = ["*3DSMAX_ASCIIEXPORT\t200", "*GEOMOBJECT {", '\t*NODE_NAME "Awkward"', "\t*MESH {",
       "\t\t*MESH_NUMVERTEX %d" % VERTICES, "\t\t*MESH_NUMFACES %d" % TRIANGLES,
       "\t\t*MESH_VERTEX_LIST {"]
for v in range(VERTICES):
    out.append("\t\t\t*MESH_VERTEX %d\t%s\t%s\t%s" % (v, value(3 * v), value(3 * v + 1), value(3 * v + 2)))
out.append("\t\t}")
out.append("\t\t*MESH_FACE_LIST {")
for t in range(TRIANGLES):
    out.append("\t\t\t*MESH_FACE %d:\tA: %d B: %d C: %d" % (t, 3 * t, 3 * t + 1, 3 * t + 2))
out.append("\t\t}")
out.append("\t\t*MESH_NUMTVERTEX %d" % VERTICES)
out.append("\t\t*MESH_TVERTLIST {")
for v in range(VERTICES):
    out.append("\t\t\t*MESH_TVERT %d\t%s\t%s\t0.0" % (v, value(2 * v + 7), value(2 * v + 8)))
out.append("\t\t}")
out.append("\t\t*MESH_TFACELIST {")
for t in range(TRIANGLES):
    out.append("\t\t\t*MESH_TFACE %d\t%d\t%d\t%d" % (t, 3 * t + 2, 3 * t, 3 * t + 1))
out.append("\t\t}")
out.append("\t\t*MESH_NORMALS {")
for t in range(TRIANGLES):
    out.append("\t\t\t*MESH_FACENORMAL %d\t%s\t%s\t%s" % (t, value(t + 3), value(t + 5), value(t + 11)))
    for k in range(3):
        out.append("\t\t\t\t*MESH_VERTEXNORMAL %d\t%s\t%s\t%s"
                   % (3 * t + k, value(t + k), value(t + 2 * k + 1), value(t + 3 * k + 2)))
out.append("\t\t}")
out += ["\t}", "}"]
print("\n".join(out))
