#!/usr/bin/env bash
# The desktop window under a real window manager (openbox) on a German system
# (LANG=de_DE.UTF-8), judged from the screen's pixels and the windows' geometry as the X
# server reports them:
#  1. the start question: its buttons read "Ja" and "Nein" (the key J answers it, Y does
#     not), its text stands in its own five lines, the box is painted; the window's outer
#     frame is in the middle of the screen;
#  2. every box of a run is painted (the version message, the definition reader's message
#     after a held file was tried for ten seconds, the closing message), and an answered
#     box leaves no picture of itself behind while the run goes on; the run that abandoned
#     a client ends with status 3;
#  3. closing the window (Alt+F4) during the run ends it with status 130, as Ctrl-C does.
# Usage: openbox_window_test.sh KWANDOR_UPD MAKE_SAMPLE SCREEN_GRAB
# Xvfb, xdotool, openbox and sqlite3 are taken from XVFB, XDOTOOL, OPENBOX and SQLITE3, or
# from PATH; xwininfo and xprop from PATH.
# With SHOT_DIR set, the picture of the start question is saved there as start_question.png.
set -uo pipefail

program=$1
make_sample=$2
screen_grab=$3
openbox=${OPENBOX:-openbox}

source "$(dirname "$0")/x_test_support.sh"

start_x_session "$openbox"
# The program runs as on a German system; the rest of the test in any language.
german() { LANG=de_DE.UTF-8 LANGUAGE= LC_ALL= LC_MESSAGES= "$@"; }

# "X Y WIDTH HEIGHT" of a window's inside, and of the frame the window manager put around it.
geometry() {
  xwininfo -id "$1" 2>/dev/null |
    awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4}
         /Width:/{w=$2} /Height:/{h=$2} END{print x, y, w, h}'
}
frame_of() { xwininfo -tree -id "$1" 2>/dev/null | awk '/Parent window id/{print $4}'; }

# One reading of a rectangle of the screen: "black text_rows sum".
look() {
  "$screen_grab" "$@" 2>/dev/null | sed 's/black=//; s/text_rows=//; s/sum=//' ||
    fail "screen_grab"
}

# The next box, once the window manager has placed it and it had time to paint.
placed_box() {
  local box
  box=$(next_box) || exit 1
  sleep 0.5
  echo "$box"
}

# Fails unless the box's inside is painted within three seconds: an unpainted window is
# pure black.
expect_painted() {
  local box=$1 what=$2 black _
  for _ in $(seq 30); do
    read -r black _ < <(look $(geometry "$box"))
    [ "$black" -lt 50 ] && return 0
    sleep 0.1
  done
  fail "$what: $black per mille of the box stay black"
}

# Presses a key in the box; true once the box is gone.
press() {
  x windowactivate --sync "$1"
  x key --clearmodifiers "$2"
  box_gone "$1"
}

finish_run() {
  local deadline=$((SECONDS + 60))
  while kill -0 "$run_pid" 2>/dev/null; do
    [ "$SECONDS" -lt "$deadline" ] || fail "the run did not end"
    sleep 0.1
  done
  wait "$run_pid"
  status=$?
  run_pid=""
}

# Clients (make_sample's defaults): 01 converts, 02 is at version 6.3 (its message), 03
# has no name, 04 no database; 05's definition file is held by another program for longer
# than it is tried (its message after ten seconds); 06's database is damaged (abandoned,
# named in the closing message).
prefix="$work/prefix"
"$make_sample" "$prefix" --format sqlite --plz-rows 3000 --clients 6 --rows-per-client 300 \
  >/dev/null || fail "make_sample"
data="$prefix/drive_d/Daten"
head -c 4096 /dev/zero | tr '\0' 'x' >"$data/Mand06/NoltData.mdb"
perl -e 'use Fcntl qw(:DEFAULT :seek); open(my $f, "+<", $ARGV[0]) or die "open: $!";
         my $lock = pack("s s x4 q q i x4", F_WRLCK, SEEK_SET, 0, 0, 0);
         fcntl($f, F_SETLK, $lock) or die "lock: $!";
         $| = 1; print "held\n"; sleep 120;' "$data/Mand05/NoltData.def" >"$work/holder.out" 2>&1 &
holder_pid=$!
helper_pids+=("$holder_pid")
for _ in $(seq 50); do grep -q held "$work/holder.out" && break; sleep 0.1; done
grep -q held "$work/holder.out" || fail "the definition file could not be held: $(cat "$work/holder.out")"

WINEPREFIX="$prefix" german timeout 150 "$program" </dev/null >"$work/run.log" 2>&1 &
run_pid=$!

# 1. The start question.
box=$(placed_box)
main=$(x search --onlyvisible --name '^Anpassen der Telefonvorwahlen$' | head -n 1)
[ -n "$main" ] || fail "the window is not on the screen with its question"
read -r fx fy fw fh < <(geometry "$(frame_of "$main")")
read -r sw sh < <(xwininfo -root | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w, h}')
[ "$fw" -gt 303 ] && [ "$fh" -gt 144 ] || fail "the window has no frame: ${fw}x$fh"
for d in "$((2 * fx + fw - sw))" "$((2 * fy + fh - sh))"; do
  [ "${d#-}" -le 1 ] || fail "the frame ${fw}x$fh+$fx+$fy is not in the middle of ${sw}x$sh"
done
expect_painted "$box" "the start question"
read -r bx by bw bh < <(geometry "$box")
# The text right of the icon, above the buttons: four lines of text and the empty one.
read -r _ rows _ < <(look $((bx + 56)) "$by" $((bw - 56)) $((bh - 40)))
[ "$rows" = 4 ] || fail "the start question shows $rows lines of text, not 4 and an empty one"
if [ -n "${SHOT_DIR:-}" ]; then
  look $(geometry "$(frame_of "$box")") "$SHOT_DIR/start_question.png" >/dev/null
fi
! press "$box" y || fail "Y answered the question: its buttons are not German"
press "$box" j || fail "J did not answer the question: it has no button \"Ja\""

# 2. The version message, then the ten seconds of the held file, its message, the end.
box=$(placed_box)
expect_painted "$box" "the version message"
read -r bx by bw bh < <(geometry "$box")
read -r mx my mw mh < <(geometry "$main")
# Where the box covered the window: after the answer the window shows itself there again.
ix=$((bx > mx ? bx : mx)); iy=$((by > my ? by : my))
iw=$(((bx + bw < mx + mw ? bx + bw : mx + mw) - ix)); ih=$(((by + bh < my + mh ? by + bh : my + mh) - iy))
[ "$iw" -gt 0 ] && [ "$ih" -gt 0 ] || fail "the version message does not cover the window"
read -r _ _ covered < <(look "$ix" "$iy" "$iw" "$ih")
press "$box" Return || fail "Return did not answer the version message"
sleep 2
x search --onlyvisible --name '^Kwandor_Upd$' >/dev/null && fail "a box came during the held file's retry"
read -r _ _ after < <(look "$ix" "$iy" "$iw" "$ih")
[ "$after" != "$covered" ] || fail "the version message's picture stays on the window after its answer"

box=$(placed_box)
expect_painted "$box" "the definition reader's message"
press "$box" Return || fail "Return did not answer the definition reader's message"
box=$(placed_box)
expect_painted "$box" "the closing message"
press "$box" Return || fail "Return did not answer the closing message"
finish_run
[ "$status" = 3 ] || fail "the run that abandoned a client ended with $status, not 3"
grep -q "Frage" "$work/run.log" && fail "the console answered under a display"
kill "$holder_pid" 2>/dev/null

# 3. The window closed during the general pass.
big="$work/big"
"$make_sample" "$big" --format sqlite --plz-rows 1000000 --clients 1 --rows-per-client 10 \
  >/dev/null || fail "make_sample"
WINEPREFIX="$big" german timeout 150 "$program" </dev/null >"$work/closed.log" 2>&1 &
run_pid=$!
box=$(placed_box)
press "$box" j || fail "J did not answer the question"
main=$(x search --onlyvisible --name '^Anpassen der Telefonvorwahlen$' | head -n 1)
x windowactivate --sync "$main"
x key --clearmodifiers alt+F4
finish_run
[ "$status" = 130 ] || fail "closing the window ended the run with $status, not 130"
left=$("${SQLITE3:-sqlite3}" -readonly "$big/drive_d/Daten/Public/Public.mdb" \
  "SELECT count(*) FROM PLZSTM WHERE LAND = 'CH' AND TELVOR = '01'")
[ "$left" -gt 0 ] || fail "closing the window did not end the run midway"
echo "ok: German start question in its own lines, painted boxes, centred frame, status 3 and 130"
