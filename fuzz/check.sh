#!/usr/bin/env bash
# One fuzz target as a test: every seed in its corpus, then RUNS fresh inputs mutated from them
# (a fixed seed, though the inputs tried still vary a little from run to run). Nothing is written
# into the source tree: new inputs go to a scratch directory, findings to ARTIFACTS. The fuzzer's
# own output is shown only when it finds something, and then only its end, which describes it.
#   check.sh BINARY SEEDS DICTIONARY ARTIFACTS RUNS
set -euo pipefail
binary=$1 seeds=$2 dictionary=$3 artifacts=$4 runs=$5

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$artifacts"
dict=()
[ -f "$dictionary" ] && dict=(-dict="$dictionary")
log="$scratch/fuzz.log"
mkdir "$scratch/corpus"
if "$binary" -runs="$runs" -seed=1 -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=2048 "${dict[@]}" \
  -artifact_prefix="$artifacts/" "$scratch/corpus" "$seeds" >"$log" 2>&1; then
  grep -E '^#[0-9]+' "$log" | tail -1
else
  status=$?
  grep -v -E '^#[0-9]+' "$log" | tail -60
  exit "$status"
fi
