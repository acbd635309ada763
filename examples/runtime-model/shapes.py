#!/usr/bin/env python3
# Writes shapes.ase, the runtime-model example's scene: a sphere, a torus and
# a plate under them, each with its own material, in an exporter's layout but
# without *MESH_NORMALS, so that the example computes the normals itself.
# Corners that meet share one vertex, as exporters write them. Unlike most
# exports the scene stands with +y up, the way the example looks at it.
#
#   python3 examples/runtime-model/shapes.py > examples/runtime-model/shapes.ase
import math

SEGMENTS, RINGS = 16, 8


def triple(v):
    return "\t".join("0.0000" if "%.4f" % c == "-0.0000" else "%.4f" % c for c in v)


def grid_faces(columns, rows, index):
    """Two counter-clockwise triangles per cell of a grid of points index(i, j)."""
    faces = []
    for j in range(rows):
        for i in range(columns):
            a, b, c, d = index(i, j), index(i + 1, j), index(i + 1, j + 1), index(i, j + 1)
            faces += [(a, b, c), (c, d, a)]
    return [f for f in faces if len(set(f)) == 3]


def sphere(radius):
    n, m = SEGMENTS, RINGS
    points = [[0, 0, -radius]]
    for j in range(1, m):
        t = math.pi * j / m - math.pi / 2
        points += [[radius * math.cos(t) * math.cos(2 * math.pi * i / n),
                    radius * math.cos(t) * math.sin(2 * math.pi * i / n), radius * math.sin(t)]
                   for i in range(n)]
    points.append([0, 0, radius])
    vertex = lambda i, j: 0 if j == 0 else len(points) - 1 if j == m else 1 + (j - 1) * n + i % n
    return points, grid_faces(n, m, vertex)


def torus(major, minor):
    n, m = SEGMENTS, RINGS
    points = []
    for i in range(n):
        s = 2 * math.pi * i / n
        for j in range(m):
            t = 2 * math.pi * j / m
            r = major + minor * math.cos(t)
            points.append([r * math.cos(s), r * math.sin(s), minor * math.sin(t)])
    return points, grid_faces(n, m, lambda i, j: (i % n) * m + j % m)


def plate(half):
    points = [[-half, -half, 0], [half, -half, 0], [half, half, 0], [-half, half, 0]]
    return points, [(0, 1, 2), (2, 3, 0)]


def geomobject(name, position, material, shape):
    points, faces = shape
    # Modelled with +z up, written with +y up: (x, y, z) becomes (x, z, -y).
    moved = [[p[0] + position[0], p[2] + position[2], -(p[1] + position[1])] for p in points]
    out = ["*GEOMOBJECT {", '\t*NODE_NAME "%s"' % name, "\t*MESH {", "\t\t*TIMEVALUE 0",
           "\t\t*MESH_NUMVERTEX %d" % len(points), "\t\t*MESH_NUMFACES %d" % len(faces),
           "\t\t*MESH_VERTEX_LIST {"]
    out += ["\t\t\t*MESH_VERTEX %4d\t%s" % (k, triple(p)) for k, p in enumerate(moved)]
    out += ["\t\t}", "\t\t*MESH_FACE_LIST {"]
    out += ["\t\t\t*MESH_FACE %4d:    A: %4d B: %4d C: %4d AB:    1 BC:    1 CA:    1\t "
            "*MESH_SMOOTHING 1 \t*MESH_MTLID 0" % (k, f[0], f[1], f[2]) for k, f in enumerate(faces)]
    out += ["\t\t}", "\t}", "\t*MATERIAL_REF %d" % material, "}"]
    return out


def material(number, name, diffuse):
    return ["\t*MATERIAL %d {" % number, '\t\t*MATERIAL_NAME "%s"' % name,
            '\t\t*MATERIAL_CLASS "Standard"', "\t\t*MATERIAL_DIFFUSE " + triple(diffuse),
            "\t\t*MATERIAL_TRANSPARENCY 0.0000", "\t}"]


def scene():
    out = ["*3DSMAX_ASCIIEXPORT\t200", '*COMMENT "Written by shapes.py; do not edit"',
           "*MATERIAL_LIST {", "\t*MATERIAL_COUNT 3"]
    out += material(0, "Brick", [0.9000, 0.2500, 0.1000])
    out += material(1, "Glaze", [0.1500, 0.3500, 0.9500])
    out += material(2, "Moss", [0.3000, 0.7000, 0.2000])
    out += ["}"]
    out += geomobject("Sphere", [-22, 0, 18], 0, sphere(18))
    out += geomobject("Torus", [22, 0, 8], 1, torus(14, 6))
    out += geomobject("Plate", [0, 0, 0], 2, plate(48))
    return "\n".join(out) + "\n"


print(scene(), end="")
