#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The whole `veld extract` of a large disc against `cat` of the same clips, both on cached files and
# measured in the same run (best of alternating runs). The disc is the generator's `large` variant: a
# feature clip of VELD_BENCH_MIB MiB (default 1100) whose pop-up menu has 100 pictures (7.3 megapixels)
# in each of VELD_BENCH_EPOCHS epochs (default 1), generated once into build/bench/large-disc (or
# build/bench/large-disc-<epochs>e for more epochs; VELD_BENCH_DISC names the root of another disc, made
# there when it has no truth.json). Target: the extract reads the clips at 0.8 times cat's throughput
# or better.
#   bench/extract_bench.sh [VELD_BINARY]
#   VELD_BENCH_MIB=1450 VELD_BENCH_EPOCHS=5 bench/extract_bench.sh build/t/src/cli/veld   (36 megapixels)
set -euo pipefail
cd "$(dirname "$0")/.."
veld=${1:-build/bench/src/cli/veld}
if [ ! -x "$veld" ]; then
  cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELD_GUI=OFF -DBUILD_TESTING=OFF -DVELD_BENCH=ON >/dev/null
  cmake --build build/bench -j "$(nproc)" --target veld_cli
fi
mib=${VELD_BENCH_MIB:-1100}
epochs=${VELD_BENCH_EPOCHS:-1}
default_disc=build/bench/large-disc
[ "$epochs" = 1 ] || default_disc=build/bench/large-disc-${epochs}e
disc=${VELD_BENCH_DISC:-$default_disc}
if [ ! -f "$disc/truth.json" ]; then
  echo "extract_bench: generating the large disc ($mib MiB, $epochs menu epochs) in $disc"
  python3 tests/fixtures/gen_disc.py --variant large --size-mib "$mib" --menu-epochs "$epochs" --out "$disc" --quiet
fi
runs=${VELD_BENCH_RUNS:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
clips=("$disc"/BDMV/STREAM/*.m2ts)
bytes=$(cat "${clips[@]}" | wc -c)
cat "${clips[@]}" >/dev/null  # into the cache

# Wall-clock and CPU seconds (user + system, all threads) of one run, "REAL CPU".
TIMEFORMAT='%R %U %S'
timed() { { time "$@" >/dev/null; } 2>&1 | awk '{ printf "%s %.3f\n", $1, $2 + $3 }'; }
best_cat=999999 best_extract=999999 cpu_cat=0 cpu_extract=0
for ((i = 0; i < runs; i++)); do
  read -r real cpu < <(timed cat "${clips[@]}")
  if awk -v a="$real" -v b="$best_cat" 'BEGIN { exit !(a < b) }'; then best_cat=$real cpu_cat=$cpu; fi
  # Each run writes into a folder of its own, and the last run's is deleted outside the timing, as cat
  # deletes nothing: an extraction over the same folder would also pay for deleting a thousand pictures
  # and for ext4 passing over the inodes freed in the last seconds when it makes the new ones.
  rm -rf "$work/run"
  sync
  read -r real cpu < <(timed "$veld" extract "$disc/BDMV" "$work/run" --yes --quiet)
  if awk -v a="$real" -v b="$best_extract" 'BEGIN { exit !(a < b) }'; then best_extract=$real cpu_extract=$cpu; fi
done
# The pictures written and their megapixels (width and height from each GIF's screen descriptor).
read -r pictures mpx < <(find "$work/run/VELD/Images" -name '*.gif' -print0 | python3 -c '
import struct, sys
names = [n for n in sys.stdin.buffer.read().split(b"\0") if n]
px = 0
for n in names:
    with open(n, "rb") as f:
        w, h = struct.unpack("<HH", f.read(10)[6:10])
    px += w * h
print(len(names), "%.1f" % (px / 1e6))')
awk -v bytes="$bytes" -v c="$best_cat" -v e="$best_extract" -v cc="$cpu_cat" -v ce="$cpu_extract" -v p="$pictures" \
    -v mpx="$mpx" \
    -v load="$(cut -d' ' -f1 /proc/loadavg)" -v cores="$(nproc)" 'BEGIN {
  mib = bytes / 1048576
  printf "clips: %.0f MiB, %d pictures (%s Mpx); best of %d runs; load average %s on %d cores\n", mib, p, mpx, '"$runs"', load, cores
  printf "cat:     %.3f s  %5.0f MiB/s  (cpu %.3f s)\n", c, mib / c, cc
  printf "extract: %.3f s  %5.0f MiB/s  (cpu %.3f s, both threads)\n", e, mib / e, ce
  ratio = c / e
  printf "extract throughput / cat throughput: %.2f (target 0.80) %s\n", ratio, ((ratio >= 0.8) ? "met" : "NOT MET")
}'
