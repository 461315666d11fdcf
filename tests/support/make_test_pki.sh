#!/usr/bin/env bash
# Makes the throw-away PKI of the test tiers in the folder given (idempotent):
#   ca.pem/ca.key              the test CA the Wine prefix trusts
#   localhost.pem/.key         "localhost", signed by the test CA
#   wrongname.pem/.key         "not-localhost", signed by the test CA
#   untrusted.pem/.key         "localhost", self-signed (nobody trusts it)
set -euo pipefail
dir=$1
mkdir -p "$dir"
cd "$dir"
[ -f .complete ] && exit 0
subj() { printf '/CN=%s' "$1"; }
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 3650 \
  -subj "$(subj 'Tamsel Test CA (tests only)')" -keyout ca.key -out ca.pem \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
leaf() {  # name cn signer(ca|self)
  local name=$1 cn=$2 signer=$3
  printf 'subjectAltName=DNS:%s\nbasicConstraints=CA:FALSE\nkeyUsage=digitalSignature\nextendedKeyUsage=serverAuth\n' "$cn" > "$name.ext"
  openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj "$(subj "$cn")" \
    -keyout "$name.key" -out "$name.csr" 2>/dev/null
  if [ "$signer" = ca ]; then
    openssl x509 -req -in "$name.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -days 3650 \
      -extfile "$name.ext" -out "$name.pem" 2>/dev/null
  else
    openssl x509 -req -in "$name.csr" -signkey "$name.key" -days 3650 -extfile "$name.ext" -out "$name.pem" 2>/dev/null
  fi
  rm -f "$name.csr" "$name.ext"
}
leaf localhost localhost ca
leaf wrongname not-localhost ca
leaf untrusted localhost self
touch .complete
