#!/usr/bin/env bash
# Load and export figures of the desk beside native references, measured in one run,
# alternating program and reference round by round, medians printed at the end:
#   - the built-in plate, start to ready: Tessary.exe started under Wine until its
#     tool row is enabled (the plate decoded, hashed and shown), against a native
#     ImageMagick decode of the same PNG to 8-bit RGBA plus sha256sum of it, and
#     against libvips (vips copy) plus sha256sum;
#   - the return from the tray: the desk hidden with Escape (which releases the
#     image), then a second start that hands over to it, until the tool row is
#     enabled again (the plate decoded again and shown), against the same
#     references;
#   - the desk's peak resident memory against the budget (file + BGRA pixels +
#     display levels, + 10 %), and its private memory (RssAnon) while hidden;
#   - a 12,000 x 8,000 JPEG and a 12,500 x 8,000 (100 megapixel) PNG, path to ready
#     (the load job's work, bench_load.exe), against ImageMagick decode + sha256sum;
#   - opening that JPEG while the plate is held (the old image stays until the new
#     one is ready): the peak, beside the old image's resident memory and the new
#     image's budget;
#   - painting the plate (paint_bench.exe, the program's own painting from the
#     display levels): the median frame at the fitted zoom, at 100 % and while
#     panning;
#   - a 5,000 x 5,000 crop export of the plate (crop_export_bench.exe), against
#     ImageMagick's PNG encode of the same RGBA pixels.
# The processor time (all threads) of the desk's start and return and of the
# references is printed too: unlike the wall times, it hardly depends on how busy
# the machine is.
# Every ratio is printed twice: of the medians, and the median of the rounds' own
# ratios (each round's figure against the reference measured beside it). The load
# average of the machine is printed with every round and at the end: on a busy
# machine the figures are worth little.
#
#   bench/run_load_bench.sh [--rounds N] [--crop-rounds N] [--paint-rounds N] <windows-build-dir> [<other-build-dir> ...]
#
# (--crop-rounds, --paint-rounds: the crop export and the paint benchmark take
# longest; they run in the first N rounds only. --rounds defaults to 5, the others
# to the rounds.)
#
# Each build directory needs bin/Tessary.exe, bench/bench_load.exe,
# bench/crop_export_bench.exe, bench/paint_bench.exe and tests/desk_driver.exe; the
# plate file is taken from the first one's generated-resources/plate.png. With two
# or more build directories (an earlier build copied aside, say) each is measured
# in the same rounds, so their ratios share one set of references.
set -uo pipefail
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$HERE/../scripts/common.sh"
source "$TESSARY_ROOT/scripts/display.sh"

rounds=5
crop_rounds=""
paint_rounds=""
while [ $# -gt 0 ]; do
  case "$1" in
    --rounds) rounds=$2; shift 2 ;;
    --crop-rounds) crop_rounds=$2; shift 2 ;;
    --paint-rounds) paint_rounds=$2; shift 2 ;;
    *) break ;;
  esac
done
crop_rounds=${crop_rounds:-$rounds}
paint_rounds=${paint_rounds:-$rounds}
[ $# -ge 1 ] || { echo "usage: $0 [--rounds N] [--crop-rounds N] [--paint-rounds N] <windows-build-dir> [<other-build-dir> ...]" >&2; exit 2; }
command -v vips >/dev/null || { echo "vips is missing (Debian package libvips-tools; scripts/install-deps.sh installs it)" >&2; exit 2; }
builds=()
for dir in "$@"; do builds+=("$(cd "$dir" && pwd)"); done
for dir in "${builds[@]}"; do
  for f in bin/Tessary.exe bench/bench_load.exe bench/crop_export_bench.exe bench/paint_bench.exe tests/desk_driver.exe; do
    [ -f "$dir/$f" ] || { echo "$dir/$f is missing" >&2; exit 2; }
  done
done
PLATE="${builds[0]}/generated-resources/plate.png"
[ -f "$PLATE" ] || { echo "$PLATE is missing" >&2; exit 2; }

WORK=$(mktemp -d /tmp/tessary-load-bench.XXXXXX)
LOG="$WORK/wine.log"
SHOTS="$WORK"
DESK_PID=""
started_server=0
trap end_desk_session EXIT
trap 'exit 130' INT TERM

# Debian's ImageMagick policy caps the pixel cache at 256 MiB and would page a large
# image to disk; a private copy of the policy with room for it keeps the native
# decode in memory.
mkdir -p "$WORK/magick"
sed -e 's/name="memory" value="[^"]*"/name="memory" value="8GiB"/' \
    -e 's/name="map" value="[^"]*"/name="map" value="8GiB"/' \
    -e 's/name="area" value="[^"]*"/name="area" value="1GP"/' \
    -e 's/name="disk" value="[^"]*"/name="disk" value="16GiB"/' \
    -e 's/name="width" value="[^"]*"/name="width" value="64KP"/' \
    -e 's/name="height" value="[^"]*"/name="height" value="64KP"/' \
    /etc/ImageMagick-6/policy.xml > "$WORK/magick/policy.xml"
export MAGICK_CONFIGURE_PATH=$WORK/magick

"$TESSARY_ROOT/scripts/wine-prefix.sh"
start_display || exit 2
if wineserver -p 2>/dev/null; then started_server=1; fi
wine cmd /c exit </dev/null >/dev/null 2>&1 || true

JPEG=/tmp/tessary-bench-12000x8000.jpg
if [ ! -f "$JPEG" ]; then
  echo "making $JPEG"
  /usr/bin/convert -seed 11 -size 12000x8000 plasma:fractal -blur 0x1 -quality 90 "$JPEG"
fi
# 100 megapixels, 8-bit RGB (about 90 MB).
BIGPNG=/tmp/tessary-bench-12500x8000.png
if [ ! -f "$BIGPNG" ]; then
  echo "making $BIGPNG"
  /usr/bin/convert -seed 13 -size 12500x8000 plasma:fractal -blur 0x1 -depth 8 -type TrueColor \
    -define png:color-type=2 "$BIGPNG"
fi
read -r PW PH < <(od -An -tu1 -j16 -N8 "$PLATE" |
  awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}')
CROP=5000
CX0=$((PW / 2 - CROP / 2))
CY0=$((PH / 2 - CROP / 2))
/usr/bin/convert "$PLATE" -crop "${CROP}x${CROP}+${CX0}+${CY0}" +repage -depth 8 "rgba:$WORK/crop.rgba"

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f", b - a}'; }
# run_timed COMMAND...: runs the command with its output thrown away and adds its
# processor time (user + system, all its threads) to CPU.
run_timed() {
  /usr/bin/time -f "%U %S" -o "$WORK/time" "$@" >/dev/null
  local rc=$?
  CPU=$(awk -v a="$CPU" '{printf "%.2f", a + $1 + $2}' "$WORK/time")
  return $rc
}
# Native decode to 8-bit RGBA followed by the digest of the same file; sets WALL
# (seconds) and CPU (processor seconds of both commands).
native_decode_hash() {
  local t0 t1
  CPU=0
  t0=$(now)
  run_timed /usr/bin/convert "$1" -depth 8 rgba:/dev/null && run_timed sha256sum "$1"
  t1=$(now)
  WALL=$(elapsed "$t0" "$t1")
}
# libvips: the decode written out as a vips image, then the digest of the file.
vips_decode_hash() {
  local t0 t1
  CPU=0
  t0=$(now)
  run_timed vips copy "$1" "$WORK/copy.v" && run_timed sha256sum "$1"
  t1=$(now)
  rm -f "$WORK/copy.v"
  WALL=$(elapsed "$t0" "$t1")
}
# Processor seconds (user + system, all threads) a process has used so far.
cpu_seconds() {
  local ticks
  ticks=$(getconf CLK_TCK)
  # The fields after the command name, which is in parentheses.
  sed 's/^.*) //' "/proc/$1/stat" 2>/dev/null | awk -v t="$ticks" '{printf "%.2f", ($12 + $13) / t}'
}
load_average() { cut -d' ' -f1-3 /proc/loadavg; }

# The desk: started with the plate, timed until its tool row is enabled; hidden to
# the tray with Escape; brought back by a second start, timed until the tool row is
# enabled again. Peak resident memory and the memory held while hidden are read
# from the kernel's figures for its process.
EXE="" DRIVER=""
source "$TESSARY_ROOT/tests/ui/desk_lib.sh"
canvas_point() { client_to_screen $((20 + (CW - 370) / 2)) 200; }
desk_plate() {
  local build=$1 t0 t1 t2 t3
  EXE="$build/bin/Tessary.exe"
  DRIVER="$build/tests/desk_driver.exe"
  drv wait-gone 10000 >/dev/null || { echo "a UI-test desk is already running" >&2; return 1; }
  t0=$(now)
  wine "$EXE" --ui-test >>"$LOG" 2>&1 &
  DESK_PID=$!
  # The tool row is disabled while the plate loads and enabled once it is shown; a
  # glimpse of it enabled before the load has started does not count.
  drv wait-enabled 105 0 60000 >/dev/null
  if ! drv wait-enabled 105 1 180000 >/dev/null; then
    echo "the plate did not load" >&2
    stop_desk
    return 1
  fi
  t1=$(now)
  local peak cpu_start cpu_hidden="" cpu_restore="-"
  cpu_start=$(cpu_seconds "$DESK_PID")
  peak=$(awk '/^VmHWM/ {print $2}' "/proc/$DESK_PID/status")
  read_geometry
  # shellcheck disable=SC2046
  click_at $(canvas_point)
  press_key Escape
  local hidden="" anon="" file="" restore="-"
  if drv wait-hidden 10000 >/dev/null; then
    sleep 2
    hidden=$(awk '/^VmRSS/ {print $2}' "/proc/$DESK_PID/status")
    anon=$(awk '/^RssAnon/ {print $2}' "/proc/$DESK_PID/status")
    file=$(awk '/^RssFile/ {print $2}' "/proc/$DESK_PID/status")
    # A second start hands over to the hidden desk and ends; the desk shows itself
    # and loads the plate again.
    cpu_hidden=$(cpu_seconds "$DESK_PID")
    t2=$(now)
    wine "$EXE" --ui-test >>"$LOG" 2>&1
    if drv wait-enabled 105 0 60000 >/dev/null && drv wait-enabled 105 1 180000 >/dev/null; then
      t3=$(now)
      restore=$(elapsed "$t2" "$t3")
      cpu_restore=$(awk -v a="$(cpu_seconds "$DESK_PID")" -v b="$cpu_hidden" 'BEGIN {printf "%.2f", a - b}')
    else
      echo "the plate did not load again after the second start" >&2
    fi
  fi
  local peak_after
  peak_after=$(awk '/^VmHWM/ {print $2}' "/proc/$DESK_PID/status")
  # The desk is ended by its process id (its sheet has no unsaved change).
  kill "$DESK_PID" 2>/dev/null
  wait "$DESK_PID" 2>/dev/null
  DESK_PID=""
  drv wait-gone 10000 >/dev/null
  echo "$(elapsed "$t0" "$t1") $((peak / 1000)) $(( ${hidden:-0} / 1000 )) $(( ${anon:-0} / 1000 ))" \
    "$(( ${file:-0} / 1000 )) $restore $(( ${peak_after:-0} / 1000 )) $cpu_start $cpu_restore"
}

declare -A series
add() { series[$1]="${series[$1]:-} $2"; }
median() { tr ' ' '\n' <<<"${series[$1]:-}" | grep -v '^$' | grep -v '^-$' | sort -g |
  awk '{v[NR] = $1} END {if (NR == 0) print "-"; else if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
value() { sed -n "s/^$1 //p" <<<"$2"; }
last() { tr ' ' '\n' <<<"${series[$1]:-}" | tail -1; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {if (a == "" || b == "" || a == "-" || b == "-" || b == 0) print "-"; else printf "%.2f", a / b}'; }
# add_ratio NAME FIGURE REFERENCE: the round's own ratio, for the median of ratios.
add_ratio() { add "$1" "$(ratio "$2" "$3")"; }
# The median frame of one paint_bench line ("  fit    zoom ... median X ms ..."),
# from the program's own painting (the first block of its output).
paint_median() { awk -v step="$1" '/^display levels, filtered/ {on = 1; next} /^$/ {on = 0}
  on && index($0, "  " step " ") == 1 {for (i = 1; i <= NF; i++) if ($i == "median") {print $(i + 1); exit}}' <<<"$2"; }

echo "plate $PLATE (${PW} x ${PH}, $(stat -c %s "$PLATE") bytes), JPEG $JPEG, PNG $BIGPNG, $rounds rounds"
echo "load average at the start: $(load_average) ($(nproc) cores)"
loads="$(load_average | cut -d' ' -f1)"
for ((round = 1; round <= rounds; round++)); do
  for i in "${!builds[@]}"; do
    b=${builds[$i]}
    native_decode_hash "$PLATE"; pn=$WALL; add plate_native "$pn"; add plate_native_cpu "$CPU"
    vips_decode_hash "$PLATE"; pv=$WALL; add plate_vips "$pv"; add plate_vips_cpu "$CPU"
    s="" restore=""
    if out=$(desk_plate "$b"); then
      read -r s peak hidden anon file restore peak_after cpu_start cpu_restore <<<"$out"
      add "plate_cpu_$i" "$cpu_start"; add "restore_cpu_$i" "$cpu_restore"
      add "plate_$i" "$s"; add "plate_peak_$i" "$peak"; add "hidden_$i" "$hidden"
      add "hidden_anon_$i" "$anon"; add "hidden_file_$i" "$file"; add "restore_$i" "$restore"
      add "restore_peak_$i" "$peak_after"
      add_ratio "plate_r_native_$i" "$s" "$pn"; add_ratio "plate_r_vips_$i" "$s" "$pv"
      add_ratio "restore_r_native_$i" "$restore" "$pn"; add_ratio "restore_r_vips_$i" "$restore" "$pv"
    fi
    native_decode_hash "$JPEG"; jn=$WALL; add jpeg_native "$jn"
    out=$(wine "$b/bench/bench_load.exe" "Z:${JPEG//\//\\}" 2>>"$LOG" | tr -d '\r')
    add "jpeg_$i" "$(value first_seconds "$out")"
    add "jpeg_peak_$i" "$(value first_peak_mb "$out")"
    add_ratio "jpeg_r_$i" "$(value first_seconds "$out")" "$jn"
    native_decode_hash "$BIGPNG"; gn=$WALL; add png_native "$gn"
    out=$(wine "$b/bench/bench_load.exe" "Z:${BIGPNG//\//\\}" 2>>"$LOG" | tr -d '\r')
    add "png_$i" "$(value first_seconds "$out")"
    add "png_peak_$i" "$(value first_peak_mb "$out")"
    add_ratio "png_r_$i" "$(value first_seconds "$out")" "$gn"

    ms=""
    if [ "$round" -le "$crop_rounds" ]; then
      t0=$(now)
      /usr/bin/convert -size "${CROP}x${CROP}" -depth 8 "rgba:$WORK/crop.rgba" "png:$WORK/crop-native.png"
      t1=$(now)
      cn=$(elapsed "$t0" "$t1"); add crop_native "$cn"
      out=$(wine "$b/bench/crop_export_bench.exe" "Z:${PLATE//\//\\}" 1 2>>"$LOG" | tr -d '\r')
      ms=$(sed -n 's/.*wall \([0-9.]*\) ms.*/\1/p' <<<"$out")
      if [ -n "$ms" ]; then
        add "crop_$i" "$(awk -v m="$ms" 'BEGIN {printf "%.3f", m / 1000}')"
        add_ratio "crop_r_$i" "$(awk -v m="$ms" 'BEGIN {printf "%.3f", m / 1000}')" "$cn"
      fi
    fi
    if [ "$round" -le "$paint_rounds" ]; then
      out=$(wine "$b/bench/paint_bench.exe" "Z:${PLATE//\//\\}" 2>>"$LOG" | tr -d '\r')
      add "paint_fit_$i" "$(paint_median fit "$out")"
      add "paint_full_$i" "$(paint_median "100 %" "$out")"
      add "paint_pan_$i" "$(paint_median "pan at fit" "$out")"
    fi
    la=$(load_average)
    loads="$loads $(cut -d' ' -f1 <<<"$la")"
    echo "round $round, build $i: plate ${s:-?} s (convert $pn s, vips $pv s), restore ${restore:-?} s," \
      "JPEG $(last "jpeg_$i") s (convert $jn s), PNG $(last "png_$i") s (convert $gn s), crop ${ms:-?} ms;" \
      "load average $la"
  done
done
echo "load average at the end: $(load_average)"

# Opening the JPEG while the plate is held: once per build (memory, not time).
for i in "${!builds[@]}"; do
  out=$(wine "${builds[$i]}/bench/bench_load.exe" "Z:${PLATE//\//\\}" "Z:${JPEG//\//\\}" 2>>"$LOG" | tr -d '\r')
  series[open_old_$i]=$(value second_resident_before_mb "$out")
  series[open_peak_$i]=$(value second_peak_mb "$out")
  series[open_new_pixels_$i]=$(value second_pixels_mb "$out")
  series[open_new_levels_$i]=$(value second_levels_mb "$out")
done

file_mb() { awk -v b="$(stat -c %s "$1")" 'BEGIN {printf "%.1f", b / 1e6}'; }
# Pixels and display levels (each half the previous, rounded up, down to 64 pixels).
pixels_levels_mb() {
  awk -v w="$1" -v h="$2" 'BEGIN {
    p = w * h * 4; l = 0
    while (1) { w = int((w + 1) / 2); h = int((h + 1) / 2); if (w < 64 && h < 64) break; l += w * h * 4 }
    printf "%.1f %.1f\n", p / 1e6, l / 1e6 }'
}
read -r plate_px plate_lv < <(pixels_levels_mb "$PW" "$PH")
read -r jpeg_px jpeg_lv < <(pixels_levels_mb 12000 8000)
plate_budget=$(awk -v f="$(file_mb "$PLATE")" -v p="$plate_px" -v l="$plate_lv" 'BEGIN {printf "%.0f", (f + p + l) * 1.1}')
jpeg_budget=$(awk -v f="$(file_mb "$JPEG")" -v p="$jpeg_px" -v l="$jpeg_lv" 'BEGIN {printf "%.0f", (f + p + l) * 1.1}')

read -r png_px png_lv < <(pixels_levels_mb 12500 8000)
png_budget=$(awk -v f="$(file_mb "$BIGPNG")" -v p="$png_px" -v l="$png_lv" 'BEGIN {printf "%.0f", (f + p + l) * 1.1}')
load_range=$(tr ' ' '\n' <<<"$loads" | grep -v '^$' | sort -g | awk 'NR == 1 {lo = $1} {hi = $1} END {print lo " to " hi}')

echo
echo "Medians of $rounds rounds (crop export $crop_rounds, painting $paint_rounds); times in s, memory in MB of 10^6 bytes;"
echo "1-minute load average $load_range on $(nproc) cores. Ratios: of the medians, then [median of the rounds' own ratios]."
echo "| Work | Build | Tessary | Reference | Ratio | Target |"
echo "|---|---|---|---|---|---|"
for i in "${!builds[@]}"; do
  name=$(basename "$(dirname "${builds[$i]}")")/$(basename "${builds[$i]}")
  pm=$(median "plate_$i"); pn=$(median plate_native); pv=$(median plate_vips)
  echo "| Plate: start to ready | $name | $pm s | convert -depth 8 rgba: + sha256sum $pn s | $(ratio "$pm" "$pn") [$(median "plate_r_native_$i")] | at most 0.45 |"
  echo "| Plate: start to ready | $name | $pm s | vips copy + sha256sum $pv s | $(ratio "$pm" "$pv") [$(median "plate_r_vips_$i")] | |"
  rm_=$(median "restore_$i")
  echo "| Plate: return from the tray to ready | $name | $rm_ s | convert -depth 8 rgba: + sha256sum $pn s | $(ratio "$rm_" "$pn") [$(median "restore_r_native_$i")] | at most 0.35 |"
  echo "| Plate: return from the tray to ready | $name | $rm_ s | vips copy + sha256sum $pv s | $(ratio "$rm_" "$pv") [$(median "restore_r_vips_$i")] | |"
  echo "| Plate: processor time (all threads), start to ready / return to ready | $name | $(median "plate_cpu_$i") / $(median "restore_cpu_$i") s | convert + sha256sum $(median plate_native_cpu) s, vips copy + sha256sum $(median plate_vips_cpu) s | | |"
  pp=$(median "plate_peak_$i")
  echo "| Plate: peak resident memory, start | $name | $pp MB | budget (file + BGRA + levels + 10 %) $plate_budget MB | $(ratio "$pp" "$plate_budget") | at most 1.0 |"
  rp=$(median "restore_peak_$i")
  echo "| Plate: peak resident memory, start and return | $name | $rp MB | budget $plate_budget MB | $(ratio "$rp" "$plate_budget") | at most 1.0 |"
  ha=$(median "hidden_anon_$i")
  echo "| Hidden to the tray: private memory | $name | $ha MB (resident $(median "hidden_$i"), of it file-backed $(median "hidden_file_$i")) | target 40 MB | $(ratio "$ha" 40) | at most 1.0 |"
  jm=$(median "jpeg_$i"); jn=$(median jpeg_native)
  echo "| 12,000 x 8,000 JPEG: path to ready | $name | $jm s | convert + sha256sum $jn s | $(ratio "$jm" "$jn") [$(median "jpeg_r_$i")] | no regression |"
  echo "| 12,000 x 8,000 JPEG: peak resident memory | $name | $(median "jpeg_peak_$i") MB | budget $jpeg_budget MB | $(ratio "$(median "jpeg_peak_$i")" "$jpeg_budget") | no regression |"
  gm=$(median "png_$i"); gn=$(median png_native)
  echo "| 12,500 x 8,000 PNG: path to ready | $name | $gm s | convert + sha256sum $gn s | $(ratio "$gm" "$gn") [$(median "png_r_$i")] | no regression |"
  echo "| 12,500 x 8,000 PNG: peak resident memory | $name | $(median "png_peak_$i") MB | budget $png_budget MB | $(ratio "$(median "png_peak_$i")" "$png_budget") | no regression |"
  old=${series[open_old_$i]:-}; peak=${series[open_peak_$i]:-}
  if [ -n "$old" ] && [ -n "$peak" ]; then
    extra=$(awk -v p="$peak" -v o="$old" 'BEGIN {printf "%.0f", p - o}')
    echo "| Opening the JPEG while the plate is held: peak | $name | $peak MB (plate held: $old MB, + $extra MB) | new image's budget $jpeg_budget MB | $(ratio "$extra" "$jpeg_budget") x budget above the old image | |"
  fi
  echo "| Painting the plate: median frame, fitted / 100 % / panning | $name | $(median "paint_fit_$i") / $(median "paint_full_$i") / $(median "paint_pan_$i") ms | | | no regression |"
  cm=$(median "crop_$i"); cn=$(median crop_native)
  echo "| Crop export ${CROP} x ${CROP} | $name | $cm s | convert PNG encode of the same RGBA $cn s | $(ratio "$cm" "$cn") [$(median "crop_r_$i")] | |"
done
