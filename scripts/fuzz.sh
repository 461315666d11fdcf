#!/usr/bin/env bash
# Runs every fuzz target for SECONDS each, one after another, at the lowest
# CPU priority:   scripts/fuzz.sh SECONDS [TARGET...]
# TARGET is one of feed_answer state version https_address calendar_date
# files_prefix (default: all). The committed seeds (tests/fuzz/corpus/TARGET)
# are only read; what the fuzzer learns grows in build/fuzz/corpus/TARGET and
# is never committed. A finding is kept in build/fuzz/findings and makes the
# script fail.
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:?usage: scripts/fuzz.sh SECONDS [TARGET...]}
shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(feed_answer state version https_address calendar_date files_prefix)

bash scripts/install-deps.sh || exit 1
cmake --preset fuzz >/tmp/tamsel-configure-fuzz.log 2>&1 || { cat /tmp/tamsel-configure-fuzz.log; exit 1; }
cmake --build --preset fuzz -j 2 || exit 1

status=0
for name in "${targets[@]}"; do
  corpus=build/fuzz/corpus/$name
  mkdir -p "$corpus" build/fuzz/findings
  log=build/fuzz/fuzz-$name.log
  echo "== $name: $seconds s"
  TIMEFORMAT="   cpu: %U s user, %S s system"
  time nice -n 19 "build/fuzz/tests/fuzz/fuzz_$name" -max_total_time="$seconds" -print_final_stats=1 \
    -dict=tests/fuzz/toml.dict -artifact_prefix="build/fuzz/findings/$name-" \
    "$corpus" "tests/fuzz/corpus/$name" >"$log" 2>&1
  rc=$?
  grep -E '^#[0-9]+[[:space:]]+DONE|^stat::number_of_executed_units|^stat::peak_rss_mb' "$log" | sed 's/^/   /'
  echo "   corpus: $(find "$corpus" -type f | wc -l) files in $corpus"
  if [ $rc -ne 0 ]; then
    echo "   FINDING (exit $rc), see $log:"; grep -E 'ERROR|property broken|Test unit written' "$log" | sed 's/^/   /'
    status=1
  fi
done
exit $status
