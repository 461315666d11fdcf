#!/usr/bin/env bash
# The main job: builds the updater's testbed and runs one pass of it under
# Wine against the data folder of the build's Wine prefix, then prints the
# log and the exit code.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j 2 --target tamsel-testbed tamsel-update >/dev/null
build=build/mingw
prefix=$build/wineprefix
harness=tests/support/wine-run
"$harness" --prefix "$prefix" --setup

# The folders an installer would make: owned by the (testbed's) system
# account and writable by nobody else.
data=$prefix/drive_c/ProgramData/Tam_Sel
mkdir -p "$data/update"
chmod 755 "$data" "$data/update"

set +e
"$harness" --prefix "$prefix" "$build/tamsel-testbed.exe"
code=$?
set -e
echo "== updater.log"
cat "$data/update/updater.log" 2>/dev/null || echo "(no log lines)"
echo "== exit code: $code"
"$harness" --prefix "$prefix" --teardown
