#!/usr/bin/env bash
# Builds everything and runs every test: the platform-free rules natively under
# AddressSanitizer and UndefinedBehaviorSanitizer, a short run of every libFuzzer
# target (scripts/fuzz.sh), then the Windows build under Wine
# (unit tests through CTest, the program's own --self-test, the end-to-end scenarios
# against a real window on a virtual display). Fails when anything fails.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$TESSARY_ROOT"
"$TESSARY_ROOT/scripts/install-deps.sh"
jobs=$(nproc)
start=$(date +%s)

echo "== Native build of the rules (ASan + UBSan)"
cmake -S . -B "$TESSARY_BUILD/native" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$TESSARY_BUILD/native" -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir "$TESSARY_BUILD/native" --output-on-failure -j "$jobs"

echo "== Fuzz targets, a short run of each from its seed corpus (clang, ASan + UBSan)"
"$TESSARY_ROOT/scripts/fuzz.sh" --seeds-only 5

echo "== Windows build"
cmake -S . -B "$TESSARY_BUILD/win" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$TESSARY_ROOT/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$TESSARY_BUILD/win" -j "$jobs"

echo "== Reproducible build"
# The resources and the final link redone in another folder give the same Tessary.exe.
"$TESSARY_ROOT/scripts/check-reproducible.sh" "$TESSARY_BUILD/win"

echo "== Tests under Wine"
"$TESSARY_ROOT/scripts/wine-prefix.sh"
source "$TESSARY_ROOT/scripts/display.sh"
start_display
# A server already running for this prefix (another run) is used as it is.
wineserver -p 2>/dev/null || true
cleanup() { wineserver -k 2>/dev/null || true; stop_display; }
trap cleanup EXIT
# The first Wine program of a session starts Wine's own background processes, which
# inherit its standard streams. Started here with them on /dev/null, so that they
# do not hold open the pipes through which CTest lists the first test program's tests
# (CTest would wait for those pipes until its discovery timeout).
wine cmd /c exit </dev/null >/dev/null 2>&1 || true
ctest --test-dir "$TESSARY_BUILD/win" --output-on-failure -j "$jobs"

if [ -x "$TESSARY_ROOT/tests/selftest/run-self-test.sh" ]; then
  echo "== Self-test mode"
  "$TESSARY_ROOT/tests/selftest/run-self-test.sh" "$TESSARY_BUILD/win/bin/Tessary.exe"
fi
if [ -x "$TESSARY_ROOT/tests/ui/run-scenarios.sh" ]; then
  echo "== End-to-end scenarios"
  "$TESSARY_ROOT/tests/ui/run-scenarios.sh" "$TESSARY_BUILD/win/bin/Tessary.exe"
fi
if [ -x "$TESSARY_ROOT/tests/ui/run-plain-prefix.sh" ]; then
  echo "== The desk in a plain Wine prefix"
  "$TESSARY_ROOT/tests/ui/run-plain-prefix.sh" "$TESSARY_BUILD/win/bin/Tessary.exe"
fi
echo "== All tests passed in $(( $(date +%s) - start )) s"
