#!/usr/bin/env bash
# The main job: one check run of the updater (the testbed build) under Wine
# against a local HTTPS update server on 127.0.0.1:443. The server offers
# version 2.0.0 of Tamsel in a feed signed with the test working key; the
# installed stand-in Tamsel.exe is 1.0.0. Prints the updater's log, its exit
# code and the state file. Run again the same day, the pass is silent.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bash scripts/install-deps.sh

echo "== building (native tool, Windows updater and stand-ins)"
cmake --preset native >/dev/null
cmake --build --preset native -j 2 --target tamsel-feed >/dev/null
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j 2 --target tamsel-testbed standin_v1_0_0 >/dev/null

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
cp "$build/tests/standin/standin_v1_0_0/Tamsel.exe" "$program/Tamsel.exe"

# The update server's folder: a setup program and the signed feed.
site=$build/main-job-server
mkdir -p "$site/tamsel/files"
head -c 300000 /dev/urandom > "$site/tamsel/files/tamsel-setup-2.0.0.exe"
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
before=$( [ -f "$log" ] && wc -l < "$log" || echo 0 )
set +e
"$harness" --prefix "$prefix" "$program/tamsel-update.exe"
code=$?
set -e
after=$( [ -f "$log" ] && wc -l < "$log" || echo 0 )
echo "== exit code: $code; this pass wrote $((after - before)) log line(s) (none on a second start the same day)"
echo "== updater.log"
cat "$data/update/updater.log" 2>/dev/null || echo "(no log lines)"
echo "== state.toml"
cat "$data/update/state.toml" 2>/dev/null || echo "(no state file)"
echo "== update folder"
ls -l "$data/update"
