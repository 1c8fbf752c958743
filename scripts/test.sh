#!/usr/bin/env bash
# Installs the dependencies, builds VELD and runs every test twice: a normal optimised build, then a
# Debug build with AddressSanitizer and UndefinedBehaviorSanitizer. Then every fuzz target runs for
# about 15 seconds on its seeds (scripts/fuzz.sh, clang), and last the README's demo (scripts/demo.sh)
# runs the whole edit cycle on the sample disc, so that the first command a newcomer types keeps working.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh --test

jobs=$(nproc)
werror=OFF
if [ "${CI:-}" = "true" ]; then werror=ON; fi

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -DVELD_WERROR=$werror "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  # --output-on-failure shows what broke; the summary line gives the test count.
  ctest --test-dir "$dir" -j "$jobs" --output-on-failure --timeout 900
}

echo "== Release build and tests =="
run_suite build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo

echo "== Sanitizer build (ASan + UBSan) and tests =="
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run_suite build/sanitize -DCMAKE_BUILD_TYPE=Debug -DVELD_SANITIZE=ON -DVELD_GUI=OFF -DVELD_BENCH=OFF

echo "== Fuzz targets (libFuzzer, ASan + UBSan, 15 s each from their seeds) =="
VELD_FUZZ_FRESH=1 VELD_WERROR=$werror bash scripts/fuzz.sh 15

echo "== The README's demo: the edit cycle on the sample disc =="
bash scripts/demo.sh
