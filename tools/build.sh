#!/usr/bin/env bash
# Configures and builds the server for both architectures, each with its
# tests: build/x86_64 with every test program, build/i686 with the ones that
# drive the server from outside (as processes, containers and clients of 32-bit
# Windows meet it). Each tree's pairing test uses the other tree's server and
# test drawing application.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/setup-debian.sh"

mkdir -p "$root/build"
jobs=$(nproc 2>/dev/null || echo 2)
for arch in x86_64 i686; do
    dir="$root/build/$arch"
    other=i686
    outside_only=OFF
    load_config_tool=""
    if [ "$arch" = i686 ]; then
        other=x86_64
        outside_only=ON
        # The 64-bit build of the post-link tool patches 32-bit images too, and
        # runs on machines that run no 32-bit programs.
        load_config_tool="$root/build/x86_64/bin/quillmorph_load_config_directory.exe"
    fi
    cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLMORPH_BUILD_TESTS=ON \
        -DQUILLMORPH_OUTSIDE_TESTS_ONLY=$outside_only \
        -DQUILLMORPH_PAIRED_BUILD_DIR="$root/build/$other" \
        -DQUILLMORPH_LOAD_CONFIG_TOOL="$load_config_tool" >"$root/build/configure-$arch.log" 2>&1 ||
        { cat "$root/build/configure-$arch.log"; exit 1; }
    cmake --build "$dir" -j "$jobs"
done
