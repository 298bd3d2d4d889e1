#!/usr/bin/env bash
# Checks that the code's layers depend only downwards: codec and platform
# below containers, containers below player, player below plugin, and the
# tools above them all. A source that includes a header from a layer above
# its own is reported, and so is a lower layer that names the plug-in's
# module record or a message of the player's: the engine and the readers
# reach the player only through what the plug-in hands them.
#
# Usage: check-layers.sh [ROOT]   (ROOT: the project folder, by default this one)
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

status=0
report() {
    echo "$1"
    echo "$2"
    status=1
}
check() {
    local folder=$1
    shift
    for above in "$@"; do
        hits=$(grep -n "#include \"$above/" "$folder"/*.h "$folder"/*.cpp 2>/dev/null || true)
        [ -z "$hits" ] || report "$folder/ must not include $above/:" "$hits"
    done
}
check_names() {
    local folder=$1
    hits=$(grep -nE "plugin_module|HOST_MSG_" "$folder"/*.h "$folder"/*.cpp 2>/dev/null || true)
    [ -z "$hits" ] || report "$folder/ must not name the module record or the player's messages:" "$hits"
}
check codec containers player plugin platform tools
check platform codec containers player plugin tools host
check host codec containers player plugin tools
check containers player plugin tools
check player plugin tools host
check plugin tools
for folder in codec platform containers player; do check_names "$folder"; done
exit $status
