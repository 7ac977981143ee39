#!/usr/bin/env python3
"""Writes the ".dk2" files that the reader must refuse (each load returns 0),
and in verify/ the files that load but that `trellon verify` must report.
Grow these lists with every input a fuzzer or a user finds that crashed or
misbehaved."""
import os
import struct

MAGIC = b'TRELLON\0'


def header(version=50, w=16, h=16, f=0, n=0, p=0, magic=MAGIC):
    return magic + struct.pack('<6i', version, w, h, f, n, p)


frame = struct.pack('<IiIf', 0, 0, 0, 0.0)
node = struct.pack('<4I', 1, 2, 3, 4)
palette = bytes(range(256)) * 4

files = {
    'empty': b'',
    'short_magic': b'TRELL',
    'wrong_magic': header(magic=b'TRELLOX\0'),
    'magic_nonzero_eighth_byte': header(magic=b'TRELLON1'),
    'lowercase_magic': header(magic=b'trellon\0'),
    'old_version': header(version=49),
    'negative_version': header(version=-50),
    'no_header_after_version': MAGIC + struct.pack('<i', 50) + b'\x10\0\0',
    'zero_width': header(w=0),
    'negative_height': header(h=-480),
    'two_by_two': header(w=2, h=2),
    'huge_picture': header(w=100000, h=100000),
    'truncated_frames': header(f=10, n=1, p=1) + frame * 3,
    'truncated_nodes': header(f=1, n=5, p=1) + frame + node * 2 + b'\x01\x02',
    'truncated_palettes': header(f=1, n=1, p=2) + frame + node + palette + palette[:1000],
    'huge_counts': header(f=0x7FFFFFFF, n=0x7FFFFFFF, p=0x7FFFFFFF) + frame * 2,
}


def sound(times=(0.0, 0.25, 0.5), roots=None, palettes=None, counts=None):
    """A 16 x 16 video of one colour per frame: leaf 0, the 8 x 8 square 1,
    the root 2; every frame uses root 2 and palette 0 unless told."""
    frames = len(times)
    roots = roots or [2] * frames
    palettes = palettes or [0] * frames
    f, n, p = counts or (frames, 3, 1)
    body = b''.join(struct.pack('<IiIf', roots[i], palettes[i], 0, times[i]) for i in range(frames))
    body += struct.pack('<4I', 0x05050505, 0x05050505, 0x05050505, 0x05050505)
    body += struct.pack('<4I', 0, 0, 0, 0) + struct.pack('<4I', 1, 1, 1, 1)
    return header(f=f, n=n, p=p) + body + palette


# Loaded, but a sound recording never holds them.
verify_files = {
    'missing_root_in_frame_2': sound(roots=[2, 0x8080, 2]),
    'nan_time': sound(times=(0.0, float('nan'), 0.5)),
    'infinite_time': sound(times=(0.0, 0.25, float('inf'))),
    'negative_time': sound(times=(0.0, -0.25, 0.5)),
    'decreasing_time': sound(times=(0.0, 0.286, 0.037)),
    'negative_frame_count': sound(counts=(-3, 3, 1)),
    'missing_palette': sound(palettes=[0, 4, 0]),
}
for name, data in files.items():
    with open(name + '.dk2', 'wb') as out:
        out.write(data)
os.makedirs('verify', exist_ok=True)
for name, data in verify_files.items():
    with open(os.path.join('verify', name + '.dk2'), 'wb') as out:
        out.write(data)
