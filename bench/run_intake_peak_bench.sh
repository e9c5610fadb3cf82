#!/usr/bin/env bash
# Peak memory of loading the worst small files of each format at the pixel limits
# (12,247 x 12,247 pixels; see bench/intake_peak_bench_win.cpp), each loaded in a
# fresh process under Wine, several rounds, medians printed as a table:
#   - growth:  the process's peak working set during the load less its working set
#              before it;
#   - promise: the file and the decoded pixels (4 bytes a pixel) together;
#   - ratio:   growth / promise;
#   - copy:    the decoder's own copy of the frame at its stored depth, as the intake
#              rules estimate it (a TIFF's one strip or tile);
#   - ceiling: growth / (promise + copy), the most a load is promised to hold: about
#              1.00 (the format converter's band of 4 MiB and, for TIFF, libtiff's
#              undecoded copy of one strip, a part of the file, come on top).
#
#   bench/run_intake_peak_bench.sh [--rounds N] [--only PATTERN] <windows-build-dir>
# --only loads only the files whose names match the shell pattern (png-?txt-*, say).
set -euo pipefail
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$HERE/../scripts/common.sh"

rounds=3
only='*'
while [ $# -gt 1 ]; do
  case "$1" in
    --rounds) rounds=$2; shift 2 ;;
    --only) only=$2; shift 2 ;;
    *) break ;;
  esac
done
build=$(cd "${1:?usage: $0 [--rounds N] [--only PATTERN] <windows-build-dir>}" && pwd)
exe="$build/bench/bench_intake_peak.exe"
[ -f "$exe" ] || { echo "$exe is missing" >&2; exit 2; }

work=$(mktemp -d /tmp/tessary-intake-peak.XXXXXX)
started_server=0
cleanup() {
  rm -rf "$work"
  if [ $started_server = 1 ]; then wineserver -k 2>/dev/null || true; fi
}
trap cleanup EXIT
if wineserver -p 2>/dev/null; then started_server=1; fi

winpath() { echo "Z:${1//\//\\}"; }
wine "$exe" make "$(winpath "$work")" | sed 's/^/made /'

files=$(cd "$work" && for f in *; do case "$f" in $only) echo "$f" ;; esac; done)
for round in $(seq 1 "$rounds"); do
  for f in $files; do
    # A load that ends the process (out of memory, say) is reported, not skipped.
    status=0
    output=$(wine "$exe" load "$(winpath "$work/$f")" 2>&1) || status=$?
    if [ $status -ne 0 ]; then
      echo "$f: the load ended with exit code $status: $(echo "$output" | tail -1)" >&2
      continue
    fi
    echo "$f $(echo "$output" | tail -1)" >>"$work/figures"
  done
  echo "round $round of $rounds done" >&2
done

# One row per file: the median growth, and the other figures of the last round.
field() { awk -v key="$1" '{ for (i = 2; i < NF; ++i) if ($i == key) print $(i + 1) }'; }
printf '\n%-26s %12s %8s %10s %10s %8s %6s %8s  %s\n' file size file_MB growth_MB promise_MB copy_MB ratio ceiling outcome
for f in $files; do
  rows=$(grep "^$f " "$work/figures" || true)
  if [ -z "$rows" ]; then
    printf '%-24s  no load completed\n' "$f"
    continue
  fi
  growth=$(echo "$rows" | field peak_growth_mb | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }')
  last=$(echo "$rows" | tail -1)
  size=$(echo "$last" | field size)
  file=$(echo "$last" | field file_mb)
  promise=$(echo "$last" | field promise_mb)
  copy=$(echo "$last" | field copy_mb)
  outcome=${last#* outcome }
  awk -v f="$f" -v s="$size" -v fm="$file" -v g="$growth" -v p="$promise" -v c="$copy" -v o="$outcome" 'BEGIN {
    printf "%-26s %12s %8.1f %10.1f %10.1f %8.1f %6.2f %8.2f  %s\n", f, s, fm, g, p, c, g / p, g / (p + c), o }'
done
