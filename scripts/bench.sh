#!/usr/bin/env bash
# Runs every benchmark of the release build (build/release/bench/bench_*), one after the other, then
# prints one table of all their figures. `make bench` builds build/release first. The end-to-end
# benchmarks (bench_e2e*) drive the real application and so run inside the test harness (Xvfb,
# PulseAudio, keyring) with its window manager and tray (scripts/desktop-services.sh), as a desktop
# has them, and a microphone that delivers audio all the time (MURLEX_HARNESS_LIVE_MICROPHONE).
# bench_e2e's counts: MURLEX_BENCH_DICTATIONS (300 dictations in one process), MURLEX_BENCH_LAUNCHES
# (10), MURLEX_BENCH_IDLE_SECONDS (60), e.g.  MURLEX_BENCH_DICTATIONS=50 make bench
# Arguments go to every benchmark binary, e.g.
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

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
status=0
failed=()
for bench in "${benches[@]}"; do
  [ -x "$bench" ] && [ -f "$bench" ] || continue
  name=$(basename "$bench")
  echo "=== $name"
  args=(--benchmark_out="$out/$name.json" --benchmark_out_format=json "$@")
  rc=0
  if [[ "$name" == bench_e2e* ]]; then
    MURLEX_HARNESS_LIVE_MICROPHONE=1 ./scripts/harness.sh bash -c 'scripts/desktop-services.sh start && exec "$@"' bench "$bench" "${args[@]}" \
      || rc=$?
  else
    "$bench" "${args[@]}" || rc=$?
  fi
  # A benchmark that ends without its results is named, with how it ended, here and in the summary.
  why=""
  if [ $rc -gt 128 ]; then
    why="ended by signal $((rc - 128)) ($(kill -l $((rc - 128)) 2>/dev/null || echo unknown))"
  elif [ $rc -ne 0 ]; then
    why="exit status $rc"
  elif [ ! -s "$out/$name.json" ]; then
    why="exit status 0 but no results written"
  fi
  if [ -n "$why" ]; then
    echo "bench: $name failed: $why" >&2
    failed+=("$name: $why")
    rm -f "$out/$name.json"
    status=1
  fi
done

echo
echo "=== summary ($(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores)"
results=("$out"/*.json)
if [ ${#results[@]} -gt 0 ]; then
  python3 scripts/bench-table.py "${results[@]}" || status=1
fi
for line in "${failed[@]}"; do
  echo "FAILED (no rows): $line"
done
exit $status
