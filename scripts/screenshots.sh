#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Takes the README's screenshots of veld-gui under Xvfb with a window manager (openbox, installed here
# if missing: it draws the window frames and titles and is needed for nothing else):
#   docs/veld-gui-en.png        the main window in English
#   docs/veld-gui-zh.png        the main window in Chinese
#   docs/veld-gui-progress.png  the progress window during an extraction of a generated disc whose menu
#                               clip is made 200 MiB long (null packets after the stream), so that
#                               the scan takes long enough to be seen
#   docs/veld-gui-replace.png   the progress window while the replacement of that disc's menu writes the
#                               rebuilt clip, one picture of its extraction edited
#   docs/veld-gui-menu.png      the main window showing the menus of the extracted sample disc, a page
#                               and one of its buttons chosen
#   docs/veld-gui-edited.png    the same after one of the button's pictures was edited on disk: the page
#                               drawn with the edit, the button marked, the list of edited pictures
#   docs/veld-gui-settings.png  the Settings dialog: editor command, extraction format and previews,
#                               and how replace takes edited pictures in
#
#   bash scripts/screenshots.sh [BUILD_DIR]     (default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${1:-build/release}

if ! command -v openbox >/dev/null; then
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends openbox
fi

cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j "$(nproc)" --target veld_gui_shots veld_cli
shots=$(realpath "$build")/tests/gui/veld_gui_shots
veld=$(realpath "$build")/src/cli/veld

work=$(mktemp -d /tmp/veld-shots.XXXXXX)
trap 'rm -rf "$work"' EXIT
python3 tests/fixtures/gen_disc.py --variant menu --out "$work/disc" --quiet
python3 - "$work/disc/BDMV/STREAM/00000.m2ts" <<'PY'
import sys
# 192-byte source packets: a zero arrival-time header, then a null TS packet (PID 0x1FFF).
packet = bytes(4) + bytes([0x47, 0x1F, 0xFF, 0x10]) + bytes([0xFF]) * 184
block = packet * 4096
with open(sys.argv[1], "ab") as out:
    while out.tell() < 200 << 20:
        out.write(block)
PY
mkdir -p "$work/rip" "$work/home/.config" docs
# The sample disc where a user would have it, and its pictures extracted.
mkdir -p "$work/MY_DISC" "$work/sample-rip"
cp -r examples/sample-disc/BDMV "$work/MY_DISC/BDMV"
"$veld" extract "$work/MY_DISC/BDMV" "$work/sample-rip" --quiet

# One X session per picture: a fresh window manager, a fresh settings file, the wanted language.
run() {
  local lang=$1; shift
  HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" LANG=$lang LC_ALL=$lang LANGUAGE='' \
    xvfb-run -a -s "-screen 0 1200x900x24" sh -c 'openbox >/dev/null 2>&1 & sleep 1; exec "$@"' sh "$@"
}

run en_US.UTF-8 "$shots" main "$root/docs/veld-gui-en.png" "/media/user/MY_DISC/BDMV"
run zh_CN.UTF-8 "$shots" main "$root/docs/veld-gui-zh.png" "/media/user/MY_DISC/BDMV"
run en_US.UTF-8 "$shots" progress "$root/docs/veld-gui-progress.png" "$work/disc/BDMV" "$work/rip"
run en_US.UTF-8 "$shots" replace "$root/docs/veld-gui-replace.png" "$work/disc/BDMV" "$work/rip/VELD"
run en_US.UTF-8 "$shots" menu "$root/docs/veld-gui-menu.png" "$work/MY_DISC/BDMV" "$work/sample-rip"
run en_US.UTF-8 "$shots" edited "$root/docs/veld-gui-edited.png" "$work/MY_DISC/BDMV" "$work/sample-rip"
run en_US.UTF-8 "$shots" settings "$root/docs/veld-gui-settings.png" "/media/user/MY_DISC/BDMV"
echo "screenshots: docs/veld-gui-en.png docs/veld-gui-zh.png docs/veld-gui-progress.png docs/veld-gui-menu.png" \
  "docs/veld-gui-edited.png docs/veld-gui-replace.png docs/veld-gui-settings.png"
