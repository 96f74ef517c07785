#!/usr/bin/env bash
# Builds the Debian package from the build that test.sh made (build/, or
# $VANTOR_BUILD_DIR), unpacks it into a temporary root and runs the installed
# programs from there: `vantor --version`, `tarn --version`, and
# `vantor --screenshot` under a virtual display with the installed question
# table read-only, which makes the game copy it into the user's data
# directory first. Prints the package's dependencies and file list.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VANTOR_BUILD_DIR:-$root/build}
bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh" --target vantor --target tarn-cli

out="$build/package"
rm -rf "$out"
(cd "$build" && cpack -G DEB -B "$out" >/dev/null)
deb=$(ls "$out"/vantor_*.deb)
echo "package: $deb"
dpkg-deb --field "$deb" Depends | sed 's/^/package: depends: /'
dpkg-deb --contents "$deb" | sed -E 's/^([^ ]+ +){5}/package: file: /'

tmp=$(mktemp -d)
trap 'chmod -R u+w "$tmp"; rm -rf "$tmp"' EXIT
dpkg-deb -x "$deb" "$tmp/root"
bin=$tmp/root/usr/bin
data=$tmp/root/usr/share/vantor
fail() { echo "package-test: $*" >&2; exit 1; }

"$bin/vantor" --version | grep -q "Vantor 3.1" || fail "vantor --version"
"$bin/tarn" --version | grep -q "tarn 3.1" || fail "tarn --version"
[ -f "$tmp/root/usr/share/applications/vantor.desktop" ] || fail "no desktop entry"
[ -f "$tmp/root/usr/share/icons/hicolor/128x128/apps/vantor.png" ] || fail "no icon"
[ -f "$tmp/root/usr/share/man/man6/vantor.6.gz" ] || [ -f "$tmp/root/usr/share/man/man6/vantor.6" ] || fail "no vantor(6)"

# The installed table is read-only, as under /usr/share: the game plays from
# a copy in the user's data directory.
chmod a-w "$data"/velmorn2.*
mkdir -p "$tmp/home"
env -u XDG_DATA_HOME HOME="$tmp/home" QT_QPA_PLATFORM=xcb \
  xvfb-run -a "$bin/vantor" --screenshot "$tmp/shot.png" || fail "vantor --screenshot"
[ -s "$tmp/shot.png" ] || fail "no screenshot"
copy=$tmp/home/.local/share/vantor
[ -f "$copy/velmorn2.DAT" ] || fail "the read-only table was not copied to $copy"
"$bin/tarn" verify --password tamsin "$copy" >/dev/null || fail "the copied table does not verify"
"$bin/tarn" verify --password tamsin "$data" >/dev/null || fail "the installed table does not verify"
echo "package-test: vantor --version, tarn --version and vantor --screenshot ran from the installed paths"
