#!/usr/bin/env bash
# End-to-end scenarios: drives the real Tessary.exe --ui-test under Wine as a person
# would (pointer and keyboard through xdotool at screen positions) and checks what a
# person or the file system can observe: screenshots, control texts and states read
# from outside by desk_driver.exe, the files in the UI-test data folder, exit codes.
#
#   tests/ui/run-scenarios.sh path/to/Tessary.exe [scenario...]
#
# Starts its own virtual display when none is set and stops everything it started.
# Screenshots go to build/ui-shots/. Prints "PASS <name>" or "FAIL <name>" per
# scenario and "N passed, M failed"; exits non-zero when any scenario failed.
set -uo pipefail

HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$HERE/../../scripts/common.sh"
source "$TESSARY_ROOT/scripts/display.sh"

if [ $# -lt 1 ] || [ ! -f "$1" ]; then
  echo "usage: $0 path/to/Tessary.exe [scenario...]" >&2
  exit 2
fi
EXE="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
shift
BUILD_DIR="$(cd "$(dirname "$EXE")/.." && pwd)"
DRIVER="$BUILD_DIR/tests/desk_driver.exe"
if [ ! -f "$DRIVER" ]; then
  cmake --build "$BUILD_DIR" --target desk_driver >/dev/null || { echo "desk_driver.exe is missing" >&2; exit 2; }
fi
PLATE_FILE="$BUILD_DIR/generated-resources/plate.png"
if [ ! -f "$PLATE_FILE" ]; then
  echo "the embedded plate $PLATE_FILE is missing" >&2
  exit 2
fi

SHOTS="$TESSARY_BUILD/ui-shots"
rm -rf "$SHOTS"
mkdir -p "$SHOTS"
WORK="$(mktemp -d /tmp/tessary-e2e.XXXXXX)"
LOG="$SHOTS/wine.log"
: >"$LOG"

"$TESSARY_ROOT/scripts/wine-prefix.sh"
started_server=0
trap end_desk_session EXIT
trap 'exit 130' INT TERM
start_display || exit 2
# A persistent server keeps each Wine start short; check.sh has started one already.
if wineserver -p 2>/dev/null; then started_server=1; fi

source "$HERE/desk_lib.sh"
source "$HERE/scenarios.sh"

# The UI-test data folder of this prefix, as a Unix path.
appdata_windows=$(drv local-appdata) || { echo "cannot find the local application-data folder" >&2; exit 2; }
appdata_unix=$(winepath -u "$appdata_windows" 2>/dev/null | tr -d '\r')
DATA="${appdata_unix%/}/Tessary-UI-Test"
PLATE_SHA=$(sha256sum "$PLATE_FILE" | awk '{print $1}')
read -r PLATE_W PLATE_H < <(od -An -tu1 -j16 -N8 "$PLATE_FILE" | awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}')
SHEET="$DATA/observations/$PLATE_SHA.json"

# Nothing of an earlier run may hold the UI-test lock.
drv wait-gone 1000 >/dev/null || { echo "a UI-test desk is already running" >&2; exit 2; }

all=(start marker_note list_remove_undo marker_limit open_image crop_and_notes damaged_sheet tray_and_quit
     save_failure cyrillic_refused languages keys_after_clicks space_and_tab clipboard_routes window_handling
     keyboard_only arrow_keys zoom_keys marker_walk_keys delete_key note_focus_returns job_outcome_kept
     decode_ahead)
if [ $# -gt 0 ]; then selected=("$@"); else selected=("${all[@]}"); fi

passed=0
failed=0
run_start=$(date +%s)
for name in "${selected[@]}"; do
  SCENARIO="${name//_/-}"
  FAIL_REASONS=()
  fresh_data_folder
  t0=$(date +%s)
  if ! declare -F "scenario_$name" >/dev/null; then
    note_fail "no such scenario"
  else
    "scenario_$name" || [ ${#FAIL_REASONS[@]} -gt 0 ] || note_fail "the scenario stopped early"
  fi
  stop_desk
  if [ ${#FAIL_REASONS[@]} -eq 0 ]; then
    echo "PASS $SCENARIO"
    echo "    ($(( $(date +%s) - t0 )) s)"
    passed=$((passed + 1))
  else
    echo "FAIL $SCENARIO"
    echo "    ($(( $(date +%s) - t0 )) s)"
    for reason in "${FAIL_REASONS[@]}"; do echo "    - $reason"; done
    failed=$((failed + 1))
  fi
done
# TESSARY_UI_KEEP_DATA=1 leaves the last scenario's data folder for a look.
[ "${TESSARY_UI_KEEP_DATA:-0}" = 1 ] || fresh_data_folder
echo "Scenarios took $(( $(date +%s) - run_start )) s; screenshots in $SHOTS"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
