#!/usr/bin/env bash
# Runs the decode benchmark under Wine next to a native decode of the same file by
# ImageMagick and the host's sha256sum, so the figures of one run can be compared.
#   bench/run_decode_bench.sh <windows-build-dir> [image.png]
# Without an image, a 14,000 x 8,000 RGB PNG of fractal noise is made once in /tmp.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"
build=${1:?windows build directory}
image=${2:-/tmp/tessary-bench-14000x8000.png}
# Debian's ImageMagick policy caps the pixel cache at 256 MiB and would page a large
# image to disk; a private copy of the policy with room for it keeps the native
# decode in memory.
magick_conf=$(mktemp -d)
trap 'rm -rf "$magick_conf"' EXIT
sed -e 's/name="memory" value="[^"]*"/name="memory" value="8GiB"/' \
    -e 's/name="map" value="[^"]*"/name="map" value="8GiB"/' \
    -e 's/name="area" value="[^"]*"/name="area" value="1GP"/' \
    -e 's/name="disk" value="[^"]*"/name="disk" value="16GiB"/' \
    -e 's/name="width" value="[^"]*"/name="width" value="64KP"/' \
    -e 's/name="height" value="[^"]*"/name="height" value="64KP"/' \
    /etc/ImageMagick-6/policy.xml > "$magick_conf/policy.xml"
export MAGICK_CONFIGURE_PATH=$magick_conf
if [ ! -f "$image" ]; then
  echo "making $image"
  /usr/bin/convert -seed 7 -size 14000x8000 plasma:fractal -blur 0x1 -depth 8 \
    -type TrueColor -define png:color-type=2 "$image"
fi
ls -l "$image"
echo "== Wine: bench_decode"
wine "$build/bench/bench_decode.exe" "Z:${image//\//\\}"
echo "== native: ImageMagick decode to 8-bit RGBA (wall s, peak KiB)"
/usr/bin/time -f "%e s, %M KiB" /usr/bin/convert "$image" -depth 8 rgba:/dev/null
echo "== native: sha256sum (wall s, peak KiB)"
/usr/bin/time -f "%e s, %M KiB" sha256sum "$image"
