#!/usr/bin/env bash
# Installs the Debian packages needed to build, try and test kwandor_upd, and
# the npm package that the tests use as a second reader of Jet files.
# Runs apt-get and npm only when something is missing. Further Debian
# packages may be named as arguments (scripts/windows.sh names its own).
set -euo pipefail
packages=(build-essential cmake ninja-build pkg-config libsqlite3-dev sqlite3
          googletest libgtest-dev libgmock-dev nlohmann-json3-dev qt6-base-dev
          qt6-translations-l10n xvfb xdotool x11-utils openbox mdbtools "$@")
# Node.js may come from elsewhere with its own npm; Debian's only when missing.
command -v node >/dev/null 2>&1 || packages+=(nodejs npm)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# mdb-reader, pinned by tools/readers/package-lock.json, into tools/readers/node_modules.
readers="$(dirname "$0")/../tools/readers"
if [ ! -f "$readers/node_modules/mdb-reader/package.json" ] \
   || [ "$readers/package-lock.json" -nt "$readers/node_modules/mdb-reader/package.json" ]; then
  (cd "$readers" && npm ci --no-audit --no-fund --loglevel=error)
fi
