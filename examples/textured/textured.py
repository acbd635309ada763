#!/usr/bin/env python3
# Writes the textured example's model and its picture: textured.ase, a torus
# with texture coordinates (u around the ring, v around the tube) whose one
# material maps "C:\maps\Tiles.png" as an exporter on another machine writes
# it, tiled 4 times around the ring; and tiles.png, the picture the engine
# finds beside the model by its base name, ignoring case: coloured tiles
# with dark joints and a light spot in each.
#
#   python3 examples/textured/textured.py examples/textured
#   python3 examples/textured/textured.py --triangles 100000 --picture 4096 /tmp/big
#
# The second form makes a larger model and picture of the same kind (for
# timing the viewer's open); ring and tube counts are chosen so that the
# triangle count is at least the one asked for.
import argparse
import math
import os
import struct
import zlib


def torus(rings, sides, big=1.0, small=0.38):
    """Points, texture vertices and faces (point and texture indices) of a torus around +z."""
    points, tpoints, faces = [], [], []
    for i in range(rings):
        a = 2 * math.pi * i / rings
        for j in range(sides):
            b = 2 * math.pi * j / sides
            r = big + small * math.cos(b)
            points.append((r * math.cos(a), r * math.sin(a), small * math.sin(b)))
    for i in range(rings + 1):  # the seams get texture vertices of their own
        for j in range(sides + 1):
            tpoints.append((i / rings, j / sides))
    p = lambda i, j: (i % rings) * sides + j % sides
    t = lambda i, j: i * (sides + 1) + j
    for i in range(rings):
        for j in range(sides):
            corners = [(i, j), (i + 1, j), (i + 1, j + 1), (i, j + 1)]
            for tri in ((0, 1, 2), (2, 3, 0)):
                faces.append(([p(*corners[k]) for k in tri], [t(*corners[k]) for k in tri]))
    return points, tpoints, faces


def ase(points, tpoints, faces):
    out = ["*3DSMAX_ASCIIEXPORT\t200", '*COMMENT "textured example, written by textured.py"',
           "*MATERIAL_LIST {", "\t*MATERIAL_COUNT 1", "\t*MATERIAL 0 {",
           '\t\t*MATERIAL_NAME "Tiles"', '\t\t*MATERIAL_CLASS "Standard"',
           "\t\t*MATERIAL_DIFFUSE\t0.8000\t0.5000\t0.3000", "\t\t*MATERIAL_TRANSPARENCY 0.0000",
           "\t\t*MAP_DIFFUSE {", '\t\t\t*MAP_NAME "Tiles map"', '\t\t\t*MAP_CLASS "Bitmap"',
           "\t\t\t*MAP_SUBNO 1", "\t\t\t*MAP_AMOUNT 1.0000", '\t\t\t*BITMAP "C:\\maps\\Tiles.png"',
           "\t\t\t*MAP_TYPE Screen", "\t\t\t*UVW_U_OFFSET 0.0000", "\t\t\t*UVW_V_OFFSET 0.0000",
           "\t\t\t*UVW_U_TILING 4.0000", "\t\t\t*UVW_V_TILING 1.0000", "\t\t\t*UVW_ANGLE 0.0000",
           "\t\t\t*BITMAP_FILTER Pyramidal", "\t\t}", "\t}", "}", "*GEOMOBJECT {",
           '\t*NODE_NAME "Torus"', "\t*MESH {", "\t\t*TIMEVALUE 0",
           "\t\t*MESH_NUMVERTEX %d" % len(points), "\t\t*MESH_NUMFACES %d" % len(faces),
           "\t\t*MESH_VERTEX_LIST {"]
    out += ["\t\t\t*MESH_VERTEX %d\t%.4f\t%.4f\t%.4f" % ((n,) + v) for n, v in enumerate(points)]
    out += ["\t\t}", "\t\t*MESH_FACE_LIST {"]
    out += ["\t\t\t*MESH_FACE %d:\tA: %d B: %d C: %d AB: 1 BC: 1 CA: 0\t*MESH_SMOOTHING 1"
            "\t*MESH_MTLID 0" % ((n,) + tuple(f[0])) for n, f in enumerate(faces)]
    out += ["\t\t}", "\t\t*MESH_NUMTVERTEX %d" % len(tpoints), "\t\t*MESH_TVERTLIST {"]
    out += ["\t\t\t*MESH_TVERT %d\t%.4f\t%.4f\t0.0000" % ((n,) + v) for n, v in enumerate(tpoints)]
    out += ["\t\t}", "\t\t*MESH_NUMTVFACES %d" % len(faces), "\t\t*MESH_TFACELIST {"]
    out += ["\t\t\t*MESH_TFACE %d\t%d\t%d\t%d" % ((n,) + tuple(f[1])) for n, f in enumerate(faces)]
    out += ["\t\t}", "\t}", "\t*MATERIAL_REF 0", "}"]
    return "\n".join(out) + "\n"


def tiles_png(size):
    """RGB PNG of 8 x 8 tiles, each its own colour with a light spot, dark joints between."""
    cell = max(size // 8, 1)
    joint = max(cell // 16, 1)
    palette = [(200, 70, 50), (230, 180, 60), (70, 140, 90), (60, 100, 180), (150, 80, 160),
               (220, 120, 40), (90, 170, 190), (180, 60, 90)]
    rows = []
    for y in range(size):
        cy, fy = divmod(y, cell)
        row = bytearray()
        for cx in range(size // cell + 1):
            width = min(cell, size - cx * cell)
            if width <= 0:
                break
            colour = palette[(cx * 3 + cy * 5) % len(palette)]
            dy = (fy - cell / 2) / (cell / 2)
            if fy < joint:
                row += bytes((40, 36, 32)) * width
                continue
            # the spot: a lighter band where the row crosses a disc in the tile's middle
            half = int(cell * 0.22 * math.sqrt(max(0.0, 1 - dy * dy * 4))) if abs(dy) < 0.5 else 0
            light = tuple(min(255, c + 60) for c in colour)
            middle = cell // 2
            spans = [(joint, bytes((40, 36, 32))), (middle - half, bytes(colour)),
                     (2 * half, bytes(light)), (cell - middle - half, bytes(colour))]
            tile = b"".join(pattern * count for count, pattern in spans if count > 0)
            row += tile[: width * 3]
        rows.append(b"\0" + bytes(row))
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))
    header = struct.pack(">IIBBBBB", size, size, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(b"".join(rows), 6)) + chunk(b"IEND", b""))


def main():
    parser = argparse.ArgumentParser(description="Write textured.ase and tiles.png into FOLDER.")
    parser.add_argument("folder")
    parser.add_argument("--triangles", type=int, default=640)
    parser.add_argument("--picture", type=int, default=256, help="picture side, pixels")
    args = parser.parse_args()
    sides = max(8, int(math.sqrt(args.triangles / 6)))
    rings = max(3, -(-args.triangles // (2 * sides)))
    os.makedirs(args.folder, exist_ok=True)
    with open(os.path.join(args.folder, "textured.ase"), "w", newline="\n") as out:
        out.write(ase(*torus(rings, sides)))
    with open(os.path.join(args.folder, "tiles.png"), "wb") as out:
        out.write(tiles_png(args.picture))


if __name__ == "__main__":
    main()
