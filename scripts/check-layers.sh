#!/usr/bin/env bash
# Checks that the code's layers depend only downwards: codec and platform
# below containers, containers below player, player below plugin, and the
# tools above them all. A source that includes a header from a layer above
# its own is reported, and so is a lower layer that names the plug-in's
# module record or a message of the player's: the engine and the readers
# reach the player only through what the plug-in hands them.
# The writers sit beside the readers in a library of their own, which the
# plug-in never links and whose headers the engine never includes; the tool
# holds no writer or encoder of its own, and keeps its parts in folders.
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

writer_headers='containers/(container_writer|wave_bank_writer|stream_pair_writer|compressed_bank_writer|riff_wave_writer|output_file)\.h|codec/xbox_adpcm_encoder\.h'
for folder in player plugin; do
    hits=$(grep -nE "#include \"($writer_headers)\"" "$folder"/*.h "$folder"/*.cpp 2>/dev/null || true)
    [ -z "$hits" ] || report "$folder/ must not include a writer:" "$hits"
done
if [ -f CMakeLists.txt ]; then
    hits=$(grep -nE "target_link_libraries\((in_tolvane|tolvane_plugin|tolvane_player|tolvane_containers|tolvane_codec)\b[^)]*tolvane_authoring" CMakeLists.txt || true)
    [ -z "$hits" ] || report "the plug-in must not link the writers:" "$hits"
    hits=$(sed -n '/^add_library(tolvane_containers/,/^)/p' CMakeLists.txt | grep -nE "_writer\.cpp|output_file\.cpp" || true)
    [ -z "$hits" ] || report "the readers' library must not hold a writer:" "$hits"
fi
if [ -d tools ]; then
    hits=$(find tools -name '*.cpp' -o -name '*.h' | grep -E "writer|bank_builder|encoder" || true)
    [ -z "$hits" ] || report "tools/ must hold no writer or encoder; they belong beside the readers:" "$hits"
fi
if [ -d tools/tolvane ]; then
    top=$(find tools/tolvane -maxdepth 1 -name '*.cpp' -o -maxdepth 1 -name '*.h' | wc -l)
    [ "$top" -le 12 ] || report "tools/tolvane/ holds $top sources at its top; at most 12, the rest in its folders:" \
        "$(find tools/tolvane -maxdepth 1 -name '*.cpp' -o -maxdepth 1 -name '*.h')"
fi
exit $status
