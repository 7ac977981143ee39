#!/usr/bin/env bash
# Installs a build tree into a scratch folder as `cmake --install` would for
# /usr/local, and checks that everything a desktop needs landed where the
# freedesktop rules look for it and that the installed programs run.
#   tests/install/check_install.sh BUILD_DIR
set -euo pipefail
build=$1
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

DESTDIR="$stage" cmake --install "$build" --prefix /usr/local >/dev/null
root="$stage/usr/local"

fail() { echo "install: $*" >&2; exit 1; }
for file in bin/trellonhd bin/trellon \
            share/applications/trellonhd.desktop share/mime/packages/trellonhd.xml \
            share/trellonhd/font1.bmp share/trellonhd/font2.bmp share/trellonhd/units.bmp \
            share/man/man1/trellon.1.gz share/man/man1/trellonhd.1.gz \
            share/doc/trellonhd/changelog.gz share/doc/trellonhd/copyright; do
  [ -f "$root/$file" ] || fail "$file is missing"
done
for size in 16 32 48 64 128 256; do
  [ -f "$root/share/icons/hicolor/${size}x${size}/apps/trellonhd.png" ] ||
    fail "the ${size}x${size} icon is missing"
done

# The menu entry starts the installed program with the file it was given.
grep -qx 'Exec=trellonhd %f' "$root/share/applications/trellonhd.desktop" ||
  fail "the desktop entry does not start trellonhd with a file"
grep -q 'MimeType=application/x-trellon-video;' "$root/share/applications/trellonhd.desktop" ||
  fail "the desktop entry does not claim .dk2 files"

# Both programs answer without a display.
version=$(env -u DISPLAY "$root/bin/trellonhd" --version)
[[ $version == "trellonhd "* ]] || fail "trellonhd --version said: $version"
env -u DISPLAY "$root/bin/trellonhd" --help | grep -q 'Usage: trellonhd' ||
  fail "trellonhd --help printed no usage"
"$root/bin/trellon" --version >/dev/null || fail "trellon --version failed"

# The manual pages are whole: each holds every option its --help names.
for program in trellon trellonhd; do
  page=$(zcat "$root/share/man/man1/$program.1.gz")
  for option in $(env -u DISPLAY "$root/bin/$program" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
    grep -qF -- "${option//-/\\-}" <<<"$page" || fail "$program.1 lacks $option"
  done
done

# The MIME database built from the package knows .dk2 files by name and by
# their first bytes.
if command -v update-mime-database >/dev/null; then
  update-mime-database "$root/share/mime" >/dev/null 2>&1
  grep -q 'application/x-trellon-video' "$root/share/mime/globs2" ||
    fail "the MIME database has no glob for .dk2"
  grep -q 'application/x-trellon-video' "$root/share/mime/types" ||
    fail "the MIME database does not list the type"
fi
echo "install: all files in place"
