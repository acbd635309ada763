#!/usr/bin/env python3
# Writes the damaged PNG files beside this script: each breaks one rule of the
# format and is otherwise sound (true CRCs unless the CRC is the fault).
# good-*.png are the sound files they start from. Run it from anywhere.
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SIGNATURE = b"\x89PNG\r\n\x1a\n"


def chunk(kind, data, crc=None):
    if crc is None:
        crc = zlib.crc32(kind + data)
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", crc)


def ihdr(width=2, height=2, depth=8, colour=2, compression=0, filter_=0, interlace=0):
    return chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, colour, compression,
                                      filter_, interlace))


# 2 x 2 RGB, 8 bits: filter byte 0 and six bytes per row.
RGB_DATA = chunk(b"IDAT", zlib.compress(b"\0" + b"\xff\0\0\0\xff\0" + b"\0" + b"\0\0\xff\xff\xff\xff"))
# 2 x 2 palette, 1 bit: one byte per row after the filter byte.
PAL_DATA = chunk(b"IDAT", zlib.compress(b"\0\x40\0\x80"))
PALETTE = chunk(b"PLTE", b"\0\0\0\xff\xff\xff")
END = chunk(b"IEND", b"")
TEXT = chunk(b"tEXt", b"Comment\0damaged on purpose")


def rgb(*middle, header=None):
    return SIGNATURE + (header or ihdr()) + b"".join(middle) + END


FILES = {
    "good-rgb": rgb(TEXT, RGB_DATA),
    "good-palette": SIGNATURE + ihdr(depth=1, colour=3) + PALETTE + PAL_DATA + END,
    "signature-byte-1": b"\x88" + rgb(RGB_DATA)[1:],
    "signature-cut": SIGNATURE[:5],
    "nothing-after-signature": SIGNATURE,
    "crc-ihdr": SIGNATURE + chunk(b"IHDR", struct.pack(">IIBBBBB", 2, 2, 8, 2, 0, 0, 0), 1234) +
    RGB_DATA + END,
    "crc-idat": rgb(RGB_DATA[:-4] + b"\0\0\0\0"),
    "first-not-ihdr": SIGNATURE + TEXT + ihdr() + RGB_DATA + END,
    "second-ihdr": rgb(ihdr(), RGB_DATA),
    "ihdr-length-12": SIGNATURE + chunk(b"IHDR", struct.pack(">IIBBBB", 2, 2, 8, 2, 0, 0)) +
    RGB_DATA + END,
    "width-0": rgb(RGB_DATA, header=ihdr(width=0)),
    "height-2-31": rgb(RGB_DATA, header=ihdr(height=1 << 31)),
    "colour-type-9": rgb(RGB_DATA, header=ihdr(colour=9)),
    "depth-99": rgb(RGB_DATA, header=ihdr(depth=99)),
    "depth-4-rgb": rgb(RGB_DATA, header=ihdr(depth=4)),
    "depth-16-palette": SIGNATURE + ihdr(depth=16, colour=3) + PALETTE + PAL_DATA + END,
    "compression-1": rgb(RGB_DATA, header=ihdr(compression=1)),
    "filter-1": rgb(RGB_DATA, header=ihdr(filter_=1)),
    "interlace-2": rgb(RGB_DATA, header=ihdr(interlace=2)),
    "palette-missing": SIGNATURE + ihdr(depth=1, colour=3) + PAL_DATA + END,
    "palette-in-greyscale": SIGNATURE + ihdr(depth=1, colour=0) + PALETTE + PAL_DATA + END,
    "palette-twice": SIGNATURE + ihdr(depth=1, colour=3) + PALETTE + PALETTE + PAL_DATA + END,
    "palette-after-data": rgb(RGB_DATA, PALETTE),
    "palette-length-7": SIGNATURE + ihdr(depth=1, colour=3) + chunk(b"PLTE", b"\0" * 7) +
    PAL_DATA + END,
    "palette-over-depth": SIGNATURE + ihdr(depth=1, colour=3) + chunk(b"PLTE", b"\0" * 9) +
    PAL_DATA + END,
    "no-idat": rgb(TEXT),
    "idat-split": rgb(RGB_DATA, TEXT, RGB_DATA),
    "no-iend": SIGNATURE + ihdr() + RGB_DATA,
    "after-iend": rgb(RGB_DATA) + b"junk",
    "iend-length-4": SIGNATURE + ihdr() + RGB_DATA + chunk(b"IEND", b"\0\0\0\0"),
    "unknown-critical": rgb(chunk(b"XXXX", b"x"), RGB_DATA),
    "reserved-bit": rgb(chunk(b"tEsT", b"x"), RGB_DATA),
    "type-not-letters": rgb(chunk(b"tE1t", b"x"), RGB_DATA),
    "length-over-2-31": SIGNATURE + ihdr() + struct.pack(">I", 1 << 31) + b"IDAT" + b"\0" * 8,
    "data-cut": SIGNATURE + ihdr() + RGB_DATA[:12],
    "crc-cut": SIGNATURE + ihdr() + RGB_DATA[:-2],
    "chunk-head-cut": SIGNATURE + ihdr() + RGB_DATA + b"\0\0\0",
}

for name, data in FILES.items():
    with open(os.path.join(HERE, name + ".png"), "wb") as out:
        out.write(data)
