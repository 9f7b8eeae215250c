#!/usr/bin/env python3
"""Draws the ribbon button's icon, a white "K" on a blue tile, as kestro.ico.

The icon holds a 32x32 and a 16x16 image, each a 32-bit BMP with alpha and an AND mask.
`make_icon.py OUT.ico` writes the file; `make_icon.py --check FILE.ico` exits non-zero when the
file differs from what this script draws.
"""
import struct
import sys

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


def in_glyph(x, y, size):
    s = size / 32.0
    w = 2.6 * s
    stem = ((10.5 * s, 7 * s), (10.5 * s, 25 * s))
    upper = ((22.5 * s, 7 * s), (11.5 * s, 16.5 * s))
    lower = ((14 * s, 14.5 * s), (23 * s, 25 * s))
    return any(near_segment(x, y, a, b, w) for a, b in (stem, upper, lower))


def pixels(size):
    """Rows top to bottom of (b, g, r, a)."""
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
                        if in_glyph(x, y, size):
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
    images = [(32, image(32)), (16, image(16))]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack('<BBBBHHII', size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b''.join(data for _, data in images)


def main(argv):
    if len(argv) == 3 and argv[1] == '--check':
        with open(argv[2], 'rb') as f:
            same = f.read() == icon()
        print('icon matches' if same else 'icon differs from what make_icon.py draws')
        return 0 if same else 1
    if len(argv) == 2:
        with open(argv[1], 'wb') as f:
            f.write(icon())
        return 0
    print(__doc__)
    return 2


if __name__ == '__main__':
    sys.exit(main(sys.argv))
