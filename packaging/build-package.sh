#!/usr/bin/env bash
# Builds one package of the server with wixl and mends what wixl 0.101 gets
# wrong or leaves out (see mend-wixl-package.sh).
#
#   build-package.sh <package.msi> <x64|x86> <version> <program files folder id>
#                    <folder of the programs, relative to here> <product.wxs> <fragment.wxs>
#                    [<statements.sql>...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
package=$1 arch=$2 version=$3 folder=$4 bin=$5 product=$6 fragment=$7
shift 7
bits=64
[ "$arch" = x64 ] || bits=32

log=$(mktemp)
trap 'rm -f "$log"' EXIT
rm -f "$package"
status=0
wixl -a "$arch" -D Version="$version" -D Bits="$bits" -D ProgramFilesFolder="$folder" \
    -D QuillmorphBinDir="$bin" -o "$package" "$product" "$fragment" 2>"$log" || status=$?
# wixl warns of the standard attributes it does not know; the key rows they
# make are put in below.
grep -v -e "has no property named 'ForceCreateOnInstall'" -e "has no property named 'ForceDeleteOnUninstall'" \
    -e '^$' "$log" >&2 || true
[ "$status" -eq 0 ] && [ -f "$package" ] || { echo "wixl could not build $package" >&2; exit 1; }
"$here/mend-wixl-package.sh" "$package" "$@"
