#!/usr/bin/env bash
# Installs what is missing, builds both architectures and runs every test under
# Wine, inside a virtual X display (the clipboard and message boxes need one).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$root/build"
"$root/tools/build.sh"

cd "$root/build/x86_64"
# Stop any Wine session left over in the test prefix.
WINEPREFIX="$PWD/wineprefix" /usr/lib/wine/wineserver64 -k >/dev/null 2>&1 || true
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure --timeout 600 "$@"
