#!/usr/bin/env bash
# Checks the desktop-integration files: the menu entry, the MIME package and
# the committed icons. The validators are optional on a developer machine, so
# each is skipped (with a note) when it is missing; the icon check needs only
# python3.
set -euo pipefail

if [[ $# -ne 1 ]]; then
    echo "usage: $0 REPO_ROOT" >&2
    exit 2
fi
root=$1
desktop=$root/data/trellonhd.desktop
mime=$root/data/trellonhd-mime.xml

for file in "$desktop" "$mime"; do
    if [[ ! -f $file ]]; then
        echo "FAIL: $file is missing" >&2
        exit 1
    fi
done

if command -v desktop-file-validate >/dev/null; then
    # It prints hints and still exits 0; only errors make it fail.
    if ! desktop-file-validate "$desktop"; then
        echo "FAIL: desktop-file-validate rejects $desktop" >&2
        exit 1
    fi
else
    echo "note: desktop-file-validate not found, $desktop not validated"
fi

if command -v xmllint >/dev/null; then
    if ! xmllint --noout "$mime"; then
        echo "FAIL: $mime is not well-formed XML" >&2
        exit 1
    fi
else
    echo "note: xmllint not found, $mime not checked"
fi

# Only the PNG header is read: the size has to match the name, since the
# install rules put each file under NxN/apps, and the colour type has to be
# 3 (palette), which is what trellon-icon writes.
python3 - "$root/assets/icons" <<'PY'
import struct
import sys

folder = sys.argv[1]
failures = []
for size in (16, 32, 48, 64, 128, 256):
    path = f"{folder}/trellonhd-{size}.png"
    try:
        with open(path, "rb") as f:
            head = f.read(33)
    except OSError as error:
        failures.append(f"{path}: {error.strerror}")
        continue
    if len(head) < 33 or head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        failures.append(f"{path}: not a PNG file")
        continue
    width, height, depth, colour_type = struct.unpack(">IIBB", head[16:26])
    if (width, height) != (size, size):
        failures.append(f"{path}: {width}x{height}, expected {size}x{size}")
    if colour_type != 3 or depth != 8:
        failures.append(f"{path}: colour type {colour_type}, depth {depth}; expected 8-bit palette (3)")
for failure in failures:
    print(f"FAIL: {failure}", file=sys.stderr)
sys.exit(1 if failures else 0)
PY

echo "desktop files OK"
