#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each of them, side by side,
# for a bounded time (default 30 s) from the checked-in seeds. New inputs go to
# build/fuzz/work/<target>, so the seeds stay as they are; a crash, a leak or a
# broken rule fails the script and leaves its input in build/fuzz/artifacts/.
#   scripts/fuzz.sh [seconds] [extra libFuzzer options...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
shift $(($# > 0 ? 1 : 0))

CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DSTARTER_FUZZ=ON >/dev/null
targets=(netstat_listing command_line_reader log_reading)
ninja -C build/fuzz "${targets[@]/#/fuzz_}"

mkdir -p build/fuzz/artifacts
pids=()
for target in "${targets[@]}"; do
  mkdir -p "build/fuzz/work/$target"
  options=(-max_total_time="$seconds" -timeout=10 -print_final_stats=1
           -artifact_prefix="build/fuzz/artifacts/$target-")
  [ -f "fuzz/$target.dict" ] && options+=(-dict="fuzz/$target.dict")
  # The log reader must stay small whatever the log holds: inputs of up to
  # 64 KiB, a process held to 512 MB (the sanitizers' own share included)
  # and no single allocation above 16 MB.
  [ "$target" = log_reading ] && options+=(-max_len=65536 -rss_limit_mb=512 -malloc_limit_mb=16)
  "build/fuzz/fuzz/fuzz_$target" "${options[@]}" "$@" \
    "build/fuzz/work/$target" "fuzz/corpus/$target" >"build/fuzz/$target.log" 2>&1 &
  pids+=($!)
done

failed=0
for i in "${!targets[@]}"; do
  target=${targets[$i]}
  if wait "${pids[$i]}"; then
    echo "fuzz $target: $(grep -E '^#[0-9]+[[:space:]]+DONE' "build/fuzz/$target.log" | tail -1)"
  else
    echo "fuzz $target FAILED (build/fuzz/$target.log):" >&2
    tail -n 40 "build/fuzz/$target.log" >&2
    failed=1
  fi
done
exit $failed
