#!/usr/bin/env bash
# Mends a package that wixl 0.101 built: the per-user-or-machine root (HKMU),
# which wixl writes as the invalid root 4, becomes -1; then each statement of
# the given files (one a line) runs against the package, such as the key rows
# of the QuillmorphOLE fragment that wixl leaves out
# (QuillmorphOLE-components.wixl.sql, made beside the fragment).
#
#   mend-wixl-package.sh <package.msi> [<statements.sql>...]
set -euo pipefail
package=$1
shift
queries=(-q 'UPDATE `Registry` SET `Root` = -1 WHERE `Root` = 4')
for statements in "$@"; do
    while IFS= read -r line || [ -n "$line" ]; do
        [ -n "$line" ] && queries+=(-q "$line")
    done <"$statements"
done
msibuild "$package" "${queries[@]}"
