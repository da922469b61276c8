# Sourced by the scripts that need a display: start_xvfb DIR starts a virtual
# X server, sets xvfb_pid and exports DISPLAY. -displayfd picks a free display
# and reports it once the server is ready; -noreset keeps the server from
# resetting (and refusing connections meanwhile) each time its last client
# leaves, as a display probe and xdotool do. Returns 1 when it did not start.
start_xvfb() {
  local dir=$1
  rm -f "$dir/display"
  "${XVFB:-Xvfb}" -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset \
    3>"$dir/display" 2>"$dir/xvfb.log" &
  xvfb_pid=$!
  for _ in $(seq 100); do
    [ -s "$dir/display" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || return 1
    sleep 0.1
  done
  [ -s "$dir/display" ] || return 1
  export DISPLAY=":$(head -n 1 "$dir/display")"
}
