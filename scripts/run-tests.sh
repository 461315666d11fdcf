#!/usr/bin/env bash
# Builds everything and runs every test tier:
#   1. unit, native with AddressSanitizer and UBSan;
#   2. fuzz smoke: each parser's fuzz target briefly from its seeds (clang,
#      libFuzzer); a finding fails it (scripts/fuzz.sh runs them for long);
#   3. platform, the Win32 implementations under Wine;
#   4. end to end, the updater and its stand-ins under Wine.
# Ends with one summary line over all tiers: "N passed, N failed".
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh || exit 1

passed=0
failed=0
status=0
tally() {  # reads ctest's closing line from a log
  local line
  line=$(grep -E '[0-9]+ tests failed out of [0-9]+' "$1" | tail -n 1)
  if [ -z "$line" ]; then status=1; return; fi
  local f total
  f=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
  total=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<<"$line")
  passed=$((passed + total - f))
  failed=$((failed + f))
}

for tier in native fuzz mingw; do
  echo "== $tier: configure and build"
  if ! cmake --preset "$tier" >"/tmp/tamsel-configure-$tier.log" 2>&1; then
    cat "/tmp/tamsel-configure-$tier.log"; status=1; continue
  fi
  if ! cmake --build --preset "$tier" -j 2; then status=1; continue; fi
  echo "== $tier: tests"
  log=$(mktemp)
  ctest --preset "$tier" 2>&1 | tee "$log"
  [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
  tally "$log"
  rm -f "$log"
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] || status=1
exit $status
