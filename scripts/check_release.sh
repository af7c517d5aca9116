#!/usr/bin/env bash
# Two releases of the checked-out commit, each made by scripts/release.sh in a
# fresh clone of its own, at different paths and at different times, must
# give the same files in dist/; no file in their archives, nor their bill of
# materials, may hold the path it was built in, and each bill of materials
# must be complete and name the programs' bytes. The second is also signed,
# with a throwaway self-signed certificate made here: each signed program
# must verify against that certificate and, without its signature, be byte
# for byte the program of the unsigned release. Uncommitted changes are not
# part of the check: it releases the commit, as anyone checking a release
# would.
#   scripts/check_release.sh [work folder, default build/release-check]
#
# A signed release you were given (the folder of its archives and SHA256SUMS)
# is checked against a release of the checked-out commit made here:
#   scripts/check_release.sh --signed FOLDER [--ca-file CERT.pem] [work folder]
# Without --ca-file the signatures are verified against the system's trusted
# certificates.
set -euo pipefail
cd "$(dirname "$0")/.."
programs=(zephra_vantic_starter.exe zephra_vantic_status.exe)

given="" ca_file=""
while [ $# -gt 0 ]; do
  case $1 in
    --signed) given=$(realpath "$2"); shift 2 ;;
    --ca-file) ca_file=$(realpath "$2"); shift 2 ;;
    *) break ;;
  esac
done
work=$(realpath -m "${1:-build/release-check}")
commit=$(git rev-parse HEAD)
rm -rf "$work"
mkdir -p "$work"

# Clones the commit to the folder given and releases it there, with the
# release options that follow.
release_in_clone() {
  local clone=$1 start=$SECONDS; shift
  git clone -q "$PWD" "$clone"
  if [ "$(git -C "$clone" rev-parse HEAD)" != "$commit" ]; then
    echo "release check: the clone of $PWD is not at $commit" >&2
    return 1
  fi
  if ! bash "$clone/scripts/release.sh" "$@" >"$clone.log" 2>&1; then
    echo "release check: scripts/release.sh failed in $clone ($clone.log):" >&2
    tail -n 40 "$clone.log" >&2
    return 1
  fi
  echo "release check: released in $clone in $((SECONDS - start)) s"
}

# The files of two release folders, compared byte for byte.
same_release() {
  local a=$1 b=$2 file
  if ! diff <(find "$a" -maxdepth 1 -type f -printf '%f\n' | sort) \
            <(find "$b" -maxdepth 1 -type f -printf '%f\n' | sort) >/dev/null; then
    echo "release check: $a and $b hold different files" >&2
    return 1
  fi
  for file in "$a"/*; do
    [ -f "$file" ] || continue
    cmp "$file" "$b/${file##*/}"
  done
  (cd "$a" && sha256sum --quiet -c SHA256SUMS)
}

# The bill of materials of a release folder: complete, every relationship
# between its packages, its programs' checksums the archive's (and, given the
# unsigned release, a signed release's unsigned ones that release's).
bill_of_materials() {
  /usr/bin/python3 scripts/release_sbom.py --check "$@"
}

# A signed release against the unsigned one: the same archives, entry for
# entry, but for the programs, which verify (against the certificate given,
# or the system's) and lose their signature to give back the unsigned bytes.
signed_is_unsigned() {
  local signed=$1 unsigned=$2 ca=$3 scratch=$work/signed-check archive entry
  (cd "$signed" && sha256sum --quiet -c SHA256SUMS)
  bill_of_materials "$signed" "$unsigned"
  rm -rf "$scratch"
  for archive in "$unsigned"/*.zip; do
    [ -f "$signed/${archive##*/}" ] || { echo "release check: no ${archive##*/} in $signed" >&2; return 1; }
    python3 -m zipfile -e "$archive" "$scratch/unsigned"
    python3 -m zipfile -e "$signed/${archive##*/}" "$scratch/signed"
  done
  local differences
  differences=$(diff -r -q "$scratch/unsigned" "$scratch/signed" |
                grep -v -F -e "${programs[0]} differ" -e "${programs[1]} differ" || true)
  if [ -n "$differences" ]; then
    echo "$differences" >&2
    echo "release check: $signed differs beyond its programs" >&2
    return 1
  fi
  local top found=0 against=()
  if [ -n "$ca" ]; then against=(-CAfile "$ca"); fi
  for top in "$scratch/signed"/*/; do
    for entry in "${programs[@]}"; do
      [ -f "$top$entry" ] || continue
      found=$((found + 1))
      osslsigncode verify "${against[@]}" -in "$top$entry" >"$scratch/$entry.verify" 2>&1 || {
        cat "$scratch/$entry.verify" >&2; echo "release check: $entry does not verify" >&2; return 1; }
      osslsigncode remove-signature -in "$top$entry" -out "$scratch/$entry" >/dev/null
      if ! cmp "$scratch/$entry" "$scratch/unsigned/${top#"$scratch/signed/"}$entry"; then
        echo "release check: $entry without its signature is not the unsigned program" >&2
        return 1
      fi
      echo "release check: $entry verifies; unsigned: $(sha256sum <"$scratch/$entry" | cut -d' ' -f1)"
    done
  done
  [ $found = ${#programs[@]} ] || { echo "release check: $found signed programs, not ${#programs[@]}" >&2; return 1; }
}

if [ -n "$given" ]; then
  release_in_clone "$work/rebuilt"
  signed_is_unsigned "$given" "$work/rebuilt/dist" "$ca_file"
  echo "release check: the signed release in $given is the commit's programs, signed"
  exit 0
fi

# The signing certificate for this check only: made, used and left in the
# work folder, never in the repository.
throwaway_certificate() {
  local folder=$1
  cat >"$folder/codesign.cnf" <<'CNF'
[req]
distinguished_name = subject
x509_extensions = codesign
prompt = no
[subject]
CN = Release check throwaway code signing
[codesign]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
CNF
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -config "$folder/codesign.cnf" \
    -keyout "$folder/key.pem" -out "$folder/cert.pem" 2>/dev/null
}

# Paths of different lengths: a path that leaked in would also move every
# offset after it. The second one is signed.
a=$work/a b="$work/another/clone/at/a/deeper/path"
throwaway_certificate "$work"
release_in_clone "$a"
release_in_clone "$b" --sign-cert "$work/cert.pem" --sign-key "$work/key.pem" \
  --sign-url https://release-check.invalid/corvel-vantic
same_release "$a/dist" "$b/dist"
bill_of_materials "$a/dist"

# The executables, the debug files and the bills of materials as shipped,
# searched for either clone's folder (they share $work).
unpacked=$work/unpacked
for archive in "$a"/dist/*.zip "$b"/dist/signed/*.zip; do
  python3 -m zipfile -e "$archive" "$unpacked/${archive#"$work"/}"
done
if grep -rlaF "$work" "$unpacked" "$a"/dist/*.spdx.json "$b"/dist/signed/*.spdx.json; then
  echo "release check: the files above hold a build path ($work)" >&2
  exit 1
fi
signed_is_unsigned "$b/dist/signed" "$a/dist" "$work/cert.pem"
echo "release check: identical dist/ from two clones, no build path, signed programs that are the unsigned ones:"
cat "$a/dist/SHA256SUMS"
