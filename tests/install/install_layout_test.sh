#!/usr/bin/env bash
# Installs the build under a scratch DESTDIR with the prefix /opt/workbench, checks every
# file's place and the desktop entries, then makes a looping video with the installed
# quiltbench from a folder where only the installed template can be found.
set -euo pipefail
build=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix=/opt/workbench
root="$scratch/stage$prefix"
DESTDIR="$scratch/stage" cmake --install "$build" --prefix "$prefix" >/dev/null

fail() { echo "install_layout: $*" >&2; exit 1; }
for program in quiltbench patchloom arrowmap; do
  [ -x "$root/bin/$program" ] || fail "bin/$program is missing"
  entry="$root/share/applications/$program.desktop"
  [ -f "$entry" ] || fail "$entry is missing"
  grep -qx "Exec=$prefix/bin/$program" "$entry" || fail "$entry: wrong Exec"
  grep -qx "Categories=Graphics;" "$entry" || fail "$entry: wrong Categories"
  grep -q "^Name=." "$entry" || fail "$entry: no Name"
  grep -q "^Comment=." "$entry" || fail "$entry: no Comment"
done
[ -f "$root/Mpeg2Enc/_MPEG.par" ] || fail "Mpeg2Enc/_MPEG.par is missing"

# A working folder two levels down keeps "../Mpeg2Enc" away from every template but the
# installed one.
work="$scratch/a/b"
mkdir -p "$work"
cd "$work"
ffmpeg -nostdin -hide_banner -loglevel error -f lavfi -i testsrc=size=64x48:rate=25 \
  -frames:v 24 -c:v mpeg2video -q:v 2 -f mpeg2video -y clip.mpg
WORKBENCH_DRIVE_C="$work" "$root/bin/quiltbench" video clip.mpg -o loop.mpg --no-view \
  >out.txt 2>err.txt || fail "installed quiltbench video failed: $(cat out.txt err.txt)"
[ -s loop.mpg ] || fail "no looping video written"
echo "install_layout: ok"
