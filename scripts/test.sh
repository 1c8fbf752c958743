#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the dependencies, builds VELD and runs every test twice: a normal optimised build, then a
# Debug build with AddressSanitizer and UndefinedBehaviorSanitizer (build/test-release and
# build/test-sanitize, apart from the Install route's build/release). Then every fuzz target runs for
# about 15 seconds on its seeds (scripts/fuzz.sh, clang), and last the README's demo (scripts/demo.sh)
# runs the whole edit cycle on the sample disc, so that the first command a newcomer types keeps working.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh --test

jobs=$(nproc)
werror=OFF
if [ "${CI:-}" = "true" ]; then werror=ON; fi

# The test builds live in folders of their own (build/test-*), never in one that the README's Install
# route configures without tests. Each stage must run tests: a stage that finds none fails.
run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -DBUILD_TESTING=ON -DVELD_WERROR=$werror "$@" >/dev/null
  if ! grep -qx 'BUILD_TESTING:BOOL=ON' "$dir/CMakeCache.txt"; then
    echo "test.sh: $dir is not configured with BUILD_TESTING=ON" >&2
    exit 2
  fi
  cmake --build "$dir" -j "$jobs"
  # --output-on-failure shows what broke; the summary line gives the test count; --no-tests=error
  # makes a stage without tests fail.
  ctest --test-dir "$dir" -j "$jobs" --output-on-failure --timeout 900 --no-tests=error
}

echo "== Release build and tests =="
run_suite build/test-release -DCMAKE_BUILD_TYPE=RelWithDebInfo

echo "== Sanitizer build (ASan + UBSan) and tests =="
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run_suite build/test-sanitize -DCMAKE_BUILD_TYPE=Debug -DVELD_SANITIZE=ON -DVELD_GUI=OFF -DVELD_BENCH=OFF

echo "== Fuzz targets (libFuzzer, ASan + UBSan, 15 s each from their seeds) =="
VELD_FUZZ_FRESH=1 VELD_WERROR=$werror bash scripts/fuzz.sh 15

echo "== The README's demo: the edit cycle on the sample disc =="
bash scripts/demo.sh
