#!/usr/bin/env bash
# cppcheck and clang-tidy over the product code in src/, with the settings kept
# at the root (.cppcheck-suppressions, .clang-tidy). Any finding fails.
#   scripts/static_analysis.sh [configured Windows build folder, default build/win32]
# clang-tidy works from that folder's compile commands and sees the code as the
# cross compiler does: its target, its C++ library and its system headers.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/win32}
if [ ! -f "$build/compile_commands.json" ]; then
  echo "static analysis: no $build/compile_commands.json; configure the Windows build first" >&2
  exit 2
fi

cppcheck --std=c++17 --platform=win32W --library=windows -I src \
  --enable=warning,style,performance,portability --inline-suppr \
  --suppressions-list=.cppcheck-suppressions --error-exitcode=1 --quiet -j "$(nproc)" src
echo "cppcheck: clean"

# Only the product's entries, without the precompiled-header flags that only
# gcc can read; clang-tidy parses every header itself.
tidy_db=$build/static-analysis
mkdir -p "$tidy_db"
python3 - "$build/compile_commands.json" "$PWD/src/" >"$tidy_db/compile_commands.json" <<'PY'
import json, shlex, sys
source, prefix = sys.argv[1:]
entries = []
for entry in json.load(open(source)):
    if entry["file"].startswith(prefix) and entry["file"].endswith(".cpp"):
        args = shlex.split(entry.pop("command")) if "command" in entry else entry.pop("arguments")
        kept = []
        for arg in args:
            if kept and kept[-1] == "-include" and arg.endswith("cmake_pch.hxx"):
                kept.pop()
            elif arg != "-Winvalid-pch":
                kept.append(arg)
        entries.append(dict(entry, arguments=kept))
json.dump(entries, sys.stdout, indent=1)
PY
mapfile -t files < <(python3 -c 'import json, sys; [print(e["file"]) for e in json.load(sys.stdin)]' \
  <"$tidy_db/compile_commands.json")

# The cross compiler's own include folders, in its order, replace clang's idea
# of a C++ library for this target.
tidy_args=(-p "$tidy_db" --quiet --extra-arg=--target=i686-w64-mingw32 --extra-arg=-nostdinc++)
# The analyzer's default deep mode follows every log call into fmt's
# formatting and spends its node budget there (about 6 s per function that
# logs). Shallow mode inlines only small callees and analyses every function
# of ours on its own.
tidy_args+=(--extra-arg=-Xclang --extra-arg=-analyzer-config --extra-arg=-Xclang
            --extra-arg=mode=shallow)
while read -r folder; do
  tidy_args+=(--extra-arg=-isystem --extra-arg="$folder")
done < <(echo | i686-w64-mingw32-g++-posix -E -x c++ - -v 2>&1 |
         sed -n '/#include <...> search starts here/,/End of search list/{s/^ //p}')

# One file per process; output is shown only for files with findings (clang
# otherwise reports how many warnings it hid in system headers).
tidy_one() {
  local output
  if ! output=$(clang-tidy "$@" 2>&1); then
    printf '%s\n' "$output" | grep -v ' warnings\? generated\.$' >&2
    return 1
  fi
}
export -f tidy_one
printf '%s\0' "${files[@]}" |
  xargs -0 -n 1 -P "$(nproc)" bash -c 'tidy_one "$@"' tidy_one "${tidy_args[@]}"
echo "clang-tidy: clean (${#files[@]} files)"
