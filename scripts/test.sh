#!/usr/bin/env bash
# Sets up what is missing, builds both trees and runs every test: the core
# natively under AddressSanitizer and UndefinedBehaviorSanitizer, a short
# fuzzing run of the parsers, static analysis of the product code, then the
# Windows build under two emulators side by side: the host's wine 8 and wine
# 10 from a Debian 13 chroot kept under build/ (scripts/wine10.sh,
# docs/emulators.md). Each runs the whole suite in fresh 32-bit prefixes (in
# two streams) and the suite for 64-bit Windows in a fresh 64-bit one, every
# stream in a network namespace of its own, so none meets another on a port.
set -euo pipefail
cd "$(dirname "$0")/.."
# Each step's start is stamped with the seconds since this script began, so a
# run's log shows where its time went.
step() { echo "== [$SECONDS s] $*"; }
step "setup"
bash scripts/setup.sh
mkdir -p build/test-logs

# The chroot takes a minute or two to make the first time: it is made while
# the trees build, and its log kept in a file.
prepare_log=build/test-logs/wine10-prepare.log
scripts/wine10.sh prepare >"$prepare_log" 2>&1 &
prepare_pid=$!
streams=()
trap 'kill $prepare_pid "${streams[@]}" ${release_check:-} 2>/dev/null || true' EXIT

step "native build and tests"
cmake -S . -B build/native -G Ninja >/dev/null
ninja -C build/native
ctest --test-dir build/native --output-on-failure -j2
step "fuzzing"
scripts/fuzz.sh 30

step "Windows build"
cmake -S . -B build/win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake >/dev/null
ninja -C build/win32
# The test lists are read from the programs once, before the two emulators
# share the build tree (ctest writes them into it on first use); meanwhile
# the analysis runs. It is done before the suites start: several of them
# measure how soon the starter answers, which a busy machine distorts.
STARTER_WINE_PREFIX=$PWD/build/wineprefix-discovery tests/support/wine-session.sh \
  ctest --test-dir build/win32 -N >build/test-logs/discovery.log 2>&1 &
discovery_pid=$!
step "static analysis"
scripts/static_analysis.sh build/win32
wait $discovery_pid || { cat build/test-logs/discovery.log >&2; exit 1; }

# A release: two clones of this commit give the same bytes, and the second,
# signed with a throwaway certificate, gives back those bytes when its
# signatures are removed (scripts/check_release.sh). Its two builds run
# beside the wine suites, at the lowest priority, so the suites' timed runs
# keep the processor they need.
step "Windows suites under both emulators, the release check beside them"
nice -n 19 scripts/check_release.sh >build/test-logs/check_release.log 2>&1 &
release_check=$!

# One stream of tests, in a fresh prefix and a network namespace of its own,
# so no two streams meet on a port, in a registry or in a wine server: the
# prefix's name, its architecture, the capabilities it must show (the tests
# branch on them, and SystemCapabilities fails when one is missing), ctest's
# selection (options and a pattern), then the command that runs a program
# under the emulator (none for the host's wine).
stream() {
  local name=$1 arch=$2 shows=$3 option=$4 pattern=$5; shift 5
  unshare -n bash -euo pipefail -c '
    ip link set lo up
    name=$1 arch=$2 shows=$3 option=$4 pattern=$5; shift 5
    "$@" env STARTER_WINE_ARCH="$arch" STARTER_WINE_PREFIX="$PWD/build/wineprefix-$name" \
      STARTER_EXPECTED_CAPABILITIES="$shows" tests/support/wine-session.sh \
      ctest --test-dir build/win32 --output-on-failure $option "$pattern"
  ' stream "$name" "$arch" "$shows" "$option" "$pattern" "$@"
}

# The runs that wait out the starter's whole wait, half a minute or more
# each, are mostly idle: under each emulator they are a stream of their own,
# beside one that runs the rest of the 32-bit suite and then the suite for
# 64-bit Windows.
waiting='^(RunModes|RunLimitRun|LeftoverMarkerRun|HostileMachine|CannotTellRun)\.'
# The fault injector's sample (tests/fault) runs under each emulator once
# that emulator's suites are done: runs that each fail one system call, the
# same calls reaching different code under each (the runtime's call counts
# differ), in two streams side by side, the scenarios whose runs are mostly
# waits (their failures wait out the wait) beside the others. Its summary
# lines ("fault matrix ...") need the verbose output.
fault='FaultMatrix\.'
fault_waiting='FaultMatrix\..*/(OtherListenerPort|NeverConnectsNoArgument|ReadyServiceProcessAndFile)$'
emulator() {
  local name=$1 shows32=$2 shows64=$3; shift 3
  stream "$name-waiting" win32 "$shows32" -R "$waiting" "$@" >"build/test-logs/$name-waiting.log" 2>&1 &
  local waiting_pid=$! failed=0
  {
    stream "$name" win32 "$shows32" -E "$waiting|$fault" "$@" || failed=1
    stream "$name-win64" win64 "$shows64" -R '^(Wow64Prefix|SystemCapabilities)\.' "$@" || failed=1
  } >"build/test-logs/$name.log" 2>&1
  wait $waiting_pid || failed=1
  return $failed
}

# The fault sample under one emulator, in its two streams.
faults() {
  local name=$1 shows=$2; shift 2
  stream "$name-fault-waiting" win32 "$shows" '-V -R' "$fault_waiting" "$@" \
    >"build/test-logs/$name-fault-waiting.log" 2>&1 &
  local waiting_pid=$! failed=0
  stream "$name-fault" win32 "$shows" "-V -R $fault -E" "$fault_waiting" "$@" >"build/test-logs/$name-fault.log" 2>&1 ||
    failed=1
  wait $waiting_pid || failed=1
  return $failed
}

{
  failed=0
  emulator wine8 none none || failed=1
  faults wine8 none || failed=1
  exit $failed
} &
streams+=($!)
{
  tail --pid=$prepare_pid -f /dev/null
  if [ ! -f build/wine10-root/.starter-ready ]; then
    echo "the wine 10 chroot could not be made: see $prepare_log" >build/test-logs/wine10.log
    exit 1
  fi
  scripts/check_wine10_location.sh >build/test-logs/wine10-location.log 2>&1 || {
    cat build/test-logs/wine10-location.log >build/test-logs/wine10.log; exit 1; }
  failed=0
  emulator wine10 'tcp-owners posix-delete' 'tcp-owners posix-delete wow64-reads' scripts/wine10.sh run || failed=1
  faults wine10 'tcp-owners posix-delete' scripts/wine10.sh run || failed=1
  exit $failed
} &
streams+=($!)

failed=0
for i in 0 1; do
  name=$([ "$i" = 0 ] && echo wine8 || echo wine10)
  status=0
  wait "${streams[$i]}" || status=$?
  for log in "build/test-logs/$name-location.log" "build/test-logs/$name.log" "build/test-logs/$name-waiting.log" \
    "build/test-logs/$name-fault.log" "build/test-logs/$name-fault-waiting.log"; do
    [ -f "$log" ] || continue
    echo "== Windows suites under $name ($log):"
    cat "$log"
  done
  [ "$status" = 0 ] || { echo "== FAILED under $name" >&2; failed=1; }
done
[ -f build/wine10-root/.starter-ready ] || cat "$prepare_log" >&2
echo "== Release check (build/test-logs/check_release.log):"
wait "$release_check" || { cat build/test-logs/check_release.log >&2; echo "== FAILED: the release check" >&2; failed=1; }
cat build/test-logs/check_release.log
step "done"
exit $failed
