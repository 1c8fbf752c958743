#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian 12 packages VELD needs.
#
#   scripts/install-deps.sh          what building and running the command line `veld` needs
#   scripts/install-deps.sh --gui    and Qt 6 for the desktop window `veld-gui`
#   scripts/install-deps.sh --demo   and what the demo uses besides: an image editor (ImageMagick) and
#                                    libbluray, which checks the rebuilt disc
#   scripts/install-deps.sh --test   and everything the test suite needs (it builds the window too)
#
# Idempotent: when every package is there it only checks (no apt-get update, no download).
set -euo pipefail

# Compiler, build tools and the libraries of the command line.
packages=(build-essential cmake pkg-config libgif-dev libpng-dev libcli11-dev libfmt-dev)
# The desktop window: Qt 6, its SVG icons, and a font with Chinese characters.
gui_packages=(qt6-base-dev libqt6svg6 fonts-wqy-microhei)
# The demo edits a picture with ImageMagick and lets libbluray open the rebuilt disc.
demo_packages=(imagemagick libbluray-dev)
# Unit tests and benchmarks; the test oracles (libbluray, ffmpeg, Python); the window's tests on a
# virtual display; the checks of the Debian package (desktop entry, lintian, AppStream, manual pages,
# completion); clang with libFuzzer for the fuzz
# targets (llvm for the symbolizer of their crash reports).
test_packages=(
  googletest libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev
  libbluray-dev ffmpeg python3 python3-pil
  xvfb xauth imagemagick desktop-file-utils
  lintian appstream bash-completion man-db
  clang libclang-rt-dev llvm
)

for arg in "$@"; do
  case "$arg" in
    --gui) packages+=("${gui_packages[@]}") ;;
    --demo) packages+=("${demo_packages[@]}") ;;
    --test) packages+=("${gui_packages[@]}" "${test_packages[@]}") ;;
    -h|--help) sed -n '2,10s/^# \{0,1\}//p' "$0"; exit 0 ;;
    *) echo "install-deps: unknown option $arg (use --gui, --demo, --test or --help)" >&2; exit 2 ;;
  esac
done
# Each package once, in order.
declare -A seen=()
wanted=()
for p in "${packages[@]}"; do
  if [ -z "${seen[$p]:-}" ]; then seen[$p]=1; wanted+=("$p"); fi
done

missing=()
for p in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#wanted[@]} packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
