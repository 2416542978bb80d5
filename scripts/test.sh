#!/usr/bin/env bash
# Builds varnic twice, plainly and under AddressSanitizer with
# UndefinedBehaviorSanitizer, and runs every test in both builds.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
jobs=$(nproc 2>/dev/null || echo 2)

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" "$@"
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs")
}

run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build-sanitize -DCMAKE_BUILD_TYPE=Debug -DVARNIC_SANITIZE=ON -DVARNIC_BENCH=OFF
# Smoke fuzzing of the three readers of hand-written input, a minute each.
bash fuzz/run.sh data 60
bash fuzz/run.sh control 60
bash fuzz/run.sh session 60
echo "All tests passed in the plain and the sanitized build."
