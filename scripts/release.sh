#!/usr/bin/env bash
# Builds both programs from the checked-out commit and writes the release to
# dist/ (docs/release.md):
#   zephra_vantic-<version>-win32.zip        the stripped programs, INTEGRATION.txt, licences
#   zephra_vantic-<version>-win32-debug.zip  the debug files the programs' debug links name
#   zephra_vantic-<version>-win32.spdx.json  the bill of materials (SPDX 2.3), derived from the links
#   SHA256SUMS
# The same commit gives the same bytes in any folder, at any time.
#
#   scripts/release.sh [--allow-dirty] [SIGNING]
# A tree with changes that are not committed is refused: its release would not
# be the commit's. --allow-dirty makes one anyway, for trying this script.
#
# SIGNING signs both programs with Authenticode (SHA-256) and writes the same
# three files, with the signed programs, to dist/signed/; dist/ keeps the
# unsigned release, whose bytes the source decides:
#   --sign-cert CERT.pem --sign-key KEY.pem   or   --sign-pkcs12 FILE.p12
#   --sign-url URL            the product's address, shown with its name
#   --sign-timestamp URL      an RFC 3161 time-stamp server (optional)
# A key's or PKCS#12 file's password is read from STARTER_SIGN_PASSWORD.
set -euo pipefail
cd "$(dirname "$0")/.."
# The name the signature shows: the version resources' ProductName.
product="Corvel Vantic"

usage() {
  echo "usage: scripts/release.sh [--allow-dirty] [--sign-cert CERT --sign-key KEY | --sign-pkcs12 FILE]" \
       "[--sign-url URL] [--sign-timestamp URL]" >&2
  exit 2
}

allow_dirty=0 cert="" key="" pkcs12="" url="" timestamp=""
while [ $# -gt 0 ]; do
  case $1 in
    --allow-dirty) allow_dirty=1; shift ;;
    --sign-cert|--sign-key|--sign-pkcs12|--sign-url|--sign-timestamp)
      [ $# -ge 2 ] || usage
      case $1 in
        --sign-cert) cert=$(realpath "$2") ;;
        --sign-key) key=$(realpath "$2") ;;
        --sign-pkcs12) pkcs12=$(realpath "$2") ;;
        --sign-url) url=$2 ;;
        --sign-timestamp) timestamp=$2 ;;
      esac
      shift 2 ;;
    *) usage ;;
  esac
done
# One signer, whole: a certificate with its key, or a PKCS#12 file. A
# signature also names the product's address, so a signer comes with one.
signing=0
if [ -n "$cert$key$pkcs12$url$timestamp" ]; then
  if [ -n "$pkcs12" ] && [ -z "$cert$key" ]; then signing=1
  elif [ -z "$pkcs12" ] && [ -n "$cert" ] && [ -n "$key" ]; then signing=1
  else echo "release: sign with --sign-cert and --sign-key, or with --sign-pkcs12 alone" >&2; exit 2
  fi
  [ -n "$url" ] || { echo "release: a signed release needs the product's address (--sign-url)" >&2; exit 2; }
fi

if [ $allow_dirty = 0 ] && [ -n "$(git status --porcelain)" ]; then
  echo "release: uncommitted changes (scripts/release.sh --allow-dirty to release them anyway):" >&2
  git status --short >&2
  exit 1
fi
bash scripts/setup.sh

# Every time written into the programs and the archives is the last commit's.
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C

# A fresh folder inside the checkout, so the compiler's path map covers it.
build=build/release
rm -rf "$build" dist
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake \
  -DCMAKE_BUILD_TYPE=Release -DSTARTER_TESTS=OFF >/dev/null
ninja -C "$build" -j2 zephra_vantic_starter zephra_vantic_status
# Padded to the signature's alignment, so a signature comes off again cleanly
# (scripts/check_release.sh), whether or not this release is signed.
python3 scripts/release_archives.py --align "$build/zephra_vantic_starter.exe" "$build/zephra_vantic_status.exe"

version=$(sed -n 's/.*kProductVersion\[\] = "\(.*\)";/\1/p' "$build/generated/contract/product_version.h")
python3 scripts/release_archives.py "$build" "$version" dist
(cd dist && cat SHA256SUMS)

# Signs a copy of each program into the folder given. The password reaches
# osslsigncode through a descriptor, never on its command line.
sign_programs() {
  local signed=$1 program
  local signer=(-h sha256 -n "$product" -i "$url")
  if [ -n "$pkcs12" ]; then signer+=(-pkcs12 "$pkcs12"); else signer+=(-certs "$cert" -key "$key"); fi
  if [ -n "$timestamp" ]; then signer+=(-ts "$timestamp"); fi
  if [ -n "${STARTER_SIGN_PASSWORD:-}" ]; then
    signer+=(-readpass /dev/fd/3)
  fi
  mkdir -p "$signed"
  for program in zephra_vantic_starter.exe zephra_vantic_status.exe; do
    osslsigncode sign "${signer[@]}" -in "$build/$program" -out "$signed/$program" \
      3< <(printf '%s' "${STARTER_SIGN_PASSWORD:-}") >/dev/null
  done
}

if [ $signing = 1 ]; then
  sign_programs "$build/signed"
  python3 scripts/release_archives.py "$build" "$version" dist/signed "$build/signed"
  echo "signed (dist/signed):"
  (cd dist/signed && cat SHA256SUMS)
fi
