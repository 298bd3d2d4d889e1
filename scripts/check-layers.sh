#!/usr/bin/env bash
# Checks that the code's layers include only downwards: codec and platform
# below containers, containers below player, player below plugin. A source
# that includes a header from a layer above its own is reported.
set -euo pipefail
cd "$(dirname "$0")/.."

status=0
check() {
    local folder=$1
    shift
    for above in "$@"; do
        hits=$(grep -n "#include \"$above/" "$folder"/*.h "$folder"/*.cpp 2>/dev/null || true)
        if [ -n "$hits" ]; then
            echo "$folder/ must not include $above/:"
            echo "$hits"
            status=1
        fi
    done
}
check codec containers player plugin platform tools
check platform codec containers player plugin tools
check containers player plugin tools
check player plugin tools
check plugin tools
exit $status
