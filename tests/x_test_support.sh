# Sourced by the tests that run the program under X as a user would. Gives them:
#   $work                        a fresh folder, removed at the end; its *.log files are
#                                shown when the test fails
#   fail MESSAGE                 ends the test as failed, with the logs
#   x ARGS...                    xdotool (XDOTOOL, or from PATH) with a time limit
#   start_x_session [MANAGER]    a virtual X server (XVFB, or Xvfb from PATH) on a free
#                                display, and the window manager MANAGER on it when named;
#                                exports DISPLAY
#   next_box                     prints the id of the program's next message box once it is
#                                on the screen; fails when the program ends first
#   box_gone BOX [TENTHS]        true once BOX has left the screen (within a second, or
#                                TENTHS tenths of a second)
# At the end: the program whose pid the test keeps in run_pid while it runs, the
# processes in helper_pids, the X session and the folder are done away with.

source "$(dirname "${BASH_SOURCE[0]}")/xvfb.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/kw_x.XXXXXX")
run_pid=""
helper_pids=()
x_session_pids=()

end_test() {
  local pid i
  for pid in $run_pid "${helper_pids[@]}"; do
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  for ((i = ${#x_session_pids[@]} - 1; i >= 0; i--)); do
    kill "${x_session_pids[$i]}" 2>/dev/null
    wait "${x_session_pids[$i]}" 2>/dev/null
  done
  rm -rf "$work"
}
trap end_test EXIT
trap 'exit 1' INT TERM HUP

fail() {
  echo "FAIL: $*" >&2
  for f in "$work"/*.log; do
    [ -s "$f" ] && { echo "--- $(basename "$f")" >&2; tail -n 20 "$f" >&2; }
  done
  exit 1
}

x() { timeout 10 "${XDOTOOL:-xdotool}" "$@" 2>/dev/null; }

next_box() {
  local box="" _
  for _ in $(seq 400); do
    box=$(x search --onlyvisible --name '^Kwandor_Upd$' | head -n 1)
    [ -n "$box" ] && break
    kill -0 "$run_pid" 2>/dev/null || fail "the program ended before its next message box"
    sleep 0.05
  done
  [ -n "$box" ] || fail "no message box came"
  echo "$box"
}

box_gone() {
  local box=$1 _
  for _ in $(seq $((${2:-10} * 2))); do
    x search --onlyvisible --name '^Kwandor_Upd$' | grep -qx "$box" || return 0
    sleep 0.05
  done
  return 1
}

start_x_session() {
  local wm=${1:-} _
  local started=0
  start_xvfb "$work" || started=$?
  [ -n "${xvfb_pid:-}" ] && x_session_pids+=("$xvfb_pid")
  [ "$started" -eq 0 ] || fail "Xvfb did not start"
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
