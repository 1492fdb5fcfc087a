#!/usr/bin/env bash
# Configures and builds the server for both architectures: build/x86_64 with
# its tests (they run under Wine) and build/i686 (the server and the
# demonstration programs, compiled only: the 32-bit test programs would have
# nothing to run them here).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/setup-debian.sh"

mkdir -p "$root/build"
jobs=$(nproc 2>/dev/null || echo 2)
for arch in x86_64 i686; do
    dir="$root/build/$arch"
    tests=ON
    [ "$arch" = i686 ] && tests=OFF
    cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLMORPH_BUILD_TESTS=$tests >"$root/build/configure-$arch.log" 2>&1 ||
        { cat "$root/build/configure-$arch.log"; exit 1; }
    cmake --build "$dir" -j "$jobs"
done
