#!/usr/bin/env python3
"""Draws the plug-in's icons and bitmaps and writes them to resources/art/.

The build only compiles the files this script writes; run it again after
changing a drawing and commit its output. Standard library only, and the
output is the same bytes on every run. With --check it writes nothing and
fails if a file in art/ differs from what it would write.

Pictures are described as role grids (one character per pixel) or, for the
32x32 main icon, as shapes rendered with supersampling. A role is then
coloured per image depth: gradients and soft edges where the format has the
colours and an alpha channel for them, flat colours where it has not.
"""

import os
import struct
import sys

# --------------------------------------------------------------------------
# Colours

# The standard 16-colour palette: what a 4-bit icon meets on a 16-colour
# display, so its pixels must use exactly these.
VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
VGA_NAVY, VGA_GREY, VGA_BLUE, VGA_WHITE = (0, 0, 128), (128, 128, 128), (0, 0, 255), (255, 255, 255)

OUTLINE = (20, 58, 112)
FILL_TOP, FILL_BOTTOM = (255, 255, 255), (208, 226, 245)
NOTE_TOP, NOTE_BOTTOM = (38, 150, 240), (10, 88, 192)
FLAT_FILL = (244, 248, 253)
FLAT_NOTE = (22, 116, 220)

TRANSPARENT = (0, 0, 0, 0)


def lerp(a, b, t):
    return tuple(int(round(x + (y - x) * t)) for x, y in zip(a, b))


def opaque(rgb):
    return rgb + (255,)


# --------------------------------------------------------------------------
# Main icon: a speech bubble with a pair of beamed notes

# Roles: '.' ground, 'O' outline, 'o' outline edge that only an alpha
# channel can soften (ground elsewhere), 'F' bubble, 'N' note.
MAIN_16 = """
.oOOOOOOOOOOOOo.
oOFFFFFFFFFFFFOo
OFFFFFFNNNNNNFFO
OFFFFFFNNNNNNFFO
OFFFFFFNFFFFNFFO
OFFFFFFNFFFFNFFO
OFFFFFFNFFFFNFFO
OFFFFFFNFFFFNFFO
OFFFFNNNFFFNNFFO
OFFFNNNNFFNNNFFO
OFFFNNNFFNNNNFFO
OFFFFFFFFNNNFFFO
oOFFFFFFFFFFFFOo
.oOFFFFOOOOOOOo.
..OFFOO.........
.OOO............
"""

EDGE_ALPHA = 110


def parse_grid(text):
    rows = [r for r in text.strip("\n").split("\n")]
    assert all(len(r) == len(rows[0]) for r in rows), "ragged grid"
    return rows


def main16(depth):
    """The 16x16 main icon as rows of RGBA, coloured for an image depth."""
    grid = parse_grid(MAIN_16)
    size = len(grid)
    out = []
    for y, row in enumerate(grid):
        t = y / (size - 1)
        line = []
        for ch in row:
            if ch == ".":
                px = TRANSPARENT
            elif ch == "o":
                px = OUTLINE + (EDGE_ALPHA,) if depth == 32 else TRANSPARENT
            elif ch == "O":
                px = opaque(VGA_NAVY if depth == 4 else OUTLINE)
            elif ch == "F":
                if depth == 4:
                    px = opaque(VGA_WHITE)
                elif depth == 8:
                    px = opaque(FLAT_FILL)
                else:
                    px = opaque(lerp(FILL_TOP, FILL_BOTTOM, t))
            elif ch == "N":
                if depth == 4:
                    px = opaque(VGA_BLUE)
                elif depth == 8:
                    px = opaque(FLAT_NOTE)
                else:
                    px = opaque(lerp(NOTE_TOP, NOTE_BOTTOM, t))
            else:
                raise ValueError("unknown role %r" % ch)
            line.append(px)
        out.append(line)
    return out


# The 32x32 picture as shapes in pixel coordinates (x right, y down).
class Shape:
    def contains(self, x, y):
        raise NotImplementedError


class RoundRect(Shape):
    def __init__(self, x0, y0, x1, y1, r):
        self.x0, self.y0, self.x1, self.y1, self.r = x0, y0, x1, y1, r

    def inset(self, d):
        return RoundRect(self.x0 + d, self.y0 + d, self.x1 - d, self.y1 - d, max(self.r - d, 0.0))

    def contains(self, x, y):
        if not (self.x0 <= x <= self.x1 and self.y0 <= y <= self.y1):
            return False
        r = self.r
        cx = min(max(x, self.x0 + r), self.x1 - r)
        cy = min(max(y, self.y0 + r), self.y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


class Polygon(Shape):
    """Convex polygon, vertices in clockwise order on screen."""

    def __init__(self, *pts):
        self.pts = pts

    def edge_distance(self, x, y):
        # Smallest signed distance to an edge line; positive inside.
        best = None
        n = len(self.pts)
        for i in range(n):
            (ax, ay), (bx, by) = self.pts[i], self.pts[(i + 1) % n]
            ex, ey = bx - ax, by - ay
            length = (ex * ex + ey * ey) ** 0.5
            d = ((y - ay) * ex - (x - ax) * ey) / length
            best = d if best is None else min(best, d)
        return best

    def contains(self, x, y):
        return self.edge_distance(x, y) >= 0


class InsetPolygon(Shape):
    """The polygon with every edge moved inwards by d."""

    def __init__(self, poly, d):
        self.poly, self.d = poly, d

    def contains(self, x, y):
        return self.poly.edge_distance(x, y) >= self.d


class Ellipse(Shape):
    """Ellipse with radii rx, ry turned by the angle whose cosine and sine
    are given (no trigonometry, so the output cannot depend on libm)."""

    def __init__(self, cx, cy, rx, ry, cos_a, sin_a):
        self.cx, self.cy, self.rx, self.ry, self.c, self.s = cx, cy, rx, ry, cos_a, sin_a

    def contains(self, x, y):
        dx, dy = x - self.cx, y - self.cy
        u = dx * self.c + dy * self.s
        v = -dx * self.s + dy * self.c
        return (u / self.rx) ** 2 + (v / self.ry) ** 2 <= 1.0


class Union(Shape):
    def __init__(self, *shapes):
        self.shapes = shapes

    def contains(self, x, y):
        return any(s.contains(x, y) for s in self.shapes)


BUBBLE_BODY = RoundRect(0.5, 0.5, 31.5, 25.0, 6.0)
# The tail's sides reach up into the body, so that its inset joins the
# body's inside without an outline across the throat.
BUBBLE_TAIL = Polygon((10.0, 21.0), (25.5, 21.0), (3.8, 30.9))
OUTLINE_WIDTH = 1.6
BUBBLE = Union(BUBBLE_BODY, BUBBLE_TAIL)
BUBBLE_INSIDE = Union(BUBBLE_BODY.inset(OUTLINE_WIDTH), InsetPolygon(BUBBLE_TAIL, OUTLINE_WIDTH))

# cos/sin of -22 degrees
HEAD_COS, HEAD_SIN = 0.92718385, -0.37460659
NOTES = Union(
    Polygon((13.0, 5.2), (26.0, 3.2), (26.0, 7.0), (13.0, 9.0)),  # beam
    Polygon((13.0, 6.0), (15.0, 6.0), (15.0, 19.0), (13.0, 19.0)),  # left stem
    Polygon((24.0, 4.0), (26.0, 4.0), (26.0, 17.5), (24.0, 17.5)),  # right stem
    Ellipse(10.6, 19.3, 4.0, 2.9, HEAD_COS, HEAD_SIN),
    Ellipse(21.6, 17.8, 4.0, 2.9, HEAD_COS, HEAD_SIN),
)

SUPERSAMPLE = 8


def coverage(shape, px, py, scale=1.0):
    """The share of pixel (px, py) that the shape covers, the picture being
    drawn at 32 / scale pixels."""
    n = SUPERSAMPLE
    hits = 0
    for j in range(n):
        for i in range(n):
            if shape.contains((px + (i + 0.5) / n) * scale, (py + (j + 0.5) / n) * scale):
                hits += 1
    return hits / (n * n)


COVERAGE_GRIDS = {}


def coverage_grid(size):
    """Per pixel of the size x size icon: the shares the bubble, its inside
    and the notes cover. The same for every depth, so drawn once a size."""
    if size not in COVERAGE_GRIDS:
        scale = 32 / size
        COVERAGE_GRIDS[size] = [[(coverage(BUBBLE, x, y, scale), coverage(BUBBLE_INSIDE, x, y, scale),
                                  coverage(NOTES, x, y, scale)) for x in range(size)]
                                for y in range(size)]
    return COVERAGE_GRIDS[size]


def main_drawn(size, depth):
    """The main icon drawn from its shapes at size x size: soft edges with
    alpha at 32 bits, otherwise each pixel takes the role that covers at
    least half of it (the standard colours at 4 bits)."""
    grid = coverage_grid(size)
    out = []
    for y in range(size):
        t = y / (size - 1)
        if depth == 4:
            outline, fill, note = VGA_NAVY, VGA_WHITE, VGA_BLUE
        elif depth == 8:
            outline, fill, note = OUTLINE, FLAT_FILL, FLAT_NOTE
        else:
            outline, fill, note = OUTLINE, lerp(FILL_TOP, FILL_BOTTOM, t), lerp(NOTE_TOP, NOTE_BOTTOM, t)
        line = []
        for x in range(size):
            c_all, c_in, c_note = grid[y][x]
            if c_all == 0:
                line.append(TRANSPARENT)
                continue
            if depth == 32:
                # Inside colour first, the note painted over it, the outline
                # taking the rest of the covered area.
                inner = lerp(fill, note, c_note)
                rgb = lerp(outline, inner, c_in / c_all)
                line.append(rgb + (int(round(255 * c_all)),))
            elif c_all < 0.5:
                line.append(TRANSPARENT)
            elif c_in < 0.5:
                line.append(opaque(outline))
            elif c_note >= 0.5:
                line.append(opaque(note))
            else:
                line.append(opaque(fill))
        out.append(line)
    return out


def main32(depth):
    return main_drawn(32, depth)


# --------------------------------------------------------------------------
# Transport buttons: a square frame around a glyph


class ButtonGrid:
    """The geometry of a button image of size x size: a square frame one
    pixel in from the edge (two at 32), and a glyph half the image high,
    centred, built from bars and triangles laid side by side."""

    def __init__(self, size):
        self.size = size
        self.frame_width = max(1, size // 16)
        self.glyph = size // 2
        self.top = size // 4
        self.bar_width = max(2, round(size / 8))

    def frame(self):
        pts = set()
        last = self.size - 2
        for w in range(self.frame_width):
            lo, hi = 1 + w, last - w
            for i in range(lo, hi + 1):
                pts |= {(i, lo), (i, hi), (lo, i), (hi, i)}
        return pts

    def bar(self, x, y0=None, y1=None):
        y0 = self.top if y0 is None else y0
        y1 = self.top + self.glyph - 1 if y1 is None else y1
        return {(x + k, y) for k in range(self.bar_width) for y in range(y0, y1 + 1)}

    def triangle(self, x, pointing):
        """A triangle as high and as wide as the glyph, its 2-pixel tip in
        the middle row: each row away from the middle is two columns
        shorter, so the slope steps evenly. x is its leftmost column."""
        h = self.glyph
        pts = set()
        for r in range(h):
            width = 2 * (min(r, h - 1 - r) + 1)
            for k in range(width):
                pts.add((x + k if pointing == "right" else x + h - 1 - k, self.top + r))
        return pts

    def square(self, x):
        side = self.glyph - 2
        return {(x + i, self.top + 1 + j) for i in range(side) for j in range(side)}

    def row(self, *parts):
        """Parts ("bar" | "gap" | "left" | "right" | "square") side by side,
        centred across the image."""
        widths = {"bar": self.bar_width, "gap": self.bar_width, "left": self.glyph,
                  "right": self.glyph, "square": self.glyph - 2}
        x = (self.size - sum(widths[p] for p in parts)) // 2
        pts = set()
        for part in parts:
            if part == "bar":
                pts |= self.bar(x)
            elif part in ("left", "right"):
                pts |= self.triangle(x, part)
            elif part == "square":
                pts |= self.square(x)
            x += widths[part]
        return pts


GLYPHS = [
    ("prev", ("bar", "left")),
    ("play", ("right",)),
    ("pause", ("bar", "gap", "bar")),
    ("stop", ("square",)),
    ("next", ("right", "bar")),
]

# The tray asks for its icons at the system's small-icon size: 16 at 96 DPI,
# 20 at 120, 24 at 144 and 32 at 192.
BUTTON_SIZES = (16, 20, 24, 32)
TRAY_SIZES = (16, 20, 24)


def button_pixels(parts, size, ink, ground):
    grid = ButtonGrid(size)
    pts = grid.row(*parts) | grid.frame()
    return [[ink if (x, y) in pts else ground for x in range(size)] for y in range(size)]


# --------------------------------------------------------------------------
# File writers (little-endian, bottom-up rows padded to 4 bytes)


def row_bytes(bits_per_row):
    return (bits_per_row + 31) // 32 * 4


def pack_indices(row, bpp):
    out = bytearray()
    if bpp == 8:
        out.extend(row)
    elif bpp == 4:
        for i in range(0, len(row), 2):
            hi = row[i]
            lo = row[i + 1] if i + 1 < len(row) else 0
            out.append((hi << 4) | lo)
    elif bpp == 1:
        for i in range(0, len(row), 8):
            b = 0
            for k, v in enumerate(row[i:i + 8]):
                b |= (v & 1) << (7 - k)
            out.append(b)
    else:
        raise ValueError(bpp)
    return out


def pad(data, length):
    return bytes(data) + b"\0" * (length - len(data))


def build_palette(pixels, bpp):
    """Palette and index rows. 4-bit uses the standard colours; 8-bit holds
    black (for transparent pixels) and then the colours in order of first
    use, which keeps the output stable."""
    if bpp == 4:
        palette = list(VGA16)
    else:
        palette = [(0, 0, 0)]
        for row in pixels:
            for px in row:
                if px[3] and px[:3] not in palette:
                    palette.append(px[:3])
        if len(palette) > 256:
            raise ValueError("more than 256 colours")
        palette += [(0, 0, 0)] * (256 - len(palette))
    index = {}
    for i, c in enumerate(palette):
        index.setdefault(c, i)
    rows = []
    for row in pixels:
        line = []
        for px in row:
            if px[3] == 0:
                line.append(0)
            elif px[:3] in index:
                line.append(index[px[:3]])
            else:
                raise ValueError("colour %r is not in the palette" % (px[:3],))
        rows.append(line)
    return palette, rows


def palette_bytes(palette):
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)


def dib_pixels(pixels, bpp):
    """XOR image of an icon or the pixels of a bitmap, bottom-up, plus the
    palette for indexed depths."""
    width = len(pixels[0])
    stride = row_bytes(width * bpp)
    data = bytearray()
    palette = []
    if bpp in (4, 8):
        palette, rows = build_palette(pixels, bpp)
        for row in reversed(rows):
            data += pad(pack_indices(row, bpp), stride)
    elif bpp == 24:
        for row in reversed(pixels):
            line = bytearray()
            for r, g, b, a in row:
                line += bytes((b, g, r)) if a else b"\0\0\0"
            data += pad(line, stride)
    elif bpp == 32:
        for row in reversed(pixels):
            line = bytearray()
            for r, g, b, a in row:
                line += bytes((b, g, r, a)) if a else b"\0\0\0\0"
            data += pad(line, stride)
    else:
        raise ValueError(bpp)
    return palette, bytes(data)


def and_mask(pixels):
    width = len(pixels[0])
    stride = row_bytes(width)
    data = bytearray()
    for row in reversed(pixels):
        data += pad(pack_indices([1 if px[3] == 0 else 0 for px in row], 1), stride)
    return bytes(data)


def info_header(width, height, bpp, image_size, colours_used):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, bpp, 0, image_size, 0, 0,
                       colours_used, 0)


def icon_image(pixels, bpp):
    width, height = len(pixels[0]), len(pixels)
    palette, xor = dib_pixels(pixels, bpp)
    mask = and_mask(pixels)
    header = info_header(width, 2 * height, bpp, len(xor) + len(mask), 0)
    return header + palette_bytes(palette) + xor + mask


def write_ico(path, images):
    """images: list of (pixels, bpp)."""
    blobs = [icon_image(px, bpp) for px, bpp in images]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for (px, bpp), blob in zip(images, blobs):
        w, h = len(px[0]), len(px)
        colours = 1 << bpp if bpp < 8 else 0
        out += struct.pack("<BBBBHHII", w % 256, h % 256, colours, 0, 1, bpp, len(blob), offset)
        offset += len(blob)
    for blob in blobs:
        out += blob
    write_file(path, out)


def write_bmp8(path, pixels):
    width, height = len(pixels[0]), len(pixels)
    palette, data = dib_pixels(pixels, 8)
    header = info_header(width, height, 8, len(data), 256)
    body = header + palette_bytes(palette) + data
    write_file(path, struct.pack("<2sIHHI", b"BM", 14 + len(body), 0, 0, 14 + 40 + 4 * 256) + body)


# With --check nothing is written; files that differ from what the script
# draws are collected here instead.
CHECK_ONLY = False
stale = []


def write_file(path, data):
    if CHECK_ONLY:
        try:
            with open(path, "rb") as f:
                same = f.read() == bytes(data)
        except OSError:
            same = False
        if not same:
            stale.append(path)
        return
    with open(path, "wb") as f:
        f.write(data)


# --------------------------------------------------------------------------


def main(argv):
    global CHECK_ONLY
    CHECK_ONLY = "--check" in argv[1:]
    art = os.path.join(os.path.dirname(os.path.abspath(__file__)), "art")
    if not CHECK_ONLY:
        os.makedirs(art, exist_ok=True)

    # Largest first within each depth; the 16-colour image last.
    images = []
    for depth in (8, 32, 24):
        images += [(main32(depth), depth)]
        images += [(main_drawn(size, depth), depth) for size in (24, 20)]
        images += [(main16(depth), depth)]
    write_ico(os.path.join(art, "main_xp.ico"), images + [(main16(4), 4)])
    write_ico(os.path.join(art, "main_old.ico"),
              [(main16(4), 4)] + [(main_drawn(size, 4), 4) for size in (20, 24)])

    grey, white = opaque(VGA_GREY), opaque(VGA_WHITE)
    for i, (name, parts) in enumerate(GLYPHS):
        write_ico(os.path.join(art, "button%d_%s.ico" % (i, name)),
                  [(button_pixels(parts, size, grey, TRANSPARENT), 4) for size in BUTTON_SIZES])
        write_bmp8(os.path.join(art, "button%d_%s.bmp" % (i, name)),
                   button_pixels(parts, 16, white, grey))

    for path in stale:
        print("out of date: %s (run python3 resources/make_art.py)" % path)
    return 1 if stale else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
