#!/usr/bin/env bash
# The desk as a Linux user meets it who runs the download under their own Wine: a
# prefix made by plain `wineboot` (no fonts linked into its Fonts folder, no font
# substitutes, none of the project's settings) and Tessary.exe in a folder whose
# name has a space and non-ASCII letters. Checks on a screenshot that every label
# the desk paints itself is drawn: the buttons, the title, the panel, the status
# and information lines.
#
#   tests/ui/run-plain-prefix.sh path/to/Tessary.exe
#
# The prefix is made afresh under the build folder (build/plain-prefix) and its
# server ended afterwards; the screenshot stays in build/ui-shots-plain/.
set -uo pipefail

HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$HERE/../../scripts/common.sh"
source "$TESSARY_ROOT/scripts/display.sh"

if [ $# -lt 1 ] || [ ! -f "$1" ]; then
  echo "usage: $0 path/to/Tessary.exe" >&2
  exit 2
fi
BUILT_EXE="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
BUILD_DIR="$(cd "$(dirname "$BUILT_EXE")/.." && pwd)"
DRIVER="$BUILD_DIR/tests/desk_driver.exe"
if [ ! -f "$DRIVER" ]; then
  cmake --build "$BUILD_DIR" --target desk_driver >/dev/null || { echo "desk_driver.exe is missing" >&2; exit 2; }
fi

export WINEPREFIX="$TESSARY_BUILD/plain-prefix"
SHOTS="$TESSARY_BUILD/ui-shots-plain"
FOLDER="$TESSARY_BUILD/plain-desk/Téléchargé Prüfung"
EXE="$FOLDER/Tessary.exe"
WORK="$(mktemp -d /tmp/tessary-plain.XXXXXX)"
LOG="$SHOTS/wine.log"
rm -rf "$SHOTS" "$TESSARY_BUILD/plain-desk"
mkdir -p "$SHOTS" "$FOLDER"
: >"$LOG"
cp "$BUILT_EXE" "$EXE"

started_server=0
trap end_desk_session EXIT
trap 'exit 130' INT TERM
start_display || exit 2

# A fresh prefix, exactly as plain wineboot makes it.
if [ -d "$WINEPREFIX" ]; then
  WINEPREFIX="$WINEPREFIX" wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
fi
echo "Creating a plain Wine prefix $WINEPREFIX" >&2
wineboot -u >>"$LOG" 2>&1 || true
wineserver -w
if wineserver -p 2>/dev/null; then started_server=1; fi

source "$HERE/desk_lib.sh"
SCENARIO=plain-prefix

# A label is drawn when enough pixels of its box have the colour it is drawn in.
label_drawn() {
  local what=$1 x=$2 y=$3 w=$4 h=$5 colour=$6 least=$7 found
  found=$(colour_count "$SHOT" "$x" "$y" "$w" "$h" "$colour" 8%)
  check "$what is drawn ($found pixels of $colour, at least $least)" [ "${found:-0}" -ge "$least" ]
}

# A button's label: the colour follows its state (disabled, the active mode, normal).
button_drawn() {
  local id=$1 enabled l t r b colour=$TEXT_COLOUR
  read -r _ enabled _ _ _ l t r b _ < <(control_line "$id")
  if [ "$enabled" = 0 ]; then colour='#6E758A'; fi
  if [ "$id" = 109 ]; then colour='#191E31'; fi  # Pan, the active mode: dark on the highlight
  # (the minus sign is a short line of a few pixels)
  label_drawn "the label of button $id" $((l + 2)) $((t + 2)) $((r - l - 4)) $((b - t - 4)) "$colour" 3
}

status=0
if start_desk; then
  if wait_ready; then
    sleep 1
    SHOT=$(shot desk)
    read -r tx ty < <(client_to_screen 66 12)
    label_drawn "the title" "$tx" "$ty" 240 30 "$TEXT_COLOUR" 40
    read -r px py < <(client_to_screen $((CW - 330)) 179)
    label_drawn "the panel heading" "$px" "$py" 305 29 "$TEXT_COLOUR" 20
    read -r px py < <(client_to_screen $((CW - 330)) 244)
    label_drawn "the empty list's note" "$px" "$py" 290 110 '#A9B1C5' 20
    read -r ix iy < <(client_to_screen 20 $((CH - 68)))
    label_drawn "the information line" "$ix" "$iy" $((CW - 380)) 24 '#A9B1C5' 20
    check "the status line is drawn ($(status_text_pixels "$SHOT") pixels)" [ "$(status_text_pixels "$SHOT")" -gt 20 ]
    for id in 100 101 103 104 105 106 107 108 109 110 111 112 113 115 116 117 118 121; do
      button_drawn "$id"
    done
  else
    note_fail "the plate did not finish loading"
  fi
fi
stop_desk

if [ ${#FAIL_REASONS[@]} -eq 0 ]; then
  echo "PASS plain-prefix (screenshot $SHOT)"
else
  echo "FAIL plain-prefix${SHOT:+ (screenshot $SHOT)}"
  for reason in "${FAIL_REASONS[@]}"; do echo "    - $reason"; done
  status=1
fi
exit $status
