#!/usr/bin/env bash
# Makes the README's pictures of the desk from the real program:
#
#   bash scripts/screenshots.sh [path/to/Tessary.exe]     (default build/win/bin/Tessary.exe)
#
# Runs Tessary.exe --ui-test under Wine on a virtual display of its own, places a
# few markers with notes on the built-in plate with the pointer and the keyboard
# (xdotool), as a person would, and saves
#   docs/desk.png      the desk with the plate, markers and a note;
#   docs/guide.png     the guide and credits;
#   docs/desk-de.png   the desk in German (--ui-test-de) with a German note.
# Each is the window alone, scaled down and reduced to 256 colours so it stays a
# few hundred KB. Rerun it whenever the look of the desk changes. It uses the
# UI-test data folder (Tessary-UI-Test), which it empties before and after.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
source "$TESSARY_ROOT/scripts/display.sh"
cd "$TESSARY_ROOT"

EXE="${1:-$TESSARY_BUILD/win/bin/Tessary.exe}"
[ -f "$EXE" ] || { echo "screenshots: $EXE is missing; build it first (bash scripts/desk.sh builds it)" >&2; exit 2; }
EXE="$(cd "$(dirname "$EXE")" && pwd)/$(basename "$EXE")"
BUILD_DIR="$(cd "$(dirname "$EXE")/.." && pwd)"
DRIVER="$BUILD_DIR/tests/desk_driver.exe"
[ -f "$DRIVER" ] || cmake --build "$BUILD_DIR" --target desk_driver >/dev/null
PLATE_FILE="$BUILD_DIR/generated-resources/plate.png"
[ -f "$PLATE_FILE" ] || { echo "screenshots: $PLATE_FILE is missing" >&2; exit 2; }
OUT="$TESSARY_ROOT/docs"
WIDTH=1100   # width of the saved pictures, in pixels

WORK="$(mktemp -d /tmp/tessary-shots.XXXXXX)"
SHOTS="$WORK"
LOG="$WORK/wine.log"
: >"$LOG"

"$TESSARY_ROOT/scripts/wine-prefix.sh"
started_server=0
# Always on a virtual display of its own, so the pictures do not depend on the
# user's screen.
unset DISPLAY
cleanup() {
  set +e
  if [ -n "${DESK_PID:-}" ] && kill -0 "$DESK_PID" 2>/dev/null; then stop_desk; fi
  [ -n "${DATA:-}" ] && rm -rf "$DATA"
  if [ "$started_server" = 1 ]; then wineserver -k 2>/dev/null; fi
  stop_display
  rm -rf "$WORK"
}
trap cleanup EXIT
start_display
if wineserver -p 2>/dev/null; then started_server=1; fi
wine cmd /c exit </dev/null >/dev/null 2>&1 || true

source "$TESSARY_ROOT/tests/ui/desk_lib.sh"

appdata_windows=$(drv local-appdata)
DATA="$(winepath -u "$appdata_windows" 2>/dev/null | tr -d '\r')"
DATA="${DATA%/}/Tessary-UI-Test"
read -r PLATE_W PLATE_H < <(od -An -tu1 -j16 -N8 "$PLATE_FILE" |
  awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}')
drv wait-gone 1000 >/dev/null || { echo "screenshots: a UI-test desk is already running" >&2; exit 2; }

die() {
  echo "screenshots: $*" >&2
  [ -s "$LOG" ] && tail -5 "$LOG" >&2
  exit 1
}

start_plate() {
  fresh_data_folder
  start_desk "$@" || die "the desk window did not appear"
  wait_ready || die "the plate did not load"
  read_geometry
  fit_view "$PLATE_W" "$PLATE_H"
}

# marker IX IY NOTE: Add marker, a click on that point of the plate, then the note.
marker() {
  click_control 110 || die "no Add marker button"
  local xy
  xy=$(image_to_screen "$1" "$2")
  # shellcheck disable=SC2086
  click_at $xy
  sleep 0.4
  [ "$(focused_control)" = 114 ] || die "the note box did not take the focus after a marker"
  type_text "$3"
  sleep 1.6   # saved a second after the typing stops
  # A picture with a garbled note would be wrong: the box must show what was typed.
  [ "$(control_text 114)" = "$3" ] || die "the note box shows '$(control_text 114)' instead of '$3'"
}

# save NAME: the desk's window alone, scaled to WIDTH and reduced to 256 colours.
save() {
  local raw="$WORK/$1-raw.png" l t r b
  sleep 0.5
  /usr/bin/import -window root "$raw"
  read -r _ l t r b < <(drv window | grep '^outer ')
  /usr/bin/convert "$raw" -crop "$((r - l))x$((b - t))+$l+$t" +repage -resize "${WIDTH}x>" \
    -strip -dither None -colors 256 -define png:compression-level=9 -define png:exclude-chunks=date,time \
    "PNG8:$OUT/$1.png"
  echo "$OUT/$1.png: $(stat -c %s "$OUT/$1.png") bytes, $(/usr/bin/identify -format '%wx%h' "$OUT/$1.png")"
}

mkdir -p "$OUT"

echo "== The desk with markers"
start_plate --ui-test
marker $((PLATE_W * 22 / 100)) $((PLATE_H * 30 / 100)) "Faint star cluster above the cloud"
marker $((PLATE_W * 80 / 100)) $((PLATE_H * 24 / 100)) "Possible galaxy pair, compare at 100% pixels"
marker $((PLATE_W * 42 / 100)) $((PLATE_H * 74 / 100)) "Dark dust at the foot of the pillars"
# The last marker stays selected, its note in the note box.
marker $((PLATE_W * 68 / 100)) $((PLATE_H * 44 / 100)) "Bright rim on the tip of the dust pillar"
move_to $((CX + CW - 60)) $((CY + CH - 10))
save desk

echo "== The guide"
click_control 103 || die "no Guide & credits button"
for _ in $(seq 1 50); do [ "$(control_line 120 | awk '{print $4}')" = 1 ] && break; sleep 0.1; done
[ "$(control_line 120 | awk '{print $4}')" = 1 ] || die "the guide did not open"
move_to $((CX + CW - 60)) $((CY + CH - 10))
save guide
stop_desk

echo "== The desk in German"
start_plate --ui-test-de
marker $((PLATE_W * 70 / 100)) $((PLATE_H * 35 / 100)) "Schwache Galaxie?"
marker $((PLATE_W * 42 / 100)) $((PLATE_H * 40 / 100)) "Heller Rand an der Spitze, genauer ansehen"
move_to $((CX + CW - 60)) $((CY + CH - 10))
save desk-de
stop_desk
