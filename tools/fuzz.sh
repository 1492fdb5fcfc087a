#!/usr/bin/env bash
# The long fuzzing run: builds like tools/test.sh, then runs the three fuzz
# programs (storage, automation, registry) under Wine with a larger budget.
#   tools/fuzz.sh            20000 iterations each
#   tools/fuzz.sh 50000      that many iterations each
#   tools/fuzz.sh 600s       each program for that many seconds
# QUILLMORPH_FUZZ_SEED=<number> runs with another seed than the fixed one.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
budget=${1:-20000}
mkdir -p "$root/build"
"$root/tools/build.sh"

cd "$root/build/x86_64"
unset QUILLMORPH_FUZZ_ITERATIONS QUILLMORPH_FUZZ_SECONDS
if [[ "$budget" =~ ^([0-9]+)s$ ]]; then
    export QUILLMORPH_FUZZ_SECONDS=${BASH_REMATCH[1]}
elif [[ "$budget" =~ ^[0-9]+$ ]]; then
    export QUILLMORPH_FUZZ_ITERATIONS=$budget
else
    echo "usage: tools/fuzz.sh [iterations | seconds followed by s]" >&2
    exit 2
fi
# Stop any Wine session left over in the test prefix. Each program runs through
# the same wrapper as its test (fresh session, virtual display), without the
# test's time-out; its output goes to a file, never a pipe.
WINEPREFIX="$PWD/wineprefix" /usr/lib/wine/wineserver64 -k >/dev/null 2>&1 || true
status=0
for program in storage automation registry documents; do
    log="$root/build/fuzz-$program.log"
    xvfb-run -a -s "-screen 0 1280x1024x24" ./wine-run.sh "bin/fuzz_${program}_test.exe" >"$log" 2>&1 || status=1
    grep -E "^fuzz $program: " "$log" || echo "fuzz $program: no report (see $log)"
    grep -qE '^\[  PASSED  \]' "$log" || status=1
done
exit $status
