#!/usr/bin/env bash
# Builds everything and runs every test tier:
#   1. unit, native with AddressSanitizer and UBSan;
#   2. fuzz smoke: each parser's fuzz target briefly from its seeds (clang,
#      libFuzzer); a finding fails it (scripts/fuzz.sh runs them for long);
#   3. platform, the Win32 implementations under Wine;
#   4. end to end, the updater and its stand-ins under Wine;
#   5. a second compiler: the Windows build (product, Win32 tier, stand-ins)
#      with clang for the MinGW target, warnings as errors; compiled only.
# Ends with one summary line over all tiers: "N passed, N failed".
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh || exit 1

passed=0
failed=0
status=0
tally() {  # counts the test cases of one ctest JUnit file
  local counts
  # A test passed when ctest ran it and it succeeded; one that failed, timed
  # out or could not start (a missing fixture, a failed build) counts as
  # failed; a test disabled on purpose counts as neither.
  if ! counts=$(python3 - "$1" <<'PY'
import sys
import xml.etree.ElementTree as ET
cases = ET.parse(sys.argv[1]).getroot().iter("testcase")
statuses = [case.get("status", "") for case in cases]
passed = sum(1 for s in statuses if s == "run")
failed = sum(1 for s in statuses if s not in ("run", "disabled"))
print(passed, failed)
PY
  ); then status=1; return; fi
  passed=$((passed + ${counts% *}))
  failed=$((failed + ${counts#* }))
}

for tier in native fuzz mingw; do
  echo "== $tier: configure and build"
  if ! cmake --preset "$tier" >"/tmp/tamsel-configure-$tier.log" 2>&1; then
    cat "/tmp/tamsel-configure-$tier.log"; status=1; continue
  fi
  if ! cmake --build --preset "$tier" -j 2; then status=1; continue; fi
  echo "== $tier: tests"
  junit=$(mktemp --suffix=.xml)
  ctest --preset "$tier" --output-junit "$junit" || status=1
  tally "$junit"
  rm -f "$junit"
done

echo "== mingw-clang: configure and build (compile only)"
if ! cmake --preset mingw-clang >/tmp/tamsel-configure-mingw-clang.log 2>&1; then
  cat /tmp/tamsel-configure-mingw-clang.log; status=1
elif ! cmake --build --preset mingw-clang -j 2; then
  status=1
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] || status=1
exit $status
