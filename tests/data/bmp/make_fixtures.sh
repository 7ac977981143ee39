#!/usr/bin/env bash
# Writes the BMP fixtures of the sheet tests with ImageMagick (Debian's
# imagemagick 6.9.11), a second BMP writer beside our own: two 8-bit strips
# whose width is and is not a multiple of 4, plus files the loader must
# refuse. The .ppm sources stay beside them; the tests compare every pixel
# read through the BMP's colour table with its source pixel.
#   strip13x7: glyphs at columns 1-3, 5-6 (rows 2-4 only) and 9-12 (the right edge)
#   strip16x6: glyphs at columns 2-5, 7-10 and 12-15 (two pictures stacked in 12-15)
# Note: ImageMagick writes 8-bit BMP3 files RLE8-compressed unless told
# -compress None; rle8.bmp is that default.
set -euo pipefail
cd "$(dirname "$0")"
python3 - <<'PY'
def ppm(name, w, h, f):
    with open(name, 'wb') as out:
        out.write(b'P6 %d %d 255\n' % (w, h))
        for y in range(h):
            for x in range(w):
                out.write(bytes(f(x, y)))

def colour(k):  # 40 distinct colours, none of them black
    k %= 40
    return (40 + 5 * k, 250 - 6 * k, (k * 53) % 200 + 30)

def strip(blank):
    return lambda x, y: (0, 0, 0) if blank(x, y) else colour(x * 7 + y * 3)

ppm('strip13x7.ppm', 13, 7, strip(lambda x, y: x in (0, 4, 7, 8) or (x in (5, 6) and not 2 <= y <= 4)))
ppm('strip16x6.ppm', 16, 6, strip(lambda x, y: x in (0, 1, 6, 11) or (x >= 12 and y in (2, 3))))
ppm('twocolours.ppm', 10, 4, lambda x, y: (0, 0, 0) if x % 3 == 0 else (255, 0, 0))
PY
convert strip13x7.ppm -type Palette -compress None BMP3:strip13x7.bmp
convert strip16x6.ppm -type Palette -compress None BMP3:strip16x6.bmp
convert strip13x7.ppm -type Palette -compress RLE BMP3:rle8.bmp
convert twocolours.ppm -type Palette BMP3:onebit.bmp
convert strip13x7.ppm -type TrueColor BMP3:truecolour.bmp
rm twocolours.ppm
