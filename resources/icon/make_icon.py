#!/usr/bin/env python3
"""Draws Strellan's icon: a red electric guitar lying diagonally, body at the
lower left, headstock at the upper right, on a transparent background.

The guitar is a list of shapes in its own frame (u along the neck from the
bottom of the body, v across it, in units of the 32-pixel icon), painted
back to front. Every picture of the icon comes from these shapes:

    make_icon.py ico OUT.ico          the program's icon: one 32 x 32 image,
                                      32 bits per pixel with alpha
    make_icon.py png SIZE OUT.png     a SIZE x SIZE picture (the desktop's
                                      16, 32 and 48 pixel icons)
    make_icon.py svg OUT.svg          the scalable icon
    make_icon.py preview OUT.png      the 32 x 32 icon enlarged 8 times

Pixels are supersampled 8 x 8 for smooth edges. Standard library only.
"""

import math
import struct
import sys
import zlib

SIZE = 32  # the frame's units: the program's icon is one unit a pixel
SUPERSAMPLE = 8

# The guitar's frame: origin at the bottom of the body, u toward the headstock
# (up and to the right), v across the guitar.
ORIGIN = (2.6, 29.4)
ANGLE = -45.0
U_DIR = (math.cos(math.radians(ANGLE)), math.sin(math.radians(ANGLE)))
V_DIR = (-U_DIR[1], U_DIR[0])

RED = (205, 22, 32)
RED_DARK = (120, 8, 16)
GUARD = (246, 240, 228)
PICKUP = (28, 28, 30)
METAL = (178, 182, 188)
MAPLE = (226, 188, 118)
ROSEWOOD = (92, 52, 28)
STRING = (236, 236, 240)


class Ellipse:
    def __init__(self, cu, cv, ru, rv):
        self.cu, self.cv, self.ru, self.rv = cu, cv, ru, rv

    def contains(self, u, v):
        return ((u - self.cu) / self.ru) ** 2 + ((v - self.cv) / self.rv) ** 2 <= 1.0

    def grown(self, d):
        """The shape moved outward by d (inward when d is negative)."""
        return Ellipse(self.cu, self.cv, self.ru + d, self.rv + d)

    def svg(self, attributes):
        return '<ellipse cx="%g" cy="%g" rx="%g" ry="%g"%s/>' % (
            self.cu, self.cv, self.ru, self.rv, attributes)


class Rect:
    def __init__(self, u0, u1, v0, v1):
        self.u0, self.u1, self.v0, self.v1 = u0, u1, v0, v1

    def contains(self, u, v):
        return self.u0 <= u <= self.u1 and self.v0 <= v <= self.v1

    def grown(self, d):
        return Rect(self.u0 - d, self.u1 + d, self.v0 - d, self.v1 + d)

    def svg(self, attributes):
        return '<rect x="%g" y="%g" width="%g" height="%g"%s/>' % (
            self.u0, self.v0, self.u1 - self.u0, self.v1 - self.v0, attributes)


class Union:
    def __init__(self, *parts):
        self.parts = parts

    def contains(self, u, v):
        return any(p.contains(u, v) for p in self.parts)

    def grown(self, d):
        return Union(*(p.grown(d) for p in self.parts))

    def svg(self, attributes):
        return "".join(p.svg(attributes) for p in self.parts)


class Minus:
    """A shape with another cut out of it."""

    def __init__(self, shape, cut):
        self.shape, self.cut = shape, cut

    def contains(self, u, v):
        return self.shape.contains(u, v) and not self.cut.contains(u, v)

    def grown(self, d):
        return Minus(self.shape.grown(d), self.cut.grown(-d))


def inset(shape, d):
    """The shape shrunk by d: painted over the shape, it leaves an outline."""
    return shape.grown(-d)


# A double-cutaway solid body: a wide lower bout, a narrower upper bout and two
# horns around the neck joint.
BODY = Minus(
    Union(Ellipse(7.0, 0.0, 6.6, 7.4), Ellipse(13.0, 0.4, 4.6, 6.0),
          Ellipse(16.6, -4.2, 2.8, 1.9), Ellipse(16.0, 4.4, 2.2, 1.7)),
    Union(Ellipse(18.6, -1.4, 2.4, 1.5), Ellipse(18.2, 2.2, 2.0, 1.4)))
GUARD_SHAPE = Union(Ellipse(10.2, 2.6, 4.6, 3.2), Rect(10.0, 16.0, -0.6, 2.6))
NECK = Rect(15.0, 34.0, -1.25, 1.25)
FRETBOARD = Rect(15.0, 33.0, -1.0, 1.0)
HEADSTOCK = Union(Rect(33.0, 38.6, -1.6, 2.2), Ellipse(38.4, 0.4, 1.4, 1.8))
TUNERS = Union(*(Ellipse(34.4 + 1.4 * k, 2.9, 0.55, 0.55) for k in range(3)))
PICKUPS = Union(Rect(8.4, 9.6, -2.6, 2.6), Rect(12.6, 13.8, -2.6, 2.6))
BRIDGE = Rect(5.0, 6.0, -2.4, 2.4)
STRINGS = Rect(5.0, 36.0, -0.18, 0.18)

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
    """The colour at (x, y) of the 32-unit icon, or None where transparent."""
    dx, dy = x - ORIGIN[0], y - ORIGIN[1]
    u = dx * U_DIR[0] + dy * U_DIR[1]
    v = dx * V_DIR[0] + dy * V_DIR[1]
    colour = None
    for shape, c in LAYERS:
        if shape.contains(u, v):
            colour = c
    return colour


def render(size):
    """Rows top to bottom of (r, g, b, a) for a size x size picture, averaged
    over the subsamples with the colour weighted by coverage so that edges do
    not darken."""
    rows = []
    n = SUPERSAMPLE * SUPERSAMPLE
    scale = SIZE / size
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0, 0, 0]
            covered = 0
            for sy in range(SUPERSAMPLE):
                for sx in range(SUPERSAMPLE):
                    c = sample((px + (sx + 0.5) / SUPERSAMPLE) * scale,
                               (py + (sy + 0.5) / SUPERSAMPLE) * scale)
                    if c is not None:
                        covered += 1
                        for i in range(3):
                            acc[i] += c[i]
            if covered == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(round(a / covered) for a in acc) + (round(255 * covered / n),))
        rows.append(row)
    return rows


def ico_bytes(rows):
    """One 32 bpp DIB image: BITMAPINFOHEADER with doubled height, BGRA rows
    bottom-up, then the 1 bpp AND mask (set where transparent)."""
    size = len(rows)
    xor = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for r, g, b, a in row)
    stride = (size + 31) // 32 * 4
    mask_rows = []
    for row in reversed(rows):
        bits = 0
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits |= 1 << (stride * 8 - 1 - x)
        mask_rows.append(bits.to_bytes(stride, "big"))
    mask = b"".join(mask_rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0,
                         0, 0)
    image = header + xor + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + entry + image


def png_bytes(rows, scale=1):
    raw = b""
    for row in rows:
        line = b"".join(bytes(px) * scale for px in row)
        raw += (b"\0" + line) * scale

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    side = len(rows) * scale
    ihdr = struct.pack(">IIBBBBB", side, side, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(raw, 9)) +
            chunk(b"IEND", b""))


def svg_text():
    """The same layers as SVG in the guitar's frame: a transform puts the
    frame on the icon, a mask cuts the horns' cut-outs."""
    hex_colour = "#%02x%02x%02x"
    out = ['<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d">'
           % (SIZE, SIZE, SIZE, SIZE),
           "<title>Strellan</title>"]
    frame = 'transform="translate(%g %g) rotate(%g)"' % (ORIGIN[0], ORIGIN[1], ANGLE)
    defs = []
    body = ["<g %s>" % frame]
    for i, (shape, colour) in enumerate(LAYERS):
        fill = ' fill="%s"' % (hex_colour % colour)
        if isinstance(shape, Minus):
            mask_id = "cut%d" % i
            defs.append('<mask id="%s" maskUnits="userSpaceOnUse" x="-10" y="-20" '
                        'width="60" height="40">' % mask_id +
                        '<rect x="-10" y="-20" width="60" height="40" fill="#fff"/>' +
                        shape.cut.svg(' fill="#000"') + "</mask>")
            body.append('<g mask="url(#%s)">%s</g>' % (mask_id, shape.shape.svg(fill)))
        else:
            body.append("<g>%s</g>" % shape.svg(fill))
    body.append("</g>")
    if defs:
        out.append("<defs>%s</defs>" % "".join(defs))
    out.extend(body)
    out.append("</svg>")
    return "\n".join(out) + "\n"


def main(argv):
    try:
        kind = argv[1]
        if kind == "png":
            size, path = int(argv[2]), argv[3]
            data = png_bytes(render(size))
        elif kind in ("ico", "svg", "preview") and len(argv) == 3:
            path = argv[2]
            data = {"ico": lambda: ico_bytes(render(SIZE)),
                    "svg": lambda: svg_text().encode(),
                    "preview": lambda: png_bytes(render(SIZE), 8)}[kind]()
        else:
            raise ValueError(kind)
    except (IndexError, ValueError):
        sys.stderr.write("usage: make_icon.py ico OUT.ico | png SIZE OUT.png | svg OUT.svg"
                         " | preview OUT.png\n")
        return 2
    with open(path, "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
