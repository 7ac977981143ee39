#!/usr/bin/env python3
"""The Windows installer and the portable zip as users get them, under Wine.

  python3 tests/packaging/test_windows_packages.py --installer PATH --zip PATH
      [--e2e build/ci/bin/wine_e2e_tests] [unittest options]
  python3 tests/packaging/test_windows_packages.py --packages OUTDIR

scripts/package-windows makes the two files. Either may be left out, and its
tests are then skipped (and say so); for a file that was asked for, a tool
its tests need (wine64, unzip, objdump, localedef, the end-to-end test
program) being missing is a failure.

The installer is installed with /S into a fresh Wine prefix, first on an
English system (LANG=en_US.UTF-8), then on a Russian one (ru_RU.UTF-8),
each time removed again by the command its entry in the list of programs
names (QuietUninstallString). While it is installed, the test looks at its
files, runs trellon.exe --version from there, and reads the prefix's
registry (system.reg, as Wine writes it), the Start menu shortcut (as a
Shell Link file) and the language it spoke. After the uninstaller the
prefix's files and registry must be as before, but for a journal put into
%LOCALAPPDATA%\\TrellonHD in the meantime, which must stay.

The zip is unpacked with unzip. Its trellon.exe records its own gamesim.exe
(the WineWindowsCli tests of tests/e2e/WineE2eTest.cpp, pointed at the
unpacked folder by TRELLON_WINDOWS_FOLDER and at a fresh prefix by
TRELLON_WINE_PREFIX), and nothing is written into the prefix's users folder
but %LOCALAPPDATA%\\TrellonHD.

What Wine, the uninstaller's copy of itself and the demo game keep for a
while in the temporary folder or change in the registry is left out of the
comparisons, each with its reason (UNINSTALLER_COPY, DEMO_WRAPPER,
IGNORED_KEYS and IGNORED_VALUES below). Every Wine program gets HOME set to
an empty folder of the test's own, so that what Wine links from the prefix
to the home folder stays in view, and Wine's menu builder is switched off
in the prefix, which would turn the shortcut and the file type into desktop
entries in that home. The prefixes, homes and unpacked folders are made
under build/packaging-tests and removed afterwards; each prefix's own
wineserver is ended by its WINEPREFIX. The locales made with localedef stay
there for the next run.
"""
import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, '..', '..'))
WORK = os.path.join(ROOT, 'build', 'packaging-tests')
LOCALES = os.path.join(WORK, 'locale')
WINE = '/usr/lib/wine/wine64'
WINESERVER = '/usr/lib/wine/wineserver'
OBJDUMP = 'x86_64-w64-mingw32-objdump'

INSTALL_DIR = 'C:\\Program Files\\TrellonHD'
INSTALLED = ['README.txt', 'font1.bmp', 'font2.bmp', 'trellon.exe', 'trellonhd.exe',
             'uninstall.exe', 'units.bmp']
ZIPPED = ['README.txt', 'font1.bmp', 'font2.bmp', 'gamesim.exe', 'trellon.exe', 'trellonhd.exe',
          'units.bmp']
UNINSTALL_KEY = 'Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TrellonHD'
PROGID = 'TrellonHD.Video'

# Paths under drive_c (lower case, '/') left out of the comparisons, both in
# the temporary folder, which the system clears:
# - the uninstaller's copy of itself, which it runs from so that it can
#   delete the original, and asks Windows to delete at the next start;
UNINSTALLER_COPY = re.compile(r'^users/[^/]+/temp/~nsu[^/]*\.tmp(/|$)')
# - the demo game's folder for its ddraw.dll, which it removes as it ends:
#   the end-to-end tests end it by killing it.
DEMO_WRAPPER = re.compile(r'^users/[^/]+/temp/gamesim-[0-9]+(/|$)')
# Registry keys (lower case) that Wine rewrites by itself at the start of a
# session: its display driver registers the display adapters and monitors
# anew, with the time of the start.
IGNORED_KEYS = [
    re.compile(r'^system\\currentcontrolset\\control\\class\\'
               r'\{4d36e96[8e]-e325-11ce-bfc1-08002be10318\}(\\|$)'),
]
# Values (key and name, lower case) that are not the installer's to remove:
# the uninstaller runs from a copy of itself in the temporary folder, which
# it asks Windows to delete at the next start (MoveFileEx), and Windows
# clears the list then.
IGNORED_VALUES = [
    ('system\\currentcontrolset\\control\\session manager', 'pendingfilerenameoperations'),
]

ARGS = argparse.Namespace(installer=None, zip=None, e2e=None)


def project_version():
    """The version the top CMakeLists.txt gives the project."""
    with open(os.path.join(ROOT, 'CMakeLists.txt'), encoding='utf-8') as f:
        match = re.search(r'project\(TrellonHD VERSION ([0-9]+\.[0-9]+\.[0-9]+)', f.read())
    if not match:
        raise RuntimeError('no project(TrellonHD VERSION x.y.z) in CMakeLists.txt')
    return match.group(1)


def version_resource(path):
    """The file version numbers and the ProductVersion text of a Windows
    program's version resource; (None, None) for a program without one."""
    with open(path, 'rb') as f:
        data = f.read()
    at = data.find(struct.pack('<I', 0xFEEF04BD))  # VS_FIXEDFILEINFO's signature
    if at < 0:
        return None, None
    high, low = struct.unpack_from('<II', data, at + 8)
    numbers = (high >> 16, high & 0xffff, low >> 16, low & 0xffff)
    key = 'ProductVersion\0'.encode('utf-16-le')
    found = data.find(key, at)
    if found < 0:
        return numbers, None
    start = found + len(key)
    start += (4 - start % 4) % 4  # the value is aligned to 32 bits
    end = data.find(b'\0\0', start)
    while end >= 0 and (end - start) % 2:
        end = data.find(b'\0\0', end + 1)
    return numbers, data[start:end].decode('utf-16-le')


def need_tool(test, path):
    if shutil.which(path) is None:
        test.fail(f'{path} is missing (scripts/setup installs it)')


def make_locale(name):
    """The C library's locale `name` in LOCALES (LOCPATH): Wine takes the
    system's language from it, and the machine may have none generated."""
    target = os.path.join(LOCALES, name)
    if not os.path.isdir(target):
        os.makedirs(LOCALES, exist_ok=True)
        source = name.split('.')[0]
        result = subprocess.run(['localedef', '-i', source, '-f', 'UTF-8', target],
                                capture_output=True, text=True, timeout=120)
        if not os.path.isdir(target):
            raise RuntimeError(f'localedef could not make {name}: {result.stderr}')
    return LOCALES


class Prefix:
    """A fresh Wine prefix with a home folder of its own, made by wineboot,
    drawing on the X server DISPLAY names and on none without one, as the
    prefix of scripts/windows does."""

    def __init__(self, folder):
        self.path = os.path.join(folder, 'prefix')
        self.home = os.path.join(folder, 'home')
        os.makedirs(self.path)
        os.makedirs(self.home)
        status, output = self.run(['wineboot', '--init'], timeout=300)
        if status != 0:
            raise RuntimeError(f'wineboot --init failed in {self.path}: {output}')
        self.run(['reg', 'add', 'HKCU\\Software\\Wine\\Drivers', '/v', 'Graphics', '/d',
                  'x11,null', '/f'])
        # Wine runs its menu builder as every session starts, whatever the
        # environment of the program that starts it says.
        self.run(['reg', 'delete', 'HKLM\\Software\\Microsoft\\Windows\\CurrentVersion'
                  '\\RunServices', '/v', 'winemenubuilder', '/f'])
        self.wait()

    def env(self, lang='C.UTF-8', display=None):
        env = dict(os.environ)
        for name in ('LC_ALL', 'LC_MESSAGES', 'LANGUAGE', 'LOCPATH', 'DISPLAY'):
            env.pop(name, None)
        env.update(WINEPREFIX=self.path, HOME=self.home, WINEDEBUG='-all', LANG=lang,
                   WINEDLLOVERRIDES='mscoree,mshtml=;winemenubuilder.exe=d')
        if lang != 'C.UTF-8':
            env['LOCPATH'] = make_locale(lang)
        if display:
            env['DISPLAY'] = display
        return env

    def run(self, args, lang='C.UTF-8', timeout=120):
        """Runs a Wine program to its end: its exit status and output."""
        result = subprocess.run([WINE, *args], env=self.env(lang), stdin=subprocess.DEVNULL,
                                capture_output=True, timeout=timeout)
        return result.returncode, result.stdout.decode('utf-8', 'replace').replace('\r', '')

    def wait(self):
        """Waits until every program of the prefix has ended, and with them
        its wineserver, which has then written the registry files."""
        subprocess.run([WINESERVER, '-w'], env=self.env(), timeout=300)

    def close(self):
        subprocess.run([WINESERVER, '-k'], env=self.env(), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)
        subprocess.run([WINESERVER, '-w'], env=self.env(), timeout=60)

    def unix_path(self, windows):
        """The file of the prefix's C: drive at the Windows path `windows`."""
        assert windows[:3].upper() == 'C:\\', windows
        return os.path.join(self.path, 'drive_c', *windows[3:].split('\\'))

    def user_folder(self):
        users = [u for u in os.listdir(os.path.join(self.path, 'drive_c', 'users'))
                 if u.lower() != 'public']
        assert len(users) == 1, users
        return os.path.join(self.path, 'drive_c', 'users', users[0])

    def files(self, ignored=(), under=''):
        """Every file and folder of the C: drive, or of its folder `under`
        (links not followed), lower case, relative to the drive."""
        drive = os.path.join(self.path, 'drive_c')
        return listing(os.path.join(drive, under), ignored, drive)

    def registry(self):
        """The machine's and the user's keys, as Wine keeps them."""
        return {'HKLM': read_registry(os.path.join(self.path, 'system.reg')),
                'HKCU': read_registry(os.path.join(self.path, 'user.reg'))}


def listing(top, ignored=(), base=None):
    """Every file and folder below `top`, lower case, relative to `base`
    (by default `top`), but those an `ignored` pattern matches."""
    found = set()
    for folder, dirs, files in os.walk(top):
        for name in dirs + files:
            rel = os.path.relpath(os.path.join(folder, name), base or top)
            rel = rel.replace(os.sep, '/').lower()
            if not any(pattern.search(rel) for pattern in ignored):
                found.add(rel)
    return found


def unescape(text):
    """A string of Wine's registry files: \\\\, \\", \\n, \\r, \\t, \\0 and
    \\xXXXX (up to four hex digits) for what is not ASCII."""
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c != '\\' or i + 1 == len(text):
            out.append(c)
            i += 1
            continue
        e = text[i + 1]
        i += 2
        if e == 'x':
            digits = re.match(r'[0-9a-fA-F]{1,4}', text[i:]).group(0)
            out.append(chr(int(digits, 16)))
            i += len(digits)
        else:
            out.append({'n': '\n', 'r': '\r', 't': '\t', '0': '\0'}.get(e, e))
    return ''.join(out)


def read_registry(path):
    """Wine's .reg file at `path` as {key: {value name: value}}; a string
    value as str, a DWORD as int, anything else as its text in the file.
    The default value is named ''."""
    keys, current, pending = {}, None, ''
    with open(path, encoding='utf-8', errors='replace') as f:
        for raw in f:
            line = pending + raw.rstrip('\n')
            if line.endswith('\\') and current is not None and not line.startswith('['):
                pending = line[:-1]
                continue
            pending = ''
            if line.startswith('['):
                current = unescape(line[1:line.rindex(']')])
                keys[current] = {}
            elif current is not None and (line.startswith('"') or line.startswith('@')):
                if line.startswith('@'):
                    name, rest = '', line[2:]
                else:
                    match = re.match(r'"((?:[^"\\]|\\.)*)"=(.*)$', line)
                    name, rest = unescape(match.group(1)), match.group(2)
                if rest.startswith('"'):
                    keys[current][name] = unescape(rest[1:-1])
                elif rest.startswith('dword:'):
                    keys[current][name] = int(rest[6:], 16)
                else:
                    keys[current][name] = rest
    return keys


def significant(registry):
    """The keys and values of `registry` that are not Wine's own business."""
    return {(hive, key): {name: value for name, value in values.items()
                          if (key.lower(), name.lower()) not in IGNORED_VALUES}
            for hive, keys in registry.items() for key, values in keys.items()
            if not any(pattern.search(key.lower()) for pattern in IGNORED_KEYS)}


def read_shortcut(path):
    """A Shell Link (.lnk) file's target, description, working folder and
    icon: the parts of MS-SHLLINK this installer's shortcut uses."""
    with open(path, 'rb') as f:
        data = f.read()
    header_size, = struct.unpack_from('<I', data, 0)
    assert header_size == 0x4C, 'not a Shell Link file'
    flags, = struct.unpack_from('<I', data, 0x14)
    at = header_size
    target = None
    if flags & 0x01:  # HasLinkTargetIDList
        size, = struct.unpack_from('<H', data, at)
        at += 2 + size
    if flags & 0x02:  # HasLinkInfo
        size, header, info_flags, _, base = struct.unpack_from('<IIIII', data, at)
        if info_flags & 0x01:
            if header >= 0x24:
                unicode_base, = struct.unpack_from('<I', data, at + 0x1C)
                end = at + unicode_base
                while data[end:end + 2] != b'\0\0':
                    end += 2
                target = data[at + unicode_base:end].decode('utf-16-le')
            else:
                end = data.index(b'\0', at + base)
                target = data[at + base:end].decode('latin-1')
        at += size
    strings = {}
    unicode = bool(flags & 0x80)
    for bit, name in ((0x04, 'description'), (0x08, 'relative_path'), (0x10, 'working_dir'),
                      (0x20, 'arguments'), (0x40, 'icon')):
        if flags & bit:
            count, = struct.unpack_from('<H', data, at)
            at += 2
            length = count * 2 if unicode else count
            raw = data[at:at + length]
            # (Counted with the terminating zero by some writers.)
            strings[name] = raw.decode('utf-16-le' if unicode else 'latin-1').rstrip('\0')
            at += length
    strings['target'] = target
    return strings


class InstallerTest(unittest.TestCase):
    """The installer in a fresh prefix: installed, looked at and removed in
    English, then in Russian."""

    LANGUAGES = {'en': ('en_US.UTF-8', 1033), 'ru': ('ru_RU.UTF-8', 1049)}
    TEXTS = {'en': {'shortcut': 'Record and play the screen of Warcraft II',
                    'file type': 'TrellonHD video'},
             'ru': {'shortcut': 'Запись и просмотр экрана Warcraft II',
                    'file type': 'Видео TrellonHD'}}

    @classmethod
    def setUpClass(cls):
        if not ARGS.installer:
            raise unittest.SkipTest('no --installer given: the installer is not tested')
        cls.installer = os.path.abspath(ARGS.installer)
        cls.version = project_version()
        cls.runs = {}
        cls.folder = None
        cls.prefix = None
        if not os.path.isfile(cls.installer) or not os.access(WINE, os.X_OK):
            return  # the tests say what is missing
        os.makedirs(WORK, exist_ok=True)
        cls.folder = tempfile.mkdtemp(prefix='installer-', dir=WORK)
        try:
            cls.prefix = Prefix(cls.folder)
            for language in cls.LANGUAGES:
                cls.runs[language] = cls.install_and_remove(language)
        except BaseException:
            cls.tearDownClass()
            raise

    @classmethod
    def tearDownClass(cls):
        if cls.prefix:
            cls.prefix.close()
        if cls.folder:
            shutil.rmtree(cls.folder, ignore_errors=True)

    @classmethod
    def install_and_remove(cls, language):
        """Everything the tests look at, from one installation in `language`."""
        prefix, lang = cls.prefix, cls.LANGUAGES[language][0]
        run = {}
        # Wine sets the prefix up for the language of LANG (fonts, keyboard,
        # code pages) as a session starts: a program run first makes the
        # state to compare with the prefix's for this language.
        prefix.run(['cmd', '/c', 'exit'], lang)
        prefix.wait()
        run['before'] = (prefix.files([UNINSTALLER_COPY]), significant(prefix.registry()))
        home_before = listing(prefix.home)
        started = time.monotonic()
        run['install status'], run['install output'] = prefix.run([cls.installer, '/S'], lang,
                                                                   timeout=300)
        prefix.wait()
        run['install seconds'] = time.monotonic() - started

        folder = prefix.unix_path(INSTALL_DIR)
        run['files'] = sorted(os.listdir(folder)) if os.path.isdir(folder) else []
        run['sizes'] = sum(os.path.getsize(os.path.join(folder, name)) for name in run['files'])
        run['registry'] = prefix.registry()
        run['version status'], run['version output'] = prefix.run(
            [INSTALL_DIR + '\\trellon.exe', '--version'], lang)
        shortcut = prefix.unix_path('C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs'
                                    '\\TrellonHD.lnk')
        run['shortcut'] = read_shortcut(shortcut) if os.path.isfile(shortcut) else None
        prefix.wait()

        # A recording's journal, which is the user's and must stay.
        journals = os.path.join(prefix.user_folder(), 'AppData', 'Local', 'TrellonHD')
        os.makedirs(journals, exist_ok=True)
        journal = os.path.join(journals, 'recording-1700000000000-1.trj')
        with open(journal, 'wb') as f:
            f.write(b'a journal of the user')
        run['journal'] = {os.path.relpath(p, os.path.join(prefix.path, 'drive_c')).lower()
                          for p in (journals, journal)}

        quiet = run['registry']['HKLM'].get(UNINSTALL_KEY, {}).get('QuietUninstallString', '')
        match = re.fullmatch(r'"([^"]+)" (.*)', quiet)
        run['uninstall command'] = quiet
        if match:
            run['uninstall status'], run['uninstall output'] = prefix.run(
                [match.group(1), *match.group(2).split()], lang, timeout=300)
            # The uninstaller goes on from a copy of itself in the temporary
            # folder and returns at once: its end is the wineserver's.
            prefix.wait()
        run['after'] = (prefix.files([UNINSTALLER_COPY]), significant(prefix.registry()))
        run['journal kept'] = os.path.isfile(journal)
        run['home'] = (home_before, listing(prefix.home))
        shutil.rmtree(journals)
        return run

    def setUp(self):
        self.assertTrue(os.path.isfile(self.installer), f'{self.installer} is missing')
        self.assertTrue(os.access(WINE, os.X_OK), f'{WINE} is missing (scripts/setup: wine64)')

    def test_is_named_with_the_version_and_made_for_amd64(self):
        """The file is TrellonHD-VERSION-setup.exe, a PE32+ program for x86-64
        (which a 32-bit Windows refuses to start)."""
        self.assertEqual(os.path.basename(self.installer), f'TrellonHD-{self.version}-setup.exe')
        with open(self.installer, 'rb') as f:
            data = f.read(4096)
        pe, = struct.unpack_from('<I', data, 0x3C)
        self.assertEqual(data[pe:pe + 4], b'PE\0\0')
        machine, = struct.unpack_from('<H', data, pe + 4)
        magic, = struct.unpack_from('<H', data, pe + 24)
        self.assertEqual((machine, magic), (0x8664, 0x20B), 'not a 64-bit x86-64 program')

    def test_installs_the_programs_sheets_and_readme_into_program_files(self):
        """/S installs trellonhd.exe, trellon.exe, the three sheets, README.txt
        and the uninstaller into C:\\Program Files\\TrellonHD, not the demo
        game."""
        for language, run in self.runs.items():
            with self.subTest(language=language):
                self.assertEqual(run['install status'], 0, run['install output'])
                self.assertEqual(run['files'], INSTALLED)
                print(f'  {language}: installed in {run["install seconds"]:.1f} s: '
                      f'{", ".join(run["files"])}')

    def test_installed_trellon_prints_the_project_version(self):
        """trellon.exe --version, run from the installed folder, prints the
        project's version."""
        for language, run in self.runs.items():
            with self.subTest(language=language):
                self.assertEqual(run['version status'], 0, run['version output'])
                self.assertEqual(run['version output'].strip(), f'trellon {self.version}')

    def test_associates_dk2_files_with_trellonhd(self):
        """.dk2 names the ProgID TrellonHD.Video, whose icon is trellonhd.exe's
        first and whose open command passes the file to trellonhd.exe, in
        the 64-bit view of the registry."""
        exe = INSTALL_DIR + '\\trellonhd.exe'
        for language, run in self.runs.items():
            with self.subTest(language=language):
                hklm = run['registry']['HKLM']
                self.assertEqual(hklm.get('Software\\Classes\\.dk2', {}).get(''), PROGID)
                self.assertIn(PROGID, hklm.get('Software\\Classes\\.dk2\\OpenWithProgids', {}))
                self.assertEqual(hklm.get(f'Software\\Classes\\{PROGID}', {}).get(''),
                                 self.TEXTS[language]['file type'])
                self.assertEqual(
                    hklm.get(f'Software\\Classes\\{PROGID}\\DefaultIcon', {}).get(''), exe + ',0')
                self.assertEqual(
                    hklm.get(f'Software\\Classes\\{PROGID}\\shell\\open\\command', {}).get(''),
                    f'"{exe}" "%1"')
                self.assertFalse([k for k in hklm if k.lower().startswith('software\\wow6432node')
                                  and 'trellonhd' in k.lower()], 'keys in the 32-bit view')

    def test_registers_its_uninstaller_in_the_list_of_programs(self):
        """The Uninstall\\TrellonHD entry names the program, its version, its
        publisher, icon, folder and uninstaller, a size near that of the
        files, and no modify or repair."""
        for language, run in self.runs.items():
            with self.subTest(language=language):
                entry = run['registry']['HKLM'].get(UNINSTALL_KEY)
                self.assertIsNotNone(entry, 'no entry in the list of programs')
                uninstaller = f'"{INSTALL_DIR}\\uninstall.exe"'
                expected = {'DisplayName': 'TrellonHD', 'DisplayVersion': self.version,
                            'Publisher': 'TrellonHD',
                            'DisplayIcon': INSTALL_DIR + '\\trellonhd.exe,0',
                            'InstallLocation': INSTALL_DIR, 'UninstallString': uninstaller,
                            'QuietUninstallString': uninstaller + ' /S',
                            'NoModify': 1, 'NoRepair': 1}
                self.assertEqual({name: entry.get(name) for name in expected}, expected)
                self.assertIsInstance(entry.get('EstimatedSize'), int)
                self.assertAlmostEqual(entry['EstimatedSize'], run['sizes'] / 1024, delta=16,
                                       msg='EstimatedSize (KiB) is not the size of the files')
                wow = ('software\\wow6432node\\microsoft\\windows\\currentversion'
                       '\\uninstall\\trellonhd')
                self.assertFalse(any(k.lower().startswith(wow) for k in run['registry']['HKLM']),
                                 'an entry in the 32-bit view')

    def test_adds_a_start_menu_entry_for_all_users(self):
        """The Start menu of all users holds TrellonHD.lnk, which starts the
        installed trellonhd.exe in its folder with its icon."""
        exe = INSTALL_DIR + '\\trellonhd.exe'
        for language, run in self.runs.items():
            with self.subTest(language=language):
                shortcut = run['shortcut']
                self.assertIsNotNone(shortcut, 'no TrellonHD.lnk in the Start menu of all users')
                self.assertEqual(shortcut['target'].lower(), exe.lower())
                self.assertEqual(shortcut.get('working_dir', '').lower(), INSTALL_DIR.lower())
                self.assertEqual(shortcut.get('icon', '').lower(), exe.lower())

    def test_speaks_the_language_of_the_system(self):
        """The installer keeps the language it spoke for its uninstaller
        (1033 English, 1049 Russian) and names the shortcut and the file
        type in it."""
        for language, run in self.runs.items():
            with self.subTest(language=language):
                entry = run['registry']['HKLM'].get(UNINSTALL_KEY, {})
                self.assertEqual(entry.get('NSIS:Language'), str(self.LANGUAGES[language][1]))
                self.assertEqual((run['shortcut'] or {}).get('description'),
                                 self.TEXTS[language]['shortcut'])

    def test_uninstaller_removes_all_it_made_and_leaves_the_journal(self):
        """The uninstaller (its QuietUninstallString) takes away every file,
        folder, shortcut and key the installer made, and nothing else: the
        prefix is as before but for the user's journal folder, which stays."""
        for language, run in self.runs.items():
            with self.subTest(language=language):
                self.assertEqual(run.get('uninstall status'), 0,
                                 f'{run["uninstall command"]}: {run.get("uninstall output")}')
                files_before, keys_before = run['before']
                files_after, keys_after = run['after']
                self.assertEqual(sorted(files_after - files_before), sorted(run['journal']))
                self.assertEqual(sorted(files_before - files_after), [])
                self.assertTrue(run['journal kept'])
                added = sorted(set(keys_after) - set(keys_before))
                removed = sorted(set(keys_before) - set(keys_after))
                changed = sorted(k for k in set(keys_before) & set(keys_after)
                                 if keys_before[k] != keys_after[k])
                self.assertEqual((added, removed, changed), ([], [], []))

    def test_writes_nothing_into_the_home_folder(self):
        """Installing and uninstalling leave the Unix home folder as it was
        (no desktop entries, no caches)."""
        for language, run in self.runs.items():
            with self.subTest(language=language):
                before, after = run['home']
                self.assertEqual(sorted(after - before), [])


class ZipTest(unittest.TestCase):
    """The portable zip, unpacked and used where it was unpacked."""

    @classmethod
    def setUpClass(cls):
        if not ARGS.zip:
            raise unittest.SkipTest('no --zip given: the portable zip is not tested')
        cls.zip = os.path.abspath(ARGS.zip)
        cls.version = project_version()
        cls.root = f'TrellonHD-{cls.version}'
        os.makedirs(WORK, exist_ok=True)
        cls.folder = tempfile.mkdtemp(prefix='zip-', dir=WORK)
        cls.unpacked = os.path.join(cls.folder, 'unpacked')
        cls.unzip = None
        if os.path.isfile(cls.zip) and shutil.which('unzip'):
            cls.unzip = subprocess.run(['unzip', '-q', cls.zip, '-d', cls.unpacked],
                                       capture_output=True, text=True, timeout=120)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder, ignore_errors=True)

    def setUp(self):
        self.assertTrue(os.path.isfile(self.zip), f'{self.zip} is missing')
        need_tool(self, 'unzip')
        self.assertEqual(self.unzip.returncode, 0, self.unzip.stderr)
        self.programs = os.path.join(self.unpacked, self.root)

    def test_is_named_with_the_version_and_unpacks_into_one_folder(self):
        """TrellonHD-VERSION-win64.zip unpacks into TrellonHD-VERSION/ alone:
        the programs, the demo game, the sheets and README.txt."""
        self.assertEqual(os.path.basename(self.zip), f'TrellonHD-{self.version}-win64.zip')
        self.assertEqual(os.listdir(self.unpacked), [self.root])
        self.assertEqual(sorted(os.listdir(self.programs)), ZIPPED)
        # unzip's own listing agrees, folder entries aside.
        listed = subprocess.run(['unzip', '-Z1', self.zip], capture_output=True, text=True,
                                check=True).stdout.split()
        self.assertEqual(sorted(n for n in listed if not n.endswith('/')),
                         [f'{self.root}/{n}' for n in ZIPPED])
        with zipfile.ZipFile(self.zip) as archive:
            self.assertIsNone(archive.testzip())

    def test_readme_has_windows_line_ends_and_the_version(self):
        """README.txt ends its lines in CR LF and names the version."""
        with open(os.path.join(self.programs, 'README.txt'), 'rb') as f:
            data = f.read()
        self.assertEqual(data.count(b'\n'), data.count(b'\r\n'))
        self.assertGreater(data.count(b'\r\n'), 50)
        text = data.decode('utf-8')
        self.assertIn(f'Version {self.version}.', text)
        self.assertNotIn('@', text.replace('%USERPROFILE%', ''), 'a placeholder left')

    def test_programs_are_stripped_64_bit_windows_programs(self):
        """Every program is a PE32+ x86-64 program (objdump) without the
        build's debug information."""
        need_tool(self, OBJDUMP)
        for name in ('trellonhd.exe', 'trellon.exe', 'gamesim.exe'):
            with self.subTest(program=name):
                out = subprocess.run([OBJDUMP, '-h', os.path.join(self.programs, name)],
                                     capture_output=True, text=True, check=True).stdout
                self.assertIn('file format pei-x86-64', out)
                self.assertNotIn('.debug_info', out)

    def test_every_program_carries_the_project_version(self):
        """Each program's version resource (what Explorer's Properties show)
        holds the project's version, as numbers and as text."""
        expected = tuple(int(n) for n in self.version.split('.')) + (0,)
        for name in ('trellonhd.exe', 'trellon.exe', 'gamesim.exe'):
            with self.subTest(program=name):
                numbers, text = version_resource(os.path.join(self.programs, name))
                self.assertEqual(numbers, expected, f'{name} has no version resource')
                self.assertEqual(text, self.version)

    def test_trellon_records_the_demo_game_and_writes_only_its_journal(self):
        """The unpacked trellon.exe records the unpacked gamesim.exe under Wine
        (the WineWindowsCli end-to-end tests, in a fresh prefix), and writes
        nothing into the prefix's users folder but %LOCALAPPDATA%\\TrellonHD."""
        self.assertTrue(os.access(WINE, os.X_OK), f'{WINE} is missing (scripts/setup: wine64)')
        e2e = os.path.abspath(ARGS.e2e)
        self.assertTrue(os.access(e2e, os.X_OK),
                        f'{e2e} is missing: cmake --preset ci-wine && cmake --build --preset '
                        'ci-wine builds it')
        prefix = Prefix(os.path.join(self.folder, 'wine'))
        try:
            code, version = prefix.run([os.path.join(self.programs, 'trellon.exe'), '--version'])
            self.assertEqual((code, version.strip()), (0, f'trellon {self.version}'))
            prefix.wait()
            users_before = prefix.files([DEMO_WRAPPER], 'users')
            home_before = listing(prefix.home)
            env = prefix.env()
            env.update(TRELLON_WINDOWS_FOLDER=self.programs, TRELLON_WINE_PREFIX=prefix.path)
            started = time.monotonic()
            result = subprocess.run([e2e, '--gtest_filter=AllKinds/WineWindowsCli.*'], env=env,
                                    stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                    timeout=900)
            print(f'  WineWindowsCli from the zip: {time.monotonic() - started:.0f} s, '
                  + (re.findall(r'\[  PASSED  \] .*', result.stdout) or ['not passed'])[0])
            self.assertEqual(result.returncode, 0, result.stdout[-6000:] + result.stderr[-2000:])
            self.assertIn('[  PASSED  ] 8 tests', result.stdout)
            prefix.wait()
            user = os.path.basename(prefix.user_folder()).lower()
            journal = f'users/{user}/appdata/local/trellonhd'
            written = sorted(p for p in prefix.files([DEMO_WRAPPER], 'users') - users_before
                             if p != journal and not p.startswith(journal + '/'))
            self.assertEqual(written, [])
            self.assertEqual(sorted(listing(prefix.home) - home_before), [])
        finally:
            prefix.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('--installer', help='TrellonHD-VERSION-setup.exe')
    parser.add_argument('--zip', help='TrellonHD-VERSION-win64.zip')
    parser.add_argument('--packages', metavar='DIR',
                        help="both files of the project's version in DIR "
                             '(scripts/package-windows DIR)')
    parser.add_argument('--e2e', default=os.path.join(ROOT, 'build', 'ci', 'bin', 'wine_e2e_tests'),
                        help='the end-to-end test program of the ci-wine build')
    args, rest = parser.parse_known_args()
    if args.packages:
        version = project_version()
        args.installer = os.path.join(args.packages, f'TrellonHD-{version}-setup.exe')
        args.zip = os.path.join(args.packages, f'TrellonHD-{version}-win64.zip')
    if not args.installer and not args.zip:
        parser.error('give --installer, --zip or both')
    ARGS.installer, ARGS.zip, ARGS.e2e = args.installer, args.zip, args.e2e
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == '__main__':
    main()
