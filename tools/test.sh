#!/usr/bin/env bash
# Installs what is missing, builds both architectures and runs every test under
# Wine, inside a virtual X display (the clipboard and message boxes need one).
# The two builds' tests run side by side, each tree in its own Wine prefix and
# X display: they spend most of their time waiting on Wine, not on the CPU.
# The 64-bit build's report shows as it runs, the 32-bit build's follows.
# Arguments go to CTest in both trees.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$root/build"
"$root/tools/build.sh"

# Runs one tree's tests; its X display is looked for from `display` upwards,
# so that the two displays are never the same.
run_tests() {
    local arch=$1 display=$2
    shift 2
    cd "$root/build/$arch"
    # Stop any Wine session left over in the test prefix.
    WINEPREFIX="$PWD/wineprefix" /usr/lib/wine/wineserver64 -k >/dev/null 2>&1 || true
    xvfb-run -a -n "$display" -s "-screen 0 1280x1024x24" ctest --output-on-failure --timeout 600 "$@"
}

i686_log="$root/build/test-i686.log"
# The 32-bit build's programs need Wine's 32-bit loader, which runs only where
# the kernel runs 32-bit programs: some virtual machines have IA-32 emulation
# switched off. There its tests cannot run, and the 64-bit tree's tests skip
# the cases that need a 32-bit program; both say so.
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    run_tests i686 140 "$@" >"$i686_log" 2>&1 &
    i686_pid=$!
else
    echo "NOT RUN: this machine runs no 32-bit programs (the kernel's IA-32 emulation is off), so Wine's" \
        "32-bit half cannot start; the i686 build was built but its tests were not run." >"$i686_log"
    i686_pid=
fi

status=0
echo "Tests of the x86_64 build:"
run_tests x86_64 99 "$@" || status=$?
i686_status=0
[ -z "$i686_pid" ] || wait "$i686_pid" || i686_status=$?
echo "Tests of the i686 build:"
cat "$i686_log"
[ "$status" -ne 0 ] || status=$i686_status
exit $status
