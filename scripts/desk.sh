#!/usr/bin/env bash
# Builds Tessary.exe and starts the desk under Wine.
#
#   bash scripts/desk.sh [--ui-test | --ui-test-es | --ui-test-de]
#
# Installs what is missing (Debian packages), builds the Windows build in build/win
# (the same configuration as scripts/check.sh), creates the Wine prefix in
# build/wine-prefix and runs the desk:
#  - with a display: on that display, in the foreground, until the desk ends (Quit);
#  - without one: on a virtual display; waits for the plate, saves a screenshot,
#    prints where it is and how to watch the live desk, and keeps the desk running
#    until Ctrl+C.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$TESSARY_ROOT"

exe="$TESSARY_BUILD/win/bin/Tessary.exe"
driver="$TESSARY_BUILD/win/tests/desk_driver.exe"

if [ -z "${TESSARY_DESK_HEADLESS_RUN:-}" ]; then
  "$TESSARY_ROOT/scripts/install-deps.sh"

  echo "== Building Tessary.exe (build/win)"
  cmake -S . -B "$TESSARY_BUILD/win" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$TESSARY_ROOT/cmake/mingw-w64-x86_64.cmake" >/dev/null
  cmake --build "$TESSARY_BUILD/win" -j "$(nproc)" --target Tessary desk_driver

  "$TESSARY_ROOT/scripts/wine-prefix.sh"
fi

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  echo "== Starting the desk on display $DISPLAY (Quit Tessary ends it; Close hides it to the notification area)"
  set +e
  wine "$exe" "$@"
  rc=$?
  set -e
  echo "The desk ended with exit code $rc"
  exit "$rc"
fi

# No display: a virtual one, a screenshot, and the desk kept running until Ctrl+C.
# Ctrl+C reaches every process of the terminal's foreground group, and both Xvfb
# and Wine end at once on it. So the virtual display and the desk run in a session
# of their own (this script again, after the build); this process only passes
# Ctrl+C on, and the inner one quits the desk through its Quit button (which saves
# the notes) before it stops the display.
if [ -z "${TESSARY_DESK_HEADLESS_RUN:-}" ]; then
  TESSARY_DESK_HEADLESS_RUN=1 setsid bash "$TESSARY_ROOT/scripts/desk.sh" "$@" &
  inner=$!
  trap 'kill -TERM "$inner" 2>/dev/null || true' INT TERM
  set +e
  while kill -0 "$inner" 2>/dev/null; do wait "$inner"; done
  exit 0
fi

source "$TESSARY_ROOT/scripts/display.sh"
start_display
desk_pid=""
vnc_pid=""
stopping=0
finish() {
  set +e
  [ "$stopping" = 1 ] && return
  stopping=1
  if [ -n "$desk_pid" ] && kill -0 "$desk_pid" 2>/dev/null; then
    echo "Stopping the desk"
    # Quit through its own button, which saves the notes first.
    quit=$(wine "$driver" control 121 2>/dev/null | tr -d '\r' | awk '{printf "%d %d", ($6 + $8) / 2, ($7 + $9) / 2}')
    if [ -n "$quit" ]; then
      # shellcheck disable=SC2086
      xdotool mousemove $quit click 1 2>/dev/null || true
    fi
    for _ in $(seq 1 100); do kill -0 "$desk_pid" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$desk_pid" 2>/dev/null; then kill "$desk_pid" 2>/dev/null || true; fi
    wait "$desk_pid" 2>/dev/null
    echo "The desk ended with exit code $?"
  fi
  if [ -n "$vnc_pid" ]; then kill "$vnc_pid" 2>/dev/null || true; wait "$vnc_pid" 2>/dev/null || true; fi
  stop_display
}
trap finish EXIT
trap 'exit 0' INT TERM

echo "== No display found: starting the desk on the virtual display $DISPLAY"
wine "$exe" "$@" >/dev/null 2>&1 &
desk_pid=$!
if wine "$driver" wait-window 60000 shown >/dev/null 2>&1 &&
  wine "$driver" wait-enabled 105 1 180000 >/dev/null 2>&1; then
  echo "The plate is loaded."
else
  echo "The desk did not show the plate in time; the screenshot shows its state."
fi
sleep 1
shot="$TESSARY_BUILD/desk-screenshot.png"
/usr/bin/import -window root "$shot"
echo "Screenshot of the desk: $shot"

if command -v x11vnc >/dev/null 2>&1; then
  x11vnc -display "$DISPLAY" -localhost -forever -shared -nopw -quiet -rfbport 5900 >/dev/null 2>&1 &
  vnc_pid=$!
  echo "Live desk: connect a VNC viewer to localhost:5900 (from another machine: ssh -L 5900:localhost:5900 this-host)."
else
  echo "To watch and use the live desk, install Debian's x11vnc (apt-get install x11vnc) and run"
  echo "  x11vnc -display $DISPLAY -localhost -nopw"
  echo "then connect a VNC viewer to localhost:5900 (from another machine through ssh -L 5900:localhost:5900)."
fi
echo "The desk keeps running; press Ctrl+C to quit it."
set +e
wait "$desk_pid"
rc=$?
desk_pid=""
echo "The desk ended with exit code $rc"
