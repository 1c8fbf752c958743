#!/usr/bin/env bash
# The README's run command: installs what building the command line needs, builds only `veld` (no tests,
# no benchmarks, no window) into build/demo, and extracts the menu pictures of the bundled sample disc
# into a temporary folder, which is removed again at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

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
"$veld" --version

echo
echo "\$ veld extract examples/sample-disc/BDMV $work"
"$veld" extract examples/sample-disc/BDMV "$work"

images=$work/VELD/Images
echo
echo "The pictures: Images/<clip>/<PID>/Epoch<e>/DS<d>/<object id + 1>.gif, and the marker VELD.rip"
(cd "$images" && find . -name '*.gif' | sort | head -n 12 | sed 's|^\./|  |')
echo "  ... $(find "$images" -name '*.gif' | wc -l) pictures in all"
echo
echo "The temporary folder $work is removed now. To keep the pictures, run"
echo "  $veld extract examples/sample-disc/BDMV ~/veld-work"
echo "To put veld on your PATH (see README.md): sudo cmake --install $build"
