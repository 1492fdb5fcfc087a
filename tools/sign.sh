#!/usr/bin/env bash
# Signs the server, the check program and the Windows Installer packages with
# the certificate the user gives (Debian's osslsigncode, SHA-256):
#   QUILLMORPH_SIGN_PFX            the certificate and its private key, a PKCS#12 (.pfx) file
#   QUILLMORPH_SIGN_PASSWORD       its password
#   QUILLMORPH_SIGN_TIMESTAMP_URL  optional: an RFC 3161 time-stamp server; a
#                                  time-stamped signature stays valid after the
#                                  certificate expires
#
#   tools/sign.sh            the programs of both builds (build/x86_64, build/i686),
#                            the packages made again around the signed programs,
#                            then the packages in build/packages
#   tools/sign.sh FILE...    the given files (.exe, .msi), each in place
#
# The password reaches osslsigncode through a pipe, not its command line.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

pfx=${QUILLMORPH_SIGN_PFX:-}
password=${QUILLMORPH_SIGN_PASSWORD:-}
timestamp=${QUILLMORPH_SIGN_TIMESTAMP_URL:-}
if [ -z "$pfx" ] || [ ! -f "$pfx" ]; then
    echo "sign.sh: set QUILLMORPH_SIGN_PFX to the certificate (.pfx) to sign with" >&2
    exit 2
fi
command -v osslsigncode >/dev/null || { echo "sign.sh: osslsigncode is missing (tools/setup-debian.sh)" >&2; exit 2; }

sign() {
    local file=$1
    local signing="$file.signing"
    local stamp=()
    [ -z "$timestamp" ] || stamp=(-ts "$timestamp")
    rm -f "$signing"
    if ! osslsigncode sign -pkcs12 "$pfx" -readpass <(printf '%s' "$password") -n "QuillmorphOLE" \
        -h sha256 "${stamp[@]}" -in "$file" -out "$signing" >"$signing.log" 2>&1; then
        cat "$signing.log" >&2
        rm -f "$signing" "$signing.log"
        echo "sign.sh: $file could not be signed" >&2
        return 1
    fi
    rm -f "$signing.log"
    mv "$signing" "$file"
    echo "Signed $file"
}

if [ $# -gt 0 ]; then
    for file in "$@"; do sign "$file"; done
    exit 0
fi

signed=0
for arch in x86_64 i686; do
    build="$root/build/$arch"
    [ -f "$build/bin/QuillmorphOLE.exe" ] || continue
    sign "$build/bin/QuillmorphOLE.exe"
    sign "$build/bin/QuillmorphCheck.exe"
    # The packages carry the programs: made again, they carry the signed ones.
    cmake --build "$build" --target quillmorph_packages >/dev/null
    for package in "$build"/packages/QuillmorphOLE-*.msi; do sign "$package"; done
    signed=1
done
[ "$signed" -eq 1 ] || { echo "sign.sh: nothing built to sign (tools/build.sh first)" >&2; exit 1; }
if [ -d "$root/build/packages" ]; then
    for arch in x86_64 i686; do
        [ -d "$root/build/$arch/packages" ] || continue
        cp "$root/build/$arch"/packages/QuillmorphOLE-*.msi "$root/build/packages/"
    done
fi
