#!/usr/bin/env python3
"""Tests of the trellon tool from the outside: exit statuses, messages, and
PNG exports read back by a decoder of this file's own (zlib and the PNG
filters), compared with the pixels the golden video is known to hold."""
import json
import os
import resource
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zlib
from array import array

TRELLON = os.environ.get('TRELLON', 'trellon')
CORPUS = os.environ.get('TRELLON_CORPUS', 'trellon-corpus')
ADDSOUND = os.environ.get('TRELLON_ADDSOUND', 'trellon-addsound')
DATA = os.environ.get('TRELLON_TEST_DATA_DIR', os.path.join(os.path.dirname(__file__), '..', 'data'))
GOLDEN = os.path.join(DATA, 'golden', 'small.dk2')


BAD_VERIFY = os.path.join(DATA, 'bad', 'verify')
SANITIZED = os.environ.get('TRELLON_SANITIZED', '0') == '1'
# A Windows build runs under the emulator (Wine) that CMake names; POSIX
# special files and resource limits do not reach a program there.
EMULATOR = os.environ.get('TRELLON_EMULATOR', '').split(';') if os.environ.get('TRELLON_EMULATOR') else []
POSIX = not EMULATOR


def run(*args, **kwargs):
    kwargs.setdefault('timeout', 60)
    return subprocess.run([*EMULATOR, TRELLON, *args], capture_output=True, text=True, **kwargs)


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
        self.assertEqual(r.stderr,
                         'trellon: Error opening /no/such/file.dk2: No such file or directory\n')
        self.assertEqual(run('--help').returncode, 0)
        self.assertTrue(run('--version').stdout.startswith('trellon '))


class Hostile(unittest.TestCase):
    """Special files, numbers out of range, damaged records, full disks."""

    @unittest.skipUnless(POSIX, 'FIFOs are POSIX special files')
    def test_file_commands_refuse_fifos_and_folders_without_blocking(self):
        with tempfile.TemporaryDirectory() as tmp:
            fifo = os.path.join(tmp, 'pipe.dk2')
            os.mkfifo(fifo)
            for command in (['info', fifo], ['verify', fifo], ['export', fifo, os.path.join(tmp, 'f')],
                            ['extract', fifo, os.path.join(tmp, 'o.dk2'), '1', '2']):
                r = run(*command, timeout=20)
                self.assertEqual(r.returncode, 1, command)
                self.assertIn('not a regular file', r.stderr, command)
            r = run('info', tmp)
            self.assertEqual(r.returncode, 1)
            self.assertIn('is a directory', r.stderr)
            empty = os.path.join(tmp, 'empty.dk2')
            open(empty, 'wb').close()
            self.assertIn('the file is empty', run('info', empty).stderr)
            cut = os.path.join(tmp, 'cut.dk2')
            with open(cut, 'wb') as f:
                f.write(open(GOLDEN, 'rb').read()[:100])
            self.assertIn('ends before the records its header announces', run('info', cut).stderr)

    def test_numbers_are_checked_before_any_arithmetic(self):
        with tempfile.TemporaryDirectory() as tmp:
            out = os.path.join(tmp, 'o.dk2')
            for first, last in (('-2147483648', '3'), ('0', '3'), ('1', '2147483648'), ('1', '-1')):
                r = run('extract', GOLDEN, out, first, last)
                self.assertEqual(r.returncode, 2, (first, last, r.stderr))
                self.assertFalse(os.path.exists(out))
            r = run('extract', GOLDEN, out, '3', '2')
            self.assertEqual(r.returncode, 1)
            self.assertIn('above', r.stderr)
            # The last frame number there is: the range is cut at the video's end.
            r = run('extract', GOLDEN, out, '2', '2147483647')
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertIn('2 frames', r.stdout)
            for option in ('--first', '--last'):
                r = run('export', GOLDEN, os.path.join(tmp, 'f'), option, '-2147483648')
                self.assertEqual(r.returncode, 2, option)
            for value in ('0', '101', '-2147483648', '99999999999'):
                self.assertEqual(run('record', out, '--fps', value).returncode, 2, value)
            self.assertEqual(run('record', out, '--frames', '-1').returncode, 2)

    def test_extract_refuses_to_overwrite_its_input_or_another_file(self):
        with tempfile.TemporaryDirectory() as tmp:
            copy = os.path.join(tmp, 'in.dk2')
            with open(copy, 'wb') as f:
                f.write(open(GOLDEN, 'rb').read())
            r = run('extract', copy, os.path.join(tmp, '.', 'in.dk2'), '1', '1', '--force')
            self.assertEqual(r.returncode, 1)
            self.assertIn('is the input file', r.stderr)
            self.assertEqual(open(copy, 'rb').read(), open(GOLDEN, 'rb').read())
            other = os.path.join(tmp, 'other.dk2')
            open(other, 'wb').write(b'keep')
            self.assertEqual(run('extract', copy, other, '1', '1').returncode, 1)
            self.assertEqual(open(other, 'rb').read(), b'keep')
            self.assertEqual(run('extract', copy, other, '1', '1', '--force').returncode, 0)
            self.assertEqual(run('verify', other).returncode, 0)

    def test_frame_with_a_missing_root_extracts_as_it_exports(self):
        damaged = os.path.join(BAD_VERIFY, 'missing_root_in_frame_2.dk2')
        with tempfile.TemporaryDirectory() as tmp:
            part = os.path.join(tmp, 'part.dk2')
            r = run('extract', damaged, part, '1', '3')
            self.assertEqual(r.returncode, 0, r.stderr)
            for source, folder in ((damaged, 'a'), (part, 'b')):
                r = run('export', source, os.path.join(tmp, folder))
                self.assertEqual(r.returncode, 0, r.stderr)
            for n in (1, 2, 3):
                a = read_png(os.path.join(tmp, 'a', '%06d.png' % n))[3]
                b = read_png(os.path.join(tmp, 'b', '%06d.png' % n))[3]
                self.assertEqual(a, b, n)
                self.assertEqual(set(b''.join(a)), {0} if n == 2 else {5}, n)
            r = run('verify', damaged)
            self.assertIn('frame 2: root', r.stderr)

    def test_extract_says_how_many_frames_had_no_palette(self):
        with tempfile.TemporaryDirectory() as tmp:
            part = os.path.join(tmp, 'part.dk2')
            r = run('extract', os.path.join(BAD_VERIFY, 'missing_palette.dk2'), part, '1', '3')
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertIn('1 of the 3 frames were left out', r.stderr)
            self.assertIn('2 frames', r.stdout)

    def test_verify_reports_every_file_of_the_damaged_corpus(self):
        names = sorted(os.listdir(BAD_VERIFY))
        self.assertGreaterEqual(len(names), 7)
        for name in names:
            r = run('verify', os.path.join(BAD_VERIFY, name))
            self.assertEqual(r.returncode, 1, name)
            self.assertNotIn(': ok', r.stdout, name)
        r = run('verify', os.path.join(BAD_VERIFY, 'decreasing_time.dk2'))
        self.assertIn('frame 3: time stamp 0.037 is below the previous frame', r.stderr)
        r = run('verify', os.path.join(BAD_VERIFY, 'nan_time.dk2'))
        self.assertIn('frame 2: time stamp is not a number', r.stderr)
        r = run('verify', os.path.join(BAD_VERIFY, 'negative_frame_count.dk2'))
        self.assertIn('frame count -3 is negative', r.stderr)

    @unittest.skipUnless(POSIX, 'a file size limit (RLIMIT_FSIZE) stands in for the full disk')
    def test_export_onto_a_full_disk_names_the_frame_and_leaves_no_partial_file(self):
        def small_disk():
            # Files may grow to 400 bytes, less than one frame's PNG with its
            # palette: the first picture fails half written.
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (400, 400))

        with tempfile.TemporaryDirectory() as out:
            r = run('export', GOLDEN, out, preexec_fn=small_disk)
            self.assertEqual(r.returncode, 1, r.stdout)
            self.assertRegex(r.stderr, r'frame 1: Error writing to .*000001\.png: File too large')
            self.assertEqual(os.listdir(out), [])

    def test_export_refuses_a_folder_of_an_earlier_export_unless_forced(self):
        with tempfile.TemporaryDirectory() as out:
            open(os.path.join(out, 'notes.txt'), 'w').write('mine')
            self.assertEqual(run('export', GOLDEN, out).returncode, 0)
            r = run('export', GOLDEN, out, '--first', '2', '--last', '2')
            self.assertEqual(r.returncode, 1)
            self.assertIn('earlier export', r.stderr)
            r = run('export', GOLDEN, out, '--first', '2', '--last', '2', '--force')
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(sorted(os.listdir(out)), ['000002.png', 'notes.txt'])

    @unittest.skipIf(SANITIZED or not os.environ.get('TRELLON_FAILING_MALLOC'),
                     'needs the preloaded failing malloc, which the sanitizers refuse')
    def test_record_without_memory_to_start_says_so(self):
        # Every allocation of 2,000,000 bytes or more fails: the frame
        # buffer, the first thing the recorder's start needs of that size.
        with tempfile.TemporaryDirectory() as tmp:
            out = os.path.join(tmp, 'r.dk2')
            env = dict(os.environ, DISPLAY='', LD_PRELOAD=os.environ['TRELLON_FAILING_MALLOC'],
                       TRELLON_TEST_MALLOC_LIMIT='2000000')
            r = run('record', out, '--seconds', '1', env=env)
            self.assertEqual(r.returncode, 1, r.stderr)
            self.assertIn('out of memory', r.stderr)
            self.assertFalse(os.path.exists(out))


@unittest.skipIf(EMULATOR, 'a copy of the program away from its sheets would need its own Wine setup')
class RecordSheets(unittest.TestCase):
    """What record says when the statistics panel can't draw from its sheets."""

    def record_stats(self, program, cwd):
        env = dict(os.environ, DISPLAY='', XDG_STATE_HOME=cwd)
        return subprocess.run([program, 'record', os.path.join(cwd, 'r.dk2'), '--stats', '--wait', '1'],
                              cwd=cwd, env=env, capture_output=True, text=True, timeout=60)

    def test_names_every_sheet_it_could_not_load_and_none_it_could(self):
        with tempfile.TemporaryDirectory() as tmp:
            os.mkdir(os.path.join(tmp, 'bin'))
            alone = shutil.copy(TRELLON, os.path.join(tmp, 'bin'))
            r = self.record_stats(alone, tmp)
            self.assertEqual(r.returncode, 1, r.stderr)  # no game within the second
            self.assertEqual([line for line in r.stderr.splitlines() if 'loaded' in line],
                             ['trellon: File font1.bmp have not been loaded',
                              'trellon: File font2.bmp have not been loaded',
                              'trellon: File units.bmp have not been loaded'])
            # The build's program finds its sheets beside itself.
            r = self.record_stats(TRELLON, tmp)
            self.assertEqual(r.returncode, 1, r.stderr)
            self.assertNotIn('loaded', r.stderr)


@unittest.skipIf(EMULATOR, 'Wine puts its own LOCALAPPDATA in place of the journal folder')
class Recover(unittest.TestCase):
    SEED = os.path.join(DATA, '..', 'fuzz', 'corpus', 'journal', 'three_frames.trj')

    def test_lists_and_recovers_a_journal_once(self):
        with tempfile.TemporaryDirectory() as state:
            env = dict(os.environ, XDG_STATE_HOME=state)
            env.pop('LOCALAPPDATA', None)
            r = run('recover', env=env)
            self.assertEqual(r.returncode, 0)
            self.assertIn('no unsaved recordings', r.stdout)
            folder = os.path.join(state, 'trellonhd')
            os.makedirs(folder)
            journal = os.path.join(folder, 'recording-1765000000000-7.trj')
            shutil.copyfile(self.SEED, journal)
            r = run('recover', env=env)
            self.assertIn('3 frames of 24 x 16', r.stdout)
            out = os.path.join(state, 'back.dk2')
            open(out, 'wb').write(b'keep')
            self.assertEqual(run('recover', journal, out, env=env).returncode, 1)
            self.assertEqual(open(out, 'rb').read(), b'keep')
            os.remove(out)
            r = run('recover', journal, out, env=env)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(run('verify', out).returncode, 0)
            self.assertFalse(os.path.exists(journal))
            self.assertEqual(run('recover', GOLDEN, out + '2').returncode, 1)


def write_video(path, width, height, times, colour=5):
    """A .dk2 of one colour per frame: leaf 0, an 8 x 8 square of it, and
    squares of that up to the tree's size; every frame uses the top node."""
    tree = 4
    while tree < max(width, height):
        tree *= 2
    nodes = [struct.pack('<4I', *([colour * 0x01010101] * 4))]
    side = 8
    while side <= tree:
        k = len(nodes) - 1
        nodes.append(struct.pack('<4I', k, k, k, k))
        side *= 2
    root = len(nodes) - 1
    palette = bytes(b for i in range(256) for b in (i, 255 - i, (7 * i) % 256, 0))
    with open(path, 'wb') as f:
        f.write(b'TRELLON\0' + struct.pack('<6i', 50, width, height, len(times), len(nodes), 1))
        for t in times:
            f.write(struct.pack('<IiIf', root, 0, 0, t))
        f.write(b''.join(nodes) + palette)


def ffprobe(path, *entries):
    r = subprocess.run(['ffprobe', '-v', 'error', '-count_frames', '-show_entries',
                        ':'.join(entries), '-of', 'default=noprint_wrappers=1', path],
                       capture_output=True, text=True, timeout=60)
    return dict(line.split('=', 1) for line in r.stdout.split() if '=' in line)


def corpus_video(path, frames):
    """The benchmark scene at 640 x 480, 30 frames a second, as trellon-corpus writes it."""
    r = subprocess.run([*EMULATOR, CORPUS, '--frames', str(frames), path], capture_output=True,
                       text=True, timeout=120)
    assert r.returncode == 0, r.stderr
    return path


def read_until(stream, text, timeout):
    """Reads the pipe `stream` until `text` came (True) or `timeout` seconds passed."""
    deadline, seen = time.monotonic() + timeout, b''
    while text not in seen:
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([stream], [], [], left)[0]:
            return False
        chunk = os.read(stream.fileno(), 4096)
        if not chunk:
            return False
        seen += chunk
    return True


def decoded_rgb(path):
    return subprocess.run(['ffmpeg', '-v', 'error', '-i', path, '-f', 'rawvideo', '-pix_fmt',
                           'rgb24', '-'], capture_output=True, timeout=60).stdout


@unittest.skipIf(shutil.which('ffprobe') is None, 'needs ffmpeg (scripts/setup)')
class VideoExport(unittest.TestCase):
    """Video files read back by FFmpeg's own tools: the Linux build's, and
    the Windows build's under Wine, which makes its MP4s with another H.264
    encoder (openh264)."""

    def export(self, out, *options, source=GOLDEN):
        r = run('export', source, out, *options)
        self.assertEqual(r.returncode, 0, r.stderr)
        return out

    def test_lossless_and_gif_hold_every_pixel_in_the_recordings_colours(self):
        with tempfile.TemporaryDirectory() as tmp:
            self.assertEqual(run('export', GOLDEN, os.path.join(tmp, 'png')).returncode, 0)
            expected = b''
            for k in range(3):
                _, _, palette, rows = read_png(os.path.join(tmp, 'png', '%06d.png' % (k + 1)))
                for row in rows:  # each pixel twice, each row twice: --scale 2
                    line = b''.join(bytes(palette[i]) * 2 for i in row)
                    expected += line * 2
            for name in ('v.mkv', 'v.gif'):
                out = self.export(os.path.join(tmp, name), '--scale', '2')
                self.assertEqual(decoded_rgb(out), expected, name)

    def test_frames_follow_the_time_stamps_or_a_constant_rate(self):
        with tempfile.TemporaryDirectory() as tmp:
            for name in ('v.mp4', 'v.webm', 'v.mkv', 'v.gif'):
                info = ffprobe(self.export(os.path.join(tmp, name), '--scale', '2'),
                               'stream=width,height,nb_read_frames', 'format=duration')
                self.assertEqual((info['width'], info['height']), ('24', '20'), name)
                self.assertEqual(info['nb_read_frames'], '3', name)
                # Frames at 0, 0.25 and 0.5 s; the last shows as long as the one before.
                self.assertAlmostEqual(float(info['duration']), 0.75, delta=0.02, msg=name)
            info = ffprobe(self.export(os.path.join(tmp, 'c.mp4'), '--fps', '10'),
                           'stream=nb_read_frames', 'format=duration')
            self.assertEqual(info['nb_read_frames'], '8')
            self.assertAlmostEqual(float(info['duration']), 0.8, delta=0.02)

    def test_a_long_irregular_recording_keeps_its_length(self):
        with tempfile.TemporaryDirectory() as tmp:
            times = [0.0]
            for i in range(1, 600):  # 30 a second with dropped ticks and a pause
                times.append(times[-1] + (0.033 if i % 7 else 0.1) + (2.0 if i == 300 else 0))
            source = os.path.join(tmp, 'long.dk2')
            write_video(source, 64, 48, times)
            for name in ('v.mp4', 'v.webm'):
                info = ffprobe(self.export(os.path.join(tmp, name), source=source),
                               'format=duration')
                self.assertAlmostEqual(float(info['duration']), times[-1] + 0.1, delta=0.1)

    def test_odd_sides_are_padded_for_yuv_and_kept_for_lossless(self):
        # openh264 (Windows) takes no side below a macroblock's 16 pixels.
        tiny = ('16', '16') if EMULATOR else ('14', '12')
        with tempfile.TemporaryDirectory() as tmp:
            for (w, h), padded in (((33, 21), ('34', '22')), ((13, 11), tiny)):
                source = os.path.join(tmp, 'odd%d.dk2' % w)
                write_video(source, w, h, [0.0, 0.5])
                info = ffprobe(self.export(os.path.join(tmp, 'v%d.mp4' % w), source=source),
                               'stream=width,height,nb_read_frames')
                self.assertEqual((info['width'], info['height'], info['nb_read_frames']),
                                 (*padded, '2'))
                info = ffprobe(self.export(os.path.join(tmp, 'v%d.mkv' % w), source=source),
                               'stream=width,height')
                self.assertEqual((info['width'], info['height']), (str(w), str(h)))

    def test_an_export_leaves_its_file_alone_also_over_an_earlier_one(self):
        with tempfile.TemporaryDirectory() as tmp:
            for name in ('v.mp4', 'v.webm', 'v.mkv', 'v.gif'):
                out = self.export(os.path.join(tmp, name))
                self.assertEqual(os.listdir(tmp), [name])
                # Replaced in one step: the new picture size, nothing beside it.
                self.export(out, '--scale', '2', '--force')
                self.assertEqual(os.listdir(tmp), [name])
                info = ffprobe(out, 'stream=width,nb_read_frames')
                self.assertEqual((info['width'], info['nb_read_frames']), ('24', '3'), name)
                os.remove(out)

    @unittest.skipUnless(POSIX, 'a file size limit (RLIMIT_FSIZE) stands in for the full disk')
    def test_export_onto_a_full_disk_says_why_and_leaves_nothing(self):
        def small_disk():
            # Far below one lossless frame of the scene: the muxer's first
            # write fails.
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))

        with tempfile.TemporaryDirectory() as tmp, tempfile.TemporaryDirectory() as out:
            source = corpus_video(os.path.join(tmp, 'scene.dk2'), 30)
            for name in ('v.mkv', 'v.mp4'):
                r = run('export', source, os.path.join(out, name), preexec_fn=small_disk)
                self.assertEqual(r.returncode, 1, r.stdout)
                self.assertRegex(r.stderr, r'Error writing to .*%s: File too large' % name)
                self.assertEqual(os.listdir(out), [], name)

    def test_kill_9_during_an_export_leaves_nothing_behind(self):
        with tempfile.TemporaryDirectory() as tmp, tempfile.TemporaryDirectory() as out:
            # About ten seconds of lossless export at twice the size: the
            # file is open and growing when the kill comes.
            source = corpus_video(os.path.join(tmp, 'scene.dk2'), 300)
            p = subprocess.Popen([*EMULATOR, TRELLON, 'export', source, os.path.join(out, 'v.mkv'),
                                  '--scale', '2'], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            try:
                # The first progress line comes a second into the frames.
                progressed = read_until(p.stderr, b'export: ', 60)
                running = p.poll() is None
            finally:
                p.kill()
                p.communicate(timeout=60)
            self.assertTrue(progressed, 'no progress line')
            self.assertTrue(running, 'the export ended before the kill')
            self.assertEqual(p.returncode, -signal.SIGKILL)
            # Windows deletes the unfinished file when the dead program's
            # handle closes, which Wine's server does a moment later.
            deadline = time.monotonic() + (10 if EMULATOR else 0)
            while os.listdir(out) and time.monotonic() < deadline:
                time.sleep(0.1)
            self.assertEqual(os.listdir(out), [])

    def test_refusals_and_ctrl_c_leave_nothing_behind(self):
        with tempfile.TemporaryDirectory() as tmp:
            out = os.path.join(tmp, 'v.mp4')
            open(out, 'wb').write(b'keep')
            self.assertEqual(run('export', GOLDEN, out).returncode, 1)
            self.assertEqual(open(out, 'rb').read(), b'keep')
            self.assertEqual(run('export', GOLDEN, out, '--scale', '9').returncode, 2)
            source = os.path.join(tmp, 'big.dk2')
            write_video(source, 640, 480, [i / 30 for i in range(200000)])
            moving = os.path.join(tmp, 'moving.webm')
            p = subprocess.Popen([*EMULATOR, TRELLON, 'export', source, moving, '--scale', '2'],
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            time.sleep(1.5)
            p.send_signal(signal.SIGINT)
            _, err = p.communicate(timeout=60)
            self.assertEqual(p.returncode, 1, err)
            self.assertIn('nothing was written', err)
            self.assertEqual(sorted(os.listdir(tmp)), ['big.dk2', 'v.mp4'])

    def test_an_h264_failure_names_the_formats_that_work_and_leaves_nothing(self):
        # 640 x 480 enlarged 8 times is 5120 x 3840: beyond what H.264's
        # levels allow openh264 to encode (Windows); libx264 takes it.
        if not EMULATOR:
            self.skipTest('libx264 (Linux) encodes any size; openh264 (Windows) refuses this one')
        with tempfile.TemporaryDirectory() as tmp:
            source = os.path.join(tmp, 'big.dk2')
            write_video(source, 640, 480, [0.0, 0.1])
            r = run('export', source, os.path.join(tmp, 'v.mp4'), '--scale', '8')
            self.assertEqual(r.returncode, 1, r.stdout)
            self.assertIn('libopenh264 encoder refused', r.stderr)
            self.assertIn('WebM, MKV and GIF files are made without it', r.stderr)
            self.assertEqual(os.listdir(tmp), ['big.dk2'])


def with_sound(source, path, *options):
    """`source` with trellon-addsound's track of known samples (its options)."""
    r = subprocess.run([*EMULATOR, ADDSOUND, source, path, *options], capture_output=True,
                       text=True, timeout=60)
    assert r.returncode == 0, r.stderr
    return path


def pattern(first, count, channels=2, length=None):
    """trellon-addsound's counting pattern, sample frames first .. first + count - 1
    as interleaved 16-bit little-endian bytes, silence outside 0 .. length - 1."""
    samples = array('h', bytes(2 * count * channels))
    for k in range(count):
        i = first + k
        if 0 <= i and (length is None or i < length):
            for c in range(channels):
                samples[k * channels + c] = (i * 263 + c * 10007) % 65536 - 32768
    if sys.byteorder != 'little':
        samples.byteswap()
    return samples.tobytes()


def decoded_sound(path, channels=2):
    """The first sound stream decoded to interleaved 16-bit samples."""
    r = subprocess.run(['ffmpeg', '-v', 'error', '-i', path, '-map', '0:a:0', '-f', 's16le',
                        '-acodec', 'pcm_s16le', '-ac', str(channels), '-'],
                       capture_output=True, timeout=60)
    assert r.returncode == 0, r.stderr
    return r.stdout


def streams(path):
    """(codec_type, codec_name, sample_rate, channels) of every stream; the
    last two are None for pictures."""
    r = subprocess.run(['ffprobe', '-v', 'error', '-show_entries',
                        'stream=codec_type,codec_name,sample_rate,channels', '-of', 'json', path],
                       capture_output=True, text=True, timeout=60)
    return [(s['codec_type'], s['codec_name'], s.get('sample_rate'), s.get('channels'))
            for s in json.loads(r.stdout)['streams']]


def video_end(path):
    """When the last picture stops showing, by the video stream's packets (the
    last one's duration, where the container keeps none, as the one before)."""
    r = subprocess.run(['ffprobe', '-v', 'error', '-select_streams', 'v:0', '-show_entries',
                        'packet=pts_time,duration_time', '-of', 'csv=p=0', path],
                       capture_output=True, text=True, timeout=60)
    packets = sorted(line.split(',')[:2] for line in r.stdout.split())
    (before, _), (last, duration) = packets[-2:]
    return float(last) + (float(duration) if duration != 'N/A' else float(last) - float(before))


@unittest.skipIf(shutil.which('ffprobe') is None, 'needs ffmpeg (scripts/setup)')
class SoundExport(unittest.TestCase):
    """The recording's sound in video files and alone, read back by FFmpeg:
    30 frames at 30 a second (1 s) with trellon-addsound's tracks."""
    FPS = 30

    def setUp(self):
        self.tmp = tempfile.mkdtemp()
        self.silent = os.path.join(self.tmp, 'silent.dk2')
        write_video(self.silent, 64, 48, [i / self.FPS for i in range(30)])

    def tearDown(self):
        shutil.rmtree(self.tmp)

    def export(self, source, name, *options):
        out = os.path.join(self.tmp, name)
        r = run('export', source, out, *options)
        self.assertEqual(r.returncode, 0, r.stderr)
        return out

    def test_each_video_format_carries_the_sound_in_its_own_codec_for_as_long_as_the_pictures(self):
        source = with_sound(self.silent, os.path.join(self.tmp, 'tone.dk2'), '--tone', '440',
                            '--seconds', '2', '--start-us', '-250000')
        expected = {'v.mp4': ('h264', 'aac'), 'v.webm': ('vp9', 'opus'), 'v.mkv': ('ffv1', 'flac')}
        for name, (picture, sound) in expected.items():
            out = self.export(source, name)
            self.assertEqual(streams(out), [('video', picture, None, None),
                                            ('audio', sound, '48000', 2)], name)
            # Both end with the last frame, one second in, within a frame.
            heard = len(decoded_sound(out)) / (4 * 48000)
            self.assertAlmostEqual(video_end(out), 1.0, delta=1 / self.FPS, msg=name)
            self.assertAlmostEqual(heard, video_end(out), delta=1 / self.FPS, msg=name)
            # The tone is there, not silence: the lossy codecs keep its level.
            level = max(abs(v) for v in array('h', decoded_sound(out)))
            self.assertGreater(level, 12000, name)
        self.assertEqual([s[:2] for s in streams(self.export(source, 'v.gif'))], [('video', 'gif')])

    def test_the_mkvs_sound_and_the_sound_files_are_the_stored_samples_on_the_frames_time_line(self):
        # Half a second of sound starting 0.1 s after frame 0: silence before
        # it and after it up to the last frame's end; then starting 0.1 s
        # before frame 0: its first 4800 samples are not in the span.
        for start, first in (('100000', -4800), ('-100000', 4800)):
            source = with_sound(self.silent, os.path.join(self.tmp, 'p%s.dk2' % start),
                                '--samples', '24000', '--start-us', start, '--block', '7000')
            expected = pattern(first, 48000, length=24000)
            for name in ('v.mkv', 's.flac', 's.wav'):
                out = self.export(source, name, '--force')
                self.assertEqual(decoded_sound(out), expected, (start, name))
            self.assertEqual(streams(os.path.join(self.tmp, 's.flac')), [('audio', 'flac', '48000', 2)])
            self.assertEqual(streams(os.path.join(self.tmp, 's.wav')),
                             [('audio', 'pcm_s16le', '48000', 2)])
        # Frames 11..20: the span from frame 11's time (1/3 s) for 1/3 s, to
        # the millisecond the video's time stamps count in: 333 ms.
        out = self.export(source, 'part.wav', '--first', '11', '--last', '20')
        self.assertEqual(decoded_sound(out), pattern(4800 + 16000, 15984, length=24000))

    def test_extract_keeps_its_frames_sound_and_info_and_verify_speak_of_it(self):
        source = with_sound(self.silent, os.path.join(self.tmp, 'p.dk2'), '--samples', '48000')
        r = run('info', source)
        self.assertIn('Sound:           1.000 s, 48000 Hz, 2 channels, FLAC', r.stdout)
        r = run('verify', source)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn('1.000 s of sound', r.stdout)
        # Frames 11..20 (1/3 s to 2/3 s): that third of a second of sound,
        # from its first sample (the frames' time stamps round either way);
        # the export of the part ends with its last frame, to the ms.
        part = os.path.join(self.tmp, 'part.dk2')
        r = run('extract', source, part, '11', '20')
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn('Sound:           0.333 s', run('info', part).stdout)
        heard = decoded_sound(self.export(part, 'part.wav'))
        frames = len(heard) // 4
        self.assertAlmostEqual(frames, 16000, delta=20)
        # (It may start a sample after the part's first frame: silence first.)
        self.assertTrue(any(heard[4 * k:] == pattern(first, frames - k)
                            for k in (0, 1) for first in (15999, 16000, 16001)),
                        "the fragment's sound is not the stored samples of its span")
        # A damaged sound section: the picture loads, info says why the sound
        # is left out, verify fails on it.
        data = bytearray(open(source, 'rb').read())
        data[-100] ^= 0x40
        damaged = os.path.join(self.tmp, 'damaged.dk2')
        open(damaged, 'wb').write(bytes(data))
        r = run('info', damaged)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn('Frames:          30', r.stdout)
        self.assertIn('Sound:           left out: the sound is damaged', r.stdout)
        r = run('verify', damaged)
        self.assertNotEqual(r.returncode, 0)
        self.assertIn('the sound section: the sound is damaged', r.stderr)

    def test_the_recordings_rate_and_channels_are_kept_where_the_format_allows(self):
        source = with_sound(self.silent, os.path.join(self.tmp, 'mono.dk2'), '--rate', '22050',
                            '--channels', '1', '--samples', '22050')
        out = self.export(source, 's.wav')
        self.assertEqual(streams(out), [('audio', 'pcm_s16le', '22050', 1)])
        self.assertEqual(decoded_sound(out, channels=1), pattern(0, 22050, channels=1))
        out = self.export(source, 's.flac')
        self.assertEqual(decoded_sound(out, channels=1), pattern(0, 22050, channels=1))
        # Opus takes 48 kHz only: the sound is resampled, its length kept.
        out = self.export(source, 'v.webm')
        self.assertEqual(streams(out)[1], ('audio', 'opus', '48000', 1))
        heard = len(decoded_sound(out, channels=1)) / (2 * 48000)
        self.assertAlmostEqual(heard, 1.0, delta=1 / self.FPS)
        # Three channels: kept in MKV, mixed down to stereo for Opus, which
        # takes no three-channel layout.
        source = with_sound(self.silent, os.path.join(self.tmp, 'three.dk2'), '--channels', '3')
        out = self.export(source, 'three.mkv')
        self.assertEqual(decoded_sound(out, channels=3), pattern(0, 48000, channels=3))
        self.assertEqual(streams(self.export(source, 'three.webm'))[1], ('audio', 'opus', '48000', 2))

    def test_no_sound_leaves_the_audio_out_and_a_silent_recording_has_no_sound_file(self):
        source = with_sound(self.silent, os.path.join(self.tmp, 'tone.dk2'), '--tone', '300')
        for name in ('v.mp4', 'v.mkv'):
            out = self.export(source, name, '--no-sound')
            self.assertEqual([s[0] for s in streams(out)], ['video'], name)
            out = self.export(self.silent, name, '--force')
            self.assertEqual([s[0] for s in streams(out)], ['video'], name)
        for name in ('s.wav', 's.flac'):
            r = run('export', self.silent, os.path.join(self.tmp, name))
            self.assertEqual(r.returncode, 1, r.stdout)
            self.assertIn('the recording has no sound', r.stderr)
            r = run('export', source, os.path.join(self.tmp, name), '--no-sound')
            self.assertEqual(r.returncode, 2, r.stdout)
        self.assertEqual(sorted(os.listdir(self.tmp)), ['silent.dk2', 'tone.dk2', 'v.mkv', 'v.mp4'])

    @unittest.skipUnless(POSIX, 'a file size limit (RLIMIT_FSIZE) stands in for the full disk')
    def test_a_sound_file_onto_a_full_disk_says_why_and_leaves_nothing(self):
        def small_disk():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (16384, 16384))

        # A second of 16-bit stereo at 48 kHz is 192,000 bytes.
        source = with_sound(self.silent, os.path.join(self.tmp, 'p.dk2'))
        out = tempfile.mkdtemp(dir=self.tmp)
        r = run('export', source, os.path.join(out, 's.wav'), preexec_fn=small_disk)
        self.assertEqual(r.returncode, 1, r.stdout)
        self.assertRegex(r.stderr, r'Error writing to .*s\.wav: File too large')
        self.assertEqual(os.listdir(out), [])


if __name__ == '__main__':
    unittest.main(argv=sys.argv[:1], verbosity=2)
