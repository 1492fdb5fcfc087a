#!/usr/bin/env bash
# The demonstration: installs what is missing, builds, installs the server in a
# Wine prefix of its own beside a small drawing application, registers it,
# walks the road of one edit with a small container, and unregisters it.
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
        --target QuillmorphOLE QuillmorphCheck quillmorph_demo_editor quillmorph_demo_container >/dev/null
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

install_dir="$WINEPREFIX/drive_c/Program Files/Quillmorph Demo"
mkdir -p "$install_dir/resources"
cp "$bin/QuillmorphOLE.exe" "$install_dir/resources/QuillmorphOLE.exe"
cp "$bin/QuillmorphCheck.exe" "$install_dir/resources/QuillmorphCheck.exe"
cp "$bin/quillmorph_demo_editor.exe" "$install_dir/Quillmorph.exe"
server='C:\Program Files\Quillmorph Demo\resources\QuillmorphOLE.exe'
say "Installed the server as $server"
say "Installed the demonstration drawing application as C:\\Program Files\\Quillmorph Demo\\Quillmorph.exe"

run() { # run <log> <program> <args...>: output through a file (Wine keeps pipes open)
    local log=$1; shift
    set +e
    "$wine" "$@" >"$log" 2>&1 </dev/null
    local rc=$?
    set -e
    return $rc
}

rc=0
# Wine 8 does not merge HKEY_CURRENT_USER\Software\Classes into the classes its
# component runtime reads, so a per-user registration cannot start the server
# there; on Windows /RegServerPerUser serves as well. The demonstration
# registers machine-wide inside its own prefix.
run "$demo/register.log" "$server" /RegServer || rc=$?
say "Registered with /RegServer: exit code $rc"
[ $rc -eq 0 ] || exit 1

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

rc=0
run "$demo/unregister.log" "$server" /UnregServer || rc=$?
say ""
say "Unregistered with /UnregServer: exit code $rc"
[ $rc -eq 0 ] || status=1
"$wineserver" -w >/dev/null 2>&1 || true

say ""
say "Left behind:"
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
