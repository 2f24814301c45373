#!/usr/bin/env python3
"""Draws the module's icons and its banner bitmap.

Writes icon413.ico, icon415.ico, icon417.ico, icon431.ico, icon434.ico and
banner410.bmp into the output folder (default: the folder of this script).
The files are committed, so a build never runs this; run it again after a
change to the drawings and commit what it writes. Standard library only; the
output depends on nothing but this file (and, for the PNG entries, zlib).

Usage: generate.py [OUTPUT_DIR]
"""

import os
import struct
import sys
import zlib

# ---------------------------------------------------------------------------
# Drawing: an image is a stack of layers in unit coordinates (0..1, y down);
# each pixel takes the colour of the topmost layer that covers it, averaged
# over SUPERSAMPLE x SUPERSAMPLE points for smooth edges.

SUPERSAMPLE = 2


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x < x1 and y0 <= y < y1


def rounded_rect(x0, y0, x1, y1, r):
    def inside(x, y):
        if not (x0 <= x < x1 and y0 <= y < y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return inside


def disc(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r_outer, r_inner):
    def inside(x, y):
        d = (x - cx) ** 2 + (y - cy) ** 2
        return r_inner * r_inner <= d <= r_outer * r_outer
    return inside


def triangle(ax, ay, bx, by, cx, cy):
    def side(px, py, qx, qy, x, y):
        return (qx - px) * (y - py) - (qy - py) * (x - px)

    def inside(x, y):
        d1 = side(ax, ay, bx, by, x, y)
        d2 = side(bx, by, cx, cy, x, y)
        d3 = side(cx, cy, ax, ay, x, y)
        negative = d1 < 0 or d2 < 0 or d3 < 0
        positive = d1 > 0 or d2 > 0 or d3 > 0
        return not (negative and positive)
    return inside


def both(first, second):
    return lambda x, y: first(x, y) and second(x, y)


def render(layers, size):
    """RGBA rows (top row first) of `layers` drawn at size x size pixels."""
    n = SUPERSAMPLE
    offsets = [(i + 0.5) / n for i in range(n)]
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = a = 0
            for oy in offsets:
                y = (py + oy) / size
                for ox in offsets:
                    x = (px + ox) / size
                    for shape, colour in reversed(layers):
                        if shape(x, y):
                            r += colour[0] * colour[3]
                            g += colour[1] * colour[3]
                            b += colour[2] * colour[3]
                            a += colour[3]
                            break
            samples = n * n
            if a == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append((round(r / a), round(g / a), round(b / a),
                            round(a / samples)))
        rows.append(row)
    return rows


# ---------------------------------------------------------------------------
# The drawings, one per icon group.

WHITE = (255, 255, 255, 255)
INK = (40, 48, 64, 255)
PAPER = (250, 250, 246, 255)
FOLD = (200, 204, 212, 255)


def product_icon():
    """Group 413, the product: a white P on a blue tile."""
    blue = (30, 90, 190, 255)
    return [
        (rounded_rect(0.04, 0.04, 0.96, 0.96, 0.16), (16, 50, 120, 255)),
        (rounded_rect(0.08, 0.08, 0.92, 0.92, 0.13), blue),
        (rect(0.28, 0.20, 0.42, 0.80), WHITE),
        (both(ring(0.50, 0.38, 0.20, 0.08), lambda x, y: x >= 0.40), WHITE),
    ]


def page(paper):
    """A sheet with a folded top right corner."""
    outline = rect(0.14, 0.04, 0.86, 0.96)
    sheet = rect(0.17, 0.07, 0.83, 0.93)
    corner = triangle(0.62, 0.04, 0.86, 0.04, 0.86, 0.28)
    fold = triangle(0.62, 0.07, 0.62, 0.28, 0.83, 0.28)
    return [
        (both(outline, lambda x, y: not corner(x, y) or fold(x, y)), INK),
        (both(sheet, lambda x, y: not corner(x, y)), paper),
        (fold, FOLD),
    ]


def language_document_icon():
    """Group 415, the language document: a page of blue text lines."""
    blue = (30, 90, 190, 255)
    layers = page(PAPER)
    for i, right in enumerate((0.56, 0.74, 0.66, 0.74, 0.50)):
        top = 0.36 + i * 0.11
        layers.append((rect(0.26, top, right, top + 0.055), blue))
    layers.append((disc(0.70, 0.80, 0.11), (230, 120, 30, 255)))
    return layers


def library_document_icon():
    """Group 417, the model library: three books on a shelf."""
    return [
        (rect(0.12, 0.14, 0.36, 0.84), INK),
        (rect(0.15, 0.17, 0.33, 0.81), (190, 50, 50, 255)),
        (rect(0.38, 0.22, 0.60, 0.84), INK),
        (rect(0.41, 0.25, 0.57, 0.81), (40, 150, 70, 255)),
        (rect(0.62, 0.10, 0.88, 0.84), INK),
        (rect(0.65, 0.13, 0.85, 0.81), (220, 180, 40, 255)),
        (rect(0.06, 0.84, 0.94, 0.94), (110, 70, 40, 255)),
    ]


def script_icon():
    """Group 431, the scripts: a white play mark on an orange disc."""
    return [
        (disc(0.5, 0.5, 0.46), (150, 70, 10, 255)),
        (disc(0.5, 0.5, 0.42), (235, 130, 30, 255)),
        (triangle(0.38, 0.26, 0.38, 0.74, 0.76, 0.50), WHITE),
    ]


def settings_icon():
    """Group 434, the settings: a white three by three grid on purple."""
    layers = [
        (rounded_rect(0.04, 0.04, 0.96, 0.96, 0.10), (60, 30, 90, 255)),
        (rounded_rect(0.08, 0.08, 0.92, 0.92, 0.07), (120, 60, 170, 255)),
    ]
    for row in range(3):
        for column in range(3):
            x = 0.18 + column * 0.23
            y = 0.18 + row * 0.23
            layers.append((rect(x, y, x + 0.18, y + 0.18), WHITE))
    return layers


# Group 413: 16 and 32 pixels at 4 and 8 bits per pixel.
SMALL_SET = [(16, 4), (32, 4), (16, 8), (32, 8)]
# The other groups: eight sizes at 32 bits per pixel; 256 is stored as PNG.
FULL_SET = [(size, 32) for size in (16, 24, 32, 40, 48, 64, 128, 256)]

ICON_GROUPS = [
    (413, product_icon, SMALL_SET),
    (415, language_document_icon, FULL_SET),
    (417, library_document_icon, FULL_SET),
    (431, script_icon, FULL_SET),
    (434, settings_icon, FULL_SET),
]

# ---------------------------------------------------------------------------
# Palettes and the icon file format.

# The 16 colours of the classic 4-bit palette, index 0 black.
PALETTE_16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def palette_256():
    """A 6x6x6 colour cube followed by 40 greys, index 0 black."""
    levels = [0, 51, 102, 153, 204, 255]
    colours = [(r, g, b) for r in levels for g in levels for b in levels]
    colours += [(round(i * 255 / 41),) * 3 for i in range(1, 41)]
    return colours


def nearest(palette, colour, cache):
    found = cache.get(colour)
    if found is None:
        found = min(range(len(palette)),
                    key=lambda i: sum((palette[i][c] - colour[c]) ** 2
                                      for c in range(3)))
        cache[colour] = found
    return found


def pack_row(indices, bits):
    """Palette indices packed `bits` per pixel, padded to 4 bytes."""
    data = bytearray()
    per_byte = 8 // bits
    for start in range(0, len(indices), per_byte):
        byte = 0
        for i, index in enumerate(indices[start:start + per_byte]):
            byte |= index << (8 - bits * (i + 1))
        data.append(byte)
    while len(data) % 4:
        data.append(0)
    return bytes(data)


def and_mask(rows):
    """The 1-bit transparency mask, bottom row first."""
    mask = b""
    for row in reversed(rows):
        mask += pack_row([1 if a < 128 else 0 for (_, _, _, a) in row], 1)
    return mask


def bmp_icon_image(rows, bits):
    """An icon image in DIB form: header, palette, colour bits, mask."""
    size = len(rows)
    if bits == 32:
        palette = []
        colour = b"".join(
            bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    else:
        palette = PALETTE_16 if bits == 4 else palette_256()
        cache = {}
        colour = b""
        for row in reversed(rows):
            indices = [0 if a < 128 else nearest(palette, (r, g, b), cache)
                       for (r, g, b, a) in row]
            colour += pack_row(indices, bits)
    mask = and_mask(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0,
                         len(colour) + len(mask), 0, 0, len(palette), 0)
    table = b"".join(bytes((b, g, r, 0)) for (r, g, b) in palette)
    return header + table + colour + mask


def png_chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(
        ">I", zlib.crc32(body) & 0xFFFFFFFF)


def png_image(rows):
    """A 32-bit RGBA PNG."""
    size = len(rows)
    raw = b"".join(
        b"\x00" + b"".join(bytes(pixel) for pixel in row) for row in rows)
    return (b"\x89PNG\r\n\x1a\n"
            + png_chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + png_chunk(b"IDAT", zlib.compress(raw, 9))
            + png_chunk(b"IEND", b""))


def icon_file(drawing, image_set):
    """An .ico file with one image per (size, bits) of `image_set`, in order."""
    layers = drawing()
    rendered = {}
    images = []
    for size, bits in image_set:
        if size not in rendered:
            rendered[size] = render(layers, size)
        rows = rendered[size]
        if size == 256:
            images.append((size, bits, png_image(rows)))
        else:
            images.append((size, bits, bmp_icon_image(rows, bits)))
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    body = b""
    for size, bits, data in images:
        colours = 16 if bits == 4 else 0
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, colours, 0,
                                 1, bits, len(data), offset + len(body))
        body += data
    return directory + body


# ---------------------------------------------------------------------------
# Bitmap 410: 500 x 324 at 8 bits per pixel, a banner for the host.

BANNER_WIDTH = 500
BANNER_HEIGHT = 324


def banner_palette():
    """0..191: a blue to teal ramp; then the few colours of the motif."""
    colours = []
    for i in range(192):
        t = i / 191
        colours.append((round(16 + 10 * t), round(40 + 110 * t), round(110 + 40 * t)))
    colours += [(255, 255, 255), (235, 130, 30), (250, 250, 246), (40, 48, 64),
                (200, 204, 212), (30, 90, 190)]
    colours += [(0, 0, 0)] * (256 - len(colours))
    return colours


def banner_bitmap():
    orange, paper, ink, fold, blue = 193, 194, 195, 196, 197
    palette = banner_palette()
    cache = {}
    tile = product_icon()
    pixels = []
    for y in range(BANNER_HEIGHT):
        row = []
        for x in range(BANNER_WIDTH):
            index = min(191, (x + y) * 191 // (BANNER_WIDTH + BANNER_HEIGHT))
            # The product tile on the left, 200 pixels square.
            u, v = (x - 40) / 200, (y - 62) / 200
            if 0 <= u < 1 and 0 <= v < 1:
                for shape, colour in reversed(tile):
                    if shape(u, v):
                        index = nearest(palette, colour[:3], cache)
                        break
            # Three document sheets fanned to the right.
            for n in range(3):
                left, top = 290 + n * 50, 70 + n * 30
                if left <= x < left + 110 and top <= y < top + 150:
                    edge = x in (left, left + 109) or y in (top, top + 149)
                    index = ink if edge else paper
                    if not edge and (y - top) % 20 == 10 and left + 15 <= x < left + 90:
                        index = blue if n < 2 else orange
                    if x >= left + 80 and y < top + 30 and x - left - 80 > y - top:
                        index = fold
            # A thin orange rule along the bottom.
            if 290 <= y < 296:
                index = orange
            row.append(index)
        pixels.append(row)
    colour = b"".join(bytes(row) for row in reversed(pixels))
    table = b"".join(bytes((b, g, r, 0)) for (r, g, b) in palette)
    info = struct.pack("<IiiHHIIiiII", 40, BANNER_WIDTH, BANNER_HEIGHT, 1, 8, 0,
                       len(colour), 2835, 2835, 256, 0)
    offset = 14 + len(info) + len(table)
    header = struct.pack("<2sIHHI", b"BM", offset + len(colour), 0, 0, offset)
    return header + info + table + colour


def main(argv):
    out = argv[1] if len(argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    os.makedirs(out, exist_ok=True)
    outputs = [("icon%d.ico" % group, lambda d=drawing, s=image_set: icon_file(d, s))
               for group, drawing, image_set in ICON_GROUPS]
    outputs.append(("banner410.bmp", banner_bitmap))
    for name, make in outputs:
        with open(os.path.join(out, name), "wb") as f:
            f.write(make())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
