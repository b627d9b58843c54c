#!/usr/bin/env bash
# Runs every fuzz target of BUILD_DIR (default build/fuzz) for FUZZ_RUNS inputs (default one
# million), one target after the other at low priority, and prints one table at the end.
# Each target starts from its seeds (fuzz/corpus/<target>/) and the corpus earlier runs grew
# (BUILD_DIR/corpus/<target>/); findings are written to BUILD_DIR/artifacts/<target>/ and the
# whole output to BUILD_DIR/logs/<target>.log. Exit status 1 when any target found something.
#   FUZZ_RUNS      inputs per target                    (1000000)
#   FUZZ_TIMEOUT   seconds one input may take           (10)
#   FUZZ_RSS_MB    memory limit of a target, also the largest single allocation (2048)
#   FUZZ_TARGETS   the targets to run, separated by spaces (all)
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build/fuzz}
runs=${FUZZ_RUNS:-1000000}
timeout=${FUZZ_TIMEOUT:-10}
rss=${FUZZ_RSS_MB:-2048}
targets=${FUZZ_TARGETS:-$(cd "$here" && ls fuzz_*.cpp | sed -e 's/^fuzz_//' -e 's/\.cpp$//')}

mkdir -p "$build/logs"
rows=()
status=0
for target in $targets; do
  binary="$build/fuzz_$target"
  if [ ! -x "$binary" ]; then
    echo "fuzz: $binary is missing (make fuzz builds it)" >&2
    exit 2
  fi
  corpus="$build/corpus/$target"
  artifacts="$build/artifacts/$target"
  log="$build/logs/$target.log"
  mkdir -p "$corpus" "$artifacts"
  dict=()
  [ -f "$here/$target.dict" ] && dict=(-dict="$here/$target.dict")
  count_findings() { find "$artifacts" -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l; }
  before=$(count_findings)
  echo "fuzz: $target, $runs inputs ..." >&2
  start=$(date +%s)
  nice -n 10 "$binary" -runs="$runs" -timeout="$timeout" -rss_limit_mb="$rss" -malloc_limit_mb="$rss" \
    "${dict[@]}" -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" "$here/corpus/$target" >"$log" 2>&1
  rc=$?
  seconds=$(( $(date +%s) - start ))
  executed=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  status_line=$(grep -E '^#[0-9]+' "$log" | tail -1)
  edges=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$status_line")
  corpus_size=$(sed -n 's/.* corp: \([0-9]*\)\/.*/\1/p' <<<"$status_line")
  found=$(( $(count_findings) - before ))
  if [ "$rc" -ne 0 ]; then
    status=1
    [ "$found" -eq 0 ] && found="exit $rc"
  fi
  rows+=("$(printf '%-20s %10s %8s %8s %8s %8ss' "$target" "${executed:-?}" "${corpus_size:-?}" "${edges:-?}" "$found" "$seconds")")
done

printf '\n%-20s %10s %8s %8s %8s %9s\n' target inputs corpus edges crashes time
for row in "${rows[@]}"; do echo "$row"; done
if [ "$status" -ne 0 ]; then
  echo "fuzz: findings in $build/artifacts/ (logs in $build/logs/)" >&2
fi
exit "$status"
