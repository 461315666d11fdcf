#!/usr/bin/env bash
# Times the product's setup download (under Wine) next to curl writing the
# same file plus sha256sum of it, against the same local HTTPS server, and
# compares the peak working set of a 16 MiB and a 1 KiB download.
#   bench/download_bench.sh [mingw-build-folder] [rounds]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build/mingw}" && pwd)
rounds=${2:-5}
prefix=$build/wineprefix
harness=$here/tests/support/wine-run
cmake --build "$build" --target tamsel_download_bench >/dev/null
"$harness" --prefix "$prefix" --setup

site=$(mktemp -d)
work=$prefix/drive_c/tamsel-bench
mkdir -p "$site" "$work"
head -c 16777216 /dev/urandom > "$site/big.exe"
head -c 1024 /dev/urandom > "$site/small.exe"
pid_file=$build/bench-server.pid
python3 "$here/tests/support/https_server.py" start --root "$site" --pki "$build/test-pki" \
  --lifetime 600 --wait-for-port 120 --pid-file "$pid_file" >/dev/null
trap 'python3 "$here/tests/support/https_server.py" stop --pid-file "$pid_file" >/dev/null; rm -rf "$site" "$work"' EXIT

sha() { sha256sum "$1" | cut -d' ' -f1; }
product() {  # file size rounds
  "$harness" --prefix "$prefix" "$build/bench/tamsel_download_bench.exe" \
    "https://localhost/$1" "$2" "$(sha "$site/$1")" 'C:\tamsel-bench' "${3:-1}"
}
echo "== product, 16 MiB, $rounds rounds in one process (round 1 pays Wine's TLS set-up; a check run"
echo "   has paid it already for the feed request when it downloads)"
product big.exe 16777216 "$rounds"
echo "== curl writing the file, then sha256sum of it"
for i in $(seq "$rounds"); do
  t0=$(date +%s.%N)
  curl -s --cacert "$build/test-pki/ca.pem" -o "$work/curl.exe" https://localhost/big.exe
  sha256sum "$work/curl.exe" >/dev/null
  t1=$(date +%s.%N)
  printf 'round %d: %.3f s\n' "$i" "$(echo "$t1 - $t0" | bc -l)"
done
echo "== peak working set"
echo "16 MiB: $(product big.exe 16777216)"
echo "1 KiB:  $(product small.exe 1024)"
