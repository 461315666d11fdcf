#!/usr/bin/env bash
# Times a pass that has nothing to do (tried today) next to a program that
# does nothing, both started under Wine in the build's prefix with a warm
# wineserver; prints the medians and their ratio (target: at most 1.5).
#   bench/noop_pass.sh [mingw-build-folder] [runs]
# It uses the build's Wine prefix: run it where no Wine tests run beside it.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build/mingw}" && pwd)
runs=${2:-40}
prefix=$build/wineprefix
harness=$here/tests/support/wine-run
command -v hyperfine >/dev/null || { echo "noop_pass: hyperfine is missing (scripts/install-deps.sh)" >&2; exit 2; }
cmake --build "$build" --target tamsel-testbed tamsel_trivial >/dev/null
"$harness" --prefix "$prefix" --setup

# The testbed is the product with the caller counted as the system account.
program_dir=$prefix/drive_c/Program\ Files/Tamsel
update_dir=$prefix/drive_c/ProgramData/Tam_Sel/update
rm -rf "$program_dir" "$prefix/drive_c/ProgramData/Tam_Sel"
mkdir -p "$program_dir" "$update_dir"
cp "$build/tamsel-testbed.exe" "$program_dir/tamsel-update.exe"
cp "$build/bench/tamsel_trivial.exe" "$program_dir/trivial.exe"
printf 'working_key_revoked = false\r\nlast_try = %s\r\n' "$(date +%Y-%m-%d)" > "$update_dir/state.toml"
cp "$update_dir/state.toml" "$program_dir/state.before"
# The prefix's wineserver is ended at the end (it would hold on to whatever
# the script was started with, a lock file among them).
trap 'rm -rf "$program_dir" "$prefix/drive_c/ProgramData/Tam_Sel"; "$harness" --prefix "$prefix" --teardown' EXIT

export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
loader=/usr/lib/wine/wine64
# A pass that did anything (fetched, wrote the state) is no yardstick.
code=0
"$loader" "$program_dir/tamsel-update.exe" </dev/null >/dev/null 2>&1 || code=$?
[ "$code" -eq 0 ] || { echo "noop_pass: the pass ended with $code" >&2; exit 1; }
cmp -s "$update_dir/state.toml" "$program_dir/state.before" || { echo "noop_pass: the pass was not a no-op" >&2; exit 1; }

json=$(mktemp)
hyperfine -N --warmup 3 --runs "$runs" --export-json "$json" \
  -n trivial "$loader '$program_dir/trivial.exe'" \
  -n noop-pass "$loader '$program_dir/tamsel-update.exe'"
python3 - "$json" <<'PY'
import json, sys
results = {r["command"]: r["median"] for r in json.load(open(sys.argv[1]))["results"]}
print(f"median trivial {results['trivial']:.4f} s, no-op pass {results['noop-pass']:.4f} s, "
      f"ratio {results['noop-pass'] / results['trivial']:.2f} (target at most 1.5)")
PY
rm -f "$json"
