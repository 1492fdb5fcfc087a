#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need, where missing.
# The 32-bit half of Wine (wine32, from the i386 architecture) makes every
# prefix a 64-bit one with both registry views, as on 64-bit Windows, and runs
# the 32-bit programs.
set -euo pipefail

packages=(
    cmake make
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
    mingw-w64-tools
    wine wine64 wine32:i386 libwine-dev
    googletest
    xvfb xauth
    python3-olefile
    wixl msitools osslsigncode openssl
)

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "Adding the i386 architecture (for the 32-bit Wine)"
    $sudo dpkg --add-architecture i386
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
