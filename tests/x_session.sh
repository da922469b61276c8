# Sourced by the tests that run the program under X as a user would: a virtual X server
# (Xvfb) on a free display, and a window manager on it when one is named.
#   start_x_session WORK_DIR [WINDOW_MANAGER]   exports DISPLAY; fails the test when the
#                                               server or the manager does not come up
#   stop_x_session                              ends both (call it from the EXIT trap)
# Needs a function fail (message) from the test. XVFB names Xvfb (default: from PATH).

x_session_pids=()

start_x_session() {
  local work=$1 wm=${2:-} _
  # -displayfd picks a free display and reports it once the server is ready; -noreset
  # keeps the server from resetting (and refusing connections meanwhile) each time its
  # last client leaves, as the display probe and xdotool do.
  "${XVFB:-Xvfb}" -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset \
    3>"$work/display" 2>"$work/xvfb.log" &
  x_session_pids+=($!)
  for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    kill -0 "${x_session_pids[0]}" 2>/dev/null || fail "Xvfb did not start"
    sleep 0.1
  done
  [ -s "$work/display" ] || fail "Xvfb did not report its display"
  export DISPLAY=":$(head -n 1 "$work/display")"
  unset WAYLAND_DISPLAY QT_QPA_PLATFORM
  [ -n "$wm" ] || return 0
  "$wm" >"$work/wm.log" 2>&1 &
  x_session_pids+=($!)
  # The manager is up once it has claimed the screen (EWMH: _NET_SUPPORTING_WM_CHECK).
  for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && return 0
    kill -0 "${x_session_pids[1]}" 2>/dev/null || fail "$wm did not start"
    sleep 0.1
  done
  fail "$wm did not take the screen"
}

stop_x_session() {
  local i
  for ((i = ${#x_session_pids[@]} - 1; i >= 0; i--)); do
    kill "${x_session_pids[$i]}" 2>/dev/null
    wait "${x_session_pids[$i]}" 2>/dev/null
  done
  x_session_pids=()
}
