# Starts a virtual display when none is set (sourced). stop_display ends only what
# start_display started.
TESSARY_XVFB_PID=""
start_display() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return 0; fi
  local n
  for n in $(seq 91 120); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1600x1000x24 -nolisten tcp >/dev/null 2>&1 &
    TESSARY_XVFB_PID=$!
    export DISPLAY=":$n"
    for _ in $(seq 1 50); do xdpyinfo >/dev/null 2>&1 && return 0; sleep 0.1; done
    kill "$TESSARY_XVFB_PID" 2>/dev/null || true
    TESSARY_XVFB_PID=""
  done
  echo "Could not start a virtual display" >&2
  return 1
}
stop_display() {
  if [ -n "$TESSARY_XVFB_PID" ]; then kill "$TESSARY_XVFB_PID" 2>/dev/null || true; wait "$TESSARY_XVFB_PID" 2>/dev/null || true; TESSARY_XVFB_PID=""; fi
}

# The end of a script that starts desks on the display: the desk it left running
# (DESK_PID), the Wine server it started (started_server=1), the display it started and
# its scratch folder (WORK).
end_desk_session() {
  if [ -n "${DESK_PID:-}" ] && kill -0 "$DESK_PID" 2>/dev/null; then
    kill "$DESK_PID" 2>/dev/null || true
    wait "$DESK_PID" 2>/dev/null || true
  fi
  if [ "${started_server:-0}" = 1 ]; then wineserver -k 2>/dev/null || true; fi
  stop_display
  if [ -n "${WORK:-}" ]; then rm -rf "$WORK"; fi
}
