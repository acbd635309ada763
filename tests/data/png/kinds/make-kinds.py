#!/usr/bin/env python3
"""Writes small PNG files of every colour type and bit depth, plain and
interlaced, with and without a transparent colour or palette transparency,
every row filter used (the first row of each pass included). The pixels are
pseudo-random from a fixed seed; a few take the transparent colour, and as
many miss it by the low bit of one sample.

    python3 tests/data/png/kinds/make-kinds.py

The tests compare what the engine decodes with what stb_image reads.
"""
import os
import random
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}
DEPTHS = {0: (1, 2, 4, 8, 16), 2: (8, 16), 3: (1, 2, 4, 8), 4: (8, 16), 6: (8, 16)}
PASSES = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2),
          (0, 1, 1, 2)]


def chunk(kind, data):
    body = kind + data
    return struct.pack('>I', len(data)) + body + struct.pack('>I', zlib.crc32(body))


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    return a if pa <= pb and pa <= pc else b if pb <= pc else c


def filtered(kind, row, prior, bpp):
    out = bytearray()
    for i, x in enumerate(row):
        a = row[i - bpp] if i >= bpp else 0
        b = prior[i] if prior else 0
        c = prior[i - bpp] if prior and i >= bpp else 0
        guess = (0, a, b, (a + b) // 2, paeth(a, b, c))[kind]
        out.append((x - guess) & 0xFF)
    return bytes([kind]) + bytes(out)


def pack(samples, depth):
    if depth == 16:
        return b''.join(struct.pack('>H', s) for s in samples)
    if depth == 8:
        return bytes(samples)
    out, acc, n = bytearray(), 0, 0
    for s in samples:
        acc, n = acc << depth | s, n + depth
        if n == 8:
            out.append(acc)
            acc, n = 0, 0
    if n:
        out.append(acc << (8 - n))
    return bytes(out)


def write(name, width, height, colour, depth, interlace, rng, key=None, palette=None, alpha=None,
          first=0):
    channels = CHANNELS[colour]
    top = (len(palette) if palette else 1 << depth) - 1
    samples = [[[rng.randint(0, top) for _ in range(channels)] for _ in range(width)]
               for _ in range(height)]
    if key is not None:  # every fifth pixel takes the transparent colour, the next
        for y in range(height):  # one a colour that misses it by one sample's low bit
            keyed = {(x + y) % width for x in range(0, width, 5)}
            for x in range(0, width, 5):
                samples[y][(x + y) % width] = list(key)
                near = (x + y + 1) % width
                if near not in keyed:
                    samples[y][near] = list(key)
                    samples[y][near][(x // 5 + y) % channels] ^= 1
    bpp = max(1, channels * depth // 8)
    raw = b''
    passes = PASSES if interlace else [(0, 0, 1, 1)]
    for number, (x0, y0, dx, dy) in enumerate(passes):
        prior = None
        for row_number, y in enumerate(range(y0, height, dy)):
            columns = range(x0, width, dx)
            if not columns:
                break
            row = pack([s for x in columns for s in samples[y][x]], depth)
            raw += filtered((row_number + number + first) % 5, row, prior, bpp)
            prior = row
    out = b'\x89PNG\r\n\x1a\n'
    out += chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, depth, colour, 0, 0, interlace))
    if palette:
        out += chunk(b'PLTE', b''.join(bytes(c) for c in palette))
    if alpha is not None:
        out += chunk(b'tRNS', bytes(alpha))
    if key is not None:
        out += chunk(b'tRNS', b''.join(struct.pack('>H', k) for k in key))
    compressed = zlib.compress(raw, 9)
    for start in range(0, len(compressed), 64):  # image data over several chunks
        out += chunk(b'IDAT', compressed[start:start + 64])
    out += chunk(b'IEND', b'')
    with open(os.path.join(HERE, name), 'wb') as f:
        f.write(out)


def main():
    rng = random.Random(28)
    sizes = [(1, 1), (3, 2), (7, 5), (11, 9), (33, 3)]
    count = 0
    for colour in sorted(DEPTHS):
        for depth in DEPTHS[colour]:
            for interlace in (0, 1):
                for transparent in (False, True) if colour in (0, 2, 3) else (False,):
                    width, height = sizes[count % len(sizes)] if count % 3 else (11, 9)
                    count += 1
                    name = 'c%dd%02d%s%s-%dx%d.png' % (colour, depth, 'i' if interlace else 'n',
                                                       't' if transparent else '', width, height)
                    palette = alpha = key = None
                    if colour == 3:
                        entries = max(1, (1 << depth) - 1 - depth)  # fewer than the depth allows
                        palette = [(rng.randrange(256), rng.randrange(256), rng.randrange(256))
                                   for _ in range(entries)]
                        if transparent:  # fewer alpha values than entries: the rest opaque
                            alpha = [rng.randrange(256) for _ in range((entries + 1) // 2)]
                    elif transparent:
                        top = (1 << depth) - 1
                        key = [rng.randint(0, top) for _ in range(CHANNELS[colour])]
                    write(name, width, height, colour, depth, interlace, rng, key, palette, alpha)
    # 8-bit RGB and RGBA, the kinds decoded a strip at a time: the first row
    # with each filter (over a row of zeros)
    for colour in (2, 6):
        for first in range(5):
            name = 'c%dd08n-first-filter-%d-9x4.png' % (colour, first)
            write(name, 9, 4, colour, 8, 0, rng, first=first)


if __name__ == '__main__':
    main()
