#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine (run as root).
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

# llvm-14 brings llvm-symbolizer, which gives sanitizer and fuzzer reports their source lines.
# osslsigncode signs a release (scripts/release.sh --sign-...); openssl makes the
# release check's throwaway signing certificate.
packages=(wine wine32:i386 wine64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix debootstrap iproute2 libspdlog-dev libfmt-dev
          googletest cmake ninja-build g++ clang libclang-rt-14-dev llvm-14 cppcheck clang-tidy osslsigncode openssl
          python3-jsonschema  # validates the status program's JSON against docs/*.schema.json
          python3-license-expression)  # the SPDX licence list the release's bill of materials is checked with

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null >/dev/null
