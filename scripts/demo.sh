#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The README's run command: the whole edit cycle on the bundled sample disc.
#   1. installs what building the command line needs (and ImageMagick and libbluray for steps 3 and 5),
#      builds only `veld` (no tests, no benchmarks, no window) into build/demo;
#   2. extracts the menu pictures of examples/sample-disc into a temporary folder;
#   3. underlines PLAY on the button's picture with ImageMagick, in the colour of its letters;
#   4. replaces: rebuilds the menu, remultiplexes the clip, and copies the new files into a copy of the
#      disc;
#   5. lets libbluray (a real player library) open the new disc and draw its menu.
# The temporary folder is removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --demo

build=build/demo
veld=$build/src/cli/veld
work=$(mktemp -d "${TMPDIR:-/tmp}/veld-demo.XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "== Building veld into $build"
if ! cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF -DVELD_BENCH=OFF \
    -DVELD_GUI=OFF >"$work/configure.log" 2>&1; then
  cat "$work/configure.log" >&2
  echo "demo: configuring the build failed (CMake's output above)" >&2
  exit 1
fi
cmake --build "$build" -j "$(nproc)" --target veld_cli
# The libbluray checker of the test suite, a small C program.
cc -O2 -o "$build/veld_bdcheck" tests/fixtures/bdcheck.c $(pkg-config --cflags --libs libbluray libpng) -lm
"$veld" --version

echo
echo "== 1. Extract"
echo "\$ veld extract examples/sample-disc/BDMV $work"
"$veld" extract examples/sample-disc/BDMV "$work"
images=$work/VELD/Images
echo "The pictures: Images/<clip>/<PID>/Epoch<e>/DS<d>/<object id + 1>.gif, and the marker VELD.rip"
(cd "$images" && find . -name '*.gif' | sort | head -n 6 | sed 's|^\./|  |')
echo "  ... $(find "$images" -name '*.gif' | wc -l) pictures in all"

echo
echo "== 2. Edit one picture (as an image editor would: ImageMagick writes a palette of its own)"
picture=$images/00000/5120/Epoch1/DS1/0002.gif
colour=$(convert "$picture" -format '%[pixel:p{155,40}]' info:)  # the colour of the letters
echo "\$ convert 0002.gif -fill '$colour' -draw 'rectangle 150,58 250,61' 0002.gif   # underline PLAY"
convert "$picture" -fill "$colour" -draw 'rectangle 150,58 250,61' "gif:$picture.new"
mv "$picture.new" "$picture"
touch -d '+2 seconds' "$picture"  # edited after the extraction, even within the same second

echo
echo "== 3. Replace, and copy the new files into a copy of the disc"
cp -r examples/sample-disc "$work/disc"
echo "\$ veld replace $work/disc/BDMV $work/VELD --copy-back"
"$veld" replace "$work/disc/BDMV" "$work/VELD" --copy-back
echo "New files in $work/VELD/Stream (and now in the disc's STREAM, CLIPINF, PLAYLIST and BACKUP):"
(cd "$work/VELD/Stream" && ls -l | tail -n +2 | awk '{printf "  %-12s %9d bytes\n", $9, $5}')

echo
echo "== 4. libbluray opens the new disc and draws its menu"
"$build/veld_bdcheck" "$work/disc" --read --titles 1 --playlists 00000,00001 --ig-streams 0:1 --menu 8 2>&1 |
  grep -v '^bdcheck: libbluray'

echo
echo "The temporary folder $work is removed now. To keep the pictures, run"
echo "  $veld extract examples/sample-disc/BDMV ~/veld-work"
echo "To put veld on your PATH (see README.md): sudo cmake --install $build"
