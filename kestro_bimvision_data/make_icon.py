#!/usr/bin/env python3
"""Draws the ribbon button's icon, a white "K" on a blue tile, as kestro.ico.

The icon holds one image per size in SIZES, each drawn at its size (never scaled from another)
as a 32-bit BMP with alpha and an AND mask: 16 and 32 pixels for a display at 100 %, 20 and 40 at
125 %, 24 and 48 at 150 %, 32 and 64 at 200 %, so that the viewer need not stretch any.
`make_icon.py OUT.ico` writes the file; `make_icon.py --check FILE.ico` exits non-zero when the
file lacks one of the sizes, holds another, or differs in any byte from what this script draws.
"""
import struct
import sys

SIZES = (64, 48, 40, 32, 24, 20, 16)  # in the file's order
BLUE = (0xA8, 0x5F, 0x1F)  # B, G, R
WHITE = (0xFF, 0xFF, 0xFF)
SAMPLES = 4  # per axis, for smooth edges


def inside_tile(x, y, size):
    r = size * 0.18
    lo, hi = 0.5, size - 0.5
    cx = min(max(x, lo + r), hi - r)
    cy = min(max(y, lo + r), hi - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r and lo <= x <= hi and lo <= y <= hi


def near_segment(x, y, a, b, half_width):
    (ax, ay), (bx, by) = a, b
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
    px, py = ax + t * dx, ay + t * dy
    return (x - px) ** 2 + (y - py) ** 2 <= half_width * half_width


# The sizes as they first shipped: their drawing stays as it was, byte for byte.
FIRST_SIZES = (32, 16)


def letter_k(size):
    """The K at `size`: half the stroke width and the three strokes (stem, upper arm, lower arm),
    each a segment with round ends. Drawn on a 32-unit grid scaled to the size; from 20 pixels on,
    except for the first sizes, the stroke is a whole number of pixels wide and the stem's edges
    fall on pixel edges, so that it stays sharp at every size."""
    s = size / 32.0
    w = 2.6 * s
    stem_x = 10.5 * s
    if size not in FIRST_SIZES:
        width = round(2 * w)
        left = round(stem_x - w)
        w = width / 2
        stem_x = left + w
    stem = ((stem_x, 7 * s), (stem_x, 25 * s))
    upper = ((22.5 * s, 7 * s), (stem_x + 1.0 * s, 16.5 * s))
    lower = ((stem_x + 3.5 * s, 14.5 * s), (23 * s, 25 * s))
    return w, (stem, upper, lower)


def in_glyph(x, y, strokes):
    w, segments = strokes
    return any(near_segment(x, y, a, b, w) for a, b in segments)


def pixels(size):
    """Rows top to bottom of (b, g, r, a)."""
    strokes = letter_k(size)
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            tile = glyph = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = px + (sx + 0.5) / SAMPLES
                    y = py + (sy + 0.5) / SAMPLES
                    if inside_tile(x, y, size):
                        tile += 1
                        if in_glyph(x, y, strokes):
                            glyph += 1
            n = SAMPLES * SAMPLES
            alpha = round(255 * tile / n)
            if tile:
                f = glyph / tile
                color = tuple(round(BLUE[i] * (1 - f) + WHITE[i] * f) for i in range(3))
            else:
                color = (0, 0, 0)
            row.append(color + (alpha,))
        rows.append(row)
    return rows


def image(size):
    rows = pixels(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = b''.join(bytes(v for p in row for v in p) for row in reversed(rows))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, p in enumerate(row):
            if p[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + xor + bytes(mask)


def icon():
    images = [(size, image(size)) for size in SIZES]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack('<BBBBHHII', size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b''.join(data for _, data in images)


def sizes_in(data):
    """The square sizes an icon file's directory lists, in its order (0 in a byte means 256)."""
    if len(data) < 6:
        return []
    reserved, kind, count = struct.unpack_from('<HHH', data)
    if reserved != 0 or kind != 1 or len(data) < 6 + 16 * count:
        return []
    sizes = []
    for k in range(count):
        width, height = struct.unpack_from('<BB', data, 6 + 16 * k)
        sizes.append(width or 256 if width == height else (width or 256, height or 256))
    return sizes


def check(path):
    with open(path, 'rb') as f:
        data = f.read()
    found = sizes_in(data)
    missing = [s for s in SIZES if s not in found]
    extra = [s for s in found if s not in SIZES]
    ok = True
    if missing or extra or len(found) != len(SIZES):
        print('icon sizes %s, not %s (missing %s, not drawn here %s)'
              % (found, list(SIZES), missing, extra))
        ok = False
    if data != icon():
        print('icon differs from what make_icon.py draws')
        ok = False
    if ok:
        print('icon matches: sizes %s' % ', '.join(str(s) for s in SIZES))
    return 0 if ok else 1


def main(argv):
    if len(argv) == 3 and argv[1] == '--check':
        return check(argv[2])
    if len(argv) == 2:
        with open(argv[1], 'wb') as f:
            f.write(icon())
        return 0
    print(__doc__)
    return 2


if __name__ == '__main__':
    sys.exit(main(sys.argv))
