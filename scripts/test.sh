#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds everything with
# warnings as errors, then builds and runs every test natively, under
# AddressSanitizer/UBSan and ThreadSanitizer, and as 32-bit Windows code
# under Wine; checks that the Windows tolvane renders exactly what the native
# one does; last, fuzzes every target within one time budget
# (TOLVANE_FUZZ_BUDGET seconds in all, default 420, split evenly; or
# TOLVANE_FUZZ_SECONDS per target).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
echo "== werror =="
cmake --preset werror
cmake --build --preset werror
for preset in linux asan tsan win32; do
    echo "== $preset =="
    cmake --preset "$preset"
    cmake --build --preset "$preset"
    ctest --preset "$preset" -j 2
done
echo "== native and Windows renders agree =="
scripts/compare-renders.sh
echo "== fuzzing =="
if [ -n "${TOLVANE_FUZZ_SECONDS:-}" ]; then
    scripts/fuzz.sh "$TOLVANE_FUZZ_SECONDS"
else
    scripts/fuzz.sh --total "${TOLVANE_FUZZ_BUDGET:-420}"
fi
