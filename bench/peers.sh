#!/usr/bin/env bash
# varnic side by side with ape's ace (type "discrete", model "ARD"), the R
# tool biologists would otherwise use, on the same trees in one run: the
# processor time of one likelihood evaluation and of one whole fit, the
# count of evaluations each fit used, and the -lnL of both fits. Both
# programs weigh every root state 1, so their likelihoods agree: the last two
# columns give each program's -lnL at the other's estimates, which must
# equal the other's own.
#
#   bench/peers.sh [--install] [--tips "1000 10000"] [--states "2 6"] [--seed N] [--build DIR]
#
# --install first installs R and ape from Debian (apt-get, as root). The
# trees and characters are simulated by bench/peers.R; varnic's times come
# from the benchmark binary (bench/scale_bench.cpp, DataFile/*), built in
# Release mode into DIR (default /tmp/varnic-peers-build). Not part of CI.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
install=0
tips_list="1000 10000"
states_list="2 6"
seed=1
build=/tmp/varnic-peers-build

while [ $# -gt 0 ]; do
  case "$1" in
    --install) install=1 ;;
    --tips) tips_list=$2; shift ;;
    --states) states_list=$2; shift ;;
    --seed) seed=$2; shift ;;
    --build) build=$2; shift ;;
    -h|--help) sed -n '2,16p' "$0"; exit 0 ;;
    *) echo "peers.sh: unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done

if [ "$install" = 1 ]; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq r-base-core r-cran-ape
fi
if ! Rscript -e 'suppressPackageStartupMessages(library(ape))' >/dev/null 2>&1; then
  echo "peers.sh: R with ape is needed: run bench/peers.sh --install (as root)" >&2
  exit 1
fi

cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target varnic_bench >/dev/null
bench="$build/varnic_bench"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# "name key value" for the counters of the benchmarks' JSON output.
counters() {
  awk -F': ' '
    /"name":/ { name = $2; gsub(/[",]/, "", name) }
    /"(cpu_time|-lnL|-lnL_at_given|-lnL_at_given_nudged|timed_at_estimates|evaluations|cpu_seconds|outside|rate_[0-9]+)":/ {
      key = $1; value = $2; gsub(/[", ]/, "", key); gsub(/[",]/, "", value); print name, key, value
    }'
}
value_of() { awk -v n="$2" -v k="$3" '$1 ~ n && $2 == k { print $3 }' "$1"; }

printf '%-6s %-6s | %12s %12s %8s | %16s %16s %8s | %14s %14s %14s %14s\n' \
  tips states "varnic ms" "ace ms" "ratio" "varnic fit s" "ace fit s" "ratio" \
  "varnic -lnL" "ace -lnL" "varnic -lnL" "ace -lnL"
printf '%-6s %-6s | %12s %12s %8s | %16s %16s %8s | %14s %14s %14s %14s\n' \
  "" "" "per eval" "per eval" "" "(evaluations)" "(evaluations)" "" "(its fit)" "(its fit)" "at ace's fit" "at varnic's fit"

for tips in $tips_list; do
  for states in $states_list; do
    stem="$work/case_${tips}_${states}"
    Rscript "$here/peers.R" "$tips" "$states" "$seed" "$stem" > "$stem.ace"
    ace() { awk -v k="$1" '$1 == k { print $2 }' "$stem.ace"; }
    VARNIC_BENCH_DATA="$stem.txt" VARNIC_BENCH_STATES="$states" VARNIC_BENCH_RATES="$(ace ace_rates)" \
      VARNIC_BENCH_SEED="$seed" "$bench" --benchmark_filter='^DataFile' --benchmark_format=json \
      2>/dev/null | counters > "$stem.varnic"
    eval_ms=$(value_of "$stem.varnic" DataFile/evaluation cpu_time)
    at_ace=$(value_of "$stem.varnic" DataFile/evaluation -lnL_at_given)
    at_nudged=$(value_of "$stem.varnic" DataFile/evaluation -lnL_at_given_nudged)
    at_estimates=$(value_of "$stem.varnic" DataFile/evaluation timed_at_estimates)
    fit_s=$(value_of "$stem.varnic" DataFile/fit cpu_seconds)
    fit_evals=$(value_of "$stem.varnic" DataFile/fit evaluations)
    fit_lnl=$(value_of "$stem.varnic" DataFile/fit -lnL)
    outside=$(value_of "$stem.varnic" DataFile/fit outside)
    estimates=$(awk '$1 ~ /DataFile\/fit/ && $2 ~ /^rate_/ { print $2, $3 }' "$stem.varnic" | sort | awk '{ print $2 }' | paste -sd, -)
    ace_at_ours=$(Rscript "$here/peers.R" at "$stem" "$estimates" | awk '$1 == "ace_minus_lnL_at" { print $2 }')
    awk -v t="$tips" -v s="$states" -v em="$eval_ms" -v am="$(ace ace_evaluation_ms)" \
        -v fs="$fit_s" -v fe="$fit_evals" -v as="$(ace ace_fit_seconds)" -v ae="$(ace ace_evaluations)" \
        -v fl="$fit_lnl" -v al="$(ace ace_minus_lnL)" -v aa="$at_ace" -v an="$at_nudged" \
        -v est="$at_estimates" -v out="$outside" -v ao="$ace_at_ours" 'BEGIN {
      refused = aa >= 1e7
      printf "%-6s %-6s | %12.4f %12.3f %7.0fx | %8.2f (%5d) %8.2f (%5d) %7.1fx | %14.4f %14.4f %14s %14.6f%s%s\n",
        t, s, em, am, am / em, fs, fe, as, ae, as / fs, fl, al,
        (refused ? "refused" : sprintf("%.6f", aa)), ao,
        (refused ? sprintf("  (ace'"'"'s rates refused; with its zero rates at 1e-9: %.6f%s)", an,
                           est == 1 ? "; varnic timed at its own estimates" : "") : ""),
        (out == 1 ? "  (varnic search ended outside the model)" : "")
    }'
  done
done
