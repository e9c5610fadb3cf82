# Helpers for the end-to-end scenarios (sourced by run-scenarios.sh). They act on
# the desk the way a person does (pointer and keyboard through xdotool) and observe
# it the way a person or the file system could: screenshots, the texts and states of
# its controls read from outside (desk_driver.exe), the files in the data folder and
# exit codes.
#
# Expects: EXE (Tessary.exe), DRIVER (desk_driver.exe), DATA (Unix path of the
# UI-test data folder), SHOTS (screenshot folder), WORK (scratch folder), LOG.

DESK_PID=""
CX=0 CY=0 CW=0 CH=0     # client origin on screen and client size
SCENARIO=""
FAIL_REASONS=()

# --- the desk process ---------------------------------------------------------------

drv() {
  local out rc
  out=$(wine "$DRIVER" "$@" 2>>"$LOG")
  rc=$?
  printf '%s' "$out" | tr -d '\r'
  [ -n "$out" ] && echo
  return $rc
}

# Starts Tessary.exe with the given switches and waits for its window on screen.
start_desk() {
  wine "$EXE" "$@" >>"$LOG" 2>&1 &
  DESK_PID=$!
  if ! drv wait-window 30000 shown >/dev/null; then
    note_fail "the desk window did not appear (a Wine session of this prefix begun without a display would" \
      "hide it: end it with wineserver -k)"
    return 1
  fi
  read_geometry
}

read_geometry() {
  local line
  line=$(drv window | grep '^client ') || return 1
  read -r _ CX CY CW CH <<<"$line"
}

desk_running() { [ -n "$DESK_PID" ] && kill -0 "$DESK_PID" 2>/dev/null; }

# Waits for the desk process to end and sets DESK_RC to its exit code. Fails after
# the timeout. Runs in the scenario's own shell (the desk is its child).
DESK_RC=""
wait_desk_exit() {
  local seconds=${1:-20} i
  DESK_RC=""
  for ((i = 0; i < seconds * 10; i++)); do
    if ! desk_running; then
      wait "$DESK_PID" 2>/dev/null
      DESK_RC=$?
      DESK_PID=""
      return 0
    fi
    sleep 0.1
  done
  return 1
}

# Ends whatever desk this scenario started: Quit first, the process itself last.
stop_desk() {
  if desk_running; then
    click_control 121 >/dev/null 2>&1 || true
    if ! wait_desk_exit 15; then
      kill "$DESK_PID" 2>/dev/null || true
      wait "$DESK_PID" 2>/dev/null || true
    fi
  fi
  DESK_PID=""
  # A desk left without its window would hold the single-instance lock.
  drv wait-gone 10000 >/dev/null || true
}

# The plate (or any image) is loaded when the tool row is enabled.
wait_ready() { drv wait-enabled 105 1 "${1:-90000}" >/dev/null; }

fresh_data_folder() { rm -rf "$DATA"; }

# --- controls ---------------------------------------------------------------------

# "enabled E visible V rect L T R B text ..." of a child control.
control_line() { drv control "$1"; }
control_enabled() { control_line "$1" | awk '{print $2}'; }
control_text() { control_line "$1" | sed -n 's/^.* text //p'; }

control_centre() {
  local line
  line=$(control_line "$1") || return 1
  awk '{printf "%d %d\n", ($6 + $8) / 2, ($7 + $9) / 2}' <<<"$line"
}

# move_to X Y: moves the pointer and waits until it is there. (xdotool's --sync waits
# for a motion that never comes when the pointer is already at the spot.)
move_to() {
  local here
  here=$(xdotool getmouselocation 2>/dev/null | sed -E 's/^x:([0-9-]+) y:([0-9-]+).*/\1 \2/')
  if [ "$here" != "$1 $2" ]; then
    xdotool mousemove --sync "$1" "$2"
  fi
}

click_at() {
  move_to "$1" "$2"
  xdotool click 1
}

click_control() {
  local xy
  xy=$(control_centre "$1") || return 1
  # shellcheck disable=SC2086
  click_at $xy
}

focused_control() { drv focus; }
focus_is() { [ "$(focused_control)" = "$1" ]; }

type_text() { xdotool type --delay 40 -- "$1"; }
# xdotool types a character that is not on the keyboard map by binding it to a spare
# key for that one press and unbinding it at once; on a busy machine Wine can read the
# press after the unbinding and the character is lost. type_until CHAR CMD... types
# CHAR (a single key) up to three times until CMD, which observes its effect, succeeds.
type_until() {
  local ch=$1 i
  shift
  for i in 1 2 3; do
    xdotool type --delay 150 -- "$ch"
    sleep 0.5
    "$@" && return 0
  done
  return 1
}
# wait_screen NAME SECONDS PREDICATE [ARGS...]: takes screenshots named NAME until
# "PREDICATE ARGS... FILE" holds for one (the desk has painted what is awaited) or
# the time is up; prints the last screenshot's path and fails when it never held.
wait_screen() {
  local name=$1 seconds=$2 file end
  shift 2
  end=$(($(date +%s) + seconds))
  while :; do
    file=$(shot "$name")
    if "$@" "$file"; then
      echo "$file"
      return 0
    fi
    if [ "$(date +%s)" -ge "$end" ]; then
      echo "$file"
      return 1
    fi
  done
}
# wait_for SECONDS COMMAND...: runs the command until it succeeds or the time is up.
wait_for() {
  local seconds=$1 i
  shift
  for ((i = 0; i < seconds * 10; i++)); do
    "$@" && return 0
    sleep 0.1
  done
  "$@"
}
# error_style FILE / normal_style FILE: the status line of the screenshot is drawn in
# error style (or not).
error_style() { [ "$(status_error_pixels "$1")" -gt 10 ]; }
normal_style() { [ "$(status_error_pixels "$1")" -lt 5 ]; }
# same_canvas BEFORE FILE: the canvas of FILE is the canvas of BEFORE, pixel for pixel.
same_canvas() { same_pixels "$1" "$2" "$(canvas_area)"; }
other_canvas() { other_pixels "$1" "$2" "$(canvas_area)"; }
# settled_shot NAME: a screenshot whose canvas the next one shows unchanged (the desk
# has painted what it was asked to); prints its path.
settled_shot() {
  local previous file i
  previous=$(shot "$1")
  for ((i = 0; i < 20; i++)); do
    file=$(shot "$1")
    if same_canvas "$previous" "$file"; then
      echo "$file"
      return 0
    fi
    previous=$file
  done
  echo "$file"
  return 1
}
# refusal_shown NAME: a screenshot named NAME shows the status line in error style.
refusal_shown() { [ "$(status_error_pixels "$(shot "$1")")" -gt 10 ]; }
note_box_is() { [ "$(control_text 114)" = "$1" ]; }
press_key() { xdotool key --delay 60 "$@"; }

# --- view arithmetic (the desk's own fit rule, observed from outside) ---------------

# fit_view W H: sets ZOOM, OFFX, OFFY for an image of W x H in the current client size.
fit_view() {
  read -r ZOOM OFFX OFFY < <(awk -v cw="$CW" -v ch="$CH" -v w="$1" -v h="$2" 'BEGIN {
    z = 1.0; a = (cw - 402) / w; b = (ch - 289) / h
    if (a < z) z = a
    if (b < z) z = b
    printf "%.17g %.17g %.17g\n", z, (cw - 370 - w * z) * 0.5, (ch - 257 - h * z) * 0.5 }')
}

# image_to_screen IX IY: the screen pixel that shows an image point (the pixel whose
# square contains it). A click on screen pixel (k, l) means the image point
# screen_to_image k l.
image_to_screen() {
  awk -v cx="$CX" -v cy="$CY" -v z="$ZOOM" -v ox="$OFFX" -v oy="$OFFY" -v ix="$1" -v iy="$2" 'BEGIN {
    sx = cx + 20 + ox + ix * z; sy = cy + 178 + oy + iy * z
    fx = int(sx); if (fx > sx) fx--; fy = int(sy); if (fy > sy) fy--
    printf "%d %d\n", fx, fy }'
}

# screen_to_image SX SY: the image point the desk computes for a screen pixel.
screen_to_image() {
  awk -v cx="$CX" -v cy="$CY" -v z="$ZOOM" -v ox="$OFFX" -v oy="$OFFY" -v sx="$1" -v sy="$2" 'BEGIN {
    printf "%.17g %.17g\n", (sx - cx - 20 - ox) / z, (sy - cy - 178 - oy) / z }'
}

client_to_screen() { echo "$((CX + $1)) $((CY + $2))"; }

# --- screenshots and colours --------------------------------------------------------

# shot NAME: saves a screenshot of the whole screen and prints its path.
shot() {
  # Numbered by the scenario's screenshots so far (shot runs in a subshell).
  local count file
  count=$(find "$SHOTS" -maxdepth 1 -name "$SCENARIO-[0-9]*.png" | wc -l)
  file=$(printf '%s/%s-%02d-%s.png' "$SHOTS" "$SCENARIO" $((count + 1)) "$1")
  /usr/bin/import -window root "$file" 2>>"$LOG"
  echo "$file"
}

# pixel FILE X Y: "R G B" of one screen pixel.
pixel() {
  /usr/bin/convert "$1" -format "%[pixel:p{$2,$3}]" info: 2>>"$LOG" |
    sed -E 's/^[a-z]+a?\(([0-9.]+)%?,([0-9.]+)%?,([0-9.]+)%?.*$/\1 \2 \3/'
}

# colour_count FILE X Y W H HEX [FUZZ]: pixels of the screen rectangle within FUZZ of
# the colour.
colour_count() {
  /usr/bin/convert "$1" -crop "${4}x${5}+${2}+${3}" +repage -alpha off -fuzz "${7:-4%}" \
    -fill black +opaque "$6" -fill white -opaque "$6" -format '%[fx:int(mean*w*h+0.5)]' info: 2>>"$LOG"
}

# pixel_difference A B [CROP]: the number of differing pixels between two images
# (or the same rectangle WxH+X+Y of both), colour channels only.
pixel_difference() {
  local a="$WORK/diff-a.png" b="$WORK/diff-b.png"
  if [ -n "${3:-}" ]; then
    /usr/bin/convert "$1" -crop "$3" +repage -alpha off "png24:$a" 2>>"$LOG"
    /usr/bin/convert "$2" -crop "$3" +repage -alpha off "png24:$b" 2>>"$LOG"
  else
    /usr/bin/convert "$1" -alpha off "png24:$a" 2>>"$LOG"
    /usr/bin/convert "$2" -alpha off "png24:$b" 2>>"$LOG"
  fi
  # compare prints the count on stderr and exits 1 when the images differ, 2 on error.
  local count
  count=$(/usr/bin/compare -metric AE "$a" "$b" null: 2>&1)
  [[ "$count" =~ ^[0-9]+$ ]] || count="error: $count"
  echo "$count"
}

# count_above VALUE N: VALUE is a whole number greater than N.
count_above() { [[ "$1" =~ ^[0-9]+$ ]] && [ "$1" -gt "$2" ]; }

# near "R G B" "R G B" TOL
near() {
  awk -v a="$1" -v b="$2" -v t="$3" 'BEGIN { split(a, p, " "); split(b, q, " ");
    for (i = 1; i <= 3; i++) { d = p[i] - q[i]; if (d < 0) d = -d; if (d > t) exit 1 } }'
}

# Palette of the desk.
ACCENT='#FFB885'
HIGHLIGHT='#B9B1F9'
TEXT_COLOUR='#F2EEE4'
SELECTED_ROW='#413A52'
CANVAS_FILL='#101525'

# Accent pixels on the status line: the error style.
status_error_pixels() {
  local x y
  read -r x y < <(client_to_screen 20 $((CH - 29)))
  colour_count "$1" "$x" "$y" $((CW - 290)) 25 "$ACCENT" 6%
}
status_text_pixels() {
  local x y
  read -r x y < <(client_to_screen 20 $((CH - 29)))
  colour_count "$1" "$x" "$y" $((CW - 290)) 25 "$TEXT_COLOUR" 6%
}

# marker_pixels FILE SX SY HEX: pixels of the colour in the marker's circle box.
marker_pixels() { colour_count "$1" $(($2 - 11)) $(($3 - 11)) 23 23 "$4" 5%; }

# --- sheet files ------------------------------------------------------------------

sheet_marks() { grep -c '"id":' "$1" 2>/dev/null || true; }

# wait_glob PATTERN [SECONDS]: waits until a file matches; prints the first match.
wait_glob() {
  local seconds=${2:-10} i match
  for ((i = 0; i < seconds * 10; i++)); do
    match=$(compgen -G "$1" | head -1)
    if [ -n "$match" ]; then
      echo "$match"
      return 0
    fi
    sleep 0.1
  done
  return 1
}

wait_file() {
  local seconds=${2:-10} i
  for ((i = 0; i < seconds * 10; i++)); do
    [ -e "$1" ] && return 0
    sleep 0.1
  done
  return 1
}

# wait_marks FILE N [SECONDS]: waits until the sheet file holds N markers.
wait_marks() {
  local seconds=${3:-10} i
  for ((i = 0; i < seconds * 10; i++)); do
    [ "$(sheet_marks "$1")" = "$2" ] && return 0
    sleep 0.1
  done
  return 1
}

# --- outcome ------------------------------------------------------------------------

note_fail() { FAIL_REASONS+=("$*"); }

# not COMMAND...: succeeds when the command fails.
not() { ! "$@"; }

# check DESCRIPTION COMMAND...: runs the command; a failure is noted with the description.
check() {
  local description=$1
  shift
  if "$@"; then
    return 0
  fi
  note_fail "$description"
  return 1
}

# --- keyboard and window checks -------------------------------------------------------

# window_field NAME: one value of "desk_driver window" (visible, zoomed, iconic, ...).
window_field() { drv window | sed -n "s/^$1 //p"; }
window_outer() { drv window | sed -n 's/^outer //p'; }

# The canvas of the current client area as a crop geometry WxH+X+Y.
canvas_area() { echo "$((CW - 370))x$((CH - 257))+$((CX + 20))+$((CY + 178))"; }

# mode_active ID FILE: the mode button is drawn filled with the highlight colour.
mode_active() {
  local l t r b
  read -r _ _ _ _ _ l t r b _ < <(control_line "$1")
  [ "$(colour_count "$2" "$l" "$t" $((r - l)) $((b - t)) "$HIGHLIGHT" 6%)" -gt $(((r - l) * (b - t) / 2)) ]
}

# same_pixels A B AREA / other_pixels A B AREA: the two screenshots agree (differ) there.
same_pixels() { [ "$(pixel_difference "$1" "$2" "$3")" = 0 ]; }
other_pixels() { count_above "$(pixel_difference "$1" "$2" "$3")" 100; }

# The desk's windows are listed whole before they are searched: with pipefail,
# "drv windows | grep -q" fails at random when grep stops reading at the first match
# and the writer is cut off.
menu_listed() { grep -q '^#32768 .* visible 1' <<<"$1"; }
# A system or popup menu is open on screen (waits up to three seconds for it).
menu_open() {
  local i list
  for ((i = 0; i < 10; i++)); do
    list=$(drv windows) && menu_listed "$list" && return 0
    sleep 0.3
  done
  return 1
}
# No menu is open; a listing that failed proves nothing.
menu_closed() {
  local list
  list=$(drv windows) || return 1
  ! menu_listed "$list"
}

# matches TEXT REGEX: the text matches the extended regular expression.
matches() { [[ "$1" =~ $2 ]]; }

# --- the keys of the view and the marker list ----------------------------------------

# The inside of the canvas (without its one-pixel outline) in screen pixels: L T W H.
canvas_inside() { echo "$((CX + 22)) $((CY + 180)) $((CW - 374)) $((CH - 261))"; }

# shifted_same BEFORE AFTER DX DY: inside the canvas, AFTER shows what BEFORE showed
# moved by (DX, DY) screen pixels, pixel for pixel, wherever both show the same part.
shifted_same() {
  local l t w h dx=$3 dy=$4
  read -r l t w h < <(canvas_inside)
  local ow=$((w - ${dx#-})) oh=$((h - ${dy#-}))
  [ "$ow" -gt 0 ] && [ "$oh" -gt 0 ] || return 1
  local bx=$l by=$t ax=$l ay=$t
  if [ "$dx" -gt 0 ]; then ax=$((l + dx)); else bx=$((l - dx)); fi
  if [ "$dy" -gt 0 ]; then ay=$((t + dy)); else by=$((t - dy)); fi
  /usr/bin/convert "$1" -crop "${ow}x${oh}+${bx}+${by}" +repage -alpha off "png24:$WORK/shift-a.png" 2>>"$LOG"
  /usr/bin/convert "$2" -crop "${ow}x${oh}+${ax}+${ay}" +repage -alpha off "png24:$WORK/shift-b.png" 2>>"$LOG"
  [ "$(pixel_difference "$WORK/shift-a.png" "$WORK/shift-b.png")" = 0 ]
}

# moved_by BEFORE DX DY AFTER: shifted_same with the screenshot to judge last.
moved_by() { shifted_same "$1" "$4" "$2" "$3"; }

# selected_list_row FILE: which of the five visible list rows is drawn selected
# (0 to 4), or -1 when none is.
selected_list_row() {
  local r x y found=-1
  for r in 0 1 2 3 4; do
    read -r x y < <(client_to_screen $((CW - 330 + 300)) $((239 + 37 * r + 2)))
    if near "$(pixel "$1" "$x" "$y")" "65 58 82" 6; then
      [ "$found" = -1 ] || { echo "several"; return; }
      found=$r
    fi
  done
  echo "$found"
}

# The screen pixel at the middle of the canvas, where a recentred marker is drawn.
canvas_middle() { client_to_screen $((20 + (CW - 370) / 2)) $((178 + (CH - 257) / 2)); }

# hold_key KEY SECONDS WATCHFILE: holds a key down (the display repeats it as a
# keyboard does) while desk_driver watches the middle rows of the canvas. Prints two
# Unix times in milliseconds: just before and just after the key went up (xdotool
# needs a few milliseconds to start). WATCHFILE gets the driver's report.
hold_key() {
  local l t w h i before after
  read -r l t w h < <(canvas_inside)
  wine "$DRIVER" watch-screen $(( ($2 + 3) * 1000 )) "$l" $((t + h / 2 - 50)) "$w" 100 >"$3" 2>>"$LOG" &
  local watcher=$!
  for ((i = 0; i < 100; i++)); do
    grep -q ready "$3" 2>/dev/null && break
    sleep 0.05
  done
  xdotool keydown "$1"
  sleep "$2"
  before=$(date +%s%3N)
  xdotool keyup "$1"
  after=$(date +%s%3N)
  wait "$watcher"
  echo "$before $after"
}
