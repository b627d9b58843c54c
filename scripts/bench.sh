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
for bench in "${benches[@]}"; do
  [ -x "$bench" ] && [ -f "$bench" ] || continue
  name=$(basename "$bench")
  echo "=== $name"
  args=(--benchmark_out="$out/$name.json" --benchmark_out_format=json "$@")
  if [[ "$name" == bench_e2e* ]]; then
    MURLEX_HARNESS_LIVE_MICROPHONE=1 ./scripts/harness.sh bash -c 'scripts/desktop-services.sh start && exec "$@"' bench "$bench" "${args[@]}" \
      || status=1
  else
    "$bench" "${args[@]}" || status=1
  fi
done

echo
echo "=== summary ($(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores)"
python3 scripts/bench-table.py "$out"/*.json || status=1
exit $status
