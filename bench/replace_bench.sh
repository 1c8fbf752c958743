#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The whole `veld replace` on a large generated disc against `cp` of its feature clip, measured
# alternately in one run on the same cached files: the best of VELD_BENCH_ROUNDS (default 3) rounds of
# each, the ratio, and veld's peak resident memory; for each route of VELD_BENCH_ROUTES (default
# "in-place full"): the in-place route's target is 1.1x cp, the full route's 2x (aim 1.5x).
#
#   bench/replace_bench.sh VELD [SIZE_MIB]
#
# The disc (the generator's `large` variant, feature clip of SIZE_MIB MiB, default 1100, with a pop-up
# menu) is made once under ${TMPDIR:-/tmp}/veld-replace-bench-SIZE and kept for later runs.
set -euo pipefail
veld=$(realpath "$1")
size=${2:-1100}
rounds=${VELD_BENCH_ROUNDS:-3}
cd "$(dirname "$0")/.."
base=${TMPDIR:-/tmp}/veld-replace-bench-$size
disc=$base/disc
if [ ! -f "$disc/.complete" ]; then
  rm -rf "$disc"
  mkdir -p "$base"
  python3 tests/fixtures/gen_disc.py --variant large --size-mib "$size" --out "$disc" --quiet
  touch "$disc/.complete"
fi
feature=$(ls -S "$disc"/BDMV/STREAM/*.m2ts | head -n 1)
clip=$(basename "$feature" .m2ts)
work=$base/work
rm -rf "$work"
"$veld" extract --quiet "$disc/BDMV" "$work"
# One picture of the feature clip's menu is edited (turned upside down with ImageMagick): its object is
# re-encoded and the clip rebuilt, the same work as for any edit.
picture=$(find "$work/VELD/Images/$clip" -name '*.gif' | sort | head -n 1)
if [ -z "$picture" ]; then
  echo "replace_bench: the feature clip $clip has no menu picture" >&2
  exit 2
fi
convert "$picture" -flip "$picture"
cat "$feature" > /dev/null  # cached for both

routes=${VELD_BENCH_ROUTES:-in-place full}
for route in $routes; do
best_cp=999999; best_veld=999999; peak=0
for round in $(seq "$rounds"); do
  sync
  t0=$(date +%s%N)
  cp "$feature" "$base/cp-bench.m2ts"
  t1=$(date +%s%N)
  rm -f "$base/cp-bench.m2ts"
  # The previous round's output is deleted outside the timing, as cp's copy is: replace would otherwise
  # pay for freeing a 1 GiB file that cp never has to.
  rm -f "$work/VELD/Stream/"*
  sync
  t2=$(date +%s%N)
  /usr/bin/time -f '%M' -o "$base/rss.txt" "$veld" replace --quiet --no-copy-back --remux "$route" "$disc/BDMV" "$work/VELD"
  t3=$(date +%s%N)
  cp_ms=$(( (t1 - t0) / 1000000 )); veld_ms=$(( (t3 - t2) / 1000000 ))
  [ "$cp_ms" -lt "$best_cp" ] && best_cp=$cp_ms
  [ "$veld_ms" -lt "$best_veld" ] && best_veld=$veld_ms
  rss=$(tail -n 1 "$base/rss.txt"); [ "$rss" -gt "$peak" ] && peak=$rss
done
target=$([ "$route" = in-place ] && echo "target 1.1x" || echo "target 2x, aim 1.5x")
printf 'feature clip %s, %d MiB, route %s: best of %d alternating rounds: cp %d ms, veld replace %d ms (%s x cp; %s); peak RSS %d MiB\n' \
  "$clip" $(( $(stat -c %s "$feature") >> 20 )) "$route" "$rounds" "$best_cp" "$best_veld" \
  "$(awk -v a="$best_veld" -v b="$best_cp" 'BEGIN { printf "%.2f", a / b }')" "$target" $(( peak / 1024 ))
done
