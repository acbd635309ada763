#!/usr/bin/env python3
# Writes exported_shapes.ase: three smooth-shaded objects with texture
# coordinates and materials, laid out line for line as a modelling tool's
# exporter writes a scene (tabs, four decimals, *MESH_NORMALS after the
# texture faces), and a light after the last object.
#
#   python3 tests/data/ase/exported_shapes.py > tests/data/ase/exported_shapes.ase
#
# Sizes: Sphere01 100 triangles, Cylinder01 40, Torus01 100. Kept small: every
# triangle becomes 27 assignment lines in a generated loader.
import math

SPHERE_SEGMENTS, SPHERE_RINGS = 10, 6
CYLINDER_SEGMENTS = 10
TORUS_SEGMENTS, TORUS_SIDES = 10, 5


def num(value):
    text = "%.4f" % value
    return "0.0000" if text == "-0.0000" else text


def triple(v):
    return "\t".join(num(c) for c in v)


def sub(a, b):
    return [a[i] - b[i] for i in range(3)]


def unit(v):
    length = math.sqrt(sum(c * c for c in v))
    return [c / length for c in v]


def face_normal(p, f):
    a, b, c = (p[i] for i in f)
    u, v = sub(b, a), sub(c, a)
    return unit([u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]])


def grid_faces(columns, rows, index):
    """Two triangles per cell of a (columns x rows) grid of points index(i, j)."""
    faces = []
    for j in range(rows):
        for i in range(columns):
            a, b = index(i, j), index(i + 1, j)
            c, d = index(i + 1, j + 1), index(i, j + 1)
            faces += [(a, b, c), (c, d, a)]
    return faces


def sphere(radius):
    """Poles once each; the texture grid repeats the seam column and the poles."""
    n, m = SPHERE_SEGMENTS, SPHERE_RINGS
    points = [[0, 0, radius]]
    for j in range(1, m):
        t = math.pi * j / m
        for i in range(n):
            s = 2 * math.pi * i / n
            points.append([radius * math.sin(t) * math.cos(s), radius * math.sin(t) * math.sin(s),
                           radius * math.cos(t)])
    points.append([0, 0, -radius])
    vertex = lambda i, j: 0 if j == 0 else len(points) - 1 if j == m else 1 + (j - 1) * n + i % n
    tvertex = lambda i, j: j * (n + 1) + i
    uv = [[i / n, 1 - j / m] for j in range(m + 1) for i in range(n + 1)]
    faces, tfaces = [], []
    for f, t in zip(grid_faces(n, m, vertex), grid_faces(n, m, tvertex)):
        if len(set(f)) == 3:  # cells at the poles lose one triangle; north to south turns
            faces.append(f[::-1]), tfaces.append(t[::-1])  # the grid inward, so reverse
    normals = [[unit(points[v]) for v in f] for f in faces]
    return points, faces, uv, tfaces, normals


def cylinder(radius, height):
    """Smooth side, flat caps around a centre point each."""
    n = CYLINDER_SEGMENTS
    ring = lambda z: [[radius * math.cos(2 * math.pi * i / n), radius * math.sin(2 * math.pi * i / n), z]
                      for i in range(n)]
    points = ring(0) + ring(height) + [[0, 0, 0], [0, 0, height]]
    bottom, top = 2 * n, 2 * n + 1
    faces = grid_faces(n, 1, lambda i, j: j * n + i % n)
    normals = [[unit([points[v][0], points[v][1], 0]) for v in f] for f in faces]
    for i in range(n):
        for f in ((bottom, (i + 1) % n, i), (top, n + i, n + (i + 1) % n)):
            faces.append(f)
            normals.append([[0, 0, -1 if f[0] == bottom else 1]] * 3)
    uv = [[i / n, j] for j in range(2) for i in range(n + 1)] + [[0.5, 0.5]]
    tfaces = grid_faces(n, 1, lambda i, j: j * (n + 1) + i)
    for i in range(n):  # caps fan out from the middle of the map to its rows
        tfaces += [(2 * n + 2, i + 1, i), (2 * n + 2, n + 1 + i, n + 2 + i)]
    return points, faces, uv, tfaces, normals


def torus(major, minor):
    n, m = TORUS_SEGMENTS, TORUS_SIDES
    points, centres = [], []
    for i in range(n):
        s = 2 * math.pi * i / n
        for j in range(m):
            t = 2 * math.pi * j / m
            r = major + minor * math.cos(t)
            points.append([r * math.cos(s), r * math.sin(s), minor * math.sin(t)])
            centres.append([major * math.cos(s), major * math.sin(s), 0])
    faces = grid_faces(n, m, lambda i, j: (i % n) * m + j % m)
    uv = [[i / n, j / m] for j in range(m + 1) for i in range(n + 1)]
    tfaces = grid_faces(n, m, lambda i, j: j * (n + 1) + i)
    normals = [[unit(sub(points[v], centres[v])) for v in f] for f in faces]
    return points, faces, uv, tfaces, normals


def node_tm(name, position):
    rows = ["1.0000\t0.0000\t0.0000", "0.0000\t1.0000\t0.0000", "0.0000\t0.0000\t1.0000"]
    lines = ["\t*NODE_TM {", '\t\t*NODE_NAME "%s"' % name, "\t\t*INHERIT_POS 0 0 0",
             "\t\t*INHERIT_ROT 0 0 0", "\t\t*INHERIT_SCL 0 0 0"]
    lines += ["\t\t*TM_ROW%d %s" % (k, row) for k, row in enumerate(rows)]
    lines += ["\t\t*TM_ROW3 " + triple(position), "\t\t*TM_POS " + triple(position),
              "\t\t*TM_ROTAXIS 0.0000\t0.0000\t0.0000", "\t\t*TM_ROTANGLE 0.0000",
              "\t\t*TM_SCALE 1.0000\t1.0000\t1.0000", "\t\t*TM_SCALEAXIS 0.0000\t0.0000\t0.0000",
              "\t\t*TM_SCALEAXISANG 0.0000", "\t}"]
    return lines


def geomobject(name, position, material, shape):
    points, faces, uv, tfaces, normals = shape
    moved = [[p[k] + position[k] for k in range(3)] for p in points]
    out = ["*GEOMOBJECT {", '\t*NODE_NAME "%s"' % name] + node_tm(name, position)
    out += ["\t*MESH {", "\t\t*TIMEVALUE 0", "\t\t*MESH_NUMVERTEX %d" % len(points),
            "\t\t*MESH_NUMFACES %d" % len(faces), "\t\t*MESH_VERTEX_LIST {"]
    out += ["\t\t\t*MESH_VERTEX %4d\t%s" % (k, triple(p)) for k, p in enumerate(moved)]
    out += ["\t\t}", "\t\t*MESH_FACE_LIST {"]
    out += ["\t\t\t*MESH_FACE %4d:    A: %4d B: %4d C: %4d AB:    1 BC:    1 CA:    0\t "
            "*MESH_SMOOTHING 1 \t*MESH_MTLID 0" % (k, f[0], f[1], f[2]) for k, f in enumerate(faces)]
    out += ["\t\t}", "\t\t*MESH_NUMTVERTEX %d" % len(uv), "\t\t*MESH_TVERTLIST {"]
    out += ["\t\t\t*MESH_TVERT %d\t%s\t%s\t0.0000" % (k, num(u), num(v)) for k, (u, v) in enumerate(uv)]
    out += ["\t\t}", "\t\t*MESH_NUMTVFACES %d" % len(tfaces), "\t\t*MESH_TFACELIST {"]
    out += ["\t\t\t*MESH_TFACE %d\t%d\t%d\t%d" % ((k,) + tuple(t)) for k, t in enumerate(tfaces)]
    out += ["\t\t}", "\t\t*MESH_NUMCVERTEX 0", "\t\t*MESH_NORMALS {"]
    for k, f in enumerate(faces):
        out.append("\t\t\t*MESH_FACENORMAL %d\t%s" % (k, triple(face_normal(moved, f))))
        out += ["\t\t\t\t*MESH_VERTEXNORMAL %d\t%s" % (v, triple(n)) for v, n in zip(f, normals[k])]
    out += ["\t\t}", "\t}", "\t*PROP_MOTIONBLUR 0", "\t*PROP_CASTSHADOW 1", "\t*PROP_RECVSHADOW 1",
            "\t*MATERIAL_REF %d" % material, "}"]
    return out


def material(number, name, diffuse, bitmap=None):
    out = ["\t*MATERIAL %d {" % number, '\t\t*MATERIAL_NAME "%s"' % name,
           '\t\t*MATERIAL_CLASS "Standard"', "\t\t*MATERIAL_AMBIENT " + triple(diffuse),
           "\t\t*MATERIAL_DIFFUSE " + triple(diffuse), "\t\t*MATERIAL_SPECULAR 0.9000\t0.9000\t0.9000",
           "\t\t*MATERIAL_SHINE 0.1000", "\t\t*MATERIAL_SHINESTRENGTH 0.0000",
           "\t\t*MATERIAL_TRANSPARENCY 0.0000", "\t\t*MATERIAL_WIRESIZE 1.0000",
           "\t\t*MATERIAL_SHADING Blinn", "\t\t*MATERIAL_XP_FALLOFF 0.0000",
           "\t\t*MATERIAL_SELFILLUM 0.0000", "\t\t*MATERIAL_FALLOFF In", "\t\t*MATERIAL_XP_TYPE Filter"]
    if bitmap:
        out += ["\t\t*MAP_DIFFUSE {", '\t\t\t*MAP_NAME "Map #1"', '\t\t\t*MAP_CLASS "Bitmap"',
                "\t\t\t*MAP_SUBNO 1", "\t\t\t*MAP_AMOUNT 1.0000", '\t\t\t*BITMAP "%s"' % bitmap,
                "\t\t\t*MAP_TYPE Screen", "\t\t\t*BITMAP_FILTER Pyramidal", "\t\t}"]
    return out + ["\t}"]


def light(name, position):
    return (["*LIGHTOBJECT {", '\t*NODE_NAME "%s"' % name, "\t*LIGHT_TYPE Omni"] +
            node_tm(name, position) +
            ["\t*LIGHT_SHADOWS Off", "\t*LIGHT_USELIGHT 1", "\t*LIGHT_SPOTSHAPE Circle",
             "\t*LIGHT_USEGLOBAL 0", "\t*LIGHT_ABSMAPBIAS 0", "\t*LIGHT_OVERSHOOT 0",
             "\t*LIGHT_SETTINGS {", "\t\t*TIMEVALUE 0", "\t\t*LIGHT_COLOR 1.0000\t1.0000\t1.0000",
             "\t\t*LIGHT_INTENS 1.0000", "\t\t*LIGHT_ASPECT -1.0000", "\t\t*LIGHT_TDIST -1.0000",
             "\t\t*LIGHT_MAPBIAS 1.0000", "\t\t*LIGHT_MAPRANGE 4.0000", "\t\t*LIGHT_MAPSIZE 512",
             "\t\t*LIGHT_RAYBIAS 0.0000", "\t}", "}"])


def scene():
    out = ["*3DSMAX_ASCIIEXPORT\t200", '*COMMENT "Written by exported_shapes.py; do not edit"',
           "*SCENE {", '\t*SCENE_FILENAME "shapes.max"', "\t*SCENE_FIRSTFRAME 0",
           "\t*SCENE_LASTFRAME 100", "\t*SCENE_FRAMESPEED 30", "\t*SCENE_TICKSPERFRAME 160",
           "\t*SCENE_BACKGROUND_STATIC 0.0000\t0.0000\t0.0000",
           "\t*SCENE_AMBIENT_STATIC 0.0000\t0.0000\t0.0000", "}",
           "*MATERIAL_LIST {", "\t*MATERIAL_COUNT 3"]
    out += material(0, "Clay", [0.5882, 0.4000, 0.2000], "maps\\clay.bmp")
    out += material(1, "Steel", [0.6000, 0.6000, 0.6500])
    out += material(2, "Glaze", [0.1000, 0.3000, 0.7000])
    out += ["}"]
    out += geomobject("Sphere01", [-40, 0, 20], 0, sphere(20))
    out += geomobject("Cylinder01", [0, 0, 0], 2, cylinder(10, 30))
    out += geomobject("Torus01", [40, 0, 10], 1, torus(15, 5))
    out += light("Omni01", [0, -80, 60])
    return "\n".join(out) + "\n"


print(scene(), end="")
