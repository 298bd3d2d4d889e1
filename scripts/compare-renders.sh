#!/usr/bin/env bash
# Renders the same generated files with the native tolvane and with
# tolvane.exe + in_tolvane.dll under Wine, and checks the outputs are
# byte-identical. Needs the linux and win32 builds.
set -euo pipefail
cd "$(dirname "$0")/.."
native=build/linux/bin/tolvane
windows=build/win32/bin/tolvane.exe
work=build/compare-renders
rm -rf "$work"
mkdir -p "$work"

# The demo's first tune, rendered (a device that does not exist makes the
# demo render instead of play) and encoded again by our encoder into an Xbox
# ADPCM WAVE.
"$native" demo -o "$work" --device tolvane-no-such-device >/dev/null
"$native" encode "$work/tolvane-demo-01.wav" "$work/demo.wav" >/dev/null
# Raw data: the same bytes with no header.
tail -c +49 "$work/demo.wav" > "$work/demo.dat"

status=0
for input in demo.wav demo.dat; do
    for format in raw wav; do
        "$native" render -q "$work/$input" -o "$work/$input.native.$format" --format "$format"
        scripts/wine-run.sh "$windows" render -q "$work/$input" -o "$work/$input.windows.$format" --format "$format"
        if cmp -s "$work/$input.native.$format" "$work/$input.windows.$format"; then
            echo "same $format render of $input"
        else
            echo "DIFFERENT $format render of $input"; status=1
        fi
    done
    # From inside the folder, so both see the same name (Windows titles split
    # at backslashes only).
    if diff <(cd "$work" && "../../$native" info "$input") \
            <(cd "$work" && ../../scripts/wine-run.sh "../../$windows" info "$input" | tr -d '\r'); then
        echo "same info for $input"
    else
        echo "DIFFERENT info for $input"; status=1
    fi
done
exit $status
