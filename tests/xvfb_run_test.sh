#!/usr/bin/env bash
# Runs the real program the way a user does, on a sample installation:
#  1. without a display it talks on the terminal (answered No: nothing changes);
#  2. under Xvfb it shows its window; the start question and the version message of the
#     older client are answered by pressing Return, as a user would; the run must end by
#     itself with status 0 and the data converted;
#  3. Ctrl-C during the general pass ends the run with status 130, the rows converted so
#     far being the first ones of the pass and the database sound.
# Usage: xvfb_run_test.sh KWANDOR_UPD MAKE_SAMPLE
# Xvfb, xdotool and sqlite3 are taken from XVFB, XDOTOOL and SQLITE3, or from PATH.
set -uo pipefail
. "$(dirname "$0")/xvfb.sh"

program=$1
make_sample=$2
xdotool=${XDOTOOL:-xdotool}
sqlite=${SQLITE3:-sqlite3}

work=$(mktemp -d "${TMPDIR:-/tmp}/kw_xvfb.XXXXXX")
xvfb_pid=""
run_pid=""
cleanup() {
  if [ -n "$run_pid" ]; then kill -KILL "$run_pid" 2>/dev/null; wait "$run_pid" 2>/dev/null; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

fail() {
  echo "FAIL: $*" >&2
  for f in "$work"/*.log; do
    [ -s "$f" ] && { echo "--- $(basename "$f")" >&2; tail -n 20 "$f" >&2; }
  done
  exit 1
}

prefix="$work/prefix"
data="$prefix/drive_d/Daten"
"$make_sample" "$prefix" --format sqlite --plz-rows 3000 --clients 4 --rows-per-client 300 >/dev/null ||
  fail "make_sample"

sql() { "$sqlite" -readonly "$1" "$2"; }
plz_open="SELECT count(*) FROM PLZSTM WHERE LAND = 'CH' AND TELVOR = '01'"
adr_open="SELECT count(*) FROM ADRSTM WHERE LAND = 'CH' AND (TELVOR = '01' OR FAXVOR = '01')"
plz_before=$(sql "$data/Public/Public.mdb" "$plz_open")
[ "$plz_before" -gt 0 ] || fail "the sample has nothing to convert"

# 1. No display: the terminal front end asks; "n" declines.
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM WINEPREFIX="$prefix" \
  timeout 60 "$program" <<<"n" >"$work/console.log" 2>&1 || fail "console run ended with $?"
grep -q "Frage \[Ja/Nein\]" "$work/console.log" || fail "no console prompt without a display"
[ "$(sql "$data/Public/Public.mdb" "$plz_open")" = "$plz_before" ] || fail "No changed data"

# 2. Under Xvfb.
start_xvfb "$work" || fail "Xvfb did not start"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM

x() { timeout 10 "$xdotool" "$@" 2>/dev/null; }

# Presses Return in the next message box; fails when none comes or it stays.
answer_box() {
  local box="" _
  for _ in $(seq 200); do
    box=$(x search --onlyvisible --name '^Kwandor_Upd$' | head -n 1)
    [ -n "$box" ] && break
    kill -0 "$run_pid" 2>/dev/null || fail "the program ended before its message box"
    sleep 0.05
  done
  [ -n "$box" ] || fail "no message box"
  x windowfocus --sync "$box"
  x key --clearmodifiers Return
  # Until the box is gone: a box that stays means the key did not reach it.
  for _ in $(seq 100); do
    x search --onlyvisible --name '^Kwandor_Upd$' | grep -qx "$box" || return 0
    sleep 0.05
  done
  fail "Return did not answer the box"
}

WINEPREFIX="$prefix" timeout 120 "$program" </dev/null >"$work/run.log" 2>&1 &
run_pid=$!
answered=0
saw_window=0
deadline=$((SECONDS + 100))
while kill -0 "$run_pid" 2>/dev/null; do
  [ "$SECONDS" -lt "$deadline" ] || fail "the run did not end"
  if [ -n "$(x search --onlyvisible --name '^Anpassen der Telefonvorwahlen$')" ]; then
    saw_window=1
  fi
  if [ -n "$(x search --onlyvisible --name '^Kwandor_Upd$')" ]; then
    answer_box
    answered=$((answered + 1))
  fi
  sleep 0.05
done
wait "$run_pid"
status=$?
run_pid=""

[ "$status" = 0 ] || fail "the window run ended with status $status"
[ "$saw_window" = 1 ] || fail "the window never appeared"
[ "$answered" = 2 ] ||
  fail "answered $answered message boxes, expected the start question and one version message"
grep -q "Frage" "$work/run.log" && fail "the console answered under a display"

[ "$(sql "$data/Public/Public.mdb" "$plz_open")" = 0 ] || fail "Public.mdb still has rows with 01"
plz_new="SELECT count(*) FROM PLZSTM WHERE TELVOR = '044'"
[ "$(sql "$data/Public/Public.mdb" "$plz_new")" -ge "$plz_before" ] ||
  fail "Public.mdb: rows lost their area code"
[ "$(sql "$data/Public/Public.mdb" "PRAGMA integrity_check")" = ok ] || fail "Public.mdb is damaged"
[ "$(sql "$data/Mand01/NoltData.mdb" "$adr_open")" = 0 ] || fail "Mandant 01 not converted"
[ "$(sql "$data/Mand02/NoltData.mdb" "$adr_open")" -gt 0 ] ||
  fail "Mandant 02 (version 6.3) was changed"

# 3. Ctrl-C once the run is under way.
big="$work/big"
"$make_sample" "$big" --format sqlite --plz-rows 1000000 --clients 1 --rows-per-client 100 >/dev/null ||
  fail "make_sample"
db="$big/drive_d/Daten/Public/Public.mdb"
cp "$db" "$work/original.mdb"
# --foreground: timeout passes the signal on to the program once, not to the whole group as
# well (a second Ctrl-C ends the program at once, by design).
WINEPREFIX="$big" timeout --foreground 120 "$program" </dev/null >"$work/interrupted.log" 2>&1 &
run_pid=$!
answer_box
# Once the first rows are saved, however slow the build.
plz_done="SELECT count(*) FROM PLZSTM WHERE TELVOR = '044'"
done_before=$(sql "$db" "$plz_done")
for _ in $(seq 600); do
  now=$("$sqlite" -readonly -cmd ".timeout 2000" "$db" "$plz_done" 2>/dev/null) || now=""
  [ -n "$now" ] && [ "$now" -gt "$done_before" ] && break
  kill -0 "$run_pid" 2>/dev/null || break
  sleep 0.02
done
kill -INT "$run_pid"
wait "$run_pid"
status=$?
run_pid=""
[ "$status" = 130 ] || fail "Ctrl-C: status $status, expected 130"
[ ! -e "$db-journal" ] || fail "Ctrl-C: a journal was left behind"
[ "$(sql "$db" "PRAGMA integrity_check")" = ok ] || fail "Ctrl-C: Public.mdb is damaged"
read -r converted left misplaced changed < <(sql "$db" "
  ATTACH '$work/original.mdb' AS o;
  WITH m AS (SELECT q.rowid AS id, p.TELVOR AS now FROM o.PLZSTM q JOIN main.PLZSTM p
             ON p.rowid = q.rowid WHERE q.LAND = 'CH' AND q.TELVOR = '01')
  SELECT (SELECT count(*) FROM m WHERE now = '044'),
         (SELECT count(*) FROM m WHERE now = '01'),
         (SELECT count(*) FROM m
          WHERE now = '044' AND id > (SELECT min(id) FROM m WHERE now = '01')),
         (SELECT count(*) FROM o.PLZSTM q JOIN main.PLZSTM p ON p.rowid = q.rowid
          WHERE NOT (q.LAND = 'CH' AND q.TELVOR = '01')
            AND (p.LAND, p.PLZ, p.ORT, p.TELVOR) IS NOT (q.LAND, q.PLZ, q.ORT, q.TELVOR));" |
  tr '|' ' ')
[ "$converted" -gt 0 ] && [ "$left" -gt 0 ] ||
  fail "Ctrl-C: $converted rows converted, $left left: the run was not ended midway"
[ "$misplaced" = 0 ] || fail "Ctrl-C: the rows converted are not the first ones of the pass"
[ "$changed" = 0 ] || fail "Ctrl-C: $changed other rows changed"
echo "ok: window run converted the data, $answered boxes answered by Return;" \
  "Ctrl-C ended the next run after $converted of $((converted + left)) rows"
