#!/usr/bin/env bash
# Times `tolvane render` against ffmpeg's decoder on the same Xbox ADPCM
# WAVE, in the same run: a 64 MiB stereo file (and a 4 MiB one, to show that
# tolvane's peak memory does not grow with the file). Best of three runs
# each; prints the times, the ratio ffmpeg/tolvane and the peak memory
# (maximum resident set) of both. Needs ffmpeg and GNU time:
#   apt-get install ffmpeg time
#   bench/render.sh [MIB]
set -euo pipefail
cd "$(dirname "$0")/.."
mib="${1:-64}"
runs=3

for tool in ffmpeg /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "bench/render.sh needs $tool (apt-get install ffmpeg time)"; exit 1; }
done
cmake --preset linux >/dev/null
cmake --build --preset linux --target tolvane in_tolvane bench_make_wave >/dev/null
bin=build/linux/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Prints "SECONDS PEAK_KB" for the best of $runs runs of the command.
best_of() {
    local best="" peak=0
    for _ in $(seq "$runs"); do
        /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>"$work/err" ||
            { echo "failed: $*" >&2; cat "$work/err" >&2; exit 1; }
        read -r seconds kb <"$work/time"
        if [ -z "$best" ] || awk -v a="$seconds" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$seconds; fi
        [ "$kb" -gt "$peak" ] && peak=$kb
    done
    echo "$best $peak"
}

build/linux/bench/bench_make_wave "$work/big.wav" "$mib" 2
build/linux/bench/bench_make_wave "$work/small.wav" 4 2
echo "file: $mib MiB stereo Xbox ADPCM WAVE ($(stat -c %s "$work/big.wav") bytes)"

read -r tolvane_s tolvane_kb < <(best_of "$bin/tolvane" render "$work/big.wav" -o /dev/null --format raw)
read -r ffmpeg_s ffmpeg_kb < <(best_of ffmpeg -v error -i "$work/big.wav" -f s16le -y /dev/null)
read -r _ tolvane_small_kb < <(best_of "$bin/tolvane" render "$work/small.wav" -o /dev/null --format raw)
read -r _ ffmpeg_small_kb < <(best_of ffmpeg -v error -i "$work/small.wav" -f s16le -y /dev/null)

printf 'tolvane render: %6.2f s   peak %6d KB (4 MiB file: %6d KB)\n' "$tolvane_s" "$tolvane_kb" "$tolvane_small_kb"
printf 'ffmpeg decode:  %6.2f s   peak %6d KB (4 MiB file: %6d KB)\n' "$ffmpeg_s" "$ffmpeg_kb" "$ffmpeg_small_kb"
awk -v f="$ffmpeg_s" -v t="$tolvane_s" 'BEGIN {
    if (t > 0) printf "ratio ffmpeg/tolvane: %.1f (target >= 10)\n", f / t
    else print "ratio ffmpeg/tolvane: tolvane too fast to time at this size"
}'
