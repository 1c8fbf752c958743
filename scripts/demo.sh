#!/usr/bin/env bash
# The README's run command: installs the dependencies, builds VELD and runs it on the sample disc.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$(nproc)" --target veld_cli
./build/release/src/cli/veld --version
