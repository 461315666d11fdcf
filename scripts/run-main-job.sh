#!/usr/bin/env bash
# The main job: a whole update cycle of the updater (the testbed build) under
# Wine against a local HTTPS update server on 127.0.0.1:443. The stand-in
# Tamsel.exe 1.0.0 runs in the session; the server offers 2.0.0 in a feed
# signed with the test working key. The check run downloads the stand-in
# setup program, closes the program politely and starts the setup, which
# installs 2.0.0 and starts phase two; phase two logs "updated", reports it
# to the server (the feed asks for outcome reports; the server's answer, a
# 404, does not matter) and the program runs again as 2.0.0. Prints the log,
# the state file, the update folder, the server's report requests and the
# running program's version. Run again the same day, the pass is silent.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bash scripts/install-deps.sh

echo "== building (native tool, Windows updater and stand-ins)"
cmake --preset native >/dev/null
cmake --build --preset native -j 2 --target tamsel-feed >/dev/null
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j 2 --target tamsel-testbed tamsel-bridge-probe standin_v1_0_0 setup_v2_0_0 >/dev/null

build=$root/build/mingw
# A prefix of its own, so the test tiers' folders never mix with this one.
prefix=$build/main-job-wineprefix
harness=$root/tests/support/wine-run
"$harness" --prefix "$prefix" --setup

# What an installer leaves: the program folder with the updater beside
# Tamsel.exe, and the data folders, owned by the (testbed's) system account
# and writable by nobody else.
program=$prefix/drive_c/Program\ Files/Tamsel
data=$prefix/drive_c/ProgramData/Tam_Sel
mkdir -p "$program" "$data/update"
chmod 755 "$data" "$data/update"
cp "$build/tamsel-testbed.exe" "$program/tamsel-update.exe"
# A start of the job on a prefix where the cycle already ran finds 2.0.0
# installed; only a first start (or one after `rm -r build/mingw/main-job-*`)
# lays 1.0.0 down.
[ -f "$program/Tamsel.exe" ] || cp "$build/tests/standin/standin_v1_0_0/Tamsel.exe" "$program/Tamsel.exe"

# The update server's folder: a setup program and the signed feed.
site=$build/main-job-server
mkdir -p "$site/tamsel/files"
cp "$build/tests/standin/setup_v2_0_0/setup.exe" "$site/tamsel/files/tamsel-setup-2.0.0.exe"
size=$(stat -c %s "$site/tamsel/files/tamsel-setup-2.0.0.exe")
sha=$(sha256sum "$site/tamsel/files/tamsel-setup-2.0.0.exe" | cut -d' ' -f1)
cat > "$site/news-document.toml" <<TOML
schema = 1

[[item]]
id = 1
type = "update"
version = "2.0.0"
en = { title = "Tamsel 2.0.0", text = "A newer Tamsel." }

[download]
version = "2.0.0"
url = "https://localhost/tamsel/files/tamsel-setup-2.0.0.exe"
sha256 = "$sha"
size = $size

[report]
prefix = "https://localhost/tamsel/report/"
TOML
"$root/build/native/tools/tamsel-feed" sign tests/keys/test-only-working.pem "$site/news-document.toml" \
  "$site/tamsel/news.toml" >/dev/null

pid_file=$build/main-job-server.pid
python3 tests/support/https_server.py start --root "$site" --pki "$build/test-pki" \
  --lifetime 300 --wait-for-port 120 --pid-file "$pid_file" >/dev/null
stop_all() {
  python3 "$root/tests/support/https_server.py" stop --pid-file "$pid_file" >/dev/null 2>&1 || true
  "$harness" --prefix "$prefix" --teardown
}
trap stop_all EXIT

log=$data/update/updater.log
probe() { "$harness" --prefix "$prefix" "$build/tamsel-bridge-probe.exe" "$@" 2>/dev/null | tr -d '\r'; }
main_exe='C:\Program Files\Tamsel\Tamsel.exe'
if [ -z "$(probe census "$main_exe")" ]; then
  # The user's program, started as a user would; it lives for five minutes.
  TAMSEL_STANDIN_SECONDS=300 setsid "$harness" --prefix "$prefix" "$main_exe" </dev/null >/dev/null 2>&1 &
  for _ in $(seq 1 60); do [ -n "$(probe census "$main_exe")" ] && break; sleep 0.5; done
fi
echo "== Tamsel.exe before: $(python3 tests/support/file_version.py "$program/Tamsel.exe"), running as (pid session): $(probe census "$main_exe" | tr '\n' ' ')"

before=$( [ -f "$log" ] && wc -l < "$log" || echo 0 )
started=$(date +%s)
set +e
"$harness" --prefix "$prefix" "$program/tamsel-update.exe" </dev/null >/dev/null 2>&1
code=$?
set -e
echo "== check run exit code: $code"
# Phase two runs on its own once the setup program is done; wait (bounded)
# until it has written its verdict and given the single-instance mutex back.
if grep -q "setup started" <(tail -n +$((before + 1)) "$log" 2>/dev/null); then
  for _ in $(seq 1 240); do
    tail -n +$((before + 1)) "$log" | grep -qE " (updated|setup did not install|rolled back|rollback did not restore the version|did not start[^:]*|phase two: nothing in flight|state not written|state unreadable) [0-9]" \
      && [ "$(probe gone 'Global\Tam_Sel.Update' 60)" = gone ] && break
    sleep 0.5
  done
fi
after=$( [ -f "$log" ] && wc -l < "$log" || echo 0 )
echo "== this run wrote $((after - before)) log line(s) in $(( $(date +%s) - started )) s (none on a second start the same day)"
echo "== updater.log"
cat "$log" 2>/dev/null || echo "(no log lines)"
echo "== state.toml"
cat "$data/update/state.toml" 2>/dev/null || echo "(no state file)"
echo "== update folder"
ls -l "$data/update"
echo "== setup.log"
cat "$data/update/setup.log" 2>/dev/null || echo "(none)"
echo "== outcome reports in the update server's log"
grep -o '"GET /tamsel/report/[^"]*"' "$pid_file.log" 2>/dev/null || echo "(none)"
echo "== Tamsel.exe now: $(python3 tests/support/file_version.py "$program/Tamsel.exe"), running as (pid session): $(probe census "$main_exe" | tr '\n' ' ')"
