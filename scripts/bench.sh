#!/usr/bin/env bash
# Runs every benchmark of the release build (build/release/bench/bench_*), one after the other.
# `make bench` builds build/release first. Arguments go to every benchmark binary, e.g.
#   scripts/bench.sh --benchmark_repetitions=5
set -euo pipefail

cd "$(dirname "$0")/.."
dir=build/release/bench
shopt -s nullglob
benches=("$dir"/bench_*)
if [ ${#benches[@]} -eq 0 ]; then
  echo "bench: no benchmarks in $dir (run 'make bench', or build build/release first)" >&2
  exit 1
fi

status=0
for bench in "${benches[@]}"; do
  [ -x "$bench" ] && [ -f "$bench" ] || continue
  echo "=== $(basename "$bench")"
  "$bench" "$@" || status=1
done
exit $status
