#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package with CPack, installs it with apt-get (which resolves its dependencies), runs
# veld and veld-gui from the installed paths, validates the desktop entry, then removes the package and
# checks that every installed file is gone. Needs root (apt-get); not part of the CTest run.
#
#   bash scripts/package-test.sh [BUILD_DIR]      (default build/package; extra cmake options in
#                                                  VELD_CMAKE_ARGS, e.g. the ccache launchers)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/package}
export DEBIAN_FRONTEND=noninteractive

echo "== build and package =="
# shellcheck disable=SC2086
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF -DVELD_BENCH=OFF \
  -DVELD_GUI=ON ${VELD_CMAKE_ARGS:-} >/dev/null
cmake --build "$build" -j "$(nproc)"
rm -f "$build"/veld_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/veld_*.deb)
deb=$(realpath "$deb")
dpkg-deb --field "$deb" Package Version Architecture Depends Suggests
dpkg-deb --contents "$deb" | awk '{print $6}'

fail() { echo "package-test: FAILED: $*" >&2; exit 1; }

if dpkg-query -W -f='${Status}' veld 2>/dev/null | grep -q "install ok installed"; then
  fail "a veld package is already installed; remove it first"
fi

echo "== install =="
apt-get install -y -qq "$deb" >/dev/null
files=$(dpkg -L veld)

echo "== run from the installed paths =="
[ "$(command -v veld)" = /usr/bin/veld ] || fail "veld is not /usr/bin/veld"
/usr/bin/veld --version
/usr/bin/veld-gui --version
# The window starts on a real X server (Xvfb) with the installed Qt plug-ins and stays up until stopped.
set +e
xvfb-run -a -s "-screen 0 1024x768x24" timeout 5 /usr/bin/veld-gui
rc=$?
set -e
[ "$rc" -eq 124 ] || fail "veld-gui ended by itself with status $rc"
echo "veld-gui ran until stopped"
desktop-file-validate /usr/share/applications/veld-gui.desktop
echo "desktop entry valid"
[ -f /usr/share/icons/hicolor/scalable/apps/veld.svg ] || fail "icon missing"

echo "== remove =="
apt-get remove -y -qq veld >/dev/null
left=0
while IFS= read -r f; do
  if [ -f "$f" ] || [ -L "$f" ]; then
    echo "left behind: $f" >&2
    left=1
  fi
done <<<"$files"
[ "$left" -eq 0 ] || fail "files left after apt-get remove veld"
echo "package-test: OK (installed, ran, validated and removed $deb)"
