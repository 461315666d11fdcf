#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, if missing.
set -euo pipefail
packages=(
  cmake ninja-build g++ python3 openssl libssl-dev
  libgtest-dev libgmock-dev googletest libtomlplusplus-dev
  g++-mingw-w64-x86-64-posix wine64 nsis
  wixl msitools  # the MSI (wixl), and msiinfo/msiextract for its tests
  clang libclang-rt-dev  # fuzz targets: clang's libFuzzer and sanitizer runtimes
  # clang also cross-compiles the Windows build as a second compiler (mingw-clang)
  hyperfine  # bench/noop_pass.sh, run by hand
  # vendor tool: keys in PKCS#11 tokens through OpenSSL's pkcs11 engine, tested
  # against SoftHSM (pkcs11-tool from opensc makes the test token's key)
  libengine-pkcs11-openssl softhsm2 opensc
  osslsigncode  # Authenticode signing of tamsel-update.exe and setup programs
  python3-matplotlib  # bench/fleet.sh: the fleet simulator's chart
  libxml2-utils  # xmllint: the Group Policy templates are checked for well-formedness
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd=sudo
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
