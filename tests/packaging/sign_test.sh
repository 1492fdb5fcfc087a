#!/usr/bin/env bash
# tools/sign.sh with a throwaway certificate: copies of the server, the check
# program and the package are signed, and each signature verifies against the
# certificate (osslsigncode verify), while an unsigned program does not. The
# signed server is left in <build>/packaging/signed for package_test, which
# registers it and lets it serve under Wine.
#
#   sign_test.sh <source folder> <build folder>
set -euo pipefail
source=$1
build=$2
out="$build/packaging/signed"
rm -rf "$out"
mkdir -p "$out"
cd "$out"

openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out certificate.pem -days 2 \
    -subj "/CN=QuillmorphOLE throwaway test certificate" >/dev/null 2>&1
openssl pkcs12 -export -inkey key.pem -in certificate.pem -out certificate.pfx -passout pass:throwaway-password
package=$(ls "$build"/packages/QuillmorphOLE-*.msi | head -n 1)
cp "$build/bin/QuillmorphOLE.exe" "$build/bin/QuillmorphCheck.exe" "$package" .

QUILLMORPH_SIGN_PFX="$out/certificate.pfx" QUILLMORPH_SIGN_PASSWORD=throwaway-password \
    "$source/tools/sign.sh" QuillmorphOLE.exe QuillmorphCheck.exe "$(basename "$package")"

status=0
for file in QuillmorphOLE.exe QuillmorphCheck.exe "$(basename "$package")"; do
    if osslsigncode verify -CAfile certificate.pem -in "$file" >verify.log 2>&1 &&
        grep -q '^Signature verification: ok' verify.log; then
        echo "verified: $file"
    else
        echo "NOT VERIFIED: $file"
        cat verify.log
        status=1
    fi
done
# The verification can fail: the unsigned program does not pass it.
if osslsigncode verify -CAfile certificate.pem -in "$build/bin/QuillmorphCheck.exe" >/dev/null 2>&1; then
    echo "an unsigned program passed the verification"
    status=1
fi
# A wrong password signs nothing and says so.
cp "$build/bin/QuillmorphCheck.exe" wrong-password.exe
if QUILLMORPH_SIGN_PFX="$out/certificate.pfx" QUILLMORPH_SIGN_PASSWORD=wrong \
    "$source/tools/sign.sh" wrong-password.exe >/dev/null 2>&1; then
    echo "a wrong password was accepted"
    status=1
fi
cmp -s wrong-password.exe "$build/bin/QuillmorphCheck.exe" || { echo "a failed signing changed the file"; status=1; }
rm -f key.pem wrong-password.exe verify.log
exit $status
