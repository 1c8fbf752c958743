#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the benchmarks (optimised as the shipped build, -O2) and runs them: run-length codec speed, then the clip stream scan
# against `cat` on the same cached file, the access-unit index size and peak memory, the remultiplexing
# of a whole clip against `cp`, the whole extract command on a large generated disc against `cat` of its
# clips (bench/extract_bench.sh), and the whole replace command against `cp` of its feature clip
# (bench/replace_bench.sh).
# The window's responsiveness during an extraction is measured by bench/gui_responsiveness.cpp, built
# with the window (veld_bench_gui BDMV_FOLDER, e.g. in build/test-release/bench).
# VELD_BENCH_MIB sets the size of the synthesised clip (default 1024); VELD_BENCH_CLIP uses a real one.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELD_GUI=OFF -DBUILD_TESTING=OFF -DVELD_BENCH=ON >/dev/null
cmake --build build/bench -j "$(nproc)" --target veld_bench_rle veld_bench_demux veld_bench_remux veld_cli
./build/bench/bench/veld_bench_rle
./build/bench/bench/veld_bench_demux
./build/bench/bench/veld_bench_remux
bash bench/extract_bench.sh build/bench/src/cli/veld
bash bench/replace_bench.sh build/bench/src/cli/veld
