#!/usr/bin/env python3
"""Draws Strellan's icon: a red electric guitar lying diagonally, body at the
lower left, headstock at the upper right, on a transparent background.

The guitar is a list of shapes in its own frame (u along the neck from the
bottom of the body, v across it, in pixels), painted back to front and
supersampled 8 x 8 per pixel for smooth edges. Edit the shapes, then run

    python3 resources/icon/make_icon.py resources/strellan.ico [preview.png]

to rewrite the icon (one 32 x 32 image, 32 bits per pixel with alpha) and,
optionally, an enlarged PNG preview. Standard library only.
"""

import math
import struct
import sys
import zlib

SIZE = 32
SUPERSAMPLE = 8

# The guitar's frame: origin at the bottom of the body, u toward the headstock
# (up and to the right), v across the guitar.
ORIGIN = (2.6, 29.4)
U_DIR = (math.cos(math.radians(-45)), math.sin(math.radians(-45)))
V_DIR = (-U_DIR[1], U_DIR[0])

RED = (205, 22, 32, 255)
RED_DARK = (120, 8, 16, 255)
GUARD = (246, 240, 228, 255)
PICKUP = (28, 28, 30, 255)
METAL = (178, 182, 188, 255)
MAPLE = (226, 188, 118, 255)
ROSEWOOD = (92, 52, 28, 255)
STRING = (236, 236, 240, 255)


def ellipse(cu, cv, ru, rv):
    return lambda u, v: ((u - cu) / ru) ** 2 + ((v - cv) / rv) ** 2 <= 1.0


def rect(u0, u1, v0, v1):
    return lambda u, v: u0 <= u <= u1 and v0 <= v <= v1


def union(*shapes):
    return lambda u, v: any(s(u, v) for s in shapes)


def minus(shape, cut):
    return lambda u, v: shape(u, v) and not cut(u, v)


def inset(shape, d):
    """The shape shrunk by d: used to paint an outline under a fill."""
    probes = [(d * math.cos(a), d * math.sin(a)) for a in
              (i * math.pi / 4 for i in range(8))]
    return lambda u, v: all(shape(u + du, v + dv) for du, dv in probes)


# A double-cutaway solid body: a wide lower bout, a narrower upper bout and two
# horns around the neck joint.
BODY = minus(
    union(ellipse(7.0, 0.0, 6.6, 7.4), ellipse(13.0, 0.4, 4.6, 6.0),
          ellipse(16.6, -4.2, 2.8, 1.9), ellipse(16.0, 4.4, 2.2, 1.7)),
    union(ellipse(18.6, -1.4, 2.4, 1.5), ellipse(18.2, 2.2, 2.0, 1.4)))
GUARD_SHAPE = union(ellipse(10.2, 2.6, 4.6, 3.2), rect(10.0, 16.0, -0.6, 2.6))
NECK = rect(15.0, 34.0, -1.25, 1.25)
FRETBOARD = rect(15.0, 33.0, -1.0, 1.0)
HEADSTOCK = union(rect(33.0, 38.6, -1.6, 2.2), ellipse(38.4, 0.4, 1.4, 1.8))
TUNERS = union(*(ellipse(34.4 + 1.4 * k, 2.9, 0.55, 0.55) for k in range(3)))
PICKUPS = union(rect(8.4, 9.6, -2.6, 2.6), rect(12.6, 13.8, -2.6, 2.6))
BRIDGE = rect(5.0, 6.0, -2.4, 2.4)
STRINGS = rect(5.0, 36.0, -0.18, 0.18)

# Back to front.
LAYERS = [
    (TUNERS, METAL),
    (HEADSTOCK, RED_DARK),
    (inset(HEADSTOCK, 0.55), RED),
    (NECK, MAPLE),
    (FRETBOARD, ROSEWOOD),
    (BODY, RED_DARK),
    (inset(BODY, 0.6), RED),
    (GUARD_SHAPE, GUARD),
    (PICKUPS, PICKUP),
    (BRIDGE, METAL),
    (STRINGS, STRING),
]


def sample(x, y):
    dx, dy = x - ORIGIN[0], y - ORIGIN[1]
    u = dx * U_DIR[0] + dy * U_DIR[1]
    v = dx * V_DIR[0] + dy * V_DIR[1]
    colour = (0, 0, 0, 0)
    for shape, c in LAYERS:
        if shape(u, v):
            colour = c
    return colour


def render():
    """Rows top to bottom of (r, g, b, a), averaged over the subsamples with
    the colour weighted by coverage so that edges do not darken."""
    rows = []
    n = SUPERSAMPLE * SUPERSAMPLE
    for py in range(SIZE):
        row = []
        for px in range(SIZE):
            acc = [0, 0, 0, 0]
            for sy in range(SUPERSAMPLE):
                for sx in range(SUPERSAMPLE):
                    r, g, b, a = sample(px + (sx + 0.5) / SUPERSAMPLE,
                                        py + (sy + 0.5) / SUPERSAMPLE)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            alpha = acc[3] / n
            if acc[3] == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(round(acc[i] / acc[3]) for i in range(3)) + (round(alpha),))
        rows.append(row)
    return rows


def ico_bytes(rows):
    """One 32 bpp DIB image: BITMAPINFOHEADER with doubled height, BGRA rows
    bottom-up, then the 1 bpp AND mask (set where transparent)."""
    xor = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for r, g, b, a in row)
    mask_rows = []
    for row in reversed(rows):
        bits = 0
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits |= 1 << (31 - x)
        mask_rows.append(struct.pack(">I", bits))
    mask = b"".join(mask_rows)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, len(xor) + len(mask), 0, 0,
                         0, 0)
    image = header + xor + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + entry + image


def png_bytes(rows, scale):
    raw = b""
    for row in rows:
        line = b"".join(bytes(px) * scale for px in row)
        raw += (b"\0" + line) * scale

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    ihdr = struct.pack(">IIBBBBB", SIZE * scale, SIZE * scale, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(raw, 9)) +
            chunk(b"IEND", b""))


def main(argv):
    if len(argv) not in (2, 3):
        sys.stderr.write("usage: make_icon.py OUT.ico [PREVIEW.png]\n")
        return 2
    rows = render()
    with open(argv[1], "wb") as f:
        f.write(ico_bytes(rows))
    if len(argv) == 3:
        with open(argv[2], "wb") as f:
            f.write(png_bytes(rows, 8))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
