#!/usr/bin/env bash
# Checks every include between the folders of src/ against the arrows that
# src/layers.txt allows: an include that runs back up a layer, or a new edge
# between subsystems, fails with the line that makes it.
set -euo pipefail
cd "$(dirname "$0")/.."
declare -A allowed
while IFS=: read -r folder targets; do
  case "$folder" in ''|'#'*) continue ;; esac
  allowed[$folder]=" $folder $targets "
done < src/layers.txt

status=0
for dir in src/*/; do
  folder=$(basename "$dir")
  if [ -z "${allowed[$folder]+set}" ]; then
    echo "layers: src/$folder is not listed in src/layers.txt"
    status=1
    continue
  fi
  while IFS=: read -r file line target; do
    [ -d "src/$target" ] || continue  # a generated header or a library
    case "${allowed[$folder]}" in *" $target "*) ;; *)
      echo "layers: $file:$line includes $target/, which $folder/ may not include"
      status=1 ;;
    esac
  done < <(grep -rnoE '^#include "[a-z_]+/' "$dir" | sed -E 's|^([^:]+):([0-9]+):#include "([a-z_]+)/$|\1:\2:\3|')
done
[ $status -eq 0 ] && echo "layers: every include between the folders of src/ follows src/layers.txt"
exit $status
