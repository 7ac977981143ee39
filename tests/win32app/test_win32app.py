#!/usr/bin/env python3
"""The Windows application, trellonhd.exe, driven through its window under
Wine: a virtual X server with a window manager, the demo game gamesim.exe
beside it in the same Wine prefix, clicks and keys from xdotool where a
person would give them, and win32app_probe.exe reading the controls back.
Saved videos are checked by the trellon tool, exported ones by FFmpeg's
ffprobe. A case that fails is run once more on a fresh desktop (main()),
unless its trellonhd.exe ended by itself.

Environment:
  TRELLON_WIN32_BIN   folder with trellonhd.exe, gamesim.exe, trellon.exe,
                      win32app_probe.exe and the sheets (build/windows/bin)
  TRELLON_WIN32_WORK  folder of this test's own: its Wine prefix (kept
                      between runs, as making one takes a while), a locale,
                      the videos and the screenshots
  TRELLON_CLI         optional: a Linux trellon to verify videos with;
                      otherwise trellon.exe under Wine does
"""
import glob
import os
import re
import shutil
import subprocess
import sys
import time
import unittest
import xml.etree.ElementTree as ElementTree

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, '..', '..'))
BIN = os.path.abspath(os.environ.get('TRELLON_WIN32_BIN', os.path.join(ROOT, 'build', 'windows', 'bin')))
WORK = os.path.abspath(os.environ.get('TRELLON_WIN32_WORK', os.path.join(ROOT, 'build', 'windows', 'win32app')))
WINE = '/usr/lib/wine/wine64'
WINESERVER = '/usr/lib/wine/wineserver'
PREFIX = os.path.join(WORK, 'wineprefix')
LOCALES = os.path.join(WORK, 'locale')
VIDEOS = os.path.join(WORK, 'videos')

# Control ids of the main dialog (ui/core/resource.h).
IDC_FRAME_SLIDER, IDC_BYTES, IDC_RECORD, IDC_FRAME_TEXT = 1001, 1002, 1003, 1005
IDC_SAVE, IDC_LOAD, IDC_CLEAR, IDC_VIDEO_INFO, IDC_PLAY = 1007, 1008, 1011, 1012, 1013
IDC_PAUSE, IDC_SPEED, IDC_SHOW_CURSOR, IDC_DETACH, IDC_EXTRACT = 1014, 1019, 1020, 1022, 1023
# The export dialog's (ui/win32/ResourceIds.h).
IDC_EXPORT_FORMAT, IDC_EXPORT_FIRST, IDC_EXPORT_LAST, IDC_EXPORT_SCALE = 1111, 1112, 1114, 1116
IDCANCEL = 2
# How a recording's title ends under Wine, which can't record the game's
# sound (no process loopback).
NO_SOUND_TITLE_END = ' dropped \u00B7 no sound \u2014 TrellonHD'
# The menus' commands (ui/win32/ResourceIds.h).
IDM_ABOUTBOX, IDM_EXPORT, IDM_RECORD_SOUND, IDM_MUTE = 16, 32, 48, 64


def windows_path(path):
    return 'Z:' + path.replace('/', '\\')


def end_process(process, timeout):
    """Asks `process` to end, and kills it when it has not after `timeout` seconds."""
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


class Desktop:
    """A virtual X server with openbox (icewm takes Ctrl+Alt keys for itself,
    so the hotkeys would never reach Wine under it) and this test's Wine
    prefix, with the X11 driver."""

    def __init__(self):
        self.processes = []
        self.program = None
        self.env = None
        try:
            self.start_desktop()
        except BaseException:
            # A desktop that did not come up leaves no server behind.
            self.close()
            raise

    def start_desktop(self):
        read, write = os.pipe()
        xvfb = subprocess.Popen(['Xvfb', '-displayfd', str(write), '-screen', '0', '1280x1024x24',
                                 '-nolisten', 'tcp'], pass_fds=[write],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        self.processes.append(xvfb)
        number = b''
        while not number.endswith(b'\n'):
            chunk = os.read(read, 16)
            if not chunk:
                break
            number += chunk
        os.close(read)
        if not number.strip():
            raise RuntimeError('Xvfb did not start (scripts/setup installs it)')
        self.env = dict(os.environ)
        self.env.update(DISPLAY=':' + number.decode().strip(), WINEPREFIX=PREFIX,
                        WINEDEBUG='-all', WINEDLLOVERRIDES='mscoree,mshtml=', LANG='C.UTF-8')
        for name in ('LC_ALL', 'LC_MESSAGES', 'LANGUAGE', 'LOCPATH'):
            self.env.pop(name, None)
        self.processes.append(subprocess.Popen(['openbox'], env=self.env, stdout=subprocess.DEVNULL,
                                               stderr=subprocess.DEVNULL))
        if not os.path.isfile(os.path.join(PREFIX, 'system.reg')):
            os.makedirs(PREFIX, exist_ok=True)
            subprocess.run([WINE, 'wineboot', '--init'], env=self.env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=120, check=True)
        subprocess.run([WINESERVER, '-w'], env=self.env, timeout=60)
        # One wineserver for the run: every Wine program starts faster. It
        # and Wine's services outlive the call, so they get no pipe of ours.
        subprocess.run([WINESERVER, '-p'], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=30)
        subprocess.run([WINE, 'wineboot'], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)

    def close(self):
        if self.env is not None:
            subprocess.run([WINESERVER, '-k'], env=self.env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=30)
        for process in reversed(self.processes):
            end_process(process, timeout=10)

    def start(self, *args, env=None):
        """Starts a Wine program in BIN. trellonhd.exe's output goes to
        trellonhd.log in WORK, kept for a failure to point at."""
        output = subprocess.DEVNULL
        if os.path.basename(args[0]) == 'trellonhd.exe':
            output = open(os.path.join(WORK, 'trellonhd.log'), 'wb')
        try:
            process = subprocess.Popen([WINE, *args], cwd=BIN, env=env or self.env,
                                       stdout=output, stderr=subprocess.STDOUT)
        finally:
            if output is not subprocess.DEVNULL:
                output.close()
        self.processes.append(process)
        if output is not subprocess.DEVNULL:
            self.program = process
        return process

    def program_state(self):
        """Where the last trellonhd.exe started stands, for a failure's
        message: a control that can't be found because the program has
        gone is a fault of the program, not of the test's hands."""
        if self.program is None:
            return 'no trellonhd.exe was started'
        if self.program.poll() is not None:
            return f'trellonhd.exe has ended, exit status {self.program.returncode}{program_output()}'
        shown = 'shows' if self.probe('wait', 0)[0] == 0 else 'shows no'
        return f'trellonhd.exe runs and {shown} main dialog'

    def run(self, *args, env=None, timeout=60, cwd=BIN):
        if os.path.basename(args[0]) != 'trellonhd.exe':
            return subprocess.run([WINE, *args], cwd=cwd, env=env or self.env,
                                  capture_output=True, text=True, timeout=timeout)
        # A command to the running program that stops its recording waits
        # for it, and so for the sound notice that comes as it stops.
        process = subprocess.Popen([WINE, *args], cwd=cwd, env=env or self.env,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        end = time.monotonic() + timeout
        while True:
            try:
                out, err = process.communicate(timeout=1)
                return subprocess.CompletedProcess(process.args, process.returncode, out, err)
            except subprocess.TimeoutExpired:
                if time.monotonic() > end:
                    end_process(process, timeout=10)
                    raise
                self.dismiss_sound_notice()

    def probe(self, *args):
        result = self.run('win32app_probe.exe', *[str(a) for a in args])
        return result.returncode, result.stdout.rstrip('\r\n')

    def text(self, control):
        status, text = self.probe('text', control)
        return text if status == 0 else None

    def click_control(self, control):
        status, where = self.probe('center', control)
        if status != 0:
            shot = self.screenshot(f'failure-control-{control}.png')
            raise AssertionError(f'control {control} not found: {self.program_state()} '
                                 f'(screenshot: {shot})')
        self.click_at(where)

    def click_at(self, where):
        x, y = where.split()
        subprocess.run(['xdotool', 'mousemove', x, y, 'click', '1'], env=self.env,
                       check=True, timeout=10)

    def keys(self, *keys):
        subprocess.run(['xdotool', 'key', '--delay', '30', *keys], env=self.env, check=True,
                       timeout=10)

    def type(self, text):
        subprocess.run(['xdotool', 'type', '--delay', '15', text], env=self.env, check=True,
                       timeout=30)

    def managed_titles(self, pid):
        """The titles the window manager has for the windows of process
        `pid`: _NET_WM_NAME of those of its windows that it manages
        (_NET_CLIENT_LIST), read with xprop."""
        def xprop(*args):
            return subprocess.run(['xprop', '-notype', *args], env=self.env, capture_output=True,
                                  text=True, timeout=10).stdout
        clients = xprop('-root', '_NET_CLIENT_LIST').partition('#')[2]
        titles = []
        for window in re.findall(r'0x[0-9a-fA-F]+', clients):
            properties = dict(line.partition(' = ')[::2] for line in
                              xprop('-id', window, '_NET_WM_PID', '_NET_WM_NAME').splitlines())
            if properties.get('_NET_WM_PID') == str(pid) and '_NET_WM_NAME' in properties:
                # A quoted string, with \\ and \" escaped.
                titles.append(re.sub(r'\\(.)', r'\1', properties['_NET_WM_NAME'][1:-1]))
        return titles

    def screenshot(self, name):
        path = os.path.join(WORK, name)
        subprocess.run(['import', '-window', 'root', path], env=self.env, timeout=30)
        return path

    def dismiss_sound_notice(self):
        """Under Wine a recording has no sound (no process loopback), and
        the program says so once a run as the recording stops, in a box that
        holds the program until it is answered: answered here, as a person
        would. True when there was one."""
        status, ok = self.probe('item', 'Sound', 1, 0)  # IDOK
        if status != 0:
            return False
        self.click_at(ok)
        return True

    def wait_for(self, what, condition, seconds=15):
        end = time.monotonic() + seconds
        last = None
        notice_checked = time.monotonic()
        while time.monotonic() < end:
            last = condition()
            if last:
                return last
            # What the test waits for may wait for the sound notice.
            if time.monotonic() - notice_checked > 1:
                self.dismiss_sound_notice()
                notice_checked = time.monotonic()
            time.sleep(0.1)
        shot = self.screenshot('failure-' + ''.join(c if c.isalnum() else '-' for c in what) + '.png')
        raise AssertionError(f'{what}: not within {seconds} s; {self.program_state()} '
                             f'(screenshot: {shot})')


def program_output():
    """The last lines trellonhd.exe wrote, for a failure's message."""
    try:
        with open(os.path.join(WORK, 'trellonhd.log'), 'rb') as log:
            lines = log.read().decode(errors='replace').splitlines()[-20:]
    except OSError:
        return ''
    return ''.join('\n  | ' + line for line in lines) if lines else ', and wrote nothing'


def verify(desktop, path):
    """trellon verify on a saved video: the number of frames it holds."""
    cli = os.environ.get('TRELLON_CLI', '')
    if cli and os.access(cli, os.X_OK):
        result = subprocess.run([cli, 'verify', path], capture_output=True, text=True, timeout=60)
    else:
        result = desktop.run('trellon.exe', 'verify', windows_path(path))
    if result.returncode != 0:
        raise AssertionError(f'trellon verify {path}: {result.stdout}{result.stderr}')
    words = result.stdout.split(', ')
    return int(next(w for w in words if w.endswith(' frames')).split()[0])


def body_size(desktop, path):
    result = desktop.run('trellon.exe', 'info', windows_path(path))
    line = next(l for l in result.stdout.splitlines() if l.startswith('Body size:'))
    return int(line.split()[2])


def qt_export_texts(russian):
    """What the Qt export dialog says (ui/qt/ExportDlg.cpp), from its
    translation file: the caption, the four formats, then the four labels,
    in English or in Russian."""
    tree = ElementTree.parse(os.path.join(ROOT, 'ui', 'qt', 'translations', 'trellonhd_ru.ts'))
    context = next(c for c in tree.getroot() if c.findtext('name') == 'CExportDlg')
    return [m.findtext('translation' if russian else 'source') for m in context.iter('message')]


def video_stream(path):
    """ffprobe's codec, width, height and counted frames of the first video
    stream of `path`."""
    result = subprocess.run(['ffprobe', '-v', 'error', '-count_frames', '-select_streams', 'v:0',
                             '-show_entries', 'stream=codec_name,width,height,nb_read_frames',
                             '-of', 'default=noprint_wrappers=1', path],
                            capture_output=True, text=True, timeout=120)
    if result.returncode != 0:
        raise AssertionError(f'ffprobe {path}: {result.stderr}')
    fields = dict(line.partition('=')[::2] for line in result.stdout.splitlines())
    return (fields['codec_name'], int(fields['width']), int(fields['height']),
            int(fields['nb_read_frames']))


def menu_lines(shot, rect):
    """The lines of black text in the pop-up menu at `rect` (left, top,
    right, bottom) of the screenshot `shot`, inside the frame's edge, each
    with whether a black check mark stands in the menu's left margin beside
    it. A greyed item's text is grey and makes none, as a separator's rule."""
    left, top, right, bottom = rect
    # The check mark stands in the first 12 columns inside the edge, the
    # text after them.
    inset, margin = 4, 12
    pgm = subprocess.run(['convert', shot, '-crop',
                          f'{right - left - 2 * inset}x{bottom - top - 2 * inset}'
                          f'+{left + inset}+{top + inset}', '+repage', '-colorspace', 'Gray',
                          '-depth', '8', 'pgm:-'], capture_output=True, check=True,
                         timeout=30).stdout
    header = re.match(rb'P5\s+(\d+)\s+(\d+)\s+255\s', pgm)
    width, height = int(header.group(1)), int(header.group(2))
    pixels = pgm[header.end():]
    # An item's access key is underlined a blank row below its text: runs
    # of dark rows closer than a few rows are one line.
    lines, last = [], -10
    for row in range(height):
        line = pixels[row * width:(row + 1) * width]
        text, mark = min(line[margin:]) < 64, min(line[:margin]) < 64
        if not text and not mark:
            continue
        if row - last > 3:
            lines.append(False)
        lines[-1] = lines[-1] or mark
        last = row
    return lines


def russian_locale():
    """A Russian locale of this test's own (LOCPATH): Wine takes the user's
    interface language from the C library's locale, and the machine may have
    none generated."""
    target = os.path.join(LOCALES, 'ru_RU.UTF-8')
    if not os.path.isdir(target):
        os.makedirs(LOCALES, exist_ok=True)
        subprocess.run(['localedef', '-i', 'ru_RU', '-f', 'UTF-8', target],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
    return LOCALES if os.path.isdir(target) else None


class Win32App(unittest.TestCase):
    """The person records, saves, loads, records with the hotkeys and from
    the command line, plays a video and reads the program in Russian. One
    desktop serves every case; each case starts the programs it needs from
    nothing, makes the videos it reads, and its programs end with it whatever
    became of it, so that one failure stays in its own case."""

    # The cases whose trellonhd.exe ended without being asked to.
    ended_by_itself = set()

    @classmethod
    def setUpClass(cls):
        for name in ('trellonhd.exe', 'gamesim.exe', 'trellon.exe', 'win32app_probe.exe'):
            if not os.path.isfile(os.path.join(BIN, name)):
                raise unittest.SkipTest(f'{name} is missing in {BIN}: build the windows preset')
        os.makedirs(WORK, exist_ok=True)
        shutil.rmtree(VIDEOS, ignore_errors=True)
        os.makedirs(VIDEOS)
        cls.desktop = Desktop()

    @classmethod
    def tearDownClass(cls):
        cls.desktop.close()
        shutil.rmtree(VIDEOS, ignore_errors=True)

    def start_game(self, *args):
        game = self.desktop.start('gamesim.exe', '--fps', '30', '--frames', '100000', *args)
        self.addCleanup(self.end, game)
        return game

    def start_program(self, *args, env=None):
        """trellonhd.exe, once its main dialog is there. No journal of an
        earlier case (one that failed while recording) offers itself."""
        for folder in glob.glob(os.path.join(PREFIX, 'drive_c', 'users', '*', 'AppData', 'Local',
                                             'TrellonHD')):
            shutil.rmtree(folder, ignore_errors=True)
        app = self.desktop.start('trellonhd.exe', *args, env=env)
        self.addCleanup(self.end_program, app)
        if self.desktop.probe('wait', 30)[0] != 0:
            self.desktop.screenshot(f'failure-{self._testMethodName}.png')
            self.fail('the main dialog did not appear')
        return app

    @staticmethod
    def end(process):
        end_process(process, timeout=20)

    def end_program(self, app):
        """Ends a program a case left running (closed through its window
        when the case went well) and waits until Wine has let go of its
        window and hotkeys, which comes a moment after the process has
        ended: the next program would otherwise find them."""
        ended_by_itself = app.poll() is not None and not getattr(app, 'closed', False)
        app.closed = True
        self.end(app)
        self.desktop.probe('gone', 10)
        if ended_by_itself:
            # Never tried again: a program that ends unasked fails every try.
            Win32App.ended_by_itself.add(self.id())
            self.fail(f'trellonhd.exe ended by itself, exit status {app.returncode}'
                      f'{program_output()}')

    def close_program(self, app):
        """Closes the program through its window, as the person does."""
        app.closed = True
        self.assertEqual(self.desktop.probe('close')[0], 0)
        app.wait(timeout=20)
        self.assertEqual(self.desktop.probe('gone', 10)[0], 0)

    def title(self):
        return self.desktop.text(0) or ''

    def frames_in_title(self):
        # "● REC 00:00:01 · 42 frames · 0 dropped · no sound — TrellonHD"
        words = self.title().split()
        return int(words[words.index('frames') - 1].replace(',', '')) if 'frames' in words else 0

    def managed_title(self, app):
        """The title of the program's window as the window manager gets it:
        _NET_WM_NAME of the window of the program's process among those the
        manager manages; None while it manages none, or several."""
        titles = self.desktop.managed_titles(app.pid)
        return titles[0] if len(titles) == 1 else None

    def save_through_dialog(self, path):
        self.desktop.click_control(IDC_SAVE)
        status, where = self.desktop.probe('window', 'Save As', 10)
        self.assertEqual(status, 0, 'no save dialog')
        time.sleep(0.5)  # the dialog puts the focus in its name field once shown
        self.desktop.type(windows_path(path))
        self.desktop.keys('Return')
        self.desktop.wait_for('the save', lambda: os.path.isfile(path) and
                              self.title() == os.path.basename(path) + ' \u2014 TrellonHD')

    def record_demo(self, path, frames=20):
        """A video of the demo game, recorded by trellon.exe; the game ends
        with it."""
        game = self.desktop.start('gamesim.exe', '--fps', '30', '--frames', '100000')
        try:
            result = self.desktop.run('trellon.exe', 'record', windows_path(path), '--frames',
                                      str(frames), '--wait', '20')
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        finally:
            self.end(game)

    def video_point(self):
        """A point in the main dialog's video area, away from its controls:
        the window's centre lies in its top-left 640 x 480 pixels."""
        status, where = self.desktop.probe('center', 0)
        self.assertEqual(status, 0)
        return where

    def export_refused(self, title='Export'):
        """No export dialog comes within a second."""
        return self.desktop.probe('window', title, 1)[0] != 0

    def export_controls(self, title='Export'):
        """The export dialog's controls, by id, each as its text and a list's
        items after it; the labels (IDC_STATIC) under -1, in their order."""
        status, listing = self.desktop.probe('controls', title, 10)
        self.assertEqual(status, 0, f'no window {title}')
        controls = {}
        for line in listing.splitlines():
            control, *texts = line.rstrip('\r').split('\t')
            controls.setdefault(int(control), []).extend(texts)
        return controls

    def export_numbers(self, title='Export'):
        controls = self.export_controls(title)
        return tuple(int(controls[c][0]) for c in (IDC_EXPORT_FIRST, IDC_EXPORT_LAST,
                                                   IDC_EXPORT_SCALE))

    def check_export_texts(self, title, russian):
        """The dialog says what the Qt one says, in the same language."""
        caption, *formats_and_labels = qt_export_texts(russian)
        formats, labels = formats_and_labels[:4], formats_and_labels[4:]
        self.assertEqual(title, caption)
        controls = self.export_controls(title)
        # The shown format, then the list's four.
        self.assertEqual(controls[IDC_EXPORT_FORMAT][1:], formats)
        self.assertEqual([t for t in controls[-1] if t != 'x'], labels)
        self.assertEqual(controls[IDCANCEL], ['Отмена' if russian else 'Cancel'])

    def menu_text_lines(self, shot_name):
        """The lines of black text of the pop-up menu that is open, from a
        screenshot kept under `shot_name`."""
        status, rect = self.desktop.probe('menu', 10)
        self.assertEqual(status, 0, 'no menu opened')
        return len(menu_lines(self.desktop.screenshot(shot_name), [int(v) for v in rect.split()]))

    def close_menu(self):
        self.desktop.keys('Escape')
        self.desktop.wait_for('the menu to close', lambda: self.desktop.probe('menu', 0)[0] != 0)

    def menu_marks(self, shot_name):
        """The lines of black text of the open pop-up menu, from a
        screenshot kept under `shot_name`: for each, whether a check mark
        stands beside it. (Wine keeps a menu in the process that made it, so
        another process can't read its items; what is drawn tells.)"""
        status, rect = self.desktop.probe('menu', 10)
        self.assertEqual(status, 0, 'no menu opened')
        return menu_lines(self.desktop.screenshot(shot_name), [int(v) for v in rect.split()])

    def focus_program(self):
        """Gives the main dialog the keyboard: a click on a label of its own,
        below where the game's window may lie over it, brings it to the
        front, and one on the slider, where there is a video, gives the
        focus back to a control (Stop Recording, which had it, is greyed
        once the recording stopped)."""
        d = self.desktop
        d.click_control(IDC_FRAME_TEXT)
        if d.probe('enabled', IDC_FRAME_SLIDER) == (0, '1'):
            d.click_control(IDC_FRAME_SLIDER)

    def open_context_menu(self):
        """Opens the context menu with the menu key, as often as it takes: a
        key that comes just after the window appeared, or as another menu
        closes, may go nowhere. (A right click there goes astray more often
        still under Wine.)"""
        d = self.desktop
        for _ in range(4):
            self.focus_program()
            d.keys('Menu')
            if d.probe('menu', 3)[0] == 0:
                return
        self.fail(f"no context menu (screenshot: {d.screenshot('failure-context-menu.png')})")

    def sound_marks(self, menu, shot_name):
        """menu_marks of the context menu ('context', opened by a right click
        on the video) or the system menu ('system'), which is closed again."""
        d = self.desktop
        if menu == 'context':
            self.open_context_menu()
        else:
            self.focus_program()
            self.assertEqual(d.probe('sysmenu')[0], 0)
        marks = self.menu_marks(shot_name)
        self.close_menu()
        if menu == 'system':
            # Opened as by Alt+Space, the window stays in menu mode until a
            # second Escape; the dialog itself lets Escape go.
            d.keys('Escape')
        return marks

    def dismiss_sound_notice(self):
        """The notice that the recording has no sound (Desktop's), waited
        for: it comes as the recording stops."""
        d = self.desktop
        self.assertEqual(d.probe('window', 'Sound', 10)[0], 0, 'no notice that there is no sound')
        self.assertTrue(d.dismiss_sound_notice())
        d.wait_for('the sound notice to close', lambda: d.probe('window', 'Sound', 0)[0] != 0)

    def save_export_as(self, path, russian=False):
        title = 'Сохранить как' if russian else 'Save As'
        status, _ = self.desktop.probe('window', title, 10)
        self.assertEqual(status, 0, 'no save dialog')
        time.sleep(0.5)  # the dialog puts the focus in its name field once shown
        self.desktop.type(windows_path(path))
        self.desktop.keys('Return')

    def wait_for_export(self, path):
        """The exported file is there and the main dialog takes input again."""
        self.desktop.wait_for('the export', lambda: os.path.isfile(path) and
                              self.desktop.probe('enabled', 0) == (0, '1'), seconds=120)

    def test_records_saves_and_loads_through_the_window(self):
        d = self.desktop
        self.start_game()
        app = self.start_program()
        self.assertEqual(d.text(IDC_RECORD), 'Start Recording')
        self.assertEqual(d.probe('enabled', IDC_RECORD), (0, '1'))
        self.assertEqual(d.probe('checked', IDC_SHOW_CURSOR), (0, '1'))
        self.assertEqual(d.text(IDC_SPEED).rstrip(), 'normal')
        # The new empty video's title is the program's name alone.
        d.wait_for('the title at the window manager', lambda: self.managed_title(app) == 'TrellonHD')

        d.click_control(IDC_RECORD)
        d.wait_for('the recording to start', lambda: d.text(IDC_RECORD) == 'Stop Recording')
        self.assertEqual(d.probe('enabled', IDC_SAVE), (0, '0'))
        d.wait_for('20 frames', lambda: self.frames_in_title() >= 20)
        # What changes first, the program's name last and once.
        shown = self.managed_title(app) or ''
        self.assertTrue(shown.startswith('\u25CF REC '), shown)
        self.assertTrue(shown.endswith(NO_SOUND_TITLE_END), shown)
        self.assertEqual(shown.count('TrellonHD'), 1, shown)
        d.click_control(IDC_RECORD)
        d.wait_for('the recording to stop', lambda: d.text(IDC_RECORD) == 'Start Recording')
        # A finished recording can't be continued; the version was recognised.
        self.assertEqual(d.probe('enabled', IDC_RECORD), (0, '0'))
        self.assertEqual(self.title(), 'unsaved recording * \u2014 TrellonHD')
        self.assertEqual(d.text(1028), 'war2 v2.0.2.0')

        # Typed into the file dialogs: ASCII, which xdotool types reliably.
        path = os.path.join(VIDEOS, 'first.dk2')
        self.save_through_dialog(path)
        frames = verify(d, path)
        self.assertGreaterEqual(frames, 20)
        d.wait_for('the saved title at the window manager',
                   lambda: self.managed_title(app) == 'first.dk2 \u2014 TrellonHD')

        # Cleared (a saved video goes without a question), then loaded back.
        d.click_control(IDC_CLEAR)
        d.wait_for('the clearing', lambda: self.title() == 'TrellonHD' and d.text(IDC_BYTES) == '24')
        self.assertEqual(d.probe('enabled', IDC_RECORD), (0, '1'))
        # Enter and Escape go nowhere in the main dialog: no default button
        # is pressed, nothing closes.
        d.click_control(IDC_FRAME_SLIDER)
        d.keys('Return', 'Escape')
        time.sleep(0.5)
        self.assertEqual(d.text(IDC_RECORD), 'Start Recording')
        self.assertNotEqual(d.probe('window', 'Open', 0)[0], 0)
        self.assertEqual(d.probe('wait', 0)[0], 0)
        d.click_control(IDC_LOAD)
        status, _ = d.probe('window', 'Open', 10)
        self.assertEqual(status, 0, 'no open dialog')
        time.sleep(0.5)
        d.type(windows_path(path))
        d.keys('Return')
        size = str(body_size(d, path))
        d.wait_for('the load', lambda: d.text(IDC_BYTES) == size)
        self.assertEqual(self.title(), 'first.dk2 \u2014 TrellonHD')
        self.assertEqual(d.probe('enabled', IDC_RECORD), (0, '0'))
        self.close_program(app)

    def test_hotkeys_drive_a_recording_while_the_game_has_the_focus(self):
        d = self.desktop
        self.start_game()
        app = self.start_program()
        status, game = d.probe('window', 'WARCRAFT II', 10)
        self.assertEqual(status, 0)
        d.click_at(game)
        d.keys('ctrl+alt+r')
        d.wait_for('Ctrl+Alt+R to start a recording', lambda: d.text(IDC_RECORD) == 'Stop Recording')
        d.wait_for('frames', lambda: self.frames_in_title() >= 5)
        d.keys('ctrl+alt+p')
        d.wait_for('Ctrl+Alt+P to pause it', lambda: 'PAUSED' in self.title())
        paused = self.frames_in_title()
        shown = self.managed_title(app) or ''
        self.assertTrue(shown.startswith('\u275A\u275A PAUSED ') and
                        shown.endswith(NO_SOUND_TITLE_END), shown)
        time.sleep(0.5)
        self.assertEqual(self.frames_in_title(), paused, 'frames came while paused')
        d.keys('ctrl+alt+p')
        d.wait_for('Ctrl+Alt+P to resume it', lambda: 'REC' in self.title())
        d.wait_for('frames after the pause', lambda: self.frames_in_title() > paused)
        d.keys('ctrl+alt+r')
        d.wait_for('Ctrl+Alt+R to stop it', lambda: d.text(IDC_RECORD) == 'Start Recording')
        self.assertEqual(self.title(), 'unsaved recording * \u2014 TrellonHD')

    def test_options_answer_without_a_running_program(self):
        d = self.desktop
        # The options a program without a console still answers on the
        # standard output and error.
        result = d.run('trellonhd.exe', '--version')
        self.assertEqual((result.returncode, result.stdout.split()[0]), (0, 'trellonhd'))
        result = d.run('trellonhd.exe', '--help')
        self.assertEqual(result.returncode, 0)
        self.assertIn('--toggle-recording', result.stdout)
        result = d.run('trellonhd.exe', '--record-everything')
        self.assertEqual(result.returncode, 2)
        self.assertIn('unknown option --record-everything', result.stderr)
        result = d.run('trellonhd.exe', '--save')
        self.assertEqual(result.returncode, 2)

    def test_commands_reach_the_running_program(self):
        d = self.desktop
        self.start_game()
        app = self.start_program()
        result = d.run('trellonhd.exe', '--pause-recording')
        self.assertEqual((result.returncode, result.stderr.strip()), (1, 'trellonhd: not recording'))
        result = d.run('trellonhd.exe', '--toggle-recording')
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(d.text(IDC_RECORD), 'Stop Recording')
        d.wait_for('frames', lambda: self.frames_in_title() >= 5)
        result = d.run('trellonhd.exe', '--toggle-recording')
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(d.text(IDC_RECORD), 'Start Recording')

        path = os.path.join(VIDEOS, 'commands.dk2')
        result = d.run('trellonhd.exe', '--save', windows_path(path))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertGreaterEqual(verify(d, path), 5)
        self.assertEqual(self.title(), 'commands.dk2 \u2014 TrellonHD')

        d.click_control(IDC_CLEAR)
        d.wait_for('the clearing', lambda: d.probe('enabled', IDC_RECORD) == (0, '1'))
        result = d.run('trellonhd.exe', '--toggle-recording')
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(d.text(IDC_RECORD), 'Stop Recording')
        d.wait_for('frames', lambda: self.frames_in_title() >= 10)
        # Saving a recording ends it first. The name is relative to the
        # sender's folder, and not ASCII.
        path = os.path.join(VIDEOS, 'удалённо.dk2')
        result = d.run(os.path.join(BIN, 'trellonhd.exe'), '--save', 'удалённо.dk2', cwd=VIDEOS)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(d.text(IDC_RECORD), 'Start Recording')
        self.assertGreaterEqual(verify(d, path), 10)
        result = d.run('trellonhd.exe', '--toggle-recording')
        self.assertEqual((result.returncode, result.stderr.strip()),
                         (1, 'trellonhd: the recording has ended; Clear starts a new one'))
        d.screenshot('trellonhd-en.png')

        self.close_program(app)
        result = d.run('trellonhd.exe', '--toggle-recording')
        self.assertEqual((result.returncode, result.stderr.strip()),
                         (1, 'trellonhd: no TrellonHD is running'))

    def test_plays_a_video_named_on_the_command_line(self):
        d = self.desktop
        # Recorded under a name xdotool and the tools take, then named
        # beyond ASCII; without the game in front its frames are shown. Three
        # seconds long: played to its end, a video goes back to its first
        # frame, and a shorter one could do that between two looks at the
        # counter on a busy machine (each look starts a Wine program).
        path = os.path.join(VIDEOS, 'просмотр.dk2')
        self.record_demo(os.path.join(VIDEOS, 'playback.dk2'), frames=90)
        os.replace(os.path.join(VIDEOS, 'playback.dk2'), path)
        frames = verify(d, path)
        app = self.start_program('"' + windows_path(path) + '"')
        d.wait_for('the first frame', lambda: d.text(IDC_FRAME_TEXT) == f'Frame 1/{frames}')
        d.click_control(IDC_PLAY)

        def moved_on():
            shown = d.text(IDC_FRAME_TEXT) or ''
            return shown.startswith('Frame ') and shown != f'Frame 1/{frames}'
        d.wait_for('playback to move on', moved_on, seconds=10)
        d.click_control(IDC_PAUSE)
        d.click_control(IDC_DETACH)
        d.wait_for('the detached window', lambda: d.probe('window', 'Resizable View TrellonHD', 0)[0] == 0)
        d.screenshot('trellonhd-playback.png')
        self.close_program(app)

    def test_speaks_russian_to_a_russian_user(self):
        d = self.desktop
        locales = russian_locale()
        if locales is None:
            self.skipTest('localedef could not make a Russian locale')
        env = dict(d.env, LANG='ru_RU.UTF-8', LOCPATH=locales)
        app = self.start_program(env=env)
        expected = {IDC_SAVE: 'Сохранить (&S)', IDC_EXTRACT: 'Обрезать (&E)',
                    IDC_CLEAR: 'Очистить (&C)', IDC_LOAD: 'Загрузить (&L)',
                    IDC_VIDEO_INFO: 'информация\r\n о видео', IDC_DETACH: 'Отцепить\r\n видео (&V)',
                    IDC_PLAY: 'Просмотр (&P)', IDC_PAUSE: ' Пауза (&U)',
                    IDC_SHOW_CURSOR: 'показать курсор (&H)', IDC_SPEED: 'норма      ',
                    # What the program says at run time stays English.
                    IDC_RECORD: 'Start Recording'}
        shown = {control: d.text(control) for control in expected}
        # A line break in a caption may come back as \n or \r\n.
        self.assertEqual({c: t.replace('\r\n', '\n') for c, t in shown.items()},
                         {c: t.replace('\r\n', '\n') for c, t in expected.items()})
        # The About item's command of the system menu, and the box it opens.
        self.assertEqual(d.probe('about')[0], 0)
        status, where = d.probe('window', 'О программе TrellonHD', 10)
        self.assertEqual(status, 0, 'no About box')
        d.screenshot('trellonhd-ru.png')
        d.keys('Escape')
        d.wait_for('the About box to close',
                   lambda: d.probe('window', 'О программе TrellonHD', 0)[0] != 0)
        self.close_program(app)

    def test_exports_the_chosen_frames_through_ctrl_e_and_the_context_menu(self):
        d = self.desktop
        if shutil.which('ffprobe') is None:
            self.skipTest('ffprobe is missing: scripts/setup installs ffmpeg')
        path = os.path.join(VIDEOS, 'export.dk2')
        self.record_demo(path, frames=40)
        frames = verify(d, path)
        self.start_program(windows_path(path))
        d.wait_for('the first frame', lambda: d.text(IDC_FRAME_TEXT) == f'Frame 1/{frames}')
        centre = self.video_point()
        d.click_at(centre)
        d.keys('ctrl+e')
        self.check_export_texts('Export', russian=False)
        # The whole video, MP4 (the list's first), as it was.
        self.assertEqual(self.export_numbers(), (1, frames, 1))
        self.assertEqual(self.export_controls()[IDC_EXPORT_FORMAT][0],
                         qt_export_texts(False)[1])
        d.screenshot('export-en.png')

        # Typed as a person does, each field's text selected as the Tab
        # key enters it: a number is clamped once its field is left, and
        # the other end of the range follows a moved one.
        d.keys('Tab')
        d.type('99999')
        d.keys('Tab')
        self.assertEqual(self.export_numbers(), (frames, frames, 1))
        d.type('12')
        d.keys('Tab')
        self.assertEqual(self.export_numbers(), (12, 12, 1))
        d.type('20')
        d.keys('Tab')
        self.assertEqual(self.export_numbers(), (12, 12, 8))
        # Round through OK and Cancel to the first frame again; the scale
        # is left typed, and taken by Enter.
        d.keys('Tab', 'Tab', 'Tab')
        d.type('3')
        d.keys('Tab')
        d.type('12')
        d.keys('Tab')
        d.type('2')
        d.keys('Return')
        mp4 = os.path.join(VIDEOS, 'range.mp4')
        self.save_export_as(mp4)
        self.wait_for_export(mp4)
        # Frames 3 to 12, each picture twice as wide and high.
        self.assertEqual(video_stream(mp4), ('h264', 1280, 960, 10))

        # The context menu's Export..., for the whole video as lossless MKV.
        x, y = centre.split()
        subprocess.run(['xdotool', 'mousemove', x, y, 'click', '3'], env=d.env, check=True,
                       timeout=10)
        self.assertEqual(d.probe('menu', 10)[0], 0, 'no context menu')
        d.keys('e')
        self.assertEqual(d.probe('window', 'Export', 10)[0], 0, 'no export dialog')
        self.assertEqual(self.export_numbers(), (1, frames, 1))
        d.keys('Down', 'Down')
        d.keys('Return')
        mkv = os.path.join(VIDEOS, 'whole.mkv')
        self.save_export_as(mkv)
        self.wait_for_export(mkv)
        self.assertEqual(video_stream(mkv), ('ffv1', 640, 480, frames))
        self.assertEqual(sorted(n for n in os.listdir(VIDEOS) if not n.endswith('.dk2')),
                         ['range.mp4', 'whole.mkv'])

    def test_offers_export_only_for_a_video_that_is_not_recording(self):
        d = self.desktop
        self.start_game()
        self.start_program()
        centre = self.video_point()
        x, y = centre.split()
        d.click_at(centre)
        # A new empty video has nothing to export.
        d.keys('ctrl+e')
        self.assertTrue(self.export_refused())

        d.click_control(IDC_RECORD)
        d.wait_for('the recording to start', lambda: d.text(IDC_RECORD) == 'Stop Recording')
        d.wait_for('frames', lambda: self.frames_in_title() >= 5)
        d.click_at(centre)
        d.keys('ctrl+e')
        self.assertTrue(self.export_refused(), 'Ctrl+E exported while recording')
        # Both menus grey Export... and refuse it.
        subprocess.run(['xdotool', 'mousemove', x, y, 'click', '3'], env=d.env, check=True,
                       timeout=10)
        context_greyed = self.menu_text_lines('export-menu-recording.png')
        d.keys('e')
        self.assertTrue(self.export_refused(), 'the context menu exported while recording')
        if d.probe('menu', 0)[0] == 0:
            self.close_menu()
        self.assertEqual(d.probe('sysmenu')[0], 0)
        system_greyed = self.menu_text_lines('export-system-menu-recording.png')
        d.keys('e')
        self.assertTrue(self.export_refused(), 'the system menu exported while recording')
        if d.probe('menu', 0)[0] == 0:
            self.close_menu()

        d.click_control(IDC_RECORD)
        d.wait_for('the recording to stop', lambda: d.text(IDC_RECORD) == 'Start Recording')
        # Now each menu has two lines of black text more: Export... and
        # Record Sound.
        subprocess.run(['xdotool', 'mousemove', x, y, 'click', '3'], env=d.env, check=True,
                       timeout=10)
        self.assertEqual(self.menu_text_lines('export-menu.png'), context_greyed + 2)
        self.close_menu()
        self.assertEqual(d.probe('sysmenu')[0], 0)
        self.assertEqual(self.menu_text_lines('export-system-menu.png'), system_greyed + 2)
        d.keys('e')
        self.assertEqual(d.probe('window', 'Export', 10)[0], 0, 'the system menu did not export')
        # Cancelled, the dialog asks for no file.
        status, cancel = d.probe('item', 'Export', IDCANCEL, 5)
        self.assertEqual(status, 0)
        d.click_at(cancel)
        d.wait_for('the export dialog to close', lambda: d.probe('window', 'Export', 0)[0] != 0)
        self.assertNotEqual(d.probe('window', 'Save As', 1)[0], 0)

    def test_cancel_in_the_progress_window_leaves_no_file(self):
        d = self.desktop
        path = os.path.join(VIDEOS, 'long.dk2')
        self.record_demo(path, frames=40)
        locales = russian_locale()
        for language in ('en', 'ru'):
            with self.subTest(language=language):
                russian = language == 'ru'
                if russian and locales is None:
                    self.skipTest('localedef could not make a Russian locale')
                env = dict(d.env, LANG='ru_RU.UTF-8', LOCPATH=locales) if russian else None
                app = self.start_program(windows_path(path), env=env)
                d.click_at(self.video_point())
                d.keys('ctrl+e')
                title = 'Экспорт' if russian else 'Export'
                self.check_export_texts(title, russian)
                d.screenshot(f'export-{language}.png')
                # Lossless and four times as large: about a second a frame
                # under Wine, long enough to cancel.
                d.keys('Down', 'Down', 'Tab', 'Tab', 'Tab')
                d.type('4')
                d.keys('Return')
                target = os.path.join(VIDEOS, f'cancelled-{language}.mkv')
                self.save_export_as(target, russian)
                status, _ = d.probe('window', 'TrellonHD', 20)
                self.assertEqual(status, 0, 'no progress window')
                controls = self.export_controls('TrellonHD')
                self.assertEqual(controls[IDCANCEL], ['Отмена' if russian else 'Cancel'])
                d.screenshot(f'export-progress-{language}.png')
                status, cancel = d.probe('item', 'TrellonHD', IDCANCEL, 5)
                d.click_at(cancel)
                d.wait_for('the export to stop', lambda: d.probe('window', 'TrellonHD', 0)[0] != 0
                           and d.probe('enabled', 0) == (0, '1'), seconds=30)
                # No error is shown, and nothing is left beside the target.
                self.assertEqual(d.probe('window', 'Error', 1)[0], 1)
                self.assertEqual([n for n in os.listdir(VIDEOS) if n.startswith('cancelled-')], [])
                self.close_program(app)

    def test_offers_the_sound_switches_in_both_menus_and_languages(self):
        d = self.desktop
        self.start_game()
        app = self.start_program()
        # The context menu: Export... (greyed: nothing to export), Record
        # Sound (on), Mute Sound, About; the system menu ends with them.
        # Greyed items draw no black text.
        self.assertEqual(self.sound_marks('context', 'sound-menu-en.png'), [True, False, False])
        self.assertEqual(self.sound_marks('system', 'sound-system-menu-en.png')[-3:],
                         [True, False, False])
        # Mute Sound's access key mutes; the check follows in both menus.
        self.open_context_menu()
        d.keys('m')
        d.wait_for('the menu to close', lambda: d.probe('menu', 0)[0] != 0)
        self.assertEqual(self.sound_marks('context', 'sound-menu-muted.png'), [True, True, False])
        self.assertEqual(self.sound_marks('system', 'sound-system-menu-muted.png')[-3:],
                         [True, True, False])
        # M in the window unmutes, and again mutes.
        self.focus_program()
        d.keys('m')
        self.assertEqual(self.sound_marks('context', 'sound-menu-unmuted.png'),
                         [True, False, False])
        self.focus_program()
        d.keys('m')
        self.assertEqual(self.sound_marks('system', 'sound-system-menu-muted-again.png')[-3:],
                         [True, True, False])
        # So does M in the detached window.
        d.click_control(IDC_DETACH)
        status, view = d.probe('window', 'Resizable View TrellonHD', 10)
        self.assertEqual(status, 0, 'no detached window')
        d.click_at(view)
        d.keys('m')
        self.assertEqual(self.sound_marks('context', 'sound-menu-unmuted-detached.png'),
                         [True, False, False])
        d.click_at(view)
        d.keys('m')
        self.assertEqual(self.sound_marks('context', 'sound-menu-muted-detached.png'),
                         [True, True, False])

        # While recording Record Sound is greyed in both menus, Mute Sound not.
        d.click_control(IDC_RECORD)
        d.wait_for('the recording to start', lambda: d.text(IDC_RECORD) == 'Stop Recording')
        self.assertEqual(self.sound_marks('context', 'sound-menu-recording.png'), [True, False])
        self.assertEqual(self.sound_marks('system', 'sound-system-menu-recording.png')[-2:],
                         [True, False])
        d.click_control(IDC_RECORD)
        self.dismiss_sound_notice()
        d.wait_for('the recording to stop', lambda: d.text(IDC_RECORD) == 'Start Recording')
        # With a video Export... is black too; Record Sound's access key
        # turns it off for the next recording.
        self.open_context_menu()
        d.keys('s')
        d.wait_for('the menu to close', lambda: d.probe('menu', 0)[0] != 0)
        self.assertEqual(self.sound_marks('context', 'sound-menu-no-sound.png'),
                         [False, False, True, False])
        self.assertEqual(self.sound_marks('system', 'sound-system-menu-no-sound.png')[-3:],
                         [False, True, False])
        # The recording is not saved: the program is ended, not asked.
        self.end_program(app)

        locales = russian_locale()
        if locales is None:
            self.skipTest('localedef could not make a Russian locale')
        app = self.start_program(env=dict(d.env, LANG='ru_RU.UTF-8', LOCPATH=locales))
        self.assertEqual(self.sound_marks('context', 'sound-menu-ru.png'), [True, False, False])
        self.assertEqual(self.sound_marks('system', 'sound-system-menu-ru.png')[-3:],
                         [True, False, False])
        self.close_program(app)

    def test_shows_a_larger_video_in_a_window_of_its_size(self):
        d = self.desktop
        path = os.path.join(VIDEOS, 'big.dk2')
        game = self.start_game('--size', '800x600')
        app = self.start_program()
        d.wait_for('the game', lambda: d.run('trellonhd.exe', '--toggle-recording').returncode == 0)
        d.wait_for('frames', lambda: self.frames_in_title() >= 5)
        result = d.run('trellonhd.exe', '--save', windows_path(path))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.close_program(app)
        self.end(game)

        frames = verify(d, path)
        app = self.start_program(windows_path(path))
        # 800 x 600 pixels do not fit the dialog's video area: the detached
        # window opens with a client area of the picture's size.
        self.assertEqual(d.probe('client', 'Resizable View TrellonHD', 10), (0, '800 600'))
        d.wait_for('the first frame', lambda: d.text(IDC_FRAME_TEXT) == f'Frame 1/{frames}')
        self.close_program(app)


def main():
    """Runs the cases, then once more those that failed, on a desktop of
    their own: a key or click that a busy X server, window manager or Wine
    lets go astray fails one try, a fault of the program every try. A case
    whose program ended by itself is not tried again. Arguments name cases
    as for unittest."""
    loader = unittest.TestLoader()
    names = sys.argv[1:]
    suite = (loader.loadTestsFromNames(names, sys.modules[__name__]) if names
             else loader.loadTestsFromTestCase(Win32App))
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    if result.wasSuccessful():
        return 0
    failed = list(dict.fromkeys(test.id() for test, _ in result.failures + result.errors))
    # Only whole cases are tried again, not a desktop that would not start.
    again = [name for name in failed if name.startswith('__main__.Win32App.test_') and
             name not in Win32App.ended_by_itself]
    if not again or len(again) < len(failed):
        print('not tried again: ' + ', '.join(n for n in failed if n not in again), flush=True)
        return 1
    print(f'\n== the {len(again)} failed case(s) once more: ' + ', '.join(again), flush=True)
    retried = unittest.TextTestRunner(verbosity=2).run(
        loader.loadTestsFromNames([name.removeprefix('__main__.') for name in again],
                                  sys.modules[__name__]))
    return 0 if retried.wasSuccessful() else 1


if __name__ == '__main__':
    sys.exit(main())
