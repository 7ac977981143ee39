#!/usr/bin/env python3
"""Checks the rules of the tree that the compiler alone does not: every
include names its header's path from the top of the tree, a library's
private/ headers are reached only from that library and its tests, and no
product code takes anything from tools/ or tests/.

Usage: check_layout.py SOURCE_DIR. Prints every breach and exits 1 when
there is one."""
import os
import re
import sys

PRODUCT = ['base', 'video', 'sound', 'drawing', 'process', 'desktop', 'capture', 'manager', 'export',
           'ui', 'cli']
TOOL_LIBRARIES = ['trellon_corpus', 'trellon_gamesim_scene', 'trellon_gamesim_launch',
                  'trellon_peimage', 'trellon_test_support']
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def sources(root):
    for folder, dirs, files in os.walk(root):
        dirs[:] = [d for d in dirs if not d.startswith('.') and d != 'build']
        for name in files:
            if name.endswith(('.cpp', '.h', '.c', '.rc')):
                yield os.path.relpath(os.path.join(folder, name), root)


def library_of(path):
    """The library folder holding `path` ('video', 'ui/qt', ...), or None."""
    parts = path.split('/')
    if parts[0] == 'ui' and len(parts) > 2:
        return '/'.join(parts[:2])
    return parts[0] if parts[0] in PRODUCT else None


def check(root):
    breaches = []
    for path in sources(root):
        text = open(os.path.join(root, path), encoding='utf-8', errors='replace').read()
        here = os.path.dirname(path)
        product = path.split('/')[0] in PRODUCT
        for name in INCLUDE.findall(text):
            if name.endswith('.moc') or name == 'ui/win32/TrellonVersion.h':
                continue  # made by the build
            if '/private/' in name:
                breaches.append(f'{path}: includes "{name}": a private header is "private/X.h", '
                                'from its own library')
            elif name.startswith('private/'):
                owners = [lib for lib in PRODUCT + ['ui/core', 'ui/qt', 'ui/win32']
                          if os.path.exists(os.path.join(root, lib, name))]
                lib = library_of(path)
                tested = path.startswith('tests/') and any(
                    path.startswith(f'tests/{o.split("/")[-1]}/') for o in owners)
                if lib not in owners and not tested:
                    breaches.append(f'{path}: includes "{name}" of another library')
            elif '/' in name:
                if not os.path.exists(os.path.join(root, name)):
                    breaches.append(f'{path}: includes "{name}", which is no path in the tree')
                elif product and name.split('/')[0] in ('tools', 'tests'):
                    breaches.append(f'{path}: product code includes "{name}"')
            elif (product and library_of(path) is not None and not path.startswith('cli/')
                  and not here.endswith('/private')):
                breaches.append(f'{path}: includes "{name}" without its subsystem')
            elif not os.path.exists(os.path.join(root, here, name)):
                breaches.append(f'{path}: includes "{name}", which is not beside it')
    for folder in PRODUCT:
        for dirpath, _, files in os.walk(os.path.join(root, folder)):
            if 'CMakeLists.txt' in files:
                text = open(os.path.join(dirpath, 'CMakeLists.txt'), encoding='utf-8').read()
                for library in TOOL_LIBRARIES:
                    if re.search(r'\b' + library + r'\b', text):
                        rel = os.path.relpath(os.path.join(dirpath, 'CMakeLists.txt'), root)
                        breaches.append(f'{rel}: product code links {library} of tools/ or tests/')
    return breaches


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else '.'
    breaches = check(root)
    for breach in breaches:
        print(breach)
    print(f'layout: {len(breaches)} breach(es)')
    return 1 if breaches else 0


if __name__ == '__main__':
    sys.exit(main())
