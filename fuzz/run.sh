#!/usr/bin/env bash
# Builds one fuzz target (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)
# and runs it for the given number of seconds, after replaying every kept
# reproducer of that target.
#
#   bash fuzz/run.sh data|control|session SECONDS [libFuzzer options...]
#
# The seed corpus is made from examples/ and fuzz/seeds/TARGET/ (texts taken
# from the tests), each given as a two-state and a three-state input; inputs
# the fuzzer finds interesting accumulate in BUILD/fuzz-work/TARGET/corpus and
# are reused by the next run. BUILD is build-fuzz/ unless VARNIC_FUZZ_BUILD
# names another folder. A finding is written to BUILD/fuzz-work/TARGET/artifacts/
# and the script fails; copy it to fuzz/regressions/TARGET/ once it is fixed.
set -euo pipefail
cd "$(dirname "$0")/.."

target=${1:-}
seconds=${2:-}
case "$target" in
  data | control | session) ;;
  *) echo "usage: $0 data|control|session SECONDS [libFuzzer options...]" >&2; exit 2 ;;
esac
[[ "$seconds" =~ ^[0-9]+$ ]] || { echo "SECONDS must be a whole number" >&2; exit 2; }
shift 2

build=${VARNIC_FUZZ_BUILD:-build-fuzz}
jobs=$(nproc 2>/dev/null || echo 2)
CC=clang CXX=clang++ cmake -S . -B "$build" -DVARNIC_FUZZ=ON -DVARNIC_TESTS=OFF -DVARNIC_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$jobs" --target "fuzz_$target"
binary=$(cd "$build" && pwd)/fuzz/fuzz_$target

work=$(cd "$build" && pwd)/fuzz-work/$target
rm -rf "$work/seeds"
mkdir -p "$work/seeds" "$work/corpus" "$work/artifacts"

# An input is one byte for the number of states ('2' .. '6'), then the text.
add_seed() {
  local file=$1 name
  name=$(basename "$file")
  for states in 2 3; do
    { printf '%s' "$states"; cat "$file"; } >"$work/seeds/$states-$name"
  done
}
case "$target" in
  data) for f in examples/*.txt; do add_seed "$f"; done ;;
  control) for f in examples/*.ctl; do add_seed "$f"; done ;;
esac
for f in fuzz/seeds/"$target"/*; do add_seed "$f"; done

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# Every kept reproducer must now pass (the target runs each file once).
regressions=(fuzz/regressions/"$target"/*)
if [ -e "${regressions[0]}" ]; then
  echo "Replaying ${#regressions[@]} reproducer(s) of $target"
  "$binary" -timeout=10 -rss_limit_mb=2048 "${regressions[@]}"
fi

# libFuzzer writes its own files (merge state, crash-*) into the working
# directory unless told otherwise: keep them in the work folder.
cd "$work"
"$binary" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
  -dict="$OLDPWD/fuzz/$target.dict" -artifact_prefix="$work/artifacts/" -print_final_stats=1 \
  "$@" corpus seeds
