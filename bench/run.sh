#!/usr/bin/env bash
# Builds the benchmarks (optimised as the shipped build, -O2) and runs them: run-length codec speed, then the clip stream scan
# against `cat` on the same cached file, the access-unit index size and peak memory, and the remultiplexing
# of a whole clip against `cp`.
# VELD_BENCH_MIB sets the size of the synthesised clip (default 1024); VELD_BENCH_CLIP uses a real one.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELD_GUI=OFF -DBUILD_TESTING=OFF -DVELD_BENCH=ON >/dev/null
cmake --build build/bench -j "$(nproc)" --target veld_bench_rle veld_bench_demux veld_bench_remux
./build/bench/bench/veld_bench_rle
./build/bench/bench/veld_bench_demux
./build/bench/bench/veld_bench_remux
cmake --build build/bench -j "$(nproc)" --target veld_cli
bash bench/replace_bench.sh build/bench/src/cli/veld "${VELD_BENCH_MIB:-1100}"
