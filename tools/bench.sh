#!/usr/bin/env bash
# Installs what is missing, builds like tools/test.sh, then runs the benchmarks
# under Wine in the build tree's prefix, inside a virtual X display, and prints
# their results as a Markdown table. Arguments go to the benchmark program
# (--quick: tiny sizes, only to see that everything runs).
#
# QUILLMORPH_BENCH_BUILD=<folder> builds and runs in that 64-bit build folder
# instead (configured here if needed), so that a run does not share a Wine
# prefix with tests running in build/x86_64.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$root/build"

if [ -n "${QUILLMORPH_BENCH_BUILD:-}" ]; then
    build=$QUILLMORPH_BENCH_BUILD
    "$root/tools/setup-debian.sh"
    cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$root/build/configure-bench.log" 2>&1 ||
        { cat "$root/build/configure-bench.log"; exit 1; }
    cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)"
else
    "$root/tools/build.sh"
    build=$root/build/x86_64
fi

cd "$build"
# Stop any Wine session left over in the prefix.
WINEPREFIX="$PWD/wineprefix" /usr/lib/wine/wineserver64 -k >/dev/null 2>&1 || true
echo "Benchmarks on $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg), $(date -u '+%Y-%m-%d %H:%M UTC')"
xvfb-run -a -s "-screen 0 1280x1024x24" ./wine-run.sh bin/quillmorph_bench.exe "$@"
