#!/usr/bin/env bash
# Signs Windows executables (tamsel-update.exe, the setup program) and MSI
# packages in place with Authenticode (SHA-256) through osslsigncode, then
# verifies each signature (docs/release-runbook.md, "Signing the Windows binaries").
#
#   sign-windows-binaries.sh (--cert CERT.pem --key KEY.pem | --pkcs12 FILE.p12)
#       [--passphrase-file FILE | --passphrase-env VARIABLE] [--timestamp URL]
#       [--ca CA.pem [--tsa-ca TSA-CA.pem]] [--name TEXT] [--url URL] FILE.exe|FILE.msi...
#
# The key's passphrase comes from a file or an environment variable, never
# from the command line. --ca verifies against that CA (a test CA or the
# issuer's chain) instead of the system's trust store, --tsa-ca the
# timestamp's signer against its own. Exit 0 when every file
# is signed and verifies; 2 on wrong usage; 1 otherwise (a file that failed
# is left as it was).
set -euo pipefail

usage() {  # the synopsis above; to standard error with exit code 2 unless asked for
  local code=${1:-2}
  sed -n '6,8p' "$0" | sed 's/^# \{0,1\}//' >&$((code == 0 ? 1 : 2))
  exit "$code"
}

cert="" key="" pkcs12="" passfile="" passenv="" timestamp="" ca="" tsaca="" name="Tamsel" url=""
files=()
while [ $# -gt 0 ]; do
  case "$1" in
    --cert) cert=${2:?}; shift 2 ;;
    --key) key=${2:?}; shift 2 ;;
    --pkcs12) pkcs12=${2:?}; shift 2 ;;
    --passphrase-file) passfile=${2:?}; shift 2 ;;
    --passphrase-env) passenv=${2:?}; shift 2 ;;
    --timestamp) timestamp=${2:?}; shift 2 ;;
    --ca) ca=${2:?}; shift 2 ;;
    --tsa-ca) tsaca=${2:?}; shift 2 ;;
    --name) name=${2:?}; shift 2 ;;
    --url) url=${2:?}; shift 2 ;;
    -h|--help) usage 0 ;;
    --*) echo "sign-windows-binaries: unknown option $1" >&2; usage ;;
    *) files+=("$1"); shift ;;
  esac
done
[ ${#files[@]} -gt 0 ] || usage
if [ -n "$pkcs12" ]; then
  [ -z "$cert$key" ] || { echo "sign-windows-binaries: --pkcs12 or --cert with --key, not both" >&2; exit 2; }
else
  [ -n "$cert" ] && [ -n "$key" ] || { echo "sign-windows-binaries: give --cert and --key, or --pkcs12" >&2; exit 2; }
fi
[ -z "$passfile" ] || [ -z "$passenv" ] || { echo "sign-windows-binaries: one passphrase source" >&2; exit 2; }
command -v osslsigncode >/dev/null || { echo "sign-windows-binaries: osslsigncode is not installed" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
signer=()
if [ -n "$pkcs12" ]; then signer=(-pkcs12 "$pkcs12"); else signer=(-certs "$cert" -key "$key"); fi
if [ -n "$passenv" ]; then
  [ -n "${!passenv+set}" ] || { echo "sign-windows-binaries: $passenv is not set" >&2; exit 2; }
  (umask 077; printf '%s' "${!passenv}" > "$work/passphrase")
  signer+=(-readpass "$work/passphrase")
elif [ -n "$passfile" ]; then
  signer+=(-readpass "$passfile")
fi
signer+=(-h sha256 -n "$name")
[ -z "$url" ] || signer+=(-i "$url")
[ -z "$timestamp" ] || signer+=(-ts "$timestamp")
checker=()
[ -z "$ca" ] || checker=(-CAfile "$ca")
[ -z "$tsaca" ] || checker+=(-TSA-CAfile "$tsaca")

status=0
for file in "${files[@]}"; do
  signed="$work/$(basename "$file").signed"
  if ! osslsigncode sign "${signer[@]}" -in "$file" -out "$signed" >"$work/log" 2>&1; then
    echo "sign-windows-binaries: $file: signing failed" >&2
    cat "$work/log" >&2
    status=1
    continue
  fi
  if ! osslsigncode verify "${checker[@]}" -in "$signed" >"$work/log" 2>&1; then
    echo "sign-windows-binaries: $file: the new signature does not verify" >&2
    cat "$work/log" >&2
    status=1
    continue
  fi
  # Replace the file whole, keeping its mode.
  chmod --reference="$file" "$signed"
  mv -f "$signed" "$file"
  echo "signed and verified: $file"
done
exit $status
