#!/usr/bin/env bash
# Builds kwandor_upd.exe for 64-bit Windows with MinGW-w64 (Release, linked
# statically), runs its tests under Wine through ctest, and the end-to-end
# checks: a sample installation converted by the exe in a Wine prefix,
# through its window under Xvfb, compared byte for byte with the Linux
# build's conversion and read with mdbtools and mdb-reader.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

# What the Linux side needs (make_sample, the Linux program, the readers),
# then the cross compiler, Wine with what its X11 driver loads and its fonts,
# and ImageMagick for the picture of the window.
scripts/install-deps.sh g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
  mingw-w64-tools wine64 fonts-wine libxrender1 libxrandr2 libxi6 libxcursor1 libxcomposite1 libxinerama1 \
  libxfixes3 imagemagick
wine64=$(dpkg -L wine64 | grep -m 1 '/wine64$')
wineserver=$(dpkg -L wine64 | grep -m 1 '/wineserver64$')
[ -x "$wine64" ] && [ -x "$wineserver" ] || { echo "windows.sh: no wine64 loader" >&2; exit 1; }

jobs=$(nproc)
# The Linux program and make_sample, in the build that scripts/test.sh makes.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs" --target kwandor_upd make_sample

# The Windows program and its tests.
cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-win -j "$jobs"

# A 32-bit program under a 64-bit-only Wine exits 0 without running
# anything: every program built here must be x86-64.
for exe in build-win/*.exe; do
  if ! x86_64-w64-mingw32-objdump -f "$exe" | grep -q 'architecture: i386:x86-64'; then
    echo "windows.sh: $exe is not an x86-64 program" >&2
    exit 1
  fi
done
echo "kwandor_upd.exe: $(stat -c %s build-win/kwandor_upd.exe) bytes; imports:" \
  $(x86_64-w64-mingw32-objdump -p build-win/kwandor_upd.exe | sed -n 's/.*DLL Name: //p')

# One Wine prefix for the tests, booted once (about 12 s); the end-to-end
# checks copy it.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
template="$root/build-win/wine-template"
if [ ! -f "$template/system.reg" ]; then
  rm -rf "$template"
  WINEPREFIX="$template" "$wine64" wineboot -i >/dev/null 2>&1
  WINEPREFIX="$template" "$wineserver" -w
fi
# A display for the tests, there before the prefix's desktop process starts:
# Wine's windows go to the display that process found (none: no window).
. tests/xvfb.sh
start_xvfb build-win || { echo "windows.sh: Xvfb did not start" >&2; exit 1; }
trap 'kill $xvfb_pid 2>/dev/null || true' EXIT
tests_prefix="$root/build-win/wine-tests"
rm -rf "$tests_prefix"
cp -a "$template" "$tests_prefix"
export WINEPREFIX="$tests_prefix"
"$wineserver" -p 60  # one server for all the tests
# The prefix's background services start now, with their output going
# nowhere: started by a test, they would hold its output open after it ends.
"$wine64" wineboot </dev/null >/dev/null 2>&1
KW_WINDOW_TESTS=1 ctest --test-dir build-win --output-on-failure --no-tests=error -j "$jobs"
"$wineserver" -k 2>/dev/null || true
kill $xvfb_pid 2>/dev/null || true
unset DISPLAY

WINE64="$wine64" WINESERVER="$wineserver" WINE_TEMPLATE="$template" tests/windows_e2e.sh \
  build-win/kwandor_upd.exe build/make_sample build/kwandor_upd
