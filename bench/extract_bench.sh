#!/usr/bin/env bash
# The whole `veld extract` of a large disc against `cat` of the same clips, both on cached files and
# measured in the same run (best of alternating runs). The disc is the generator's `large` variant: a
# feature clip of VELD_BENCH_MIB MiB (default 1100) whose pop-up menu has 100 pictures, generated once
# into build/bench/large-disc (or VELD_BENCH_DISC, the root of an existing disc). Target: the extract
# reads the clips at 0.8 times cat's throughput or better.
#   bench/extract_bench.sh [VELD_BINARY]
set -euo pipefail
cd "$(dirname "$0")/.."
veld=${1:-build/bench/src/cli/veld}
if [ ! -x "$veld" ]; then
  cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELD_GUI=OFF -DBUILD_TESTING=OFF -DVELD_BENCH=ON >/dev/null
  cmake --build build/bench -j "$(nproc)" --target veld_cli
fi
mib=${VELD_BENCH_MIB:-1100}
disc=${VELD_BENCH_DISC:-build/bench/large-disc}
if [ ! -f "$disc/truth.json" ]; then
  echo "extract_bench: generating the large disc ($mib MiB) in $disc"
  python3 tests/fixtures/gen_disc.py --variant large --size-mib "$mib" --out "$disc" --quiet
fi
runs=${VELD_BENCH_RUNS:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
clips=("$disc"/BDMV/STREAM/*.m2ts)
bytes=$(cat "${clips[@]}" | wc -c)
cat "${clips[@]}" >/dev/null  # into the cache

now() { date +%s.%N; }
best_cat=999999
best_extract=999999
for ((i = 0; i < runs; i++)); do
  t0=$(now)
  cat "${clips[@]}" >/dev/null
  t1=$(now)
  "$veld" extract "$disc/BDMV" "$work" --yes --quiet
  t2=$(now)
  best_cat=$(awk -v a="$t0" -v z="$t1" -v b="$best_cat" 'BEGIN { d = z - a; print (d < b) ? d : b }')
  best_extract=$(awk -v a="$t1" -v z="$t2" -v b="$best_extract" 'BEGIN { d = z - a; print (d < b) ? d : b }')
done
pictures=$(find "$work/VELD/Images" -name '*.gif' | wc -l)
awk -v bytes="$bytes" -v c="$best_cat" -v e="$best_extract" -v p="$pictures" 'BEGIN {
  mib = bytes / 1048576
  printf "clips: %.0f MiB, %d pictures\n", mib, p
  printf "cat:     %.3f s  %.0f MiB/s\n", c, mib / c
  printf "extract: %.3f s  %.0f MiB/s\n", e, mib / e
  ratio = c / e
  printf "extract throughput / cat throughput: %.2f (target 0.80) %s\n", ratio, ratio >= 0.8 ? "met" : "NOT MET"
}'
