#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz natively with clang (ASan + UBSan) in
# build/fuzz and runs them one after another.
#   scripts/fuzz.sh [seconds per target]            (default 60) grows a working corpus
#                                                   in build/fuzz/corpus/<target>, which
#                                                   starts from the committed seeds
#   scripts/fuzz.sh --seeds-only [seconds]          (default 5) starts from the committed
#                                                   seeds alone and keeps nothing (the
#                                                   short run of scripts/check.sh)
# Prints the runs made by each target; fails when any target finds an input that
# crashes or breaks one of its checks (kept in build/fuzz/findings/<target>/). For the
# image header target it also prints how many inputs libtiff read that the TIFF walk
# refused, by the walk's written reason (see tests/fuzz/image_header_fuzz.cpp).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$TESSARY_ROOT"

seeds_only=0
if [ "${1:-}" = "--seeds-only" ]; then
  seeds_only=1
  shift
fi
seconds="${1:-$([ $seeds_only = 1 ] && echo 5 || echo 60)}"
case "$seconds" in (*[!0-9]*|'') echo "usage: $0 [--seeds-only] [seconds per target]" >&2; exit 2;; esac

build="$TESSARY_BUILD/fuzz"
targets=(image_header sheet_reader text_rules notes_csv path_and_crop segmented_png)

cmake -S tests/fuzz -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=/usr/bin/clang++ >/dev/null
nice -n 10 cmake --build "$build" -j "$(nproc)"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export TMPDIR="$scratch"   # the sheet target's scratch file
failed=()
for target in "${targets[@]}"; do
  seeds="tests/fuzz/corpus/$target"
  if [ $seeds_only = 1 ]; then
    corpus="$scratch/corpus-$target"
  else
    corpus="$build/corpus/$target"
  fi
  findings="$build/findings/$target"
  mkdir -p "$corpus" "$findings"
  log="$scratch/$target.log"
  status=0
  # New inputs go to the first folder; the committed seeds are only read.
  TESSARY_FUZZ_STRICTER=1 nice -n 10 "$build/fuzz_$target" -max_total_time="$seconds" -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" "$seeds" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  if [ $status -ne 0 ]; then
    echo "fuzz_$target: FAILED after ${runs:-?} runs (exit $status)"
    tail -40 "$log"
    failed+=("$target")
  else
    echo "fuzz_$target: ${runs:-?} runs in ${seconds} s, no failure"
    # Inputs a reference reader read and a walk refused, by the walk's reason.
    { grep -E '^(stricter|agreed|looser): ' "$log" || true; } | sed 's/^/  /'
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "Fuzz targets failed: ${failed[*]} (inputs in $build/findings/)" >&2
  exit 1
fi
