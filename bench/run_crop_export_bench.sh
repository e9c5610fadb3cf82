#!/usr/bin/env bash
# Crop export of a square from the middle of the built-in plate (4,731 x 4,731,
# about 22 MP, unless told otherwise) by the desk's export command under Wine,
# beside the same rectangle of the same PNG cropped and saved as PNG natively by
# `vips crop` and by ImageMagick's `convert -crop`. The three run alternately, one
# after another in every round (the order turns each round); the desk decodes the
# plate once, before the rounds, and exports once a round. Prints each round, then
# the medians of wall time, processor time and file size, and every ratio to the
# references.
#   bench/run_crop_export_bench.sh <windows-build-dir> [rounds] [side] [plate.png]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"
build=$(cd "${1:?windows build directory}" && pwd)
rounds=${2:-5}
side=${3:-4731}
plate=${4:-$build/generated-resources/plate.png}
[ -f "$plate" ] || { echo "no plate at $plate" >&2; exit 2; }
read -r width height < <(python3 -c "
import struct,sys
b=open(sys.argv[1],'rb').read(24); print(*struct.unpack('>II', b[16:24]))" "$plate")
# The desk's crop: the middle of the image, as crop_export_bench_win.cpp takes it.
x=$(( width / 2 - side / 2 ))
y=$(( height / 2 - side / 2 ))
echo "plate $width x $height, crop $side x $side at ($x, $y), $rounds rounds, $(nproc) cores"

work=$(mktemp -d)
desk_pid=
cleanup() {
  [ -n "$desk_pid" ] && kill "$desk_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
# Debian's ImageMagick policy caps the pixel cache at 256 MiB and would page the
# plate to disk; a private copy of the policy with room for it keeps it in memory.
sed -e 's/name="memory" value="[^"]*"/name="memory" value="8GiB"/' \
    -e 's/name="map" value="[^"]*"/name="map" value="8GiB"/' \
    -e 's/name="area" value="[^"]*"/name="area" value="1GP"/' \
    -e 's/name="disk" value="[^"]*"/name="disk" value="16GiB"/' \
    -e 's/name="width" value="[^"]*"/name="width" value="64KP"/' \
    -e 's/name="height" value="[^"]*"/name="height" value="64KP"/' \
    /etc/ImageMagick-6/policy.xml > "$work/policy.xml"
export MAGICK_CONFIGURE_PATH=$work

# The desk's bench, serving one export for each line it reads.
mkfifo "$work/to-desk" "$work/from-desk"
wine "$build/bench/crop_export_bench.exe" "Z:${plate//\//\\}" --serve "$side" \
  <"$work/to-desk" >"$work/from-desk" 2>/dev/null &
desk_pid=$!
exec 3>"$work/to-desk" 4<"$work/from-desk"
read -r ready <&4
[ "${ready%$'\r'}" = ready ] || { echo "desk bench: $ready" >&2; exit 1; }

# One timed native command: prints "<wall s> <processor s>".
timed() {
  /usr/bin/time -f "%e %U %S" -o "$work/time" "$@" >/dev/null 2>&1
  awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }' "$work/time"
}
run_desk() {
  echo go >&3
  local line
  read -r line <&4
  line=${line%$'\r'}
  set -- $line
  [ "$1" = export ] && [ "$5" = ok ] || { echo "desk bench: $line" >&2; exit 1; }
  echo "desk $(awk -v w="$2" -v p="$3" 'BEGIN { printf "%.3f %.3f", w / 1000, p / 1000 }') $4"
}
run_vips() {
  rm -f "$work/vips.png"
  echo "vips $(timed vips crop "$plate" "$work/vips.png" "$x" "$y" "$side" "$side") $(stat -c %s "$work/vips.png")"
}
run_convert() {
  rm -f "$work/convert.png"
  echo "convert $(timed /usr/bin/convert "$plate" -crop "${side}x${side}+${x}+${y}" +repage "$work/convert.png") \
$(stat -c %s "$work/convert.png")"
}

tools=(desk vips convert)
: >"$work/figures"
for ((r = 0; r < rounds; ++r)); do
  for ((k = 0; k < 3; ++k)); do
    tool=${tools[$(( (r + k) % 3 ))]}
    figures=$(run_$tool)
    echo "round $((r + 1)): $figures (wall s, processor s, bytes)"
    echo "$figures" >>"$work/figures"
  done
done

python3 - "$work/figures" <<'PY'
import statistics, sys
rows = [line.split() for line in open(sys.argv[1])]
med = {}
for tool in ("desk", "vips", "convert"):
    mine = [r for r in rows if r[0] == tool]
    med[tool] = [statistics.median(float(r[i]) for r in mine) for i in (1, 2, 3)]
print("\nmedians             wall s  processor s         bytes")
for tool, (w, p, b) in med.items():
    print(f"{tool:<18} {w:7.2f} {p:12.2f} {b:13.0f}")
print("\nratios of the desk's export   wall   processor   file size")
for ref in ("vips", "convert"):
    d, o = med["desk"], med[ref]
    print(f"  to {ref + ' crop':<26}{d[0] / o[0]:6.2f}x {d[1] / o[1]:9.2f}x {d[2] / o[2]:9.2f}x")
print("\nratios of vips crop to convert -crop: wall %.2fx, processor %.2fx, file size %.2fx"
      % tuple(med["vips"][i] / med["convert"][i] for i in range(3)))
PY
