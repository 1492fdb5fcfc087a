#!/usr/bin/env bash
# Installs what is missing, builds both architectures and runs every test under
# Wine, inside a virtual X display (the clipboard and message boxes need one):
# the 64-bit build's tests, then the 32-bit build's. Arguments go to CTest in
# both trees.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$root/build"
"$root/tools/build.sh"

status=0
for arch in x86_64 i686; do
    cd "$root/build/$arch"
    echo "Tests of the $arch build:"
    # Stop any Wine session left over in the test prefix.
    WINEPREFIX="$PWD/wineprefix" /usr/lib/wine/wineserver64 -k >/dev/null 2>&1 || true
    xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure --timeout 600 "$@" || status=$?
done
exit $status
