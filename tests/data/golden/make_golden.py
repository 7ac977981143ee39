#!/usr/bin/env python3
"""Writes small.dk2, the golden video of the file tests, with a writer of its
own (independent of the C++ encoder): 12 x 10 pixels, three frames.

Frame k: pixel (x, y) = (x + 2y + 5k) mod 6 + 1, except a 3 x 3 square of 9s
with its top-left at (k, k). Palette entry i = (i, g, 255 - i, 0), g = 1 only
in entry 192 of frame 2 (so frame 2 gets a palette of its own). Cursor word
k * 3 + ((k + 1) << 16), time 0.25 k seconds.
"""
import struct
import sys

W, H = 12, 10


def picture(k):
    return [[9 if (k <= x < k + 3 and k <= y < k + 3) else (x + 2 * y + 5 * k) % 6 + 1
             for x in range(W)] for y in range(H)]


def palette(k):
    return bytes(b for i in range(256) for b in (i, 1 if (k == 2 and i == 192) else 0, 255 - i, 0))


tree = 1
while tree < max(W, H):
    tree *= 2

nodes, index = [], {}


def store(words):
    if words in index:
        return index[words]
    index[words] = len(nodes)
    nodes.append(words)
    return len(nodes) - 1


def pixel(pic, x, y):
    return pic[y][x] if x < W and y < H else 0


def encode(pic, x, y, side):
    if x >= W or y >= H:
        return 0
    if side == 4:
        p = lambda c, r: pixel(pic, x + c, y + r)
        word = lambda c, r: p(c, r + 1) | p(c + 1, r + 1) << 8 | p(c, r) << 16 | p(c + 1, r) << 24
        return store((word(0, 0), word(2, 0), word(0, 2), word(2, 2)))
    h = side // 2
    return store((encode(pic, x, y, h), encode(pic, x + h, y, h),
                  encode(pic, x, y + h, h), encode(pic, x + h, y + h, h)))


frames, palettes = [], []
for k in range(3):
    pal = palette(k)
    if not palettes or palettes[-1][4 * 192:4 * 193] != pal[4 * 192:4 * 193] \
            or palettes[-1][4 * 255:] != pal[4 * 255:]:
        palettes.append(pal)
    root = encode(picture(k), 0, 0, tree)
    frames.append(struct.pack('<IiIf', root, len(palettes) - 1, k * 3 + ((k + 1) << 16), 0.25 * k))

out = b'TRELLON\0' + struct.pack('<6i', 50, W, H, len(frames), len(nodes), len(palettes))
out += b''.join(frames) + b''.join(struct.pack('<4I', *n) for n in nodes) + b''.join(palettes)
open(sys.argv[1] if len(sys.argv) > 1 else 'small.dk2', 'wb').write(out)
