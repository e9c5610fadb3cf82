#!/usr/bin/env bash
# Kills the sheet writer during its saves many times, natively and in the Windows
# build under Wine, and reports for each: kills, kills that left a temporary file,
# kills between the two renames of a replacement, and sheets found damaged or
# missing afterwards (goal: none). The test in the suite runs the same writer with
# fewer kills.
#   scripts/crash-kills.sh [kills per build, default 1000] [native|win|both, default both]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$TESSARY_ROOT"
kills="${1:-1000}"
which="${2:-both}"
filter="CrashConsistency.KilledWriterLeavesACompleteOldOrNewSheet"
status=0

report() {  # <build name> <log file> <exit code>
  local line
  line=$(grep -a "crash consistency:" "$2" | tail -1 || true)
  if [ "$3" -eq 0 ] && [ -n "$line" ]; then
    echo "$1: ${line#crash consistency: }"
  else
    echo "$1: FAILED (exit $3)"
    grep -a -E "Failure|error|round" "$2" | head -20 || true
    [ -n "$line" ] && echo "$1: ${line#crash consistency: }"
    status=1
  fi
}

if [ "$which" = native ] || [ "$which" = both ]; then
  cmake -S . -B "$TESSARY_BUILD/native" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
  nice -n 10 cmake --build "$TESSARY_BUILD/native" --target test_observations >/dev/null
  log=$(mktemp)
  rc=0
  TESSARY_CRASH_KILLS="$kills" "$TESSARY_BUILD/native/tests/test_observations" --gtest_filter="$filter" >"$log" 2>&1 || rc=$?
  report native "$log" "$rc"
  rm -f "$log"
fi

if [ "$which" = win ] || [ "$which" = both ]; then
  cmake -S . -B "$TESSARY_BUILD/win" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$TESSARY_ROOT/cmake/mingw-w64-x86_64.cmake" >/dev/null
  nice -n 10 cmake --build "$TESSARY_BUILD/win" --target test_observations >/dev/null
  "$TESSARY_ROOT/scripts/wine-prefix.sh" >/dev/null
  # As scripts/check.sh does: a server already running for this prefix is used as
  # it is, and the prefix's server is ended at the end.
  wineserver -p 2>/dev/null || true
  trap 'wineserver -k 2>/dev/null || true' EXIT
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
  log=$(mktemp)
  rc=0
  (cd "$TESSARY_BUILD/win/tests" &&
    TESSARY_CRASH_KILLS="$kills" wine test_observations.exe --gtest_filter="$filter") >"$log" 2>&1 || rc=$?
  report "windows build under Wine" "$log" "$rc"
  rm -f "$log"
fi
exit "$status"
