#!/usr/bin/env bash
# One fuzz target as a test: every seed in its corpus, then RUNS fresh inputs mutated from them
# (fixed seed, so a failure repeats). Nothing is written into the source tree: new inputs go to a
# scratch directory, findings to ARTIFACTS.
#   check.sh BINARY SEEDS DICTIONARY ARTIFACTS RUNS
set -euo pipefail
binary=$1 seeds=$2 dictionary=$3 artifacts=$4 runs=$5

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$artifacts"
dict=()
[ -f "$dictionary" ] && dict=(-dict="$dictionary")
"$binary" -runs="$runs" -seed=1 -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=2048 "${dict[@]}" \
  -artifact_prefix="$artifacts/" "$scratch" "$seeds"
