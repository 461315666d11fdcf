#!/usr/bin/env bash
# One short, repeatable fuzz run of a target from its committed seeds:
#   smoke.sh TARGET SEED_DIR DICT RUNS FINDINGS_DIR
# New inputs go to a scratch folder that is thrown away, so every run starts
# from the same corpus; a finding is kept in FINDINGS_DIR and fails the test.
set -euo pipefail
target=$1 seeds=$2 dict=$3 runs=$4 findings=$5
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$findings"
exec_name=$(basename "$target")
"$target" -seed=1 -runs="$runs" -max_total_time=45 -dict="$dict" \
  -artifact_prefix="$findings/$exec_name-" -print_final_stats=1 "$scratch" "$seeds" 2>&1 | tail -n 25
exit "${PIPESTATUS[0]}"
