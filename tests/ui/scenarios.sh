# The end-to-end scenarios (sourced by run-scenarios.sh). Each starts from a fresh
# UI-test data folder, drives the desk with the pointer and the keyboard, and
# records what it could not see as it should with note_fail. The runner quits or
# ends the desk afterwards.

# --- shared steps -------------------------------------------------------------------

# Starts the desk and waits until the plate is shown; sets the fitted view of the plate.
start_with_plate() {
  start_desk "$@" || return 1
  if ! wait_ready; then
    note_fail "the plate did not finish loading (tool row still disabled)"
    return 1
  fi
  fit_view "$PLATE_W" "$PLATE_H"
}

# add_marker_at IX IY: Add marker mode, then a click on that image point.
add_marker_at() {
  click_control 110 || return 1
  local xy
  xy=$(image_to_screen "$1" "$2")
  # shellcheck disable=SC2086
  click_at $xy
}

# A point of the canvas above the image (the margin of the fitted plate).
canvas_margin_point() {
  local top=$((178 + ${OFFY%.*} / 2))
  client_to_screen $((20 + (CW - 370) / 2)) "$top"
}

# open_path TEXT: clicks the path box, clears it, types the text and presses Enter.
open_path() {
  click_control 102 || return 1
  press_key End
  xdotool key --delay 5 --repeat 200 BackSpace
  type_text "$1"
  press_key Return
}

# Waits for a load or export started from the desk: the tool row goes disabled and
# comes back enabled.
wait_job_done() {
  drv wait-enabled 105 0 1500 >/dev/null || true
  wait_ready "${1:-60000}"
}

# fitting_size W H: the size nearest W x H (never larger) that the fitted view places
# on whole screen pixels, so that each screen pixel shows exactly one image pixel.
fitting_size() {
  local w=$1 h=$2
  [ $(((CW - 370 - w) % 2)) -eq 0 ] || w=$((w - 1))
  [ $(((CH - 257 - h) % 2)) -eq 0 ] || h=$((h - 1))
  echo "$w $h"
}

# make_test_png FILE W H: an RGB image whose every pixel differs from its neighbours.
make_test_png() {
  /usr/bin/convert -size "${2}x${3}" xc:black -channel R -fx 'i/w' -channel G -fx 'j/h' \
    -channel B -fx '((i*7+j*13)%256)/255' +channel -depth 8 -type TrueColor -define png:color-type=2 "$1" \
    2>>"$LOG"
}

# --- scenarios ----------------------------------------------------------------------

# The window comes up, the tool row waits for the plate, the data folders exist.
scenario_start() {
  start_desk --ui-test || return 1
  # The decoding phase is judged only where it was seen: the plate button (disabled
  # while a job runs) reads disabled before and after the screenshot, so the
  # screenshot shows that phase. The decode started ahead may end before the window
  # is first seen: then there is no such phase to look at.
  local early job_before job_after tools
  job_before=$(control_enabled 100)
  tools=$(control_enabled 105)
  early=$(shot decoding)
  job_after=$(control_enabled 100)
  if [ "$job_before" = 0 ] && [ "$job_after" = 0 ]; then
    check "the tool row is disabled while the plate decodes" [ "$tools" = 0 ]
    check "the status line is in normal style while decoding" [ "$(status_error_pixels "$early")" -lt 5 ]
    check "the status line shows a message while decoding" [ "$(status_text_pixels "$early")" -gt 20 ]
  else
    echo "    the plate was shown before the first screenshot: no decoding phase to look at"
  fi
  if ! wait_ready; then
    note_fail "the plate did not finish loading"
    return 1
  fi
  local ready
  ready=$(shot plate-ready)
  local id
  for id in 100 101 102 105 106 107 108 109 110 111 112 113 118 121; do
    check "control $id is enabled once the plate is shown" [ "$(control_enabled "$id")" = 1 ]
  done
  for id in 114 115 116 117; do
    check "control $id is disabled without a selected marker" [ "$(control_enabled "$id")" = 0 ]
  done
  local pair
  for pair in "101=Open image" "110=Add marker" "112=Export crop PNG" "121=Quit Tessary" \
    "107=−" "108=+"; do
    check "button ${pair%%=*} reads ${pair#*=}" [ "$(control_text "${pair%%=*}")" = "${pair#*=}" ]
  done
  check "the window title is Tessary" [ "$(drv window | sed -n 's/^title //p')" = "Tessary" ]
  check "the path box is empty for the plate" [ -z "$(control_text 102)" ]
  check "the data folder has observations" [ -d "$DATA/observations" ]
  check "the data folder has exports" [ -d "$DATA/exports" ]
  check "opening the plate writes no sheet" [ -z "$(ls -A "$DATA/observations")" ]
  # The plate is drawn: the middle of the canvas is no longer the empty canvas colour.
  fit_view "$PLATE_W" "$PLATE_H"
  local centre
  centre=$(image_to_screen $((PLATE_W / 2)) $((PLATE_H / 2)))
  # shellcheck disable=SC2086
  check "the plate is drawn in the canvas" [ "$(colour_count "$ready" $(($(cut -d' ' -f1 <<<"$centre") - 100)) \
    $(($(cut -d' ' -f2 <<<"$centre") - 100)) 200 200 "$CANVAS_FILL" 1%)" -lt 38000 ]
  check "the status line is in normal style when ready" [ "$(status_error_pixels "$ready")" -lt 5 ]
}

# A click in Add marker mode places a marker, the note box takes the keys, the note
# is saved a second after typing; a click in the canvas margin adds nothing.
scenario_marker_note() {
  start_with_plate --ui-test || return 1
  local ix=$((PLATE_W * 3 / 10)) iy=$((PLATE_H * 4 / 10)) before after sx sy
  read -r sx sy < <(image_to_screen "$ix" "$iy")
  before=$(shot before-marker)
  add_marker_at "$ix" "$iy"
  check "the new marker is saved at once" wait_marks "$SHEET" 1 5
  sleep 0.3
  after=$(shot marker-added)
  check "no accent circle before the click" [ "$(marker_pixels "$before" "$sx" "$sy" "$ACCENT")" -lt 60 ]
  check "the selected marker is an accent circle at the click" \
    [ "$(marker_pixels "$after" "$sx" "$sy" "$ACCENT")" -gt 200 ]
  check "the note box has the keyboard focus" [ "$(focused_control)" = 114 ]
  check "the note box is enabled" [ "$(control_enabled 114)" = 1 ]
  check "Remove marker is enabled" [ "$(control_enabled 116)" = 1 ]
  type_text "Dust lane"
  check "the note box shows the typed note" [ "$(control_text 114)" = "Dust lane" ]
  check "the note is not saved while typing" not grep -q '"note": "Dust lane"' "$SHEET"
  sleep 2
  check "the note is saved a second after typing" grep -q '"note": "Dust lane"' "$SHEET"
  check "the sheet names the plate" grep -q "\"imageSHA256\": \"$PLATE_SHA\"" "$SHEET"
  shot note-saved >/dev/null
  # In the margin of the canvas, outside the image: nothing is added.
  local stamp
  stamp=$(stat -c %Y.%s "$SHEET")
  # shellcheck disable=SC2046
  click_at $(canvas_margin_point)
  sleep 1.2
  check "a click outside the image adds no marker" [ "$(sheet_marks "$SHEET")" = 1 ]
  check "a click outside the image writes nothing" [ "$(stat -c %Y.%s "$SHEET")" = "$stamp" ]
}

# List click selects and recentres; Remove marker, then Undo removal.
scenario_list_remove_undo() {
  start_with_plate --ui-test || return 1
  local ax=$((PLATE_W / 5)) ay=$((PLATE_H / 5)) bx=$((PLATE_W * 3 / 4)) by=$((PLATE_H * 2 / 3))
  add_marker_at "$ax" "$ay"
  check "the first marker is saved" wait_marks "$SHEET" 1 5
  local xy
  xy=$(image_to_screen "$bx" "$by")
  # shellcheck disable=SC2086
  click_at $xy
  check "the second marker is saved" wait_marks "$SHEET" 2 5
  # Row 0 of the list holds marker 1; clicking it selects it and brings it to the
  # middle of the canvas.
  local rx ry
  read -r rx ry < <(client_to_screen $((CW - 330 + 200)) $((239 + 16)))
  click_at "$rx" "$ry"
  sleep 0.5
  local selected cx cy
  selected=$(shot list-selected)
  read -r cx cy < <(client_to_screen $((20 + (CW - 370) / 2)) $((178 + (CH - 257) / 2)))
  check "the marker chosen in the list is centred in the canvas and highlighted" \
    [ "$(marker_pixels "$selected" "$cx" "$cy" "$ACCENT")" -gt 200 ]
  local fx fy
  read -r fx fy < <(client_to_screen $((CW - 330 + 300)) $((239 + 2)))
  check "the chosen list row is shown selected" near "$(pixel "$selected" "$fx" "$fy")" "65 58 82" 6
  check "the note box follows the selection" [ "$(control_enabled 114)" = 1 ]
  click_control 116
  check "Remove marker leaves one marker in the sheet" wait_marks "$SHEET" 1 5
  sleep 0.3
  local removed
  removed=$(shot removed)
  check "Undo removal is enabled after a removal" [ "$(control_enabled 117)" = 1 ]
  check "Remove marker is disabled without a selection" [ "$(control_enabled 116)" = 0 ]
  check "the removed marker is gone from the canvas" \
    [ "$(marker_pixels "$removed" "$cx" "$cy" "$ACCENT")" -lt 60 ]
  check "the removed marker is not drawn unselected either" \
    [ "$(marker_pixels "$removed" "$cx" "$cy" "$HIGHLIGHT")" -lt 60 ]
  check "the other marker keeps id 2" grep -q '"id": 2' "$SHEET"
  click_control 117
  check "Undo removal restores the marker" wait_marks "$SHEET" 2 5
  sleep 0.3
  local restored
  restored=$(shot restored)
  check "the restored marker is selected and centred" \
    [ "$(marker_pixels "$restored" "$cx" "$cy" "$ACCENT")" -gt 200 ]
  check "Undo removal is disabled again" [ "$(control_enabled 117)" = 0 ]
  check "the restored marker keeps id 1" grep -q '"id": 1,' "$SHEET"
}

# A sheet with 200 markers refuses the 201st.
scenario_marker_limit() {
  mkdir -p "$DATA/observations"
  {
    printf '{"format":"Tessary","version":1,"imageSHA256":"%s","width":%d,"height":%d,"nextId":201,"marks":[' \
      "$PLATE_SHA" "$PLATE_W" "$PLATE_H"
    local i
    for ((i = 1; i <= 200; i++)); do
      [ "$i" -gt 1 ] && printf ','
      printf '{"id":%d,"x":%d.5,"y":%d.25,"note":"seed %d","createdUTC":1700000000}' \
        "$i" $((i * 60)) $((i * 40)) "$i"
    done
    printf ']}'
  } >"$SHEET"
  local seeded
  seeded=$(sha256sum <"$SHEET")
  start_with_plate --ui-test || return 1
  local ix=$((PLATE_W / 2)) iy=$((PLATE_H * 9 / 10))
  add_marker_at "$ix" "$iy"
  sleep 1
  local refused
  refused=$(shot limit-refused)
  check "the 201st marker shows an error on the status line" [ "$(status_error_pixels "$refused")" -gt 10 ]
  check "the sheet file is unchanged" [ "$(sha256sum <"$SHEET")" = "$seeded" ]
  check "no marker is selected" [ "$(control_enabled 116)" = 0 ]
  local sx sy
  read -r sx sy < <(image_to_screen "$ix" "$iy")
  check "no marker is drawn at the refused point" [ "$(marker_pixels "$refused" "$sx" "$sy" "$ACCENT")" -lt 60 ]
}

# Opening a local PNG by its path; a text file keeps the previous image.
scenario_open_image() {
  local png="$WORK/local view.png" text="$WORK/notes.txt" w h
  echo "not an image" >"$text"
  start_with_plate --ui-test || return 1
  read -r w h < <(fitting_size 160 120)
  make_test_png "$png" "$w" "$h"
  local plate
  plate=$(shot plate)
  local windows_png="Z:${png//\//\\}"
  open_path "$windows_png"
  if ! wait_job_done; then
    note_fail "the local image did not finish loading"
    return 1
  fi
  sleep 0.3
  local opened
  opened=$(shot local-image)
  check "the path box shows the opened path" [ "$(control_text 102)" = "$windows_png" ]
  check "the status line is in normal style" [ "$(status_error_pixels "$opened")" -lt 5 ]
  fit_view "$w" "$h"
  check "the image is shown at 100%" [ "$ZOOM" = 1 ]
  local px py sx sy expected
  for px in 0 10 80 $((w - 1)); do
    for py in 0 5 60 $((h - 1)); do
      read -r sx sy < <(image_to_screen "$px.5" "$py.5")
      expected=$(pixel "$png" "$px" "$py")
      check "screen pixel of image pixel ($px, $py) is the file's" near "$(pixel "$opened" "$sx" "$sy")" "$expected" 0
    done
  done
  # The information line changed from the plate's title to the file's.
  local ix iy
  read -r ix iy < <(client_to_screen 20 $((CH - 68)))
  local changed
  changed=$(pixel_difference "$plate" "$opened" "$((CW - 380))x24+$ix+$iy")
  check "the information line changed ($changed pixels)" count_above "$changed" 50
  # A text file is refused: the image stays, the error shows.
  local windows_text="Z:${text//\//\\}"
  open_path "$windows_text"
  wait_job_done
  sleep 0.3
  local refused
  refused=$(shot text-refused)
  check "a text file shows an error on the status line" [ "$(status_error_pixels "$refused")" -gt 10 ]
  read -r sx sy < <(image_to_screen 80.5 60.5)
  check "the previous image stays on screen" near "$(pixel "$refused" "$sx" "$sy")" "$(pixel "$png" 80 60)" 0
  check "the path box keeps the typed text" [ "$(control_text 102)" = "$windows_text" ]
}

# The plate decoded ahead at start-up is the one the first load shows: once ready the
# desk holds one decoded plate in private memory (RssAnon), not the plate decoded
# ahead beside the plate decoded again; and a second start, which hands over to the
# first desk, decodes nothing (its peak resident memory stays far below one plate).
scenario_decode_ahead() {
  start_with_plate --ui-test || return 1
  local plate_kb=$((PLATE_W * PLATE_H * 4 / 1024)) anon second
  anon=$(awk '/^RssAnon/ {print $2}' "/proc/$DESK_PID/status")
  second=$(python3 -c 'import resource, subprocess, sys
subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)' wine "$EXE" --ui-test)
  echo "    ready: private memory $((anon / 1024)) MiB beside one decoded plate of $((plate_kb / 1024)) MiB;" \
    "a second start peaked at $((second / 1024)) MiB resident"
  check "the desk holds one decoded plate, not two ($anon kB)" [ "$anon" -lt $((plate_kb * 7 / 4)) ]
  check "a second start decodes nothing ($second kB at its peak)" [ "$second" -lt $((plate_kb / 2)) ]
  check "the second start showed the desk it handed over to" drv wait-window 10000 shown
}

# The outcome of the last job the person started stays on the status line however
# the desk is hidden and shown around the job's end: a file that is no image is
# opened and the desk hidden at once, the load ends while it is hidden, a second
# start shows it again and brings the plate back; the refusal is still reported and
# the typed path still typed.
scenario_job_outcome_kept() {
  local text="$WORK/notes.txt"
  echo "not an image" >"$text"
  start_with_plate --ui-test || return 1
  local windows_text="Z:${text//\//\\}"
  click_control 102 || return 1
  type_text "$windows_text"
  check "the path is typed" drv wait-text 102 5000 "$windows_text"
  press_key Return Escape
  if ! drv wait-hidden 10000 >/dev/null; then
    note_fail "Escape did not hide the desk"
    return 1
  fi
  check "the load ended while the desk was hidden" drv wait-enabled 100 1 60000
  check "the desk is still hidden" [ "$(window_field visible)" = 0 ]
  wine "$EXE" --ui-test >>"$LOG" 2>&1
  check "a second start shows the desk again" drv wait-window 10000 shown
  if ! wait_job_done 90000; then
    note_fail "the plate did not come back"
    return 1
  fi
  read_geometry
  check "the refusal is still on the status line" wait_screen shown-again 10 error_style >/dev/null
  check "the path box keeps the typed path (got '$(control_text 102)')" [ "$(control_text 102)" = "$windows_text" ]
}

# A crop of a local image exports its exact pixels with a record; the notes export
# writes the sheet as JSON and CSV.
scenario_crop_and_notes() {
  local png="$WORK/crop-source.png" w h
  start_with_plate --ui-test || return 1
  read -r w h < <(fitting_size 200 150)
  make_test_png "$png" "$w" "$h"
  cp "$png" "$WORK/crop-source-before.png"
  open_path "Z:${png//\//\\}"
  if ! wait_job_done; then
    note_fail "the source image did not load"
    return 1
  fi
  fit_view "$w" "$h"
  click_control 111
  local x0 y0 x1 y1
  read -r x0 y0 < <(image_to_screen 30.2 20.7)
  read -r x1 y1 < <(image_to_screen 97.6 71.1)
  move_to "$x0" "$y0"
  xdotool mousedown 1
  move_to $(((x0 + x1) / 2)) $(((y0 + y1) / 2))
  move_to "$x1" "$y1"
  xdotool mouseup 1
  sleep 0.3
  shot crop-selected >/dev/null
  # The crop the desk forms from those two screen points: floor of the smaller,
  # ceiling of the larger corner, in image pixels.
  local cx cy cw ch
  read -r cx cy cw ch < <(awk -v a="$(screen_to_image "$x0" "$y0")" -v b="$(screen_to_image "$x1" "$y1")" 'BEGIN {
    split(a, p, " "); split(b, q, " ");
    l = p[1] < q[1] ? p[1] : q[1]; r = p[1] < q[1] ? q[1] : p[1];
    t = p[2] < q[2] ? p[2] : q[2]; u = p[2] < q[2] ? q[2] : p[2];
    fl = int(l); if (fl > l) fl--; ft = int(t); if (ft > t) ft--;
    cr = int(r); if (cr < r) cr++; cu = int(u); if (cu < u) cu++;
    printf "%d %d %d %d\n", fl, ft, cr - fl, cu - ft }')
  click_control 112
  wait_job_done
  local record png_out
  record=$(ls "$DATA"/exports/Tessary-*.json 2>/dev/null | grep -v -- '-notes.json' | head -1)
  png_out="${record%.json}.png"
  if [ -z "$record" ] || [ ! -f "$png_out" ]; then
    note_fail "the crop export wrote no PNG and record pair"
    return 1
  fi
  sleep 0.2
  shot crop-exported >/dev/null
  check "the exported PNG is ${cw}x${ch}" [ "$(/usr/bin/identify -format '%wx%h' "$png_out")" = "${cw}x${ch}" ]
  /usr/bin/convert "$png" -crop "${cw}x${ch}+${cx}+${cy}" +repage "$WORK/expected-crop.png"
  local differing
  differing=$(pixel_difference "$png_out" "$WORK/expected-crop.png")
  check "the exported pixels equal the source region ($differing differ)" [ "$differing" = 0 ]
  check "the exported pixels are opaque" [ "$(/usr/bin/convert "$png_out" -alpha extract -format '%[fx:minima]' info:)" = 1 ]
  check "the record names the format" grep -q '"format": "Tessary crop"' "$record"
  check "the record names the source by its SHA-256" \
    grep -q "\"sourceSHA256\": \"$(sha256sum "$png" | awk '{print $1}')\"" "$record"
  check "the record credits the local image" grep -q '"credit": "User-provided local image"' "$record"
  check "the record holds the crop" \
    bash -c "tr -d ' \n' <'$record' | grep -q '\"crop\":{\"height\":$ch,\"width\":$cw,\"x\":$cx,\"y\":$cy}'"
  check "the source image file is unchanged" cmp -s "$png" "$WORK/crop-source-before.png"
  # A marker with a note, then Export notes.
  local sheet="$DATA/observations/$(sha256sum "$png" | awk '{print $1}').json"
  add_marker_at 150.5 100.5
  check "the marker on the local image is saved" wait_marks "$sheet" 1 5
  # The point the desk stored is the image point of the screen pixel clicked.
  local mx my
  read -r mx my < <(screen_to_image $(image_to_screen 150.5 100.5))
  type_text 'Crater, "rim"'
  click_control 113
  local notes_json notes_csv
  wait_glob "$DATA/exports/*-notes.csv" 5 >/dev/null
  sleep 0.3
  notes_json=$(ls "$DATA"/exports/*-notes.json 2>/dev/null | head -1)
  notes_csv=$(ls "$DATA"/exports/*-notes.csv 2>/dev/null | head -1)
  if [ -z "$notes_json" ] || [ -z "$notes_csv" ]; then
    note_fail "Export notes wrote no JSON and CSV pair"
    return 1
  fi
  check "the notes JSON and CSV share one stem" [ "${notes_json%-notes.json}" = "${notes_csv%-notes.csv}" ]
  check "the notes JSON equals the saved sheet" cmp -s "$notes_json" "$sheet"
  check "the CSV starts with its header line" \
    [ "$(head -c 43 "$notes_csv")" = "$(printf 'marker,x_pixels,y_pixels,created_utc,note\r\n')" ]
  check "the CSV row holds the point and the note with doubled quotes" grep -q \
    "^1,$(printf '%.6f,%.6f' "$mx" "$my"),[0-9]*,\"Crater, \"\"rim\"\"\"" "$notes_csv"
  shot notes-exported >/dev/null
}

# A damaged sheet is copied aside untouched and a recovery sheet takes over.
scenario_damaged_sheet() {
  mkdir -p "$DATA/observations"
  printf '{"format":"Tessary","version":1, this is damaged' >"$SHEET"
  cp "$SHEET" "$WORK/damaged-original"
  start_with_plate --ui-test || return 1
  sleep 0.5
  local recovered
  recovered=$(shot recovery-active)
  local copy
  copy=$(ls "$SHEET".damaged-* 2>/dev/null | head -1)
  check "a .damaged- copy of the sheet appears" [ -n "$copy" ]
  [ -n "$copy" ] && check "the .damaged- copy holds the original bytes" cmp -s "$copy" "$WORK/damaged-original"
  check "the damaged copy is named by a Unix time" bash -c "[[ '$copy' =~ \\.damaged-[0-9]{9,}$ ]]"
  check "the original sheet keeps its bytes" cmp -s "$SHEET" "$WORK/damaged-original"
  check "the recovery is reported as an error" [ "$(status_error_pixels "$recovered")" -gt 10 ]
  check "nothing is written before a change" [ ! -e "$SHEET.recovery.json" ]
  add_marker_at $((PLATE_W / 3)) $((PLATE_H / 3))
  check "the first change goes to the recovery sheet" wait_marks "$SHEET.recovery.json" 1 5
  check "the original sheet still keeps its bytes" cmp -s "$SHEET" "$WORK/damaged-original"
  check "no backup of the damaged sheet is written" [ ! -e "$SHEET.bak" ]
}

# Escape hides the desk and frees the image; a second start brings it back and
# exits 0; Quit saves and ends with 0.
scenario_tray_and_quit() {
  start_with_plate --ui-test || return 1
  sleep 1
  local rss_shown rss_hidden
  rss_shown=$(awk '/^VmRSS/ {print $2}' "/proc/$DESK_PID/status")
  # A click on the canvas gives the desk the keyboard; Escape in Pan mode hides it.
  # shellcheck disable=SC2046
  click_at $(canvas_margin_point)
  press_key Escape
  if ! drv wait-hidden 10000 >/dev/null; then
    note_fail "Escape did not hide the window"
    return 1
  fi
  sleep 1.5
  shot hidden >/dev/null
  rss_hidden=$(awk '/^VmRSS/ {print $2}' "/proc/$DESK_PID/status")
  check "hiding releases the decoded plate (resident memory $rss_shown kB -> $rss_hidden kB)" \
    [ $((rss_shown - rss_hidden)) -gt 300000 ]
  check "the desk keeps running while hidden" desk_running
  local second_rc
  wine "$EXE" --ui-test >>"$LOG" 2>&1
  second_rc=$?
  check "a second start exits with 0 (got $second_rc)" [ "$second_rc" = 0 ]
  check "a second start shows the hidden window" drv wait-window 10000 shown
  if ! wait_job_done 90000; then
    note_fail "the plate did not load again after the window came back"
    return 1
  fi
  sleep 0.3
  shot restored >/dev/null
  check "the window came back fitted with the plate" [ "$(control_enabled 105)" = 1 ]
  # A note typed just before Quit is saved by Quit itself.
  read_geometry
  fit_view "$PLATE_W" "$PLATE_H"
  add_marker_at $((PLATE_W / 2)) $((PLATE_H / 2))
  check "the marker is saved" wait_marks "$SHEET" 1 5
  type_text "Saved by Quit"
  click_control 121
  wait_desk_exit 30 || { note_fail "Quit did not end the desk"; return 1; }
  check "Quit ends the desk with exit code 0 (got $DESK_RC)" [ "$DESK_RC" = 0 ]
  check "Quit saved the note" grep -q '"note": "Saved by Quit"' "$SHEET"
}

# When the sheet cannot be saved the error shows and Quit keeps the desk running.
scenario_save_failure() {
  start_with_plate --ui-test || return 1
  # The sheet's temporary file is blocked by a folder of that name, so every save
  # fails. (A read-only observations folder would not do: Wine maps it to Unix modes,
  # which do not stop root, and the scenarios often run as root.)
  mkdir -p "$SHEET.tmp"
  add_marker_at $((PLATE_W / 4)) $((PLATE_H / 2))
  sleep 0.8
  local failed
  failed=$(shot save-failed)
  check "the failed save is reported as an error" [ "$(status_error_pixels "$failed")" -gt 10 ]
  check "no sheet file is written" [ ! -e "$SHEET" ]
  local sx sy
  read -r sx sy < <(image_to_screen $((PLATE_W / 4)) $((PLATE_H / 2)))
  check "the marker stays in memory" [ "$(marker_pixels "$failed" "$sx" "$sy" "$ACCENT")" -gt 200 ]
  click_control 121
  sleep 2
  check "Quit does not end the desk while the sheet cannot be saved" desk_running
  check "the window stays shown" [ "$(drv window | sed -n 's/^visible //p')" = 1 ]
  shot quit-refused >/dev/null
  # Once the folder is gone the same Quit saves and ends.
  rmdir "$SHEET.tmp"
  click_control 121
  wait_desk_exit 30 || { note_fail "Quit did not end the desk after the save could succeed"; return 1; }
  check "Quit then ends with exit code 0 (got $DESK_RC)" [ "$DESK_RC" = 0 ]
  check "Quit then saved the marker" wait_marks "$SHEET" 1 2
}

# A Cyrillic letter typed into the note box is refused; the stored note stays.
scenario_cyrillic_refused() {
  start_with_plate --ui-test || return 1
  add_marker_at $((PLATE_W * 2 / 3)) $((PLATE_H / 4))
  check "the marker is saved" wait_marks "$SHEET" 1 5
  type_text "Caf"
  check "a Latin letter beyond ASCII reaches the note box" type_until "é" note_box_is "Café"
  sleep 2
  check "the note is saved" grep -q '"note": "Café"' "$SHEET"
  local saved
  saved=$(sha256sum <"$SHEET")
  check "the refusal shows as an error" type_until "Ж" refusal_shown cyrillic-refused
  check "the Cyrillic letter is not in the note box" note_box_is "Café"
  sleep 1.5
  check "the stored note is unchanged" [ "$(sha256sum <"$SHEET")" = "$saved" ]
}

# The Spanish and German switches give translated labels.
scenario_languages() {
  local lang switch labels screens=() rects=()
  for lang in es de; do
    switch="--ui-test-$lang"
    start_desk "$switch" || return 1
    if [ "$lang" = es ]; then
      labels=("101=Abrir imagen" "110=Añadir marca" "121=Salir de Tessary" "104=Cerrar")
    else
      labels=("101=Bild öffnen" "110=Markierung" "121=Tessary beenden" "104=Schließen")
    fi
    local pair text
    for pair in "${labels[@]}"; do
      text=$(control_text "${pair%%=*}")
      check "$lang: button ${pair%%=*} reads ${pair#*=} (read \"$text\")" [ "$text" = "${pair#*=}" ]
    done
    wait_ready
    sleep 0.3
    local screen l t r b
    screen=$(shot "$lang")
    read -r _ _ _ _ _ l t r b _ < <(control_line 101)
    check "$lang: the Open image button is drawn with its label in light text" \
      [ "$(colour_count "$screen" "$l" "$t" $((r - l)) $((b - t)) "$TEXT_COLOUR" 8%)" -gt 20 ]
    screens+=("$screen")
    rects+=("$((r - l))x$((b - t))+$l+$t")
    stop_desk
  done
  # The two labels are drawn differently on screen.
  local differing
  differing=$(pixel_difference "${screens[0]}" "${screens[1]}" "${rects[0]}")
  check "the Spanish and German Open image buttons look different ($differing pixels)" \
    count_above "$differing" 20
}

# --- the keyboard in the states a person reaches -----------------------------------

# keyboard_lives WHAT: after WHAT the desk window has the keyboard and the single-key
# shortcuts act: M and C choose their modes, Escape leaves the mode without hiding,
# F fits the view again after the wheel zoomed it.
keyboard_lives() {
  local what=$1 f
  check "$what: the keyboard focus is on the desk window (focus $(focused_control))" [ "$(focused_control)" = 0 ]
  press_key m
  f=$(shot "$what-m")
  check "$what: M chooses Add marker" mode_active 110 "$f"
  press_key c
  f=$(shot "$what-c")
  check "$what: C chooses Select crop" mode_active 111 "$f"
  press_key Escape
  f=$(shot "$what-escape")
  check "$what: Escape leaves Crop mode for Pan" mode_active 109 "$f"
  check "$what: Escape out of a mode keeps the window shown" [ "$(window_field visible)" = 1 ]
  local area fitted zoomed refitted cx cy
  area=$(canvas_area)
  press_key f
  fitted=$(shot "$what-fitted")
  read -r cx cy < <(client_to_screen $((20 + (CW - 370) / 2)) $((178 + (CH - 257) / 2)))
  move_to "$cx" "$cy"
  xdotool click 4
  sleep 0.3
  zoomed=$(shot "$what-wheel")
  check "$what: the wheel zoomed the canvas" other_pixels "$fitted" "$zoomed" "$area"
  press_key f
  sleep 0.2
  refitted=$(shot "$what-f")
  check "$what: F fits the view again" same_pixels "$fitted" "$refitted" "$area"
}

# Each button that disables itself (or the tool row) when clicked leaves the
# keyboard with the desk: Sky plate, Open image, Enter in the path box, Export crop
# PNG, Remove marker and Undo removal; Ctrl+S saves what a failed save left
# unsaved; Escape in Pan mode hides the desk.
scenario_keys_after_clicks() {
  local png="$WORK/keys.png" w h
  start_with_plate --ui-test || return 1
  click_control 100
  wait_job_done || { note_fail "the plate did not load again"; return 1; }
  keyboard_lives "sky-plate"

  read -r w h < <(fitting_size 240 180)
  make_test_png "$png" "$w" "$h"
  local windows_png="Z:${png//\//\\}"
  click_control 102
  type_text "$windows_png"
  click_control 101
  wait_job_done || { note_fail "the local image did not load"; return 1; }
  keyboard_lives "open-image"

  open_path "$windows_png"
  wait_job_done || { note_fail "Enter in the path box loaded nothing"; return 1; }
  keyboard_lives "path-enter"

  fit_view "$w" "$h"
  click_control 111
  local x0 y0 x1 y1
  read -r x0 y0 < <(image_to_screen 20.5 20.5)
  read -r x1 y1 < <(image_to_screen 90.5 70.5)
  move_to "$x0" "$y0"
  xdotool mousedown 1
  move_to "$x1" "$y1"
  xdotool mouseup 1
  click_control 112
  wait_job_done || { note_fail "the crop export did not end"; return 1; }
  check "the crop was exported" wait_glob "$DATA/exports/Tessary-*.png" 5
  keyboard_lives "export-crop"

  # Remove marker and Undo removal while the sheet cannot be saved: the change
  # stays unsaved (the one timer save fails too) until Ctrl+S saves it.
  local sheet="$DATA/observations/$(sha256sum "$png" | awk '{print $1}').json"
  add_marker_at 120.5 90.5
  check "the marker is saved" wait_marks "$sheet" 1 5
  mkdir -p "$sheet.tmp"
  click_control 116
  sleep 2
  rmdir "$sheet.tmp"
  check "the removal is not saved yet" [ "$(sheet_marks "$sheet")" = 1 ]
  keyboard_lives "remove-marker"
  press_key ctrl+s
  check "remove-marker: Ctrl+S saves the removal" wait_marks "$sheet" 0 5

  mkdir -p "$sheet.tmp"
  click_control 117
  sleep 2
  rmdir "$sheet.tmp"
  check "the undone removal is not saved yet" [ "$(sheet_marks "$sheet")" = 0 ]
  keyboard_lives "undo-removal"
  press_key ctrl+s
  check "undo-removal: Ctrl+S saves the restored marker" wait_marks "$sheet" 1 5

  press_key Escape
  check "Escape in Pan mode hides the desk" drv wait-hidden 10000
  wine "$EXE" --ui-test >>"$LOG" 2>&1
  check "a second start shows the desk again" drv wait-window 10000 shown
  wait_job_done
}

# Space never clicks "Guide & credits" through its label; Tab and Shift+Tab leave
# the note box and the guide text.
scenario_space_and_tab() {
  start_with_plate --ui-test || return 1
  # shellcheck disable=SC2046
  click_at $(canvas_margin_point)
  check "a click on the canvas gives the window the keyboard" [ "$(focused_control)" = 0 ]
  press_key space
  sleep 0.3
  check "Space on the window does not open the guide" [ "$(control_line 119 | awk '{print $4}')" = 0 ]
  # Another mode first, so that a Space that clicks Pan shows.
  press_key m
  check "M chooses Add marker before Space" mode_active 110 "$(shot mark-before-space)"
  local i
  for ((i = 0; i < 20; i++)); do
    [ "$(focused_control)" = 109 ] && break
    press_key Tab
  done
  check "Tab reaches the Pan button" [ "$(focused_control)" = 109 ]
  press_key space
  sleep 0.3
  check "Space on a button does not open the guide" [ "$(control_line 119 | awk '{print $4}')" = 0 ]
  check "Space clicked the focused button itself (Pan is chosen)" mode_active 109 "$(shot space-on-pan)"

  add_marker_at $((PLATE_W / 2)) $((PLATE_H / 2))
  check "the marker is saved" wait_marks "$SHEET" 1 5
  check "the note box has the keyboard" [ "$(focused_control)" = 114 ]
  press_key Tab
  check "Tab leaves the note box for the first control (got $(focused_control))" [ "$(focused_control)" = 100 ]
  press_key shift+Tab
  check "Shift+Tab goes back to the note box (got $(focused_control))" [ "$(focused_control)" = 114 ]
  press_key shift+Tab
  check "Shift+Tab leaves the note box for the path box (got $(focused_control))" [ "$(focused_control)" = 102 ]
  check "no Tab was typed into the note" [ -z "$(control_text 114)" ]

  click_control 103
  check "the guide opens" [ "$(control_line 119 | awk '{print $4}')" = 1 ]
  click_control 119
  check "the guide text has the keyboard" [ "$(focused_control)" = 119 ]
  press_key Tab
  check "Tab leaves the guide text (got $(focused_control))" [ "$(focused_control)" = 100 ]
  # Not on the same spot: within the double-click time that would be a double
  # click, which an edit box takes as a word selection without taking the focus.
  local gx gy
  read -r gx gy < <(control_centre 119)
  click_at $((gx + 40)) "$gy"
  press_key shift+Tab
  check "Shift+Tab leaves the guide text for the path box (got $(focused_control))" [ "$(focused_control)" = 102 ]
}

# One table of clipboard contents pasted into the path box by Ctrl+V, Shift+Insert,
# Ctrl+Shift+Insert and the context menu's Paste: only whole, terminated, acceptable
# text is inserted.
scenario_clipboard_routes() {
  start_with_plate --ui-test || return 1
  # how|text|what the box may hold afterwards (a regular expression)|refused (1),
  # accepted (0) or either (-)
  # Wine's clipboard puts a zero into the last unit of text it hands over, so under
  # Wine the unterminated "abc" arrives as "ab"; Windows hands it over as it is and
  # the desk refuses it. Either way nothing beyond the block is read (the window test
  # EditPaste.AnUnterminatedBlockIsRefusedWhole places such a block in the process
  # that pastes it and sees the refusal).
  local cases=(
    "terminated|Orion nebula|^Orion nebula\$|0"
    "unterminated|abc|^(ab)?\$|-"
    "terminated||^\$|0"
    "repeat:16001|a|^\$|1"
    "terminated|Жук|^\$|1"
  )
  local route entry how text expected refused got f
  for route in ctrl+v shift+Insert ctrl+shift+Insert menu; do
    for entry in "${cases[@]}"; do
      IFS='|' read -r how text expected refused <<<"$entry"
      click_control 109    # a normal status line to start from
      click_control 102
      press_key End shift+Home BackSpace
      drv clipboard "$how" "$text" >/dev/null || note_fail "$route: could not put '$how $text' on the clipboard"
      if [ "$route" = menu ]; then
        xdotool click 3
        sleep 0.4
        press_key Down Down Down Return
      else
        press_key "$route"
      fi
      sleep 0.3
      got=$(control_text 102)
      check "$route, $how '${text:0:20}': the box holds $expected (got '${got:0:40}')" matches "$got" "$expected"
      [ "$refused" = - ] && continue
      f=$(shot "$route-${how%%:*}")
      if [ "$refused" = 1 ]; then
        check "$route, $how '${text:0:20}': the refusal shows as an error" [ "$(status_error_pixels "$f")" -gt 10 ]
      else
        check "$route, $how '${text:0:20}': no error is shown" [ "$(status_error_pixels "$f")" -lt 5 ]
      fi
    done
  done
}

# The title band moves the window and maximises it on a double click, Alt+Space
# opens the system menu, the desk opens centred, a restore keeps it maximised, and a
# quick double click on + zooms twice.
scenario_window_handling() {
  start_with_plate --ui-test || return 1
  local sw sh l t r b
  read -r sw sh < <(xdotool getdisplaygeometry)
  read -r l t r b < <(window_outer)
  check "the desk opens centred on the screen ($l, $t)" \
    [ "$l $t" = "$(((sw - (r - l)) / 2)) $(((sh - (b - t)) / 2))" ]

  # Two quick clicks on + zoom as far as two slow ones. Each slow click is followed
  # until its repaint shows a new view that then stays; after the double click the
  # screen is watched for that view: the screenshots wait on the paint, not on time.
  local area plus slow quick before fitted
  area=$(canvas_area)
  click_control 105
  fitted=$(settled_shot fitted)
  before=$fitted
  for plus in 1 2; do
    click_control 108
    wait_screen "plus-$plus" 15 other_canvas "$before" >/dev/null ||
      note_fail "+ click $plus did not change the view"
    before=$(settled_shot "plus-$plus-settled")
  done
  slow=$before
  click_control 105
  wait_screen refitted 15 same_canvas "$fitted" >/dev/null || note_fail "Fit did not bring the fitted view back"
  local xy
  xy=$(control_centre 108)
  # shellcheck disable=SC2086
  move_to $xy
  xdotool click --repeat 2 --delay 80 1
  # The view of two zoom steps is waited for; a double click that zoomed once settles
  # on another view and never shows it.
  quick=$(wait_screen plus-double-click 15 same_canvas "$slow")
  check "a double click on + zooms twice" same_pixels "$slow" "$quick" "$area"

  # Dragging the free part of the title band moves the window.
  local bx by
  read -r bx by < <(client_to_screen 520 10)
  move_to "$bx" "$by"
  xdotool mousedown 1
  move_to $((bx + 40)) $((by + 30))
  move_to $((bx + 80)) $((by + 60))
  xdotool mouseup 1
  sleep 0.3
  local l2 t2
  read -r l2 t2 _ _ < <(window_outer)
  check "dragging the title band moves the window by (80, 60) (from $l, $t to $l2, $t2)" \
    [ "$l2 $t2" = "$((l + 80)) $((t + 60))" ]
  read_geometry

  # A double click on it maximises; hiding and a second start keep it maximised.
  read -r bx by < <(client_to_screen 520 10)
  move_to "$bx" "$by"
  xdotool click --repeat 2 --delay 80 1
  sleep 0.5
  check "a double click on the title band maximises the window" [ "$(window_field zoomed)" = 1 ]
  check "the maximised window keeps the keyboard (focus $(focused_control))" [ "$(focused_control)" != -1 ]
  press_key Escape
  check "Escape hides the maximised window" drv wait-hidden 10000
  wine "$EXE" --ui-test >>"$LOG" 2>&1
  check "a second start shows the window again" drv wait-window 10000 shown
  check "the restored window is still maximised" [ "$(window_field zoomed)" = 1 ]
  wait_job_done
  read_geometry
  read -r bx by < <(client_to_screen 520 10)
  move_to "$bx" "$by"
  xdotool click --repeat 2 --delay 80 1
  sleep 0.5
  check "a second double click restores the window" [ "$(window_field zoomed)" = 0 ]
  check "the window is back where it was dragged to" [ "$(window_outer | awk '{print $1, $2}')" = "$l2 $t2" ]
  read_geometry

  # Alt+Space opens the system menu; Escape closes it and leaves the window shown.
  press_key alt+space
  sleep 0.5
  check "Alt+Space opens the window's system menu" menu_open
  shot system-menu >/dev/null
  press_key Escape
  sleep 0.3
  check "Escape closes the system menu" menu_closed
  check "the window stays shown" [ "$(window_field visible)" = 1 ]
}

# A keyboard-only sequence after a click on Sky plate: F, M, a click on the image,
# a note with an emoji typed, Escape leaves Mark mode, Escape hides the desk.
scenario_keyboard_only() {
  start_with_plate --ui-test || return 1
  click_control 100
  wait_job_done || { note_fail "the plate did not load again"; return 1; }
  press_key f
  press_key m
  local ix=$((PLATE_W * 2 / 5)) iy=$((PLATE_H / 3)) xy
  xy=$(image_to_screen "$ix" "$iy")
  # shellcheck disable=SC2086
  click_at $xy
  check "M and a click add a marker" wait_marks "$SHEET" 1 5
  # X key events under Wine carry no character beyond U+FFFF; the emoji arrives as
  # the Windows emoji panel sends it, two WM_CHAR units.
  type_text "Pillars "
  drv type-units "🔭" >/dev/null
  type_text " west"
  check "the typed note with the emoji is in the note box" [ "$(control_text 114)" = "Pillars 🔭 west" ]
  sleep 2
  check "the emoji is saved as one UTF-8 character" grep -q "\"note\": \"Pillars $(printf '\xf0\x9f\x94\xad') west\"" "$SHEET"
  press_key Escape
  sleep 0.3
  local f
  f=$(shot after-first-escape)
  check "the first Escape leaves Mark mode" mode_active 109 "$f"
  check "the first Escape keeps the window shown" [ "$(window_field visible)" = 1 ]
  press_key Escape
  check "the second Escape hides the desk" drv wait-hidden 10000
  shot after-second-escape >/dev/null
  wine "$EXE" --ui-test >>"$LOG" 2>&1
  check "a second start shows the desk again" drv wait-window 10000 shown
  wait_job_done
}

# --- the keys of the view and of the marker list --------------------------------------

# The states a person reaches before pressing a key: "window" after a click on the
# canvas (away from any marker), "button" after a click on the Pan button, "note"
# after placing a marker and pressing Escape (the note box keeps the keyboard),
# "path" after a click in the path box. Sets the state and checks the focus.
key_state() {
  local want
  case $1 in
    window)
      # shellcheck disable=SC2046
      click_at $(client_to_screen 40 190)
      want=0
      ;;
    button)
      click_control 109
      want=109
      ;;
    note)
      add_marker_at "$2" "$3"
      press_key Escape
      want=114
      ;;
    path)
      click_control 102
      want=102
      ;;
  esac
  sleep 0.2
  check "$1: the focus is where a person left it (want $want, got $(focused_control))" \
    [ "$(focused_control)" = "$want" ]
}

# clear_box: empties the edit box that has the keyboard.
clear_box() { press_key ctrl+End shift+ctrl+Home BackSpace; }

# The arrow keys, on the window and on a button, move the view by an eighth of the
# canvas in their direction (with Shift by half); in the note box and the path box
# they move the caret. A key held for two seconds leaves no backlog: the view stops
# with the key (how many changes and how long after the release is logged).
scenario_arrow_keys() {
  start_with_plate --ui-test || return 1
  key_state window
  press_key 1
  sleep 0.3
  local ex=$(((CW - 370) / 8)) ey=$(((CH - 257) / 8)) hx=$(((CW - 370) / 2)) hy=$(((CH - 257) / 2))
  # state|key|how the image moves on screen (dx dy)
  local cases=(
    "window|Right|-$ex 0"
    "window|Left|$ex 0"
    "window|Down|0 -$ey"
    "window|Up|0 $ey"
    "window|shift+Right|-$hx 0"
    "window|shift+Left|$hx 0"
    "button|Right|-$ex 0"
    "button|Up|0 $ey"
    "button|shift+Down|0 -$hy"
    "button|shift+Up|0 $hy"
  )
  local entry state key dx dy before after
  for entry in "${cases[@]}"; do
    IFS='|' read -r state key dx <<<"$entry"
    read -r dx dy <<<"$dx"
    key_state "$state"
    before=$(settled_shot "$state-before-$key")
    press_key "$key"
    after=$(wait_screen "$state-$key" 10 moved_by "$before" "$dx" "$dy")
    check "$state, $key: the view moved" other_pixels "$before" "$after" "$(canvas_area)"
    check "$state, $key: the image moved by ($dx, $dy) screen pixels" shifted_same "$before" "$after" "$dx" "$dy"
  done

  # A drag with the pointer in Pan mode moves the view the same way, pixel for pixel.
  key_state window
  local mx my
  read -r mx my < <(canvas_middle)
  before=$(shot "drag-before")
  move_to "$mx" "$my"
  xdotool mousedown 1
  move_to $((mx - 30)) $((my - 20))
  move_to $((mx - 60)) $((my - 40))
  xdotool mouseup 1
  sleep 0.3
  after=$(shot "drag")
  check "a drag in Pan mode moved the image by (-60, -40) screen pixels" shifted_same "$before" "$after" -60 -40

  # In the edit boxes the arrows are the caret's: a letter typed after Left Left and
  # after Right lands inside the word; Up and Down move nothing on the canvas either.
  # (The fitted view first, where the scenario knows which point of the image a
  # screen point shows.)
  press_key f
  local box id
  for box in note path; do
    if [ "$box" = note ]; then key_state note $((PLATE_W / 2)) $((PLATE_H / 2)); id=114; else key_state path; id=102; fi
    clear_box
    before=$(shot "$box-before-arrows")
    type_text "abc"
    press_key Left Left
    type_text "X"
    press_key Right
    type_text "Y"
    check "$box: Left and Right moved the caret (got '$(control_text $id)')" [ "$(control_text $id)" = "aXbYc" ]
    press_key shift+Left Up Down shift+Right
    sleep 0.3
    after=$(shot "$box-arrows")
    check "$box: the arrows left the view where it was" same_pixels "$before" "$after" "$(canvas_area)"
  done

  # Held for two seconds, the key repeats at the keyboard's rate. Each repeat only
  # moves the view; the repeats that come while a paint runs are shown together by
  # the next one, so the view stops with the key: once the key is up the screen
  # settles (two screenshots in a row agree) instead of running on through a queue of
  # repaints. The repeats moved the view further than one press does. (How often the
  # canvas changed, and when after the release, is logged, not judged: it follows
  # the machine's speed.)
  key_state window
  press_key f 1
  local unheld one_step
  unheld=$(settled_shot hold-start)
  press_key Right
  one_step=$(wait_screen hold-one-step 10 other_canvas "$unheld")
  press_key Left
  check "Left took the view back before the hold" wait_screen hold-back 10 same_canvas "$unheld" >/dev/null
  local watch="$SHOTS/$SCENARIO-hold-right.txt" up1 up2 changes after last held
  read -r up1 up2 < <(hold_key Right 2 "$watch")
  changes=$(grep -c '^change ' "$watch")
  after=$(awk -v r="$up2" '/^change / && $2 > r {n++} END {print n + 0}' "$watch")
  last=$(awk -v r="$up2" '/^change /{t=$2} END {print t ? t : r}' "$watch")
  echo "    Right held 2 s: the canvas changed $changes times; after the key went up (within $((up2 - up1)) ms" \
    "before t) it changed $after times, the last one $((last - up2)) ms after t"
  if held=$(settled_shot held-right); then
    check "the held key moved the view further than one press" other_canvas "$one_step" "$held"
    check "the held key moved the view" other_canvas "$unheld" "$held"
  else
    note_fail "the view did not stop after the key went up"
  fi
}

# + and - (main keyboard, with = beside +, and the keypad) zoom about the middle of
# the canvas exactly as the + and minus buttons do, on the window and on a button;
# in the edit boxes they are typed.
scenario_zoom_keys() {
  start_with_plate --ui-test || return 1
  # state|key|the button it stands for
  local cases=(
    "window|plus|108"
    "window|equal|108"
    "window|KP_Add|108"
    "window|minus|107"
    "window|KP_Subtract|107"
    "button|plus|108"
    "button|KP_Subtract|107"
  )
  local entry state key button start bykey bybutton
  for entry in "${cases[@]}"; do
    IFS='|' read -r state key button <<<"$entry"
    key_state "$state"
    press_key 1
    sleep 0.3
    start=$(shot "$state-100-percent")
    press_key "$key"
    sleep 0.3
    bykey=$(shot "$state-$key")
    press_key 1
    click_control "$button"
    sleep 0.3
    bybutton=$(shot "$state-button-$button")
    check "$state, $key: the view zoomed" other_pixels "$start" "$bykey" "$(canvas_area)"
    check "$state, $key: the view is the one button $button gives" same_pixels "$bykey" "$bybutton" "$(canvas_area)"
  done
  # With the guide over the canvas they do nothing, as the arrows do: the view is
  # the one before the guide opened once it is closed again (Escape, pressed after
  # the signs, is handled after them).
  press_key f
  key_state window
  local unguided guided
  unguided=$(settled_shot before-guide)
  click_control 103
  check "the guide opened" drv wait-shown 119 1 5000
  check "the guide covers the canvas" wait_screen guide-open 10 other_canvas "$unguided" >/dev/null
  press_key plus KP_Add minus KP_Subtract equal Escape
  guided=$(wait_screen guide-closed-after-signs 10 same_canvas "$unguided")
  check "with the guide open + and - left the view as it was" same_canvas "$unguided" "$guided"
  # Typed in the edit boxes, + - = and the keypad's signs are text.
  press_key f
  local box id before after
  for box in note path; do
    if [ "$box" = note ]; then key_state note $((PLATE_W / 3)) $((PLATE_H / 3)); id=114; else key_state path; id=102; fi
    clear_box
    before=$(shot "$box-before-signs")
    press_key plus minus equal KP_Add KP_Subtract
    sleep 0.3
    after=$(shot "$box-signs")
    check "$box: + - = and the keypad's + - are typed (got '$(control_text $id)')" [ "$(control_text $id)" = "+-=+-" ]
    check "$box: typing them zoomed nothing" same_pixels "$before" "$after" "$(canvas_area)"
  done
}

# seed_markers N: a sheet of the plate with N markers on one row across the middle of
# the image, each with the note "Walk <i>".
seed_markers() {
  mkdir -p "$DATA/observations"
  {
    printf '{"format":"Tessary","version":1,"imageSHA256":"%s","width":%d,"height":%d,"nextId":%d,"marks":[' \
      "$PLATE_SHA" "$PLATE_W" "$PLATE_H" $(($1 + 1))
    local i
    for ((i = 1; i <= $1; i++)); do
      [ "$i" -gt 1 ] && printf ','
      printf '{"id":%d,"x":%d.5,"y":%d.5,"note":"Walk %d","createdUTC":1700000000}' \
        "$i" $((PLATE_W * i / ($1 + 1))) $((PLATE_H / 2)) "$i"
    done
    printf ']}'
  } >"$SHEET"
}

# marker_centred FILE: the screenshot shows a marker drawn selected in the middle of
# the canvas.
marker_centred() {
  local x y
  read -r x y < <(canvas_middle)
  [ "$(marker_pixels "$1" "$x" "$y" "$ACCENT")" -gt 200 ]
}

# Page Down and Page Up walk the markers in list order as a click on their rows
# does (the note saved first, the view centred on the marker, the list scrolled to
# show its row), from the first or the last when none is selected, and stop at the
# ends; Home and End choose the first and the last. In the note box they are the
# box's own keys.
scenario_marker_walk_keys() {
  # Without markers the keys do nothing (the canvas, the list and the note box, above
  # the status line and the clock, stay as they were).
  start_with_plate --ui-test || return 1
  key_state window
  local empty walked_empty
  empty=$(shot no-markers)
  press_key Next Prior Home End
  sleep 0.3
  walked_empty=$(shot no-markers-keys)
  check "without markers the page keys, Home and End change nothing" same_pixels "$empty" "$walked_empty" \
    "$((CW - 20))x$((CH - 257))+$((CX + 20))+$((CY + 178))"
  check "without markers no sheet is written" [ ! -e "$SHEET" ]
  stop_desk

  seed_markers 7
  start_with_plate --ui-test || return 1
  # state|key|the marker selected afterwards|the visible list row drawn selected
  local cases=(
    "window|Prior|7|4"
    "window|Home|1|0"
    "window|Next|2|1"
    "window|Prior|1|0"
    "window|Prior|1|0"
    "window|End|7|4"
    "window|Next|7|4"
    "button|Prior|6|3"
    "button|Home|1|0"
    "button|Next|2|1"
  )
  local entry state key marker row before after area
  area=$(canvas_area)
  for entry in "${cases[@]}"; do
    IFS='|' read -r state key marker row <<<"$entry"
    key_state "$state"
    before=$(shot "$state-before-$key")
    press_key "$key"
    sleep 0.4
    after=$(shot "$state-$key-marker-$marker")
    check "$state, $key: the note box shows marker $marker's note (got '$(control_text 114)')" \
      [ "$(control_text 114)" = "Walk $marker" ]
    check "$state, $key: marker $marker is drawn selected in the middle of the canvas" marker_centred "$after"
    check "$state, $key: list row $row is drawn selected (got $(selected_list_row "$after"))" \
      [ "$(selected_list_row "$after")" = "$row" ]
    if [ "$(selected_list_row "$before")" = "$row" ]; then
      check "$state, $key: at the end of the list nothing changes" same_pixels "$before" "$after" "$area"
    fi
  done

  # In the note box Home, End and the page keys move the caret.
  key_state window
  press_key Home
  click_control 114
  press_key End
  type_text "!"
  press_key Home
  type_text "#"
  press_key Next Prior
  sleep 0.3
  local inbox
  inbox=$(shot note-box-keys)
  check "note box: End and Home moved the caret (got '$(control_text 114)')" [ "$(control_text 114)" = "#Walk 1!" ]
  check "note box: the page keys kept marker 1 selected" [ "$(selected_list_row "$inbox")" = 0 ]

  # The note in hand is saved before the walk goes on: the timer's save fails while
  # the sheet is blocked and is not repeated; Page Down's own save writes it.
  mkdir -p "$SHEET.tmp"
  press_key End
  type_text "?"
  check "the timer's save fails while the sheet is blocked" wait_screen timer-save-failed 15 error_style >/dev/null
  rmdir "$SHEET.tmp"
  check "the note is not saved while the sheet is blocked" not grep -q '"note": "#Walk 1!?"' "$SHEET"
  key_state window
  press_key Next
  check "Page Down saved the note first" wait_until_grep '"note": "#Walk 1!?"' "$SHEET" 3
  check "Page Down then chose marker 2" [ "$(control_text 114)" = "Walk 2" ]

  # A walk through three markers with the keyboard alone, for a look.
  press_key Home Next Next
  sleep 0.5
  local walked
  walked=$(shot keyboard-walk-three-markers)
  check "the keyboard walk ends on marker 3" [ "$(control_text 114)" = "Walk 3" ]
  check "marker 3 is in the middle of the canvas" marker_centred "$walked"
}

# wait_until_grep TEXT FILE SECONDS
wait_until_grep() {
  local i
  for ((i = 0; i < $3 * 10; i++)); do
    grep -q -- "$1" "$2" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

# Delete removes the selected marker as Remove marker does (Undo removal brings it
# back), on the window and on a button; without a selection it does nothing; in the
# note box and the path box it deletes a character.
scenario_delete_key() {
  seed_markers 3
  start_with_plate --ui-test || return 1
  local stamp before after
  # No marker selected: nothing happens.
  key_state window
  stamp=$(sha256sum <"$SHEET")
  before=$(shot before-delete-without-selection)
  press_key Delete
  sleep 0.5
  after=$(shot delete-without-selection)
  check "without a selection Delete changes nothing on screen" same_pixels "$before" "$after" "$(canvas_area)"
  check "without a selection Delete writes nothing" [ "$(sha256sum <"$SHEET")" = "$stamp" ]
  check "without a selection Undo removal stays disabled" [ "$(control_enabled 117)" = 0 ]

  # state|Page Downs after Home|the marker they reach|how the removal is undone (the
  # Undo removal button, or Ctrl+Z where the key was pressed). Undo removal puts the
  # marker back at the end of the list: 1 2 3, then 1 3 2, then 1 2 3, then 2 3 1.
  local cases=("window|1|2|click" "button|1|3|ctrl+z" "window|0|1|ctrl+z")
  local entry state steps marker undo i
  for entry in "${cases[@]}"; do
    IFS='|' read -r state steps marker undo <<<"$entry"
    key_state window
    press_key Home
    for ((i = 0; i < steps; i++)); do press_key Next; done
    key_state "$state"
    shot "$state-before-delete-$marker" >/dev/null
    check "$state: marker $marker is chosen" [ "$(control_text 114)" = "Walk $marker" ]
    press_key Delete
    check "$state: Delete removed marker $marker from the sheet" wait_marks "$SHEET" 2 5
    sleep 0.3
    after=$(shot "$state-delete-$marker")
    check "$state: marker $marker is gone from the sheet" not grep -q "\"note\": \"Walk $marker\"" "$SHEET"
    check "$state: marker $marker is gone from the canvas" not marker_centred "$after"
    check "$state: Undo removal is enabled" [ "$(control_enabled 117)" = 1 ]
    check "$state: Remove marker is disabled without a selection" [ "$(control_enabled 116)" = 0 ]
    check "$state: the note box is empty" [ -z "$(control_text 114)" ]
    if [ "$undo" = click ]; then click_control 117; else press_key "$undo"; fi
    check "$state: $undo on Undo removal brings marker $marker back" wait_marks "$SHEET" 3 5
    sleep 0.3
    check "$state: the restored marker is chosen again" [ "$(control_text 114)" = "Walk $marker" ]
    check "$state: the restored marker is centred and drawn selected" marker_centred "$(shot "$state-undo-$marker")"
  done

  # In the edit boxes Delete deletes the character after the caret. (The list is now
  # 2 3 1: Home chooses marker 2.)
  key_state window
  press_key Home
  click_control 114
  press_key ctrl+Home Delete
  sleep 0.3
  check "note box: Delete deleted the first letter (got '$(control_text 114)')" [ "$(control_text 114)" = "alk 2" ]
  key_state path
  clear_box
  type_text "abc"
  press_key Home Delete
  check "path box: Delete deleted the first letter (got '$(control_text 102)')" [ "$(control_text 102)" = "bc" ]
  check "the boxes' Delete removed no marker" [ "$(sheet_marks "$SHEET")" = 3 ]

  # In the note box Ctrl+Z is the box's own undo, also while a removed marker could
  # be brought back: the typing goes, no marker comes.
  key_state window
  press_key Home Delete
  check "Delete removed the first marker" wait_marks "$SHEET" 2 5
  press_key Home
  check "Home chose the next marker" drv wait-text 114 5000 "Walk 3"
  click_control 114
  press_key ctrl+End
  type_text "Q"
  check "the letter is typed into the note" drv wait-text 114 5000 "Walk 3Q"
  press_key ctrl+z
  check "note box: Ctrl+Z undid the typing (got '$(control_text 114)')" drv wait-text 114 5000 "Walk 3"
  check "note box: Ctrl+Z brought no marker back" [ "$(sheet_marks "$SHEET")" = 2 ]
  check "note box: the removal can still be undone" [ "$(control_enabled 117)" = 1 ]
}

# The note box keeps the keyboard when the desk is left for another program's window
# and activated again by a click on its title band: the note takes both parts.
scenario_note_focus_returns() {
  start_with_plate --ui-test || return 1
  add_marker_at $((PLATE_W / 2)) $((PLATE_H / 2))
  check "the marker is saved" wait_marks "$SHEET" 1 5
  type_text "Bright knot"
  check "the note box holds the first part" note_box_is "Bright knot"
  # Another program's window takes the keyboard: a click into Notepad.
  wine notepad >>"$LOG" 2>&1 &
  local other=$! id nx ny nw nh
  id=$(xdotool search --sync --onlyvisible --name 'Notepad' 2>>"$LOG" | head -1)
  if [ -z "$id" ]; then
    note_fail "Notepad did not open"
    kill "$other" 2>/dev/null
    return 1
  fi
  # Notepad's window is placed and sized after it first shows: its geometry is read
  # until two readings agree.
  local geometry="" previous=""
  for _ in $(seq 1 50); do
    geometry=$(xdotool getwindowgeometry --shell "$id" 2>>"$LOG" | grep -E '^(X|Y|WIDTH|HEIGHT)=' | tr '\n' ' ')
    [ -n "$geometry" ] && [ "$geometry" = "$previous" ] && break
    previous=$geometry
    sleep 0.2
  done
  eval "$(sed 's/\([A-Z]*\)=/n_\1=/g' <<<"$geometry")"
  nx=$n_X ny=$n_Y nw=$n_WIDTH nh=$n_HEIGHT
  click_at $((nx + nw / 2)) $((ny + nh / 2))
  check "Notepad has the keyboard (desk focus $(focused_control))" wait_for 5 focus_is -1
  type_text "elsewhere"
  shot notepad-active >/dev/null
  # Back to the desk: a click on the free part of its title band, right of Notepad.
  local bx by guide_left
  read -r _ _ _ _ _ guide_left _ < <(control_line 103)
  bx=$((nx + nw + 20)) by=$((CY + 10))
  if [ "$bx" -ge $((guide_left - 10)) ]; then
    note_fail "no free part of the title band beside Notepad ($bx, guide at $guide_left)"
  fi
  click_at "$bx" "$by"
  check "the note box has the keyboard again (focus $(focused_control))" wait_for 5 focus_is 114
  # P and C would be shortcuts on the window itself.
  type_text " pale crest"
  check "the note holds both parts (got '$(control_text 114)')" note_box_is "Bright knot pale crest"
  check "the letters chose no mode (Add marker stays chosen)" mode_active 110 "$(shot back-on-the-desk)"
  kill "$other" 2>/dev/null
  wait "$other" 2>/dev/null || true
}
