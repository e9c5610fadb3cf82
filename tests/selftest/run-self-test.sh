#!/usr/bin/env bash
# Runs the program's own self-test mode under Wine and judges it from the outside:
# the exit code, the report beside the executable (exactly 23 lines: the header, 21
# PASS lines, the summary; LF line ends), the scratch folder gone afterwards and no
# data folder made. The switch must also win over the UI-test switches.
#
#   tests/selftest/run-self-test.sh path/to/Tessary.exe
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/common.sh"

if [ $# -ne 1 ] || [ ! -f "$1" ]; then
  echo "usage: $0 path/to/Tessary.exe" >&2
  exit 2
fi
exe="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
report="$(dirname "$exe")/self-test-results.txt"
[ -f "$WINEPREFIX/.tessary-ready" ] || "$TESSARY_ROOT/scripts/wine-prefix.sh"
# The self-test opens no window, but the first Wine process of a session fixes the
# session's display for every later one (a session begun without a display shows
# later windows nowhere). So run it with a display too, a virtual one if need be.
source "$TESSARY_ROOT/scripts/display.sh"
start_display || exit 2
trap stop_display EXIT

users="$WINEPREFIX/drive_c/users"
problems=()

# run_once ARGS...: one self-test run; checks everything but the report's content.
run_once() {
  local before_scratch data_before=() folder start rc
  before_scratch=$(ls -d "$users"/*/Temp/Tessary-tests-* 2>/dev/null | sort)
  for folder in Tessary Tessary-UI-Test; do
    if ls -d "$users"/*/AppData/Local/"$folder" >/dev/null 2>&1; then data_before+=("$folder"); fi
  done
  rm -f "$report"
  start=$(date +%s.%N)
  wine "$exe" "$@" >/dev/null 2>&1
  rc=$?
  echo "Tessary.exe $* ended with exit code $rc after $(awk -v s="$start" -v e="$(date +%s.%N)" \
    'BEGIN { printf "%.1f", e - s }') s"
  [ "$rc" -eq 0 ] || problems+=("$*: exit code $rc, expected 0")
  if [ "$(ls -d "$users"/*/Temp/Tessary-tests-* 2>/dev/null | sort)" != "$before_scratch" ]; then
    problems+=("$*: a Tessary-tests- scratch folder was left behind")
  fi
  for folder in Tessary Tessary-UI-Test; do
    if ls -d "$users"/*/AppData/Local/"$folder" >/dev/null 2>&1 && [[ ! " ${data_before[*]-} " =~ " $folder " ]]; then
      problems+=("$*: the self-test created the data folder $folder")
    fi
  done
}

check_report() {
  if [ ! -f "$report" ]; then
    problems+=("$1: no report at $report")
    return
  fi
  local lines passes fails
  lines=$(wc -l <"$report")
  passes=$(grep -c '^PASS ' "$report")
  fails=$(grep -c '^FAIL ' "$report")
  [ "$lines" -eq 23 ] || problems+=("$1: the report has $lines lines, expected 23")
  [ "$passes" -eq 21 ] || problems+=("$1: $passes PASS lines, expected 21")
  [ "$(head -n 1 "$report")" = "Tessary native self-test" ] || problems+=("$1: the report's first line is wrong")
  [ "$(tail -n 1 "$report")" = "$passes passed; $fails failed" ] || problems+=("$1: the summary line is wrong")
  if grep -q $'\r' "$report"; then problems+=("$1: the report has CR characters"); fi
  PASSES=$passes
  FAILS=$fails
}

PASSES=0
FAILS=0
run_once --self-test
check_report "--self-test"
cat "$report" 2>/dev/null
first_passes=$PASSES
first_fails=$FAILS

# The switch wins over the UI-test switches: the same checks, and no data folder.
run_once --ui-test-de --self-test
check_report "--ui-test-de --self-test"

for problem in "${problems[@]}"; do echo "problem: $problem"; done
echo "$first_passes passed, $first_fails failed"
[ ${#problems[@]} -eq 0 ]
