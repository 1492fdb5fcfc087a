#!/usr/bin/env bash
# The demonstration: installs what is missing, builds, installs the server's
# Windows Installer package silently in a Wine prefix of its own, puts a small
# drawing application beside it, walks the road of one edit with a small
# container, runs the check program, and removes the package again.
# Leaves build/x86_64/demo/output/{demo-document.qmd,before.png,after.png}.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

if [ -z "${QUILLMORPH_DEMO_IN_DISPLAY:-}" ]; then
    "$root/tools/setup-debian.sh"
    mkdir -p "$root/build"
    cmake -S "$root" -B "$root/build/x86_64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$root/build/configure-x86_64.log" 2>&1 ||
        { cat "$root/build/configure-x86_64.log"; exit 1; }
    cmake --build "$root/build/x86_64" -j "$(nproc 2>/dev/null || echo 2)" \
        --target quillmorph_packages quillmorph_demo_editor quillmorph_demo_container >/dev/null
    # The clipboard needs an X display: run the rest inside a virtual one.
    export QUILLMORPH_DEMO_IN_DISPLAY=1
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

# The test suite runs the demonstration against its own build tree.
build="${QUILLMORPH_DEMO_BUILD_DIR:-$root/build/x86_64}"
bin="$build/bin"
demo="$build/demo"
out="$demo/output"
export WINEPREFIX="$demo/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64
mkdir -p "$demo" "$out"
rm -f "$out"/*

SECONDS=0
say() { printf '%s\n' "$*"; }

"$wineserver" -k >/dev/null 2>&1 || true
# A prefix booted before the 32-bit Wine was installed has no 32-bit half: make
# it again, where the machine runs Wine's 32-bit loader at all (a kernel without
# IA-32 emulation runs no 32-bit program, and no prefix gets that half there).
if [ -f "$WINEPREFIX/system.reg" ] && [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ] &&
    /usr/lib/wine/wine --version >/dev/null 2>&1; then
    say "The demonstration's Wine prefix predates the 32-bit Wine: creating it again"
    "$wineserver" -w >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    say "Creating the demonstration's Wine prefix in $WINEPREFIX (once) ..."
    "$wine" wineboot -i >/dev/null 2>&1 </dev/null
    "$wineserver" -w
fi

run() { # run <log> <program> <args...>: output through a file (Wine keeps pipes open)
    local log=$1; shift
    set +e
    "$wine" "$@" >"$log" 2>&1 </dev/null
    local rc=$?
    set -e
    return $rc
}
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# The server comes as an administrator deploys it: the 64-bit build's Windows
# Installer package, installed silently into the drawing application's folder.
package=$(ls "$build"/packages/QuillmorphOLE-*-x64.msi 2>/dev/null | head -n 1)
[ -n "$package" ] || { say "No package in $build/packages (is wixl installed?)"; exit 1; }
install_dir="$WINEPREFIX/drive_c/Program Files/Quillmorph Demo"
folder='C:\Program Files\Quillmorph Demo'
server="$folder\resources\QuillmorphOLE.exe"
# A product of ours that an interrupted run left installed goes first.
run "$demo/remove-before.log" msiexec /x "$(winpath "$package")" /qn || true
start=$SECONDS
rc=0
run "$demo/install.log" msiexec /i "$(winpath "$package")" /qn "INSTALLDIR=$folder" \
    /l*v "$(winpath "$demo/install-msi.log")" || rc=$?
say "Installed $(basename "$package") silently: msiexec /i ... /qn INSTALLDIR=\"$folder\" ended with exit code $rc ($((SECONDS - start)) s)"
[ $rc -eq 0 ] || exit 1
say "    the server is $server, registered by the package (no /RegServer)"
cp "$bin/quillmorph_demo_editor.exe" "$install_dir/Quillmorph.exe"
say "Installed the demonstration drawing application as $folder\\Quillmorph.exe"

find "$WINEPREFIX/drive_c/users" -name quillmorph-demo-editor.log -delete 2>/dev/null || true

say ""
say "The road of one edit, as a word processor walks it:"
status=0
run "$demo/container.log" "$bin/quillmorph_demo_container.exe" "Z:${out//\//\\}" || status=$?
cat "$demo/container.log"

editor_log=$(find "$WINEPREFIX/drive_c/users" -name quillmorph-demo-editor.log 2>/dev/null | head -n 1)
if [ -n "$editor_log" ]; then
    say ""
    say "The drawing application's log:"
    sed 's/^/    /' "$editor_log"
fi

# The check program, as a support person runs it beside the server, once the
# container's server has ended (Wine 8 refuses an activation during a server's
# last second).
for _ in $(seq 100); do pgrep -f 'Quillmorph Demo.resources.QuillmorphOLE' >/dev/null || break; sleep 0.1; done
say ""
say "The installation as the check program beside the server sees it (resources\\QuillmorphCheck.exe):"
rc=0
run "$demo/check.log" 'C:\Program Files\Quillmorph Demo\resources\QuillmorphCheck.exe' || rc=$?
tr -d '\r' <"$demo/check.log" | sed 's/^/    /'
say "QuillmorphCheck: exit code $rc"
[ $rc -eq 0 ] || status=1

rm -f "$install_dir/Quillmorph.exe"
rc=0
start=$SECONDS
run "$demo/remove.log" msiexec /x "$(winpath "$package")" /qn /l*v "$(winpath "$demo/remove-msi.log")" || rc=$?
say ""
say "Removed the package: msiexec /x ... /qn ended with exit code $rc ($((SECONDS - start)) s)"
[ $rc -eq 0 ] || status=1
"$wineserver" -w >/dev/null 2>&1 || true

# Nothing of the package is left: no key of ours in either registry view, no file.
left=()
for key in 'CLSID\{7A3E51C0-4B2D-4E8F-9C61-2D5B8F0A13E7}' 'CLSID\{3C94F2A8-6D1B-47E5-A0C3-95E2B7D4F168}' \
    'Interface\{D2F8A5B3-1E6C-4B97-8F40-3B7E9C1A6D52}' 'TypeLib\{9B6C2E14-F3A7-4D58-B1E0-6A4C8D2F7E95}' \
    QUILLMORPHOLE.QuillmorphOLE QUILLMORPHOLE.QuillmorphOLE.1 \
    QUILLMORPHOLE.QuillmorphEmbeddedObject QUILLMORPHOLE.QuillmorphEmbeddedObject.1; do
    for view in 64 32; do
        if run "$demo/query.log" reg query "HKLM\\Software\\Classes\\$key" "/reg:$view"; then
            left+=("HKLM\\Software\\Classes\\$key ($view-bit view)")
        fi
    done
done
for file in "$install_dir/resources/QuillmorphOLE.exe" "$install_dir/resources/QuillmorphCheck.exe"; do
    [ ! -e "$file" ] || left+=("$file")
done
if [ ${#left[@]} -eq 0 ]; then
    say "Nothing of the package is left: no class, ProgID, type library or interface entry in either registry view, no file in $folder\\resources"
else
    say "Left behind by the removal:"
    for item in "${left[@]}"; do say "    $item"; done
    status=1
fi

say ""
say "The demonstration's output:"
for f in demo-document.qmd before.png after.png; do
    if [ -f "$out/$f" ]; then
        say "    $out/$f ($(stat -c %s "$out/$f") bytes)"
    else
        say "    $out/$f MISSING"
        status=1
    fi
done
say "Demonstration finished in ${SECONDS} s: $([ $status -eq 0 ] && echo 'every step succeeded' || echo 'FAILED')"
exit $status
