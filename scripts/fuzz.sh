#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the fuzz targets of tests/fuzz with clang (libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer, no recovery), makes their seed corpora from freshly generated test discs,
# and runs every target for SECONDS (default 60), one after the other on one core. Prints per target the
# executions, the coverage (edges and features), the corpus size and the crashes.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
#
# Environment:
#   VELD_FUZZ_RUNS=N    also stop each target after N executions (whichever comes first)
#   VELD_FUZZ_FRESH=1   start from the seeds and the regression corpus only, ignoring the corpus that
#                       earlier runs kept in <build>/corpus
#   VELD_FUZZ_BUILD=DIR build folder (default build/fuzz)
#   VELD_WERROR=ON      compile with -Werror
# A crash leaves its input in <build>/crashes/<target>/. Once the fault is fixed the input goes into
# tests/fuzz/regress/<target>/, which the normal test build replays. Exit status 1 when a target crashed.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
case "$seconds" in ''|*[!0-9]*) echo "fuzz.sh: SECONDS must be a number, not '$seconds'" >&2; exit 2 ;; esac

build=${VELD_FUZZ_BUILD:-build/fuzz}
all_targets=$(sed -n '/^set(VELD_FUZZ_TARGET_NAMES/,/)/p' tests/fuzz/CMakeLists.txt | tr -d '()' |
              sed 's/set//; s/VELD_FUZZ_TARGET_NAMES//' | tr -s ' \n' ' ')
targets=${*:-$all_targets}

for tool in clang clang++; do
  command -v "$tool" >/dev/null || { echo "fuzz.sh: $tool not found (scripts/install-deps.sh --test installs it)" >&2; exit 2; }
done
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

echo "fuzz.sh: building the targets in $build"
cmake -S . -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELD_FUZZ=ON -DBUILD_TESTING=OFF -DVELD_GUI=OFF -DVELD_BENCH=OFF -DVELD_WERROR="${VELD_WERROR:-OFF}" \
  "${launcher[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)" --target veld_fuzz_targets veld_cli >/dev/null

# Seeds: the generated discs (made once per build folder) cut down by make_seeds.py.
if [ ! -f "$build/test-discs/menu/truth.json" ]; then
  PYTHONDONTWRITEBYTECODE=1 python3 tests/fixtures/gen_disc.py --variant all --out "$build/test-discs" --quiet
fi
rm -rf "$build/seeds"
PYTHONDONTWRITEBYTECODE=1 python3 tests/fuzz/make_seeds.py --discs "$build/test-discs" \
  --veld "$build/src/cli/veld" --out "$build/seeds" --sample examples/sample-disc

scratch=$(mktemp -d "${TMPDIR:-/tmp}/veld-fuzz.XXXXXX")
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  rm -rf "$scratch"
  scratch=$(mktemp -d /dev/shm/veld-fuzz.XXXXXX)
fi
trap 'rm -rf "$scratch"' EXIT
export VELD_FUZZ_SCRATCH=$scratch
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:symbolize=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
runs=()
if [ -n "${VELD_FUZZ_RUNS:-}" ]; then runs=(-runs="$VELD_FUZZ_RUNS"); fi

summary=()
failed=0
printf '\n%-18s %12s %8s %8s %7s %8s %s\n' target executions cov ft corpus seconds crashes
for t in $targets; do
  bin="$build/tests/fuzz/veld_fuzz_$t"
  [ -x "$bin" ] || { echo "fuzz.sh: no target $t (known: $all_targets)" >&2; exit 2; }
  corpus="$build/corpus/$t"
  if [ "${VELD_FUZZ_FRESH:-0}" = 1 ]; then corpus="$scratch/corpus-$t"; rm -rf "$corpus"; fi
  crashes="$build/crashes/$t"
  mkdir -p "$corpus" "$crashes" "$build/logs"
  log="$build/logs/$t.log"
  regress=()
  if [ -d "tests/fuzz/regress/$t" ]; then regress=("tests/fuzz/regress/$t"); fi
  before=$(find "$crashes" -type f | wc -l)
  start=$(date +%s)
  status=0
  "$bin" -max_total_time="$seconds" "${runs[@]}" -print_final_stats=1 -timeout=25 -rss_limit_mb=2560 \
    -artifact_prefix="$crashes/" "$corpus" "$build/seeds/$t" "${regress[@]}" >"$log" 2>&1 || status=$?
  elapsed=$(( $(date +%s) - start ))
  after=$(find "$crashes" -type f | wc -l)
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  [ -n "$execs" ] || execs=$(grep -o '^#[0-9]*' "$log" | tail -1 | tr -d '#')
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | sed 's/cov: //')
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | sed 's/ft: //')
  size=$(find "$corpus" -type f | wc -l)
  found=$((after - before))
  if [ "$status" -ne 0 ] && [ "$found" -eq 0 ]; then found=1; fi
  note=$found
  if [ "$found" -gt 0 ]; then
    failed=1
    note="$found (log: $log; inputs: $crashes/)"
  fi
  printf '%-18s %12s %8s %8s %7s %8s %s\n' "$t" "${execs:-?}" "${cov:-?}" "${ft:-?}" "$size" "$elapsed" "$note"
done
exit $failed
