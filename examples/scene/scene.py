#!/usr/bin/env python3
# Writes the scene example's data: scene.ase, the exported scene of the tests
# (tests/data/ase/exported_shapes.py), whose Clay material maps "maps\clay.bmp"
# on the sphere; and clay.bmp, the picture the engine finds beside the model by
# its base name: 8 x 4 squares, clay orange and leaf green, 64 x 64 pixels.
#
#   python3 examples/scene/scene.py examples/scene
import os
import struct
import subprocess
import sys

ORANGE, GREEN = (255, 150, 40), (60, 190, 90)


def clay_bmp(size=64):
    """24-bit BMP, rows bottom up, each padded to 4 bytes (64 * 3 needs none)."""
    rows = b""
    for y in range(size):
        for x in range(size):
            r, g, b = ORANGE if (x * 8 // size + y * 4 // size) % 2 == 0 else GREEN
            rows += bytes((b, g, r))
    header = struct.pack("<2sIHHI", b"BM", 54 + len(rows), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, size, size, 1, 24, 0, len(rows), 2835, 2835, 0, 0)
    return header + info + rows


def main():
    folder = sys.argv[1]
    here = os.path.dirname(os.path.abspath(__file__))
    shapes = os.path.join(here, "..", "..", "tests", "data", "ase", "exported_shapes.py")
    with open(os.path.join(folder, "scene.ase"), "wb") as out:
        out.write(subprocess.run([sys.executable, shapes], check=True, stdout=subprocess.PIPE).stdout)
    with open(os.path.join(folder, "clay.bmp"), "wb") as out:
        out.write(clay_bmp())


if __name__ == "__main__":
    main()
