#!/usr/bin/env bash
# Runs every fuzz target (or those named) with libFuzzer, ASan and UBSan,
# growing a corpus per target in build/fuzz/corpus from the generated seeds.
# Crashes land in build/fuzz/findings (with the run's log in build/fuzz/logs);
# the executions of every run are added to build/fuzz/executions.tsv.
#   scripts/fuzz.sh [SECONDS] [TARGET...]          SECONDS per target (default 60)
#   scripts/fuzz.sh --total SECONDS [TARGET...]    SECONDS split evenly across the targets
# A total budget keeps a run's length fixed as targets are added (the suite
# gives fuzzing 420 s in all). TOLVANE_FUZZ_JOBS=N runs N processes per
# target side by side, sharing the corpus (default 1; use the number of
# cores for long sessions). A fuzzing process stopped with SIGINT reports and
# counts what it ran. TOLVANE_FUZZ_BUILD names another build folder than
# build/fuzz.
set -euo pipefail
cd "$(dirname "$0")/.."
total=""
seconds=60
if [ "${1:-}" = "--total" ]; then
    total="${2:?--total needs a number of seconds}"
    shift 2
elif [ $# -gt 0 ]; then
    seconds="$1"
    shift
fi
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(wave_or_raw wave_bank windows_bank stream_pair compressed_bank sound_bank decode_blocks play)
if [ -n "$total" ]; then
    seconds=$((total / ${#targets[@]}))
    [ "$seconds" -ge 1 ] || seconds=1
    echo "== fuzzing ${#targets[@]} targets in ${total}s: ${seconds}s each"
fi

out="${TOLVANE_FUZZ_BUILD:-build/fuzz}"
cmake --preset fuzz -B "$out" >/dev/null
cmake --build "$out" --target fuzz_all
"$out/fuzz/make_fuzz_corpus" "$out/seeds"
mkdir -p "$out/findings" "$out/logs"
# Every input is written to a file; a memory-backed folder keeps that fast.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then export TOLVANE_FUZZ_DIR=/dev/shm; fi

jobs="${TOLVANE_FUZZ_JOBS:-1}"
status=0
for target in "${targets[@]}"; do
    corpus="$out/corpus/$target"
    mkdir -p "$corpus"
    cp -n "$out/seeds/$target"/* "$corpus"/ 2>/dev/null || true
    echo "== $target: ${seconds}s x $jobs"
    pids=()
    for job in $(seq 1 "$jobs"); do
        "$out/fuzz/fuzz_$target" "$corpus" -dict=fuzz/tolvane.dict -max_total_time="$seconds" \
            -timeout=20 -print_final_stats=1 -artifact_prefix="$out/findings/$target-" \
            >"$out/logs/$target.$$.$job.log" 2>&1 &
        pids+=($!)
    done
    runs_total=0
    for job in $(seq 1 "$jobs"); do
        log="$out/logs/$target.$$.$job.log"
        failed=0
        wait "${pids[$((job - 1))]}" || failed=1
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
        runs_total=$((runs_total + ${runs:-0}))
        if [ $failed -eq 1 ] && grep -q "libFuzzer: run interrupted" "$log"; then
            echo "   job $job was interrupted; its executions count"
            rm -f "$log"
        elif [ $failed -eq 1 ]; then
            echo "FINDING in $target (log: $log):"; tail -n 40 "$log"; status=1
        else
            rm -f "$log"
        fi
    done
    echo "$target	$runs_total" >> "$out/executions.tsv"
    echo "   $runs_total executions ($((runs_total / seconds / jobs)) per second per job)"
done

echo "== executions so far, per target"
awk -F'\t' '{sum[$1] += $2} END {for (t in sum) printf "   %-16s %d\n", t, sum[t]}' "$out/executions.tsv" | sort
exit $status
