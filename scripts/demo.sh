#!/usr/bin/env bash
# The README's run command: installs the dependencies, builds VELD and extracts the menu pictures of the
# bundled sample disc into a temporary folder.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$(nproc)" --target veld_cli
veld=./build/release/src/cli/veld
"$veld" --version

work=$(mktemp -d "${TMPDIR:-/tmp}/veld-demo.XXXXXX")
echo
echo "\$ veld extract examples/sample-disc/BDMV $work"
"$veld" extract examples/sample-disc/BDMV "$work"
echo
echo "The pictures (one GIF per button state and effect frame):"
find "$work/VELD/Images" -name '*.gif' | sort | head -n 12
echo "... $(find "$work/VELD/Images" -name '*.gif' | wc -l) pictures in all, under $work/VELD/Images"
