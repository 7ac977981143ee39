#!/usr/bin/env python3
"""Writes the ".dk2" files that the reader must refuse (each load returns 0).
Grow this list with every input a fuzzer finds that crashed or misbehaved."""
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
for name, data in files.items():
    with open(name + '.dk2', 'wb') as out:
        out.write(data)
