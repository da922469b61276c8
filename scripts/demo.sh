#!/usr/bin/env bash
# Builds kwandor_upd, writes a sample installation and converts it with the
# console front end, answering the start question with Yes.
# Usage: scripts/demo.sh [prefix] [make_sample options...]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target kwandor_upd make_sample
prefix="${1:-$PWD/sample}"
shift || true
build/make_sample "$prefix" "$@"
status=0
echo "j" | env -u DISPLAY -u WAYLAND_DISPLAY WINEPREFIX="$prefix" build/kwandor_upd || status=$?
echo "kwandor_upd ended with status $status"
