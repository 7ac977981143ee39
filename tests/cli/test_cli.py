#!/usr/bin/env python3
"""Tests of the trellon tool from the outside: exit statuses, messages, and
PNG exports read back by a decoder of this file's own (zlib and the PNG
filters), compared with the pixels the golden video is known to hold."""
import os
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

TRELLON = os.environ.get('TRELLON', 'trellon')
DATA = os.environ.get('TRELLON_TEST_DATA_DIR', os.path.join(os.path.dirname(__file__), '..', 'data'))
GOLDEN = os.path.join(DATA, 'golden', 'small.dk2')


def run(*args):
    return subprocess.run([TRELLON, *args], capture_output=True, text=True)


def golden_pixel(k, x, y):
    return 9 if (k <= x < k + 3 and k <= y < k + 3) else (x + 2 * y + 5 * k) % 6 + 1


def read_png(path):
    """Returns (width, height, palette as (r, g, b) triples, rows of indices)."""
    data = open(path, 'rb').read()
    assert data[:8] == b'\x89PNG\r\n\x1a\n', 'not a PNG'
    pos, idat, palette = 8, b'', []
    while pos < len(data):
        length, kind = struct.unpack('>I4s', data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b'IHDR':
            width, height, depth, colour, _, _, interlace = struct.unpack('>IIBBBBB', body)
            assert (depth, colour, interlace) == (8, 3, 0), 'not 8-bit indexed'
        elif kind == b'PLTE':
            palette = [tuple(body[i:i + 3]) for i in range(0, len(body), 3)]
        elif kind == b'IDAT':
            idat += body
        pos += 12 + length
    raw, rows, prev = zlib.decompress(idat), [], bytearray(width)
    for y in range(height):
        kind, line = raw[y * (width + 1)], bytearray(raw[y * (width + 1) + 1:(y + 1) * (width + 1)])
        for x in range(width):
            a, b = (line[x - 1] if x else 0), prev[x]
            c = prev[x - 1] if x else 0
            if kind == 1:
                line[x] = (line[x] + a) & 255
            elif kind == 2:
                line[x] = (line[x] + b) & 255
            elif kind == 3:
                line[x] = (line[x] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(line))
        prev = line
    return width, height, palette, rows


class Export(unittest.TestCase):
    def test_frames_read_back_with_their_pixels_and_palettes(self):
        with tempfile.TemporaryDirectory() as out:
            r = run('export', GOLDEN, out)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(sorted(os.listdir(out)), ['000001.png', '000002.png', '000003.png'])
            for k in range(3):
                width, height, palette, rows = read_png(os.path.join(out, '%06d.png' % (k + 1)))
                self.assertEqual((width, height), (12, 10))
                self.assertEqual(len(palette), 256)
                self.assertEqual(palette[192], (192, 1 if k == 2 else 0, 63))
                for y in range(10):
                    self.assertEqual(list(rows[y]), [golden_pixel(k, x, y) for x in range(12)], (k, y))

    def test_cursor_marker_and_range(self):
        with tempfile.TemporaryDirectory() as out:
            r = run('export', GOLDEN, out, '--first', '2', '--last', '2', '--cursor')
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(os.listdir(out), ['000002.png'])
            _, _, _, rows = read_png(os.path.join(out, '000002.png'))
            # Frame 2 has its pointer at (3, 2): the arrow's tip and its neighbour.
            self.assertEqual(rows[2][3], 255)
            self.assertEqual(rows[2][4], 255)
            self.assertEqual(rows[3][3], 255)
            self.assertNotEqual(rows[2][5], 255)

    def test_empty_range_fails(self):
        with tempfile.TemporaryDirectory() as out:
            r = run('export', GOLDEN, out, '--first', '5')
            self.assertEqual(r.returncode, 1)
            self.assertIn('no frames', r.stderr)


class InfoVerifyExtract(unittest.TestCase):
    def test_info_reports_counts_and_stats_box_figures(self):
        r = run('info', GOLDEN)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn('Picture:         12 x 10', r.stdout)
        self.assertIn('Frames:          3', r.stdout)
        self.assertIn('Body size:       2648 bytes', r.stdout)
        self.assertIn('MedianFPS: 4.000\nAvg Bytes/Frame: 882.00', r.stdout)

    def test_verify_accepts_the_golden_file_and_refuses_damage(self):
        self.assertEqual(run('verify', GOLDEN).returncode, 0)
        good = open(GOLDEN, 'rb').read()
        frames, nodes = struct.unpack('<ii', good[20:28])
        node0 = 32 + 16 * frames

        def damaged(data, expect):
            with tempfile.NamedTemporaryFile(suffix='.dk2', delete=False) as f:
                f.write(data)
            try:
                r = run('verify', f.name)
                self.assertEqual(r.returncode, 1, r.stdout)
                self.assertIn(expect, r.stderr)
                self.assertEqual(len(r.stderr.strip().splitlines()), 1)
            finally:
                os.unlink(f.name)

        damaged(good + b'\0', 'header promises')
        damaged(good[:32] + struct.pack('<I', nodes) + good[36:], 'root')
        damaged(good[:36] + struct.pack('<i', 5) + good[40:], 'palette 5')
        # The root (last node of frame 0) pointing at itself.
        root = struct.unpack('<I', good[32:36])[0]
        at = node0 + 16 * root
        damaged(good[:at] + struct.pack('<I', root) + good[at + 4:], 'not below its own index')
        damaged(good[:7], 'Error reading')

    def test_extract_is_one_based_and_rebases_time(self):
        with tempfile.TemporaryDirectory() as out:
            path = os.path.join(out, 'part.dk2')
            r = run('extract', GOLDEN, path, '2', '3')
            self.assertEqual(r.returncode, 0, r.stderr)
            data = open(path, 'rb').read()
            self.assertEqual(struct.unpack('<i', data[20:24])[0], 2)
            times = [struct.unpack('<f', data[32 + 16 * i + 12:32 + 16 * i + 16])[0] for i in range(2)]
            self.assertEqual(times, [0.0, 0.25])
            with tempfile.TemporaryDirectory() as frames:
                self.assertEqual(run('export', path, frames).returncode, 0)
                _, _, _, rows = read_png(os.path.join(frames, '000001.png'))
                self.assertEqual(list(rows[0]), [golden_pixel(1, x, 0) for x in range(12)])
            self.assertEqual(run('verify', path).returncode, 0)

    def test_usage_errors_exit_2_and_missing_files_exit_1(self):
        self.assertEqual(run().returncode, 2)
        self.assertEqual(run('frobnicate').returncode, 2)
        self.assertEqual(run('extract', GOLDEN, 'x.dk2', 'one', '2').returncode, 2)
        r = run('info', '/no/such/file.dk2')
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stderr, 'trellon: Error opening /no/such/file.dk2\n')
        self.assertEqual(run('--help').returncode, 0)
        self.assertTrue(run('--version').stdout.startswith('trellon '))


if __name__ == '__main__':
    unittest.main(argv=sys.argv[:1], verbosity=2)
