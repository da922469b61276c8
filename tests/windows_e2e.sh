#!/usr/bin/env bash
# kwandor_upd.exe as a user runs it, in Wine prefixes made by wineboot, each
# with the product's registry value set through Wine (reg add ... /reg:32)
# and a sample installation on drive D:, always through its window under
# Xvfb, the message boxes answered by key presses:
#  1. Yes, then Return for the older client's message: the run ends by itself
#     with status 0, and every database is byte for byte what the Linux
#     build's conversion of the same installation gives; mdbtools and
#     mdb-reader read them, and no Swiss "01" is left where it should not be;
#  2. a second run changes no byte;
#  3. No changes nothing;
#  4. the data directory given as a UNC path (\\srv\share\Daten\) converts alike;
#  5. closing the window while the general database is converted ends the run
#     with status 130, the file sound; a later run converts the rest, and the
#     file is then what one clean Linux run makes. A picture of the window is
#     taken during that run (SHOT, default build-win/window-windows.png).
# Usage: windows_e2e.sh KWANDOR_UPD_EXE MAKE_SAMPLE LINUX_KWANDOR_UPD
# WINE64 (the loader), WINESERVER and WINE_TEMPLATE (a prefix booted by
# wineboot, copied for each run) come from the environment.
set -uo pipefail
. "$(dirname "$0")/xvfb.sh"

exe=$(realpath "$1")
make_sample=$(realpath "$2")
linux_program=$(realpath "$3")
wine64=${WINE64:?}
wineserver=${WINESERVER:?}
template=${WINE_TEMPLATE:?}
root=$(cd "$(dirname "$0")/.." && pwd)
shot=${SHOT:-$root/build-win/window-windows.png}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8

work=$(mktemp -d "${TMPDIR:-/tmp}/kw_win_e2e.XXXXXX")
xvfb_pid=""
run_pid=""
cleanup() {
  if [ -n "$run_pid" ]; then kill -KILL "$run_pid" 2>/dev/null; wait "$run_pid" 2>/dev/null; fi
  for p in "$work"/*/; do
    [ -f "$p/system.reg" ] && WINEPREFIX="$p" "$wineserver" -k 2>/dev/null
  done
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

dbs=(Public/Public.mdb Mand01/NoltData.mdb Mand02/NoltData.mdb Mand03/NoltData.mdb)

# --- The display ------------------------------------------------------------
start_xvfb "$work" || fail "Xvfb did not start"
x() { timeout 10 xdotool "$@" 2>/dev/null; }

# --- Installations ------------------------------------------------------------
# A Wine prefix NAME with the sample SAMPLE on drive D: and the registry value
# NoltDataDir (default D:\Daten\) set as the product's installer sets it.
new_prefix() {
  local name=$1 sample=$2 datadir=${3:-'D:\Daten\'}
  local p="$work/$name"
  cp -a "$template" "$p"
  cp -a "$sample/drive_d" "$p/drive_d"
  ln -sfn ../drive_d "$p/dosdevices/d:"
  WINEPREFIX="$p" "$wine64" reg add 'HKLM\Software\Nolt\Orbica-Kontor 5\Settings' \
    /v NoltDataDir /t REG_SZ /d "$datadir" /reg:32 /f >/dev/null 2>&1 || fail "reg add in $name"
  # Wine draws the windows' title bars itself: there is no window manager.
  WINEPREFIX="$p" "$wine64" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f \
    >/dev/null 2>&1 || fail "reg add in $name"
  echo "$p"
}

# The same installation converted by the Linux build, on the console.
linux_convert() {
  local sample=$1 out=$2
  cp -a "$sample" "$out"
  env -u DISPLAY -u WAYLAND_DISPLAY WINEPREFIX="$out" timeout 300 "$linux_program" \
    <<<$'j\n\n\n\n\n\n\n\n' >"$out.log" 2>&1 || fail "the Linux build's conversion ended with $?"
}

# --- One run of the exe -----------------------------------------------------
# Runs the exe in PREFIX and answers its message boxes with the KEYS given, in
# order (a box beyond them fails the run); sets `status`, `boxes` and
# `saw_window`. With AFTER_YES=command, the command runs once the first box
# is answered.
run_exe() {
  local prefix=$1
  shift
  local keys=("$@") box="" deadline=$((SECONDS + 240))
  boxes=0
  saw_window=0
  (cd "$prefix/drive_c/users/Public" && WINEPREFIX="$prefix" exec "$wine64" "$exe") \
    >"$prefix.log" 2>&1 </dev/null &
  run_pid=$!
  while kill -0 "$run_pid" 2>/dev/null; do
    [ "$SECONDS" -lt "$deadline" ] || fail "the run in $prefix did not end"
    [ -n "$(x search --onlyvisible --name '^Anpassen der Telefonvorwahlen$')" ] && saw_window=1
    box=$(x search --onlyvisible --name '^Kwandor_Upd$' | head -n 1)
    if [ -n "$box" ]; then
      [ "$boxes" -lt "${#keys[@]}" ] || fail "an unexpected message box (the $((boxes + 1))th)"
      sleep 0.2  # drawn and ready for input
      x windowactivate --sync "$box" || x windowfocus --sync "$box"
      x key --clearmodifiers "${keys[$boxes]}"
      for _ in $(seq 100); do
        x search --onlyvisible --name '^Kwandor_Upd$' | grep -qx "$box" || break
        sleep 0.05
      done
      x search --onlyvisible --name '^Kwandor_Upd$' | grep -qx "$box" && fail "the key did not answer the box"
      boxes=$((boxes + 1))
      if [ "$boxes" = 1 ] && [ -n "${AFTER_YES:-}" ]; then eval "$AFTER_YES"; fi
    fi
    sleep 0.05
  done
  wait "$run_pid"
  status=$?
  run_pid=""
}

same_dbs() {  # same_dbs DIR_A DIR_B: every database byte for byte
  local d
  for d in "${dbs[@]}"; do
    cmp -s "$1/drive_d/Daten/$d" "$2/drive_d/Daten/$d" || { echo "$d differs"; return 1; }
  done
}

# Both readers read the file; prints the rows that still have a Swiss "01"
# in an area-code column.
read_back() {
  local file=$1 table=$2
  [ "$(mdb-ver "$file")" = JET4 ] || fail "mdb-ver does not read $file as JET4"
  mdb-export "$file" "$table" >/dev/null || fail "mdb-export cannot read $table of $file"
  node "$root/tools/readers/read_mdb.mjs" "$file" | node -e '
    const t = JSON.parse(require("fs").readFileSync(0)).tables.find((t) => t.name === process.argv[1]);
    const col = (n) => t.columns.findIndex((c) => c.name === n);
    const land = col("LAND"), codes = ["TELVOR", "FAXVOR"].map(col).filter((i) => i >= 0);
    console.log(t.rows.filter((r) => r[land] === "CH" && codes.some((i) => r[i] === "01")).length);
  ' "$table" || fail "mdb-reader cannot read $table of $file"
}

# --- 1. to 4. ---------------------------------------------------------------
"$make_sample" "$work/sample" --plz-rows 3000 --clients 3 --rows-per-client 400 >/dev/null || fail "make_sample"
linux_convert "$work/sample" "$work/linux"

p1=$(new_prefix run1 "$work/sample") || exit 1
run_exe "$p1" Return Return
[ "$status" = 0 ] || fail "1: status $status"
[ "$saw_window" = 1 ] || fail "1: the window never appeared"
[ "$boxes" = 2 ] || fail "1: $boxes boxes answered, expected the start question and one version message"
same_dbs "$p1" "$work/linux" || fail "1: not what the Linux build's conversion gives"
same_dbs "$p1" "$work/sample" >/dev/null && fail "1: nothing was converted"
[ "$(read_back "$p1/drive_d/Daten/Public/Public.mdb" PLZSTM)" = 0 ] || fail "1: Public.mdb keeps a Swiss 01"
[ "$(read_back "$p1/drive_d/Daten/Mand01/NoltData.mdb" ADRSTM)" = 0 ] || fail "1: Mand01 keeps a Swiss 01"
[ "$(read_back "$p1/drive_d/Daten/Mand02/NoltData.mdb" ADRSTM)" -gt 0 ] || fail "1: Mand02 (version 6.3) changed"
cp -a "$p1/drive_d" "$work/after1"
echo "ok 1: converted through the window, equal to the Linux build's conversion, read by both readers"

run_exe "$p1" Return Return
[ "$status" = 0 ] || fail "2: status $status"
for d in "${dbs[@]}"; do
  cmp -s "$p1/drive_d/Daten/$d" "$work/after1/Daten/$d" || fail "2: the second run changed $d"
done
echo "ok 2: a second run changed no byte"

p3=$(new_prefix decline "$work/sample") || exit 1
run_exe "$p3" n
[ "$status" = 0 ] || fail "3: status $status"
[ "$boxes" = 1 ] || fail "3: $boxes boxes"
same_dbs "$p3" "$work/sample" || fail "3: No changed data"
echo "ok 3: No changed nothing"

p4=$(new_prefix unc "$work/sample" '\\srv\share\Daten\') || exit 1
mkdir -p "$p4/dosdevices/unc/srv"
ln -sfn ../../../drive_d "$p4/dosdevices/unc/srv/share"
run_exe "$p4" Return Return
[ "$status" = 0 ] || fail "4: status $status"
same_dbs "$p4" "$work/linux" || fail "4: the UNC data directory did not convert alike"
echo "ok 4: a UNC data directory converted alike"

# --- 5. Closing the window during the run -----------------------------------
# Enough rows that the run is still converting when the window is closed.
"$make_sample" "$work/big" --plz-rows 1500000 --clients 0 >/dev/null || fail "make_sample"
linux_convert "$work/big" "$work/big_linux"
p5=$(new_prefix close "$work/big") || exit 1
big_db="drive_d/Daten/Public/Public.mdb"
# Once rows are being converted (the file changes), the picture, then the close.
AFTER_YES='
  for _ in $(seq 400); do cmp -s "$p5/$big_db" "$work/big/$big_db" || break; sleep 0.02; done
  sleep 0.3
  import -window root "$shot" && convert "$shot" -trim +repage "$shot" || fail "5: no picture"
  x key --window "$(x search --onlyvisible --name "^Anpassen der Telefonvorwahlen$" | head -n 1)" alt+F4
'
run_exe "$p5" Return
unset AFTER_YES
width=$(identify -format %w "$shot")
[ "$width" -ge 303 ] && [ "$width" -le 400 ] || fail "5: the picture is $width pixels wide, not the window"
[ "$status" = 130 ] || fail "5: closing the window gave status $status, expected 130"
[ ! -e "$p5/$big_db-journal" ] || fail "5: a journal was left behind"
left=$(read_back "$p5/$big_db" PLZSTM)
total=$(read_back "$work/big/$big_db" PLZSTM)
[ "$left" -gt 0 ] && [ "$left" -lt "$total" ] || fail "5: $left of $total rows left: not ended midway"
run_exe "$p5" Return
[ "$status" = 0 ] || fail "5: the later run ended with $status"
cmp -s "$p5/$big_db" "$work/big_linux/$big_db" || fail "5: the later run did not give what one clean run gives"
echo "ok 5: closing the window ended the run with 130 after $((total - left)) of $total rows; the next run converted the rest"
echo "windows_e2e: all passed; picture of the window in $shot"
