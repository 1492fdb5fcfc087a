#!/usr/bin/env bash
# The long soak: builds as tools/test.sh does, then runs the soak program with
# the long counts (2,000 storage cycles and 1,000 full edits against one running
# server each, then the same edits against the minimal server for the platform's
# share) under Wine in the test prefix, inside a virtual X display.
#   tools/soak.sh [cycles] [edits]
# QUILLMORPH_BUILD_DIR names an already built tree to use instead (no build).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ -z "${QUILLMORPH_BUILD_DIR:-}" ]; then
    mkdir -p "$root/build"
    "$root/tools/build.sh"
fi
build=${QUILLMORPH_BUILD_DIR:-$root/build/x86_64}

export QUILLMORPH_SOAK_CYCLES=${1:-2000}
export QUILLMORPH_SOAK_EDITS=${2:-1000}
cd "$build"
start=$(date +%s)
# The wrapper runs the program in a fresh Wine session and prints its output
# when it ends (output into a pipe could be held open by Wine's processes).
status=0
xvfb-run -a -s "-screen 0 1280x1024x24" ./wine-run.sh bin/faults_soak_test.exe >"$build/soak.log" 2>&1 || status=$?
cat "$build/soak.log"
echo "soak: $QUILLMORPH_SOAK_CYCLES cycles, $QUILLMORPH_SOAK_EDITS edits, $(($(date +%s) - start)) s, exit $status (log: $build/soak.log)"
exit $status
