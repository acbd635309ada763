#!/usr/bin/env python3
"""Writes one BMP file of each kind the picture decoder reads, byte by byte,
and beside each the pixels ImageMagick reads from it (NAME.rgba: 8-bit RGBA,
top row first), the reference the tests hold the decoder to.

    python3 tests/data/bmp/variants/make-variants.py     (needs ImageMagick's convert)

ImageMagick runs only here, when the data is made; its outputs are kept.
"""
import os
import struct
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
W, H = 13, 7  # odd width: every row kind needs padding


def colour(x, y):
    """The source picture: gradients, a diagonal stripe and a varying alpha."""
    r = (x * 255) // (W - 1)
    g = (y * 255) // (H - 1)
    b = 255 if (x + y) % 4 == 0 else (x * 37 + y * 11) % 256
    a = (x * 19 + y * 40) % 256
    return r, g, b, a


def index(x, y, colours):
    return (x * 3 + y * 5) % colours


def palette(colours):
    """Palette entry i as (r, g, b)."""
    return [((i * 67) % 256, (i * 151 + 30) % 256, (255 - i * 29) % 256) for i in range(colours)]


def info_header(size, width, height, bits, compression, data_bytes, used=0, masks=None):
    if size == 12:
        return struct.pack('<IHHHH', 12, width, height, 1, bits)
    head = struct.pack('<IiiHHIIiiII', size, width, height, 1, bits, compression, data_bytes,
                       2835, 2835, used, 0)
    masks = list(masks or [0, 0, 0, 0])
    if size >= 52:
        head += struct.pack('<III', *masks[:3])
    if size >= 56:
        head += struct.pack('<I', masks[3])
    if size >= 108:
        head += b'BGRs' + bytes(36) + bytes(12)
    if size == 124:
        head += struct.pack('<IIII', 4, 0, 0, 0)
    return head


def bmp(name, bits, rows, compression=0, info=40, pal=None, used=0, masks=None, masks_after=0,
        top_down=False):
    """rows: stored pixel bytes (already padded or run-length coded)."""
    width, height = W, H
    data = b''.join(rows)
    entry = 3 if info == 12 else 4
    table = b''
    for r, g, b in pal or []:
        table += bytes((b, g, r)) + (b'' if entry == 3 else b'\0')
    after = b''.join(struct.pack('<I', m) for m in (masks or [])[:masks_after])
    offset = 14 + info + len(after) + len(table)
    head = info_header(info, width, -height if top_down else height, bits, compression, len(data),
                       used, masks)
    assert len(head) == info, (name, len(head))
    out = b'BM' + struct.pack('<IHHI', offset + len(data), 0, 0, offset) + head + after + table
    with open(os.path.join(HERE, name + '.bmp'), 'wb') as f:
        f.write(out + data)


def pad(row):
    return row + bytes(-len(row) % 4)


def stored_rows(make_row, top_down=False):
    order = range(H) if top_down else range(H - 1, -1, -1)  # picture row 0 is the top
    return [pad(make_row(y)) for y in order]


def packed(indices, bits):
    out, acc, n = bytearray(), 0, 0
    for i in indices:
        acc = acc << bits | i
        n += bits
        if n == 8:
            out.append(acc)
            acc, n = 0, 0
    if n:
        out.append(acc << (8 - n))
    return bytes(out)


def palette_variant(name, bits, used=0, info=40, top_down=False):
    colours = used or 1 << bits
    rows = stored_rows(lambda y: packed([index(x, y, colours) for x in range(W)], bits), top_down)
    bmp(name, bits, rows, info=info, pal=palette(colours), used=used, top_down=top_down)


def field_bytes(x, y, masks, bits):
    value = 0
    for channel, mask in zip(colour(x, y), masks):
        if mask:
            shift = (mask & -mask).bit_length() - 1
            width = bin(mask).count('1')
            value |= (channel >> (8 - width) if width <= 8 else channel << (width - 8)) << shift
    return struct.pack('<H' if bits == 16 else '<I', value)


def field_variant(name, bits, masks, compression, info=40, masks_after=0):
    rows = stored_rows(lambda y: b''.join(field_bytes(x, y, masks, bits) for x in range(W)))
    bmp(name, bits, rows, compression=compression, info=info, masks=masks, masks_after=masks_after)


def run_length_variant(name, four):
    """Runs, literal stretches of odd length, a line ended early, a delta."""
    colours = 16 if four else 40
    stream = bytearray()
    for y in range(H - 1, -1, -1):  # stored bottom-up
        line = [index(x, y, colours) for x in range(W)]
        if y == 2:  # end the line after a run of 4: the rest stays unwritten
            stream += bytes((4, line[0] << 4 | line[1] if four else line[0]))
            stream += b'\0\0'
            continue
        if y == 4:  # a run of 3, then a delta of 5 right and 1 up; the rest of this
            # line and the start of the next (picture row 3) stay unwritten
            stream += bytes((3, line[0] << 4 | line[1] if four else line[0]))
            stream += bytes((0, 2, 5, 1))
            rest = [index(x, y - 1, colours) for x in range(8, W)]
            stream += bytes((len(rest), rest[0] << 4 | rest[1] if four else rest[0]))
            stream += b'\0\0'
            continue
        if y == 3:
            continue  # reached through the delta above
        # a run of 4 of two alternating (RLE4) or one index (RLE8)
        stream += bytes((4, line[0] << 4 | line[1] if four else line[0]))
        literal = line[4:9]  # 5 pixels as they are
        body = packed(literal, 4) if four else bytes(literal)
        stream += bytes((0, len(literal))) + body + bytes(len(body) % 2)
        stream += bytes((4, line[9] << 4 | line[10] if four else line[9]))
        stream += b'\0\0'
    stream += b'\0\1'
    bmp(name, 4 if four else 8, [bytes(stream)], compression=2 if four else 1,
        pal=palette(colours), used=colours)


def true_colour_variant(name, bits, info=40, top_down=False, alpha=True):
    def row(y):
        out = b''
        for x in range(W):
            r, g, b, a = colour(x, y)
            out += bytes((b, g, r)) + (bytes((a if alpha else 0,)) if bits == 32 else b'')
        return out
    bmp(name, bits, stored_rows(row, top_down), info=info, top_down=top_down)


def main():
    palette_variant('palette-1bit', 1)
    palette_variant('palette-4bit', 4)
    palette_variant('palette-4bit-11-colours', 4, used=11)
    palette_variant('palette-8bit-40-colours', 8, used=40)
    palette_variant('palette-8bit-top-down', 8, used=40, top_down=True)
    palette_variant('palette-8bit-12-byte-header', 8, info=12)
    run_length_variant('rle8', four=False)
    run_length_variant('rle4', four=True)
    field_variant('rgb555', 16, [0x7C00, 0x03E0, 0x001F, 0], 0)
    field_variant('rgb565-fields', 16, [0xF800, 0x07E0, 0x001F, 0], 3, masks_after=3)
    # 10-bit fields: each channel's high 8 bits differ from its low 8
    field_variant('rgb101010-fields', 32, [0x3FF00000, 0x000FFC00, 0x000003FF, 0], 3, masks_after=3)
    field_variant('argb4444-fields-108', 16, [0x0F00, 0x00F0, 0x000F, 0xF000], 3, info=108)
    field_variant('xbgr-fields-56', 32, [0x000000FF, 0x0000FF00, 0x00FF0000, 0], 3, info=56)
    field_variant('xbgr-fields-52', 32, [0x000000FF, 0x0000FF00, 0x00FF0000, 0], 3, info=52)
    field_variant('rgba-fields-124', 32, [0xFF000000, 0x00FF0000, 0x0000FF00, 0x000000FF], 3,
                  info=124)
    field_variant('argb-alpha-fields', 32, [0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000], 6,
                  masks_after=4)
    true_colour_variant('rgb24', 24)
    true_colour_variant('rgb24-top-down', 24, top_down=True)
    true_colour_variant('rgb24-12-byte-header', 24, info=12)
    true_colour_variant('bgra32', 32)
    true_colour_variant('bgrx32-alpha-zero', 32, alpha=False)
    # Where ImageMagick is no reference the tests use another: it does not
    # read compression 6 (bit fields with alpha: held to bgra32's pixels), it
    # takes an alpha mask past the end of a 52-byte header (held to the
    # 56-byte file's pixels), and it widens a 4-bit field v to v * 16, so
    # that 15 is not 255 (held to stb_image, which repeats the bits). The
    # 10-bit fields hold each colour in their high 8 bits: held to rgb24's
    # pixels, the same colours.
    skipped = ('argb-alpha-fields.bmp', 'xbgr-fields-52.bmp', 'argb4444-fields-108.bmp',
               'rgb101010-fields.bmp')
    for name in sorted(os.listdir(HERE)):
        if name.endswith('.bmp') and name not in skipped:
            stem = os.path.join(HERE, name[:-4])
            subprocess.run(['convert', stem + '.bmp', '-depth', '8', 'rgba:' + stem + '.rgba'],
                           check=True)
            size = os.path.getsize(stem + '.rgba')
            if size != W * H * 4:
                sys.exit('%s: ImageMagick gave %d bytes' % (name, size))


if __name__ == '__main__':
    main()
